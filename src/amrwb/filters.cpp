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

// The recursion of one block (at most kPlainBlock samples) on plain
// integers, y[n] = the accumulator moved up by `up` (0..16).  Exact when no
// chain can saturate: the low-part chain is bounded by the taps alone
// (low parts are 0..32767); the second chain by its start, the largest
// past-output high part (the state's and, tracked as the block runs, the
// new outputs') and the largest input; the move up by the outputs
// themselves.  When the high part's bound holds for the whole block, it
// holds for each sample in turn, so every output is the saturating
// chain's.  Answers false, state untouched, when a bound fails.
constexpr int kPlainBlock = 256;

template <int N>
bool highPassPlain(HighPassState& s, const int16_t* in, int len, int up, int32_t* y) {
  if (up < 0 || up > 16) return false;
  int64_t sumA = 0, sumB = 0, upA = 0, downA = 0;
  int32_t peakHi = 0;
  for (int k = 1; k <= N; ++k) (s.a[k] < 0 ? downA : upA) += s.a[k] < 0 ? -int64_t{s.a[k]} : int64_t{s.a[k]};
  sumA = upA + downA;
  for (int k = 0; k <= N; ++k) sumB += s.b[k] < 0 ? -int64_t{s.b[k]} : int64_t{s.b[k]};
  for (int j = 0; j < N; ++j) {
    if (s.yLo[j] < 0) return false;  // only a delay line set from outside
    const int32_t h = s.yHi[j] < 0 ? -int32_t{s.yHi[j]} : int32_t{s.yHi[j]};
    peakHi = h > peakHi ? h : peakHi;
  }
  // Low parts are not negative: the chain's partial sums lie between
  // 16384 less the negative taps' share and 16384 plus the positive ones'.
  const int64_t lowUp = 16384 + 2 * 32767 * upA, lowDown = 2 * 32767 * downA - 16384;
  if (lowUp > INT32_MAX || lowDown > INT32_MAX) return false;
  const int64_t lowBound = lowUp > lowDown ? lowUp : lowDown;
  int16_t x[N + kPlainBlock];  // past inputs oldest first, then the block
  for (int k = 0; k < N; ++k) x[k] = s.x[N - 1 - k];
  std::memcpy(x + N, in, static_cast<std::size_t>(len) * sizeof(int16_t));
  int32_t peakX = 0;
  for (int i = 0; i < N + len; ++i) {
    const int32_t v = x[i] < 0 ? -int32_t{x[i]} : int32_t{x[i]};
    peakX = v > peakX ? v : peakX;
  }
  const int64_t room = INT32_MAX - ((lowBound >> 15) + 1) - 2 * peakX * sumB;
  if (room < 0) return false;
  int32_t forward[kPlainBlock];  // the input terms, below 2^31 by `room`
  for (int n = 0; n < len; ++n) {
    int32_t f = 0;
    for (int k = 0; k <= N; ++k) f += s.b[k] * x[N + n - k];
    forward[n] = 2 * f;
  }
  // The low-part chain rounded to the high parts' scale and added to the
  // rest is floor((2^15 acc + low) / 2^15), and 2^15 (2 hi a) + 2 lo a is
  // a e with e = 2^16 hi + 2 lo, the output without its lowest bit: one
  // product per past output, the newest joining last.
  int64_t e[N], a[N];  // newest first
  for (int j = 0; j < N; ++j) {
    e[j] = 65536 * int64_t{s.yHi[j]} + 2 * int64_t{s.yLo[j]};
    a[j] = s.a[j + 1];
  }
  const int64_t keep = up > 0 ? -1 : ~int64_t{1};  // outputs moved up have no lowest bit
  uint32_t spread = 0;  // OR of |y| (one's complement for negatives)
  int n = 0;
  for (; n < len && (n < N || up == 0); ++n) {
    int64_t t = int64_t{forward[n]} * 32768 + 16384;
    for (int j = N - 1; j > 0; --j) t += a[j] * e[j];
    const int64_t v = static_cast<int64_t>(static_cast<uint64_t>((t + a[0] * e[0]) >> 15) << up);
    const int32_t out = static_cast<int32_t>(v);
    if (v != out) return false;  // fed back, an output past 32 bits could carry the sums past 64
    y[n] = out;
    for (int j = N - 1; j > 0; --j) e[j] = e[j - 1];
    e[0] = v & keep;
  }
  if (n < len) {
    // Every past output is now one moved up: e = q 2^up with q the sum
    // before the move, so the recursion runs on q with the taps moved up
    // (the move leaves the step from one output to the next).
    int64_t q[N], aUp[N];
    for (int j = 0; j < N; ++j) {
      q[j] = e[j] >> up;
      aUp[j] = a[j] * (int64_t{1} << up);
    }
    for (; n < len; ++n) {
      int64_t t = int64_t{forward[n]} * 32768 + 16384;
      for (int j = N - 1; j > 0; --j) t += aUp[j] * q[j];
      const int64_t next = (t + aUp[0] * q[0]) >> 15;
      const int64_t v = static_cast<int64_t>(static_cast<uint64_t>(next) << up);
      const int32_t out = static_cast<int32_t>(v);
      if (v != out) return false;
      y[n] = out;
      for (int j = N - 1; j > 0; --j) q[j] = q[j - 1];
      q[0] = next;
    }
    for (int j = 0; j < N; ++j) e[j] = static_cast<int64_t>(static_cast<uint64_t>(q[j]) << up);
  }
  for (int n = 0; n < len; ++n) spread |= static_cast<uint32_t>(y[n] ^ (y[n] >> 31));
  const int32_t newHi = static_cast<int32_t>(spread >> 16) + 1;
  peakHi = newHi > peakHi ? newHi : peakHi;
  if (2 * int64_t{peakHi} * sumA > room) return false;
  for (int j = 0; j < N; ++j) {
    s.yHi[j] = static_cast<int16_t>(e[j] >> 16);
    s.yLo[j] = static_cast<int16_t>((e[j] >> 1) & 0x7FFF);
    s.x[j] = x[N + len - 1 - j];
  }
  return true;
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
  for (int n0 = 0; n0 < len; n0 += kPlainBlock) {
    const int count = len - n0 < kPlainBlock ? len - n0 : kPlainBlock;
    Vok16s* x = pSrcDst + n0;
    int32_t y[kPlainBlock];
    if (downShift >= 0 && highPassPlain<2>(s, x, count, upShift, y)) {
      for (int n = 0; n < count; ++n) {
        const int32_t v = ((y[n] >> downShift) + half) >> 1;  // y >> 0..16 plus 1 stays inside 32 bits
        x[n] = static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
      }
      continue;
    }
    for (int n = 0; n < count; ++n) {
      const Word32 v = L_shl(highPassSample(s, 2, x[n]), upShift);
      pushOutput(s, 2, v);
      x[n] = sat16(static_cast<Word32>((Word64{L_shr(v, downShift)} + half) >> 1));
    }
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
  for (int n0 = 0; n0 < len; n0 += kPlainBlock) {
    const int count = len - n0 < kPlainBlock ? len - n0 : kPlainBlock;
    int32_t y[kPlainBlock];
    if (highPassPlain<3>(s, pSrc + n0, count, 2, y)) {
      // round_fx(L_shl(y, 1)): both saturations together are the clamp.
      for (int n = 0; n < count; ++n) {
        const int64_t v = (2 * int64_t{y[n]} + 0x8000) >> 16;
        pDst[n0 + n] = static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
      }
      continue;
    }
    for (int n = 0; n < count; ++n) {
      const Word32 v = L_shl(highPassSample(s, 3, pSrc[n0 + n]), 2);
      pushOutput(s, 3, v);
      pDst[n0 + n] = round_fx(L_shl(v, 1));
    }
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
  // While |x| (2^16 or 2 |c0|) + 4 |x| |c| + 2^15 stays inside 32 bits no
  // step of the chain (nor the rounding) saturates: the output is the
  // plain sum's rounded upper word.
  int32_t peak = 0;
  for (int n = 0; n < len; ++n) {
    const int32_t v = pSrc[n] < 0 ? -int32_t{pSrc[n]} : int32_t{pSrc[n]};
    peak = v > peak ? v : peak;
  }
  const int64_t gain = mode == 0 ? 65536 : 2 * (centre < 0 ? -int64_t{centre} : int64_t{centre});
  if (peak * (gain + 4 * (side < 0 ? -int64_t{side} : int64_t{side})) + 32768 <= INT32_MAX && len <= 256) {
    int16_t x[258];  // the block with a zero either side
    x[0] = x[len + 1] = 0;
    std::memcpy(x + 1, pSrc, static_cast<std::size_t>(len) * sizeof(int16_t));
    const int32_t c0 = mode == 0 ? 32768 : centre;
    for (int n = 0; n < len; ++n)
      pDst[n] = static_cast<int16_t>((2 * (x[n + 1] * c0 - side * (x[n] + x[n + 2])) + 32768) >> 16);
    return vokOk;
  }
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
  // While |x| 2^16 + 2 |x| |mu| stays inside 32 bits the difference is
  // exact; the saturating move up and rounding are then the clamp of the
  // moved value's rounded upper word.
  int32_t peak = *pMem < 0 ? -int32_t{*pMem} : int32_t{*pMem};
  for (int n = 0; n < len; ++n) {
    const int32_t v = pSrcDst[n] < 0 ? -int32_t{pSrcDst[n]} : int32_t{pSrcDst[n]};
    peak = v > peak ? v : peak;
  }
  if (int64_t{peak} * (65536 + 2 * (mu < 0 ? -int64_t{mu} : int64_t{mu})) <= INT32_MAX && len <= 256) {
    int16_t x[257];  // the last input before the block, then the block
    x[0] = *pMem;
    std::memcpy(x + 1, pSrcDst, static_cast<std::size_t>(len) * sizeof(int16_t));
    for (int n = 0; n < len; ++n) {
      const int64_t d = x[n + 1] * 65536 - 2 * x[n] * mu;
      const int64_t v = ((shift >= 0 ? d * (int64_t{1} << shift) : d >> -shift) + 0x8000) >> 16;
      pSrcDst[n] = static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
    }
    *pMem = lastIn;
    return vokOk;
  }
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
  // While 8 |x| + 2 * 32768 |mu/2| stays inside 32 bits the first move and
  // the sum cannot saturate; the doubling and the rounding then saturate
  // together, as the clamp of (16 x + 4 prev mu/2 + 2^15) >> 16.
  // |x| <= spread + 1 before the low bits go, spread + 16 after.
  uint32_t spread = 0;
  for (int n = 0; n < len; ++n) spread |= static_cast<uint32_t>(pSrc[n] ^ (pSrc[n] >> 31));
  if (8 * (int64_t{spread} + 16) + 65536 * int64_t{halfMu < 0 ? -halfMu : halfMu} <= INT32_MAX) {
    // Formed unclamped (a short dependency from one output to the next);
    // when some output leaves 16 bits the block is formed again clamped.
    const int64_t fac = 4 * int64_t{halfMu};
    int64_t last = prev;
    bool inside = true;
    for (int n = 0; n < len; ++n) {
      const int64_t x = static_cast<int32_t>(static_cast<uint32_t>(pSrc[n]) & ~15u);
      last = (16 * x + 0x8000 + last * fac) >> 16;
      inside &= last >= -32768 && last <= 32767;
      pDst[n] = static_cast<int16_t>(last);
    }
    if (inside) {
      *pMem = static_cast<int16_t>(last);
      return vokOk;
    }
    for (int n = 0; n < len; ++n) {
      const int64_t x = static_cast<int32_t>(static_cast<uint32_t>(pSrc[n]) & ~15u);
      const int64_t v = (16 * x + 4 * int64_t{prev} * halfMu + 0x8000) >> 16;
      prev = pDst[n] = static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
    }
    *pMem = prev;
    return vokOk;
  }
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
