// The operators against their direct definitions: exhaustively where the
// domain is 16-bit, on random and boundary operands otherwise.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

#include "common/basic_op.h"
#include "common/math_ops.h"

using namespace voksc::op;
using voksc::vokLog2;
using voksc::vokPow2;

namespace {
int64_t clamp(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : (v > hi ? hi : v); }
const int16_t kEdges[] = {-32768, -32767, -16384, -2, -1, 0, 1, 2, 16383, 16384, 32766, 32767};
}  // namespace

// 32-bit operands the random draws below rarely meet (the 16-bit operators
// are exhaustive).
TEST(BasicOp, EdgeCases) {
  using V = std::vector<int32_t>;
  EXPECT_EQ(V({round_fx(0x7FFF8000), round_fx(0x7FFF7FFF), round_fx(-32769), norm_l(1), norm_l(0x40000000), norm_l(0x00FFFFFF),
               norm_l(0), L_abs(kMin32)}),
            V({32767, 32767, -1, 30, 0, 7, 0, kMax32}));
}

TEST(BasicOp, Exhaustive16BitUnary) {
  for (int a = -32768; a <= 32767; ++a) {
    auto x = static_cast<int16_t>(a);
    ASSERT_EQ(abs_s(x), clamp(a < 0 ? -a : a, -32768, 32767));
    ASSERT_EQ(negate(x), clamp(-a, -32768, 32767));
    int n = 0;
    if (a != 0 && a != -1) {
      int v = a;
      while (v >= -16384 && v < 16384) { v *= 2; ++n; }
    } else if (a == -1) {
      n = 15;
    }
    ASSERT_EQ(norm_s(x), n) << a;
    for (int s = -20; s <= 20; ++s) {
      int64_t want = s >= 0 ? clamp(int64_t{a} * (int64_t{1} << s), -32768, 32767)
                            : (a >> (-s > 15 ? 15 : -s));
      ASSERT_EQ(shl(x, static_cast<int16_t>(s)), want) << a << " << " << s;
      if (s > 0 && s <= 15) {
        ASSERT_EQ(shr_r(x, static_cast<int16_t>(s)), (a >> s) + ((a >> (s - 1)) & 1)) << a << " " << s;
      }
    }
  }
}

TEST(BasicOp, Exhaustive16BitBinaryOnRows) {
  // Every b against a set of a values that covers all boundary behaviour.
  for (int16_t a : kEdges) {
    for (int b = -32768; b <= 32767; ++b) {
      auto y = static_cast<int16_t>(b);
      ASSERT_EQ(add(a, y), clamp(a + b, -32768, 32767));
      ASSERT_EQ(sub(a, y), clamp(a - b, -32768, 32767));
      ASSERT_EQ(mult(a, y), clamp((int64_t{a} * b) >> 15, -32768, 32767));
      ASSERT_EQ(mult_r(a, y), clamp((int64_t{a} * b + 16384) >> 15, -32768, 32767));
      ASSERT_EQ(L_mult(a, y), clamp(2 * int64_t{a} * b, INT32_MIN, INT32_MAX));
      if (a >= 0 && b > 0 && a <= b) {
        ASSERT_EQ(div_s(a, y), a == b ? 32767 : (int64_t{a} * 32768) / b);
      }
    }
  }
}

TEST(BasicOp, Random32Bit) {
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int32_t> d32;
  std::uniform_int_distribution<int> d16(-32768, 32767);
  for (int i = 0; i < 200000; ++i) {
    int32_t x = d32(rng), y = d32(rng);
    if (i % 7 == 0) x >>= (i % 31);
    ASSERT_EQ(L_add(x, y), clamp(int64_t{x} + y, INT32_MIN, INT32_MAX));
    ASSERT_EQ(L_sub(x, y), clamp(int64_t{x} - y, INT32_MIN, INT32_MAX));
    auto a = static_cast<int16_t>(d16(rng)), b = static_cast<int16_t>(d16(rng));
    ASSERT_EQ(L_mac(x, a, b), clamp(int64_t{x} + clamp(2 * int64_t{a} * b, INT32_MIN, INT32_MAX), INT32_MIN, INT32_MAX));
    int s = i % 70 - 35;
    int64_t want = s >= 0 ? clamp(int64_t{x} * (int64_t{1} << (s > 32 ? 32 : s)), INT32_MIN, INT32_MAX)
                          : (int64_t{x} >> (-s > 31 ? 31 : -s));
    if (x == 0) want = 0;
    ASSERT_EQ(L_shl(x, static_cast<int16_t>(s)), want) << x << " " << s;
    if (s > 0 && s <= 31) {
      ASSERT_EQ(L_shr_r(x, static_cast<int16_t>(s)), (int64_t{x} >> s) + ((int64_t{x} >> (s - 1)) & 1));
    }
    int n = 0;
    if (x != 0 && x != -1) {
      int64_t v = x;
      while (v >= -(int64_t{1} << 30) && v < (int64_t{1} << 30)) { v *= 2; ++n; }
    } else if (x == -1) {
      n = 31;
    }
    ASSERT_EQ(norm_l(x), n) << x;
    ASSERT_EQ(round_fx(x), clamp((int64_t{x} + 0x8000) >> 16, -32768, 32767));
    int16_t hi, lo;
    L_Extract(x, hi, lo);
    ASSERT_EQ(L_Comp(hi, lo), x & ~1);
  }
}

namespace {

uint32_t fold(uint32_t h, uint32_t v) { return (h ^ v) * 16777619u; }

// Normalised words whose bits 10..30 step by 97 codes (low bits varied
// too), at every right shift, and the non-positive and extreme words.
template <class F>
void overMantissas(F f) {
  for (int sh = 0; sh <= 30; ++sh)
    for (uint32_t m = 0; m < (1u << 21); m += 97) f(static_cast<int32_t>(((m << 10) | 0x40000000u | (m & 1023)) >> sh));
  for (int32_t x : {0, -1, -5, INT32_MIN, INT32_MAX, 1}) f(x);
}

// (numerator, normalised denominator) pairs from a linear congruential
// sequence; every other numerator is kept at or below its denominator.
template <class F>
void overQuotients(F f) {
  uint32_t s = 1;
  for (int i = 0; i < 200000; ++i) {
    s = s * 1664525u + 1013904223u;
    const int32_t den = static_cast<int32_t>((s >> 1) | 0x40000000u);
    s = s * 1664525u + 1013904223u;
    const int32_t num = static_cast<int32_t>((i & 1) ? (s >> 1) % (static_cast<uint32_t>(den) + 1) : s >> 1);
    f(num, den);
  }
}

}  // namespace

// Log2, Pow2 (every exponent and fraction), 1/sqrt and the division, each
// folded into one checksum over the grids above.  The expected values are
// the same checksums of the G.729 reference routines built from the ITU-T
// package.
TEST(MathOps, BitExactAgainstReferenceChecksums) {
  uint32_t log = 2166136261u, isq = log, pow = log, div = log;
  overMantissas([&](int32_t x) {
    int16_t e, f;
    vokLog2(x, &e, &f);
    log = fold(log, static_cast<uint32_t>(static_cast<uint16_t>(e)) << 16 | static_cast<uint16_t>(f));
    isq = fold(isq, static_cast<uint32_t>(voksc::vokInvSqrt(x)));
  });
  for (int e = 0; e <= 30; ++e)
    for (int f = 0; f < 32768; ++f) pow = fold(pow, static_cast<uint32_t>(vokPow2(e, f)));
  overQuotients([&](int32_t num, int32_t den) {
    int16_t hi, lo;
    L_Extract(den, hi, lo);
    div = fold(div, static_cast<uint32_t>(voksc::vokDiv32(num, hi, lo)));
  });
  EXPECT_EQ(log, 0x68ffe455u);
  EXPECT_EQ(isq, 0x9a3bb50fu);
  EXPECT_EQ(pow, 0x555ec353u);
  EXPECT_EQ(div, 0x59aa07cdu);
}
