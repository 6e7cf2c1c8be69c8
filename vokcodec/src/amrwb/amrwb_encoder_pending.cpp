// Stand-in for the AMR-WB encoder until amrwb_encoder.cpp lands (that change
// deletes this file and sets kEncoderReady): the entry points exist and
// refuse to run.
#include "amrwb/amrwb_codec.h"

namespace vokc::amrwb {

struct AmrWbEncoder {
  int unused;
};

std::size_t amrwbEncoderSize() { return sizeof(AmrWbEncoder); }
VokResult amrwbEncoderInit(AmrWbEncoder*, bool) { return vokErrInternal; }
VokResult amrwbEncodeFrame(AmrWbEncoder*, const int16_t*, int, FrameParams*) { return vokErrInternal; }

}  // namespace vokc::amrwb
