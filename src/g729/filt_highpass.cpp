// G.729 second-order high-pass section: the pre-processing filter of the
// encoder (140 Hz, coefficients Q12, input halved) and the post-processing
// filter of the decoder (100 Hz, coefficients Q13, output doubled).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"

using namespace voksc::op;
using voksc::anyNull;

namespace {

// The state: coefficients (a0 kept but unused), the two past inputs and the
// two past outputs in split form.  No pointers: a byte copy is a snapshot.
struct HighPassState {
  int16_t a[3], b[3];
  int16_t x1, x2;  // x[n-1], x[n-2]
  int16_t y1h, y1l, y2h, y2l;
};
static_assert(sizeof(HighPassState) == 24, "high-pass state size");

}  // namespace

VOKSC_EXPORT VokResult voksHighPassFilterSize_G729(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(HighPassState));
  return vokOk;
}

VOKSC_EXPORT VokResult voksHighPassFilterInit_G729(const Vok16s* coeffs, void* state) {
  if (anyNull(coeffs, static_cast<const char*>(state))) return vokErrNullPtr;
  HighPassState s{};
  for (int i = 0; i < 3; ++i) {
    s.a[i] = coeffs[i];
    s.b[i] = coeffs[3 + i];
  }
  std::memcpy(state, &s, sizeof s);
  return vokOk;
}

namespace {

// One call of the section in Q12 or Q13.  The operator chain per sample is
//   c = L_add(Mpy32x16(y1, a1), Mpy32x16(y2, a2)), then L_mac of x b0,
//   x1 b1, x2 b2;  t = L_shl(c, 15 - Q),
// where Mpy32x16(y, a) = L_mac(L_mult(yh, a), mult(yl, a), 1).  With no
// coefficient at -32768 none of these products saturates (yl is never
// negative), and each split product is 2 ((h a) >> 15) for h = y >> 1 =
// yh 2^15 + yl (the shift floors exactly as mult() does).  So c is the
// exact 64-bit sum, saturated once, whenever the partial sums before the
// last addition stay inside 32 bits; a sample where one does not runs the
// chain (chainSum).  From c, both Q give the sample round(sat(8 c)) (Q13
// doubles t with saturation, which is the same), that is
// sat16((c + 2^12) >> 13), and the next history h = sat(t) >> 1, that is
// c 2^(14 - Q) clamped to [-2^30, 2^30).
template <int Q>
__attribute__((noinline)) Word32 chainSum(int64_t h1, int64_t h2, int32_t in, int32_t x1, int32_t x2,
                                          const HighPassState& s) {
  using W = Word16;
  Word32 c = voksc::vokMpy32x16(W(h1 >> 15), W(h1 & 0x7FFF), s.a[1]);
  c = L_add(c, voksc::vokMpy32x16(W(h2 >> 15), W(h2 & 0x7FFF), s.a[2]));
  c = L_mac(c, W(in), s.b[0]);
  c = L_mac(c, W(x1), s.b[1]);
  return L_mac(c, W(x2), s.b[2]);
}

// Each sample tests its partial sums.
template <int Q>
void runHighPass(HighPassState& s, Vok16s* x, int len) {
  const int64_t a1 = s.a[1], a2 = s.a[2];
  const int32_t b0x2 = 2 * s.b[0], b1x2 = 2 * s.b[1], b2x2 = 2 * s.b[2];
  // The two past outputs as y >> 1, the inputs as they came.
  int64_t h1 = int64_t{s.y1h} * 32768 + s.y1l, h2 = int64_t{s.y2h} * 32768 + s.y2l;
  int32_t x1 = s.x1, x2 = s.x2;
  auto outside32 = [](int64_t v) { return static_cast<uint64_t>(v - kMin32) >> 32; };
  for (int i = 0; i < len; ++i) {
    const int32_t in = x[i];
    const int64_t p1 = 2 * (((h1 * a1) >> 15) + ((h2 * a2) >> 15));
    const int64_t p2 = p1 + in * b0x2, p3 = p2 + x1 * b1x2;
    int64_t c = p3 + x2 * b2x2;
    if (__builtin_expect((outside32(p1) | outside32(p2) | outside32(p3)) != 0, 0))
      c = chainSum<Q>(h1, h2, in, x1, x2, s);
    const int64_t v = (c + 0x1000) >> 13;
    x[i] = static_cast<Vok16s>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
    const int64_t h = c * (1 << (14 - Q));
    h2 = h1;
    h1 = h > 0x3FFFFFFF ? 0x3FFFFFFF : h < -0x40000000 ? -0x40000000 : h;
    x2 = x1;
    x1 = in;
  }
  s.y1h = static_cast<int16_t>(h1 >> 15);
  s.y1l = static_cast<int16_t>(h1 & 0x7FFF);
  s.y2h = static_cast<int16_t>(h2 >> 15);
  s.y2l = static_cast<int16_t>(h2 & 0x7FFF);
  s.x1 = static_cast<int16_t>(x1);
  s.x2 = static_cast<int16_t>(x2);
}

// The bounded block: the input terms of every sample are formed ahead in
// lanes (their partial sums, like the whole sample's, fit 32 bits), so the
// recursion proper keeps the two split products of the past outputs.
// For a sum c in [-2^28, 2^28 - 2^12) neither clamp can act: the sample
// (c + 2^12) >> 13 lies in [-2^15, 2^15) and the history c 2^(14-Q) (Q = 12
// or 13) in [-2^30, 2^30).  Louder sums clamp both.
template <int Q>
inline int64_t highPassStep(int64_t c, Vok16s& out) {
  if (__builtin_expect(static_cast<uint64_t>(c + (int64_t{1} << 28)) < (uint64_t{1} << 29) - 0x1000, 1)) {
    out = static_cast<Vok16s>((c + 0x1000) >> 13);
    return c * (1 << (14 - Q));
  }
  const int64_t v = (c + 0x1000) >> 13;
  out = static_cast<Vok16s>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
  const int64_t h = c * (1 << (14 - Q));
  return h > 0x3FFFFFFF ? 0x3FFFFFFF : h < -0x40000000 ? -0x40000000 : h;
}

// An opaque value: the compiler may not fold it into the expressions that use it.
inline void keepInRegister(int64_t& v) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  __asm__("" : "+r"(v));
#else
  (void)v;
#endif
}

// A sum for which neither clamp of highPassStep acts.
inline bool sumInRange(int64_t c) {
  return static_cast<uint64_t>(c + (int64_t{1} << 28)) < (uint64_t{1} << 29) - 0x1000;
}

// Two samples of the carried sums (c1 the newer): how many were made before
// a sum left the range (2 when none did); the sums are those of the samples
// made.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline int boundedPair(int64_t& c1, int64_t& c2, int64_t a1u, int64_t a2u, const int32_t* in, Vok16s* out) {
  int64_t ahead = 2 * ((c2 * a2u) >> 15) + in[0];
  keepInRegister(ahead);
  const int64_t c = 2 * ((c1 * a1u) >> 15) + ahead;
  if (__builtin_expect(!sumInRange(c), 0)) return 0;
  out[0] = static_cast<Vok16s>((c + 0x1000) >> 13);
  ahead = 2 * ((c1 * a2u) >> 15) + in[1];
  keepInRegister(ahead);
  const int64_t d = 2 * ((c * a1u) >> 15) + ahead;
  if (__builtin_expect(!sumInRange(d), 0)) {
    c2 = c1;
    c1 = c;
    return 1;
  }
  out[1] = static_cast<Vok16s>((d + 0x1000) >> 13);
  c2 = c;
  c1 = d;
  return 2;
}

template <int Q>
void runBoundedHighPass(HighPassState& s, Vok16s* x, int len) {
  constexpr int kChunk = 160;
  const int64_t a1 = s.a[1], a2 = s.a[2];
  const int32_t b0x2 = 2 * s.b[0], b1x2 = 2 * s.b[1], b2x2 = 2 * s.b[2];
  int64_t h1 = int64_t{s.y1h} * 32768 + s.y1l, h2 = int64_t{s.y2h} * 32768 + s.y2l;
  int32_t x1 = s.x1, x2 = s.x2;  // the inputs before the chunk
  for (int c0 = 0; c0 < len; c0 += kChunk) {
    const int n = std::min(kChunk, len - c0);
    Vok16s* xc = x + c0;
    int32_t inputs[kChunk];
    inputs[0] = xc[0] * b0x2 + x1 * b1x2 + x2 * b2x2;
    if (n > 1) inputs[1] = xc[1] * b0x2 + xc[0] * b1x2 + x1 * b2x2;
    int i = 2;
#if defined(__SSE2__)
    // Eight samples a step: (x[i], x[i-1]) pairs against (b0, b1), (x[i-2], 0)
    // against (b2, 0), then doubled.  The bound keeps every sum exact and
    // excludes the one pair product madd would wrap (no b is -32768).
    const __m128i w01 = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(s.b[1]) << 16) | uint16_t(s.b[0])));
    const __m128i w2 = _mm_set1_epi32(uint16_t(s.b[2]));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= n; i += 8) {
      const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(xc + i));
      const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(xc + i - 1));
      const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(xc + i - 2));
      const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(v0, v1), w01),
                                       _mm_madd_epi16(_mm_unpacklo_epi16(v2, zero), w2));
      const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(v0, v1), w01),
                                       _mm_madd_epi16(_mm_unpackhi_epi16(v2, zero), w2));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(inputs + i), _mm_add_epi32(lo, lo));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(inputs + i + 4), _mm_add_epi32(hi, hi));
    }
#endif
    for (; i < n; ++i) inputs[i] = xc[i] * b0x2 + xc[i - 1] * b1x2 + xc[i - 2] * b2x2;
    x2 = n > 1 ? xc[n - 2] : x1;
    x1 = xc[n - 1];
    // While no clamp acts, each history is a sum times 2^(14-Q), and
    // (h a) >> 15 is (c (a 2^(14-Q))) >> 15 exactly, so the recursion carries
    // the sums themselves: the chain from one sum to the next is a multiply,
    // a shift and one addition of 2 ((h2 a2) >> 15) + the input terms, formed
    // beside it; the range check branches off the chain.  A history that a
    // clamp made (not such a multiple) and the samples after a clamp within
    // the chunk take the steps above.
    constexpr int kUp = 14 - Q;
    i = 0;
    if (((h1 | h2) & ((1 << kUp) - 1)) == 0) {
      int64_t a1u = a1 * (1 << kUp);
      const int64_t a2u = a2 * (1 << kUp);
      keepInRegister(a1u);  // else the compiler doubles c1 on the chain
      int64_t c1 = h1 / (1 << kUp), c2 = h2 / (1 << kUp);
      // Two samples a step, the two sums changing roles instead of places.
      for (; i + 2 <= n; i += 2) {
        const int made = boundedPair(c1, c2, a1u, a2u, inputs + i, xc + i);
        if (__builtin_expect(made < 2, 0)) {
          i += made;
          break;
        }
      }
      for (; i < n; ++i) {
        int64_t ahead = 2 * ((c2 * a2u) >> 15) + inputs[i];
        keepInRegister(ahead);  // else the compiler adds the two products first
        const int64_t c = 2 * ((c1 * a1u) >> 15) + ahead;
        if (!sumInRange(c)) break;
        xc[i] = static_cast<Vok16s>((c + 0x1000) >> 13);
        c2 = c1;
        c1 = c;
      }
      h1 = c1 * (1 << kUp);
      h2 = c2 * (1 << kUp);
    }
    for (; i < n; ++i) {
      const int64_t h = highPassStep<Q>(2 * (((h1 * a1) >> 15) + ((h2 * a2) >> 15)) + inputs[i], xc[i]);
      h2 = h1;
      h1 = h;
    }
  }
  s.y1h = static_cast<int16_t>(h1 >> 15);
  s.y1l = static_cast<int16_t>(h1 & 0x7FFF);
  s.y2h = static_cast<int16_t>(h2 >> 15);
  s.y2l = static_cast<int16_t>(h2 & 0x7FFF);
  s.x1 = static_cast<int16_t>(x1);
  s.x2 = static_cast<int16_t>(x2);
}

// Block bound: |Mpy32x16(y, a)| <= 2 |a| 32769 (|yh| <= 32768, the low part
// adds at most |a|), and each input product at most 2 |b| M for the block's
// largest input magnitude M (the two past inputs included).  When the sum of
// these bounds stays inside 32 bits no partial sum can, for any history.
template <int Q>
void highPass(HighPassState& s, Vok16s* x, int len) {
  const int32_t a1 = s.a[1], a2 = s.a[2], b0 = s.b[0], b1 = s.b[1], b2 = s.b[2];
  if (a1 == kMin16 || a2 == kMin16 || b0 == kMin16 || b1 == kMin16 || b2 == kMin16) {
    // A product that can saturate: the chain for every sample.
    for (int i = 0; i < len; ++i) {
      int64_t h1 = int64_t{s.y1h} * 32768 + s.y1l, h2 = int64_t{s.y2h} * 32768 + s.y2l;
      const Word32 c = chainSum<Q>(h1, h2, x[i], s.x1, s.x2, s);
      s.x2 = s.x1;
      s.x1 = x[i];
      const int64_t v = (int64_t{c} + 0x1000) >> 13;
      x[i] = static_cast<Vok16s>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
      const int64_t h = int64_t{c} * (1 << (14 - Q));
      h2 = h1;
      h1 = h > 0x3FFFFFFF ? 0x3FFFFFFF : h < -0x40000000 ? -0x40000000 : h;
      s.y1h = static_cast<int16_t>(h1 >> 15);
      s.y1l = static_cast<int16_t>(h1 & 0x7FFF);
      s.y2h = static_cast<int16_t>(h2 >> 15);
      s.y2l = static_cast<int16_t>(h2 & 0x7FFF);
    }
    return;
  }
  // The largest magnitude from the extremes, kept in 16-bit lanes.
  int16_t lo = std::min(s.x1, s.x2), hi = std::max(s.x1, s.x2);
  for (int i = 0; i < len; ++i) {
    lo = std::min(lo, x[i]);
    hi = std::max(hi, x[i]);
  }
  const int32_t peak = std::max(std::abs(int32_t{hi}), std::abs(int32_t{lo}));
  const int64_t bound = int64_t{2} * 32769 * (std::abs(a1) + std::abs(a2)) +
                        int64_t{2} * peak * (std::abs(b0) + std::abs(b1) + std::abs(b2));
  if (bound <= kMax32)
    runBoundedHighPass<Q>(s, x, len);
  else
    runHighPass<Q>(s, x, len);
}

}  // namespace

// acc = a1 y1 + a2 y2 (split products) + b0 x + b1 x1 + b2 x2 in Q(q+1).
// Q12: the stored output is acc << 3, the sample its rounded upper word;
// Q13: the stored output is acc << 2, the sample is rounded from one more
// doubling (the post-processing gain of 2).
VOKSC_EXPORT VokResult voksHighPassFilter_G729_16s_ISfs(Vok16s* x, int len, int q, void* state) {
  if (anyNull(x, static_cast<const char*>(state))) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (q != 12 && q != 13) return vokErrScale;
  HighPassState s;
  std::memcpy(&s, state, sizeof s);
  if (q == 12)
    highPass<12>(s, x, len);
  else
    highPass<13>(s, x, len);
  std::memcpy(state, &s, sizeof s);
  return vokOk;
}
