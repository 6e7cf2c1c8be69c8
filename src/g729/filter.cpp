// G.729 convolution and the shared correlation helpers of the pitch and
// codebook code.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "filter_internal.h"
#include "pitch_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g729 {

void convolve40(const int16_t* x, const int16_t* h, int16_t* y) {
  for (int n = 0; n < 40; ++n) {
    MacChain c;
    for (int i = 0; i <= n; ++i) c.mac(x[i], h[n - i]);
    Word32 s = c.value();
    if (c.spilled()) {
      s = 0;
      for (int i = 0; i <= n; ++i) s = L_mac(s, x[i], h[n - i]);
    }
    y[n] = extract_h(L_shl(s, 3));
  }
}

void predictLt3(int16_t* exc, int t0, int frac, int len) {
  const int16_t* x0 = exc - t0;
  frac = -frac;
  if (frac < 0) {
    frac += 3;
    --x0;
  }
  const int16_t* c1 = &kInterpExc[frac];
  const int16_t* c2 = &kInterpExc[3 - frac];
  // Without saturation anywhere in the chains (bounded by the largest input
  // magnitude times the taps' magnitude sum) the sums are plain 32-bit ones.
  // When the delay is short the window reaches samples written by this
  // call; each generation can grow by the taps' gain (below 1.82), and a
  // delay of 18 or more allows three generations, so the bound takes 8x.
  int maxAbs = 0;
  for (int i = -9; i < len + 10; ++i) {
    int v = x0[i] < 0 ? -x0[i] : x0[i];
    if (v > maxAbs) maxAbs = v;
  }
  int64_t tapSum = 0;
  for (int k = 0; k < 30; k += 3) tapSum += (c1[k] < 0 ? -c1[k] : c1[k]) + (c2[k] < 0 ? -c2[k] : c2[k]);
  const int64_t growth = t0 < len + 10 ? 8 : 1;
  if (t0 >= 18 && 2 * maxAbs * growth * tapSum < 0x7FFF0000LL) {
    int16_t tap1[10], tap2[10];
    for (int i = 0; i < 10; ++i) {
      tap1[i] = c1[3 * i];
      tap2[i] = c2[3 * i];
    }
    for (int j = 0; j < len; ++j) {
      const int16_t* x1 = x0 + j;
      int32_t s = 0;
      for (int i = 0; i < 10; ++i) s += int32_t{x1[-i]} * tap1[i] + int32_t{x1[1 + i]} * tap2[i];
      exc[j] = round_fx(2 * s);
    }
    return;
  }
  for (int j = 0; j < len; ++j) {
    const int16_t* x1 = x0++;
    const int16_t* x2 = x0;
    Word32 s = 0;
    for (int i = 0, k = 0; i < 10; ++i, k += 3) {
      s = L_mac(s, x1[-i], c1[k]);
      s = L_mac(s, x2[i], c2[k]);
    }
    exc[j] = round_fx(s);
  }
}

int16_t interpol3(const int16_t* x, int frac) {
  if (frac < 0) {
    frac += 3;
    --x;
  }
  const int16_t* c1 = &kInterpCorr[frac];
  const int16_t* c2 = &kInterpCorr[3 - frac];
  Word32 s = 0;
  for (int i = 0, k = 0; i < 4; ++i, k += 3) {
    s = L_mac(s, x[-i], c1[k]);
    s = L_mac(s, x[1 + i], c2[k]);
  }
  return round_fx(s);
}

int32_t dotProduct(const int16_t* a, const int16_t* b, int len) {
  MacChain c;
  for (int i = 0; i < len; ++i) c.mac(a[i], b[i]);
  if (!c.spilled()) return c.value();
  Word32 s = 0;
  for (int i = 0; i < len; ++i) s = L_mac(s, a[i], b[i]);
  return s;
}

int16_t pitchGain(const int16_t* xn, const int16_t* y1, int16_t* coeff) {
  int16_t scaled[40];
  for (int i = 0; i < 40; ++i) scaled[i] = shr(y1[i], 2);
  bool ovf = false;
  Word32 s = 1;
  for (int i = 0; i < 40; ++i) s = L_mac_o(s, y1[i], y1[i], ovf);
  Word16 expYY, yy, expXY, xy;
  if (!ovf) {
    expYY = norm_l(s);
    yy = round_fx(L_shl(s, expYY));
  } else {
    s = 1;
    for (int i = 0; i < 40; ++i) s = L_mac(s, scaled[i], scaled[i]);
    expYY = norm_l(s);
    yy = round_fx(L_shl(s, expYY));
    expYY = sub(expYY, 4);
  }
  ovf = false;
  s = 0;
  for (int i = 0; i < 40; ++i) s = L_mac_o(s, xn[i], y1[i], ovf);
  if (!ovf) {
    expXY = norm_l(s);
    xy = round_fx(L_shl(s, expXY));
  } else {
    s = 0;
    for (int i = 0; i < 40; ++i) s = L_mac(s, xn[i], scaled[i]);
    expXY = norm_l(s);
    xy = round_fx(L_shl(s, expXY));
    expXY = sub(expXY, 2);
  }
  if (coeff) {
    coeff[0] = yy;
    coeff[1] = sub(15, expYY);
    coeff[2] = xy;
    coeff[3] = sub(15, expXY);
  }
  if (xy <= 0) {
    if (coeff) coeff[3] = -15;
    return 0;
  }
  xy = shr(xy, 1);
  Word16 gain = div_s(xy, yy);
  gain = shr(gain, sub(expXY, expYY));
  if (gain > 19661) gain = 19661;
  return gain;
}

void targetCorrelation(const int16_t* h, const int16_t* x, int16_t* dn) {
  Word32 y32[40];
  Word32 mx = 0;
  for (int i = 0; i < 40; ++i) {
    Word32 s = dotProduct(x + i, h, 40 - i);
    y32[i] = s;
    s = L_abs(s);
    if (L_sub(s, mx) > 0) mx = s;
  }
  Word16 j = norm_l(mx);
  if (j > 16) j = 16;
  j = sub(18, j);
  for (int i = 0; i < 40; ++i) dn[i] = extract_l(L_shr(y32[i], j));
}

}  // namespace voksc::g729
