// AMR-WB encoder kernels that no voksc export covers: the 16 -> 12.8 kHz
// decimation, the order-16 LP analysis (windowed autocorrelation, lag
// window, Levinson-Durbin recursion), ISP interpolation, the weighting and
// small filters of the analysis-by-synthesis loop, and the fixed-point
// helpers they share.  Every routine keeps the codec's order of saturating
// operations, so its results equal the reference coder's bit for bit.
#ifndef VOKCODEC_AMRWB_ENC_DSP_H
#define VOKCODEC_AMRWB_ENC_DSP_H

#include <cstdint>

#include "voksc.h"

namespace vokc::amrwb::enc {

constexpr int kOrder = 16;
constexpr int kSub = 64;          // subframe at 12.8 kHz
constexpr int kSub16k = 80;       // the same 5 ms at 16 kHz
constexpr int kDecimTaps = 15;    // half length of the decimation filter
constexpr int kBandTaps = 31;     // 6-7 kHz band-pass

// 16 kHz -> 12.8 kHz: `in` holds 2*15 samples of history then `inLen` new
// ones; writes inLen*4/5 outputs (rounded as the codec does).
void decimate(const int16_t* in, int inLen, int16_t* out);

// Autocorrelations r[0..16] of the windowed 384 samples as (hi, lo) pairs,
// r[0] normalised; then the lag window applied to r[1..16].
void autocorrelation(const int16_t* x, int16_t* rHi, int16_t* rLo);

// Levinson-Durbin recursion to Q12 LP coefficients a[0..16].  When a
// reflection coefficient exceeds 32750 in magnitude the last stable filter
// (lastA, 16 values) is returned instead; a stable result is stored there.
void levinson(const int16_t* rHi, const int16_t* rLo, int16_t* a, int16_t* lastA);

// a[i] * gamma^i with the powers formed by repeated rounding.
void weightLp(const int16_t* a, int16_t gamma, int16_t* ap);

// Four subframe filters (17 values each) from ISPs interpolated between the
// previous and the new frame with the fixed subframe weights.
VokResult interpolateIsp(const int16_t* ispOld, const int16_t* ispNew, int16_t* a4);

// y = x / A(z) (Q12 coefficients, input halved by a[0]'s scale), 16 past
// outputs in mem (oldest first), updated when `update`.  y may equal x.
void synthesize(const int16_t* a, const int16_t* x, int16_t* y, int len, int16_t* mem, bool update);

// y[n] = round(sum x[i] h[n-i]) over the subframe.
void convolve(const int16_t* x, const int16_t* h, int16_t* y);

// Impulse response (kSub samples) of A(z/gamma1) / Aq(z): the weighted
// coefficients ap through 1/Aq(z) from rest, each output the chain
// L_mult(x[n], 16384) then L_msu(aq[j], y[n - j]), j = 1..16, moved up 3
// bits and rounded.
void weightedImpulse(const int16_t* ap, const int16_t* aq, int16_t* h);

// x2 = x - gain * y (gain Q14), each term as the codec forms it.
void subtractScaled(const int16_t* x, int16_t* x2, const int16_t* y, int16_t gain, int len);

// x[n] = round(x[n] << exp) (exp may be negative).
void scaleSignal(int16_t* x, int len, int exp);

// First-order tilt filters of the loop: y = (x + mu y[-1]) / 2 and
// x - mu x[-1] (doubled when `doubled`), memory in *mem.
void deemphasizeHalf(int16_t* x, int16_t mu, int len, int16_t* mem);
void preemphasize(int16_t* x, int16_t mu, int len, int16_t* mem, bool doubled);

// Adds sharp * x[n - lag] for n >= lag.
void sharpen(int16_t* x, int lag, int16_t sharp);

// Half-band low-pass and 2:1 decimation of 256 samples in place (3 words of
// memory).
void decimateByTwo(int16_t* x, int16_t* mem);

// The 31-tap 6-7 kHz band-pass over `len` 16 kHz samples in place, 30 words
// of memory.
void bandPass6k7k(int16_t* x, int len, int16_t* mem);

// Normalised dot product 1 + 2 sum x y: mantissa (Q31) and exponent 0..30.
int32_t dotProduct12(const int16_t* x, const int16_t* y, int len, int16_t* exp);

// 1/sqrt(frac * 2^exp) in place (frac normalised); non-positive gives 1.
void invSqrt(int32_t* frac, int16_t* exp);

// 2^(exponent + fraction/32768), fraction Q15.
int32_t pow2(int16_t exponent, int16_t fraction);

// (hi, lo) * n in double precision: hi n + (lo n >> 15), doubled.
int32_t mulPair16(int16_t hi, int16_t lo, int16_t n);

// The codec's 16-bit noise generator.
int16_t noise(int16_t* seed);

// Voicing of the subframe from the energies of the two contributions:
// Q15, 1 voiced .. -1 unvoiced.
int16_t voicing(const int16_t* exc, int16_t excExp, int16_t gainPit, const int16_t* code, int16_t gainCode);

}  // namespace vokc::amrwb::enc

#endif  // VOKCODEC_AMRWB_ENC_DSP_H
