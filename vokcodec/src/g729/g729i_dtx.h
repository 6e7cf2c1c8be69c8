// Voice activity detection, music detection and the comfort-noise (SID)
// encoder of the G.729 Annex I coder.
#ifndef VOKCODEC_G729I_DTX_H
#define VOKCODEC_G729I_DTX_H

#include <cstdint>

#include "g729_vad.h"
#include "g729b_dtx.h"
#include "g729i_common.h"

namespace vokc::g729i {

// A count of hits per block of 64 frames (256 per hit) and its average over
// blocks, cleared after a long run of blocks without hits.
struct BlockRate {
  int16_t count;
  int16_t mean;
  int16_t idle;  // consecutive frames with an empty count
  // adaptiveWeights: the average moves faster the fewer hits the block had.
  void step(bool hit, int16_t frame, bool adaptiveWeights, int16_t idleLimit, bool forceClear);
};

// Music detection of the 11.8 kbit/s mode: tracks the spectral change of
// the reflection coefficients against their noise mean, the prediction
// error energy, the pitch gains and the spread of the open-loop delays,
// and keeps music, which the detector would call noise, as active.
struct MusicDetector {
  int16_t noiseRc[10];       // mean reflection coefficients of noise frames
  int16_t noiseErrEnergy;    // mean prediction-error energy of noise frames
  int16_t meanPitchGain;     // 8192 at reset
  int16_t flatSpectrumRun;   // frames with a flat spectrum and weak pitch
  BlockRate backwardVoice;   // voice frames after a backward-LP frame
  BlockRate periodic;        // strongly periodic frames

  void reset();
  // The decision after the detector's (voice): rc the ten reflection
  // coefficients, r0 the normalised frame energy, lags / pitchGains the
  // last five open-loop delays and pitch gains, energy the detector's
  // full-band energy.
  int16_t review(int16_t voice, const int16_t* rc, Word32 r0, int16_t expR0, int16_t energy, int rate,
                 const int16_t* lags, const int16_t* pitchGains, int16_t pastVad, int16_t prevLpMode,
                 int16_t frame);
};

// Plain data (formatted by reset()) so that it can live in a caller-owned
// state object.
struct DtxEncoder {
  // Frame counter (1 for the first frame, wrapping from 32767 to 256).
  int16_t frame;
  int16_t pastVad, ppastVad;
  int16_t seed;
  VoiceDetector vad;
  MusicDetector music;
  g729b::CngEncoder noise;  // the noise description, as in the G.729 / G.729A coders

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
  // lp: the encoder's last stable forward filter.
  int encodeNoise(int16_t* exc, int16_t* lspOldQ, StableLp& lp, int16_t* aq, int16_t* prm, int16_t* lsfMa,
                  int32_t* excErr);
  // Active frame.
  void speechFrame();
};

}  // namespace vokc::g729i

#endif  // VOKCODEC_G729I_DTX_H
