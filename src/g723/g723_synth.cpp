// G.723.1 decoder side: adaptive-codebook vector, synthesis filter, pitch
// post-filter estimate, tilt compensation and gain control.
#include <cstring>

#include "core/status.h"
#include "g723_internal.h"
#include "g723_tables.h"

namespace voksc::g723 {
namespace {

using namespace op;

// Five-tap excitation rows for lag L: row i (i = 0..64) is the past
// excitation at offset i - 2 relative to one period back, repeated with
// period L for the part of the subframe closer than one period.
void periodicHistory(const Word16* prevExc, int lag, Word16* rows) {
  for (int i = 0; i < 2; ++i) rows[i] = prevExc[kMaxLag - lag - 2 + i];
  for (int i = 0; i < kSubframe + 2; ++i) rows[2 + i] = prevExc[kMaxLag - lag + i % lag];
}

// Sum of x[n] * y[n] over a subframe, doubled and saturated step by step.
Word32 dot60(const Word16* x, const Word16* y) {
  Word32 acc = 0;
  for (int n = 0; n < kSubframe; ++n) acc = L_mac(acc, x[n], y[n]);
  return acc;
}

// Integer square root by bit trials: the largest r (even bits from 2^14
// down to 2^1) with 2 r^2 <= num.
Word16 rootByTrials(Word32 num) {
  Word16 r = 0;
  for (Word16 bit = 0x4000; bit >= 2; bit = static_cast<Word16>(bit >> 1)) {
    const Word16 t = add(r, bit);
    if (num >= L_mult(t, t)) r = t;
  }
  return r;
}

struct PostFilterChoice {
  Word16 lag = 0, gain = 0, scale = kMax16;
};

// Gain and scale of a chosen delay from the normalised energy `e0` of the
// subframe, its correlation `c` with the delayed signal and that signal's
// energy `e1`.
PostFilterChoice postFilterGain(Word16 lag, Word16 e0, Word16 c, Word16 e1, Word16 weight) {
  PostFilterChoice p;
  p.lag = lag;
  Word16 gain = 0, scale = kMax16;
  if (L_mult(c, c) > L_shr(L_mult(e0, e1), 2)) {
    gain = c >= e1 ? weight : mult(div_s(c, e1), weight);
    // Energy of the filtered subframe relative to the unfiltered one.
    Word32 acc = L_mac(L_shr(L_deposit_h(e0), 1), c, gain);
    acc = L_add(acc, L_shr(L_mult(e1, mult(gain, gain)), 1));
    const Word16 filtered = round_fx(acc);
    const Word32 half = L_shr(L_deposit_h(e0), 1);
    const Word16 ratio = half >= L_deposit_h(filtered) ? kMax16 : op::div_l(half, filtered);
    scale = rootByTrials(L_deposit_h(ratio));
  }
  p.gain = mult(gain, scale);
  p.scale = scale;
  return p;
}

}  // namespace
}  // namespace voksc::g723

using namespace voksc::g723;
using voksc::anyNull;
namespace op = voksc::op;

VOKSC_EXPORT VokResult voksDecodeAdaptiveVector_G723_16s(Vok16s baseLag, Vok16s lagIndex, Vok16s gainIndex,
                                                         const Vok16s* prevExc, Vok16s* dst, VokRateCode rateCode) {
  if (anyNull(prevExc, dst)) return vokErrNullPtr;
  if (static_cast<uint16_t>(lagIndex) > 3 || baseLag < kMinLag || baseLag + lagIndex > kMaxLag - 1 ||
      static_cast<uint16_t>(gainIndex) >= 170)
    return vokErrIndex;
  if (rateCode != vokRateG723_53 && rateCode != vokRateG723_63) return vokErrRange;
  const bool small = rateCode == vokRateG723_63 && baseLag < kSubframe - 2;
  if (small && gainIndex >= 85) return vokErrIndex;
  Word16 rows[kSubframe + 4];
  periodicHistory(prevExc, baseLag - 1 + lagIndex, rows);
  const int16_t* g = (small ? kPitchGains85 : kPitchGains170) + 20 * gainIndex;
  for (int n = 0; n < kSubframe; ++n) {
    Word32 acc = 0;
    for (int t = 0; t < 5; ++t) acc = op::L_mac(acc, rows[n + t], g[t]);
    dst[n] = op::round_fx(op::L_shl(acc, 1));
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksSynthesisFilter_G723_16s(const Vok16s* lpc, const Vok16s* exc, Vok16s* mem, Vok16s* dst) {
  if (anyNull(lpc, exc, mem, dst)) return vokErrNullPtr;
  Word16 past[kOrder];
  std::memcpy(past, mem, sizeof past);
  for (int n = 0; n < kSubframe; ++n) {
    Word32 acc = op::L_shr(op::L_deposit_h(exc[n]), 3);
    for (int j = 0; j < kOrder; ++j) acc = op::L_mac(acc, lpc[j], past[j]);
    for (int j = kOrder - 1; j > 0; --j) past[j] = past[j - 1];
    past[0] = op::round_fx(op::L_shl(acc, 2));
    dst[n] = past[0];
  }
  std::memcpy(mem, past, sizeof past);
  return vokOk;
}

VOKSC_EXPORT VokResult voksSynthesisFilter_G723_16s32s(const Vok16s* lpc, const Vok16s* src, Vok32s* dst, Vok16s* mem) {
  if (anyNull(lpc, src, dst, mem)) return vokErrNullPtr;
  Word16 past[kOrder];
  std::memcpy(past, mem, sizeof past);
  for (int n = 0; n < kSubframe; ++n) {
    Word32 acc = op::L_shr(op::L_deposit_h(src[n]), 3);
    for (int j = 0; j < kOrder; ++j) acc = op::L_mac(acc, lpc[j], past[j]);
    for (int j = kOrder - 1; j > 0; --j) past[j] = past[j - 1];
    past[0] = op::round_fx(op::L_shl(acc, 2));
    dst[n] = acc;
  }
  std::memcpy(mem, past, sizeof past);
  return vokOk;
}

VOKSC_EXPORT VokResult voksPitchPostFilter_G723_16s(Vok16s lag, const Vok16s* exc, Vok16s* lagOut, Vok16s* gainOut,
                                                    Vok16s* scaleOut, Vok16s subframe, VokRateCode rateCode) {
  if (anyNull(exc, lagOut, gainOut, scaleOut)) return vokErrNullPtr;
  if ((rateCode != vokRateG723_53 && rateCode != vokRateG723_63) || subframe < 0 || subframe >= 4 ||
      lag < kMinLag || lag > kMaxLag)
    return vokErrRange;
  const Vok16s* cur = exc + kSubframe * subframe;
  const int centre = lag > kMaxLag - 3 ? kMaxLag - 3 : lag;
  // Best positive correlation with the past (delays centre-3..centre+3) and
  // with the samples ahead still inside the frame.
  Word32 bestBack = 0, bestFwd = 0;
  int back = 0, fwd = 0;
  for (int d = centre - 3; d <= centre + 3; ++d) {
    const Word32 cb = dot60(cur, cur - d);
    if (cb > bestBack) bestBack = cb, back = d;
    if (kSubframe * subframe + kSubframe + d <= kFrame) {
      const Word32 cf = dot60(cur, cur + d);
      if (cf > bestFwd) bestFwd = cf, fwd = d;
    }
  }
  PostFilterChoice p;
  if (back != 0 || fwd != 0) {
    Word32 terms[5] = {dot60(cur, cur), 0, 0, 0, 0};
    if (back) terms[1] = bestBack, terms[2] = dot60(cur - back, cur - back);
    if (fwd) terms[3] = bestFwd, terms[4] = dot60(cur + fwd, cur + fwd);
    Word32 peak = 0;
    for (Word32 t : terms)
      if (t > peak) peak = t;
    const Word16 norm = op::norm_l(peak);
    Word16 s[5];
    for (int i = 0; i < 5; ++i) s[i] = op::extract_h(op::L_shl(terms[i], norm));
    const Word16 weight = kPitchPostGain[rateCode == vokRateG723_63 ? 0 : 1];
    bool useBack = back != 0;
    if (back && fwd) useBack = op::L_mult(op::mult_r(s[1], s[1]), s[4]) > op::L_mult(op::mult_r(s[3], s[3]), s[2]);
    p = useBack ? postFilterGain(static_cast<Word16>(-back), s[0], s[1], s[2], weight)
                : postFilterGain(static_cast<Word16>(fwd), s[0], s[3], s[4], weight);
  }
  *lagOut = p.lag;
  *gainOut = p.gain;
  *scaleOut = p.scale;
  return vokOk;
}

VOKSC_EXPORT VokResult voksTiltCompensation_G723_32s16s(Vok16s k, const Vok32s* src, Vok16s* dst) {
  if (anyNull(src, dst)) return vokErrNullPtr;
  // First-order compensation with the previous output rounded to 16 bits;
  // src[-1] is the last sample of the previous subframe.
  for (int n = 0; n < kSubframe; ++n) dst[n] = op::round_fx(op::L_mac(src[n], op::round_fx(src[n - 1]), k));
  return vokOk;
}

VOKSC_EXPORT VokResult voksGainControl_G723_16s_I(Vok32s energy, Vok16s* srcDst, Vok16s* gain) {
  if (anyNull(srcDst, gain)) return vokErrNullPtr;
  if (energy < 0) return vokErrBadArg;
  Word32 filtered = 0;
  for (int n = 0; n < kSubframe; ++n) {
    const Word16 q = op::shr(srcDst[n], 2);
    filtered = op::L_mac(filtered, q, q);
  }
  Word16 target = 0x1000;
  if (filtered != 0 && energy != 0) {
    const Word16 nf = op::norm_l(filtered), ne = op::norm_l(energy);
    const Word32 f = op::L_shl(filtered, nf);
    const Word32 e = op::L_shr(op::L_shl(energy, ne), 1);
    Word16 shift = op::sub(6, op::add(op::sub(nf, ne), 1));
    if (shift < 0) shift = 0;
    target = rootByTrials(op::L_shr(op::L_deposit_h(op::div_l(e, op::extract_h(f))), shift));
  }
  // Smoothing with factor 1/16 per sample; the gain is applied as
  // g (1 + 1/16) in Q12.
  Word16 g = *gain;
  for (int n = 0; n < kSubframe; ++n) {
    g = op::round_fx(op::L_mac(op::L_msu(op::L_deposit_h(g), g, 0x0800), target, 0x0800));
    const Word16 factor = op::add(g, op::shr(g, 4));
    srcDst[n] = op::round_fx(op::L_shl(op::L_mult(srcDst[n], factor), 4));
  }
  *gain = g;
  return vokOk;
}
