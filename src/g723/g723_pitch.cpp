// G.723.1 pitch analysis: open-loop lag, harmonic noise shaping and the
// closed-loop five-tap adaptive-codebook search.
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "common/kernels.h"
#include "core/cpu.h"
#include "core/status.h"
#include "g723_internal.h"
#include "g723_tables.h"

namespace voksc::g723 {
namespace {

using namespace op;

Word32 dotN(const Word16* a, const Word16* b, int n) {
  Word32 acc = 0;
  for (int i = 0; i < n; ++i) acc = L_mac(acc, a[i], b[i]);
  return acc;
}

// Sum of a[i] b[i] with each doubled product halved before the saturating
// addition (the undoubled form of the reference sums).
Word32 halfDot(const Word16* a, const Word16* b, int n) {
  Word32 acc = 0;
  for (int i = 0; i < n; ++i) acc = L_add(acc, L_shr(L_mult(a[i], b[i]), 1));
  return acc;
}

Word16 openLoopLag(const Word16* x) {
  constexpr int kSpan = 2 * kSubframe;
  // Energy of the delayed segment, slid one sample per lag.
  const Word16* seg = x - (kMinLag - 1);
  Word32 energy = dotN(seg, seg, kSpan);
  // Exact correlations at every lag (lag 142 - k at k) and exact energies:
  // a lag whose energies bound the doubled cross sum inside 32 bits
  // (Cauchy-Schwarz, E_x E_seg < 2^60) takes its exact value, the others
  // the saturating chain.
  constexpr int kLags = kMaxLag - 3 - kMinLag + 1;
  int64_t corr[kLags];
  kern::xcorr(x, x - (kMaxLag - 3), kSpan, kLags, corr);
  const double targetEnergy = static_cast<double>(kern::dot(x, x, kSpan));
  int64_t segEnergy = kern::dot(seg, seg, kSpan);
  Word16 bestLag = kMinLag, bestExp = 30, bestCorr = 0x4000, bestEnergy = kMax16;
  for (int lag = kMinLag; lag <= kMaxLag - 3; ++lag) {
    --seg;
    energy = L_msu(energy, seg[kSpan], seg[kSpan]);
    energy = L_mac(energy, seg[0], seg[0]);
    segEnergy += seg[0] * seg[0] - seg[kSpan] * seg[kSpan];
    Word32 cross = targetEnergy * static_cast<double>(segEnergy) < 1.15e18
                       ? static_cast<Word32>(2 * corr[kMaxLag - 3 - lag])
                       : dotN(x, seg, kSpan);
    if (cross <= 0) continue;
    // C^2 and E as 16-bit mantissas with one common exponent.
    Word16 e = norm_l(cross);
    const Word16 c = round_fx(L_shl(cross, e));
    e = shl(e, 1);
    Word32 sq = L_mult(c, c);
    const Word16 n2 = norm_l(sq);
    e = add(e, n2);
    Word16 corr = extract_h(L_shl(sq, n2));
    const Word16 ne = norm_l(energy);
    e = sub(e, ne);
    const Word16 en = round_fx(L_shl(energy, ne));
    if (corr >= en) {
      e = sub(e, 1);
      corr = shr(corr, 1);
    }
    if (e > bestExp) continue;
    bool take;
    if (e + 1 < bestExp) {
      take = true;
    } else {
      const Word16 ref = e + 1 == bestExp ? shr(bestCorr, 1) : bestCorr;
      take = L_msu(L_mult(corr, bestEnergy), en, ref) > 0;
      // Far from the current best the new lag must win by a factor 4/3.
      if (take && lag - bestLag >= kMinLag)
        take = L_msu(L_mac(L_negate(L_shr(L_mult(corr, bestEnergy), 2)), corr, bestEnergy), en, ref) > 0;
    }
    if (take) {
      bestLag = static_cast<Word16>(lag);
      bestExp = e;
      bestCorr = corr;
      bestEnergy = en;
    }
  }
  return bestLag;
}

// Largest magnitude of n values, and whether -32768 is among them.
int peakAbs(const Word16* x, int n, bool& hasMin) {
  int peak = 0, low = 0;
  for (int i = 0; i < n; ++i) {
    const int v = x[i];
    peak = v > peak ? v : peak;
    low = v < low ? v : low;
  }
  hasMin = low == -32768;
  return peak > -low ? peak : -low;
}

// Correlations of the target with the five filtered excitation vectors of
// one candidate lag, their energies and cross products (20 values).
//
// The sums are the saturating chains of 16x16 products; they are taken as
// exact 64-bit sums (common/kernels.h) wherever no partial sum can leave 32
// bits: sums of squares only grow, so their chain is the exact sum held at
// the maximum; a cross sum stays below sqrt(Ea Eb) (Cauchy-Schwarz), so
// Ea Eb < 2^62 keeps every partial sum of the doubled products inside 32
// bits; and the convolution is bounded by the largest excitation sample
// times the sum of |h|.
void candidateTerms(const Word16* target, const Word16* h, const Word16* prevExc, int lag, Word64 targetEnergy,
                    int64_t hAbsSum, Word32* terms) {
  Word16 rows[kSubframe + 4];
  for (int i = 0; i < 2; ++i) rows[i] = prevExc[kMaxLag - lag - 2 + i];
  for (int i = 0; i < kSubframe + 2; ++i) rows[2 + i] = prevExc[kMaxLag - lag + i % lag];
  // filtered[t]: row t (delay lag + 2 - t) through the impulse response;
  // the earlier taps follow recursively from the next one.
  Word16 filtered[5][kSubframe];
  bool rowMin;
  if (2 * peakAbs(rows + 4, kSubframe, rowMin) * hAbsSum < (int64_t{1} << 31)) {
    int64_t conv[kSubframe];
    kern::convPartial(rows + 4, h, 0, kSubframe, conv);
    for (int i = 0; i < kSubframe; ++i) filtered[4][i] = round_fx(static_cast<Word32>(2 * conv[i]));
  } else {
    for (int i = 0; i < kSubframe; ++i) {
      Word32 acc = 0;
      for (int j = 0; j <= i; ++j) acc = L_mac(acc, rows[4 + j], h[i - j]);
      filtered[4][i] = round_fx(acc);
    }
  }
  for (int t = 3; t >= 0; --t) {
    filtered[t][0] = mult_r(rows[t], 0x2000);
    for (int j = 1; j < kSubframe; ++j) filtered[t][j] = round_fx(L_mac(L_deposit_h(filtered[t + 1][j - 1]), rows[t], h[j]));
  }
  Word64 energy[5];
  bool hasMin[5];
  for (int t = 0; t < 5; ++t) {
    peakAbs(filtered[t], kSubframe, hasMin[t]);
    energy[t] = kern::dot(filtered[t], filtered[t], kSubframe);
    terms[5 + t] = 2 * energy[t] > kMax32 ? kMax32 : static_cast<Word32>(2 * energy[t]);
  }
  // Cross sums of halved doubled products: exact unless -32768 meets
  // -32768 (rounded down there), excluded with the vectors holding -32768.
  auto cross = [&](const Word16* a, Word64 ea, bool aMin, int b) -> Word32 {
    if (!aMin && !hasMin[b] && static_cast<double>(ea) * static_cast<double>(energy[b]) < 4.6e18)
      return static_cast<Word32>(kern::dot(a, filtered[b], kSubframe));
    return halfDot(a, filtered[b], kSubframe);
  };
  bool targetMin;
  peakAbs(target, kSubframe, targetMin);
  for (int t = 0; t < 5; ++t) terms[t] = L_shl(cross(target, targetEnergy, targetMin, t), 1);
  int k = 10;
  for (int a = 1; a < 5; ++a)
    for (int b = 0; b < a; ++b) terms[k++] = L_shl(cross(filtered[a], energy[a], hasMin[a], b), 2);
}

}  // namespace

// The scores of the adaptive-codebook gain vectors: the 20 normalised terms
// against each row of a gain table, every product s g (the doubled product
// halved; exact, no table entry is -32768) added with 32-bit saturation in
// row order, one chain per gain vector.
void gainScores_scalar(const Word16* s, const int16_t* g, int rows, Word32* score) {
  for (int i = 0; i < rows; ++i, g += 20) {
    Word32 acc = 0;
    for (int j = 0; j < 20; ++j) acc = L_add(acc, s[j] * g[j]);
    score[i] = acc;
  }
}

#if defined(VOKSC_X86)
// Eight gain vectors per pass, one per lane, each lane running its own
// saturating chain; column j of the eight rows is gathered as the high half
// of the 32-bit word ending at it (the low half for column 0), so no read
// leaves the rows.
VOKSC_TARGET_AVX2 void gainScores_avx2(const Word16* s, const int16_t* g, int rows, Word32* score) {
  const __m256i rowStep = _mm256_setr_epi32(0, 20, 40, 60, 80, 100, 120, 140);
  const __m256i laneNo = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i max = _mm256_set1_epi32(0x7FFFFFFF);
  for (int r0 = 0; r0 < rows; r0 += 8) {
    const __m256i live = _mm256_cmpgt_epi32(_mm256_set1_epi32(rows - r0), laneNo);
    const int16_t* rowBase = g + 20 * r0;
    __m256i acc = _mm256_setzero_si256();
    for (int j = 0; j < 20; ++j) {
      const int* at = reinterpret_cast<const int*>(rowBase + (j == 0 ? 0 : j - 1));
      const __m256i w = _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), at, rowStep, live, 2);
      const __m256i col = j == 0 ? _mm256_srai_epi32(_mm256_slli_epi32(w, 16), 16) : _mm256_srai_epi32(w, 16);
      const __m256i p = _mm256_mullo_epi32(col, _mm256_set1_epi32(s[j]));
      const __m256i sum = _mm256_add_epi32(acc, p);
      // Overflow: both addends of one sign and the sum of the other; the
      // chain then holds the limit of the accumulator's sign.
      const __m256i over = _mm256_and_si256(_mm256_xor_si256(acc, sum), _mm256_xor_si256(p, sum));
      const __m256i limit = _mm256_xor_si256(_mm256_srai_epi32(acc, 31), max);
      acc = _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(sum), _mm256_castsi256_ps(limit),
                                                 _mm256_castsi256_ps(over)));
    }
    if (rows - r0 >= 8) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(score + r0), acc);
    } else {
      alignas(32) Word32 tail[8];
      _mm256_store_si256(reinterpret_cast<__m256i*>(tail), acc);
      for (int i = 0; i < rows - r0; ++i) score[r0 + i] = tail[i];
    }
  }
}
#else
void gainScores_avx2(const Word16* s, const int16_t* g, int rows, Word32* score) {
  gainScores_scalar(s, g, rows, score);
}
#endif

}  // namespace voksc::g723

using namespace voksc::g723;
using voksc::anyNull;
namespace op = voksc::op;

VOKSC_EXPORT VokResult voksOpenLoopPitchSearch_G723_16s(const Vok16s* wsp, Vok16s* lag) {
  if (anyNull(wsp, lag)) return vokErrNullPtr;
  *lag = openLoopLag(wsp);
  return vokOk;
}

VOKSC_EXPORT VokResult voksHarmonicSearch_G723_16s(Vok16s olpLag, const Vok16s* wsp, Vok16s* harmLag, Vok16s* harmGain) {
  if (anyNull(wsp, harmLag, harmGain)) return vokErrNullPtr;
  if (olpLag < kMinLag || olpLag > kMaxLag) return vokErrSize;
  // Energy, then energy and correlation of each of the 7 delayed segments,
  // all scaled by the common normalisation of the largest magnitude.
  Word32 terms[15];
  terms[0] = dotN(wsp, wsp, kSubframe);
  for (int i = 0; i < 7; ++i) {
    const Vok16s* d = wsp - (olpLag - 3 + i);
    terms[2 * i + 1] = dotN(d, d, kSubframe);
    terms[2 * i + 2] = dotN(wsp, d, kSubframe);
  }
  Word32 peak = 0;
  for (Word32 t : terms)
    if (op::L_abs(t) > peak) peak = op::L_abs(t);
  const Word16 norm = op::norm_l(peak);
  Word16 s[15];
  for (int i = 0; i < 15; ++i) s[i] = op::round_fx(op::L_shl(terms[i], norm));
  int best = -1;
  Word16 bestSq = 1, bestEnergy = op::kMax16;
  for (int i = 0; i < 7; ++i) {
    const Word16 e = s[2 * i + 1], c = s[2 * i + 2];
    if (c <= 0) continue;
    const Word16 sq = op::mult_r(c, c);
    if (op::L_msu(op::L_mult(sq, bestEnergy), e, bestSq) > 0) {
      bestSq = sq;
      bestEnergy = e;
      best = i;
    }
  }
  if (best < 0) {
    *harmLag = olpLag;
    *harmGain = 0;
    return vokOk;
  }
  Word16 gain = 0;
  const Word32 se = op::L_mult(s[0], bestEnergy);
  const Word16 c = s[2 * best + 2];
  if (op::L_sub(op::L_add(op::L_shr(se, 2), op::L_shr(se, 3)), op::L_mult(c, c)) < 0)
    gain = c >= bestEnergy ? Word16{0x2800} : op::mult_r(op::div_s(c, bestEnergy), 0x2800);
  *harmLag = static_cast<Vok16s>(olpLag - 3 + best);
  *harmGain = gain;
  return vokOk;
}

VOKSC_EXPORT VokResult voksHarmonicNoiseSubtract_G723_16s_I(Vok16s gain, int lag, const Vok16s* src, Vok16s* srcDst) {
  if (anyNull(src, srcDst)) return vokErrNullPtr;
  if (lag < 0) return vokErrRange;  // lag samples before src are read
  const Word32 g = op::negate(gain);
  for (int n = 0; n < kSubframe; ++n) {
    const Word32 d = op::sub(src[n], srcDst[n]);
    srcDst[n] = op::sat16((g * src[n - lag] - 32768 * d + 16384) >> 15);
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookSearch_G723(Vok16s baseLag, const Vok16s* target, const Vok16s* impResp,
                                                       const Vok16s* prevExc, const Vok32s* tamingErr, Vok16s* lagIndex,
                                                       Vok16s* gainIndex, Vok16s subframe, Vok16s sineDet,
                                                       VokRateCode rateCode) {
  if (anyNull(target, impResp, prevExc, tamingErr, lagIndex, gainIndex)) return vokErrNullPtr;
  if (subframe < 0 || subframe > 4 || baseLag < kMinLag || baseLag > 142 - (subframe & 1)) return vokErrRange;
  if (rateCode != vokRateG723_53 && rateCode != vokRateG723_63) return vokErrRange;
  const bool odd = subframe & 1;
  const int candidates = 3 + odd;
  Word32 terms[4 * 20];
  const Word64 targetEnergy = voksc::kern::dot(target, target, kSubframe);
  int64_t hAbsSum = 0;
  for (int i = 0; i < kSubframe; ++i) hAbsSum += impResp[i] < 0 ? -impResp[i] : impResp[i];
  for (int k = 0; k < candidates; ++k)
    candidateTerms(target, impResp, prevExc, baseLag - 1 + k, targetEnergy, hAbsSum, terms + 20 * k);
  Word32 peak = 0;
  for (int i = 0; i < 20 * candidates; ++i)
    if (op::L_abs(terms[i]) > peak) peak = op::L_abs(terms[i]);
  const Word16 norm = op::norm_l(peak);
  Word16 s[4 * 20];
  for (int i = 0; i < 20 * candidates; ++i) s[i] = op::round_fx(op::L_shl(terms[i], norm));

  // Error taming: the worst excitation error over the zones the lags
  // reach limits the gain vectors that may be used.
  const int zoneHigh = op::mult(static_cast<Word16>(baseLag + candidates - 1 + 1), 1092);
  int low = baseLag - 1 - kSubframe + 1 - 2;
  if (low <= 0) low = 1;
  const int zoneLow = op::mult(static_cast<Word16>(low), 1092);
  Word32 worst = -1;
  for (int z = zoneHigh; z >= zoneLow; --z)
    if (op::L_sub(tamingErr[z], worst) > 0) worst = tamingErr[z];
  int extra = 0;
  const Word32 margin = op::L_sub(worst, 0x40000000);
  if (margin <= 0 && sineDet >= 0) extra = op::extract_l(op::L_shr(op::L_negate(margin), 23));
  int limit[2] = {51 + 4 * extra, 93 + 8 * extra};
  if (limit[0] > 85) limit[0] = 85;
  if (limit[1] > 170) limit[1] = 170;

  Word32 best = 0;
  Vok16s bestLag = 1, bestGain = 0;
  for (int k = 0; k < candidates; ++k) {
    int table = 1;
    if (rateCode == vokRateG723_63) table = (odd ? baseLag : baseLag - 1 + k) >= kSubframe - 2 ? 1 : 0;
    static const auto gainScores = voksc::cpu::choose(gainScores_scalar, gainScores_avx2);
    Word32 score[170];
    gainScores(s + 20 * k, table ? kPitchGains170 : kPitchGains85, limit[table], score);
    for (int i = 0; i < limit[table]; ++i) {
      if (score[i] > best) {
        best = score[i];
        bestGain = static_cast<Vok16s>(i);
        bestLag = static_cast<Vok16s>(k);
      }
    }
  }
  *lagIndex = bestLag;
  *gainIndex = bestGain;
  return vokOk;
}
