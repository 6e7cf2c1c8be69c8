// G.723.1 through the vokcodec coder: the official decoder and encoder
// sequences, frame by frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "g723/g723_codec.h"
#include "vectors.h"

namespace {

std::string dir() { return vtest::testVectorDir() + "/g723/"; }

// Decodes a packed stream (erasure words optional); "" when equal to `want`.
std::string decodeStream(const std::string& in, const std::string& crc, bool post, const std::string& want) {
  std::vector<uint8_t> bits;
  std::vector<int16_t> erase, ref;
  if (!vtest::readFile(dir() + in, bits) || !vtest::readWords(dir() + want, ref)) return "missing " + in;
  if (!crc.empty() && !vtest::readWords(dir() + crc, erase)) return "missing " + crc;
  vokc::g723::Decoder dec(post);
  std::size_t at = 0, frame = 0;
  int16_t pcm[240];
  while (at < bits.size()) {
    const std::size_t n = vokc::g723::packedSize(bits[at]);
    if (at + n > bits.size()) return "cut frame";
    const bool lost = frame < erase.size() && erase[frame] != 0;
    if (!dec.decode(&bits[at], lost, pcm)) return "call failed";
    if ((frame + 1) * 240 > ref.size()) return "too many frames";
    for (int i = 0; i < 240; ++i)
      if (pcm[i] != ref[frame * 240 + i]) return "frame " + std::to_string(frame) + " sample " + std::to_string(i);
    at += n;
    ++frame;
  }
  return frame * 240 == ref.size() ? "" : "frame count";
}

}  // namespace

TEST(G723Vectors, Decoder) {
  VTEST_REQUIRE_DIR(dir());
  struct Run { const char *in, *crc; bool post; const char* want; };
  const Run runs[] = {
      {"PATHD63P.TCO", "PATHD63P.CRC", true, "PATHD63P.ROU"}, {"PATHD53.TCO", "", false, "PATHD53.ROU"},
      {"OVERD63P.TCO", "", true, "OVERD63P.ROU"},             {"OVERD53.TCO", "", false, "OVERD53.ROU"},
      {"INEQD53.TCO", "", false, "INEQD53.ROU"},              {"TAMED63P.TCO", "TAMED63P.CRC", true, "TAMED63P.ROU"},
      {"DTX63.RCO", "", true, "DTX63.ROU"},                   {"DTX53.RCO", "", true, "DTX53.ROU"},
      {"DTXMIX.RCO", "", true, "DTXMIX.ROU"},                 {"DTX63B.TCO", "", true, "DTX63B.ROU"},
      {"DTX63E.TCO", "DTX63E.CRC", true, "DTX63E.ROU"},
  };
  for (const Run& r : runs) EXPECT_EQ(decodeStream(r.in, r.crc, r.post, r.want), "") << r.in;
}

TEST(G723Robustness, RandomFramesAndErasures) {
  // Any bytes decode without a failed call: random frames of every type,
  // random erasures, both post-filter settings.
  uint32_t s = 12345;
  auto next = [&] { return s = s * 1664525u + 1013904223u, s >> 24; };
  for (bool post : {true, false}) {
    vokc::g723::Decoder dec(post);
    int16_t pcm[240];
    uint8_t frame[24];
    for (int f = 0; f < 3000; ++f) {
      for (auto& b : frame) b = static_cast<uint8_t>(next());
      if (f % 7 == 0) frame[0] &= 0xFC;  // plenty of active frames
      ASSERT_TRUE(dec.decode(frame, next() < 20, pcm)) << f;
    }
  }
}
