// Pieces shared by the G.729 Annex I (integrated 6.4 / 8 / 11.8 kbit/s coder
// with discontinuous transmission) encoder and decoder: frame types, bit
// allocations of every frame type and reset values; the frame-loop glue
// common to the G.729 family is in g729_common.h.
#ifndef VOKCODEC_G729I_COMMON_H
#define VOKCODEC_G729I_COMMON_H

#include <cstdint>
#include <cstring>

#include "g729_common.h"

namespace vokc::g729i {

using namespace vokc::g729;

constexpr int16_t kNoiseSeed = 11111;  // comfort-noise generator at reset

// Frame types as carried in the parameter vector.
enum FrameType : int16_t { kUntransmitted = 0, kSid = 1, kRate64 = 2, kRate80 = 3, kRate118 = 4 };

// Bits per frame of each type (the SID frame is padded to 16 in octet mode).
constexpr int kBitsSid = 15;
constexpr int kBitsSidOctet = 16;

// Parameter bit widths in transmission order.
constexpr int kSidBits[4] = {1, 5, 4, 5};
constexpr int kBits64[10] = {8, 10, 8, 9, 2, 6, 4, 9, 2, 6};
constexpr int kBits80[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
constexpr int kBits118Fwd[17] = {8, 10, 8, 1, 7, 7, 7, 7, 7, 7, 5, 7, 7, 7, 7, 7, 7};
constexpr int kBits118Bwd[15] = {8, 1, 13, 10, 7, 7, 7, 7, 5, 13, 10, 7, 7, 7, 7};

// LSPs of the first comfort-noise frame.
constexpr int16_t kLspSidReset[kOrder] = {31441, 27566, 21458, 13612, 4663, -4663, -13612, -21458, -27566, -31441};
// MA predictor memory at reset (Q13): the LSFs pi (j + 1) / 11.
constexpr int16_t kLsfReset[kOrder] = {2339, 4679, 7018, 9358, 11698, 14037, 16377, 18717, 21056, 23396};

}  // namespace vokc::g729i

#endif  // VOKCODEC_G729I_COMMON_H
