// G.729 LP analysis and LSP quantisation steps shared inside the library:
// the codec steps behind the exports (usable by other families, e.g. a
// GSM-AMR analysis reusing the G.729 recursion and root search) and the
// scalar/AVX2 kernel pairs the tests hold against each other.
//
// Formats: LP coefficients Q12 (a[0] = 4096), LSP Q15 (cosines, decreasing),
// LSF Q13 radians (increasing); MA predictor memory 4 x 10 quantised
// residuals Q13, newest frame first.
#ifndef VOKSC_G729_LP_INTERNAL_H
#define VOKSC_G729_LP_INTERNAL_H

#include <cstdint>

namespace voksc::g729 {

constexpr int kLpOrder = 10;
constexpr int kMaxOrder = 30;  // highest order of the Levinson-Durbin recursion

// ---- LP analysis -------------------------------------------------------------

// r[i] = vokMpy32(r[i], lag window i) for i = 0..len-1 (r addresses lag 1);
// len 1..12.
void lpLagWindow(int32_t* r, int len);

// Levinson-Durbin recursion in split (hi, lo) form for orders 1..30: a[0..order]
// Q12, rc[0..order-1] Q15, err the upper word of the final prediction error.
// False (nothing written) when a reflection coefficient reaches the
// stability limit.  r[0] must be normalised (at least 2^30).
bool lpLevinson(const int32_t* r, int order, int16_t* a, int16_t* rc, int16_t* err);
// Its two forms (the vector one keeps a_1..a_16 in lanes, orders up to 16).
bool lpLevinson_scalar(const int32_t* r, int order, int16_t* a, int16_t* rc, int16_t* err);
bool lpLevinson_avx2(const int32_t* r, int order, int16_t* a, int16_t* rc, int16_t* err);
// The same recursion written as a plain chain of the fixed-point operators.
bool lpLevinsonChain(const int32_t* r, int order, int16_t* a, int16_t* rc, int16_t* err);

// LP coefficients (Q12, order 10) to LSPs (Q15) by the Chebyshev root search;
// a copy of oldLsp when fewer than ten roots are found.  annexA selects the
// 51-point grid with two bisections.
void lpToLsp(const int16_t* a, const int16_t* oldLsp, int16_t* lsp, bool annexA);
// The Chebyshev evaluation of the root search (x Q15, coefficients f[0..5]
// in Q11 with shift 6 or Q10 with shift 7, result Q14): the exact form the
// search uses and the operator chain it must equal.
int16_t lspChebyshev(int16_t x, const int16_t* f, int shift);
int16_t lspChebyshevChain(int16_t x, const int16_t* f, int shift);
// True when the coefficients bound every step of the recursion for any x
// (no saturation anywhere); then the plain 32-bit form equals the chain.
bool lspChebyshevFits(const int16_t* f, int shift);
int16_t lspChebyshevPlain(int16_t x, const int16_t* f, int shift);
// The plain form at n <= 64 abscissae x[0..n-1] into y.
void lspChebyshevGrid_scalar(const int16_t* x, int n, const int16_t* f, int shift, int16_t* y);
void lspChebyshevGrid_avx2(const int16_t* x, int n, const int16_t* f, int shift, int16_t* y);
// Bit i set when y[i] y[i + 1] <= 0 (the samples bracket a root), for
// i + 1 < n <= 65; y holds 80 words.
uint64_t bracketBits_avx2(const int16_t* y, int n);
// LSPs (Q15) to LP coefficients (Q12, a[0] = 4096).
void lspToLp(const int16_t* lsp, int16_t* a);
void lspToLp_scalar(const int16_t* lsp, int16_t* a);
void lspToLp_avx2(const int16_t* lsp, int16_t* a);

// ---- LSP / LSF conversions ----------------------------------------------------

void lspToLsf(const int16_t* lsp, int16_t* lsf);      // Q13 radians
void lspToLsf_scalar(const int16_t* lsp, int16_t* lsf);  // its two forms
void lspToLsf_avx2(const int16_t* lsp, int16_t* lsf);
void lspToLsfNorm(const int16_t* lsp, int16_t* lsf);  // Q15, frequency / sampling rate
// Q13 radians to LSP; returns the index of the first negative frequency
// (elements before it written), or -1.
int lsfToLsp(const int16_t* lsf, int16_t* lsp);

// ---- quantiser and decoder ----------------------------------------------------

// A switched moving-average LSF predictor: the coefficients of the past
// kLsfMaFrames residuals (Q15), the weight of the new residual (Q15) and its
// reciprocal (Q12).  The speech quantiser has two; the silence descriptor
// blends its own from them.
constexpr int kLsfMaFrames = 4;
struct LsfPredictor {
  const int16_t (*past)[kLpOrder];
  const int16_t* current;
  const int16_t* currentInv;
};
LsfPredictor lsfSpeechPredictor(int mode);
// Quantised LSF from a residual and the memory (newest frame first), the
// residual that gives a wanted LSF, and the memory update.
void lsfPredict(const int16_t* residual, const int16_t* mem, const LsfPredictor& p, int16_t* lsf);
void lsfResidual(const int16_t* lsf, const int16_t* mem, const LsfPredictor& p, int16_t* residual);
void lsfPushResidual(const int16_t* residual, int16_t* mem);
// Pairs (j-1, j), j = from..to-1, closer than `gap` (Q13) are moved apart.
void lsfSpread(int16_t* buf, int16_t gap, int from, int to);
// Weights of the quantiser's distance from the spacing of the LSFs (Q13).
void lsfWeights(const int16_t* lsf, int16_t* w);

// Stability correction of a quantised LSF set; bit 0: floor applied,
// bit 1: ceiling applied.
int lsfStability(int16_t* lsf);
// Decoder: idx = (switch 0..1, stage 1 0..127, stage 2 low 0..31, stage 2
// high 0..31).  Updates the memory; residualOut (optional) receives the
// residual pushed into it.  Returns the stability flags.
int lsfDecode(const int16_t* idx, int16_t* mem, int16_t* lsf, int16_t* residualOut);
// True when all four decoder indices lie in the ranges above.
bool lsfIndicesValid(const int16_t* idx);
// The same for the three SID indices: switch 0..1, stage 1 0..31, stage 2 0..15.
bool sidIndicesValid(const int16_t* idx);
// Switched-MA two-stage quantiser; writes the quantised LSF, the four indices
// and (optional) the residual pushed into the memory.
void lsfQuantise(const int16_t* lsf, int16_t* mem, int16_t* lsfq, int16_t* idx, int16_t* residualOut);
// The quantiser written as a plain chain of the fixed-point operators.
void lsfQuantiseChain(const int16_t* lsf, int16_t* mem, int16_t* lsfq, int16_t* idx, int16_t* residualOut);
// Erased frame: pushes the residual that predictor `mode` needs to give lastLsf.
void lsfErased(int mode, int16_t* mem, const int16_t* lastLsf);

// First-stage search: index of the first codebook vector at the smallest
// distance sat32(2 * sum (sat16(target - cb))^2) over the 128 x 10 codebook.
int lspStage1Search_scalar(const int16_t* target);
int lspStage1Search_avx2(const int16_t* target);
// Second-stage search over coefficients from..from+4 (from 0 or 5) of
// buf = target - first-stage vector with the weights w: the index, or -1
// when the bound that keeps the 32-bit lane sums exact does not hold (the
// caller then runs the 64-bit search).
int lspStage2Search_scalar(const int16_t* buf, const int16_t* w, int from);
int lspStage2Search_avx2(const int16_t* buf, const int16_t* w, int from);

// ---- Annex E hybrid window ----------------------------------------------------

constexpr int kHybridLen = 145;
constexpr int kHybridOrder = 30;
// One frame of the 16-bit hybrid window: x[0..144], r[0..30], state 31 words.
void winHybrid_scalar(const int16_t* x, int32_t* r, int32_t* state);
void winHybrid_avx2(const int16_t* x, int32_t* r, int32_t* state);
// The same frame with every correlation as a saturating operator chain.
void winHybrid_chain(const int16_t* x, int32_t* r, int32_t* state);

}  // namespace voksc::g729

#endif  // VOKSC_G729_LP_INTERNAL_H
