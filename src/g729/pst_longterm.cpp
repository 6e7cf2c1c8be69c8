// G.729 long-term (pitch) post-filters: the full G.729 filter with its
// 1/8-resolution delay search (and the harmonic gain factor of Annex E),
// the Annex B form that bypasses non-speech frames, and the simplified
// integer-delay filter of Annex A.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/cpu.h"
#include "core/status.h"
#include "filt_internal.h"
#include "pst_internal.h"
#include "pst_tables.h"

using namespace voksc::op;
using namespace voksc::g729;
using voksc::anyNull;

namespace {

constexpr int kSubfr = 40;
constexpr int kHist = 152;        // G.729 residual history: 143 + 1 + 8
constexpr int kHistA = 154;       // Annex A residual buffer history
constexpr int kPitMax = 143;
constexpr int kPhases = 8;        // 1/8 resolution
constexpr int kShortTaps = 4, kLongTaps = 16;
constexpr Word16 kGammaHarm = 16384;  // the G.729 harmonic factor 0.5
constexpr Word16 kMinGain = 21845;    // 1 / (1 + 0.5), Q15
constexpr Word16 kGammaNum = 18022;   // 0.55: numerator weighting

// A gain ratio num / den held as two 16-bit words with their shifts.
struct Ratio {
  Word16 num = 0, den = 1, shNum = 0, shDen = 0;
};

// The outcome of the delay search: lag and phase of the best delay and its
// gain ratio; num == 0 switches the filter off.
struct Choice {
  Ratio r;
  Word16 lag = 0, phase = 0, offset = 0;
};

// Upper word bound on the magnitude of the justified signal: the searches
// work on the residual brought to 13 bits, |x| <= 4096, which keeps every
// correlation of the short interpolation filters inside 31 bits.
constexpr int kJustified = 4096;

// The kernel sets: the scalar forms, the AVX2 forms, and the build's choice.
struct ScalarKernels {
  static int32_t dot(const int16_t* a, const int16_t* b, int n) { return pstDot_scalar(a, b, n); }
  static void interp(const int16_t* h, int taps, const int16_t* x, int16_t* y, int count) {
    pstInterp_scalar(h, taps, x, y, count);
  }
};
struct Avx2Kernels {
  static int32_t dot(const int16_t* a, const int16_t* b, int n) { return pstDot_avx2(a, b, n); }
  static void interp(const int16_t* h, int taps, const int16_t* x, int16_t* y, int count) {
    pstInterp_avx2(h, taps, x, y, count);
  }
};
// The forms of the level chosen at run time.
struct ActiveKernels {
  static int32_t dot(const int16_t* a, const int16_t* b, int n) {
    static const auto form = voksc::cpu::choose(pstDot_scalar, pstDot_avx2);
    return form(a, b, n);
  }
  static void interp(const int16_t* h, int taps, const int16_t* x, int16_t* y, int count) {
    static const auto form = voksc::cpu::choose(pstInterp_scalar, pstInterp_avx2);
    form(h, taps, x, y, count);
  }
};

// Correlation or energy over 40 samples of two signals with magnitudes up
// to maxA and maxB, as the L_mac chain computes it.
template <class K>
Word32 chainDot(const int16_t* a, const int16_t* b, int n, int maxA, int maxB) {
  if (2 * int64_t{n} * maxA * maxB < 0x7FFFFFFF) return 2 * K::dot(a, b, n);
  Word32 s = 0;
  for (int i = 0; i < n; ++i) s = L_mac(s, a[i], b[i]);
  return s;
}

// The largest magnitude from the extremes, which stay in 16-bit lanes.
int maxAbs(const int16_t* x, int n) {
  int16_t lo = 0, hi = 0;
  for (int i = 0; i < n; ++i) {
    lo = std::min(lo, x[i]);
    hi = std::max(hi, x[i]);
  }
  return std::max(int{hi}, -int{lo});
}

// Integer search around t0 and 1/8 refinement with the short filters on
// the justified residual `in` (kHist samples of history).  yUp receives the
// 7 interpolated past signals (41 samples each) for the output.
template <class K>
Choice searchDelay(int t0, const int16_t* in, int16_t* yUp) {
  Choice none;
  Word32 acc = 2 * K::dot(in, in, kSubfr);
  if (acc == 0) return none;
  Word16 shEner = sub(16, norm_l(acc));
  Word16 ener;
  if (shEner > 0) {
    ener = extract_l(L_shr(acc, shEner));
  } else {
    shEner = 0;
    ener = extract_l(acc);
  }
  // Best of the three integer delays t0-1, t0, t0+1.
  int lambda = t0 - 1;
  Word32 numInt = -1;
  int best = 0;
  for (int i = 0; i < 3; ++i) {
    acc = 2 * K::dot(in, in - lambda - i, kSubfr);
    if (acc < 0) acc = 0;
    if (acc > numInt) {
      numInt = acc;
      best = i;
    }
  }
  if (numInt == 0) return none;
  lambda += best;
  const Word32 denInt = 2 * K::dot(in - lambda, in - lambda, kSubfr);
  if (denInt == 0) return none;

  // Interpolated past signals for the delays lambda + 1 - phi/8 (samples
  // 0..39) and lambda - phi/8 (samples 1..40), with their energies.
  Word32 den0[kPhases - 1], den1[kPhases - 1];
  Word32 denMax = denInt;
  const int16_t* past0 = in - (lambda - 1);
  for (int phi = 1; phi < kPhases; ++phi) {
    int16_t* y = yUp + (phi - 1) * (kSubfr + 1);
    K::interp(kPstInterpShort + (phi - 1) * kShortTaps, kShortTaps, past0, y, kSubfr + 1);
    const Word32 common = 2 * K::dot(y + 1, y + 1, kSubfr - 1);
    den0[phi - 1] = common + L_mult(y[0], y[0]);
    den1[phi - 1] = common + L_mult(y[kSubfr], y[kSubfr]);
    const Word32 d = abs_s(y[0]) > abs_s(y[kSubfr]) ? den0[phi - 1] : den1[phi - 1];
    if (d > denMax) denMax = d;
  }
  if (denMax == 0) return none;
  const Word16 shDen = sub(16, norm_l(denMax));
  // A delayed signal far stronger than the current one: no filtering.
  if (shDen <= 0) return none;
  const Word16 shNum = shDen >= shEner ? shDen : shEner;

  // Best num^2 / den over the phases, starting from the integer delay.
  Word16 denBest = extract_l(L_shr(denInt, shDen));
  Word16 numBest = extract_l(L_shr(numInt, shNum));
  Word16 hiMax, loMax;
  L_Extract(L_mult(numBest, numBest), hiMax, loMax);
  int phiBest = 0, offBest = 1;
  for (int phi = 1; phi < kPhases; ++phi) {
    const int16_t* y = yUp + (phi - 1) * (kSubfr + 1);
    for (int off = 0; off < 2; ++off) {
      acc = L_shr(2 * K::dot(in, y + off, kSubfr), shNum);
      const Word16 num = acc < 0 ? 0 : extract_l(acc);
      Word16 hi, lo;
      L_Extract(L_mult(num, num), hi, lo);
      const Word32 cand = voksc::vokMpy32x16(hi, lo, denBest);
      const Word16 den = extract_l(L_shr(off == 0 ? den0[phi - 1] : den1[phi - 1], shDen));
      if (L_sub(cand, voksc::vokMpy32x16(hiMax, loMax, den)) > 0) {
        numBest = num;
        hiMax = hi;
        loMax = lo;
        denBest = den;
        offBest = off;
        phiBest = phi;
      }
    }
  }
  if (numBest == 0 || denBest <= 1) return none;
  // Keep the delay only when num^2 >= 0.5 ener den (normalised).
  Word32 t1 = L_mult(denBest, ener);
  Word32 t0l = L_Comp(hiMax, loMax);
  const Word16 sh = add(sub(sub(shl(shNum, 1), shDen), shEner), 1);
  if (sh < 0)
    t0l = L_shr(t0l, negate(sh));
  else if (sh > 0)
    t1 = L_shr(t1, sh);
  if (L_sub(t0l, t1) < 0) return none;
  Choice c;
  c.lag = static_cast<Word16>(lambda + 1 - offBest);
  c.offset = static_cast<Word16>(offBest);
  c.phase = static_cast<Word16>(phiBest);
  c.r = {numBest, denBest, shNum, shDen};
  return c;
}

// The past signal at the chosen fractional delay through the long filter,
// and its gain ratio.
template <class K>
Ratio longInterp(const int16_t* in, int lag, int phase, int16_t* y) {
  K::interp(kPstInterpLong + (phase - 1) * kLongTaps, kLongTaps, in + kLongTaps / 2 - lag, y, kSubfr);
  // The long filter's gain reaches 2.1, so these sums may saturate.
  const int my = maxAbs(y, kSubfr);
  Ratio r;
  Word32 acc = chainDot<K>(y, in, kSubfr, my, kJustified);
  if (acc < 0) {
    r.num = 0;
    r.shNum = 0;
  } else {
    Word16 t = sub(16, norm_l(acc));
    if (t < 0) t = 0;
    r.num = extract_l(L_shr(acc, t));
    r.shNum = t;
  }
  acc = chainDot<K>(y, y, kSubfr, my, my);
  Word16 t = sub(16, norm_l(acc));
  if (t < 0) t = 0;
  r.den = extract_l(L_shr(acc, t));
  r.shDen = t;
  return r;
}

// True when the second ratio's num^2 / den is the larger.
bool secondBetter(const Ratio& a, const Ratio& b) {
  if (b.den == 0) return false;
  Word16 hi, lo;
  L_Extract(L_mult(a.num, a.num), hi, lo);
  Word32 ta = voksc::vokMpy32x16(hi, lo, b.den);
  L_Extract(L_mult(b.num, b.num), hi, lo);
  Word32 tb = voksc::vokMpy32x16(hi, lo, a.den);
  const Word16 ea = add(shl(a.shNum, 1), b.shDen), eb = add(shl(b.shNum, 1), a.shDen);
  if (eb > ea)
    ta = L_shr(ta, sub(eb, ea));
  else if (ea > eb)
    tb = L_shr(tb, sub(ea, eb));
  return L_sub(tb, ta) > 0;
}

// Weight of the current sample: 1 / (1 + g b) with b = num / den bounded
// by 1 and g the harmonic factor (Q15; G.729 uses 0.5, Annex E less).
Word16 harmonicGain(Ratio r, Word16 factor) {
  const Word16 t = sub(r.shNum, r.shDen);
  if (t >= 0)
    r.den = shr(r.den, t);
  else
    r.num = shl(r.num, t);
  Word16 num;
  if (r.num >= r.den) {
    if (factor == kGammaHarm) return kMinGain;
    num = shr(mult_r(r.den, factor), 1);
  } else {
    num = factor == kGammaHarm ? shr(r.num, 2) : shr(mult_r(r.num, factor), 1);
  }
  const Word16 den = shr(r.den, 1);
  return div_s(den, add(den, num));
}

// The long-term post-filter of one subframe; res points at the subframe
// inside a buffer with kHist samples of history.
template <class K>
void longTermPost(Word16 factor, int t0, const int16_t* res, int16_t* out, Word16* voicing) {
  const int16_t* sig = res - kHist;
  Word16 bits = 0;
  for (int i = 0; i < kHist + kSubfr; ++i) bits = static_cast<Word16>(bits | abs_s(sig[i]));
  const Word16 nbSh = sub(3, norm_s(bits));
  int16_t justified[kHist + kSubfr];
  for (int i = 0; i < kHist + kSubfr; ++i) justified[i] = shr(sig[i], nbSh);
  const int16_t* in = justified + kHist;

  int16_t yUp[(kPhases - 1) * (kSubfr + 1)];
  const Choice c = searchDelay<K>(t0, in, yUp);
  *voicing = c.lag;
  if (c.r.num == 0) {
    std::memcpy(out, res, kSubfr * sizeof(int16_t));
    return;
  }
  Ratio r = c.r;
  const int16_t* past;
  int16_t yLong[kSubfr];
  if (c.phase == 0) {
    past = res - c.lag;
  } else {
    const Ratio rl = longInterp<K>(in, c.lag, c.phase, yLong);
    int16_t* y;
    if (!secondBetter(r, rl)) {
      y = yUp + (c.phase - 1) * (kSubfr + 1) + c.offset;
    } else {
      r = rl;
      y = yLong;
    }
    // Back to the residual's scale.
    for (int i = 0; i < kSubfr; ++i) y[i] = shl(y[i], nbSh);
    past = y;
  }
  const Word16 gain = harmonicGain(r, factor);
  const Word16 g1 = add(sub(32767, gain), 1);
  for (int n = 0; n < kSubfr; ++n) out[n] = round_fx(L_mac(L_mult(gain, res[n]), g1, past[n]));
}

}  // namespace

void voksc::g729::longTermPostFilter_scalar(Word16 factor, int t0, const int16_t* res, int16_t* out,
                                            int16_t* voicing) {
  longTermPost<ScalarKernels>(factor, t0, res, out, voicing);
}
void voksc::g729::longTermPostFilter_avx2(Word16 factor, int t0, const int16_t* res, int16_t* out,
                                          int16_t* voicing) {
  longTermPost<Avx2Kernels>(factor, t0, res, out, voicing);
}

VOKSC_EXPORT VokResult voksLongTermPostFilter_G729_16s(Vok16s factor, int delay, Vok16s* res, Vok16s* out,
                                                       Vok16s* voicing) {
  if (anyNull(res, out, voicing)) return vokErrNullPtr;
  if (delay < 18 || delay > kPitMax || factor < 0 || factor > 16384) return vokErrRange;
  longTermPost<ActiveKernels>(factor, delay, res + kHist, out, voicing);
  std::memmove(res, res + kSubfr, kHist * sizeof(Vok16s));
  return vokOk;
}

// The G.729 post-filter's first step with the Annex B frame type: the
// residual of A(z/0.55) goes into the buffer; speech frames (type 1) are
// filtered with factor 0.5, other frames pass the residual through and
// report voicing 0.  A delay below 18 is searched as 18.
VOKSC_EXPORT VokResult voksLongTermPostFilter_G729B_16s(int delay, const Vok16s* speech, const Vok16s* a, Vok16s* res,
                                                        Vok16s* out, Vok16s* voicing, int frameType) {
  if (anyNull(speech, a, res, out, voicing)) return vokErrNullPtr;
  if (delay > kPitMax || frameType < 0 || frameType > 2) return vokErrRange;
  int16_t num[11];
  weightCoefficients(a, kGammaNum, 10, num);
  residualFilter(num, 10, speech, res + kHist, kSubfr);
  if (frameType == 1) {
    longTermPost<ActiveKernels>(kGammaHarm, delay < 18 ? 18 : delay, res + kHist, out, voicing);
  } else {
    *voicing = 0;
    std::memcpy(out, res + kHist, kSubfr * sizeof(Vok16s));
  }
  std::memmove(res, res + kSubfr, kHist * sizeof(Vok16s));
  return vokOk;
}

namespace {

// Weights of the current and the delayed sample in the Annex A filter
// (1 + g z^-T) / (1 + g), with g = 0.5 min(c / e, 1) for the correlation c
// at the delay and the delayed energy e; false (no filtering) when the
// prediction gain c^2 / (e e0) is below 3 dB.  The three sums share one
// normalisation, by the largest of them, before rounding to 16 bits.
bool annexAWeights(Word32 corr, Word32 delayedEnergy, Word32 energy, Word16& current, Word16& past) {
  if (corr < 0) corr = 0;
  Word32 largest = corr > delayedEnergy ? corr : delayedEnergy;
  if (energy > largest) largest = energy;
  const Word16 n = norm_l(largest);
  const Word16 c = round_fx(L_shl(corr, n)), e = round_fx(L_shl(delayedEnergy, n));
  const Word16 e0 = round_fx(L_shl(energy, n));
  if (L_sub(L_mult(c, c), L_shr(L_mult(e, e0), 1)) < 0) return false;
  if (c > e) {  // g reaches its cap 0.5
    current = kMinGain;
    past = 10923;  // 0.5 / (1 + 0.5)
    return true;
  }
  // g / (1 + g) = 0.5 c / (0.5 c + e), both halved once more to keep the
  // sum in 16 bits; a sum that is not positive gives g = 0.
  const Word16 half = shr(mult(c, kGammaHarm), 1), rest = shr(e, 1);
  const Word16 total = add(half, rest);
  past = total > 0 ? div_s(half, total) : 0;
  current = sub(32767, past);
  return true;
}

}  // namespace

// Annex A: residual through the weighted numerator, integer delay search
// on the residual / 4 around the decoded delay, the 3 dB test and the
// filter (1 + g z^-T) / (1 + g) with g = min(0.5 gain, 0.5).
VOKSC_EXPORT VokResult voksLongTermPostFilter_G729A_16s(int delay, const Vok16s* speech, const Vok16s* num,
                                                        Vok16s* res, Vok16s* out) {
  if (anyNull(speech, num, res, out)) return vokErrNullPtr;
  if (delay < 18 || delay > 145) return vokErrRange;
  int16_t* r = res + kHistA;
  residualFilter(num, 10, speech, r, kSubfr);
  int t0Min = delay - 3, t0Max = t0Min + 6;
  if (t0Max > kPitMax) {
    t0Max = kPitMax;
    t0Min = kPitMax - 6;
  }
  // The search reads the subframe and the 46 past samples its seven delays
  // reach, each at a quarter of the residual: in lanes when no chain can
  // saturate, else the chains one by one.
  constexpr int kLags = 7;
  static const auto search = voksc::cpu::choose(pstSearchA_scalar, pstSearchA_avx2);
  PstSearchA found;
  Word32 corMax, ener, ener0;
  int t0;
  if (search(r, t0Min, &found)) {
    corMax = 2 * found.corr;
    ener = 1 + 2 * found.energy;
    ener0 = 1 + 2 * found.energy0;
    t0 = found.lag;
  } else {
    constexpr int kReach = kSubfr + kLags - 1;
    int16_t cur[kSubfr], reach[kReach];
    for (int i = 0; i < kSubfr; ++i) cur[i] = static_cast<int16_t>(r[i] >> 2);
    const int16_t* from = r - t0Max;
    for (int i = 0; i < kReach; ++i) reach[i] = static_cast<int16_t>(from[i] >> 2);
    // The signal delayed by t0Min + k starts at reach + 6 - k.
    auto delayed = [&](int lag) { return reach + (t0Max - lag); };
    corMax = kMin32;
    t0 = t0Min;
    for (int k = 0; k < kLags; ++k) {
      const int16_t* d = delayed(t0Min + k);
      Word32 c = 0;
      for (int i = 0; i < kSubfr; ++i) c = L_mac(c, cur[i], d[i]);
      if (L_sub(c, corMax) > 0) {
        corMax = c;
        t0 = t0Min + k;
      }
    }
    ener0 = 1;
    for (int i = 0; i < kSubfr; ++i) ener0 = L_mac(ener0, cur[i], cur[i]);
    const int16_t* best = delayed(t0);
    ener = 1;
    for (int i = 0; i < kSubfr; ++i) ener = L_mac(ener, best[i], best[i]);
  }
  Word16 current, past;
  // The mix goes straight to out unless out overlaps the residual buffer.
  const auto at = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p); };
  const bool apart = at(out + kSubfr) <= at(res) || at(out) >= at(res + kHistA + kSubfr);
  if (!annexAWeights(corMax, ener, ener0, current, past)) {
    std::memmove(out, r, kSubfr * sizeof(Vok16s));
  } else {
    // Both weights lie in [0, 32767]: mult() cannot saturate, only the sum.
    int16_t mixed[kSubfr];
    int16_t* dst = apart ? out : mixed;
#if defined(__SSE2__)
    static_assert(kSubfr % 8 == 0, "whole steps of eight");
    // Eight samples a step: the 32-bit products from their low and high
    // halves, each shifted, then summed; the saturating pack is the clip.
    const __m128i wc = _mm_set1_epi16(current), wp = _mm_set1_epi16(past);
    for (int i = 0; i < kSubfr; i += 8) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i));
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i - t0));
      const __m128i xl = _mm_mullo_epi16(x, wc), xh = _mm_mulhi_epi16(x, wc);
      const __m128i dl = _mm_mullo_epi16(d, wp), dh = _mm_mulhi_epi16(d, wp);
      const __m128i lo = _mm_add_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(xl, xh), 15),
                                       _mm_srai_epi32(_mm_unpacklo_epi16(dl, dh), 15));
      const __m128i hi = _mm_add_epi32(_mm_srai_epi32(_mm_unpackhi_epi16(xl, xh), 15),
                                       _mm_srai_epi32(_mm_unpackhi_epi16(dl, dh), 15));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packs_epi32(lo, hi));
    }
#else
    for (int i = 0; i < kSubfr; ++i) {
      const int32_t v = ((int32_t{current} * r[i]) >> 15) + ((int32_t{past} * r[i - t0]) >> 15);
      dst[i] = static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
    }
#endif
    if (!apart) std::memcpy(out, mixed, sizeof mixed);
  }
  // The history moves back a subframe: the older part, then the subframe
  // the residual filter has just stored (0-15, 16-31, 24-39) in blocks of
  // eight, each inside one of those stores, so they are forwarded.
  std::memmove(res, res + kSubfr, (kHistA - kSubfr) * sizeof(Vok16s));
  int16_t* to = res + kHistA - kSubfr;
  int i = 0;
#if defined(__SSE2__)
  for (; i < kSubfr; i += 8)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i)));
#endif
  for (; i < kSubfr; ++i) to[i] = r[i];
  return vokOk;
}
