// Tenth-order LP synthesis filters of the noise-reduction family (the
// G.729 synthesis filter with Q12 or Q13 coefficients).
#include <cstring>

#include "common/basic_op.h"
#include "common/kernels.h"
#include "core/status.h"
#include "nr_internal.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::nr {

bool synthesis(const int16_t* a, const int16_t* x, int16_t* y, int len, int sf, int16_t* mem, bool exact) {
  int16_t hist[10];
  std::memcpy(hist, mem, sizeof hist);
  const Word16 up = static_cast<Word16>(15 - sf);
  bool ovf = false;
  for (int n = 0; n < len; ++n) {
    Word32 s;
    if (exact) {
      int64_t acc = int64_t{x[n]} * a[0];
      for (int j = 1; j <= 10; ++j) acc -= int32_t{a[j]} * hist[10 - j];
      acc *= 2;
      if (acc > kMax32 || acc < kMin32) ovf = true;
      s = kern::sat32(acc);
    } else {
      MacChain c;
      c.mac(x[n], a[0]);
      for (int j = 1; j <= 10; ++j) c.msu(a[j], hist[10 - j]);
      s = c.value();
      if (c.spilled()) {
        s = L_mult_o(x[n], a[0], ovf);
        for (int j = 1; j <= 10; ++j) s = L_msu_o(s, a[j], hist[10 - j], ovf);
      }
    }
    s = L_shl_o(s, up, ovf);
    if (s >= 0x7FFF8000) ovf = true;  // the rounding addition saturates
    const int16_t out = round_fx(s);
    std::memmove(hist, hist + 1, 9 * sizeof(int16_t));
    hist[9] = out;
    y[n] = out;
  }
  std::memcpy(mem, hist, sizeof hist);
  return ovf;
}

}  // namespace voksc::nr

namespace {
bool badScale(int sf) { return sf != 12 && sf != 13; }
VokResult status(bool ovf) { return ovf ? vokWrnOverflow : vokOk; }
}  // namespace

// y = x / A(z); mem holds the ten past outputs, oldest first, and is
// updated.  A warning reports a saturated step; the outputs are valid.
VOKSC_EXPORT VokResult voksSynthesisFilter_NR_16s_Sfs(const Vok16s* a, const Vok16s* x, Vok16s* y, int len, int sf,
                                                      Vok16s* mem) {
  if (anyNull(a, x, y, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (badScale(sf)) return vokErrScale;
  return status(voksc::nr::synthesis(a, x, y, len, sf, mem, false));
}

VOKSC_EXPORT VokResult voksSynthesisFilter_NR_16s_ISfs(const Vok16s* a, Vok16s* x, int len, int sf, Vok16s* mem) {
  return voksSynthesisFilter_NR_16s_Sfs(a, x, x, len, sf, mem);
}

// The Low form sums each output exactly and saturates once.
VOKSC_EXPORT VokResult voksSynthesisFilterLow_NR_16s_ISfs(const Vok16s* a, Vok16s* x, int len, int sf, Vok16s* mem) {
  if (anyNull(a, x, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (badScale(sf)) return vokErrScale;
  return status(voksc::nr::synthesis(a, x, x, len, sf, mem, true));
}

// Impulse response of 1/A(z) from zero state: one unit in the
// coefficients' format (2^sf), then zeros.
VOKSC_EXPORT VokResult voksSynthesisFilterZeroStateResponse_NR_16s(const Vok16s* a, Vok16s* y, int len, int sf) {
  if (anyNull(a, y)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (badScale(sf)) return vokErrScale;
  Vok16s mem[10] = {};
  for (int n = 1; n < len; ++n) y[n] = 0;
  y[0] = static_cast<Vok16s>(1 << sf);
  return status(voksc::nr::synthesis(a, y, y, len, sf, mem, false));
}
