// The adaptive post-filter and frame ending shared by the decoders with an
// 11.8 kbit/s mode (G.729 Annexes E and I).
#ifndef VOKCODEC_G729_POSTFILTER_H
#define VOKCODEC_G729_POSTFILTER_H

#include <cstdint>

#include "g729_common.h"

namespace vokc::g729 {

// First reflection coefficient of an impulse response h of len samples
// (h[0] = 1.0 in Q12), from its autocorrelation at lags 0 and 1; 0 when
// the ratio would exceed 1.  The tilt compensation's input.
int16_t firstReflection(const int16_t* h, int len);

// Per subframe: the harmonic (long-term) filter on the residual of
// A(z/numWeight), the short-term filter 1/A(z/denWeight) normalised by the
// sum of its impulse response, tilt compensation from that response and
// gain control.  At the lower rates the weights are G.729's and the
// response has 20 samples; at 11.8 kbit/s it has 32 and the weights fade
// while backward LP dominates, returning to their ceilings otherwise.
// Plain data, formatted by reset().
struct AdaptivePostFilter {
  int16_t numWeight;
  int16_t denWeight;
  int16_t harmonic;
  int16_t pastGain;
  int16_t res2[152 + kSubfr];  // residual history of the harmonic filter, then the subframe
  int16_t memStp[kOrderBwd];   // past outputs of the short-term filter

  void reset();
  // Weights of the next frame; returns the impulse-response length.
  int settle(bool rate118, bool fading);
  // Both subframes of a frame: syn the synthesis (order samples of history
  // before it), a the filters of both subframes (order + 1 each), t0 the
  // delay the harmonic filter searches around; without longTerm (comfort
  // noise) the residual passes the harmonic stage.  Returns the voicing of
  // the frame: the last nonzero subframe voicing, else 0.
  int16_t frame(int16_t t0, const int16_t* syn, const int16_t* a, int order, int longH, bool longTerm,
                int16_t* out);

 private:
  void subframe(int16_t t0, const int16_t* syn, const int16_t* a, int order, int longH, bool longTerm,
                int16_t* out, int16_t* voicing);
};

// Weight (Q12) on the backward filter held at a loss for the next frame:
// full after a loss, none after a forward frame, shrinking by 0.1 (0.5
// while backward LP does not dominate) per backward frame.
void ageHeldFilter(int16_t bfi, int16_t mode, int16_t bwdDominant, int16_t& cFeFix);

}  // namespace vokc::g729

#endif  // VOKCODEC_G729_POSTFILTER_H
