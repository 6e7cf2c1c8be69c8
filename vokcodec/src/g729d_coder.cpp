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

#include "basic_op.h"
#include "g729_tables.h"
#include "vokcodec.h"

using namespace voksc::op;

namespace {

constexpr int kFrame = 80;
constexpr int kSubfr = 40;
constexpr int kOrder = 10;
constexpr int kMp1 = kOrder + 1;
constexpr int kPitMin = 20;
constexpr int kPitMax = 143;
constexpr int kWindow = 240;
constexpr int kExcHist = kPitMax + 11;  // past excitation read by the interpolation
constexpr int16_t kSharpMax = 13017;
constexpr int16_t kSharpMin = 3277;
constexpr int16_t kGpClip = 15564;
constexpr int32_t kThreshErr = 983040000;

constexpr int16_t kLspReset[kOrder] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};

// 6.4 kbit/s gain codebook rows -> transmitted 3-bit indices.
constexpr int16_t kGainMap1Low[8] = {0, 4, 6, 5, 2, 1, 7, 3};
constexpr int16_t kGainMap2Low[8] = {0, 4, 3, 7, 5, 1, 6, 2};
// 6.4 kbit/s frame: LSP (8, 10), then per subframe delay (8 / 4), pulse
// positions (9), signs (2), gains (6).
constexpr int16_t kParamBitsLow[10] = {8, 10, 8, 9, 2, 6, 4, 9, 2, 6};
// Pulse positions of the two tracks and their Gray-coded indices.
constexpr int16_t kTrack0[16] = {1, 3, 6, 8, 11, 13, 16, 18, 21, 23, 26, 28, 31, 33, 36, 38};
constexpr int16_t kTrack1[32] = {0,  2,  4,  5,  7,  9,  10, 12, 14, 15, 17, 19, 20, 22, 24, 25,
                                 27, 29, 30, 32, 34, 35, 37, 39, 1,  6,  11, 16, 21, 26, 31, 36};
constexpr int16_t kGrayDecode[32] = {0,  1,  3,  2,  7,  6,  4,  5,  15, 14, 12, 13, 8,  9,  11, 10,
                                     31, 30, 28, 29, 24, 25, 27, 26, 16, 17, 19, 18, 23, 22, 20, 21};

struct EncoderState {
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
  int16_t oldA[kMp1];         // last stable LP filter
  int16_t oldRc[2];
  int16_t sharp;
  int16_t pastQuaEn[4];  // gain predictor memory, Q10, newest first
  int16_t smooth;        // perceptual weighting: smoothing flag
  int16_t larOld[2];     // perceptual weighting: previous log-area ratios
  int32_t excErr[4];     // taming: accumulated adaptive-codebook error
  alignas(16) uint8_t highPass[64];
};

struct DecoderState {
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

EncoderState* encState(void* mem) {
  return reinterpret_cast<EncoderState*>((reinterpret_cast<uintptr_t>(mem) + 15) & ~uintptr_t{15});
}
DecoderState* decState(void* mem) {
  return reinterpret_cast<DecoderState*>((reinterpret_cast<uintptr_t>(mem) + 15) & ~uintptr_t{15});
}

bool validRate(int rate) { return rate == vokcG729D6k4 || rate == vokcG729D8k; }

// a[i] * gamma^i, Q12.
void weightAz(const int16_t* a, int16_t gamma, int16_t* ap) {
  ap[0] = a[0];
  int16_t fac = gamma;
  for (int i = 1; i <= kOrder; ++i) {
    ap[i] = round_fx(L_mult(a[i], fac));
    fac = round_fx(L_mult(fac, gamma));
  }
}

// 1/A(z) over one subframe from a copy of `mem`; `update` keeps the new memory.
VokResult synth(const int16_t* a, const int16_t* x, int16_t* y, int16_t* mem, bool update) {
  int16_t m[kOrder];
  std::memcpy(m, mem, sizeof m);
  VokResult st = voksSynthesisFilter_G729E_16s(a, kOrder, x, y, kSubfr, m);
  if (update) std::memcpy(mem, m, sizeof m);
  return st;
}

void synthFromZero(const int16_t* a, int16_t* x) {
  int16_t m[kOrder] = {};
  voksSynthesisFilter_G729E_16s_I(a, kOrder, x, kSubfr, m);
}

void clampSharp(int16_t& sharp, int16_t gainPit) {
  sharp = gainPit > kSharpMax ? kSharpMax : (gainPit < kSharpMin ? kSharpMin : gainPit);
}

// Delay range of the second subframe around the first subframe's delay.
void secondRange(int16_t t0, int16_t& tMin, int16_t& tMax) {
  tMin = static_cast<int16_t>(t0 - 5 < kPitMin ? kPitMin : t0 - 5);
  tMax = static_cast<int16_t>(tMin + 9);
  if (tMax > kPitMax) {
    tMax = kPitMax;
    tMin = kPitMax - 9;
  }
}

int16_t pitchParity(int16_t index) {
  int16_t sum = 1;
  for (int i = 2; i <= 7; ++i) sum = static_cast<int16_t>(sum + ((index >> i) & 1));
  return static_cast<int16_t>(sum & 1);
}

int32_t mpy32x16(int32_t x, int16_t n) {
  int16_t hi, lo;
  L_Extract(x, hi, lo);
  return L_mac(L_mult(hi, n), mult(lo, n), 1);
}

// ---- encoder --------------------------------------------------------------

// 1 when the adaptive-codebook error accumulated over the delay's zones
// calls for limiting the pitch gain.
int16_t tamingFlag(const int32_t* excErr, int16_t t0, int16_t frac) {
  const int t1 = frac > 0 ? t0 + 1 : t0;
  const int16_t first = vokc::tables::kTamingZone[t1 - 50 < 0 ? 0 : t1 - 50];
  const int16_t last = vokc::tables::kTamingZone[t1 + 8];
  int32_t worst = -1;
  for (int k = last; k >= first; --k)
    if (excErr[k] > worst) worst = excErr[k];
  return worst > kThreshErr ? 1 : 0;
}

void updateTaming(int32_t* excErr, int16_t gainPit, int16_t t0) {
  auto grow = [gainPit](int32_t e) { return L_add(0x4000, L_shl(mpy32x16(e, gainPit), 1)); };
  int32_t worst = -1;
  if (t0 < kSubfr) {
    int32_t e = grow(excErr[0]);
    worst = e > worst ? e : worst;
    e = grow(e);
    worst = e > worst ? e : worst;
  } else {
    for (int k = vokc::tables::kTamingZone[t0 - kSubfr]; k <= vokc::tables::kTamingZone[t0 - 1]; ++k) {
      int32_t e = grow(excErr[k]);
      if (e > worst) worst = e;
    }
  }
  for (int k = 3; k > 0; --k) excErr[k] = excErr[k - 1];
  excErr[0] = worst;
}

// Log-area ratio of a reflection coefficient (Q15 in), piecewise linear.
int16_t logAreaRatio(int16_t rc) {
  int16_t cur = shr(abs_s(rc), 4);
  if (cur > 1299) {
    int16_t slope;
    int32_t offset;
    if (cur <= 1815) {
      slope = 4567;
      offset = 3271557;
    } else if (cur <= 1944) {
      slope = 11776;
      offset = 16357786;
    } else {
      slope = 27443;
      offset = 46808433;
    }
    cur = extract_l(L_shr(L_sub(L_mult(shr(cur, 1), slope), offset), 11));
  }
  return rc < 0 ? negate(cur) : cur;
}

// Adaptive weighting factors of both subframes: flat (0.94, 0.6) while the
// spectrum is smooth, else gamma2 from the narrowest LSF spacing.
void weightingFactors(EncoderState* s, const int16_t* rc, const int16_t* lsfInt, const int16_t* lsfNew,
                      int16_t* gamma1, int16_t* gamma2) {
  int16_t larNew[2] = {logAreaRatio(rc[0]), logAreaRatio(rc[1])};
  int16_t lar[2][2] = {{shr(add(larNew[0], s->larOld[0]), 1), shr(add(larNew[1], s->larOld[1]), 1)},
                       {larNew[0], larNew[1]}};
  s->larOld[0] = larNew[0];
  s->larOld[1] = larNew[1];
  for (int k = 0; k < 2; ++k) {
    if (s->smooth != 0) {
      if (lar[k][0] < -3562 && lar[k][1] > 1336) s->smooth = 0;
    } else if (lar[k][0] > -3116 || lar[k][1] < 890) {
      s->smooth = 1;
    }
    if (s->smooth != 0) {
      gamma1[k] = 30802;
      gamma2[k] = 19661;
      continue;
    }
    const int16_t* lsf = k == 0 ? lsfInt : lsfNew;
    int16_t dMin = 32767;
    for (int i = 0; i < kOrder - 1; ++i) {
      int16_t d = sub(shl(lsf[i + 1], 1), shl(lsf[i], 1));
      if (d < dMin) dMin = d;
    }
    int16_t g = shl(sub(1024, mult(19302, dMin)), 5);
    gamma1[k] = 32113;
    gamma2[k] = g > 22938 ? 22938 : (g < 13107 ? 13107 : g);
  }
}

// Windowed autocorrelation, lag window and Levinson-Durbin; an unstable
// result keeps the previous filter and reflection coefficients.
void lpAnalysis(EncoderState* s, int16_t* a, int16_t* rc) {
  int32_t r[13];
  int16_t exponent = 0;
  voksAutoCorr_G729B(s->oldSpeech, &exponent, r);
  voksLagWindow_G729_32s_I(r + 1, kOrder);
  int16_t rcAll[kOrder];
  int16_t err = 0;
  if (voksLevinsonDurbin_G729_32s16s(r, kOrder, a, rcAll, &err) == vokOk) {
    std::memcpy(s->oldA, a, sizeof s->oldA);
    s->oldRc[0] = rcAll[0];
    s->oldRc[1] = rcAll[1];
  } else {
    std::memcpy(a, s->oldA, sizeof s->oldA);
  }
  rc[0] = s->oldRc[0];
  rc[1] = s->oldRc[1];
}

// Transmitted delay index of a subframe.
int16_t encodeDelay(int16_t t0, int16_t frac, int16_t tMin, int subframe, bool low) {
  if (subframe == 0) return t0 <= 85 ? static_cast<int16_t>(3 * t0 - 58 + frac) : static_cast<int16_t>(t0 + 112);
  const int16_t i = static_cast<int16_t>(t0 - tMin);
  if (!low) return static_cast<int16_t>(3 * i + 2 + frac);
  // 6.4 kbit/s: 1/3 resolution only for tMin + 3 .. tMin + 6.
  if (i < 3) return i;
  if (i < 7) return static_cast<int16_t>(3 * (i - 3) + frac + 3);
  return static_cast<int16_t>(i + 6);
}

// Filtered fixed vector of the 8 kbit/s codebook: h added at each pulse in
// pulse order with its sign.
void filteredCode8k(const int16_t* h, int16_t posIndex, int16_t signs, int16_t* y) {
  const int pos[4] = {(posIndex & 7) * 5, ((posIndex >> 3) & 7) * 5 + 1, ((posIndex >> 6) & 7) * 5 + 2,
                      ((posIndex >> 10) & 7) * 5 + 3 + ((posIndex >> 9) & 1)};
  std::memset(y, 0, kSubfr * sizeof(int16_t));
  for (int k = 0; k < 4; ++k) {
    const bool positive = (signs >> k) & 1;
    for (int i = pos[k]; i < kSubfr; ++i) {
      const int16_t v = h[i - pos[k]];
      y[i] = k == 0 ? (positive ? v : negate(v)) : (positive ? add(y[i], v) : sub(y[i], v));
    }
  }
}

void sharpen(int16_t* v, int16_t t0, int16_t sharpQ15) {
  for (int i = t0; i < kSubfr; ++i) v[i] = add(v[i], mult(v[i - t0], sharpQ15));
}

void encodeFrame(EncoderState* s, const int16_t* pcm, bool low, int16_t* prm) {
  int16_t* newSpeech = s->oldSpeech + kWindow - kFrame;
  const int16_t* speech = newSpeech - 40;
  std::memcpy(newSpeech, pcm, kFrame * sizeof(int16_t));
  voksHighPassFilter_G729_16s_ISfs(newSpeech, kFrame, 12, s->highPass);
  int16_t* wsp = s->oldWsp + kPitMax;
  int16_t* exc = s->oldExc + kExcHist;
  int16_t* ana = prm;

  // LP analysis and LSP quantisation.
  int16_t a[kMp1], rc[2];
  lpAnalysis(s, a, rc);
  int16_t lspNew[kOrder], lspNewQ[kOrder];
  voksLPCToLSP_G729_16s(a, s->lspOld, lspNew);
  voksLSPQuant_G729_16s(lspNew, s->lsfMa, lspNewQ, ana);
  ana += 2;

  // Unquantised filters (interpolated, then the analysis result) for the
  // weighting, quantised ones for synthesis.
  int16_t lspInt[kOrder];
  int16_t at[2 * kMp1], aq[2 * kMp1];
  voksInterpolate_G729_16s(s->lspOld, lspNew, lspInt, kOrder);
  voksLSPToLPC_G729_16s(lspInt, at);
  std::memcpy(at + kMp1, a, sizeof a);
  int16_t lspIntQ[kOrder];
  voksInterpolate_G729_16s(s->lspOldQ, lspNewQ, lspIntQ, kOrder);
  voksLSPToLPC_G729_16s(lspIntQ, aq);
  voksLSPToLPC_G729_16s(lspNewQ, aq + kMp1);
  int16_t lsfInt[kOrder], lsfNew[kOrder];
  voksLSPToLSF_Norm_G729_16s(lspInt, lsfInt);
  voksLSPToLSF_Norm_G729_16s(lspNew, lsfNew);
  std::memcpy(s->lspOld, lspNew, sizeof lspNew);
  std::memcpy(s->lspOldQ, lspNewQ, sizeof lspNewQ);
  int16_t gamma1[2], gamma2[2];
  weightingFactors(s, rc, lsfInt, lsfNew, gamma1, gamma2);

  // Weighted speech and open-loop delay.
  int16_t ap1[2][kMp1], ap2[2][kMp1];
  for (int sf = 0; sf < 2; ++sf) {
    weightAz(at + sf * kMp1, gamma1[sf], ap1[sf]);
    weightAz(at + sf * kMp1, gamma2[sf], ap2[sf]);
    int16_t r[kSubfr];
    voksResidualFilter_G729_16s(speech + sf * kSubfr, ap1[sf], r);
    synth(ap2[sf], r, wsp + sf * kSubfr, s->memW, true);
  }
  int16_t centre = 0;
  voksOpenLoopPitchSearch_G729_16s(wsp, &centre);

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
    voksResidualFilter_G729_16s(speech + off, aqs, exc + off);
    int16_t err[kSubfr], xr[kOrder + kSubfr], xn[kSubfr];
    synth(aqs, exc + off, err, s->memErr, false);
    std::memcpy(xr, s->memErr, sizeof s->memErr);
    std::memcpy(xr + kOrder, err, sizeof err);
    int16_t xw[kSubfr];
    voksResidualFilter_G729_16s(xr + kOrder, ap1[sf], xw);
    synth(ap2[sf], xw, xn, s->memW0, false);

    // Closed-loop delay; the adaptive vector goes into the excitation.
    int16_t* excBuf = exc + off - kExcHist;
    int16_t delay[2];
    if (low) {
      voksAdaptiveCodebookSearch_G729D_16s(centre, xn, h1, excBuf, sf, delay);
      voksDecodeAdaptiveVector_G729_16s_I(delay, excBuf);
    } else {
      int16_t vec[kSubfr];
      voksAdaptiveCodebookSearch_G729_16s(centre, xn, h1, excBuf, delay, vec, sf);
    }
    const int16_t t0 = delay[0], frac = delay[1];
    if (sf == 0) secondRange(t0, tMin, tMax);
    const int16_t index = encodeDelay(t0, frac, tMin, sf, low);
    *ana++ = index;
    if (sf == 0 && !low) *ana++ = pitchParity(index);
    centre = t0;

    int16_t y1[kSubfr];
    int16_t gainPit = 0;
    voksAdaptiveCodebookGain_G729_16s(xn, h1, exc + off, y1, &gainPit);
    const int16_t taming = tamingFlag(s->excErr, t0, frac);
    if (taming && gainPit > kGpClip) gainPit = kGpClip;
    int16_t xn2[kSubfr];
    voksAdaptiveCodebookContribution_G729_16s(gainPit, y1, xn, xn2);

    // Fixed codebook on the pitch-sharpened impulse response.
    const int16_t sharp = shl(s->sharp, 1);
    if (t0 < kSubfr) sharpen(h1, t0, sharp);
    int16_t dn[kSubfr];
    voksCrossCorr_NormM_16s(h1, xn2, kSubfr, dn);
    int16_t code[kSubfr], y2[kSubfr];
    if (low) {
      int16_t sign = 0, pos = 0;
      voksFixedCodebookSearch_G729D_16s(dn, h1, code, y2, &sign, &pos);
      *ana++ = pos;
      *ana++ = sign;
    } else {
      int16_t rr[616];
      int16_t cb[2];
      voksToeplizMatrix_G729_16s(h1, rr);
      voksFixedCodebookSearch_G729_16s(dn, rr, code, cb, &budget, sf);
      filteredCode8k(h1, cb[0], cb[1], y2);
      *ana++ = cb[0];
      *ana++ = cb[1];
    }
    if (t0 < kSubfr) sharpen(code, t0, sharp);

    // Gains.
    int16_t gains[2], rows[2];
    if (low) {
      voksGainQuant_G729D_16s(xn, y1, code, y2, s->pastQuaEn, gains, rows, taming);
      *ana++ = static_cast<int16_t>(kGainMap1Low[rows[0] & 7] * 8 + kGainMap2Low[rows[1] & 7]);
    } else {
      voksGainQuant_G729_16s(xn, y1, code, y2, s->pastQuaEn, gains, rows, taming);
      *ana++ = static_cast<int16_t>(vokc::tables::kGainMap1[rows[0] & 7] * 16 + vokc::tables::kGainMap2[rows[1] & 15]);
    }
    gainPit = gains[0];
    const int16_t gainCode = gains[1];
    clampSharp(s->sharp, gainPit);

    // Excitation, local synthesis and the memories of the next target.
    for (int i = 0; i < kSubfr; ++i)
      exc[off + i] = round_fx(L_shl(L_mac(L_mult(exc[off + i], gainPit), code[i], gainCode), 1));
    updateTaming(s->excErr, gainPit, t0);
    int16_t syn[kSubfr];
    synth(aqs, exc + off, syn, s->memSyn, true);
    for (int i = kSubfr - kOrder, j = 0; i < kSubfr; ++i, ++j) {
      s->memErr[j] = sub(speech[off + i], syn[i]);
      const int16_t t1 = extract_h(L_shl(L_mult(y1[i], gainPit), 1));
      const int16_t t2 = extract_h(L_shl(L_mult(y2[i], gainCode), 2));
      s->memW0[j] = sub(xn[i], add(t1, t2));
    }
  }

  std::memmove(s->oldSpeech, s->oldSpeech + kFrame, (kWindow - kFrame) * sizeof(int16_t));
  std::memmove(s->oldWsp, s->oldWsp + kFrame, kPitMax * sizeof(int16_t));
  std::memmove(s->oldExc, s->oldExc + kFrame, kExcHist * sizeof(int16_t));
}

// ---- decoder --------------------------------------------------------------

int16_t nextRandom(int16_t& seed) {
  seed = extract_l(L_add(L_shr(L_mult(seed, 31821), 1), 13849));
  return seed;
}

// Delay pair of a subframe from its index; the second subframe's index is
// relative to the first subframe's delay.
void decodeDelay(int16_t index, int subframe, bool low, int16_t prevT0, int16_t& t0, int16_t& frac) {
  if (subframe == 0) {
    if (index < 197) {
      t0 = add(mult(add(index, 2), 10923), 19);
      frac = static_cast<int16_t>(index - 3 * t0 + 58);
    } else {
      t0 = static_cast<int16_t>(index - 112);
      frac = 0;
    }
    return;
  }
  int16_t tMin, tMax;
  secondRange(prevT0, tMin, tMax);
  if (!low) {
    const int16_t i = sub(mult(add(index, 2), 10923), 1);
    t0 = static_cast<int16_t>(i + tMin);
    frac = static_cast<int16_t>(index - 2 - 3 * i);
    return;
  }
  index &= 15;
  if (index <= 3) {
    t0 = static_cast<int16_t>(tMin + index);
    frac = 0;
  } else if (index < 12) {
    static constexpr int16_t kFrac[8] = {1, 2, 0, 1, 2, 0, 1, 2};
    frac = kFrac[index - 4];
    t0 = static_cast<int16_t>(mult(static_cast<int16_t>(index - frac), 10923) + tMin + 2);
    if (frac == 2) {
      frac = -1;
      ++t0;
    }
  } else {
    t0 = static_cast<int16_t>(tMin + index - 6);
    frac = 0;
  }
}

// Fixed vector from its position and sign words (pulses of +-1 in Q13).
void decodeCode(bool low, int16_t signs, int16_t index, int16_t* code) {
  std::memset(code, 0, kSubfr * sizeof(int16_t));
  if (low) {
    const int16_t pos[2] = {kTrack0[kGrayDecode[index & 15]], kTrack1[kGrayDecode[(index >> 4) & 31]]};
    for (int j = 0; j < 2; ++j)
      code[pos[j]] = ((signs >> j) & 1) ? add(code[pos[j]], 8191) : sub(code[pos[j]], 8192);
    return;
  }
  const int pos[4] = {(index & 7) * 5, ((index >> 3) & 7) * 5 + 1, ((index >> 6) & 7) * 5 + 2,
                      ((index >> 10) & 7) * 5 + 3 + ((index >> 9) & 1)};
  for (int j = 0; j < 4; ++j) code[pos[j]] = ((signs >> j) & 1) ? 8191 : -8192;
}

// Post-filter of one subframe: long-term filter on the residual of
// A(z/0.55), short-term filter, tilt compensation, gain control.
void postFilter(DecoderState* s, int16_t t0, const int16_t* syn, const int16_t* a, int16_t* out, int16_t* voicing) {
  int16_t num[kMp1];
  weightAz(a, 18022, num);
  voksResidualFilter_G729_16s(syn, num, s->pstRes2 + 152);
  int16_t ltp[kSubfr];
  voksLongTermPostFilter_G729_16s(16384, t0, s->pstRes2, ltp, voicing);
  int16_t* stp = s->pstStp + kOrder;
  int16_t h[20];
  voksShortTermPostFilter_G729_16s(a, ltp, stp, h);
  int16_t tilt[1 + kSubfr];
  tilt[0] = s->pstStp[kOrder - 1];
  std::memcpy(tilt + 1, stp, kSubfr * sizeof(int16_t));
  voksTiltCompensation_G729_16s(h, tilt + 1);
  std::memcpy(out, tilt + 1, kSubfr * sizeof(int16_t));
  voksGainControl_G729_16s_I(syn, out, &s->pstGain);
  std::memmove(s->pstStp, s->pstStp + kSubfr, kOrder * sizeof(int16_t));
}

void decodeFrame(DecoderState* s, const int16_t* prm, bool low, bool bfi, int16_t* pcm) {
  int16_t* exc = s->oldExc + kExcHist;

  // LSPs (a lost frame repeats the last good LSFs and ages the predictor).
  int16_t lsf[kOrder], lspNew[kOrder];
  if (!bfi) {
    const int16_t idx[4] = {static_cast<int16_t>((prm[0] >> 7) & 1), static_cast<int16_t>(prm[0] & 127),
                            static_cast<int16_t>((prm[1] >> 5) & 31), static_cast<int16_t>(prm[1] & 31)};
    voksLSFDecode_G729_16s(idx, s->lsfMa, lsf);
    std::memcpy(s->prevLsf, lsf, sizeof lsf);
    s->prevMa = idx[0];
  } else {
    std::memcpy(lsf, s->prevLsf, sizeof lsf);
    voksLSFDecodeErased_G729_16s(s->prevMa, s->lsfMa, s->prevLsf);
  }
  voksLSFToLSP_G729_16s(lsf, lspNew);
  int16_t az[2 * kMp1];
  int16_t lspInt[kOrder];
  voksInterpolate_G729_16s(s->lspOld, lspNew, lspInt, kOrder);
  voksLSPToLPC_G729_16s(lspInt, az);
  voksLSPToLPC_G729_16s(lspNew, az + kMp1);
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
    int16_t t0, frac;
    if (!badDelay) {
      decodeDelay(index, sf, low, t0First, t0, frac);
      s->oldT0 = t0;
    } else {
      t0 = s->oldT0;
      frac = 0;
      s->oldT0 = add(s->oldT0, 1);
      if (s->oldT0 > kPitMax) s->oldT0 = kPitMax;
    }
    if (sf == 0) t0First = t0;
    const int16_t delay[2] = {t0, frac};
    voksDecodeAdaptiveVector_G729_16s_I(delay, exc + off - kExcHist);

    int16_t pos = parm[0], sign = parm[1];
    parm += 2;
    if (bfi) {
      pos = static_cast<int16_t>(nextRandom(s->seed) & (low ? 0x01FF : 0x1FFF));
      sign = static_cast<int16_t>(nextRandom(s->seed) & (low ? 0x0003 : 0x000F));
    }
    int16_t code[kSubfr];
    decodeCode(low, sign, pos, code);
    if (t0 < kSubfr) sharpen(code, t0, shl(s->sharp, 1));

    const int16_t gainIndex = *parm++;
    int32_t energy = 0;
    for (int i = 0; i < kSubfr; ++i) energy += int32_t{code[i]} * code[i];
    int16_t gains[2] = {s->gainPitch, s->gainCode};
    if (bfi) {
      voksDecodeGain_G729_16s(energy, s->pastQuaEn, nullptr, gains);
    } else if (low) {
      const int16_t idx[2] = {static_cast<int16_t>((gainIndex >> 3) & 7), static_cast<int16_t>(gainIndex & 7)};
      voksDecodeGain_G729I_16s(energy, 32767, s->pastQuaEn, idx, gains);
    } else {
      const int16_t idx[2] = {static_cast<int16_t>((gainIndex >> 4) & 7), static_cast<int16_t>(gainIndex & 15)};
      voksDecodeGain_G729_16s(energy, s->pastQuaEn, idx, gains);
    }
    s->gainPitch = gains[0];
    s->gainCode = gains[1];
    clampSharp(s->sharp, s->gainPitch);

    // A lost frame is concealed with the adaptive part only after a voiced
    // frame, else with the fixed part only.
    int16_t gp = s->gainPitch, gc = s->gainCode;
    if (bfi) (s->voicing == 0 ? gp : gc) = 0;
    for (int i = 0; i < kSubfr; ++i)
      exc[off + i] = round_fx(L_shl(L_mac(L_mult(exc[off + i], gp), code[i], gc), 1));

    if (!low) voksPhaseDispersionUpdate_G729D_16s(s->gainPitch, s->gainCode, s->dispersion);
    int16_t probe[kSubfr];
    if (synth(az + sf * kMp1, exc + off, probe, s->memSyn, false) == vokWrnOverflow)
      for (auto& e : s->oldExc) e = shr(e, 2);
    if (low) {
      // The synthesis runs on the excitation rebuilt with the dispersed
      // fixed vector; the excitation history keeps the plain one.
      int16_t dispersed[kSubfr];
      voksPhaseDispersion_G729D_16s(exc + off, dispersed, s->gainCode, s->gainPitch, code, s->dispersion);
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
  voksHighPassFilter_G729_16s_ISfs(pcm, kFrame, 13, s->highPass);
}

const int16_t* paramBits(int rate) { return rate == vokcG729D6k4 ? kParamBitsLow : vokc::tables::kParamBits; }
int paramCount(int rate) { return rate == vokcG729D6k4 ? 10 : 11; }

}  // namespace

extern "C" {

VokResult vokcG729DEncoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(EncoderState) + 16);
  return vokOk;
}

VokResult vokcG729DEncoderInit(void* mem) {
  if (!mem) return vokErrNullPtr;
  EncoderState* s = encState(mem);
  std::memset(s, 0, sizeof *s);
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  std::memcpy(s->lspOldQ, kLspReset, sizeof kLspReset);
  for (int k = 0; k < 4; ++k) std::memcpy(s->lsfMa + k * kOrder, vokc::tables::kLsfMaReset, kOrder * 2);
  s->oldA[0] = 4096;
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

VokResult vokcG729DEncode(void* mem, const Vok16s* pcm, int rate, Vok16s* prm) {
  if (!mem || !pcm || !prm) return vokErrNullPtr;
  if (!validRate(rate)) return vokErrRange;
  encodeFrame(encState(mem), pcm, rate == vokcG729D6k4, prm);
  return vokOk;
}

VokResult vokcG729DDecoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(DecoderState) + 16);
  return vokOk;
}

VokResult vokcG729DDecoderInit(void* mem) {
  if (!mem) return vokErrNullPtr;
  DecoderState* s = decState(mem);
  std::memset(s, 0, sizeof *s);
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  for (int k = 0; k < 4; ++k) std::memcpy(s->lsfMa + k * kOrder, vokc::tables::kLsfMaReset, kOrder * 2);
  std::memcpy(s->prevLsf, vokc::tables::kLsfMaReset, kOrder * 2);
  s->sharp = kSharpMin;
  s->oldT0 = 60;
  s->seed = 21845;
  for (auto& e : s->pastQuaEn) e = -14336;
  s->voicing = 60;
  s->pstGain = 16384;
  int size = 0;
  voksPhaseDispersionGetStateSize_G729D_16s(&size);
  if (size > static_cast<int>(sizeof s->dispersion)) return vokErrInternal;
  voksHighPassFilterSize_G729(&size);
  if (size > static_cast<int>(sizeof s->highPass)) return vokErrInternal;
  VokResult st = voksPhaseDispersionInit_G729D_16s(s->dispersion);
  if (st != vokOk) return st;
  const int16_t coeffs[6] = {vokc::tables::kHighPass100A[0], vokc::tables::kHighPass100A[1],
                             vokc::tables::kHighPass100A[2], vokc::tables::kHighPass100B[0],
                             vokc::tables::kHighPass100B[1], vokc::tables::kHighPass100B[2]};
  return voksHighPassFilterInit_G729(coeffs, s->highPass);
}

VokResult vokcG729DDecode(void* mem, const Vok16s* prm, int rate, int erased, Vok16s* pcm) {
  if (!mem || !pcm || (!prm && !erased)) return vokErrNullPtr;
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

VokResult vokcG729DPackBits(const Vok16s* prm, int rate, Vok8u* bits) {
  if (!prm || !bits) return vokErrNullPtr;
  if (!validRate(rate)) return vokErrRange;
  const int16_t* width = paramBits(rate);
  int n = 0;
  for (int p = 0; p < paramCount(rate); ++p)
    for (int b = width[p] - 1; b >= 0; --b) bits[n++] = static_cast<Vok8u>((prm[p] >> b) & 1);
  return vokOk;
}

VokResult vokcG729DUnpackBits(const Vok8u* bits, int rate, Vok16s* prm) {
  if (!bits || !prm) return vokErrNullPtr;
  if (!validRate(rate)) return vokErrRange;
  const int16_t* width = paramBits(rate);
  int n = 0;
  for (int p = 0; p < paramCount(rate); ++p) {
    int v = 0;
    for (int b = 0; b < width[p]; ++b) v = (v << 1) | (bits[n++] & 1);
    prm[p] = static_cast<Vok16s>(v);
  }
  return vokOk;
}

}  // extern "C"
