// Fixed-point glue shared by the G.729-family coders (G.729 / G.729A with
// Annex B, Annexes D, E and I): frame constants, weighting and
// interpolation of LP filters, delay coding, pitch sharpening, taming
// bookkeeping, the algebraic code vectors of the 6.4 / 8 / 11.8 kbit/s
// codebooks, excitation and target-memory updates, loss concealment steps,
// the backward-adaptive LP pieces of the 11.8 kbit/s mode and the
// arithmetic of voice activity detection and comfort noise.
// Every signal-processing step stays a voksc call; these are the small
// frame-loop helpers around them.
#ifndef VOKCODEC_G729_COMMON_H
#define VOKCODEC_G729_COMMON_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "basic_op.h"
#include "voksc.h"

namespace vokc::g729 {

using namespace voksc::op;

constexpr int kFrame = 80;
constexpr int kSubfr = 40;
constexpr int kOrder = 10;
constexpr int kMp1 = kOrder + 1;
constexpr int kOrderBwd = 30;  // backward-adaptive LP order of the 11.8 kbit/s mode
constexpr int kMp1Bwd = kOrderBwd + 1;
constexpr int kPitMin = 20;
constexpr int kPitMax = 143;
constexpr int kWindow = 240;                  // LP analysis window
constexpr int kExcHist = kPitMax + 11;        // past excitation: 154 samples
constexpr int kSynHist = kOrderBwd + 35;      // synthesis history of the hybrid window
constexpr int kHybridLen = kFrame + kSynHist; // 145 samples analysed backward
constexpr int16_t kSharpMax = 13017;
constexpr int16_t kSharpMin = 3277;
constexpr int16_t kGpClip = 15564;            // pitch gain limit under taming
constexpr int32_t kThreshErr = 983040000;     // taming threshold of the excitation error
constexpr int16_t kGammaBwd = 32113;          // bandwidth expansion of the backward filter
constexpr int16_t kCIntReset = 4506;          // backward filter interpolation factor after a forward frame

// LSPs of a reset coder.
constexpr int16_t kLspReset[kOrder] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};

// 16-byte aligned coder state inside caller memory (GetSize adds 16).
template <class S>
S* alignedState(void* mem) {
  return reinterpret_cast<S*>((reinterpret_cast<uintptr_t>(mem) + 15) & ~uintptr_t{15});
}

// Size a coder asks for: its state plus the alignment slack.
template <class S>
VokResult alignedStateSize(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(S) + 16);
  return vokOk;
}

// MA predictor memory of the LSP quantiser (4 frames, the LSFs of a reset
// coder) and the gain predictor memory (Q10) at reset.
void resetPredictors(int16_t* lsfMa, int16_t* pastQuaEn);

// ---- double-precision products --------------------------------------------

using voksc::op::mpy32x16;  // the split form (hi, lo, n)
inline Word32 mpy32x16(Word32 x, Word16 n) {
  Word16 hi, lo;
  L_Extract(x, hi, lo);
  return mpy32x16(hi, lo, n);
}

// 16-bit random generator of the G.729 family.
inline int16_t nextRandom(int16_t& seed) {
  seed = extract_l(L_add(L_shr(L_mult(seed, 31821), 1), 13849));
  return seed;
}

// ---- LP filters -----------------------------------------------------------

// a[i] gamma^i for i = 0..order (Q12 in and out).
void weightAz(const int16_t* a, int16_t gamma, int order, int16_t* ap);

// The powers gamma^1 .. gamma^10 (Q15) of a non-negative gamma as weightAz
// forms them, each the rounded product of the one before and gamma: a
// fixed factor's filters then weigh all ten coefficients at once.
struct GammaPowers {
  int32_t p[kOrder];
  int16_t w[kOrder];  // the same as words (each below 2^15)
};
constexpr GammaPowers gammaPowers(int16_t gamma) {
  GammaPowers g{};
  int32_t fac = gamma;
  for (int i = 0; i < kOrder; ++i) {
    g.p[i] = fac;
    g.w[i] = static_cast<int16_t>(fac);
    fac = (fac * gamma + 0x4000) >> 15;
  }
  return g;
}
// weightAz of order 10 with the powers of a non-negative gamma.  The first
// eight products in lanes: each (a p + 2^14) >> 15 from the 32-bit product's
// halves; |a p| < 2^30, so the result fits 16 bits and the pack keeps it.
inline void weightAz10(const int16_t* a, const GammaPowers& g, int16_t* ap) {
  ap[0] = a[0];
  int i = 0;
#if defined(__SSE2__)
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 1));
  const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.w));
  const __m128i lo = _mm_mullo_epi16(x, w), hi = _mm_mulhi_epi16(x, w);
  const __m128i half = _mm_set1_epi32(0x4000);
  const __m128i r0 = _mm_srai_epi32(_mm_add_epi32(_mm_unpacklo_epi16(lo, hi), half), 15);
  const __m128i r1 = _mm_srai_epi32(_mm_add_epi32(_mm_unpackhi_epi16(lo, hi), half), 15);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(ap + 1), _mm_packs_epi32(r0, r1));
  // The last two words in one 32-bit store: the filters read them as one
  // pair right after, which a single store forwards to.
  const uint32_t last = static_cast<uint16_t>((a[9] * g.p[8] + 0x4000) >> 15) |
                        static_cast<uint32_t>(static_cast<uint16_t>((a[10] * g.p[9] + 0x4000) >> 15)) << 16;
  std::memcpy(ap + 9, &last, sizeof last);
  return;
#endif
  for (; i < kOrder; ++i) ap[i + 1] = static_cast<int16_t>((a[i + 1] * g.p[i] + 0x4000) >> 15);
}

// 1/A(z) of the given order over len samples from a copy of the filter
// memory: mem30 holds the last 30 outputs, of which the last `order` are
// used (it is left unchanged).
VokResult synthesis30(const int16_t* a, int order, const int16_t* x, int16_t* y, const int16_t* mem30,
                      int len = kSubfr);
// A(z) of the given order; x has `order` samples of history before it.
void residualOrder(const int16_t* a, int order, const int16_t* x, int16_t* y, int len = kSubfr);

// Weighted speech of a frame through A(z/gamma1) / A(z/gamma2) of both
// subframes' filters (a: 2 x (order + 1)); memW keeps the last 30 outputs.
void weightedSpeech(const int16_t* a, int order, const int16_t* gamma1, const int16_t* gamma2, const int16_t* speech,
                    int16_t* wsp, int16_t* memW);

// Target of a subframe's searches: the LP residual of the speech (into
// exc, and a copy in res2) through 1/A(z) with the error memory, then
// through W(z) = ap1 / ap2 with the weighted-error memory (memories of 30
// samples, left unchanged).
void weightedTarget(const int16_t* aq, int orderAq, const int16_t* ap1, const int16_t* ap2, int orderAp,
                    const int16_t* speech, int16_t* exc, int16_t* res2, const int16_t* memErr, const int16_t* memW0,
                    int16_t* xn);

// Quantised LP filters of both subframes: interpolated, then the new set.
void interpolateLpc(const int16_t* lspOld, const int16_t* lspNew, int16_t* aq);

// Forward filters of both subframes (Q12, 2 x kMp1) in a coder that may
// switch from backward LP: interpolated after a forward frame (prevMode 0),
// the new filter in both subframes after a backward one.
void forwardFilters(const int16_t* lspOld, const int16_t* lspNew, int16_t prevMode, int16_t* a);

// The previous-frame filter of the backward-filter interpolation
// (kMp1Bwd coefficients) after a forward frame: the second subframe's
// filter, zero beyond order 10.
void holdForwardFilter(int16_t* prevFilter, const int16_t* a);

// New LSPs of a decoded frame from its two LSP words, or after a loss the
// last good LSFs again while the MA predictor memory ages.
void decodeLsp(const int16_t* prm, bool bfi, int16_t* lsfMa, int16_t* prevLsf, int16_t& prevMa, int16_t* lspNew);

// Order-10 LP filter from the autocorrelations; an unstable result keeps
// the last stable filter.  rc (10 values) receives all reflection
// coefficients of a stable result, else only the first two of the last
// stable filter; err (when given) the prediction error of a stable result.
// Every filter the speech analysis and the comfort-noise description of an
// encoder compute shares its encoder's record.
struct StableLp {
  int16_t oldA[kMp1];
  int16_t oldRc[2];
  void reset();
  bool solve(const int32_t* r, int16_t* a, int16_t* rc, int16_t* err = nullptr);
};

// Adaptive perceptual weighting factors of both subframes from the first
// two reflection coefficients (as log-area ratios) and the narrowest
// spacing of the interpolated and new LSFs (normalised, Q15): flat
// (0.94, 0.6) while the spectrum is smooth.
struct Weighting {
  int16_t smooth;     // 1 at reset
  int16_t larOld[2];  // log-area ratios of the previous frame
  void reset();
  void factors(const int16_t* rc, const int16_t* lsfInt, const int16_t* lsfNew, int16_t* gamma1, int16_t* gamma2);
};

// Pre-processing (encoder, 140 Hz) or post-processing (decoder, 100 Hz)
// high-pass filter state in `capacity` bytes.
VokResult initHighPass(uint8_t* state, int capacity, bool post);

// ---- pitch delay ----------------------------------------------------------

// Parity of the pitch index bits 2..7 (plus one).
int16_t pitchParity(int16_t index);

// Parity bit sent after the first delay index; at 11.8 kbit/s it also
// covers index bit 1.
inline int16_t sentParity(int16_t index, bool rate118) {
  const int16_t parity = pitchParity(index);
  return rate118 ? static_cast<int16_t>(parity ^ ((index >> 1) & 1)) : parity;
}

// Search range of the second subframe around the first subframe's delay.
void delayRange(int16_t t0, int16_t& tMin, int16_t& tMax);

// Transmitted delay index of a subframe (the first sets tMin / tMax for
// the second); lowRate: the 4-bit second-subframe index of 6.4 kbit/s.
int16_t encodeLag(int16_t t0, int16_t frac, int16_t& tMin, int16_t& tMax, int subframe, bool lowRate);

// Delay of a subframe from its index; for the second subframe t0 holds the
// first subframe's delay on entry.
void decodeLag(int16_t index, int subframe, bool lowRate, int16_t& t0, int16_t& frac);

// Delay of a subframe whose index was lost: the last good delay, with its
// fraction (keepFrac) or with none and prevT0 growing by one for the next
// loss.
void concealLag(int16_t& prevT0, int16_t prevFrac, bool keepFrac, int16_t& t0, int16_t& frac);

// v[i] += sharp v[i - t0] for delays shorter than a subframe (sharp in Q15).
void sharpen(int16_t* v, int16_t t0, int16_t sharpQ15);

// Pitch sharpening factor of the next subframe from the quantised pitch gain.
inline void clampSharp(int16_t& sharp, int16_t gainPit) {
  sharp = gainPit > kSharpMax ? kSharpMax : (gainPit < kSharpMin ? kSharpMin : gainPit);
}

// ---- taming ---------------------------------------------------------------

// 1 when the excitation error accumulated over the delay's zones calls for
// limiting the pitch gain.
int16_t tamingNeeded(const int32_t* excErr, int16_t t0, int16_t frac);
// Excitation error of the new subframe from its pitch gain and delay.
void updateExcErr(int32_t* excErr, int16_t gainPit, int16_t t0);

// ---- encoder frame --------------------------------------------------------

// Takes a new frame into the end of the analysis window (kWindow samples)
// through the pre-processing high-pass filter; returns the frame's speech
// (which starts 40 samples before the new ones).
int16_t* takeFrame(int16_t* oldSpeech, const int16_t* pcm, uint8_t* highPass);

// Moves the speech window, the weighted speech (kPitMax history) and the
// excitation (kExcHist history) on by one frame.
void shiftEncoderHistory(int16_t* oldSpeech, int16_t* oldWsp, int16_t* oldExc);

// Closed-loop pitch of a subframe around the open-loop delay `centre`
// (1/3 resolution, or the 6.4 kbit/s rules with lowRate); the adaptive
// vector is left in the excitation buffer (excBuf: kExcHist samples of
// history, then the subframe).
void closedLoopPitch(bool lowRate, int16_t centre, const int16_t* xn, const int16_t* h, int16_t* excBuf,
                     int subframe, int16_t* delay);

// Target left for the fixed codebook: xn - gain * y1 (gain Q14) with the
// saturating 16-bit subtraction of the reference encoders (the library's
// contribution step wraps instead).
void fixedCodebookTarget(const int16_t* xn, const int16_t* y1, int16_t gainPit, int16_t* xn2);

// The G.729 long-term post-filter of one subframe (res: 152 samples of
// residual history, then the subframe; shifted by a subframe): the library
// filter, and at delay 144, which it refuses, the coder's own filter.
VokResult longTermPostFilter(int16_t factor, int t0, int16_t* res, int16_t* out, int16_t* voicing);

// Adaptive-codebook gain of a subframe (limited under taming), the filtered
// adaptive vector y1 and the target left for the fixed codebook (xn2);
// returns the taming flag the gain quantiser needs.
int16_t adaptiveGain(const int32_t* excErr, int16_t t0, int16_t frac, const int16_t* xn, const int16_t* h,
                     const int16_t* excSub, int16_t* y1, int16_t& gainPit, int16_t* xn2);

// The algebraic codebooks of the three rates.
enum class Codebook { k64, k80, k118 };

// Fixed-codebook search of a subframe on the pitch-sharpened impulse
// response h and the target xn2: the code vector, its filtered version y2
// and the transmitted words (positions then signs at 6.4 and 8 kbit/s,
// five track words at 11.8 kbit/s); returns the number of words.  At
// 11.8 kbit/s the LP residual res2 first loses the adaptive contribution
// (excSub scaled by gainPit) and lpMode picks the forward or backward
// codebook.  budget: the 8 kbit/s search's budget over a frame.
int fixedCodebook(Codebook book, int16_t* h, const int16_t* xn2, int16_t* res2, const int16_t* excSub,
                  int16_t gainPit, int lpMode, int16_t* budget, int subframe, int16_t* code, int16_t* y2,
                  int16_t* words);

// Quantised pitch and code gains (gains[0], gains[1]) of a subframe and
// their transmitted index: the 6.4 kbit/s codebook (lowRate, 3 + 3 bits)
// or the 8 kbit/s one (3 + 4 bits).
int16_t quantiseGains(bool lowRate, const int16_t* xn, const int16_t* y1, const int16_t* code, const int16_t* y2,
                      int16_t* pastQuaEn, int16_t taming, int16_t* gains);

// ---- excitation -----------------------------------------------------------

// Gains of a lost subframe: the adaptive part only after a voiced frame,
// else the fixed part only.
inline void concealedGains(int16_t voicing, int16_t& gp, int16_t& gc) {
  if (voicing == 0)
    gp = 0;
  else
    gc = 0;
}

// exc = gp exc + gc code over one subframe (gains Q14 / Q1).
void mixExcitation(int16_t* exc, const int16_t* code, int16_t gp, int16_t gc);

// Error and weighted-error memories of the next target: the last m samples
// of the subframe (speech and synth at the subframe start).
void updateTargetMemories(const int16_t* speech, const int16_t* synth, const int16_t* xn, const int16_t* y1,
                          const int16_t* y2, int16_t gainPit, int16_t gainCode, int m, int16_t* memErr,
                          int16_t* memW0);

// Filtered 8 kbit/s code vector: the impulse response h added at each pulse.
void filteredCode80(const int16_t* h, int16_t posIndex, int16_t signs, int16_t* y);

// Algebraic code vectors of the three rates (Q13 at 6.4 and 8 kbit/s, Q12
// pulses of +-4096 at 11.8 kbit/s).
void decodeCode80(int16_t sign, int16_t index, int16_t* code);
void decodeCode64(int16_t sign, int16_t index, int16_t* code);
void decodeCode118(const int16_t* index, bool backward, int16_t* code);

// ---- backward-adaptive LP (11.8 kbit/s) -----------------------------------

// Energy of a signal in a log scale (Q11 of log2 with a floor), as the
// forward/backward decision reads it.
int16_t energyDb(const int16_t* x, int len);

// Counts of forward and backward frames deciding whether the backward mode
// dominates (halved together when they reach 100 frames).
struct Dominance {
  int16_t countBwd;
  int16_t countFwd;
  void update(int16_t& dominant, int16_t lpMode);
};

// Order-30 backward LP analysis of the past synthesis (hybrid window, lag
// window, Levinson with fallback to the last stable filter).
struct BackwardLp {
  alignas(16) int32_t hybrid[32];  // hybrid-window recursion
  int16_t oldA[kMp1Bwd];
  int16_t oldRc[2];
  void reset();
  // x: kHybridLen samples ending with the newest; a: kMp1Bwd coefficients.
  void analyse(const int16_t* x, int16_t* a, int16_t* rc);
  // The analysis, a saturated filter replaced by the last unsaturated one
  // (kept in aMem), then the bandwidth expansion into aOut.
  void filter(const int16_t* x, int16_t* aMem, int16_t* aOut);
};

// Transition towards the backward filter: the second subframe's filter
// (aBwd + kMp1Bwd) leans on the previous frame's filter by cInt (Q12,
// shrinking by 0.1 per frame), the first subframe takes the mean of the two.
void interpolateBackward(int16_t* aBwd, const int16_t* prevFilter, int16_t& cInt);

// After a loss the backward filter a (kMp1Bwd) returns gradually from the
// one held at the loss: weight cFeFix (Q12) on the held filter.
void fadeFromHeld(int16_t* a, const int16_t* held, int16_t cFeFix);

// Counts consecutive backward-adaptive subframes (statBwd, up to 30) and
// returns true once the backward filter counts as stationary; any other
// subframe restarts the count.
bool backwardStationary(int16_t& statBwd, bool backward);

// Forward/backward decision of the 11.8 kbit/s encoder with its
// stationarity tracking.
struct LpModeDecision {
  int16_t globStat;  // global stationarity, 10000 at reset
  int16_t statBwd;   // consecutive backward frames
  int16_t valStatBwd;
  int16_t cInt;
  int16_t bwdDominant;
  Dominance dominance;
  void reset();
  // From the prediction gains of the backward filter (plain and
  // interpolated) and of the quantised forward filter on the frame's
  // speech; aBwd holds the backward filter in its second half and is
  // interpolated in place.
  int16_t decide(const int16_t* speech, const int16_t* aFwdQ, int16_t* aBwd, const int16_t* prevFilter,
                 const int16_t* lspOld, const int16_t* lspNew, int16_t prevMode);
  // A frame coded without the choice (lower rate or no speech).
  void forwardOnly();

 private:
  void updateStationarity(int16_t gpredB, int16_t gpredF, int16_t mode, int16_t prevMode);
};

// Pitch tracking (multiples and sub-multiples) of the 11.8 kbit/s concealment.
struct PitchTrack {
  int16_t prevPitch;  // 30 at reset
  int16_t stat;
  int16_t pitchSta;
  int16_t fracSta;
  void track(int16_t& t0, int16_t& frac);
  // Tracks the last good delay; the tracked value replaces it only where
  // the concealment reads it (replace: the 11.8 kbit/s mode).
  void follow(int16_t& t0, int16_t& frac, bool replace) {
    if (replace) {
      track(t0, frac);
      return;
    }
    int16_t t = t0, f = frac;
    track(t, f);
  }
};

// ---- voice activity detection and comfort noise --------------------------

// Integer square root (14 bisection steps) of a Q-doubled value.
int16_t sqrtBits(Word32 num);

// Sum of `count` autocorrelation sets of 11 values with their shifts,
// normalised; shSum receives the shift of the sum.
void sumAutocorr(const int16_t* acf, const int16_t* shAcf, int count, int16_t* sum, int16_t* shSum);

// Autocorrelation of the filter coefficients, normalised.
void filterAutocorr(const int16_t* coeff, int16_t* rcoeff, int16_t& sh);

// True when the filter described by rcoeff predicts the autocorrelation acf
// worse than the residual energy alpha allows by the given fraction.
bool filterDiffers(const int16_t* rcoeff, int16_t shR, const int16_t* acf, int16_t alpha, int16_t frac);

// Comfort-noise excitation of one frame (80 samples at exc, the past
// excitation before it): random pitch and pulse excitation plus Gaussian
// noise scaled to the target gain.  Per subframe the pitch gain (Q14), the
// magnitude of the pulse gain (when pulseGain is given) and the delay are
// returned for the encoder's taming memory and the decoder's
// phase-dispersion state.
void comfortExcitation(int16_t curGain, int16_t* exc, int16_t& seed, int16_t* pitchGain, int16_t* pulseGain,
                       int16_t* delay);

// Quantised SID gain index of an energy (one frame, or an average of
// several) and its value in dB.
int16_t sidGainIndex(const int16_t* ener, const int16_t* shEner, int count, int16_t& enerQ);

// ---- bit packing ----------------------------------------------------------

// Parameter words -> serial bits (one per byte, MSB first) and back.
template <class W>
int packParams(const int16_t* prm, const W* widths, int count, uint8_t* bits) {
  int n = 0;
  for (int p = 0; p < count; ++p)
    for (int b = widths[p] - 1; b >= 0; --b) bits[n++] = static_cast<uint8_t>((prm[p] >> b) & 1);
  return n;
}
template <class W>
int unpackParams(const uint8_t* bits, const W* widths, int count, int16_t* prm) {
  int n = 0;
  for (int p = 0; p < count; ++p) {
    int v = 0;
    for (int b = 0; b < widths[p]; ++b) v = (v << 1) | (bits[n++] & 1);
    prm[p] = static_cast<int16_t>(v);
  }
  return n;
}

// Each received parameter reduced to its field width (the value modulo
// 2^width), as the bits on the channel would carry it.
template <class W>
void maskParams(const int16_t* in, const W* widths, int count, int16_t* out) {
  for (int p = 0; p < count; ++p) out[p] = static_cast<int16_t>(in[p] & ((1 << widths[p]) - 1));
}

}  // namespace vokc::g729

#endif  // VOKCODEC_G729_COMMON_H
