// Floating-point G.729A encoder and decoder assembled from voksc's 32f
// exports.
//
// The frame loop is the float G.729A coder's: every analysis and synthesis
// step the library offers in float (Levinson-Durbin, LP/LSP conversions, LSP
// quantiser and decoder, open-loop pitch, adaptive vector, target update,
// correlation matrix, codebook search, gain codebook search, synthesis
// filter, pre-emphasis, gain control, dot products) is a voksc call; what
// remains here is plain float glue: buffer shifts, the windowed
// autocorrelation, the pole-zero high-pass filters, residual filtering,
// delay coding and parity, gain prediction, taming bookkeeping and the
// harmonic post-filter's gain rule.  The parameters are those of G.729A, so
// the streams interoperate with the fixed-point coders (not bit-exact).
#include <cmath>
#include <cstdint>
#include <cstring>

#include "g729_common.h"
#include "g729_tables.h"
#include "g729float_tables.h"
#include "vokcodec.h"
#include "state_tag.h"
#include "checked_call.h"

namespace T = vokc::ftables;

namespace {

constexpr int kFrame = 80;
constexpr int kSubfr = 40;
constexpr int kOrder = 10;
constexpr int kMp1 = kOrder + 1;
constexpr int kPitMin = 20;
constexpr int kPitMax = 143;
constexpr int kInterpol = 11;
constexpr int kWindow = 240;
constexpr int kExcHist = kPitMax + kInterpol;  // 154 past excitation samples
constexpr int kImpulse = 22;                   // truncated response of the post-filter

constexpr float kSharpMax = 0.7945f;
constexpr float kSharpMin = 0.2f;
constexpr float kGainPitMax = 1.2f;
constexpr float kGpClip = 0.95f;   // pitch gain bound while taming
constexpr float kGpClip2 = 0.94f;  // the same for the gain preselection
constexpr float kThreshErr = 60000.0f;
constexpr float kMeanEner = 36.0f;
constexpr float kInvCoef = -0.032623f;
constexpr float kGamma = 0.75f;      // perceptual weighting
constexpr float kGammaNum = 0.55f;   // post-filter numerator
constexpr float kGammaDen = 0.70f;   // post-filter denominator
constexpr float kGammaP = 0.5f;      // harmonic post-filter
constexpr float kTiltMu = 0.8f;
constexpr float kAgcFactor = 0.9f;

// LSPs (cosines) of a reset coder.
constexpr float kLspReset[kOrder] = {0.9595f,  0.8413f,  0.6549f,  0.4154f,  0.1423f,
                                     -0.1423f, -0.4154f, -0.6549f, -0.8413f, -0.9595f};

// Second-order pole-zero section (the pre- and post-processing high-pass).
struct Biquad {
  float x1, x2, y1, y2;
};

void highPass(Biquad& f, const float* b, const float* a, float* x, int len) {
  for (int i = 0; i < len; ++i) {
    const float x0 = x[i];
    const float y0 = f.y1 * a[1] + f.y2 * a[2] + x0 * b[0] + f.x1 * b[1] + f.x2 * b[2];
    f.x2 = f.x1;
    f.x1 = x0;
    f.y2 = f.y1;
    f.y1 = y0;
    x[i] = y0;
  }
}

struct EncoderState {
  uint32_t tag;
  float oldSpeech[kWindow];
  float oldWsp[kFrame + kPitMax];
  float oldExc[kFrame + kExcHist];
  float memW0[kOrder];
  float memW[kOrder];
  float lspOld[kOrder];
  float lspOldQ[kOrder];
  float lsfMa[4 * kOrder];  // LSP quantiser MA memory, newest frame first
  float sharp;
  float pastQuaEn[4];  // gain predictor memory (dB), newest first
  float excErr[4];     // taming: accumulated adaptive-codebook error per 40 samples of delay
  Biquad highPass;
};

struct DecoderState {
  uint32_t tag;
  float oldExc[kFrame + kExcHist];
  float memSyn[kOrder];
  float lspOld[kOrder];
  float lsfMa[4 * kOrder];
  float prevLsf[kOrder];  // last good LSF vector, for erased frames
  int32_t prevMa;
  int32_t oldT0;
  float sharp;
  float gainPitch;
  float gainCode;
  float pastQuaEn[4];
  int16_t seed;
  // Post-filter.
  float synHist[kOrder];           // last synthesis samples of the previous frame
  float res2[kPitMax + kSubfr];    // residual history + subframe
  float memSynPst[kOrder];
  float memPre;
  float pastGain;
  Biquad highPass;
};

template <typename S>
S* aligned(void* mem) {
  return reinterpret_cast<S*>((reinterpret_cast<uintptr_t>(mem) + 15) & ~uintptr_t{15});
}

// a[i] gamma^i.
void weightAz(const float* a, float gamma, float* ap) {
  ap[0] = a[0];
  float fac = gamma;
  for (int i = 1; i <= kOrder; ++i) {
    ap[i] = a[i] * fac;
    fac *= gamma;
  }
}

// Quantised LP filters of both subframes: the mid-point LSPs, then the new ones.
void interpolateLpc(const float* lspOld, const float* lspNew, float* aq) {
  float lsp[kOrder];
  VOKC_CALL(voksInterpolateC_G729_32f, lspOld, 0.5f, lspNew, 0.5f, lsp, kOrder);
  VOKC_CALL(voksLSPToLPC_G729_32f, lsp, aq);
  VOKC_CALL(voksLSPToLPC_G729_32f, lspNew, aq + kMp1);
}

// 1/A(z) over len samples; the memory is updated only when asked.
void synth(const float* a, const float* x, float* y, int len, float* mem, bool update) {
  float m[kOrder];
  std::memcpy(m, mem, sizeof m);
  VOKC_CALL(voksSynthesisFilter_G729_32f, a, kOrder, x, y, len, m);
  if (update) std::memcpy(mem, m, sizeof m);
}

void synthZero(const float* a, const float* x, float* y, int len) {
  float m[kOrder] = {};
  VOKC_CALL(voksSynthesisFilter_G729_32f, a, kOrder, x, y, len, m);
}

// A(z) over one subframe; x has kOrder samples of history before it.
void residual(const float* a, const float* x, float* y) {
  for (int n = 0; n < kSubfr; ++n) {
    float s = x[n];
    for (int i = 1; i <= kOrder; ++i) s += a[i] * x[n - i];
    y[n] = s;
  }
}

float dot(const float* a, const float* b, int len) {
  float s = 0.0f;
  VOKC_CALL(voksDotProd_G729A_32f, a, b, len, &s);
  return s;
}

// Backward-filtered target: dn[i] = sum over j >= i of x[j] h[j - i].
void backwardFilter(const float* h, const float* x, float* dn) {
  for (int i = 0; i < kSubfr; ++i) dn[i] = dot(x + i, h, kSubfr - i);
}

// Pitch delay coding (1/3 resolution in 19 1/3..85, integer above; the
// second subframe relative to the first's integer delay).
int encodeLag(int t0, int frac, int& tMin, int& tMax, int subframe) {
  if (subframe == 0) {
    const int index = t0 <= 85 ? t0 * 3 - 58 + frac : t0 + 112;
    tMin = t0 - 5;
    if (tMin < kPitMin) tMin = kPitMin;
    tMax = tMin + 9;
    if (tMax > kPitMax) {
      tMax = kPitMax;
      tMin = tMax - 9;
    }
    return index;
  }
  return 3 * (t0 - tMin) + 2 + frac;
}

void decodeLag(int index, int subframe, int prevT0, int& t0, int& frac) {
  if (subframe == 0) {
    if (index < 197) {
      t0 = (index + 2) / 3 + 19;
      frac = index - t0 * 3 + 58;
    } else {
      t0 = index - 112;
      frac = 0;
    }
    return;
  }
  int tMin = prevT0 - 5;
  if (tMin < kPitMin) tMin = kPitMin;
  if (tMin + 9 > kPitMax) tMin = kPitMax - 9;
  const int i = (index + 2) / 3 - 1;
  t0 = i + tMin;
  frac = index - 2 - i * 3;
}

// Parity of the six most significant bits of the first delay index.
int pitchParity(int index) {
  int temp = index >> 1, sum = 1;
  for (int i = 0; i <= 5; ++i) {
    temp >>= 1;
    sum += temp & 1;
  }
  return sum & 1;
}

// Predicted code gain from the MA memory and the energy of the code vector.
float predictCodeGain(const float* pastQuaEn, const float* code) {
  float ener = 0.01f;
  for (int i = 0; i < kSubfr; ++i) ener += code[i] * code[i];
  float pred = kMeanEner - 10.0f * std::log10(ener / static_cast<float>(kSubfr));
  for (int i = 0; i < 4; ++i) pred += T::kGainPred[i] * pastQuaEn[i];
  return static_cast<float>(std::pow(10.0, static_cast<double>(pred) / 20.0));
}

void pushQuaEn(float* pastQuaEn, float value) {
  for (int i = 3; i > 0; --i) pastQuaEn[i] = pastQuaEn[i - 1];
  pastQuaEn[0] = value;
}

// ---- taming: accumulated adaptive-codebook error ----------------------

bool tamingNeeded(const float* excErr, int t0, int frac) {
  const int t1 = frac > 0 ? t0 + 1 : t0;
  int i = t1 - kSubfr - 10;
  if (i < 0) i = 0;
  const int zone1 = i / kSubfr;
  const int zone2 = (t1 + 10 - 2) / kSubfr;
  float maxLoc = -1.0f;
  for (int k = zone2; k >= zone1; --k)
    if (excErr[k] > maxLoc) maxLoc = excErr[k];
  return maxLoc > kThreshErr;
}

void updateExcErr(float* excErr, float gainPit, int t0) {
  float worst = -1.0f;
  const int n = t0 - kSubfr;
  if (n < 0) {
    float t = 1.0f + gainPit * excErr[0];
    if (t > worst) worst = t;
    t = 1.0f + gainPit * t;
    if (t > worst) worst = t;
  } else {
    for (int i = n / kSubfr; i <= (t0 - 1) / kSubfr; ++i) {
      const float t = 1.0f + gainPit * excErr[i];
      if (t > worst) worst = t;
    }
  }
  for (int i = 3; i >= 1; --i) excErr[i] = excErr[i - 1];
  excErr[0] = worst;
}

// ---- encoder steps -------------------------------------------------------

// Windowed autocorrelation, lag window and Levinson-Durbin.
void lpAnalysis(const float* window, float* a) {
  float y[kWindow];
  for (int i = 0; i < kWindow; ++i) y[i] = window[i] * T::kLpWindow[i];
  float r[kMp1];
  for (int k = 0; k <= kOrder; ++k) {
    float s = 0.0f;
    for (int j = 0; j < kWindow - k; ++j) s += y[j] * y[j + k];
    r[k] = s;
  }
  if (r[0] < 1.0f) r[0] = 1.0f;
  for (int k = 0; k <= kOrder; ++k) r[k] *= T::kLagWindow[k];
  float rc[kOrder], err = 0.0f;
  VOKC_CALL(voksLevinsonDurbin_G729_32f, r, kOrder, a, rc, &err);
}

// Closed-loop pitch: the integer delay maximising the correlation of the
// backward-filtered target with the past excitation, then the fractions
// -1/3 and +1/3 (first subframe only up to delay 84).  Leaves the chosen
// adaptive vector in exc.
int closedLoopPitch(float* exc, const float* xn, const float* h, int tMin, int tMax, int subframe, int& frac) {
  float dn[kSubfr];
  backwardFilter(h, xn, dn);
  float best = -3.402823466e38f;
  int t0 = tMin;
  for (int t = tMin; t <= tMax; ++t) {
    const float c = dot(dn, exc - t, kSubfr);
    if (c > best) {
      best = c;
      t0 = t;
    }
  }
  Vok32s delay[2] = {t0, 0};
  VOKC_CALL(voksDecodeAdaptiveVector_G729_32f_I, delay, exc);
  best = dot(dn, exc, kSubfr);
  frac = 0;
  if (subframe == 0 && t0 > 84) return t0;
  float keep[kSubfr];
  std::memcpy(keep, exc, sizeof keep);
  delay[1] = -1;
  VOKC_CALL(voksDecodeAdaptiveVector_G729_32f_I, delay, exc);
  float c = dot(dn, exc, kSubfr);
  if (c > best) {
    best = c;
    frac = -1;
    std::memcpy(keep, exc, sizeof keep);
  }
  delay[1] = 1;
  VOKC_CALL(voksDecodeAdaptiveVector_G729_32f_I, delay, exc);
  c = dot(dn, exc, kSubfr);
  if (c > best)
    frac = 1;
  else
    std::memcpy(exc, keep, sizeof keep);
  return t0;
}

// Gain preselection: first rows of the 4 x 8 candidate block around the
// unquantised optimum.
void preselectGains(const float* best, float gcode0, Vok32s* cand) {
  const float x = (best[1] - (T::kGainPreselCoef[0][0] * best[0] + T::kGainPreselCoef[1][1]) * gcode0) * kInvCoef;
  const float y =
      (T::kGainPreselCoef[1][0] * (-T::kGainPreselCoef[0][1] + best[0] * T::kGainPreselCoef[0][0]) * gcode0 -
       T::kGainPreselCoef[0][0] * best[1]) *
      kInvCoef;
  int c1 = 0, c2 = 0;
  if (gcode0 > 0.0f) {
    while (c1 < 4 && y > T::kGainThresh1[c1] * gcode0) ++c1;
    while (c2 < 8 && x > T::kGainThresh2[c2] * gcode0) ++c2;
  } else {
    while (c1 < 4 && y < T::kGainThresh1[c1] * gcode0) ++c1;
    while (c2 < 8 && x < T::kGainThresh2[c2] * gcode0) ++c2;
  }
  cand[0] = c1;
  cand[1] = c2;
}

}  // namespace

extern "C" {

VokResult vokcG729FloatEncoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(EncoderState) + 16);
  return vokOk;
}

VokResult vokcG729FloatEncoderInit(void* mem) {
  if (!mem) return vokErrNullPtr;
  EncoderState* s = aligned<EncoderState>(mem);
  std::memset(s, 0, sizeof *s);
  s->tag = vokc::kTagG729FloatEncoder;
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  std::memcpy(s->lspOldQ, kLspReset, sizeof kLspReset);
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i < kOrder; ++i) s->lsfMa[k * kOrder + i] = static_cast<float>(3.141592654 * (i + 1) / 11.0);
  s->sharp = kSharpMin;
  for (auto& e : s->pastQuaEn) e = -14.0f;
  for (auto& e : s->excErr) e = 1.0f;
  return vokOk;
}

static VokResult g729FloatEncode(void* mem, const Vok16s* pcm, Vok16s* prm) {
  if (!mem || !pcm || !prm) return vokErrNullPtr;
  EncoderState* s = aligned<EncoderState>(mem);
  if (s->tag != vokc::kTagG729FloatEncoder) return vokErrContextMatch;
  float* newSpeech = s->oldSpeech + kWindow - kFrame;
  float* speech = newSpeech - 40;
  for (int i = 0; i < kFrame; ++i) newSpeech[i] = static_cast<float>(pcm[i]);
  highPass(s->highPass, T::kHighPass140B, T::kHighPass140A, newSpeech, kFrame);
  float* wsp = s->oldWsp + kPitMax;
  float* exc = s->oldExc + kExcHist;
  Vok16s* ana = prm;

  // LP analysis, LSP quantisation, interpolation and weighting.
  float a[kMp1];
  lpAnalysis(s->oldSpeech, a);
  float lspNew[kOrder], lspNewQ[kOrder], resid[kOrder];
  VOKC_CALL(voksLPCToLSP_G729A_32f, a, s->lspOld, lspNew);
  VOKC_CALL(voksLSPQuant_G729E_32f, lspNew, s->lsfMa, resid, lspNewQ, ana);
  ana += 2;
  float aq[2 * kMp1], ap[2 * kMp1];
  interpolateLpc(s->lspOldQ, lspNewQ, aq);
  weightAz(aq, kGamma, ap);
  weightAz(aq + kMp1, kGamma, ap + kMp1);
  std::memcpy(s->lspOld, lspNew, sizeof lspNew);
  std::memcpy(s->lspOldQ, lspNewQ, sizeof lspNewQ);

  // Weighted speech (residual through 1/A(z/g)(1 - 0.7 z^-1)) and open loop.
  residual(aq, speech, exc);
  residual(aq + kMp1, speech + kSubfr, exc + kSubfr);
  for (int sf = 0; sf < 2; ++sf) {
    const float* p = ap + sf * kMp1;
    float ap1[kMp1];
    ap1[0] = 1.0f;
    for (int i = 1; i <= kOrder; ++i) ap1[i] = p[i] - 0.7f * p[i - 1];
    synth(ap1, exc + sf * kSubfr, wsp + sf * kSubfr, kSubfr, s->memW, true);
  }
  Vok32s tOp = 0;
  VOKC_CALL(voksOpenLoopPitchSearch_G729A_32f, wsp, &tOp);
  int tMin = tOp - 3;
  if (tMin < kPitMin) tMin = kPitMin;
  int tMax = tMin + 6;
  if (tMax > kPitMax) {
    tMax = kPitMax;
    tMin = tMax - 6;
  }

  for (int sf = 0; sf < 2; ++sf) {
    const int off = sf * kSubfr;
    const float* aps = ap + sf * kMp1;
    float h1[kSubfr] = {1.0f};
    synthZero(aps, h1, h1, kSubfr);
    float xn[kSubfr];
    synth(aps, exc + off, xn, kSubfr, s->memW0, false);

    int frac = 0;
    const int t0 = closedLoopPitch(exc + off, xn, h1, tMin, tMax, sf, frac);
    const int index = encodeLag(t0, frac, tMin, tMax, sf);
    *ana++ = static_cast<Vok16s>(index);
    if (sf == 0) *ana++ = static_cast<Vok16s>(pitchParity(index));

    // Pitch gain (0..1.2), bounded while taming; codebook target.
    float y1[kSubfr];
    synthZero(aps, exc + off, y1, kSubfr);
    float terms[5];
    terms[0] = 0.01f + dot(y1, y1, kSubfr);
    const float xy = dot(xn, y1, kSubfr);
    terms[1] = -2.0f * xy + 0.01f;
    float gainPit = xy / terms[0];
    if (gainPit < 0.0f) gainPit = 0.0f;
    if (gainPit > kGainPitMax) gainPit = kGainPitMax;
    const bool taming = tamingNeeded(s->excErr, t0, frac);
    if (taming && gainPit > kGpClip) gainPit = kGpClip;
    float xn2[kSubfr];
    VOKC_CALL(voksAdaptiveCodebookContribution_G729_32f, gainPit, y1, xn, xn2);

    // Fixed codebook with the pitch sharpening folded into h.
    if (t0 < kSubfr)
      for (int i = t0; i < kSubfr; ++i) h1[i] += s->sharp * h1[i - t0];
    float rr[616], dn[kSubfr], code[kSubfr];
    VOKC_CALL(voksToeplizMatrix_G729_32f, h1, rr);
    backwardFilter(h1, xn2, dn);
    Vok32s cb[2];
    VOKC_CALL(voksFixedCodebookSearch_G729A_32f, dn, rr, code, cb);
    *ana++ = static_cast<Vok16s>(cb[0]);
    *ana++ = static_cast<Vok16s>(cb[1]);
    float y2[kSubfr];
    for (int n = 0; n < kSubfr; ++n) {
      float v = 0.0f;
      for (int k = 0; k <= n; ++k) v += code[k] * h1[n - k];
      y2[n] = v;
    }
    if (t0 < kSubfr)
      for (int i = t0; i < kSubfr; ++i) code[i] += s->sharp * code[i - t0];

    // Gain quantisation.
    terms[2] = 0.01f + dot(y2, y2, kSubfr);
    terms[3] = -2.0f * (0.01f + dot(xn, y2, kSubfr));
    terms[4] = 2.0f * (0.01f + dot(y1, y2, kSubfr));
    const float gcode0 = predictCodeGain(s->pastQuaEn, code);
    const float inv = -1.0f / (4.0f * terms[0] * terms[2] - terms[4] * terms[4]);
    float best[2] = {(2.0f * terms[2] * terms[1] - terms[3] * terms[4]) * inv,
                     (2.0f * terms[0] * terms[3] - terms[1] * terms[4]) * inv};
    if (taming && best[0] > kGpClip2) best[0] = kGpClip2;
    Vok32s cand[2], rows[2] = {0, 0};
    preselectGains(best, gcode0, cand);
    VOKC_CALL(voksGainCodebookSearch_G729_32f, terms, gcode0, cand, rows, taming ? 1 : 0);
    gainPit = T::kGainStage1[rows[0]][0] + T::kGainStage2[rows[1]][0];
    const float factor = T::kGainStage1[rows[0]][1] + T::kGainStage2[rows[1]][1];
    const float gainCode = factor * gcode0;
    pushQuaEn(s->pastQuaEn, 20.0f * std::log10(factor));
    *ana++ = static_cast<Vok16s>(T::kGainMap1[rows[0]] * 16 + T::kGainMap2[rows[1]]);

    s->sharp = gainPit;
    if (s->sharp > kSharpMax) s->sharp = kSharpMax;
    if (s->sharp < kSharpMin) s->sharp = kSharpMin;
    for (int i = 0; i < kSubfr; ++i) exc[off + i] = gainPit * exc[off + i] + gainCode * code[i];
    updateExcErr(s->excErr, gainPit, t0);
    for (int i = kSubfr - kOrder, j = 0; i < kSubfr; ++i, ++j)
      s->memW0[j] = xn[i] - gainPit * y1[i] - gainCode * y2[i];
  }

  std::memmove(s->oldSpeech, s->oldSpeech + kFrame, (kWindow - kFrame) * sizeof(float));
  std::memmove(s->oldWsp, s->oldWsp + kFrame, kPitMax * sizeof(float));
  std::memmove(s->oldExc, s->oldExc + kFrame, kExcHist * sizeof(float));
  return vokOk;
}

VokResult vokcG729FloatEncode(void* mem, const Vok16s* pcm, Vok16s* prm) {
  return vokc::guarded([&] { return g729FloatEncode(mem, pcm, prm); });
}

VokResult vokcG729FloatDecoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(DecoderState) + 16);
  return vokOk;
}

VokResult vokcG729FloatDecoderInit(void* mem) {
  if (!mem) return vokErrNullPtr;
  DecoderState* s = aligned<DecoderState>(mem);
  std::memset(s, 0, sizeof *s);
  s->tag = vokc::kTagG729FloatDecoder;
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  for (int i = 0; i < kOrder; ++i) {
    const float w = static_cast<float>(3.141592654 * (i + 1) / 11.0);
    for (int k = 0; k < 4; ++k) s->lsfMa[k * kOrder + i] = w;
    s->prevLsf[i] = w;
  }
  s->sharp = kSharpMin;
  s->oldT0 = 60;
  s->seed = 21845;
  for (auto& e : s->pastQuaEn) e = -14.0f;
  s->pastGain = 1.0f;
  return vokOk;
}

}  // extern "C"

namespace {

int16_t nextRandom(int16_t& seed) {
  seed = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(seed) * 31821u + 13849u));
  return seed;
}

void decodeCode(int signs, int positions, float* code) {
  int pos[4];
  pos[0] = (positions & 7) * 5;
  pos[1] = ((positions >> 3) & 7) * 5 + 1;
  pos[2] = ((positions >> 6) & 7) * 5 + 2;
  pos[3] = ((positions >> 10) & 7) * 5 + 3 + ((positions >> 9) & 1);
  for (int i = 0; i < kSubfr; ++i) code[i] = 0.0f;
  for (int j = 0; j < 4; ++j) code[pos[j]] = ((signs >> j) & 1) ? 1.0f : -1.0f;
}

// Harmonic post-filter on the residual: the best integer delay in
// tMin..tMax, switched off below 3 dB of prediction gain.
void pitchPostFilter(const float* res, int tMin, int tMax, float* out) {
  float corMax = 0.0f;
  int t0 = tMin;
  VOKC_CALL(voksAutoCorrLagMax_32f, res, kSubfr, tMin, tMax, &corMax, &t0);
  float ener = 0.5f, ener0 = 0.5f;
  for (int i = 0; i < kSubfr; ++i) {
    ener += res[i - t0] * res[i - t0];
    ener0 += res[i] * res[i];
  }
  if (corMax < 0.0f) corMax = 0.0f;
  if (corMax * corMax < ener * ener0 * 0.5f) {
    std::memcpy(out, res, kSubfr * sizeof(float));
    return;
  }
  float g0, gain;
  if (corMax > ener) {
    g0 = 1.0f / (1.0f + kGammaP);
    gain = kGammaP / (1.0f + kGammaP);
  } else {
    corMax *= kGammaP;
    gain = corMax / (corMax + ener);
    g0 = 1.0f - gain;
  }
  for (int i = 0; i < kSubfr; ++i) out[i] = g0 * res[i] + gain * res[i - t0];
}

// Post-filter of one frame: harmonic filter on the residual of A(z/0.55),
// tilt compensation, 1/A(z/0.7), gain control.  syn has kOrder samples of
// history before it; the output replaces it.
void postFilter(DecoderState* s, float* syn, const float* az, const int* t2, float* out) {
  float* res = s->res2 + kPitMax;
  for (int sf = 0; sf < 2; ++sf) {
    const float* a = az + sf * kMp1;
    int tMin = t2[sf] - 3, tMax = tMin + 6;
    if (tMax > kPitMax) {
      tMax = kPitMax;
      tMin = tMax - 6;
    }
    float num[kMp1], den[kMp1];
    weightAz(a, kGammaNum, num);
    weightAz(a, kGammaDen, den);
    residual(num, syn + sf * kSubfr, res);
    float pst[kSubfr];
    pitchPostFilter(res, tMin, tMax, pst);

    // Tilt from the first correlation of the truncated response.
    float h[kImpulse] = {};
    std::memcpy(h, num, sizeof num);
    synthZero(den, h, h, kImpulse);
    float r0 = 0.0f, r1 = 0.0f;
    VOKC_CALL(voksDotProd_G729A_32f, h, h, kImpulse, &r0);
    VOKC_CALL(voksDotProd_G729A_32f, h, h + 1, kImpulse - 1, &r1);
    const float mu = r1 <= 0.0f ? 0.0f : r1 * kTiltMu / r0;
    VOKC_CALL(voksPreemphasize_32f_I, mu, pst, kSubfr, &s->memPre);

    float* o = out + sf * kSubfr;
    synth(den, pst, o, kSubfr, s->memSynPst, true);
    // Gain control on the energies: g0 = (1 - 0.9) sqrt(Ein / Eout), passed
    // through the magnitude-sum form of the export.
    const float* in = syn + sf * kSubfr;
    float eOut = 0.0f, eIn = 0.0f, absOut = 0.0f;
    for (int i = 0; i < kSubfr; ++i) {
      eOut += o[i] * o[i];
      eIn += in[i] * in[i];
      absOut += std::fabs(o[i]);
    }
    if (eOut == 0.0f) {
      s->pastGain = 0.0f;
    } else {
      const float gainIn = eIn == 0.0f ? 0.0f : std::sqrt(eIn / eOut) * absOut;
      VOKC_CALL(voksGainControl_G729_32f_I, gainIn, kAgcFactor, o, &s->pastGain);
    }
    std::memmove(s->res2, s->res2 + kSubfr, kPitMax * sizeof(float));
  }
}

}  // namespace

extern "C" {

static VokResult g729FloatDecode(void* mem, const Vok16s* prmIn, int erased, Vok16s* pcm) {
  if (!mem || !prmIn || !pcm) return vokErrNullPtr;
  DecoderState* s = aligned<DecoderState>(mem);
  if (s->tag != vokc::kTagG729FloatDecoder) return vokErrContextMatch;
  int16_t prm[11];
  vokc::g729::maskParams(prmIn, vokc::tables::kParamBits, 11, prm);
  const bool bfi = erased != 0;
  float* exc = s->oldExc + kExcHist;

  // LSPs: decoded, or on an erased frame the last good LSFs with the
  // predictor memory aged as the last good predictor would have left it.
  float lsf[kOrder], lspNew[kOrder];
  if (!bfi) {
    const Vok16s idx[4] = {static_cast<Vok16s>((prm[0] >> 7) & 1), static_cast<Vok16s>(prm[0] & 127),
                           static_cast<Vok16s>((prm[1] >> 5) & 31), static_cast<Vok16s>(prm[1] & 31)};
    VOKC_CALL(voksLSFDecode_G729_32f, idx, s->lsfMa, lsf);
    std::memcpy(s->prevLsf, lsf, sizeof lsf);
    s->prevMa = idx[0];
  } else {
    std::memcpy(lsf, s->prevLsf, sizeof lsf);
    VOKC_CALL(voksLSFDecodeErased_G729_32f, s->prevMa, s->lsfMa, s->prevLsf);
  }
  for (int i = 0; i < kOrder; ++i) lspNew[i] = std::cos(lsf[i]);
  float az[2 * kMp1];
  interpolateLpc(s->lspOld, lspNew, az);
  std::memcpy(s->lspOld, lspNew, sizeof lspNew);

  float synBuf[kOrder + kFrame];
  std::memcpy(synBuf, s->synHist, sizeof s->synHist);
  float* syn = synBuf + kOrder;
  int t2[2];
  int t0First = 0;
  const Vok16s* p = prm + 2;
  for (int sf = 0; sf < 2; ++sf) {
    const int off = sf * kSubfr;
    const int index = *p++;
    bool badPitch = bfi;
    if (sf == 0) {
      const int parity = *p++;
      badPitch = bfi || ((pitchParity(index) ^ parity) & 1) != 0;
    }
    int t0 = 0, frac = 0;
    if (!badPitch) {
      decodeLag(index, sf, t0First, t0, frac);
      s->oldT0 = t0;
    } else {
      t0 = s->oldT0;
      frac = 0;
      if (++s->oldT0 > kPitMax) s->oldT0 = kPitMax;
    }
    if (sf == 0) t0First = t0;
    t2[sf] = t0;
    const Vok32s delay[2] = {t0, frac};
    VOKC_CALL(voksDecodeAdaptiveVector_G729_32f_I, delay, exc + off);

    int positions = p[0], signs = p[1];
    if (bfi) {
      positions = nextRandom(s->seed) & 0x1FFF;
      signs = nextRandom(s->seed) & 0x000F;
    }
    p += 2;
    float code[kSubfr];
    decodeCode(signs, positions, code);
    for (int i = t0; i < kSubfr; ++i) code[i] += s->sharp * code[i - t0];

    const int gainIndex = *p++;
    if (bfi) {
      s->gainPitch *= 0.9f;
      if (s->gainPitch > 0.9f) s->gainPitch = 0.9f;
      s->gainCode *= 0.98f;
      float mean = 0.0f;
      for (float e : s->pastQuaEn) mean += e;
      mean = mean * 0.25f - 4.0f;
      if (mean < -14.0f) mean = -14.0f;
      pushQuaEn(s->pastQuaEn, mean);
    } else {
      const int r1 = T::kGainInvMap1[(gainIndex >> 4) & 7], r2 = T::kGainInvMap2[gainIndex & 15];
      s->gainPitch = T::kGainStage1[r1][0] + T::kGainStage2[r2][0];
      const float factor = T::kGainStage1[r1][1] + T::kGainStage2[r2][1];
      s->gainCode = factor * predictCodeGain(s->pastQuaEn, code);
      pushQuaEn(s->pastQuaEn, 20.0f * std::log10(factor));
    }
    s->sharp = s->gainPitch;
    if (s->sharp > kSharpMax) s->sharp = kSharpMax;
    if (s->sharp < kSharpMin) s->sharp = kSharpMin;

    for (int i = 0; i < kSubfr; ++i) exc[off + i] = s->gainPitch * exc[off + i] + s->gainCode * code[i];
    synth(az + sf * kMp1, exc + off, syn + off, kSubfr, s->memSyn, true);
  }
  std::memmove(s->oldExc, s->oldExc + kFrame, kExcHist * sizeof(float));

  float out[kFrame];
  postFilter(s, syn, az, t2, out);
  std::memcpy(s->synHist, syn + kFrame - kOrder, sizeof s->synHist);
  highPass(s->highPass, T::kHighPass100B, T::kHighPass100A, out, kFrame);
  for (int i = 0; i < kFrame; ++i) {
    float v = out[i] >= 0.0f ? out[i] + 0.5f : out[i] - 0.5f;
    if (v > 32767.0f) v = 32767.0f;
    if (v < -32768.0f) v = -32768.0f;
    pcm[i] = static_cast<Vok16s>(v);
  }
  return vokOk;
}

VokResult vokcG729FloatDecode(void* mem, const Vok16s* prmIn, int erased, Vok16s* pcm) {
  return vokc::guarded([&] { return g729FloatDecode(mem, prmIn, erased, pcm); });
}

}  // extern "C"
