// The Annex B noise generator: a linear congruence carried across calls,
// and its float form the same draws scaled.  (The float LP, pitch and
// codebook forms are held to the float reference coders by the golden
// tests; the 16-bit forms by the official vectors and the differential run.)
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "voksc.h"

TEST(G729AnnexB, NoiseGeneratorIsSequential) {
  Vok16s s1 = 11111, s2 = 11111, a[5], b[5];
  ASSERT_EQ(voksRandomNoiseExcitation_G729B_16s(&s1, a, 5), vokOk);
  ASSERT_EQ(voksRandomNoiseExcitation_G729B_16s(&s2, b, 4), vokOk);
  ASSERT_EQ(voksRandomNoiseExcitation_G729B_16s(&s2, b + 4, 1), vokOk);
  EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
  EXPECT_EQ(s1, s2);
  // 60 generator steps.
  uint16_t s = 11111;
  for (int i = 0; i < 60; ++i) s = static_cast<uint16_t>(s * 31821u + 13849u);
  EXPECT_EQ(static_cast<uint16_t>(s1), s);
  Vok16s s3 = 11111;
  float f[5];
  ASSERT_EQ(voksRandomNoiseExcitation_G729B_16s32f(&s3, f, 5), vokOk);
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(f[i] * 4.0f, a[i], 1.0f);
}
