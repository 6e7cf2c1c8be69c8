// Scalar and AVX2 forms of the long-term post-filter kernels.
#include "common/basic_op.h"
#include "pst_internal.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#endif

namespace voksc::g729 {

int32_t pstDot_scalar(const int16_t* a, const int16_t* b, int n) {
  int32_t s = 0;
  for (int i = 0; i < n; ++i) s += int32_t{a[i]} * b[i];
  return s;
}

void pstDots8_scalar(const int16_t* a, const int16_t* const* b, int n, int32_t* out) {
  for (int k = 0; k < 8; ++k) out[k] = pstDot_scalar(a, b[k], n);
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

// Eight accumulators share each load of a; the horizontal sums of all
// eight fold together: two rounds of pair sums leave, in each 128-bit half,
// the half-sums of four signals, and one cross-half add completes them.
VOKSC_AVX2 void pstDots8_avx2(const int16_t* a, const int16_t* const* b, int n, int32_t* out) {
  __m256i acc[8];
  for (auto& v : acc) v = _mm256_setzero_si256();
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i va = load16(a + i);
    for (int k = 0; k < 8; ++k) acc[k] = _mm256_add_epi32(acc[k], _mm256_madd_epi16(va, load16(b[k] + i)));
  }
  if (i + 8 <= n) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    for (int k = 0; k < 8; ++k) {
      const __m128i p = _mm_madd_epi16(va, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b[k] + i)));
      acc[k] = _mm256_add_epi32(acc[k], _mm256_zextsi128_si256(p));
    }
    i += 8;
  }
  const __m256i q0 = _mm256_hadd_epi32(_mm256_hadd_epi32(acc[0], acc[1]), _mm256_hadd_epi32(acc[2], acc[3]));
  const __m256i q1 = _mm256_hadd_epi32(_mm256_hadd_epi32(acc[4], acc[5]), _mm256_hadd_epi32(acc[6], acc[7]));
  const __m256i sums = _mm256_add_epi32(_mm256_permute2x128_si256(q0, q1, 0x20), _mm256_permute2x128_si256(q0, q1, 0x31));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), sums);
  for (; i < n; ++i)
    for (int k = 0; k < 8; ++k) out[k] += int32_t{a[i]} * b[k][i];
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
void pstDots8_avx2(const int16_t* a, const int16_t* const* b, int n, int32_t* out) { pstDots8_scalar(a, b, n, out); }
void pstInterp_avx2(const int16_t* h, int taps, const int16_t* x, int16_t* y, int count) {
  pstInterp_scalar(h, taps, x, y, count);
}

#endif

}  // namespace voksc::g729
