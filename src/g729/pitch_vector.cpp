// G.729 adaptive-codebook vector: fractional-delay interpolation, the
// filtered vector and its gain, the target update.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/basic_op.h"
#include "common/kernels.h"
#include "core/status.h"
#include "filt_internal.h"
#include "pitch_internal.h"
#include "pitch_kernels.h"
#include "pitch_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g729::pitch {

namespace {

// Largest magnitude of n samples (32768 for -32768), from their 16-bit
// maximum and minimum.
int32_t peakOf(const int16_t* x, int n) {
  int16_t hi = 0, lo = 0;
  for (int i = 0; i < n; ++i) {
    hi = std::max(hi, x[i]);
    lo = std::min(lo, x[i]);
  }
  return std::max(int32_t{hi}, -int32_t{lo});
}

}  // namespace

void adaptiveVector(int16_t* exc, int t0, int frac, int len) {
  const int16_t* x0 = exc - t0;
  frac = -frac;
  if (frac < 0) {
    frac += 3;
    --x0;
  }
  // Output j is the window x0[j-9 .. j+10] against the taps of this phase
  // (formed once per phase).  Each sample reads only samples before it, so
  // those this call wrote (delays below len + 10) are already final.
  struct Phases {
    int16_t taps[3][20];
    int32_t sum[3];
    Phases() {
      for (int f = 0; f < 3; ++f) {
        sum[f] = 0;
        for (int i = 0; i < 10; ++i) {
          taps[f][9 - i] = kInterpExc[f + 3 * i];
          taps[f][10 + i] = kInterpExc[3 - f + 3 * i];
          sum[f] += std::abs(kInterpExc[f + 3 * i]) + std::abs(kInterpExc[3 - f + 3 * i]);
        }
      }
    }
  };
  static const Phases kPhases;
  const int16_t* taps = kPhases.taps[frac];
  const int32_t tapSum = kPhases.sum[frac];
  // While the largest magnitude read so far times the taps' sum stays below
  // 2^30 no partial sum of the L_mac chain can saturate: plain sums serve.
  // (Only the samples the window reaches: the history up to exc, or less
  // when the delay is long.)
  const int16_t* end = std::min<const int16_t*>(exc, x0 + len + 10);
  int32_t maxAbs = peakOf(x0 - 9, static_cast<int>(end - (x0 - 9)));
  // Blocks of 8 (16) outputs read only samples before their first output
  // when the distance back to the window's newest sample, d - 10, is at
  // least 8 (16): a block then sees every earlier output final, and the
  // bound (the largest magnitude so far, the block's outputs added once
  // formed when they can be read later) holds for every sample it reads.
  const int back = static_cast<int>(exc - x0);
  int j = 0;
  if (back >= len + 10 && len == 40 && int64_t{maxAbs} * tapSum < 0x40000000) {
    // Every sample read lies before exc: one call forms the whole vector.
    interpolate(x0 - 9, taps, exc, len);
    j = len;
  } else if (back >= 18 && back < 50 && len == 40 && int64_t{maxAbs} * tapSum < 0x40000000) {
    // Later outputs read earlier ones: the kernel carries them forward.
    j = shortDelayBlocks(exc, back, taps, 0x3FFFFFFF / tapSum);
    maxAbs = std::max(maxAbs, peakOf(exc, j));
  } else if (back >= 18) {
    while (j + 8 <= len && int64_t{maxAbs} * tapSum < 0x40000000) {
      const int n = back >= 26 && j + 16 <= len ? 16 : 8;
      interpolate(x0 + j - 9, taps, exc + j, n);
      if (back < len + 10) maxAbs = std::max(maxAbs, peakOf(exc + j, n));
      j += n;
    }
  }
  for (; j < len; ++j) {
    const int16_t* w = x0 + j - 9;
    Word32 s;
    if (int64_t{maxAbs} * tapSum < 0x40000000) {
      int32_t acc = 0;
      for (int m = 0; m < 20; ++m) acc += int32_t{w[m]} * taps[m];
      s = 2 * acc;
    } else {
      s = 0;
      for (int i = 0; i < 10; ++i) {
        s = L_mac(s, w[9 - i], taps[9 - i]);
        s = L_mac(s, w[10 + i], taps[10 + i]);
      }
    }
    exc[j] = round_fx(s);
    maxAbs = std::max(maxAbs, std::abs(int32_t{exc[j]}));
  }
}

int16_t interpolateCorrelation(const int16_t* corr, int frac) {
  if (frac < 0) {
    frac += 3;
    --corr;
  }
  const int16_t* c1 = &kInterpCorr[frac];
  const int16_t* c2 = &kInterpCorr[3 - frac];
  Word32 s = 0;
  for (int i = 0, k = 0; i < 4; ++i, k += 3) {
    s = L_mac(s, corr[-i], c1[k]);
    s = L_mac(s, corr[1 + i], c2[k]);
  }
  return round_fx(s);
}

void searchRange(int centre, int subframe, int& tMin, int& tMax) {
  const int below = subframe == 0 ? 3 : 5, width = subframe == 0 ? 6 : 9;
  tMin = centre - below;
  if (tMin < kDelayMin) tMin = kDelayMin;
  tMax = tMin + width;
  if (tMax > kDelayMax) {
    tMax = kDelayMax;
    tMin = tMax - width;
  }
}

bool energiesBoundSums(int64_t ea, int64_t eb) {
  uint64_t prod;
  return !__builtin_mul_overflow(static_cast<uint64_t>(ea), static_cast<uint64_t>(eb), &prod) &&
         prod < (uint64_t{1} << 60);
}

bool partialSumsFit(const int16_t* a, const int16_t* b, int n) {
  int64_t ea = 0, eb = 0;
  for (int i = 0; i < n; ++i) {
    ea += int32_t{a[i]} * a[i];
    eb += int32_t{b[i]} * b[i];
  }
  return energiesBoundSums(ea, eb);
}

void filterVector(const int16_t* v, const int16_t* h, int16_t* y) {
  if (partialSumsFit(v, h, kSubframe)) {
    int64_t s[kSubframe];
    voksc::kern::convPartial(v, h, 0, kSubframe, s);
    for (int n = 0; n < kSubframe; ++n) y[n] = extract_h(L_shl(static_cast<Word32>(2 * s[n]), 3));
    return;
  }
  for (int n = 0; n < kSubframe; ++n) {
    MacChain c;
    for (int i = 0; i <= n; ++i) c.mac(v[i], h[n - i]);
    Word32 s = c.value();
    if (c.spilled()) {
      s = 0;
      for (int i = 0; i <= n; ++i) s = L_mac(s, v[i], h[n - i]);
    }
    y[n] = extract_h(L_shl(s, 3));
  }
}

namespace {
// An L_mac chain from `init`; `ovf` is set when the chain saturated.
Word32 macChain(Word32 init, const int16_t* a, const int16_t* b, bool& ovf) {
  MacChain c(init);
  for (int i = 0; i < kSubframe; ++i) c.mac(a[i], b[i]);
  if (!c.spilled()) return c.value();
  ovf = true;
  Word32 s = init;
  for (int i = 0; i < kSubframe; ++i) s = L_mac(s, a[i], b[i]);
  return s;
}
}  // namespace

int16_t gain(const int16_t* x, const int16_t* y, int16_t* coeff) {
  // <y,y> and <x,y> exactly first.  The energy's chain only grows, so it
  // saturates exactly when its total does; the correlation's partial sums
  // stay within sqrt(<x,x> <y,y>), which energiesBoundSums keeps below 2^30
  // (then the chain is twice the exact sum).  Otherwise the chains decide,
  // and a saturated one is redone on y / 4.
  int64_t eYY, cXY;
  energyAndCorrelation(y, x, eYY, cXY);
  int16_t scaled[kSubframe];
  bool scaledReady = false;
  auto quarter = [&]() {
    if (!scaledReady)
      for (int i = 0; i < kSubframe; ++i) scaled[i] = shr(y[i], 2);
    scaledReady = true;
    return scaled;
  };
  bool ovf = false;
  Word32 s;
  if (1 + 2 * eYY <= kMax32) {
    s = static_cast<Word32>(1 + 2 * eYY);
  } else {
    ovf = true;
    s = macChain(1, quarter(), quarter(), ovf);
  }
  Word16 expYY, expXY;
  expYY = norm_l(s);
  const Word16 yy = round_fx(L_shl(s, expYY));
  if (ovf) expYY = sub(expYY, 4);
  ovf = false;
  if (energiesBoundSums(voksc::kern::dot(x, x, kSubframe), eYY)) {
    s = static_cast<Word32>(2 * cXY);
  } else {
    s = macChain(0, x, y, ovf);
    if (ovf) s = macChain(0, x, quarter(), ovf);
  }
  expXY = norm_l(s);
  Word16 xy = round_fx(L_shl(s, expXY));
  if (ovf) expXY = sub(expXY, 2);
  if (coeff) {
    coeff[0] = yy;
    coeff[1] = sub(15, expYY);
    coeff[2] = xy;
    coeff[3] = xy <= 0 ? Word16{-15} : sub(15, expXY);
  }
  if (xy <= 0) return 0;
  xy = shr(xy, 1);  // below yy, as div_s needs
  Word16 g = shr(div_s(xy, yy), sub(expXY, expYY));
  return g > 19661 ? Word16{19661} : g;
}

}  // namespace voksc::g729::pitch

using namespace voksc::g729::pitch;

namespace {
bool badDelay(const Vok16s* delay) { return delay[0] < 18 || delay[0] > 144 || delay[1] < -1 || delay[1] > 1; }
}  // namespace

VOKSC_EXPORT VokResult voksDecodeAdaptiveVector_G729_16s_I(const Vok16s* delay, Vok16s* excBuf) {
  if (anyNull(delay, excBuf)) return vokErrNullPtr;
  if (badDelay(delay)) return vokErrIndex;
  adaptiveVector(excBuf + kExcHistory, delay[0], delay[1], kSubframe);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecodeAdaptiveVector_G729_16s(const Vok16s* delay, Vok16s* excBuf, Vok16s* vec) {
  if (anyNull(delay, excBuf, vec)) return vokErrNullPtr;
  if (badDelay(delay)) return vokErrIndex;
  adaptiveVector(excBuf + kExcHistory, delay[0], delay[1], kSubframe);
  std::memcpy(vec, excBuf + kExcHistory, kSubframe * sizeof(Vok16s));
  return vokOk;
}

// x2 = x - y g: bits 14..29 of the product, subtracted modulo 2^16.
VOKSC_EXPORT VokResult voksAdaptiveCodebookContribution_G729_16s(Vok16s gain, const Vok16s* y, const Vok16s* x,
                                                                 Vok16s* x2) {
  if (anyNull(y, x, x2)) return vokErrNullPtr;
  for (int i = 0; i < kSubframe; ++i) {
    const uint16_t p = static_cast<uint16_t>((int32_t{y[i]} * gain) >> 14);
    x2[i] = static_cast<Vok16s>(static_cast<uint16_t>(x[i]) - p);
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookGain_G729_16s(const Vok16s* x, const Vok16s* h, const Vok16s* vec,
                                                         Vok16s* y, Vok16s* gainOut) {
  if (anyNull(x, h, vec, y, gainOut)) return vokErrNullPtr;
  int16_t yy[kSubframe];
  filterVector(vec, h, yy);
  *gainOut = gain(x, yy, nullptr);
  std::memcpy(y, yy, sizeof yy);
  return vokOk;
}

// Annex A: the vector filtered by 1/A(z) from zero state instead of by the
// impulse response.
VOKSC_EXPORT VokResult voksAdaptiveCodebookGain_G729A_16s(const Vok16s* x, const Vok16s* a, const Vok16s* vec,
                                                          Vok16s* y, Vok16s* gainOut) {
  if (anyNull(x, a, vec, y, gainOut)) return vokErrNullPtr;
  int16_t yy[kSubframe], mem[10] = {};
  voksc::g729::synthesisFilter(a, 10, vec, yy, kSubframe, mem, false);
  *gainOut = gain(x, yy, nullptr);
  std::memcpy(y, yy, sizeof yy);
  return vokOk;
}
