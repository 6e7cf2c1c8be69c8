// Noise-reduction products: element-wise and by a constant, weighting by the
// powers of a constant, interpolation of two weighted vectors.  Every
// product is rounded by adding half of the final shift's unit before the
// arithmetic right shift; results saturate to 16 bits unless stated.
#include <cstdint>

#include "core/status.h"
#include "nr_internal.h"

using voksc::anyNull;
using namespace voksc::nr;

namespace {
inline int16_t sat16(int64_t v) { return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v)); }
}  // namespace

VOKSC_EXPORT VokResult voksMul_NR_16s_Sfs(const Vok16s* a, const Vok16s* b, Vok16s* d, int len, int sf) {
  if (anyNull(a, b, d)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (sf < 0) return vokErrScale;
  mul(a, b, d, len, sf);
  return vokOk;
}

VOKSC_EXPORT VokResult voksMul_NR_16s_ISfs(const Vok16s* a, Vok16s* b, int len, int sf) {
  return voksMul_NR_16s_Sfs(a, b, b, len, sf);
}

VOKSC_EXPORT VokResult voksMulC_NR_16s_Sfs(const Vok16s* x, Vok16s c, Vok16s* d, int len, int sf) {
  if (anyNull(x, d)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (sf < 0) return vokErrScale;
  mulC(x, c, d, len, sf);
  return vokOk;
}

VOKSC_EXPORT VokResult voksMulC_NR_16s_ISfs(Vok16s c, Vok16s* x, int len, int sf) {
  return voksMulC_NR_16s_Sfs(x, c, x, len, sf);
}

// d[k] = x[k] c^k, the powers formed recursively with the same rounding;
// the scale factor is checked before the length.
VOKSC_EXPORT VokResult voksMulPowerC_NR_16s_Sfs(const Vok16s* x, Vok16s c, Vok16s* d, int len, int sf) {
  if (anyNull(x, d)) return vokErrNullPtr;
  if (sf < 0) return vokErrScale;
  if (len < 1) return vokErrSize;
  int16_t p = c;
  const int16_t first = x[0];
  for (int k = 1; k < len; ++k) {
    const int16_t xk = x[k];  // x and d may be the same array
    mulC_scalar(&xk, p, &d[k], 1, sf);
    mulC_scalar(&p, c, &p, 1, sf);
  }
  d[0] = first;
  return vokOk;
}

// Each constant counts as c 2^(sf - 16): the vector with the larger scale
// factor is brought to the smaller one before the common rounding shift
// by 16 - min(sf1, sf2).  Scale factors above 16 are not meaningful; they
// are computed without overflow and saturate.
VOKSC_EXPORT VokResult voksInterpolateC_NR_16s(const Vok16s* x1, Vok16s c1, int sf1, const Vok16s* x2, Vok16s c2,
                                               int sf2, Vok16s* d, int len) {
  if (anyNull(x1, x2, d)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (sf1 < 0 || sf2 < 0) return vokErrScale;
  const bool swap = sf2 > sf1;
  const Vok16s* first = swap ? x2 : x1;
  const Vok16s* second = swap ? x1 : x2;
  const int64_t cf = swap ? c2 : c1, cs = swap ? c1 : c2;
  const int lo = (swap ? sf1 : sf2) > 31 ? 31 : (swap ? sf1 : sf2);
  const int diff = (swap ? sf2 - sf1 : sf1 - sf2) > 31 ? 31 : (swap ? sf2 - sf1 : sf1 - sf2);
  const int shift = 16 - lo;
  const int64_t round = shift > 0 ? int64_t{1} << (shift - 1) : 0;
  for (int n = 0; n < len; ++n) {
    const int64_t v = first[n] * cf * (int64_t{1} << diff) + second[n] * cs + round;
    if (shift >= 0) {
      d[n] = sat16(v >> shift);
    } else {
      const int up = -shift;  // at most 15; |v| below 2^62
      d[n] = sat16(v > (int64_t{1} << 40) ? INT64_MAX : (v < -(int64_t{1} << 40) ? INT64_MIN : v * (int64_t{1} << up)));
    }
  }
  return vokOk;
}
