/* A program built against an installed voksc: codes one second of a tone
 * with a codec found by name and decodes it back. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <vokcodec.h>
#include <voksc.h>

int main(int argc, char** argv) {
  const char* name = argc > 1 ? argv[1] : "g729a";
  const VokcCodec* codec = vokcCodecFind(name);
  VokcCodecInfo info;
  VokcCoder *enc, *dec;
  if (!codec || vokcCodecGetInfo(codec, &info) != vokOk) return 1;
  if (vokcEncoderCreate(codec, "", NULL, 0, &enc) != vokOk || vokcDecoderCreate(codec, "", NULL, 0, &dec) != vokOk)
    return 2;
  Vok16s* pcm = malloc(sizeof(Vok16s) * (size_t)info.frameSamples);
  Vok8u* payload = malloc((size_t)info.maxPayload);
  long total = 0;
  double energy = 0;
  for (int f = 0; f < info.sampleRate / info.frameSamples; ++f) {
    int bytes, samples;
    for (int i = 0; i < info.frameSamples; ++i)
      pcm[i] = (Vok16s)(8000 * sin(6.2832 * 440 * (f * info.frameSamples + i) / info.sampleRate));
    if (vokcEncodeFrame(enc, pcm, payload, info.maxPayload, &bytes) != vokOk) return 3;
    if (vokcDecodeFrame(dec, payload, bytes, pcm, &samples) != vokOk) return 4;
    total += bytes;
    for (int i = 0; i < samples; ++i) energy += (double)pcm[i] * pcm[i];
  }
  vokcDestroy(enc);
  vokcDestroy(dec);
  free(pcm);
  free(payload);
  printf("%s: %ld bytes per second, voksc %s\n", info.name, total, vokscGetLibVersion()->versionText);
  return energy > 1e9 ? 0 : 5;
}
