// G.729 exports: argument checks in the published order with nothing
// written on failure, and the behaviours callers depend on.  Bit-exactness
// of the whole chain is proven by the ITU vectors through vokcodec.
#include <gtest/gtest.h>

#include <vector>

#include "check.h"
#include "voksc.h"

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

