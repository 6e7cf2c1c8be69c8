// The noise filters per 10 ms of speech in white noise (10 dB): the
// echo-canceller form (detector, then filter, per 16-sample block) at 8 and
// 16 kHz and levels 2 and 4, the moderate detector, and the RTA form;
// libspeexdsp's preprocessor (denoiser only) beside them when the build
// finds it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "voksc.h"

#if defined(HAVE_SPEEXDSP)
#include <speex/speex_preprocess.h>
#endif

namespace {

// The sample speech with white noise 10 dB below it, at 8 kHz or repeated
// sample by sample for 16 kHz (the cost does not depend on the spectrum).
std::vector<float> input(int fs) {
  std::ifstream f(VOKSC_BENCH_SAMPLE, std::ios::binary);
  std::vector<char> b((std::istreambuf_iterator<char>(f)), {});
  std::vector<float> x;
  uint32_t r = 1;
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
    const float v = static_cast<int16_t>(static_cast<uint8_t>(b[i]) | (static_cast<uint8_t>(b[i + 1]) << 8));
    for (int k = 0; k < fs / 8000; ++k) {
      r = r * 1664525u + 1013904223u;
      x.push_back(v + (static_cast<int32_t>(r) >> 16) * 0.03f);
    }
  }
  if (x.size() < 1600) x.assign(16000, 100.0f);
  return x;
}

void EcFilter(benchmark::State& state) {
  const int fs = static_cast<int>(state.range(0)), level = static_cast<int>(state.range(1));
  const int moderate = static_cast<int>(state.range(2));
  const auto x = input(fs);
  int n = 0;
  voksFilterNoiseGetStateSize_EC_32f(fs, &n);
  std::vector<unsigned char> mem(n);
  auto* st = reinterpret_cast<FilterNoiseState_EC_32f*>(mem.data());
  voksFilterNoiseInit_EC_32f(fs, st);
  voksFilterNoiseSetMode_EC_32f(1, st);
  const int frame = fs / 100;
  std::vector<float> y(frame);
  std::size_t at = 0;
  for (auto _ : state) {
    if (at + frame > x.size()) at = 0;
    for (int i = 0; i < frame; i += 16) {
      Vok64f ratio;
      Vok32f noise;
      int decision;
      if (moderate)
        voksFilterNoiseDetectModerate_EC_32f64f(&x[at + i], &x[i], &ratio, &noise, &decision, st);
      else
        voksFilterNoiseDetect_EC_32f64f(&x[at + i], &ratio, &noise, &decision, st);
      voksFilterNoiseLevel_EC_32f(level, st);
      voksFilterNoise_EC_32f(&x[at + i], &y[i], decision, st);
    }
    at += frame;
    benchmark::DoNotOptimize(y.data());
  }
  state.SetLabel("per 10 ms");
}
BENCHMARK(EcFilter)->ArgNames({"fs", "level", "moderate"})->Args({8000, 2, 0})->Args({8000, 4, 0})->Args({8000, 4, 1})->Args({16000, 4, 0})->Args({32000, 4, 0});

void RtaFilter(benchmark::State& state) {
  const int fs = static_cast<int>(state.range(0));
  const auto x = input(fs);
  int n = 0;
  voksFilterNoiseGetStateSize_RTA_32f(fs, &n);
  std::vector<unsigned char> mem(n);
  auto* st = reinterpret_cast<FilterNoiseState_RTA_32f*>(mem.data());
  voksFilterNoiseInit_RTA_32f(fs, st);
  voksFilterNoiseLevel_RTA_32f(3, st);
  const int frame = fs == 8000 ? 80 : 160, per10ms = fs / 100;
  std::vector<float> y(per10ms + frame);
  std::size_t at = 0;
  for (auto _ : state) {
    if (at + per10ms + frame > x.size()) at = 0;
    for (int i = 0; i < per10ms; i += frame) voksFilterNoise_RTA_32f(&x[at + i], &y[i], st);
    at += per10ms;
    benchmark::DoNotOptimize(y.data());
  }
  state.SetLabel("per 10 ms");
}
BENCHMARK(RtaFilter)->ArgName("fs")->Arg(8000)->Arg(16000);

#if defined(HAVE_SPEEXDSP)
void SpeexPreprocess(benchmark::State& state) {
  const int fs = static_cast<int>(state.range(0)), frame = fs / 100;
  const auto x = input(fs);
  SpeexPreprocessState* st = speex_preprocess_state_init(frame, fs);
  std::vector<spx_int16_t> y(frame);
  std::size_t at = 0;
  for (auto _ : state) {
    if (at + frame > x.size()) at = 0;
    for (int i = 0; i < frame; ++i) y[i] = static_cast<spx_int16_t>(std::lrint(std::fmax(std::fmin(x[at + i], 32767.f), -32768.f)));
    speex_preprocess_run(st, y.data());
    at += frame;
    benchmark::DoNotOptimize(y.data());
  }
  speex_preprocess_state_destroy(st);
  state.SetLabel("per 10 ms, denoiser");
}
BENCHMARK(SpeexPreprocess)->ArgName("fs")->Arg(8000)->Arg(16000);
#endif

}  // namespace
