// Spectral noise filter of the RTA family: one frame per call (80 samples
// at 8000 Hz, 160 at the other rates), a 256-point transform of the frame
// and the D = min(frame, 96) samples before it under a flat-top window with
// sine tapers, a per-bin gain from the signal-to-noise power ratio, and
// overlap-add with the same window (the tapers' squares sum to one).  The
// noise power per bin follows the minimum of the smoothed signal power and
// rises from it slowly.  The state holds no pointers and is used from its
// first 16-byte boundary.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/state.h"
#include "core/status.h"
#include "denoise/denoise_internal.h"
#include "denoise/transform.h"

using voksc::anyNull;
using voksc::core::alignState16;

namespace voksc::denoise {
namespace {

constexpr int kSize = 256, kRtaBins = kSize / 2 + 1, kMaxFrame = 160, kMaxTaper = 96;
constexpr float kFloors[4] = {1.0f, 0.5f, 0.3f, 0.08f};
// The minimum of a smoothed noise power lies below its mean, and a noise
// bin's power scatters above its mean from frame to frame; the tracked
// minimum is raised by this factor (5.4 dB) before it is used, which keeps
// most noise bins at the floor.
constexpr float kMinimumBias = 3.5f;

struct RtaState {
  int32_t fs, frameLen, frames;
  float gmin, gmax;
  float rise;  // growth of the noise power per frame (5 dB/s)
  float window[kSize];
  float input[kSize];
  float overlap[kSize];
  float P[kRtaBins], N[kRtaBins];
  float re[kRtaBins], im[kRtaBins];
};
constexpr int kStateSize = core::alignedStateSize(sizeof(RtaState));

bool rateOk(int fs) { return fs == 8000 || fs == 16000 || fs == 22050 || fs == 32000; }

void initState(RtaState& s, int fs) {
  std::memset(&s, 0, sizeof s);
  s.fs = fs;
  s.frameLen = fs == 8000 ? 80 : kMaxFrame;
  s.gmax = 1.0f;
  s.gmin = kFloors[2];
  const double framesPerSecond = static_cast<double>(fs) / s.frameLen;
  s.rise = static_cast<float>(std::pow(10.0, 0.5 / framesPerSecond));
  const int L = s.frameLen, D = std::min(L, kMaxTaper);
  for (int i = 0; i < L + D; ++i) {
    double w = 1.0;
    if (i < D) w = std::sin(3.14159265358979323846 * (i + 0.5) / (2 * D));
    if (i >= L) w = std::cos(3.14159265358979323846 * (i - L + 0.5) / (2 * D));
    s.window[i] = static_cast<float>(w);
  }
}

VokResult filterFrame(const float* src, float* dst, RtaState& s) {
  const int L = s.frameLen;
  if (L < 1 || L > kMaxFrame) return vokErrIndex;
  for (int i = 0; i < L; ++i)
    if (!std::isfinite(src[i])) return vokErrRange;
  const fft::RealFftSpec_32f* plan = rtaTransform();
  if (plan == nullptr) return vokErrInternal;
  const int D = std::min(L, kMaxTaper), T = L + D;
  std::memmove(s.input, s.input + L, sizeof(float) * D);
  std::memcpy(s.input + D, src, sizeof(float) * L);

  alignas(32) float frame[kSize], spectrum[kSize + 2];
  for (int i = 0; i < T; ++i) frame[i] = s.input[i] * s.window[i];
  std::fill(frame + T, frame + kSize, 0.0f);
  fft::realFftFwd_32f(frame, spectrum, plan, nullptr);

  // Noise estimate: smoothed power, its running minimum rising 5 dB/s.
  const bool first = s.frames <= 0;
  s.frames = s.frames < INT32_MAX ? s.frames + 1 : s.frames;
  for (int k = 0; k < kRtaBins; ++k) {
    s.re[k] = spectrum[2 * k];
    s.im[k] = spectrum[2 * k + 1];
    const float power = s.re[k] * s.re[k] + s.im[k] * s.im[k];
    s.P[k] = first ? power : 0.5f * s.P[k] + 0.5f * power;
    if (first || s.P[k] < s.N[k])
      s.N[k] = s.P[k];
    else
      s.N[k] *= s.rise;
  }
  for (int k = 0; k < kRtaBins; ++k) {
    const float noise = kMinimumBias * s.N[k];
    const float r = noise > 0 ? s.P[k] / noise : (s.P[k] > 0 ? 1e30f : 1.0f);
    const float g = rtaGain(r, s.gmin, s.gmax);
    spectrum[2 * k] = s.re[k] * g;
    spectrum[2 * k + 1] = s.im[k] * g;
  }
  fft::realFftInv_32f(spectrum, frame, plan, nullptr);
  for (int i = 0; i < T; ++i) s.overlap[i] += frame[i] * s.window[i];
  std::memcpy(dst, s.overlap, sizeof(float) * L);
  std::memmove(s.overlap, s.overlap + L, sizeof(float) * D);
  std::fill(s.overlap + D, s.overlap + kSize, 0.0f);
  return vokOk;
}

}  // namespace

float rtaGain(float r, float gmin, float gmax) {
  if (r > 1.0f + 30.0f * gmax * gmax) return gmax;
  if (r < 1.0f + 30.0f * gmin * gmin) return gmin;
  return std::sqrt((r - 1.0f) / 30.0f);
}

}  // namespace voksc::denoise

using namespace voksc::denoise;

VOKSC_EXPORT VokResult voksFilterNoiseGetStateSize_RTA_32f(int fs, int* size) {
  if (size == nullptr) return vokErrNullPtr;
  if (!rateOk(fs)) return vokErrRange;
  *size = kStateSize;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFilterNoiseInit_RTA_32f(int fs, FilterNoiseState_RTA_32f* state) {
  if (state == nullptr) return vokErrNullPtr;
  if (!rateOk(fs)) return vokErrRange;
  initState(*alignState16<RtaState>(state), fs);
  return vokOk;
}

VOKSC_EXPORT VokResult voksFilterNoiseLevel_RTA_32f(int level, FilterNoiseState_RTA_32f* state) {
  if (state == nullptr) return vokErrNullPtr;
  if (level < 0 || level > 3) return vokErrRange;
  alignState16<RtaState>(state)->gmin = kFloors[level];
  return vokOk;
}

VOKSC_EXPORT VokResult voksFilterNoise_RTA_32f(const Vok32f* src, Vok32f* dst, FilterNoiseState_RTA_32f* state) {
  if (anyNull(src, dst, state)) return vokErrNullPtr;
  return filterFrame(src, dst, *alignState16<RtaState>(state));
}

VOKSC_EXPORT VokResult voksFilterNoise_RTA_32f_I(Vok32f* srcDst, FilterNoiseState_RTA_32f* state) {
  if (anyNull(srcDst, state)) return vokErrNullPtr;
  return filterFrame(srcDst, srcDst, *alignState16<RtaState>(state));
}
