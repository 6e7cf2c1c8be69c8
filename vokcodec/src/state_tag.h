// The tag every vokcodec coder object carries in its first word.  Init
// writes the coder's own tag; every later call checks it first, so an object
// that no Init of that coder formatted (never initialised, overwritten, or
// another coder's) is refused with vokErrContextMatch instead of trusted.
#ifndef VOKCODEC_STATE_TAG_H
#define VOKCODEC_STATE_TAG_H

#include <cstdint>

namespace vokc {

enum StateTag : uint32_t {
  kTagG729Encoder = 0x56433901u,  // G.729 / G.729A, with or without Annex B
  kTagG729Decoder = 0x56433902u,
  kTagG729DEncoder = 0x56433903u,
  kTagG729DDecoder = 0x56433904u,
  kTagG729EEncoder = 0x56433905u,
  kTagG729EDecoder = 0x56433906u,
  kTagG729IEncoder = 0x56433907u,
  kTagG729IDecoder = 0x56433908u,
  kTagG729FloatEncoder = 0x56433909u,
  kTagG729FloatDecoder = 0x5643390Au,
  kTagG726Encoder = 0x5643390Bu,
  kTagG726Decoder = 0x5643390Cu,
  kTagG722Encoder = 0x5643390Du,
  kTagG722Decoder = 0x5643390Eu,
};

}  // namespace vokc

#endif  // VOKCODEC_STATE_TAG_H
