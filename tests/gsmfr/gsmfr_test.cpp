// GSM 06.10 primitives: per-case checksums of the codec's reference routines
// (built outside this repository) on hostile inputs, with our calls split
// into random blocks; argument checks; properties the checksums do not show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "cases.h"
#include "check.h"
#include "gsmfr/gsmfr_internal.h"
#include "levels.h"
#include "vectors.h"
#include "voksc.h"

namespace {

// Runs `step(at, n)` over [0, total) in blocks of 1..max samples.
template <class F>
void inBlocks(int total, uint32_t seed, int max, F step) {
  VtRng r{seed};
  for (int at = 0; at < total;) {
    int n = 1 + static_cast<int>(vtNext(&r) % static_cast<uint32_t>(max));
    if (n > total - at) n = total - at;
    step(at, n);
    at += n;
  }
}

const Vok16s kMantissa[8] = {18431, 20479, 22527, 24575, 26623, 28671, 30719, 32767};

}  // namespace

TEST(GsmfrPrimitives, AgreeWithTheReferenceRoutinesOnHostileInput) {
  const auto g = vtest::checksums("gsmfr/primitives.txt");
  ASSERT_EQ(g.size(), 6u);
  for (int c = 0; c < 40; ++c) {
    SCOPED_TRACE(c);
    // Offset compensation then pre-emphasis: the codec's pre-processing.
    {
      std::vector<int16_t> x(960), hp(960), y(960);
      vtSignal(x.data(), 960, c % 5, c);
      Vok32s hpMem[2] = {0, 0};
      Vok16s emMem = 0;
      inBlocks(960, c, 200, [&](int at, int n) {
        ASSERT_EQ(voksHighPassFilter_GSMFR_16s(&x[at], &hp[at], n, hpMem), vokOk);
        ASSERT_EQ(voksPreemphasize_GSMFR_16s(&hp[at], &y[at], n, &emMem), vokOk);
      });
      EXPECT_EQ(vtHash16(VT_HASH0, y.data(), 960), g.at("preprocess")[c]);
    }
    {
      int32_t acf[9];
      Vok16s rc[8];
      vtAcfCase(c, acf);
      ASSERT_EQ(voksSchur_GSMFR_32s16s(acf, rc, 8), vokOk);
      EXPECT_EQ(vtHash16(VT_HASH0, rc, 8), g.at("schur")[c]);
      // A lower order gives the leading coefficients of order 8.
      for (int n = 1; n < 8; ++n) {
        Vok16s part[8];
        ASSERT_EQ(voksSchur_GSMFR_32s16s(acf, part, n), vokOk);
        EXPECT_TRUE(std::equal(part, part + n, rc)) << n;
      }
    }
    Vok16s rp[8];
    vtReflCase(c, rp);
    {
      std::vector<int16_t> x(400);
      vtSignal(x.data(), 400, c % 5, c + 1000);
      Vok16s mem[8] = {};
      inBlocks(400, c + 7, 60, [&](int at, int n) {
        ASSERT_EQ(voksShortTermAnalysisFilter_GSMFR_16s_I(rp, &x[at], n, mem), vokOk);
      });
      EXPECT_EQ(vtHash16(vtHash16(VT_HASH0, x.data(), 400), mem, 8), g.at("analysis")[c]);
    }
    {
      std::vector<int16_t> x(400), y(400);
      vtSignal(x.data(), 400, c % 5, c + 2000);
      Vok16s mem[9] = {};
      inBlocks(400, c + 9, 60, [&](int at, int n) {
        ASSERT_EQ(voksShortTermSynthesisFilter_GSMFR_16s(rp, &x[at], &y[at], n, mem), vokOk);
      });
      EXPECT_EQ(vtHash16(vtHash16(VT_HASH0, y.data(), 400), mem, 9), g.at("synthesis")[c]);
    }
    {
      int16_t e[50];
      Vok16s x[40];
      vtSignal(e, 50, c % 5, c + 3000);
      for (auto& v : e) v = static_cast<int16_t>(v >> ((c / 5) % 4));
      ASSERT_EQ(voksWeightingFilter_GSMFR_16s(e, x, 40), vokOk);
      EXPECT_EQ(vtHash16(VT_HASH0, x, 40), g.at("weighting")[c]);
    }
  }
  // Every mantissa with shifts 0..20 (the codec itself uses 0..10).
  for (int c = 0; c < 168; ++c) {
    VtRng r{static_cast<uint32_t>(c) * 31u + 9u};
    Vok16s xMc[13], xMp[13];
    for (auto& v : xMc) v = static_cast<Vok16s>(vtNext(&r) & 7);
    ASSERT_EQ(voksRPEQuantDecode_GSMFR_16s(xMc, kMantissa[c % 8], static_cast<Vok16s>(c % 21), xMp), vokOk);
    EXPECT_EQ(vtHash16(VT_HASH0, xMp, 13), g.at("apcm")[c]) << c;
  }
}

TEST(GsmfrPrimitives, ArgumentChecks) {
  Vok16s a[64] = {}, b[64] = {}, m16[9] = {};
  Vok32s m32[2] = {}, acf[9] = {100};
  vtest::Guard g;
  g.watch(b, 64).watch(m16, 9).watch(m32, 2);
  // Null before length, every export.
  EXPECT_NULLS_THEN(vokErrSize, g, voksHighPassFilter_GSMFR_16s, a, b, 0, m32);
  EXPECT_NULLS_THEN(vokErrSize, g, voksPreemphasize_GSMFR_16s, a, b, 0, m16);
  EXPECT_NULLS_THEN(vokErrSize, g, voksDeemphasize_GSMFR_16s_I, b, 0, m16);
  EXPECT_NULLS_THEN(vokErrSize, g, voksSchur_GSMFR_32s16s, acf, b, 9);
  EXPECT_REJECTS(vokErrSize, g, voksSchur_GSMFR_32s16s(acf, b, 0));
  EXPECT_NULLS_THEN(vokErrSize, g, voksShortTermAnalysisFilter_GSMFR_16s_I, a, b, 0, m16);
  EXPECT_NULLS_THEN(vokErrSize, g, voksShortTermSynthesisFilter_GSMFR_16s, a, a, b, -3, m16);
  EXPECT_NULLS_THEN(vokErrSize, g, voksWeightingFilter_GSMFR_16s, a, b, 0);
  EXPECT_NULLS_THEN(vokErrScale, g, voksRPEQuantDecode_GSMFR_16s, a, 100, -1, b);
  // Codes are 3 bits, checked before the shift.
  for (Vok16s bad : {Vok16s{8}, Vok16s{-1}, Vok16s{-32768}}) {
    Vok16s xMc[13] = {};
    xMc[12] = bad;
    EXPECT_REJECTS(vokErrIndex, g, voksRPEQuantDecode_GSMFR_16s(xMc, 100, -1, b));
  }
}

TEST(GsmfrPrimitives, EmphasisPairAndZeroCorrelation) {
  // De-emphasis undoes pre-emphasis within the rounding of the products.
  int16_t x[300];
  vtSignal(x, 300, 3, 5);
  for (auto& v : x) v = static_cast<int16_t>(v * 40);
  Vok16s pre[300], m1 = 0, m2 = 0;
  ASSERT_EQ(voksPreemphasize_GSMFR_16s(x, pre, 300, &m1), vokOk);
  ASSERT_EQ(voksDeemphasize_GSMFR_16s_I(pre, 300, &m2), vokOk);
  for (int i = 0; i < 300; ++i) EXPECT_NEAR(pre[i], x[i], 8) << i;
  // r[0] = 0 gives zeros whatever the other correlations.
  const Vok32s acf[9] = {0, 5, -7, 9, 1, 1, 1, 1, 1};
  Vok16s rc[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  ASSERT_EQ(voksSchur_GSMFR_32s16s(acf, rc, 8), vokOk);
  for (auto v : rc) EXPECT_EQ(v, 0);
  // Shift 0 adds no rounding term: code 7 at the largest mantissa is
  // round(32767 * 7 / 8).
  const Vok16s codes[13] = {7, 0, 3, 4, 7, 7, 7, 7, 7, 7, 7, 7, 7};
  Vok16s out[13];
  ASSERT_EQ(voksRPEQuantDecode_GSMFR_16s(codes, 32767, 0, out), vokOk);
  EXPECT_EQ(std::vector<int>(out, out + 4), std::vector<int>({28671, -28671, -4096, 4096}));
}

// Both lattice forms from equal random memories, block by block, on hostile
// signals with random, full-scale and -32768-holding coefficient sets.
TEST(GsmfrPrimitives, LatticeFormsAgree) {
  REQUIRE_AVX2();
  VtRng r{77};
  for (int c = 0; c < 120; ++c) {
    SCOPED_TRACE(c);
    Vok16s rp[8];
    for (auto& k : rp) {
      const uint32_t u = vtNext(&r);
      k = static_cast<Vok16s>(c % 3 == 0 ? (u & 1 ? 32767 : -32767) : static_cast<int16_t>(u));
    }
    if (c % 5 == 0) rp[c % 8] = -32768;
    std::vector<int16_t> x(300);
    vtSignal(x.data(), 300, c % 5, c);
    int16_t m1[9], m2[9];
    for (auto& m : m1) m = static_cast<int16_t>(vtNext(&r));
    std::copy(m1, m1 + 9, m2);
    std::vector<int16_t> a = x, b = x, ya(300), yb(300);
    const bool synthesis = c % 2 != 0;
    inBlocks(300, c, 50, [&](int at, int n) {
      if (synthesis) {
        voksc::gsmfr::synthesisLatticeScalar(rp, &a[at], &ya[at], n, m1);
        voksc::gsmfr::synthesisLatticeAvx2(rp, &b[at], &yb[at], n, m2);
      } else {
        voksc::gsmfr::analysisLatticeScalar(rp, &a[at], n, m1);
        voksc::gsmfr::analysisLatticeAvx2(rp, &b[at], n, m2);
      }
    });
    EXPECT_EQ(a, b);
    EXPECT_EQ(ya, yb);
    EXPECT_TRUE(std::equal(m1, m1 + 9, m2));
  }
}
