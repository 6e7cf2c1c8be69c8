// AMR-WB conversions between LP coefficients (Q12), immittance spectral
// pairs (ISP, Q15 cosines with the last reflection-like coefficient last)
// and immittance spectral frequencies (ISF, 0..16384 for 0..fs/2, the last
// one at half scale).
#include <cstdint>

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "isf_tables.h"

using namespace voksc::op;
using voksc::anyNull;
using voksc::vokMpy32x16;

namespace voksc::amrwb {

namespace {

constexpr int kGridIntervals = 100;

// Coefficients, Q11, of the sum or difference polynomial of an order-m LP
// filter in the order the Chebyshev evaluation consumes them.  The sum
// polynomial is (a[i] + a[m-i]) / 2 for i < m/2 and a[m/2] last; the
// difference polynomial is (a[i] - a[m-i]) / 2 divided by (1 - z^-2), i.e.
// the running sum over every second coefficient.  Indices past the end
// read 0.  Up to order 31 the coefficients are formed once and
// read back on every evaluation; above, they are generated on the fly, so
// any order needs no buffer.
class HalfPolynomial {
 public:
  HalfPolynomial(const int16_t* a, int m, bool difference)
      : a_(a), m_(m), half_(m / 2), diff_(difference), cached_(m / 2 < kCached) {
    if (!cached_) return;
    for (int i = 0; i < kCached; ++i) coef_[i] = generate();  // zeros past the end
    restart();
  }
  int degree() const { return diff_ ? half_ - 1 : half_; }
  // The coefficients formed once, or null above the cached orders.
  const int16_t* coefficients() const { return cached_ ? coef_ : nullptr; }
  void restart() { next_ = 0; older_ = newer_ = 0; }
  int16_t next() {
    if (cached_) {
      const int i = next_++;
      return i < kCached ? coef_[i] : 0;
    }
    return generate();
  }

 private:
  static constexpr int kCached = 16;
  int16_t generate() {
    const int i = next_++;
    if (i > half_ || (diff_ && i == half_)) return 0;
    if (!diff_) {
      if (i == half_) return a_[half_];
      return round_fx(L_mac(L_mult(a_[i], 16384), a_[m_ - i], 16384));
    }
    int16_t c = round_fx(L_msu(L_mult(a_[i], 16384), a_[m_ - i], 16384));
    if (i >= 2) c = add(c, older_);
    older_ = newer_;
    newer_ = c;
    return c;
  }

  const int16_t* a_;
  int m_, half_;
  bool diff_, cached_;
  int16_t coef_[kCached];
  int next_ = 0;
  int16_t older_ = 0, newer_ = 0;  // the two previous difference terms
};

// Value at x (Q15 cosine) of the Chebyshev series c0 T_n + ... + c(n-1) T_1
// + c(n)/2 by the backward recursion b_k = 2 x b_(k+1) - b_(k+2) + c_k, the
// b values kept as split 32-bit numbers in Q24.  Result Q14, saturated, with
// -32768 moved to -32767 so that products of two values stay exact.
//
// The plain form runs the same steps on 64-bit integers: every operator of
// the recursion rounds nothing that the plain step does not (the split's
// low part is non-negative, so its Q15 product never saturates), and each
// sum and doubling saturates only when it leaves 32 bits.  It records any
// such step, and the saturating form then runs instead.
struct PlainSteps {
  // Bits 32 and up of v + 2^31 are zero exactly for v inside 32 bits.
  uint64_t outside = 0;
  int64_t operator()(int64_t v) {
    outside |= static_cast<uint64_t>(v) + 0x80000000u;
    return v;
  }
  bool out() const { return (outside >> 32) != 0; }
};
struct PlainSplit {
  int64_t hi, lo;
};
inline PlainSplit plainSplit(int64_t v) { return {v >> 16, (v >> 1) - (v >> 16) * 32768}; }
// mpy32x16: 2 hi x + 2 ((lo x) >> 15).
inline int64_t plainProduct(PlainSplit s, int64_t x, PlainSteps& f) {
  return f(f(2 * s.hi * x) + 2 * ((s.lo * x) >> 15));
}
bool chebyshevPlain(int16_t x, const int16_t* c, int n, int16_t& value) {
  PlainSteps f;
  PlainSplit far = plainSplit(int64_t{c[0]} * 8192);
  PlainSplit near = plainSplit(f(f(2 * plainProduct(far, x, f)) + int64_t{c[1]} * 8192));
  for (int k = 2; k < n; ++k) {
    int64_t t = f(plainProduct(near, x, f) - far.hi * 32768);
    t = f(f(2 * f(t + int64_t{c[k]} * 4096)) - 2 * far.lo);
    far = near;
    near = plainSplit(t);
  }
  int64_t t = f(plainProduct(near, x, f) + f(-65536 * far.hi));
  // The last coefficient read: c[n], c[0] for degree 0, c[2] below.
  t = f(f(t - 2 * far.lo) + int64_t{c[n >= 1 ? n : (n == 0 ? 0 : 2)]} * 4096);
  if (f.out()) return false;
  const int64_t shifted = t * 64;
  const int32_t top = shifted > INT32_MAX ? INT32_MAX : (shifted < INT32_MIN ? INT32_MIN : static_cast<int32_t>(shifted));
  const int16_t v = static_cast<int16_t>(top >> 16);
  value = v == kMin16 ? static_cast<int16_t>(-32767) : v;
  return true;
}

int16_t chebyshevAt(int16_t x, HalfPolynomial& p) {
  const int n = p.degree();
  int16_t plain;
  if (p.coefficients() && chebyshevPlain(x, p.coefficients(), n, plain)) return plain;
  p.restart();
  const int16_t c0 = p.next();
  Split far = vokSplit(L_mult(c0, 4096));  // b_(k+2)
  Split near = vokSplit(L_mac(L_shl(vokMpy32x16(far, x), 1), p.next(), 4096));
  for (int k = 2; k < n; ++k) {
    Word32 t = vokMpy32x16(near, x);
    t = L_mac(t, far.hi, -16384);
    t = L_mac(t, p.next(), 2048);
    t = L_msu(L_shl(t, 1), far.lo, 1);
    far = near;
    near = vokSplit(t);
  }
  Word32 t = vokMpy32x16(near, x);
  t = L_mac(t, far.hi, kMin16);
  t = L_msu(t, far.lo, 1);
  const int16_t last = n == 0 ? c0 : (n == 1 ? (p.restart(), p.next(), p.next()) : p.next());
  t = L_mac(t, last, 2048);
  const int16_t v = extract_h(L_shl(t, 6));
  return v == kMin16 ? static_cast<int16_t>(-32767) : v;
}

bool signChangeOrZero(int16_t u, int16_t v) { return L_mult(u, v) <= 0; }

// Root between xLow (value yLow) and xHigh (value yHigh) by linear
// interpolation: xLow - yLow (xHigh - xLow) / (yHigh - yLow), the slope
// formed in Q11 from a normalised 16-bit division.
int16_t interpolateRoot(int16_t xLow, int16_t yLow, int16_t xHigh, int16_t yHigh) {
  const int16_t dy = sub(yHigh, yLow);
  if (dy == 0) return xLow;
  const int16_t dx = sub(xHigh, xLow);
  const int16_t mag = abs_s(dy);
  const int16_t e = norm_s(mag);
  const int16_t inv = div_s(16383, shl(mag, e));
  int16_t slope = extract_l(L_shr(L_mult(dx, inv), static_cast<Word16>(20 - e)));
  if (dy < 0) slope = negate(slope);
  return sub(xLow, extract_l(L_shr(L_mult(yLow, slope), 11)));
}

// Roots of the sum and difference polynomials, alternately, on the cosine
// grid; each bracketed root is narrowed by two halvings and interpolated.
// Fewer than m - 1 roots: the previous ISPs are returned unchanged.
void lpToIsp(const int16_t* a, const int16_t* prevIsp, int16_t* isp, int m) {
  HalfPolynomial sum(a, m, false), diff(a, m, true);
  HalfPolynomial* poly[2] = {&sum, &diff};
  int which = 0, found = 0;
  int16_t xLow = kChebGrid[0];
  int16_t yLow = found < m - 1 ? chebyshevAt(xLow, *poly[which]) : 0;
  for (int g = 1; found < m - 1 && g <= kGridIntervals; ++g) {
    int16_t xHigh = xLow, yHigh = yLow;
    xLow = kChebGrid[g];
    yLow = chebyshevAt(xLow, *poly[which]);
    if (!signChangeOrZero(yLow, yHigh)) continue;
    for (int halving = 0; halving < 2; ++halving) {
      const int16_t xMid = add(shr(xLow, 1), shr(xHigh, 1));
      const int16_t yMid = chebyshevAt(xMid, *poly[which]);
      if (signChangeOrZero(yLow, yMid)) {
        xHigh = xMid;
        yHigh = yMid;
      } else {
        xLow = xMid;
        yLow = yMid;
      }
    }
    xLow = interpolateRoot(xLow, yLow, xHigh, yHigh);
    isp[found++] = xLow;
    which ^= 1;
    yLow = chebyshevAt(xLow, *poly[which]);
  }
  if (found < m - 1) {
    for (int i = 0; i < m; ++i) isp[i] = prevIsp[i];
  } else {
    isp[m - 1] = shl(a[m], 3);
  }
}

// Product of (1 - 2 q_k z^-1 + z^-2) over n cosines q_k = cos[0], cos[2],
// ... (every second ISP), coefficients 0..n with f[0] = 1.0 = 2^(unitShift).
// Built one factor at a time in place, from the top coefficient down.
void expandPairs(const int16_t* cos, int n, int unitShift, int32_t* f) {
  const int16_t unit = static_cast<int16_t>(1 << (unitShift - 13));  // 2 * 4096 * unit = 2^unitShift
  const int16_t twoUnitsQ15 = static_cast<int16_t>(1 << (unitShift - 15));
  f[0] = L_mult(4096, unit);
  if (n < 1) return;
  f[1] = L_mult(cos[0], static_cast<int16_t>(-twoUnitsQ15));
  for (int k = 2; k <= n; ++k) {
    const int16_t q = cos[2 * (k - 1)];
    f[k] = f[k - 2];
    for (int j = k; j >= 2; --j) {
      const Word32 t = L_shl(vokMpy32x16(vokSplit(f[j - 1]), q), 1);
      f[j] = L_add(L_sub(f[j], t), f[j - 2]);
    }
    f[1] = L_msu(f[1], q, twoUnitsQ15);
  }
}

// LP coefficients from ISPs: F1 from the even ISPs, F2 from the odd ones
// times (1 - z^-2), scaled by (1 + last) and (1 - last); a = (F1 +- F2) / 2
// with the symmetric and antisymmetric halves.  Half orders above 8 expand
// in Q21 and move to Q23 with saturation, keeping headroom for the larger
// products.  Coefficients are stored from the low 16 bits of the rounded
// values (no saturation).
void ispToLp(const int16_t* isp, int16_t* a, int m) {
  const int nc = m / 2;
  const bool wide = nc > 8;
  int32_t f1[11], f2[11];
  expandPairs(isp, nc, wide ? 21 : 23, f1);
  expandPairs(isp + 1, nc - 1, wide ? 21 : 23, f2);
  if (wide) {
    for (int i = 0; i <= nc; ++i) f1[i] = L_shl(f1[i], 2);
    for (int i = 0; i < nc; ++i) f2[i] = L_shl(f2[i], 2);
  }
  for (int i = nc - 1; i > 1; --i) f2[i] = L_sub(f2[i], f2[i - 2]);
  const int16_t last = isp[m - 1];
  for (int i = 0; i < nc; ++i) {
    f1[i] = L_add(f1[i], vokMpy32x16(vokSplit(f1[i]), last));
    f2[i] = L_sub(f2[i], vokMpy32x16(vokSplit(f2[i]), last));
  }
  a[0] = 4096;
  if (m % 2 == 1 && m > 1) a[nc + 1] = 0;  // odd orders leave one middle term without a pair
  for (int i = 1; i < nc; ++i) {
    a[i] = extract_l(L_shr_r(L_add(f1[i], f2[i]), 12));
    a[m - i] = extract_l(L_shr_r(L_sub(f1[i], f2[i]), 12));
  }
  a[nc] = extract_l(L_shr_r(L_add(f1[nc], vokMpy32x16(vokSplit(f1[nc]), last)), 12));
  a[m] = shr_r(last, 3);
}

// Cosine of an ISF by linear interpolation in the 129-point table; the
// table index is kept inside the table (values outside 0..16383 extend the
// end intervals).
int16_t isfToCosine(int16_t isf) {
  int idx = isf >> 7;
  idx = idx < 0 ? 0 : (idx > 127 ? 127 : idx);
  const int16_t frac = static_cast<int16_t>(isf & 0x7F);
  const Word32 step = L_mult(sub(kIsfCos[idx + 1], kIsfCos[idx]), frac);
  return add(kIsfCos[idx], extract_l(L_shr(step, 8)));
}

}  // namespace

}  // namespace voksc::amrwb

using namespace voksc::amrwb;

VOKSC_EXPORT VokResult voksLPCToISP_AMRWBE_16s(const Vok16s* lpc, const Vok16s* prevIsp, Vok16s* ispOut, int order) {
  if (anyNull(lpc, prevIsp, ispOut)) return vokErrNullPtr;
  if (order < 1) return vokErrSize;
  lpToIsp(lpc, prevIsp, ispOut, order);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLPCToISP_AMRWB_16s(const Vok16s* lpc, Vok16s* ispOut, const Vok16s* prevIsp) {
  return voksLPCToISP_AMRWBE_16s(lpc, prevIsp, ispOut, 16);
}

VOKSC_EXPORT VokResult voksISPToLPC_AMRWB_16s(const Vok16s* isp, Vok16s* lpcOut, int order) {
  if (anyNull(isp, lpcOut)) return vokErrNullPtr;
  if (order < 1 || order > 20) return vokErrSize;
  ispToLp(isp, lpcOut, order);
  return vokOk;
}

VOKSC_EXPORT VokResult voksISFToISP_AMRWB_16s(const Vok16s* isf, Vok16s* ispOut, int len) {
  if (anyNull(isf, ispOut)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  const int16_t lastDoubled = shl(isf[len - 1], 1);
  for (int i = 0; i < len - 1; ++i) ispOut[i] = isfToCosine(isf[i]);
  ispOut[len - 1] = isfToCosine(lastDoubled);
  return vokOk;
}

// Table search from the top frequency down: each ISP finds the cosine
// interval at or below it, starting where the previous (higher) one ended,
// except that the last two restart at the top of the table.
VOKSC_EXPORT VokResult voksISPToISF_Norm_AMRWB_16s(const Vok16s* isp, Vok16s* isfOut, int len) {
  if (anyNull(isp, isfOut)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  int idx = 127;
  for (int i = len - 1; i >= 0; --i) {
    if (i >= len - 2) idx = 127;
    const int16_t v = isp[i];
    while (kIsfCos[idx] < v) --idx;
    const Word32 t = L_mult(sub(v, kIsfCos[idx]), kIsfSlope[idx]);
    isfOut[i] = add(round_fx(L_shl(t, 4)), static_cast<int16_t>(idx << 7));
  }
  isfOut[len - 1] = shr(isfOut[len - 1], 1);
  return vokOk;
}
