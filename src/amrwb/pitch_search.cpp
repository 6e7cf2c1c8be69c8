// AMR-WB pitch analysis of the encoder: the open-loop lag of a half-frame
// of decimated weighted speech with its median and tone memories, the
// closed-loop fractional adaptive-codebook search with its lag coding and
// the interpolated adaptive vector, and the adaptive-codebook gain.
#include <cstdint>
#include <cstring>

#include "common/basic_op.h"
#include "common/kernels.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "excitation_internal.h"
#include "excitation_tables.h"
#include "filter_kernels.h"
#include "voksc.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amrwb {
namespace {

// A chain started at 1, normalised: mantissa (upper half of the shifted
// sum) and exponent 30 - shift.
struct Norm {
  Word16 mant, exp;
};
Norm normalised(Word32 sum) {
  const Normalised n = normalise(sum);
  return {extract_h(n.value), n.exp};
}

// ---- open-loop lag --------------------------------------------------------

constexpr int kWeightCentre = 98, kWeightLast = 198;

struct OpenLoopMemory {
  int16_t* median;
  int16_t* weight;
  int16_t* tone;
  int16_t* lagHistory;
  int16_t* weightFlag;
};

// Median of five by partial sorting: the smallest two are moved out, the
// middle one of the remaining three is kept.
int16_t median5(const int16_t* v) {
  int16_t s[5] = {v[0], v[1], v[2], v[3], v[4]};
  for (int i = 0; i < 3; ++i)
    for (int j = i + 1; j < 5; ++j)
      if (s[j] < s[i]) {
        const int16_t t = s[i];
        s[i] = s[j];
        s[j] = t;
      }
  return s[2];
}

// Weighted lag search over minLag+1 .. maxLag (the shortest of equal
// weighted correlations wins: the scan runs downwards and an equal value
// replaces).  Every correlation is weighted by the lag's weight (the
// table's end for the longest lag, one step towards its start per lag
// shorter) and, when the median memory is active, by the weight of its
// distance from the median lag (table centre at distance 0; distances
// beyond the table take its end values).
int searchWeightedLag(const int16_t* x, int len, int minLag, int maxLag, int median, bool useMedian) {
  const int count = maxLag - minLag;
  int64_t corr[kWeightLast + 1];
  kern::xcorr(x, x - maxLag, len, count, corr);  // corr[k]: lag maxLag - k
  const int64_t ex = kern::dot(x, x, len);
  int64_t ew = kern::dot(x - maxLag, x - maxLag, len);
  Word32 best = kMin32;
  int lag = 0;
  for (int k = 0; k < count; ++k) {
    const int t = maxLag - k;
    if (k > 0) {  // the delayed window moves one sample forward
      const int16_t in = x[len - 1 - t], out = x[-t - 1];
      ew += int64_t{in} * in - int64_t{out} * out;
    }
    Word32 r = boundedPair(ex, ew) ? static_cast<Word32>(2 * corr[k]) : macChain(0, x, x - t, len);
    r = vokMpy32x16(vokSplit(r), kLagWeight[kWeightLast - k]);
    if (useMedian) {
      int w = kWeightCentre + t - median;
      w = w < 0 ? 0 : (w > kWeightLast ? kWeightLast : w);
      r = vokMpy32x16(vokSplit(r), kLagWeight[w]);
    }
    if (r >= best) {
      best = r;
      lag = t;
    }
  }
  return lag;
}

// Normalised correlation of the high-passed signal at lag t, Q15:
// xy / sqrt(xx yy), each sum normalised and the product of the energies'
// mantissas normalised again before the inverse root.
Word16 normalisedGain(const int16_t* h, int len, int t) {
  const int64_t ec = kern::dot(h, h, len), ed = kern::dot(h - t, h - t, len);
  Word32 xy = crossChain(0, h, h - t, len, ec, ed);
  Word32 dd = kern::sat32(1 + 2 * ed), cc = kern::sat32(1 + 2 * ec);
  const Word16 sxy = norm_l(xy), sdd = norm_l(dd), scc = norm_l(cc);
  xy = L_shl(xy, sxy);
  dd = L_shl(dd, sdd);
  cc = L_shl(cc, scc);
  Word32 prod = L_mult(round_fx(dd), round_fx(cc));
  const Word16 sp = norm_l(prod);
  prod = L_shl(prod, sp);
  Word16 e = sub(62, add(add(sdd, scc), sp));
  vokInvSqrtNorm(prod, e);
  const Word32 g = L_mult(round_fx(xy), round_fx(prod));
  return round_fx(L_shl(g, add(sub(31, sxy), e)));
}

void openLoop(const int16_t* wsp, const int16_t* hp, int len, int minLag, int maxLag, const OpenLoopMemory& m,
              int16_t* lagOut, int16_t* gainOut) {
  const int lag = searchWeightedLag(wsp, len, minLag, maxLag, *m.median, *m.median > 0 && *m.weightFlag > 0);
  const Word16 g = normalisedGain(hp, len, lag);
  if (g > 19661) {  // voiced (0.6): the lag enters the median history
    for (int i = 4; i > 0; --i) m.lagHistory[i] = m.lagHistory[i - 1];
    m.lagHistory[0] = static_cast<int16_t>(lag);
    *m.median = median5(m.lagHistory);
    *m.weight = 32767;
  } else {
    *m.weight = mult(*m.weight, 29491);  // 0.9 per unvoiced half-frame
  }
  *m.weightFlag = *m.weight < 26214 ? 0 : 1;
  *m.tone = static_cast<int16_t>(shr(*m.tone, 1) | (g > 21298 ? 0x4000 : 0));  // tone above 0.65
  *gainOut = g;
  *lagOut = static_cast<int16_t>(2 * lag);
}

VokResult openLoopChecked(const int16_t* wsp, const int16_t* hp, int16_t* median, int16_t* weight, int16_t* lagOut,
                          int16_t* tone, int16_t* gainOut, int16_t* hist, int16_t* flag, int len, int minLag,
                          int maxLag) {
  if (anyNull(wsp, hp, median, weight, lagOut, tone, gainOut, hist, flag)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (minLag < 0 || maxLag <= minLag || maxLag - minLag > kWeightLast + 1) return vokErrRange;
  openLoop(wsp, hp, len, minLag, maxLag, OpenLoopMemory{median, weight, tone, hist, flag}, lagOut, gainOut);
  return vokOk;
}

// ---- closed-loop adaptive codebook ----------------------------------------

constexpr int kSub = 64;

// Lag constants of a mode: minimum and maximum lag, the lags from which
// absolute subframes drop to 1/2 and to integer resolution, and whether the
// 8-bit absolute lag (1/2 resolution at most) is used.
struct LagPlan {
  int minLag, maxLag, halfFrom, wholeFrom;
  bool eightBit;
};

bool isAmrWbCode(VokRateCode r) {
  switch (r) {
    case vokRateAmrWb660: case vokRateAmrWb885: case vokRateAmrWb1265: case vokRateAmrWb1425:
    case vokRateAmrWb1585: case vokRateAmrWb1825: case vokRateAmrWb1985: case vokRateAmrWb2305:
    case vokRateAmrWb2385: case vokRateSid:
      return true;
    default:
      return false;
  }
}
bool isCoreCode(VokRateCode r) { return isAmrWbCode(r) || r == vokRate24000 || (r >= vokRateAmrWbPlus20 && r <= vokRateAmrWbPlus72); }
bool sixSixLike(VokRateCode r) { return r == vokRateAmrWb660 || r == vokRateSid; }

LagPlan lagPlan(VokRateCode r, int k) {
  if (sixSixLike(r) || r == vokRateAmrWb885) return {34, 231, 34, 92, true};
  return {34 + k, 231 + 6 * k, 128 - k, 160, false};
}

// The 16-lag window around a lag, kept inside the mode's range.
void windowAround(int t, const LagPlan& p, int16_t* window) {
  int lo = t - 8 < p.minLag ? p.minLag : t - 8;
  int hi = lo + 15;
  if (hi > p.maxLag) {
    hi = p.maxLag;
    lo = hi - 15;
  }
  window[0] = static_cast<int16_t>(lo);
  window[1] = static_cast<int16_t>(hi);
}

// y[n] = round(saturating chain of 2 x[i] h[n - i], i = 0..n), n = 0..63.
// When the two energies bound every partial sum (Cauchy-Schwarz) the exact
// convolution is the chain.
void convolveRounded(const int16_t* x, const int16_t* h, int16_t* y) {
  if (boundedPair(kern::dot(x, x, kSub), kern::dot(h, h, kSub))) {
    int64_t full[kSub];
    kern::convPartial(x, h, 0, kSub, full);
    for (int n = 0; n < kSub; ++n) y[n] = round_fx(static_cast<Word32>(2 * full[n]));
    return;
  }
  for (int n = 0; n < kSub; ++n) {
    Word32 s = 0;
    for (int i = 0; i <= n; ++i) s = L_mac(s, x[i], h[n - i]);
    y[n] = round_fx(s);
  }
}

// Normalised correlation of the target with the past excitation filtered
// by h at every lag tLo..tHi (Q15, out[t - tLo]): the correlation's
// mantissa times the inverse root of the filtered energy, scaled by the
// target energy's half exponent.  The filtered excitation of the next lag
// follows from this one by one sample of recursion (saturating sums of
// truncated products), as the codec updates it.
void normalisedCorrelations(const int16_t* exc, const int16_t* x, const int16_t* h, int tLo, int tHi, int16_t* out) {
  int16_t buf[2][kSub];
  int16_t* f = buf[0];
  convolveRounded(exc - tLo, h, f);
  const int64_t ex = kern::dot(x, x, kSub);
  int64_t ef = kern::dot(f, f, kSub), xf = kern::dot(x, f, kSub);
  const Word16 targetExp = static_cast<Word16>(30 - norm_l(kern::sat32(1 + 2 * ex)) + 2);
  const Word16 scale = negate(shr(targetExp, 1));
  for (int t = tLo; t <= tHi; ++t) {
    const Word32 c = boundedPair(ex, ef) ? static_cast<Word32>(1 + 2 * xf) : macChain(1, x, f, kSub);
    const Word16 sc = norm_l(c);
    const Word16 corrExp = static_cast<Word16>(30 - sc);
    Word32 e = kern::sat32(1 + 2 * ef);
    const Word16 se = norm_l(e);
    e = L_shl(e, se);
    Word16 energyExp = static_cast<Word16>(30 - se);
    vokInvSqrtNorm(e, energyExp);
    const Word32 v = L_mult(extract_h(L_shl(c, sc)), extract_h(e));
    out[t - tLo] = round_fx(L_shl(v, add(add(corrExp, energyExp), scale)));
    if (t == tHi) break;
    int16_t* g = f == buf[0] ? buf[1] : buf[0];
    filteredStep(exc[-t - 1], h, f, x, g, &ef, &xf);
    f = g;
  }
}

// The correlation at lag t + frac/4 from the 8 neighbouring integer lags
// (c points at lag t): saturating chain, doubled with saturation, rounded.
Word16 interpolateCorrelation(const int16_t* c, int frac) {
  if (frac < 0) {
    frac += 4;
    --c;
  }
  Word32 s = 0;
  for (int i = 0; i < 8; ++i) s = L_mac(s, c[i - 3], kCorrInterp[3 - frac + 4 * i]);
  return round_fx(L_shl(s, 1));
}

// The adaptive vector at delay t + frac/4 into exc[0..n-1], in order of n
// so that short delays repeat the samples just written: 32-tap
// interpolation of the excitation, saturating chain, doubled, rounded.  A
// positive fraction reads one sample further back with phase 4 - frac.
void interpolateExcitation(int16_t* exc, int t, int frac, int n) {
  int start = -t - 15, phase = 3;
  if (frac > 0) {
    start -= 1;
    phase = 3 - (4 - frac);
  }
  int16_t taps[32];
  for (int i = 0; i < 32; ++i) taps[i] = kExcInterp[phase + 4 * i];
  interpolate32(exc, -start, taps, n);
}

struct LagResult {
  int lag, frac, index;
};

// One subframe's search, given the window [lo, hi] and whether the
// subframe codes its lag absolutely.
LagResult searchLag(const int16_t* exc, const int16_t* x, const int16_t* h, int lo, int hi, bool absolute,
                    const LagPlan& p) {
  int16_t corr[32];  // window of at most 16 lags and 4 on each side
  const int base = lo - 4;
  normalisedCorrelations(exc, x, h, base, hi + 4, corr);
  // corr[t - base]: lags lo - 4 .. hi + 4
  int t = lo;
  for (int i = lo + 1; i <= hi; ++i)
    if (corr[i - base] >= corr[t - base]) t = i;
  int frac = 0;
  if (!(absolute && t >= p.wholeFrom)) {
    // 1/4 resolution, or 1/2 where the mode or the lag range asks for it;
    // no fraction below the window's first lag.
    const bool half = (absolute && t >= p.halfFrom) || p.halfFrom == 34;
    const int step = half ? 2 : 1;
    frac = t == lo ? 0 : (half ? -2 : -3);
    const int16_t* around = corr + (t - base);
    Word16 best = interpolateCorrelation(around, frac);
    for (int f = frac + step; f <= 3; f += step) {
      const Word16 v = interpolateCorrelation(around, f);
      if (v > best) {
        best = v;
        frac = f;
      }
    }
    if (frac < 0) {
      frac += 4;
      --t;
    }
  }
  int index;
  if (!absolute) {
    index = p.eightBit ? 2 * (t - lo) + frac / 2 : 4 * (t - lo) + frac;
  } else if (p.eightBit) {
    index = t < p.wholeFrom ? 2 * (t - p.minLag) + frac / 2 : 2 * (p.wholeFrom - p.minLag) + (t - p.wholeFrom);
  } else {
    const int quarterSpan = 4 * (p.halfFrom - p.minLag), halfSpan = 2 * (p.wholeFrom - p.halfFrom);
    if (t < p.halfFrom)
      index = 4 * (t - p.minLag) + frac;
    else if (t < p.wholeFrom)
      index = quarterSpan + 2 * (t - p.halfFrom) + frac / 2;
    else
      index = quarterSpan + halfSpan + (t - p.wholeFrom);
  }
  return {t, frac, index};
}

VokResult adaptiveSearch(const int16_t* x, const int16_t* h, const int16_t* olLags, int16_t* lagOut, int16_t* window,
                         int16_t* exc, int16_t* fracOut, int16_t* indexOut, int subframe, VokRateCode rate, int k) {
  if (anyNull(x, h, olLags, lagOut, window, exc, fracOut, indexOut)) return vokErrNullPtr;
  if (static_cast<unsigned>(subframe) > 3) return vokErrSize;
  if (k < -17 || k > 17 || !isCoreCode(rate)) return vokErrRange;
  const LagPlan p = lagPlan(rate, k);
  const bool absolute = subframe == 0 || (subframe == 2 && !sixSixLike(rate));
  int16_t w[2] = {window[0], window[1]};
  if (absolute) {
    windowAround(olLags[subframe / 2], p, w);
  } else if (w[0] < p.minLag || w[1] > p.maxLag || w[1] < w[0] || w[1] - w[0] > 15) {
    return vokErrRange;  // a window no subframe before could have left
  }
  const LagResult r = searchLag(exc, x, h, w[0], w[1], absolute, p);
  if (absolute) windowAround(r.lag, p, w);
  interpolateExcitation(exc, r.lag, r.frac, kSub + 1);
  *lagOut = static_cast<int16_t>(r.lag);
  *fracOut = static_cast<int16_t>(r.frac);
  *indexOut = static_cast<int16_t>(r.index);
  window[0] = w[0];
  window[1] = w[1];
  return vokOk;
}

// ---- adaptive-codebook gain ----------------------------------------------

Word16 pitchGain(const int16_t* x, const int16_t* y, int len, int16_t* coeff) {
  const int64_t ey = kern::dot(y, y, len);
  const Norm yy = normalised(kern::sat32(1 + 2 * ey));
  const Norm xy = normalised(crossChain(1, x, y, len, kern::dot(x, x, len), ey));
  coeff[0] = yy.mant;
  coeff[1] = yy.exp;
  coeff[2] = xy.mant;
  coeff[3] = xy.exp;
  if (xy.mant < 0) return 0;
  // xy/2 < yy (both mantissas normalised): the quotient is Q15 below 1,
  // moved to Q14 by the exponent difference with saturation.
  const Word16 g = shl(div_s(shr(xy.mant, 1), yy.mant), sub(xy.exp, yy.exp));
  return g > 19661 ? 19661 : g;
}

}  // namespace
}  // namespace voksc::amrwb

using namespace voksc::amrwb;

VOKSC_EXPORT VokResult voksOpenLoopPitchSearch_AMRWB_16s(const Vok16s* weightedSpeech, const Vok16s* highPassedWsp,
                                                         Vok16s* medianLag, Vok16s* adaptiveWeight, Vok16s* lagOut,
                                                         Vok16s* toneFlag, Vok16s* gainOut, Vok16s* lagHistory,
                                                         Vok16s* weightFlag, int len) {
  return openLoopChecked(weightedSpeech, highPassedWsp, medianLag, adaptiveWeight, lagOut, toneFlag, gainOut,
                         lagHistory, weightFlag, len, 17, 115);
}

VOKSC_EXPORT VokResult voksOpenLoopPitchSearch_AMRWBE_16s(const Vok16s* weightedSpeech, const Vok16s* highPassedWsp,
                                                          Vok16s* medianLag, Vok16s* adaptiveWeight, Vok16s* lagOut,
                                                          Vok16s* toneFlag, Vok16s* gainOut, Vok16s* lagHistory,
                                                          Vok16s* weightFlag, int len, Vok16s minLag, Vok16s maxLag) {
  return openLoopChecked(weightedSpeech, highPassedWsp, medianLag, adaptiveWeight, lagOut, toneFlag, gainOut,
                         lagHistory, weightFlag, len, minLag, maxLag);
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookSearch_AMRWB_16s(const Vok16s* target, const Vok16s* impulseResponse,
                                                            const Vok16s* openLoopLags, Vok16s* lagOut,
                                                            Vok16s* lagWindow, Vok16s* excitation, Vok16s* fracOut,
                                                            Vok16s* indexOut, int subframe, VokRateCode rateCode) {
  return adaptiveSearch(target, impulseResponse, openLoopLags, lagOut, lagWindow, excitation, fracOut, indexOut,
                        subframe, rateCode, 0);
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookSearch_AMRWBE_16s(const Vok16s* target, const Vok16s* impulseResponse,
                                                             const Vok16s* openLoopLags, Vok16s* lagOut,
                                                             Vok16s* lagWindow, Vok16s* excitation, Vok16s* fracOut,
                                                             Vok16s* indexOut, int subframe, VokRateCode rateCode,
                                                             Vok16s lagOffset) {
  return adaptiveSearch(target, impulseResponse, openLoopLags, lagOut, lagWindow, excitation, fracOut, indexOut,
                        subframe, rateCode, lagOffset);
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookGainCoeff_AMRWB_16s(const Vok16s* target, const Vok16s* filteredAdaptive,
                                                               Vok16s* gainCoeffsOut, Vok16s* gainOut, int len) {
  if (anyNull(target, filteredAdaptive, gainCoeffsOut, gainOut)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  *gainOut = pitchGain(target, filteredAdaptive, len, gainCoeffsOut);
  return vokOk;
}
