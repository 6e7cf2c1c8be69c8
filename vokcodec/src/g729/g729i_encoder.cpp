// G.729 Annex I encoder: per frame one of 6.4 / 8 / 11.8 kbit/s, the
// 11.8 kbit/s mode choosing between the forward LP (quantised LSPs) and the
// order-30 backward LP computed from the past synthesis; with DTX the voice
// activity detector (steered by the music detector) replaces inactive
// frames by SID or untransmitted frames.
#include <cstring>

#include "g729i_common.h"
#include "g729i_dtx.h"
#include "vokcodec.h"
#include "state_tag.h"
#include "checked_call.h"

using namespace vokc::g729i;

namespace {

struct EncoderState {
  uint32_t tag;
  int16_t oldSpeech[kWindow];
  int16_t oldWsp[kFrame + kPitMax];
  int16_t oldExc[kFrame + kExcHist];
  int16_t synth[kHybridLen];  // past synthesis for the backward analysis, then the frame
  int16_t memSyn[kOrderBwd], memW0[kOrderBwd], memW[kOrderBwd], memErr[kOrderBwd];
  int16_t sharp;
  int16_t lspOld[kOrder], lspOldQ[kOrder];
  int16_t lsfMa[4 * kOrder];
  int16_t prevFilter[kMp1Bwd];
  int16_t prevLpMode;
  int16_t gamma1[2], gamma2[2];
  int16_t aTBwdMem[kMp1Bwd];
  int16_t lagBuf[5], pgainBuf[5];
  int16_t pastQuaEn[4];
  int16_t dtx;
  int32_t excErr[4];
  StableLp fwdLp;
  Weighting weighting;
  LpModeDecision decision;
  BackwardLp bwd;
  DtxEncoder dtxState;
  alignas(16) uint8_t highPass[64];
};

EncoderState* encState(void* mem) { return alignedState<EncoderState>(mem); }

// Open-loop delay history of the music detector: the new delay, or its
// half or third when it is a multiple of the recent average.
void pushLag(EncoderState* s, int16_t tOp) {
  for (int i = 0; i < 4; ++i) s->lagBuf[i] = s->lagBuf[i + 1];
  int16_t avg = add(add(s->lagBuf[0], s->lagBuf[1]), add(s->lagBuf[2], s->lagBuf[3]));
  avg = mult_r(avg, 8192);
  const int16_t d2 = sub(tOp, shl(avg, 1));
  const int16_t d3 = sub(tOp, add(shl(avg, 1), avg));
  if (abs_s(d2) < 4)
    s->lagBuf[4] = shr(tOp, 1);
  else if (abs_s(d3) < 6)
    s->lagBuf[4] = mult(tOp, 10923);
  else
    s->lagBuf[4] = tOp;
}

void pushPitchGain(EncoderState* s, int16_t g) {
  for (int i = 0; i < 4; ++i) s->pgainBuf[i] = s->pgainBuf[i + 1];
  s->pgainBuf[4] = g;
}

void shiftBuffers(EncoderState* s) { shiftEncoderHistory(s->oldSpeech, s->oldWsp, s->oldExc); }

// An inactive frame: comfort noise in place of the excitation drives the
// synthesis and the target memories as a coded frame would; an SID frame
// (padded to 16 bits) or nothing is sent.
void encodeInactiveFrame(EncoderState* s, const int16_t* aFwd, int16_t lpMode, const int16_t* speech, int16_t* exc,
                         int16_t* synth, Vok8u* bits, int* nbits) {
  int16_t aq[2 * kMp1];
  int16_t prm[4];
  const int type = s->dtxState.encodeNoise(exc, s->lspOldQ, s->fwdLp, aq, prm, s->lsfMa, s->excErr);
  for (int sf = 0; sf < 2; ++sf) {
    int16_t ap1[kMp1], ap2[kMp1];
    weightAz(aFwd + sf * kMp1, s->gamma1[sf], kOrder, ap1);
    weightAz(aFwd + sf * kMp1, s->gamma2[sf], kOrder, ap2);
    synthesis30(aq + sf * kMp1, kOrder, exc + sf * kSubfr, synth + sf * kSubfr, s->memSyn);
    std::memcpy(s->memSyn, synth + sf * kSubfr + kSubfr - kOrderBwd, sizeof s->memSyn);
    int16_t err[kOrderBwd + kSubfr];
    std::memcpy(err, s->memErr, sizeof s->memErr);
    for (int i = 0; i < kSubfr; ++i)
      err[kOrderBwd + i] = static_cast<int16_t>(speech[sf * kSubfr + i] - synth[sf * kSubfr + i]);
    int16_t xn[kSubfr];
    residualOrder(ap1, kOrder, err + kOrderBwd, xn);
    synthesis30(ap2, kOrder, xn, xn, s->memW0);
    std::memcpy(s->memW0, xn + kSubfr - kOrderBwd, sizeof s->memW0);
    std::memcpy(s->memErr, err + kSubfr, sizeof s->memErr);
    pushPitchGain(s, 8192);
  }
  holdForwardFilter(s->prevFilter, aq);
  s->prevLpMode = lpMode;
  s->sharp = kSharpMin;
  shiftBuffers(s);
  if (type == 1) {
    packParams(prm, kSidBits, 4, bits);
    bits[kBitsSid] = 0;  // octet padding
    *nbits = kBitsSidOctet;
  } else {
    *nbits = 0;
  }
}

// The two subframes of a speech frame: weighted filters ap (orderAp) and
// quantised filters aq (orderAq), the search around the open-loop delay
// tOp with the rate's delay coding and codebooks, the gains, excitation,
// synthesis and target memories.
void encodeSubframes(EncoderState* s, int rate, int16_t lpMode, const int16_t* ap, int orderAp, const int16_t* aq,
                     int orderAq, int16_t tOp, const int16_t* speech, int16_t* exc, int16_t* synth, int16_t* ana) {
  int16_t t0Min = 0, t0Max = 0, centre = tOp;
  int16_t budget = 0;
  const bool lowRate = rate == vokcG729IRate64;
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    const int16_t* apS = ap + sf * (orderAp + 1);
    const int16_t* aqS = aq + sf * (orderAq + 1);
    int16_t ap1[kMp1Bwd], ap2[kMp1Bwd];
    weightAz(apS, s->gamma1[sf], orderAp, ap1);
    weightAz(apS, s->gamma2[sf], orderAp, ap2);

    // Impulse response of the weighted synthesis filter.
    int16_t h1[kSubfr] = {};
    std::memcpy(h1, ap1, static_cast<size_t>(orderAp + 1) * sizeof(int16_t));
    VOKC_CALL(voksSynthesisFilter_G729E_16s, aqS, orderAq, h1, h1, kSubfr, nullptr);
    VOKC_CALL(voksSynthesisFilter_G729E_16s, ap2, orderAp, h1, h1, kSubfr, nullptr);

    // Target: LP residual through 1/A(z) and W(z) with the error memories.
    int16_t res2[kSubfr], xn[kSubfr];
    weightedTarget(aqS, orderAq, ap1, ap2, orderAp, speech + sfOff, exc + sfOff, res2, s->memErr, s->memW0, xn);

    // Closed-loop pitch.
    int16_t* excBuf = exc + sfOff - kExcHist;
    int16_t delay[2];
    closedLoopPitch(lowRate, centre, xn, h1, excBuf, sf, delay);
    const int16_t t0 = delay[0], frac = delay[1];
    const int16_t index = encodeLag(t0, frac, t0Min, t0Max, sf, lowRate);
    *ana++ = index;
    if (sf == 0 && !lowRate) *ana++ = sentParity(index, rate == vokcG729IRate118);
    centre = t0;

    int16_t y1[kSubfr];
    int16_t gainPit, xn2[kSubfr];
    const int16_t taming = adaptiveGain(s->excErr, t0, frac, xn, h1, exc + sfOff, y1, gainPit, xn2);

    // Fixed codebook.
    const int16_t sharp = shl(s->sharp, 1);
    sharpen(h1, t0, sharp);
    int16_t code[kSubfr], y2[kSubfr];
    const Codebook book = lowRate ? Codebook::k64 : rate == vokcG729IRate80 ? Codebook::k80 : Codebook::k118;
    ana += fixedCodebook(book, h1, xn2, res2, exc + sfOff, gainPit, lpMode, &budget, sf, code, y2, ana);
    sharpen(code, t0, sharp);

    // Gains.
    int16_t gains[2];
    *ana++ = quantiseGains(lowRate, xn, y1, code, y2, s->pastQuaEn, taming, gains);
    gainPit = gains[0];
    const int16_t gainCode = gains[1];
    pushPitchGain(s, gainPit);
    clampSharp(s->sharp, gainPit);

    mixExcitation(exc + sfOff, code, gainPit, gainCode);
    updateExcErr(s->excErr, gainPit, t0);
    synthesis30(aqS, orderAq, exc + sfOff, synth + sfOff, s->memSyn);
    std::memcpy(s->memSyn, synth + sfOff + kSubfr - kOrderBwd, sizeof s->memSyn);
    updateTargetMemories(speech + sfOff, synth + sfOff, xn, y1, y2, gainPit, gainCode, kOrderBwd, s->memErr,
                         s->memW0);
  }
}

// The parameters of a speech frame into its bits (at 11.8 kbit/s behind the
// mode bit and its copy).
void packFrame(const int16_t* prm, int rate, int16_t lpMode, Vok8u* bits, int* nbits) {
  switch (rate) {
    case vokcG729IRate64:
      packParams(prm, kBits64, 10, bits);
      *nbits = 64;
      break;
    case vokcG729IRate80:
      packParams(prm, kBits80, 11, bits);
      *nbits = 80;
      break;
    default:
      bits[0] = bits[1] = static_cast<Vok8u>(lpMode);
      if (lpMode == 0)
        packParams(prm, kBits118Fwd, 17, bits + 2);
      else
        packParams(prm, kBits118Bwd, 15, bits + 2);
      *nbits = 118;
      break;
  }
}

}  // namespace

extern "C" {

VokResult vokcG729IEncoderGetSize(int* size) { return alignedStateSize<EncoderState>(size); }

static VokResult g729IEncoderInit(void* mem, int dtx) {
  if (!mem) return vokErrNullPtr;
  EncoderState* s = encState(mem);
  std::memset(static_cast<void*>(s), 0, sizeof *s);
  s->tag = vokc::kTagG729IEncoder;
  s->dtx = dtx ? 1 : 0;
  s->sharp = kSharpMin;
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  std::memcpy(s->lspOldQ, kLspReset, sizeof kLspReset);
  resetPredictors(s->lsfMa, s->pastQuaEn);
  s->decision.reset();
  s->aTBwdMem[0] = 4096;
  s->prevFilter[0] = 4096;
  s->bwd.reset();
  s->fwdLp.reset();
  for (auto& v : s->lagBuf) v = 20;
  for (auto& v : s->pgainBuf) v = 11469;
  for (auto& e : s->excErr) e = 0x4000;
  s->weighting.reset();
  s->dtxState.reset();
  return initHighPass(s->highPass, sizeof s->highPass, false);
}

VokResult vokcG729IEncoderInit(void* mem, int dtx) {
  return vokc::guarded([&] { return g729IEncoderInit(mem, dtx); });
}

static VokResult g729IEncode(void* mem, const Vok16s* pcm, int rate, Vok8u* bits, int* nbits) {
  if (!mem || !pcm || !bits || !nbits) return vokErrNullPtr;
  if (encState(mem)->tag != vokc::kTagG729IEncoder) return vokErrContextMatch;
  if (rate < vokcG729IRate64 || rate > vokcG729IRate118) return vokErrRange;
  EncoderState* s = encState(mem);

  int16_t* speech = takeFrame(s->oldSpeech, pcm, s->highPass);
  int16_t* wsp = s->oldWsp + kPitMax;
  int16_t* exc = s->oldExc + kExcHist;
  int16_t* synth = s->synth + kSynHist;

  // Forward LP analysis (autocorrelation to order 12 for the detectors).
  int32_t r[13];
  int16_t expR0 = 0;
  VOKC_CALL(voksAutoCorr_G729B, s->oldSpeech, &expR0, r);
  int32_t rRaw[kMp1];
  std::memcpy(rRaw, r, sizeof rRaw);
  VOKC_CALL(voksLagWindow_G729_32s_I, r + 1, 12);
  int16_t aFwd[2 * kMp1];
  int16_t rcAll[kOrder] = {};
  s->fwdLp.solve(r, aFwd + kMp1, rcAll);
  const int16_t rc[2] = {rcAll[0], rcAll[1]};
  int16_t lspNew[kOrder];
  VOKC_CALL(voksLPCToLSP_G729_16s, aFwd + kMp1, s->lspOld, lspNew);

  int16_t vad = 1;
  if (s->dtx) {
    int16_t lsf[kOrder];
    VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lspNew, lsf);
    vad = s->dtxState.detect(rcAll, lsf, r, expR0, s->oldSpeech, rate, s->lagBuf, s->pgainBuf, s->prevLpMode);
    s->dtxState.updateNoise(rRaw, expR0, vad);
  }

  int16_t aBwd[2 * kMp1Bwd];
  if (rate == vokcG729IRate118 && vad == 1) {
    s->bwd.filter(s->synth, s->aTBwdMem, aBwd + kMp1Bwd);
  }
  std::memmove(s->synth, s->synth + kFrame, kSynHist * sizeof(int16_t));

  // Unquantised filters of both subframes.
  int16_t lsfInt[kOrder], lsfNew[kOrder];
  if (s->prevLpMode == 0) {
    int16_t lspInt[kOrder];
    for (int i = 0; i < kOrder; ++i) lspInt[i] = add(shr(lspNew[i], 1), shr(s->lspOld[i], 1));
    VOKC_CALL(voksLSPToLPC_G729_16s, lspInt, aFwd);
    VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lspInt, lsfInt);
    VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lspNew, lsfNew);
  } else {
    VOKC_CALL(voksLSPToLPC_G729_16s, lspNew, aFwd);
    VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lspNew, lsfNew);
    std::memcpy(lsfInt, lsfNew, sizeof lsfNew);
  }

  int16_t lpMode = 0;
  int16_t aFwdQ[2 * kMp1];
  int16_t lspNewQ[kOrder], lsfMaNew[4 * kOrder], lspIdx[2] = {0, 0};
  if (vad == 1) {
    int16_t resid[kOrder];
    std::memcpy(lsfMaNew, s->lsfMa, sizeof lsfMaNew);
    VOKC_CALL(voksLSPQuant_G729E_16s, lspNew, lsfMaNew, resid, lspNewQ, lspIdx);
    forwardFilters(s->lspOldQ, lspNewQ, s->prevLpMode, aFwdQ);
    if (rate == vokcG729IRate118)
      lpMode = s->decision.decide(speech, aFwdQ, aBwd, s->prevFilter, s->lspOld, lspNew, s->prevLpMode);
    else
      s->decision.forwardOnly();
  } else {
    s->decision.forwardOnly();
  }
  std::memcpy(s->lspOld, lspNew, sizeof lspNew);

  // Perceptual weighting filter and weighted speech.
  const int16_t* ap;
  int orderAp = kOrder;
  if (lpMode == 0) {
    ap = s->decision.bwdDominant == 0 ? aFwd : aFwdQ;
    s->weighting.factors(rc, lsfInt, lsfNew, s->gamma1, s->gamma2);
  } else {
    if (s->decision.bwdDominant == 0) {
      ap = aFwd;
    } else {
      ap = aBwd;
      orderAp = kOrderBwd;
    }
    s->gamma1[0] = s->gamma1[1] = s->decision.bwdDominant == 0 ? 29491 : 32112;
    s->gamma2[0] = s->gamma2[1] = 13107;
  }
  weightedSpeech(ap, orderAp, s->gamma1, s->gamma2, speech, wsp, s->memW);

  if (vad == 0) {
    encodeInactiveFrame(s, aFwd, lpMode, speech, exc, synth, bits, nbits);
    return vokOk;
  }

  // Active frame.
  int16_t prm[20];
  int16_t* ana = prm;
  const int16_t* aq;
  int orderAq;
  if (lpMode == 0) {
    orderAq = kOrder;
    aq = aFwdQ;
    holdForwardFilter(s->prevFilter, aq);
  } else {
    orderAq = kOrderBwd;
    aq = aBwd;
    std::memcpy(s->prevFilter, aq + kMp1Bwd, kMp1Bwd * sizeof(int16_t));
  }
  if (s->dtx) s->dtxState.speechFrame();
  if (lpMode == 0) {
    std::memcpy(s->lspOldQ, lspNewQ, sizeof lspNewQ);
    std::memcpy(s->lsfMa, lsfMaNew, sizeof lsfMaNew);
    *ana++ = lspIdx[0];
    *ana++ = lspIdx[1];
  }

  int16_t tOp = 0;
  VOKC_CALL(voksOpenLoopPitchSearch_G729_16s, wsp, &tOp);
  pushLag(s, tOp);

  encodeSubframes(s, rate, lpMode, ap, orderAp, aq, orderAq, tOp, speech, exc, synth, ana);
  shiftBuffers(s);
  s->prevLpMode = lpMode;

  packFrame(prm, rate, lpMode, bits, nbits);
  return vokOk;
}

VokResult vokcG729IEncode(void* mem, const Vok16s* pcm, int rate, Vok8u* bits, int* nbits) {
  return vokc::guarded([&] { return g729IEncode(mem, pcm, rate, bits, nbits); });
}

}  // extern "C"
