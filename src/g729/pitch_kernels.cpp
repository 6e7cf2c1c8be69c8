#include "pitch_kernels.h"

#include <array>
#include <cstring>
#include <utility>

#include "common/basic_op.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define VOKSC_PITCH_X86 1
#endif

using namespace voksc::op;

namespace voksc::g729::pitch {

void energyAndCorrelation_scalar(const int16_t* s, const int16_t* x, int64_t& energy, int64_t& corr) {
  int64_t e = 0, c = 0;
  for (int j = 0; j < 40; ++j) {
    e += int32_t{s[j]} * s[j];
    c += int32_t{s[j]} * x[j];
  }
  energy = e;
  corr = c;
}

void shiftFiltered_scalar(const int16_t* in, int16_t* out, int16_t e, const int16_t* h, int hFac, int scaling) {
  for (int j = 39; j > 0; --j) out[j] = add(extract_h(L_shl(L_mult(e, h[j]), static_cast<Word16>(hFac))), in[j - 1]);
  out[0] = shr(e, static_cast<Word16>(scaling));
}

// (2 acc + 0x8000) >> 16 equals (acc + 0x4000) >> 15, which cannot leave
// 32 bits for |acc| < 2^30; the saturation of the rounding add is the clamp
// of the result to 16 bits.
namespace {

// Tap by tap over all outputs (forward reads the compiler runs in vector
// lanes); any order of the products gives the same sums, since under the
// caller's bound every partial sum over any subset stays within 30 bits.
template <int N>
void interpolateN(const int16_t* w, const int16_t* taps, int16_t* out) {
  int32_t acc[N] = {};
  for (int m = 0; m < 20; ++m) {
    const int32_t t = taps[m];
    for (int k = 0; k < N; ++k) acc[k] += int32_t{w[k + m]} * t;
  }
  for (int k = 0; k < N; ++k) {
    const int32_t v = (acc[k] + 0x4000) >> 15;
    out[k] = static_cast<int16_t>(v > kMax16 ? kMax16 : v < kMin16 ? kMin16 : v);
  }
}

}  // namespace

void interpolate_scalar(const int16_t* w, const int16_t* taps, int16_t* out, int n) {
  if (n == 8)
    interpolateN<8>(w, taps, out);
  else if (n == 16)
    interpolateN<16>(w, taps, out);
  else
    interpolateN<40>(w, taps, out);
}

int shortDelayBlocks_scalar(int16_t* exc, int back, const int16_t* taps, int32_t limit) {
  if (limit > kMax16) limit = kMax16;
  for (int j = 0; j < 40; j += 8) {
    interpolate_scalar(exc + j - back - 9, taps, exc + j, 8);
    for (int k = j; k < j + 8; ++k)
      if (exc[k] > limit || exc[k] < -limit) return j + 8;
  }
  return 40;
}

#if defined(VOKSC_PITCH_X86)

namespace {

__attribute__((target("avx2"))) inline __m256i load16(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
__attribute__((target("avx2"))) inline __m256i load8(const int16_t* p) {
  return _mm256_set_m128i(_mm_setzero_si128(), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

__attribute__((target("avx2"))) inline int64_t hsum64(__m256i v) {
  alignas(32) int64_t t[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(t), v);
  return t[0] + t[1] + t[2] + t[3];
}

// 32-bit lanes widened to 64 bits, signed or (for sums of squares, whose
// pair sums reach 2^31) unsigned.
__attribute__((target("avx2"))) inline __m256i widenSigned(__m256i v) {
  return _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_castsi256_si128(v)),
                          _mm256_cvtepi32_epi64(_mm256_extracti128_si256(v, 1)));
}
__attribute__((target("avx2"))) inline __m256i widenUnsigned(__m256i v) {
  return _mm256_add_epi64(_mm256_cvtepu32_epi64(_mm256_castsi256_si128(v)),
                          _mm256_cvtepu32_epi64(_mm256_extracti128_si256(v, 1)));
}

// Filtered-excitation terms of 16 taps: extract_h(L_shl(L_mult(e, h), hFac)).
// The 32-bit product is clamped to the range whose left shift by 1 + hFac
// still fits, which gives the same upper word as the saturating chain.
__attribute__((target("avx2"))) inline __m256i taps16(__m256i ve, const int16_t* h, __m128i shift, __m256i lo,
                                                      __m256i hi) {
  const __m256i vh = load16(h);
  const __m256i pl = _mm256_mullo_epi16(ve, vh), ph = _mm256_mulhi_epi16(ve, vh);
  __m256i p0 = _mm256_unpacklo_epi16(pl, ph), p1 = _mm256_unpackhi_epi16(pl, ph);
  p0 = _mm256_srai_epi32(_mm256_sll_epi32(_mm256_min_epi32(_mm256_max_epi32(p0, lo), hi), shift), 16);
  p1 = _mm256_srai_epi32(_mm256_sll_epi32(_mm256_min_epi32(_mm256_max_epi32(p1, lo), hi), shift), 16);
  return _mm256_packs_epi32(p0, p1);
}


// Short delays with the outputs carried in registers.  Output j reads
// exc[j + kBase + m], m = 0..19, kBase = -back - 9; with back >= 18 the
// newest word a block of 8 reads lies before the block.  The words are
// taken as 8-word chunks C_q = exc[8q .. 8q + 7]: history chunks (q < 0)
// are loaded, chunks of this call (q >= 0) are the registers just formed,
// so no load reads a word stored in this call (each block waited on the
// store of the one before, misaligned and partly overlapping, when the
// windows were loaded back).  With back a template constant every window
// is one byte shift of two chunks.
namespace shortdelay {

constexpr int floorDiv8(int o) { return o >= 0 ? o / 8 : -((7 - o) / 8); }

template <int Q>
__attribute__((target("avx2"), always_inline)) inline __m128i chunk(const int16_t* exc, const __m128i* out) {
  if constexpr (Q < 0)
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(exc + 8 * Q));
  else
    return out[Q];
}

// Words exc[O .. O + 7].
template <int O>
__attribute__((target("avx2"), always_inline)) inline __m128i window(const int16_t* exc, const __m128i* out) {
  constexpr int q = floorDiv8(O), r = O - 8 * q;
  if constexpr (r == 0)
    return chunk<q>(exc, out);
  else
    return _mm_alignr_epi8(chunk<q + 1>(exc, out), chunk<q>(exc, out), 2 * r);
}

// Tap pairs in order, so the products of the newest words (largest m) are
// added last and the older ones are summed while the block before forms.
template <int O>
__attribute__((target("avx2"), always_inline)) inline void pairTerms(const int16_t* exc, const __m128i* out,
                                                                     __m128i tp, __m128i& lo, __m128i& hi) {
  const __m128i a = window<O>(exc, out), b = window<O + 1>(exc, out);
  lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), tp));
  hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), tp));
}

template <int O, int... P>
__attribute__((target("avx2"), always_inline)) inline __m128i block(const int16_t* exc, const __m128i* out,
                                                                   const __m128i* t, std::integer_sequence<int, P...>) {
  __m128i lo = _mm_setzero_si128(), hi = lo;
  (pairTerms<O + 2 * P>(exc, out, t[P], lo, hi), ...);
  const __m128i bias = _mm_set1_epi32(0x4000);
  lo = _mm_srai_epi32(_mm_add_epi32(lo, bias), 15);
  hi = _mm_srai_epi32(_mm_add_epi32(hi, bias), 15);
  return _mm_packs_epi32(lo, hi);
}

struct Limits {
  __m128i above, below;
};

// Forms block B, stores it, and tells whether its outputs stay within the
// limit (the next block may then take the fast form too).
template <int Back, int B>
__attribute__((target("avx2"), always_inline)) inline bool step(int16_t* exc, __m128i* out, const __m128i* t,
                                                                const Limits& lim, int& formed) {
  out[B] = block<8 * B - Back - 9>(exc, out, t, std::make_integer_sequence<int, 10>());
  _mm_storeu_si128(reinterpret_cast<__m128i*>(exc + 8 * B), out[B]);
  formed = 8 * (B + 1);
  const __m128i x = _mm_or_si128(_mm_cmpgt_epi16(out[B], lim.above), _mm_cmpgt_epi16(lim.below, out[B]));
  return _mm_testz_si128(x, x);
}

template <int Back, int... B>
__attribute__((target("avx2"), always_inline)) inline void steps(int16_t* exc, __m128i* out, const __m128i* t,
                                                                 const Limits& lim, int& formed,
                                                                 std::integer_sequence<int, B...>) {
  (void)(step<Back, B>(exc, out, t, lim, formed) && ...);
}

template <int Back>
__attribute__((target("avx2"))) int blocksFor(int16_t* exc, const int16_t* taps, int32_t limit) {
  __m128i t[10];
  for (int p = 0; p < 10; ++p) {
    int32_t v;
    std::memcpy(&v, taps + 2 * p, sizeof v);
    t[p] = _mm_set1_epi32(v);
  }
  // Above 32767 the limit is taken as 32767 (in both forms): -32768 then
  // stops the blocks needlessly, and the caller's exact form takes over.
  const int16_t l = static_cast<int16_t>(limit < kMax16 ? limit : kMax16);
  const Limits lim{_mm_set1_epi16(l), _mm_set1_epi16(static_cast<int16_t>(-l))};
  __m128i out[5];
  int formed = 0;
  steps<Back>(exc, out, t, lim, formed, std::make_integer_sequence<int, 5>());
  return formed;
}

using Form = int (*)(int16_t*, const int16_t*, int32_t);
template <int... D>
constexpr std::array<Form, sizeof...(D)> formsFor(std::integer_sequence<int, D...>) {
  return {{&blocksFor<18 + D>...}};
}

}  // namespace shortdelay

}  // namespace

__attribute__((target("avx2"))) void energyAndCorrelation_avx2(const int16_t* s, const int16_t* x, int64_t& energy,
                                                               int64_t& corr) {
  const __m256i s0 = load16(s), s1 = load16(s + 16), s2 = load8(s + 32);
  const __m256i x0 = load16(x), x1 = load16(x + 16), x2 = load8(x + 32);
  const __m256i c0 = _mm256_madd_epi16(s0, x0), c1 = _mm256_madd_epi16(s1, x1), c2 = _mm256_madd_epi16(s2, x2);
  // A pair of -32768 * -32768 products wraps the signed lane: rare, redo.
  const __m256i wrap = _mm256_set1_epi32(static_cast<int32_t>(0x80000000u));
  const __m256i w = _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi32(c0, wrap), _mm256_cmpeq_epi32(c1, wrap)),
                                    _mm256_cmpeq_epi32(c2, wrap));
  if (!_mm256_testz_si256(w, w)) {
    energyAndCorrelation_scalar(s, x, energy, corr);
    return;
  }
  const __m256i e = _mm256_add_epi64(
      _mm256_add_epi64(widenUnsigned(_mm256_madd_epi16(s0, s0)), widenUnsigned(_mm256_madd_epi16(s1, s1))),
      widenUnsigned(_mm256_madd_epi16(s2, s2)));
  const __m256i c = _mm256_add_epi64(_mm256_add_epi64(widenSigned(c0), widenSigned(c1)), widenSigned(c2));
  energy = hsum64(e);
  corr = hsum64(c);
}

__attribute__((target("avx2"))) void shiftFiltered_avx2(const int16_t* in, int16_t* out, int16_t e, const int16_t* h,
                                                        int hFac, int scaling) {
  const int st = 1 + hFac;
  const __m128i shift = _mm_cvtsi32_si128(st);
  const __m256i hi = _mm256_set1_epi32((int32_t{1} << (31 - st)) - 1);
  const __m256i lo = _mm256_set1_epi32(-(int32_t{1} << (31 - st)));
  const __m256i ve = _mm256_set1_epi16(e);
  // Blocks at 1, 17 and 24 (the last overlaps; out is not read here).
  static const int kAt[3] = {1, 17, 24};
  for (int b = 0; b < 3; ++b) {
    const int j = kAt[b];
    const __m256i t = _mm256_adds_epi16(taps16(ve, h + j, shift, lo, hi), load16(in + j - 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), t);
  }
  out[0] = shr(e, static_cast<Word16>(scaling));
}

// The taps t[0], t[1] in every 32-bit lane, t[0] in the low word.
__attribute__((target("avx2"))) inline __m256i tapPair(const int16_t* t) {
  int32_t v;
  std::memcpy(&v, t, sizeof v);
  return _mm256_set1_epi32(v);
}

// Outputs in 32-bit lanes, one multiply-add per tap pair: the pairs
// (w[k + 2p], w[k + 2p + 1]) are the interleaved loads from w + 2p and
// w + 2p + 1.  Within each 128-bit half, the low interleave holds outputs
// 0..3 (8..11) and the high one 4..7 (12..15), which the final pack puts
// back in order.  No tap is -32768, so no pair sum wraps.
__attribute__((target("avx2"))) inline __m256i interpolate16(const int16_t* w, const __m256i* t, __m256i bias) {
  __m256i lo = _mm256_setzero_si256(), hi = lo;
  for (int p = 0; p < 10; ++p) {
    const __m256i a = load16(w + 2 * p), b = load16(w + 2 * p + 1);
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), t[p]));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), t[p]));
  }
  lo = _mm256_srai_epi32(_mm256_add_epi32(lo, bias), 15);
  hi = _mm256_srai_epi32(_mm256_add_epi32(hi, bias), 15);
  return _mm256_packs_epi32(lo, hi);
}

__attribute__((target("avx2"))) inline __m128i interpolate8(const int16_t* w, const __m256i* t, __m256i bias) {
  __m256i acc = _mm256_setzero_si256();
  for (int p = 0; p < 10; ++p) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 2 * p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 2 * p + 1));
    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_set_m128i(_mm_unpackhi_epi16(a, b), _mm_unpacklo_epi16(a, b)), t[p]));
  }
  acc = _mm256_srai_epi32(_mm256_add_epi32(acc, bias), 15);
  return _mm_packs_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
}

// n is 8, 16 or 40; the 40-sample form keeps its three blocks in registers
// until all are formed, as the scalar form does.
__attribute__((target("avx2"))) void interpolate_avx2(const int16_t* w, const int16_t* taps, int16_t* out, int n) {
  const __m256i bias = _mm256_set1_epi32(0x4000);
  __m256i t[10];
  for (int p = 0; p < 10; ++p) t[p] = tapPair(taps + 2 * p);
  if (n == 8) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), interpolate8(w, t, bias));
    return;
  }
  const __m256i r0 = interpolate16(w, t, bias);
  if (n == 16) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), r0);
    return;
  }
  const __m256i r1 = interpolate16(w + 16, t, bias);
  const __m128i r2 = interpolate8(w + 32, t, bias);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), r0);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16), r1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), r2);
}

int shortDelayBlocks_avx2(int16_t* exc, int back, const int16_t* taps, int32_t limit) {
  static constexpr auto kForms = shortdelay::formsFor(std::make_integer_sequence<int, 32>());
  return kForms[back - 18](exc, taps, limit);
}

#else

int shortDelayBlocks_avx2(int16_t* exc, int back, const int16_t* taps, int32_t limit) {
  return shortDelayBlocks_scalar(exc, back, taps, limit);
}
void interpolate_avx2(const int16_t* w, const int16_t* taps, int16_t* out, int n) {
  interpolate_scalar(w, taps, out, n);
}
void energyAndCorrelation_avx2(const int16_t* s, const int16_t* x, int64_t& energy, int64_t& corr) {
  energyAndCorrelation_scalar(s, x, energy, corr);
}
void shiftFiltered_avx2(const int16_t* in, int16_t* out, int16_t e, const int16_t* h, int hFac, int scaling) {
  shiftFiltered_scalar(in, out, e, h, hFac, scaling);
}

#endif

}  // namespace voksc::g729::pitch
