// G.729 Annex B silence-descriptor LSF quantiser and decoder, Annex D phase
// dispersion and the Annex B form of the long-term post-filter.
#include <cstring>

#include "annexbd_tables.h"
#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "filt_internal.h"
#include "lp_internal.h"
#include "lp_tables.h"

using namespace voksc::op;
using namespace voksc::g729;
using voksc::anyNull;

namespace {

constexpr int kM = 10;

// The silence descriptor's two MA predictors: the first speech predictor,
// and 0.6 / 0.4 of the two speech predictors' coefficients (the new
// residual's weights are tabled).
struct SidPredictors {
  int16_t blend[kLsfMaFrames][kM];
  LsfPredictor mode[2];
  SidPredictors() {
    const auto& speech = kLspMaPredictor;
    for (int k = 0; k < kLsfMaFrames; ++k)
      for (int j = 0; j < kM; ++j)
        blend[k][j] = extract_h(L_mac(L_mult(speech[0][k][j], 19660), speech[1][k][j], 13107));
    mode[0] = {speech[0], kSidMaPredSum[0], kSidMaPredSumInv[0]};
    mode[1] = {blend, kSidMaPredSum[1], kSidMaPredSumInv[1]};
  }
};

// idx = (predictor, first-stage row among the 32 SID rows, second-stage pair
// among 16): the residual is the two stages' sum, spread to a minimum
// distance of 10 (Q13) between neighbours.
int sidDecode(const Vok16s* idx, Vok16s* mem, Vok16s* lsf) {
  const SidPredictors pred;
  const int16_t* first = kLspStage1Codebook[kSidStage1Rows[idx[1]]];
  int16_t residual[kM];
  for (int j = 0; j < kM; ++j) {
    const int16_t* second = kLspStage2Codebook[kSidStage2Rows[j < kM / 2 ? 0 : 1][idx[2]]];
    residual[j] = add(first[j], second[j]);
  }
  lsfSpread(residual, 10, 1, kM);
  lsfPredict(residual, mem, pred.mode[idx[0]], lsf);
  lsfPushResidual(residual, mem);
  return lsfStability(lsf);
}

}  // namespace

// Predictor switch 0..1, first stage 0..31, second stage 0..15.
bool voksc::g729::sidIndicesValid(const int16_t* idx) {
  return idx[0] >= 0 && idx[0] <= 1 && idx[1] >= 0 && idx[1] < 32 && idx[2] >= 0 && idx[2] < 16;
}

namespace {

VokResult flagsToStatus(int flags) {
  static const VokResult kStatus[4] = {vokOk, vokWrnLsfFloor, vokWrnLsfCeiling, vokWrnLsfFloorCeiling};
  return kStatus[flags & 3];
}

}  // namespace

VOKSC_EXPORT VokResult voksLSFDecode_G729B_16s(const Vok16s* idx, Vok16s* mem, Vok16s* lsf) {
  if (anyNull(idx, mem, lsf)) return vokErrNullPtr;
  if (!sidIndicesValid(idx)) return vokErrIndex;
  return flagsToStatus(sidDecode(idx, mem, lsf));
}

// SID quantiser: the two predictors' targets, four first-stage survivors
// from the 32 SID rows, then the best second-stage pair.
VOKSC_EXPORT VokResult voksLSFQuant_G729B_16s(const Vok16s* lsfIn, Vok16s* mem, Vok16s* lsfq, Vok16s* idx) {
  if (anyNull(lsfIn, mem, lsfq, idx)) return vokErrNullPtr;
  const SidPredictors pred;
  Word16 lsf[kM], w[kM];
  std::memcpy(lsf, lsfIn, sizeof lsf);
  if (lsf[0] < 40) lsf[0] = 40;
  for (int i = 0; i < kM - 1; ++i)
    if (sub(lsf[i + 1], lsf[i]) < 2 * 321) lsf[i + 1] = add(lsf[i], 2 * 321);
  if (lsf[kM - 1] > 25681) lsf[kM - 1] = 25681;
  if (lsf[kM - 1] < lsf[kM - 2]) lsf[kM - 2] = sub(lsf[kM - 1], 321);
  lsfWeights(lsf, w);
  Word16 err[2][kM];
  for (int mode = 0; mode < 2; ++mode) lsfResidual(lsf, mem, pred.mode[mode], err[mode]);
  // First stage: 4 best (predictor, row) pairs over both predictors.
  Word16 sum[2 * 32];
  for (int p = 0; p < 2; ++p)
    for (int m = 0; m < 32; ++m) {
      Word32 acc = 0;
      for (int l = 0; l < kM; ++l) {
        Word16 t = sub(err[p][l], kLspStage1Codebook[kSidStage1Rows[m]][l]);
        acc = L_mac(acc, t, t);
      }
      sum[p * 32 + m] = mult(extract_h(acc), kSidPredWeight[p]);
    }
  int candP[4], candM[4];
  Word16 resid[4][kM];
  for (int q = 0; q < 4; ++q) {
    Word16 mn = kMax16;
    candP[q] = 0;
    candM[q] = 0;
    for (int p = 0; p < 2; ++p)
      for (int m = 0; m < 32; ++m)
        if (sub(sum[p * 32 + m], mn) < 0) {
          mn = sum[p * 32 + m];
          candP[q] = p;
          candM[q] = m;
        }
    sum[candP[q] * 32 + candM[q]] = kMax16;
    for (int l = 0; l < kM; ++l) resid[q][l] = sub(err[candP[q]][l], kLspStage1Codebook[kSidStage1Rows[candM[q]]][l]);
  }
  // Second stage over the survivors.
  Word16 best = kMax16;
  int bq = 0, bm = 0;
  for (int q = 0; q < 4; ++q)
    for (int m = 0; m < 16; ++m) {
      Word32 acc = 0;
      for (int l = 0; l < kM; ++l) {
        const int row = kSidStage2Rows[l < kM / 2 ? 0 : 1][m];
        Word16 t1 = extract_h(L_shl(L_mult(kSidMaPredSum[candP[q]][l], kSidMaPredSum[candP[q]][l]), 2));
        t1 = mult(t1, w[l]);
        Word16 t2 = sub(resid[q][l], kLspStage2Codebook[row][l]);
        t1 = extract_h(L_shl(L_mult(t1, t2), 3));
        acc = L_mac(acc, t1, t2);
      }
      Word16 s = extract_h(acc);
      if (sub(s, best) < 0) {
        best = s;
        bq = q;
        bm = m;
      }
    }
  Vok16s index[3] = {static_cast<Vok16s>(candP[bq]), static_cast<Vok16s>(candM[bq]), static_cast<Vok16s>(bm)};
  Vok16s q[kM];
  VokResult st = flagsToStatus(sidDecode(index, mem, q));
  std::memcpy(lsfq, q, sizeof q);
  std::memcpy(idx, index, sizeof index);
  return st;
}
