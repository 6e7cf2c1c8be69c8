// G.729 Annex E (and Annex D) coders beyond what the official vectors (the
// frame sizes of each Annex D mode among them) and the differential run
// prove: the serial reader's loss marks (zero words, mode bits) against
// reference outputs, rate options and bad rate files, the frame packing
// (argument checks: robustness_test; refused streams: g729_stream_test;
// arbitrary frames and parameters: tests/fuzz).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "g729_test_support.h"
#include "vokcodec.h"

namespace {

using namespace g729test;

const vokc::Codec& codec() { return registeredCodec("g729e"); }

std::string golden(const std::string& name) { return vtest::goldenDir() + "/g729e/" + name; }

// ---- reference outputs ------------------------------------------------------

TEST(G729E, SerialLossMarksDecodeAsReference) {
  // Random bits with mode-bit mismatches and zero words at both frame sizes,
  // and frames with a zero in the last, last but one and third-from-last bit
  // word (not a loss): the reference decoder's output.
  for (const std::string name : {"dec_random", "tail_zero"})
    EXPECT_EQ(comparePcm(decodeWith(codec(), readBytes(golden(name + ".bit")), {}), readPcm(golden(name + ".pcm"))), "")
        << name;
}

// ---- rate options ----------------------------------------------------------------

// 11.8 kbit/s unless asked for 8; a partial last frame is not coded.
TEST(G729E, FrameSizesFollowTheRate) {
  const std::vector<int16_t> pcm = testPcm(140 * 80 + 17);
  const std::pair<const char*, std::size_t> rates[] = {{"8", 80}, {"11.8", 118}, {"", 118}};
  for (const auto& [rate, bits] : rates) {
    vokc::Options o;
    o.rate = rate;
    EXPECT_EQ(encodeWith(codec(), pcm, o).size(), 140 * (4 + 2 * bits)) << rate;
  }
}

// ---- frame API ------------------------------------------------------------------

TEST(G729E, PackUnpackRoundTripAndModeBitCheck) {
  std::mt19937 rng(118);
  for (int trial = 0; trial < 200; ++trial) {
    const int rate = trial & 1;
    const int mode = (trial >> 1) & 1;
    Vok16s prm[18] = {}, back[18] = {};
    const int n = rate == 0 ? 11 : (mode == 0 ? 18 : 16);
    for (int i = 0; i < n; ++i) prm[i] = static_cast<Vok16s>(rng() & 0x7FFF);
    if (rate == 1) prm[0] = static_cast<Vok16s>(mode);
    Vok8u bits[118];
    ASSERT_EQ(vokcG729EPackBits(prm, rate, bits), vokOk);
    int erased = -1;
    ASSERT_EQ(vokcG729EUnpackBits(bits, rate, back, &erased), vokOk);
    EXPECT_EQ(erased, 0);
    // Each parameter comes back modulo its bit width.
    Vok8u again[118];
    ASSERT_EQ(vokcG729EPackBits(back, rate, again), vokOk);
    EXPECT_EQ(std::vector<Vok8u>(bits, bits + (rate ? 118 : 80)), std::vector<Vok8u>(again, again + (rate ? 118 : 80)));
    if (rate == 1) {
      EXPECT_EQ(bits[0], bits[1]);
      EXPECT_EQ(back[0], mode);
      bits[1] ^= 1;
      ASSERT_EQ(vokcG729EUnpackBits(bits, rate, back, &erased), vokOk);
      EXPECT_EQ(erased, 1);
      EXPECT_EQ(back[0], mode);
      for (int i = 1; i < n; ++i) EXPECT_EQ(back[i], 0) << i;
    }
  }
  // Forward frames carry the LSP words, backward frames do not: 116 bits each.
  Vok16s fwd[18] = {0, 255, 1023, 255, 1, 127, 127, 127, 127, 127, 127, 31, 127, 127, 127, 127, 127, 127};
  Vok8u bits[118];
  ASSERT_EQ(vokcG729EPackBits(fwd, 1, bits), vokOk);
  for (int i = 2; i < 118; ++i) EXPECT_EQ(bits[i], 1) << i;
  Vok16s bwd[18] = {1, 255, 1, 8191, 1023, 127, 127, 127, 127, 31, 8191, 1023, 127, 127, 127, 127};
  ASSERT_EQ(vokcG729EPackBits(bwd, 1, bits), vokOk);
  for (int i = 0; i < 118; ++i) EXPECT_EQ(bits[i], 1) << i;
}

// Annex D frames: each field at its width, most significant bit first.
TEST(G729D, PackingFollowsTheFieldWidths) {
  const int widths6k4[10] = {8, 10, 8, 9, 2, 6, 4, 9, 2, 6};
  const int widths8k[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
  std::mt19937 rng(64);
  for (int rate : {vokcG729D6k4, vokcG729D8k}) {
    const int* w = rate == vokcG729D6k4 ? widths6k4 : widths8k;
    const int count = rate == vokcG729D6k4 ? 10 : 11;
    for (int trial = 0; trial < 50; ++trial) {
      Vok16s prm[11] = {}, back[11] = {};
      for (int i = 0; i < count; ++i) prm[i] = static_cast<Vok16s>(rng() & ((1u << w[i]) - 1));
      Vok8u bits[81];
      bits[rate] = 0xEE;  // just past the frame: untouched
      ASSERT_EQ(vokcG729DPackBits(prm, rate, bits), vokOk);
      EXPECT_EQ(bits[rate], 0xEE);
      ASSERT_EQ(vokcG729DUnpackBits(bits, rate, back), vokOk);
      for (int i = 0; i < count; ++i) EXPECT_EQ(back[i], prm[i]) << rate << " field " << i;
      // Most significant bit of the first field first.
      EXPECT_EQ(bits[0], (prm[0] >> 7) & 1);
    }
  }
}

}  // namespace
