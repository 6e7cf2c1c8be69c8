// G.729 LP analysis: lag window, Levinson-Durbin recursion, LP <-> LSP
// conversions, LSP/LSF conversions and the LSP interpolations.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/cpu.h"
#include "core/status.h"
#include "lp_internal.h"
#include "lp_tables.h"

using namespace voksc::op;
using voksc::anyNull;
using voksc::vokDiv32;
using voksc::vokMpy32;
using voksc::vokMpy32x16;

namespace voksc::g729 {

namespace {

constexpr int kNc = kLpOrder / 2;

// Lag-window entries for orders 11 and 12 (split form), after the ten of G.729.
constexpr Word16 kLagExtraHi[2] = {28645, 27923};
constexpr Word16 kLagExtraLo[2] = {22092, 12924};

// vokMpy32 of two split values as an exact 64-bit value; `exact` is cleared
// when one of its three operator steps would saturate (then the caller
// falls back to the operators).
inline int64_t productWide(Split a, Split b, bool& exact) {
  const int32_t p = int32_t{a.hi} * b.hi;
  // |2 a.hi b.hi| + |2 mult(a.hi, b.lo)| + |2 mult(a.lo, b.hi)| stays below
  // 2^31 unless both high words lie in the top 3 codes of their range.
  exact &= !((a.hi > 32765 || a.hi < -32765) && (b.hi > 32765 || b.hi < -32765));
  return 2 * int64_t{p} + 2 * ((int32_t{a.hi} * b.lo) >> 15) + 2 * ((int32_t{a.lo} * b.hi) >> 15);
}

// The same value where the caller knows the check holds.
inline int64_t productPlain(Split a, Split b) {
  return 2 * int64_t{int32_t{a.hi} * b.hi} + 2 * ((int32_t{a.hi} * b.lo) >> 15) + 2 * ((int32_t{a.lo} * b.hi) >> 15);
}

inline bool fits32(int64_t v) { return v >= kMin32 && v <= kMax32; }

}  // namespace

void lpLagWindow(int32_t* r, int len) {
  for (int i = 0; i < len; ++i) {
    const Word16 wh = i < 10 ? kLagWindowHi[i] : kLagExtraHi[i - 10];
    const Word16 wl = i < 10 ? kLagWindowLo[i] : kLagExtraLo[i - 10];
    Word16 hi, lo;
    L_Extract(r[i], hi, lo);
    r[i] = vokMpy32(hi, lo, wh, wl);
  }
}

namespace {

// The Levinson-Durbin recursion grows the predictor A(z) = 1 + sum a_j z^-j
// one order at a time.  Everything runs on split values: the
// autocorrelations (Q31), the coefficients (Q27) and the prediction error
// energy, kept normalised together with the left shift that normalised it.
// Order 1 is the general step with an empty correlation sum and the energy
// r_0 taken as it is (shift 0).
struct Recursion {
  Split r[kMaxOrder + 1];
  Split a[kMaxOrder + 1];
  Split energy;
  Word16 energyShift;
};

// sum_{j=1}^{m-1} r_j a_{m-j} (Q27) as the saturating chain of products.
// kWide forms it exactly in 64 bits and runs the chain only when a product
// or a partial sum would leave 32 bits.
template <bool kWide>
Word32 predictedCorrelation(const Recursion& s, int m) {
  if (kWide) {
    // A term vokMpy32(r_j, a) is at most 2 32768 |a.hi| + 2 32768 + 2 |a.hi|
    // in magnitude (split low words lie in 0..32767), and so is each of its
    // operator steps; with S = sum |a.hi|, 65538 (S + m - 1) <= 2^31 - 1
    // keeps every step and partial sum of the chain inside 32 bits (and
    // every high word above -32768), so the plain sum is the chain's value.
    int32_t highs = m - 1;
    for (int j = 1; j < m; ++j) highs += s.a[j].hi < 0 ? -s.a[j].hi : s.a[j].hi;
    if (highs <= kMax32 / 65538) {
      int64_t sum = 0;
      for (int j = 1; j < m; ++j) sum += productPlain(s.r[j], s.a[m - j]);
      return static_cast<Word32>(sum);
    }
    int64_t sum = 0;
    bool exact = true;
    for (int j = 1; j < m && exact; ++j) {
      sum += productWide(s.r[j], s.a[m - j], exact);
      exact &= fits32(sum);
    }
    if (exact) return static_cast<Word32>(sum);
  }
  Word32 sum = 0;
  for (int j = 1; j < m; ++j) sum = L_add(sum, vokMpy32(s.r[j], s.a[m - j]));
  return sum;
}

// own + k mirror, Q27 (the new coefficient from the old pair).
template <bool kWide>
__attribute__((always_inline)) inline Split stepCoefficient(Split k, Split own, Split mirror) {
  if (kWide) {
    // |k.hi| <= 32750 here (the recursion stops on a larger one before any
    // update), so the product's steps cannot saturate.
    const int64_t v = productPlain(k, mirror) + int64_t{own.hi} * 65536 + 2 * own.lo;
    if (fits32(v)) return vokSplit(static_cast<Word32>(v));
  }
  return vokSplit(L_add(vokMpy32(k, mirror), vokJoin(own)));
}

// Order m's reflection coefficient from the predicted correlation:
// k = -(r_m + sum r_j a_{m-j}) / energy; the quotient of the magnitudes is
// Q31 against the normalised energy and the shift puts it back.
inline Word32 reflectionOf(const Recursion& s, Word32 predicted, int m) {
  const Word32 lead = L_add(L_shl(predicted, 4), vokJoin(s.r[m]));
  Word32 k = vokDiv32(L_abs(lead), s.energy.hi, s.energy.lo);
  if (lead > 0) k = L_negate(k);
  return L_shl(k, s.energyShift);
}

// energy <- energy (1 - k^2), renormalised (k^2 may round negative).
inline void shrinkEnergy(Recursion& s, Split ks) {
  const Split keep = vokSplit(L_sub(kMax32, L_abs(vokMpy32(ks, ks))));
  const Word32 e = vokMpy32(s.energy, keep);
  const Word16 n = norm_l(e);
  s.energy = vokSplit(L_shl(e, n));
  s.energyShift = add(s.energyShift, n);
}

inline void startRecursion(Recursion& s, const Word32* r, int order) {
  for (int i = 0; i <= order; ++i) s.r[i] = vokSplit(r[i]);
  s.energy = vokSplit(r[0]);
  s.energyShift = 0;
}

inline void finishRecursion(const Recursion& s, const Word16* reflection, int order, Word16* a, Word16* rc,
                            Word16* err) {
  a[0] = 4096;
  for (int i = 1; i <= order; ++i) a[i] = round_fx(L_shl(vokJoin(s.a[i]), 1));  // Q27 -> Q12
  for (int i = 0; i < order; ++i) rc[i] = reflection[i];
  *err = shr(s.energy.hi, s.energyShift);
}

template <bool kWide>
bool levinsonImpl(const Word32* r, int order, Word16* a, Word16* rc, Word16* err) {
  // No clearing: order m reads a_1..a_{m-1}, each written by an earlier
  // order (a_m is set at the end of order m), and r_0..r_order below.
  Recursion s;
  startRecursion(s, r, order);
  Word16 reflection[kMaxOrder];

  for (int m = 1; m <= order; ++m) {
    const Word32 k = reflectionOf(s, predictedCorrelation<kWide>(s, m), m);
    const Split ks = vokSplit(k);
    reflection[m - 1] = ks.hi;
    // A reflection coefficient this close to 1 means an unstable filter.
    if (m > 1 && abs_s(ks.hi) > 32750) return false;

    // a_j <- a_j + k a_{m-j}: both members of a mirrored pair at once, so
    // the update runs in place; the new top coefficient is k itself.
    for (int lo = 1, hi = m - 1; lo <= hi; ++lo, --hi) {
      const Split first = s.a[lo], second = s.a[hi];
      s.a[lo] = stepCoefficient<kWide>(ks, first, second);
      if (hi != lo) s.a[hi] = stepCoefficient<kWide>(ks, second, first);
    }
    s.a[m] = vokSplit(L_shr(k, 4));
    shrinkEnergy(s, ks);
  }
  finishRecursion(s, reflection, order, a, rc, err);
  return true;
}

#if defined(VOKSC_X86)
// The recursion with the coefficients a_1..a_16 in two vectors of 32-bit
// lanes, each held joined (hi 2^16 + lo 2, so always even; the split words
// are hi = v >> 16, lo = (v >> 1) & 0x7FFF).  Orders up to 16.

// vokMpy32 of split pairs lane by lane: 2 (ah bh + ((ah bl) >> 15) +
// ((al bh) >> 15)), exact where the caller's bound keeps it inside 32 bits.
__attribute__((target("avx2"))) inline __m256i splitProduct(__m256i ah, __m256i al, __m256i bh, __m256i bl) {
  const __m256i cross = _mm256_add_epi32(_mm256_srai_epi32(_mm256_mullo_epi32(ah, bl), 15),
                                         _mm256_srai_epi32(_mm256_mullo_epi32(al, bh), 15));
  return _mm256_slli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(ah, bh), cross), 1);
}

__attribute__((target("avx2"))) inline __m256i highWords(__m256i v) { return _mm256_srai_epi32(v, 16); }
__attribute__((target("avx2"))) inline __m256i lowWords(__m256i v) {
  return _mm256_and_si256(_mm256_srli_epi32(v, 1), _mm256_set1_epi32(0x7FFF));
}

// own + p per lane as L_add gives it (p inside 32 bits): a wrapped sum,
// its sign unlike both operands', becomes the bound of own's sign; then
// the low bit cleared (the joined form).
__attribute__((target("avx2"))) inline __m256i saturatingSum(__m256i own, __m256i p) {
  const __m256i v = _mm256_add_epi32(own, p);
  const __m256i wrapped = _mm256_and_si256(_mm256_xor_si256(own, v), _mm256_xor_si256(p, v));
  const __m256i bound = _mm256_xor_si256(_mm256_srai_epi32(own, 31), _mm256_set1_epi32(kMax32));
  const __m256i sum = _mm256_castps_si256(
      _mm256_blendv_ps(_mm256_castsi256_ps(v), _mm256_castsi256_ps(bound), _mm256_castsi256_ps(wrapped)));
  return _mm256_and_si256(sum, _mm256_set1_epi32(-2));
}

// The sum of the eight lanes of each of x and y.
__attribute__((target("avx2"))) inline void laneSums(__m256i x, __m256i y, int32_t& sx, int32_t& sy) {
  const __m256i h = _mm256_hadd_epi32(x, y);  // x01 x23 y01 y23 | x45 x67 y45 y67
  const __m128i q = _mm_add_epi32(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
  const __m128i t = _mm_hadd_epi32(q, q);  // x, y, x, y
  sx = _mm_cvtsi128_si32(t);
  sy = _mm_extract_epi32(t, 1);
}

__attribute__((target("avx2"))) bool levinson_avx2(const Word32* r, int order, Word16* a, Word16* rc, Word16* err) {
  Recursion s;
  startRecursion(s, r, order);
  Word16 reflection[kMaxOrder];
  alignas(32) int32_t rv[16] = {};
  for (int j = 1; j <= order; ++j) rv[j - 1] = r[j];
  // r_1..r_16 split (the same split words as s.r).
  const __m256i r0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(rv));
  const __m256i r1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(rv + 8));
  const __m256i rh0 = highWords(r0), rl0 = lowWords(r0), rh1 = highWords(r1), rl1 = lowWords(r1);
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), eight = _mm256_set1_epi32(8);
  const __m256i zero = _mm256_setzero_si256();
  __m256i c0 = zero, c1 = zero;  // a_1..a_8, a_9..a_16; a_m.. are 0 before order m

  for (int m = 1; m <= order; ++m) {
    // The mirror a_{m-1-l} in lane l (l < m - 1), 0 beyond: lane l of the
    // first vector reads coefficient index m - 2 - l, of the second m - 10 - l.
    const __m256i at0 = _mm256_sub_epi32(_mm256_set1_epi32(m - 2), lane), at1 = _mm256_sub_epi32(at0, eight);
    __m256i mir0 = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(c0, at0), _mm256_permutevar8x32_epi32(c1, at0),
                                      _mm256_cmpgt_epi32(at0, _mm256_set1_epi32(7)));
    mir0 = _mm256_andnot_si256(_mm256_cmpgt_epi32(zero, at0), mir0);
    const __m256i mir1 = _mm256_andnot_si256(_mm256_cmpgt_epi32(zero, at1), _mm256_permutevar8x32_epi32(c0, at1));
    const __m256i mh0 = highWords(mir0), ml0 = lowWords(mir0), mh1 = highWords(mir1), ml1 = lowWords(mir1);

    // sum_{j<m} r_j a_{m-j}: with S = sum |a.hi| and 65538 (S + m - 1)
    // <= 2^31 - 1 every term and every partial sum, in any order, stays
    // inside 32 bits (see predictedCorrelation), so the lane sum is the
    // chain's value; otherwise the scalar form decides.
    int32_t sum, highs;
    laneSums(_mm256_add_epi32(splitProduct(rh0, rl0, mh0, ml0), splitProduct(rh1, rl1, mh1, ml1)),
             _mm256_add_epi32(_mm256_abs_epi32(mh0), _mm256_abs_epi32(mh1)), sum, highs);
    if (highs + m - 1 > kMax32 / 65538) {
      alignas(32) int32_t cv[16];
      _mm256_store_si256(reinterpret_cast<__m256i*>(cv), c0);
      _mm256_store_si256(reinterpret_cast<__m256i*>(cv + 8), c1);
      for (int j = 1; j < m; ++j) s.a[j] = vokSplit(cv[j - 1]);
      sum = predictedCorrelation<true>(s, m);
    }
    const Word32 k = reflectionOf(s, sum, m);
    const Split ks = vokSplit(k);
    reflection[m - 1] = ks.hi;
    if (m > 1 && abs_s(ks.hi) > 32750) return false;

    // a_j <- L_add(vokMpy32(k, a_{m-j}), a_j): with |k.hi| <= 32750 the
    // product stays inside 32 bits (at most 2 32750 32768 + 2 32750 +
    // 2 32768 < 2^31), so only the sum can saturate.  Lanes past m - 1
    // add 0.  Then a_m = k >> 4 (joined: its low bit cleared).
    const __m256i kh = _mm256_set1_epi32(ks.hi), kl = _mm256_set1_epi32(ks.lo);
    c0 = saturatingSum(c0, splitProduct(kh, kl, mh0, ml0));
    c1 = saturatingSum(c1, splitProduct(kh, kl, mh1, ml1));
    const __m256i newTop = _mm256_set1_epi32(L_shr(k, 4) & ~1);
    const __m256i at = _mm256_set1_epi32(m - 1);
    c0 = _mm256_blendv_epi8(c0, newTop, _mm256_cmpeq_epi32(lane, at));
    c1 = _mm256_blendv_epi8(c1, newTop, _mm256_cmpeq_epi32(_mm256_add_epi32(lane, eight), at));
    shrinkEnergy(s, ks);
  }
  alignas(32) int32_t cv[16];
  _mm256_store_si256(reinterpret_cast<__m256i*>(cv), c0);
  _mm256_store_si256(reinterpret_cast<__m256i*>(cv + 8), c1);
  for (int j = 1; j <= order; ++j) s.a[j] = vokSplit(cv[j - 1]);
  finishRecursion(s, reflection, order, a, rc, err);
  return true;
}
#endif

}  // namespace

bool lpLevinson_scalar(const int32_t* r, int order, int16_t* a, int16_t* rc, int16_t* err) {
  return levinsonImpl<true>(r, order, a, rc, err);
}

bool lpLevinson_avx2(const int32_t* r, int order, int16_t* a, int16_t* rc, int16_t* err) {
#if defined(VOKSC_X86)
  if (order <= 16) return levinson_avx2(r, order, a, rc, err);
#endif
  return levinsonImpl<true>(r, order, a, rc, err);
}

bool lpLevinson(const int32_t* r, int order, int16_t* a, int16_t* rc, int16_t* err) {
  static const auto form = voksc::cpu::choose(lpLevinson_scalar, lpLevinson_avx2);
  return form(r, order, a, rc, err);
}

bool lpLevinsonChain(const int32_t* r, int order, int16_t* a, int16_t* rc, int16_t* err) {
  return levinsonImpl<false>(r, order, a, rc, err);
}

namespace {

// Chebyshev series of a fifth-order sum or difference polynomial at x (Q15):
// coefficients Q11 with shift 6, or Q10 with shift 7; result Q14 saturated.
// The operator chain, step by step.
Word16 chebyshevSteps(Word16 x, const Word16* f, int shift) {
  Word16 b2h = shift == 6 ? 256 : 128, b2l = 0, b1h, b1l, b0h, b0l;
  Word32 t = L_mult(x, shift == 6 ? 512 : 256);
  t = L_mac(t, f[1], 4096);
  L_Extract(t, b1h, b1l);
  for (int i = 2; i < kNc; ++i) {
    t = L_shl(vokMpy32x16(b1h, b1l, x), 1);
    t = L_mac(t, b2h, -32768);
    t = L_msu(t, b2l, 1);
    t = L_mac(t, f[i], 4096);
    L_Extract(t, b0h, b0l);
    b2l = b1l;
    b2h = b1h;
    b1l = b0l;
    b1h = b0h;
  }
  t = vokMpy32x16(b1h, b1l, x);
  t = L_mac(t, b2h, -32768);
  t = L_msu(t, b2l, 1);
  t = L_mac(t, f[kNc], 2048);
  return extract_h(L_shl(t, static_cast<Word16>(shift)));
}

}  // namespace

// The same recursion on the 32-bit values b = bh 2^16 + bl 2 (always even),
// formed exactly: with x above -32768 no product saturates, so only the
// doubling and the partial sums of each step can, and they are checked; an
// evaluation that would saturate anywhere runs the chain.
Word16 lspChebyshev(Word16 x, const Word16* f, int shift) {
  if (x == kMin16) return chebyshevSteps(x, f, shift);
  bool fits = true;
  auto keep = [&fits](int64_t v) {
    fits &= v >= kMin32 && v <= kMax32;
    return v;
  };
  // Mpy32x16 of b and x (exact here) followed by b2 taken away as the chain
  // does, high word first, then low word.
  auto step = [&](int32_t b1, int32_t b2) {
    const int32_t h1 = b1 >> 16, l1 = (b1 >> 1) & 0x7FFF, h2 = b2 >> 16, l2 = (b2 >> 1) & 0x7FFF;
    const int64_t m = 2 * int64_t{h1} * x + 2 * ((l1 * x) >> 15);
    return std::pair<int64_t, int64_t>(m, keep(m * 2 - 65536 * int64_t{h2}) - 2 * int64_t{l2});
  };
  int32_t b2 = (shift == 6 ? 256 : 128) * 65536;
  int32_t b1 = 2 * x * (shift == 6 ? 512 : 256) + 8192 * f[1];
  for (int i = 2; i < kNc; ++i) {
    const auto [m, partial] = step(b1, b2);
    fits &= m >= -(int64_t{1} << 30) && m < (int64_t{1} << 30);  // the doubling
    const int64_t b0 = keep(keep(partial) + 8192 * int64_t{f[i]});
    if (!fits) return chebyshevSteps(x, f, shift);
    b2 = b1;
    b1 = static_cast<int32_t>(b0);
  }
  const int32_t h1 = b1 >> 16, l1 = (b1 >> 1) & 0x7FFF, h2 = b2 >> 16, l2 = (b2 >> 1) & 0x7FFF;
  const int64_t m = 2 * int64_t{h1} * x + 2 * ((l1 * x) >> 15);
  const int64_t t = keep(keep(keep(m - 65536 * int64_t{h2}) - 2 * int64_t{l2}) + 4096 * int64_t{f[kNc]});
  if (!fits) return chebyshevSteps(x, f, shift);
  return extract_h(L_shl(static_cast<Word32>(t), static_cast<Word16>(shift)));
}

Word16 lspChebyshevChain(Word16 x, const Word16* f, int shift) { return chebyshevSteps(x, f, shift); }

// With b even, Mpy32x16 of b and x is 2 floor(b x / 2^16) (b / 2 exact), so
// the computed recursion is the exact Clenshaw one, b_k = 2 x b_(k+1) -
// b_(k+2) + c_k, with an error in (-4, 0] added at each step.  For |x| <= 1
// the Chebyshev polynomials of the second kind stay within |U_n| <= n + 1,
// hence |b_k| <= (k + 1) top + sum_i (k - i + 1) (8192 |f_i| + 4), largest at
// k = 4.  At most 2^29 there keeps every product, doubling and partial sum
// of every step and of the last one inside 31 bits, so the plain form below
// equals the chain for every x.
bool lspChebyshevFits(const Word16* f, int shift) {
  int64_t bound = 5 * (int64_t{1} << (shift == 6 ? 24 : 23));
  for (int i = 1; i < kNc; ++i) bound += (kNc - i) * (8192 * int64_t{f[i] < 0 ? -f[i] : f[i]} + 4);
  return bound <= (int64_t{1} << 29);
}

Word16 lspChebyshevPlain(Word16 x, const Word16* f, int shift) {
  // Mpy32x16 halved, (b >> 16) x + ((((b >> 1) & 0x7FFF) x) >> 15), as one
  // 64-bit product: b >> 1 is (b >> 16) 2^15 + ((b >> 1) & 0x7FFF), and the
  // first part times x is a multiple of 2^15, so the floor of the whole
  // product over 2^15 is the same sum (one multiply on the serial chain
  // instead of two and an add).
  auto halfProduct = [x](int32_t b) { return static_cast<int32_t>((int64_t{b >> 1} * x) >> 15); };
  int32_t b2 = shift == 6 ? 1 << 24 : 1 << 23;
  int32_t b1 = 2 * x * (shift == 6 ? 512 : 256) + 8192 * f[1];
  for (int i = 2; i < kNc; ++i) {
    const int32_t b0 = 4 * halfProduct(b1) - b2 + 8192 * f[i];
    b2 = b1;
    b1 = b0;
  }
  return extract_h(L_shl(2 * halfProduct(b1) - b2 + 4096 * f[kNc], static_cast<Word16>(shift)));
}

// The plain form at n abscissae (n <= 64), for coefficients that fit.
void lspChebyshevGrid_scalar(const Word16* x, int n, const Word16* f, int shift, Word16* y) {
  for (int i = 0; i < n; ++i) y[i] = lspChebyshevPlain(x[i], f, shift);
}

#if defined(__x86_64__) || defined(__i386__)
// Mpy32x16 of eight b and x, halved: (b >> 16) x + ((((b >> 1) & 0x7FFF) x) >> 15).
__attribute__((target("avx2"))) inline __m256i halfProduct8(__m256i b, __m256i x, __m256i low15) {
  const __m256i hi = _mm256_mullo_epi32(_mm256_srai_epi32(b, 16), x);
  const __m256i lo = _mm256_mullo_epi32(_mm256_and_si256(_mm256_srai_epi32(b, 1), low15), x);
  return _mm256_add_epi32(hi, _mm256_srai_epi32(lo, 15));
}

// Eight abscissae per step in 32-bit lanes, the steps of the plain form;
// the final shift saturates as L_shl does.
__attribute__((target("avx2"))) void lspChebyshevGrid_avx2(const Word16* x, int n, const Word16* f, int shift,
                                                           Word16* y) {
  alignas(32) int32_t xs[64], out[64];
  for (int i = 0; i < n; ++i) xs[i] = x[i];
  for (int i = n; i < 64; ++i) xs[i] = 0;
  const __m256i low15 = _mm256_set1_epi32(0x7FFF), top = _mm256_set1_epi32(shift == 6 ? 1 << 24 : 1 << 23);
  const __m256i hiLimit = _mm256_set1_epi32(kMax32 >> shift), loLimit = _mm256_set1_epi32(kMin32 >> shift);
  const __m128i sh = _mm_cvtsi32_si128(shift);
  for (int i = 0; i < n; i += 8) {
    const __m256i xv = _mm256_load_si256(reinterpret_cast<const __m256i*>(xs + i));
    __m256i b2 = top;
    __m256i b1 = _mm256_add_epi32(_mm256_slli_epi32(xv, shift == 6 ? 10 : 9), _mm256_set1_epi32(8192 * f[1]));
    for (int k = 2; k < kNc; ++k) {
      const __m256i b0 = _mm256_add_epi32(_mm256_sub_epi32(_mm256_slli_epi32(halfProduct8(b1, xv, low15), 2), b2),
                                          _mm256_set1_epi32(8192 * f[k]));
      b2 = b1;
      b1 = b0;
    }
    const __m256i t = _mm256_add_epi32(_mm256_sub_epi32(_mm256_slli_epi32(halfProduct8(b1, xv, low15), 1), b2),
                                       _mm256_set1_epi32(4096 * f[kNc]));
    __m256i r = _mm256_srai_epi32(_mm256_sll_epi32(t, sh), 16);
    r = _mm256_blendv_epi8(r, _mm256_set1_epi32(kMax16), _mm256_cmpgt_epi32(t, hiLimit));
    r = _mm256_blendv_epi8(r, _mm256_set1_epi32(kMin16), _mm256_cmpgt_epi32(loLimit, t));
    _mm256_store_si256(reinterpret_cast<__m256i*>(out + i), r);
  }
  for (int i = 0; i < n; ++i) y[i] = static_cast<Word16>(out[i]);
}

// Bit i set when y[i] and y[i + 1] bracket a root (their product is at
// most 0: a zero, or opposite signs), for i + 1 < n <= 65; y holds 80
// words (those past n are ignored).
__attribute__((target("avx2"))) uint64_t bracketBits_avx2(const Word16* y, int n) {
  const __m256i zero = _mm256_setzero_si256();
  uint64_t bits = 0;
  for (int h = 0; h < 2; ++h) {
    __m256i c[2];
    for (int v = 0; v < 2; ++v) {
      const Word16* at = y + 32 * h + 16 * v;
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
      c[v] = _mm256_or_si256(_mm256_cmpgt_epi16(zero, _mm256_xor_si256(a, b)),
                             _mm256_or_si256(_mm256_cmpeq_epi16(a, zero), _mm256_cmpeq_epi16(b, zero)));
    }
    // packs interleaves the 128-bit halves; the permute puts the bytes back in order.
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packs_epi16(c[0], c[1]), 0xD8);
    bits |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(bytes))} << (32 * h);
  }
  return bits & ((uint64_t{1} << (n - 1)) - 1);
}
#else
void lspChebyshevGrid_avx2(const Word16* x, int n, const Word16* f, int shift, Word16* y) {
  lspChebyshevGrid_scalar(x, n, f, shift, y);
}
uint64_t bracketBits_avx2(const Word16*, int) { return 0; }
#endif

namespace {

// The sum and difference polynomials of A(z) with their trivial roots at
// z = -1 and z = 1 divided out, halved into Q11 (scale 16384) or Q10 (scale
// 8192):  p_{i+1} = (a_{i+1} + a_{10-i}) / 2 - p_i  and
// q_{i+1} = (a_{i+1} - a_{10-i}) / 2 + q_i.  False when a step saturated.
bool foldedPolynomials(const Word16* a, Word16 scale, Word16 (&poly)[2][kNc + 1]) {
  bool ovf = false;
  poly[0][0] = poly[1][0] = shr(scale, 3);  // 1.0
  for (int i = 0; i < kNc; ++i) {
    const Word16 head = a[i + 1], tail = a[kLpOrder - i];
    const Word16 sum = extract_h(L_mac_o(L_mult_o(head, scale, ovf), tail, scale, ovf));
    const Word16 diff = extract_h(L_msu_o(L_mult_o(head, scale, ovf), tail, scale, ovf));
    poly[0][i + 1] = sat16_o(Word32{sum} - poly[0][i], ovf);
    poly[1][i + 1] = sat16_o(Word32{diff} + poly[1][i], ovf);
  }
  return !ovf;
}

// A point (cosine, polynomial value) of the root search.
struct Sample {
  Word16 x, y;
};

inline bool bracketsRoot(Sample u, Sample v) { return int32_t{u.y} * v.y <= 0; }

// a when c, else b, by masks (the choice follows the data: no branch).
inline Sample pick(bool c, Sample a, Sample b) {
  const int32_t m = -static_cast<int32_t>(c);
  return Sample{static_cast<Word16>((a.x & m) | (b.x & ~m)), static_cast<Word16>((a.y & m) | (b.y & ~m))};
}

// Zero of the chord through two samples that bracket a root, from the
// smaller cosine:  x0 - y0 (x1 - x0) / (y1 - y0), the slope formed as a Q11
// quotient by a normalised div_s; the bracket's own end when the chord is
// flat.
Word16 chordZero(Sample low, Sample high) {
  const Word16 dy = sub(high.y, low.y);
  if (dy == 0) return low.x;
  const Word16 n = norm_s(abs_s(dy));
  const Word16 inverse = div_s(16383, shl(abs_s(dy), n));
  Word16 slope = extract_l(L_shr(L_mult(sub(high.x, low.x), inverse), sub(20, n)));  // Q11
  if (dy < 0) slope = negate(slope);
  return sub(low.x, extract_l(L_shr(L_mult(low.y, slope), 11)));
}

}  // namespace

// The LSPs are the cosines at which the two folded polynomials vanish; the
// roots interlace, starting with the sum polynomial.  The search walks a
// fixed grid of cosines downwards with the polynomial whose root comes
// next; a sign change between two samples is narrowed by halving and the
// root placed on the chord.  The walk then continues from the root, on the
// other polynomial, towards the next grid point.
void lpToLsp(const Word16* a, const Word16* oldLsp, Word16* lsp, bool annexA) {
  Word16 poly[2][kNc + 1];
  int shift = 6;
  if (!foldedPolynomials(a, 16384, poly)) {
    foldedPolynomials(a, 8192, poly);
    shift = 7;
  }
  const Word16* grid = annexA ? kChebGrid51 : kChebGrid61;
  const int intervals = annexA ? 50 : 60;
  const int halvings = annexA ? 2 : 4;  // even

  int found = 0;
  const bool fits[2] = {lspChebyshevFits(poly[0], shift), lspChebyshevFits(poly[1], shift)};
  auto sample = [&](Word16 x) {
    const Word16* f = poly[found & 1];
    return Sample{x, fits[found & 1] ? lspChebyshevPlain(x, f, shift) : lspChebyshev(x, f, shift)};
  };
  // A bracket narrowed by the halvings, two at a time: the midpoint and
  // both midpoints the second halving may take are evaluated side by side
  // (three independent series), then the halves are chosen by selects, not
  // by branches on the signs; the root goes on the chord.
  auto root = [&](Sample lower, Sample upper) {
    for (int h = 0; h < halvings; h += 2) {
      const Word16 m = add(shr(lower.x, 1), shr(upper.x, 1));
      const Word16 ma = add(shr(lower.x, 1), shr(m, 1)), mb = add(shr(m, 1), shr(upper.x, 1));
      const Sample mid = sample(m), midLow = sample(ma), midHigh = sample(mb);
      const bool low = bracketsRoot(lower, mid);
      const Sample from = pick(low, lower, mid), to = pick(low, mid, upper), next = pick(low, midLow, midHigh);
      const bool low2 = bracketsRoot(from, next);
      lower = pick(low2, from, next);
      upper = pick(low2, next, to);
    }
    return chordZero(lower, upper);
  };
  // With vector lanes, both polynomials at every grid point at once, and
  // the grid intervals whose ends bracket a root as bits.
  alignas(32) Word16 onGrid[2][80] = {};
  static const bool vectorLevel = voksc::cpu::level() >= voksc::cpu::Level::kAvx2;
  if (vectorLevel && fits[0] && fits[1]) {
    uint64_t change[2];
    for (int q = 0; q < 2; ++q) {
      lspChebyshevGrid_avx2(grid, intervals + 1, poly[q], shift, onGrid[q]);
      change[q] = bracketBits_avx2(onGrid[q], intervals + 1);
    }
    // The walk of the loop below with the grid's brackets read from the
    // bits: from a grid sample, the next bracketed interval directly; from
    // a root (on the other polynomial), its interval to the next grid
    // point first.
    Sample upper{grid[0], onGrid[0][0]};
    bool fromRoot = false;
    for (int g = 1; g <= intervals && found < kLpOrder; ++g) {
      const int q = found & 1;
      if (fromRoot) {
        const Sample lower{grid[g], onGrid[q][g]};
        fromRoot = bracketsRoot(lower, upper);
        if (!fromRoot) {
          upper = lower;
          continue;
        }
      } else {
        const uint64_t ahead = change[q] >> (g - 1);  // bit i: interval g - 1 + i
        if (ahead == 0) break;
        g += __builtin_ctzll(ahead);
        upper = Sample{grid[g - 1], onGrid[q][g - 1]};
      }
      lsp[found++] = root(Sample{grid[g], onGrid[q][g]}, upper);
      upper = sample(lsp[found - 1]);
      fromRoot = true;
    }
  } else {
    Sample upper = sample(grid[0]);
    for (int g = 1; g <= intervals && found < kLpOrder; ++g) {
      const Sample lower = sample(grid[g]);
      if (!bracketsRoot(lower, upper)) {
        upper = lower;
        continue;
      }
      lsp[found++] = root(lower, upper);
      upper = sample(lsp[found - 1]);
    }
  }
  if (found < kLpOrder) std::memcpy(lsp, oldLsp, kLpOrder * sizeof(Word16));
}

namespace {

// F1 (even LSPs) or F2 (odd LSPs) in Q24: the product of the second-order
// sections 1 - 2 q z^-1 + z^-2, through the operator chain.
void lspPolynomialChain(const Word16* lsp, Word32* f) {
  f[0] = L_mult(4096, 2048);
  f[1] = L_msu(0, lsp[0], 512);
  for (int i = 2; i <= kNc; ++i) {
    const Word16 q = lsp[2 * i - 2];
    f[i] = f[i - 2];
    for (int j = i; j > 1; --j) {
      Word16 hi, lo;
      L_Extract(f[j - 1], hi, lo);
      const Word32 t = L_shl(vokMpy32x16(hi, lo, q), 1);
      f[j] = L_sub(L_add(f[j], f[j - 2]), t);
    }
    f[1] = L_msu(f[1], q, 512);
  }
}

// The same in 64-bit arithmetic.  The chain's product term is
// L_shl(Mpy32x16(hi, lo, q), 1) with (hi, lo) the split of f, which is
// 4 (((f >> 1) q) >> 15) exactly (mult() floors as the shift does); while
// that term, the sum f[j] + f[j-2] and the difference stay inside 32 bits
// no operator saturates and the results agree.
//
// The first four sections cannot leave 32 bits: with |q| <= 2^15 a section
// maps coefficient bounds B[j] to B[j] + B[j-2] + 2 B[j-1] + 4 (the floor
// adds at most 4), the binomial recursion, so after section i every |f[j]|
// is at most C(2i, j) 2^24 + 2^10; after the fourth that is 70 2^24 + 2^10
// < 2^31, and the fourth's product terms and sums stay within 40 2^24 + 2^11
// and 30 2^24 + 2^11.
// Only the fifth section is checked; a value outside 32 bits there sends
// the whole polynomial through the chain.
// The 64-bit form proper: false when the fifth section leaves 32 bits.
__attribute__((always_inline)) inline bool lspPolynomial64(const Word16* lsp, int64_t* g) {
  g[0] = 1 << 24;
  g[1] = -1024 * int64_t{lsp[0]};
#pragma GCC unroll 4
  for (int i = 2; i < kNc; ++i) {
    const int64_t q = lsp[2 * i - 2];
    g[i] = g[i - 2];
#pragma GCC unroll 4
    for (int j = i; j > 1; --j) g[j] = g[j] + g[j - 2] - 4 * (((g[j - 1] >> 1) * q) >> 15);
    g[1] -= 1024 * q;
  }
  const int64_t q = lsp[2 * kNc - 2];
  g[kNc] = g[kNc - 2];
  uint64_t outside = 0;
#pragma GCC unroll 4
  for (int j = kNc; j > 1; --j) {
    const int64_t t = 4 * (((g[j - 1] >> 1) * q) >> 15);
    const int64_t sum = g[j] + g[j - 2];
    g[j] = sum - t;
    outside |= static_cast<uint64_t>(t - kMin32) | static_cast<uint64_t>(sum - kMin32) |
               static_cast<uint64_t>(g[j] - kMin32);
  }
  g[1] -= 1024 * q;
  return !(outside >> 32);
}

void lspPolynomial(const Word16* lsp, Word32* f) {
  int64_t g[kNc + 1];
  if (!lspPolynomial64(lsp, g)) {
    lspPolynomialChain(lsp, f);
    return;
  }
  for (int i = 0; i <= kNc; ++i) f[i] = static_cast<Word32>(g[i]);
}

}  // namespace

// A(z) from F1 (1 + z^-1) and F2 (1 - z^-1).  The sums s = f1[i] + f1[i-1],
// d = f2[i] - f2[i-1], s + d and s - d are first formed in 64 bits: when all
// of them lie inside 32 bits no operator of the chain saturates, and the
// rounding L_shr_r(x, 13) of a 32-bit x is (x + 2^12) >> 13 exactly (its
// added bit 12 is the carry of 2^12 into bit 13), so the words agree.  Any
// value outside sends the whole set through the saturating operators.
// Both polynomials in 64 bits side by side (two independent chains); when
// both stay inside 32 bits they are the chain's words and feed the sums.
void lspToLp_scalar(const Word16* lsp, Word16* a) {
  int64_t g1[kNc + 1], g2[kNc + 1];
  const bool fit1 = lspPolynomial64(lsp, g1);
  const bool fit2 = lspPolynomial64(lsp + 1, g2);
  if (fit1 && fit2) {
    int64_t u[kNc + 1], v[kNc + 1];
    uint64_t outside = 0;
    for (int i = 1; i <= kNc; ++i) {
      const int64_t s = g1[i] + g1[i - 1];
      const int64_t d = g2[i] - g2[i - 1];
      u[i] = s + d;
      v[i] = s - d;
      outside |= static_cast<uint64_t>(s - kMin32) | static_cast<uint64_t>(d - kMin32) |
                 static_cast<uint64_t>(u[i] - kMin32) | static_cast<uint64_t>(v[i] - kMin32);
    }
    if (!(outside >> 32)) {
      a[0] = 4096;
      for (int i = 1, j = kLpOrder; i <= kNc; ++i, --j) {
        a[i] = static_cast<Word16>((u[i] + 4096) >> 13);
        a[j] = static_cast<Word16>((v[i] + 4096) >> 13);
      }
      return;
    }
  }
  Word32 f1[kNc + 1], f2[kNc + 1];
  lspPolynomial(lsp, f1);
  lspPolynomial(lsp + 1, f2);
  for (int i = kNc; i > 0; --i) {
    f1[i] = L_add(f1[i], f1[i - 1]);
    f2[i] = L_sub(f2[i], f2[i - 1]);
  }
  a[0] = 4096;
  for (int i = 1, j = kLpOrder; i <= kNc; ++i, --j) {
    a[i] = extract_l(L_shr_r(L_add(f1[i], f2[i]), 13));
    a[j] = extract_l(L_shr_r(L_sub(f1[i], f2[i]), 13));
  }
}

#if defined(__i386__) || defined(__x86_64__)

namespace {

// 4 (((f >> 1) q) >> 15) in both 64-bit lanes for f inside 32 bits and
// |q| <= 2^15: the signed product of the low words, |f >> 1| q within 2^45,
// shifted logically and sign-extended from bit 48 (bits 45-63 of the product
// are all its sign), as the 64-bit form computes it.
__attribute__((target("avx2"))) inline __m128i sectionTerm(__m128i f, __m128i q) {
  const __m128i bit48 = _mm_set1_epi64x(int64_t{1} << 48);
  const __m128i p = _mm_mul_epi32(_mm_srai_epi32(f, 1), q);
  return _mm_slli_epi64(_mm_sub_epi64(_mm_xor_si128(_mm_srli_epi64(p, 15), bit48), bit48), 2);
}

// q of section i for both polynomials: lsp[2i - 2] and lsp[2i - 1].
__attribute__((target("avx2"))) inline __m128i qPair(const Word16* lsp, int i) {
  int32_t w;
  std::memcpy(&w, lsp + 2 * i - 2, sizeof w);
  return _mm_cvtepi16_epi64(_mm_cvtsi32_si128(w));
}

// x + 2^31 in both lanes: below 2^32 exactly when x lies inside 32 bits.
__attribute__((target("avx2"))) inline __m128i offset32(__m128i x) {
  return _mm_add_epi64(x, _mm_set1_epi64x(int64_t{1} << 31));
}

}  // namespace

// The 64-bit form with F1 in the low lane and F2 in the high one: the same
// sections, sums and bounds step for step (every f that enters a product
// lies inside 32 bits: the first four sections' by their bound, the fifth
// section's inputs are the fourth's outputs), so the words are equal; any
// value outside 32 bits sends both through the scalar form and its chain.
__attribute__((target("avx2"))) void lspToLp_avx2(const Word16* lsp, Word16* a) {
  __m128i g[kNc + 1];
  g[0] = _mm_set1_epi64x(int64_t{1} << 24);
  g[1] = _mm_sub_epi64(_mm_setzero_si128(), _mm_slli_epi64(qPair(lsp, 1), 10));
  for (int i = 2; i < kNc; ++i) {
    const __m128i q = qPair(lsp, i);
    g[i] = g[i - 2];
    for (int j = i; j > 1; --j) g[j] = _mm_sub_epi64(_mm_add_epi64(g[j], g[j - 2]), sectionTerm(g[j - 1], q));
    g[1] = _mm_sub_epi64(g[1], _mm_slli_epi64(q, 10));
  }
  const __m128i q = qPair(lsp, kNc);
  g[kNc] = g[kNc - 2];
  __m128i outside = _mm_setzero_si128();
  for (int j = kNc; j > 1; --j) {
    const __m128i t = sectionTerm(g[j - 1], q);
    const __m128i sum = _mm_add_epi64(g[j], g[j - 2]);
    g[j] = _mm_sub_epi64(sum, t);
    outside = _mm_or_si128(outside, _mm_or_si128(_mm_or_si128(offset32(t), offset32(sum)), offset32(g[j])));
  }
  g[1] = _mm_sub_epi64(g[1], _mm_slli_epi64(q, 10));
  // s = f1[i] + f1[i-1] in the low lane, d = f2[i] - f2[i-1] in the high
  // one, then s + d and s - d; the words are (x + 2^12) >> 13, whose low 16
  // bits a logical shift gives as well.
  alignas(16) int64_t w[kNc + 1][2];
  for (int i = 1; i <= kNc; ++i) {
    const __m128i sd = _mm_blend_epi32(_mm_add_epi64(g[i], g[i - 1]), _mm_sub_epi64(g[i], g[i - 1]), 0xC);
    const __m128i ds = _mm_shuffle_epi32(sd, 0x4E);
    const __m128i uv = _mm_unpacklo_epi64(_mm_add_epi64(sd, ds), _mm_sub_epi64(sd, ds));
    outside = _mm_or_si128(outside, _mm_or_si128(offset32(sd), offset32(uv)));
    _mm_store_si128(reinterpret_cast<__m128i*>(w[i]), _mm_srli_epi64(_mm_add_epi64(uv, _mm_set1_epi64x(4096)), 13));
  }
  if (!_mm_testz_si128(outside, _mm_set_epi32(-1, 0, -1, 0))) {
    lspToLp_scalar(lsp, a);
    return;
  }
  a[0] = 4096;
  for (int i = 1, j = kLpOrder; i <= kNc; ++i, --j) {
    a[i] = static_cast<Word16>(w[i][0]);
    a[j] = static_cast<Word16>(w[i][1]);
  }
}

#else

void lspToLp_avx2(const Word16* lsp, Word16* a) { lspToLp_scalar(lsp, a); }

#endif

void lspToLp(const Word16* lsp, Word16* a) {
  static const auto form = voksc::cpu::choose(lspToLp_scalar, lspToLp_avx2);
  form(lsp, a);
}

// The last of the 64 strictly decreasing cosines (the first is 32767) that
// is at least x: six halvings with selects, no branch that follows the data.
inline int lastAtLeast(const int16_t* table, Word16 x) {
  int k = 0;
  for (int s = 32; s > 0; s >>= 1) k += table[k + s] >= x ? s : 0;
  return k;
}

// The table walks below go down from the previous index while the cosine
// is below the LSP; with the table decreasing they stop at the smaller of
// that index and the last cosine at least the LSP (the first is 32767, so
// the walk never passes index 0), found without the walk's branches.
// The conversion from each LSP's last table cosine at least as large
// (last[i]); the walk's index is the running minimum from the top LSP down.
inline void lspToLsfFrom(const Word16* lsp, const int* last, Word16* lsf) {
  int ind = 63;
  for (int i = kLpOrder - 1; i >= 0; --i) {
    ind = std::min(ind, last[i]);
    const Word16 offset = sub(lsp[i], kCosTable64[ind]);
    const Word16 freq = add(shl(static_cast<Word16>(ind), 9), extract_l(L_shr(L_mult(kAcosSlope[ind], offset), 12)));
    lsf[i] = mult(freq, 25736);
  }
}

void lspToLsf_scalar(const Word16* lsp, Word16* lsf) {
  int last[kLpOrder];
  for (int i = 0; i < kLpOrder; ++i) last[i] = lastAtLeast(kCosTable64, lsp[i]);
  lspToLsfFrom(lsp, last, lsf);
}

#if defined(__x86_64__) || defined(__i386__)
// The last index as 63 less the count of table cosines below x: with the
// table strictly decreasing those are its last entries, and the first
// (32767) is never below.  Four 16-word compares, their masks counted (two
// mask bits a word).
__attribute__((target("avx2,popcnt"))) void lspToLsf_avx2(const Word16* lsp, Word16* lsf) {
  __m256i table[4];
  for (int q = 0; q < 4; ++q) table[q] = _mm256_load_si256(reinterpret_cast<const __m256i*>(kCosTable64 + 16 * q));
  int last[kLpOrder];
  for (int i = 0; i < kLpOrder; ++i) {
    const __m256i xv = _mm256_set1_epi16(lsp[i]);
    int below = 0;
    for (int q = 0; q < 4; ++q)
      below += _mm_popcnt_u32(static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpgt_epi16(xv, table[q]))));
    last[i] = 63 - below / 2;
  }
  lspToLsfFrom(lsp, last, lsf);
}
#else
void lspToLsf_avx2(const Word16* lsp, Word16* lsf) { lspToLsf_scalar(lsp, lsf); }
#endif

void lspToLsf(const Word16* lsp, Word16* lsf) {
  static const auto form = voksc::cpu::choose(lspToLsf_scalar, lspToLsf_avx2);
  form(lsp, lsf);
}

void lspToLsfNorm(const Word16* lsp, Word16* lsf) {
  int ind = 63;
  for (int i = kLpOrder - 1; i >= 0; --i) {
    ind = std::min(ind, lastAtLeast(kCosTable65, lsp[i]));
    const Word32 t = L_mult(sub(lsp[i], kCosTable65[ind]), kCosSlope64[ind]);
    lsf[i] = add(round_fx(L_shl(t, 3)), shl(static_cast<Word16>(ind), 8));
  }
}

int lsfToLsp(const Word16* lsf, Word16* lsp) {
  for (int i = 0; i < kLpOrder; ++i) {
    const Word16 freq = mult(lsf[i], 20861);  // 1 / (2 pi) in Q17
    Word16 ind = shr(freq, 8);
    if (ind < 0) return i;
    if (ind > 63) ind = 63;
    const Word16 offset = static_cast<Word16>(freq & 0xFF);
    lsp[i] = add(kCosTable64[ind], extract_l(L_shr(L_mult(kCosSlope[ind], offset), 13)));
  }
  return -1;
}

}  // namespace voksc::g729

using namespace voksc::g729;

VOKSC_EXPORT VokResult voksLagWindow_G729_32s_I(Vok32s* r, int len) {
  if (!r) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (len > 12) return vokErrRange;
  lpLagWindow(r, len);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLevinsonDurbin_G729_32s16s(const Vok32s* r, int order, Vok16s* a, Vok16s* rc, Vok16s* err) {
  if (anyNull(r, a, rc, err)) return vokErrNullPtr;
  if (order < 1 || order > kMaxOrder) return vokErrRange;
  if (r[0] > -65536 && r[0] < 65536) return vokWrnOverflow;
  Word16 ta[kMaxOrder + 1], trc[kMaxOrder], terr;
  if (!lpLevinson(r, order, ta, trc, &terr)) return vokWrnOverflow;
  std::memcpy(a, ta, static_cast<size_t>(order + 1) * sizeof(Word16));
  std::memcpy(rc, trc, static_cast<size_t>(order) * sizeof(Word16));
  *err = terr;
  return vokOk;
}

VOKSC_EXPORT VokResult voksLevinsonDurbin_G729B(const Vok32s* r, Vok16s* a, Vok16s* rc2, Vok16s* err) {
  if (!rc2) return vokErrNullPtr;
  Vok16s rc[kLpOrder];
  const VokResult st = voksLevinsonDurbin_G729_32s16s(r, kLpOrder, a, rc, err);
  if (st == vokOk) {
    rc2[0] = rc[0];
    rc2[1] = rc[1];
  }
  return st;
}

VOKSC_EXPORT VokResult voksLPCToLSP_G729_16s(const Vok16s* a, const Vok16s* oldLsp, Vok16s* lsp) {
  if (anyNull(a, oldLsp, lsp)) return vokErrNullPtr;
  lpToLsp(a, oldLsp, lsp, false);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLPCToLSP_G729A_16s(const Vok16s* a, const Vok16s* oldLsp, Vok16s* lsp) {
  if (anyNull(a, oldLsp, lsp)) return vokErrNullPtr;
  lpToLsp(a, oldLsp, lsp, true);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSPToLPC_G729_16s(const Vok16s* lsp, Vok16s* a) {
  if (anyNull(lsp, a)) return vokErrNullPtr;
  lspToLp(lsp, a);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSPToLSF_G729_16s(const Vok16s* lsp, Vok16s* lsf) {
  if (anyNull(lsp, lsf)) return vokErrNullPtr;
  lspToLsf(lsp, lsf);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSPToLSF_Norm_G729_16s(const Vok16s* lsp, Vok16s* lsf) {
  if (anyNull(lsp, lsf)) return vokErrNullPtr;
  lspToLsfNorm(lsp, lsf);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSFToLSP_G729_16s(const Vok16s* lsf, Vok16s* lsp) {
  if (anyNull(lsf, lsp)) return vokErrNullPtr;
  return lsfToLsp(lsf, lsp) < 0 ? vokOk : vokErrDomain;
}

VOKSC_EXPORT VokResult voksInterpolate_G729_16s(const Vok16s* a, const Vok16s* b, Vok16s* out, int len) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  for (int i = 0; i < len; ++i) out[i] = add(shr(a[i], 1), shr(b[i], 1));
  return vokOk;
}

// Each product is shifted (truncating) before the saturating sum.
VOKSC_EXPORT VokResult voksInterpolateC_G729_16s_Sfs(const Vok16s* a, Vok16s wa, const Vok16s* b, Vok16s wb,
                                                     Vok16s* out, int len, int scale) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (scale < 0) return vokErrScale;
  if (len < 1) return vokErrSize;
  const int s = scale > 31 ? 31 : scale;
  for (int i = 0; i < len; ++i) {
    const int64_t v = ((int64_t{a[i]} * wa) >> s) + ((int64_t{b[i]} * wb) >> s);
    out[i] = static_cast<Vok16s>(v > kMax16 ? kMax16 : (v < kMin16 ? kMin16 : v));
  }
  return vokOk;
}

// The sum is rounded once: (a wa + b wb + 2^(s-1)) >> s.
VOKSC_EXPORT VokResult voksInterpolateC_NR_G729_16s_Sfs(const Vok16s* a, Vok16s wa, const Vok16s* b, Vok16s wb,
                                                        Vok16s* out, int len, int scale) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (scale < 0) return vokErrScale;
  if (len < 1) return vokErrSize;
  const int s = scale > 31 ? 31 : scale;
  const int64_t rnd = s > 0 ? (int64_t{1} << (s - 1)) : 0;
  for (int i = 0; i < len; ++i) {
    const int64_t v = (int64_t{a[i]} * wa + int64_t{b[i]} * wb + rnd) >> s;
    out[i] = static_cast<Vok16s>(v > kMax16 ? kMax16 : (v < kMin16 ? kMin16 : v));
  }
  return vokOk;
}
