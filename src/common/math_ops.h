// G.729-style 32-bit helpers on split (hi, lo) values, Log2/Pow2 and the
// inverse square root.  Mpy32 and Mpy32x16 are inline; the table-driven
// functions and the division live in math_ops.cpp.
#ifndef VOKSC_COMMON_MATH_OPS_H
#define VOKSC_COMMON_MATH_OPS_H

#include "basic_op.h"

namespace voksc {

// A 32-bit value v held as v = hi 2^16 + lo 2 with lo in 0..32767 (the
// lowest bit dropped): the operand form of the 32-bit products below.
struct Split {
  op::Word16 hi, lo;
};

inline Split vokSplit(op::Word32 v) {
  Split s;
  op::L_Extract(v, s.hi, s.lo);
  return s;
}

inline op::Word32 vokJoin(Split s) { return op::L_Comp(s.hi, s.lo); }

// 32 x 32 and 32 x 16 products of split values (basic_op.h's mpy32 and
// mpy32x16), result in the Q of hi1*hi2 doubled.
inline op::Word32 vokMpy32(op::Word16 hi1, op::Word16 lo1, op::Word16 hi2, op::Word16 lo2) {
  return op::mpy32(hi1, lo1, hi2, lo2);
}
inline op::Word32 vokMpy32x16(op::Word16 hi, op::Word16 lo, op::Word16 n) { return op::mpy32x16(hi, lo, n); }

inline op::Word32 vokMpy32(Split a, Split b) { return vokMpy32(a.hi, a.lo, b.hi, b.lo); }
inline op::Word32 vokMpy32x16(Split a, op::Word16 n) { return vokMpy32x16(a.hi, a.lo, n); }

// num / (denHi, denLo); the denominator must be positive with denHi >= 16384.
op::Word32 vokDiv32(op::Word32 num, op::Word16 denHi, op::Word16 denLo);

// Integer and Q15 fractional part of log2(x); x <= 0 gives 0 and 0.
void vokLog2(op::Word32 x, op::Word16* exponent, op::Word16* fraction);

// 2^(exponent + fraction) with exponent 0..30 and fraction Q15.
op::Word32 vokPow2(op::Word16 exponent, op::Word16 fraction);

// Normalisation count of a 32-bit word (norm_l).
inline op::Word16 vokNormL(op::Word32 x) { return op::norm_l(x); }

// 1/sqrt(x) in Q30 for x in Q0; x <= 0 gives 0x3FFFFFFF.
op::Word32 vokInvSqrt(op::Word32 x);

// 1/sqrt(frac 2^(exponent - 31)) for a normalised frac (bit 30 set), in
// the same form: frac <- the table reading in Q31, exponent <- the new
// exponent (-(exponent - 1) >> 1, an odd exponent halving frac first).
// frac <= 0 gives 0x7FFFFFFF with exponent 0.  The AMR-WB normalisations.
void vokInvSqrtNorm(op::Word32& frac, op::Word16& exponent);

}  // namespace voksc

#endif  // VOKSC_COMMON_MATH_OPS_H
