// Correlation and scaling exports against the plain operator chain that
// gives the same result (every product through an L_mac-style operator, as
// reference code writes it), on frames of the speech sample.  Each pair
// checks once, before timing, that both give identical outputs.  The
// *_scalar / *_avx2 pairs time the two internal forms of one kernel.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/basic_op.h"
#include "common/kernels.h"
#include "common/math_ops.h"
#include "voksc.h"

using namespace voksc::op;
namespace kern = voksc::kern;

namespace {

// The speech sample brought down by 2 bits (so that the doubled energy of a
// 240-sample frame fits the reference's 32-bit sums), from sample 8000 on.
const std::vector<Vok16s>& speech() {
  static std::vector<Vok16s> s = [] {
    std::vector<Vok16s> v;
    if (std::FILE* f = std::fopen(VOKSC_BENCH_SAMPLE, "rb")) {
      Vok16s b[4096];
      std::size_t n;
      while ((n = std::fread(b, 2, 4096, f)) > 0) v.insert(v.end(), b, b + n);
      std::fclose(f);
    }
    if (v.size() < 12000) v.assign(12000, 0);
    for (auto& x : v) x = static_cast<Vok16s>(x >> 2);
    return std::vector<Vok16s>(v.begin() + 8000, v.end());
  }();
  return s;
}

// Ties-to-even division by 2^sf written with the operators (no saturating
// step is reached for the sums used here).
Word32 roundEvenChain(Word32 s, Word16 sf) {
  if (sf == 0) return s;
  return L_shr(L_add(L_add(s, L_shl(1, static_cast<Word16>(sf - 1)) - 1), L_shr(s, sf) & 1), sf);
}

template <class A, class B>
void requireSame(benchmark::State& st, const A& a, const B& b) {
  if (std::memcmp(&a, &b, sizeof a) != 0) st.SkipWithError("kernel and chain disagree");
}

// ---- autocorrelation ------------------------------------------------------

struct NormE {
  Word32 r[11];
  int norm;
};
NormE normEChain(const Vok16s* x) {
  NormE o{};
  Word32 s = 1;
  for (int i = 0; i < 240; ++i) s = L_mac(s, x[i], x[i]);
  o.norm = norm_l(s);
  o.r[0] = L_shl(s, static_cast<Word16>(o.norm));
  for (int k = 1; k < 11; ++k) {
    s = 0;
    for (int j = 0; j < 240 - k; ++j) s = L_mac(s, x[j], x[j + k]);
    o.r[k] = L_shl(s, static_cast<Word16>(o.norm));
  }
  return o;
}
NormE normEKernel(const Vok16s* x) {
  NormE o{};
  voksAutoCorr_NormE_16s32s(x, 240, o.r, 11, &o.norm);
  return o;
}

void BM_AutoCorrNormE_240x11_voksc(benchmark::State& st) {
  const Vok16s* x = speech().data();
  requireSame(st, normEKernel(x), normEChain(x));
  for (auto _ : st) benchmark::DoNotOptimize(normEKernel(x));
}
BENCHMARK(BM_AutoCorrNormE_240x11_voksc);
void BM_AutoCorrNormE_240x11_chain(benchmark::State& st) {
  const Vok16s* x = speech().data();
  for (auto _ : st) benchmark::DoNotOptimize(normEChain(x));
}
BENCHMARK(BM_AutoCorrNormE_240x11_chain);

struct Corr11 {
  Word32 r[11];
};
void BM_AutoCorr_240x11_voksc(benchmark::State& st) {
  const Vok16s* x = speech().data();
  auto run = [&] {
    Corr11 o;
    voksAutoCorr_16s32s(x, 240, o.r, 11);
    return o;
  };
  auto chain = [&] {
    Corr11 o;
    for (int k = 0; k < 11; ++k) {
      Word32 s = 0;
      for (int j = 0; j < 240 - k; ++j) s = L_mac0(s, x[j], x[j + k]);
      o.r[k] = s;
    }
    return o;
  };
  requireSame(st, run(), chain());
  for (auto _ : st) benchmark::DoNotOptimize(run());
}
BENCHMARK(BM_AutoCorr_240x11_voksc);
void BM_AutoCorr_240x11_chain(benchmark::State& st) {
  const Vok16s* x = speech().data();
  for (auto _ : st) {
    Corr11 o;
    for (int k = 0; k < 11; ++k) {
      Word32 s = 0;
      for (int j = 0; j < 240 - k; ++j) s = L_mac0(s, x[j], x[j + k]);
      o.r[k] = s;
    }
    benchmark::DoNotOptimize(o);
  }
}
BENCHMARK(BM_AutoCorr_240x11_chain);

// ---- lag-maximum searches ----------------------------------------------------

struct Pick {
  Word32 max;
  int lag;
};
// G.729 open-loop range on one 80-sample frame with 143 samples of history.
Pick lagInvChain(const Vok16s* x) {
  Pick p{kMin32, 143};
  for (int t = 143; t >= 20; --t) {
    Word32 s = 0;
    for (int j = 0; j < 80; ++j) s = L_mac(s, x[j], x[j - t]);
    if (L_sub(s, p.max) >= 0) p = {s, t};
  }
  return p;
}
Pick lagInvKernel(const Vok16s* x) {
  Pick p{};
  voksAutoCorrLagMax_Inv_16s(x, 80, 20, 143, &p.max, &p.lag);
  return p;
}
void BM_LagMaxInv_80x124_voksc(benchmark::State& st) {
  const Vok16s* x = speech().data() + 143;
  requireSame(st, lagInvKernel(x), lagInvChain(x));
  for (auto _ : st) benchmark::DoNotOptimize(lagInvKernel(x));
}
BENCHMARK(BM_LagMaxInv_80x124_voksc);
void BM_LagMaxInv_80x124_chain(benchmark::State& st) {
  const Vok16s* x = speech().data() + 143;
  for (auto _ : st) benchmark::DoNotOptimize(lagInvChain(x));
}
BENCHMARK(BM_LagMaxInv_80x124_chain);

Pick lagFwdChain(const Vok16s* x) {
  Pick p{kMin32, 0};
  for (int t = 20; t <= 143; ++t) {
    Word32 s = 0;
    for (int j = 0; j < 80; ++j) s = L_mac0(s, x[j], x[j + t]);
    Word32 v = s > 0x3FFFFFFF ? kMax32 : (s < -0x40000000 ? kMin32 : L_shl(s, 1));
    if (L_sub(v, p.max) > 0) p = {v, t};
  }
  return p;
}
Pick lagFwdKernel(const Vok16s* x) {
  Pick p{};
  voksAutoCorrLagMax_Fwd_16s(x, 80, 20, 143, &p.max, &p.lag);
  return p;
}
void BM_LagMaxFwd_80x124_voksc(benchmark::State& st) {
  const Vok16s* x = speech().data();
  requireSame(st, lagFwdKernel(x), lagFwdChain(x));
  for (auto _ : st) benchmark::DoNotOptimize(lagFwdKernel(x));
}
BENCHMARK(BM_LagMaxFwd_80x124_voksc);
void BM_LagMaxFwd_80x124_chain(benchmark::State& st) {
  const Vok16s* x = speech().data();
  for (auto _ : st) benchmark::DoNotOptimize(lagFwdChain(x));
}
BENCHMARK(BM_LagMaxFwd_80x124_chain);

Pick lagCrossChain(const Vok16s* x, const Vok16s* y) {
  Pick p{0, 60};
  for (int t = 0; t <= 60; ++t) {
    Word32 s = 0;
    for (int j = 0; j < 80; ++j) s = L_mac(s, x[j], y[j + t]);
    if (L_sub(s, p.max) > 0) p = {s, t};
  }
  return p;
}
Pick lagCrossKernel(const Vok16s* x, const Vok16s* y) {
  Pick p{};
  voksCrossCorrLagMax_16s(x, y, 80, 60, &p.max, &p.lag);
  return p;
}
void BM_CrossLagMax_80x61_voksc(benchmark::State& st) {
  const Vok16s *x = speech().data() + 400, *y = speech().data() + 350;
  requireSame(st, lagCrossKernel(x, y), lagCrossChain(x, y));
  for (auto _ : st) benchmark::DoNotOptimize(lagCrossKernel(x, y));
}
BENCHMARK(BM_CrossLagMax_80x61_voksc);
void BM_CrossLagMax_80x61_chain(benchmark::State& st) {
  const Vok16s *x = speech().data() + 400, *y = speech().data() + 350;
  for (auto _ : st) benchmark::DoNotOptimize(lagCrossChain(x, y));
}
BENCHMARK(BM_CrossLagMax_80x61_chain);

// ---- truncated correlation, normalised correlation ----------------------------

struct Out40 {
  Word32 v[40];
};
Out40 crossChain(const Vok16s* a, const Vok16s* b) {
  Out40 o;
  for (int n = 0; n < 40; ++n) {
    Word32 s = 0;
    for (int i = n; i < 40; ++i) s = L_mac0(s, a[i - n], b[i]);
    o.v[n] = s;
  }
  return o;
}
Out40 crossKernel(const Vok16s* a, const Vok16s* b) {
  Out40 o;
  voksCrossCorr_16s32s_Sfs(a, b, 40, o.v, 0);
  return o;
}
void BM_CrossCorr_40_voksc(benchmark::State& st) {
  const Vok16s *a = speech().data() + 1000, *b = speech().data() + 2000;
  requireSame(st, crossKernel(a, b), crossChain(a, b));
  for (auto _ : st) benchmark::DoNotOptimize(crossKernel(a, b));
}
BENCHMARK(BM_CrossCorr_40_voksc);
void BM_CrossCorr_40_chain(benchmark::State& st) {
  const Vok16s *a = speech().data() + 1000, *b = speech().data() + 2000;
  for (auto _ : st) benchmark::DoNotOptimize(crossChain(a, b));
}
BENCHMARK(BM_CrossCorr_40_chain);

struct Out40s {
  Word16 v[40];
};
// G.729's target correlation brought to 13 bits.
Out40s normMChain(const Vok16s* h, const Vok16s* x) {
  Word32 y32[40], mx = 0;
  for (int i = 0; i < 40; ++i) {
    Word32 s = 0;
    for (int j = i; j < 40; ++j) s = L_mac(s, x[j], h[j - i]);
    y32[i] = s;
    if (L_sub(L_abs(s), mx) > 0) mx = L_abs(s);
  }
  Word16 j = norm_l(mx);
  if (j > 16) j = 16;
  j = sub(18, j);
  Out40s o;
  for (int i = 0; i < 40; ++i) o.v[i] = extract_l(L_shr(y32[i], j));
  return o;
}
Out40s normMKernel(const Vok16s* h, const Vok16s* x) {
  Out40s o;
  voksCrossCorr_NormM_16s(h, x, 40, o.v);
  return o;
}
void BM_CrossCorrNormM_40_voksc(benchmark::State& st) {
  const Vok16s *h = speech().data() + 3000, *x = speech().data() + 3100;
  requireSame(st, normMKernel(h, x), normMChain(h, x));
  for (auto _ : st) benchmark::DoNotOptimize(normMKernel(h, x));
}
BENCHMARK(BM_CrossCorrNormM_40_voksc);
void BM_CrossCorrNormM_40_chain(benchmark::State& st) {
  const Vok16s *h = speech().data() + 3000, *x = speech().data() + 3100;
  for (auto _ : st) benchmark::DoNotOptimize(normMChain(h, x));
}
BENCHMARK(BM_CrossCorrNormM_40_chain);

// ---- partial convolution ------------------------------------------------------

Out40 convChain(const Vok16s* a, const Vok16s* b) {
  Out40 o;
  for (int n = 0; n < 40; ++n) {
    Word32 s = 0;
    for (int i = 0; i <= n; ++i) s = L_mac0(s, a[i], b[n - i]);
    o.v[n] = s;
  }
  return o;
}
Out40 convKernel(const Vok16s* a, const Vok16s* b) {
  Out40 o;
  voksConvPartial_16s32s(a, b, o.v, 40);
  return o;
}
void BM_ConvPartial_40_voksc(benchmark::State& st) {
  const Vok16s *a = speech().data() + 500, *b = speech().data() + 700;
  requireSame(st, convKernel(a, b), convChain(a, b));
  for (auto _ : st) benchmark::DoNotOptimize(convKernel(a, b));
}
BENCHMARK(BM_ConvPartial_40_voksc);
void BM_ConvPartial_40_chain(benchmark::State& st) {
  const Vok16s *a = speech().data() + 500, *b = speech().data() + 700;
  for (auto _ : st) benchmark::DoNotOptimize(convChain(a, b));
}
BENCHMARK(BM_ConvPartial_40_chain);

Out40s convSfsChain(const Vok16s* a, const Vok16s* h) {
  Out40s o;
  for (int n = 0; n < 40; ++n) {
    Word32 s = 0;
    for (int i = 0; i <= n; ++i) s = L_mac0(s, a[i], h[n - i]);
    o.v[n] = sat16(roundEvenChain(s, 12));
  }
  return o;
}
Out40s convSfsKernel(const Vok16s* a, const Vok16s* h) {
  Out40s o;
  voksConvPartial_16s_Sfs(a, h, o.v, 40, 12);
  return o;
}
void BM_ConvPartialSfs_40_voksc(benchmark::State& st) {
  const Vok16s *a = speech().data() + 500, *h = speech().data() + 900;
  requireSame(st, convSfsKernel(a, h), convSfsChain(a, h));
  for (auto _ : st) benchmark::DoNotOptimize(convSfsKernel(a, h));
}
BENCHMARK(BM_ConvPartialSfs_40_voksc);
void BM_ConvPartialSfs_40_chain(benchmark::State& st) {
  const Vok16s *a = speech().data() + 500, *h = speech().data() + 900;
  for (auto _ : st) benchmark::DoNotOptimize(convSfsChain(a, h));
}
BENCHMARK(BM_ConvPartialSfs_40_chain);

// ---- dot product with automatic scaling ---------------------------------------

struct Scaled {
  Word32 v;
  int scale;
};
Scaled dotChain(const Vok16s* a, const Vok16s* b, int n) {
  Word32 s = L_mult0(a[0], b[0]);
  for (int i = 1; i < n; ++i) s = L_mac(s, a[i], b[i]);
  return {s, 0};
}
Scaled dotKernel(const Vok16s* a, const Vok16s* b, int n) {
  Scaled o{};
  voksDotProdAutoScale_16s32s_Sfs(a, b, n, &o.v, &o.scale);
  return o;
}
void BM_DotProdAutoScale_80_voksc(benchmark::State& st) {
  const Vok16s *a = speech().data() + 1200, *b = speech().data() + 1300;
  requireSame(st, dotKernel(a, b, 80), dotChain(a, b, 80));
  for (auto _ : st) benchmark::DoNotOptimize(dotKernel(a, b, 80));
}
BENCHMARK(BM_DotProdAutoScale_80_voksc);
void BM_DotProdAutoScale_80_chain(benchmark::State& st) {
  const Vok16s *a = speech().data() + 1200, *b = speech().data() + 1300;
  for (auto _ : st) benchmark::DoNotOptimize(dotChain(a, b, 80));
}
BENCHMARK(BM_DotProdAutoScale_80_chain);

// ---- residual filter ----------------------------------------------------------

struct Out80s {
  Word16 v[80];
};
// Order-10 all-zero filter, Q12 coefficients (G.729 shape), scale 12.
const Vok16s kLpc[11] = {4096, -6931, 5539, -3108, 2211, -2026, 1574, -1088, 724, -386, 121};
Out80s residualChain(const Vok16s* x) {
  Out80s o;
  for (int n = 0; n < 80; ++n) {
    Word32 s = L_mult0(kLpc[0], x[n]);
    for (int i = 1; i <= 10; ++i) s = L_mac0(s, kLpc[i], x[n - i]);
    o.v[n] = sat16(roundEvenChain(s, 12));
  }
  return o;
}
Out80s residualKernel(const Vok16s* x) {
  Out80s o;
  voksResidualFilter_Low_16s_Sfs(kLpc, 10, x, o.v, 80, 12);
  return o;
}
void BM_ResidualFilter_o10x80_voksc(benchmark::State& st) {
  const Vok16s* x = speech().data() + 2500;
  requireSame(st, residualKernel(x), residualChain(x));
  for (auto _ : st) benchmark::DoNotOptimize(residualKernel(x));
}
BENCHMARK(BM_ResidualFilter_o10x80_voksc);
void BM_ResidualFilter_o10x80_chain(benchmark::State& st) {
  const Vok16s* x = speech().data() + 2500;
  for (auto _ : st) benchmark::DoNotOptimize(residualChain(x));
}
BENCHMARK(BM_ResidualFilter_o10x80_chain);

// ---- the two internal forms of the kernels --------------------------------------

void BM_Dot_1024_scalar(benchmark::State& st) {
  const Vok16s* a = speech().data();
  for (auto _ : st) benchmark::DoNotOptimize(kern::dot_scalar(a, a + 1024, 1024));
}
BENCHMARK(BM_Dot_1024_scalar);
void BM_Dot_1024_avx2(benchmark::State& st) {
  const Vok16s* a = speech().data();
  for (auto _ : st) benchmark::DoNotOptimize(kern::dot_avx2(a, a + 1024, 1024));
}
BENCHMARK(BM_Dot_1024_avx2);

void BM_Xcorr_80x124_scalar(benchmark::State& st) {
  const Vok16s* a = speech().data();
  int64_t out[124];
  for (auto _ : st) {
    kern::xcorr_scalar(a + 143, a, 80, 124, out);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_Xcorr_80x124_scalar);
void BM_Xcorr_80x124_avx2(benchmark::State& st) {
  const Vok16s* a = speech().data();
  int64_t out[124];
  for (auto _ : st) {
    kern::xcorr_avx2(a + 143, a, 80, 124, out);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_Xcorr_80x124_avx2);

void BM_ConvPartial_40_scalar(benchmark::State& st) {
  const Vok16s* a = speech().data();
  int64_t out[40];
  for (auto _ : st) {
    kern::convPartial_scalar(a, a + 200, 0, 40, out);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_ConvPartial_40_scalar);
void BM_ConvPartial_40_avx2(benchmark::State& st) {
  const Vok16s* a = speech().data();
  int64_t out[40];
  for (auto _ : st) {
    kern::convPartial_avx2(a, a + 200, 0, 40, out);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_ConvPartial_40_avx2);

void BM_Residual_o10x80_scalar(benchmark::State& st) {
  const Vok16s* x = speech().data() + 2500;
  Vok16s y[80];
  for (auto _ : st) {
    kern::residual_scalar(kLpc, 10, x, y, 80, 12);
    benchmark::DoNotOptimize(y);
  }
}
BENCHMARK(BM_Residual_o10x80_scalar);
void BM_Residual_o10x80_avx2(benchmark::State& st) {
  const Vok16s* x = speech().data() + 2500;
  Vok16s y[80];
  for (auto _ : st) {
    kern::residual_avx2(kLpc, 10, x, y, 80, 12);
    benchmark::DoNotOptimize(y);
  }
}
BENCHMARK(BM_Residual_o10x80_avx2);

}  // namespace
