// The codec-neutral exports in the roles G.729 gives them, against values
// of the G.729 fixed-point reference coder (tests/golden/common/README.md):
// normalised autocorrelation of windowed conformance speech, the open-loop
// lag searches with their normalised maxima (through the inverse square
// root, which MathOps holds bit for bit over a grid of 670,000 words) and
// the 13-bit correlation normalisation of the codebook target.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "vectors.h"
#include "voksc.h"

using namespace voksc::op;

namespace {

struct Reader : vtest::GoldenReader {
  explicit Reader(const std::string& name) : GoldenReader("common/" + name) {}
};

const char* const kSpeech[] = {"SPEECH.IN", "PITCH.IN", "TAME.IN"};

std::vector<std::vector<int16_t>> loadSpeech() {
  std::vector<std::vector<int16_t>> s(3);
  for (int i = 0; i < 3; ++i)
    if (!vtest::readWords(vtest::testVectorDir() + "/g729/main/" + kSpeech[i], s[i])) s[i].clear();
  return s;
}

}  // namespace

// Windowed frame -> normalised autocorrelation, shifting the window right by
// 2 while the export reports overflow: the G.729 LP analysis.
TEST(G729Reference, NormalisedAutocorrelationOfWindowedSpeech) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  Reader g("autocorr_g729.bin");
  ASSERT_TRUE(g.ok());
  auto speech = loadSpeech();
  int16_t window[240];
  for (auto& w : window) w = g.w16();
  const int count = g.w32();
  int rescaled = 0;
  for (int c = 0; c < count; ++c) {
    const int file = g.w16(), gain = g.w16(), pos = g.w32();
    int16_t rh[11], rl[11];
    for (auto& v : rh) v = g.w16();
    for (auto& v : rl) v = g.w16();
    const auto& s = speech.at(file);
    ASSERT_LE(static_cast<std::size_t>(pos + 240), s.size()) << kSpeech[file];
    int16_t y[240];
    for (int i = 0; i < 240; ++i) y[i] = mult_r(shl(s[pos + i], static_cast<Word16>(gain)), window[i]);
    Vok32s r[11];
    int norm = -1;
    VokResult st;
    while ((st = voksAutoCorr_NormE_16s32s(y, 240, r, 11, &norm)) == vokWrnOverflow) {
      ++rescaled;
      for (auto& v : y) v = shr(v, 2);
    }
    ASSERT_EQ(st, vokOk);
    for (int k = 0; k < 11; ++k) {
      Word16 hi, lo;
      L_Extract(r[k], hi, lo);
      ASSERT_EQ(hi, rh[k]) << kSpeech[file] << " at " << pos << " gain " << gain << " lag " << k;
      ASSERT_EQ(lo, rl[k]) << kSpeech[file] << " at " << pos << " gain " << gain << " lag " << k;
    }
  }
  EXPECT_GT(count, 1000);
  EXPECT_GT(rescaled, 100);  // the overflow path is part of what was compared
}

// The open-loop pitch sections 143..80, 79..40, 39..20 on the scaled frame:
// lag, correlation maximum and the maximum normalised by 1/sqrt(energy).
TEST(G729Reference, OpenLoopLagSearchSections) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  Reader g("lagmax_g729.bin");
  ASSERT_TRUE(g.ok());
  auto speech = loadSpeech();
  const int count = g.w32();
  const int lo[3] = {80, 40, 20}, hi[3] = {143, 79, 39};
  for (int c = 0; c < count; ++c) {
    const int file = g.w16();
    g.w16();
    const int pos = g.w32();
    const auto& s = speech.at(file);
    ASSERT_LE(static_cast<std::size_t>(pos + 80), s.size());
    // The caller's scaling: down by 3 bits when the energy saturates, up by
    // 3 when it is below 2^20.
    int16_t buf[223];
    bool ovf = false;
    Word32 e = 0;
    for (int i = -143; i < 80; ++i) e = L_mac_o(e, s[pos + i], s[pos + i], ovf);
    for (int i = -143; i < 80; ++i)
      buf[i + 143] = ovf ? shr(s[pos + i], 3) : (e < 1048576 ? shl(s[pos + i], 3) : s[pos + i]);
    const int16_t* sig = buf + 143;
    for (int k = 0; k < 3; ++k) {
      const int16_t wantLag = g.w16(), wantNorm = g.w16();
      const int32_t wantMax = g.w32();
      Vok32s mx = 0;
      int lag = -1;
      ASSERT_EQ(voksAutoCorrLagMax_Inv_16s(sig, 80, lo[k], hi[k], &mx, &lag), vokOk);
      ASSERT_EQ(lag, wantLag) << kSpeech[file] << " at " << pos << " section " << k;
      ASSERT_EQ(mx, wantMax) << kSpeech[file] << " at " << pos << " section " << k;
      Vok32s en = 0;
      for (int i = 0; i < 80; ++i) en = L_mac(en, sig[i - lag], sig[i - lag]);
      ASSERT_EQ(voksInvSqrt_32s_I(&en, 1), vokOk);
      Word16 mh, ml, eh, el;
      L_Extract(mx, mh, ml);
      L_Extract(en, eh, el);
      ASSERT_EQ(extract_l(voksc::vokMpy32(mh, ml, eh, el)), wantNorm) << kSpeech[file] << " at " << pos;
    }
  }
  EXPECT_GT(count, 1000);
}

// h (Q12 impulse response) against the target: the correlations brought to
// 13 bits, as the G.729 fixed-codebook search prepares them.
TEST(G729Reference, TargetCorrelationNormalisedTo13Bits) {
  Reader g("corhx_g729.bin");
  ASSERT_TRUE(g.ok());
  const int count = g.w32();
  for (int c = 0; c < count; ++c) {
    int16_t h[40], x[40], want[40], d[40];
    for (auto& v : h) v = g.w16();
    for (auto& v : x) v = g.w16();
    for (auto& v : want) v = g.w16();
    ASSERT_EQ(voksCrossCorr_NormM_16s(h, x, 40, d), vokOk);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(d[i], want[i]) << "case " << c << " element " << i;
  }
  EXPECT_EQ(count, 160);
}
