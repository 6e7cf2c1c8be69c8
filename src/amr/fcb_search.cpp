// GSM-AMR algebraic codebook search: correlation of the target with the
// impulse response, pulse signs fixed from it, the sign-folded correlation
// matrix, and the depth-first search of the mode's tracks maximising
// correlation^2 / energy; the code vector, its filtered form and the index
// words are built from the chosen pulses.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "amr_internal.h"
#include "common/basic_op.h"
#include "common/kernels.h"
#include "common/math_ops.h"
#include "common/ratio_lanes.h"
#include "core/cpu.h"
#include "core/status.h"

#if defined(VOKSC_X86)
#include <immintrin.h>
#endif

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::amr {
namespace {

constexpr int kL = kSubframe;
const int16_t kStart2x9[16] = {0, 2, 0, 3, 0, 2, 0, 3, 1, 3, 2, 4, 1, 4, 1, 4};
const int16_t kGrayCode[8] = {0, 1, 3, 2, 6, 4, 5, 7};

// d[n] = sum x[j] h[j - n], normalised over the five tracks so that their
// peaks sum below 2^(31 - extraShift) before rounding to 16 bits.
void targetCorrelation(const int16_t* h, const int16_t* x, int16_t* d, int extraShift, int tracks = 5) {
  int32_t y[kL];
  int32_t total = 5;
  // Energies with Ex Eh < 2^60 keep every partial sum below 2^30
  // (Cauchy-Schwarz): plain sums then equal the saturating chains.
  int64_t ex = 0, eh = 0;
  for (int j = 0; j < kL; ++j) {
    ex += int32_t{x[j]} * x[j];
    eh += int32_t{h[j]} * h[j];
  }
  const bool plain = ex == 0 || eh < (int64_t{1} << 60) / ex;
  int64_t exact[kL];  // sum h[i] x[i + n], i = 0..39 - n
  if (plain) kern::xcorrTrunc(h, x, kL, 0, kL, exact);
  for (int t = 0; t < tracks; ++t) {
    int32_t peak = 0;
    for (int n = t; n < kL; n += tracks) {
      int32_t s = 0;
      if (plain) {
        s = 2 * static_cast<int32_t>(exact[n]);
      } else {
        for (int j = n; j < kL; ++j) s = L_mac(s, x[j], h[j - n]);
      }
      y[n] = s;
      if (L_abs(s) > peak) peak = L_abs(s);
    }
    total = L_add(total, L_shr(peak, 1));
  }
  const int16_t sh = static_cast<int16_t>(norm_l(total) - extraShift);
  for (int n = 0; n < kL; ++n) d[n] = round_fx(L_shl(y[n], sh));
}

// Signs from the correlation (d becomes |d|); keep[] marks, per track, all
// but the (8 - keepPerTrack) weakest positions (weakest get -1).
void fixSigns(int16_t* d, int16_t* sign, int16_t* keep, int keepPerTrack) {
  // Branch-free (the signs of speech correlations are a coin toss):
  // |d| capped at 32767 is the saturating negation.
  for (int n = 0; n < kL; ++n) {
    const int32_t v = d[n];
    sign[n] = v >= 0 ? 32767 : -32767;
    d[n] = keep[n] = static_cast<int16_t>(std::min(v < 0 ? -v : v, 32767));
  }
  for (int t = 0; t < 5; ++t)
    for (int k = 0; k < 8 - keepPerTrack; ++k) {
      int16_t low = 0x7FFF;
      int at = t;
      for (int n = t; n < kL; n += 5)
        if (keep[n] >= 0 && keep[n] < low) {
          low = keep[n];
          at = n;
        }
      keep[at] = -1;
    }
}

}  // namespace

namespace {
// Column orders of the correlation matrix: position n of `step` interleaved
// tracks is held at column (n mod step) (40 / step) + n / step, so that the
// candidates of one track are adjacent in every row (step 1: natural order).
struct Columns {
  int8_t at[kL];
  explicit constexpr Columns(int step) : at() {
    for (int n = 0; n < kL; ++n) at[n] = static_cast<int8_t>((n % step) * (kL / step) + n / step);
  }
};
constexpr Columns kNatural(1), kFourTracks(4), kFiveTracks(5);

// Entries (i, i - dec) and (i - dec, i), dec = 0..i, from v[dec].
inline void storeRow(int16_t (*rr)[kSubframe], int i, const int16_t* v, int step) {
  if (step == 1) {
    rr[i][i] = v[0];
    for (int dec = 1; dec <= i; ++dec) rr[i][i - dec] = rr[i - dec][i] = v[dec];
    return;
  }
  const int8_t* col = step == 5 ? kFiveTracks.at : kFourTracks.at;
  const int ci = col[i];
  rr[i][ci] = v[0];
  for (int dec = 1; dec <= i; ++dec) rr[i][col[i - dec]] = rr[i - dec][ci] = v[dec];
}
// mult(round(acc), mult(si, sj)) with the saturations as clamps (only
// -32768 times -32768 saturates a word product), so the loops over the
// lags have no branch and the compiler may run them in vector lanes.
inline int16_t signedEntry(int32_t acc, int16_t si, int16_t sj) {
  const int32_t sp = std::min((int32_t{si} * sj) >> 15, int32_t{32767});
  const int32_t r = static_cast<int16_t>((acc + 0x8000) >> 16);
  return static_cast<int16_t>(std::min((r * sp) >> 15, int32_t{32767}));
}
}  // namespace

// Partial sums of the lag-dec products, one running sum per lag: after
// step m the sum over the first m + 1 products is the entry of row
// 39 - m and column 39 - m - dec.
void signedRows_scalar(const int16_t* g, const int16_t* sign, int step, int16_t (*rr)[kSubframe]) {
  int32_t acc[kL] = {};
  int16_t signRev[kL];
  for (int t = 0; t < kL; ++t) signRev[t] = sign[kL - 1 - t];
  for (int m = 0; m < kL; ++m) {
    const int i = kL - 1 - m;
    int16_t v[kL];
    for (int dec = 0; dec <= i; ++dec) acc[dec] += 2 * (int32_t{g[m]} * g[m + dec]);
    v[0] = static_cast<int16_t>((acc[0] + 0x8000) >> 16);
    for (int dec = 1; dec <= i; ++dec) v[dec] = signedEntry(acc[dec], sign[i], signRev[m + dec]);
    storeRow(rr, i, v, step);
  }
}

// The same entries by lag: slot[m * 40 + dec] holds the entry of the
// pair (39 - m, 39 - m - dec) for dec = 0..39 - m (the rest of each row
// of 40 is left unset).
void signedLags_scalar(const int16_t* g, const int16_t* sign, int16_t* slot) {
  int32_t acc[kL] = {};
  int16_t signRev[kL];  // sign[i - dec] = signRev[m + dec]
  for (int t = 0; t < kL; ++t) signRev[t] = sign[kL - 1 - t];
  for (int m = 0; m < kL; ++m) {
    const int i = kL - 1 - m;
    for (int dec = 0; dec <= i; ++dec) acc[dec] += 2 * (int32_t{g[m]} * g[m + dec]);
    int16_t* row = slot + kL * m;
    row[0] = static_cast<int16_t>((acc[0] + 0x8000) >> 16);
    for (int dec = 1; dec <= i; ++dec) row[dec] = signedEntry(acc[dec], sign[i], signRev[m + dec]);
  }
}

#if defined(VOKSC_X86)
namespace {
// Per column of a track order, the position it holds and 40 times it, as
// 32-bit lanes.
struct ColumnLanes {
  alignas(32) int32_t pos[kL];
  alignas(32) int32_t pos40[kL];
  explicit constexpr ColumnLanes(int step) : pos(), pos40() {
    for (int n = 0; n < kL; ++n) {
      const int c = (n % step) * (kL / step) + n / step;
      pos[c] = n;
      pos40[c] = kL * n;
    }
  }
};
constexpr ColumnLanes kNaturalLanes(1), kFourTrackLanes(4), kFiveTrackLanes(5);
}  // namespace

// Two passes.  The first runs the lag sums eight lags at a time and keeps
// each finished entry, signs folded (the diagonal unsigned), in a table by
// (m, dec): the entry of the position pair (i, j) sits at m = 39 - max(i, j),
// dec = |i - j|, and each unordered pair has exactly one slot.  The second
// writes every row in its column order by gathering eight slots at a time,
// so the track order costs no scattered word stores.
// First pass alone: the table by lag (each row of 40 written in whole
// groups of eight, so the words past 39 - m hold unused lanes).
VOKSC_TARGET_AVX2 void signedLags_avx2(const int16_t* g, const int16_t* sign, int16_t* slot) {
  // g and the signs in reverse order, zero-padded for the 8-lane loads.
  alignas(32) int16_t gz[kL + 8] = {}, signRev[kL + 8] = {};
  std::memcpy(gz, g, sizeof(int16_t) * kL);
  for (int t = 0; t < kL; ++t) signRev[t] = sign[kL - 1 - t];
  __m256i acc[5];
  for (__m256i& v : acc) v = _mm256_setzero_si256();
  const __m256i half = _mm256_set1_epi32(0x8000), top = _mm256_set1_epi32(32767);
  for (int m = 0; m < kL; ++m) {
    const int i = kL - 1 - m, blocks = i / 8 + 1;
    const __m256i c = _mm256_set1_epi32(2 * g[m]);
    const __m256i si = _mm256_set1_epi32(sign[i]);
    for (int v = 0; v < blocks; ++v) {
      const __m256i x = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(gz + m + 8 * v)));
      acc[v] = _mm256_add_epi32(acc[v], _mm256_mullo_epi32(c, x));
      const __m256i r = _mm256_srai_epi32(_mm256_add_epi32(acc[v], half), 16);
      const __m256i sj = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(signRev + m + 8 * v)));
      const __m256i sp = _mm256_min_epi32(_mm256_srai_epi32(_mm256_mullo_epi32(si, sj), 15), top);
      __m256i val = _mm256_min_epi32(_mm256_srai_epi32(_mm256_mullo_epi32(r, sp), 15), top);
      if (v == 0) val = _mm256_blend_epi32(val, r, 1);  // the diagonal carries no sign
      const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(val, val), 0x08);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(slot + kL * m + 8 * v), _mm256_castsi256_si128(packed));
    }
  }
}

VOKSC_TARGET_AVX2 void signedRows_avx2(const int16_t* g, const int16_t* sign, int step, int16_t (*rr)[kSubframe]) {
  // Entries by m * 40 + dec; one spare word for the last slot's 32-bit read.
  alignas(32) int16_t slot[kL * kL + 8];
  slot[kL * kL] = 0;
  signedLags_avx2(g, sign, slot);
  const ColumnLanes& lanes = step == 5 ? kFiveTrackLanes : (step == 4 ? kFourTrackLanes : kNaturalLanes);
  // Low word of each 32-bit lane to the low half of each 128-bit half.
  const __m256i lowWords = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                            0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i last = _mm256_set1_epi32(kL * (kL - 1));
  for (int i = 0; i < kL; ++i) {
    const __m256i iv = _mm256_set1_epi32(i), i40 = _mm256_set1_epi32(kL * i);
    for (int c0 = 0; c0 < kL; c0 += 8) {
      const __m256i j = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.pos + c0));
      const __m256i j40 = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.pos40 + c0));
      const __m256i at = _mm256_add_epi32(_mm256_sub_epi32(last, _mm256_max_epi32(i40, j40)),
                                          _mm256_abs_epi32(_mm256_sub_epi32(iv, j)));
      const __m256i pair = _mm256_i32gather_epi32(reinterpret_cast<const int*>(slot), at, 2);
      const __m256i words = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(pair, lowWords), 0x08);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(rr[i] + c0), _mm256_castsi256_si128(words));
    }
  }
}
#else
void signedLags_avx2(const int16_t* g, const int16_t* sign, int16_t* slot) { signedLags_scalar(g, sign, slot); }
void signedRows_avx2(const int16_t* g, const int16_t* sign, int step, int16_t (*rr)[kSubframe]) {
  signedRows_scalar(g, sign, step, rr);
}
#endif

namespace {

// Correlation matrix of h (scaled to unit energy below 1) with the pulse
// signs folded in; entry (i, j) in row i at the column of j in the order of
// `step` interleaved tracks.
// h scaled to unit energy below 1 (g); returns whether 2 sum g^2 stays
// below 2^31 - 2^15, where no partial sum of any diagonal leaves 32 bits
// (Cauchy-Schwarz) and none rounds past 2^31: plain sums and rounding then
// equal the saturating chains.
bool scaledResponse(const int16_t* h, int16_t* g) {
  // The chain 2 + sum 2 h^2 adds non-negative terms, so it saturates
  // exactly when the exact sum passes 2^31 - 1 and then stays there.
  int64_t eh = 2;
  for (int i = 0; i < kL; ++i) eh += 2 * (int64_t{h[i]} * h[i]);  // 2^31 for -32768: wide
  const int32_t e = eh > kMax32 ? kMax32 : static_cast<int32_t>(eh);
  if (extract_h(e) == 32767) {
    for (int i = 0; i < kL; ++i) g[i] = shr(h[i], 1);
  } else {
    // k >= 0, so L_mult(h, k) = 2 h k exactly; then the saturating shift
    // by 9 and the saturating rounding.
    const int16_t k = mult(extract_h(L_shl(vokInvSqrt(L_shr(e, 1)), 7)), 32440);
    int16_t hiH = 0, loH = 0;
    for (int i = 0; i < kL; ++i) {
      hiH = std::max(hiH, h[i]);
      loH = std::min(loH, h[i]);
    }
    // 1024 max|h| k + 2^15 below 2^31: neither the shift nor the rounding
    // saturates, and the plain 32-bit value is exact.
    if (1024 * int64_t{std::max(int32_t{hiH}, -int32_t{loH})} * k + 0x8000 < (int64_t{1} << 31)) {
      for (int i = 0; i < kL; ++i) g[i] = static_cast<int16_t>((h[i] * k * 1024 + 0x8000) >> 16);
    } else {
      for (int i = 0; i < kL; ++i) {
        int64_t w = int64_t{h[i]} * k * 1024;
        w = w > kMax32 ? kMax32 : (w < kMin32 ? kMin32 : w);
        w = std::min<int64_t>(w + 0x8000, kMax32);
        g[i] = static_cast<int16_t>(w >> 16);
      }
    }
  }
  int64_t eg = 0;
  for (int i = 0; i < kL; ++i) eg += int32_t{g[i]} * g[i];
  return 2 * eg < (int64_t{1} << 31) - 0x8000;
}

// Correlation matrix of h (scaled to unit energy below 1) with the pulse
// signs folded in; entry (i, j) in row i at the column of j in the order of
// `step` interleaved tracks.
void signedMatrix(const int16_t* h, const int16_t* sign, int step, int16_t (*rr)[kL]) {
  const int8_t* col = step == 5 ? kFiveTracks.at : (step == 4 ? kFourTracks.at : kNatural.at);
  int16_t g[kL];
  if (scaledResponse(h, g)) {
    static const auto rows = cpu::choose(signedRows_scalar, signedRows_avx2);
    rows(g, sign, step, rr);
    return;
  }
  int32_t s = 0;
  for (int k = 0; k < kL; ++k) {
    s = L_mac(s, g[k], g[k]);
    rr[kL - 1 - k][col[kL - 1 - k]] = round_fx(s);
  }
  for (int dec = 1; dec < kL; ++dec) {
    s = 0;
    for (int k = 0, j = kL - 1, i = kL - 1 - dec; k < kL - dec; ++k, --i, --j) {
      s = L_mac(s, g[k], g[k + dec]);
      rr[j][col[i]] = rr[i][col[j]] = mult(round_fx(s), mult(sign[i], sign[j]));
    }
  }
}

// The same matrix by lag (natural order), as signedLags_scalar lays it out:
// the searches of the low modes read their entries from it directly.
struct LagTable {
  int16_t slot[kL * kL];
  // Entry of the positions (i, j).
  int16_t at(int i, int j) const {
    const int hi = std::max(i, j), lo = std::min(i, j);
    return slot[kL * (kL - 1) - (kL - 1) * hi - lo];
  }
};

void signedLagTable(const int16_t* h, const int16_t* sign, LagTable& t) {
  int16_t g[kL];
  if (scaledResponse(h, g)) {
    static const auto lags = cpu::choose(signedLags_scalar, signedLags_avx2);
    lags(g, sign, t.slot);
    return;
  }
  for (int dec = 0; dec < kL; ++dec) {
    int32_t s = 0;
    for (int k = 0; k < kL - dec; ++k) {
      s = L_mac(s, g[k], g[k + dec]);
      const int16_t v = round_fx(s);
      t.slot[kL * k + dec] = dec == 0 ? v : mult(v, mult(sign[kL - 1 - k], sign[kL - 1 - k - dec]));
    }
  }
}

// One candidate test of the searches: (sq / alp) > (bestSq / bestAlp).
inline bool better(int16_t sq, int16_t alp, int16_t bestSq, int16_t bestAlp) {
  return L_msu(L_mult(bestAlp, sq), bestSq, alp) > 0;
}

// Depth-first search over 2, 3 or 4 tracks given by start positions:
// each further pulse is the best on its track given the ones already
// chosen; the energy terms take the codec's scalings per depth.
struct Search {
  const int16_t* d;
  const int16_t* keep;  // null: every first position
  const LagTable& rr;
  int16_t bestSq = -1, bestAlp = 1;
  int best[4] = {0, 1, 2, 3};

  // Two pulses in plain arithmetic.  d >= 0 (fixSigns), so the pulse sum
  // saturates only upwards and sq = ps^2 >> 15 <= 32766.  The energy
  // 16384 (r00 + r11) + 32768 r01 lies in [-2^31, 2^31 - 2^16] for any
  // words, so neither its chain nor its rounding saturates.  With sq >= 0
  // and bestSq >= -1 neither product of the comparison saturates, and the
  // saturating difference has the sign of the exact one.
  void run2(const int* start) {
    const int a = start[0], b = start[1];
    // Per first position r (lane) and candidate k: the energy before
    // rounding and the pulse sum.  Each lane keeps its own running best
    // over k, as the candidate loop of that first position does.
    int32_t diagA[8], dA[8], diagB[8], dB[8], cross[8][8];
    for (int k = 0; k < 8; ++k) {
      diagA[k] = 16384 * rr.at(a + 5 * k, a + 5 * k);
      dA[k] = d[a + 5 * k];
      diagB[k] = 16384 * rr.at(b + 5 * k, b + 5 * k);
      dB[k] = d[b + 5 * k];
      for (int r = 0; r < 8; ++r) cross[k][r] = 32768 * rr.at(a + 5 * r, b + 5 * k);
    }
    static const auto lanes = cpu::choose(pairLanes2_scalar, pairLanes2_avx2);
    PairLanes2 out;
    lanes(dA, diagA, dB, diagB, cross, out);
    for (int r = 0; r < 8; ++r) {
      // Both products lie within 32768 * 32766 (|alp| <= 32768, sq in
      // [-1, 32766]), so their difference is exact in 32 bits.
      if (int32_t{bestAlp} * out.sq[r] - int32_t{bestSq} * out.alp[r] > 0) {
        bestSq = static_cast<int16_t>(out.sq[r]);
        bestAlp = static_cast<int16_t>(out.alp[r]);
        best[0] = a + 5 * r;
        best[1] = out.at[r] < 0 ? b : b + 5 * out.at[r];
        best[2] = best[3] = 0;
      }
    }
  }

  void run(const int* start, int pulses) {
    if (pulses == 2 && !keep) {
      run2(start);
      return;
    }
    for (int i0 = start[0]; i0 < kL; i0 += 5) {
      if (keep && keep[i0] < 0) continue;
      int pos[4] = {i0};
      int16_t ps = d[i0], sq = -1, alp = 1;
      int32_t alp0 = L_mult(rr.at(i0, i0), 8192);
      for (int p = 1; p < pulses; ++p) {
        // weights of the new diagonal and cross terms at this depth
        const int16_t wDiag = p == 1 ? 8192 : 2048, wCross = p == 1 ? 16384 : 4096;
        if (p == 2) alp0 = L_mult(alp, 8192);
        if (p == 3) alp0 = L_deposit_h(alp);
        const int16_t ps0 = ps;
        int16_t bsq = -1, balp = 1, bps = 0;
        int at = start[p];
        for (int n = start[p]; n < kL; n += 5) {
          const int16_t ps1 = add(ps0, d[n]);
          int32_t a = L_mac(alp0, rr.at(n, n), wDiag);
          for (int q = p - 1; q >= 0; --q) a = L_mac(a, rr.at(pos[q], n), wCross);
          const int16_t sq1 = mult(ps1, ps1), a16 = round_fx(a);
          if (better(sq1, a16, bsq, balp)) {
            bsq = sq1;
            balp = a16;
            bps = ps1;
            at = n;
          }
        }
        pos[p] = at;
        ps = bps;
        sq = bsq;
        alp = balp;
      }
      if (better(sq, alp, bestSq, bestAlp)) {
        bestSq = sq;
        bestAlp = alp;
        std::memcpy(best, pos, sizeof best);
      }
    }
  }
};

}  // namespace

// Both products of the lane test lie within 32768 * 32766 (|alp| <= 32768,
// sq in [-1, 32766]), so their difference is exact in 32 bits; the energy
// sum lies in [-2^31, 2^31 - 2^15] for any words, so no sum wraps.
void pairLanes2_scalar(const int32_t* dA, const int32_t* diagA, const int32_t* dB, const int32_t* diagB,
                       const int32_t (*cross)[8], PairLanes2& out) {
  for (int r = 0; r < 8; ++r) {
    out.sq[r] = -1;
    out.alp[r] = 1;
    out.at[r] = -1;
  }
  for (int k = 0; k < 8; ++k)
    for (int r = 0; r < 8; ++r) {
      const int32_t ps = std::min(dA[r] + dB[k], 32767);
      const int32_t sq = (ps * ps) >> 15;
      const int32_t alp = (diagA[r] + diagB[k] + cross[k][r] + 0x8000) >> 16;
      const bool up = out.alp[r] * sq - out.sq[r] * alp > 0;
      out.sq[r] = up ? sq : out.sq[r];
      out.alp[r] = up ? alp : out.alp[r];
      out.at[r] = up ? k : out.at[r];
    }
}

#if defined(VOKSC_X86)
// The same in eight 32-bit lanes (mullo products and sums exact by the
// bounds above; 2^15 is added to diagB[k] first, which changes no value
// since lane sums wrap the same in any order and the final one is exact).
VOKSC_TARGET_AVX2 void pairLanes2_avx2(const int32_t* dA, const int32_t* diagA, const int32_t* dB,
                                       const int32_t* diagB, const int32_t (*cross)[8], PairLanes2& out) {
  const __m256i da = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dA));
  const __m256i ga = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(diagA));
  const __m256i cap = _mm256_set1_epi32(32767), zero = _mm256_setzero_si256();
  __m256i bsq = _mm256_set1_epi32(-1), balp = _mm256_set1_epi32(1), at = _mm256_set1_epi32(-1);
  for (int k = 0; k < 8; ++k) {
    const __m256i ps = _mm256_min_epi32(_mm256_add_epi32(da, _mm256_set1_epi32(dB[k])), cap);
    const __m256i sq = _mm256_srai_epi32(_mm256_mullo_epi32(ps, ps), 15);
    const __m256i e = _mm256_add_epi32(_mm256_add_epi32(ga, _mm256_set1_epi32(diagB[k] + 0x8000)),
                                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cross[k])));
    const __m256i alp = _mm256_srai_epi32(e, 16);
    const __m256i up =
        _mm256_cmpgt_epi32(_mm256_sub_epi32(_mm256_mullo_epi32(balp, sq), _mm256_mullo_epi32(bsq, alp)), zero);
    bsq = _mm256_blendv_epi8(bsq, sq, up);
    balp = _mm256_blendv_epi8(balp, alp, up);
    at = _mm256_blendv_epi8(at, _mm256_set1_epi32(k), up);
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.sq), bsq);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.alp), balp);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.at), at);
}
#else
void pairLanes2_avx2(const int32_t* dA, const int32_t* diagA, const int32_t* dB, const int32_t* diagB,
                     const int32_t (*cross)[8], PairLanes2& out) {
  pairLanes2_scalar(dA, diagA, dB, diagB, cross, out);
}
#endif

namespace {

// Pulses of +8191 / -8192 into code, and their filtered sum into y.
void buildPulses(const int* pos, int n, const int16_t* sign, const int16_t* h, int16_t* code, int16_t* y) {
  int16_t amp[4];
  std::memset(code, 0, kL * sizeof(int16_t));
  for (int k = 0; k < n; ++k) {
    code[pos[k]] = sign[pos[k]] > 0 ? 8191 : -8192;
    amp[k] = sign[pos[k]] > 0 ? 32767 : -32768;
  }
  int16_t hiH = 0, loH = 0;
  for (int i = 0; i < kL; ++i) {
    hiH = std::max(hiH, h[i]);
    loH = std::min(loH, h[i]);
  }
  // n terms of magnitude at most 2^16 max|h|: below 2^31 - 2^15 neither a
  // product, a partial sum nor the rounding saturates, and the sums may be
  // formed in any order.
  if (int64_t{n} * 65536 * std::max(int32_t{hiH}, -int32_t{loH}) < (int64_t{1} << 31) - 0x8000) {
    int32_t acc[kL] = {};
    for (int k = 0; k < n; ++k)
      for (int i = pos[k]; i < kL; ++i) acc[i] += 2 * amp[k] * h[i - pos[k]];
    for (int i = 0; i < kL; ++i) y[i] = static_cast<int16_t>((acc[i] + 0x8000) >> 16);
    return;
  }
  for (int i = 0; i < kL; ++i) {
    int32_t s = 0;
    for (int k = 0; k < n; ++k) s = L_mac(s, i >= pos[k] ? h[i - pos[k]] : 0, amp[k]);
    y[i] = round_fx(s);
  }
}

// Signs of the 8- and 10-pulse codebooks from the normalised sum of the
// target correlation and the LTP residual; d becomes |d| under that sign,
// the strongest position of every track is noted and the tracks are
// ordered starting from the one with the strongest of all.
void fixSignsWide(int16_t* d, const int16_t* res, int16_t* sign, int* posMax, int* order, int tracks) {
  auto invNorm = [](const int16_t* v) {
    int64_t e = 256;
    for (int i = 0; i < kL; ++i) e += 2 * int64_t{v[i]} * v[i];
    return extract_h(L_shl(vokInvSqrt(e > kMax32 ? kMax32 : static_cast<int32_t>(e)), 5));
  };
  const int16_t kRes = invNorm(res), kD = invNorm(d);
  int16_t en[kL];
  // Without branches on the signs (they follow the data).  Both factors
  // are non-negative high halves of a shifted inverse root, so the
  // products 2 kRes res and 2 kD v are exact and the chain is the sum 2 S,
  // S = kRes res + kD v, clamped to 32 bits, shifted by 10 and clamped
  // again (the same as clamping 2048 S once: the sign is kept), then
  // rounded with saturation: that is (S + 16) >> 5 clamped to 16 bits.
  // The sign folds as (x ^ m) - m with m = -1 for a negative sign, 32768
  // clamped to 32767 as negate() gives it.
  for (int i = 0; i < kL; ++i) {
    const int32_t c = std::min(std::max((int32_t{kRes} * res[i] + int32_t{kD} * d[i] + 16) >> 5, -32768), 32767);
    const int32_t m = c >> 31;
    sign[i] = static_cast<int16_t>((32767 ^ m) - m);
    en[i] = static_cast<int16_t>(std::min((c ^ m) - m, 32767));
    d[i] = static_cast<int16_t>(std::min((d[i] ^ m) - m, 32767));
  }
  // Strongest position per track, the first of equals: the largest of
  // en 64 + (63 - n) (en >= 0 after the sign fold).
  int16_t top = -1;
  int first = 0;
  for (int t = 0; t < tracks; ++t) {
    int key = -1;
    for (int n = t; n < kL; n += tracks) key = std::max(key, en[n] * 64 + (63 - n));
    const int16_t m = static_cast<int16_t>(key >> 6);
    posMax[t] = 63 - (key & 63);
    if (m > top) {
      top = m;
      first = t;
    }
  }
  for (int i = 0; i < tracks; ++i) order[i] = order[i + tracks] = (first + i) % tracks;
}

// Search of 8 (four tracks) or 10 (five tracks) pulses: the first pulse
// fixed at the strongest position, the second at the strongest of each
// further track in turn, then pairs of pulses searched jointly.  The matrix
// holds its columns in track order (kFourTracks / kFiveTracks), so the len
// candidates of track t are columns t len .. t len + len - 1 of every row.
void searchWide(const int16_t* d, int16_t (*rr)[kL], const int* posMax, int* order, int pulses, int step, int* best) {
  const int tracks = pulses / 2, len = kL / step;
  const int8_t* col = step == 5 ? kFiveTracks.at : kFourTracks.at;
  auto at = [&](int i, int j) { return rr[i][col[j]]; };
  // The diagonal and the correlations in column order.
  int32_t diagC[kL];
  int16_t dC[kL];
  for (int n = 0; n < kL; ++n) {
    diagC[col[n]] = at(n, n);
    dC[col[n]] = d[n];
  }
  const int i0 = posMax[order[0]];
  int16_t bestSq = -1, bestAlp = 1;
  for (int k = 0; k < pulses; ++k) best[k] = k;
  // Weights per pair (2,3), (4,5), (6,7), (8,9): the earlier-pulse scale of
  // the precomputed cross sum, its diagonal and the joint terms.
  struct PairW { int16_t rrvDiag, rrvCross, diag, cross, rrvW, pairCross; };
  static const PairW kW[4] = {{4096, 8192, 2048, 4096, 16384, 4096},
                              {4096, 8192, 1024, 2048, 8192, 2048},
                              {2048, 4096, 512, 1024, 8192, 1024},
                              {2048, 4096, 256, 512, 4096, 512}};
  for (int round = 1; round < tracks; ++round) {
    int pos[10];
    pos[0] = i0;
    pos[1] = posMax[order[1]];
    int16_t ps = add(d[pos[0]], d[pos[1]]), sq = -1, alp = 1;
    int32_t alp0 = L_mac(L_mac(L_mult(at(pos[0], pos[0]), 2048), at(pos[1], pos[1]), 2048), at(pos[0], pos[1]), 4096);
    // Row sums over the fixed pulses, and of their magnitudes, by column.
    int32_t fixed[kL], fixedMag[kL];
    auto addRows = [&](int p0, int p1, bool first) {
      for (int c = 0; c < kL; ++c) {
        const int32_t u = rr[p0][c], v = rr[p1][c];
        const int32_t sum = u + v, mag = (u < 0 ? -u : u) + (v < 0 ? -v : v);
        fixed[c] = first ? sum : fixed[c] + sum;
        fixedMag[c] = first ? mag : fixedMag[c] + mag;
      }
    };
    addRows(pos[0], pos[1], true);
    for (int pr = 0; 2 * pr + 3 < pulses; ++pr) {
      const int a = 2 * pr + 2, b = a + 1;
      const PairW& w = kW[pr];
      if (pr > 0) alp0 = L_mult(alp, 16384);
      // Per pass: the cross sum of the second pulse's candidates with the
      // fixed pulses (rrvTerm) and the energy with the first pulse's
      // candidate added (firstAlp), each the value of its saturating chain.
      // A chain whose terms' magnitudes sum below the limit never saturates,
      // so it is the plain sum of the row sums fixed[] (magnitudes in
      // fixedMag[]).  One bound from the largest magnitudes of the track
      // clears the whole track at once; otherwise each candidate is tested.
      const int ta = order[a], tb = order[b], ca = ta * len, cb = tb * len;
      constexpr int64_t kRoundLimit = (int64_t{1} << 31) - 0x8000;
      int16_t ps1s[10];
      int32_t firstAlp[10], rrvTerm[10];
      int64_t peaks = 0;
      static const auto terms8 = cpu::choose(pairTerms8_scalar, pairTerms8_avx2);
      const PairTerms pt{fixed + ca, fixedMag + ca, diagC + ca, dC + ca, fixed + cb, fixedMag + cb, diagC + cb,
                         alp0, ps, w.diag, w.cross, w.rrvDiag, w.rrvCross, w.rrvW};
      if (len != 8 || !terms8(pt, firstAlp, rrvTerm, ps1s, peaks)) {
        int32_t topDiagA = 0, topMagA = 0, topDiagB = 0, topMagB = 0;
        for (int k = 0; k < len; ++k) {
          topDiagA = std::max(topDiagA, std::abs(diagC[ca + k]));
          topMagA = std::max(topMagA, fixedMag[ca + k]);
          topDiagB = std::max(topDiagB, std::abs(diagC[cb + k]));
          topMagB = std::max(topMagB, fixedMag[cb + k]);
        }
        if (2 * (w.rrvDiag * int64_t{topDiagB} + int64_t{w.rrvCross} * topMagB) < kRoundLimit) {
          for (int k = 0; k < len; ++k) {
            const int32_t s = 2 * (w.rrvDiag * diagC[cb + k] + w.rrvCross * fixed[cb + k]);
            rrvTerm[k] = 2 * ((s + 0x8000) >> 16) * w.rrvW;
          }
        } else {
          for (int k = 0; k < len; ++k) {
            const int n = tb + step * k;
            const int32_t diag = diagC[cb + k];
            int32_t s;
            if (2 * (w.rrvDiag * int64_t{diag < 0 ? -diag : diag} + int64_t{w.rrvCross} * fixedMag[cb + k]) <
                kRoundLimit) {
              s = 2 * (w.rrvDiag * diag + w.rrvCross * fixed[cb + k]);
            } else {
              s = L_mult(static_cast<int16_t>(diag), w.rrvDiag);
              for (int q = 0; q < a; ++q) s = L_mac(s, at(pos[q], n), w.rrvCross);
            }
            rrvTerm[k] = L_mult(round_fx(s), w.rrvW);
          }
        }
        const int64_t alp0Mag = alp0 < 0 ? -int64_t{alp0} : alp0;
        if (alp0Mag + 2 * (w.diag * int64_t{topDiagA} + int64_t{w.cross} * topMagA) < (int64_t{1} << 31)) {
          for (int k = 0; k < len; ++k) firstAlp[k] = alp0 + 2 * (w.diag * diagC[ca + k] + w.cross * fixed[ca + k]);
        } else {
          for (int k = 0; k < len; ++k) {
            const int n2 = ta + step * k;
            const int32_t diag = diagC[ca + k];
            int32_t a1;
            if (alp0Mag + 2 * (w.diag * int64_t{diag < 0 ? -diag : diag} + int64_t{w.cross} * fixedMag[ca + k]) <
                (int64_t{1} << 31)) {
              a1 = alp0 + 2 * (w.diag * diag + w.cross * fixed[ca + k]);
            } else {
              a1 = L_mac(alp0, static_cast<int16_t>(diag), w.diag);
              for (int q = 0; q < a; ++q) a1 = L_mac(a1, at(pos[q], n2), w.cross);
            }
            firstAlp[k] = a1;
          }
        }
        int64_t peak = 0, peak1 = 0;
        for (int k = 0; k < len; ++k) {
          ps1s[k] = add(ps, dC[ca + k]);
          peak = std::max<int64_t>(peak, rrvTerm[k] < 0 ? -int64_t{rrvTerm[k]} : rrvTerm[k]);
          peak1 = std::max<int64_t>(peak1, firstAlp[k] < 0 ? -int64_t{firstAlp[k]} : firstAlp[k]);
        }
        peaks = peak + peak1;
      }
      sq = -1;
      alp = 1;
      ps = 0;
      int ia = ta, ib = tb;
      // Every partial sum of the three-term chain below is bounded by
      // peak1 + peak + 2 |pairCross| 32767; below 2^31 - 2^15 neither the
      // chain nor the rounding saturates and plain sums are exact.
      const bool plain = peaks + 2 * int64_t{w.pairCross} * 32767 < kRoundLimit;
      const int32_t pairW = 2 * int32_t{w.pairCross};
      if (plain && len == 8) {
        // Row k of the pass is matrix row ta + step k from column cb on.
        PairBest pb{sq, alp, ps, -1, -1};
        static const auto pass = cpu::choose(pairPass8_scalar, pairPass8_avx2);
        pass(ps1s, firstAlp, dC + cb, rrvTerm, &rr[0][0] + ta * kL + cb, step * kL, pairW, pb);
        sq = pb.sq;
        alp = pb.alp;
        ps = pb.ps;
        if (pb.first >= 0) {
          ia = ta + step * pb.first;
          ib = tb + step * pb.second;
        }
      } else {
        for (int i2 = 0; i2 < len; ++i2) {
          const int16_t* row = rr[ta + step * i2] + cb;
          const int16_t ps1 = ps1s[i2];
          const int32_t a1 = firstAlp[i2];
          for (int i3 = 0; i3 < len; ++i3) {
            const int16_t ps2 = add(ps1, dC[cb + i3]);
            const int16_t sq2 = mult(ps2, ps2);
            int16_t a16;
            if (plain) {
              a16 = static_cast<int16_t>((a1 + rrvTerm[i3] + pairW * row[i3] + 0x8000) >> 16);
            } else {
              a16 = round_fx(L_mac(L_add(a1, rrvTerm[i3]), row[i3], w.pairCross));
            }
            // sq2 / a16 > sq / alp, as the sign of the cross difference
            // (both products fit 31 bits; the doubled saturating form has the same sign).
            if (int32_t{alp} * sq2 - int32_t{sq} * a16 > 0) {
              sq = sq2;
              ps = ps2;
              alp = a16;
              ia = ta + step * i2;
              ib = tb + step * i3;
            }
          }
        }
      }
      pos[a] = ia;
      pos[b] = ib;
      if (2 * pr + 5 < pulses) addRows(ia, ib, false);
    }
    if (better(sq, alp, bestSq, bestAlp)) {
      bestSq = sq;
      bestAlp = alp;
      std::memcpy(best, pos, static_cast<size_t>(pulses) * sizeof(int));
    }
    const int first = order[1];
    for (int j = 1; j < pulses - 1; ++j) order[j] = order[j + 1];
    order[pulses - 1] = first;
  }
}

// Pulses of amplitude amp (negated for a negative sign, coinciding pulses
// adding up) and the filtered vector with the per-pulse filter scale.
void buildWide(const int* pos, int n, const int16_t* sign, const int16_t* h, int16_t amp, int16_t scalePos,
               int16_t scaleNeg, int16_t* code, int16_t* y) {
  int16_t sc[10];
  std::memset(code, 0, kL * sizeof(int16_t));
  for (int k = 0; k < n; ++k) {
    const bool plus = sign[pos[k]] > 0;
    code[pos[k]] = plus ? add(code[pos[k]], amp) : sub(code[pos[k]], amp);
    sc[k] = plus ? scalePos : scaleNeg;
  }
  // Sums of magnitudes below 2^31 - 2^15: plain sums, pulse by pulse.
  int32_t hTop = 0, scSum = 0;
  for (int i = 0; i < kL; ++i) hTop = std::max(hTop, h[i] < 0 ? -int32_t{h[i]} : int32_t{h[i]});
  for (int k = 0; k < n; ++k) scSum += sc[k] < 0 ? -int32_t{sc[k]} : int32_t{sc[k]};
  if (2 * int64_t{hTop} * scSum < (int64_t{1} << 31) - 0x8000) {
    // Every pulse over all 40 outputs from a zero-led copy of h: the same
    // sums, at a fixed count per pulse instead of one that follows the data.
    int16_t hz[2 * kL] = {};
    std::memcpy(hz + kL, h, kL * sizeof(int16_t));
    int32_t acc[kL];
    static const auto sum = cpu::choose(pulseSum_scalar, pulseSum_avx2);
    sum(hz, pos, sc, n, acc);
    for (int i = 0; i < kL; ++i) y[i] = static_cast<int16_t>((2 * acc[i] + 0x8000) >> 16);
    return;
  }
  for (int i = 0; i < kL; ++i) {
    int32_t s = 0;
    for (int k = 0; k < n; ++k) s = L_mac(s, i >= pos[k] ? h[i - pos[k]] : 0, sc[k]);
    y[i] = round_fx(s);
  }
}

void search122(const int16_t* x, const int16_t* res, const int16_t* h, int16_t* code, int16_t* y, int16_t* words) {
  int16_t d[kL], sign[kL], rr[kL][kL];
  int posMax[5], order[10], best[10];
  targetCorrelation(h, x, d, 2, 5);
  fixSignsWide(d, res, sign, posMax, order, 5);
  signedMatrix(h, sign, 5, rr);
  searchWide(d, rr, posMax, order, 10, 5, best);
  buildWide(best, 10, sign, h, 4096, 8192, -8192, code, y);
  int16_t w[10];
  // Each track holds two of the pulses (the search places the first on
  // one track and the pairs on the rotating list of the other four, each
  // twice): the two words of a track are then chosen by selects, not by
  // branches on the data.  Same sign: the lower index first; else the one
  // of higher position first, the later pulse on equal positions.
  int16_t pair[5][2];
  int count[5] = {};
  for (int k = 0; k < 10; ++k) {
    const int p = best[k], q = (p * 6554) >> 15, t = p - 5 * q;
    if (count[t] < 2) pair[t][count[t]] = static_cast<int16_t>(sign[p] > 0 ? q : q + 8);
    ++count[t];
  }
  bool twoEach = true;
  for (int c : count) twoEach = twoEach && c == 2;
  for (int t = 0; t < 5 && twoEach; ++t) {
    const int a = pair[t][0], b = pair[t][1];
    const bool same = ((a ^ b) & 8) == 0, bFirst = same ? b < a : (a & 7) <= (b & 7);
    w[t] = static_cast<int16_t>(bFirst ? b : a);
    w[t + 5] = static_cast<int16_t>(bFirst ? a : b);
  }
  for (auto& v : w) v = twoEach ? v : -1;
  for (int k = 0; k < 10 && !twoEach; ++k) {
    const int p = best[k], q = (p * 6554) >> 15, t = p - 5 * q;
    const int16_t idx = static_cast<int16_t>(sign[p] > 0 ? q : q + 8);
    if (w[t] < 0) {
      w[t] = idx;
    } else if (((idx ^ w[t]) & 8) == 0) {
      if (w[t] <= idx) {
        w[t + 5] = idx;
      } else {
        w[t + 5] = w[t];
        w[t] = idx;
      }
    } else if ((w[t] & 7) <= (idx & 7)) {
      w[t + 5] = w[t];
      w[t] = idx;
    } else {
      w[t + 5] = idx;
    }
  }
  for (int k = 0; k < 10; ++k)
    words[k] = static_cast<int16_t>(k < 5 ? ((w[k] & 8) | kGrayCode[w[k] & 7]) : kGrayCode[w[k] & 7]);
}

void search102(const int16_t* x, const int16_t* res, const int16_t* h, int16_t* code, int16_t* y, int16_t* words) {
  int16_t d[kL], sign[kL], rr[kL][kL];
  int posMax[4], order[8], best[8];
  targetCorrelation(h, x, d, 2, 4);
  fixSignsWide(d, res, sign, posMax, order, 4);
  signedMatrix(h, sign, 4, rr);
  searchWide(d, rr, posMax, order, 8, 4, best);
  buildWide(best, 8, sign, h, 8191, 32767, -32768, code, y);
  int16_t pos[8], sg[4];
  for (int k = 0; k < 8; ++k) pos[k] = -1;
  for (int k = 0; k < 4; ++k) sg[k] = -1;
  for (int k = 0; k < 8; ++k) {
    const int p = best[k], t = p & 3;
    const int16_t pi = static_cast<int16_t>(p >> 2), si = sign[p] > 0 ? 0 : 1;
    if (pos[t] < 0) {
      pos[t] = pi;
      sg[t] = si;
    } else if (((si ^ sg[t]) & 1) == 0) {
      if (pos[t] <= pi) {
        pos[t + 4] = pi;
      } else {
        pos[t + 4] = pos[t];
        pos[t] = pi;
        sg[t] = si;
      }
    } else if (pos[t] <= pi) {
      pos[t + 4] = pos[t];
      pos[t] = pi;
      sg[t] = si;
    } else {
      pos[t + 4] = pi;
    }
  }
  // Three positions per word: base-5 halves in the high bits, low bits below.
  auto pack3 = [](int a, int b, int c) { return ((a >> 1) + 5 * (b >> 1) + 25 * (c >> 1)) * 8 + (a & 1) + 2 * (b & 1) + 4 * (c & 1); };
  for (int k = 0; k < 4; ++k) words[k] = sg[k];
  words[4] = static_cast<int16_t>(pack3(pos[0], pos[4], pos[1]));
  words[5] = static_cast<int16_t>(pack3(pos[2], pos[6], pos[5]));
  const int hb = pos[7] >> 1;
  const int ha = (hb & 1) ? 4 - (pos[3] >> 1) : (pos[3] >> 1);
  const int16_t t = static_cast<int16_t>(((ha + 5 * hb) << 5) + 12);
  words[6] = static_cast<int16_t>((pos[3] & 1) + 2 * (pos[7] & 1) + 4 * mult(t, 1311));
}

// Searches of the modes up to 7.95 kbit/s; returns (positions, signs).
void searchLowModes(int mode, int subframe, const int16_t* x, const int16_t* h, int16_t* code, int16_t* y,
                    int16_t* words) {
  int16_t d[kL], sign[kL], keep[kL];
  LagTable rr;
  const int pulses = mode <= kMr59 || mode == kModeSid ? 2 : (mode == kMr67 ? 3 : 4);
  targetCorrelation(h, x, d, 1);
  fixSigns(d, sign, keep, pulses == 2 ? 8 : (pulses == 3 ? 6 : 4));
  signedLagTable(h, sign, rr);
  Search s{d, pulses == 2 ? nullptr : keep, rr};
  if (mode == kMr475 || mode == kMr515 || mode == kModeSid) {
    for (int half = 0; half < 2; ++half) {
      const int start[2] = {kStart2x9[2 * subframe + 8 * half], kStart2x9[2 * subframe + 1 + 8 * half]};
      s.run(start, 2);
    }
  } else if (mode == kMr59) {
    const int first[2] = {1, 3}, second[4] = {0, 1, 2, 4};
    for (int a : first)
      for (int b : second) {
        const int start[2] = {a, b};
        s.run(start, 2);
      }
  } else if (mode == kMr67) {
    for (int t1 = 1; t1 < 4; t1 += 2)
      for (int t2 = 2; t2 < 5; t2 += 2) {
        int start[3] = {0, t1, t2};
        for (int r = 0; r < 3; ++r) {
          s.run(start, 3);
          const int last = start[2];
          start[2] = start[1];
          start[1] = start[0];
          start[0] = last;
        }
      }
  } else {
    for (int t = 3; t < 5; ++t) {
      int start[4] = {0, 1, 2, t};
      for (int r = 0; r < 4; ++r) {
        s.run(start, 4);
        const int last = start[3];
        start[3] = start[2];
        start[2] = start[1];
        start[1] = start[0];
        start[0] = last;
      }
    }
  }
  buildPulses(s.best, pulses, sign, h, code, y);
  // Index words: position fields per track layout of the mode, sign bits.
  int index = 0, signs = 0;
  static const int8_t kTrack2x9[20] = {0, 1, 0, 1, -1, 0, -1, 1, 0, 1, 0, 1, 0, -1, 1, 0, 1, -1, 0, 1};
  for (int k = 0; k < pulses; ++k) {
    const int p = s.best[k], q = (p * 6554) >> 15, t = p - 5 * q;
    int field, bit;
    switch (pulses == 2 && mode != kMr59 ? 0 : (mode == kMr59 ? 1 : pulses)) {
      case 0: {  // 4.75 / 5.15: second pulse in bits 3..5, bit 6 marks the odd track pair
        const int first = kTrack2x9[5 * subframe + t];
        field = k == 0 ? q + (first != 0 ? 64 : 0) : q << 3;
        bit = k == 0 ? 0 : 1;
        break;
      }
      case 1: {  // 5.9: track 1/3 pulse in bits 0..3, the other in bits 4..9
        static const int kShift[5] = {6, 1, 6, 1, 6}, kAdd[5] = {0, 0, 32, 1, 48};
        if (t == 1 && k != 0) {
          field = (q << 6) + 16;
          bit = 1;
        } else {
          field = (q << kShift[t]) + kAdd[t];
          bit = (t == 1 || t == 3) ? 0 : 1;
        }
        break;
      }
      case 3: {  // 6.7
        static const int kShift[5] = {0, 4, 8, 4, 8}, kAdd[5] = {0, 0, 0, 8, 128}, kBit[5] = {0, 1, 2, 1, 2};
        field = (q << kShift[t]) + kAdd[t];
        bit = kBit[t];
        break;
      }
      default: {  // 7.4 / 7.95, Gray-coded fields
        static const int kShift[5] = {0, 3, 6, 10, 10}, kAdd[5] = {0, 0, 0, 0, 512}, kBit[5] = {0, 1, 2, 3, 3};
        field = (kGrayCode[q] << kShift[t]) + kAdd[t];
        bit = kBit[t];
        break;
      }
    }
    if (sign[p] > 0) signs += 1 << bit;
    index += field;
  }
  words[0] = static_cast<int16_t>(index);
  words[1] = static_cast<int16_t>(signs);
}

VokResult search(int16_t lag, int16_t pitchGain, const int16_t* target, const int16_t* ltpRes, const int16_t* impResp,
                 int16_t* code, int16_t* filtCode, int16_t* indices, int16_t subframe, VokRateCode rate) {
  const int mode = modeOfRate(rate, true);
  if (static_cast<uint16_t>(subframe) > 3 || lag < 17 || lag > 144 || mode < 0) return vokErrRange;
  int16_t h[kL], c[kL], y[kL], w[10];
  std::memcpy(h, impResp, sizeof h);
  const int16_t sharp = shl(pitchGain, 1);
  if (lag < kL)
    for (int i = lag; i < kL; ++i) h[i] = add(h[i], mult(h[i - lag], sharp));
  int words = 2;
  if (mode == kMr122) {
    search122(target, ltpRes, h, c, y, w);
    words = 10;
  } else if (mode == kMr102) {
    search102(target, ltpRes, h, c, y, w);
    words = 7;
  } else {
    searchLowModes(mode, subframe, target, h, c, y, w);
  }
  if (lag < kL)
    for (int i = lag; i < kL; ++i) c[i] = add(c[i], mult(c[i - lag], sharp));
  std::memcpy(code, c, sizeof c);
  std::memcpy(filtCode, y, sizeof y);
  std::memcpy(indices, w, static_cast<size_t>(words) * sizeof(int16_t));
  return vokOk;
}

}  // namespace

void pulseSum_scalar(const int16_t* hz, const int* pos, const int16_t* scale, int n, int32_t* acc) {
  std::memset(acc, 0, kL * sizeof(int32_t));
  for (int k = 0; k < n; ++k) {
    const int16_t* hk = hz + kL - pos[k];
    for (int i = 0; i < kL; ++i) acc[i] += scale[k] * hk[i];
  }
}

#if defined(VOKSC_X86)
VOKSC_TARGET_AVX2 void pulseSum_avx2(const int16_t* hz, const int* pos, const int16_t* scale, int n, int32_t* acc) {
  __m256i a[5];
  for (__m256i& v : a) v = _mm256_setzero_si256();
  for (int k = 0; k < n; ++k) {
    const int16_t* hk = hz + kL - pos[k];
    const __m256i c = _mm256_set1_epi32(scale[k]);
    for (int v = 0; v < 5; ++v) {
      const __m256i x = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(hk + 8 * v)));
      a[v] = _mm256_add_epi32(a[v], _mm256_mullo_epi32(c, x));
    }
  }
  for (int v = 0; v < 5; ++v) _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + 8 * v), a[v]);
}
#else
void pulseSum_avx2(const int16_t* hz, const int* pos, const int16_t* scale, int n, int32_t* acc) {
  pulseSum_scalar(hz, pos, scale, n, acc);
}
#endif

bool pairTerms8_scalar(const PairTerms& t, int32_t* firstAlp, int32_t* secondTerm, int16_t* firstSum, int64_t& peaks) {
  int32_t topDiag1 = 0, topMag1 = 0, topDiag2 = 0, topMag2 = 0;
  for (int k = 0; k < 8; ++k) {
    topDiag1 = std::max(topDiag1, std::abs(t.diag1[k]));
    topMag1 = std::max(topMag1, t.fixedMag1[k]);
    topDiag2 = std::max(topDiag2, std::abs(t.diag2[k]));
    topMag2 = std::max(topMag2, t.fixedMag2[k]);
  }
  if (!pairTermsBounded(t, topDiag1, topMag1, topDiag2, topMag2)) return false;
  int32_t peak1 = 0, peak2 = 0;
  for (int k = 0; k < 8; ++k) {
    firstAlp[k] = t.alp0 + 2 * (t.diagW1 * t.diag1[k] + t.crossW1 * t.fixed1[k]);
    const int32_t s = 2 * (t.diagW2 * t.diag2[k] + t.crossW2 * t.fixed2[k]);
    secondTerm[k] = 2 * ((s + 0x8000) >> 16) * t.termW2;
    firstSum[k] = add(t.ps, t.d1[k]);
    peak1 = std::max(peak1, std::abs(firstAlp[k]));
    peak2 = std::max(peak2, std::abs(secondTerm[k]));
  }
  peaks = int64_t{peak1} + peak2;
  return true;
}

#if defined(VOKSC_X86)
namespace {
VOKSC_TARGET_AVX2 inline int32_t laneMax(__m256i v) {
  __m128i m = _mm_max_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  m = _mm_max_epi32(m, _mm_shuffle_epi32(m, 0x4E));
  m = _mm_max_epi32(m, _mm_shuffle_epi32(m, 0xB1));
  return _mm_cvtsi128_si32(m);
}
VOKSC_TARGET_AVX2 inline __m256i load8(const int32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
}  // namespace

VOKSC_TARGET_AVX2 bool pairTerms8_avx2(const PairTerms& t, int32_t* firstAlp, int32_t* secondTerm, int16_t* firstSum,
                                       int64_t& peaks) {
  const __m256i diag1 = load8(t.diag1), fixed1 = load8(t.fixed1), diag2 = load8(t.diag2), fixed2 = load8(t.fixed2);
  if (!pairTermsBounded(t, laneMax(_mm256_abs_epi32(diag1)), laneMax(load8(t.fixedMag1)),
                        laneMax(_mm256_abs_epi32(diag2)), laneMax(load8(t.fixedMag2))))
    return false;
  // Every product and sum below is bounded as checked, so 32-bit lanes hold it exactly.
  const __m256i a1 = _mm256_add_epi32(
      _mm256_set1_epi32(t.alp0),
      _mm256_slli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(diag1, _mm256_set1_epi32(t.diagW1)),
                                         _mm256_mullo_epi32(fixed1, _mm256_set1_epi32(t.crossW1))),
                        1));
  const __m256i s = _mm256_slli_epi32(_mm256_add_epi32(_mm256_mullo_epi32(diag2, _mm256_set1_epi32(t.diagW2)),
                                                       _mm256_mullo_epi32(fixed2, _mm256_set1_epi32(t.crossW2))),
                                      1);
  const __m256i r = _mm256_srai_epi32(_mm256_add_epi32(s, _mm256_set1_epi32(0x8000)), 16);
  const __m256i term = _mm256_mullo_epi32(r, _mm256_set1_epi32(2 * t.termW2));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(firstAlp), a1);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(secondTerm), term);
  const __m128i sums =
      _mm_adds_epi16(_mm_set1_epi16(t.ps), _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.d1)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(firstSum), sums);
  peaks = int64_t{laneMax(_mm256_abs_epi32(a1))} + laneMax(_mm256_abs_epi32(term));
  return true;
}
#else
bool pairTerms8_avx2(const PairTerms& t, int32_t* firstAlp, int32_t* secondTerm, int16_t* firstSum, int64_t& peaks) {
  return pairTerms8_scalar(t, firstAlp, secondTerm, firstSum, peaks);
}
#endif

namespace {
// The scan of pairPass8_scalar in row order, the best held in registers;
// Plain: the sums neither saturate nor reach -32768.
template <bool Plain>
void pairScan(const int16_t* ps1, const int32_t* alp1, const int16_t* d2, const int32_t* alp2, const int16_t* cross,
              int crossStride, int32_t pairW, PairBest& best) {
  int32_t bestSq = best.sq, bestAlp = best.alp;
  int at = -1;
  int16_t atSum = 0;
  for (int i = 0; i < 8; ++i) {
    const int16_t* crossRow = cross + i * crossStride;
    for (int j = 0; j < 8; ++j) {
      const int16_t sum = Plain ? static_cast<int16_t>(ps1[i] + d2[j]) : add(ps1[i], d2[j]);
      const int32_t sq = Plain ? (int32_t{sum} * sum) >> 15 : mult(sum, sum);
      const int32_t alp = static_cast<int16_t>((alp1[i] + alp2[j] + pairW * crossRow[j] + 0x8000) >> 16);
      // Both products fit 31 bits, so their difference does not wrap.
      if (bestAlp * sq - bestSq * alp > 0) {
        bestSq = sq;
        bestAlp = alp;
        at = 8 * i + j;
        atSum = sum;
      }
    }
  }
  if (at >= 0) best = PairBest{static_cast<int16_t>(bestSq), static_cast<int16_t>(bestAlp), atSum, at >> 3, at & 7};
}
}  // namespace

void pairPass8_scalar(const int16_t* ps1, const int32_t* alp1, const int16_t* d2, const int32_t* alp2,
                      const int16_t* cross, int crossStride, int32_t pairW, PairBest& best) {
  // With max|ps1| + max|d2| <= 32767 no sum saturates and none is -32768,
  // so add and mult are the plain sum and (sum^2) >> 15 (fewer operations per
  // candidate); otherwise the saturating forms.
  int hi1 = 0, hi2 = 0;
  for (int k = 0; k < 8; ++k) {
    hi1 = std::max(hi1, std::abs(int{ps1[k]}));
    hi2 = std::max(hi2, std::abs(int{d2[k]}));
  }
  if (hi1 + hi2 <= 32767)
    pairScan<true>(ps1, alp1, d2, alp2, cross, crossStride, pairW, best);
  else
    pairScan<false>(ps1, alp1, d2, alp2, cross, crossStride, pairW, best);
}

#if defined(VOKSC_X86)
using Lanes8 = voksc::lanes::RatioLanes;
using voksc::lanes::halvesSwapped;
using voksc::lanes::keepBetter;
using voksc::lanes::shuffled;

// All 64 pairs at once, eight second-pulse candidates per vector.  With
// every energy positive (and the incoming best's), "strictly better" is the
// exact order of the ratios sq / alp, so the pair the row-order scan ends on
// is the first pair of the largest ratio, if it beats the incoming best:
// a tournament of the rows (the later row only where strictly better) and
// then of the lanes (ties to the lower index) finds it without a branch on
// the data.  A zero or negative energy, where the cross-multiplied test is
// no order, takes the scan.
VOKSC_TARGET_AVX2 void pairPass8_avx2(const int16_t* ps1, const int32_t* alp1, const int16_t* d2,
                                      const int32_t* alp2, const int16_t* cross, int crossStride, int32_t pairW,
                                      PairBest& best) {
  const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d2));
  const __m256i a2v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(alp2));
  const __m256i wv = _mm256_set1_epi32(pairW), half = _mm256_set1_epi32(0x8000), top = _mm256_set1_epi32(32767);
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  Lanes8 row[8];
  __m256i lowest = _mm256_set1_epi32(32767);
  for (int i = 0; i < 8; ++i) {
    const __m256i sum = _mm256_cvtepi16_epi32(_mm_adds_epi16(_mm_set1_epi16(ps1[i]), dv));
    const __m256i c = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cross + i * crossStride)));
    const __m256i alp = _mm256_add_epi32(_mm256_add_epi32(_mm256_set1_epi32(alp1[i]), a2v), _mm256_mullo_epi32(c, wv));
    row[i].sq = _mm256_min_epi32(_mm256_srai_epi32(_mm256_mullo_epi32(sum, sum), 15), top);
    row[i].alp = _mm256_srai_epi32(_mm256_add_epi32(alp, half), 16);
    row[i].key = _mm256_add_epi32(lane, _mm256_set1_epi32(8 * i));
    lowest = _mm256_min_epi32(lowest, row[i].alp);
  }
  if (best.alp <= 0 || _mm256_movemask_epi8(_mm256_cmpgt_epi32(lowest, _mm256_setzero_si256())) != -1) {
    pairPass8_scalar(ps1, alp1, d2, alp2, cross, crossStride, pairW, best);
    return;
  }
  for (int span = 1; span < 8; span *= 2)
    for (int i = 0; i + span < 8; i += 2 * span) row[i] = keepBetter(row[i], row[i + span], false);
  Lanes8 w = row[0];
  w = keepBetter(w, halvesSwapped(w), true);
  w = keepBetter(w, shuffled<0x4E>(w), true);
  w = keepBetter(w, shuffled<0xB1>(w), true);
  const int32_t sq = _mm256_cvtsi256_si32(w.sq), alp = _mm256_cvtsi256_si32(w.alp), at = _mm256_cvtsi256_si32(w.key);
  if (int32_t{best.alp} * sq - int32_t{best.sq} * alp > 0) {
    const int i = at >> 3, j = at & 7;
    best = PairBest{static_cast<int16_t>(sq), static_cast<int16_t>(alp), add(ps1[i], d2[j]), i, j};
  }
}
#else
void pairPass8_avx2(const int16_t* ps1, const int32_t* alp1, const int16_t* d2, const int32_t* alp2,
                    const int16_t* cross, int crossStride, int32_t pairW, PairBest& best) {
  pairPass8_scalar(ps1, alp1, d2, alp2, cross, crossStride, pairW, best);
}
#endif

}  // namespace voksc::amr

VOKSC_EXPORT VokResult voksAlgebraicCodebookSearch_GSMAMR_16s(Vok16s lag, Vok16s pitchGain, const Vok16s* target,
                                                             const Vok16s* targetResidual, const Vok16s* impResp,
                                                             Vok16s* code, Vok16s* filtCode, Vok16s* indices,
                                                             Vok16s subframe, VokRateCode rate) {
  if (anyNull(target, targetResidual, impResp, code, filtCode, indices)) return vokErrNullPtr;
  return voksc::amr::search(lag, pitchGain, target, targetResidual, impResp, code, filtCode, indices, subframe, rate);
}

VOKSC_EXPORT VokResult voksAlgebraicCodebookSearchEX_GSMAMR_16s(Vok16s lag, Vok16s pitchGain, const Vok16s* target,
                                                               const Vok16s* targetResidual, const Vok16s* impResp,
                                                               Vok16s* code, Vok16s* filtCode, Vok16s* indices,
                                                               Vok16s subframe, VokRateCode rate, void* workBuf) {
  if (anyNull(target, targetResidual, impResp, code, filtCode, indices, workBuf)) return vokErrNullPtr;
  return voksc::amr::search(lag, pitchGain, target, targetResidual, impResp, code, filtCode, indices, subframe, rate);
}
