// G.729 Annex I encoder (in progress).
#include "g729i_common.h"
#include "vokcodec.h"

extern "C" {
VokResult vokcG729IEncoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  *size = 16;
  return vokOk;
}
VokResult vokcG729IEncoderInit(void* mem, int) { return mem ? vokOk : vokErrNullPtr; }
VokResult vokcG729IEncode(void*, const Vok16s*, int, Vok8u*, int*) { return vokErrInternal; }
}
