// AMR-WB frame layouts: the package's test-format streams read, turned into
// parameters and back, and written again word for word; every frame through
// each RFC 4867 form and back; the encoder's homing frames and entry checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "amrwb/amrwb_bits.h"
#include "amrwb/amrwb_codec.h"
#include "amrwb/amrwb_decoder.h"
#include "amrwb/amrwb_tables.h"
#include "registry.h"
#include "vectors.h"

namespace {

namespace wb = vokc::amrwb;

TEST(AmrWbBits, TestFormatParametersAndPayloadsRoundTrip) {
  int frames = 0, sid = 0;
  for (const char* name : {"tst_m0", "tst_m1", "tst_m2", "tst_m3", "tst_m4", "tst_m5", "tst_m6", "tst_m7", "tst_m8",
                           "tst_md"}) {
    std::vector<uint8_t> cod;
    ASSERT_TRUE(vtest::readFile(vtest::testVectorDir() + "/amrwb/" + name + ".cod", cod));
    std::size_t at = 0;
    while (at + 6 <= cod.size()) {
      std::string err;
      const int words = wb::testFrameWords(&cod[at], err);
      ASSERT_GT(words, 0) << name << ": " << err;
      ASSERT_LE(at + 2 * words, cod.size());
      wb::Frame f;
      wb::readTestFrame(&cod[at], f);
      // Parameters from the bits and back.
      wb::FrameParams p;
      static const int kTx[8] = {0, 0, 0, 0, 1, 2, 2, 3};
      p.type = kTx[f.type];
      p.mode = f.mode;
      wb::bitsToParams(f.bits, p);
      wb::Frame again = f;
      EXPECT_EQ(wb::paramsToBits(p, again.bits), words - 3);
      std::vector<uint8_t> out;
      wb::writeTestFrame(again, out);
      ASSERT_EQ(0, std::memcmp(out.data(), &cod[at], out.size())) << name << " frame " << frames;
      // Each RFC form and back keeps type, mode and (but in NO_DATA and SID_FIRST) the bits.
      uint8_t pay[wb::kMaxPayload];
      for (int form = 0; form < 2; ++form) {
        const int n = form ? wb::writePayloadBE(f, pay) : wb::writePayload(f, pay);
        wb::Frame back;
        ASSERT_TRUE(form ? wb::readPayloadBE(pay, n, back, err) : wb::readPayload(pay, n, back, err)) << err;
        EXPECT_EQ(back.type, f.type);
        if (f.type == wb::kSpeechGood || f.type == wb::kSidUpdate) {
          EXPECT_EQ(back.mode, f.mode);
          EXPECT_EQ(0, std::memcmp(back.bits, f.bits, wb::kMaxBits));
        }
      }
      sid += wb::isSid(f.type);
      ++frames;
      at += 2 * static_cast<std::size_t>(words);
    }
    EXPECT_EQ(at, cod.size()) << name;
  }
  EXPECT_EQ(frames, 2000);
  EXPECT_EQ(sid, 16);  // tst_md: 1 SID_FIRST, 15 SID_UPDATE
}

TEST(AmrWbBits, MalformedHeadersAndModeNames) {
  const uint8_t badSync[6] = {0x21, 0x6C, 0, 0, 0, 0}, badMode[6] = {0x21, 0x6B, 0, 0, 10, 0};
  std::string err;
  EXPECT_EQ(wb::testFrameWords(badSync, err), 0);
  EXPECT_EQ(wb::testFrameWords(badMode, err), 0);
  const struct {
    const char* name;
    int mode;
  } names[] = {{"6.6", 0}, {"6.60", 0}, {"6600", 0}, {"8.85", 1}, {"12650", 2}, {"23.85", 8}, {"23.05", 7},
               {"7", -1},  {"", -1}};
  for (const auto& n : names) EXPECT_EQ(wb::modeFromName(n.name), n.mode) << n.name;
  wb::Frame f;
  uint8_t short1[1] = {0xF0};
  EXPECT_FALSE(wb::readPayload(short1, 1, f, err));
}

// The decoder through each RFC 4867 form of the frames: the package's
// outputs for the DTX stream and the 23.85 kbit/s stream.
TEST(AmrWbDecoder, PayloadFormsDecodeToThePackageOutputs) {
  for (const char* name : {"tst_md", "tst_m8"}) {
    std::vector<uint8_t> cod;
    std::vector<int16_t> want;
    ASSERT_TRUE(vtest::readFile(vtest::testVectorDir() + "/amrwb/" + name + ".cod", cod));
    ASSERT_TRUE(vtest::readWords(vtest::testVectorDir() + "/amrwb/" + name + ".out", want));
    for (int form = 0; form < 3; ++form) {
      auto* d = new wb::dec::Decoder();
      wb::dec::decoderInit(d);
      std::size_t at = 0, frame = 0;
      std::string err;
      while (at < cod.size()) {
        const int words = wb::testFrameWords(&cod[at], err);
        ASSERT_GT(words, 0) << err;
        wb::Frame f, g;
        wb::readTestFrame(&cod[at], f);
        at += 2 * static_cast<std::size_t>(words);
        uint8_t pay[wb::kMaxPayload];
        if (form == 0) {
          ASSERT_TRUE(wb::readPayload(pay, wb::writePayload(f, pay), g, err)) << err;
        } else if (form == 1) {
          ASSERT_TRUE(wb::readPayloadBE(pay, wb::writePayloadBE(f, pay), g, err)) << err;
        } else {
          std::vector<uint8_t> st;
          wb::writeStorageFrame(f, st);
          ASSERT_TRUE(wb::readStorageFrame(st[0], st.data() + 1, static_cast<int>(st.size()) - 1, g, err)) << err;
        }
        int16_t pcm[wb::kFrame];
        ASSERT_EQ(wb::dec::decodeFrame(d, g, pcm), vokOk);
        ASSERT_EQ(0, std::memcmp(pcm, &want[frame * wb::kFrame], sizeof pcm)) << name << " form " << form << " frame " << frame;
        ++frame;
      }
      delete d;
    }
  }
}

// ---- the encoder ---------------------------------------------------------------

// The encoder homing frame gives the decoder homing frame of each mode from
// the reset state (also right after a homing frame met mid-stream, which
// resets the encoder).
struct Encoder {
  std::vector<unsigned char> memory = std::vector<unsigned char>(wb::amrwbEncoderSize() + 16);
  wb::AmrWbEncoder* get() {
    return reinterpret_cast<wb::AmrWbEncoder*>((reinterpret_cast<std::uintptr_t>(memory.data()) + 15) &
                                               ~std::uintptr_t{15});
  }
};

// The frame's bits as the homing tables hold them: 15 per word, the last
// word left-aligned; at 23.85 kbit/s the high-band gains are masked out
// (words 10, 17, 24 and the fourth gain after the first 473 bits).
std::vector<int16_t> homingWords(const uint8_t* bits, int n, int mode) {
  std::vector<int16_t> w;
  const int used = mode == 8 ? 473 : n;
  for (int at = 0; at < used; at += 15) {
    int v = 0, k = 0;
    for (; k < 15 && at + k < used; ++k) v = v << 1 | bits[at + k];
    w.push_back(static_cast<int16_t>(v << (15 - k)));
  }
  if (mode == 8) {
    w[10] &= 0x61FF;
    w[17] &= static_cast<int16_t>(0xE0FF);
    w[24] &= 0x7F0F;
  }
  return w;
}

TEST(AmrWbEncoder, HomingFrameGivesDecoderHomingFrame) {
  const int16_t* const homing[9] = {wb::kHoming660,  wb::kHoming885,  wb::kHoming1265,
                                    wb::kHoming1425, wb::kHoming1585, wb::kHoming1825,
                                    wb::kHoming1985, wb::kHoming2305, wb::kHoming2385};
  int16_t ehf[320], noise[320];
  for (int i = 0; i < 320; ++i) {
    ehf[i] = 8;
    noise[i] = static_cast<int16_t>((i * 7919 % 12000) - 6000);
  }
  Encoder e;
  for (int m = 0; m < wb::kModes; ++m) {
    ASSERT_EQ(wb::amrwbEncoderInit(e.get(), false), vokOk);
    const int16_t* const inputs[5] = {ehf, noise, noise, ehf, ehf};
    for (int f = 0; f < 5; ++f) {
      wb::FrameParams p;
      ASSERT_EQ(wb::amrwbEncodeFrame(e.get(), inputs[f], m, &p), vokOk);
      EXPECT_EQ(p.type, wb::kTxSpeech);
      if (f != 0 && f != 4) continue;
      uint8_t bits[wb::kMaxBits];
      const std::vector<int16_t> w = homingWords(bits, wb::paramsToBits(p, bits), m);
      for (std::size_t i = 0; i < w.size(); ++i) EXPECT_EQ(w[i], homing[m][i]) << "mode " << m << " frame " << f << " word " << i;
    }
  }
}

TEST(AmrWbEncoder, Checks) {
  Encoder e;
  EXPECT_EQ(wb::amrwbEncoderInit(nullptr, true), vokErrNullPtr);
  ASSERT_EQ(wb::amrwbEncoderInit(e.get(), true), vokOk);
  int16_t pcm[320] = {};
  wb::FrameParams p;
  EXPECT_EQ(wb::amrwbEncodeFrame(e.get(), pcm, 9, &p), vokErrRange);
  EXPECT_EQ(wb::amrwbEncodeFrame(e.get(), pcm, -1, &p), vokErrRange);
  EXPECT_EQ(wb::amrwbEncodeFrame(e.get(), nullptr, 0, &p), vokErrNullPtr);
  EXPECT_EQ(wb::amrwbEncodeFrame(e.get(), pcm, 0, nullptr), vokErrNullPtr);
}

}  // namespace
