// Codec-neutral correlation and scaling exports.
#include <cmath>
#include <cstring>

#include "basic_op.h"
#include "core/status.h"
#include "kernels.h"
#include "math_ops.h"

using namespace voksc;
using voksc::kern::sat32;

namespace {

// Lags or outputs are produced in runs of this many into a stack buffer.
constexpr int kRun = 128;

}  // namespace

VOKSC_EXPORT VokResult voksAutoCorr_16s32s(const Vok16s* x, int len, Vok32s* r, int lagLen) {
  if (anyNull(x, r)) return vokErrNullPtr;
  if (len < 1 || lagLen < 1) return vokErrSize;
  int64_t c[kRun];
  for (int k0 = 0; k0 < lagLen; k0 += kRun) {
    const int count = lagLen - k0 < kRun ? lagLen - k0 : kRun;
    kern::xcorrTrunc(x, x, len, k0, count, c);
    for (int j = 0; j < count; ++j) r[k0 + j] = sat32(c[j]);
  }
  return vokOk;
}

// G.729 normalised autocorrelation: 2e+1 normalised, the other lags doubled
// and scaled alike.  An energy above 0x3FFFFFFF would overflow the L_mac
// chain of the reference: warn and write nothing, so the caller can scale
// the signal down and call again.  Below that bound no lag's doubled sum
// can leave 32 bits, nor its normalised value.
VOKSC_EXPORT VokResult voksAutoCorr_NormE_16s32s(const Vok16s* x, int len, Vok32s* r, int lagLen, int* norm) {
  if (anyNull(x, r, norm)) return vokErrNullPtr;
  if (len < 1 || lagLen < 1) return vokErrSize;
  const int64_t e = kern::dot(x, x, len);
  if (e > 0x3FFFFFFF) return vokWrnOverflow;
  const int32_t r0 = static_cast<int32_t>(2 * e + 1);
  const int n = op::norm_l(r0);
  r[0] = r0 << n;
  int64_t c[kRun];
  for (int k0 = 1; k0 < lagLen; k0 += kRun) {
    const int count = lagLen - k0 < kRun ? lagLen - k0 : kRun;
    kern::xcorrTrunc(x, x, len, k0, count, c);
    for (int j = 0; j < count; ++j) r[k0 + j] = static_cast<int32_t>(2 * c[j] * (int64_t{1} << n));
  }
  *norm = n;
  return vokOk;
}

// Correlation of the frame with its future; the 32-bit accumulation of the
// reference saturates (rather than doubles) sums beyond 30 bits.  Sums are
// exact, so one that would leave 32 bits before the doubling saturates too.
VOKSC_EXPORT VokResult voksAutoCorrLagMax_Fwd_16s(const Vok16s* x, int len, int lagMin, int lagMax, Vok32s* max,
                                                  int* lag) {
  if (anyNull(x, max, lag)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  const kern::LagPick p = kern::lagMaxFuture(x, len, lagMin, lagMax);
  *max = p.value;
  *lag = p.lag;
  return vokOk;
}

// Correlation with the past (doubled, as the L_mac chain forms it), lags
// visited from lagMax down.  An equal value moves to the smaller lag: among
// equal correlations the smallest lag wins, as both G.729 callers expect
// (the open-loop search goes down with >=, the Annex A post-filter goes up
// with >).
VOKSC_EXPORT VokResult voksAutoCorrLagMax_Inv_16s(const Vok16s* x, int len, int lagMin, int lagMax, Vok32s* max,
                                                  int* lag) {
  if (anyNull(x, max, lag)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  const kern::LagPick p = kern::lagMaxPast(x, len, lagMin, lagMax);
  *max = p.value;
  *lag = p.lag;
  return vokOk;
}

VOKSC_EXPORT VokResult voksAutoCorrLagMax_32f(const Vok32f* x, int len, int lagMin, int lagMax, Vok32f* max,
                                              int* lag) {
  if (anyNull(x, max, lag)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  float best = -3.402823466e38f;
  int bestLag = lagMin;
  for (int t = lagMin; t <= lagMax; ++t) {
    float s = 0.0f;
    for (int n = 0; n < len; ++n) s += x[n] * x[n - t];
    if (s > best) {
      best = s;
      bestLag = t;
    }
  }
  *max = best;
  *lag = bestLag;
  return vokOk;
}

// Correlation of x with y advanced by 0..lagMax (doubled); the first
// strictly greater value wins, from a start of 0 at lagMax.
VOKSC_EXPORT VokResult voksCrossCorrLagMax_16s(const Vok16s* x, const Vok16s* y, int len, int lagMax, Vok32s* max,
                                               int* lag) {
  if (anyNull(x, y, max, lag)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (lagMax < 0) return vokErrRange;
  const kern::LagPick p = kern::lagMaxCross(x, y, len, lagMax);
  *max = p.value;
  *lag = p.lag;
  return vokOk;
}

VOKSC_EXPORT VokResult voksCrossCorrLagMax_32f64f(const Vok32f* x, const Vok32f* y, int len, int lagMax,
                                                  Vok64f* max, int* lag) {
  if (anyNull(x, y, max, lag)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (lagMax < 0) return vokErrRange;
  double best = -HUGE_VAL;
  int bestLag = 0;
  for (int t = 0; t <= lagMax; ++t) {
    double s = 0.0;
    for (int n = 0; n < len; ++n) s += double{x[n]} * double{y[n + t]};
    if (s > best) {
      best = s;
      bestLag = t;
    }
  }
  *max = best;
  *lag = bestLag;
  return vokOk;
}

VOKSC_EXPORT VokResult voksCrossCorr_16s32s_Sfs(const Vok16s* a, const Vok16s* b, int len, Vok32s* out, int scale) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  int64_t c[kRun];
  for (int k0 = 0; k0 < len; k0 += kRun) {
    const int count = len - k0 < kRun ? len - k0 : kRun;
    kern::xcorrTrunc(a, b, len, k0, count, c);
    for (int j = 0; j < count; ++j) out[k0 + j] = sat32(kern::scaleSfs(c[j], scale));
  }
  return vokOk;
}

// Correlations normalised as G.729 normalises the backward-filtered target
// (its Cor_h_X): the doubled sums, shifted right by 18 - min(norm_l(max), 16)
// so that the largest magnitude keeps 13 bits.
VOKSC_EXPORT VokResult voksCrossCorr_NormM_16s(const Vok16s* a, const Vok16s* b, int len, Vok16s* out) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  // Frames up to kKeep samples keep their correlations; longer ones are
  // correlated a second time for the output pass.
  constexpr int kKeep = 4 * kRun;
  int32_t kept[kKeep];
  int64_t c[kRun];
  int32_t mx = 0;
  for (int k0 = 0; k0 < len; k0 += kRun) {
    const int count = len - k0 < kRun ? len - k0 : kRun;
    kern::xcorrTrunc(a, b, len, k0, count, c);
    for (int j = 0; j < count; ++j) {
      const int32_t v = sat32(2 * c[j]);
      if (len <= kKeep) kept[k0 + j] = v;
      if (op::L_abs(v) > mx) mx = op::L_abs(v);
    }
  }
  int16_t sh = op::norm_l(mx);
  if (sh > 16) sh = 16;
  sh = static_cast<int16_t>(18 - sh);
  for (int k0 = 0; k0 < len; k0 += kRun) {
    const int count = len - k0 < kRun ? len - k0 : kRun;
    if (len > kKeep) {
      kern::xcorrTrunc(a, b, len, k0, count, c);
      for (int j = 0; j < count; ++j) kept[j] = sat32(2 * c[j]);
    }
    const int32_t* v = len > kKeep ? kept : kept + k0;
    for (int j = 0; j < count; ++j) out[k0 + j] = op::extract_l(op::L_shr(v[j], sh));
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksConvPartial_16s32s(const Vok16s* a, const Vok16s* b, Vok32s* out, int len) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  int64_t c[kRun];
  for (int n0 = 0; n0 < len; n0 += kRun) {
    const int count = len - n0 < kRun ? len - n0 : kRun;
    kern::convPartial(a, b, n0, count, c);
    for (int j = 0; j < count; ++j) out[n0 + j] = sat32(c[j]);
  }
  return vokOk;
}

// The scale factor is checked before the length.
VOKSC_EXPORT VokResult voksConvPartial_16s_Sfs(const Vok16s* a, const Vok16s* b, Vok16s* out, int len, int scale) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (scale < 0) return vokErrBadArg;
  if (len < 1) return vokErrSize;
  int64_t c[kRun];
  for (int n0 = 0; n0 < len; n0 += kRun) {
    const int count = len - n0 < kRun ? len - n0 : kRun;
    kern::convPartial(a, b, n0, count, c);
    for (int j = 0; j < count; ++j) out[n0 + j] = kern::sat16(kern::scaleSfs(c[j], scale));
  }
  return vokOk;
}

// S = (a0 >> sa)(b0 >> sb) + 2 sum over i >= 1 of (ai >> sa)(bi >> sb), with
// the shifts raised alternately (sb first) until S fits 32 bits.  Beyond 15
// the shifted words no longer change; a sum that still does not fit (only
// possible past 2^30 elements) saturates.
VOKSC_EXPORT VokResult voksDotProdAutoScale_16s32s_Sfs(const Vok16s* a, const Vok16s* b, int len, Vok32s* result,
                                                       int* scale) {
  if (anyNull(a, b, result, scale)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  int sa = 0, sb = 0;
  for (bool bNext = true;; bNext = !bNext) {
    const int64_t first = int64_t{(int32_t{a[0]} >> sa) * (int32_t{b[0]} >> sb)};
    const int64_t s = 2 * kern::dotShifted(a, b, len, sa, sb) - first;
    if ((s >= INT32_MIN && s <= INT32_MAX) || (sa == 15 && sb == 15)) {
      *result = sat32(s);
      *scale = sa + sb;
      return vokOk;
    }
    if (bNext ? sb < 15 : sa >= 15)
      ++sb;
    else
      ++sa;
  }
}

namespace {
// Block normalisation keeping `headroom` spare bits.
void autoScale(const int16_t* x, int16_t* out, int len, int* scale) {
  int s = *scale;
  int m = 0;
  for (int i = 0; i < len; ++i) {
    int v = x[i] == -32768 ? 32767 : (x[i] < 0 ? -x[i] : x[i]);
    if (v > m) m = v;
  }
  if (m == 0) {
    std::memset(out, 0, static_cast<size_t>(len) * sizeof(int16_t));
    *scale = 16 - s;
    return;
  }
  int k = op::norm_s(static_cast<int16_t>(m));
  if (s < k) {
    int sh = k - s;
    for (int i = 0; i < len; ++i) out[i] = static_cast<int16_t>(static_cast<uint16_t>(x[i]) << sh);
  } else {
    int sh = s - k;
    if (sh > 15) sh = 15;
    for (int i = 0; i < len; ++i) out[i] = static_cast<int16_t>(x[i] >> sh);
  }
  *scale = k - s;
}
}  // namespace

VOKSC_EXPORT VokResult voksAutoScale_16s(const Vok16s* x, Vok16s* out, int len, int* scale) {
  if (anyNull(x, out, scale)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (*scale < 0) return vokErrScale;
  autoScale(x, out, len, scale);
  return vokOk;
}

VOKSC_EXPORT VokResult voksAutoScale_16s_I(Vok16s* x, int len, int* scale) {
  if (anyNull(x, scale)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (*scale < 0) return vokErrScale;
  autoScale(x, x, len, scale);
  return vokOk;
}

VOKSC_EXPORT VokResult voksInvSqrt_32s_I(Vok32s* x, int len) {
  if (anyNull(x)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  for (int i = 0; i < len; ++i) x[i] = vokInvSqrt(x[i]);
  return vokOk;
}

VOKSC_EXPORT VokResult voksResidualFilter_Low_16s_Sfs(const Vok16s* a, int order, const Vok16s* x, Vok16s* y, int len,
                                                      int scale) {
  if (anyNull(a, x, y)) return vokErrNullPtr;
  if (order < 1 || len < 1 || order > len) return vokErrSize;
  if (scale > 15) return vokErrScale;
  kern::residual(a, order, x, y, len, scale);
  return vokOk;
}

VOKSC_EXPORT VokResult voksHarmonicFilter_16s_I(Vok16s gain, int lag, Vok16s* x, int len) {
  if (anyNull(x)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (lag < 0) return vokErrRange;  // the filter reads lag samples back
  for (int n = 0; n < len; ++n) x[n] = op::sat16(x[n] + ((int32_t{x[n - lag]} * gain) >> 15));
  return vokOk;
}

VOKSC_EXPORT VokResult voksHarmonicFilter_32f_I(Vok32f gain, int lag, Vok32f* x, int len) {
  if (anyNull(x)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (lag < 0) return vokErrRange;  // the filter reads lag samples back
  for (int n = 0; n < len; ++n) x[n] = x[n] + gain * x[n - lag];
  return vokOk;
}

VOKSC_EXPORT VokResult voksPreemphasize_32f_I(Vok32f factor, Vok32f* x, int len, Vok32f* mem) {
  if (anyNull(x, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  float prev = *mem;
  for (int n = 0; n < len; ++n) {
    float cur = x[n];
    x[n] = cur - factor * prev;
    prev = cur;
  }
  *mem = prev;
  return vokOk;
}
