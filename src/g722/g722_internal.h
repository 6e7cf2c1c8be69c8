// G.722 band coder state and the per-sample steps shared by the exports.
#ifndef VOKSC_G722_G722_INTERNAL_H
#define VOKSC_G722_G722_INTERNAL_H

#include <cstdint>

namespace voksc::g722 {

// One sub-band ADPCM coder: two-pole, six-zero predictor and log scale factor.
struct Band {
  int16_t a[3];  // pole coefficients a[1], a[2]
  int16_t b[7];  // zero coefficients b[1..6]
  int16_t d[7];  // quantised differences, d[0] newest
  int16_t p[3];  // partial reconstructions (difference + zero estimate)
  int16_t r[3];  // reconstructed signal
  int16_t det;   // linear scale factor
  int16_t nb;    // logarithmic scale factor
  int16_t s;     // signal estimate
  int16_t sp;    // pole-section estimate
  int16_t sz;    // zero-section estimate
};

struct SbState {
  Band low;
  Band high;
  int16_t reserved[8];
};
static_assert(sizeof(SbState) <= 128, "SB-ADPCM state");

// Bytes callers provide: the object plus the slack to its 16-byte boundary.
constexpr int kSbStateBytes = 144;

void resetBand(Band& b, int16_t det);
int16_t encodeLow(Band& b, int16_t xl);
int16_t encodeHigh(Band& b, int16_t xh);
int16_t decodeLow(Band& b, int16_t il, int mode);
int16_t decodeHigh(Band& b, int16_t ih);
void qmfAnalysis(int16_t first, int16_t second, int16_t* mem, int16_t& xl, int16_t& xh);
// The QMF's two branch sums of one pair as sum and difference, scalar and
// AVX2 forms (identical results).
void qmfBranchSumsScalar(const int16_t* w, int32_t& sum, int32_t& diff);
void qmfBranchSumsAvx2(const int16_t* w, int32_t& sum, int32_t& diff);
void qmfSynthesis(int16_t rl, int16_t rh, int16_t* mem, int16_t& out1, int16_t& out2);

}  // namespace voksc::g722

#endif  // VOKSC_G722_G722_INTERNAL_H
