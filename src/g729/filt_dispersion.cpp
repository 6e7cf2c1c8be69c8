// G.729 Annex D phase dispersion (anti-sparseness processing) of the fixed
// codebook vector in the 6.4 kbit/s decoder, and its bookkeeping for
// subframes decoded at another rate.
#include <cstring>

#include "common/basic_op.h"
#include "core/status.h"
#include "filt_tables.h"

using namespace voksc::op;
using namespace voksc::g729;
using voksc::anyNull;

namespace {

constexpr int kSubfr = 40;
constexpr Word16 kGainLow = 9830;    // 0.6 in Q14
constexpr Word16 kGainHigh = 14745;  // 0.9 in Q14

// No pointers: a byte copy is a snapshot.
struct DispersionState {
  int16_t gains[6];  // pitch gains of the last six subframes, newest first
  int16_t prevClass;
  int16_t prevCodeGain;
  int16_t onset;
  int16_t pad;
};
static_assert(sizeof(DispersionState) == 20, "phase dispersion state size");

void pushGain(DispersionState& s, Word16 g) {
  for (int i = 5; i > 0; --i) s.gains[i] = s.gains[i - 1];
  s.gains[0] = g;
}

// The dispersion class of a subframe: 0 strong, 1 medium, 2 none.
Word16 dispersionClass(DispersionState& s, Word16 pitchGain, Word16 codeGain) {
  Word16 cls = pitchGain < kGainHigh ? (pitchGain > kGainLow ? 1 : 0) : 2;
  pushGain(s, pitchGain);
  // An onset: the code gain more than doubled.
  if (sub(shr(codeGain, 1), s.prevCodeGain) > 0) {
    s.onset = 2;
  } else {
    s.onset = static_cast<int16_t>(s.onset > 0 ? s.onset - 1 : 0);
  }
  int weak = 0;
  for (int i = 0; i < 6; ++i)
    if (s.gains[i] < kGainLow) ++weak;
  if (weak > 2 && !s.onset) cls = 0;
  if (cls > s.prevClass + 1 && !s.onset) --cls;
  if (s.onset && cls < 2) ++cls;
  s.prevClass = cls;
  s.prevCodeGain = codeGain;
  return cls;
}

// g_c * c[n] as the decoder adds it to the excitation (Q13 code, Q1 gain).
inline Word16 codeContribution(Word16 codeGain, Word16 c) { return round_fx(L_shl(L_mult(codeGain, c), 1)); }

}  // namespace

VOKSC_EXPORT VokResult voksPhaseDispersionGetStateSize_G729D_16s(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(DispersionState));
  return vokOk;
}

VOKSC_EXPORT VokResult voksPhaseDispersionInit_G729D_16s(void* state) {
  if (!state) return vokErrNullPtr;
  std::memset(state, 0, sizeof(DispersionState));
  return vokOk;
}

VOKSC_EXPORT VokResult voksPhaseDispersionUpdate_G729D_16s(Vok16s pitchGain, Vok16s codeGain, void* state) {
  if (!state) return vokErrNullPtr;
  DispersionState s;
  std::memcpy(&s, state, sizeof s);
  pushGain(s, pitchGain);
  s.prevClass = 2;
  s.prevCodeGain = codeGain;
  s.onset = 0;
  std::memcpy(state, &s, sizeof s);
  return vokOk;
}

// exc: the subframe's total excitation g_p v + g_c c (in); excOut: the same
// with the fixed vector replaced by its dispersed form (out); code: the
// fixed vector, Q13 (in/out: replaced by the dispersed vector).  Every
// pulse of the vector is spread by the class's response, circularly within
// the subframe.
VOKSC_EXPORT VokResult voksPhaseDispersion_G729D_16s(const Vok16s* exc, Vok16s* excOut, Vok16s codeGain,
                                                     Vok16s pitchGain, Vok16s* code, void* state) {
  if (anyNull(exc, excOut, code, static_cast<const char*>(state))) return vokErrNullPtr;
  DispersionState s;
  std::memcpy(&s, state, sizeof s);
  int16_t adaptive[kSubfr], pulses[kSubfr], spread[kSubfr] = {};
  for (int i = 0; i < kSubfr; ++i) {
    adaptive[i] = sub(exc[i], codeContribution(codeGain, code[i]));
    pulses[i] = code[i];
  }
  const Word16 cls = dispersionClass(s, pitchGain, codeGain);
  if (cls == 2) {
    // The all-pass response: a unit pulse (32767) at lag 0.
    for (int p = 0; p < kSubfr; ++p)
      if (pulses[p] != 0) spread[p] = add(spread[p], mult(pulses[p], 32767));
  } else {
    const int16_t* imp = cls == 0 ? kDispersionStrong : kDispersionMedium;
    for (int p = 0; p < kSubfr; ++p) {
      const Word16 amp = pulses[p];
      if (amp == 0) continue;
      for (int i = p; i < kSubfr; ++i) spread[i] = add(spread[i], mult(amp, imp[i - p]));
      for (int i = 0; i < p; ++i) spread[i] = add(spread[i], mult(amp, imp[kSubfr - p + i]));
    }
  }
  for (int i = 0; i < kSubfr; ++i) {
    code[i] = spread[i];
    excOut[i] = add(adaptive[i], codeContribution(codeGain, spread[i]));
  }
  std::memcpy(state, &s, sizeof s);
  return vokOk;
}
