// Floating-point forms of G.729 synthesis and excitation steps (the float
// procedures of the standard, single precision).
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/status.h"
#include "float_tables.h"

using voksc::anyNull;
namespace F = voksc::g729f;

VOKSC_EXPORT VokResult voksDotProd_G729A_32f(const Vok32f* a, const Vok32f* b, int len, Vok32f* result) {
  if (anyNull(a, b, result)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  float s = 0.0f;
  for (int i = 0; i < len; ++i) s += a[i] * b[i];
  *result = s;
  return vokOk;
}

VOKSC_EXPORT VokResult voksAdaptiveCodebookContribution_G729_32f(Vok32f gain, const Vok32f* y, const Vok32f* x,
                                                                 Vok32f* x2) {
  if (anyNull(y, x, x2)) return vokErrNullPtr;
  for (int i = 0; i < 40; ++i) x2[i] = x[i] - gain * y[i];
  return vokOk;
}

// Adaptive vector by 1/3-resolution interpolation into the current
// subframe; exc points at the subframe with 154 or more samples before it.
VOKSC_EXPORT VokResult voksDecodeAdaptiveVector_G729_32f_I(const Vok32s* delay, Vok32f* exc) {
  if (anyNull(delay, exc)) return vokErrNullPtr;
  int t0 = delay[0], frac = delay[1];
  if (t0 < 18 || t0 > 145 || frac < -1 || frac > 1) return vokErrIndex;
  const float* x0 = exc - t0;
  frac = -frac;
  if (frac < 0) {
    frac += 3;
    --x0;
  }
  for (int j = 0; j < 40; ++j) {
    const float* x1 = x0++;
    const float* x2 = x0;
    float s = 0.0f;
    for (int i = 0, k = 0; i < 10; ++i, k += 3) s += x1[-i] * F::kInterpExc[frac + k] + x2[i] * F::kInterpExc[3 - frac + k];
    exc[j] = s;
  }
  return vokOk;
}

// The 616-value correlation layout of the impulse response, in float.
VOKSC_EXPORT VokResult voksToeplizMatrix_G729_32f(const Vok32f* h, Vok32f* rr) {
  if (anyNull(h, rr)) return vokErrNullPtr;
  static const int kDiag[5] = {0, 8, 16, 24, 32};
  static const int kCross[3][5] = {{-1, 40, 104, 168, 232}, {-1, -1, 296, 360, 424}, {-1, -1, -1, 488, 552}};
  auto corr = [&](int i, int j) {
    int d = i > j ? i - j : j - i, m = i > j ? i : j;
    float s = 0.0f;
    for (int n = 0; n <= 39 - m; ++n) s += h[n] * h[n + d];
    return s;
  };
  for (int t = 0; t < 5; ++t)
    for (int p = 0; p < 8; ++p) rr[kDiag[t] + p] = corr(5 * p + t, 5 * p + t);
  for (int ta = 0; ta < 3; ++ta)
    for (int tb = ta + 1; tb < 5; ++tb)
      for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b) rr[kCross[ta][tb] + a * 8 + b] = corr(5 * a + ta, 5 * b + tb);
  return vokOk;
}

// Annex A open-loop search in float: three sections on every other sample,
// normalised by 1 / sqrt(energy + 0.01), favouring multiples of the
// shorter delays.
VOKSC_EXPORT VokResult voksOpenLoopPitchSearch_G729A_32f(const Vok32f* s, Vok32s* delay) {
  if (anyNull(s, delay)) return vokErrNullPtr;
  auto corr = [&](int t) {
    float sum = 0.0f;
    for (int j = 0; j < 80; j += 2) sum += s[j] * s[j - t];
    return sum;
  };
  auto norm = [&](int t) {
    float e = 0.01f;
    for (int j = 0; j < 80; j += 2) e += s[j - t] * s[j - t];
    return 1.0f / std::sqrt(e);
  };
  auto section = [&](int from, int to, int step, int& best) {
    float mx = -1.0e38f;
    best = from;
    for (int i = from; i < to; i += step) {
      float c = corr(i);
      if (c > mx) {
        mx = c;
        best = i;
      }
    }
    return mx;
  };
  int t1, t2, t3;
  float m1 = section(20, 40, 1, t1) * norm(t1);
  float m2 = section(40, 80, 1, t2) * norm(t2);
  float m3 = section(80, 143, 2, t3);
  const int c3 = t3;
  float c = corr(c3 + 1);
  if (c > m3) {
    m3 = c;
    t3 = c3 + 1;
  }
  c = corr(c3 - 1);
  if (c > m3) {
    m3 = c;
    t3 = c3 - 1;
  }
  m3 *= norm(t3);
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
