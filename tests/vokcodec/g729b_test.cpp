// G.729 Annex B coders (g729b, g729ab) beyond what the official vectors and
// the differential run prove: the serial reader on untransmitted, erased
// and lost frames against the reference decoder, speech-only streams, the
// SID bit order (argument checks: robustness_test; arbitrary frames and
// streams: tests/fuzz).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "g729_test_support.h"
#include "vokcodec.h"

namespace {

using namespace g729test;

const vokc::Codec& codec(const std::string& name) { return registeredCodec(name); }

std::string golden(const std::string& name) { return vtest::goldenDir() + "/g729b/" + name; }

struct Core {
  const char* codec;
  int variant;
  const char* suffix;
};
const Core kCores[] = {{"g729b", vokcG729Main, "b"}, {"g729ab", vokcG729AnnexA, "ab"}};

class G729BCore : public ::testing::TestWithParam<Core> {};

// The reference decoder on runs of random speech and SID frames,
// untransmitted frames, erased frames of each kind and lost untransmitted
// frames.
TEST_P(G729BCore, DecoderMatchesReferenceOnRandomStream) {
  const Core core = GetParam();
  std::vector<uint8_t> bits = readBytes(golden("dec_random.bit"));
  std::vector<int16_t> want = readPcm(golden(std::string("dec_random_") + core.suffix + ".pcm"));
  std::vector<int16_t> got;
  std::string err;
  ASSERT_TRUE(codec(core.codec).decode(bits, vokc::Options{}, got, err)) << err;
  EXPECT_EQ(comparePcm(got, want), "");
}

// A stream of speech frames only (a coder without DTX) decodes exactly as
// with the plain decoder, lost frames included.
TEST_P(G729BCore, SpeechOnlyStreamDecodesAsPlainCore) {
  const Core core = GetParam();
  const std::string plain = core.variant == vokcG729Main ? "g729" : "g729a";
  std::vector<int16_t> pcm = testPcm(270 * 80);
  std::vector<uint8_t> bits;
  std::string err;
  ASSERT_TRUE(codec(plain).encode(pcm, vokc::Options{}, bits, err)) << err;
  for (std::size_t f = 5; f * 164 < bits.size(); f += 23) bits[f * 164 + 4 + 2 * (f % 80)] = 0;  // lose some frames
  std::vector<int16_t> a, b;
  ASSERT_TRUE(codec(plain).decode(bits, vokc::Options{}, a, err)) << err;
  ASSERT_TRUE(codec(core.codec).decode(bits, vokc::Options{}, b, err)) << err;
  EXPECT_EQ(comparePcm(b, a), "");
}

INSTANTIATE_TEST_SUITE_P(Cores, G729BCore, ::testing::ValuesIn(kCores),
                         [](const auto& info) { return std::string(info.param.codec); });

TEST(G729B, SidBitsInTransmissionOrder) {
  const Vok16s prm[4] = {1, 0x15, 0x9, 0x1E};  // switch, 5-bit, 4-bit, 5-bit fields
  Vok8u bits[15];
  ASSERT_EQ(vokcG729BPackSid(prm, bits), vokOk);
  const Vok8u want[15] = {1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 1, 1, 1, 1, 0};
  for (int i = 0; i < 15; ++i) EXPECT_EQ(bits[i], want[i]) << "bit " << i;
  Vok16s back[4];
  ASSERT_EQ(vokcG729BUnpackSid(bits, back), vokOk);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(back[i], prm[i]);
}

}  // namespace
