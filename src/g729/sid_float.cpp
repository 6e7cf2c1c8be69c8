// G.729 Annex B silence-descriptor LSF quantiser and decoder in float (single
// precision, the float coder's order of operations): LSFs in radians, MA
// memory 4 x 10 newest first, shared with the speech quantiser.
#include <cstring>
#include <utility>

#include "core/status.h"
#include "lp_float_tables.h"
#include "lp_internal.h"
#include "sid_float_tables.h"

using voksc::anyNull;
namespace F = voksc::g729::lpf;
namespace S = voksc::g729::sidf;

namespace {

constexpr int kM = 10, kHalf = 5;
constexpr int kStage1Size = 32, kStage2Size = 16, kSurvivors = 4;
constexpr float kBig = 1.0e38f;
constexpr float kFloor = 0.005f, kCeiling = 3.135f, kSpacing = 0.0392f, kGap = 0.0012f;

// MA predictors of the SID frames: the first speech predictor, and a blend
// of the two (0.6 and 0.4).
void sidPredictors(float (&fg)[2][4][kM]) {
  for (int k = 0; k < 4; ++k)
    for (int j = 0; j < kM; ++j) {
      fg[0][k][j] = F::kMaPredictor[0][k][j];
      fg[1][k][j] = F::kMaPredictor[0][k][j] * 0.6f + F::kMaPredictor[1][k][j] * 0.4f;
    }
}

// Second-stage row of coefficient j for the SID second-stage index.
const float* stage2Row(int index, int j) { return F::kLspStage2[S::kSidStage2Rows[j < kHalf ? 0 : 1][index]]; }

// Residual of the indices, composition with the memory, memory update and
// the stability correction.
void sidDecode(int mode, int i1, int i2, float* mem, float* lsf) {
  float fg[2][4][kM];
  sidPredictors(fg);
  float buf[kM];
  const float* cb1 = F::kLspStage1[S::kSidStage1Rows[i1]];
  for (int j = 0; j < kM; ++j) buf[j] = cb1[j] + stage2Row(i2, j)[j];
  for (int j = 1; j < kM; ++j) {
    const float t = (buf[j - 1] - buf[j] + kGap) * 0.5f;
    if (t > 0.0f) {
      buf[j - 1] -= t;
      buf[j] += t;
    }
  }
  for (int j = 0; j < kM; ++j) {
    float s = buf[j] * S::kSidMaPredSum[mode][j];
    for (int k = 0; k < 4; ++k) s += mem[k * kM + j] * fg[mode][k][j];
    lsf[j] = s;
  }
  std::memmove(mem + kM, mem, 3 * kM * sizeof(float));
  std::memcpy(mem, buf, sizeof buf);
  for (int j = 0; j < kM - 1; ++j)
    if (lsf[j + 1] - lsf[j] < 0.0f) std::swap(lsf[j], lsf[j + 1]);
  if (lsf[0] < kFloor) lsf[0] = kFloor;
  for (int j = 0; j < kM - 1; ++j)
    if (lsf[j + 1] - lsf[j] < kSpacing) lsf[j + 1] = lsf[j] + kSpacing;
  if (lsf[kM - 1] > kCeiling) lsf[kM - 1] = kCeiling;
}

// The LSF weighting of the speech quantiser; the 5th and 6th get 1.2 times more.
void weights(const float* lsf, float* w) {
  constexpr float kPi04 = 0.04f * 3.141592654f, kPi92 = 0.92f * 3.141592654f;
  auto weight = [](float t) { return t > 0.0f ? 1.0f : t * t * 10.0f + 1.0f; };
  w[0] = weight(lsf[1] - kPi04 - 1.0f);
  for (int i = 1; i < kM - 1; ++i) w[i] = weight(lsf[i + 1] - lsf[i - 1] - 1.0f);
  w[kM - 1] = weight(kPi92 - lsf[kM - 2] - 1.0f);
  w[4] *= 1.2f;
  w[5] *= 1.2f;
}

inline float sqr(float x) { return x * x; }

}  // namespace

// Indices (switch, first stage, second stage) taken modulo their ranges.
VOKSC_EXPORT VokResult voksLSFDecode_G729B_32f(const Vok16s* idx, Vok32f* mem, Vok32f* lsf) {
  if (anyNull(idx, mem, lsf)) return vokErrNullPtr;
  if (!voksc::g729::sidIndicesValid(idx)) return vokErrIndex;
  float q[kM];
  sidDecode(idx[0], idx[1], idx[2], mem, q);
  std::memcpy(lsf, q, sizeof q);
  return vokOk;
}

// SID quantiser: the input spread to at least twice the minimum spacing,
// the two predictors' targets, four (predictor, first-stage row) survivors
// of the 32 SID rows, then the best second-stage row pair for them.
VOKSC_EXPORT VokResult voksLSFQuant_G729B_32f(const Vok32f* lsfIn, Vok32f* mem, Vok32f* lsfq, Vok16s* idx) {
  if (anyNull(lsfIn, mem, lsfq, idx)) return vokErrNullPtr;
  float fg[2][4][kM];
  sidPredictors(fg);
  float lsf[kM], w[kM];
  std::memcpy(lsf, lsfIn, sizeof lsf);
  if (lsf[0] < kFloor) lsf[0] = kFloor;
  for (int i = 0; i < kM - 1; ++i)
    if (lsf[i + 1] - lsf[i] < 2 * kSpacing) lsf[i + 1] = lsf[i] + 2 * kSpacing;
  if (lsf[kM - 1] > kCeiling) lsf[kM - 1] = kCeiling;
  if (lsf[kM - 1] < lsf[kM - 2]) lsf[kM - 2] = lsf[kM - 1] - kSpacing;
  weights(lsf, w);

  float err[2][kM];
  for (int mode = 0; mode < 2; ++mode)
    for (int j = 0; j < kM; ++j) {
      float t = lsf[j];
      for (int k = 0; k < 4; ++k) t -= mem[k * kM + j] * fg[mode][k][j];
      err[mode][j] = t * S::kSidMaPredSumInv[mode][j];
    }

  // First stage over both predictors; the 4 smallest weighted errors survive
  // (the first of equal values).
  float sum[2 * kStage1Size];
  for (int p = 0; p < 2; ++p)
    for (int m = 0; m < kStage1Size; ++m) {
      const float* cb1 = F::kLspStage1[S::kSidStage1Rows[m]];
      float s = 0.0f;
      for (int l = 0; l < kM; ++l) s += sqr(err[p][l] - cb1[l]);
      sum[p * kStage1Size + m] = s * S::kSidPredWeight[p];
    }
  int candP[kSurvivors], candM[kSurvivors];
  float resid[kSurvivors][kM];
  for (int q = 0; q < kSurvivors; ++q) {
    float mn = kBig;
    candP[q] = 0;
    candM[q] = 0;
    for (int p = 0; p < 2; ++p)
      for (int m = 0; m < kStage1Size; ++m)
        if (sum[p * kStage1Size + m] < mn) {
          mn = sum[p * kStage1Size + m];
          candP[q] = p;
          candM[q] = m;
        }
    sum[candP[q] * kStage1Size + candM[q]] = kBig;
    const float* cb1 = F::kLspStage1[S::kSidStage1Rows[candM[q]]];
    for (int l = 0; l < kM; ++l) resid[q][l] = err[candP[q]][l] - cb1[l];
  }

  // Second stage: the smallest weighted error over the survivors.
  float best = kBig;
  int bq = 0, bm = 0;
  for (int q = 0; q < kSurvivors; ++q)
    for (int m = 0; m < kStage2Size; ++m) {
      float s = 0.0f;
      for (int l = 0; l < kM; ++l)
        s += w[l] * sqr(S::kSidMaPredSum[candP[q]][l]) * sqr(resid[q][l] - stage2Row(m, l)[l]);
      if (s < best) {
        best = s;
        bq = q;
        bm = m;
      }
    }
  float q[kM];
  sidDecode(candP[bq], candM[bq], bm, mem, q);
  std::memcpy(lsfq, q, sizeof q);
  idx[0] = static_cast<Vok16s>(candP[bq]);
  idx[1] = static_cast<Vok16s>(candM[bq]);
  idx[2] = static_cast<Vok16s>(bm);
  return vokOk;
}
