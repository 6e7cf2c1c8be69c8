// AMR-WB excitation decoding: lag indices back to lags with the relative
// search window, concealment of lags in bad frames, the adaptive vector by
// 1/4-sample interpolation of the past excitation, the algebraic code
// vectors of every mode, and the joint gain decoder.
#include <cstdint>
#include <cstring>

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "excitation_tables.h"
#include "filter_kernels.h"
#include "voksc.h"

using namespace voksc::op;
using voksc::anyNull;

// Concealment record of the adaptive-codebook decoder (24 bytes).
struct AdaptiveCodebookDecodeState_AMRWB_16s {
  int16_t gains[5];  // pitch gains of good subframes, Q14, [4] newest
  int16_t seed;
  int16_t lags[5];   // lags of good subframes, [0] newest
  int16_t lastLag;
};

namespace voksc::amrwb {
namespace {

static_assert(sizeof(AdaptiveCodebookDecodeState_AMRWB_16s) == 24, "record size");

constexpr int kSub = 64;
constexpr int kHalfTaps = 16;  // the interpolator reaches 16 samples either side

// Lag grid of one codec variant: the shortest and longest lags and where
// the resolution changes from 1/4 to 1/2 (quarterEnd) and from 1/2 to 1
// sample (halfEnd).  8-bit absolute lags have no quarter range.
struct LagGrid {
  int minLag, maxLag, quarterEnd, halfEnd;
  bool coarse;  // 8-bit absolute / 5-bit relative lags (2 fraction steps)
};

constexpr LagGrid kCoarseGrid = {34, 231, 34, 92, true};
constexpr LagGrid kFineGrid = {34, 231, 128, 160, false};

LagGrid gridWithOffset(int k) { return {34 + k, 231 + 6 * k, 128 - k, 160, false}; }

// Rate codes: 0 not decodable here, 1 the 8-bit-lag modes, 2 the others.
int lagClass(VokRateCode rate) {
  switch (rate) {
    case vokRateAmrWb660:
    case vokRateAmrWb885:
    case vokRateSid:
      return 1;
    case vokRateAmrWb1265: case vokRateAmrWb1425: case vokRateAmrWb1585: case vokRateAmrWb1825:
    case vokRateAmrWb1985: case vokRateAmrWb2305: case vokRateAmrWb2385:
      return 2;
    default:
      return (rate >= vokRateAmrWbPlus20 && rate <= vokRateAmrWbPlus72) || rate == 22 ? 2 : 0;
  }
}

// Bits of the lag index of an absolute or relative subframe.
int indexBits(const LagGrid& g, bool absolute) { return g.coarse ? (absolute ? 8 : 5) : (absolute ? 9 : 6); }

// Absolute index -> (lag, fraction in quarter samples).
void decodeAbsolute(const LagGrid& g, int index, int& lag, int& frac) {
  const int quarterCodes = 4 * (g.quarterEnd - g.minLag);
  const int halfCodes = 2 * (g.halfEnd - g.quarterEnd);
  if (index < quarterCodes) {
    lag = g.minLag + (index >> 2);
    frac = index - 4 * (lag - g.minLag);
  } else if (index < quarterCodes + halfCodes) {
    const int rest = index - quarterCodes;
    lag = g.quarterEnd + (rest >> 1);
    frac = 2 * (rest - 2 * (lag - g.quarterEnd));
  } else {
    lag = g.halfEnd + index - quarterCodes - halfCodes;
    frac = 0;
  }
}

// The relative window around an absolute lag.
void windowAround(const LagGrid& g, int lag, int16_t* window) {
  int lo = lag - 8 < g.minLag ? g.minLag : lag - 8;
  int hi = lo + 15;
  if (hi > g.maxLag) {
    hi = g.maxLag;
    lo = hi - 15;
  }
  window[0] = static_cast<int16_t>(lo);
  window[1] = static_cast<int16_t>(hi);
}

// Decodes one index; updates the window after an absolute subframe.
void decodeLag(const LagGrid& g, bool absolute, int index, int16_t* window, int& lag, int& frac) {
  if (absolute) {
    decodeAbsolute(g, index, lag, frac);
    windowAround(g, lag, window);
  } else if (g.coarse) {
    lag = window[0] + (index >> 1);
    frac = 2 * (index - 2 * (lag - window[0]));
  } else {
    lag = window[0] + (index >> 2);
    frac = index - 4 * (lag - window[0]);
  }
}

// The adaptive vector: 65 samples interpolated from the excitation lag +
// frac/4 samples back.  A positive fraction f reads from one sample
// further back with the complementary phase 4 - f.  Each output is the
// saturating chain of 32 doubled products, doubled again and rounded.
void interpolate(int16_t* exc, int lag, int frac) {
  const int back = lag + (frac > 0 ? 1 : 0) + kHalfTaps - 1;
  const int phase = frac > 0 ? frac - 1 : 3;
  int16_t taps[2 * kHalfTaps];
  for (int t = 0; t < 2 * kHalfTaps; ++t) taps[t] = kExcInterp[phase + 4 * t];
  interpolate32(exc, back, taps, kSub + 1);
}

// Pseudo-random step of the lag concealment (16-bit linear congruence).
int16_t nextRandom(int16_t& seed) {
  seed = static_cast<int16_t>(seed * 31821 + 13849);
  return seed;
}

// The long lags of the history with a random spread: the mean of the three
// longest plus up to half the spread between the median and the longest
// (at most 20).
int16_t randomLag(const int16_t* lags, int16_t& seed) {
  int16_t s[5];
  std::memcpy(s, lags, sizeof s);
  for (int i = 1; i < 5; ++i)
    for (int j = i; j > 0 && s[j] < s[j - 1]; --j) {
      const int16_t t = s[j];
      s[j] = s[j - 1];
      s[j - 1] = t;
    }
  int16_t spread = sub(s[4], s[2]);
  if (spread > 40) spread = 40;
  const int16_t jitter = mult(shr(spread, 1), nextRandom(seed));
  return add(mult(add(add(s[2], s[3]), s[4]), 10923), jitter);
}

// The lag of a bad subframe from the history of good ones; `lag` is the
// lag decoded from the received index (used when the frame is usable).
int16_t concealLag(AdaptiveCodebookDecodeState_AMRWB_16s& st, int16_t lag, bool unusable) {
  int16_t minLag = st.lags[0], maxLag = st.lags[0], minGain = st.gains[0];
  for (int i = 1; i < 5; ++i) {
    if (st.lags[i] < minLag) minLag = st.lags[i];
    if (st.lags[i] > maxLag) maxLag = st.lags[i];
    if (st.gains[i] < minGain) minGain = st.gains[i];
  }
  const int16_t spread = sub(maxLag, minLag);
  const bool steady = minGain > 8192 && spread < 10;
  const bool voicedTail = st.gains[4] > 8192 && st.gains[3] > 8192;
  const auto inside = [&](int16_t t) { return t > minLag && t < maxLag; };
  if (!unusable) {
    int16_t sum = 0;
    for (int16_t l : st.lags) sum = add(sum, l);
    const int16_t meanLag = mult(sum, 6554);
    const int16_t overMax = sub(lag, maxLag), fromLast = sub(lag, st.lags[0]);
    // The received lag stands when it fits the history in any of these ways.
    const bool plausible[] = {
        spread < 10 && lag > sub(minLag, 5) && overMax < 5,
        voicedTail && add(fromLast, 10) > 0 && fromLast < 10,
        minGain < 6554 && st.gains[4] == minGain && inside(lag),
        spread < 70 && inside(lag),
        lag > meanLag && lag < maxLag,
    };
    for (bool p : plausible)
      if (p) return lag;
    lag = steady || voicedTail ? st.lags[0] : randomLag(st.lags, st.seed);
  } else {
    lag = steady ? st.lastLag : voicedTail ? st.lags[0] : randomLag(st.lags, st.seed);
  }
  if (lag > maxLag) lag = maxLag;
  if (lag < minLag) lag = minLag;
  return lag;
}

// ---- algebraic code vectors --------------------------------------------------------

// Pulse positions on a 16-position track coded with n position bits per
// pulse: bits 0..3 a position, bit 4 the sign (1 negative).
struct Pulses {
  int16_t code[6];
  int count = 0;
  void add(int32_t code5) { code[count++] = static_cast<int16_t>(code5); }
};

// One pulse with n+1 bits: position (n bits, plus offset), then its sign.
void onePulse(int32_t idx, int n, int offset, Pulses& p) {
  int32_t pos = (idx & ((1 << n) - 1)) + offset;
  if ((idx >> n) & 1) pos += 16;
  p.add(pos);
}

// Two pulses with 2n+1 bits: two positions and one sign; the order of the
// positions tells the second pulse's sign.
void twoPulses(int32_t idx, int n, int offset, Pulses& p) {
  const int32_t mask = (1 << n) - 1;
  int32_t first = ((idx >> n) & mask) + offset, second = (idx & mask) + offset;
  const bool negative = (idx >> (2 * n)) & 1;
  if (second < first) {
    if (negative) first += 16;
    else second += 16;
  } else if (negative) {
    first += 16;
    second += 16;
  }
  p.add(first);
  p.add(second);
}

// Three pulses with 3n+1 bits: two in the half chosen by one bit, one anywhere.
void threePulses(int32_t idx, int n, int offset, Pulses& p) {
  const int half = (idx >> (2 * n - 1)) & 1 ? 1 << (n - 1) : 0;
  twoPulses(idx & ((1 << (2 * n - 1)) - 1), n - 1, offset + half, p);
  onePulse((idx >> (2 * n)) & ((1 << (n + 1)) - 1), n, offset, p);
}

// Four pulses with 4n+1 bits.
void fourPulsesOdd(int32_t idx, int n, int offset, Pulses& p) {
  const int half = (idx >> (2 * n - 1)) & 1 ? 1 << (n - 1) : 0;
  twoPulses(idx & ((1 << (2 * n - 1)) - 1), n - 1, offset + half, p);
  twoPulses((idx >> (2 * n)) & ((1 << (2 * n + 1)) - 1), n, offset, p);
}

// Four pulses with 4n bits: two bits say how many lie in the lower half.
void fourPulses(int32_t idx, int n, int offset, Pulses& p) {
  const int m = n - 1, upper = offset + (1 << m);
  switch ((idx >> (4 * n - 2)) & 3) {
    case 0:
      fourPulsesOdd(idx, m, (idx >> (4 * m + 1)) & 1 ? upper : offset, p);
      break;
    case 1:
      onePulse(idx >> (3 * m + 1), m, offset, p);
      threePulses(idx, m, upper, p);
      break;
    case 2:
      twoPulses(idx >> (2 * m + 1), m, offset, p);
      twoPulses(idx, m, upper, p);
      break;
    default:
      threePulses(idx >> (m + 1), m, offset, p);
      onePulse(idx, m, upper, p);
      break;
  }
}

// Five pulses with 5n bits.
void fivePulses(int32_t idx, int n, int offset, Pulses& p) {
  const int m = n - 1;
  const int first = (idx >> (5 * n - 1)) & 1 ? offset + (1 << m) : offset;
  threePulses(idx >> (2 * n + 1), m, first, p);
  twoPulses(idx, n, offset, p);
}

// Six pulses with 6n - 2 bits.
void sixPulses(int32_t idx, int n, int offset, Pulses& p) {
  const int m = n - 1, upper = offset + (1 << m);
  const bool lowFirst = ((idx >> (6 * n - 5)) & 1) == 0;
  const int a = lowFirst ? offset : upper, b = lowFirst ? upper : offset;
  switch ((idx >> (6 * n - 4)) & 3) {
    case 0:
      fivePulses(idx >> n, m, a, p);
      onePulse(idx, m, a, p);
      break;
    case 1:
      fivePulses(idx >> n, m, a, p);
      onePulse(idx, m, b, p);
      break;
    case 2:
      fourPulses(idx >> (2 * m + 1), m, a, p);
      twoPulses(idx, m, b, p);
      break;
    default:
      threePulses(idx >> (3 * m + 1), m, offset, p);
      threePulses(idx, m, upper, p);
      break;
  }
}

// Per rate: pulses on each of the four tracks, and how a track's index is
// assembled from the index words (bits of the high word; 0: one word).
struct CodeLayout {
  int pulses[4];
  int lowBits[4];  // the low word t+4 carries this many bits of track t's index
};

bool codeLayout(VokRateCode rate, CodeLayout& l) {
  switch (rate) {
    case vokRateAmrWb885: case vokRateAmrWbPlus20: l = {{1, 1, 1, 1}, {0, 0, 0, 0}}; return true;
    case vokRateAmrWbPlus28: l = {{2, 2, 1, 1}, {0, 0, 0, 0}}; return true;
    case vokRateAmrWb1265: case vokRateAmrWbPlus36: l = {{2, 2, 2, 2}, {0, 0, 0, 0}}; return true;
    case vokRateAmrWb1425: case vokRateAmrWbPlus44: l = {{3, 3, 2, 2}, {0, 0, 0, 0}}; return true;
    case vokRateAmrWb1585: case vokRateAmrWbPlus52: l = {{3, 3, 3, 3}, {0, 0, 0, 0}}; return true;
    case vokRateAmrWb1825: case vokRateAmrWbPlus64: l = {{4, 4, 4, 4}, {14, 14, 14, 14}}; return true;
    case vokRateAmrWb1985: case vokRateAmrWbPlus72: l = {{5, 5, 4, 4}, {10, 10, 14, 14}}; return true;
    case vokRateAmrWb2305: case vokRateAmrWb2385: case 22: l = {{6, 6, 6, 6}, {11, 11, 11, 11}}; return true;
    default: return false;
  }
}

void trackPulses(int32_t idx, int count, Pulses& p) {
  switch (count) {
    case 1: onePulse(idx, 4, 0, p); break;
    case 2: twoPulses(idx, 4, 0, p); break;
    case 3: threePulses(idx, 4, 0, p); break;
    case 4: fourPulses(idx, 4, 0, p); break;
    case 5: fivePulses(idx, 4, 0, p); break;
    default: sixPulses(idx, 4, 0, p); break;
  }
}

}  // namespace
}  // namespace voksc::amrwb

using namespace voksc::amrwb;

VOKSC_EXPORT VokResult voksAdaptiveCodebookDecodeGetSize_AMRWB_16s(int* pSize) {
  if (!pSize) return vokErrNullPtr;
  *pSize = static_cast<int>(sizeof(AdaptiveCodebookDecodeState_AMRWB_16s));
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookDecodeInit_AMRWB_16s(AdaptiveCodebookDecodeState_AMRWB_16s* pState) {
  if (!pState) return vokErrNullPtr;
  AdaptiveCodebookDecodeState_AMRWB_16s s{};
  s.seed = 21845;
  for (int16_t& l : s.lags) l = 64;
  s.lastLag = 64;
  std::memcpy(pState, &s, sizeof s);
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookDecodeUpdate_AMRWB_16s(Vok16s gainPit, Vok16s lag,
                                                                  AdaptiveCodebookDecodeState_AMRWB_16s* pState) {
  if (!pState) return vokErrNullPtr;
  AdaptiveCodebookDecodeState_AMRWB_16s s;
  std::memcpy(&s, pState, sizeof s);
  std::memmove(s.gains, s.gains + 1, 4 * sizeof(int16_t));
  s.gains[4] = gainPit;
  std::memmove(s.lags + 1, s.lags, 4 * sizeof(int16_t));
  s.lags[0] = lag;
  s.lastLag = lag;
  std::memcpy(pState, &s, sizeof s);
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookDecode_AMRWB_16s(Vok32s index, Vok16s* fracOut, Vok16s* excitation,
                                                            Vok16s* lagOut, Vok16s* lagWindow, int subframe, int bfi,
                                                            int unusableFrame, VokRateCode rateCode,
                                                            AdaptiveCodebookDecodeState_AMRWB_16s* pState) {
  if (anyNull(fracOut, excitation, lagOut, lagWindow, pState)) return vokErrNullPtr;
  if (static_cast<unsigned>(subframe) > 3) return vokErrSize;
  const int cls = lagClass(rateCode);
  if (cls == 0) return vokErrRange;
  const LagGrid& g = cls == 1 ? kCoarseGrid : kFineGrid;
  // 6.60 kbit/s (and its SID code) codes only subframe 0 absolutely.
  const bool absolute = subframe == 0 || (subframe == 2 && rateCode != vokRateAmrWb660 && rateCode != vokRateSid);
  if (index < 0 || index >= (Vok32s{1} << indexBits(g, absolute))) return vokErrIndex;
  if (!absolute && (lagWindow[0] < g.minLag || lagWindow[0] > g.maxLag - 15)) return vokErrRange;
  AdaptiveCodebookDecodeState_AMRWB_16s s;
  std::memcpy(&s, pState, sizeof s);
  if (bfi)
    for (int16_t l : s.lags)
      if (l < g.minLag || l > g.maxLag) return vokErrRange;
  int16_t window[2] = {lagWindow[0], lagWindow[1]};
  int lag = 0, frac = 0;
  decodeLag(g, absolute, static_cast<int>(index), window, lag, frac);
  if (bfi) {
    lag = concealLag(s, static_cast<int16_t>(lag), unusableFrame != 0);
    frac = 0;
    std::memcpy(pState, &s, sizeof s);
  }
  interpolate(excitation, lag, frac);
  lagWindow[0] = window[0];
  lagWindow[1] = window[1];
  *lagOut = static_cast<Vok16s>(lag);
  *fracOut = static_cast<Vok16s>(frac);
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookDecode_AMRWBE_16s(Vok32s index, Vok16s* excitation, Vok16s* lagOut,
                                                             Vok16s* fracOut, Vok16s* lagWindow, int subframe, int bfi,
                                                             Vok16s lagOffset) {
  if (anyNull(excitation, lagOut, fracOut, lagWindow)) return vokErrNullPtr;
  if (static_cast<unsigned>(subframe) > 3) return vokErrSize;
  if (lagOffset < -17 || lagOffset > 17) return vokErrRange;
  const LagGrid g = gridWithOffset(lagOffset);
  const bool absolute = subframe == 0 || subframe == 2;
  int16_t window[2] = {lagWindow[0], lagWindow[1]};
  int lag = 0, frac = 0;
  if (bfi) {
    // Concealment continues the last lag a quarter sample further.
    if (*lagOut < g.minLag || *lagOut > g.maxLag || *fracOut < 0 || *fracOut > 3) return vokErrRange;
    lag = *lagOut;
    frac = *fracOut + 1;
    if (frac == 4) {
      frac = 0;
      ++lag;
    }
    if (lag >= g.maxLag) lag = g.maxLag - 5;
  } else {
    if (index < 0 || index >= (Vok32s{1} << indexBits(g, absolute))) return vokErrIndex;
    if (!absolute && (window[0] < g.minLag || window[0] > g.maxLag - 15)) return vokErrRange;
    decodeLag(g, absolute, static_cast<int>(index), window, lag, frac);
  }
  interpolate(excitation, lag, frac);
  lagWindow[0] = window[0];
  lagWindow[1] = window[1];
  *lagOut = static_cast<Vok16s>(lag);
  *fracOut = static_cast<Vok16s>(frac);
  return vokOk;
}

VOKSC_EXPORT VokResult voksAlgebraicCodebookDecode_AMRWB_16s(const Vok16s* indices, Vok16s* fixedVectorOut,
                                                             VokRateCode rateCode) {
  if (anyNull(indices, fixedVectorOut)) return vokErrNullPtr;
  int16_t code[kSub] = {};
  if (rateCode == vokRateAmrWb660 || rateCode == vokRateSid) {
    // Two tracks of 32 positions: even (bits 6..10) and odd (bits 0..4),
    // each with its sign bit above.
    const int w = indices[0];
    code[(w >> 5) & 0x3E] = ((w >> 6) & 32) ? -512 : 512;
    code[((w & 31) << 1) + 1] = (w & 32) ? -512 : 512;
  } else {
    CodeLayout l;
    if (!codeLayout(rateCode, l)) return vokErrRange;
    for (int t = 0; t < 4; ++t) {
      const int32_t idx = l.lowBits[t] ? int32_t{indices[t]} * (1 << l.lowBits[t]) + indices[t + 4] : indices[t];
      Pulses p;
      trackPulses(idx, l.pulses[t], p);
      for (int k = 0; k < p.count; ++k) {
        const int at = ((p.code[k] & 15) << 2) + t;
        code[at] = (p.code[k] & 16) ? sub(code[at], 512) : add(code[at], 512);
      }
    }
  }
  std::memcpy(fixedVectorOut, code, sizeof code);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecodeGain_AMRWB_16s(Vok16s index, Vok16s innovScale, Vok16s* pitchGainOut,
                                                Vok32s* codeGainOut, int bfi, int prevBfi, Vok16s* pastEnergies,
                                                Vok16s* prevCodeGain, Vok16s* codeGain16, VokRateCode rateCode) {
  if (anyNull(pitchGainOut, codeGainOut, pastEnergies, prevCodeGain, codeGain16)) return vokErrNullPtr;
  const int cls = lagClass(rateCode);
  if (cls == 0) return vokErrRange;
  const int entries = cls == 1 ? 64 : 128;
  if (!bfi && (index < 0 || index >= entries)) return vokErrIndex;
  Word16 energy;
  if (bfi) {
    // The predictor memory decays: mean of the four, 3 dB lower, not below -14 dB.
    Word32 acc = 0;
    for (int i = 0; i < 4; ++i) acc = L_mac(acc, pastEnergies[i], 8192);
    energy = sub(extract_h(acc), 3072);
    if (energy < -14336) energy = -14336;
    *codeGainOut = L_mult(*codeGain16, innovScale);
  } else {
    // Predicted gain 10^(E/20) with E = 30 dB + the MA prediction (Q24 -> Q8).
    Word32 acc = L_shl(L_deposit_h(30), 8);
    for (int i = 0; i < 4; ++i) acc = L_mac(acc, kEnergyPredictor[i], pastEnergies[i]);
    Word16 exponent, fraction;
    L_Extract(L_shr(L_mult(extract_h(acc), 5443), 8), exponent, fraction);
    const Word16 predicted = extract_l(voksc::vokPow2(14, fraction));
    exponent = sub(exponent, 14);
    const int16_t* pair = (cls == 1 ? kGainTable6 : kGainTable7) + 2 * index;
    const Word16 factor = pair[1];
    Word32 gain = L_shl(L_mult(factor, predicted), add(exponent, 4));
    if (prevBfi == 1) {
      const Word32 limit = L_mult(*prevCodeGain, 5120);  // 1.25 x the last good gain
      if (gain > limit && gain > 6553600) gain = limit;
    }
    const Word16 gainQ3 = round_fx(L_shl(gain, 3));
    Word16 hi, lo;
    L_Extract(gain, hi, lo);
    *codeGainOut = L_shl(voksc::vokMpy32x16(hi, lo, innovScale), 3);
    *pitchGainOut = pair[0];
    *prevCodeGain = gainQ3;
    *codeGain16 = gainQ3;
    // 20 log10 of the factor in Q10: log2(factor Q11) - 11, times 6.0206.
    voksc::vokLog2(L_deposit_l(factor), &exponent, &fraction);
    energy = extract_l(L_shr(voksc::vokMpy32x16(sub(exponent, 11), fraction, 24660), 3));
  }
  std::memmove(pastEnergies + 1, pastEnergies, 3 * sizeof(Vok16s));
  pastEnergies[0] = energy;
  return vokOk;
}
