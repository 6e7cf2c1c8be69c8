// GSM-AMR voice activity detector, option 1: a nine-band filter bank of
// 5th- and 3rd-order all-pass sections, band levels against a background
// estimate, complex-signal and stationarity tracking, and the hangover.
#include <cstdint>
#include <cstring>

#include "amr_internal.h"
#include "common/basic_op.h"
#include "core/status.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amr {
namespace {

constexpr int kBands = 9;
constexpr int16_t kCoef5a = 21955, kCoef5b = 6390, kCoef3 = 13363;
constexpr int16_t kCorrMin = 13106, kCorrHigh = 19660, kCorrLow = 16383, kCorrHang = 22936, kCorrInNoise = 21298;

// First 5th-order stage on the whole frame (two interleaved all-pass
// branches, input scaled by 1/4).
void firstStage(const int16_t* in, int16_t* out, int16_t* mem) {
  int16_t m0 = mem[0], m1 = mem[1];
  for (int i = 0; i < kFrame; i += 4) {
    const int16_t a0 = sub(shr(in[i], 2), mult(kCoef5a, m0));
    const int16_t lo0 = add(m0, mult(kCoef5a, a0));
    const int16_t b0 = sub(shr(in[i + 1], 2), mult(kCoef5b, m1));
    const int16_t hi0 = add(m1, mult(kCoef5b, b0));
    out[i] = add(lo0, hi0);
    out[i + 1] = sub(lo0, hi0);
    m0 = sub(shr(in[i + 2], 2), mult(kCoef5a, a0));
    const int16_t lo1 = add(a0, mult(kCoef5a, m0));
    m1 = sub(shr(in[i + 3], 2), mult(kCoef5b, b0));
    const int16_t hi1 = add(b0, mult(kCoef5b, m1));
    out[i + 2] = add(lo1, hi1);
    out[i + 3] = sub(lo1, hi1);
  }
  mem[0] = m0;
  mem[1] = m1;
}

// 5th-order split of a pair into low (x0) and high (x1) parts.
void split5(int16_t& x0, int16_t& x1, int16_t* mem) {
  const int16_t a = sub(x0, mult(kCoef5a, mem[0]));
  const int16_t lo = add(mem[0], mult(kCoef5a, a));
  mem[0] = a;
  const int16_t b = sub(x1, mult(kCoef5b, mem[1]));
  const int16_t hi = add(mem[1], mult(kCoef5b, b));
  mem[1] = b;
  x0 = shr(add(lo, hi), 1);
  x1 = shr(sub(lo, hi), 1);
}

// 3rd-order split.
void split3(int16_t& x0, int16_t& x1, int16_t* mem) {
  const int16_t a = sub(x1, mult(kCoef3, *mem));
  const int16_t ap = add(*mem, mult(kCoef3, a));
  *mem = a;
  x1 = shr(sub(x0, ap), 1);
  x0 = shr(add(x0, ap), 1);
}

// Level of one band: the magnitudes of its samples of this frame and the
// look-ahead part kept from the previous frame; the look-ahead part of this
// frame is kept for the next.
int16_t bandLevel(const int16_t* d, int16_t* keep, int split, int count, int step, int first, int scale) {
  int32_t tail = 0, head = 0;
  for (int i = split; i < count; ++i) tail += 2 * abs_s(d[step * i + first]);
  for (int i = 0; i < split; ++i) head += 2 * abs_s(d[step * i + first]);
  const int32_t total = L_add(L_add(tail, L_shl(*keep, static_cast<int16_t>(16 - scale))), head);
  *keep = extract_h(L_shl(tail, static_cast<int16_t>(scale)));
  return extract_h(L_shl(total, static_cast<int16_t>(scale)));
}

void filterBank(VAD1State_GSMAMR_16s* st, const int16_t* in, int16_t* level) {
  int16_t b[kFrame];
  firstStage(in, b, st->filterMem);
  for (int i = 0; i < kFrame; i += 4) {
    split5(b[i], b[i + 2], st->filterMem + 2);
    split5(b[i + 1], b[i + 3], st->filterMem + 4);
  }
  for (int i = 0; i < kFrame; i += 8) {
    split3(b[i], b[i + 4], st->filterMem + 6);
    split3(b[i + 2], b[i + 6], st->filterMem + 7);
    split3(b[i + 3], b[i + 7], st->filterMem + 10);
  }
  for (int i = 0; i < kFrame; i += 16) {
    split3(b[i], b[i + 8], st->filterMem + 8);
    split3(b[i + 4], b[i + 12], st->filterMem + 9);
  }
  // band: (look-ahead split, count, stride, first sample, scale), low band first
  struct Band { int split, count, step, first, scale; };
  static const Band kBand[kBands] = {{8, 10, 16, 0, 16},  {8, 10, 16, 8, 16},  {8, 10, 16, 12, 16},
                                     {8, 10, 16, 4, 16},  {16, 20, 8, 6, 16},  {16, 20, 8, 2, 16},
                                     {16, 20, 8, 3, 16},  {16, 20, 8, 7, 16},  {32, 40, 4, 1, 15}};
  for (int k = kBands - 1; k >= 0; --k) {
    const Band& d = kBand[k];
    level[k] = bandLevel(b, st->subLevel + k, d.split, d.count, d.step, d.first, d.scale);
  }
}

void updateStationarity(VAD1State_GSMAMR_16s* st, const int16_t* level, int16_t tone) {
  if (st->complexWarning != 0 && st->statCount < 5) st->statCount = 5;
  if ((st->pitchReg & 0x6000) == 0x6000 || (tone & 0x7C00) == 0x7C00 || (st->vadReg & 0x7F80) == 0) {
    st->statCount = 20;
  } else {
    int16_t ratio = 0;
    for (int i = 0; i < kBands; ++i) {
      int16_t num = level[i] > st->aveLevel[i] ? level[i] : st->aveLevel[i];
      int16_t den = level[i] > st->aveLevel[i] ? st->aveLevel[i] : level[i];
      if (num < 184) num = 184;
      if (den < 184) den = 184;
      const int16_t e = norm_s(den);
      ratio = add(ratio, shr(div_s(shr(num, 1), shl(den, e)), static_cast<int16_t>(8 - e)));
    }
    if (ratio > 1000)
      st->statCount = 20;
    else if ((st->vadReg & 0x4000) != 0 && st->statCount != 0)
      st->statCount = sub(st->statCount, 1);
  }
  const int16_t alpha = st->statCount == 20 ? 32767 : ((st->vadReg & 0x4000) == 0 ? 16383 : 3276);
  for (int i = 0; i < kBands; ++i) st->aveLevel[i] = add(st->aveLevel[i], mult_r(alpha, sub(level[i], st->aveLevel[i])));
}

void updateNoise(VAD1State_GSMAMR_16s* st, const int16_t* level, int16_t tone) {
  updateStationarity(st, level, tone);
  int16_t up, down, step = 2;
  if ((st->vadReg & 0x7800) == 0 && (st->pitchReg & 0x7800) == 0 && st->complexHangCount == 0) {
    up = 1638;
    down = 2097;
  } else if (st->statCount == 0 && st->complexHangCount == 0) {
    up = 491;
    down = 1867;
  } else {
    up = 0;
    down = 1638;
    step = 0;
  }
  for (int i = 0; i < kBands; ++i) {
    const int16_t d = sub(st->oldLevel[i], st->bckrEst[i]);
    if (d < 0) {
      st->bckrEst[i] = add(-2, add(st->bckrEst[i], mult_r(down, d)));
      if (st->bckrEst[i] < 40) st->bckrEst[i] = 40;
    } else {
      st->bckrEst[i] = add(step, add(st->bckrEst[i], mult_r(up, d)));
      if (st->bckrEst[i] > 16000) st->bckrEst[i] = 16000;
    }
  }
  std::memcpy(st->oldLevel, level, kBands * sizeof(int16_t));
}

int16_t hangover(VAD1State_GSMAMR_16s* st, int16_t noiseLevel, bool lowPower) {
  const int16_t burstLen = noiseLevel > 100 ? 4 : 5, hangLen = noiseLevel > 100 ? 7 : 4;
  if (lowPower) {
    st->burstCount = st->hangCount = st->complexHangCount = st->complexHangTimer = 0;
    return 0;
  }
  if (st->complexHangTimer > 100 && st->complexHangCount < 250) st->complexHangCount = 250;
  if (st->complexHangCount != 0) {
    st->burstCount = 4;
    st->complexHangCount = sub(st->complexHangCount, 1);
    return 1;
  }
  if ((st->vadReg & 0x3FF0) == 0 && st->corrHpFast > kCorrInNoise) return 1;
  if ((st->vadReg & 0x4000) != 0) {
    st->burstCount = add(st->burstCount, 1);
    if (st->burstCount >= burstLen) st->hangCount = hangLen;
    return 1;
  }
  st->burstCount = 0;
  if (st->hangCount > 0) {
    st->hangCount = sub(st->hangCount, 1);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace voksc::amr

using namespace voksc::amr;

VOKSC_EXPORT VokResult voksVAD1_GSMAMR_16s(const Vok16s* src, VAD1State_GSMAMR_16s* st, Vok16s* vadFlag,
                                          Vok16s bestCorrHp, Vok16s toneReg) {
  if (anyNull(src, st, vadFlag)) return vokErrNullPtr;
  int64_t p = 0;
  for (int n = 0; n < kFrame; ++n) p += int32_t{src[n]} * src[n];
  const int32_t power = p * 2 > kMax32 ? kMax32 : static_cast<int32_t>(p * 2);
  if (power < 343040) st->pitchReg = static_cast<int16_t>(st->pitchReg & 0x3FFF);
  if (power < 15000) st->complexLow = static_cast<int16_t>(st->complexLow & 0x3FFF);
  int16_t level[kBands];
  filterBank(st, src + 40, level);
  // Sum of the squared band SNRs against the threshold of the noise level.
  int32_t snr = 0;
  for (int i = 0; i < kBands; ++i) {
    const int16_t e = norm_s(st->bckrEst[i]);
    const int16_t den = shl(st->bckrEst[i], e);
    int16_t t = den > 0 ? div_s(shr(level[i], 1), den) : 32767;
    t = shl(t, static_cast<int16_t>(e - 5));
    snr = L_mac(snr, t, t);
  }
  const int16_t snrSum = mult(extract_h(L_shl(snr, 6)), 3641);
  int32_t bsum = 0;
  for (int i = 0; i < kBands; ++i) bsum = L_add(bsum, st->bckrEst[i]);
  const int16_t noiseLevel = extract_h(L_shl(bsum, 13));
  int16_t thr = add(mult(-2808, noiseLevel), 1260);
  if (thr < 720) thr = 720;
  st->vadReg = shr(st->vadReg, 1);
  if (snrSum > thr) st->vadReg = static_cast<int16_t>(st->vadReg | 0x4000);
  const bool lowPower = power < 15000;
  // Complex-signal tracking of the high-pass correlation.
  const int16_t alpha = st->corrHpFast < kCorrHigh ? 2621 : (bestCorrHp < st->corrHpFast ? 6553 : 655);
  st->corrHpFast = round_fx(L_mac(L_msu(L_deposit_h(st->corrHpFast), alpha, st->corrHpFast), alpha, bestCorrHp));
  if (st->corrHpFast < kCorrMin || lowPower) st->corrHpFast = kCorrMin;
  st->complexHigh = shr(st->complexHigh, 1);
  st->complexLow = shr(st->complexLow, 1);
  if (!lowPower) {
    if (st->corrHpFast > kCorrHigh) st->complexHigh = static_cast<int16_t>(st->complexHigh | 0x4000);
    if (st->corrHpFast > kCorrLow) st->complexLow = static_cast<int16_t>(st->complexLow | 0x4000);
  }
  st->complexHangTimer = st->corrHpFast > kCorrHang ? add(st->complexHangTimer, 1) : 0;
  st->complexWarning = (st->complexHigh & 0x7F80) == 0x7F80 || (st->complexLow & 0x7FFF) == 0x7FFF;
  updateNoise(st, level, toneReg);
  *vadFlag = hangover(st, noiseLevel, lowPower);
  return vokOk;
}
