// GSM-AMR LP analysis and LSP quantisation: windowed autocorrelation, the
// Levinson-Durbin recursion and the LSP conversions (shared with G.729 where
// the arithmetic is the same), the split-VQ LSF quantisers of one and two
// sets per frame with their decoders and bad-frame concealment, and the
// LSP interpolation and pre-emphasis of the decoder.
#include <cstdint>
#include <cstring>

#include "amr_internal.h"
#include "common/basic_op.h"
#include "common/kernels.h"
#include "common/math_ops.h"
#include "core/cpu.h"
#include "core/status.h"
#include "g729/lp_internal.h"
#include "g729/lp_tables.h"
#include "lp_tables.h"

#if defined(VOKSC_X86)
#include <immintrin.h>
#endif

using namespace voksc::op;
using voksc::anyNull;
using voksc::vokMpy32x16;

namespace voksc::amr {

namespace {

constexpr int kWin = 240;
constexpr int16_t kPredFac122 = 21299;            // MA factor of the two-set quantiser (0.65)
constexpr int16_t kBadKeep = 29491, kBadMean = 3277;     // concealment, one set (0.9)
constexpr int16_t kBadKeep122 = 31128, kBadMean122 = 1639;  // concealment, two sets (0.95)

// Autocorrelation of one windowed block, normalised so that r[0] has its
// top bit at bit 30, then lag-windowed.  The energy is first formed as the
// doubled sum; a block whose doubled energy leaves 32 bits is divided by 4
// until it fits (the saturation test of the operator chain: all terms are
// positive, so the chain saturates exactly when the exact sum does).
void windowedAutocorr(const int16_t* x, const int16_t* win, int32_t* r) {
  int16_t y[kWin];
  for (int n = 0; n < kWin; ++n) y[n] = mult_r(x[n], win[n]);
  int64_t energy;
  for (;;) {
    kern::xcorrTrunc(y, y, kWin, 0, 1, &energy);
    if (energy < (int64_t{1} << 30)) break;
    for (int n = 0; n < kWin; ++n) y[n] = static_cast<int16_t>(y[n] >> 2);
  }
  const int32_t r0 = static_cast<int32_t>(2 * energy + 1);
  const int16_t norm = norm_l(r0);
  r[0] = r0 << norm;
  // |2 sum y[n] y[n+k]| <= 2 energy < r0: no lag saturates, before or after the shift.
  int64_t lags[kOrder];
  kern::xcorrTrunc(y, y, kWin, 1, kOrder, lags);
  for (int k = 1; k <= kOrder; ++k) r[k] = static_cast<int32_t>(2 * lags[k - 1] * (int64_t{1} << norm));
  g729::lpLagWindow(r + 1, kOrder);
}

// Chebyshev series of F1 or F2 (coefficients f[0..5] Q10) at x (Q15),
// result Q14: b_k = 2 x b_(k+1) - b_(k+2) + f_k kept as split 32-bit values
// with b = 1.0 at 2^24, the last step x b_1 - b_2 + f_5 / 2.
//
// The chain first runs on 64-bit values, each value at which an operator
// of the chain would saturate checked against 32 bits (the products of a
// split value's low half and x never saturate, that half being
// non-negative); when none leaves them, the saturating chain gives the
// same values.
int16_t chebyshevChain(int16_t x, const int16_t* f);
int16_t chebyshev(int16_t x, const int16_t* f) {
  // Every b1h below is the high half of a checked 32-bit value, so with
  // x > -2^15 the product 2 b1h x stays inside 32 bits.
  if (x == kMin16) return chebyshevChain(x, f);
  const int64_t xs = x;
  int64_t t = xs * 1024 + int64_t{f[1]} * 16384;  // below 2^30 in magnitude
  int64_t b1h = t >> 16, b1l = (t & 0xFFFF) >> 1, b2h = 256, b2l = 0;
  uint64_t out = 0;  // bits above 32 of any checked value, offset to be unsigned
  auto check = [&out](int64_t v) { out |= static_cast<uint64_t>(v + (int64_t{1} << 31)) >> 32; };
  for (int k = 2; k <= 5; ++k) {
    t = 2 * b1h * xs + 2 * ((b1l * xs) >> 15);
    if (k < 5) t *= 2;  // a sum outside 32 bits stays outside doubled
    check(t);
    const int64_t b2 = -65536 * b2h;  // L_mult(b2h, -32768)
    check(b2);
    t += b2;
    check(t);
    t -= 2 * b2l;
    check(t);
    t += int64_t{f[k]} * (k < 5 ? 16384 : 8192);
    check(t);
    b2h = b1h;
    b2l = b1l;
    b1h = t >> 16;
    b1l = (t & 0xFFFF) >> 1;
  }
  if (out != 0) return chebyshevChain(x, f);
  t *= 64;
  if (t > kMax32) t = kMax32;
  if (t < kMin32) t = kMin32;
  return static_cast<int16_t>(t >> 16);
}

int16_t chebyshevChain(int16_t x, const int16_t* f) {
  int16_t b2h = 256, b2l = 0, b1h, b1l;
  L_Extract(L_mac(L_mult(x, 512), f[1], 8192), b1h, b1l);
  for (int k = 2; k < 5; ++k) {
    int32_t t = L_shl(vokMpy32x16(b1h, b1l, x), 1);
    t = L_msu(L_mac(t, b2h, kMin16), b2l, 1);
    t = L_mac(t, f[k], 8192);
    b2h = b1h;
    b2l = b1l;
    L_Extract(t, b1h, b1l);
  }
  int32_t t = vokMpy32x16(b1h, b1l, x);
  t = L_msu(L_mac(t, b2h, kMin16), b2l, 1);
  t = L_mac(t, f[5], 4096);
  return extract_h(L_shl(t, 6));
}

}  // namespace

void chebyshev16_scalar(const int16_t* x, const int16_t* f, int16_t* y) {
  for (int k = 0; k < 16; ++k) y[k] = chebyshev(x[k], f);
}

#if defined(VOKSC_X86)
namespace {
// a + b and a - b with wrap-around; the sign bit of *bad set where they
// overflowed.
VOKSC_TARGET_AVX2 inline __m256i addFlagged(__m256i a, __m256i b, __m256i* bad) {
  const __m256i r = _mm256_add_epi32(a, b);
  *bad = _mm256_or_si256(*bad, _mm256_and_si256(_mm256_xor_si256(a, r), _mm256_xor_si256(b, r)));
  return r;
}
VOKSC_TARGET_AVX2 inline __m256i subFlagged(__m256i a, __m256i b, __m256i* bad) {
  const __m256i r = _mm256_sub_epi32(a, b);
  *bad = _mm256_or_si256(*bad, _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(a, r)));
  return r;
}
}  // namespace

// The chain of chebyshev() in 32-bit lanes.  Of the values it checks
// against 32 bits, the doubled product sum is 4 s (2 s in the last step)
// with s = b1h x + ((b1l x) >> 15), |s| <= 2^30 + 2^15, so it fits exactly
// when s lies in [-2^29, 2^29) ([-2^30, 2^30)); -65536 b2h fails only for
// b2h = -32768; the sums are formed with wrap-around and flagged where
// they overflowed.  Unflagged lanes then hold the checked values, and the
// closing clamp of 64 t to 32 bits, high half, equals t >> 10 clamped to 16
// bits.  Flagged lanes and x = -32768 are taken by the scalar form.
VOKSC_TARGET_AVX2 void chebyshev16_avx2(const int16_t* x, const int16_t* f, int16_t* y) {
  const __m256i low16 = _mm256_set1_epi32(0xFFFF), zero = _mm256_setzero_si256();
  const __m256i most = _mm256_set1_epi32(-32768);
  // Two independent chains of eight points, stepped side by side.
  __m256i xv[2], bad[2], t[2], b1h[2], b1l[2], b2h[2], b2l[2];
  for (int v = 0; v < 2; ++v) {
    xv[v] = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 8 * v)));
    bad[v] = _mm256_cmpeq_epi32(xv[v], most);
    t[v] = _mm256_add_epi32(_mm256_slli_epi32(xv[v], 10), _mm256_set1_epi32(f[1] * 16384));
    b1h[v] = _mm256_srai_epi32(t[v], 16);
    b1l[v] = _mm256_srli_epi32(_mm256_and_si256(t[v], low16), 1);
    b2h[v] = _mm256_set1_epi32(256);
    b2l[v] = zero;
  }
  for (int k = 2; k <= 5; ++k) {
    const __m256i fk = _mm256_set1_epi32(f[k] * (k < 5 ? 16384 : 8192));
    for (int v = 0; v < 2; ++v) {
      const __m256i s = _mm256_add_epi32(_mm256_mullo_epi32(b1h[v], xv[v]),
                                         _mm256_srai_epi32(_mm256_mullo_epi32(b1l[v], xv[v]), 15));
      if (k < 5) {
        const __m256i u = _mm256_add_epi32(s, _mm256_set1_epi32(1 << 29));  // bits 30, 31 clear: in range
        bad[v] = _mm256_or_si256(bad[v], _mm256_or_si256(u, _mm256_slli_epi32(u, 1)));
        t[v] = _mm256_slli_epi32(s, 2);
      } else {
        bad[v] = _mm256_or_si256(bad[v], _mm256_add_epi32(s, _mm256_set1_epi32(1 << 30)));  // bit 31 clear: in range
        t[v] = _mm256_slli_epi32(s, 1);
      }
      bad[v] = _mm256_or_si256(bad[v], _mm256_cmpeq_epi32(b2h[v], most));
      t[v] = addFlagged(t[v], _mm256_sub_epi32(zero, _mm256_slli_epi32(b2h[v], 16)), &bad[v]);
      t[v] = subFlagged(t[v], _mm256_slli_epi32(b2l[v], 1), &bad[v]);
      t[v] = addFlagged(t[v], fk, &bad[v]);
      b2h[v] = b1h[v];
      b2l[v] = b1l[v];
      b1h[v] = _mm256_srai_epi32(t[v], 16);
      b1l[v] = _mm256_srli_epi32(_mm256_and_si256(t[v], low16), 1);
    }
  }
  for (int v = 0; v < 2; ++v) {
    const __m256i r = _mm256_srai_epi32(t[v], 10);
    const __m128i out = _mm_packs_epi32(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + 8 * v), out);
  }
  const unsigned flagged = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(bad[0]))) |
                           static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(bad[1]))) << 8;
  for (unsigned m = flagged; m != 0; m &= m - 1) {
    const int k = __builtin_ctz(m);
    y[k] = chebyshev(x[k], f);
  }
}
#else
void chebyshev16_avx2(const int16_t* x, const int16_t* f, int16_t* y) { chebyshev16_scalar(x, f, y); }
#endif

namespace {

// Roots of the sum and difference polynomials on the 60-interval cosine
// grid, alternating between them, each refined by four bisections and
// placed by linear interpolation; prevLsp when fewer than ten are found.
void lpToLsp(const int16_t* a, const int16_t* prevLsp, int16_t* lsp) {
  int16_t poly[2][6];
  poly[0][0] = poly[1][0] = 1024;
  for (int i = 0; i < 5; ++i) {
    const int16_t sum = extract_h(L_mac(L_mult(a[i + 1], 8192), a[kOrder - i], 8192));
    const int16_t diff = extract_h(L_msu(L_mult(a[i + 1], 8192), a[kOrder - i], 8192));
    poly[0][i + 1] = sub(sum, poly[0][i]);
    poly[1][i + 1] = add(diff, poly[1][i]);
  }
  // With vector evaluation, the grid values of each polynomial are formed
  // sixteen at a time as the scan reaches them, and the four halvings, which
  // can only visit the 15 midpoints of a depth-4 tree over (xlo, xhi),
  // evaluate all of them at once and then walk the tree: more values, none
  // of them waiting on the previous one.
  static const bool batched = cpu::choose(false, true);
  static const auto eval16 = cpu::choose(chebyshev16_scalar, chebyshev16_avx2);
  int16_t gridX[64], gridY[2][64];
  unsigned ready[2] = {0, 0};  // bit b: grid block b evaluated
  std::memcpy(gridX, g729::kChebGrid61, 61 * sizeof(int16_t));
  gridX[61] = gridX[62] = gridX[63] = g729::kChebGrid61[60];
  auto gridValue = [&](int which, int g) {
    if (!batched) return chebyshev(gridX[g], poly[which]);
    const int b = g >> 4;
    if (!((ready[which] >> b) & 1)) {
      eval16(gridX + 16 * b, poly[which], gridY[which] + 16 * b);
      ready[which] |= 1u << b;
    }
    return gridY[which][g];
  };
  int found = 0, which = 0;
  int16_t xlo = gridX[0];
  int16_t ylo = gridValue(0, 0);
  for (int g = 1; g <= 60 && found < kOrder; ++g) {
    int16_t xhi = xlo, yhi = ylo;
    xlo = gridX[g];
    ylo = gridValue(which, g);
    if (L_mult(ylo, yhi) > 0) continue;
    if (batched) {
      // Node n spans (lo[n], hi[n]); its lower half is node 2n, its upper 2n + 1.
      int16_t lo[16], hi[16], mid[16], ym[16];
      lo[1] = xlo;
      hi[1] = xhi;
      for (int n = 1; n < 16; ++n) {
        mid[n] = add(shr(lo[n], 1), shr(hi[n], 1));
        if (n < 8) {
          lo[2 * n] = lo[n];
          hi[2 * n] = lo[2 * n + 1] = mid[n];
          hi[2 * n + 1] = hi[n];
        }
      }
      mid[0] = mid[1];
      eval16(mid, poly[which], ym);
      // L_mult(ylo, ym) <= 0 as the sign of the plain product (L_mult
      // saturates only to a positive value).
      for (int n = 1, step = 0; step < 4; ++step) {
        const bool lower = int32_t{ylo} * ym[n] <= 0;
        xhi = lower ? mid[n] : xhi;
        yhi = lower ? ym[n] : yhi;
        xlo = lower ? xlo : mid[n];
        ylo = lower ? ylo : ym[n];
        n = 2 * n + (lower ? 0 : 1);
      }
    } else {
      for (int step = 0; step < 4; ++step) {
        const int16_t xm = add(shr(xlo, 1), shr(xhi, 1));
        const int16_t ym = chebyshev(xm, poly[which]);
        if (L_mult(ylo, ym) <= 0) {
          xhi = xm;
          yhi = ym;
        } else {
          xlo = xm;
          ylo = ym;
        }
      }
    }
    const int16_t dy = sub(yhi, ylo);
    int16_t root = xlo;
    if (dy != 0) {
      // slope = (xhi - xlo) / (yhi - ylo) in Q11 from a normalised division
      const int16_t mag = abs_s(dy);
      const int16_t e = norm_s(mag);
      int16_t slope = extract_l(L_shr(L_mult(sub(xhi, xlo), div_s(16383, shl(mag, e))), sub(20, e)));
      if (dy < 0) slope = negate(slope);
      root = sub(xlo, extract_l(L_shr(L_mult(ylo, slope), 11)));
    }
    lsp[found++] = root;
    xlo = root;
    which ^= 1;
    ylo = chebyshev(xlo, poly[which]);
  }
  if (found < kOrder) std::memcpy(lsp, prevLsp, kOrder * sizeof(int16_t));
}

// Nearest of `rows` 4-value vectors in `book` (the two-set splits and the
// last one-set split), each taken negated when `negated`, by the weighted
// distance; the first row of least distance is returned, with the signed
// sign choice made by the caller from two calls.
int nearestOf(const int16_t* book, int rows, const int16_t* res, const int16_t* wt, bool negated, uint32_t& score) {
  static const auto kernel = cpu::choose(nearest4_scalar, nearest4_avx2);
  return kernel(book, rows, res, wt, negated, score);
}

// Two-set quantiser search of one split: pairs of LSF of both sets against
// 4-value vectors; with `signedBook` each vector is also tried negated
// (candidates in the order row, then sign).  Returns the index (doubled
// plus the sign bit for the signed split) and replaces the four residuals by
// the chosen vector.
int pairSearch(int16_t* r1, int16_t* r2, const int16_t* w1, const int16_t* w2, const int16_t* book, int rows,
               bool signedBook) {
  const int16_t res[4] = {r1[0], r1[1], r2[0], r2[1]};
  const int16_t wt[4] = {w1[0], w1[1], w2[0], w2[1]};
  uint32_t plainScore = 0, negScore = 0;
  int bestRow = nearestOf(book, rows, res, wt, false, plainScore), bestSign = 0;
  if (signedBook) {
    const int negRow = nearestOf(book, rows, res, wt, true, negScore);
    if (negScore < plainScore || (negScore == plainScore && negRow < bestRow)) {
      bestRow = negRow;
      bestSign = 1;
    }
  }
  r1[0] = bestSign ? negate(book[4 * bestRow]) : book[4 * bestRow];
  r1[1] = bestSign ? negate(book[4 * bestRow + 1]) : book[4 * bestRow + 1];
  r2[0] = bestSign ? negate(book[4 * bestRow + 2]) : book[4 * bestRow + 2];
  r2[1] = bestSign ? negate(book[4 * bestRow + 3]) : book[4 * bestRow + 3];
  return signedBook ? 2 * bestRow + bestSign : bestRow;
}

struct TwoSetSplit {
  const int16_t* book;
  int rows;
  bool signedBook;
};
const TwoSetSplit kTwoSetSplits[5] = {
    {kLsf5Split1, 128, false}, {kLsf5Split2, 256, false}, {kLsf5Split3, 256, true},
    {kLsf5Split4, 256, false}, {kLsf5Split5, 64, false}};

// Codebooks of the one-set quantiser by mode: (first, second, third split),
// the second split of 4.75 and 5.15 kbit/s using every other vector.
struct OneSetBooks {
  const int16_t* book[3];
  int rows[3];
  int stride2;
};
OneSetBooks oneSetBooks(int mode) {
  if (mode == kMr475 || mode == kMr515) return {{kLsf3Split1, kLsf3Split2, kLsf3Split3Low}, {256, 256, 128}, 2};
  if (mode == kMr795) return {{kLsf3Split1Mr795, kLsf3Split2, kLsf3Split3}, {512, 512, 512}, 1};
  return {{kLsf3Split1, kLsf3Split2, kLsf3Split3}, {256, 512, 512}, 1};
}

// The residual vector that an index names in the one-set codebooks.
void oneSetResidual(const int16_t* idx, int mode, int16_t* r) {
  const OneSetBooks b = oneSetBooks(mode);
  std::memcpy(r, b.book[0] + 3 * idx[0], 3 * sizeof(int16_t));
  std::memcpy(r + 3, b.book[1] + 3 * b.stride2 * idx[1], 3 * sizeof(int16_t));
  std::memcpy(r + 6, b.book[2] + 4 * idx[2], 4 * sizeof(int16_t));
}

// Whether a received frame's indices name rows of their codebooks (the
// third 12.2 kbit/s index also carries a sign bit).
bool indicesValid(const int16_t* idx, int mode) {
  if (mode == kMr122) {
    for (int k = 0; k < 5; ++k)
      if (idx[k] < 0 || idx[k] >= (kTwoSetSplits[k].signedBook ? 2 : 1) * kTwoSetSplits[k].rows) return false;
    return true;
  }
  const OneSetBooks b = oneSetBooks(mode == kModeSid ? kMr59 : mode);
  for (int k = 0; k < 3; ++k)
    if (idx[k] < 0 || idx[k] >= b.rows[k]) return false;
  return true;
}

// Prediction of the one-set LSF from the past residual: mean + factor x
// past (the comfort-noise decoder uses the past residual unscaled).
void oneSetPrediction(const int16_t* pastRes, int mode, int16_t* pred) {
  for (int i = 0; i < kOrder; ++i)
    pred[i] = add(kLsfMean3[i], mode == kModeSid ? pastRes[i] : mult(pastRes[i], kLsfPredFac3[i]));
}

}  // namespace

// The distance of a candidate is the doubled sum of e_k^2, e_k = mult(wt_k,
// res_k -+ c_k) (saturating difference), clamped at 2^31 - 1; the score
// kept here is min(sum e_k^2, 2^30), which orders candidates alike (the
// doubled sum is even, so it reaches the clamp exactly when the sum reaches
// 2^30) and ties exactly where the distances tie.
namespace {
// The scan of nearest4_scalar; PlainMult: no weight is -32768, so mult(w, d)
// is (w d) >> 15 with no case to saturate (|w d| < 2^30).
template <bool Negated, bool PlainMult>
int nearestScan(const int16_t* book, int rows, const int16_t* res, const int16_t* wt, uint32_t& score) {
  uint32_t best = 0xFFFFFFFFu;
  int bestRow = 0;
  for (int row = 0; row < rows; ++row) {
    uint32_t sum = 0;  // four squares of magnitudes below 2^15
    for (int k = 0; k < 4; ++k) {
      const int16_t c = book[4 * row + k];
      const int16_t d = Negated ? add(res[k], c) : sub(res[k], c);
      const int32_t e = PlainMult ? (int32_t{wt[k]} * d) >> 15 : mult(wt[k], d);
      sum += static_cast<uint32_t>(e * e);
    }
    if (sum > (1u << 30)) sum = 1u << 30;
    if (sum < best) {
      best = sum;
      bestRow = row;
    }
  }
  score = best;
  return bestRow;
}
}  // namespace

int nearest4_scalar(const int16_t* book, int rows, const int16_t* res, const int16_t* wt, bool negated,
                    uint32_t& score) {
  const bool plain = wt[0] != kMin16 && wt[1] != kMin16 && wt[2] != kMin16 && wt[3] != kMin16;
  if (negated)
    return plain ? nearestScan<true, true>(book, rows, res, wt, score) : nearestScan<true, false>(book, rows, res, wt, score);
  return plain ? nearestScan<false, true>(book, rows, res, wt, score) : nearestScan<false, false>(book, rows, res, wt, score);
}

#if defined(VOKSC_X86)
namespace {
// Four rows: e = mult(w, r -+ c) per value, the squares summed in pairs.
VOKSC_TARGET_AVX2 inline __m256i squaredErrors(const int16_t* p, __m256i r, __m256i w, bool negated) {
  const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i d = negated ? _mm256_adds_epi16(r, c) : _mm256_subs_epi16(r, c);
  const __m256i e = _mm256_or_si256(_mm256_slli_epi16(_mm256_mulhi_epi16(w, d), 1),
                                    _mm256_srli_epi16(_mm256_mullo_epi16(w, d), 15));
  return _mm256_madd_epi16(e, e);
}
}  // namespace

// Eight rows a step: two vectors of four rows, the saturating difference,
// mult as the product's bits 15..30 (exact while no weight is -32768), the
// squares summed in pairs (below 2^31 each, as |e| <= 32767) and across the
// pair as unsigned 32-bit sums.
VOKSC_TARGET_AVX2 int nearest4_avx2(const int16_t* book, int rows, const int16_t* res, const int16_t* wt, bool negated,
                                    uint32_t& score) {
  // The product below needs weights above -32768 (those of lsfWeights are
  // at least -32384); other weights and row counts take the scalar form.
  if (rows % 8 != 0 || rows > 512 || wt[0] == kMin16 || wt[1] == kMin16 || wt[2] == kMin16 || wt[3] == kMin16)
    return nearest4_scalar(book, rows, res, wt, negated, score);
  int64_t r64, w64;
  std::memcpy(&r64, res, 8);
  std::memcpy(&w64, wt, 8);
  const __m256i r = _mm256_set1_epi64x(r64), w = _mm256_set1_epi64x(w64);
  const __m256i cap = _mm256_set1_epi32(1 << 30);
  alignas(32) uint32_t dist[512];
  __m256i least = _mm256_set1_epi32(-1);
  for (int row = 0; row < rows; row += 8) {
    // hadd gives rows (0 1 4 5 | 2 3 6 7); the permute puts them in order.
    __m256i s = _mm256_hadd_epi32(squaredErrors(book + 4 * row, r, w, negated),
                                  squaredErrors(book + 4 * row + 16, r, w, negated));
    s = _mm256_min_epu32(_mm256_permute4x64_epi64(s, 0xD8), cap);
    _mm256_store_si256(reinterpret_cast<__m256i*>(dist + row), s);
    least = _mm256_min_epu32(least, s);
  }
  least = _mm256_min_epu32(least, _mm256_shuffle_epi32(least, 0x4E));
  least = _mm256_min_epu32(least, _mm256_shuffle_epi32(least, 0xB1));
  least = _mm256_min_epu32(least, _mm256_permute2x128_si256(least, least, 0x01));
  score = static_cast<uint32_t>(_mm256_cvtsi256_si32(least));
  for (int row = 0;; row += 8) {
    const __m256i eq = _mm256_cmpeq_epi32(_mm256_load_si256(reinterpret_cast<const __m256i*>(dist + row)), least);
    const unsigned mask = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(eq)));
    if (mask) return row + __builtin_ctz(mask);
  }
}
#else
int nearest4_avx2(const int16_t* book, int rows, const int16_t* res, const int16_t* wt, bool negated, uint32_t& score) {
  return nearest4_scalar(book, rows, res, wt, negated, score);
}
#endif

void lsfToLsp(const int16_t* lsf, int16_t* lsp) {
  const int16_t* cosTab = g729::kCosTable65;
  for (int i = 0; i < kOrder; ++i) {
    int ind = lsf[i] >> 8;
    if (ind > 63) ind = 63;  // beyond 4 kHz: the last interval, extended
    const int16_t frac = static_cast<int16_t>(lsf[i] & 0xFF);
    const int32_t step = L_mult(sub(cosTab[ind + 1], cosTab[ind]), frac);
    lsp[i] = add(cosTab[ind], extract_l(L_shr(step, 9)));
  }
}

void lsfSpread(int16_t* lsf, int16_t gap) {
  int16_t floor = gap;
  for (int i = 0; i < kOrder; ++i) {
    if (lsf[i] < floor) lsf[i] = floor;
    floor = add(lsf[i], gap);
  }
}

void lsfWeights(const int16_t* lsf, int16_t* wt) {
  for (int i = 0; i < kOrder; ++i) {
    const int16_t below = i == 0 ? 0 : lsf[i - 1];
    const int16_t above = i == kOrder - 1 ? 16384 : lsf[i + 1];
    // spacing of the neighbours (the first against 0, the last against 0.5 with lsf[8])
    const int16_t d = i == kOrder - 1 ? sub(16384, lsf[8]) : sub(above, below);
    const int16_t over = sub(d, 1843);
    const int16_t w = over < 0 ? sub(3427, mult(d, 28160)) : sub(1843, mult(over, 6242));
    wt[i] = shl(w, 3);
  }
}

namespace {

// The 3-value one-set books (at the strides they are searched with) as
// 4-value rows with a zero last value: with a zero weight and residual
// there, the fourth error is mult(0, 0) = 0 and the 4-value search gives
// the 3-value distances.  Null for any other book.
const int16_t* paddedBook(const int16_t* book, int stride) {
  struct Padded {
    int16_t split1[256 * 4], split2[512 * 4], split2Even[256 * 4], split1Mr795[512 * 4];
  };
  static const Padded kPadded = [] {
    Padded p{};
    auto pad = [](const int16_t* from, int rows, int stride, int16_t* to) {
      for (int row = 0; row < rows; ++row) std::memcpy(to + 4 * row, from + 3 * stride * row, 3 * sizeof(int16_t));
    };
    pad(kLsf3Split1, 256, 1, p.split1);
    pad(kLsf3Split2, 512, 1, p.split2);
    pad(kLsf3Split2, 256, 2, p.split2Even);
    pad(kLsf3Split1Mr795, 512, 1, p.split1Mr795);
    return p;
  }();
  if (book == kLsf3Split1 && stride == 1) return kPadded.split1;
  if (book == kLsf3Split2) return stride == 1 ? kPadded.split2 : (stride == 2 ? kPadded.split2Even : nullptr);
  if (book == kLsf3Split1Mr795 && stride == 1) return kPadded.split1Mr795;
  return nullptr;
}

}  // namespace

int splitSearch(int16_t* r, const int16_t* wt, const int16_t* book, int rows, int dim, int stride) {
  if (dim == 4 && stride == 1) {
    uint32_t score = 0;
    const int row = nearestOf(book, rows, r, wt, false, score);
    std::memcpy(r, book + 4 * row, 4 * sizeof(int16_t));
    return row;
  }
  if (const int16_t* padded = dim == 3 ? paddedBook(book, stride) : nullptr) {
    const int16_t r4[4] = {r[0], r[1], r[2], 0}, w4[4] = {wt[0], wt[1], wt[2], 0};
    uint32_t score = 0;
    const int row = nearestOf(padded, rows, r4, w4, false, score);
    std::memcpy(r, book + 3 * stride * row, 3 * sizeof(int16_t));
    return row;
  }
  int32_t best = kMax32;
  int bestRow = 0;
  for (int row = 0; row < rows; ++row) {
    const int16_t* v = book + row * stride * dim;
    int64_t dist = 0;  // positive doubled terms: the chain clamps at 2^31 - 1
    for (int k = 0; k < dim; ++k) {
      const int16_t e = mult(wt[k], sub(r[k], v[k]));
      dist += 2 * int64_t{e} * e;
    }
    if (dist > kMax32) dist = kMax32;
    if (dist < best) {
      best = static_cast<int32_t>(dist);
      bestRow = row;
    }
  }
  std::memcpy(r, book + bestRow * stride * dim, static_cast<size_t>(dim) * sizeof(int16_t));
  return bestRow;
}

void quantiseOneSet(const int16_t* lsf, const int16_t* pred, int mode, int16_t* pastRes, int16_t* lsfq,
                    int16_t* idx) {
  int16_t wt[kOrder], r[kOrder];
  lsfWeights(lsf, wt);
  for (int i = 0; i < kOrder; ++i) r[i] = sub(lsf[i], pred[i]);
  const OneSetBooks b = oneSetBooks(mode);
  idx[0] = static_cast<int16_t>(splitSearch(r, wt, b.book[0], b.rows[0], 3, 1));
  idx[1] = static_cast<int16_t>(splitSearch(r + 3, wt + 3, b.book[1], b.rows[1], 3, b.stride2));
  idx[2] = static_cast<int16_t>(splitSearch(r + 6, wt + 6, b.book[2], b.rows[2], 4, 1));
  for (int i = 0; i < kOrder; ++i) {
    lsfq[i] = add(r[i], pred[i]);
    pastRes[i] = r[i];
  }
  lsfSpread(lsfq, kLsfGap);
}

}  // namespace voksc::amr

using namespace voksc::amr;

VOKSC_EXPORT VokResult voksAutoCorr_GSMAMR_16s32s(const Vok16s* src, Vok32s* acf, VokRateCode rate) {
  if (anyNull(src, acf)) return vokErrNullPtr;
  const int mode = modeOfRate(rate, true);
  if (mode < 0) return vokErrRange;
  int32_t r[2 * (kOrder + 1)];
  if (mode == kMr122) {
    windowedAutocorr(src, kWindow160_80, r);
    windowedAutocorr(src, kWindow232_8, r + kOrder + 1);
  } else {
    windowedAutocorr(src, voksc::g729::kLpAnalysisWindow, r);
  }
  std::memcpy(acf, r, static_cast<size_t>(mode == kMr122 ? 22 : 11) * sizeof(int32_t));
  return vokOk;
}

VOKSC_EXPORT VokResult voksLevinsonDurbin_GSMAMR_32s16s(const Vok32s* acf, Vok16s* lpc) {
  if (anyNull(acf, lpc)) return vokErrNullPtr;
  Vok16s rc[kOrder], err;
  return voksLevinsonDurbin_G729_32s16s(acf, kOrder, lpc, rc, &err);
}

VOKSC_EXPORT VokResult voksLPCToLSP_GSMAMR_16s(const Vok16s* lpc, const Vok16s* prevLsp, Vok16s* lsp) {
  if (anyNull(lpc, prevLsp, lsp)) return vokErrNullPtr;
  int16_t out[kOrder];
  lpToLsp(lpc, prevLsp, out);
  std::memcpy(lsp, out, sizeof out);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSPToLPC_GSMAMR_16s(const Vok16s* lsp, Vok16s* lpc) {
  if (anyNull(lsp, lpc)) return vokErrNullPtr;
  int16_t out[kOrder + 1];
  voksc::g729::lspToLp(lsp, out);
  std::memcpy(lpc, out, sizeof out);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSFToLSP_GSMAMR_16s(const Vok16s* lsf, Vok16s* lsp) {
  if (anyNull(lsf, lsp)) return vokErrNullPtr;
  for (int i = 0; i < kOrder; ++i)
    if (lsf[i] < 0) return vokErrDomain;
  int16_t out[kOrder];
  lsfToLsp(lsf, out);
  std::memcpy(lsp, out, sizeof out);
  return vokOk;
}

VOKSC_EXPORT VokResult voksLSPQuant_GSMAMR_16s(const Vok16s* lsp, Vok16s* pastRes, Vok16s* lspQ, Vok16s* indices,
                                              VokRateCode rate) {
  if (anyNull(lsp, pastRes, lspQ, indices)) return vokErrNullPtr;
  const int mode = modeOfRate(rate, true);
  if (mode < 0) return vokErrRange;
  int16_t lsf[2][kOrder], q[2][kOrder], pred[kOrder];
  if (mode != kMr122) {
    int16_t idx[3];
    voksc::g729::lspToLsfNorm(lsp, lsf[0]);
    for (int i = 0; i < kOrder; ++i) pred[i] = add(kLsfMean3[i], mult(pastRes[i], kLsfPredFac3[i]));
    quantiseOneSet(lsf[0], pred, mode == kModeSid ? kMr59 : mode, pastRes, q[0], idx);
    lsfToLsp(q[0], lspQ);
    std::memcpy(indices, idx, sizeof idx);
    return vokOk;
  }
  int16_t wt[2][kOrder], r[2][kOrder], idx[5];
  for (int s = 0; s < 2; ++s) {
    voksc::g729::lspToLsfNorm(lsp + s * kOrder, lsf[s]);
    lsfWeights(lsf[s], wt[s]);
  }
  for (int i = 0; i < kOrder; ++i) {
    pred[i] = add(kLsfMean5[i], mult(pastRes[i], kPredFac122));
    r[0][i] = sub(lsf[0][i], pred[i]);
    r[1][i] = sub(lsf[1][i], pred[i]);
  }
  for (int k = 0; k < 5; ++k) {
    const TwoSetSplit& sp = kTwoSetSplits[k];
    idx[k] = static_cast<int16_t>(
        pairSearch(r[0] + 2 * k, r[1] + 2 * k, wt[0] + 2 * k, wt[1] + 2 * k, sp.book, sp.rows, sp.signedBook));
  }
  for (int s = 0; s < 2; ++s) {
    for (int i = 0; i < kOrder; ++i) q[s][i] = add(r[s][i], pred[i]);
    lsfSpread(q[s], kLsfGap);
    lsfToLsp(q[s], lspQ + s * kOrder);
  }
  std::memcpy(pastRes, r[1], sizeof r[1]);
  std::memcpy(indices, idx, sizeof idx);
  return vokOk;
}

VOKSC_EXPORT VokResult voksQuantLSPDecode_GSMAMR_16s(const Vok16s* indices, Vok16s* pastRes, Vok16s* prevLsf,
                                                    Vok16s* lsp, Vok16s* lspSub, Vok16s bfi, VokRateCode rate) {
  if (anyNull(indices, pastRes, prevLsf, lsp, lspSub)) return vokErrNullPtr;
  const int mode = modeOfRate(rate, true);
  if (mode < 0) return vokErrRange;
  if (bfi == 0 && !indicesValid(indices, mode)) return vokErrIndex;  // a bad frame reads none
  const bool twoSets = mode == kMr122;
  int16_t lsf[2][kOrder], res[kOrder], pred[kOrder];
  if (twoSets) {
    for (int i = 0; i < kOrder; ++i) pred[i] = add(kLsfMean5[i], mult(pastRes[i], kPredFac122));
  } else {
    oneSetPrediction(pastRes, mode, pred);
  }
  if (bfi != 0) {
    // Move from the last good LSF towards the mean; the residual memory is
    // set to what would have produced the concealed LSF.
    const int16_t* mean = twoSets ? kLsfMean5 : kLsfMean3;
    const int16_t keep = twoSets ? kBadKeep122 : kBadKeep, toMean = twoSets ? kBadMean122 : kBadMean;
    for (int i = 0; i < kOrder; ++i) {
      lsf[0][i] = lsf[1][i] = add(mult(prevLsf[i], keep), mult(mean[i], toMean));
      res[i] = sub(lsf[1][i], pred[i]);
    }
  } else if (twoSets) {
    int16_t r[2][kOrder];
    for (int k = 0; k < 5; ++k) {
      const TwoSetSplit& sp = kTwoSetSplits[k];
      const int row = sp.signedBook ? indices[k] >> 1 : indices[k];
      const bool neg = sp.signedBook && (indices[k] & 1);
      for (int j = 0; j < 4; ++j) {
        const int16_t c = sp.book[4 * row + j];
        r[j >> 1][2 * k + (j & 1)] = neg ? negate(c) : c;
      }
    }
    for (int i = 0; i < kOrder; ++i) {
      lsf[0][i] = add(r[0][i], pred[i]);
      lsf[1][i] = add(r[1][i], pred[i]);
    }
    std::memcpy(res, r[1], sizeof res);
  } else {
    oneSetResidual(indices, mode == kModeSid ? kMr59 : mode, res);
    for (int i = 0; i < kOrder; ++i) lsf[0][i] = add(res[i], pred[i]);
  }
  int16_t lspNew[2][kOrder];
  const int sets = twoSets ? 2 : 1;
  for (int s = 0; s < sets; ++s) {
    lsfSpread(lsf[s], kLsfGap);
    lsfToLsp(lsf[s], lspNew[s]);
  }
  // Subframe LSPs: 1/4, 1/2, 3/4 of the way to the new set, then the new
  // set; with two sets the first set is the second subframe's.
  const int16_t* last = lspNew[sets - 1];
  for (int i = 0; i < kOrder; ++i) {
    const int16_t old = lsp[i];
    if (twoSets) {
      const int16_t* mid = lspNew[0];
      lspSub[i] = add(shr(mid[i], 1), shr(old, 1));
      lspSub[10 + i] = mid[i];
      lspSub[20 + i] = add(shr(mid[i], 1), shr(last[i], 1));
    } else {
      lspSub[i] = add(shr(last[i], 2), sub(old, shr(old, 2)));
      lspSub[10 + i] = add(shr(old, 1), shr(last[i], 1));
      lspSub[20 + i] = add(shr(old, 2), sub(last[i], shr(last[i], 2)));
    }
    lspSub[30 + i] = last[i];
  }
  std::memcpy(pastRes, res, sizeof res);
  std::memcpy(prevLsf, lsf[sets - 1], sizeof res);
  std::memcpy(lsp, last, sizeof res);
  return vokOk;
}

VOKSC_EXPORT VokResult voksInterpolate_GSMAMR_16s(const Vok16s* cur, const Vok16s* prev, Vok16s* dst, int len) {
  if (anyNull(cur, prev, dst)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  for (int i = 0; i < len; ++i) dst[i] = add(shr(cur[i], 2), sub(prev[i], shr(prev[i], 2)));
  return vokOk;
}

VOKSC_EXPORT VokResult voksPreemphasize_GSMAMR_16s(Vok16s gamma, const Vok16s* src, Vok16s* dst, int len,
                                                  Vok16s* mem) {
  if (anyNull(src, dst, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  const int16_t last = src[len - 1];
  for (int n = len - 1; n > 0; --n) dst[n] = add(src[n], mult(gamma, src[n - 1]));
  dst[0] = add(src[0], mult(gamma, *mem));
  *mem = last;
  return vokOk;
}
