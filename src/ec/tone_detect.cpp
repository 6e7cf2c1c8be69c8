// 2100 Hz answer-tone detection with phase reversals.  A two-pole resonator
// at 2100 Hz feeds a smoothed band power Pb that is compared with the
// smoothed input power Px: while Pb carries most of Px the tone lasts (d
// counts samples); a short dip of Pb is a phase reversal, counted when the
// tone before it lasted between 413 and 466 ms.  Two counted reversals
// report the tone.  The objects are used from their first 16-byte boundary.
#include <cstdint>

#include "core/state.h"
#include "core/status.h"

using voksc::anyNull;
using voksc::core::alignState16;

namespace {

struct Resonator {
  float c[4];
  int16_t q12[4];
  float lambda;
  int16_t lambdaQ14;
};
// y[n] = c0 x[n] + c1 x[n-2] - c2 y[n-1] - c3 y[n-2], poles at 2100 Hz.
constexpr Resonator kResonators[2] = {
    {{0.0378047526f, -0.0378047526f, 0.151102439f, 0.924390495f}, {155, -155, 619, 3786}, 0.96f, 15728},
    {{0.019259274f, -0.019259274f, -1.33171177f, 0.961481452f}, {79, -79, -5455, 3938}, 0.92f, 15073},
};

// Limits in samples: shortest and longest tone segment between reversals,
// longest dip.
struct Limits {
  int32_t minRun, maxRun, maxGap;
};
Limits limitsFor(int fs) { return {fs * 413 / 1000, fs * 466 / 1000, fs / 50}; }

struct FloatDetector {
  int32_t rate;  // 0: 8000 Hz, 1: 16000 Hz
  float bandPower, inPower, x1, x2, y1, y2, lambda;
  int32_t run, minRun, maxRun, gap, maxGap, reversals;
};
struct FixedDetector {
  int32_t rate;
  uint32_t bandPower, inPower;
  int16_t x1, x2, y1, y2;
  int32_t run, minRun, maxRun, gap, maxGap, reversals;
  int16_t lambda;
};
// Both report 16 bytes of alignment slack beyond the object.
constexpr int kFloatSize = 72, kFixedSize = 64;
static_assert(sizeof(FloatDetector) + 15 <= kFloatSize, "float detector fits its reported size");
static_assert(sizeof(FixedDetector) + 15 <= kFixedSize, "fixed detector fits its reported size");

bool rateOk(int fs) { return fs == 8000 || fs == 16000; }
// An object whose rate field was damaged still indexes a valid table.
const Resonator& resonatorOf(int32_t rate) { return kResonators[rate == 1 ? 1 : 0]; }

// Shared counting once a sample has been classified.  Returns true when a
// reversal was counted and brought the count to two or more.
template <class D>
bool countReversal(D& s, bool deepDip) {
  bool reported = false;
  if (deepDip && s.run > s.minRun && s.run < s.maxRun) {
    s.reversals = s.reversals < INT32_MAX ? s.reversals + 1 : s.reversals;
    reported = s.reversals >= 2;
    s.run = 0;
  }
  if (s.gap >= s.maxGap) {  // the dip lasted too long: not a reversal pattern
    s.reversals = s.run = s.gap = 0;
  } else {
    ++s.gap;
  }
  return reported;
}

int32_t clampCount(int32_t v) { return v < INT32_MAX ? v + 1 : v; }

int16_t sat16(int32_t v) { return static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v); }

}  // namespace

VOKSC_EXPORT VokResult voksToneDetectGetStateSize_EC_32f(int fs, int* size) {
  if (anyNull(size)) return vokErrNullPtr;
  if (!rateOk(fs)) return vokErrRange;
  *size = kFloatSize;
  return vokOk;
}

VOKSC_EXPORT VokResult voksToneDetectGetStateSize_EC_16s(int fs, int* size) {
  if (anyNull(size)) return vokErrNullPtr;
  if (!rateOk(fs)) return vokErrRange;
  *size = kFixedSize;
  return vokOk;
}

VOKSC_EXPORT VokResult voksToneDetectInit_EC_32f(ToneDetectState_EC_32f* state, int fs) {
  if (anyNull(state)) return vokErrNullPtr;
  if (!rateOk(fs)) return vokErrRange;
  auto& s = *alignState16<FloatDetector>(state);
  s = FloatDetector{};
  s.rate = fs == 16000;
  s.lambda = resonatorOf(s.rate).lambda;
  const Limits l = limitsFor(fs);
  s.minRun = l.minRun;
  s.maxRun = l.maxRun;
  s.maxGap = l.maxGap;
  return vokOk;
}

VOKSC_EXPORT VokResult voksToneDetectInit_EC_16s(ToneDetectState_EC_16s* state, int fs) {
  if (anyNull(state)) return vokErrNullPtr;
  if (!rateOk(fs)) return vokErrRange;
  auto& s = *alignState16<FixedDetector>(state);
  s = FixedDetector{};
  s.rate = fs == 16000;
  s.lambda = resonatorOf(s.rate).lambdaQ14;
  const Limits l = limitsFor(fs);
  s.minRun = l.minRun;
  s.maxRun = l.maxRun;
  s.maxGap = l.maxGap;
  return vokOk;
}

VOKSC_EXPORT VokResult voksToneDetect_EC_32f(const Vok32f* src, int len, int* result, ToneDetectState_EC_32f* state) {
  if (anyNull(src, result, state)) return vokErrNullPtr;
  if (len < 1) return vokErrBadArg;
  auto& s = *alignState16<FloatDetector>(state);
  const float* c = resonatorOf(s.rate).c;
  const float lam = s.lambda, rest = 1.0f - s.lambda;
  bool found = false;
  for (int n = 0; n < len; ++n) {
    const float x = src[n];
    const float y = c[0] * x + c[1] * s.x2 - c[2] * s.y1 - c[3] * s.y2;
    s.x2 = s.x1;
    s.x1 = x;
    s.y2 = s.y1;
    s.y1 = y;
    s.inPower = lam * s.inPower + rest * (x * x);
    s.bandPower = rest * (y * y) + lam * s.bandPower;
    const float pb = s.bandPower, px = s.inPower;
    if (pb > 0.8f * px && 10000.0f * px > pb) {
      s.run = clampCount(s.run);
      s.gap = 0;
    } else if (pb > 0.0008f * px && px > pb) {
      found |= countReversal(s, pb < 0.48f * px);
    } else {
      s.run = 0;
      s.gap = 0;
    }
  }
  *result = found ? 1 : 0;
  return vokOk;
}

VOKSC_EXPORT VokResult voksToneDetect_EC_16s(const Vok16s* src, int len, int* result, ToneDetectState_EC_16s* state) {
  if (anyNull(src, result, state)) return vokErrNullPtr;
  if (len < 1) return vokErrBadArg;
  auto& s = *alignState16<FixedDetector>(state);
  const int16_t* c = resonatorOf(s.rate).q12;
  // Products in 64 bits: a power near 2^30 times a Q14 factor does not fit
  // 32 bits, and a wrapped product would misjudge the band power.
  const uint64_t lam = static_cast<uint16_t>(s.lambda), rest = lam <= 16384 ? 16384 - lam : 0;
  bool found = false;
  for (int n = 0; n < len; ++n) {
    const int32_t x = src[n];
    const int32_t acc = x * c[0] + s.x2 * c[1] - (s.y1 * c[2] + s.y2 * c[3]) + 2048;
    const int16_t y = sat16(acc >> 12);
    s.x2 = s.x1;
    s.x1 = static_cast<int16_t>(x);
    s.y2 = s.y1;
    s.y1 = y;
    s.inPower = static_cast<uint32_t>((s.inPower * lam + static_cast<uint64_t>(x * x) * rest) >> 14);
    s.bandPower = static_cast<uint32_t>((s.bandPower * lam + static_cast<uint64_t>(y * y) * rest) >> 14);
    const uint64_t px = s.inPower;
    if (s.bandPower > (px * 13107) >> 14) {
      s.run = clampCount(s.run);
      s.gap = 0;
    } else {
      found |= countReversal(s, s.bandPower < (px * 7864) >> 14);
    }
  }
  *result = found ? 1 : 0;
  return vokOk;
}
