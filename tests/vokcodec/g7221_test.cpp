// G.722.1 coders (both modes, every rate) against the ITU reference coder
// (release 2.1, built outside the repository) on input the official vectors
// lack: full-scale and quiet noise, a clipped chirp, squares, impulses, DC
// steps, overdriven noise and near-silence.  The 14 kHz mode has no official
// vectors, so these checksums are its conformance data.  The encoder's
// packed frames and the decoder's output on the encoded stream with
// erasures, corrupted bit words and random frames are compared frame by
// frame with the reference's CRC-32s (tests/golden/g7221/<codec>.enc.crc,
// .dec.crc: 32-bit little-endian words).
//
// Making the goldens: VOKSC_G7221_DUMP=<dir> writes <codec>.pcm (the input)
// and <codec>.itu (the impaired G.192 stream); the reference encoder (packed
// output) and decoder (G.192 input) run on them and the CRC-32 of each
// output frame is stored.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "registry.h"
#include "vectors.h"

namespace {

struct Lcg {
  uint32_t s;
  uint32_t next() { return s = s * 1664525u + 1013904223u; }
};

int16_t clip(int32_t v) { return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v)); }

// 8 segments of 8 frames (integer arithmetic only, so every platform makes
// the same input).
std::vector<int16_t> hostileInput(int frame) {
  std::vector<int16_t> x;
  Lcg g{2024};
  int32_t phase = 0, inc = 40;
  for (int seg = 0; seg < 8; ++seg) {
    for (int i = 0; i < 8 * frame; ++i) {
      const auto noise = static_cast<int32_t>(g.next()) >> 16;
      int32_t v = 0;
      switch (seg) {
        case 0: v = noise; break;                                          // full-scale noise
        case 1: v = noise >> 6; break;                                     // quiet noise
        case 2: {                                                          // chirp, 1.5x full scale
          phase = (phase + inc) & 0xFFFF;
          if (i % 64 == 0) inc += 7;
          const int32_t tri = phase < 0x8000 ? phase - 0x4000 : 0xC000 - phase;
          v = tri * 3;
          break;
        }
        case 3: v = (i / (7 + i / 900)) & 1 ? 32767 : -32768; break;      // squares
        case 4: v = i % 97 == 0 ? (i & 1 ? 32767 : -32768) : 0; break;    // impulses
        case 5: v = i < 4 * frame ? 20000 : -20000; break;                 // DC step
        case 6: v = noise * 8; break;                                      // overdriven noise
        default: v = noise >> 14; break;                                   // near silence
      }
      x.push_back(clip(v));
    }
  }
  return x;
}

// The G.192 stream with impairments: some frames erased (another sync
// word), one bit word damaged, some frames' bits replaced by random bits.
std::vector<uint8_t> impair(const std::vector<uint8_t>& itu, int bits) {
  std::vector<uint8_t> out(itu);
  const std::size_t frameBytes = 2 * (static_cast<std::size_t>(bits) + 2);
  Lcg g{77};
  for (std::size_t f = 0; f * frameBytes < out.size(); ++f) {
    uint8_t* p = &out[f * frameBytes];
    if (f % 9 == 4 || (f >= 20 && f <= 22)) {
      p[0] = 0x20;
      for (std::size_t k = 4; k < frameBytes; ++k) p[k] = 0;
    } else if (f % 11 == 7) {
      for (int k = 0; k < bits; ++k) p[4 + 2 * k] = (g.next() >> 31) ? 0x81 : 0x7F;
    } else if (f % 13 == 5) {
      p[4 + 2 * (g.next() % bits)] = 0;
    }
  }
  return out;
}

// The CRC-32 of each frame of `unit` bytes.
std::vector<uint32_t> crcs(const uint8_t* p, std::size_t bytes, std::size_t unit) {
  std::vector<uint32_t> out;
  for (std::size_t at = 0; at + unit <= bytes; at += unit) out.push_back(vtest::crc32(p + at, unit));
  return out;
}

void dump(const std::string& name, const void* p, std::size_t n) {
  const char* dir = std::getenv("VOKSC_G7221_DUMP");
  if (!dir) return;
  std::ofstream(std::string(dir) + "/" + name, std::ios::binary).write(static_cast<const char*>(p), n);
}

class G7221Golden : public ::testing::TestWithParam<const char*> {};

TEST_P(G7221Golden, EncoderAndImpairedDecoderMatchReference) {
  const vokc::Codec* c = vokc::registry().find(GetParam());
  ASSERT_NE(c, nullptr);
  const int bits = c->bitRate / 50;
  const auto pcm = hostileInput(c->frameSamples);
  dump(c->name + ".pcm", pcm.data(), 2 * pcm.size());
  std::vector<uint8_t> packed, itu;
  std::string err;
  vokc::Options o;
  o.format = "packed";
  ASSERT_TRUE(c->encode(pcm, o, packed, err)) << err;
  EXPECT_EQ(vtest::compareChecksums("g7221/" + c->name + ".enc.crc", crcs(packed.data(), packed.size(), bits / 8)), "");
  ASSERT_TRUE(c->encode(pcm, vokc::Options{}, itu, err)) << err;
  const auto damaged = impair(itu, bits);
  dump(c->name + ".itu", damaged.data(), damaged.size());
  std::vector<int16_t> out;
  ASSERT_TRUE(c->decode(damaged, vokc::Options{}, out, err)) << err;
  std::vector<uint32_t> frames;
  for (std::size_t at = 0; at + c->frameSamples <= out.size(); at += c->frameSamples)
    frames.push_back(vtest::crc32(&out[at], c->frameSamples));
  EXPECT_EQ(vtest::compareChecksums("g7221/" + c->name + ".dec.crc", frames), "");
}

INSTANTIATE_TEST_SUITE_P(Rates, G7221Golden,
                         ::testing::Values("g7221-24", "g7221-32", "g7221c-24", "g7221c-32", "g7221c-48"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                           std::string n = i.param;
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

}  // namespace

namespace {

// RFC 5577 packets of several frames: the encoder's "frames" option groups
// the frames (the last packet holds the rest), the reader takes any whole
// number of frames per packet and decodes them as the plain frame stream,
// and rejects packets that are not whole frames or end early.
TEST(G7221Packets, FramesPerPacketBothWays) {
  const vokc::Codec* c = vokc::registry().find("g7221-32");
  ASSERT_NE(c, nullptr);
  const auto pcm = hostileInput(c->frameSamples);  // 64 frames
  vokc::Options plain, grouped;
  plain.format = "rtp";
  grouped.format = "rtp-packets";
  grouped.extra = "frames=3";
  std::vector<uint8_t> frames, packets;
  std::vector<int16_t> want, got;
  std::string err;
  ASSERT_TRUE(c->encode(pcm, plain, frames, err)) << err;
  ASSERT_TRUE(c->encode(pcm, grouped, packets, err)) << err;
  ASSERT_EQ(frames.size(), 64u * 80);
  std::vector<std::size_t> sizes;
  for (std::size_t at = 0; at + 2 <= packets.size(); at += 2 + sizes.back())
    sizes.push_back(packets[at] << 8 | packets[at + 1]);
  EXPECT_EQ(sizes.size(), 22u);
  EXPECT_EQ(sizes.front(), 240u);
  EXPECT_EQ(sizes.back(), 80u);  // 64 = 21 x 3 + 1
  vokc::Options read;
  read.format = "rtp-packets";
  ASSERT_TRUE(c->decode(frames, plain, want, err)) << err;
  ASSERT_TRUE(c->decode(packets, read, got, err)) << err;
  EXPECT_EQ(got, want);
  // Packets of 1, 2 and 5 frames, then the rest in one.
  std::vector<uint8_t> mixed;
  std::size_t at = 0;
  for (std::size_t n : {1, 2, 5, 56}) {
    mixed.push_back(static_cast<uint8_t>(n * 80 >> 8));
    mixed.push_back(static_cast<uint8_t>(n * 80));
    mixed.insert(mixed.end(), frames.begin() + at * 80, frames.begin() + (at + n) * 80);
    at += n;
  }
  ASSERT_TRUE(c->decode(mixed, read, got, err)) << err;
  EXPECT_EQ(got, want);
  // 81 bytes, an empty packet, 160 announced and 80 there, a lone length octet.
  const std::vector<uint8_t> broken[] = {std::vector<uint8_t>(83, 0), {0, 0}, std::vector<uint8_t>(82, 0), {0}};
  for (std::size_t i = 0; i < 4; ++i) {
    std::vector<uint8_t> b = broken[i];
    if (i == 0) b[1] = 81;
    if (i == 2) b[1] = 160;
    EXPECT_FALSE(c->decode(b, read, got, err)) << i;
    EXPECT_FALSE(err.empty()) << i;
  }
  grouped.format = "packed";
  EXPECT_FALSE(c->encode(pcm, grouped, packets, err));  // one frame per packed frame
}

}  // namespace
