// Noise-reduction correlations: harmonic filter, partial convolutions,
// cross-correlations over a range of lags, normalised autocorrelation.
#include <cstdint>

#include "common/basic_op.h"
#include "common/kernels.h"
#include "core/status.h"

using namespace voksc::op;
using voksc::anyNull;

namespace {

inline int16_t sat16(int64_t v) { return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v)); }
inline int64_t roundShift(int64_t v, int sf) { return sf > 0 ? (v + (int64_t{1} << (sf - 1))) >> sf : v; }

// A value scaled by 2^-sf: rounded right shift for sf > 0, saturating left
// shift for sf < 0, then saturated to 16 bits.
inline int16_t scaleTo16(int64_t v, int sf) {
  if (sf >= 0) return sat16(roundShift(v, sf > 62 ? 62 : sf));
  if (v == 0) return 0;
  if (sf < -16 || v > (int64_t{1} << 20) || v < -(int64_t{1} << 20)) return v > 0 ? 32767 : -32768;
  return sat16(v * (int64_t{1} << -sf));
}

// Cross-correlations in blocks of lags, each block handed to `emit`.
template <class Emit>
void crossCorrBlocks(const int16_t* a, const int16_t* b, int len, int lags, Emit emit) {
  int64_t buf[64];
  for (int k = 0; k < lags; k += 64) {
    const int n = lags - k < 64 ? lags - k : 64;
    voksc::kern::xcorr(a, b + k, len, n, buf);
    for (int i = 0; i < n; ++i) emit(k + i, buf[i]);
  }
}

}  // namespace

// d[n] = x[n] + ((gain x[n - lag]) >> 15) modulo 2^16, in order of n, so a
// destination equal to the source feeds each result into later ones.
VOKSC_EXPORT VokResult voksHarmonicFilter_NR_16s(Vok16s gain, int lag, const Vok16s* x, Vok16s* d, int len) {
  if (anyNull(x, d)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (lag < 0) return vokErrRange;  // the filter reads lag samples back
  for (int n = 0; n < len; ++n) {
    const int32_t t = (int32_t{gain} * x[n - lag]) >> 15;
    d[n] = static_cast<Vok16s>(static_cast<uint16_t>(x[n] + t));
  }
  return vokOk;
}

// Partial convolution with a Q12 response, rounded back to Q0.  The full
// form sums exactly; the Low form adds the products in 32 bits with
// saturation of every step.
VOKSC_EXPORT VokResult voksConvPartial_NR_16s(const Vok16s* a, const Vok16s* b, Vok16s* d, int len) {
  if (anyNull(a, b, d)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  int64_t s[256];
  for (int n0 = 0; n0 < len; n0 += 256) {
    const int count = len - n0 < 256 ? len - n0 : 256;
    voksc::kern::convPartial(a, b, n0, count, s);
    for (int j = 0; j < count; ++j) d[n0 + j] = sat16(roundShift(s[j], 12));
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksConvPartial_NR_Low_16s(const Vok16s* a, const Vok16s* b, Vok16s* d, int len) {
  if (anyNull(a, b, d)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  for (int n = 0; n < len; ++n) {
    Word32 s = 0;
    for (int i = 0; i <= n; ++i) s = L_add(s, L_mult0(a[i], b[n - i]));
    d[n] = sat16(roundShift(s, 12));
  }
  return vokOk;
}

// d[k] = sum over n < len of a[n] b[n + k], k < lags (b holds len + lags - 1
// samples): the exact sums saturated to 32 bits; the 16-bit forms round
// them by 15 bits (a Q15 product) or by sf.
VOKSC_EXPORT VokResult voksCrossCorr_NR_16s32s(const Vok16s* a, const Vok16s* b, int len, Vok32s* d, int lags) {
  if (anyNull(a, b, d)) return vokErrNullPtr;
  if (len < 1 || lags < 1) return vokErrSize;
  crossCorrBlocks(a, b, len, lags, [&](int k, int64_t s) { d[k] = voksc::kern::sat32(s); });
  return vokOk;
}

VOKSC_EXPORT VokResult voksCrossCorr_NR_16s(const Vok16s* a, const Vok16s* b, int len, Vok16s* d, int lags) {
  if (anyNull(a, b, d)) return vokErrNullPtr;
  if (len < 1 || lags < 1) return vokErrSize;
  crossCorrBlocks(a, b, len, lags, [&](int k, int64_t s) { d[k] = scaleTo16(s, 15); });
  return vokOk;
}

VOKSC_EXPORT VokResult voksCrossCorr_NR_16s_Sfs(const Vok16s* a, const Vok16s* b, int len, Vok16s* d, int lags,
                                                int sf) {
  if (anyNull(a, b, d)) return vokErrNullPtr;
  if (len < 1 || lags < 1) return vokErrSize;
  crossCorrBlocks(a, b, len, lags, [&](int k, int64_t s) { d[k] = scaleTo16(s, sf); });
  return vokOk;
}

// r[0] from the doubled energy (saturating), normalised into [2^30, 2^31)
// and rounded to its upper word; the other lags scaled by the same shift
// (and the doubling) and rounded the same way.
VOKSC_EXPORT VokResult voksAutoCorr_NormE_NR_16s(const Vok16s* x, int len, Vok16s* r, int lags, int* shift) {
  if (anyNull(x, r, shift)) return vokErrNullPtr;
  if (len < 1 || lags < 1) return vokErrSize;
  Word32 e = 0;
  for (int n = 0; n < len; ++n) e = L_add(e, L_mult0(x[n], x[n]));
  const Word32 v = L_add(e, e);
  if (v == 0) {
    for (int k = 0; k < lags; ++k) r[k] = 0;
    *shift = 0;
    return vokOk;
  }
  const int k0 = norm_l(v);
  auto upperWord = [](int64_t w) -> Vok16s {
    const Word32 s = voksc::kern::sat32(w);
    return s >= 0x7FFF8000 ? Vok16s{32767} : static_cast<Vok16s>((int64_t{s} + 32768) >> 16);
  };
  r[0] = upperWord(int64_t{v} << k0);
  for (int k = 1; k < lags; ++k) {
    const int64_t c = k < len ? voksc::kern::dot(x, x + k, len - k) : 0;
    r[k] = upperWord(c * (int64_t{1} << (k0 + 1)));
  }
  *shift = k0;
  return vokOk;
}
