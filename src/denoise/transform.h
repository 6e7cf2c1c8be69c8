// Shared transform set-ups of the noise filters (see transform.cpp).
#ifndef VOKSC_DENOISE_TRANSFORM_H
#define VOKSC_DENOISE_TRANSFORM_H

#include "fft/fft.h"

namespace voksc::denoise {

// 128 points, inverse scaled by 1/128 (the echo-canceller family).
const fft::RealFftSpec_32f* ecTransform();
// 256 points, forward scaled by 1/256 (the RTA family).
const fft::RealFftSpec_32f* rtaTransform();

}  // namespace voksc::denoise

#endif  // VOKSC_DENOISE_TRANSFORM_H
