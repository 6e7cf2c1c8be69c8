// G.723.1 through the vokcodec coder: the official decoder and encoder
// sequences, frame by frame.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "g723/g723_codec.h"
#include "registry.h"
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
    dec.decode(&bits[at], lost, pcm);
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
      dec.decode(frame, next() < 20, pcm);  // a failed library call throws or aborts
    }
  }
}

namespace {

// Encodes a test input; "" when the stream equals `want`.
std::string encodeStream(const std::string& in, int rate, const std::string& rateFile, bool hp, bool dtx,
                         const std::string& want) {
  std::vector<int16_t> pcm;
  std::vector<uint8_t> ref, rates;
  if (!vtest::readWords(dir() + in, pcm) || !vtest::readFile(dir() + want, ref)) return "missing " + in;
  if (!rateFile.empty() && !vtest::readFile(dir() + rateFile, rates)) return "missing " + rateFile;
  vokc::g723::Encoder enc(hp, dtx);
  std::size_t at = 0;
  uint8_t frame[24];
  for (std::size_t f = 0; (f + 1) * 240 <= pcm.size(); ++f) {
    std::size_t n = 0;
    const int r = f < rates.size() ? rates[f] : rate;
    enc.encode(&pcm[f * 240], r, frame, n);
    if (at + n > ref.size() || std::memcmp(frame, &ref[at], n) != 0) return "frame " + std::to_string(f);
    at += n;
  }
  return at == ref.size() ? "" : "length";
}

}  // namespace

TEST(G723Vectors, Encoder) {
  VTEST_REQUIRE_DIR(dir());
  struct Run { const char* in; int rate; const char* rates; bool hp, dtx; const char* want; };
  const Run runs[] = {
      {"PATHC63H.TIN", 0, "", true, false, "PATHC63H.RCO"}, {"PATHC53.TIN", 1, "", false, false, "PATHC53.RCO"},
      {"OVERC63.TIN", 0, "", false, false, "OVERC63.RCO"},  {"OVERC53H.TIN", 1, "", true, false, "OVERC53H.RCO"},
      {"CODEC63.TIN", 0, "", false, false, "CODEC63.RCO"},  {"INEQC53.TIN", 1, "", false, false, "INEQC53.RCO"},
      {"TAMEC63H.TIN", 0, "", true, false, "TAMEC63H.RCO"}, {"DTX63.TIN", 0, "", true, true, "DTX63.RCO"},
      {"DTX53MIX.TIN", 1, "", true, true, "DTX53.RCO"},     {"DTX53MIX.TIN", 0, "DTXMIX.RAT", true, true, "DTXMIX.RCO"},
  };
  for (const Run& r : runs) EXPECT_EQ(encodeStream(r.in, r.rate, r.rates, r.hp, r.dtx, r.want), "") << r.in;
}

// The rtp stream is the packed frames back to back (each frame's first bits
// tell its size), byte for byte the ITU stream, and decodes as it.
TEST(G723Streams, RtpIsThePackedFrames) {
  VTEST_REQUIRE_DIR(dir());
  const vokc::Codec* c = vokc::registry().find("g723-63");
  ASSERT_NE(c, nullptr);
  std::vector<int16_t> pcm, fromRtp, fromItu;
  std::vector<uint8_t> want, rtp, itu;
  ASSERT_TRUE(vtest::readWords(dir() + "DTX63.TIN", pcm) && vtest::readFile(dir() + "DTX63.RCO", want));
  vokc::Options o, d;
  o.dtx = true;
  std::string err;
  ASSERT_TRUE(c->encode(pcm, o, itu, err)) << err;
  ASSERT_TRUE(c->decode(itu, d, fromItu, err)) << err;
  o.format = d.format = "rtp";
  ASSERT_TRUE(c->encode(pcm, o, rtp, err)) << err;
  EXPECT_EQ(rtp, want);
  ASSERT_TRUE(c->decode(rtp, d, fromRtp, err)) << err;
  EXPECT_EQ(fromRtp, fromItu);
  rtp.push_back(0);  // the start of a 24-byte frame cut short: an error
  EXPECT_FALSE(c->decode(rtp, d, fromRtp, err));
}
