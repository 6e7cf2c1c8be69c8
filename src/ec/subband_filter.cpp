// Subband adaptive filters: the complex FIR over the reference history of
// each subband and its normalised LMS and affine-projection coefficient
// updates, in float and in fixed point.
#include <cmath>

#include "core/status.h"
#include "ec_internal.h"
#include "voksc.h"

namespace voksc::ec {
namespace {

bool badCount(int len) { return len < 1 || len > kMaxSubbands; }
constexpr int kBlock = 128;  // subbands per block of the float filter and update
bool badSegments(int n) { return n < 1 || n > kMaxSegments; }

template <class T>
bool anyEntryNull(const T* const* v, int n) {
  for (int i = 0; i < n; ++i)
    if (v[i] == nullptr) return true;
  return false;
}

// Double to 32 bits: clamped, then rounded to nearest (ties to even).
int32_t clampRound32(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(std::nearbyint(v));
}

double clamp63(double v) {
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  return v > kLimit ? kLimit : v < -kLimit ? -kLimit : v;
}

// Sum over segments of history * coef for one subband, in double with each
// partial sum clamped to +-2^63.
void fixedDot(const Vok32sc* const* h, const Vok32sc* const* c, int segs, int i, double* re, double* im) {
  double sr = 0, si = 0;
  for (int s = 0; s < segs; ++s) {
    const double hr = h[s][i].re, hi = h[s][i].im, cr = c[s][i].re, ci = c[s][i].im;
    sr = clamp63(sr + (hr * cr - hi * ci));
    si = clamp63(si + (hr * ci + hi * cr));
  }
  *re = sr;
  *im = si;
}

// floor((p + r) / 2^k) with r = 2^(k-1) for k >= 2 and 0 for k = 0, 1;
// p * 2^-k saturated to 64 bits for k < 0.
int64_t scaleIncrement(int64_t p, int k) {
  if (k < 0) {
    const int up = -k;
    if (p == 0) return 0;
    if (up >= 63) return p > 0 ? INT64_MAX : INT64_MIN;
    const int64_t lim = INT64_MAX >> up;
    if (p > lim) return INT64_MAX;
    if (p < -lim - 1) return INT64_MIN;
    return static_cast<int64_t>(static_cast<uint64_t>(p) << up);
  }
  if (k <= 1) return p >> k;
  if (k >= 64) return 0;  // |p| < 2^63 <= 2^(k-1)
  if (k == 63) return p >= (int64_t{1} << 62) ? 1 : (p < -(int64_t{1} << 62) ? -1 : 0);
  const int64_t q = p >> k;                                     // floor
  const int64_t rem = p - static_cast<int64_t>(static_cast<uint64_t>(q) << k);  // 0 .. 2^k - 1
  return q + ((rem + (int64_t{1} << (k - 1))) >> k);
}

int32_t negSat(int32_t v) { return v == INT32_MIN ? INT32_MAX : -v; }

// u * conj(x) as 64-bit integers (u's parts fit 32 bits).
void mulConj(int64_t ur, int64_t ui, const Vok32sc& x, int64_t* pr, int64_t* pi) {
  const int64_t xr = x.re, nxi = negSat(x.im);
  *pr = ur * xr - ui * nxi;
  *pi = ur * nxi + ui * xr;
}

int32_t addInc(int32_t c, int64_t inc) {
  constexpr int64_t kBig = int64_t{1} << 40;  // beyond it the sum saturates either way
  inc = inc > kBig ? kBig : inc < -kBig ? -kBig : inc;
  return sat32(c + inc);
}

}  // namespace
}  // namespace voksc::ec

using namespace voksc;
using namespace voksc::ec;

VOKSC_EXPORT VokResult voksFIRSubband_EC_32fc(const Vok32fc* const* history, const Vok32fc* const* coefs, Vok32fc* dst,
                                              int numSegments, int len) {
  if (anyNull(history, coefs, dst)) return vokErrNullPtr;
  if (badCount(len)) return vokErrSubbandCount;
  if (badSegments(numSegments)) return vokErrRange;
  if (anyEntryNull(history, numSegments) || anyEntryNull(coefs, numSegments)) return vokErrNullPtr;
  // Blocks of subbands, segments outer: each subband's sum still runs over
  // s = 0, 1, ... in order, while the inner loop reads contiguous memory.
  for (int base = 0; base < len; base += kBlock) {
    const int n = len - base < kBlock ? len - base : kBlock;
    float yr[kBlock], yi[kBlock];
    for (int s = 0; s < numSegments; ++s) {
      const Vok32fc* __restrict h = history[s] + base;
      const Vok32fc* __restrict c = coefs[s] + base;
      for (int i = 0; i < n; ++i) {
        const double hr = h[i].re, hi = h[i].im, cr = c[i].re, ci = c[i].im;
        const float pr = static_cast<float>(hr * cr - hi * ci), pi = static_cast<float>(hr * ci + hi * cr);
        yr[i] = s == 0 ? pr : yr[i] + pr;
        yi[i] = s == 0 ? pi : yi[i] + pi;
      }
    }
    for (int i = 0; i < n; ++i) dst[base + i] = Vok32fc{yr[i], yi[i]};
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksFIRSubband_EC_32sc_Sfs(const Vok32sc* const* history, const Vok32sc* const* coefs, Vok32sc* dst,
                                                  int numSegments, int len, int sf) {
  if (anyNull(history, coefs, dst)) return vokErrNullPtr;
  if (badCount(len)) return vokErrSubbandCount;
  if (badSegments(numSegments) || sf < -31 || sf > 31) return vokErrRange;
  if (anyEntryNull(history, numSegments) || anyEntryNull(coefs, numSegments)) return vokErrNullPtr;
  const double scale = std::ldexp(1.0, -sf);
  for (int i = 0; i < len; ++i) {
    double re, im;
    fixedDot(history, coefs, numSegments, i, &re, &im);
    dst[i].re = clampRound32(re * scale);
    dst[i].im = clampRound32(im * scale);
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksFIRSubbandLow_EC_32sc_Sfs(const Vok32sc* const* history, const Vok32sc* const* coefs,
                                                     int numSegments, Vok32sc* dst, int firstSubband, int len, int sf) {
  if (anyNull(history, coefs, dst)) return vokErrNullPtr;
  if (badSegments(numSegments) || firstSubband < 0 || firstSubband > len) return vokErrRange;
  if (badCount(len)) return vokErrSubbandCount;
  if (sf < 0 || sf > 31) return vokErrRange;
  if (anyEntryNull(history, numSegments) || anyEntryNull(coefs, numSegments)) return vokErrNullPtr;
  const double scale = std::ldexp(1.0, -sf);
  for (int i = firstSubband; i < len; ++i) {
    double re, im;
    fixedDot(history, coefs, numSegments, i, &re, &im);
    dst[i].re = clampRound32(re * scale);  // sums the caller keeps in range are not clamped
    dst[i].im = clampRound32(im * scale);
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksFIRSubbandCoeffUpdate_EC_32fc_I(const Vok64f* steps, const Vok32fc* const* history,
                                                           const Vok32fc* error, Vok32fc* const* coefs, int numSegments,
                                                           int len) {
  if (anyNull(steps, history, error, coefs)) return vokErrNullPtr;
  if (badCount(len)) return vokErrSubbandCount;
  if (badSegments(numSegments)) return vokErrRange;
  if (anyEntryNull(history, numSegments) || anyEntryNull(coefs, numSegments)) return vokErrNullPtr;
  for (int i = 0; i < len; ++i)
    if (steps[i] < 0) return vokErrSize;
  for (int base = 0; base < len; base += kBlock) {  // blocks of subbands, segments outer
    const int n = len - base < kBlock ? len - base : kBlock;
    double ur[kBlock], ui[kBlock];
    for (int i = 0; i < n; ++i) {
      ur[i] = steps[base + i] * error[base + i].re;
      ui[i] = steps[base + i] * error[base + i].im;
    }
    for (int s = 0; s < numSegments; ++s) {
      const Vok32fc* __restrict x = history[s] + base;
      Vok32fc* __restrict c = coefs[s] + base;
      for (int i = 0; i < n; ++i) {
        const double xr = x[i].re, xi = x[i].im;
        c[i].re = static_cast<float>(c[i].re + (ur[i] * xr + ui[i] * xi));
        c[i].im = static_cast<float>(c[i].im + (ui[i] * xr - ur[i] * xi));
      }
    }
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksFIRSubbandCoeffUpdate_EC_32sc_I(const Vok32s* steps, const Vok32sc* const* history,
                                                           const Vok32sc* error, Vok32sc* const* coefs, int numSegments,
                                                           int len, int sf) {
  if (anyNull(steps, history, error, coefs)) return vokErrNullPtr;
  if (badCount(len)) return vokErrSubbandCount;
  if (badSegments(numSegments) || sf < 0 || sf > 31) return vokErrRange;
  if (anyEntryNull(history, numSegments) || anyEntryNull(coefs, numSegments)) return vokErrNullPtr;
  for (int i = 0; i < len; ++i)
    if (steps[2 * i] < 0) return vokErrSize;
  for (int i = 0; i < len; ++i) {
    const int64_t m = steps[2 * i];
    const int64_t k = int64_t{steps[2 * i + 1]} - sf - 31;
    const int shift = k > 100 ? 100 : k < -100 ? -100 : static_cast<int>(k);
    const int64_t ur = (m * error[i].re + (int64_t{1} << 30)) >> 31;
    const int64_t ui = (m * error[i].im + (int64_t{1} << 30)) >> 31;
    for (int s = 0; s < numSegments; ++s) {
      int64_t pr, pi;
      mulConj(ur, ui, history[s][i], &pr, &pi);
      Vok32sc& c = coefs[s][i];
      c.re = addInc(c.re, scaleIncrement(pr, shift));
      c.im = addInc(c.im, scaleIncrement(pi, shift));
    }
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksFIRSubbandLowCoeffUpdate_EC_32sc_I(const Vok32sc* const* history, const Vok32sc* error,
                                                              Vok32sc* const* coefs, int numSegments, Vok32sc* scaledError,
                                                              const Vok32s* steps, int firstSubband, int len, int sf) {
  if (anyNull(steps, history, error, coefs, scaledError)) return vokErrNullPtr;
  if (badSegments(numSegments) || firstSubband < 0 || firstSubband > len) return vokErrRange;
  if (badCount(len)) return vokErrSubbandCount;
  if (sf < 0 || sf > 31) return vokErrRange;
  if (anyEntryNull(history, numSegments) || anyEntryNull(coefs, numSegments)) return vokErrNullPtr;
  for (int i = firstSubband; i < len; ++i) {
    const double m = steps[2 * i];
    const int64_t k = int64_t{steps[2 * i + 1]} - sf - 31;
    const int shift = k > 100 ? 100 : k < -100 ? -100 : static_cast<int>(k);
    // (m e + 2^30) 2^-31 in double, truncated toward zero
    const double ur = std::trunc((m * error[i].re + 1073741824.0) * (1.0 / 2147483648.0));
    const double ui = std::trunc((m * error[i].im + 1073741824.0) * (1.0 / 2147483648.0));
    scaledError[i].re = clampRound32(ur);
    scaledError[i].im = clampRound32(ui);
    for (int s = 0; s < numSegments; ++s) {
      int64_t pr, pi;
      mulConj(scaledError[i].re, scaledError[i].im, history[s][i], &pr, &pi);
      Vok32sc& c = coefs[s][i];
      c.re = clampRound32(static_cast<double>(c.re) + static_cast<double>(scaleIncrement(pr, shift)));
      c.im = clampRound32(static_cast<double>(c.im) + static_cast<double>(scaleIncrement(pi, shift)));
    }
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksFIRSubbandAPCoeffUpdate_EC_32fc_I(const Vok64f* const* steps, const Vok32fc* const* history,
                                                             const Vok32fc* const* errors, Vok32fc* const* coefs,
                                                             int numSegments, int len, int order) {
  if (anyNull(steps, history, errors, coefs)) return vokErrNullPtr;
  if (badCount(len)) return vokErrSubbandCount;
  if (badSegments(numSegments) || order < 1) return vokErrRange;
  if (order > kMaxSegments || anyEntryNull(steps, order) || anyEntryNull(errors, order) ||
      anyEntryNull(history, numSegments + order - 1) || anyEntryNull(coefs, numSegments))
    return order > kMaxSegments ? vokErrRange : vokErrNullPtr;
  const float inv = 1.0f / static_cast<float>(order);
  for (int s = 0; s < numSegments; ++s)
    for (int i = 0; i < len; ++i) {
      double ar = 0, ai = 0;
      for (int j = 0; j < order; ++j) {
        const double ur = steps[j][i] * errors[j][i].re, ui = steps[j][i] * errors[j][i].im;
        const double xr = history[s + j][i].re, xi = history[s + j][i].im;
        ar += ur * xr + ui * xi;
        ai += ui * xr - ur * xi;
      }
      Vok32fc& c = coefs[s][i];
      c.re = static_cast<float>(c.re + inv * ar);
      c.im = static_cast<float>(c.im + inv * ai);
    }
  return vokOk;
}
