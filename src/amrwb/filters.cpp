// AMR-WB signal filters: the second- and third-order IIR high-pass filters
// with double-precision output memory (state object), the pitch-enhancer
// FIR, pre- and de-emphasis, the LP residual and the 32-bit synthesis
// filter.  Every accumulation saturates where the codec's operator chain
// does, in the same order.
#include <cstdint>
#include <cstring>

#include "common/basic_op.h"
#include "core/status.h"
#include "filter_kernels.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amrwb {

namespace {

// Layout of the caller's 40-byte state: coefficients a0..a3 (feedback,
// a0 unused by the recursion) and b0..b3, past outputs as split pairs (low
// parts, then high parts, newest first), past inputs newest first, and the
// scale factor last applied by the third-order form.
struct HighPassState {
  int16_t a[4];
  int16_t b[4];
  int16_t yLo[3];
  int16_t yHi[3];
  int16_t x[3];
  int16_t pad;
  int32_t scale;
};
static_assert(sizeof(HighPassState) == 40, "state size is part of the interface");

HighPassState load(const void* p) {
  HighPassState s;
  std::memcpy(&s, p, sizeof s);
  return s;
}
void store(void* p, const HighPassState& s) { std::memcpy(p, &s, sizeof s); }

bool validOrder(int order) { return order == 2 || order == 3; }

// One output of the order-n recursion before output scaling: the low parts
// of the past outputs are weighted and rounded to the high parts' scale
// first, then high parts and inputs accumulate on the doubled scale.  The
// input x[n-k] lives in x[k-1] between samples; during a step the line
// moves so that x[0] is the current sample and the oldest tap, which no
// longer fits, is read before the move.
Word32 highPassSample(HighPassState& s, int n, int16_t in) {
  const int16_t oldest = s.x[n - 1];
  for (int k = n - 1; k > 0; --k) s.x[k] = s.x[k - 1];
  s.x[0] = in;
  Word32 acc = 16384;
  for (int j = 0; j < n; ++j) acc = L_mac(acc, s.yLo[j], s.a[j + 1]);
  acc = L_shr(acc, 15);
  for (int j = 0; j < n; ++j) acc = L_mac(acc, s.yHi[j], s.a[j + 1]);
  for (int k = 0; k < n; ++k) acc = L_mac(acc, s.x[k], s.b[k]);
  return L_mac(acc, oldest, s.b[n]);
}

void pushOutput(HighPassState& s, int n, Word32 y) {
  for (int j = n - 1; j > 0; --j) {
    s.yHi[j] = s.yHi[j - 1];
    s.yLo[j] = s.yLo[j - 1];
  }
  L_Extract(y, s.yHi[0], s.yLo[0]);
}

}  // namespace

}  // namespace voksc::amrwb

using namespace voksc::amrwb;

VOKSC_EXPORT VokResult voksHighPassFilterGetSize_AMRWB_16s(int order, int* pSize) {
  if (anyNull(pSize)) return vokErrNullPtr;
  if (!validOrder(order)) return vokErrRange;
  *pSize = static_cast<int>(sizeof(HighPassState));
  return vokOk;
}

VOKSC_EXPORT VokResult voksHighPassFilterInit_AMRWB_16s(const Vok16s* pA, const Vok16s* pB, int order,
                                                       HighPassFilterState_AMRWB_16s* pState) {
  if (anyNull(pA, pB, pState)) return vokErrNullPtr;
  if (!validOrder(order)) return vokErrRange;
  HighPassState s = load(pState);
  for (int k = 0; k <= order; ++k) {
    s.a[k] = pA[k];
    s.b[k] = pB[k];
  }
  for (int j = 0; j < order; ++j) s.yLo[j] = s.yHi[j] = s.x[j] = 0;
  if (order == 3) s.scale = 0;
  store(pState, s);
  return vokOk;
}

// Exchange order: oldest output pair first (high, low), then the inputs
// newest first.
VOKSC_EXPORT VokResult voksHighPassFilterGetDlyLine_AMRWB_16s(const HighPassFilterState_AMRWB_16s* pState,
                                                             Vok16s* delayLine, int order) {
  if (anyNull(pState, delayLine)) return vokErrNullPtr;
  if (!validOrder(order)) return vokErrRange;
  const HighPassState s = load(pState);
  for (int j = 0; j < order; ++j) {
    delayLine[2 * j] = s.yHi[order - 1 - j];
    delayLine[2 * j + 1] = s.yLo[order - 1 - j];
    delayLine[2 * order + j] = s.x[j];
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksHighPassFilterSetDlyLine_AMRWB_16s(const Vok16s* delayLine,
                                                             HighPassFilterState_AMRWB_16s* pState, int order) {
  if (anyNull(pState, delayLine)) return vokErrNullPtr;
  if (!validOrder(order)) return vokErrRange;
  HighPassState s = load(pState);
  for (int j = 0; j < order; ++j) {
    s.yHi[order - 1 - j] = delayLine[2 * j];
    s.yLo[order - 1 - j] = delayLine[2 * j + 1];
    s.x[j] = delayLine[2 * order + j];
  }
  store(pState, s);
  return vokOk;
}

// Second order, in place: the accumulator is brought to Q(32 - scaleFactor)
// with saturation, kept split as the new output memory, and rounded to the
// output scale.  scaleFactor 14 and 15 are the codec's 50 Hz and 400 Hz
// filters.
VOKSC_EXPORT VokResult voksHighPassFilter_AMRWB_16s_ISfs(Vok16s* pSrcDst, int len,
                                                        HighPassFilterState_AMRWB_16s* pState, int scaleFactor) {
  if (anyNull(pSrcDst, pState)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  HighPassState s = load(pState);
  const Word64 up = Word64{16} - scaleFactor;
  const Word16 upShift = static_cast<Word16>(up < -32 ? -32 : (up > 32 ? 32 : up));
  const Word16 downShift = static_cast<Word16>(scaleFactor < -32 ? -32 : (scaleFactor > 32 ? 32 : scaleFactor));
  const Word32 half = scaleFactor != 0 ? 1 : 0;
  for (int n = 0; n < len; ++n) {
    const Word32 y = L_shl(highPassSample(s, 2, pSrcDst[n]), upShift);
    pushOutput(s, 2, y);
    pSrcDst[n] = sat16(static_cast<Word32>((Word64{L_shr(y, downShift)} + half) >> 1));
  }
  store(pState, s);
  return vokOk;
}

// Third order: the memory is first moved to the new scale when the scale
// factor changed (outputs as 32-bit values, inputs rounded back to 16
// bits); then each accumulator is limited and moved to Q31 - 2.
VOKSC_EXPORT VokResult voksHighPassFilter_AMRWB_16s_Sfs(const Vok16s* pSrc, Vok16s* pDst, int len,
                                                       HighPassFilterState_AMRWB_16s* pState, int scaleFactor) {
  if (anyNull(pSrc, pDst, pState)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  HighPassState s = load(pState);
  if (s.scale != scaleFactor) {
    const Word64 diff = Word64{s.scale} - scaleFactor;
    const Word16 shift = static_cast<Word16>(diff < -32 ? -32 : (diff > 32 ? 32 : diff));
    for (int j = 0; j < 3; ++j) {
      L_Extract(L_shl(L_Comp(s.yHi[j], s.yLo[j]), shift), s.yHi[j], s.yLo[j]);
      s.x[j] = round_fx(L_shl(L_deposit_h(s.x[j]), shift));
    }
    s.scale = scaleFactor;
  }
  for (int n = 0; n < len; ++n) {
    const Word32 y = L_shl(highPassSample(s, 3, pSrc[n]), 2);
    pushOutput(s, 3, y);
    pDst[n] = round_fx(L_shl(y, 1));
  }
  store(pState, s);
  return vokOk;
}

// Pitch enhancer: x[n] - c (x[n-1] + x[n+1]) (mode 0) or the symmetric
// filter (-c, c0, -c) (other modes), samples outside the block taken as 0.
VOKSC_EXPORT VokResult voksHighPassFilter_Direct_AMRWB_16s(const Vok16s* pCoeff, const Vok16s* pSrc, Vok16s* pDst,
                                                          int len, int mode) {
  if (anyNull(pSrc, pCoeff, pDst)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  const int16_t side = pCoeff[1];
  const int16_t centre = pCoeff[0];
  int16_t before = 0;
  for (int n = 0; n < len; ++n) {
    const int16_t cur = pSrc[n];
    const int16_t after = n + 1 < len ? pSrc[n + 1] : 0;
    Word32 acc = mode == 0 ? L_deposit_h(cur) : L_mult(cur, centre);
    acc = L_msu(acc, after, side);
    acc = L_msu(acc, before, side);
    pDst[n] = round_fx(acc);
    before = cur;
  }
  return vokOk;
}

// Pre-emphasis x[n] - mu x[n-1] on the scale 2^(14 - scaleFactor): the
// Q31 difference is formed with saturation, moved by the scale and rounded.
// Runs backwards so that in-place use reads unfiltered samples.
VOKSC_EXPORT VokResult voksPreemphasize_AMRWB_16s_ISfs(Vok16s mu, Vok16s* pSrcDst, int len, int scaleFactor,
                                                      Vok16s* pMem) {
  if (anyNull(pSrcDst, pMem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (static_cast<unsigned>(scaleFactor) > 15u) return vokErrScale;
  const Word16 shift = static_cast<Word16>(14 - scaleFactor);
  const int16_t lastIn = pSrcDst[len - 1];
  for (int n = len - 1; n >= 0; --n) {
    const int16_t prev = n > 0 ? pSrcDst[n - 1] : *pMem;
    pSrcDst[n] = round_fx(L_shl(L_msu(L_deposit_h(pSrcDst[n]), prev, mu), shift));
  }
  *pMem = lastIn;
  return vokOk;
}

// De-emphasis y[n] = x[n]/2 + mu y[n-1], rounded (half-scale input).
VOKSC_EXPORT VokResult voksDeemphasize_AMRWB_NR_16s_I(Vok16s mu, Vok16s* pSrcDst, int len, Vok16s* pMem) {
  if (anyNull(pSrcDst, pMem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  int16_t prev = *pMem;
  for (int n = 0; n < len; ++n) prev = pSrcDst[n] = round_fx(L_mac(L_mult(pSrcDst[n], 16384), prev, mu));
  *pMem = prev;
  return vokOk;
}

// De-emphasis of the 32-bit synthesis (low 4 bits ignored) to 16 bits:
// the input is taken to Q31 - 3 with saturation, mu/2 times the previous
// output added, doubled with saturation and rounded.
VOKSC_EXPORT VokResult voksDeemphasize_AMRWB_32s16s(Vok16s mu, const Vok32s* pSrc, Vok16s* pDst, int len,
                                                   Vok16s* pMem) {
  if (anyNull(pSrc, pDst, pMem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  const int16_t halfMu = shr(mu, 1);
  int16_t prev = *pMem;
  for (int n = 0; n < len; ++n) {
    const Word32 x = static_cast<Word32>(static_cast<uint32_t>(pSrc[n]) & ~15u);
    prev = pDst[n] = round_fx(L_shl(L_mac(L_shl(x, 3), prev, halfMu), 1));
  }
  *pMem = prev;
  return vokOk;
}

// LP residual: sum of a[i] x[n-i] as a saturating chain, then scaled by
// 2^scaleFactor with saturation and rounded.
VOKSC_EXPORT VokResult voksResidualFilter_AMRWB_16s_Sfs(const Vok16s* pA, Vok16s order, const Vok16s* pSrc,
                                                       Vok16s* pDst, int len, int scaleFactor) {
  if (anyNull(pA, pSrc, pDst)) return vokErrNullPtr;
  if (order <= 0 || order > len) return vokErrSize;
  if (static_cast<unsigned>(scaleFactor) > 15u) return vokErrScale;
  const Word16 shift = static_cast<Word16>(scaleFactor);
  const auto at = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p); };
  if (at(pDst + len) > at(pSrc - order) && at(pDst) < at(pSrc + len)) {
    // In place (or overlapping): each output is formed after the previous
    // one is stored, as the chain runs.
    for (int n = 0; n < len; ++n) {
      const int16_t* x = pSrc + n;
      Word32 acc = L_mult(x[0], pA[0]);
      for (int i = 1; i <= order; ++i) acc = L_mac(acc, pA[i], *(x - i));
      pDst[n] = round_fx(L_shl(acc, shift));
    }
    return vokOk;
  }
  int32_t acc[256];
  for (int n0 = 0; n0 < len; n0 += 256) {
    const int count = len - n0 < 256 ? len - n0 : 256;
    residualChains(pA, order, pSrc + n0, acc, count);
    for (int n = 0; n < count; ++n) pDst[n0 + n] = round_fx(L_shl(acc[n], shift));
  }
  return vokOk;
}

// 32-bit synthesis 1/A(z): past outputs y (low 4 bits zero) are used as
// their high word and their 12-bit middle part; the middle products are
// summed first and moved to the high products' scale, then the excitation
// (times a[0]) and the high products follow, each step saturating; the
// result goes up by 3 bits with saturation and keeps bits 4..31.
VOKSC_EXPORT VokResult voksSynthesisFilter_AMRWB_16s32s_I(const Vok16s* pA, int order, const Vok16s* pSrc,
                                                         Vok32s* pSrcDst, int len) {
  if (anyNull(pA, pSrc, pSrcDst)) return vokErrNullPtr;
  if (order < 1 || len < 1) return vokErrSize;
  synthesis32(pA, order, pSrc, pSrcDst, len);
  return vokOk;
}
