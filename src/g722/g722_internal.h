// G.722 band coder state and the kernels shared by the exports and tests.
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

// Low-band 6-bit quantiser code of the prediction error el at scale det
// (the standard's interval search, done as a bisection).
int16_t lowQuantCode(int16_t el, int16_t det);
int16_t lowQuantCodeAvx2(int16_t el, int16_t det);  // all levels probed in vector lanes

// The band coders over len values (low, high pairs) from the state, in the
// portable form and the AVX2 form (both bands' zero sections in one
// register); identical results and states.  mode: the decoder's 1, 2 or 3.
void sbEncodeScalar(SbState& s, const int16_t* src, int16_t* dst, int len);
void sbEncodeAvx2(SbState& s, const int16_t* src, int16_t* dst, int len);
void sbDecodeScalar(int mode, SbState& s, const int16_t* src, int16_t* dst, int len);
void sbDecodeAvx2(int mode, SbState& s, const int16_t* src, int16_t* dst, int len);

// QMF kernels over a chronological window w: 22 history samples, oldest
// first, then 2 * pairs new values.  Analysis writes (low, high) band
// pairs; synthesis reads the window of (rl + rh, rl - rh) values and writes
// two output samples per pair.  Scalar and AVX2 forms give identical results.
void qmfAnalysisBlockScalar(const int16_t* w, int pairs, int16_t* out);
void qmfAnalysisBlockAvx2(const int16_t* w, int pairs, int16_t* out);
void qmfSynthesisBlockScalar(const int16_t* w, int pairs, int16_t* out);
void qmfSynthesisBlockAvx2(const int16_t* w, int pairs, int16_t* out);

}  // namespace voksc::g722

#endif  // VOKSC_G722_G722_INTERNAL_H
