// GSM-AMR algebraic codebook search against a checksum of the 3GPP
// reference: random targets, residuals, impulse responses (some full-scale)
// lags and sharpening gains in every subframe of the modes available.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "check.h"
#include "oracle_inputs.h"
#include "voksc.h"

TEST(AmrFcbSearch, MatchesTheReference) {
  const VokRateCode rates[6] = {0, 1, 3, 6, 7, 8};
  OrRng r{0xCB5EAu};
  uint32_t h = OR_HASH_INIT;
  for (int m = 0; m < 6; ++m)
    for (int c = 0; c < 300; ++c) {
      int16_t x[40], res[40], hr[40], code[40], y[40], idx[2];
      const int16_t lag = static_cast<int16_t>(orRange(&r, 17, 144));
      const int16_t gp = static_cast<int16_t>(orRange(&r, 0, c % 7 == 3 ? 32767 : 13000));
      orSignal(&r, c, c * 40, x, 40);
      orSignal(&r, c + 1, c * 40, res, 40);
      for (int k = 0; k < 40; ++k) hr[k] = static_cast<int16_t>(k == 0 ? 4096 : orRange(&r, -4096 >> (k / 6), 4096 >> (k / 6)));
      if (c % 9 == 4)
        for (auto& v : hr) v = static_cast<int16_t>(orRange(&r, -32768, 32767));
      ASSERT_EQ(voksAlgebraicCodebookSearch_GSMAMR_16s(lag, gp, x, res, hr, code, y, idx, static_cast<int16_t>(c & 3), rates[m]), vokOk);
      // The decoder rebuilds the same vector (before sharpening) from the words.
      int16_t dec[40];
      ASSERT_EQ(voksFixedCodebookDecode_GSMAMR_16s(idx, dec, static_cast<int16_t>(c & 3), rates[m]), vokOk);
      if (lag >= 40) {
        EXPECT_EQ(std::memcmp(dec, code, sizeof dec), 0);
      }
      h = orHash16(orHash16(orHash16(h, code, 40), y, 40), idx, 2);
    }
  EXPECT_EQ(h, 0xA1BC7F6Eu);
}

TEST(AmrFcbSearch, EightAndTenPulsesMatchTheReference) {
  OrRng r{0xCB5EBu};
  uint32_t h = OR_HASH_INIT;
  for (int m = 6; m < 8; ++m) {
    const int words = m == 6 ? 7 : 10;
    for (int c = 0; c < 300; ++c) {
      int16_t x[40], res[40], hr[40], code[40], y[40], idx[10];
      const int16_t lag = static_cast<int16_t>(orRange(&r, 17, 144));
      const int16_t gp = static_cast<int16_t>(orRange(&r, 0, c % 7 == 3 ? 32767 : 13000));
      orSignal(&r, c, c * 40, x, 40);
      orSignal(&r, c + 1, c * 40, res, 40);
      for (int k = 0; k < 40; ++k) hr[k] = static_cast<int16_t>(k == 0 ? 4096 : orRange(&r, -4096 >> (k / 6), 4096 >> (k / 6)));
      if (c % 9 == 4)
        for (auto& v : hr) v = static_cast<int16_t>(orRange(&r, -32768, 32767));
      const VokRateCode rate = m == 6 ? 11 : 12;
      ASSERT_EQ(voksAlgebraicCodebookSearch_GSMAMR_16s(lag, gp, x, res, hr, code, y, idx, static_cast<int16_t>(c & 3), rate), vokOk);
      int16_t dec[40];
      ASSERT_EQ(voksFixedCodebookDecode_GSMAMR_16s(idx, dec, static_cast<int16_t>(c & 3), rate), vokOk);
      if (lag >= 40) {
        EXPECT_EQ(std::memcmp(dec, code, sizeof dec), 0);
      }
      h = orHash16(orHash16(orHash16(h, code, 40), y, 40), idx, words);
    }
  }
  EXPECT_EQ(h, 0x91831501u);
}

TEST(AmrFcbSearch, Checks) {
  int16_t t[40] = {}, code[40], y[40], idx[10];
  char work[16];
  vtest::Guard g;
  g.watch(code, 40).watch(y, 40).watch(idx, 10);
  EXPECT_REJECTS(vokErrNullPtr, g, voksAlgebraicCodebookSearchEX_GSMAMR_16s(60, 0, t, t, t, code, y, idx, 0, 0, nullptr));
  EXPECT_REJECTS(vokErrRange, g, voksAlgebraicCodebookSearchEX_GSMAMR_16s(16, 0, t, t, t, code, y, idx, 0, 0, work));
  EXPECT_REJECTS(vokErrRange, g, voksAlgebraicCodebookSearch_GSMAMR_16s(60, 0, t, t, t, code, y, idx, 4, 0));
  EXPECT_REJECTS(vokErrRange, g, voksAlgebraicCodebookSearch_GSMAMR_16s(145, 0, t, t, t, code, y, idx, 0, 0));
  EXPECT_REJECTS(vokErrRange, g, voksAlgebraicCodebookSearch_GSMAMR_16s(60, 0, t, t, t, code, y, idx, 0, 2));
  EXPECT_REJECTS(vokErrNullPtr, g, voksAlgebraicCodebookSearch_GSMAMR_16s(60, 0, nullptr, t, t, code, y, idx, 0, 2));
}
