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

// A formatted state at an odd address (states are used from their first
// 16-byte boundary).
template <class State, VokResult (*Size)(int, int*), VokResult (*Init)(int, State*)>
struct Mem {
  std::vector<unsigned char> bytes;
  State* state;
  explicit Mem(int fs = 8000) {
    int n = 0;
    Size(fs, &n);
    bytes.assign(static_cast<std::size_t>(n) + 3, 0);
    state = reinterpret_cast<State*>(bytes.data() + 3);
    Init(fs, state);
  }
};
using EcMem = Mem<FilterNoiseState_EC_32f, voksFilterNoiseGetStateSize_EC_32f, voksFilterNoiseInit_EC_32f>;
using RtaMem = Mem<FilterNoiseState_RTA_32f, voksFilterNoiseGetStateSize_RTA_32f, voksFilterNoiseInit_RTA_32f>;

// Rates, levels and modes (valid rates run in the behaviour tests); the
// level is stored before it is checked, so level 6 is refused but kept.
TEST(DenoiseArgs, RatesLevelsModes) {
  EcMem ec;
  RtaMem rta;
  int n = 0;
  vtest::Guard g;
  g.watch(&n).watch(ec.bytes.data(), ec.bytes.size()).watch(rta.bytes.data(), rta.bytes.size());
  for (int fs : {0, -8000, 11025, 16001}) {
    EXPECT_NULLS_THEN(vokErrRange, g, voksFilterNoiseGetStateSize_EC_32f, fs, &n);
    EXPECT_NULLS_THEN(vokErrRange, g, voksFilterNoiseGetStateSize_RTA_32f, fs, &n);
    EXPECT_NULLS_THEN(vokErrRange, g, voksFilterNoiseInit_EC_32f, fs, ec.state);
    EXPECT_NULLS_THEN(vokErrRange, g, voksFilterNoiseInit_RTA_32f, fs, rta.state);
  }
  for (int mode : {-2, 2, 100}) EXPECT_REJECTS(vokErrBadArg, g, voksFilterNoiseSetMode_EC_32f(mode, ec.state));
  for (int level : {-1, 4, 1000}) EXPECT_REJECTS(vokErrRange, g, voksFilterNoiseLevel_RTA_32f(level, rta.state));
  EXPECT_REJECTS(vokErrNullPtr, g, voksFilterNoiseSetMode_EC_32f(7, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksFilterNoiseLevel_EC_32f(7, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksFilterNoiseLevel_RTA_32f(7, nullptr));
  EcMem fresh;
  EXPECT_EQ(voksFilterNoiseLevel_EC_32f(6, fresh.state), vokErrRange);
  EXPECT_EQ(voksFilterNoiseLevel_EC_32f(-1, fresh.state), vokErrRange);
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

using Signal = std::vector<float>;

Signal speech() {
  std::vector<int16_t> w;
  if (!vtest::readWords(vtest::testVectorDir() + "/g729/main/SPEECH.IN", w)) return {};
  return Signal(w.begin(), w.end());
}

Signal plus(Signal x, float rms, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> g(0, rms);
  for (auto& v : x) v += g(rng);
  return x;
}

double power(const float* x, std::size_t n) {
  double e = 0;
  for (std::size_t i = 0; i < n; ++i) e += double{x[i]} * x[i];
  return e;
}

// How the echo-canceller filter is driven: its detector's marks (the level
// set again after every block, so after the automatic choice too), no marks
// at all, or the level set once before a start that picks level 0 itself.
enum Drive { kMarks, kNoMarks, kLevelOnce };

Signal runEc(const Signal& x, int fs, int level, int mode, Drive drive = kMarks) {
  EcMem m(fs);
  voksFilterNoiseSetMode_EC_32f(mode, m.state);
  voksFilterNoiseLevel_EC_32f(level, m.state);
  Signal y(x.size());
  for (std::size_t i = 0; i + 16 <= x.size(); i += 16) {
    Vok64f ratio;
    Vok32f noise;
    int decision = -1;
    if (drive != kNoMarks) {
      EXPECT_EQ(voksFilterNoiseDetect_EC_32f64f(&x[i], &ratio, &noise, &decision, m.state), vokOk);
    }
    if (drive == kMarks) voksFilterNoiseLevel_EC_32f(level, m.state);
    EXPECT_EQ(voksFilterNoise_EC_32f(&x[i], &y[i], decision, m.state), vokOk);
  }
  return y;
}

Signal runRta(Signal x, int fs, int level) {
  RtaMem m(fs);
  voksFilterNoiseLevel_RTA_32f(level, m.state);
  const int frame = fs == 8000 ? 80 : 160;
  for (std::size_t i = 0; i + frame <= x.size(); i += frame) EXPECT_EQ(voksFilterNoise_RTA_32f_I(&x[i], m.state), vokOk);
  return x;
}

// Speech (SPEECH.IN) with white noise 10 dB below its mean power.  Per 10 ms
// frame of the clean speech after the first second: segmental SNR over
// frames with speech (above 1% of the mean frame power, each clamped to
// -10..35 dB), attenuation over pauses (below 0.1%), level lost over loud
// frames (above 30%).
TEST(DenoiseBehaviour, SpeechInWhiteNoise) {
  const Signal clean = speech();
  ASSERT_FALSE(clean.empty()) << "SPEECH.IN missing";
  const Signal mix = plus(clean, static_cast<float>(std::sqrt(power(clean.data(), clean.size()) / clean.size() / 10)), 1);
  struct Case {
    const char* name;
    Signal out;
    int lag;
    double minGain, minPause, maxLoss;
  } cases[] = {{"EC level 4", runEc(mix, 8000, 4, 1), 128, 4, 20, 0.5},
               {"EC level 2", runEc(mix, 8000, 2, 1), 128, 3, 10, 0.5},
               {"EC level 2 smoothed", runEc(mix, 8000, 2, 0), 128, -100, 15, 100},
               {"RTA level 3", runRta(mix, 8000, 3), 80, 4, 15, 0.5}};
  const int F = 80;
  double mean = 0;
  for (std::size_t f = 8000; f + F + 128 <= clean.size(); f += F) mean += power(&clean[f], F) / (clean.size() / F);
  for (const auto& c : cases) {
    double segIn = 0, segOut = 0, pauseIn = 0, pauseOut = 0, loudIn = 0, loudOut = 0;
    int active = 0;
    for (std::size_t f = 8000; f + F + 128 <= clean.size(); f += F) {
      float e[2][F];
      for (int i = 0; i < F; ++i) e[0][i] = mix[f + i] - clean[f + i], e[1][i] = c.out[f + c.lag + i] - clean[f + i];
      const double s = power(&clean[f], F), y = power(&c.out[f + c.lag], F);
      auto seg = [s](const float* err) { return std::fmin(std::fmax(10 * std::log10((s + 1e-9) / (power(err, F) + 1e-9)), -10.0), 35.0); };
      if (s > 0.01 * mean) segIn += seg(e[0]), segOut += seg(e[1]), ++active;
      if (s < 0.001 * mean) pauseIn += power(&mix[f], F), pauseOut += y;
      if (s > 0.3 * mean) loudIn += s, loudOut += y;
    }
    EXPECT_GE((segOut - segIn) / active, c.minGain) << c.name;
    EXPECT_GE(10 * std::log10(pauseIn / pauseOut), c.minPause) << c.name;
    EXPECT_LT(std::fabs(10 * std::log10(loudIn / loudOut)), c.maxLoss) << c.name;
  }
}

// Every rate, 3 s of stationary white noise: at least 15 dB off over the
// last second at EC level 4 and RTA level 3; the input back at the stated
// lag at level 0, without marks, and when a quiet start (sqrt(m + 1) < 4)
// switches the filter off although level 4 was asked for.
TEST(DenoiseBehaviour, WhiteNoiseAtEveryRate) {
  for (int fs : {8000, 16000, 22050, 32000}) {
    const Signal x = plus(Signal(3 * fs), 300, fs), quiet = plus(Signal(3 * fs), 1, fs);
    const std::size_t from = 2 * fs, n = fs - 400;
    const int rtaLag = fs == 8000 ? 80 : 96;
    struct Case {
      const char* name;
      const Signal* in;
      Signal out;
      int lag;  // 0: attenuated
    } cases[] = {{"EC level 4", &x, runEc(x, fs, 4, 1), 0},          {"RTA level 3", &x, runRta(x, fs, 3), 0},
                 {"EC level 0", &x, runEc(x, fs, 0, 0), 128},        {"RTA level 0", &x, runRta(x, fs, 0), rtaLag},
                 {"EC no marks", &x, runEc(x, fs, 2, 0, kNoMarks), 128}, {"EC quiet", &quiet, runEc(quiet, fs, 4, 0, kLevelOnce), 128}};
    for (const auto& c : cases) {
      if (c.lag == 0) {
        EXPECT_GE(10 * std::log10(power(&x[from], n) / power(&c.out[from], n)), 15) << c.name << " at " << fs;
        continue;
      }
      double worst = 0;
      for (std::size_t i = from; i < from + n; ++i) worst = std::fmax(worst, std::fabs(c.out[i + c.lag] - (*c.in)[i]));
      EXPECT_LT(worst, 0.02) << c.name << " at " << fs;
    }
  }
}

// The moderate detector marks noise only while the second signal is quiet
// too; the plain detector marks the same noise throughout.
TEST(DenoiseBehaviour, ModerateDetectorWaitsForQuietSecondSignal) {
  const Signal x = plus(Signal(24000), 100, 3), far = plus(Signal(24000), 3000, 4), silence(16);
  EcMem plain, moderate;
  int marked[2][3] = {};  // per detector: before, during and after the far-end burst
  for (std::size_t i = 0; i + 16 <= x.size(); i += 16) {
    const int part = i < 8000 ? 0 : i < 16000 ? 1 : 2;
    Vok64f ratio;
    Vok32f noise;
    int d;
    ASSERT_EQ(voksFilterNoiseDetect_EC_32f64f(&x[i], &ratio, &noise, &d, plain.state), vokOk);
    marked[0][part] += d;
    const float* second = part == 1 ? &far[i] : silence.data();
    ASSERT_EQ(voksFilterNoiseDetectModerate_EC_32f64f(&x[i], second, &ratio, &noise, &d, moderate.state), vokOk);
    marked[1][part] += d;
    EXPECT_NEAR(noise, 40.0, 3.0) << i;  // 10 log10(100^2)
  }
  EXPECT_TRUE(marked[0][1] > 450 && marked[1][1] == 0) << marked[0][1] << " " << marked[1][1];
  EXPECT_GT(marked[1][2], 350);  // after its decay and the 80-block hangover
}

}  // namespace
