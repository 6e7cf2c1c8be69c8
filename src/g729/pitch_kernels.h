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

// Interpolated excitation, n = 8 or 16 outputs: out[k] is the sum of
// taps[m] w[k + m] over the 20 taps, doubled and rounded to 16 bits as
// round_fx does (saturating).  Exact while every partial sum stays within
// 30 bits; reads w[0 .. n + 18], and the outputs are stored after all of
// them are formed (out may lie after the samples read).  n is 8, 16 or 40.
void interpolate_scalar(const int16_t* w, const int16_t* taps, int16_t* out, int n);
void interpolate_avx2(const int16_t* w, const int16_t* taps, int16_t* out, int n);

// The 40 outputs of the interpolated excitation for a window reaching back
// `back` = 18..49 samples (window of output j: exc[j - back - 9 ..
// j - back + 10]), so that later outputs read earlier ones of this call.
// Precondition: every history sample read has magnitude <= limit, where
// limit * (sum of |taps|) < 2^30.  Outputs are formed in blocks of 8 while
// every output formed so far also stays within limit (taken as at most
// 32767); returns the count formed (exc[0 .. count)
// final), the rest is the caller's.  Reads from exc - 64.
int shortDelayBlocks_scalar(int16_t* exc, int back, const int16_t* taps, int32_t limit);
int shortDelayBlocks_avx2(int16_t* exc, int back, const int16_t* taps, int32_t limit);

inline void interpolate(const int16_t* w, const int16_t* taps, int16_t* out, int n) {
  static const auto form = voksc::cpu::choose(interpolate_scalar, interpolate_avx2);
  form(w, taps, out, n);
}

inline int shortDelayBlocks(int16_t* exc, int back, const int16_t* taps, int32_t limit) {
  static const auto form = voksc::cpu::choose(shortDelayBlocks_scalar, shortDelayBlocks_avx2);
  return form(exc, back, taps, limit);
}

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
