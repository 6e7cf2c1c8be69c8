// G.729 closed-loop (adaptive-codebook) searches around the open-loop
// delay: the normalised-correlation search of G.729 and its reduced
// delay resolution of Annex D, and the Annex A search on the
// backward-filtered target.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/basic_op.h"
#include "common/kernels.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "pitch_internal.h"
#include "pitch_kernels.h"

using namespace voksc::op;
using voksc::anyNull;
using namespace voksc::g729::pitch;

namespace {

// Correlation of the target with the filtered excitation as the L_mac
// chain gives it; the exact sum when the energies allow.
Word32 chainCorrelation(const int16_t* x, const int16_t* s, int64_t xx, int64_t ss, int64_t xs) {
  if (energiesBoundSums(xx, ss)) return static_cast<Word32>(2 * xs);
  MacChain c;
  for (int j = 0; j < kSubframe; ++j) c.mac(x[j], s[j]);
  if (!c.spilled()) return c.value();
  Word32 r = 0;
  for (int j = 0; j < kSubframe; ++j) r = L_mac(r, x[j], s[j]);
  return r;
}

// Normalised correlation of the target with the past excitation filtered
// by h, for every delay tMin..tMax: corr[t - tMin].  The filtered
// excitation of each delay is updated from the previous one.
void normalisedCorrelation(const int16_t* exc, const int16_t* xn, const int16_t* h, int tMin, int tMax,
                           int16_t* corr) {
  int16_t bufA[kSubframe], bufB[kSubframe];
  int16_t* cur = bufA;
  int16_t* next = bufB;
  int k = -tMin;
  filterVector(&exc[k], h, cur);
  // Energy of the first filtered vector decides the scaling of them all.
  int64_t ss, xs;
  energyAndCorrelation(cur, xn, ss, xs);
  int hFac = 3, scaling = 0;
  if (2 * ss > 67108864) {  // above 2^26 (the doubled sum saturates only above that)
    for (int j = 0; j < kSubframe; ++j) cur[j] = shr(cur[j], 2);
    hFac = 1;
    scaling = 2;
  }
  int64_t xx = 0;
  for (int j = 0; j < kSubframe; ++j) xx += int32_t{xn[j]} * xn[j];
  for (int t = tMin; t <= tMax; ++t) {
    energyAndCorrelation(cur, xn, ss, xs);
    const Word32 en = 2 * ss > kMax32 ? kMax32 : static_cast<Word32>(2 * ss);
    Word16 nh, nl, ch, cl;
    L_Extract(voksc::vokInvSqrt(en), nh, nl);
    L_Extract(chainCorrelation(xn, cur, xx, ss, xs), ch, cl);
    corr[t - tMin] = extract_h(L_shl(voksc::vokMpy32(ch, cl, nh, nl), 16));
    if (t != tMax) {
      --k;
      shiftFiltered(cur, next, exc[k], h, hFac, scaling);
      int16_t* tmp = cur;
      cur = next;
      next = tmp;
    }
  }
}

// Best fraction (thirds) among `fracs` around the integer delay, a later
// one only when strictly larger; -2 and +2 fold into the neighbouring
// delay.
void refine(const int16_t* corrAtLag, const int* fracs, int n, int& lag, int& frac) {
  Word16 mx = interpolateCorrelation(corrAtLag, fracs[0]);
  frac = fracs[0];
  for (int i = 1; i < n; ++i) {
    const Word16 c = interpolateCorrelation(corrAtLag, fracs[i]);
    if (c > mx) {
      mx = c;
      frac = fracs[i];
    }
  }
  if (frac == -2) {
    frac = 1;
    --lag;
  } else if (frac == 2) {
    frac = -1;
    ++lag;
  }
}

// G.729 (and Annex D with `reduced`): integer delay by normalised
// correlation, then the fractions the variant allows.
void closedLoop(const int16_t* exc, const int16_t* xn, const int16_t* h, int centre, int subframe, bool reduced,
                int& lagOut, int& fracOut) {
  int t0Min, t0Max;
  searchRange(centre, subframe, t0Min, t0Max);
  // Four extra delays each side feed the interpolation.
  const int tMin = t0Min - 4, tMax = t0Max + 4;
  int16_t corrV[kSubframe];
  normalisedCorrelation(exc, xn, h, tMin, tMax, corrV);
  // Correlation of delay t (tMin..tMax) and the values around it.
  auto at = [&](int t) { return corrV + (t - tMin); };
  Word16 mx = *at(t0Min);
  int lag = t0Min;
  for (int t = t0Min + 1; t <= t0Max; ++t) {
    if (*at(t) >= mx) {  // equal values go to the longer delay
      mx = *at(t);
      lag = t;
    }
  }
  int frac = 0;
  static const int kAll[5] = {-2, -1, 0, 1, 2};
  static const int kUp[3] = {0, 1, 2};
  static const int kDown[3] = {-2, -1, 0};
  if (subframe == 0) {
    if (lag <= 84) refine(at(lag), kAll, 5, lag, frac);
  } else if (!reduced) {
    refine(at(lag), kAll, 5, lag, frac);
  } else {
    // Annex D, second subframe: thirds only near the middle of the range.
    const int d = lag - (t0Max - 4);
    if (d == -1 || d == 0)
      refine(at(lag), kAll, 5, lag, frac);
    else if (d == -2)
      refine(at(lag), kUp, 3, lag, frac);
    else if (d == 1)
      refine(at(lag), kDown, 3, lag, frac);
  }
  lagOut = lag;
  fracOut = frac;
}

// L_mac chain over one subframe.
Word32 dotChain(const int16_t* a, const int16_t* b) {
  MacChain c;
  for (int j = 0; j < kSubframe; ++j) c.mac(a[j], b[j]);
  if (!c.spilled()) return c.value();
  Word32 s = 0;
  for (int j = 0; j < kSubframe; ++j) s = L_mac(s, a[j], b[j]);
  return s;
}

// Correlation of the target with the impulse response, normalised so the
// largest magnitude keeps 13 bits (the backward-filtered target).
void backwardTarget(const int16_t* h, const int16_t* x, int16_t* dn) {
  Word32 y32[kSubframe];
  Word32 mx = 0;
  if (partialSumsFit(h, x, kSubframe)) {
    // Every doubled sum lies within (-2^31, 2^31), so its magnitude is L_abs.
    int64_t s[kSubframe];
    voksc::kern::xcorrTrunc(h, x, kSubframe, 0, kSubframe, s);
    int64_t peak = 0;
    for (int i = 0; i < kSubframe; ++i) {
      y32[i] = static_cast<Word32>(2 * s[i]);
      peak = std::max(peak, s[i] < 0 ? -s[i] : s[i]);
    }
    mx = static_cast<Word32>(2 * peak);
  } else {
    for (int i = 0; i < kSubframe; ++i) {
      MacChain c;
      for (int j = i; j < kSubframe; ++j) c.mac(x[j], h[j - i]);
      Word32 s = c.value();
      if (c.spilled()) {
        s = 0;
        for (int j = i; j < kSubframe; ++j) s = L_mac(s, x[j], h[j - i]);
      }
      y32[i] = s;
    }
    for (int i = 0; i < kSubframe; ++i)
      if (L_abs(y32[i]) > mx) mx = L_abs(y32[i]);
  }
  Word16 n = norm_l(mx);
  if (n > 16) n = 16;
  n = sub(18, n);
  for (int i = 0; i < kSubframe; ++i) dn[i] = extract_l(L_shr(y32[i], n));
}

// Annex A: integer delay maximising the plain correlation with the
// backward-filtered target, then the vectors of -1/3 and +1/3 tried
// against the integer one.  Leaves the chosen vector in exc[0..39].
void closedLoopFast(int16_t* exc, const int16_t* xn, const int16_t* h, int centre, int subframe, int& lagOut,
                    int& fracOut) {
  int t0Min, t0Max;
  searchRange(centre, subframe, t0Min, t0Max);
  int16_t dn[kSubframe];
  backwardTarget(h, xn, dn);
  Word32 mx = kMin32;
  int t0 = t0Min;
  // When sum|dn| times the largest past excitation sample keeps the doubled
  // sum below 2^31, no partial sum of any lag can saturate and all lags come
  // from one exact multi-lag correlation.
  const int count = t0Max - t0Min + 1;
  int64_t sumDn = 0;
  for (int j = 0; j < kSubframe; ++j) sumDn += std::abs(int{dn[j]});
  int peak = 0;
  for (int j = -t0Max; j < kSubframe - t0Min; ++j) peak = std::max(peak, std::abs(int{exc[j]}));
  if (count <= 64 && 2 * sumDn * peak < (int64_t{1} << 31)) {
    int64_t c[64];
    voksc::kern::xcorr(dn, exc - t0Max, kSubframe, count, c);
    for (int t = t0Min; t <= t0Max; ++t) {
      const Word32 v = static_cast<Word32>(2 * c[t0Max - t]);
      if (v > mx) {
        mx = v;
        t0 = t;
      }
    }
  } else {
    for (int t = t0Min; t <= t0Max; ++t) {
      const Word32 c = dotChain(dn, &exc[-t]);
      if (c > mx) {
        mx = c;
        t0 = t;
      }
    }
  }
  adaptiveVector(exc, t0, 0, kSubframe);
  // The chain of a candidate vector: when sum |dn| times the vector's
  // largest magnitude keeps the doubled sum below 2^31, no partial sum can
  // saturate and the plain 32-bit sum is the chain's value.
  auto candidate = [&](const int16_t* v) {
    int peakV = 0;
    for (int j = 0; j < kSubframe; ++j) peakV = std::max(peakV, std::abs(int{v[j]}));
    if (2 * sumDn * peakV >= (int64_t{1} << 31)) return dotChain(dn, v);
    int32_t s = 0;
    for (int j = 0; j < kSubframe; ++j) s += int32_t{dn[j]} * v[j];
    return static_cast<Word32>(2 * s);
  };
  int frac = 0;
  if (subframe != 0 || t0 <= 84) {
    int16_t best[kSubframe];
    mx = candidate(exc);
    std::memcpy(best, exc, sizeof best);
    adaptiveVector(exc, t0, -1, kSubframe);
    Word32 c = candidate(exc);
    if (c > mx) {
      mx = c;
      frac = -1;
      std::memcpy(best, exc, sizeof best);
    }
    adaptiveVector(exc, t0, 1, kSubframe);
    c = candidate(exc);
    if (c > mx)
      frac = 1;
    else
      std::memcpy(exc, best, sizeof best);
  }
  lagOut = t0;
  fracOut = frac;
}

bool badArgs(Vok16s centre, int subframe) { return centre < 18 || centre > 145 || subframe < 0 || subframe > 1; }

}  // namespace

VOKSC_EXPORT VokResult voksAdaptiveCodebookSearch_G729_16s(Vok16s centre, const Vok16s* x, const Vok16s* h,
                                                           Vok16s* excBuf, Vok16s* delay, Vok16s* vec, int subframe) {
  if (anyNull(x, h, excBuf, delay, vec)) return vokErrNullPtr;
  if (badArgs(centre, subframe)) return vokErrRange;
  int16_t* exc = excBuf + kExcHistory;
  int lag, frac;
  closedLoop(exc, x, h, centre, subframe, false, lag, frac);
  adaptiveVector(exc, lag, frac, kSubframe);
  std::memcpy(vec, exc, kSubframe * sizeof(Vok16s));
  delay[0] = static_cast<Vok16s>(lag);
  delay[1] = static_cast<Vok16s>(frac);
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookSearch_G729A_16s(Vok16s centre, const Vok16s* x, const Vok16s* h,
                                                            Vok16s* excBuf, Vok16s* delay, Vok16s* vec, int subframe) {
  if (anyNull(x, h, excBuf, delay, vec)) return vokErrNullPtr;
  if (badArgs(centre, subframe)) return vokErrRange;
  int16_t* exc = excBuf + kExcHistory;
  int lag, frac;
  closedLoopFast(exc, x, h, centre, subframe, lag, frac);
  std::memcpy(vec, exc, kSubframe * sizeof(Vok16s));
  delay[0] = static_cast<Vok16s>(lag);
  delay[1] = static_cast<Vok16s>(frac);
  return vokOk;
}

// Annex D: the delay pair only; the excitation is read, not written.
VOKSC_EXPORT VokResult voksAdaptiveCodebookSearch_G729D_16s(Vok16s centre, const Vok16s* x, const Vok16s* h,
                                                            const Vok16s* excBuf, int subframe, Vok16s* delay) {
  if (anyNull(x, h, excBuf, delay)) return vokErrNullPtr;
  if (badArgs(centre, subframe)) return vokErrRange;
  int lag, frac;
  closedLoop(excBuf + kExcHistory, x, h, centre, subframe, true, lag, frac);
  delay[0] = static_cast<Vok16s>(lag);
  delay[1] = static_cast<Vok16s>(frac);
  return vokOk;
}
