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

void BlockRate::step(bool hit, int16_t frame, bool adaptiveWeights, int16_t idleLimit, bool forceClear) {
  if (hit) count = add(count, 256);
  const bool blockEnd = (frame & 63) == 0;
  if (blockEnd) {
    if (frame == 64) {
      mean = count;
    } else {
      Word16 keep = 29491, take = 3277;
      if (adaptiveWeights && count > 6400) {
        keep = 32113, take = 655;
      } else if (adaptiveWeights && count > 5120) {
        keep = 31130, take = 1638;
      }
      mean = extract_h(L_mac(L_mult(keep, mean), take, count));
    }
  }
  idle = count == 0 ? add(idle, 1) : int16_t{0};
  if (idle > idleLimit || forceClear) mean = 0;
  if (blockEnd) count = 0;
}

void MusicDetector::reset() {
  std::memset(static_cast<void*>(this), 0, sizeof *this);
  meanPitchGain = 8192;
}

int16_t MusicDetector::review(int16_t voice, const int16_t* rc, Word32 r0, int16_t expR0, int16_t energy, int rate,
                              const int16_t* lags, const int16_t* pitchGains, int16_t pastVad, int16_t prevLpMode,
                              int16_t frame) {
  // Energy of the fourth-order prediction error, and the spectral change
  // against the noise mean (which follows noise frames only).
  int16_t errGain = 32767;
  for (int i = 0; i < 4; ++i) errGain = mult(errGain, sub(32767, mult(rc[i], rc[i])));
  Word16 hi, lo;
  L_Extract(r0, hi, lo);
  const int16_t errEnergy = energyLog(mpy32x16(hi, lo, errGain), expR0);
  Word32 acc = 0;
  for (int i = 0; i < 10; ++i) {
    const int16_t d = sub(noiseRc[i], rc[i]);
    acc = L_mac(acc, d, d);
  }
  const int16_t change = extract_h(acc);
  if (voice == 0) {
    for (int i = 0; i < 10; ++i) noiseRc[i] = extract_h(L_mac(L_mult(29491, noiseRc[i]), 3277, rc[i]));
    noiseErrEnergy = extract_h(L_mac(L_mult(29491, noiseErrEnergy), 3277, errEnergy));
  }

  // Periodicity: the smoothed mean of the last five pitch gains and the
  // spread of the last five delays.
  acc = 0;
  int16_t lagSum = 0;
  for (int i = 0; i < 5; ++i) {
    acc = L_mac(acc, pitchGains[i], 6554);
    lagSum = add(lagSum, lags[i]);
  }
  meanPitchGain = extract_h(L_mac(L_mult(extract_h(acc), 6554), meanPitchGain, 26214));
  acc = 0;
  for (int i = 0; i < 5; ++i) {
    const int16_t d = sub(add(shl(lags[i], 2), lags[i]), lagSum);
    acc = L_mac(acc, d, d);
  }
  const int16_t lagSpread = extract_h(L_shl(acc, 22));
  const bool strong = meanPitchGain > (rate == vokcG729IRate64 ? 11960 : 10322);
  const bool steady = lagSpread < 21632 && meanPitchGain > 7373;
  const bool periodicHit = strong || (pastVad & (steady ? 1 : 0)) != 0;

  if (rc[1] <= 14746 && rc[1] >= 0 && meanPitchGain < 8192)
    flatSpectrumRun = add(flatSpectrumRun, 1);
  else
    flatSpectrumRun = 0;
  const bool flatTooLong = flatSpectrumRun > 150;
  backwardVoice.step(prevLpMode == 1 && voice == 1, frame, false, 500, flatTooLong);
  periodic.step(periodicHit, frame, true, 100, flatTooLong);

  if (rate != vokcG729IRate118) return voice;
  // Music stays active: a loud frame whose spectrum or error energy jumps,
  // or a frame in a stretch of periodic or backward-coded sound.
  const int16_t rise = sub(errEnergy, noiseErrEnergy);
  if (energy > 10240 && (change > 12452 || rise > 819)) return 1;
  if (energy > 1433 && (periodic.mean > 2560 || backwardVoice.mean > 280 || frame < 64)) return 1;
  return voice;
}

void DtxEncoder::reset() {
  std::memset(static_cast<void*>(this), 0, sizeof *this);
  pastVad = ppastVad = 1;
  seed = kNoiseSeed;
  vad.reset();
  music.reset();
  for (auto& v : shSumAcf) v = 40;
  for (auto& v : shAcf) v = 40;
  for (auto& v : shEner) v = 40;
}

int16_t DtxEncoder::detect(const int16_t* rc, const int16_t* lsf, const int32_t* r, int16_t expR0,
                           const int16_t* window, int rate, const int16_t* lags, const int16_t* pgains,
                           int16_t prevLpMode) {
  frame = frame == 32767 ? 256 : static_cast<int16_t>(frame + 1);
  const VadFeatures f = vad.measure(r, expR0, lsf, window);
  const int16_t voice = vad.decide(f, lsf, rc[1], frame, pastVad, ppastVad);
  return music.review(voice, rc, r[0], expR0, f.energy, rate, lags, pgains, pastVad, prevLpMode, frame);
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
