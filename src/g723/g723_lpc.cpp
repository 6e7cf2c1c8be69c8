// G.723.1 LP analysis, LSP quantisation and the formant weighting filters.
//
// Fixed point throughout with the saturating operators of the reference
// arithmetic; every accumulation keeps the order of the codec's sums, since
// saturation makes them order dependent.
#include <array>
#include <cstdint>
#include <cstring>

#include "common/kernels.h"
#include "core/status.h"
#include "g723_internal.h"
#include "g723_tables.h"

namespace voksc::g723 {
namespace {

using namespace op;

// Sum of x[n] * x[n - lag] over the block, each product taken undoubled
// (doubled then halved, so -32768^2 gives 0x3FFFFFFF) and added with
// saturation in order of n.
Word32 blockCorrelation(const Word16* x, int lag) {
  Word32 acc = 0;
  for (int n = lag; n < kBlock; ++n) acc = L_add(acc, L_shr(L_mult(x[n], x[n - lag]), 1));
  return acc;
}

// Autocorrelation of a windowed block: energy with the 1025/1024 white-noise
// correction, normalised so bit 30 is set; the other lags shifted alike,
// lag-windowed (32 x 16 product) and rounded.  Returns the normalisation.
int normalisedAutocorrelation(const Word16* x, Word16* acf) {
  // Without -32768 in the block every product is exact, and every partial
  // sum at any lag is bounded by the energy (Cauchy-Schwarz): an energy
  // inside 32 bits makes every chain its exact sum.
  int64_t exact[kOrder + 1];
  kern::autocorr(x, kBlock, exact, kOrder + 1);
  bool hasMin = false;
  for (int n = 0; n < kBlock; ++n) hasMin |= x[n] == -32768;
  const bool plain = !hasMin && exact[0] <= kMax32;
  auto correlation = [&](int lag) { return plain ? static_cast<Word32>(exact[lag]) : blockCorrelation(x, lag); };
  Word32 energy = correlation(0);
  energy = L_add(energy, L_shr(energy, 10));
  const Word16 norm = norm_l(energy);
  acf[0] = round_fx(L_shl(energy, norm));
  if (acf[0] == 0) {
    for (int k = 1; k <= kOrder; ++k) acf[k] = 0;
    return 0;
  }
  for (int k = 1; k <= kOrder; ++k)
    acf[k] = round_fx(op::L_mls(L_shl(correlation(k), norm), kLagWindow[k - 1]));
  return norm;
}

// Levinson-Durbin recursion on r[1..10] (passed as r[0..9]); returns the final error, sets `second` to the
// second reflection coefficient (32767 when the recursion stopped).
Word16 durbin(const Word16* r, Word16 err, Word16* a, Word16& second) {
  for (int i = 0; i < kOrder; ++i) a[i] = 0;
  second = kMax16;
  for (int i = 0; i < kOrder; ++i) {
    // Prediction residual correlation of the next stage, in Q(16 - 2).
    Word32 num = L_shr(L_deposit_h(r[i]), 2);
    for (int j = 0; j < i; ++j) num = L_msu(num, a[j], r[i - j - 1]);
    num = L_shl(num, 2);
    const Word32 mag = L_abs(num);
    const Word32 errHigh = L_deposit_h(err);
    if (mag >= errHigh) {
      second = kMax16;
      break;
    }
    Word16 k = op::div_l(mag, err);
    if (num >= 0) k = negate(k);
    if (i == 1) second = k;
    a[i] = round_fx(L_shr(L_deposit_h(negate(k)), 2));
    err = round_fx(L_add(op::L_mls(num, k), errHigh));
    Word16 prev[kOrder];
    std::memcpy(prev, a, sizeof(Word16) * i);
    for (int j = 0; j < i; ++j) a[j] = round_fx(L_mac(L_deposit_h(a[j]), k, prev[i - j - 1]));
  }
  return err;
}

// Value of one LSP polynomial (coefficients c[0], c[2], .., c[10] picked
// from the interleaved sum/difference set by `which`) at grid point i.
Word32 polynomialAt(const Word16* coef, int which, int point) {
  Word32 acc = 0;
  for (int j = 0; j <= kOrder / 2; ++j)
    acc = L_mac(acc, coef[kOrder - 2 * j + which], kCosine[(point * j) % 512]);
  return acc;
}

void lpcToLsf(const Word16* lpc, const Word16* prevLsf, Word16* lsf) {
  Word16 expanded[kOrder];
  for (int i = 0; i < kOrder; ++i) expanded[i] = mult_r(lpc[i], kBandExpansion[i]);
  // Sum (even slots) and difference (odd slots) polynomials with the
  // trivial roots at z = -1 and z = +1 divided out, Q25 in 32 bits.
  Word32 poly[kOrder + 2];
  poly[0] = poly[1] = 0x02000000;
  for (int i = 0; i < kOrder / 2; ++i) {
    const Word32 lo = L_shr(L_deposit_h(expanded[i]), 4);
    const Word32 hi = L_shr(L_deposit_h(expanded[kOrder - 1 - i]), 4);
    poly[2 * i + 2] = L_sub(L_sub(L_negate(poly[2 * i]), lo), hi);
    poly[2 * i + 3] = L_add(L_sub(poly[2 * i + 1], lo), hi);
  }
  poly[kOrder] = L_shr(poly[kOrder], 1);
  poly[kOrder + 1] = L_shr(poly[kOrder + 1], 1);
  Word32 peak = L_abs(poly[0]);
  for (int i = 1; i < kOrder + 2; ++i) {
    const Word32 a = L_abs(poly[i]);
    if (a > peak) peak = a;
  }
  const Word16 norm = norm_l(peak);
  Word16 coef[kOrder + 2];
  for (int i = 0; i < kOrder + 2; ++i) coef[i] = round_fx(L_shl(poly[i], norm));

  // Walk the 256 grid intervals, alternating between the polynomials after
  // each root; a root is placed by linear interpolation inside its interval.
  int which = 0, found = 0;
  Word32 prev = 0;
  for (int j = 0; j <= kOrder / 2; ++j) prev = L_mac(prev, coef[2 * j], kCosine[0]);
  for (int i = 1; i < 256 && found < kOrder; ++i) {
    Word32 cur = polynomialAt(coef, which, i);
    if ((cur ^ prev) < 0) {
      Word32 span = L_add(L_abs(cur), L_abs(prev));
      const Word16 sh = norm_l(span);
      span = L_shl(span, sh);
      const Word32 part = L_shr(L_shl(L_abs(prev), sh), 8);
      lsf[found] = add(op::div_l(part, extract_h(span)), shl(static_cast<Word16>(i - 1), 7));
      if (++found == kOrder) break;
      which ^= 1;
      cur = polynomialAt(coef, which, i);
    }
    prev = cur;
  }
  if (found != kOrder) std::memcpy(lsf, prevLsf, sizeof(Word16) * kOrder);
}

struct Band {
  const int16_t* book;
  int first, size;
};
constexpr Band kBands[3] = {{kLspBand0, 0, 3}, {kLspBand1, 3, 3}, {kLspBand2, 6, 4}};

Word32 lsfQuantise(const Word16* lsf, const Word16* prevLsf) {
  // Weights: inverse of the distance to the nearer neighbour, normalised.
  Word16 w[kOrder];
  w[0] = sub(lsf[1], lsf[0]);
  w[kOrder - 1] = sub(lsf[kOrder - 1], lsf[kOrder - 2]);
  for (int i = 1; i < kOrder - 1; ++i) {
    const Word16 up = sub(lsf[i + 1], lsf[i]), down = sub(lsf[i], lsf[i - 1]);
    w[i] = up > down ? down : up;
  }
  Word16 peak = 0;
  for (auto& v : w) {
    v = v > 32 ? div_s(32, v) : kMax16;
    if (v > peak) peak = v;
  }
  const Word16 norm = norm_s(peak);
  for (auto& v : w) v = shl(v, norm);
  // Target: mean-removed LSF minus 3/8 of the mean-removed previous LSF.
  Word16 target[kOrder];
  for (int i = 0; i < kOrder; ++i)
    target[i] = sub(sub(lsf[i], kLspMean[i]), mult_r(sub(prevLsf[i], kLspMean[i]), 12288));
  // Largest codebook magnitude of each band.
  static const auto bookPeak = [] {
    std::array<int64_t, 3> peak{};
    for (int k = 0; k < 3; ++k)
      for (int i = 0; i < 256 * kBands[k].size; ++i) {
        const int64_t a = kBands[k].book[i] < 0 ? -kBands[k].book[i] : kBands[k].book[i];
        if (a > peak[k]) peak[k] = a;
      }
    return peak;
  }();
  Word32 packed = 0;
  int band = 0;
  for (const Band& b : kBands) {
    Word32 best = -1, bestIndex = 0;
    const int16_t* entry = b.book;
    // |we| <= 32767 (w >= 0), so the chains stay inside 32 bits, the doubling
    // between them included, when 4 sum|t| 32767 + 8 peak 32767 < 2^31;
    // then the score is the plain sum 4 <t, we> - 2 <e, we>.
    int64_t targetSum = 0;
    for (int j = 0; j < b.size; ++j) targetSum += target[b.first + j] < 0 ? -target[b.first + j] : target[b.first + j];
    if ((4 * targetSum + 8 * bookPeak[band++]) * 32767 < (int64_t{1} << 31)) {
      for (int i = 0; i < 256; ++i, entry += b.size) {
        int32_t cross = 0, self = 0;
        for (int j = 0; j < b.size; ++j) {
          const int32_t we = (w[b.first + j] * entry[j] + 0x4000) >> 15;
          cross += target[b.first + j] * we;
          self += entry[j] * we;
        }
        const Word32 score = 4 * cross - 2 * self;
        if (score > best) {
          best = score;
          bestIndex = i;
        }
      }
      packed = L_add(L_shl(packed, 8), bestIndex);
      continue;
    }
    for (int i = 0; i < 256; ++i, entry += b.size) {
      // 2 <t, W e> - <e, W e>, the weighted products rounded to 16 bits.
      Word16 we[4];
      for (int j = 0; j < b.size; ++j) we[j] = mult_r(w[b.first + j], entry[j]);
      Word32 score = 0;
      for (int j = 0; j < b.size; ++j) score = L_mac(score, target[b.first + j], we[j]);
      score = L_shl(score, 1);
      for (int j = 0; j < b.size; ++j) score = L_msu(score, entry[j], we[j]);
      if (score > best) {
        best = score;
        bestIndex = i;
      }
    }
    packed = L_add(L_shl(packed, 8), bestIndex);
  }
  return packed;
}

// Returns true when the stability repair succeeded.
bool lsfDecode(const Vok16s* index, const Word16* prevLsf, bool erased, Word16* lsf) {
  const Word16 minGap = erased ? 0x200 : 0x100;
  const Word16 predict = erased ? 23552 : 12288;
  for (int k = 0; k < 3; ++k) {
    const Band& b = kBands[k];
    const int row = erased ? 0 : index[k];
    for (int j = 0; j < b.size; ++j) lsf[b.first + j] = b.book[row * b.size + j];
  }
  for (int i = 0; i < kOrder; ++i)
    lsf[i] = add(add(lsf[i], mult_r(sub(prevLsf[i], kLspMean[i]), predict)), kLspMean[i]);
  bool ok = false;
  for (int pass = 0; pass < kOrder && !ok; ++pass) {
    if (lsf[0] < 0x180) lsf[0] = 0x180;
    if (lsf[kOrder - 1] > 0x7E00) lsf[kOrder - 1] = 0x7E00;
    for (int j = 1; j < kOrder; ++j) {
      Word16 excess = sub(add(minGap, lsf[j - 1]), lsf[j]);
      if (excess > 0) {
        excess = shr(excess, 1);
        lsf[j - 1] = sub(lsf[j - 1], excess);
        lsf[j] = add(lsf[j], excess);
      }
    }
    ok = true;
    for (int j = 1; j < kOrder; ++j)
      if (sub(sub(add(lsf[j - 1], minGap), 4), lsf[j]) > 0) ok = false;
  }
  return ok;
}

// LSP (16-bit frequency) to LPC in Q13 through the two fifth-order
// polynomials.  The LSF is read modulo 2^15 so any word indexes the table.
void lsfToLpc(Word16* v) {
  for (int i = 0; i < kOrder; ++i) {
    const int pos = (v[i] >> 7) & 0xFF;
    const Word16 slope = sub(kCosine[pos + 1], kCosine[pos]);
    Word32 acc = L_mac(L_deposit_h(kCosine[pos]), slope, add(shl(static_cast<Word16>(v[i] & 0x7F), 8), 0x80));
    v[i] = negate(round_fx(L_shl(acc, 1)));
  }
  Word32 p[kOrder / 2 + 1], q[kOrder / 2 + 1];
  Word32* poly[2] = {p, q};
  for (int s = 0; s < 2; ++s) {
    Word32* c = poly[s];
    c[0] = 0x10000000;
    c[1] = L_mac(L_mult(v[s], 0x2000), v[s + 2], 0x2000);
    c[2] = L_add(L_shr(L_mult(v[s], v[s + 2]), 1), 0x20000000);
  }
  for (int i = 2; i < kOrder / 2; ++i) {
    for (int s = 0; s < 2; ++s) {
      Word32* c = poly[s];
      const Word16 root = v[2 * i + s];
      c[i + 1] = L_add(op::L_mls(c[i], root), c[i - 1]);
      for (int j = i; j >= 2; --j)
        c[j] = L_add(L_add(op::L_mls(c[j - 1], root), L_shr(c[j], 1)), L_shr(c[j - 2], 1));
      c[0] = L_shr(c[0], 1);
      c[1] = L_shr(L_add(L_shr(L_deposit_h(root), static_cast<Word16>(i)), c[1]), 1);
    }
  }
  for (int i = 0; i < kOrder / 2; ++i) {
    const Word32 sumP = L_add(p[i], p[i + 1]);
    v[i] = negate(round_fx(L_shl(L_add(L_sub(sumP, q[i]), q[i + 1]), 3)));
    v[kOrder - 1 - i] = negate(round_fx(L_shl(L_sub(L_add(sumP, q[i]), q[i + 1]), 3)));
  }
}

// Pole-zero filtering of one subframe; `in32` gives the accumulator start of
// each sample and `in16` the value kept in the input memory.
template <class Start>
void poleZero(const Word16* coef, Word16* mem, Start start, Word16* out16, Vok32s* out32) {
  Word16 pastIn[kOrder], pastOut[kOrder];
  std::memcpy(pastIn, mem, sizeof pastIn);
  std::memcpy(pastOut, mem + kOrder, sizeof pastOut);
  for (int n = 0; n < kSubframe; ++n) {
    Word32 acc;
    Word16 kept;
    start(n, acc, kept);
    const Word32 y = poleZeroStep(acc, coef, coef + kOrder, pastIn, pastOut, kept);
    pastOut[0] = round_fx(y);
    if (out16) out16[n] = pastOut[0];
    if (out32) out32[n] = y;
  }
  std::memcpy(mem, pastIn, sizeof pastIn);
  std::memcpy(mem + kOrder, pastOut, sizeof pastOut);
}

}  // namespace
}  // namespace voksc::g723

using namespace voksc::g723;
using voksc::anyNull;
namespace op = voksc::op;

VOKSC_EXPORT VokResult voksHighPassFilter_G723_16s(const Vok16s* src, Vok16s* dst, Vok32s* mem) {
  if (anyNull(src, dst, mem)) return vokErrNullPtr;
  // y = x - x[-1] + (32512/32768) y[-1], all at half scale in Q16 of the
  // 32-bit recursion; the output is the rounded upper half.
  Word16 prevIn = static_cast<Word16>(mem[0]);
  Word32 state = mem[1];
  for (int n = 0; n < kFrame; ++n) {
    Word32 acc = op::L_mac(op::L_mult(src[n], 0x4000), prevIn, static_cast<Word16>(-0x4000));
    prevIn = src[n];
    state = op::L_add(acc, op::L_mls(state, 0x7F00));
    dst[n] = op::round_fx(state);
  }
  mem[0] = prevIn;
  mem[1] = state;
  return vokOk;
}

VOKSC_EXPORT VokResult voksAutoCorr_NormE_G723_16s(const Vok16s* src, Vok16s* acf, Vok32s* exp) {
  if (anyNull(src, acf, exp)) return vokErrNullPtr;
  Word16 r[kOrder + 1];
  const int norm = normalisedAutocorrelation(src, r);
  std::memcpy(acf, r, sizeof r);
  *exp = norm;
  return vokOk;
}

VOKSC_EXPORT VokResult voksAutoCorr_G723_16s(const Vok16s* src, Vok16s* exp, Vok16s* acf) {
  if (anyNull(src, exp, acf)) return vokErrNullPtr;
  Word16 block[kBlock];
  const int scale = scaleBlock(src, block, kBlock);
  for (int i = 0; i < kBlock; ++i) block[i] = op::mult_r(block[i], kHammingWindow[i]);
  Word16 r[kOrder + 1];
  const int norm = normalisedAutocorrelation(block, r);
  std::memcpy(acf, r, sizeof r);
  *exp = r[0] == 0 ? Word16{40} : op::add(static_cast<Word16>(norm), op::shl(static_cast<Word16>(scale), 1));
  return vokOk;
}

VOKSC_EXPORT VokResult voksLevinsonDurbin_G723_16s(const Vok16s* acf, Vok16s* sineDet, Vok16s* err, Vok16s* lpc) {
  if (anyNull(acf, lpc, err, sineDet)) return vokErrNullPtr;
  Word16 a[kOrder], second;
  const Word16 e = durbin(acf + 1, acf[0], a, second);
  std::memcpy(lpc, a, sizeof a);
  *err = e;
  *sineDet = static_cast<Vok16s>(static_cast<uint16_t>(static_cast<uint16_t>(*sineDet) << 1) | (second > 0x799A ? 1 : 0));
  return vokOk;
}

VOKSC_EXPORT VokResult voksLPCToLSF_G723_16s(const Vok16s* lpc, const Vok16s* prevLsf, Vok16s* lsf) {
  if (anyNull(lpc, prevLsf, lsf)) return vokErrNullPtr;
  Word16 out[kOrder];
  lpcToLsf(lpc, prevLsf, out);
  std::memcpy(lsf, out, sizeof out);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSFQuant_G723_16s32s(const Vok16s* lsf, const Vok16s* prevLsf, Vok32s* index) {
  if (anyNull(lsf, prevLsf, index)) return vokErrNullPtr;
  *index = lsfQuantise(lsf, prevLsf);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSFDecode_G723_16s(const Vok16s* index, const Vok16s* prevLsf, int erasure, Vok16s* lsf) {
  if (anyNull(index, prevLsf, lsf)) return vokErrNullPtr;
  // A lost frame reads no index; a received one must name codebook rows.
  for (int k = 0; k < 3 && !erasure; ++k)
    if (index[k] < 0 || index[k] > 255) return vokErrIndex;
  Word16 out[kOrder];
  const bool ok = lsfDecode(index, prevLsf, erasure != 0, out);
  std::memcpy(lsf, out, sizeof out);
  return ok ? vokOk : vokWrnLsfFloor;
}

VOKSC_EXPORT VokResult voksLSFToLPC_G723_16s_I(Vok16s* lsfLpc) {
  if (anyNull(lsfLpc)) return vokErrNullPtr;
  lsfToLpc(lsfLpc);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSFToLPC_G723_16s(const Vok16s* lsf, Vok16s* lpc) {
  if (anyNull(lsf, lpc)) return vokErrNullPtr;
  Word16 v[kOrder];
  std::memcpy(v, lsf, sizeof v);
  lsfToLpc(v);
  std::memcpy(lpc, v, sizeof v);
  return vokOk;
}

VOKSC_EXPORT VokResult voksIIR16s_G723_16s_I(const Vok16s* coef, Vok16s* srcDst, Vok16s* mem) {
  if (anyNull(coef, srcDst, mem)) return vokErrNullPtr;
  Word16 in[kSubframe];
  std::memcpy(in, srcDst, sizeof in);
  poleZero(
      coef, mem, [&](int n, Word32& acc, Word16& kept) { acc = op::L_mult(in[n], 0x2000), kept = in[n]; }, srcDst,
      nullptr);
  return vokOk;
}

VOKSC_EXPORT VokResult voksIIR16s_G723_16s32s(const Vok16s* coef, const Vok16s* src, Vok32s* dst, Vok16s* mem) {
  if (anyNull(coef, src, dst, mem)) return vokErrNullPtr;
  poleZero(
      coef, mem, [&](int n, Word32& acc, Word16& kept) { acc = op::L_mult(src[n], 0x2000), kept = src[n]; },
      nullptr, dst);
  return vokOk;
}

VOKSC_EXPORT VokResult voksIIR16s_G723_32s16s_Sfs(const Vok16s* coef, const Vok32s* src, int scaleFactor, Vok16s* dst,
                                                  Vok16s* mem) {
  if (anyNull(coef, src, dst, mem)) return vokErrNullPtr;
  if (scaleFactor < 0) return vokErrScale;
  // The accumulator continues from the 32-bit input; the input memory keeps
  // that input scaled up by scaleFactor and rounded to 16 bits.
  const Word16 sf = static_cast<Word16>(scaleFactor > 31 ? 31 : scaleFactor);
  poleZero(
      coef, mem, [&](int n, Word32& acc, Word16& kept) { acc = src[n], kept = op::round_fx(op::L_shl(src[n], sf)); },
      dst, nullptr);
  return vokOk;
}
