// AMR-WB decoder against the 3GPP reference decoder on streams the package
// vectors lack: the official DTX stream and the first 150 frames of every
// mode's official stream impaired with every receive frame type (bad and
// degraded speech, lost frames and bursts of them, lost frames after the
// shortest and longest pitch lags, bad SID, NO_DATA); the hostile signal
// coded with DTX while the mode changes, impaired the same way; random
// parameters in random modes and frame types with comfort-noise runs long
// enough to mute; the decoder homing frame of each mode (twice, after
// speech, first subframe only, as a bad frame); and a storage file of
// random frames decoded by the reference built for that format.
// Streams are written in the 3GPP test format (receive types with the
// 0x6B20 word) and decoded through the codec's itu layout; each 20 ms
// output frame gets a CRC-32 which the committed golden file holds for
// the reference decoder (VOKSC_DIFF_DUMP=<dir> writes <case>.cod or .awb).
// Lost frames carry zero bits, as a receiver writes them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "amrwb/amrwb_bits.h"
#include "amrwb/amrwb_codec.h"
#include "amrwb/amrwb_tables.h"
#include "registry.h"
#include "vectors.h"

std::vector<int16_t> differentialHostileSignal(int rate);  // differential_test.cpp

namespace {

namespace wb = vokc::amrwb;

uint32_t crc32(const uint8_t* p, std::size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

struct Rng {
  uint64_t s;
  explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<uint32_t>(s >> 16);
  }
  bool chance(uint32_t perMille) { return next() % 1000u < perMille; }
};

using Stream = std::vector<wb::Frame>;

Stream readCod(const std::string& path, std::size_t limit = ~std::size_t{0}) {
  std::vector<uint8_t> b;
  Stream s;
  vtest::readFile(path, b);
  std::string err;
  for (std::size_t at = 0; at + 6 <= b.size() && s.size() < limit;) {
    const int n = wb::testFrameWords(&b[at], err);
    if (n == 0 || at + 2 * n > b.size()) break;
    s.emplace_back();
    wb::readTestFrame(&b[at], s.back());
    at += 2 * static_cast<std::size_t>(n);
  }
  return s;
}

std::vector<uint8_t> testFile(const Stream& s) {
  std::vector<uint8_t> o;
  for (wb::Frame f : s) {
    if (f.type == wb::kSpeechLost)
      for (auto& b : f.bits) b = 0;
    wb::writeTestFrame(f, o);
  }
  return o;
}

// The first subframe's lag index is within 4 of either end of its range.
bool extremeLag(const wb::Frame& f) {
  if (f.type != wb::kSpeechGood || f.mode < 0 || f.mode >= wb::kModes) return false;
  wb::FrameParams p;
  p.type = wb::kTxSpeech;
  p.mode = f.mode;
  wb::bitsToParams(f.bits, p);
  const int top = f.mode <= 1 ? 255 : 511;
  return p.sub[0].lag < 4 || p.sub[0].lag > top - 4;
}

// Every receive type, bursts of losses, a loss after each extreme lag.
Stream impaired(Stream s, uint64_t seed) {
  Rng rng(seed);
  int burst = 0;
  bool eraseNext = false;
  for (wb::Frame& f : s) {
    const bool extreme = extremeLag(f);
    const uint32_t r = rng.next() % 1000;
    if (burst > 0 || eraseNext) {
      burst = burst > 0 ? burst - 1 : 0;
      f.type = wb::isSpeech(f.type) ? wb::kSpeechLost : wb::kNoData;
    } else if (r < 8) {
      burst = 2 + static_cast<int>(rng.next() % 9);
      f.type = wb::kSpeechLost;
    } else if (r < 50 && wb::isSpeech(f.type)) {
      f.type = wb::kSpeechBad;
    } else if (r < 90 && wb::isSpeech(f.type)) {
      f.type = wb::kSpeechDegraded;
    } else if (r < 130) {
      f.type = wb::isSpeech(f.type) ? wb::kSpeechLost : wb::kNoData;
    } else if (r < 170 && (f.type == wb::kSidUpdate || f.type == wb::kSidFirst)) {
      f.type = wb::kSidBad;
    } else if (r < 200 && wb::isSpeech(f.type)) {
      for (int k = 0; k < wb::bitCount(f.mode); ++k) f.bits[k] ^= rng.chance(100);
    }
    eraseNext = extreme && !eraseNext;
  }
  return s;
}

// Random modes, receive types and bits; comfort-noise stretches long enough
// to mute.
Stream randomStream(uint64_t seed, int frames) {
  Rng rng(seed);
  Stream s;
  int mode = 8;
  while (static_cast<int>(s.size()) < frames) {
    const bool noise = rng.chance(150);
    const int run = noise ? 20 + static_cast<int>(rng.next() % 60) : 5 + static_cast<int>(rng.next() % 40);
    for (int i = 0; i < run; ++i) {
      wb::Frame f;
      if (rng.chance(100)) mode = static_cast<int>(rng.next() % wb::kModes);
      f.mode = mode;
      const uint32_t r = rng.next() % 100;
      if (noise)
        f.type = i == 0 ? wb::kSidFirst : r < 8 ? wb::kSidUpdate : r < 11 ? wb::kSidBad : wb::kNoData;
      else
        f.type = r < 80 ? wb::kSpeechGood : r < 88 ? wb::kSpeechBad : r < 94 ? wb::kSpeechDegraded : wb::kSpeechLost;
      const int n = wb::isSpeech(f.type) ? wb::bitCount(mode) : wb::kSidBits;
      for (int k = 0; k < n; ++k) f.bits[k] = rng.next() & 1;
      s.push_back(f);
    }
  }
  s.resize(static_cast<std::size_t>(frames));
  return s;
}

// Per mode: speech of that mode, its homing frame twice, speech, frames
// matching the homing frame in the first subframe only, the homing frame
// as a bad frame, and the next mode's homing frame.
Stream homingStream(const std::vector<Stream>& official) {
  static const int16_t* const kWords[wb::kModes] = {wb::kHoming660,  wb::kHoming885,  wb::kHoming1265,
                                                    wb::kHoming1425, wb::kHoming1585, wb::kHoming1825,
                                                    wb::kHoming1985, wb::kHoming2305, wb::kHoming2385};
  Stream s;
  Rng rng(5);
  for (int m = 0; m < wb::kModes; ++m) {
    std::size_t next = 0;
    auto speech = [&](int count) {
      for (; count > 0 && next < official[m].size(); ++next)
        if (official[m][next].type == wb::kSpeechGood) s.push_back(official[m][next]), --count;
    };
    auto homing = [&](int mode, bool firstOnly, wb::RxType type) {
      wb::Frame f;
      f.type = type;
      f.mode = mode;
      const int n = wb::bitCount(mode);
      for (int k = 0; k < n; ++k)
        f.bits[k] = k < wb::kHomingFirstBits[mode] || !firstOnly ? (kWords[mode][k / 15] >> (14 - k % 15)) & 1
                                                                 : rng.next() & 1;
      s.push_back(f);
    };
    speech(6);
    homing(m, false, wb::kSpeechGood);
    homing(m, false, wb::kSpeechGood);
    homing(m, true, wb::kSpeechGood);
    speech(4);
    homing(m, true, wb::kSpeechGood);
    homing(m, false, wb::kSpeechGood);
    homing(m, true, wb::kSpeechGood);
    homing(m, false, wb::kSpeechBad);
    homing((m + 1) % wb::kModes, false, wb::kSpeechGood);
    speech(3);
  }
  return s;
}

// A storage file of random frames: any frame type field (mostly the nine
// modes and SID), damaged ones among them, random bits.
std::vector<uint8_t> randomStorageFile(uint64_t seed, int frames) {
  Rng rng(seed);
  std::vector<uint8_t> f(wb::kStorageMagic, wb::kStorageMagic + 9);
  for (int i = 0; i < frames; ++i) {
    const int ft = rng.chance(300) ? static_cast<int>(rng.next() % 16) : static_cast<int>(rng.next() % 10);
    f.push_back(static_cast<uint8_t>(ft << 3 | (rng.chance(850) ? 4 : 0)));
    for (int k = 0; k < wb::storageFrameBytes(ft); ++k) f.push_back(static_cast<uint8_t>(rng.next()));
  }
  return f;
}

std::vector<uint32_t> decodeCrcs(const std::vector<uint8_t>& bytes, const char* format) {
  const vokc::Codec* c = vokc::registry().find("amr-wb");
  std::vector<uint32_t> out;
  if (!c) return out;
  vokc::Options o;
  o.format = format;
  std::vector<int16_t> pcm;
  std::string err;
  EXPECT_TRUE(c->decode(bytes, o, pcm, err)) << err;
  for (std::size_t at = 0; at + wb::kFrame <= pcm.size(); at += wb::kFrame) {
    uint8_t b[2 * wb::kFrame];
    for (int i = 0; i < wb::kFrame; ++i) {
      b[2 * i] = static_cast<uint8_t>(pcm[at + i] & 0xFF);
      b[2 * i + 1] = static_cast<uint8_t>((static_cast<uint16_t>(pcm[at + i]) >> 8) & 0xFF);
    }
    out.push_back(crc32(b, sizeof b));
  }
  return out;
}

std::vector<uint32_t> golden(const std::string& name) {
  std::vector<uint8_t> b;
  vtest::readFile(vtest::goldenDir() + "/differential/" + name + ".crc", b);
  std::vector<uint32_t> v;
  for (std::size_t i = 0; i + 4 <= b.size(); i += 4)
    v.push_back(b[i] | b[i + 1] << 8 | b[i + 2] << 16 | static_cast<uint32_t>(b[i + 3]) << 24);
  return v;
}

// The hostile signal of the encoder goldens coded with DTX, the mode
// stepping through all nine every 25 frames (the encoder equals the
// reference on that signal, see differential_test.cpp).
Stream hostileStream() {
  const std::vector<int16_t> pcm = differentialHostileSignal(16000);
  std::vector<unsigned char> memory(wb::amrwbEncoderSize() + 16);
  auto* enc = reinterpret_cast<wb::AmrWbEncoder*>((reinterpret_cast<std::uintptr_t>(memory.data()) + 15) &
                                                  ~std::uintptr_t{15});
  Stream s;
  EXPECT_EQ(wb::amrwbEncoderInit(enc, true), vokOk);
  for (std::size_t f = 0; (f + 1) * wb::kFrame <= pcm.size(); ++f) {
    wb::FrameParams p;
    EXPECT_EQ(wb::amrwbEncodeFrame(enc, &pcm[f * wb::kFrame], static_cast<int>(f / 25 * 4 % wb::kModes), &p), vokOk);
    wb::Frame fr;
    static const wb::RxType kTypes[4] = {wb::kSpeechGood, wb::kSidFirst, wb::kSidUpdate, wb::kNoData};
    fr.type = kTypes[p.type & 3];
    fr.mode = p.mode;
    if (p.type != wb::kTxNoData) wb::paramsToBits(p, fr.bits);
    s.push_back(fr);
  }
  return s;
}

TEST(AmrWbDifferential, DecoderFollowsTheReference) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/amrwb");
  const std::string dir = vtest::testVectorDir() + "/amrwb/";
  std::vector<Stream> official;
  Stream modes;
  for (int m = 0; m < wb::kModes; ++m) {
    official.push_back(readCod(dir + "tst_m" + std::to_string(m) + ".cod", 150));
    ASSERT_EQ(official.back().size(), 150u);
    modes.insert(modes.end(), official.back().begin(), official.back().end());
  }
  const Stream md = readCod(dir + "tst_md.cod");
  ASSERT_FALSE(md.empty());
  const std::pair<const char*, Stream> cases[] = {
      {"amrwb.md.imp", impaired(md, 31)},
      {"amrwb.modes.imp", impaired(modes, 32)},
      {"amrwb.hostile.imp", impaired(hostileStream(), 35)},
      {"amrwb.rnd", randomStream(33, 1500)},
      {"amrwb.home", homingStream(official)},
  };
  const char* dump = std::getenv("VOKSC_DIFF_DUMP");
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
  for (const auto& [name, stream] : cases) files.emplace_back(name, testFile(stream));
  files.emplace_back("amrwb.rnd.storage", randomStorageFile(34, 1000));
  for (const auto& [name, bytes] : files) {
    const bool storage = name.find("storage") != std::string::npos;
    if (dump) std::ofstream(std::string(dump) + "/" + name + (storage ? ".awb" : ".cod"), std::ios::binary)
                  .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const std::vector<uint32_t> ours = decodeCrcs(bytes, storage ? "storage" : "itu"), ref = golden(name);
    EXPECT_FALSE(ref.empty()) << name << ": no golden data";
    if (ref.empty()) continue;
    EXPECT_EQ(ours.size(), ref.size()) << name;
    for (std::size_t i = 0; i < ref.size() && i < ours.size(); ++i)
      if (ours[i] != ref[i]) {
        ADD_FAILURE() << name << ": frame " << i << " differs from the reference";
        break;
      }
  }
}

}  // namespace
