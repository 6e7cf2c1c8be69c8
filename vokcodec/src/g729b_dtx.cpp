// G.729 Annex B: voice activity detection, DTX decisions, SID parameters and
// comfort-noise excitation, in the fixed-point arithmetic of the standard.
#include "g729b_dtx.h"

#include <cstring>

#include "basic_op.h"
#include "g729b_tables.h"
#include "voksc.h"

using namespace voksc::op;

namespace vokc::g729b {

namespace {

constexpr int kSubfr = 40;
constexpr int kFrame = 80;
constexpr int kExcHist = 154;
constexpr int16_t kMax16 = 32767;

// DTX constants.
constexpr int16_t kFrSidMin = 3;        // frames between two SID frames at least
constexpr int16_t kFracThresh1 = 4855;  // filter change that asks for a new SID frame
constexpr int16_t kFracThresh2 = 3161;  // filter change that keeps the current filter
constexpr int16_t kGainSmooth0 = 28672; // comfort-noise gain smoothing, old part
constexpr int16_t kGainSmooth1 = 4096;  // and new part
constexpr int16_t kFrac1 = 19043;       // sqrt(40) x 0.5 / 2 - 1, Q15
constexpr int16_t kK0 = 24576;          // 1 - 0.5^2, Q15
constexpr int16_t kGMax = 5000;

// VAD constants.
constexpr int16_t kInitFrame = 32;
constexpr int16_t kInitCount = 20;
constexpr int kZcStart = 120;
constexpr int kZcEnd = 200;

Word32 mpy32x16(Word16 hi, Word16 lo, Word16 n) { return L_mac(L_mult(hi, n), mult(lo, n), 1); }

// Integer and fractional (Q15) parts of log2(x), x > 0; 0/0 otherwise.
void log2(Word32 x, Word16& exponent, Word16& fraction) {
  if (x <= 0) {
    exponent = 0;
    fraction = 0;
    return;
  }
  const Word16 e = norm_l(x);
  x = L_shl(x, e);
  exponent = sub(30, e);
  x = L_shr(x, 9);
  Word16 i = extract_h(x);
  x = L_shr(x, 1);
  const Word16 a = static_cast<Word16>(extract_l(x) & 0x7FFF);
  i = sub(i, 32);
  const int16_t* t = vokc::tables::kLog2Table;
  Word32 y = L_deposit_h(t[i]);
  y = L_msu(y, sub(t[i], t[i + 1]), a);
  fraction = extract_h(y);
}

// Square root by 14 bisection steps (result scaled as the SID gain needs).
Word16 sqrtBisect(Word32 num) {
  Word16 rez = 0, step = 0x4000;
  for (int i = 0; i < 14; ++i) {
    const Word16 t = add(rez, step);
    if (L_sub(num, L_mult(t, t)) >= 0) rez = t;
    step = shr(step, 1);
  }
  return rez;
}

Word16 nextRandom(int16_t& seed) {
  seed = extract_l(L_add(L_shr(L_mult(seed, 31821), 1), 13849));
  return seed;
}

// Quantised filters of both subframes: the mid-point of the LSP sets, then
// the new set.
void interpolateLpc(const int16_t* lspOld, const int16_t* lspNew, int16_t* az) {
  int16_t lsp[kOrder];
  voksInterpolate_G729_16s(lspOld, lspNew, lsp, kOrder);
  voksLSPToLPC_G729_16s(lsp, az);
  voksLSPToLPC_G729_16s(lspNew, az + kMp1);
}

// Sum of nb autocorrelation records (kMp1 upper words each, with their
// exponents), normalised into 16 bits; *shSum gets the sum's exponent.
void sumAcf(const int16_t* acf, const int16_t* shAcf, int16_t* sum, int16_t* shSum, int nb) {
  Word16 sh0 = shAcf[0];
  for (int i = 1; i < nb; ++i)
    if (shAcf[i] < sh0) sh0 = shAcf[i];
  sh0 = add(sh0, 14);  // 2 bits of headroom
  Word32 tab[kMp1] = {};
  for (int i = 0; i < nb; ++i) {
    const Word16 t = sub(sh0, shAcf[i]);
    for (int j = 0; j < kMp1; ++j) tab[j] = L_add(tab[j], L_shl(L_deposit_l(acf[i * kMp1 + j]), t));
  }
  const Word16 n = norm_l(tab[0]);
  for (int i = 0; i < kMp1; ++i) sum[i] = extract_h(L_shl(tab[i], n));
  *shSum = add(sh0, sub(n, 16));
}

// Levinson on a record of upper words.
void levinsonWords(LpFallback& fb, const int16_t* words, int16_t* a, int16_t* err) {
  int32_t r[kMp1];
  for (int i = 0; i < kMp1; ++i) r[i] = L_deposit_h(words[i]);
  int16_t rc[2];
  levinson(fb, r, a, rc, err);
}

// Autocorrelation of a filter's coefficients, normalised.
void coeffAutocorr(const int16_t* coeff, int16_t* rCoeff, int16_t& sh) {
  Word32 acc = 0;
  for (int j = 0; j <= kOrder; ++j) acc = L_mac(acc, coeff[j], coeff[j]);
  sh = norm_l(acc);
  rCoeff[0] = round_fx(L_shl(acc, sh));
  for (int i = 1; i <= kOrder; ++i) {
    acc = 0;
    for (int j = 0; j <= kOrder - i; ++j) acc = L_mac(acc, coeff[j], coeff[j + i]);
    rCoeff[i] = round_fx(L_shl(acc, sh));
  }
}

// Whether the residual energy of the current autocorrelation through the
// filter described by rCoeff exceeds alpha (1 + thresh): the filter no
// longer fits the noise.
bool filterChanged(const int16_t* rCoeff, int16_t shRCoeff, const int16_t* acf, int16_t alpha, int16_t thresh) {
  Word16 sh[2] = {0, 0};
  int ind = 1;
  Word32 t0 = 0;
  for (;;) {
    bool ovf = false;
    t0 = L_shr(L_mult_o(shr(rCoeff[0], sh[0]), shr(acf[0], sh[1]), ovf), 1);
    for (int i = 1; i <= kOrder; ++i) t0 = L_mac_o(t0, shr(rCoeff[i], sh[0]), shr(acf[i], sh[1]), ovf);
    if (!ovf) break;
    sh[ind] = add(sh[ind], 1);
    ind = 1 - ind;
  }
  Word32 t1 = L_add(L_deposit_l(mult_r(alpha, thresh)), L_deposit_l(alpha));
  t1 = L_shl(t1, sub(add(shRCoeff, 9), add(sh[0], sh[1])));
  return L_sub(t0, t1) > 0;
}

// Quantised energy (dB steps) and index of the SID gain.
Word16 quantEnergy(Word32 x, Word16 sh, Word16& enerq) {
  Word16 e, f;
  log2(x, e, f);
  Word16 eTmp = add(shl(sub(e, sh), 10), mult_r(f, 1024));  // 2^10 log2(x 2^-sh)
  if (sub(eTmp, -2721) <= 0) {  // -8 dB
    enerq = -12;
    return 0;
  }
  if (sub(eTmp, 22111) > 0) {  // 65 dB
    enerq = 66;
    return 31;
  }
  Word16 index;
  if (sub(eTmp, 4762) <= 0) {  // 14 dB
    eTmp = add(eTmp, 3401);
    index = mult(eTmp, 24);
    if (index < 1) index = 1;
    enerq = sub(shl(index, 2), 8);
    return index;
  }
  eTmp = sub(eTmp, 340);
  index = sub(shr(mult(eTmp, 193), 2), 1);
  if (index < 6) index = 6;
  enerq = add(shl(index, 1), 4);
  return index;
}

// SID gain from the average of nb residual energies (nb = 0: one energy
// given as the excitation energy of a frame).
void quantSidGain(const int16_t* ener, const int16_t* shEner, int nb, Word16& enerq, Word16& index) {
  Word32 x;
  Word16 sh1, hi, lo;
  if (nb == 0) {
    L_Extract(L_shl(L_deposit_l(ener[0]), shEner[0]), hi, lo);
    x = mpy32x16(hi, lo, vokc::tables::kSidEnergyFactor[0]);
    sh1 = 0;
  } else {
    sh1 = shEner[0];
    for (int i = 1; i < nb; ++i)
      if (shEner[i] < sh1) sh1 = shEner[i];
    sh1 = add(sh1, static_cast<Word16>(16 - vokc::tables::kSidEnergyMargin[nb]));
    x = 0;
    for (int i = 0; i < nb; ++i) x = L_add(x, L_shl(L_deposit_l(ener[i]), sub(sh1, shEner[i])));
    L_Extract(x, hi, lo);
    x = mpy32x16(hi, lo, vokc::tables::kSidEnergyFactor[nb]);
  }
  index = quantEnergy(x, sh1, enerq);
}

void updateSumAcf(CngEncoder& c) {
  std::memmove(c.sumAcf + kMp1, c.sumAcf, 2 * kMp1 * sizeof(int16_t));
  c.shSumAcf[2] = c.shSumAcf[1];
  c.shSumAcf[1] = c.shSumAcf[0];
  sumAcf(c.acf, c.shAcf, c.sumAcf, &c.shSumAcf[0], 2);
}

// Filter of the long-term average autocorrelation.
void pastFilter(CngEncoder& c, LpFallback& fb, int16_t* coeff) {
  int16_t s[kMp1], sh;
  sumAcf(c.sumAcf, c.shSumAcf, s, &sh, 3);
  if (s[0] == 0) {
    coeff[0] = 4096;
    for (int i = 1; i <= kOrder; ++i) coeff[i] = 0;
    return;
  }
  int16_t err = 0;
  levinsonWords(fb, s, coeff, &err);
}

// VAD decision rules on the differential parameters (1 voice, 0 noise).
int16_t makeDecision(Word16 dSLE, Word16 dSE, Word16 sd, Word16 dSZC) {
  Word32 acc = L_add(L_shr(L_mac(L_mult(dSZC, -14680), 8192, -28521), 8), L_deposit_h(sd));
  if (acc > 0) return 1;
  acc = L_add(L_shr(L_mac(L_mult(dSZC, 19065), 8192, -19446), 7), L_deposit_h(sd));
  if (acc > 0) return 1;
  acc = L_add(L_shr(L_mac(L_mult(dSZC, 20480), 8192, 16384), 2), L_deposit_h(dSE));
  if (acc < 0) return 1;
  acc = L_add(L_shr(L_mac(L_mult(dSZC, -16384), 8192, 19660), 2), L_deposit_h(dSE));
  if (acc < 0) return 1;
  acc = L_mac(L_mult(dSE, 32767), 1024, 30802);
  if (acc < 0) return 1;
  acc = L_mac(L_mac(L_mult(sd, -28160), 64, 19988), dSE, 512);
  if (acc < 0) return 1;
  acc = L_mac(L_mult(sd, 32767), 32, -30199);
  if (acc > 0) return 1;
  acc = L_add(L_shr(L_mac(L_mult(dSZC, -20480), 8192, 22938), 2), L_deposit_h(dSE));
  if (acc < 0) return 1;
  acc = L_add(L_shr(L_mac(L_mult(dSZC, 23831), 4096, 31576), 2), L_deposit_h(dSE));
  if (acc < 0) return 1;
  acc = L_mac(L_mult(dSE, 32767), 2048, 17367);
  if (acc < 0) return 1;
  acc = L_mac(L_mac(L_mult(sd, -22400), 32, 25395), dSLE, 256);
  if (acc < 0) return 1;
  acc = L_add(L_mac(L_mult(dSE, -30427), 256, -29959), L_deposit_h(dSLE));
  if (acc > 0) return 1;
  acc = L_add(L_mac(L_mult(dSE, -23406), 512, 28087), L_deposit_h(dSLE));
  if (acc < 0) return 1;
  acc = L_mac(L_mac(L_mult(dSE, 24576), 1024, 29491), dSLE, 16384);
  if (acc < 0) return 1;
  return 0;
}

// Energy in the detector's log scale from a normalised autocorrelation
// value and the frame's exponent.
Word16 logEnergy(Word32 acc, Word16 expR0) {
  Word16 e, f;
  log2(acc, e, f);
  acc = mpy32x16(e, f, 9864);
  acc = L_mac(acc, 9864, sub(sub(expR0, 1), 1));
  acc = L_shl(acc, 11);
  return sub(extract_h(acc), 4875);
}

}  // namespace

void levinson(LpFallback& fb, const int32_t* r, int16_t* a, int16_t* rc, int16_t* err) {
  int16_t rc2[2] = {0, 0};
  int16_t e = 0;
  if (voksLevinsonDurbin_G729B(r, a, rc2, &e) == vokOk) {
    std::memcpy(fb.a, a, sizeof fb.a);
    fb.rc[0] = rc2[0];
    fb.rc[1] = rc2[1];
    *err = e;
  } else {
    std::memcpy(a, fb.a, sizeof fb.a);
  }
  rc[0] = fb.rc[0];
  rc[1] = fb.rc[1];
}

// ---- VAD ------------------------------------------------------------------

void vadInit(Vad& v) {
  std::memset(&v, 0, sizeof v);
  v.flag = 1;
  v.min = kMax16;
}

int16_t vadDecide(Vad& v, int16_t rc1, const int16_t* lsf, const int32_t* r, int16_t expR0, const int16_t* sig,
                  int16_t frame, int16_t prevVad, int16_t pprevVad) {
  int16_t rh[13], rl[13];
  for (int i = 0; i < 13; ++i) L_Extract(r[i], rh[i], rl[i]);

  // Full-band and low-band energies.
  const Word16 energy = logEnergy(L_Comp(rh[0], rl[0]), expR0);
  Word32 acc = 0;
  for (int i = 1; i <= 12; ++i) acc = L_mac(acc, rh[i], vokc::tables::kVadLowBandCorr[i]);
  acc = L_shl(acc, 1);
  acc = L_mac(acc, rh[0], vokc::tables::kVadLowBandCorr[0]);
  const Word16 energyLow = logEnergy(acc, expR0);

  // Spectral distortion against the mean LSFs, zero crossings.
  acc = 0;
  for (int i = 0; i < kOrder; ++i) {
    const Word16 d = sub(lsf[i], v.meanLsf[i]);
    acc = L_mac(acc, d, d);
  }
  const Word16 sd = extract_h(acc);
  Word16 zc = 0;
  for (int i = kZcStart + 1; i <= kZcEnd; ++i)
    if (mult(sig[i - 1], sig[i]) < 0) zc = add(zc, 410);

  // Minimum of the energy over the last 128 frames, tracked in 8-frame blocks.
  if (frame < 129) {
    if (energy < v.min) {
      v.min = energy;
      v.prevMin = energy;
    }
    if ((frame & 7) == 0) {
      v.minBuffer[(frame >> 3) - 1] = v.min;
      v.min = kMax16;
    }
  }
  if ((frame & 7) == 0) {
    v.prevMin = v.minBuffer[0];
    for (int i = 1; i < 16; ++i)
      if (v.minBuffer[i] < v.prevMin) v.prevMin = v.minBuffer[i];
  }
  if (frame >= 129) {
    if ((frame & 7) == 1) {
      v.min = v.prevMin;
      v.nextMin = kMax16;
    }
    if (energy < v.min) v.min = energy;
    if (energy < v.nextMin) v.nextMin = energy;
    if ((frame & 7) == 0) {
      std::memmove(v.minBuffer, v.minBuffer + 1, 15 * sizeof(int16_t));
      v.minBuffer[15] = v.nextMin;
      v.prevMin = v.minBuffer[0];
      for (int i = 1; i < 16; ++i)
        if (v.minBuffer[i] < v.prevMin) v.prevMin = v.minBuffer[i];
    }
  }

  int16_t marker = 1;
  // Start-up: average the louder frames.
  if (frame <= kInitFrame) {
    if (energy < 3072) {
      marker = 0;
      v.lessCount++;
    } else {
      marker = 1;
      v.meanE = extract_h(L_mac(L_deposit_h(v.meanE), energy, 1024));
      v.meanSZC = extract_h(L_mac(L_deposit_h(v.meanSZC), zc, 1024));
      for (int i = 0; i < kOrder; ++i) v.meanLsf[i] = extract_h(L_mac(L_deposit_h(v.meanLsf[i]), lsf[i], 1024));
    }
  }

  if (frame >= kInitFrame) {
    if (frame == kInitFrame) {
      const Word16 f = vokc::tables::kVadInitFactor[v.lessCount];
      const Word16 s = vokc::tables::kVadInitShift[v.lessCount];
      v.meanE = extract_h(L_shl(L_mult(v.meanE, f), s));
      v.meanSZC = extract_h(L_shl(L_mult(v.meanSZC, f), s));
      for (int i = 0; i < kOrder; ++i) v.meanLsf[i] = extract_h(L_shl(L_mult(v.meanLsf[i], f), s));
      v.meanSE = sub(v.meanE, 2048);
      v.meanSLE = sub(v.meanE, 2458);
    }
    const Word16 dSE = sub(v.meanSE, energy);
    const Word16 dSLE = sub(v.meanSLE, energyLow);
    const Word16 dSZC = sub(v.meanSZC, zc);
    marker = energy < 3072 ? 0 : makeDecision(dSLE, dSE, sd, dSZC);

    // Smoothing of the decision: hangover after voice.
    v.vFlag = 0;
    if (prevVad == 1 && marker == 0 && add(dSE, 410) < 0 && sub(energy, 3072) > 0) {
      marker = 1;
      v.vFlag = 1;
    }
    if (v.flag == 1) {
      if (pprevVad == 1 && prevVad == 1 && marker == 0 && sub(abs_s(sub(v.prevEnergy, energy)), 614) <= 0) {
        v.countExt++;
        marker = 1;
        v.vFlag = 1;
        if (v.countExt <= 4) {
          v.flag = 1;
        } else {
          v.countExt = 0;
          v.flag = 0;
        }
      }
    } else {
      v.flag = 1;
    }
    if (marker == 0) v.countSil++;
    if (marker == 1 && v.countSil > 10 && sub(sub(energy, v.prevEnergy), 614) <= 0) {
      marker = 0;
      v.countSil = 0;
    }
    if (marker == 1) v.countSil = 0;
    if (sub(sub(energy, 614), v.meanSE) < 0 && frame > 128 && !v.vFlag && rc1 < 19661) marker = 0;

    // Background noise update.
    if (sub(sub(energy, 614), v.meanSE) < 0 && rc1 < 24576 && sd < 83) {
      v.countUpdate++;
      Word16 coef, cCoef, coefZc, cCoefZc, coefSd, cCoefSd;
      if (v.countUpdate < kInitCount) {
        coef = 24576, cCoef = 8192, coefZc = 26214, cCoefZc = 6554, coefSd = 19661, cCoefSd = 13017;
      } else if (v.countUpdate < kInitCount + 10) {
        coef = 31130, cCoef = 1638, coefZc = 30147, cCoefZc = 2621, coefSd = 21299, cCoefSd = 11469;
      } else if (v.countUpdate < kInitCount + 20) {
        coef = 31785, cCoef = 983, coefZc = 30802, cCoefZc = 1966, coefSd = 22938, cCoefSd = 9830;
      } else if (v.countUpdate < kInitCount + 30) {
        coef = 32440, cCoef = 328, coefZc = 31457, cCoefZc = 1311, coefSd = 24576, cCoefSd = 8192;
      } else if (v.countUpdate < kInitCount + 40) {
        coef = 32604, cCoef = 164, coefZc = 32440, cCoefZc = 328, coefSd = 24576, cCoefSd = 8192;
      } else {
        coef = 32604, cCoef = 164, coefZc = 32702, cCoefZc = 66, coefSd = 24576, cCoefSd = 8192;
      }
      v.meanSE = extract_h(L_mac(L_mult(coef, v.meanSE), cCoef, energy));
      v.meanSLE = extract_h(L_mac(L_mult(coef, v.meanSLE), cCoef, energyLow));
      v.meanSZC = extract_h(L_mac(L_mult(coefZc, v.meanSZC), cCoefZc, zc));
      for (int i = 0; i < kOrder; ++i)
        v.meanLsf[i] = extract_h(L_mac(L_mult(coefSd, v.meanLsf[i]), cCoefSd, lsf[i]));
    }
    if (frame > 128 && ((sub(v.meanSE, v.min) < 0 && sd < 83) || sub(v.meanSE, v.min) > 2048)) {
      v.meanSE = v.min;
      v.countUpdate = 0;
    }
  }
  v.prevEnergy = energy;
  return marker;
}

// ---- encoder DTX ------------------------------------------------------------

void cngEncoderInit(CngEncoder& c) {
  std::memset(&c, 0, sizeof c);
  for (auto& s : c.shSumAcf) s = 40;
  for (auto& s : c.shAcf) s = 40;
  for (auto& s : c.shEner) s = 40;
}

void cngUpdate(CngEncoder& c, const int32_t* r, int16_t expR0, int16_t vad) {
  std::memmove(c.acf + kMp1, c.acf, kMp1 * sizeof(int16_t));
  c.shAcf[1] = c.shAcf[0];
  c.shAcf[0] = negate(add(16, expR0));
  for (int i = 0; i < kMp1; ++i) c.acf[i] = extract_h(r[i]);
  c.frCur = add(c.frCur, 1);
  if (c.frCur == 2) {
    c.frCur = 0;
    if (vad != 0) updateSumAcf(c);
  }
}

void comfortExcitation(int16_t curGain, int16_t* exc, int16_t& seed, int16_t* gpOut, int16_t* t0Out) {
  if (curGain == 0) {
    std::memset(exc, 0, kFrame * sizeof(int16_t));
    for (int k = 0; k < 2; ++k) {
      gpOut[k] = 0;
      t0Out[k] = kSubfr + 1;
    }
    return;
  }
  for (int sf = 0; sf < 2; ++sf) {
    int16_t* cur = exc + sf * kSubfr;
    // Random adaptive delay, pulse positions and signs, adaptive gain.
    Word16 r = nextRandom(seed);
    Word16 frac = sub(static_cast<Word16>(r & 3), 1);
    if (frac == 2) frac = 0;
    r = shr(r, 2);
    const Word16 t0 = add(static_cast<Word16>(r & 0x3F), 40);
    r = shr(r, 6);
    int pos[4], sign[4];
    pos[0] = (r & 7) * 5;
    r = shr(r, 3);
    sign[0] = r & 1;
    r = shr(r, 1);
    pos[1] = (r & 7) * 5 + 1;
    r = shr(r, 3);
    sign[1] = r & 1;
    r = nextRandom(seed);
    pos[2] = (r & 7) * 5 + 2;
    r = shr(r, 3);
    sign[2] = r & 1;
    r = shr(r, 1);
    const Word16 t = static_cast<Word16>(r & 0xF);
    pos[3] = (t & 1) + 3 + ((t >> 1) & 7) * 5;
    r = shr(r, 4);
    sign[3] = r & 1;
    Word16 gp = static_cast<Word16>(nextRandom(seed) & 0x1FFF);  // below 0.5, Q14
    const Word16 gp2 = shl(gp, 1);

    // Gaussian part scaled to 0.5 x gain x sqrt(40 / energy).
    int16_t excg[kSubfr];
    voksRandomNoiseExcitation_G729B_16s(&seed, excg, kSubfr);
    Word32 acc = 0;
    for (int i = 0; i < kSubfr; ++i) acc = L_mac(acc, excg[i], excg[i]);
    int32_t inv = L_shr(acc, 1);
    voksInvSqrt_32s_I(&inv, 1);
    Word16 hi, lo;
    L_Extract(inv, hi, lo);
    acc = mpy32x16(hi, lo, add(curGain, mult_r(curGain, kFrac1)));
    Word16 sh = norm_l(acc);
    const Word16 fact = extract_h(L_shl(acc, sh));
    sh = sub(sh, 14);
    for (int i = 0; i < kSubfr; ++i) excg[i] = shr_r(mult_r(excg[i], fact), sh);

    // Adaptive part plus Gaussian part.
    int16_t delay[2] = {t0, frac};
    voksDecodeAdaptiveVector_G729_16s_I(delay, cur - kExcHist);
    Word16 mx = 0;
    for (int i = 0; i < kSubfr; ++i) {
      cur[i] = add(mult_r(cur[i], gp2), excg[i]);
      const Word16 a = abs_s(cur[i]);
      if (a > mx) mx = a;
    }
    sh = 0;
    if (mx != 0) {
      sh = sub(3, norm_s(mx));
      if (sh <= 0) sh = 0;
    }
    int16_t excs[kSubfr];
    for (int i = 0; i < kSubfr; ++i) excs[i] = shr(cur[i], sh);
    Word32 ener = 0;
    for (int i = 0; i < kSubfr; ++i) ener = L_mac(ener, excs[i], excs[i]);
    Word16 inter = 0;
    for (int i = 0; i < 4; ++i) inter = sign[i] == 0 ? sub(inter, excs[pos[i]]) : add(inter, excs[pos[i]]);

    // Pulse gain g solving the energy equation; fall back to the Gaussian
    // part alone when it has no real root.
    const Word16 g40 = extract_l(L_shr(L_mult(curGain, kSubfr), 6));
    const Word32 k = L_mult(curGain, g40);
    acc = L_sub(L_shr(k, add(1, shl(sh, 1))), ener);
    inter = shr(inter, 1);
    acc = L_mac(acc, inter, inter);
    sh = add(sh, 1);
    if (acc < 0) {
      std::memcpy(cur, excg, sizeof excg);
      const Word16 bits = static_cast<Word16>(abs_s(excg[pos[0]]) | abs_s(excg[pos[1]]) | abs_s(excg[pos[2]]) |
                                              abs_s(excg[pos[3]]));
      sh = (bits & 0x4000) == 0 ? 1 : 2;
      inter = 0;
      for (int i = 0; i < 4; ++i) {
        const Word16 v = shr(excg[pos[i]], sh);
        inter = sign[i] == 0 ? sub(inter, v) : add(inter, v);
      }
      L_Extract(k, hi, lo);
      acc = mpy32x16(hi, lo, kK0);
      acc = L_shr(acc, sub(shl(sh, 1), 1));
      acc = L_mac(acc, inter, inter);
      gp = 0;
    }
    const Word16 root = sqrtBisect(acc);
    Word16 x1 = sub(root, inter);
    const Word16 x2 = negate(add(inter, root));
    if (abs_s(x2) < abs_s(x1)) x1 = x2;
    Word16 g = shr_r(x1, sub(2, sh));
    if (g >= 0) {
      if (g > kGMax) g = kGMax;
    } else if (add(g, kGMax) < 0) {
      g = negate(kGMax);
    }
    for (int i = 0; i < 4; ++i) cur[pos[i]] = sign[i] != 0 ? add(cur[pos[i]], g) : sub(cur[pos[i]], g);
    gpOut[sf] = gp;
    t0Out[sf] = t0;
  }
}

int cngEncode(CngEncoder& c, LpFallback& fb, bool annexA, int16_t pastVad, int16_t* lspOldQ, int16_t* lsfMa,
              int16_t* exc, int16_t& seed, int16_t* aq, int16_t* prm, int16_t* gp, int16_t* t0) {
  c.ener[1] = c.ener[0];
  c.shEner[1] = c.shEner[0];
  int16_t curAcf[kMp1];
  sumAcf(c.acf, c.shAcf, curAcf, &c.shEner[0], 2);
  int16_t curCoeff[kMp1] = {4096};
  if (curAcf[0] == 0)
    c.ener[0] = 0;
  else
    levinsonWords(fb, curAcf, curCoeff, &c.ener[0]);

  Word16 energyq = 0, gainIndex = 0;
  int type;
  if (pastVad != 0) {
    type = kSid;
    c.countFr0 = 0;
    c.nbEner = 1;
    quantSidGain(c.ener, c.shEner, c.nbEner, energyq, gainIndex);
  } else {
    c.nbEner = add(c.nbEner, 1);
    if (c.nbEner > 2) c.nbEner = 2;
    quantSidGain(c.ener, c.shEner, c.nbEner, energyq, gainIndex);
    if (filterChanged(c.rCoeff, c.shRCoeff, curAcf, c.ener[0], kFracThresh1)) c.flagChange = 1;
    if (sub(abs_s(sub(c.prevEnergy, energyq)), 2) > 0) c.flagChange = 1;
    c.countFr0 = add(c.countFr0, 1);
    if (c.countFr0 < kFrSidMin) {
      type = kUntransmitted;
    } else {
      type = c.flagChange != 0 ? kSid : kUntransmitted;
      c.countFr0 = kFrSidMin;
    }
  }

  if (type == kSid) {
    c.countFr0 = 0;
    c.flagChange = 0;
    pastFilter(c, fb, c.pastCoeff);
    coeffAutocorr(c.pastCoeff, c.rCoeff, c.shRCoeff);
    const int16_t* coeff = c.pastCoeff;
    if (filterChanged(c.rCoeff, c.shRCoeff, curAcf, c.ener[0], kFracThresh2)) {
      coeff = curCoeff;
      coeffAutocorr(curCoeff, c.rCoeff, c.shRCoeff);
    }
    int16_t lsp[kOrder], lsf[kOrder], lsfq[kOrder];
    if (annexA)
      voksLPCToLSP_G729A_16s(coeff, lspOldQ, lsp);
    else
      voksLPCToLSP_G729_16s(coeff, lspOldQ, lsp);
    voksLSPToLSF_G729_16s(lsp, lsf);
    voksLSFQuant_G729B_16s(lsf, lsfMa, lsfq, prm);
    voksLSFToLSP_G729_16s(lsfq, c.lspSidQ);
    c.prevEnergy = energyq;
    prm[3] = gainIndex;
    c.sidGain = vokc::tables::kSidGain[gainIndex];
  }

  if (pastVad != 0)
    c.curGain = c.sidGain;
  else
    c.curGain = add(mult_r(c.curGain, kGainSmooth0), mult_r(c.sidGain, kGainSmooth1));
  comfortExcitation(c.curGain, exc, seed, gp, t0);
  interpolateLpc(lspOldQ, c.lspSidQ, aq);
  std::memcpy(lspOldQ, c.lspSidQ, sizeof c.lspSidQ);
  if (c.frCur == 0) updateSumAcf(c);
  return type;
}

// ---- decoder ------------------------------------------------------------------

void cngDecoderInit(CngDecoder& c) {
  static const int16_t kLspSidStart[kOrder] = {31441, 27566, 21458, 13612, 4663, -4663, -13612, -21458, -27566, -31441};
  std::memcpy(c.lspSid, kLspSidStart, sizeof c.lspSid);
  c.curGain = 0;
  c.sidGain = vokc::tables::kSidGain[0];
  c.sidSav = 0;
  c.shSidSav = 1;
}

void cngSaveEnergy(CngDecoder& c, const int16_t* exc) {
  Word32 acc = 0;
  for (int i = 0; i < kFrame; ++i) acc = L_mac(acc, exc[i], exc[i]);
  const Word16 sh = norm_l(acc);
  c.sidSav = round_fx(L_shl(acc, sh));
  c.shSidSav = sub(16, sh);
}

void cngDecode(CngDecoder& c, int pastFrameType, const int16_t* sid, int16_t* lsfMa, int16_t* exc, int16_t* lspOld,
               int16_t* az, int16_t& seed) {
  if (sid) {
    c.sidGain = vokc::tables::kSidGain[sid[3]];
    int16_t lsf[kOrder];
    voksLSFDecode_G729B_16s(sid, lsfMa, lsf);
    voksLSFToLSP_G729_16s(lsf, c.lspSid);
  } else if (pastFrameType == kSpeech) {
    Word16 enerq, index;
    quantSidGain(&c.sidSav, &c.shSidSav, 0, enerq, index);
    c.sidGain = vokc::tables::kSidGain[index];
  }
  if (pastFrameType == kSpeech)
    c.curGain = c.sidGain;
  else
    c.curGain = add(mult_r(c.curGain, kGainSmooth0), mult_r(c.sidGain, kGainSmooth1));
  int16_t gp[2], t0[2];
  comfortExcitation(c.curGain, exc, seed, gp, t0);
  interpolateLpc(lspOld, c.lspSid, az);
  std::memcpy(lspOld, c.lspSid, sizeof c.lspSid);
}

}  // namespace vokc::g729b
