// GSM-AMR (AMR-NB) speech encoder: 160-sample frames at 8 kHz in, the
// parameter words of one of the eight modes (or of a comfort-noise frame)
// out.  Assembled from voksc's GSM-AMR exports; the pre-processing filter,
// the frame and subframe loop, the gain quantisers, the tonal-stability
// pitch-gain limit, the DTX frame-type choice and the homing frame are
// written here.
#ifndef VOKCODEC_AMRNB_ENCODER_H
#define VOKCODEC_AMRNB_ENCODER_H

#include <cstdint>

#include "voksc.h"

namespace vokc::amrnb {

// Codebook-gain predictor memory: the last four quantised energies, in the
// two scalings (20 log10 for the joint quantisers, log2 for 12.2 kbit/s).
struct GainHistory {
  int16_t en[4];
  int16_t enLog2[4];
};

// Everything the encoder carries from frame to frame.
struct AmrNbEncoder {
  bool dtx;
  int vadOption;  // 1 or 2
  // The last 320 input samples after the high-pass (160 of history, then
  // the frame); the LP windows end at the frame's last sample.
  int16_t speech[320];
  alignas(8) uint8_t highPass[64];
  // LP analysis and LSP quantisation.
  int16_t stableA[11];  // last filter the recursion delivered without trouble
  int16_t lspOld[10];   // unquantised LSP of the last subframe
  int16_t lspOldQ[10];  // quantised
  int16_t lsfResidual[10];
  // Weighted speech and open-loop pitch.
  int16_t wspHist[143];
  int16_t olMedian, olWeight;
  int16_t olLagHist[5];
  int16_t olGainFlag[2];
  // Excitation (143 + 11 samples of history, then the frame) and the
  // filter memories of the analysis-by-synthesis loop.
  int16_t exc[154 + 160];
  int16_t memSyn[10], memW0[10], memErr[10];
  int16_t sharp;    // pitch sharpening factor, Q14
  int16_t prevLag;  // integer lag of the previous subframe
  // Tonal stability: frames with a resonant LSP spacing and the last seven
  // pitch gains / 8.
  int16_t resonantCount;
  int16_t gainHist[7];
  // Gain quantisers.
  GainHistory pred;      // quantised
  int16_t adaptOnset, adaptPrevAlpha, adaptPrevGain;  // 7.95 gain adaptation
  int16_t adaptLtpg[5];
  // Voice activity.
  VAD1State_GSMAMR_16s vad1;
  int16_t toneReg, bestCorrHp, pitchLastLag, pitchLagCount;
  VAD2State_GSMAMR_16s vad2;
  int16_t ltpFlag;
  // DTX.
  int16_t dtxHangover, dtxElapsed;
  int16_t histIndex;
  int16_t lspHist[80];
  int16_t logEnHist[8];
  int16_t sidPrm[5];  // comfort-noise parameters of the last SID analysis
  int16_t sidCounter, sidDebt, prevTxType;
};

// dtx: voice activity detection and discontinuous transmission;
// vadOption: 1 or 2 (the detector used when dtx is set).
VokResult amrnbEncoderInit(AmrNbEncoder* enc, bool dtx, int vadOption);

// Encodes one frame in `mode` (0..7 = 4.75 .. 12.2 kbit/s).  prm receives
// the parameter words of the frame's layout: the mode's speech parameters,
// or the 5 comfort-noise parameters when *usedMode is 8 (SID_FIRST,
// SID_UPDATE and NO_DATA frames; a NO_DATA frame repeats the last SID
// analysis).  txType: 0 speech, 1 SID_FIRST, 2 SID_UPDATE, 3 NO_DATA.  A
// frame equal to the encoder homing frame is coded, then the encoder is
// reset (keeping its options).
VokResult amrnbEncodeFrame(AmrNbEncoder* enc, const int16_t pcm[160], int mode, int16_t prm[57], int* txType,
                           int* usedMode);

}  // namespace vokc::amrnb

#endif  // VOKCODEC_AMRNB_ENCODER_H
