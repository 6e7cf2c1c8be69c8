// The stream glue shared by the G.729-family registry entries: the checks
// must notice a differing frame in official streams of mixed frame sizes,
// RTP payloads must split into whole frames, and rate files must follow
// each codec's rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "g729/g729_stream.h"
#include "g729_test_support.h"

namespace {

using namespace g729test;

std::string annexI() { return vtest::testVectorDir() + "/g729/annexI/"; }

// Byte offset of frame `frame` in a serial stream.
std::size_t frameOffset(const std::vector<uint8_t>& stream, std::size_t frame) {
  std::size_t at = 0;
  for (std::size_t f = 0; f < frame; ++f) at += 4 + 2u * (stream[at + 2] | (stream[at + 3] << 8));
  return at;
}

// An official Annex I stream holds SID, untransmitted and 6.4 / 11.8 kbit/s
// frames: a flipped bit anywhere is found in its own frame.
TEST(G729Stream, ComparisonFindsTheDifferingFrame) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  const std::vector<uint8_t> want = readBytes(annexI() + "dm19.b10");
  ASSERT_GT(want.size(), 4000u);
  EXPECT_EQ(vokc::compareSerialStreams(want, want), "");

  for (std::size_t frame : {0u, 7u, 150u}) {
    std::vector<uint8_t> got = want;
    const std::size_t at = frameOffset(got, frame);
    ASSERT_LT(at + 4, got.size());
    const int bits = got[at + 2] | (got[at + 3] << 8);
    if (bits == 0) continue;  // nothing to flip in an untransmitted frame
    const std::size_t word = at + 4 + 2u * static_cast<std::size_t>(bits - 1);
    got[word] = got[word] == 0x7F ? 0x81 : 0x7F;
    EXPECT_EQ(vokc::compareSerialStreams(got, want).rfind("first differing frame " + std::to_string(frame) + " ", 0),
              0u)
        << frame;
  }

  // A lost frame (a bit word of 0) differs from the received one.
  std::vector<uint8_t> lost = want;
  const std::size_t at = frameOffset(lost, 3);
  if ((lost[at + 2] | (lost[at + 3] << 8)) > 0) {
    lost[at + 4] = 0;
    EXPECT_NE(vokc::compareSerialStreams(lost, want), "");
  }

  // A stream cut after whole frames is shorter, not equal.
  const std::vector<uint8_t> cut(want.begin(), want.begin() + static_cast<long>(frameOffset(want, 20)));
  EXPECT_EQ(vokc::compareSerialStreams(cut, want).rfind("frame count 20,", 0), 0u);
  // A stream cut inside a frame is no stream at all.
  const std::vector<uint8_t> broken(want.begin(), want.begin() + static_cast<long>(frameOffset(want, 20) + 6));
  EXPECT_EQ(vokc::compareSerialStreams(broken, want).rfind("output: ", 0), 0u);
}

// The registry checks built by the shared glue pass the right coder output
// and fail a wrong one (a check that always passes would hide any fault).
TEST(G729Stream, ChecksTellRightFromWrong) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  const std::string root = vtest::testVectorDir();
  const std::vector<uint8_t> official = readBytes(annexI() + "dm19.b10");
  const std::vector<int16_t> decoded = readPcm(annexI() + "dm19.o10");

  auto replay = [&](bool damage) {
    return [&official, damage](const std::vector<int16_t>&, const vokc::Options& o, std::vector<uint8_t>& out,
                               std::string&) {
      EXPECT_TRUE(o.dtx);
      out = official;
      if (damage) out[frameOffset(out, 40) + 4] ^= 0xFE;  // 0x7F <-> 0x81
      return true;
    };
  };
  vokc::Options dtx;
  dtx.dtx = true;
  EXPECT_EQ(vokc::encoderCheck("x", "annexI", "dm19.8k", "dm19.b10", dtx, "", replay(false)).run(root), "");
  const std::string bad = vokc::encoderCheck("x", "annexI", "dm19.8k", "dm19.b10", dtx, "", replay(true)).run(root);
  EXPECT_EQ(bad.rfind("first differing frame 40 ", 0), 0u) << bad;
  EXPECT_EQ(vokc::encoderCheck("x", "annexI", "no_such.pcm", "dm19.b10", dtx, "", replay(false)).run(root),
            "missing " + annexI() + "no_such.pcm");
  EXPECT_EQ(vokc::encoderCheck("x", "annexI", "dm19.8k", "dm19.b10", dtx, "no_such.rate", replay(false)).run(root),
            "missing " + annexI() + "no_such.rate");

  auto output = [&](std::size_t sample) {
    return [&decoded, sample](const std::vector<uint8_t>&, const vokc::Options&, std::vector<int16_t>& pcm,
                              std::string&) {
      pcm = decoded;
      if (sample < pcm.size()) pcm[sample] = static_cast<int16_t>(pcm[sample] ^ 1);
      return true;
    };
  };
  EXPECT_EQ(vokc::decoderCheck("x", "annexI", "dm19.b10", "dm19.o10", {}, output(decoded.size())).run(root), "");
  EXPECT_EQ(vokc::decoderCheck("x", "annexI", "dm19.b10", "dm19.o10", {}, output(80 * 33 + 5)).run(root),
            "first differing frame 33");
}

TEST(G729Stream, RtpPayloadsSplitIntoWholeFrames) {
  std::vector<uint8_t> bits(118);
  for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>((i * 7 + 3) % 5 < 2);
  std::vector<uint8_t> stream;
  vokc::appendFrame(stream, bits.data(), 118, false);
  vokc::appendFrame(stream, bits.data(), 118, false);
  ASSERT_EQ(stream.size(), 30u);  // 15 octets per 118-bit frame, zero-padded
  std::vector<vokc::SerialFrame> frames;
  std::string err;
  ASSERT_TRUE(vokc::readStreamFrames(stream, false, 118, {}, frames, err)) << err;
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].bits, bits);
  EXPECT_FALSE(frames[1].erased);

  stream.pop_back();
  EXPECT_FALSE(vokc::readStreamFrames(stream, false, 118, {}, frames, err));
  EXPECT_EQ(err, "truncated bitstream: 29 bytes is not a whole number of 15-byte frames");

  // The ITU layout of the same bits reads back through the serial reader.
  std::vector<uint8_t> itu;
  vokc::appendFrame(itu, bits.data(), 118, true);
  ASSERT_EQ(itu.size(), 4u + 2u * 118u);
  ASSERT_TRUE(vokc::readStreamFrames(itu, true, 0, {118}, frames, err)) << err;
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].bits, bits);
  EXPECT_FALSE(vokc::readStreamFrames(itu, true, 0, {80}, frames, err));
}

TEST(G729Stream, RateFilesFollowTheCodecsRules) {
  TempFile file(std::vector<int16_t>{2, 0, 1, 7});
  vokc::Options o;
  o.rateFile = file.path;
  std::vector<int> rates;
  std::string err;
  // Only the words of the frames coded are checked (Annex I) ...
  ASSERT_TRUE(vokc::rateFileRates(o, 3, 2, "legend", false, rates, err)) << err;
  EXPECT_EQ(rates, (std::vector<int>{2, 0, 1}));
  // ... or every word of the file (Annex E).
  EXPECT_FALSE(vokc::rateFileRates(o, 3, 2, "legend", true, rates, err));
  EXPECT_EQ(err, file.path + ": rate 7 at frame 3 (legend)");
  EXPECT_FALSE(vokc::rateFileRates(o, 6, 2, "legend", false, rates, err));
  // The last word continues past the end of the file.
  ASSERT_TRUE(vokc::rateFileRates(o, 6, 7, "legend", true, rates, err)) << err;
  EXPECT_EQ(rates, (std::vector<int>{2, 0, 1, 7, 7, 7}));
  EXPECT_FALSE(vokc::rateFileRates(o, 3, 0, "legend", false, rates, err));
  EXPECT_EQ(err, file.path + ": rate 2 at frame 0 (legend)");

  o.rate = "8";
  EXPECT_FALSE(vokc::rateFileRates(o, 3, 2, "legend", false, rates, err));
  EXPECT_EQ(err, "give either --rate or --rate-file, not both");

  TempFile empty(std::vector<int16_t>{});
  vokc::Options e;
  e.rateFile = empty.path;
  EXPECT_FALSE(vokc::rateFileRates(e, 3, 2, "legend", false, rates, err));
  EXPECT_EQ(err, empty.path + ": empty rate file");
}

TEST(G729Stream, CoderMemoryHasTheSizeAsked) {
  vokc::CoderMemory m([](int* size) -> VokResult {
    *size = 123;
    return vokOk;
  });
  ASSERT_NE(m.get(), nullptr);
  const auto* p = static_cast<const unsigned char*>(m.get());
  for (int i = 0; i < 123; ++i) EXPECT_EQ(p[i], 0) << i;
}

}  // namespace
