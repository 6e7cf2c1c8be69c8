// Subband filter bank against plain double-precision models of its
// per-frame formulas, its properties (zero in zero out, a tone at a subband
// centre, delay L - R, reconstruction, aliasing) and its argument checks.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "check.h"
#include "voksc.h"

namespace {

using cd = std::complex<double>;

struct Bank {
  int order, frame, window;
};

std::vector<cd> dft(const std::vector<double>& t) {
  const int n = static_cast<int>(t.size());
  std::vector<cd> X(n / 2 + 1);
  for (int k = 0; k <= n / 2; ++k)
    for (int j = 0; j < n; ++j) X[k] += t[j] * std::polar(1.0, -2 * M_PI * double(k) * j / n);
  return X;
}
std::vector<double> idft(const std::vector<cd>& X, int n) {  // times 1/n, imaginary parts of 0 and n/2 ignored
  std::vector<double> t(n);
  for (int j = 0; j < n; ++j) {
    double s = X[0].real() + X[n / 2].real() * (j % 2 ? -1 : 1);
    for (int k = 1; k < n / 2; ++k) s += 2 * (X[k] * std::polar(1.0, 2 * M_PI * double(k) * j / n)).real();
    t[j] = s / n;
  }
  return t;
}

template <class State, class Sample>
struct Processor {
  std::vector<unsigned char> mem, work;
  State* st() { return reinterpret_cast<State*>(mem.data() + 3); }  // any alignment
  Processor(const Bank& b, const Sample* window) {
    int s, u, w;
    if constexpr (std::is_same_v<Sample, float>) {
      EXPECT_EQ(vokOk, voksSubbandProcessGetSize_32f(b.order, b.window, &s, &u, &w));
      mem.resize(s + 3);
      EXPECT_EQ(vokOk, voksSubbandProcessInit_32f(st(), b.order, b.frame, b.window, window, nullptr));
    } else {
      EXPECT_EQ(vokOk, voksSubbandProcessGetSize_16s(b.order, b.window, &s, &u, &w));
      mem.resize(s + 3);
      EXPECT_EQ(vokOk, voksSubbandProcessInit_16s(st(), b.order, b.frame, b.window, window, nullptr));
    }
    work.resize(w);
  }
};
using Float = Processor<SubbandProcessState_32f, float>;
using Fixed = Processor<SubbandProcessState_16s, int16_t>;

// Analysis and synthesis of random frames against the models, float and fixed.
TEST(SubbandBank, FramesMatchTheirModels) {
  std::mt19937 rng(5);
  for (const Bank& b : {Bank{5, 24, 128}, Bank{3, 5, 16}, Bank{1, 2, 2}, Bank{6, 44, 256}}) {
    SCOPED_TRACE(::testing::Message() << "order " << b.order << " L " << b.window);
    const int n = 1 << b.order, L = b.window, R = b.frame;
    std::vector<float> wf(L);
    std::vector<int16_t> wq(L);
    for (int k = 0; k < L; ++k) {
      wq[k] = static_cast<int16_t>(rng() % 20000) - 4000;  // up to 2 in Q13: the fold saturates on loud input
      wf[k] = wq[k] / 8192.0f;
    }
    Float fa(b, wf.data()), fs(b, wf.data());
    Fixed qa(b, wq.data()), qs(b, wq.data());
    std::vector<double> hist(L, 0.0), acc(L, 0.0);
    std::vector<int32_t> qhist(L, 0), qacc(L, 0);
    auto sat16 = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, -32768, 32767)); };
    for (int frame = 0; frame < 12; ++frame) {
      const int scale = frame % 3;  // fixed-point scale factor
      std::vector<float> x(R);
      std::vector<int16_t> xq(R);
      for (int i = 0; i < R; ++i) {
        xq[i] = static_cast<int16_t>(frame > 8 ? (i % 2 ? 32767 : -32768) : int(rng() % 65536) - 32768);
        x[i] = xq[i];
      }
      // model: history shift, fold, DFT
      hist.erase(hist.begin(), hist.begin() + R);
      qhist.erase(qhist.begin(), qhist.begin() + R);
      for (int i = 0; i < R; ++i) {
        hist.push_back(x[i]);
        qhist.push_back(xq[i]);
      }
      std::vector<double> t(n, 0.0), tq(n, 0.0);
      for (int k = 0; k < n; ++k) {
        int32_t q = 0;
        for (int blk = 0; blk < L; blk += n) {
          t[k] += hist[blk + k] * wf[blk + k];
          const int32_t p = sat16((int64_t{qhist[blk + k]} * wq[blk + k] + 4096) >> 13);
          q = blk == 0 ? p : sat16(int64_t{q} + p);
        }
        tq[k] = q;
      }
      const auto X = dft(t), Xq = dft(tq);
      std::vector<Vok32fc> yf(n / 2 + 1);
      std::vector<Vok32sc> yq(n / 2 + 1);
      ASSERT_EQ(vokOk, voksSubbandAnalysis_32f32fc(x.data(), yf.data(), fa.st(), fa.work.data()));
      ASSERT_EQ(vokOk, voksSubbandAnalysis_16s32sc_Sfs(xq.data(), yq.data(), qa.st(), scale, qa.work.data()));
      double peak = 1;
      for (auto& v : X) peak = std::max(peak, std::abs(v));
      for (int k = 0; k <= n / 2; ++k) {
        EXPECT_NEAR(yf[k].re, X[k].real(), 1e-5 * peak);
        EXPECT_NEAR(yf[k].im, X[k].imag(), 1e-5 * peak);
        const cd want = Xq[k] * std::ldexp(1.0, -scale);  // one unit apart where the float FFT lands across a half
        EXPECT_LE(std::fabs(yq[k].re - std::nearbyint(want.real())), 1) << k;
        EXPECT_LE(std::fabs(yq[k].im - std::nearbyint(want.imag())), 1) << k;
      }
      // synthesis of the analysed frame: inverse DFT, shift, weighted overlap-add
      std::vector<float> of(R);
      std::vector<int16_t> oq(R);
      ASSERT_EQ(vokOk, voksSubbandSynthesis_32fc32f(yf.data(), of.data(), fs.st(), fs.work.data()));
      ASSERT_EQ(vokOk, voksSubbandSynthesis_32sc16s_Sfs(yq.data(), oq.data(), qs.st(), -scale, qs.work.data()));
      std::vector<cd> Yf(n / 2 + 1), Yq(n / 2 + 1);
      for (int k = 0; k <= n / 2; ++k) {
        Yf[k] = {yf[k].re, yf[k].im};
        Yq[k] = cd(yq[k].re, yq[k].im) * std::ldexp(1.0, scale);
      }
      const auto tf = idft(Yf, n), tqs = idft(Yq, n);
      acc.erase(acc.begin(), acc.begin() + R);
      acc.insert(acc.end(), R, 0.0);
      qacc.erase(qacc.begin(), qacc.begin() + R);
      qacc.insert(qacc.end(), R, 0);
      for (int k = 0; k < L; ++k) {
        acc[k] += tf[k % n] * wf[L - 1 - k];
        const int64_t tk = sat16(std::llrint(tqs[k % n]));
        qacc[k] = sat16(qacc[k] + sat16((tk * wq[L - 1 - k] + 4096) >> 13));
      }
      for (int i = 0; i < R; ++i) {
        EXPECT_NEAR(of[i], acc[i], 1e-5 * peak);
        EXPECT_LE(std::abs(oq[i] - qacc[i]), L / n) << i;  // one unit per block where t rounds across a half
      }
    }
  }
}

// Built-in banks: zeros stay zero, a tone at a subband centre lands there,
// analysis then synthesis is a delay of L - R with the stated
// reconstruction, and a tone's output off its frequency stays low.
TEST(SubbandBank, BuiltInBanksReconstructADelayedInput) {
  for (const auto& bankAndSnr : {std::pair{Bank{5, 24, 128}, 14.0}, std::pair{Bank{6, 44, 256}, 22.0}}) {
    const Bank b = bankAndSnr.first;  // (no structured bindings: lambdas below capture b)
    const double minSnr = bankAndSnr.second;
    const int n = 1 << b.order, R = b.frame, delay = b.window - b.frame;
    Fixed qa(b, nullptr);
    std::vector<Vok32fc> y(n / 2 + 1);
    std::vector<Vok32sc> yq(n / 2 + 1);
    std::vector<int16_t> zq(R, 0);
    for (int f = 0; f < 8; ++f) {
      ASSERT_EQ(vokOk, voksSubbandAnalysis_16s32sc_Sfs(zq.data(), yq.data(), qa.st(), 0, qa.work.data()));
      for (auto& v : yq) EXPECT_TRUE(v.re == 0 && v.im == 0);
    }
    const int frames = 400, total = frames * R;
    auto run = [&](auto signal, std::vector<Vok32fc>* lastSpectrum) {
      Float a(b, nullptr), s(b, nullptr);
      std::vector<double> in(total), out;
      std::vector<float> x(R), o(R);
      for (int i = 0; i < total; ++i) in[i] = signal(i);
      for (int f = 0; f < frames; ++f) {
        for (int i = 0; i < R; ++i) x[i] = static_cast<float>(in[f * R + i]);
        EXPECT_EQ(vokOk, voksSubbandAnalysis_32f32fc(x.data(), lastSpectrum->data(), a.st(), a.work.data()));
        EXPECT_EQ(vokOk, voksSubbandSynthesis_32fc32f(lastSpectrum->data(), o.data(), s.st(), s.work.data()));
        out.insert(out.end(), o.begin(), o.end());
      }
      return std::pair{in, out};
    };
    // a tone at the centre of subband 3
    run([&](int i) { return 1000 * std::cos(2 * M_PI * 3 * i / n); }, &y);
    int best = 0;
    for (int k = 0; k <= n / 2; ++k)
      if (std::norm(cd(y[k].re, y[k].im)) > std::norm(cd(y[best].re, y[best].im))) best = k;
    EXPECT_EQ(3, best);
    // white noise: the best delay is L - R and the error against that delay is low
    std::mt19937 rng(9);
    std::normal_distribution<double> g(0, 1000);
    const auto noise = run([&](int) { return g(rng); }, &y);
    const std::vector<double>&in = noise.first, &out = noise.second;
    auto snr = [&](int d) {
      double s = 0, e = 0;
      for (int i = 2 * b.window; i < total; ++i) {
        s += in[i - d] * in[i - d];
        e += (out[i] - in[i - d]) * (out[i] - in[i - d]);
      }
      return 10 * std::log10(s / e);
    };
    for (int d = delay - 3; d <= delay + 3; ++d) {
      if (d != delay) {
        EXPECT_LT(snr(d), snr(delay));
      }
    }
    EXPECT_GE(snr(delay), minSnr);
    // a tone between centres: what is left after fitting the tone at its frequency
    const double f0 = 0.1234;
    const std::vector<double> tout = run([&](int i) { return 1000 * std::sin(2 * M_PI * f0 * i); }, &y).second;
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0, yy = 0;
    for (int i = 2 * b.window; i < total; ++i) {
      const double c = std::cos(2 * M_PI * f0 * i), s = std::sin(2 * M_PI * f0 * i);
      cc += c * c, ss += s * s, cs += c * s, yc += tout[i] * c, ys += tout[i] * s, yy += tout[i] * tout[i];
    }
    const double det = cc * ss - cs * cs, a = (yc * ss - ys * cs) / det, bb = (ys * cc - yc * cs) / det;
    const double fitted = a * yc + bb * ys;
    printf("order %d: reconstruction %.1f dB at delay %d, off-tone output %.1f dB\n", b.order, snr(delay), delay,
           10 * std::log10((yy - fitted) / fitted));
    EXPECT_LE(10 * std::log10((yy - fitted) / fitted), -30.0);
  }
}

TEST(SubbandBank, ArgumentChecks) {
  int s, u, w;
  std::vector<unsigned char> mem(1 << 16);
  auto* st = reinterpret_cast<SubbandProcessState_32f*>(mem.data());
  auto* st16 = reinterpret_cast<SubbandProcessState_16s*>(mem.data());
  EXPECT_EQ(vokErrBadArg, voksSubbandProcessGetSize_32f(0, 128, nullptr, &u, &w));  // counts before pointers
  EXPECT_EQ(vokErrNullPtr, voksSubbandProcessGetSize_16s(5, 100, &s, nullptr, &w));
  EXPECT_EQ(vokErrBadArg, voksSubbandProcessGetSize_16s(5, 100, &s, &u, &w));  // not a multiple of 32
  const struct {
    int order, frame, window;
    bool hasWindow;
    VokResult want;
  } cases[] = {{5, 32, 32, true, vokOk},         {5, 33, 32, true, vokErrBadArg}, {5, 24, 128, false, vokOk},
               {6, 44, 256, false, vokOk},       {5, 24, 256, false, vokErrBadArg}, {0, 1, 1, true, vokErrBadArg},
               {5, 0, 128, true, vokErrBadArg},  {5, 24, 96, true, vokOk},        {11, 24, 2048, true, vokErrInternal}};
  std::vector<float> window(4096, 0.5f);
  std::vector<int16_t> window16(4096, 4096);
  for (const auto& c : cases) {
    EXPECT_EQ(c.want, voksSubbandProcessInit_32f(st, c.order, c.frame, c.window, c.hasWindow ? window.data() : nullptr, nullptr))
        << c.order << " " << c.frame << " " << c.window;
    EXPECT_EQ(c.want, voksSubbandProcessInit_16s(st16, c.order, c.frame, c.window, c.hasWindow ? window16.data() : nullptr, nullptr));
  }
  EXPECT_EQ(vokErrNullPtr, voksSubbandProcessInit_16s(nullptr, 5, 24, 100, nullptr, nullptr));
  EXPECT_EQ(vokErrBadArg, voksSubbandProcessInit_16s(nullptr, 5, 0, 128, nullptr, nullptr));
  // built-in 16-bit window: the float values in Q13, truncated (107, 58, 3, -56 ... 7627)
  ASSERT_EQ(vokOk, voksSubbandProcessInit_16s(st16, 5, 24, 128, nullptr, nullptr));
  ASSERT_EQ(vokOk, voksSubbandProcessGetSize_16s(5, 128, &s, &u, &w));
  Fixed q(Bank{5, 24, 128}, nullptr);
  std::vector<int16_t> impulse(24, 0);
  impulse[23] = 8192;  // after one frame the history's last sample sits at k = L - 1
  std::vector<Vok32sc> y(17);
  ASSERT_EQ(vokOk, voksSubbandAnalysis_16s32sc_Sfs(impulse.data(), y.data(), q.st(), 0, q.work.data()));
  EXPECT_EQ(107, y[0].re);  // t[31] = 8192 w[127] / 8192 = w[0]
  vtest::Guard g;
  g.watch(y.data(), 17);
  EXPECT_EACH_NULL(g, voksSubbandAnalysis_16s32sc_Sfs, impulse.data(), y.data(), q.st(), 0, q.work.data());
  EXPECT_EACH_NULL(g, voksSubbandAnalysis_32f32fc, window.data(), reinterpret_cast<Vok32fc*>(y.data()), st, q.work.data());
}

}  // namespace
