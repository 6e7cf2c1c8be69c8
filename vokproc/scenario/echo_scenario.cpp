// G.168 scenario signals and the ERLE measure (echo_scenario.h).
#include "echo_scenario.h"

#include <cmath>
#include <cstdint>

#include "g168_tables.h"

namespace vokp::g168 {

namespace {

template <std::size_t N>
std::vector<double> widen(const int32_t (&taps)[N]) {
  return std::vector<double>(taps, taps + N);
}

constexpr double kPi = 3.14159265358979323846;

}  // namespace

std::vector<double> echoPath(int model, int sampleRate, double erlDb) {
  std::vector<double> h;
  switch (model) {
    case 2: h = widen(kPathD2); break;
    case 3: h = widen(kPathD3); break;
    case 4: h = widen(kPathD4); break;
    case 5: h = widen(kPathD5); break;
    case 6: h = widen(kPathD6); break;
    case 7: h = widen(kPathD7); break;
    case 8: h = widen(kPathD8); break;
    case 9: h = widen(kPathD9); break;
    default: return {};
  }
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

std::vector<std::pair<double, double>> narrowBandTones() {
  std::vector<std::pair<double, double>> out;
  for (const auto& pair : kTonePairs) out.push_back({double(pair[0]), double(pair[1])});
  return out;
}

std::vector<double> whiteNoise(std::size_t n, double dbfs, uint32_t seed) {
  const double rms = 32768.0 * std::pow(10.0, dbfs / 20.0), amp = rms * std::sqrt(3.0);
  std::vector<double> x(n);
  uint32_t s = seed * 2654435761u + 1;
  for (auto& v : x) {
    s = s * 1664525u + 1013904223u;
    v = amp * (2.0 * (s >> 8) / double(1 << 24) - 1.0);
  }
  return x;
}

std::vector<double> tonePair(std::size_t n, double f1, double f2, int sampleRate, double dbfs) {
  const double a = 32768.0 * std::pow(10.0, dbfs / 20.0) * std::sqrt(2.0);
  std::vector<double> x(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double t = double(i) / sampleRate;
    x[i] = a * std::sin(2 * kPi * f1 * t) + (f2 > 0 ? a * std::sin(2 * kPi * f2 * t + 1.0) : 0.0);
  }
  return x;
}

std::vector<double> echoOf(const std::vector<double>& x, const std::vector<double>& h, const std::vector<double>& h2,
                           std::size_t switchAt) {
  std::vector<double> y(x.size(), 0.0);
  for (std::size_t n = 0; n < x.size(); ++n) {
    const auto& p = n >= switchAt ? h2 : h;
    double s = 0;
    for (std::size_t k = 0; k < p.size() && k <= n; ++k) s += p[k] * x[n - k];
    y[n] = s;
  }
  return y;
}

std::vector<double> erleTrack(const std::vector<double>& echo, const std::vector<double>& residual, std::size_t delay,
                              std::size_t block) {
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

double secondsToReach(const std::vector<double>& track, double db, std::size_t fromBlock, double blockSeconds) {
  for (std::size_t b = fromBlock; b < track.size(); ++b)
    if (track[b] >= db) return double(b + 1 - fromBlock) * blockSeconds;
  return -1;
}

double meanDb(const std::vector<double>& track, std::size_t from, std::size_t to) {
  double s = 0;
  std::size_t n = 0;
  for (std::size_t b = from; b < to && b < track.size(); ++b, ++n) s += track[b];
  return n ? s / double(n) : 0.0;
}

}  // namespace vokp::g168
