// The noise-reduction synthesis filters are the G.729 filter (scale 12).
#include <gtest/gtest.h>

#include <random>

#include "check.h"
#include "voksc.h"

TEST(NrOnG729, SynthesisMatchesTheG729Filter) {
  const Vok16s lsp[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
  Vok16s a[11];
  voksLSPToLPC_G729_16s(lsp, a);
  std::mt19937 rng(1);
  Vok16s x[40], y1[40], y2[40], m1[10] = {}, m2[10] = {};
  for (auto& v : x) v = static_cast<Vok16s>(static_cast<int>(rng() % 4001) - 2000);
  ASSERT_EQ(voksSynthesisFilter_NR_16s_Sfs(a, x, y1, 40, 12, m1), vokOk);
  voksSynthesisFilter_G729E_16s(a, 10, x, y2, 40, m2);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(y1[i], y2[i]) << i;
  for (int i = 0; i < 10; ++i) EXPECT_EQ(m1[i], m2[i]);
  Vok16s h[40], h2[40] = {4096}, zm[10] = {};
  ASSERT_EQ(voksSynthesisFilterZeroStateResponse_NR_16s(a, h, 40, 12), vokOk);
  voksSynthesisFilter_G729E_16s_I(a, 10, h2, 40, zm);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(h[i], h2[i]);
  vtest::Guard g;
  g.watch(y1, 40).watch(m1, 10);
  EXPECT_REJECTS(vokErrScale, g, voksSynthesisFilter_NR_16s_Sfs(a, x, y1, 40, 14, m1));
  EXPECT_REJECTS(vokErrNullPtr, g, voksSynthesisFilter_NR_16s_Sfs(a, x, y1, 0, 14, nullptr));
  EXPECT_REJECTS(vokErrSize, g, voksSynthesisFilterLow_NR_16s_ISfs(a, y1, 0, 14, m1));
}

