// The wide-accumulator arithmetic of the G.728 fixed-point coder, shared by
// the library's building blocks and the complete coder.  Products and sums
// are exact in 64-bit integers; a value is narrowed only where the standard's
// coder rounds the upper half, saturates or shifts.  Shift counts are taken
// modulo 64, the behaviour of that coder on the processors its conformance
// data were made with.
#ifndef VOKSC_G728_WIDE_H
#define VOKSC_G728_WIDE_H

#include <climits>
#include <cstdint>

namespace voksc::g728::wide {

using i64 = int64_t;

inline i64 shr(i64 v, int n) { return v >> (n & 63); }
inline i64 shl(i64 v, int n) { return static_cast<i64>(static_cast<uint64_t>(v) << (n & 63)); }

inline i64 sat32(i64 v) { return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v); }
inline i64 sat16(i64 v) { return v > 32767 ? 32767 : (v < -32768 ? -32768 : v); }

// The upper 16 bits of a wide value, rounded half up unless already 32767.
// Formed without a branch: the rounding bit is as often set as not.
inline i64 roundHigh(i64 a) {
  const i64 b = a >> 16;
  return b + ((a >> 15) & static_cast<i64>(b != 32767));
}

// 16-bit value of a wide sum known to fit (kept in 16 bits by construction).
inline int16_t w16(i64 v) { return static_cast<int16_t>(v); }

// Shifts v until it lies in the top half of a `bits`-bit signed range;
// returns the left-shift count (negative: right shifts).  0 gives bits-1.
inline int normalizeWide(i64& v, int bits) {
  if (v == 0) return bits - 1;
  // The magnitude's bit length, of ~v for a negative v (shifts commute with
  // the complement), is brought to bits - 1 in one shift.
  const uint64_t mag = static_cast<uint64_t>(v < 0 ? ~v : v);
  const int len = mag == 0 ? 0 : 64 - __builtin_clzll(mag);
  const int n = bits - 1 - len;
  v = n >= 0 ? static_cast<i64>(static_cast<uint64_t>(v) << n) : v >> -n;
  return n;
}

// Shift that normalises the largest-magnitude element of x to `bits` bits.
inline int vectorShift(const int16_t* x, int n, int bits) {
  int16_t plus = 0, minus = 0;  // 16-bit extremes: the loop vectorises
  for (int i = 0; i < n; ++i) {
    minus = x[i] < minus ? x[i] : minus;
    plus = x[i] > plus ? x[i] : plus;
  }
  i64 v = (minus < -plus) ? minus : plus;
  return normalizeWide(v, bits);
}

// Restoring division of two normalised mantissas: quotient mantissa and
// its Q (the standard's 15-step division with a final rounding step).
inline void divideMantissas(i64 num, int numQ, i64 den, int denQ, i64& quo, int& quoQ) {
  int qq = numQ - denQ + 14;
  const bool neg = (num < 0) != (den < 0) && num != 0 && den != 0;
  i64 n = num < 0 ? -num : num, d = den < 0 ? -den : den;
  if (n < d) {
    ++qq;
    n <<= 1;
  }
  // Fifteen quotient bits, a bit taken whenever the running remainder
  // exceeds d (strictly), then one more for rounding.  With 0 < n <= 2d the
  // remainder stays in (0, 2d], so the bits form q = ceil(2^14 n / d) - 1 and
  // the final remainder is 2^15 n - 2 d q: one division gives them.
  i64 q = 0;
  if (n > 0 && n <= 2 * d && d < 65536) {
    // 16-bit mantissas (the usual case): n < 2^17, so n 2^15 and 2 d q
    // (below n 2^15) fit 32 bits, and the division is a 32-bit one.
    const uint32_t un = static_cast<uint32_t>(n), ud = static_cast<uint32_t>(d);
    uint32_t uq = ((un << 14) - 1) / ud;
    if ((un << 15) - 2 * ud * uq > ud) ++uq;
    q = uq;
  } else if (n > 0 && n <= 2 * d) {
    q = ((n << 14) - 1) / d;
    if ((n << 15) - 2 * d * q > d) ++q;
  } else {
    for (int i = 0; i < 15; ++i) {
      q <<= 1;
      if (n > d) {
        ++q;
        n -= d;
      }
      n <<= 1;
    }
    if (n > d) ++q;
  }
  quo = neg ? -q : q;
  quoQ = qq;
}

}  // namespace voksc::g728::wide

#endif  // VOKSC_G728_WIDE_H
