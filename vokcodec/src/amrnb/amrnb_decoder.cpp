// GSM-AMR decoder.  The LSF decoder and its concealment, the lag decoder
// with the adaptive vector, the algebraic code vectors, the synthesis
// filter and the post-filter are voksc exports; the gain decoders and their
// concealment, the code-gain smoothing in background noise, phase
// dispersion, excitation control, the comfort-noise generator with its
// receive state machine, the output high-pass and homing are written here.
#include "amrnb/amrnb_decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "amr_dtx.h"
#include "amrnb/amrnb_excitation.h"
#include "amrnb/amrnb_tables.h"
#include "basic_op.h"
#include "checked_call.h"
#include "log_pow2.h"
#include "plain_chains.h"
#include "src/amr/lp_tables.h"
#include "src/g729/lp_tables.h"

namespace vokc::amrnb::dec {
namespace {

using namespace voksc::op;
using voksc::amr::kLsfMean5;     // long-term mean LSF, Q15
using voksc::amr::kSidPredInit;  // the 8 initial LSF prediction residuals of comfort noise

constexpr int16_t kSharpMax = 13017;  // 0.8 in Q14
constexpr int16_t kLsfGap = 205;
constexpr int16_t kEnergyFloor = -14336, kEnergyFloor122 = -2381;  // predictor reset, Q10
constexpr int32_t kNoiseSeed = 0x70816958;
enum Phase : int16_t { kSpeechPhase = 0, kNoisePhase = 1, kMutedPhase = 2 };
enum Mode { k475, k515, k59, k67, k74, k795, k102, k122 };

const VokRateCode kRate[8] = {vokRateGsmAmr475, vokRateGsmAmr515, vokRateGsmAmr590, vokRateGsmAmr670,
                              vokRateGsmAmr740, vokRateGsmAmr795, vokRateGsmAmr1020, vokRateGsmAmr1220};
const int16_t* const kHoming[8] = {kHoming475, kHoming515, kHoming59,  kHoming67,
                                   kHoming74,  kHoming795, kHoming102, kHoming122};

bool lowRate(int mode) { return mode <= k59; }  // 4.75, 5.15, 5.9: the background-noise concealment modes

// ---- fixed-point helpers: table interpolations of sqrt and 1/sqrt ----------

Word32 invSqrt(Word32 x) {
  if (x <= 0) return 0x3fffffff;
  Word16 e = norm_l(x);
  x = L_shl(x, e);
  e = sub(30, e);
  if ((e & 1) == 0) x = L_shr(x, 1);
  e = add(shr(e, 1), 1);
  return L_shr(tableAtNormed(voksc::tables::kInvSqrtTable, x, 16), e);
}

// sqrt of x as a mantissa and the even shift applied before.
Word32 sqrtMantissa(Word32 x, Word16& e) {
  if (x <= 0) {
    e = 0;
    return 0;
  }
  e = static_cast<Word16>(norm_l(x) & 0xFFFE);
  return tableAtNormed(kSqrtTable, L_shl(x, e), 16);
}

// Median of n values (the value ranked n/2 from the top).
int16_t median(const int16_t* v, int n) {
  int16_t s[9];
  std::copy(v, v + n, s);
  std::sort(s, s + n, [](int16_t a, int16_t b) { return a > b; });
  return s[n >> 1];
}

// The normalised LSP -> LSF conversion is the same walk over the same 65-point
// cosine table as G.729's.
void lspToLsf(const int16_t* lsp, int16_t* lsf) { VOKC_CALL(voksLSPToLSF_Norm_G729_16s, lsp, lsf); }

void lsfToLsp(const int16_t* lsf, int16_t* lsp) { VOKC_CALL(voksLSFToLSP_GSMAMR_16s, lsf, lsp); }

void spreadLsf(int16_t* lsf) {
  Word16 floor = kLsfGap;
  for (int i = 0; i < kOrder; ++i) {
    if (lsf[i] < floor) lsf[i] = floor;
    floor = add(lsf[i], kLsfGap);
  }
}

// Reflection coefficients of an order-10 filter (Q12 coefficients a[1..10]),
// all zero when the filter is not stable.
void reflections(const int16_t* a, int16_t* refl) {
  int16_t cur[kOrder], next[kOrder];
  std::memcpy(cur, a, sizeof cur);
  for (int i = kOrder - 1; i >= 0; --i) {
    bool unstable = abs_s(cur[i]) >= 4096;
    if (!unstable) {
      refl[i] = shl(cur[i], 3);
      Word32 acc = L_sub(0x7fffffff, L_mult(refl[i], refl[i]));
      const Word16 n = norm_l(acc);
      const Word16 scale = sub(15, n);
      const Word16 inv = div_s(16384, round_fx(L_shl(acc, n)));
      for (int j = 0; j < i && !unstable; ++j) {
        const Word16 t = round_fx(L_msu(L_deposit_h(cur[j]), refl[i], cur[i - j - 1]));
        const Word32 v = L_shr_r(L_mult(inv, t), scale);
        unstable = L_abs(v) > 32767;
        next[j] = extract_l(v);
      }
      std::memcpy(cur, next, static_cast<std::size_t>(i) * sizeof(int16_t));
    }
    if (unstable) {
      std::fill(refl, refl + kOrder, int16_t{0});
      return;
    }
  }
}

// ---- gains ---------------------------------------------------------------------

// Predicted code gain from the code vector's energy and the energy memory:
// exponent and fraction (the 12.2 kbit/s form in log2, the others in dB
// through 20 log10(2)).
void predictCodeGain(const GainPredictor& p, int mode, const int16_t* code, Word16& e, Word16& f) {
  Word32 en = plain::energyChain(0, code, kSub);
  if (mode == k122) {
    static const int16_t kTaps122[4] = {44, 37, 22, 12};
    en = L_mult(round_fx(en), 26214);
    Word16 le, lf;
    log2Split(en, le, lf);
    const Word32 logEn = L_Comp(sub(le, 30), lf);
    Word32 target = 783741;  // mean energy 36 dB in log2, Q17
    for (int i = 0; i < 4; ++i) target = L_mac(target, p.en122[i], kTaps122[i]);
    L_Extract(L_shr(L_sub(target, logEn), 1), e, f);
    return;
  }
  static const int16_t kTaps[4] = {5571, 4751, 2785, 1556};
  // Mean energy of the mode (Q14 after the L_mac), by mode.
  static const int16_t kMean[8][2] = {{16678, 64}, {16678, 64}, {16678, 64}, {32268, 32},
                                      {32588, 32}, {17062, 64}, {16678, 64}, {0, 0}};
  Word16 le, lf;
  log2Split(en, le, lf);
  Word32 t = mpy32x16(le, lf, -24660);
  t = L_mac(t, kMean[mode][0], kMean[mode][1]);
  t = L_shl(t, 10);
  for (int i = 0; i < 4; ++i) t = L_mac(t, kTaps[i], p.en[i]);
  const Word16 g0 = extract_h(t);
  t = L_shr(L_mult(g0, mode == k74 ? 5439 : 5443), 8);
  L_Extract(t, e, f);
}

void pushEnergy(GainPredictor& p, Word16 en122, Word16 en) {
  for (int i = 3; i > 0; --i) {
    p.en[i] = p.en[i - 1];
    p.en122[i] = p.en122[i - 1];
  }
  p.en122[0] = en122;
  p.en[0] = en;
}

// The joint pitch / code gain of 4.75 .. 7.4 and 10.2 kbit/s.
void jointGains(GainPredictor& p, int mode, int index, const int16_t* code, bool evenSub, int16_t& gp, int16_t& gc) {
  Word16 gcode, en122, en;
  index = shl(static_cast<Word16>(index), 2);
  if (mode == k102 || mode == k74 || mode == k67) {
    const int16_t* r = &kJointGainsHigh[index];
    gp = r[0], gcode = r[1], en122 = r[2], en = r[3];
  } else if (mode == k475) {
    const int16_t* r = &kJointGains475[index + (evenSub ? 0 : 2)];
    gp = r[0], gcode = r[1];
    Word16 e, f;
    log2Split(L_deposit_l(gcode), e, f);
    e = sub(e, 12);
    en122 = add(shr_r(f, 5), shl(e, 10));
    en = round_fx(L_shl(mpy32x16(e, f, 24660), 13));
  } else {
    const int16_t* r = &kJointGainsLow[index];
    gp = r[0], gcode = r[1], en122 = r[2], en = r[3];
  }
  Word16 e, f;
  predictCodeGain(p, mode, code, e, f);
  const Word16 g0 = extract_l(pow2Join(14, f));
  gc = extract_h(L_shr(L_mult(gcode, g0), sub(10, e)));
  pushEnergy(p, en122, en);
}

// The scalar code gain of 7.95 and 12.2 kbit/s.
int16_t scalarCodeGain(GainPredictor& p, int mode, int index, const int16_t* code) {
  Word16 e, f;
  predictCodeGain(p, mode, code, e, f);
  const int16_t* r = &kCodeGains[3 * index];
  int16_t gc;
  if (mode == k122) {
    const Word16 g0 = shl(extract_l(pow2Join(e, f)), 4);
    gc = shl(mult(g0, r[0]), 1);
  } else {
    const Word16 g0 = extract_l(pow2Join(14, f));
    gc = extract_h(L_shr(L_mult(r[0], g0), sub(9, e)));
  }
  pushEnergy(p, r[1], r[2]);
  return gc;
}

// Concealed gains: the median of the last five, capped by the last, times
// the attenuation of the bad-frame state.
int16_t concealedPitchGain(const GainMemory& m, int16_t badRun) {
  static const int16_t kAtten[7] = {32767, 32112, 32112, 26214, 9830, 6553, 6553};
  return mult(std::min(median(m.hist, 5), m.last), kAtten[badRun]);
}

int16_t concealedCodeGain(const GainMemory& m, GainPredictor& p, int16_t badRun) {
  static const int16_t kAtten[7] = {32767, 32112, 32112, 32112, 32112, 32112, 22937};
  const int16_t g = mult(std::min(median(m.hist, 5), m.last), kAtten[badRun]);
  // The predictor memory continues with its own average (not below the floor).
  Word16 s122 = 0, s = 0;
  for (int i = 0; i < 4; ++i) s122 = add(s122, p.en122[i]), s = add(s, p.en[i]);
  pushEnergy(p, std::max(mult(s122, 8192), kEnergyFloor122), std::max(mult(s, 8192), kEnergyFloor));
  return g;
}

// After each subframe: a good frame following a bad one may not raise the
// gain above the last good one; the memories take the gain.  The pitch gain
// enters its memory limited to 1.0.
void rememberGain(GainMemory& m, bool bad, bool prevBad, int16_t& g, int16_t limit) {
  if (!bad) {
    if (prevBad && g > m.lastGood) g = m.lastGood;
    m.lastGood = g;
  }
  m.last = std::min(g, limit);
  std::memmove(m.hist, m.hist + 1, 4 * sizeof(int16_t));
  m.hist[4] = m.last;
}

// ---- code gain smoothing in background noise ------------------------------

int16_t smoothCodeGain(Decoder* d, int mode, int16_t gc, const int16_t* lsf, bool bad, bool degraded) {
  std::memmove(d->codeGainHist, d->codeGainHist + 1, 6 * sizeof(int16_t));
  d->codeGainHist[6] = gc;
  // Relative LSF distance from the long-term average.
  Word16 diff = 0;
  for (int i = 0; i < kOrder; ++i) {
    Word16 num = abs_s(sub(d->lsfAverage[i], lsf[i]));
    const Word16 s1 = sub(norm_s(num), 1);
    num = shl(num, s1);
    const Word16 s2 = norm_s(d->lsfAverage[i]);
    Word16 q = div_s(num, shl(d->lsfAverage[i], s2));
    const Word16 s = sub(add(2, s1), s2);
    q = s >= 0 ? shr(q, s) : shl(q, negate(s));
    diff = add(diff, q);
  }
  d->lsfChangeRun = diff > 5325 ? add(d->lsfChangeRun, 1) : int16_t{0};
  if (d->lsfChangeRun > 10) d->smoothRun = 0;
  Word16 mixed = gc;
  if (mode <= k67 || mode == k102) {
    const bool unreliable = ((degraded && d->prevDegraded) || bad || d->prevBad) && d->voicedHangover > 1 &&
                            d->inBackgroundNoise && lowRate(mode);
    const Word16 over = std::max(sub(diff, unreliable ? 4506 : 3277), Word16{0});
    Word16 mix = over > 2048 ? Word16{8192} : shl(over, 2);
    if (d->smoothRun < 40 || diff > 5325) mix = 8192;
    Word32 sum = L_mult(6554, d->codeGainHist[2]);
    for (int i = 3; i < 7; ++i) sum = L_mac(sum, 6554, d->codeGainHist[i]);
    Word16 mean = round_fx(sum);
    if ((bad || d->prevBad) && d->inBackgroundNoise && lowRate(mode)) {
      sum = L_mult(4681, d->codeGainHist[0]);
      for (int i = 1; i < 7; ++i) sum = L_mac(sum, 4681, d->codeGainHist[i]);
      mean = round_fx(sum);
    }
    sum = L_mult(mix, gc);
    sum = L_mac(sum, 8192, mean);
    sum = L_msu(sum, mix, mean);
    mixed = round_fx(L_shl(sum, 2));
  }
  d->smoothRun = add(d->smoothRun, 1);
  return mixed;
}

// ---- phase dispersion ------------------------------------------------------

// `mixed` is the excitation already mixed from the same adaptive part, the
// undispersed code and `mixedGain`: where this mix would repeat it, it is
// copied.
void disperse(PhaseDispersion& s, int mode, int16_t* exc, int16_t codeGain, int16_t pitchGain, int16_t* code,
              int16_t pitchFac, int16_t shift, const int16_t* mixed, int16_t mixedGain) {
  std::memmove(s.pitchGains + 1, s.pitchGains, 4 * sizeof(int16_t));
  s.pitchGains[0] = pitchGain;
  int16_t strength = pitchGain < 14746 ? (pitchGain > 9830 ? 1 : 0) : 2;
  const Word16 onsetLevel = round_fx(L_shl(L_mult(s.prevCodeGain, 16384), 2));
  if (codeGain > onsetLevel)
    s.onsetLeft = 2;
  else if (s.onsetLeft > 0)
    s.onsetLeft = sub(s.onsetLeft, 1);
  if (s.onsetLeft == 0) {
    int weak = 0;
    for (int16_t g : s.pitchGains) weak += g < 9830;
    if (weak > 2) strength = 0;
  }
  if (strength > s.prevStrength + 1 && s.onsetLeft == 0) --strength;
  if (strength < 2 && s.onsetLeft > 0) ++strength;
  if (codeGain < 10) strength = 2;
  if (s.forceStrong) strength = 0;
  s.prevStrength = strength;
  s.prevCodeGain = codeGain;
  const bool dispersed = mode != k122 && mode != k102 && mode != k74 && strength < 2;
  if (!dispersed && codeGain == mixedGain) {
    std::memcpy(exc, mixed, kSub * sizeof(int16_t));
    return;
  }
  if (dispersed) {
    const int16_t* imp = mode == k795 ? (strength == 0 ? kDispLow795 : kDispMid795)
                                      : (strength == 0 ? kDispLow : kDispMid);
    int16_t pulses[kSub];
    std::memcpy(pulses, code, sizeof pulses);
    std::fill(code, code + kSub, int16_t{0});
    // Each pulse becomes the impulse response, wrapped around the subframe:
    // code[i] is the saturating sum, in pulse order, of mult(pulse p,
    // imp[(i - p) mod 40]).  |mult(a, b)| <= |a| (no response word is
    // -32768), so while the pulses' magnitudes sum to at most 32767 no
    // partial sum leaves 16 bits and plain sums give the same words; pulse p
    // then adds the response repeated twice read from 40 - p.
    int32_t mass = 0;
    for (int p = 0; p < kSub; ++p) mass += std::abs(int32_t{pulses[p]});
    if (mass <= 32767) {
      int16_t twice[2 * kSub];
      std::memcpy(twice, imp, kSub * sizeof(int16_t));
      std::memcpy(twice + kSub, imp, kSub * sizeof(int16_t));
      for (int p = 0; p < kSub; ++p) {
        if (pulses[p] == 0) continue;
        const int32_t pulse = pulses[p];
        const int16_t* r = twice + kSub - p;
        for (int i = 0; i < kSub; ++i) code[i] = static_cast<int16_t>(code[i] + ((pulse * r[i]) >> 15));
      }
    } else {
      for (int p = 0; p < kSub; ++p) {
        if (pulses[p] == 0) continue;
        for (int j = 0; j < kSub; ++j) {
          const int i = (p + j) % kSub;
          code[i] = add(code[i], mult(pulses[p], imp[j]));
        }
      }
    }
  }
  mixExcitation(exc, pitchFac, code, codeGain, shift);
}

// ---- excitation energy control in background noise ------------------------

void limitExcitation(int16_t* exc, int16_t energy, const int16_t* hist, int16_t voicedHangover, bool prevBad,
                     bool careful) {
  Word16 avg = median(hist, 9);
  Word16 prev = shr(add(hist[7], hist[8]), 1);
  if (hist[8] < prev) prev = hist[8];
  if (!(energy < avg && energy > 5)) return;
  Word16 test = shl(prev, 2);
  if (voicedHangover < 7 || prevBad) test = sub(test, prev);
  if (avg > test) avg = test;
  const Word16 n = norm_s(energy);
  const Word16 inv = div_s(16383, shl(energy, n));
  Word32 t = L_shr(L_mult(avg, inv), sub(20, n));
  if (t > 32767) t = 32767;
  Word16 scale = extract_l(t);
  if (careful && scale > 3072) scale = 3072;
  for (int i = 0; i < kSub; ++i) exc[i] = extract_l(L_shr(L_mult(scale, exc[i]), 11));
}

// Energy of a subframe for the gain-control helper: Σ x² / 16, or from
// x / 4 when the sum saturates.
Word32 agcEnergy(const int16_t* x) {
  Word32 s = plain::energyChain(0, x, kSub);
  if (s != 0x7fffffff) return L_shr(s, 4);
  s = 0;
  for (int i = 0; i < kSub; ++i) {
    const Word16 t = shr(x[i], 2);
    s = L_mac(s, t, t);
  }
  return s;
}

// Scales `out` to the energy of `ref`.
void matchEnergy(const int16_t* ref, int16_t* out) {
  Word32 s = agcEnergy(out);
  if (s == 0) return;
  Word16 e = sub(norm_l(s), 1);
  const Word16 gOut = round_fx(L_shl(s, e));
  s = agcEnergy(ref);
  Word16 g0 = 0;
  if (s != 0) {
    const Word16 n = norm_l(s);
    const Word16 gIn = round_fx(L_shl(s, n));
    e = sub(e, n);
    s = L_shr(L_shl(L_deposit_l(div_s(gOut, gIn)), 7), e);
    g0 = round_fx(L_shl(invSqrt(s), 9));
  }
  // extract_h(L_shl(L_mult(x, g0), 3)) is x g0 >> 12 limited to a word: the
  // product of two words fits 32 bits, the 32-bit limits' high words are the
  // word limits, and L_mult's own limit (x = g0 = -32768) lands on 32767 as the
  // word limit does.  Free of branches, the loop runs in vector lanes.
  for (int i = 0; i < kSub; ++i)
    out[i] = static_cast<int16_t>(std::clamp((int32_t{out[i]} * g0) >> 12, -32768, 32767));
}

// ---- background noise detection --------------------------------------------

bool backgroundNoise(Decoder* d, const int16_t* synth) {
  const Word32 s = plain::energyChain(0, synth, kFrame);
  const Word16 cur = extract_h(L_shl(s, 2));
  const int16_t* h = d->frameEnergy;
  const Word16 floor = shl(*std::min_element(h, h + 60), 4);
  const Word16 maxEarly = *std::max_element(h, h + 56);
  const Word16 maxLate = *std::max_element(h + 40, h + 60);
  if (maxEarly > 20 && cur < 17578 && cur > 20 && (cur < floor || maxLate < 1953))
    d->noiseHangover = std::min<int16_t>(add(d->noiseHangover, 1), 30);
  else
    d->noiseHangover = 0;
  std::memmove(d->frameEnergy, d->frameEnergy + 1, 59 * sizeof(int16_t));
  d->frameEnergy[59] = cur;
  const Word16 limit = d->noiseHangover > 15 ? 16383 : d->noiseHangover > 8 ? 15565 : 13926;
  bool voiced = median(d->pitchGainHist + 4, 5) > limit;
  if (d->noiseHangover > 20) voiced = median(d->pitchGainHist, 9) > limit;
  d->voicedHangover = voiced ? int16_t{0} : std::min<int16_t>(add(d->voicedHangover, 1), 10);
  return d->noiseHangover > 1;
}

// ---- state resets ---------------------------------------------------------------

void resetSpeech(Decoder* d, bool full) {
  std::fill(d->pastExc, d->pastExc + kPastExc + kSub, int16_t{0});
  d->sharp = 0;
  d->oldLag = 40;
  d->prevBad = d->prevDegraded = false;
  d->badRun = 0;
  d->inBackgroundNoise = false;
  d->voicedHangover = 0;
  std::fill(d->pitchGainHist, d->pitchGainHist + 9, int16_t{0});
  std::fill(d->codeGainHist, d->codeGainHist + 7, int16_t{0});
  d->lsfChangeRun = d->smoothRun = 0;
  std::fill(d->lsfRes, d->lsfRes + kOrder, int16_t{0});
  std::memcpy(d->lsfPrev, kLsfMean5, sizeof d->lsfPrev);
  d->pitchMem = GainMemory{{1640, 1640, 1640, 1640, 1640}, 0, 16384};
  d->codeMem = GainMemory{{1, 1, 1, 1, 1}, 0, 1};
  std::fill(d->frameEnergy, d->frameEnergy + 60, int16_t{0});
  d->noiseHangover = 0;
  d->noDataSeed = 21845;
  d->disp = PhaseDispersion{};
  if (!full) return;
  std::fill(d->synMem, d->synMem + kOrder, int16_t{0});
  std::memcpy(d->lspOld, kLspInit, sizeof d->lspOld);
  std::fill(d->excEnergyHist, d->excEnergyHist + 9, int16_t{0});
  std::memcpy(d->lsfAverage, kLsfMean5, sizeof d->lsfAverage);
  std::fill(d->pred.en, d->pred.en + 4, kEnergyFloor);
  std::fill(d->pred.en122, d->pred.en122 + 4, kEnergyFloor122);
  ComfortNoise& c = d->cn;
  c = ComfortNoise{};
  c.periodInv = 1 << 13;
  c.logEn = c.oldLogEn = 3500;
  c.seed = kNoiseSeed;
  std::memcpy(c.lsp, kLspInit, sizeof c.lsp);
  std::memcpy(c.lspOld, kLspInit, sizeof c.lspOld);
  for (int r = 0; r < 8; ++r) std::memcpy(c.lsfHist + r * kOrder, kLsfMean5, sizeof kLsfMean5);
  std::fill(c.logEnHist, c.logEnHist + 8, c.logEn);
  c.hangover = 7;
  c.elapsed = 32767;
  c.phase = kNoisePhase;
}

void resetAll(Decoder* d) {
  resetSpeech(d, true);
  d->pfTilt = 0;
  d->pfGain = 4096;
  std::fill(d->pfIn, d->pfIn + kOrder, int16_t{0});
  std::fill(d->pfOut, d->pfOut + kOrder, int16_t{0});
  d->highPassReady = false;
  d->prevMode = 0;
}

void averageLsf(Decoder* d) {
  for (int i = 0; i < kOrder; ++i) {
    Word32 t = L_deposit_h(d->lsfAverage[i]);
    t = L_msu(t, 5243, d->lsfAverage[i]);  // 0.16
    t = L_mac(t, 5243, d->lsfPrev[i]);
    d->lsfAverage[i] = round_fx(t);
  }
}

// ---- comfort noise -----------------------------------------------------------------

// The phase of this frame; the encoder was in its comfort-noise state for a
// SID, an onset, and NO_DATA after comfort noise.
Phase receivePhase(ComfortNoise& c, RxType t) {
  const bool encoderNoise = isSid(t) || t == kOnset || (t == kNoData && c.phase != kSpeechPhase);
  return static_cast<Phase>(amrdtx::receiveStep(c, c.phase, t, encoderNoise));
}

// The noise pulse generator: a 31-bit feedback shift register.
int16_t noiseBits(int32_t& reg, int n) {
  Word16 bits = 0;
  for (int i = 0; i < n; ++i) {
    const int fb = (reg & 1) ^ ((reg >> 28) & 1);
    bits = static_cast<Word16>(shl(bits, 1) | (reg & 1));
    reg = L_shr(reg, 1);
    if (fb) reg |= 0x40000000;
  }
  return bits;
}

// After a hangover the SID parameters are the history's mean; the history's
// deviations from its mean drive the noise's spectral variation.
void sidFromHistory(ComfortNoise& c, int mode) {
  c.logEnAdjust = kNoiseLevelAdjust[mode];
  const int row = c.histIndex, nextRow = (row + 1) & 7;
  std::memcpy(c.lsfHist + nextRow * kOrder, c.lsfHist + row * kOrder, kOrder * sizeof(int16_t));
  c.logEnHist[nextRow] = c.logEnHist[row];
  c.logEn = 0;
  Word32 sum[kOrder] = {};
  for (int r = 0; r < 8; ++r) {
    c.logEn = add(c.logEn, shr(c.logEnHist[r], 3));
    for (int j = 0; j < kOrder; ++j) sum[j] = L_add(sum[j], c.lsfHist[r * kOrder + j]);
  }
  int16_t lsf[kOrder];
  for (int j = 0; j < kOrder; ++j) lsf[j] = extract_l(L_shr(sum[j], 3));
  lsfToLsp(lsf, c.lsp);
  c.logEn = sub(c.logEn, c.logEnAdjust);
  for (int i = 0; i < kOrder; ++i) {
    Word32 s = 0;
    for (int r = 0; r < 8; ++r) s = L_add(s, c.lsfHist[i + r * kOrder]);
    const Word16 mean = extract_l(L_shr(s, 3));
    for (int r = 0; r < 8; ++r) {
      Word16 v = mult(sub(c.lsfHist[i + r * kOrder], mean), kLsfSpreadScale[i]);
      const bool neg = v < 0;
      v = abs_s(v);
      if (v > 655) v = add(655, shr(sub(v, 655), 2));
      if (v > 1310) v = 1310;
      c.lsfDev[i + r * kOrder] = neg ? static_cast<int16_t>(-v) : v;
    }
  }
}

void comfortNoise(Decoder* d, Phase next, int mode, const int16_t* prm, int16_t* synth, int16_t* aq) {
  ComfortNoise& c = d->cn;
  if (c.hangoverAdded && c.sidFrame) sidFromHistory(c, mode);
  if (c.sidFrame) {
    std::memcpy(c.lspOld, c.lsp, sizeof c.lsp);
    c.oldLogEn = c.logEn;
    if (c.validData) {
      const int16_t span = std::min<int16_t>(c.sinceSid, 32);
      c.sinceSid = 0;
      c.periodInv = span >= 2 ? div_s(1 << 10, shl(span, 10)) : int16_t{1 << 14};
      // The SID's LSF: prediction from the transmitted initial residual.
      std::memcpy(d->lsfRes, kSidPredInit + kOrder * (prm[0] & 7), sizeof d->lsfRes);
      int16_t lspSub[4 * kOrder];
      VOKC_CALL(voksQuantLSPDecode_GSMAMR_16s, prm + 1, d->lsfRes, d->lsfPrev, c.lsp, lspSub, Vok16s{0}, vokRateSid);
      std::fill(d->lsfRes, d->lsfRes + kOrder, int16_t{0});
      const int16_t enIndex = prm[4];
      c.logEn = enIndex == 0 ? int16_t{-32768} : sub(shl(enIndex, 9), 5120);
      if (!c.dataUpdated || c.phase == kSpeechPhase) {
        std::memcpy(c.lspOld, c.lsp, sizeof c.lsp);
        c.oldLogEn = c.logEn;
      }
    }
    Word16 init = std::max<Word16>(std::min<Word16>(sub(shr(c.logEn, 1), 9000), 0), -14436);
    std::fill(d->pred.en, d->pred.en + 4, init);
    std::fill(d->pred.en122, d->pred.en122 + 4, mult(5443, init));
  }
  c.logEnAdjust = add(mult(c.logEnAdjust, 29491), shr(mult(shl(kNoiseLevelAdjust[mode], 5), 3277), 5));
  // Interpolation from the previous SID parameters to the current ones.
  Word16 k = mult(shl(add(1, c.sinceSid), 10), c.periodInv);
  if (k > 1024) k = 1024;
  k = shl(k, 4);
  Word32 logEnInt = L_mult(k, c.logEn);
  int16_t lsp[kOrder];
  for (int i = 0; i < kOrder; ++i) lsp[i] = mult(k, c.lsp[i]);
  k = sub(16384, k);
  logEnInt = L_mac(logEnInt, k, c.oldLogEn);
  for (int i = 0; i < kOrder; ++i) lsp[i] = shl(add(lsp[i], mult(k, c.lspOld[i])), 1);
  // Spectral variation grows as the prediction gain falls.
  Word16 spread = sub(4096, mult(sub(c.logPredGain, 2457), 9830));
  spread = shl(std::max<Word16>(std::min<Word16>(spread, 4096), 0), 3);
  const int devRow = noiseBits(c.seed, 3);
  int16_t lsf[kOrder], lsfVar[kOrder];
  lspToLsf(lsp, lsf);
  for (int i = 0; i < kOrder; ++i) lsfVar[i] = add(lsf[i], mult(spread, c.lsfDev[i + devRow * kOrder]));
  spreadLsf(lsf);
  spreadLsf(lsfVar);
  std::memcpy(d->lsfPrev, lsf, sizeof lsf);
  int16_t lspVar[kOrder], a[kOrder + 1], aVar[kOrder + 1];
  lsfToLsp(lsf, lsp);
  lsfToLsp(lsfVar, lspVar);
  VOKC_CALL(voksLSPToLPC_GSMAMR_16s, lsp, a);
  VOKC_CALL(voksLSPToLPC_GSMAMR_16s, lspVar, aVar);
  for (int s = 0; s < 4; ++s) std::memcpy(aq + s * (kOrder + 1), a, sizeof a);
  // Level: the interpolated energy corrected by the filter's prediction gain.
  int16_t refl[kOrder];
  reflections(a + 1, refl);
  Word16 predErr = 32767;
  for (int i = 0; i < kOrder; ++i) predErr = mult(predErr, sub(32767, mult(refl[i], refl[i])));
  Word16 pe, pf;
  log2Split(L_deposit_l(predErr), pe, pf);
  Word16 logPg = shl(sub(pe, 15), 12);
  logPg = shr(sub(0, add(logPg, shr(pf, 3))), 1);
  c.logPredGain = add(mult(29491, c.logPredGain), mult(3277, logPg));
  logEnInt = L_shr(logEnInt, 10);
  logEnInt = L_add(logEnInt, 4 * 65536);
  logEnInt = L_sub(logEnInt, L_shl(L_deposit_l(logPg), 4));
  logEnInt = L_add(logEnInt, L_shl(L_deposit_l(c.logEnAdjust), 5));
  const Word16 le = extract_h(logEnInt);
  const Word16 lf = extract_l(L_shr(L_sub(logEnInt, L_deposit_h(le)), 1));
  const Word16 level = extract_l(pow2Join(le, lf));
  for (int s = 0; s < 4; ++s) {
    int16_t ex[kSub] = {};
    for (int p = 0; p < 10; ++p) {  // ten random signed pulses, one on each of the ten interleaved tracks
      const int pos = shr(extract_l(L_mult(noiseBits(c.seed, 2), 10)), 1) + p;
      ex[pos] = noiseBits(c.seed, 1) > 0 ? 4096 : -4096;
    }
    for (int j = 0; j < kSub; ++j) ex[j] = mult(level, ex[j]);
    VOKC_CALL(voksSynthesisFilter_G729E_16s, aVar, kOrder, ex, synth + s * kSub, kSub, d->synMem);
  }
  d->lsfChangeRun = 20;
  d->smoothRun = 0;
  if (next == kMutedPhase) {
    int16_t span = std::min<int16_t>(c.sinceSid, 32);
    if (span <= 0) span = 8;
    c.periodInv = div_s(1 << 10, shl(span, 10));
    c.sinceSid = 0;
    std::memcpy(c.lspOld, c.lsp, sizeof c.lsp);
    c.oldLogEn = c.logEn;
    c.logEn = sub(c.logEn, 256);
  }
  if (c.sidFrame && (c.validData || c.hangoverAdded)) {
    c.sinceSid = 0;
    c.dataUpdated = true;
  }
}

// ---- speech frames -------------------------------------------------------------------

// Parameters of a frame that brought none: drawn from a fixed word table
// (the words of the 240-point LP analysis window).
void randomParams(int16_t& seed, int mode, int16_t* prm) {
  seed = extract_l(L_add(L_shr(L_mult(seed, 31821), 1), 13849));
  const int16_t* src = voksc::g729::kLpAnalysisWindow + (seed & 0x7F);
  const int16_t* w = paramWidths(mode);
  for (int i = 0; i < paramCount(mode); ++i) prm[i] = static_cast<int16_t>(src[i] & ~(0xFFFF << w[i]));
}

void synthesiseSubframe(Decoder* d, const int16_t* a, int16_t* exc, int16_t* src, int16_t* out) {
  int16_t mem[kOrder];
  std::memcpy(mem, d->synMem, sizeof mem);
  if (VOKC_CALL(voksSynthesisFilter_G729E_16s, a, kOrder, src, out, kSub, mem) == vokWrnOverflow) {
    // Overflow: the whole excitation memory is scaled down and the
    // subframe filtered again from its unsharpened excitation.
    for (int16_t& v : d->pastExc) v = shr(v, 2);
    for (int i = 0; i < kSub; ++i) exc[i] = shr(exc[i], 2);
    VOKC_CALL(voksSynthesisFilter_G729E_16s, a, kOrder, exc, out, kSub, d->synMem);
  } else {
    std::memcpy(d->synMem, out + kSub - kOrder, sizeof mem);
  }
}

void speechFrame(Decoder* d, int mode, RxType type, int16_t* prm, int16_t* synth, int16_t* aq) {
  const bool bad = type == kSpeechBad || type == kNoData || type == kOnset;
  const bool degraded = type == kSpeechDegraded;
  if (type == kNoData || type == kOnset) randomParams(d->noDataSeed, mode, prm);
  d->badRun = bad ? std::min<int16_t>(add(d->badRun, 1), 6) : d->badRun == 6 ? int16_t{5} : int16_t{0};
  if (d->cn.phase == kNoisePhase) {
    d->badRun = 5;
    d->prevBad = false;
  } else if (d->cn.phase == kMutedPhase) {
    d->badRun = 5;
    d->prevBad = true;
  }
  const VokRateCode rate = kRate[mode];
  int16_t lsfBefore[kOrder], lspSub[4 * kOrder];
  std::memcpy(lsfBefore, d->lsfPrev, sizeof lsfBefore);
  VOKC_CALL(voksQuantLSPDecode_GSMAMR_16s, prm, d->lsfRes, d->lsfPrev, d->lspOld, lspSub, Vok16s{bad}, rate);
  for (int s = 0; s < 4; ++s) VOKC_CALL(voksLSPToLPC_GSMAMR_16s, lspSub + s * kOrder, aq + s * (kOrder + 1));
  const int16_t* p = prm + (mode == k122 ? 5 : 3);
  int16_t* exc = d->pastExc + kPastExc;
  int16_t gainIndex475 = 0;
  for (int s = 0; s < 4; ++s) {
    const bool even = (s & 1) == 0;
    const int16_t lagIndex = *p++;
    int16_t decodedLag, lag, vec[kSub];
    VOKC_CALL(voksAdaptiveCodebookDecode_GSMAMR_16s, lagIndex, &d->oldLag, &decodedLag, d->pastExc, &lag, vec,
              Vok16s(s), Vok16s{bad}, Vok16s{d->inBackgroundNoise}, d->voicedHangover, rate, 0, 0);
    int16_t code[kSub], gp = 0, gc = 0, sharpen;
    if (mode == k122) {
      const int16_t gpIndex = *p++;
      gp = bad ? concealedPitchGain(d->pitchMem, d->badRun) : shl(shr(kPitchGains[gpIndex], 2), 2);
      rememberGain(d->pitchMem, bad, d->prevBad, gp, 16384);
      VOKC_CALL(voksFixedCodebookDecode_GSMAMR_16s, p, code, Vok16s(s), rate);
      p += 10;
      sharpen = shl(gp, 1);
    } else {
      VOKC_CALL(voksFixedCodebookDecode_GSMAMR_16s, p, code, Vok16s(s), rate);
      p += mode == k102 ? 7 : 2;
      sharpen = shl(d->sharp, 1);
    }
    for (int i = lag; i < kSub; ++i) code[i] = add(code[i], mult(code[i - lag], sharpen));
    // Gains.
    if (mode == k795 || mode == k122) {
      if (mode == k795) {
        const int16_t gpIndex = *p++;
        gp = bad ? concealedPitchGain(d->pitchMem, d->badRun) : kPitchGains[gpIndex];
        rememberGain(d->pitchMem, bad, d->prevBad, gp, 16384);
      }
      const int16_t gcIndex = *p++;
      gc = bad ? concealedCodeGain(d->codeMem, d->pred, d->badRun) : scalarCodeGain(d->pred, mode, gcIndex, code);
      rememberGain(d->codeMem, bad, d->prevBad, gc, 32767);
      sharpen = mode == k122 ? gp : std::min(gp, kSharpMax);
    } else {
      int16_t index;
      if (mode == k475) {
        if (even) gainIndex475 = *p++;
        index = gainIndex475;
      } else {
        index = *p++;
      }
      if (bad) {
        gp = concealedPitchGain(d->pitchMem, d->badRun);
        gc = concealedCodeGain(d->codeMem, d->pred, d->badRun);
      } else {
        jointGains(d->pred, mode, index, code, even, gp, gc);
      }
      rememberGain(d->pitchMem, bad, d->prevBad, gp, 16384);
      rememberGain(d->codeMem, bad, d->prevBad, gc, 32767);
      sharpen = std::min(gp, kSharpMax);
      if (mode == k102 && d->oldLag > kSub + 5) sharpen = shr(sharpen, 2);
    }
    if (mode != k475 || !even) d->sharp = std::min(gp, kSharpMax);
    sharpen = shl(sharpen, 1);
    int16_t boosted[kSub];
    if (sharpen > 16384)
      for (int i = 0; i < kSub; ++i) {
        Word32 t = L_mult(mult(exc[i], sharpen), gp);
        if (mode == k122) t = L_shr(t, 1);
        boosted[i] = round_fx(t);
      }
    if (!bad) {
      std::memmove(d->pitchGainHist, d->pitchGainHist + 1, 8 * sizeof(int16_t));
      d->pitchGainHist[8] = gp;
    }
    if ((d->prevBad || bad) && d->inBackgroundNoise && lowRate(mode)) {
      if (gp > 12288) gp = add(shr(sub(gp, 12288), 1), 12288);
      if (gp > 14745) gp = 14745;
    }
    // Code gain smoothing on the LSF interpolated for this subframe.
    int16_t lsfSub[kOrder];
    for (int i = 0; i < kOrder; ++i) {
      const int16_t o = lsfBefore[i], n = d->lsfPrev[i];
      lsfSub[i] = s == 0 ? add(sub(o, shr(o, 2)), shr(n, 2))
                  : s == 1 ? add(shr(o, 1), shr(n, 1))
                  : s == 2 ? add(shr(o, 2), sub(n, shr(n, 2)))
                           : n;
    }
    int16_t gcMix = smoothCodeGain(d, mode, gc, lsfSub, bad, degraded);
    if (mode > k67 && mode != k102) gcMix = gc;
    const int16_t pitchFac = mode == k122 ? shr(gp, 1) : gp;
    const int16_t shift = mode == k122 ? 2 : 1;
    int16_t enhanced[kSub];
    std::memcpy(enhanced, exc, sizeof enhanced);
    mixExcitation(exc, pitchFac, code, gc, shift);
    d->disp.forceStrong = lowRate(mode) && d->voicedHangover > 3 && d->inBackgroundNoise && bad;
    disperse(d->disp, mode, enhanced, gcMix, gp, code, pitchFac, shift, exc, gc);
    // Excitation energy (sqrt of half the sum, scaled down by 4).
    Word32 en = plain::energyChain(0, enhanced, kSub);
    Word16 se;
    en = sqrtMantissa(L_shr(en, 1), se);
    en = L_shr(L_shr(en, add(shr(se, 1), 15)), 2);
    const int16_t excEnergy = extract_l(en);
    if (lowRate(mode) && d->voicedHangover > 5 && d->inBackgroundNoise && d->badRun < 4 &&
        ((degraded && d->prevDegraded) || bad || d->prevBad))
      limitExcitation(enhanced, excEnergy, d->excEnergyHist, d->voicedHangover, d->prevBad, degraded && !bad);
    if (!(d->inBackgroundNoise && (bad || d->prevBad) && d->badRun < 4)) {
      std::memmove(d->excEnergyHist, d->excEnergyHist + 1, 8 * sizeof(int16_t));
      d->excEnergyHist[8] = excEnergy;
    }
    int16_t* out = synth + s * kSub;
    const int16_t* a = aq + s * (kOrder + 1);
    if (sharpen > 16384) {
      for (int i = 0; i < kSub; ++i)  // add() as a clamp, run in vector lanes
        boosted[i] = static_cast<int16_t>(std::clamp(boosted[i] + enhanced[i], -32768, 32767));
      matchEnergy(enhanced, boosted);
      synthesiseSubframe(d, a, enhanced, boosted, out);
    } else {
      synthesiseSubframe(d, a, enhanced, enhanced, out);
    }
    std::memmove(d->pastExc, d->pastExc + kSub, kPastExc * sizeof(int16_t));
    d->oldLag = lag;
  }
  d->inBackgroundNoise = backgroundNoise(d, synth);
  VOKC_CALL(voksDecDTXBuffer_GSMAMR_16s, synth, d->lsfPrev, &d->cn.histIndex, d->cn.lsfHist, d->cn.logEnHist);
  d->prevBad = bad;
  d->prevDegraded = degraded;
  averageLsf(d);
}

// Output high-pass (cut-off 60 Hz) with a gain of 2: the second-order
// section of the G.729 post-processing in Q13 (the same operator chain on
// the 32-bit split memory of the two past outputs), with this codec's
// coefficients.
void highPass(Decoder* d, int16_t* x) {
  if (!d->highPassReady) {
    int size = 0;
    VOKC_CALL(voksHighPassFilterSize_G729, &size);
    if (size > static_cast<int>(sizeof d->highPass)) throw CallFailed("high-pass state", vokErrInternal);
    const int16_t coeffs[6] = {kHighPassPoles[0], kHighPassPoles[1], kHighPassPoles[2],
                               kHighPassZeros[0], kHighPassZeros[1], kHighPassZeros[2]};
    VOKC_CALL(voksHighPassFilterInit_G729, coeffs, d->highPass);
    d->highPassReady = true;
  }
  VOKC_CALL(voksHighPassFilter_G729_16s_ISfs, x, kFrame, 13, d->highPass);
}

// Whether the parameters, read in the layout of the mode, are the decoder
// homing frame of the mode (all of them, or those of the first subframe).
bool homingFrame(const int16_t* prm, int mode, bool firstSubframe) {
  const int n = firstSubframe ? kParamCountFirstSub[mode] : paramCount(mode);
  return std::equal(prm, prm + n, kHoming[mode]);
}

}  // namespace

void decoderInit(Decoder* d) {
  resetAll(d);
  d->homed = true;
}

VokResult decodeFrame(Decoder* d, const Frame& f, int16_t pcm[kFrame]) {
  RxType type = f.type;
  int mode = f.mode;
  if (type == kNoData || mode < 0 || mode >= kSpeechModes)
    mode = d->prevMode;
  else
    d->prevMode = mode;
  // The bits in the speech layout of the mode: the frame's parameters unless
  // it is a SID, and what the homing checks compare.
  int16_t speechPrm[kMaxParams];
  bitsToParams(mode, f.bits, speechPrm);
  bool home = d->homed && homingFrame(speechPrm, mode, true);
  if (home) {
    std::fill(pcm, pcm + kFrame, int16_t{8});
  } else {
    const VokResult r = vokc::guarded([&]() -> VokResult {
      int16_t prm[kMaxParams];  // a working copy: lost frames replace it with random parameters
      if (type == kSidUpdate || type == kSidBad)
        bitsToParams(kSidMode, f.bits, prm);
      else
        std::memcpy(prm, speechPrm, sizeof prm);
      int16_t synth[kFrame], aq[4 * (kOrder + 1)];
      const Phase next = receivePhase(d->cn, type);
      if (next != kSpeechPhase) {
        resetSpeech(d, false);
        comfortNoise(d, next, mode, prm, synth, aq);
        lsfToLsp(d->lsfPrev, d->lspOld);
        averageLsf(d);
      } else {
        speechFrame(d, mode, type, prm, synth, aq);
      }
      d->cn.phase = next;
      VOKC_CALL(voksPostFilter_GSMAMR_16s, aq, synth, &d->pfTilt, &d->pfGain, d->pfIn, d->pfOut, pcm, kRate[mode]);
      highPass(d, pcm);
      for (int i = 0; i < kFrame; ++i) pcm[i] = static_cast<int16_t>(pcm[i] & 0xFFF8);
      return vokOk;
    });
    if (r != vokOk) return r;
  }
  if (!d->homed) home = homingFrame(speechPrm, mode, false);
  if (home) resetAll(d);
  d->homed = home;
  return vokOk;
}

}  // namespace vokc::amrnb::dec
