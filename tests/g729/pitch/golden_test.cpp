// The pitch exports against outputs of the ITU-T reference coders (built
// outside this repository) on generated cases (random, periodic, extreme and
// saturating inputs) run through the reference functions.  On coded speech
// the 16-bit searches and gains are held bit for bit by the G.729, Annex A
// and Annex D encoder vectors, which go through these exports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "cases.h"
#include "vectors.h"
#include "voksc.h"

namespace {

std::vector<int16_t> golden(const char* name) {
  std::vector<int16_t> w;
  EXPECT_TRUE(vtest::readWords(vtest::goldenDir() + "/g729/pitch/" + name, w)) << name;
  return w;
}

}  // namespace

// Generated cases: [count, 32-bit] then per case the reference's outputs;
// vectors as hashes (cases.h).
TEST(G729PitchGolden, GeneratedCasesG729) {
  const auto w = golden("generated_g729.bin");
  const int n = static_cast<uint16_t>(w[0]) | (w[1] << 16);
  ASSERT_EQ(w.size(), 2 + 13u * n);
  int saturating = 0;
  for (int c = 0; c < n; ++c) {
    const auto pc = pitchcases::make(c);
    const int16_t* q = &w[2 + 13 * c];
    SCOPED_TRACE(testing::Message() << "case " << c);
    Vok16s d, buf[194], delay[2], vec[40], y[40], gain, x2[40];
    ASSERT_EQ(voksOpenLoopPitchSearch_G729_16s(pc.wsp + 143, &d), vokOk);
    EXPECT_EQ(d, q[0]);
    std::memcpy(buf, pc.exc, sizeof buf);
    ASSERT_EQ(voksAdaptiveCodebookSearch_G729_16s(static_cast<Vok16s>(pc.centre), pc.x, pc.h, buf, delay, vec, pc.subframe),
              vokOk);
    EXPECT_TRUE(delay[0] == q[1] && delay[1] == q[2]) << delay[0] << " " << delay[1];
    EXPECT_TRUE(pitchcases::hashIs(q + 3, vec, 40));
    std::memcpy(buf, pc.exc, sizeof buf);
    const Vok16s pair[2] = {static_cast<Vok16s>(pc.t0), static_cast<Vok16s>(pc.frac)};
    ASSERT_EQ(voksDecodeAdaptiveVector_G729_16s_I(pair, buf), vokOk);
    EXPECT_TRUE(pitchcases::hashIs(q + 5, buf + 154, 40));
    ASSERT_EQ(voksAdaptiveCodebookGain_G729_16s(pc.x, pc.h, pc.vec, y, &gain), vokOk);
    EXPECT_TRUE(pitchcases::hashIs(q + 7, y, 40));
    EXPECT_EQ(gain, q[9]);
    // The target update departs from the reference where its product or
    // subtraction saturates (ours wraps); those cases are checked apart.
    ASSERT_EQ(voksAdaptiveCodebookContribution_G729_16s(static_cast<Vok16s>(pc.gain), pc.y, pc.x, x2), vokOk);
    if (q[12])
      ++saturating;
    else
      EXPECT_TRUE(pitchcases::hashIs(q + 10, x2, 40));
  }
  EXPECT_LT(saturating, n / 2);
}

TEST(G729PitchGolden, GeneratedCasesAnnexAAndD) {
  const auto wa = golden("generated_g729a.bin");
  const auto wd = golden("generated_g729d.bin");
  const int n = static_cast<uint16_t>(wa[0]) | (wa[1] << 16);
  ASSERT_EQ(wa.size(), 2 + 8u * n);
  ASSERT_EQ(wd.size(), 2 + 2u * n);
  for (int c = 0; c < n; ++c) {
    const auto pc = pitchcases::make(c);
    const int16_t* q = &wa[2 + 8 * c];
    SCOPED_TRACE(testing::Message() << "case " << c);
    Vok16s d, buf[194], delay[2], vec[40], y[40], gain;
    ASSERT_EQ(voksOpenLoopPitchSearch_G729A_16s(pc.wsp + 143, &d), vokOk);
    EXPECT_EQ(d, q[0]);
    std::memcpy(buf, pc.exc, sizeof buf);
    ASSERT_EQ(voksAdaptiveCodebookSearch_G729A_16s(static_cast<Vok16s>(pc.centre), pc.x, pc.h, buf, delay, vec, pc.subframe),
              vokOk);
    EXPECT_TRUE(delay[0] == q[1] && delay[1] == q[2]) << delay[0] << " " << delay[1];
    EXPECT_TRUE(pitchcases::hashIs(q + 3, vec, 40));
    ASSERT_EQ(voksAdaptiveCodebookGain_G729A_16s(pc.x, pc.ap, pc.vec, y, &gain), vokOk);
    EXPECT_TRUE(pitchcases::hashIs(q + 5, y, 40));
    EXPECT_EQ(gain, q[7]);
    ASSERT_EQ(voksAdaptiveCodebookSearch_G729D_16s(static_cast<Vok16s>(pc.centre), pc.x, pc.h, pc.exc, pc.subframe, delay),
              vokOk);
    EXPECT_EQ(delay[0], wd[2 + 2 * c]);
    EXPECT_EQ(delay[1], wd[3 + 2 * c]);
  }
}

// The float forms against the single-precision float reference coder: the
// same operations in the same order, so the delays agree exactly and the
// interpolated vectors to the last bits (a relative 1e-6 allows for a
// compiler fusing a multiply-add).
TEST(G729PitchGolden, FloatFormsAgainstTheFloatCoder) {
  std::vector<uint8_t> b;
  ASSERT_TRUE(vtest::readFile(vtest::goldenDir() + "/g729/pitch/generated_float.bin", b));
  auto i32 = [&](std::size_t off) {
    int32_t v;
    std::memcpy(&v, &b[off], 4);
    return v;
  };
  const int n = i32(0);
  ASSERT_EQ(b.size(), 4 + 164u * n);
  for (int c = 0; c < n; ++c) {
    const auto pc = pitchcases::make(c);
    const float scale = static_cast<float>(1 << (c % 7)) / 8.0f;
    float wsp[223], exc[194];
    for (int i = 0; i < 223; ++i) wsp[i] = pc.wsp[i] * scale;
    for (int i = 0; i < 194; ++i) exc[i] = pc.exc[i] * scale;
    const std::size_t off = 4 + 164u * c;
    Vok32s d;
    ASSERT_EQ(voksOpenLoopPitchSearch_G729A_32f(wsp + 143, &d), vokOk);
    EXPECT_EQ(d, i32(off)) << "case " << c;
    const Vok32s pair[2] = {pc.t0, pc.frac};
    ASSERT_EQ(voksDecodeAdaptiveVector_G729_32f_I(pair, exc + 154), vokOk);
    for (int i = 0; i < 40; ++i) {
      float want;
      std::memcpy(&want, &b[off + 4 + 4 * i], 4);
      EXPECT_NEAR(exc[154 + i], want, 1e-6f * std::fabs(want) + 1e-30f) << "case " << c << " sample " << i;
    }
  }
  // The recorded weighted speech as float, delays of the float coder.
  const auto w = golden("speech_openloop_g729a.bin");
  ASSERT_TRUE(vtest::readFile(vtest::goldenDir() + "/g729/pitch/speech_openloop_float.bin", b));
  std::size_t p = 1, k = 0;
  for (int s = 0; s < w[0]; ++s) {
    const int frames = w[p++];
    std::vector<float> f(w.begin() + p, w.begin() + p + 143 + 80 * frames);
    for (int fr = 0; fr < frames; ++fr, ++k) {
      Vok32s d;
      ASSERT_EQ(voksOpenLoopPitchSearch_G729A_32f(f.data() + 143 + 80 * fr, &d), vokOk);
      EXPECT_EQ(d, i32(4 * k)) << "segment " << s << " frame " << fr;
    }
    p += 143 + 80 * frames + frames;
  }
  EXPECT_EQ(4 * k, b.size());
}
