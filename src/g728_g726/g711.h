// G.711 companding as G.726 specifies it around its decoder: the 16-bit
// reconstructed signal to a law character, and a law character to the
// 14-bit linear value.  A-law characters here are without the even-bit
// inversion of the line format.
#ifndef VOKSC_G728_G726_G711_H
#define VOKSC_G728_G726_G711_H

#include <cstdint>

namespace voksc::g711 {

int compress(int16_t sr, bool alaw);
// 14-bit two's complement in 0..16383.
int expand14(int character, bool alaw);
// The same as a signed value -8192..8191.
inline int expandLinear(int character, bool alaw) {
  int v = expand14(character, alaw);
  return v >= 8192 ? v - 16384 : v;
}

}  // namespace voksc::g711

#endif  // VOKSC_G728_G726_G711_H
