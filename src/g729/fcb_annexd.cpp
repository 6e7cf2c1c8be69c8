// G.729 Annex D two-pulse algebraic codebook (6.4 kbit/s, 11 bits): the
// first pulse on tracks 1 and 3 (16 positions), the second on tracks 0, 2,
// 4 and 1 (32 positions), each with a sign; positions are sent as Gray
// codes.  The search walks eight pairs of track subsets.
#include "core/cpu.h"
#if defined(VOKSC_X86)
#include <immintrin.h>
#endif

#include <cstring>

#include "common/basic_op.h"
#include "core/cpu.h"
#include "core/status.h"
#include "fcb_internal.h"
#include "fcb_simd.h"
#include "fcb_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g729::fcb {

namespace {

#if defined(VOKSC_X86)
using simd::load8;
using simd::sat16x8;
#endif

// The subsets in search order: first track, second track, cross block,
// and whether the first track's position is the first pulse (otherwise
// the second track's is).
struct Subset {
  int t0, t1, block;
  bool swap;
};
constexpr Subset kSubsets[8] = {{0, 1, k01, false}, {1, 1, k11D, true}, {0, 3, k03, false}, {3, 4, k34D, true},
                                {1, 2, k12, true},  {1, 3, k13, false}, {1, 4, k14, true},  {2, 3, k23, false}};

struct Best2 {
  Word16 psc = 0, alpha = kMax16;
  int ip0 = 1, ip1 = 0;
};

void prepareD(int16_t* dn, int16_t* rr, int16_t* sign, bool avx2) {
  for (int i = 0; i < kSubfr; ++i) {
    if (dn[i] >= 0) {
      sign[i] = kMax16;
    } else {
      sign[i] = kMin16;
      dn[i] = negate(dn[i]);
    }
  }
  auto fold = [&](int block, int ta, int tb) {
    int16_t* p = rr + block;
    for (int a = 0; a < kPos; ++a)
      for (int b = 0; b < kPos; ++b, ++p) *p = mult(*p, mult(sign[5 * a + ta], sign[5 * b + tb]));
  };
  for (const Subset& s : kSubsets) {
    if (avx2)
      simd::foldSigns(rr + s.block, s.t0, s.t1, sign, true);
    else
      fold(s.block, s.t0, s.t1);
  }
}

inline void take(Best2& b, Word16 ps1c, Word16 alp, int i0, int i1, bool swap) {
  b.psc = ps1c;
  b.alpha = alp;
  b.ip0 = swap ? i0 : i1;
  b.ip1 = swap ? i1 : i0;
}

void rowScalar(Best2& b, const int16_t* dn, const int16_t* rr, const Subset& s, int a0) {
  const int i0 = 5 * a0 + s.t0;
  const Word16 ps0 = dn[i0];
  const Word16 alp0 = rr[s.t0 * kPos + a0];
  for (int a1 = 0; a1 < kPos; ++a1) {
    const int i1 = 5 * a1 + s.t1;
    const Word16 ps1 = add(ps0, dn[i1]);
    Word32 alp1 = L_mult(alp0, 1);
    alp1 = L_mac(alp1, rr[s.t1 * kPos + a1], 1);
    alp1 = L_mac(alp1, rr[s.block + a0 * kPos + a1], 2);
    const Word16 alp = extract_l(L_shr(alp1, 5));
    const Word16 ps1c = mult(ps1, ps1);
    if (L_msu(L_mult(ps1c, b.alpha), b.psc, alp) > 0) take(b, ps1c, alp, i0, i1, s.swap);
  }
}

// A row of eight candidates in 32-bit lanes; the chain of three 16-bit
// steps cannot saturate, so the lanes are exact.
#if defined(VOKSC_X86)
__attribute__((target("avx2"))) void rowAvx2(Best2& b, const int16_t* dnT1, const int16_t* rr, const Subset& s,
                                             int a0, Word16 ps0) {
  const Word16 alp0 = rr[s.t0 * kPos + a0];
  __m256i chain = _mm256_add_epi32(_mm256_set1_epi32(2 * alp0), _mm256_slli_epi32(load8(rr + s.t1 * kPos), 1));
  chain = _mm256_add_epi32(chain, _mm256_slli_epi32(load8(rr + s.block + a0 * kPos), 2));
  const __m256i alp = _mm256_srai_epi32(chain, 5);  // within 16 bits
  __m256i ps1 = _mm256_add_epi32(_mm256_set1_epi32(ps0), load8(dnT1));
  ps1 = _mm256_min_epi32(ps1, _mm256_set1_epi32(kMax16));
  const __m256i sq = _mm256_min_epi32(_mm256_srai_epi32(_mm256_mullo_epi32(ps1, ps1), 15), _mm256_set1_epi32(kMax16));
  const __m256i lhs = _mm256_mullo_epi32(sq, _mm256_set1_epi32(b.alpha));
  const __m256i rhs = _mm256_mullo_epi32(_mm256_set1_epi32(b.psc), alp);
  if (_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(lhs, rhs))) == 0) return;
  alignas(32) int32_t q[8], e[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(q), sq);
  _mm256_store_si256(reinterpret_cast<__m256i*>(e), alp);
  const int i0 = 5 * a0 + s.t0;
  for (int a1 = 0; a1 < kPos; ++a1)
    if (L_msu(L_mult(static_cast<Word16>(q[a1]), b.alpha), b.psc, static_cast<Word16>(e[a1])) > 0)
      take(b, static_cast<Word16>(q[a1]), static_cast<Word16>(e[a1]), i0, 5 * a1 + s.t1, s.swap);
}
#else
void rowAvx2(Best2& b, const int16_t* dnT1, const int16_t* rr, const Subset& s, int a0, Word16 ps0) { __builtin_trap(); }
#endif

int indexOf(const int16_t* table, int n, int pos) {
  int k = 0;
  while (k < n && table[k] != pos) ++k;
  return k;
}

// Code vector, filtered code vector, sign word and position word.
PulseResult finishD(const Best2& b, const int16_t* sign, const int16_t* h, int16_t* code, int16_t* y) {
  const int k0 = indexOf(kFcbD6Track0, 16, b.ip0);
  const int k1 = indexOf(kFcbD6Track1, 32, b.ip1);
  const int m0 = kFcbD6Track0[k0], m1 = kFcbD6Track1[k1];
  const bool pos0 = sign[m0] > 0, pos1 = sign[m1] > 0;
  std::memset(code, 0, kSubfr * sizeof(int16_t));
  code[m0] = shr(sign[m0], 2);
  code[m1] = add(code[m1], shr(sign[m1], 2));
  std::memset(y, 0, kSubfr * sizeof(int16_t));
  for (int i = m0, j = 0; i < kSubfr; ++i, ++j) y[i] = pos0 ? h[j] : negate(h[j]);
  for (int i = m1, j = 0; i < kSubfr; ++i, ++j) y[i] = pos1 ? add(y[i], h[j]) : sub(y[i], h[j]);
  return {static_cast<int16_t>(kFcbD6PosCode[k0] + (kFcbD6PosCode[k1] << 4)),
          static_cast<int16_t>((pos1 ? 2 : 0) + (pos0 ? 1 : 0))};
}

}  // namespace

PulseResult searchG729D_scalar(int16_t* dn, int16_t* rr, const int16_t* h, int16_t* code, int16_t* y) {
  int16_t sign[kSubfr];
  prepareD(dn, rr, sign, false);
  Best2 b;
  for (const Subset& s : kSubsets)
    for (int a0 = 0; a0 < kPos; ++a0) rowScalar(b, dn, rr, s, a0);
  return finishD(b, sign, h, code, y);
}

PulseResult searchG729D_avx2(int16_t* dn, int16_t* rr, const int16_t* h, int16_t* code, int16_t* y) {
  int16_t sign[kSubfr];
  prepareD(dn, rr, sign, true);
  int16_t dnT[kTracks][kPos];
  for (int t = 0; t < kTracks; ++t)
    for (int a = 0; a < kPos; ++a) dnT[t][a] = dn[5 * a + t];
  Best2 b;
  for (const Subset& s : kSubsets)
    for (int a0 = 0; a0 < kPos; ++a0) rowAvx2(b, dnT[s.t1], rr, s, a0, dnT[s.t0][a0]);
  return finishD(b, sign, h, code, y);
}

// Float search, the float reference's eight loops in its order: each pairs a
// first-pulse track (1 or 3) with a second-pulse track, with the track
// tables' indices kept for the winner.
int searchG729DFloat(float* dn, float* rr, const float* h, float* code, float* y, int* signs) {
  int sgn[kSubfr];
  for (int i = 0; i < kSubfr; ++i) {
    if (dn[i] >= 0.0f) {
      sgn[i] = 1;
    } else {
      sgn[i] = -1;
      dn[i] = -dn[i];
    }
  }
  for (const Subset& s : kSubsets) {
    float* p = rr + s.block;
    for (int a = 0; a < kPos; ++a)
      for (int b = 0; b < kPos; ++b, ++p) *p *= static_cast<float>(sgn[5 * a + s.t0] * sgn[5 * b + s.t1]);
  }
  float csqBest = 0.0f, eBest = 1.0e38f;
  int best0 = kFcbD6Track0[0], best1 = kFcbD6Track1[0];
  // One loop: the outer index walks `outer` positions, the inner `inner`;
  // m0 indexes the first-pulse table (steps of 2), m1 the second (steps of
  // 3 within the first 24, or 1 beyond).  cross(o, i) is the cross term.
  struct Loop {
    bool firstOuter;                  // the outer loop runs over the first pulse
    int t0, start0;                   // first pulse: track, first table index
    int t1, start1, step1, end1;      // second pulse: track, table indices
    int block;                        // cross block (first track's row)
    bool crossByFirst;                // block rows follow the first pulse's track
  };
  const Loop loops[8] = {
      {false, 1, 0, 0, 0, 3, 24, k01, false},  // i1 (track 1) with i0 (track 0)
      {true, 1, 0, 2, 1, 3, 24, k12, true},    // track 1 with track 2
      {true, 1, 0, 4, 2, 3, 24, k14, true},    // track 1 with track 4
      {true, 1, 0, 1, 24, 1, 32, k11D, true},  // track 1 with track 1
      {false, 3, 1, 0, 0, 3, 24, k03, false},  // track 3 with track 0
      {false, 3, 1, 2, 1, 3, 24, k23, false},  // track 3 with track 2
      {true, 3, 1, 4, 2, 3, 24, k34D, true},   // track 3 with track 4
      {false, 3, 1, 1, 24, 1, 32, k13, false}, // track 3 with track 1
  };
  for (const Loop& l : loops) {
    const float* d0 = rr + l.t0 * kPos;  // diagonal of the first pulse's track
    const float* d1 = rr + l.t1 * kPos;
    const float* cross = rr + l.block;
    const int n1 = (l.end1 - l.start1 + l.step1 - 1) / l.step1;
    auto consider = [&](int a0, int a1, int k0, int k1, const float* outerDiag, int outerA, const float* innerDiag,
                        int innerA, float cOuter, float dnInner, float crossVal) {
      float c = cOuter;
      float e = outerDiag[outerA];
      c += dnInner;
      const float csq = c * c;
      e += innerDiag[innerA];
      e += 2.0f * crossVal;
      if (csq * eBest > e * csqBest) {
        eBest = e;
        csqBest = csq;
        best0 = k0;
        best1 = k1;
      }
      (void)a0;
      (void)a1;
    };
    if (l.firstOuter) {
      for (int a0 = 0; a0 < kPos; ++a0) {
        const int k0 = l.start0 + 2 * a0;
        const float c0 = dn[5 * a0 + l.t0];
        for (int a1 = 0; a1 < n1; ++a1) {
          const int k1 = l.start1 + l.step1 * a1;
          const float cv = l.crossByFirst ? cross[a0 * kPos + a1] : cross[a1 * kPos + a0];
          consider(a0, a1, k0, k1, d0, a0, d1, a1, c0, dn[5 * a1 + l.t1], cv);
        }
      }
    } else {
      for (int a1 = 0; a1 < n1; ++a1) {
        const int k1 = l.start1 + l.step1 * a1;
        const float c0 = dn[5 * a1 + l.t1];
        for (int a0 = 0; a0 < kPos; ++a0) {
          const int k0 = l.start0 + 2 * a0;
          const float cv = l.crossByFirst ? cross[a0 * kPos + a1] : cross[a1 * kPos + a0];
          consider(a0, a1, k0, k1, d1, a1, d0, a0, c0, dn[5 * a0 + l.t0], cv);
        }
      }
    }
  }
  const int m0 = kFcbD6Track0[best0], m1 = kFcbD6Track1[best1];
  const bool pos0 = sgn[m0] > 0, pos1 = sgn[m1] > 0;
  for (int i = 0; i < kSubfr; ++i) code[i] = 0.0f;
  code[m0] = static_cast<float>(sgn[m0]);
  code[m1] += static_cast<float>(sgn[m1]);
  *signs = (pos0 ? 1 : 0) + 2 * (pos1 ? 1 : 0);
  for (int i = 0; i < kSubfr; ++i) y[i] = 0.0f;
  for (int i = m0, j = 0; i < kSubfr; ++i, ++j) y[i] = pos0 ? h[j] : -h[j];
  for (int i = m1, j = 0; i < kSubfr; ++i, ++j) y[i] = pos1 ? y[i] + h[j] : y[i] - h[j];
  return kFcbD6PosCode[best0] + 16 * kFcbD6PosCode[best1];
}

}  // namespace voksc::g729::fcb

using namespace voksc::g729;

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729D_16s(const Vok16s* dn, const Vok16s* h, Vok16s* cod, Vok16s* y,
                                                         Vok16s* sign, Vok16s* index) {
  if (anyNull(dn, h, cod, y, sign, index)) return vokErrNullPtr;
  int16_t d[fcb::kSubfr], rr[fcb::kMatrix];
  std::memcpy(d, dn, sizeof d);
  static const bool avx2 = voksc::cpu::choose(false, true);
  fcb::matrix16(h, true, rr, avx2);
  const fcb::PulseResult r = avx2 ? fcb::searchG729D_avx2(d, rr, h, cod, y) : fcb::searchG729D_scalar(d, rr, h, cod, y);
  *sign = r.signs;
  *index = r.index;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729D_32f(const Vok32f* dn, const Vok32f* h, Vok32f* cod, Vok32f* y,
                                                         Vok32s* sign, Vok32s* index) {
  if (anyNull(dn, h, cod, y, sign, index)) return vokErrNullPtr;
  float d[fcb::kSubfr], rr[fcb::kMatrix];
  std::memcpy(d, dn, sizeof d);
  fcb::matrixFloat(h, true, rr);
  int s = 0;
  *index = fcb::searchG729DFloat(d, rr, h, cod, y, &s);
  *sign = s;
  return vokOk;
}
