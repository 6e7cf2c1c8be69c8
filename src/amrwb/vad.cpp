// AMR-WB voice activity detector for 256-sample frames at 12.8 kHz: a tree of
// half-band all-pass splits gives twelve band levels, which are compared with
// a background estimate against a threshold that follows the noise and speech
// levels; a stationarity counter steers how fast the background adapts, and a
// burst/hangover rule smooths the decision.
//
// The record lives in caller memory of any alignment: it is loaded into a
// local copy and stored back, so no field access depends on where it sits.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/basic_op.h"
#include "core/status.h"
#include "voksc.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amrwb {
namespace {

constexpr int kFrame = 256;
constexpr int kBands = 12;

struct VadRecord {
  int16_t bckr[kBands];       // background level per band
  int16_t oldLevel[kBands];   // previous frame's levels: the background trails by one frame
  int16_t aveLevel[kBands];   // slowly averaged levels, the reference of the stationarity measure
  int16_t tailLevel[kBands];  // level of the last samples of the previous frame
  int16_t pairMem[5][2];      // fifth-order sections: one memory per all-pass branch
  int16_t singleMem[6];       // third-order sections
  int16_t burst;              // consecutive frames with an active intermediate decision
  int16_t hang;               // hangover frames still to give
  int16_t stationary;         // frames left before the signal counts as stationary
  int16_t decisions;          // intermediate decisions, newest in bit 14
  int16_t estFrames;          // frames in the current speech-level window
  int16_t peakLevel;          // largest active frame level of the window
  int16_t activeFrames;       // active frames of the window
  int16_t speechLevel;        // tracked speech level
  int32_t prevPower;          // doubled energy of the previous frame
  int16_t level[kBands];      // this frame's band levels, for the readout
};
static_assert(sizeof(VadRecord) == 172, "record size is part of the interface");

constexpr int16_t kBackgroundStart = 150, kSpeechLevelStart = 2050;

// ---- filter bank -----------------------------------------------------------

// One all-pass split of the frame buffer: pairs (stride*i + low, stride*i +
// high) become the low-band and high-band halves.  Stages run in table order;
// stages with equal stride touch disjoint samples and memories.
struct SplitStage {
  uint8_t stride, low, high, mem;
  bool fifthOrder;  // two branches with their own coefficients, else one branch
};
constexpr SplitStage kSplits[] = {
    {2, 0, 1, 0, true},     {4, 0, 2, 1, true},     {4, 1, 3, 2, true},     {8, 0, 4, 3, true},
    {8, 2, 6, 4, true},     {8, 3, 7, 0, false},    {16, 0, 8, 1, false},   {16, 4, 12, 2, false},
    {16, 6, 14, 3, false},  {32, 0, 16, 4, false},  {32, 8, 24, 5, false},
};
constexpr int16_t kPairCoef[2] = {21955, 6390}, kSingleCoef = 13363;

// One first-order all-pass branch: returns the output, updates the memory.
inline int16_t allPass(int16_t x, int16_t coef, int16_t& mem) {
  const int16_t w = sub(x, mult(coef, mem));
  const int16_t y = add(mem, mult(coef, w));
  mem = w;
  return y;
}

// Sum and difference halved: both operands are 16-bit, so the halved
// 17-bit value is the high word of the sum shifted up by 15, exactly.
inline int16_t halfSum(int16_t a, int16_t b) { return static_cast<int16_t>((int32_t{a} + b) >> 1); }
inline int16_t halfDiff(int16_t a, int16_t b) { return static_cast<int16_t>((int32_t{a} - b) >> 1); }

void splitBands(VadRecord& st, int16_t* buf) {
  for (const SplitStage& s : kSplits) {
    for (int base = 0; base < kFrame; base += s.stride) {
      int16_t& x0 = buf[base + s.low];
      int16_t& x1 = buf[base + s.high];
      if (s.fifthOrder) {
        int16_t* m = st.pairMem[s.mem];
        const int16_t a = allPass(x0, kPairCoef[0], m[0]);
        const int16_t b = allPass(x1, kPairCoef[1], m[1]);
        x0 = halfSum(a, b);
        x1 = halfDiff(a, b);
      } else {
        // The low branch is a plain delay-free path: only x1 is filtered.
        const int16_t b = allPass(x1, kSingleCoef, st.singleMem[s.mem]);
        x1 = halfDiff(x0, b);
        x0 = halfSum(x0, b);
      }
    }
  }
}

// Where each band's samples sit after the splits (every step-th sample from
// first), the scaling of its level, and how many samples at the end of the
// frame are carried into the next frame's level.
struct BandLayout {
  uint8_t first, step, scale, carried;
};
constexpr BandLayout kBandLayout[kBands] = {
    {0, 32, 17, 6},   {16, 32, 17, 6},  {24, 32, 17, 6},  {8, 32, 17, 6},
    {12, 16, 16, 12}, {4, 16, 16, 12},  {6, 16, 16, 12},  {14, 16, 16, 12},
    {2, 8, 15, 24},   {3, 8, 15, 24},   {7, 8, 15, 24},   {1, 4, 14, 48},
};

// Band level: twice the sum of magnitudes over the frame, where the carried
// end samples of the previous frame replace this frame's end samples.  The
// sums stay far below 2^31 (at most 64 doubled magnitudes plus a 16-bit
// value shifted by at most 2), so plain integer sums are the saturating ones.
void bandLevels(VadRecord& st, const int16_t* buf) {
  for (int b = 0; b < kBands; ++b) {
    const BandLayout& L = kBandLayout[b];
    const int count = kFrame / L.step, fresh = count - L.carried;
    int32_t tail = 0, head = 0;
    for (int i = 0; i < count; ++i) {
      const int32_t m = 2 * int32_t{abs_s(buf[L.step * i + L.first])};
      (i < fresh ? head : tail) += m;
    }
    const int32_t total = tail + L_shl(L_deposit_l(st.tailLevel[b]), static_cast<int16_t>(16 - L.scale)) + head;
    st.tailLevel[b] = extract_h(L_shl(tail, L.scale));
    st.level[b] = extract_h(L_shl(total, L.scale));
  }
}

// ---- decision ----------------------------------------------------------------

// -1024 log2(x / 32768) in a fast approximation: the normalised value is
// raised to the 16th power by squaring; its exponent and top bits give the
// result.  Non-positive inputs count as 1.
int16_t negLog2(int16_t x) {
  if (x <= 0) x = 1;
  const int16_t e = norm_s(x);
  int16_t m = shl(x, e);
  for (int k = 0; k < 3; ++k) m = mult(m, m);
  const int32_t p = L_mult(m, m);
  const int16_t e2 = norm_l(p);
  m = extract_h(L_shl(p, e2));
  int16_t r = add(shl(add(e, 16), 10), shl(e2, 6));
  return sub(add(r, 127), shr(m, 8));
}

// Sum of bands 1..11 (band 0 is left out), scaled by 2^12 into a level.
int16_t upperBandSum(const int16_t* v) {
  int32_t s = 0;
  for (int b = 1; b < kBands; ++b) s = L_add(s, v[b]);
  return extract_h(L_shl(s, 12));
}

constexpr int16_t kStationaryFrames = 20, kStatLevelFloor = 184, kStatRatioLimit = 1000;

// Stationarity counter and the averaged levels it is measured against.
void trackStationarity(VadRecord& st, int16_t tone) {
  const bool toneRun = (tone & 0x7C00) == 0x7C00;
  const bool quietRun = (st.decisions & 0x7F80) == 0;
  if (toneRun || quietRun) {
    st.stationary = kStationaryFrames;
  } else {
    // Sum over bands of 64 x (larger / smaller) of level and average.
    int16_t ratio = 0;
    for (int b = 0; b < kBands; ++b) {
      const bool rising = st.level[b] > st.aveLevel[b];
      int16_t big = rising ? st.level[b] : st.aveLevel[b];
      int16_t small = rising ? st.aveLevel[b] : st.level[b];
      if (big < kStatLevelFloor) big = kStatLevelFloor;
      if (small < kStatLevelFloor) small = kStatLevelFloor;
      const int16_t e = norm_s(small);
      const int16_t q = div_s(shr(big, 1), shl(small, e));
      ratio = add(ratio, shr(q, sub(8, e)));
    }
    if (ratio > kStatRatioLimit)
      st.stationary = kStationaryFrames;
    else if ((st.decisions & 0x4000) && st.stationary != 0)
      st.stationary = sub(st.stationary, 1);
  }
  // Averaging speed: reset to the level when not stationary, fast during
  // noise, slow during activity.
  const int16_t speed = st.stationary == kStationaryFrames ? 32767 : (st.decisions & 0x4000) == 0 ? 16383 : 3276;
  for (int b = 0; b < kBands; ++b)
    st.aveLevel[b] = add(st.aveLevel[b], mult_r(speed, sub(st.level[b], st.aveLevel[b])));
}

// Background adaptation regimes: smoothing factors towards a higher and a
// lower level, and a fixed step added to every move.
struct Adaptation {
  int16_t up, down, step;
};
constexpr Adaptation kAfterNoise{1638, 2097, 2};   // recent decisions all inactive
constexpr Adaptation kStationary{491, 1867, 2};    // activity, but a stationary signal
constexpr Adaptation kDuringSpeech{0, 1638, 0};    // activity: only fall, never rise
constexpr int16_t kBackgroundMin = 40, kBackgroundMax = 20000;

void adaptBackground(VadRecord& st, int16_t tone) {
  trackStationarity(st, tone);
  const Adaptation& a =
      (st.decisions & 0x7800) == 0 ? kAfterNoise : st.stationary == 0 ? kStationary : kDuringSpeech;
  for (int b = 0; b < kBands; ++b) {
    const int16_t gap = sub(st.oldLevel[b], st.bckr[b]);
    int16_t v;
    if (gap < 0) {
      v = add(-2, add(st.bckr[b], mult_r(a.down, gap)));
      if (v < kBackgroundMin) v = kBackgroundMin;
    } else {
      v = add(a.step, add(st.bckr[b], mult_r(a.up, gap)));
      if (v > kBackgroundMax) v = kBackgroundMax;
    }
    st.bckr[b] = v;
  }
  std::memcpy(st.oldLevel, st.level, sizeof st.oldLevel);
}

// Line through two points, in the fixed-point form (slope Q15 times the
// distance from the first point, plus the value there).
struct Line {
  int16_t slope, from, base;
  int16_t at(int16_t x) const { return add(mult(slope, sub(x, from)), base); }
};
constexpr Line kThrOfNoise{1509, 31744, 768};   // threshold falls as noise rises
constexpr Line kThrOfSpeech{-1339, 22527, -96};  // correction by the speech level
constexpr Line kHangOfThr{-1110, 217, 12};       // hangover frames from the threshold
constexpr Line kBurstOfThr{297, 768, 8};         // burst frames needed before a hangover
constexpr int16_t kSpeechCorrMax = 96, kThrMin = 204, kHangMin = 2;
constexpr int32_t kLowPower = 30000;

int16_t decide(VadRecord& st, int16_t tone, int32_t power) {
  int32_t snr = 0;
  for (int b = 0; b < kBands; ++b) {
    const int16_t e = norm_s(st.bckr[b]);
    int16_t q = div_s(shr(st.level[b], 1), shl(st.bckr[b], e));
    q = shl(q, sub(e, 6));  // level / background with 8 fractional bits
    snr = L_mac(snr, q, q);
  }
  const int16_t noise = upperBandSum(st.bckr);
  const int16_t speechFloor = shl(mult(noise, 4096), 3);  // speech no lower than the noise
  if (st.speechLevel < speechFloor) st.speechLevel = speechFloor;
  int16_t corr = kThrOfSpeech.at(negLog2(sub(st.speechLevel, speechFloor)));
  if (corr < -kSpeechCorrMax) corr = -kSpeechCorrMax;
  if (corr > kSpeechCorrMax) corr = kSpeechCorrMax;
  int16_t thr = add(kThrOfNoise.at(negLog2(noise)), corr);
  if (thr < kThrMin) thr = kThrMin;

  st.decisions = shr(st.decisions, 1);
  if (snr > L_mult(thr, 512 * kBands)) st.decisions = static_cast<int16_t>(st.decisions | 0x4000);
  adaptBackground(st, tone);

  int16_t hangLen = kHangOfThr.at(thr);
  if (hangLen < kHangMin) hangLen = kHangMin;
  const int16_t burstLen = kBurstOfThr.at(thr);
  if (power < kLowPower) {
    st.burst = 0;
    st.hang = 0;
    return 0;
  }
  if (st.decisions & 0x4000) {
    st.burst = add(st.burst, 1);
    if (st.burst >= burstLen) st.hang = hangLen;
    return 1;
  }
  st.burst = 0;
  if (st.hang > 0) {
    st.hang = sub(st.hang, 1);
    return 1;
  }
  return 0;
}

// Speech level: the peak frame level of windows holding enough active
// frames, halved, pulls the tracked level towards it.
constexpr int16_t kWindowSlack = 80 - 25, kActiveNeeded = 25, kActiveLevelMin = 129, kPeakMin = 410;

void trackSpeechLevel(VadRecord& st) {
  const int16_t in = upperBandSum(st.level);
  if (sub(sub(st.estFrames, st.activeFrames), kWindowSlack) > 0) st.estFrames = st.peakLevel = st.activeFrames = 0;
  st.estFrames = add(st.estFrames, 1);
  const bool candidate = (st.decisions & 0x4000) || in > st.speechLevel;
  if (!candidate || in <= kActiveLevelMin) return;
  if (in > st.peakLevel) st.peakLevel = in;
  st.activeFrames = add(st.activeFrames, 1);
  if (st.activeFrames < kActiveNeeded) return;
  const int16_t half = shr(st.peakLevel, 1);
  if (half > kPeakMin) st.speechLevel = add(st.speechLevel, mult_r(4915, sub(half, st.speechLevel)));
  st.estFrames = st.peakLevel = st.activeFrames = 0;
}

constexpr int32_t kToneQuiet = 686080;

int16_t run(VadRecord& st, const int16_t* x, int16_t& tone) {
  // Doubled frame energy: the saturating running sum of non-negative terms
  // is the clamped total.
  int64_t e = 0;
  for (int i = 0; i < kFrame; ++i) e += 2 * int64_t{x[i]} * x[i];
  const int32_t energy = e > INT32_MAX ? INT32_MAX : static_cast<int32_t>(e);
  const int32_t power = L_add(energy, st.prevPower);  // this and the previous frame
  st.prevPower = energy;
  if (power < kToneQuiet) tone = static_cast<int16_t>(tone & 0x1FFF);

  int16_t buf[kFrame];
  for (int i = 0; i < kFrame; ++i) buf[i] = static_cast<int16_t>(x[i] >> 1);
  splitBands(st, buf);
  bandLevels(st, buf);
  const int16_t flag = decide(st, tone, power);
  trackSpeechLevel(st);
  return flag;
}

}  // namespace
}  // namespace voksc::amrwb

using voksc::amrwb::VadRecord;

VOKSC_EXPORT VokResult voksVADGetSize_AMRWB_16s(int* size) {
  if (anyNull(size)) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(VadRecord));
  return vokOk;
}

VOKSC_EXPORT VokResult voksVADInit_AMRWB_16s(VADState_AMRWB_16s* state) {
  if (anyNull(state)) return vokErrNullPtr;
  VadRecord st{};
  for (int b = 0; b < voksc::amrwb::kBands; ++b)
    st.bckr[b] = st.oldLevel[b] = st.aveLevel[b] = voksc::amrwb::kBackgroundStart;
  st.speechLevel = voksc::amrwb::kSpeechLevelStart;
  std::memcpy(state, &st, sizeof st);
  return vokOk;
}

VOKSC_EXPORT VokResult voksVAD_AMRWB_16s(const Vok16s* src, VADState_AMRWB_16s* state, Vok16s* toneFlag,
                                         Vok16s* vadFlag) {
  if (anyNull(src, state, toneFlag, vadFlag)) return vokErrNullPtr;
  VadRecord st;
  std::memcpy(&st, state, sizeof st);
  int16_t tone = *toneFlag;
  const int16_t flag = voksc::amrwb::run(st, src, tone);
  std::memcpy(state, &st, sizeof st);
  *toneFlag = tone;
  *vadFlag = flag;
  return vokOk;
}

VOKSC_EXPORT VokResult voksVADGetEnergyLevel_AMRWB_16s(const VADState_AMRWB_16s* state, Vok16s* levelOut) {
  if (anyNull(state, levelOut)) return vokErrNullPtr;
  std::memcpy(levelOut, reinterpret_cast<const unsigned char*>(state) + offsetof(VadRecord, level),
              sizeof(VadRecord::level));
  return vokOk;
}
