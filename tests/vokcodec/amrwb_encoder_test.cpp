// AMR-WB encoder: the encoder homing frame gives the decoder homing frame of
// each mode from the reset state (also right after a homing frame met
// mid-stream, which resets the encoder), and the entry checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "amrwb/amrwb_codec.h"
#include "amrwb/amrwb_tables.h"

namespace {

namespace wb = vokc::amrwb;

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
