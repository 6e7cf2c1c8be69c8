// G.723.1 5.3 kbit/s algebraic codebook: correlation matrix of the four
// interleaved tracks and the budgeted four-pulse search.
//
// Track t holds the positions 8 i + 2 t (i = 0..7); a common shift of one
// moves all four pulses to the odd positions.  Matrix layout (416 values):
// the four diagonals r_tt[i] (8 each), then the cross blocks r01, r02,
// r03, r12, r13, r23, each 8 x 8 with the lower track's index first.
#include <cstdint>
#include <cstring>

#include "core/status.h"
#include "g723_internal.h"

namespace voksc::g723 {
namespace {

using namespace op;

constexpr int kPos = 8;
constexpr int kDiag = 4 * kPos;
constexpr int kSize = kDiag + 6 * kPos * kPos;

// Offset of cross block (a, b), a < b.
int blockAt(int a, int b) {
  static const int order[4][4] = {{0, 0, 1, 2}, {0, 0, 3, 4}, {0, 0, 0, 5}, {0, 0, 0, 0}};
  return kDiag + order[a][b] * kPos * kPos;
}

inline int position(int track, int i) { return 8 * i + 2 * track; }

// Correlations of the scaled response for pulses at positions p and q:
// sum over m = 0 .. 59 - max(p, q) of h[m] h[m + |p - q|], accumulated in
// increasing m with saturation (positions past the subframe give 0).
// Returned undoubled (half the doubled operator sum).
void correlations(const Word16* impResp, Word32* out) {
  Word32 e = 0;
  for (int i = 0; i < kSubframe; ++i) e = L_mac(e, impResp[i], impResp[i]);
  Word16 h[kSubframe];
  if (extract_h(e) > 32000) {
    for (int i = 0; i < kSubframe; ++i) h[i] = shr(impResp[i], 1);
  } else {
    const Word16 k = shr(norm_l(e), 1);
    for (int i = 0; i < kSubframe; ++i) h[i] = shl(impResp[i], k);
  }
  // Every partial sum of products h[m] h[m + d] is bounded by the energy of
  // h (Cauchy-Schwarz): when twice the energy fits 32 bits no chain
  // saturates, and each correlation is a prefix of the exact lagged sums
  // (prefix[d][n]: the first n products at lag d).
  int64_t energy = 0;
  for (int i = 0; i < kSubframe; ++i) energy += h[i] * h[i];
  const bool exact = 2 * energy <= kMax32;
  int32_t prefix[kSubframe][kSubframe + 1];
  if (exact)
    for (int d = 0; d < kSubframe; ++d) {
      int32_t sum = 0;
      prefix[d][0] = 0;
      for (int n = 1; n <= kSubframe - d; ++n) prefix[d][n] = sum += h[n - 1] * h[n - 1 + d];
    }
  auto corr = [&](int p, int q) {
    const int lo = p < q ? p : q, hi = p < q ? q : p;
    if (exact) return hi >= kSubframe ? Word32{0} : prefix[hi - lo][kSubframe - hi];
    Word32 acc = 0;
    for (int m = 0; m <= kSubframe - 1 - hi; ++m) acc = L_mac(acc, h[m], h[m + hi - lo]);
    return acc >> 1;
  };
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < kPos; ++i) out[kPos * t + i] = corr(position(t, i), position(t, i));
  for (int a = 0; a < 4; ++a)
    for (int b = a + 1; b < 4; ++b)
      for (int i = 0; i < kPos; ++i)
        for (int j = 0; j < kPos; ++j) out[blockAt(a, b) + kPos * i + j] = corr(position(a, i), position(b, j));
}

struct AcelpResult {
  Vok16s signs[4], pos[4], shift;
};

// The search on the 16-bit matrix (the reference's precision).
void search(const Vok16s* dnIn, const Word16* matrix, Vok16s& budget, AcelpResult& res) {
  Word16 dn[kSubframe + 4], rr[kSize], sign[32];
  std::memcpy(dn, dnIn, sizeof(Word16) * kSubframe);
  std::memset(dn + kSubframe, 0, sizeof(Word16) * 4);
  std::memcpy(rr, matrix, sizeof rr);
  // One sign per pair of positions, from the sum of their correlations.
  for (int i = 0; i < kSubframe; i += 2) {
    if (add(dn[i], dn[i + 1]) >= 0) {
      sign[i / 2] = 1;
    } else {
      sign[i / 2] = -1;
      dn[i] = static_cast<Word16>(-dn[i]);
      dn[i + 1] = static_cast<Word16>(-dn[i + 1]);
    }
  }
  sign[30] = sign[31] = 1;
  // Threshold for entering the fourth pulse: halfway between the mean and
  // the sum of the three track maxima, the larger over both shifts.
  Word16 thres = 0;
  for (int s = 0; s < 2; ++s) {
    Word16 mx[3] = {dn[s], dn[s + 2], dn[s + 4]};
    for (int i = 8 + s; i < kSubframe; i += 8)
      for (int t = 0; t < 3; ++t)
        if (dn[i + 2 * t] > mx[t]) mx[t] = dn[i + 2 * t];
    Word32 sum = 0;
    for (int i = s; i < kSubframe; i += 8)
      for (int t = 0; t < 3; ++t) sum = L_mac(sum, dn[i + 2 * t], 1);
    const Word16 mean = extract_l(L_shr(sum, 4));
    const Word16 top = add(add(mx[0], mx[1]), mx[2]);
    const Word16 th = add(mult(sub(top, mean), 16384), mean);
    if (s == 0 || th > thres) thres = th;
  }
  // Signs folded into the cross terms.
  for (int a = 0; a < 4; ++a)
    for (int b = a + 1; b < 4; ++b)
      for (int i = 0; i < kPos; ++i)
        for (int j = 0; j < kPos; ++j) {
          Word16& v = rr[blockAt(a, b) + kPos * i + j];
          v = static_cast<Word16>(v * sign[position(a, i) / 2] * sign[position(b, j) / 2]);
        }
  const Word16* r01 = rr + blockAt(0, 1);
  const Word16* r02 = rr + blockAt(0, 2);
  const Word16* r03 = rr + blockAt(0, 3);
  const Word16* r12 = rr + blockAt(1, 2);
  const Word16* r13 = rr + blockAt(1, 3);
  const Word16* r23 = rr + blockAt(2, 3);

  int best[4] = {0, 2, 4, 6}, bestShift = 0;
  Word16 bestSq = 0, bestEnergy = kMax16;
  int units = add(120, budget);
  for (int i0 = 0; i0 < kPos; ++i0) {
    const int p0 = position(0, i0);
    for (int i1 = 0; i1 < kPos; ++i1) {
      const int p1 = position(1, i1);
      const Word16 c1 = add(dn[p0], dn[p1]), c1odd = add(dn[p0 + 1], dn[p1 + 1]);
      Word32 e1 = L_mac(L_mac(L_mult(rr[i0], 1), rr[kPos + i1], 1), r01[kPos * i0 + i1], 2);
      for (int i2 = 0; i2 < kPos; ++i2) {
        const int p2 = position(2, i2);
        Word16 c2 = add(c1, dn[p2]);
        const Word16 c2odd = add(c1odd, dn[p2 + 1]);
        Word32 e2 = L_mac(e1, rr[2 * kPos + i2], 1);
        e2 = L_mac(e2, r02[kPos * i0 + i2], 2);
        e2 = L_mac(e2, r12[kPos * i1 + i2], 2);
        int shift = 0;
        if (c2odd > c2) shift = 1, c2 = c2odd;
        if (c2 <= thres) continue;
        for (int i3 = 0; i3 < kPos; ++i3) {
          const int p3 = position(3, i3);
          const Word16 c3 = add(c2, dn[p3 + shift]);
          Word32 e3 = L_mac(e2, rr[3 * kPos + i3], 1);
          e3 = L_mac(e3, r03[kPos * i0 + i3], 2);
          e3 = L_mac(e3, r13[kPos * i1 + i3], 2);
          e3 = L_mac(e3, r23[kPos * i2 + i3], 2);
          const Word16 energy = extract_l(L_shr(e3, 5));
          const Word16 sq = mult(c3, c3);
          if (L_mult(sq, bestEnergy) > L_mult(bestSq, energy)) {
            bestSq = sq;
            bestEnergy = energy;
            best[0] = p0, best[1] = p1, best[2] = p2, best[3] = p3;
            bestShift = shift;
          }
        }
        if (--units <= 0) goto done;
      }
    }
  }
done:
  budget = static_cast<Vok16s>(units);
  for (int k = 0; k < 4; ++k) {
    res.signs[k] = sign[best[k] / 2];
    res.pos[k] = static_cast<Vok16s>(best[k] + bestShift);
  }
  res.shift = static_cast<Vok16s>(bestShift);
}

void emit(const AcelpResult& r, Vok16s* signs, Vok16s* pos, Vok16s* shift, Vok16s* exc) {
  std::memset(exc, 0, sizeof(Vok16s) * kSubframe);
  for (int k = 0; k < 4; ++k) {
    signs[k] = r.signs[k];
    pos[k] = r.pos[k];
    if (r.pos[k] < kSubframe) exc[r.pos[k]] = r.signs[k];
  }
  *shift = r.shift;
}

}  // namespace
}  // namespace voksc::g723

using namespace voksc::g723;
using voksc::anyNull;
namespace op = voksc::op;

VOKSC_EXPORT VokResult voksToeplizMatrix_G723_16s32s(const Vok16s* impResp, Vok32s* matrix) {
  if (anyNull(impResp, matrix)) return vokErrNullPtr;
  correlations(impResp, matrix);
  return vokOk;
}

VOKSC_EXPORT VokResult voksToeplizMatrix_G723_16s(const Vok16s* impResp, Vok16s* matrix) {
  if (anyNull(impResp, matrix)) return vokErrNullPtr;
  Word32 m[kSize];
  correlations(impResp, m);
  for (int i = 0; i < kSize; ++i) matrix[i] = op::sat16(m[i] >> 15);
  return vokOk;
}

VOKSC_EXPORT VokResult voksACELPFixedCodebookSearch_G723_32s16s(const Vok16s* dn, const Vok32s* matrix, Vok16s* signs,
                                                                Vok16s* pos, Vok16s* shift, Vok16s* exc,
                                                                Vok16s* budget) {
  if (anyNull(dn, matrix, signs, pos, shift, exc, budget)) return vokErrNullPtr;
  Word16 m[kSize];
  for (int i = 0; i < kSize; ++i) m[i] = op::sat16(matrix[i] >> 15);
  AcelpResult r;
  Vok16s b = *budget;
  search(dn, m, b, r);
  emit(r, signs, pos, shift, exc);
  *budget = b;
  return vokOk;
}

VOKSC_EXPORT VokResult voksACELPFixedCodebookSearch_G723_16s(const Vok16s* dn, const Vok16s* matrix, Vok16s* signs,
                                                             Vok16s* pos, Vok16s* shift, Vok16s* exc, Vok16s* budget) {
  if (anyNull(dn, matrix, signs, pos, shift, exc, budget)) return vokErrNullPtr;
  AcelpResult r;
  Vok16s b = *budget;
  search(dn, matrix, b, r);
  emit(r, signs, pos, shift, exc);
  *budget = b;
  return vokOk;
}
