// Prints the library's version record and runs the autocorrelation and
// normalisation kernels over a short speech sample, frame by frame.
#include <cstdio>
#include <vector>

#include "voksc.h"

int main(int argc, char** argv) {
  const vokLibraryVersion* v = vokscGetLibVersion();
  std::printf("%s %s, built %s (cpu %s)\n", v->name, v->versionText, v->buildDate, v->cpuCode);
  const char* path = argc > 1 ? argv[1] : VOKSC_SAMPLE;
  std::FILE* f = std::fopen(path, "rb");
  if (!f) {
    std::fprintf(stderr, "voksc_demo: cannot open %s\n", path);
    return 1;
  }
  std::vector<Vok16s> pcm;
  Vok16s buf[4096];
  size_t n;
  while ((n = std::fread(buf, 2, 4096, f)) > 0) pcm.insert(pcm.end(), buf, buf + n);
  std::fclose(f);
  const int frame = 240;
  int frames = 0, overflow = 0;
  long long normSum = 0;
  for (size_t pos = 0; pos + frame <= pcm.size(); pos += 80, ++frames) {
    Vok32s r[11];
    int norm = 0;
    VokResult st = voksAutoCorr_NormE_16s32s(&pcm[pos], frame, r, 11, &norm);
    if (st == vokWrnOverflow) {
      ++overflow;
      Vok16s scaled[frame];
      int sc = 3;
      voksAutoScale_16s(&pcm[pos], scaled, frame, &sc);
      st = voksAutoCorr_NormE_16s32s(scaled, frame, r, 11, &norm);
    }
    if (st < 0) {
      std::fprintf(stderr, "voksc_demo: autocorrelation failed (%d)\n", st);
      return 1;
    }
    normSum += norm;
  }
  std::printf("%zu samples, %d frames analysed, %d rescaled after overflow, mean norm %.2f\n",
              pcm.size(), frames, overflow, frames ? double(normSum) / frames : 0.0);
  return 0;
}
