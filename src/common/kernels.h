// Correlation kernels shared by the exports and by the codec families.
// Each has a portable scalar form and, where it pays, an AVX2 form with
// identical results; `...()` without suffix picks the build's choice.
// Sums of 16x16 products are exact (64-bit): the caller doubles and
// saturates as its operation requires.
#ifndef VOKSC_COMMON_KERNELS_H
#define VOKSC_COMMON_KERNELS_H

#include <cstdint>

namespace voksc::kern {

// sum of a[i] * b[i], i = 0..n-1, exact.
int64_t dot_scalar(const int16_t* a, const int16_t* b, int n);
int64_t dot_avx2(const int16_t* a, const int16_t* b, int n);

// r[k] = sum x[i] * x[i+k], i = 0..n-1-k, for k = 0..lags-1 (k < n), exact.
void autocorr_scalar(const int16_t* x, int n, int64_t* r, int lags);
void autocorr_avx2(const int16_t* x, int n, int64_t* r, int lags);

inline int64_t dot(const int16_t* a, const int16_t* b, int n) {
#if defined(VOKSC_USE_AVX2)
  return dot_avx2(a, b, n);
#else
  return dot_scalar(a, b, n);
#endif
}

inline void autocorr(const int16_t* x, int n, int64_t* r, int lags) {
#if defined(VOKSC_USE_AVX2)
  autocorr_avx2(x, n, r, lags);
#else
  autocorr_scalar(x, n, r, lags);
#endif
}

// Saturation of a 64-bit value to 32 bits.
inline int32_t sat32(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v));
}

// The library's scale-factor rule: sf > 0 divides with rounding to nearest,
// ties to even; sf < 0 multiplies; sf is clamped to -31..31.  Not saturated.
inline int64_t scaleSfs(int64_t r, int sf) {
  if (sf > 31) sf = 31;
  if (sf < -31) sf = -31;
  if (sf > 0) return (r + (int64_t{1} << (sf - 1)) - 1 + ((r >> sf) & 1)) >> sf;
  if (sf < 0) {
    // Shift as multiplication, saturating far outside any 32-bit range.
    const int64_t lim = int64_t{1} << 62 >> (-sf);
    if (r > lim) return INT64_MAX / 2;
    if (r < -lim) return INT64_MIN / 2;
    return r * (int64_t{1} << (-sf));
  }
  return r;
}

}  // namespace voksc::kern

#endif  // VOKSC_COMMON_KERNELS_H
