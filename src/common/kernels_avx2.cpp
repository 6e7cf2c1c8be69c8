// AVX2 forms of the correlation kernels.  Each function carries its own
// target attribute (the library is not built with -mavx2) and gives the
// same results as its scalar form in kernels.cpp for every input.
//
// Products of 16-bit pairs are summed by madd into 32-bit lanes.  Two
// accumulation modes keep every sum exact:
//  - narrow: the lanes keep accumulating in 32 bits.  Used only when the
//    energies of the two operands bound every partial sum (Cauchy-Schwarz:
//    |sum over any subset of a[i] b[j]| <= sqrt(Ea Eb) < 2^31);
//  - wide: each block's lanes are widened and added in 64 bits.  A madd
//    lane wraps only for two -32768 * -32768 products (2^31 reads as
//    0x80000000, a value no other pair produces); such lanes are counted
//    and 2^32 added back per count.
// Lengths that are not multiples of 16 end with one block that overlaps
// the previous one, with the already-counted lanes of `a` masked to zero,
// so no load leaves the caller's ranges.
#include "kernels.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define VOKSC_AVX2 __attribute__((target("avx2")))

namespace voksc::kern {

namespace {

// Lane j of the mask loaded at kTailMask + t is all ones when j >= 16 - t.
alignas(32) const int16_t kTailMask[32] = {0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
                                           -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

VOKSC_AVX2 inline __m256i load(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
VOKSC_AVX2 inline __m256i tailMask(int t) { return load(kTailMask + t); }

// The 16 words of p[-15..0], p[0] first.
VOKSC_AVX2 inline __m256i loadReversed(const int16_t* p) {
  const __m256i rev = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,  //
                                       14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
  return _mm256_permute4x64_epi64(_mm256_shuffle_epi8(load(p - 15), rev), 0x4E);
}

VOKSC_AVX2 inline int64_t hsum64(__m256i v) {
  alignas(32) int64_t t[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(t), v);
  return t[0] + t[1] + t[2] + t[3];
}
VOKSC_AVX2 inline int64_t hsum32(__m256i v) {
  alignas(32) int32_t t[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(t), v);
  int64_t s = 0;
  for (int32_t e : t) s += e;
  return s;
}

// Exact sum of x[i]^2: madd lanes of squares lie in 0..2^31, read unsigned.
VOKSC_AVX2 int64_t energy(const int16_t* x, int n) {
  if (n < 16) return dot_scalar(x, x, n);
  const __m256i zero = _mm256_setzero_si256();
  __m256i acc = zero;
  auto add = [&](__m256i v) VOKSC_AVX2 {
    const __m256i p = _mm256_madd_epi16(v, v);
    acc = _mm256_add_epi64(acc, _mm256_unpacklo_epi32(p, zero));
    acc = _mm256_add_epi64(acc, _mm256_unpackhi_epi32(p, zero));
  };
  int i = 0;
  for (; i + 16 <= n; i += 16) add(load(x + i));
  if (i < n) add(_mm256_and_si256(load(x + n - 16), tailMask(n - i)));
  return hsum64(acc);
}

// True when every partial sum of products of the two operands fits 31 bits
// plus sign: Ea * Eb below (2^31 - 1)^2 with a safety margin for the
// floating-point product.
inline bool narrowSafe(int64_t ea, int64_t eb) {
  return static_cast<double>(ea) * static_cast<double>(eb) < 4.6e18;
}

// Exact dot product, wide accumulation.  kShift: operands shifted right by
// sa, sb first.  kRev: element i of `a` pairs with b[-i] (b points at the
// partner of a[0]).
template <bool kShift, bool kRev>
VOKSC_AVX2 int64_t dotWide(const int16_t* a, const int16_t* b, int n, int sa, int sb) {
  if (n < 16) {
    int64_t s = 0;
    for (int i = 0; i < n; ++i) {
      const int32_t bv = kRev ? b[-i] : b[i];
      s += kShift ? (int32_t{a[i]} >> sa) * (bv >> sb) : int32_t{a[i]} * bv;
    }
    return s;
  }
  const __m128i csa = _mm_cvtsi32_si128(sa), csb = _mm_cvtsi32_si128(sb);
  const __m256i minWord = _mm256_set1_epi32(INT32_MIN);
  __m256i acc = _mm256_setzero_si256(), wraps = _mm256_setzero_si256();
  auto step = [&](__m256i va, __m256i vb) VOKSC_AVX2 {
    if (kShift) {
      va = _mm256_sra_epi16(va, csa);
      vb = _mm256_sra_epi16(vb, csb);
    }
    const __m256i p = _mm256_madd_epi16(va, vb);
    wraps = _mm256_sub_epi32(wraps, _mm256_cmpeq_epi32(p, minWord));
    acc = _mm256_add_epi64(acc, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(p)));
    acc = _mm256_add_epi64(acc, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(p, 1)));
  };
  auto bAt = [&](int i) VOKSC_AVX2 { return kRev ? loadReversed(b - i) : load(b + i); };
  int i = 0;
  for (; i + 16 <= n; i += 16) step(load(a + i), bAt(i));
  if (i < n) {
    // The mask is applied after the shift: masked lanes must be zero.
    __m256i va = load(a + n - 16);
    if (kShift) va = _mm256_sra_epi16(va, csa);
    va = _mm256_and_si256(va, tailMask(n - i));
    const __m256i p = _mm256_madd_epi16(va, kShift ? _mm256_sra_epi16(bAt(n - 16), csb) : bAt(n - 16));
    wraps = _mm256_sub_epi32(wraps, _mm256_cmpeq_epi32(p, minWord));
    acc = _mm256_add_epi64(acc, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(p)));
    acc = _mm256_add_epi64(acc, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(p, 1)));
  }
  return hsum64(acc) + hsum32(wraps) * (int64_t{1} << 32);
}

// Four 8-lane 32-bit accumulators reduced to their four totals (exact when
// the narrow bound holds), stored as 64-bit values.
VOKSC_AVX2 inline void reduce4(__m256i s0, __m256i s1, __m256i s2, __m256i s3, int64_t* out) {
  const __m256i s = _mm256_hadd_epi32(_mm256_hadd_epi32(s0, s1), _mm256_hadd_epi32(s2, s3));
  const __m128i r = _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_cvtepi32_epi64(r));
}

// out[j] = sum a[i] b[i + j], i < n, j = 0..3; narrow accumulation, n >= 16.
VOKSC_AVX2 void corr4Narrow(const int16_t* a, const int16_t* b, int n, int64_t* out) {
  __m256i s0 = _mm256_setzero_si256(), s1 = s0, s2 = s0, s3 = s0;
  auto step = [&](__m256i va, const int16_t* pb) VOKSC_AVX2 {
    s0 = _mm256_add_epi32(s0, _mm256_madd_epi16(va, load(pb)));
    s1 = _mm256_add_epi32(s1, _mm256_madd_epi16(va, load(pb + 1)));
    s2 = _mm256_add_epi32(s2, _mm256_madd_epi16(va, load(pb + 2)));
    s3 = _mm256_add_epi32(s3, _mm256_madd_epi16(va, load(pb + 3)));
  };
  int i = 0;
  for (; i + 16 <= n; i += 16) step(load(a + i), b + i);
  if (i < n) step(_mm256_and_si256(load(a + n - 16), tailMask(n - i)), b + n - 16);
  reduce4(s0, s1, s2, s3, out);
}

// out[j] = sum a[i] b[n + j - i], i < n + 1 (the shortest of the four
// convolution outputs n..n+3); narrow accumulation, n >= 15.
VOKSC_AVX2 void conv4Narrow(const int16_t* a, const int16_t* b, int n, int64_t* out) {
  __m256i s0 = _mm256_setzero_si256(), s1 = s0, s2 = s0, s3 = s0;
  auto step = [&](__m256i va, const int16_t* pb) VOKSC_AVX2 {
    s0 = _mm256_add_epi32(s0, _mm256_madd_epi16(va, loadReversed(pb)));
    s1 = _mm256_add_epi32(s1, _mm256_madd_epi16(va, loadReversed(pb + 1)));
    s2 = _mm256_add_epi32(s2, _mm256_madd_epi16(va, loadReversed(pb + 2)));
    s3 = _mm256_add_epi32(s3, _mm256_madd_epi16(va, loadReversed(pb + 3)));
  };
  const int m = n + 1;
  int i = 0;
  for (; i + 16 <= m; i += 16) step(load(a + i), b + n - i);
  if (i < m) step(_mm256_and_si256(load(a + m - 16), tailMask(m - i)), b + n - (m - 16));
  reduce4(s0, s1, s2, s3, out);
}

// Largest magnitude of x[0..n-1] (-32768 counts as 32768).
VOKSC_AVX2 int maxAbs(const int16_t* x, int n) {
  int m = 0;
  int i = 0;
  if (n >= 16) {
    __m256i v = _mm256_setzero_si256();
    for (; i + 16 <= n; i += 16) v = _mm256_max_epu16(v, _mm256_abs_epi16(load(x + i)));
    alignas(32) uint16_t t[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(t), v);
    for (uint16_t e : t) m = e > m ? e : m;
  }
  for (; i < n; ++i) {
    const int e = x[i] < 0 ? -x[i] : x[i];
    m = e > m ? e : m;
  }
  return m;
}

}  // namespace

VOKSC_AVX2 int64_t dot_avx2(const int16_t* a, const int16_t* b, int n) { return dotWide<false, false>(a, b, n, 0, 0); }

VOKSC_AVX2 int64_t dotShifted_avx2(const int16_t* a, const int16_t* b, int n, int sa, int sb) {
  return dotWide<true, false>(a, b, n, sa, sb);
}

VOKSC_AVX2 void xcorr_avx2(const int16_t* a, const int16_t* b, int n, int count, int64_t* out) {
  int k = 0;
  if (n >= 16 && count >= 4 && narrowSafe(energy(a, n), energy(b, n + count - 1)))
    for (; k + 4 <= count; k += 4) corr4Narrow(a, b + k, n, out + k);
  for (; k < count; ++k) out[k] = dotWide<false, false>(a, b + k, n, 0, 0);
}

namespace {

// Frames up to this length are copied into zero-padded stack buffers, so
// that every lag or output runs over whole 16-word blocks: the products
// past the frame meet zeros.
constexpr int kPadMax = 512;
constexpr int kPad = 48;

inline int roundUp16(int n) { return (n + 15) & ~15; }

inline void copyPadded(const int16_t* src, int n, int16_t* dst, int pad) {
  for (int i = 0; i < n; ++i) dst[i] = src[i];
  for (int i = n; i < n + pad; ++i) dst[i] = 0;
}

}  // namespace

VOKSC_AVX2 void xcorrTrunc_avx2(const int16_t* a, const int16_t* b, int len, int k0, int count, int64_t* out) {
  // Lags at or beyond the frame correlate nothing.
  int inRange = count;
  if (k0 >= len) inRange = 0;
  else if (count > len - k0) inRange = len - k0;
  for (int j = inRange; j < count; ++j) out[j] = 0;
  int j = 0;
  if (inRange >= 4 && len <= kPadMax) {
    alignas(32) int16_t ap[kPadMax + kPad], bp[kPadMax + kPad];
    copyPadded(a, len, ap, kPad);
    copyPadded(b, len, bp, kPad);
    const int64_t ea = energy(ap, len);
    if (narrowSafe(ea, a == b ? ea : energy(bp, len))) {
      // Four lags over the blocks of the longest of them.
      for (; j < inRange; j += 4) {
        const int k = k0 + j;
        if (j + 4 <= inRange) {
          corr4Narrow(ap, bp + k, roundUp16(len - k), out + j);
        } else {
          int64_t t[4];
          corr4Narrow(ap, bp + k, roundUp16(len - k), t);
          for (int q = 0; j + q < inRange; ++q) out[j + q] = t[q];
        }
      }
      return;
    }
  } else if (inRange >= 4) {
    const int64_t ea = energy(a, len);
    if (narrowSafe(ea, a == b ? ea : energy(b, len))) {
      // Four lags over the length of the shortest of them, then the few
      // products the longer ones still miss.
      for (; j + 4 <= inRange; j += 4) {
        const int k = k0 + j, m = len - k - 3;
        if (m < 16) break;
        corr4Narrow(a, b + k, m, out + j);
        for (int q = 0; q < 3; ++q)
          for (int i = m; i < len - k - q; ++i) out[j + q] += int32_t{a[i]} * b[i + k + q];
      }
    }
  }
  for (; j < inRange; ++j) out[j] = dotWide<false, false>(a, b + k0 + j, len - k0 - j, 0, 0);
}

VOKSC_AVX2 void convPartial_avx2(const int16_t* a, const int16_t* b, int n0, int count, int64_t* out) {
  int j = 0;
  const int top = n0 + count;  // elements a[0..top-1], b[0..top-1] take part
  if (count >= 4 && top <= kPadMax) {
    // c holds b reversed after kGuard zeros: output n is the correlation of
    // a with c from c[kGuard + top - 1 - n] on, the terms past n meeting the
    // zeros after c.
    constexpr int kGuard = 16;
    alignas(32) int16_t ap[kPadMax + kPad], cp[kGuard + kPadMax + kPad];
    copyPadded(a, top, ap, kPad);
    for (int i = 0; i < kGuard; ++i) cp[i] = 0;
    for (int i = 0; i < top; ++i) cp[kGuard + i] = b[top - 1 - i];
    for (int i = top; i < top + kPad; ++i) cp[kGuard + i] = 0;
    if (narrowSafe(energy(ap, top), energy(cp + kGuard, top))) {
      for (; j < count; j += 4) {
        // Outputs n..n+3 are lags 3..0 of the correlation from c + base.
        const int n = n0 + j;
        int64_t t[4];
        corr4Narrow(ap, cp + kGuard + top - 4 - n, roundUp16(n + 4), t);
        for (int q = 0; q < 4 && j + q < count; ++q) out[j + q] = t[3 - q];
      }
      return;
    }
  } else if (count >= 4 && narrowSafe(energy(a, top), energy(b, top))) {
    for (; j + 4 <= count; j += 4) {
      const int n = n0 + j;
      if (n < 15) {
        for (int q = 0; q < 4; ++q) out[j + q] = dotWide<false, true>(a, b + n + q, n + q + 1, 0, 0);
        continue;
      }
      conv4Narrow(a, b, n, out + j);
      for (int q = 1; q < 4; ++q)
        for (int i = n + 1; i <= n + q; ++i) out[j + q] += int32_t{a[i]} * b[n + q - i];
    }
  }
  for (; j < count; ++j) {
    const int n = n0 + j;
    out[j] = dotWide<false, true>(a, b + n, n + 1, 0, 0);
  }
}

VOKSC_AVX2 void residual_avx2(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int scale) {
  int n0 = 0;
  if (len >= 16 && scale >= 0 && scale <= 15) {
    int64_t sumAbs = 0;
    for (int i = 0; i <= order; ++i) sumAbs += a[i] < 0 ? -int32_t{a[i]} : a[i];
    // Room for the rounding term as well: every lane stays within 32 bits.
    if (sumAbs * maxAbs(x - order, len + order) <= 0x7FFF0000) {
      const __m128i csf = _mm_cvtsi32_si128(scale);
      const __m256i bias = _mm256_set1_epi32(scale > 0 ? (1 << (scale - 1)) - 1 : 0);
      const __m256i one = _mm256_set1_epi32(scale > 0 ? 1 : 0);
      auto finish = [&](__m256i v) VOKSC_AVX2 {
        // Ties to even: v + 2^(sf-1) - 1 + bit sf of v, shifted right.
        const __m256i odd = _mm256_and_si256(_mm256_sra_epi32(v, csf), one);
        return _mm256_sra_epi32(_mm256_add_epi32(_mm256_add_epi32(v, bias), odd), csf);
      };
      for (; n0 + 16 <= len; n0 += 16) {
        // Taps in pairs: interleaved samples x[n - i], x[n - i - 1] against
        // (a[i], a[i+1]); lanes hold outputs 0-3, 8-11 (lo) and 4-7, 12-15 (hi).
        __m256i lo = _mm256_setzero_si256(), hi = lo;
        int i = 0;
        for (; i + 1 <= order; i += 2) {
          const __m256i x0 = load(x + n0 - i), x1 = load(x + n0 - i - 1);
          const __m256i c = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(a[i]) |
                                                                   (static_cast<uint32_t>(static_cast<uint16_t>(a[i + 1])) << 16)));
          lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(x0, x1), c));
          hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(x0, x1), c));
        }
        if (i == order) {  // odd number of taps: the last one alone
          const __m256i x0 = load(x + n0 - i);
          const __m256i c = _mm256_set1_epi32(static_cast<uint16_t>(a[i]));
          lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(x0, x0), c));
          hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(x0, x0), c));
        }
        // packs saturates to 16 bits and restores the natural order.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(y + n0), _mm256_packs_epi32(finish(lo), finish(hi)));
      }
    }
  }
  for (; n0 < len; ++n0) y[n0] = sat16(scaleSfs(dotWide<false, true>(a, x + n0, order + 1, 0, 0), scale));
}

}  // namespace voksc::kern

#else  // not x86: the scalar forms serve

namespace voksc::kern {
int64_t dot_avx2(const int16_t* a, const int16_t* b, int n) { return dot_scalar(a, b, n); }
int64_t dotShifted_avx2(const int16_t* a, const int16_t* b, int n, int sa, int sb) {
  return dotShifted_scalar(a, b, n, sa, sb);
}
void xcorr_avx2(const int16_t* a, const int16_t* b, int n, int count, int64_t* out) {
  xcorr_scalar(a, b, n, count, out);
}
void xcorrTrunc_avx2(const int16_t* a, const int16_t* b, int len, int k0, int count, int64_t* out) {
  xcorrTrunc_scalar(a, b, len, k0, count, out);
}
void convPartial_avx2(const int16_t* a, const int16_t* b, int n0, int count, int64_t* out) {
  convPartial_scalar(a, b, n0, count, out);
}
void residual_avx2(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int scale) {
  residual_scalar(a, order, x, y, len, scale);
}
}  // namespace voksc::kern

#endif
