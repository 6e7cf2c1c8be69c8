// The pitch exports against outputs of the ITU-T reference coders (built
// outside this repository): steps recorded while the G.729, Annex A and
// Annex D encoders coded the conformance speech, and generated cases
// (random, periodic, extreme and saturating inputs) run through the
// reference functions.
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

// Open-loop delays over runs of consecutive frames of weighted speech:
// [segments] then per segment [frames] [143 + 80 frames samples] [delays].
template <class Search>
int checkOpenLoopStream(const std::vector<int16_t>& w, Search search) {
  int frames = 0;
  std::size_t p = 1;
  for (int s = 0; s < w[0]; ++s) {
    const int n = w[p++];
    const int16_t* wsp = &w[p];
    const int16_t* want = wsp + 143 + 80 * n;
    for (int f = 0; f < n; ++f, ++frames) EXPECT_EQ(search(wsp + 143 + 80 * f), want[f]) << "segment " << s << " frame " << f;
    p += 143 + 80 * n + n;
  }
  EXPECT_EQ(p, w.size());
  return frames;
}

}  // namespace

TEST(G729PitchGolden, OpenLoopOnCodedSpeech) {
  auto w = golden("speech_openloop_g729.bin");
  EXPECT_GE(checkOpenLoopStream(w, [](const int16_t* s) {
              Vok16s d = 0;
              EXPECT_EQ(voksOpenLoopPitchSearch_G729_16s(s, &d), vokOk);
              return d;
            }),
            60);
  w = golden("speech_openloop_g729a.bin");
  EXPECT_GE(checkOpenLoopStream(w, [](const int16_t* s) {
              Vok16s d = 0;
              EXPECT_EQ(voksOpenLoopPitchSearch_G729A_16s(s, &d), vokOk);
              return d;
            }),
            60);
}

// Records of one subframe: tag, subframe, centre, t0min, t0max, past
// excitation (194), target (40), impulse response (40), then the outputs:
// delay pair, adaptive vector (40), [Annex A: weighted LP coefficients
// (11)], filtered vector (40), gain, updated target (40).
TEST(G729PitchGolden, ClosedLoopVectorGainAndTargetOnCodedSpeech) {
  for (const char* name : {"speech_closedloop_g729.bin", "speech_closedloop_g729a.bin"}) {
    const auto w = golden(name);
    const bool annexA = std::strstr(name, "g729a") != nullptr;
    const std::size_t size = annexA ? 413 : 402;
    ASSERT_EQ(w.size() % size, 0u) << name;
    int fractional = 0;
    for (std::size_t r = 0; r < w.size() / size; ++r) {
      const int16_t* p = &w[r * size];
      ASSERT_EQ(p[0], annexA ? 'A' : 'C');
      const int sf = p[1];
      const Vok16s centre = p[2];
      const int16_t* exc = p + 5;
      const int16_t* x = exc + 194;
      const int16_t* h = x + 40;
      const int16_t* want = h + 40;
      const int16_t* wantVec = want + 2;
      const int16_t* ap = wantVec + 40;
      const int16_t* wantY = annexA ? ap + 11 : ap;
      const int16_t wantGain = wantY[40];
      const int16_t* wantX2 = wantY + 41;
      SCOPED_TRACE(testing::Message() << name << " record " << r);
      Vok16s buf[194], delay[2], vec[40], y[40], gain, x2[40];
      std::memcpy(buf, exc, sizeof buf);
      if (annexA)
        ASSERT_EQ(voksAdaptiveCodebookSearch_G729A_16s(centre, x, h, buf, delay, vec, sf), vokOk);
      else
        ASSERT_EQ(voksAdaptiveCodebookSearch_G729_16s(centre, x, h, buf, delay, vec, sf), vokOk);
      EXPECT_EQ(delay[0], want[0]);
      EXPECT_EQ(delay[1], want[1]);
      fractional += want[1] != 0;
      for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(vec[i], wantVec[i]) << i;
        ASSERT_EQ(buf[154 + i], wantVec[i]) << i;
      }
      EXPECT_EQ(std::memcmp(buf, exc, 154 * sizeof(Vok16s)), 0);  // the past is read only
      // The decoder's view: the same pair on the unmodified buffer.
      std::memcpy(buf, exc, sizeof buf);
      ASSERT_EQ(voksDecodeAdaptiveVector_G729_16s(want, buf, vec), vokOk);
      for (int i = 0; i < 40; ++i) ASSERT_EQ(vec[i], wantVec[i]) << i;
      if (annexA)
        ASSERT_EQ(voksAdaptiveCodebookGain_G729A_16s(x, ap, wantVec, y, &gain), vokOk);
      else
        ASSERT_EQ(voksAdaptiveCodebookGain_G729_16s(x, h, wantVec, y, &gain), vokOk);
      for (int i = 0; i < 40; ++i) ASSERT_EQ(y[i], wantY[i]) << i;
      EXPECT_EQ(gain, wantGain);
      ASSERT_EQ(voksAdaptiveCodebookContribution_G729_16s(wantGain, wantY, x, x2), vokOk);
      for (int i = 0; i < 40; ++i) ASSERT_EQ(x2[i], wantX2[i]) << i;
    }
    EXPECT_GT(fractional, 0) << name;
  }
}

// Annex D records: tag, subframe, centre, t0min, t0max, excitation, target,
// impulse response, delay pair.
TEST(G729PitchGolden, AnnexDClosedLoopOnCodedSpeech) {
  const auto w = golden("speech_closedloop_g729d.bin");
  constexpr std::size_t kSize = 281;
  ASSERT_EQ(w.size() % kSize, 0u);
  int reduced = 0;
  for (std::size_t r = 0; r < w.size() / kSize; ++r) {
    const int16_t* p = &w[r * kSize];
    ASSERT_EQ(p[0], 'D');
    const int16_t* exc = p + 5;
    Vok16s delay[2];
    ASSERT_EQ(voksAdaptiveCodebookSearch_G729D_16s(p[2], exc + 194, exc + 234, exc, p[1], delay), vokOk);
    EXPECT_EQ(delay[0], p[279]) << "record " << r;
    EXPECT_EQ(delay[1], p[280]) << "record " << r;
    reduced += p[1] == 1;
  }
  EXPECT_GT(reduced, 8);
}

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
    EXPECT_EQ(delay[0], q[1]);
    EXPECT_EQ(delay[1], q[2]);
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
    EXPECT_EQ(delay[0], q[1]);
    EXPECT_EQ(delay[1], q[2]);
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
