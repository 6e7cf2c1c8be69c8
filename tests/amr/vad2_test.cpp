// GSM-AMR second voice-activity detector against a checksum of the 3GPP
// reference: four runs of 800 half frames (noise, clipping, chirps, silence
// and quiet-noise stretches, level steps, random long-term flags), hashing
// the decision, the long-term SNR and the 16 channel noise estimates.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "check.h"
#include "oracle_inputs.h"
#include "voksc.h"

TEST(AmrVad2, MatchesTheReference) {
  OrRng r{0x7AD2u};
  uint32_t h = OR_HASH_INIT;
  int active = 0;
  for (int run = 0; run < 4; ++run) {
    VAD2State_GSMAMR_16s s;
    std::memset(&s, 0, sizeof s);
    for (int f = 0; f < 800; ++f) {
      int kind = (f / 37 + run) % 8;
      if (run == 3 && (f / 60) % 2) kind = 3;
      if (run == 2 && (f / 90) % 2) kind = 1;
      int16_t x[80];
      orSignal(&r, kind, f * 80, x, 80);
      if ((f / 29) % 3 == 1)
        for (auto& v : x) v = static_cast<int16_t>(v >> (f % 15));
      const int16_t ltp = orRange(&r, 0, 3) == 0;
      int16_t flag;
      ASSERT_EQ(voksVAD2_GSMAMR_16s(x, &s, &flag, ltp), vokOk);
      active += flag;
      int16_t v[34] = {flag, s.totalSnr};
      for (int c = 0; c < 16; ++c) {
        v[2 + 2 * c] = static_cast<int16_t>(s.chanNoise[c] & 0xFFFF);
        v[3 + 2 * c] = static_cast<int16_t>(s.chanNoise[c] >> 16);
      }
      h = orHash16(h, v, 34);
    }
  }
  EXPECT_EQ(h, 0xF74BDC23u);
  EXPECT_EQ(active, 2434);
}

TEST(AmrVad2, SilenceAndChecks) {
  VAD2State_GSMAMR_16s s;
  std::memset(&s, 0, sizeof s);
  int16_t x[80] = {}, flag = 7;
  for (int k = 0; k < 6; ++k) ASSERT_EQ(voksVAD2_GSMAMR_16s(x, &s, &flag, 0), vokOk);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(s.frameCount, 6);
  EXPECT_EQ(s.lastNormShift, 14);  // an all-zero block keeps the largest shift
  vtest::Guard g;
  g.watch(&s).watch(&flag);
  EXPECT_REJECTS(vokErrNullPtr, g, voksVAD2_GSMAMR_16s(nullptr, &s, &flag, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksVAD2_GSMAMR_16s(x, nullptr, &flag, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksVAD2_GSMAMR_16s(x, &s, nullptr, 0));
}
