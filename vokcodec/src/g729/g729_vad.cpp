// The voice activity detector shared by G.729 Annexes B and I (see
// g729_vad.h).  Every step uses the fixed-point operators of the standard
// in the standard's order, so decisions match the reference detector bit
// for bit; the structure (feature records, the rule table, the adaptation
// table, the block-minimum tracker) is this coder's.
#include "g729_vad.h"

#include <cstring>

#include "g729b_tables.h"
#include "log_pow2.h"

namespace vokc::g729 {

namespace {

constexpr int16_t kMax16 = 32767;
constexpr int16_t kStartFrames = 32;     // frames averaged into the first background model
constexpr int16_t kWindowFrames = 128;   // frames of the minimum window
constexpr int16_t kEnergyFloor = 3072;   // below: noise without further tests
constexpr int16_t kEnergyMargin = 614;   // energy step treated as "about the same"
constexpr int16_t kStableDistortion = 83;

// The differences the rules read: background minus frame.
enum Diff : uint8_t { kDE, kDLowE, kDist, kDZc };

// One linear rule: t = (slope * x + bias) >> shift, optionally plus y (as
// the high word) or plus scale * y; speech when t has the rule's sign.
struct Rule {
  Diff x;
  int16_t slope, biasFactor, bias;
  int16_t shift;
  enum Term : uint8_t { kNone, kHighWord, kScaled } term;
  Diff y;
  int16_t yScale;
  bool positive;
};

constexpr Rule kRules[] = {
    {kDZc, -14680, 8192, -28521, 8, Rule::kHighWord, kDist, 0, true},
    {kDZc, 19065, 8192, -19446, 7, Rule::kHighWord, kDist, 0, true},
    {kDZc, 20480, 8192, 16384, 2, Rule::kHighWord, kDE, 0, false},
    {kDZc, -16384, 8192, 19660, 2, Rule::kHighWord, kDE, 0, false},
    {kDE, 32767, 1024, 30802, 0, Rule::kNone, kDE, 0, false},
    {kDist, -28160, 64, 19988, 0, Rule::kScaled, kDE, 512, false},
    {kDist, 32767, 32, -30199, 0, Rule::kNone, kDE, 0, true},
    {kDZc, -20480, 8192, 22938, 2, Rule::kHighWord, kDE, 0, false},
    {kDZc, 23831, 4096, 31576, 2, Rule::kHighWord, kDE, 0, false},
    {kDE, 32767, 2048, 17367, 0, Rule::kNone, kDE, 0, false},
    {kDist, -22400, 32, 25395, 0, Rule::kScaled, kDLowE, 256, false},
    {kDE, -30427, 256, -29959, 0, Rule::kHighWord, kDLowE, 0, true},
    {kDE, -23406, 512, 28087, 0, Rule::kHighWord, kDLowE, 0, false},
    {kDE, 24576, 1024, 29491, 0, Rule::kScaled, kDLowE, 16384, false},
};

bool anyRuleFires(const int16_t* d) {
  for (const Rule& r : kRules) {
    Word32 t = L_shr(L_mac(L_mult(d[r.x], r.slope), r.biasFactor, r.bias), r.shift);
    if (r.term == Rule::kHighWord)
      t = L_add(t, L_deposit_h(d[r.y]));
    else if (r.term == Rule::kScaled)
      t = L_mac(t, d[r.y], r.yScale);
    if (r.positive ? t > 0 : t < 0) return true;
  }
  return false;
}

// Background adaptation speeds (Q15 weights of the old value and of the
// frame) for energies, crossings and LSFs, by the number of updates so far.
struct Adaptation {
  int16_t below;  // row applies while the update count is below this
  int16_t keepE, takeE, keepZc, takeZc, keepLsf, takeLsf;
};
constexpr Adaptation kAdaptation[] = {
    {20, 24576, 8192, 26214, 6554, 19661, 13017}, {30, 31130, 1638, 30147, 2621, 21299, 11469},
    {40, 31785, 983, 30802, 1966, 22938, 9830},   {50, 32440, 328, 31457, 1311, 24576, 8192},
    {60, 32604, 164, 32440, 328, 24576, 8192},    {0, 32604, 164, 32702, 66, 24576, 8192},
};
constexpr int kAdaptationRows = sizeof kAdaptation / sizeof kAdaptation[0];

inline Word16 blend(Word16 keep, Word16 old, Word16 take, Word16 x) { return extract_h(L_mac(L_mult(keep, old), take, x)); }

int16_t minimumOf(const int16_t* v, int n) {
  int16_t m = v[0];
  for (int i = 1; i < n; ++i)
    if (v[i] < m) m = v[i];
  return m;
}

}  // namespace

int16_t energyLog(Word32 x, int16_t expR0) {
  Word16 e, f;
  log2Split(x, e, f);
  Word32 acc = mpy32x16(e, f, 9864);
  acc = L_mac(acc, 9864, sub(sub(expR0, 1), 1));
  acc = L_shl(acc, 11);
  return sub(extract_h(acc), 4875);
}

void VoiceDetector::reset() {
  std::memset(static_cast<void*>(this), 0, sizeof *this);
  extensionOpen = 1;
  runningMin = kMax16;
}

VadFeatures VoiceDetector::measure(const int32_t* r, int16_t expR0, const int16_t* lsf, const int16_t* window) const {
  Word16 hi[13], lo[13];
  for (int i = 0; i < 13; ++i) L_Extract(r[i], hi[i], lo[i]);
  VadFeatures f;
  f.energy = energyLog(L_Comp(hi[0], lo[0]), expR0);
  // Low band: the autocorrelation weighted by that of the low-pass filter.
  const int16_t* lowPass = vokc::tables::kVadLowBandCorr;
  Word32 acc = 0;
  for (int i = 1; i <= 12; ++i) acc = L_mac(acc, hi[i], lowPass[i]);
  acc = L_mac(L_shl(acc, 1), hi[0], lowPass[0]);
  f.lowEnergy = energyLog(acc, expR0);
  acc = 0;
  for (int i = 0; i < kOrder; ++i) {
    const Word16 d = sub(lsf[i], noiseLsf[i]);
    acc = L_mac(acc, d, d);
  }
  f.distortion = extract_h(acc);
  // Sign changes over samples 120..200 of the window (the frame's middle).
  f.crossings = 0;
  for (int i = 121; i <= 200; ++i)
    if (mult(window[i - 1], window[i]) < 0) f.crossings = add(f.crossings, 410);
  return f;
}

void VoiceDetector::trackMinimum(int16_t energy, int16_t frame) {
  const bool blockEnd = (frame & 7) == 0;
  if (frame <= kWindowFrames) {
    // Filling the window: one block minimum per 8 frames.
    if (energy < runningMin) runningMin = windowMin = energy;
    if (blockEnd) {
      blockMin[(frame >> 3) - 1] = runningMin;
      runningMin = kMax16;
    }
  } else {
    if ((frame & 7) == 1) {
      runningMin = windowMin;
      nextBlockMin = kMax16;
    }
    if (energy < runningMin) runningMin = energy;
    if (energy < nextBlockMin) nextBlockMin = energy;
    if (blockEnd) {
      std::memmove(blockMin, blockMin + 1, 15 * sizeof(int16_t));
      blockMin[15] = nextBlockMin;
    }
  }
  if (blockEnd) windowMin = minimumOf(blockMin, 16);
}

void VoiceDetector::adaptBackground(const VadFeatures& f, const int16_t* lsf) {
  ++updates;
  int row = 0;
  while (row < kAdaptationRows - 1 && updates >= kAdaptation[row].below) ++row;
  const Adaptation& a = kAdaptation[row];
  noiseEnergy = blend(a.keepE, noiseEnergy, a.takeE, f.energy);
  noiseLowEnergy = blend(a.keepE, noiseLowEnergy, a.takeE, f.lowEnergy);
  noiseCrossings = blend(a.keepZc, noiseCrossings, a.takeZc, f.crossings);
  for (int i = 0; i < kOrder; ++i) noiseLsf[i] = blend(a.keepLsf, noiseLsf[i], a.takeLsf, lsf[i]);
}

int16_t VoiceDetector::decide(const VadFeatures& f, const int16_t* lsf, int16_t rc1, int16_t frame, int16_t prevVad,
                              int16_t pprevVad) {
  trackMinimum(f.energy, frame);

  // Start-up: the loud frames build the first model (sums of 1/32 each,
  // rescaled to a mean at the last start-up frame).
  int16_t voice = 1;
  if (frame <= kStartFrames) {
    if (f.energy < kEnergyFloor) {
      voice = 0;
      ++quietStart;
    } else {
      startEnergy = extract_h(L_mac(L_deposit_h(startEnergy), f.energy, 1024));
      noiseCrossings = extract_h(L_mac(L_deposit_h(noiseCrossings), f.crossings, 1024));
      for (int i = 0; i < kOrder; ++i) noiseLsf[i] = extract_h(L_mac(L_deposit_h(noiseLsf[i]), lsf[i], 1024));
    }
  }
  if (frame < kStartFrames) {
    lastEnergy = f.energy;
    return voice;
  }
  if (frame == kStartFrames) {
    const Word16 scale = vokc::tables::kVadInitFactor[quietStart];
    const Word16 shift = vokc::tables::kVadInitShift[quietStart];
    auto mean = [&](Word16 sum) { return extract_h(L_shl(L_mult(sum, scale), shift)); };
    startEnergy = mean(startEnergy);
    noiseCrossings = mean(noiseCrossings);
    for (int i = 0; i < kOrder; ++i) noiseLsf[i] = mean(noiseLsf[i]);
    noiseEnergy = sub(startEnergy, 2048);
    noiseLowEnergy = sub(startEnergy, 2458);
  }

  const int16_t diff[4] = {sub(noiseEnergy, f.energy), sub(noiseLowEnergy, f.lowEnergy), f.distortion,
                           sub(noiseCrossings, f.crossings)};
  voice = f.energy < kEnergyFloor ? 0 : (anyRuleFires(diff) ? 1 : 0);

  // Smoothing, in this order: hangover right after speech, up to four
  // extensions of speech at a steady level (then one frame without), a
  // return to noise after more than ten noise frames unless the energy
  // rose, and noise for quiet frames once the window is full.
  smoothedVoice = 0;
  if (prevVad == 1 && voice == 0 && add(diff[kDE], 410) < 0 && f.energy > kEnergyFloor) voice = smoothedVoice = 1;
  if (extensionOpen == 0) {
    extensionOpen = 1;
  } else if (pprevVad == 1 && prevVad == 1 && voice == 0 && abs_s(sub(lastEnergy, f.energy)) <= kEnergyMargin) {
    voice = smoothedVoice = 1;
    if (++extensionRun > 4) {
      extensionRun = 0;
      extensionOpen = 0;
    }
  }
  if (voice == 0) ++silenceRun;
  if (voice == 1 && silenceRun > 10 && sub(sub(f.energy, lastEnergy), kEnergyMargin) <= 0) {
    voice = 0;
    silenceRun = 0;
  }
  if (voice == 1) silenceRun = 0;
  const bool quiet = sub(sub(f.energy, kEnergyMargin), noiseEnergy) < 0;
  if (quiet && frame > kWindowFrames && !smoothedVoice && rc1 < 19661) voice = 0;

  // The model follows frames that look like stationary noise, and drops to
  // the window's minimum energy when it strays from it.
  if (quiet && rc1 < 24576 && f.distortion < kStableDistortion) adaptBackground(f, lsf);
  if (frame > kWindowFrames) {
    const int16_t above = sub(noiseEnergy, runningMin);
    if ((above < 0 && f.distortion < kStableDistortion) || above > 2048) {
      noiseEnergy = runningMin;
      updates = 0;
    }
  }
  lastEnergy = f.energy;
  return voice;
}

}  // namespace vokc::g729
