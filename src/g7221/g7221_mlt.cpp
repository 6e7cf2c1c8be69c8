// G.722.1 modulated lapped transform: the fixed-point type-IV DCT in both
// directions (with the offsets and the dither of the 320-point forms) and the
// window/fold steps that connect frames of samples with DCT blocks.
//
// The transform of N = 10 * 2^L points runs in three phases:
//  1. L levels of sum/difference butterflies split the block into 2^L
//     sub-blocks of 10 (each level halves the block size: the sums go to the
//     lower half in order, the differences to the upper half in reverse);
//  2. a 10x10 kernel transforms every sub-block (rounded product sums);
//  3. L levels of rotations merge the sub-blocks back, smallest first: a
//     block of size s takes its lower and upper halves pairwise, rotates each
//     even/odd pair by a tabled (cos, -sin) and writes the results from both
//     ends of the block inwards.
// Every stage rounds to 16 bits, so the result depends on this exact staging.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "common/basic_op.h"
#include "core/status.h"
#include "core/cpu.h"
#include "g7221_mlt.h"
#include "g7221_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g7221 {
namespace {

constexpr int kMaxLen = 640;
constexpr int kCore = 10;

struct Rotations {
  const int16_t* cosine;
  const int16_t* minusSine;
};

// Rotation tables by merge level: level t merges blocks of 20 << t.
constexpr Rotations kForwardRot[6] = {{kFwdCos20, kFwdMsin20},   {kFwdCos40, kFwdMsin40},
                                      {kFwdCos80, kFwdMsin80},   {kFwdCos160, kFwdMsin160},
                                      {kFwdCos320, kFwdMsin320}, {kFwdCos640, kFwdMsin640}};
constexpr Rotations kInverseRot[6] = {{kInvCos20, kInvMsin20},   {kInvCos40, kInvMsin40},
                                      {kInvCos80, kInvMsin80},   {kInvCos160, kInvMsin160},
                                      {kInvCos320, kInvMsin320}, {kInvCos640, kInvMsin640}};

// One split level over blocks of `span`: butterfly(a, b, position, lo, hi)
// forms the pair's two results from consecutive inputs a, b.
template <class Butterfly>
void splitLevel(const int16_t* in, int16_t* out, int len, int span, Butterfly butterfly) {
  for (int base = 0; base < len; base += span) {
    for (int j = 0; j < span / 2; ++j) {
      const int at = base + 2 * j;
      butterfly(in[at], in[at + 1], at, out[base + j], out[base + span - 1 - j]);
    }
  }
}

// Largest sum of |core[i][k]| over the columns k of a kernel.
int columnBound(const int16_t (*core)[kCore]) {
  int most = 0;
  for (int k = 0; k < kCore; ++k) {
    int sum = 0;
    for (int i = 0; i < kCore; ++i) sum += core[i][k] < 0 ? -core[i][k] : core[i][k];
    most = sum > most ? sum : most;
  }
  return most;
}

int64_t kernelBound(const int16_t (*core)[kCore]) {
  static const int fwdBound = columnBound(kFwdCore), invBound = columnBound(kInvCore);
  return core == kFwdCore ? fwdBound : invBound;
}

// Whether a sub-block whose magnitudes stay at or below peak keeps every
// doubled partial sum of the kernel inside 32 bits (no kernel entry is
// -32768, so no doubled product saturates either): then the plain sum is
// the saturating chain's value.
bool sumsStayExact(int peak, int64_t bound) { return 2 * peak * bound < (int64_t{1} << 31); }

// The 10-point kernel on one sub-block as the saturating chain of doubled
// products, rounded.
void chainBlock(const int16_t* x, int16_t* y, const int16_t (*core)[kCore]) {
  for (int k = 0; k < kCore; ++k) {
    Word32 acc = 0;
    for (int i = 0; i < kCore; ++i) acc = L_mac(acc, x[i], core[i][k]);
    y[k] = round_fx(acc);
  }
}

// The 10-point kernel on every sub-block: out[k] = round(sum_i x[i] core[i][k]),
// the sum a saturating chain of doubled products.  A sub-block within the
// kernel's bound takes the plain sum.
void coreLevel(const int16_t* in, int16_t* out, int len, const int16_t (*core)[kCore]) {
  const int64_t bound = kernelBound(core);
  for (int base = 0; base < len; base += kCore) {
    int peak = 0;
    for (int i = 0; i < kCore; ++i) {
      const int a = in[base + i] < 0 ? -in[base + i] : in[base + i];
      peak = a > peak ? a : peak;
    }
    if (!sumsStayExact(peak, bound)) {
      chainBlock(in + base, out + base, core);
      continue;
    }
    for (int k = 0; k < kCore; ++k) {
      int32_t acc = 0;
      for (int i = 0; i < kCore; ++i) acc += in[base + i] * core[i][k];
      out[base + k] = round_fx(2 * acc);
    }
  }
}

// One rotated output: the doubled products' saturating sum, narrowed by
// round_fx (shift 15) or round_fx after a saturating doubling (shift 14).
// No rotation entry (nor its negation) is -32768, so neither product
// saturates and both 32-bit saturations fold into the final clamp:
// clamp16((m + 2^(shift-1)) >> shift) of the exact sum m (|m| < 2^31).
inline int16_t rotated(int16_t a, int16_t x, int16_t b, int16_t y, int shift) {
  const int32_t m = int32_t{a} * x + int32_t{b} * y;
  const int32_t r = (m + (1 << (shift - 1))) >> shift;
  return static_cast<int16_t>(r > 32767 ? 32767 : (r < -32768 ? -32768 : r));
}

// One merge level over blocks of `span` with its rotation table.
void mergeLevel(const int16_t* in, int16_t* out, int len, int span, const Rotations& rot, int shift) {
  const int half = span / 2;
  for (int base = 0; base < len; base += span) {
    const int16_t* low = in + base;
    const int16_t* high = in + base + half;
    int16_t* dst = out + base;
    for (int j = 0; j < half; j += 2) {
      const int16_t c0 = rot.cosine[j], s0 = rot.minusSine[j];
      const int16_t c1 = rot.cosine[j + 1], s1 = rot.minusSine[j + 1];
      dst[j] = rotated(c0, low[j], negate(s0), high[j], shift);
      dst[span - 1 - j] = rotated(s0, low[j], c0, high[j], shift);
      dst[j + 1] = rotated(c1, low[j + 1], s1, high[j + 1], shift);
      dst[span - 2 - j] = rotated(s1, low[j + 1], negate(c1), high[j + 1], shift);
    }
  }
}

int levelsOf(int len) { return len == 320 ? 5 : 6; }

// Phases 1-3 with the direction's first split butterfly (`first`), later
// split butterfly (`later`), kernel, rotations and their narrowing shift.  x holds the
// input on entry and is used as scratch; the result goes to dst.
template <class First, class Later>
void transform(int16_t* x, int16_t* dst, int len, First first, Later later, const int16_t (*core)[kCore],
               const Rotations* rot, int shift) {
  int16_t y[kMaxLen];
  const int levels = levelsOf(len);
  int16_t* cur = x;
  int16_t* nxt = y;
  for (int l = 0; l < levels; ++l) {
    if (l == 0)
      splitLevel(cur, nxt, len, len, first);
    else
      splitLevel(cur, nxt, len, len >> l, later);
    std::swap(cur, nxt);
  }
  coreLevel(cur, nxt, len, core);
  std::swap(cur, nxt);
  for (int t = 0; t < levels; ++t) {
    int16_t* target = t == levels - 1 ? dst : nxt;
    mergeLevel(cur, target, len, 20 << t, rot[t], shift);
    std::swap(cur, nxt);
  }
}

// Forward split: halved sum and halved difference (never saturate).
void halvedButterfly(int16_t a, int16_t b, int, int16_t& lo, int16_t& hi) {
  lo = static_cast<int16_t>((Word32{a} + b) >> 1);
  hi = static_cast<int16_t>((Word32{a} - b) >> 1);
}

}  // namespace

void forwardDctScalar(const int16_t* src, int16_t* dst, int len) {
  int16_t x[kMaxLen];
  for (int i = 0; i < len; ++i) x[i] = len == 320 ? add(src[i], kFwdOffset[i]) : src[i];
  transform(x, dst, len, halvedButterfly, halvedButterfly, kFwdCore, kForwardRot, 15);
}

void inverseDctScalar(const int16_t* src, int16_t* dst, int len) {
  int16_t x[kMaxLen];
  std::memcpy(x, src, sizeof(int16_t) * static_cast<size_t>(len));
  const int16_t* dither = len == 320 ? kInvDither320 : kInvDither640;
  // First split: the dither value of each output position is added (with
  // saturation) to the pair's first input before the halved sum/difference,
  // which are formed in 32 bits (the difference negates b exactly).
  auto first = [dither](int16_t a, int16_t b, int at, int16_t& lo, int16_t& hi) {
    lo = static_cast<int16_t>((Word32{add(a, dither[at])} + b) >> 1);
    hi = static_cast<int16_t>((Word32{add(a, dither[at + 1])} - b) >> 1);
  };
  // Later splits: full-scale saturating sum and difference.
  auto later = [](int16_t a, int16_t b, int, int16_t& lo, int16_t& hi) {
    lo = add(a, b);
    hi = add(a, negate(b));
  };
  // Rotations carry one more bit: round(acc << 1) with saturation (shift 14).
  transform(x, dst, len, first, later, kInvCore, kInverseRot, 14);
  if (len == 320)
    for (int i = 0; i < len; ++i) dst[i] = add(dst[i], kInvOffset[i]);
}

// Analysis fold: prev and cur are consecutive frames of len samples.  The
// first half of the block folds the previous frame about its middle, the
// second half the current frame about its ends, each weighted by the window
// from both of its ends.
void analysisFoldScalar(const int16_t* prev, const int16_t* cur, int16_t* out, int len) {
  const int16_t* w = len == 320 ? kAnalysisWindow320 : kAnalysisWindow640;
  const int half = len / 2;
  int16_t block[kMaxLen];
  for (int i = 0; i < half; ++i) {
    block[i] = round_fx(L_mac(L_mult(w[half - 1 - i], prev[half - 1 - i]), w[half + i], prev[half + i]));
    block[half + i] = round_fx(L_mac(L_mult(w[len - 1 - i], cur[i]), negate(w[i]), cur[len - 1 - i]));
  }
  std::memcpy(out, block, sizeof(int16_t) * static_cast<size_t>(len));
}

// Synthesis overlap-add: the first half of the new inverse block, mirrored
// and then in order, meets the kept half of the previous block, in order and
// then mirrored; the sums are scaled by 4 before rounding.
void synthesisFoldScalar(const int16_t* cur, const int16_t* kept, int16_t* out, int len) {
  const int16_t* w = len == 320 ? kSynthesisWindow320 : kSynthesisWindow640;
  const int half = len / 2;
  int16_t block[kMaxLen];
  for (int i = 0; i < half; ++i) {
    block[i] = round_fx(L_shl(L_mac(L_mult(w[i], cur[half - 1 - i]), w[len - 1 - i], kept[i]), 2));
    block[half + i] =
        round_fx(L_shl(L_mac(L_mult(w[half + i], cur[i]), negate(w[half - 1 - i]), kept[half - 1 - i]), 2));
  }
  std::memcpy(out, block, sizeof(int16_t) * static_cast<size_t>(len));
}

// ---- AVX2 forms ------------------------------------------------------------
// Every rounded stage above is, with no table entry equal to -32768, a
// saturation of exact integer sums: a pair of 16 x 16 products (madd) is
// exact in 32 bits, the doubled/shifted 32-bit saturations followed by the
// rounding collapse into one arithmetic shift of the exact sum plus its
// rounding bias, and the final 16-bit saturation is the signed pack.  So
// each vector stage returns the scalar stage's bits for every input.
#if defined(VOKSC_X86)
namespace {

constexpr int kRotPairs = 10 + 20 + 40 + 80 + 160 + 320;  // halves of all merge levels

// Weight pairs for the vector forms, built once from the tables.  Kernel:
// (core[2p][k], core[2p + 1][k]) for outputs k = 0..7, then k = 8, 9 and
// zeros.  Rotations: per merge position j the (low, high) weights of the
// output written at j ("front") and of the one written at span - 1 - j
// ("back").
struct VectorWeights {
  alignas(32) int16_t core[2][5][2][16];
  alignas(32) int32_t doubled[2][kCore][16];  // 2 * core[i][k], k = 0..9, then zeros
  alignas(32) int16_t front[2][2 * kRotPairs];
  alignas(32) int16_t back[2][2 * kRotPairs];
  int levelStart[6];
};

const VectorWeights& vectorWeights() {
  static const VectorWeights w = [] {
    VectorWeights v{};
    for (int dir = 0; dir < 2; ++dir) {
      const int16_t (*core)[kCore] = dir ? kInvCore : kFwdCore;
      for (int p = 0; p < 5; ++p)
        for (int k = 0; k < kCore; ++k) {
          v.core[dir][p][k / 8][2 * (k % 8)] = core[2 * p][k];
          v.core[dir][p][k / 8][2 * (k % 8) + 1] = core[2 * p + 1][k];
        }
      for (int i = 0; i < kCore; ++i)
        for (int k = 0; k < kCore; ++k) v.doubled[dir][i][k] = 2 * core[i][k];
      const Rotations* rot = dir ? kInverseRot : kForwardRot;
      int at = 0;
      for (int t = 0; t < 6; ++t) {
        v.levelStart[t] = at;
        const int half = 10 << t;
        for (int j = 0; j < half; ++j, ++at) {
          const int16_t c = rot[t].cosine[j], s = rot[t].minusSine[j];
          const bool even = (j & 1) == 0;
          v.front[dir][2 * at] = c;
          v.front[dir][2 * at + 1] = even ? negate(s) : s;
          v.back[dir][2 * at] = s;
          v.back[dir][2 * at + 1] = even ? c : negate(c);
        }
      }
    }
    return v;
  }();
  return w;
}

VOKSC_TARGET_AVX2 inline __m128i load8(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
VOKSC_TARGET_AVX2 inline __m256i load16(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
VOKSC_TARGET_AVX2 inline void store8(int16_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
// Eight 32-bit lanes to eight saturated 16-bit values, in order.
VOKSC_TARGET_AVX2 inline __m128i narrow8(__m256i v) {
  return _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}
VOKSC_TARGET_AVX2 inline __m128i reverse8(__m128i v) {
  return _mm_shuffle_epi8(v, _mm_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1));
}
// Lanes (a[k], b[k]) for k = 0..7, for madd.
VOKSC_TARGET_AVX2 inline __m256i interleave(__m128i a, __m128i b) {
  return _mm256_set_m128i(_mm_unpackhi_epi16(a, b), _mm_unpacklo_epi16(a, b));
}
// clamp16((m + 2^(shift-1)) >> shift) of exact 32-bit sums m.
template <int kShift>
VOKSC_TARGET_AVX2 inline __m128i roundShift(__m256i m) {
  return narrow8(_mm256_srai_epi32(_mm256_add_epi32(m, _mm256_set1_epi32(1 << (kShift - 1))), kShift));
}

// Position of the chunk of 8 starting at j0 inside a row of n >= 8: the last
// chunk is moved back to end at n (it recomputes a few outputs, with equal
// values, as input and output never share storage).
inline int chunkAt(int j0, int n) { return j0 + 8 <= n ? j0 : n - 8; }

enum class Split { kHalved, kDithered, kSaturating };

// One split level: pairs (a, b) = in[2j], in[2j + 1] of each block of span
// give lo at j and hi at span - 1 - j; the three butterflies of the scalar
// form, in 32-bit lanes.
template <Split kKind>
VOKSC_TARGET_AVX2 void splitLevelAvx2(const int16_t* in, int16_t* out, int len, int span, const int16_t* dither) {
  const int half = span / 2;
  const __m256i top = _mm256_set1_epi32(32767), bottom = _mm256_set1_epi32(-32768);
  for (int base = 0; base < len; base += span) {
    for (int j0 = 0; j0 < half; j0 += 8) {
      const int j = chunkAt(j0, half);
      const int at = base + 2 * j;
      const __m256i v = load16(in + at);
      const __m256i a = _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16), b = _mm256_srai_epi32(v, 16);
      __m256i lo, hi;
      if constexpr (kKind == Split::kHalved) {
        lo = _mm256_srai_epi32(_mm256_add_epi32(a, b), 1);
        hi = _mm256_srai_epi32(_mm256_sub_epi32(a, b), 1);
      } else if constexpr (kKind == Split::kDithered) {
        const __m256i d = load16(dither + at);
        const __m256i dLo = _mm256_srai_epi32(_mm256_slli_epi32(d, 16), 16), dHi = _mm256_srai_epi32(d, 16);
        const __m256i aLo = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(a, dLo), bottom), top);
        const __m256i aHi = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(a, dHi), bottom), top);
        lo = _mm256_srai_epi32(_mm256_add_epi32(aLo, b), 1);
        hi = _mm256_srai_epi32(_mm256_sub_epi32(aHi, b), 1);
      } else {
        lo = _mm256_add_epi32(a, b);  // saturated by the pack
        hi = _mm256_add_epi32(a, _mm256_min_epi32(_mm256_sub_epi32(_mm256_setzero_si256(), b), top));
      }
      store8(out + base + j, narrow8(lo));
      store8(out + base + span - 8 - j, reverse8(narrow8(hi)));
    }
  }
}

VOKSC_TARGET_AVX2 int peakOf(const int16_t* x, int len) {
  __m256i m = _mm256_setzero_si256();
  for (int i = 0; i < len; i += 16) m = _mm256_max_epu16(m, _mm256_abs_epi16(load16(x + i)));
  __m128i h = _mm_max_epu16(_mm256_castsi256_si128(m), _mm256_extracti128_si256(m, 1));
  h = _mm_max_epu16(h, _mm_srli_si128(h, 8));
  h = _mm_max_epu16(h, _mm_srli_si128(h, 4));
  h = _mm_max_epu16(h, _mm_srli_si128(h, 2));
  return _mm_extract_epi16(h, 0);
}

// 32-bit sums saturated as L_add saturates them.
VOKSC_TARGET_AVX2 inline __m256i addSaturated(__m256i a, __m256i b) {
  const __m256i s = _mm256_add_epi32(a, b);
  const __m256i over = _mm256_and_si256(_mm256_xor_si256(a, s), _mm256_xor_si256(b, s));
  const __m256i limit = _mm256_xor_si256(_mm256_srai_epi32(a, 31), _mm256_set1_epi32(0x7fffffff));
  return _mm256_castps_si256(
      _mm256_blendv_ps(_mm256_castsi256_ps(s), _mm256_castsi256_ps(limit), _mm256_castsi256_ps(over)));
}

// round_fx of eight 32-bit values: floor((acc + 2^15) / 2^16), formed as
// (floor(acc / 2^15) + 1) >> 1 so it cannot overflow, saturated by the pack.
VOKSC_TARGET_AVX2 inline __m128i roundHigh(__m256i acc) {
  return narrow8(_mm256_srai_epi32(_mm256_add_epi32(_mm256_srai_epi32(acc, 15), _mm256_set1_epi32(1)), 1));
}

// The saturating chain on one sub-block, all ten outputs at once: each
// doubled product is exact in 32 bits (no kernel entry is -32768) and is
// added with saturation in the chain's order.
VOKSC_TARGET_AVX2 void chainBlockAvx2(const int16_t* x, int16_t* y, const int32_t (*doubled)[16]) {
  __m256i first = _mm256_setzero_si256(), rest = _mm256_setzero_si256();
  for (int i = 0; i < kCore; ++i) {
    const __m256i v = _mm256_set1_epi32(x[i]);
    first = addSaturated(first, _mm256_mullo_epi32(v, _mm256_load_si256(reinterpret_cast<const __m256i*>(doubled[i]))));
    rest = addSaturated(rest, _mm256_mullo_epi32(v, _mm256_load_si256(reinterpret_cast<const __m256i*>(doubled[i] + 8))));
  }
  store8(y, roundHigh(first));
  const int32_t last = _mm_cvtsi128_si32(roundHigh(rest));
  std::memcpy(y + 8, &last, sizeof last);
}

// The kernel on every sub-block: each input pair broadcast against the
// weight pairs of outputs 0..7 and 8..9.  Sub-blocks beyond the bound (only
// looked at when the whole block's peak is) take the saturating chain.
VOKSC_TARGET_AVX2 void coreLevelAvx2(const int16_t* in, int16_t* out, int len, int dir) {
  const int16_t (*core)[kCore] = dir ? kInvCore : kFwdCore;
  const int64_t bound = kernelBound(core);
  const bool allExact = sumsStayExact(peakOf(in, len), bound);
  const int16_t (*w)[2][16] = vectorWeights().core[dir];
  for (int base = 0; base < len; base += kCore) {
    if (!allExact) {
      int peak = 0;
      for (int i = 0; i < kCore; ++i) peak = std::max(peak, std::abs(int{in[base + i]}));
      if (!sumsStayExact(peak, bound)) {
        chainBlockAvx2(in + base, out + base, vectorWeights().doubled[dir]);
        continue;
      }
    }
    __m256i first = _mm256_setzero_si256(), rest = _mm256_setzero_si256();
    for (int p = 0; p < 5; ++p) {
      int32_t pair;
      std::memcpy(&pair, in + base + 2 * p, sizeof pair);
      const __m256i x = _mm256_set1_epi32(pair);
      first = _mm256_add_epi32(first, _mm256_madd_epi16(x, load16(w[p][0])));
      rest = _mm256_add_epi32(rest, _mm256_madd_epi16(x, load16(w[p][1])));
    }
    store8(out + base, roundShift<15>(first));
    const int32_t last = _mm_cvtsi128_si32(roundShift<15>(rest));
    std::memcpy(out + base + 8, &last, sizeof last);
  }
}

// One merge level: (low[j], high[j]) against the front and back weights of j.
template <int kShift>
VOKSC_TARGET_AVX2 void mergeLevelAvx2(const int16_t* in, int16_t* out, int len, int span, const int16_t* front,
                                      const int16_t* back) {
  const int half = span / 2;
  for (int base = 0; base < len; base += span) {
    const int16_t* low = in + base;
    const int16_t* high = low + half;
    int16_t* dst = out + base;
    for (int j0 = 0; j0 < half; j0 += 8) {
      const int j = chunkAt(j0, half);
      const __m256i x = interleave(load8(low + j), load8(high + j));
      store8(dst + j, roundShift<kShift>(_mm256_madd_epi16(x, load16(front + 2 * j))));
      store8(dst + span - 8 - j, reverse8(roundShift<kShift>(_mm256_madd_epi16(x, load16(back + 2 * j)))));
    }
  }
}

// The merge phase of either direction; the last level writes dst.
template <int kShift>
VOKSC_TARGET_AVX2 void mergeAllAvx2(int16_t* cur, int16_t* nxt, int16_t* dst, int len, int dir) {
  const VectorWeights& w = vectorWeights();
  const int levels = levelsOf(len);
  for (int t = 0; t < levels; ++t) {
    int16_t* target = t == levels - 1 ? dst : nxt;
    const int at = 2 * w.levelStart[t];
    mergeLevelAvx2<kShift>(cur, target, len, 20 << t, w.front[dir] + at, w.back[dir] + at);
    std::swap(cur, nxt);
  }
}

}  // namespace

VOKSC_TARGET_AVX2 void forwardDctAvx2(const int16_t* src, int16_t* dst, int len) {
  alignas(32) int16_t x[kMaxLen], y[kMaxLen];
  for (int i = 0; i < len; i += 8) {
    const __m128i v = load8(src + i);
    store8(x + i, len == 320 ? _mm_adds_epi16(v, load8(kFwdOffset + i)) : v);
  }
  const int levels = levelsOf(len);
  int16_t* cur = x;
  int16_t* nxt = y;
  for (int l = 0; l < levels; ++l) {
    splitLevelAvx2<Split::kHalved>(cur, nxt, len, len >> l, nullptr);
    std::swap(cur, nxt);
  }
  coreLevelAvx2(cur, nxt, len, 0);
  mergeAllAvx2<15>(nxt, cur, dst, len, 0);
}

VOKSC_TARGET_AVX2 void inverseDctAvx2(const int16_t* src, int16_t* dst, int len) {
  alignas(32) int16_t x[kMaxLen], y[kMaxLen];
  const int levels = levelsOf(len);
  splitLevelAvx2<Split::kDithered>(src, x, len, len, len == 320 ? kInvDither320 : kInvDither640);
  int16_t* cur = x;
  int16_t* nxt = y;
  for (int l = 1; l < levels; ++l) {
    splitLevelAvx2<Split::kSaturating>(cur, nxt, len, len >> l, nullptr);
    std::swap(cur, nxt);
  }
  coreLevelAvx2(cur, nxt, len, 1);
  mergeAllAvx2<14>(nxt, cur, dst, len, 1);
  if (len == 320)
    for (int i = 0; i < len; i += 8) store8(dst + i, _mm_adds_epi16(load8(dst + i), load8(kInvOffset + i)));
}

// Eight outputs per step: each is one madd of (weight, sample) pairs.
VOKSC_TARGET_AVX2 void analysisFoldAvx2(const int16_t* prev, const int16_t* cur, int16_t* out, int len) {
  const int16_t* w = len == 320 ? kAnalysisWindow320 : kAnalysisWindow640;
  const int half = len / 2;
  const __m128i zero = _mm_setzero_si128();
  alignas(32) int16_t block[kMaxLen];
  for (int i = 0; i < half; i += 8) {
    const __m256i mid = _mm256_madd_epi16(interleave(reverse8(load8(w + half - 8 - i)), load8(w + half + i)),
                                          interleave(reverse8(load8(prev + half - 8 - i)), load8(prev + half + i)));
    store8(block + i, roundShift<15>(mid));
    const __m256i ends = _mm256_madd_epi16(interleave(reverse8(load8(w + len - 8 - i)), _mm_sub_epi16(zero, load8(w + i))),
                                           interleave(load8(cur + i), reverse8(load8(cur + len - 8 - i))));
    store8(block + half + i, roundShift<15>(ends));
  }
  std::memcpy(out, block, sizeof(int16_t) * static_cast<size_t>(len));
}

VOKSC_TARGET_AVX2 void synthesisFoldAvx2(const int16_t* cur, const int16_t* kept, int16_t* out, int len) {
  const int16_t* w = len == 320 ? kSynthesisWindow320 : kSynthesisWindow640;
  const int half = len / 2;
  const __m128i zero = _mm_setzero_si128();
  alignas(32) int16_t block[kMaxLen];
  for (int i = 0; i < half; i += 8) {
    const __m256i first = _mm256_madd_epi16(interleave(load8(w + i), reverse8(load8(w + len - 8 - i))),
                                            interleave(reverse8(load8(cur + half - 8 - i)), load8(kept + i)));
    store8(block + i, roundShift<13>(first));
    const __m256i second =
        _mm256_madd_epi16(interleave(load8(w + half + i), _mm_sub_epi16(zero, reverse8(load8(w + half - 8 - i)))),
                          interleave(load8(cur + i), reverse8(load8(kept + half - 8 - i))));
    store8(block + half + i, roundShift<13>(second));
  }
  std::memcpy(out, block, sizeof(int16_t) * static_cast<size_t>(len));
}
#else
void forwardDctAvx2(const int16_t* src, int16_t* dst, int len) { forwardDctScalar(src, dst, len); }
void inverseDctAvx2(const int16_t* src, int16_t* dst, int len) { inverseDctScalar(src, dst, len); }
void analysisFoldAvx2(const int16_t* prev, const int16_t* cur, int16_t* out, int len) {
  analysisFoldScalar(prev, cur, out, len);
}
void synthesisFoldAvx2(const int16_t* cur, const int16_t* kept, int16_t* out, int len) {
  synthesisFoldScalar(cur, kept, out, len);
}
#endif

}  // namespace voksc::g7221

using namespace voksc::g7221;

namespace {
bool badLength(int len) { return len != 320 && len != 640; }

using Kernel = void (*)(const int16_t*, const int16_t*, int16_t*, int);
using Transform = void (*)(const int16_t*, int16_t*, int);
struct Forms {
  Transform forward, inverse;
  Kernel analysis, synthesis;
};
const Forms& forms() {
  static const Forms f = voksc::cpu::choose(Forms{forwardDctScalar, inverseDctScalar, analysisFoldScalar, synthesisFoldScalar},
                                            Forms{forwardDctAvx2, inverseDctAvx2, analysisFoldAvx2, synthesisFoldAvx2});
  return f;
}
}  // namespace

VOKSC_EXPORT VokResult voksDCTFwd_G7221_16s(const Vok16s* src, Vok16s* dst, int len) {
  if (anyNull(src, dst)) return vokErrNullPtr;
  if (badLength(len)) return vokErrSize;
  forms().forward(src, dst, len);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDCTInv_G7221_16s(const Vok16s* src, Vok16s* dst, int len) {
  if (anyNull(src, dst)) return vokErrNullPtr;
  if (badLength(len)) return vokErrSize;
  forms().inverse(src, dst, len);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDCTFwd_G722_16s(const Vok16s* src, Vok16s* dst) {
  return voksDCTFwd_G7221_16s(src, dst, 320);
}

VOKSC_EXPORT VokResult voksDCTInv_G722_16s(const Vok16s* src, Vok16s* dst) {
  return voksDCTInv_G7221_16s(src, dst, 320);
}

VOKSC_EXPORT VokResult voksDecomposeMLTToDCT_G7221_16s(const Vok16s* prev, const Vok16s* cur, Vok16s* block,
                                                       int len) {
  if (anyNull(prev, cur, block)) return vokErrNullPtr;
  if (badLength(len)) return vokErrSize;
  forms().analysis(prev, cur, block, len);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecomposeDCTToMLT_G7221_16s(const Vok16s* block, const Vok16s* kept, Vok16s* out,
                                                       int len) {
  if (anyNull(block, kept, out)) return vokErrNullPtr;
  if (badLength(len)) return vokErrSize;
  forms().synthesis(block, kept, out, len);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecomposeMLTToDCT_G722_16s(const Vok16s* prev, const Vok16s* cur, Vok16s* block) {
  return voksDecomposeMLTToDCT_G7221_16s(prev, cur, block, 320);
}

VOKSC_EXPORT VokResult voksDecomposeDCTToMLT_G722_16s(const Vok16s* block, const Vok16s* kept, Vok16s* out) {
  return voksDecomposeDCTToMLT_G7221_16s(block, kept, out, 320);
}
