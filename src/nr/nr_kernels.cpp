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

void crossCorr_scalar(const int16_t* a, const int16_t* b, int len, int lags, int64_t* out) {
  for (int k = 0; k < lags; ++k) {
    int64_t s = 0;
    for (int n = 0; n < len; ++n) s += int32_t{a[n]} * b[n + k];
    out[k] = s;
  }
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

__attribute__((target("avx2"))) inline __m256i widen(__m256i v) {
  return _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_castsi256_si128(v)),
                          _mm256_cvtepi32_epi64(_mm256_extracti128_si256(v, 1)));
}

__attribute__((target("avx2"))) inline int64_t hsum64(__m256i v) {
  alignas(32) int64_t t[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(t), v);
  return t[0] + t[1] + t[2] + t[3];
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

// Four lags at a time; pair sums in 32-bit lanes are widened to 64 bits
// after every block of sixteen products.  A pair of (-32768)^2 products
// wraps its lane: such a block set is redone by the scalar form.
__attribute__((target("avx2"))) void crossCorr_avx2(const int16_t* a, const int16_t* b, int len, int lags,
                                                    int64_t* out) {
  const __m256i wrapped = _mm256_set1_epi32(static_cast<int32_t>(0x80000000u));
  const int n16 = len & ~15;
  int k = 0;
  for (; k + 4 <= lags; k += 4) {
    __m256i acc[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
    __m256i bad = _mm256_setzero_si256();
    for (int n = 0; n < n16; n += 16) {
      const __m256i va = load16(a + n);
      for (int i = 0; i < 4; ++i) {
        const __m256i p = _mm256_madd_epi16(va, load16(b + n + k + i));
        bad = _mm256_or_si256(bad, _mm256_cmpeq_epi32(p, wrapped));
        acc[i] = _mm256_add_epi64(acc[i], widen(p));
      }
    }
    if (!_mm256_testz_si256(bad, bad)) {
      crossCorr_scalar(a, b + k, len, 4, out + k);
      continue;
    }
    for (int i = 0; i < 4; ++i) {
      int64_t s = hsum64(acc[i]);
      for (int n = n16; n < len; ++n) s += int32_t{a[n]} * b[n + k + i];
      out[k + i] = s;
    }
  }
  if (k < lags) crossCorr_scalar(a, b + k, len, lags - k, out + k);
}

#else

void mul_avx2(const int16_t* a, const int16_t* b, int16_t* d, int len, int sf) { mul_scalar(a, b, d, len, sf); }
void mulC_avx2(const int16_t* x, int16_t c, int16_t* d, int len, int sf) { mulC_scalar(x, c, d, len, sf); }
void crossCorr_avx2(const int16_t* a, const int16_t* b, int len, int lags, int64_t* out) {
  crossCorr_scalar(a, b, len, lags, out);
}

#endif

}  // namespace voksc::nr
