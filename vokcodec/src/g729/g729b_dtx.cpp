// G.729 Annex B: voice activity detection, DTX decisions, SID parameters and
// comfort-noise excitation, in the fixed-point arithmetic of the standard.
#include "g729b_dtx.h"

#include <cstring>

#include "g729_common.h"
#include "g729b_tables.h"
#include "checked_call.h"

namespace vokc::g729b {

using namespace vokc::g729;

namespace {

constexpr int16_t kMax16 = 32767;

// DTX constants.
constexpr int16_t kFrSidMin = 3;        // frames between two SID frames at least
constexpr int16_t kFracThresh1 = 4855;  // filter change that asks for a new SID frame
constexpr int16_t kFracThresh2 = 3161;  // filter change that keeps the current filter
constexpr int16_t kGainSmooth0 = 28672; // comfort-noise gain smoothing, old part
constexpr int16_t kGainSmooth1 = 4096;  // and new part

// VAD constants.
constexpr int16_t kInitFrame = 32;
constexpr int16_t kInitCount = 20;
constexpr int kZcStart = 120;
constexpr int kZcEnd = 200;

// Levinson on a record of upper words.
void levinsonWords(LpFallback& fb, const int16_t* words, int16_t* a, int16_t* err) {
  int32_t r[kMp1];
  for (int i = 0; i < kMp1; ++i) r[i] = L_deposit_h(words[i]);
  int16_t rc[2];
  levinson(fb, r, a, rc, err);
}

void updateSumAcf(CngEncoder& c) {
  std::memmove(c.sumAcf + kMp1, c.sumAcf, 2 * kMp1 * sizeof(int16_t));
  c.shSumAcf[2] = c.shSumAcf[1];
  c.shSumAcf[1] = c.shSumAcf[0];
  sumAutocorr(c.acf, c.shAcf, 2, c.sumAcf, &c.shSumAcf[0]);
}

// Filter of the long-term average autocorrelation.
void pastFilter(CngEncoder& c, LpFallback& fb, int16_t* coeff) {
  int16_t s[kMp1], sh;
  sumAutocorr(c.sumAcf, c.shSumAcf, 3, s, &sh);
  if (s[0] == 0) {
    coeff[0] = 4096;
    for (int i = 1; i <= kOrder; ++i) coeff[i] = 0;
    return;
  }
  int16_t err = 0;
  levinsonWords(fb, s, coeff, &err);
}

}  // namespace

void levinson(LpFallback& fb, const int32_t* r, int16_t* a, int16_t* rc, int16_t* err) {
  int16_t rc2[2] = {0, 0};
  int16_t e = 0;
  if (VOKC_CALL(voksLevinsonDurbin_G729B, r, a, rc2, &e) == vokOk) {
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
  const Word16 energy = energyLog(L_Comp(rh[0], rl[0]), expR0);
  Word32 acc = 0;
  for (int i = 1; i <= 12; ++i) acc = L_mac(acc, rh[i], vokc::tables::kVadLowBandCorr[i]);
  acc = L_shl(acc, 1);
  acc = L_mac(acc, rh[0], vokc::tables::kVadLowBandCorr[0]);
  const Word16 energyLow = energyLog(acc, expR0);

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
    marker = energy < 3072 ? 0 : vadDecision(dSLE, dSE, sd, dSZC);

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

int cngEncode(CngEncoder& c, LpFallback& fb, bool annexA, int16_t pastVad, int16_t* lspOldQ, int16_t* lsfMa,
              int16_t* exc, int16_t& seed, int16_t* aq, int16_t* prm, int16_t* gp, int16_t* t0) {
  c.ener[1] = c.ener[0];
  c.shEner[1] = c.shEner[0];
  int16_t curAcf[kMp1];
  sumAutocorr(c.acf, c.shAcf, 2, curAcf, &c.shEner[0]);
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
    gainIndex = sidGainIndex(c.ener, c.shEner, c.nbEner, energyq);
  } else {
    c.nbEner = add(c.nbEner, 1);
    if (c.nbEner > 2) c.nbEner = 2;
    gainIndex = sidGainIndex(c.ener, c.shEner, c.nbEner, energyq);
    if (filterDiffers(c.rCoeff, c.shRCoeff, curAcf, c.ener[0], kFracThresh1)) c.flagChange = 1;
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
    filterAutocorr(c.pastCoeff, c.rCoeff, c.shRCoeff);
    const int16_t* coeff = c.pastCoeff;
    if (filterDiffers(c.rCoeff, c.shRCoeff, curAcf, c.ener[0], kFracThresh2)) {
      coeff = curCoeff;
      filterAutocorr(curCoeff, c.rCoeff, c.shRCoeff);
    }
    int16_t lsp[kOrder], lsf[kOrder], lsfq[kOrder];
    if (annexA)
      VOKC_CALL(voksLPCToLSP_G729A_16s, coeff, lspOldQ, lsp);
    else
      VOKC_CALL(voksLPCToLSP_G729_16s, coeff, lspOldQ, lsp);
    VOKC_CALL(voksLSPToLSF_G729_16s, lsp, lsf);
    VOKC_CALL(voksLSFQuant_G729B_16s, lsf, lsfMa, lsfq, prm);
    VOKC_CALL(voksLSFToLSP_G729_16s, lsfq, c.lspSidQ);
    c.prevEnergy = energyq;
    prm[3] = gainIndex;
    c.sidGain = vokc::tables::kSidGain[gainIndex];
  }

  if (pastVad != 0)
    c.curGain = c.sidGain;
  else
    c.curGain = add(mult_r(c.curGain, kGainSmooth0), mult_r(c.sidGain, kGainSmooth1));
  comfortExcitation(c.curGain, exc, seed, gp, nullptr, t0);
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
    VOKC_CALL(voksLSFDecode_G729B_16s, sid, lsfMa, lsf);
    VOKC_CALL(voksLSFToLSP_G729_16s, lsf, c.lspSid);
  } else if (pastFrameType == kSpeech) {
    Word16 enerq, index;
    index = sidGainIndex(&c.sidSav, &c.shSidSav, 0, enerq);
    c.sidGain = vokc::tables::kSidGain[index];
  }
  if (pastFrameType == kSpeech)
    c.curGain = c.sidGain;
  else
    c.curGain = add(mult_r(c.curGain, kGainSmooth0), mult_r(c.sidGain, kGainSmooth1));
  int16_t gp[2], t0[2];
  comfortExcitation(c.curGain, exc, seed, gp, nullptr, t0);
  interpolateLpc(lspOld, c.lspSid, az);
  std::memcpy(lspOld, c.lspSid, sizeof c.lspSid);
}

}  // namespace vokc::g729b
