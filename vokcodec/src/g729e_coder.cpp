// G.729 Annex E encoder and decoder (8 and 11.8 kbit/s, forward or
// backward-adaptive LP) assembled from voksc's exports.
//
// Every signal-processing step is a voksc call; what remains here is the
// frame logic of the higher-rate coder: the backward/forward decision and
// its stationarity bookkeeping, the interpolation of the backward filter,
// the concealment of lost frames (pitch tracking, gain muting, filter
// memory), the adaptive post-filter settings, delay coding and bit packing.
#include <cstring>

#include "basic_op.h"
#include "g729_tables.h"
#include "g729e_tables.h"
#include "vokcodec.h"

using namespace voksc::op;

namespace {

constexpr int kFrame = 80;
constexpr int kSubfr = 40;
constexpr int kOrder = 10;
constexpr int kMp1 = kOrder + 1;
constexpr int kOrderBwd = 30;
constexpr int kBp1 = kOrderBwd + 1;
constexpr int kPitMin = 20;
constexpr int kPitMax = 143;
constexpr int kWindow = 240;
constexpr int kExcHist = kPitMax + 11;            // 154 samples of past excitation
constexpr int kSynHist = kOrderBwd + 35;          // synthesis history kept for the backward analysis
constexpr int kAnaLen = kFrame + kSynHist;        // 145: the hybrid-window block
constexpr int kPstHist = 152;                     // long-term post-filter residual history
constexpr int16_t kSharpMax = 13017;
constexpr int16_t kSharpMin = 3277;
constexpr int16_t kGpClip = 15564;
constexpr int32_t kThreshErr = 983040000;
constexpr int16_t kGammaBwd = 32113;              // extra bandwidth expansion of the backward filter
constexpr int16_t kCIntReset = 4506;              // backward filter interpolation factor after a forward frame
constexpr int16_t kGamma1Pst = 22938, kGamma2Pst = 18022, kGammaHarm = 16384;   // 8 kbit/s post-filter
constexpr int16_t kGamma1PstE = 22938, kGamma2PstE = 21300, kGammaHarmE = 8192;  // 11.8 kbit/s post-filter

constexpr int16_t kLspReset[kOrder] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};

// Counts of forward and backward frames deciding whether the backward mode
// dominates (halved together when they reach 100 frames).
struct Dominance {
  int16_t bwd;
  int16_t fwd;
};

struct EncoderState {
  int16_t oldSpeech[kWindow];
  int16_t oldWsp[kFrame + kPitMax];
  int16_t oldExc[kFrame + kExcHist];
  int16_t synth[kAnaLen];               // local synthesis: history then the frame
  int16_t signal[kOrderBwd + kFrame];   // speech with 30 samples of history (mode decision)
  int16_t aiZero[kBp1];                 // weighted numerator of the last subframe (impulse responses)
  int16_t memSyn[kOrderBwd];
  int16_t memW0[kOrderBwd];
  int16_t memW[kOrderBwd];
  int16_t memErr[kOrderBwd];
  int16_t prevFilter[kBp1];             // filter of the previous frame (transition interpolation)
  int16_t aBwdMem[kBp1];                // last unsaturated backward filter
  int16_t oldABwd[kBp1];                // last stable backward filter
  int16_t oldAFwd[kMp1];                // last stable forward filter
  int16_t oldRcFwd[2];
  int16_t lspOld[kOrder];
  int16_t lspOldQ[kOrder];
  int16_t lsfMa[4 * kOrder];
  int16_t pastQuaEn[4];
  int16_t larOld[2];
  int16_t smooth;
  int16_t sharp;
  int16_t prevMode;
  int16_t bwdDominant;
  int16_t cInt;
  int16_t globStat;                     // global stationarity, Q8 of 0..32000
  int16_t statBwd;                      // consecutive backward frames
  int16_t valStatBwd;
  Dominance dom;
  int32_t excErr[4];
  alignas(16) int32_t hybrid[32];
  alignas(16) uint8_t highPass[64];
};

struct DecoderState {
  int16_t oldExc[kFrame + kExcHist];
  int16_t synthBuf[kAnaLen];
  int16_t memSyn[kOrderBwd];
  int16_t aBwdMem[kBp1];                // backward filter before a loss
  int16_t aTBwdMem[kBp1];               // last unsaturated backward filter
  int16_t oldABwd[kBp1];
  int16_t prevFilter[kBp1];
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
  int16_t prevPitch, statPitch, pitchSta, fracSta;
  int16_t seed;
  int16_t bwdDominant;
  Dominance dom;
  // Post-filter.
  int16_t voicing;                      // voicing of the previous frame
  int16_t ga1, ga2, gaHarm;
  int16_t res2[kPstHist + kSubfr];
  int16_t memStp[kOrderBwd];
  int16_t gainPrec;
  alignas(16) int32_t hybrid[32];
  alignas(16) uint8_t highPass[64];
};

static_assert(sizeof(EncoderState) < 8192, "encoder state size");
static_assert(sizeof(DecoderState) < 8192, "decoder state size");

// ---- shared helpers ------------------------------------------------------

void weightAz(const int16_t* a, int16_t gamma, int m, int16_t* ap) {
  ap[0] = a[0];
  int16_t fac = gamma;
  for (int i = 1; i < m; ++i) {
    ap[i] = round_fx(L_mult(a[i], fac));
    fac = round_fx(L_mult(fac, gamma));
  }
  ap[m] = round_fx(L_mult(a[m], fac));
}

// 1/A(z) of order m over one subframe; mem holds 30 past outputs (the last
// m are used) and is left unchanged.
VokResult synth(const int16_t* a, int m, const int16_t* x, int16_t* y, const int16_t* mem) {
  int16_t t[kOrderBwd];
  std::memcpy(t, mem + kOrderBwd - m, static_cast<std::size_t>(m) * sizeof(int16_t));
  return voksSynthesisFilter_G729E_16s(a, m, x, y, kSubfr, t);
}

VokResult synthZero(const int16_t* a, int m, const int16_t* x, int16_t* y, int len) {
  int16_t t[kOrderBwd] = {};
  return voksSynthesisFilter_G729E_16s(a, m, x, y, len, t);
}

void residual(const int16_t* a, int m, const int16_t* x, int16_t* y, int len = kSubfr) {
  voksResidualFilter_G729E_16s(a, static_cast<Vok16s>(m), x, y, len);
}

int32_t mpy32x16(int32_t x, int16_t n) {
  int16_t hi, lo;
  L_Extract(x, hi, lo);
  return L_mac(L_mult(hi, n), mult(lo, n), 1);
}

int32_t mpy32(int16_t h1, int16_t l1, int16_t h2, int16_t l2) {
  int32_t t = L_mult(h1, h2);
  t = L_mac(t, mult(h1, l2), 1);
  return L_mac(t, mult(l1, h2), 1);
}

// Frame energy in steps of 3 dB (Q11 log2), as the mode decision measures it.
int16_t energyDb(const int16_t* x, int len) {
  int32_t e = 1;
  for (int i = 0; i < len; ++i) e = L_mac(e, x[i], x[i]);
  e = L_shr(e, 1);
  int steps = 0;
  while (e > 32) {
    e = L_shr(e, 1);
    ++steps;
  }
  int16_t log = 617;
  for (int j = 1; j < steps; ++j) log = add(log, 617);
  const int16_t index = sub(extract_l(e), 16);
  return index >= 0 ? add(vokc::tables::e::kEnergyLog[index], log) : int16_t{1};
}

void updateDominance(Dominance& d, int16_t& bwdDominant, int16_t mode) {
  if (mode == 0)
    ++d.fwd;
  else
    ++d.bwd;
  int16_t all = add(d.bwd, d.fwd);
  if (all == 100) {
    all = shr(all, 1);
    d.bwd = shr(d.bwd, 1);
    d.fwd = shr(d.fwd, 1);
  }
  bwdDominant = 0;
  if (all >= 10 && d.bwd > shl(d.fwd, 2)) bwdDominant = 1;
}

// Backward LP analysis of the past synthesis: hybrid-window
// autocorrelation, lag window, normalisation, order-30 recursion (the last
// stable filter when unstable, the last unsaturated one when a coefficient
// reaches 32767), then bandwidth expansion.
void backwardAnalysis(const int16_t* synthBlock, int32_t* hybrid, int16_t* oldA, int16_t* aMem, int16_t* aOut) {
  int32_t r[kBp1];
  voksWinHybrid_G729E_16s32s(synthBlock, r, hybrid);
  for (int i = 1; i <= kOrderBwd; ++i) {
    int16_t hi, lo;
    L_Extract(r[i], hi, lo);
    r[i] = mpy32(hi, lo, vokc::tables::e::kLagBwdHi[i - 1], vokc::tables::e::kLagBwdLo[i - 1]);
  }
  const int16_t norm = norm_l(L_add(r[0], 1));
  for (int i = 0; i <= kOrderBwd; ++i) r[i] = L_shl(L_add(r[i], 1), norm);
  int16_t a[kBp1], rc[kOrderBwd], err = 0;
  if (voksLevinsonDurbin_G729_32s16s(r, kOrderBwd, a, rc, &err) == vokOk)
    std::memcpy(oldA + 1, a + 1, kOrderBwd * sizeof(int16_t));
  else
    std::memcpy(a, oldA, sizeof a);
  bool saturated = false;
  for (int i = 0; i < kBp1; ++i) saturated |= a[i] >= 32767;
  if (saturated)
    std::memcpy(a, aMem, sizeof a);
  else
    std::memcpy(aMem, a, sizeof a);
  weightAz(a, kGammaBwd, kOrderBwd, aOut);
}

// Transition towards the backward filter: the second subframe's filter
// leans on the previous frame's filter by cInt (Q12, shrinking by 0.1 per
// frame), the first subframe takes the mean of the two.
void interpolateBackward(int16_t* aBwd, const int16_t* prevFilter, int16_t& cInt) {
  int16_t* a2 = aBwd + kBp1;
  int16_t c = sub(cInt, 410);
  if (c < 0) c = 0;
  const int16_t w = sub(4096, c);
  for (int i = 0; i < kBp1; ++i) {
    const int16_t t1 = extract_l(L_shr(L_mult(a2[i], w), 13));
    const int16_t t2 = extract_l(L_shr(L_mult(prevFilter[i], c), 13));
    a2[i] = add(t1, t2);
  }
  for (int i = 0; i < kBp1; ++i) aBwd[i] = add(shr(a2[i], 1), shr(prevFilter[i], 1));
  cInt = c;
}

void interpolateLpc(const int16_t* lspOld, const int16_t* lspNew, int16_t* aq) {
  int16_t lsp[kOrder];
  voksInterpolate_G729_16s(lspOld, lspNew, lsp, kOrder);
  voksLSPToLPC_G729_16s(lsp, aq);
  voksLSPToLPC_G729_16s(lspNew, aq + kMp1);
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

void decodeLag(int16_t index, int subframe, int16_t& t0, int16_t& frac) {
  if (subframe == 0) {
    if (index < 197) {
      t0 = static_cast<int16_t>(mult(static_cast<int16_t>(index + 2), 10923) + 19);
      frac = static_cast<int16_t>(index - t0 * 3 + 58);
    } else {
      t0 = static_cast<int16_t>(index - 112);
      frac = 0;
    }
  } else {
    int16_t tMin = static_cast<int16_t>(t0 - 5);  // t0: the first subframe's delay
    if (tMin < kPitMin) tMin = kPitMin;
    if (tMin + 9 > kPitMax) tMin = kPitMax - 9;
    int16_t i = static_cast<int16_t>(mult(static_cast<int16_t>(index + 2), 10923) - 1);
    t0 = static_cast<int16_t>(i + tMin);
    frac = static_cast<int16_t>(index - 2 - i * 3);
  }
}

void clampSharp(int16_t& sharp, int16_t gainPit) {
  sharp = gainPit;
  if (sharp > kSharpMax) sharp = kSharpMax;
  if (sharp < kSharpMin) sharp = kSharpMin;
}

// ---- encoder pieces ---------------------------------------------------------

int16_t tamingNeeded(const int32_t* excErr, int16_t t0, int16_t frac) {
  int16_t t1 = frac > 0 ? static_cast<int16_t>(t0 + 1) : t0;
  int i = t1 - (kSubfr + 10);
  if (i < 0) i = 0;
  const int16_t zone1 = vokc::tables::kTamingZone[i];
  const int16_t zone2 = vokc::tables::kTamingZone[t1 + 8];
  int32_t maxLoc = -1;
  for (int k = zone2; k >= zone1; --k)
    if (L_sub(excErr[k], maxLoc) > 0) maxLoc = excErr[k];
  return L_sub(maxLoc, kThreshErr) > 0 ? 1 : 0;
}

void updateExcErr(int32_t* excErr, int16_t gainPit, int16_t t0) {
  int32_t worst = -1;
  const int n = t0 - kSubfr;
  if (n < 0) {
    int32_t t = L_add(0x4000, L_shl(mpy32x16(excErr[0], gainPit), 1));
    if (L_sub(t, worst) > 0) worst = t;
    t = L_add(0x4000, L_shl(mpy32x16(t, gainPit), 1));
    if (L_sub(t, worst) > 0) worst = t;
  } else {
    const int16_t zone1 = vokc::tables::kTamingZone[n];
    const int16_t zone2 = vokc::tables::kTamingZone[t0 - 1];
    for (int i = zone1; i <= zone2; ++i) {
      const int32_t t = L_add(0x4000, L_shl(mpy32x16(excErr[i], gainPit), 1));
      if (L_sub(t, worst) > 0) worst = t;
    }
  }
  for (int i = 3; i >= 1; --i) excErr[i] = excErr[i - 1];
  excErr[0] = worst;
}

// Adaptive weighting of the forward mode: gamma1/gamma2 per subframe from
// the first two reflection coefficients (as log-area ratios) and the
// spacing of the interpolated LSFs (normalised, Q15).
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
    const int16_t c0 = lar[2 * k], c1 = lar[2 * k + 1];
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
        const int16_t t = sub(lsf[i + 1], lsf[i]);
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

// Stationarity measure driving the threshold of the mode decision.
void updateStationarity(EncoderState* s, int16_t gpredB, int16_t gpredF, int16_t mode) {
  int16_t& g = s->globStat;
  if (mode == 1) {
    s->statBwd = add(s->statBwd, 1);
    s->valStatBwd = add(s->valStatBwd, 250);
    if (s->statBwd == 20)
      g = add(g, 2500);
    else if (s->statBwd > 20)
      g = add(g, 500);
  } else if (s->prevMode == 1) {
    if (s->statBwd < 20) g = sub(g, sub(5000, s->valStatBwd));
    s->statBwd = 0;
    s->valStatBwd = 0;
  }
  int v = g;
  const int b = gpredB, f = gpredF;
  if (v < 13000) {
    if (b > f + 819)
      v += 3200;
    else if (b > f + 614)
      v += 2400;
    else if (b > f + 410)
      v += 1600;
    else if (b > f + 205)
      v += 800;
    else if (b > f)
      v += 400;
  }
  if (b < f - 955)
    v -= 6400;
  else if (b < f - 819)
    v -= 3200;
  else if (b < f - 614)
    v -= 1600;
  else if (b < f - 410)
    v -= 800;
  else if (b < f - 205)
    v -= 400;
  if (v > 32000) v = 32000;
  if (v < 0) v = 0;
  g = static_cast<int16_t>(v);
}

// Backward/forward decision of an 11.8 kbit/s frame from the prediction
// gains of the backward filter (plain and interpolated) and of the
// quantised forward filter on the frame's speech; aBwd is interpolated in
// place for the transition.
int16_t decideMode(EncoderState* s, const int16_t* sig, const int16_t* aFwdQ, int16_t* aBwd, const int16_t* lspNew) {
  int16_t res[kFrame];
  const int16_t eSig = energyDb(sig, kFrame);
  residual(aBwd + kBp1, kOrderBwd, sig, res, kFrame);
  const int16_t gpredB = static_cast<int16_t>(eSig - energyDb(res, kFrame));
  interpolateBackward(aBwd, s->prevFilter, s->cInt);
  residual(aBwd, kOrderBwd, sig, res);
  residual(aBwd + kBp1, kOrderBwd, sig + kSubfr, res + kSubfr);
  const int16_t gpredBint = static_cast<int16_t>(eSig - energyDb(res, kFrame));
  residual(aFwdQ, kOrder, sig, res);
  residual(aFwdQ + kMp1, kOrder, sig + kSubfr, res + kSubfr);
  const int16_t gpredF = static_cast<int16_t>(eSig - energyDb(res, kFrame));

  const int16_t gap = add(extract_l(L_shr(L_mult(shr(s->globStat, 7), 3), 1)), 205);
  int16_t mode = (gpredBint > gpredF - gap && gpredB > gpredF - gap && gpredB > 0 && gpredBint > 0) ? 1 : 0;
  if (s->globStat < 13000) mode = 0;
  int32_t dist = 0;
  for (int i = 0; i < kOrder; ++i) {
    const int16_t d = sub(s->lspOld[i], lspNew[i]);
    dist = L_mac(dist, d, d);
  }
  const int32_t thresh = s->globStat < 32000 ? 0 : 64424509;
  if (dist < thresh && mode == 0 && s->prevMode == 1 && gpredB > 0 && gpredBint > 0) mode = 1;
  if (eSig < 8192) {
    mode = 0;
    if (s->globStat > 13000) s->globStat = 13000;
  } else {
    updateDominance(s->dom, s->bwdDominant, mode);
    updateStationarity(s, gpredB, gpredF, mode);
  }
  return mode;
}

// Fixed codebook of an 8 kbit/s subframe: sharpening folded into h, the
// correlation matrix and backward-filtered target, the focused search with
// its budget, the filtered code vector and the sharpened code vector.
void fixedCodebook8k(int16_t sharpQ14, int16_t t0, int16_t* h1, const int16_t* xn2, int16_t* code, int16_t* y2,
                     int16_t* cbIndex, int16_t* budget, int subframe) {
  const int16_t sharp = shl(sharpQ14, 1);
  if (t0 < kSubfr)
    for (int i = t0; i < kSubfr; ++i) h1[i] = add(h1[i], mult(h1[i - t0], sharp));
  int16_t rr[616];
  voksToeplizMatrix_G729_16s(h1, rr);
  int16_t dn[kSubfr];
  voksCrossCorr_NormM_16s(h1, xn2, kSubfr, dn);
  voksFixedCodebookSearch_G729_16s(dn, rr, code, cbIndex, budget, subframe);
  // Filtered code vector: the impulse response added at each pulse.
  const int16_t pi = cbIndex[0], signs = cbIndex[1];
  const int pos[4] = {(pi & 7) * 5, ((pi >> 3) & 7) * 5 + 1, ((pi >> 6) & 7) * 5 + 2,
                      ((pi >> 10) & 7) * 5 + 3 + ((pi >> 9) & 1)};
  for (int i = 0; i < pos[0]; ++i) y2[i] = 0;
  for (int k = 0; k < 4; ++k) {
    const bool positive = (signs >> k) & 1;
    for (int i = pos[k], j = 0; i < kSubfr; ++i, ++j) {
      if (k == 0)
        y2[i] = positive ? h1[j] : negate(h1[j]);
      else
        y2[i] = positive ? add(y2[i], h1[j]) : sub(y2[i], h1[j]);
    }
  }
  if (t0 < kSubfr)
    for (int i = t0; i < kSubfr; ++i) code[i] = add(code[i], mult(code[i - t0], sharp));
}

// ---- decoder pieces -----------------------------------------------------------

int16_t nextRandom(int16_t& seed) {
  seed = extract_l(L_add(L_shr(L_mult(seed, 31821), 1), 13849));
  return seed;
}

void decodeCode8k(int16_t signs, int16_t index, int16_t* code) {
  const int pos[4] = {(index & 7) * 5, ((index >> 3) & 7) * 5 + 1, ((index >> 6) & 7) * 5 + 2,
                      ((index >> 10) & 7) * 5 + 3 + ((index >> 9) & 1)};
  std::memset(code, 0, kSubfr * sizeof(int16_t));
  for (int j = 0; j < 4; ++j) code[pos[j]] = ((signs >> j) & 1) ? 8191 : -8192;
}

// One to three pulses of a track from a 4-, 7- or 10-bit word (3 position
// bits per pulse, one sign bit for the first; later pulses take the
// opposite sign when they lie after the previous one).  Q12 amplitudes.
void decodeTrack(int16_t index, int track, int pulses, int16_t* code) {
  int pos1 = (index & 7) * 5 + track;
  int16_t sign = ((index >> 3) & 1) ? -4096 : 4096;
  code[pos1] = sign;
  if (pulses >= 2) {
    const int pos2 = ((index >> 4) & 7) * 5 + track;
    if (pos2 > pos1) sign = negate(sign);
    code[pos2] = add(code[pos2], sign);
    if (pulses == 3) {
      const int pos3 = ((index >> 7) & 7) * 5 + track;
      if (pos3 > pos2) sign = negate(sign);
      code[pos3] = add(code[pos3], sign);
    }
  }
}

void decodeCode118(int16_t mode, const int16_t* idx, int16_t* code) {
  std::memset(code, 0, kSubfr * sizeof(int16_t));
  if (mode == 0) {
    for (int j = 0; j < 5; ++j) decodeTrack(idx[j], j, 2, code);
    return;
  }
  int track = (idx[0] >> 10) & 7;
  if (track > 4) track = 4;
  for (int j = 0; j < 5; ++j) {
    decodeTrack(idx[j], track, j < 2 ? 3 : 2, code);
    if (++track > 4) track = 0;
  }
}

// Pitch tracking for lost frames: a delay near the previous one makes the
// pitch stationary; a multiple or submultiple of it is replaced by the
// last stationary delay.
void trackPitch(DecoderState* s, int16_t& t0, int16_t& frac) {
  int16_t dist = sub(t0, s->prevPitch);
  const bool multiple = dist >= 0;
  if (!multiple) dist = negate(dist);
  if (dist < 5) {
    if (++s->statPitch > 7) s->statPitch = 7;
    s->pitchSta = t0;
    s->fracSta = frac;
  } else {
    int16_t dMin = dist;
    const int16_t base = multiple ? s->prevPitch : t0;
    const int16_t other = multiple ? t0 : s->prevPitch;
    int16_t m = add(base, base);
    for (int j = 2; j < 5; ++j) {
      const int16_t d = abs_s(sub(m, other));
      if (sub(d, dMin) <= 0) dMin = d;
      m = add(base, m);
    }
    if (dMin < 5) {
      if (s->statPitch > 0) {
        t0 = s->pitchSta;
        frac = s->fracSta;
      }
      if (--s->statPitch < 0) s->statPitch = 0;
    } else {
      s->statPitch = 0;
      s->pitchSta = t0;
      s->fracSta = frac;
    }
  }
  s->prevPitch = t0;
}

// First reflection coefficient of the post-filter's impulse response.
int16_t firstParcor(const int16_t* h, int len) {
  int32_t acc = 0;
  for (int i = 0; i < len; ++i) acc = L_mac(acc, h[i], h[i]);
  const int16_t sh = norm_l(acc);
  const int16_t acf0 = extract_h(L_shl(acc, sh));
  acc = 0;
  for (int i = 0; i < len - 1; ++i) acc = L_mac(acc, h[i], h[i + 1]);
  const int16_t acf1 = extract_h(L_shl(acc, sh));
  if (acf0 <= 0 || acf0 < abs_s(acf1)) return 0;
  const int16_t k = div_s(abs_s(acf1), acf0);
  return acf1 > 0 ? negate(k) : k;
}

// Adaptive post-filter of one subframe with the given order, weights and
// impulse-response length: harmonic filter on the residual of A(z/ga2),
// normalised short-term filter 1/A(z/ga1), tilt compensation, gain control.
void postFilter(DecoderState* s, int16_t t0, const int16_t* syn, const int16_t* a, int m, int longH, int16_t* out,
                int16_t* voicing) {
  int16_t den[kBp1], num[32] = {};
  weightAz(a, s->ga1, m, den);
  weightAz(a, s->ga2, m, num);
  residual(num, m, syn, s->res2 + kPstHist);
  int16_t ltp[1 + kSubfr];
  voksLongTermPostFilter_G729_16s(s->gaHarm, t0, s->res2, ltp + 1, voicing);  // shifts res2
  ltp[0] = s->memStp[kOrderBwd - 1];
  int16_t h[32];
  synthZero(den, m, num, h, longH);
  const int16_t parcor = firstParcor(h, longH);
  int32_t g = 0;
  for (int i = 0; i < longH; ++i) g = L_add(g, L_deposit_l(abs_s(h[i])));
  const int16_t g0 = extract_h(L_shl(g, 14));
  if (g0 > 1024) {
    const int16_t t = div_s(1024, g0);
    for (int i = 1; i <= kSubfr; ++i) ltp[i] = mult_r(ltp[i], t);
  }
  synth(den, m, ltp + 1, ltp + 1, s->memStp);
  std::memcpy(s->memStp, ltp + 1 + kSubfr - kOrderBwd, sizeof s->memStp);
  voksTiltCompensation_G729E_16s(parcor, ltp + 1, out);
  voksGainControl_G729_16s_I(syn, out, &s->gainPrec);
}

template <class S>
S* aligned(void* mem) {
  return reinterpret_cast<S*>((reinterpret_cast<uintptr_t>(mem) + 15) & ~uintptr_t{15});
}

int paramCount(int rate, int mode) { return rate == 0 ? 11 : (mode == 0 ? 18 : 16); }

const int16_t* paramBits(int rate, int mode) {
  return rate == 0 ? vokc::tables::kParamBits
                   : (mode == 0 ? vokc::tables::e::kBitsForward : vokc::tables::e::kBitsBackward);
}

}  // namespace

extern "C" {

VokResult vokcG729EEncoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(EncoderState) + 16);
  return vokOk;
}

VokResult vokcG729EEncoderInit(void* mem) {
  if (!mem) return vokErrNullPtr;
  int hp = 0, hy = 0;
  voksHighPassFilterSize_G729(&hp);
  voksWinHybridGetStateSize_G729E_16s(&hy);
  if (hp > static_cast<int>(sizeof(EncoderState::highPass)) || hy > static_cast<int>(sizeof(EncoderState::hybrid)))
    return vokErrInternal;
  EncoderState* s = aligned<EncoderState>(mem);
  std::memset(s, 0, sizeof *s);
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  std::memcpy(s->lspOldQ, kLspReset, sizeof kLspReset);
  for (int k = 0; k < 4; ++k) std::memcpy(s->lsfMa + k * kOrder, vokc::tables::kLsfMaReset, kOrder * 2);
  for (auto& e : s->pastQuaEn) e = -14336;
  for (auto& e : s->excErr) e = 0x4000;
  s->sharp = kSharpMin;
  s->smooth = 1;
  s->cInt = kCIntReset;
  s->globStat = 10000;
  s->prevFilter[0] = 4096;
  s->aBwdMem[0] = 4096;
  s->oldABwd[0] = 4096;
  s->oldAFwd[0] = 4096;
  voksWinHybridInit_G729E_16s(s->hybrid);
  const int16_t coeffs[6] = {vokc::tables::kHighPass140A[0], vokc::tables::kHighPass140A[1],
                             vokc::tables::kHighPass140A[2], vokc::tables::kHighPass140B[0],
                             vokc::tables::kHighPass140B[1], vokc::tables::kHighPass140B[2]};
  return voksHighPassFilterInit_G729(coeffs, s->highPass);
}

VokResult vokcG729EEncode(void* mem, const Vok16s* pcm, int rate, Vok16s* prm) {
  if (!mem || !pcm || !prm) return vokErrNullPtr;
  if (rate != vokcG729ERate8 && rate != vokcG729ERate118) return vokErrRange;
  EncoderState* s = aligned<EncoderState>(mem);

  int16_t* newSpeech = s->oldSpeech + kWindow - kFrame;
  int16_t* speech = newSpeech - 40;
  std::memcpy(newSpeech, pcm, kFrame * sizeof(int16_t));
  voksHighPassFilter_G729_16s_ISfs(newSpeech, kFrame, 12, s->highPass);
  int16_t* wsp = s->oldWsp + kPitMax;
  int16_t* exc = s->oldExc + kExcHist;
  int16_t* synthFrame = s->synth + kSynHist;
  int16_t* sig = s->signal + kOrderBwd;
  Vok16s* ana = prm;

  // Backward analysis of the past synthesis (11.8 kbit/s only).
  int16_t aBwd[2 * kBp1] = {};
  if (rate == 1) backwardAnalysis(s->synth, s->hybrid, s->oldABwd, s->aBwdMem, aBwd + kBp1);
  std::memmove(s->synth, s->synth + kFrame, kSynHist * sizeof(int16_t));
  std::memcpy(sig, speech, kFrame * sizeof(int16_t));

  // Forward analysis and LSP quantisation (the MA memory moves only when
  // the frame is sent in forward mode).
  int32_t r[13];
  int16_t exponent = 0;
  voksAutoCorr_G729B(s->oldSpeech, &exponent, r);
  voksLagWindow_G729_32s_I(r + 1, kOrder);
  int16_t aFwd[kMp1], rcAll[kOrder], err = 0;
  if (voksLevinsonDurbin_G729_32s16s(r, kOrder, aFwd, rcAll, &err) == vokOk) {
    std::memcpy(s->oldAFwd, aFwd, sizeof aFwd);
    s->oldRcFwd[0] = rcAll[0];
    s->oldRcFwd[1] = rcAll[1];
  } else {
    std::memcpy(aFwd, s->oldAFwd, sizeof aFwd);
  }
  const int16_t rcFwd[2] = {s->oldRcFwd[0], s->oldRcFwd[1]};
  int16_t lspNew[kOrder], lspNewQ[kOrder], residualQ[kOrder], codeLsp[2] = {0, 0};
  std::memcpy(lspNewQ, s->lspOldQ, sizeof lspNewQ);
  voksLPCToLSP_G729_16s(aFwd, s->lspOld, lspNew);
  int16_t ma[4 * kOrder];
  std::memcpy(ma, s->lsfMa, sizeof ma);
  voksLSPQuant_G729E_16s(lspNew, ma, residualQ, lspNewQ, codeLsp);

  int16_t at[2 * kMp1], atQ[2 * kMp1], lsfInt[kOrder], lsfNew[kOrder];
  if (s->prevMode == 0) {
    int16_t lspInt[kOrder];
    voksInterpolate_G729_16s(s->lspOld, lspNew, lspInt, kOrder);
    voksLSPToLPC_G729_16s(lspInt, at);
    voksLSPToLSF_Norm_G729_16s(lspInt, lsfInt);
    voksLSPToLSF_Norm_G729_16s(lspNew, lsfNew);
    interpolateLpc(s->lspOldQ, lspNewQ, atQ);
  } else {
    // After a backward frame the forward filters are not interpolated.
    voksLSPToLPC_G729_16s(lspNew, at);
    voksLSPToLSF_Norm_G729_16s(lspNew, lsfNew);
    std::memcpy(lsfInt, lsfNew, sizeof lsfNew);
    voksLSPToLPC_G729_16s(lspNewQ, atQ + kMp1);
    std::memcpy(atQ, atQ + kMp1, kMp1 * sizeof(int16_t));
  }
  std::memcpy(at + kMp1, aFwd, sizeof aFwd);

  int16_t mode = 0;
  if (rate == 1) {
    mode = decideMode(s, sig, atQ, aBwd, lspNew);
    *ana++ = mode;
  } else {
    if (s->globStat > 10000) {
      s->globStat = sub(s->globStat, 2621);
      if (s->globStat < 10000) s->globStat = 10000;
    }
    s->bwdDominant = 0;
  }

  int mAp, mAq;
  const int16_t *ap, *aq;
  if (mode == 0) {
    s->cInt = kCIntReset;
    mAp = mAq = kOrder;
    aq = atQ;
    ap = s->bwdDominant == 0 ? at : atQ;
    std::memcpy(s->prevFilter, atQ + kMp1, kMp1 * sizeof(int16_t));
    std::memset(s->prevFilter + kMp1, 0, (kBp1 - kMp1) * sizeof(int16_t));
    std::memset(s->aiZero + kMp1, 0, (kBp1 - kMp1) * sizeof(int16_t));
  } else {
    mAq = kOrderBwd;
    aq = aBwd;
    if (s->bwdDominant == 0) {
      mAp = kOrder;
      ap = at;
    } else {
      mAp = kOrderBwd;
      ap = aBwd;
    }
    std::memcpy(s->prevFilter, aBwd + kBp1, kBp1 * sizeof(int16_t));
  }
  std::memcpy(s->lspOld, lspNew, sizeof lspNew);

  int16_t gamma1[2], gamma2[2];
  if (mode == 0) {
    std::memcpy(s->lspOldQ, lspNewQ, sizeof lspNewQ);
    std::memcpy(s->lsfMa, ma, sizeof ma);
    *ana++ = codeLsp[0];
    *ana++ = codeLsp[1];
    perceptualWeights(s->smooth, s->larOld, gamma1, gamma2, lsfInt, lsfNew, rcFwd);
  } else {
    gamma1[0] = gamma1[1] = s->bwdDominant == 0 ? 29491 : 32112;
    gamma2[0] = gamma2[1] = 13107;
  }

  // Weighted speech and open-loop pitch.
  for (int sf = 0; sf < 2; ++sf) {
    const int16_t* p = ap + sf * (mAp + 1);
    int16_t ap1[kBp1], ap2[kBp1];
    weightAz(p, gamma1[sf], mAp, ap1);
    weightAz(p, gamma2[sf], mAp, ap2);
    residual(ap1, mAp, speech + sf * kSubfr, wsp + sf * kSubfr);
    synth(ap2, mAp, wsp + sf * kSubfr, wsp + sf * kSubfr, s->memW);
    std::memcpy(s->memW, wsp + sf * kSubfr + kSubfr - kOrderBwd, sizeof s->memW);
  }
  int16_t tOp = 0;
  voksOpenLoopPitchSearch_G729_16s(wsp, &tOp);

  int16_t t0Min = 0, t0Max = 0, centre = tOp, budget = 0;
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    const int16_t* pAp = ap + sf * (mAp + 1);
    const int16_t* pAq = aq + sf * (mAq + 1);
    int16_t ap1[kBp1], ap2[kBp1];
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
    residual(pAq, mAq, speech + sfOff, exc + sfOff);
    int16_t res2[kSubfr];
    std::memcpy(res2, exc + sfOff, sizeof res2);
    int16_t errBuf[kOrderBwd + kSubfr];
    std::memcpy(errBuf, s->memErr, sizeof s->memErr);
    synth(pAq, mAq, exc + sfOff, errBuf + kOrderBwd, s->memErr);
    int16_t xn[kSubfr];
    residual(ap1, mAp, errBuf + kOrderBwd, xn);
    synth(ap2, mAp, xn, xn, s->memW0);

    // Closed-loop pitch.
    int16_t delay[2], adaptive[kSubfr];
    voksAdaptiveCodebookSearch_G729_16s(centre, xn, h1, exc + sfOff - kExcHist, delay, adaptive, sf);
    const int16_t t0 = delay[0], frac = delay[1];
    const int16_t index = encodeLag(t0, frac, t0Min, t0Max, sf);
    *ana++ = index;
    if (sf == 0) {
      int16_t parity = pitchParity(index);
      if (rate == 1) parity = static_cast<int16_t>(parity ^ ((index >> 1) & 1));
      *ana++ = parity;
    }
    centre = t0;

    int16_t y1[kSubfr], gainPit = 0;
    voksAdaptiveCodebookGain_G729_16s(xn, h1, exc + sfOff, y1, &gainPit);
    const int16_t taming = tamingNeeded(s->excErr, t0, frac);
    if (taming == 1 && gainPit > kGpClip) gainPit = kGpClip;
    int16_t xn2[kSubfr];
    voksAdaptiveCodebookContribution_G729_16s(gainPit, y1, xn, xn2);

    int16_t code[kSubfr], y2[kSubfr];
    if (rate == 0) {
      int16_t cb[2];
      fixedCodebook8k(s->sharp, t0, h1, xn2, code, y2, cb, &budget, sf);
      *ana++ = cb[0];
      *ana++ = cb[1];
    } else {
      const int16_t pitSharp = shl(s->sharp, 1);
      for (int i = t0; i < kSubfr; ++i) h1[i] = add(h1[i], mult(h1[i - t0], pitSharp));
      for (int i = 0; i < kSubfr; ++i) res2[i] = sub(res2[i], extract_h(L_shl(L_mult(exc[sfOff + i], gainPit), 1)));
      voksFixedCodebookSearch_G729E_16s(mode, xn2, res2, h1, code, y2, ana);
      ana += 5;
      for (int i = t0; i < kSubfr; ++i) code[i] = add(code[i], mult(code[i - t0], pitSharp));
    }

    int16_t gains[2], rows[2];
    voksGainQuant_G729_16s(xn, y1, code, y2, s->pastQuaEn, gains, rows, taming);
    gainPit = gains[0];
    const int16_t gainCode = gains[1];
    *ana++ = static_cast<int16_t>((vokc::tables::kGainMap1[rows[0]] << 4) + vokc::tables::kGainMap2[rows[1]]);
    clampSharp(s->sharp, gainPit);

    for (int i = 0; i < kSubfr; ++i) {
      int32_t t = L_mult(exc[sfOff + i], gainPit);
      t = L_mac(t, code[i], gainCode);
      exc[sfOff + i] = round_fx(L_shl(t, 1));
    }
    updateExcErr(s->excErr, gainPit, t0);
    synth(pAq, mAq, exc + sfOff, synthFrame + sfOff, s->memSyn);
    std::memcpy(s->memSyn, synthFrame + sfOff + kSubfr - kOrderBwd, sizeof s->memSyn);
    for (int i = kSubfr - kOrderBwd, j = 0; i < kSubfr; ++i, ++j) {
      s->memErr[j] = sub(speech[sfOff + i], synthFrame[sfOff + i]);
      const int16_t t1 = extract_h(L_shl(L_mult(y1[i], gainPit), 1));
      const int16_t t2 = extract_h(L_shl(L_mult(y2[i], gainCode), 2));
      s->memW0[j] = sub(xn[i], add(t1, t2));
    }
  }

  std::memmove(s->oldSpeech, s->oldSpeech + kFrame, (kWindow - kFrame) * sizeof(int16_t));
  std::memmove(s->oldWsp, s->oldWsp + kFrame, kPitMax * sizeof(int16_t));
  std::memmove(s->oldExc, s->oldExc + kFrame, kExcHist * sizeof(int16_t));
  std::memmove(s->signal, s->signal + kFrame, kOrderBwd * sizeof(int16_t));
  s->prevMode = mode;
  return vokOk;
}

VokResult vokcG729EDecoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(DecoderState) + 16);
  return vokOk;
}

VokResult vokcG729EDecoderInit(void* mem) {
  if (!mem) return vokErrNullPtr;
  int hp = 0, hy = 0;
  voksHighPassFilterSize_G729(&hp);
  voksWinHybridGetStateSize_G729E_16s(&hy);
  if (hp > static_cast<int>(sizeof(DecoderState::highPass)) || hy > static_cast<int>(sizeof(DecoderState::hybrid)))
    return vokErrInternal;
  DecoderState* s = aligned<DecoderState>(mem);
  std::memset(s, 0, sizeof *s);
  std::memcpy(s->lspOld, kLspReset, sizeof kLspReset);
  for (int k = 0; k < 4; ++k) std::memcpy(s->lsfMa + k * kOrder, vokc::tables::kLsfMaReset, kOrder * 2);
  std::memcpy(s->prevLsf, vokc::tables::kLsfMaReset, kOrder * 2);
  for (auto& e : s->pastQuaEn) e = -14336;
  s->sharp = kSharpMin;
  s->prevT0 = 60;
  s->aBwdMem[0] = 4096;
  s->aTBwdMem[0] = 4096;
  s->oldABwd[0] = 4096;
  s->prevFilter[0] = 4096;
  s->cInt = kCIntReset;
  s->prevPitch = 30;
  s->cMuting = 32767;
  s->seed = 21845;
  s->voicing = 60;
  s->ga1 = kGamma1PstE;
  s->ga2 = kGamma2PstE;
  s->gaHarm = kGammaHarmE;
  s->gainPrec = 16384;
  voksWinHybridInit_G729E_16s(s->hybrid);
  const int16_t coeffs[6] = {vokc::tables::kHighPass100A[0], vokc::tables::kHighPass100A[1],
                             vokc::tables::kHighPass100A[2], vokc::tables::kHighPass100B[0],
                             vokc::tables::kHighPass100B[1], vokc::tables::kHighPass100B[2]};
  return voksHighPassFilterInit_G729(coeffs, s->highPass);
}

VokResult vokcG729EDecode(void* mem, const Vok16s* prmIn, int rate, int erased, Vok16s* pcm) {
  if (!mem || !prmIn || !pcm) return vokErrNullPtr;
  if (rate != vokcG729ERate8 && rate != vokcG729ERate118) return vokErrRange;
  DecoderState* s = aligned<DecoderState>(mem);
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
  int16_t aBwd[2 * kBp1] = {};
  std::memcpy(aBwd + kBp1, s->aBwdMem, kBp1 * sizeof(int16_t));
  if (rate == 1) backwardAnalysis(s->synthBuf, s->hybrid, s->oldABwd, s->aTBwdMem, aBwd + kBp1);
  std::memmove(s->synthBuf, s->synthBuf + kFrame, kSynHist * sizeof(int16_t));
  if (mode == 1 && s->cFeFix != 0) {
    // After a loss the backward filter returns gradually from the one held
    // before the loss.
    int16_t* a2 = aBwd + kBp1;
    const int16_t w = sub(4096, s->cFeFix);
    for (int i = 0; i < kBp1; ++i) {
      const int16_t t1 = extract_l(L_shr(L_mult(a2[i], w), 13));
      const int16_t t2 = extract_l(L_shr(L_mult(s->aBwdMem[i], s->cFeFix), 13));
      a2[i] = add(t1, t2);
    }
  }
  if (bfi && !s->prevBfi && rate == 1) std::memcpy(s->aBwdMem, aBwd + kBp1, kBp1 * sizeof(int16_t));

  int16_t atFwd[2 * kMp1];
  const int16_t* pA;
  int mAq;
  if (mode == 0) {
    int16_t lsf[kOrder], lspNew[kOrder];
    if (!bfi) {
      const int16_t idx[4] = {static_cast<int16_t>((parm[0] >> 7) & 1), static_cast<int16_t>(parm[0] & 127),
                              static_cast<int16_t>((parm[1] >> 5) & 31), static_cast<int16_t>(parm[1] & 31)};
      voksLSFDecode_G729_16s(idx, s->lsfMa, lsf);
      std::memcpy(s->prevLsf, lsf, sizeof lsf);
      s->prevMa = idx[0];
    } else {
      std::memcpy(lsf, s->prevLsf, sizeof lsf);
      voksLSFDecodeErased_G729_16s(s->prevMa, s->lsfMa, s->prevLsf);
    }
    parm += 2;
    voksLSFToLSP_G729_16s(lsf, lspNew);
    if (s->prevMode == 0) {
      interpolateLpc(s->lspOld, lspNew, atFwd);
    } else {
      voksLSPToLPC_G729_16s(lspNew, atFwd);
      std::memcpy(atFwd + kMp1, atFwd, kMp1 * sizeof(int16_t));
    }
    std::memcpy(s->lspOld, lspNew, sizeof lspNew);
    s->cInt = kCIntReset;
    pA = atFwd;
    mAq = kOrder;
    std::memcpy(s->prevFilter, atFwd + kMp1, kMp1 * sizeof(int16_t));
    std::memset(s->prevFilter + kMp1, 0, (kBp1 - kMp1) * sizeof(int16_t));
  } else {
    interpolateBackward(aBwd, s->prevFilter, s->cInt);
    pA = aBwd;
    mAq = kOrderBwd;
    std::memcpy(s->prevFilter, aBwd + kBp1, kBp1 * sizeof(int16_t));
  }

  int16_t* exc = s->oldExc + kExcHist;
  int16_t* syn = s->synthBuf + kSynHist;
  int16_t t0First = 0, t0 = 0, frac = 0;
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    const int16_t* pAs = pA + sf * (mAq + 1);
    const int16_t index = *parm++;
    bool bad = bfi;
    if (sf == 0) {
      int16_t parity = *parm++;
      if (rate == 1) parity = static_cast<int16_t>(parity + ((index >> 1) & 1));
      bad = bfi || ((pitchParity(index) ^ parity) & 1);
    }
    if (!bad) {
      decodeLag(index, sf, t0, frac);
      s->prevT0 = t0;
      s->prevT0Frac = frac;
    } else {
      t0 = s->prevT0;
      if (rate == 1) {
        frac = s->prevT0Frac;
      } else {
        frac = 0;
        s->prevT0 = add(s->prevT0, 1);
        if (s->prevT0 > kPitMax) s->prevT0 = kPitMax;
      }
    }
    if (sf == 0) t0First = t0;
    const int16_t delay[2] = {t0, frac};
    voksDecodeAdaptiveVector_G729_16s_I(delay, exc + sfOff - kExcHist);
    if (rate == 1) {
      trackPitch(s, s->prevT0, s->prevT0Frac);
    } else {
      int16_t a = s->prevT0, b = s->prevT0Frac;
      trackPitch(s, a, b);
    }

    int16_t cb[5];
    const int nCb = rate == 0 ? 2 : 5;
    for (int k = 0; k < nCb; ++k) cb[k] = bfi ? nextRandom(s->seed) : parm[k];
    parm += nCb;
    int16_t code[kSubfr];
    bool stationary = false;
    if (rate == 0) {
      decodeCode8k(cb[1], cb[0], code);
      s->statBwd = 0;
    } else {
      decodeCode118(mode, cb, code);
      if (mode == 0) {
        s->statBwd = 0;
      } else {
        s->statBwd = static_cast<int16_t>(s->statBwd + 1);
        if (s->statBwd >= 30) {
          stationary = true;
          s->statBwd = 30;
        }
      }
    }
    const int16_t sharp = shl(s->sharp, 1);
    for (int i = t0; i < kSubfr; ++i) code[i] = add(code[i], mult(code[i - t0], sharp));

    const int16_t gainIndex = *parm++;
    int32_t energy = 0;
    for (int i = 0; i < kSubfr; ++i) energy += int32_t{code[i]} * code[i];
    int16_t gains[2] = {s->gainPitMem, s->gainCodMem};
    if (!bfi) {
      const int16_t idx[2] = {static_cast<int16_t>(gainIndex >> 4), static_cast<int16_t>(gainIndex & 15)};
      voksDecodeGain_G729_16s(energy, s->pastQuaEn, idx, gains);
    } else if (rate == 0) {
      voksDecodeGain_G729_16s(energy, s->pastQuaEn, nullptr, gains);
    } else if (s->countBfi < 2) {
      // First lost subframes: a fixed pitch gain, the last code gain; the
      // predictor memory ages as for any loss.
      int16_t scratch[2] = {0, 0};
      voksDecodeGain_G729I_16s(energy, 32767, s->pastQuaEn, nullptr, scratch);
      gains[0] = stationary ? 16384 : 15564;
      gains[1] = s->gainCodMem;
    } else {
      voksDecodeGain_G729I_16s(energy, s->cMuting, s->pastQuaEn, nullptr, gains);
      if (stationary) {
        if (s->countBfi > 10) s->cMuting = mult(s->cMuting, 32604);
      } else {
        s->cMuting = mult(s->cMuting, 32112);
      }
    }
    s->gainPitch = gains[0];
    s->gainCode = gains[1];
    s->gainPitMem = s->gainPitch;
    s->gainCodMem = s->gainCode;
    clampSharp(s->sharp, s->gainPitch);

    int16_t gp = s->gainPitch, gc = s->gainCode;
    if (bfi) {
      s->countBfi = static_cast<int16_t>(s->countBfi + 1);
      if (voicing == 0)
        gp = 0;
      else
        gc = 0;
    }
    for (int i = 0; i < kSubfr; ++i) {
      int32_t t = L_mult(exc[sfOff + i], gp);
      t = L_mac(t, code[i], gc);
      exc[sfOff + i] = round_fx(L_shl(t, 1));
    }
    if (synth(pAs, mAq, exc + sfOff, syn + sfOff, s->memSyn) == vokWrnOverflow) {
      for (auto& e : s->oldExc) e = shr(e, 2);
      synth(pAs, mAq, exc + sfOff, syn + sfOff, s->memSyn);
    }
    std::memcpy(s->memSyn, syn + sfOff + kSubfr - kOrderBwd, sizeof s->memSyn);
  }
  if (energyDb(syn, kFrame) >= 8192) updateDominance(s->dom, s->bwdDominant, mode);
  std::memmove(s->oldExc, s->oldExc + kFrame, kExcHist * sizeof(int16_t));

  s->prevBfi = bfi;
  s->prevMode = mode;
  s->prevVoicing = voicing;
  if (bfi) {
    s->cFeFix = 4096;
  } else if (mode == 0) {
    s->cFeFix = 0;
  } else {
    s->cFeFix = sub(s->cFeFix, s->bwdDominant == 1 ? 410 : 2048);
    if (s->cFeFix < 0) s->cFeFix = 0;
  }

  // Post-filter: G.729's settings at 8 kbit/s; at 11.8 kbit/s a longer
  // impulse response and weights that fade while backward mode dominates.
  int longH = 20;
  if (rate == 0) {
    s->ga1 = kGamma1Pst;
    s->ga2 = kGamma2Pst;
    s->gaHarm = kGammaHarm;
  } else {
    longH = 32;
    if (modeBit == 1 && s->bwdDominant == 1) {
      s->gaHarm = sub(s->gaHarm, 410);
      if (s->gaHarm < 0) s->gaHarm = 0;
      s->ga1 = sub(s->ga1, 1147);
      if (s->ga1 < 0) s->ga1 = 0;
      s->ga2 = sub(s->ga2, 1065);
      if (s->ga2 < 0) s->ga2 = 0;
    } else {
      s->gaHarm = add(s->gaHarm, 410);
      if (s->gaHarm > kGammaHarmE) s->gaHarm = kGammaHarmE;
      s->ga1 = add(s->ga1, 1147);
      if (s->ga1 > kGamma1PstE) s->ga1 = kGamma1PstE;
      s->ga2 = add(s->ga2, 1065);
      if (s->ga2 > kGamma2PstE) s->ga2 = kGamma2PstE;
    }
  }
  const int mPst = mode == 0 ? kOrder : kOrderBwd;
  s->voicing = 0;
  for (int sf = 0; sf < 2; ++sf) {
    int16_t vo = 0;
    postFilter(s, t0First, syn + sf * kSubfr, pA + sf * (mPst + 1), mPst, longH, pcm + sf * kSubfr, &vo);
    if (vo != 0) s->voicing = vo;
  }
  voksHighPassFilter_G729_16s_ISfs(pcm, kFrame, 13, s->highPass);
  return vokOk;
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
  const int16_t* widths = paramBits(rate, mode);
  for (int p = first; p < paramCount(rate, mode); ++p)
    for (int b = widths[p - first] - 1; b >= 0; --b) bits[n++] = static_cast<Vok8u>((prm[p] >> b) & 1);
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
  const int16_t* widths = paramBits(rate, mode);
  for (int p = first; p < paramCount(rate, mode); ++p) {
    int v = 0;
    for (int b = 0; b < widths[p - first]; ++b) v = (v << 1) | (bits[n++] & 1);
    prm[p] = static_cast<Vok16s>(zero ? 0 : v);
  }
  return vokOk;
}

}  // extern "C"
