// RTA high-pass: the odd-length float recursion against its formula, the
// 8 kHz odd-length no-operation, and the response of every rate and order
// (DC removed, pass band flat) with uneven calls on one memory.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "check.h"
#include "voksc.h"

namespace {

// Gain (dB) of a tone at hz, measured after the filter settles, fed in
// calls of `len` samples (odd: the float recursion of order 4).
double gainDb(int order, int fs, double hz, int len) {
  const int n = fs * 3;
  std::vector<float> x(n), y(n), mem(16, 0.0f);
  for (int i = 0; i < n; ++i) x[i] = float(1000 * std::sin(2 * M_PI * hz * i / fs));
  for (int at = 0; at + len <= n; at += len) {
    const VokResult r = voksHighPassFilter_RTA_32f(&x[at], &y[at], len, order, fs, mem.data());
    EXPECT_EQ(r, vokOk);
  }
  double px = 0, py = 0;
  for (int i = 2 * fs; i < n - len; ++i) px += double(x[i]) * x[i], py += double(y[i]) * y[i];
  return 10 * std::log10(py / px);
}

TEST(RtaHighPass, RemovesDcAndPassesSpeech) {
  for (int fs : {16000, 22050, 32000, 8000})
    for (int order : {4, 5})
      for (int len : {161, 160, 33}) {
        if (fs == 8000 && order == 4 && len % 2) continue;  // odd calls do nothing there
        EXPECT_NEAR(gainDb(order, fs, 1000, len), 0.0, 0.1) << fs << " " << order << " " << len;
        EXPECT_NEAR(gainDb(order, fs, 300, len), 0.0, 0.1) << fs << " " << order << " " << len;
        EXPECT_LT(gainDb(order, fs, 5, len), -20.0) << fs << " " << order << " " << len;
        if (order == 5) {
          EXPECT_NEAR(gainDb(order, fs, 20, len), -3.0, 0.2) << fs << " " << len;
        }
      }
}

TEST(RtaHighPass, OddLengthsRunTheFloatRecursion) {
  const float b0 = 0.992697299f, b1 = -2.97808051f, a1 = -2.98532963f, a2 = 2.97077799f, a3 = -0.985448003f;
  std::vector<float> x(301), y(301), mem(16, 0.0f);
  for (int i = 0; i < 301; ++i) x[i] = float((i * 7919) % 2001 - 1000);
  ASSERT_EQ(voksHighPassFilter_RTA_32f(x.data(), y.data(), 301, 4, 16000, mem.data()), vokOk);
  float x1 = 0, x2 = 0, x3 = 0, y1 = 0, y2 = 0, y3 = 0;
  for (int n = 0; n < 301; ++n) {
    const float v = 1e-6f + b0 * x[n] + b1 * x1 + -b1 * x2 + -b0 * x3 - a1 * y1 - a2 * y2 - a3 * y3;
    x3 = x2, x2 = x1, x1 = x[n], y3 = y2, y2 = y1, y1 = v;
    EXPECT_EQ(y[n], v) << n;
  }
  // At 8 kHz an odd length is not processed and writes nothing.
  vtest::Guard g;
  g.watch(y.data(), 301).watch(mem.data(), 16);
  EXPECT_REJECTS(vokWrnNoOperation, g, voksHighPassFilter_RTA_32f(x.data(), y.data(), 301, 4, 8000, mem.data()));
  EXPECT_NULLS_THEN(vokErrSize, g, voksHighPassFilter_RTA_32f, (const float*)x.data(), y.data(), 0, 3, 11025, mem.data());
  EXPECT_REJECTS(vokErrRange, g, voksHighPassFilter_RTA_32f(x.data(), y.data(), 2, 3, 11025, mem.data()));
  EXPECT_REJECTS(vokErrRange, g, voksHighPassFilter_RTA_32f(x.data(), y.data(), 2, 3, 8000, mem.data()));
  EXPECT_REJECTS(vokErrRange, g, voksHighPassFilter_RTA_32f(x.data(), y.data(), 2, 6, 32000, mem.data()));
}

}  // namespace
