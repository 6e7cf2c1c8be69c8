// GSM-AMR adaptive post-filter: formant filter A(z/g3) / A(z/g4), tilt
// compensation from the first correlation of its impulse response, and
// automatic gain control towards the energy of the unfiltered synthesis.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "amr_internal.h"
#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "pst_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amr {
namespace {

constexpr int kImpLen = 22;
constexpr int16_t kTiltFactor = 26214;  // 0.8
constexpr int16_t kAgcFactor = 29491;   // 0.9

void weight(const int16_t* a, const int16_t* g, int16_t* ap) {
  ap[0] = a[0];
  for (int i = 1; i <= kOrder; ++i) ap[i] = round_fx(L_mult(a[i], g[i - 1]));
}

// The doubled sum of squares with the chain's saturation (positive terms).
int32_t sumSquares(const int16_t* x, int n, int down) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) {
    const int32_t v = x[i] >> down;
    s += v * v;
  }
  s *= 2;
  return s > kMax32 ? kMax32 : static_cast<int32_t>(s);
}

// Subframe energy for the gain control: the doubled sum of squares / 16,
// or, when that sum saturates, the doubled sum of squares of x / 4.
int32_t agcEnergy(const int16_t* x) {
  const int32_t s = sumSquares(x, kSubframe, 0);
  return s == kMax32 ? sumSquares(x, kSubframe, 2) : s >> 4;
}

// Scales out towards the energy of ref: gain[n] = 0.9 gain[n-1] + 0.1
// sqrt(E_ref / E_out), kept in pastGain.
void gainControl(const int16_t* ref, int16_t* out, int16_t* pastGain) {
  int32_t s = agcEnergy(out);
  if (s == 0) {
    *pastGain = 0;
    return;
  }
  int16_t e = static_cast<int16_t>(norm_l(s) - 1);
  const int16_t gOut = round_fx(L_shl(s, e));
  s = agcEnergy(ref);
  int16_t g0 = 0;
  if (s != 0) {
    const int16_t n = norm_l(s);
    const int16_t gIn = round_fx(L_shl(s, n));
    e = static_cast<int16_t>(e - n);
    int32_t ratio = L_shr(L_shl(L_deposit_l(div_s(gOut, gIn)), 7), e);
    g0 = mult(round_fx(L_shl(vokInvSqrt(ratio), 9)), sub(32767, kAgcFactor));
  }
  // The gain's recursion first; then each output is extract_h(L_shl(L_mult(
  // out, g), 3)), which is out g >> 12 limited to a word (the product of two
  // words fits 32 bits, the 32-bit limits' high words are the word limits, and
  // L_mult's own limit at -32768 squared lands on 32767 as the word limit
  // does), a loop free of branches that runs in vector lanes.
  int16_t g = *pastGain, gs[kSubframe];
  for (int n = 0; n < kSubframe; ++n) gs[n] = g = add(mult(g, kAgcFactor), g0);
  for (int n = 0; n < kSubframe; ++n)
    out[n] = static_cast<int16_t>(std::clamp((int32_t{out[n]} * gs[n]) >> 12, -32768, 32767));
  *pastGain = g;
}

}  // namespace
}  // namespace voksc::amr

using namespace voksc::amr;

VOKSC_EXPORT VokResult voksPostFilter_GSMAMR_16s(const Vok16s* aq, const Vok16s* syn, Vok16s* tiltMem,
                                                Vok16s* pastGain, Vok16s* inMem, Vok16s* synMem, Vok16s* out,
                                                VokRateCode rate) {
  if (anyNull(aq, syn, tiltMem, pastGain, inMem, synMem, out)) return vokErrNullPtr;
  const int mode = modeOfRate(rate, true);
  if (mode < 0) return vokErrRange;
  const bool wide = mode == kMr102 || mode == kMr122;
  const int16_t* gNum = wide ? kPstNum122 : kPstNum;
  const int16_t* gDen = wide ? kPstDen122 : kPstDen;
  int16_t in[kOrder + kFrame], res[kSubframe], y[kFrame], mem[kOrder], tilt = *tiltMem, gain = *pastGain;
  std::memcpy(in, inMem, kOrder * sizeof(int16_t));
  std::memcpy(in + kOrder, syn, kFrame * sizeof(int16_t));
  std::memcpy(mem, synMem, sizeof mem);
  for (int sf = 0; sf < 4; ++sf) {
    int16_t num[kOrder + 1], den[kOrder + 1], h[kImpLen] = {};
    weight(aq + 11 * sf, gNum, num);
    weight(aq + 11 * sf, gDen, den);
    const int16_t* x = in + kOrder + kSubframe * sf;
    lpResidual(num, x, res, kSubframe);
    // Tilt of the formant filter from its impulse response.
    std::memcpy(h, num, sizeof num);
    const int16_t zero[kOrder] = {};
    lpSynthesis(den, h, h, kImpLen, zero, nullptr);
    const int16_t r0 = extract_h(sumSquares(h, kImpLen, 0));
    MacChain c;
    for (int i = 0; i < kImpLen - 1; ++i) c.mac(h[i], h[i + 1]);
    int32_t r1v = c.value();
    if (c.spilled()) {
      r1v = 0;
      for (int i = 0; i < kImpLen - 1; ++i) r1v = L_mac(r1v, h[i], h[i + 1]);
    }
    const int16_t r1 = extract_h(r1v);
    const int16_t k = r1 <= 0 ? 0 : div_s(mult(r1, kTiltFactor), r0);
    // res[n] - k res[n-1] on the old words; k >= 0 (div_s gives no negative
    // quotient), so mult(k, r) is the plain k r >> 15 and only sub's limit
    // remains, taken as a clamp: a loop free of branches, run in vector lanes.
    int16_t before[kSubframe];
    before[0] = tilt;
    std::memcpy(before + 1, res, (kSubframe - 1) * sizeof(int16_t));
    tilt = res[kSubframe - 1];
    for (int n = 0; n < kSubframe; ++n)
      res[n] = static_cast<int16_t>(std::clamp(res[n] - ((int32_t{k} * before[n]) >> 15), -32768, 32767));
    int16_t* o = y + kSubframe * sf;
    lpSynthesis(den, res, o, kSubframe, mem, mem);
    gainControl(x, o, &gain);
  }
  std::memcpy(out, y, sizeof y);
  std::memcpy(inMem, syn + kFrame - kOrder, kOrder * sizeof(int16_t));
  std::memcpy(synMem, mem, sizeof mem);
  *tiltMem = tilt;
  *pastGain = gain;
  return vokOk;
}
