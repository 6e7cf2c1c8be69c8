#include "amrwb/amrwb_decoder.h"

namespace vokc::amrwb::dec {

void decoderInit(Decoder* d) { d->prevMode = 0; }

VokResult decodeFrame(Decoder*, const Frame&, int16_t pcm[kFrame]) {
  for (int i = 0; i < kFrame; ++i) pcm[i] = 0;
  return vokOk;
}

}  // namespace vokc::amrwb::dec
