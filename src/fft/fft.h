// Real-input FFT of power-of-two length N = 2^order, shared by the echo
// canceller's filter bank and the noise filters (no export of its own).
//
// The transform of N real samples is computed as an N/2-point complex FFT
// of z[k] = x[2k] + j x[2k+1] (radix-4 decimation in frequency, one radix-2
// pass first when log2(N/2) is odd, output in bit-reversed order) followed
// by the split step X[k] = E[k] + W^k O[k] with E and O the conjugate-even
// and -odd parts of Z.  The inverse runs the mirror steps and the same
// complex network on the swapped (imaginary, real) arrays, which is the
// inverse DFT without its 1/M.  The complex data live in two separate
// arrays (real parts, imaginary parts) so that every pass with a span of 8
// or more vectorises across butterflies; the AVX2 form performs exactly
// the operations of the scalar form in the same order (no fused
// multiply-add), so both give the same bits.
//
// Spectrum layout (both directions): N+2 values re(0), 0, re(1), im(1), ...,
// re(N/2), 0; the two zero imaginary parts are written as 0 and ignored on
// input.  Scaling flags: kScaleFwd (forward times 1/N), kScaleInv (inverse
// times 1/N), kScaleSqrt (both times 1/sqrt(N)), kNoScale.
#ifndef VOKSC_FFT_FFT_H
#define VOKSC_FFT_FFT_H

#include <cstdint>

#include "core/cpu.h"
#include "voksc.h"

namespace voksc::fft {

enum ScaleFlag : int { kScaleFwd = 1, kScaleInv = 2, kScaleSqrt = 4, kNoScale = 8 };
constexpr int32_t kSpec32fId = 6;
constexpr int32_t kSpec16sId = 0x434D414F;
constexpr int kMaxOrder = 29;

// Set-up of the float transform, at the first 64-byte boundary of the
// caller's object memory; the tables follow it in the same memory.
struct RealFftSpec_32f {
  int32_t id;          // kSpec32fId once set up
  int32_t order;
  int32_t scaleFwd;    // 0 or 1
  int32_t scaleInv;    // 0 or 1
  float factor;        // 1/N or 1/sqrt(N)
  int32_t hint;        // stored, unused
  int32_t workBytes;   // work buffer a transform needs (0: none)
  int32_t radix2First; // log2(N/2) odd: one radix-2 pass before the radix-4 passes
  const float* passTwiddles;  // per pass: W^k (radix 2) or W^k, W^2k, W^3k (radix 4), re then im
  const float* splitTwiddles; // cos, then -sin, of 2 pi k / N, k = 0..N/2-1
  const int32_t* bitReverse;  // N/2 entries
};

// Set-up of the 16-bit wrapper: the float set-up follows it.
struct RealFftSpec_16s {
  int32_t id;  // kSpec16sId once set up
  int32_t order;
  int32_t hint;
  int32_t workBytes;
  int32_t allocated;  // always 0: the object lives in caller memory
  RealFftSpec_32f* inner32f;
};

VokResult realFftGetSize_32f(int order, int flag, int hint, int* objectBytes, int* setupBytes, int* workBytes);
VokResult realFftInit_32f(RealFftSpec_32f** plan, int order, int flag, int hint, void* mem, void* setupBuffer);
VokResult realFftFwd_32f(const float* src, float* dst, const RealFftSpec_32f* plan, void* work);
VokResult realFftInv_32f(const float* src, float* dst, const RealFftSpec_32f* plan, void* work);

VokResult realFftGetSize_16s(int order, int flag, int hint, int* objectBytes, int* setupBytes, int* workBytes);
VokResult realFftInit_16s(RealFftSpec_16s** plan, int order, int flag, int hint, void* mem, void* setupBuffer);
// Spectrum times 2^-s, rounded to nearest (ties to even), saturated to 32 bits.
VokResult realFftFwd_16s32sc_Sfs(const int16_t* src, Vok32sc* dst, const RealFftSpec_16s* plan, int s, void* work);
// Samples times 2^-s, rounded to nearest (ties to even), saturated to 16 bits.
VokResult realFftInv_32sc16s_Sfs(const Vok32sc* src, int16_t* dst, const RealFftSpec_16s* plan, int s, void* work);

// dst[i] = 1 / x (threshold 0: status 4 when an input is zero) or
// 1 / (sign(x) max(|x|, t)) (threshold t > 0).  From 2048 elements, when
// the core reports several workers, the elements are handled in the two
// shares of a two-worker split (on the calling thread) and a zero input
// reports status 6.
VokResult invThresh_64f(const double* src, double* dst, int len, double threshold);

// The kernel forms, for the equality tests and the benchmark.
struct Kernels {
  void (*radix2)(float* re, float* im, int m, int h, const float* wr, const float* wi);
  void (*radix4)(float* re, float* im, int m, int q, const float* tw);
  void (*splitFwd)(const float* zr, const float* zi, const int32_t* rev, const float* wr, const float* wi, int m,
                   float* dst);
  void (*splitInv)(const float* src, const float* wr, const float* wi, int m, float* zr, float* zi);
  void (*unpackInv)(const float* zr, const float* zi, const int32_t* rev, int m, float* dst, int scale, float f);
  void (*scale)(float* x, int n, float f);
};
const Kernels& kernelsFor(cpu::Level level);
// The transforms with a chosen kernel form (the checks of the public forms
// are not repeated).
void forward(const RealFftSpec_32f& plan, const float* src, float* dst, float* work, const Kernels& k);
void inverse(const RealFftSpec_32f& plan, const float* src, float* dst, float* work, const Kernels& k);

}  // namespace voksc::fft

#endif  // VOKSC_FFT_FFT_H
