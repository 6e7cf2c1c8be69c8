// Prints the library's version record, then runs the codec-neutral kernels
// over 8 kHz speech (16-bit little-endian raw; the bundled sample by
// default): the normalised autocorrelation of 240-sample windows every 80
// samples, block normalisation when a window is too loud for it, and an
// open-loop pitch estimate of each window's last 80 samples.
#include <algorithm>
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

  const int window = 240, frame = 80;
  int frames = 0, rescaled = 0, voiced = 0;
  long long normSum = 0;
  double r1Sum = 0;
  std::vector<double> pitchHz;
  for (size_t pos = 0; pos + window <= pcm.size(); pos += frame, ++frames) {
    Vok16s x[window];
    std::copy(&pcm[pos], &pcm[pos] + window, x);
    Vok32s r[11];
    int norm = 0;
    // Too loud for the 32-bit energy: normalise the block with growing
    // headroom until it fits (4 spare bits always do for 240 samples).
    VokResult st = voksAutoCorr_NormE_16s32s(x, window, r, 11, &norm);
    for (int headroom = 2; st == vokWrnOverflow; ++headroom) {
      int scale = headroom;
      if (voksAutoScale_16s(&pcm[pos], x, window, &scale) != vokOk) return 1;
      st = voksAutoCorr_NormE_16s32s(x, window, r, 11, &norm);
      if (st == vokOk) ++rescaled;
    }
    if (st < 0) {
      std::fprintf(stderr, "voksc_demo: autocorrelation failed (%d)\n", st);
      return 1;
    }
    normSum += norm;
    r1Sum += double(r[1]) / double(r[0]);

    // Pitch: the last 80 samples against delays 20..143 of the same window.
    const Vok16s* cur = x + window - frame;
    Vok32s best = 0, energy = 0;
    int lag = 0;
    if (voksAutoCorrLagMax_Inv_16s(cur, frame, 20, 143, &best, &lag) != vokOk) return 1;
    if (voksAutoCorr_16s32s(cur, frame, &energy, 1) != vokOk) return 1;
    if (energy > 0 && best / (2.0 * energy) > 0.6) {
      ++voiced;
      pitchHz.push_back(8000.0 / lag);
    }
  }
  std::printf("%zu samples (%.2f s), %d windows of %d every %d samples\n", pcm.size(), pcm.size() / 8000.0, frames,
              window, frame);
  std::printf("normalised autocorrelation: mean norm %.2f, mean r1/r0 %.3f, %d windows rescaled first\n",
              frames ? double(normSum) / frames : 0.0, frames ? r1Sum / frames : 0.0, rescaled);
  if (!pitchHz.empty()) {
    std::sort(pitchHz.begin(), pitchHz.end());
    std::printf("open-loop pitch: %d voiced windows, median %.1f Hz (quartiles %.1f .. %.1f Hz)\n", voiced,
                pitchHz[pitchHz.size() / 2], pitchHz[pitchHz.size() / 4], pitchHz[3 * pitchHz.size() / 4]);
  } else {
    std::printf("open-loop pitch: no voiced windows\n");
  }
  return 0;
}
