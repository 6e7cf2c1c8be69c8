// G.729 gain decoders: both gains from the two received codebook indices
// and the MA prediction, and the attenuation of the previous gains on a
// lost frame (with the predictor memory aged).
#include "common/basic_op.h"
#include "core/status.h"
#include "gain_lowrate_tables.h"
#include "gain_predict.h"
#include "gain_tables.h"

using namespace voksc::op;
using voksc::anyNull;
using namespace voksc::g729;

namespace {

// The L_mac energy of the code vector from its exact sum of squares.
inline Word32 energyTerm(Vok32s sumOfSquares) { return sat32(2 * int64_t{sumOfSquares}); }

}  // namespace

// index: transmitted first-stage (3 bits) and second-stage (4 bits) words;
// null for a lost frame, which attenuates the gains held in `gains`.
VOKSC_EXPORT VokResult voksDecodeGain_G729_16s(Vok32s energy, Vok16s* mem, const Vok16s* index, Vok16s* gains) {
  if (anyNull(mem, gains)) return vokErrNullPtr;
  if (!index) {
    Word16 gp = mult(gains[0], 29491);  // 0.9
    if (gp > 29491) gp = 29491;
    gains[0] = gp;
    gains[1] = mult(gains[1], 32111);  // 0.98
    gain::updateErased(mem);
    return vokOk;
  }
  if (index[0] < 0 || index[0] > 7 || index[1] < 0 || index[1] > 15) return vokErrIndex;
  const int r1 = kGainInvMap1[index[0]];
  const int r2 = kGainInvMap2[index[1]];
  Word16 gcode0, expGcode0;
  gain::predict(mem, energyTerm(energy), gcode0, expGcode0);
  const Word32 factor = L_add(kGainStage1[r1][1], kGainStage2[r2][1]);  // Q13
  const Word16 f = extract_l(L_shr(factor, 1));                          // Q12
  gains[0] = add(kGainStage1[r1][0], kGainStage2[r2][0]);
  gains[1] = extract_h(L_shl(L_mult(f, gcode0), add(negate(expGcode0), -12 - 1 + 1 + 16)));
  gain::update(mem, factor);
  return vokOk;
}

// The 6.4 kbit/s codebooks (indices of 3 bits each); a lost frame scales
// both gains by the caller's attenuation (Q15).
VOKSC_EXPORT VokResult voksDecodeGain_G729I_16s(Vok32s energy, Vok16s attenuation, Vok16s* mem, const Vok16s* index,
                                                Vok16s* gains) {
  if (anyNull(mem, gains)) return vokErrNullPtr;
  if (!index) {
    gains[0] = mult(gains[0], attenuation);
    gains[1] = mult(gains[1], attenuation);
    gain::updateErased(mem);
    return vokOk;
  }
  if (index[0] < 0 || index[0] > 7 || index[1] < 0 || index[1] > 7) return vokErrIndex;
  const int r1 = kGainLowInvMap1[index[0]];
  const int r2 = kGainLowInvMap2[index[1]];
  Word16 gcode0, expGcode0;
  gain::predict(mem, energyTerm(energy), gcode0, expGcode0);
  const Word32 factor = L_shr(L_add(kGainLowStage1[r1][1], kGainLowStage2[r2][1]), 1);  // Q14 sum to Q13
  gains[0] = add(kGainLowStage1[r1][0], kGainLowStage2[r2][0]);
  gains[1] = extract_h(L_shl(L_mult(extract_l(factor), gcode0), add(negate(expGcode0), -13 - 1 + 1 + 16)));
  gain::update(mem, factor);
  return vokOk;
}
