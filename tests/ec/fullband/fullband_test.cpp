// Full-band canceller: FIR and NLMS against plain models (float FIR and the
// scalar NLMS in the model's own order, the AVX2 NLMS within 1e-5 of the
// terms; fixed point bit for bit), the controller's steps, backup decisions
// and gain.  (The G.168 scenarios of whole cancellers built from these
// exports run in the vokproc_g168 test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "check.h"
#include "levels.h"
#include "voksc.h"

namespace {

int16_t sat16(int64_t v) { return int16_t(std::clamp<int64_t>(v, -32768, 32767)); }
int32_t sat32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

template <class T>
std::vector<T> randomVec(int n, double scale, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(-scale, scale);
  std::vector<T> v(n);
  for (T& e : v) e = T(d(rng));
  return v;
}

// Tap counts off and on the vector width, frames under and over the FIR's
// 32-output blocks.
class FullbandFilters : public ::testing::TestWithParam<std::tuple<int, int>> {};
INSTANTIATE_TEST_SUITE_P(Sizes, FullbandFilters, ::testing::Values(std::make_tuple(37, 50), std::make_tuple(264, 90)));

TEST_P(FullbandFilters, FirAndNlmsFollowTheirFormulas) {
  const auto [taps, len] = GetParam();
  const int hist = taps + 3;
  // The vector NLMS sums the taps in another order than the scalar one.
  const bool exactOrder = voksc::cpu::level() == voksc::cpu::Level::kScalar;
  const auto xf = randomVec<float>(hist + 2 * len, 1000, 1), yf = randomVec<float>(2 * len, 3000, 2);
  const auto hf0 = randomVec<float>(taps, 0.3, 3), stf = randomVec<float>(2 * len, 3e-6 / taps, 4);
  const auto xi = randomVec<int16_t>(hist + 2 * len, 32767, 5), yi = randomVec<int16_t>(2 * len, 32767, 6);
  const auto hi0 = randomVec<int16_t>(taps, 32767, 7);
  const auto sti = randomVec<int32_t>(2 * len, 3e4, 8);

  // FIR
  std::vector<float> ef(len);
  std::vector<int16_t> ei(len);
  ASSERT_EQ(voksFIR_EC_32f(&xf[hist], yf.data(), ef.data(), len, hf0.data(), taps), vokOk);
  ASSERT_EQ(voksFIR_EC_16s(&xi[hist], yi.data(), ei.data(), len, hi0.data(), taps), vokOk);
  for (int n = 0; n < len; ++n) {
    double s = 0;
    int64_t si = 0;
    for (int k = 0; k < taps; ++k) {
      s += double(hf0[k]) * xf[hist + n - k];
      si += (hi0[k] * xi[hist + n - k] + 16384) >> 15;
    }
    EXPECT_NEAR(ef[n], yf[n] - s, 1e-5 * (std::fabs(yf[n]) + std::fabs(s)));
    EXPECT_EQ(ei[n], sat16(yi[n] - si));
  }

  // NLMS over two calls with the carried term between them
  std::vector<float> hf(hf0), ef2(2 * len);
  std::vector<int16_t> hi(hi0), ei2(2 * len);
  float gf = 0.25f;
  int16_t gi = -1234;
  for (int part = 0; part < 2; ++part) {
    ASSERT_EQ(voksNLMS_EC_32f(&xf[hist + part * len], &yf[part * len], &stf[part * len], &ef2[part * len], len, hf.data(), taps, &gf), vokOk);
    ASSERT_EQ(voksNLMS_EC_16s(&xi[hist + part * len], &yi[part * len], &sti[part * len], &ei2[part * len], len, hi.data(), taps, &gi), vokOk);
  }
  std::vector<float> mh(hf0);  // same float operations in the same order
  std::vector<int16_t> mi(hi0);
  float g = 0.25f;
  int32_t gq = -1234;
  for (int n = 0; n < 2 * len; ++n) {
    float s = 0, mag = 0;
    int32_t sq = 0;
    for (int k = 0; k < taps; ++k) {
      mh[k] += g * xf[hist + n - 1 - k];
      s += mh[k] * xf[hist + n - k];
      mag += std::fabs(mh[k] * xf[hist + n - k]);
      mi[k] = sat16(mi[k] + ((int64_t(xi[hist + n - 1 - k]) * gq + 4096) >> 13));
      sq = sat32(int64_t(sq) + ((mi[k] * xi[hist + n - k] + 16384) >> 15));
    }
    const float e = yf[n] - s;
    if (exactOrder)
      EXPECT_EQ(ef2[n], e) << n;
    else
      EXPECT_NEAR(ef2[n], e, 1e-5f * (std::fabs(yf[n]) + mag)) << n;
    g = ef2[n] * stf[n];  // the taps then follow the same corrections
    const int16_t eq = sat16(int64_t(yi[n]) - sq);
    EXPECT_EQ(ei2[n], eq) << n;
    gq = sat32((int64_t(sti[n]) * eq + 1024) >> 11);
  }
  EXPECT_EQ(hf, mh);
  EXPECT_EQ(hi, mi);
  EXPECT_EQ(gi, sat16(gq));

  // Zero steps and carried term: taps stay, e is the FIR error.
  std::vector<float> zero(len, 0.0f), e3(len), h3(hf0);
  float g0 = 0.0f;
  ASSERT_EQ(voksNLMS_EC_32f(&xf[hist], yf.data(), zero.data(), e3.data(), len, h3.data(), taps, &g0), vokOk);
  EXPECT_EQ(h3, hf0);
  for (int n = 0; n < len; ++n)
    if (exactOrder)
      EXPECT_EQ(e3[n], ef[n]) << n;
    else
      EXPECT_NEAR(e3[n], ef[n], 1e-5 * (3000 + 300.0 * taps)) << n;  // bound of |y| + sum |h x|
}

template <class State>
State* place(std::vector<unsigned char>& mem, int size) {
  mem.assign(size + 16, 0);
  return reinterpret_cast<State*>(mem.data() + 1);  // any address: used from its 16-byte boundary
}

TEST(FullbandController, StepsFollowTheSlidingReferenceEnergy) {
  const int frame = 80, taps = 64;
  std::vector<unsigned char> mf, mi;
  int size = 0;
  ASSERT_EQ(voksFullbandControllerGetSize_EC_32f(frame, taps, 8000, &size), vokOk);
  EXPECT_EQ(size, 72);
  auto* sf = place<FullbandControllerState_32f>(mf, size);
  ASSERT_EQ(voksFullbandControllerGetSize_EC_16s(frame, taps, 8000, &size), vokOk);
  EXPECT_EQ(size, 96);
  auto* si = place<FullbandControllerState_16s>(mi, size);
  ASSERT_EQ(voksFullbandControllerInit_EC_32f(sf, frame, taps, 8000), vokOk);
  ASSERT_EQ(voksFullbandControllerInit_EC_16s(si, frame, taps, 8000), vokOk);
  // Quiet first half of the history, loud afterwards: the steps switch
  // from the small step to 0.5/E inside the frame.
  auto xf = randomVec<float>(taps + frame, 20000, 9);
  for (int i = 0; i < taps; ++i) xf[i] *= 0.001f;
  std::vector<int16_t> xi(xf.begin(), xf.end());
  std::vector<float> y(frame, 100.0f), stepf(frame);
  std::vector<int16_t> yi(frame, 100);
  std::vector<int32_t> stepi(frame);
  ASSERT_EQ(voksFullbandControllerUpdate_EC_32f(&xf[taps], y.data(), stepf.data(), sf), vokOk);
  ASSERT_EQ(voksFullbandControllerUpdate_EC_16s(&xi[taps], yi.data(), stepi.data(), si), vokOk);
  const float thr = 1.5e6f * taps;
  const int32_t thr16 = int32_t((1500000LL * taps + 128) >> 8);
  int32_t e16 = 0;
  int small = 0;
  for (int n = 0; n < frame; ++n) {
    double e = 0;
    int64_t sum = 0;
    for (int k = 1; k <= taps; ++k) e += double(xf[taps + n - k]) * xf[taps + n - k];
    if (n == 0) {
      for (int k = 1; k <= taps; ++k) sum += xi[taps - k] * xi[taps - k];
      e16 = sat32((sum + 128) >> 8);
    } else {
      e16 = sat32(int64_t(e16) + ((xi[taps + n - 1] * xi[taps + n - 1] + 128) >> 8) -
                  ((xi[n - 1] * xi[n - 1] + 128) >> 8));
    }
    if (e > thr) {
      EXPECT_NEAR(stepf[n], 0.5 / e, 1e-4 * 0.5 / e) << n;
    } else {
      EXPECT_EQ(stepf[n], 1.0f / thr) << n;
      ++small;
    }
    EXPECT_EQ(stepi[n], e16 > thr16 ? (1 << 30) / e16 : (1 << 30) / thr16) << n;
  }
  EXPECT_GT(small, 0);
  EXPECT_LT(small, frame);
}

// The backup decision and gain written from their formulas: frames where
// the adaptive error is far below the backup error (save), far above it
// (restore), and in between, with fresh adaptive taps each frame.
TEST(FullbandController, DecisionsFollowTheirFormulas) {
  const int frame = 40, taps = 16, fs = 8000;
  std::vector<unsigned char> mf, mi;
  auto* sf = place<FullbandControllerState_32f>(mf, 72);
  auto* si = place<FullbandControllerState_16s>(mi, 96);
  ASSERT_EQ(voksFullbandControllerInit_EC_32f(sf, frame, taps, fs), vokOk);
  ASSERT_EQ(voksFullbandControllerInit_EC_16s(si, frame, taps, fs), vokOk);
  auto af = [&](float tau) { const float n = float(fs) * tau / float(frame); return 1.0f - 1.0f / n + 1.0f / (2.0f * n * n); };
  const float a50 = af(0.05f), a20 = af(0.02f), a10 = af(0.01f);
  float Pa = 0, Pf = 0, D = 0, Pm = 0, g = 1, G = 1;
  const int64_t q50 = 16384 - frame * 327680 / fs, q20 = 16384 - frame * 819200 / fs, q10 = 16384 - frame * 1638400 / fs;
  int64_t qPa = 0, qPf = 0, qD = 0, qPm = 0, qg = 16384, qG = 32767;
  auto blend = [](int64_t a, int64_t w, int64_t b) { return int64_t(sat32((a * w + b * (16384 - w) + 8192) >> 14)); };
  std::vector<float> hfA(taps), hfF(taps, 0.0f), mfF(taps, 0.0f);
  std::vector<int16_t> hiA(taps), hiF(taps, 0), miF(taps, 0);
  // 0 mixed, 1 good, 2 bad; the coefficient energy must settle before a save
  const char* kind = "1111111111111111111111111222220001111222";
  int saved = 0, restored = 0;
  for (int f = 0; kind[f]; ++f) {
    const int what = kind[f] - '0';
    const double ae = what == 1 ? 30 : what == 2 ? 3000 : 400, fe = 500;
    const auto eaF = randomVec<float>(frame, ae, 100 + f), efF = randomVec<float>(frame, fe, 200 + f);
    const auto yF = randomVec<float>(frame, 3000, 300 + f);
    const std::vector<int16_t> eaI(eaF.begin(), eaF.end()), efI(efF.begin(), efF.end()), yI(yF.begin(), yF.end());
    hfA = randomVec<float>(taps, 0.2 + 0.001 * f, 400 + f / 8);  // steady for 8 frames at a time
    for (int k = 0; k < taps; ++k) hiA[k] = int16_t(hfA[k] * 32767);
    std::vector<float> x(taps + frame, 0.0f), st(frame);
    std::vector<int16_t> xi(taps + frame, 0);
    std::vector<int32_t> sti(frame);
    ASSERT_EQ(voksFullbandControllerUpdate_EC_32f(&x[taps], yF.data(), st.data(), sf), vokOk);
    ASSERT_EQ(voksFullbandControllerUpdate_EC_16s(&xi[taps], yI.data(), sti.data(), si), vokOk);
    const std::vector<float> mfA(hfA);
    const std::vector<int16_t> miA(hiA);
    float gainF = 0;
    int16_t gainI = 0;
    ASSERT_EQ(voksFullbandController_EC_32f(eaF.data(), efF.data(), hfA.data(), hfF.data(), &gainF, sf), vokOk);
    ASSERT_EQ(voksFullbandController_EC_16s(eaI.data(), efI.data(), hiA.data(), hiF.data(), &gainI, si), vokOk);

    float sy = 0, sa = 0, sf2 = 0, ec = 0;
    int64_t qy = 0, qa = 0, qf = 0, qec = 0;
    for (int n = 0; n < frame; ++n) {
      sy += yF[n] * yF[n], sa += eaF[n] * eaF[n], sf2 += efF[n] * efF[n];
      qy += yI[n] * yI[n], qa += eaI[n] * eaI[n], qf += efI[n] * efI[n];
    }
    for (int k = 0; k < taps; ++k) ec += mfA[k] * mfA[k], qec += miA[k] * miA[k];
    Pm = a50 * Pm + (1.0f - a50) * sy;
    Pa = a50 * Pa + (1.0f - a50) * sa;
    Pf = a50 * Pf + (1.0f - a50) * sf2;
    const float delta = std::fabs(D - ec);
    D = a50 * D + (1.0f - a50) * ec;
    std::vector<float> wantA(mfA);
    if (0.1f * Pf > Pa && 0.2f * ec > delta) {
      mfF = mfA, Pf = Pa, g = a20 * g, ++saved;
    } else if (Pa > 1.3f * Pf) {
      wantA = mfF, Pa = Pf, g = a20 * g + (1.0f - a20), ++restored;
    }
    G = a10 * G + (1.0f - a10) * ((g < 0.5f && 0.2f * Pm > Pf) ? 0.0f : 1.0f);
    EXPECT_EQ(gainF, G) << f;
    EXPECT_EQ(hfF, mfF) << f;
    EXPECT_EQ(hfA, wantA) << f;

    qPm = blend(qPm, q50, sat32((qy + 8) >> 4));
    qPa = blend(qPa, q50, sat32((qa + 8) >> 4));
    qPf = blend(qPf, q50, sat32((qf + 8) >> 4));
    const int64_t qdelta = std::llabs(qD - qec);
    qD = blend(qD, q50, qec);
    std::vector<int16_t> wantI(miA);
    if (qPf > 10 * qPa && qec > 5 * qdelta) {
      miF = miA, qPf = qPa, qg = (qg * q20 + 8192) >> 14, ++saved;
    } else if (qPf < ((12603 * qPa + 8192) >> 14)) {
      wantI = miF, qPa = qPf, qg = ((qg - 16384) * q20 + (1 << 28) + 8192) >> 14, ++restored;
    }
    const int64_t target = (qg < 8192 && qPf < ((3276 * qPm + 8192) >> 14)) ? 0 : 32767;
    qG = (qG * q10 + target * (16384 - q10) + 8192) >> 14;
    EXPECT_EQ(gainI, sat16(qG)) << f;
    EXPECT_EQ(hiF, miF) << f;
    EXPECT_EQ(hiA, wantI) << f;
  }
  EXPECT_GE(saved, 2);  // in both forms
  EXPECT_GE(restored, 2);
}

TEST(FullbandController, RejectsBadArgumentsWithoutWriting) {
  std::vector<unsigned char> mf, mi;
  auto* sf = place<FullbandControllerState_32f>(mf, 72);
  auto* si = place<FullbandControllerState_16s>(mi, 96);
  ASSERT_EQ(voksFullbandControllerInit_EC_32f(sf, 8, 4, 16000), vokOk);
  ASSERT_EQ(voksFullbandControllerInit_EC_16s(si, 8, 4, 16000), vokOk);
  std::vector<float> xf(20), y(8), e(8), h(4), st(8);
  std::vector<int16_t> xi(20), yi(8), ei(8), hi(4);
  std::vector<int32_t> sti(8);
  float c = 0, gain = 0;
  int16_t ci = 0, gi = 0;
  int size = 0;
  vtest::Guard g;
  g.watch(mf.data(), mf.size()).watch(mi.data(), mi.size()).watch(e.data(), 8).watch(ei.data(), 8).watch(h.data(), 4)
      .watch(hi.data(), 4).watch(&c).watch(&ci).watch(&size).watch(&gain).watch(&gi).watch(st.data(), 8).watch(sti.data(), 8);
  const float* x = &xf[10];
  const int16_t* xs = &xi[10];
  EXPECT_NULLS_THEN(vokErrBadArg, g, voksFIR_EC_32f, x, (const float*)y.data(), e.data(), 8, (const float*)h.data(), 0);
  EXPECT_EACH_NULL(g, voksFIR_EC_16s, xs, (const int16_t*)yi.data(), ei.data(), 8, (const int16_t*)hi.data(), 0);
  EXPECT_EACH_NULL(g, voksNLMS_EC_32f, x, (const float*)y.data(), (const float*)st.data(), e.data(), 0, h.data(), 4, &c);
  EXPECT_NULLS_THEN(vokErrBadArg, g, voksNLMS_EC_16s, xs, (const int16_t*)yi.data(), (const int32_t*)sti.data(), ei.data(), 0, hi.data(), 4, &ci);
  EXPECT_EACH_NULL(g, voksFullbandControllerUpdate_EC_32f, x, (const float*)y.data(), st.data(), sf);
  EXPECT_EACH_NULL(g, voksFullbandControllerUpdate_EC_16s, xs, (const int16_t*)yi.data(), sti.data(), si);
  EXPECT_EACH_NULL(g, voksFullbandController_EC_32f, (const float*)e.data(), (const float*)y.data(), h.data(), h.data(), &gain, sf);
  EXPECT_EACH_NULL(g, voksFullbandController_EC_16s, (const int16_t*)ei.data(), (const int16_t*)yi.data(), hi.data(), hi.data(), &gi, si);
  EXPECT_REJECTS(vokErrNullPtr, g, voksFullbandControllerReset_EC_32f(nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksFullbandControllerReset_EC_16s(nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksFullbandControllerGetSize_EC_32f(0, 0, 1, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksFullbandControllerInit_EC_16s(nullptr, 0, 0, 1));
  struct Bad {
    int frame, taps, fs;
    VokResult want;
  };
  for (const Bad b : {Bad{0, 4, 1, vokErrBadArg}, Bad{8, 0, 1, vokErrBadArg}, Bad{8, 4, 44100, vokErrRange}}) {
    const int f = b.frame, t = b.taps, fs = b.fs;
    const VokResult want = b.want;
    EXPECT_REJECTS(want, g, voksFullbandControllerGetSize_EC_32f(f, t, fs, &size));
    EXPECT_REJECTS(want, g, voksFullbandControllerGetSize_EC_16s(f, t, fs, &size));
    EXPECT_REJECTS(want, g, voksFullbandControllerInit_EC_32f(sf, f, t, fs));
    EXPECT_REJECTS(want, g, voksFullbandControllerInit_EC_16s(si, f, t, fs));
  }
}

}  // namespace
