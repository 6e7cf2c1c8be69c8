// G.729 gain quantisers: the adaptive- and fixed-codebook gains of a
// subframe quantised jointly with a two-stage conjugate-structure codebook,
// the fixed gain relative to its MA prediction.  A preselection from the
// unquantised optimum keeps 4 x 8 candidates of the 8 x 16 combinations
// (6 x 6 of 8 x 8 for the 6.4 kbit/s codebooks); the candidate with the
// smallest weighted error wins.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "common/basic_op.h"
#include "common/kernels.h"
#include "common/math_ops.h"
#include "core/cpu.h"
#include "core/status.h"
#include "gain_lowrate_tables.h"
#include "gain_predict.h"
#include "gain_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g729::gain {

namespace {

constexpr int kSubfr = 40;

// The terms of the error criterion with their Q formats (value, exponent):
// <y,y>, -2<x,y>, <z,z>, -2<x,z>, 2<y,z>.
struct Terms {
  Word16 g[5], e[5];
};

// Normalised correlation: round(s << norm_l(s)) and the shift.
inline void normalise(Word32 s, Word16& v, Word16& shift) {
  shift = norm_l(s);
  v = round_fx(L_shl(s, shift));
}

// L_mac chains over a subframe, formed exactly.  A sum of squares only
// grows, so its chain saturates exactly when the exact sum leaves 32 bits
// (and then stays at the maximum); a signed sum is exact while 2 sum|a b|
// fits 31 bits and otherwise runs the chain.
inline Word32 squares(const int16_t* a, Word32 start, bool& ovf) {
  const int64_t v = start + 2 * voksc::kern::dot(a, a, kSubfr);
  ovf = v > kMax32;
  return ovf ? kMax32 : static_cast<Word32>(v);
}

inline Word32 cross(const int16_t* a, const int16_t* b, Word32 start, bool& ovf) {
  int64_t bound = 0;
  for (int i = 0; i < kSubfr; ++i) bound += std::abs(int32_t{a[i]} * b[i]);
  if (2 * bound + 1 < kMax32) {
    ovf = false;
    return static_cast<Word32>(start + 2 * voksc::kern::dot(a, b, kSubfr));
  }
  ovf = false;
  Word32 s = start;
  for (int i = 0; i < kSubfr; ++i) s = L_mac_o(s, a[i], b[i], ovf);
  return s;
}

void criterionTerms(const int16_t* x, const int16_t* y, const int16_t* z, Terms& t) {
  // <y,y> and <x,y> as the adaptive gain computes them: on y / 4 when the
  // sum on y overflows.
  int16_t yq[kSubfr];
  for (int i = 0; i < kSubfr; ++i) yq[i] = shr(y[i], 2);
  bool ovf = false;
  Word32 s = squares(y, 1, ovf);
  Word16 yy, expYy;
  if (!ovf) {
    normalise(s, yy, expYy);
  } else {
    s = squares(yq, 1, ovf);
    normalise(s, yy, expYy);
    expYy = sub(expYy, 4);
  }
  s = cross(x, y, 0, ovf);
  Word16 xy, expXy;
  if (!ovf) {
    normalise(s, xy, expXy);
  } else {
    s = cross(x, yq, 0, ovf);
    normalise(s, xy, expXy);
    expXy = sub(expXy, 2);
  }
  Word16 qXy = sub(15, expXy);
  if (xy <= 0) qXy = -15;
  t.g[0] = yy;
  t.e[0] = negate(sub(15, expYy));
  t.g[1] = negate(xy);
  t.e[1] = negate(add(qXy, 1));
  // Terms of z, on z / 8 (Q12 to Q9); the sums start at 1.
  int16_t zq[kSubfr];
  for (int i = 0; i < kSubfr; ++i) zq[i] = shr(z[i], 3);
  Word16 v, sh;
  s = squares(zq, 1, ovf);
  normalise(s, v, sh);
  t.g[2] = v;
  t.e[2] = add(sh, 19 - 16);
  s = cross(x, zq, 1, ovf);
  normalise(s, v, sh);
  t.g[3] = negate(v);
  t.e[3] = sub(add(sh, 10 - 16), 1);
  s = cross(y, zq, 1, ovf);
  normalise(s, v, sh);
  t.g[4] = v;
  t.e[4] = sub(add(sh, 10 - 16), 1);
}

__attribute__((always_inline)) inline int gainSearchBody(const GainLanes& g) {
  // Local copies: no store of the lanes can alias the operands.
  int32_t ch[5], cl[5], p2[8], f2[8], dist[8 * 8], least[8];
  for (int k = 0; k < 5; ++k) {
    ch[k] = g.ch[k];
    cl[k] = g.cl[k];
  }
  for (int j = 0; j < 8; ++j) {
    p2[j] = g.p2[j];
    f2[j] = g.f2[j];
    least[j] = kMax32;
  }
  const int32_t gcode0 = g.gcode0, n = g.n, rows = g.rows, limit = g.tame ? 16383 : 32768;
  for (int i = 0; i < rows; ++i) {
    const int32_t p1 = g.p1[i], f1 = g.f1[i];
    for (int j = 0; j < 8; ++j) {
      const int32_t gp = p1 + p2[j];
      const int32_t factor = static_cast<int16_t>((f1 + f2[j]) >> 1);
      const int32_t gc = (gcode0 * factor) >> 15;
      const int32_t g2p = (gp * gp) >> 15, g2c = (gc * gc) >> 15, gpc = (gc * gp) >> 15;
      const int32_t d = 2 * ch[0] * g2p + 2 * ((cl[0] * g2p) >> 15) + 2 * ch[1] * gp + 2 * ((cl[1] * gp) >> 15) +
                        2 * ch[2] * g2c + 2 * ((cl[2] * g2c) >> 15) + 2 * ch[3] * gc + 2 * ((cl[3] * gc) >> 15) +
                        2 * ch[4] * gpc + 2 * ((cl[4] * gpc) >> 15);
      const int32_t v = j >= n || gp >= limit ? kMax32 : d;
      dist[i * 8 + j] = v;
      least[j] = v < least[j] ? v : least[j];
    }
  }
  // The smallest value first, then its first place in row order: the same
  // choice as comparing the candidates in order with a strict less-than
  // (and place 0 when nothing is below 0x7FFFFFFF, every value then being
  // 0x7FFFFFFF).
  int32_t m = least[0];
  for (int j = 1; j < 8; ++j) m = least[j] < m ? least[j] : m;
  int k = 0;
  while (dist[k] != m) ++k;
  return k;
}
}  // namespace

int gainSearch_scalar(const GainLanes& g) { return gainSearchBody(g); }
#if defined(__x86_64__) || defined(__i386__)
namespace {
// h x + ((l x) >> 15) per lane: a split product halved.
__attribute__((target("avx2"))) inline __m256i halfTerm(__m256i h, __m256i l, __m256i x) {
  return _mm256_add_epi32(_mm256_mullo_epi32(h, x), _mm256_srai_epi32(_mm256_mullo_epi32(l, x), 15));
}
}  // namespace

// The body's steps on the eight second-stage candidates of a row in the
// 32-bit lanes of one vector (the values are the body's: each product and
// the sum stay inside 32 bits under the caller's bound), then the smallest
// distance and its first place in row order from lane masks.
__attribute__((target("avx2"))) int gainSearch_avx2(const GainLanes& g) {
  const __m256i p2 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(g.p2)));
  const __m256i f2 = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(g.f2)));
  __m256i ch[5], cl[5];
  for (int k = 0; k < 5; ++k) {
    ch[k] = _mm256_set1_epi32(g.ch[k]);
    cl[k] = _mm256_set1_epi32(g.cl[k]);
  }
  const __m256i gcode0 = _mm256_set1_epi32(g.gcode0), top = _mm256_set1_epi32(kMax32);
  // Lanes past the candidates, and gains at the limit or above, are out.
  const __m256i absent = _mm256_cmpgt_epi32(_mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 8), _mm256_set1_epi32(g.n));
  const __m256i limit = _mm256_set1_epi32((g.tame ? 16383 : 32768) - 1);
  __m256i dist[8], least = top;
  for (int i = 0; i < g.rows; ++i) {
    const __m256i gp = _mm256_add_epi32(_mm256_set1_epi32(g.p1[i]), p2);
    const __m256i halfSum = _mm256_srai_epi32(_mm256_add_epi32(_mm256_set1_epi32(g.f1[i]), f2), 1);
    const __m256i factor = _mm256_srai_epi32(_mm256_slli_epi32(halfSum, 16), 16);  // its low word
    const __m256i gc = _mm256_srai_epi32(_mm256_mullo_epi32(gcode0, factor), 15);
    const __m256i g2p = _mm256_srai_epi32(_mm256_mullo_epi32(gp, gp), 15);
    const __m256i g2c = _mm256_srai_epi32(_mm256_mullo_epi32(gc, gc), 15);
    const __m256i gpc = _mm256_srai_epi32(_mm256_mullo_epi32(gc, gp), 15);
    __m256i d = _mm256_add_epi32(halfTerm(ch[0], cl[0], g2p), halfTerm(ch[1], cl[1], gp));
    d = _mm256_add_epi32(d, _mm256_add_epi32(halfTerm(ch[2], cl[2], g2c), halfTerm(ch[3], cl[3], gc)));
    d = _mm256_slli_epi32(_mm256_add_epi32(d, halfTerm(ch[4], cl[4], gpc)), 1);
    const __m256i out = _mm256_or_si256(absent, _mm256_cmpgt_epi32(gp, limit));
    dist[i] = _mm256_blendv_epi8(d, top, out);
    least = _mm256_min_epi32(least, dist[i]);
  }
  least = _mm256_min_epi32(least, _mm256_shuffle_epi32(least, 0x4E));
  least = _mm256_min_epi32(least, _mm256_shuffle_epi32(least, 0xB1));
  least = _mm256_min_epi32(least, _mm256_permute2x128_si256(least, least, 1));
  for (int i = 0; i < g.rows; ++i) {
    const unsigned hit =
        static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(dist[i], least))));
    if (hit) return 8 * i + __builtin_ctz(hit);
  }
  return 0;
}
#else
int gainSearch_avx2(const GainLanes& g) { return gainSearchBody(g); }
#endif

namespace {

// A gain codebook and its preselection constants.
struct Book {
  const int16_t (*stage1)[2];
  int rows1, cand1;
  const int16_t (*stage2)[2];
  int rows2, cand2;
  const int16_t* thr1;
  const int16_t* thr2;
  const int16_t (*coef)[2];
  const int32_t (*coef32)[2];
  Word16 invCoef;
  int codeGainShift;         // best code gain to the preselection's Q
  Word16 shiftY, shiftX;     // threshold alignment
  int expCode2, expCode, expCross;  // exponent offsets of the code-gain terms
  bool lowRate;              // factors in Q14 (halved sum), code gain one bit lower
};

const Book kBook8k = {kGainStage1, 8, 4, kGainStage2, 16, 8, kGainThreshold1, kGainThreshold2,
                      kGainPreselCoef, kGainPreselCoef32, -17103, 7, 3, 5, -21, -3, -4, false};
const Book kBook6k = {kGainLowStage1, 8, 6, kGainLowStage2, 8, 6, kGainLowThreshold1, kGainLowThreshold2,
                      kGainLowPreselCoef, kGainLowPreselCoef32, -28940, 6, 2, 5, -19, -2, -3, true};

// A product of two criterion terms, standing for v / 2^q.
struct Scaled {
  Word32 v;
  Word16 q;
};

inline Scaled product(const Terms& t, int i, int j, int extraQ) {
  return {L_mult(t.g[i], t.g[j]), add(add(t.e[i], t.e[j]), static_cast<Word16>(extraQ))};
}

// u - w in the smaller of their two Q formats, both first divided by
// 2^headroom (one bit of headroom keeps the difference of two products of
// the same sign from saturating; the denominator is formed without it).
inline Scaled difference(Scaled u, Scaled w, int headroom) {
  const Word16 h = static_cast<Word16>(headroom);
  if (u.q > w.q) return {L_sub(L_shr(u.v, add(sub(u.q, w.q), h)), L_shr(w.v, h)), sub(w.q, h)};
  return {L_sub(L_shr(u.v, h), L_shr(w.v, add(sub(w.q, u.q), h))), sub(u.q, h)};
}

// The 16-bit mantissa of a normalised 32-bit value and its Q.
inline Word16 mantissa(Scaled s, Word16& q) {
  const Word16 n = norm_l(s.v);
  q = sub(add(s.q, n), 16);
  return extract_h(L_shl(s.v, n));
}

// The preselection places the unconstrained optimum (best: pitch gain Q9,
// code gain Q2) against each stage's codebook along that stage's main
// direction: two linear estimates, x for the second stage and y for the
// first, from the preselection coefficients (Q-aligned to 32 bits, scaled by
// the negated inverse coefficient invCoef).  The candidates of a stage start
// at the first threshold (times the predicted gain) the estimate does not
// pass, in the direction the predicted gain's sign sets.
void preselect(const Book& b, const Word16* best, Word16 gcode0, int& c1, int& c2) {
  const Word32 pitchTerm = L_mult(b.coef[0][0], best[0]);
  // x: the code gain less its part predicted from the pitch gain.
  const Word32 predicted = L_mult(extract_h(L_add(pitchTerm, L_shr(b.coef32[1][1], 15))), gcode0);
  const Word32 x = L_mult(
      extract_h(L_shl(L_sub(L_shl(L_deposit_l(best[1]), static_cast<Word16>(b.codeGainShift)), predicted), 2)),
      b.invCoef);
  // y: the pitch-gain side, weighted by the cross coefficient.
  const Word32 cross = L_mult(mult(extract_h(L_sub(pitchTerm, L_shr(b.coef32[0][1], 10))), gcode0), b.coef[1][0]);
  const Word32 y =
      L_mult(extract_h(L_shl(L_sub(cross, L_shr(L_mult(b.coef[0][0], best[1]), 3)), 2)), b.invCoef);

  const struct {
    Word32 estimate;
    const int16_t* thresholds;
    Word16 shift;
    int last;  // the highest first row
    int& first;
  } stages[2] = {{y, b.thr1, b.shiftY, b.rows1 - b.cand1, c1}, {x, b.thr2, b.shiftX, b.rows2 - b.cand2, c2}};
  // The thresholds ascend and are positive, so the difference d falls along
  // them for a positive predicted gain and rises otherwise (each step, the
  // saturating ones too, is monotone): the thresholds passed form a prefix,
  // and counting them all, without a branch, gives the first row.
  const bool rising = gcode0 > 0;
  for (const auto& st : stages) {
    int passed = 0;
    for (int k = 0; k < st.last; ++k) {
      const Word32 d = L_sub(st.estimate, L_shr(L_mult(st.thresholds[k], gcode0), st.shift));
      passed += rising ? d > 0 : d < 0;
    }
    st.first = passed;
  }
}

struct Quantised {
  Word16 gainPit, gainCode;
  int row1, row2;
};

Quantised quantise(const Book& b, const int16_t* code, const Terms& t, int16_t* mem, bool tame) {
  Word16 gcode0, expGcode0;
  predict(mem, codeEnergy(code), gcode0, expGcode0);

  // The unconstrained optimum of the quadratic criterion (Cramer's rule on
  // its two normal equations): each gain is a numerator over the shared
  // determinant, whose negated reciprocal (Q 29 - qDen) is formed once.
  Word16 qDen;
  const Word16 den = mantissa(difference(product(t, 0, 2, -1), product(t, 4, 4, 1), 0), qDen);
  const Word16 minusInvDen = negate(div_s(16384, den));
  const Word16 qInv = sub(14 + 15, qDen);
  auto optimum = [&](Scaled u, Scaled w, int q) {
    Word16 qNum;
    const Word16 num = mantissa(difference(u, w, 1), qNum);
    return extract_h(L_shr(L_mult(num, minusInvDen), sub(add(qNum, qInv), static_cast<Word16>(q + 16 - 1))));
  };
  Word16 best[2];
  best[0] = optimum(product(t, 2, 1, 0), product(t, 3, 4, 1), 9);  // pitch gain, Q9
  if (tame && best[0] > 481) best[0] = 481;
  best[1] = optimum(product(t, 0, 3, 0), product(t, 1, 4, 1), 2);  // code gain, Q2
  Word16 gcode0Q4;
  if (expGcode0 >= 4)
    gcode0Q4 = shr(gcode0, sub(expGcode0, 4));
  else
    gcode0Q4 = extract_h(L_shl(L_deposit_l(gcode0), sub(4 + 16, expGcode0)));
  int c1, c2;
  preselect(b, best, gcode0Q4, c1, c2);

  // The terms aligned to a common exponent, in split form.
  const Word16 expMin[5] = {add(t.e[0], 13), add(t.e[1], 14),
                            add(t.e[2], sub(shl(expGcode0, 1), static_cast<Word16>(-b.expCode2))),
                            add(t.e[3], sub(expGcode0, static_cast<Word16>(-b.expCode))),
                            add(t.e[4], sub(expGcode0, static_cast<Word16>(-b.expCross)))};
  Word16 eMin = expMin[0];
  for (int i = 1; i < 5; ++i)
    if (expMin[i] < eMin) eMin = expMin[i];
  Word16 ch[5], cl[5];
  for (int i = 0; i < 5; ++i) L_Extract(L_shr(L_deposit_h(t.g[i]), sub(expMin[i], eMin)), ch[i], cl[i]);

  Word32 distMin = kMax32;
  int i1 = c1, i2 = c2;
  // Bounds of the five gain products over the candidates: |gp| <= P (the
  // two rows' largest magnitudes added), |factor| <= F, |gc| <= C, and the
  // mult() products below (each at most the exact product / 2^15, plus 1).
  // A term Mpy32x16(h, l, n) is at most 2 |h| N + 2 N in magnitude for
  // |n| <= N; when the five bounds add up to 32 bits no step of the chain
  // saturates, and the distance is plain 32-bit arithmetic.
  int32_t rowP[2] = {0, 0}, rowF[2] = {0, 0};
  for (int i = 0; i < b.cand1; ++i) {
    rowP[0] = std::max<int32_t>(rowP[0], std::abs(int32_t{b.stage1[c1 + i][0]}));
    rowF[0] = std::max<int32_t>(rowF[0], std::abs(int32_t{b.stage1[c1 + i][1]}));
  }
  for (int j = 0; j < b.cand2; ++j) {
    rowP[1] = std::max<int32_t>(rowP[1], std::abs(int32_t{b.stage2[c2 + j][0]}));
    rowF[1] = std::max<int32_t>(rowF[1], std::abs(int32_t{b.stage2[c2 + j][1]}));
  }
  auto capped = [](int64_t v) { return v < 32768 ? v : int64_t{32768}; };
  const int64_t P = capped(rowP[0] + rowP[1]);
  const int64_t F = (rowF[0] + rowF[1]) / 2 + 1;
  const int64_t C = capped((std::abs(int64_t{gcode0}) * F >> 15) + 1);
  const int64_t N[5] = {capped((P * P >> 15) + 1), P, capped((C * C >> 15) + 1), C, capped((C * P >> 15) + 1)};
  int64_t bound = 0;
  for (int k = 0; k < 5; ++k) bound += (2 * std::abs(int64_t{ch[k]}) + 2) * N[k];
  // P and C below 32768 also keep -32768 out of every mult(), the one case
  // where it saturates.
  if (bound <= kMax32 && P < 32768 && C < 32768) {
    // A first-stage row against the second-stage candidates in lanes; the
    // candidates then compared in order, a later one only when smaller.
    static const auto search = voksc::cpu::choose(gainSearch_scalar, gainSearch_avx2);
    GainLanes lanes{};
    for (int k = 0; k < 5; ++k) {
      lanes.ch[k] = ch[k];
      lanes.cl[k] = cl[k];
    }
    lanes.gcode0 = gcode0;
    lanes.rows = b.cand1;
    lanes.n = b.cand2;
    lanes.tame = tame;
    for (int i = 0; i < b.cand1; ++i) {
      lanes.p1[i] = b.stage1[c1 + i][0];
      lanes.f1[i] = b.stage1[c1 + i][1];
    }
    for (int j = 0; j < b.cand2; ++j) {
      lanes.p2[j] = b.stage2[c2 + j][0];
      lanes.f2[j] = b.stage2[c2 + j][1];
    }
    const int place = search(lanes);
    i1 = c1 + place / 8;
    i2 = c2 + place % 8;
  } else {
  for (int i = 0; i < b.cand1; ++i) {
    for (int j = 0; j < b.cand2; ++j) {
      const Word16 gp = add(b.stage1[c1 + i][0], b.stage2[c2 + j][0]);
      if (tame && gp >= 16383) continue;
      const Word16 factor = extract_l(L_shr(L_add(b.stage1[c1 + i][1], b.stage2[c2 + j][1]), 1));
      const Word16 gc = mult(gcode0, factor);
      const Word16 g2p = mult(gp, gp), g2c = mult(gc, gc), gpc = mult(gc, gp);
      Word32 dist = vokMpy32x16(ch[0], cl[0], g2p);
      dist = L_add(dist, vokMpy32x16(ch[1], cl[1], gp));
      dist = L_add(dist, vokMpy32x16(ch[2], cl[2], g2c));
      dist = L_add(dist, vokMpy32x16(ch[3], cl[3], gc));
      dist = L_add(dist, vokMpy32x16(ch[4], cl[4], gpc));
      if (L_sub(dist, distMin) < 0) {
        distMin = dist;
        i1 = c1 + i;
        i2 = c2 + j;
      }
    }
  }
  }
  Quantised q;
  q.gainPit = add(b.stage1[i1][0], b.stage2[i2][0]);
  Word32 factor = L_add(L_deposit_l(b.stage1[i1][1]), L_deposit_l(b.stage2[i2][1]));
  Word16 f;
  Word16 shift;
  if (b.lowRate) {
    factor = L_shr(factor, 1);  // Q14 sum to Q13
    f = extract_l(factor);
    shift = add(negate(expGcode0), -13 - 1 + 1 + 16);
  } else {
    f = extract_l(L_shr(factor, 1));  // Q12
    shift = add(negate(expGcode0), -12 - 1 + 1 + 16);
  }
  q.gainCode = extract_h(L_shl(L_mult(f, gcode0), shift));
  update(mem, factor);
  q.row1 = i1;
  q.row2 = i2;
  return q;
}

VokResult quantiseExport(const Book& b, const Vok16s* x, const Vok16s* y, const Vok16s* code, const Vok16s* z,
                         Vok16s* mem, Vok16s* gains, Vok16s* rows, int tame) {
  if (anyNull(x, y, code, z, mem, gains, rows)) return vokErrNullPtr;
  if (tame < 0 || tame > 1) return vokErrRange;
  Terms t;
  criterionTerms(x, y, z, t);
  const Quantised q = quantise(b, code, t, mem, tame == 1);
  gains[0] = q.gainPit;
  gains[1] = q.gainCode;
  rows[0] = static_cast<Vok16s>(q.row1);
  rows[1] = static_cast<Vok16s>(q.row2);
  return vokOk;
}

}  // namespace

}  // namespace voksc::g729::gain

using namespace voksc::g729;

VOKSC_EXPORT VokResult voksGainQuant_G729_16s(const Vok16s* x, const Vok16s* y, const Vok16s* code, const Vok16s* z,
                                              Vok16s* mem, Vok16s* gains, Vok16s* rows, int tame) {
  return gain::quantiseExport(gain::kBook8k, x, y, code, z, mem, gains, rows, tame);
}

VOKSC_EXPORT VokResult voksGainQuant_G729D_16s(const Vok16s* x, const Vok16s* y, const Vok16s* code, const Vok16s* z,
                                               Vok16s* mem, Vok16s* gains, Vok16s* rows, int tame) {
  return gain::quantiseExport(gain::kBook6k, x, y, code, z, mem, gains, rows, tame);
}
