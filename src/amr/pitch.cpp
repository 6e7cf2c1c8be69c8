// GSM-AMR pitch analysis: weighted speech and the open-loop lag estimators
// (plain, with the first detector's tone and complex-signal measures, with
// the second detector's correlation sums), the fractional closed-loop search
// with its lag coding, the lag decoder with bad-frame rules, the pitch gain
// and the subframe impulse response and target.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "amr_internal.h"
#include "common/basic_op.h"
#include "common/kernels.h"
#include "common/math_ops.h"
#include "core/cpu.h"
#include "core/status.h"
#include "g729/filt_internal.h"
#include "pitch_tables.h"

#if defined(VOKSC_X86)
#include <immintrin.h>
#endif

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amr {

namespace {

constexpr int kLagMax = 143;
constexpr int kExcOffset = 154;  // subframe position in the caller's excitation buffer
constexpr int16_t kToneThreshold = 21298;
constexpr int16_t kSectionPreference = 27853;  // a shorter-lag section wins above 0.85 of the longer

// Per-mode parameters of the closed-loop search.
struct LagParams {
  int16_t maxFracLag, thirds, firstFrac, lastFrac, intLow, intRange, fracLow, fracRange, lagMin;
};
const LagParams kLagParams[8] = {
    {84, 1, -2, 2, 5, 10, 5, 9, 20}, {84, 1, -2, 2, 5, 10, 5, 9, 20}, {84, 1, -2, 2, 3, 6, 5, 9, 20},
    {84, 1, -2, 2, 3, 6, 5, 9, 20},  {84, 1, -2, 2, 3, 6, 5, 9, 20},  {84, 1, -2, 2, 3, 6, 10, 19, 20},
    {84, 1, -2, 2, 3, 6, 5, 9, 20},  {94, 0, -3, 3, 3, 6, 5, 9, 18}};

int64_t dot(const int16_t* a, const int16_t* b, int n) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) s += int32_t{a[i]} * b[i];
  return s;
}
int32_t sat(int64_t v) { return v > kMax32 ? kMax32 : (v < kMin32 ? kMin32 : static_cast<int32_t>(v)); }

// The saturating L_mac chain sum of a[i] b[i]: exact unless a partial sum
// leaves 32 bits, when the chain itself is run.  (A loud block scaled down
// by 8 can still saturate its correlations.)
int32_t macSum(const int16_t* a, const int16_t* b, int n) {
  MacChain c;
  for (int i = 0; i < n; ++i) c.mac(a[i], b[i]);
  if (!c.spilled()) return c.value();
  int32_t s = 0;
  for (int i = 0; i < n; ++i) s = L_mac(s, a[i], b[i]);
  return s;
}

// The L_mac chain of x[i] x[i]: its terms are non-negative (L_mult of
// -32768 by itself gives 2^31 - 1), so it saturates exactly when the exact
// doubled sum passes 2^31 - 1 and then stays there.
int32_t energySum(const int16_t* x, int n) {
  const int64_t e = 2 * kern::dot(x, x, n);
  return e > kMax32 ? kMax32 : static_cast<int32_t>(e);
}

// What the detectors take from an open-loop search.
enum class Detector { kNone, kTone, kCorrelation };
struct DetectorOut {
  int16_t* toneReg = nullptr;
  int16_t corrHp = 0;
  int32_t rMax = 0, r0 = 0;
};

void toneTest(int16_t* toneReg, int32_t corr, int32_t energy) {
  const int16_t e = round_fx(energy);
  if (e > 0 && L_msu(corr, e, kToneThreshold) > 0) *toneReg = static_cast<int16_t>(*toneReg | 0x4000);
}

// The open-loop signal scaled to a comfortable range: down by 8 when its
// doubled energy saturates, up by 8 when it is below 2^20.  Returns the
// shift applied (3 down, -3 up, 0).
int scaleForSearch(const int16_t* x, int n, int16_t* y) {
  const int64_t e = 2 * dot(x, x, n);
  const int shift = e >= kMax32 ? 3 : (e < 1048576 ? -3 : 0);
  for (int i = 0; i < n; ++i) y[i] = shift == 3 ? static_cast<int16_t>(x[i] >> 3) : shl(x[i], static_cast<int16_t>(-shift));
  return shift;
}

// High-pass normalised correlation of the first detector: the largest
// second difference of the correlation over the lags against the first
// difference energy of the signal.
int16_t highPassCorrelation(const int32_t* corr, const int16_t* s, int len, int lagMin, int lagMax) {
  int32_t peak = kMin32;
  for (int t = lagMax - 1; t > lagMin; --t) {
    const int32_t d = L_abs(L_sub(L_sub(L_shl(corr[t], 1), corr[t + 1]), corr[t - 1]));
    if (d >= peak) peak = d;
  }
  const int32_t e0 = macSum(s, s, len), e1 = macSum(s, s - 1, len);
  const int32_t diff = L_abs(L_sub(L_shl(e0, 1), L_shl(e1, 1)));
  const int16_t s1 = static_cast<int16_t>(norm_l(peak) - 1), s2 = norm_l(diff);
  const int16_t num = extract_h(L_shl(peak, s1)), den = extract_h(L_shl(diff, s2));
  const int16_t ratio = den != 0 ? div_s(num, den) : 0;
  const int16_t shift = static_cast<int16_t>(s1 - s2);
  return shift >= 0 ? shr(ratio, shift) : shl(ratio, static_cast<int16_t>(-shift));
}

// One open-loop search over len samples at s (s[-143..len-1] readable).
// idxLast marks the search after which the complex-signal measure is taken.
struct WeightState {
  int16_t* median;
  int16_t* weight;
  int16_t* lagHist;
};
int openLoopSearch(const int16_t* sig, int len, int mode, Detector det, DetectorOut& out, bool idxLast,
                   WeightState* wgt, int16_t* gainFlag) {
  int16_t buf[kLagMax + kFrame];
  int16_t* s = buf + kLagMax;
  const int scale = scaleForSearch(sig - kLagMax, kLagMax + len, buf);
  const int lagMin = mode == kMr122 ? 18 : 20;
  int32_t corr[kLagMax + 1];
  {
    // A lag whose two windows have energies Es, Ew with Es Ew < 2^60 keeps
    // every partial sum of its chain below 2^30 (Cauchy-Schwarz): the
    // doubled exact correlation is the saturating chain's value.  Other
    // lags run the chain.
    int64_t c[kLagMax + 1];
    kern::xcorr(s, buf, len, kLagMax - lagMin + 1, c);
    const int64_t es = kern::dot(s, s, len);
    int64_t ew = kern::dot(buf + kLagMax - lagMin, buf + kLagMax - lagMin, len);  // window of lag lagMin
    const int64_t ewLimit = es == 0 ? INT64_MAX : (int64_t{1} << 60) / es;
    for (int t = lagMin; t <= kLagMax; ++t) {
      if (t > lagMin) {  // slide the window one sample back
        const int16_t in = s[-t], out = s[len - t];
        ew += int64_t{in} * in - int64_t{out} * out;
      }
      const bool safe = ew < ewLimit;
      corr[t] = safe ? static_cast<int32_t>(2 * c[kLagMax - t]) : macSum(s, s - t, len);
    }
  }
  int best;
  if (mode == kMr102) {
    // One weighted search: a falling weight over the lags, and around the
    // median of the past lags while the adaptive weight stays high.
    const bool weighted = *wgt->weight >= 9830;
    const int16_t* ww = kLagWeight + 250;
    // The median lag places the weight window; a median no coder holds
    // (outside 16..143) is clamped to the table's ends.
    const int median = std::clamp<int>(*wgt->median, 16, kLagMax);
    const int16_t* we = kLagWeight + 123 + kLagMax - median;
    int32_t peak = kMin32;
    best = kLagMax;
    for (int t = kLagMax; t >= 20; --t) {
      int16_t hi, lo;
      L_Extract(corr[t], hi, lo);
      int32_t v = vokMpy32x16(hi, lo, *ww--);
      if (weighted) {
        L_Extract(v, hi, lo);
        v = vokMpy32x16(hi, lo, *we--);
      }
      if (v >= peak) {
        peak = v;
        best = t;
      }
    }
    const int32_t c = macSum(s, s - best, len), e = energySum(s - best, len);
    if (det == Detector::kTone) {
      *out.toneReg = shr(*out.toneReg, 1);
      toneTest(out.toneReg, c, e);
    } else if (det == Detector::kCorrelation) {
      out.rMax = L_add(out.rMax, c);
      out.r0 = L_add(out.r0, e);
    }
    *gainFlag = round_fx(L_msu(c, round_fx(e), 13107));
    if (*gainFlag > 0) {
      int16_t* h = wgt->lagHist;
      std::memmove(h + 1, h, 4 * sizeof(int16_t));
      h[0] = static_cast<int16_t>(best);
      // median of the five
      int16_t v[5];
      std::memcpy(v, h, sizeof v);
      for (int i = 1; i < 5; ++i)
        for (int j = i; j > 0 && v[j - 1] > v[j]; --j) std::swap(v[j - 1], v[j]);
      *wgt->median = v[2];
      *wgt->weight = 32767;
    } else {
      *wgt->median = static_cast<int16_t>(best);
      *wgt->weight = mult(*wgt->weight, 29491);
    }
  } else {
    // Three lag sections, each with its normalised peak; a shorter section
    // replaces the longer when its peak exceeds 0.85 of it.
    const bool efr = mode == kMr122;
    int lag[3];
    int16_t peakNorm[3];
    int32_t secMax[3], secEnergy[3];
    const int bounds[4] = {kLagMax, 4 * lagMin - 1, 2 * lagMin - 1, lagMin - 1};
    for (int k = 0; k < 3; ++k) {
      const int hiLag = k == 0 ? kLagMax : bounds[k], loLag = bounds[k + 1] + 1;
      int32_t peak = kMin32;
      int at = hiLag;
      for (int t = hiLag; t >= loLag; --t)
        if (corr[t] >= peak) {
          peak = corr[t];
          at = t;
        }
      const int32_t energy = energySum(s - at, len);
      if (det == Detector::kTone) toneTest(out.toneReg, peak, energy);
      int32_t inv = vokInvSqrt(energy);
      if (efr) inv = L_shl(inv, 1);
      int16_t ph, pl, eh, el;
      L_Extract(peak, ph, pl);
      L_Extract(inv, eh, el);
      int32_t n = vokMpy32(ph, pl, eh, el);
      peakNorm[k] = efr ? extract_h(L_shl(L_shr(n, static_cast<int16_t>(scale)), 15)) : extract_l(n);
      lag[k] = at;
      secMax[k] = peak;
      secEnergy[k] = energy;
    }
    int pick = 0;
    int16_t top = peakNorm[0];
    if (mult(top, kSectionPreference) < peakNorm[1]) {
      pick = 1;
      top = peakNorm[1];
    }
    if (mult(top, kSectionPreference) < peakNorm[2]) pick = 2;
    best = lag[pick];
    if (det == Detector::kCorrelation) {
      out.rMax = L_add(out.rMax, secMax[pick]);
      out.r0 = L_add(out.r0, secEnergy[pick]);
    }
    *gainFlag = 0;
  }
  if (det == Detector::kTone && idxLast) out.corrHp = highPassCorrelation(corr, s, len, lagMin, kLagMax);
  return best;
}

// Weighted speech of the frame into wsp[143..302] after the 143 past
// weighted samples, and the history written back.
void weightedSpeech(const int16_t* ap1, const int16_t* ap2, const int16_t* speech, int16_t* wsp) {
  for (int sf = 0; sf < 4; ++sf) {
    int16_t* w = wsp + kLagMax + kSubframe * sf;
    lpResidual(ap1 + 11 * sf, speech + 10 + kSubframe * sf, w, kSubframe);
    lpSynthesis(ap2 + 11 * sf, w, w, kSubframe, w - 10, nullptr);
  }
}

VokResult openLoop(const int16_t* ap1, const int16_t* ap2, const int16_t* speech, int16_t* toneReg,
                   int16_t* median, int16_t* weight, int16_t* lagHist, int16_t* wspHist, int16_t* corrHp,
                   int32_t* rMax, int32_t* r0, int16_t* lags, int16_t* gainFlags, VokRateCode rate, Detector det) {
  const int mode = modeOfRate(rate, true);
  if (mode < 0) return vokErrRange;
  int16_t wsp[kLagMax + kFrame];
  std::memcpy(wsp, wspHist, kLagMax * sizeof(int16_t));
  weightedSpeech(ap1, ap2, speech, wsp);
  const int searchMode = mode == kModeSid ? kMr122 : mode;  // the comfort-noise frame searches as 12.2
  DetectorOut out;
  int16_t tone = toneReg ? *toneReg : 0;
  out.toneReg = &tone;
  int16_t med = *median, wt = *weight, hist[5];
  std::memcpy(hist, lagHist, sizeof hist);
  WeightState ws{&med, &wt, hist};
  int16_t lag[2], flags[2] = {0, 0};
  if (mode == kMr475 || mode == kMr515) {
    if (det == Detector::kTone) tone = static_cast<int16_t>(shr(shr(tone, 1), 1) | 0x2000);
    lag[0] = lag[1] = static_cast<int16_t>(openLoopSearch(wsp + kLagMax, kFrame, searchMode, det, out, true, &ws, &flags[0]));
    flags[0] = 0;
  } else {
    for (int half = 0; half < 2; ++half) {
      if (det == Detector::kTone && searchMode != kMr102) tone = shr(tone, 1);
      lag[half] = static_cast<int16_t>(openLoopSearch(wsp + kLagMax + 80 * half, 80, searchMode, det, out, half == 1,
                                                      &ws, &flags[half]));
    }
    if (searchMode != kMr102) flags[0] = flags[1] = 0;
  }
  if (det == Detector::kTone) {
    *toneReg = tone;
    *corrHp = out.corrHp;
  }
  if (det == Detector::kCorrelation) {
    *rMax = out.rMax;
    *r0 = out.r0;
  }
  *median = med;
  *weight = wt;
  std::memcpy(lagHist, hist, sizeof hist);
  std::memcpy(wspHist, wsp + kFrame, kLagMax * sizeof(int16_t));
  lags[0] = lag[0];
  lags[1] = lag[1];
  gainFlags[0] = flags[0];
  gainFlags[1] = flags[1];
  return vokOk;
}

// Correlation of the target with the past excitation filtered by h for
// every lag tMin..tMax, normalised by the filtered energy (Q15-ish as the
// codec forms it); the filtered excitation is updated from one lag to the
// next instead of being recomputed.
void normalisedCorrelation(const int16_t* exc, const int16_t* x, const int16_t* h, int tMin, int tMax, int16_t* out) {
  int16_t f[kSubframe];
  convolve40(exc - tMin, h, f);
  const bool loud = 2 * dot(f, f, kSubframe) > 67108864;
  const int16_t hShift = loud ? 1 : 3, down = loud ? 2 : 0;
  if (loud)
    for (auto& v : f) v = static_cast<int16_t>(v >> 2);
  const int64_t ex = dot(x, x, kSubframe);
  // Ex Ef below 2^60: no partial sum of the correlation chain can saturate.
  const int64_t efLimit = ex == 0 ? INT64_MAX : (int64_t{1} << 60) / ex;
  static const auto energyCorr = cpu::choose(energyCorr40_scalar, energyCorr40_avx2);
  for (int t = tMin; t <= tMax; ++t) {
    int16_t nh, nl, ch, cl;
    int64_t ef, xf;
    energyCorr(f, x, &ef, &xf);
    L_Extract(vokInvSqrt(sat(2 * ef)), nh, nl);
    int32_t cv;
    if (ef < efLimit) {
      cv = static_cast<int32_t>(2 * xf);
    } else {
      MacChain c;
      for (int j = 0; j < kSubframe; ++j) c.mac(x[j], f[j]);
      cv = c.value();
      if (c.spilled()) {
        cv = 0;
        for (int j = 0; j < kSubframe; ++j) cv = L_mac(cv, x[j], f[j]);
      }
    }
    L_Extract(cv, ch, cl);
    out[t - tMin] = extract_h(L_shl(vokMpy32(ch, cl, nh, nl), 16));
    if (t != tMax) {
      static const auto shift = cpu::choose(shiftFiltered_scalar, shiftFiltered_avx2);
      shift(exc[-t - 1], h, f, hShift, down);
    }
  }
}

// The normalised correlation interpolated at a fraction (thirds or sixths)
// around c[0].
int16_t interpolateCorrelation(const int16_t* c, int frac, bool thirds) {
  if (thirds) frac *= 2;
  if (frac < 0) {
    frac += 6;
    --c;
  }
  int32_t s = 0;
  for (int i = 0, k = 0; i < 4; ++i, k += 6) {
    s = L_mac(s, c[-i], kInterp6Corr[frac + k]);
    s = L_mac(s, c[1 + i], kInterp6Corr[6 - frac + k]);
  }
  return round_fx(s);
}

void searchRange(int centre, int low, int range, int lagMin, int& tMin, int& tMax) {
  tMin = centre - low;
  if (tMin < lagMin) tMin = lagMin;
  tMax = tMin + range;
  if (tMax > kLagMax) {
    tMax = kLagMax;
    tMin = tMax - range;
  }
}

// The last relative-lag anchor of the 4-bit codes: the previous lag kept
// inside [tMin + ..] so that the window of codes fits the range.
int clampAnchor(int prev, int tMin, int tMax) {
  int a = prev;
  if (a - tMin > 5) a = tMin + 5;
  if (tMax - a > 4) a = tMax - 4;
  return a;
}

}  // namespace

namespace {

int32_t absSum(const int16_t* a, int from) {
  int32_t s = 0;
  for (int k = from; k <= kOrder; ++k) s += a[k] < 0 ? -int32_t{a[k]} : a[k];
  return s;
}

int32_t peak(const int16_t* x, int n) {
  int32_t m = 0;
  for (int i = 0; i < n; ++i) m = std::max(m, x[i] < 0 ? -int32_t{x[i]} : int32_t{x[i]});
  return m;
}

}  // namespace

// Both filters run plain sums when sum |a_k| |x_k| stays below 2^30 for
// every output (then no partial sum of the doubled chain saturates), the
// saturating chain otherwise.  With a plain sum t the output
// round(sat32(16 t)) is sat16((t + 2^11) >> 12).
void residualPlain_scalar(const int16_t* a, const int16_t* x, int16_t* y, int len) {
  for (int n = 0; n < len; ++n) {
    int32_t t = 0;
    for (int k = 0; k <= kOrder; ++k) t += int32_t{a[k]} * x[n - k];
    y[n] = sat16((t + 0x800) >> 12);
  }
}

#if defined(VOKSC_X86)
VOKSC_TARGET_AVX2 void residualPlain_avx2(const int16_t* a, const int16_t* x, int16_t* y, int len) {
  int n = 0;
  for (; n + 8 <= len; n += 8) {
    __m256i t = _mm256_setzero_si256();
    for (int k = 0; k <= kOrder; ++k) {
      const __m256i v = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + n - k)));
      t = _mm256_add_epi32(t, _mm256_mullo_epi32(v, _mm256_set1_epi32(a[k])));
    }
    t = _mm256_srai_epi32(_mm256_add_epi32(t, _mm256_set1_epi32(0x800)), 12);
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(t, t), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + n), _mm256_castsi256_si128(packed));
  }
  residualPlain_scalar(a, x + n, y + n, len - n);
}
#else
void residualPlain_avx2(const int16_t* a, const int16_t* x, int16_t* y, int len) { residualPlain_scalar(a, x, y, len); }
#endif

void lpResidual(const int16_t* a, const int16_t* x, int16_t* y, int len) {
  if (int64_t{absSum(a, 0)} * peak(x - kOrder, len + kOrder) < (int64_t{1} << 30)) {
    static const auto plain = cpu::choose(residualPlain_scalar, residualPlain_avx2);
    plain(a, x, y, len);
    return;
  }
  for (int n = 0; n < len; ++n) {
    int32_t s = L_mult(x[n], a[0]);
    for (int k = 1; k <= kOrder; ++k) s = L_mac(s, a[k], x[n - k]);
    y[n] = round_fx(L_shl(s, 3));
  }
}

// The same operator chain as the G.729 all-pole filter, whose kernels run
// plain sums wherever a bound on the block or on each sample's history
// shows that no partial sum saturates.
void lpSynthesis(const int16_t* a, const int16_t* x, int16_t* y, int len, const int16_t* past, int16_t* pastOut) {
  int16_t mem[kOrder];
  std::memcpy(mem, past, sizeof mem);
  g729::synthesisFilter(a, kOrder, x, y, len, mem, pastOut != nullptr);
  if (pastOut) std::memcpy(pastOut, mem, sizeof mem);
}

// The filtered excitation one lag further: f[j] = add(extract_h(L_shl(L_mult(e, h[j]),
// hShift)), f[j - 1]) for j > 0 and f[0] = shr(e, down); the first term is
// sat16((e h[j]) >> (15 - hShift)).
void shiftFiltered_scalar(int16_t e, const int16_t* h, int16_t* f, int hShift, int down) {
  // From a copy of f, in increasing j with no branch, so the compiler may
  // run it in vector lanes.
  int16_t prev[kSubframe];
  std::memcpy(prev, f, sizeof prev);
  const int count = 15 - hShift;
  for (int j = 1; j < kSubframe; ++j) {
    const int32_t t = std::min(std::max((int32_t{e} * h[j]) >> count, int32_t{-32768}), int32_t{32767});
    f[j] = static_cast<int16_t>(std::min(std::max(t + prev[j - 1], int32_t{-32768}), int32_t{32767}));
  }
  f[0] = shr(e, static_cast<int16_t>(down));
}

// Energy of f and its correlation with x over a subframe, exact.
void energyCorr40_scalar(const int16_t* f, const int16_t* x, int64_t* energy, int64_t* corr) {
  *energy = dot(f, f, kSubframe);
  *corr = dot(x, f, kSubframe);
}

// The interpolation of the adaptive vector as one 20-tap filter on plain
// sums: y[n] = round(2 sum w[t] src[n + t], t = 0..19).  In blocks of 8 (the
// vector form) a block reads src up to 26 samples past its first output.
void interp20Plain_scalar(const int16_t* src, const int16_t* w, int16_t* y, int len) {
  for (int n = 0; n < len; ++n) {
    int32_t s = 0;
    for (int t = 0; t < 20; ++t) s += int32_t{w[t]} * src[n + t];
    y[n] = static_cast<int16_t>((2 * s + 0x8000) >> 16);
  }
}

// y[n] = extract_h(L_shl(2 sum x[i] h[n - i], 3)) = sat16(sum >> 12) on plain sums.
void convolvePlain_scalar(const int16_t* x, const int16_t* h, int16_t* y) {
  // Outer-product order (as the vector form; the sums are the same plain
  // sums in another order): forward reads, which the compiler runs in
  // vector lanes.
  int32_t acc[kSubframe] = {};
  for (int i = 0; i < kSubframe; ++i)
    for (int n = i; n < kSubframe; ++n) acc[n] += int32_t{x[i]} * h[n - i];
  for (int n = 0; n < kSubframe; ++n) y[n] = sat16(acc[n] >> 12);
}

#if defined(VOKSC_X86)
namespace {
VOKSC_TARGET_AVX2 inline __m256i load8(const int16_t* p) {
  return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
VOKSC_TARGET_AVX2 inline void store8(int16_t* p, __m256i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packs_epi32(v, v), 0x08)));
}
// sat16((e h[j]) >> count) for 16 taps, as words in order (packs
// interleaves groups of four lanes).
VOKSC_TARGET_AVX2 inline __m256i shiftedTerms16(__m256i ev, const int16_t* h, __m128i count) {
  const __m256i p = _mm256_sra_epi32(_mm256_mullo_epi32(ev, load8(h)), count);
  const __m256i q = _mm256_sra_epi32(_mm256_mullo_epi32(ev, load8(h + 8)), count);
  return _mm256_permute4x64_epi64(_mm256_packs_epi32(p, q), 0xD8);
}
}  // namespace

// f is read and written in the pieces energyCorr40_avx2 loads (words 0-15,
// 16-31, 32-39), with f[0] placed in the first piece, so every wide load of
// f, here and in the energy/correlation that follows, is served whole from
// one earlier store.  f[j - 1] is the loaded piece moved up one word with the
// last word of the piece before it.
VOKSC_TARGET_AVX2 void shiftFiltered_avx2(int16_t e, const int16_t* h, int16_t* f, int hShift, int down) {
  const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f));
  const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f + 16));
  const __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f + 32));
  const __m256i prev0 = _mm256_alignr_epi8(x0, _mm256_permute2x128_si256(x0, x0, 0x08), 14);
  const __m256i prev1 = _mm256_alignr_epi8(x1, _mm256_permute2x128_si256(x1, x0, 0x03), 14);
  const __m128i prev2 = _mm_alignr_epi8(x2, _mm256_extracti128_si256(x1, 1), 14);
  const __m256i ev = _mm256_set1_epi32(e);
  const __m128i count = _mm_cvtsi32_si128(15 - hShift);
  const __m256i firstWord = _mm256_setr_epi16(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i s0 = _mm256_blendv_epi8(_mm256_adds_epi16(shiftedTerms16(ev, h, count), prev0),
                                        _mm256_set1_epi16(shr(e, static_cast<int16_t>(down))), firstWord);
  const __m256i s1 = _mm256_adds_epi16(shiftedTerms16(ev, h + 16, count), prev1);
  const __m256i p2 = _mm256_sra_epi32(_mm256_mullo_epi32(ev, load8(h + 32)), count);
  const __m128i s2 = _mm_adds_epi16(_mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packs_epi32(p2, p2), 0x08)), prev2);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(f), s0);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(f + 16), s1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(f + 32), s2);
}

VOKSC_TARGET_AVX2 void interp20Plain_avx2(const int16_t* src, const int16_t* w, int16_t* y, int len) {
  int n = 0;
  for (; n + 8 <= len; n += 8) {
    __m256i s = _mm256_setzero_si256();
    for (int t = 0; t < 20; ++t) s = _mm256_add_epi32(s, _mm256_mullo_epi32(_mm256_set1_epi32(w[t]), load8(src + n + t)));
    s = _mm256_srai_epi32(_mm256_add_epi32(_mm256_slli_epi32(s, 1), _mm256_set1_epi32(0x8000)), 16);
    store8(y + n, s);
  }
  interp20Plain_scalar(src + n, w, y + n, len - n);
}

VOKSC_TARGET_AVX2 void convolvePlain_avx2(const int16_t* x, const int16_t* h, int16_t* y) {
  // Outer-product order: every x[i] adds x[i] h[n - i] to the outputs
  // n >= i, read from a response with 40 zeros in front.
  alignas(32) int16_t hz[2 * kSubframe] = {};
  std::memcpy(hz + kSubframe, h, sizeof(int16_t) * kSubframe);
  __m256i acc[5];
  for (__m256i& v : acc) v = _mm256_setzero_si256();
  for (int i = 0; i < kSubframe; ++i) {
    const __m256i xi = _mm256_set1_epi32(x[i]);
    for (int b = i / 8; b < 5; ++b) acc[b] = _mm256_add_epi32(acc[b], _mm256_mullo_epi32(xi, load8(hz + kSubframe - i + 8 * b)));
  }
  for (int b = 0; b < 5; ++b) store8(y + 8 * b, _mm256_srai_epi32(acc[b], 12));
}

// Pairwise products in 32-bit lanes: a pair of squares is at most 2^31 and
// is read unsigned; a pair of cross products lies in (-2^31, 2^31], the top
// value only from four -32768 (the lane then reads -2^31, a value no pair
// reaches otherwise), which sends the block to the scalar form.  The pairs
// are summed in 64-bit lanes.
VOKSC_TARGET_AVX2 void energyCorr40_avx2(const int16_t* f, const int16_t* x, int64_t* energy, int64_t* corr) {
  const __m256i f0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f));
  const __m256i f1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f + 16));
  const __m128i f2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f + 32));
  const __m256i c0 = _mm256_madd_epi16(f0, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x)));
  const __m256i c1 = _mm256_madd_epi16(f1, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + 16)));
  const __m128i c2 = _mm_madd_epi16(f2, _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 32)));
  const __m256i top = _mm256_set1_epi32(INT32_MIN);
  const __m256i wrapped = _mm256_or_si256(_mm256_cmpeq_epi32(c0, top), _mm256_cmpeq_epi32(c1, top));
  const __m128i wrapped2 = _mm_cmpeq_epi32(c2, _mm256_castsi256_si128(top));
  if (!_mm256_testz_si256(wrapped, wrapped) || !_mm_testz_si128(wrapped2, wrapped2)) {
    energyCorr40_scalar(f, x, energy, corr);
    return;
  }
  const __m256i zero = _mm256_setzero_si256();
  const __m256i e0 = _mm256_madd_epi16(f0, f0), e1 = _mm256_madd_epi16(f1, f1);
  const __m128i e2 = _mm_madd_epi16(f2, f2);
  __m256i e = _mm256_add_epi64(_mm256_unpacklo_epi32(e0, zero), _mm256_unpackhi_epi32(e0, zero));
  e = _mm256_add_epi64(e, _mm256_add_epi64(_mm256_unpacklo_epi32(e1, zero), _mm256_unpackhi_epi32(e1, zero)));
  e = _mm256_add_epi64(e, _mm256_cvtepu32_epi64(e2));
  __m256i c = _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_castsi256_si128(c0)),
                               _mm256_cvtepi32_epi64(_mm256_extracti128_si256(c0, 1)));
  c = _mm256_add_epi64(c, _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_castsi256_si128(c1)),
                                           _mm256_cvtepi32_epi64(_mm256_extracti128_si256(c1, 1))));
  c = _mm256_add_epi64(c, _mm256_cvtepi32_epi64(c2));
  // Lane sums through memory (the 32-bit build has no quadword register moves).
  alignas(32) int64_t le[4], lc[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(le), e);
  _mm256_store_si256(reinterpret_cast<__m256i*>(lc), c);
  *energy = le[0] + le[1] + le[2] + le[3];
  *corr = lc[0] + lc[1] + lc[2] + lc[3];
}
#else
void energyCorr40_avx2(const int16_t* f, const int16_t* x, int64_t* energy, int64_t* corr) {
  energyCorr40_scalar(f, x, energy, corr);
}
void shiftFiltered_avx2(int16_t e, const int16_t* h, int16_t* f, int hShift, int down) { shiftFiltered_scalar(e, h, f, hShift, down); }
void interp20Plain_avx2(const int16_t* src, const int16_t* w, int16_t* y, int len) { interp20Plain_scalar(src, w, y, len); }
void convolvePlain_avx2(const int16_t* x, const int16_t* h, int16_t* y) { convolvePlain_scalar(x, h, y); }
#endif

// The 20 products of an output sum below 2^30 - 2^14 when the largest
// input times sum |w| does (then neither the doubled chain nor its
// rounding saturates).  Blocks of 8 outputs whose inputs are all known
// (lag >= 18) take the plain form under the running largest input; the
// rest runs the saturating chain.
void adaptiveVector(int16_t* x, int lag, int frac, int len, bool thirds) {
  int f = -frac;
  if (thirds) f *= 2;
  int back = lag;  // src = x - back
  if (f < 0) {
    f += 6;
    ++back;
  }
  int16_t w[20];
  int32_t wSum = 0;
  for (int i = 0; i < 10; ++i) {
    w[9 - i] = kInterp6[f + 6 * i];
    w[10 + i] = kInterp6[6 - f + 6 * i];
    for (const int32_t v : {int32_t{w[9 - i]}, int32_t{w[10 + i]}}) wSum += v < 0 ? -v : v;
  }
  int n = 0;
  if (lag >= 18) {
    static const auto plain = cpu::choose(interp20Plain_scalar, interp20Plain_avx2);
    // Inputs of the first block: x[-back - 9 .. -back + 17].
    const int16_t* first = x - back - 9;
    int32_t top = peak(first, std::min(back + 9, 27));
    for (; n + 8 <= len; n += 8) {
      // New inputs of this block beyond the previous one's.
      if (n > 0) top = std::max(top, peak(first + n + 19, 8));
      if (int64_t{top} * wSum >= (int64_t{1} << 30) - (int64_t{1} << 14)) break;
      plain(first + n, w, x + n, 8);
    }
  }
  const int16_t* src = x - back;
  for (; n < len; ++n) {
    int32_t s = 0;
    for (int i = 0, k = 0; i < 10; ++i, k += 6) {
      s = L_mac(s, src[n - i], kInterp6[f + k]);
      s = L_mac(s, src[n + 1 + i], kInterp6[6 - f + k]);
    }
    x[n] = round_fx(s);
  }
}

void convolve40(const int16_t* x, const int16_t* h, int16_t* y) {
  // When the energies satisfy Ex Eh < 2^60 no partial sum reaches 2^30
  // (Cauchy-Schwarz), so plain sums equal the saturating chains.
  const int64_t ex = dot(x, x, kSubframe), eh = dot(h, h, kSubframe);
  if (ex == 0 || eh < (int64_t{1} << 60) / ex) {
    static const auto plain = cpu::choose(convolvePlain_scalar, convolvePlain_avx2);
    plain(x, h, y);
    return;
  }
  for (int n = 0; n < kSubframe; ++n) {
    int32_t s = 0;
    for (int i = 0; i <= n; ++i) s = L_mac(s, x[i], h[n - i]);
    y[n] = extract_h(L_shl(s, 3));
  }
}

}  // namespace voksc::amr

using namespace voksc::amr;

VOKSC_EXPORT VokResult voksOpenLoopPitchSearchNonDTX_GSMAMR_16s(const Vok16s* ap1, const Vok16s* ap2,
                                                               const Vok16s* speech, Vok16s* medianLag,
                                                               Vok16s* adaptWeight, Vok16s* lagHist, Vok16s* wspHist,
                                                               Vok16s* lags, Vok16s* olGainFlag, VokRateCode rate) {
  if (anyNull(ap1, ap2, speech, medianLag, adaptWeight, lagHist, wspHist, lags, olGainFlag)) return vokErrNullPtr;
  return openLoop(ap1, ap2, speech, nullptr, medianLag, adaptWeight, lagHist, wspHist, nullptr, nullptr, nullptr,
                  lags, olGainFlag, rate, Detector::kNone);
}

VOKSC_EXPORT VokResult voksOpenLoopPitchSearchDTXVAD1_GSMAMR_16s(const Vok16s* ap1, const Vok16s* ap2,
                                                                const Vok16s* speech, Vok16s* toneReg,
                                                                Vok16s* medianLag, Vok16s* adaptWeight,
                                                                Vok16s* lagHist, Vok16s* wspHist, Vok16s* bestCorrHp,
                                                                Vok16s* lags, Vok16s* olGainFlag, VokRateCode rate) {
  if (anyNull(ap1, ap2, speech, toneReg, medianLag, adaptWeight, lagHist, wspHist, bestCorrHp, lags, olGainFlag))
    return vokErrNullPtr;
  return openLoop(ap1, ap2, speech, toneReg, medianLag, adaptWeight, lagHist, wspHist, bestCorrHp, nullptr, nullptr,
                  lags, olGainFlag, rate, Detector::kTone);
}

VOKSC_EXPORT VokResult voksOpenLoopPitchSearchDTXVAD2_GSMAMR_16s32s(const Vok16s* ap1, const Vok16s* ap2,
                                                                   const Vok16s* speech, Vok16s* medianLag,
                                                                   Vok16s* adaptWeight, Vok16s* lagHist,
                                                                   Vok16s* wspHist, Vok32s* rMax, Vok32s* r0,
                                                                   Vok16s* lags, Vok16s* olGainFlag, VokRateCode rate) {
  if (anyNull(ap1, ap2, speech, medianLag, adaptWeight, lagHist, wspHist, rMax, r0, lags, olGainFlag))
    return vokErrNullPtr;
  return openLoop(ap1, ap2, speech, nullptr, medianLag, adaptWeight, lagHist, wspHist, nullptr, rMax, r0, lags,
                  olGainFlag, rate, Detector::kCorrelation);
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookSearch_GSMAMR_16s(const Vok16s* target, const Vok16s* impResp,
                                                            const Vok16s* olLags, Vok16s* lag, Vok16s* exc,
                                                            Vok16s* frac, Vok16s* index, Vok16s* vec,
                                                            Vok16s subframe, VokRateCode rate) {
  if (anyNull(target, impResp, olLags, lag, exc, frac, index, vec)) return vokErrNullPtr;
  if (static_cast<uint16_t>(subframe) > 3) return vokErrSize;
  const int mode = modeOfRate(rate, false);
  if (mode < 0) return vokErrRange;
  const LagParams& p = kLagParams[mode];
  const bool lowRate = mode == kMr475 || mode == kMr515;
  const int prev = *lag;
  // Absolute search around the open-loop lag in subframes 0 and 2 (only 0
  // at 4.75 and 5.15 kbit/s); relative to the previous lag otherwise.
  const bool absolute = subframe == 0 || (subframe == 2 && !lowRate);
  int tMin, tMax;
  if (absolute)
    searchRange(olLags[subframe == 0 ? 0 : 1], p.intLow, p.intRange, p.lagMin, tMin, tMax);
  else
    searchRange(prev, p.fracLow, p.fracRange, p.lagMin, tMin, tMax);
  int16_t* x = exc + kExcOffset;
  // corr[i] holds the normalised correlation at lag tMin - 4 + i
  int16_t corr[40];
  const int first = tMin - 4;
  normalisedCorrelation(x, target, impResp, first, tMax + 4, corr);
  int best = tMin;
  for (int t = tMin + 1; t <= tMax; ++t)
    if (corr[t - first] >= corr[best - first]) best = t;
  int fr = p.firstFrac, last = p.lastFrac;
  bool search = true;
  const bool fourBit = mode <= kMr67;
  if (absolute && best > p.maxFracLag) {
    fr = 0;
    search = false;
  } else if (!absolute && fourBit) {
    // 4-bit relative codes: fractions only next to the anchor lag
    const int a = clampAnchor(prev, tMin, tMax);
    if (best == a - 2) {
      fr = 0;
    } else if (best == a + 1) {
      last = 0;
    } else if (best != a && best != a - 1) {
      fr = 0;
      search = false;
    }
  }
  if (search) {
    const bool thirds = p.thirds != 0;
    int16_t top = interpolateCorrelation(&corr[best - first], fr, thirds);
    for (int f = fr + 1; f <= last; ++f) {
      const int16_t v = interpolateCorrelation(&corr[best - first], f, thirds);
      if (v > top) {
        top = v;
        fr = f;
      }
    }
    // fold the outer fractions onto the neighbouring lag
    if (!thirds && fr == -3) {
      fr = 3;
      --best;
    } else if (thirds && fr == -2) {
      fr = 1;
      --best;
    } else if (thirds && fr == 2) {
      fr = -1;
      ++best;
    }
  }
  int code;
  if (p.thirds) {
    if (absolute) {
      code = best <= 85 ? 3 * best - 58 + fr : best + 112;
    } else if (!fourBit) {
      code = 3 * (best - tMin) + 2 + fr;
    } else {
      const int a = clampAnchor(prev, tMin, tMax);
      const int up = 3 * best + fr, base = 3 * (a - 2);
      if (base >= up)
        code = best - a + 5;
      else if (3 * (a + 1) > up)
        code = up - base + 3;
      else
        code = best - a + 11;
    }
  } else {
    code = absolute ? (best <= 94 ? 6 * best - 105 + fr : best + 368) : 6 * (best - tMin) + 3 + fr;
  }
  adaptiveVector(x, best, fr, kSubframe, p.thirds != 0);
  std::memcpy(vec, x, kSubframe * sizeof(int16_t));
  *lag = static_cast<int16_t>(best);
  *frac = static_cast<int16_t>(fr);
  *index = static_cast<int16_t>(code);
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookDecode_GSMAMR_16s(Vok16s index, Vok16s* oldLag, Vok16s* decodedLag,
                                                            Vok16s* exc, Vok16s* lag, Vok16s* vec, Vok16s subframe,
                                                            Vok16s bfi, Vok16s concealFlag, Vok16s concealState,
                                                            VokRateCode rate, Vok32s reserved1, Vok32s reserved2) {
  (void)reserved1;
  (void)reserved2;
  if (anyNull(oldLag, decodedLag, exc, lag, vec)) return vokErrNullPtr;
  if (subframe < 0 || subframe > 3) return vokErrSize;
  const int mode = modeOfRate(rate, true);
  if (mode < 0) return vokErrRange;
  const bool lowRate = mode == kMr475 || mode == kMr515;
  const bool absolute = subframe == 0 || (subframe == 2 && !lowRate);
  // The coded lag is a 9-bit (12.2) or 8-bit field in the absolute
  // subframes, a 6-bit (12.2, 7.95), 5-bit (7.4, 10.2) or 4-bit one in the
  // others; with the previous lag inside 17..144 (the lags these fields
  // can give) every decoded lag then stays within the 154 samples of
  // history the interpolation reads.
  const int bits = absolute ? (mode == kMr122 ? 9 : 8)
                            : (mode == kMr122 || mode == kMr795 ? 6 : mode > kMr67 ? 5 : 4);
  if (static_cast<uint16_t>(index) >= (1u << bits)) return vokErrIndex;
  if (*oldLag < 17 || *oldLag > kLagMax + 1) return vokErrRange;
  int16_t t0, fr;
  int16_t prev = *oldLag;
  if (mode == kMr122) {
    if (absolute) {
      if (index < 463) {
        t0 = add(mult(add(index, 5), 5462), 17);
        fr = add(sub(index, static_cast<int16_t>(6 * t0)), 105);
      } else {
        t0 = sub(index, 368);
        fr = 0;
      }
    } else {
      int tMin, tMax;
      searchRange(prev, 5, 9, 18, tMin, tMax);
      const int16_t i = sub(mult(add(index, 5), 5462), 1);
      t0 = static_cast<int16_t>(i + tMin);
      fr = sub(sub(index, 3), static_cast<int16_t>(6 * i));
    }
    *decodedLag = t0;
    if (bfi != 0 || (!absolute && index >= 61)) {
      t0 = prev;
      fr = 0;
    }
  } else {
    int tMin, tMax;
    searchRange(prev, mode == kMr795 ? 10 : 5, mode == kMr795 ? 19 : 9, 20, tMin, tMax);
    if (absolute) {
      if (index < 197) {
        t0 = add(mult(add(index, 2), 10923), 19);
        fr = add(sub(index, static_cast<int16_t>(3 * t0)), 58);
      } else {
        t0 = sub(index, 112);
        fr = 0;
      }
    } else if (mode > kMr67) {
      const int16_t i = sub(mult(add(index, 2), 10923), 1);
      t0 = static_cast<int16_t>(i + tMin);
      fr = sub(sub(index, 2), static_cast<int16_t>(3 * i));
    } else {
      const int a = clampAnchor(prev, tMin, tMax);
      if (index < 4) {
        t0 = static_cast<int16_t>(a - 5 + index);
        fr = 0;
      } else if (index < 12) {
        const int16_t i = sub(mult(sub(index, 5), 10923), 1);
        t0 = static_cast<int16_t>(i + a);
        fr = sub(sub(index, 9), static_cast<int16_t>(3 * i));
      } else {
        t0 = static_cast<int16_t>(index - 12 + a + 1);
        fr = 0;
      }
    }
    *decodedLag = t0;
    if (bfi != 0) {
      if (prev < kLagMax) prev = static_cast<int16_t>(prev + 1);
      *oldLag = prev;
      const int16_t fromIndex = t0;
      t0 = prev;
      fr = 0;
      if (concealFlag != 0 && concealState > 4 && mode <= kMr59) t0 = fromIndex;
    }
  }
  int16_t* x = exc + kExcOffset;
  adaptiveVector(x, t0, fr, kSubframe, mode != kMr122);
  std::memcpy(vec, x, kSubframe * sizeof(int16_t));
  *lag = t0;
  return vokOk;
}

namespace {

// Pitch gain <x, y> / <y, y> in Q14 with the correlation terms; the doubled
// sums start at 1 and are recomputed on y / 4 when they would saturate.
int16_t pitchGain(const int16_t* x, const int16_t* y, int16_t* coeff) {
  int16_t yq[kSubframe];
  for (int i = 0; i < kSubframe; ++i) yq[i] = static_cast<int16_t>(y[i] >> 2);
  int16_t yy, eyy, xy, exy;
  {
    MacChain c(1);
    for (int i = 0; i < kSubframe; ++i) c.mac(y[i], y[i]);
    int32_t s = c.value();
    int16_t adj = 0;
    if (c.spilled()) {  // positive terms: the chain on y / 4 clamps (it may still saturate)
      s = sat(1 + 2 * dot(yq, yq, kSubframe));
      adj = 4;
    }
    eyy = norm_l(s);
    yy = round_fx(L_shl(s, eyy));
    eyy = static_cast<int16_t>(eyy - adj);
  }
  {
    MacChain c(1);
    for (int i = 0; i < kSubframe; ++i) c.mac(x[i], y[i]);
    int32_t s = c.value();
    int16_t adj = 0;
    if (c.spilled()) {
      s = 1;
      for (int i = 0; i < kSubframe; ++i) s = L_mac(s, x[i], yq[i]);
      adj = 2;
    }
    exy = norm_l(s);
    xy = round_fx(L_shl(s, exy));
    exy = static_cast<int16_t>(exy - adj);
  }
  coeff[0] = yy;
  coeff[1] = static_cast<int16_t>(15 - eyy);
  coeff[2] = xy;
  coeff[3] = static_cast<int16_t>(15 - exy);
  if (xy < 4) return 0;
  int16_t g = shr(div_s(shr(xy, 1), yy), static_cast<int16_t>(exy - eyy));
  return g > 19661 ? 19661 : g;
}

}  // namespace

VOKSC_EXPORT VokResult voksAdaptiveCodebookGain_GSMAMR_16s(const Vok16s* target, const Vok16s* filtAdapt, Vok16s* gain) {
  if (anyNull(target, filtAdapt, gain)) return vokErrNullPtr;
  int16_t coeff[4];
  *gain = pitchGain(target, filtAdapt, coeff);
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookGainCoeffs_GSMAMR_16s(const Vok16s* target, const Vok16s* filtAdapt,
                                                                Vok16s* gain, Vok16s* coeff) {
  if (anyNull(target, filtAdapt, gain, coeff)) return vokErrNullPtr;
  int16_t c[4];
  *gain = pitchGain(target, filtAdapt, c);
  std::memcpy(coeff, c, sizeof c);
  return vokOk;
}

VOKSC_EXPORT VokResult voksImpulseResponseTarget_GSMAMR_16s(const Vok16s* speech, const Vok16s* ap1,
                                                           const Vok16s* ap2, const Vok16s* aq, const Vok16s* memErr,
                                                           const Vok16s* memW0, Vok16s* impResp, Vok16s* residual,
                                                           Vok16s* target) {
  if (anyNull(speech, ap1, ap2, aq, memErr, memW0, impResp, residual, target)) return vokErrNullPtr;
  const int16_t zero[kOrder] = {};
  int16_t h[kSubframe] = {}, res[kSubframe], err[kOrder + kSubframe], x[kSubframe];
  std::memcpy(h, ap1, (kOrder + 1) * sizeof(int16_t));
  lpSynthesis(aq, h, h, kSubframe, zero, nullptr);
  lpSynthesis(ap2, h, h, kSubframe, zero, nullptr);
  lpResidual(aq, speech + kOrder, res, kSubframe);
  std::memcpy(err, memErr, kOrder * sizeof(int16_t));
  lpSynthesis(aq, res, err + kOrder, kSubframe, memErr, nullptr);
  lpResidual(ap1, err + kOrder, x, kSubframe);
  lpSynthesis(ap2, x, x, kSubframe, memW0, nullptr);
  std::memcpy(impResp, h, sizeof h);
  std::memcpy(residual, res, sizeof res);
  std::memcpy(target, x, sizeof x);
  return vokOk;
}
