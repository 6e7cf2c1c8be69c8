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
#include <string>
#include <vector>

#include "amrwb/amrwb_bits.h"
#include "amrwb/amrwb_codec.h"
#include "amrwb/amrwb_tables.h"
#include "diff_support.h"
#include "vectors.h"

std::vector<int16_t> differentialHostileSignal(int rate);  // differential_test.cpp

namespace {

namespace wb = vokc::amrwb;

using difftest::Rng;

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
      for (int k = 0; k < wb::bitCount(f.mode); ++k) f.bits[k] ^= rng.chance(100, 1000);
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
    const bool noise = rng.chance(150, 1000);
    const int run = noise ? 20 + static_cast<int>(rng.next() % 60) : 5 + static_cast<int>(rng.next() % 40);
    for (int i = 0; i < run; ++i) {
      wb::Frame f;
      if (rng.chance(100, 1000)) mode = static_cast<int>(rng.next() % wb::kModes);
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
    for (const difftest::HomingStep& st : difftest::kHomingScript) {
      if (st.speech) speech(st.speech);
      else homing((m + st.nextMode) % wb::kModes, st.firstOnly, st.bad ? wb::kSpeechBad : wb::kSpeechGood);
    }
  }
  return s;
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
  difftest::NamedStreams files;
  for (const auto& [name, stream] : cases) files.emplace_back(name, testFile(stream));
  files.emplace_back("amrwb.rnd.storage", difftest::randomStorageFile(34, 1000, std::string(wb::kStorageMagic, 9), 10,
                                                                   wb::storageFrameBytes));
  difftest::checkDecodes("amr-wb", wb::kFrame, ".awb", files);
}

}  // namespace
