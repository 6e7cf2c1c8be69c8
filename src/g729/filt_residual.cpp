// G.729 all-zero residual filters (order 10 and any order up to the length,
// order 30 for Annex E), the order-10 pole-zero perceptual filters and the
// bandwidth expansion of LP coefficients.
#include <cstdlib>
#include <cstring>

#include "common/basic_op.h"
#include "core/cpu.h"
#include "core/status.h"
#include "filt_internal.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#endif

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g729 {

namespace {

// True when sum |a[j]| * max |x| < 2^30 over the filter's whole window: the
// doubled partial sums then stay inside 31 bits and the chain never
// saturates (this also excludes the -32768 * -32768 product).
bool residualBounded(const int16_t* a, int order, const int16_t* x, int len) {
  int64_t taps = 0;
  for (int j = 0; j <= order; ++j) taps += std::abs(int{a[j]});
  int maxX = 0;
  for (int i = -order; i < len; ++i) {
    const int v = std::abs(int{x[i]});
    if (v > maxX) maxX = v;
  }
  return taps * maxX < (int64_t{1} << 30);
}

// round(L_shl(2 acc, 3)) for an exact sum |acc| < 2^30: the rounded upper
// word of 16 acc is (acc + 2^11) >> 12, saturated (which also covers the
// saturation of the shift and of the rounding).
inline int16_t roundedQ12(int32_t acc) { return sat16((acc + 0x800) >> 12); }

// The reference chain for one sample: L_mult, L_mac..., L_shl 3, round.
inline int16_t residualChain(const int16_t* a, int order, const int16_t* x) {
  MacChain c;
  for (int j = 0; j <= order; ++j) c.mac(a[j], x[-j]);
  Word32 s = c.value();
  if (c.spilled()) {
    s = L_mult(x[0], a[0]);
    for (int j = 1; j <= order; ++j) s = L_mac(s, a[j], x[-j]);
  }
  return round_fx(L_shl(s, 3));
}

}  // namespace

void residualFilter_scalar(const int16_t* a, int order, const int16_t* x, int16_t* y, int len) {
  if (!residualBounded(a, order, x, len)) {
    for (int n = 0; n < len; ++n) y[n] = residualChain(a, order, x + n);
    return;
  }
  // Tap by tap over blocks of outputs: each pass is a multiply-add of a
  // whole block by one coefficient, which the compiler runs in vector lanes.
  constexpr int kBlock = 64;
  for (int n0 = 0; n0 < len; n0 += kBlock) {
    const int m = len - n0 < kBlock ? len - n0 : kBlock;
    int32_t acc[kBlock];
    const int16_t* xb = x + n0;
    const int32_t a0 = a[0];
    for (int n = 0; n < m; ++n) acc[n] = a0 * xb[n];
    for (int j = 1; j <= order; ++j) {
      const int32_t aj = a[j];
      const int16_t* xj = xb - j;
      for (int n = 0; n < m; ++n) acc[n] += aj * xj[n];
    }
    for (int n = 0; n < m; ++n) y[n0 + n] = roundedQ12(acc[n]);
  }
}

#if defined(__i386__) || defined(__x86_64__)
namespace {

// 16 outputs y[n0..n0+15] of a bounded filter.  Taps are taken in pairs
// (j, j+1) so one madd forms a[j] x[n-j] + a[j+1] x[n-j-1] per 32-bit lane;
// the unpacks leave outputs 0-3 and 8-11 in `lo`, 4-7 and 12-15 in `hi`,
// which the final pack puts back in order.  A single last tap is paired
// with itself under a zero coefficient, so nothing before x[-order] is read.
__attribute__((target("avx2"))) void residualBlock16(const int16_t* a, int order, const int16_t* x, int16_t* y) {
  __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
  int j = 0;
  for (; j + 1 <= order; j += 2) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x - j));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x - j - 1));
    const __m256i c = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(a[j]) |
                                                             (static_cast<uint32_t>(static_cast<uint16_t>(a[j + 1])) << 16)));
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(v0, v1), c));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(v0, v1), c));
  }
  if (j == order) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x - j));
    const __m256i c = _mm256_set1_epi32(static_cast<uint16_t>(a[j]));
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(v0, v0), c));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(v0, v0), c));
  }
  const __m256i half = _mm256_set1_epi32(0x800);
  lo = _mm256_srai_epi32(_mm256_add_epi32(lo, half), 12);
  hi = _mm256_srai_epi32(_mm256_add_epi32(hi, half), 12);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(y), _mm256_packs_epi32(lo, hi));
}

// residualBlock16 of order 10 with the six coefficient pairs formed once
// by the caller: (a0, a1) .. (a8, a9), then (a10, 0).
__attribute__((target("avx2"), always_inline)) inline void residualBlock16x10(const __m256i* c, const int16_t* x,
                                                                              int16_t* y) {
  __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
  for (int k = 0; k < 6; ++k) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x - 2 * k));
    const __m256i v1 = k < 5 ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x - 2 * k - 1)) : v0;
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(v0, v1), c[k]));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(v0, v1), c[k]));
  }
  const __m256i half = _mm256_set1_epi32(0x800);
  lo = _mm256_srai_epi32(_mm256_add_epi32(lo, half), 12);
  hi = _mm256_srai_epi32(_mm256_add_epi32(hi, half), 12);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(y), _mm256_packs_epi32(lo, hi));
}

// residualBounded with the largest |x| over the window found in lanes: the
// largest unsigned 16-bit magnitude (|-32768| reads 0x8000), eight samples
// a step, the last step overlapping.  Needs len + order >= 8.
__attribute__((target("avx2"))) bool residualBoundedLanes(const int16_t* a, int order, const int16_t* x, int len) {
  int64_t taps = 0;
  for (int j = 0; j <= order; ++j) taps += std::abs(int{a[j]});
  const int16_t* w = x - order;
  const int count = len + order;
  __m128i m = _mm_abs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w)));
  for (int i = 8; i + 8 <= count; i += 8)
    m = _mm_max_epu16(m, _mm_abs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i))));
  m = _mm_max_epu16(m, _mm_abs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + count - 8))));
  const int maxX = 0xFFFF - (_mm_cvtsi128_si32(_mm_minpos_epu16(_mm_xor_si128(m, _mm_set1_epi16(-1)))) & 0xFFFF);
  return taps * maxX < (int64_t{1} << 30);
}

}  // namespace

__attribute__((target("avx2"))) void residualFilter_avx2(const int16_t* a, int order, const int16_t* x, int16_t* y,
                                                         int len) {
  if (len < 16 || !residualBoundedLanes(a, order, x, len)) {
    residualFilter_scalar(a, order, x, y, len);
    return;
  }
  int n = 0;
  if (order == 10) {
    __m256i c[6];
    for (int k = 0; k < 6; ++k) {
      const uint32_t hiTap = k < 5 ? static_cast<uint16_t>(a[2 * k + 1]) : 0u;
      c[k] = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(a[2 * k]) | hiTap << 16));
    }
    for (; n + 16 <= len; n += 16) residualBlock16x10(c, x + n, y + n);
    if (n < len) residualBlock16x10(c, x + len - 16, y + len - 16);
    return;
  }
  for (; n + 16 <= len; n += 16) residualBlock16(a, order, x + n, y + n);
  // The last block overlaps the previous one; it rewrites equal values.
  if (n < len) residualBlock16(a, order, x + len - 16, y + len - 16);
}
#else
void residualFilter_avx2(const int16_t* a, int order, const int16_t* x, int16_t* y, int len) {
  residualFilter_scalar(a, order, x, y, len);
}
#endif

void residualFilter(const int16_t* a, int order, const int16_t* x, int16_t* y, int len) {
  static const auto form = voksc::cpu::choose(residualFilter_scalar, residualFilter_avx2);
  form(a, order, x, y, len);
}

void weightCoefficients(const int16_t* a, int16_t gamma, int order, int16_t* ap) {
  ap[0] = a[0];
  Word16 fac = gamma;
  for (int i = 1; i < order; ++i) {
    ap[i] = round_fx(L_mult(a[i], fac));
    fac = round_fx(L_mult(fac, gamma));
  }
  ap[order] = round_fx(L_mult(a[order], fac));
}

}  // namespace voksc::g729

using voksc::g729::residualFilter;

VOKSC_EXPORT VokResult voksResidualFilter_G729_16s(const Vok16s* x, const Vok16s* a, Vok16s* y) {
  if (anyNull(x, a, y)) return vokErrNullPtr;
  residualFilter(a, 10, x, y, 40);
  return vokOk;
}

VOKSC_EXPORT VokResult voksResidualFilter_G729E_16s(const Vok16s* a, Vok16s order, const Vok16s* x, Vok16s* y,
                                                    int len) {
  if (anyNull(a, x, y)) return vokErrNullPtr;
  if (order < 1 || len < 1 || order > len) return vokErrSize;
  residualFilter(a, order, x, y, len);
  return vokOk;
}

// Pole-zero perceptual filter N(z)/D(z) of order 10 over 40 samples:
// coefficients num[0..10] then den[0..10] (Q12); memory: the 10 past inputs
// then the 10 past outputs, oldest first, updated.  One accumulation per
// sample, numerator terms first: the plain form with the saturating
// operators, the Low form exactly, saturated once at the end.
namespace {
void poleZero(const Vok16s* c, const Vok16s* x, Vok16s* y, Vok16s* mem, bool exact) {
  int16_t in[10 + 40], out[10 + 40];
  std::memcpy(in, mem, 10 * sizeof(int16_t));
  std::memcpy(in + 10, x, 40 * sizeof(int16_t));
  std::memcpy(out, mem + 10, 10 * sizeof(int16_t));
  const Vok16s* num = c;
  const Vok16s* den = c + 11;
  for (int n = 0; n < 40; ++n) {
    Word32 s;
    if (exact) {
      int64_t acc = 0;
      for (int j = 0; j <= 10; ++j) acc += int32_t{num[j]} * in[10 + n - j];
      for (int j = 1; j <= 10; ++j) acc -= int32_t{den[j]} * out[10 + n - j];
      s = sat32(2 * acc);
    } else {
      MacChain ch;
      for (int j = 0; j <= 10; ++j) ch.mac(num[j], in[10 + n - j]);
      for (int j = 1; j <= 10; ++j) ch.msu(den[j], out[10 + n - j]);
      s = ch.value();
      if (ch.spilled()) {
        s = 0;
        for (int j = 0; j <= 10; ++j) s = L_mac(s, num[j], in[10 + n - j]);
        for (int j = 1; j <= 10; ++j) s = L_msu(s, den[j], out[10 + n - j]);
      }
    }
    out[10 + n] = round_fx(L_shl(s, 3));
  }
  std::memcpy(y, out + 10, 40 * sizeof(Vok16s));
  std::memcpy(mem, in + 40, 10 * sizeof(Vok16s));
  std::memcpy(mem + 10, out + 40, 10 * sizeof(Vok16s));
}
}  // namespace

VOKSC_EXPORT VokResult voksIIR16s_G729_16s(const Vok16s* coeffs, const Vok16s* x, Vok16s* y, Vok16s* mem) {
  if (anyNull(coeffs, x, y, mem)) return vokErrNullPtr;
  poleZero(coeffs, x, y, mem, false);
  return vokOk;
}

VOKSC_EXPORT VokResult voksIIR16sLow_G729_16s(const Vok16s* coeffs, const Vok16s* x, Vok16s* y, Vok16s* mem) {
  if (anyNull(coeffs, x, y, mem)) return vokErrNullPtr;
  poleZero(coeffs, x, y, mem, true);
  return vokOk;
}
