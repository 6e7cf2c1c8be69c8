// AMR-NB encoder: the encoder homing frame gives the decoder homing frame of
// each mode from the reset state (also right after a homing frame met
// mid-stream, which resets the encoder), and the entry checks.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "amrnb/amrnb_encoder.h"
#include "amrnb/amrnb_tables.h"

namespace {

namespace amr = vokc::amrnb;

const int16_t* const kHoming[8] = {amr::kHoming475, amr::kHoming515, amr::kHoming59,  amr::kHoming67,
                                   amr::kHoming74,  amr::kHoming795, amr::kHoming102, amr::kHoming122};
const int kCounts[8] = {17, 19, 19, 19, 19, 23, 39, 57};

TEST(AmrNbEncoder, HomingFrameGivesDecoderHomingFrame) {
  int16_t ehf[160], noise[160];
  for (int i = 0; i < 160; ++i) {
    ehf[i] = 8;
    noise[i] = static_cast<int16_t>((i * 7919 % 6000) - 3000);
  }
  auto e = std::make_unique<amr::AmrNbEncoder>();
  for (int m = 0; m < 8; ++m) {
    ASSERT_EQ(amr::amrnbEncoderInit(e.get(), false, 1), vokOk);
    int16_t prm[57];
    int tx, used;
    // From reset, then after speech: the first homing frame resets, the second is coded from reset.
    const int16_t* const inputs[5] = {ehf, noise, noise, ehf, ehf};
    for (int f = 0; f < 5; ++f) {
      ASSERT_EQ(amr::amrnbEncodeFrame(e.get(), inputs[f], m, prm, &tx, &used), vokOk);
      EXPECT_EQ(tx, 0);
      EXPECT_EQ(used, m);
      if (f == 0 || f == 4) EXPECT_EQ(0, std::memcmp(prm, kHoming[m], 2 * kCounts[m])) << m << " " << f;
    }
  }
}

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
