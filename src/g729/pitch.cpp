// G.729 pitch analysis: open-loop delay, closed-loop fractional search,
// adaptive-codebook vector, gain and contribution.
#include <cstring>

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "common/kernels.h"
#include "filter_internal.h"

using namespace voksc::op;
using voksc::anyNull;
using namespace voksc::g729;

namespace {

constexpr int kFrame = 80;
constexpr int kSubfr = 40;
constexpr int kPitMax = 143;
constexpr int kExcHist = 154;  // past excitation before the subframe

// Normalised maximum: max / sqrt(energy) as the reference forms it.
Word16 normalise(Word32 max, Word32 energy) {
  Word32 inv = voksc::vokInvSqrt(energy);
  Word16 mh, ml, eh, el;
  L_Extract(max, mh, ml);
  L_Extract(inv, eh, el);
  return extract_l(voksc::vokMpy32(mh, ml, eh, el));
}

// Scale the 223 samples by the energy check (every `step`-th sample summed).
void scaleSignal(const int16_t* sig, int16_t* out, int step) {
  bool ovf = false;
  Word32 sum = 0;
  for (int i = -kPitMax; i < kFrame; i += step) sum = L_mac_o(sum, sig[i], sig[i], ovf);
  int mode = ovf ? -3 : (L_sub(sum, 1048576) < 0 ? 3 : 0);
  for (int i = -kPitMax; i < kFrame; ++i) out[i + kPitMax] = mode == -3 ? shr(sig[i], 3) : (mode == 3 ? shl(sig[i], 3) : sig[i]);
}

// Largest correlation over lags [lagMin, lagMax] visited downward; equal
// values move to the smaller lag.  Normalised by the delayed energy.  With
// `exact`, no sum can saturate and the plain vector dot product serves.
int lagMax(const int16_t* x, int lagMaxV, int lagMinV, Word16* corMax, bool exact) {
  auto corr = [&](const int16_t* a, const int16_t* b) -> Word32 {
    return exact ? static_cast<Word32>(2 * voksc::kern::dot(a, b, kFrame)) : dotProduct(a, b, kFrame);
  };
  Word32 mx = kMin32;
  int best = lagMaxV;
  for (int i = lagMaxV; i >= lagMinV; --i) {
    Word32 t = corr(x, x - i);
    if (L_sub(t, mx) >= 0) {
      mx = t;
      best = i;
    }
  }
  Word32 e = corr(x - best, x - best);
  *corMax = normalise(mx, e);
  return best;
}

int openLoop(const int16_t* sig) {
  int16_t buf[kFrame + kPitMax];
  scaleSignal(sig, buf, 1);
  const int16_t* s = buf + kPitMax;
  // Twice the buffer's energy within 31 bits bounds every correlation.
  const bool exact = 2 * voksc::kern::dot(buf, buf, kFrame + kPitMax) < 0x7FFFFFFF;
  Word16 m1, m2, m3;
  int p1 = lagMax(s, kPitMax, 80, &m1, exact);
  int p2 = lagMax(s, 79, 40, &m2, exact);
  int p3 = lagMax(s, 39, 20, &m3, exact);
  if (sub(mult(m1, 27853), m2) < 0) {
    m1 = m2;
    p1 = p2;
  }
  if (sub(mult(m1, 27853), m3) < 0) p1 = p3;
  return p1;
}

Word32 decimatedCorr(const int16_t* s, int t) {
  Word32 sum = 0;
  for (int j = 0; j < kFrame; j += 2) sum = L_mac(sum, s[j], s[j - t]);
  return sum;
}
Word16 decimatedNorm(const int16_t* s, int t, Word32 mx) {
  Word32 e = 1;
  for (int i = 0; i < kFrame; i += 2) e = L_mac(e, s[i - t], s[i - t]);
  return normalise(mx, e);
}

int openLoopFast(const int16_t* sig) {
  int16_t buf[kFrame + kPitMax];
  scaleSignal(sig, buf, 2);
  const int16_t* s = buf + kPitMax;
  // When twice the energy of the whole scaled buffer fits 31 bits, no
  // partial correlation can saturate (Cauchy-Schwarz): the decimated sums
  // are then plain dot products on the de-interleaved samples.
  int64_t energy = voksc::kern::dot(buf, buf, kFrame + kPitMax);
  const bool exact = 2 * energy < 0x7FFFFFFF;
  int16_t half[2][(kFrame + kPitMax) / 2 + 1];  // samples of s[-143..79] by parity of their index
  int16_t frame[kFrame / 2];
  for (int j = 0; j < kFrame; j += 2) frame[j / 2] = s[j];
  for (int i = -kPitMax; i < kFrame; ++i) half[(i + kPitMax) & 1][(i + kPitMax) >> 1] = s[i];
  auto corr = [&](int t) -> Word32 {
    if (!exact) return decimatedCorr(s, t);
    // s[j - t] for even j: index (j - t + 143) in the buffer.
    const int first = kPitMax - t;  // buffer index of s[-t]
    return static_cast<Word32>(2 * voksc::kern::dot(frame, &half[first & 1][first >> 1], kFrame / 2));
  };
  auto section = [&](int from, int to, int step, int& t) {
    Word32 mx = kMin32;
    t = from;
    for (int i = from; i < to; i += step) {
      Word32 c = corr(i);
      if (L_sub(c, mx) > 0) {
        mx = c;
        t = i;
      }
    }
    return mx;
  };
  int t1, t2, t3;
  Word32 mx = section(20, 40, 1, t1);
  Word16 max1 = decimatedNorm(s, t1, mx);
  mx = section(40, 80, 1, t2);
  Word16 max2 = decimatedNorm(s, t2, mx);
  mx = section(80, 143, 2, t3);
  {
    int i = t3;
    Word32 c = corr(i + 1);
    if (L_sub(c, mx) > 0) {
      mx = c;
      t3 = i + 1;
    }
    c = corr(i - 1);
    if (L_sub(c, mx) > 0) {
      mx = c;
      t3 = i - 1;
    }
  }
  Word16 max3 = decimatedNorm(s, t3, mx);
  Word16 i = sub(shl(static_cast<Word16>(t2), 1), static_cast<Word16>(t3));
  if (sub(abs_s(i), 5) < 0) max2 = add(max2, shr(max3, 2));
  i = add(i, static_cast<Word16>(t2));
  if (sub(abs_s(i), 7) < 0) max2 = add(max2, shr(max3, 2));
  i = sub(shl(static_cast<Word16>(t1), 1), static_cast<Word16>(t2));
  if (sub(abs_s(i), 5) < 0) max1 = add(max1, mult(max2, 6554));
  i = add(i, static_cast<Word16>(t1));
  if (sub(abs_s(i), 7) < 0) max1 = add(max1, mult(max2, 6554));
  if (sub(max1, max2) < 0) {
    max1 = max2;
    t1 = t2;
  }
  if (sub(max1, max3) < 0) t1 = t3;
  return t1;
}

// Search range of the closed-loop search around the centre delay.
void searchRange(int centre, int subframe, int& tMin, int& tMax) {
  if (subframe == 0) {
    tMin = centre - 3;
    if (tMin < 20) tMin = 20;
    tMax = tMin + 6;
    if (tMax > kPitMax) {
      tMax = kPitMax;
      tMin = tMax - 6;
    }
  } else {
    tMin = centre - 5;
    if (tMin < 20) tMin = 20;
    tMax = tMin + 9;
    if (tMax > kPitMax) {
      tMax = kPitMax;
      tMin = tMax - 9;
    }
  }
}

// Normalised correlation of the target with the filtered past excitation
// for every delay tMin..tMax (recursive update of the filtered excitation).
void normCorr(const int16_t* exc, const int16_t* xn, const int16_t* h, int tMin, int tMax, int16_t* corr) {
  int k = -tMin;
  int16_t excf[kSubfr], scaled[kSubfr];
  convolve40(&exc[k], h, excf);
  for (int j = 0; j < kSubfr; ++j) scaled[j] = shr(excf[j], 2);
  Word32 s = 0;
  for (int j = 0; j < kSubfr; ++j) s = L_mac(s, excf[j], excf[j]);
  int16_t* sx;
  Word16 hFac, scaling;
  if (L_sub(s, 67108864) <= 0) {
    sx = excf;
    hFac = 3;
    scaling = 0;
  } else {
    sx = scaled;
    hFac = 1;
    scaling = 2;
  }
  for (int i = tMin; i <= tMax; ++i) {
    s = 0;
    for (int j = 0; j < kSubfr; ++j) s = L_mac(s, sx[j], sx[j]);
    s = voksc::vokInvSqrt(s);
    Word16 nh, nl, ch, cl;
    L_Extract(s, nh, nl);
    s = 0;
    for (int j = 0; j < kSubfr; ++j) s = L_mac(s, xn[j], sx[j]);
    L_Extract(s, ch, cl);
    s = voksc::vokMpy32(ch, cl, nh, nl);
    corr[i - tMin] = extract_h(L_shl(s, 16));
    if (i != tMax) {
      --k;
      for (int j = kSubfr - 1; j > 0; --j) {
        s = L_shl(L_mult(exc[k], h[j]), hFac);
        sx[j] = add(extract_h(s), sx[j - 1]);
      }
      sx[0] = shr(exc[k], scaling);
    }
  }
}

// Fractional refinement around `lag` at the given fractions (thirds).
void refine(const int16_t* corrAtLag, const int* fracs, int n, int& lag, int& frac) {
  Word16 mx = interpol3(corrAtLag, fracs[0]);
  frac = fracs[0];
  for (int k = 1; k < n; ++k) {
    Word16 c = interpol3(corrAtLag, fracs[k]);
    if (sub(c, mx) > 0) {
      mx = c;
      frac = fracs[k];
    }
  }
  if (frac == -2) {
    frac = 1;
    --lag;
  }
  if (frac == 2) {
    frac = -1;
    ++lag;
  }
}

// G.729 and Annex D closed loop: integer delay by normalised correlation,
// then the fractions the variant allows.
void closedLoop(const int16_t* exc, const int16_t* xn, const int16_t* h, int centre, int subframe, bool annexD,
                int& lagOut, int& fracOut) {
  int t0Min, t0Max;
  searchRange(centre, subframe, t0Min, t0Max);
  const int tMin = t0Min - 4, tMax = t0Max + 4;
  int16_t corrV[40];
  normCorr(exc, xn, h, tMin, tMax, corrV);
  const int16_t* corr = corrV - tMin;
  Word16 mx = corr[t0Min];
  int lag = t0Min;
  for (int i = t0Min + 1; i <= t0Max; ++i) {
    if (sub(corr[i], mx) >= 0) {
      mx = corr[i];
      lag = i;
    }
  }
  int frac = 0;
  static const int kAll[5] = {-2, -1, 0, 1, 2};
  if (subframe == 0 || !annexD) {
    if (!(subframe == 0 && lag > 84)) refine(&corr[lag], kAll, 5, lag, frac);
  } else {
    static const int kUp[3] = {0, 1, 2};
    static const int kDown[3] = {-2, -1, 0};
    if (lag == t0Max - 5 || lag == t0Max - 4)
      refine(&corr[lag], kAll, 5, lag, frac);
    else if (lag == t0Max - 6)
      refine(&corr[lag], kUp, 3, lag, frac);
    else if (lag == t0Max - 3)
      refine(&corr[lag], kDown, 3, lag, frac);
  }
  lagOut = lag;
  fracOut = frac;
}

// Annex A closed loop on the backward-filtered target.
void closedLoopFast(int16_t* exc, const int16_t* xn, const int16_t* h, int centre, int subframe, int& lagOut,
                    int& fracOut) {
  int t0Min, t0Max;
  searchRange(centre, subframe, t0Min, t0Max);
  int16_t dn[kSubfr], tmp[kSubfr];
  targetCorrelation(h, xn, dn);
  Word32 mx = kMin32;
  int t0 = t0Min;
  for (int t = t0Min; t <= t0Max; ++t) {
    Word32 c = dotProduct(dn, &exc[-t], kSubfr);
    if (L_sub(c, mx) > 0) {
      mx = c;
      t0 = t;
    }
  }
  predictLt3(exc, t0, 0, kSubfr);
  mx = dotProduct(dn, exc, kSubfr);
  int frac = 0;
  if (!(subframe == 0 && t0 > 84)) {
    std::memcpy(tmp, exc, sizeof tmp);
    predictLt3(exc, t0, -1, kSubfr);
    Word32 c = dotProduct(dn, exc, kSubfr);
    if (L_sub(c, mx) > 0) {
      mx = c;
      frac = -1;
      std::memcpy(tmp, exc, sizeof tmp);
    }
    predictLt3(exc, t0, 1, kSubfr);
    c = dotProduct(dn, exc, kSubfr);
    if (L_sub(c, mx) > 0) {
      frac = 1;
    } else {
      std::memcpy(exc, tmp, sizeof tmp);
    }
  }
  lagOut = t0;
  fracOut = frac;
}

}  // namespace

VOKSC_EXPORT VokResult voksOpenLoopPitchSearch_G729_16s(const Vok16s* wsp, Vok16s* delay) {
  if (anyNull(wsp, delay)) return vokErrNullPtr;
  *delay = static_cast<Vok16s>(openLoop(wsp));
  return vokOk;
}

VOKSC_EXPORT VokResult voksOpenLoopPitchSearch_G729A_16s(const Vok16s* wsp, Vok16s* delay) {
  if (anyNull(wsp, delay)) return vokErrNullPtr;
  *delay = static_cast<Vok16s>(openLoopFast(wsp));
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookSearch_G729_16s(Vok16s centre, const Vok16s* x, const Vok16s* h,
                                                           Vok16s* excBuf, Vok16s* delay, Vok16s* vec, int subframe) {
  if (anyNull(x, h, excBuf, delay, vec)) return vokErrNullPtr;
  if (centre < 18 || centre > 145 || subframe > 1 || subframe < 0) return vokErrRange;
  int16_t* exc = excBuf + kExcHist;
  int lag, frac;
  closedLoop(exc, x, h, centre, subframe, false, lag, frac);
  predictLt3(exc, lag, frac, kSubfr);
  std::memcpy(vec, exc, kSubfr * sizeof(Vok16s));
  delay[0] = static_cast<Vok16s>(lag);
  delay[1] = static_cast<Vok16s>(frac);
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookSearch_G729A_16s(Vok16s centre, const Vok16s* x, const Vok16s* h,
                                                            Vok16s* excBuf, Vok16s* delay, Vok16s* vec, int subframe) {
  if (anyNull(x, h, excBuf, delay, vec)) return vokErrNullPtr;
  if (centre < 18 || centre > 145 || subframe > 1 || subframe < 0) return vokErrRange;
  int16_t* exc = excBuf + kExcHist;
  int lag, frac;
  closedLoopFast(exc, x, h, centre, subframe, lag, frac);
  std::memcpy(vec, exc, kSubfr * sizeof(Vok16s));
  delay[0] = static_cast<Vok16s>(lag);
  delay[1] = static_cast<Vok16s>(frac);
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookSearch_G729D_16s(Vok16s centre, const Vok16s* x, const Vok16s* h,
                                                            const Vok16s* excBuf, int subframe, Vok16s* delay) {
  if (anyNull(x, h, excBuf, delay)) return vokErrNullPtr;
  if (centre < 18 || centre > 145 || subframe > 1 || subframe < 0) return vokErrRange;
  int lag, frac;
  closedLoop(excBuf + kExcHist, x, h, centre, subframe, true, lag, frac);
  delay[0] = static_cast<Vok16s>(lag);
  delay[1] = static_cast<Vok16s>(frac);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecodeAdaptiveVector_G729_16s_I(const Vok16s* delay, Vok16s* excBuf) {
  if (anyNull(delay, excBuf)) return vokErrNullPtr;
  if (delay[0] < 18 || delay[0] > 144 || delay[1] < -1 || delay[1] > 1) return vokErrIndex;
  predictLt3(excBuf + kExcHist, delay[0], delay[1], kSubfr);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecodeAdaptiveVector_G729_16s(const Vok16s* delay, Vok16s* excBuf, Vok16s* vec) {
  if (anyNull(delay, excBuf, vec)) return vokErrNullPtr;
  if (delay[0] < 18 || delay[0] > 144 || delay[1] < -1 || delay[1] > 1) return vokErrIndex;
  predictLt3(excBuf + kExcHist, delay[0], delay[1], kSubfr);
  std::memcpy(vec, excBuf + kExcHist, kSubfr * sizeof(Vok16s));
  return vokOk;
}

// x2 = x - y g: the product's bits 14..29, subtracted modulo 2^16.
VOKSC_EXPORT VokResult voksAdaptiveCodebookContribution_G729_16s(Vok16s gain, const Vok16s* y, const Vok16s* x,
                                                                 Vok16s* x2) {
  if (anyNull(y, x, x2)) return vokErrNullPtr;
  for (int i = 0; i < kSubfr; ++i) {
    Word32 t = L_shl(L_mult(y[i], gain), 1);
    x2[i] = static_cast<Vok16s>(static_cast<uint16_t>(x[i]) - static_cast<uint16_t>(extract_h(t)));
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookGain_G729_16s(const Vok16s* x, const Vok16s* h, const Vok16s* vec,
                                                         Vok16s* y, Vok16s* gain) {
  if (anyNull(x, h, vec, y, gain)) return vokErrNullPtr;
  int16_t yy[kSubfr];
  convolve40(vec, h, yy);
  *gain = pitchGain(x, yy, nullptr);
  std::memcpy(y, yy, sizeof yy);
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookGain_G729A_16s(const Vok16s* x, const Vok16s* a, const Vok16s* vec,
                                                          Vok16s* y, Vok16s* gain) {
  if (anyNull(x, a, vec, y, gain)) return vokErrNullPtr;
  int16_t yy[kSubfr], mem[10] = {};
  synthesis(a, 10, vec, yy, kSubfr, mem, false);
  *gain = pitchGain(x, yy, nullptr);
  std::memcpy(y, yy, sizeof yy);
  return vokOk;
}
