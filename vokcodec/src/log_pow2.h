// Table interpolations (log2, 2^x and the like) shared by the fixed-point coders.
// The tables are the library's generated ones (one copy of the data).
#ifndef VOKCODEC_LOG_POW2_H
#define VOKCODEC_LOG_POW2_H

#include <cstdint>

#include "basic_op.h"
#include "src/common/math_tables.h"

namespace vokc {

// Entry `row` of a 33-point table minus the step to the next entry scaled
// by the Q15 fraction `frac`, in Q31.
inline int32_t tableBetween(const int16_t* t, int16_t row, int16_t frac) {
  using namespace voksc::op;
  return L_msu(L_deposit_h(t[row]), sub(t[row], t[row + 1]), frac);
}

// Interpolation of a table indexed by a normalised x: the row is bits
// 25..30 of x less `base`, the Q15 fraction the 15 bits below them.
inline int32_t tableAtNormed(const int16_t* t, int32_t x, int16_t base) {
  using namespace voksc::op;
  x = L_shr(x, 9);
  return tableBetween(t, sub(extract_h(x), base), static_cast<int16_t>(extract_l(L_shr(x, 1)) & 0x7FFF));
}

// log2(x) = exponent + fraction / 32768 for x > 0; both 0 for x <= 0.
inline void log2Split(int32_t x, int16_t& exponent, int16_t& fraction) {
  using namespace voksc::op;
  if (x <= 0) {
    exponent = fraction = 0;
    return;
  }
  const int16_t n = norm_l(x);
  exponent = sub(30, n);
  fraction = extract_h(tableAtNormed(voksc::tables::kLog2Table, L_shl(x, n), 32));
}

// 2^(exponent + fraction / 32768), rounded, for exponent 0..30.
inline int32_t pow2Join(int16_t exponent, int16_t fraction) {
  using namespace voksc::op;
  const int32_t t = L_mult(fraction, 32);
  const int16_t frac = static_cast<int16_t>(extract_l(L_shr(t, 1)) & 0x7FFF);
  return L_shr_r(tableBetween(voksc::tables::kPow2Table, extract_h(t), frac), sub(30, exponent));
}

}  // namespace vokc

#endif  // VOKCODEC_LOG_POW2_H
