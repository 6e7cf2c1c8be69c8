// G.729 exports: argument checks in the published order with nothing
// written on failure, and the behaviours callers depend on.  Bit-exactness
// of the whole chain is proven by the ITU vectors through vokcodec.
#include <gtest/gtest.h>

#include <vector>

#include "check.h"
#include "voksc.h"

TEST(G729Pitch, RangesAndIndexChecks) {
  std::vector<Vok16s> exc(194, 100), x(40, 10), h(40, 0), vec(40);
  h[0] = 4096;
  Vok16s delay[2];
  vtest::Guard g;
  g.watch(exc.data(), exc.size()).watch(delay, 2).watch(vec.data(), 40);
  EXPECT_REJECTS(vokErrRange, g, voksAdaptiveCodebookSearch_G729_16s(146, x.data(), h.data(), exc.data(), delay, vec.data(), 0));
  EXPECT_REJECTS(vokErrRange, g, voksAdaptiveCodebookSearch_G729A_16s(60, x.data(), h.data(), exc.data(), delay, vec.data(), 2));
  EXPECT_REJECTS(vokErrNullPtr, g, voksAdaptiveCodebookSearch_G729D_16s(146, x.data(), h.data(), exc.data(), 0, nullptr));
  Vok16s bad[2] = {145, 0};
  EXPECT_REJECTS(vokErrIndex, g, voksDecodeAdaptiveVector_G729_16s_I(bad, exc.data()));
  bad[0] = 60;
  bad[1] = 2;
  EXPECT_REJECTS(vokErrIndex, g, voksDecodeAdaptiveVector_G729_16s(bad, exc.data(), vec.data()));
  const Vok16s ok[2] = {144, 1};
  EXPECT_EQ(voksDecodeAdaptiveVector_G729_16s_I(ok, exc.data()), vokOk);
  EXPECT_EQ(voksAdaptiveCodebookSearch_G729_16s(145, x.data(), h.data(), exc.data(), delay, vec.data(), 0), vokOk);
  EXPECT_GE(delay[0], 137);
  EXPECT_LE(delay[0], 143);
}

TEST(G729Pitch, IntegerDelayAboveEightyFourHasNoFraction) {
  // A pulse train of period 90 in the past excitation; the target is its
  // continuation, so the search lands on 90 without fractional refinement.
  std::vector<Vok16s> exc(194, 0), x(40, 0), h(40, 0), vec(40);
  h[0] = 4096;
  for (int i = 4; i < 154; i += 90) exc[i] = 8000;
  for (int i = 0; i < 40; ++i) x[i] = exc[154 + i - 90];
  Vok16s delay[2];
  ASSERT_EQ(voksAdaptiveCodebookSearch_G729_16s(90, x.data(), h.data(), exc.data(), delay, vec.data(), 0), vokOk);
  EXPECT_EQ(delay[0], 90);
  EXPECT_EQ(delay[1], 0);
}

TEST(G729Pitch, GainOfOrthogonalAndDoubledTargets) {
  std::vector<Vok16s> h(40, 0), vec(40), y(40), x(40);
  h[0] = 4096;
  for (int i = 0; i < 40; ++i) vec[i] = static_cast<Vok16s>(i % 2 ? 1000 : -1000);
  Vok16s gain = -1;
  for (int i = 0; i < 40; ++i) x[i] = static_cast<Vok16s>((i / 2) % 2 ? 1000 : -1000);
  ASSERT_EQ(voksAdaptiveCodebookGain_G729_16s(x.data(), h.data(), vec.data(), y.data(), &gain), vokOk);
  EXPECT_EQ(gain, 0);
  for (int i = 0; i < 40; ++i) x[i] = static_cast<Vok16s>(2 * vec[i]);
  ASSERT_EQ(voksAdaptiveCodebookGain_G729_16s(x.data(), h.data(), vec.data(), y.data(), &gain), vokOk);
  EXPECT_EQ(gain, 19661);
  Vok16s x2[40];
  ASSERT_EQ(voksAdaptiveCodebookContribution_G729_16s(16384, y.data(), x.data(), x2), vokOk);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(x2[i], x[i] - y[i]);
}

TEST(G729Codebook, ZeroTargetGivesPositiveSigns) {
  std::vector<Vok16s> h(40, 0), dn(40, 0), cod(40);
  h[0] = 4096;
  Vok16s rr[616], idx[2];
  voksToeplizMatrix_G729_16s(h.data(), rr);
  ASSERT_EQ(voksFixedCodebookSearch_G729A_16s(dn.data(), rr, cod.data(), idx), vokOk);
  EXPECT_EQ(idx[1], 15);
  for (Vok16s c : cod) EXPECT_TRUE(c == 0 || c == 8191);
}

TEST(G729Gain, ErasureAndIndexChecks) {
  Vok16s mem[4] = {-1000, -2000, -3000, -4000};
  Vok16s gains[2] = {16384, 1000};
  ASSERT_EQ(voksDecodeGain_G729_16s(0, mem, nullptr, gains), vokOk);
  EXPECT_EQ(gains[0], 14745);
  EXPECT_EQ(gains[1], (1000 * 32111) >> 15);
  EXPECT_EQ(mem[0], -2500 - 4096);
  EXPECT_EQ(mem[1], -1000);
  Vok16s m1[4] = {-14336, -14336, -14336, -14336};
  Vok16s g1[2] = {0, 0};
  const Vok16s i1[2] = {8, 3};  // a first-stage index beyond 3 bits
  vtest::Guard g;
  std::vector<Vok16s> v(40, 100);
  Vok16s rows[2];
  g.watch(m1, 4).watch(g1, 2).watch(rows, 2);
  EXPECT_REJECTS(vokErrRange, g, voksGainQuant_G729_16s(v.data(), v.data(), v.data(), v.data(), m1, g1, rows, 2));
  EXPECT_REJECTS(vokErrNullPtr, g, voksDecodeGain_G729_16s(0, nullptr, i1, g1));
  EXPECT_REJECTS(vokErrIndex, g, voksDecodeGain_G729_16s(4 * 8191 * 8191, m1, i1, g1));
}

