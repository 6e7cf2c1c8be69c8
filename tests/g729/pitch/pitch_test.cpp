// Pitch exports: argument checks, the search ranges, the delay limits, gain
// and target-update edge cases, and the scalar and AVX2 kernels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "cases.h"
#include "check.h"
#include "g729/pitch_internal.h"
#include "g729/pitch_kernels.h"
#include "g729/pitch_tables.h"
#include "voksc.h"
#include "levels.h"

namespace {

using V = std::vector<int64_t>;

struct Subframe {
  Vok16s exc[194] = {}, x[40] = {}, h[40] = {}, vec[40] = {}, y[40] = {};
  Vok16s delay[2] = {};
};

}  // namespace

TEST(G729Pitch, OpenLoopChecks) {
  Vok16s wsp[223] = {}, d = 7;
  Vok32f wf[223] = {};
  Vok32s d32 = 7;
  vtest::Guard g;
  g.watch(&d).watch(&d32);
  EXPECT_EACH_NULL(g, voksOpenLoopPitchSearch_G729_16s, wsp + 143, &d);
  EXPECT_EACH_NULL(g, voksOpenLoopPitchSearch_G729A_16s, wsp + 143, &d);
  EXPECT_EACH_NULL(g, voksOpenLoopPitchSearch_G729A_32f, wf + 143, &d32);
  // Silence: every correlation is 0, so the last delay visited in the
  // first section (the longest delays, visited downward) stays; Annex A
  // keeps the first delay of its first section.
  Vok16s dA = 7;
  ASSERT_EQ(voksOpenLoopPitchSearch_G729_16s(wsp + 143, &d), vokOk);
  ASSERT_EQ(voksOpenLoopPitchSearch_G729A_16s(wsp + 143, &dA), vokOk);
  EXPECT_EQ(V({d, dA}), V({80, 20}));
}

TEST(G729Pitch, ClosedLoopChecksWriteNothing) {
  Subframe s;
  for (int i = 0; i < 194; ++i) s.exc[i] = static_cast<Vok16s>((i * 37) % 200 - 100);
  s.h[0] = 4096;
  vtest::Guard g;
  g.watch(s.exc, 194).watch(s.delay, 2).watch(s.vec, 40);
  for (auto search : {voksAdaptiveCodebookSearch_G729_16s, voksAdaptiveCodebookSearch_G729A_16s}) {
    EXPECT_NULLS_THEN(vokErrRange, g, search, 146, s.x, s.h, s.exc, s.delay, s.vec, 2);  // null before range
    for (auto bad : {std::pair{146, 0}, {17, 1}, {60, -1}})
      EXPECT_REJECTS(vokErrRange, g, search(bad.first, s.x, s.h, s.exc, s.delay, s.vec, bad.second));
    EXPECT_EQ(search(145, s.x, s.h, s.exc, s.delay, s.vec, 0), vokOk);
    EXPECT_GE(s.delay[0], 137);
    EXPECT_EQ(search(18, s.x, s.h, s.exc, s.delay, s.vec, 1), vokOk);
    EXPECT_LE(s.delay[0], 30);
  }
  EXPECT_NULLS_THEN(vokErrRange, g, voksAdaptiveCodebookSearch_G729D_16s, 146, s.x, s.h, s.exc, 0, s.delay);
  EXPECT_REJECTS(vokErrRange, g, voksAdaptiveCodebookSearch_G729D_16s(60, s.x, s.h, s.exc, 3, s.delay));
  EXPECT_EQ(voksAdaptiveCodebookSearch_G729D_16s(145, s.x, s.h, s.exc, 1, s.delay), vokOk);
}

// A target equal to the past excitation at delay 85 (h a unit impulse):
// the search lands on 85, and in subframe 0 above 84 takes no fraction.
TEST(G729Pitch, NoFractionAboveEightyFourInTheFirstSubframe) {
  Subframe s;
  std::mt19937 rng(5);
  for (auto& v : s.exc) v = static_cast<Vok16s>(static_cast<int>(rng() % 4001) - 2000);
  s.h[0] = 4096;
  std::memcpy(s.x, s.exc + 154 - 85, sizeof s.x);
  Subframe t = s;
  ASSERT_EQ(voksAdaptiveCodebookSearch_G729_16s(85, s.x, s.h, s.exc, s.delay, s.vec, 0), vokOk);
  EXPECT_EQ(V({s.delay[0], s.delay[1]}), V({85, 0}));
  ASSERT_EQ(voksAdaptiveCodebookSearch_G729D_16s(85, t.x, t.h, t.exc, 0, t.delay), vokOk);
  EXPECT_EQ(V({t.delay[0], t.delay[1]}), V({85, 0}));
  ASSERT_EQ(voksAdaptiveCodebookSearch_G729A_16s(85, t.x, t.h, t.exc, t.delay, t.vec, 0), vokOk);
  EXPECT_EQ(V({t.delay[0], t.delay[1]}), V({85, 0}));
  // The vector written to the buffer is the one of the chosen pair.
  Vok16s again[194];
  std::memcpy(again, s.exc, sizeof again);
  ASSERT_EQ(voksDecodeAdaptiveVector_G729_16s_I(s.delay, again), vokOk);
  EXPECT_EQ(std::memcmp(again + 154, s.vec, sizeof s.vec), 0);
}

TEST(G729Pitch, DecodeDelayLimits) {
  Vok16s exc[194], vec[40];
  for (int i = 0; i < 194; ++i) exc[i] = static_cast<Vok16s>(i * 100 - 9000);
  vtest::Guard g;
  g.watch(exc, 194).watch(vec, 40);
  const Vok16s bad[4][2] = {{145, 0}, {17, 1}, {60, 2}, {60, -2}};
  for (const auto& d : bad) {
    EXPECT_REJECTS(vokErrIndex, g, voksDecodeAdaptiveVector_G729_16s_I(d, exc));
    EXPECT_REJECTS(vokErrIndex, g, voksDecodeAdaptiveVector_G729_16s(d, exc, vec));
  }
  EXPECT_REJECTS(vokErrNullPtr, g, voksDecodeAdaptiveVector_G729_16s(bad[0], exc, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksDecodeAdaptiveVector_G729_16s_I(nullptr, exc));
  // The longest delay with +1/3 reads the first sample of the history.
  const Vok16s longest[2] = {144, 1}, shortest[2] = {18, -1};
  Vok16s a[194], b[194];
  std::memcpy(a, exc, sizeof a);
  std::memcpy(b, exc, sizeof b);
  ASSERT_EQ(voksDecodeAdaptiveVector_G729_16s_I(longest, a), vokOk);
  ASSERT_EQ(voksDecodeAdaptiveVector_G729_16s(longest, b, vec), vokOk);
  EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
  EXPECT_EQ(std::memcmp(vec, b + 154, sizeof vec), 0);
  EXPECT_EQ(voksDecodeAdaptiveVector_G729_16s_I(shortest, a), vokOk);

  float ef[200] = {};
  const Vok32s f145[2] = {145, 0};
  vtest::Guard gf;
  gf.watch(ef, 200);
  EXPECT_EQ(voksDecodeAdaptiveVector_G729_32f_I(f145, ef + 160), vokOk);  // accepted in float
  // {145, 1} would need a 155th sample of history.
  const Vok32s fbad[][2] = {{146, 0}, {145, 1}, {60, 2}};
  for (const auto& d : fbad)
    EXPECT_REJECTS(vokErrIndex, gf, voksDecodeAdaptiveVector_G729_32f_I(d, ef + 160));
  EXPECT_REJECTS(vokErrNullPtr, gf, voksDecodeAdaptiveVector_G729_32f_I(nullptr, ef + 160));
}

// Unit gains, with y the vector itself (zero gains and the 1.2 limit are
// common in the golden records).
TEST(G729Pitch, GainEdgeCases) {
  Subframe s;
  s.h[0] = 4096;  // y equals the vector
  for (int i = 0; i < 40; ++i) s.vec[i] = static_cast<Vok16s>(i % 2 ? 0 : 1000);
  Vok16s gain = -1;
  std::memcpy(s.x, s.vec, sizeof s.x);
  ASSERT_EQ(voksAdaptiveCodebookGain_G729_16s(s.x, s.h, s.vec, s.y, &gain), vokOk);
  EXPECT_NEAR(gain, 16384, 2);
  EXPECT_EQ(std::memcmp(s.y, s.vec, sizeof s.y), 0);
  // Annex A: 1/A(z) with A(z) = 1 (Q12) also passes the vector through.
  Vok16s a[11] = {4096};
  ASSERT_EQ(voksAdaptiveCodebookGain_G729A_16s(s.x, a, s.vec, s.y, &gain), vokOk);
  EXPECT_EQ(std::memcmp(s.y, s.vec, sizeof s.y), 0);
  EXPECT_NEAR(gain, 16384, 2);
  // Saturated energy: the scaled branch still finds the unit gain.
  for (int i = 0; i < 40; ++i) s.vec[i] = s.x[i] = static_cast<Vok16s>(i % 3 ? 6000 : -6000);
  ASSERT_EQ(voksAdaptiveCodebookGain_G729_16s(s.x, s.h, s.vec, s.y, &gain), vokOk);
  EXPECT_NEAR(gain, 16384, 2);

  vtest::Guard g;
  g.watch(s.y, 40).watch(&gain);
  EXPECT_EACH_NULL(g, voksAdaptiveCodebookGain_G729_16s, s.x, s.h, s.vec, s.y, &gain);
  EXPECT_EACH_NULL(g, voksAdaptiveCodebookGain_G729A_16s, s.x, a, s.vec, s.y, &gain);
}

TEST(G729Pitch, TargetUpdateWrapsInsteadOfSaturating) {
  Vok16s y[40], x[40], x2[40];
  for (int i = 0; i < 40; ++i) {
    y[i] = static_cast<Vok16s>(i * 800 - 16000);
    x[i] = static_cast<Vok16s>(i * 100);
  }
  ASSERT_EQ(voksAdaptiveCodebookContribution_G729_16s(8192, y, x, x2), vokOk);  // gain 0.5
  for (int i = 0; i < 40; ++i) EXPECT_EQ(x2[i], x[i] - (y[i] * 8192 >> 14)) << i;
  // 32767 times 1.2 needs bit 16: bits 14..29 are 39320, taken modulo 2^16.
  y[0] = 32767;
  x[0] = 0;
  x[1] = -32768;
  y[1] = 16384;
  ASSERT_EQ(voksAdaptiveCodebookContribution_G729_16s(19661, y, x, x2), vokOk);
  EXPECT_EQ(V({x2[0], x2[1]}), V({65536 - 39320, -32768 - 19661 + 65536}));
  float yf[40], xf[40], x2f[40];
  for (int i = 0; i < 40; ++i) {
    yf[i] = 0.5f * i;
    xf[i] = 3.0f;
  }
  ASSERT_EQ(voksAdaptiveCodebookContribution_G729_32f(0.5f, yf, xf, x2f), vokOk);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(x2f[i], 3.0f - 0.25f * i);
  vtest::Guard g;
  g.watch(x2, 40).watch(x2f, 40);
  EXPECT_EACH_NULL(g, voksAdaptiveCodebookContribution_G729_16s, 1, y, x, x2);
  EXPECT_EACH_NULL(g, voksAdaptiveCodebookContribution_G729_32f, 1.0f, yf, xf, x2f);
}

// The closed-loop kernels: both forms on generated and extreme subframes.
TEST(G729PitchKernels, ScalarAndAvx2Agree) {
  REQUIRE_AVX2();
  using namespace voksc::g729::pitch;
  int16_t rows[6][40];
  for (int c = 0; c < 3000; ++c) {
    const auto pc = pitchcases::make(c);
    const int16_t* s = c % 3 == 0 ? pc.exc + (c % 150) : pc.y;
    int64_t e1, c1, e2, c2;
    energyAndCorrelation_scalar(s, pc.x, e1, c1);
    energyAndCorrelation_avx2(s, pc.x, e2, c2);
    ASSERT_EQ(V({e1, c1}), V({e2, c2})) << c;
    for (int hFac : {3, 1}) {
      int16_t o1[40], o2[40];
      const int16_t e = pc.exc[c % 194];
      shiftFiltered_scalar(s, o1, e, pc.h, hFac, hFac == 3 ? 0 : 2);
      shiftFiltered_avx2(s, o2, e, pc.h, hFac, hFac == 3 ? 0 : 2);
      ASSERT_EQ(std::memcmp(o1, o2, sizeof o1), 0) << c << " " << hFac;
    }
    // Interpolation with one phase of the table: |w| <= 16384 keeps the
    // sums within 30 bits.
    int16_t w[59], taps[20], o1[40], o2[40];
    for (int m = 0; m < 59; ++m) w[m] = static_cast<int16_t>(pc.exc[(c + m) % 194] >> 1);
    for (int i = 0; i < 10; ++i) {
      taps[9 - i] = voksc::g729::kInterpExc[c % 3 + 3 * i];
      taps[10 + i] = voksc::g729::kInterpExc[3 - c % 3 + 3 * i];
    }
    for (int n : {8, 16, 40}) {
      interpolate_scalar(w, taps, o1, n);
      interpolate_avx2(w, taps, o2, n);
      ASSERT_EQ(std::memcmp(o1, o2, n * sizeof o1[0]), 0) << c << " " << n;
    }
  }
  // Full-scale rows: -32768 pairs (the wrapping madd lanes), +32767.
  for (int i = 0; i < 40; ++i) {
    const int16_t row[6] = {-32768, 32767, static_cast<int16_t>(i % 2 ? -32768 : 32767), static_cast<int16_t>(i < 20 ? -32768 : 0), 0,
                            static_cast<int16_t>(i % 5 == 0 ? -32768 : 1)};
    for (int k = 0; k < 6; ++k) rows[k][i] = row[k];
  }
  for (auto& a : rows)
    for (auto& b : rows) {
      int64_t e1, c1, e2, c2;
      energyAndCorrelation_scalar(a, b, e1, c1);
      energyAndCorrelation_avx2(a, b, e2, c2);
      ASSERT_EQ(V({e1, c1}), V({e2, c2}));
      for (int16_t e : {int16_t{-32768}, int16_t{32767}, int16_t{-1}})
        for (int hFac : {3, 1}) {
          int16_t o1[40], o2[40];
          shiftFiltered_scalar(a, o1, e, b, hFac, hFac == 3 ? 0 : 2);
          shiftFiltered_avx2(a, o2, e, b, hFac, hFac == 3 ? 0 : 2);
          ASSERT_EQ(std::memcmp(o1, o2, sizeof o1), 0) << hFac;
        }
    }
}

// Short delays, where later outputs read earlier ones: both forms on every
// reach 18..49 and every phase, histories at the bound (outputs outgrow it
// and stop the blocks mid-way) and below it.
TEST(G729PitchKernels, ShortDelayFormsAgree) {
  REQUIRE_AVX2();
  using namespace voksc::g729::pitch;
  std::mt19937 rng(29);
  for (int phase = 0; phase < 3; ++phase) {
    int16_t taps[20];
    int32_t sum = 0;
    for (int i = 0; i < 10; ++i) {
      taps[9 - i] = voksc::g729::kInterpExc[phase + 3 * i];
      taps[10 + i] = voksc::g729::kInterpExc[3 - phase + 3 * i];
      sum += std::abs(taps[9 - i]) + std::abs(taps[10 + i]);
    }
    const int32_t limit = 0x3FFFFFFF / sum;
    for (int back = 18; back < 50; ++back)
      for (vtest::Kind k : vtest::kKinds)
        for (int32_t scale : {limit, limit / 3, limit / 64}) {
          int16_t a[104], b[104];
          vtest::fill(rng, k, a, 104);
          for (int i = 0; i < 64; ++i) a[i] = static_cast<int16_t>(a[i] * scale / 32768);
          std::memcpy(b, a, sizeof a);
          const int n1 = shortDelayBlocks_scalar(a + 64, back, taps, limit);
          const int n2 = shortDelayBlocks_avx2(b + 64, back, taps, limit);
          ASSERT_EQ(n1, n2) << phase << " " << back << " " << scale;
          ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << phase << " " << back << " " << scale;
        }
  }
}
