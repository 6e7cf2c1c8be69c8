// Subband FIR and coefficient updates against plain models of their
// per-subband formulas (float in double precision, fixed point in 128-bit
// integers), and their argument checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "check.h"
#include "frames.h"
#include "voksc.h"

namespace {

// segs frames of len random values.
template <class T>
Frames<T> frames(int segs, int len, std::mt19937& rng, int bits) {
  Frames<T> f(segs, len);
  for (auto& frame : f.v)
    for (auto& c : frame) {
      const int shift = 32 - bits + static_cast<int>(rng() % 4);
      if constexpr (std::is_same_v<T, Vok32sc>)
        c = {static_cast<int32_t>(rng()) >> std::min(shift, 31), static_cast<int32_t>(rng()) >> std::min(shift, 31)};
      else
        c = {float(int32_t(rng()) >> 16) / 512, float(int32_t(rng()) >> 16) / 512};
    }
  return f;
}

#if defined(__SIZEOF_INT128__)  // the model needs 128-bit products (not on 32-bit targets)
using i128 = __int128;
int32_t sat32(i128 v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v); }
// floor((p + r) / 2^k), r = 2^(k-1) from k = 2; p 2^-k saturated to 64 bits for k < 0.
i128 increment(i128 p, int k) {
  if (k < 0) {
    const i128 v = p * (i128{1} << std::min(-k, 70));
    return v > INT64_MAX ? INT64_MAX : v < INT64_MIN ? INT64_MIN : v;
  }
  if (k >= 100) return 0;
  const i128 r = k >= 2 ? i128{1} << (k - 1) : 0;
  return (p + r) >> k;
}

TEST(SubbandFilter, FixedPointFormsMatchTheModel) {
  std::mt19937 rng(1);
  for (int trial = 0; trial < 60; ++trial) {
    const int segs = 1 + trial % 5, len = 1 + int(rng() % 20), sf = int(rng() % 32), b = int(rng() % (len + 1));
    const int bits = 12 + trial % 21;  // up to full 32-bit values: saturation reached
    auto hist = frames<Vok32sc>(segs, len, rng, bits), coef = frames<Vok32sc>(segs, len, rng, bits), coefLow = coef;
    auto err = frames<Vok32sc>(1, len, rng, bits);
    std::vector<Vok32sc> y(len), yLow(len, Vok32sc{7, 7}), scaled(len, Vok32sc{7, 7});
    std::vector<Vok32s> steps(2 * len);
    for (int i = 0; i < len; ++i) {
      steps[2 * i] = (1 << 30) + int(rng() % (1u << 30));
      steps[2 * i + 1] = int(rng() % 130) - 10;
    }
    const int fsf = int(rng() % 63) - 31;
    ASSERT_EQ(vokOk, voksFIRSubband_EC_32sc_Sfs(hist.p.data(), coef.p.data(), y.data(), segs, len, fsf));
    ASSERT_EQ(vokOk, voksFIRSubbandLow_EC_32sc_Sfs(hist.p.data(), coef.p.data(), segs, yLow.data(), b, len, sf));
    auto before = coef.v;
    ASSERT_EQ(vokOk, voksFIRSubbandCoeffUpdate_EC_32sc_I(steps.data(), hist.p.data(), err.v[0].data(), coef.p.data(), segs, len, sf));
    ASSERT_EQ(vokOk, voksFIRSubbandLowCoeffUpdate_EC_32sc_I(hist.p.data(), err.v[0].data(), coefLow.p.data(), segs, scaled.data(),
                                                            steps.data(), b, len, sf));
    for (int i = 0; i < len; ++i) {
      double sr = 0, si = 0;  // the sum in double, partial sums within +-2^63
      for (int s = 0; s < segs; ++s) {
        const double hr = hist.v[s][i].re, hi = hist.v[s][i].im, cr = before[s][i].re, ci = before[s][i].im;
        sr = std::clamp(sr + (hr * cr - hi * ci), -0x1p63, 0x1p63);
        si = std::clamp(si + (hr * ci + hi * cr), -0x1p63, 0x1p63);
      }
      auto out = [](double v, int f) { return int32_t(std::nearbyint(std::clamp(std::ldexp(v, -f), -2147483648.0, 2147483647.0))); };
      EXPECT_EQ(out(sr, fsf), y[i].re);
      EXPECT_EQ(out(si, fsf), y[i].im);
      EXPECT_EQ(i < b ? 7 : out(sr, sf), yLow[i].re);
      // NLMS: u = (m e + 2^30) >> 31, increment of u conj(X) by x - sf - 31
      const i128 m = steps[2 * i];
      const int k = steps[2 * i + 1] - sf - 31;
      const i128 ur = (m * err.v[0][i].re + (i128{1} << 30)) >> 31, ui = (m * err.v[0][i].im + (i128{1} << 30)) >> 31;
      const double dur = std::trunc((double(m) * err.v[0][i].re + 0x1p30) * 0x1p-31);
      const double dui = std::trunc((double(m) * err.v[0][i].im + 0x1p30) * 0x1p-31);
      if (i >= b) {
        EXPECT_EQ(int32_t(dur), scaled[i].re);
        EXPECT_EQ(int32_t(dui), scaled[i].im);
      }
      for (int s = 0; s < segs; ++s) {
        const i128 xr = hist.v[s][i].re, nxi = hist.v[s][i].im == INT32_MIN ? INT32_MAX : -i128{hist.v[s][i].im};
        EXPECT_EQ(sat32(before[s][i].re + increment(ur * xr - ui * nxi, k)), coef.v[s][i].re) << trial;
        EXPECT_EQ(sat32(before[s][i].im + increment(ur * nxi + ui * xr, k)), coef.v[s][i].im) << trial;
        const i128 lr = i128(dur) * xr - i128(dui) * nxi, li = i128(dur) * nxi + i128(dui) * xr;
        auto low = [&](int32_t c, i128 p) { return i < b ? c : sat32(i128(std::nearbyint(double(c) + double(increment(p, k))))); };
        EXPECT_EQ(low(before[s][i].re, lr), coefLow.v[s][i].re) << trial;
        EXPECT_EQ(low(before[s][i].im, li), coefLow.v[s][i].im) << trial;
      }
    }
  }
}

#endif

TEST(SubbandFilter, FloatFormsMatchTheModel) {
  std::mt19937 rng(2);
  for (int trial = 0; trial < 20; ++trial) {
    const int segs = 1 + trial % 6, len = 1 + int(rng() % 40), order = 1 + trial % 3;
    auto hist = frames<Vok32fc>(segs + order - 1, len, rng, 0), coef = frames<Vok32fc>(segs, len, rng, 0);
    auto err = frames<Vok32fc>(order, len, rng, 0), ap = coef;
    std::vector<Vok32fc> y(len);
    std::vector<std::vector<double>> mu(order, std::vector<double>(len));
    std::vector<double*> muP;
    for (auto& m : mu) {
      for (auto& v : m) v = (rng() % 1000) / 1e4;
      muP.push_back(m.data());
    }
    auto before = coef.v;
    ASSERT_EQ(vokOk, voksFIRSubband_EC_32fc(hist.p.data(), coef.p.data(), y.data(), segs, len));
    ASSERT_EQ(vokOk, voksFIRSubbandCoeffUpdate_EC_32fc_I(mu[0].data(), hist.p.data(), err.v[0].data(), coef.p.data(), segs, len));
    ASSERT_EQ(vokOk, voksFIRSubbandAPCoeffUpdate_EC_32fc_I(muP.data(), hist.p.data(), err.p.data(), ap.p.data(), segs, len, order));
    using cd = std::complex<double>;
    auto c = [](const Vok32fc& v) { return cd(v.re, v.im); };
    for (int i = 0; i < len; ++i) {
      cd sum = 0;
      double scale = 1;
      for (int s = 0; s < segs; ++s) {
        sum += c(hist.v[s][i]) * c(before[s][i]);
        scale += std::abs(c(hist.v[s][i]) * c(before[s][i]));
      }
      EXPECT_NEAR(y[i].re, sum.real(), 1e-5 * scale);
      EXPECT_NEAR(y[i].im, sum.imag(), 1e-5 * scale);
      for (int s = 0; s < segs; ++s) {
        const cd nlms = c(before[s][i]) + mu[0][i] * c(err.v[0][i]) * std::conj(c(hist.v[s][i]));
        cd acc = 0;
        for (int j = 0; j < order; ++j) acc += mu[j][i] * c(err.v[j][i]) * std::conj(c(hist.v[s + j][i]));
        const cd apw = c(before[s][i]) + acc / double(order);
        EXPECT_NEAR(coef.v[s][i].re, nlms.real(), 1e-5 * (1 + std::abs(nlms)));
        EXPECT_NEAR(coef.v[s][i].im, nlms.imag(), 1e-5 * (1 + std::abs(nlms)));
        EXPECT_NEAR(ap.v[s][i].re, apw.real(), 1e-5 * (1 + std::abs(apw)));
        EXPECT_NEAR(ap.v[s][i].im, apw.imag(), 1e-5 * (1 + std::abs(apw)));
      }
    }
  }
}

TEST(SubbandFilter, ArgumentChecks) {
  std::mt19937 rng(3);
  Frames<Vok32fc> h(256, 4098), c(256, 4098);
  auto hs = frames<Vok32sc>(2, 16, rng, 16), cs = frames<Vok32sc>(2, 16, rng, 16);
  std::vector<Vok32fc> y(4098);
  std::vector<Vok32sc> ys(4098);
  std::vector<double> mu(4098, 0.01);
  std::vector<Vok32s> st(2 * 4098, 1 << 30);
  EXPECT_EQ(vokOk, voksFIRSubband_EC_32fc(h.p.data(), c.p.data(), y.data(), 255, 4097));
  EXPECT_EQ(vokErrRange, voksFIRSubband_EC_32fc(h.p.data(), c.p.data(), y.data(), 256, 4097));
  EXPECT_EQ(vokErrSubbandCount, voksFIRSubband_EC_32fc(h.p.data(), c.p.data(), y.data(), 256, 4098));
  EXPECT_EQ(vokErrRange, voksFIRSubband_EC_32sc_Sfs(hs.p.data(), cs.p.data(), ys.data(), 2, 4, 32));
  EXPECT_EQ(vokErrRange, voksFIRSubbandLow_EC_32sc_Sfs(hs.p.data(), cs.p.data(), 1, ys.data(), 5, 4, 0));
  EXPECT_EQ(vokErrSubbandCount, voksFIRSubbandLow_EC_32sc_Sfs(hs.p.data(), cs.p.data(), 1, ys.data(), 0, 0, -1));
  EXPECT_EQ(vokErrRange, voksFIRSubbandAPCoeffUpdate_EC_32fc_I(std::vector<double*>(1, mu.data()).data(), h.p.data(),
                                                               h.p.data(), c.p.data(), 4, 4, 0));
  // a negative step stops before any coefficient changes; a zero mantissa changes none
  vtest::Guard g;
  g.watch(c.v[0].data(), 8).watch(cs.v[0].data(), 8).watch(ys.data(), 8);
  mu[5] = -1e-9;
  st[10] = -1;
  EXPECT_REJECTS(vokErrSize, g, voksFIRSubbandCoeffUpdate_EC_32fc_I(mu.data(), h.p.data(), y.data(), c.p.data(), 1, 8));
  EXPECT_REJECTS(vokErrSize, g, voksFIRSubbandCoeffUpdate_EC_32sc_I(st.data(), hs.p.data(), ys.data(), cs.p.data(), 1, 8, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksFIRSubbandLowCoeffUpdate_EC_32sc_I(hs.p.data(), ys.data(), cs.p.data(), 0, ys.data(), nullptr, -1, 0, 40));
  std::vector<Vok32s> zero(16, 0);
  EXPECT_REJECTS(vokOk, g, voksFIRSubbandCoeffUpdate_EC_32sc_I(zero.data(), hs.p.data(), ys.data(), cs.p.data(), 1, 8, 0));
  EXPECT_EACH_NULL(g, voksFIRSubband_EC_32sc_Sfs, (const Vok32sc* const*)hs.p.data(), (const Vok32sc* const*)cs.p.data(), ys.data(), 0, 0, 99);
}

}  // namespace
