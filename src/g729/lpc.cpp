// G.729 LP analysis: lag window, Levinson-Durbin, LP <-> LSP conversions,
// LSP/LSF conversions, the switched-MA two-stage LSF quantiser and its
// decoder, and the LSP interpolations.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "lpc_internal.h"
#include "lpc_tables.h"

using namespace voksc::op;
using voksc::anyNull;
using voksc::vokDiv32;
using voksc::vokMpy32;
using voksc::vokMpy32x16;

namespace voksc::g729 {

namespace {

constexpr int kM = 10;
constexpr int kNc = 5;
constexpr int16_t kGap1 = 10, kGap2 = 5, kGap3 = 321;
constexpr int16_t kLsfFloor = 40, kLsfCeiling = 25681;

// Lag-window entries for orders 11 and 12 (split form), beyond the ten of G.729.
constexpr int16_t kLagExtraHi[2] = {28645, 27923};
constexpr int16_t kLagExtraLo[2] = {22092, 12924};

inline Word32 mpy32(Word32 a, Word16 bh, Word16 bl) {
  Word16 ah, al;
  L_Extract(a, ah, al);
  return vokMpy32(ah, al, bh, bl);
}

// Chebyshev evaluation of a fifth-order sum/difference polynomial at x;
// `shift` is 6 for coefficients in Q11 and 7 for the Q10 fallback.
Word16 chebyshev(Word16 x, const Word16* f, int shift) {
  Word16 b2h = shift == 6 ? 256 : 128, b2l = 0, b1h, b1l, b0h, b0l;
  Word32 t = L_mult(x, shift == 6 ? 512 : 256);
  t = L_mac(t, f[1], 4096);
  L_Extract(t, b1h, b1l);
  for (int i = 2; i < kNc; ++i) {
    t = vokMpy32x16(b1h, b1l, x);
    t = L_shl(t, 1);
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
  t = L_shl(t, static_cast<Word16>(shift));
  return extract_h(t);
}

}  // namespace

// Sum and difference polynomials of A(z), Q11 (or Q10 when Q11 overflows).
void lpToLsp(const Word16* a, const Word16* oldLsp, Word16* lsp, bool annexA) {
  Word16 f1[kNc + 1], f2[kNc + 1];
  bool ovf = false;
  f1[0] = 2048;
  f2[0] = 2048;
  for (int i = 0; i < kNc; ++i) {
    Word32 t = L_mac_o(L_mult_o(a[i + 1], 16384, ovf), a[kM - i], 16384, ovf);
    f1[i + 1] = sat16_o(Word32{extract_h(t)} - f1[i], ovf);
    t = L_msu_o(L_mult_o(a[i + 1], 16384, ovf), a[kM - i], 16384, ovf);
    f2[i + 1] = sat16_o(Word32{extract_h(t)} + f2[i], ovf);
  }
  int shift = 6;
  if (ovf) {
    shift = 7;
    f1[0] = 1024;
    f2[0] = 1024;
    for (int i = 0; i < kNc; ++i) {
      Word32 t = L_mac(L_mult(a[i + 1], 8192), a[kM - i], 8192);
      f1[i + 1] = sub(extract_h(t), f1[i]);
      t = L_msu(L_mult(a[i + 1], 8192), a[kM - i], 8192);
      f2[i + 1] = add(extract_h(t), f2[i]);
    }
  }
  const Word16* grid = annexA ? kChebGrid51 : kChebGrid61;
  const int gridPoints = annexA ? 50 : 60;
  const int bisections = annexA ? 2 : 4;
  int nf = 0, ip = 0;
  const Word16* coef = f1;
  Word16 xlow = grid[0];
  Word16 ylow = chebyshev(xlow, coef, shift);
  int j = 0;
  while (nf < kM && j < gridPoints) {
    ++j;
    Word16 xhigh = xlow, yhigh = ylow;
    xlow = grid[j];
    ylow = chebyshev(xlow, coef, shift);
    if (L_mult(ylow, yhigh) <= 0) {
      for (int i = 0; i < bisections; ++i) {
        Word16 xmid = add(shr(xlow, 1), shr(xhigh, 1));
        Word16 ymid = chebyshev(xmid, coef, shift);
        if (L_mult(ylow, ymid) <= 0) {
          yhigh = ymid;
          xhigh = xmid;
        } else {
          ylow = ymid;
          xlow = xmid;
        }
      }
      Word16 x = sub(xhigh, xlow), y = sub(yhigh, ylow), xint;
      if (y == 0) {
        xint = xlow;
      } else {
        Word16 sign = y;
        y = abs_s(y);
        Word16 e = norm_s(y);
        y = shl(y, e);
        y = div_s(16383, y);
        Word32 t = L_mult(x, y);
        t = L_shr(t, sub(20, e));
        y = extract_l(t);
        if (sign < 0) y = negate(y);
        t = L_mult(ylow, y);
        t = L_shr(t, 11);
        xint = sub(xlow, extract_l(t));
      }
      lsp[nf++] = xint;
      xlow = xint;
      ip ^= 1;
      coef = ip ? f2 : f1;
      ylow = chebyshev(xlow, coef, shift);
    }
  }
  if (nf < kM) std::memcpy(lsp, oldLsp, kM * sizeof(Word16));
}

namespace {
// F1 or F2 from every other LSP (Q24).
void lspPolynomial(const Word16* lsp, Word32* f) {
  f[0] = L_mult(4096, 2048);
  f[1] = L_msu(0, lsp[0], 512);
  Word32* p = f + 2;
  lsp += 2;
  for (int i = 2; i <= 5; ++i) {
    *p = p[-2];
    for (int j = 1; j < i; ++j, --p) {
      Word16 hi, lo;
      L_Extract(p[-1], hi, lo);
      Word32 t = L_shl(vokMpy32x16(hi, lo, *lsp), 1);
      *p = L_add(*p, p[-2]);
      *p = L_sub(*p, t);
    }
    *p = L_msu(*p, *lsp, 512);
    p += i;
    lsp += 2;
  }
}
}  // namespace

void lspToLp(const Word16* lsp, Word16* a) {
  Word32 f1[6], f2[6];
  lspPolynomial(lsp, f1);
  lspPolynomial(lsp + 1, f2);
  for (int i = 5; i > 0; --i) {
    f1[i] = L_add(f1[i], f1[i - 1]);
    f2[i] = L_sub(f2[i], f2[i - 1]);
  }
  a[0] = 4096;
  for (int i = 1, j = 10; i <= 5; ++i, --j) {
    a[i] = extract_l(L_shr_r(L_add(f1[i], f2[i]), 13));
    a[j] = extract_l(L_shr_r(L_sub(f1[i], f2[i]), 13));
  }
}

void lspToLsf(const Word16* lsp, Word16* lsf) {
  int ind = 63;
  for (int i = kM - 1; i >= 0; --i) {
    while (kCosTable64[ind] < lsp[i]) {
      --ind;
      if (ind <= 0) break;
    }
    Word16 offset = sub(lsp[i], kCosTable64[ind]);
    Word32 t = L_mult(kAcosSlope[ind], offset);
    Word16 freq = add(shl(static_cast<Word16>(ind), 9), extract_l(L_shr(t, 12)));
    lsf[i] = mult(freq, 25736);
  }
}

void lspToLsfNorm(const Word16* lsp, Word16* lsf) {
  int ind = 63;
  for (int i = kM - 1; i >= 0; --i) {
    while (kCosTable65[ind] < lsp[i]) --ind;
    Word32 t = L_mult(sub(lsp[i], kCosTable65[ind]), kCosSlope64[ind]);
    lsf[i] = add(round_fx(L_shl(t, 3)), shl(static_cast<Word16>(ind), 8));
  }
}

// Returns the index of the first negative frequency, or -1.
int lsfToLsp(const Word16* lsf, Word16* lsp) {
  for (int i = 0; i < kM; ++i) {
    Word16 freq = mult(lsf[i], 20861);
    Word16 ind = shr(freq, 8);
    if (ind < 0) return i;
    Word16 offset = static_cast<Word16>(freq & 0xFF);
    if (ind > 63) ind = 63;
    lsp[i] = add(kCosTable64[ind], extract_l(L_shr(L_mult(kCosSlope[ind], offset), 13)));
  }
  return -1;
}

namespace {

void expandRange(Word16* buf, Word16 gap, int from, int to) {
  for (int j = from; j < to; ++j) {
    Word16 tmp = shr(add(sub(buf[j - 1], buf[j]), gap), 1);
    if (tmp > 0) {
      buf[j - 1] = sub(buf[j - 1], tmp);
      buf[j] = add(buf[j], tmp);
    }
  }
}

void maCompose(const Word16* residual, const Word16* mem, int mode, Word16* lsf) {
  for (int j = 0; j < kM; ++j) {
    Word32 acc = L_mult(residual[j], kLspMaPredSum[mode][j]);
    for (int k = 0; k < 4; ++k) acc = L_mac(acc, mem[k * kM + j], kLspMaPredictor[mode][k][j]);
    lsf[j] = extract_h(acc);
  }
}

void maExtract(const Word16* lsf, const Word16* mem, int mode, Word16* residual) {
  for (int j = 0; j < kM; ++j) {
    Word32 t = L_deposit_h(lsf[j]);
    for (int k = 0; k < 4; ++k) t = L_msu(t, mem[k * kM + j], kLspMaPredictor[mode][k][j]);
    Word16 tmp = extract_h(t);
    t = L_mult(tmp, kLspMaPredSumInv[mode][j]);
    residual[j] = extract_h(L_shl(t, 3));
  }
}

void maPush(const Word16* residual, Word16* mem) {
  std::memmove(mem + kM, mem, 3 * kM * sizeof(Word16));
  std::memcpy(mem, residual, kM * sizeof(Word16));
}

// LSF weighting from the spacing of the input LSFs (Q13 radians).
void lsfWeights(const Word16* lsf, Word16* w) {
  constexpr Word16 kPi04 = 1029, kPi92 = 23677, kConst10 = 10 * (1 << 11), kConst12 = 19661;
  Word16 buf[kM];
  buf[0] = sub(lsf[1], kPi04 + 8192);
  for (int i = 1; i < kM - 1; ++i) buf[i] = sub(sub(lsf[i + 1], lsf[i - 1]), 8192);
  buf[kM - 1] = sub(kPi92 - 8192, lsf[kM - 2]);
  for (int i = 0; i < kM; ++i) {
    if (buf[i] > 0) {
      w[i] = 2048;
    } else {
      Word16 t = extract_h(L_shl(L_mult(buf[i], buf[i]), 2));
      t = extract_h(L_shl(L_mult(t, kConst10), 2));
      w[i] = add(t, 2048);
    }
  }
  w[4] = extract_h(L_shl(L_mult(w[4], kConst12), 1));
  w[5] = extract_h(L_shl(L_mult(w[5], kConst12), 1));
  Word16 mx = 0;
  for (int i = 0; i < kM; ++i)
    if (w[i] > mx) mx = w[i];
  Word16 sft = norm_s(mx);
  for (int i = 0; i < kM; ++i) w[i] = shl(w[i], sft);
}

// Sums of non-negative terms: the L_mac chain is monotone, so it saturates
// exactly when the exact total leaves 31 bits.
inline Word32 positiveChain(int64_t sumOfProducts) {
  int64_t v = 2 * sumOfProducts;
  return v > kMax32 ? kMax32 : static_cast<Word32>(v);
}

int selectStage1(const Word16* target) {
  int cand = 0;
  Word32 dmin = kMax32;
  for (int i = 0; i < 128; ++i) {
    int64_t acc = 0;
    for (int j = 0; j < kM; ++j) {
      int32_t t = sat16(int32_t{target[j]} - kLspStage1Codebook[i][j]);
      acc += t * t;
    }
    Word32 d = positiveChain(acc);
    if (L_sub(d, dmin) < 0) {
      dmin = d;
      cand = i;
    }
  }
  return cand;
}

int selectStage2(const Word16* target, const Word16* cb1, const Word16* w, int from, int to) {
  Word16 buf[kM];
  for (int j = from; j < to; ++j) buf[j] = sub(target[j], cb1[j]);
  int index = 0;
  Word32 dmin = kMax32;
  for (int k = 0; k < 32; ++k) {
    // mult(w, t) has the sign of t (w >= 0): every product is non-negative.
    int64_t acc = 0;
    for (int j = from; j < to; ++j) {
      Word16 t = sub(buf[j], kLspStage2Codebook[k][j]);
      acc += int32_t{mult(w[j], t)} * t;
    }
    Word32 d = positiveChain(acc);
    if (L_sub(d, dmin) < 0) {
      dmin = d;
      index = k;
    }
  }
  return index;
}

Word32 weightedDistance(const Word16* w, const Word16* buf, const Word16* target, int mode) {
  Word32 dist = 0;
  for (int j = 0; j < kM; ++j) {
    Word16 t = mult(sub(buf[j], target[j]), kLspMaPredSum[mode][j]);
    Word16 t2 = extract_h(L_shl(L_mult(w[j], t), 4));
    dist = L_mac(dist, t2, t);
  }
  return dist;
}

}  // namespace

int lsfStability(Word16* buf) {
  int flags = 0;
  for (int j = 0; j < kM - 1; ++j) {
    if (L_sub(L_deposit_l(buf[j + 1]), L_deposit_l(buf[j])) < 0) {
      Word16 t = buf[j + 1];
      buf[j + 1] = buf[j];
      buf[j] = t;
    }
  }
  if (buf[0] < kLsfFloor) {
    buf[0] = kLsfFloor;
    flags |= 1;
  }
  for (int j = 0; j < kM - 1; ++j)
    if (L_sub(L_sub(L_deposit_l(buf[j + 1]), L_deposit_l(buf[j])), kGap3) < 0) buf[j + 1] = add(buf[j], kGap3);
  if (buf[kM - 1] > kLsfCeiling) {
    buf[kM - 1] = kLsfCeiling;
    flags |= 2;
  }
  return flags;
}

int lsfDecode(const Word16* idx, Word16* mem, Word16* lsf, Word16* residualOut) {
  const int mode = idx[0];
  Word16 buf[kM];
  for (int j = 0; j < kNc; ++j) buf[j] = add(kLspStage1Codebook[idx[1]][j], kLspStage2Codebook[idx[2]][j]);
  for (int j = kNc; j < kM; ++j) buf[j] = add(kLspStage1Codebook[idx[1]][j], kLspStage2Codebook[idx[3]][j]);
  expandRange(buf, kGap1, 1, kM);
  expandRange(buf, kGap2, 1, kM);
  maCompose(buf, mem, mode, lsf);
  maPush(buf, mem);
  if (residualOut) std::memcpy(residualOut, buf, sizeof buf);
  return lsfStability(lsf);
}

void lsfQuantise(const Word16* lsf, Word16* mem, Word16* lsfq, Word16* idx, Word16* residualOut) {
  Word16 w[kM];
  lsfWeights(lsf, w);
  int cand[2], t1[2], t2[2];
  Word32 dist[2];
  for (int mode = 0; mode < 2; ++mode) {
    Word16 target[kM], buf[kM];
    maExtract(lsf, mem, mode, target);
    cand[mode] = selectStage1(target);
    const Word16* cb1 = kLspStage1Codebook[cand[mode]];
    t1[mode] = selectStage2(target, cb1, w, 0, kNc);
    for (int j = 0; j < kNc; ++j) buf[j] = add(cb1[j], kLspStage2Codebook[t1[mode]][j]);
    expandRange(buf, kGap1, 1, kNc);
    t2[mode] = selectStage2(target, cb1, w, kNc, kM);
    for (int j = kNc; j < kM; ++j) buf[j] = add(cb1[j], kLspStage2Codebook[t2[mode]][j]);
    expandRange(buf, kGap1, kNc, kM);
    expandRange(buf, kGap2, 1, kM);
    dist[mode] = weightedDistance(w, buf, target, mode);
  }
  int m = L_sub(dist[1], dist[0]) < 0 ? 1 : 0;
  idx[0] = static_cast<Word16>(m);
  idx[1] = static_cast<Word16>(cand[m]);
  idx[2] = static_cast<Word16>(t1[m]);
  idx[3] = static_cast<Word16>(t2[m]);
  lsfDecode(idx, mem, lsfq, residualOut);
}

void lsfErased(int mode, Word16* mem, const Word16* lastLsf) {
  Word16 buf[kM];
  maExtract(lastLsf, mem, mode, buf);
  maPush(buf, mem);
}

// Levinson-Durbin in the split (hi, lo) form of G.729.  Returns false when a
// reflection coefficient reaches the stability limit (nothing written).
bool levinson(const Word32* r, int order, Word16* a, Word16* rc, Word16* err) {
  Word16 rh[kMaxOrder + 1], rl[kMaxOrder + 1];
  for (int i = 0; i <= order; ++i) L_Extract(r[i], rh[i], rl[i]);
  Word16 ah[kMaxOrder + 1], al[kMaxOrder + 1], anh[kMaxOrder + 1], anl[kMaxOrder + 1];
  Word16 k[kMaxOrder];
  Word16 kh, kl, hi, lo;
  Word32 t1 = L_Comp(rh[1], rl[1]);
  Word32 t2 = L_abs(t1);
  Word32 t0 = vokDiv32(t2, rh[0], rl[0]);
  if (t1 > 0) t0 = L_negate(t0);
  L_Extract(t0, kh, kl);
  k[0] = kh;
  t0 = L_shr(t0, 4);
  L_Extract(t0, ah[1], al[1]);
  t0 = L_abs(vokMpy32(kh, kl, kh, kl));
  t0 = L_sub(kMax32, t0);
  L_Extract(t0, hi, lo);
  t0 = vokMpy32(rh[0], rl[0], hi, lo);
  Word16 alpExp = norm_l(t0);
  t0 = L_shl(t0, alpExp);
  Word16 alph, alpl;
  L_Extract(t0, alph, alpl);
  for (int i = 2; i <= order; ++i) {
    t0 = 0;
    for (int j = 1; j < i; ++j) t0 = L_add(t0, vokMpy32(rh[j], rl[j], ah[i - j], al[i - j]));
    t0 = L_shl(t0, 4);
    t0 = L_add(t0, L_Comp(rh[i], rl[i]));
    t1 = L_abs(t0);
    t2 = vokDiv32(t1, alph, alpl);
    if (t0 > 0) t2 = L_negate(t2);
    t2 = L_shl(t2, alpExp);
    L_Extract(t2, kh, kl);
    k[i - 1] = kh;
    if (abs_s(kh) > 32750) return false;
    for (int j = 1; j < i; ++j) {
      t0 = L_add(vokMpy32(kh, kl, ah[i - j], al[i - j]), L_Comp(ah[j], al[j]));
      L_Extract(t0, anh[j], anl[j]);
    }
    t2 = L_shr(t2, 4);
    L_Extract(t2, anh[i], anl[i]);
    t0 = L_abs(vokMpy32(kh, kl, kh, kl));
    t0 = L_sub(kMax32, t0);
    L_Extract(t0, hi, lo);
    t0 = vokMpy32(alph, alpl, hi, lo);
    Word16 e = norm_l(t0);
    t0 = L_shl(t0, e);
    L_Extract(t0, alph, alpl);
    alpExp = add(alpExp, e);
    for (int j = 1; j <= i; ++j) {
      ah[j] = anh[j];
      al[j] = anl[j];
    }
  }
  a[0] = 4096;
  for (int i = 1; i <= order; ++i) a[i] = round_fx(L_shl(L_Comp(ah[i], al[i]), 1));
  for (int i = 0; i < order; ++i) rc[i] = k[i];
  if (err) *err = shr(alph, alpExp);
  return true;
}

}  // namespace voksc::g729

using namespace voksc::g729;

VOKSC_EXPORT VokResult voksLagWindow_G729_32s_I(Vok32s* r, int len) {
  if (!r) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (len > 12) return vokErrRange;
  for (int i = 0; i < len; ++i) {
    Word16 hi = i < 10 ? kLagWindowHi[i] : kLagExtraHi[i - 10];
    Word16 lo = i < 10 ? kLagWindowLo[i] : kLagExtraLo[i - 10];
    r[i] = mpy32(r[i], hi, lo);
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksLevinsonDurbin_G729_32s16s(const Vok32s* r, int order, Vok16s* a, Vok16s* rc, Vok16s* err) {
  if (anyNull(r, a, rc, err)) return vokErrNullPtr;
  if (order < 1 || order > kMaxOrder) return vokErrRange;
  if (r[0] > -65536 && r[0] < 65536) return vokWrnOverflow;
  Word16 ta[kMaxOrder + 1], trc[kMaxOrder], terr = 0;
  if (!levinson(r, order, ta, trc, &terr)) return vokWrnOverflow;
  std::memcpy(a, ta, static_cast<size_t>(order + 1) * sizeof(Word16));
  std::memcpy(rc, trc, static_cast<size_t>(order) * sizeof(Word16));
  *err = terr;
  return vokOk;
}

VOKSC_EXPORT VokResult voksLevinsonDurbin_G729B(const Vok32s* r, Vok16s* a, Vok16s* rc2, Vok16s* err) {
  if (!rc2) return vokErrNullPtr;
  Vok16s rc[10];
  VokResult st = voksLevinsonDurbin_G729_32s16s(r, 10, a, rc, err);
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

VOKSC_EXPORT VokResult voksLSFQuant_G729_16s(const Vok16s* lsf, Vok16s* mem, Vok16s* lsfq, Vok16s* idx) {
  if (anyNull(lsf, mem, lsfq, idx)) return vokErrNullPtr;
  lsfQuantise(lsf, mem, lsfq, idx, nullptr);
  return vokOk;
}

namespace {
VokResult lspQuant(const Vok16s* lsp, Vok16s* mem, Vok16s* residual, Vok16s* lspq, Vok16s* packed) {
  Word16 lsf[10], lsfq[10], idx[4], m[40], res[10];
  lspToLsf(lsp, lsf);
  std::memcpy(m, mem, sizeof m);
  lsfQuantise(lsf, m, lsfq, idx, res);
  Word16 q[10];
  if (lsfToLsp(lsfq, q) >= 0) return vokErrDomain;
  std::memcpy(mem, m, sizeof m);
  std::memcpy(lspq, q, sizeof q);
  if (residual) std::memcpy(residual, res, sizeof res);
  packed[0] = static_cast<Vok16s>((idx[0] << 7) | idx[1]);
  packed[1] = static_cast<Vok16s>((idx[2] << 5) | idx[3]);
  return vokOk;
}
}  // namespace

VOKSC_EXPORT VokResult voksLSPQuant_G729_16s(const Vok16s* lsp, Vok16s* mem, Vok16s* lspq, Vok16s* packed) {
  if (anyNull(lsp, mem, lspq, packed)) return vokErrNullPtr;
  return lspQuant(lsp, mem, nullptr, lspq, packed);
}

VOKSC_EXPORT VokResult voksLSPQuant_G729E_16s(const Vok16s* lsp, Vok16s* mem, Vok16s* residual, Vok16s* lspq,
                                              Vok16s* packed) {
  if (anyNull(lsp, mem, residual, lspq, packed)) return vokErrNullPtr;
  return lspQuant(lsp, mem, residual, lspq, packed);
}

VOKSC_EXPORT VokResult voksLSFDecode_G729_16s(const Vok16s* idx, Vok16s* mem, Vok16s* lsf) {
  if (anyNull(idx, mem, lsf)) return vokErrNullPtr;
  if (idx[0] != 0 && idx[0] != 1) return vokErrIndex;
  int flags = lsfDecode(idx, mem, lsf, nullptr);
  static const VokResult kStatus[4] = {vokOk, vokWrnLsfFloor, vokWrnLsfCeiling, vokWrnLsfFloorCeiling};
  return kStatus[flags];
}

VOKSC_EXPORT VokResult voksLSFDecodeErased_G729_16s(int mode, Vok16s* mem, const Vok16s* lastLsf) {
  if (anyNull(mem, lastLsf)) return vokErrNullPtr;
  if (mode != 0 && mode != 1) return vokErrIndex;
  lsfErased(mode, mem, lastLsf);
  return vokOk;
}

VOKSC_EXPORT VokResult voksInterpolate_G729_16s(const Vok16s* a, const Vok16s* b, Vok16s* out, int len) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  for (int i = 0; i < len; ++i) out[i] = add(shr(a[i], 1), shr(b[i], 1));
  return vokOk;
}

VOKSC_EXPORT VokResult voksInterpolateC_G729_16s_Sfs(const Vok16s* a, Vok16s wa, const Vok16s* b, Vok16s wb,
                                                     Vok16s* out, int len, int scale) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (scale < 0) return vokErrScale;
  if (len < 1) return vokErrSize;
  int s = scale > 31 ? 31 : scale;
  for (int i = 0; i < len; ++i)
    out[i] = sat16(static_cast<Word32>((int64_t{a[i]} * wa) >> s) + static_cast<Word32>((int64_t{b[i]} * wb) >> s));
  return vokOk;
}

VOKSC_EXPORT VokResult voksInterpolateC_NR_G729_16s_Sfs(const Vok16s* a, Vok16s wa, const Vok16s* b, Vok16s wb,
                                                        Vok16s* out, int len, int scale) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (scale < 0) return vokErrScale;
  if (len < 1) return vokErrSize;
  int s = scale > 31 ? 31 : scale;
  int64_t round = s > 0 ? (int64_t{1} << (s - 1)) : 0;
  for (int i = 0; i < len; ++i) {
    int64_t v = (int64_t{a[i]} * wa + int64_t{b[i]} * wb + round) >> s;
    out[i] = static_cast<Vok16s>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
  }
  return vokOk;
}
