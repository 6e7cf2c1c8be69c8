// G.729 Annex D coder beyond what the official vectors and the differential
// run prove: frame sizes per mode, bad modes and frame
// sizes, the frame API's argument handling and field packing (arbitrary
// parameters and streams: tests/fuzz).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "g729_test_support.h"
#include "vokcodec.h"

namespace {

using namespace g729test;

const vokc::Codec& codec() { return registeredCodec("g729d"); }

vokc::Options modeOptions(int mode, const char* format = "itu") {
  vokc::Options o;
  o.mode = mode;
  o.format = format;
  return o;
}

std::vector<uint8_t> encode(const std::vector<int16_t>& pcm, const vokc::Options& o) {
  return encodeWith(codec(), pcm, o);
}

// ---- stream layouts ----------------------------------------------------------

TEST(G729D, ModesSetTheFrameSizes) {
  auto pcm = testPcm(80 * 6 + 37);  // a partial last frame is not coded
  const int expected[3][6] = {{64, 64, 64, 64, 64, 64}, {80, 80, 80, 80, 80, 80}, {80, 64, 80, 64, 80, 64}};
  for (int mode = 1; mode <= 3; ++mode) {
    std::vector<vokc::SerialFrame> frames;
    std::string err;
    ASSERT_TRUE(vokc::readSerialFrames(encode(pcm, modeOptions(mode)), {64, 80}, frames, err)) << err;
    ASSERT_EQ(frames.size(), 6u);
    for (int f = 0; f < 6; ++f) EXPECT_EQ(static_cast<int>(frames[f].bits.size()), expected[mode - 1][f]) << mode;
  }
  // Mode 0 is mode 1.
  EXPECT_EQ(encode(pcm, modeOptions(0)), encode(pcm, modeOptions(1)));
}

TEST(G729D, RejectsBadModesAndFormats) {
  std::vector<int16_t> pcm(160);
  std::vector<uint8_t> bits;
  std::vector<int16_t> out;
  std::string err;
  EXPECT_FALSE(codec().encode(pcm, modeOptions(4), bits, err));
  EXPECT_NE(err.find("mode"), std::string::npos);
  err.clear();
  EXPECT_FALSE(codec().encode(pcm, modeOptions(-1), bits, err));
  EXPECT_FALSE(err.empty());
  err.clear();
  EXPECT_FALSE(codec().decode(std::vector<uint8_t>(16), modeOptions(3, "rtp"), out, err));
  EXPECT_EQ(err, "option 'mode' of g729d applies to the encoder only");
  err.clear();
  EXPECT_FALSE(codec().encode(pcm, modeOptions(1, "raw"), bits, err));
  EXPECT_FALSE(err.empty());
}

TEST(G729D, RejectsFramesOfOtherSizes) {
  std::vector<uint8_t> frame;
  std::vector<uint8_t> bits(118, 1);
  vokc::writeSerialFrame(frame, bits.data(), 118);  // an 11.8 kbit/s frame
  std::vector<int16_t> out;
  std::string err;
  EXPECT_FALSE(codec().decode(frame, vokc::Options{}, out, err));
  EXPECT_FALSE(err.empty());
  frame.clear();
  vokc::writeSerialFrame(frame, bits.data(), 15);  // a SID frame
  err.clear();
  EXPECT_FALSE(codec().decode(frame, vokc::Options{}, out, err));
  EXPECT_FALSE(err.empty());
}

// ---- the frame API -------------------------------------------------------------

struct Coder {
  std::vector<unsigned char> enc, dec;
  Coder() {
    int size = 0;
    EXPECT_EQ(vokcG729DEncoderGetSize(&size), vokOk);
    enc.resize(static_cast<std::size_t>(size) + 1);
    EXPECT_EQ(vokcG729DDecoderGetSize(&size), vokOk);
    dec.resize(static_cast<std::size_t>(size) + 1);
    // Deliberately misaligned objects: the coder aligns them itself.
    EXPECT_EQ(vokcG729DEncoderInit(enc.data() + 1), vokOk);
    EXPECT_EQ(vokcG729DDecoderInit(dec.data() + 1), vokOk);
  }
  void* e() { return enc.data() + 1; }
  void* d() { return dec.data() + 1; }
};

TEST(G729D, FrameApiChecksArguments) {
  Coder c;
  Vok16s pcm[80] = {};
  Vok16s prm[11] = {};
  Vok8u bits[80] = {};
  EXPECT_EQ(vokcG729DEncoderGetSize(nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729DDecoderGetSize(nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729DEncoderInit(nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729DDecoderInit(nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729DEncode(c.e(), nullptr, vokcG729D6k4, prm), vokErrNullPtr);
  EXPECT_EQ(vokcG729DEncode(c.e(), pcm, vokcG729D6k4, nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729DEncode(nullptr, pcm, vokcG729D6k4, prm), vokErrNullPtr);
  for (int rate : {0, 63, 65, 79, 118, -64}) {
    EXPECT_EQ(vokcG729DEncode(c.e(), pcm, rate, prm), vokErrRange) << rate;
    EXPECT_EQ(vokcG729DDecode(c.d(), prm, rate, 0, pcm), vokErrRange) << rate;
    EXPECT_EQ(vokcG729DPackBits(prm, rate, bits), vokErrRange) << rate;
    EXPECT_EQ(vokcG729DUnpackBits(bits, rate, prm), vokErrRange) << rate;
  }
  EXPECT_EQ(vokcG729DDecode(c.d(), nullptr, vokcG729D8k, 0, pcm), vokErrNullPtr);
  EXPECT_EQ(vokcG729DDecode(c.d(), nullptr, vokcG729D8k, 1, pcm), vokOk);  // lost frame: no parameters needed
  EXPECT_EQ(vokcG729DDecode(c.d(), prm, vokcG729D8k, 0, nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729DPackBits(nullptr, vokcG729D8k, bits), vokErrNullPtr);
  EXPECT_EQ(vokcG729DUnpackBits(nullptr, vokcG729D8k, prm), vokErrNullPtr);
}

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
