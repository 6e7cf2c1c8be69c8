// GSM-AMR 128-point real FFT of the second voice-activity detector: a
// 64-point complex FFT on the interleaved samples (each stage halving its
// results), then the split into the real spectrum.
#include <cstdint>
#include <utility>

#include "amr_internal.h"
#include "common/basic_op.h"
#include "core/status.h"
#include "vad2_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amr {

void realFft128(int16_t* x) {
  // Bit-reversed order of the 64 complex values.
  for (int i = 0; i < 64; ++i) {
    int r = 0;
    for (int b = 0; b < 6; ++b) r |= ((i >> b) & 1) << (5 - b);
    if (r > i) {
      std::swap(x[2 * i], x[2 * r]);
      std::swap(x[2 * i + 1], x[2 * r + 1]);
    }
  }
  // Radix-2 stages; every butterfly output is halved.
  for (int stage = 0; stage < 6; ++stage) {
    const int half = 2 << stage, span = 2 * half, twStep = 128 >> stage;
    for (int j = 0, tw = 0; j < half; j += 2, tw += twStep) {
      const int16_t c = kFftTwiddle[tw], s = kFftTwiddle[tw + 1];
      for (int top = j; top < 128; top += span) {
        int16_t* a = x + top;
        int16_t* b = x + top + half;
        const int16_t re = round_fx(L_msu(L_mult(b[0], c), b[1], s));
        const int16_t im = round_fx(L_mac(L_mult(b[1], c), b[0], s));
        b[0] = shr(sub(a[0], re), 1);
        b[1] = shr(sub(a[1], im), 1);
        a[0] = shr(add(a[0], re), 1);
        a[1] = shr(add(a[1], im), 1);
      }
    }
  }
  // DC and Nyquist, then the conjugate-symmetric pairs k and 64 - k.
  const int16_t d0 = x[0], d1 = x[1];
  x[0] = add(d0, d1);
  x[1] = sub(d0, d1);
  for (int i = 2; i <= 64; i += 2) {
    const int j = 128 - i;
    const int16_t sr = add(x[i], x[j]), di = sub(x[i + 1], x[j + 1]);
    const int16_t si = add(x[i + 1], x[j + 1]), dr = sub(x[j], x[i]);
    const int32_t hr = L_deposit_h(sr), hi = L_deposit_h(di);
    x[i] = round_fx(L_shr(L_msu(L_mac(hr, si, kFftTwiddle[i]), dr, kFftTwiddle[i + 1]), 1));
    x[i + 1] = round_fx(L_shr(L_mac(L_mac(hi, dr, kFftTwiddle[i]), si, kFftTwiddle[i + 1]), 1));
    x[j] = round_fx(L_shr(L_mac(L_mac(hr, si, kFftTwiddle[j]), dr, kFftTwiddle[j + 1]), 1));
    x[j + 1] = round_fx(L_shr(L_mac(L_msu(L_negate(hi), dr, kFftTwiddle[j]), si, kFftTwiddle[j + 1]), 1));
  }
}

}  // namespace voksc::amr

VOKSC_EXPORT VokResult voksFFTFwd_RToPerm_GSMAMR_16s_I(Vok16s* srcDst) {
  if (anyNull(srcDst)) return vokErrNullPtr;
  voksc::amr::realFft128(srcDst);
  return vokOk;
}
