// GSM-AMR encoder frame loop (being assembled; until then every call
// reports vokErrInternal).
#include "amrnb/amrnb_encoder.h"

#include <cstring>

namespace vokc::amrnb {

VokResult amrnbEncoderInit(AmrNbEncoder* enc, bool dtx, int vadOption) {
  if (!enc) return vokErrNullPtr;
  if (vadOption != 1 && vadOption != 2) return vokErrBadArg;
  std::memset(enc, 0, sizeof *enc);
  enc->dtx = dtx;
  enc->vadOption = vadOption;
  return vokOk;
}

VokResult amrnbEncodeFrame(AmrNbEncoder* enc, const int16_t*, int, int16_t*, int*, int*) {
  return enc ? vokErrInternal : vokErrNullPtr;
}

}  // namespace vokc::amrnb
