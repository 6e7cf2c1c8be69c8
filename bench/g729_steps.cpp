// Heavy G.729 analysis steps against plain operator-chain forms of the same
// computation (every product through L_mac, as the reference writes it).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "voksc.h"

using namespace voksc::op;

namespace {

std::vector<Vok16s> speechLike(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Vok16s> v(static_cast<std::size_t>(n));
  double ph = 0;
  for (auto& x : v) {
    ph += 0.11;
    x = static_cast<Vok16s>(3000 * std::sin(ph) + static_cast<int>(rng() % 601) - 300);
  }
  return v;
}

// Open-loop search of G.729 written as the operator chain.
int openLoopChain(const Vok16s* sig) {
  int16_t buf[223];
  bool ovf = false;
  Word32 e = 0;
  for (int i = -143; i < 80; ++i) e = L_mac_o(e, sig[i], sig[i], ovf);
  for (int i = -143; i < 80; ++i) buf[i + 143] = ovf ? shr(sig[i], 3) : (L_sub(e, 1048576) < 0 ? shl(sig[i], 3) : sig[i]);
  const int16_t* s = buf + 143;
  auto lagMax = [&](int hi, int lo, Word16* norm) {
    Word32 mx = kMin32;
    int best = hi;
    for (int i = hi; i >= lo; --i) {
      Word32 t = 0;
      for (int j = 0; j < 80; ++j) t = L_mac(t, s[j], s[j - i]);
      if (L_sub(t, mx) >= 0) {
        mx = t;
        best = i;
      }
    }
    Word32 en = 0;
    for (int j = 0; j < 80; ++j) en = L_mac(en, s[j - best], s[j - best]);
    Word32 inv = voksc::vokInvSqrt(en);
    Word16 mh, ml, eh, el;
    L_Extract(mx, mh, ml);
    L_Extract(inv, eh, el);
    *norm = extract_l(voksc::vokMpy32(mh, ml, eh, el));
    return best;
  };
  Word16 m1, m2, m3;
  int p1 = lagMax(143, 80, &m1), p2 = lagMax(79, 40, &m2), p3 = lagMax(39, 20, &m3);
  if (sub(mult(m1, 27853), m2) < 0) {
    m1 = m2;
    p1 = p2;
  }
  if (sub(mult(m1, 27853), m3) < 0) p1 = p3;
  return p1;
}

void BM_OpenLoop_G729_voksc(benchmark::State& st) {
  auto v = speechLike(223, 1);
  Vok16s d;
  for (auto _ : st) {
    voksOpenLoopPitchSearch_G729_16s(v.data() + 143, &d);
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_OpenLoop_G729_voksc);

void BM_OpenLoop_G729_chain(benchmark::State& st) {
  auto v = speechLike(223, 1);
  for (auto _ : st) benchmark::DoNotOptimize(openLoopChain(v.data() + 143));
}
BENCHMARK(BM_OpenLoop_G729_chain);

void BM_LspQuant_G729_voksc(benchmark::State& st) {
  const Vok16s lsp[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
  const Vok16s reset[10] = {2339, 4679, 7018, 9358, 11698, 14037, 16377, 18717, 21056, 23396};
  Vok16s mem[40], q[10], idx[2];
  for (auto _ : st) {
    for (int k = 0; k < 4; ++k) std::memcpy(mem + 10 * k, reset, sizeof reset);
    voksLSPQuant_G729_16s(lsp, mem, q, idx);
    benchmark::DoNotOptimize(q);
  }
}
BENCHMARK(BM_LspQuant_G729_voksc);

// The first-stage search alone, both ways (the quantiser's heaviest loop).
void BM_LspStage1_chain(benchmark::State& st) {
  std::mt19937 rng(3);
  std::vector<Vok16s> cb(1280), target(10);
  for (auto& v : cb) v = static_cast<Vok16s>(rng() % 20000);
  for (auto& v : target) v = static_cast<Vok16s>(rng() % 20000);
  for (auto _ : st) {
    Word32 dmin = kMax32;
    int cand = 0;
    for (int i = 0; i < 128; ++i) {
      Word32 d = 0;
      for (int j = 0; j < 10; ++j) {
        Word16 t = sub(target[j], cb[i * 10 + j]);
        d = L_mac(d, t, t);
      }
      if (L_sub(d, dmin) < 0) {
        dmin = d;
        cand = i;
      }
    }
    benchmark::DoNotOptimize(cand);
  }
}
BENCHMARK(BM_LspStage1_chain);

void BM_Levinson_G729_voksc(benchmark::State& st) {
  Vok32s r[11];
  double v = 0x40000000;
  for (int k = 0; k <= 10; ++k, v *= 0.8) r[k] = static_cast<Vok32s>(v);
  Vok16s a[11], rc[10], err;
  for (auto _ : st) {
    voksLevinsonDurbin_G729_32s16s(r, 10, a, rc, &err);
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_Levinson_G729_voksc);

void BM_ClosedLoop_G729_voksc(benchmark::State& st) {
  auto exc = speechLike(194, 5), x = speechLike(40, 6);
  std::vector<Vok16s> h(40, 0), vec(40);
  for (int i = 0; i < 40; ++i) h[i] = static_cast<Vok16s>(4096 * std::pow(0.8, i));
  Vok16s d[2];
  for (auto _ : st) {
    voksAdaptiveCodebookSearch_G729_16s(60, x.data(), h.data(), exc.data(), d, vec.data(), 1);
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_ClosedLoop_G729_voksc);

}  // namespace
