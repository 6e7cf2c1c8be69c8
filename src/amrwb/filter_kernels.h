// AMR-WB filter kernels with a portable and an AVX2 form (core/cpu.h picks
// one per process; both give the codec's saturating chains bit for bit).
// Where the taps' magnitudes bound every partial sum inside 32 bits the
// chains are plain integer sums, which the AVX2 forms form in vector lanes;
// elsewhere they fall back to the chains.
#ifndef VOKSC_AMRWB_FILTER_KERNELS_H
#define VOKSC_AMRWB_FILTER_KERNELS_H

#include <cstdint>

namespace voksc::amrwb {

// acc[n] = the chain L_mult(x[n], a[0]) then L_mac(a[i], x[n - i]),
// i = 1..order, n = 0..len-1 (x holds order samples before x[0]).
void residualChains_scalar(const int16_t* a, int order, const int16_t* x, int32_t* acc, int len);
void residualChains_avx2(const int16_t* a, int order, const int16_t* x, int32_t* acc, int len);
void residualChains(const int16_t* a, int order, const int16_t* x, int32_t* acc, int len);

// The 32-bit synthesis filter of voksSynthesisFilter_AMRWB_16s32s_I on
// y[0..len-1] (y holds order past outputs before y[0]).
void synthesis32_scalar(const int16_t* a, int order, const int16_t* x, int32_t* y, int len);
void synthesis32_avx2(const int16_t* a, int order, const int16_t* x, int32_t* y, int len);
void synthesis32(const int16_t* a, int order, const int16_t* x, int32_t* y, int len);

// The adaptive vector exc[0..n-1]: exc[j] = round(2 * chain of the 32
// products exc[j - back + t] taps[t]), in order of j (short delays read
// outputs just written).
void interpolate32_scalar(int16_t* exc, int back, const int16_t* taps, int n);
void interpolate32_avx2(int16_t* exc, int back, const int16_t* taps, int n);
void interpolate32(int16_t* exc, int back, const int16_t* taps, int n);

// One row of the algebraic codebook's pair search, i = 0..15:
// sq[i] = mult(ps2, ps2) with ps2 = add(ps1, dy[i]), and the energy
// alp2[i] = (alp1 + 8192 corY[i] + 16384 cross[i]) >> 16, which equals its
// saturating chain when |alp1| <= 2^31 - 1 - 3 * 2^28 (the caller's check).
// Answers whether some i beats the best pair so far, bestAlp sq[i] >
// bestSq alp2[i] (bestSq >= -1).
bool pairRow_scalar(int16_t ps1, int32_t alp1, const int16_t* dy, const int16_t* corY, const int16_t* cross,
                    int16_t bestSq, int16_t bestAlp, int16_t* sq, int16_t* alp2);
bool pairRow_avx2(int16_t ps1, int32_t alp1, const int16_t* dy, const int16_t* corY, const int16_t* cross,
                  int16_t bestSq, int16_t bestAlp, int16_t* sq, int16_t* alp2);
bool pairRow(int16_t ps1, int32_t alp1, const int16_t* dy, const int16_t* corY, const int16_t* cross, int16_t bestSq,
             int16_t bestAlp, int16_t* sq, int16_t* alp2);
// The form pairRow runs, for callers that make many calls.
using PairRowForm = bool (*)(int16_t, int32_t, const int16_t*, const int16_t*, const int16_t*, int16_t, int16_t,
                             int16_t*, int16_t*);
PairRowForm pairRowForm();

// One lag step of the closed-loop pitch search's filtered excitation,
// n = 0..63: g[n] = add(min((older h[n]) >> 15, 32767), f[n - 1]) with
// f[-1] = 0 (the first term is mult(older, h[0])); with the exact sums
// energy = sum g[n]^2 and cross = sum x[n] g[n] of the new vector.
void filteredStep_scalar(int16_t older, const int16_t* h, const int16_t* f, const int16_t* x, int16_t* g,
                         int64_t* energy, int64_t* cross);
void filteredStep_avx2(int16_t older, const int16_t* h, const int16_t* f, const int16_t* x, int16_t* g,
                       int64_t* energy, int64_t* cross);
void filteredStep(int16_t older, const int16_t* h, const int16_t* f, const int16_t* x, int16_t* g, int64_t* energy,
                  int64_t* cross);

// Signed cross terms of the algebraic search between the positions
// p = tr + 4i and q = next + 4k (tr != next), i, k = 0..15, from the
// truncated correlations tail[63 - max(p, q)][|p - q|] (a 64 x 64 table):
// rows[16 i + k] = min((tail * flip) >> 15, 32767) with flip = 32767 when
// the preset signs sign[p] and sign[q] agree, -32768 when they differ.
void crossRows_scalar(const int16_t* tail, const int16_t* sign, int tr, int next, int16_t* rows);
void crossRows_avx2(const int16_t* tail, const int16_t* sign, int tr, int next, int16_t* rows);
void crossRows(const int16_t* tail, const int16_t* sign, int tr, int next, int16_t* rows);

// Truncated correlations of a 64-sample response h with itself at every
// pair of positions, modulo 2^32: rows[72 x + p] = sum over n >= max(p, x)
// of h[n - p] h[n - x], x, p = 0..63 (entries 64..71 of each row are
// zero).  Built from the last row up, R(x, p) = R(x + 1, p + 1) +
// h[63 - x] h[63 - p], so the wrapped sums are exact modulo 2^32.
constexpr int kPulseRowStride = 72;
void pulseRows_scalar(const int16_t* h, uint32_t* rows);
void pulseRows_avx2(const int16_t* h, uint32_t* rows);
void pulseRows(const int16_t* h, uint32_t* rows);

// The truncated autocorrelation chains of the algebraic search when they
// cannot saturate (start + 2 sum h^2 below 2^31, the caller's check):
// c[diff] runs from startSame (diff 0) or startCross and adds
// 2 h[u] h[u + diff] for u = 0, 1, ...; tail[64 u + diff] = c[diff] >> 16
// after step u, for diff < 64 - u (the rest of each row is left as is or
// overwritten).
void pairTails_scalar(const int16_t* h, int32_t startSame, int32_t startCross, int16_t* tail);
void pairTails_avx2(const int16_t* h, int32_t startSame, int32_t startCross, int16_t* tail);
void pairTails(const int16_t* h, int32_t startSame, int32_t startCross, int16_t* tail);

// The algebraic search's correlations on one track from tracked sums
// s (|s| < 2^30, the caller's bound), i = 0..15, p = track + 4i:
// out[i] = add(mult(clamp((s[p] + 2^13) >> 14), sign[p]), self[i]).
void trackCorrelations_scalar(const uint32_t* s, const int16_t* sign, const int16_t* self, int track, int16_t* out);
void trackCorrelations_avx2(const uint32_t* s, const int16_t* sign, const int16_t* self, int track, int16_t* out);
void trackCorrelations(const uint32_t* s, const int16_t* sign, const int16_t* self, int track, int16_t* out);

}  // namespace voksc::amrwb

#endif  // VOKSC_AMRWB_FILTER_KERNELS_H
