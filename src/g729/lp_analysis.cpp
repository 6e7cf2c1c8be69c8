// G.729 LP analysis: lag window, Levinson-Durbin recursion, LP <-> LSP
// conversions, LSP/LSF conversions and the LSP interpolations.
#include <cstdint>
#include <cstring>
#include <utility>

#include "common/basic_op.h"
#include "common/math_ops.h"
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
// falls back to the operators).  lo words are the 0..32767 halves of
// L_Extract.
inline int64_t mpy32Wide(Word16 h1, Word16 l1, Word16 h2, Word16 l2, bool& exact) {
  const int32_t p = int32_t{h1} * h2;
  // |2 h1 h2| + |2 mult(h1, l2)| + |2 mult(l1, h2)| stays below 2^31 unless
  // both high words lie in the top 3 codes of their range.
  exact &= !((h1 > 32765 || h1 < -32765) && (h2 > 32765 || h2 < -32765));
  return 2 * int64_t{p} + 2 * ((int32_t{h1} * l2) >> 15) + 2 * ((int32_t{l1} * h2) >> 15);
}

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

// The recursion, templated on how the prediction sum of each order is
// formed: the operator chain, or exact 64-bit sums that fall back to the
// chain when a partial sum would leave 32 bits.
template <bool kWide>
bool levinsonImpl(const Word32* r, int order, Word16* a, Word16* rc, Word16* err) {
  Word16 rh[kMaxOrder + 1], rl[kMaxOrder + 1];
  for (int i = 0; i <= order; ++i) L_Extract(r[i], rh[i], rl[i]);
  Word16 ah[kMaxOrder + 1], al[kMaxOrder + 1], anh[kMaxOrder + 1], anl[kMaxOrder + 1];
  Word16 k[kMaxOrder];
  Word16 kh, kl, hi, lo;

  // K = A[1] = -R[1] / R[0]; Alpha = R[0] (1 - K^2), normalised.
  Word32 t1 = L_Comp(rh[1], rl[1]);
  Word32 t0 = vokDiv32(L_abs(t1), rh[0], rl[0]);
  if (t1 > 0) t0 = L_negate(t0);
  L_Extract(t0, kh, kl);
  k[0] = kh;
  L_Extract(L_shr(t0, 4), ah[1], al[1]);
  t0 = L_sub(kMax32, L_abs(vokMpy32(kh, kl, kh, kl)));
  L_Extract(t0, hi, lo);
  t0 = vokMpy32(rh[0], rl[0], hi, lo);
  Word16 alpExp = norm_l(t0);
  Word16 alph, alpl;
  L_Extract(L_shl(t0, alpExp), alph, alpl);

  for (int i = 2; i <= order; ++i) {
    // t0 = sum R[j] A[i-j], j = 1..i-1, in Q27, then + R[i] in Q31.
    bool chain = !kWide;
    if (kWide) {
      int64_t s = 0;
      bool exact = true;
      for (int j = 1; j < i; ++j) {
        s += mpy32Wide(rh[j], rl[j], ah[i - j], al[i - j], exact);
        exact &= s >= kMin32 && s <= kMax32;
      }
      if (exact) {
        t0 = static_cast<Word32>(s);
      } else {
        chain = true;
      }
    }
    if (chain) {
      t0 = 0;
      for (int j = 1; j < i; ++j) t0 = L_add(t0, vokMpy32(rh[j], rl[j], ah[i - j], al[i - j]));
    }
    t0 = L_add(L_shl(t0, 4), L_Comp(rh[i], rl[i]));

    // K = -t0 / Alpha
    Word32 t2 = vokDiv32(L_abs(t0), alph, alpl);
    if (t0 > 0) t2 = L_negate(t2);
    t2 = L_shl(t2, alpExp);
    L_Extract(t2, kh, kl);
    k[i - 1] = kh;
    if (abs_s(kh) > 32750) return false;

    // An[j] = A[j] + K A[i-j], An[i] = K
    for (int j = 1; j < i; ++j) {
      bool exact = kWide;
      if (kWide) {
        const int64_t v = mpy32Wide(kh, kl, ah[i - j], al[i - j], exact) + int64_t{ah[j]} * 65536 + 2 * al[j];
        exact &= v >= kMin32 && v <= kMax32;
        t0 = static_cast<Word32>(v);
      }
      if (!exact) t0 = L_add(vokMpy32(kh, kl, ah[i - j], al[i - j]), L_Comp(ah[j], al[j]));
      anh[j] = static_cast<Word16>(t0 >> 16);
      anl[j] = static_cast<Word16>((t0 >> 1) & 0x7FFF);
    }
    L_Extract(L_shr(t2, 4), anh[i], anl[i]);

    // Alpha = Alpha (1 - K^2), normalised
    t0 = L_sub(kMax32, L_abs(vokMpy32(kh, kl, kh, kl)));
    L_Extract(t0, hi, lo);
    t0 = vokMpy32(alph, alpl, hi, lo);
    const Word16 e = norm_l(t0);
    L_Extract(L_shl(t0, e), alph, alpl);
    alpExp = add(alpExp, e);

    std::memcpy(ah + 1, anh + 1, static_cast<size_t>(i) * sizeof(Word16));
    std::memcpy(al + 1, anl + 1, static_cast<size_t>(i) * sizeof(Word16));
  }
  a[0] = 4096;
  for (int i = 1; i <= order; ++i) a[i] = round_fx(L_shl(L_Comp(ah[i], al[i]), 1));
  std::memcpy(rc, k, static_cast<size_t>(order) * sizeof(Word16));
  *err = shr(alph, alpExp);
  return true;
}

}  // namespace

bool lpLevinson(const int32_t* r, int order, int16_t* a, int16_t* rc, int16_t* err) {
  return levinsonImpl<true>(r, order, a, rc, err);
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

namespace {
}  // namespace

void lpToLsp(const Word16* a, const Word16* oldLsp, Word16* lsp, bool annexA) {
  // F1(z) / (1 + z^-1) and F2(z) / (1 - z^-1) in Q11; Q10 when Q11 overflows.
  Word16 f1[kNc + 1], f2[kNc + 1];
  bool ovf = false;
  f1[0] = 2048;
  f2[0] = 2048;
  for (int i = 0; i < kNc; ++i) {
    Word32 t = L_mac_o(L_mult_o(a[i + 1], 16384, ovf), a[kLpOrder - i], 16384, ovf);
    f1[i + 1] = sat16_o(Word32{extract_h(t)} - f1[i], ovf);
    t = L_msu_o(L_mult_o(a[i + 1], 16384, ovf), a[kLpOrder - i], 16384, ovf);
    f2[i + 1] = sat16_o(Word32{extract_h(t)} + f2[i], ovf);
  }
  int shift = 6;
  if (ovf) {
    shift = 7;
    f1[0] = 1024;
    f2[0] = 1024;
    for (int i = 0; i < kNc; ++i) {
      Word32 t = L_mac(L_mult(a[i + 1], 8192), a[kLpOrder - i], 8192);
      f1[i + 1] = sub(extract_h(t), f1[i]);
      t = L_msu(L_mult(a[i + 1], 8192), a[kLpOrder - i], 8192);
      f2[i + 1] = add(extract_h(t), f2[i]);
    }
  }

  // Roots of F1 and F2 in turn: sign changes on the grid, refined by
  // bisection and placed by linear interpolation.
  const Word16* grid = annexA ? kChebGrid51 : kChebGrid61;
  const int intervals = annexA ? 50 : 60;
  const int bisections = annexA ? 2 : 4;
  int nf = 0;
  const Word16* coef = f1;
  Word16 xlow = grid[0];
  Word16 ylow = lspChebyshev(xlow, coef, shift);
  for (int j = 1; nf < kLpOrder && j <= intervals; ++j) {
    Word16 xhigh = xlow, yhigh = ylow;
    xlow = grid[j];
    ylow = lspChebyshev(xlow, coef, shift);
    if (L_mult(ylow, yhigh) > 0) continue;
    for (int i = 0; i < bisections; ++i) {
      const Word16 xmid = add(shr(xlow, 1), shr(xhigh, 1));
      const Word16 ymid = lspChebyshev(xmid, coef, shift);
      if (L_mult(ylow, ymid) <= 0) {
        yhigh = ymid;
        xhigh = xmid;
      } else {
        ylow = ymid;
        xlow = xmid;
      }
    }
    // xint = xlow - ylow (xhigh - xlow) / (yhigh - ylow)
    const Word16 x = sub(xhigh, xlow);
    Word16 y = sub(yhigh, ylow);
    Word16 xint = xlow;
    if (y != 0) {
      const Word16 sign = y;
      y = abs_s(y);
      const Word16 e = norm_s(y);
      y = div_s(16383, shl(y, e));
      y = extract_l(L_shr(L_mult(x, y), sub(20, e)));  // Q11
      if (sign < 0) y = negate(y);
      xint = sub(xlow, extract_l(L_shr(L_mult(ylow, y), 11)));
    }
    lsp[nf++] = xint;
    xlow = xint;
    coef = coef == f1 ? f2 : f1;
    ylow = lspChebyshev(xlow, coef, shift);
  }
  if (nf < kLpOrder) std::memcpy(lsp, oldLsp, kLpOrder * sizeof(Word16));
}

namespace {

// F1 (even LSPs) or F2 (odd LSPs) in Q24: the product of the second-order
// sections 1 - 2 q z^-1 + z^-2.
void lspPolynomial(const Word16* lsp, Word32* f) {
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

}  // namespace

void lspToLp(const Word16* lsp, Word16* a) {
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

void lspToLsf(const Word16* lsp, Word16* lsf) {
  int ind = 63;
  for (int i = kLpOrder - 1; i >= 0; --i) {
    while (kCosTable64[ind] < lsp[i]) {
      if (--ind <= 0) break;
    }
    const Word16 offset = sub(lsp[i], kCosTable64[ind]);
    const Word16 freq = add(shl(static_cast<Word16>(ind), 9), extract_l(L_shr(L_mult(kAcosSlope[ind], offset), 12)));
    lsf[i] = mult(freq, 25736);
  }
}

void lspToLsfNorm(const Word16* lsp, Word16* lsf) {
  int ind = 63;
  for (int i = kLpOrder - 1; i >= 0; --i) {
    while (kCosTable65[ind] < lsp[i]) --ind;  // kCosTable65[0] is 32767: the walk stops there
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
