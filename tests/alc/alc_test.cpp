// Level controller: a plain model of the block formulas (exact, same float
// order), output levels of steady noise bursts against the target, the gain
// ceiling and the peak limiter, and the argument checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <random>
#include <vector>

#include "check.h"
#include "voksc.h"

namespace {

// The controller written straight from its numbered steps.
struct Model {
  float Lt = 1623.4912f, Lmax = 32767.0f, Nmin = 4.125246f, Nmax = 65.38f, Gmax = 3.8018899f;
  float lam1 = 0.02f, lam0 = 0.0033333f, H = 200.0f, rho = 0.01f;
  int h = 200, b = 0, c = 0, a = 0;
  float e = 0, p = 0, Lp = 0, N = 65.38f, T = 65.38f, F = 32767.0f, S = 0, lam = 0.1f, Ls = 0, kap = 0.7f;
  float G = 0.03125f, g = 0, sigma = 1.0f, sS = 0, sG = 0.03125f, sLam = 0.1f;

  void block(const int16_t* x, int16_t* y) {
    float m = 0, P = 0, pk = 0;
    for (int k = 0; k < 8; ++k) m += 0.125f * std::fabs(float(x[k]));
    e = 0.8f * m + 0.2f * e;
    p = std::max(e, 0.99f * p);
    float al = 0.99f, be = 0.01f;
    if (N > e) {
      al = 0.9f, be = 0.1f;
    } else if (e >= 2.0f * N) {
      al = 1.0f, be = 0.0f;
    }
    float q = (b == 0 || (b == 1 && (c < 501 || lam >= 0.0025f))) ? 0.0f : 1456.7665f * Ls;
    N = std::min(Nmax, std::max(q, std::max(Nmin, al * N + be * e)));
    T = 4.0f * N;
    F = F > e ? std::max(N, 0.7f * F + 0.3f * e) : std::max(N, 0.99f * F + 0.01f * e);
    if (m > T) c = std::min(c + 1, 16383);
    bool speech = false;
    if (p > T) {
      h = 0;
      if (a == 0) b = std::min(b + 1, 16383), sS = S, sG = G, sLam = lam, a = 1, kap = 0.7f;
      speech = true;
    } else if (a == 1) {
      h = std::min(h + 1, 16383);
      if (float(h) == H) {
        a = 0;
        if (c < 50) S = sS, G = sG, lam = sLam, b -= 1;
        c = 0;
      } else {
        speech = true;
      }
    } else {
      c = 0;
    }
    float r = rho;
    if (b == 1 && !(c >= 10 && (c >= 500 || e >= 3.0f * F))) r = 0;
    if (speech) {
      if (p > Lp) Lp = p;
      else if (p > T) Lp = 0.001f * p + 0.999f * Lp;
    } else {
      Lp = b >= 1 ? Ls : p;
    }
    for (int k = 0; k < 8; ++k) P += 0.125f * float(x[k]) * float(x[k]);
    float lamP = 0.1f, kapP = kap;
    if (!speech) {
      lamP = b >= 1 ? std::max(lam1, lam) : 0.1f;
    } else {
      lamP = (b == 1 && c < 500 && 0.1f * P > S) ? std::max(0.05f, lam) : lam;
      if (T > e) {
        if (c < 500) kap = kapP = 0.7f;
      } else if (m >= T || c >= 20) {
        S = S + (P - S) * (lamP - lamP * lamP);
        lamP = lamP - lamP * lamP;
      }
    }
    lam = std::max(lam0, lamP);
    Ls = kapP * std::sqrt(S);
    if (c < 500) kap = std::min(0.89f, kapP * 1.000461f);
    if (speech) {
      float cap = Lt / Ls, target = cap;
      if (Lt > Gmax * Ls) cap = Gmax, target = Lt > Gmax * Lp ? Gmax : Lt / Lp;
      G = std::min(cap, G + r * target);
    }
    g = std::min(G, g + (G - g) * sigma);
    for (int k = 0; k < 8; ++k) pk = std::max(pk, std::fabs(float(x[k])));
    if (g * pk > Lmax) {
      g = Lmax / pk, sigma = 0.001f;
    } else {
      sigma = std::min(1.0f, 1.1f * sigma);
    }
    for (int k = 0; k < 8; ++k) y[k] = int16_t(std::clamp(std::trunc(float(x[k]) * g), -32768.0f, 32767.0f));
  }
};

struct Alc {
  std::vector<unsigned char> mem;
  ALCState_G169* s;
  Alc() {
    int n = 0;
    EXPECT_EQ(voksALCGetStateSize_G169_16s(&n), vokOk);
    EXPECT_EQ(n, 124);
    mem.assign(n + 3, 0);
    s = reinterpret_cast<ALCState_G169*>(mem.data() + 3);  // no alignment rule
    EXPECT_EQ(voksALCInit_G169_16s(s), vokOk);
  }
  std::vector<int16_t> run(const std::vector<int16_t>& x) {
    std::vector<int16_t> y(x.size());
    EXPECT_EQ(voksALC_G169_16s(x.data(), y.data(), int(x.size()), s), vokOk);
    return y;
  }
};

// Noise bursts (rms `dbov` below 32768) of `on` samples separated by `off`
// samples of quiet noise 60 dB lower.
std::vector<int16_t> bursts(double dbov, int total, int on, int off, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> n(0.0, 1.0);
  const double rms = 32768.0 * std::pow(10.0, dbov / 20.0);
  std::vector<int16_t> x(total);
  for (int i = 0; i < total; ++i) {
    const double level = (i % (on + off)) < on ? rms : rms * 1e-3;
    x[i] = int16_t(std::clamp(std::lround(n(rng) * level), -32768L, 32767L));
  }
  return x;
}

double rmsOf(const std::vector<int16_t>& v, int from, int to) {
  double s = 0;
  for (int i = from; i < to; ++i) s += double(v[i]) * v[i];
  return std::sqrt(s / (to - from));
}

TEST(Alc, FollowsThePlainModelExactly) {
  // Short and long bursts, quiet gaps long enough to end a burst, a loud
  // passage that engages the limiter, and uneven call lengths.
  std::vector<int16_t> x;
  for (auto [db, on, off] : {std::tuple{-30.0, 300, 8000}, {-24.0, 6000, 8400}, {-40.0, 9000, 1700},
                             {-3.0, 3000, 8000}, {-18.0, 12000, 3000}})
    for (int16_t v : bursts(db, on + off, on, off, unsigned(on))) x.push_back(v);
  x.resize(x.size() / 8 * 8);
  Alc alc;
  ASSERT_EQ(voksALCSetGain_G169_16s(14.0f, alc.s), vokOk);  // the limiter acts on the loud passage
  // Target 20 dB and limit 6 dB below full scale (32768), as levels.
  ASSERT_EQ(voksALCSetLevel_G169_16s(20.0f, 6.0f, alc.s), vokOk);
  Model m;
  m.Gmax = float(std::pow(10.0, 14.0 / 20.0));
  m.Lt = 3276.8f;
  m.Lmax = float(32768.0 / std::pow(10.0, 0.3));
  std::vector<int16_t> y(x.size()), want(x.size());
  for (std::size_t i = 0, step = 8; i < x.size(); i += step, step = step % 96 + 8) {
    step = std::min(step, x.size() - i);
    ASSERT_EQ(voksALC_G169_16s(&x[i], &y[i], int(step), alc.s), vokOk);
  }
  for (std::size_t i = 0; i < x.size(); i += 8) m.block(&x[i], &want[i]);
  EXPECT_EQ(y, want);
  EXPECT_GT(m.b, 2);
}

TEST(Alc, BringsSpeechLevelsToTheTarget) {
  // The controller's level measure is 0.89 x rms once the burst is long.
  const double target = 20 * std::log10(1623.4912 / 0.89 / 32768.0);
  for (double db : {-20.0, -26.0, -36.0}) {
    Alc alc;
    const auto x = bursts(db, 40000, 12000, 4000, 7);
    const auto y = alc.run(x);
    const double out = 20 * std::log10(rmsOf(y, 34000, 40000) / 32768.0);
    EXPECT_NEAR(out, target, 2.0) << db << " dBov in";
    std::printf("%.0f dBov in: %.2f dBov out (target %.2f)\n", db, out, target);
  }
}

TEST(Alc, GainStaysBelowItsMaximumAndPeaksBelowTheLimit) {
  for (float maxDb : {11.6f, 6.0f, 0.0f}) {
    Alc alc;
    if (maxDb != 11.6f) {
      ASSERT_EQ(voksALCSetGain_G169_16s(maxDb, alc.s), vokOk);
    }
    const auto x = bursts(-50.0, 32000, 16000, 800, 3);
    const auto y = alc.run(x);
    const double gmax = std::pow(10.0, maxDb / 20.0);
    double worst = 0;
    for (std::size_t i = 0; i < x.size(); ++i)
      if (x[i] != 0) worst = std::max(worst, double(y[i]) / x[i]);
    EXPECT_LE(worst, gmax * 1.0000001) << maxDb;
    EXPECT_GT(worst, gmax * 0.95) << maxDb;  // and it reaches it
  }
  Alc alc;
  ASSERT_EQ(voksALCSetLevel_G169_16s(10.0f, 6.0f, alc.s), vokOk);
  ASSERT_EQ(voksALCSetGain_G169_16s(20.0f, alc.s), vokOk);
  auto x = bursts(-22.0, 24000, 24000, 0, 5);
  for (int i = 20000; i < 20008; ++i) x[i] = i & 1 ? 32767 : -32768;
  const auto y = alc.run(x);
  const int16_t peak = *std::max_element(y.begin(), y.end(), [](int16_t a, int16_t b) { return std::abs(a) < std::abs(b); });
  EXPECT_LE(std::abs(peak), int(32768 / std::pow(10.0, 6.0 / 20.0)));
}

TEST(Alc, RejectsBadArgumentsWithoutWriting) {
  Alc alc;
  int16_t x[16] = {1000}, y[16];
  int size;
  vtest::Guard g;
  g.watch(y, 16).watch(alc.mem.data(), alc.mem.size()).watch(&size);
  EXPECT_EACH_NULL(g, voksALC_G169_16s, (const int16_t*)x, y, 12, alc.s);
  for (int len : {0, -8, 12, 4}) EXPECT_REJECTS(vokErrRange, g, voksALC_G169_16s(x, y, len, alc.s));
  EXPECT_REJECTS(vokErrNullPtr, g, voksALCGetStateSize_G169_16s(nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksALCInit_G169_16s(nullptr));
  EXPECT_NULLS_THEN(vokErrRange, g, voksALCSetLevel_G169_16s, -0.5f, 3.0f, alc.s);
  EXPECT_REJECTS(vokErrRange, g, voksALCSetLevel_G169_16s(3.0f, -0.5f, alc.s));
  EXPECT_NULLS_THEN(vokErrRange, g, voksALCSetGain_G169_16s, -0.1f, alc.s);
}

}  // namespace
