// Floating-point pitch steps of G.729 and Annex A (single precision, the
// float coder's order of operations).
#include <cmath>
#include <cstdlib>

#include "core/status.h"
#include "pitch_internal.h"
#include "pitch_tables.h"

using voksc::anyNull;
using namespace voksc::g729::pitch;

namespace {

// Decimated correlation of the frame with its past at delay t.
float corrAt(const float* s, int t) {
  float sum = 0.0f;
  for (int j = 0; j < kFrame; j += 2) sum += s[j] * s[j - t];
  return sum;
}

// 1 / sqrt(decimated energy + 0.01) at delay t.
float normAt(const float* s, int t) {
  float e = 0.01f;
  for (int j = 0; j < kFrame; j += 2) e += s[j - t] * s[j - t];
  return 1.0f / std::sqrt(e);
}

// Largest correlation over from..to-1 in steps, a later delay only when
// strictly larger.
float section(const float* s, int from, int to, int step, int& best) {
  float mx = -1.0e38f;
  best = from;
  for (int t = from; t < to; t += step) {
    const float c = corrAt(s, t);
    if (c > mx) {
      mx = c;
      best = t;
    }
  }
  return mx;
}

}  // namespace

// Annex A open loop in float: the sections 20..39, 40..79 and (even delays,
// then the odd neighbours) 80..143, multiples of the shorter delays favoured.
VOKSC_EXPORT VokResult voksOpenLoopPitchSearch_G729A_32f(const Vok32f* s, Vok32s* delay) {
  if (anyNull(s, delay)) return vokErrNullPtr;
  int t1, t2, t3;
  float m1 = section(s, 20, 40, 1, t1) * normAt(s, t1);
  float m2 = section(s, 40, 80, 1, t2) * normAt(s, t2);
  float m3 = section(s, 80, 143, 2, t3);
  const int centre = t3;
  float c = corrAt(s, centre + 1);
  if (c > m3) {
    m3 = c;
    t3 = centre + 1;
  }
  c = corrAt(s, centre - 1);
  if (c > m3) {
    m3 = c;
    t3 = centre - 1;
  }
  m3 *= normAt(s, t3);
  if (std::abs(t2 * 2 - t3) < 5) m2 += m3 * 0.25f;
  if (std::abs(t2 * 3 - t3) < 7) m2 += m3 * 0.25f;
  if (std::abs(t1 * 2 - t2) < 5) m1 += m2 * 0.20f;
  if (std::abs(t1 * 3 - t2) < 7) m1 += m2 * 0.20f;
  if (m1 < m2) {
    m1 = m2;
    t1 = t2;
  }
  if (m1 < m3) t1 = t3;
  *delay = t1;
  return vokOk;
}

// Adaptive vector into the current subframe by 1/3-resolution
// interpolation; exc points at the subframe with its history before it.
VOKSC_EXPORT VokResult voksDecodeAdaptiveVector_G729_32f_I(const Vok32s* delay, Vok32f* exc) {
  if (anyNull(delay, exc)) return vokErrNullPtr;
  const int t0 = delay[0];
  int frac = delay[1];
  // 145 + 1/3 would reach one sample beyond the 154 of history.
  if (t0 < 18 || t0 > 145 || frac < -1 || frac > 1 || (t0 == 145 && frac == 1)) return vokErrIndex;
  const float* x0 = exc - t0;
  frac = -frac;
  if (frac < 0) {
    frac += 3;
    --x0;
  }
  const float* c1 = &voksc::g729::kInterpExcFloat[frac];
  const float* c2 = &voksc::g729::kInterpExcFloat[3 - frac];
  for (int j = 0; j < kSubframe; ++j, ++x0) {
    const float* x1 = x0;
    const float* x2 = x0 + 1;
    float s = 0.0f;
    for (int i = 0, k = 0; i < 10; ++i, k += 3) s += x1[-i] * c1[k] + x2[i] * c2[k];
    exc[j] = s;
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookContribution_G729_32f(Vok32f gain, const Vok32f* y, const Vok32f* x,
                                                                 Vok32f* x2) {
  if (anyNull(y, x, x2)) return vokErrNullPtr;
  for (int i = 0; i < kSubframe; ++i) x2[i] = x[i] - y[i] * gain;
  return vokOk;
}
