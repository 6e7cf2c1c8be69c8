// The fast internal forms against their plain forms on random and extreme
// inputs, bit for bit: the AVX2 and scalar first-stage LSP searches, the
// quantiser against its operator-chain form, the recursion with exact
// prediction sums against the chain, and the three hybrid-window forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>

#include "g729/lp_internal.h"
#include "g729/lp_tables.h"
#include "levels.h"

using namespace voksc::g729;

namespace {

int16_t pick16(std::mt19937& rng, int mode) {
  switch (mode) {
    case 0: return static_cast<int16_t>(rng());
    case 1: return (rng() & 1) ? 32767 : -32768;
    default: return static_cast<int16_t>(static_cast<int>(rng() % 4001) - 2000);
  }
}

}  // namespace

TEST(G729LpKernels, Stage1SearchFormsAgree) {
  REQUIRE_AVX2();
  std::mt19937 rng(7);
  for (int it = 0; it < 4000; ++it) {
    int16_t t[10];
    const int mode = it % 4;
    for (int j = 0; j < 10; ++j) t[j] = mode == 3 ? static_cast<int16_t>(2339 * (j + 1) + pick16(rng, 2)) : pick16(rng, mode);
    ASSERT_EQ(lspStage1Search_scalar(t), lspStage1Search_avx2(t)) << "case " << it;
    int16_t w[10];
    for (int j = 0; j < 10; ++j) w[j] = static_cast<int16_t>(rng() & 0x7FFF);
    ASSERT_EQ(lspStage2Search_scalar(t, w, it & 1 ? 5 : 0), lspStage2Search_avx2(t, w, it & 1 ? 5 : 0)) << "case " << it;
  }
  // Every distance saturated: the first vector stays.
  int16_t far[10];
  for (int16_t& v : far) v = -32768;
  EXPECT_EQ(lspStage1Search_avx2(far), 0);
  EXPECT_EQ(lspStage1Search_scalar(far), 0);
}

// The polynomials' lane form against the scalar one: random words, the
// extremes (which leave 32 bits and take the chain), small values, and
// ordered LSPs in close pairs (strong resonances, coefficients near the
// 32-bit edge of the fifth section and of the sums).
TEST(G729LpKernels, LspToLpFormsAgree) {
  REQUIRE_AVX2();
  std::mt19937 rng(11);
  for (int it = 0; it < 20000; ++it) {
    int16_t lsp[10];
    const int mode = it % 5;
    for (int j = 0; j < 10; ++j) lsp[j] = pick16(rng, mode % 3);
    if (mode >= 3) {
      std::sort(lsp, lsp + 10, [](int16_t x, int16_t y) { return x > y; });
      for (int j = 1; j < 10; j += 2) lsp[j] = static_cast<int16_t>(std::max(-32768, lsp[j - 1] - static_cast<int>(rng() % (mode == 3 ? 64 : 8))));
    }
    int16_t a1[11], a2[11];
    lspToLp_scalar(lsp, a1);
    lspToLp_avx2(lsp, a2);
    ASSERT_EQ(0, std::memcmp(a1, a2, sizeof a1)) << "case " << it;
  }
}

TEST(G729LpKernels, QuantiserMatchesOperatorChain) {
  std::mt19937 rng(11);
  for (int it = 0; it < 1500; ++it) {
    int16_t lsf[10], mem[40], memChain[40];
    const int mode = it % 3;
    for (int j = 0; j < 40; ++j) mem[j] = mode == 2 ? pick16(rng, 2) + static_cast<int16_t>(2339 * (j % 10 + 1)) : pick16(rng, mode);
    for (int j = 0; j < 10; ++j) lsf[j] = it % 2 ? pick16(rng, 0) : static_cast<int16_t>(2339 * (j + 1) + pick16(rng, 2));
    std::memcpy(memChain, mem, sizeof mem);
    int16_t q[10], idx[4], res[10], qc[10], idxc[4], resc[10];
    lsfQuantise(lsf, mem, q, idx, res);
    lsfQuantiseChain(lsf, memChain, qc, idxc, resc);
    ASSERT_EQ(0, std::memcmp(idx, idxc, sizeof idx)) << "case " << it;
    ASSERT_EQ(0, std::memcmp(q, qc, sizeof q)) << "case " << it;
    ASSERT_EQ(0, std::memcmp(mem, memChain, sizeof mem)) << "case " << it;
  }
  // Both weighted distortions saturate: equal distortion keeps predictor 0.
  int16_t lsf[10], mem[40], q[10], idx[4];
  for (int j = 0; j < 40; ++j) mem[j] = j % 2 ? 32767 : -32768;
  for (int j = 0; j < 10; ++j) lsf[j] = j % 2 ? -32768 : 32767;
  lsfQuantise(lsf, mem, q, idx, nullptr);
  EXPECT_EQ(idx[0], 0);
}

namespace {

// The autocorrelation whose recursion meets the given reflection
// coefficients (the step-up recursion in doubles), scaled to r_0 near 2^31:
// coefficients near +-1 give predictors far past the Q27 range.
void fromReflections(const double* k, int order, int32_t* r) {
  double a[31] = {1}, e = 1, rd[31] = {1};
  for (int m = 1; m <= order; ++m) {
    double acc = 0, next[31];
    for (int j = 1; j < m; ++j) acc += a[j] * rd[m - j];
    rd[m] = -k[m - 1] * e - acc;
    for (int j = 1; j < m; ++j) next[j] = a[j] + k[m - 1] * a[m - j];
    for (int j = 1; j < m; ++j) a[j] = next[j];
    a[m] = k[m - 1];
    e *= 1 - k[m - 1] * k[m - 1];
  }
  for (int i = 0; i <= order; ++i) r[i] = static_cast<int32_t>(rd[i] * 2147483000.0);
}

}  // namespace

// Both forms against the chain: random and near-singular correlations,
// full-scale ones, and ones of large reflection coefficients (predictors
// that saturate and coefficient sums past the vector form's plain bound).
TEST(G729LpKernels, LevinsonMatchesOperatorChain) {
  std::mt19937 rng(5);
  int stable = 0;
  for (int it = 0; it < 4000; ++it) {
    const int order = 1 + static_cast<int>(rng() % 30);
    int32_t r[31];
    r[0] = static_cast<int32_t>(0x40000000u | (rng() & 0x3FFFFFFF));
    const int mode = it % 4;
    if (mode == 3) {
      double k[30];
      const bool oneSign = it & 4;  // coefficients like binomial ones: the last orders saturate
      for (int i = 0; i < order; ++i)
        k[i] = ((oneSign || rng() & 1) ? 1 : -1) * (0.8 + 0.199 * (rng() % 1000) / 1000.0);
      fromReflections(k, order, r);
    }
    for (int i = 1; i <= order && mode < 3; ++i) {
      if (mode == 0) {
        r[i] = static_cast<int32_t>(static_cast<int64_t>(static_cast<int32_t>(rng())) * (r[0] / 2) / 0x40000000);
      } else if (mode == 1) {
        r[i] = static_cast<int32_t>(static_cast<int64_t>(r[0]) * (1000 - 3 * i) / 1000);  // near singular
      } else {
        r[i] = (rng() & 1) ? 0x7FFFFFFF : static_cast<int32_t>(0x80000000u);
      }
    }
    int16_t ac[31], rcc[30], errc;
    const bool okc = lpLevinsonChain(r, order, ac, rcc, &errc);
    stable += okc;
    for (int form = 0; form < (voksc::cpu::supported() >= voksc::cpu::Level::kAvx2 ? 2 : 1); ++form) {
      int16_t a[31], rc[30], err;
      const bool ok = (form ? lpLevinson_avx2 : lpLevinson_scalar)(r, order, a, rc, &err);
      ASSERT_EQ(ok, okc) << "case " << it << " form " << form;
      if (!ok) continue;
      ASSERT_EQ(0, std::memcmp(a, ac, (order + 1) * sizeof(int16_t))) << "case " << it << " form " << form;
      ASSERT_EQ(0, std::memcmp(rc, rcc, order * sizeof(int16_t))) << "case " << it << " form " << form;
      ASSERT_EQ(err, errc) << "case " << it << " form " << form;
    }
  }
  EXPECT_GT(stable, 600);
}

// LSP to LSF: the vector form's table index (a count of compares) against
// the halvings, on ordered and arbitrary LSPs, both extremes, and values
// on and next to the table's cosines.
TEST(G729LpKernels, LspToLsfForms) {
  REQUIRE_AVX2();
  std::mt19937 rng(17);
  std::uniform_int_distribution<int> full(-32768, 32767), step(-1, 1), entry(0, 63);
  const int16_t cosines[] = {32767, 32729, 26000, 0, -1, -20000, -32768};
  for (int it = 0; it < 3000; ++it) {
    int16_t lsp[10], a[10], b[10];
    for (int i = 0; i < 10; ++i) {
      const int kind = (it + i) % 4;
      const int v = kind == 0   ? full(rng)
                    : kind == 1 ? cosines[rng() % 7]
                                : voksc::g729::kCosTable64[entry(rng)] + (kind == 3 ? step(rng) : 0);
      lsp[i] = static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
    }
    if (it & 1) std::sort(lsp, lsp + 10, [](int16_t x, int16_t y) { return x > y; });
    voksc::g729::lspToLsf_scalar(lsp, a);
    voksc::g729::lspToLsf_avx2(lsp, b);
    ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << it;
  }
}

// Frames from quiet to full scale, with the state carried: the fast forms
// take their exact path while the energy bound holds and the chains after.
TEST(G729LpKernels, HybridWindowFormsAgree) {
  REQUIRE_AVX2();
  std::mt19937 rng(3);
  int32_t s1[31] = {}, s2[31] = {}, s3[31] = {};
  int16_t x[145];
  for (int frame = 0; frame < 600; ++frame) {
    const int level = frame % 60 < 20 ? 300 : frame % 60 < 40 ? 6000 : 40000;
    for (int n = 0; n < 145; ++n) {
      const int v = static_cast<int>(rng() % (2 * level + 1)) - level;
      x[n] = frame % 97 == 0 ? ((n / 7) % 2 ? 32767 : -32768) : static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
    }
    int32_t r1[31], r2[31], r3[31];
    winHybrid_scalar(x, r1, s1);
    winHybrid_avx2(x, r2, s2);
    winHybrid_chain(x, r3, s3);
    for (const auto* r : {r1, r2}) ASSERT_EQ(0, std::memcmp(r, r3, sizeof r1)) << "frame " << frame;
    for (const auto* s : {s1, s2}) ASSERT_EQ(0, std::memcmp(s, s3, sizeof s1)) << "frame " << frame;
  }
}

// The root search's Chebyshev evaluation against its operator chain: the
// search grid, bisection points and arbitrary abscissae, on polynomials of
// real filters and on arbitrary coefficients that saturate the recursion.
TEST(G729LpKernels, ChebyshevMatchesOperatorChain) {
  std::mt19937 rng(31);
  std::uniform_int_distribution<int> full(-32768, 32767);
  for (int trial = 0; trial < 200000; ++trial) {
    int16_t f[6];
    const int range = trial % 3 == 0 ? 32767 : (trial % 3 == 1 ? 4000 : 600);
    f[0] = 2048;
    for (int i = 1; i < 6; ++i) f[i] = static_cast<int16_t>(full(rng) % (range + 1));
    const int16_t x = static_cast<int16_t>(trial % 101 == 0 ? -32768 : full(rng));
    const int shift = trial & 1 ? 6 : 7;
    ASSERT_EQ(voksc::g729::lspChebyshev(x, f, shift), voksc::g729::lspChebyshevChain(x, f, shift))
        << "trial " << trial << " x " << x << " shift " << shift;
    if (voksc::g729::lspChebyshevFits(f, shift)) {
      ASSERT_EQ(voksc::g729::lspChebyshevPlain(x, f, shift), voksc::g729::lspChebyshevChain(x, f, shift)) << trial;
      if (trial % 64 == 0 && vtest::haveAvx2()) {
        int16_t xs[61], ys[61], yv[61];
        for (int16_t& v : xs) v = static_cast<int16_t>(full(rng));
        xs[0] = -32768;
        voksc::g729::lspChebyshevGrid_scalar(xs, 61, f, shift, ys);
        voksc::g729::lspChebyshevGrid_avx2(xs, 61, f, shift, yv);
        ASSERT_EQ(0, std::memcmp(ys, yv, sizeof ys)) << trial;
        // The root brackets of such values (zeros, both extremes and runs
        // of one sign spliced in) as bits, against the products.
        alignas(32) int16_t y[80];
        for (int i = 0; i < 80; ++i) {
          const int kind = (trial / 64 + i / 7) % 4;
          y[i] = kind == 0 ? ys[i % 61] : kind == 1 ? 0 : kind == 2 ? (i & 1 ? -32768 : 32767) : 5;
        }
        const int n = trial & 128 ? 51 : 61;
        const uint64_t bits = voksc::g729::bracketBits_avx2(y, n);
        for (int i = 0; i < 64; ++i)
          ASSERT_EQ((bits >> i) & 1, i + 1 < n && int32_t{y[i]} * y[i + 1] <= 0 ? 1u : 0u) << trial << " " << i;
      }
    }
  }
}
