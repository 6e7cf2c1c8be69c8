// G.729 Annex D encoder and decoder: the 6.4 kbit/s mode beside the
// 8 kbit/s G.729 mode, switchable frame by frame on one coder state.
//
// Both rates share the LP analysis, the LSP quantiser, the perceptual
// weighting, the open-loop pitch, the taming and the post-filter; they differ
// in the closed-loop delay resolution of the second subframe, the fixed
// codebook (two pulses at 6.4 kbit/s), the gain codebooks and, in the decoder,
// the phase dispersion of the fixed vector at 6.4 kbit/s.  Every signal
// processing step is a voksc call; what is left here is the frame loop glue.
#include <cstring>

#include "g729_common.h"
#include "g729_tables.h"
#include "vokcodec.h"
#include "state_tag.h"
#include "checked_call.h"

using namespace vokc::g729;

namespace {

// 6.4 kbit/s frame: LSP (8, 10), then per subframe delay (8 / 4), pulse
// positions (9), signs (2), gains (6).
constexpr int16_t kParamBitsLow[10] = {8, 10, 8, 9, 2, 6, 4, 9, 2, 6};

struct EncoderState {
  uint32_t tag;
  int16_t oldSpeech[kWindow];
  int16_t oldWsp[kFrame + kPitMax];
  int16_t oldExc[kFrame + kExcHist];
  int16_t memW0[kOrder];
  int16_t memW[kOrder];
  int16_t memErr[kOrder];
  int16_t memSyn[kOrder];
  int16_t lspOld[kOrder];
  int16_t lspOldQ[kOrder];
  int16_t lsfMa[4 * kOrder];  // MA predictor memory, newest frame first
  StableLp lp;                // last stable LP filter
  int16_t sharp;
  int16_t pastQuaEn[4];  // gain predictor memory, Q10, newest first
  Weighting weighting;   // perceptual weighting: smoothing flag, previous log-area ratios
  int32_t excErr[4];     // taming: accumulated excitation error
  alignas(16) uint8_t highPass[64];
};

struct DecoderState {
  uint32_t tag;
  int16_t oldExc[kFrame + kExcHist];
  int16_t memSyn[kOrder];
  int16_t lspOld[kOrder];
  int16_t lsfMa[4 * kOrder];
  int16_t prevLsf[kOrder];  // last good LSF, reused for a lost frame
  int16_t prevMa;
  int16_t sharp;
  int16_t oldT0;
  int16_t gainPitch;
  int16_t gainCode;
  int16_t seed;
  int16_t pastQuaEn[4];
  int16_t synHist[kOrder];          // last synthesis samples before the frame
  int16_t voicing;                  // post-filter voicing of the previous frame
  int16_t pstGain;                  // gain control, past gain
  int16_t pstStp[kOrder + kSubfr];  // short-term post-filter: past outputs + subframe
  int16_t pstRes2[152 + kSubfr];    // long-term post-filter residual
  alignas(16) uint8_t highPass[64];
  alignas(16) uint8_t dispersion[64];
};

static_assert(sizeof(EncoderState) < 4096, "encoder state size");
static_assert(sizeof(DecoderState) < 4096, "decoder state size");

EncoderState* encState(void* mem) { return alignedState<EncoderState>(mem); }
DecoderState* decState(void* mem) { return alignedState<DecoderState>(mem); }

bool validRate(int rate) { return rate == vokcG729D6k4 || rate == vokcG729D8k; }

// 1/A(z) over one subframe from a copy of `mem`; `update` keeps the new memory.
VokResult synth(const int16_t* a, const int16_t* x, int16_t* y, int16_t* mem, bool update) {
  int16_t m[kOrder];
  std::memcpy(m, mem, sizeof m);
  VokResult st = VOKC_CALL(voksSynthesisFilter_G729E_16s, a, kOrder, x, y, kSubfr, m);
  if (update) std::memcpy(mem, m, sizeof m);
  return st;
}

void synthFromZero(const int16_t* a, int16_t* x) {
  int16_t m[kOrder] = {};
  VOKC_CALL(voksSynthesisFilter_G729E_16s_I, a, kOrder, x, kSubfr, m);
}

// ---- encoder --------------------------------------------------------------

// Windowed autocorrelation, lag window and Levinson-Durbin; an unstable
// result keeps the previous filter and reflection coefficients.
void lpAnalysis(EncoderState* s, int16_t* a, int16_t* rc) {
  int32_t r[13];
  int16_t exponent = 0;
  VOKC_CALL(voksAutoCorr_G729B, s->oldSpeech, &exponent, r);
  VOKC_CALL(voksLagWindow_G729_32s_I, r + 1, kOrder);
  int16_t rcAll[kOrder];
  s->lp.solve(r, a, rcAll);
  rc[0] = rcAll[0];
  rc[1] = rcAll[1];
}

void encodeFrame(EncoderState* s, const int16_t* pcm, bool low, int16_t* prm) {
  const int16_t* speech = takeFrame(s->oldSpeech, pcm, s->highPass);
  int16_t* wsp = s->oldWsp + kPitMax;
  int16_t* exc = s->oldExc + kExcHist;
  int16_t* ana = prm;

  // LP analysis and LSP quantisation.
  int16_t a[kMp1], rc[2];
  lpAnalysis(s, a, rc);
  int16_t lspNew[kOrder], lspNewQ[kOrder];
  VOKC_CALL(voksLPCToLSP_G729_16s, a, s->lspOld, lspNew);
  VOKC_CALL(voksLSPQuant_G729_16s, lspNew, s->lsfMa, lspNewQ, ana);
  ana += 2;

  // Unquantised filters (interpolated, then the analysis result) for the
  // weighting, quantised ones for synthesis.
  int16_t lspInt[kOrder];
  int16_t at[2 * kMp1], aq[2 * kMp1];
  VOKC_CALL(voksInterpolate_G729_16s, s->lspOld, lspNew, lspInt, kOrder);
  VOKC_CALL(voksLSPToLPC_G729_16s, lspInt, at);
  std::memcpy(at + kMp1, a, sizeof a);
  interpolateLpc(s->lspOldQ, lspNewQ, aq);
  int16_t lsfInt[kOrder], lsfNew[kOrder];
  VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lspInt, lsfInt);
  VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lspNew, lsfNew);
  std::memcpy(s->lspOld, lspNew, sizeof lspNew);
  std::memcpy(s->lspOldQ, lspNewQ, sizeof lspNewQ);
  int16_t gamma1[2], gamma2[2];
  s->weighting.factors(rc, lsfInt, lsfNew, gamma1, gamma2);

  // Weighted speech and open-loop delay.
  int16_t ap1[2][kMp1], ap2[2][kMp1];
  for (int sf = 0; sf < 2; ++sf) {
    weightAz(at + sf * kMp1, gamma1[sf], kOrder, ap1[sf]);
    weightAz(at + sf * kMp1, gamma2[sf], kOrder, ap2[sf]);
    int16_t r[kSubfr];
    VOKC_CALL(voksResidualFilter_G729_16s, speech + sf * kSubfr, ap1[sf], r);
    synth(ap2[sf], r, wsp + sf * kSubfr, s->memW, true);
  }
  int16_t centre = 0;
  VOKC_CALL(voksOpenLoopPitchSearch_G729_16s, wsp, &centre);

  int16_t tMin = 0, tMax = 0;
  int16_t budget = 0;
  for (int sf = 0; sf < 2; ++sf) {
    const int off = sf * kSubfr;
    const int16_t* aqs = aq + sf * kMp1;

    // Impulse response of W(z)/A(z).
    int16_t h1[kSubfr] = {};
    std::memcpy(h1, ap1[sf], kMp1 * sizeof(int16_t));
    synthFromZero(aqs, h1);
    synthFromZero(ap2[sf], h1);

    // Target: the LP residual through 1/A(z) and W(z) with the error memories.
    VOKC_CALL(voksResidualFilter_G729_16s, speech + off, aqs, exc + off);
    int16_t err[kSubfr], xr[kOrder + kSubfr], xn[kSubfr];
    synth(aqs, exc + off, err, s->memErr, false);
    std::memcpy(xr, s->memErr, sizeof s->memErr);
    std::memcpy(xr + kOrder, err, sizeof err);
    int16_t xw[kSubfr];
    VOKC_CALL(voksResidualFilter_G729_16s, xr + kOrder, ap1[sf], xw);
    synth(ap2[sf], xw, xn, s->memW0, false);

    // Closed-loop delay; the adaptive vector goes into the excitation.
    int16_t* excBuf = exc + off - kExcHist;
    int16_t delay[2];
    closedLoopPitch(low, centre, xn, h1, excBuf, sf, delay);
    const int16_t t0 = delay[0], frac = delay[1];
    const int16_t index = encodeLag(t0, frac, tMin, tMax, sf, low);
    *ana++ = index;
    if (sf == 0 && !low) *ana++ = pitchParity(index);
    centre = t0;

    int16_t y1[kSubfr];
    int16_t gainPit, xn2[kSubfr];
    const int16_t taming = adaptiveGain(s->excErr, t0, frac, xn, h1, exc + off, y1, gainPit, xn2);

    // Fixed codebook on the pitch-sharpened impulse response.
    const int16_t sharp = shl(s->sharp, 1);
    sharpen(h1, t0, sharp);
    int16_t code[kSubfr], y2[kSubfr];
    ana += fixedCodebook(low ? Codebook::k64 : Codebook::k80, h1, xn2, nullptr, nullptr, 0, 0, &budget, sf, code, y2,
                         ana);
    sharpen(code, t0, sharp);

    // Gains.
    int16_t gains[2];
    *ana++ = quantiseGains(low, xn, y1, code, y2, s->pastQuaEn, taming, gains);
    gainPit = gains[0];
    const int16_t gainCode = gains[1];
    clampSharp(s->sharp, gainPit);

    // Excitation, local synthesis and the memories of the next target.
    mixExcitation(exc + off, code, gainPit, gainCode);
    updateExcErr(s->excErr, gainPit, t0);
    int16_t syn[kSubfr];
    synth(aqs, exc + off, syn, s->memSyn, true);
    updateTargetMemories(speech + off, syn, xn, y1, y2, gainPit, gainCode, kOrder, s->memErr, s->memW0);
  }

  shiftEncoderHistory(s->oldSpeech, s->oldWsp, s->oldExc);
}

// ---- decoder --------------------------------------------------------------

// Post-filter of one subframe: long-term filter on the residual of
// A(z/0.55), short-term filter, tilt compensation, gain control.
void postFilter(DecoderState* s, int16_t t0, const int16_t* syn, const int16_t* a, int16_t* out, int16_t* voicing) {
  int16_t num[kMp1];
  weightAz(a, 18022, kOrder, num);
  VOKC_CALL(voksResidualFilter_G729_16s, syn, num, s->pstRes2 + 152);
  int16_t ltp[kSubfr];
  longTermPostFilter(16384, t0, s->pstRes2, ltp, voicing);
  int16_t* stp = s->pstStp + kOrder;
  int16_t h[20];
  VOKC_CALL(voksShortTermPostFilter_G729_16s, a, ltp, stp, h);
  int16_t tilt[1 + kSubfr];
  tilt[0] = s->pstStp[kOrder - 1];
  std::memcpy(tilt + 1, stp, kSubfr * sizeof(int16_t));
  VOKC_CALL(voksTiltCompensation_G729_16s, h, tilt + 1);
  std::memcpy(out, tilt + 1, kSubfr * sizeof(int16_t));
  VOKC_CALL(voksGainControl_G729_16s_I, syn, out, &s->pstGain);
  std::memmove(s->pstStp, s->pstStp + kSubfr, kOrder * sizeof(int16_t));
}

void decodeFrame(DecoderState* s, const int16_t* prm, bool low, bool bfi, int16_t* pcm) {
  int16_t* exc = s->oldExc + kExcHist;

  // LSPs (a lost frame repeats the last good LSFs and ages the predictor).
  int16_t lspNew[kOrder];
  decodeLsp(prm, bfi, s->lsfMa, s->prevLsf, s->prevMa, lspNew);
  int16_t az[2 * kMp1];
  interpolateLpc(s->lspOld, lspNew, az);
  std::memcpy(s->lspOld, lspNew, sizeof lspNew);

  int16_t synBuf[kOrder + kFrame];  // the post-filter reads 10 samples back
  std::memcpy(synBuf, s->synHist, sizeof s->synHist);
  int16_t* syn = synBuf + kOrder;
  int16_t t0First = 0;
  const int16_t* parm = prm + 2;
  for (int sf = 0; sf < 2; ++sf) {
    const int off = sf * kSubfr;
    const int16_t index = *parm++;
    bool badDelay = bfi;
    if (sf == 0 && !low) badDelay = bfi || ((pitchParity(index) ^ *parm++) & 1);
    int16_t t0 = t0First, frac;
    if (!badDelay) {
      decodeLag(index, sf, low, t0, frac);
      s->oldT0 = t0;
    } else {
      concealLag(s->oldT0, 0, false, t0, frac);
    }
    if (sf == 0) t0First = t0;
    const int16_t delay[2] = {t0, frac};
    VOKC_CALL(voksDecodeAdaptiveVector_G729_16s_I, delay, exc + off - kExcHist);

    int16_t pos = parm[0], sign = parm[1];
    parm += 2;
    if (bfi) {
      pos = static_cast<int16_t>(nextRandom(s->seed) & (low ? 0x01FF : 0x1FFF));
      sign = static_cast<int16_t>(nextRandom(s->seed) & (low ? 0x0003 : 0x000F));
    }
    int16_t code[kSubfr];
    if (low)
      decodeCode64(sign, pos, code);
    else
      decodeCode80(sign, pos, code);
    sharpen(code, t0, shl(s->sharp, 1));

    const int16_t gainIndex = *parm++;
    int32_t energy = 0;
    for (int i = 0; i < kSubfr; ++i) energy += int32_t{code[i]} * code[i];
    int16_t gains[2] = {s->gainPitch, s->gainCode};
    if (bfi) {
      VOKC_CALL(voksDecodeGain_G729_16s, energy, s->pastQuaEn, nullptr, gains);
    } else if (low) {
      const int16_t idx[2] = {static_cast<int16_t>((gainIndex >> 3) & 7), static_cast<int16_t>(gainIndex & 7)};
      VOKC_CALL(voksDecodeGain_G729I_16s, energy, 32767, s->pastQuaEn, idx, gains);
    } else {
      const int16_t idx[2] = {static_cast<int16_t>((gainIndex >> 4) & 7), static_cast<int16_t>(gainIndex & 15)};
      VOKC_CALL(voksDecodeGain_G729_16s, energy, s->pastQuaEn, idx, gains);
    }
    s->gainPitch = gains[0];
    s->gainCode = gains[1];
    clampSharp(s->sharp, s->gainPitch);

    // A lost frame is concealed with the adaptive part only after a voiced
    // frame, else with the fixed part only.
    int16_t gp = s->gainPitch, gc = s->gainCode;
    if (bfi) concealedGains(s->voicing, gp, gc);
    mixExcitation(exc + off, code, gp, gc);

    if (!low) VOKC_CALL(voksPhaseDispersionUpdate_G729D_16s, s->gainPitch, s->gainCode, s->dispersion);
    int16_t probe[kSubfr];
    if (synth(az + sf * kMp1, exc + off, probe, s->memSyn, false) == vokWrnOverflow)
      for (auto& e : s->oldExc) e = shr(e, 2);
    if (low) {
      // The synthesis runs on the excitation rebuilt with the dispersed
      // fixed vector; the excitation history keeps the plain one.
      int16_t dispersed[kSubfr];
      VOKC_CALL(voksPhaseDispersion_G729D_16s, exc + off, dispersed, s->gainCode, s->gainPitch, code, s->dispersion);
      synth(az + sf * kMp1, dispersed, syn + off, s->memSyn, true);
    } else {
      synth(az + sf * kMp1, exc + off, syn + off, s->memSyn, true);
    }
  }
  std::memmove(s->oldExc, s->oldExc + kFrame, kExcHist * sizeof(int16_t));

  // Post-filter with the first subframe's delay in both subframes; its
  // voicing decision steers the concealment of the next lost frame.
  s->voicing = 0;
  for (int sf = 0; sf < 2; ++sf) {
    int16_t vo = 0;
    postFilter(s, t0First, syn + sf * kSubfr, az + sf * kMp1, pcm + sf * kSubfr, &vo);
    if (vo != 0) s->voicing = vo;
  }
  std::memcpy(s->synHist, syn + kFrame - kOrder, sizeof s->synHist);
  VOKC_CALL(voksHighPassFilter_G729_16s_ISfs, pcm, kFrame, 13, s->highPass);
}

const int16_t* paramBits(int rate) { return rate == vokcG729D6k4 ? kParamBitsLow : vokc::tables::kParamBits; }
int paramCount(int rate) { return rate == vokcG729D6k4 ? 10 : 11; }

}  // namespace

extern "C" {

VokResult vokcG729DEncoderGetSize(int* size) { return alignedStateSize<EncoderState>(size); }

static VokResult g729DEncoderInit(void* mem) {
  if (!mem) return vokErrNullPtr;
  EncoderState* s = encState(mem);
  std::memset(s, 0, sizeof *s);
  s->tag = vokc::kTagG729DEncoder;
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  std::memcpy(s->lspOldQ, kLspReset, sizeof kLspReset);
  resetPredictors(s->lsfMa, s->pastQuaEn);
  s->lp.reset();
  s->sharp = kSharpMin;
  for (auto& e : s->excErr) e = 0x4000;
  s->weighting.reset();
  return initHighPass(s->highPass, sizeof s->highPass, false);
}

VokResult vokcG729DEncoderInit(void* mem) {
  return vokc::guarded([&] { return g729DEncoderInit(mem); });
}

static VokResult g729DEncode(void* mem, const Vok16s* pcm, int rate, Vok16s* prm) {
  if (!mem || !pcm || !prm) return vokErrNullPtr;
  if (encState(mem)->tag != vokc::kTagG729DEncoder) return vokErrContextMatch;
  if (!validRate(rate)) return vokErrRange;
  encodeFrame(encState(mem), pcm, rate == vokcG729D6k4, prm);
  return vokOk;
}

VokResult vokcG729DEncode(void* mem, const Vok16s* pcm, int rate, Vok16s* prm) {
  return vokc::guarded([&] { return g729DEncode(mem, pcm, rate, prm); });
}

VokResult vokcG729DDecoderGetSize(int* size) { return alignedStateSize<DecoderState>(size); }

static VokResult g729DDecoderInit(void* mem) {
  if (!mem) return vokErrNullPtr;
  DecoderState* s = decState(mem);
  std::memset(s, 0, sizeof *s);
  s->tag = vokc::kTagG729DDecoder;
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  resetPredictors(s->lsfMa, s->pastQuaEn);
  std::memcpy(s->prevLsf, vokc::tables::kLsfMaReset, kOrder * 2);
  s->sharp = kSharpMin;
  s->oldT0 = 60;
  s->seed = 21845;
  s->voicing = 60;
  s->pstGain = 16384;
  int size = 0;
  VOKC_CALL(voksPhaseDispersionGetStateSize_G729D_16s, &size);
  if (size > static_cast<int>(sizeof s->dispersion)) return vokErrInternal;
  VokResult st = VOKC_CALL(voksPhaseDispersionInit_G729D_16s, s->dispersion);
  if (st != vokOk) return st;
  return initHighPass(s->highPass, sizeof s->highPass, true);
}

VokResult vokcG729DDecoderInit(void* mem) {
  return vokc::guarded([&] { return g729DDecoderInit(mem); });
}

static VokResult g729DDecode(void* mem, const Vok16s* prm, int rate, int erased, Vok16s* pcm) {
  if (!mem || !pcm || (!prm && !erased)) return vokErrNullPtr;
  if (decState(mem)->tag != vokc::kTagG729DDecoder) return vokErrContextMatch;
  if (!validRate(rate)) return vokErrRange;
  // Parameters are reduced to their field widths, so any values decode.
  int16_t p[11] = {};
  if (!erased) {
    const int16_t* bits = paramBits(rate);
    for (int i = 0; i < paramCount(rate); ++i) p[i] = static_cast<int16_t>(prm[i] & ((1 << bits[i]) - 1));
  }
  decodeFrame(decState(mem), p, rate == vokcG729D6k4, erased != 0, pcm);
  return vokOk;
}

VokResult vokcG729DDecode(void* mem, const Vok16s* prm, int rate, int erased, Vok16s* pcm) {
  return vokc::guarded([&] { return g729DDecode(mem, prm, rate, erased, pcm); });
}

VokResult vokcG729DPackBits(const Vok16s* prm, int rate, Vok8u* bits) {
  if (!prm || !bits) return vokErrNullPtr;
  if (!validRate(rate)) return vokErrRange;
  packParams(prm, paramBits(rate), paramCount(rate), bits);
  return vokOk;
}

VokResult vokcG729DUnpackBits(const Vok8u* bits, int rate, Vok16s* prm) {
  if (!bits || !prm) return vokErrNullPtr;
  if (!validRate(rate)) return vokErrRange;
  unpackParams(bits, paramBits(rate), paramCount(rate), prm);
  return vokOk;
}

}  // extern "C"
