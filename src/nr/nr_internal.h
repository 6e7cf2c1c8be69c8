// Noise-reduction vector kernels shared with the codec families (the G.729
// Annex A pitch gain filters through the synthesis filter) and the scalar
// and AVX2 forms of the product loops (the correlations run on the shared
// kernels of common/kernels.h).
#ifndef VOKSC_NR_NR_INTERNAL_H
#define VOKSC_NR_NR_INTERNAL_H

#include <cstdint>

#include "core/cpu.h"

namespace voksc::nr {

// Tenth-order all-pole filter 1/A(z), a[0..10] in Q(sf) (sf 12 or 13):
// y[n] = round((x[n] a[0] - sum a[j] y[n-j]) << (15 - sf)), the operator
// chain of G.729's synthesis filter, or with `exact` the sum formed exactly
// and saturated once.  mem holds the ten past outputs, oldest first, and
// receives the last ten.  x and y may be the same array.  Returns true when
// a step saturated.
bool synthesis(const int16_t* a, const int16_t* x, int16_t* y, int len, int sf, int16_t* mem, bool exact);

// d[n] = sat16((a[n] b[n] + 2^(sf-1)) >> sf), sf >= 0; at sf 15 the one
// product that rounds to 32768 wraps to -32768.
void mul_scalar(const int16_t* a, const int16_t* b, int16_t* d, int len, int sf);
void mul_avx2(const int16_t* a, const int16_t* b, int16_t* d, int len, int sf);
// The same with a constant second factor.
void mulC_scalar(const int16_t* x, int16_t c, int16_t* d, int len, int sf);
void mulC_avx2(const int16_t* x, int16_t c, int16_t* d, int len, int sf);

inline void mul(const int16_t* a, const int16_t* b, int16_t* d, int len, int sf) {
  static const auto form = voksc::cpu::choose(mul_scalar, mul_avx2);
  form(a, b, d, len, sf);
}
inline void mulC(const int16_t* x, int16_t c, int16_t* d, int len, int sf) {
  static const auto form = voksc::cpu::choose(mulC_scalar, mulC_avx2);
  form(x, c, d, len, sf);
}

}  // namespace voksc::nr

#endif  // VOKSC_NR_NR_INTERNAL_H
