// ERLE report (not a test): our subband and full-band cancellers and
// speexdsp's echo canceller on the same G.168 scenarios: echo paths
// D.2-D.9 at 6 dB echo return loss, 8 and 16 kHz, a near-end noise floor
// at -65 dBFS, white noise at -20 dBFS as far end (time to 20 dB, steady
// ERLE at 3.5-4 s, time back to 20 dB after a path change at 4 s) and, at
// 8 kHz, the sample speech file as far end (mean ERLE over its active 50 ms
// blocks).  ERLE is the echo's power over the output's, per 50 ms block.
// Prints one table row per canceller, rate and path.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "../ec_cancellers.h"
#include "echo_scenario.h"

#if defined(HAVE_SPEEXDSP)
#include <speex/speex_echo.h>
#endif

namespace {

using namespace vokp::g168;
using Runner = std::function<std::vector<double>(int rate, const std::vector<double>& x, const std::vector<double>& y)>;

// Runs a float canceller frame by frame; output as double.
template <class Canceller>
std::vector<double> runFrames(Canceller& ec, const std::vector<double>& x, const std::vector<double>& y) {
  const int f = ec.frame();
  std::vector<float> xf(f), yf(f), out(f);
  std::vector<double> r;
  for (std::size_t n = 0; n + f <= x.size(); n += f) {
    for (int i = 0; i < f; ++i) {
      xf[i] = float(x[n + i]);
      yf[i] = float(y[n + i]);
    }
    ec.process(xf.data(), yf.data(), out.data());
    r.insert(r.end(), out.begin(), out.end());
  }
  return r;
}

int tail(int rate) { return rate / 8000 * 256; }

struct Peer {
  const char* name;
  Runner run;
  std::function<std::size_t(int rate)> latency;
};

std::vector<Peer> peers() {
  std::vector<Peer> p;
  p.push_back({"voksc subband",
               [](int rate, const std::vector<double>& x, const std::vector<double>& y) {
                 vbench::SubbandCanceller ec(rate, rate == 8000 ? 12 : 14);
                 return runFrames(ec, x, y);
               },
               [](int rate) { return std::size_t(vbench::SubbandCanceller(rate, 1).latency()); }});
  p.push_back({"voksc fullband",
               [](int rate, const std::vector<double>& x, const std::vector<double>& y) {
                 vbench::FullbandCanceller ec(rate, rate / 100, tail(rate));
                 return runFrames(ec, x, y);
               },
               [](int) { return std::size_t(0); }});
#if defined(HAVE_SPEEXDSP)
  p.push_back({"speexdsp",
               [](int rate, const std::vector<double>& x, const std::vector<double>& y) {
                 const int f = rate / 100;
                 SpeexEchoState* st = speex_echo_state_init(f, tail(rate));
                 int r = rate;
                 speex_echo_ctl(st, SPEEX_ECHO_SET_SAMPLING_RATE, &r);
                 std::vector<spx_int16_t> xs(f), ys(f), out(f);
                 std::vector<double> res;
                 auto word = [](double v) { return spx_int16_t(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v)))); };
                 for (std::size_t n = 0; n + f <= x.size(); n += f) {
                   for (int i = 0; i < f; ++i) {
                     xs[i] = word(x[n + i]);
                     ys[i] = word(y[n + i]);
                   }
                   speex_echo_cancellation(st, ys.data(), xs.data(), out.data());
                   res.insert(res.end(), out.begin(), out.end());
                 }
                 speex_echo_state_destroy(st);
                 return res;
               },
               [](int) { return std::size_t(0); }});
#endif
  return p;
}

std::vector<double> speech8k() {
  std::ifstream f(VOKSC_BENCH_SAMPLE, std::ios::binary);
  std::vector<char> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<double> s(b.size() / 2);
  for (std::size_t i = 0; i < s.size(); ++i)
    s[i] = int16_t(uint16_t(uint8_t(b[2 * i])) | uint16_t(uint8_t(b[2 * i + 1])) << 8);
  return s;
}

std::vector<double> withFloor(std::vector<double> echo, uint32_t seed) {
  const auto floor = whiteNoise(echo.size(), -65, 100 + seed);
  for (std::size_t i = 0; i < echo.size(); ++i) echo[i] += floor[i];
  return echo;
}

}  // namespace

int main() {
  const auto all = peers();
  if (echoPath(2, 8000, 6).empty()) {
    std::fprintf(stderr, "G.168 tables not found (set VOKSC_TESTVECTORS)\n");
    return 1;
  }
  std::printf("%-15s %5s %4s | %8s %9s %9s | %9s\n", "canceller", "rate", "path", "20 dB s", "steady dB", "recover s",
              "speech dB");
  const auto speech = speech8k();
  for (const Peer& p : all)
    for (int rate : {8000, 16000}) {
      double sumSteady = 0, sumSpeech = 0;
      int nSpeech = 0;
      for (int model = 2; model <= 9; ++model) {
        const auto h = echoPath(model, rate, 6.0), h2 = echoPath(model == 9 ? 2 : model + 1, rate, 6.0);
        const std::size_t n = 6 * rate, change = 4 * rate, block = rate / 20;
        const auto x = whiteNoise(n, -20, model);
        const auto e = echoOf(x, h, h2, change);
        const auto track = erleTrack(e, p.run(rate, x, withFloor(e, 1)), p.latency(rate), block);
        const double t20 = secondsToReach(track, 20, 0, 0.05), steady = meanDb(track, 70, 80);
        const double back = secondsToReach(track, 20, 81, 0.05);
        sumSteady += steady;
        std::string speechCell = "-";
        if (rate == 8000 && !speech.empty()) {
          const auto ys = echoOf(speech, h);
          const auto ts = erleTrack(ys, p.run(rate, speech, withFloor(ys, 2)), p.latency(rate), block);
          // active blocks: echo power within 30 dB of the loudest block
          double peak = 0, s = 0;
          int k = 0;
          std::vector<double> pw;
          for (std::size_t b = 0; b < ts.size(); ++b) {
            double e = 0;
            for (std::size_t i = b * block; i < (b + 1) * block; ++i) e += ys[i] * ys[i];
            pw.push_back(e);
            peak = std::fmax(peak, e);
          }
          for (std::size_t b = 0; b < ts.size(); ++b)
            if (pw[b] > peak * 1e-3) s += ts[b], ++k;
          const double mean = k ? s / k : 0;
          sumSpeech += mean;
          ++nSpeech;
          char cell[32];
          std::snprintf(cell, sizeof cell, "%.1f", mean);
          speechCell = cell;
        }
        std::printf("%-15s %5d  D.%d | %8.2f %9.1f %9.2f | %9s\n", p.name, rate, model, t20, steady, back, speechCell.c_str());
      }
      std::printf("%-15s %5d mean |          %9.1f           | %9s\n", p.name, rate, sumSteady / 8,
                  nSpeech ? std::to_string(sumSpeech / nSpeech).substr(0, 4).c_str() : "-");
    }
  return 0;
}
