// Fixed-point helpers of the G.723.1 coder glue (steps without an export).
#ifndef VOKCODEC_G723_OPS_H
#define VOKCODEC_G723_OPS_H

#include <cstdint>

#include "basic_op.h"
// The constant tables this coder shares with the library's operations, from
// the library's generated table source (one copy of the data).
#include "src/g723/g723_tables.h"

namespace vokc::g723 {

using voksc::g723::kLspMean;          // long-term mean of the LSP vector
using voksc::g723::kPositionCode;     // combinatorial pulse-position code
using voksc::g723::kPulseAmplitude;   // fixed-codebook amplitude levels
// Pitch gain (x 8192) of each pitch gain entry, for error taming.
using voksc::g723::kPitchGainBound85;
using voksc::g723::kPitchGainBound170;

using voksc::op::Word16;
using voksc::op::Word32;
namespace op = voksc::op;

// Largest r (bits 2^14 .. 2^1) with 2 r^2 <= num.
inline Word16 rootByTrials(Word32 num) {
  Word16 r = 0;
  for (Word16 bit = 0x4000; bit >= 2; bit = static_cast<Word16>(bit >> 1)) {
    const Word16 t = op::add(r, bit);
    if (num >= op::L_mult(t, t)) r = t;
  }
  return r;
}

// In-place block scaling by 2^(n - 3), n the headroom of the block peak;
// returns n - 3.
inline int scaleBlock(Word16* x, int len) {
  Word16 peak = 0;
  for (int i = 0; i < len; ++i) {
    const Word16 a = op::abs_s(x[i]);
    if (a > peak) peak = a;
  }
  const int n = op::norm_s(peak);
  const Word16 f = static_cast<Word16>(1 << n);
  for (int i = 0; i < len; ++i) x[i] = op::extract_l(op::L_shr(op::L_mult(f, x[i]), 4));
  return n - 3;
}

// The codec's 16-bit linear congruential generator.
inline Word16 nextRandom(Word16& seed) {
  seed = op::extract_l((Word32{seed} & 0xFFFF) * 521 + 259);
  return seed;
}

inline Word32 dot(const Word16* a, const Word16* b, int n) {
  Word32 acc = 0;
  for (int i = 0; i < n; ++i) acc = op::L_mac(acc, a[i], b[i]);
  return acc;
}

// Annex A SID gain: quantiser of the averaged energies (nq frames, 0 for a
// single value given with its scale) and the decoded level.
Word16 quantiseSidGain(const Word16* energy, const Word16* shift, int nq);
Word16 decodeSidGain(Word16 index);

}  // namespace vokc::g723

#endif
