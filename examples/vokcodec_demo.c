/* Any codec by name: raw 16-bit PCM on stdin is encoded and decoded frame by
 * frame, the decoded PCM goes to stdout.  vokcodec_demo g729a <in.raw >out.raw */
#include <stdio.h>
#include <stdlib.h>

#include "vokcodec.h"

int main(int argc, char** argv) {
  const VokcCodec* codec = vokcCodecFind(argc > 1 ? argv[1] : "g729a");
  VokcCodecInfo info;
  VokcCoder *enc, *dec;
  if (vokcCodecGetInfo(codec, &info) != vokOk) return fprintf(stderr, "unknown codec\n"), 1;
  if (vokcEncoderCreate(codec, argc > 2 ? argv[2] : "", NULL, 0, &enc) != vokOk ||
      vokcDecoderCreate(codec, "", NULL, 0, &dec) != vokOk)
    return fprintf(stderr, "bad options\n"), 1;
  Vok16s* pcm = calloc((size_t)info.frameSamples, sizeof *pcm);
  Vok8u* payload = malloc((size_t)info.maxPayload);
  long bytesSent = 0, frames = 0;
  size_t got;
  while ((got = fread(pcm, sizeof *pcm, (size_t)info.frameSamples, stdin)) > 0) {
    int bytes, samples;
    while (got < (size_t)info.frameSamples) pcm[got++] = 0; /* the last frame padded with silence */
    if (vokcEncodeFrame(enc, pcm, payload, info.maxPayload, &bytes) != vokOk ||
        vokcDecodeFrame(dec, payload, bytes, pcm, &samples) != vokOk)
      return fprintf(stderr, "coding failed\n"), 1;
    fwrite(pcm, sizeof *pcm, (size_t)samples, stdout);
    bytesSent += bytes, ++frames;
  }
  fprintf(stderr, "%s: %ld frames, %ld payload bytes\n", info.name, frames, bytesSent);
  vokcDestroy(enc), vokcDestroy(dec), free(pcm), free(payload);
  return 0;
}
