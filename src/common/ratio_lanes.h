// Candidates of a codebook search in eight 32-bit lanes: squared
// correlation sq, energy alp and a key in search order.  The searches keep
// the first candidate of the largest ratio sq / alp by tournaments of such
// vectors, without a branch on the data.
#ifndef VOKSC_COMMON_RATIO_LANES_H
#define VOKSC_COMMON_RATIO_LANES_H

#include "core/cpu.h"

#if defined(VOKSC_X86)
#include <immintrin.h>

namespace voksc::lanes {

struct RatioLanes {
  __m256i sq, alp, key;
};

// Per lane, `later` where its ratio is strictly larger, else `first`; with
// byKey also `later` on an equal ratio with a smaller key.  The ratios are
// compared cross-multiplied, which is their order when both energies are
// positive and the products sq alp stay below 2^31 (the callers' bounds).
VOKSC_TARGET_AVX2 inline RatioLanes keepBetter(const RatioLanes& first, const RatioLanes& later, bool byKey) {
  const __m256i l = _mm256_mullo_epi32(later.sq, first.alp), f = _mm256_mullo_epi32(first.sq, later.alp);
  __m256i take = _mm256_cmpgt_epi32(l, f);
  if (byKey)
    take = _mm256_or_si256(take, _mm256_and_si256(_mm256_cmpeq_epi32(l, f), _mm256_cmpgt_epi32(first.key, later.key)));
  return RatioLanes{_mm256_blendv_epi8(first.sq, later.sq, take), _mm256_blendv_epi8(first.alp, later.alp, take),
                    _mm256_blendv_epi8(first.key, later.key, take)};
}

// The lanes with the two 128-bit halves exchanged.
VOKSC_TARGET_AVX2 inline RatioLanes halvesSwapped(const RatioLanes& w) {
  return RatioLanes{_mm256_permute2x128_si256(w.sq, w.sq, 0x01), _mm256_permute2x128_si256(w.alp, w.alp, 0x01),
                    _mm256_permute2x128_si256(w.key, w.key, 0x01)};
}

// The lanes moved within each half by the 32-bit shuffle kImm.
template <int kImm>
VOKSC_TARGET_AVX2 inline RatioLanes shuffled(const RatioLanes& w) {
  return RatioLanes{_mm256_shuffle_epi32(w.sq, kImm), _mm256_shuffle_epi32(w.alp, kImm),
                    _mm256_shuffle_epi32(w.key, kImm)};
}

}  // namespace voksc::lanes

#endif  // VOKSC_X86
#endif  // VOKSC_COMMON_RATIO_LANES_H
