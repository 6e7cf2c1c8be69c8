// The family's vector kernels against their scalar forms, bit for bit, on
// random and extreme operands inside each kernel's stated bounds.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>

#include "amr/amr_internal.h"
#include "levels.h"

namespace amr = voksc::amr;

namespace {

int16_t pick(std::mt19937& rng, int limit) {
  switch (rng() % 6) {
    case 0: return static_cast<int16_t>(limit);
    case 1: return static_cast<int16_t>(-limit - (limit == 32767));
    default: return static_cast<int16_t>(static_cast<int>(rng() % (2 * limit + 1)) - limit);
  }
}

}  // namespace

TEST(AmrKernels, ScalarEqualsAvx2) {
  REQUIRE_AVX2();
  std::mt19937 rng(15);
  for (int rep = 0; rep < 2000; ++rep) {
    // Pair search pass: pulse sums that saturate, energies up to 2^29.
    int16_t ps1[8], d2[8], cross[8][8];
    int32_t alp1[8], alp2[8];
    for (int i = 0; i < 8; ++i) {
      ps1[i] = pick(rng, 32767);
      d2[i] = pick(rng, rep % 2 ? 32767 : 3000);
      alp1[i] = static_cast<int32_t>(rng() % (1u << 30)) - (1 << 29);
      alp2[i] = static_cast<int32_t>(rng() % (1u << 30)) - (1 << 29);
      for (int j = 0; j < 8; ++j) cross[i][j] = pick(rng, 32767);
    }
    if (rep % 4 == 1) {
      // Positive energies (the ordered pass), with many equal ratios: few
      // distinct sums and energies, so that ties decide the pair.
      const int32_t unit = 1 << (16 + rng() % 12);
      for (int i = 0; i < 8; ++i) {
        ps1[i] = static_cast<int16_t>(rng() % 3 * 4096);
        d2[i] = static_cast<int16_t>(rng() % 3 * 2048 - 2048);
        alp1[i] = unit * static_cast<int32_t>(1 + rng() % 2);
        alp2[i] = unit * static_cast<int32_t>(1 + rng() % 2);
        for (int j = 0; j < 8; ++j) cross[i][j] = static_cast<int16_t>(rng() % 2 ? 0 : rng() % 32768);
      }
    }
    const int32_t pairW = 1024 << (rng() % 4);
    amr::PairBest a{static_cast<int16_t>(rep % 3 ? -1 : pick(rng, 32767)), static_cast<int16_t>(rep % 3 ? 1 : pick(rng, 32767)),
                    0, -1, -1};
    amr::PairBest b = a;
    amr::pairPass8_scalar(ps1, alp1, d2, alp2, cross[0], 8, pairW, a);
    amr::pairPass8_avx2(ps1, alp1, d2, alp2, cross[0], 8, pairW, b);
    ASSERT_TRUE(a.sq == b.sq && a.alp == b.alp && a.ps == b.ps && a.first == b.first && a.second == b.second) << rep;

    // Pair-pass terms: row sums near and past their bounds (either outcome).
    {
      int32_t fx[2][8], fm[2][8], dg[2][8], ta[2][8] = {}, tb[2][8] = {};
      int16_t dd[8], fa[8] = {}, fb[8] = {};
      const int range = 1 << (12 + rng() % 8);
      for (int k = 0; k < 8; ++k) {
        for (int h = 0; h < 2; ++h) {
          fx[h][k] = static_cast<int32_t>(rng() % (2 * range + 1)) - range;
          fm[h][k] = std::abs(fx[h][k]) + static_cast<int32_t>(rng() % 4096);
          dg[h][k] = pick(rng, 32767);
        }
        dd[k] = pick(rng, 32767);
      }
      const int16_t sh = static_cast<int16_t>(rng() % 4);
      const amr::PairTerms pt{fx[0], fm[0], dg[0], dd, fx[1], fm[1], dg[1],
                              static_cast<int32_t>(rng() % (1u << 30)) - (1 << 29), pick(rng, 32767),
                              static_cast<int16_t>(2048 >> sh), static_cast<int16_t>(4096 >> sh),
                              static_cast<int16_t>(4096 >> (sh / 2)), static_cast<int16_t>(8192 >> (sh / 2)),
                              static_cast<int16_t>(16384 >> sh)};
      int64_t pa = -1, pb2 = -1;
      ASSERT_EQ(amr::pairTerms8_scalar(pt, ta[0], ta[1], fa, pa), amr::pairTerms8_avx2(pt, tb[0], tb[1], fb, pb2)) << rep;
      ASSERT_TRUE(pa == pb2 && !std::memcmp(ta, tb, sizeof ta) && !std::memcmp(fa, fb, sizeof fa)) << rep;
    }

    // Two-pulse lanes: pulse sums at the cap, any matrix words (equal ones
    // in every fourth rep, so that ratios tie).
    {
      int32_t da[8], ga[8], db[8], gb[8], cr[8][8];
      const bool flat = rep % 4 == 1;
      for (int k = 0; k < 8; ++k) {
        da[k] = flat ? 100 : std::abs(int32_t{pick(rng, 32767)});
        db[k] = flat ? 200 : std::abs(int32_t{pick(rng, 32767)});
        ga[k] = 16384 * (flat ? 3000 : pick(rng, 32767));
        gb[k] = 16384 * (flat ? 3000 : pick(rng, 32767));
        for (int r = 0; r < 8; ++r) cr[k][r] = 32768 * (flat ? -700 : pick(rng, rep % 2 ? 32767 : 300));
      }
      amr::PairLanes2 la, lb;
      amr::pairLanes2_scalar(da, ga, db, gb, cr, la);
      amr::pairLanes2_avx2(da, ga, db, gb, cr, lb);
      ASSERT_EQ(std::memcmp(&la, &lb, sizeof la), 0) << rep;
    }

    // Signed correlation matrix: responses up to the energy limit, signs
    // of either polarity and arbitrary values.
    int16_t g[40], sign[40], ra[40][40], rb[40][40];
    const int step = rep % 3 + 3 == 3 ? 1 : rep % 3 + 3;  // natural, four- or five-track columns
    const int gl = rep % 4 == 0 ? 5180 : 1 + static_cast<int>(rng() % 5180);
    for (int i = 0; i < 40; ++i) {
      g[i] = pick(rng, gl);
      sign[i] = rep % 2 ? (rng() & 1 ? 32767 : -32767) : pick(rng, 32767);
    }
    amr::signedRows_scalar(g, sign, step, ra);
    amr::signedRows_avx2(g, sign, step, rb);
    ASSERT_EQ(std::memcmp(ra, rb, sizeof ra), 0) << rep;
    // The same entries by lag, both forms against the matrix.
    int16_t la[40 * 40], lb[40 * 40];
    amr::signedLags_scalar(g, sign, la);
    amr::signedLags_avx2(g, sign, lb);
    for (int i = 0; i < 40; ++i)
      for (int j = 0; j <= i; ++j) {
        const int16_t want = ra[i][(j % step) * (40 / step) + j / step];
        ASSERT_TRUE(la[40 * (39 - i) + i - j] == want && lb[40 * (39 - i) + i - j] == want) << rep;
      }

    // Chebyshev series: coefficients of real LP filters' sizes, and of
    // any size (overflowing chains, the scalar form's fallback), at any
    // point including -32768.
    {
      int16_t cf[6], cx[16], ca[16], cb[16];
      const int cl = rep % 3 == 0 ? 32767 : (rep % 3 == 1 ? 8192 : 2048);
      for (auto& v : cf) v = pick(rng, cl);
      for (auto& v : cx) v = pick(rng, 32767);
      amr::chebyshev16_scalar(cx, cf, ca);
      amr::chebyshev16_avx2(cx, cf, cb);
      ASSERT_EQ(std::memcmp(ca, cb, sizeof ca), 0) << rep;
    }

    // Filtered pulses: up to ten at any positions (coinciding too), any
    // response, scales to 4096 (sums inside 32 bits).
    {
      int16_t hz[80] = {}, sc[10];
      int pp[10];
      int32_t sa[40], sb[40];
      for (int i = 40; i < 80; ++i) hz[i] = pick(rng, 32767);
      for (int k = 0; k < 10; ++k) {
        pp[k] = static_cast<int>(rng() % 40);
        sc[k] = pick(rng, 4096);
      }
      const int np = 1 + rep % 10;
      amr::pulseSum_scalar(hz, pp, sc, np, sa);
      amr::pulseSum_avx2(hz, pp, sc, np, sb);
      ASSERT_EQ(std::memcmp(sa, sb, sizeof sa), 0) << rep;
    }

    // Residual filter within sum |a| max|x| < 2^30, every length to 80.
    int16_t coef[11], x[90], ya[80], yb[80];
    for (auto& v : coef) v = pick(rng, 8192);
    for (auto& v : x) v = pick(rng, 8192);
    const int len = 1 + rep % 80;
    amr::residualPlain_scalar(coef, x + 10, ya, len);
    amr::residualPlain_avx2(coef, x + 10, yb, len);
    ASSERT_EQ(std::memcmp(ya, yb, sizeof(int16_t) * len), 0) << rep;

    // Adaptive-vector interpolation (20 taps, 20 * 6000 * 8192 < 2^30 - 2^14) and
    // the response convolution (sums below 2^30).
    int16_t w[20];
    for (auto& v : w) v = pick(rng, 6000);
    amr::interp20Plain_scalar(x, w, ya, len % 60 + 1);
    amr::interp20Plain_avx2(x, w, yb, len % 60 + 1);
    ASSERT_EQ(std::memcmp(ya, yb, sizeof(int16_t) * (len % 60 + 1)), 0) << rep;
    int16_t h[40];
    for (int i = 0; i < 40; ++i) {
      h[i] = pick(rng, 4096);
      g[i] = pick(rng, 4096);
    }
    amr::convolvePlain_scalar(g, h, ya);
    amr::convolvePlain_avx2(g, h, yb);
    ASSERT_EQ(std::memcmp(ya, yb, sizeof(int16_t) * 40), 0) << rep;

    // Filtered excitation one lag on: any operands, both shifts.
    int16_t fa[40], fb[40];
    for (int i = 0; i < 40; ++i) {
      h[i] = pick(rng, 32767);
      fa[i] = fb[i] = pick(rng, 32767);
    }
    const int16_t e = pick(rng, 32767);
    const int hShift = rep % 2 ? 1 : 3, down = rep % 2 ? 2 : 0;
    amr::shiftFiltered_scalar(e, h, fa, hShift, down);
    amr::shiftFiltered_avx2(e, h, fb, hShift, down);
    ASSERT_EQ(std::memcmp(fa, fb, sizeof fa), 0) << rep;
    // Energy and correlation: operands at -32768 (wrapped pair lanes) included.
    int64_t ea, ca, eb, cb;
    amr::energyCorr40_scalar(fa, h, &ea, &ca);
    amr::energyCorr40_avx2(fa, h, &eb, &cb);
    ASSERT_TRUE(ea == eb && ca == cb) << rep;
    std::memset(fb, 0x80, sizeof fb);  // all -32768
    amr::energyCorr40_scalar(fb, rep % 2 ? fb : h, &ea, &ca);
    amr::energyCorr40_avx2(fb, rep % 2 ? fb : h, &eb, &cb);
    ASSERT_TRUE(ea == eb && ca == cb) << rep;

    // Nearest codebook vector: extreme books and weights (clamped scores),
    // and books of few distinct values (ties go to the first row).
    static int16_t book[4 * 512];
    const int rows = 64 << (rep % 4), spread = rep % 3 ? 32767 : 2;
    for (int i = 0; i < 4 * rows; ++i) book[i] = pick(rng, spread);
    int16_t res[4], wt[4];
    for (int k = 0; k < 4; ++k) {
      res[k] = pick(rng, rep % 5 ? 32767 : 2);
      wt[k] = pick(rng, 32767);
    }
    uint32_t sa = 0, sb = 0;
    ASSERT_EQ(amr::nearest4_scalar(book, rows, res, wt, rep % 2, sa), amr::nearest4_avx2(book, rows, res, wt, rep % 2, sb)) << rep;
    ASSERT_EQ(sa, sb) << rep;
  }
}
