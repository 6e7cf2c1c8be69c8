// G.729 algebraic codebooks: the correlation matrices of the impulse
// response and the pulse searches shared by the exports, the benchmarks and
// the tests.
//
// Every kernel with a vector form comes as a pair *_scalar / *_avx2 with
// identical results for every input; the exports pick the AVX2 form unless
// the library is built scalar.
#ifndef VOKSC_G729_FCB_INTERNAL_H
#define VOKSC_G729_FCB_INTERNAL_H

#include <cstdint>

namespace voksc::g729::fcb {

constexpr int kSubfr = 40;   // subframe length
constexpr int kPos = 8;      // positions per track
constexpr int kTracks = 5;
constexpr int kMatrix = 616;  // five diagonals of 8, nine cross blocks of 64

// Offsets in the 616-value layout: the five diagonals, then the cross
// blocks (0,1) (0,2) (0,3) (0,4) (1,2) (1,3) (1,4) (2,3) (2,4).
enum Block : int {
  kD0 = 0, kD1 = 8, kD2 = 16, kD3 = 24, kD4 = 32,
  k01 = 40, k02 = 104, k03 = 168, k04 = 232, k12 = 296, k13 = 360, k14 = 424, k23 = 488, k24 = 552
};
// The 6.4 kbit/s search keeps the (1,1) cross block where (0,2) sits and
// the (3,4) block where (0,4) sits.
constexpr int k11D = k02;
constexpr int k34D = k04;

// Running correlations along the diagonals of an impulse response, as
// chains of saturating L_mac steps:
//   chain[m][d] = init(d) + 2 * sum h[n] h[n + d], n = 0..m, for m + d <= 39,
// each step saturated to 32 bits as the reference arithmetic does (init(0)
// = initDiag, init(d > 0) = initCross).  Entries with m + d > 39 are
// unspecified.  The vector form sums exactly when the energy of h bounds
// every chain inside 32 bits and falls back to the step-by-step chain
// otherwise.
struct Chains {
  alignas(32) int32_t v[kSubfr * kSubfr];  // [m * 40 + d]; read only where m + d <= 39 (the AVX2 form forms no more)
};
void diagonalChains_scalar(const int16_t* h, int32_t initDiag, int32_t initCross, Chains& c);
void diagonalChains_avx2(const int16_t* h, int32_t initDiag, int32_t initCross, Chains& c);

// Impulse response scaled for the matrix: right shift by 1 when the
// doubled energy's upper word exceeds 32000, else a left shift by half its
// normalisation.
void scaleResponse(const int16_t* h, int16_t* hs);

// Matrix in the G.729 layout (d6 = false) or in the 6.4 kbit/s layout
// (d6 = true), 32-bit: each value is the chain >> 1, the exact running sum
// when no chain saturates.
void matrix32(const int16_t* h, bool d6, int32_t* rr, bool avx2);
// The same matrix in 16 bits: the upper words of the chains.
void matrix16(const int16_t* h, bool d6, int16_t* rr, bool avx2);

// G.729 focused search (four pulses, search budget).  dn holds the
// backward-filtered target and is replaced by its magnitudes; the cross
// blocks of rr get the pulse signs folded in.  budget: in subframe 1 the
// count the caller carries over; written back.
struct PulseResult {
  int16_t index;  // positions
  int16_t signs;
};
PulseResult searchG729_scalar(int16_t* dn, int16_t* rr, int16_t* code, int16_t* budget, bool firstSubframe);
PulseResult searchG729_avx2(int16_t* dn, int16_t* rr, int16_t* code, int16_t* budget, bool firstSubframe);

// G.729 Annex A depth-first search over the same codebook.
PulseResult searchG729A_scalar(int16_t* dn, int16_t* rr, int16_t* code);
PulseResult searchG729A_avx2(int16_t* dn, int16_t* rr, int16_t* code);

// G.729 Annex D two-pulse search on a 6.4 kbit/s layout matrix; writes the
// code vector and its filtered version (h is the unscaled response).
PulseResult searchG729D_scalar(int16_t* dn, int16_t* rr, const int16_t* h, int16_t* code, int16_t* y);
PulseResult searchG729D_avx2(int16_t* dn, int16_t* rr, const int16_t* h, int16_t* code, int16_t* y);

// G.729 Annex E searches: backward = true for the 12-pulse (44-bit)
// codebook, false for the 10-pulse (35-bit) one.  index: 5 words.
void searchG729E_scalar(bool backward, const int16_t* x, const int16_t* cn, const int16_t* h, int16_t* code,
                        int16_t* y, int16_t* index);
void searchG729E_avx2(bool backward, const int16_t* x, const int16_t* cn, const int16_t* h, int16_t* code,
                      int16_t* y, int16_t* index);

// Float forms (single precision, the float reference's order of sums).
void matrixFloat(const float* h, bool d6, float* rr);
int searchG729Float(float* dn, float* rr, float* code, int* signs, int* budget, bool firstSubframe);
int searchG729AFloat(float* dn, float* rr, float* code, int* signs);
int searchG729DFloat(float* dn, float* rr, const float* h, float* code, float* y, int* signs);
void searchG729EFloat(bool backward, const float* x, const float* cn, const float* h, float* code, float* y,
                      int* index);

}  // namespace voksc::g729::fcb

#endif  // VOKSC_G729_FCB_INTERNAL_H
