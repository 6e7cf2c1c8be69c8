// AMR-WB encoder frame loop.
//
// Per 20 ms frame: 14-bit input decimated to 12.8 kHz, the 50 Hz high-pass
// and a pre-emphasis whose output is scaled up as far as the last frames
// allow (every stored signal follows that scale); voice activity and the
// DTX hangover; one LP analysis per frame (window centred on the fourth
// subframe), ISF quantisation and ISP interpolation per subframe; the
// weighted speech, decimated 2:1, gives one or two open-loop lags.  Per
// 64-sample subframe: the target and the weighted impulse response, the
// closed-loop lag, a choice between the plain and the low-pass-filtered
// adaptive vector, the algebraic search on a target with the pitch
// contribution removed, the joint gain quantiser and the local synthesis.
// At 23.85 kbit/s a local 16 kHz synthesis also measures the 6-7 kHz band
// of the input against the noise the decoder will generate and sends a
// 4-bit gain correction.  A comfort-noise frame replaces all this by the
// SID analysis, a local synthesis of the comfort noise and a reset of the
// predictive memories.
#include <cstring>

#include "amrwb/amrwb_enc_dsp.h"
#include "amrwb/amrwb_enc_tables.h"
#include "amrwb/amrwb_tables.h"
#include "amrwb/amrwb_encoder.h"
#include "basic_op.h"
#include "checked_call.h"

namespace vokc::amrwb {

using namespace voksc::op;
using namespace enc;

namespace {

constexpr int kFrame12k8 = 256;
constexpr int kLookahead = 12;        // decimated samples beyond the frame, for the LP window only
constexpr int kSpeechLen = 384;       // history 128 (64 of it before the frame start)
constexpr int kFrameAt = 64;          // present frame in the speech buffer
constexpr int kNewAt = kSpeechLen - kFrame12k8 - kLookahead;  // 116: where the new samples go
constexpr int kExcHist = 248;
constexpr int kWspHist = 115;
constexpr int16_t kPreemph = 22282;   // 0.68
constexpr int16_t kTilt = 22282;
constexpr int16_t kGamma1 = 30147;    // 0.92
constexpr int16_t kGpClip = 15565;    // 0.95 in Q14
constexpr int16_t kPitchSharp = 27853;
constexpr int16_t kQMax = 8;
constexpr int16_t kHomingSample = 0x0008;
constexpr VokRateCode kRate[kModes] = {vokRateAmrWb660,  vokRateAmrWb885,  vokRateAmrWb1265,
                                       vokRateAmrWb1425, vokRateAmrWb1585, vokRateAmrWb1825,
                                       vokRateAmrWb1985, vokRateAmrWb2305, vokRateAmrWb2385};
// Pitch-gain clipping test: ISF distance limits (150 Hz at the two lowest
// rates, else 120 Hz), the resonance threshold (60 Hz), gain limits.
constexpr int16_t kIsfDistMaxLow = 384, kIsfDistMax = 307, kIsfDistThres = 154;
constexpr int16_t kGainThres = 14746, kGainMin = 9830;

HighPassFilterState_AMRWB_16s* hpState(uint8_t* raw) { return reinterpret_cast<HighPassFilterState_AMRWB_16s*>(raw); }

bool lowRate(int mode) { return mode <= 1; }

// ---- pitch-gain clipping: resonant LP filters with a high long-term gain
// would let a lost frame grow; the adaptive gain is then limited.
bool clipPitchGain(const int16_t* mem, int mode) {
  if (lowRate(mode)) {
    const int16_t thres = add(14746, mult(1638, extract_l(L_mult(mem[0], 16384 / kIsfDistMaxLow))));
    return mem[1] > thres;
  }
  return mem[0] < kIsfDistThres && mem[1] > kGainThres;
}

void trackIsfDistance(int16_t* mem, const int16_t* isf, int mode) {
  int16_t minDist = sub(isf[1], isf[0]);
  for (int i = 2; i < kOrder - 1; ++i) {
    const int16_t d = sub(isf[i], isf[i - 1]);
    if (d < minDist) minDist = d;
  }
  int16_t dist = extract_h(L_mac(L_mult(26214, mem[0]), 6554, minDist));
  const int16_t limit = lowRate(mode) ? kIsfDistMaxLow : kIsfDistMax;
  mem[0] = dist > limit ? limit : dist;
}

void trackPitchGain(int16_t* mem, int16_t gainPit, int mode) {
  const int32_t s = lowRate(mode) ? L_mac(L_mult(32113, mem[1]), 655, gainPit) : L_mac(L_mult(29491, mem[1]), 3277, gainPit);
  const int16_t g = extract_h(s);
  mem[1] = g < kGainMin ? kGainMin : g;
}

void resetClip(int16_t* mem) {
  mem[0] = kIsfDistMax;
  mem[1] = kGainMin;
}

// ---- resets --------------------------------------------------------------

// The memories a comfort-noise frame clears (and a homing frame with the rest).
void resetPredictive(AmrWbEncoder* e) {
  std::memset(e->exc, 0, sizeof e->exc);
  std::memset(e->memSyn, 0, sizeof e->memSyn);
  std::memset(e->isfResidual, 0, sizeof e->isfResidual);
  e->memW0 = 0;
  e->tiltCode = 0;
  e->firstFrame = true;
  resetClip(e->gpClip);
  e->noiseGainThreshold = 0;
}

VokResult resetAll(AmrWbEncoder* e) {
  resetPredictive(e);
  std::memset(e->speech, 0, sizeof e->speech);
  std::memset(e->wsp, 0, sizeof e->wsp);
  std::memset(e->wspDecimMem, 0, sizeof e->wspDecimMem);
  std::memset(e->decimMem, 0, sizeof e->decimMem);
  VOKC_CALL(voksHighPassFilterInit_AMRWB_16s, kHp50A, kHp50B, 2, hpState(e->hpIn));
  std::memset(e->lastA, 0, sizeof e->lastA);
  for (int i = 0; i < 4; ++i) e->pastEnergies[i] = -14336;
  VOKC_CALL(voksHighPassFilterInit_AMRWB_16s, kHpWspA, kHpWspB, 3, hpState(e->hpWspState));
  e->hpWspScale = 0;
  std::memcpy(e->ispOld, kIspInit, sizeof kIspInit);
  std::memcpy(e->ispOldQ, kIspInit, sizeof kIspInit);
  e->preemphMem = 0;
  e->wspMem = 0;
  e->qOld = 15;
  e->qMax[0] = e->qMax[1] = 15;
  e->wspMax = 0;
  e->wspShift = 0;
  e->olMedian = 40;
  e->olWeight = 0;
  e->olWeightFlag = 0;
  for (auto& l : e->olLags) l = 40;
  std::memset(e->hpWsp, 0, sizeof e->hpWsp);
  std::memset(e->memSynHf, 0, sizeof e->memSynHf);
  std::memset(e->memSyn32, 0, sizeof e->memSyn32);
  VOKC_CALL(voksHighPassFilterInit_AMRWB_16s, kHp50A, kHp50B, 2, hpState(e->hpOut));
  std::memset(e->memBand, 0, sizeof e->memBand);
  VOKC_CALL(voksHighPassFilterInit_AMRWB_16s, kHp400A, kHp400B, 2, hpState(e->hp400));
  std::memcpy(e->isfOld, kIsfInit, sizeof kIsfInit);
  e->deemphMem = 0;
  e->seedHf = 21845;
  std::memset(e->memBandIn, 0, sizeof e->memBandIn);
  e->gainAlpha = 32767;
  e->vadHistory = 0;
  e->toneFlag = 0;
  VOKC_CALL(voksVADInit_AMRWB_16s, reinterpret_cast<VADState_AMRWB_16s*>(e->vad));
  dtxReset(e->dtxState);
  return vokOk;
}

// ---- 23.85 kbit/s high band -------------------------------------------------

// sqrt(den/num) of two normalised energies (mantissa, exponent), shifted
// left by the result's exponent plus `extra`; the high word.
int16_t energyRatioRoot(int16_t num, int16_t numExp, int16_t den, int16_t denExp, int extra) {
  if (num > den) {
    num = shr(num, 1);
    numExp = add(numExp, 1);
  }
  int32_t r = L_deposit_h(div_s(num, den));
  int16_t exp = sub(numExp, denExp);
  invSqrt(&r, &exp);
  return extract_h(L_shl(r, static_cast<int16_t>(add(exp, static_cast<int16_t>(extra)))));
}

// Local synthesis of one subframe (excitation exc, scaled by 2^q, modified
// in place) with the quantised filter aq, and the index of the high-band
// gain: the 6-7 kHz energy of the input (in16k, 80 samples) against that
// of the noise the decoder shapes with the same filter, blended with the
// tilt-based estimate while the DTX hangover runs down.
VokResult highBandGain(AmrWbEncoder* e, const int16_t* aq, int16_t* exc, int16_t q, const int16_t* in16k,
                       int16_t* index) {
  // 32-bit synthesis, de-emphasis and 50 Hz high-pass: the decoder's low band.
  int32_t syn[kOrder + kSub];
  std::memcpy(syn, e->memSyn32, sizeof e->memSyn32);
  int16_t a[kOrder + 1];
  std::memcpy(a, aq, sizeof a);
  a[0] = shr(aq[0], add(4, q));
  VOKC_CALL(voksSynthesisFilter_AMRWB_16s32s_I, a, kOrder, exc, syn + kOrder, kSub);
  std::memcpy(e->memSyn32, syn + kSub, sizeof e->memSyn32);
  int16_t synth[kSub];
  VOKC_CALL(voksDeemphasize_AMRWB_32s16s, kPreemph, syn + kOrder, synth, kSub, &e->deemphMem);
  VOKC_CALL(voksHighPassFilter_AMRWB_16s_ISfs, synth, kSub, hpState(e->hpOut), 14);

  // White noise at the energy of the excitation.
  int16_t hf[kSub16k], ref[kSub16k];
  std::memcpy(ref, in16k, sizeof ref);
  for (auto& v : hf) v = shr(noise(&e->seedHf), 3);
  scaleSignal(exc, kSub, -3);
  q = sub(q, 3);
  int16_t excExp, hfExp;
  const int16_t excEn = extract_h(dotProduct12(exc, exc, kSub, &excExp));
  excExp = sub(excExp, add(q, q));
  int16_t hfEn = extract_h(dotProduct12(hf, hf, kSub16k, &hfExp));
  const int16_t toExc = energyRatioRoot(hfEn, hfExp, excEn, excExp, 1);
  for (auto& v : hf) v = mult(v, toExc);

  // Tilt of the synthesis above 400 Hz: voiced speech gets less noise.
  VOKC_CALL(voksHighPassFilter_AMRWB_16s_ISfs, synth, kSub, hpState(e->hp400), 15);
  int32_t r0 = 1, r1 = 1;
  for (int i = 0; i < kSub; ++i) r0 = L_mac(r0, synth[i], synth[i]);
  for (int i = 1; i < kSub; ++i) r1 = L_mac(r1, synth[i], synth[i - 1]);
  const int16_t n = norm_l(r0);
  const int16_t e0 = extract_h(L_shl(r0, n)), e1 = extract_h(L_shl(r1, n));
  const int16_t tilt = e1 > 0 ? div_s(e1, e0) : 0;
  const int16_t g = sub(32767, tilt);
  // Noise frames take 1.25 (1 - tilt); either is weighted by 32767.
  int16_t est = mult(32767, e->vadHistory > 0 ? shl(mult(g, 20480), 1) : g);
  if (est != 0) est = add(est, 1);
  if (est < 3277) est = 3277;

  // The decoder's noise shaping, and the same band of the input.
  int16_t ap[kOrder + 1];
  weightLp(aq, 19661, ap);
  synthesize(ap, hf, hf, kSub16k, e->memSynHf, true);
  bandPass6k7k(hf, kSub16k, e->memBand);
  bandPass6k7k(ref, kSub16k, e->memBandIn);
  scaleSignal(ref, kSub16k, -1);
  int16_t refExp;
  const int16_t refEn = extract_h(dotProduct12(ref, ref, kSub16k, &refExp));
  hfEn = extract_h(dotProduct12(hf, hf, kSub16k, &hfExp));
  const int16_t measured = energyRatioRoot(hfEn, hfExp, refEn, refExp, 0);

  // Measured gain, faded towards the estimate as the hangover runs out.
  const int16_t hang = e->dtxState.hangover;
  e->gainAlpha = mult(e->gainAlpha, extract_h(L_shl(L_mult(hang, 4681), 15)));
  if (hang > 6) e->gainAlpha = 32767;
  est = shr(est, 1);
  const int16_t gain = add(mult(measured, e->gainAlpha), mult(sub(32767, e->gainAlpha), est));
  int16_t best = 32767;
  *index = 0;
  for (int i = 0; i < 16; ++i) {
    const int16_t d = sub(gain, kHfGains[i]);
    const int16_t dist = mult(d, d);
    if (dist < best) {
      best = dist;
      *index = static_cast<int16_t>(i);
    }
  }
  return vokOk;
}

// ---- the frame ----------------------------------------------------------------

// Per-frame working buffers.
struct Frame {
  int16_t speech[kSpeechLen];
  int16_t wsp[kWspHist + kFrame12k8];
  int16_t exc[kExcHist + kFrame12k8 + 1];
  int16_t a[4 * (kOrder + 1)], aq[4 * (kOrder + 1)];
  int16_t isf[kOrder];
  int16_t qNew, shift;
};

// Decimation, high-pass, scaled pre-emphasis of the new input into
// f.speech (with the 12 look-ahead samples), rescaling of the history.
void frontEnd(AmrWbEncoder* e, const int16_t* pcm, Frame& f) {
  std::memcpy(f.speech, e->speech, sizeof e->speech);  // the look-ahead part is replaced below
  int16_t buf[30 + 320];
  std::memcpy(buf, e->decimMem, sizeof e->decimMem);
  std::memcpy(buf + 30, pcm, sizeof(int16_t) * 320);
  int16_t* fresh = f.speech + kNewAt;
  decimate(buf, 320, fresh);
  std::memcpy(e->decimMem, buf + 320, sizeof e->decimMem);
  // Look-ahead: the filter's tail run on zeros, from a copy of the memory.
  int16_t tail[30 + 15] = {};
  std::memcpy(tail, e->decimMem, sizeof e->decimMem);
  decimate(tail, 15, fresh + kFrame12k8);
  VOKC_CALL(voksHighPassFilter_AMRWB_16s_ISfs, fresh, kFrame12k8, hpState(e->hpIn), 14);
  alignas(8) uint8_t hpCopy[40];
  std::memcpy(hpCopy, e->hpIn, sizeof hpCopy);
  VOKC_CALL(voksHighPassFilter_AMRWB_16s_ISfs, fresh + kFrame12k8, kLookahead, hpState(hpCopy), 14);

  // Pre-emphasis 1 - 0.68 z^-1 scaled by 2^q, q as large as the peak of
  // this frame and of the last two allows (at most 8).
  const int16_t mu = shr(kPreemph, 1);
  const int n = kFrame12k8 + kLookahead;
  int32_t peak = L_abs(L_msu(L_mult(fresh[0], 16384), e->preemphMem, mu));
  for (int i = 1; i < n; ++i) {
    const int32_t v = L_abs(L_msu(L_mult(fresh[i], 16384), fresh[i - 1], mu));
    if (v > peak) peak = v;
  }
  int16_t shift = kQMax;
  if (extract_h(peak) != 0) {
    shift = sub(norm_s(extract_h(peak)), 1);
    if (shift < 0) shift = 0;
    if (shift > kQMax) shift = kQMax;
  }
  int16_t q = shift;
  if (q > e->qMax[0]) q = e->qMax[0];
  if (q > e->qMax[1]) q = e->qMax[1];
  const int16_t exp = sub(q, e->qOld);
  e->qOld = q;
  e->qMax[1] = e->qMax[0];
  e->qMax[0] = shift;
  const int16_t last = fresh[kFrame12k8 - 1];
  for (int i = n - 1; i >= 0; --i) {
    const int16_t prev = i > 0 ? fresh[i - 1] : e->preemphMem;
    fresh[i] = round_fx(L_shl(L_msu(L_mult(fresh[i], 16384), prev, mu), q));
  }
  e->preemphMem = last;
  f.qNew = q;
  f.shift = exp;  // until the weighted speech adds its own shift

  scaleSignal(f.speech, kNewAt, exp);
  std::memcpy(f.exc, e->exc, sizeof e->exc);
  scaleSignal(f.exc, kExcHist, exp);
  scaleSignal(e->memSyn, kOrder, exp);
  scaleSignal(e->wspDecimMem, 3, exp);
  scaleSignal(&e->wspMem, 1, exp);
  scaleSignal(&e->memW0, 1, exp);
}

VokResult residual(const int16_t* a, const int16_t* x, int16_t* y, int len) {
  return VOKC_CALL(voksResidualFilter_AMRWB_16s_Sfs, a, static_cast<Vok16s>(kOrder), x, y, len, 4);
}

// LP analysis and ISFs of the frame, the weighted speech and its open-loop
// lags (doubled to 12.8 kHz lags).
VokResult analyse(AmrWbEncoder* e, Frame& f, int mode, int16_t* olLags) {
  int16_t rHi[kOrder + 1], rLo[kOrder + 1], a[kOrder + 1], isp[kOrder];
  autocorrelation(f.speech, rHi, rLo);
  levinson(rHi, rLo, a, e->lastA);
  VOKC_CALL(voksLPCToISP_AMRWB_16s, a, isp, e->ispOld);
  interpolateIsp(e->ispOld, isp, f.a);
  std::memcpy(e->ispOld, isp, sizeof isp);
  VOKC_CALL(voksISPToISF_Norm_AMRWB_16s, isp, f.isf, kOrder);
  trackIsfDistance(e->gpClip, f.isf, mode);

  // Weighted speech A(z/0.92) / (1 - 0.68 z^-1), then 2:1 decimated and
  // scaled to 12 bits against the peaks of this frame and the last.
  int16_t* wsp = f.wsp + kWspHist;
  for (int k = 0; k < 4; ++k) {
    int16_t ap[kOrder + 1];
    weightLp(f.a + k * (kOrder + 1), kGamma1, ap);
    residual(ap, f.speech + kFrameAt + k * kSub, wsp + k * kSub, kSub);
  }
  deemphasizeHalf(wsp, kTilt, kFrame12k8, &e->wspMem);
  int16_t peak = 0;
  for (int i = 0; i < kFrame12k8; ++i) {
    const int16_t v = abs_s(wsp[i]);
    if (v > peak) peak = v;
  }
  const int16_t top = peak > e->wspMax ? peak : e->wspMax;
  e->wspMax = peak;
  int16_t shift = sub(norm_s(top), 3);
  if (shift > 0) shift = 0;
  decimateByTwo(wsp, e->wspDecimMem);
  scaleSignal(wsp, kFrame12k8 / 2, shift);
  const int16_t exp = add(f.shift, sub(shift, e->wspShift));
  e->wspShift = shift;
  f.shift = shift;
  std::memcpy(f.wsp, e->wsp, sizeof e->wsp);
  scaleSignal(f.wsp, kWspHist, exp);
  scaleSignal(e->hpWsp, kWspHist, exp);
  e->hpWspScale -= exp;  // the high-pass memory follows on its next call

  // Open-loop lags per half frame (one for the whole frame at 6.60).
  const int len = mode == 0 ? kFrame12k8 / 2 : kFrame12k8 / 4;
  int16_t hp[kWspHist + kFrame12k8 / 2];
  std::memcpy(hp, e->hpWsp, sizeof e->hpWsp);
  for (int h = 0; h * len < kFrame12k8 / 2; ++h) {
    int16_t gain = 0;
    VOKC_CALL(voksHighPassFilter_AMRWB_16s_Sfs, wsp + h * len, hp + kWspHist + h * len, len, hpState(e->hpWspState),
              e->hpWspScale);
    VOKC_CALL(voksOpenLoopPitchSearch_AMRWB_16s, wsp + h * len, hp + kWspHist + h * len, &e->olMedian, &e->olWeight,
              &olLags[h], &e->toneFlag, &gain, e->olLags, &e->olWeightFlag, len);
  }
  if (mode == 0) olLags[1] = olLags[0];
  std::memcpy(e->hpWsp, hp + kFrame12k8 / 2, sizeof e->hpWsp);
  return vokOk;
}

// A comfort-noise frame: history update, SID parameters, local synthesis
// of the comfort noise (it keeps the high-band memories going), reset of
// the predictive memories.
VokResult comfortNoise(AmrWbEncoder* e, Frame& f, int mode, const int16_t* in16k, FrameParams& p) {
  int16_t res[kFrame12k8];
  residual(f.a + 3 * (kOrder + 1), f.speech + kFrameAt, res, kFrame12k8);
  for (auto& v : res) v = shr(v, f.qNew);
  DtxEncoder& d = e->dtxState;
  VOKC_CALL(voksEncDTXBuffer_AMRWB_16s, res, f.isf, &d.histIndex, d.isfHist, d.logEnHist, kRate[mode]);
  int16_t isf[kOrder], isp[kOrder], aq[kOrder + 1], cn[kFrame12k8];
  dtxAnalyse(d, p, isf, cn);
  VOKC_CALL(voksISFToISP_AMRWB_16s, isf, isp, kOrder);
  VOKC_CALL(voksISPToLPC_AMRWB_16s, isp, aq, kOrder);
  for (int k = 0; k < 4; ++k) {
    int16_t unused;
    highBandGain(e, aq, cn + k * kSub, 0, in16k + k * kSub16k, &unused);
  }
  std::memcpy(e->isfOld, isf, sizeof isf);
  resetPredictive(e);
  return vokOk;
}

// A speech frame: ISF quantisation, then the four subframes.
VokResult speechFrame(AmrWbEncoder* e, Frame& f, int mode, const int16_t* olLags, const int16_t* in16k, int16_t vad,
                      FrameParams& p) {
  const VokRateCode rate = kRate[mode];
  int16_t isfq[kOrder], ispq[kOrder], idx[7];
  VOKC_CALL(voksISFQuant_AMRWB_16s, f.isf, e->isfResidual, isfq, idx, rate);
  std::memcpy(p.isf, idx, sizeof(int16_t) * (mode == 0 ? 5 : 7));
  // Stability of the filter: 1.25 - 0.8 |isf - isfOld|^2 / 256, in Q15.
  int32_t moved = 0;
  for (int i = 0; i < kOrder - 1; ++i) {
    const int16_t d = sub(isfq[i], e->isfOld[i]);
    moved = L_mac(moved, d, d);
  }
  int16_t stab = shl(sub(20480, mult(extract_h(L_shl(moved, 8)), 26214)), 1);
  if (stab < 0) stab = 0;
  std::memcpy(e->isfOld, isfq, sizeof isfq);
  VOKC_CALL(voksISFToISP_AMRWB_16s, isfq, ispq, kOrder);
  if (e->firstFrame) {
    e->firstFrame = false;
    std::memcpy(e->ispOldQ, ispq, sizeof ispq);
  }
  interpolateIsp(e->ispOldQ, ispq, f.aq);
  std::memcpy(e->ispOldQ, ispq, sizeof ispq);

  const int16_t* speech = f.speech + kFrameAt;
  int16_t* exc = f.exc + kExcHist;
  for (int k = 0; k < 4; ++k) residual(f.aq + k * (kOrder + 1), speech + k * kSub, exc + k * kSub, kSub);
  if (vad == 0) {  // noise frames feed the comfort-noise history, DTX or not
    int16_t res[kFrame12k8];
    for (int i = 0; i < kFrame12k8; ++i) res[i] = shr(exc[i], f.qNew);
    DtxEncoder& d = e->dtxState;
    VOKC_CALL(voksEncDTXBuffer_AMRWB_16s, res, isfq, &d.histIndex, d.isfHist, d.logEnHist, rate);
  }

  const int16_t qNew = f.qNew, shift = f.shift;
  int16_t lagWindow[2] = {0, 0};
  for (int k = 0; k < 4; ++k) {
    const int i0 = k * kSub;
    const int16_t* aw = f.a + k * (kOrder + 1);
    const int16_t* aq = f.aq + k * (kOrder + 1);
    SubframeParams& sp = p.sub[k];
    int16_t ap[kOrder + 1], xn[kSub], xn2[kSub], dn[kSub], cn[kSub], h1[kSub], h2[kSub], code[kSub], y1[kSub],
        y2[kSub];
    weightLp(aw, kGamma1, ap);

    // Target: the speech residual through 1/A(z) from the error memory
    // (speech minus synthesis), weighted.
    int16_t err[kOrder + kSub];
    for (int i = 0; i < kOrder; ++i) err[i] = sub(speech[i0 - kOrder + i], e->memSyn[i]);
    residual(aq, speech + i0, exc + i0, kSub);
    synthesize(aq, exc + i0, err + kOrder, kSub, err, false);
    residual(ap, err + kOrder, xn, kSub);
    deemphasizeHalf(xn, kTilt, kSub, &e->memW0);

    // Target in the residual domain for the sign choice of the algebraic
    // search: exact for the first half, the LP residual for the second.
    int16_t half[kOrder + kSub / 2] = {};
    std::memcpy(half + kOrder, xn, sizeof(int16_t) * (kSub / 2));
    int16_t zero = 0;
    preemphasize(half + kOrder, kTilt, kSub / 2, &zero, true);
    synthesize(ap, half + kOrder, half + kOrder, kSub / 2, half, false);
    residual(aq, half + kOrder, cn, kSub / 2);
    std::memcpy(cn + kSub / 2, exc + i0 + kSub / 2, sizeof(int16_t) * (kSub / 2));

    // Impulse response of the weighted synthesis filter (Q14 after the
    // tilt), h2 a Q12 copy for the algebraic search.
    weightedImpulse(ap, aq, h1);
    zero = 0;
    deemphasizeHalf(h1, kTilt, kSub, &zero);
    std::memcpy(h2, h1, sizeof h1);
    scaleSignal(h2, kSub, -2);
    scaleSignal(xn, kSub, shift);
    scaleSignal(h1, kSub, 1 + shift);

    // Closed-loop lag and the adaptive vector (65 samples).
    int16_t lag = 0, frac = 0, lagIndex = 0;
    VOKC_CALL(voksAdaptiveCodebookSearch_AMRWB_16s, xn, h1, olLags, &lag, lagWindow, exc + i0, &frac, &lagIndex, k,
              rate);
    sp.lag = lagIndex;
    const bool clip = clipPitchGain(e->gpClip, mode);

    // Plain and low-pass filtered adaptive vectors, each with its gain and
    // the target left for the algebraic search; the filtered one is kept
    // unless the plain one leaves less (from 12.65 kbit/s on).
    int16_t gCoeff[4], gCoeff2[4], gain1 = 0, gain2 = 0;
    if (mode > 1) {
      convolve(exc + i0, h1, y1);
      VOKC_CALL(voksAdaptiveCodebookGainCoeff_AMRWB_16s, xn, y1, gCoeff, &gain1, kSub);
      if (clip && gain1 > kGpClip) gain1 = kGpClip;
      subtractScaled(xn, dn, y1, gain1, kSub);
    }
    for (int i = 0; i < kSub; ++i)
      code[i] = round_fx(L_mac(L_mac(L_mult(5898, exc[i0 + i - 1]), 20972, exc[i0 + i]), 5898, exc[i0 + i + 1]));
    convolve(code, h1, y2);
    VOKC_CALL(voksAdaptiveCodebookGainCoeff_AMRWB_16s, xn, y2, gCoeff2, &gain2, kSub);
    if (clip && gain2 > kGpClip) gain2 = kGpClip;
    subtractScaled(xn, xn2, y2, gain2, kSub);
    bool plain = false;
    if (mode > 1) {
      int32_t s = 0;
      for (int i = 0; i < kSub; ++i) s = L_mac(s, dn[i], dn[i]);
      for (int i = 0; i < kSub; ++i) s = L_msu(s, xn2[i], xn2[i]);
      plain = s <= 0;
      sp.ltpFilter = plain ? 1 : 0;
    }
    int16_t gainPit;
    if (plain) {
      gainPit = gain1;
      std::memcpy(xn2, dn, sizeof dn);
    } else {
      gainPit = gain2;
      std::memcpy(exc + i0, code, sizeof code);
      std::memcpy(y1, y2, sizeof y2);
      std::memcpy(gCoeff, gCoeff2, sizeof gCoeff);
    }
    subtractScaled(cn, cn, exc + i0, gainPit, kSub);
    scaleSignal(cn, kSub, shift);

    // Algebraic code with the tilt and pitch sharpening folded into the
    // impulse response, then applied to the chosen code.
    zero = 0;
    preemphasize(h2, e->tiltCode, kSub, &zero, false);
    if (frac > 2) lag = add(lag, 1);
    sharpen(h2, lag, kPitchSharp);
    int16_t codeIdx[8] = {};
    VOKC_CALL(voksAlgebraicCodebookSearch_AMRWB_16s, xn2, cn, h2, code, y2, rate, codeIdx);
    std::memcpy(sp.code, codeIdx, sizeof codeIdx);
    zero = 0;
    preemphasize(code, e->tiltCode, kSub, &zero, false);
    sharpen(code, lag, kPitchSharp);

    int32_t gainCode32 = 0;
    int16_t gainIdx = 0;
    VOKC_CALL(voksGainQuant_AMRWB_16s, xn, y1, add(qNew, shift), code, y2, gCoeff, e->pastEnergies, &gainPit,
              &gainCode32, clip ? 1 : 0, &gainIdx, kSub, rate);
    sp.gain = gainIdx;
    trackPitchGain(e->gpClip, gainPit, mode);
    int16_t gainCode = round_fx(L_shl(gainCode32, qNew));

    // Voicing sets the tilt of the next code; the weighting memory follows
    // the target minus both filtered contributions.
    int16_t exc2[kSub];
    std::memcpy(exc2, exc + i0, sizeof exc2);
    scaleSignal(exc2, kSub, shift);
    const int16_t voiced = voicing(exc2, shift, gainPit, code, gainCode);
    e->tiltCode = add(shr(voiced, 2), 8192);
    int32_t w = L_negate(L_shl(L_mult(gainCode, y2[kSub - 1]), add(5, shift)));
    w = L_msu(L_mac(w, xn[kSub - 1], 16384), y1[kSub - 1], gainPit);
    e->memW0 = round_fx(L_shl(w, sub(1, shift)));

    if (mode == 8) std::memcpy(exc2, exc + i0, sizeof exc2);
    for (int i = 0; i < kSub; ++i)
      exc[i0 + i] = round_fx(L_shl(L_mac(L_shl(L_mult(gainCode, code[i]), 5), exc[i0 + i], gainPit), 1));
    int16_t synth[kSub];
    synthesize(aq, exc + i0, synth, kSub, e->memSyn, true);

    if (mode == 8) {
      // The decoder's excitation: the code gain smoothed towards a slowly
      // tracked level on stationary unvoiced frames, the code high-passed
      // on voiced ones.
      int16_t hi, lo;
      L_Extract(gainCode32, hi, lo);
      const int16_t fac = mult(stab, sub(16384, shr(voiced, 1)));
      int32_t level = gainCode32;
      if (level < e->noiseGainThreshold) {
        level = L_add(level, mulPair16(hi, lo, 6226));
        if (level > e->noiseGainThreshold) level = e->noiseGainThreshold;
      } else {
        level = mulPair16(hi, lo, 27536);
        if (level < e->noiseGainThreshold) level = e->noiseGainThreshold;
      }
      e->noiseGainThreshold = level;
      int32_t smoothed = mulPair16(hi, lo, sub(32767, fac));
      L_Extract(level, hi, lo);
      smoothed = L_add(smoothed, mulPair16(hi, lo, fac));
      const int16_t enhance[2] = {32767, add(shr(voiced, 3), 4096)};
      int16_t code2[kSub];
      VOKC_CALL(voksHighPassFilter_Direct_AMRWB_16s, enhance, code, code2, kSub, 0);
      gainCode = round_fx(L_shl(smoothed, qNew));
      for (int i = 0; i < kSub; ++i)
        exc2[i] = round_fx(L_shl(L_mac(L_shl(L_mult(code2[i], gainCode), 5), exc2[i], gainPit), 1));
      highBandGain(e, aq, exc2, qNew, in16k + k * kSub16k, &sp.hfGain);
    }
  }
  std::memcpy(e->exc, f.exc + kFrame12k8, sizeof e->exc);
  return vokOk;
}

}  // namespace

std::size_t amrwbEncoderSize() { return sizeof(AmrWbEncoder); }

VokResult amrwbEncoderInit(AmrWbEncoder* e, bool dtx) {
  if (!e) return vokErrNullPtr;
  return guarded([&]() -> VokResult {
    int size = 0;
    VOKC_CALL(voksVADGetSize_AMRWB_16s, &size);
    if (size > static_cast<int>(sizeof e->vad)) return vokErrInternal;
    std::memset(e, 0, sizeof *e);
    e->dtx = dtx;
    e->tx = TxSchedule{kTxSpeech, 3, 0};
    return resetAll(e);
  });
}

VokResult amrwbEncodeFrame(AmrWbEncoder* e, const int16_t* pcm, int mode, FrameParams* out) {
  if (!e || !pcm || !out) return vokErrNullPtr;
  if (mode < 0 || mode >= kModes) return vokErrRange;
  return guarded([&]() -> VokResult {
    bool homing = true;
    int16_t in[320];
    for (int i = 0; i < 320; ++i) {
      homing = homing && pcm[i] == kHomingSample;
      in[i] = static_cast<int16_t>(pcm[i] & 0xFFFC);  // 14-bit input
    }
    Frame f;
    frontEnd(e, in, f);
    // Voice activity on the new samples at the pre-emphasis scale 2.
    int16_t vadIn[kFrame12k8], vad = 0;
    std::memcpy(vadIn, f.speech + kNewAt, sizeof vadIn);
    scaleSignal(vadIn, kFrame12k8, 1 - f.qNew);
    VOKC_CALL(voksVAD_AMRWB_16s, vadIn, reinterpret_cast<VADState_AMRWB_16s*>(e->vad), &e->toneFlag, &vad);
    e->vadHistory = vad == 0 ? add(e->vadHistory, 1) : int16_t{0};
    const bool noiseFrame = e->dtx && dtxNoiseFrame(e->dtxState, vad);

    FrameParams p;
    p.mode = mode;
    p.vad = vad;
    int16_t olLags[2] = {0, 0};
    analyse(e, f, mode, olLags);
    if (noiseFrame)
      comfortNoise(e, f, mode, in, p);
    else
      speechFrame(e, f, mode, olLags, in, vad, p);
    std::memcpy(e->speech, f.speech + kFrame12k8, sizeof e->speech);
    std::memcpy(e->wsp, f.wsp + kFrame12k8 / 2, sizeof e->wsp);
    p.type = txType(e->tx, noiseFrame);
    *out = p;
    if (homing) resetAll(e);
    return vokOk;
  });
}

}  // namespace vokc::amrwb
