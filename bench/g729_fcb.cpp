// G.729 codebook steps: the correlation matrix and the four pulse searches
// in their AVX2 forms against the scalar forms, which are the reference's
// operator chains step for step.  Inputs are subframes recorded from the
// reference coders on the conformance speech (the golden data of the
// tests), so the searches see realistic thresholds and budgets.
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "g729/fcb_internal.h"
#include "voksc.h"

namespace fcb = voksc::g729::fcb;

namespace {

std::vector<int16_t> goldenWords(const char* name) {
  std::string dir = VOKSC_BENCH_SAMPLE;
  dir = dir.substr(0, dir.rfind("/examples/")) + "/tests/golden/g729/fcb/";
  std::ifstream f(dir + name, std::ios::binary);
  std::vector<char> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<int16_t> w(b.size() / 2);
  std::memcpy(w.data(), b.data(), w.size() * 2);
  return w;
}

// The encoder records of a golden file: each gives a pointer to its words.
struct Records {
  std::vector<int16_t> w;
  std::vector<const int16_t*> rec;
  explicit Records(const char* name, int count) : w(goldenWords(name)) {
    if (w.size() < 2) return;
    for (int r = 0; r < w[0] && r < count; ++r) rec.push_back(w.data() + 2 + r * w[1]);
  }
};

const Records& g729Records() {
  static const Records r("search_g729.bin", 24);
  return r;
}

void BM_Matrix(benchmark::State& st, bool avx2) {
  const Records& r = g729Records();
  int16_t rr[616];
  for (auto _ : st)
    for (const int16_t* p : r.rec) {
      fcb::matrix16(p, false, rr, avx2);
      benchmark::DoNotOptimize(rr);
    }
  st.SetItemsProcessed(st.iterations() * r.rec.size());
}
BENCHMARK_CAPTURE(BM_Matrix, scalar, false);
BENCHMARK_CAPTURE(BM_Matrix, avx2, true);

void BM_MatrixFloat(benchmark::State& st) {
  const Records& r = g729Records();
  float h[40], rr[616];
  for (auto _ : st)
    for (const int16_t* p : r.rec) {
      for (int i = 0; i < 40; ++i) h[i] = p[i] / 4096.0f;
      voksToeplizMatrix_G729_32f(h, rr);
      benchmark::DoNotOptimize(rr);
    }
  st.SetItemsProcessed(st.iterations() * r.rec.size());
}
BENCHMARK(BM_MatrixFloat);

// Matrices prepared once; each search works on copies.
struct Prepared {
  std::vector<std::vector<int16_t>> rr, dn, h;
  std::vector<int> sf;
  Prepared(const Records& r, bool d6) {
    for (const int16_t* p : r.rec) {
      std::vector<int16_t> m(616);
      fcb::matrix16(p, d6, m.data(), false);
      rr.push_back(m);
      dn.emplace_back(p + 40, p + 80);
      h.emplace_back(p, p + 40);
      sf.push_back(p[80] != 0);
    }
  }
};

void BM_SearchG729(benchmark::State& st, bool avx2) {
  static const Prepared pr(g729Records(), false);
  int16_t rr[616], dn[40], code[40];
  for (auto _ : st)
    for (std::size_t k = 0; k < pr.rr.size(); ++k) {
      std::memcpy(rr, pr.rr[k].data(), sizeof rr);
      std::memcpy(dn, pr.dn[k].data(), sizeof dn);
      int16_t budget = 40;
      const fcb::PulseResult res = avx2 ? fcb::searchG729_avx2(dn, rr, code, &budget, pr.sf[k] == 0)
                                        : fcb::searchG729_scalar(dn, rr, code, &budget, pr.sf[k] == 0);
      benchmark::DoNotOptimize(res);
    }
  st.SetItemsProcessed(st.iterations() * pr.rr.size());
}
BENCHMARK_CAPTURE(BM_SearchG729, scalar, false);
BENCHMARK_CAPTURE(BM_SearchG729, avx2, true);

void BM_SearchG729A(benchmark::State& st, bool avx2) {
  static const Records rec("search_g729a.bin", 24);
  static const Prepared pr(rec, false);
  int16_t rr[616], dn[40], code[40];
  for (auto _ : st)
    for (std::size_t k = 0; k < pr.rr.size(); ++k) {
      std::memcpy(rr, pr.rr[k].data(), sizeof rr);
      std::memcpy(dn, pr.dn[k].data(), sizeof dn);
      const fcb::PulseResult res =
          avx2 ? fcb::searchG729A_avx2(dn, rr, code) : fcb::searchG729A_scalar(dn, rr, code);
      benchmark::DoNotOptimize(res);
    }
  st.SetItemsProcessed(st.iterations() * pr.rr.size());
}
BENCHMARK_CAPTURE(BM_SearchG729A, scalar, false);
BENCHMARK_CAPTURE(BM_SearchG729A, avx2, true);

void BM_SearchG729D(benchmark::State& st, bool avx2) {
  static const Records rec("search_g729d.bin", 24);
  static const Prepared pr(rec, true);
  int16_t rr[616], dn[40], code[40], y[40];
  for (auto _ : st)
    for (std::size_t k = 0; k < pr.rr.size(); ++k) {
      std::memcpy(rr, pr.rr[k].data(), sizeof rr);
      std::memcpy(dn, pr.dn[k].data(), sizeof dn);
      const fcb::PulseResult res = avx2 ? fcb::searchG729D_avx2(dn, rr, pr.h[k].data(), code, y)
                                        : fcb::searchG729D_scalar(dn, rr, pr.h[k].data(), code, y);
      benchmark::DoNotOptimize(res);
    }
  st.SetItemsProcessed(st.iterations() * pr.rr.size());
}
BENCHMARK_CAPTURE(BM_SearchG729D, scalar, false);
BENCHMARK_CAPTURE(BM_SearchG729D, avx2, true);

void BM_SearchG729E(benchmark::State& st, bool avx2) {
  static const Records rec("search_g729e.bin", 30);
  int16_t code[40], y[40], index[5];
  for (auto _ : st)
    for (const int16_t* p : rec.rec) {
      if (avx2)
        fcb::searchG729E_avx2(p[0] != 0, p + 1, p + 41, p + 81, code, y, index);
      else
        fcb::searchG729E_scalar(p[0] != 0, p + 1, p + 41, p + 81, code, y, index);
      benchmark::DoNotOptimize(index);
    }
  st.SetItemsProcessed(st.iterations() * rec.rec.size());
}
BENCHMARK_CAPTURE(BM_SearchG729E, scalar, false);
BENCHMARK_CAPTURE(BM_SearchG729E, avx2, true);

void BM_GainQuant(benchmark::State& st) {
  static const Records rec("gainquant_g729.bin", 16);
  int16_t gains[2], rows[2], mem[4];
  for (auto _ : st)
    for (const int16_t* p : rec.rec) {
      std::memcpy(mem, p + 160, sizeof mem);
      voksGainQuant_G729_16s(p, p + 40, p + 80, p + 120, mem, gains, rows, p[164]);
      benchmark::DoNotOptimize(gains);
    }
  st.SetItemsProcessed(st.iterations() * rec.rec.size());
}
BENCHMARK(BM_GainQuant);

}  // namespace
