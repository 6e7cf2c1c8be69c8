// RTA front end: QMF analysis against its plain sums, reconstruction of
// analysis then synthesis, the band-pass level follower against its
// formulas, and the argument checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "check.h"
#include "voksc.h"

namespace {

const std::vector<double> kHalf24 = {0.000383309613, -0.00139291096, -0.00137386099, 0.00648587896,
                                     0.00144646096,  -0.0190199297,  0.00389152206,  0.0442397594,
                                     -0.0256153308,  -0.0982978269,  0.116035499,    0.473128915};

struct Qmf {
  std::vector<unsigned char> mem = std::vector<unsigned char>(203);
  QMFState_RTA_32f* s = reinterpret_cast<QMFState_RTA_32f*>(mem.data() + 3);  // any address
  explicit Qmf(int taps) { EXPECT_EQ(voksQMFInit_RTA_32f(s, taps), vokOk); }
};

std::vector<float> noise(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> d(0.0f, 3000.0f);
  std::vector<float> x(n);
  for (float& v : x) v = d(rng);
  return x;
}

TEST(RtaQmf, AnalysisIsTheEvenAndOddTapSums) {
  std::vector<double> h(kHalf24);
  h.insert(h.end(), kHalf24.rbegin(), kHalf24.rend());
  const auto x = noise(1000, 1);
  Qmf q(24);
  std::vector<float> lo(500), hi(500);
  for (int at = 0, len = 2; at < 1000; at += len, len = len % 160 + 2) {
    len = std::min(len, 1000 - at);
    ASSERT_EQ(voksQMFEncode_RTA_32f(&x[at], len, &lo[at / 2], &hi[at / 2], q.s), vokOk);
  }
  for (int n = 0; n < 500; ++n) {
    double even = 0, odd = 0;  // over the 24 samples ending one before x[2n]
    for (int m = 0; m < 12; ++m) {
      const int i = 2 * n + 2 * m - 24;
      even += i >= 0 ? h[2 * m] * x[i] : 0;
      odd += i + 1 >= 0 ? h[2 * m + 1] * x[i + 1] : 0;
    }
    EXPECT_NEAR(lo[n], even + odd, 1e-5 * 3000 * 4) << n;
    EXPECT_NEAR(hi[n], even - odd, 1e-5 * 3000 * 4) << n;
  }
}

TEST(RtaQmf, SynthesisOfAnalysisReconstructsTheInput) {
  for (auto [taps, minDb] : {std::pair{24, 64.0}, {48, 74.0}}) {
    Qmf enc(taps), dec(taps);
    const auto x = noise(16000, 2);
    std::vector<float> lo(160), hi(160), y(16000);
    for (int at = 0; at < 16000; at += 320) {
      ASSERT_EQ(voksQMFEncode_RTA_32f(&x[at], 320, lo.data(), hi.data(), enc.s), vokOk);
      ASSERT_EQ(voksQMFDecode_RTA_32f(lo.data(), hi.data(), 160, &y[at], dec.s), vokOk);
    }
    double sig = 0, err = 0;
    for (int n = 1000; n < 15000; ++n) {
      sig += double(x[n]) * x[n];
      err += (double(y[n + taps]) - x[n]) * (double(y[n + taps]) - x[n]);
    }
    const double snr = 10 * std::log10(sig / err);
    EXPECT_GT(snr, minDb) << taps << " taps";
    std::printf("%d taps: reconstruction %.1f dB at a delay of %d samples\n", taps, snr, taps);
  }
}

TEST(RtaBandPass, FollowsItsSectionsAndLevel) {
  const auto x = noise(800, 3);
  std::vector<float> y(x), mem(3, 0.0f);
  double xp = 0, up = 0, g = 0;
  int at = 0;
  for (int len : {160, 80, 1, 320, 239}) {
    ASSERT_EQ(voksBandPassFilter_RTA_32f_I(&y[at], len, mem.data()), vokOk);
    std::vector<double> v(len);
    double in = 0, out = 0;
    for (int n = 0; n < len; ++n) {
      const double u = 0.8 * x[at + n] - 0.2 * xp;
      v[n] = 4.0 / 3.0 * u + 1.0 / 3.0 * up;
      xp = x[at + n], up = u;
      in += std::fabs(x[at + n]), out += std::fabs(v[n]);
    }
    for (int n = 0; n < len; ++n) {
      g = 0.99 * g + 0.011 * (out != 0 ? in / out : 0);
      EXPECT_NEAR(y[at + n], v[n] * g, 1e-5 * std::fabs(v[n] * g) + 1e-3) << at + n;
    }
    at += len;
  }
  // A silent block: ratio 0, the gain decays by 0.99 a sample.
  std::vector<float> zero(80, 0.0f);
  mem = {0.0f, 0.0f, 1.0f};
  ASSERT_EQ(voksBandPassFilter_RTA_32f_I(zero.data(), 80, mem.data()), vokOk);
  EXPECT_NEAR(mem[2], std::pow(0.99, 80), 1e-5);
}

TEST(RtaFilters, RejectBadArgumentsWithoutWriting) {
  Qmf q(48);
  std::vector<float> x(642, 1.0f), lo(321), hi(321), y(642), mem(3);
  int size = 0;
  vtest::Guard g;
  g.watch(q.mem.data(), q.mem.size()).watch(lo.data(), 321).watch(hi.data(), 321).watch(y.data(), 642).watch(mem.data(), 3);
  EXPECT_EACH_NULL(g, voksQMFEncode_RTA_32f, (const float*)x.data(), 3, lo.data(), hi.data(), q.s);
  EXPECT_EACH_NULL(g, voksQMFDecode_RTA_32f, (const float*)lo.data(), (const float*)hi.data(), 0, y.data(), q.s);
  EXPECT_EACH_NULL(g, voksBandPassFilter_RTA_32f_I, y.data(), 0, mem.data());
  for (int len : {0, 1, 7, 642, -2}) EXPECT_REJECTS(vokErrRange, g, voksQMFEncode_RTA_32f(x.data(), len, lo.data(), hi.data(), q.s));
  for (int len : {0, 321, -1}) EXPECT_REJECTS(vokErrRange, g, voksQMFDecode_RTA_32f(lo.data(), hi.data(), len, y.data(), q.s));
  for (int len : {0, 641}) EXPECT_REJECTS(vokErrSize, g, voksBandPassFilter_RTA_32f_I(y.data(), len, mem.data()));
  for (int taps : {32, 0, 47}) EXPECT_REJECTS(vokErrRange, g, voksQMFInit_RTA_32f(q.s, taps));
  EXPECT_REJECTS(vokErrNullPtr, g, voksQMFInit_RTA_32f(nullptr, 32));
  EXPECT_REJECTS(vokErrNullPtr, g, voksQMFGetStateSize_RTA_32f(nullptr));
  ASSERT_EQ(voksQMFGetStateSize_RTA_32f(&size), vokOk);
  EXPECT_EQ(size, 200);
  EXPECT_EQ(voksQMFEncode_RTA_32f(x.data(), 640, lo.data(), hi.data(), q.s), vokOk);
}

}  // namespace
