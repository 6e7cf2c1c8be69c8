// G.722.1 transform, fold and region quantiser kernels in their scalar and AVX2 forms (the
// exports pick one through core/cpu.h; tests hold the forms to each other).
#ifndef VOKSC_G7221_G7221_MLT_H
#define VOKSC_G7221_G7221_MLT_H

#include <cstdint>

namespace voksc::g7221 {

// len is 320 or 640; src may equal dst.
void forwardDctScalar(const int16_t* src, int16_t* dst, int len);
void forwardDctAvx2(const int16_t* src, int16_t* dst, int len);
void inverseDctScalar(const int16_t* src, int16_t* dst, int len);
void inverseDctAvx2(const int16_t* src, int16_t* dst, int len);
void analysisFoldScalar(const int16_t* prev, const int16_t* cur, int16_t* out, int len);
void analysisFoldAvx2(const int16_t* prev, const int16_t* cur, int16_t* out, int len);
void synthesisFoldScalar(const int16_t* cur, const int16_t* kept, int16_t* out, int len);
void synthesisFoldAvx2(const int16_t* cur, const int16_t* kept, int16_t* out, int len);

// Quantised levels of a region (20 coefficients) for a category.  Level of
// |x|: |x| times the scale, plus the dead-zone offset, in Q13.  The scale
// is kept in two parts (its value >> 2 and its low two bits) and the low
// part's contribution is formed in 16-bit arithmetic, wrapping where it
// overflows; the level keeps the low 16 bits of the sum.  A non-zero level
// outside 1..top (an index far below the region's power) becomes top.
// Bit j of nonZero / positive tells whether level j is non-zero / x[j] > 0.
struct Quantiser {
  int16_t scale, scaleLow, deadZone, deadZoneLow, top;
};
struct Levels {
  int16_t level[32];
  uint32_t nonZero;
  uint32_t positive;
};
void regionLevelsScalar(const Quantiser& q, const int16_t* coefs, Levels& out);
void regionLevelsAvx2(const Quantiser& q, const int16_t* coefs, Levels& out);

}  // namespace voksc::g7221

#endif  // VOKSC_G7221_G7221_MLT_H
