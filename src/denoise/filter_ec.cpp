// Spectral noise filter of the echo-canceller family: 16-sample calls,
// 128-point frames advanced by 16 samples (eight-fold overlap), a per-bin
// gain from the ratio of the frame's bin powers to a noise estimate taken
// from blocks the caller marks as noise, windowed overlap-add, and an
// optional time-domain smoothing of the output.  Two energy detectors
// supply the noise marks.  The state holds no pointers and is used from
// its first 16-byte boundary; every index read from it is bounded first.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/state.h"
#include "core/status.h"
#include "denoise/denoise_internal.h"
#include "denoise/transform.h"

using voksc::anyNull;
using voksc::core::alignState16;

namespace voksc::denoise {
namespace {

constexpr int kFrame = 128, kHop = 16, kHalf = 64;
constexpr int kMaxHistory = 4096, kKernels = 9, kMaxTaps = 2 * kKernels - 1, kLead = kKernels - 1;
constexpr int kDelayLen = kLead + 2 * kHop;  // smoothing line: 8 past, 16 current, 16 newest
constexpr int kRates[4] = {8000, 16000, 22050, 32000};

int rateIndexOf(int fs) {
  for (int i = 0; i < 4; ++i)
    if (kRates[i] == fs) return i;
  return -1;
}

// Levels 1..5 (level 0 only clears A).
constexpr LevelParams kLevels[6] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40},
    {0.03125f, 0.25f, 0.4f, 0.08f, 0.998f, 0.002f, 0.02f, 0.04f, 0.06f, 1, 40},
    {0.03125f, 0.003f, 0.275f, 1.0f, 0.991f, 0.009f, 0.5f, 0.2f, 0.3f, 1, 40},
    {0.03125f, 0.003f, 0.275f, 0.5f, 0.981f, 0.019f, 0.5f, 0.2f, 0.3f, 1, 40},
    {0.00390625f, 0.003f, 0.04f, 0.0625f, 0.981f, 0.019f, 0.015f, 0.04f, 0.6f, 1, 100},
    {0.03125f, 0.003f, 0.275f, 1.0f, 0.991f, 0.009f, 0.5f, 0.2f, 0.3f, 0, 40},
};

// Energy tracker of one detector input.
struct Tracker {
  double fast;    // block power smoothed over about four blocks
  double floor;   // noise floor: follows dips at once, rises slowly
  int32_t blocks, hangover, speechRun;
};

struct EcState {
  int32_t rateIndex;  // 0..3 (kRates)
  int32_t level, mode;
  int32_t filtered;        // a block has been filtered
  int32_t hasNoise;        // a noise-marked block has been analysed
  int32_t autoLevelDone;   // the automatic level choice has been made
  int32_t blocksSinceUpdate;
  int32_t samplesSinceAverage;  // since the noise powers last took a block
  int32_t period;               // update period in samples
  int32_t historyCount, historyWrite, moderateCount, moderateWrite;
  int32_t smoothWidth;  // W: bins averaged into one noise power
  int32_t table;        // window table in use (0, 1)
  int32_t hangoverLimit, stuckLimit, counters[3];
  float E, ceiling;
  LevelParams p;
  float levelFigure;  // m of the last noise-marked block
  float noiseLevel;   // last level reported by a detector (dB)
  float smoothQ;
  float minGains[4];  // smallest gain of bins 3..63, newest first
  double average4;
  double P[kBins], R[kBins], N[kBins], Gamma[kBins], Gamma4[kBins];
  float window[2][kHalf];  // half windows (first half; the second mirrors it)
  float kernel[kKernels][kMaxTaps];
  float input[kFrame];
  float overlap[kFrame];
  float delay[kDelayLen];
  Tracker detect, moderate[2];
  float history[kMaxHistory];
  float moderateHistory[kMaxHistory];
};

constexpr int kStateSize = core::alignedStateSize(sizeof(EcState));

int historyLenOf(int ri) { return kRates[ri] * 1024 / 8000; }
int blockLenOf(int ri) { return kRates[ri] * 128 / 8000; }

// Bounds every field an index or a loop count is taken from.
void sanitize(EcState& s) {
  if (static_cast<unsigned>(s.rateIndex) > 3u) s.rateIndex = 0;
  const int len = historyLenOf(s.rateIndex);
  auto fix = [len](int32_t& count, int32_t& write) {
    if (count < 0 || count > len) count = len;
    if (write < 0 || write >= len) write = 0;
  };
  fix(s.historyCount, s.historyWrite);
  fix(s.moderateCount, s.moderateWrite);
  if (s.smoothWidth < 1 || s.smoothWidth > 64) s.smoothWidth = 5;
  if (s.table != 0 && s.table != 1) s.table = 0;
}

const float* fullWindow(const EcState& s, int table, float* w) {
  const float* h = s.window[table];
  for (int i = 0; i < kHalf; ++i) {
    w[i] = h[i];
    w[kFrame - 1 - i] = h[i];
  }
  return w;
}

// 16 samples into a ring of len values; count saturates at len.
void ringPush(float* ring, int len, int32_t& count, int32_t& write, const float* x) {
  for (int i = 0; i < kHop; ++i) {
    ring[write] = x[i];
    write = write + 1 == len ? 0 : write + 1;
  }
  count = std::min(count + kHop, len);
}

// The newest n (<= count) values of the ring, oldest first.
void ringNewest(const float* ring, int len, int write, int n, float* dst) {
  int at = write - n;
  if (at < 0) at += len;
  for (int i = 0; i < n; ++i) {
    dst[i] = ring[at];
    at = at + 1 == len ? 0 : at + 1;
  }
}

double ringMeanPower(const float* ring, int len, int write, int n) {
  int at = write - n;
  if (at < 0) at += len;
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    sum += static_cast<double>(ring[at]) * ring[at];
    at = at + 1 == len ? 0 : at + 1;
  }
  return sum / n;
}

VokResult setLevel(EcState& s, int level) {
  s.level = level;
  if (level < 0 || level > 5) return vokErrRange;
  if (level == 0) {
    s.p.A = 0;
    return vokOk;
  }
  s.p = kLevels[level];
  if (!s.filtered) s.period = kRates[s.rateIndex] / s.p.periodDiv;
  return vokOk;
}

void initState(EcState& s, int ri) {
  std::memset(&s, 0, sizeof s);
  s.rateIndex = ri;
  s.p = kLevels[2];
  s.p.A = 0.00390625f;
  s.period = kRates[ri] / s.p.periodDiv;
  s.E = 3.0f;
  s.hangoverLimit = 80;
  s.stuckLimit = 400;
  s.ceiling = 80.0f;
  s.counters[0] = 3;
  s.counters[1] = 14;
  s.counters[2] = 48;
  s.smoothWidth = 5;
  s.smoothQ = 1.0f;
  for (float& g : s.minGains) g = 1.0f;
  for (int k = 0; k < kBins; ++k) s.R[k] = 1.0;
  // Table 0: sine window; table 1: Hann window, both symmetric about 63.5.
  // Used for analysis and synthesis, their products overlap-add (hop 16)
  // to 4 and 3; the synthesis divides by that.
  for (int i = 0; i < kHalf; ++i) {
    const double a = std::sin(3.14159265358979323846 * (i + 0.5) / kFrame);
    s.window[0][i] = static_cast<float>(a);
    s.window[1][i] = static_cast<float>(a * a);
  }
  for (int j = 0; j < kKernels; ++j) {
    const int taps = 2 * j + 1;
    double sum = 0;
    for (int t = 0; t < taps; ++t) sum += 0.5 + std::min(t, taps - 1 - t) / 2;
    for (int t = 0; t < taps; ++t) s.kernel[j][t] = static_cast<float>((0.5 + std::min(t, taps - 1 - t) / 2) / sum);
  }
}

// Noise-power update from a noise-marked block whose bin powers are s.P.
void updateNoise(EcState& s) {
  const bool first = !s.hasNoise;
  s.hasNoise = 1;
  s.blocksSinceUpdate = 0;
  const int blockLen = blockLenOf(s.rateIndex), len = historyLenOf(s.rateIndex);
  const int n = s.historyCount >= blockLen ? blockLen : kFrame;
  const double m = std::max(ringMeanPower(s.history, len, s.historyWrite, n), 1.0);
  s.levelFigure = static_cast<float>(m);
  if (!s.autoLevelDone) {
    s.autoLevelDone = 1;
    setLevel(s, static_cast<float>(std::sqrt(m + 1.0)) < 4.0f ? 0 : 2);
  }
  // This block's noise power per bin: the mean over W neighbouring bins
  // (centred, cut at the ends of the band).
  double block[kBins];
  const int h = s.smoothWidth / 2;
  for (int k = 0; k < kBins; ++k) {
    const int lo = std::max(0, k - h), hi = std::min(kBins - 1, k + h);
    double sum = 0;
    for (int j = lo; j <= hi; ++j) sum += s.P[j];
    block[k] = sum / (hi - lo + 1);
  }
  if (first || !s.p.noiseUpdate) {
    std::memcpy(s.N, block, sizeof block);
    s.samplesSinceAverage = 0;
  } else if (s.samplesSinceAverage >= s.period) {
    const double b = s.p.B, c = s.p.C;
    for (int k = 0; k < kBins; ++k) s.N[k] = b * s.N[k] + c * block[k];
    s.samplesSinceAverage = 0;
  }
  fft::invThresh_64f(s.N, s.R, kBins, 1.0);
}

// One detector input: returns the fast power over the floor; *speech and
// *noise tell the block's class.
double track(Tracker& t, const float* x, const EcState& s, bool* speech, bool* noise) {
  double e = 0;
  for (int i = 0; i < kHop; ++i) e += static_cast<double>(x[i]) * x[i];
  e /= kHop;
  if (t.blocks <= 0) {
    t.fast = e;
    t.floor = std::max(e, 1.0);
    t.blocks = 0;
  } else {
    t.fast = 0.75 * t.fast + 0.25 * e;
  }
  t.blocks = t.blocks < INT32_MAX ? t.blocks + 1 : t.blocks;
  // The floor rises 2 dB/s, 10 dB/s once speech has lasted stuckLimit blocks.
  const double blocksPerSecond = kRates[s.rateIndex] / double{kHop};
  const double riseDb = t.speechRun >= s.stuckLimit ? 10.0 : 2.0;
  if (t.fast < t.floor)
    t.floor = std::max(t.fast, 1.0);
  else
    t.floor *= std::exp(riseDb * 0.1 * 2.302585092994046 / blocksPerSecond);
  *speech = t.fast > s.E * t.floor;
  if (*speech) {
    t.speechRun = t.speechRun < INT32_MAX ? t.speechRun + 1 : t.speechRun;
    t.hangover = s.hangoverLimit;
  } else {
    t.speechRun = 0;
    if (t.hangover > 0) --t.hangover;
  }
  if (t.hangover < 0) t.hangover = 0;
  *noise = !*speech && t.hangover == 0;
  return t.fast / t.floor;
}

float levelDb(const EcState& s, double floor) {
  const float db = static_cast<float>(10.0 * std::log10(std::max(floor, 1.0)));
  return std::min(db, s.ceiling);
}

void filterBlock(const float* src, float* dst, int decision, EcState& s) {
  sanitize(s);
  s.filtered = 1;
  const fft::RealFftSpec_32f* plan = ecTransform();
  // Levels 3 and 4 take the second window table, 1, 2 and 5 the first;
  // at level 0 the table in use stays, so turning the filter off and on
  // leaves the overlap-add exact.
  if (s.level == 3 || s.level == 4)
    s.table = 1;
  else if (s.level >= 1 && s.level <= 5)
    s.table = 0;
  const int table = s.table;
  const float norm = table == 0 ? 0.25f : 1.0f / 3.0f;
  alignas(32) float w[kFrame], frame[kFrame], spectrum[kFrame + 2];
  fullWindow(s, table, w);
  bool spectrumOfInput = false;

  s.blocksSinceUpdate = s.blocksSinceUpdate < INT32_MAX ? s.blocksSinceUpdate + 1 : s.blocksSinceUpdate;
  s.samplesSinceAverage = s.samplesSinceAverage < INT32_MAX - kHop ? s.samplesSinceAverage + kHop : INT32_MAX;
  const int len = historyLenOf(s.rateIndex);
  if (decision != -1) {
    ringPush(s.history, len, s.historyCount, s.historyWrite, src);
    if (s.historyCount >= kFrame) {
      ringNewest(s.history, len, s.historyWrite, kFrame, frame);
      for (int i = 0; i < kFrame; ++i) frame[i] *= w[i];
      if (plan) fft::realFftFwd_32f(frame, spectrum, plan, nullptr);
      for (int k = 0; k < kBins; ++k) {
        const double re = spectrum[2 * k], im = spectrum[2 * k + 1];
        s.P[k] = re * re + im * im;
      }
      if (decision == 1) updateNoise(s);
      spectrumOfInput = true;  // confirmed below against the input frame
    }
  }

  std::memmove(s.input, s.input + kHop, sizeof(float) * (kFrame - kHop));
  std::memcpy(s.input + kFrame - kHop, src, sizeof(float) * kHop);
  // The history's newest frame is the input frame whenever every call so
  // far carried a decision; then its transform serves both.
  if (spectrumOfInput) {
    ringNewest(s.history, len, s.historyWrite, kFrame, frame);
    spectrumOfInput = std::memcmp(frame, s.input, sizeof frame) == 0;
  }

  const bool spectral = s.p.A > 0 && s.historyCount >= kFrame && plan != nullptr;
  if (spectral) {
    if (!spectrumOfInput) {
      for (int i = 0; i < kFrame; ++i) frame[i] = s.input[i] * w[i];
      fft::realFftFwd_32f(frame, spectrum, plan, nullptr);
    }
    float g[kBins];
    const float least = s.level == 4 ? ratioGainsLevel4(s.P, s.R, s.Gamma4, &s.average4, s.p, g)
                                     : ratioGains(s.P, s.R, s.Gamma, s.p, g);
    for (int k = 0; k < kBins; ++k) {
      spectrum[2 * k] *= g[k];
      spectrum[2 * k + 1] *= g[k];
    }
    fft::realFftInv_32f(spectrum, frame, plan, nullptr);
    for (int i = 0; i < kFrame; ++i) s.overlap[i] += frame[i] * w[i] * norm;
    std::memmove(s.minGains + 1, s.minGains, sizeof(float) * 3);
    s.minGains[0] = least;
  } else {
    for (int i = 0; i < kFrame; ++i) s.overlap[i] += s.input[i] * (w[i] * w[i] * norm);
  }
  float out[kHop];
  std::memcpy(out, s.overlap, sizeof out);
  std::memmove(s.overlap, s.overlap + kHop, sizeof(float) * (kFrame - kHop));
  std::memset(s.overlap + kFrame - kHop, 0, sizeof(float) * kHop);
  if (spectral) {
    for (float& v : out) {
      v = std::min(std::max(v, -32768.0f), 32767.0f);
      if (std::fabs(v) < 0.5f) v = 0;
    }
  }

  // Output smoothing, one block behind the spectral output.
  std::memmove(s.delay, s.delay + kHop, sizeof(float) * (kDelayLen - kHop));
  std::memcpy(s.delay + kDelayLen - kHop, out, sizeof out);
  int kernel = 0;
  if (s.p.A > 0) {
    const float indicator = s.minGains[3];
    float x = 8.0f * (1.0f - indicator);
    if (x > 7.5f) x = 8.0f;
    s.smoothQ = 0.999f * s.smoothQ + 0.001f * std::max(1.0f, x);
    if (s.mode != 1 && s.hasNoise && s.levelFigure >= 2.0f) {
      if (s.mode == -1) {
        const float q = s.smoothQ;
        kernel = q >= 0.0f && q < kKernels - 0.5f ? static_cast<int>(q + 0.5f) : kKernels - 1;
      } else {
        kernel = kKernels - 1;
      }
    }
  }
  const float* centre = s.delay + kLead;
  if (kernel == 0) {
    std::memcpy(dst, centre, sizeof(float) * kHop);
  } else {
    const float* k = s.kernel[kernel];
    for (int i = 0; i < kHop; ++i) {
      float acc = 0;
      for (int t = -kernel; t <= kernel; ++t) acc += k[t + kernel] * centre[i + t];
      dst[i] = acc;
    }
  }
}

}  // namespace

float ratioGains(const double* P, const double* R, double* Gamma, const LevelParams& p, float* g) {
  for (int k = 0; k < kBins; ++k) {
    const double gamma = std::min(std::max(P[k] * R[k], 1.0), 32767.0);
    Gamma[k] = 0.5 * Gamma[k] + 0.5 * gamma;
    float v = static_cast<float>(p.A * Gamma[k]);
    v = std::max(v, k < 3 ? p.D : p.F);
    g[k] = std::min(v, 1.0f);
  }
  float least = g[3];
  for (int k = 4; k < 64; ++k) least = std::min(least, g[k]);
  return least;
}

float ratioGainsLevel4(const double* P, const double* R, double* Gamma4, double* average, const LevelParams& p,
                       float* g) {
  double sum = 0;
  for (int k = 0; k < kBins; ++k) {
    const double gamma = std::min(std::max(P[k] * R[k], 1.0), 32767.0);
    Gamma4[k] = 0.88 * gamma + 0.12 * Gamma4[k];
    sum += std::min(Gamma4[k], 2048.0);
  }
  *average = 0.98 * (sum / kBins) + 0.02 * *average;
  // Blocks whose average ratio stays near that of noise alone take the
  // floor in every bin; other blocks subtract twice the noise power.
  const bool speech = *average > 2.0;
  for (int k = 0; k < kBins; ++k) {
    float v = p.F;
    if (speech) v = std::max(p.F, static_cast<float>(1.0 - 2.0 / Gamma4[k]));
    g[k] = std::min(v, 1.0f);
  }
  float least = g[3];
  for (int k = 4; k < 64; ++k) least = std::min(least, g[k]);
  return least;
}

}  // namespace voksc::denoise

using namespace voksc::denoise;

VOKSC_EXPORT VokResult voksFilterNoiseGetStateSize_EC_32f(int fs, int* size) {
  if (size == nullptr) return vokErrNullPtr;
  if (rateIndexOf(fs) < 0) return vokErrRange;
  *size = kStateSize;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFilterNoiseInit_EC_32f(int fs, FilterNoiseState_EC_32f* state) {
  if (state == nullptr) return vokErrNullPtr;
  const int ri = rateIndexOf(fs);
  if (ri < 0) return vokErrRange;
  initState(*alignState16<EcState>(state), ri);
  return vokOk;
}

VOKSC_EXPORT VokResult voksFilterNoiseLevel_EC_32f(int level, FilterNoiseState_EC_32f* state) {
  if (state == nullptr) return vokErrNullPtr;
  EcState& s = *alignState16<EcState>(state);
  sanitize(s);
  return setLevel(s, level);
}

VOKSC_EXPORT VokResult voksFilterNoiseSetMode_EC_32f(int mode, FilterNoiseState_EC_32f* state) {
  if (state == nullptr) return vokErrNullPtr;
  if (mode < -1 || mode > 1) return vokErrBadArg;
  alignState16<EcState>(state)->mode = mode;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFilterNoiseDetect_EC_32f64f(const Vok32f* src, Vok64f* ratio, Vok32f* noiseLevel,
                                                       int* decision, FilterNoiseState_EC_32f* state) {
  if (anyNull(src, ratio, noiseLevel, decision, state)) return vokErrNullPtr;
  *decision = 0;
  EcState& s = *alignState16<EcState>(state);
  sanitize(s);
  bool speech = false, noise = false;
  const double r = track(s.detect, src, s, &speech, &noise);
  s.noiseLevel = levelDb(s, s.detect.floor);
  *ratio = r;
  *noiseLevel = s.noiseLevel;
  *decision = noise ? 1 : 0;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFilterNoiseDetectModerate_EC_32f64f(const Vok32f* src, const Vok32f* second, Vok64f* ratio,
                                                               Vok32f* noiseLevel, int* decision,
                                                               FilterNoiseState_EC_32f* state) {
  if (anyNull(src, second, ratio, noiseLevel, decision, state)) return vokErrNullPtr;
  *decision = 0;
  EcState& s = *alignState16<EcState>(state);
  sanitize(s);
  ringPush(s.moderateHistory, historyLenOf(s.rateIndex), s.moderateCount, s.moderateWrite, second);
  bool speech = false, noise = false, secondSpeech = false, secondNoise = false;
  const double r = track(s.moderate[0], src, s, &speech, &noise);
  track(s.moderate[1], second, s, &secondSpeech, &secondNoise);
  s.noiseLevel = levelDb(s, s.moderate[0].floor);
  *ratio = r;
  *noiseLevel = s.noiseLevel;
  *decision = noise && !secondSpeech && s.moderate[1].hangover == 0 ? 1 : 0;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFilterNoise_EC_32f(const Vok32f* src, Vok32f* dst, int decision,
                                              FilterNoiseState_EC_32f* state) {
  if (anyNull(src, dst, state)) return vokErrNullPtr;
  filterBlock(src, dst, decision, *alignState16<EcState>(state));
  return vokOk;
}

VOKSC_EXPORT VokResult voksFilterNoise_EC_32f_I(Vok32f* srcDst, int decision, FilterNoiseState_EC_32f* state) {
  if (anyNull(srcDst, state)) return vokErrNullPtr;
  filterBlock(srcDst, srcDst, decision, *alignState16<EcState>(state));
  return vokOk;
}
