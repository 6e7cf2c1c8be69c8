#include "nr_internal.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define VOKSC_NR_X86 1
#endif

namespace voksc::nr {

namespace {

// One product rounded by sf.  |p| is at most 2^30, so from sf 32 on every
// result is 0; at sf 15 only (-32768)^2 rounds to 32768, which wraps.
inline int16_t roundProduct(int32_t p, int sf) {
  if (sf >= 32) return 0;
  const int64_t v = sf > 0 ? (int64_t{p} + (int64_t{1} << (sf - 1))) >> sf : p;
  if (sf == 15) return static_cast<int16_t>(static_cast<uint16_t>(v));
  return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

}  // namespace

void mul_scalar(const int16_t* a, const int16_t* b, int16_t* d, int len, int sf) {
  for (int n = 0; n < len; ++n) d[n] = roundProduct(int32_t{a[n]} * b[n], sf);
}

void mulC_scalar(const int16_t* x, int16_t c, int16_t* d, int len, int sf) {
  for (int n = 0; n < len; ++n) d[n] = roundProduct(int32_t{x[n]} * c, sf);
}

#if defined(VOKSC_NR_X86)

namespace {

__attribute__((target("avx2"))) inline __m256i load16(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Sixteen rounded products (sf at most 30: the rounding term cannot carry
// the 32-bit product out of range).
__attribute__((target("avx2"))) inline __m256i roundProducts(__m256i va, __m256i vb, __m256i half, __m128i shift,
                                                             bool wrap) {
  const __m256i lo = _mm256_mullo_epi16(va, vb), hi = _mm256_mulhi_epi16(va, vb);
  __m256i p0 = _mm256_sra_epi32(_mm256_add_epi32(_mm256_unpacklo_epi16(lo, hi), half), shift);
  __m256i p1 = _mm256_sra_epi32(_mm256_add_epi32(_mm256_unpackhi_epi16(lo, hi), half), shift);
  if (wrap) {
    // Keep the low 16 bits: an unsigned pack of masked values is exact.
    const __m256i m = _mm256_set1_epi32(0xFFFF);
    return _mm256_packus_epi32(_mm256_and_si256(p0, m), _mm256_and_si256(p1, m));
  }
  return _mm256_packs_epi32(p0, p1);
}

}  // namespace

__attribute__((target("avx2"))) void mul_avx2(const int16_t* a, const int16_t* b, int16_t* d, int len, int sf) {
  if (sf > 30) return mul_scalar(a, b, d, len, sf);
  const __m256i half = _mm256_set1_epi32(sf > 0 ? int32_t{1} << (sf - 1) : 0);
  const __m128i shift = _mm_cvtsi32_si128(sf);
  int n = 0;
  for (; n + 16 <= len; n += 16)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + n), roundProducts(load16(a + n), load16(b + n), half, shift, sf == 15));
  mul_scalar(a + n, b + n, d + n, len - n, sf);
}

__attribute__((target("avx2"))) void mulC_avx2(const int16_t* x, int16_t c, int16_t* d, int len, int sf) {
  if (sf > 30) return mulC_scalar(x, c, d, len, sf);
  const __m256i half = _mm256_set1_epi32(sf > 0 ? int32_t{1} << (sf - 1) : 0);
  const __m128i shift = _mm_cvtsi32_si128(sf);
  const __m256i vc = _mm256_set1_epi16(c);
  int n = 0;
  for (; n + 16 <= len; n += 16)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + n), roundProducts(load16(x + n), vc, half, shift, sf == 15));
  mulC_scalar(x + n, c, d + n, len - n, sf);
}

#else

void mul_avx2(const int16_t* a, const int16_t* b, int16_t* d, int len, int sf) { mul_scalar(a, b, d, len, sf); }
void mulC_avx2(const int16_t* x, int16_t c, int16_t* d, int len, int sf) { mulC_scalar(x, c, d, len, sf); }

#endif

}  // namespace voksc::nr
