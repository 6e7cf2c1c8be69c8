// GSM-AMR first voice-activity detector against a checksum of the 3GPP
// reference: four runs of 400 frames (noise, clipping, chirps, silence
// stretches, level steps) with random tone, pitch and correlation inputs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "check.h"
#include "oracle_inputs.h"
#include "voksc.h"

namespace {
VAD1State_GSMAMR_16s resetState() {
  VAD1State_GSMAMR_16s s;
  std::memset(&s, 0, sizeof s);
  for (int k = 0; k < 9; ++k) s.oldLevel[k] = s.aveLevel[k] = s.bckrEst[k] = 150;
  s.corrHpFast = 13106;
  return s;
}
}  // namespace

TEST(AmrVad1, MatchesTheReference) {
  OrRng r{0x7AD1u};
  uint32_t h = OR_HASH_INIT;
  int active = 0;
  for (int run = 0; run < 4; ++run) {
    VAD1State_GSMAMR_16s s = resetState();
    int16_t buf[200] = {};
    for (int f = 0; f < 400; ++f) {
      const int16_t tone = static_cast<int16_t>(orRange(&r, 0, 0x7FFF)), hp = static_cast<int16_t>(orRange(&r, 0, 32767));
      s.pitchReg = static_cast<int16_t>(orRange(&r, 0, 0x7FFF));
      int kind = (f / 23 + run) % 8;
      if (run == 3 && (f / 40) % 2) kind = 3;
      std::memmove(buf, buf + 160, 80);
      orSignal(&r, kind, f * 160, buf + 40, 160);
      if ((f / 17) % 3 == 1)
        for (int k = 40; k < 200; ++k) buf[k] = static_cast<int16_t>(buf[k] >> (f % 12));
      int16_t flag;
      ASSERT_EQ(voksVAD1_GSMAMR_16s(buf, &s, &flag, hp, tone), vokOk);
      active += flag;
      h = orHash16(orHash16(h, &flag, 1), s.bckrEst, 9);
    }
  }
  EXPECT_EQ(h, 0xAEF471FAu);
  EXPECT_TRUE(active > 100 && active < 1500) << active;
}

TEST(AmrVad1, SilenceAndChecks) {
  VAD1State_GSMAMR_16s s = resetState();
  s.burstCount = 3;
  s.hangCount = 2;
  s.complexHangCount = 9;
  int16_t x[200] = {}, flag = 7;
  ASSERT_EQ(voksVAD1_GSMAMR_16s(x, &s, &flag, 30000, 0), vokOk);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(s.burstCount + s.hangCount + s.complexHangCount + s.complexHangTimer, 0);
  EXPECT_EQ(s.corrHpFast, 13106);
  vtest::Guard g;
  g.watch(&s).watch(&flag);
  EXPECT_REJECTS(vokErrNullPtr, g, voksVAD1_GSMAMR_16s(x, nullptr, &flag, 0, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksVAD1_GSMAMR_16s(x, &s, nullptr, 0, 0));
}
