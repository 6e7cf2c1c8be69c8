// Full-band echo canceller: the FIR echo estimate, sample-by-sample NLMS
// adaptation, and the controller that computes the normalised steps, keeps
// a fixed backup filter (saved when the adaptive filter has converged,
// restored when it diverges) and smooths an output gain per frame.
//
// The reference pointer x is the first sample of the frame; the caller's
// buffer holds tapLen earlier samples in front of it, read as x[-1],
// x[-2], ...  Controller objects are used from their first 16-byte boundary.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/cpu.h"
#include "core/state.h"
#include "core/status.h"

#if defined(VOKSC_X86)
#include <immintrin.h>
#endif

using voksc::anyNull;
using voksc::core::alignState16;

namespace {

int16_t sat16(int64_t v) { return static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v); }
int32_t sat32(int64_t v) { return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v); }

// (a*wa + b*wb + 8192) >> 14 saturated to 32 bits, without overflowing the
// 64-bit intermediate (b may be a large 64-bit energy).
int32_t blend14(int64_t a, int64_t wa, int64_t b, int64_t wb) {
  int64_t pa, pb, s;
  if (__builtin_mul_overflow(a, wa, &pa) || __builtin_mul_overflow(b, wb, &pb) || __builtin_add_overflow(pa, pb, &s) ||
      __builtin_add_overflow(s, int64_t{8192}, &s))
    return ((a >= 0) == (wa >= 0) && (b >= 0) == (wb >= 0)) ? INT32_MAX : INT32_MIN;
  return sat32(s >> 14);
}

struct FloatController {
  float spare, adaptivePower, fixedPower, coefEnergy, micPower;
  float a50, a20, a10;
  int32_t frameSize, tapLen;
  float gain, decision, threshold, smallStep;
};
struct FixedController {
  int64_t coefEnergy;
  int32_t spare, adaptivePower, fixedPower, micPower;
  int32_t a50, a20, a10;
  int32_t gain, decision, threshold, smallStep;
  int32_t frameSize, tapLen;
};
constexpr int kFloatSize = 72, kFixedSize = 96;
static_assert(sizeof(FloatController) + 15 <= kFloatSize, "float controller fits its reported size");
static_assert(sizeof(FixedController) + 15 <= kFixedSize, "fixed controller fits its reported size");

VokResult checkConfig(int frameSize, int tapLen, int fs) {
  if (frameSize < 1 || tapLen < 1) return vokErrBadArg;
  if (fs != 8000 && fs != 16000) return vokErrRange;
  return vokOk;
}

// Float smoothing factor for a time constant of tau seconds.
float smoothing(int fs, float tau, int frameSize) {
  const float n = static_cast<float>(fs) * tau / static_cast<float>(frameSize);
  return 1.0f - 1.0f / n + 1.0f / (2.0f * n * n);
}

}  // namespace

/* ---- filters ---------------------------------------------------------- */

namespace {

// e[n] = y[n] - sum_k h[k] x[n-k], the sum taken in tap order.
void firScalar(const float* x, const float* y, float* e, int len, const float* h, int tapLen) {
  for (int n = 0; n < len; ++n) {
    float sum = 0.0f;
    for (int k = 0; k < tapLen; ++k) sum += h[k] * x[n - k];
    e[n] = y[n] - sum;
  }
}

// Per sample each tap takes the carried correction g x[n-1-k], then
// filters; g = e[n] step[n] carries to the next sample.  Returns g.
float nlmsScalar(const float* x, const float* y, const float* steps, float* e, int len, float* taps, int tapLen, float g) {
  for (int n = 0; n < len; ++n) {
    float sum = 0.0f;
    for (int k = 0; k < tapLen; ++k) {
      taps[k] += g * x[n - 1 - k];
      sum += taps[k] * x[n - k];
    }
    e[n] = y[n] - sum;
    g = e[n] * steps[n];
  }
  return g;
}

#if defined(VOKSC_X86)
// Eight outputs per lane group, each summed in tap order with separate
// multiply and add: the same operations as the scalar form, so the same
// bits.  Blocks of 32 outputs share each broadcast tap.
VOKSC_TARGET_AVX2 void firAvx2(const float* x, const float* y, float* e, int len, const float* h, int tapLen) {
  int n = 0;
  for (; n + 32 <= len; n += 32) {
    __m256 s0 = _mm256_setzero_ps(), s1 = s0, s2 = s0, s3 = s0;
    for (int k = 0; k < tapLen; ++k) {
      const __m256 hk = _mm256_broadcast_ss(h + k);
      const float* xk = x + n - k;
      s0 = _mm256_add_ps(s0, _mm256_mul_ps(hk, _mm256_loadu_ps(xk)));
      s1 = _mm256_add_ps(s1, _mm256_mul_ps(hk, _mm256_loadu_ps(xk + 8)));
      s2 = _mm256_add_ps(s2, _mm256_mul_ps(hk, _mm256_loadu_ps(xk + 16)));
      s3 = _mm256_add_ps(s3, _mm256_mul_ps(hk, _mm256_loadu_ps(xk + 24)));
    }
    _mm256_storeu_ps(e + n, _mm256_sub_ps(_mm256_loadu_ps(y + n), s0));
    _mm256_storeu_ps(e + n + 8, _mm256_sub_ps(_mm256_loadu_ps(y + n + 8), s1));
    _mm256_storeu_ps(e + n + 16, _mm256_sub_ps(_mm256_loadu_ps(y + n + 16), s2));
    _mm256_storeu_ps(e + n + 24, _mm256_sub_ps(_mm256_loadu_ps(y + n + 24), s3));
  }
  for (; n + 8 <= len; n += 8) {
    __m256 s0 = _mm256_setzero_ps();
    for (int k = 0; k < tapLen; ++k)
      s0 = _mm256_add_ps(s0, _mm256_mul_ps(_mm256_broadcast_ss(h + k), _mm256_loadu_ps(x + n - k)));
    _mm256_storeu_ps(e + n, _mm256_sub_ps(_mm256_loadu_ps(y + n), s0));
  }
  if (n < len) firScalar(x + n, y + n, e + n, len - n, h, tapLen);
}

// Taps in blocks of eight against the reference read backwards (x[n-k]
// for k rising), the update and the filtering fused in one pass; the
// update is the scalar form's arithmetic (same taps for the same g), the
// filter sum is taken in two vector partial sums, the leftover taps and a
// final horizontal sum, so it differs from tap order only by rounding.
VOKSC_TARGET_AVX2 float nlmsAvx2(const float* x, const float* y, const float* steps, float* e, int len, float* taps,
                                 int tapLen, float g) {
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  const int vecTaps = tapLen & ~7;
  for (int n = 0; n < len; ++n) {
    const __m256 gv = _mm256_set1_ps(g);
    __m256 s0 = _mm256_setzero_ps(), s1 = s0;
    int k = 0;
    for (; k + 16 <= vecTaps; k += 16) {
      const __m256 xa = _mm256_permutevar8x32_ps(_mm256_loadu_ps(x + n - k - 7), reverse);
      const __m256 xb = _mm256_permutevar8x32_ps(_mm256_loadu_ps(x + n - k - 15), reverse);
      const __m256 pa = _mm256_permutevar8x32_ps(_mm256_loadu_ps(x + n - k - 8), reverse);
      const __m256 pb = _mm256_permutevar8x32_ps(_mm256_loadu_ps(x + n - k - 16), reverse);
      const __m256 ta = _mm256_add_ps(_mm256_loadu_ps(taps + k), _mm256_mul_ps(gv, pa));
      const __m256 tb = _mm256_add_ps(_mm256_loadu_ps(taps + k + 8), _mm256_mul_ps(gv, pb));
      _mm256_storeu_ps(taps + k, ta);
      _mm256_storeu_ps(taps + k + 8, tb);
      s0 = _mm256_add_ps(s0, _mm256_mul_ps(ta, xa));
      s1 = _mm256_add_ps(s1, _mm256_mul_ps(tb, xb));
    }
    for (; k < vecTaps; k += 8) {
      const __m256 xa = _mm256_permutevar8x32_ps(_mm256_loadu_ps(x + n - k - 7), reverse);
      const __m256 pa = _mm256_permutevar8x32_ps(_mm256_loadu_ps(x + n - k - 8), reverse);
      const __m256 ta = _mm256_add_ps(_mm256_loadu_ps(taps + k), _mm256_mul_ps(gv, pa));
      _mm256_storeu_ps(taps + k, ta);
      s0 = _mm256_add_ps(s0, _mm256_mul_ps(ta, xa));
    }
    float rest = 0.0f;
    for (; k < tapLen; ++k) {
      taps[k] += g * x[n - 1 - k];
      rest += taps[k] * x[n - k];
    }
    const __m256 s = _mm256_add_ps(s0, s1);
    __m128 h = _mm_add_ps(_mm256_castps256_ps128(s), _mm256_extractf128_ps(s, 1));
    h = _mm_add_ps(h, _mm_movehl_ps(h, h));
    h = _mm_add_ss(h, _mm_movehdup_ps(h));
    e[n] = y[n] - (_mm_cvtss_f32(h) + rest);
    g = e[n] * steps[n];
  }
  return g;
}
#else
constexpr auto firAvx2 = firScalar;
constexpr auto nlmsAvx2 = nlmsScalar;
#endif

}  // namespace


VOKSC_EXPORT VokResult voksFIR_EC_32f(const Vok32f* x, const Vok32f* y, Vok32f* e, int len, const Vok32f* h, int tapLen) {
  if (anyNull(x, y, e, h)) return vokErrNullPtr;
  if (len < 1 || tapLen < 1) return vokErrBadArg;
  static const auto form = voksc::cpu::choose(firScalar, firAvx2);
  form(x, y, e, len, h, tapLen);
  return vokOk;
}

VOKSC_EXPORT VokResult voksFIR_EC_16s(const Vok16s* x, const Vok16s* y, Vok16s* e, int len, const Vok16s* h, int tapLen) {
  if (anyNull(x, y, e, h)) return vokErrNullPtr;
  if (len < 1 || tapLen < 1) return vokErrBadArg;
  for (int n = 0; n < len; ++n) {
    int64_t sum = 0;  // products rounded one by one, summed exactly
    for (int k = 0; k < tapLen; ++k) sum += (static_cast<int32_t>(h[k]) * x[n - k] + 16384) >> 15;
    e[n] = sat16(y[n] - sum);
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksNLMS_EC_32f(const Vok32f* x, const Vok32f* y, const Vok32f* steps, Vok32f* e, int len,
                                       Vok32f* taps, int tapLen, Vok32f* carried) {
  if (anyNull(x, y, e, taps, steps, carried)) return vokErrNullPtr;
  if (len < 1 || tapLen < 1) return vokErrBadArg;
  static const auto form = voksc::cpu::choose(nlmsScalar, nlmsAvx2);
  *carried = form(x, y, steps, e, len, taps, tapLen, *carried);
  return vokOk;
}

VOKSC_EXPORT VokResult voksNLMS_EC_16s(const Vok16s* x, const Vok16s* y, const Vok32s* steps, Vok16s* e, int len,
                                       Vok16s* taps, int tapLen, Vok16s* carried) {
  if (anyNull(x, y, e, taps, steps, carried)) return vokErrNullPtr;
  if (len < 1 || tapLen < 1) return vokErrBadArg;
  int32_t g = *carried;
  for (int n = 0; n < len; ++n) {
    int32_t sum = 0;
    for (int k = 0; k < tapLen; ++k) {
      taps[k] = sat16(taps[k] + ((static_cast<int64_t>(x[n - 1 - k]) * g + 4096) >> 13));
      sum = sat32(static_cast<int64_t>(sum) + ((static_cast<int32_t>(taps[k]) * x[n - k] + 16384) >> 15));
    }
    e[n] = sat16(static_cast<int64_t>(y[n]) - sum);
    g = sat32((static_cast<int64_t>(steps[n]) * e[n] + 1024) >> 11);
  }
  *carried = sat16(g);
  return vokOk;
}

/* ---- controller: set-up ---------------------------------------------- */

VOKSC_EXPORT VokResult voksFullbandControllerGetSize_EC_32f(int frameSize, int tapLen, int fs, int* size) {
  if (anyNull(size)) return vokErrNullPtr;
  if (VokResult r = checkConfig(frameSize, tapLen, fs)) return r;
  *size = kFloatSize;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFullbandControllerGetSize_EC_16s(int frameSize, int tapLen, int fs, int* size) {
  if (anyNull(size)) return vokErrNullPtr;
  if (VokResult r = checkConfig(frameSize, tapLen, fs)) return r;
  *size = kFixedSize;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFullbandControllerInit_EC_32f(FullbandControllerState_32f* state, int frameSize, int tapLen, int fs) {
  if (anyNull(state)) return vokErrNullPtr;
  if (VokResult r = checkConfig(frameSize, tapLen, fs)) return r;
  auto& s = *alignState16<FloatController>(state);
  s = FloatController{};
  s.a50 = smoothing(fs, 0.05f, frameSize);
  s.a20 = smoothing(fs, 0.02f, frameSize);
  s.a10 = smoothing(fs, 0.01f, frameSize);
  s.frameSize = frameSize;
  s.tapLen = tapLen;
  s.gain = 1.0f;
  s.decision = 1.0f;
  s.threshold = 1.5e6f * static_cast<float>(tapLen);
  s.smallStep = 1.0f / s.threshold;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFullbandControllerInit_EC_16s(FullbandControllerState_16s* state, int frameSize, int tapLen, int fs) {
  if (anyNull(state)) return vokErrNullPtr;
  if (VokResult r = checkConfig(frameSize, tapLen, fs)) return r;
  auto& s = *alignState16<FixedController>(state);
  s = FixedController{};
  const int64_t f = frameSize;
  s.a50 = sat32(16384 - f * 327680 / fs);
  s.a20 = sat32(16384 - f * 819200 / fs);
  s.a10 = sat32(16384 - f * 1638400 / fs);
  s.gain = 32767;
  s.decision = 16384;
  s.threshold = sat32((int64_t{1500000} * tapLen + 128) >> 8);
  s.smallStep = (int32_t{1} << 30) / s.threshold;
  s.frameSize = frameSize;
  s.tapLen = tapLen;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFullbandControllerReset_EC_32f(FullbandControllerState_32f* state) {
  if (anyNull(state)) return vokErrNullPtr;
  auto& s = *alignState16<FloatController>(state);
  s.spare = s.adaptivePower = s.fixedPower = s.coefEnergy = 0.0f;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFullbandControllerReset_EC_16s(FullbandControllerState_16s* state) {
  if (anyNull(state)) return vokErrNullPtr;
  auto& s = *alignState16<FixedController>(state);
  s.coefEnergy = 0;
  s.spare = s.adaptivePower = s.fixedPower = 0;
  return vokOk;
}

/* ---- controller: steps ----------------------------------------------- */

// Steps 0.5/E with E the reference energy over the tapLen samples before
// each sample (a sliding window), or the small step while E <= T.
VOKSC_EXPORT VokResult voksFullbandControllerUpdate_EC_32f(const Vok32f* x, const Vok32f* y, Vok32f* steps,
                                                          FullbandControllerState_32f* state) {
  if (anyNull(x, y, steps, state)) return vokErrNullPtr;
  auto& s = *alignState16<FloatController>(state);
  const int taps = s.tapLen, frame = s.frameSize;
  float energy = 0.0f;
  for (int k = 1; k <= taps; ++k) energy += x[-k] * x[-k];
  for (int n = 0; n < frame; ++n) {
    if (n > 0) energy += x[n - 1] * x[n - 1] - x[n - 1 - taps] * x[n - 1 - taps];
    steps[n] = energy > s.threshold ? 0.5f / energy : s.smallStep;
  }
  float mic = 0.0f;
  for (int n = 0; n < frame; ++n) mic += y[n] * y[n];
  s.micPower = s.a50 * s.micPower + (1.0f - s.a50) * mic;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFullbandControllerUpdate_EC_16s(const Vok16s* x, const Vok16s* y, Vok32s* steps,
                                                          FullbandControllerState_16s* state) {
  if (anyNull(x, y, steps, state)) return vokErrNullPtr;
  auto& s = *alignState16<FixedController>(state);
  const int taps = s.tapLen, frame = s.frameSize;
  auto square8 = [](int32_t v) { return (v * v + 128) >> 8; };
  int64_t sum = 0;
  for (int k = 1; k <= taps; ++k) sum += static_cast<int32_t>(x[-k]) * x[-k];
  int32_t energy = sat32((sum + 128) >> 8);
  for (int n = 0; n < frame; ++n) {
    if (n > 0) energy = sat32(static_cast<int64_t>(energy) + square8(x[n - 1]) - square8(x[n - 1 - taps]));
    steps[n] = energy > s.threshold && energy > 0 ? (int32_t{1} << 30) / energy : s.smallStep;
  }
  int64_t mic = 0;
  for (int n = 0; n < frame; ++n) mic += static_cast<int32_t>(y[n]) * y[n];
  const int32_t p = sat32((mic + 8) >> 4);
  s.micPower = blend14(s.micPower, s.a50, p, 16384 - int64_t{s.a50});
  return vokOk;
}

/* ---- controller: backup filter and gain ------------------------------ */

VOKSC_EXPORT VokResult voksFullbandController_EC_32f(const Vok32f* adaptiveError, const Vok32f* fixedError,
                                                    Vok32f* adaptiveTaps, Vok32f* fixedTaps, Vok32f* gain,
                                                    FullbandControllerState_32f* state) {
  if (anyNull(adaptiveError, fixedError, adaptiveTaps, fixedTaps, gain, state)) return vokErrNullPtr;
  auto& s = *alignState16<FloatController>(state);
  const int taps = s.tapLen, frame = s.frameSize;
  float ea = 0.0f, ef = 0.0f, ec = 0.0f;
  for (int n = 0; n < frame; ++n) ea += adaptiveError[n] * adaptiveError[n];
  for (int n = 0; n < frame; ++n) ef += fixedError[n] * fixedError[n];
  s.adaptivePower = s.a50 * s.adaptivePower + (1.0f - s.a50) * ea;
  s.fixedPower = s.a50 * s.fixedPower + (1.0f - s.a50) * ef;
  for (int k = 0; k < taps; ++k) ec += adaptiveTaps[k] * adaptiveTaps[k];
  const float change = std::fabs(s.coefEnergy - ec);
  s.coefEnergy = s.a50 * s.coefEnergy + (1.0f - s.a50) * ec;
  if (0.1f * s.fixedPower > s.adaptivePower && 0.2f * ec > change) {  // converged: save
    std::memmove(fixedTaps, adaptiveTaps, sizeof(float) * taps);
    s.fixedPower = s.adaptivePower;
    s.decision = s.a20 * s.decision;
  } else if (s.adaptivePower > 1.3f * s.fixedPower) {  // diverged: restore
    std::memmove(adaptiveTaps, fixedTaps, sizeof(float) * taps);
    s.adaptivePower = s.fixedPower;
    s.decision = s.a20 * s.decision + (1.0f - s.a20);
  }
  float target = 1.0f;
  if (s.decision < 0.5f && 0.2f * s.micPower > s.fixedPower) target = 0.0f;
  s.gain = s.a10 * s.gain + (1.0f - s.a10) * target;
  *gain = s.gain;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFullbandController_EC_16s(const Vok16s* adaptiveError, const Vok16s* fixedError,
                                                    Vok16s* adaptiveTaps, Vok16s* fixedTaps, Vok16s* gain,
                                                    FullbandControllerState_16s* state) {
  if (anyNull(adaptiveError, fixedError, adaptiveTaps, fixedTaps, gain, state)) return vokErrNullPtr;
  auto& s = *alignState16<FixedController>(state);
  const int taps = s.tapLen, frame = s.frameSize;
  const int64_t keep = s.a50, take = 16384 - keep;
  int64_t ea = 0, ef = 0, ec = 0;
  for (int n = 0; n < frame; ++n) ea += static_cast<int32_t>(adaptiveError[n]) * adaptiveError[n];
  for (int n = 0; n < frame; ++n) ef += static_cast<int32_t>(fixedError[n]) * fixedError[n];
  s.adaptivePower = blend14(s.adaptivePower, keep, sat32((ea + 8) >> 4), take);
  s.fixedPower = blend14(s.fixedPower, keep, sat32((ef + 8) >> 4), take);
  for (int k = 0; k < taps; ++k) ec += static_cast<int32_t>(adaptiveTaps[k]) * adaptiveTaps[k];  // Q30
  int64_t diff;
  const int64_t change = __builtin_sub_overflow(s.coefEnergy, ec, &diff) || diff == INT64_MIN ? INT64_MAX
                         : diff < 0                                                        ? -diff
                                                                                           : diff;
  s.coefEnergy = blend14(s.coefEnergy > INT32_MAX ? INT32_MAX : s.coefEnergy, keep, ec, take);
  int64_t change5;
  const bool steady = !__builtin_mul_overflow(change, int64_t{5}, &change5) && ec > change5;
  const int64_t pa = s.adaptivePower, pf = s.fixedPower, a20 = s.a20;
  if (pf > 10 * pa && steady) {
    std::memmove(fixedTaps, adaptiveTaps, sizeof(Vok16s) * taps);
    s.fixedPower = s.adaptivePower;
    s.decision = sat32((s.decision * a20 + 8192) >> 14);
  } else if (pf < ((12603 * pa + 8192) >> 14)) {
    std::memmove(adaptiveTaps, fixedTaps, sizeof(Vok16s) * taps);
    s.adaptivePower = s.fixedPower;
    s.decision = sat32(((s.decision - int64_t{16384}) * a20 + (int64_t{1} << 28) + 8192) >> 14);
  }
  const int64_t target = (s.decision < 8192 && pf < ((3276 * static_cast<int64_t>(s.micPower) + 8192) >> 14)) ? 0 : 32767;
  s.gain = sat32((s.gain * static_cast<int64_t>(s.a10) + target * (16384 - int64_t{s.a10}) + 8192) >> 14);
  *gain = sat16(s.gain);
  return vokOk;
}
