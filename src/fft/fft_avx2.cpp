// AVX2 forms of the FFT kernels: eight butterflies (or eight bins of the
// split steps) at a time, each lane performing the scalar form's
// operations in its order, so the results are the same bits.  Spans below
// 8 and the tails run the scalar code.
#include "fft.h"

#if defined(VOKSC_X86)
#include <immintrin.h>

namespace voksc::fft {

namespace detail {
void radix2Scalar(float* re, float* im, int m, int h, const float* wr, const float* wi);
void radix4Scalar(float* re, float* im, int m, int q, const float* tw);
void splitFwdRange(const float* zr, const float* zi, const int32_t* rev, const float* wr, const float* wi, int m,
                   int k0, int k1, float* dst);
void splitInvRange(const float* src, const float* wr, const float* wi, int m, int k0, int k1, float* zr, float* zi);
}  // namespace detail

namespace {

using V = __m256;

VOKSC_TARGET_AVX2 inline V ld(const float* p) { return _mm256_loadu_ps(p); }
VOKSC_TARGET_AVX2 inline void st(float* p, V v) { _mm256_storeu_ps(p, v); }
VOKSC_TARGET_AVX2 inline V neg(V v) { return _mm256_xor_ps(v, _mm256_set1_ps(-0.0f)); }
// (ar + j ai)(wr + j wi), real and imaginary parts.
VOKSC_TARGET_AVX2 inline V mulRe(V ar, V ai, V wr, V wi) {
  return _mm256_sub_ps(_mm256_mul_ps(ar, wr), _mm256_mul_ps(ai, wi));
}
VOKSC_TARGET_AVX2 inline V mulIm(V ar, V ai, V wr, V wi) {
  return _mm256_add_ps(_mm256_mul_ps(ar, wi), _mm256_mul_ps(ai, wr));
}
// a0 b0 a1 b1 ... a7 b7 at p.
VOKSC_TARGET_AVX2 inline void storeInterleaved(float* p, V a, V b) {
  const V lo = _mm256_unpacklo_ps(a, b), hi = _mm256_unpackhi_ps(a, b);
  st(p, _mm256_permute2f128_ps(lo, hi, 0x20));
  st(p + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
}

VOKSC_TARGET_AVX2 void radix2Avx2(float* re, float* im, int m, int h, const float* wr, const float* wi) {
  if (h < 8) {
    detail::radix2Scalar(re, im, m, h, wr, wi);
    return;
  }
  for (int base = 0; base < m; base += 2 * h) {
    float* ar = re + base;
    float* ai = im + base;
    for (int k = 0; k < h; k += 8) {
      const V xr = ld(ar + k), xi = ld(ai + k), yr = ld(ar + k + h), yi = ld(ai + k + h);
      const V dr = _mm256_sub_ps(xr, yr), di = _mm256_sub_ps(xi, yi);
      const V cr = ld(wr + k), ci = ld(wi + k);
      st(ar + k, _mm256_add_ps(xr, yr));
      st(ai + k, _mm256_add_ps(xi, yi));
      st(ar + k + h, mulRe(dr, di, cr, ci));
      st(ai + k + h, mulIm(dr, di, cr, ci));
    }
  }
}

// In-lane 4x4 transposes of four registers (each 128-bit half on its own).
VOKSC_TARGET_AVX2 inline void transpose4(V& a, V& b, V& c, V& d) {
  const V t0 = _mm256_unpacklo_ps(a, b), t1 = _mm256_unpackhi_ps(a, b);
  const V t2 = _mm256_unpacklo_ps(c, d), t3 = _mm256_unpackhi_ps(c, d);
  a = _mm256_shuffle_ps(t0, t2, 0x44);
  b = _mm256_shuffle_ps(t0, t2, 0xEE);
  c = _mm256_shuffle_ps(t1, t3, 0x44);
  d = _mm256_shuffle_ps(t1, t3, 0xEE);
}
// Groups g..g+3 in the low halves and g+4..g+7 in the high halves.
VOKSC_TARGET_AVX2 inline V ldGroups(const float* p) { return _mm256_loadu2_m128(p + 16, p); }
VOKSC_TARGET_AVX2 inline void stGroups(float* p, V v) { _mm256_storeu2_m128(p + 16, p, v); }

// The last pass (span 1, no twiddles): eight 4-point groups at a time,
// transposed so that each lane holds one group.
VOKSC_TARGET_AVX2 void lastPassAvx2(float* re, float* im, int m) {
  int base = 0;
  for (; base + 32 <= m; base += 32) {
    float* ar = re + base;
    float* ai = im + base;
    V r0 = ldGroups(ar), r1 = ldGroups(ar + 4), r2 = ldGroups(ar + 8), r3 = ldGroups(ar + 12);
    V i0 = ldGroups(ai), i1 = ldGroups(ai + 4), i2 = ldGroups(ai + 8), i3 = ldGroups(ai + 12);
    transpose4(r0, r1, r2, r3);
    transpose4(i0, i1, i2, i3);
    const V t0r = _mm256_add_ps(r0, r2), t0i = _mm256_add_ps(i0, i2), t1r = _mm256_sub_ps(r0, r2), t1i = _mm256_sub_ps(i0, i2);
    const V t2r = _mm256_add_ps(r1, r3), t2i = _mm256_add_ps(i1, i3), dr = _mm256_sub_ps(r1, r3), di = _mm256_sub_ps(i1, i3);
    r0 = _mm256_add_ps(t0r, t2r);
    i0 = _mm256_add_ps(t0i, t2i);
    r1 = _mm256_sub_ps(t0r, t2r);
    i1 = _mm256_sub_ps(t0i, t2i);
    r2 = _mm256_add_ps(t1r, di);
    i2 = _mm256_sub_ps(t1i, dr);
    r3 = _mm256_sub_ps(t1r, di);
    i3 = _mm256_add_ps(t1i, dr);
    transpose4(r0, r1, r2, r3);
    transpose4(i0, i1, i2, i3);
    stGroups(ar, r0), stGroups(ar + 4, r1), stGroups(ar + 8, r2), stGroups(ar + 12, r3);
    stGroups(ai, i0), stGroups(ai + 4, i1), stGroups(ai + 8, i2), stGroups(ai + 12, i3);
  }
  if (base < m) detail::radix4Scalar(re + base, im + base, m - base, 1, nullptr);
}

// Four values in both 128-bit halves.
VOKSC_TARGET_AVX2 inline V both(const float* p) {
  const __m128 v = _mm_loadu_ps(p);
  return _mm256_set_m128(v, v);
}

// The span-4 pass: one block of 16 per 128-bit half, two blocks at a time.
VOKSC_TARGET_AVX2 void span4PassAvx2(float* re, float* im, int m, const float* tw) {
  const V w1r = both(tw), w1i = both(tw + 4), w2r = both(tw + 8), w2i = both(tw + 12), w3r = both(tw + 16), w3i = both(tw + 20);
  int base = 0;
  for (; base + 32 <= m; base += 32) {
    float* ar = re + base;
    float* ai = im + base;
    const V x0r = ldGroups(ar), x0i = ldGroups(ai), x1r = ldGroups(ar + 4), x1i = ldGroups(ai + 4);
    const V x2r = ldGroups(ar + 8), x2i = ldGroups(ai + 8), x3r = ldGroups(ar + 12), x3i = ldGroups(ai + 12);
    const V t0r = _mm256_add_ps(x0r, x2r), t0i = _mm256_add_ps(x0i, x2i);
    const V t1r = _mm256_sub_ps(x0r, x2r), t1i = _mm256_sub_ps(x0i, x2i);
    const V t2r = _mm256_add_ps(x1r, x3r), t2i = _mm256_add_ps(x1i, x3i);
    const V dr = _mm256_sub_ps(x1r, x3r), di = _mm256_sub_ps(x1i, x3i);
    const V ur = _mm256_sub_ps(t0r, t2r), ui = _mm256_sub_ps(t0i, t2i);
    const V vr = _mm256_add_ps(t1r, di), vi = _mm256_sub_ps(t1i, dr);
    const V sr = _mm256_sub_ps(t1r, di), si = _mm256_add_ps(t1i, dr);
    stGroups(ar, _mm256_add_ps(t0r, t2r));
    stGroups(ai, _mm256_add_ps(t0i, t2i));
    stGroups(ar + 4, mulRe(ur, ui, w2r, w2i));
    stGroups(ai + 4, mulIm(ur, ui, w2r, w2i));
    stGroups(ar + 8, mulRe(vr, vi, w1r, w1i));
    stGroups(ai + 8, mulIm(vr, vi, w1r, w1i));
    stGroups(ar + 12, mulRe(sr, si, w3r, w3i));
    stGroups(ai + 12, mulIm(sr, si, w3r, w3i));
  }
  if (base < m) detail::radix4Scalar(re + base, im + base, m - base, 4, tw);
}

VOKSC_TARGET_AVX2 void radix4Avx2(float* re, float* im, int m, int q, const float* tw) {
  if (q == 1) {
    lastPassAvx2(re, im, m);
    return;
  }
  if (q == 4) {
    span4PassAvx2(re, im, m, tw);
    return;
  }
  if (q < 8) {
    detail::radix4Scalar(re, im, m, q, tw);
    return;
  }
  const float *w1r = tw, *w1i = tw + q, *w2r = tw + 2 * q, *w2i = tw + 3 * q, *w3r = tw + 4 * q, *w3i = tw + 5 * q;
  for (int base = 0; base < m; base += 4 * q) {
    float* ar = re + base;
    float* ai = im + base;
    for (int k = 0; k < q; k += 8) {
      const V x0r = ld(ar + k), x0i = ld(ai + k), x1r = ld(ar + k + q), x1i = ld(ai + k + q);
      const V x2r = ld(ar + k + 2 * q), x2i = ld(ai + k + 2 * q), x3r = ld(ar + k + 3 * q), x3i = ld(ai + k + 3 * q);
      const V t0r = _mm256_add_ps(x0r, x2r), t0i = _mm256_add_ps(x0i, x2i);
      const V t1r = _mm256_sub_ps(x0r, x2r), t1i = _mm256_sub_ps(x0i, x2i);
      const V t2r = _mm256_add_ps(x1r, x3r), t2i = _mm256_add_ps(x1i, x3i);
      const V dr = _mm256_sub_ps(x1r, x3r), di = _mm256_sub_ps(x1i, x3i);
      const V ur = _mm256_sub_ps(t0r, t2r), ui = _mm256_sub_ps(t0i, t2i);
      const V vr = _mm256_add_ps(t1r, di), vi = _mm256_sub_ps(t1i, dr);
      const V sr = _mm256_sub_ps(t1r, di), si = _mm256_add_ps(t1i, dr);
      st(ar + k, _mm256_add_ps(t0r, t2r));
      st(ai + k, _mm256_add_ps(t0i, t2i));
      const V c2r = ld(w2r + k), c2i = ld(w2i + k);
      st(ar + k + q, mulRe(ur, ui, c2r, c2i));
      st(ai + k + q, mulIm(ur, ui, c2r, c2i));
      const V c1r = ld(w1r + k), c1i = ld(w1i + k);
      st(ar + k + 2 * q, mulRe(vr, vi, c1r, c1i));
      st(ai + k + 2 * q, mulIm(vr, vi, c1r, c1i));
      const V c3r = ld(w3r + k), c3i = ld(w3i + k);
      st(ar + k + 3 * q, mulRe(sr, si, c3r, c3i));
      st(ai + k + 3 * q, mulIm(sr, si, c3r, c3i));
    }
  }
}

VOKSC_TARGET_AVX2 void splitFwdAvx2(const float* zr, const float* zi, const int32_t* rev, const float* wr,
                                     const float* wi, int m, float* dst) {
  const V half = _mm256_set1_ps(0.5f);
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  int k = 1;
  for (; k + 8 <= m; k += 8) {
    // rev[k..k+7] and rev[m-k-7..m-k] (the latter reversed to lanes k..k+7)
    const __m256i ia = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rev + k));
    const __m256i ib = _mm256_permutevar8x32_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rev + m - k - 7)), reverse);
    const V ar = _mm256_i32gather_ps(zr, ia, 4), ai = _mm256_i32gather_ps(zi, ia, 4);
    const V br = _mm256_i32gather_ps(zr, ib, 4), bi = neg(_mm256_i32gather_ps(zi, ib, 4));
    const V er = _mm256_mul_ps(half, _mm256_add_ps(ar, br)), ei = _mm256_mul_ps(half, _mm256_add_ps(ai, bi));
    const V dr = _mm256_mul_ps(half, _mm256_sub_ps(ar, br)), di = _mm256_mul_ps(half, _mm256_sub_ps(ai, bi));
    const V cr = ld(wr + k), ci = ld(wi + k), ndr = neg(dr);
    const V xr = _mm256_add_ps(er, _mm256_sub_ps(_mm256_mul_ps(cr, di), _mm256_mul_ps(ci, ndr)));
    const V xi = _mm256_add_ps(ei, _mm256_add_ps(_mm256_mul_ps(cr, ndr), _mm256_mul_ps(ci, di)));
    storeInterleaved(dst + 2 * k, xr, xi);
  }
  detail::splitFwdRange(zr, zi, rev, wr, wi, m, k, m, dst);
}

VOKSC_TARGET_AVX2 void splitInvAvx2(const float* src, const float* wr, const float* wi, int m, float* zr,
                                     float* zi) {
  detail::splitInvRange(src, wr, wi, m, 0, 1, zr, zi);
  const __m256i step = _mm256_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14);
  int k = 1;
  for (; k + 8 <= m; k += 8) {
    const __m256i ia = _mm256_add_epi32(_mm256_set1_epi32(2 * k), step);
    const __m256i ib = _mm256_sub_epi32(_mm256_set1_epi32(2 * (m - k)), step);
    const V ar = _mm256_i32gather_ps(src, ia, 4), ai = _mm256_i32gather_ps(src + 1, ia, 4);
    const V br = _mm256_i32gather_ps(src, ib, 4), bi = neg(_mm256_i32gather_ps(src + 1, ib, 4));
    const V er = _mm256_add_ps(ar, br), ei = _mm256_add_ps(ai, bi);
    const V dr = _mm256_sub_ps(ar, br), di = _mm256_sub_ps(ai, bi);
    const V cr = ld(wr + k), ci = ld(wi + k);
    const V orr = _mm256_add_ps(_mm256_mul_ps(dr, cr), _mm256_mul_ps(di, ci));
    const V oi = _mm256_sub_ps(_mm256_mul_ps(di, cr), _mm256_mul_ps(dr, ci));
    st(zr + k, _mm256_sub_ps(er, oi));
    st(zi + k, _mm256_add_ps(ei, orr));
  }
  detail::splitInvRange(src, wr, wi, m, k, m, zr, zi);
}

VOKSC_TARGET_AVX2 void unpackInvAvx2(const float* zr, const float* zi, const int32_t* rev, int m, float* dst,
                                      int scale, float f) {
  const V vf = _mm256_set1_ps(f);
  int k = 0;
  for (; k + 8 <= m; k += 8) {
    const __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rev + k));
    V a = _mm256_i32gather_ps(zr, idx, 4), b = _mm256_i32gather_ps(zi, idx, 4);
    if (scale) {
      a = _mm256_mul_ps(a, vf);
      b = _mm256_mul_ps(b, vf);
    }
    storeInterleaved(dst + 2 * k, a, b);
  }
  for (; k < m; ++k) {
    const float a = zr[rev[k]], b = zi[rev[k]];
    dst[2 * k] = scale ? a * f : a;
    dst[2 * k + 1] = scale ? b * f : b;
  }
}

VOKSC_TARGET_AVX2 void scaleAvx2(float* x, int n, float f) {
  const V vf = _mm256_set1_ps(f);
  int i = 0;
  for (; i + 8 <= n; i += 8) st(x + i, _mm256_mul_ps(ld(x + i), vf));
  for (; i < n; ++i) x[i] *= f;
}

const Kernels kAvx2{radix2Avx2, radix4Avx2, splitFwdAvx2, splitInvAvx2, unpackInvAvx2, scaleAvx2};

}  // namespace

const Kernels& kernelsAvx2() { return kAvx2; }

}  // namespace voksc::fft

#endif  // VOKSC_X86
