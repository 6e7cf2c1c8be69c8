// GSM 06.10 full-rate (RPE-LTP) filtering and quantisation steps.
//
// All arithmetic is the 16-bit fixed point of GSM 06.10: products rounded
// from Q15 (mult_r), sums saturated to 16 bits.  Every filter keeps its
// memory in the caller's array, loaded into locals for the sample loop and
// stored back at the end, so a signal split into any blocks filters exactly
// as in one call.
#include <cstdint>

#include "common/basic_op.h"
#include "core/cpu.h"
#include "core/status.h"
#include "gsmfr_internal.h"
#include "gsmfr_tables.h"

namespace voksc::gsmfr {
namespace {

using op::Word16;
using op::Word32;
using op::Word64;

// The rounded Q15 product of GSM 06.10; only -32768 * -32768 saturates.
inline Word16 rmul(Word16 a, Word16 b) { return op::mult_r(a, b); }
inline Word16 sadd(Word16 a, Word16 b) { return op::add(a, b); }

// Pole of the offset-compensation filter (32735 / 32768) and the
// pre-emphasis / de-emphasis coefficient (28180 / 32768).
constexpr Word16 kOffsetPole = 32735;
constexpr Word16 kEmphasis = 28180;

// Arithmetic right shift of a 16-bit word as the codec's shift operator
// does it: 16 or more positions leave the sign.
inline Word16 shiftDown(Word16 v, int n) { return n >= 16 ? static_cast<Word16>(v < 0 ? -1 : 0) : static_cast<Word16>(v >> n); }

// Schur recursion on 16-bit normalised correlations.  `p` holds the
// prediction-error correlations P[0..n], `k` the backward ones K[1..n-1].
// A stage whose |P[1]| exceeds P[0] ends the recursion with zeros.
void schur(const Word32* acf, Word16* rc, int n) {
  if (acf[0] == 0) {
    for (int i = 0; i < n; ++i) rc[i] = 0;
    return;
  }
  const int norm = op::norm_l(acf[0]);
  Word16 p[9], k[9];
  for (int i = 0; i <= n; ++i) {
    // The shift is taken on a wide word, then the upper half kept as a
    // 16-bit word (a correlation above r[0] wraps, as in the codec).
    p[i] = static_cast<Word16>((Word64{acf[i]} * (Word64{1} << norm)) >> 16);
    k[i] = p[i];
  }
  for (int stage = 0; stage < n; ++stage) {
    const Word16 mag = op::abs_s(p[1]);
    if (p[0] < mag) {
      for (int i = stage; i < n; ++i) rc[i] = 0;
      return;
    }
    Word16 r = op::div_s(mag, p[0]);
    if (p[1] > 0) r = static_cast<Word16>(-r);
    rc[stage] = r;
    if (stage == n - 1) return;
    p[0] = sadd(p[0], rmul(p[1], r));
    for (int m = 1; m < n - stage; ++m) {
      const Word16 pNext = p[m + 1];
      p[m] = sadd(pNext, rmul(k[m], r));
      k[m] = sadd(k[m], rmul(pNext, r));
    }
  }
}

}  // namespace
}  // namespace voksc::gsmfr

using namespace voksc::gsmfr;
using voksc::anyNull;
namespace op = voksc::op;

VOKSC_EXPORT VokResult voksHighPassFilter_GSMFR_16s(const Vok16s* src, Vok16s* dst, int len, Vok32s* mem) {
  if (anyNull(src, dst, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  // Input reduced to 13 bits and back to the codec scale (two low bits
  // clear), then x - x[-1] fed into a one-pole recursion held in 32 bits.
  // The 32 x 16 product with the pole is split into the part above bit 15
  // (exact) and the rounded product of the 15 low bits.
  Word16 prevIn = static_cast<Word16>(mem[0]);
  Word32 acc = mem[1];
  for (int n = 0; n < len; ++n) {
    const Word16 scaled = static_cast<Word16>((src[n] >> 3) * 4);
    const Word32 diff = scaled - prevIn;
    prevIn = scaled;
    const Word32 high = acc >> 15;
    const Word16 low = static_cast<Word16>(acc - high * 32768);
    const Word32 next = diff * 32768 + rmul(low, kOffsetPole);
    acc = op::L_add(high * kOffsetPole, next);
    dst[n] = op::sat16(op::L_add(acc, 16384) >> 15);
  }
  mem[0] = prevIn;
  mem[1] = acc;
  return vokOk;
}

VOKSC_EXPORT VokResult voksPreemphasize_GSMFR_16s(const Vok16s* src, Vok16s* dst, int len, Vok16s* mem) {
  if (anyNull(src, dst, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  Word16 prev = *mem;
  for (int n = 0; n < len; ++n) {
    const Word16 x = src[n];
    dst[n] = sadd(x, rmul(prev, static_cast<Word16>(-kEmphasis)));
    prev = x;
  }
  *mem = prev;
  return vokOk;
}

VOKSC_EXPORT VokResult voksDeemphasize_GSMFR_16s_I(Vok16s* srcDst, int len, Vok16s* mem) {
  if (anyNull(srcDst, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  Word16 y = *mem;
  for (int n = 0; n < len; ++n) {
    y = sadd(srcDst[n], rmul(y, kEmphasis));
    srcDst[n] = y;
  }
  *mem = y;
  return vokOk;
}

VOKSC_EXPORT VokResult voksSchur_GSMFR_32s16s(const Vok32s* acf, Vok16s* rc, int n) {
  if (anyNull(acf, rc)) return vokErrNullPtr;
  if (n < 1 || n > 8) return vokErrSize;
  schur(acf, rc, n);
  return vokOk;
}

VOKSC_EXPORT VokResult voksShortTermAnalysisFilter_GSMFR_16s_I(const Vok16s* rrp, Vok16s* srcDst, int len,
                                                               Vok16s* mem) {
  if (anyNull(rrp, srcDst, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  static const auto form = voksc::cpu::choose(analysisLatticeScalar, analysisLatticeAvx2);
  form(rrp, srcDst, len, mem);
  return vokOk;
}

VOKSC_EXPORT VokResult voksShortTermSynthesisFilter_GSMFR_16s(const Vok16s* rrp, const Vok16s* src, Vok16s* dst,
                                                              int len, Vok16s* mem) {
  if (anyNull(rrp, src, dst, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  static const auto form = voksc::cpu::choose(synthesisLatticeScalar, synthesisLatticeAvx2);
  form(rrp, src, dst, len, mem);
  return vokOk;
}

VOKSC_EXPORT VokResult voksWeightingFilter_GSMFR_16s(const Vok16s* src, Vok16s* dst, int len) {
  if (anyNull(src, dst)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  // Symmetric 11-tap block filter in Q13 with rounding; the sum of the
  // products fits easily in 32 bits (|sum of taps| < 2^15).
  for (int k = 0; k < len; ++k) {
    Word32 acc = 4096;
    for (int j = 0; j < 11; ++j) acc += Word32{src[k + j]} * kWeightingTaps[j];
    dst[k] = op::sat16(acc >> 13);
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksRPEQuantDecode_GSMFR_16s(const Vok16s* xMc, Vok16s fac, Vok16s shift, Vok16s* xMp) {
  if (anyNull(xMc, xMp)) return vokErrNullPtr;
  for (int i = 0; i < 13; ++i)
    if (xMc[i] < 0 || xMc[i] > 7) return vokErrIndex;
  if (shift < 0) return vokErrScale;
  // Each 3-bit code c stands for the odd level 2c - 7 (in Q12 after the
  // shift by 12), scaled by the block mantissa, rounded half up by adding
  // half of the final step, then shifted down by the block exponent.
  const Word16 half = shift == 0 || shift > 16 ? Word16{0} : static_cast<Word16>(1 << (shift - 1));
  for (int i = 0; i < 13; ++i) {
    const Word16 level = static_cast<Word16>((xMc[i] * 2 - 7) * 4096);
    const Word16 v = sadd(rmul(fac, level), half);
    xMp[i] = shiftDown(v, shift);
  }
  return vokOk;
}
