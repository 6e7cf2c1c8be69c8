// AMR-NB frame layouts: the official serial streams converted to the storage
// file the 3GPP reference encoder writes for the same input, every frame
// type through each RFC 4867 form and back; the encoder's entry checks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "amrnb/amrnb_bits.h"
#include "amrnb/amrnb_encoder.h"
#include "amrnb/amrnb_gains.h"
#include "amrnb/amrnb_tables.h"
#include "registry.h"
#include "vectors.h"

namespace {

namespace amr = vokc::amrnb;

// spch_dos.cod (VAD1, DTX, all modes) as a storage file; each serial frame
// read and written again word for word.
std::vector<uint8_t> storageOfSerialVector() {
  std::vector<uint8_t> cod, file(amr::kStorageMagic, amr::kStorageMagic + 6);
  EXPECT_TRUE(vtest::readFile(vtest::testVectorDir() + "/amrnb/spch_dos.cod", cod));
  std::string err;
  for (std::size_t at = 0; at + 500 <= cod.size(); at += 500) {
    amr::Frame f;
    EXPECT_TRUE(amr::readSerialFrame(&cod[at], f, err)) << err;
    std::vector<uint8_t> serial;
    amr::writeSerialFrame(f, serial);
    EXPECT_EQ(0, std::memcmp(serial.data(), &cod[at], 500)) << "frame " << at / 500;
    amr::writeStorageFrame(f, file);
  }
  return file;
}

// The reference encoder built for the storage format writes 5090 bytes of
// this CRC from spch_dos.inp.
TEST(AmrNbBits, SerialVectorToStorageFile) {
  const std::vector<uint8_t> file = storageOfSerialVector();
  EXPECT_EQ(file.size(), 5090u);
  EXPECT_EQ(vtest::crc32(file.data(), file.size()), 0xaf5c2c8eu);
}

// That file read by other programs: sox (through opencore-amrnb) and
// ffmpeg, where installed.  sox gives the reference decoder's output;
// ffmpeg's own decoder has no comfort noise and drops the SID and NO_DATA
// frames, so it gives the 242 speech frames of the 425.
TEST(AmrNbBits, StorageFileReadByOtherDecoders) {
  const std::vector<uint8_t> file = storageOfSerialVector();
  std::vector<int16_t> want;
  ASSERT_TRUE(vtest::readWords(vtest::testVectorDir() + "/amrnb/spch_dos.out", want));
  // Names of this process: test runs of several builds may share the folder.
  const std::string path = testing::TempDir() + "amrnb_peer" + std::to_string(getpid()) + ".amr", raw = path + ".raw";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
  struct Peer {
    const char* probe;
    std::string run;
    bool exact;
    std::size_t samples;
  } peers[] = {
      {"sox --help-format amr-nb 2>/dev/null | grep -q 'Reads: yes'",
       "sox -t amr-nb '" + path + "' -t raw -e signed -b 16 '" + raw + "' 2>/dev/null", true, want.size()},
      {"ffmpeg -hide_banner -decoders 2>/dev/null | grep -q amr",
       "ffmpeg -v quiet -y -i '" + path + "' -f s16le -ac 1 -ar 8000 '" + raw + "'", false, 242 * amr::kFrame},
  };
  int ran = 0;
  for (const Peer& p : peers) {
    if (std::system(p.probe) != 0) continue;
    ++ran;
    std::remove(raw.c_str());
    ASSERT_EQ(std::system(p.run.c_str()), 0) << p.run;
    std::vector<int16_t> got;
    ASSERT_TRUE(vtest::readWords(raw, got)) << p.run;
    EXPECT_EQ(got.size(), p.samples) << p.run;
    if (p.exact) EXPECT_TRUE(got == want) << p.run;
  }
  std::remove(path.c_str());
  std::remove(raw.c_str());
  if (!ran) GTEST_SKIP() << "neither sox with AMR-NB nor ffmpeg installed";
}

// A text mode file (one mode name per line, as the 3GPP vectors use) sets
// each frame's mode; the octet-aligned payloads have the modes' sizes.
TEST(AmrNbBits, TextModeFile) {
  const vokc::Codec* c = vokc::registry().find("amr-nb");
  ASSERT_NE(c, nullptr);
  const std::string path = testing::TempDir() + "amrnb_modes" + std::to_string(getpid()) + ".txt";
  std::ofstream(path) << "MR475\nMR122\r\n\nMR795\n";
  vokc::Options o;
  o.format = "rtp";
  o.rateFile = path;
  std::vector<int16_t> pcm(4 * amr::kFrame);
  for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>((i * 7919) % 4001 - 2000);
  std::vector<uint8_t> bits;
  std::string err;
  ASSERT_TRUE(c->encode(pcm, o, bits, err)) << err;
  std::vector<int> sizes;
  for (std::size_t at = 0; at < bits.size(); at += 1 + bits[at]) sizes.push_back(bits[at]);
  EXPECT_EQ(sizes, (std::vector<int>{14, 33, 22, 22}));  // the last mode continues
  std::ofstream(path) << "MR475\nMR99\n";
  EXPECT_FALSE(c->encode(pcm, o, bits, err));
  EXPECT_NE(err.find("line 2"), std::string::npos) << err;
  std::remove(path.c_str());
}

// Each frame type with random bits through the octet-aligned and
// bandwidth-efficient payloads and the storage frame: the same frame comes
// back, and the sizes are those of RFC 4867.
TEST(AmrNbBits, PayloadsRoundTrip) {
  struct Case {
    amr::RxType type;
    int mode;
    int oa, be;  // payload octets
  } cases[] = {
      {amr::kSpeechGood, 0, 14, 14}, {amr::kSpeechGood, 1, 15, 15}, {amr::kSpeechGood, 2, 17, 16},
      {amr::kSpeechGood, 3, 19, 18}, {amr::kSpeechGood, 4, 21, 20}, {amr::kSpeechGood, 5, 22, 22},
      {amr::kSpeechGood, 6, 28, 27}, {amr::kSpeechBad, 7, 33, 32},  {amr::kSidFirst, 5, 7, 7},
      {amr::kSidUpdate, 6, 7, 7},    {amr::kSidBad, 0, 7, 7},       {amr::kNoData, -1, 2, 2},
  };
  uint32_t seed = 1;
  for (const Case& c : cases) {
    amr::Frame f;
    f.type = c.type;
    f.mode = c.mode;
    const int n = amr::isSpeech(c.type) ? amr::bitCount(c.mode) : amr::isSid(c.type) ? amr::kSidBits : 0;
    for (int k = 0; k < n; ++k) f.bits[k] = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 31);
    uint8_t p[amr::kMaxPayload];
    amr::Frame g;
    std::string err;
    ASSERT_EQ(amr::writePayload(f, p, 3), c.oa);
    ASSERT_TRUE(amr::readPayload(p, c.oa, g, err)) << err;
    EXPECT_FALSE(amr::readPayload(p, c.oa - 1, g, err));
    int cmr = 0;
    ASSERT_EQ(amr::writePayloadBE(f, p, 3), c.be);
    amr::Frame h;
    ASSERT_TRUE(amr::readPayloadBE(p, c.be, h, err, &cmr)) << err;
    EXPECT_EQ(cmr, 3);
    std::vector<uint8_t> s;
    amr::writeStorageFrame(f, s);
    ASSERT_EQ(static_cast<int>(s.size()), c.oa - 1);
    amr::Frame k;
    ASSERT_TRUE(amr::readStorageFrame(s[0], s.data() + 1, c.oa - 2, k, err)) << err;
    for (const amr::Frame* back : {&g, &h, &k}) {
      EXPECT_EQ(back->type, c.type);
      if (c.type != amr::kNoData) EXPECT_EQ(back->mode, c.mode);
      EXPECT_EQ(0, std::memcmp(back->bits, f.bits, static_cast<std::size_t>(n)));
    }
  }
  // Parameters to bits and back, and mode names.
  int16_t prm[amr::kMaxParams], back[amr::kMaxParams];
  uint8_t bits[amr::kMaxBits];
  for (int m = 0; m <= amr::kSidMode; ++m) {
    for (int i = 0; i < amr::paramCount(m); ++i) prm[i] = static_cast<int16_t>((i * 37 + m) & ((1 << amr::paramWidths(m)[i]) - 1));
    amr::paramsToBits(m, prm, bits);
    amr::bitsToParams(m, bits, back);
    EXPECT_EQ(0, std::memcmp(prm, back, sizeof(int16_t) * amr::paramCount(m)));
  }
  for (const char* name : {"4.75", "MR475", "4750"}) EXPECT_EQ(amr::modeFromName(name), 0) << name;
  for (const char* name : {"12.2", "MR122", "12200"}) EXPECT_EQ(amr::modeFromName(name), 7) << name;
  EXPECT_EQ(amr::modeFromName("13"), -1);
}

// ---- the encoder ---------------------------------------------------------------

// (The encoder homing frames of every mode, from reset and after speech:
// the AmrEncoderDiff goldens of tests/differential.)
TEST(AmrNbEncoder, Checks) {
  auto e = std::make_unique<amr::AmrNbEncoder>();
  EXPECT_EQ(amr::amrnbEncoderInit(nullptr, true, 1), vokErrNullPtr);
  EXPECT_EQ(amr::amrnbEncoderInit(e.get(), true, 3), vokErrBadArg);
  ASSERT_EQ(amr::amrnbEncoderInit(e.get(), true, 2), vokOk);
  int16_t pcm[160] = {}, prm[57];
  int tx, used;
  EXPECT_EQ(amr::amrnbEncodeFrame(e.get(), pcm, 8, prm, &tx, &used), vokErrRange);
  EXPECT_EQ(amr::amrnbEncodeFrame(e.get(), pcm, -1, prm, &tx, &used), vokErrRange);
  EXPECT_EQ(amr::amrnbEncodeFrame(e.get(), nullptr, 0, prm, &tx, &used), vokErrNullPtr);
  EXPECT_EQ(amr::amrnbEncodeFrame(e.get(), pcm, 0, prm, &tx, nullptr), vokErrNullPtr);
}

}  // namespace

// The 4.75 kbit/s joint gain search in lanes against its portable loop:
// terms from zero (every row ties) to past the bound, pitch limits that
// shut out none, some or all rows.
TEST(AmrNbEncoder, JointGainLanesEqualPortable) {
  std::mt19937 rng(475);
  int cleared = 0;
  for (int rep = 0; rep < 3000; ++rep) {
    int16_t hi[10], lo[10];
    const int scale = rep % 7 == 0 ? 0 : 1 << (rng() % 15);
    for (int k = 0; k < 10; ++k) {
      hi[k] = static_cast<int16_t>(static_cast<int>(rng() % (2 * scale + 1)) - scale);
      lo[k] = static_cast<int16_t>(rep % 5 == 0 ? 0 : rng() % 32768);
    }
    const int16_t g00 = static_cast<int16_t>(1 + rng() % 32767), g01 = static_cast<int16_t>(1 + rng() % 32767);
    const int16_t limit = static_cast<int16_t>(rep % 3 == 0 ? 32767 : rng() % 20000);
    const int16_t a = amr::enc::search475Plain(hi, lo, g00, g01, limit, false);
    ASSERT_EQ(a, amr::enc::search475Plain(hi, lo, g00, g01, limit, true)) << rep;
    cleared += a >= 0;
  }
  EXPECT_GT(cleared, 1000);
}
