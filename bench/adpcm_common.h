// Shared input for the ADPCM benchmarks: the bundled speech sample, looped.
#ifndef VOKSC_BENCH_ADPCM_COMMON_H
#define VOKSC_BENCH_ADPCM_COMMON_H

#include <cstdint>
#include <cstdio>
#include <vector>

inline std::vector<int16_t> benchSpeech(std::size_t n) {
  std::vector<int16_t> s;
  if (std::FILE* f = std::fopen(VOKSC_BENCH_SAMPLE, "rb")) {
    int16_t b[4096];
    std::size_t k;
    while ((k = std::fread(b, 2, 4096, f)) > 0) s.insert(s.end(), b, b + k);
    std::fclose(f);
  }
  if (s.empty()) s.assign(8000, 0);
  std::vector<int16_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = s[i % s.size()];
  return out;
}

#endif
