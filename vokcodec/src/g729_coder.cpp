// G.729 and G.729A encoder and decoder assembled from voksc's exports, with
// the optional Annex B silence compression (VAD, DTX, comfort noise).
//
// The frame loop follows the ITU-T reference coder step by step; every
// signal-processing step is a voksc call, and what remains here is the glue
// the standard keeps in its frame loop: buffer shifting, delay coding,
// parity, taming bookkeeping, pitch sharpening and the bit packing.  The
// Annex B bookkeeping lives in g729b_dtx.cpp.
#include <cstring>

#include "basic_op.h"
#include "g729_tables.h"
#include "g729b_dtx.h"
#include "g729b_tables.h"
#include "vokcodec.h"

using namespace voksc::op;
namespace g729b = vokc::g729b;

namespace {

constexpr int kFrame = 80;
constexpr int kSubfr = 40;
constexpr int kOrder = 10;
constexpr int kMp1 = kOrder + 1;
constexpr int kPitMin = 20;
constexpr int kPitMax = 143;
constexpr int kInterpol = 11;
constexpr int kWindow = 240;
constexpr int kExcHist = kPitMax + kInterpol;  // 154 samples of past excitation
constexpr int16_t kSharpMax = 13017;
constexpr int16_t kSharpMin = 3277;
constexpr int16_t kGpClip = 15564;
constexpr int32_t kThreshErr = 983040000;
constexpr int16_t kGammaA = 24576;  // 0.75, G.729A perceptual weighting

// LSPs of a reset coder (cosine domain, Q15).
constexpr int16_t kLspReset[kOrder] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};

struct EncoderState {
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
  g729b::LpFallback fallback;  // filter kept when a Levinson recursion is unstable
  int16_t sharp;
  int16_t pastQuaEn[4];  // gain predictor memory, Q10, newest first
  int16_t smooth;        // G.729 perceptual weighting: smoothing flag
  int16_t larOld[2];     // G.729 perceptual weighting: previous log-area ratios
  int16_t pad;
  int32_t excErr[4];
  alignas(16) uint8_t highPass[64];
  // Annex B (dtx != 0).
  int32_t dtx;
  int16_t frameCount;  // 1, 2, ... 32767, then 256 again
  int16_t pastVad;
  int16_t ppastVad;
  int16_t cngSeed;
  g729b::Vad vad;
  g729b::CngEncoder cng;
};

struct DecoderState {
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
  g729b::CngDecoder cng;
};

static_assert(sizeof(EncoderState) < 4096, "encoder state size");
static_assert(sizeof(DecoderState) < 4096, "decoder state size");

// a[i] * gamma^i, Q12.
void weightAz(const int16_t* a, int16_t gamma, int16_t* ap) {
  ap[0] = a[0];
  int16_t fac = gamma;
  for (int i = 1; i < kOrder; ++i) {
    ap[i] = round_fx(L_mult(a[i], fac));
    fac = round_fx(L_mult(fac, gamma));
  }
  ap[kOrder] = round_fx(L_mult(a[kOrder], fac));
}

// Quantised LP filters of both subframes from the old and new LSPs.
void interpolateLpc(const int16_t* lspOld, const int16_t* lspNew, int16_t* aq) {
  int16_t lsp[kOrder];
  voksInterpolate_G729_16s(lspOld, lspNew, lsp, kOrder);
  voksLSPToLPC_G729_16s(lsp, aq);
  voksLSPToLPC_G729_16s(lspNew, aq + kMp1);
}

// Synthesis filter 1/A(z) over one subframe; `update` keeps the memory.
VokResult synth(const int16_t* a, const int16_t* x, int16_t* y, int16_t* mem, bool update) {
  int16_t m[kOrder];
  std::memcpy(m, mem, sizeof m);
  VokResult st = voksSynthesisFilter_G729E_16s(a, kOrder, x, y, kSubfr, m);
  if (update) std::memcpy(mem, m, sizeof m);
  return st;
}

// From zero state, in place (impulse responses).
VokResult synthZero(const int16_t* a, int16_t* x, int len) {
  int16_t m[kOrder] = {};
  return voksSynthesisFilter_G729E_16s_I(a, kOrder, x, len, m);
}

// Residual filter A(z) over one subframe; x has 10 samples of history.
void residual(const int16_t* a, const int16_t* x, int16_t* y) { voksResidualFilter_G729_16s(x, a, y); }

// ---- taming: accumulated adaptive-codebook error ----------------------

int16_t tamingNeeded(const int32_t* excErr, int16_t t0, int16_t frac) {
  int16_t t1 = frac > 0 ? static_cast<int16_t>(t0 + 1) : t0;
  int i = t1 - (kSubfr + 10);
  if (i < 0) i = 0;
  int16_t zone1 = vokc::tables::kTamingZone[i];
  int16_t zone2 = vokc::tables::kTamingZone[t1 + 8];
  int32_t maxLoc = -1;
  for (int k = zone2; k >= zone1; --k)
    if (L_sub(excErr[k], maxLoc) > 0) maxLoc = excErr[k];
  return L_sub(maxLoc, kThreshErr) > 0 ? 1 : 0;
}

int32_t mpy32x16(int32_t x, int16_t n) {
  int16_t hi, lo;
  L_Extract(x, hi, lo);
  return L_mac(L_mult(hi, n), mult(lo, n), 1);
}

void updateExcErr(int32_t* excErr, int16_t gainPit, int16_t t0) {
  int32_t worst = -1;
  int n = t0 - kSubfr;
  if (n < 0) {
    int32_t t = L_add(0x4000, L_shl(mpy32x16(excErr[0], gainPit), 1));
    if (L_sub(t, worst) > 0) worst = t;
    t = L_add(0x4000, L_shl(mpy32x16(t, gainPit), 1));
    if (L_sub(t, worst) > 0) worst = t;
  } else {
    int16_t zone1 = vokc::tables::kTamingZone[n];
    int16_t zone2 = vokc::tables::kTamingZone[t0 - 1];
    for (int i = zone1; i <= zone2; ++i) {
      int32_t t = L_add(0x4000, L_shl(mpy32x16(excErr[i], gainPit), 1));
      if (L_sub(t, worst) > 0) worst = t;
    }
  }
  for (int i = 3; i >= 1; --i) excErr[i] = excErr[i - 1];
  excErr[0] = worst;
}

// ---- pitch delay coding -----------------------------------------------

int16_t encodeLag(int16_t t0, int16_t frac, int16_t& tMin, int16_t& tMax, int subframe) {
  if (subframe == 0) {
    int16_t index = t0 <= 85 ? static_cast<int16_t>(t0 * 3 - 58 + frac) : static_cast<int16_t>(t0 + 112);
    tMin = static_cast<int16_t>(t0 - 5);
    if (tMin < kPitMin) tMin = kPitMin;
    tMax = static_cast<int16_t>(tMin + 9);
    if (tMax > kPitMax) {
      tMax = kPitMax;
      tMin = static_cast<int16_t>(tMax - 9);
    }
    return index;
  }
  return static_cast<int16_t>((t0 - tMin) * 3 + 2 + frac);
}

void decodeLag(int16_t index, int subframe, int16_t& t0, int16_t& frac, int16_t prevT0) {
  if (subframe == 0) {
    if (index < 197) {
      t0 = static_cast<int16_t>(mult(static_cast<int16_t>(index + 2), 10923) + 19);
      frac = static_cast<int16_t>(index - t0 * 3 + 58);
    } else {
      t0 = static_cast<int16_t>(index - 112);
      frac = 0;
    }
  } else {
    int16_t tMin = static_cast<int16_t>(prevT0 - 5);
    if (tMin < kPitMin) tMin = kPitMin;
    int16_t tMax = static_cast<int16_t>(tMin + 9);
    if (tMax > kPitMax) {
      tMax = kPitMax;
      tMin = static_cast<int16_t>(tMax - 9);
    }
    int16_t i = static_cast<int16_t>(mult(static_cast<int16_t>(index + 2), 10923) - 1);
    t0 = static_cast<int16_t>(i + tMin);
    frac = static_cast<int16_t>(index - 2 - i * 3);
  }
}

int16_t pitchParity(int16_t index) {
  int16_t temp = static_cast<int16_t>(index >> 1);
  int16_t sum = 1;
  for (int i = 0; i <= 5; ++i) {
    temp = static_cast<int16_t>(temp >> 1);
    sum = static_cast<int16_t>(sum + (temp & 1));
  }
  return static_cast<int16_t>(sum & 1);
}

// Filtered fixed-codebook vector: the impulse response added at each pulse
// in pulse order, as the codebook search leaves it.
void filteredCode(const int16_t* h, int16_t posIndex, int16_t signs, int16_t* y) {
  int pos[4];
  pos[0] = (posIndex & 7) * 5;
  pos[1] = ((posIndex >> 3) & 7) * 5 + 1;
  pos[2] = ((posIndex >> 6) & 7) * 5 + 2;
  pos[3] = ((posIndex >> 10) & 7) * 5 + 3 + ((posIndex >> 9) & 1);
  for (int i = 0; i < pos[0]; ++i) y[i] = 0;
  for (int k = 0; k < 4; ++k) {
    bool positive = (signs >> k) & 1;
    for (int i = pos[k], j = 0; i < kSubfr; ++i, ++j) {
      if (k == 0)
        y[i] = positive ? h[j] : negate(h[j]);
      else
        y[i] = positive ? add(y[i], h[j]) : sub(y[i], h[j]);
    }
  }
}

void decodeCode(int16_t signs, int16_t index, int16_t* code) {
  int pos[4];
  pos[0] = (index & 7) * 5;
  pos[1] = ((index >> 3) & 7) * 5 + 1;
  pos[2] = ((index >> 6) & 7) * 5 + 2;
  pos[3] = ((index >> 10) & 7) * 5 + 3 + ((index >> 9) & 1);
  std::memset(code, 0, kSubfr * sizeof(int16_t));
  for (int j = 0; j < 4; ++j) code[pos[j]] = ((signs >> j) & 1) ? 8191 : -8192;
}

void clampSharp(int16_t& sharp, int16_t gainPit) {
  sharp = gainPit;
  if (sharp > kSharpMax) sharp = kSharpMax;
  if (sharp < kSharpMin) sharp = kSharpMin;
}

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
  voksAutoCorr_G729B(s->oldSpeech, &exponent, r);
  if (vin) {
    std::memcpy(vin->rRaw, r, sizeof vin->rRaw);
    voksLagWindow_G729_32s_I(r + 1, 12);
    std::memcpy(vin->r, r, sizeof vin->r);
    vin->exponent = exponent;
  } else {
    voksLagWindow_G729_32s_I(r + 1, kOrder);
  }
  int16_t err = 0;
  g729b::levinson(s->fallback, r, a, rc, &err);
}


// G.729 adaptive perceptual weighting: gamma1/gamma2 per subframe from the
// first two reflection coefficients (as log-area ratios) and the spacing of
// the interpolated LSFs (normalised, Q15).
void perceptualWeights(int16_t& smooth, int16_t* larOld, int16_t* gamma1, int16_t* gamma2, int16_t* lsfInt,
                       int16_t* lsfNew, const int16_t* rc) {
  for (int k = 0; k < kOrder; ++k) {
    lsfInt[k] = shl(lsfInt[k], 1);
    lsfNew[k] = shl(lsfNew[k], 1);
  }
  int16_t lar[4];
  int16_t* larNew = &lar[2];
  for (int i = 0; i < 2; ++i) {
    int16_t cur = shr(abs_s(rc[i]), 4);
    if (cur <= 1299) {
      larNew[i] = cur;
    } else {
      int16_t a;
      int32_t b;
      if (cur <= 1815) {
        a = 4567;
        b = 3271557;
      } else if (cur <= 1944) {
        a = 11776;
        b = 16357786;
      } else {
        a = 27443;
        b = 46808433;
      }
      cur = shr(cur, 1);
      larNew[i] = extract_l(L_shr(L_sub(L_mult(cur, a), b), 11));
    }
    if (rc[i] < 0) larNew[i] = sub(0, larNew[i]);
  }
  lar[0] = shr(add(larNew[0], larOld[0]), 1);
  larOld[0] = larNew[0];
  lar[1] = shr(add(larNew[1], larOld[1]), 1);
  larOld[1] = larNew[1];
  for (int k = 0; k < 2; ++k) {
    int16_t c0 = lar[2 * k], c1 = lar[2 * k + 1];
    if (smooth != 0) {
      if (c0 < -3562 && c1 > 1336) smooth = 0;
    } else if (c0 > -3116 || c1 < 890) {
      smooth = 1;
    }
    if (smooth == 0) {
      gamma1[k] = 32113;
      const int16_t* lsf = k == 0 ? lsfInt : lsfNew;
      int16_t dMin = sub(lsf[1], lsf[0]);
      for (int i = 1; i < kOrder - 1; ++i) {
        int16_t t = sub(lsf[i + 1], lsf[i]);
        if (t < dMin) dMin = t;
      }
      int16_t g = shl(sub(1024, mult(19302, dMin)), 5);
      if (g > 22938) g = 22938;
      if (g < 13107) g = 13107;
      gamma2[k] = g;
    } else {
      gamma1[k] = 30802;
      gamma2[k] = 19661;
    }
  }
}

void shiftEncoderBuffers(EncoderState* s) {
  std::memmove(s->oldSpeech, s->oldSpeech + kFrame, (kWindow - kFrame) * sizeof(int16_t));
  std::memmove(s->oldWsp, s->oldWsp + kFrame, kPitMax * sizeof(int16_t));
  std::memmove(s->oldExc, s->oldExc + kFrame, kExcHist * sizeof(int16_t));
}

// Fixed-codebook step of a subframe: pitch sharpening folded into h, the
// correlation matrix and backward-filtered target, the search (G.729 with
// its budget, or Annex A), the filtered code vector, and sharpening of the
// chosen code vector.
void fixedCodebook(bool annexA, int16_t sharpQ14, int16_t t0, int16_t* h1, const int16_t* xn2, int16_t* code,
                   int16_t* y2, int16_t* cbIndex, int16_t* budget, int subframe) {
  int16_t sharp = shl(sharpQ14, 1);
  if (t0 < kSubfr)
    for (int i = t0; i < kSubfr; ++i) h1[i] = add(h1[i], mult(h1[i - t0], sharp));
  int16_t rr[616];
  voksToeplizMatrix_G729_16s(h1, rr);
  int16_t dn[kSubfr];
  voksCrossCorr_NormM_16s(h1, xn2, kSubfr, dn);  // normalised to 13 bits
  if (annexA)
    voksFixedCodebookSearch_G729A_16s(dn, rr, code, cbIndex);
  else
    voksFixedCodebookSearch_G729_16s(dn, rr, code, cbIndex, budget, subframe);
  filteredCode(h1, cbIndex[0], cbIndex[1], y2);
  if (t0 < kSubfr)
    for (int i = t0; i < kSubfr; ++i) code[i] = add(code[i], mult(code[i - t0], sharp));
}

// Gains, excitation and the weighted-error memories of one subframe (both variants).
void finishSubframe(EncoderState* s, int16_t* exc, const int16_t* xn, const int16_t* y1, const int16_t* code,
                    const int16_t* y2, int16_t t0, int16_t taming, int16_t*& ana, int16_t& gainPit,
                    int16_t& gainCode) {
  int16_t gains[2];
  int16_t rows[2];
  voksGainQuant_G729_16s(xn, y1, code, y2, s->pastQuaEn, gains, rows, taming);
  gainPit = gains[0];
  gainCode = gains[1];
  *ana++ = static_cast<int16_t>((vokc::tables::kGainMap1[rows[0]] << 4) + vokc::tables::kGainMap2[rows[1]]);
  clampSharp(s->sharp, gainPit);
  for (int i = 0; i < kSubfr; ++i) {
    int32_t t = L_mult(exc[i], gainPit);
    t = L_mac(t, code[i], gainCode);
    exc[i] = round_fx(L_shl(t, 1));
  }
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
  voksInterpolate_G729_16s(s->lspOld, lspNew, lspInt, kOrder);
  voksLSPToLPC_G729_16s(lspInt, at);
  std::memcpy(at + kMp1, aNew, kMp1 * sizeof(int16_t));
  int16_t lsfInt[kOrder], lsfNew[kOrder];
  voksLSPToLSF_Norm_G729_16s(lspInt, lsfInt);
  voksLSPToLSF_Norm_G729_16s(lspNew, lsfNew);
  perceptualWeights(s->smooth, s->larOld, gamma1, gamma2, lsfInt, lsfNew, rc);

  // Weighted speech and open-loop pitch.
  for (int sf = 0; sf < 2; ++sf) {
    int16_t ap1[kMp1], ap2[kMp1];
    weightAz(at + sf * kMp1, gamma1[sf], ap1);
    weightAz(at + sf * kMp1, gamma2[sf], ap2);
    int16_t r[kSubfr];
    residual(ap1, speech + sf * kSubfr, r);
    synth(ap2, r, wsp + sf * kSubfr, s->memW, true);
  }
}

// The subframe loop of full G.729 (after LSP quantisation).
void encodeMainSubframes(EncoderState* s, const int16_t* at, const int16_t* gamma1, const int16_t* gamma2,
                         const int16_t* aq, const int16_t* speech, int16_t* wsp, int16_t* exc, int16_t* ana) {
  int16_t tOp = 0;
  voksOpenLoopPitchSearch_G729_16s(wsp, &tOp);

  int16_t t0Min = 0, t0Max = 0, centre = tOp;
  int16_t budget = 0;
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    const int16_t* aqs = aq + sf * kMp1;
    int16_t ap1[kMp1], ap2[kMp1];
    weightAz(at + sf * kMp1, gamma1[sf], ap1);
    weightAz(at + sf * kMp1, gamma2[sf], ap2);

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

    int16_t* excBuf = exc + sfOff - kExcHist;
    int16_t delay[2];
    int16_t adaptive[kSubfr];
    voksAdaptiveCodebookSearch_G729_16s(centre, xn, h1, excBuf, delay, adaptive, sf);
    int16_t t0 = delay[0], frac = delay[1];
    int16_t index = encodeLag(t0, frac, t0Min, t0Max, sf);
    *ana++ = index;
    if (sf == 0) *ana++ = pitchParity(index);
    centre = t0;

    int16_t y1[kSubfr];
    int16_t gainPit = 0;
    voksAdaptiveCodebookGain_G729_16s(xn, h1, exc + sfOff, y1, &gainPit);
    int16_t taming = tamingNeeded(s->excErr, t0, frac);
    if (taming == 1 && gainPit > kGpClip) gainPit = kGpClip;
    int16_t xn2[kSubfr];
    voksAdaptiveCodebookContribution_G729_16s(gainPit, y1, xn, xn2);

    int16_t code[kSubfr], y2[kSubfr], cbIndex[2];
    fixedCodebook(false, s->sharp, t0, h1, xn2, code, y2, cbIndex, &budget, sf);
    *ana++ = cbIndex[0];
    *ana++ = cbIndex[1];

    int16_t gainCode = 0;
    finishSubframe(s, exc + sfOff, xn, y1, code, y2, t0, taming, ana, gainPit, gainCode);
    int16_t syn[kSubfr];
    synth(aqs, exc + sfOff, syn, s->memSyn, true);
    for (int i = kSubfr - kOrder, j = 0; i < kSubfr; ++i, ++j) s->memErr[j] = sub(speech[sfOff + i], syn[i]);
  }
}

}  // namespace

extern "C" {

VokResult vokcG729EncoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(EncoderState) + 16);
  return vokOk;
}

static EncoderState* encState(void* mem) {
  return reinterpret_cast<EncoderState*>((reinterpret_cast<uintptr_t>(mem) + 15) & ~uintptr_t{15});
}
static DecoderState* decState(void* mem) {
  return reinterpret_cast<DecoderState*>((reinterpret_cast<uintptr_t>(mem) + 15) & ~uintptr_t{15});
}

static VokResult encoderInit(void* mem, int variant, bool dtx) {
  if (!mem) return vokErrNullPtr;
  if (variant != vokcG729Main && variant != vokcG729AnnexA) return vokErrRange;
  EncoderState* s = encState(mem);
  std::memset(s, 0, sizeof *s);
  s->variant = variant;
  s->dtx = dtx ? 1 : 0;
  s->pastVad = 1;
  s->ppastVad = 1;
  s->cngSeed = g729b::kCngSeedStart;
  g729b::vadInit(s->vad);
  g729b::cngEncoderInit(s->cng);
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  std::memcpy(s->lspOldQ, kLspReset, sizeof kLspReset);
  for (int k = 0; k < 4; ++k) std::memcpy(s->lsfMa + k * kOrder, vokc::tables::kLsfMaReset, kOrder * 2);
  s->fallback.a[0] = 4096;
  s->sharp = kSharpMin;
  for (auto& e : s->excErr) e = 0x4000;
  s->smooth = 1;
  for (auto& e : s->pastQuaEn) e = -14336;
  int hpSize = 0;
  voksHighPassFilterSize_G729(&hpSize);
  if (hpSize > static_cast<int>(sizeof s->highPass)) return vokErrInternal;
  const int16_t coeffs[6] = {vokc::tables::kHighPass140A[0], vokc::tables::kHighPass140A[1],
                             vokc::tables::kHighPass140A[2], vokc::tables::kHighPass140B[0],
                             vokc::tables::kHighPass140B[1], vokc::tables::kHighPass140B[2]};
  return voksHighPassFilterInit_G729(coeffs, s->highPass);
}

VokResult vokcG729EncoderInit(void* mem, int variant) { return encoderInit(mem, variant, false); }

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
    weightAz(at + sf * kMp1, gamma1[sf], ap1);
    weightAz(at + sf * kMp1, gamma2[sf], ap2);
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
    weightAz(aqs, kGammaA, apw);
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
  int16_t* newSpeech = s->oldSpeech + kWindow - kFrame;
  int16_t* speech = newSpeech - 40;
  std::memcpy(newSpeech, pcm, kFrame * sizeof(int16_t));
  voksHighPassFilter_G729_16s_ISfs(newSpeech, kFrame, 12, s->highPass);

  int16_t* wsp = s->oldWsp + kPitMax;
  int16_t* exc = s->oldExc + kExcHist;
  Vok16s* ana = prm;

  // LP analysis and the voice activity decision.
  int16_t a[kMp1], rc[2];
  VadInputs vin;
  lpAnalysis(s, a, rc, dtx ? &vin : nullptr);
  int16_t lspNew[kOrder], lspNewQ[kOrder];
  if (annexA)
    voksLPCToLSP_G729A_16s(a, s->lspOld, lspNew);
  else
    voksLPCToLSP_G729_16s(a, s->lspOld, lspNew);
  int16_t vad = 1;
  if (dtx) {
    s->frameCount = s->frameCount == 32767 ? int16_t{256} : static_cast<int16_t>(s->frameCount + 1);
    int16_t lsfNorm[kOrder];
    voksLSPToLSF_Norm_G729_16s(lspNew, lsfNorm);
    vad = g729b::vadDecide(s->vad, rc[1], lsfNorm, vin.r, vin.exponent, s->oldSpeech, s->frameCount, s->pastVad,
                           s->ppastVad);
    g729b::cngUpdate(s->cng, vin.rRaw, vin.exponent, vad);
  }
  *frameType = g729b::kSpeech;

  if (!annexA) {
    int16_t at[2 * kMp1], gamma1[2], gamma2[2];
    weightMain(s, a, rc, lspNew, speech, wsp, at, gamma1, gamma2);
    std::memcpy(s->lspOld, lspNew, sizeof lspNew);
    if (dtx && vad == 0) {
      *frameType = encodeInactiveMain(s, at, gamma1, gamma2, speech, exc, prm);
      s->ppastVad = s->pastVad;
      s->pastVad = vad;
      s->sharp = kSharpMin;
      shiftEncoderBuffers(s);
      return vokOk;
    }
    s->cngSeed = g729b::kCngSeedStart;
    s->ppastVad = s->pastVad;
    s->pastVad = vad;
    voksLSPQuant_G729_16s(lspNew, s->lsfMa, lspNewQ, ana);
    ana += 2;
    int16_t aq[2 * kMp1];
    interpolateLpc(s->lspOldQ, lspNewQ, aq);
    std::memcpy(s->lspOldQ, lspNewQ, sizeof lspNewQ);
    encodeMainSubframes(s, at, gamma1, gamma2, aq, speech, wsp, exc, ana);
    shiftEncoderBuffers(s);
    return vokOk;
  }

  if (dtx && vad == 0) {
    *frameType = encodeInactiveA(s, speech, wsp, exc, prm);
    s->ppastVad = s->pastVad;
    s->pastVad = vad;
    s->sharp = kSharpMin;
    shiftEncoderBuffers(s);
    return vokOk;
  }
  s->cngSeed = g729b::kCngSeedStart;
  s->ppastVad = s->pastVad;
  s->pastVad = vad;
  voksLSPQuant_G729_16s(lspNew, s->lsfMa, lspNewQ, ana);
  ana += 2;
  int16_t aq[2 * kMp1];
  interpolateLpc(s->lspOldQ, lspNewQ, aq);
  std::memcpy(s->lspOld, lspNew, sizeof lspNew);
  std::memcpy(s->lspOldQ, lspNewQ, sizeof lspNewQ);

  int16_t ap[2 * kMp1];
  weightAz(aq, kGammaA, ap);
  weightAz(aq + kMp1, kGammaA, ap + kMp1);

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
  int16_t tOp = 0;
  voksOpenLoopPitchSearch_G729A_16s(wsp, &tOp);

  int16_t t0Min = 0, t0Max = 0;
  int16_t centre = tOp;
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    const int16_t* aps = ap + sf * kMp1;
    int16_t h1[kSubfr] = {};
    h1[0] = 4096;
    synthZero(aps, h1, kSubfr);
    int16_t xn[kSubfr];
    synth(aps, exc + sfOff, xn, s->memW0, false);

    // Closed-loop pitch.
    int16_t* excBuf = exc + sfOff - kExcHist;
    int16_t delay[2];
    int16_t adaptive[kSubfr];
    voksAdaptiveCodebookSearch_G729A_16s(centre, xn, h1, excBuf, delay, adaptive, sf);
    int16_t t0 = delay[0], frac = delay[1];
    int16_t index = encodeLag(t0, frac, t0Min, t0Max, sf);
    *ana++ = index;
    if (sf == 0) *ana++ = pitchParity(index);
    centre = t0;

    int16_t y1[kSubfr];
    int16_t gainPit = 0;
    voksAdaptiveCodebookGain_G729A_16s(xn, aps, exc + sfOff, y1, &gainPit);
    int16_t taming = tamingNeeded(s->excErr, t0, frac);
    if (taming == 1 && gainPit > kGpClip) gainPit = kGpClip;
    int16_t xn2[kSubfr];
    voksAdaptiveCodebookContribution_G729_16s(gainPit, y1, xn, xn2);

    int16_t code[kSubfr], y2[kSubfr], cbIndex[2];
    fixedCodebook(true, s->sharp, t0, h1, xn2, code, y2, cbIndex, nullptr, sf);
    *ana++ = cbIndex[0];
    *ana++ = cbIndex[1];

    int16_t gainCode = 0;
    finishSubframe(s, exc + sfOff, xn, y1, code, y2, t0, taming, ana, gainPit, gainCode);
  }

  shiftEncoderBuffers(s);
  return vokOk;
}

VokResult vokcG729Encode(void* mem, const Vok16s* pcm, Vok16s* prm) {
  if (!mem || !pcm || !prm) return vokErrNullPtr;
  int type = 0;
  return encodeFrame(encState(mem), pcm, prm, &type);
}

VokResult vokcG729BEncoderInit(void* mem, int variant) { return encoderInit(mem, variant, true); }

VokResult vokcG729BEncode(void* mem, const Vok16s* pcm, Vok16s* prm, int* frameType) {
  if (!mem || !pcm || !prm || !frameType) return vokErrNullPtr;
  return encodeFrame(encState(mem), pcm, prm, frameType);
}

VokResult vokcG729DecoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(DecoderState) + 16);
  return vokOk;
}

VokResult vokcG729DecoderInit(void* mem, int variant) {
  if (!mem) return vokErrNullPtr;
  if (variant != vokcG729Main && variant != vokcG729AnnexA) return vokErrRange;
  DecoderState* s = decState(mem);
  std::memset(s, 0, sizeof *s);
  s->variant = variant;
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  for (int k = 0; k < 4; ++k) std::memcpy(s->lsfMa + k * kOrder, vokc::tables::kLsfMaReset, kOrder * 2);
  std::memcpy(s->prevLsf, vokc::tables::kLsfMaReset, kOrder * 2);
  s->sharp = kSharpMin;
  s->oldT0 = 60;
  s->seed = 21845;
  for (auto& e : s->pastQuaEn) e = -14336;
  s->pastGain = 4096;
  s->voicing = 60;
  s->pstGain = 16384;
  s->pastFrameType = g729b::kSpeech;
  s->cngSeed = g729b::kCngSeedStart;
  g729b::cngDecoderInit(s->cng);
  const int16_t coeffs[6] = {vokc::tables::kHighPass100A[0], vokc::tables::kHighPass100A[1],
                             vokc::tables::kHighPass100A[2], vokc::tables::kHighPass100B[0],
                             vokc::tables::kHighPass100B[1], vokc::tables::kHighPass100B[2]};
  return voksHighPassFilterInit_G729(coeffs, s->highPass);
}

static int16_t nextRandom(int16_t& seed) {
  seed = extract_l(L_add(L_shr(L_mult(seed, 31821), 1), 13849));
  return seed;
}

// Annex A post-filter of one frame: long-term, tilt, short-term and gain
// control per subframe.  syn points at the frame with 10 samples of history.
// Non-speech frames (Annex B) skip the long-term filter.
static void postFilterA(DecoderState* s, int16_t* syn, const int16_t* az, const int16_t* t2, int16_t* out,
                        bool speech) {
  for (int sf = 0; sf < 2; ++sf) {
    const int16_t* a = az + sf * kMp1;
    int16_t ap[2 * kMp1];  // numerator (0.55) then denominator (0.70)
    weightAz(a, 18022, ap);
    weightAz(a, 22938, ap + kMp1);
    // The tilt filter reads the previous subframe's last unfiltered sample
    // just before the signal.
    int16_t pre[1 + kSubfr];
    int16_t* res2Pst = pre + 1;
    if (speech) {
      voksLongTermPostFilter_G729A_16s(t2[sf], syn + sf * kSubfr, ap, s->res2, res2Pst);
    } else {
      residual(ap, syn + sf * kSubfr, s->res2 + kExcHist);
      std::memcpy(res2Pst, s->res2 + kExcHist, kSubfr * sizeof(int16_t));
      std::memmove(s->res2, s->res2 + kSubfr, kExcHist * sizeof(int16_t));
    }
    pre[0] = s->memPre;
    s->memPre = res2Pst[kSubfr - 1];
    voksTiltCompensation_G729A_16s(ap, res2Pst);
    synth(ap + kMp1, res2Pst, out + sf * kSubfr, s->memSynPst, true);
    voksGainControl_G729A_16s_I(syn + sf * kSubfr, out + sf * kSubfr, &s->pastGain);
  }
}

// G.729 post-filter of one subframe: long-term filter on the residual of
// A(z/0.55), short-term filter, tilt compensation, gain control.
static void postFilterMain(DecoderState* s, int16_t t0, const int16_t* syn, const int16_t* a, int16_t* out,
                           int16_t* voicing, bool speech) {
  int16_t num[kMp1];
  weightAz(a, 18022, num);
  int16_t* res = s->pstRes2 + 152;
  residual(num, syn, res);
  int16_t ltp[kSubfr];
  if (speech) {
    voksLongTermPostFilter_G729_16s(16384, t0, s->pstRes2, ltp, voicing);  // shifts pstRes2
  } else {
    *voicing = 0;
    std::memcpy(ltp, res, sizeof ltp);
    std::memmove(s->pstRes2, s->pstRes2 + kSubfr, 152 * sizeof(int16_t));
  }
  int16_t* stp = s->pstStp + kOrder;
  int16_t h[20];
  voksShortTermPostFilter_G729_16s(a, ltp, stp, h);
  int16_t tilt[kSubfr + 1];
  tilt[0] = s->pstStp[kOrder - 1];
  std::memcpy(tilt + 1, stp, kSubfr * sizeof(int16_t));
  voksTiltCompensation_G729_16s(h, tilt + 1);
  std::memcpy(out, tilt + 1, kSubfr * sizeof(int16_t));
  voksGainControl_G729_16s_I(syn, out, &s->pstGain);
  std::memmove(s->pstStp, s->pstStp + kSubfr, kOrder * sizeof(int16_t));
}

// Synthesis of one subframe; on overflow the whole excitation history is
// scaled down by 4 and the subframe filtered again.
static void synthesise(DecoderState* s, const int16_t* a, const int16_t* exc, int16_t* syn) {
  if (synth(a, exc, syn, s->memSyn, false) == vokWrnOverflow) {
    for (auto& e : s->oldExc) e = shr(e, 2);
    synth(a, exc, syn, s->memSyn, true);
  } else {
    std::memcpy(s->memSyn, syn + kSubfr - kOrder, kOrder * sizeof(int16_t));
  }
}

// Decoder of a speech frame (or its concealment).  Returns the delays of the
// two subframes in t2, the filters in az and the synthesis in syn.
static void decodeSpeech(DecoderState* s, const int16_t* prm, int16_t bfi, int16_t* az, int16_t* t2, int16_t* syn) {
  int16_t* exc = s->oldExc + kExcHist;

  // LSPs.
  int16_t lsf[kOrder], lspNew[kOrder];
  if (!bfi) {
    int16_t idx[4] = {static_cast<int16_t>((prm[0] >> 7) & 1), static_cast<int16_t>(prm[0] & 127),
                      static_cast<int16_t>((prm[1] >> 5) & 31), static_cast<int16_t>(prm[1] & 31)};
    voksLSFDecode_G729_16s(idx, s->lsfMa, lsf);
    std::memcpy(s->prevLsf, lsf, sizeof lsf);
    s->prevMa = idx[0];
  } else {
    std::memcpy(lsf, s->prevLsf, sizeof lsf);
    voksLSFDecodeErased_G729_16s(s->prevMa, s->lsfMa, s->prevLsf);
  }
  voksLSFToLSP_G729_16s(lsf, lspNew);
  interpolateLpc(s->lspOld, lspNew, az);
  std::memcpy(s->lspOld, lspNew, sizeof lspNew);

  int16_t t0Prev = 0;  // delay of the first subframe, the base of the second's coding
  const int16_t* parm = prm + 2;
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    int16_t index = *parm++;
    int16_t t0, frac;
    bool badPitch = bfi;
    if (sf == 0) {
      int16_t parity = *parm++;
      int16_t err = static_cast<int16_t>((pitchParity(index) ^ parity) & 1);
      badPitch = bfi || err;
    }
    if (!badPitch) {
      decodeLag(index, sf, t0, frac, t0Prev);
      s->oldT0 = t0;
    } else {
      t0 = s->oldT0;
      frac = 0;
      s->oldT0 = add(s->oldT0, 1);
      if (s->oldT0 > kPitMax) s->oldT0 = kPitMax;
    }
    t2[sf] = t0;
    if (sf == 0) t0Prev = t0;
    int16_t delay[2] = {t0, frac};
    voksDecodeAdaptiveVector_G729_16s_I(delay, exc + sfOff - kExcHist);

    int16_t pos = parm[0], sign = parm[1];
    if (bfi) {
      pos = static_cast<int16_t>(nextRandom(s->seed) & 0x1FFF);
      sign = static_cast<int16_t>(nextRandom(s->seed) & 0x000F);
    }
    parm += 2;
    int16_t code[kSubfr];
    decodeCode(sign, pos, code);
    int16_t sharp = shl(s->sharp, 1);
    if (t0 < kSubfr)
      for (int i = t0; i < kSubfr; ++i) code[i] = add(code[i], mult(code[i - t0], sharp));

    int16_t gainIndex = *parm++;
    int32_t energy = 0;
    for (int i = 0; i < kSubfr; ++i) energy += int32_t{code[i]} * code[i];
    int16_t gains[2] = {s->gainPitch, s->gainCode};
    if (bfi) {
      voksDecodeGain_G729_16s(energy, s->pastQuaEn, nullptr, gains);
    } else {
      int16_t idx[2] = {static_cast<int16_t>(gainIndex >> 4), static_cast<int16_t>(gainIndex & 15)};
      voksDecodeGain_G729_16s(energy, s->pastQuaEn, idx, gains);
    }
    s->gainPitch = gains[0];
    s->gainCode = gains[1];
    clampSharp(s->sharp, s->gainPitch);

    // G.729 conceals a lost frame with the adaptive part only when the
    // previous frame was voiced, else with the fixed part only.
    int16_t gp = s->gainPitch, gc = s->gainCode;
    if (bfi && s->variant == vokcG729Main) {
      if (s->voicing == 0)
        gp = 0;
      else
        gc = 0;
    }
    for (int i = 0; i < kSubfr; ++i) {
      int32_t t = L_mult(exc[sfOff + i], gp);
      t = L_mac(t, code[i], gc);
      exc[sfOff + i] = round_fx(L_shl(t, 1));
    }
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
  if (!bfi) g729b::cngSaveEnergy(s->cng, exc);
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
  voksHighPassFilter_G729_16s_ISfs(pcm, kFrame, 13, s->highPass);
}

VokResult vokcG729Decode(void* mem, const Vok16s* prm, int erased, Vok16s* pcm) {
  if (!mem || !prm || !pcm) return vokErrNullPtr;
  decodeFrame(decState(mem), prm, erased ? 1 : 0, g729b::kSpeech, nullptr, pcm);
  return vokOk;
}

VokResult vokcG729BDecode(void* mem, const Vok16s* prmIn, int frameType, int erased, Vok16s* pcm) {
  if (!mem || !pcm || (!prmIn && frameType != g729b::kUntransmitted)) return vokErrNullPtr;
  if (frameType < g729b::kUntransmitted || frameType > g729b::kSid) return vokErrRange;
  DecoderState* s = decState(mem);
  // Parameters outside their fields are taken modulo the field size.
  int16_t prm[11] = {};
  if (frameType == g729b::kSpeech)
    for (int p = 0; p < 11; ++p) prm[p] = static_cast<int16_t>(prmIn[p] & ((1 << vokc::tables::kParamBits[p]) - 1));
  else if (frameType == g729b::kSid)
    for (int p = 0; p < 4; ++p)
      prm[p] = static_cast<int16_t>(prmIn[p] & ((1 << vokc::tables::kSidParamBits[p]) - 1));
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

VokResult vokcG729BPackSid(const Vok16s* prm, Vok8u* bits) {
  if (!prm || !bits) return vokErrNullPtr;
  int n = 0;
  for (int p = 0; p < 4; ++p)
    for (int b = vokc::tables::kSidParamBits[p] - 1; b >= 0; --b) bits[n++] = static_cast<Vok8u>((prm[p] >> b) & 1);
  return vokOk;
}

VokResult vokcG729BUnpackSid(const Vok8u* bits, Vok16s* prm) {
  if (!bits || !prm) return vokErrNullPtr;
  int n = 0;
  for (int p = 0; p < 4; ++p) {
    int v = 0;
    for (int b = 0; b < vokc::tables::kSidParamBits[p]; ++b) v = (v << 1) | (bits[n++] & 1);
    prm[p] = static_cast<Vok16s>(v);
  }
  return vokOk;
}

VokResult vokcG729PackBits(const Vok16s* prm, Vok8u* bits) {
  if (!prm || !bits) return vokErrNullPtr;
  int n = 0;
  for (int p = 0; p < 11; ++p)
    for (int b = vokc::tables::kParamBits[p] - 1; b >= 0; --b) bits[n++] = static_cast<Vok8u>((prm[p] >> b) & 1);
  return vokOk;
}

VokResult vokcG729UnpackBits(const Vok8u* bits, Vok16s* prm) {
  if (!bits || !prm) return vokErrNullPtr;
  int n = 0;
  for (int p = 0; p < 11; ++p) {
    int v = 0;
    for (int b = 0; b < vokc::tables::kParamBits[p]; ++b) v = (v << 1) | (bits[n++] & 1);
    prm[p] = static_cast<Vok16s>(v);
  }
  return vokOk;
}

}  // extern "C"
