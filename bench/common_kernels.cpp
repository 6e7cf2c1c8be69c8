// Correlation kernels against the plain operator chain (L_mac loop) that
// gives the same result.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "common/basic_op.h"
#include "common/kernels.h"
#include "voksc.h"

using namespace voksc::op;

namespace {

std::vector<int16_t> data(int n) {
  std::mt19937 rng(1);
  std::vector<int16_t> v(static_cast<std::size_t>(n));
  for (auto& x : v) x = static_cast<int16_t>(static_cast<int>(rng() % 4001) - 2000);
  return v;
}

void BM_AutoCorrNormE_240x11_voksc(benchmark::State& st) {
  auto x = data(240);
  Vok32s r[11];
  int norm;
  for (auto _ : st) {
    voksAutoCorr_NormE_16s32s(x.data(), 240, r, 11, &norm);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_AutoCorrNormE_240x11_voksc);

void BM_AutoCorrNormE_240x11_chain(benchmark::State& st) {
  auto x = data(240);
  Word32 r[11];
  for (auto _ : st) {
    Word32 s = 1;
    for (int i = 0; i < 240; ++i) s = L_mac(s, x[i], x[i]);
    Word16 n = norm_l(s);
    r[0] = L_shl(s, n);
    for (int k = 1; k < 11; ++k) {
      s = 0;
      for (int j = 0; j < 240 - k; ++j) s = L_mac(s, x[j], x[j + k]);
      r[k] = L_shl(s, n);
    }
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_AutoCorrNormE_240x11_chain);

void BM_LagMaxInv_80x124_voksc(benchmark::State& st) {
  auto buf = data(223);
  Vok32s mx;
  int lag;
  for (auto _ : st) {
    voksAutoCorrLagMax_Inv_16s(buf.data() + 143, 80, 20, 143, &mx, &lag);
    benchmark::DoNotOptimize(mx);
  }
}
BENCHMARK(BM_LagMaxInv_80x124_voksc);

void BM_LagMaxInv_80x124_chain(benchmark::State& st) {
  auto buf = data(223);
  const int16_t* x = buf.data() + 143;
  for (auto _ : st) {
    Word32 mx = kMin32;
    int lag = 143;
    for (int t = 143; t >= 20; --t) {
      Word32 s = 0;
      for (int j = 0; j < 80; ++j) s = L_mac(s, x[j], x[j - t]);
      if (L_sub(s, mx) >= 0) {
        mx = s;
        lag = t;
      }
    }
    benchmark::DoNotOptimize(mx);
    benchmark::DoNotOptimize(lag);
  }
}
BENCHMARK(BM_LagMaxInv_80x124_chain);

void BM_CrossCorr_40_voksc(benchmark::State& st) {
  auto a = data(40), b = data(40);
  Vok32s out[40];
  for (auto _ : st) {
    voksCrossCorr_16s32s_Sfs(a.data(), b.data(), 40, out, 0);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_CrossCorr_40_voksc);

void BM_CrossCorr_40_chain(benchmark::State& st) {
  auto a = data(40), b = data(40);
  Word32 out[40];
  for (auto _ : st) {
    for (int n = 0; n < 40; ++n) {
      Word32 s = 0;
      for (int i = n; i < 40; ++i) s = L_mac(s, a[i - n], b[i]);
      out[n] = s >> 1;
    }
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_CrossCorr_40_chain);

void BM_Dot_1024_scalar(benchmark::State& st) {
  auto a = data(1024), b = data(1024);
  for (auto _ : st) benchmark::DoNotOptimize(voksc::kern::dot_scalar(a.data(), b.data(), 1024));
}
BENCHMARK(BM_Dot_1024_scalar);

void BM_Dot_1024_avx2(benchmark::State& st) {
  auto a = data(1024), b = data(1024);
  for (auto _ : st) benchmark::DoNotOptimize(voksc::kern::dot_avx2(a.data(), b.data(), 1024));
}
BENCHMARK(BM_Dot_1024_avx2);

}  // namespace
