// AMR-NB decoder against the 3GPP reference decoder on streams the package
// vectors lack: the official VAD1 / VAD2 streams (all eight modes with DTX)
// impaired with every receive frame type (bad and degraded speech, lost
// frames and bursts, bad SID, onset), random parameters in random modes and
// frame types (long comfort-noise runs that mute), and the decoder homing
// frame of each mode (twice in a row, after speech, first subframe only);
// and a storage file of random frames against the reference decoder built
// for that format.
// The streams are written in the 3GPP serial format (TX frame types 0..7)
// and decoded through the codec's itu layout; each 20 ms output frame gets a
// CRC-32 that the committed golden file holds for the reference decoder
// (made as in differential_test.cpp: VOKSC_DIFF_DUMP=<dir> writes the
// streams as <case>.cod; the reference decoder's output gives the CRCs).
// Frames without bits in the RFC forms (NO_DATA, onset) carry zero bits in
// the serial files, as the reference decoder's homing check reads them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "amrnb/amrnb_bits.h"
#include "amrnb/amrnb_tables.h"
#include "diff_support.h"
#include "vectors.h"

namespace {

namespace amr = vokc::amrnb;

using difftest::Rng;

// One serial frame: TX type, mode word, bits.
struct SFrame {
  int tx = amr::kTxNoData;
  int mode = -1;
  uint8_t bits[amr::kMaxBits] = {};
};

std::vector<SFrame> readCod(const std::string& path) {
  std::vector<int16_t> w;
  std::vector<SFrame> s;
  vtest::readWords(path, w);
  for (std::size_t at = 0; at + amr::kSerialWords <= w.size(); at += amr::kSerialWords) {
    SFrame f;
    f.tx = w[at];
    f.mode = w[at + 1 + amr::kMaxBits];
    for (int k = 0; k < amr::kMaxBits; ++k) f.bits[k] = w[at + 1 + k] == 1;
    s.push_back(f);
  }
  return s;
}

std::vector<uint8_t> serialBytes(const std::vector<SFrame>& s) {
  std::vector<uint8_t> o;
  for (const SFrame& f : s) {
    int16_t w[amr::kSerialWords] = {};
    w[0] = static_cast<int16_t>(f.tx);
    const bool bitless = f.tx == amr::kTxNoData || f.tx == amr::kTxOnset;
    for (int k = 0; k < amr::kMaxBits; ++k) w[1 + k] = bitless ? 0 : f.bits[k];
    w[1 + amr::kMaxBits] = static_cast<int16_t>(f.tx == amr::kTxNoData ? -1 : f.mode);
    for (int16_t v : w) o.push_back(static_cast<uint8_t>(v & 0xFF)), o.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  }
  return o;
}

bool speechTx(int tx) { return tx == amr::kTxSpeechGood || tx == amr::kTxSpeechDegraded || tx == amr::kTxSpeechBad; }

// Every receive frame type on the official streams, and bursts of losses.
std::vector<SFrame> impaired(std::vector<SFrame> s, uint64_t seed) {
  Rng rng(seed);
  int burst = 0;
  for (SFrame& f : s) {
    if (burst > 0) {
      --burst;
      f.tx = amr::kTxNoData;
      continue;
    }
    const uint32_t r = rng.next() % 1000;
    if (r < 8) {
      burst = 2 + static_cast<int>(rng.next() % 7);
      f.tx = amr::kTxNoData;
    } else if (r < 60 && speechTx(f.tx)) {
      f.tx = amr::kTxSpeechBad;
    } else if (r < 100 && speechTx(f.tx)) {
      f.tx = amr::kTxSpeechDegraded;
    } else if (r < 130) {
      f.tx = amr::kTxNoData;
    } else if (r < 160 && (f.tx == amr::kTxSidUpdate || f.tx == amr::kTxSidFirst)) {
      f.tx = amr::kTxSidBad;
    } else if (r < 175) {
      f.tx = amr::kTxOnset;
      if (f.mode < 0) f.mode = static_cast<int>(rng.next() % 8);
    } else if (r < 200 && speechTx(f.tx)) {
      for (int k = 0; k < amr::bitCount(f.mode); ++k) f.bits[k] ^= rng.chance(100, 1000);
    }
  }
  return s;
}

// Random modes, frame types and bits; comfort-noise stretches long enough
// to mute.
std::vector<SFrame> randomStream(uint64_t seed, int frames) {
  Rng rng(seed);
  std::vector<SFrame> s;
  int mode = 7;
  while (static_cast<int>(s.size()) < frames) {
    const bool noise = rng.chance(150, 1000);
    const int run = noise ? 20 + static_cast<int>(rng.next() % 60) : 5 + static_cast<int>(rng.next() % 40);
    for (int i = 0; i < run; ++i) {
      SFrame f;
      if (rng.chance(100, 1000)) mode = static_cast<int>(rng.next() % 8);
      f.mode = mode;
      if (noise) {
        const uint32_t r = rng.next() % 100;
        f.tx = i == 0 ? amr::kTxSidFirst
                      : r < 8 ? amr::kTxSidUpdate : r < 11 ? amr::kTxSidBad : r < 13 ? amr::kTxOnset : amr::kTxNoData;
      } else {
        const uint32_t r = rng.next() % 100;
        f.tx = r < 80 ? amr::kTxSpeechGood : r < 88 ? amr::kTxSpeechBad : r < 94 ? amr::kTxSpeechDegraded
                                                                         : amr::kTxNoData;
      }
      const int n = speechTx(f.tx) ? amr::bitCount(mode) : amr::kSidBits;
      for (int k = 0; k < n; ++k) f.bits[k] = rng.next() & 1;
      s.push_back(f);
    }
  }
  s.resize(static_cast<std::size_t>(frames));
  return s;
}

const int16_t* homingParams(int mode) {
  static const int16_t* const t[8] = {amr::kHoming475, amr::kHoming515, amr::kHoming59,  amr::kHoming67,
                                      amr::kHoming74,  amr::kHoming795, amr::kHoming102, amr::kHoming122};
  return t[mode];
}

// Per mode: speech of that mode from the official stream, the homing frame
// twice, speech, a frame matching the homing frame in its first subframe
// only, the homing frame, a bad speech frame, and the homing frame of the
// next mode.
std::vector<SFrame> homingStream(const std::vector<SFrame>& official) {
  std::vector<SFrame> s;
  Rng rng(5);
  for (int m = 0; m < 8; ++m) {
    auto speechOf = [&](int count) {
      for (const SFrame& f : official)
        if (count > 0 && f.tx == amr::kTxSpeechGood && f.mode == m) s.push_back(f), --count;
    };
    auto homing = [&](int mode, bool firstOnly, int tx) {
      SFrame f;
      f.tx = tx;
      f.mode = mode;
      amr::paramsToBits(mode, homingParams(mode), f.bits);
      if (firstOnly)
        for (int k = amr::bitCount(mode) / 2; k < amr::bitCount(mode); ++k) f.bits[k] = rng.next() & 1;
      s.push_back(f);
    };
    for (const difftest::HomingStep& st : difftest::kHomingScript) {
      if (st.speech) speechOf(st.speech);
      else homing((m + st.nextMode) % 8, st.firstOnly, st.bad ? amr::kTxSpeechBad : amr::kTxSpeechGood);
    }
  }
  return s;
}

TEST(AmrNbDifferential, DecoderFollowsTheReference) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/amrnb");
  const std::vector<SFrame> dos = readCod(vtest::testVectorDir() + "/amrnb/spch_dos.cod");
  const std::vector<SFrame> do2 = readCod(vtest::testVectorDir() + "/amrnb/spch_do2.cod");
  ASSERT_EQ(dos.size(), 425u);
  const std::pair<const char*, std::vector<SFrame>> cases[] = {
      {"amrnb.dos.imp", impaired(dos, 21)},
      {"amrnb.do2.imp", impaired(do2, 22)},
      {"amrnb.rnd", randomStream(23, 1500)},
      {"amrnb.home", homingStream(dos)},
  };
  difftest::NamedStreams files;
  for (const auto& [name, stream] : cases) files.emplace_back(name, serialBytes(stream));
  // The same decoder reading a storage file (the reference built for the
  // storage format decodes it).
  files.emplace_back("amrnb.rnd.storage", difftest::randomStorageFile(24, 1000, std::string(amr::kStorageMagic, 6), 9,
                                                                   amr::storageFrameBytes));
  difftest::checkDecodes("amr-nb", amr::kFrame, ".amr", files);
}

}  // namespace
