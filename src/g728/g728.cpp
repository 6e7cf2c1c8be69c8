// G.728 low-delay CELP building blocks.
//
// The fixed-point coder of the standard keeps its products in accumulators
// wider than 32 bits and rounds or saturates only where it says so.  Every
// kernel here therefore sums in 64-bit integers: all operands are integers
// well below 2^53, so the sums are the exact values the standard's
// arithmetic forms, whatever the order of summation.  Where a value is
// narrowed, the standard's rule is applied at that point: rounding of the
// upper half (roundHigh), saturation to 32 or 16 bits, arithmetic shifts.
// Shift counts that a long silence can push beyond the width of the
// accumulator are taken modulo 64 (and modulo 32 for the 32-bit power-of-two
// factors of the hybrid window), the behaviour of the standard's coder on
// the processors its conformance data were made with.
//
// Vectors and histories are held newest sample first (index 0 is the latest
// sample), the order of the standard's shape codebook; only the general
// pole-zero filter takes its samples in time order.
#include <algorithm>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/kernels.h"
#include "core/status.h"
#include "g728_tables.h"
#include "g728_internal.h"
#include "g728_wide.h"
#include "core/cpu.h"

namespace voksc::g728 {
namespace {

using namespace wide;

constexpr int kDim = 5;
constexpr int kShapeCount = 128;

// ---- hybrid window ------------------------------------------------------

struct WinHeader {
  const int16_t* window;
  int16_t order, nonRecursive, block, blocksOfBlock, tag, blocks, shift, spare;
};

// A check word over the header, so that a state Init did not format (or
// whose header was overwritten) is refused rather than followed.
int16_t headerTag(const WinHeader& h) {
  const uint64_t ptr = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h.window));
  uint32_t x = (static_cast<uint32_t>(ptr) * 2654435761u) ^ static_cast<uint32_t>(ptr >> 32);
  const int16_t f[] = {h.order, h.nonRecursive, h.block, h.blocksOfBlock, h.blocks, h.shift, h.spare};
  for (int16_t v : f) x = (x ^ static_cast<uint16_t>(v)) * 2246822519u;
  x ^= static_cast<uint32_t>(ptr >> 32) * 3266489917u;
  return static_cast<int16_t>((x >> 16) ^ 0x5A3C);
}

bool headerValid(const WinHeader& h) {
  const int total = h.order + h.nonRecursive + h.block;
  return h.tag == headerTag(h) && h.order >= 1 && h.order <= 63 && h.nonRecursive >= 1 && h.block >= 1 &&
         total <= 1024 && (h.shift == 14 || h.shift == 15);
}

unsigned char* alignedBase(void* p) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(p);
  return reinterpret_cast<unsigned char*>((a + 15) & ~uintptr_t{15});
}

struct WinView {
  WinHeader* h;
  int16_t* rexp;     // order+1 recursive correlations
  int16_t* rexpExp;  // their exponent
  int16_t* hist;     // order+nonRecursive+block samples, newest first
  int16_t* exps;     // per-block exponents (block form)
};

WinView winView(void* state) {
  unsigned char* b = alignedBase(state);
  WinView v;
  v.h = reinterpret_cast<WinHeader*>(b);
  int16_t* w = reinterpret_cast<int16_t*>(b + 24);
  const int m = v.h->order, total = v.h->order + v.h->nonRecursive + v.h->block;
  v.rexp = w;
  v.rexpExp = w + m + 1;
  v.hist = w + m + 2;
  v.exps = v.hist + total;
  return v;
}

// Multiplication by the 32-bit power of two the normalisation count n
// stands for (1 << n with the count modulo 32; 2^31 itself for n = 31, the
// count of a zero value), saturated to 32 bits.  Every other count whose
// low five bits are 31 gives the factor -2^31.  The product is never
// formed: a value beyond the bound for the shift saturates.
struct PowerScale {
  int shift;
  bool negative;
  i64 hi, lo;
  explicit PowerScale(int n) : shift(n & 31), negative(n != 31 && (n & 31) == 31) {
    hi = i64{INT32_MAX} >> shift;
    lo = i64{INT32_MIN} >> shift;
  }
  i64 operator()(i64 v) const {
    if (negative) return v > 0 ? INT32_MIN : (v < 0 ? INT32_MAX : 0);
    if (v > hi) return INT32_MAX;
    if (v < lo) return INT32_MIN;
    return static_cast<i64>(static_cast<uint64_t>(v) << shift);
  }
};

}  // namespace

i64 hybridLags_scalar(const LagScaling& s, const i64* blockCorr, const i64* nonrCorr, int lags, int16_t* rexp,
                      int16_t* r) {
  const PowerScale recScale(s.recNls), sumScale(s.sumNls);
  i64 a0 = 0;
  for (int i = 1; i <= lags; ++i) {
    a0 = recScale(shr(rexp[i] * s.fac, s.shRec) + shr(blockCorr[i], s.shNew));
    const i64 a1 = roundHigh(a0);
    rexp[i] = w16(a1);
    a0 = sumScale(shr(shl(a1, 16), s.shRec2) + shr(nonrCorr[i], s.shNon));
    r[i] = w16(roundHigh(a0));
  }
  return a0;
}

#if defined(VOKSC_X86)

// Four lags per step in 64-bit lanes; the 32-bit saturation and the
// rounding of the upper half as in the scalar form.  A factor of -2^31 goes
// the scalar way.
VOKSC_TARGET_AVX2 i64 hybridLags_avx2(const LagScaling& s, const i64* blockCorr, const i64* nonrCorr, int lags,
                                      int16_t* rexp, int16_t* r) {
  const PowerScale recScale(s.recNls), sumScale(s.sumNls);
  if (recScale.negative || sumScale.negative) return hybridLags_scalar(s, blockCorr, nonrCorr, lags, rexp, r);
  const __m256i fac = _mm256_set1_epi64x(s.fac), one = _mm256_set1_epi64x(1), top = _mm256_set1_epi64x(32767);
  const __m256i hi32 = _mm256_set1_epi64x(INT32_MAX), lo32 = _mm256_set1_epi64x(INT32_MIN);
  const __m128i nRec = _mm_cvtsi32_si128(s.shRec & 63), nNew = _mm_cvtsi32_si128(s.shNew & 63);
  const __m128i nRec2 = _mm_cvtsi32_si128(s.shRec2 & 63), nNon = _mm_cvtsi32_si128(s.shNon & 63);
  const __m128i n15 = _mm_cvtsi32_si128(15);
  // Arithmetic right shifts by the four counts: the value moved to unsigned
  // order (sign bit flipped: v + 2^63), shifted logically, 2^(63 - n) taken off.
  const __m256i flip = _mm256_set1_epi64x(INT64_MIN);
  const __m256i bRec = _mm256_srl_epi64(flip, nRec), bNew = _mm256_srl_epi64(flip, nNew);
  const __m256i bRec2 = _mm256_srl_epi64(flip, nRec2), bNon = _mm256_srl_epi64(flip, nNon);
  auto sra = [&](__m256i v, __m128i n, __m256i bias) VOKSC_TARGET_AVX2 {
    return _mm256_sub_epi64(_mm256_srl_epi64(_mm256_xor_si256(v, flip), n), bias);
  };
  const __m128i low16 = _mm_setr_epi8(0, 1, 8, 9, 0, 1, 8, 9, 0, 1, 8, 9, 0, 1, 8, 9);
  auto saturated = [&](__m256i v, const PowerScale& ps) VOKSC_TARGET_AVX2 {
    const __m256i up = _mm256_sll_epi64(v, _mm_cvtsi32_si128(ps.shift));
    const __m256i over = _mm256_cmpgt_epi64(v, _mm256_set1_epi64x(ps.hi));
    const __m256i under = _mm256_cmpgt_epi64(_mm256_set1_epi64x(ps.lo), v);
    return _mm256_blendv_epi8(_mm256_blendv_epi8(up, hi32, over), lo32, under);
  };
  // a within 32 bits (saturated): the 32-bit arithmetic shift of its lanes'
  // halves is a >> 16 in the low half and the sign in the high half.
  auto rounded = [&](__m256i a) VOKSC_TARGET_AVX2 {
    const __m256i b = _mm256_srai_epi32(a, 16);
    const __m256i bit = _mm256_and_si256(_mm256_srl_epi64(a, n15), one);
    return _mm256_add_epi64(b, _mm256_andnot_si256(_mm256_cmpeq_epi64(b, top), bit));
  };
  auto store4 = [&](int16_t* dst, __m256i v) VOKSC_TARGET_AVX2 {  // the low words of the four lanes
    const __m128i w = _mm_unpacklo_epi32(_mm_shuffle_epi8(_mm256_castsi256_si128(v), low16),
                                         _mm_shuffle_epi8(_mm256_extracti128_si256(v, 1), low16));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), w);
  };
  // Lags at..at+3: old recursive words from `old`, results to rexpOut, rOut.
  auto four = [&](const int16_t* old, int at, int16_t* rexpOut, int16_t* rOut) VOKSC_TARGET_AVX2 {
    const __m256i x = _mm256_cvtepi16_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(old)));
    __m256i a = _mm256_add_epi64(sra(_mm256_mul_epi32(x, fac), nRec, bRec),
                                 sra(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(blockCorr + at)), nNew, bNew));
    const __m256i a1 = rounded(saturated(a, recScale));
    store4(rexpOut, a1);
    a = _mm256_add_epi64(sra(_mm256_slli_epi64(a1, 16), nRec2, bRec2),
                         sra(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(nonrCorr + at)), nNon, bNon));
    const __m256i last = saturated(a, sumScale);
    store4(rOut, rounded(last));
    return last;
  };
  int i = 1;
  __m256i last = _mm256_setzero_si256();
  for (; i + 3 <= lags; i += 4) last = four(rexp + i, i, rexp + i, r + i);
  int lastLane = 3;
  if (i <= lags) {  // the last one to three lags through a padded copy
    const int rest = lags - i + 1;
    int16_t oldWords[4] = {}, newWords[4], rWords[4];
    std::memcpy(oldWords, rexp + i, sizeof(int16_t) * rest);
    last = four(oldWords, i, newWords, rWords);
    std::memcpy(rexp + i, newWords, sizeof(int16_t) * rest);
    std::memcpy(r + i, rWords, sizeof(int16_t) * rest);
    lastLane = rest - 1;
  }
  alignas(32) i64 lane[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lane), last);
  return lane[lastLane];
}
#else
i64 hybridLags_avx2(const LagScaling& s, const i64* blockCorr, const i64* nonrCorr, int lags, int16_t* rexp,
                    int16_t* r) {
  return hybridLags_scalar(s, blockCorr, nonrCorr, lags, rexp, r);
}
#endif

#if defined(VOKSC_X86)
namespace {
// Sixteen ones then sixteen zeros: a load at 16 - v keeps lanes 0..v-1.
alignas(32) const int16_t kLeadMask[32] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

// Four lags' 32-bit lane sums to their four totals.
VOKSC_TARGET_AVX2 inline void fourTotals(__m256i s0, __m256i s1, __m256i s2, __m256i s3, int32_t* out) {
  const __m256i s = _mm256_hadd_epi32(_mm256_hadd_epi32(s0, s1), _mm256_hadd_epi32(s2, s3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1)));
}
}  // namespace

namespace {
// Four lags k..k+3 of the sums over n chunks a[c] (at ws + at[c]).
VOKSC_TARGET_AVX2 inline void lagSums(const int16_t* ws, const __m256i* a, const int* at, int n, int k, int32_t* out) {
  __m256i s0 = _mm256_setzero_si256(), s1 = s0, s2 = s0, s3 = s0;
  for (int c = 0; c < n; ++c) {
    const int16_t* b = ws + at[c] + k;
    s0 = _mm256_add_epi32(s0, _mm256_madd_epi16(a[c], _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b))));
    s1 = _mm256_add_epi32(s1, _mm256_madd_epi16(a[c], _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 1))));
    s2 = _mm256_add_epi32(s2, _mm256_madd_epi16(a[c], _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 2))));
    s3 = _mm256_add_epi32(s3, _mm256_madd_epi16(a[c], _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 3))));
  }
  fourTotals(s0, s1, s2, s3, out + k);
}

template <int CN, int CB>
VOKSC_TARGET_AVX2 void chunkSums(const int16_t* ws, const __m256i* a, const int* at, int count, int32_t* nonrCorr,
                                 int32_t* blockCorr) {
  for (int k = 0; k < count; k += 4) {
    lagSums(ws, a, at, CN, k, nonrCorr);
    lagSums(ws, a + CN, at + CN, CB, k, blockCorr);
  }
}
}  // namespace

VOKSC_TARGET_AVX2 bool windowCorrelations_avx2(const int16_t* ws, int total, int nonr, int block, int count,
                                               int32_t* nonrCorr, int32_t* blockCorr) {
  const int cn = (nonr + 15) / 16, cb = (block + 15) / 16;
  // The last word read: nonr + 16 max(cb, 1) + count - 3.
  if (cn + cb > 8 || count % 4 != 0 || nonr + 16 * std::max(cb, 1) + count - 2 > total + kWindowSpare) return false;
  // Energy of every word the sums read (the spare words are zeros): a sum
  // of two squares is at most 2^31 and is widened unsigned.
  __m256i e = _mm256_setzero_si256();
  for (int i = 0; i < total; i += 16) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ws + i));
    const __m256i p = _mm256_madd_epi16(v, v);
    e = _mm256_add_epi64(e, _mm256_cvtepu32_epi64(_mm256_castsi256_si128(p)));
    e = _mm256_add_epi64(e, _mm256_cvtepu32_epi64(_mm256_extracti128_si256(p, 1)));
  }
  const __m128i e2 = _mm_add_epi64(_mm256_castsi256_si128(e), _mm256_extracti128_si256(e, 1));
  alignas(16) int64_t half[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(half), e2);
  const int64_t energy = half[0] + half[1];
  if (energy > INT32_MAX) return false;
  __m256i a[8];
  int at[8];
  for (int c = 0; c < cn + cb; ++c) {
    const int from = c < cn ? 16 * c : nonr + 16 * (c - cn);
    const int live = c < cn ? std::min(16, nonr - 16 * c) : std::min(16, block - 16 * (c - cn));
    at[c] = from;
    a[c] = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(ws + from)),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLeadMask + 16 - live)));
  }
  // The three windows' shapes with their chunk counts fixed (the chunk
  // loops unrolled), any other with them counted.
  if (cn == 3 && cb == 2)
    chunkSums<3, 2>(ws, a, at, count, nonrCorr, blockCorr);
  else if (cn == 2 && cb == 1)
    chunkSums<2, 1>(ws, a, at, count, nonrCorr, blockCorr);
  else if (cn == 2 && cb == 2)
    chunkSums<2, 2>(ws, a, at, count, nonrCorr, blockCorr);
  else
    for (int k = 0; k < count; k += 4) {
      lagSums(ws, a, at, cn, k, nonrCorr);
      lagSums(ws, a + cn, at + cn, cb, k, blockCorr);
    }
  return true;
}

// Eight lags per step in 32-bit lanes.  Every sum fits: rexp fac is below
// 32768 * 49152 < 2^31 in magnitude and the correlations are 32-bit values,
// so after their shifts (at least one place modulo 64) each term is below 2^30; the
// rounded recursive word shifted up 16 places fits 32 bits likewise.  The
// arithmetic shift of a 32-bit lane by 32 or more places gives its sign,
// as the wide shift of the same value does.
VOKSC_TARGET_AVX2 i64 hybridLagsNarrow_avx2(const LagScaling& s, const int32_t* blockCorr, const int32_t* nonrCorr,
                                            int lags, int16_t* rexp, int16_t* r) {
  const PowerScale recScale(s.recNls), sumScale(s.sumNls);
  // A factor of -2^31, or a count that is 0 modulo 64 (no shift: the sums
  // may leave 32 bits), goes the scalar way on the wide values.
  if (recScale.negative || sumScale.negative || (s.shRec & 63) == 0 || (s.shNew & 63) == 0 ||
      (s.shRec2 & 63) == 0 || (s.shNon & 63) == 0) {
    i64 bc[64], nc[64];
    for (int i = 0; i <= lags; ++i) bc[i] = blockCorr[i], nc[i] = nonrCorr[i];
    return hybridLags_scalar(s, bc, nc, lags, rexp, r);
  }
  const __m256i fac = _mm256_set1_epi32(static_cast<int32_t>(s.fac)), one = _mm256_set1_epi32(1);
  const __m256i top = _mm256_set1_epi32(32767), max32 = _mm256_set1_epi32(INT32_MAX);
  const __m128i nRec = _mm_cvtsi32_si128(s.shRec & 63), nNew = _mm_cvtsi32_si128(s.shNew & 63);
  const __m128i nRec2 = _mm_cvtsi32_si128(s.shRec2 & 63), nNon = _mm_cvtsi32_si128(s.shNon & 63);
  // v 2^shift saturated to 32 bits: below lo the shifted bound lo 2^shift
  // is INT32_MIN itself; above hi the limit INT32_MAX.
  auto saturated = [&](__m256i v, const PowerScale& ps) VOKSC_TARGET_AVX2 {
    const __m256i up = _mm256_sll_epi32(_mm256_max_epi32(v, _mm256_set1_epi32(static_cast<int32_t>(ps.lo))),
                                        _mm_cvtsi32_si128(ps.shift));
    return _mm256_blendv_epi8(up, max32, _mm256_cmpgt_epi32(v, _mm256_set1_epi32(static_cast<int32_t>(ps.hi))));
  };
  // The upper half rounded (the 32767 case kept): with c = a >> 15 = 2 (a
  // >> 16) + bit 15, (c + 1) >> 1 adds the bit; only 32767 + 1 needs the limit.
  auto rounded = [&](__m256i a) VOKSC_TARGET_AVX2 {
    return _mm256_min_epi32(_mm256_srai_epi32(_mm256_add_epi32(_mm256_srai_epi32(a, 15), one), 1), top);
  };
  auto words = [&](__m256i v) VOKSC_TARGET_AVX2 {  // lanes within 16 bits
    return _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  };
  __m256i last = _mm256_setzero_si256();
  int i = 1;
  for (; i <= lags; i += 8) {
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rexp + i));
    __m256i a = _mm256_add_epi32(
        _mm256_sra_epi32(_mm256_mullo_epi32(_mm256_cvtepi16_epi32(old), fac), nRec),
        _mm256_sra_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(blockCorr + i)), nNew));
    const __m256i a1 = rounded(saturated(a, recScale));
    __m128i w = words(a1);
    if (i + 7 > lags)  // past the last lag the old words go back
      w = _mm_blendv_epi8(old, w, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLeadMask + 16 - (lags + 1 - i))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rexp + i), w);
    a = _mm256_add_epi32(_mm256_sra_epi32(_mm256_slli_epi32(a1, 16), nRec2),
                         _mm256_sra_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(nonrCorr + i)), nNon));
    last = saturated(a, sumScale);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(r + i), words(rounded(last)));
  }
  alignas(32) int32_t lane[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lane), last);
  return lane[lags - (i - 8)];
}
#else
bool windowCorrelations_avx2(const int16_t*, int, int, int, int, int32_t*, int32_t*) { return false; }
#endif
#if !defined(VOKSC_X86)
i64 hybridLagsNarrow_avx2(const LagScaling& s, const int32_t* blockCorr, const int32_t* nonrCorr, int lags,
                          int16_t* rexp, int16_t* r) {
  i64 bc[64], nc[64];
  for (int i = 0; i <= lags; ++i) bc[i] = blockCorr[i], nc[i] = nonrCorr[i];
  return hybridLags_scalar(s, bc, nc, lags, rexp, r);
}
#endif
bool windowCorrelations_scalar(const int16_t*, int, int, int, int, int32_t*, int32_t*) { return false; }

namespace {

// The correlation core shared by the three windows: the recursive part
// (decayed by `decayShift`), updated with the newest block, and the
// non-recursive part over the first `nonr` windowed samples; white-noise
// correction 1 + 1/256 on r[0].  ws: windowed samples (exponent wsExp),
// followed by kWindowSpare zeros.
// rexpWords: the state's words from rexp on (the lag kernels may read and
// write back words past the last lag).  r has room for seven words past it.
// Returns the unrounded 32-bit value of the highest lag computed.
i64 hybridCorrelation(int lags, int block, int nonr, int decayShift, const int16_t* ws, int wsExp, int16_t* rexp,
                      int16_t* rexpExp, int16_t* r, int rexpWords) {
  const int a0Exp = 2 * wsExp;
  const i64 fac = (i64{1} << 16) - (i64{1} << (16 - decayShift));
  int shRec = 1, shNew = 1;
  if (*rexpExp > a0Exp) {
    shRec += *rexpExp - a0Exp;
    *rexpExp = static_cast<int16_t>(a0Exp);
  } else if (*rexpExp < a0Exp) {
    shNew += a0Exp - *rexpExp;
  }
  // Exact correlations of the newest block (recursive part) and of the
  // non-recursive samples at every lag, in one pass each.  The vector
  // correlation forms lags four at a time and the rest one by one: there
  // the lag count is rounded up to a multiple of four (the samples end in
  // three zeros; the extra lags are not used).
  i64 blockCorr[64 + 3], nonrCorr[64 + 3];  // the lag kernel reads up to three past the last lag
  alignas(32) int32_t block32[64 + 8], nonr32[64 + 8];  // the narrow one up to seven
  static const int lagGroup = cpu::choose(1, 4);
  const int count = (lags + lagGroup) / lagGroup * lagGroup;
  static const auto both = cpu::choose(windowCorrelations_scalar, windowCorrelations_avx2);
  const bool narrow = both(ws, lags + nonr + block, nonr, block, count, nonr32, block32);
  if (narrow) {
    for (int k = count; k < count + 8; ++k) block32[k] = nonr32[k] = 0;
    blockCorr[0] = block32[0];
    nonrCorr[0] = nonr32[0];
  } else {
    if (block == 4) {  // the gain window's four samples: four exact products per lag, unrolled
      const int16_t* b = ws + nonr;
      const i64 b0 = b[0], b1 = b[1], b2 = b[2], b3 = b[3];
      for (int k = 0; k < count; ++k) blockCorr[k] = b0 * b[k] + b1 * b[k + 1] + b2 * b[k + 2] + b3 * b[k + 3];
    } else if (block < 16) {  // a block shorter than a vector: plain sums
      const int16_t* b = ws + nonr;
      for (int k = 0; k < count; ++k) {
        i64 sum = 0;
        for (int j = 0; j < block; ++j) sum += int32_t{b[j]} * b[j + k];
        blockCorr[k] = sum;
      }
    } else {
      kern::xcorr(ws + nonr, ws + nonr, block, count, blockCorr);
    }
    kern::xcorr(ws, ws, nonr, count, nonrCorr);
  }
  i64 a0 = shr(rexp[0] * fac, shRec) + shr(blockCorr[0], shNew);
  int nls = normalizeWide(a0, 32);
  i64 a1 = roundHigh(a0);
  rexp[0] = w16(a1);
  const int recNls = nls;
  *rexpExp = static_cast<int16_t>(*rexpExp + nls - 1);
  int shRec2 = 1, shNon = 1;
  if (*rexpExp > a0Exp)
    shRec2 += *rexpExp - a0Exp;
  else if (*rexpExp < a0Exp)
    shNon += a0Exp - *rexpExp;
  a0 = shr(shl(a1, 16), shRec2) + shr(nonrCorr[0], shNon);
  a0 += a0 >> 8;
  nls = normalizeWide(a0, 32);
  a1 = roundHigh(a0);
  r[0] = w16(a1);
  const LagScaling scaling{fac, shRec, shNew, shRec2, shNon, recNls, nls};
  if (lags < 1) return a0;
  if (narrow && lags + 8 <= rexpWords) return hybridLagsNarrow_avx2(scaling, block32, nonr32, lags, rexp, r);
  if (narrow)  // a state too short for the eight-lag steps' words past rexp
    for (int k = 0; k < count + 3; ++k) blockCorr[k] = block32[k], nonrCorr[k] = nonr32[k];
  static const auto lagsOf = cpu::choose(hybridLags_scalar, hybridLags_avx2);
  return lagsOf(scaling, blockCorr, nonrCorr, lags, rexp, r);
}

VokResult finishWindow(const WinView& v, i64 last, int16_t shortForm, const int16_t* r, Vok16s* dst) {
  const int m = v.h->order;
  const int n = (shortForm == 1 && m > 10) ? 10 : m;
  for (int i = 0; i <= n; ++i) dst[i] = r[i];
  (void)last;
  return r[n] == 0 && last == 0 ? vokWrnZeroCorrelation : vokOk;
}

// ---- Levinson-Durbin --------------------------------------------------------

// |num| / den as a 16-bit fraction by restoring division, then scaled to
// Q31 and rounded to Q15 (the standard's 16-step division).
i64 fractionQ15(i64 num, i64 den) {
  // Below the divisor every step keeps num < den: the quotient is the
  // plain floor of num * 2^16 / den.
  if (num >= 0 && num < den) return ((num << 16) / den) << 15;
  i64 q = 0;
  for (int n = 0; n < 16; ++n) {
    q <<= 1;
    num <<= 1;
    if (num >= den) {
      num -= den;
      ++q;
    }
  }
  return q << 15;
}

constexpr int kMaxOrder = 50;
// Words past the predictor and its reversed copy that the vector forms may
// read (and write back unchanged).
constexpr int kPad = 16;

}  // namespace

int updatePredictor_scalar(const int16_t* a, int16_t* next, int n, int32_t rc, const int16_t* rRev, int64_t* sum) {
  int m = 0;
  int64_t acc = 0;
  for (int f = 0; f < n; ++f) {
    const int32_t d = a[f] * 65536 + rc * a[n - 1 - f];
    const int32_t h = d >> 16;
    const int16_t v = static_cast<int16_t>(h + (((d >> 15) & 1) & (h != 32767)));
    next[f] = v;
    m = std::max(m, std::abs(int{v}));
    acc += int64_t{v} * rRev[f];
  }
  *sum = acc;
  return m;
}

int64_t predictorError_scalar(const int16_t* r, const int16_t* back, int n) { return kern::dot_scalar(r, back, n); }

namespace {

// Correlations held reversed for the error sums: rRev[kRevEnd - k] = r[k].
constexpr int kRevEnd = 64;

// The reflection step of one order from its error sum (sum of r[i - j]
// a[j]): the coefficient's fraction q, the even 32-bit factor rc of the
// update, and the new prediction error alpha.  False when the recursion is
// ill-conditioned.
struct Reflection {
  i64 q, rc;
  bool negate;
};

// In closed form: alpha never exceeds 32767 (it starts at or below r[0]
// or the error it continues from, 16-bit values, and never grows), so the
// error's rounded upper half can meet the 32767 case of the rounding only
// where |err| >= alpha stops the recursion either way, and (x + 2^15) >> 16
// stands for it; the quotient f of num 2^16 / alpha (num < alpha, so below
// 2^31) stays below 65534, so f 2^15 rounded to its upper half is (f + 1)
// >> 1; the new error alpha 2^16 + rc err is at most alpha 2^16 (rc and err
// have opposite signs), so its rounding has no 32767 case either.
inline bool reflect(i64 rNext, i64 acc, i64 mult, i64& alpha, Reflection& o) {
  const i64 err = (rNext * 65536 + acc * mult + 0x8000) >> 16;
  const i64 num = err < 0 ? -err : err;
  if (num >= alpha) return false;
  const uint32_t f = static_cast<uint32_t>(num << 16) / static_cast<uint32_t>(alpha);
  o.q = i64{f} << 15;
  o.negate = err > 0;
  const i64 kk = (f + 1) >> 1;
  o.rc = o.negate ? -2 * kk : 2 * kk;
  const i64 e = alpha * 65536 + o.rc * err;
  if (e <= 0) return false;
  alpha = (e + 0x8000) >> 16;
  return true;
}

// The new order's own coefficient, at the predictor's scale (f 2^15 >>
// headroom is at most 32766.5 2^16: no 32767 case in its rounding).
inline int16_t reflectionCoefficient(const Reflection& o, int headroom) {
  const i64 k = ((o.q >> headroom) + 0x8000) >> 16;
  return w16(o.negate ? -k : k);
}

// The update a[f] 2^16 + rc a[n - 1 - f] in 64 bits, pair by pair from the
// ends; a pair leaving 32 bits halves the whole predictor first (at most
// twice over the recursion).  False past that.
bool halvingUpdate(int16_t* a, int n, i64 rc, int& headroom, i64& mult) {
  for (int f = 0, g = n - 1; f <= g; ++f, --g) {
    i64 d0 = i64{a[f]} * 65536 + rc * a[g];
    i64 d1 = i64{a[g]} * 65536 + rc * a[f];
    if (d0 != sat32(d0) || d1 != sat32(d1)) {
      if (++headroom > 2) return false;
      mult *= 2;
      for (int j = 0; j < n; ++j) a[j] = static_cast<int16_t>(a[j] >> 1);
      d0 = i64{a[f]} * 65536 + rc * a[g];
      d1 = i64{a[g]} * 65536 + rc * a[f];
    }
    a[f] = w16(roundHigh(d0));
    a[g] = w16(roundHigh(d1));
  }
  return true;
}

// Orders i..order-1 of the recursion on the predictor in cur (zeros before
// and after its i coefficients; nxt the same room): returns the buffer
// holding the result, or nullptr when the recursion is ill-conditioned.
// When the largest coefficient bounds every update sum inside 32 bits, the
// update runs in 32-bit arithmetic into the other buffer and also forms the
// next order's error sum but for its newest term (r[1] times the new
// coefficient); otherwise the halving form updates in place.
using LevinsonSteps = int16_t* (*)(const int16_t* r, const int16_t* rRev, int i, int order, int16_t* cur,
                                    int16_t* nxt, i64& alpha, i64& mult, int& headroom);

int16_t* levinsonSteps_scalar(const int16_t* r, const int16_t* rRev, int i, int order, int16_t* cur, int16_t* nxt,
                              i64& alpha, i64& mult, int& headroom) {
  // The predictor a (in cur) and its reversal (rv[g] = a[n - 1 - g]) are
  // both kept, so that the update of each reads the other forward: loops
  // the compiler runs in vector lanes.  With the factor rc = 2k (|k| <=
  // 32767) the sum S = a 2^16 + 2 k y rounded to its upper half is a +
  // floor((k y + 2^14) / 2^15) wherever S stays in 32 bits, and it does
  // where every such word stays within +-32766 (floor(S / 2^16) is that
  // word or one below it); the 32767 case of the rounding would give 32768
  // there.  An order with a word outside runs again in the 64-bit halving
  // form on the unchanged predictor.  The error sum of the next order is
  // formed over the new reversal: sum of rv'[g] r[g + 1].
  // Whole groups of eight words: past the predictor both arrays hold zeros,
  // which the update maps to zeros.  The error sum reads a copy of r[1..]
  // with zeros after it.
  int16_t revBuf[2][64] = {};
  int16_t rNext[64 + 8] = {};
  std::memcpy(rNext, r + 1, sizeof(int16_t) * order);
  int16_t* rv = revBuf[0];
  int16_t* rvn = revBuf[1];
  for (int g = 0; g < i; ++g) rv[g] = cur[i - 1 - g];
  i64 acc = predictorError_scalar(cur, rRev + kRevEnd - i, i);
  for (; i < order; ++i) {
    Reflection o;
    if (!reflect(r[i + 1], acc, mult, alpha, o)) return nullptr;
    const int16_t k = static_cast<int16_t>(o.rc / 2);
    int32_t edge = 0;
    const int whole = (i + 7) & ~7;
    for (int f = 0; f < whole; ++f) {
      const int32_t v0 = cur[f] + ((int32_t{k} * rv[f] + 16384) >> 15);
      const int32_t v1 = rv[f] + ((int32_t{k} * cur[f] + 16384) >> 15);
      edge |= (v0 > 32766) | (v0 < -32766);
      nxt[f] = static_cast<int16_t>(v0);
      rvn[f + 1] = static_cast<int16_t>(v1);
    }
    const bool plain = edge == 0;
    if (plain) {
      std::swap(cur, nxt);
      std::swap(rv, rvn);
    } else if (!halvingUpdate(cur, i, o.rc, headroom, mult)) {
      return nullptr;
    }
    cur[i] = reflectionCoefficient(o, headroom);
    if (plain) {
      rv[0] = cur[i];
      acc = 0;
      const int words = (i + 8) & ~7;
      for (int g = 0; g < words; ++g) acc += int32_t{rv[g]} * rNext[g];
    } else {
      for (int g = 0; g <= i; ++g) rv[g] = cur[i - g];
      acc = predictorError_scalar(cur, rRev + kRevEnd - i - 1, i + 1);
    }
  }
  return cur;
}

}  // namespace

#if defined(VOKSC_X86)
namespace {
// Exact sum of the 64-bit lanes of acc (and 2^32 per count in the 32-bit
// lanes of wraps).
VOKSC_TARGET_AVX2 inline int64_t laneSum(__m256i acc) {
  const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  alignas(16) int64_t t[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(t), s);
  return t[0] + t[1];
}
VOKSC_TARGET_AVX2 inline int64_t wideSum(__m256i acc, __m256i wraps) {
  return laneSum(_mm256_add_epi64(acc, _mm256_slli_epi64(_mm256_sad_epu8(wraps, _mm256_setzero_si256()), 32)));
}

// Pair sums of r and b in 32-bit lanes, widened into acc; a pair of
// (-32768)^2 products wraps to -2^31 and is counted in wraps.  Without
// kWraps the caller knows that r holds no -32768 (no lane can wrap).
template <bool kWraps = true>
VOKSC_TARGET_AVX2 inline void addPairs(__m256i r, __m256i b, __m256i& acc, __m256i& wraps) {
  const __m256i p = _mm256_madd_epi16(r, b);
  if (kWraps) wraps = _mm256_sub_epi32(wraps, _mm256_cmpeq_epi32(p, _mm256_set1_epi32(INT32_MIN)));
  acc = _mm256_add_epi64(acc, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(p)));
  acc = _mm256_add_epi64(acc, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(p, 1)));
}

// Largest of sixteen unsigned words.
VOKSC_TARGET_AVX2 inline int largestWord(__m256i m) {
  const __m128i t = _mm_max_epu16(_mm256_castsi256_si128(m), _mm256_extracti128_si256(m, 1));
  return 65535 - (_mm_cvtsi128_si32(_mm_minpos_epu16(_mm_xor_si128(t, _mm_set1_epi16(-1)))) & 0xFFFF);
}

// The constants of the word update, formed once per recursion.
struct WordConstants {
  __m256i one, sign, flip;
};
VOKSC_TARGET_AVX2 inline WordConstants wordConstants() {
  return {_mm256_set1_epi16(1), _mm256_set1_epi16(INT16_MIN),
          _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,  //
                           14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1)};
}

// The update for an even rc = 2k, |k| < 32768, in 16-bit lanes: the sum
// S = a 2^16 + 2 k y rounded to its upper half is a + floor((k y + 2^14) /
// 2^15), and that quotient is the rounded product the word multiply with
// rounding forms (exact: k y never reaches 2^30 with |k| <= 32767).  The
// partner operand a[n - 1 - f] of lane f is a reversed load ending at
// a[n - 1 - f0]; lanes past n read the zeros before a[0] and at a[n..], so
// they form 0 and need no mask.  The word add saturates: where S stays in
// 32 bits, its only overflow is the upper half 32767 plus a rounding bit,
// which the rounding keeps at 32767, as saturation does.  S leaves 32 bits
// exactly when floor(S / 2^16) leaves 16 bits, and then the saturated word
// is 32767 or -32768: a word of magnitude 32767 or more (`edgeReached`)
// flags every such sum, and a few exact ones, which the caller sends
// through the halving form (exact either way).
// One 16-word chunk of that update at f, into next.
VOKSC_TARGET_AVX2 inline __m256i updateChunk(const WordConstants& c, const int16_t* a, int16_t* next, int n, int f,
                                             __m256i vk) {
  const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + f));
  const __m256i yr = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + (n - 16 - f)));
  const __m256i y = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(yr, c.flip), 0x4E);
  const __m256i v = _mm256_adds_epi16(x, _mm256_mulhrs_epi16(vk, y));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(next + f), v);
  return v;
}

// Whether a lane of m (largest unsigned |v| words so far) is 32767 or more.
VOKSC_TARGET_AVX2 inline bool edgeReached(const WordConstants& c, __m256i m) {
  return !_mm256_testz_si256(_mm256_add_epi16(m, c.one), c.sign);
}

template <bool kLargest, bool kWraps>
VOKSC_TARGET_AVX2 inline int updatePredictorWords(const WordConstants& c, const int16_t* a, int16_t* next, int n,
                                                  int16_t k, const int16_t* rRev, int64_t* sum,
                                                  bool* overflow = nullptr) {
  const __m256i vk = _mm256_set1_epi16(k);
  __m256i m = _mm256_setzero_si256(), acc = m, wraps = m;
  for (int f = 0; f < n; f += 16) {
    const __m256i v = updateChunk(c, a, next, n, f, vk);
    if (kLargest || overflow) m = _mm256_max_epu16(m, _mm256_abs_epi16(v));
    addPairs<kWraps>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(rRev + f)), v, acc, wraps);
  }
  *sum = kWraps ? wideSum(acc, wraps) : laneSum(acc);
  if (overflow) *overflow = edgeReached(c, m);
  return kLargest ? largestWord(m) : 0;
}

// The recursion on correlations without -32768 (the usual case: r[0] is
// positive and the others are below it in magnitude) at headroom H (error
// sums times 2^(H+1)), orders up to 16 C at a time, their update unrolled
// over C chunks.  The reflection step in closed form: with |err| < alpha
// <= r[0] < 2^15 (alpha never grows), the rounded upper halves of the
// error sum and of the new error never meet the 32767 case of the rounding
// (the error sum there would fail the |err| < alpha test either way; the
// new error is at most alpha 2^16), so both are (x + 2^15) >> 16; the
// division's quotient f stays below 65534 (num <= alpha - 1 and alpha <
// 2^15), so the update's factor rc / 2 is (f + 1) >> 1, and the stored
// coefficient f 2^15 >> H rounded the same way (at H = 0 the factor
// itself).  An update flagged at the edge of 16 bits (every one that
// leaves 32 bits) stops the run at that order, the predictor unchanged in
// cur and the order's reflection kept: the caller runs it in the 64-bit
// form, which halves the predictor where a sum really leaves 32 bits.
// Returns false when the recursion is ill-conditioned.
struct PlainRun {
  const int16_t* r;
  const int16_t* rRev;
  int16_t* cur;
  int16_t* nxt;
  i64 alpha, acc;
  int i, order;
  Reflection stop;  // the reflection of the order that stopped at the edge
  bool edge;
};

template <int C, int H>
VOKSC_TARGET_AVX2 inline bool plainOrders(const WordConstants& c, PlainRun& s) {
  const int last = std::min(s.order, 16 * C + 1);
  i64 alpha = s.alpha, acc = s.acc;
  int16_t *cur = s.cur, *nxt = s.nxt;
  // Held in locals: the vector stores may alias anything, s included.
  const int16_t* const r = s.r;
  const int16_t* const rRev = s.rRev;
  const i64 r1 = r[1];
  int i = s.i;
  bool ill = false;
  // One order from `from` into `to`; false at an ill-conditioned or edge stop.
  auto step = [&](int16_t* from, int16_t* to) VOKSC_TARGET_AVX2 {
    const i64 err = (i64{r[i + 1]} * 65536 + acc * (2 << H) + 0x8000) >> 16;
    const i64 num = err < 0 ? -err : err;
    if (num >= alpha) return !(ill = true);
    const uint32_t f = static_cast<uint32_t>(num << 16) / static_cast<uint32_t>(alpha);
    const i64 kk = (f + 1) >> 1;
    const i64 k = err > 0 ? -kk : kk;
    const i64 e = alpha * 65536 + 2 * k * err;
    if (e <= 0) return !(ill = true);
    alpha = (e + 0x8000) >> 16;
    const __m256i vk = _mm256_set1_epi16(static_cast<int16_t>(k));
    const int16_t* rr = rRev + kRevEnd - i - 1;
    __m256i sum = _mm256_setzero_si256(), edge = sum, wraps = sum;
    for (int g = 0; g < C; ++g) {
      const __m256i v = updateChunk(c, from, to, i, 16 * g, vk);
      edge = g == 0 ? _mm256_abs_epi16(v) : _mm256_max_epu16(edge, _mm256_abs_epi16(v));
      addPairs<false>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(rr + 16 * g)), v, sum, wraps);
    }
    if (edgeReached(c, edge)) {
      s.stop = {i64{f} << 15, 2 * k, err > 0};
      return false;
    }
    // f 2^15 >> H rounded to its upper half: (f + 2^H) >> (H + 1).
    i64 kh = k;
    if (H > 0) {
      kh = (f + (1u << H)) >> (H + 1);
      kh = err > 0 ? -kh : kh;
    }
    to[i] = static_cast<int16_t>(kh);
    acc = laneSum(sum) + r1 * kh;
    ++i;
    return true;
  };
  bool stopped = false;
  // Two orders a turn, so that the buffers alternate without a swap.
  while (i < last) {
    if (!step(cur, nxt)) {
      stopped = true;
      break;
    }
    if (i >= last) {
      std::swap(cur, nxt);
      break;
    }
    if (!step(nxt, cur)) {
      std::swap(cur, nxt);
      stopped = true;
      break;
    }
  }
  s.i = i;
  s.alpha = alpha;
  s.acc = acc;
  s.cur = cur;
  s.nxt = nxt;
  s.edge = stopped && !ill;
  return !ill;
}

// Orders up to 16 C at the current headroom; an order stopped at the edge
// runs in the 64-bit form (which may raise the headroom) and the run goes
// on from the next order with a fresh error sum.
template <int C>
VOKSC_TARGET_AVX2 inline bool plainStage(const WordConstants& c, PlainRun& s, int& headroom, i64& mult) {
  for (;;) {
    const bool ok = headroom == 0   ? plainOrders<C, 0>(c, s)
                    : headroom == 1 ? plainOrders<C, 1>(c, s)
                                    : plainOrders<C, 2>(c, s);
    if (!ok) return false;
    if (!s.edge) return true;
    if (!halvingUpdate(s.cur, s.i, s.stop.rc, headroom, mult)) return false;
    s.cur[s.i] = reflectionCoefficient(s.stop, headroom);
    ++s.i;
    s.acc = predictorError_avx2(s.cur, s.rRev + kRevEnd - s.i, s.i);
    s.edge = false;
  }
}

// The recursion's own steps with the vector update in line (the
// recursion forms even factors below 2^16 only).  The state lives in
// locals for the run; correlations without -32768 (the usual case: r[0] is
// positive and the others are below it in magnitude) let the error sums
// skip the count of wrapped lanes.
template <bool kWraps>
VOKSC_TARGET_AVX2 int16_t* levinsonRun_avx2(const int16_t* r, const int16_t* rRev, int i, int order, int16_t* cur,
                                            int16_t* nxt, i64& alphaOut, i64& multOut, int& headroomOut) {
  // Every order tries the 32-bit update; a word at the edge of 16 bits
  // (every sum that leaves 32 bits among them) sends the order through the
  // halving form (on the unchanged predictor), which gives the same words
  // as the plain update where no sum leaves 32 bits.
  const WordConstants c = wordConstants();
  i64 alpha = alphaOut, mult = multOut;
  int headroom = headroomOut;
  const i64 r1 = r[1];
  int64_t nextSum = 0;
  bool haveSum = false;
  for (; i < order; ++i) {
    const i64 acc = haveSum ? nextSum + r1 * cur[i - 1] : predictorError_avx2(cur, rRev + kRevEnd - i, i);
    Reflection o;
    if (!reflect(r[i + 1], acc, mult, alpha, o)) return nullptr;
    bool overflow = false;
    updatePredictorWords<false, kWraps>(c, cur, nxt, i, static_cast<int16_t>(o.rc / 2), rRev + kRevEnd - i - 1,
                                        &nextSum, &overflow);
    if (!overflow) {
      std::swap(cur, nxt);
      haveSum = true;
    } else {
      if (!halvingUpdate(cur, i, o.rc, headroom, mult)) return nullptr;
      haveSum = false;
    }
    cur[i] = reflectionCoefficient(o, headroom);
  }
  alphaOut = alpha;
  multOut = mult;
  headroomOut = headroom;
  return cur;
}

VOKSC_TARGET_AVX2 int16_t* levinsonSteps_avx2(const int16_t* r, const int16_t* rRev, int i, int order, int16_t* cur,
                                              int16_t* nxt, i64& alpha, i64& mult, int& headroom) {
  // r[0..order] sit at rRev[kRevEnd - order .. kRevEnd], zeros follow.
  __m256i least = _mm256_setzero_si256();
  for (int f = kRevEnd - order; f <= kRevEnd; f += 16)
    least = _mm256_or_si256(least, _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(rRev + f)),
                                                       _mm256_set1_epi16(-32768)));
  if (!_mm256_testz_si256(least, least)) return levinsonRun_avx2<true>(r, rRev, i, order, cur, nxt, alpha, mult, headroom);
  const WordConstants c = wordConstants();
  // From the first order the error sum is the one product r[1] a[0].
  const i64 acc = i == 1 ? i64{r[1]} * cur[0] : predictorError_avx2(cur, rRev + kRevEnd - i, i);
  PlainRun s{r, rRev, cur, nxt, alpha, acc, i, order, {}, false};
  // The stages past the order are not entered (the order-10 recursions stop in the first).
  if (!plainStage<1>(c, s, headroom, mult) || (s.i < order && !plainStage<2>(c, s, headroom, mult)) ||
      (s.i < order && !plainStage<3>(c, s, headroom, mult)) || (s.i < order && !plainStage<4>(c, s, headroom, mult)))
    return nullptr;
  alpha = s.alpha;
  return s.cur;
}
}  // namespace

VOKSC_TARGET_AVX2 int updatePredictor_avx2(const int16_t* a, int16_t* next, int n, int32_t rc, const int16_t* rRev,
                                           int64_t* sum) {
  // The recursion forms even values only; any other goes the portable way.
  if ((rc & 1) == 0 && rc > -65536 && rc < 65536)
    return updatePredictorWords<true, true>(wordConstants(), a, next, n, static_cast<int16_t>(rc / 2), rRev, sum);
  return updatePredictor_scalar(a, next, n, rc, rRev, sum);
}

VOKSC_TARGET_AVX2 int64_t predictorError_avx2(const int16_t* r, const int16_t* back, int n) {
  const __m256i lane = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m256i acc = _mm256_setzero_si256(), wraps = acc;
  for (int f = 0; f < n; f += 16) {
    const __m256i live = _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<int16_t>(std::min(n - f, 16))), lane);
    addPairs(_mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + f)), live),
             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(back + f)), acc, wraps);
  }
  return wideSum(acc, wraps);
}
#else
int updatePredictor_avx2(const int16_t* a, int16_t* next, int n, int32_t rc, const int16_t* rRev, int64_t* sum) {
  return updatePredictor_scalar(a, next, n, rc, rRev, sum);
}
int64_t predictorError_avx2(const int16_t* r, const int16_t* back, int n) { return predictorError_scalar(r, back, n); }
namespace {
int16_t* levinsonSteps_avx2(const int16_t* r, const int16_t* rRev, int i, int order, int16_t* cur, int16_t* nxt,
                            i64& alpha, i64& mult, int& headroom) {
  return levinsonSteps_scalar(r, rRev, i, order, cur, nxt, alpha, mult, headroom);
}
}  // namespace
#endif

namespace {

// Runs the recursion from `done` (0: from scratch) to `order`.  a holds the
// predictor of order `done` (alpha and headroom its state) and receives the
// result only when the recursion gets to `order`; returns false when the
// recursion is ill-conditioned.
bool levinsonWith(LevinsonSteps steps, const int16_t* r, int done, int order, int16_t* a, int16_t* rc1, i64& alpha,
                  int& headroom) {
  // The predictor alternates between two buffers with zeros before and
  // after its coefficients, so that the vector update reads the reversed
  // predictor straight from the old one.  Only the words the recursion of
  // this order can read are cleared (16 around the predictor of `order`
  // words), in whole 16-word stores.
  alignas(32) int16_t buf[2][kPad + 64 + kPad];
  alignas(32) int16_t rRev[kRevEnd + kPad];
  const int span = kPad + order + kPad;
  for (int k = 0; k < span; k += 16) {
    std::memset(buf[0] + k, 0, 16 * sizeof(int16_t));
    std::memset(buf[1] + k, 0, 16 * sizeof(int16_t));
  }
  int16_t* cur = buf[0] + kPad;
  i64 mult;
  int i = done;
  if (i == 0) {
    if (r[0] <= 0) return false;
    headroom = 0;
    mult = 2;
    i64 num = r[1] < 0 ? -i64{r[1]} : r[1];
    const i64 k = roundHigh(fractionQ15(num, r[0]));
    const i64 rc = r[1] > 0 ? -k : k;
    cur[0] = w16(rc);
    if (rc1) *rc1 = w16(rc);
    alpha = roundHigh(i64{r[0]} * 65536 + rc * r[1] * 2);
    i = 1;
  } else {
    mult = i64{2} << headroom;
    std::memcpy(cur, a, sizeof(int16_t) * i);
  }
  const int16_t* out = cur;
  if (i < order) {
    // The correlations reversed (r[0..order] at kRevEnd - order .. kRevEnd),
    // 15 zeros after them.
    std::memset(rRev + kRevEnd, 0, sizeof(int16_t) * kPad);
    for (int k = 0; k <= order; ++k) rRev[kRevEnd - k] = r[k];
    out = steps(r, rRev, i, order, cur, buf[1] + kPad, alpha, mult, headroom);
    if (!out) return false;
  }
  std::memcpy(a, out, sizeof(int16_t) * order);
  return true;
}

bool levinson(const int16_t* r, int done, int order, int16_t* a, int16_t* rc1, i64& alpha, int& headroom) {
  static const LevinsonSteps steps = cpu::choose<LevinsonSteps>(levinsonSteps_scalar, levinsonSteps_avx2);
  return levinsonWith(steps, r, done, order, a, rc1, alpha, headroom);
}

}  // namespace

bool levinsonOrders_scalar(const int16_t* r, int done, int order, int16_t* a, int64_t* alpha, int* headroom) {
  return levinsonWith(levinsonSteps_scalar, r, done, order, a, nullptr, *alpha, *headroom);
}
bool levinsonOrders_avx2(const int16_t* r, int done, int order, int16_t* a, int64_t* alpha, int* headroom) {
  return levinsonWith(levinsonSteps_avx2, r, done, order, a, nullptr, *alpha, *headroom);
}

namespace {


// Gain level (0..3) of a correlation magnitude against a shape energy: the
// first threshold it does not pass.
inline int gainLevel(i64 cor, i64 e) {
  for (int g = 0; g < 3; ++g)
    if (cor <= i64{kGainBounds[g]} * e) return g;
  return 3;
}

}  // namespace

void shapeSearch_scalar(const int16_t* p, const int16_t* energy, int& shape, int& gain) {
  i64 best = INT64_MAX;
  int bestShape = 0, bestGain = 0;
  for (int s = 0; s < kShapeCount; ++s) {
    const int16_t* y = kShapes + s * kDim;
    i64 cor = 0;
    for (int k = 0; k < kDim; ++k) cor += i64{y[k]} * p[k];
    const i64 e = energy[s];
    bool neg = cor <= 0;
    if (neg) cor = -cor;
    const int level = gainLevel(cor, e);
    i64 c = cor >> 14;
    if (c > 32767) c = 32767;
    const i64 dist = i64{kGainSquared[level]} * e - i64{kTwiceGain[level]} * c;
    if (dist < best) {
      best = dist;
      bestShape = s;
      bestGain = neg ? level + 4 : level;
    }
  }
  shape = bestShape;
  gain = bestGain;
}

#if defined(VOKSC_X86)
namespace {

// The shapes as interleaved sample pairs, one 32-bit word per shape:
// pairs[k][s] = (y[s][k], y[s][k + 1]), k = 0..4 (y[s][5] = 0), so that one
// multiply-add forms two taps of eight shapes.
struct ShapePairs {
  alignas(32) int16_t w[5][2 * kShapeCount];
  ShapePairs() {
    for (int k = 0; k < 5; ++k)
      for (int s = 0; s < kShapeCount; ++s) {
        w[k][2 * s] = kShapes[s * kDim + k];
        w[k][2 * s + 1] = k + 1 < kDim ? kShapes[s * kDim + k + 1] : 0;
      }
  }
};
const ShapePairs& shapePairs() {
  static const ShapePairs t;
  return t;
}

// Largest |sample| of any shape: bounds every partial sum of the filtered shapes.
constexpr i64 kShapePeak = 17466;

VOKSC_TARGET_AVX2 inline __m256i pairOf(int16_t lo, int16_t hi) {
  return _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16) |
                                                static_cast<uint16_t>(lo)));
}

VOKSC_TARGET_AVX2 inline __m256i loadPairs(const int16_t* row, int s) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(row + 2 * s));
}

}  // namespace

VOKSC_TARGET_AVX2 void shapeEnergies_avx2(const int16_t* h, int16_t* energy) {
  // Every filtered sample is a sum of at most five products |y| |h|: below
  // 2^31 when sum |h| * 17466 is, so 32-bit lanes hold them exactly.
  i64 hSum = 0;
  for (int i = 0; i < kDim; ++i) hSum += h[i] < 0 ? -i64{h[i]} : h[i];
  if (hSum * kShapePeak >= (i64{1} << 31)) {
    shapeEnergies_scalar(h, energy);
    return;
  }
  const ShapePairs& t = shapePairs();
  // Output j = sum over i <= 4 - j of y[j + i] h[4 - i].
  const __m256i h43 = pairOf(h[4], h[3]), h21 = pairOf(h[2], h[1]), h0 = pairOf(h[0], 0), h2 = pairOf(h[2], 0),
                h4 = pairOf(h[4], 0);
  const __m256i lo16 = _mm256_set1_epi32(-32768), hi16 = _mm256_set1_epi32(32767);
  const __m256i cap = _mm256_set1_epi32(1 << 30);
  auto eight = [&](int s) VOKSC_TARGET_AVX2 {
    const __m256i p01 = loadPairs(t.w[0], s), p12 = loadPairs(t.w[1], s), p23 = loadPairs(t.w[2], s),
                  p34 = loadPairs(t.w[3], s), p4 = loadPairs(t.w[4], s);
    __m256i d[5];
    d[0] = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(p01, h43), _mm256_madd_epi16(p23, h21)),
                            _mm256_madd_epi16(p4, h0));
    d[1] = _mm256_add_epi32(_mm256_madd_epi16(p12, h43), _mm256_madd_epi16(p34, h21));
    d[2] = _mm256_add_epi32(_mm256_madd_epi16(p23, h43), _mm256_madd_epi16(p4, h2));
    d[3] = _mm256_madd_epi16(p34, h43);
    d[4] = _mm256_madd_epi16(p4, h4);
    // Squares of the 16-bit outputs are at most 2^30; the running sum is
    // held at 2^30 once it gets there (every such energy saturates).
    __m256i e = _mm256_setzero_si256();
    for (int j = 0; j < kDim; ++j) {
      __m256i v = _mm256_srai_epi32(d[j], 14);
      v = _mm256_min_epi32(_mm256_max_epi32(v, lo16), hi16);
      e = _mm256_min_epu32(_mm256_add_epi32(e, _mm256_mullo_epi32(v, v)), cap);
    }
    return _mm256_srli_epi32(e, 15);
  };
  for (int s = 0; s < kShapeCount; s += 16) {
    const __m256i e = _mm256_permute4x64_epi64(_mm256_packs_epi32(eight(s), eight(s + 8)), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(energy + s), e);
  }
}

VOKSC_TARGET_AVX2 void shapeSearch_avx2(const int16_t* p, const int16_t* energy, int& shape, int& gain) {
  // |correlation| <= 47018 * 32768 < 2^31 (the largest sum of |y| of a shape);
  // thresholds, energy terms and distances stay inside 32 bits as well.
  const ShapePairs& t = shapePairs();
  const __m256i p01 = pairOf(p[0], p[1]), p23 = pairOf(p[2], p[3]), p4 = pairOf(p[4], 0);
  const __m256i b0 = _mm256_set1_epi32(kGainBounds[0]), b1 = _mm256_set1_epi32(kGainBounds[1]),
                b2 = _mm256_set1_epi32(kGainBounds[2]);
  const __m256i gsq = _mm256_setr_epi32(kGainSquared[0], kGainSquared[1], kGainSquared[2], kGainSquared[3], 0, 0, 0, 0);
  const __m256i twice = _mm256_setr_epi32(kTwiceGain[0], kTwiceGain[1], kTwiceGain[2], kTwiceGain[3], 0, 0, 0, 0);
  const __m256i cmax = _mm256_set1_epi32(32767);
  __m256i best = _mm256_set1_epi32(INT32_MAX), bestAt = _mm256_setzero_si256();
  __m256i at = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i step = _mm256_set1_epi32(8);
  for (int s = 0; s < kShapeCount; s += 8, at = _mm256_add_epi32(at, step)) {
    const __m256i cor = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(loadPairs(t.w[0], s), p01), _mm256_madd_epi16(loadPairs(t.w[2], s), p23)),
        _mm256_madd_epi16(loadPairs(t.w[4], s), p4));
    const __m256i e = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(energy + s)));
    const __m256i mag = _mm256_abs_epi32(cor);
    // First threshold not passed = the number of thresholds passed: the
    // bounds rise, so for e >= 0 the passed ones are the lowest; for e < 0
    // every b e is negative and all three are passed (level 3 either way).
    const __m256i passed = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_cmpgt_epi32(mag, _mm256_mullo_epi32(b0, e)), _mm256_cmpgt_epi32(mag, _mm256_mullo_epi32(b1, e))),
        _mm256_cmpgt_epi32(mag, _mm256_mullo_epi32(b2, e)));
    const __m256i level = _mm256_sub_epi32(_mm256_setzero_si256(), passed);
    const __m256i c = _mm256_min_epi32(_mm256_srli_epi32(mag, 14), cmax);
    const __m256i dist = _mm256_sub_epi32(_mm256_mullo_epi32(_mm256_permutevar8x32_epi32(gsq, level), e),
                                          _mm256_mullo_epi32(_mm256_permutevar8x32_epi32(twice, level), c));
    const __m256i better = _mm256_cmpgt_epi32(best, dist);
    best = _mm256_blendv_epi8(best, dist, better);
    bestAt = _mm256_blendv_epi8(bestAt, at, better);
  }
  // The smallest distance of the lanes, then the smallest shape among the
  // lanes holding it (each lane kept the first of its equals).
  auto least = [&](__m256i x) VOKSC_TARGET_AVX2 {
    x = _mm256_min_epi32(x, _mm256_permute4x64_epi64(x, 0x4E));
    x = _mm256_min_epi32(x, _mm256_shuffle_epi32(x, 0x4E));
    return _mm256_min_epi32(x, _mm256_shuffle_epi32(x, 0xB1));
  };
  const __m256i atBest = _mm256_cmpeq_epi32(best, least(best));
  const int s = _mm256_cvtsi256_si32(least(_mm256_blendv_epi8(_mm256_set1_epi32(INT32_MAX), bestAt, atBest)));
  const int16_t* y = kShapes + s * kDim;
  i64 cor = 0;
  for (int j = 0; j < kDim; ++j) cor += i64{y[j]} * p[j];
  shape = s;
  gain = gainLevel(cor <= 0 ? -cor : cor, energy[s]) + (cor <= 0 ? 4 : 0);
}
#else
void shapeEnergies_avx2(const int16_t* h, int16_t* energy) { shapeEnergies_scalar(h, energy); }
void shapeSearch_avx2(const int16_t* p, const int16_t* energy, int& shape, int& gain) {
  shapeSearch_scalar(p, energy, shape, gain);
}
#endif

namespace {

// ---- filters ------------------------------------------------------------------

// The upper half, rounded half up unless it is 32767, of v 2^2 saturated to
// 32 bits, for any v whose v 2^2 fits 64 bits: floor((v + 2^13) / 2^14)
// clamped to 16 bits.  Where v 2^2 stays in 32 bits, its upper half is
// floor(v / 2^14), the rounding bit is bit 13 of v, and the one sum that
// leaves 16 bits (32767 plus the rounding bit) is what the clamp takes
// back to 32767; above 2^31 (below -2^31) the quotient is past 32767 (at
// most -32768), which the clamp turns into the saturated value's 32767
// (-32768).
inline int16_t roundQ14(i64 v) { return w16(sat16((v + 8192) >> 14)); }

// A state object's 16-bit words, copied in and written back: callers may
// place the objects at any byte address.
template <int N>
struct StateWords {
  void* at;
  int16_t w[N];
  explicit StateWords(void* p) : at(p) { std::memcpy(w, p, sizeof w); }
  ~StateWords() { std::memcpy(at, w, sizeof w); }
  StateWords(const StateWords&) = delete;
  StateWords& operator=(const StateWords&) = delete;
};

// Synthesis filter state: 10 past blocks of 5 (newest first), a spare area,
// the exponents (index 0: the zero-input vector's, 1..10: the past blocks').
struct SynthView {
  int16_t* mem;
  int16_t* exps;
};
SynthView synthView(void* s) {
  int16_t* w = static_cast<int16_t*>(s);
  return {w, w + 61};
}

// Zero-input response of the 50th-order synthesis filter over the block
// floating history; writes 5 samples (newest first) normalised to 15 bits.
}  // namespace

void synthesisRinging_scalar(const int16_t* a, const int16_t* mem, const int16_t* memExp, int16_t* out, int16_t* outExp) {
  int q0 = memExp[0];
  for (int i = 1; i < 10; ++i)
    if (memExp[i] < q0) q0 = memExp[i];
  // Each block's part for sample t (0 = oldest of the new vector),
  // -sum mem[5b + j] a[5b + t + j], shifted to the common exponent (a
  // shift past 30 leaves its sign; block 9, whose coefficients end at the
  // 50th, counts only below 30).
  i64 part[8] = {};
  int most = 0;
  for (int i = 0; i < 50; ++i) most = std::max(most, std::abs(int{mem[i]}));
  if (most <= 13107) {
    // Past samples of at most 13107 in magnitude keep a block's five
    // products inside 32 bits (every partial sum too): 32-bit sums over
    // eight lanes of t (three spare; zeros past the 50th coefficient),
    // shifted in 32 bits.
    int16_t ap[64] = {};
    std::memcpy(ap, a, 50 * sizeof(int16_t));
    for (int b = 0; b < 10; ++b) {
      const int sh = memExp[b] - q0;
      if (b == 9 && sh >= 30) break;
      int32_t p[8] = {};
      for (int j = 0; j < kDim; ++j) {
        const int32_t m = mem[b * kDim + j];
        for (int t = 0; t < 8; ++t) p[t] -= m * ap[b * kDim + t + j];
      }
      const int s = std::min(sh, 31);
      for (int t = 0; t < 8; ++t) part[t] += p[t] >> s;
    }
  } else {
    for (int t = 0; t < kDim; ++t) {
      int coef = t;
      for (int b = 0; b < 9; ++b, coef += kDim) {
        i64 p = 0;
        for (int j = 0; j < kDim; ++j) p -= i64{mem[b * kDim + j]} * a[coef + j];
        const int sh = memExp[b] - q0;
        part[t] += sh > 30 ? (p < 0 ? -1 : 0) : shr(p, sh);
      }
      const int sh = memExp[9] - q0;
      if (sh < 30) {
        i64 p = 0;
        for (int j = 0; j < kDim - t; ++j) p -= i64{mem[9 * kDim + j]} * a[coef + j];
        part[t] += shr(p, sh);
      }
    }
  }
  // Sample t also takes the t newer ringing samples already formed.
  int16_t zir[kDim] = {0, 0, 0, 0, 0};
  for (int t = 0; t < kDim; ++t) {
    i64 acc = part[t];
    for (int j = 0; j < t; ++j) acc -= i64{zir[kDim - t + j]} * a[j];
    zir[kDim - 1 - t] = w16(sat16(acc >> 14));
  }
  const int n = vectorShift(zir, kDim, 15);
  for (int k = 0; k < kDim; ++k) out[k] = w16(n < 0 ? shr(zir[k], -n) : shl(zir[k], n));
  *outExp = static_cast<int16_t>(q0 + n);
}


void windowBlocks_scalar(const int16_t* hist, const int16_t* win, const int8_t* shift, int n, int16_t* w) {
  for (int j = 0; j < n; ++j) {
    const i64 p = i64{hist[j]} * win[j];
    const int sh = shift[j];
    w[j] = sh > 30 ? 0 : w16(roundHigh(sh < 0 ? p * (i64{1} << -sh) : p >> sh));
  }
}

#if defined(VOKSC_X86)
// With c = 16 + shift the rounded upper half is p >> c plus bit c - 1 of p
// (the product p = hist win is exact in 32 bits); counts past 31 leave the
// sign, and sign plus sign bit is the 0 the longest shifts give.  The
// result is truncated to 16 bits as the scalar form does.
VOKSC_TARGET_AVX2 void windowBlocks_avx2(const int16_t* hist, const int16_t* win, const int8_t* shift, int n,
                                         int16_t* w) {
  const __m256i top = _mm256_set1_epi32(32767), one = _mm256_set1_epi32(1), most = _mm256_set1_epi32(31);
  const __m256i base = _mm256_set1_epi32(16), low = _mm256_set1_epi32(0xFFFF);
  auto eight = [&](int j) VOKSC_TARGET_AVX2 {
    const __m256i h = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(hist + j)));
    const __m256i g = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(win + j)));
    const __m256i p = _mm256_mullo_epi32(h, g);
    const __m256i c = _mm256_add_epi32(base, _mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(shift + j))));
    const __m256i b = _mm256_srav_epi32(p, _mm256_min_epi32(c, most));
    const __m256i bit = _mm256_and_si256(_mm256_srav_epi32(p, _mm256_min_epi32(_mm256_sub_epi32(c, one), most)), one);
    return _mm256_and_si256(_mm256_add_epi32(b, _mm256_andnot_si256(_mm256_cmpeq_epi32(b, top), bit)), low);
  };
  auto sixteen = [&](int j) VOKSC_TARGET_AVX2 {
    const __m256i v = _mm256_permute4x64_epi64(_mm256_packus_epi32(eight(j), eight(j + 8)), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(w + j), v);
  };
  int j = 0;
  for (; j + 16 <= n; j += 16) sixteen(j);
  // The last words: one more step over the last sixteen (each word depends
  // on its own inputs only, so the words formed twice come out the same).
  if (j < n) {
    if (n >= 16)
      sixteen(n - 16);
    else
      windowBlocks_scalar(hist + j, win + j, shift + j, n - j, w + j);
  }
}
#else
void windowBlocks_avx2(const int16_t* hist, const int16_t* win, const int8_t* shift, int n, int16_t* w) {
  windowBlocks_scalar(hist, win, shift, n, w);
}
#endif

#if defined(VOKSC_X86)
VOKSC_TARGET_AVX2 void synthesisRinging_avx2(const int16_t* a, const int16_t* mem, const int16_t* memExp, int16_t* out,
                                             int16_t* outExp) {
  // The common exponent (least of the ten) and each block's shift to it in
  // words: the lanes 0..7 and 2..9 overlap; a saturating difference keeps
  // every shift >= 0 and, clamped to 31, as large a shift as the sign
  // needs (the 32-bit shift below clamps there too).
  const __m128i e0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(memExp));
  const __m128i e1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(memExp + 2));
  __m128i least = _mm_min_epi16(e0, e1);
  least = _mm_min_epi16(least, _mm_shuffle_epi32(least, 0x4E));
  least = _mm_min_epi16(least, _mm_shuffle_epi32(least, 0xB1));
  least = _mm_min_epi16(least, _mm_shufflelo_epi16(least, 0xB1));
  const int q0 = static_cast<int16_t>(_mm_cvtsi128_si32(least));
  const __m128i q0w = _mm_set1_epi16(static_cast<int16_t>(q0)), most31 = _mm_set1_epi16(31);
  alignas(16) int16_t shifts[10 + 6];
  _mm_store_si128(reinterpret_cast<__m128i*>(shifts), _mm_min_epi16(_mm_subs_epi16(e0, q0w), most31));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(shifts + 2), _mm_min_epi16(_mm_subs_epi16(e1, q0w), most31));
  // Coefficients past the 50th are zero: block 9 meets only 5 - t of them.
  alignas(32) int16_t ap[64] = {};
  std::memcpy(ap, a, 50 * sizeof(int16_t));
  // Lanes: t = 0..3 and t = 4 (three spare lanes); each block's part
  // -sum mem[5b + j] a[5b + t + j] exactly in 64 bits, then shifted to the
  // common exponent (a shift past 30 leaves -1 or 0, its sign).
  const __m256i zero = _mm256_setzero_si256();
  __m256i s0 = zero, s1 = zero;
  // Past samples of at most 13107 in magnitude (the coder's are normalised
  // to 14 bits) keep each block's five products inside 32 bits: pair sums
  // (madd) of the samples against the coefficient pairs (a[k + t],
  // a[k + t + 1]) of lane t, shifted in 32 bits (a shift past 30 leaves the
  // sign either way), widened once per block.
  __m256i big = _mm256_abs_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(mem)));
  for (int at : {16, 32, 34})
    big = _mm256_max_epu16(big, _mm256_abs_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(mem + at))));
  const bool narrow = largestWord(big) <= 13107;
  if (narrow) {
    const __m256i pairs = _mm256_setr_epi8(0, 1, 2, 3, 2, 3, 4, 5, 4, 5, 6, 7, 6, 7, 8, 9,  //
                                           0, 1, 2, 3, 2, 3, 4, 5, 4, 5, 6, 7, 6, 7, 8, 9);
    const __m256i single = _mm256_setr_epi8(0, 1, -1, -1, 2, 3, -1, -1, 4, 5, -1, -1, 6, 7, -1, -1,  //
                                            0, 1, -1, -1, 2, 3, -1, -1, 4, 5, -1, -1, 6, 7, -1, -1);
    auto coefPairs = [&](int k, __m256i pattern) VOKSC_TARGET_AVX2 {
      const __m256i c = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ap + k))),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(ap + k + 4)), 1);
      return _mm256_shuffle_epi8(c, pattern);
    };
    auto memPair = [&](int k) VOKSC_TARGET_AVX2 {  // (mem[k], mem[k + 1]) in every 32-bit lane
      int32_t pair;
      std::memcpy(&pair, mem + k, sizeof pair);
      return _mm256_set1_epi32(pair);
    };
    // Unrolled: each block's shift and offsets become constants.
#pragma GCC unroll 10
    for (int b = 0; b < 10; ++b) {
      const int sh = shifts[b];
      if (b == 9 && sh >= 30) break;
      const int k = b * kDim;
      __m256i p = _mm256_madd_epi16(memPair(k), coefPairs(k, pairs));
      p = _mm256_add_epi32(p, _mm256_madd_epi16(memPair(k + 2), coefPairs(k + 2, pairs)));
      p = _mm256_add_epi32(p, _mm256_madd_epi16(_mm256_set1_epi32(static_cast<uint16_t>(mem[k + 4])), coefPairs(k + 4, single)));
      p = _mm256_sra_epi32(_mm256_sub_epi32(zero, p), _mm_cvtsi32_si128(sh));
      s0 = _mm256_add_epi64(s0, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(p)));
      s1 = _mm256_add_epi64(s1, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(p, 1)));
    }
  }
  for (int b = 0; b < 10 && !narrow; ++b) {
    const int sh = memExp[b] - q0;
    if (b == 9 && sh >= 30) break;
    __m256i p0 = zero, p1 = zero;
    for (int j = 0; j < kDim; ++j) {
      const __m256i m = _mm256_set1_epi64x(-int64_t{mem[b * kDim + j]});
      const int16_t* c = ap + b * kDim + j;
      p0 = _mm256_add_epi64(p0, _mm256_mul_epi32(m, _mm256_cvtepi16_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c)))));
      p1 = _mm256_add_epi64(p1, _mm256_mul_epi32(m, _mm256_cvtepi16_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c + 4)))));
    }
    if (sh != 0) {
      const __m128i n = _mm_cvtsi32_si128(sh > 30 ? 63 : sh);
      const __m256i g0 = _mm256_cmpgt_epi64(zero, p0), g1 = _mm256_cmpgt_epi64(zero, p1);
      p0 = _mm256_xor_si256(_mm256_srl_epi64(_mm256_xor_si256(p0, g0), n), g0);
      p1 = _mm256_xor_si256(_mm256_srl_epi64(_mm256_xor_si256(p1, g1), n), g1);
    }
    s0 = _mm256_add_epi64(s0, p0);
    s1 = _mm256_add_epi64(s1, p1);
  }
  alignas(32) int64_t part[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(part), s0);
  _mm256_store_si256(reinterpret_cast<__m256i*>(part + 4), s1);
  int16_t zir[kDim] = {0, 0, 0, 0, 0};
  for (int t = 0; t < kDim; ++t) {
    i64 acc = 0;
    for (int j = 0; j < t; ++j) acc -= i64{zir[kDim - t + j]} * a[j];
    acc += part[t];
    zir[kDim - 1 - t] = w16(sat16(acc >> 14));
  }
  const int n = vectorShift(zir, kDim, 15);
  for (int k = 0; k < kDim; ++k) out[k] = w16(n < 0 ? shr(zir[k], -n) : shl(zir[k], n));
  *outExp = static_cast<int16_t>(q0 + n);
}

#else
void synthesisRinging_avx2(const int16_t* a, const int16_t* mem, const int16_t* memExp, int16_t* out, int16_t* outExp) {
  synthesisRinging_scalar(a, mem, memExp, out, outExp);
}
#endif

namespace {

// The pole-zero run's histories in time order in front of up to kChunk new
// samples, so that every output reads its ten predecessors in place (six
// more words past them for the vector form's 16-word loads).
struct PoleZeroWork {
  static constexpr int kChunk = 32;
  int16_t xs[10 + kChunk + 6] = {}, ys[10 + kChunk + 6] = {};
  int done = 0, len;
  PoleZeroWork(const int16_t* xm, const int16_t* ym, int n) : len(std::min(kChunk, n)) {
    std::memcpy(xs, xm, 10 * sizeof(int16_t));
    std::memcpy(ys, ym, 10 * sizeof(int16_t));
  }
  // After a chunk: false once all n samples are done (the last ten of each
  // written back to xm, ym); otherwise they move to the front for the next.
  bool next(int n, int16_t* xm, int16_t* ym) {
    done += len;
    if (done >= n) {
      std::memcpy(xm, xs + len, 10 * sizeof(int16_t));
      std::memcpy(ym, ys + len, 10 * sizeof(int16_t));
      return false;
    }
    std::memmove(xs, xs + len, 10 * sizeof(int16_t));
    std::memmove(ys, ys + len, 10 * sizeof(int16_t));
    len = std::min(kChunk, n - done);
    return true;
  }
};

}  // namespace

void poleZeroRun_scalar(const int16_t* coef, int16_t* xm, int16_t* ym, const int16_t* x, int16_t* y, int n,
                        int step) {
  PoleZeroWork h(xm, ym, n);
  do {
    for (int t = 0; t < h.len; ++t) {
      const int16_t in = x[(h.done + t) * step];
      i64 acc = i64{in} * 16384;
      for (int i = 0; i < 10; ++i) acc += i64{coef[i]} * h.xs[9 + t - i] - i64{coef[10 + i]} * h.ys[9 + t - i];
      h.xs[10 + t] = in;
      h.ys[10 + t] = w16(sat16(acc >> 14));
      y[(h.done + t) * step] = h.ys[10 + t];
    }
  } while (h.next(n, xm, ym));
}

#if defined(VOKSC_X86)
// Both ten-term sums of an output as pair sums (madd) of the reversed
// coefficients against the sixteen history words from t on (lanes 10..15
// have zero coefficients), widened to 64 bits.  A pair sum wraps only for
// two -32768 coefficients against two -32768 samples: coefficient sets
// holding -32768 go the scalar way.
VOKSC_TARGET_AVX2 void poleZeroRun_avx2(const int16_t* coef, int16_t* xm, int16_t* ym, const int16_t* x, int16_t* y,
                                        int n, int step) {
  const __m256i head = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coef));      // coef[0..15]
  const __m256i tail = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coef + 4));  // coef[4..19]
  const __m256i least = _mm256_set1_epi16(-32768);
  if (!_mm256_testz_si256(_mm256_or_si256(_mm256_cmpeq_epi16(head, least), _mm256_cmpeq_epi16(tail, least)),
                          _mm256_set1_epi16(-1)))
    return poleZeroRun_scalar(coef, xm, ym, x, y, n, step);
  // Reversed: lane j of rh is coef[15 - j], of rt coef[19 - j]; the zeros'
  // lanes move down by six words (three dwords); lanes 10..15 cleared.
  const __m256i flip = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,  //
                                        14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
  const __m256i ten = _mm256_setr_epi16(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 0, 0, 0, 0, 0);
  const __m256i rh = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(head, flip), 0x4E);
  const __m256i rt = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(tail, flip), 0x4E);
  const __m256i vz = _mm256_and_si256(_mm256_permutevar8x32_epi32(rh, _mm256_setr_epi32(3, 4, 5, 6, 7, 7, 7, 7)), ten);
  const __m256i vp = _mm256_and_si256(rt, ten);
  auto wide = [&](__m256i p) VOKSC_TARGET_AVX2 {
    return _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_castsi256_si128(p)),
                            _mm256_cvtepi32_epi64(_mm256_extracti128_si256(p, 1)));
  };
  PoleZeroWork h(xm, ym, n);
  do {
    for (int t = 0; t < h.len; ++t) {
      const int16_t in = x[(h.done + t) * step];
      const __m256i pz = _mm256_madd_epi16(vz, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h.xs + t)));
      const __m256i pp = _mm256_madd_epi16(vp, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h.ys + t)));
      const __m256i d = _mm256_sub_epi64(wide(pz), wide(pp));
      __m128i s = _mm_add_epi64(_mm256_castsi256_si128(d), _mm256_extracti128_si256(d, 1));
      s = _mm_add_epi64(s, _mm_unpackhi_epi64(s, s));
      alignas(16) int64_t sum[2];
      _mm_store_si128(reinterpret_cast<__m128i*>(sum), s);
      const i64 acc = i64{in} * 16384 + sum[0];
      h.xs[10 + t] = in;
      h.ys[10 + t] = w16(sat16(acc >> 14));
      y[(h.done + t) * step] = h.ys[10 + t];
    }
  } while (h.next(n, xm, ym));
}
#else
void poleZeroRun_avx2(const int16_t* coef, int16_t* xm, int16_t* ym, const int16_t* x, int16_t* y, int n, int step) {
  poleZeroRun_scalar(coef, xm, ym, x, y, n, step);
}
#endif

void tapSums_scalar(const int16_t* c, const int16_t* x, const int16_t* d, const int16_t* y, int64_t* sums) {
  for (int k = 0; k < kDim; ++k) {
    i64 s = 0;
    for (int j = 0; j < 10; ++j) s += i64{c[j]} * x[k + 1 + j];
    if (d)
      for (int j = 0; j < 10; ++j) s -= i64{d[j]} * y[k + 1 + j];
    sums[k] = s;
  }
}

#if defined(VOKSC_X86)
namespace {
// The sixteen words from K on of a history held as its words 0..15 and
// 8..23 (each 128-bit lane shifted by K words across the pair).
template <int K>
VOKSC_TARGET_AVX2 inline __m256i wordsFrom(__m256i w0, __m256i w8) {
  return _mm256_alignr_epi8(w8, w0, 2 * K);
}
// Output K - 1 of the ten-tap sums: each section's pair sums widened, the
// pole section's subtracted, four 64-bit lanes left to add.
template <int K>
VOKSC_TARGET_AVX2 inline __m256i tapOutput(__m256i x0, __m256i x8, __m256i y0, __m256i y8, __m256i cz, __m256i cp,
                                           bool pole) {
  const __m256i pz = _mm256_madd_epi16(wordsFrom<K>(x0, x8), cz);
  __m256i lo = _mm256_cvtepi32_epi64(_mm256_castsi256_si128(pz));
  __m256i hi = _mm256_cvtepi32_epi64(_mm256_extracti128_si256(pz, 1));
  if (pole) {
    const __m256i pp = _mm256_madd_epi16(wordsFrom<K>(y0, y8), cp);
    lo = _mm256_sub_epi64(lo, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(pp)));
    hi = _mm256_sub_epi64(hi, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(pp, 1)));
  }
  return _mm256_add_epi64(lo, hi);
}
}  // namespace

// One output per step: the sixteen words from k + 1 on (newest first, so
// word j of them meets tap j) against the taps and six zeros, in pair sums
// (madd) of (c[j], c[j + 1]), j even.  A pair sum is exact in 32 bits
// unless both coefficients and both words are -32768: coefficient sets
// holding such a pair take the scalar form.  The pair sums of each
// section are widened to 64 bits before the sections are subtracted and
// the five lanes (pairs) of an output are added up.
VOKSC_TARGET_AVX2 void tapSums_avx2(const int16_t* c, const int16_t* x, const int16_t* d, const int16_t* y,
                                    int64_t* sums) {
  // The ten coefficients (five 32-bit words) without reading past them.
  const __m256i five = _mm256_setr_epi32(-1, -1, -1, -1, -1, 0, 0, 0);
  const __m256i both = _mm256_set1_epi32(static_cast<int32_t>(0x80008000u));
  const __m256i cz = _mm256_maskload_epi32(reinterpret_cast<const int*>(c), five);
  __m256i bad = _mm256_cmpeq_epi32(cz, both);
  __m256i cp = _mm256_setzero_si256();
  if (d) {
    cp = _mm256_maskload_epi32(reinterpret_cast<const int*>(d), five);
    bad = _mm256_or_si256(bad, _mm256_cmpeq_epi32(cp, both));
  }
  if (!_mm256_testz_si256(bad, bad)) return tapSums_scalar(c, x, d, y, sums);
  // Words 0..15 and 8..23 of each history, two loads (the callers' buffers
  // hold 24 readable words, just written: fewer loads that wait for those
  // stores); the sixteen words from k + 1 are formed from them in registers.
  const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x));
  const __m256i x8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + 8));
  __m256i y0 = x0, y8 = x8;
  if (d) {
    y0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
    y8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + 8));
  }
  __m256i acc[kDim];
  acc[0] = tapOutput<1>(x0, x8, y0, y8, cz, cp, d != nullptr);
  acc[1] = tapOutput<2>(x0, x8, y0, y8, cz, cp, d != nullptr);
  acc[2] = tapOutput<3>(x0, x8, y0, y8, cz, cp, d != nullptr);
  acc[3] = tapOutput<4>(x0, x8, y0, y8, cz, cp, d != nullptr);
  acc[4] = tapOutput<5>(x0, x8, y0, y8, cz, cp, d != nullptr);
  // Four lane sums of outputs 0..3 side by side, then output 4.
  const __m256i t01 = _mm256_add_epi64(_mm256_unpacklo_epi64(acc[0], acc[1]), _mm256_unpackhi_epi64(acc[0], acc[1]));
  const __m256i t23 = _mm256_add_epi64(_mm256_unpacklo_epi64(acc[2], acc[3]), _mm256_unpackhi_epi64(acc[2], acc[3]));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums), _mm256_add_epi64(_mm256_permute2x128_si256(t01, t23, 0x20),
                                                                         _mm256_permute2x128_si256(t01, t23, 0x31)));
  __m128i t4 = _mm_add_epi64(_mm256_castsi256_si128(acc[4]), _mm256_extracti128_si256(acc[4], 1));
  t4 = _mm_add_epi64(t4, _mm_unpackhi_epi64(t4, t4));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(sums + 4), t4);
}
#else
void tapSums_avx2(const int16_t* c, const int16_t* x, const int16_t* d, const int16_t* y, int64_t* sums) {
  tapSums_scalar(c, x, d, y, sums);
}
#endif

void pitchCorrelations_scalar(const int16_t* f, int lo, int64_t* c) { kern::xcorr(f, f + lo, 100, 8, c); }

#if defined(VOKSC_X86)
// Samples in lanes, one lag at a time: the six 16-word blocks of f[0..95]
// against the blocks from lo + l in pair sums (madd), the last four
// samples in a 128-bit step.  A lane gains two products per block, each
// at most mx my (the largest magnitudes of f[0..99] and of f[lo..lo+106]):
// where 12 mx my stays below 2^31 the six blocks sum in 32 bits and are
// widened once, otherwise each block's pair sums are widened (exact while
// 2 mx my does: all four words of a pair sum at -32768 could wrap it;
// past that the wide form).
VOKSC_TARGET_AVX2 void pitchCorrelations_avx2(const int16_t* f, int lo, int64_t* c) {
  auto block = [&](int k) VOKSC_TARGET_AVX2 { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f + k)); };
  __m256i bx = _mm256_abs_epi16(block(84)), by = _mm256_abs_epi16(block(lo + 91));
  for (int k = 0; k < 96; k += 16) {
    bx = _mm256_max_epu16(bx, _mm256_abs_epi16(block(k)));
    by = _mm256_max_epu16(by, _mm256_abs_epi16(block(lo + k)));
  }
  const i64 most = 2 * i64{largestWord(bx)} * largestWord(by);
  if (most > INT32_MAX) return pitchCorrelations_scalar(f, lo, c);
  const bool narrow = 6 * most <= INT32_MAX;
  const __m256i x0 = block(0), x1 = block(16), x2 = block(32), x3 = block(48), x4 = block(64), x5 = block(80);
  const __m128i xt = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(f + 96));
  __m256i lag[8];
  for (int l = 0; l < 8; ++l) {
    const int16_t* y = f + lo + l;
    auto part = [&](__m256i x, int v) VOKSC_TARGET_AVX2 {
      return _mm256_madd_epi16(x, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + 16 * v)));
    };
    __m256i sum = _mm256_cvtepi32_epi64(_mm_madd_epi16(xt, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + 96))));
    if (narrow) {
      const __m256i a = _mm256_add_epi32(_mm256_add_epi32(_mm256_add_epi32(part(x0, 0), part(x1, 1)),
                                                          _mm256_add_epi32(part(x2, 2), part(x3, 3))),
                                         _mm256_add_epi32(part(x4, 4), part(x5, 5)));
      sum = _mm256_add_epi64(sum, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(a)));
      sum = _mm256_add_epi64(sum, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(a, 1)));
    } else {
      const __m256i xs[6] = {x0, x1, x2, x3, x4, x5};
      for (int v = 0; v < 6; ++v) {
        const __m256i a = part(xs[v], v);
        sum = _mm256_add_epi64(sum, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(a)));
        sum = _mm256_add_epi64(sum, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(a, 1)));
      }
    }
    lag[l] = sum;
  }
  // The four lanes of each lag summed, four lags side by side.
  for (int h = 0; h < 8; h += 4) {
    const __m256i t01 = _mm256_add_epi64(_mm256_unpacklo_epi64(lag[h], lag[h + 1]), _mm256_unpackhi_epi64(lag[h], lag[h + 1]));
    const __m256i t23 =
        _mm256_add_epi64(_mm256_unpacklo_epi64(lag[h + 2], lag[h + 3]), _mm256_unpackhi_epi64(lag[h + 2], lag[h + 3]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c + h), _mm256_add_epi64(_mm256_permute2x128_si256(t01, t23, 0x20),
                                                                            _mm256_permute2x128_si256(t01, t23, 0x31)));
  }
}
#else
void pitchCorrelations_avx2(const int16_t* f, int lo, int64_t* c) { pitchCorrelations_scalar(f, lo, c); }
#endif

int decimatedPeakLag_scalar(const int16_t*) { return 0; }

#if defined(VOKSC_X86)
// Lags in 32-bit lanes, two samples a step: the pair (d[i], d[i + 1]) in
// every lane against (d[i + l], d[i + l + 1]) of lag lane l, which the
// interleave of the words from i + L and from i + L + 1 forms for sixteen
// lags at a time (lags L..L+3, L+8..L+11 from the low words, the others
// from the high ones).  The 25th sample pairs with a zero.  With every
// word at most 9268 in magnitude, each lag's 25 products sum below 2^31 at
// every step; otherwise 0.  The peak: the largest of the 31 sums (lag 36
// set aside), then the first lag holding it.
VOKSC_TARGET_AVX2 int decimatedPeakLag_avx2(const int16_t* d) {
  auto at = [&](int k) VOKSC_TARGET_AVX2 { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + k)); };
  __m256i big = _mm256_max_epu16(_mm256_abs_epi16(at(0)), _mm256_abs_epi16(at(16)));
  big = _mm256_max_epu16(big, _mm256_max_epu16(_mm256_abs_epi16(at(32)), _mm256_abs_epi16(at(48))));
  if (largestWord(big) > 9268) return 0;
  __m256i acc[4];
  for (auto& v : acc) v = _mm256_setzero_si256();
  for (int i = 0; i < 25; i += 2) {
    int32_t pair;
    std::memcpy(&pair, d + i, sizeof pair);
    if (i == 24) pair = static_cast<uint16_t>(d[24]);
    const __m256i w = _mm256_set1_epi32(pair);
    for (int b = 0; b < 2; ++b) {
      const __m256i y = at(i + 5 + 16 * b), z = at(i + 6 + 16 * b);
      acc[2 * b] = _mm256_add_epi32(acc[2 * b], _mm256_madd_epi16(_mm256_unpacklo_epi16(y, z), w));
      acc[2 * b + 1] = _mm256_add_epi32(acc[2 * b + 1], _mm256_madd_epi16(_mm256_unpackhi_epi16(y, z), w));
    }
  }
  // Lag order: lags 5 + 8m .. 12 + 8m in c[m].
  __m256i c[4];
  for (int b = 0; b < 2; ++b) {
    c[2 * b] = _mm256_permute2x128_si256(acc[2 * b], acc[2 * b + 1], 0x20);
    c[2 * b + 1] = _mm256_permute2x128_si256(acc[2 * b], acc[2 * b + 1], 0x31);
  }
  c[3] = _mm256_blend_epi32(c[3], _mm256_set1_epi32(INT32_MIN), 0x80);  // lag 36
  __m256i top = _mm256_max_epi32(_mm256_max_epi32(c[0], c[1]), _mm256_max_epi32(c[2], c[3]));
  top = _mm256_max_epi32(top, _mm256_permute2x128_si256(top, top, 0x01));
  top = _mm256_max_epi32(top, _mm256_shuffle_epi32(top, 0x4E));
  top = _mm256_max_epi32(top, _mm256_shuffle_epi32(top, 0xB1));
  uint32_t hits = 0;
  for (int m = 0; m < 4; ++m)
    hits |= static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(c[m], top)))) << (8 * m);
  return 5 + __builtin_ctz(hits);
}
#else
int decimatedPeakLag_avx2(const int16_t* d) { return decimatedPeakLag_scalar(d); }
#endif

void shapeEnergies_scalar(const int16_t* h, int16_t* energy) {
  for (int s = 0; s < kShapeCount; ++s) {
    const int16_t* y = kShapes + s * kDim;
    i64 e = 0;
    for (int j = 0; j < kDim; ++j) {
      i64 d = 0;
      for (int i = 0; i < kDim - j; ++i) d += i64{y[j + i]} * h[kDim - 1 - i];
      d = sat16(d >> 14);
      e += d * d;
    }
    energy[s] = w16(sat16(e >> 15));
  }
}

namespace {

// Impulse response of the synthesis filter in cascade with the weighting
// filter (zero state), first 5 samples; h newest first, h[4] = 1 << lead.
void combinedImpulse(const int16_t* a, const int16_t* num, const int16_t* den, int lead, int16_t* h) {
  int16_t syn[kDim], out[kDim];  // time order here
  syn[0] = out[0] = static_cast<int16_t>(1 << lead);
  for (int i = 1; i < kDim; ++i) {
    i64 ds = 0, dw = 0;
    for (int k = 0; k < i; ++k) {
      ds -= i64{a[k]} * syn[i - 1 - k];
      dw += i64{num[k]} * syn[i - 1 - k] - i64{den[k]} * out[i - 1 - k];
    }
    dw += ds;
    syn[i] = w16(sat16(ds >> 14));
    out[i] = w16(sat16(dw >> 14));
  }
  for (int i = 0; i < kDim; ++i) h[kDim - 1 - i] = out[i];
}

}  // namespace
}  // namespace voksc::g728

using namespace voksc;
using namespace voksc::g728;

// ---- hybrid window ------------------------------------------------------------

VOKSC_EXPORT VokResult voksWinHybridGetStateSize_G728_16s(int M, int N, int L, int d, int* size) {
  if (!size) return vokErrNullPtr;
  if (M < 1 || N < 1 || L < 1) return vokErrSize;
  // Formed in 64 bits: dimensions whose state would not fit an int are a size error.
  const long long span = static_cast<long long>(L) + M + N;
  const long long blocks = d > 0 ? span / d : 0;
  const long long bytes = 2 * (span + M) + 28 + 2 * blocks + 16;
  if (bytes > INT_MAX) return vokErrSize;
  *size = static_cast<int>(bytes);
  return vokOk;
}

VOKSC_EXPORT VokResult voksWinHybridInit_G728_16s(const Vok16s* window, int M, int N, int L, int d, Vok16s decay,
                                                  void* state) {
  if (anyNull(window, state)) return vokErrNullPtr;
  if (M < 1 || N < 1 || L < 1) return vokErrSize;
  if (M > 63 || N + L > 1024 - M) return vokErrRange;  // beyond the analyses of the standard
  if (decay != 12288 && decay != 8192) return vokErrRange;
  unsigned char* b = alignedBase(state);
  WinHeader* h = reinterpret_cast<WinHeader*>(b);
  h->window = window;
  h->order = static_cast<int16_t>(M);
  h->nonRecursive = static_cast<int16_t>(N);
  h->block = static_cast<int16_t>(L);
  h->blocksOfBlock = static_cast<int16_t>(d > 0 ? L / d : 0);
  h->blocks = static_cast<int16_t>(d > 0 ? (M + N + L) / d : 0);
  h->shift = static_cast<int16_t>(decay == 12288 ? 14 : 15);
  h->spare = static_cast<int16_t>(d > 0 ? d : 0);
  h->tag = headerTag(*h);
  const WinView v = winView(state);
  const int total = M + N + L;
  std::memset(v.rexp, 0, sizeof(int16_t) * (M + 1));
  *v.rexpExp = 31;
  std::memset(v.hist, 0, sizeof(int16_t) * total);
  for (int i = 0; i < h->blocks; ++i) v.exps[i] = 16;
  return vokOk;
}

VOKSC_EXPORT VokResult voksWinHybrid_G728_16s(Vok16s shortForm, const Vok16s* src, Vok16s* dst, void* state) {
  if (anyNull(src, dst, state)) return vokErrNullPtr;
  if (!headerValid(*reinterpret_cast<WinHeader*>(alignedBase(state)))) return vokErrContextMatch;
  const WinView v = winView(state);
  const int m = v.h->order, nonr = v.h->nonRecursive, blk = v.h->block, total = m + nonr + blk;
  std::memmove(v.hist + blk, v.hist, sizeof(int16_t) * (total - blk));
  std::memcpy(v.hist, src, sizeof(int16_t) * blk);
  // One exponent for all samples (-1..14: a left shift of up to 14 places).
  const int wsExp = vectorShift(v.hist, total, 15);
  int16_t w[1024 + kWindowSpare];
  int8_t shifts[1024];
  std::memset(shifts, -wsExp, static_cast<std::size_t>(total));
  static const auto window = cpu::choose(windowBlocks_scalar, windowBlocks_avx2);
  window(v.hist, v.h->window, shifts, total, w);
  std::memset(w + total, 0, kWindowSpare * sizeof(int16_t));
  int16_t r[64 + 8];  // the lag kernels write up to seven past the last lag
  const int decayShift = v.h->shift == 14 ? 2 : 1;
  const i64 last = hybridCorrelation(m, blk, nonr, decayShift, w, wsExp, v.rexp, v.rexpExp, r, m + 2 + total);
  // The weighting window (decay 1/2) keeps the exponent of its recursive
  // part at most 41 through silence.
  if (v.h->shift == 15 && *v.rexpExp > 41) *v.rexpExp = 41;
  return finishWindow(v, last, shortForm, r, dst);
}

VOKSC_EXPORT VokResult voksWinHybridBlock_G728_16s(Vok16s shortForm, const Vok16s* src, Vok16s* acf,
                                                   const Vok16s* srcExp, void* state) {
  if (anyNull(src, acf, srcExp, state)) return vokErrNullPtr;
  if (!headerValid(*reinterpret_cast<WinHeader*>(alignedBase(state)))) return vokErrContextMatch;
  const WinView v = winView(state);
  const int m = v.h->order, nonr = v.h->nonRecursive, blk = v.h->block, total = m + nonr + blk;
  const int d = v.h->spare, nb = v.h->blocks, nnew = v.h->blocksOfBlock;
  if (d < 1 || nb < 1 || nb * d != total || nnew * d != blk || total > 1024 || m > 63) return vokErrBadArg;
  std::memmove(v.hist + blk, v.hist, sizeof(int16_t) * (total - blk));
  std::memcpy(v.hist, src, sizeof(int16_t) * blk);
  std::memmove(v.exps + nnew, v.exps, sizeof(int16_t) * (nb - nnew));
  std::memcpy(v.exps, srcExp, sizeof(int16_t) * nnew);
  int minExp = v.exps[0];
  for (int i = 1; i < nb; ++i)
    if (v.exps[i] < minExp) minExp = v.exps[i];
  // Each block's samples brought to the common exponent: doubled, shifted
  // down, or (past 30 places) 0.
  int16_t w[1024 + kWindowSpare];
  int8_t shifts[1024 + 8];
  for (int b = 0, k = 0; b < nb; ++b, k += d) {
    const int8_t sh = static_cast<int8_t>(std::min(v.exps[b] - minExp - 1, 31));
    if (d <= 8) {  // eight copies at once; the next block overwrites the excess
      const uint64_t copies = 0x0101010101010101ull * static_cast<uint8_t>(sh);
      std::memcpy(shifts + k, &copies, sizeof copies);
    } else {
      std::memset(shifts + k, sh, static_cast<std::size_t>(d));
    }
  }
  static const auto window = cpu::choose(windowBlocks_scalar, windowBlocks_avx2);
  window(v.hist, v.h->window, shifts, total, w);
  std::memset(w + total, 0, kWindowSpare * sizeof(int16_t));
  int16_t r[64 + 8];  // the lag kernels write up to seven past the last lag
  const int decayShift = v.h->shift == 14 ? 2 : 1;
  const i64 last = hybridCorrelation(m, blk, nonr, decayShift, w, minExp, v.rexp, v.rexpExp, r, m + 2 + total + nb);
  return finishWindow(v, last, shortForm, r, acf);
}

// ---- Levinson-Durbin ------------------------------------------------------------

VOKSC_EXPORT VokResult voksLevinsonDurbin_G728_16s_Sfs(const Vok16s* acf, int order, Vok16s* lpc, Vok16s* rc1,
                                                       Vok16s* err, Vok16s* scale) {
  if (anyNull(acf, lpc, rc1, scale, err)) return vokErrNullPtr;
  if (order < 0 || order > kMaxOrder) return vokErrRange;
  if (acf[0] < 1) return vokErrRange;
  if (order == 0) {  // no predictor: the error is the signal energy, acf[0] is all there is to read
    *rc1 = 0;
    *err = acf[0];
    *scale = 15;
    return vokOk;
  }
  int16_t k1 = 0;
  i64 alpha = 0;
  int headroom = 0;
  if (!levinson(acf, 0, order, lpc, &k1, alpha, headroom)) return vokWrnOverflow;
  *rc1 = k1;
  *err = w16(alpha);
  *scale = static_cast<int16_t>(15 - headroom);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLevinsonDurbin_G728_16s_ISfs(const Vok16s* acf, int startOrder, int order, Vok16s* lpc,
                                                        Vok16s* err, Vok16s* scale) {
  if (anyNull(acf, lpc, err, scale)) return vokErrNullPtr;
  if (startOrder < 0 || startOrder > order || order > kMaxOrder) return vokErrRange;
  if (*scale > 15) return vokErrScale;
  if (startOrder == 0) {
    int16_t k1;
    return voksLevinsonDurbin_G728_16s_Sfs(acf, order, lpc, &k1, err, scale);
  }
  if (*scale < 13) return vokErrScale;
  i64 alpha = *err;
  int headroom = 15 - *scale;
  if (!levinson(acf, startOrder, order, lpc, nullptr, alpha, headroom)) return vokWrnOverflow;
  *err = w16(alpha);
  *scale = static_cast<int16_t>(15 - headroom);
  return vokOk;
}

// ---- codebook search ---------------------------------------------------------------

VOKSC_EXPORT VokResult voksCodebookSearch_G728_16s(const Vok16s* p, const Vok16s* energy, Vok32s* shapeIndex,
                                                   Vok32s* gainIndex, Vok16s* codeword, VokRateCode rateCode) {
  if (anyNull(p, energy, shapeIndex, codeword, gainIndex)) return vokErrNullPtr;
  if (rateCode != 17 && rateCode != 14 && rateCode != 10) return vokErrRange;
  if (rateCode != 17) return vokErrBadArg;  // no codebook of the 12.8 and 9.6 kbit/s extensions (see voksc.h)
  int bestShape = 0, bestGain = 0;
  static const auto search = cpu::choose(shapeSearch_scalar, shapeSearch_avx2);
  search(p, energy, bestShape, bestGain);
  *shapeIndex = bestShape;
  *gainIndex = bestGain;
  *codeword = static_cast<Vok16s>(bestShape * 8 + bestGain);
  return vokOk;
}

// ---- filters -------------------------------------------------------------------------

VOKSC_EXPORT VokResult voksSynthesisFilterGetStateSize_G728_16s(int* size) {
  if (!size) return vokErrNullPtr;
  *size = 144;
  return vokOk;
}

VOKSC_EXPORT VokResult voksSynthesisFilterInit_G728_16s(void* state) {
  if (!state) return vokErrNullPtr;
  int16_t w[72] = {};
  for (int i = 61; i < 72; ++i) w[i] = 16;
  std::memcpy(state, w, sizeof w);
  return vokOk;
}

VOKSC_EXPORT VokResult voksSyntesisFilterZeroInput_G728_16s(const Vok16s* lpc, const Vok16s* src, Vok16s srcExp,
                                                            Vok16s* dst, Vok16s* dstExp, void* state) {
  if (anyNull(lpc, src, dst, dstExp, state)) return vokErrNullPtr;
  static const auto ringing = cpu::choose(synthesisRinging_scalar, synthesisRinging_avx2);
  // A state at a word address moves on by one block in place: the new block
  // and its exponent in front, the oldest block and exponent dropped.
  if (reinterpret_cast<std::uintptr_t>(state) % alignof(int16_t) == 0) {
    const SynthView v = synthView(state);
    int16_t kept[45 + 9];  // read whole before the overlapping stores
    std::memcpy(kept, v.mem, 45 * sizeof(int16_t));
    std::memcpy(kept + 45, v.exps + 1, 9 * sizeof(int16_t));
    std::memcpy(v.mem + kDim, kept, 45 * sizeof(int16_t));
    std::memcpy(v.mem, src, kDim * sizeof(int16_t));
    std::memcpy(v.exps + 2, kept + 45, 9 * sizeof(int16_t));
    v.exps[1] = srcExp;
    ringing(lpc, v.mem, v.exps + 1, dst, dstExp);
    v.exps[0] = *dstExp;
    return vokOk;
  }
  // Elsewhere the same through a copy of the words.
  int16_t w[72];
  unsigned char* st = static_cast<unsigned char*>(state);
  const SynthView v = synthView(w);
  std::memcpy(v.mem, src, kDim * sizeof(int16_t));
  std::memcpy(v.mem + kDim, st, 45 * sizeof(int16_t));
  std::memcpy(v.mem + 50, st + 50 * sizeof(int16_t), 11 * sizeof(int16_t));
  v.exps[1] = srcExp;
  std::memcpy(v.exps + 2, st + 62 * sizeof(int16_t), 9 * sizeof(int16_t));
  int16_t out[kDim], q;
  ringing(lpc, v.mem, v.exps + 1, out, &q);
  v.exps[0] = q;
  std::memcpy(state, w, sizeof w);
  std::memcpy(dst, out, sizeof out);
  *dstExp = q;
  return vokOk;
}

VOKSC_EXPORT VokResult voksCombinedFilterGetStateSize_G728_16s(int* size) {
  if (!size) return vokErrNullPtr;
  *size = 208;
  return vokOk;
}

VOKSC_EXPORT VokResult voksCombinedFilterInit_G728_16s(void* state) {
  if (!state) return vokErrNullPtr;
  std::memset(state, 0, 104 * sizeof(int16_t));
  return vokOk;
}

VOKSC_EXPORT VokResult voksCombinedFilterZeroInput_G728_16s(const Vok16s* lpc, const Vok16s* src, Vok16s* dst,
                                                            void* state) {
  if (anyNull(lpc, src, dst, state)) return vokErrNullPtr;
  // The histories come with the call (the state keeps nothing between
  // calls); they run in time order.
  int16_t xm[10], ym[10];
  for (int i = 0; i < 10; ++i) xm[9 - i] = src[kDim + i], ym[9 - i] = src[15 + i];
  int16_t out[kDim];
  static const auto run = cpu::choose(poleZeroRun_scalar, poleZeroRun_avx2);
  run(lpc, xm, ym, src + kDim - 1, out + kDim - 1, kDim, -1);  // newest first
  std::memcpy(dst, out, sizeof out);
  return vokOk;
}

VOKSC_EXPORT VokResult voksCombinedFilterZeroState_G728_16s(const Vok16s* lpcSyn, const Vok16s* lpcWeightNum,
                                                            const Vok16s* lpcWeightDen, Vok16s scale, Vok16s* hOut,
                                                            Vok16s* energy, void* state) {
  if (anyNull(lpcSyn, lpcWeightNum, lpcWeightDen, hOut, energy, state)) return vokErrNullPtr;
  if (scale < 0 || scale > 14) return vokErrScale;
  int16_t h[kDim], e[kShapeCount];
  combinedImpulse(lpcSyn, lpcWeightNum, lpcWeightDen, scale, h);
  static const auto energies = cpu::choose(shapeEnergies_scalar, shapeEnergies_avx2);
  energies(h, e);
  std::memcpy(hOut, h, sizeof h);
  std::memcpy(energy, e, sizeof e);
  return vokOk;
}

VOKSC_EXPORT VokResult voksIIR16sGetStateSize_G728_16s(int* size) {
  if (!size) return vokErrNullPtr;
  *size = 64;
  return vokOk;
}

VOKSC_EXPORT VokResult voksIIR16sInit_G728_16s(void* state) {
  if (!state) return vokErrNullPtr;
  std::memset(state, 0, 64);
  return vokOk;
}

VOKSC_EXPORT VokResult voksPostFilterGetStateSize_G728_16s(int* size) { return voksIIR16sGetStateSize_G728_16s(size); }
VOKSC_EXPORT VokResult voksPostFilterInit_G728_16s(void* state) { return voksIIR16sInit_G728_16s(state); }

VOKSC_EXPORT VokResult voksIIR16s_G728_16s(const Vok16s* coef, const Vok16s* src, Vok16s* dst, int len, void* state) {
  if (anyNull(coef, src, dst, state)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  StateWords<20> words(state);
  int16_t* w = words.w;
  static const auto run = cpu::choose(poleZeroRun_scalar, poleZeroRun_avx2);
  run(coef, w, w + 10, src, dst, len, 1);
  return vokOk;
}

VOKSC_EXPORT VokResult voksImpulseResponseEnergy_G728_16s(const Vok16s* impResp, Vok16s* energy) {
  if (anyNull(impResp, energy)) return vokErrNullPtr;
  int16_t e[kShapeCount];
  static const auto energies = cpu::choose(shapeEnergies_scalar, shapeEnergies_avx2);
  energies(impResp, e);
  std::memcpy(energy, e, sizeof e);
  return vokOk;
}

// ---- post-filter adapter: LPC inverse filter and pitch extraction -----------------------

// Adapter state words: 0..9 inverse-filter history (newest first), 10..69
// decimated residual (newest first), 70..72 decimation filter memory, 73 the
// previous pitch period minus 50.
VOKSC_EXPORT VokResult voksPostFilterAdapterGetStateSize_G728(int* size) {
  if (!size) return vokErrNullPtr;
  *size = 176;
  return vokOk;
}

VOKSC_EXPORT VokResult voksPostFilterAdapterStateInit_G728(void* state) {
  if (!state) return vokErrNullPtr;
  std::memset(state, 0, 176);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLPCInverseFilter_G728_16s(const Vok16s* src, const Vok16s* lpc, Vok16s* dst, void* state) {
  if (anyNull(src, lpc, dst, state)) return vokErrNullPtr;
  StateWords<10> words(state);
  int16_t* mem = words.w;
  // The history extended by this vector (index k < 5: its sample k, newest
  // first; 5 + j: the j-th sample before it): sample k reads its ten
  // predecessors from k + 1 on.
  int16_t ext[24] = {};  // zero past 14: words the vector sums read
  std::memcpy(ext, src, sizeof(int16_t) * kDim);
  std::memcpy(ext + kDim, mem, sizeof(int16_t) * 10);
  i64 sums[kDim];
  static const auto taps = cpu::choose(tapSums_scalar, tapSums_avx2);
  taps(lpc, ext, nullptr, nullptr, sums);
  int16_t out[kDim];
  for (int k = 0; k < kDim; ++k) out[k] = roundQ14(i64{src[k]} * 8192 + sums[k]);
  std::memcpy(mem, ext, sizeof(int16_t) * 10);
  std::memcpy(dst, out, sizeof out);
  return vokOk;
}

namespace {
// Lag in [lo, hi] of the largest correlation of f with itself (first of
// equal maxima); its value in `peak`.
// f holds `words` readable words.  The vector correlation kernel forms four
// lags per step and a leftover lag on its own at about the cost of four, so
// at that level the count is rounded up to whole fours where f has the
// words (the extra lags are formed, not searched).
int bestLag(int lo, int hi, int n, const int16_t* f, int words, i64& peak) {
  static const bool inFours = cpu::choose(false, true);
  static const auto eight = cpu::choose(pitchCorrelations_scalar, pitchCorrelations_avx2);
  i64 c[144];
  int count = hi - lo + 1;
  if (n == 100 && lo + 8 * ((count - 1) / 8) + 107 <= words) {
    for (int b = 0; b < count; b += 8) eight(f, lo + b, c + b);
  } else {
    if (inFours && lo + n + ((count + 3) & ~3) - 1 <= words) count = (count + 3) & ~3;
    kern::xcorr(f, f + lo, n, count, c);
  }
  // Saturation from below never matters: such a value is INT32_MIN, which
  // never exceeds the running top.
  i64 top = INT32_MIN;
  int lag = lo;
  for (int i = lo; i <= hi; ++i) {
    const i64 v = std::min<i64>(c[i - lo], INT32_MAX);
    if (v > top) {
      top = v;
      lag = i;
    }
  }
  peak = top;
  return lag;
}
}  // namespace

VOKSC_EXPORT VokResult voksPitchPeriodExtraction_G728_16s(const Vok16s* residual, Vok32s* pitch, void* state) {
  if (anyNull(residual, pitch, state)) return vokErrNullPtr;
  StateWords<74> words(state);
  int16_t* w = words.w;
  int16_t* dec = w + 10;
  int16_t* lp = w + 70;
  const int prev = w[73] + 50;
  // Third-order low-pass (zero part first, scaled down 2^6 so the pole part
  // cannot overflow), then every fourth output kept.
  // The zero part depends on the residual alone and is formed first: its
  // taps sum to 44778 in magnitude, so it stays inside 32 bits.
  int32_t zeroPart[20];
  for (int i = 0; i < 20; ++i) {
    int32_t t = 0;
    for (int k = 0; k < 4; ++k) t += int32_t{residual[i + k]} * kDecimZero[k];
    zeroPart[i] = t >> 6;
  }
  // The pole part in 32 bits: |zeroPart| < 2^25 and the pole taps sum to
  // 40684 in magnitude against 16-bit outputs (below 1.34e9), so every sum
  // stays below 2^31.  roundHigh(sat32(8 t)) is (t + 2^12) >> 13 clamped to
  // 16 bits (the clamp does the saturation and the 32767 case, as in
  // roundQ14).
  int16_t fresh[5];
  int32_t l0 = lp[0], l1 = lp[1], l2 = lp[2];
  const int32_t p0 = kDecimPole[0], p1 = kDecimPole[1], p2 = kDecimPole[2];
  for (int blk = 4; blk >= 0; --blk) {
#pragma GCC unroll 4
    for (int i = 4 * blk + 3; i >= 4 * blk; --i) {
      const int32_t t = zeroPart[i] - l0 * p0 - l1 * p1 - l2 * p2;
      l2 = l1;
      l1 = l0;
      l0 = std::clamp((t + 4096) >> 13, -32768, 32767);
    }
    fresh[blk] = static_cast<int16_t>(l0);
  }
  lp[0] = static_cast<int16_t>(l0);
  lp[1] = static_cast<int16_t>(l1);
  lp[2] = static_cast<int16_t>(l2);
  int16_t d[64] = {};  // 60 decimated samples, zeros the rounded-up lags read
  std::memcpy(d, fresh, sizeof fresh);
  std::memcpy(d + 5, dec + 5, 55 * sizeof(int16_t));
  i64 peak;
  static const auto decimated = cpu::choose(decimatedPeakLag_scalar, decimatedPeakLag_avx2);
  int lagDec = decimated(d);
  if (lagDec == 0) lagDec = bestLag(5, 35, 25, d, 64, peak);
  int lo = 4 * lagDec - 3, hi = 4 * lagDec + 3;
  if (lo < 20) lo = 20;
  if (hi > 140) hi = 140;
  i64 corBest;
  int kp = bestLag(lo, hi, 100, residual, 240, corBest);
  lo = prev - 6 < 20 ? 20 : prev - 6;
  hi = prev + 6;
  if (hi < kp) {
    i64 corPrev;
    const int kpPrev = bestLag(lo, hi, 100, residual, 240, corPrev);
    const i64 ePrev = kern::dot(residual + kpPrev, residual + kpPrev, 100);
    const i64 eBest = kern::dot(residual + kp, residual + kp, 100);
    i64 aa0 = sat32(eBest), aa1 = sat32(ePrev);
    if (corBest > aa0) corBest = aa0;
    else if (corBest < 0) corBest = 0;
    if (corPrev > aa1) corPrev = aa1;
    else if (corPrev < 0) corPrev = 0;
    int nls;
    if (aa0 > aa1) {
      nls = normalizeWide(aa0, 32);
      aa1 = shl(aa1, nls);
    } else {
      nls = normalizeWide(aa1, 32);
      aa0 = shl(aa0, nls);
    }
    const i64 sum = aa0 >> 16, tmp = aa1 >> 16;
    corBest = shl(corBest, nls) >> 16;
    corPrev = shl(corPrev, nls) >> 16;
    const i64 lhs = corPrev * sum, rhs = ((corBest * tmp) >> 16) * 26214;
    if (lhs > rhs) kp = kpPrev;
  }
  // The decimated history moves on by one frame (5 decimated samples).
  std::memmove(dec + 5, d, 55 * sizeof(int16_t));
  w[73] = static_cast<int16_t>(kp - 50);
  *pitch = kp;
  return vokOk;
}

// ---- post-filter --------------------------------------------------------------------------


// State words: 0..9 short-term zero-part history, 10..19 pole-part history
// (both newest first), 20 the smoothed gain minus 1.0 (Q14).
VOKSC_EXPORT VokResult voksPostFilter_G728_16s(Vok16s gl, Vok16s glb, Vok16s pitch, Vok16s tilt, const Vok16s* src,
                                               const Vok16s* history, Vok16s* dst, void* state) {
  if (anyNull(src, history, dst, state)) return vokErrNullPtr;
  if (pitch < 20 || pitch > 140) return vokErrRange;
  StateWords<21> words(state);
  int16_t* w = words.w;
  int16_t* fir = w;
  int16_t* iir = w + 10;
  const int16_t* az = history;
  const int16_t* ap = history + 10;
  const int16_t* past = history + 20;
  // Long-term section, then the pole-zero section on its output, then the
  // first-order tilt compensation on the wide sum.  The histories are
  // extended by this vector (index k < 5: its sample k, newest first; 5 + j:
  // the j-th value before it; zero past 14, words the vector sums read), so
  // sample k reads its ten predecessors from k + 1 on.  The zero section's
  // inputs depend on the input alone and are formed first; the ten-tap sums
  // over them and over the pole section's past outputs are formed for all
  // five samples at once (the new outputs still zero), and the recursion
  // adds the pole terms of the outputs formed within the vector.  All sums
  // are exact, so their order does not matter.  Loops run over eight lanes
  // (the last three spare) so that the compiler forms them in vector lanes.
  int16_t in[8] = {};
  std::memcpy(in, src, kDim * sizeof(int16_t));
  i64 lt[kDim];
  int16_t firExt[24] = {}, iirExt[24] = {};
  std::memcpy(firExt + kDim, fir, 10 * sizeof(int16_t));
  std::memcpy(iirExt + kDim, iir, 10 * sizeof(int16_t));
  for (int k = 0; k < kDim; ++k) {
    lt[k] = i64{gl} * in[k] + i64{glb} * past[pitch + k];
    firExt[k] = roundQ14(lt[k]);
  }
  i64 sums[kDim];
  static const auto taps = cpu::choose(tapSums_scalar, tapSums_avx2);
  taps(az, firExt, ap, iirExt, sums);
  int16_t out[8] = {};
  for (int k = kDim - 1; k >= 0; --k) {
    i64 st = lt[k] + sums[k];
    for (int j = 0; j < kDim - 1 - k; ++j) st -= i64{ap[j]} * iirExt[k + 1 + j];
    iirExt[k] = w16(sat16(st >> 14));
    out[k] = w16(sat16((st + i64{iirExt[k + 1]} * tilt) >> 14));
  }
  std::memcpy(fir, firExt, 10 * sizeof(int16_t));
  std::memcpy(iir, iirExt, 10 * sizeof(int16_t));
  // Gain control: ratio of the summed magnitudes before and after (the
  // spare lanes hold zeros).
  int32_t before = 0, after = 0;
  for (int k = 0; k < 8; ++k) {
    before += std::abs(int32_t{in[k]});
    after += std::abs(int32_t{out[k]});
  }
  i64 scale;
  int scaleQ;
  if (after > 4) {
    i64 den = after, num = before;
    const int nd = normalizeWide(den, 32);
    const int nn = normalizeWide(num, 32);
    divideMantissas(roundHigh(num), nn, roundHigh(den), nd, scale, scaleQ);
  } else {
    scale = 16384;
    scaleQ = 14;
  }
  i64 agc = 20972 * scale;
  const int ir = scaleQ - 14 + 7;
  if (ir > 0) {
    agc = ir > 30 ? 0 : agc >> ir;
  } else if (ir < 0) {
    agc = agc == 0 ? 0 : (-ir >= 32 ? (agc > 0 ? INT32_MAX : INT32_MIN) : sat32(agc * (i64{1} << -ir)));
  }
  // The smoothed gain per sample (oldest first), each sample scaled by its
  // gain: roundQ14 of the product, in 32 bits (a product of two words plus
  // 2^13 stays below 2^31).
  int32_t smooth = w[20] + 16384;
  for (int k = kDim - 1; k >= 0; --k) {
    smooth = roundQ14(agc + 16220 * i64{smooth});
    dst[k] = static_cast<int16_t>(std::clamp((smooth * out[k] + 8192) >> 14, -32768, 32767));
  }
  w[20] = static_cast<int16_t>(smooth - 16384);
  return vokOk;
}

// ---- 40 kbit/s trellis-coded search ------------------------------------------------------

VOKSC_EXPORT VokResult voksCodebookSearchTCQ_G728_16s8u(const Vok16s* target, const Vok16s* impResp, Vok8u* code,
                                                        const Vok16s* gain, const Vok16s* codebook, Vok16s* work) {
  if (anyNull(target, impResp, code, gain, codebook, work)) return vokErrNullPtr;
  return vokErrBadArg;  // no trellis of this library (see voksc.h)
}
