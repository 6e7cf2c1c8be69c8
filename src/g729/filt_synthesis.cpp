// G.729 all-pole synthesis filters: the 16-bit filter of any order (order
// 10 for G.729, 30 for the backward-adaptive mode of Annex E) with the
// overflow report the decoders rescale on, and the float filter.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/basic_op.h"
#include "core/cpu.h"
#include "core/status.h"
#include "filt_internal.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g729 {

namespace {

// One output sample: the input sample and the past outputs y[n-1], y[n-2],
// ... read backwards from `past` (past[-1] newest).  `plain` means the
// caller has shown that no partial sum can leave 32 bits, so the sum runs
// in 32-bit arithmetic; otherwise it is formed exactly and only a sum that
// did leave 32 bits part-way is redone with the saturating operators.
template <int N>
inline Word16 synthSample(const int16_t* a, int order, Word16 xn, const int16_t* past, bool plain, bool& ovf) {
  const int n = N > 0 ? N : order;
  Word32 s;
  if (plain) {
    int32_t acc = int32_t{xn} * a[0];
    for (int j = 1; j <= n; ++j) acc -= int32_t{a[j]} * past[-j];
    s = 2 * acc;
  } else {
    MacChain c;
    c.mac(xn, a[0]);
    for (int j = 1; j <= n; ++j) c.msu(a[j], past[-j]);
    s = c.value();
    if (c.spilled()) {
      s = L_mult_o(xn, a[0], ovf);
      for (int j = 1; j <= n; ++j) s = L_msu_o(s, a[j], past[-j], ovf);
    }
  }
  s = L_shl_o(s, 3, ovf);
  // round() adds 0x8000 with saturation, which also raises the flag.
  if (s >= 0x7FFF8000) ovf = true;
  return round_fx(s);
}

inline Word16 roundedOutput(int32_t acc, bool& ovf);

// roundedOutput for |acc| <= 2^30: from -2^27 up to just below 0x7FFF800
// the shift by 3 does not saturate and the rounding addition does not
// either, so the sample is (acc + 2^11) >> 12 and the flag stays.
inline Word16 roundedFast(int32_t acc, bool& ovf) {
  if (__builtin_expect(static_cast<uint32_t>(acc + 0x8000000) < 0xFFFF800u, 1))
    return static_cast<Word16>((acc + 0x800) >> 12);
  return roundedOutput(acc, ovf);
}

// True when no partial sum of any sample of the block can leave 32 bits
// whatever the outputs are (16-bit): max|x| |a0| + 32768 sum|a_j| < 2^30.
inline bool boundedBlock(const int16_t* a, int order, const int16_t* x, int len) {
  int64_t poles = 0;
  for (int j = 1; j <= order; ++j) poles += std::abs(int{a[j]});
  int xmax = 0;
  for (int n = 0; n < len; ++n) xmax = std::max(xmax, std::abs(int{x[n]}));
  return int64_t{xmax} * std::abs(int{a[0]}) + 32768 * poles < (int64_t{1} << 30);
}

// The filter proper.  Past outputs are bounded by the running maximum of
// their magnitudes, so |x a0| + M sum|a_j| below 2^30 proves that every
// partial sum of a sample fits 32 bits; such samples run in plain 32-bit
// arithmetic on a local copy of the coefficients, the oldest terms first so
// that the newest output enters the sum last.  The first `order` samples
// read a staging copy of the memory followed by the new outputs, so every
// sample sees one contiguous history.
template <int N>
bool runFilter(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, const int16_t* mem) {
  if (N > 0) order = N;
  int32_t c[(N > 0 ? N : 32) + 1];
  int64_t poles = 0;
  for (int j = 0; j <= order; ++j) c[j] = a[j];
  for (int j = 1; j <= order; ++j) poles += std::abs(c[j]);
  const int64_t a0 = std::abs(c[0]);
  int64_t peak = 0;  // largest |y| the history can hold so far
  int16_t stage[64];
  if (mem) {
    std::memcpy(stage, mem, static_cast<size_t>(order) * sizeof(int16_t));
    for (int j = 0; j < order; ++j) peak = std::max<int64_t>(peak, std::abs(int{mem[j]}));
  } else {
    std::memset(stage, 0, static_cast<size_t>(order) * sizeof(int16_t));
  }
  int64_t room = (int64_t{1} << 30) - peak * poles;  // what |x a0| may still take
  bool ovf = false;
  const bool bounded = boundedBlock(a, order, x, len);
  auto one = [&](Word16 xn, const int16_t* past) -> Word16 {
    if (bounded) {
      int32_t acc = 0;
      for (int j = order; j >= 2; --j) acc += c[j] * past[-j];
      return roundedFast(xn * c[0] - acc - c[1] * past[-1], ovf);
    }
    Word16 v;
    if (std::abs(int{xn}) * a0 < room) {
      int32_t acc = 0;
      for (int j = order; j >= 2; --j) acc += c[j] * past[-j];
      acc = xn * c[0] - acc - c[1] * past[-1];
      v = roundedFast(acc, ovf);
    } else {
      v = synthSample<N>(a, order, xn, past, false, ovf);
    }
    const int64_t m = std::abs(int{v});
    if (m > peak) {
      peak = m;
      room = (int64_t{1} << 30) - peak * poles;
    }
    return v;
  };
  const int head = len < order ? len : order;
  for (int n = 0; n < head; ++n) {
    const Word16 v = one(x[n], stage + order + n);
    stage[order + n] = v;
    y[n] = v;
  }
  for (int n = head; n < len; ++n) y[n] = one(x[n], y + n);
  return ovf;
}

// Orders above 32: every sample reads its history from the outputs so far
// and the memory's tail, through the exact chain.
bool wideFilter(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, const int16_t* mem) {
  bool ovf = false;
  auto past = [&](int n, int j) -> Word16 { return j <= n ? y[n - j] : (mem ? mem[order + n - j] : 0); };
  for (int n = 0; n < len; ++n) {
    MacChain c;
    c.mac(x[n], a[0]);
    for (int j = 1; j <= order; ++j) c.msu(a[j], past(n, j));
    Word32 s = c.value();
    if (c.spilled()) {
      s = L_mult_o(x[n], a[0], ovf);
      for (int j = 1; j <= order; ++j) s = L_msu_o(s, a[j], past(n, j), ovf);
    }
    s = L_shl_o(s, 3, ovf);
    if (s >= 0x7FFF8000) ovf = true;
    y[n] = round_fx(s);
  }
  return ovf;
}

// (2 acc) << 3, saturated, then rounded to the upper word: the flag follows
// the operators (a saturated shift or a saturating rounding addition).
inline Word16 roundedOutput(int32_t acc, bool& ovf) {
  int64_t t = int64_t{acc} * 16;
  if (t > kMax32 || t < kMin32) {
    ovf = true;
    t = t > 0 ? kMax32 : kMin32;
  }
  if (t >= 0x7FFF8000) ovf = true;
  return round_fx(static_cast<Word32>(t));
}

// Order 10, the recursion at the speed of its dependency chain.
//
// Bound on the outputs: with X = max |x| over the block and P = sum |a_j|
// (j = 1..10), a sample whose ten past outputs all lie in [-B, B] has every
// partial sum of its operator chain (in any order of its terms) below
// X |a0| + B P, which is below 2^30 for
//   B = min(32767, (2^30 - 1 - X |a0|) / P).
// Such a sample is exact in plain 32-bit arithmetic: nothing saturates
// before the shift, and the output (acc + 2^11) >> 12 is the rounded word
// without saturation whenever it lies in [-B, B] itself (it then stays in
// [-32767, 32767], where acc is in [-2^27, 0x7FFF800) and neither the shift
// nor the rounding saturates, so the flag stays).  One check per output,
// |y[n]| <= B, therefore proves both the sample just made and, ten checks
// in a row, the history of the next one.  At the first output that fails
// it, that sample is redone on the exact chain, and the samples after it
// stay there until ten outputs in a row lie within B again.
//
// On the fast path the chain from one output to the next is one multiply
// (y[n-1] c1), one subtraction from the terms of the older outputs (formed
// beside the chain, the rounding bias with them) and the shift; the bound
// check branches off the chain.  The history sits in a 32-bit staging
// buffer (ten in front) so that each older term is one multiply with a
// memory operand; the three newest outputs ride in registers, so no term
// on the chain waits for a store to be forwarded.  y may equal x: x[n] is
// read before y[n] is written and never again.
constexpr int kChunk = 160;

inline int32_t boundFromPoles(const int16_t* a, int xmax, uint32_t poles) {
  const int64_t room = (int64_t{1} << 30) - 1 - int64_t{xmax} * std::abs(int32_t{a[0]});
  if (room < 0) return -1;
  if (poles == 0) return 32767;
  return static_cast<int32_t>(std::min<uint32_t>(32767, static_cast<uint32_t>(room) / poles));
}

inline int32_t outputBound(const int16_t* a, int xmax) {
  uint32_t poles = 0;  // below 2^19
  for (int j = 1; j <= 10; ++j) poles += static_cast<uint32_t>(std::abs(int32_t{a[j]}));
  return boundFromPoles(a, xmax, poles);
}

// The start of a call: the bound, the memory as 32-bit history in front of
// buf, and how many of its newest words in a row lie within the bound.
struct Start {
  int32_t bound;
  int calm;
};

inline int trailingCalm(const int32_t* buf, int32_t bound) {
  int calm = 0;
  for (int j = 0; j < 10; ++j) calm = std::abs(buf[j]) <= bound ? calm + 1 : 0;
  return calm;
}

inline Start startPlain(const int16_t* a, const int16_t* mem, int32_t* buf, int xmax) {
  const int32_t bound = outputBound(a, xmax);
  for (int j = 0; j < 10; ++j) buf[j] = mem ? mem[j] : 0;
  return {bound, trailingCalm(buf, bound)};
}

// One sample on the exact chain; past[-1] is y[n-1].
inline int32_t exactSample10(const int16_t* a, Word16 xn, const int32_t* past, bool& ovf) {
  MacChain m;
  m.mac(xn, a[0]);
  for (int j = 1; j <= 10; ++j) m.msu(a[j], static_cast<Word16>(past[-j]));
  Word32 s = m.value();
  if (m.spilled()) {
    s = L_mult_o(xn, a[0], ovf);
    for (int j = 1; j <= 10; ++j) s = L_msu_o(s, a[j], static_cast<Word16>(past[-j]), ovf);
  }
  s = L_shl_o(s, 3, ovf);
  if (s >= 0x7FFF8000) ovf = true;
  return round_fx(s);
}

// The fast recursion from sample n of a chunk (buf holds ten outputs in
// front of it) while the outputs stay within the bound; returns the first
// sample it did not make (cl when it made them all).  The integer form,
// for the portable level where SSE2 is missing, forms every older term in
// integer registers.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-predictive-commoning")))
#endif
[[maybe_unused]] inline int fastRun_scalar(const int16_t* c, const int16_t* xc, int16_t* yc, int32_t* buf, int n,
                                           int cl, int32_t bound) {
  const uint32_t span = 2u * static_cast<uint32_t>(bound);
  const int32_t c0 = c[0], c1 = c[1], c2 = c[2], c3 = c[3], c4 = c[4], c5 = c[5], c6 = c[6], c7 = c[7], c8 = c[8],
                c9 = c[9], c10 = c[10];
  int32_t y1 = buf[9 + n], y2 = buf[8 + n], y3 = buf[7 + n];
  for (; n < cl; ++n) {
    const int32_t* p = buf + n;  // p[6] = y[n-4] .. p[0] = y[n-10]
    const int32_t older = c10 * p[0] + c9 * p[1] + c8 * p[2] + c7 * p[3] + c6 * p[4] + c5 * p[5] + c4 * p[6];
    const int32_t ahead = xc[n] * c0 + 0x800 - older - c3 * y3 - c2 * y2;
    const int32_t v = (ahead - c1 * y1) >> 12;
    if (__builtin_expect(static_cast<uint32_t>(v + bound) > span, 0)) break;
    buf[10 + n] = v;
    yc[n] = static_cast<int16_t>(v);
    y3 = y2;
    y2 = y1;
    y1 = v;
  }
  return n;
}

#if defined(__SSE2__) || defined(__i386__) || defined(__x86_64__)
// One sample of the lane form: p1 .. p4 hold y[n-1] .. y[n-4]; y[n-4]
// moves into the vector and the new output takes its place (p4).
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void laneSample(__m128i& hist, __m128i coef, uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4,
                       int32_t* buf, int n, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t& p4) {
  __m128i t = _mm_madd_epi16(hist, coef);
  t = _mm_add_epi32(t, _mm_shuffle_epi32(t, 0x4E));
  t = _mm_add_epi32(t, _mm_shuffle_epi32(t, 0xB1));
  uint32_t near = static_cast<uint32_t>(buf[10 + n]) - c4 * p4 - c3 * p3 - c2 * p2;
#if defined(__GNUC__)
  __asm__("" : "+r"(near));  // the vector's sum joins last but one, not first
#endif
  uint32_t mid = near - static_cast<uint32_t>(_mm_cvtsi128_si32(t));
#if defined(__GNUC__)
  __asm__("" : "+r"(mid));  // y[n-1]'s term joins last, alone on the chain
#endif
  const int32_t v = static_cast<int32_t>(mid - c1 * p1) >> 12;
  buf[10 + n] = v;
  hist = _mm_insert_epi16(_mm_srli_si128(hist, 2), static_cast<int>(p4), 5);
  p4 = static_cast<uint32_t>(v);
}

// The lane form (SSE2: the AVX2 level compiles it once more in the
// three-operand encoding, the portable level takes it where SSE2 is there):
// the terms of y[n-5] .. y[n-10] from one madd on a vector of the history
// (lane k holds y[n-10+k], lanes 6 and 7 meet zero weights) and two folds;
// y[n-4] enters it as the sample is made, five samples before the vector's
// sum is needed.  The way of an output through the vector (word insert from
// an integer register, madd, two folds, back to an integer register, the
// last three steps of the sum) takes about 23 cycles: four samples (20
// cycles of the chain) were too few for it, and the recursion ran at about
// 6.7 cycles a sample; with five it stays off the chain.  The four newest
// terms ride in integer registers.
//
// The run checks nothing: it makes samples n .. end-1 into buf and leaves
// the bound to settleLanes after it.  A sample whose history lies within the
// bound is exact (see above); past the first output outside it the values
// are of no use and are discarded, so the sums wrap (unsigned arithmetic)
// instead of overflowing.  Only buf is written: y may be x, whose words past
// a failed sample are still to be read.
inline void lanesRun(const int16_t* c, const int16_t* xc, int32_t* buf, int n, int end) {
  const uint32_t c1 = static_cast<uint32_t>(c[1]), c2 = static_cast<uint32_t>(c[2]), c3 = static_cast<uint32_t>(c[3]),
                 c4 = static_cast<uint32_t>(c[4]);
  // Weights c10 .. c5 in lanes 0-5 (c3 .. c10 loaded, reversed, lanes 6
  // and 7 cleared); the history y[n-10] .. y[n-3] packed from the 32-bit
  // words, which are outputs (16-bit), so the pack keeps them.
  __m128i coef = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 3));
  coef = _mm_shuffle_epi32(_mm_shufflehi_epi16(_mm_shufflelo_epi16(coef, 0x1B), 0x1B), 0x4E);
  coef = _mm_and_si128(coef, _mm_setr_epi16(-1, -1, -1, -1, -1, -1, 0, 0));
  const int32_t* p = buf + n;
  __m128i hist = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4)));
  uint32_t y1 = static_cast<uint32_t>(p[9]), y2 = static_cast<uint32_t>(p[8]), y3 = static_cast<uint32_t>(p[7]),
           y4 = static_cast<uint32_t>(p[6]);
  // The input terms x[n] c0 + 2^11 (at most 2^30 + 2^11) formed ahead, four
  // a madd of (x, 1) pairs against (c0, 2^11), into the history words the
  // outputs will take; the last step overlaps the one before.
  {
    const __m128i w = _mm_set1_epi32(static_cast<int32_t>((0x800u << 16) | static_cast<uint16_t>(c[0])));
    const __m128i one = _mm_set1_epi16(1);
    if (end - n >= 8) {
      for (int k = n; k < end; k += 8) {
        const int at = std::min(k, end - 8);
        const __m128i xv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(xc + at));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(buf + 10 + at), _mm_madd_epi16(_mm_unpacklo_epi16(xv, one), w));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(buf + 14 + at), _mm_madd_epi16(_mm_unpackhi_epi16(xv, one), w));
      }
    } else {
      for (int k = n; k < end; ++k) buf[10 + k] = xc[k] * c[0] + 0x800;
    }
  }
  // Four samples a step, the four newest outputs changing roles instead of
  // places: no register moves.
  for (; n + 4 <= end; n += 4) {
    laneSample(hist, coef, c1, c2, c3, c4, buf, n, y1, y2, y3, y4);
    laneSample(hist, coef, c1, c2, c3, c4, buf, n + 1, y4, y1, y2, y3);
    laneSample(hist, coef, c1, c2, c3, c4, buf, n + 2, y3, y4, y1, y2);
    laneSample(hist, coef, c1, c2, c3, c4, buf, n + 3, y2, y3, y4, y1);
  }
  for (; n < end; ++n) {
    laneSample(hist, coef, c1, c2, c3, c4, buf, n, y1, y2, y3, y4);
    const uint32_t v = y4;
    y4 = y3;
    y3 = y2;
    y2 = y1;
    y1 = v;
  }
}

// How many of the cnt outputs in v lie within the bound, in a row from the
// first; those are written to y as words.  Eight outputs a step, the last
// step overlapping the one before (its words are rewritten unchanged).  The
// outputs are below 2^20 in magnitude (a 32-bit sum shifted by 12).
inline int settleLanes(const int32_t* v, int16_t* y, int cnt, int32_t bound) {
  const __m128i hi = _mm_set1_epi32(bound), lo = _mm_set1_epi32(-bound);
  int i = 0;
  auto step = [&](int at) -> int {  // -1 when all eight fit, else the first that does not
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + at + 4));
    const __m128i bad = _mm_packs_epi32(_mm_or_si128(_mm_cmpgt_epi32(a, hi), _mm_cmpgt_epi32(lo, a)),
                                        _mm_or_si128(_mm_cmpgt_epi32(b, hi), _mm_cmpgt_epi32(lo, b)));
    const int mask = _mm_movemask_epi8(bad);
    if (__builtin_expect(mask != 0, 0)) return at + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + at), _mm_packs_epi32(a, b));
    return -1;
  };
  if (cnt >= 8) {
    for (; i + 8 <= cnt; i += 8) {
      const int k = step(i);
      if (k >= 0) {
        for (int j = i; j < k; ++j) y[j] = static_cast<int16_t>(v[j]);
        return k;
      }
    }
    if (i < cnt) {
      const int k = step(cnt - 8);
      if (k >= 0) {
        for (int j = i; j < k; ++j) y[j] = static_cast<int16_t>(v[j]);
        return k;
      }
    }
    return cnt;
  }
  const uint32_t span = 2u * static_cast<uint32_t>(bound);
  for (; i < cnt; ++i) {
    if (static_cast<uint32_t>(v[i] + bound) > span) return i;
    y[i] = static_cast<int16_t>(v[i]);
  }
  return cnt;
}

#if defined(__i386__) || defined(__x86_64__)
// settleLanes in eight 32-bit lanes: one compare of the magnitudes (below
// 2^20, so the absolute value cannot wrap) and one pack per eight outputs.
// Eight outputs from at: -1 when all fit (and are written), else the first that does not.
__attribute__((target("avx2"))) inline int settleStep_avx2(const int32_t* v, int16_t* y, int at, __m256i hi) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + at));
  const int mask = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_abs_epi32(a), hi)));
  if (__builtin_expect(mask != 0, 0)) return at + __builtin_ctz(static_cast<unsigned>(mask));
  const __m128i w = _mm_packs_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(y + at), w);
  return -1;
}

#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-vectorize")))
#endif
__attribute__((target("avx2"))) inline int settle_avx2(const int32_t* v, int16_t* y, int cnt, int32_t bound) {
  if (cnt < 8) return settleLanes(v, y, cnt, bound);
  const __m256i hi = _mm256_set1_epi32(bound);
  int i = 0;
  for (; i + 8 <= cnt; i += 8) {
    const int k = settleStep_avx2(v, y, i, hi);
    if (k >= 0) {
      for (int j = i; j < k; ++j) y[j] = static_cast<int16_t>(v[j]);
      return k;
    }
  }
  if (i < cnt) {
    const int k = settleStep_avx2(v, y, cnt - 8, hi);
    if (k >= 0) {
      for (int j = i; j < k; ++j) y[j] = static_cast<int16_t>(v[j]);
      return k;
    }
  }
  return cnt;
}
#endif

// The run and its check in pieces of at most 80 samples, so that a failed
// sample wastes no more than a piece; returns the first sample not made.
template <int (*Settle)(const int32_t*, int16_t*, int, int32_t)>
inline int fastRunLanes(const int16_t* c, const int16_t* xc, int16_t* yc, int32_t* buf, int n, int cl,
                        int32_t bound) {
  while (n < cl) {
    const int end = std::min(cl, n + 80);
    lanesRun(c, xc, buf, n, end);
    const int made = n + Settle(buf + 10 + n, yc + n, end - n, bound);
    if (made < end) return made;
    n = end;
  }
  return n;
}
#endif

// (GCC is kept from widening the word copies of a failed piece into 256-bit
// moves, which would cost every call a realigned frame.)
#if defined(__SSE2__)
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-vectorize")))
#endif
int fastRun_sse2(const int16_t* c, const int16_t* xc, int16_t* yc, int32_t* buf, int n, int cl, int32_t bound) {
  return fastRunLanes<settleLanes>(c, xc, yc, buf, n, cl, bound);
}
#endif

#if defined(__i386__) || defined(__x86_64__)
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-vectorize")))
#endif
__attribute__((target("avx2"))) int fastRun_avx2(const int16_t* c, const int16_t* xc, int16_t* yc, int32_t* buf,
                                                 int n, int cl, int32_t bound) {
  return fastRunLanes<settle_avx2>(c, xc, yc, buf, n, cl, bound);
}
#endif

using FastRun = int (*)(const int16_t*, const int16_t*, int16_t*, int32_t*, int, int, int32_t);
using StartFn = Start (*)(const int16_t*, const int16_t*, int32_t*, int);

#if defined(__i386__) || defined(__x86_64__)
// startPlain in lanes: the pole magnitudes |a1| .. |a8| and |a9|, |a10|
// (|-32768| reads 0x8000, so they widen unsigned) summed in 32-bit lanes;
// the memory widened as words 0-7 and 2-9 (both inside its ten words) and
// its magnitudes held against the bound at once.  Only a memory with a word
// outside the bound counts the calm run word by word.
__attribute__((target("avx2"), noinline)) Start start_avx2(const int16_t* a, const int16_t* mem, int32_t* buf,
                                                           int xmax) {
  // a9 and a10 as two word loads: their producers store them word by word
  // or as one pair, and a word load takes either store forwarded.
  const __m128i p18 = _mm_abs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 1)));
  const __m128i p910 = _mm_abs_epi16(_mm_insert_epi16(_mm_cvtsi32_si128(static_cast<uint16_t>(a[9])), a[10], 1));
  const __m256i p = _mm256_add_epi32(_mm256_cvtepu16_epi32(p18), _mm256_cvtepu16_epi32(p910));
  __m128i t = _mm_add_epi32(_mm256_castsi256_si128(p), _mm256_extracti128_si256(p, 1));
  t = _mm_add_epi32(t, _mm_shuffle_epi32(t, 0x4E));
  t = _mm_add_epi32(t, _mm_shuffle_epi32(t, 0xB1));
  const int32_t bound = boundFromPoles(a, xmax, static_cast<uint32_t>(_mm_cvtsi128_si32(t)));
  if (!mem) {
    const __m256i z = _mm256_setzero_si256();
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(buf), z);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(buf + 8), _mm256_castsi256_si128(z));
    return {bound, bound >= 0 ? 10 : 0};
  }
  const __m256i w0 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mem)));
  const __m256i w2 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mem + 2)));
  // Stored as words 0-7 and 8-9, not overlapping: the run's first block
  // load of words 0-3 then lies inside one store and takes it forwarded
  // (under a later store of words 2-9 it waited for both to be written).
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(buf), w0);
  const __m128i w69 = _mm256_extracti128_si256(w2, 1);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(buf + 8), _mm_unpackhi_epi64(w69, w69));
  const __m256i b = _mm256_set1_epi32(bound);
  const __m256i out = _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_abs_epi32(w0), b),
                                      _mm256_cmpgt_epi32(_mm256_abs_epi32(w2), b));
  if (_mm256_testz_si256(out, out)) return {bound, 10};
  return {bound, trailingCalm(buf, bound)};
}
#endif

// The driver.  Its small copies go word by word (GCC is kept from merging
// them into vector moves): the outputs and history words were stored one by
// one moments before, and a wide load over several narrow stores waits for
// them to leave the store queue instead of taking them forwarded.  For the
// same reason the coefficients are read word by word.
template <FastRun Run, StartFn Begin>
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-vectorize")))
#endif
bool order10(const int16_t* a, const int16_t* x, int16_t* y, int len, int16_t* mem, bool update, int xmax) {
  int32_t buf[10 + kChunk];
  const Start start = Begin(a, mem, buf, xmax);
  const int32_t bound = start.bound;
  int calm = start.calm;  // how many of the newest outputs in a row lie within the bound
  bool ovf = false;
  int cl = 0;
  for (int s0 = 0; s0 < len; s0 += cl) {
    if (s0 > 0)
      for (int j = 0; j < 10; ++j) buf[j] = buf[cl + j];
    cl = std::min(kChunk, len - s0);
    const int16_t* xc = x + s0;
    int16_t* yc = y + s0;
    int n = 0;
    while (n < cl) {
      if (calm >= 10) {
        n = Run(a, xc, yc, buf, n, cl, bound);
        if (n == cl) break;
        calm = 0;
      }
      const int32_t v = exactSample10(a, xc[n], buf + 10 + n, ovf);
      buf[10 + n] = v;
      yc[n] = static_cast<int16_t>(v);
      calm = std::abs(v) <= bound ? calm + 1 : 0;
      ++n;
    }
  }
  // The last ten history words (old memory words when len < 10).
  if (update && mem)
    for (int j = 0; j < 10; ++j) mem[j] = static_cast<int16_t>(buf[cl + j]);
  return ovf;
}

inline int largestMagnitude(const int16_t* x, int len) {
  int m = 0;
  for (int n = 0; n < len; ++n) m = std::max(m, std::abs(int{x[n]}));
  return m;
}

}  // namespace

bool synthesisFilter_scalar(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int16_t* mem,
                            bool update) {
  // The memory must survive until the filter has left it (the caller may
  // update it in place); the staging copy takes care of that.
#if defined(__SSE2__)
  if (order == 10) return order10<fastRun_sse2, startPlain>(a, x, y, len, mem, update, largestMagnitude(x, len));
#else
  if (order == 10) return order10<fastRun_scalar, startPlain>(a, x, y, len, mem, update, largestMagnitude(x, len));
#endif
  bool ovf;
  if (order == 30)
    ovf = runFilter<30>(a, order, x, y, len, mem);
  else if (order <= 32)
    ovf = runFilter<0>(a, order, x, y, len, mem);
  else
    ovf = wideFilter(a, order, x, y, len, mem);
  if (update && mem) {
    if (len >= order) {
      std::memcpy(mem, y + len - order, static_cast<size_t>(order) * sizeof(int16_t));
    } else {
      std::memmove(mem, mem + len, static_cast<size_t>(order - len) * sizeof(int16_t));
      std::memcpy(mem + order - len, y, static_cast<size_t>(len) * sizeof(int16_t));
    }
  }
  return ovf;
}

#if defined(__i386__) || defined(__x86_64__)
namespace {

// The largest |x| in lanes, as the largest unsigned 16-bit magnitude
// (|-32768| reads 0x8000), found with minpos on the complements.
__attribute__((target("avx2"))) int largestMagnitude_avx2(const int16_t* x, int len) {
  if (len < 8) return largestMagnitude(x, len);
  __m128i m = _mm_abs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x)));
  for (int n = 8; n + 8 <= len; n += 8)
    m = _mm_max_epu16(m, _mm_abs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + n))));
  if (len % 8) m = _mm_max_epu16(m, _mm_abs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + len - 8))));
  return 0xFFFF - (_mm_cvtsi128_si32(_mm_minpos_epu16(_mm_xor_si128(m, _mm_set1_epi16(-1)))) & 0xFFFF);
}

}  // namespace

// Chosen only where AVX2 runs, so the input's magnitude may use it as well.
__attribute__((target("avx2")))
#endif
bool synthesisFilter_avx2(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int16_t* mem,
                          bool update) {
#if defined(__i386__) || defined(__x86_64__)
  if (order == 10) {
    return order10<fastRun_avx2, start_avx2>(a, x, y, len, mem, update, largestMagnitude_avx2(x, len));
  }
#endif
  return synthesisFilter_scalar(a, order, x, y, len, mem, update);
}

bool synthesisFilter(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int16_t* mem,
                     bool update) {
  static const auto form = voksc::cpu::choose(synthesisFilter_scalar, synthesisFilter_avx2);
  return form(a, order, x, y, len, mem, update);
}

}  // namespace voksc::g729

using voksc::g729::synthesisFilter;

VOKSC_EXPORT VokResult voksSynthesisFilter_G729E_16s(const Vok16s* a, int order, const Vok16s* x, Vok16s* y, int len,
                                                     Vok16s* mem) {
  if (anyNull(a, x, y)) return vokErrNullPtr;
  if (len < 1 || order < 1) return vokErrSize;
  // Without a memory the filter starts from rest.
  return synthesisFilter(a, order, x, y, len, mem, mem != nullptr) ? vokWrnOverflow : vokOk;
}

VOKSC_EXPORT VokResult voksSynthesisFilter_G729E_16s_I(const Vok16s* a, int order, Vok16s* x, int len, Vok16s* mem) {
  return voksSynthesisFilter_G729E_16s(a, order, x, x, len, mem);
}

namespace {

// The float recursion; the common orders get fully unrolled loops with the
// coefficients held in registers.  The sum keeps the reference's order.
template <int N>
void floatSynthesis(const float* a, int order, const float* x, float* yy, int len) {
  const int n0 = N > 0 ? N : order;
  float c[31];
  for (int i = 1; i <= n0; ++i) c[i] = a[i];
  for (int n = 0; n < len; ++n) {
    float s = x[n];
    for (int i = 1; i <= n0; ++i) s -= c[i] * yy[n - i];
    yy[n] = s;
  }
}

}  // namespace

// y[n] = x[n] - sum a[i] y[n-i], a[0] taken as 1; the sum runs from the
// newest past output to the oldest, as the float reference does.
VOKSC_EXPORT VokResult voksSynthesisFilter_G729_32f(const Vok32f* a, int order, const Vok32f* x, Vok32f* y, int len,
                                                    Vok32f* mem) {
  if (anyNull(a, x, y, mem)) return vokErrNullPtr;
  if (len < 1 || len > 640 || order < 1 || order > 30) return vokErrSize;
  float buf[30 + 640];
  std::memcpy(buf, mem, static_cast<size_t>(order) * sizeof(float));
  float* yy = buf + order;
  switch (order) {
    case 3: floatSynthesis<3>(a, order, x, yy, len); break;
    case 4: floatSynthesis<4>(a, order, x, yy, len); break;
    case 6: floatSynthesis<6>(a, order, x, yy, len); break;
    case 10: floatSynthesis<10>(a, order, x, yy, len); break;
    case 16: floatSynthesis<16>(a, order, x, yy, len); break;
    default: floatSynthesis<0>(a, order, x, yy, len); break;
  }
  std::memcpy(y, yy, static_cast<size_t>(len) * sizeof(float));
  std::memcpy(mem, yy + len - order, static_cast<size_t>(order) * sizeof(float));
  return vokOk;
}
