#include "math_ops.h"

#include "math_tables.h"

namespace voksc {

using namespace op;

namespace {

// Piecewise-linear reading of a function sampled in a 16-bit table: the
// sample at `row` in the high word, less the step to the next sample
// weighted by the Q15 position `pos` between them.  All three tables are
// monotone with steps below 2^11, so the msu never saturates and the result
// is exactly table[row] 2^16 - 2 step pos.
inline Word32 readTable(const int16_t* table, int row, Word16 pos) {
  const Word16 step = static_cast<Word16>(table[row] - table[row + 1]);
  return L_msu(L_deposit_h(table[row]), step, pos);
}

// Bits 25..30 of a positive word (the table row) and bits 10..24 (the
// position inside that row, Q15).
inline int rowOf(Word32 v) { return static_cast<int>(v >> 25); }
inline Word16 posOf(Word32 v) { return static_cast<Word16>((v >> 10) & 0x7FFF); }

}  // namespace

// The reciprocal of the denominator starts from its high word alone
// (r = 0.5 / hi, Q14) and takes one Newton step r' = r (2 - d r): d r is
// Q30, so "2 - d r" is kMax32 - d r in Q30 and r' comes out in Q29.  The
// quotient num r' is Q29 and goes back to Q31 by the final shift.
Word32 vokDiv32(Word32 num, Word16 denHi, Word16 denLo) {
  const Word16 seed = div_s(0x3FFF, denHi);
  const Split correction = vokSplit(L_sub(kMax32, vokMpy32x16(Split{denHi, denLo}, seed)));
  const Split reciprocal = vokSplit(vokMpy32x16(correction, seed));
  return L_shl(vokMpy32(vokSplit(num), reciprocal), 2);
}

// x = 2^(30 - n) m with m = x << n in [2^30, 2^31): the exponent is 30 - n
// and log2(m / 2^30) is read from the 33-point table, indexed by the six
// bits under the leading one.
void vokLog2(Word32 x, Word16* exponent, Word16* fraction) {
  Word16 whole = 0, part = 0;
  if (x > 0) {
    const Word16 n = norm_l(x);
    const Word32 m = x << n;
    whole = static_cast<Word16>(30 - n);
    part = extract_h(readTable(tables::kLog2Table, rowOf(m) - 32, posOf(m)));
  }
  *exponent = whole;
  *fraction = part;
}

// 2^fraction (Q15 fraction) read from the 33-point table in Q30: its top
// five bits pick the row and the other ten the position; the exponent then
// moves the result from Q30 with rounding.
Word32 vokPow2(Word16 exponent, Word16 fraction) {
  const int row = (fraction >> 10) & 0x1F;
  const Word16 pos = static_cast<Word16>((fraction << 5) & 0x7FFF);
  return L_shr_r(readTable(tables::kPow2Table, row, pos), static_cast<Word16>(30 - exponent));
}

// x = 2^k m with the mantissa m in [0.25, 1) chosen so that k is even:
// 1/sqrt(x) = 2^(-k/2) / sqrt(m), with 1/sqrt(m) read from the table that
// starts at 0.25 (rows 16..63 of the mantissa's top six bits).
Word32 vokInvSqrt(Word32 x) {
  if (x <= 0) return 0x3FFFFFFF;
  const Word16 n = norm_l(x);
  Word32 m = x << n;
  const Word16 k = static_cast<Word16>(30 - n);
  if ((k & 1) == 0) m >>= 1;
  const Word16 shift = static_cast<Word16>((k >> 1) + 1);
  return L_shr(readTable(tables::kInvSqrtTable, rowOf(m) - 16, posOf(m)), shift);
}

void vokInvSqrtNorm(Word32& frac, Word16& exponent) {
  if (frac <= 0) {
    frac = kMax32;
    exponent = 0;
    return;
  }
  const Word32 m = (exponent & 1) ? frac >> 1 : frac;
  exponent = negate(shr(sub(exponent, 1), 1));
  frac = readTable(tables::kInvSqrtTable, rowOf(m) - 16, posOf(m));
}

}  // namespace voksc
