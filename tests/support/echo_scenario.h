// Echo-canceller scenarios after ITU-T G.168: echo paths D.2-D.9 scaled to
// a chosen echo return loss, far-end and near-end signals (white noise,
// the tone pairs of test 6), and the ERLE measure.  Shared by the subband
// and full-band canceller tests and tools; the canceller under test is
// supplied by the caller.
#ifndef VOKSC_TESTS_SUPPORT_ECHO_SCENARIO_H
#define VOKSC_TESTS_SUPPORT_ECHO_SCENARIO_H

#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "vectors.h"

namespace vtest::echo {

// The tables of testvectors/g168/g168_models.tbl by name (empty when absent).
inline const std::map<std::string, std::vector<double>>& g168Tables() {
  static const std::map<std::string, std::vector<double>> tables = [] {
    std::map<std::string, std::vector<double>> t;
    std::ifstream f(testVectorDir() + "/g168/g168_models.tbl");
    std::string line, current;
    while (std::getline(f, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream in(line);
      if (line.rfind("table ", 0) == 0) {
        std::string kw;
        in >> kw >> current;
        continue;
      }
      double v;
      while (in >> v) t[current].push_back(v);
    }
    return t;
  }();
  return tables;
}

// Echo path model D.<model> (2..9) at 8000 or 16000 Hz (16 kHz: the 8 kHz
// response with midpoints inserted), scaled so that white noise meets the
// echo return loss erlDb.
inline std::vector<double> echoPath(int model, int sampleRate, double erlDb) {
  const auto& t = g168Tables();
  auto it = t.find("line_model_d" + std::to_string(model) + "_coeffs");
  if (it == t.end()) return {};
  std::vector<double> h = it->second;
  if (sampleRate == 16000) {
    std::vector<double> up(2 * h.size());
    for (std::size_t n = 0; n < h.size(); ++n) {
      up[2 * n] = h[n];
      up[2 * n + 1] = 0.5 * (h[n] + (n + 1 < h.size() ? h[n + 1] : 0.0));
    }
    h = up;
  }
  double e = 0;
  for (double v : h) e += v * v;
  const double scale = std::pow(10.0, -erlDb / 20.0) / std::sqrt(e);
  for (double& v : h) v *= scale;
  return h;
}

// The tone pairs (Hz) of G.168 test 6; a second frequency of 0 means a single tone.
inline std::vector<std::pair<double, double>> narrowBandTones() {
  std::vector<std::pair<double, double>> out;
  const auto& t = g168Tables();
  auto it = t.find("tones_6_4_2_7");
  if (it != t.end())
    for (std::size_t i = 0; i + 1 < it->second.size(); i += 2) out.push_back({it->second[i], it->second[i + 1]});
  return out;
}

// Uniform white noise of the given RMS level (dB below 16-bit full scale 32768).
inline std::vector<double> whiteNoise(std::size_t n, double dbfs, uint32_t seed) {
  const double rms = 32768.0 * std::pow(10.0, dbfs / 20.0), amp = rms * std::sqrt(3.0);
  std::vector<double> x(n);
  uint32_t s = seed * 2654435761u + 1;
  for (auto& v : x) {
    s = s * 1664525u + 1013904223u;
    v = amp * (2.0 * (s >> 8) / double(1 << 24) - 1.0);
  }
  return x;
}

// A tone pair, each tone at the given RMS level (dBFS).
inline std::vector<double> tonePair(std::size_t n, double f1, double f2, int sampleRate, double dbfs) {
  const double a = 32768.0 * std::pow(10.0, dbfs / 20.0) * std::sqrt(2.0);
  std::vector<double> x(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double t = double(i) / sampleRate;
    x[i] = a * std::sin(2 * M_PI * f1 * t) + (f2 > 0 ? a * std::sin(2 * M_PI * f2 * t + 1.0) : 0.0);
  }
  return x;
}

// y = h * x; the path may change at sample `switchAt` to h2.
inline std::vector<double> echoOf(const std::vector<double>& x, const std::vector<double>& h,
                                  const std::vector<double>& h2 = {}, std::size_t switchAt = SIZE_MAX) {
  std::vector<double> y(x.size(), 0.0);
  for (std::size_t n = 0; n < x.size(); ++n) {
    const auto& p = n >= switchAt ? h2 : h;
    double s = 0;
    for (std::size_t k = 0; k < p.size() && k <= n; ++k) s += p[k] * x[n - k];
    y[n] = s;
  }
  return y;
}

// ERLE per block of `block` samples: 10 log10 of the echo power over the
// residual power, the residual delayed by `delay` samples against the echo.
inline std::vector<double> erleTrack(const std::vector<double>& echo, const std::vector<double>& residual,
                                     std::size_t delay, std::size_t block) {
  std::vector<double> out;
  for (std::size_t b = 0; (b + 1) * block + delay <= residual.size() && (b + 1) * block <= echo.size(); ++b) {
    double pe = 1e-30, pr = 1e-30;
    for (std::size_t i = b * block; i < (b + 1) * block; ++i) {
      pe += echo[i] * echo[i];
      pr += residual[i + delay] * residual[i + delay];
    }
    out.push_back(10 * std::log10(pe / pr));
  }
  return out;
}

// Seconds from `fromBlock` until the track first reaches `db` (negative if never).
inline double secondsToReach(const std::vector<double>& track, double db, std::size_t fromBlock, double blockSeconds) {
  for (std::size_t b = fromBlock; b < track.size(); ++b)
    if (track[b] >= db) return double(b + 1 - fromBlock) * blockSeconds;
  return -1;
}

// Mean (in dB of the mean powers' ratio is not needed here) of the track's blocks from..to-1.
inline double meanDb(const std::vector<double>& track, std::size_t from, std::size_t to) {
  double s = 0;
  std::size_t n = 0;
  for (std::size_t b = from; b < to && b < track.size(); ++b, ++n) s += track[b];
  return n ? s / double(n) : 0.0;
}

}  // namespace vtest::echo

#endif  // VOKSC_TESTS_SUPPORT_ECHO_SCENARIO_H
