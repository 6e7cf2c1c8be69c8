// G.729 all-pole synthesis and all-zero residual filters, shared by the
// analysis, pitch, codebook and post-filter code of the family.
//
// Both follow the G.729 operator chains: Q12 coefficients, products doubled
// (L_mult), accumulated with saturation, shifted left by 3 and rounded to
// the upper word.  The kernels reach the same results without saturating
// arithmetic whenever a bound shows that no partial sum can leave 32 bits.
#ifndef VOKSC_G729_FILT_INTERNAL_H
#define VOKSC_G729_FILT_INTERNAL_H

#include <cstdint>

namespace voksc::g729 {

// 1/A(z) of order `order` over len samples: y[n] = round((x[n] a[0] -
// sum a[j] y[n-j]) << 3).  mem holds the order past outputs (oldest first)
// and receives the last order outputs when `update`; a null mem is a zero
// history.  y may equal x; no length limit.  Returns true when the reference's overflow flag would be
// set (a saturating product, sum, shift or rounding).
bool synthesisFilter(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int16_t* mem,
                     bool update);
// Its two forms (order 10 keeps the history in vector lanes in the AVX2
// form); results and flags are identical.
bool synthesisFilter_scalar(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int16_t* mem,
                            bool update);
bool synthesisFilter_avx2(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int16_t* mem,
                          bool update);

// A(z) of order `order` over len samples: y[n] = round((sum a[j] x[n-j])
// << 3), j = 0..order; x holds `order` samples of history before x[0].
// y must not overlap x.
void residualFilter(const int16_t* a, int order, const int16_t* x, int16_t* y, int len);

// The two forms of the residual kernel.  Both take the exact 32-bit path
// when sum |a[j]| * max |x| keeps every partial sum inside 31 bits and
// otherwise fall back to the saturating chain; results are identical.
void residualFilter_scalar(const int16_t* a, int order, const int16_t* x, int16_t* y, int len);
void residualFilter_avx2(const int16_t* a, int order, const int16_t* x, int16_t* y, int len);

// The float filtered-excitation update y[n] = y[n-1] + e h[n] (top down),
// y[0] = e h[0]; both forms give identical results.
void filteredExcitation_scalar(const float* h, float* y, int len, float e);
void filteredExcitation_avx2(const float* h, float* y, int len, float e);

// The names the older filter code used.
inline bool synthesis(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int16_t* mem,
                      bool update) {
  return synthesisFilter(a, order, x, y, len, mem, update);
}
inline void residual10(const int16_t* a, const int16_t* x, int16_t* y, int len) {
  residualFilter(a, 10, x, y, len);
}

// Bandwidth expansion: ap[i] = round(a[i] gamma^i), gamma^i kept as the
// rounded running product (the G.729 Weight_Az), i = 0..order.
void weightCoefficients(const int16_t* a, int16_t gamma, int order, int16_t* ap);

}  // namespace voksc::g729

#endif  // VOKSC_G729_FILT_INTERNAL_H
