// Floating-point forms of the G.729 LP analysis and LSP quantisation steps
// (the float procedures of the standard, single precision): LSPs as
// cosines, LSFs in radians, a[0] = 1, MA memory 4 x 10 newest first.
#include <cmath>
#include <cstring>
#include <utility>

#include "core/status.h"
#include "lp_float_tables.h"
#include "lp_internal.h"

using voksc::anyNull;
namespace F = voksc::g729::lpf;

namespace {

constexpr int kM = 10, kNc = 5;

float chebyshev(float x, const float* f) {
  const float x2 = 2.0f * x;
  float b2 = 1.0f, b1 = x2 + f[1];
  for (int i = 2; i < kNc; ++i) {
    const float b0 = x2 * b1 - b2 + f[i];
    b2 = b1;
    b1 = b0;
  }
  return x * b1 - b2 + 0.5f * f[kNc];
}

struct Sample {
  float x, y;
};

// The fixed-point search's plan in float: the folded sum and difference
// polynomials, a downward walk over the cosine grid with the polynomial
// whose root comes next, halvings of a bracket and the chord's zero.  Here
// the walk resumes from a root towards the same grid point, so that
// interval is searched again on the other polynomial.
void lpToLsp(const float* a, const float* old, float* lsp, bool annexA) {
  float poly[2][kNc + 1];
  poly[0][0] = poly[1][0] = 1.0f;
  for (int i = 1; i <= kNc; ++i) {
    const float head = a[i], tail = a[kM + 1 - i];
    poly[0][i] = head + tail - poly[0][i - 1];
    poly[1][i] = head - tail + poly[1][i - 1];
  }
  const float* grid = annexA ? F::kChebGrid51 : F::kChebGrid61;
  const int intervals = annexA ? 50 : 60, halvings = annexA ? 2 : 4;
  int found = 0;
  auto sample = [&](float x) { return Sample{x, chebyshev(x, poly[found & 1])}; };
  Sample upper = sample(grid[0]);
  for (int g = 1; g <= intervals && found < kM;) {
    Sample lower = sample(grid[g]);
    if (lower.y * upper.y > 0.0f) {
      upper = lower;
      ++g;
      continue;
    }
    for (int h = 0; h < halvings; ++h) {
      const Sample mid = sample(0.5f * (lower.x + upper.x));
      (lower.y * mid.y <= 0.0f ? upper : lower) = mid;
    }
    lsp[found++] = lower.x - lower.y * (upper.x - lower.x) / (upper.y - lower.y);
    upper = sample(lsp[found - 1]);
  }
  if (found < kM) std::memcpy(lsp, old, kM * sizeof(float));
}

// F1 or F2 from every other LSP.
void lspPolynomial(const float* lsp, float* f) {
  f[0] = 1.0f;
  float b = -2.0f * lsp[0];
  f[1] = b;
  for (int i = 2; i <= kNc; ++i) {
    b = -2.0f * lsp[2 * i - 2];
    f[i] = b * f[i - 1] + 2.0f * f[i - 2];
    for (int j = i - 1; j > 1; --j) f[j] += b * f[j - 1] + f[j - 2];
    f[1] += b;
  }
}

void rearrange(float* buf, float gap, int from, int to) {
  for (int j = from; j < to; ++j) {
    const float tmp = (buf[j - 1] - buf[j] + gap) * 0.5f;
    if (tmp > 0.0f) {
      buf[j - 1] -= tmp;
      buf[j] += tmp;
    }
  }
}

constexpr float kGap1 = 0.0012f, kGap2 = 0.0006f;

void maExtract(const float* lsf, const float* mem, int mode, float* residual) {
  for (int j = 0; j < kM; ++j) {
    float v = lsf[j];
    for (int k = 0; k < 4; ++k) v -= mem[k * kM + j] * F::kMaPredictor[mode][k][j];
    residual[j] = v * F::kMaPredSumInv[mode][j];
  }
}

void maPush(const float* residual, float* mem) {
  std::memmove(mem + kM, mem, 3 * kM * sizeof(float));
  std::memcpy(mem, residual, kM * sizeof(float));
}

// Residual from the indices, composition with the memory, memory update and
// the stability correction.
void lsfCompose(int mode, int i1, int i2, int i3, float* mem, float* lsf, float* residualOut) {
  float buf[kM];
  for (int j = 0; j < kNc; ++j) buf[j] = F::kLspStage1[i1][j] + F::kLspStage2[i2][j];
  for (int j = kNc; j < kM; ++j) buf[j] = F::kLspStage1[i1][j] + F::kLspStage2[i3][j];
  rearrange(buf, kGap1, 1, kM);
  rearrange(buf, kGap2, 1, kM);
  for (int j = 0; j < kM; ++j) {
    float s = buf[j] * F::kMaPredSum[mode][j];
    for (int k = 0; k < 4; ++k) s += mem[k * kM + j] * F::kMaPredictor[mode][k][j];
    lsf[j] = s;
  }
  maPush(buf, mem);
  for (int j = 0; j < kM - 1; ++j)
    if (lsf[j + 1] - lsf[j] < 0.0f) std::swap(lsf[j], lsf[j + 1]);
  if (lsf[0] < 0.005f) lsf[0] = 0.005f;
  for (int j = 0; j < kM - 1; ++j)
    if (lsf[j + 1] - lsf[j] < 0.0392f) lsf[j + 1] = lsf[j] + 0.0392f;
  if (lsf[kM - 1] > 3.135f) lsf[kM - 1] = 3.135f;
  if (residualOut) std::memcpy(residualOut, buf, sizeof buf);
}

// Weights from the LSF spacing; the 5th and 6th get 1.2 times more.
void lsfWeights(const float* lsf, float* w) {
  constexpr float kPi04 = 0.04f * 3.141592654f, kPi92 = 0.92f * 3.141592654f;
  auto weight = [](float t) { return t > 0.0f ? 1.0f : t * t * 10.0f + 1.0f; };
  w[0] = weight(lsf[1] - kPi04 - 1.0f);
  for (int i = 1; i < kM - 1; ++i) w[i] = weight(lsf[i + 1] - lsf[i - 1] - 1.0f);
  w[kM - 1] = weight(kPi92 - lsf[kM - 2] - 1.0f);
  w[4] *= 1.2f;
  w[5] *= 1.2f;
}

int stage2Search(const float* target, const float* cb1, const float* w, int from, int to) {
  float buf[kM];
  for (int j = from; j < to; ++j) buf[j] = target[j] - cb1[j];
  int best = 0;
  float dmin = 1.0e38f;
  for (int k = 0; k < 32; ++k) {
    float d = 0.0f;
    for (int j = from; j < to; ++j) {
      const float t = buf[j] - F::kLspStage2[k][j];
      d += w[j] * t * t;
    }
    if (d < dmin) {
      dmin = d;
      best = k;
    }
  }
  return best;
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
  float f1[kNc + 1], f2[kNc + 1];
  lspPolynomial(lsp, f1);
  lspPolynomial(lsp + 1, f2);
  for (int i = kNc; i > 0; --i) {
    f1[i] += f1[i - 1];
    f2[i] -= f2[i - 1];
  }
  a[0] = 1.0f;
  for (int i = 1, j = kM; i <= kNc; ++i, --j) {
    a[i] = 0.5f * (f1[i] + f2[i]);
    a[j] = 0.5f * (f1[i] - f2[i]);
  }
  return vokOk;
}

// Computed in place in the caller's arrays, so any order is served.  As in
// the float coder of Annex E, the first coefficient is taken as it comes
// (r[1] limited to r[0]); from the second on, a reflection coefficient
// beyond 0.999451 ends the recursion: the filter of the previous order is
// delivered (higher coefficients 0, the offending coefficient stored) with a
// residual energy of 0.001.
VOKSC_EXPORT VokResult voksLevinsonDurbin_G729_32f(const Vok32f* r, int order, Vok32f* a, Vok32f* rc, Vok32f* err) {
  if (anyNull(r, a, rc, err)) return vokErrNullPtr;
  if (order < 1) return vokErrSize;
  constexpr float kSmallest = 1.17549435e-38f;
  a[0] = 1.0f;
  float e = r[0];
  for (int i = 1; i <= order; ++i) {
    float s = i == 1 && r[1] > r[0] ? r[0] : r[i];
    for (int j = 1; j < i; ++j) s += a[j] * r[i - j];
    const float k = std::fabs(e) < kSmallest ? 1.0f : -s / e;
    rc[i - 1] = k;
    if (i > 1 && std::fabs(k) > 0.999451f) {
      for (int j = i; j <= order; ++j) a[j] = 0.0f;
      for (int j = i; j < order; ++j) rc[j] = 0.0f;
      *err = 0.001f;
      return vokOk;
    }
    for (int j = 1; j <= i / 2; ++j) {
      const int l = i - j;
      const float at = a[j] + k * a[l];
      a[l] += k * a[j];
      a[j] = at;
    }
    a[i] = k;
    e += k * s;
    if (e <= 0.0f) e = 0.001f;
  }
  *err = e;
  return vokOk;
}

VOKSC_EXPORT VokResult voksInterpolateC_G729_32f(const Vok32f* a, Vok32f wa, const Vok32f* b, Vok32f wb, Vok32f* out,
                                                 int len) {
  if (anyNull(a, b, out)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  for (int i = 0; i < len; ++i) out[i] = wa * a[i] + wb * b[i];
  return vokOk;
}

// Indices as in the 16-bit decoder; the switch and codebook indices are
// taken modulo their ranges.
VOKSC_EXPORT VokResult voksLSFDecode_G729_32f(const Vok16s* idx, Vok32f* mem, Vok32f* lsf) {
  if (anyNull(idx, mem, lsf)) return vokErrNullPtr;
  if (!voksc::g729::lsfIndicesValid(idx)) return vokErrIndex;
  lsfCompose(idx[0], idx[1], idx[2], idx[3], mem, lsf, nullptr);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSFDecodeErased_G729_32f(int mode, Vok32f* mem, const Vok32f* lastLsf) {
  if (anyNull(mem, lastLsf)) return vokErrNullPtr;
  if (mode != 0 && mode != 1) return vokErrIndex;
  float buf[kM];
  maExtract(lastLsf, mem, mode, buf);
  maPush(buf, mem);
  return vokOk;
}

// The switched-predictor two-stage quantiser of Annex E in float; the memory
// is updated with the chosen residual, which is also written out.
VOKSC_EXPORT VokResult voksLSPQuant_G729E_32f(const Vok32f* lsp, Vok32f* mem, Vok32f* residual, Vok32f* lspq,
                                              Vok16s* packed) {
  if (anyNull(lsp, mem, residual, lspq, packed)) return vokErrNullPtr;
  float lsf[kM], w[kM];
  for (int i = 0; i < kM; ++i) lsf[i] = static_cast<float>(std::acos(static_cast<double>(lsp[i])));
  lsfWeights(lsf, w);
  int cand[2], t1[2], t2[2];
  float dist[2];
  for (int mode = 0; mode < 2; ++mode) {
    float target[kM], buf[kM];
    maExtract(lsf, mem, mode, target);
    float dmin = 1.0e38f;
    cand[mode] = 0;
    for (int i = 0; i < 128; ++i) {
      float d = 0.0f;
      for (int j = 0; j < kM; ++j) {
        const float t = target[j] - F::kLspStage1[i][j];
        d += t * t;
      }
      if (d < dmin) {
        dmin = d;
        cand[mode] = i;
      }
    }
    const float* cb1 = F::kLspStage1[cand[mode]];
    t1[mode] = stage2Search(target, cb1, w, 0, kNc);
    for (int j = 0; j < kNc; ++j) buf[j] = cb1[j] + F::kLspStage2[t1[mode]][j];
    rearrange(buf, kGap1, 1, kNc);
    t2[mode] = stage2Search(target, cb1, w, kNc, kM);
    for (int j = kNc; j < kM; ++j) buf[j] = cb1[j] + F::kLspStage2[t2[mode]][j];
    rearrange(buf, kGap1, kNc, kM);
    rearrange(buf, kGap2, 1, kM);
    float d = 0.0f;
    for (int j = 0; j < kM; ++j) {
      const float t = (buf[j] - target[j]) * F::kMaPredSum[mode][j];
      d += w[j] * t * t;
    }
    dist[mode] = d;
  }
  const int m = dist[1] < dist[0] ? 1 : 0;
  float q[kM];
  lsfCompose(m, cand[m], t1[m], t2[m], mem, q, residual);
  for (int i = 0; i < kM; ++i) lspq[i] = static_cast<float>(std::cos(static_cast<double>(q[i])));
  packed[0] = static_cast<Vok16s>((m << 7) | cand[m]);
  packed[1] = static_cast<Vok16s>((t1[m] << 5) | t2[m]);
  return vokOk;
}
