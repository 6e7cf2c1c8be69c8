// GSM-AMR excitation of a subframe from its adaptive and code vectors, as
// the encoder's local synthesis and the decoder form it.
#ifndef VOKCODEC_AMRNB_EXCITATION_H
#define VOKCODEC_AMRNB_EXCITATION_H

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "basic_op.h"

namespace vokc::amrnb {

// x[i] = round(L_shl(L_mac(L_mult(x[i], xGain), c[i], cGain), shift)) over
// a 40-sample subframe (shift 1 or 2).  With 2 (max|x| |xGain| + max|c|
// |cGain|) 2^shift below 2^31 - 2^15 no step of that chain saturates (its
// partial sums are smaller), so the plain sum, rounded once, gives the same
// words.
inline void mixExcitation(int16_t* x, int16_t xGain, const int16_t* c, int16_t cGain, int shift) {
  constexpr int kLen = 40;
  int32_t xTop = 0, cTop = 0;
  for (int i = 0; i < kLen; ++i) {
    xTop = std::max(xTop, std::abs(int32_t{x[i]}));
    cTop = std::max(cTop, std::abs(int32_t{c[i]}));
  }
  const int64_t bound = 2 * (int64_t{xTop} * std::abs(int32_t{xGain}) + int64_t{cTop} * std::abs(int32_t{cGain}));
  if ((bound << shift) < (int64_t{1} << 31) - 0x8000) {
    const int32_t scale = 2 << shift;
    for (int i = 0; i < kLen; ++i)
      x[i] = static_cast<int16_t>(((x[i] * int32_t{xGain} + c[i] * int32_t{cGain}) * scale + 0x8000) >> 16);
    return;
  }
  using namespace voksc::op;
  for (int i = 0; i < kLen; ++i) x[i] = round_fx(L_shl(L_mac(L_mult(x[i], xGain), c[i], cGain), shift));
}

}  // namespace vokc::amrnb

#endif  // VOKCODEC_AMRNB_EXCITATION_H
