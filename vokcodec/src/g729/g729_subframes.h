// The two subframes of a speech frame in the Annex E and Annex I decoders:
// delay (or its concealment), fixed code vector (random words after a loss),
// gains (decoded, or aged and muted after a loss), excitation and synthesis.
#ifndef VOKCODEC_G729_SUBFRAMES_H
#define VOKCODEC_G729_SUBFRAMES_H

#include <cstring>

#include "checked_call.h"
#include "g729_common.h"

namespace vokc::g729 {

// How a bit rate lays out and conceals its subframes.
struct SpeechRate {
  bool low;   // 6.4 kbit/s: coarse delays, 2-pulse code, 3 + 3 bit gains, phase dispersion, no parity
  bool high;  // 11.8 kbit/s: 5 code words, code book by LP mode, gains muted over a run of losses
};

// One subframe of 1/A(z) from a copy of the memory's last `order` samples;
// true on saturation.
inline bool subframeSynthesis(const int16_t* a, int order, const int16_t* x, int16_t* y, const int16_t* mem30) {
  int16_t m[kOrderBwd];
  std::memcpy(m, mem30 + kOrderBwd - order, static_cast<size_t>(order) * sizeof(int16_t));
  return VOKC_CALL(voksSynthesisFilter_G729E_16s, a, order, x, y, kSubfr, m) == vokWrnOverflow;
}

// parm: per subframe the delay index (in subframe 0 followed by a parity
// error word unless rate.low), the code words (2 or 5) and the gain index.
// a: both subframes' filters of `order`.  seed: the random code words of a
// lost frame.  phaseDisp: the phase-dispersion record, or null where the
// decoder has none.  State: a decoder record with the delay, gain,
// concealment and synthesis memories.  Returns subframe 0's integer delay.
template <class State>
int16_t decodeSpeechSubframes(State* s, SpeechRate rate, bool backward, int16_t bfi, int16_t voicing,
                              const int16_t* parm, const int16_t* a, int order, int16_t& seed, void* phaseDisp,
                              int16_t* exc, int16_t* synth) {
  int16_t t0First = 0, t0 = s->prevT0, frac = 0;
  for (int sf = 0; sf < 2; ++sf) {
    const int sfOff = sf * kSubfr;
    const int16_t index = *parm++;
    const bool parityErr = sf == 0 && !rate.low && *parm++ != 0;
    if (!bfi && !parityErr) {
      decodeLag(index, sf, rate.low, t0, frac);
      s->prevT0 = t0;
      s->prevT0Frac = frac;
    } else {
      concealLag(s->prevT0, s->prevT0Frac, rate.high, t0, frac);
    }
    if (sf == 0) t0First = t0;
    const int16_t delay[2] = {t0, frac};
    VOKC_CALL(voksDecodeAdaptiveVector_G729_16s_I, delay, exc + sfOff - kExcHist);
    s->pitch.follow(s->prevT0, s->prevT0Frac, rate.high);

    int16_t cb[5];
    const int words = rate.high ? 5 : 2;
    for (int k = 0; k < words; ++k) cb[k] = bfi ? nextRandom(seed) : parm[k];
    parm += words;
    int16_t code[kSubfr];
    if (rate.high)
      decodeCode118(cb, backward, code);
    else if (rate.low)
      decodeCode64(cb[1], cb[0], code);
    else
      decodeCode80(cb[1], cb[0], code);
    const bool stationary = backwardStationary(s->statBwd, rate.high && backward);
    sharpen(code, t0, shl(s->sharp, 1));

    // Gains.  A loss ages the predictor memory (and takes 0.9 / 0.98 of the
    // last gains); at 11.8 kbit/s the first two lost subframes hold a fixed
    // pitch gain and the last code gain, later ones mute both.
    const int16_t gainIndex = *parm++;
    int64_t e = 0;
    for (int i = 0; i < kSubfr; ++i) e += int32_t{code[i]} * code[i];
    const Vok32s energy = e > 0x3FFFFFFF ? 0x3FFFFFFF : static_cast<Vok32s>(e);
    int16_t gains[2] = {s->gainPitMem, s->gainCodMem};
    if (!bfi && rate.low) {
      const int16_t idx[2] = {static_cast<int16_t>(gainIndex >> 3), static_cast<int16_t>(gainIndex & 7)};
      VOKC_CALL(voksDecodeGain_G729I_16s, energy, 0, s->pastQuaEn, idx, gains);
    } else if (!bfi) {
      const int16_t idx[2] = {static_cast<int16_t>(gainIndex >> 4), static_cast<int16_t>(gainIndex & 15)};
      VOKC_CALL(voksDecodeGain_G729_16s, energy, s->pastQuaEn, idx, gains);
    } else {
      VOKC_CALL(voksDecodeGain_G729_16s, energy, s->pastQuaEn, nullptr, gains);
      if (rate.high && s->countBfi < 2) {
        gains[0] = stationary ? 16384 : 15564;
        gains[1] = s->gainCodMem;
      } else if (rate.high) {
        gains[0] = mult(s->gainPitMem, s->cMuting);
        gains[1] = mult(s->gainCodMem, s->cMuting);
        if (!stationary)
          s->cMuting = mult(s->cMuting, 32112);
        else if (s->countBfi > 10)
          s->cMuting = mult(s->cMuting, 32604);
      }
    }
    s->gainPitch = gains[0];
    s->gainCode = gains[1];
    s->gainPitMem = s->gainPitch;
    s->gainCodMem = s->gainCode;
    clampSharp(s->sharp, s->gainPitch);

    // Excitation and synthesis: a saturating synthesis scales the whole
    // excitation history down by 4 and runs again (on the dispersed
    // excitation at 6.4 kbit/s).
    int16_t gp = s->gainPitch, gc = s->gainCode;
    if (bfi) {
      s->countBfi = add(s->countBfi, 1);
      concealedGains(voicing, gp, gc);
    }
    mixExcitation(exc + sfOff, code, gp, gc);
    const bool overflow = subframeSynthesis(a, order, exc + sfOff, synth + sfOff, s->memSyn);
    if (overflow)
      for (auto& v : s->oldExc) v = shr(v, 2);
    if (phaseDisp && rate.low) {
      int16_t dispersed[kSubfr];
      VOKC_CALL(voksPhaseDispersion_G729D_16s, exc + sfOff, dispersed, s->gainCode, s->gainPitch, code, phaseDisp);
      subframeSynthesis(a, order, dispersed, synth + sfOff, s->memSyn);
    } else {
      if (overflow) subframeSynthesis(a, order, exc + sfOff, synth + sfOff, s->memSyn);
      if (phaseDisp) VOKC_CALL(voksPhaseDispersionUpdate_G729D_16s, s->gainPitch, s->gainCode, phaseDisp);
    }
    std::memcpy(s->memSyn, synth + sfOff + kSubfr - kOrderBwd, sizeof s->memSyn);
    a += order + 1;
  }
  return t0First;
}

}  // namespace vokc::g729

#endif  // VOKCODEC_G729_SUBFRAMES_H
