// GSM-AMR encoder gain quantisation: the moving-average prediction of the
// code gain, the energies the quantisers weigh their errors with, and the
// quantisers of every mode (scalar pitch and code gains at 12.2 kbit/s,
// pitch candidates with a code-gain search and an adaptive energy match at
// 7.95, one joint table at 5.15 .. 7.4 and 10.2, one joint table over two
// subframes at 4.75).
#ifndef VOKCODEC_AMRNB_GAINS_H
#define VOKCODEC_AMRNB_GAINS_H

#include <cstdint>

#include "amrnb/amrnb_encoder.h"

namespace vokc::amrnb::enc {

enum Mode : int { kMr475, kMr515, kMr59, kMr67, kMr74, kMr795, kMr102, kMr122 };

// Mantissa / exponent pair of a positive quantity: value = frac 2^(exp - 15).
struct Scaled {
  int16_t exp, frac;
};

void resetHistory(GainHistory& h);
void pushHistory(GainHistory& h, int16_t enLog2, int16_t en);

// Predicted code gain of the subframe (exponent, Q15 fraction of its log2)
// from the code vector's energy and the history.  At 7.95 kbit/s codeEn
// receives the code energy (otherwise it is left alone).
Scaled predictCodeGain(const GainHistory& h, int mode, const int16_t* code, Scaled* codeEn);

// Correlations of target, filtered adaptive vector y1 and filtered code y2
// in mantissa / exponent form (pitch ones from the pitch-gain step's gCoeff);
// at 4.75 and 7.95 kbit/s also the optimal code gain against xn2.
void filteredEnergies(int mode, const int16_t* xn, const int16_t* xn2, const int16_t* y1, const int16_t* y2,
                      const int16_t* gCoeff, int16_t* frac, int16_t* exp, Scaled* codeGain);
Scaled targetEnergy(const int16_t* xn);

// 12.2 kbit/s: scalar pitch gain (limited to gpLimit; the level's two low
// bits cleared) and code gain; each returns the index.
int16_t quantPitchGain122(int16_t gpLimit, int16_t* gain);
int16_t quantCodeGain122(Scaled gcode0, int16_t* gain, int16_t* enLog2, int16_t* en);
// Optimal code gain of the 12.2 kbit/s coder (xn2 against y2).
int16_t optimalCodeGain(const int16_t* xn2, const int16_t* y2);

// 5.15 .. 7.4 and 10.2 kbit/s joint quantiser: index, gains and energies.
int16_t quantJoint(int mode, Scaled gcode0, const int16_t* frac, const int16_t* exp, int16_t gpLimit, int16_t* gainPit,
                   int16_t* gainCode, int16_t* enLog2, int16_t* en);

// 7.95 kbit/s: pitch index and code index.
struct Adapt795 {
  int16_t* onset;
  int16_t* prevAlpha;
  int16_t* prevGain;
  int16_t* ltpg;  // 5 values
};
void quant795(Adapt795 st, const int16_t* res, const int16_t* exc, const int16_t* code, const int16_t* frac,
              const int16_t* exp, Scaled codeEn, Scaled gcode0, Scaled codeGain, int16_t gpLimit, int16_t* gainPit,
              int16_t* gainCode, int16_t* enLog2, int16_t* en, int16_t* pitIndex, int16_t* codeIndex);

// 4.75 kbit/s.  After the first subframe: the provisional history update
// from the unquantised code gain.  After the second: the joint index, the
// two subframes' gains, and the quantised history updated twice (the second
// subframe's prediction is redone after the first update).
void provisionalUpdate475(GainHistory& h, Scaled gcode0, Scaled codeGain);
struct Subframe475 {
  Scaled gcode0, target;
  int16_t coeffFrac[5], coeffExp[5];
};
int16_t quant475(GainHistory& h, const Subframe475& sf0, const Subframe475& sf1, const int16_t* code1,
                 int16_t gpLimit, int16_t* gp0, int16_t* gc0, int16_t* gp1, int16_t* gc1);
// Its table search in plain 32-bit sums on the common-scale terms (hi, lo
// with lo in [0, 2^15)): the index of the least error, or -1 when the
// error bound does not clear every row.  lanes: the SSE2 form where built.
int16_t search475Plain(const int16_t* hi, const int16_t* lo, int16_t g00, int16_t g01, int16_t gpLimit,
                       bool lanes = true);

}  // namespace vokc::amrnb::enc

#endif  // VOKCODEC_AMRNB_GAINS_H
