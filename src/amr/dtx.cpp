// GSM-AMR discontinuous transmission: the LSP/LSF and log-energy histories
// of both sides, the transmitter's hangover state machine and the SID
// parameters (averaged history, energy index, predictor resets, LSF
// quantisation from the best initial prediction).
#include <cstdint>
#include <cstring>

#include "amr_internal.h"
#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "g729/lp_internal.h"
#include "lp_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amr {
namespace {

constexpr int kHist = 8;
constexpr int16_t kHangover = 7;
constexpr int16_t kElapsedLimit = 30;

// log2 of the frame energy in Q10 less log2(160): the doubled sum of
// squares saturates like its operator chain (all terms are positive).
int16_t frameLogEnergy(const int16_t* x) {
  int64_t e = 0;
  for (int n = 0; n < kFrame; ++n) e += int32_t{x[n]} * x[n];
  e *= 2;
  int16_t ex, fr;
  voksc::vokLog2(e > kMax32 ? kMax32 : static_cast<int32_t>(e), &ex, &fr);
  return sub(add(shl(ex, 10), shr(fr, 5)), 8521);
}

// Next row of the history ring; the vector goes there, the energy to logEn.
void storeHistory(const int16_t* v, int16_t logEn, int16_t* index, int16_t* vecHist, int16_t* enHist) {
  const int16_t row = static_cast<int16_t>(*index + 1 == kHist ? 0 : *index + 1);
  std::memcpy(vecHist + kOrder * row, v, kOrder * sizeof(int16_t));
  enHist[row] = logEn;
  *index = row;
}

}  // namespace
}  // namespace voksc::amr

using namespace voksc::amr;

VOKSC_EXPORT VokResult voksEncDTXBuffer_GSMAMR_16s(const Vok16s* speech, const Vok16s* lsp, Vok16s* histIndex,
                                                  Vok16s* lspHist, Vok16s* logEnHist) {
  if (anyNull(speech, lsp, histIndex, lspHist, logEnHist)) return vokErrNullPtr;
  if (*histIndex < 0 || *histIndex >= kHist) return vokErrRange;
  storeHistory(lsp, shr(frameLogEnergy(speech), 1), histIndex, lspHist, logEnHist);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDecDTXBuffer_GSMAMR_16s(const Vok16s* speech, const Vok16s* lsf, Vok16s* histIndex,
                                                  Vok16s* lsfHist, Vok16s* logEnHist) {
  if (anyNull(speech, lsf, histIndex, lsfHist, logEnHist)) return vokErrNullPtr;
  if (*histIndex < 0 || *histIndex >= kHist) return vokErrRange;
  storeHistory(lsf, frameLogEnergy(speech), histIndex, lsfHist, logEnHist);
  return vokOk;
}

VOKSC_EXPORT VokResult voksEncDTXHandler_GSMAMR_16s(Vok16s* hangover, Vok16s* elapsed, Vok16s* usedMode,
                                                   Vok16s* computeSid, Vok16s vadFlag) {
  if (anyNull(hangover, elapsed, usedMode, computeSid)) return vokErrNullPtr;
  *elapsed = add(*elapsed, 1);
  *computeSid = 0;
  if (vadFlag != 0) {
    *hangover = kHangover;
  } else if (*hangover == 0) {
    // the hangover has run out: a new SID frame
    *elapsed = 0;
    *usedMode = vokRateSid;
    *computeSid = 1;
  } else {
    *hangover = sub(*hangover, 1);
    // still in the hangover: silence is coded once the decoder has seen
    // enough recent speech frames to analyse
    if (add(*elapsed, *hangover) < kElapsedLimit) *usedMode = vokRateSid;
  }
  return vokOk;
}

VOKSC_EXPORT VokResult voksEncDTXSID_GSMAMR_16s(const Vok16s* lspHist, const Vok16s* logEnHist, Vok16s* logEnIndex,
                                               Vok16s* pastRes, Vok16s* lspIndex, Vok16s* pastQuaEn,
                                               Vok16s* pastQuaEnMr122, Vok16s computeSid) {
  if (anyNull(lspHist, logEnHist, logEnIndex, pastRes, lspIndex, pastQuaEn, pastQuaEnMr122)) return vokErrNullPtr;
  if (computeSid == 0) return vokOk;
  // Averages of the eight stored frames.
  int16_t logEn = 0, lsp[kOrder], lsf[kOrder];
  for (int i = 0; i < kHist; ++i) logEn = add(logEn, shr(logEnHist[i], 2));
  logEn = shr(logEn, 1);
  for (int j = 0; j < kOrder; ++j) {
    int32_t s = 0;
    for (int i = 0; i < kHist; ++i) s += lspHist[kOrder * i + j];
    lsp[j] = static_cast<int16_t>(s >> 3);
  }
  int16_t index = shr(add(add(logEn, 2560), 128), 8);
  if (index > 63) index = 63;
  if (index < 0) index = 0;
  // The gain predictors restart from the quantised energy.
  int16_t q = sub(sub(shl(index, 8), 2560), 9000);
  if (q > 0) q = 0;
  if (q < -14436) q = -14436;
  const int16_t q122 = mult(5443, q);
  // Spread the averaged LSFs, then quantise against the initial prediction
  // residual closest to them.
  voksc::g729::lspToLsfNorm(lsp, lsf);
  lsfSpread(lsf, kLsfGap);
  lsfToLsp(lsf, lsp);
  voksc::g729::lspToLsfNorm(lsp, lsf);
  int best = 0;
  int32_t bestErr = kMax32;
  for (int j = 0; j < kHist; ++j) {
    int32_t err = 0;
    for (int i = 0; i < kOrder; ++i) {
      const int16_t r = sub(lsf[i], add(kLsfMean3[i], kSidPredInit[kOrder * j + i]));
      err = L_mac(err, r, r);
    }
    if (err < bestErr) {
      bestErr = err;
      best = j;
    }
  }
  int16_t pred[kOrder], lsfq[kOrder], idx[3];
  for (int i = 0; i < kOrder; ++i) pred[i] = add(kLsfMean3[i], kSidPredInit[kOrder * best + i]);
  quantiseOneSet(lsf, pred, kMr59, pastRes, lsfq, idx);
  *logEnIndex = index;
  lspIndex[0] = static_cast<int16_t>(best);
  std::memcpy(lspIndex + 1, idx, sizeof idx);
  for (int i = 0; i < 4; ++i) {
    pastQuaEn[i] = q;
    pastQuaEnMr122[i] = q122;
  }
  return vokOk;
}
