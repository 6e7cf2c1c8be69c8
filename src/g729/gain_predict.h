// G.729 gain prediction shared by the gain quantisers and decoders (and by
// any code that assembles a G.729 coder): the MA prediction of the
// fixed-codebook gain from the energies of past subframes, in the log
// domain, and the update of the predictor memory.
//
// Memory: the quantised prediction errors of the last 4 subframes, 20 log10
// units in Q10, newest first; -14336 (-14 dB) each at reset.
#ifndef VOKSC_G729_GAIN_PREDICT_H
#define VOKSC_G729_GAIN_PREDICT_H

#include <cstdint>

namespace voksc::g729::gain {

constexpr int kMemory = 4;
constexpr int16_t kMemoryReset = -14336;

// The code vector's energy as the reference forms it: the L_mac sum of its
// 40 squared samples (twice the sum, saturated).
int32_t codeEnergy(const int16_t* code);

// Predicted fixed-codebook gain from the code energy (as codeEnergy) and
// the memory: gcode0 with its Q format expGcode0.
void predict(const int16_t* mem, int32_t energy, int16_t& gcode0, int16_t& expGcode0);

// Shift the memory and store 20 log10 of the summed correction factor
// (Q13 for the 8 kbit/s codebooks, already halved to Q13 for the
// 6.4 kbit/s ones).
void update(int16_t* mem, int32_t factorQ13);

// The quantiser's search over its candidates: first-stage rows i < rows
// (pitch gain p1[i], factor f1[i]) against second-stage rows j < n (p2[j],
// f2[j]), distances in plain 32-bit arithmetic (the caller's bound has
// excluded every saturation; with tame, pitch gains of 16383 and above are
// skipped).  Returns i 8 + j of the first smallest distance in row order,
// a later candidate winning only when strictly smaller, and 0 when no
// distance lies below 0x7FFFFFFF.  ch, cl: the five criterion terms in
// split form.
struct GainLanes {
  int32_t ch[5], cl[5];
  int32_t gcode0;
  int16_t p1[8], f1[8], p2[8], f2[8];
  int rows, n;
  bool tame;
};
int gainSearch_scalar(const GainLanes& g);
int gainSearch_avx2(const GainLanes& g);

// Frame erasure: the new newest value is the mean of the four minus 4 dB,
// not below -14 dB.
void updateErased(int16_t* mem);

}  // namespace voksc::g729::gain

#endif  // VOKSC_G729_GAIN_PREDICT_H
