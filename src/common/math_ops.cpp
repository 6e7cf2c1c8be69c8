#include "math_ops.h"

#include "math_tables.h"

namespace voksc {

using namespace op;

Word32 vokDiv32(Word32 num, Word16 denHi, Word16 denLo) {
  // First approximation 1/den = 1/denHi (Q14), then one Newton step:
  // 1/den = approx * (2 - den * approx).
  Word16 approx = div_s(0x3FFF, denHi);
  Word32 t = L_sub(kMax32, vokMpy32x16(denHi, denLo, approx));
  Word16 hi, lo, nHi, nLo;
  L_Extract(t, hi, lo);
  t = vokMpy32x16(hi, lo, approx);  // 1/den in Q29
  L_Extract(t, hi, lo);
  L_Extract(num, nHi, nLo);
  return L_shl(vokMpy32(nHi, nLo, hi, lo), 2);
}

void vokLog2(Word32 x, Word16* exponent, Word16* fraction) {
  if (x <= 0) {
    *exponent = 0;
    *fraction = 0;
    return;
  }
  Word16 e = norm_l(x);
  x <<= e;
  *exponent = static_cast<Word16>(30 - e);
  Word16 i = static_cast<Word16>((x >> 25) - 32);
  Word16 a = static_cast<Word16>((x >> 10) & 0x7FFF);
  Word32 y = L_deposit_h(tables::kLog2Table[i]);
  Word16 d = static_cast<Word16>(tables::kLog2Table[i] - tables::kLog2Table[i + 1]);
  y = L_msu(y, d, a);
  *fraction = extract_h(y);
}

Word32 vokPow2(Word16 exponent, Word16 fraction) {
  Word16 i = static_cast<Word16>((fraction >> 10) & 0x1F);
  Word16 a = static_cast<Word16>((fraction << 5) & 0x7FFF);
  Word32 x = L_deposit_h(tables::kPow2Table[i]);
  Word16 d = static_cast<Word16>(tables::kPow2Table[i] - tables::kPow2Table[i + 1]);
  x = L_msu(x, d, a);
  return L_shr_r(x, static_cast<Word16>(30 - exponent));
}

Word32 vokInvSqrt(Word32 x) {
  if (x <= 0) return 0x3FFFFFFF;
  Word16 e = norm_l(x);
  x <<= e;
  e = static_cast<Word16>(30 - e);
  if ((e & 1) == 0) x >>= 1;
  e = static_cast<Word16>((e >> 1) + 1);
  Word16 i = static_cast<Word16>((x >> 25) - 16);
  Word16 a = static_cast<Word16>((x >> 10) & 0x7FFF);
  Word32 y = L_deposit_h(tables::kInvSqrtTable[i]);
  Word16 d = static_cast<Word16>(tables::kInvSqrtTable[i] - tables::kInvSqrtTable[i + 1]);
  y = L_msu(y, d, a);
  return L_shr(y, e);
}

}  // namespace voksc
