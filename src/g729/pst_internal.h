// Kernels of the G.729 long-term post-filters: the correlations of the
// delay searches and the interpolation filters of the fractional delays.
//
// Both take bounded operands: the caller shows (from the magnitudes of its
// signals) that no partial sum of the reference's L_mac chain can leave 32
// bits, so the chain equals the exact sum and no saturation is needed.  The
// scalar and AVX2 forms give identical results.
#ifndef VOKSC_G729_PST_INTERNAL_H
#define VOKSC_G729_PST_INTERNAL_H

#include <cstdint>

namespace voksc::g729 {

// Exact sum of a[i] b[i], i = 0..n-1 (not doubled).  Requires
// n * max|a| * max|b| < 2^31.
int32_t pstDot_scalar(const int16_t* a, const int16_t* b, int n);
int32_t pstDot_avx2(const int16_t* a, const int16_t* b, int n);

// y[n] = round(2 sum h[i] x[n-i]), i = 0..taps-1 (taps even), n = 0..count-1:
// the L_mac chain of an interpolation filter, rounded to 16 bits.  Reads
// x[1-taps .. count-1].  Requires taps * max|h| * max|x| < 2^30.
void pstInterp_scalar(const int16_t* h, int taps, const int16_t* x, int16_t* y, int count);
void pstInterp_avx2(const int16_t* h, int taps, const int16_t* x, int16_t* y, int count);

// The Annex A long-term post-filter's delay search on the residual r (the
// subframe, with at least t0Min + 6 samples of history) at a quarter,
// q(x) = x >> 2: the delays t0Min .. t0Min + 6 are tried in order, lag is
// the first with the largest correlation corr = sum q(r[i]) q(r[i - lag]),
// energy = sum q(r[i - lag])^2 and energy0 = sum q(r[i])^2 (i < 40, not
// doubled).  Returns false, writing nothing, when the largest quarter m
// read makes 80 m^2 reach 2^31 - 1 (then the doubled chains may saturate).
struct PstSearchA {
  int32_t corr, energy, energy0, lag;
};
bool pstSearchA_scalar(const int16_t* r, int t0Min, PstSearchA* out);
bool pstSearchA_avx2(const int16_t* r, int t0Min, PstSearchA* out);

// The Annex A gain control's smoothed gains and their products: g(0) =
// start, g(n+1) = ((g(n) 29491) >> 15) + g0 (0.9 in Q15), and sig[n] =
// sat16((sig[n] g(n+1)) >> 12) for n = 0..39; returns g(40).  Requires
// 0 <= g0 < 3277 (the sums then stay in 16 bits without saturation).
// agcGains_scalar forms the gains alone.
int16_t agcGains_scalar(int16_t start, int16_t g0, int16_t* gains);
int16_t agcApply_scalar(int16_t start, int16_t g0, int16_t* sig);
int16_t agcApply_avx2(int16_t start, int16_t g0, int16_t* sig);

// The G.729 long-term post-filter of one subframe with either kernel set:
// res points at the subframe after 152 samples of history (not shifted),
// factor the harmonic factor (Q15, 16384 for G.729).
void longTermPostFilter_scalar(int16_t factor, int t0, const int16_t* res, int16_t* out, int16_t* voicing);
void longTermPostFilter_avx2(int16_t factor, int t0, const int16_t* res, int16_t* out, int16_t* voicing);

}  // namespace voksc::g729

#endif  // VOKSC_G729_PST_INTERNAL_H
