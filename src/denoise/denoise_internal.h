// Internal steps of the noise filters that the tests call directly.
#ifndef VOKSC_DENOISE_DENOISE_INTERNAL_H
#define VOKSC_DENOISE_DENOISE_INTERNAL_H

#include <cstdint>

namespace voksc::denoise {

constexpr int kBins = 65;  // bins of the 128-point transform

// Gain parameters of one suppression level (named after their letters in
// the level table: A gain slope, D floor of bins 0..2, F floor of the other
// bins, B/C noise smoothing pair, G..J the level-4 path's constants).
struct LevelParams {
  float A, D, F, G, B, C, H, I, J;
  int32_t noiseUpdate;  // 1: noise powers averaged with B/C; 0: the last noise block alone
  int32_t periodDiv;    // the update period is fs / periodDiv samples
};

// Per-bin gain of levels 1, 2, 3 and 5, in the order of its definition:
// gamma = P R limited to 1..32767; Gamma = 0.5 Gamma + 0.5 gamma (in place);
// g = float(A Gamma), raised to D (bins 0..2) or F (bins 3..64), limited to
// 1.  Returns the smallest gain of bins 3..63.
float ratioGains(const double* P, const double* R, double* Gamma, const LevelParams& p, float* g);

// The same stage of level 4 (its own ratio smoothing, bin-average ratio and
// gain law; see voksc.h).  Gamma4 and average are its state.
float ratioGainsLevel4(const double* P, const double* R, double* Gamma4, double* average, const LevelParams& p,
                       float* g);

// RTA gain of one bin from r = P/N: gmax above 1 + 30 gmax^2, gmin below
// 1 + 30 gmin^2, sqrt((r - 1)/30) between.
float rtaGain(float r, float gmin, float gmax);

}  // namespace voksc::denoise

#endif  // VOKSC_DENOISE_DENOISE_INTERNAL_H
