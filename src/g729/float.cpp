// Floating-point forms of the G.729 analysis and synthesis steps (the float
// procedures of the standard, single precision).
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/status.h"
#include "float_tables.h"

using voksc::anyNull;
namespace F = voksc::g729f;

namespace {

float chebyshev(float x, const float* f) {
  float x2 = 2.0f * x, b2 = 1.0f, b1 = x2 + f[1];
  for (int i = 2; i < 5; ++i) {
    float b0 = x2 * b1 - b2 + f[i];
    b2 = b1;
    b1 = b0;
  }
  return x * b1 - b2 + 0.5f * f[5];
}

void lpToLsp(const float* a, const float* old, float* lsp, bool annexA) {
  float f1[6], f2[6];
  f1[0] = 1.0f;
  f2[0] = 1.0f;
  for (int i = 1, j = 10; i <= 5; ++i, --j) {
    f1[i] = a[i] + a[j] - f1[i - 1];
    f2[i] = a[i] - a[j] + f2[i - 1];
  }
  const float* grid = annexA ? F::kChebGrid51 : F::kChebGrid61;
  const int points = annexA ? 50 : 60, bisections = annexA ? 2 : 4;
  int nf = 0, ip = 0, j = 0;
  const float* coef = f1;
  float xlow = grid[0], ylow = chebyshev(xlow, coef);
  while (nf < 10 && j < points) {
    ++j;
    float xhigh = xlow, yhigh = ylow;
    xlow = grid[j];
    ylow = chebyshev(xlow, coef);
    if (ylow * yhigh <= 0.0f) {
      --j;
      for (int i = 0; i < bisections; ++i) {
        float xmid = 0.5f * (xlow + xhigh), ymid = chebyshev(xmid, coef);
        if (ylow * ymid <= 0.0f) {
          yhigh = ymid;
          xhigh = xmid;
        } else {
          ylow = ymid;
          xlow = xmid;
        }
      }
      float xint = xlow - ylow * (xhigh - xlow) / (yhigh - ylow);
      lsp[nf++] = xint;
      ip = 1 - ip;
      coef = ip ? f2 : f1;
      xlow = xint;
      ylow = chebyshev(xlow, coef);
    }
  }
  if (nf < 10) std::memcpy(lsp, old, 10 * sizeof(float));
}

void lspPolynomial(const float* lsp, float* f) {
  f[0] = 1.0f;
  float b = -2.0f * lsp[0];
  f[1] = b;
  for (int i = 2; i <= 5; ++i) {
    b = -2.0f * lsp[2 * i - 2];
    f[i] = b * f[i - 1] + 2.0f * f[i - 2];
    for (int j = i - 1; j > 1; --j) f[j] += b * f[j - 1] + f[j - 2];
    f[1] += b;
  }
}

}  // namespace

VOKSC_EXPORT VokResult voksLPCToLSP_G729_32f(const Vok32f* a, const Vok32f* oldLsp, Vok32f* lsp) {
  if (anyNull(a, oldLsp, lsp)) return vokErrNullPtr;
  lpToLsp(a, oldLsp, lsp, false);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLPCToLSP_G729A_32f(const Vok32f* a, const Vok32f* oldLsp, Vok32f* lsp) {
  if (anyNull(a, oldLsp, lsp)) return vokErrNullPtr;
  lpToLsp(a, oldLsp, lsp, true);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSPToLPC_G729_32f(const Vok32f* lsp, Vok32f* a) {
  if (anyNull(lsp, a)) return vokErrNullPtr;
  float f1[6], f2[6];
  lspPolynomial(lsp, f1);
  lspPolynomial(lsp + 1, f2);
  for (int i = 5; i > 0; --i) {
    f1[i] += f1[i - 1];
    f2[i] -= f2[i - 1];
  }
  a[0] = 1.0f;
  for (int i = 1, j = 10; i <= 5; ++i, --j) {
    a[i] = 0.5f * (f1[i] + f2[i]);
    a[j] = 0.5f * (f1[i] - f2[i]);
  }
  return vokOk;
}

// k = -(r[i] + sum a[j] r[i-j]) / error; a reflection coefficient beyond
// 0.999451 ends the recursion with the filter of the previous order.
VOKSC_EXPORT VokResult voksLevinsonDurbin_G729_32f(const Vok32f* r, int order, Vok32f* a, Vok32f* rc, Vok32f* err) {
  if (anyNull(r, a, rc, err)) return vokErrNullPtr;
  if (order < 1) return vokErrSize;
  float aa[64] = {1.0f}, kk[64] = {};
  if (order > 63) order = 63;
  float e = r[0];
  for (int i = 1; i <= order; ++i) {
    float s = r[i];
    for (int j = 1; j < i; ++j) s += aa[j] * r[i - j];
    float k = std::fabs(e) < 1.17549435e-38f ? 1.0f : -s / e;
    kk[i - 1] = k;
    if (std::fabs(k) > 0.999451f) {
      std::memcpy(a, aa, static_cast<size_t>(order + 1) * sizeof(float));
      std::memcpy(rc, kk, static_cast<size_t>(order) * sizeof(float));
      *err = 0.001f;
      return vokOk;
    }
    for (int j = 1; j <= i / 2; ++j) {
      int l = i - j;
      float at = aa[j] + k * aa[l];
      aa[l] += k * aa[j];
      aa[j] = at;
    }
    aa[i] = k;
    e += k * s;
    if (e <= 0.0f) e = 0.001f;
  }
  std::memcpy(a, aa, static_cast<size_t>(order + 1) * sizeof(float));
  std::memcpy(rc, kk, static_cast<size_t>(order) * sizeof(float));
  *err = e;
  return vokOk;
}

VOKSC_EXPORT VokResult voksSynthesisFilter_G729_32f(const Vok32f* a, int order, const Vok32f* x, Vok32f* y, int len,
                                                    Vok32f* mem) {
  if (anyNull(a, x, y, mem)) return vokErrNullPtr;
  if (len < 1 || len > 640 || order < 1 || order > 30) return vokErrSize;
  float buf[30 + 640];
  std::memcpy(buf, mem, static_cast<size_t>(order) * sizeof(float));
  float* yy = buf + order;
  for (int n = 0; n < len; ++n) {
    float s = x[n];
    for (int i = 1; i <= order; ++i) s -= a[i] * yy[n - i];
    yy[n] = s;
  }
  std::memcpy(y, yy, static_cast<size_t>(len) * sizeof(float));
  std::memcpy(mem, yy + len - order, static_cast<size_t>(order) * sizeof(float));
  return vokOk;
}

VOKSC_EXPORT VokResult voksInterpolateC_G729_32f(const Vok32f* a, Vok32f wa, const Vok32f* b, Vok32f wb, Vok32f* out,
                                                 int len) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  for (int i = 0; i < len; ++i) out[i] = wa * a[i] + wb * b[i];
  return vokOk;
}

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

// ---- LSF decoding (radians) --------------------------------------------------

namespace {
void expand(float* buf, float gap) {
  for (int j = 1; j < 10; ++j) {
    float diff = buf[j - 1] - buf[j];
    float tmp = (diff + gap) * 0.5f;
    if (tmp > 0) {
      buf[j - 1] -= tmp;
      buf[j] += tmp;
    }
  }
}
}  // namespace

namespace {
// Residual from the indices, composition with the MA memory, memory update
// and the stability correction (radians).
void lsfCompose(const Vok16s* idx, Vok32f* mem, Vok32f* lsf, float* residual) {
  const int mode = idx[0] & 1;
  float buf[10];
  for (int j = 0; j < 5; ++j) buf[j] = F::kLspStage1[idx[1] & 127][j] + F::kLspStage2[idx[2] & 31][j];
  for (int j = 5; j < 10; ++j) buf[j] = F::kLspStage1[idx[1] & 127][j] + F::kLspStage2[idx[3] & 31][j];
  expand(buf, 0.0012f);
  expand(buf, 0.0006f);
  for (int j = 0; j < 10; ++j) {
    float s = buf[j] * F::kMaPredSum[mode][j];
    for (int k = 0; k < 4; ++k) s += mem[k * 10 + j] * F::kMaPredictor[mode][k][j];
    lsf[j] = s;
  }
  std::memmove(mem + 10, mem, 30 * sizeof(float));
  std::memcpy(mem, buf, sizeof buf);
  for (int j = 0; j < 9; ++j)
    if (lsf[j + 1] - lsf[j] < 0) std::swap(lsf[j], lsf[j + 1]);
  if (lsf[0] < 0.005f) lsf[0] = 0.005f;
  for (int j = 0; j < 9; ++j)
    if (lsf[j + 1] - lsf[j] < 0.0392f) lsf[j + 1] = lsf[j] + 0.0392f;
  if (lsf[9] > 3.135f) lsf[9] = 3.135f;
  if (residual) std::memcpy(residual, mem, 10 * sizeof(float));
}
}  // namespace

VOKSC_EXPORT VokResult voksLSFDecode_G729_32f(const Vok16s* idx, Vok32f* mem, Vok32f* lsf) {
  if (anyNull(idx, mem, lsf)) return vokErrNullPtr;
  lsfCompose(idx, mem, lsf, nullptr);
  return vokOk;
}

// The switched-predictor two-stage quantiser in float (LSPs as cosines).
VOKSC_EXPORT VokResult voksLSPQuant_G729E_32f(const Vok32f* lsp, Vok32f* mem, Vok32f* residual, Vok32f* lspq,
                                              Vok16s* packed) {
  if (anyNull(lsp, mem, residual, lspq, packed)) return vokErrNullPtr;
  float lsf[10], w[10];
  for (int i = 0; i < 10; ++i) lsf[i] = std::acos(lsp[i]);
  const float pi = 3.14159265358979f;
  auto weight = [](float t) { return t > 0.0f ? 1.0f : t * t * 10.0f + 1.0f; };
  w[0] = weight(lsf[1] - pi * 0.04f - 1.0f);
  for (int i = 1; i < 9; ++i) w[i] = weight(lsf[i + 1] - lsf[i - 1] - 1.0f);
  w[9] = weight(pi * 0.92f - lsf[8] - 1.0f);
  w[4] *= 1.2f;
  w[5] *= 1.2f;
  int cand[2], t1[2], t2[2];
  float dist[2];
  for (int mode = 0; mode < 2; ++mode) {
    float target[10], buf[10];
    for (int j = 0; j < 10; ++j) {
      float v = lsf[j];
      for (int k = 0; k < 4; ++k) v -= mem[k * 10 + j] * F::kMaPredictor[mode][k][j];
      target[j] = v * F::kMaPredSumInv[mode][j];
    }
    float dmin = 3.4e38f;
    cand[mode] = 0;
    for (int i = 0; i < 128; ++i) {
      float d = 0.0f;
      for (int j = 0; j < 10; ++j) {
        float t = target[j] - F::kLspStage1[i][j];
        d += t * t;
      }
      if (d < dmin) {
        dmin = d;
        cand[mode] = i;
      }
    }
    const float* cb1 = F::kLspStage1[cand[mode]];
    auto select = [&](int from, int to) {
      int best = 0;
      float bm = 3.4e38f;
      for (int k = 0; k < 32; ++k) {
        float d = 0.0f;
        for (int j = from; j < to; ++j) {
          float t = target[j] - cb1[j] - F::kLspStage2[k][j];
          d += w[j] * t * t;
        }
        if (d < bm) {
          bm = d;
          best = k;
        }
      }
      return best;
    };
    t1[mode] = select(0, 5);
    for (int j = 0; j < 5; ++j) buf[j] = cb1[j] + F::kLspStage2[t1[mode]][j];
    for (int j = 1; j < 5; ++j) {
      float tmp = (buf[j - 1] - buf[j] + 0.0012f) * 0.5f;
      if (tmp > 0) {
        buf[j - 1] -= tmp;
        buf[j] += tmp;
      }
    }
    t2[mode] = select(5, 10);
    for (int j = 5; j < 10; ++j) buf[j] = cb1[j] + F::kLspStage2[t2[mode]][j];
    for (int j = 5; j < 10; ++j) {
      float tmp = (buf[j - 1] - buf[j] + 0.0012f) * 0.5f;
      if (tmp > 0) {
        buf[j - 1] -= tmp;
        buf[j] += tmp;
      }
    }
    expand(buf, 0.0006f);
    float d = 0.0f;
    for (int j = 0; j < 10; ++j) {
      float t = (buf[j] - target[j]) * F::kMaPredSum[mode][j];
      d += w[j] * t * t;
    }
    dist[mode] = d;
  }
  const int m = dist[1] < dist[0] ? 1 : 0;
  const Vok16s idx[4] = {static_cast<Vok16s>(m), static_cast<Vok16s>(cand[m]), static_cast<Vok16s>(t1[m]),
                         static_cast<Vok16s>(t2[m])};
  float q[10];
  lsfCompose(idx, mem, q, residual);
  for (int i = 0; i < 10; ++i) lspq[i] = std::cos(q[i]);
  packed[0] = static_cast<Vok16s>((m << 7) | cand[m]);
  packed[1] = static_cast<Vok16s>((t1[m] << 5) | t2[m]);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSFDecodeErased_G729_32f(int mode, Vok32f* mem, const Vok32f* lastLsf) {
  if (anyNull(mem, lastLsf)) return vokErrNullPtr;
  if (mode != 0 && mode != 1) return vokErrIndex;
  float buf[10];
  for (int j = 0; j < 10; ++j) {
    float s = lastLsf[j];
    for (int k = 0; k < 4; ++k) s -= mem[k * 10 + j] * F::kMaPredictor[mode][k][j];
    buf[j] = s * F::kMaPredSumInv[mode][j];
  }
  std::memmove(mem + 10, mem, 30 * sizeof(float));
  std::memcpy(mem, buf, sizeof buf);
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
