#include "kernels.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define VOKSC_X86 1
#endif

namespace voksc::kern {

int64_t dot_scalar(const int16_t* a, const int16_t* b, int n) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) s += int32_t{a[i]} * b[i];
  return s;
}

void autocorr_scalar(const int16_t* x, int n, int64_t* r, int lags) {
  for (int k = 0; k < lags; ++k) r[k] = k < n ? dot_scalar(x, x + k, n - k) : 0;
}

#if defined(VOKSC_X86)

namespace {
// Widen the eight 32-bit lanes to 64 bits and add them to acc.
__attribute__((target("avx2"))) inline __m256i widenAdd(__m256i acc, __m256i v) {
  __m256i lo = _mm256_cvtepi32_epi64(_mm256_castsi256_si128(v));
  __m256i hi = _mm256_cvtepi32_epi64(_mm256_extracti128_si256(v, 1));
  return _mm256_add_epi64(acc, _mm256_add_epi64(lo, hi));
}
__attribute__((target("avx2"))) inline int64_t hsum64(__m256i v) {
  alignas(32) int64_t t[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(t), v);
  return t[0] + t[1] + t[2] + t[3];
}
}  // namespace

// Pairs of products are summed in 32-bit lanes by madd (each pair sum fits:
// at most 2^31 for two (-32768)^2 products, which only -32768*-32768 twice
// reaches; that case wraps, so it is detected and redone in 64 bits), then
// widened to 64-bit lanes every block so nothing overflows.
__attribute__((target("avx2"))) int64_t dot_avx2(const int16_t* a, const int16_t* b, int n) {
  __m256i acc = _mm256_setzero_si256();
  const __m256i minWord = _mm256_set1_epi32(static_cast<int32_t>(0x80000000u));
  int i = 0;
  bool wrapped = false;
  for (; i + 16 <= n; i += 16) {
    __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
    __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
    __m256i p = _mm256_madd_epi16(va, vb);
    // madd wraps only for a pair of -32768*-32768 products (result 0x80000000).
    if (!_mm256_testz_si256(_mm256_cmpeq_epi32(p, minWord), _mm256_cmpeq_epi32(p, minWord))) wrapped = true;
    acc = widenAdd(acc, p);
  }
  if (wrapped) return dot_scalar(a, b, n);
  int64_t s = hsum64(acc);
  for (; i < n; ++i) s += int32_t{a[i]} * b[i];
  return s;
}

__attribute__((target("avx2"))) void autocorr_avx2(const int16_t* x, int n, int64_t* r, int lags) {
  for (int k = 0; k < lags; ++k) r[k] = k < n ? dot_avx2(x, x + k, n - k) : 0;
}

#else

int64_t dot_avx2(const int16_t* a, const int16_t* b, int n) { return dot_scalar(a, b, n); }
void autocorr_avx2(const int16_t* x, int n, int64_t* r, int lags) { autocorr_scalar(x, n, r, lags); }

#endif

}  // namespace voksc::kern
