// Voice activity detection, music detection and the comfort-noise (SID)
// encoder of the G.729 Annex I coder.
#ifndef VOKCODEC_G729I_DTX_H
#define VOKCODEC_G729I_DTX_H

#include <cstdint>

#include "g729i_common.h"

namespace vokc::g729i {

// Plain data (formatted by reset()) so that it can live in a caller-owned
// state object.
struct DtxEncoder {
  // Frame counter (1 for the first frame, wrapping from 32767 to 256).
  int16_t frame;
  int16_t pastVad, ppastVad;
  int16_t seed;
  // Voice activity detector.
  int16_t meanLsf[kOrder];
  int16_t minBuffer[16];
  int16_t prevMin, nextMin, minEnergy;
  int16_t meanE, meanSE, meanSLE, meanSZC;
  int16_t prevEnergy;
  int16_t countSil, countUpdate, countExt;
  int16_t flag, vFlag, lessCount;
  // Music detector.
  int16_t countMusic, mCountMusic, countConsc;
  int16_t meanPgain;
  int16_t countPflag, mCountPflag, countConscPflag, countConscRflag;
  int16_t mrc[10];
  int16_t musMeanSE;
  // Noise description.
  int16_t lspSidQ[kOrder];
  int16_t pastCoeff[kMp1];
  int16_t rCoeff[kMp1];
  int16_t shRCoeff;
  int16_t acf[2 * kMp1];
  int16_t shAcf[2];
  int16_t sumAcf[3 * kMp1];
  int16_t shSumAcf[3];
  int16_t ener[2], shEner[2];
  int16_t frCur, curGain, nbEner, sidGain, flagChange, prevEnergyQ, countFr0;

  void reset();
  // Decision for the current frame: 1 active, 0 inactive.  rc: the ten
  // reflection coefficients; lsf: normalised LSFs (Q15); r: lag-windowed
  // normalised autocorrelation (13 values) with its exponent; window: the
  // 240-sample analysis buffer; prevLpMode: backward mode of the last frame.
  int16_t detect(const int16_t* rc, const int16_t* lsf, const int32_t* r, int16_t expR0, const int16_t* window,
                 int rate, const int16_t* lags, const int16_t* pgains, int16_t prevLpMode);
  // Autocorrelation history of the noise description (r before the lag
  // window).
  void updateNoise(const int32_t* r, int16_t expR0, int16_t vad);
  // Inactive frame: comfort-noise excitation (exc, with its history before
  // it), the quantised filters of both subframes (aq), and the SID
  // parameters (prm, 4 values) when a SID frame is due.  Returns 1 for a
  // SID frame, 0 for an untransmitted one.
  int encodeNoise(int16_t* exc, int16_t* lspOldQ, int16_t* oldA, int16_t* oldRc, int16_t* aq, int16_t* prm,
                  int16_t* lsfMa, int32_t* excErr);
  // Active frame.
  void speechFrame();
};

}  // namespace vokc::g729i

#endif  // VOKCODEC_G729I_DTX_H
