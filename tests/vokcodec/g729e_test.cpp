// G.729 Annex E coder beyond what the official vectors and the differential
// run prove: the serial reader's loss marks (zero words, mode bits) against
// reference outputs, rate options and bad rate files, the frame API's
// argument handling and packing, and foreign streams (arbitrary
// frames and parameters: tests/fuzz).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "g729_test_support.h"
#include "vokcodec.h"

namespace {

using namespace g729test;

const vokc::Codec& codec() { return registeredCodec("g729e"); }

std::string golden(const std::string& name) { return vtest::goldenDir() + "/g729e/" + name; }
// 140 frames of test input.
std::vector<int16_t> stressPcm() { return testPcm(140 * 80); }

vokc::Options rateOptions(const std::string& rate, const char* format = "itu") {
  vokc::Options o;
  o.rate = rate;
  o.format = format;
  return o;
}

std::vector<uint8_t> encode(const std::vector<int16_t>& pcm, const vokc::Options& o) {
  return encodeWith(codec(), pcm, o);
}

std::vector<int16_t> decode(const std::vector<uint8_t>& bits, const vokc::Options& o = vokc::Options{}) {
  return decodeWith(codec(), bits, o);
}

// ---- reference outputs ------------------------------------------------------

TEST(G729E, SerialLossMarksDecodeAsReference) {
  // Random bits with mode-bit mismatches and zero words at both frame sizes,
  // and frames with a zero in the last, last but one and third-from-last bit
  // word (not a loss): the reference decoder's output.
  for (const char* name : {"dec_random", "tail_zero"})
    EXPECT_EQ(comparePcm(decode(readBytes(golden(std::string(name) + ".bit"))), readPcm(golden(std::string(name) + ".pcm"))), "")
        << name;
}

// ---- rate options and rate files -----------------------------------------------

TEST(G729E, BadRateFilesAndOptionsAreErrors) {
  const std::vector<int16_t> pcm(800, 0);
  const struct {
    std::vector<uint8_t> rateFile;  // none: no rate file
    bool missing;
    const char* rate;
    const char* format;
    const char* message;
  } cases[] = {
      {{1, 0, 1}, false, "", "itu", "odd byte count"},
      {{}, false, "", "itu", "empty"},
      {{1, 0, 2, 0}, false, "", "itu", "frame 1"},
      {{}, true, "", "itu", ""},
      {{1, 0}, false, "8", "itu", "not both"},
      {{}, true, "6.4", "itu", "6.4"},
      {{}, true, "11.8", "raw", ""},
  };
  for (const auto& c : cases) {
    TempFile file(c.rateFile);
    vokc::Options o = rateOptions(c.rate, c.format);
    if (!c.missing) o.rateFile = file.path;
    if (c.missing && c.rate[0] == 0) o.rateFile = ::testing::TempDir() + "g729e_no_such.rate";
    std::vector<uint8_t> bits;
    std::string err;
    EXPECT_FALSE(codec().encode(pcm, o, bits, err)) << c.message;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_FALSE(err.empty());
  }
}

TEST(G729E, FrameSizesFollowTheRate) {
  const auto pcm = stressPcm();
  const std::size_t frames = pcm.size() / 80;
  EXPECT_EQ(encode(pcm, rateOptions("8")).size(), frames * (4 + 2 * 80));
  EXPECT_EQ(encode(pcm, rateOptions("11.8")).size(), frames * (4 + 2 * 118));
  // A partial last frame is not coded.
  std::vector<int16_t> cut(pcm.begin(), pcm.begin() + 80 * 3 + 17);
  EXPECT_EQ(encode(cut, vokc::Options{}).size(), 3u * (4 + 2 * 118));
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

TEST(G729E, FrameApiChecksArguments) {
  int size = 0;
  EXPECT_EQ(vokcG729EEncoderGetSize(nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729EDecoderGetSize(nullptr), vokErrNullPtr);
  ASSERT_EQ(vokcG729EEncoderGetSize(&size), vokOk);
  std::vector<unsigned char> enc(static_cast<std::size_t>(size));
  ASSERT_EQ(vokcG729EDecoderGetSize(&size), vokOk);
  std::vector<unsigned char> dec(static_cast<std::size_t>(size));
  EXPECT_EQ(vokcG729EEncoderInit(nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729EDecoderInit(nullptr), vokErrNullPtr);
  // Any alignment of the caller's block works.
  ASSERT_EQ(vokcG729EEncoderInit(enc.data() + 3), vokOk);
  ASSERT_EQ(vokcG729EDecoderInit(dec.data() + 5), vokOk);
  Vok16s pcm[80] = {}, prm[18] = {};
  Vok8u bits[118] = {};
  int erased = 0;
  EXPECT_EQ(vokcG729EEncode(enc.data() + 3, pcm, 2, prm), vokErrRange);
  EXPECT_EQ(vokcG729EEncode(enc.data() + 3, nullptr, 1, prm), vokErrNullPtr);
  EXPECT_EQ(vokcG729EEncode(enc.data() + 3, pcm, 1, nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729EDecode(dec.data() + 5, prm, -1, 0, pcm), vokErrRange);
  EXPECT_EQ(vokcG729EDecode(dec.data() + 5, nullptr, 1, 0, pcm), vokErrNullPtr);
  EXPECT_EQ(vokcG729EDecode(nullptr, prm, 1, 0, pcm), vokErrNullPtr);
  EXPECT_EQ(vokcG729EPackBits(prm, 3, bits), vokErrRange);
  EXPECT_EQ(vokcG729EPackBits(nullptr, 1, bits), vokErrNullPtr);
  EXPECT_EQ(vokcG729EUnpackBits(bits, 1, prm, nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729EUnpackBits(bits, 7, prm, &erased), vokErrRange);
  // Encoding silence from reset: forward mode, and the 8 kbit/s encoder
  // gives G.729 parameters.
  ASSERT_EQ(vokcG729EEncode(enc.data() + 3, pcm, 1, prm), vokOk);
  EXPECT_EQ(prm[0], 0);
  ASSERT_EQ(vokcG729EEncode(enc.data() + 3, pcm, 0, prm), vokOk);
  ASSERT_EQ(vokcG729EDecode(dec.data() + 5, prm, 0, 0, pcm), vokOk);
}

// A stream cut inside a frame, and 6.4 kbit/s or SID frames, are not Annex E
// streams.
TEST(G729E, TruncatedOrForeignStreamsAreErrors) {
  std::vector<int16_t> w = {0x6B21, 80};
  w.resize(2 + 80, 0x007F);
  std::vector<int16_t> out;
  std::string err;
  auto cut = wordsToBytes(w);
  cut.resize(cut.size() - 5);
  EXPECT_FALSE(codec().decode(cut, vokc::Options{}, out, err));
  EXPECT_NE(err.find("truncated"), std::string::npos) << err;
  w = {0x6B21, 64};
  w.resize(2 + 64, 0x007F);
  EXPECT_FALSE(codec().decode(wordsToBytes(w), vokc::Options{}, out, err));
  EXPECT_NE(err.find("80/118"), std::string::npos) << err;
}

}  // namespace
