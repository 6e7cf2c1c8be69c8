// Noise reduction on the G.729 SPEECH.IN vector (37.5 s at 8 kHz) mixed
// with white noise at 10 dB SNR (mean powers over the whole file): the
// segmental SNR gained, the attenuation in speech pauses and the level lost
// on loud speech, for our filters and, when the build finds it,
// libspeexdsp's preprocessor with only its denoiser on (default settings,
// 10 ms frames).  Each output is aligned with the clean speech at the lag
// of its best correlation.
//
// Measures per 10 ms frame of the clean speech s (after the first second),
// y the aligned output: segmental SNR = mean of 10 log10(|s|^2 / |y - s|^2)
// clamped to -10..35 dB over frames holding more than 1% of the mean frame
// power; pauses are frames below 0.1% of it, loud frames above 30%.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "voksc.h"

#if defined(HAVE_SPEEXDSP)
#include <speex/speex_preprocess.h>
#endif

namespace {

using Signal = std::vector<float>;

Signal readSpeech(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<char> b((std::istreambuf_iterator<char>(f)), {});
  Signal s(b.size() / 2);
  for (std::size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<int16_t>(static_cast<uint8_t>(b[2 * i]) | (static_cast<uint8_t>(b[2 * i + 1]) << 8));
  return s;
}

double energy(const float* a, const float* b, int n) {
  double e = 0;
  for (int i = 0; i < n; ++i) {
    const double d = double{a[i]} - (b ? b[i] : 0.0f);
    e += d * d;
  }
  return e;
}

int bestLag(const Signal& clean, const Signal& out) {
  int best = 0;
  double top = -1e300;
  for (int lag = 0; lag <= 400; ++lag) {
    double c = 0;
    for (std::size_t i = 8000; i + lag < out.size() && i < 200000; ++i) c += double{clean[i]} * out[i + lag];
    if (c > top) top = c, best = lag;
  }
  return best;
}

struct Figures {
  double segGain, pauseDb, lossDb;
  int lag;
};

Figures judge(const Signal& clean, const Signal& mix, const Signal& out) {
  const int F = 80, lag = bestLag(clean, out);
  double mean = 0;
  int frames = 0;
  for (std::size_t f = 8000; f + F + lag <= clean.size(); f += F, ++frames) mean += energy(&clean[f], nullptr, F);
  mean /= frames;
  auto seg = [](double s, double e) { return std::fmin(std::fmax(10 * std::log10((s + 1e-9) / (e + 1e-9)), -10.0), 35.0); };
  double segIn = 0, segOut = 0, pauseIn = 0, pauseOut = 0, loudIn = 0, loudOut = 0;
  int active = 0;
  for (std::size_t f = 8000; f + F + lag <= clean.size(); f += F) {
    const double c = energy(&clean[f], nullptr, F), y = energy(&out[f + lag], nullptr, F);
    if (c > 0.01 * mean) {
      segIn += seg(c, energy(&mix[f], &clean[f], F));
      segOut += seg(c, energy(&out[f + lag], &clean[f], F));
      ++active;
    }
    if (c < 0.001 * mean) pauseIn += energy(&mix[f], nullptr, F), pauseOut += y;
    if (c > 0.3 * mean) loudIn += c, loudOut += y;
  }
  return {(segOut - segIn) / active, 10 * std::log10(pauseIn / pauseOut), 10 * std::log10(loudIn / loudOut), lag};
}

Signal ecFilter(const Signal& x, int level) {
  int n = 0;
  voksFilterNoiseGetStateSize_EC_32f(8000, &n);
  std::vector<unsigned char> mem(n);
  auto* st = reinterpret_cast<FilterNoiseState_EC_32f*>(mem.data());
  voksFilterNoiseInit_EC_32f(8000, st);
  voksFilterNoiseSetMode_EC_32f(1, st);
  Signal y(x.size());
  for (std::size_t i = 0; i + 16 <= x.size(); i += 16) {
    Vok64f ratio;
    Vok32f noise;
    int decision;
    voksFilterNoiseDetect_EC_32f64f(&x[i], &ratio, &noise, &decision, st);
    voksFilterNoiseLevel_EC_32f(level, st);
    voksFilterNoise_EC_32f(&x[i], &y[i], decision, st);
  }
  return y;
}

Signal rtaFilter(const Signal& x, int level) {
  int n = 0;
  voksFilterNoiseGetStateSize_RTA_32f(8000, &n);
  std::vector<unsigned char> mem(n);
  auto* st = reinterpret_cast<FilterNoiseState_RTA_32f*>(mem.data());
  voksFilterNoiseInit_RTA_32f(8000, st);
  voksFilterNoiseLevel_RTA_32f(level, st);
  Signal y(x.size());
  for (std::size_t i = 0; i + 80 <= x.size(); i += 80) voksFilterNoise_RTA_32f(&x[i], &y[i], st);
  return y;
}

}  // namespace

int main(int argc, char** argv) {
  const Signal clean = readSpeech(argc > 1 ? argv[1] : VOKSC_SPEECH_VECTOR);
  if (clean.size() < 16000) {
    std::fprintf(stderr, "cannot read the speech vector\n");
    return 1;
  }
  double power = 0;
  for (float v : clean) power += double{v} * v;
  const double sigma = std::sqrt(power / clean.size() / 10.0);
  Signal mix(clean.size());
  uint32_t r = 12345;
  for (std::size_t i = 0; i < clean.size(); ++i) {
    double u = -6;  // a sum of 12 uniforms: near Gaussian, unit variance
    for (int k = 0; k < 12; ++k) u += ((r = r * 1664525u + 1013904223u) >> 8) / 16777216.0;
    mix[i] = static_cast<float>(clean[i] + sigma * u);
  }
  auto show = [&](const char* name, const Signal& out) {
    const Figures f = judge(clean, mix, out);
    std::printf("%-34s segSNR %+5.2f dB  pauses -%4.1f dB  loud speech %+5.2f dB lost  (lag %d)\n", name, f.segGain,
                f.pauseDb, f.lossDb, f.lag);
  };
  std::printf("speech + white noise at 10 dB SNR, 8000 Hz\n");
  show("voksc EC level 2 (mode 1)", ecFilter(mix, 2));
  show("voksc EC level 4 (mode 1)", ecFilter(mix, 4));
  show("voksc RTA level 2", rtaFilter(mix, 2));
  show("voksc RTA level 3", rtaFilter(mix, 3));
#if defined(HAVE_SPEEXDSP)
  {
    SpeexPreprocessState* st = speex_preprocess_state_init(80, 8000);
    Signal out(mix.size());
    std::vector<spx_int16_t> frame(80);
    for (std::size_t i = 0; i + 80 <= mix.size(); i += 80) {
      for (int k = 0; k < 80; ++k)
        frame[k] = static_cast<spx_int16_t>(std::lrint(std::fmax(std::fmin(mix[i + k], 32767.f), -32768.f)));
      speex_preprocess_run(st, frame.data());
      for (int k = 0; k < 80; ++k) out[i + k] = frame[k];
    }
    speex_preprocess_state_destroy(st);
    show("speexdsp preprocessor (denoise)", out);
  }
#else
  std::printf("(libspeexdsp not found by the build: no peer figures)\n");
#endif
  return 0;
}
