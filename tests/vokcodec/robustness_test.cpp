// Decoders fed arbitrary input: random payloads, random frames in the ITU
// layout (with erasures), truncation.  They must never crash or read out of
// bounds (the sanitizer build runs this too) and must report malformed
// streams as errors rather than decode garbage silently.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "registry.h"

namespace {

std::vector<uint8_t> ituFrames(std::mt19937& rng, int frames, int bits) {
  std::vector<uint8_t> out;
  auto put = [&](uint16_t w) {
    out.push_back(static_cast<uint8_t>(w));
    out.push_back(static_cast<uint8_t>(w >> 8));
  };
  for (int f = 0; f < frames; ++f) {
    put(0x6B21);
    put(static_cast<uint16_t>(bits));
    for (int b = 0; b < bits; ++b) {
      unsigned r = rng() % 100;
      put(r < 2 ? 0 : (r & 1 ? 0x0081 : 0x007F));
    }
  }
  return out;
}

TEST(Robustness, RandomPayloadsNeverCrash) {
  std::mt19937 rng(20261205);
  for (const auto& c : vokc::registry().codecs) {
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<uint8_t> junk(static_cast<std::size_t>(rng() % 3000));
      for (auto& b : junk) b = static_cast<uint8_t>(rng());
      for (const char* fmt : {"itu", "rtp"}) {
        vokc::Options o;
        o.format = fmt;
        std::vector<int16_t> pcm;
        std::string err;
        bool ok = c.decode(junk, o, pcm, err);
        if (!ok) {
          EXPECT_FALSE(err.empty()) << c.name;
        }
      }
    }
  }
}

TEST(Robustness, G729RandomFramesWithErasuresDecode) {
  std::mt19937 rng(7);
  for (const char* name : {"g729", "g729a"}) {
    const auto* c = vokc::registry().find(name);
    ASSERT_NE(c, nullptr);
    auto bits = ituFrames(rng, 300, 80);
    std::vector<int16_t> pcm;
    std::string err;
    ASSERT_TRUE(c->decode(bits, vokc::Options{}, pcm, err)) << err;
    EXPECT_EQ(pcm.size(), 300u * 80u);
    // Truncated in the middle of a frame: an error, not a crash.
    bits.resize(bits.size() - 7);
    EXPECT_FALSE(c->decode(bits, vokc::Options{}, pcm, err));
    EXPECT_NE(err.find("truncated"), std::string::npos) << err;
    // Wrong frame size for this codec.
    auto other = ituFrames(rng, 3, 64);
    EXPECT_FALSE(c->decode(other, vokc::Options{}, pcm, err));
  }
}

}  // namespace
