// G.729 Annex E hybrid window: the backward-adaptive autocorrelation of
// order 30 over 145 samples, a recursive part (samples 30..109, decaying by
// 0.31640625 per frame in the state) plus a non-recursive part (110..144).
#include <cstdint>
#include <cstring>

#include "common/basic_op.h"
#include "common/kernels.h"
#include "common/math_ops.h"
#include "core/cpu.h"
#include "core/status.h"
#include "lp_float_tables.h"
#include "lp_internal.h"
#include "lp_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g729 {

namespace {

constexpr int kLen = kHybridLen, kOrder = kHybridOrder, kSplit = 110;
constexpr int kStateBytes = (kOrder + 1) * 4;
constexpr Word16 kDecay = 10368;  // 0.31640625 in Q15

using XcorrFn = void (*)(const int16_t*, const int16_t*, int, int, int64_t*);

// Windowing: the newest sample meets the first window value.
void windowed(const Word16* x, Word16* w) {
  for (int n = kLen - 1, k = 0; n >= 0; --n, ++k) w[n] = mult(x[n], kHybridWindow[k]);
}

Word32 recursiveChain(const Word16* w, int i) {
  Word32 t = 0;
  for (int n = kOrder; n < kSplit; ++n) t = L_mac(t, w[n], w[n - i]);
  return t;
}

Word32 tailChain(Word32 t, const Word16* w, int i) {
  for (int n = kSplit; n < kLen; ++n) t = L_mac(t, w[n], w[n - i]);
  return t;
}

// The operator chains evaluated through exact correlations.  By
// Cauchy-Schwarz every partial sum of products at any lag is bounded by the
// energy E of the windowed block, so a chain starting at t0 cannot saturate
// when |t0| + 2E <= 0x7FFFFFFF; lags that miss the bound take the chain.
template <XcorrFn kXcorr>
void winHybridImpl(const Word16* x, Word32* r, Word32* state) {
  Word16 w[kLen];
  windowed(x, w);
  int64_t energy = 0;
  for (int n = 0; n < kLen; ++n) energy += int32_t{w[n]} * w[n];
  const bool fits = 2 * energy <= kMax32;
  int64_t c1[kOrder + 1], c2[kOrder + 1];
  if (fits) {
    kXcorr(w + kOrder, w, kSplit - kOrder, kOrder + 1, c1);  // c1[30 - i]: lag i
    kXcorr(w + kSplit, w + kSplit - kOrder, kLen - kSplit, kOrder + 1, c2);
  }
  for (int i = 0; i <= kOrder; ++i) {
    const Word32 t = fits ? static_cast<Word32>(2 * c1[kOrder - i]) : recursiveChain(w, i);
    Word16 hi, lo;
    L_Extract(state[i], hi, lo);
    state[i] = L_add(voksc::vokMpy32x16(hi, lo, kDecay), L_shr(t, 1));
  }
  for (int i = 0; i <= kOrder; ++i) {
    const Word32 t0 = L_shl(state[i], 1);
    const bool exact = fits && (t0 < 0 ? -int64_t{t0} : int64_t{t0}) + 2 * energy <= kMax32;
    const Word32 t = exact ? static_cast<Word32>(t0 + 2 * c2[kOrder - i]) : tailChain(t0, w, i);
    r[i] = L_shr(t, 1);
  }
}

void winHybridChain(const Word16* x, Word32* r, Word32* state) {
  Word16 w[kLen];
  windowed(x, w);
  for (int i = 0; i <= kOrder; ++i) {
    Word16 hi, lo;
    L_Extract(state[i], hi, lo);
    state[i] = L_add(voksc::vokMpy32x16(hi, lo, kDecay), L_shr(recursiveChain(w, i), 1));
  }
  for (int i = 0; i <= kOrder; ++i) r[i] = L_shr(tailChain(L_shl(state[i], 1), w, i), 1);
}

}  // namespace

void winHybrid_scalar(const int16_t* x, int32_t* r, int32_t* state) { winHybridImpl<kern::xcorr_scalar>(x, r, state); }
void winHybrid_avx2(const int16_t* x, int32_t* r, int32_t* state) { winHybridImpl<kern::xcorr_avx2>(x, r, state); }
void winHybrid_chain(const int16_t* x, int32_t* r, int32_t* state) { winHybridChain(x, r, state); }

}  // namespace voksc::g729

using namespace voksc::g729;

VOKSC_EXPORT VokResult voksWinHybridGetStateSize_G729E_16s(int* size) {
  if (!size) return vokErrNullPtr;
  *size = kStateBytes;
  return vokOk;
}

VOKSC_EXPORT VokResult voksWinHybridGetStateSize_G729E_32f(int* size) { return voksWinHybridGetStateSize_G729E_16s(size); }

// Both forms start from 31 zero accumulators (integer and float zero share
// the all-zero bit pattern).
VOKSC_EXPORT VokResult voksWinHybridInit_G729E_16s(void* state) {
  if (!state) return vokErrNullPtr;
  std::memset(state, 0, kStateBytes);
  return vokOk;
}

VOKSC_EXPORT VokResult voksWinHybridInit_G729E_32f(void* state) { return voksWinHybridInit_G729E_16s(state); }

// The state is used at the caller's address, whatever its alignment.
VOKSC_EXPORT VokResult voksWinHybrid_G729E_16s32s(const Vok16s* x, Vok32s* r, void* state) {
  if (anyNull(x, r, static_cast<const char*>(state))) return vokErrNullPtr;
  Word32 acc[kHybridOrder + 1];
  std::memcpy(acc, state, sizeof acc);
  static const auto form = voksc::cpu::choose(winHybrid_scalar, winHybrid_avx2);
  form(x, r, acc);
  std::memcpy(state, acc, sizeof acc);
  return vokOk;
}

VOKSC_EXPORT VokResult voksWinHybrid_G729E_32f(const Vok32f* x, Vok32f* r, void* state) {
  if (anyNull(x, r, static_cast<const char*>(state))) return vokErrNullPtr;
  constexpr int kLen = kHybridLen, kOrder = kHybridOrder, kSplit = 110;
  float w[kLen], acc[kOrder + 1];
  for (int n = kLen - 1, k = 0; n >= 0; --n, ++k) w[n] = x[n] * voksc::g729::lpf::kHybridWindow[k];
  std::memcpy(acc, state, sizeof acc);
  for (int i = 0; i <= kOrder; ++i) {
    float t = 0.0f;
    for (int n = kOrder; n < kSplit; ++n) t += w[n] * w[n - i];
    acc[i] = 0.31640625f * acc[i] + t;
  }
  for (int i = 0; i <= kOrder; ++i) {
    float u = acc[i];
    for (int n = kSplit; n < kLen; ++n) u += w[n] * w[n - i];
    r[i] = u;
  }
  std::memcpy(state, acc, sizeof acc);
  return vokOk;
}
