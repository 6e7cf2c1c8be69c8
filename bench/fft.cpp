// The internal real FFT (scalar and AVX2 kernel forms) at orders 5-10
// against a plain iterative radix-2 complex FFT of the real input (the
// textbook form: bit reversal, then log2 N butterfly passes with a
// twiddle table).  libfftw3 is compared when the build finds it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "fft/fft.h"

#if defined(HAVE_FFTW3)
#include <fftw3.h>
#endif

namespace {

using namespace voksc::fft;

struct Setup {
  std::vector<unsigned char> mem, work;
  RealFftSpec_32f* plan = nullptr;
  std::vector<float> x, y;
  explicit Setup(int order) {
    int a, b, c;
    realFftGetSize_32f(order, kNoScale, 0, &a, &b, &c);
    mem.resize(a);
    std::vector<unsigned char> setup(b + 1);
    work.resize(c + 64);
    realFftInit_32f(&plan, order, kNoScale, 0, mem.data(), setup.data());
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(-1, 1);
    x.resize(1 << order);
    y.resize((1 << order) + 2);
    for (auto& v : x) v = u(rng);
  }
};

void forwardForm(benchmark::State& state, voksc::cpu::Level level) {
  if (level > voksc::cpu::supported()) {
    state.SkipWithError("form not supported here");
    return;
  }
  Setup s(static_cast<int>(state.range(0)));
  const Kernels& k = kernelsFor(level);
  std::vector<float> work(s.x.size() + 64);
  for (auto _ : state) {
    forward(*s.plan, s.x.data(), s.y.data(), work.data(), k);
    benchmark::DoNotOptimize(s.y.data());
  }
}
void ForwardScalar(benchmark::State& state) { forwardForm(state, voksc::cpu::Level::kScalar); }
void ForwardAvx2(benchmark::State& state) { forwardForm(state, voksc::cpu::Level::kAvx2); }

void RoundTripChecked(benchmark::State& state) {  // the checked entry points, forward then inverse
  Setup s(static_cast<int>(state.range(0)));
  std::vector<float> back(s.x.size());
  for (auto _ : state) {
    realFftFwd_32f(s.x.data(), s.y.data(), s.plan, nullptr);
    realFftInv_32f(s.y.data(), back.data(), s.plan, nullptr);
    benchmark::DoNotOptimize(back.data());
  }
}

void PlainRadix2(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0)), n = 1 << order;
  std::vector<std::complex<float>> tw(n / 2), a(n);
  for (int k = 0; k < n / 2; ++k) tw[k] = std::polar(1.0f, static_cast<float>(-2 * M_PI * k / n));
  std::vector<int> rev(n);
  for (int k = 0; k < n; ++k)
    for (int b = 0; b < order; ++b) rev[k] |= ((k >> b) & 1) << (order - 1 - b);
  Setup s(order);
  for (auto _ : state) {
    for (int k = 0; k < n; ++k) a[rev[k]] = s.x[k];
    for (int len = 2; len <= n; len *= 2)
      for (int base = 0; base < n; base += len)
        for (int k = 0; k < len / 2; ++k) {
          const std::complex<float> t = a[base + k + len / 2] * tw[k * (n / len)];
          a[base + k + len / 2] = a[base + k] - t;
          a[base + k] += t;
        }
    benchmark::DoNotOptimize(a.data());
  }
}

#if defined(HAVE_FFTW3)
void Fftw3(benchmark::State& state) {
  const int n = 1 << state.range(0);
  Setup s(static_cast<int>(state.range(0)));
  fftwf_complex* out = fftwf_alloc_complex(n / 2 + 1);
  fftwf_plan p = fftwf_plan_dft_r2c_1d(n, s.x.data(), out, FFTW_MEASURE);
  for (auto _ : state) fftwf_execute(p);
  fftwf_destroy_plan(p);
  fftwf_free(out);
}
BENCHMARK(Fftw3)->DenseRange(5, 10);
#endif

BENCHMARK(ForwardScalar)->DenseRange(5, 10);
BENCHMARK(ForwardAvx2)->DenseRange(5, 10);
BENCHMARK(PlainRadix2)->DenseRange(5, 10);
BENCHMARK(RoundTripChecked)->DenseRange(5, 10);

}  // namespace
