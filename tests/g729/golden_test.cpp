// Golden data recorded from the ITU-T reference coders (built outside this
// repository) on the Annex D test speech: the 6.4 kbit/s closed-loop pitch
// search, whose reduced delay resolution the 8 kbit/s vectors do not cover.
#include <gtest/gtest.h>

#include <vector>

#include "vectors.h"
#include "voksc.h"

TEST(G729Golden, AnnexDClosedLoopPitch) {
  std::vector<int16_t> w;
  ASSERT_TRUE(vtest::readWords(vtest::goldenDir() + "/g729/pitch_g729d.bin", w));
  constexpr std::size_t kRecord = 3 + 194 + 40 + 40 + 2;
  ASSERT_EQ(w.size() % kRecord, 0u);
  const std::size_t n = w.size() / kRecord;
  ASSERT_GE(n, 100u);
  int fractional = 0;
  for (std::size_t r = 0; r < n; ++r) {
    const int16_t* p = &w[r * kRecord];
    const int sf = p[0], tMin = p[1], tMax = p[2];
    const int16_t* exc = p + 3;
    const int16_t* xn = exc + 194;
    const int16_t* h = xn + 40;
    const int16_t* want = h + 40;
    // The centre delay that yields the recorded search range.
    int centre = tMax == 143 ? 143 : tMin + (sf == 0 ? 3 : 5);
    Vok16s delay[2];
    ASSERT_EQ(voksAdaptiveCodebookSearch_G729D_16s(static_cast<Vok16s>(centre), xn, h, exc, sf, delay), vokOk);
    EXPECT_EQ(delay[0], want[0]) << "record " << r;
    EXPECT_EQ(delay[1], want[1]) << "record " << r;
    fractional += want[1] != 0;
  }
  EXPECT_GT(fractional, 0);  // the data exercises the fractional refinement
}

// The Annex E hybrid window over the first frames of the Annex E test
// speech, from the reset state: recursive part and output every frame.
TEST(G729Golden, AnnexEHybridWindow) {
  std::vector<uint8_t> b;
  ASSERT_TRUE(vtest::readFile(vtest::goldenDir() + "/g729/winhybrid_g729e.bin", b));
  constexpr std::size_t kRecord = 145 * 2 + 31 * 4;
  ASSERT_EQ(b.size() % kRecord, 0u);
  std::vector<unsigned char> state(124);
  ASSERT_EQ(voksWinHybridInit_G729E_16s(state.data()), vokOk);
  for (std::size_t r = 0; r < b.size() / kRecord; ++r) {
    const uint8_t* p = &b[r * kRecord];
    Vok16s x[145];
    for (int i = 0; i < 145; ++i) x[i] = static_cast<Vok16s>(p[2 * i] | (p[2 * i + 1] << 8));
    Vok32s got[31];
    ASSERT_EQ(voksWinHybrid_G729E_16s32s(x, got, state.data()), vokOk);
    for (int i = 0; i < 31; ++i) {
      const uint8_t* q = p + 290 + 4 * i;
      int32_t want = static_cast<int32_t>(q[0] | (q[1] << 8) | (q[2] << 16) | (static_cast<uint32_t>(q[3]) << 24));
      ASSERT_EQ(got[i], want) << "frame " << r << " lag " << i;
    }
  }
}
