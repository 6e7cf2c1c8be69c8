// Step-size controllers of the subband echo canceller: per-subband
// normalised steps from the reference power in the filter's span, and the
// per-frame decision to save the adaptive filter into the backup (fixed)
// filter or to restore it from there, with a smoothed output gain.
// Float, fixed-point and fixed-point double-talk members.
#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "core/status.h"
#include "ec_internal.h"
#include "voksc.h"

namespace voksc::ec {
namespace {

constexpr int kMaxControllerSubbands = 1 << 24;  // keeps every size in 32 bits

// ---- float controller ------------------------------------------------------

struct Ctl32f {
  int32_t numSubbands, frameSize, numSegments, sampleFreq;
  float pn, a15, a9, a20, a10, gain, g, thr, smallStep;
  int32_t nearEnd;
};
constexpr int kHeader32f = 64;
static_assert(sizeof(Ctl32f) <= kHeader32f, "header");

float* arr32f(Ctl32f* c, int which) {
  return reinterpret_cast<float*>(reinterpret_cast<unsigned char*>(c) + kHeader32f) + int64_t{which} * c->numSubbands;
}
enum { kPa = 0, kPf = 1, kC = 2, kD = 3 };

// ---- fixed-point controller --------------------------------------------------

struct Ctl16s {
  int32_t numSubbands, frameSize, numSegments, sampleFreq;
  int32_t mu, pn, a15, a9, a20, a10, gain, g, thr, smallMant, smallExp, nearEnd;
};
constexpr int kHeader16s = 64;
static_assert(sizeof(Ctl16s) <= kHeader16s, "header");

int64_t arrayBytes(int nb) { return roundUp16(4 * int64_t{nb}); }
int32_t* arr16s(Ctl16s* c, int which) {
  return reinterpret_cast<int32_t*>(reinterpret_cast<unsigned char*>(c) + kHeader16s + which * arrayBytes(c->numSubbands));
}
enum { kPa16 = 0, kPf16 = 1, kC16 = 2, kScratch16 = 3, kD16 = 4 };

// ---- double-talk controller ----------------------------------------------------

struct CtlDT {
  int32_t numSubbands, frameSize, numSegments, sampleFreq;
  int32_t smallMant, smallExp, a15, thr;
  int64_t pa, pf, xsave, xs;
  int32_t u, v, w, h, m, mPrev, z, hang;
};
constexpr int kHeaderDT = 96;
static_assert(sizeof(CtlDT) <= kHeaderDT, "header");
constexpr int32_t kHangMax = 40000, kHangFloor = 36000;
constexpr int kDoubleTalkShift = 8;  // steps divided by 256 in double-talk mode
int32_t* arrDT(CtlDT* c, int which) {
  return reinterpret_cast<int32_t*>(reinterpret_cast<unsigned char*>(c) + kHeaderDT + which * arrayBytes(c->numSubbands));
}
enum { kCdt = 0, kGainA = 1, kGainB = 2, kArraysDT = 11 };

VokResult configChecks(int nb, int frameSize, int segs, int fs) {
  if (nb < 1 || frameSize < 1 || segs < 1 || nb > kMaxControllerSubbands) return vokErrBadArg;
  if (fs != 8000 && fs != 16000) return vokErrRange;
  return vokOk;
}

int64_t size32f(int nb) { return 16 * int64_t{nb} + 96; }
int64_t size16s(int nb) { return 5 * arrayBytes(nb) + 112; }
int64_t sizeDT(int nb) { return 11 * arrayBytes(nb) + ((16 * int64_t{nb} + 30) & ~int64_t{31}) + 160; }

// Smoothing factors for a time constant of tau seconds.
float factor32f(int frameSize, int fs, double tau) {
  const double n = fs * tau / frameSize;
  return static_cast<float>(1.0 - 1.0 / n + 1.0 / (2.0 * n * n));
}
int32_t factorQ14(int frameSize, int fs, int k) {
  const int64_t a = 16384 - int64_t{frameSize} * 16384 * k / fs;
  return static_cast<int32_t>(a < 0 ? 0 : a);
}
int32_t threshold16(int nb, int segs) {
  const int64_t t = int64_t{nb} * 100000 * segs / 1024;
  return static_cast<int32_t>(t > INT32_MAX ? INT32_MAX : t);
}

// |x|^2 2^-shift, rounded, saturated to 32 bits.
int32_t power(const Vok32sc& x, int shift) {
  const uint64_t e = static_cast<uint64_t>(int64_t{x.re} * x.re) + static_cast<uint64_t>(int64_t{x.im} * x.im);
  const uint64_t r = (e + (uint64_t{1} << (shift - 1))) >> shift;
  return r > INT32_MAX ? INT32_MAX : static_cast<int32_t>(r);
}
uint64_t addSatU(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
uint64_t energy(const Vok32sc& x) {
  return addSatU(static_cast<uint64_t>(int64_t{x.re} * x.re), static_cast<uint64_t>(int64_t{x.im} * x.im));
}
int32_t toSat32(uint64_t v) { return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v); }

// x a + v (1 - a) in Q14, rounded, saturated.
int32_t smoothQ14(int32_t x, int64_t v, int32_t a) {
  constexpr int64_t kBig = int64_t{1} << 40;
  v = v > kBig ? kBig : v < -kBig ? -kBig : v;
  return sat32((int64_t{x} * a + v * (16384 - a) + 8192) >> 14);
}

int normShift(int32_t c) {  // left shifts bringing c > 0 into [2^30, 2^31)
  int n = 0;
  while (c < (1 << 30)) {
    c <<= 1;
    ++n;
  }
  return n;
}

// The step pair of mu = 0.5 over a power c (c > 0) in units of 2^unitShift
// squared samples: mantissa 2^61 / (c normalised), in [2^30, 2^31), exponent
// 62 - n + unitShift, so that m 2^-x = 0.5 / (c 2^unitShift).
void stepPair(int32_t c, int unitShift, int extraShift, Vok32s* out) {
  const int n = normShift(c);
  const int64_t cn = int64_t{c} << n;
  const int64_t m = (int64_t{1} << 61) / cn;
  out[0] = static_cast<int32_t>(m > INT32_MAX ? INT32_MAX : m);
  out[1] = 62 - n + unitShift + extraShift;
}

template <class T>
void copyBand(T* const* from, T* const* to, int segs, int i) {
  for (int s = 0; s < segs; ++s) to[s][i] = from[s][i];
}

template <class T>
bool anyEntryNull(const T* const* v, int n) {
  for (int i = 0; i < n; ++i)
    if (v[i] == nullptr) return true;
  return false;
}

}  // namespace
}  // namespace voksc::ec

using namespace voksc;
using namespace voksc::ec;

// ---- float --------------------------------------------------------------------

VOKSC_EXPORT VokResult voksSubbandControllerGetSize_EC_32f(int numSubbands, int frameSize, int numSegments, int sampleFreq,
                                                           int* size) {
  if (VokResult r = configChecks(numSubbands, frameSize, numSegments, sampleFreq); r != vokOk) return r;
  if (size == nullptr) return vokErrNullPtr;
  *size = static_cast<int>(size32f(numSubbands));
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandControllerInit_EC_32f(SubbandControllerState_32f* state, int numSubbands, int frameSize,
                                                        int numSegments, int sampleFreq) {
  if (VokResult r = configChecks(numSubbands, frameSize, numSegments, sampleFreq); r != vokOk) return r;
  if (state == nullptr) return vokErrNullPtr;
  auto* c = alignUp<Ctl32f>(state);
  std::memset(c, 0, kHeader32f + 16 * static_cast<std::size_t>(numSubbands));
  c->numSubbands = numSubbands;
  c->frameSize = frameSize;
  c->numSegments = numSegments;
  c->sampleFreq = sampleFreq;
  c->a15 = factor32f(frameSize, sampleFreq, 0.015);
  c->a9 = factor32f(frameSize, sampleFreq, 0.009);
  c->a20 = factor32f(frameSize, sampleFreq, 0.020);
  c->a10 = factor32f(frameSize, sampleFreq, 0.010);
  c->gain = 1.0f;
  c->g = 1.0f;
  c->thr = static_cast<float>(numSubbands) * 100000.0f * static_cast<float>(numSegments);
  c->smallStep = 0.05f / c->thr;
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandControllerReset_EC_32f(SubbandControllerState_32f* state) {
  if (state == nullptr) return vokErrNullPtr;
  auto* c = alignUp<Ctl32f>(state);
  for (int a : {kPa, kPf, kD}) std::memset(arr32f(c, a), 0, 4 * static_cast<std::size_t>(c->numSubbands));
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandAPControllerUpdate_EC_32f(const Vok32fc* const* history, const Vok32fc* micSubbands,
                                                            Vok64f* steps, Vok32f mu, SubbandControllerState_32f* state) {
  if (anyNull(history, steps, state)) return vokErrNullPtr;
  if (!(mu >= 0.0f && mu <= 1.0f)) return vokErrRange;
  auto* c = alignUp<Ctl32f>(state);
  const int nb = c->numSubbands;
  if (history[0] == nullptr || history[c->numSegments - 1] == nullptr) return vokErrNullPtr;
  float* C = arr32f(c, kC);
  const Vok32fc* newest = history[0];
  const Vok32fc* oldest = history[c->numSegments - 1];
  for (int i = 0; i < nb; ++i) {
    C[i] += newest[i].re * newest[i].re + newest[i].im * newest[i].im;
    steps[i] = C[i] > c->thr ? static_cast<double>(mu) / C[i] : c->smallStep;
    C[i] -= oldest[i].re * oldest[i].re + oldest[i].im * oldest[i].im;
    if (!(C[i] > 0.0f)) C[i] = 0.0f;
  }
  float p = 0.0f;
  if (micSubbands != nullptr) {
    c->nearEnd = 1;
    for (int i = 0; i < nb; ++i) p += micSubbands[i].re * micSubbands[i].re + micSubbands[i].im * micSubbands[i].im;
  }
  c->pn = c->a15 * c->pn + (1.0f - c->a15) * p;
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandControllerUpdate_EC_32f(const Vok32f* refFrame, const Vok32f* micFrame,
                                                          const Vok32fc* const* history, const Vok32fc* micSubbands,
                                                          Vok64f* steps, SubbandControllerState_32f* state) {
  if (anyNull(refFrame, micFrame)) return vokErrNullPtr;
  return voksSubbandAPControllerUpdate_EC_32f(history, micSubbands, steps, 0.5f, state);
}

VOKSC_EXPORT VokResult voksSubbandController_EC_32f(const Vok32fc* adaptiveError, const Vok32fc* fixedError,
                                                    Vok32fc* const* adaptiveCoefs, Vok32fc* const* fixedCoefs, Vok32f* gain,
                                                    SubbandControllerState_32f* state) {
  if (anyNull(adaptiveError, fixedError, adaptiveCoefs, fixedCoefs, gain, state)) return vokErrNullPtr;
  auto* c = alignUp<Ctl32f>(state);
  const int nb = c->numSubbands, segs = c->numSegments;
  if (anyEntryNull(adaptiveCoefs, segs) || anyEntryNull(fixedCoefs, segs)) return vokErrNullPtr;
  float *Pa = arr32f(c, kPa), *Pf = arr32f(c, kPf), *D = arr32f(c, kD);
  float saved = 0, restored = 0, total = 0;
  for (int i = 0; i < nb; ++i) {
    float e = 0;
    for (int s = 0; s < segs; ++s) e += adaptiveCoefs[s][i].re * adaptiveCoefs[s][i].re + adaptiveCoefs[s][i].im * adaptiveCoefs[s][i].im;
    const float delta = D[i] > e ? D[i] - e : e - D[i];
    D[i] = c->a9 * D[i] + (1.0f - c->a9) * e;
    const Vok32fc fe = fixedError[i], ae = adaptiveError[i];
    Pf[i] = c->a15 * Pf[i] + (1.0f - c->a15) * (fe.re * fe.re + fe.im * fe.im);
    Pa[i] = c->a15 * Pa[i] + (1.0f - c->a15) * (ae.re * ae.re + ae.im * ae.im);
    if (0.1f * D[i] > delta && 0.35f * Pf[i] > Pa[i]) {
      copyBand(adaptiveCoefs, fixedCoefs, segs, i);
      Pf[i] = Pa[i];
      saved += Pa[i];
    } else if (Pa[i] > 1.5f * Pf[i]) {
      copyBand(fixedCoefs, adaptiveCoefs, segs, i);
      Pa[i] = Pf[i];
      restored += Pf[i];
    }
    total += Pf[i];
  }
  const bool s = saved > 0.1f * total, r = restored > 0.1f * total;
  if (s && (!c->nearEnd || 0.2f * c->pn > total))
    c->g = c->a20 * c->g;
  else if (r)
    c->g = c->a20 * c->g + 1.0f - c->a20;
  c->gain = c->a10 * c->gain + (1.0f - c->a10) * (c->g > 0.5f ? 1.0f : 0.0f);
  *gain = c->gain;
  return vokOk;
}

// ---- fixed point ------------------------------------------------------------------

VOKSC_EXPORT VokResult voksSubbandControllerGetSize_EC_16s(int numSubbands, int frameSize, int numSegments, int sampleFreq,
                                                           int* size) {
  if (VokResult r = configChecks(numSubbands, frameSize, numSegments, sampleFreq); r != vokOk) return r;
  if (size == nullptr) return vokErrNullPtr;
  *size = static_cast<int>(size16s(numSubbands));
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandControllerInit_EC_16s(SubbandControllerState_16s* state, int numSubbands, int frameSize,
                                                        int numSegments, int sampleFreq) {
  if (VokResult r = configChecks(numSubbands, frameSize, numSegments, sampleFreq); r != vokOk) return r;
  if (state == nullptr) return vokErrNullPtr;
  auto* c = alignUp<Ctl16s>(state);
  std::memset(c, 0, static_cast<std::size_t>(kHeader16s + 5 * arrayBytes(numSubbands)));
  c->numSubbands = numSubbands;
  c->frameSize = frameSize;
  c->numSegments = numSegments;
  c->sampleFreq = sampleFreq;
  c->mu = 1 << 30;
  c->a15 = factorQ14(frameSize, sampleFreq, 67);
  c->a9 = factorQ14(frameSize, sampleFreq, 111);
  c->a20 = factorQ14(frameSize, sampleFreq, 50);
  c->a10 = factorQ14(frameSize, sampleFreq, 100);
  c->gain = 32767;
  c->g = 16384;
  c->thr = threshold16(numSubbands, numSegments);
  c->smallMant = (1 << 30) / c->thr;
  c->smallExp = 102;
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandControllerReset_EC_16s(SubbandControllerState_16s* state) {
  if (state == nullptr) return vokErrNullPtr;
  auto* c = alignUp<Ctl16s>(state);
  for (int a : {kPa16, kPf16, kD16}) std::memset(arr16s(c, a), 0, 4 * static_cast<std::size_t>(c->numSubbands));
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandControllerUpdate_EC_16s(const Vok16s* refFrame, const Vok16s* micFrame,
                                                          const Vok32sc* const* history, const Vok32sc* micSubbands,
                                                          Vok32s* steps, SubbandControllerState_16s* state) {
  if (anyNull(refFrame, micFrame, history, steps, state)) return vokErrNullPtr;
  auto* c = alignUp<Ctl16s>(state);
  const int nb = c->numSubbands;
  if (history[0] == nullptr || history[c->numSegments - 1] == nullptr) return vokErrNullPtr;
  int32_t* C = arr16s(c, kC16);
  const Vok32sc* newest = history[0];
  const Vok32sc* oldest = history[c->numSegments - 1];
  for (int i = 0; i < nb; ++i) {
    C[i] = sat32(int64_t{C[i]} + power(newest[i], 10));
    if (C[i] <= c->thr) {
      steps[2 * i] = c->smallMant;
      steps[2 * i + 1] = c->smallExp;
    } else {
      stepPair(C[i], 10, 0, steps + 2 * i);
    }
    const int64_t rest = int64_t{C[i]} - power(oldest[i], 10);
    C[i] = static_cast<int32_t>(rest > 0 ? rest : 0);
  }
  int64_t p = 0;
  if (micSubbands != nullptr) {
    c->nearEnd = 1;
    uint64_t sum = 0;
    for (int i = 0; i < nb; ++i) sum = addSatU(sum, energy(micSubbands[i]));
    sum = addSatU(sum, 512) >> 10;
    p = static_cast<int64_t>(sum);
  }
  c->pn = smoothQ14(c->pn, p, c->a15);
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandController_EC_16s(const Vok32sc* adaptiveError, const Vok32sc* fixedError,
                                                    Vok32sc* const* adaptiveCoefs, Vok32sc* const* fixedCoefs, Vok16s* gain,
                                                    SubbandControllerState_16s* state) {
  if (anyNull(adaptiveError, fixedError, adaptiveCoefs, fixedCoefs, gain, state)) return vokErrNullPtr;
  auto* c = alignUp<Ctl16s>(state);
  const int nb = c->numSubbands, segs = c->numSegments;
  if (anyEntryNull(adaptiveCoefs, segs) || anyEntryNull(fixedCoefs, segs)) return vokErrNullPtr;
  int32_t *Pa = arr16s(c, kPa16), *Pf = arr16s(c, kPf16), *D = arr16s(c, kD16);
  int32_t saved = 0, restored = 0, total = 0;
  for (int i = 0; i < nb; ++i) {
    uint64_t sum = 0;
    for (int s = 0; s < segs; ++s) sum = addSatU(sum, energy(adaptiveCoefs[s][i]));
    const int32_t e = toSat32(addSatU(sum, 512) >> 10);
    const int64_t delta = D[i] > e ? int64_t{D[i]} - e : int64_t{e} - D[i];
    D[i] = smoothQ14(D[i], e, c->a9);
    Pf[i] = smoothQ14(Pf[i], power(fixedError[i], 10), c->a15);
    Pa[i] = smoothQ14(Pa[i], power(adaptiveError[i], 10), c->a15);
    if (int64_t{D[i]} > 10 * delta && int64_t{Pa[i]} < ((5734 * int64_t{Pf[i]} + 8192) >> 14)) {
      copyBand(adaptiveCoefs, fixedCoefs, segs, i);
      Pf[i] = Pa[i];
      saved = sat32(int64_t{saved} + Pa[i]);
    } else if (int64_t{Pf[i]} < ((10922 * int64_t{Pa[i]} + 8192) >> 14)) {
      copyBand(fixedCoefs, adaptiveCoefs, segs, i);
      Pa[i] = Pf[i];
      restored = sat32(int64_t{restored} + Pf[i]);
    }
    total = sat32(int64_t{total} + Pf[i]);
  }
  const bool s = 10 * int64_t{saved} > total, r = 10 * int64_t{restored} >= total;
  if (s && (!c->nearEnd || int64_t{c->pn} > 5 * int64_t{total}))
    c->g = static_cast<int32_t>((int64_t{c->g} * c->a20 + 8192) >> 14);
  else if (r)
    c->g = static_cast<int32_t>(((int64_t{c->g} - 16384) * c->a20 + (int64_t{1} << 28) + 8192) >> 14);
  const int64_t target = c->g < 8192 && (restored >= 100 || saved >= 100) ? 0 : 32767;
  c->gain = sat32((target * (16384 - c->a10) + int64_t{c->a10} * c->gain + 8192) >> 14);
  *gain = static_cast<Vok16s>(c->gain > 32767 ? 32767 : c->gain < -32768 ? -32768 : c->gain);
  return vokOk;
}

// ---- double-talk controller -----------------------------------------------------------

namespace {

void resetDT(CtlDT* c) {
  const int nb = c->numSubbands;
  std::memset(reinterpret_cast<unsigned char*>(c) + offsetof(CtlDT, pa), 0, sizeof(CtlDT) - offsetof(CtlDT, pa));
  std::memset(arrDT(c, 0), 0, static_cast<std::size_t>(kArraysDT * arrayBytes(nb) + ((16 * int64_t{nb} + 30) & ~int64_t{31})));
  for (int a : {kGainA, kGainB})
    for (int i = 0; i < nb; ++i) arrDT(c, a)[i] = 16384;
  c->hang = kHangMax;
}

// (x (16384 - a) + y a + 8192) >> 14 exactly for 64-bit x, y and a in 0..16384, saturated.
int64_t smoothQ14Wide(int64_t x, int64_t y, int32_t a) {
  const int64_t b = 16384 - a;
  const int64_t xh = x >> 14, xl = x & 0x3FFF, yh = y >> 14, yl = y & 0x3FFF;
  int64_t hi = 0;
  hi = addSat64(hi, xh > INT64_MAX / 16384 ? INT64_MAX : xh < INT64_MIN / 16384 ? INT64_MIN : xh * b);
  hi = addSat64(hi, yh > INT64_MAX / 16384 ? INT64_MAX : yh < INT64_MIN / 16384 ? INT64_MIN : yh * a);
  return addSat64(hi, (xl * b + yl * a + 8192) >> 14);
}

}  // namespace

VOKSC_EXPORT VokResult voksSubbandControllerDTGetSize_EC_16s(int numSubbands, int frameSize, int numSegments,
                                                             int sampleFreq, int* size) {
  if (VokResult r = configChecks(numSubbands, frameSize, numSegments, sampleFreq); r != vokOk) return r;
  if (size == nullptr) return vokErrNullPtr;
  *size = static_cast<int>(sizeDT(numSubbands));
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandControllerDTInit_EC_16s(SubbandControllerDTState_16s* state, int numSubbands,
                                                          int frameSize, int numSegments, int sampleFreq) {
  if (VokResult r = configChecks(numSubbands, frameSize, numSegments, sampleFreq); r != vokOk) return r;
  if (state == nullptr) return vokErrNullPtr;
  auto* c = alignUp<CtlDT>(state);
  std::memset(c, 0, kHeaderDT);
  c->numSubbands = numSubbands;
  c->frameSize = frameSize;
  c->numSegments = numSegments;
  c->sampleFreq = sampleFreq;
  c->thr = threshold16(numSubbands, numSegments);
  c->smallMant = (1 << 30) / c->thr;
  c->smallExp = 102;
  c->a15 = factorQ14(frameSize, sampleFreq, 67);
  resetDT(c);
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandControllerDTReset_EC_16s(SubbandControllerDTState_16s* state) {
  if (state == nullptr) return vokErrNullPtr;
  resetDT(alignUp<CtlDT>(state));
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandControllerDTUpdate_EC_16s(const Vok32sc* const* history, const Vok32sc* micSubbands,
                                                            Vok32s* steps, const Vok32s* doubleTalk, Vok64s* refLevel,
                                                            Vok64s* micLevel, int firstSubband,
                                                            SubbandControllerDTState_16s* state) {
  if (anyNull(history, micSubbands, steps, doubleTalk, refLevel, micLevel, state)) return vokErrNullPtr;
  auto* c = alignUp<CtlDT>(state);
  const int nb = c->numSubbands;
  if (firstSubband < 0 || firstSubband > nb) return vokErrRange;
  if (history[0] == nullptr || history[c->numSegments - 1] == nullptr) return vokErrNullPtr;
  // Hangover: full trust (kHangMax) returns one frame length per call; each
  // flagged call takes ten frame lengths, never below kHangFloor.
  const int64_t rise = int64_t{c->hang} + c->frameSize;
  int64_t hang = rise > kHangMax ? kHangMax : rise;
  if (*doubleTalk != 0) {
    hang -= 10 * int64_t{c->frameSize};
    if (hang < kHangFloor) hang = kHangFloor;
  }
  c->hang = static_cast<int32_t>(hang);
  c->m = c->hang < kHangMax ? 1 : 0;
  int32_t* C = arrDT(c, kCdt);
  const Vok32sc* newest = history[0];
  const Vok32sc* oldest = history[c->numSegments - 1];
  uint64_t ref = 0, mic = 0;
  for (int i = 0; i < nb; ++i) {
    const int32_t p = power(newest[i], 14);
    C[i] = sat32(int64_t{C[i]} + p);
    if (i < firstSubband) {
      steps[2 * i] = 0;
      steps[2 * i + 1] = 0;
    } else {
      ref = addSatU(ref, static_cast<uint64_t>(p));
      mic = addSatU(mic, static_cast<uint64_t>(power(micSubbands[i], 14)));
      if (16 * int64_t{C[i]} <= c->thr) {
        steps[2 * i] = c->smallMant;
        steps[2 * i + 1] = c->smallExp;
      } else {
        stepPair(C[i], 14, c->m ? kDoubleTalkShift : 0, steps + 2 * i);
      }
    }
    const int64_t rest = int64_t{C[i]} - power(oldest[i], 14);
    C[i] = static_cast<int32_t>(rest > 0 ? rest : 0);
  }
  *refLevel = static_cast<int64_t>(ref > INT64_MAX ? INT64_MAX : ref);
  *micLevel = static_cast<int64_t>(mic > INT64_MAX ? INT64_MAX : mic);
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandControllerDT_EC_16s(const Vok32sc* adaptiveError, const Vok32sc* fixedError,
                                                      Vok32sc* const* adaptiveCoefs, Vok32sc* const* fixedCoefs,
                                                      Vok64s* companion, Vok32s* result, Vok64s level, int updatePowers,
                                                      int force, int firstSubband, SubbandControllerDTState_16s* state) {
  if (anyNull(adaptiveError, fixedError, adaptiveCoefs, fixedCoefs, companion, result, state)) return vokErrNullPtr;
  auto* c = alignUp<CtlDT>(state);
  const int nb = c->numSubbands, segs = c->numSegments;
  if (firstSubband < 0 || firstSubband > nb) return vokErrRange;
  if (anyEntryNull(adaptiveCoefs, segs) || anyEntryNull(fixedCoefs, segs)) return vokErrNullPtr;
  if (c->m == 1 && c->mPrev == 0) c->pa = c->pf = 0;
  c->mPrev = c->m;
  *result = 0;
  if (force == 0 && level <= 0) return vokOk;

  bool savedNow = false;
  auto save = [&](bool fromPowers) {
    for (int i = firstSubband; i < nb; ++i) copyBand(adaptiveCoefs, fixedCoefs, segs, i);
    c->pf = c->pa;
    c->xsave = *companion;
    c->h = 0;
    *result = -1;
    savedNow = true;
    if (fromPowers) c->z = 1;
  };
  auto restore = [&](bool fromPowers) {
    for (int i = firstSubband; i < nb; ++i) copyBand(fixedCoefs, adaptiveCoefs, segs, i);
    c->pa = c->pf;
    *companion = c->xsave;
    *result = 1;
    if (fromPowers) c->z = 0;
  };

  const int32_t a = c->a15;
  if (updatePowers) {
    uint64_t sa = 0, sf = 0;
    for (int i = firstSubband; i < nb; ++i) {
      sa = addSatU(sa, addSatU(energy(adaptiveError[i]), 8192) >> 14);
      sf = addSatU(sf, addSatU(energy(fixedError[i]), 8192) >> 14);
    }
    auto smooth = [a](int64_t p, uint64_t s) {
      const uint64_t v = s >> 5;
      const int64_t vv = v > (uint64_t{1} << 46) ? int64_t{1} << 46 : static_cast<int64_t>(v);
      const int64_t pp = p > INT32_MAX ? INT32_MAX : p;
      return static_cast<int64_t>(sat32(((16384 - a) * vv + a * pp + 8192) >> 14));
    };
    c->pf = smooth(c->pf, sf);
    c->pa = smooth(c->pa, sa);
  }
  c->xs = smoothQ14Wide(*companion, c->xs, a);

  bool ruleA = false;
  if (c->m == 0) {
    c->h = sat32(int64_t{c->h} + c->frameSize);
    if (c->h > 4000 && level < (c->xs >> 10)) {
      save(false);
      ruleA = true;
    }
  } else {
    c->h = 0;
  }
  if (level >= (c->xs >> 13)) {
    c->v = c->v < 10 ? c->v + 1 : 10;
    c->u = 0;
    c->w = level > (c->xs >> 7) ? (c->w < 100 ? c->w + 1 : 100) : 0;
  } else {
    c->v = c->w = 0;
    c->u = c->u < INT32_MAX ? c->u + 1 : c->u;
    if (!(c->u <= 100 && level >= (c->xs >> 20))) {
      if (c->u > 100) c->u = 100;
      if (!ruleA) save(false);
    }
  }
  if (updatePowers) {
    if (c->v >= 10 && (c->w >= 11 || c->pa > c->pf)) restore(true);
    if (!savedNow && c->pa < (c->pf >> 3)) save(true);
  }
  if (force == 0 && level > 0 && c->m == 1 && c->z == 0) restore(false);
  return vokOk;
}
