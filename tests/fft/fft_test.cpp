// The internal real FFT against a plain DFT in double precision, its
// inverse, its scaling flags, the 16-bit wrappers' rounding, the kernel
// forms' equality and the set-up and transform checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "check.h"
#include "fft/fft.h"

namespace {

using namespace voksc::fft;

// X[k] = sum x[n] exp(-2 pi i k n / N), k = 0..N/2, in double.
std::vector<double> dft(const std::vector<double>& x) {
  const size_t n = x.size();
  std::vector<double> c(n), s(n), out(n + 2, 0.0);
  for (size_t j = 0; j < n; ++j) {
    c[j] = std::cos(2 * M_PI * double(j) / double(n));
    s[j] = std::sin(2 * M_PI * double(j) / double(n));
  }
  for (size_t k = 0; k <= n / 2; ++k) {
    double re = 0, im = 0;
    for (size_t t = 0; t < n; ++t) {
      re += x[t] * c[k * t % n];
      im -= x[t] * s[k * t % n];
    }
    out[2 * k] = re;
    out[2 * k + 1] = im;
  }
  return out;
}

struct Fft32 {
  std::vector<unsigned char> mem, setup, work;
  RealFftSpec_32f* plan = nullptr;
  Fft32(int order, int flag) {
    int a, b, c;
    EXPECT_EQ(vokOk, realFftGetSize_32f(order, flag, 0, &a, &b, &c));
    mem.resize(a);
    setup.resize(b + 1);
    work.resize(c + 1);
    EXPECT_EQ(vokOk, realFftInit_32f(&plan, order, flag, 0, mem.data(), setup.data()));
  }
};

struct Fft16 {
  std::vector<unsigned char> mem, setup, work;
  RealFftSpec_16s* plan = nullptr;
  explicit Fft16(int order) {
    int a, b, c;
    EXPECT_EQ(vokOk, realFftGetSize_16s(order, kScaleInv, 0, &a, &b, &c));
    mem.resize(a);
    setup.resize(b + 1);
    work.resize(c);
    EXPECT_EQ(vokOk, realFftInit_16s(&plan, order, kScaleInv, 0, mem.data(), setup.data()));
  }
};

TEST(RealFft, MatchesDftAndInvertsForEveryOrderAndFlag) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int order = 0; order <= 12; ++order) {
    const int n = 1 << order;
    std::vector<float> x(n);
    for (auto& v : x) v = u(rng);
    const auto ref = dft(std::vector<double>(x.begin(), x.end()));
    double peak = 0, energy = 0, spectral = 0;
    for (int k = 0; k <= n / 2; ++k) {
      peak = std::max(peak, std::hypot(ref[2 * k], ref[2 * k + 1]));
      spectral += (k == 0 || 2 * k == n ? 1 : 2) * (ref[2 * k] * ref[2 * k] + ref[2 * k + 1] * ref[2 * k + 1]);
    }
    for (float v : x) energy += double(v) * v;
    for (int flag : {kScaleFwd, kScaleInv, kScaleSqrt, kNoScale}) {
      SCOPED_TRACE(::testing::Message() << "order " << order << " flag " << flag);
      Fft32 f(order, flag);
      const double fwd = flag == kScaleFwd ? 1.0 / n : flag == kScaleSqrt ? 1.0 / std::sqrt(n) : 1.0;
      std::vector<float> plan(n + 2, 9.0f), back(n);
      ASSERT_EQ(vokOk, realFftFwd_32f(x.data(), plan.data(), f.plan, f.work.data()));
      double err = 0, parseval = 0;
      for (int i = 0; i < n + 2; ++i) err = std::max(err, std::fabs(plan[i] - fwd * ref[i]));
      for (int k = 0; k <= n / 2; ++k)
        parseval += (k == 0 || 2 * k == n ? 1 : 2) * (double(plan[2 * k]) * plan[2 * k] +
                                                      double(plan[2 * k + 1]) * plan[2 * k + 1]);
      EXPECT_LE(err, 1e-5 * fwd * std::max(1.0, peak));
      EXPECT_EQ(0.0f, plan[1]);
      EXPECT_EQ(0.0f, plan[n + 1]);
      EXPECT_NEAR(parseval / (fwd * fwd), n * energy, 1e-5 * n * energy);
      EXPECT_NEAR(spectral, n * energy, 1e-9 * n * energy);
      ASSERT_EQ(vokOk, realFftInv_32f(plan.data(), back.data(), f.plan, nullptr));
      const double gain = flag == kNoScale ? n : 1.0;
      for (int i = 0; i < n; ++i) EXPECT_NEAR(back[i], gain * x[i], 2e-5 * gain * std::max(1, order)) << i;
    }
  }
}

TEST(RealFft, KernelFormsGiveTheSameBits) {
  if (voksc::cpu::supported() < voksc::cpu::Level::kAvx2) GTEST_SKIP() << "no AVX2";
  const Kernels& a = kernelsFor(voksc::cpu::Level::kScalar);
  const Kernels& b = kernelsFor(voksc::cpu::Level::kAvx2);
  std::mt19937 rng(11);
  std::normal_distribution<float> g(0.0f, 1000.0f);
  for (int order = 0; order <= 14; ++order) {
    const int n = 1 << order;
    Fft32 f(order, kScaleSqrt);
    std::vector<float> x(n + 2), s1(n + 2), s2(n + 2), i1(n), i2(n), work(n + 64);
    for (auto& v : x) v = g(rng);
    forward(*f.plan, x.data(), s1.data(), work.data(), a);
    forward(*f.plan, x.data(), s2.data(), work.data(), b);
    EXPECT_EQ(0, std::memcmp(s1.data(), s2.data(), 4 * (n + 2))) << order;
    inverse(*f.plan, x.data(), i1.data(), work.data(), a);
    inverse(*f.plan, x.data(), i2.data(), work.data(), b);
    EXPECT_EQ(0, std::memcmp(i1.data(), i2.data(), 4 * n)) << order;
  }
}

TEST(RealFft, SixteenBitFormsRoundTheFloatResult) {
  std::mt19937 rng(3);
  for (int order : {0, 1, 2, 5, 6, 9, 11}) {
    const int n = 1 << order;
    Fft16 f(order);
    std::vector<int16_t> x(n), back(n);
    for (auto& v : x) v = int16_t(rng());
    if (order == 5) std::fill(x.begin(), x.end(), 32767);  // full scale: DC = 32767 N
    const auto ref = dft(std::vector<double>(x.begin(), x.end()));
    for (int s : {0, 4, -20}) {
      if (s < 0 && order != 5) continue;  // a shift left keeps only the float error
      std::vector<Vok32sc> plan(n / 2 + 1);
      ASSERT_EQ(vokOk, realFftFwd_16s32sc_Sfs(x.data(), plan.data(), f.plan, s, order & 1 ? nullptr : f.work.data()));
      for (int k = 0; k <= n / 2; ++k)
        for (int part = 0; part < 2; ++part) {
          const double want = std::ldexp(ref[2 * k + part], -s);
          const int32_t got = part ? plan[k].im : plan[k].re;
          if (want >= 2147483647.5 || want <= -2147483648.5)
            EXPECT_EQ(want > 0 ? INT32_MAX : INT32_MIN, got);
          else
            EXPECT_LE(std::fabs(got - std::nearbyint(want)), 1.0) << order << " " << k;
        }
      if (s != 0) continue;
      ASSERT_EQ(vokOk, realFftInv_32sc16s_Sfs(plan.data(), back.data(), f.plan, 0, nullptr));
      for (int i = 0; i < n; ++i) EXPECT_LE(std::abs(back[i] - x[i]), 1) << order << " " << i;
    }
  }
  // Inverse saturates: a DC bin of 2^20 at N = 64 gives 16384 * 2^-(-2) per sample.
  Fft16 f(6);
  std::vector<Vok32sc> dc(33, Vok32sc{0, 0});
  dc[0].re = 1 << 20;
  std::vector<int16_t> y(64);
  ASSERT_EQ(vokOk, realFftInv_32sc16s_Sfs(dc.data(), y.data(), f.plan, -2, nullptr));
  EXPECT_EQ(32767, y[17]);
  dc[0].re = -(1 << 20);
  ASSERT_EQ(vokOk, realFftInv_32sc16s_Sfs(dc.data(), y.data(), f.plan, 2, nullptr));
  EXPECT_EQ(-4096, y[5]);
}

TEST(RealFft, SetUpAndTransformChecks) {
  int a, b, c;
  // size query: order > 30 before pointers; pointers; flag; order 30
  EXPECT_EQ(vokErrFftOrder, realFftGetSize_32f(31, 2, 0, nullptr, &b, &c));
  EXPECT_EQ(vokErrNullPtr, realFftGetSize_32f(30, 3, 0, &a, nullptr, &c));
  for (int flag : {0, 3, 16}) {
    EXPECT_EQ(vokErrFftFlag, realFftGetSize_32f(30, flag, 0, &a, &b, &c));
    EXPECT_EQ(vokErrFftFlag, realFftGetSize_16s(5, flag, 0, &a, &b, &c));
  }
  EXPECT_EQ(vokErrFftOrder, realFftGetSize_32f(30, 2, 0, &a, &b, &c));
  std::vector<unsigned char> mem(4096);
  RealFftSpec_32f* s32 = nullptr;
  RealFftSpec_16s* s16 = nullptr;
  EXPECT_EQ(vokErrNullPtr, realFftInit_32f(nullptr, 30, 0, 0, mem.data(), nullptr));
  EXPECT_EQ(vokErrFftOrder, realFftInit_32f(&s32, 30, 2, 0, mem.data(), nullptr));
  EXPECT_EQ(vokErrFftOrder, realFftInit_16s(&s16, 31, 2, 0, mem.data(), nullptr));
  EXPECT_EQ(vokErrFftFlag, realFftInit_32f(&s32, 5, 3, 0, mem.data(), nullptr));
  EXPECT_EQ(nullptr, s32);
  EXPECT_EQ(vokErrNullPtr, realFftInit_32f(&s32, 11, 2, 0, mem.data(), nullptr));  // tables need the set-up buffer
  // a zeroed object, and each kind of object handed to the other's transform
  Fft32 f32(4, kScaleInv);
  Fft16 f16(4);
  float x[18] = {}, y[18];
  int16_t xs[16] = {};
  Vok32sc ys[9];
  vtest::Guard g;
  g.watch(y, 18).watch(ys, 9);
  std::vector<unsigned char> zero(256, 0);
  auto* zeroPlan = reinterpret_cast<const RealFftSpec_32f*>(zero.data());
  EXPECT_REJECTS(vokErrContextMatch, g, realFftFwd_32f(x, y, zeroPlan, nullptr));
  EXPECT_REJECTS(vokErrContextMatch, g, realFftInv_32f(x, y, reinterpret_cast<const RealFftSpec_32f*>(f16.plan), nullptr));
  EXPECT_REJECTS(vokErrContextMatch, g,
                 realFftFwd_16s32sc_Sfs(xs, ys, reinterpret_cast<const RealFftSpec_16s*>(f32.plan), 0, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, realFftFwd_32f(x, y, nullptr, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, realFftFwd_32f(nullptr, y, f32.plan, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, realFftInv_32sc16s_Sfs(ys, nullptr, f16.plan, 0, nullptr));
}

TEST(RealFft, ReciprocalWithThreshold) {
  const double x[4] = {0.5, -0.25, 4.0, 0.0};
  double y[4];
  EXPECT_EQ(vokOk, invThresh_64f(x, y, 4, 1.0));
  EXPECT_EQ((std::vector<double>{1.0, -1.0, 0.25, 1.0}), std::vector<double>(y, y + 4));
  EXPECT_EQ(4, invThresh_64f(x, y, 4, 0.0));
  EXPECT_EQ(2.0, y[0]);
  EXPECT_TRUE(std::isinf(y[3]));
  EXPECT_EQ(vokErrNullPtr, invThresh_64f(nullptr, y, 0, -1.0));
  EXPECT_EQ(vokErrSize, invThresh_64f(x, y, 0, -1.0));
  EXPECT_EQ(vokErrThreshold, invThresh_64f(x, y, 4, -1.0));
}

}  // namespace
