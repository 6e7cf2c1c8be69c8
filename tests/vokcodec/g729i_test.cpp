// G.729 Annex I coder beyond what the official vectors and the differential
// run prove: the serial reader on damaged conformance streams (lost frames,
// parity errors, mode-bit mismatches) against per-frame checksums recorded
// from the reference decoder, SID padding, a decoder's re-init (argument
// checks: robustness_test; refused options and streams: g729_stream_test;
// arbitrary frames: tests/fuzz).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "g729_test_support.h"
#include "hostile.h"
#include "vokcodec.h"

namespace {

using namespace g729test;

constexpr uint16_t kBit0 = 0x007F;
constexpr uint16_t kBit1 = 0x0081;

// Linear congruence shared with the recording of the golden files.
struct Lcg {
  uint32_t x;
  explicit Lcg(uint32_t seed) : x(seed) {}
  uint32_t next() {
    x = x * 1664525u + 1013904223u;
    return x >> 16;
  }
};

using Frame = std::vector<uint16_t>;  // sync, count, bit words

std::vector<Frame> splitFrames(const std::vector<uint8_t>& bytes) {
  std::vector<uint16_t> w(bytes.size() / 2);
  for (std::size_t i = 0; i < w.size(); ++i) w[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  std::vector<Frame> out;
  for (std::size_t i = 0; i + 1 < w.size();) {
    const std::size_t n = w[i + 1];
    out.emplace_back(w.begin() + static_cast<long>(i), w.begin() + static_cast<long>(i + 2 + n));
    i += 2 + n;
  }
  return out;
}

std::vector<uint8_t> joinFrames(const std::vector<Frame>& frames) {
  std::vector<uint8_t> out;
  for (const Frame& f : frames)
    for (uint16_t v : f) {
      out.push_back(static_cast<uint8_t>(v & 0xFF));
      out.push_back(static_cast<uint8_t>(v >> 8));
    }
  return out;
}

// FNV-1a over each frame's bytes (little-endian samples): the golden files
// hold one checksum per frame.
std::vector<uint32_t> pcmSums(const std::vector<int16_t>& pcm) {
  std::vector<uint32_t> s;
  for (std::size_t i = 0; i + 80 <= pcm.size(); i += 80) s.push_back(vtHash16(VT_HASH0, &pcm[i], 80));
  return s;
}

const vokc::Codec& codec() { return registeredCodec("g729i"); }

std::vector<int16_t> decodeAll(const std::vector<uint8_t>& bits) { return decodeWith(codec(), bits, vokc::Options{}); }

std::string annexIDir() { return vtest::testVectorDir() + "/g729/annexI/"; }

// ---- decoder concealment --------------------------------------------------

// Lost frames (every bit word 0, plus a burst of six), flipped parity bits
// of the first delay (8 and 11.8 kbit/s) and 11.8 kbit/s frames whose mode
// bit and its copy disagree; untransmitted frames stay as they are.
std::vector<Frame> damage(std::vector<Frame> frames, uint32_t seed) {
  Lcg r(seed);
  for (std::size_t f = 0; f < frames.size(); ++f) {
    Frame& x = frames[f];
    const int n = x[1];
    const uint32_t v = r.next();
    if (n == 0) continue;
    if (v % 17 == 3 || (f >= 200 && f < 206)) {
      for (int k = 2; k < 2 + n; ++k) x[k] = 0;
    } else if (v % 13 == 5 && (n == 80 || n == 118)) {
      int k;
      if (n == 80)
        k = 2 + 26;
      else if (x[2] == kBit0)
        k = 2 + 2 + 26;
      else
        k = 2 + 2 + 8;
      x[k] = x[k] == kBit0 ? kBit1 : kBit0;
    } else if (v % 29 == 7 && n == 118) {
      x[3] = x[3] == kBit0 ? kBit1 : kBit0;
    }
  }
  return frames;
}

struct LostCase {
  const char* stream;
  uint32_t seed;
  const char* gold;
};

class G729IConcealment : public ::testing::TestWithParam<LostCase> {};

TEST_P(G729IConcealment, MatchesReferenceDecoder) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  const LostCase& c = GetParam();
  std::vector<uint8_t> bits;
  ASSERT_TRUE(vtest::readFile(annexIDir() + c.stream, bits)) << "missing " << annexIDir() + c.stream;
  const std::vector<uint8_t> damaged = joinFrames(damage(splitFrames(bits), c.seed));
  EXPECT_EQ(vtest::compareChecksums(std::string("g729i/") + c.gold, pcmSums(decodeAll(damaged))), "");
}

INSTANTIATE_TEST_SUITE_P(Streams, G729IConcealment,
                         ::testing::Values(LostCase{"speech.br012", 11, "dec_lost_speech_br012"},
                                           LostCase{"speech.b12", 23, "dec_lost_speech_b12"},
                                           LostCase{"dm19.b10", 37, "dec_lost_dm19_b10"}),
                         [](const ::testing::TestParamInfo<LostCase>& i) { return std::string(i.param.gold); });

// SID frames decode alike with or without their octet padding bit.
TEST(G729I, SidFramesWithoutPaddingDecodeAlike) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  std::vector<uint8_t> bits;
  ASSERT_TRUE(vtest::readFile(annexIDir() + "speech.b12", bits));
  std::vector<Frame> frames = splitFrames(bits);
  int sids = 0;
  for (Frame& f : frames)
    if (f[1] == 16) {
      f.pop_back();
      f[1] = 15;
      ++sids;
    }
  ASSERT_GT(sids, 0);
  EXPECT_EQ(decodeAll(joinFrames(frames)), decodeAll(bits));
}

// ---- C API -----------------------------------------------------------------

TEST(G729I, DecoderStateIsFreshAfterInit) {
  // Decoding the same frames after a re-init gives the same output.
  int size = 0;
  ASSERT_EQ(vokcG729IDecoderGetSize(&size), vokOk);
  std::vector<unsigned char> dec(static_cast<std::size_t>(size));
  Lcg r(99);
  std::vector<std::vector<Vok8u>> frames;
  for (int f = 0; f < 30; ++f) {
    std::vector<Vok8u> b(118);
    for (auto& v : b) v = static_cast<Vok8u>(r.next() & 1);
    b[1] = b[0];
    frames.push_back(b);
  }
  std::vector<Vok16s> first, second;
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_EQ(vokcG729IDecoderInit(dec.data()), vokOk);
    std::vector<Vok16s>& out = pass == 0 ? first : second;
    for (int f = 0; f < 30; ++f) {
      Vok16s pcm[80];
      static const int kSizes[4] = {118, 80, 64, 16};
      ASSERT_EQ(vokcG729IDecode(dec.data(), frames[f].data(), kSizes[f % 4], 0, pcm), vokOk);
      out.insert(out.end(), pcm, pcm + 80);
    }
  }
  EXPECT_EQ(first, second);
}

}  // namespace
