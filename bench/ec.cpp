// Echo cancellers per frame: the float subband canceller (built-in banks)
// at 8 and 16 kHz, the float full-band canceller, and speexdsp's echo
// canceller on the same tail when the build finds it.  Items are samples,
// so the items/s columns compare directly (ratio = speexdsp time per
// sample over ours).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "ec_cancellers.h"

#if defined(HAVE_SPEEXDSP)
#include <speex/speex_echo.h>
#endif

namespace {

// Far end white noise and its echo through a short decaying path.
struct Signals {
  std::vector<float> ref, mic;
  explicit Signals(int rate) : ref(rate), mic(rate) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-3000, 3000);
    for (auto& v : ref) v = u(rng);
    for (int n = 0; n < rate; ++n)
      for (int k = 0; k < 64 && k <= n; k += 7) mic[n] += ref[n - k] * 0.3f * std::exp(-0.05f * k);
  }
};

// Tail in samples: 256 at 8 kHz (32 ms), 512 at 16 kHz.
int tail(int rate) { return rate / 8000 * 256; }

template <class Canceller>
void run(benchmark::State& state, Canceller& ec, int rate) {
  const Signals s(rate);
  const int frame = ec.frame();
  std::vector<float> out(frame);
  int at = 0;
  for (auto _ : state) {
    ec.process(&s.ref[at], &s.mic[at], out.data());
    benchmark::DoNotOptimize(out.data());
    at = at + 2 * frame <= rate ? at + frame : 0;
  }
  state.SetItemsProcessed(state.iterations() * frame);
}

void SubbandFrame(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  vbench::SubbandCanceller ec(rate, rate == 8000 ? 12 : 14);
  run(state, ec, rate);
}
void FullbandFrame(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  vbench::FullbandCanceller ec(rate, rate / 100, tail(rate));
  run(state, ec, rate);
}
BENCHMARK(SubbandFrame)->Arg(8000)->Arg(16000);
BENCHMARK(FullbandFrame)->Arg(8000)->Arg(16000);

#if defined(HAVE_SPEEXDSP)
void SpeexdspFrame(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0)), frame = rate / 100;
  SpeexEchoState* st = speex_echo_state_init(frame, tail(rate));
  int r = rate;
  speex_echo_ctl(st, SPEEX_ECHO_SET_SAMPLING_RATE, &r);
  const Signals s(rate);
  std::vector<spx_int16_t> ref(s.ref.begin(), s.ref.end()), mic(s.mic.begin(), s.mic.end()), out(frame);
  int at = 0;
  for (auto _ : state) {
    speex_echo_cancellation(st, &mic[at], &ref[at], out.data());
    benchmark::DoNotOptimize(out.data());
    at = at + 2 * frame <= rate ? at + frame : 0;
  }
  state.SetItemsProcessed(state.iterations() * frame);
  speex_echo_state_destroy(st);
}
BENCHMARK(SpeexdspFrame)->Arg(8000)->Arg(16000);
#endif

}  // namespace
