// AMR-WB decoder assembled from the voksc exports and the steps they leave
// to the coder: frame types and concealment, the nine speech modes, comfort
// noise, 16 kHz synthesis with the generated high band, decoder homing.
#ifndef VOKCODEC_AMRWB_DECODER_H
#define VOKCODEC_AMRWB_DECODER_H

#include <cstdint>

#include "amrwb/amrwb_bits.h"
#include "voksc.h"

namespace vokc::amrwb::dec {

constexpr bool kDecoderReady = false;

struct Decoder {
  int prevMode;
};

void decoderInit(Decoder* d);
// One frame to 320 samples at 16 kHz.
VokResult decodeFrame(Decoder* d, const Frame& f, int16_t pcm[kFrame]);

}  // namespace vokc::amrwb::dec

#endif  // VOKCODEC_AMRWB_DECODER_H
