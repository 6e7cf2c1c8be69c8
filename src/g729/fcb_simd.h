// AVX2 helpers of the codebook searches (each carries its own target
// attribute; the library is not built with -mavx2).  Compilers for other
// processors build no vector forms: there the searches' AVX2 entry points
// are never chosen (core/cpu.h), and the vector helpers that shared code
// names are stubs that trap.
#ifndef VOKSC_G729_FCB_SIMD_H
#define VOKSC_G729_FCB_SIMD_H

#include "core/cpu.h"
#if defined(VOKSC_X86)
#include <immintrin.h>
#endif

#include <cstdint>

namespace voksc::g729::fcb::simd {

// Eight 16-bit words widened to 32-bit lanes; lanes saturated to 16 bits.
#if defined(VOKSC_X86)
__attribute__((target("avx2"))) inline __m256i load8(const int16_t* p) {
  return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
#endif
#if defined(VOKSC_X86)
__attribute__((target("avx2"))) inline __m256i sat16x8(__m256i v) {
  return _mm256_max_epi32(_mm256_min_epi32(v, _mm256_set1_epi32(32767)), _mm256_set1_epi32(-32768));
}
#endif

// The reference mult() on sixteen lanes: (a b) >> 15, -32768 * -32768
// saturating to 32767.
#if defined(VOKSC_X86)
__attribute__((target("avx2"))) inline __m256i mult16(__m256i a, __m256i b) {
  const __m256i hi = _mm256_mulhi_epi16(a, b), lo = _mm256_mullo_epi16(a, b);
  const __m256i r = _mm256_or_si256(_mm256_slli_epi16(hi, 1), _mm256_srli_epi16(lo, 15));
  const __m256i m = _mm256_set1_epi16(-32768);
  const __m256i both = _mm256_and_si256(_mm256_cmpeq_epi16(a, m), _mm256_cmpeq_epi16(b, m));
  return _mm256_blendv_epi8(r, _mm256_set1_epi16(32767), both);
}
#endif

// Signs of the 40 target values (0x7FFF where dn >= 0, 0x8000 below), their
// inverses, and dn replaced by its magnitude as negate() gives it: with m
// all ones for a negative value, (dn ^ m) - m is -dn, the saturating
// subtraction taking -(-32768) to 32767.
#if defined(VOKSC_X86)
__attribute__((target("avx2"))) inline void targetSigns(int16_t* dn, int16_t* sign, int16_t* signInv) {
  for (int i = 0; i < 40; i += 8) {
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dn + i));
    const __m128i neg = _mm_srai_epi16(d, 15);
    const __m128i s = _mm_xor_si128(_mm_set1_epi16(0x7FFF), neg);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sign + i), s);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(signInv + i), _mm_xor_si128(s, _mm_set1_epi16(-1)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dn + i), _mm_subs_epi16(_mm_xor_si128(d, neg), neg));
  }
}
#else
inline void targetSigns(int16_t* dn, int16_t* sign, int16_t* signInv) { __builtin_trap(); }
#endif

// Pulse signs (0x7FFF or 0x8000 per position) folded into a 64-value cross
// block whose rows follow track ta and columns track tb: each value becomes
// mult(value, mult(sign_row, sign_col)) (product = true) or mult(value,
// sign_col or its inverse for a negative row) (product = false).
#if defined(VOKSC_X86)
__attribute__((target("avx2"))) inline void foldSigns(int16_t* block, int ta, int tb, const int16_t* sign,
                                                      bool product) {
  alignas(16) int16_t col[8];
  for (int b = 0; b < 8; ++b) col[b] = sign[5 * b + tb];
  const __m256i c = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(col)));
  for (int a = 0; a < 8; a += 2) {
    const __m256i rs = _mm256_setr_m128i(_mm_set1_epi16(sign[5 * a + ta]), _mm_set1_epi16(sign[5 * a + 5 + ta]));
    const __m256i s = product ? mult16(rs, c) : _mm256_xor_si256(c, _mm256_srai_epi16(rs, 15));
    __m256i* p = reinterpret_cast<__m256i*>(block + 8 * a);
    _mm256_storeu_si256(p, mult16(_mm256_loadu_si256(p), s));
  }
}
#else
void foldSigns(int16_t* block, int ta, int tb, const int16_t* sign, bool product) { __builtin_trap(); }
#endif

}  // namespace voksc::g729::fcb::simd

#endif  // VOKSC_G729_FCB_SIMD_H
