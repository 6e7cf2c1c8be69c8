// The voice activity detector of G.729 Annexes B and I (one detector for
// both; Annex I adds its music detector on top, in g729i_dtx.cpp).
//
// Each frame is described by four features: its full-band and low-band
// energies in the detector's dB scale, the distortion of its LSFs against
// the background's mean LSFs and its zero-crossing rate.  Their differences
// from a running model of the background noise go through a fixed set of
// linear decision rules, then through smoothing (hangover after speech,
// short extensions of stable speech, a return to noise after long
// silences).  The model adapts while a frame looks like noise, faster
// during the first updates, and follows the energy minimum of the last 128
// frames.
#ifndef VOKCODEC_G729_VAD_H
#define VOKCODEC_G729_VAD_H

#include <cstdint>

#include "g729_common.h"

namespace vokc::g729 {

struct VadFeatures {
  int16_t energy;      // full band, dB scale of energyLog
  int16_t lowEnergy;   // below 1 kHz
  int16_t distortion;  // squared LSF distance to the background mean
  int16_t crossings;   // zero crossings over the frame, scaled by 410
};

// Plain data (formatted by reset()), so that it can live inside a
// caller-owned coder state.
struct VoiceDetector {
  // Background model.
  int16_t noiseLsf[kOrder];
  int16_t noiseEnergy;
  int16_t noiseLowEnergy;
  int16_t noiseCrossings;
  int16_t startEnergy;  // mean energy of the loud start-up frames
  // Energy minimum: the last 16 blocks of 8 frames.
  int16_t blockMin[16];
  int16_t windowMin;     // minimum over the stored blocks
  int16_t runningMin;    // minimum since the window's last block
  int16_t nextBlockMin;  // minimum of the block in progress
  int16_t lastEnergy;
  int16_t quietStart;     // start-up frames below the energy floor
  int16_t silenceRun;     // consecutive noise decisions
  int16_t updates;        // background updates since the last reset to the minimum
  int16_t extensionRun;   // speech extensions granted in a row
  int16_t extensionOpen;  // 1 while a further extension may be granted
  int16_t smoothedVoice;  // 1 when smoothing turned this frame into speech

  void reset();

  // Features of a frame: r are the 13 lag-windowed, normalised
  // autocorrelations of the analysis window with their exponent, lsf the
  // frame's normalised LSFs, window the 240-sample analysis buffer.
  VadFeatures measure(const int32_t* r, int16_t expR0, const int16_t* lsf, const int16_t* window) const;

  // Decision on a frame (1 speech, 0 noise) and the model update.  rc1: the
  // second reflection coefficient; frame: the frame counter (1, 2, ...,
  // 32767, then 256 again); prevVad / pprevVad: the last two decisions as
  // the coder used them.
  int16_t decide(const VadFeatures& f, const int16_t* lsf, int16_t rc1, int16_t frame, int16_t prevVad,
                 int16_t pprevVad);

 private:
  void trackMinimum(int16_t energy, int16_t frame);
  void adaptBackground(const VadFeatures& f, const int16_t* lsf);
};

// Energy in the detector's dB scale from a 32-bit value and the
// autocorrelation exponent.
int16_t energyLog(Word32 x, int16_t expR0);

}  // namespace vokc::g729

#endif  // VOKCODEC_G729_VAD_H
