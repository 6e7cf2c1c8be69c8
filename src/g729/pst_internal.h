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

// out[k] = sum a[i] b[k][i], i = 0..n-1 (not doubled), for eight signals
// b[0..7] against one a, in one pass.  Requires n * max|a| * max|b| < 2^31.
void pstDots8_scalar(const int16_t* a, const int16_t* const* b, int n, int32_t* out);
void pstDots8_avx2(const int16_t* a, const int16_t* const* b, int n, int32_t* out);

// y[n] = round(2 sum h[i] x[n-i]), i = 0..taps-1 (taps even), n = 0..count-1:
// the L_mac chain of an interpolation filter, rounded to 16 bits.  Reads
// x[1-taps .. count-1].  Requires taps * max|h| * max|x| < 2^30.
void pstInterp_scalar(const int16_t* h, int taps, const int16_t* x, int16_t* y, int count);
void pstInterp_avx2(const int16_t* h, int taps, const int16_t* x, int16_t* y, int count);

// The Annex A gain control's smoothed gains: g(0) = start, g(n+1) =
// ((g(n) 29491) >> 15) + g0 (0.9 in Q15), gains[n] = g(n+1) for
// n = 0..39; returns g(40).  Requires 0 <= g0 < 3277 (the sums then stay in
// 16 bits without saturation).
int16_t agcGains_scalar(int16_t start, int16_t g0, int16_t* gains);
int16_t agcGains_avx2(int16_t start, int16_t g0, int16_t* gains);

// The G.729 long-term post-filter of one subframe with either kernel set:
// res points at the subframe after 152 samples of history (not shifted),
// factor the harmonic factor (Q15, 16384 for G.729).
void longTermPostFilter_scalar(int16_t factor, int t0, const int16_t* res, int16_t* out, int16_t* voicing);
void longTermPostFilter_avx2(int16_t factor, int t0, const int16_t* res, int16_t* out, int16_t* voicing);

}  // namespace voksc::g729

#endif  // VOKSC_G729_PST_INTERNAL_H
