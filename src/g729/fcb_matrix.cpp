// G.729 codebook correlation matrices: the running correlations of the
// impulse response along the diagonals of the 40 x 40 Toeplitz matrix,
// gathered into the 616-value track layout of the four-pulse codebooks and
// of the 6.4 kbit/s two-pulse codebook.
#include "core/cpu.h"
#if defined(VOKSC_X86)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstdlib>

#include "common/basic_op.h"
#include "common/kernels.h"
#include "core/cpu.h"
#include "core/status.h"
#include "fcb_internal.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g729::fcb {

namespace {

// Index into Chains::v of every matrix slot.
struct LayoutIndex {
  int32_t at[kMatrix + 8];  // padded to whole vectors
};

constexpr int chainIndex(int i, int j) {
  const int d = i > j ? i - j : j - i;
  const int m = kSubfr - 1 - (i > j ? i : j);
  return m * kSubfr + d;
}

constexpr LayoutIndex makeLayout(bool d6) {
  LayoutIndex l{};
  for (int t = 0; t < kTracks; ++t)
    for (int p = 0; p < kPos; ++p) l.at[t * kPos + p] = chainIndex(5 * p + t, 5 * p + t);
  struct Pair {
    int slot, ta, tb;
  };
  const Pair blocks[9] = {{k01, 0, 1}, {k02, d6 ? 1 : 0, d6 ? 1 : 2}, {k03, 0, 3}, {k04, d6 ? 3 : 0, 4},
                          {k12, 1, 2}, {k13, 1, 3},                    {k14, 1, 4}, {k23, 2, 3},
                          {k24, 2, 4}};
  for (const Pair& b : blocks)
    for (int a = 0; a < kPos; ++a)
      for (int c = 0; c < kPos; ++c) l.at[b.slot + a * kPos + c] = chainIndex(5 * a + b.ta, 5 * c + b.tb);
  for (int k = kMatrix; k < kMatrix + 8; ++k) l.at[k] = 0;
  return l;
}

constexpr LayoutIndex kLayoutG729 = makeLayout(false);
constexpr LayoutIndex kLayoutD6 = makeLayout(true);

// |init| + 2 * energy within 32 bits: no chain step can saturate (every
// partial correlation is bounded by the energy).
bool chainsFit(const int16_t* h, int32_t initDiag, int32_t initCross) {
  int64_t e = 0;
  for (int i = 0; i < kSubfr; ++i) e += int32_t{h[i]} * h[i];
  const int64_t init = std::max(std::llabs(int64_t{initDiag}), std::llabs(int64_t{initCross}));
  return init + 2 * e <= kMax32;
}

}  // namespace

void diagonalChains_scalar(const int16_t* h, int32_t initDiag, int32_t initCross, Chains& c) {
  if (chainsFit(h, initDiag, initCross)) {
    // Row by row as the AVX2 form: row n adds h[n] h[n + d] to the sum of
    // every lag d (past the response's end the padding contributes zeros),
    // a loop over lags the compiler runs in vector lanes.
    int16_t hp[2 * kSubfr] = {};
    for (int i = 0; i < kSubfr; ++i) hp[i] = h[i];
    int32_t init[kSubfr], acc[kSubfr] = {};
    for (int d = 0; d < kSubfr; ++d) init[d] = d == 0 ? initDiag : initCross;
    for (int n = 0; n < kSubfr; ++n) {
      const int16_t hn = h[n];
      const int16_t* hd = hp + n;
      int32_t* row = c.v + n * kSubfr;
      for (int d = 0; d < kSubfr; ++d) {
        acc[d] += int32_t{hn} * hd[d];
        row[d] = init[d] + 2 * acc[d];
      }
    }
    return;
  }
  for (int d = 0; d < kSubfr; ++d) {
    Word32 acc = d == 0 ? initDiag : initCross;
    for (int m = 0; m + d < kSubfr; ++m) {
      acc = L_mac(acc, h[m], h[m + d]);
      c.v[m * kSubfr + d] = acc;
    }
  }
}

#if defined(VOKSC_X86)
__attribute__((target("avx2"))) void diagonalChains_avx2(const int16_t* h, int32_t initDiag, int32_t initCross,
                                                         Chains& c) {
  if (!chainsFit(h, initDiag, initCross)) {
    diagonalChains_scalar(h, initDiag, initCross, c);
    return;
  }
  alignas(32) int32_t hp[2 * kSubfr + 8] = {};
  for (int i = 0; i < kSubfr; ++i) hp[i] = h[i];
  __m256i acc[5], init[5];
  for (int k = 0; k < 5; ++k) {
    acc[k] = _mm256_setzero_si256();
    init[k] = _mm256_set1_epi32(initCross);
  }
  init[0] = _mm256_insert_epi32(init[0], initDiag, 0);
  // Row m holds the sums up to n = m for every lag d < 40 - m, the only
  // values the layouts read (m + d <= 39); a vector of lags whose smallest
  // has left that range is done.
  for (int n = 0; n < kSubfr; ++n) {
    const __m256i hn = _mm256_set1_epi32(hp[n]);
    int32_t* row = c.v + n * kSubfr;
    for (int k = 0; k < 5; ++k) {
      if (8 * k >= kSubfr - n) break;
      const __m256i p = _mm256_mullo_epi32(hn, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hp + n + 8 * k)));
      acc[k] = _mm256_add_epi32(acc[k], p);
      _mm256_store_si256(reinterpret_cast<__m256i*>(row + 8 * k),
                         _mm256_add_epi32(init[k], _mm256_slli_epi32(acc[k], 1)));
    }
  }
}
#else
void diagonalChains_avx2(const int16_t* h, int32_t initDiag, int32_t initCross, Chains& c) { __builtin_trap(); }
#endif

// The response scaled for the 16-bit matrix: halved when its energy is
// near the top, else shifted up by half the energy's headroom.  The energy
// is the L_mac chain of squares from 0: its terms are never negative, so the
// chain saturates exactly when the exact sum passes 2^31 - 1 (a square of
// -32768 alone, saturated to that, gets there), and it is the exact sum
// capped.  shl() saturates each shifted value to 16 bits.
void scaleResponse(const int16_t* h, int16_t* hs) {
  const Word32 e = static_cast<Word32>(std::min<int64_t>(2 * voksc::kern::dot(h, h, kSubfr), kMax32));
  if (extract_h(e) > 32000) {
    for (int i = 0; i < kSubfr; ++i) hs[i] = static_cast<int16_t>(h[i] >> 1);
  } else {
    const int k = shr(norm_l(e), 1);
    for (int i = 0; i < kSubfr; ++i)
      hs[i] = static_cast<int16_t>(std::clamp<int32_t>(int32_t{h[i]} * (1 << k), kMin16, kMax16));
  }
}

namespace {

// The AVX2 build of the layouts, straight from the response.  With hz the
// scaled response and zeros outside 0..39, every matrix value is
//   R(i, j) = sum over n = 0..39 of hz[n - i] hz[n - j]
// (the chain of lag |i - j| up to 39 - max(i, j), halved: chain = 2 R when
// nothing saturates), so one block value follows the next one down its
// diagonal by a window of five products:
//   R(i, j) = R(i + 5, j + 5) + sum over u = 0..4 of hz[35 + u - i] hz[35 + u - j],
// with R = 0 past position 39.  For a block of tracks (ta, tb), row a (i =
// 5a + ta) is then row a + 1 moved one column left plus an outer product
// of rank five, three vpmaddwd of word pairs: no chain table and no gather
// of its scattered values.  Exact: every partial sum is a sum of products
// hz[x] hz[x + d] of one lag over distinct x, at most the energy e in
// magnitude (Cauchy-Schwarz), and the caller takes this form only when 2 e
// fits 32 bits, so no lane wraps (a vpmaddwd pair of two -32768 squares
// would need e >= 2^31).
#if defined(VOKSC_X86)
struct BlockOf {
  int slot, ta, tb;
};
constexpr BlockOf kBlocksG729[9] = {{k01, 0, 1}, {k02, 0, 2}, {k03, 0, 3}, {k04, 0, 4}, {k12, 1, 2},
                                    {k13, 1, 3}, {k14, 1, 4}, {k23, 2, 3}, {k24, 2, 4}};
constexpr BlockOf kBlocksD6[9] = {{k01, 0, 1}, {k02, 1, 1}, {k03, 0, 3}, {k04, 3, 4}, {k12, 1, 2},
                                  {k13, 1, 3}, {k14, 1, 4}, {k23, 2, 3}, {k24, 2, 4}};

// Lane p takes lane p + 1 (p + 2), the last lane(s) zero.
__attribute__((target("avx2"))) inline __m256i down1(__m256i v) {
  return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, v, 0x81), v, 4);
}
__attribute__((target("avx2"))) inline __m256i down2(__m256i v) {
  return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, v, 0x81), v, 8);
}

// Two rows of sums as sixteen upper words of the chains 2 R (|R| < 2^30).
__attribute__((target("avx2"))) inline __m256i narrow(__m256i a, __m256i b) {
  return _mm256_permute4x64_epi64(_mm256_packs_epi32(_mm256_srai_epi32(a, 15), _mm256_srai_epi32(b, 15)), 0xD8);
}

template <bool kWide, class T>
__attribute__((target("avx2"))) void layoutAvx2(const int16_t* hs, bool d6, T* rr) {
  // hz[8 + x] = hs[x]; pair(w) = the words hz[w], hz[w + 1] as one 32-bit
  // lane, w = -4..39.
  alignas(32) int16_t hz[56] = {};
  for (int k = 0; k < kSubfr; k += 8)
    _mm_store_si128(reinterpret_cast<__m128i*>(hz + 8 + k), _mm_loadu_si128(reinterpret_cast<const __m128i*>(hs + k)));
  auto pair = [&](int w) {
    int32_t v;
    __builtin_memcpy(&v, hz + 8 + w, sizeof v);
    return v;
  };
  // at[z - 31][p] = pair(z - 5p): (hz[35 + u - t - 5p], u = 0, 1) for z =
  // 35 - t, (u = 2, 3) for z = 37 - t; low[t][p] = (hz[39 - t - 5p], 0) for
  // u = 4.  Row a of track t broadcasts lane a; a block row's columns are
  // the vectors of track tb.
  alignas(32) int32_t at[9][8], low[5][8];
  __m256i atV[9];
  for (int z = 31; z < 40; ++z) {
    atV[z - 31] = _mm256_setr_epi32(pair(z), pair(z - 5), pair(z - 10), pair(z - 15), pair(z - 20), pair(z - 25),
                                    pair(z - 30), pair(z - 35));
    _mm256_store_si256(reinterpret_cast<__m256i*>(at[z - 31]), atV[z - 31]);
  }
  const __m256i lowWord = _mm256_set1_epi32(0xFFFF);
  for (int t = 0; t < kTracks; ++t)
    _mm256_store_si256(reinterpret_cast<__m256i*>(low[t]), _mm256_and_si256(atV[8 - t], lowWord));

  // The diagonals: R(i, i) = window + R(i + 5, i + 5), a sum over the
  // later lanes of the track.
  __m256i diag[kTracks];
  for (int t = 0; t < kTracks; ++t) {
    const __m256i l = _mm256_load_si256(reinterpret_cast<const __m256i*>(low[t]));
    __m256i w = _mm256_add_epi32(_mm256_madd_epi16(atV[4 - t], atV[4 - t]), _mm256_madd_epi16(atV[6 - t], atV[6 - t]));
    w = _mm256_add_epi32(w, _mm256_madd_epi16(l, l));
    w = _mm256_add_epi32(w, down1(w));
    w = _mm256_add_epi32(w, down2(w));
    diag[t] = _mm256_add_epi32(w, _mm256_permute2x128_si256(w, w, 0x81));
  }
  if constexpr (kWide) {
    for (int t = 0; t < kTracks; ++t) _mm256_storeu_si256(reinterpret_cast<__m256i*>(rr + 8 * t), diag[t]);
  } else {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(rr), narrow(diag[0], diag[1]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(rr + 16), narrow(diag[2], diag[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rr + 32), _mm256_castsi256_si128(narrow(diag[4], diag[4])));
  }

  for (const BlockOf& b : d6 ? kBlocksD6 : kBlocksG729) {
    const __m256i c01 = atV[4 - b.tb], c23 = atV[6 - b.tb], c4 = atV[8 - b.tb];
    const int32_t *r01 = at[4 - b.ta], *r23 = at[6 - b.ta], *r4 = low[b.ta];
    __m256i row[kPos];
    __m256i acc = _mm256_setzero_si256();
    for (int a = kPos - 1; a >= 0; --a) {
      const __m256i w = _mm256_add_epi32(_mm256_madd_epi16(_mm256_set1_epi32(r01[a]), c01),
                                         _mm256_madd_epi16(_mm256_set1_epi32(r23[a]), c23));
      acc = _mm256_add_epi32(_mm256_add_epi32(w, _mm256_madd_epi16(_mm256_set1_epi32(r4[a]), c4)), down1(acc));
      row[a] = acc;
    }
    T* out = rr + b.slot;
    if constexpr (kWide) {
      for (int a = 0; a < kPos; ++a) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * a), row[a]);
    } else {
      for (int a = 0; a < kPos; a += 2)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * a), narrow(row[a], row[a + 1]));
    }
  }
}
#else
template <bool kWide, class T>
void layoutAvx2(const int16_t* hs, bool d6, T* rr) {
  __builtin_trap();
}
#endif

}  // namespace

void matrix32(const int16_t* h, bool d6, int32_t* rr, bool avx2) {
  int16_t hs[kSubfr];
  scaleResponse(h, hs);
  if (avx2 && chainsFit(hs, 0, 0)) {
    layoutAvx2<true>(hs, d6, rr);
    return;
  }
  Chains c;
  diagonalChains_scalar(hs, 0, 0, c);
  const LayoutIndex& l = d6 ? kLayoutD6 : kLayoutG729;
  for (int k = 0; k < kMatrix; ++k) rr[k] = c.v[l.at[k]] >> 1;
}

void matrix16(const int16_t* h, bool d6, int16_t* rr, bool avx2) {
  int16_t hs[kSubfr];
  scaleResponse(h, hs);
  if (avx2 && chainsFit(hs, 0, 0)) {
    layoutAvx2<false>(hs, d6, rr);
    return;
  }
  Chains c;
  diagonalChains_scalar(hs, 0, 0, c);
  const LayoutIndex& l = d6 ? kLayoutD6 : kLayoutG729;
  for (int k = 0; k < kMatrix; ++k) rr[k] = extract_h(c.v[l.at[k]]);
}

// Float chains in the reference's order: one running sum per diagonal from
// the first sample on.
void matrixFloat(const float* h, bool d6, float* rr) {
  float c[kSubfr * kSubfr];
  for (int d = 0; d < kSubfr; ++d) {
    float acc = 0.0f;
    for (int m = 0; m + d < kSubfr; ++m) {
      acc += h[m] * h[m + d];
      c[m * kSubfr + d] = acc;
    }
  }
  const LayoutIndex& l = d6 ? kLayoutD6 : kLayoutG729;
  for (int k = 0; k < kMatrix; ++k) rr[k] = c[l.at[k]];
}

}  // namespace voksc::g729::fcb

using namespace voksc::g729;

namespace {
// The AVX2 chains and gathers when the level chosen at run time has them.
bool useAvx2() {
  static const bool avx2 = voksc::cpu::choose(false, true);
  return avx2;
}
}  // namespace

VOKSC_EXPORT VokResult voksToeplizMatrix_G729_16s32s(const Vok16s* h, Vok32s* rr) {
  if (anyNull(h, rr)) return vokErrNullPtr;
  fcb::matrix32(h, false, rr, useAvx2());
  return vokOk;
}

VOKSC_EXPORT VokResult voksToeplizMatrix_G729_16s(const Vok16s* h, Vok16s* rr) {
  if (anyNull(h, rr)) return vokErrNullPtr;
  fcb::matrix16(h, false, rr, useAvx2());
  return vokOk;
}

VOKSC_EXPORT VokResult voksToeplizMatrix_G729_32f(const Vok32f* h, Vok32f* rr) {
  if (anyNull(h, rr)) return vokErrNullPtr;
  fcb::matrixFloat(h, false, rr);
  return vokOk;
}

VOKSC_EXPORT VokResult voksToeplizMatrix_G729D_32f(const Vok32f* h, Vok32f* rr) {
  if (anyNull(h, rr)) return vokErrNullPtr;
  fcb::matrixFloat(h, true, rr);
  return vokOk;
}
