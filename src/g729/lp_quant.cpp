// G.729 LSF quantiser (switched MA prediction, two-stage split VQ), its
// decoder with the stability correction, and the erased-frame update.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "common/basic_op.h"
#include "core/cpu.h"
#include "core/status.h"
#include "lp_internal.h"
#include "lp_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g729 {

namespace {

constexpr int kM = kLpOrder;
constexpr int kNc = kM / 2;
constexpr int kStage1Size = 128, kStage2Size = 32;
constexpr Word16 kGap1 = 10, kGap2 = 5, kGap3 = 321;       // Q13
constexpr Word16 kLsfFloor = 40, kLsfCeiling = 25681;      // 0.005 and 3.135 in Q13

}  // namespace

// Each adjacent pair closer than `gap` moves apart by half the shortfall,
// pairs taken upwards so that a moved value is seen again by its upper
// neighbour.
void lsfSpread(Word16* buf, Word16 gap, int from, int to) {
  for (int j = from; j < to; ++j) {
    const Word16 half = shr(add(sub(buf[j - 1], buf[j]), gap), 1);
    if (half > 0) {
      buf[j - 1] = sub(buf[j - 1], half);
      buf[j] = add(buf[j], half);
    }
  }
}

LsfPredictor lsfSpeechPredictor(int mode) {
  return {kLspMaPredictor[mode], kLspMaPredSum[mode], kLspMaPredSumInv[mode]};
}

// lsf = residual x (weight of the new residual) + sum over the past frames
// of memory x coefficient, one Q28 accumulation per coefficient.
void lsfPredict(const Word16* residual, const Word16* mem, const LsfPredictor& p, Word16* lsf) {
  for (int j = 0; j < kM; ++j) {
    Word32 acc = L_mult(residual[j], p.current[j]);
    for (int k = 0; k < kLsfMaFrames; ++k) acc = L_mac(acc, mem[k * kM + j], p.past[k][j]);
    lsf[j] = extract_h(acc);
  }
}

namespace {

// Every coefficient of the two speech predictors is positive and each
// output's five coefficients sum to at most 32767 (checked once here), so
// every partial sum of an output's L_mac chain is below 2^16 32767 < 2^31:
// no step saturates and the chain is the exact doubled sum.
bool speechPredictorsBounded() {
  for (int mode = 0; mode < 2; ++mode) {
    for (int j = 0; j < kM; ++j) {
      int32_t sum = kLspMaPredSum[mode][j];
      bool positive = sum >= 0;
      for (int k = 0; k < kLsfMaFrames; ++k) {
        sum += kLspMaPredictor[mode][k][j];
        positive = positive && kLspMaPredictor[mode][k][j] >= 0;
      }
      if (!positive || sum > 32767) return false;
    }
  }
  return true;
}

// lsfPredict with a speech predictor: the exact sums, whose doubled upper
// word is the sum >> 15.
void lsfPredictSpeech(const Word16* residual, const Word16* mem, int mode, Word16* lsf) {
  static const bool bounded = speechPredictorsBounded();
  const LsfPredictor p = lsfSpeechPredictor(mode);
  if (!bounded) {
    lsfPredict(residual, mem, p, lsf);
    return;
  }
  int j = 0;
#if defined(__SSE2__)
  // Outputs 0-7: each madd pairs two of the five products (no pair reaches
  // 2^31 in magnitude with coefficients below 2^15).
  auto load = [](const int16_t* x) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(x)); };
  const __m128i zero = _mm_setzero_si128();
  __m128i lo = zero, hi = zero;
  auto pairs = [&](__m128i x0, __m128i c0, __m128i x1, __m128i c1) {
    lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(x0, x1), _mm_unpacklo_epi16(c0, c1)));
    hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(x0, x1), _mm_unpackhi_epi16(c0, c1)));
  };
  pairs(load(residual), load(p.current), load(mem), load(p.past[0]));
  pairs(load(mem + kM), load(p.past[1]), load(mem + 2 * kM), load(p.past[2]));
  pairs(load(mem + 3 * kM), load(p.past[3]), zero, zero);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lsf), _mm_packs_epi32(_mm_srai_epi32(lo, 15), _mm_srai_epi32(hi, 15)));
  j = 8;
#endif
  for (; j < kM; ++j) {
    int32_t acc = int32_t{residual[j]} * p.current[j];
    for (int k = 0; k < kLsfMaFrames; ++k) acc += int32_t{mem[k * kM + j]} * p.past[k][j];
    lsf[j] = static_cast<Word16>(acc >> 15);
  }
}

}  // namespace

// The inverse: what the past frames do not explain, times the reciprocal
// of the new residual's weight (Q12, hence the final shift by 3).
void lsfResidual(const Word16* lsf, const Word16* mem, const LsfPredictor& p, Word16* residual) {
  for (int j = 0; j < kM; ++j) {
    Word32 left = L_deposit_h(lsf[j]);
    for (int k = 0; k < kLsfMaFrames; ++k) left = L_msu(left, mem[k * kM + j], p.past[k][j]);
    residual[j] = extract_h(L_shl(L_mult(extract_h(left), p.currentInv[j]), 3));
  }
}

void lsfPushResidual(const Word16* residual, Word16* mem) {
  std::memmove(mem + kM, mem, (kLsfMaFrames - 1) * kM * sizeof(Word16));
  std::memcpy(mem, residual, kM * sizeof(Word16));
}

namespace {

// The weight of a coefficient grows with the crowding of its neighbours:
// with the spacing s = (upper neighbour - lower neighbour) - 1.0 (Q13;
// the lowest coefficient's lower neighbour is 0.04 pi, the highest one's
// upper neighbour 0.92 pi), w = 1 for s > 0 and 1 + 10 s^2 otherwise
// (Q11, s^2 taken to Q13 first).
inline Word16 crowdingWeight(Word16 spacing) {
  if (spacing > 0) return 2048;
  const Word16 square = extract_h(L_shl(L_mult(spacing, spacing), 2));
  return add(extract_h(L_shl(L_mult(square, 10 * 2048), 2)), 2048);
}

}  // namespace

// Crowding weights; the 5th and 6th coefficients count 1.2 times more,
// and the set is scaled up by the shift that normalises its largest member.
void lsfWeights(const Word16* lsf, Word16* w) {
  constexpr Word16 kOne = 8192, kLowEdge = 1029, kHighEdgeLessOne = 23677 - 8192, kBoost = 19661;
  for (int i = 0; i < kM; ++i) {
    const Word16 below = i == 0 ? kLowEdge : lsf[i - 1];
    const Word16 spacing = i == kM - 1 ? sub(kHighEdgeLessOne, below) : sub(sub(lsf[i + 1], below), kOne);
    w[i] = crowdingWeight(spacing);
  }
  for (int i : {4, 5}) w[i] = extract_h(L_shl(L_mult(w[i], kBoost), 1));
  Word16 largest = 0;
  for (int i = 0; i < kM; ++i) largest = w[i] > largest ? w[i] : largest;
  const Word16 up = norm_s(largest);
  for (int i = 0; i < kM; ++i) w[i] = shl(w[i], up);
}

namespace {

// The codebooks by coefficient, so that one coefficient of every entry
// lies in consecutive words (the searches run over the entries in lanes):
// stage1[j][i] and stage2[j][k] hold coefficient j of entry i (k); pairs[p]
// holds coefficients 2p and 2p+1 of entry i at 2i and 2i+1.  low, high: the
// range of each first-stage coefficient; stage2Peak: the largest magnitude
// in the second stage.
struct ColumnCodebooks {
  alignas(32) int16_t stage1[kM][kStage1Size];
  alignas(32) int16_t pairs[kNc][2 * kStage1Size];
  alignas(32) int16_t stage2[kM][kStage2Size];
  // stage2Pairs[h][q]: coefficients 5h + 2q and 5h + 2q + 1 of entry k at
  // 2k and 2k + 1 (the second 0 past the half's five).
  alignas(32) int16_t stage2Pairs[2][3][2 * kStage2Size];
  int16_t low[kM], high[kM];
  int32_t stage2Peak;
};

const ColumnCodebooks& columns() {
  static const ColumnCodebooks c = [] {
    ColumnCodebooks t{};
    for (int j = 0; j < kM; ++j) {
      t.low[j] = t.high[j] = kLspStage1Codebook[0][j];
      for (int i = 0; i < kStage1Size; ++i) {
        const int16_t v = kLspStage1Codebook[i][j];
        t.stage1[j][i] = v;
        t.pairs[j / 2][2 * i + (j & 1)] = v;
        t.low[j] = v < t.low[j] ? v : t.low[j];
        t.high[j] = v > t.high[j] ? v : t.high[j];
      }
      for (int k = 0; k < kStage2Size; ++k) {
        const int16_t v = kLspStage2Codebook[k][j];
        t.stage2[j][k] = v;
        t.stage2Pairs[j / kNc][(j % kNc) / 2][2 * k + (j % kNc) % 2] = v;
        const int32_t m = v < 0 ? -int32_t{v} : v;
        t.stage2Peak = m > t.stage2Peak ? m : t.stage2Peak;
      }
    }
    return t;
  }();
  return c;
}

// Index of the first smallest of n sums of non-negative terms, each taken
// as the doubled L_mac chain would leave it: sums of 2^30 and above all
// saturate to the same value, so the first entry wins when every one does.
inline int firstSmallest(const int32_t* sum, int n) {
  int best = 0;
  int32_t least = 0x40000000;
  for (int i = 0; i < n; ++i) {
    const int32_t v = sum[i] < 0x40000000 ? sum[i] : 0x40000000;
    if (v < least) {
      least = v;
      best = i;
    }
  }
  return best;
}

// Second-stage distances of the 32 entries over coefficients from..from+4
// in 32-bit lanes, when the bound below holds; -1 otherwise.  With
// |buf[j]| + stage2Peak <= 20724 no difference t saturates, |mult(w, t)|
// <= |t| (0 <= w < 2^15), so each term mult(w, t) t lies in [0, 20724^2]
// and five of them stay below 2^31: the plain sums are exact.
__attribute__((always_inline)) inline int stage2LanesBody(const Word16* buf, const Word16* w, int from) {
  const ColumnCodebooks& c = columns();
  for (int j = from; j < from + kNc; ++j) {
    const int32_t m = buf[j] < 0 ? -int32_t{buf[j]} : buf[j];
    if (m + c.stage2Peak > 20724) return -1;
  }
  int32_t acc[kStage2Size] = {};
  for (int j = from; j < from + kNc; ++j) {
    const int32_t b = buf[j], wj = w[j];
    const int16_t* col = c.stage2[j];
    for (int k = 0; k < kStage2Size; ++k) {
      const int16_t t = static_cast<int16_t>(b - col[k]);
      const int16_t p = static_cast<int16_t>((wj * t) >> 15);
      acc[k] += int32_t{p} * t;
    }
  }
  return firstSmallest(acc, kStage2Size);
}

// A chain of L_mac over non-negative products only rises, so it saturates
// exactly when its exact total leaves 31 bits.
inline Word32 nonNegativeChain(int64_t sumOfProducts) {
  const int64_t v = 2 * sumOfProducts;
  return v > kMax32 ? kMax32 : static_cast<Word32>(v);
}

}  // namespace

int lspStage2Search_scalar(const Word16* buf, const Word16* w, int from) { return stage2LanesBody(buf, w, from); }
#if defined(__x86_64__) || defined(__i386__)
// The same sums with two coefficients per 32-bit lane: t = b - col in
// 16-bit lanes (no wrap under the bound), mult(w, t) = (w t) >> 15 from
// the high and low halves of the product (it fits 16 bits, |p| <= |t|),
// and madd forms p t of both coefficients at once.  The fifth coefficient
// is paired with a zero column, weight and target.
__attribute__((target("avx2"))) int lspStage2Search_avx2(const Word16* buf, const Word16* w, int from) {
  const ColumnCodebooks& c = columns();
  for (int j = from; j < from + kNc; ++j) {
    const int32_t m = buf[j] < 0 ? -int32_t{buf[j]} : buf[j];
    if (m + c.stage2Peak > 20724) return -1;
  }
  const int h = from / kNc;
  __m256i acc[4] = {};
  for (int q = 0; q < 3; ++q) {
    const int j = from + 2 * q;
    const bool second = 2 * q + 1 < kNc;
    const uint16_t b0 = static_cast<uint16_t>(buf[j]), w0 = static_cast<uint16_t>(w[j]);
    const uint16_t b1 = second ? static_cast<uint16_t>(buf[j + 1]) : 0;
    const uint16_t w1 = second ? static_cast<uint16_t>(w[j + 1]) : 0;
    const __m256i bv = _mm256_set1_epi32(static_cast<int32_t>(b0 | uint32_t{b1} << 16));
    const __m256i wv = _mm256_set1_epi32(static_cast<int32_t>(w0 | uint32_t{w1} << 16));
    for (int blk = 0; blk < 4; ++blk) {
      const __m256i col = _mm256_load_si256(reinterpret_cast<const __m256i*>(c.stage2Pairs[h][q] + 16 * blk));
      const __m256i t = _mm256_sub_epi16(bv, col);
      const __m256i p = _mm256_or_si256(_mm256_slli_epi16(_mm256_mulhi_epi16(wv, t), 1),
                                        _mm256_srli_epi16(_mm256_mullo_epi16(wv, t), 15));
      acc[blk] = _mm256_add_epi32(acc[blk], _mm256_madd_epi16(p, t));
    }
  }
  // firstSmallest: the sums clamped at 2^30, the least, then its first entry.
  const __m256i cap = _mm256_set1_epi32(0x40000000);
  __m256i least = cap;
  for (__m256i& a : acc) {
    a = _mm256_min_epi32(a, cap);
    least = _mm256_min_epi32(least, a);
  }
  least = _mm256_min_epi32(least, _mm256_shuffle_epi32(least, 0x4E));
  least = _mm256_min_epi32(least, _mm256_shuffle_epi32(least, 0xB1));
  least = _mm256_min_epi32(least, _mm256_permute2x128_si256(least, least, 1));
  for (int blk = 0; blk < 4; ++blk) {
    const unsigned hit =
        static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(acc[blk], least))));
    if (hit) return 8 * blk + __builtin_ctz(hit);
  }
  return 0;
}
#else
int lspStage2Search_avx2(const Word16* buf, const Word16* w, int from) { return stage2LanesBody(buf, w, from); }
#endif

namespace {

inline int stage2Lanes(const Word16* buf, const Word16* w, int from) {
  static const auto form = voksc::cpu::choose(lspStage2Search_scalar, lspStage2Search_avx2);
  return form(buf, w, from);
}

// Second-stage search over one half (entries from..to-1): weighted distance
// with mult(w, t) t, where mult(w, t) has the sign of t (w >= 0), so every
// product is non-negative.
int stage2Search(const Word16* target, const Word16* cb1, const Word16* w, int from, int to) {
  Word16 buf[kM];
  for (int j = from; j < to; ++j) buf[j] = sub(target[j], cb1[j]);
  if (int index = stage2Lanes(buf, w, from); index >= 0) return index;
  int index = 0;
  Word32 dmin = kMax32;
  for (int k = 0; k < kStage2Size; ++k) {
    int64_t acc = 0;
    for (int j = from; j < to; ++j) {
      const Word16 t = sub(buf[j], kLspStage2Codebook[k][j]);
      acc += int32_t{mult(w[j], t)} * t;
    }
    const Word32 d = nonNegativeChain(acc);
    if (d < dmin) {
      dmin = d;
      index = k;
    }
  }
  return index;
}

Word32 weightedDistance(const Word16* w, const Word16* buf, const Word16* target, int mode) {
  Word32 dist = 0;
  for (int j = 0; j < kM; ++j) {
    const Word16 t = mult(sub(buf[j], target[j]), kLspMaPredSum[mode][j]);
    const Word16 t2 = extract_h(L_shl(L_mult(w[j], t), 4));
    dist = L_mac(dist, t2, t);
  }
  return dist;
}

void packIndices(int mode, const int* cand, const int* t1, const int* t2, Word16* idx) {
  idx[0] = static_cast<Word16>(mode);
  idx[1] = static_cast<Word16>(cand[mode]);
  idx[2] = static_cast<Word16>(t1[mode]);
  idx[3] = static_cast<Word16>(t2[mode]);
}

}  // namespace

int lspStage1Search_scalar(const Word16* target) {
  // Coefficient by coefficient over all entries when no difference can
  // reach 16 bits and the ten squares of the farthest entry of every
  // column add up below 2^31: then the 32-bit sums are exact and clamping
  // them once equals the chain's saturation.
  const ColumnCodebooks& c = columns();
  int64_t bound = 0;
  for (int j = 0; j < kM; ++j) {
    const int32_t up = int32_t{target[j]} - c.low[j], down = int32_t{c.high[j]} - target[j];
    const int32_t far = up > down ? up : down;
    bound += int64_t{far} * far;
    if (far > 32767) bound = int64_t{1} << 40;
  }
  if (bound < (int64_t{1} << 31)) {
    int32_t acc[kStage1Size] = {};
    for (int j = 0; j < kM; ++j) {
      const int32_t t = target[j];
      const int16_t* col = c.stage1[j];
      for (int i = 0; i < kStage1Size; ++i) {
        const int16_t d = static_cast<int16_t>(t - col[i]);
        acc[i] += int32_t{d} * d;
      }
    }
    return firstSmallest(acc, kStage1Size);
  }
  int cand = 0;
  Word32 dmin = kMax32;
  for (int i = 0; i < kStage1Size; ++i) {
    int32_t acc = 0;  // ten squares of 16-bit values stay below 2^34: clamp at 2^30
    int64_t wide = 0;
    for (int j = 0; j < kM; ++j) {
      const int32_t t = sat16(int32_t{target[j]} - kLspStage1Codebook[i][j]);
      wide += t * t;
    }
    acc = static_cast<int32_t>(wide > 0x40000000 ? 0x40000000 : wide);
    const Word32 d = acc >= 0x40000000 ? kMax32 : 2 * acc;
    if (d < dmin) {
      dmin = d;
      cand = i;
    }
  }
  return cand;
}

#if defined(__x86_64__) || defined(__i386__)
// Eight codebook vectors per step: lane k holds vector i + k, one pair of
// coefficients per load from the pair-major copy.  The saturating 16-bit
// difference and madd give the pair's sum of squares (at most 2^31,
// unsigned), and the running sum is clamped at 2^30, where the doubled
// chain saturates; exact for every target.
__attribute__((target("avx2"))) int lspStage1Search_avx2(const Word16* target) {
  alignas(32) int32_t dist[kStage1Size];
  const ColumnCodebooks& c = columns();
  const __m256i limit = _mm256_set1_epi32(0x40000000);
  __m256i tp[kNc];
  for (int p = 0; p < kNc; ++p) {
    int32_t pair;
    std::memcpy(&pair, target + 2 * p, sizeof pair);
    tp[p] = _mm256_set1_epi32(pair);
  }
  __m256i least = limit;
  for (int i = 0; i < kStage1Size; i += 8) {
    __m256i s = _mm256_setzero_si256();
    for (int p = 0; p < kNc; ++p) {
      const __m256i cb = _mm256_load_si256(reinterpret_cast<const __m256i*>(c.pairs[p] + 2 * i));
      const __m256i d = _mm256_subs_epi16(tp[p], cb);
      s = _mm256_min_epu32(_mm256_add_epi32(s, _mm256_madd_epi16(d, d)), limit);
    }
    least = _mm256_min_epi32(least, s);
    _mm256_store_si256(reinterpret_cast<__m256i*>(dist + i), s);
  }
  // The smallest clamped sum, then the first vector that has it.
  least = _mm256_min_epi32(least, _mm256_shuffle_epi32(least, 0x4E));
  least = _mm256_min_epi32(least, _mm256_shuffle_epi32(least, 0xB1));
  least = _mm256_min_epi32(least, _mm256_permute2x128_si256(least, least, 1));
  for (int i = 0; i < kStage1Size; i += 8) {
    const __m256i eq = _mm256_cmpeq_epi32(_mm256_load_si256(reinterpret_cast<const __m256i*>(dist + i)), least);
    const int mask = _mm256_movemask_ps(_mm256_castsi256_ps(eq));
    if (mask != 0) return i + __builtin_ctz(static_cast<unsigned>(mask));
  }
  return 0;
}
#else
int lspStage1Search_avx2(const Word16* target) { return lspStage1Search_scalar(target); }
#endif

namespace {
inline int stage1Search(const Word16* target) {
  static const auto form = voksc::cpu::choose(lspStage1Search_scalar, lspStage1Search_avx2);
  return form(target);
}
}  // namespace

int lsfStability(Word16* buf) {
  int flags = 0;
  for (int j = 0; j < kM - 1; ++j) {
    if (buf[j + 1] < buf[j]) {
      const Word16 t = buf[j + 1];
      buf[j + 1] = buf[j];
      buf[j] = t;
    }
  }
  if (buf[0] < kLsfFloor) {
    buf[0] = kLsfFloor;
    flags |= 1;
  }
  for (int j = 0; j < kM - 1; ++j)
    if (Word32{buf[j + 1]} - buf[j] < kGap3) buf[j + 1] = add(buf[j], kGap3);
  if (buf[kM - 1] > kLsfCeiling) {
    buf[kM - 1] = kLsfCeiling;
    flags |= 2;
  }
  return flags;
}

int lsfDecode(const Word16* idx, Word16* mem, Word16* lsf, Word16* residualOut) {
  const int mode = idx[0];
  const Word16* cb1 = kLspStage1Codebook[idx[1]];
  Word16 buf[kM];
  for (int j = 0; j < kNc; ++j) buf[j] = add(cb1[j], kLspStage2Codebook[idx[2]][j]);
  for (int j = kNc; j < kM; ++j) buf[j] = add(cb1[j], kLspStage2Codebook[idx[3]][j]);
  lsfSpread(buf, kGap1, 1, kM);
  lsfSpread(buf, kGap2, 1, kM);
  lsfPredictSpeech(buf, mem, mode, lsf);
  lsfPushResidual(buf, mem);
  if (residualOut) std::memcpy(residualOut, buf, sizeof buf);
  return lsfStability(lsf);
}

void lsfQuantise(const Word16* lsf, Word16* mem, Word16* lsfq, Word16* idx, Word16* residualOut) {
  Word16 w[kM];
  lsfWeights(lsf, w);
  int cand[2], t1[2], t2[2];
  Word32 dist[2];
  for (int mode = 0; mode < 2; ++mode) {
    Word16 target[kM], buf[kM];
    lsfResidual(lsf, mem, lsfSpeechPredictor(mode), target);
    cand[mode] = stage1Search(target);
    const Word16* cb1 = kLspStage1Codebook[cand[mode]];
    t1[mode] = stage2Search(target, cb1, w, 0, kNc);
    for (int j = 0; j < kNc; ++j) buf[j] = add(cb1[j], kLspStage2Codebook[t1[mode]][j]);
    lsfSpread(buf, kGap1, 1, kNc);
    t2[mode] = stage2Search(target, cb1, w, kNc, kM);
    for (int j = kNc; j < kM; ++j) buf[j] = add(cb1[j], kLspStage2Codebook[t2[mode]][j]);
    lsfSpread(buf, kGap1, kNc, kM);
    lsfSpread(buf, kGap2, 1, kM);
    dist[mode] = weightedDistance(w, buf, target, mode);
  }
  packIndices(dist[1] < dist[0] ? 1 : 0, cand, t1, t2, idx);
  lsfDecode(idx, mem, lsfq, residualOut);
}

// The same quantiser with every distance formed by the saturating operators
// one product at a time, as the standard writes it.
void lsfQuantiseChain(const Word16* lsf, Word16* mem, Word16* lsfq, Word16* idx, Word16* residualOut) {
  Word16 w[kM];
  lsfWeights(lsf, w);
  int cand[2], t1[2], t2[2];
  Word32 dist[2];
  for (int mode = 0; mode < 2; ++mode) {
    Word16 target[kM], buf[kM];
    lsfResidual(lsf, mem, lsfSpeechPredictor(mode), target);
    cand[mode] = 0;
    Word32 dmin = kMax32;
    for (int i = 0; i < kStage1Size; ++i) {
      Word32 acc = 0;
      for (int j = 0; j < kM; ++j) {
        const Word16 t = sub(target[j], kLspStage1Codebook[i][j]);
        acc = L_mac(acc, t, t);
      }
      if (L_sub(acc, dmin) < 0) {
        dmin = acc;
        cand[mode] = i;
      }
    }
    const Word16* cb1 = kLspStage1Codebook[cand[mode]];
    int* halves[2] = {t1, t2};
    for (int h = 0; h < 2; ++h) {
      const int from = h * kNc, to = from + kNc;
      for (int j = from; j < to; ++j) buf[j] = sub(target[j], cb1[j]);
      int best = 0;
      dmin = kMax32;
      for (int k = 0; k < kStage2Size; ++k) {
        Word32 acc = 0;
        for (int j = from; j < to; ++j) {
          const Word16 t = sub(buf[j], kLspStage2Codebook[k][j]);
          acc = L_mac(acc, mult(w[j], t), t);
        }
        if (L_sub(acc, dmin) < 0) {
          dmin = acc;
          best = k;
        }
      }
      halves[h][mode] = best;
    }
    for (int j = 0; j < kNc; ++j) buf[j] = add(cb1[j], kLspStage2Codebook[t1[mode]][j]);
    lsfSpread(buf, kGap1, 1, kNc);
    for (int j = kNc; j < kM; ++j) buf[j] = add(cb1[j], kLspStage2Codebook[t2[mode]][j]);
    lsfSpread(buf, kGap1, kNc, kM);
    lsfSpread(buf, kGap2, 1, kM);
    dist[mode] = weightedDistance(w, buf, target, mode);
  }
  packIndices(L_sub(dist[1], dist[0]) < 0 ? 1 : 0, cand, t1, t2, idx);
  lsfDecode(idx, mem, lsfq, residualOut);
}

void lsfErased(int mode, Word16* mem, const Word16* lastLsf) {
  Word16 buf[kM];
  lsfResidual(lastLsf, mem, lsfSpeechPredictor(mode), buf);
  lsfPushResidual(buf, mem);
}

bool lsfIndicesValid(const int16_t* idx) {
  static constexpr int kLimit[4] = {2, kStage1Size, kStage2Size, kStage2Size};
  for (int k = 0; k < 4; ++k)
    if (idx[k] < 0 || idx[k] >= kLimit[k]) return false;
  return true;
}

}  // namespace voksc::g729

using namespace voksc::g729;

VOKSC_EXPORT VokResult voksLSFQuant_G729_16s(const Vok16s* lsf, Vok16s* mem, Vok16s* lsfq, Vok16s* idx) {
  if (anyNull(lsf, mem, lsfq, idx)) return vokErrNullPtr;
  lsfQuantise(lsf, mem, lsfq, idx, nullptr);
  return vokOk;
}

namespace {
// LSP -> LSF, quantiser, LSF -> LSP; memory and outputs written only when
// the conversion back succeeds.
VokResult lspQuant(const Vok16s* lsp, Vok16s* mem, Vok16s* residual, Vok16s* lspq, Vok16s* packed) {
  Word16 lsf[kLpOrder], lsfq[kLpOrder], idx[4], m[4 * kLpOrder], res[kLpOrder], q[kLpOrder];
  lspToLsf(lsp, lsf);
  std::memcpy(m, mem, sizeof m);
  lsfQuantise(lsf, m, lsfq, idx, res);
  if (lsfToLsp(lsfq, q) >= 0) return vokErrDomain;
  std::memcpy(mem, m, sizeof m);
  std::memcpy(lspq, q, sizeof q);
  if (residual) std::memcpy(residual, res, sizeof res);
  packed[0] = static_cast<Vok16s>((idx[0] << 7) | idx[1]);
  packed[1] = static_cast<Vok16s>((idx[2] << 5) | idx[3]);
  return vokOk;
}
}  // namespace

VOKSC_EXPORT VokResult voksLSPQuant_G729_16s(const Vok16s* lsp, Vok16s* mem, Vok16s* lspq, Vok16s* packed) {
  if (anyNull(lsp, mem, lspq, packed)) return vokErrNullPtr;
  return lspQuant(lsp, mem, nullptr, lspq, packed);
}

VOKSC_EXPORT VokResult voksLSPQuant_G729E_16s(const Vok16s* lsp, Vok16s* mem, Vok16s* residual, Vok16s* lspq,
                                              Vok16s* packed) {
  if (anyNull(lsp, mem, residual, lspq, packed)) return vokErrNullPtr;
  return lspQuant(lsp, mem, residual, lspq, packed);
}

VOKSC_EXPORT VokResult voksLSFDecode_G729_16s(const Vok16s* idx, Vok16s* mem, Vok16s* lsf) {
  if (anyNull(idx, mem, lsf)) return vokErrNullPtr;
  if (!lsfIndicesValid(idx)) return vokErrIndex;
  static constexpr VokResult kStatus[4] = {vokOk, vokWrnLsfFloor, vokWrnLsfCeiling, vokWrnLsfFloorCeiling};
  return kStatus[lsfDecode(idx, mem, lsf, nullptr)];
}

VOKSC_EXPORT VokResult voksLSFDecodeErased_G729_16s(int mode, Vok16s* mem, const Vok16s* lastLsf) {
  if (anyNull(mem, lastLsf)) return vokErrNullPtr;
  if (mode != 0 && mode != 1) return vokErrIndex;
  lsfErased(mode, mem, lastLsf);
  return vokOk;
}
