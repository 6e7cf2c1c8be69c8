// G.729 filters: high-pass pre/post-processing, synthesis and residual
// filters, convolution and the shared correlation helpers.
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

bool synthesis(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int16_t* mem, bool update) {
  constexpr int kMax = 30;
  int16_t buf[kMax + 640];
  int16_t* yy = buf + order;
  std::memcpy(buf, mem, static_cast<size_t>(order) * sizeof(int16_t));
  // Every past output is a 16-bit value: when the largest possible sum fits
  // 31 bits the accumulation cannot saturate and runs in plain 32 bits.
  int maxX = 0;
  for (int i = 0; i < len; ++i) maxX = std::max(maxX, std::abs(int{x[i]}));
  int64_t poles = 0;
  for (int j = 1; j <= order; ++j) poles += std::abs(int{a[j]});
  const bool plain = 2 * (int64_t{maxX} * std::abs(int{a[0]}) + 32768 * poles) < 0x7FFFFFFF;
  bool ovf = false;
  for (int i = 0; i < len; ++i) {
    Word32 s;
    if (plain) {
      int32_t acc = int32_t{x[i]} * a[0];
      for (int j = 1; j <= order; ++j) acc -= int32_t{a[j]} * yy[i - j];
      s = 2 * acc;
    } else {
      MacChain c;
      c.mac(x[i], a[0]);
      for (int j = 1; j <= order; ++j) c.msu(a[j], yy[i - j]);
      if (!c.spilled()) {
        s = c.value();
      } else {
        s = L_mult_o(x[i], a[0], ovf);
        for (int j = 1; j <= order; ++j) s = L_msu_o(s, a[j], yy[i - j], ovf);
      }
    }
    s = L_shl_o(s, 3, ovf);
    // The reference's round adds 0x8000 with saturation, which also flags.
    if (s >= 0x7FFF8000) ovf = true;
    yy[i] = round_fx(s);
  }
  std::memcpy(y, yy, static_cast<size_t>(len) * sizeof(int16_t));
  if (update) std::memcpy(mem, yy + len - order, static_cast<size_t>(order) * sizeof(int16_t));
  return ovf;
}

void residual10(const int16_t* a, const int16_t* x, int16_t* y, int len) {
  for (int i = 0; i < len; ++i) {
    MacChain c;
    c.mac(x[i], a[0]);
    for (int j = 1; j <= 10; ++j) c.mac(a[j], x[i - j]);
    Word32 s = c.value();
    if (c.spilled()) {
      s = L_mult(x[i], a[0]);
      for (int j = 1; j <= 10; ++j) s = L_mac(s, a[j], x[i - j]);
    }
    y[i] = round_fx(L_shl(s, 3));
  }
}

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

using namespace voksc::g729;

namespace {

// High-pass state: coefficients, two past inputs, two past outputs (split).
struct HighPassState {
  int16_t a[3], b[3];
  int16_t x1, x2;
  int16_t y1h, y1l, y2h, y2l;
};
static_assert(sizeof(HighPassState) == 24, "high-pass state size");

}  // namespace

VOKSC_EXPORT VokResult voksHighPassFilterSize_G729(int* size) {
  if (!size) return vokErrNullPtr;
  *size = 24;
  return vokOk;
}

VOKSC_EXPORT VokResult voksHighPassFilterInit_G729(const Vok16s* coeffs, void* state) {
  if (anyNull(coeffs, static_cast<const char*>(state))) return vokErrNullPtr;
  HighPassState s{};
  for (int i = 0; i < 3; ++i) {
    s.a[i] = coeffs[i];
    s.b[i] = coeffs[3 + i];
  }
  std::memcpy(state, &s, sizeof s);
  return vokOk;
}

// Second-order section of the pre-processing (coefficients Q12) and
// post-processing (Q13) filters; the output is the rounded upper word.
VOKSC_EXPORT VokResult voksHighPassFilter_G729_16s_ISfs(Vok16s* x, int len, int q, void* state) {
  if (anyNull(x, static_cast<const char*>(state))) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (q != 12 && q != 13) return vokErrScale;
  HighPassState s;
  std::memcpy(&s, state, sizeof s);
  // Q12 (pre-processing): the stored output is acc << 3 and the sample its
  // rounded upper word; Q13 (post-processing): stored acc << 2, sample
  // rounded from one more doubling.
  for (int i = 0; i < len; ++i) {
    Word16 in = x[i];
    Word32 t = voksc::vokMpy32x16(s.y1h, s.y1l, s.a[1]);
    t = L_add(t, voksc::vokMpy32x16(s.y2h, s.y2l, s.a[2]));
    t = L_mac(t, in, s.b[0]);
    t = L_mac(t, s.x1, s.b[1]);
    t = L_mac(t, s.x2, s.b[2]);
    if (q == 12) {
      t = L_shl(t, 3);
      x[i] = round_fx(t);
    } else {
      t = L_shl(t, 2);
      x[i] = round_fx(L_shl(t, 1));
    }
    s.y2h = s.y1h;
    s.y2l = s.y1l;
    L_Extract(t, s.y1h, s.y1l);
    s.x2 = s.x1;
    s.x1 = in;
  }
  std::memcpy(state, &s, sizeof s);
  return vokOk;
}

VOKSC_EXPORT VokResult voksSynthesisFilter_G729E_16s(const Vok16s* a, int order, const Vok16s* x, Vok16s* y, int len,
                                                     Vok16s* mem) {
  if (anyNull(a, x, y)) return vokErrNullPtr;
  if (len < 1 || order < 1) return vokErrSize;
  if (order > 30 || len > 640) return vokErrSize;
  int16_t zero[30] = {};
  bool ovf = synthesis(a, order, x, y, len, mem ? mem : zero, mem != nullptr);
  return ovf ? vokWrnOverflow : vokOk;
}

VOKSC_EXPORT VokResult voksSynthesisFilter_G729E_16s_I(const Vok16s* a, int order, Vok16s* x, int len, Vok16s* mem) {
  return voksSynthesisFilter_G729E_16s(a, order, x, x, len, mem);
}

VOKSC_EXPORT VokResult voksResidualFilter_G729_16s(const Vok16s* x, const Vok16s* a, Vok16s* y) {
  if (anyNull(x, a, y)) return vokErrNullPtr;
  residual10(a, x, y, 40);
  return vokOk;
}
