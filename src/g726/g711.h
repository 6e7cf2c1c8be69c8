// G.711 companding as G.726 specifies it around its decoder: the 16-bit
// reconstructed signal to a law character, and a law character to the
// 14-bit linear value.  A-law characters here are without the even-bit
// inversion of the line format.
#ifndef VOKSC_G728_G726_G711_H
#define VOKSC_G728_G726_G711_H

#include <cstdint>

namespace voksc::g711 {

// Number of significant bits (0 for 0).
inline int bitLength(uint32_t v) { return 31 - __builtin_clz(2 * v + 1); }

// Law character of the reconstructed signal.  A-law works on the magnitude
// halved (rounded away from zero for negative values, -32768 counting as
// -2); mu-law on the magnitude plus the 33 bias, saturated at 8158.
inline int compress(int16_t sr, bool alaw) {
  const int is = sr < 0;
  int im = is ? (-sr) & 32767 : sr;
  if (alaw) {
    if (sr == -32768) im = 2;
    int imag = is ? ((im + 1) >> 1) - 1 : im >> 1;
    if (imag > 4095) imag = 4095;
    int e = bitLength(static_cast<uint32_t>(imag)) - 5;
    if (e < 0) e = 0;
    const int mant = (imag >> (e ? e : 1)) & 15;
    return ((is << 7) | (e << 4) | mant) ^ 128;
  }
  const int t = (im > 8158 ? 8158 : im) + 33;
  const int e = bitLength(static_cast<uint32_t>(t)) - 6;
  const int mant = (t >> (e + 1)) - 16;
  return ((is << 7) | (e << 4) | mant) ^ 255;
}

// Law character to the linear value -8192..8191 (the 14-bit word of the
// Recommendation, sign-extended).
constexpr int expandLinear(int character, bool alaw) {
  int s = (character & 255) ^ 128;
  int neg = 0, mag = 0;
  if (alaw) {
    // Sign bit clear (after the inversion above: set) is negative.
    if (s >= 128) {
      s -= 128;
      neg = 1;
    }
    const int e = s >> 4, m = s & 15;
    mag = (e == 0 ? (m << 1) + 1 : ((m << 1) + 33) << (e - 1)) << 1;
    return neg ? -mag : mag;
  }
  if (s >= 128) {
    s = (s - 128) ^ 127;
    neg = 1;
  } else {
    s ^= 127;
  }
  const int e = s >> 4, m = s & 15;
  mag = e == 0 ? m << 1 : (((m << 1) + 33) << e) - 33;
  return neg ? -mag : mag;
}

}  // namespace voksc::g711

#endif  // VOKSC_G728_G726_G711_H
