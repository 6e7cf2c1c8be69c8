// Fixed-point basic operators of the ITU-T / 3GPP reference arithmetic.
//
// Every 16-bit family of the library computes with these operators and with
// nothing else of its own, so results match the published fixed-point code
// bit for bit.  All operators are pure inline functions; where a reference
// procedure inspects the global overflow flag, the `_o` forms below set a
// caller-held flag instead (no global state).
#ifndef VOKSC_COMMON_BASIC_OP_H
#define VOKSC_COMMON_BASIC_OP_H

#include <cstdint>

namespace voksc::op {

using Word16 = int16_t;
using Word32 = int32_t;
using Word64 = int64_t;

constexpr Word16 kMax16 = 32767;
constexpr Word16 kMin16 = -32768;
constexpr Word32 kMax32 = 0x7FFFFFFF;
constexpr Word32 kMin32 = static_cast<Word32>(0x80000000u);

// ---- saturation -----------------------------------------------------------

inline Word16 sat16(Word32 x) {
  return x > kMax16 ? kMax16 : (x < kMin16 ? kMin16 : static_cast<Word16>(x));
}
inline Word32 sat32(Word64 x) {
  return x > kMax32 ? kMax32 : (x < kMin32 ? kMin32 : static_cast<Word32>(x));
}
inline Word16 sat16_o(Word32 x, bool& ovf) {
  if (x > kMax16) { ovf = true; return kMax16; }
  if (x < kMin16) { ovf = true; return kMin16; }
  return static_cast<Word16>(x);
}
inline Word32 sat32_o(Word64 x, bool& ovf) {
  if (x > kMax32) { ovf = true; return kMax32; }
  if (x < kMin32) { ovf = true; return kMin32; }
  return static_cast<Word32>(x);
}

// ---- 16-bit arithmetic ----------------------------------------------------

#if defined(__GNUC__) || defined(__clang__)
// The sum in the operands' width with the processor's overflow flag: an
// overflow can only go towards the sign of the first operand (the second's
// for a subtraction, reversed), which picks the bound.  Same results as the
// widened forms below, with two instructions where no overflow occurs.
inline Word16 add(Word16 a, Word16 b) {
  Word16 r;
  return __builtin_add_overflow(a, b, &r) ? (a < 0 ? kMin16 : kMax16) : r;
}
inline Word16 sub(Word16 a, Word16 b) {
  Word16 r;
  return __builtin_sub_overflow(a, b, &r) ? (a < 0 ? kMin16 : kMax16) : r;
}
#else
inline Word16 add(Word16 a, Word16 b) { return sat16(Word32{a} + b); }
inline Word16 sub(Word16 a, Word16 b) { return sat16(Word32{a} - b); }
#endif
inline Word16 abs_s(Word16 a) { return a == kMin16 ? kMax16 : static_cast<Word16>(a < 0 ? -a : a); }
inline Word16 negate(Word16 a) { return a == kMin16 ? kMax16 : static_cast<Word16>(-a); }
inline Word16 mult(Word16 a, Word16 b) { return sat16((Word32{a} * b) >> 15); }
inline Word16 mult_r(Word16 a, Word16 b) { return sat16((Word32{a} * b + 0x4000) >> 15); }
inline Word16 extract_h(Word32 x) { return static_cast<Word16>(x >> 16); }
inline Word16 extract_l(Word32 x) { return static_cast<Word16>(x); }

// ---- 32-bit arithmetic ----------------------------------------------------

#if defined(__GNUC__) || defined(__clang__)
inline Word32 L_add(Word32 a, Word32 b) {
  Word32 r;
  return __builtin_add_overflow(a, b, &r) ? (a < 0 ? kMin32 : kMax32) : r;
}
inline Word32 L_sub(Word32 a, Word32 b) {
  Word32 r;
  return __builtin_sub_overflow(a, b, &r) ? (a < 0 ? kMin32 : kMax32) : r;
}
#else
inline Word32 L_add(Word32 a, Word32 b) { return sat32(Word64{a} + b); }
inline Word32 L_sub(Word32 a, Word32 b) { return sat32(Word64{a} - b); }
#endif
inline Word32 L_add_o(Word32 a, Word32 b, bool& ovf) { return sat32_o(Word64{a} + b, ovf); }
inline Word32 L_sub_o(Word32 a, Word32 b, bool& ovf) { return sat32_o(Word64{a} - b, ovf); }
inline Word32 L_abs(Word32 a) { return a == kMin32 ? kMax32 : (a < 0 ? -a : a); }
inline Word32 L_negate(Word32 a) { return a == kMin32 ? kMax32 : -a; }

inline Word32 L_mult(Word16 a, Word16 b) {
  Word32 p = Word32{a} * b;
  return p == 0x40000000 ? kMax32 : p * 2;
}
inline Word32 L_mult_o(Word16 a, Word16 b, bool& ovf) {
  Word32 p = Word32{a} * b;
  if (p == 0x40000000) { ovf = true; return kMax32; }
  return p * 2;
}
inline Word32 L_mac(Word32 acc, Word16 a, Word16 b) { return L_add(acc, L_mult(a, b)); }
inline Word32 L_msu(Word32 acc, Word16 a, Word16 b) { return L_sub(acc, L_mult(a, b)); }
inline Word32 L_mac_o(Word32 acc, Word16 a, Word16 b, bool& ovf) {
  return L_add_o(acc, L_mult_o(a, b, ovf), ovf);
}
inline Word32 L_msu_o(Word32 acc, Word16 a, Word16 b, bool& ovf) {
  return L_sub_o(acc, L_mult_o(a, b, ovf), ovf);
}
// Products accumulated without the doubling's saturation (i_mult / L_mult0 family).
inline Word32 L_mult0(Word16 a, Word16 b) { return Word32{a} * b; }
inline Word32 L_mac0(Word32 acc, Word16 a, Word16 b) { return L_add(acc, L_mult0(a, b)); }
inline Word32 L_msu0(Word32 acc, Word16 a, Word16 b) { return L_sub(acc, L_mult0(a, b)); }

inline Word16 round_fx(Word32 x) {
  return x < 0x7FFF8000 ? static_cast<Word16>((x + 0x8000) >> 16) : kMax16;
}
inline Word16 mac_r(Word32 acc, Word16 a, Word16 b) { return round_fx(L_mac(acc, a, b)); }
inline Word16 msu_r(Word32 acc, Word16 a, Word16 b) { return round_fx(L_msu(acc, a, b)); }

inline Word32 L_deposit_h(Word16 a) { return static_cast<Word32>(static_cast<uint32_t>(static_cast<uint16_t>(a)) << 16); }
inline Word32 L_deposit_l(Word16 a) { return a; }

// ---- shifts (a negative count shifts the other way) ----------------------

inline Word16 shr(Word16 a, Word16 n);
inline Word16 shl(Word16 a, Word16 n) {
  if (n < 0) return shr(a, static_cast<Word16>(n < -16 ? 16 : -n));
  if (a == 0) return 0;
  if (n > 15) return a > 0 ? kMax16 : kMin16;
  Word32 r = Word32{a} * (Word32{1} << n);
  if (r != static_cast<Word16>(r)) return a > 0 ? kMax16 : kMin16;
  return static_cast<Word16>(r);
}
inline Word16 shr(Word16 a, Word16 n) {
  if (n < 0) return shl(a, static_cast<Word16>(n < -16 ? 16 : -n));
  if (n >= 15) return a < 0 ? -1 : 0;
  return static_cast<Word16>(a >> n);
}
inline Word32 L_shr(Word32 x, Word16 n);
inline Word32 L_shl(Word32 x, Word16 n) {
  if (n <= 0) return L_shr(x, static_cast<Word16>(n < -32 ? 32 : -n));
  if (x == 0) return 0;
  if (n >= 31) return x > 0 ? kMax32 : kMin32;
  Word64 r = Word64{x} * (Word64{1} << n);
  return sat32(r);
}
inline Word32 L_shl_o(Word32 x, Word16 n, bool& ovf) {
  if (n <= 0) return L_shr(x, static_cast<Word16>(n < -32 ? 32 : -n));
  if (x == 0) return 0;
  if (n >= 31) { ovf = true; return x > 0 ? kMax32 : kMin32; }
  return sat32_o(Word64{x} * (Word64{1} << n), ovf);
}
inline Word32 L_shr(Word32 x, Word16 n) {
  if (n < 0) return L_shl(x, static_cast<Word16>(n < -32 ? 32 : -n));
  if (n >= 31) return x < 0 ? -1 : 0;
  return x >> n;
}
inline Word16 shr_r(Word16 a, Word16 n) {
  if (n > 15) return 0;
  Word16 r = shr(a, n);
  if (n > 0 && (a & (Word16{1} << (n - 1)))) r = static_cast<Word16>(r + 1);
  return r;
}
inline Word32 L_shr_r(Word32 x, Word16 n) {
  if (n > 31) return 0;
  Word32 r = L_shr(x, n);
  if (n > 0 && (x & (Word32{1} << (n - 1)))) r++;
  return r;
}

// ---- normalisation and division ------------------------------------------

// Left shifts that bring the most significant bit next to the sign bit.
// As in the reference operators: 0 gives 0, -1 gives 15 (31 for norm_l).
inline Word16 norm_s(Word16 a) {
  if (a == 0) return 0;
  if (a == -1) return 15;
  uint32_t v = static_cast<uint32_t>(a < 0 ? ~a : a) & 0xFFFFu;
  return static_cast<Word16>(__builtin_clz(v) - 17);
}
inline Word16 norm_l(Word32 x) {
  if (x == 0) return 0;
  if (x == -1) return 31;
  uint32_t v = static_cast<uint32_t>(x < 0 ? ~x : x);
  return static_cast<Word16>(__builtin_clz(v) - 1);
}

// a * 32768 / b truncated, for 0 <= a <= b, b > 0; a == b gives 32767.
// Callers guarantee the domain; outside it the result is 0.
inline Word16 div_s(Word16 a, Word16 b) {
  if (a <= 0 || b <= 0 || a > b) return 0;
  if (a == b) return kMax16;
  return static_cast<Word16>((Word32{a} << 15) / b);
}

// ---- split 32-bit form (hi, lo): x == (hi << 16) + (lo << 1) -------------

inline void L_Extract(Word32 x, Word16& hi, Word16& lo) {
  hi = extract_h(x);
  lo = extract_l(L_msu(L_shr(x, 1), hi, 16384));
}
inline Word32 L_Comp(Word16 hi, Word16 lo) { return L_mac(L_deposit_h(hi), lo, 1); }

// Split 32 x 16 product: hi n doubled plus the Q15 product of lo and n doubled.
inline Word32 mpy32x16(Word16 hi, Word16 lo, Word16 n) { return L_mac(L_mult(hi, n), mult(lo, n), 1); }

// Split 32 x 32 product; the lo x lo term lies below the result's precision.
inline Word32 mpy32(Word16 hi1, Word16 lo1, Word16 hi2, Word16 lo2) {
  return L_mac(L_mac(L_mult(hi1, hi2), mult(hi1, lo2), 1), mult(lo1, hi2), 1);
}

// ---- whole 32-bit operands (the G.723.1 family's forms) -------------------

// 32 x 16 product in Q15: the high half multiplied with the doubling
// operator, the low 16 bits (taken as unsigned) times v added after a right
// shift by 15.
inline Word32 L_mls(Word32 x, Word16 v) { return L_mac(((x & 0xFFFF) * Word32{v}) >> 15, v, extract_h(x)); }

// num / (den << 16) in Q15 for 0 <= num and den > 0: 32767 once num reaches
// den << 16, else 15 restoring steps on the halved operands (truncated).
inline Word16 div_l(Word32 num, Word16 den) {
  const Word32 d = L_deposit_h(den);
  if (num >= d) return kMax16;
  Word32 n = num >> 1;
  const Word32 half = d >> 1;
  Word16 q = 0;
  for (int i = 0; i < 15; ++i) {
    q = static_cast<Word16>(q * 2);
    n *= 2;
    if (n >= half) {
      n -= half;
      ++q;
    }
  }
  return q;
}

}  // namespace voksc::op

namespace voksc::op {

// An L_mac / L_msu chain computed exactly in 64 bits.  `spilled()` tells
// whether the operator chain would have saturated somewhere (a partial sum
// outside 32 bits, or the -32768 * -32768 product); only then does the
// caller need to rerun the chain with the saturating operators.  Otherwise
// `value()` equals the chain's result.
class MacChain {
 public:
  explicit MacChain(Word32 init = 0) : s_(init) {}
  void mac(Word16 a, Word16 b) { step(Word32{a} * b, false); }
  void msu(Word16 a, Word16 b) { step(Word32{a} * b, true); }
  bool spilled() const { return spill_; }
  Word32 value() const { return static_cast<Word32>(s_); }

 private:
  void step(Word32 p, bool neg) {
    spill_ |= p == 0x40000000;
    s_ += neg ? -2 * Word64{p} : 2 * Word64{p};
    spill_ |= static_cast<uint64_t>(s_ + 0x80000000LL) > 0xFFFFFFFFull;
  }
  Word64 s_;
  bool spill_ = false;
};

}  // namespace voksc::op

#endif  // VOKSC_COMMON_BASIC_OP_H
