// Voice activity detection with the music detector of the integrated coder;
// the comfort-noise encoder (noise description, SID decision, SID LSF and
// gain quantisation, random excitation) is the G.729 Annex B one
// (g729b_dtx.cpp) on this coder's forward filter.
#include "g729i_dtx.h"

#include <cstring>

#include "vokcodec.h"

namespace vokc::g729i {

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
  g729b::cngEncoderInit(noise);
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
  g729b::cngUpdate(noise, r, expR0, vad);
}

void DtxEncoder::speechFrame() {
  seed = kNoiseSeed;
  ppastVad = pastVad;
  pastVad = 1;
}

int DtxEncoder::encodeNoise(int16_t* exc, int16_t* lspOldQ, StableLp& lp, int16_t* aq, int16_t* prm,
                            int16_t* lsfMa, int32_t* excErr) {
  int16_t gp[2], t0[2];
  const int type = g729b::cngEncode(noise, lp, false, pastVad, lspOldQ, lsfMa, exc, seed, aq, prm, gp, t0);
  for (int k = 0; k < 2; ++k) updateExcErr(excErr, gp[k], t0[k]);
  ppastVad = pastVad;
  pastVad = 0;
  return type == g729b::kSid ? 1 : 0;
}

}  // namespace vokc::g729i
