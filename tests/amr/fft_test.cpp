// The second detector's 128-point real FFT against a checksum of the 3GPP
// reference on 2000 hostile blocks, and a DC block.
#include <gtest/gtest.h>

#include <cstdint>

#include "oracle_inputs.h"
#include "voksc.h"

TEST(AmrFft, MatchesTheReference) {
  OrRng r{0xFF7u};
  uint32_t h = OR_HASH_INIT;
  for (int c = 0; c < 2000; ++c) {
    int16_t a[128];
    orSignal(&r, c, c * 128, a, 128);
    if (c % 5 == 4)
      for (auto& v : a) v = static_cast<int16_t>(v >> (c % 13));
    ASSERT_EQ(voksFFTFwd_RToPerm_GSMAMR_16s_I(a), vokOk);
    h = orHash16(h, a, 128);
  }
  EXPECT_EQ(h, 0x0CF20358u);
  // A constant block: everything in Re(0): 64 pairs summed and halved six times, real + imaginary.
  int16_t d[128];
  for (auto& v : d) v = 6400;
  ASSERT_EQ(voksFFTFwd_RToPerm_GSMAMR_16s_I(d), vokOk);
  EXPECT_EQ(d[0], 12800);
  for (int k = 1; k < 128; ++k) EXPECT_EQ(d[k], 0) << k;
  EXPECT_EQ(voksFFTFwd_RToPerm_GSMAMR_16s_I(nullptr), vokErrNullPtr);
}
