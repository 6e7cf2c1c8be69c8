// AMR-WB frame layouts: the package's test-format streams read, turned into
// parameters and back, and written again word for word; every frame through
// each RFC 4867 form and back; the encoder's entry checks.
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

// (The encoder homing frames of every mode, from reset and after speech:
// the AmrEncoderDiff goldens of tests/differential.)
TEST(AmrWbEncoder, Checks) {
  std::vector<unsigned char> memory(wb::amrwbEncoderSize() + 16);
  auto* e = reinterpret_cast<wb::AmrWbEncoder*>((reinterpret_cast<std::uintptr_t>(memory.data()) + 15) &
                                                ~std::uintptr_t{15});
  EXPECT_EQ(wb::amrwbEncoderInit(nullptr, true), vokErrNullPtr);
  ASSERT_EQ(wb::amrwbEncoderInit(e, true), vokOk);
  int16_t pcm[320] = {};
  wb::FrameParams p;
  EXPECT_EQ(wb::amrwbEncodeFrame(e, pcm, 9, &p), vokErrRange);
  EXPECT_EQ(wb::amrwbEncodeFrame(e, pcm, -1, &p), vokErrRange);
  EXPECT_EQ(wb::amrwbEncodeFrame(e, nullptr, 0, &p), vokErrNullPtr);
  EXPECT_EQ(wb::amrwbEncodeFrame(e, pcm, 0, nullptr), vokErrNullPtr);
}

}  // namespace
