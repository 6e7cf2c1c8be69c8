// G.729 four-pulse algebraic codebook (17 bits): the focused search of the
// full-complexity coder, with its search budget, and the depth-first tree
// search of Annex A; the Annex A dot products.
//
// Pulse i0 lies on track 0 (positions 0, 5, ..., 35), i1 on track 1, i2 on
// track 2 and i3 on track 3 or 4.  The searches maximise the squared
// correlation over the energy, comparing c1^2 e2 with c2^2 e1 so that the
// first best candidate wins.  The vector forms evaluate a row of eight
// candidates at once and only walk a row one candidate at a time when one of
// them beats the best so far; the arithmetic is the reference's in both.
#include "core/cpu.h"
#if defined(VOKSC_X86)
#include <immintrin.h>
#endif

#include <cstring>

#include "common/basic_op.h"
#include "common/ratio_lanes.h"
#include "core/cpu.h"
#include "core/status.h"
#include "fcb_internal.h"
#include "fcb_simd.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g729::fcb {

namespace {

#if defined(VOKSC_X86)
using simd::load8;
using simd::sat16x8;
#endif

// Folds the product of the two positions' signs into a cross block (the
// reference's mult by mult(sign_a, sign_b), which is not an exact +-1).
void foldSigns(int16_t* block, int ta, int tb, const int16_t* sign) {
  for (int a = 0; a < kPos; ++a) {
    const Word16 sa = sign[5 * a + ta];
    for (int b = 0; b < kPos; ++b, ++block) *block = mult(*block, mult(sa, sign[5 * b + tb]));
  }
}

// Code vector (+-8191 at the pulses), the 13-bit position word and the
// 4-bit sign word.
PulseResult packFour(const int16_t* sign, int ip0, int ip1, int ip2, int ip3, int16_t* code) {
  std::memset(code, 0, kSubfr * sizeof(int16_t));
  const int ip[4] = {ip0, ip1, ip2, ip3};
  int signs = 0;
  for (int k = 0; k < 4; ++k) {
    code[ip[k]] = shr(sign[ip[k]], 2);
    if (sign[ip[k]] > 0) signs |= 1 << k;
  }
  // Pulse 3 lies on track 3 or 4 (j = 0 or 1) for any matrix a coder forms;
  // from a degenerate caller matrix a search may keep a pair of an earlier
  // phase, and the word is then formed as two's-complement products.
  const int j = ip3 % 5 - 3;
  const int pos = ip0 / 5 + (ip1 / 5) * 8 + (ip2 / 5) * 64 + ((ip3 / 5) * 2 + j) * 512;
  return {static_cast<int16_t>(pos), static_cast<int16_t>(signs)};
}

// The comparison of the searches, L_msu(L_mult(a, b), c, d) > 0: both
// products lie within +-2^30 for 16-bit operands with a or c not -32768, so
// this is the plain a b > c d.
inline bool beats(Word16 sqNew, Word16 alpBest, Word16 sqBest, Word16 alpNew) {
  return L_msu(L_mult(sqNew, alpBest), sqBest, alpNew) > 0;
}

// ---------------------------------------------------------------------------
// G.729 focused search.

struct Focused {
  int16_t sign[kSubfr];
  Word16 thres;
};

// Signs, the pre-test threshold from tracks 0..2 and the signed cross blocks.
void prepareFocused(int16_t* dn, int16_t* rr, Focused& f, bool avx2) {
  for (int i = 0; i < kSubfr; ++i) {
    if (dn[i] >= 0) {
      f.sign[i] = kMax16;
    } else {
      f.sign[i] = kMin16;
      dn[i] = negate(dn[i]);
    }
  }
  Word16 max0 = dn[0], max1 = dn[1], max2 = dn[2];
  for (int i = 5; i < kSubfr; i += 5) {
    if (dn[i] > max0) max0 = dn[i];
    if (dn[i + 1] > max1) max1 = dn[i + 1];
    if (dn[i + 2] > max2) max2 = dn[i + 2];
  }
  max0 = add(add(max0, max1), max2);
  Word32 sum = 0;
  for (int i = 0; i < kSubfr; i += 5) {
    sum = L_mac(sum, dn[i], 1);
    sum = L_mac(sum, dn[i + 1], 1);
    sum = L_mac(sum, dn[i + 2], 1);
  }
  const Word16 average = extract_l(L_shr(sum, 4));
  f.thres = add(mult(sub(max0, average), 13107), average);
  const int blocks[9][3] = {{k01, 0, 1}, {k02, 0, 2}, {k03, 0, 3}, {k04, 0, 4}, {k12, 1, 2},
                            {k13, 1, 3}, {k14, 1, 4}, {k23, 2, 3}, {k24, 2, 4}};
  for (const auto& b : blocks) {
    if (avx2)
      simd::foldSigns(rr + b[0], b[1], b[2], f.sign, true);
    else
      foldSigns(rr + b[0], b[1], b[2], f.sign);
  }
}

struct Best4 {
  Word16 psc = 0, alpha = kMax16;
  int ip[4] = {0, 1, 2, 3};
};

// One candidate of the pulse-3 scan.
inline void tryPulse3(Best4& b, Word16 ps2, Word32 alp2, Word16 dn3, Word16 r33, Word16 r03, Word16 r13,
                      Word16 r23, int i0, int i1, int i2, int i3) {
  const Word16 ps3 = add(ps2, dn3);
  Word32 alp3 = L_mac(alp2, r33, 1);
  alp3 = L_mac(alp3, r03, 2);
  alp3 = L_mac(alp3, r13, 2);
  alp3 = L_mac(alp3, r23, 2);
  const Word16 alp = extract_l(L_shr(alp3, 5));
  const Word16 ps3c = mult(ps3, ps3);
  if (beats(ps3c, b.alpha, b.psc, alp)) {
    b.psc = ps3c;
    b.alpha = alp;
    b.ip[0] = i0;
    b.ip[1] = i1;
    b.ip[2] = i2;
    b.ip[3] = i3;
  }
}

// The nested loops; scan(b, a0, a1, a2, ps2, alp2) runs the 16 pulse-3
// candidates of one pulse-2 candidate that passed the threshold.
template <class Scan>
void focusedLoops(const int16_t* dn, const int16_t* rr, const Focused& f, int16_t* budget, bool first, Best4& b,
                  Scan scan) {
  Word16 time = add(75, first ? Word16{30} : *budget);
  for (int a0 = 0; a0 < kPos; ++a0) {
    const Word16 ps0 = dn[5 * a0];
    const Word16 alp0 = rr[kD0 + a0];
    for (int a1 = 0; a1 < kPos; ++a1) {
      const Word16 ps1 = add(ps0, dn[5 * a1 + 1]);
      Word32 alp1 = L_mult(alp0, 1);
      alp1 = L_mac(alp1, rr[kD1 + a1], 1);
      alp1 = L_mac(alp1, rr[k01 + a0 * kPos + a1], 2);
      for (int a2 = 0; a2 < kPos; ++a2) {
        const Word16 ps2 = add(ps1, dn[5 * a2 + 2]);
        Word32 alp2 = L_mac(alp1, rr[kD2 + a2], 1);
        alp2 = L_mac(alp2, rr[k02 + a0 * kPos + a2], 2);
        alp2 = L_mac(alp2, rr[k12 + a1 * kPos + a2], 2);
        if (ps2 <= f.thres) continue;
        scan(b, a0, a1, a2, ps2, alp2);
        time = sub(time, 1);
        if (time <= 0) {
          *budget = time;
          return;
        }
      }
    }
  }
  *budget = time;
}

// Scalar pulse-3 scan: track 3 then track 4, candidate by candidate.
void scanScalar(const int16_t* dn, const int16_t* rr, Best4& b, int a0, int a1, int a2, Word16 ps2, Word32 alp2) {
  for (int t = 3; t < 5; ++t) {
    const int16_t* rtt = rr + (t == 3 ? kD3 : kD4);
    const int16_t* r0 = rr + (t == 3 ? k03 : k04) + a0 * kPos;
    const int16_t* r1 = rr + (t == 3 ? k13 : k14) + a1 * kPos;
    const int16_t* r2 = rr + (t == 3 ? k23 : k24) + a2 * kPos;
    for (int a3 = 0; a3 < kPos; ++a3)
      tryPulse3(b, ps2, alp2, dn[5 * a3 + t], rtt[a3], r0[a3], r1[a3], r2[a3], 5 * a0, 5 * a1 + 1, 5 * a2 + 2,
                5 * a3 + t);
  }
}

// Eight candidates of one track in 32-bit lanes: energy alp (the reference's
// extract_l(L_shr(chain, 5))) and squared correlation sq.  Every chain here
// is a sum of ten 16-bit matrix values weighted by 2 or 4, at most 2^20 in
// magnitude, so neither the lanes nor the reference's steps saturate.
#if defined(VOKSC_X86)
__attribute__((target("avx2"))) inline void rowOfPulse3(const int16_t* dnT, const int16_t* rtt, const int16_t* r0,
                                                        const int16_t* r1, const int16_t* r2, Word16 ps2,
                                                        Word32 alp2, __m256i& sq, __m256i& alp) {
  __m256i cross = _mm256_add_epi32(_mm256_add_epi32(load8(r0), load8(r1)), load8(r2));
  __m256i chain = _mm256_add_epi32(_mm256_set1_epi32(alp2), _mm256_slli_epi32(load8(rtt), 1));
  chain = _mm256_add_epi32(chain, _mm256_slli_epi32(cross, 2));
  alp = _mm256_srai_epi32(_mm256_slli_epi32(_mm256_srai_epi32(chain, 5), 16), 16);
  __m256i ps3 = _mm256_add_epi32(_mm256_set1_epi32(ps2), load8(dnT));
  ps3 = _mm256_max_epi32(_mm256_min_epi32(ps3, _mm256_set1_epi32(kMax16)), _mm256_set1_epi32(kMin16));
  sq = _mm256_min_epi32(_mm256_srai_epi32(_mm256_mullo_epi32(ps3, ps3), 15), _mm256_set1_epi32(kMax16));
}
#endif

// Lanes whose candidate beats (psc, alpha): sq alpha > psc alp, exactly.
#if defined(VOKSC_X86)
__attribute__((target("avx2"))) inline int beatMask(__m256i sq, __m256i alp, Word16 psc, Word16 alpha) {
  const __m256i lhs = _mm256_mullo_epi32(sq, _mm256_set1_epi32(alpha));
  const __m256i rhs = _mm256_mullo_epi32(_mm256_set1_epi32(psc), alp);
  return _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(lhs, rhs)));
}
#endif

struct TrackDn {
  int16_t v[kTracks][kPos];  // dn by track
};

#if defined(VOKSC_X86)
__attribute__((target("avx2"))) void scanAvx2(const TrackDn& dnT, const int16_t* rr, Best4& b, int a0, int a1,
                                              int a2, Word16 ps2, Word32 alp2) {
  for (int t = 3; t < 5; ++t) {
    const int16_t* rtt = rr + (t == 3 ? kD3 : kD4);
    const int16_t* r0 = rr + (t == 3 ? k03 : k04) + a0 * kPos;
    const int16_t* r1 = rr + (t == 3 ? k13 : k14) + a1 * kPos;
    const int16_t* r2 = rr + (t == 3 ? k23 : k24) + a2 * kPos;
    __m256i sq, alp;
    rowOfPulse3(dnT.v[t], rtt, r0, r1, r2, ps2, alp2, sq, alp);
    if (beatMask(sq, alp, b.psc, b.alpha) == 0) continue;
    alignas(32) int32_t s[8], e[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(s), sq);
    _mm256_store_si256(reinterpret_cast<__m256i*>(e), alp);
    for (int a3 = 0; a3 < kPos; ++a3) {
      if (beats(static_cast<Word16>(s[a3]), b.alpha, b.psc, static_cast<Word16>(e[a3]))) {
        b.psc = static_cast<Word16>(s[a3]);
        b.alpha = static_cast<Word16>(e[a3]);
        b.ip[0] = 5 * a0;
        b.ip[1] = 5 * a1 + 1;
        b.ip[2] = 5 * a2 + 2;
        b.ip[3] = 5 * a3 + t;
      }
    }
  }
}
#else
void scanAvx2(const TrackDn& dnT, const int16_t* rr, Best4& b, int a0, int a1, int a2, Word16 ps2, Word32 alp2) { __builtin_trap(); }
#endif

// ---------------------------------------------------------------------------
// Annex A depth-first search.

struct Fast {
  int16_t sign[kSubfr];
  int16_t signInv[kSubfr];
};

void prepareFast(int16_t* dn, int16_t* rr, Fast& f, bool avx2) {
  if (avx2) {
    simd::targetSigns(dn, f.sign, f.signInv);
  } else {
    for (int i = 0; i < kSubfr; ++i) {
      if (dn[i] >= 0) {
        f.sign[i] = kMax16;
        f.signInv[i] = kMin16;
      } else {
        f.sign[i] = kMin16;
        f.signInv[i] = kMax16;
        dn[i] = negate(dn[i]);
      }
    }
  }
  // Signs of a row: the sign vector itself, or its inverse for a negative
  // row position (mult by an exact +-1 of 0x7FFF / 0x8000).
  auto fold = [&](int16_t* block, int ta, int tb) {
    if (avx2) {
      simd::foldSigns(block, ta, tb, f.sign, false);
      return;
    }
    for (int a = 0; a < kPos; ++a) {
      const int16_t* ps = f.sign[5 * a + ta] < 0 ? f.signInv : f.sign;
      for (int c = 0; c < kPos; ++c, ++block) *block = mult(*block, ps[5 * c + tb]);
    }
  };
  fold(rr + k01, 0, 1);
  fold(rr + k02, 0, 2);
  fold(rr + k03, 0, 3);
  fold(rr + k04, 0, 4);
  fold(rr + k12, 1, 2);
  fold(rr + k13, 1, 3);
  fold(rr + k14, 1, 4);
  fold(rr + k23, 2, 3);
  fold(rr + k24, 2, 4);
}

// Pair search state: best (sq, alp) and the positions that gave it.
struct Pair {
  Word16 sq = -1, alp = 1, ps = 0;
  int ix = 0, iy = 0;
};

// Eight candidates of a pair search in 32-bit lanes: energy
// round(base + 2 wa a[k] + 2 wb b[k]) and squared correlation
// mult(add(ps, dn[k]), same).  Exact when |base| leaves room for the two
// steps; returns false otherwise.
#if defined(VOKSC_X86)
__attribute__((target("avx2"))) inline bool rowOfPair(Word32 base, const int16_t* a, int wa, const int16_t* b,
                                                      int wb, Word16 ps, const int16_t* dn, __m256i& sq,
                                                      __m256i& alp) {
  const Word32 room = static_cast<Word32>(2 * (wa + wb) * 32768);  // weights are at most 16384
  if (base > kMax32 - room || base < kMin32 + room) return false;
  __m256i chain = _mm256_add_epi32(_mm256_set1_epi32(base), _mm256_mullo_epi32(load8(a), _mm256_set1_epi32(2 * wa)));
  chain = _mm256_add_epi32(chain, _mm256_mullo_epi32(load8(b), _mm256_set1_epi32(2 * wb)));
  // round(): (chain + 0x8000) >> 16, 32767 from 0x7FFF8000 up.
  const __m256i top = _mm256_cmpgt_epi32(chain, _mm256_set1_epi32(0x7FFF7FFF));
  alp = _mm256_srai_epi32(_mm256_add_epi32(chain, _mm256_set1_epi32(0x8000)), 16);
  alp = _mm256_blendv_epi8(alp, _mm256_set1_epi32(kMax16), top);
  const __m256i p = sat16x8(_mm256_add_epi32(_mm256_set1_epi32(ps), load8(dn)));
  sq = _mm256_min_epi32(_mm256_srai_epi32(_mm256_mullo_epi32(p, p), 15), _mm256_set1_epi32(kMax16));
  return true;
}
#endif

// One pair candidate, as the reference: chain from base with the two
// weighted steps, rounded energy, squared correlation, comparison.
inline bool tryPair(Pair& p, Word32 base, Word16 a, Word16 wa, Word16 b, Word16 wb, Word16 ps2) {
  Word32 alp2 = L_mac(base, a, wa);
  alp2 = L_mac(alp2, b, wb);
  const Word16 sq2 = mult(ps2, ps2);
  const Word16 alp16 = round_fx(alp2);
  if (L_msu(L_mult(p.alp, sq2), p.sq, alp16) > 0) {
    p.sq = sq2;
    p.alp = alp16;
    return true;
  }
  return false;
}

// A row of eight pair candidates: x fixed, y = yPos[k]; base chain, rows a
// (weight wa) and b (weight wb) of 16-bit values, dn of the y positions.
// setPs: the phase keeps the winner's correlation.
__attribute__((always_inline)) inline void pairRowScalar(Pair& p, Word32 base, const int16_t* a, Word16 wa,
                                                         const int16_t* b, Word16 wb, Word16 ps1, const int16_t* dnY,
                                                         int x, const int* yPos, bool setPs) {
  const Word32 room = static_cast<Word32>(2 * (wa + wb) * 32768);  // weights are at most 16384
  if (base <= kMax32 - room && base >= kMin32 + room) {
    // The chain cannot saturate: the eight energies and squared
    // correlations in plain 32-bit arithmetic (as the AVX2 lanes), then the
    // comparisons in order, each against the best so far.  The comparison
    // L_msu(L_mult(alp, sq2), sq, alp16) > 0 has the sign of the exact
    // difference of the two products (saturation keeps the sign).
    int32_t sq[8], alp[8];
    for (int k = 0; k < 8; ++k) {
      const int32_t chain = base + 2 * wa * a[k] + 2 * wb * b[k];
      alp[k] = chain > 0x7FFF7FFF ? kMax16 : (chain + 0x8000) >> 16;
      int32_t ps = ps1 + dnY[k];
      ps = ps > kMax16 ? kMax16 : ps < kMin16 ? kMin16 : ps;
      const int32_t sq2 = (ps * ps) >> 15;
      sq[k] = sq2 > kMax16 ? kMax16 : sq2;
    }
    for (int k = 0; k < 8; ++k) {
      if (sq[k] * p.alp > p.sq * alp[k]) {
        p.sq = static_cast<Word16>(sq[k]);
        p.alp = static_cast<Word16>(alp[k]);
        if (setPs) p.ps = add(ps1, dnY[k]);
        p.ix = x;
        p.iy = yPos[k];
      }
    }
    return;
  }
  for (int k = 0; k < 8; ++k) {
    const Word16 ps2 = add(ps1, dnY[k]);
    if (tryPair(p, base, a[k], wa, b[k], wb, ps2)) {
      if (setPs) p.ps = ps2;
      p.ix = x;
      p.iy = yPos[k];
    }
  }
}

#if defined(VOKSC_X86)
__attribute__((target("avx2"))) void pairRowAvx2(Pair& p, Word32 base, const int16_t* a, Word16 wa,
                                                 const int16_t* b, Word16 wb, Word16 ps1, const int16_t* dnY, int x,
                                                 const int* yPos, bool setPs) {
  __m256i sq, alp;
  if (!rowOfPair(base, a, wa, b, wb, ps1, dnY, sq, alp)) {
    pairRowScalar(p, base, a, wa, b, wb, ps1, dnY, x, yPos, setPs);
    return;
  }
  // Lanes that beat the current best: alp sq2 > sq alp16.
  const __m256i lhs = _mm256_mullo_epi32(sq, _mm256_set1_epi32(p.alp));
  const __m256i rhs = _mm256_mullo_epi32(_mm256_set1_epi32(p.sq), alp);
  const unsigned beats = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(lhs, rhs))));
  if (beats == 0) return;
  alignas(32) int32_t s[8], e[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(s), sq);
  _mm256_store_si256(reinterpret_cast<__m256i*>(e), alp);
  // With the best's energy and every lane's positive, "beats" compares the
  // ratios sq / alp, an order: a lane that does not beat the best at entry
  // cannot beat a later best either, so only the lanes marked are walked
  // (in order, each against the best so far).  Otherwise all eight.
  const bool positive = p.alp > 0 && _mm256_movemask_ps(_mm256_castsi256_ps(
                                         _mm256_cmpgt_epi32(alp, _mm256_setzero_si256()))) == 0xFF;
  for (unsigned m = positive ? beats : 0xFFu; m != 0; m &= m - 1) {
    const int k = __builtin_ctz(m);
    if (L_msu(L_mult(p.alp, static_cast<Word16>(s[k])), p.sq, static_cast<Word16>(e[k])) > 0) {
      p.sq = static_cast<Word16>(s[k]);
      p.alp = static_cast<Word16>(e[k]);
      if (setPs) p.ps = add(ps1, dnY[k]);
      p.ix = x;
      p.iy = yPos[k];
    }
  }
}
#else
void pairRowAvx2(Pair& p, Word32 base, const int16_t* a, Word16 wa, const int16_t* b, Word16 wb, Word16 ps1, const int16_t* dnY, int x, const int* yPos, bool setPs) { __builtin_trap(); }
#endif

// The rows of a search phase: row r fixes x = x[r] and carries its energy
// base, its first operand a[r] (eight values) and its correlation ps1[r];
// the second operand, its weight and the y positions are the phase's.
struct PairRows {
  int n = 0;
  Word32 base[kPos];
  const int16_t* a[kPos];
  Word16 ps1[kPos];
  int x[kPos];
  void add(Word32 b, const int16_t* row, Word16 ps, int xr) {
    base[n] = b;
    a[n] = row;
    ps1[n] = ps;
    x[n] = xr;
    ++n;
  }
};

// All rows of a phase at once.  While every energy is positive (the best's
// at entry too), "beats" compares the ratios sq / alp, a strict order, so
// walking the candidates one by one ends on the first candidate of the
// largest ratio, if that beats the entry best, and nowhere otherwise.  The
// lanes keep, row after row, the first row of their largest ratio; the
// eight lanes then give the first candidate in row order.  The products
// sq alp are below 2^30, so the cross comparisons are exact in 32 bits.
// A row whose chain could saturate, or an energy that is not positive,
// sends the phase through the row walk.
#if defined(VOKSC_X86)
// Eight candidates of one row each: squared correlation, energy and
// 8 row + lane, a key in walk order; a lane keeps `later` only when its
// ratio is larger (the products are below 2^30, the energies positive),
// or, across lanes, equal and earlier in the walk (earlier row, or the
// same row and an earlier lane).
using Lanes = voksc::lanes::RatioLanes;
using voksc::lanes::halvesSwapped;
using voksc::lanes::keepBetter;
using voksc::lanes::shuffled;
#endif

#if defined(VOKSC_X86)
// Row r of a phase in lanes: energy (rounded chain), squared correlation
// and walk key of its eight candidates; `positive` keeps the lanes whose
// energies so far are all positive.
__attribute__((target("avx2"), always_inline)) inline Lanes rowLanes(const PairRows& rows, int r, __m256i wa2,
                                                                     __m256i bTerm, __m128i dn, __m256i lane,
                                                                     __m256i& positive) {
  Lanes c;
  __m256i chain = _mm256_add_epi32(_mm256_set1_epi32(rows.base[r]), _mm256_mullo_epi32(load8(rows.a[r]), wa2));
  chain = _mm256_add_epi32(chain, bTerm);
  // round(): (chain + 0x8000) >> 16, 32767 from 0x7FFF8000 up.
  c.alp = _mm256_srai_epi32(
      _mm256_add_epi32(_mm256_min_epi32(chain, _mm256_set1_epi32(0x7FFF7FFF)), _mm256_set1_epi32(0x8000)), 16);
  // add() saturates in 16 bits; mult(ps, ps) is (ps ps) >> 15 capped at 32767.
  const __m256i ps = _mm256_cvtepi16_epi32(_mm_adds_epi16(_mm_set1_epi16(rows.ps1[r]), dn));
  c.sq = _mm256_min_epi32(_mm256_srai_epi32(_mm256_mullo_epi32(ps, ps), 15), _mm256_set1_epi32(kMax16));
  c.key = _mm256_add_epi32(_mm256_set1_epi32(8 * r), lane);
  positive = _mm256_and_si256(positive, _mm256_cmpgt_epi32(c.alp, _mm256_setzero_si256()));
  return c;
}

// The lane form of a phase whose rows all leave room (kRows rows, or
// rows.n for 0: a known count lets the compiler keep the rows in
// registers); false when an energy is not positive.
template <int kRows>
__attribute__((target("avx2"))) inline bool pairRowsLanes(Pair& p, const PairRows& rows, Word16 wa, const int16_t* b,
                                                          Word16 wb, const int16_t* dnY, const int* yPos, bool setPs) {
  const int n = kRows ? kRows : rows.n;
  const __m256i bTerm = _mm256_mullo_epi32(load8(b), _mm256_set1_epi32(2 * wb));
  const __m256i wa2 = _mm256_set1_epi32(2 * wa);
  const __m128i dn = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dnY));
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i positive = _mm256_set1_epi32(-1);
  // The rows pairwise, earlier against later, a tree of depth three
  // instead of a chain of seven comparisons: with the order strict weak,
  // the first row of the largest ratio wins either way.  The tree is formed
  // while the rows are (a known row count keeps it in registers); its
  // result counts only when every energy turns out positive.
  Lanes w;
  if (kRows == 8) {
    Lanes l[8];
    for (int r = 0; r < 8; ++r) l[r] = rowLanes(rows, r, wa2, bTerm, dn, lane, positive);
    const Lanes first = keepBetter(keepBetter(l[0], l[1], false), keepBetter(l[2], l[3], false), false);
    const Lanes second = keepBetter(keepBetter(l[4], l[5], false), keepBetter(l[6], l[7], false), false);
    w = keepBetter(first, second, false);
  } else if (kRows == 2) {
    const Lanes l0 = rowLanes(rows, 0, wa2, bTerm, dn, lane, positive);
    w = keepBetter(l0, rowLanes(rows, 1, wa2, bTerm, dn, lane, positive), false);
  } else {
    Lanes c[kPos];
    for (int r = 0; r < n; ++r) c[r] = rowLanes(rows, r, wa2, bTerm, dn, lane, positive);
    for (int k = n; k > 1;) {
      int m = 0;
      for (int r = 0; r + 1 < k; r += 2) c[m++] = keepBetter(c[r], c[r + 1], false);
      if (k & 1) c[m++] = c[k - 1];
      k = m;
    }
    w = c[0];
  }
  if (_mm256_movemask_ps(_mm256_castsi256_ps(positive)) != 0xFF) return false;
  // Then the lanes the same way (a lane of an earlier row first, then the
  // earlier lane), each time two neighbouring runs of lanes: pairs,
  // quarters, halves.
  w = keepBetter(w, shuffled<0xB1>(w), true);
  w = keepBetter(w, shuffled<0x4E>(w), true);
  w = keepBetter(w, halvesSwapped(w), true);
  const int32_t sq = _mm256_cvtsi256_si32(w.sq), alp = _mm256_cvtsi256_si32(w.alp);
  if (sq * p.alp > p.sq * alp) {
    const int key = _mm256_cvtsi256_si32(w.key), r = key >> 3, k = key & 7;
    p.sq = static_cast<Word16>(sq);
    p.alp = static_cast<Word16>(alp);
    if (setPs) p.ps = add(rows.ps1[r], dnY[k]);
    p.ix = rows.x[r];
    p.iy = yPos[k];
  }
  return true;
}

// True when the lane form ran (every row had room and every energy was
// positive): then the phase's winner replaced every field of p it sets.
__attribute__((target("avx2"))) bool pairRowsAvx2(Pair& p, const PairRows& rows, Word16 wa, const int16_t* b,
                                                  Word16 wb, const int16_t* dnY, const int* yPos, bool setPs) {
  const Word32 room = static_cast<Word32>(2 * (wa + wb) * 32768);  // weights are at most 16384
  bool lanes = p.alp > 0;
  for (int r = 0; r < rows.n; ++r) lanes &= rows.base[r] <= kMax32 - room && rows.base[r] >= kMin32 + room;
  if (lanes) {
    if (rows.n == kPos ? pairRowsLanes<kPos>(p, rows, wa, b, wb, dnY, yPos, setPs)
        : rows.n == 2  ? pairRowsLanes<2>(p, rows, wa, b, wb, dnY, yPos, setPs)
                       : pairRowsLanes<0>(p, rows, wa, b, wb, dnY, yPos, setPs))
      return true;
  }
  for (int r = 0; r < rows.n; ++r)
    pairRowAvx2(p, rows.base[r], rows.a[r], wa, b, wb, rows.ps1[r], dnY, rows.x[r], yPos, setPs);
  return false;
}
#else
bool pairRowsAvx2(Pair&, const PairRows&, Word16, const int16_t*, Word16, const int16_t*, const int*, bool) {
  __builtin_trap();
}
#endif

// As pairRowsAvx2 for the vector form; the row walk reports false.
template <bool kAvx>
inline bool pairRows(Pair& p, const PairRows& rows, Word16 wa, const int16_t* b, Word16 wb, const int16_t* dnY,
                     const int* yPos, bool setPs) {
  if (kAvx) return pairRowsAvx2(p, rows, wa, b, wb, dnY, yPos, setPs);
  for (int r = 0; r < rows.n; ++r)
    pairRowScalar(p, rows.base[r], rows.a[r], wa, b, wb, rows.ps1[r], dnY, rows.x[r], yPos, setPs);
  return false;
}

// Position of the largest |dn| on a track other than `skip` (a later
// position displaces only on a strictly larger value).  The magnitudes are
// never negative, so some position always wins; the vector form takes the
// first smallest of 32767 - |dn| (phminposuw gives the lowest index of
// equal minima) with the skipped lane at 0xFFFF, above every other.
int trackMax(const int16_t* dn, int track, int skip) {
  Word16 mx = -1;
  int at = 0;
  for (int j = track; j < kSubfr; j += 5)
    if (dn[j] > mx && j != skip) {
      mx = dn[j];
      at = j;
    }
  return at;
}

#if defined(VOKSC_X86)
__attribute__((target("avx2"))) int trackMaxAvx2(const int16_t* dnTrack, int track, int skip) {
  const __m128i inv = _mm_sub_epi16(_mm_set1_epi16(kMax16), _mm_loadu_si128(reinterpret_cast<const __m128i*>(dnTrack)));
  const int skipLane = skip >= 0 ? (skip - track) / 5 : 8;  // lane 8: none
  const __m128i lanes = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
  const __m128i v = _mm_or_si128(inv, _mm_cmpeq_epi16(lanes, _mm_set1_epi16(static_cast<int16_t>(skipLane))));
  return track + 5 * (_mm_extract_epi16(_mm_minpos_epu16(v), 1) & 7);
}
#else
int trackMaxAvx2(const int16_t* dnTrack, int track, int skip) { __builtin_trap(); }
#endif

// The sums that prepare a phase B, from 16-bit matrix values: the rounded
// round(L_mac(L_mac(L_mult(x, 8192), y, 8192), z, 4096)) and the row base
// L_mac(L_mac(L_mac(alp0, x, 4096), y, 4096), z, 2048) with alp0 =
// L_mult(alp, 8192).  Their magnitudes stay below 1.25 2^30 whatever the
// values (2^30 + 2^28, and 2^29 + 2^28 + 2^28 + 2^27), so no step and no
// rounding can saturate: plain 32-bit sums.
inline Word16 roundedSum(Word16 x, Word16 y, Word16 z) {
  return static_cast<Word16>((16384 * (int32_t{x} + y) + 8192 * int32_t{z} + 0x8000) >> 16);
}

inline Word32 rowBase(Word32 alp0, Word16 x, Word16 y, Word16 z) {
  return alp0 + 8192 * (int32_t{x} + y) + 4096 * int32_t{z};
}

// out[a] = word(a) for a = 0..7.  With SSE2 the eight words go out in one
// 16-byte store: the search's vector load of them then takes them from that
// store, where after eight word stores it must wait for them to reach the
// cache.
template <class Word>
__attribute__((always_inline)) inline void words8(int16_t* out, Word word) {
#if defined(__SSE2__)
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_setr_epi16(word(0), word(1), word(2), word(3), word(4), word(5), word(6), word(7)));
#else
  for (int a = 0; a < 8; ++a) out[a] = word(a);
#endif
}

// The two tracks a search pair runs on (3 and 4) and their blocks.
struct FastTrack {
  int t;
  const int16_t *rTT, *r0T, *r1T, *r2T;
};

// The four pair searches of a subframe: search 3 (i0 on track 2, i1 on t,
// then i2 on track 0, i3 on track 1) and search 4 (i0 on t, i1 on track 0,
// then i2 on track 1, i3 on track 2), each for t = 3 and 4, in that order;
// the best of the four by sq / alp wins (the first on a tie).  Each phase
// starts from sq = -1, alp = 1, so its first candidate always beats that
// when its energy is positive; only in the row walk can a phase leave
// fields of the previous one in place (positions, correlation), which is
// why the plain order carries one pair through all eight phases.
template <bool kAvx>
PulseResult searchFast(int16_t* dn, int16_t* rr, int16_t* code) {
  Fast f;
  prepareFast(dn, rr, f, kAvx);
  int16_t dnT[kTracks][kPos];
  int posT[kTracks][kPos];
  for (int t = 0; t < kTracks; ++t)
    for (int a = 0; a < kPos; ++a) {
      dnT[t][a] = dn[5 * a + t];
      posT[t][a] = 5 * a + t;
    }
  auto col = [&](const int16_t* block, int c, int16_t* out) {  // column c of a cross block
    words8(out, [&](int a) { return block[a * kPos + c]; });
  };
  const FastTrack tracks[2] = {{3, rr + kD3, rr + k03, rr + k13, rr + k23},
                               {4, rr + kD4, rr + k04, rr + k14, rr + k24}};
  // The two largest |dn| of a track, in that order.
  auto twoLargest = [&](int t, int* at) {
    for (int pass = 0, prev = -1; pass < 2; ++pass)
      prev = at[pass] = kAvx ? trackMaxAvx2(dnT[t], t, prev) : trackMax(dn, t, prev);
  };

  // Search 3, phase A: i0 on track 2 (two largest |dn|), i1 on this track.
  auto search3A = [&](const FastTrack& k, Pair& p) {
    p.sq = -1;
    p.alp = 1;
    int at[2];
    twoLargest(2, at);
    PairRows rows;
    for (int i0 : at) rows.add(L_mult(rr[kD2 + i0 / 5], 8192), k.r2T + (i0 / 5) * kPos, dn[i0], i0);
    return pairRows<kAvx>(p, rows, 16384, k.rTT, 8192, dnT[k.t], posT[k.t], true);
  };
  // Phase B from phase A's pair: i2 on track 0, i3 on track 1.
  auto search3B = [&](const FastTrack& k, Pair& p, int* ends, int16_t* tmp) {
    const int i0 = ends[0] = p.ix, i1 = ends[1] = p.iy;
    const Word16 ps0 = p.ps;
    const Word32 alp0 = L_mult(p.alp, 8192);
    p.sq = -1;
    p.alp = 1;
    words8(tmp, [&](int a) { return roundedSum(rr[k12 + a * kPos + i0 / 5], k.r1T[a * kPos + i1 / 5], rr[kD1 + a]); });
    PairRows rows;
    for (int a2 = 0; a2 < kPos; ++a2) {
      const Word32 alp1 = rowBase(alp0, rr[k02 + a2 * kPos + i0 / 5], k.r0T[a2 * kPos + i1 / 5], rr[kD0 + a2]);
      rows.add(alp1, rr + k01 + a2 * kPos, add(ps0, dnT[0][a2]), 5 * a2);
    }
    return pairRows<kAvx>(p, rows, 4096, tmp, 16384, dnT[1], posT[1], false);
  };
  // Search 4, phase A: i0 on this track (two largest |dn|), i1 on track 0.
  auto search4A = [&](const FastTrack& k, Pair& p, int16_t (&cols)[2][kPos]) {
    p.sq = -1;
    p.alp = 1;
    int at[2];
    twoLargest(k.t, at);
    PairRows rows;
    for (int pass = 0; pass < 2; ++pass) {
      const int j = at[pass] / 5;
      col(k.r0T, j, cols[pass]);
      rows.add(L_mult(k.rTT[j], 8192), cols[pass], dn[at[pass]], at[pass]);
    }
    return pairRows<kAvx>(p, rows, 16384, rr + kD0, 8192, dnT[0], posT[0], true);
  };
  // Phase B: i2 on track 1, i3 on track 2.
  auto search4B = [&](const FastTrack& k, Pair& p, int* ends, int16_t* tmp, int16_t (&cols)[2][kPos]) {
    const int i0 = ends[0] = p.ix, i1 = ends[1] = p.iy;
    const int i1Row = (i1 / 5) * kPos;
    const Word16 ps0 = p.ps;
    const Word32 alp0 = L_mult(p.alp, 8192);
    p.sq = -1;
    p.alp = 1;
    col(k.r2T, i0 / 5, cols[0]);
    words8(tmp, [&](int a) { return roundedSum(cols[0][a], rr[k02 + i1Row + a], rr[kD2 + a]); });
    col(k.r1T, i0 / 5, cols[1]);
    PairRows rows;
    for (int a2 = 0; a2 < kPos; ++a2) {
      const Word32 alp1 = rowBase(alp0, cols[1][a2], rr[k01 + i1Row + a2], rr[kD1 + a2]);
      rows.add(alp1, rr + k12 + a2 * kPos, add(ps0, dnT[1][a2]), 5 * a2 + 1);
    }
    return pairRows<kAvx>(p, rows, 4096, tmp, 16384, dnT[2], posT[2], false);
  };

  Word16 psk = -1, alpk = 1;
  int ip[4] = {0, 1, 2, 3};
  // Search s's result (phase B's pair, phase A's ends) against the best.
  auto choose = [&](int s, const Pair& p, const int* ends) {
    if (L_msu(L_mult(alpk, p.sq), psk, p.alp) > 0) {
      psk = p.sq;
      alpk = p.alp;
      const int four[2][4] = {{p.ix, p.iy, ends[0], ends[1]}, {ends[1], p.ix, p.iy, ends[0]}};
      for (int i = 0; i < 4; ++i) ip[i] = four[s][i];
    }
  };
  int16_t tmp[4][kPos], cols[4][2][kPos];
  int ends[4][2];
  if (kAvx) {
    // The four searches side by side, phase A of each, then phase B of
    // each: four independent chains for the processor to overlap.  Exact
    // when every phase ran the lane form (then no field of a pair outlives
    // its phase); otherwise the searches run again in the carried order.
    Pair q[4];
    bool lanes = true;
    for (int s = 0; s < 4; ++s) {
      const FastTrack& k = tracks[s >> 1];
      lanes &= s & 1 ? search4A(k, q[s], cols[s]) : search3A(k, q[s]);
    }
    for (int s = 0; s < 4; ++s) {
      const FastTrack& k = tracks[s >> 1];
      lanes &= s & 1 ? search4B(k, q[s], ends[s], tmp[s], cols[s]) : search3B(k, q[s], ends[s], tmp[s]);
    }
    if (lanes) {
      for (int s = 0; s < 4; ++s) choose(s & 1, q[s], ends[s]);
      return packFour(f.sign, ip[0], ip[1], ip[2], ip[3], code);
    }
  }
  Pair p;  // positions and correlation carry over from phase to phase
  for (const FastTrack& k : tracks) {
    search3A(k, p);
    search3B(k, p, ends[0], tmp[0]);
    choose(0, p, ends[0]);
    search4A(k, p, cols[1]);
    search4B(k, p, ends[1], tmp[1], cols[1]);
    choose(1, p, ends[1]);
  }
  return packFour(f.sign, ip[0], ip[1], ip[2], ip[3], code);
}

}  // namespace

PulseResult searchG729_scalar(int16_t* dn, int16_t* rr, int16_t* code, int16_t* budget, bool firstSubframe) {
  Focused f;
  prepareFocused(dn, rr, f, false);
  Best4 b;
  focusedLoops(dn, rr, f, budget, firstSubframe, b, [&](Best4& bb, int a0, int a1, int a2, Word16 ps2, Word32 alp2) {
    scanScalar(dn, rr, bb, a0, a1, a2, ps2, alp2);
  });
  return packFour(f.sign, b.ip[0], b.ip[1], b.ip[2], b.ip[3], code);
}

PulseResult searchG729_avx2(int16_t* dn, int16_t* rr, int16_t* code, int16_t* budget, bool firstSubframe) {
  Focused f;
  prepareFocused(dn, rr, f, true);
  TrackDn dnT;
  for (int t = 0; t < kTracks; ++t)
    for (int a = 0; a < kPos; ++a) dnT.v[t][a] = dn[5 * a + t];
  Best4 b;
  focusedLoops(dn, rr, f, budget, firstSubframe, b, [&](Best4& bb, int a0, int a1, int a2, Word16 ps2, Word32 alp2) {
    scanAvx2(dnT, rr, bb, a0, a1, a2, ps2, alp2);
  });
  return packFour(f.sign, b.ip[0], b.ip[1], b.ip[2], b.ip[3], code);
}

PulseResult searchG729A_scalar(int16_t* dn, int16_t* rr, int16_t* code) { return searchFast<false>(dn, rr, code); }

PulseResult searchG729A_avx2(int16_t* dn, int16_t* rr, int16_t* code) { return searchFast<true>(dn, rr, code); }

}  // namespace voksc::g729::fcb

using namespace voksc::g729;

namespace {

fcb::PulseResult searchG729(int16_t* dn, int16_t* rr, int16_t* code, int16_t* budget, bool first) {
  static const auto form = voksc::cpu::choose(fcb::searchG729_scalar, fcb::searchG729_avx2);
  return form(dn, rr, code, budget, first);
}
fcb::PulseResult searchG729A(int16_t* dn, int16_t* rr, int16_t* code) {
  static const auto form = voksc::cpu::choose(fcb::searchG729A_scalar, fcb::searchG729A_avx2);
  return form(dn, rr, code);
}

// The 32-bit matrix is shifted down by 15 in place; the search runs on its
// 16-bit copy.
void narrowMatrix(Vok32s* rr32, int16_t* rr16) {
  for (int i = 0; i < fcb::kMatrix; ++i) {
    rr32[i] >>= 15;
    rr16[i] = sat16(rr32[i]);
  }
}

}  // namespace

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729_16s(const Vok16s* dn, Vok16s* rr, Vok16s* cod, Vok16s* index,
                                                        Vok16s* budget, int subframe) {
  if (anyNull(dn, rr, cod, index, budget)) return vokErrNullPtr;
  if (subframe != 0 && subframe != 1) return vokErrRange;
  int16_t d[fcb::kSubfr];
  std::memcpy(d, dn, sizeof d);
  const fcb::PulseResult r = searchG729(d, rr, cod, budget, subframe == 0);
  index[0] = r.index;
  index[1] = r.signs;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729_32s16s(const Vok16s* dn, Vok32s* rr, Vok16s* cod, Vok16s* index,
                                                           Vok16s* budget, int subframe) {
  if (anyNull(dn, rr, cod, index, budget)) return vokErrNullPtr;
  if (subframe < 0) return vokErrRange;
  int16_t d[fcb::kSubfr], r16[fcb::kMatrix];
  std::memcpy(d, dn, sizeof d);
  narrowMatrix(rr, r16);
  const fcb::PulseResult r = searchG729(d, r16, cod, budget, subframe == 0);
  index[0] = r.index;
  index[1] = r.signs;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729A_16s(const Vok16s* dn, Vok16s* rr, Vok16s* cod, Vok16s* index) {
  if (anyNull(dn, rr, cod, index)) return vokErrNullPtr;
  int16_t d[fcb::kSubfr];
  std::memcpy(d, dn, sizeof d);
  const fcb::PulseResult r = searchG729A(d, rr, cod);
  index[0] = r.index;
  index[1] = r.signs;
  return vokOk;
}

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729A_32s16s(const Vok16s* dn, Vok32s* rr, Vok16s* cod,
                                                            Vok16s* index) {
  if (anyNull(dn, rr, cod, index)) return vokErrNullPtr;
  int16_t d[fcb::kSubfr], r16[fcb::kMatrix];
  std::memcpy(d, dn, sizeof d);
  narrowMatrix(rr, r16);
  const fcb::PulseResult r = searchG729A(d, r16, cod);
  index[0] = r.index;
  index[1] = r.signs;
  return vokOk;
}
