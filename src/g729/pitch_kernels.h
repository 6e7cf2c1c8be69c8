// Inner loops of the G.729 closed-loop search, each as a portable scalar form
// and an AVX2 form with identical results; the unsuffixed name picks the
// build's choice.
#ifndef VOKSC_G729_PITCH_KERNELS_H
#define VOKSC_G729_PITCH_KERNELS_H

#include <cstdint>

#include "core/cpu.h"

namespace voksc::g729::pitch {

// Exact energy of s and correlation of s with x over one subframe.
void energyAndCorrelation_scalar(const int16_t* s, const int16_t* x, int64_t& energy, int64_t& corr);
void energyAndCorrelation_avx2(const int16_t* s, const int16_t* x, int64_t& energy, int64_t& corr);

// The filtered excitation of delay t+1 from that of delay t (one subframe):
// out[j] = add(extract_h(L_shl(L_mult(e, h[j]), hFac)), in[j-1]) for
// j = 1..39 and out[0] = shr(e, scaling), e being the new oldest sample.
// in and out are distinct arrays.
void shiftFiltered_scalar(const int16_t* in, int16_t* out, int16_t e, const int16_t* h, int hFac, int scaling);
void shiftFiltered_avx2(const int16_t* in, int16_t* out, int16_t e, const int16_t* h, int hFac, int scaling);

inline void energyAndCorrelation(const int16_t* s, const int16_t* x, int64_t& energy, int64_t& corr) {
  static const auto form = voksc::cpu::choose(energyAndCorrelation_scalar, energyAndCorrelation_avx2);
  form(s, x, energy, corr);
}

inline void shiftFiltered(const int16_t* in, int16_t* out, int16_t e, const int16_t* h, int hFac, int scaling) {
  static const auto form = voksc::cpu::choose(shiftFiltered_scalar, shiftFiltered_avx2);
  form(in, out, e, h, hFac, scaling);
}

}  // namespace voksc::g729::pitch

#endif  // VOKSC_G729_PITCH_KERNELS_H
