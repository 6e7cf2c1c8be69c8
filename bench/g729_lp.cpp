// G.729 LP analysis steps against their plain operator-chain forms (every
// product and sum through the saturating operators, as the reference writes
// them): the LSF quantiser, its first-stage search, the Levinson-Durbin
// recursion at orders 10 and 30, and the Annex E hybrid window.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "g729/lp_internal.h"
#include "voksc.h"

using namespace voksc::g729;

namespace {

// LSF sets of a slowly moving spectrum (Q13), as a coder meets them.
std::vector<int16_t> lsfFrames(int frames) {
  std::mt19937 rng(1);
  std::vector<int16_t> v;
  for (int f = 0; f < frames; ++f) {
    int x = 0;
    for (int j = 0; j < 10; ++j) {
      x += 1200 + static_cast<int>(1400 * (1 + std::sin(0.05 * f + j))) + static_cast<int>(rng() % 300);
      v.push_back(static_cast<int16_t>(x < 25000 ? x : 25000));
    }
  }
  return v;
}

void resetMemory(int16_t* mem) {
  for (int k = 0; k < 4; ++k)
    for (int j = 0; j < 10; ++j) mem[10 * k + j] = static_cast<int16_t>(2339 * (j + 1));
}

template <void (*kQuant)(const int16_t*, int16_t*, int16_t*, int16_t*, int16_t*)>
void lsfQuantBench(benchmark::State& st) {
  const std::vector<int16_t> lsf = lsfFrames(64);
  int16_t mem[40], q[10], idx[4];
  resetMemory(mem);
  int f = 0;
  for (auto _ : st) {
    kQuant(&lsf[10 * (f++ & 63)], mem, q, idx, nullptr);
    benchmark::DoNotOptimize(q);
  }
}
void BM_LsfQuant_voksc(benchmark::State& st) { lsfQuantBench<lsfQuantise>(st); }
void BM_LsfQuant_chain(benchmark::State& st) { lsfQuantBench<lsfQuantiseChain>(st); }
BENCHMARK(BM_LsfQuant_voksc);
BENCHMARK(BM_LsfQuant_chain);

// The exported path, LSP in and out.
void BM_LspQuant_export(benchmark::State& st) {
  const std::vector<int16_t> lsf = lsfFrames(64);
  std::vector<int16_t> lsp(lsf.size());
  for (std::size_t i = 0; i < lsf.size(); i += 10) voksLSFToLSP_G729_16s(&lsf[i], &lsp[i]);
  int16_t mem[40], q[10], packed[2];
  resetMemory(mem);
  int f = 0;
  for (auto _ : st) {
    voksLSPQuant_G729_16s(&lsp[10 * (f++ & 63)], mem, q, packed);
    benchmark::DoNotOptimize(q);
  }
}
BENCHMARK(BM_LspQuant_export);

template <int (*kSearch)(const int16_t*)>
void stage1Bench(benchmark::State& st) {
  const std::vector<int16_t> lsf = lsfFrames(64);
  int f = 0;
  for (auto _ : st) benchmark::DoNotOptimize(kSearch(&lsf[10 * (f++ & 63)]));
}
void BM_Stage1_avx2(benchmark::State& st) { stage1Bench<lspStage1Search_avx2>(st); }
void BM_Stage1_scalar(benchmark::State& st) { stage1Bench<lspStage1Search_scalar>(st); }
BENCHMARK(BM_Stage1_avx2);
BENCHMARK(BM_Stage1_scalar);

// Normalised autocorrelations of an all-pole signal.
std::vector<int32_t> autocorrelation(int order) {
  std::mt19937 rng(2);
  std::vector<double> x(240);
  double m1 = 0, m2 = 0;
  for (double& v : x) {
    v = static_cast<double>(rng() % 2001) - 1000 + 1.6 * m1 - 0.8 * m2;
    m2 = m1;
    m1 = v;
  }
  std::vector<double> r(order + 1);
  for (int k = 0; k <= order; ++k)
    for (int n = k; n < 240; ++n) r[k] += x[n] * x[n - k];
  std::vector<int32_t> q(order + 1);
  for (int k = 0; k <= order; ++k) q[k] = static_cast<int32_t>(r[k] / r[0] * 0x7FFF0000);
  return q;
}

template <bool (*kLev)(const int32_t*, int, int16_t*, int16_t*, int16_t*)>
void levinsonBench(benchmark::State& st) {
  const int order = static_cast<int>(st.range(0));
  const std::vector<int32_t> r = autocorrelation(order);
  int16_t a[31], rc[30], err;
  for (auto _ : st) {
    benchmark::DoNotOptimize(kLev(r.data(), order, a, rc, &err));
    benchmark::DoNotOptimize(a);
  }
}
void BM_Levinson_voksc(benchmark::State& st) { levinsonBench<lpLevinson>(st); }
void BM_Levinson_chain(benchmark::State& st) { levinsonBench<lpLevinsonChain>(st); }
BENCHMARK(BM_Levinson_voksc)->Arg(10)->Arg(30);
BENCHMARK(BM_Levinson_chain)->Arg(10)->Arg(30);

template <void (*kWin)(const int16_t*, int32_t*, int32_t*)>
void hybridBench(benchmark::State& st) {
  std::mt19937 rng(4);
  std::vector<int16_t> x(145 + 80 * 32);
  double ph = 0;
  for (auto& v : x) v = static_cast<int16_t>(4000 * std::sin(ph += 0.13) + static_cast<int>(rng() % 801) - 400);
  int32_t state[31] = {}, r[31];
  int f = 0;
  for (auto _ : st) {
    kWin(&x[80 * (f++ & 31)], r, state);
    benchmark::DoNotOptimize(r);
  }
}
void BM_WinHybrid_avx2(benchmark::State& st) { hybridBench<winHybrid_avx2>(st); }
void BM_WinHybrid_scalar(benchmark::State& st) { hybridBench<winHybrid_scalar>(st); }
void BM_WinHybrid_chain(benchmark::State& st) { hybridBench<winHybrid_chain>(st); }
BENCHMARK(BM_WinHybrid_avx2);
BENCHMARK(BM_WinHybrid_scalar);
BENCHMARK(BM_WinHybrid_chain);

}  // namespace
