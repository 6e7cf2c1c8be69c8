// G.729 short-term post-filter, tilt compensation (G.729, Annex A, and the
// factor-driven filter Annex E uses) and the adaptive gain controls
// (G.729, Annex A, float).
#include <cmath>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/cpu.h"
#include "core/status.h"
#include "filt_internal.h"
#include "pst_internal.h"

using namespace voksc::op;
using namespace voksc::g729;
using voksc::anyNull;

namespace {

constexpr int kSubfr = 40;
constexpr int kImpulse = 20;          // G.729 impulse response length
constexpr int kImpulseA = 22;         // Annex A
constexpr Word16 kGammaDen = 22938;   // 0.7
constexpr Word16 kGammaNum = 18022;   // 0.55
constexpr Word16 kAgcFactor = 32358;  // 0.9875
constexpr Word16 kAgcFactorA = 29491; // 0.9 (Annex A)

// The negated first reflection coefficient of h (Q15) from its
// autocorrelation at lags 0 and 1 (normalised, upper words).
Word16 firstReflection(const int16_t* h, int len) {
  Word32 acc = 0;
  for (int i = 0; i < len; ++i) acc = L_mac(acc, h[i], h[i]);
  const Word16 sh = norm_l(acc);
  const Word16 r0 = extract_h(L_shl(acc, sh));
  acc = 0;
  for (int i = 0; i < len - 1; ++i) acc = L_mac(acc, h[i], h[i + 1]);
  const Word16 r1 = extract_h(L_shl(acc, sh));
  if (r0 < abs_s(r1)) return 0;
  const Word16 k = div_s(abs_s(r1), r0);
  return r1 > 0 ? negate(k) : k;
}

// y[n] = (x[n] + mu x[n-1]) / (1 - |mu|), mu = 0.2 k for k > 0, 0.9 k
// otherwise; x[-1] is the sample before the signal.  y may equal x.
void tiltFilter(Word16 k, const int16_t* x, int16_t* y) {
  Word16 mu, fact, shFact;
  if (k > 0) {
    mu = mult_r(k, 6554);
    shFact = 15;
    fact = 0x4000;
  } else {
    mu = mult_r(k, 29491);
    shFact = 12;
    fact = 0x0800;
  }
  const Word16 ga = div_s(fact, add(32767, sub(1, abs_s(mu))));  // 2^(shFact-1) / (1 - |mu|)
  mu = shr(mu, 1);
  Word16 prev = x[-1];
  for (int n = 0; n < kSubfr; ++n) {
    const Word16 cur = x[n];
    Word32 t = L_mac(L_shl(L_deposit_l(cur), 15), mu, prev);
    const Word16 v = extract_l(L_shr(L_add(t, 0x4000), 15));
    t = L_shr(L_add(L_mult(v, ga), L_deposit_l(fact)), shFact);
    y[n] = sat16(t);
    prev = cur;
  }
}

}  // namespace

VOKSC_EXPORT VokResult voksShortTermPostFilter_G729_16s(const Vok16s* a, const Vok16s* ltp, Vok16s* out, Vok16s* h) {
  if (anyNull(a, ltp, out, h)) return vokErrNullPtr;
  int16_t den[11], num[kImpulse] = {};
  weightCoefficients(a, kGammaDen, 10, den);
  weightCoefficients(a, kGammaNum, 10, num);
  // Impulse response of A(z/0.55) / A(z/0.7), truncated to 20 samples.
  int16_t hh[kImpulse];
  synthesisFilter(den, 10, num, hh, kImpulse, nullptr, false);
  // Gain of the filter: the sum of |h|, normalised by 1/g when above 1.
  Word32 g = 0;
  for (int i = 0; i < kImpulse; ++i) g = L_add(g, L_deposit_l(abs_s(hh[i])));
  const Word16 g0 = extract_h(L_shl(g, 14));
  int16_t sig[kSubfr];
  if (g0 > 1024) {
    const Word16 t = div_s(1024, g0);
    for (int i = 0; i < kSubfr; ++i) sig[i] = mult_r(ltp[i], t);
  } else {
    std::memcpy(sig, ltp, sizeof sig);
  }
  int16_t mem[10];
  std::memcpy(mem, out - 10, sizeof mem);
  const bool ovf = synthesisFilter(den, 10, sig, out, kSubfr, mem, false);
  std::memcpy(h, hh, sizeof hh);
  return ovf ? vokWrnOverflow : vokOk;
}

VOKSC_EXPORT VokResult voksTiltCompensation_G729_16s(const Vok16s* h, Vok16s* signal) {
  if (anyNull(h, signal)) return vokErrNullPtr;
  tiltFilter(firstReflection(h, kImpulse), signal, signal);
  return vokOk;
}

VOKSC_EXPORT VokResult voksTiltCompensation_G729E_16s(Vok16s k, const Vok16s* signal, Vok16s* out) {
  if (anyNull(signal, out)) return vokErrNullPtr;
  tiltFilter(k, signal, out);
  return vokOk;
}

// Annex A: the impulse response of A(z/0.55) / A(z/0.7) over 22 samples
// gives g = 0.8 r1 / r0 (0 when r1 <= 0); the signal is filtered through
// 1 - g z^-1 in place with the sample before it as x[-1].
VOKSC_EXPORT VokResult voksTiltCompensation_G729A_16s(const Vok16s* ap, Vok16s* signal) {
  if (anyNull(ap, signal)) return vokErrNullPtr;
  // The response is formed over 24 samples, of which the first 22 are used
  // (the filter is causal: they are those of a 22-sample run), so that the
  // filter reads its input and writes its output in three whole blocks of
  // eight words and each block load takes one block store forwarded.  The
  // input blocks are built from the coefficients as the producer stored
  // them (a word, eight words, a pair).
  int16_t h[kImpulseA + 2];
#if defined(__SSE2__)
  {
    const __m128i mid = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ap + 1));
    uint32_t pair;
    std::memcpy(&pair, ap + 9, sizeof pair);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_insert_epi16(_mm_slli_si128(mid, 2), ap[0], 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 8),
                     _mm_or_si128(_mm_srli_si128(mid, 14), _mm_slli_si128(_mm_cvtsi32_si128(static_cast<int>(pair)), 2)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 16), _mm_setzero_si128());
  }
#else
  std::memset(h, 0, sizeof h);
  std::memcpy(h, ap, 11 * sizeof(int16_t));
#endif
  synthesisFilter(ap + 11, 10, h, h, kImpulseA + 2, nullptr, false);
  // The energy chain only grows, so it is the exact sum clipped to 32 bits.
  // While that sum fits, every partial sum of the lag-1 chain does too
  // (|2 h[i] h[i+1]| <= h[i]^2 + h[i+1]^2), so it is exact as well.
  int64_t energy = 0, lag1 = 0;
#if defined(__SSE2__)
  {
    // A pair of squares is at most 2^31 and exact read as unsigned; the
    // pairs are summed in 64-bit lanes.  The lag-1 pairs, summed in 32 bits,
    // are used only when the energy fits 31 bits, which bounds them.  The
    // words one later are each block moved down a word with the next
    // block's first word on top (the words past h[21] are taken as zero).
    const __m128i zero = _mm_setzero_si128();
    const __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));
    const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 8));
    const __m128i x2 = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 16)),
                                     _mm_setr_epi16(-1, -1, -1, -1, -1, -1, 0, 0));
    const __m128i y0 = _mm_or_si128(_mm_srli_si128(x0, 2), _mm_slli_si128(x1, 14));
    const __m128i y1 = _mm_or_si128(_mm_srli_si128(x1, 2), _mm_slli_si128(x2, 14));
    const __m128i y2 = _mm_srli_si128(x2, 2);
    __m128i e = zero;
    for (const __m128i p : {_mm_madd_epi16(x0, x0), _mm_madd_epi16(x1, x1), _mm_madd_epi16(x2, x2)})
      e = _mm_add_epi64(e, _mm_add_epi64(_mm_unpacklo_epi32(p, zero), _mm_unpackhi_epi32(p, zero)));
    __m128i c = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(x0, y0), _mm_madd_epi16(x1, y1)), _mm_madd_epi16(x2, y2));
    e = _mm_add_epi64(e, _mm_unpackhi_epi64(e, e));
    c = _mm_add_epi32(c, _mm_shuffle_epi32(c, 0x4E));
    c = _mm_add_epi32(c, _mm_shuffle_epi32(c, 0xB1));
    alignas(16) int64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), e);
    energy = 2 * lanes[0];
    lag1 = _mm_cvtsi128_si32(c);
  }
#else
  h[kImpulseA] = 0;  // the lag-1 sum's partner of the last word
  for (int i = 0; i < kImpulseA; ++i) {
    energy += int32_t{h[i]} * h[i];
    lag1 += int32_t{h[i]} * h[i + 1];
  }
  energy *= 2;
#endif
  const Word16 r0 = extract_h(energy > kMax32 ? kMax32 : static_cast<Word32>(energy));
  Word32 acc;
  if (energy <= kMax32) {
    acc = static_cast<Word32>(2 * lag1);
  } else {
    acc = L_mult(h[0], h[1]);
    for (int i = 1; i < kImpulseA - 1; ++i) acc = L_mac(acc, h[i], h[i + 1]);
  }
  const Word16 r1 = extract_h(acc);
  const Word16 g = r1 <= 0 ? 0 : div_s(mult(r1, 26214), r0);
  // Each sample needs its unfiltered predecessor, so the filter runs into a
  // copy.  g is not negative: mult() cannot saturate, only the difference.
  int16_t out[kSubfr];
  int i = 0;
#if defined(__SSE2__)
  // Eight samples a step: (g x) >> 15 from the product's halves (it fits 16
  // bits for 0 <= g < 2^15), then the saturating difference.
  static_assert(kSubfr % 8 == 0, "whole steps of eight");
  // Each predecessor block is the current block moved up one word with
  // the previous block's last word below it, not a load one word back,
  // which would straddle the stores that just wrote the signal.
  const __m128i vg = _mm_set1_epi16(g);
  __m128i last = _mm_insert_epi16(_mm_setzero_si128(), signal[-1], 7);
  for (; i < kSubfr; i += 8) {
    const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(signal + i));
    const __m128i prev = _mm_or_si128(_mm_slli_si128(cur, 2), _mm_srli_si128(last, 14));
    last = cur;
    const __m128i lo = _mm_mullo_epi16(prev, vg), hi = _mm_mulhi_epi16(prev, vg);
    const __m128i t = _mm_packs_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(lo, hi), 15),
                                      _mm_srai_epi32(_mm_unpackhi_epi16(lo, hi), 15));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_subs_epi16(cur, t));
  }
#endif
  for (; i < kSubfr; ++i) {
    const int32_t v = signal[i] - ((int32_t{g} * signal[i - 1]) >> 15);
    out[i] = static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
  }
  std::memcpy(signal, out, sizeof out);
  return vokOk;
}

// G.729 AGC: g0 = (1 - 0.9875) sum|before| / sum|after| (Q14 with the
// subframe's normalisations), then g(n) = 0.9875 g(n-1) + g0 per sample.
namespace {

// The L_mac sum of the squared quarter samples: it only grows, so the chain
// clips exactly where the exact sum leaves 32 bits.
Word32 quarterEnergy(const Vok16s* x) {
  uint32_t v = 0;
  int i = 0;
#if defined(__SSE2__)
  // |x >> 2| <= 8192: a pair of squares is at most 2^27, a lane sums five
  // pairs, and the total, below 40 * 2^26 < 2^32, reads exactly as unsigned.
  static_assert(kSubfr % 8 == 0, "whole steps of eight");
  __m128i acc = _mm_setzero_si128();
  for (; i < kSubfr; i += 8) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
    const __m128i q = _mm_srai_epi16(w, 2);
    acc = _mm_add_epi32(acc, _mm_madd_epi16(q, q));
  }
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
  v = static_cast<uint32_t>(_mm_cvtsi128_si32(acc));
#endif
  for (; i < kSubfr; ++i) {
    const int32_t q = x[i] >> 2;
    v += static_cast<uint32_t>(q * q);
  }
  return v >= (uint32_t{1} << 30) ? kMax32 : static_cast<Word32>(2 * v);
}

}  // namespace

VOKSC_EXPORT VokResult voksGainControl_G729_16s_I(const Vok16s* before, Vok16s* sig, Vok16s* pastGain) {
  if (anyNull(before, sig, pastGain)) return vokErrNullPtr;
  Word32 acc = 0;
  for (int i = 0; i < kSubfr; ++i) acc = L_add(acc, L_abs(L_deposit_l(before[i])));
  Word16 g0;
  if (acc == 0) {
    g0 = 0;
  } else {
    const Word16 scIn = norm_l(acc);
    const Word16 gIn = extract_h(L_shl(acc, scIn));
    acc = 0;
    for (int i = 0; i < kSubfr; ++i) acc = L_add(acc, L_abs(L_deposit_l(sig[i])));
    if (acc == 0) {
      *pastGain = 0;
      return vokOk;
    }
    const Word16 scOut = norm_l(acc);
    const Word16 gOut = extract_h(L_shl(acc, scOut));
    Word16 sh = sub(add(scIn, 1), scOut);
    if (gIn < gOut) {
      g0 = div_s(gIn, gOut);
    } else {
      g0 = add(shr(div_s(sub(gIn, gOut), gOut), 1), 0x4000);
      sh = sub(sh, 1);
    }
    g0 = mult_r(shr(g0, sh), static_cast<Word16>(32768 - kAgcFactor));
  }
  Word16 gain = *pastGain;
  for (int i = 0; i < kSubfr; ++i) {
    gain = add(mult_r(kAgcFactor, gain), g0);
    sig[i] = round_fx(L_shl(L_mult(gain, sig[i]), 1));
  }
  *pastGain = gain;
  return vokOk;
}

// Annex A AGC: energies of both signals / 4, g0 = (1 - 0.9) sqrt(Ein /
// Eout) in Q12 through the inverse square root, g(n) = 0.9 g(n-1) + g0.
VOKSC_EXPORT VokResult voksGainControl_G729A_16s_I(const Vok16s* before, Vok16s* sig, Vok16s* pastGain) {
  if (anyNull(before, sig, pastGain)) return vokErrNullPtr;
  // The signal comes from the synthesis filter, which stores whole blocks
  // of eight words: the block loads take them forwarded.
  Word32 s = quarterEnergy(sig);
  if (s == 0) {
    *pastGain = 0;
    return vokOk;
  }
  Word16 e = sub(norm_l(s), 1);
  const Word16 gOut = round_fx(L_shl(s, e));
  s = quarterEnergy(before);
  Word16 g0;
  if (s == 0) {
    g0 = 0;
  } else {
    const Word16 i = norm_l(s);
    const Word16 gIn = round_fx(L_shl(s, i));
    e = sub(e, i);
    s = L_deposit_l(div_s(gOut, gIn));  // Q15
    s = L_shr(L_shl(s, 7), e);          // Q22 with the exponents
    s = voksc::vokInvSqrt(s);           // Q19
    g0 = mult(round_fx(L_shl(s, 9)), static_cast<Word16>(32767 - kAgcFactorA));
  }
  // The gains first, then the products in lanes: L_mult, the shift by 3
  // and the upper word are the product times 16 clipped to 32 bits, then
  // >> 16, which is the product >> 12 clipped to 16 bits (|sig gain| < 2^30
  // fits 32 bits).  The gains' additions cannot saturate: g0 = mult(r,
  // 32767 - a) with 0 <= r <= 32767 lies in [0, 32767 - a) and (gain a) >> 15
  // in [-a, a), so the sum stays in [-a, 32767) for a = kAgcFactorA.
  static_assert(kAgcFactorA == 29491, "the gain kernels' factor");
  static const auto agcApply = voksc::cpu::choose(agcApply_scalar, agcApply_avx2);
  const Word16 gain = agcApply(*pastGain, g0, sig);
  *pastGain = gain;
  return vokOk;
}

// Float AGC of G.729: gainIn is the sum of magnitudes of the speech before
// post-filtering, factor the smoothing factor (0.9875).  g0 = (1 - factor)
// gainIn / sum|sig|, g(n) = factor g(n-1) + g0, sig[n] *= g(n).  A zero
// gainIn leaves g0 = 0; a silent signal (with gainIn above 0) sets the past
// gain to 0 and leaves the signal.
VOKSC_EXPORT VokResult voksGainControl_G729_32f_I(Vok32f gainIn, Vok32f factor, Vok32f* sig, Vok32f* pastGain) {
  if (anyNull(sig, pastGain)) return vokErrNullPtr;
  float g0 = 0.0f;
  if (gainIn != 0.0f) {
    float gainOut = 0.0f;
    for (int i = 0; i < kSubfr; ++i) gainOut += std::fabs(sig[i]);
    if (gainOut == 0.0f) {
      *pastGain = 0.0f;
      return vokOk;
    }
    g0 = gainIn / gainOut;
    g0 *= 1.0f - factor;
  }
  float gain = *pastGain;
  for (int i = 0; i < kSubfr; ++i) {
    gain *= factor;
    gain += g0;
    sig[i] *= gain;
  }
  *pastGain = gain;
  return vokOk;
}
