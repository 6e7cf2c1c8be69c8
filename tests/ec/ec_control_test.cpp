// Subband step-size controllers against plain models of their per-frame
// formulas (float in double precision, fixed point in 64-bit integers),
// the double-talk decision's rules, sizes and argument checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "check.h"
#include "frames.h"
#include "voksc.h"

namespace {

constexpr int kBands = 9, kSegs = 3, kFrame = 24, kRate = 8000;

int64_t pow10(const Vok32sc& x) { return (int64_t{x.re} * x.re + int64_t{x.im} * x.im + 512) >> 10; }
int64_t smooth(int64_t x, int64_t v, int64_t a) { return (x * a + v * (16384 - a) + 8192) >> 14; }

TEST(SubbandController, FixedUpdateAndDecisionMatchTheModel) {
  int size;
  ASSERT_EQ(vokOk, voksSubbandControllerGetSize_EC_16s(kBands, kFrame, kSegs, kRate, &size));
  EXPECT_EQ(5 * 48 + 112, size);
  std::vector<unsigned char> mem(size);
  auto* st = reinterpret_cast<SubbandControllerState_16s*>(mem.data());
  ASSERT_EQ(vokOk, voksSubbandControllerInit_EC_16s(st, kBands, kFrame, kSegs, kRate));
  const int64_t a15 = 16384 - kFrame * 1097728 / kRate, a9 = 16384 - kFrame * 1818624 / kRate;
  const int64_t a20 = 16384 - kFrame * 819200 / kRate, a10 = 16384 - kFrame * 1638400 / kRate;
  const int64_t t16 = int64_t{kBands} * 100000 * kSegs / 1024;
  std::vector<int64_t> C(kBands), Pa(kBands), Pf(kBands), D(kBands);
  int64_t pn = 0, g = 16384, G = 32767;
  bool nearEnd = false;
  Frames<Vok32sc> hist(kSegs, kBands), ada(kSegs, kBands), fix(kSegs, kBands);
  std::mt19937 rng(4);
  auto draw = [&](int bits) { return Vok32sc{int32_t(rng()) >> (32 - bits), int32_t(rng()) >> (32 - bits)}; };
  for (int frame = 0; frame < 60; ++frame) {
    std::rotate(hist.p.rbegin(), hist.p.rbegin() + 1, hist.p.rend());
    for (int i = 0; i < kBands; ++i) hist.p[0][i] = draw(frame % 7 == 0 ? 6 : 16);
    std::vector<Vok32sc> mic(kBands), ea(kBands), ef(kBands);
    for (auto& m : mic) m = draw(12 + frame % 5);  // the near-end power around 5 Q
    const bool withMic = frame >= 40;
    std::vector<Vok32s> steps(2 * kBands);
    const Vok16s dummy[1] = {0};
    ASSERT_EQ(vokOk, voksSubbandControllerUpdate_EC_16s(dummy, dummy, hist.p.data(), withMic ? mic.data() : nullptr, steps.data(), st));
    for (int i = 0; i < kBands; ++i) {
      C[i] += pow10(hist.p[0][i]);
      if (C[i] <= t16) {
        EXPECT_EQ((1 << 30) / t16, steps[2 * i]);
        EXPECT_EQ(102, steps[2 * i + 1]);
      } else {  // 0.5 / (C 2^10) with a mantissa in [2^30, 2^31)
        EXPECT_GE(steps[2 * i], 1 << 30);
        EXPECT_NEAR(std::ldexp(double(steps[2 * i]), -steps[2 * i + 1]) * double(C[i]) * 1024, 0.5, 1e-9);
      }
      C[i] = std::max<int64_t>(0, C[i] - pow10(hist.p[kSegs - 1][i]));
    }
    int64_t p = 0;
    if (withMic) {
      nearEnd = true;
      for (auto& m : mic) p += int64_t{m.re} * m.re + int64_t{m.im} * m.im;
      p = (p + 512) >> 10;
    }
    pn = smooth(pn, p, a15);
    // decision: adaptive errors small in the first 20 frames (saves), large after (restores)
    for (int i = 0; i < kBands; ++i) {
      ea[i] = draw(frame < 20 ? 8 : frame < 30 ? 20 : 12);
      ef[i] = draw(14);
      for (int s = 0; s < kSegs && frame % 30 == 0; ++s) {  // coefficients that hold still
        ada.p[s][i] = draw(15);
        fix.p[s][i] = draw(15);
      }
    }
    auto adaBefore = ada.v, fixBefore = fix.v;
    Vok16s gain;
    ASSERT_EQ(vokOk, voksSubbandController_EC_16s(ea.data(), ef.data(), ada.p.data(), fix.p.data(), &gain, st));
    int64_t S = 0, R = 0, Q = 0;
    for (int i = 0; i < kBands; ++i) {
      int64_t e = 0;
      for (int s = 0; s < kSegs; ++s) e += int64_t{adaBefore[s][i].re} * adaBefore[s][i].re + int64_t{adaBefore[s][i].im} * adaBefore[s][i].im;
      e = (e + 512) >> 10;
      const int64_t delta = std::abs(D[i] - e);
      D[i] = smooth(D[i], e, a9);
      Pf[i] = smooth(Pf[i], pow10(ef[i]), a15);
      Pa[i] = smooth(Pa[i], pow10(ea[i]), a15);
      bool saved = false, restored = false;
      if (D[i] > 10 * delta && Pa[i] < (5734 * Pf[i] + 8192) >> 14) {
        saved = true;
        Pf[i] = Pa[i];
        S += Pa[i];
      } else if (Pf[i] < (10922 * Pa[i] + 8192) >> 14) {
        restored = true;
        Pa[i] = Pf[i];
        R += Pf[i];
      }
      Q += Pf[i];
      for (int s = 0; s < kSegs; ++s) {
        const Vok32sc wantA = restored ? fixBefore[s][i] : adaBefore[s][i], wantF = saved ? adaBefore[s][i] : fixBefore[s][i];
        EXPECT_TRUE(ada.p[s][i].re == wantA.re && ada.p[s][i].im == wantA.im) << frame << " " << i;
        EXPECT_TRUE(fix.p[s][i].re == wantF.re && fix.p[s][i].im == wantF.im) << frame << " " << i;
      }
    }
    if (10 * S > Q && (!nearEnd || pn > 5 * Q))
      g = (g * a20 + 8192) >> 14;
    else if (10 * R >= Q)
      g = ((g - 16384) * a20 + (1 << 28) + 8192) >> 14;
    const int64_t target = g < 8192 && (R >= 100 || S >= 100) ? 0 : 32767;
    G = (target * (16384 - a10) + a10 * G + 8192) >> 14;
    EXPECT_EQ(G, gain) << frame;
  }
  // Reset clears the smoothed powers: the first decision after it saves nothing (D = E = 0 then)
  ASSERT_EQ(vokOk, voksSubbandControllerReset_EC_16s(st));
}

TEST(SubbandController, FloatUpdateAndDecisionMatchTheModel) {
  int size;
  ASSERT_EQ(vokOk, voksSubbandControllerGetSize_EC_32f(kBands, kFrame, kSegs, kRate, &size));
  EXPECT_EQ(16 * kBands + 96, size);
  std::vector<unsigned char> mem(size);
  auto* st = reinterpret_cast<SubbandControllerState_32f*>(mem.data() + 0);
  ASSERT_EQ(vokOk, voksSubbandControllerInit_EC_32f(st, kBands, kFrame, kSegs, kRate));
  auto factor = [](double tau) { const double n = kRate * tau / kFrame; return 1 - 1 / n + 1 / (2 * n * n); };
  const double a15 = factor(0.015), a9 = factor(0.009), a20 = factor(0.020), a10 = factor(0.010);
  const double T = kBands * 100000.0 * kSegs;
  std::vector<double> C(kBands), Pa(kBands), Pf(kBands), D(kBands);
  double g = 1, G = 1;
  Frames<Vok32fc> hist(kSegs, kBands), ada(kSegs, kBands), fix(kSegs, kBands);
  std::mt19937 rng(6);
  auto draw = [&](double amp) { return Vok32fc{float(amp * (int(rng() % 2001) - 1000) / 1000), float(amp * (int(rng() % 2001) - 1000) / 1000)}; };
  auto norm = [](const Vok32fc& x) { return double(x.re) * x.re + double(x.im) * x.im; };
  for (int frame = 0; frame < 40; ++frame) {
    std::rotate(hist.p.rbegin(), hist.p.rbegin() + 1, hist.p.rend());
    for (int i = 0; i < kBands; ++i) hist.p[0][i] = draw(frame % 5 == 0 ? 10 : 1000);
    std::vector<Vok64f> steps(kBands);
    const float dummy[1] = {0};
    ASSERT_EQ(vokOk, voksSubbandControllerUpdate_EC_32f(dummy, dummy, hist.p.data(), nullptr, steps.data(), st));
    for (int i = 0; i < kBands; ++i) {
      C[i] += norm(hist.p[0][i]);
      const double want = C[i] > T ? 0.5 / C[i] : 0.05 / T;
      EXPECT_NEAR(steps[i], want, 1e-5 * want) << frame;
      C[i] = std::max(0.0, C[i] - norm(hist.p[kSegs - 1][i]));
    }
    std::vector<Vok32fc> ea(kBands), ef(kBands);
    for (int i = 0; i < kBands; ++i) {
      ea[i] = draw(frame < 15 ? 1 : frame < 25 ? 1000 : 30);
      ef[i] = draw(40);
      for (int s = 0; s < kSegs && frame % 20 == 0; ++s) ada.p[s][i] = draw(frame < 15 ? 1 : 3);
    }
    auto adaBefore = ada.v, fixBefore = fix.v;
    Vok32f gain;
    ASSERT_EQ(vokOk, voksSubbandController_EC_32f(ea.data(), ef.data(), ada.p.data(), fix.p.data(), &gain, st));
    double S = 0, R = 0, Q = 0;
    for (int i = 0; i < kBands; ++i) {
      double e = 0;
      for (int s = 0; s < kSegs; ++s) e += norm(adaBefore[s][i]);
      const double delta = std::fabs(D[i] - e);
      D[i] = a9 * D[i] + (1 - a9) * e;
      Pf[i] = a15 * Pf[i] + (1 - a15) * norm(ef[i]);
      Pa[i] = a15 * Pa[i] + (1 - a15) * norm(ea[i]);
      const bool save = 0.1 * D[i] > delta && 0.35 * Pf[i] > Pa[i], restore = !save && Pa[i] > 1.5 * Pf[i];
      if (save) Pf[i] = Pa[i], S += Pa[i];
      if (restore) Pa[i] = Pf[i], R += Pf[i];
      Q += Pf[i];
      EXPECT_EQ(restore ? fixBefore[0][i].re : adaBefore[0][i].re, ada.p[0][i].re) << frame << " " << i;
      EXPECT_EQ(save ? adaBefore[kSegs - 1][i].im : fixBefore[kSegs - 1][i].im, fix.p[kSegs - 1][i].im) << frame << " " << i;
    }
    if (S > 0.1 * Q)
      g = a20 * g;
    else if (R > 0.1 * Q)
      g = a20 * g + 1 - a20;
    G = a10 * G + (1 - a10) * (g > 0.5 ? 1 : 0);
    EXPECT_NEAR(gain, G, 1e-5) << frame;
  }
}

TEST(SubbandController, DoubleTalkDecisionRules) {
  int size;
  ASSERT_EQ(vokOk, voksSubbandControllerDTGetSize_EC_16s(kBands, kFrame, kSegs, kRate, &size));
  EXPECT_EQ(11 * 48 + ((16 * kBands + 30) & ~31) + 160, size);
  std::vector<unsigned char> mem(size + 5);
  auto* st = reinterpret_cast<SubbandControllerDTState_16s*>(mem.data() + 5);
  ASSERT_EQ(vokOk, voksSubbandControllerDTInit_EC_16s(st, kBands, kFrame, kSegs, kRate));
  Frames<Vok32sc> hist(kSegs, kBands), ada(kSegs, kBands), fix(kSegs, kBands);
  for (int i = 0; i < kBands; ++i) {
    ada.p[0][i] = {i + 1, -i};
    fix.p[0][i] = {100 + i, 5};
    hist.p[0][i] = {20000, 0};
  }
  std::vector<Vok32sc> ea(kBands, Vok32sc{100, 0}), ef(kBands, Vok32sc{10000, 0});
  Vok64s x = 1000;
  Vok32s result = 7;
  // f2 = 0 and a level of 0: nothing happens
  ASSERT_EQ(vokOk, voksSubbandControllerDT_EC_16s(ea.data(), ef.data(), ada.p.data(), fix.p.data(), &x, &result, 0, 1, 0, 0, st));
  EXPECT_EQ(0, result);
  EXPECT_EQ(100, fix.p[0][0].re);
  // adaptive error 40 dB below the fixed one: the powers' save (Pa < Pf / 8) copies from subband 2 up
  ASSERT_EQ(vokOk, voksSubbandControllerDT_EC_16s(ea.data(), ef.data(), ada.p.data(), fix.p.data(), &x, &result, 1 << 20, 1, 0, 2, st));
  EXPECT_EQ(std::vector<int64_t>({result, fix.p[0][1].re, fix.p[0][2].re}), std::vector<int64_t>({-1, 101, 3}));
  // double talk flagged: mode 1; with z set by that save no restore until the powers call for one
  std::vector<Vok32s> steps(2 * kBands);
  Vok64s ref, micLevel;
  const Vok32s flag = 1;
  ASSERT_EQ(vokOk, voksSubbandControllerDTUpdate_EC_16s(hist.p.data(), ea.data(), steps.data(), &flag, &ref, &micLevel, 0, st));
  EXPECT_EQ(kBands * ((int64_t{20000} * 20000 + 8192) >> 14), ref);
  ada.p[0][3] = {-77, 0};
  x = 5;
  for (int k = 0; k < 12 && result != 1; ++k)  // ten active frames with the adaptive error above the fixed
    ASSERT_EQ(vokOk, voksSubbandControllerDT_EC_16s(ef.data(), ea.data(), ada.p.data(), fix.p.data(), &x, &result, 1 << 20, 1, 0, 2, st));
  // The backup's coefficient (saved above) and the companion saved with it.
  EXPECT_EQ(std::vector<int64_t>({result, ada.p[0][3].re, x}), std::vector<int64_t>({1, 4, 1000}));
  // checks
  EXPECT_EQ(vokErrRange, voksSubbandControllerDTInit_EC_16s(st, kBands, kFrame, kSegs, 11025));
  EXPECT_EQ(vokErrBadArg, voksSubbandControllerGetSize_EC_32f(0, kFrame, kSegs, 11025, nullptr));
  EXPECT_EQ(vokErrNullPtr, voksSubbandControllerInit_EC_16s(nullptr, kBands, kFrame, kSegs, 16000));
  vtest::Guard g;
  g.watch(fix.p[0], kBands).watch(&result);
  EXPECT_REJECTS(vokErrRange, g, voksSubbandControllerDT_EC_16s(ea.data(), ef.data(), ada.p.data(), fix.p.data(), &x, &result, 1, 1, 1, kBands + 1, st));
  EXPECT_EACH_NULL(g, voksSubbandControllerDT_EC_16s, ea.data(), ef.data(), ada.p.data(), fix.p.data(), &x, &result, Vok64s{1}, 1, 1, -1, st);
}

}  // namespace
