// Scalar and AVX2 forms of the long-term post-filter kernels.
#include <algorithm>
#include <cstdlib>

#include "common/basic_op.h"
#include "pst_internal.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace voksc::g729 {

int32_t pstDot_scalar(const int16_t* a, const int16_t* b, int n) {
  int32_t s = 0;
  for (int i = 0; i < n; ++i) s += int32_t{a[i]} * b[i];
  return s;
}

namespace {

// The quarter of a sample and the bound on the search's chains.
inline int16_t quarter(int16_t x) { return static_cast<int16_t>(x >> 2); }
inline bool searchExact(int m) { return 80 * int64_t{m} * m < 0x7FFFFFFF; }

// The first delay with the largest correlation (strictly larger replaces).
inline int firstLargest(const int32_t* corr, int count) {
  int best = 0;
  int32_t top = corr[0];
  for (int k = 1; k < count; ++k) {
    const bool more = corr[k] > top;  // selects, not branches
    top = more ? corr[k] : top;
    best = more ? k : best;
  }
  return best;
}

}  // namespace

bool pstSearchA_scalar(const int16_t* r, int t0Min, PstSearchA* out) {
  const int16_t* past = r - t0Min - 6;  // the 46 samples the delays reach
  int m = 0;
  for (int i = 0; i < 40; ++i) m = std::max(m, std::abs(int{quarter(r[i])}));
  for (int i = 0; i < 46; ++i) m = std::max(m, std::abs(int{quarter(past[i])}));
  if (!searchExact(m)) return false;
  int32_t corr[7];
  for (int k = 0; k < 7; ++k) {
    int32_t c = 0;
    for (int i = 0; i < 40; ++i) c += int32_t{quarter(r[i])} * quarter(r[i - t0Min - k]);
    corr[k] = c;
  }
  const int best = firstLargest(corr, 7);
  int32_t e = 0, e0 = 0;
  for (int i = 0; i < 40; ++i) {
    e += int32_t{quarter(r[i - t0Min - best])} * quarter(r[i - t0Min - best]);
    e0 += int32_t{quarter(r[i])} * quarter(r[i]);
  }
  *out = {corr[best], e, e0, t0Min + best};
  return true;
}

int16_t agcGains_scalar(int16_t start, int16_t g0, int16_t* gains) {
  int32_t g = start;
  for (int n = 0; n < 40; ++n) {
    g = ((g * 29491) >> 15) + g0;
    gains[n] = static_cast<int16_t>(g);
  }
  return static_cast<int16_t>(g);
}

int16_t agcApply_scalar(int16_t start, int16_t g0, int16_t* sig) {
  int16_t gains[40];
  const int16_t last = agcGains_scalar(start, g0, gains);
  int i = 0;
#if defined(__SSE2__)
  // Eight products a step (the saturating pack is the clip to 16 bits); the
  // gains, just stored word by word, are read so (a block load would
  // straddle those stores and wait for them).
  for (; i < 40; i += 8) {
    __m128i g = _mm_cvtsi32_si128(static_cast<uint16_t>(gains[i]));
    g = _mm_insert_epi16(g, gains[i + 1], 1);
    g = _mm_insert_epi16(g, gains[i + 2], 2);
    g = _mm_insert_epi16(g, gains[i + 3], 3);
    g = _mm_insert_epi16(g, gains[i + 4], 4);
    g = _mm_insert_epi16(g, gains[i + 5], 5);
    g = _mm_insert_epi16(g, gains[i + 6], 6);
    g = _mm_insert_epi16(g, gains[i + 7], 7);
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sig + i));
    const __m128i lo = _mm_mullo_epi16(x, g), hi = _mm_mulhi_epi16(x, g);
    const __m128i p0 = _mm_srai_epi32(_mm_unpacklo_epi16(lo, hi), 12);
    const __m128i p1 = _mm_srai_epi32(_mm_unpackhi_epi16(lo, hi), 12);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sig + i), _mm_packs_epi32(p0, p1));
  }
#endif
  for (; i < 40; ++i) sig[i] = op::sat16((int32_t{sig[i]} * gains[i]) >> 12);
  return last;
}

void pstInterp_scalar(const int16_t* h, int taps, const int16_t* x, int16_t* y, int count) {
  for (int n = 0; n < count; ++n) {
    int32_t acc = 0;
    for (int i = 0; i < taps; ++i) acc += int32_t{h[i]} * x[n - i];
    // round(2 acc): the upper word of 2 acc + 0x8000, saturated.
    y[n] = op::sat16((acc + 0x4000) >> 15);
  }
}

#if defined(__i386__) || defined(__x86_64__)

#define VOKSC_AVX2 __attribute__((target("avx2")))

namespace {

VOKSC_AVX2 inline int32_t hsum(__m256i v) {
  __m128i x = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  x = _mm_add_epi32(x, _mm_shuffle_epi32(x, 0x4E));
  x = _mm_add_epi32(x, _mm_shuffle_epi32(x, 0xB1));
  return _mm_cvtsi128_si32(x);
}

VOKSC_AVX2 inline __m256i load16(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

// 16 outputs; the tap pairs (h[i], h[i+1]) meet (x[n-i], x[n-i-1]) in one
// madd.  The unpacks leave outputs 0-3 and 8-11 in lo, 4-7 and 12-15 in hi,
// which the pack puts back in order.
VOKSC_AVX2 void interpBlock16(const int16_t* h, int taps, const int16_t* x, int16_t* y) {
  __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
  for (int i = 0; i < taps; i += 2) {
    const __m256i v0 = load16(x - i);
    const __m256i v1 = load16(x - i - 1);
    const __m256i c = _mm256_set1_epi32(static_cast<int32_t>(
        static_cast<uint16_t>(h[i]) | (static_cast<uint32_t>(static_cast<uint16_t>(h[i + 1])) << 16)));
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(v0, v1), c));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(v0, v1), c));
  }
  const __m256i half = _mm256_set1_epi32(0x4000);
  lo = _mm256_srai_epi32(_mm256_add_epi32(lo, half), 15);
  hi = _mm256_srai_epi32(_mm256_add_epi32(hi, half), 15);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(y), _mm256_packs_epi32(lo, hi));
}

}  // namespace

VOKSC_AVX2 int32_t pstDot_avx2(const int16_t* a, const int16_t* b, int n) {
  __m256i acc = _mm256_setzero_si256();
  int i = 0;
  for (; i + 16 <= n; i += 16) acc = _mm256_add_epi32(acc, _mm256_madd_epi16(load16(a + i), load16(b + i)));
  if (i + 8 <= n) {
    const __m128i p = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
    acc = _mm256_add_epi32(acc, _mm256_zextsi128_si256(p));
    i += 8;
  }
  int32_t s = hsum(acc);
  for (; i < n; ++i) s += int32_t{a[i]} * b[i];
  return s;
}

namespace {

// Where the smoothing would put the gain after n steps without the floors:
// X(n) = a^n g(0) + g0 (1 - a^n) / (1 - a), a = 29491 / 2^15, both factors
// in Q15.  Each floor lowers a step by less than 1 and a lowered gain only
// lowers the later ones, so g(n) lies in (X(n) - (1 - a^n) / (1 - a), X(n)],
// an interval shorter than 10.
struct Forecast {
  int32_t growth, sum;
};
constexpr Forecast forecast(int n) {
  double p = 1, s = 0;
  for (int i = 0; i < n; ++i) {
    s += p;
    p *= 29491.0 / 32768.0;
  }
  return {static_cast<int32_t>(p * 32768 + 0.5), static_cast<int32_t>(s * 32768 + 0.5)};
}
constexpr Forecast kForecast[3] = {forecast(10), forecast(20), forecast(30)};

}  // namespace

namespace {

// Quarters of 16 samples, and of 8 in the low half.
VOKSC_AVX2 inline __m256i q16(const int16_t* p) { return _mm256_srai_epi16(load16(p), 2); }
VOKSC_AVX2 inline __m256i q8(const int16_t* p) {
  return _mm256_zextsi128_si256(_mm_srai_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 2));
}

}  // namespace

namespace {

// The totals of eight 8-lane sums, in order: two rounds of pair sums leave
// in each 128-bit half the half-sums of four, and one cross-half add
// completes them.
VOKSC_AVX2 inline __m256i reduce8(const __m256i* v) {
  const __m256i s0 = _mm256_hadd_epi32(_mm256_hadd_epi32(v[0], v[1]), _mm256_hadd_epi32(v[2], v[3]));
  const __m256i s1 = _mm256_hadd_epi32(_mm256_hadd_epi32(v[4], v[5]), _mm256_hadd_epi32(v[6], v[7]));
  return _mm256_add_epi32(_mm256_permute2x128_si256(s0, s1, 0x20), _mm256_permute2x128_si256(s0, s1, 0x31));
}

}  // namespace

// The subframe's quarters stay in registers (three blocks: 16, 16, 8
// samples); the delayed blocks are loaded from the residual directly, which
// also spares a copy that the loads would read right after its stores.
VOKSC_AVX2 bool pstSearchA_avx2(const int16_t* r, int t0Min, PstSearchA* out) {
  const int16_t* past = r - t0Min - 6;
  // Blocks of 16, 8 and 16 samples: the residual's filter has just stored
  // the subframe as samples 0-15, 16-31 and 24-39, and these loads each
  // read within one store, so its data is forwarded.
  const __m256i c0 = q16(r), c1 = q8(r + 16), c2 = q16(r + 24);
  // The largest quarter: the subframe and the 46 past samples (overlapping
  // loads; a maximum does not mind repeats).
  __m256i mx = _mm256_max_epi16(_mm256_abs_epi16(c0), _mm256_abs_epi16(c1));
  mx = _mm256_max_epi16(mx, _mm256_abs_epi16(c2));
  mx = _mm256_max_epi16(mx, _mm256_abs_epi16(q16(past)));
  mx = _mm256_max_epi16(mx, _mm256_abs_epi16(q16(past + 16)));
  mx = _mm256_max_epi16(mx, _mm256_abs_epi16(q16(past + 30)));
  __m128i m8 = _mm_max_epi16(_mm256_castsi256_si128(mx), _mm256_extracti128_si256(mx, 1));
  m8 = _mm_max_epi16(m8, _mm_shuffle_epi32(m8, 0x4E));
  m8 = _mm_max_epi16(m8, _mm_shuffle_epi32(m8, 0xB1));
  m8 = _mm_max_epi16(m8, _mm_shufflelo_epi16(m8, 0xB1));
  if (!searchExact(_mm_cvtsi128_si32(m8) & 0xFFFF)) return false;
  __m256i acc[8];
  for (int k = 0; k < 7; ++k) {
    const int16_t* d = past + 6 - k;
    acc[k] = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(c0, q16(d)), _mm256_madd_epi16(c1, q8(d + 16))),
                              _mm256_madd_epi16(c2, q16(d + 24)));
  }
  acc[7] = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(c0, c0), _mm256_madd_epi16(c1, c1)),
                            _mm256_madd_epi16(c2, c2));
  const __m256i sums = reduce8(acc);
  // The first largest correlation without branches: lane 7 (the subframe's
  // energy) is set below every correlation, the maximum is spread to every
  // lane, and the lowest lane equal to it is the delay.
  const __m256i corr = _mm256_blend_epi32(sums, _mm256_set1_epi32(INT32_MIN), 0x80);
  __m256i top = _mm256_max_epi32(corr, _mm256_shuffle_epi32(corr, 0x4E));
  top = _mm256_max_epi32(top, _mm256_shuffle_epi32(top, 0xB1));
  top = _mm256_max_epi32(top, _mm256_permute2x128_si256(top, top, 0x01));
  const int best = __builtin_ctz(static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(corr, top)))));
  const int16_t* d = past + 6 - best;
  const __m256i d0 = q16(d), d1 = q8(d + 16), d2 = q16(d + 24);
  const __m256i en = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(d0, d0), _mm256_madd_epi16(d1, d1)),
                                      _mm256_madd_epi16(d2, d2));
  alignas(32) int32_t s[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(s), sums);
  *out = {s[best], hsum(en), s[7], t0Min + best};
  return true;
}

// The 40 steps of the recursion form a serial chain of multiplies (five
// cycles a step).  Here the scalar chain takes steps 1-10 while steps 11-20,
// 21-30 and 31-40 run at once in 16-bit lanes from every start they can
// have: the forecast X(10k) rounded down (within 1.6 of X(10k) with the Q15
// factors) less 12 up to 3 above it spans 16 starts and covers the interval
// of g(10k).  The exact g(10k) then picks its lane, whose ten values are the
// gains.  With g(0) >= 0 every gain lies in [0, 32767): the unsigned high
// product of g and 2a is (g a) >> 15 exactly, and the true lane never wraps
// (other lanes may, unread).  Should g(10k) fall outside the lanes, the
// chain goes on serially.
VOKSC_AVX2 int16_t agcApply_avx2(int16_t start, int16_t g0, int16_t* sig) {
  if (start < 0) return agcApply_scalar(start, g0, sig);
  constexpr int kSeg = 10, kLater = 3;
  // Gains 1-10 serially, straight into their lanes.
  int32_t g = start;
  auto next = [&] {
    g = ((g * 29491) >> 15) + g0;
    return g;
  };
  __m128i v0 = _mm_cvtsi32_si128(next() & 0xFFFF);
  v0 = _mm_insert_epi16(v0, next(), 1);
  v0 = _mm_insert_epi16(v0, next(), 2);
  v0 = _mm_insert_epi16(v0, next(), 3);
  v0 = _mm_insert_epi16(v0, next(), 4);
  v0 = _mm_insert_epi16(v0, next(), 5);
  v0 = _mm_insert_epi16(v0, next(), 6);
  v0 = _mm_insert_epi16(v0, next(), 7);
  __m128i v1 = _mm_cvtsi32_si128(next() & 0xFFFF);
  v1 = _mm_insert_epi16(v1, next(), 1);
  const __m256i lanes = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m256i twoA = _mm256_set1_epi16(static_cast<int16_t>(2 * 29491 - 65536));
  const __m256i add = _mm256_set1_epi16(g0);
  int32_t base[kLater];
  __m256i v[kLater];
  for (int k = 0; k < kLater; ++k) {
    const int64_t x = (int64_t{kForecast[k].growth} * start + int64_t{kForecast[k].sum} * g0) >> 15;
    base[k] = static_cast<int32_t>(x) - 12;
    v[k] = _mm256_add_epi16(_mm256_set1_epi16(static_cast<int16_t>(base[k])), lanes);
  }
  alignas(32) int16_t rows[kLater][kSeg][16];
  for (int i = 0; i < kSeg; ++i) {
    for (int k = 0; k < kLater; ++k) {
      v[k] = _mm256_add_epi16(_mm256_mulhi_epu16(v[k], twoA), add);
      _mm256_store_si256(reinterpret_cast<__m256i*>(rows[k][i]), v[k]);
    }
  }
  // Each later segment's lane, from the gain that starts it; a gain
  // outside the lanes sends the whole subframe to the serial form.
  int j[kLater];
  for (int k = 0; k < kLater; ++k) {
    const uint32_t lane = static_cast<uint32_t>(g - base[k]);
    if (lane > 15) return agcApply_scalar(start, g0, sig);
    j[k] = static_cast<int>(lane);
    g = rows[k][kSeg - 1][lane];
  }
  // Gains 11-40 into their lanes (gain n + 1 is lane n % 8 of block n / 8).
#define VOKSC_GAIN(n) rows[(n) / kSeg - 1][(n) % kSeg][j[(n) / kSeg - 1]]
  v1 = _mm_insert_epi16(v1, VOKSC_GAIN(10), 2);
  v1 = _mm_insert_epi16(v1, VOKSC_GAIN(11), 3);
  v1 = _mm_insert_epi16(v1, VOKSC_GAIN(12), 4);
  v1 = _mm_insert_epi16(v1, VOKSC_GAIN(13), 5);
  v1 = _mm_insert_epi16(v1, VOKSC_GAIN(14), 6);
  v1 = _mm_insert_epi16(v1, VOKSC_GAIN(15), 7);
  __m128i blocks[5] = {v0, v1, _mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
  for (int b = 2; b < 5; ++b) {
    const int n = 8 * b;
    __m128i t = _mm_cvtsi32_si128(static_cast<uint16_t>(VOKSC_GAIN(n)));
    t = _mm_insert_epi16(t, VOKSC_GAIN(n + 1), 1);
    t = _mm_insert_epi16(t, VOKSC_GAIN(n + 2), 2);
    t = _mm_insert_epi16(t, VOKSC_GAIN(n + 3), 3);
    t = _mm_insert_epi16(t, VOKSC_GAIN(n + 4), 4);
    t = _mm_insert_epi16(t, VOKSC_GAIN(n + 5), 5);
    t = _mm_insert_epi16(t, VOKSC_GAIN(n + 6), 6);
    blocks[b] = _mm_insert_epi16(t, VOKSC_GAIN(n + 7), 7);
  }
#undef VOKSC_GAIN
  // The products, eight a step; the saturating pack is the clip.
  for (int b = 0; b < 5; ++b) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sig + 8 * b));
    const __m128i lo = _mm_mullo_epi16(x, blocks[b]), hi = _mm_mulhi_epi16(x, blocks[b]);
    const __m128i p0 = _mm_srai_epi32(_mm_unpacklo_epi16(lo, hi), 12);
    const __m128i p1 = _mm_srai_epi32(_mm_unpackhi_epi16(lo, hi), 12);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sig + 8 * b), _mm_packs_epi32(p0, p1));
  }
  return static_cast<int16_t>(g);
}

VOKSC_AVX2 void pstInterp_avx2(const int16_t* h, int taps, const int16_t* x, int16_t* y, int count) {
  if (count < 16) {
    pstInterp_scalar(h, taps, x, y, count);
    return;
  }
  int n = 0;
  for (; n + 16 <= count; n += 16) interpBlock16(h, taps, x + n, y + n);
  // The last block overlaps the previous one and rewrites equal values.
  if (n < count) interpBlock16(h, taps, x + count - 16, y + count - 16);
}

#else

int32_t pstDot_avx2(const int16_t* a, const int16_t* b, int n) { return pstDot_scalar(a, b, n); }
void pstInterp_avx2(const int16_t* h, int taps, const int16_t* x, int16_t* y, int count) {
  pstInterp_scalar(h, taps, x, y, count);
}
int16_t agcApply_avx2(int16_t start, int16_t g0, int16_t* sig) { return agcApply_scalar(start, g0, sig); }
bool pstSearchA_avx2(const int16_t* r, int t0Min, PstSearchA* out) { return pstSearchA_scalar(r, t0Min, out); }

#endif

}  // namespace voksc::g729
