// G.729 filters and post-filter kernels against plain operator-chain forms
// of the same computation (every product through L_mac / L_msu, as the
// reference writes it), and the AVX2 forms against the scalar ones.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "common/basic_op.h"
#include "g729/filt_internal.h"
#include "g729/pst_internal.h"
#include "voksc.h"

using namespace voksc::op;

namespace {

std::vector<Vok16s> speechLike(int n, unsigned seed, double amp = 3000) {
  std::mt19937 rng(seed);
  std::vector<Vok16s> v(static_cast<std::size_t>(n));
  double ph = 0;
  for (auto& x : v) {
    ph += 0.11;
    x = static_cast<Vok16s>(amp * std::sin(ph) + static_cast<int>(rng() % 601) - 300);
  }
  return v;
}

std::vector<Vok16s> lpc(int order) {
  std::vector<Vok16s> a(static_cast<std::size_t>(order) + 1);
  a[0] = 4096;
  for (int i = 1; i <= order; ++i) a[i] = static_cast<Vok16s>(((i & 1) ? -1 : 1) * 3000 / i);
  return a;
}

void residualChain(const Vok16s* a, int order, const Vok16s* x, Vok16s* y, int len) {
  for (int n = 0; n < len; ++n) {
    Word32 s = L_mult(x[n], a[0]);
    for (int j = 1; j <= order; ++j) s = L_mac(s, a[j], x[n - j]);
    y[n] = round_fx(L_shl(s, 3));
  }
}

template <int Order, int Len, int Form>
void BM_Residual(benchmark::State& st) {
  auto x = speechLike(Order + Len, 1);
  auto a = lpc(Order);
  std::vector<Vok16s> y(Len);
  for (auto _ : st) {
    if (Form == 0) voksc::g729::residualFilter_avx2(a.data(), Order, x.data() + Order, y.data(), Len);
    if (Form == 1) voksc::g729::residualFilter_scalar(a.data(), Order, x.data() + Order, y.data(), Len);
    if (Form == 2) residualChain(a.data(), Order, x.data() + Order, y.data(), Len);
    benchmark::DoNotOptimize(y.data());
  }
}
BENCHMARK(BM_Residual<10, 40, 0>)->Name("Residual10x40/avx2");
BENCHMARK(BM_Residual<10, 40, 1>)->Name("Residual10x40/scalar");
BENCHMARK(BM_Residual<10, 40, 2>)->Name("Residual10x40/chain");
BENCHMARK(BM_Residual<30, 80, 0>)->Name("Residual30x80/avx2");
BENCHMARK(BM_Residual<30, 80, 1>)->Name("Residual30x80/scalar");
BENCHMARK(BM_Residual<30, 80, 2>)->Name("Residual30x80/chain");

void BM_Synthesis(benchmark::State& st) {
  auto x = speechLike(40, 2, 800);
  auto a = lpc(10);
  Vok16s y[40], mem[10] = {};
  for (auto _ : st) {
    benchmark::DoNotOptimize(voksSynthesisFilter_G729E_16s(a.data(), 10, x.data(), y, 40, mem));
  }
}
BENCHMARK(BM_Synthesis)->Name("Synthesis10x40/export");

void BM_SynthesisChain(benchmark::State& st) {
  auto x = speechLike(40, 2, 800);
  auto a = lpc(10);
  Vok16s buf[50] = {};
  for (auto _ : st) {
    for (int n = 0; n < 40; ++n) {
      Word32 s = L_mult(x[n], a[0]);
      for (int j = 1; j <= 10; ++j) s = L_msu(s, a[j], buf[10 + n - j]);
      buf[10 + n] = round_fx(L_shl(s, 3));
    }
    benchmark::DoNotOptimize(buf);
    std::copy(buf + 40, buf + 50, buf);
  }
}
BENCHMARK(BM_SynthesisChain)->Name("Synthesis10x40/chain");

// The long-term post-filter's kernels: a 40-sample correlation and the
// interpolation filters (7 phases x 41 samples x 4 taps, 40 x 16 taps).
template <int Form>
void BM_PstDot(benchmark::State& st) {
  auto a = speechLike(40, 3, 4000), b = speechLike(40, 4, 4000);
  for (auto _ : st) {
    int32_t s = 0;
    if (Form == 0) s = voksc::g729::pstDot_avx2(a.data(), b.data(), 40);
    if (Form == 1) s = voksc::g729::pstDot_scalar(a.data(), b.data(), 40);
    if (Form == 2) {
      Word32 c = 0;
      for (int i = 0; i < 40; ++i) c = L_mac(c, a[i], b[i]);
      s = c;
    }
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_PstDot<0>)->Name("PstCorrelation40/avx2");
BENCHMARK(BM_PstDot<1>)->Name("PstCorrelation40/scalar");
BENCHMARK(BM_PstDot<2>)->Name("PstCorrelation40/chain");

template <int Taps, int Count, int Form>
void BM_PstInterp(benchmark::State& st) {
  auto x = speechLike(Taps + Count, 5, 4000);
  auto h = speechLike(Taps, 6, 9000);
  std::vector<Vok16s> y(Count);
  for (auto _ : st) {
    const Vok16s* xs = x.data() + Taps - 1;
    if (Form == 0) voksc::g729::pstInterp_avx2(h.data(), Taps, xs, y.data(), Count);
    if (Form == 1) voksc::g729::pstInterp_scalar(h.data(), Taps, xs, y.data(), Count);
    if (Form == 2)
      for (int n = 0; n < Count; ++n) {
        Word32 s = 0;
        for (int i = 0; i < Taps; ++i) s = L_mac(s, h[i], xs[n - i]);
        y[n] = round_fx(s);
      }
    benchmark::DoNotOptimize(y.data());
  }
}
BENCHMARK(BM_PstInterp<4, 41, 0>)->Name("PstInterpShort/avx2");
BENCHMARK(BM_PstInterp<4, 41, 1>)->Name("PstInterpShort/scalar");
BENCHMARK(BM_PstInterp<4, 41, 2>)->Name("PstInterpShort/chain");
BENCHMARK(BM_PstInterp<16, 40, 0>)->Name("PstInterpLong/avx2");
BENCHMARK(BM_PstInterp<16, 40, 1>)->Name("PstInterpLong/scalar");
BENCHMARK(BM_PstInterp<16, 40, 2>)->Name("PstInterpLong/chain");

// The whole long-term post-filter of a voiced subframe (fractional delay).
template <int Form>
void BM_LongTerm(benchmark::State& st) {
  std::vector<Vok16s> res(192);
  auto n = speechLike(192, 7, 200);
  for (int i = 0; i < 192; ++i) res[i] = static_cast<Vok16s>(n[i] + (i % 57 == 3 ? 9000 : 0) + (i % 57 == 4 ? 4000 : 0));
  Vok16s y[40], v;
  for (auto _ : st) {
    if (Form == 0) voksc::g729::longTermPostFilter_avx2(16384, 57, res.data() + 152, y, &v);
    if (Form == 1) voksc::g729::longTermPostFilter_scalar(16384, 57, res.data() + 152, y, &v);
    benchmark::DoNotOptimize(y);
  }
}
BENCHMARK(BM_LongTerm<0>)->Name("LongTermPostFilter/avx2");
BENCHMARK(BM_LongTerm<1>)->Name("LongTermPostFilter/scalar");

template <int Form>
void BM_FilteredExcitation(benchmark::State& st) {
  std::vector<float> h(40), y(40);
  for (int i = 0; i < 40; ++i) h[i] = std::pow(0.9f, static_cast<float>(i)), y[i] = static_cast<float>(i);
  for (auto _ : st) {
    if (Form == 0) voksc::g729::filteredExcitation_avx2(h.data(), y.data(), 40, 0.25f);
    if (Form == 1) voksc::g729::filteredExcitation_scalar(h.data(), y.data(), 40, 0.25f);
    benchmark::DoNotOptimize(y.data());
  }
}
BENCHMARK(BM_FilteredExcitation<0>)->Name("FilteredExcitation40/avx2");
BENCHMARK(BM_FilteredExcitation<1>)->Name("FilteredExcitation40/scalar");

}  // namespace
