// Correlation kernels shared by the exports and by the codec families.
//
// Every kernel has a portable scalar form and an AVX2 form with identical
// results; the form without suffix is the one of the level chosen at run
// time (core/cpu.h).  Sums of 16x16 products are exact (64-bit): the
// caller doubles and saturates as its operation requires.
//
// The AVX2 forms sum products in 32-bit lanes whenever a Cauchy-Schwarz
// bound on the operands' energies shows that no lane can leave 32 bits, and
// otherwise widen every block to 64-bit lanes; both give the exact sums.
#ifndef VOKSC_COMMON_KERNELS_H
#define VOKSC_COMMON_KERNELS_H

#include <cstdint>

namespace voksc::kern {

// Sum of a[i] * b[i], i = 0..n-1.
int64_t dot_scalar(const int16_t* a, const int16_t* b, int n);
int64_t dot_avx2(const int16_t* a, const int16_t* b, int n);

// Sum of (a[i] >> sa) * (b[i] >> sb), i = 0..n-1; shifts 0..15.
int64_t dotShifted_scalar(const int16_t* a, const int16_t* b, int n, int sa, int sb);
int64_t dotShifted_avx2(const int16_t* a, const int16_t* b, int n, int sa, int sb);

// Correlation at a run of lags over a fixed length:
// out[k] = sum a[i] * b[i + k], i = 0..n-1, k = 0..count-1.
// Reads a[0..n-1] and b[0..n+count-2].
void xcorr_scalar(const int16_t* a, const int16_t* b, int n, int count, int64_t* out);
void xcorr_avx2(const int16_t* a, const int16_t* b, int n, int count, int64_t* out);

// Truncated correlation over a frame of len samples, lags k = k0..k0+count-1:
// out[k - k0] = sum a[i] * b[i + k], i = 0..len-1-k (0 for k >= len).
// Reads a[0..len-1] and b[0..len-1] only.  a == b is the autocorrelation.
void xcorrTrunc_scalar(const int16_t* a, const int16_t* b, int len, int k0, int count, int64_t* out);
void xcorrTrunc_avx2(const int16_t* a, const int16_t* b, int len, int k0, int count, int64_t* out);

// Partial convolution, outputs n = n0..n0+count-1:
// out[n - n0] = sum a[i] * b[n - i], i = 0..n.  Reads a[0..n], b[0..n].
void convPartial_scalar(const int16_t* a, const int16_t* b, int n0, int count, int64_t* out);
void convPartial_avx2(const int16_t* a, const int16_t* b, int n0, int count, int64_t* out);

// All-zero filter: y[n] = sat16(scaleSfs(sum a[i] * x[n - i], scale)),
// i = 0..order, n = 0..len-1; x holds order samples before x[0].
void residual_scalar(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int scale);
void residual_avx2(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int scale);

// Largest correlation and its lag, the searches of the lag-maximum exports:
//  past:   c(t) = sat32(2 * sum x[n] x[n - t]), t from lagMax down to
//          lagMin; an equal value moves to the smaller lag.  Start: 0x80000000
//          at lagMax.
//  future: s = sum x[n] x[n + t], t from lagMin up; c = 0x7FFFFFFF above
//          0x3FFFFFFF, 0x80000000 below -0x40000000, else 2 s; strictly
//          greater replaces.  Start: 0x80000000 at lag 0.
//  cross:  c(t) = sat32(2 * sum x[n] y[n + t]), t = 0..lagMax upward,
//          strictly greater replaces.  Start: 0 at lagMax.
struct LagPick {
  int32_t value;
  int lag;
};
LagPick lagMaxPast_scalar(const int16_t* x, int len, int lagMin, int lagMax);
LagPick lagMaxPast_avx2(const int16_t* x, int len, int lagMin, int lagMax);
LagPick lagMaxFuture_scalar(const int16_t* x, int len, int lagMin, int lagMax);
LagPick lagMaxFuture_avx2(const int16_t* x, int len, int lagMin, int lagMax);
LagPick lagMaxCross_scalar(const int16_t* x, const int16_t* y, int len, int lagMax);
LagPick lagMaxCross_avx2(const int16_t* x, const int16_t* y, int len, int lagMax);

// The forms of the active level (core/cpu.h), chosen once per process.
struct Table {
  int64_t (*dot)(const int16_t*, const int16_t*, int);
  int64_t (*dotShifted)(const int16_t*, const int16_t*, int, int, int);
  void (*xcorr)(const int16_t*, const int16_t*, int, int, int64_t*);
  void (*xcorrTrunc)(const int16_t*, const int16_t*, int, int, int, int64_t*);
  void (*convPartial)(const int16_t*, const int16_t*, int, int, int64_t*);
  void (*residual)(const int16_t*, int, const int16_t*, int16_t*, int, int);
  LagPick (*lagMaxPast)(const int16_t*, int, int, int);
  LagPick (*lagMaxFuture)(const int16_t*, int, int, int);
  LagPick (*lagMaxCross)(const int16_t*, const int16_t*, int, int);
};
Table activeTable();
inline const Table& table() {
  static const Table t = activeTable();
  return t;
}

inline int64_t dot(const int16_t* a, const int16_t* b, int n) { return table().dot(a, b, n); }
inline int64_t dotShifted(const int16_t* a, const int16_t* b, int n, int sa, int sb) {
  return table().dotShifted(a, b, n, sa, sb);
}
inline void xcorr(const int16_t* a, const int16_t* b, int n, int count, int64_t* out) {
  table().xcorr(a, b, n, count, out);
}
inline void xcorrTrunc(const int16_t* a, const int16_t* b, int len, int k0, int count, int64_t* out) {
  table().xcorrTrunc(a, b, len, k0, count, out);
}
// r[k] = sum x[i] * x[i + k], i = 0..n-1-k, for k = 0..lags-1 (0 for k >= n).
inline void autocorr(const int16_t* x, int n, int64_t* r, int lags) { xcorrTrunc(x, x, n, 0, lags, r); }
inline void autocorr_scalar(const int16_t* x, int n, int64_t* r, int lags) { xcorrTrunc_scalar(x, x, n, 0, lags, r); }
inline void autocorr_avx2(const int16_t* x, int n, int64_t* r, int lags) { xcorrTrunc_avx2(x, x, n, 0, lags, r); }
inline void convPartial(const int16_t* a, const int16_t* b, int n0, int count, int64_t* out) {
  table().convPartial(a, b, n0, count, out);
}
inline void residual(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int scale) {
  table().residual(a, order, x, y, len, scale);
}
inline LagPick lagMaxPast(const int16_t* x, int len, int lagMin, int lagMax) {
  return table().lagMaxPast(x, len, lagMin, lagMax);
}
inline LagPick lagMaxFuture(const int16_t* x, int len, int lagMin, int lagMax) {
  return table().lagMaxFuture(x, len, lagMin, lagMax);
}
inline LagPick lagMaxCross(const int16_t* x, const int16_t* y, int len, int lagMax) {
  return table().lagMaxCross(x, y, len, lagMax);
}

// Saturation of a 64-bit value to 32 and to 16 bits.
inline int32_t sat32(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v));
}
inline int16_t sat16(int64_t v) {
  return v > INT16_MAX ? INT16_MAX : (v < INT16_MIN ? INT16_MIN : static_cast<int16_t>(v));
}

// The library's scale-factor rule: sf > 0 divides with rounding to nearest,
// ties to even; sf < 0 multiplies; sf is clamped to -31..31.  Not saturated
// (a product far outside 32 bits is held at +-2^61, which any saturation
// that follows maps correctly).
inline int64_t scaleSfs(int64_t r, int sf) {
  if (sf > 31) sf = 31;
  if (sf < -31) sf = -31;
  if (sf > 0) return (r + (int64_t{1} << (sf - 1)) - 1 + ((r >> sf) & 1)) >> sf;
  if (sf < 0) {
    const int64_t lim = int64_t{1} << 61 >> (-sf);
    if (r > lim) return int64_t{1} << 61;
    if (r < -lim) return -(int64_t{1} << 61);
    return r * (int64_t{1} << (-sf));
  }
  return r;
}

}  // namespace voksc::kern

#endif  // VOKSC_COMMON_KERNELS_H
