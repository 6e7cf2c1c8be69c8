// GSM-AMR steps shared inside the family: the mode numbering, the LSF
// conversions and quantiser pieces used by both the LP exports and the DTX
// exports.
//
// Formats: LP coefficients Q12 (a[0] = 4096), LSP Q15 cosines (decreasing),
// LSF Q15 normalised frequency (0..16384 for 0..4 kHz, increasing).
#ifndef VOKSC_AMR_INTERNAL_H
#define VOKSC_AMR_INTERNAL_H

#include <cstdint>

#include "voksc.h"

namespace voksc::amr {

constexpr int kOrder = 10;
constexpr int kFrame = 160;
constexpr int kSubframe = 40;
constexpr int16_t kLsfGap = 205;  // smallest distance of quantised LSFs

// Codec modes in bit-rate order; kModeSid is the comfort-noise frame.
enum Mode : int { kMr475, kMr515, kMr59, kMr67, kMr74, kMr795, kMr102, kMr122, kModeSid };

// Mode of a rate code, or -1 for a code that is not a GSM-AMR speech mode
// (the comfort-noise code 25 gives kModeSid when allowSid is set).
inline int modeOfRate(VokRateCode rate, bool allowSid) {
  switch (rate) {
    case vokRateGsmAmr475: return kMr475;
    case vokRateGsmAmr515: return kMr515;
    case vokRateGsmAmr590: return kMr59;
    case vokRateGsmAmr670: return kMr67;
    case vokRateGsmAmr740: return kMr74;
    case vokRateGsmAmr795: return kMr795;
    case vokRateGsmAmr1020: return kMr102;
    case vokRateGsmAmr1220: return kMr122;
    case vokRateSid: return allowSid ? kModeSid : -1;
    default: return -1;
  }
}

// LSF (Q15 normalised) to LSP by the 64-interval cosine table.
void lsfToLsp(const int16_t* lsf, int16_t* lsp);
// Raise every LSF to at least the previous one plus gap (the first to gap).
void lsfSpread(int16_t* lsf, int16_t gap);
// Squared weights of the split quantisers from the LSF spacing, Q13.
void lsfWeights(const int16_t* lsf, int16_t* wt);
// Nearest entry of a codebook of `rows` vectors of `dim` (3 or 4) values,
// taking every `stride`-th vector, by the weighted squared error; the
// residual r is replaced by the chosen vector and the index returned.
int splitSearch(int16_t* r, const int16_t* wt, const int16_t* book, int rows, int dim, int stride);
// Nearest of `rows` 4-value codebook vectors c to res by the weighted
// squared error sum mult(wt_k, res_k - c_k)^2 (res_k + c_k when negated,
// both saturating): returns the first row of least error and its score
// min(sum, 2^30).
int nearest4_scalar(const int16_t* book, int rows, const int16_t* res, const int16_t* wt, bool negated,
                    uint32_t& score);
int nearest4_avx2(const int16_t* book, int rows, const int16_t* res, const int16_t* wt, bool negated,
                  uint32_t& score);
// Sixteen values of the LSP root search's Chebyshev series (coefficients
// f[0..5] Q10) at x[0..15] Q15, each as the saturating chain gives it.
void chebyshev16_scalar(const int16_t* x, const int16_t* f, int16_t* y);
void chebyshev16_avx2(const int16_t* x, const int16_t* f, int16_t* y);
// One-set quantiser (every mode but 12.2): the residual of lsf against the
// prediction pred is searched in the mode's three split codebooks; the
// quantised LSF (residual + prediction, spread by kLsfGap) and the three
// indices are written and pastRes receives the quantised residual.
void quantiseOneSet(const int16_t* lsf, const int16_t* pred, int mode, int16_t* pastRes, int16_t* lsfq,
                    int16_t* idx);

// Order-10 filters of the codec, Q12 coefficients, each output rounded
// from the doubled sum shifted left by 3 (saturating, as the codec's
// operator chains):
// y[n] = A(z) x, reading the 10 samples before x[0].
void lpResidual(const int16_t* a, const int16_t* x, int16_t* y, int len);
// Its plain form, for sum |a_k| max|x| below 2^30.
void residualPlain_scalar(const int16_t* a, const int16_t* x, int16_t* y, int len);
void residualPlain_avx2(const int16_t* a, const int16_t* x, int16_t* y, int len);
// y[n] = x / A(z) with past[0..9] the 10 outputs before y[0] (oldest
// first); y may be x.  The last 10 outputs are written to pastOut when it is
// not null (pastOut may be past).
void lpSynthesis(const int16_t* a, const int16_t* x, int16_t* y, int len, const int16_t* past, int16_t* pastOut);
// Adaptive-codebook vector: the excitation x[-lag..] interpolated at
// lag + frac/3 (thirds) or lag + frac/6 (sixths) into x[0..len-1], in
// order, so that a lag below len repeats the new samples.
void adaptiveVector(int16_t* x, int lag, int frac, int len, bool thirds);
// y[n] = sum_{i<=n} x[i] h[n-i], the doubled sum shifted left 3, high word.
void convolve40(const int16_t* x, const int16_t* h, int16_t* y);

// Kernels of the pitch steps (plain forms: the caller has bounded every sum).
void shiftFiltered_scalar(int16_t e, const int16_t* h, int16_t* f, int hShift, int down);
void shiftFiltered_avx2(int16_t e, const int16_t* h, int16_t* f, int hShift, int down);
// Sum f[j]^2 and sum x[j] f[j], j < 40, exact.
void energyCorr40_scalar(const int16_t* f, const int16_t* x, int64_t* energy, int64_t* corr);
void energyCorr40_avx2(const int16_t* f, const int16_t* x, int64_t* energy, int64_t* corr);
void interp20Plain_scalar(const int16_t* src, const int16_t* w, int16_t* y, int len);
void interp20Plain_avx2(const int16_t* src, const int16_t* w, int16_t* y, int len);
void convolvePlain_scalar(const int16_t* x, const int16_t* h, int16_t* y);
void convolvePlain_avx2(const int16_t* x, const int16_t* h, int16_t* y);

// Terms of one 8 x 8 pair pass of the 12.2 kbit/s search, from the row
// sums fixed (and their magnitude sums fixedMag) of the pulses already
// placed and the matrix diagonal at the 8 candidates of each pulse:
//   firstAlp[k]   = alp0 + 2 (diagW1 diag1[k] + crossW1 fixed1[k]),
//   secondTerm[k] = 2 termW2 ((2 (diagW2 diag2[k] + crossW2 fixed2[k]) + 2^15) >> 16),
//   firstSum[k]   = add(ps, d1[k]),
// and peaks = max |firstAlp| + max |secondTerm|.  These are the values of
// the codec's saturating chains when the magnitudes bound them:
// |alp0| + 2 (diagW1 max|diag1| + crossW1 max fixedMag1) below 2^31 and
// 2 (diagW2 max|diag2| + crossW2 max fixedMag2) below 2^31 - 2^15 (weights
// positive); otherwise nothing is written and false returned.
struct PairTerms {
  const int32_t *fixed1, *fixedMag1, *diag1;
  const int16_t* d1;
  const int32_t *fixed2, *fixedMag2, *diag2;
  int32_t alp0;
  int16_t ps, diagW1, crossW1, diagW2, crossW2, termW2;
};
inline bool pairTermsBounded(const PairTerms& t, int32_t topDiag1, int32_t topMag1, int32_t topDiag2, int32_t topMag2) {
  const int64_t alp0Mag = t.alp0 < 0 ? -int64_t{t.alp0} : t.alp0;
  return alp0Mag + 2 * (t.diagW1 * int64_t{topDiag1} + int64_t{t.crossW1} * topMag1) < (int64_t{1} << 31) &&
         2 * (t.diagW2 * int64_t{topDiag2} + int64_t{t.crossW2} * topMag2) < (int64_t{1} << 31) - 0x8000;
}
bool pairTerms8_scalar(const PairTerms& t, int32_t* firstAlp, int32_t* secondTerm, int16_t* firstSum, int64_t& peaks);
bool pairTerms8_avx2(const PairTerms& t, int32_t* firstAlp, int32_t* secondTerm, int16_t* firstSum, int64_t& peaks);

// Filtered pulses of the 10.2 / 12.2 codebooks: acc[i] = sum over the n
// pulses of scale[k] hz[40 + i - pos[k]], i = 0..39 (hz: 40 zeros, then
// the response; positions 0..39); the caller bounds the sums to 32 bits.
void pulseSum_scalar(const int16_t* hz, const int* pos, const int16_t* scale, int n, int32_t* acc);
void pulseSum_avx2(const int16_t* hz, const int* pos, const int16_t* scale, int n, int32_t* acc);

// One pass of the joint search of two pulses over 8 x 8 candidate
// positions (the 12.2 kbit/s codebook): candidate i of the first pulse has
// the pulse sum ps1[i] and energy term alp1[i], candidate j of the second
// the correlation d2[j] and energy term alp2[j], the pair the cross term
// cross[i crossStride + j] weighted by pairW.  The pair's sum is add(ps1[i], d2[j]),
// its square mult(sum, sum), its energy the high word, rounded, of
// alp1[i] + alp2[j] + pairW cross[i][j]; the caller guarantees that this
// sum and its rounding stay inside 32 bits.  Pairs are taken in row order
// and replace best when sq / alp is strictly larger (cross-multiplied).
struct PairBest {
  int16_t sq, alp, ps;
  int first, second;
};
void pairPass8_scalar(const int16_t* ps1, const int32_t* alp1, const int16_t* d2, const int32_t* alp2,
                      const int16_t* cross, int crossStride, int32_t pairW, PairBest& best);
void pairPass8_avx2(const int16_t* ps1, const int32_t* alp1, const int16_t* d2, const int32_t* alp2,
                    const int16_t* cross, int crossStride, int32_t pairW, PairBest& best);

// Sign-folded correlation matrix of the scaled impulse response g (40
// values, 2 sum g^2 below 2^31 - 2^15 so that no sum saturates):
// entry (i, j) = mult(round(2 sum_k g[k] g[k + |i - j|], k = 0..39 - max(i, j)),
// mult(sign[i], sign[j])), the diagonal without signs, held in row i at
// column (j mod step) (40 / step) + j / step (step 1, 4 or 5: the positions
// of one of `step` interleaved tracks adjacent).
void signedRows_scalar(const int16_t* g, const int16_t* sign, int step, int16_t (*rr)[kSubframe]);
void signedRows_avx2(const int16_t* g, const int16_t* sign, int step, int16_t (*rr)[kSubframe]);
// Two-pulse search of one track pair, eight first positions r in lanes:
// for each candidate k in order, ps = min(dA[r] + dB[k], 32767) (d >= 0),
// sq = ps^2 >> 15, alp = (diagA[r] + diagB[k] + cross[k][r] + 2^15) >> 16
// (diagA, diagB: 16384 times the diagonal words, cross: 32768 times the
// entry words), and lane r takes (sq, alp, k) when balp sq - bsq alp > 0;
// lanes start at (-1, 1, at = -1).
struct PairLanes2 {
  int32_t sq[8], alp[8], at[8];
};
void pairLanes2_scalar(const int32_t* dA, const int32_t* diagA, const int32_t* dB, const int32_t* diagB,
                       const int32_t (*cross)[8], PairLanes2& out);
void pairLanes2_avx2(const int32_t* dA, const int32_t* diagA, const int32_t* dB, const int32_t* diagB,
                     const int32_t (*cross)[8], PairLanes2& out);

// The same entries by lag: slot[m * 40 + dec] = entry (39 - m, 39 - m - dec)
// for dec = 0..39 - m; the other words of each row of 40 are unspecified.
void signedLags_scalar(const int16_t* g, const int16_t* sign, int16_t* slot);
void signedLags_avx2(const int16_t* g, const int16_t* sign, int16_t* slot);

// The second detector's 128-point real FFT in place: Re(0), Re(64), then
// Re(k), Im(k) for k = 1..63 (scaled down by the halving of each stage).
void realFft128(int16_t* x);

}  // namespace voksc::amr

#endif  // VOKSC_AMR_INTERNAL_H
