// G.729 filtering steps shared by the pitch, codebook and post-filter code.
#ifndef VOKSC_G729_FILTER_INTERNAL_H
#define VOKSC_G729_FILTER_INTERNAL_H

#include <cstdint>

#include "filt_internal.h"  // synthesis and residual filters

namespace voksc::g729 {

// y[n] = (sum x[i] h[n-i]) << 1 << 3 >> 16 (the G.729 convolution, Q12 h).
void convolve40(const int16_t* x, const int16_t* h, int16_t* y);
// Adaptive-codebook vector by 1/3-resolution interpolation, written into
// exc[0..len-1] from the past samples before it.
void predictLt3(int16_t* exc, int t0, int frac, int len);
// Normalised-correlation interpolation at fraction frac (-2..2).
int16_t interpol3(const int16_t* x, int frac);
// L_mac-chain dot product with saturation.
int32_t dotProduct(const int16_t* a, const int16_t* b, int len);
// The G.729 pitch gain of target xn and filtered vector y (40 samples):
// returns the gain (Q14) and the four terms yy, exp, xy, exp the gain
// quantiser reuses.
int16_t pitchGain(const int16_t* xn, const int16_t* y, int16_t* coeff);
// Correlation of the target with the impulse response, normalised to 13
// bits (the backward-filtered target of the codebook searches).
void targetCorrelation(const int16_t* h, const int16_t* x, int16_t* dn);

}  // namespace voksc::g729

#endif  // VOKSC_G729_FILTER_INTERNAL_H
