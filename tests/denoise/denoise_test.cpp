// Noise filters: the gain stages against plain models of their formulas,
// argument checks, and behaviour on speech (the G.729 SPEECH.IN vector)
// mixed with white noise.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "check.h"
#include "denoise/denoise_internal.h"
#include "vectors.h"
#include "voksc.h"

namespace {

using voksc::denoise::LevelParams;

// A, D, F of levels 1, 2, 3, 5 as the level table gives them.
struct Slope {
  int level;
  float A, D, F;
};
constexpr Slope kSlopes[] = {{1, 0.03125f, 0.25f, 0.4f}, {2, 0.03125f, 0.003f, 0.275f},
                             {3, 0.03125f, 0.003f, 0.275f}, {5, 0.03125f, 0.003f, 0.275f}};

LevelParams params(const Slope& s) {
  LevelParams p{};
  p.A = s.A;
  p.D = s.D;
  p.F = s.F;
  return p;
}

TEST(DenoiseGain, ExamplesOfLevelTwo) {
  // Gamma before the block and the block's ratio P R; the gain of bins 0..2 and 3..64.
  struct Case {
    double before, ratio;
    float low, high;
  } cases[] = {{16, 16, 0.5f, 0.5f}, {64, 64, 1, 1}, {100, 5000, 1, 1}, {1, 1, 0.03125f, 0.275f}, {1, 0.01, 0.03125f, 0.275f}};
  for (const auto& c : cases) {
    std::vector<double> P(65, c.ratio), R(65, 1.0), G(65, c.before);
    float g[65];
    const float least = voksc::denoise::ratioGains(P.data(), R.data(), G.data(), params(kSlopes[1]), g);
    for (int k = 0; k < 65; ++k) EXPECT_EQ(g[k], k < 3 ? c.low : c.high) << "Gamma " << c.before << " bin " << k;
    EXPECT_EQ(least, c.high);
  }
}

TEST(DenoiseGain, MatchesModelOnRandomRatios) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> logu(-4, 6);
  for (const Slope& s : kSlopes) {
    std::vector<double> P(65), R(65), G(65), model(65);
    for (int k = 0; k < 65; ++k) {
      P[k] = std::pow(10.0, logu(rng) + 3);
      R[k] = std::pow(10.0, -logu(rng) - 3);
      G[k] = model[k] = std::pow(10.0, logu(rng) / 2);
    }
    float g[65];
    const float least = voksc::denoise::ratioGains(P.data(), R.data(), G.data(), params(s), g);
    float smallest = 2;
    for (int k = 0; k < 65; ++k) {
      const double gamma = std::fmin(std::fmax(P[k] * R[k], 1.0), 32767.0);
      model[k] = (model[k] + gamma) / 2;
      const double floor = k < 3 ? s.D : s.F;
      const double want = std::fmin(std::fmax(s.A * model[k], floor), 1.0);
      EXPECT_NEAR(G[k], model[k], 1e-12 * model[k]);
      EXPECT_NEAR(g[k], want, 1e-5 * want) << "level " << s.level << " bin " << k;
      if (k >= 3 && k <= 63) smallest = std::fmin(smallest, g[k]);
    }
    EXPECT_EQ(least, smallest);
  }
}

TEST(DenoiseGain, RtaLaw) {
  struct Case {
    float r, gmin, want;
  } cases[] = {{1 + 30 * 0.25f, 0.3f, 0.5f}, {1 + 30 * 0.25f, 0.08f, 0.5f}, {40, 0.08f, 1},   {1, 0.08f, 0.08f},
               {2.5f, 0.3f, 0.3f},          {2.5f, 0.08f, std::sqrt(1.5f / 30)}, {0, 1, 1}, {1e6f, 1, 1}};
  for (const auto& c : cases)
    EXPECT_NEAR(voksc::denoise::rtaGain(c.r, c.gmin, 1.0f), c.want, 1e-6f) << "r " << c.r << " gmin " << c.gmin;
}

// ---- argument checks -------------------------------------------------------

struct EcMem {
  std::vector<unsigned char> bytes;
  FilterNoiseState_EC_32f* state;
  explicit EcMem(int fs = 8000) {
    int n = 0;
    voksFilterNoiseGetStateSize_EC_32f(fs, &n);
    bytes.assign(static_cast<std::size_t>(n) + 1, 0);
    state = reinterpret_cast<FilterNoiseState_EC_32f*>(bytes.data() + 1);  // any address
    voksFilterNoiseInit_EC_32f(fs, state);
  }
};
struct RtaMem {
  std::vector<unsigned char> bytes;
  FilterNoiseState_RTA_32f* state;
  explicit RtaMem(int fs = 8000) {
    int n = 0;
    voksFilterNoiseGetStateSize_RTA_32f(fs, &n);
    bytes.assign(static_cast<std::size_t>(n) + 3, 0);
    state = reinterpret_cast<FilterNoiseState_RTA_32f*>(bytes.data() + 3);
    voksFilterNoiseInit_RTA_32f(fs, state);
  }
};

TEST(DenoiseArgs, RatesAndSizes) {
  for (int fs : {8000, 16000, 22050, 32000}) {
    int a = 0, b = 0;
    EXPECT_EQ(voksFilterNoiseGetStateSize_EC_32f(fs, &a), vokOk);
    EXPECT_EQ(voksFilterNoiseGetStateSize_RTA_32f(fs, &b), vokOk);
    EXPECT_GT(a, 0);
    EXPECT_GT(b, 0);
  }
  for (int fs : {0, -8000, 11025, 44100, 16001}) {
    int n = 0;
    vtest::Guard g;
    g.watch(&n);
    EXPECT_REJECTS(vokErrRange, g, voksFilterNoiseGetStateSize_EC_32f(fs, &n));
    EXPECT_REJECTS(vokErrRange, g, voksFilterNoiseGetStateSize_RTA_32f(fs, &n));
    EXPECT_REJECTS(vokErrNullPtr, g, voksFilterNoiseGetStateSize_EC_32f(fs, nullptr));
    EXPECT_REJECTS(vokErrNullPtr, g, voksFilterNoiseGetStateSize_RTA_32f(fs, nullptr));
    EcMem ec;
    RtaMem rta;
    vtest::Guard s;
    s.watch(ec.bytes.data(), ec.bytes.size()).watch(rta.bytes.data(), rta.bytes.size());
    EXPECT_REJECTS(vokErrRange, s, voksFilterNoiseInit_EC_32f(fs, ec.state));
    EXPECT_REJECTS(vokErrRange, s, voksFilterNoiseInit_RTA_32f(fs, rta.state));
    EXPECT_REJECTS(vokErrNullPtr, s, voksFilterNoiseInit_EC_32f(fs, nullptr));
    EXPECT_REJECTS(vokErrNullPtr, s, voksFilterNoiseInit_RTA_32f(fs, nullptr));
  }
}

TEST(DenoiseArgs, LevelsAndModes) {
  EcMem ec;
  RtaMem rta;
  for (int level = 0; level <= 5; ++level) EXPECT_EQ(voksFilterNoiseLevel_EC_32f(level, ec.state), vokOk);
  for (int level = 0; level <= 3; ++level) EXPECT_EQ(voksFilterNoiseLevel_RTA_32f(level, rta.state), vokOk);
  for (int mode : {-1, 0, 1}) EXPECT_EQ(voksFilterNoiseSetMode_EC_32f(mode, ec.state), vokOk);
  vtest::Guard s;
  s.watch(ec.bytes.data(), ec.bytes.size()).watch(rta.bytes.data(), rta.bytes.size());
  for (int mode : {-2, 2, 100}) EXPECT_REJECTS(vokErrBadArg, s, voksFilterNoiseSetMode_EC_32f(mode, ec.state));
  for (int level : {-1, 4, 1000}) EXPECT_REJECTS(vokErrRange, s, voksFilterNoiseLevel_RTA_32f(level, rta.state));
  EXPECT_REJECTS(vokErrNullPtr, s, voksFilterNoiseSetMode_EC_32f(7, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, s, voksFilterNoiseLevel_EC_32f(7, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, s, voksFilterNoiseLevel_RTA_32f(7, nullptr));
  // The level is stored before it is checked: level 6 is refused but kept.
  EXPECT_EQ(voksFilterNoiseLevel_EC_32f(6, ec.state), vokErrRange);
}

TEST(DenoiseArgs, BlockOperationsRejectNulls) {
  EcMem ec;
  RtaMem rta;
  std::vector<float> a(160, 1000), b(160), c(16, 5);
  Vok64f ratio = 0;
  Vok32f level = 0;
  int decision = 7;
  vtest::Guard g;
  g.watch(b.data(), b.size()).watch(&ratio).watch(&level).watch(&decision);
  g.watch(ec.bytes.data(), ec.bytes.size()).watch(rta.bytes.data(), rta.bytes.size());
  EXPECT_EACH_NULL(g, voksFilterNoiseDetect_EC_32f64f, a.data(), &ratio, &level, &decision, ec.state);
  EXPECT_EACH_NULL(g, voksFilterNoiseDetectModerate_EC_32f64f, a.data(), c.data(), &ratio, &level, &decision, ec.state);
  EXPECT_EACH_NULL(g, voksFilterNoise_EC_32f, a.data(), b.data(), 1, ec.state);
  EXPECT_EACH_NULL(g, voksFilterNoise_EC_32f_I, b.data(), 1, ec.state);
  EXPECT_EACH_NULL(g, voksFilterNoise_RTA_32f, a.data(), b.data(), rta.state);
  EXPECT_EACH_NULL(g, voksFilterNoise_RTA_32f_I, b.data(), rta.state);
  // Frames the noise estimator cannot take (a formatted state, kept intact).
  RtaMem fresh;
  const auto before = fresh.bytes;
  vtest::Guard out;
  out.watch(b.data(), b.size());
  for (float bad : {std::nanf(""), INFINITY, -INFINITY}) {
    a[17] = bad;
    EXPECT_REJECTS(vokErrRange, out, voksFilterNoise_RTA_32f(a.data(), b.data(), fresh.state));
    EXPECT_TRUE(fresh.bytes == before);
  }
}

// ---- behaviour ---------------------------------------------------------------

std::vector<float> speech() {
  std::vector<int16_t> w;
  if (!vtest::readWords(vtest::testVectorDir() + "/g729/main/SPEECH.IN", w)) return {};
  return std::vector<float>(w.begin(), w.end());
}

// White noise (sum of 12 uniforms) at `db` below the mean power of x.
std::vector<float> withNoise(const std::vector<float>& x, double db) {
  double power = 0;
  for (float v : x) power += double{v} * v;
  const double sigma = std::sqrt(power / x.size() / std::pow(10.0, db / 10));
  uint32_t r = 12345;
  std::vector<float> y(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    double u = -6;
    for (int k = 0; k < 12; ++k) u += ((r = r * 1664525u + 1013904223u) >> 8) / 16777216.0;
    y[i] = static_cast<float>(x[i] + sigma * u);
  }
  return y;
}

// Per 10 ms frame of the clean signal (after the first second): segmental
// SNR of the input and of the output over frames with speech (clamped to
// -10..35 dB), the attenuation over pause frames, and the level lost over
// loud speech frames.
struct Outcome {
  double segIn, segOut, pauseDb, lossDb;
};
Outcome judge(const std::vector<float>& clean, const std::vector<float>& in, const std::vector<float>& out, int lag) {
  const int F = 80;
  auto energy = [](const float* p, const float* q, int n) {
    double e = 0;
    for (int i = 0; i < n; ++i) e += (double{p[i]} - (q ? q[i] : 0)) * (double{p[i]} - (q ? q[i] : 0));
    return e;
  };
  auto seg = [](double s, double e) { return std::fmin(std::fmax(10 * std::log10((s + 1e-9) / (e + 1e-9)), -10.0), 35.0); };
  double mean = 0;
  int frames = 0;
  for (std::size_t f = 8000; f + F + lag <= clean.size(); f += F, ++frames) mean += energy(&clean[f], nullptr, F);
  mean /= frames;
  Outcome o{};
  int active = 0;
  double pauseIn = 0, pauseOut = 0, loudIn = 0, loudOut = 0;
  for (std::size_t f = 8000; f + F + lag <= clean.size(); f += F) {
    const double c = energy(&clean[f], nullptr, F), y = energy(&out[f + lag], nullptr, F);
    if (c > 0.01 * mean) {
      o.segIn += seg(c, energy(&in[f], &clean[f], F));
      o.segOut += seg(c, energy(&out[f + lag], &clean[f], F));
      ++active;
    }
    if (c < 0.001 * mean) {
      pauseIn += energy(&in[f], nullptr, F);
      pauseOut += y;
    }
    if (c > 0.3 * mean) {
      loudIn += c;
      loudOut += y;
    }
  }
  o.segIn /= active;
  o.segOut /= active;
  o.pauseDb = 10 * std::log10(pauseIn / pauseOut);
  o.lossDb = 10 * std::log10(loudIn / loudOut);
  return o;
}

// The echo-canceller filter at a level and mode, marks from its detector.
std::vector<float> runEc(const std::vector<float>& x, int level, int mode, bool detect = true) {
  EcMem m;
  voksFilterNoiseSetMode_EC_32f(mode, m.state);
  std::vector<float> y(x.size() + 128);
  for (std::size_t i = 0; i + 16 <= x.size(); i += 16) {
    Vok64f ratio;
    Vok32f noise;
    int decision = -1;
    if (detect) {
      EXPECT_EQ(voksFilterNoiseDetect_EC_32f64f(&x[i], &ratio, &noise, &decision, m.state), vokOk);
    }
    voksFilterNoiseLevel_EC_32f(level, m.state);  // after the automatic choice too
    EXPECT_EQ(voksFilterNoise_EC_32f(&x[i], &y[i], decision, m.state), vokOk);
  }
  return y;
}

std::vector<float> runRta(const std::vector<float>& x, int level) {
  RtaMem m;
  voksFilterNoiseLevel_RTA_32f(level, m.state);
  std::vector<float> y(x);
  y.resize(x.size() + 160);
  for (std::size_t i = 0; i + 80 <= x.size(); i += 80) EXPECT_EQ(voksFilterNoise_RTA_32f_I(&y[i], m.state), vokOk);
  return y;
}

// Settings that must give the input back, delayed: no decisions at all,
// level 0, RTA level 0, and a first noise block so quiet (sqrt(m + 1) < 4)
// that the filter switches itself off although level 4 was asked for.
TEST(DenoiseBehaviour, PassThrough) {
  const auto clean = speech();
  ASSERT_FALSE(clean.empty()) << "SPEECH.IN missing";
  std::vector<float> x(clean.begin(), clean.begin() + 24000), quiet(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) quiet[i] = static_cast<float>(((i * 7919) % 5) - 2.0) + (i > 8000 ? x[i] : 0);
  struct Case {
    const char* name;
    const std::vector<float>* in;
    int lag;
    std::vector<float> out;
  } cases[] = {{"no decisions", &x, 128, runEc(x, 2, 0, false)},
               {"level 0", &x, 128, runEc(x, 0, 0)},
               {"RTA level 0", &x, 80, runRta(x, 0)},
               {"quiet start", &quiet, 128, {}}};
  {
    EcMem m;
    voksFilterNoiseLevel_EC_32f(4, m.state);
    auto& y = cases[3].out;
    y.resize(quiet.size() + 128);
    for (std::size_t i = 0; i + 16 <= quiet.size(); i += 16) {
      Vok64f ratio;
      Vok32f noise;
      int decision;
      voksFilterNoiseDetect_EC_32f64f(&quiet[i], &ratio, &noise, &decision, m.state);
      voksFilterNoise_EC_32f(&quiet[i], &y[i], decision, m.state);
    }
  }
  for (const auto& c : cases) {
    double worst = 0;
    for (std::size_t i = 0; i + c.lag + 16 < c.in->size(); ++i)
      worst = std::fmax(worst, std::fabs(c.out[i + c.lag] - (*c.in)[i]));
    EXPECT_LT(worst, 0.02) << c.name;
  }
}

TEST(DenoiseBehaviour, SpeechInWhiteNoise) {
  const auto clean = speech();
  ASSERT_FALSE(clean.empty()) << "SPEECH.IN missing";
  const auto mix = withNoise(clean, 10);
  struct Case {
    const char* name;
    bool rta;
    int level, mode;
    double minGain, minPause, maxLoss;
  } cases[] = {{"EC level 4", false, 4, 1, 3, 15, 1}, {"EC level 2", false, 2, 1, 2, 10, 1},
               {"EC level 2, smoothed", false, 2, 0, -100, 15, 100}, {"RTA level 3", true, 3, 0, 3, 10, 1}};
  for (const auto& c : cases) {
    const auto out = c.rta ? runRta(mix, c.level) : runEc(mix, c.level, c.mode);
    const Outcome o = judge(clean, mix, out, c.rta ? 80 : 128);
    EXPECT_GE(o.segOut - o.segIn, c.minGain) << c.name;
    EXPECT_GE(o.pauseDb, c.minPause) << c.name;
    EXPECT_LT(o.lossDb, c.maxLoss) << c.name;
  }
}

}  // namespace
