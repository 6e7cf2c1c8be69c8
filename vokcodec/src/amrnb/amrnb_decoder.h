// GSM-AMR (AMR-NB) decoder assembled from the voksc exports: frame types
// and bad-frame concealment, the eight speech modes, comfort noise, the
// post-filter and output high-pass, decoder homing.
#ifndef VOKCODEC_AMRNB_DECODER_H
#define VOKCODEC_AMRNB_DECODER_H

#include <cstdint>

#include "amrnb/amrnb_bits.h"
#include "voksc.h"

namespace vokc::amrnb::dec {

constexpr int kOrder = 10;
constexpr int kSub = 40;
constexpr int kPastExc = 154;  // longest lag plus interpolation taps

// Memory of a gain concealment (one for the pitch gain, one for the code
// gain): the last five gains, the last one, the last one of a good frame.
struct GainMemory {
  int16_t hist[5];
  int16_t last;
  int16_t lastGood;
};

// Quantised-energy memory of the code gain predictor (dB-like, Q10; and
// the 12.2 kbit/s log2 form).
struct GainPredictor {
  int16_t en[4];
  int16_t en122[4];
};

struct PhaseDispersion {
  int16_t pitchGains[5];  // newest first
  int16_t prevStrength;   // 0 strong, 1 medium, 2 off
  int16_t prevCodeGain;
  int16_t onsetLeft;
  bool forceStrong;
};

// Receive-side comfort-noise state (the DTX decoder).
struct ComfortNoise {
  int16_t phase;           // 0 speech, 1 comfort noise, 2 muted comfort noise
  int16_t sinceSid;        // frames since the last SID parameters
  int16_t periodInv;       // 1 / the SID interval, Q15
  int16_t logEn, oldLogEn; // Q11
  int32_t seed;            // noise shift register
  int16_t lsp[kOrder], lspOld[kOrder];
  int16_t histIndex;       // newest row of the histories
  int16_t lsfHist[8 * kOrder];
  int16_t lsfDev[8 * kOrder];  // deviations from the history's mean, limited
  int16_t logEnHist[8];
  int16_t logEnAdjust;
  int16_t logPredGain;     // averaged log prediction gain, Q12
  int16_t hangover;        // frames of the encoder's hangover still counted
  int16_t elapsed;         // frames since the last analysis
  bool sidFrame, validData, hangoverAdded, dataUpdated;
};

struct Decoder {
  int16_t pastExc[kPastExc + kSub];
  int16_t synMem[kOrder];
  int16_t sharp;
  int16_t oldLag;
  int16_t badRun;          // the concealment state 0..6
  bool prevBad, prevDegraded;
  bool inBackgroundNoise;
  int16_t voicedHangover;
  int16_t excEnergyHist[9];
  int16_t pitchGainHist[9];
  int16_t lspOld[kOrder];
  int16_t lsfRes[kOrder], lsfPrev[kOrder];  // LSF decoder memories
  int16_t lsfAverage[kOrder];
  int16_t codeGainHist[7];
  int16_t lsfChangeRun, smoothRun;  // code gain smoothing counters
  GainPredictor pred;
  GainMemory pitchMem, codeMem;
  int16_t frameEnergy[60];
  int16_t noiseHangover;
  int16_t noDataSeed;
  PhaseDispersion disp;
  ComfortNoise cn;
  // post-processing
  int16_t pfTilt, pfGain, pfIn[kOrder], pfOut[kOrder];
  uint8_t highPass[32];  // the output high-pass section's state (library form)
  bool highPassReady;    // false: the section restarts from rest before its next use
  int prevMode;
  bool homed;  // the last frame was a decoder homing frame
};

void decoderInit(Decoder* d);
// One frame to 160 samples.  f.mode of a NO_DATA frame is ignored (the
// previous mode continues).
VokResult decodeFrame(Decoder* d, const Frame& f, int16_t pcm[kFrame]);

}  // namespace vokc::amrnb::dec

#endif  // VOKCODEC_AMRNB_DECODER_H
