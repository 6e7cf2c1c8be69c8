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

// Doubled (L_mac-style) correlation of the frame with its past at delay t,
// saturated once.
inline int32_t pastCorr(const int16_t* x, int len, int t) { return sat32(2 * kern::dot(x, x - t, len)); }

}  // namespace

VOKSC_EXPORT VokResult voksAutoCorr_16s32s(const Vok16s* x, int len, Vok32s* r, int lagLen) {
  if (anyNull(x, r)) return vokErrNullPtr;
  if (len < 1 || lagLen < 1) return vokErrSize;
  for (int k = 0; k < lagLen; ++k) r[k] = k < len ? sat32(kern::dot(x, x + k, len - k)) : 0;
  return vokOk;
}

// G.729 normalised autocorrelation: 2e+1 normalised, the other lags scaled
// alike.  An energy above 0x3FFFFFFF would overflow the reference's L_mac
// chain: warn and write nothing so the caller can scale down and retry.
VOKSC_EXPORT VokResult voksAutoCorr_NormE_16s32s(const Vok16s* x, int len, Vok32s* r, int lagLen, int* norm) {
  if (anyNull(x, r, norm)) return vokErrNullPtr;
  if (len < 1 || lagLen < 1) return vokErrSize;
  int64_t e = kern::dot(x, x, len);
  if (e > 0x3FFFFFFF) return vokWrnOverflow;
  int32_t r0 = static_cast<int32_t>(2 * e + 1);
  int n = op::norm_l(r0);
  r[0] = r0 << n;
  for (int k = 1; k < lagLen; ++k) {
    int64_t c = k < len ? 2 * kern::dot(x, x + k, len - k) : 0;
    r[k] = static_cast<int32_t>(c * (int64_t{1} << n));
  }
  *norm = n;
  return vokOk;
}

// Correlation of the frame with its future; the 32-bit accumulation of the
// reference saturates (not doubles) sums beyond 30 bits.
VOKSC_EXPORT VokResult voksAutoCorrLagMax_Fwd_16s(const Vok16s* x, int len, int lagMin, int lagMax, Vok32s* max,
                                                  int* lag) {
  if (anyNull(x, max, lag)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  int32_t best = op::kMin32;
  int bestLag = 0;
  for (int t = lagMin; t <= lagMax; ++t) {
    int64_t s = kern::dot(x, x + t, len);
    int32_t v = s > 0x3FFFFFFF ? op::kMax32 : (s < -0x40000000 ? op::kMin32 : static_cast<int32_t>(2 * s));
    if (v > best) {
      best = v;
      bestLag = t;
    }
  }
  *max = best;
  *lag = bestLag;
  return vokOk;
}

// Correlation with the past, lags visited from lagMax down; as in G.729's
// open-loop search an equal value replaces the best, so among equal
// correlations the smallest lag wins.
VOKSC_EXPORT VokResult voksAutoCorrLagMax_Inv_16s(const Vok16s* x, int len, int lagMin, int lagMax, Vok32s* max,
                                                  int* lag) {
  if (anyNull(x, max, lag)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  int32_t best = op::kMin32;
  int bestLag = lagMax;
  for (int t = lagMax; t >= lagMin; --t) {
    int32_t v = pastCorr(x, len, t);
    if (v >= best) {
      best = v;
      bestLag = t;
    }
  }
  *max = best;
  *lag = bestLag;
  return vokOk;
}

// Float form: lags upward, the first (smallest) lag wins ties.
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

VOKSC_EXPORT VokResult voksCrossCorrLagMax_16s(const Vok16s* x, const Vok16s* y, int len, int lagMax, Vok32s* max,
                                               int* lag) {
  if (anyNull(x, y, max, lag)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (lagMax < 0) return vokErrRange;
  int32_t best = 0;
  int bestLag = lagMax;
  for (int t = 0; t <= lagMax; ++t) {
    int32_t v = sat32(2 * kern::dot(x, y + t, len));
    if (v > best) {
      best = v;
      bestLag = t;
    }
  }
  *max = best;
  *lag = bestLag;
  return vokOk;
}

VOKSC_EXPORT VokResult voksCrossCorrLagMax_32f64f(const Vok32f* x, const Vok32f* y, int len, int lagMax,
                                                  Vok64f* max, int* lag) {
  if (anyNull(x, y, max, lag)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (lagMax < 0) return vokErrRange;
  double best = -1.0e300;
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
  for (int n = 0; n < len; ++n) out[n] = sat32(kern::scaleSfs(kern::dot(a, b + n, len - n), scale));
  return vokOk;
}

// Correlations normalised as G.729 normalises the backward-filtered target
// (Cor_h_X): the doubled sums, shifted right by 18 - min(norm_l(max), 16) so
// the largest magnitude keeps 13 bits.
VOKSC_EXPORT VokResult voksCrossCorr_NormM_16s(const Vok16s* a, const Vok16s* b, int len, Vok16s* out) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  auto corr = [&](int n) { return sat32(2 * kern::dot(a, b + n, len - n)); };
  int32_t mx = 0;
  for (int n = 0; n < len; ++n) {
    int32_t v = op::L_abs(corr(n));
    if (v > mx) mx = v;
  }
  int16_t j = op::norm_l(mx);
  if (j > 16) j = 16;
  j = static_cast<int16_t>(18 - j);
  // Second pass instead of a buffer: lengths are not bounded.
  for (int n = 0; n < len; ++n) out[n] = op::extract_l(op::L_shr(corr(n), j));
  return vokOk;
}

namespace {
// Partial convolution as dot products against b reversed (in blocks, so
// the stack buffer stays small): conv(n) = sum a[i] b[n - i], i <= n.
template <class Emit>
void convolvePartial(const int16_t* a, const int16_t* b, int len, Emit emit) {
  constexpr int kChunk = 1024;
  int16_t rev[kChunk];
  if (len <= kChunk) {
    for (int k = 0; k < len; ++k) rev[k] = b[len - 1 - k];
    for (int n = 0; n < len; ++n) emit(n, kern::dot(a, rev + len - 1 - n, n + 1));
    return;
  }
  for (int n = 0; n < len; ++n) {
    int64_t s = 0;
    for (int i = 0; i <= n; ++i) s += int32_t{a[i]} * b[n - i];
    emit(n, s);
  }
}
}  // namespace

VOKSC_EXPORT VokResult voksConvPartial_16s32s(const Vok16s* a, const Vok16s* b, Vok32s* out, int len) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  convolvePartial(a, b, len, [&](int n, int64_t s) { out[n] = sat32(s); });
  return vokOk;
}

VOKSC_EXPORT VokResult voksConvPartial_16s_Sfs(const Vok16s* a, const Vok16s* b, Vok16s* out, int len, int scale) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (scale < 0) return vokErrBadArg;
  if (len < 1) return vokErrSize;
  convolvePartial(a, b, len, [&](int n, int64_t s) {
    int64_t v = kern::scaleSfs(s, scale);
    out[n] = static_cast<Vok16s>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
  });
  return vokOk;
}

VOKSC_EXPORT VokResult voksDotProdAutoScale_16s32s_Sfs(const Vok16s* a, const Vok16s* b, int len, Vok32s* result,
                                                       int* scale) {
  if (anyNull(a, b, result, scale)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  int sa = 0, sb = 0;
  for (int step = 0;; ++step) {
    int64_t s = int64_t{static_cast<int16_t>(a[0] >> sa)} * static_cast<int16_t>(b[0] >> sb);
    for (int i = 1; i < len; ++i) s += 2 * int64_t{static_cast<int16_t>(a[i] >> sa)} * static_cast<int16_t>(b[i] >> sb);
    if (s >= INT32_MIN && s <= INT32_MAX) {
      *result = static_cast<int32_t>(s);
      *scale = sa + sb;
      return vokOk;
    }
    if (step % 2 == 0)
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
  // Coefficients reversed once: each output is a dot product with the input.
  int16_t rev[64];
  const bool fast = order < 64;
  if (fast)
    for (int i = 0; i <= order; ++i) rev[i] = a[order - i];
  for (int n = 0; n < len; ++n) {
    int64_t s = 0;
    if (fast) {
      s = kern::dot(rev, x + n - order, order + 1);
    } else {
      for (int i = 0; i <= order; ++i) s += int32_t{a[i]} * x[n - i];
    }
    int64_t v = kern::scaleSfs(s, scale);
    y[n] = static_cast<Vok16s>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksHarmonicFilter_16s_I(Vok16s gain, int lag, Vok16s* x, int len) {
  if (anyNull(x)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  for (int n = 0; n < len; ++n) x[n] = op::sat16(x[n] + ((int32_t{x[n - lag]} * gain) >> 15));
  return vokOk;
}

VOKSC_EXPORT VokResult voksHarmonicFilter_32f_I(Vok32f gain, int lag, Vok32f* x, int len) {
  if (anyNull(x)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
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
