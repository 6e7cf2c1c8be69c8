// Voice activity detection (with the music detector of the integrated
// coder) and the comfort-noise encoder: noise description from averaged
// autocorrelations, SID decision, SID LSF and gain quantisation, and the
// random excitation that keeps encoder and decoder in step.
#include "g729i_dtx.h"

#include <cstring>

#include "vokcodec.h"
#include "checked_call.h"

namespace vokc::g729i {

namespace {

constexpr int16_t kNoise = 0;
constexpr int16_t kVoice = 1;
constexpr int16_t kInitFrame = 32;
constexpr int16_t kInitCount = 20;
constexpr int16_t kMax16 = 32767;

// Low-band filter correlation of the detector's low-band energy.
constexpr int16_t kLowBand[13] = {7869, 7011, 4838, 2299, 321, -660, -782, -484, -164, 3, 39, 21, 4};
// 1 / count of the initial mean (factor and shift per count of low frames).
constexpr int16_t kInitShift[33] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                    2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 5, 0};
constexpr int16_t kInitFactor[33] = {32767, 16913, 17476, 18079, 18725, 19418, 20165, 20972, 21845, 22795, 23831,
                                     24966, 26214, 27594, 29127, 30840, 32767, 17476, 18725, 20165, 21845, 23831,
                                     26214, 29127, 32767, 18725, 21845, 26214, 32767, 21845, 32767, 32767, 0};

// Levinson on a 16-bit autocorrelation, falling back to the last stable
// filter (which a successful run replaces).  Returns false on fallback
// (err is then left alone).
bool levinson16(const int16_t* acf, int16_t* a, int16_t* oldA, int16_t* oldRc, int16_t* err) {
  int32_t r[kMp1];
  for (int i = 0; i < kMp1; ++i) r[i] = L_deposit_h(acf[i]);
  int16_t rc[kOrder];
  int16_t e = 0;
  if (VOKC_CALL(voksLevinsonDurbin_G729_32s16s, r, kOrder, a, rc, &e) == vokOk) {
    std::memcpy(oldA, a, kMp1 * sizeof(int16_t));
    oldRc[0] = rc[0];
    oldRc[1] = rc[1];
    if (err) *err = e;
    return true;
  }
  std::memcpy(a, oldA, kMp1 * sizeof(int16_t));
  return false;
}

}  // namespace

void DtxEncoder::reset() {
  std::memset(static_cast<void*>(this), 0, sizeof *this);
  pastVad = ppastVad = 1;
  seed = kNoiseSeed;
  flag = 1;
  minEnergy = kMax16;
  meanPgain = 8192;
  for (auto& v : shSumAcf) v = 40;
  for (auto& v : shAcf) v = 40;
  for (auto& v : shEner) v = 40;
}

int16_t DtxEncoder::detect(const int16_t* rc, const int16_t* lsf, const int32_t* r, int16_t expR0,
                           const int16_t* window, int rate, const int16_t* lags, const int16_t* pgains,
                           int16_t prevLpMode) {
  frame = frame == 32767 ? 256 : static_cast<int16_t>(frame + 1);
  const int16_t frm = frame;
  Word16 rh[13], rl[13];
  for (int i = 0; i < 13; ++i) L_Extract(r[i], rh[i], rl[i]);

  // Features: full-band and low-band energy, spectral distortion, zero
  // crossings.
  const int16_t energy = energyLog(L_Comp(rh[0], rl[0]), expR0);
  const int16_t energyDbFull = energy;
  Word32 acc = 0;
  for (int i = 1; i <= 12; ++i) acc = L_mac(acc, rh[i], kLowBand[i]);
  acc = L_shl(acc, 1);
  acc = L_mac(acc, rh[0], kLowBand[0]);
  const int16_t energyLow = energyLog(acc, expR0);
  acc = 0;
  for (int i = 0; i < kOrder; ++i) {
    const int16_t d = sub(lsf[i], meanLsf[i]);
    acc = L_mac(acc, d, d);
  }
  const int16_t sd = extract_h(acc);
  int16_t zc = 0;
  for (int i = 121; i <= 200; ++i)
    if (mult(window[i - 1], window[i]) < 0) zc = add(zc, 410);

  // Running minimum of the energy over the last 128 frames.
  if (frm < 129) {
    if (energy < minEnergy) {
      minEnergy = energy;
      prevMin = energy;
    }
    if ((frm & 7) == 0) {
      minBuffer[sub(shr(frm, 3), 1)] = minEnergy;
      minEnergy = kMax16;
    }
  }
  if ((frm & 7) == 0) {
    prevMin = minBuffer[0];
    for (int i = 1; i < 16; ++i)
      if (minBuffer[i] < prevMin) prevMin = minBuffer[i];
  }
  if (frm >= 129) {
    if ((frm & 7) == 1) {
      minEnergy = prevMin;
      nextMin = kMax16;
    }
    if (energy < minEnergy) minEnergy = energy;
    if (energy < nextMin) nextMin = energy;
    if ((frm & 7) == 0) {
      for (int i = 0; i < 15; ++i) minBuffer[i] = minBuffer[i + 1];
      minBuffer[15] = nextMin;
      prevMin = minBuffer[0];
      for (int i = 1; i < 16; ++i)
        if (minBuffer[i] < prevMin) prevMin = minBuffer[i];
    }
  }

  int16_t marker = kVoice;
  if (frm <= kInitFrame) {
    if (energy < 3072) {
      marker = kNoise;
      ++lessCount;
    } else {
      marker = kVoice;
      meanE = extract_h(L_mac(L_deposit_h(meanE), energy, 1024));
      meanSZC = extract_h(L_mac(L_deposit_h(meanSZC), zc, 1024));
      for (int i = 0; i < kOrder; ++i) meanLsf[i] = extract_h(L_mac(L_deposit_h(meanLsf[i]), lsf[i], 1024));
    }
  }
  if (frm >= kInitFrame) {
    if (frm == kInitFrame) {
      const int16_t f = kInitFactor[lessCount], s = kInitShift[lessCount];
      meanE = extract_h(L_shl(L_mult(meanE, f), s));
      meanSZC = extract_h(L_shl(L_mult(meanSZC, f), s));
      for (int i = 0; i < kOrder; ++i) meanLsf[i] = extract_h(L_shl(L_mult(meanLsf[i], f), s));
      meanSE = sub(meanE, 2048);
      meanSLE = sub(meanE, 2458);
    }
    const int16_t dSE = sub(meanSE, energy);
    const int16_t dSLE = sub(meanSLE, energyLow);
    const int16_t dSZC = sub(meanSZC, zc);
    marker = energy < 3072 ? kNoise : vadDecision(dSLE, dSE, sd, dSZC);
    vFlag = 0;
    if (pastVad == kVoice && marker == kNoise && add(dSE, 410) < 0 && energy > 3072) {
      marker = kVoice;
      vFlag = 1;
    }
    if (flag == 1) {
      if (ppastVad == kVoice && pastVad == kVoice && marker == kNoise &&
          abs_s(sub(prevEnergy, energy)) <= 614) {
        ++countExt;
        marker = kVoice;
        vFlag = 1;
        if (countExt <= 4) {
          flag = 1;
        } else {
          countExt = 0;
          flag = 0;
        }
      }
    } else {
      flag = 1;
    }
    if (marker == kNoise) ++countSil;
    if (marker == kVoice && countSil > 10 && sub(sub(energy, prevEnergy), 614) <= 0) {
      marker = kNoise;
      countSil = 0;
    }
    if (marker == kVoice) countSil = 0;
    if (sub(sub(energy, 614), meanSE) < 0 && frm > 128 && !vFlag && rc[1] < 19661) marker = kNoise;
    if (sub(sub(energy, 614), meanSE) < 0 && rc[1] < 24576 && sd < 83) {
      ++countUpdate;
      int16_t coef, cCoef, coefZc, cCoefZc, coefSd, cCoefSd;
      if (countUpdate < kInitCount) {
        coef = 24576, cCoef = 8192, coefZc = 26214, cCoefZc = 6554, coefSd = 19661, cCoefSd = 13017;
      } else if (countUpdate < kInitCount + 10) {
        coef = 31130, cCoef = 1638, coefZc = 30147, cCoefZc = 2621, coefSd = 21299, cCoefSd = 11469;
      } else if (countUpdate < kInitCount + 20) {
        coef = 31785, cCoef = 983, coefZc = 30802, cCoefZc = 1966, coefSd = 22938, cCoefSd = 9830;
      } else if (countUpdate < kInitCount + 30) {
        coef = 32440, cCoef = 328, coefZc = 31457, cCoefZc = 1311, coefSd = 24576, cCoefSd = 8192;
      } else if (countUpdate < kInitCount + 40) {
        coef = 32604, cCoef = 164, coefZc = 32440, cCoefZc = 328, coefSd = 24576, cCoefSd = 8192;
      } else {
        coef = 32604, cCoef = 164, coefZc = 32702, cCoefZc = 66, coefSd = 24576, cCoefSd = 8192;
      }
      meanSE = extract_h(L_mac(L_mult(coef, meanSE), cCoef, energy));
      meanSLE = extract_h(L_mac(L_mult(coef, meanSLE), cCoef, energyLow));
      meanSZC = extract_h(L_mac(L_mult(coefZc, meanSZC), cCoefZc, zc));
      for (int i = 0; i < kOrder; ++i) meanLsf[i] = extract_h(L_mac(L_mult(coefSd, meanLsf[i]), cCoefSd, lsf[i]));
    }
    if (frm > 128 && ((meanSE < minEnergy && sd < 83) || sub(meanSE, minEnergy) > 2048)) {
      meanSE = minEnergy;
      countUpdate = 0;
    }
  }
  prevEnergy = energy;

  // Music detection: statistics of the reflection coefficients, the
  // residual energy and the pitch history; at 11.8 kbit/s it can overrule
  // a noise decision.
  int16_t pderr = 32767;
  for (int i = 0; i < 4; ++i) pderr = mult(pderr, sub(32767, mult(rc[i], rc[i])));
  const int16_t lenergy = energyLog(mpy32x16(rh[0], rl[0], pderr), expR0);
  acc = 0;
  for (int i = 0; i < 10; ++i) {
    const int16_t d = sub(mrc[i], rc[i]);
    acc = L_mac(acc, d, d);
  }
  const int16_t sdm = extract_h(acc);
  if (marker == kNoise) {
    for (int i = 0; i < 10; ++i) mrc[i] = extract_h(L_mac(L_mult(29491, mrc[i]), 3277, rc[i]));
    musMeanSE = extract_h(L_mac(L_mult(29491, musMeanSE), 3277, lenergy));
  }
  acc = 0;
  int16_t lagSum = 0;
  for (int i = 0; i < 5; ++i) {
    acc = L_mac(acc, pgains[i], 6554);
    lagSum = add(lagSum, lags[i]);
  }
  meanPgain = extract_h(L_mac(L_mult(extract_h(acc), 6554), meanPgain, 26214));
  acc = 0;
  for (int i = 0; i < 5; ++i) {
    const int16_t j = sub(add(shl(lags[i], 2), lags[i]), lagSum);
    acc = L_mac(acc, j, j);
  }
  const int16_t stdLag = extract_h(L_shl(acc, 22));
  const int16_t thres = rate == vokcG729IRate64 ? 11960 : 10322;
  const int16_t pflag2 = meanPgain > thres ? 1 : 0;
  const int16_t pflag1 = (stdLag < 21632 && meanPgain > 7373) ? 1 : 0;
  const int16_t pflag = static_cast<int16_t>((pastVad & (pflag1 | pflag2)) | pflag2);
  if (rc[1] <= 14746 && rc[1] >= 0 && meanPgain < 8192)
    countConscRflag = add(countConscRflag, 1);
  else
    countConscRflag = 0;
  if (prevLpMode == 1 && marker == kVoice) countMusic = add(countMusic, 256);
  if ((frm & 63) == 0) {
    if (frm == 64)
      mCountMusic = countMusic;
    else
      mCountMusic = extract_h(L_mac(L_mult(29491, mCountMusic), 3277, countMusic));
  }
  if (countMusic == 0)
    countConsc = add(countConsc, 1);
  else
    countConsc = 0;
  if (countConsc > 500 || countConscRflag > 150) mCountMusic = 0;
  if ((frm & 63) == 0) countMusic = 0;
  if (pflag == 1) countPflag = add(countPflag, 256);
  if ((frm & 63) == 0) {
    if (frm == 64) {
      mCountPflag = countPflag;
    } else {
      int16_t c, cc;
      if (countPflag > 6400) {
        c = 32113, cc = 655;
      } else if (countPflag > 5120) {
        c = 31130, cc = 1638;
      } else {
        c = 29491, cc = 3277;
      }
      mCountPflag = extract_h(L_mac(L_mult(c, mCountPflag), cc, countPflag));
    }
  }
  if (countPflag == 0)
    countConscPflag = add(countConscPflag, 1);
  else
    countConscPflag = 0;
  if (countConscPflag > 100 || countConscRflag > 150) mCountPflag = 0;
  if ((frm & 63) == 0) countPflag = 0;
  if (rate == vokcG729IRate118) {
    const int16_t rise = sub(lenergy, musMeanSE);
    if (sdm > 4915 && rise > 819 && energyDbFull > 10240)
      marker = kVoice;
    else if ((sdm > 12452 || rise > 819) && energyDbFull > 10240)
      marker = kVoice;
    else if ((mCountPflag > 2560 || mCountMusic > 280 || frm < 64) && energyDbFull > 1433)
      marker = kVoice;
  }
  return marker;
}

void DtxEncoder::updateNoise(const int32_t* r, int16_t expR0, int16_t vad) {
  std::memmove(acf + kMp1, acf, kMp1 * sizeof(int16_t));
  shAcf[1] = shAcf[0];
  shAcf[0] = negate(add(16, expR0));
  for (int i = 0; i < kMp1; ++i) acf[i] = extract_h(r[i]);
  frCur = add(frCur, 1);
  if (frCur == 2) {
    frCur = 0;
    if (vad != 0) {
      std::memmove(sumAcf + kMp1, sumAcf, 2 * kMp1 * sizeof(int16_t));
      shSumAcf[2] = shSumAcf[1];
      shSumAcf[1] = shSumAcf[0];
      sumAutocorr(acf, shAcf, 2, sumAcf, &shSumAcf[0]);
    }
  }
}

void DtxEncoder::speechFrame() {
  seed = kNoiseSeed;
  ppastVad = pastVad;
  pastVad = 1;
}

int DtxEncoder::encodeNoise(int16_t* exc, int16_t* lspOldQ, int16_t* oldA, int16_t* oldRc, int16_t* aq,
                            int16_t* prm, int16_t* lsfMa, int32_t* excErr) {
  ener[1] = ener[0];
  shEner[1] = shEner[0];
  int16_t curAcf[kMp1];
  sumAutocorr(acf, shAcf, 2, curAcf, &shEner[0]);
  int16_t curCoeff[kMp1];
  if (curAcf[0] == 0)
    ener[0] = 0;
  else
    levinson16(curAcf, curCoeff, oldA, oldRc, &ener[0]);

  int16_t energyQ = 0, gainIndex = 0;
  int type;
  if (pastVad != 0) {
    type = 1;
    countFr0 = 0;
    nbEner = 1;
    gainIndex = sidGainIndex(ener, shEner, nbEner, energyQ);
  } else {
    nbEner = add(nbEner, 1);
    if (nbEner > 2) nbEner = 2;
    gainIndex = sidGainIndex(ener, shEner, nbEner, energyQ);
    if (filterDiffers(rCoeff, shRCoeff, curAcf, ener[0], 4855)) flagChange = 1;
    if (sub(abs_s(sub(prevEnergyQ, energyQ)), 2) > 0) flagChange = 1;
    countFr0 = add(countFr0, 1);
    if (countFr0 < 3) {
      type = 0;
    } else {
      type = flagChange != 0 ? 1 : 0;
      countFr0 = 3;
    }
  }
  if (type == 1) {
    countFr0 = 0;
    flagChange = 0;
    // Filter of the past noise unless the current one differs enough.
    int16_t sAcf[kMp1], t;
    sumAutocorr(sumAcf, shSumAcf, 3, sAcf, &t);
    if (sAcf[0] == 0) {
      std::memset(pastCoeff, 0, sizeof pastCoeff);
      pastCoeff[0] = 4096;
    } else {
      levinson16(sAcf, pastCoeff, oldA, oldRc, nullptr);
    }
    filterAutocorr(pastCoeff, rCoeff, shRCoeff);
    const int16_t* coeff = pastCoeff;
    if (filterDiffers(rCoeff, shRCoeff, curAcf, ener[0], 3161)) {
      coeff = curCoeff;
      filterAutocorr(curCoeff, rCoeff, shRCoeff);
    }
    int16_t lsp[kOrder], lsf[kOrder], lsfq[kOrder];
    VOKC_CALL(voksLPCToLSP_G729_16s, coeff, lspOldQ, lsp);
    VOKC_CALL(voksLSPToLSF_G729_16s, lsp, lsf);
    int16_t idx[3];
    VOKC_CALL(voksLSFQuant_G729B_16s, lsf, lsfMa, lsfq, idx);
    VOKC_CALL(voksLSFToLSP_G729_16s, lsfq, lspSidQ);
    prm[0] = idx[0];
    prm[1] = idx[1];
    prm[2] = idx[2];
    prm[3] = gainIndex;
    prevEnergyQ = energyQ;
    sidGain = kSidGain[gainIndex];
  }
  if (pastVad != 0)
    curGain = sidGain;
  else
    curGain = add(mult_r(curGain, 28672), mult_r(sidGain, 4096));
  int16_t gp[2], gc[2], t0[2];
  comfortExcitation(curGain, exc, seed, gp, gc, t0);
  for (int k = 0; k < 2; ++k) updateExcErr(excErr, gp[k], t0[k]);
  interpolateLpc(lspOldQ, lspSidQ, aq);
  std::memcpy(lspOldQ, lspSidQ, sizeof lspSidQ);
  if (frCur == 0) {
    std::memmove(sumAcf + kMp1, sumAcf, 2 * kMp1 * sizeof(int16_t));
    shSumAcf[2] = shSumAcf[1];
    shSumAcf[1] = shSumAcf[0];
    sumAutocorr(acf, shAcf, 2, sumAcf, &shSumAcf[0]);
  }
  ppastVad = pastVad;
  pastVad = 0;
  return type;
}

}  // namespace vokc::g729i
