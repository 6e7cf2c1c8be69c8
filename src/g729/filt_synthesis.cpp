// G.729 all-pole synthesis filters: the 16-bit filter of any order (order
// 10 for G.729, 30 for the backward-adaptive mode of Annex E) with the
// overflow report the decoders rescale on, and the float filter.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
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
// The value comes as a 32-bit word, so a recursion can multiply it without
// a sign extension on its path.
inline int32_t roundedFast32(int32_t acc, bool& ovf) {
  if (__builtin_expect(static_cast<uint32_t>(acc + 0x8000000) < 0xFFFF800u, 1)) return (acc + 0x800) >> 12;
  return roundedOutput(acc, ovf);
}

inline Word16 roundedFast(int32_t acc, bool& ovf) { return static_cast<Word16>(roundedFast32(acc, ovf)); }

// roundedFast32 of acc, given acc + 2^11: the rounding bias then rides with
// the terms formed ahead instead of following the newest product.
inline int32_t roundedBiased(int32_t biased, bool& ovf) {
  if (__builtin_expect(static_cast<uint32_t>(biased + 0x7FFF800) < 0xFFFF800u, 1)) return biased >> 12;
  return roundedOutput(biased - 0x800, ovf);
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

// Order 10 over a bounded block (boundedBlock): every partial sum of any
// sample, in any order of its terms, stays below 2^30.
constexpr int kChunk = 64;

// The portable form: the direct recursion.  The past outputs sit in a 32-bit
// staging buffer (ten in front), so every term is one multiply and one add
// on a register-held weight; the oldest terms come first so that the
// newest output enters last.  y may equal x: x[n] is read before y[n] is
// written and never again.  (GCC would otherwise carry the ten outputs from
// one sample to the next in registers, which leaves no room for the
// weights: reading them back from the buffer is cheaper.)
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-predictive-commoning")))
#endif
bool order10Direct_scalar(const int16_t* a, const int16_t* x, int16_t* y, int len, const int16_t* mem) {
  const int32_t c0 = a[0], c1 = a[1], c2 = a[2], c3 = a[3], c4 = a[4], c5 = a[5], c6 = a[6], c7 = a[7], c8 = a[8],
                c9 = a[9], c10 = a[10];
  int32_t buf[10 + kChunk];
  for (int j = 0; j < 10; ++j) buf[j] = mem ? mem[j] : 0;
  bool ovf = false;
  for (int s0 = 0; s0 < len; s0 += kChunk) {
    const int cl = std::min(kChunk, len - s0);
    for (int n = 0; n < cl; ++n) {
      const int32_t* p = buf + n;  // p[9] = y[n-1] .. p[0] = y[n-10]
      const int32_t older = c10 * p[0] + c9 * p[1] + c8 * p[2] + c7 * p[3] + c6 * p[4] + c5 * p[5] + c4 * p[6] +
                            c3 * p[7] + c2 * p[8];
      const Word16 v = roundedFast(x[s0 + n] * c0 - older - c1 * p[9], ovf);
      buf[10 + n] = v;
      y[s0 + n] = v;
    }
    for (int j = 0; j < 10; ++j) buf[j] = buf[cl + j];
  }
  return ovf;
}

#if defined(__i386__) || defined(__x86_64__)
// Order 10 over a bounded block, two outputs per step.  y[n-3] .. y[n-10]
// sit in the eight lanes of one vector, the two newest outputs in scalars.
// At the start of a step y[n-1] and y[n-2] are known, so the terms of
// y[n-2] .. y[n-9] for the second output are formed beside those of the
// first (two madds, two horizontal adds for both); only the c1 and c2 terms
// of the newest outputs are serial, as in a one-sample step, and the vector
// work per output halves.  (Forming the older terms of groups of eight
// outputs ahead takes fewer instructions still, but lengthens the path from
// one output to the next and ran slower.)
__attribute__((target("avx2"))) bool order10Plain(const int16_t* a, const int16_t* x, int16_t* y, int len,
                                                  const int16_t* mem) {
  int16_t m[10] = {};
  if (mem) std::memcpy(m, mem, sizeof m);
  // Lane k holds y[n-3-k]: the memory's first eight words, reversed.
  __m128i hist = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m)),
                                  _mm_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1));
  const __m128i coef = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 3));
  const int32_t c0 = a[0], c1 = a[1], c2 = a[2];
  int32_t y1 = m[9], y2 = m[8];
  bool ovf = false;
  int n = 0;
  for (; n + 1 < len; n += 2) {
    const __m128i next = _mm_insert_epi16(_mm_slli_si128(hist, 2), y2, 0);  // y[n-2] .. y[n-9]
    __m128i p = _mm_hadd_epi32(_mm_madd_epi16(hist, coef), _mm_madd_epi16(next, coef));
    p = _mm_hadd_epi32(p, p);
    const int32_t v0 = roundedBiased(x[n] * c0 + 0x800 - _mm_cvtsi128_si32(p) - c2 * y2 - c1 * y1, ovf);
    const int32_t v1 = roundedBiased(x[n + 1] * c0 + 0x800 - _mm_extract_epi32(p, 1) - c2 * y1 - c1 * v0, ovf);
    y[n] = static_cast<int16_t>(v0);
    y[n + 1] = static_cast<int16_t>(v1);
    hist = _mm_insert_epi16(_mm_slli_si128(next, 2), y1, 0);
    y2 = v0;
    y1 = v1;
  }
  if (n < len) {
    __m128i p = _mm_madd_epi16(hist, coef);
    p = _mm_add_epi32(p, _mm_shuffle_epi32(p, 0x4E));
    p = _mm_add_epi32(p, _mm_shuffle_epi32(p, 0xB1));
    y[n] = roundedFast(x[n] * c0 - _mm_cvtsi128_si32(p) - c2 * y2 - c1 * y1, ovf);
  }
  return ovf;
}

// Order 10 with the history in registers: y[n-3] .. y[n-10] in the eight
// lanes of one vector (one madd and two folds per sample), the two newest
// outputs in scalars, for blocks that are not bounded as a whole: each
// sample is checked against the history's running peak.
__attribute__((target("avx2"))) bool order10Vector(const int16_t* a, const int16_t* x, int16_t* y, int len,
                                                   const int16_t* mem) {
  int16_t m[10] = {};
  if (mem) std::memcpy(m, mem, sizeof m);
  __m128i hist = _mm_setr_epi16(m[7], m[6], m[5], m[4], m[3], m[2], m[1], m[0]);
  const __m128i coef = _mm_setr_epi16(a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10]);
  const int32_t c0 = a[0], c1 = a[1], c2 = a[2];
  int32_t y1 = m[9], y2 = m[8];
  int64_t poles = 0, peak = 0;
  for (int j = 1; j <= 10; ++j) poles += std::abs(int{a[j]});
  for (int j = 0; j < 10; ++j) peak = std::max<int64_t>(peak, std::abs(int{m[j]}));
  const int64_t a0 = std::abs(c0);
  int64_t room = (int64_t{1} << 30) - peak * poles;
  bool ovf = false;
  for (int n = 0; n < len; ++n) {
    const Word16 xn = x[n];
    Word16 v;
    if (std::abs(int{xn}) * a0 < room) {
      __m128i p = _mm_madd_epi16(hist, coef);
      p = _mm_add_epi32(p, _mm_shuffle_epi32(p, 0x4E));
      p = _mm_add_epi32(p, _mm_shuffle_epi32(p, 0xB1));
      const int32_t acc = xn * c0 - _mm_cvtsi128_si32(p) - c2 * y2 - c1 * y1;
      v = roundedFast(acc, ovf);
    } else {
      alignas(16) int16_t lanes[8];
      _mm_store_si128(reinterpret_cast<__m128i*>(lanes), hist);
      int16_t past[10];  // oldest first; past + 10 is the sample's "past"
      for (int k = 0; k < 8; ++k) past[k] = lanes[7 - k];
      past[8] = static_cast<int16_t>(y2);
      past[9] = static_cast<int16_t>(y1);
      v = synthSample<10>(a, 10, xn, past + 10, false, ovf);
    }
    const int64_t mag = std::abs(int{v});
    if (mag > peak) {
      peak = mag;
      room = (int64_t{1} << 30) - peak * poles;
    }
    y[n] = v;
    hist = _mm_insert_epi16(_mm_slli_si128(hist, 2), y2, 0);
    y2 = y1;
    y1 = v;
  }
  return ovf;
}
#endif

}  // namespace

bool synthesisFilter_scalar(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int16_t* mem,
                            bool update) {
  // The memory must survive until the filter has left it (the caller may
  // update it in place); the staging copy takes care of that.
  bool ovf;
  if (order == 10)
    ovf = boundedBlock(a, 10, x, len) ? order10Direct_scalar(a, x, y, len, mem) : runFilter<10>(a, order, x, y, len, mem);
  else if (order == 30)
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

// boundedBlock for order 10 in lanes: the largest |x| as the largest
// unsigned 16-bit magnitude (|-32768| reads 0x8000), found with minpos on
// the complements; sum |a_j| in 32-bit lanes.
__attribute__((target("avx2"))) bool boundedBlock10(const int16_t* a, const int16_t* x, int len) {
  const __m128i pa = _mm_abs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 1)));
  __m128i ps = _mm_add_epi32(_mm_cvtepu16_epi32(pa), _mm_cvtepu16_epi32(_mm_srli_si128(pa, 8)));
  ps = _mm_add_epi32(ps, _mm_shuffle_epi32(ps, 0x4E));
  ps = _mm_add_epi32(ps, _mm_shuffle_epi32(ps, 0xB1));
  const int64_t poles = _mm_cvtsi128_si32(ps) + std::abs(int{a[9]}) + std::abs(int{a[10]});
  int xmax = 0;
  if (len >= 8) {
    __m128i m = _mm_abs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x)));
    for (int n = 8; n + 8 <= len; n += 8)
      m = _mm_max_epu16(m, _mm_abs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + n))));
    if (len % 8) m = _mm_max_epu16(m, _mm_abs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + len - 8))));
    xmax = 0xFFFF - (_mm_cvtsi128_si32(_mm_minpos_epu16(_mm_xor_si128(m, _mm_set1_epi16(-1)))) & 0xFFFF);
  } else {
    for (int n = 0; n < len; ++n) xmax = std::max(xmax, std::abs(int{x[n]}));
  }
  return int64_t{xmax} * std::abs(int{a[0]}) + 32768 * poles < (int64_t{1} << 30);
}

}  // namespace

// Chosen only where AVX2 runs, so the block bound may use it as well.
__attribute__((target("avx2")))
#endif
bool synthesisFilter_avx2(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int16_t* mem,
                          bool update) {
#if defined(__i386__) || defined(__x86_64__)
  if (order == 10) {
    const bool ovf = boundedBlock10(a, x, len) ? order10Plain(a, x, y, len, mem) : order10Vector(a, x, y, len, mem);
    if (update && mem) {
      if (len >= 10) {
        std::memcpy(mem, y + len - 10, 10 * sizeof(int16_t));
      } else {
        std::memmove(mem, mem + len, static_cast<size_t>(10 - len) * sizeof(int16_t));
        std::memcpy(mem + 10 - len, y, static_cast<size_t>(len) * sizeof(int16_t));
      }
    }
    return ovf;
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
