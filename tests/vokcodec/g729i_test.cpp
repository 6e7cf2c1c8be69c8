// G.729 Annex I coder beyond what the official vectors and the differential
// run prove: the serial reader on damaged conformance streams (lost frames,
// parity errors, mode-bit mismatches) against per-frame checksums recorded
// from the reference decoder, SID padding, the C API's argument handling,
// the rate options (arbitrary frames: tests/fuzz).
#include <gtest/gtest.h>

#include <cmath>
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

std::vector<uint32_t> golden(const std::string& name) {
  std::vector<uint8_t> b;
  EXPECT_TRUE(vtest::readFile(vtest::goldenDir() + "/g729i/" + name, b)) << name;
  std::vector<uint32_t> s(b.size() / 4);
  for (std::size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<uint32_t>(b[4 * i]) | (static_cast<uint32_t>(b[4 * i + 1]) << 8) |
           (static_cast<uint32_t>(b[4 * i + 2]) << 16) | (static_cast<uint32_t>(b[4 * i + 3]) << 24);
  return s;
}

// "" when equal, else the first differing frame.
std::string compareSums(const std::vector<uint32_t>& got, const std::vector<uint32_t>& want) {
  for (std::size_t i = 0; i < got.size() && i < want.size(); ++i)
    if (got[i] != want[i]) return "first differing frame " + std::to_string(i);
  if (got.size() != want.size())
    return "frame count " + std::to_string(got.size()) + ", expected " + std::to_string(want.size());
  return "";
}

const vokc::Codec& codec() { return registeredCodec("g729i"); }

std::vector<int16_t> decodeAll(const std::vector<uint8_t>& bits) { return decodeWith(codec(), bits, vokc::Options{}); }

std::vector<uint8_t> encodeAll(const std::vector<int16_t>& pcm, const vokc::Options& o) {
  return encodeWith(codec(), pcm, o);
}

std::string annexIDir() { return vtest::testVectorDir() + "/g729/annexI/"; }

std::vector<int16_t> testTone(int frames) {
  std::vector<int16_t> pcm(static_cast<std::size_t>(frames) * 80);
  for (std::size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = static_cast<int16_t>(6000 * std::sin(0.07 * i) + 2000 * std::sin(0.31 * i));
  return pcm;
}

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
  EXPECT_EQ(compareSums(pcmSums(decodeAll(damaged)), golden(c.gold)), "");
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

TEST(G729I, FrameSizesFollowTheRate) {
  const std::vector<int16_t> pcm = testTone(12);
  for (const auto& rc : {std::make_pair("6.4", 64), std::make_pair("8", 80), std::make_pair("11.8", 118)}) {
    vokc::Options o;
    o.rate = rc.first;
    for (const Frame& f : splitFrames(encodeAll(pcm, o))) EXPECT_EQ(f[1], rc.second) << rc.first;
  }
  // Default: 8 kbit/s.
  for (const Frame& f : splitFrames(encodeAll(pcm, vokc::Options{}))) EXPECT_EQ(f[1], 80);
}

TEST(G729I, BadOptionsAreOneLineErrors) {
  const std::vector<int16_t> pcm = testTone(4);
  std::vector<uint8_t> bits;
  std::string err;
  vokc::Options xml;
  xml.format = "xml";
  EXPECT_FALSE(codec().encode(pcm, xml, bits, err));
  EXPECT_NE(err.find("xml"), std::string::npos);
  std::vector<int16_t> out;
  err.clear();
  EXPECT_FALSE(codec().decode(bits, xml, out, err));
  EXPECT_FALSE(err.empty());
  vokc::Options badRate;
  badRate.rate = "16";
  err.clear();
  EXPECT_FALSE(codec().encode(pcm, badRate, bits, err));
  EXPECT_NE(err.find("16"), std::string::npos);
  EXPECT_EQ(err.find('\n'), std::string::npos);
}

// ---- C API -----------------------------------------------------------------

struct Objects {
  std::vector<unsigned char> enc, dec;
  Objects() {
    int n = 0;
    vokcG729IEncoderGetSize(&n);
    enc.resize(static_cast<std::size_t>(n));
    vokcG729IDecoderGetSize(&n);
    dec.resize(static_cast<std::size_t>(n));
  }
};

TEST(G729I, ApiChecksArguments) {
  Objects o;
  EXPECT_EQ(vokcG729IEncoderGetSize(nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729IDecoderGetSize(nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729IEncoderInit(nullptr, 0), vokErrNullPtr);
  EXPECT_EQ(vokcG729IDecoderInit(nullptr), vokErrNullPtr);
  ASSERT_EQ(vokcG729IEncoderInit(o.enc.data(), 0), vokOk);
  ASSERT_EQ(vokcG729IDecoderInit(o.dec.data()), vokOk);
  Vok16s pcm[80] = {};
  Vok8u bits[118] = {};
  int n = -1;
  EXPECT_EQ(vokcG729IEncode(o.enc.data(), pcm, 3, bits, &n), vokErrRange);
  EXPECT_EQ(vokcG729IEncode(o.enc.data(), pcm, -1, bits, &n), vokErrRange);
  EXPECT_EQ(vokcG729IEncode(o.enc.data(), nullptr, 1, bits, &n), vokErrNullPtr);
  EXPECT_EQ(vokcG729IEncode(o.enc.data(), pcm, 1, bits, nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcG729IEncode(o.enc.data(), pcm, 2, bits, &n), vokOk);
  EXPECT_EQ(n, 118);
  EXPECT_EQ(bits[0], bits[1]);  // mode bit and its copy
  for (int bad : {-1, 1, 14, 17, 63, 81, 117, 119}) EXPECT_EQ(vokcG729IDecode(o.dec.data(), bits, bad, 0, pcm), vokErrSize) << bad;
  EXPECT_EQ(vokcG729IDecode(o.dec.data(), nullptr, 80, 0, pcm), vokErrNullPtr);
  EXPECT_EQ(vokcG729IDecode(o.dec.data(), bits, 80, 0, nullptr), vokErrNullPtr);
  // A lost frame needs no bits; an untransmitted frame has none.
  EXPECT_EQ(vokcG729IDecode(o.dec.data(), nullptr, 80, 1, pcm), vokOk);
  EXPECT_EQ(vokcG729IDecode(o.dec.data(), nullptr, 0, 0, pcm), vokOk);
}

TEST(G729I, DtxSilenceGivesSidThenNothing) {
  Objects o;
  ASSERT_EQ(vokcG729IEncoderInit(o.enc.data(), 1), vokOk);
  Vok16s pcm[80] = {};
  Vok8u bits[118];
  std::vector<int> sizes;
  for (int f = 0; f < 60; ++f) {
    int n = -1;
    ASSERT_EQ(vokcG729IEncode(o.enc.data(), pcm, f % 3, bits, &n), vokOk);
    sizes.push_back(n);
  }
  // Digital silence is noise from the first frame: one SID, then silence
  // unless the noise changes.
  EXPECT_EQ(sizes[0], 16);
  for (std::size_t f = 1; f < sizes.size(); ++f) EXPECT_EQ(sizes[f], 0) << f;
}

TEST(G729I, DecoderStateIsFreshAfterInit) {
  // Decoding the same frames after a re-init gives the same output.
  Objects o;
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
    ASSERT_EQ(vokcG729IDecoderInit(o.dec.data()), vokOk);
    std::vector<Vok16s>& out = pass == 0 ? first : second;
    for (int f = 0; f < 30; ++f) {
      Vok16s pcm[80];
      static const int kSizes[4] = {118, 80, 64, 16};
      ASSERT_EQ(vokcG729IDecode(o.dec.data(), frames[f].data(), kSizes[f % 4], 0, pcm), vokOk);
      out.insert(out.end(), pcm, pcm + 80);
    }
  }
  EXPECT_EQ(first, second);
}

TEST(G729I, TruncatedOrForeignStreamsAreRejected) {
  std::vector<uint8_t> bits;
  std::vector<int16_t> pcm;
  std::string err;
  const Vok8u b[80] = {};
  vokc::writeSerialFrame(bits, b, 80);
  bits.resize(bits.size() - 3);
  EXPECT_FALSE(codec().decode(bits, vokc::Options{}, pcm, err));
  EXPECT_FALSE(err.empty());
  bits.clear();
  vokc::writeSerialFrame(bits, b, 40);
  err.clear();
  EXPECT_FALSE(codec().decode(bits, vokc::Options{}, pcm, err));
  EXPECT_NE(err.find("40"), std::string::npos);
}

}  // namespace
