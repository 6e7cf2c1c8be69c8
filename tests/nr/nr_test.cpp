// Noise-reduction vector operations: rounding convention, saturation edge
// cases, check order.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "check.h"
#include "voksc.h"

TEST(NrOps, MulRoundingAndTheOneWrappingCase) {
  const Vok16s a[4] = {-32768, 3, 32767, -5}, b[4] = {-32768, 5, 32767, 3};
  Vok16s d[4];
  ASSERT_EQ(voksMul_NR_16s_Sfs(a, b, d, 4, 15), vokOk);
  EXPECT_EQ(d[0], -32768);  // 2^30 rounded by 15 is 32768, not saturated
  EXPECT_EQ(d[2], 32766);
  ASSERT_EQ(voksMul_NR_16s_Sfs(a, b, d, 4, 0), vokOk);
  EXPECT_EQ(d[0], 32767);  // sf 0: plain saturated product
  EXPECT_EQ(d[1], 15);
  EXPECT_EQ(d[3], -15);
  ASSERT_EQ(voksMul_NR_16s_Sfs(a, b, d, 4, 2), vokOk);
  EXPECT_EQ(d[1], 4);   // (15 + 2) >> 2
  EXPECT_EQ(d[3], -4);  // (-15 + 2) >> 2 = -13 >> 2
  Vok16s c[2] = {7, -7};
  ASSERT_EQ(voksMulC_NR_16s_ISfs(3, c, 2, 1), vokOk);
  EXPECT_EQ(c[0], 11);
  EXPECT_EQ(c[1], -10);
}

TEST(NrOps, MulPowerC) {
  const Vok16s x[4] = {100, 16384, 16384, 16384};
  Vok16s d[4] = {0, 0, 0, 0};
  ASSERT_EQ(voksMulPowerC_NR_16s_Sfs(x, 16384, d, 1, 15), vokOk);
  EXPECT_EQ(d[0], 100);
  EXPECT_EQ(d[1], 0);
  ASSERT_EQ(voksMulPowerC_NR_16s_Sfs(x, 16384, d, 4, 15), vokOk);
  EXPECT_EQ(d[1], 8192);  // x c
  EXPECT_EQ(d[2], 4096);  // x c^2
  EXPECT_EQ(d[3], 2048);
}

TEST(NrOps, InterpolateC) {
  const Vok16s a[1] = {1000}, b[1] = {2000};
  Vok16s d[1];
  // Each constant counts as c 2^(sf - 16): with sf 0 both are Q16 (0.25 each).
  ASSERT_EQ(voksInterpolateC_NR_16s(a, 16384, 0, b, 16384, 0, d, 1), vokOk);
  EXPECT_EQ(d[0], 750);
  // The same weights with the first constant expressed at sf 1.
  ASSERT_EQ(voksInterpolateC_NR_16s(a, 8192, 1, b, 16384, 0, d, 1), vokOk);
  EXPECT_EQ(d[0], 750);
  ASSERT_EQ(voksInterpolateC_NR_16s(b, 16384, 0, a, 8192, 1, d, 1), vokOk);
  EXPECT_EQ(d[0], 750);
}

TEST(NrOps, AutoCorrNormE) {
  Vok16s z[8] = {}, r[3];
  int sh = 9;
  ASSERT_EQ(voksAutoCorr_NormE_NR_16s(z, 8, r, 3, &sh), vokOk);
  EXPECT_EQ(sh, 0);
  EXPECT_EQ(r[0], 0);
  const Vok16s x[4] = {100, 100, 100, 100};
  ASSERT_EQ(voksAutoCorr_NormE_NR_16s(x, 4, r, 3, &sh), vokOk);
  EXPECT_GE(r[0], 16384);  // normalised into [2^30, 2^31)
  EXPECT_NEAR(r[1], r[0] * 3 / 4, 1);
}

TEST(NrOps, CorrelationsAndConvolution) {
  const Vok16s a[3] = {1, 2, 3}, b[5] = {4, 5, 6, 7, 8};
  Vok32s c32[3];
  ASSERT_EQ(voksCrossCorr_NR_16s32s(a, b, 3, c32, 3), vokOk);
  EXPECT_EQ(c32[0], 4 + 10 + 18);
  EXPECT_EQ(c32[2], 6 + 14 + 24);
  Vok16s c16[3];
  ASSERT_EQ(voksCrossCorr_NR_16s_Sfs(a, b, 3, c16, 3, 1), vokOk);
  EXPECT_EQ(c16[0], 16);
  const Vok16s h[3] = {4096, 2048, 0};
  const Vok16s s[3] = {100, 200, 300};
  Vok16s conv[3], low[3];
  ASSERT_EQ(voksConvPartial_NR_16s(s, h, conv, 3), vokOk);
  ASSERT_EQ(voksConvPartial_NR_Low_16s(s, h, low, 3), vokOk);
  EXPECT_EQ(conv[0], 100);
  EXPECT_EQ(conv[1], 250);
  EXPECT_EQ(conv[2], 400);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(conv[i], low[i]);
  Vok16s hist[6] = {1000, 0, 0, 0, 0, 0}, out[4];
  ASSERT_EQ(voksHarmonicFilter_NR_16s(16384, 2, hist + 2, out, 4), vokOk);
  EXPECT_EQ(out[0], 500);  // x[0] + 0.5 x[-2], from the source's history
  EXPECT_EQ(out[2], 0);
}

TEST(NrOps, NullBeforeSizeBeforeScale) {
  Vok16s d[4], x[4] = {};
  vtest::Guard g;
  g.watch(d, 4);
  EXPECT_REJECTS(vokErrNullPtr, g, voksMul_NR_16s_Sfs(x, nullptr, d, 0, -1));
  EXPECT_REJECTS(vokErrSize, g, voksMul_NR_16s_Sfs(x, x, d, 0, -1));
  EXPECT_REJECTS(vokErrScale, g, voksMulC_NR_16s_Sfs(x, 1, d, 4, -1));
  EXPECT_REJECTS(vokErrScale, g, voksMulPowerC_NR_16s_Sfs(x, 1, d, 0, -1));  // scale checked before length here
  EXPECT_REJECTS(vokErrScale, g, voksInterpolateC_NR_16s(x, 1, -1, x, 1, 0, d, 4));
  EXPECT_REJECTS(vokErrSize, g, voksCrossCorr_NR_16s(x, x, 4, d, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksConvPartial_NR_Low_16s(nullptr, x, d, 0));
}
