// Automatic level control in the manner of a G.169 device: speech bursts are
// found against a tracked noise floor, the speech power is estimated inside
// bursts, and a gain rises slowly towards the value that puts the speech
// level at the target (never above the maximum gain), while a per-block
// limiter keeps every output peak at or below the limit level.  Everything is
// single-precision float on blocks of 8 samples; sums run over k = 0..7.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/status.h"

using voksc::anyNull;

namespace {

struct Controller {
  // configuration
  float targetLevel, limitLevel, noiseMin, noiseMax, maxGain;
  float rateFloorLater, rateFloor, hangoverBlocks, riseRate;
  // burst bookkeeping
  int16_t sinceSpeech, bursts, loudBlocks, inBurst;
  // per-block measures and trackers
  float meanMag, envelope, peakEnvelope, speechPeak, noise, threshold, speechFloor;
  float blockPower, speechPower, rate, speechLevel, levelFactor;
  // gains
  float gainTarget, riseInUse, gain, smoothing, blockPeak;
  // values at the start of the current burst
  float savedPower, savedGain, savedRate;
};
static_assert(sizeof(Controller) == 124, "the state object is 124 bytes");

constexpr int16_t kCountCap = 16383;

void initController(Controller& s) {
  s = Controller{};
  s.targetLevel = 1623.4912f;
  s.limitLevel = 32767.0f;
  s.noiseMin = 4.125246f;
  s.noiseMax = 65.38f;
  s.maxGain = 3.8018899f;
  s.rateFloorLater = 0.02f;
  s.rateFloor = 0.0033333f;
  s.hangoverBlocks = 200.0f;
  s.riseRate = 0.01f;
  s.sinceSpeech = 200;
  s.noise = 65.38f;
  s.threshold = 65.38f;
  s.speechFloor = 32767.0f;
  s.rate = 0.1f;
  s.levelFactor = 0.7f;
  s.gainTarget = 0.03125f;
  s.smoothing = 1.0f;
  s.savedGain = 0.03125f;
  s.savedRate = 0.1f;
}

int16_t bump(int16_t v) { return static_cast<int16_t>(v < kCountCap ? v + 1 : kCountCap); }

// One block of 8 samples.
void runBlock(Controller& s, const Vok16s* x, Vok16s* y) {
  float mean = 0.0f, power = 0.0f, peak = 0.0f;
  for (int k = 0; k < 8; ++k) {
    const float v = static_cast<float>(x[k]);
    const float mag = std::fabs(v);
    mean += 0.125f * mag;
    power += 0.125f * v * v;
    peak = std::fmax(peak, mag);
  }
  s.meanMag = mean;
  s.envelope = 0.8f * mean + 0.2f * s.envelope;
  s.peakEnvelope = std::fmax(s.envelope, 0.99f * s.peakEnvelope);
  const float e = s.envelope, p = s.peakEnvelope;

  // Noise floor: falls fast, rises slowly, and not at all on loud blocks;
  // once bursts were seen it is held up by the speech level.
  float keep = 0.99f, take = 0.01f;
  if (s.noise > e) {
    keep = 0.9f;
    take = 0.1f;
  } else if (e >= 2.0f * s.noise) {
    keep = 1.0f;
    take = 0.0f;
  }
  const bool noFloor = s.bursts == 0 || (s.bursts == 1 && (s.loudBlocks < 501 || s.rate >= 0.0025f));
  const float floorTerm = noFloor ? 0.0f : 1456.7665f * s.speechLevel;
  const float tracked = keep * s.noise + take * e;
  s.noise = std::fmin(s.noiseMax, std::fmax(floorTerm, std::fmax(s.noiseMin, tracked)));
  s.threshold = 4.0f * s.noise;
  const float thr = s.threshold;

  if (s.speechFloor > e)
    s.speechFloor = std::fmax(s.noise, 0.7f * s.speechFloor + 0.3f * e);
  else
    s.speechFloor = std::fmax(s.noise, 0.99f * s.speechFloor + 0.01f * e);

  if (mean > thr) s.loudBlocks = bump(s.loudBlocks);

  bool speech = false;
  if (p > thr) {
    s.sinceSpeech = 0;
    if (s.inBurst == 0) {
      s.bursts = bump(s.bursts);
      s.savedPower = s.speechPower;
      s.savedGain = s.gainTarget;
      s.savedRate = s.rate;
      s.inBurst = 1;
      s.levelFactor = 0.7f;
    }
    speech = true;
  } else if (s.inBurst == 1) {
    s.sinceSpeech = bump(s.sinceSpeech);
    if (static_cast<float>(s.sinceSpeech) == s.hangoverBlocks) {
      s.inBurst = 0;
      if (s.loudBlocks < 50) {  // too short to be speech: forget it
        s.speechPower = s.savedPower;
        s.gainTarget = s.savedGain;
        s.rate = s.savedRate;
        s.bursts = static_cast<int16_t>(s.bursts - 1);
      }
      s.loudBlocks = 0;
    } else {
      speech = true;  // hangover
    }
  } else {
    s.loudBlocks = 0;
  }

  s.riseInUse = s.riseRate;
  if (s.bursts == 1 && !(s.loudBlocks >= 10 && (s.loudBlocks >= 500 || e >= 3.0f * s.speechFloor)))
    s.riseInUse = 0.0f;

  if (speech) {
    if (p > s.speechPeak)
      s.speechPeak = p;
    else if (p > thr)
      s.speechPeak = 0.001f * p + 0.999f * s.speechPeak;
  } else {
    s.speechPeak = s.bursts >= 1 ? s.speechLevel : p;
  }

  s.blockPower = power;
  float rate;
  float factor = s.levelFactor;
  if (!speech) {
    rate = s.bursts >= 1 ? std::fmax(s.rateFloorLater, s.rate) : 0.1f;
  } else {
    rate = (s.bursts == 1 && s.loudBlocks < 500 && 0.1f * power > s.speechPower) ? std::fmax(0.05f, s.rate) : s.rate;
    if (thr > e) {  // the envelope sank below the threshold: no update
      if (s.loudBlocks < 500) factor = 0.7f;
    } else if (mean >= thr || s.loudBlocks >= 20) {
      const float w = rate - rate * rate;
      s.speechPower = s.speechPower + (power - s.speechPower) * w;
      rate = w;
    }
  }
  s.rate = std::fmax(s.rateFloor, rate);
  s.speechLevel = factor * std::sqrt(s.speechPower);
  s.levelFactor = s.loudBlocks < 500 ? std::fmin(0.89f, factor * 1.000461f) : factor;

  if (speech) {
    float cap, target;
    if (s.targetLevel > s.maxGain * s.speechLevel) {
      cap = s.maxGain;
      target = s.targetLevel > s.maxGain * s.speechPeak ? s.maxGain : s.targetLevel / s.speechPeak;
    } else {
      cap = target = s.targetLevel / s.speechLevel;
    }
    s.gainTarget = std::fmin(cap, s.gainTarget + s.riseInUse * target);
  }

  s.gain = std::fmin(s.gainTarget, s.gain + (s.gainTarget - s.gain) * s.smoothing);
  s.blockPeak = peak;
  if (s.gain * peak > s.limitLevel) {
    s.gain = s.limitLevel / peak;
    s.smoothing = 0.001f;
  } else {
    s.smoothing = std::fmin(1.0f, 1.1f * s.smoothing);
  }

  for (int k = 0; k < 8; ++k) {
    const float v = std::trunc(static_cast<float>(x[k]) * s.gain);
    y[k] = static_cast<Vok16s>(v >= 32767.0f ? 32767 : v > -32768.0f ? static_cast<int>(v) : -32768);
  }
}

// The object has no alignment rule: it is read into and written back from an
// aligned copy.
Controller load(const void* p) {
  Controller s;
  std::memcpy(&s, p, sizeof s);
  return s;
}
void store(void* p, const Controller& s) { std::memcpy(p, &s, sizeof s); }

}  // namespace

VOKSC_EXPORT VokResult voksALCGetStateSize_G169_16s(int* size) {
  if (anyNull(size)) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(Controller));
  return vokOk;
}

VOKSC_EXPORT VokResult voksALCInit_G169_16s(ALCState_G169* state) {
  if (anyNull(state)) return vokErrNullPtr;
  Controller s;
  initController(s);
  store(state, s);
  return vokOk;
}

VOKSC_EXPORT VokResult voksALCSetLevel_G169_16s(Vok32f targetDb, Vok32f limitDb, ALCState_G169* state) {
  if (anyNull(state)) return vokErrNullPtr;
  if (targetDb < 0.0f || limitDb < 0.0f) return vokErrRange;
  Controller s = load(state);
  s.targetLevel = static_cast<float>(32768.0 / std::pow(10.0, static_cast<double>(targetDb) / 20.0));
  s.limitLevel = static_cast<float>(32768.0 / std::pow(10.0, static_cast<double>(limitDb) / 20.0));
  store(state, s);
  return vokOk;
}

VOKSC_EXPORT VokResult voksALCSetGain_G169_16s(Vok32f gainDb, ALCState_G169* state) {
  if (anyNull(state)) return vokErrNullPtr;
  if (gainDb < 0.0f) return vokErrRange;
  Controller s = load(state);
  s.maxGain = static_cast<float>(std::pow(10.0, static_cast<double>(gainDb) / 20.0));
  store(state, s);
  return vokOk;
}

VOKSC_EXPORT VokResult voksALC_G169_16s(const Vok16s* src, Vok16s* dst, int len, ALCState_G169* state) {
  if (anyNull(src, dst, state)) return vokErrNullPtr;
  if (len < 8 || len % 8 != 0) return vokErrRange;
  Controller s = load(state);
  for (int i = 0; i < len; i += 8) runBlock(s, src + i, dst + i);
  store(state, s);
  return vokOk;
}
