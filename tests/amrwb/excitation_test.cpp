// AMR-WB excitation search (open-loop lag, adaptive codebook, gains,
// algebraic codebook): hostile inputs and carried memories against
// checksums of the 3GPP reference's outputs for the same inputs, then the
// argument checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "check.h"
#include "excitation_cases.h"
#include "voksc.h"

namespace {

bool failed = false;
void ok(VokResult r) { failed |= r != vokOk; }

const int16_t kWspA[4] = {8192, 21663, -19258, 5734}, kWspB[4] = {-3432, 10280, -10280, 3432};
alignas(8) unsigned char hpState[40];
int16_t hpBuf[115 + 128];

const WbExcOps kOps = {
    [](const int16_t* wsp, int len, int reset, int16_t* mem, int16_t* gain) {
      auto* s = reinterpret_cast<HighPassFilterState_AMRWB_16s*>(hpState);
      if (reset) {
        ok(voksHighPassFilterInit_AMRWB_16s(kWspA, kWspB, 3, s));
        std::memset(hpBuf, 0, sizeof hpBuf);
      }
      ok(voksHighPassFilter_AMRWB_16s_Sfs(wsp, hpBuf + 115, len, s, 0));
      int16_t lag = 0;
      ok(voksOpenLoopPitchSearch_AMRWB_16s(wsp, hpBuf + 115, &mem[0], &mem[1], &lag, &mem[3], gain, mem + 4,
                                           &mem[2], len));
      std::memmove(hpBuf, hpBuf + len, 115 * sizeof(int16_t));
      return int{lag};
    },
    [](const int16_t* x, const int16_t* y, int len, int16_t* coeff) {
      int16_t g = -1;
      ok(voksAdaptiveCodebookGainCoeff_AMRWB_16s(x, y, coeff, &g, len));
      return g;
    },
};

// Outputs of the 3GPP TS 26.173 reference for the groups of excitation_cases.h.
const uint32_t kReference[WBX_GROUPS] = {
    0x954828FBu,
    0x23B065A4u,
};
const char* const kGroupName[WBX_GROUPS] = {"open-loop lag", "adaptive-codebook gain"};

}  // namespace

TEST(AmrWbExcitation, EveryGroupMatchesTheReference) {
  for (int g = 0; g < WBX_GROUPS; ++g) {
    failed = false;
    EXPECT_EQ(wbxRunGroup(&kOps, g), kReference[g]) << kGroupName[g];
    EXPECT_FALSE(failed) << kGroupName[g];
  }
}

TEST(AmrWbExcitation, RejectsBadArgumentsWithoutWriting) {
  int16_t v[512] = {}, out[16] = {};
  vtest::Guard g;
  g.watch(out, 16);
  const int16_t* in = v + 256;
  EXPECT_EACH_NULL(g, voksOpenLoopPitchSearch_AMRWB_16s, in, in, out, out + 1, out + 2, out + 3, out + 4, out + 5,
                   out + 10, 0);
  EXPECT_EACH_NULL(g, voksOpenLoopPitchSearch_AMRWBE_16s, in, in, out, out + 1, out + 2, out + 3, out + 4, out + 5,
                   out + 10, 0, 17, 17);
  EXPECT_EACH_NULL(g, voksAdaptiveCodebookGainCoeff_AMRWB_16s, in, in, out, out + 4, 0);
  EXPECT_TRUE(vtest::rejects(vokErrSize, g, [&] {
    return voksOpenLoopPitchSearch_AMRWB_16s(in, in, out, out + 1, out + 2, out + 3, out + 4, out + 5, out + 10, 0);
  }));
  EXPECT_TRUE(vtest::rejects(vokErrSize, g, [&] {
    return voksAdaptiveCodebookGainCoeff_AMRWB_16s(in, in, out, out + 4, -1);
  }));
  // Lag ranges the weighting table cannot cover, empty or negative.
  const Vok16s ranges[][2] = {{17, 17}, {40, 30}, {-1, 100}, {10, 210}};
  for (const auto& lr : ranges)
    EXPECT_TRUE(vtest::rejects(vokErrRange, g, [&] {
      return voksOpenLoopPitchSearch_AMRWBE_16s(in, in, out, out + 1, out + 2, out + 3, out + 4, out + 5, out + 10,
                                                64, lr[0], lr[1]);
    })) << lr[0] << ".." << lr[1];
}
