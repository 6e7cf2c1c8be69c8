// G.729 Annex E encoder and decoder (8 and 11.8 kbit/s, forward or
// backward-adaptive LP) assembled from voksc's exports.
//
// Every signal-processing step is a voksc call; what remains here is the
// frame logic of the higher-rate coder: the backward/forward decision and
// its stationarity bookkeeping, the interpolation of the backward filter,
// the concealment of lost frames (pitch tracking, gain muting, filter
// memory), the adaptive post-filter settings, delay coding and bit packing.
#include <cstring>

#include "g729_common.h"
#include "g729_postfilter.h"
#include "g729_subframes.h"
#include "g729_tables.h"
#include "g729e_tables.h"
#include "vokcodec.h"
#include "state_tag.h"
#include "checked_call.h"

using namespace vokc::g729;

namespace {


struct EncoderState {
  uint32_t tag;
  int16_t oldSpeech[kWindow];
  int16_t oldWsp[kFrame + kPitMax];
  int16_t oldExc[kFrame + kExcHist];
  int16_t synth[kHybridLen];            // local synthesis: history then the frame
  int16_t signal[kOrderBwd + kFrame];   // speech with 30 samples of history (mode decision)
  int16_t aiZero[kMp1Bwd];              // weighted numerator of the last subframe (impulse responses)
  int16_t memSyn[kOrderBwd];
  int16_t memW0[kOrderBwd];
  int16_t memW[kOrderBwd];
  int16_t memErr[kOrderBwd];
  int16_t prevFilter[kMp1Bwd];          // filter of the previous frame (transition interpolation)
  int16_t aBwdMem[kMp1Bwd];             // last unsaturated backward filter
  int16_t lspOld[kOrder];
  int16_t lspOldQ[kOrder];
  int16_t lsfMa[4 * kOrder];
  int16_t pastQuaEn[4];
  int16_t sharp;
  int16_t prevMode;
  int32_t excErr[4];
  StableLp fwdLp;                       // last stable forward filter
  Weighting weighting;
  LpModeDecision decision;
  BackwardLp bwd;                       // last stable backward filter, hybrid window
  alignas(16) uint8_t highPass[64];
};

struct DecoderState {
  uint32_t tag;
  int16_t oldExc[kFrame + kExcHist];
  int16_t synthBuf[kHybridLen];
  int16_t memSyn[kOrderBwd];
  int16_t aBwdMem[kMp1Bwd];             // backward filter before a loss
  int16_t aTBwdMem[kMp1Bwd];            // last unsaturated backward filter
  int16_t prevFilter[kMp1Bwd];
  int16_t lspOld[kOrder];
  int16_t lsfMa[4 * kOrder];
  int16_t prevLsf[kOrder];
  int16_t pastQuaEn[4];
  int16_t prevMa;
  int16_t sharp;
  int16_t prevT0, prevT0Frac;
  int16_t gainCode, gainPitch;
  int16_t gainPitMem, gainCodMem;
  int16_t cMuting;
  int16_t countBfi;
  int16_t statBwd;
  int16_t prevVoicing, prevBfi, prevMode;
  int16_t cFeFix;
  int16_t cInt;
  int16_t seed;
  int16_t bwdDominant;
  PitchTrack pitch;
  Dominance dom;
  // Post-filter.
  int16_t voicing;                      // voicing of the previous frame
  AdaptivePostFilter post;
  BackwardLp bwd;
  alignas(16) uint8_t highPass[64];
};

static_assert(sizeof(EncoderState) < 8192, "encoder state size");
static_assert(sizeof(DecoderState) < 8192, "decoder state size");

// ---- filters ---------------------------------------------------------------

VokResult synthZero(const int16_t* a, int m, const int16_t* x, int16_t* y, int len) {
  int16_t t[kOrderBwd] = {};
  return VOKC_CALL(voksSynthesisFilter_G729E_16s, a, m, x, y, len, t);
}

int paramCount(int rate, int mode) { return rate == 0 ? 11 : (mode == 0 ? 18 : 16); }

const int16_t* paramBits(int rate, int mode) {
  return rate == 0 ? vokc::tables::kParamBits
                   : (mode == 0 ? vokc::tables::e::kBitsForward : vokc::tables::e::kBitsBackward);
}

// The two subframes of an encoded frame: weighted filters ap (mAp) with the
// frame's weighting factors, quantised filters aq (mAq), the search around
// the open-loop delay tOp, the rate's codebook, gains, excitation,
// synthesis (into synthFrame) and target memories.
void encodeSubframes(EncoderState* s, int rate, int16_t mode, const int16_t* ap, int mAp, const int16_t* aq, int mAq,
                     const int16_t* gamma1, const int16_t* gamma2, int16_t tOp, const int16_t* speech, int16_t* exc,
                     int16_t* synthFrame, int16_t* ana) {
  int16_t t0Min = 0, t0Max = 0, centre = tOp, budget = 0;
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    const int16_t* pAp = ap + sf * (mAp + 1);
    const int16_t* pAq = aq + sf * (mAq + 1);
    int16_t ap1[kMp1Bwd], ap2[kMp1Bwd];
    weightAz(pAp, gamma1[sf], mAp, ap1);
    weightAz(pAp, gamma2[sf], mAp, ap2);

    // Impulse response of the weighted synthesis filter.  The numerator
    // buffer keeps the coefficients beyond the current order from the last
    // subframe that filled them.
    std::memcpy(s->aiZero, ap1, static_cast<std::size_t>(mAp + 1) * sizeof(int16_t));
    int16_t in[kSubfr] = {};
    std::memcpy(in, s->aiZero, sizeof s->aiZero);
    int16_t h1[kSubfr];
    synthZero(pAq, mAq, in, h1, kSubfr);
    synthZero(ap2, mAp, h1, h1, kSubfr);

    // Target signal.
    int16_t res2[kSubfr], xn[kSubfr];
    weightedTarget(pAq, mAq, ap1, ap2, mAp, speech + sfOff, exc + sfOff, res2, s->memErr, s->memW0, xn);

    // Closed-loop pitch.
    int16_t delay[2];
    closedLoopPitch(false, centre, xn, h1, exc + sfOff - kExcHist, sf, delay);
    const int16_t t0 = delay[0], frac = delay[1];
    const int16_t index = encodeLag(t0, frac, t0Min, t0Max, sf, false);
    *ana++ = index;
    if (sf == 0) *ana++ = sentParity(index, rate == 1);
    centre = t0;

    int16_t y1[kSubfr], gainPit, xn2[kSubfr];
    const int16_t taming = adaptiveGain(s->excErr, t0, frac, xn, h1, exc + sfOff, y1, gainPit, xn2);

    // Fixed codebook on the pitch-sharpened impulse response.
    const int16_t sharp = shl(s->sharp, 1);
    sharpen(h1, t0, sharp);
    int16_t code[kSubfr], y2[kSubfr];
    ana += fixedCodebook(rate == 0 ? Codebook::k80 : Codebook::k118, h1, xn2, res2, exc + sfOff, gainPit, mode,
                         &budget, sf, code, y2, ana);
    sharpen(code, t0, sharp);

    int16_t gains[2];
    *ana++ = quantiseGains(false, xn, y1, code, y2, s->pastQuaEn, taming, gains);
    gainPit = gains[0];
    const int16_t gainCode = gains[1];
    clampSharp(s->sharp, gainPit);

    mixExcitation(exc + sfOff, code, gainPit, gainCode);
    updateExcErr(s->excErr, gainPit, t0);
    synthesis30(pAq, mAq, exc + sfOff, synthFrame + sfOff, s->memSyn);
    std::memcpy(s->memSyn, synthFrame + sfOff + kSubfr - kOrderBwd, sizeof s->memSyn);
    updateTargetMemories(speech + sfOff, synthFrame + sfOff, xn, y1, y2, gainPit, gainCode, kOrderBwd, s->memErr,
                         s->memW0);
  }

}

// The subframes through the decoders' shared loop; the received parity bit
// (at 11.8 kbit/s with the delay index's second bit added) becomes the
// parity-error word the loop reads.
int16_t decodeSubframes(DecoderState* s, int rate, int16_t mode, int16_t bfi, int16_t voicing, const int16_t* parm,
                        const int16_t* pA, int mAq, int16_t* exc, int16_t* syn) {
  int16_t words[15];  // the most a frame's subframes take (11.8 kbit/s)
  std::memcpy(words, parm, sizeof words);
  const int16_t parity = static_cast<int16_t>(words[1] + (rate == 1 ? (words[0] >> 1) & 1 : 0));
  words[1] = static_cast<int16_t>((pitchParity(words[0]) ^ parity) & 1);
  return decodeSpeechSubframes(s, SpeechRate{false, rate == 1}, mode != 0, bfi, voicing, words, pA, mAq, s->seed,
                               nullptr, exc, syn);
}

}  // namespace

extern "C" {

VokResult vokcG729EEncoderGetSize(int* size) { return alignedStateSize<EncoderState>(size); }

static VokResult g729EEncoderInit(void* mem) {
  if (!mem) return vokErrNullPtr;
  int hp = 0, hy = 0;
  VOKC_CALL(voksHighPassFilterSize_G729, &hp);
  VOKC_CALL(voksWinHybridGetStateSize_G729E_16s, &hy);
  if (hp > static_cast<int>(sizeof(EncoderState::highPass)) || hy > static_cast<int>(sizeof(BackwardLp::hybrid)))
    return vokErrInternal;
  EncoderState* s = alignedState<EncoderState>(mem);
  std::memset(s, 0, sizeof *s);
  s->tag = vokc::kTagG729EEncoder;
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  std::memcpy(s->lspOldQ, kLspReset, sizeof kLspReset);
  resetPredictors(s->lsfMa, s->pastQuaEn);
  for (auto& e : s->excErr) e = 0x4000;
  s->sharp = kSharpMin;
  s->weighting.reset();
  s->decision.reset();
  s->prevFilter[0] = 4096;
  s->aBwdMem[0] = 4096;
  s->bwd.reset();
  s->fwdLp.reset();
  return initHighPass(s->highPass, sizeof s->highPass, false);
}

VokResult vokcG729EEncoderInit(void* mem) {
  return vokc::guarded([&] { return g729EEncoderInit(mem); });
}

static VokResult g729EEncode(void* mem, const Vok16s* pcm, int rate, Vok16s* prm) {
  if (!mem || !pcm || !prm) return vokErrNullPtr;
  EncoderState* s = alignedState<EncoderState>(mem);
  if (s->tag != vokc::kTagG729EEncoder) return vokErrContextMatch;
  if (rate != vokcG729ERate8 && rate != vokcG729ERate118) return vokErrRange;

  int16_t* speech = takeFrame(s->oldSpeech, pcm, s->highPass);
  int16_t* wsp = s->oldWsp + kPitMax;
  int16_t* exc = s->oldExc + kExcHist;
  int16_t* synthFrame = s->synth + kSynHist;
  int16_t* sig = s->signal + kOrderBwd;
  Vok16s* ana = prm;

  // Backward analysis of the past synthesis (11.8 kbit/s only).
  int16_t aBwd[2 * kMp1Bwd] = {};
  if (rate == 1) s->bwd.filter(s->synth, s->aBwdMem, aBwd + kMp1Bwd);
  std::memmove(s->synth, s->synth + kFrame, kSynHist * sizeof(int16_t));
  std::memcpy(sig, speech, kFrame * sizeof(int16_t));

  // Forward analysis and LSP quantisation (the MA memory moves only when
  // the frame is sent in forward mode).
  int32_t r[13];
  int16_t exponent = 0;
  VOKC_CALL(voksAutoCorr_G729B, s->oldSpeech, &exponent, r);
  VOKC_CALL(voksLagWindow_G729_32s_I, r + 1, kOrder);
  int16_t aFwd[kMp1], rcAll[kOrder];
  s->fwdLp.solve(r, aFwd, rcAll);
  const int16_t rcFwd[2] = {rcAll[0], rcAll[1]};
  int16_t lspNew[kOrder], lspNewQ[kOrder], residualQ[kOrder], codeLsp[2] = {0, 0};
  std::memcpy(lspNewQ, s->lspOldQ, sizeof lspNewQ);
  VOKC_CALL(voksLPCToLSP_G729_16s, aFwd, s->lspOld, lspNew);
  int16_t ma[4 * kOrder];
  std::memcpy(ma, s->lsfMa, sizeof ma);
  VOKC_CALL(voksLSPQuant_G729E_16s, lspNew, ma, residualQ, lspNewQ, codeLsp);

  int16_t at[2 * kMp1], atQ[2 * kMp1], lsfInt[kOrder], lsfNew[kOrder];
  if (s->prevMode == 0) {
    int16_t lspInt[kOrder];
    VOKC_CALL(voksInterpolate_G729_16s, s->lspOld, lspNew, lspInt, kOrder);
    VOKC_CALL(voksLSPToLPC_G729_16s, lspInt, at);
    VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lspInt, lsfInt);
    VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lspNew, lsfNew);
  } else {
    // After a backward frame the forward filters are not interpolated.
    VOKC_CALL(voksLSPToLPC_G729_16s, lspNew, at);
    VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lspNew, lsfNew);
    std::memcpy(lsfInt, lsfNew, sizeof lsfNew);
  }
  forwardFilters(s->lspOldQ, lspNewQ, s->prevMode, atQ);
  std::memcpy(at + kMp1, aFwd, sizeof aFwd);

  int16_t mode = 0;
  if (rate == 1) {
    mode = s->decision.decide(sig, atQ, aBwd, s->prevFilter, s->lspOld, lspNew, s->prevMode);
    *ana++ = mode;
  } else {
    s->decision.forwardOnly();
  }

  int mAp, mAq;
  const int16_t *ap, *aq;
  if (mode == 0) {
    mAp = mAq = kOrder;
    aq = atQ;
    ap = s->decision.bwdDominant == 0 ? at : atQ;
    holdForwardFilter(s->prevFilter, atQ);
    std::memset(s->aiZero + kMp1, 0, (kMp1Bwd - kMp1) * sizeof(int16_t));
  } else {
    mAq = kOrderBwd;
    aq = aBwd;
    if (s->decision.bwdDominant == 0) {
      mAp = kOrder;
      ap = at;
    } else {
      mAp = kOrderBwd;
      ap = aBwd;
    }
    std::memcpy(s->prevFilter, aBwd + kMp1Bwd, kMp1Bwd * sizeof(int16_t));
  }
  std::memcpy(s->lspOld, lspNew, sizeof lspNew);

  int16_t gamma1[2], gamma2[2];
  if (mode == 0) {
    std::memcpy(s->lspOldQ, lspNewQ, sizeof lspNewQ);
    std::memcpy(s->lsfMa, ma, sizeof ma);
    *ana++ = codeLsp[0];
    *ana++ = codeLsp[1];
    s->weighting.factors(rcFwd, lsfInt, lsfNew, gamma1, gamma2);
  } else {
    gamma1[0] = gamma1[1] = s->decision.bwdDominant == 0 ? 29491 : 32112;
    gamma2[0] = gamma2[1] = 13107;
  }

  // Weighted speech and open-loop pitch.
  weightedSpeech(ap, mAp, gamma1, gamma2, speech, wsp, s->memW);
  int16_t tOp = 0;
  VOKC_CALL(voksOpenLoopPitchSearch_G729_16s, wsp, &tOp);

  encodeSubframes(s, rate, mode, ap, mAp, aq, mAq, gamma1, gamma2, tOp, speech, exc, synthFrame, ana);

  shiftEncoderHistory(s->oldSpeech, s->oldWsp, s->oldExc);
  std::memmove(s->signal, s->signal + kFrame, kOrderBwd * sizeof(int16_t));
  s->prevMode = mode;
  return vokOk;
}

VokResult vokcG729EEncode(void* mem, const Vok16s* pcm, int rate, Vok16s* prm) {
  return vokc::guarded([&] { return g729EEncode(mem, pcm, rate, prm); });
}

VokResult vokcG729EDecoderGetSize(int* size) { return alignedStateSize<DecoderState>(size); }

static VokResult g729EDecoderInit(void* mem) {
  if (!mem) return vokErrNullPtr;
  int hp = 0, hy = 0;
  VOKC_CALL(voksHighPassFilterSize_G729, &hp);
  VOKC_CALL(voksWinHybridGetStateSize_G729E_16s, &hy);
  if (hp > static_cast<int>(sizeof(DecoderState::highPass)) || hy > static_cast<int>(sizeof(BackwardLp::hybrid)))
    return vokErrInternal;
  DecoderState* s = alignedState<DecoderState>(mem);
  std::memset(s, 0, sizeof *s);
  s->tag = vokc::kTagG729EDecoder;
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  resetPredictors(s->lsfMa, s->pastQuaEn);
  std::memcpy(s->prevLsf, vokc::tables::kLsfMaReset, kOrder * 2);
  s->sharp = kSharpMin;
  s->prevT0 = 60;
  s->aBwdMem[0] = 4096;
  s->aTBwdMem[0] = 4096;
  s->prevFilter[0] = 4096;
  s->cInt = kCIntReset;
  s->pitch.prevPitch = 30;
  s->cMuting = 32767;
  s->seed = 21845;
  s->voicing = 60;
  s->post.reset();
  s->bwd.reset();
  return initHighPass(s->highPass, sizeof s->highPass, true);
}

VokResult vokcG729EDecoderInit(void* mem) {
  return vokc::guarded([&] { return g729EDecoderInit(mem); });
}

static VokResult g729EDecode(void* mem, const Vok16s* prmIn, int rate, int erased, Vok16s* pcm) {
  if (!mem || !prmIn || !pcm) return vokErrNullPtr;
  DecoderState* s = alignedState<DecoderState>(mem);
  if (s->tag != vokc::kTagG729EDecoder) return vokErrContextMatch;
  if (rate != vokcG729ERate8 && rate != vokcG729ERate118) return vokErrRange;
  const int16_t bfi = erased ? 1 : 0;

  // Parameters limited to their bit widths (anything else could not have
  // been transmitted).
  int16_t prm[18] = {};
  const int16_t modeBit = rate == 1 ? static_cast<int16_t>(prmIn[0] & 1) : 0;
  {
    const int n = paramCount(rate, modeBit);
    const int16_t* bits = paramBits(rate, modeBit);
    const int first = rate == 1 ? 1 : 0;
    prm[0] = prmIn[0];
    for (int i = first; i < n; ++i)
      prm[i] = static_cast<int16_t>(prmIn[i] & ((1 << bits[i - first]) - 1));
  }
  if (rate == 1) prm[0] = modeBit;
  const int16_t* parm = prm;

  int16_t voicing = s->voicing;
  int16_t mode = 0;
  if (rate == 1) {
    mode = bfi ? s->prevMode : modeBit;
    ++parm;
    if (s->prevBfi) voicing = s->prevVoicing;
  }
  if (!bfi) {
    s->cMuting = 32767;
    s->countBfi = 0;
  }

  // Backward analysis of the past synthesis.
  int16_t aBwd[2 * kMp1Bwd] = {};
  std::memcpy(aBwd + kMp1Bwd, s->aBwdMem, kMp1Bwd * sizeof(int16_t));
  if (rate == 1) s->bwd.filter(s->synthBuf, s->aTBwdMem, aBwd + kMp1Bwd);
  std::memmove(s->synthBuf, s->synthBuf + kFrame, kSynHist * sizeof(int16_t));
  if (mode == 1 && s->cFeFix != 0) fadeFromHeld(aBwd + kMp1Bwd, s->aBwdMem, s->cFeFix);
  if (bfi && !s->prevBfi && rate == 1) std::memcpy(s->aBwdMem, aBwd + kMp1Bwd, kMp1Bwd * sizeof(int16_t));

  int16_t atFwd[2 * kMp1];
  const int16_t* pA;
  int mAq;
  if (mode == 0) {
    int16_t lspNew[kOrder];
    decodeLsp(parm, bfi != 0, s->lsfMa, s->prevLsf, s->prevMa, lspNew);
    parm += 2;
    forwardFilters(s->lspOld, lspNew, s->prevMode, atFwd);
    std::memcpy(s->lspOld, lspNew, sizeof lspNew);
    s->cInt = kCIntReset;
    pA = atFwd;
    mAq = kOrder;
    holdForwardFilter(s->prevFilter, atFwd);
  } else {
    interpolateBackward(aBwd, s->prevFilter, s->cInt);
    pA = aBwd;
    mAq = kOrderBwd;
    std::memcpy(s->prevFilter, aBwd + kMp1Bwd, kMp1Bwd * sizeof(int16_t));
  }

  int16_t* exc = s->oldExc + kExcHist;
  int16_t* syn = s->synthBuf + kSynHist;
  const int16_t t0First = decodeSubframes(s, rate, mode, bfi, voicing, parm, pA, mAq, exc, syn);
  if (energyDb(syn, kFrame) >= 8192) s->dom.update(s->bwdDominant, mode);
  std::memmove(s->oldExc, s->oldExc + kFrame, kExcHist * sizeof(int16_t));

  s->prevBfi = bfi;
  s->prevMode = mode;
  s->prevVoicing = voicing;
  ageHeldFilter(bfi, mode, s->bwdDominant, s->cFeFix);

  // Post-filter: G.729's at 8 kbit/s; at 11.8 kbit/s weights that fade
  // while backward mode dominates.
  const int longH = s->post.settle(rate == 1, mode == 1 && s->bwdDominant == 1);  // a lost frame: the previous mode
  s->voicing = s->post.frame(t0First, syn, pA, mode == 0 ? kOrder : kOrderBwd, longH, true, pcm);
  VOKC_CALL(voksHighPassFilter_G729_16s_ISfs, pcm, kFrame, 13, s->highPass);
  return vokOk;
}

VokResult vokcG729EDecode(void* mem, const Vok16s* prmIn, int rate, int erased, Vok16s* pcm) {
  return vokc::guarded([&] { return g729EDecode(mem, prmIn, rate, erased, pcm); });
}

VokResult vokcG729EPackBits(const Vok16s* prm, int rate, Vok8u* bits) {
  if (!prm || !bits) return vokErrNullPtr;
  if (rate != vokcG729ERate8 && rate != vokcG729ERate118) return vokErrRange;
  int n = 0, first = 0;
  const int16_t mode = rate == 1 ? static_cast<int16_t>(prm[0] & 1) : 0;
  if (rate == 1) {
    bits[n++] = static_cast<Vok8u>(mode);
    bits[n++] = static_cast<Vok8u>(mode);  // the mode bit is sent twice
    first = 1;
  }
  packParams(prm + first, paramBits(rate, mode), paramCount(rate, mode) - first, bits + n);
  return vokOk;
}

VokResult vokcG729EUnpackBits(const Vok8u* bits, int rate, Vok16s* prm, int* erased) {
  if (!bits || !prm || !erased) return vokErrNullPtr;
  if (rate != vokcG729ERate8 && rate != vokcG729ERate118) return vokErrRange;
  *erased = 0;
  int n = 0, first = 0;
  int16_t mode = 0;
  bool zero = false;
  if (rate == 1) {
    mode = bits[0] & 1;
    // The two copies of the mode bit disagree: the frame was damaged; its
    // parameters read as zero, the first copy is kept for the post-filter.
    zero = (bits[1] & 1) != mode;
    *erased = zero ? 1 : 0;
    prm[0] = mode;
    n = 2;
    first = 1;
  }
  const int count = paramCount(rate, mode) - first;
  unpackParams(bits + n, paramBits(rate, mode), count, prm + first);
  if (zero) std::memset(prm + first, 0, static_cast<std::size_t>(count) * sizeof(Vok16s));
  return vokOk;
}

}  // extern "C"
