// G.729 helpers around the main loop: Annex B windowed autocorrelation and
// comfort-noise excitation.
#include <cstring>

#include "lp_tables.h"
#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"

using namespace voksc::op;
using namespace voksc::g729;
using voksc::anyNull;

// ---- Annex B ----------------------------------------------------------------

// Windowed autocorrelation with exponent: 13 normalised values.
VOKSC_EXPORT VokResult voksAutoCorr_G729B(const Vok16s* x, Vok16s* exponent, Vok32s* r) {
  if (anyNull(x, exponent, r)) return vokErrNullPtr;
  int16_t y[240];
  for (int i = 0; i < 240; ++i) y[i] = mult_r(x[i], kLpAnalysisWindow[i]);
  int k = 0, norm = 0;
  Vok32s rr[13];
  while (voksAutoCorr_NormE_16s32s(y, 240, rr, 13, &norm) == vokWrnOverflow) {
    for (auto& v : y) v = shr(v, 2);
    ++k;
  }
  std::memcpy(r, rr, sizeof rr);
  *exponent = static_cast<Vok16s>(1 + 4 * k - norm);
  return vokOk;
}

// Comfort-noise excitation: each sample is the sum of 12 outputs of the
// 16-bit linear congruential generator, shifted right by 7.
namespace {
inline Word16 nextRandom(Word16& seed) {
  seed = static_cast<Word16>(static_cast<uint16_t>(seed) * 31821u + 13849u);
  return seed;
}
}  // namespace

VOKSC_EXPORT VokResult voksRandomNoiseExcitation_G729B_16s(Vok16s* seed, Vok16s* exc, int len) {
  if (anyNull(seed, exc)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  Word16 s = *seed;
  for (int n = 0; n < len; ++n) {
    Word32 acc = 0;
    for (int k = 0; k < 12; ++k) acc += nextRandom(s);
    exc[n] = static_cast<Vok16s>(acc >> 7);
  }
  *seed = s;
  return vokOk;
}

VOKSC_EXPORT VokResult voksRandomNoiseExcitation_G729B_16s32f(Vok16s* seed, Vok32f* exc, int len) {
  if (anyNull(seed, exc)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  Word16 s = *seed;
  for (int n = 0; n < len; ++n) {
    Word32 acc = 0;
    for (int k = 0; k < 12; ++k) acc += nextRandom(s);
    exc[n] = static_cast<float>(acc) * 0.001953125f;
  }
  *seed = s;
  return vokOk;
}
