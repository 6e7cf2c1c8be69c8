// G.729 helpers around the main loop: pre-emphasis, general-order residual
// filter, perceptual pole-zero filters, Annex B windowed autocorrelation and
// comfort-noise excitation.
#include <cstring>

#include "annexb_tables.h"
#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"

using namespace voksc::op;
using namespace voksc::g729;
using voksc::anyNull;

VOKSC_EXPORT VokResult voksPreemphasize_G729A_16s(Vok16s factor, const Vok16s* x, Vok16s* y, int len, Vok16s* mem) {
  if (anyNull(x, y, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  Vok16s prev = *mem;
  const Vok16s last = x[len - 1];
  for (int n = 0; n < len; ++n) {
    Vok16s cur = x[n];
    y[n] = sub(cur, mult(factor, prev));
    prev = cur;
  }
  *mem = last;
  return vokOk;
}

VOKSC_EXPORT VokResult voksPreemphasize_G729A_16s_I(Vok16s factor, Vok16s* x, int len, Vok16s* mem) {
  return voksPreemphasize_G729A_16s(factor, x, x, len, mem);
}

// A(z) of any order up to len; x has `order` samples of history.
VOKSC_EXPORT VokResult voksResidualFilter_G729E_16s(const Vok16s* a, Vok16s order, const Vok16s* x, Vok16s* y,
                                                    int len) {
  if (anyNull(a, x, y)) return vokErrNullPtr;
  if (order < 1 || len < 1 || order > len) return vokErrSize;
  for (int i = 0; i < len; ++i) {
    MacChain c;
    for (int j = 0; j <= order; ++j) c.mac(a[j], x[i - j]);
    Word32 s = c.value();
    if (c.spilled()) {
      s = 0;
      for (int j = 0; j <= order; ++j) s = L_mac(s, a[j], x[i - j]);
    }
    y[i] = round_fx(L_shl(s, 3));
  }
  return vokOk;
}

// Pole-zero perceptual filter N(z)/D(z) of order 10 over 40 samples:
// coefficients num[0..10] then den[0..10] (Q12); memory: the 10 past inputs
// then the 10 past outputs, oldest first, updated.  The plain form follows
// the saturating operator chain, the Low form accumulates exactly.
namespace {
VokResult poleZero(const Vok16s* c, const Vok16s* x, Vok16s* y, Vok16s* mem, bool exact) {
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
      s = static_cast<Word32>(2 * acc > INT32_MAX ? INT32_MAX : (2 * acc < INT32_MIN ? INT32_MIN : 2 * acc));
    } else {
      s = 0;
      for (int j = 0; j <= 10; ++j) s = L_mac(s, num[j], in[10 + n - j]);
      for (int j = 1; j <= 10; ++j) s = L_msu(s, den[j], out[10 + n - j]);
    }
    out[10 + n] = round_fx(L_shl(s, 3));
  }
  std::memcpy(y, out + 10, 40 * sizeof(Vok16s));
  std::memcpy(mem, in + 40, 10 * sizeof(Vok16s));
  std::memcpy(mem + 10, out + 40, 10 * sizeof(Vok16s));
  return vokOk;
}
}  // namespace

VOKSC_EXPORT VokResult voksIIR16s_G729_16s(const Vok16s* coeffs, const Vok16s* x, Vok16s* y, Vok16s* mem) {
  if (anyNull(coeffs, x, y, mem)) return vokErrNullPtr;
  return poleZero(coeffs, x, y, mem, false);
}

VOKSC_EXPORT VokResult voksIIR16sLow_G729_16s(const Vok16s* coeffs, const Vok16s* x, Vok16s* y, Vok16s* mem) {
  if (anyNull(coeffs, x, y, mem)) return vokErrNullPtr;
  return poleZero(coeffs, x, y, mem, true);
}

// y[n] = y[n-1] + e h[n] from the top down, y[0] = e h[0].
VOKSC_EXPORT VokResult voksFilteredExcitation_G729_32f(const Vok32f* h, Vok32f* y, int len, Vok32f e) {
  if (anyNull(h, y)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  for (int n = len - 1; n > 0; --n) y[n] = y[n - 1] + e * h[n];
  y[0] = e * h[0];
  return vokOk;
}

// ---- Annex B ----------------------------------------------------------------

// Windowed autocorrelation with exponent: 13 normalised values.
VOKSC_EXPORT VokResult voksAutoCorr_G729B(const Vok16s* x, Vok16s* exponent, Vok32s* r) {
  if (anyNull(x, exponent, r)) return vokErrNullPtr;
  int16_t y[240];
  for (int i = 0; i < 240; ++i) y[i] = mult_r(x[i], kLpAnalysisWindow[i]);
  int k = 0, norm = 0;
  Vok32s rr[13];
  while (voksAutoCorr_NormE_16s32s(y, 240, rr, 13, &norm) == vokWrnOverflow) {
    for (auto& v : y) v = shr(v, 2);
    ++k;
  }
  std::memcpy(r, rr, sizeof rr);
  *exponent = static_cast<Vok16s>(1 + 4 * k - norm);
  return vokOk;
}

// Comfort-noise excitation: each sample is the sum of 12 outputs of the
// 16-bit linear congruential generator, shifted right by 7.
namespace {
inline Word16 nextRandom(Word16& seed) {
  seed = static_cast<Word16>(static_cast<uint16_t>(seed) * 31821u + 13849u);
  return seed;
}
}  // namespace

VOKSC_EXPORT VokResult voksRandomNoiseExcitation_G729B_16s(Vok16s* seed, Vok16s* exc, int len) {
  if (anyNull(seed, exc)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  Word16 s = *seed;
  for (int n = 0; n < len; ++n) {
    Word32 acc = 0;
    for (int k = 0; k < 12; ++k) acc += nextRandom(s);
    exc[n] = static_cast<Vok16s>(acc >> 7);
  }
  *seed = s;
  return vokOk;
}

VOKSC_EXPORT VokResult voksRandomNoiseExcitation_G729B_16s32f(Vok16s* seed, Vok32f* exc, int len) {
  if (anyNull(seed, exc)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  Word16 s = *seed;
  for (int n = 0; n < len; ++n) {
    Word32 acc = 0;
    for (int k = 0; k < 12; ++k) acc += nextRandom(s);
    exc[n] = static_cast<float>(acc) * 0.001953125f;
  }
  *seed = s;
  return vokOk;
}
