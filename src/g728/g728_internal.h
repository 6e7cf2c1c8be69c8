// G.728 kernels with a scalar and an AVX2 form (the form of the active
// level is chosen once per process); both give the same bits for every input.
#ifndef VOKSC_SRC_G728_G728_INTERNAL_H
#define VOKSC_SRC_G728_G728_INTERNAL_H

#include <cstdint>

namespace voksc::g728 {

// One order of the Levinson predictor update, n <= 49, when every sum is
// known to fit 32 bits:
// next[f] = round(a[f] 2^16 + rc a[n - 1 - f]) (upper half, half up unless
// it is 32767), f < n.  Returns the largest |next[f]|, and in sum the exact
// sum of next[f] rRev[f], f < n.  The 16 words before a[0] and the 16 from
// a[n] on must be zero; the vector form reads them, writes zeros to next
// from n up to the next multiple of 16, and reads up to 15 words past n of
// rRev.
int updatePredictor_scalar(const int16_t* a, int16_t* next, int n, int32_t rc, const int16_t* rRev, int64_t* sum);
int updatePredictor_avx2(const int16_t* a, int16_t* next, int n, int32_t rc, const int16_t* rRev, int64_t* sum);
// Orders done..order-1 of the Levinson recursion on the correlations
// r[0..order] (a, alpha and the headroom of halvings hold the state at
// `done`; done = 0 starts afresh); false when it is ill-conditioned.  a has
// room for 67 words.
bool levinsonOrders_scalar(const int16_t* r, int done, int order, int16_t* a, int64_t* alpha, int* headroom);
bool levinsonOrders_avx2(const int16_t* r, int done, int order, int16_t* a, int64_t* alpha, int* headroom);
// Exact sum of r[f] back[f], f < n; the vector form reads up to 15 words
// past n of both.
int64_t predictorError_scalar(const int16_t* r, const int16_t* back, int n);
int64_t predictorError_avx2(const int16_t* r, const int16_t* back, int n);

// Zeros that follow a hybrid window's samples for the correlations.
constexpr int kWindowSpare = 48;
// A window's two correlations at lags 0..count-1 (count a multiple of 4):
// the first nonr samples of ws against ws, and the block of samples that
// follows them.  ws holds total samples and
// kWindowSpare zeros after them.  The vector form works in 32-bit lanes
// where the samples' energy bounds every partial sum (below 2^31), so the
// exact values fit 32 bits, and returns false otherwise (and the scalar
// form always): the caller then forms them the wide way.
bool windowCorrelations_scalar(const int16_t* ws, int total, int nonr, int block, int count, int32_t* nonrCorr,
                               int32_t* blockCorr);
bool windowCorrelations_avx2(const int16_t* ws, int total, int nonr, int block, int count, int32_t* nonrCorr,
                             int32_t* blockCorr);

// Lags 1..lags of a hybrid window: the recursive part rexp[i] (decayed by
// fac, shifted right by shRec, plus the newest block's correlation shifted by
// shNew), normalised by the 32-bit power of two of the count recNls with
// 32-bit saturation and rounded to its upper half; then the window's
// correlation r[i] from it (shifted left 16, right shRec2, plus the
// non-recursive correlation shifted by shNon; count sumNls).  Shift counts
// modulo 64.  Returns the last lag's 32-bit value before its rounding.  The
// vector form reads blockCorr and nonrCorr up to three entries past lags.
struct LagScaling {
  int64_t fac;
  int shRec, shNew, shRec2, shNon, recNls, sumNls;
};
int64_t hybridLags_scalar(const LagScaling& s, const int64_t* blockCorr, const int64_t* nonrCorr, int lags,
                          int16_t* rexp, int16_t* r);
int64_t hybridLags_avx2(const LagScaling& s, const int64_t* blockCorr, const int64_t* nonrCorr, int lags,
                        int16_t* rexp, int16_t* r);
// The same for correlations that fit 32 bits, eight lags at a time in 32-bit lanes (the scalar form on the wide
// values where the vector form is not there).  It reads both correlations,
// rexp and r up to seven entries past lags and writes r there; rexp's
// words there are written back as they were.
int64_t hybridLagsNarrow_avx2(const LagScaling& s, const int32_t* blockCorr, const int32_t* nonrCorr, int lags,
                              int16_t* rexp, int16_t* r);

// The 10-zero, 10-pole filter (coef: zeros then poles, Q14) over n inputs
// in time order at stride `step` of x, outputs likewise into y:
// y = sat16((x 2^14 + sum zeros past inputs - sum poles past outputs) >> 14);
// xm, ym: the ten past inputs and outputs in time order (oldest first),
// updated.
void poleZeroRun_scalar(const int16_t* coef, int16_t* xm, int16_t* ym, const int16_t* x, int16_t* y, int n, int step);
void poleZeroRun_avx2(const int16_t* coef, int16_t* xm, int16_t* ym, const int16_t* x, int16_t* y, int n, int step);

// Windowed samples of the hybrid windows brought to a common exponent:
// w[j] = upper half of hist[j] win[j] 2^-shift[j] (shift -15..30), rounded
// half up unless it is 32767, truncated to 16 bits; 0 for a shift of 31.
void windowBlocks_scalar(const int16_t* hist, const int16_t* win, const int8_t* shift, int n, int16_t* w);
void windowBlocks_avx2(const int16_t* hist, const int16_t* win, const int8_t* shift, int n, int16_t* w);

// Zero-input response of the 50th-order synthesis filter (a, Q14) over 10
// past blocks of 5 (mem, newest first) in block floating point (memExp):
// 5 samples newest first, normalised to 15 bits, and their exponent.
void synthesisRinging_scalar(const int16_t* a, const int16_t* mem, const int16_t* memExp, int16_t* out, int16_t* outExp);
void synthesisRinging_avx2(const int16_t* a, const int16_t* mem, const int16_t* memExp, int16_t* out, int16_t* outExp);

// Energies of the 128 shapes filtered by the 5-sample impulse response
// h (newest first): sat16(sum over the 5 outputs of sat16(d >> 14)^2 >> 15).
void shapeEnergies_scalar(const int16_t* h, int16_t* energy);
void shapeEnergies_avx2(const int16_t* h, int16_t* energy);

// Shape and gain index (sign in bit 2) that minimise the distortion of the
// backward-filtered target p against the shape energies; first of equals.
void shapeSearch_scalar(const int16_t* p, const int16_t* energy, int& shape, int& gain);
void shapeSearch_avx2(const int16_t* p, const int16_t* energy, int& shape, int& gain);

// The ten-tap sums of a 10-zero, 10-pole filter for five outputs over
// histories extended by the new vector (newest first):
// sums[k] = sum c[j] x[k + 1 + j] - d[j] y[k + 1 + j], j < 10, k < 5, exact
// (d null: the zero section alone).
// The vector form reads x and y at words 0..23, straight from the caller's
// buffers (the words past k + 10 meet zero coefficients).
void tapSums_scalar(const int16_t* c, const int16_t* x, const int16_t* d, const int16_t* y, int64_t* sums);
void tapSums_avx2(const int16_t* c, const int16_t* x, const int16_t* d, const int16_t* y, int64_t* sums);

// Correlations of the 100 newest samples of f with the 100 from lag on,
// lags lo..lo+7: c[l] = sum f[i] f[i + lo + l], i < 100, exact.  Reads
// f[0..lo+106].
void pitchCorrelations_scalar(const int16_t* f, int lo, int64_t* c);
void pitchCorrelations_avx2(const int16_t* f, int lo, int64_t* c);

// The lag in 5..35 of the largest correlation of the 60 decimated samples
// d (newest first, four zeros after them), sum d[i] d[i + lag], i < 25
// (the first of equal ones), when the vector form can form the sums in 32
// bits; 0 otherwise, and always from the scalar form (the caller then
// forms them the wide way).  Reads d[0..63].
int decimatedPeakLag_scalar(const int16_t* d);
int decimatedPeakLag_avx2(const int16_t* d);

}  // namespace voksc::g728

#endif
