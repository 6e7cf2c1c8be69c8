// Fixed-point vector operations of the noise-reduction family.  Every
// product is rounded by adding half of the final shift's unit before the
// arithmetic right shift; results saturate to 16 bits unless stated.
#include <cstring>

#include "common/basic_op.h"
#include "common/kernels.h"
#include "core/status.h"

using namespace voksc::op;
using voksc::anyNull;

namespace {

inline int64_t roundShift(int64_t v, int sf) { return sf > 0 ? (v + (int64_t{1} << (sf - 1))) >> sf : v; }
inline Word16 sat16L(int64_t v) { return static_cast<Word16>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v)); }

// One product rounded by sf: at sf = 15 only -32768 * -32768 can leave the
// range, and it wraps to -32768 as the reference operator does.
inline Word16 mulRound(Word16 a, Word16 b, int sf) {
  int64_t v = roundShift(int64_t{a} * b, sf);
  return sf == 15 ? static_cast<Word16>(v) : sat16L(v);
}

}  // namespace

VOKSC_EXPORT VokResult voksMul_NR_16s_Sfs(const Vok16s* a, const Vok16s* b, Vok16s* d, int len, int sf) {
  if (anyNull(a, b, d)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (sf < 0) return vokErrScale;
  for (int n = 0; n < len; ++n) d[n] = mulRound(a[n], b[n], sf > 31 ? 31 : sf);
  return vokOk;
}

VOKSC_EXPORT VokResult voksMul_NR_16s_ISfs(const Vok16s* a, Vok16s* b, int len, int sf) {
  return voksMul_NR_16s_Sfs(a, b, b, len, sf);
}

VOKSC_EXPORT VokResult voksMulC_NR_16s_Sfs(const Vok16s* x, Vok16s c, Vok16s* d, int len, int sf) {
  if (anyNull(x, d)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (sf < 0) return vokErrScale;
  const int s = sf > 31 ? 31 : sf;
  for (int n = 0; n < len; ++n) d[n] = sat16L(roundShift(int64_t{x[n]} * c, s));
  return vokOk;
}

VOKSC_EXPORT VokResult voksMulC_NR_16s_ISfs(Vok16s c, Vok16s* x, int len, int sf) {
  return voksMulC_NR_16s_Sfs(x, c, x, len, sf);
}

// d[k] = x[k] c^k, the powers formed recursively with the same rounding.
VOKSC_EXPORT VokResult voksMulPowerC_NR_16s_Sfs(const Vok16s* x, Vok16s c, Vok16s* d, int len, int sf) {
  if (anyNull(x, d)) return vokErrNullPtr;
  if (sf < 0) return vokErrScale;
  if (len < 1) return vokErrSize;
  const int s = sf > 31 ? 31 : sf;
  d[0] = x[0];
  Word16 p = c;
  for (int k = 1; k < len; ++k) {
    d[k] = mulRound(x[k], p, s);
    p = mulRound(p, c, s);
  }
  return vokOk;
}

// Each constant counts as c 2^(sf - 16); the vector with the larger scale
// factor is aligned to the smaller one before the common rounding shift.
VOKSC_EXPORT VokResult voksInterpolateC_NR_16s(const Vok16s* x1, Vok16s c1, int sf1, const Vok16s* x2, Vok16s c2,
                                               int sf2, Vok16s* d, int len) {
  if (anyNull(x1, x2, d)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (sf1 < 0 || sf2 < 0) return vokErrScale;
  const Vok16s *first = x1, *second = x2;
  Vok16s cf = c1, cs = c2;
  int hi = sf1, lo = sf2;
  if (sf2 > sf1) {
    first = x2;
    second = x1;
    cf = c2;
    cs = c1;
    hi = sf2;
    lo = sf1;
  }
  const int diff = hi - lo > 31 ? 31 : hi - lo;
  const int shift = 16 - lo;
  const int64_t round = lo < 16 ? (int64_t{1} << (15 - lo)) : 0;
  for (int n = 0; n < len; ++n) {
    int64_t v = int64_t{first[n]} * cf * (int64_t{1} << diff) + int64_t{second[n]} * cs + round;
    d[n] = sat16L(shift > 0 ? v >> shift : v * (int64_t{1} << -shift));
  }
  return vokOk;
}

// d[n] = x[n] + gain x[n - lag] (gain Q15, rounded), from the source history.
VOKSC_EXPORT VokResult voksHarmonicFilter_NR_16s(Vok16s gain, int lag, const Vok16s* x, Vok16s* d, int len) {
  if (anyNull(x, d)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  for (int n = 0; n < len; ++n) d[n] = sat16L(int64_t{x[n]} + roundShift(int64_t{x[n - lag]} * gain, 15));
  return vokOk;
}

// Partial convolution of a signal with a Q12 response, rounded back to Q0.
// The full form accumulates exactly; the Low form in 32 bits with
// saturation of each step (the operator-chain result).
VOKSC_EXPORT VokResult voksConvPartial_NR_16s(const Vok16s* a, const Vok16s* b, Vok16s* d, int len) {
  if (anyNull(a, b, d)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  for (int n = 0; n < len; ++n) {
    int64_t s = 0;
    for (int i = 0; i <= n; ++i) s += int32_t{a[i]} * b[n - i];
    d[n] = sat16L(roundShift(s, 12));
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksConvPartial_NR_Low_16s(const Vok16s* a, const Vok16s* b, Vok16s* d, int len) {
  if (anyNull(a, b, d)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  for (int n = 0; n < len; ++n) {
    Word32 s = 0;
    for (int i = 0; i <= n; ++i) s = L_add(s, L_mult0(a[i], b[n - i]));
    d[n] = sat16L(roundShift(s, 12));
  }
  return vokOk;
}

// Cross-correlations d[k] = sum a[n] b[n + k], n < len, for k < lags
// (b holds len + lags - 1 samples).
VOKSC_EXPORT VokResult voksCrossCorr_NR_16s32s(const Vok16s* a, const Vok16s* b, int len, Vok32s* d, int lags) {
  if (anyNull(a, b, d)) return vokErrNullPtr;
  if (len < 1 || lags < 1) return vokErrSize;
  for (int k = 0; k < lags; ++k) d[k] = voksc::kern::sat32(voksc::kern::dot(a, b + k, len));
  return vokOk;
}

// 16-bit form: the rounded upper word of the doubled sum (Q15 products).
VOKSC_EXPORT VokResult voksCrossCorr_NR_16s(const Vok16s* a, const Vok16s* b, int len, Vok16s* d, int lags) {
  if (anyNull(a, b, d)) return vokErrNullPtr;
  if (len < 1 || lags < 1) return vokErrSize;
  for (int k = 0; k < lags; ++k) d[k] = sat16L(roundShift(voksc::kern::dot(a, b + k, len), 15));
  return vokOk;
}

VOKSC_EXPORT VokResult voksCrossCorr_NR_16s_Sfs(const Vok16s* a, const Vok16s* b, int len, Vok16s* d, int lags,
                                                int sf) {
  if (anyNull(a, b, d)) return vokErrNullPtr;
  if (len < 1 || lags < 1) return vokErrSize;
  if (sf < 0) return vokErrScale;
  const int s = sf > 40 ? 40 : sf;
  for (int k = 0; k < lags; ++k) d[k] = sat16L(roundShift(voksc::kern::dot(a, b + k, len), s));
  return vokOk;
}

VOKSC_EXPORT VokResult voksAutoCorr_NormE_NR_16s(const Vok16s* x, int len, Vok16s* r, int lags, int* shift) {
  if (anyNull(x, r, shift)) return vokErrNullPtr;
  if (len < 1 || lags < 1) return vokErrSize;
  Word32 e = 0;
  for (int n = 0; n < len; ++n) e = L_add(e, L_mult0(x[n], x[n]));
  Word32 v = L_add(e, e);
  if (v == 0) {
    *shift = 0;
    for (int k = 0; k < lags; ++k) r[k] = 0;
    return vokOk;
  }
  int k0 = norm_l(v);
  auto toWord = [](int64_t w) -> Vok16s {
    if (w >= 0x7FFF8000) return 32767;
    return static_cast<Vok16s>((w + 32768) >> 16);
  };
  r[0] = toWord(int64_t{v} << k0);
  for (int k = 1; k < lags; ++k) {
    int64_t c = k < len ? voksc::kern::dot(x, x + k, len - k) : 0;
    int64_t w = c * (int64_t{1} << (k0 + 1));
    if (w < INT32_MIN) w = INT32_MIN;
    r[k] = toWord(w > INT32_MAX ? INT32_MAX : w);
  }
  *shift = k0;
  return vokOk;
}

// Tenth-order all-pole synthesis, coefficients a[0..10] in Q(sf): the
// G.729 filter for sf 12.  The memory holds the last ten outputs, oldest
// first, and is updated.  The Low form accumulates exactly and saturates
// once; the others follow the operator chain.
namespace {
void synthesisNr(const Vok16s* a, const Vok16s* x, Vok16s* y, int len, int sf, Vok16s* mem, bool exact) {
  Vok16s hist[10];
  std::memcpy(hist, mem, sizeof hist);
  const Word16 shl = static_cast<Word16>(15 - sf);
  for (int n = 0; n < len; ++n) {
    Word32 s;
    if (exact) {
      int64_t acc = int64_t{x[n]} * a[0];
      for (int j = 1; j <= 10; ++j) acc -= int64_t{a[j]} * hist[10 - j];
      s = voksc::kern::sat32(acc * 2);
    } else {
      s = L_mult(x[n], a[0]);
      for (int j = 1; j <= 10; ++j) s = L_msu(s, a[j], hist[10 - j]);
    }
    Vok16s out = round_fx(L_shl(s, shl));
    std::memmove(hist, hist + 1, 9 * sizeof(Vok16s));
    hist[9] = out;
    y[n] = out;
  }
  std::memcpy(mem, hist, sizeof hist);
}
}  // namespace

VOKSC_EXPORT VokResult voksSynthesisFilter_NR_16s_Sfs(const Vok16s* a, const Vok16s* x, Vok16s* y, int len, int sf,
                                                      Vok16s* mem) {
  if (anyNull(a, x, y, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (sf != 12 && sf != 13) return vokErrScale;
  synthesisNr(a, x, y, len, sf, mem, false);
  return vokOk;
}

VOKSC_EXPORT VokResult voksSynthesisFilter_NR_16s_ISfs(const Vok16s* a, Vok16s* x, int len, int sf, Vok16s* mem) {
  return voksSynthesisFilter_NR_16s_Sfs(a, x, x, len, sf, mem);
}

VOKSC_EXPORT VokResult voksSynthesisFilterLow_NR_16s_ISfs(const Vok16s* a, Vok16s* x, int len, int sf, Vok16s* mem) {
  if (anyNull(a, x, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (sf != 12 && sf != 13) return vokErrScale;
  synthesisNr(a, x, x, len, sf, mem, true);
  return vokOk;
}

// Impulse response of 1/A(z) from zero state: the input is one unit in the
// coefficients' Q format, then zeros.
VOKSC_EXPORT VokResult voksSynthesisFilterZeroStateResponse_NR_16s(const Vok16s* a, Vok16s* y, int len, int sf) {
  if (anyNull(a, y)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (sf != 12 && sf != 13) return vokErrScale;
  Vok16s mem[10] = {};
  for (int n = 0; n < len; ++n) y[n] = 0;
  y[0] = static_cast<Vok16s>(1 << sf);
  synthesisNr(a, y, y, len, sf, mem, false);
  return vokOk;
}
