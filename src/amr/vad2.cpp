// GSM-AMR voice activity detector, option 2: per 80-sample half frame the
// normalised, pre-emphasised block goes through the 128-point real FFT; 16
// channel energies are smoothed and compared with per-channel noise
// estimates, the channel SNRs give a voice metric whose threshold follows
// the long-term SNR, and a burst / hangover rule forms the decision.  The
// noise estimates are updated in pauses, or forced after a long stationary
// stretch.
#include <cstdint>

#include "amr_internal.h"
#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"
#include "vad2_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amr {
namespace {

constexpr int kHalf = 80;
constexpr int kLead = 24;  // zeros in front of the block in the FFT buffer
constexpr int kChannels = 16;
constexpr int16_t kHeadroom = 2;
constexpr int16_t kPreEmph = -26214;           // -0.8
constexpr int16_t kEnergySmooth = 18022;       // 0.55 (new share 0.45)
constexpr int16_t kEnergyKeep = 14746;
constexpr int16_t kNoiseNew = 3277, kNoiseKeep = 29491;  // 0.1 / 0.9
constexpr int16_t kLongHigh = 29491, kLongLow = 22938;   // long-term dB smoothing limits
constexpr int16_t kDeviationLimit = 7168;      // 28 dB, Q8
constexpr int16_t kUpdateMetric = 35, kForcedUpdateCount = 50, kHysteresis = 6;
constexpr int32_t kNoiseInit = 8192, kNoiseFloor = 32;  // 16.0 and 0.0625 with 9 fractional bits

// Per scaling state of the channel energies (9 or 4 fractional bits).
struct EnergyScale {
  int16_t fracBits;
  int32_t floor;       // smallest channel energy
  int32_t noiseFloor;  // total energy needed for a forced update
  int32_t initNoise;   // level below which the initial noise is kInitNoise
  int16_t normShift;   // shift folding the FFT scaling into this format
};
constexpr EnergyScale kScale[2] = {{9, 32, 512, 8192, 10}, {4, 1, 16, 256, 5}};
constexpr int16_t kStateShift = 5;  // between the two formats

// 10 log10(x / 2^fracBits) in Q8.
int16_t tenLog10(int32_t x, int16_t fracBits) {
  int16_t e, f;
  vokLog2(x, &e, &f);
  const int32_t v = vokMpy32x16(sub(e, fracBits), f, 24660);  // 10 log10(2) / 4
  return extract_l(L_shr_r(v, 6));
}

// Largest left shift keeping `kHeadroom` spare bits; the block is scaled by it.
int16_t normaliseBlock(const int16_t* x, int16_t* y) {
  int16_t peak = abs_s(x[0]);
  for (int i = 1; i < kHalf; ++i) {
    const int16_t a = abs_s(x[i]);
    if (a > peak) peak = a;
  }
  if (peak == 0) {
    for (int i = 0; i < kHalf; ++i) y[i] = 0;
    return 16 - kHeadroom;
  }
  const int16_t sh = sub(norm_s(peak), kHeadroom);
  for (int i = 0; i < kHalf; ++i) y[i] = shl(x[i], sh);
  return sh;
}

// Spectrum of the half frame: 24 zeros, the pre-emphasised block, zeros.
int16_t spectrum(const int16_t* src, VAD2State_GSMAMR_16s* st, int16_t* buf) {
  int16_t block[kHalf];
  const int16_t sh = normaliseBlock(src, block);
  st->preEmphMem = shr_r(st->preEmphMem, sub(st->lastNormShift, sh));
  st->lastNormShift = sh;
  for (int i = 0; i < 128; ++i) buf[i] = 0;
  int16_t prev = st->preEmphMem;
  for (int i = 0; i < kHalf; ++i) {
    buf[kLead + i] = add(block[i], mult(kPreEmph, prev));
    prev = block[i];
  }
  st->preEmphMem = block[kHalf - 1];
  realFft128(buf);
  return sh;
}

// Weighted mean of two 32-bit values with Q15 weights on split operands.
int32_t blend(int32_t a, int16_t wa, int32_t b, int16_t wb) {
  return L_add(vokMpy32x16(vokSplit(a), wa), vokMpy32x16(vokSplit(b), wb));
}

int16_t decide(const int16_t* src, VAD2State_GSMAMR_16s* st, int16_t ltpFlag) {
  st->frameCount = L_add(st->frameCount, 1);
  st->ltpFlag = ltpFlag;
  const bool first = st->frameCount == 1, warmUp = st->frameCount <= 4;

  int16_t buf[128];
  const int16_t sh = spectrum(src, st, buf);

  // The energy format follows the level: small shifts (loud input) need the
  // coarser one; switching rescales the stored energies.
  const int oldState = st->shiftState != 0;
  int state = oldState;
  if (oldState == 0 && sh <= 2 - kHeadroom) state = 1;
  if (oldState == 1 && sh >= 5 - kHeadroom) state = 0;
  st->shiftState = static_cast<int16_t>(state);
  if (state != oldState) {
    const int16_t r = state == 1 ? kStateShift : static_cast<int16_t>(-kStateShift);
    for (int32_t& e : st->chanEnergy) e = L_shr(e, r);
  }
  const EnergyScale& fmt = kScale[state];

  // Channel energies, smoothed (the first call takes them as they are).
  const int16_t keepOld = first ? 0 : kEnergyKeep, takeNew = first ? 32767 : kEnergySmooth;
  for (int c = 0; c < kChannels; ++c) {
    int32_t e = 0;
    for (int k = kVad2Bands[c][0]; k <= kVad2Bands[c][1]; ++k) {
      e = L_mac(e, buf[2 * k], buf[2 * k]);
      e = L_mac(e, buf[2 * k + 1], buf[2 * k + 1]);
    }
    e = L_shr_r(e, sub(shl(sh, 1), fmt.normShift));
    int32_t v = blend(e, mult(takeNew, kVad2BandScale[c]), st->chanEnergy[c], keepOld);
    st->chanEnergy[c] = v < fmt.floor ? fmt.floor : v;
  }
  int32_t total = 0, peak = 0;
  for (int c = 0; c < kChannels; ++c) total = L_add(total, st->chanEnergy[c]);
  for (int c = 2; c < kChannels; ++c)
    if (st->chanEnergy[c] > peak) peak = st->chanEnergy[c];
  const bool peaky = peak > vokMpy32x16(vokSplit(total), 20480);

  if (warmUp) {
    for (int c = 0; c < kChannels; ++c) {
      const int32_t e = st->chanEnergy[c];
      st->chanNoise[c] = (peaky || e < fmt.initNoise) ? kNoiseInit : (state == 1 ? L_shr(e, -kStateShift) : e);
    }
  }

  // Channel SNRs and the voice metric.
  int16_t energyDb[kChannels], snr[kChannels];
  int16_t metric = 0;
  for (int c = 0; c < kChannels; ++c) {
    energyDb[c] = tenLog10(st->chanEnergy[c], fmt.fracBits);
    snr[c] = sub(energyDb[c], tenLog10(st->chanNoise[c], 9));
    int16_t q = shr_r(mult(21845, snr[c]), 6);  // 0.375 dB steps
    q = q >= 89 ? 89 : (q > 0 ? q : 0);
    metric = add(metric, kVad2VoiceMetric[q]);
  }

  // Frame SNR and the long-term peak SNR.
  int16_t frameSnr;
  if (warmUp || st->forcedUpdate == 1) {
    st->negSnrVar = 0;
    st->negSnrBias = 0;
    int32_t noise = 0;
    for (int c = 0; c < kChannels; ++c) noise = L_add(noise, st->chanNoise[c]);
    frameSnr = sub(14320, tenLog10(noise, 9));
    st->totalSnr = frameSnr;
  } else {
    int32_t lin = 0;  // sum of the channel SNRs as powers, scaled by 2^3
    for (int c = 0; c < kChannels; ++c) {
      Split p = vokSplit(L_shr(L_mult(snr[c], 10885), 8));
      lin = L_add(lin, vokPow2(add(p.hi, 3), p.lo));
    }
    frameSnr = tenLog10(lin, 7);
    if (frameSnr > st->totalSnr)
      st->totalSnr = round_fx(L_add(L_mult(29491, st->totalSnr), L_mult(3277, frameSnr)));
    else if (frameSnr > mult(20480, st->totalSnr))
      st->totalSnr = round_fx(L_add(L_mult(32702, st->totalSnr), L_mult(66, frameSnr)));
  }
  int16_t snrStep = shr(mult(st->totalSnr, 10923), 8);  // 3 dB steps
  snrStep = snrStep > 19 ? 19 : (snrStep < 0 ? 0 : snrStep);

  if (frameSnr < 0) {  // negative SNRs raise the threshold
    const int16_t sq = round_fx(L_shl(L_mult(frameSnr, frameSnr), 7));
    st->negSnrVar = round_fx(L_add(L_mult(32440, st->negSnrVar), L_mult(328, sq)));
    if (st->negSnrVar > 1024) st->negSnrVar = 1024;
    const int16_t b = mult_r(shl(sub(st->negSnrVar, 166), 4), 24576);
    st->negSnrBias = b < 0 ? 0 : shr(b, 8);
  }

  // Decision with burst and hangover.
  int16_t active;
  if (metric > add(kVad2MetricThreshold[snrStep], st->negSnrBias)) {
    active = 1;
    st->burstCount = add(st->burstCount, 1);
    if (st->burstCount > kVad2BurstLength[snrStep]) st->hangover = kVad2Hangover[snrStep];
  } else {
    st->burstCount = 0;
    st->hangover = sub(st->hangover, 1);
    active = st->hangover > 0;
    if (!active) st->hangover = 0;
  }

  // Spectral deviation from the long-term channel energies, then their
  // smoothing, faster when the frame SNR is near the long-term one.
  int16_t deviation = 0;
  if (first) {
    for (int c = 0; c < kChannels; ++c) st->chanEnergyLongDb[c] = energyDb[c];
  } else {
    for (int c = 0; c < kChannels; ++c) deviation = add(deviation, abs_s(sub(st->chanEnergyLongDb[c], energyDb[c])));
  }
  const int16_t gap = sub(st->totalSnr, frameSnr);
  int16_t keep, take;
  if (gap <= 0 || st->totalSnr <= 0) {
    keep = kLongHigh;
    take = static_cast<int16_t>(32768 - kLongHigh);
  } else if (gap > st->totalSnr) {
    keep = kLongLow;
    take = static_cast<int16_t>(32768 - kLongLow);
  } else {
    keep = sub(kLongHigh, mult(kLongHigh - kLongLow, div_s(gap, st->totalSnr)));
    take = sub(32767, keep);
  }
  for (int c = 0; c < kChannels; ++c)
    st->chanEnergyLongDb[c] = round_fx(L_add(L_mult(take, energyDb[c]), L_mult(keep, st->chanEnergyLongDb[c])));

  // Noise update: in pauses, or forced after a long steady stretch.
  bool update = false;
  st->forcedUpdate = 0;
  if (metric <= kUpdateMetric) {
    if (st->burstCount == 0) {
      update = true;
      st->updateCount = 0;
    }
  } else if (total > fmt.noiseFloor && deviation < kDeviationLimit && !peaky && ltpFlag == 0) {
    st->updateCount = add(st->updateCount, 1);
    if (st->updateCount >= kForcedUpdateCount) {
      update = true;
      st->forcedUpdate = 1;
    }
  }
  st->hysterCount = st->updateCount == st->lastUpdateCount ? add(st->hysterCount, 1) : int16_t{0};
  st->lastUpdateCount = st->updateCount;
  if (st->hysterCount > kHysteresis) st->updateCount = 0;

  if (update) {
    const int16_t toNoise = state == 1 ? static_cast<int16_t>(-kStateShift) : int16_t{0};
    for (int c = 0; c < kChannels; ++c) {
      const int32_t v = blend(L_shr(st->chanEnergy[c], toNoise), kNoiseNew, st->chanNoise[c], kNoiseKeep);
      st->chanNoise[c] = v < kNoiseFloor ? kNoiseFloor : v;
    }
  }
  return active;
}

}  // namespace
}  // namespace voksc::amr

VOKSC_EXPORT VokResult voksVAD2_GSMAMR_16s(const Vok16s* src, VAD2State_GSMAMR_16s* state, Vok16s* vadFlag,
                                           Vok16s ltpFlag) {
  if (anyNull(src, state, vadFlag)) return vokErrNullPtr;
  *vadFlag = voksc::amr::decide(src, state, ltpFlag);
  return vokOk;
}
