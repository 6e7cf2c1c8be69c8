// Shared arithmetic of the G.723.1 operations.
#ifndef VOKSC_G723_INTERNAL_H
#define VOKSC_G723_INTERNAL_H

#include "common/basic_op.h"
#include "voksc.h"

namespace voksc::g723 {

using op::Word16;
using op::Word32;
using op::Word64;

constexpr int kFrame = 240;
constexpr int kSubframe = 60;
constexpr int kBlock = 180;  // LP analysis window
constexpr int kOrder = 10;
constexpr int kMinLag = 18;
constexpr int kMaxLag = 145;  // longest pitch period (history length)

// Scores of `rows` adaptive-codebook gain vectors (rows of 20 in g) against
// 20 normalised correlation terms s: sum of s[j] g[j] with 32-bit saturation
// after every addition.  Both forms give the same bits; the AVX2 form runs
// where the processor has it (core/cpu.h).
void gainScores_scalar(const Word16* s, const int16_t* g, int rows, Word32* score);
void gainScores_avx2(const Word16* s, const int16_t* g, int rows, Word32* score);

// Bits of headroom of the block peak (norm_s of the largest magnitude).
inline int peakNorm(const Word16* x, int n) {
  Word16 peak = 0;
  for (int i = 0; i < n; ++i) {
    const Word16 a = op::abs_s(x[i]);
    if (a > peak) peak = a;
  }
  return op::norm_s(peak);
}

// Block scaling of the codec: every sample times 2^(norm - 3), truncated
// towards minus infinity, kept as 16 bits; returns norm - 3 (negative for
// loud blocks, which are shifted right).
inline int scaleBlock(const Word16* x, Word16* y, int n) {
  const int norm = peakNorm(x, n);
  const Word16 factor = norm == 15 ? op::kMax16 : static_cast<Word16>(1 << norm);
  for (int i = 0; i < n; ++i) y[i] = op::extract_l(op::L_shr(op::L_mult(factor, x[i]), 4));
  return norm - 3;
}

// Pole-zero weighting step shared by the formant filters: acc enters with
// the scaled input, loses the zero-part products of the past inputs and
// gains the pole-part products of the past outputs.  Memories newest first.
inline Word32 poleZeroStep(Word32 acc, const Word16* zeros, const Word16* poles, Word16* pastIn, Word16* pastOut,
                           Word16 newIn) {
  for (int j = 0; j < kOrder; ++j) acc = op::L_msu(acc, zeros[j], pastIn[j]);
  for (int j = kOrder - 1; j > 0; --j) pastIn[j] = pastIn[j - 1];
  pastIn[0] = newIn;
  for (int j = 0; j < kOrder; ++j) acc = op::L_mac(acc, poles[j], pastOut[j]);
  for (int j = kOrder - 1; j > 0; --j) pastOut[j] = pastOut[j - 1];
  return op::L_shl(acc, 2);
}

}  // namespace voksc::g723

#endif  // VOKSC_G723_INTERNAL_H
