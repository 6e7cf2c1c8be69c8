// G.729 and G.729A encoder and decoder assembled from voksc's exports, with
// the optional Annex B silence compression (VAD, DTX, comfort noise).
//
// The frame loop follows the ITU-T reference coder step by step; every
// signal-processing step is a voksc call, and what remains here is the glue
// the standard keeps in its frame loop: buffer shifting, delay coding,
// parity, taming bookkeeping, pitch sharpening and the bit packing.  The
// Annex B bookkeeping lives in g729b_dtx.cpp.
#include <cstring>

#include "g729_common.h"
#include "g729_tables.h"
#include "g729_vad.h"
#include "g729b_dtx.h"
#include "g729b_tables.h"
#include "vokcodec.h"
#include "state_tag.h"
#include "checked_call.h"
#include "bit_octets.h"

using namespace vokc::g729;
namespace g729b = vokc::g729b;

namespace {

constexpr int16_t kGammaA = 24576;  // 0.75, G.729A perceptual weighting

struct EncoderState {
  uint32_t tag;
  int32_t variant;
  int16_t oldSpeech[kWindow];
  int16_t oldWsp[kFrame + kPitMax];
  int16_t oldExc[kFrame + kExcHist];
  int16_t memW0[kOrder];
  int16_t memW[kOrder];
  int16_t memErr[kOrder];
  int16_t memSyn[kOrder];
  int16_t lspOld[kOrder];
  int16_t lspOldQ[kOrder];
  int16_t lsfMa[4 * kOrder];
  StableLp fallback;  // filter kept when a Levinson recursion is unstable
  int16_t sharp;
  int16_t pastQuaEn[4];  // gain predictor memory, Q10, newest first
  Weighting weighting;   // G.729 perceptual weighting: smoothing flag, previous log-area ratios
  int16_t pad;
  int32_t excErr[4];
  alignas(16) uint8_t highPass[64];
  // Annex B (dtx != 0).
  int32_t dtx;
  int16_t frameCount;  // 1, 2, ... 32767, then 256 again
  int16_t pastVad;
  int16_t ppastVad;
  int16_t cngSeed;
  VoiceDetector vad;
  g729b::CngEncoder cng;
};

struct DecoderState {
  uint32_t tag;
  int32_t variant;
  int16_t oldExc[kFrame + kExcHist];
  int16_t memSyn[kOrder];
  int16_t lspOld[kOrder];
  int16_t lsfMa[4 * kOrder];
  int16_t prevLsf[kOrder];
  int16_t prevMa;
  int16_t sharp;
  int16_t oldT0;
  int16_t gainPitch;
  int16_t gainCode;
  int16_t seed;
  int16_t pastQuaEn[4];
  // Post-filter.
  int16_t synHist[kOrder];        // last synthesis samples before the frame
  int16_t res2[kExcHist + kSubfr];  // post-filter residual history + subframe
  int16_t memSynPst[kOrder];
  int16_t memPre;
  int16_t pastGain;
  int16_t voicing;                // G.729 voicing of the previous frame (post-filter)
  int16_t pstGain;                // G.729 gain control, past gain
  int16_t pstStp[kOrder + kSubfr]; // G.729 short-term post-filter: past outputs + subframe
  int16_t pstRes2[152 + kSubfr];  // G.729 long-term post-filter residual
  alignas(16) uint8_t highPass[64];
  // Annex B.
  int16_t pastFrameType;
  int16_t cngSeed;
  int16_t energyDue;  // the last good frame's excitation energy is still to be taken
  g729b::CngDecoder cng;
};

static_assert(sizeof(EncoderState) < 4096, "encoder state size");
static_assert(sizeof(DecoderState) < 4096, "decoder state size");

// Copies of the ten words that the synthesis filter has just stored one by
// one go word by word too (GCC is kept from merging them into vector
// moves): a wide load over several narrow stores waits for them to leave
// the store queue instead of taking them forwarded.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-vectorize")))
#endif
void copyWords(int16_t* to, const int16_t* from) {
  static_assert(kOrder == 10, "ten words");
  to[0] = from[0], to[1] = from[1], to[2] = from[2], to[3] = from[3], to[4] = from[4];
  to[5] = from[5], to[6] = from[6], to[7] = from[7], to[8] = from[8], to[9] = from[9];
}

// Synthesis filter 1/A(z) over one subframe; `update` keeps the memory.
// A kept memory goes to the filter in place (it reads the memory in blocks,
// which a copy made word by word just before would hold up).
VokResult synth(const int16_t* a, const int16_t* x, int16_t* y, int16_t* mem, bool update) {
  if (update) return VOKC_CALL(voksSynthesisFilter_G729E_16s, a, kOrder, x, y, kSubfr, mem);
  int16_t m[kOrder];
  copyWords(m, mem);
  return VOKC_CALL(voksSynthesisFilter_G729E_16s, a, kOrder, x, y, kSubfr, m);
}

// From zero state, in place (impulse responses).
VokResult synthZero(const int16_t* a, int16_t* x, int len) {
  int16_t m[kOrder] = {};
  return VOKC_CALL(voksSynthesisFilter_G729E_16s_I, a, kOrder, x, len, m);
}

// Residual filter A(z) over one subframe; x has 10 samples of history.
void residual(const int16_t* a, const int16_t* x, int16_t* y) { VOKC_CALL(voksResidualFilter_G729_16s, x, a, y); }

// What the Annex B detector and noise description take from the analysis.
struct VadInputs {
  int32_t rRaw[kMp1];  // autocorrelation before lag windowing
  int32_t r[13];       // lag-windowed to order 12
  int16_t exponent;
};

// LP analysis of the 240-sample window: autocorrelation with the overflow
// retry, lag window, Levinson (keeping the previous filter when unstable).
void lpAnalysis(EncoderState* s, int16_t* a, int16_t* rc, VadInputs* vin) {
  // Windowed, normalised autocorrelation (rescaled while it overflows).
  int32_t r[13];
  int16_t exponent = 0;
  VOKC_CALL(voksAutoCorr_G729B, s->oldSpeech, &exponent, r);
  if (vin) {
    std::memcpy(vin->rRaw, r, sizeof vin->rRaw);
    VOKC_CALL(voksLagWindow_G729_32s_I, r + 1, 12);
    std::memcpy(vin->r, r, sizeof vin->r);
    vin->exponent = exponent;
  } else {
    VOKC_CALL(voksLagWindow_G729_32s_I, r + 1, kOrder);
  }
  int16_t rcAll[kOrder];
  s->fallback.solve(r, a, rcAll);
  rc[0] = rcAll[0];
  rc[1] = rcAll[1];
}


void shiftEncoderBuffers(EncoderState* s) { shiftEncoderHistory(s->oldSpeech, s->oldWsp, s->oldExc); }

// Fixed-codebook step of a subframe: pitch sharpening folded into h, the
// correlation matrix and backward-filtered target, the search (G.729 with
// its budget, or Annex A), the filtered code vector, and sharpening of the
// chosen code vector.
void fixedCodebook(bool annexA, int16_t sharpQ14, int16_t t0, int16_t* h1, const int16_t* xn2, int16_t* code,
                   int16_t* y2, int16_t* cbIndex, int16_t* budget, int subframe) {
  int16_t sharp = shl(sharpQ14, 1);
  sharpen(h1, t0, sharp);
  int16_t rr[616];
  VOKC_CALL(voksToeplizMatrix_G729_16s, h1, rr);
  int16_t dn[kSubfr];
  VOKC_CALL(voksCrossCorr_NormM_16s, h1, xn2, kSubfr, dn);  // normalised to 13 bits
  if (annexA)
    VOKC_CALL(voksFixedCodebookSearch_G729A_16s, dn, rr, code, cbIndex);
  else
    VOKC_CALL(voksFixedCodebookSearch_G729_16s, dn, rr, code, cbIndex, budget, subframe);
  filteredCode80(h1, cbIndex[0], cbIndex[1], y2);
  sharpen(code, t0, sharp);
}

// Gains, excitation and the weighted-error memories of one subframe (both variants).
void finishSubframe(EncoderState* s, int16_t* exc, const int16_t* xn, const int16_t* y1, const int16_t* code,
                    const int16_t* y2, int16_t t0, int16_t taming, int16_t*& ana, int16_t& gainPit,
                    int16_t& gainCode) {
  int16_t gains[2];
  *ana++ = quantiseGains(false, xn, y1, code, y2, s->pastQuaEn, taming, gains);
  gainPit = gains[0];
  gainCode = gains[1];
  clampSharp(s->sharp, gainPit);
  mixExcitation(exc, code, gainPit, gainCode);
  updateExcErr(s->excErr, gainPit, t0);
  for (int i = kSubfr - kOrder, j = 0; i < kSubfr; ++i, ++j) {
    int16_t t1 = extract_h(L_shl(L_mult(y1[i], gainPit), 1));
    int16_t t2 = extract_h(L_shl(L_mult(y2[i], gainCode), 2));
    s->memW0[j] = sub(xn[i], add(t1, t2));
  }
}

// Full G.729 weighting: the unquantised filters of both subframes
// (interpolated for subframe 0, the analysis result for 1), the adaptive
// weighting factors and the weighted speech of the frame.
void weightMain(EncoderState* s, const int16_t* aNew, const int16_t* rc, const int16_t* lspNew,
                const int16_t* speech, int16_t* wsp, int16_t* at, int16_t* gamma1, int16_t* gamma2) {
  int16_t lspInt[kOrder];
  VOKC_CALL(voksInterpolate_G729_16s, s->lspOld, lspNew, lspInt, kOrder);
  VOKC_CALL(voksLSPToLPC_G729_16s, lspInt, at);
  std::memcpy(at + kMp1, aNew, kMp1 * sizeof(int16_t));
  int16_t lsfInt[kOrder], lsfNew[kOrder];
  VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lspInt, lsfInt);
  VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lspNew, lsfNew);
  s->weighting.factors(rc, lsfInt, lsfNew, gamma1, gamma2);

  // Weighted speech and open-loop pitch.
  for (int sf = 0; sf < 2; ++sf) {
    int16_t ap1[kMp1], ap2[kMp1];
    weightAz(at + sf * kMp1, gamma1[sf], kOrder, ap1);
    weightAz(at + sf * kMp1, gamma2[sf], kOrder, ap2);
    int16_t r[kSubfr];
    residual(ap1, speech + sf * kSubfr, r);
    synth(ap2, r, wsp + sf * kSubfr, s->memW, true);
  }
}

// Closed-loop search state of a frame: the search centre (the open-loop
// delay, then the first subframe's delay), the second subframe's delay
// range and the fixed-codebook budget of full G.729.
struct PitchSearch {
  int16_t centre = 0;
  int16_t t0Min = 0, t0Max = 0;
  int16_t budget = 0;
};

// One subframe of either core once its target xn and the impulse response
// h1 of the weighted synthesis filter are known: closed-loop pitch (the
// core's search), the delay index and the parity bit after the first, the
// adaptive gain (G.729A filters the past excitation through the weighted
// filter aw itself) limited under taming, the fixed codebook on the
// remaining target, then gains, excitation and the weighted-error memory.
void searchSubframe(EncoderState* s, bool annexA, PitchSearch& search, const int16_t* xn, int16_t* h1,
                    const int16_t* aw, int16_t* excSub, int sf, int16_t*& ana) {
  int16_t delay[2], adaptive[kSubfr];
  if (annexA)
    VOKC_CALL(voksAdaptiveCodebookSearch_G729A_16s, search.centre, xn, h1, excSub - kExcHist, delay, adaptive, sf);
  else
    VOKC_CALL(voksAdaptiveCodebookSearch_G729_16s, search.centre, xn, h1, excSub - kExcHist, delay, adaptive, sf);
  const int16_t t0 = delay[0], frac = delay[1];
  const int16_t index = encodeLag(t0, frac, search.t0Min, search.t0Max, sf, false);
  *ana++ = index;
  if (sf == 0) *ana++ = pitchParity(index);
  search.centre = t0;

  int16_t y1[kSubfr];
  int16_t gainPit = 0;
  if (annexA)
    VOKC_CALL(voksAdaptiveCodebookGain_G729A_16s, xn, aw, excSub, y1, &gainPit);
  else
    VOKC_CALL(voksAdaptiveCodebookGain_G729_16s, xn, h1, excSub, y1, &gainPit);
  const int16_t taming = tamingNeeded(s->excErr, t0, frac);
  if (taming == 1 && gainPit > kGpClip) gainPit = kGpClip;
  int16_t xn2[kSubfr];
  fixedCodebookTarget(xn, y1, gainPit, xn2);

  int16_t code[kSubfr], y2[kSubfr], cbIndex[2];
  fixedCodebook(annexA, s->sharp, t0, h1, xn2, code, y2, cbIndex, annexA ? nullptr : &search.budget, sf);
  *ana++ = cbIndex[0];
  *ana++ = cbIndex[1];
  int16_t gainCode = 0;
  finishSubframe(s, excSub, xn, y1, code, y2, t0, taming, ana, gainPit, gainCode);
}

// The subframes of full G.729 (after LSP quantisation): the target through
// the error memories and W(z) = A(z/gamma1) / A(z/gamma2); the error memory
// follows the new synthesis.
void encodeMainSubframes(EncoderState* s, const int16_t* at, const int16_t* gamma1, const int16_t* gamma2,
                         const int16_t* aq, const int16_t* speech, int16_t* wsp, int16_t* exc, int16_t* ana) {
  PitchSearch search;
  VOKC_CALL(voksOpenLoopPitchSearch_G729_16s, wsp, &search.centre);
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    const int16_t* aqs = aq + sf * kMp1;
    int16_t ap1[kMp1], ap2[kMp1];
    weightAz(at + sf * kMp1, gamma1[sf], kOrder, ap1);
    weightAz(at + sf * kMp1, gamma2[sf], kOrder, ap2);

    // Impulse response of the weighted synthesis filter W(z)/A(z).
    int16_t h1[kSubfr] = {};
    std::memcpy(h1, ap1, kMp1 * sizeof(int16_t));
    synthZero(aqs, h1, kSubfr);
    synthZero(ap2, h1, kSubfr);

    // Target: LP residual through 1/A(z) then W(z) with the error memories.
    residual(aqs, speech + sfOff, exc + sfOff);
    int16_t err[kOrder + kSubfr];
    std::memcpy(err, s->memErr, sizeof s->memErr);
    synth(aqs, exc + sfOff, err + kOrder, s->memErr, false);
    int16_t xr[kSubfr], xn[kSubfr];
    residual(ap1, err + kOrder, xr);
    synth(ap2, xr, xn, s->memW0, false);

    searchSubframe(s, false, search, xn, h1, nullptr, exc + sfOff, sf, ana);
    int16_t syn[kSubfr];
    synth(aqs, exc + sfOff, syn, s->memSyn, true);
    for (int i = kSubfr - kOrder, j = 0; i < kSubfr; ++i, ++j) s->memErr[j] = sub(speech[sfOff + i], syn[i]);
  }
}

// The subframes of G.729A: the target is the residual already in exc
// through the weighted filter ap = A(z/0.75) of the quantised filter.
void encodeSubframesA(EncoderState* s, const int16_t* ap, int16_t* wsp, int16_t* exc, int16_t* ana) {
  PitchSearch search;
  VOKC_CALL(voksOpenLoopPitchSearch_G729A_16s, wsp, &search.centre);
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    const int16_t* aps = ap + sf * kMp1;
    int16_t h1[kSubfr] = {};
    h1[0] = 4096;
    synthZero(aps, h1, kSubfr);
    int16_t xn[kSubfr];
    synth(aps, exc + sfOff, xn, s->memW0, false);
    searchSubframe(s, true, search, xn, h1, aps, exc + sfOff, sf, ana);
  }
}

}  // namespace

extern "C" {

VokResult vokcG729EncoderGetSize(int* size) { return alignedStateSize<EncoderState>(size); }

static EncoderState* encState(void* mem) { return alignedState<EncoderState>(mem); }
static DecoderState* decState(void* mem) { return alignedState<DecoderState>(mem); }

static VokResult encoderInit(void* mem, int variant, bool dtx) {
  if (!mem) return vokErrNullPtr;
  if (variant != vokcG729Main && variant != vokcG729AnnexA) return vokErrRange;
  EncoderState* s = encState(mem);
  std::memset(s, 0, sizeof *s);
  s->tag = vokc::kTagG729Encoder;
  s->variant = variant;
  s->dtx = dtx ? 1 : 0;
  s->pastVad = 1;
  s->ppastVad = 1;
  s->cngSeed = g729b::kCngSeedStart;
  s->vad.reset();
  g729b::cngEncoderInit(s->cng);
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  std::memcpy(s->lspOldQ, kLspReset, sizeof kLspReset);
  resetPredictors(s->lsfMa, s->pastQuaEn);
  s->fallback.reset();
  s->sharp = kSharpMin;
  for (auto& e : s->excErr) e = 0x4000;
  s->weighting.reset();
  return initHighPass(s->highPass, sizeof s->highPass, false);
}

VokResult vokcG729EncoderInit(void* mem, int variant) {
  return vokc::guarded([&] { return encoderInit(mem, variant, false); });
}

// Inactive frame of the full G.729 core: the comfort-noise excitation drives
// the synthesis and weighting-filter memories as a coded frame would.
static int encodeInactiveMain(EncoderState* s, const int16_t* at, const int16_t* gamma1, const int16_t* gamma2,
                              const int16_t* speech, int16_t* exc, int16_t* prm) {
  int16_t aq[2 * kMp1], gp[2], t0[2];
  int type = g729b::cngEncode(s->cng, s->fallback, false, s->pastVad, s->lspOldQ, s->lsfMa, exc, s->cngSeed, aq, prm,
                              gp, t0);
  for (int sf = 0; sf < 2; ++sf) updateExcErr(s->excErr, gp[sf], t0[sf]);
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    int16_t ap1[kMp1], ap2[kMp1];
    weightAz(at + sf * kMp1, gamma1[sf], kOrder, ap1);
    weightAz(at + sf * kMp1, gamma2[sf], kOrder, ap2);
    int16_t syn[kSubfr];
    synth(aq + sf * kMp1, exc + sfOff, syn, s->memSyn, true);
    int16_t err[kOrder + kSubfr];
    std::memcpy(err, s->memErr, sizeof s->memErr);
    for (int i = 0; i < kSubfr; ++i) err[kOrder + i] = sub(speech[sfOff + i], syn[i]);
    int16_t xr[kSubfr], xn[kSubfr];
    residual(ap1, err + kOrder, xr);
    synth(ap2, xr, xn, s->memW0, true);
    std::memcpy(s->memErr, err + kSubfr, sizeof s->memErr);
  }
  return type;
}

// Inactive frame of the G.729A core.
static int encodeInactiveA(EncoderState* s, const int16_t* speech, int16_t* wsp, int16_t* exc, int16_t* prm) {
  int16_t aq[2 * kMp1], gp[2], t0[2];
  int type = g729b::cngEncode(s->cng, s->fallback, true, s->pastVad, s->lspOldQ, s->lsfMa, exc, s->cngSeed, aq, prm,
                              gp, t0);
  for (int sf = 0; sf < 2; ++sf) updateExcErr(s->excErr, gp[sf], t0[sf]);
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    const int16_t* aqs = aq + sf * kMp1;
    int16_t xn[kSubfr];
    residual(aqs, speech + sfOff, xn);
    int16_t apw[kMp1], ap[kMp1];
    weightAz(aqs, kGammaA, kOrder, apw);
    ap[0] = 4096;
    for (int i = 1; i <= kOrder; ++i) ap[i] = sub(apw[i], mult(apw[i - 1], 22938));
    synth(ap, xn, wsp + sfOff, s->memW, true);
    for (int i = 0; i < kSubfr; ++i) xn[i] = sub(xn[i], exc[sfOff + i]);
    int16_t y[kSubfr];
    synth(apw, xn, y, s->memW0, true);
  }
  return type;
}

// One frame.  Without DTX the frame type is always speech.
static VokResult encodeFrame(EncoderState* s, const Vok16s* pcm, Vok16s* prm, int* frameType) {
  const bool annexA = s->variant == vokcG729AnnexA;
  const bool dtx = s->dtx != 0;

  // Pre-processing into the new-speech part of the analysis buffer.
  int16_t* speech = takeFrame(s->oldSpeech, pcm, s->highPass);

  int16_t* wsp = s->oldWsp + kPitMax;
  int16_t* exc = s->oldExc + kExcHist;
  Vok16s* ana = prm;

  // LP analysis and the voice activity decision.
  int16_t a[kMp1], rc[2];
  VadInputs vin;
  lpAnalysis(s, a, rc, dtx ? &vin : nullptr);
  int16_t lspNew[kOrder], lspNewQ[kOrder];
  if (annexA)
    VOKC_CALL(voksLPCToLSP_G729A_16s, a, s->lspOld, lspNew);
  else
    VOKC_CALL(voksLPCToLSP_G729_16s, a, s->lspOld, lspNew);
  int16_t vad = 1;
  if (dtx) {
    s->frameCount = s->frameCount == 32767 ? int16_t{256} : static_cast<int16_t>(s->frameCount + 1);
    int16_t lsfNorm[kOrder];
    VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lspNew, lsfNorm);
    const VadFeatures features = s->vad.measure(vin.r, vin.exponent, lsfNorm, s->oldSpeech);
    vad = s->vad.decide(features, lsfNorm, rc[1], s->frameCount, s->pastVad, s->ppastVad);
    g729b::cngUpdate(s->cng, vin.rRaw, vin.exponent, vad);
  }
  *frameType = g729b::kSpeech;

  // An inactive frame ends with the detector history, the sharpening reset
  // and the buffer shift; a speech frame restarts the comfort-noise seed and
  // quantises its LSPs into the interpolated filters aq.
  auto finishInactive = [&](int type) {
    *frameType = type;
    s->ppastVad = s->pastVad;
    s->pastVad = vad;
    s->sharp = kSharpMin;
    shiftEncoderBuffers(s);
  };
  auto quantiseSpeechLsp = [&](int16_t* aq) {
    s->cngSeed = g729b::kCngSeedStart;
    s->ppastVad = s->pastVad;
    s->pastVad = vad;
    VOKC_CALL(voksLSPQuant_G729_16s, lspNew, s->lsfMa, lspNewQ, ana);
    ana += 2;
    interpolateLpc(s->lspOldQ, lspNewQ, aq);
    std::memcpy(s->lspOldQ, lspNewQ, sizeof lspNewQ);
  };

  if (!annexA) {
    int16_t at[2 * kMp1], gamma1[2], gamma2[2];
    weightMain(s, a, rc, lspNew, speech, wsp, at, gamma1, gamma2);
    std::memcpy(s->lspOld, lspNew, sizeof lspNew);
    if (dtx && vad == 0) {
      finishInactive(encodeInactiveMain(s, at, gamma1, gamma2, speech, exc, prm));
      return vokOk;
    }
    int16_t aq[2 * kMp1];
    quantiseSpeechLsp(aq);
    encodeMainSubframes(s, at, gamma1, gamma2, aq, speech, wsp, exc, ana);
    shiftEncoderBuffers(s);
    return vokOk;
  }

  if (dtx && vad == 0) {
    finishInactive(encodeInactiveA(s, speech, wsp, exc, prm));
    return vokOk;
  }
  int16_t aq[2 * kMp1];
  quantiseSpeechLsp(aq);
  std::memcpy(s->lspOld, lspNew, sizeof lspNew);

  int16_t ap[2 * kMp1];
  weightAz(aq, kGammaA, kOrder, ap);
  weightAz(aq + kMp1, kGammaA, kOrder, ap + kMp1);

  // Weighted speech and open-loop pitch.
  residual(aq, speech, exc);
  residual(aq + kMp1, speech + kSubfr, exc + kSubfr);
  for (int sf = 0; sf < 2; ++sf) {
    const int16_t* p = ap + sf * kMp1;
    int16_t ap1[kMp1];
    ap1[0] = 4096;
    for (int i = 1; i <= kOrder; ++i) ap1[i] = sub(p[i], mult(p[i - 1], 22938));
    synth(ap1, exc + sf * kSubfr, wsp + sf * kSubfr, s->memW, true);
  }
  encodeSubframesA(s, ap, wsp, exc, ana);
  shiftEncoderBuffers(s);
  return vokOk;
}

static VokResult g729Encode(void* mem, const Vok16s* pcm, Vok16s* prm) {
  if (!mem || !pcm || !prm) return vokErrNullPtr;
  if (encState(mem)->tag != vokc::kTagG729Encoder) return vokErrContextMatch;
  int type = 0;
  return encodeFrame(encState(mem), pcm, prm, &type);
}

VokResult vokcG729Encode(void* mem, const Vok16s* pcm, Vok16s* prm) {
  return vokc::guarded([&] { return g729Encode(mem, pcm, prm); });
}

VokResult vokcG729BEncoderInit(void* mem, int variant) {
  return vokc::guarded([&] { return encoderInit(mem, variant, true); });
}

static VokResult g729BEncode(void* mem, const Vok16s* pcm, Vok16s* prm, int* frameType) {
  if (!mem || !pcm || !prm || !frameType) return vokErrNullPtr;
  if (encState(mem)->tag != vokc::kTagG729Encoder) return vokErrContextMatch;
  return encodeFrame(encState(mem), pcm, prm, frameType);
}

VokResult vokcG729BEncode(void* mem, const Vok16s* pcm, Vok16s* prm, int* frameType) {
  return vokc::guarded([&] { return g729BEncode(mem, pcm, prm, frameType); });
}

VokResult vokcG729DecoderGetSize(int* size) { return alignedStateSize<DecoderState>(size); }

static VokResult g729DecoderInit(void* mem, int variant) {
  if (!mem) return vokErrNullPtr;
  if (variant != vokcG729Main && variant != vokcG729AnnexA) return vokErrRange;
  DecoderState* s = decState(mem);
  std::memset(s, 0, sizeof *s);
  s->tag = vokc::kTagG729Decoder;
  s->variant = variant;
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  resetPredictors(s->lsfMa, s->pastQuaEn);
  std::memcpy(s->prevLsf, vokc::tables::kLsfMaReset, kOrder * 2);
  s->sharp = kSharpMin;
  s->oldT0 = 60;
  s->seed = 21845;
  s->pastGain = 4096;
  s->voicing = 60;
  s->pstGain = 16384;
  s->pastFrameType = g729b::kSpeech;
  s->cngSeed = g729b::kCngSeedStart;
  g729b::cngDecoderInit(s->cng);
  return initHighPass(s->highPass, sizeof s->highPass, true);
}

VokResult vokcG729DecoderInit(void* mem, int variant) {
  return vokc::guarded([&] { return g729DecoderInit(mem, variant); });
}

// Powers of the post-filters' weighting factors 0.55 and 0.7.
constexpr GammaPowers kPowNum = gammaPowers(18022), kPowDen = gammaPowers(22938);

// Annex A post-filter of one frame: long-term, tilt, short-term and gain
// control per subframe.  syn points at the frame with 10 samples of history.
// Non-speech frames (Annex B) skip the long-term filter.
static void postFilterA(DecoderState* s, int16_t* syn, const int16_t* az, const int16_t* t2, int16_t* out,
                        bool speech) {
  for (int sf = 0; sf < 2; ++sf) {
    const int16_t* a = az + sf * kMp1;
    int16_t ap[2 * kMp1];  // numerator (0.55) then denominator (0.70)
    weightAz10(a, kPowNum, ap);
    weightAz10(a, kPowDen, ap + kMp1);
    // The tilt filter reads the previous subframe's last unfiltered sample
    // just before the signal.
    int16_t pre[1 + kSubfr];
    int16_t* res2Pst = pre + 1;
    if (speech) {
      VOKC_CALL(voksLongTermPostFilter_G729A_16s, t2[sf], syn + sf * kSubfr, ap, s->res2, res2Pst);
    } else {
      residual(ap, syn + sf * kSubfr, s->res2 + kExcHist);
      std::memcpy(res2Pst, s->res2 + kExcHist, kSubfr * sizeof(int16_t));
      std::memmove(s->res2, s->res2 + kSubfr, kExcHist * sizeof(int16_t));
    }
    pre[0] = s->memPre;
    s->memPre = res2Pst[kSubfr - 1];
    VOKC_CALL(voksTiltCompensation_G729A_16s, ap, res2Pst);
    synth(ap + kMp1, res2Pst, out + sf * kSubfr, s->memSynPst, true);
    VOKC_CALL(voksGainControl_G729A_16s_I, syn + sf * kSubfr, out + sf * kSubfr, &s->pastGain);
  }
}

// G.729 post-filter of one subframe: long-term filter on the residual of
// A(z/0.55), short-term filter, tilt compensation, gain control.
static void postFilterMain(DecoderState* s, int16_t t0, const int16_t* syn, const int16_t* a, int16_t* out,
                           int16_t* voicing, bool speech) {
  int16_t num[kMp1];
  weightAz10(a, kPowNum, num);
  int16_t* res = s->pstRes2 + 152;
  residual(num, syn, res);
  int16_t ltp[kSubfr];
  if (speech) {
    longTermPostFilter(16384, t0, s->pstRes2, ltp, voicing);  // shifts pstRes2
  } else {
    *voicing = 0;
    std::memcpy(ltp, res, sizeof ltp);
    std::memmove(s->pstRes2, s->pstRes2 + kSubfr, 152 * sizeof(int16_t));
  }
  int16_t* stp = s->pstStp + kOrder;
  int16_t h[20];
  VOKC_CALL(voksShortTermPostFilter_G729_16s, a, ltp, stp, h);
  int16_t tilt[kSubfr + 1];
  tilt[0] = s->pstStp[kOrder - 1];
  std::memcpy(tilt + 1, stp, kSubfr * sizeof(int16_t));
  VOKC_CALL(voksTiltCompensation_G729_16s, h, tilt + 1);
  std::memcpy(out, tilt + 1, kSubfr * sizeof(int16_t));
  VOKC_CALL(voksGainControl_G729_16s_I, syn, out, &s->pstGain);
  std::memmove(s->pstStp, s->pstStp + kSubfr, kOrder * sizeof(int16_t));
}

// Synthesis of one subframe; on overflow the whole excitation history is
// scaled down by 4 and the subframe filtered again from the memory it
// started with.  The filter keeps its memory in place; the memory it
// started with is still in front of the subframe (the memory is always the
// ten outputs before it: both start at zero, both take the last ten of
// every subframe, and the frame buffer starts with the last frame's ten).
static void synthesise(DecoderState* s, const int16_t* a, const int16_t* exc, int16_t* syn) {
  if (synth(a, exc, syn, s->memSyn, true) == vokWrnOverflow) {
    copyWords(s->memSyn, syn - kOrder);
    for (auto& e : s->oldExc) e = shr(e, 2);
    synth(a, exc, syn, s->memSyn, true);
  }
}

// Decoder of a speech frame (or its concealment).  Returns the delays of the
// two subframes in t2, the filters in az and the synthesis in syn.
static void decodeSpeech(DecoderState* s, const int16_t* prm, int16_t bfi, int16_t* az, int16_t* t2, int16_t* syn) {
  int16_t* exc = s->oldExc + kExcHist;

  // LSPs.
  int16_t lspNew[kOrder];
  decodeLsp(prm, bfi != 0, s->lsfMa, s->prevLsf, s->prevMa, lspNew);
  interpolateLpc(s->lspOld, lspNew, az);
  std::memcpy(s->lspOld, lspNew, sizeof lspNew);

  int16_t t0Prev = 0;  // delay of the first subframe, the base of the second's coding
  const int16_t* parm = prm + 2;
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    int16_t index = *parm++;
    int16_t t0 = t0Prev, frac;
    bool badPitch = bfi;
    if (sf == 0) {
      int16_t parity = *parm++;
      int16_t err = static_cast<int16_t>((pitchParity(index) ^ parity) & 1);
      badPitch = bfi || err;
    }
    if (!badPitch) {
      decodeLag(index, sf, false, t0, frac);
      s->oldT0 = t0;
    } else {
      concealLag(s->oldT0, 0, false, t0, frac);
    }
    t2[sf] = t0;
    if (sf == 0) t0Prev = t0;
    int16_t delay[2] = {t0, frac};
    VOKC_CALL(voksDecodeAdaptiveVector_G729_16s_I, delay, exc + sfOff - kExcHist);

    int16_t pos = parm[0], sign = parm[1];
    if (bfi) {
      pos = static_cast<int16_t>(nextRandom(s->seed) & 0x1FFF);
      sign = static_cast<int16_t>(nextRandom(s->seed) & 0x000F);
    }
    parm += 2;
    int16_t code[kSubfr];
    decodeCode80(sign, pos, code);
    sharpen(code, t0, shl(s->sharp, 1));

    int16_t gainIndex = *parm++;
    int32_t energy = 0;
    for (int i = 0; i < kSubfr; ++i) energy += int32_t{code[i]} * code[i];
    int16_t gains[2] = {s->gainPitch, s->gainCode};
    if (bfi) {
      VOKC_CALL(voksDecodeGain_G729_16s, energy, s->pastQuaEn, nullptr, gains);
    } else {
      int16_t idx[2] = {static_cast<int16_t>(gainIndex >> 4), static_cast<int16_t>(gainIndex & 15)};
      VOKC_CALL(voksDecodeGain_G729_16s, energy, s->pastQuaEn, idx, gains);
    }
    s->gainPitch = gains[0];
    s->gainCode = gains[1];
    clampSharp(s->sharp, s->gainPitch);

    // G.729 conceals a lost frame with the adaptive part only when the
    // previous frame was voiced, else with the fixed part only.
    int16_t gp = s->gainPitch, gc = s->gainCode;
    if (bfi && s->variant == vokcG729Main) concealedGains(s->voicing, gp, gc);
    mixExcitation(exc + sfOff, code, gp, gc);
    synthesise(s, az + sf * kMp1, exc + sfOff, syn + sfOff);
  }
}

// One frame of the decoder.  frameType: speech, SID or untransmitted (the
// latter two only with Annex B streams); sid: the SID parameters of the
// frame, if any.
static void decodeFrame(DecoderState* s, const int16_t* prm, int16_t bfi, int frameType, const int16_t* sid,
                        Vok16s* pcm) {
  int16_t* exc = s->oldExc + kExcHist;
  int16_t synBuf[kOrder + kFrame];
  std::memcpy(synBuf, s->synHist, sizeof s->synHist);
  int16_t* syn = synBuf + kOrder;
  int16_t az[2 * kMp1];
  int16_t t2[2];
  // The energy of the last good frame's excitation serves only a noise
  // frame after speech.  That excitation lies just before this frame's
  // until the history moves at the end of this frame, unchanged since it
  // was formed, so its energy is taken here when this frame may need it
  // or will not replace it (an erased frame), and never between speech
  // frames.
  if (s->energyDue && (bfi || frameType != g729b::kSpeech)) {
    g729b::cngSaveEnergy(s->cng, exc - kFrame);
    s->energyDue = 0;
  }
  if (frameType == g729b::kSpeech) {
    s->cngSeed = g729b::kCngSeedStart;
    decodeSpeech(s, prm, bfi, az, t2, syn);
  } else {
    g729b::cngDecode(s->cng, s->pastFrameType, sid, s->lsfMa, exc, s->lspOld, az, s->cngSeed);
    for (int sf = 0; sf < 2; ++sf) {
      synthesise(s, az + sf * kMp1, exc + sf * kSubfr, syn + sf * kSubfr);
      t2[sf] = s->oldT0;
    }
    s->sharp = kSharpMin;
  }
  if (!bfi) s->energyDue = 1;
  std::memmove(s->oldExc, s->oldExc + kFrame, kExcHist * sizeof(int16_t));
  s->pastFrameType = static_cast<int16_t>(frameType);

  const bool speech = frameType == g729b::kSpeech;
  if (s->variant == vokcG729AnnexA) {
    postFilterA(s, syn, az, t2, pcm, speech);
  } else {
    // Both subframes use the first subframe's delay; the voicing decision
    // steers the concealment of the next lost frame.
    s->voicing = 0;
    for (int sf = 0; sf < 2; ++sf) {
      int16_t vo = 0;
      postFilterMain(s, t2[0], syn + sf * kSubfr, az + sf * kMp1, pcm + sf * kSubfr, &vo, speech);
      if (vo != 0) s->voicing = vo;
    }
  }
  std::memcpy(s->synHist, syn + kFrame - kOrder, sizeof s->synHist);
  VOKC_CALL(voksHighPassFilter_G729_16s_ISfs, pcm, kFrame, 13, s->highPass);
}

static VokResult g729Decode(void* mem, const Vok16s* prmIn, int erased, Vok16s* pcm) {
  if (!mem || !prmIn || !pcm) return vokErrNullPtr;
  if (decState(mem)->tag != vokc::kTagG729Decoder) return vokErrContextMatch;
  int16_t prm[11];
  maskParams(prmIn, vokc::tables::kParamBits, 11, prm);
  decodeFrame(decState(mem), prm, erased ? 1 : 0, g729b::kSpeech, nullptr, pcm);
  return vokOk;
}

VokResult vokcG729Decode(void* mem, const Vok16s* prmIn, int erased, Vok16s* pcm) {
  return vokc::guarded([&] { return g729Decode(mem, prmIn, erased, pcm); });
}

static VokResult g729BDecode(void* mem, const Vok16s* prmIn, int frameType, int erased, Vok16s* pcm) {
  if (!mem || !pcm || (!prmIn && frameType != g729b::kUntransmitted)) return vokErrNullPtr;
  DecoderState* s = decState(mem);
  if (s->tag != vokc::kTagG729Decoder) return vokErrContextMatch;
  if (frameType < g729b::kUntransmitted || frameType > g729b::kSid) return vokErrRange;
  // Parameters outside their fields are taken modulo the field size.
  int16_t prm[11] = {};
  if (frameType == g729b::kSpeech)
    maskParams(prmIn, vokc::tables::kParamBits, 11, prm);
  else if (frameType == g729b::kSid)
    maskParams(prmIn, vokc::tables::kSidParamBits, 4, prm);
  const int16_t bfi = erased ? 1 : 0;
  // A lost frame continues the previous frame's kind: speech concealment
  // after speech, comfort noise otherwise.
  int type = frameType;
  if (bfi) type = s->pastFrameType == g729b::kSpeech ? g729b::kSpeech : g729b::kUntransmitted;
  // Only a correctly received SID frame updates the noise description.
  const int16_t* sidPtr = !bfi && type == g729b::kSid ? prm : nullptr;
  decodeFrame(s, prm, bfi, type, sidPtr, pcm);
  return vokOk;
}

VokResult vokcG729BDecode(void* mem, const Vok16s* prmIn, int frameType, int erased, Vok16s* pcm) {
  return vokc::guarded([&] { return g729BDecode(mem, prmIn, frameType, erased, pcm); });
}

VokResult vokcG729BPackSid(const Vok16s* prm, Vok8u* bits) {
  if (!prm || !bits) return vokErrNullPtr;
  packParams(prm, vokc::tables::kSidParamBits, 4, bits);
  return vokOk;
}

VokResult vokcG729BUnpackSid(const Vok8u* bits, Vok16s* prm) {
  if (!bits || !prm) return vokErrNullPtr;
  unpackParams(bits, vokc::tables::kSidParamBits, 4, prm);
  return vokOk;
}

VokResult vokcG729PackBits(const Vok16s* prm, Vok8u* bits) {
  if (!prm || !bits) return vokErrNullPtr;
  packParams(prm, vokc::tables::kParamBits, 11, bits);
  return vokOk;
}

VokResult vokcG729UnpackBits(const Vok8u* bits, Vok16s* prm) {
  if (!bits || !prm) return vokErrNullPtr;
  // The frame's 80 bits as two words, first bit on top: bits 0-63 and
  // bits 16-79; each field lies whole in one of them.  The field widths
  // (the table's, fixed here so that every shift is a constant).
  uint8_t octets[10];
  vokc::packBitBytes(bits, 80, octets);
  uint64_t head = 0;
  for (int k = 0; k < 8; ++k) head = head << 8 | octets[k];
  const uint64_t tail = head << 16 | uint64_t{octets[8]} << 8 | octets[9];
  constexpr int kWidths[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
  int pos = 0;
#pragma GCC unroll 11
  for (int p = 0; p < 11; ++p) {
    const int end = pos + kWidths[p];
    const uint64_t word = end <= 64 ? head >> (64 - end) : tail >> (80 - end);
    prm[p] = static_cast<Vok16s>(word & ((1u << kWidths[p]) - 1));
    pos = end;
  }
  return vokOk;
}

}  // extern "C"
