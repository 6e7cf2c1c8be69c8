// GSM-AMR post-filter against a checksum of the 3GPP reference: 40 chained
// frames per mode of noise, clipping, chirps and quiet blocks through
// analysed and random (unstable) filters; plus silence and the checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "check.h"
#include "oracle_inputs.h"
#include "voksc.h"

TEST(AmrPostFilter, MatchesTheReference) {
  const VokRateCode rates[8] = {0, 1, 3, 6, 7, 8, 11, 12};
  OrRng r{0xF117E5u};
  uint32_t h = OR_HASH_INIT;
  for (int m = 0; m < 8; ++m) {
    int16_t tilt = 0, gain = 4096, inMem[10] = {}, synMem[10] = {};
    for (int f = 0; f < 40; ++f) {
      int16_t syn[160], out[160], a[44] = {4096};
      orSignal(&r, (f + m) % 8, f * 160, syn, 160);
      if (f % 3 == 2)
        for (auto& v : syn) v = static_cast<int16_t>(v >> 6);
      if (f % 4 == 3) {
        for (int k = 1; k <= 10; ++k) a[k] = static_cast<int16_t>(orRange(&r, -16000, 16000));
      } else {
        int16_t x[240];
        int32_t acf[11];
        orSignal(&r, f + 1, f * 240, x, 240);
        voksAutoCorr_GSMAMR_16s32s(x, acf, 0);
        voksLevinsonDurbin_GSMAMR_32s16s(acf, a);
      }
      for (int k = 1; k < 4; ++k) std::memcpy(a + 11 * k, a, 22);
      ASSERT_EQ(voksPostFilter_GSMAMR_16s(a, syn, &tilt, &gain, inMem, synMem, out, rates[m]), vokOk);
      h = orHash16(h, out, 160);
    }
  }
  EXPECT_EQ(h, 0x640F2DB5u);
}

TEST(AmrPostFilter, SilenceAndChecks) {
  int16_t a[44] = {4096}, syn[160] = {}, out[160], tilt = 0, gain = 4096, inMem[10] = {}, synMem[10] = {};
  for (int k = 1; k < 4; ++k) a[11 * k] = 4096;
  ASSERT_EQ(voksPostFilter_GSMAMR_16s(a, syn, &tilt, &gain, inMem, synMem, out, 0), vokOk);
  EXPECT_EQ(gain, 0);
  for (int16_t v : out) EXPECT_EQ(v, 0);
  vtest::Guard g;
  g.watch(out, 160).watch(&tilt).watch(&gain).watch(inMem, 10).watch(synMem, 10);
  EXPECT_REJECTS(vokErrNullPtr, g, voksPostFilter_GSMAMR_16s(a, syn, &tilt, &gain, inMem, nullptr, out, 2));
  EXPECT_REJECTS(vokErrRange, g, voksPostFilter_GSMAMR_16s(a, syn, &tilt, &gain, inMem, synMem, out, 2));
}
