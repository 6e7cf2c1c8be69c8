// RTA front end: the two-band QMF (analysis and synthesis with one
// symmetric prototype of 24 or 48 taps) and the level-following band-pass.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/status.h"

using voksc::anyNull;

namespace {

constexpr int kMaxFrame = 640;
constexpr int kMaxTaps = 48;

// First halves of the symmetric prototypes (h[T-1-k] = h[k]).
constexpr float kHalf24[12] = {0.000383309613f, -0.00139291096f, -0.00137386099f, 0.00648587896f,
                               0.00144646096f,  -0.0190199297f,  0.00389152206f,  0.0442397594f,
                               -0.0256153308f,  -0.0982978269f,  0.116035499f,    0.473128915f};
constexpr float kHalf48[24] = {-1.46190696e-05f, -9.205479e-05f,   -5.61575689e-05f, 0.000301172695f,
                               0.000242251903f,  -0.000852938974f, -0.000520557398f, 0.00203401688f,
                               0.00078333891f,   -0.00421538623f,  -0.000756149879f, 0.00784029439f,
                               -6.11699215e-05f, -0.0134416204f,   0.00246268208f,   0.0217360891f,
                               -0.00780167105f,  -0.0340902209f,   0.0188094899f,    0.054326009f,
                               -0.0435963795f,   -0.0993843675f,   0.132079095f,     0.464241594f};

// The object is used at the caller's address with no alignment promise, so
// it is read into an aligned copy and written back.
struct Qmf {
  int32_t taps;  // 24 or 48
  float history[kMaxTaps];
};
static_assert(sizeof(Qmf) <= 200, "QMF object fits its reported size");

// The full prototype of an object (a damaged tap count reads the 24 taps).
int prototype(int32_t taps, float* h) {
  const int t = taps == 48 ? 48 : 24;
  const float* half = t == 48 ? kHalf48 : kHalf24;
  for (int k = 0; k < t / 2; ++k) h[k] = h[t - 1 - k] = half[k];
  return t;
}

Qmf load(const void* p) {
  Qmf q;
  std::memcpy(&q, p, sizeof q);
  return q;
}

}  // namespace

VOKSC_EXPORT VokResult voksQMFGetStateSize_RTA_32f(int* size) {
  if (anyNull(size)) return vokErrNullPtr;
  *size = 200;
  return vokOk;
}

VOKSC_EXPORT VokResult voksQMFInit_RTA_32f(QMFState_RTA_32f* state, int taps) {
  if (anyNull(state)) return vokErrNullPtr;
  if (taps != 24 && taps != 48) return vokErrRange;
  Qmf q{};
  q.taps = taps;
  std::memcpy(state, &q, sizeof q);
  return vokOk;
}

// Analysis: E and O are the even- and odd-tap sums over the T samples
// ending one before the current pair; low = E + O, high = E - O.
VOKSC_EXPORT VokResult voksQMFEncode_RTA_32f(const Vok32f* src, int len, Vok32f* low, Vok32f* high, QMFState_RTA_32f* state) {
  if (anyNull(src, high, low, state)) return vokErrNullPtr;
  if (len < 1 || len > kMaxFrame || len % 2 != 0) return vokErrRange;
  Qmf q = load(state);
  float h[kMaxTaps];
  const int t = prototype(q.taps, h);
  float b[kMaxTaps + kMaxFrame];
  std::memcpy(b, q.history + (kMaxTaps - t), sizeof(float) * t);
  std::memcpy(b + t, src, sizeof(float) * len);
  for (int n = 0; n < len / 2; ++n) {
    float even = 0.0f, odd = 0.0f;
    for (int m = 0; m < t / 2; ++m) {
      even += h[2 * m] * b[2 * n + 2 * m];
      odd += h[2 * m + 1] * b[2 * n + 2 * m + 1];
    }
    low[n] = even + odd;
    high[n] = even - odd;
  }
  std::memcpy(q.history + (kMaxTaps - t), b + len, sizeof(float) * t);
  std::memcpy(state, &q, sizeof q);
  return vokOk;
}

// Synthesis: each band pair appends 2(low - high) and 2(low + high) to the
// sequence; over the T values ending with the current pair, the even taps
// weigh the difference terms and the odd taps the sum terms, and the pair
// is written odd-tap sum first.  This alignment reconstructs the input
// delayed by T samples (24 taps: about 66 dB, 48 taps: about 75 dB).
VOKSC_EXPORT VokResult voksQMFDecode_RTA_32f(const Vok32f* low, const Vok32f* high, int len, Vok32f* dst, QMFState_RTA_32f* state) {
  if (anyNull(low, high, dst, state)) return vokErrNullPtr;
  if (len < 1 || len > kMaxFrame / 2) return vokErrRange;
  Qmf q = load(state);
  float h[kMaxTaps];
  const int t = prototype(q.taps, h);
  const int keep = t - 2;
  float s[kMaxTaps + kMaxFrame];
  std::memcpy(s, q.history + (kMaxTaps - keep), sizeof(float) * keep);
  for (int j = 0; j < len; ++j) {
    s[keep + 2 * j] = 2.0f * (low[j] - high[j]);
    s[keep + 2 * j + 1] = 2.0f * (low[j] + high[j]);
  }
  for (int j = 0; j < len; ++j) {
    const float* w = s + 2 * j;
    float fromDiff = 0.0f, fromSum = 0.0f;
    for (int m = 0; m < t / 2; ++m) {
      fromDiff += h[2 * m] * w[2 * m];
      fromSum += h[2 * m + 1] * w[2 * m + 1];
    }
    dst[2 * j] = fromSum;
    dst[2 * j + 1] = fromDiff;
  }
  std::memcpy(q.history + (kMaxTaps - keep), s + 2 * len, sizeof(float) * keep);
  std::memcpy(state, &q, sizeof q);
  return vokOk;
}

// Band-pass with level follower: u = 0.8 x[n] - 0.2 x[n-1], v = 4/3 u[n] +
// 1/3 u[n-1]; the gain moves towards the block's ratio of input to filtered
// magnitude sums.  Memory: x[len-1], u[len-1], gain.
VOKSC_EXPORT VokResult voksBandPassFilter_RTA_32f_I(Vok32f* signal, int len, Vok32f* memory) {
  if (anyNull(signal, memory)) return vokErrNullPtr;
  if (len < 1 || len > kMaxFrame) return vokErrSize;
  float v[kMaxFrame];
  float xPrev = memory[0], uPrev = memory[1];
  float inSum = 0.0f, outSum = 0.0f;
  for (int n = 0; n < len; ++n) {
    const float x = signal[n];
    const float u = 0.8f * x - 0.2f * xPrev;
    v[n] = 1.3333334f * u + 0.33333334f * uPrev;
    xPrev = x;
    uPrev = u;
    inSum += std::fabs(x);
    outSum += std::fabs(v[n]);
  }
  const float ratio = outSum != 0.0f ? inSum / outSum : 0.0f;
  float g = memory[2];
  for (int n = 0; n < len; ++n) {
    g = 0.99f * g + 0.011f * ratio;
    signal[n] = v[n] * g;
  }
  memory[0] = xPrev;
  memory[1] = uPrev;
  memory[2] = g;
  return vokOk;
}
