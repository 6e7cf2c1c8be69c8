// G.722.1 transform and fold kernels in their scalar and AVX2 forms (the
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

}  // namespace voksc::g7221

#endif  // VOKSC_G7221_G7221_MLT_H
