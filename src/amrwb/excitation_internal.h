// Saturating correlation chains shared by the AMR-WB excitation searches.
#ifndef VOKSC_AMRWB_EXCITATION_INTERNAL_H
#define VOKSC_AMRWB_EXCITATION_INTERNAL_H

#include <cstdint>

#include "common/basic_op.h"
#include "common/kernels.h"

namespace voksc::amrwb {

// init + the doubled products a[i] b[i], saturating after every term.
inline op::Word32 macChain(op::Word32 init, const int16_t* a, const int16_t* b, int n) {
  op::Word32 s = init;
  for (int i = 0; i < n; ++i) s = op::L_mac(s, a[i], b[i]);
  return s;
}

// The chain init + sum 2 a[i] b[i] for init in {0, 1}.  Sums of squares
// only grow, so their chain is the clamp of the exact total; for a cross
// sum the energies bound every partial sum by sqrt(ea eb) (Cauchy-Schwarz),
// and below 2^30 no step can saturate.  Otherwise the chain is run.
inline bool boundedPair(int64_t ea, int64_t eb) { return ea == 0 || eb < (int64_t{1} << 60) / ea; }
inline op::Word32 crossChain(op::Word32 init, const int16_t* a, const int16_t* b, int n, int64_t ea, int64_t eb) {
  if (boundedPair(ea, eb)) return static_cast<op::Word32>(init + 2 * kern::dot(a, b, n));
  return macChain(init, a, b, n);
}
inline op::Word32 crossChain(op::Word32 init, const int16_t* a, const int16_t* b, int n) {
  return crossChain(init, a, b, n, kern::dot(a, a, n), kern::dot(b, b, n));
}
inline op::Word32 energyChain(op::Word32 init, const int16_t* a, int n) {
  return kern::sat32(init + 2 * kern::dot(a, a, n));
}

// A chain started at 1, normalised: the shifted sum (bit 30 set, or the
// sign's complement) and the exponent 30 - shift.
struct Normalised {
  op::Word32 value;
  op::Word16 exp;
};
inline Normalised normalise(op::Word32 sum) {
  const op::Word16 s = op::norm_l(sum);
  return {op::L_shl(sum, s), static_cast<op::Word16>(30 - s)};
}

}  // namespace voksc::amrwb

#endif  // VOKSC_AMRWB_EXCITATION_INTERNAL_H
