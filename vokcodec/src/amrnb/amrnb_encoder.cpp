// GSM-AMR encoder frame loop.
//
// Per frame: 13-bit input, 80 Hz high-pass with halving, voice activity and
// the DTX hangover (when enabled), LP analysis (one window per frame, two
// at 12.2 kbit/s), LSP quantisation and interpolation, weighted speech and
// open-loop lags; then per 40-sample subframe the target and impulse
// response, the closed-loop pitch search with the tonal-stability limit on
// its gain, the algebraic search, the gain quantiser of the mode and the
// local synthesis that updates the filter memories.  A comfort-noise frame
// replaces the subframe loop by the SID analysis and a reset of the
// predictive memories.
//
// 4.75 kbit/s quantises the gains of two subframes jointly: the first of a
// pair is synthesised provisionally with its unquantised gains so that the
// second can be searched; once the pair's gains are known both are
// synthesised again with them.
#include "amrnb/amrnb_encoder.h"

#include <algorithm>
#include <cstring>

#include "amrnb/amrnb_excitation.h"
#include "amrnb/amrnb_gains.h"
#include "amrnb/amrnb_tables.h"
#include "basic_op.h"
#include "checked_call.h"

namespace vokc::amrnb {

using namespace voksc::op;
using namespace enc;

namespace {

constexpr int kOrder = 10, kSub = 40, kFrameLen = 160;
constexpr int kExcHist = 154;                  // 143 lags + 11 interpolation taps
constexpr int kFrameAt = 160, kSubframeAt = 120;  // new frame / present frame in the speech buffer
constexpr int16_t kGpClip = 15565;             // 0.95: pitch gain limit on resonant frames
constexpr int16_t kSharpMax = 13017;
constexpr int16_t kHomingSample = 0x0008;
constexpr VokRateCode kRate[8] = {vokRateGsmAmr475, vokRateGsmAmr515, vokRateGsmAmr590,  vokRateGsmAmr670,
                                  vokRateGsmAmr740, vokRateGsmAmr795, vokRateGsmAmr1020, vokRateGsmAmr1220};
constexpr int kCodeWords[8] = {2, 2, 2, 2, 2, 2, 7, 10};

// A(z/g): a[i] g^i, rounded.
void weighted(const int16_t* a, const int16_t* g, int16_t* ap) {
  ap[0] = a[0];
  for (int i = 1; i <= kOrder; ++i) ap[i] = round_fx(L_mult(a[i], g[i - 1]));
}

// y = x * h over the subframe (Q12 response), each output from the
// saturating product chain.  With energies Ex Eh < 2^60 no partial sum
// reaches 2^30 (Cauchy-Schwarz), so the exact sums of the library's partial
// convolution (which saturates only past 32 bits) give the same values.
void convolve(const int16_t* x, const int16_t* h, int16_t* y) {
  int64_t ex = 0, eh = 0;
  for (int i = 0; i < kSub; ++i) {
    ex += int32_t{x[i]} * x[i];
    eh += int32_t{h[i]} * h[i];
  }
  if (ex == 0 || eh < (int64_t{1} << 60) / ex) {
    int32_t acc[kSub];
    VOKC_CALL(voksConvPartial_16s32s, x, h, acc, kSub);
    for (int n = 0; n < kSub; ++n) y[n] = extract_h(L_shl(2 * acc[n], 3));
    return;
  }
  for (int n = 0; n < kSub; ++n) {
    int32_t s = 0;
    for (int i = 0; i <= n; ++i) s = L_mac(s, x[i], h[n - i]);
    y[n] = extract_h(L_shl(s, 3));
  }
}

// Resonance of the quantiser input: closely spaced LSPs for 12 frames in a row.
bool resonant(AmrNbEncoder* e, const int16_t* lsp) {
  int16_t gapHigh = 32767, gapLow = 32767;
  for (int i = 3; i < kOrder - 2; ++i) {
    const int16_t d = sub(lsp[i], lsp[i + 1]);
    if (d < gapHigh) gapHigh = d;
  }
  for (int i = 1; i < 3; ++i) {
    const int16_t d = sub(lsp[i], lsp[i + 1]);
    if (d < gapLow) gapLow = d;
  }
  const int16_t lowLimit = lsp[1] > 32000 ? 600 : (lsp[1] > 30500 ? 800 : 1100);
  e->resonantCount = (gapHigh < 1500 || gapLow < lowLimit) ? add(e->resonantCount, 1) : int16_t{0};
  if (e->resonantCount >= 12) {
    e->resonantCount = 12;
    return true;
  }
  return false;
}

// Whether the pitch gain g together with the recent ones would exceed the clip level.
bool gainWouldClip(const AmrNbEncoder* e, int16_t g) {
  int16_t sum = shr(g, 3);
  for (int16_t v : e->gainHist) sum = add(sum, v);
  return sum > kGpClip;
}

void rememberGain(AmrNbEncoder* e, int16_t g) {
  std::memmove(e->gainHist, e->gainHist + 1, sizeof(int16_t) * 6);
  e->gainHist[6] = shr(g, 3);
}

// Filter memories of one analysis-by-synthesis pass.
struct Memories {
  int16_t* syn;
  int16_t* err;
  int16_t* w0;
};

// Excitation of the subframe at offset `at` (0, 40, ...) from its adaptive
// vector (in place) and code, local synthesis, and the memories for the
// next target: synthesis error and weighted error.
void synthesise(AmrNbEncoder* e, int mode, int at, int16_t gp, int16_t gc, const int16_t* aq, const int16_t* xn,
                const int16_t* code, const int16_t* y1, const int16_t* y2, Memories m, int16_t* sharp) {
  const bool top = mode == kMr122;
  const int16_t excShift = top ? 2 : 1, codeShift = top ? 4 : 2;
  const int16_t pitchFac = top ? shr(gp, 1) : gp;
  *sharp = gp > kSharpMax ? kSharpMax : gp;
  int16_t* x = e->exc + kExcHist + at;
  mixExcitation(x, pitchFac, code, gc, excShift);
  // 1/Aq(z) from the synthesis memory (oldest first), which takes the last outputs.
  int16_t syn[kSub];
  VOKC_CALL(voksSynthesisFilter_G729E_16s, aq, kOrder, x, syn, kSub, m.syn);
  const int16_t* sp = e->speech + kSubframeAt + at;
  for (int i = kSub - kOrder, j = 0; i < kSub; ++i, ++j) {
    m.err[j] = sub(sp[i], syn[i]);
    const int16_t pitchPart = extract_h(L_shl(L_mult(y1[i], gp), 1));
    const int16_t codePart = extract_h(L_shl(L_mult(y2[i], gc), codeShift));
    m.w0[j] = sub(xn[i], add(pitchPart, codePart));
  }
}

void resetEncoder(AmrNbEncoder* e) {
  const bool dtx = e->dtx;
  const int vad = e->vadOption;
  std::memset(e, 0, sizeof *e);
  e->dtx = dtx;
  e->vadOption = vad;
  int size = 0;
  VOKC_CALL(voksHighPassFilterSize_G729, &size);
  if (size > static_cast<int>(sizeof e->highPass)) throw CallFailed("high-pass state", vokErrInternal);
  static const int16_t kHighPass[6] = {4096, 7807, -3733, 1899, -3798, 1899};  // 80 Hz, input halved
  VOKC_CALL(voksHighPassFilterInit_G729, kHighPass, e->highPass);
  e->stableA[0] = 4096;
  std::memcpy(e->lspOld, kLspInit, sizeof e->lspOld);
  std::memcpy(e->lspOldQ, kLspInit, sizeof e->lspOldQ);
  e->olMedian = 40;
  for (int16_t& v : e->olLagHist) v = 40;
  resetHistory(e->pred);
  for (int k = 0; k < 9; ++k) e->vad1.oldLevel[k] = e->vad1.aveLevel[k] = e->vad1.bckrEst[k] = 150;
  e->vad1.corrHpFast = 13106;
  e->bestCorrHp = 13106;
  e->dtxHangover = 7;
  e->dtxElapsed = 32767;
  for (int r = 0; r < 8; ++r) std::memcpy(e->lspHist + 10 * r, kLspInit, sizeof kLspInit);
  e->sidCounter = 3;
  e->prevTxType = 0;
}

// LP filters of the frame: A[4][11] unquantised per subframe (the analysed
// ones and LSP interpolation between), Aq quantised (unless sid), the
// frame's last LSP into lspNew; the LSF indices into prm.
void lpFrame(AmrNbEncoder* e, int mode, bool sid, int16_t* A, int16_t* Aq, int16_t* lspNew, int16_t*& prm) {
  const bool two = mode == kMr122;
  int32_t acf[22];
  VOKC_CALL(voksAutoCorr_GSMAMR_16s32s, e->speech + (two ? 40 : 80), acf, kRate[mode]);
  // The recursion keeps the last stable filter when it meets an unstable one.
  auto levinson = [e](const int32_t* r, int16_t* a) {
    int16_t out[11];
    std::memcpy(out, e->stableA, sizeof out);
    if (VOKC_CALL(voksLevinsonDurbin_GSMAMR_32s16s, r, out) == vokOk) std::memcpy(e->stableA, out, sizeof out);
    std::memcpy(a, e->stableA, sizeof out);
  };
  auto halfway = [](const int16_t* p, const int16_t* q, int16_t* r) {
    for (int i = 0; i < kOrder; ++i) r[i] = add(shr(q[i], 1), shr(p[i], 1));
  };
  int16_t lsp[kOrder];
  if (two) {
    levinson(acf, A + 11);
    levinson(acf + 11, A + 33);
    int16_t both[20], bothQ[20];
    VOKC_CALL(voksLPCToLSP_GSMAMR_16s, A + 11, e->lspOld, both);
    VOKC_CALL(voksLPCToLSP_GSMAMR_16s, A + 33, both, both + 10);
    halfway(e->lspOld, both, lsp);
    VOKC_CALL(voksLSPToLPC_GSMAMR_16s, lsp, A);
    halfway(both + 10, both, lsp);
    VOKC_CALL(voksLSPToLPC_GSMAMR_16s, lsp, A + 22);
    if (!sid) {
      VOKC_CALL(voksLSPQuant_GSMAMR_16s, both, e->lsfResidual, bothQ, prm, kRate[mode]);
      prm += 5;
      halfway(e->lspOldQ, bothQ, lsp);
      VOKC_CALL(voksLSPToLPC_GSMAMR_16s, lsp, Aq);
      VOKC_CALL(voksLSPToLPC_GSMAMR_16s, bothQ, Aq + 11);
      halfway(bothQ + 10, bothQ, lsp);
      VOKC_CALL(voksLSPToLPC_GSMAMR_16s, lsp, Aq + 22);
      VOKC_CALL(voksLSPToLPC_GSMAMR_16s, bothQ + 10, Aq + 33);
      std::memcpy(e->lspOldQ, bothQ + 10, sizeof e->lspOldQ);
    }
    std::memcpy(lspNew, both + 10, sizeof(int16_t) * kOrder);
  } else {
    levinson(acf, A + 33);
    VOKC_CALL(voksLPCToLSP_GSMAMR_16s, A + 33, e->lspOld, lspNew);
    // Subframes 1..3: 3/4 old + 1/4 new, halves, 1/4 old + 3/4 new.
    auto thirds = [](const int16_t* p, const int16_t* q, int16_t* a) {
      int16_t l[kOrder];
      VOKC_CALL(voksInterpolate_GSMAMR_16s, q, p, l, kOrder);
      VOKC_CALL(voksLSPToLPC_GSMAMR_16s, l, a);
      for (int i = 0; i < kOrder; ++i) l[i] = add(shr(p[i], 1), shr(q[i], 1));
      VOKC_CALL(voksLSPToLPC_GSMAMR_16s, l, a + 11);
      VOKC_CALL(voksInterpolate_GSMAMR_16s, p, q, l, kOrder);
      VOKC_CALL(voksLSPToLPC_GSMAMR_16s, l, a + 22);
    };
    thirds(e->lspOld, lspNew, A);
    if (!sid) {
      int16_t q[kOrder];
      VOKC_CALL(voksLSPQuant_GSMAMR_16s, lspNew, e->lsfResidual, q, prm, kRate[mode]);
      prm += 3;
      thirds(e->lspOldQ, q, Aq);
      VOKC_CALL(voksLSPToLPC_GSMAMR_16s, q, Aq + 33);
      std::memcpy(e->lspOldQ, q, sizeof e->lspOldQ);
    }
  }
  std::memcpy(e->lspOld, lspNew, sizeof e->lspOld);
}

// Weighted speech and open-loop lags of the frame in the form the detector needs.
void openLoop(AmrNbEncoder* e, int mode, const int16_t* A, int16_t* lags) {
  const int16_t* g1 = mode >= kMr102 ? kGammaHigh : kGammaLow;
  int16_t ap1[44], ap2[44], gainFlags[2];
  for (int s = 0; s < 4; ++s) {
    weighted(A + 11 * s, g1, ap1 + 11 * s);
    weighted(A + 11 * s, kGammaDen, ap2 + 11 * s);
  }
  const int16_t* sp = e->speech + kSubframeAt - 10;
  if (!e->dtx) {
    VOKC_CALL(voksOpenLoopPitchSearchNonDTX_GSMAMR_16s, ap1, ap2, sp, &e->olMedian, &e->olWeight, e->olLagHist,
              e->wspHist, lags, gainFlags, kRate[mode]);
  } else if (e->vadOption == 1) {
    VOKC_CALL(voksOpenLoopPitchSearchDTXVAD1_GSMAMR_16s, ap1, ap2, sp, &e->toneReg, &e->olMedian, &e->olWeight,
              e->olLagHist, e->wspHist, &e->bestCorrHp, lags, gainFlags, kRate[mode]);
    // Pitch flag of the detector: both lags close to their predecessors.
    int16_t close = 0;
    for (int i = 0; i < 2; ++i) {
      if (abs_s(sub(e->pitchLastLag, lags[i])) < 4) close = add(close, 1);
      e->pitchLastLag = lags[i];
    }
    e->vad1.pitchReg = shr(e->vad1.pitchReg, 1);
    if (add(e->pitchLagCount, close) >= 4) e->vad1.pitchReg = static_cast<int16_t>(e->vad1.pitchReg | 0x4000);
    e->pitchLagCount = close;
  } else {
    int32_t rMax = 0, r0 = 0;
    VOKC_CALL(voksOpenLoopPitchSearchDTXVAD2_GSMAMR_16s32s, ap1, ap2, sp, &e->olMedian, &e->olWeight, e->olLagHist,
              e->wspHist, &rMax, &r0, lags, gainFlags, kRate[mode]);
    // Long-term prediction flag of the next frame's detector.
    const int16_t thr = mode <= kMr515 ? 18022 : (mode == kMr102 ? 19660 : 21299);
    int16_t hi, lo;
    L_Extract(r0, hi, lo);
    e->ltpFlag = rMax > L_mac(L_mult(hi, thr), mult(lo, thr), 1);
  }
  e->olGainFlag[0] = gainFlags[0];
  e->olGainFlag[1] = gainFlags[1];
}

// What a subframe pass hands to the next steps.
struct SubframeOut {
  int16_t xn[kSub], xn2[kSub], res[kSub], h1[kSub], y1[kSub], y2[kSub], code[kSub], vec[kSub];
  int16_t gCoeff[4];
  int16_t t0, frac, lagIndex, gp, gpLimit;
};

// Target and impulse response of subframe s with the given weighted-error memory.
void prepare(AmrNbEncoder* e, int mode, int s, const int16_t* A, const int16_t* Aq, const int16_t* memW0,
             SubframeOut& o) {
  const int16_t* g1 = mode >= kMr102 ? kGammaHigh : kGammaLow;
  int16_t ap1[11], ap2[11];
  weighted(A + 11 * s, g1, ap1);
  weighted(A + 11 * s, kGammaDen, ap2);
  VOKC_CALL(voksImpulseResponseTarget_GSMAMR_16s, e->speech + kSubframeAt + kSub * s - 10, ap1, ap2, Aq + 11 * s,
            e->memErr, memW0, o.h1, o.res, o.xn);
  std::memcpy(e->exc + kExcHist + kSub * s, o.res, sizeof o.res);
}

// y[i] = sub(x[i], extract_h(L_shl(L_mult(v[i], g), 1))) over the subframe.
// With 4 max|v| |g| below 2^31 neither the product nor the shift saturates,
// and the subtracted term is (v g) >> 14.
void subtractScaled(const int16_t* x, const int16_t* v, int16_t g, int16_t* y) {
  int32_t top = 0;
  for (int i = 0; i < kSub; ++i) top = std::max(top, v[i] < 0 ? -int32_t{v[i]} : int32_t{v[i]});
  if (4 * int64_t{top} * (g < 0 ? -int32_t{g} : int32_t{g}) < (int64_t{1} << 31)) {
    for (int i = 0; i < kSub; ++i) {
      const int32_t d = x[i] - ((v[i] * int32_t{g}) >> 14);
      y[i] = static_cast<int16_t>(d > 32767 ? 32767 : (d < -32768 ? -32768 : d));
    }
    return;
  }
  for (int i = 0; i < kSub; ++i) y[i] = sub(x[i], extract_h(L_shl(L_mult(v[i], g), 1)));
}

// Closed-loop pitch, its gain under the stability limits, and the
// algebraic code of subframe s; the indices go to prm.
void searchSubframe(AmrNbEncoder* e, int mode, int s, const int16_t* olLags, bool lspFlag, SubframeOut& o,
                    int16_t*& prm) {
  VOKC_CALL(voksAdaptiveCodebookSearch_GSMAMR_16s, o.xn, o.h1, olLags, &e->prevLag, e->exc + kSub * s, &o.frac,
            &o.lagIndex, o.vec, static_cast<int16_t>(s), kRate[mode]);
  o.t0 = e->prevLag;
  *prm++ = o.lagIndex;
  convolve(o.vec, o.h1, o.y1);
  VOKC_CALL(voksAdaptiveCodebookGainCoeffs_GSMAMR_16s, o.xn, o.y1, &o.gp, o.gCoeff);
  if (mode == kMr122) o.gp = static_cast<int16_t>(o.gp & 0xFFFC);
  const bool clip = lspFlag && o.gp > kGpClip && gainWouldClip(e, o.gp);
  o.gpLimit = 32767;
  if (mode <= kMr515) {
    if (o.gp > 13926) o.gp = 13926;  // 0.85
    if (clip) o.gpLimit = kGpClip;
  } else {
    if (clip) o.gpLimit = o.gp = kGpClip;
    if (mode == kMr122) *prm++ = quantPitchGain122(o.gpLimit, &o.gp);
  }
  int16_t ltpRes[kSub];
  subtractScaled(o.xn, o.y1, o.gp, o.xn2);
  subtractScaled(o.res, e->exc + kExcHist + kSub * s, o.gp, ltpRes);
  if (s == 0 && e->olGainFlag[0] > 0) e->olLagHist[1] = o.t0;
  if (s == 3 && e->olGainFlag[1] > 0) e->olLagHist[0] = o.t0;
  VOKC_CALL(voksAlgebraicCodebookSearch_GSMAMR_16s, o.t0, mode == kMr122 ? o.gp : e->sharp, o.xn2, ltpRes, o.h1,
            o.code, o.y2, prm, static_cast<int16_t>(s), kRate[mode]);
  prm += kCodeWords[mode];
}

// Gains of a subframe in every mode but 4.75 kbit/s; indices to prm.
void quantiseGains(AmrNbEncoder* e, int mode, int s, SubframeOut& o, int16_t& gc, int16_t*& prm) {
  Scaled codeEn{0, 0}, codeGain{0, 0};
  const Scaled g0 = predictCodeGain(e->pred, mode, o.code, &codeEn);
  int16_t enLog2, en;
  if (mode == kMr122) {
    gc = optimalCodeGain(o.xn2, o.y2);
    *prm++ = quantCodeGain122(g0, &gc, &enLog2, &en);
  } else {
    int16_t frac[5], exp[5];
    filteredEnergies(mode, o.xn, o.xn2, o.y1, o.y2, o.gCoeff, frac, exp, &codeGain);
    if (mode == kMr795) {
      Adapt795 a{&e->adaptOnset, &e->adaptPrevAlpha, &e->adaptPrevGain, e->adaptLtpg};
      int16_t pi, ci;
      quant795(a, o.res, e->exc + kExcHist + kSub * s, o.code, frac, exp, codeEn, g0, codeGain, o.gpLimit, &o.gp,
               &gc, &enLog2, &en, &pi, &ci);
      *prm++ = pi;
      *prm++ = ci;
    } else {
      *prm++ = quantJoint(mode, g0, frac, exp, o.gpLimit, &o.gp, &gc, &enLog2, &en);
    }
  }
  pushHistory(e->pred, enLog2, en);
}

// The subframes of a speech frame.
void speechSubframes(AmrNbEncoder* e, int mode, const int16_t* A, const int16_t* Aq, const int16_t* olLags,
                     bool lspFlag, int16_t* prm) {
  Memories live{e->memSyn, e->memErr, e->memW0};
  if (mode != kMr475) {
    for (int s = 0; s < 4; ++s) {
      SubframeOut o;
      prepare(e, mode, s, A, Aq, e->memW0, o);
      searchSubframe(e, mode, s, olLags, lspFlag, o, prm);
      int16_t gc;
      quantiseGains(e, mode, s, o, gc, prm);
      rememberGain(e, o.gp);
      synthesise(e, mode, kSub * s, o.gp, gc, Aq + 11 * s, o.xn, o.code, o.y1, o.y2, live, &e->sharp);
    }
    return;
  }
  // 4.75 kbit/s: pairs of subframes.
  for (int s = 0; s < 4; s += 2) {
    int16_t synTmp[kOrder], w0Tmp[kOrder], errSaved[kOrder];
    std::memcpy(synTmp, e->memSyn, sizeof synTmp);
    std::memcpy(w0Tmp, e->memW0, sizeof w0Tmp);
    std::memcpy(errSaved, e->memErr, sizeof errSaved);
    const int16_t sharpSaved = e->sharp;
    Memories trial{synTmp, e->memErr, w0Tmp};

    // First subframe, synthesised with its unquantised gains.
    SubframeOut a;
    prepare(e, mode, s, A, Aq, w0Tmp, a);
    searchSubframe(e, mode, s, olLags, lspFlag, a, prm);
    int16_t* gainSlot = prm++;
    GainHistory provisional = e->pred;
    Subframe475 first, second;
    first.gcode0 = predictCodeGain(provisional, kMr475, a.code, nullptr);
    Scaled codeGain;
    filteredEnergies(kMr475, a.xn, a.xn2, a.y1, a.y2, a.gCoeff, first.coeffFrac, first.coeffExp, &codeGain);
    const int16_t gcTrial = shl(codeGain.frac, add(codeGain.exp, 1));
    first.target = targetEnergy(a.xn);
    provisionalUpdate475(provisional, first.gcode0, codeGain);
    rememberGain(e, a.gp);
    synthesise(e, mode, kSub * s, a.gp, gcTrial, Aq + 11 * s, a.xn, a.code, a.y1, a.y2, trial, &e->sharp);
    e->sharp = sharpSaved;

    // Second subframe against the provisional past, then the joint gains.
    SubframeOut b;
    prepare(e, mode, s + 1, A, Aq, w0Tmp, b);
    searchSubframe(e, mode, s + 1, olLags, lspFlag, b, prm);
    second.gcode0 = predictCodeGain(provisional, kMr475, b.code, nullptr);
    filteredEnergies(kMr475, b.xn, b.xn2, b.y1, b.y2, b.gCoeff, second.coeffFrac, second.coeffExp, &codeGain);
    second.target = targetEnergy(b.xn);
    int16_t gp0, gc0, gc1;
    *gainSlot = quant475(e->pred, first, second, b.code, b.gpLimit, &gp0, &gc0, &b.gp, &gc1);
    rememberGain(e, b.gp);

    // Both subframes again with the quantised gains.
    std::memcpy(e->memErr, errSaved, sizeof errSaved);
    std::memcpy(e->exc + kExcHist + kSub * s, a.vec, sizeof a.vec);
    int16_t sharpScratch = sharpSaved;
    synthesise(e, mode, kSub * s, gp0, gc0, Aq + 11 * s, a.xn, a.code, a.y1, a.y2, live, &sharpScratch);
    int16_t y2[kSub];
    std::memcpy(y2, b.y2, sizeof y2);
    prepare(e, mode, s + 1, A, Aq, e->memW0, b);
    // The second subframe's adaptive vector from the final excitation: the
    // lag code is lossless, so decoding it against the first subframe's lag
    // gives the searched lag back, and the decoder's interpolation the vector.
    int16_t prevLag = a.t0, codedLag, lag;
    VOKC_CALL(voksAdaptiveCodebookDecode_GSMAMR_16s, b.lagIndex, &prevLag, &codedLag, e->exc + kSub * (s + 1), &lag,
              b.vec, static_cast<int16_t>(s + 1), Vok16s{0}, Vok16s{0}, Vok16s{0}, kRate[mode], 0, 0);
    convolve(e->exc + kExcHist + kSub * (s + 1), b.h1, b.y1);
    synthesise(e, mode, kSub * (s + 1), b.gp, gc1, Aq + 11 * (s + 1), b.xn, b.code, b.y1, y2, live, &e->sharp);
  }
}

// Frame type of the transmitted frame, with the SID update schedule.
int frameType(AmrNbEncoder* e, bool sid) {
  int type = 0;
  if (!sid) {
    e->sidCounter = 8;
  } else {
    e->sidCounter = static_cast<int16_t>(e->sidCounter - 1);
    if (e->prevTxType == 0) {
      type = 1;
      e->sidCounter = 3;
    } else if (e->sidDebt > 0 && e->sidCounter > 2) {
      type = 2;
      e->sidDebt = static_cast<int16_t>(e->sidDebt - 1);
    } else if (e->sidCounter == 0) {
      type = 2;
      e->sidCounter = 8;
    } else {
      type = 3;
    }
  }
  e->prevTxType = static_cast<int16_t>(type);
  return type;
}

VokResult encode(AmrNbEncoder* e, const int16_t* pcm, int mode, int16_t* prm, int* txType, int* usedMode) {
  int differs = 0;  // any bit in which a sample differs from the homing pattern
  int16_t* fresh = e->speech + kFrameAt;
  for (int i = 0; i < kFrameLen; ++i) {
    differs |= pcm[i] ^ kHomingSample;
    fresh[i] = static_cast<int16_t>(pcm[i] & 0xFFF8);
  }
  const bool homing = differs == 0;
  VOKC_CALL(voksHighPassFilter_G729_16s_ISfs, fresh, kFrameLen, 12, e->highPass);

  // Voice activity and the DTX hangover.
  int16_t computeSid = 0, rateUsed = static_cast<int16_t>(kRate[mode]);
  if (e->dtx) {
    int16_t active;
    if (e->vadOption == 1) {
      VOKC_CALL(voksVAD1_GSMAMR_16s, e->speech + kSubframeAt, &e->vad1, &active, e->bestCorrHp, e->toneReg);
    } else {
      int16_t a0, a1;
      VOKC_CALL(voksVAD2_GSMAMR_16s, fresh, &e->vad2, &a0, e->ltpFlag);
      VOKC_CALL(voksVAD2_GSMAMR_16s, fresh + 80, &e->vad2, &a1, e->ltpFlag);
      active = static_cast<int16_t>(a0 || a1);
    }
    VOKC_CALL(voksEncDTXHandler_GSMAMR_16s, &e->dtxHangover, &e->dtxElapsed, &rateUsed, &computeSid, active);
  }
  const bool sid = rateUsed == vokRateSid;

  int16_t A[44], Aq[44], lspNew[kOrder];
  int16_t* out = prm;
  lpFrame(e, mode, sid, A, Aq, lspNew, out);
  VOKC_CALL(voksEncDTXBuffer_GSMAMR_16s, fresh, lspNew, &e->histIndex, e->lspHist, e->logEnHist);
  bool lspFlag = false;
  if (sid) {
    VOKC_CALL(voksEncDTXSID_GSMAMR_16s, e->lspHist, e->logEnHist, &e->sidPrm[4], e->lsfResidual, e->sidPrm,
              e->pred.en, e->pred.enLog2, computeSid);
    // The predictive memories restart from the comfort-noise frame.
    std::memset(e->exc, 0, sizeof e->exc);
    std::memset(e->memW0, 0, sizeof e->memW0);
    std::memset(e->memErr, 0, sizeof e->memErr);
    std::memset(e->lsfResidual, 0, sizeof e->lsfResidual);
    std::memcpy(e->lspOld, lspNew, sizeof e->lspOld);
    std::memcpy(e->lspOldQ, lspNew, sizeof e->lspOldQ);
    e->prevLag = 0;
    e->sharp = 0;
  } else {
    lspFlag = resonant(e, e->lspOld);
  }

  int16_t olLags[2];
  openLoop(e, mode, A, olLags);

  if (sid) {
    std::memcpy(prm, e->sidPrm, sizeof e->sidPrm);
    *usedMode = 8;
  } else {
    speechSubframes(e, mode, A, Aq, olLags, lspFlag, out);
    std::memmove(e->exc, e->exc + kFrameLen, sizeof(int16_t) * kExcHist);
    *usedMode = mode;
  }
  std::memmove(e->speech, e->speech + kFrameLen, sizeof(int16_t) * (320 - kFrameLen));
  *txType = frameType(e, sid);
  if (homing) resetEncoder(e);
  return vokOk;
}

}  // namespace

VokResult amrnbEncoderInit(AmrNbEncoder* enc, bool dtx, int vadOption) {
  if (!enc) return vokErrNullPtr;
  if (vadOption != 1 && vadOption != 2) return vokErrBadArg;
  enc->dtx = dtx;
  enc->vadOption = vadOption;
  return guarded([&] {
    resetEncoder(enc);
    return vokOk;
  });
}

VokResult amrnbEncodeFrame(AmrNbEncoder* enc, const int16_t pcm[160], int mode, int16_t prm[57], int* txType,
                           int* usedMode) {
  if (!enc || !pcm || !prm || !txType || !usedMode) return vokErrNullPtr;
  if (mode < 0 || mode > 7) return vokErrRange;
  return guarded([&] { return encode(enc, pcm, mode, prm, txType, usedMode); });
}

}  // namespace vokc::amrnb
