// The synthesis filter (scale 12) against G.729's reference synthesis
// filter (built outside this repository) on generated cases: outputs,
// memory and overflow flag; the zero-state response against the
// reference's impulse-response computation.
#include <gtest/gtest.h>

#include <cstring>

#include "../g729/pitch/cases.h"
#include "vectors.h"
#include "voksc.h"

TEST(NrGolden, SynthesisAgainstTheG729Filter) {
  std::vector<int16_t> w;
  ASSERT_TRUE(vtest::readWords(vtest::goldenDir() + "/nr/generated_synthesis.bin", w));
  const int n = static_cast<uint16_t>(w[0]) | (w[1] << 16);
  ASSERT_EQ(w.size(), 2 + 8u * n);
  int warned = 0;
  for (int c = 0; c < n; ++c) {
    const auto pc = pitchcases::make(c);
    const int16_t* q = &w[2 + 8 * c];
    SCOPED_TRACE(testing::Message() << "case " << c);
    Vok16s mem[10], y[40], lowIn[40], lowMem[10];
    std::memcpy(mem, pc.exc, sizeof mem);
    std::memcpy(lowMem, pc.exc, sizeof lowMem);
    const VokResult st = voksSynthesisFilter_NR_16s_Sfs(pc.ap, pc.y, y, 40, 12, mem);
    EXPECT_TRUE(pitchcases::hashIs(q, y, 40));
    EXPECT_TRUE(pitchcases::hashIs(q + 2, mem, 10));
    EXPECT_EQ(st, q[4] ? vokWrnOverflow : vokOk);
    warned += st == vokWrnOverflow;
    // Without any saturation the exact form is the same filter.
    std::memcpy(lowIn, pc.y, sizeof lowIn);
    const VokResult lst = voksSynthesisFilterLow_NR_16s_ISfs(pc.ap, lowIn, 40, 12, lowMem);
    if (!q[4]) {
      EXPECT_EQ(lst, vokOk);
      EXPECT_EQ(std::memcmp(lowIn, y, sizeof y), 0);
    }
    const VokResult zst = voksSynthesisFilterZeroStateResponse_NR_16s(pc.ap, y, 40, 12);
    EXPECT_TRUE(pitchcases::hashIs(q + 5, y, 40));
    EXPECT_EQ(zst, q[7] ? vokWrnOverflow : vokOk);
  }
  EXPECT_GT(warned, 0);
  EXPECT_LT(warned, n);
}
