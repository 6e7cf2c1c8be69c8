// G.729 Annex E algebraic codebooks (11.8 kbit/s): ten pulses in the
// forward-adaptive mode (35 bits, two per track) and twelve in the
// backward-adaptive mode (44 bits, two more on a pair of adjacent tracks).
// Signs are fixed beforehand from the target correlation and the
// long-term-prediction residual; a depth-first search then places the
// pulses two at a time, starting from three promising pairs of tracks.
#include "core/cpu.h"
#if defined(VOKSC_X86)
#include <immintrin.h>
#endif

#include <cmath>
#include <cstring>

#include "common/basic_op.h"
#include "common/math_ops.h"
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

// Correlations of the pulse pairs: rrixix[t][p] the energy of position
// 5p + t, rrixiy[t][a * 8 + b] the correlation of positions 5a + t and
// 5b + (t + 1) mod 5, both with the pulse signs folded in.
struct PairMatrix {
  int16_t rrixix[kTracks][kPos];
  int16_t rrixiy[kTracks][kPos * kPos];
};

// Backward-filtered target, scaled so that twice the sum of the tracks'
// largest magnitudes stays inside 16 bits.
void targetCorrelation(const int16_t* h, const int16_t* x, int16_t* dn) {
  Word32 y32[kSubfr];
  Word32 tot = 5;
  for (int k = 0; k < kTracks; ++k) {
    Word32 mx = 0;
    for (int i = k; i < kSubfr; i += 5) {
      Word32 s = 0;
      for (int j = i; j < kSubfr; ++j) s = L_mac(s, x[j], h[j - i]);
      y32[i] = s;
      s = L_abs(s);
      if (s > mx) mx = s;
    }
    tot = L_add(tot, L_shr(mx, 1));
  }
  const Word16 j = sub(norm_l(tot), 2);
  for (int i = 0; i < kSubfr; ++i) dn[i] = round_fx(L_shl(y32[i], j));
}

// 1 / sqrt(energy of v) as a Q-shifted word, the energy (the saturating
// sum of squares) floored at 512 so that a silent vector gets a bounded
// scale.
Word16 inverseNorm(const int16_t* v) {
  Word32 energy = 0;
  for (int i = 0; i < kSubfr; ++i) energy = L_mac(energy, v[i], v[i]);
  return extract_h(L_shl(vokInvSqrt(energy < 512 ? 512 : energy), 5));
}

// The sign of each pulse position is the sign of the blend
// cn / |cn| + dn / |dn| (the scale of cn taken a hair below its exact
// value); dn becomes sign-corrected (its magnitude, unless the blend
// disagrees with it).  One pass over the positions keeps, per track, the
// first position of the largest |blend| and that value.
void setSigns(const int16_t* cn, int16_t* dn, int16_t* sign, int16_t* signInv, int* posMax, Word32* corr) {
  const Word16 scaleCn = mult(inverseNorm(cn), 32767);
  const Word16 scaleDn = inverseNorm(dn);
  for (int t = 0; t < kTracks; ++t) {
    posMax[t] = t;
    corr[t] = -1;
  }
  for (int i = 0, t = 0; i < kSubfr; ++i, t = (t + 1 == kTracks) ? 0 : t + 1) {
    const Word32 blend = L_mac(L_mult(scaleCn, cn[i]), scaleDn, dn[i]);
    const bool negative = blend < 0;
    sign[i] = negative ? kMin16 : kMax16;
    signInv[i] = negative ? kMax16 : kMin16;
    if (negative) dn[i] = negate(dn[i]);
    const Word32 size = L_abs(blend);
    if (size > corr[t]) {
      corr[t] = size;
      posMax[t] = i;
    }
  }
}

// Scaled response (energy brought to about 1/8), its negative, and the
// pair correlations.
void pairCorrelations(const int16_t* H, const int16_t* sign, const int16_t* signInv, int16_t* h, int16_t* hInv,
                      PairMatrix& m, bool avx2) {
  Word32 cor = 0;
  for (int i = 0; i < kSubfr; ++i) cor = L_mac(cor, H[i], H[i]);
  Word16 k = shr(norm_l(cor), 1);
  for (int i = 0; i < kSubfr; ++i) h[i] = shl(H[i], k);
  cor = L_shl(cor, add(k, k));
  cor = L_shr(cor, 12);
  k = extract_h(L_shl(vokInvSqrt(cor), 8));
  for (int i = 0; i < kSubfr; ++i) {
    h[i] = mult(h[i], k);
    hInv[i] = negate(h[i]);
  }
  Chains c;
  if (avx2)
    diagonalChains_avx2(h, 0x10000, 0x8000, c);
  else
    diagonalChains_scalar(h, 0x10000, 0x8000, c);
  auto at = [&](int i, int j) {
    const int d = i > j ? i - j : j - i;
    return c.v[(kSubfr - 1 - (i > j ? i : j)) * kSubfr + d];
  };
  for (int t = 0; t < kTracks; ++t)
    for (int p = 0; p < kPos; ++p) m.rrixix[t][p] = shr(extract_h(at(5 * p + t, 5 * p + t)), 1);
  for (int t = 0; t < kTracks; ++t) {
    const int u = (t + 1) % kTracks;
    for (int a = 0; a < kPos; ++a) {
      const int16_t* ps = sign[5 * a + t] < 0 ? signInv : sign;
      for (int b = 0; b < kPos; ++b)
        m.rrixiy[t][a * kPos + b] = mult(extract_h(at(5 * a + t, 5 * b + u)), ps[5 * b + u]);
    }
  }
}

// Scaled response with 40 zeros before it and 8 after (vector loads).
struct Response {
  int16_t buf[kSubfr + kSubfr + 16];
  int16_t* h() { return buf + kSubfr; }
  const int16_t* h() const { return buf + kSubfr; }
};

// Correlation of every position of a track with the fixed pulses' response
// vec (the pulses' sign folded in), plus the position's energy.
void vecCorrelationScalar(const int16_t* h, const int16_t* vec, int track, const int16_t* sign, const PairMatrix& m,
                          int16_t* cor) {
  for (int i = 0, pos = track; i < kPos; ++i, pos += 5) {
    Word32 s = 0;
    for (int j = pos; j < kSubfr; ++j) s = L_mac(s, h[j - pos], vec[j]);
    cor[i] = add(mult(round_fx(s), sign[pos]), m.rrixix[track][i]);
  }
}

// The eight correlations as exact dot products; exact against the L_mac
// chains when the energies bound every partial sum (Cauchy-Schwarz).
#if defined(VOKSC_X86)
__attribute__((target("avx2"))) void vecCorrelationAvx2(const int16_t* h, const int16_t* vecPad, double hEnergy,
                                                        int track, const int16_t* sign, const PairMatrix& m,
                                                        int16_t* cor) {
  const int16_t* vec = vecPad;
  int64_t vEnergy = 0;
  for (int j = 0; j < kSubfr; ++j) vEnergy += int32_t{vec[j]} * vec[j];
  if (4.0 * hEnergy * static_cast<double>(vEnergy) >= 4.6e18) {
    vecCorrelationScalar(h, vec, track, sign, m, cor);
    return;
  }
  const __m256i h0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h));
  const __m256i h1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + 16));
  const __m256i h2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + 32));  // h[40..47] are zero
  __m256i acc[8];
  for (int i = 0; i < kPos; ++i) {
    const int16_t* v = vec + track + 5 * i;  // vec is zero beyond 40
    __m256i s = _mm256_madd_epi16(h0, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v)));
    s = _mm256_add_epi32(s, _mm256_madd_epi16(h1, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + 16))));
    acc[i] = _mm256_add_epi32(s, _mm256_madd_epi16(h2, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + 32))));
  }
  // Eight horizontal sums at once.
  const __m256i s01 = _mm256_hadd_epi32(acc[0], acc[1]), s23 = _mm256_hadd_epi32(acc[2], acc[3]);
  const __m256i s45 = _mm256_hadd_epi32(acc[4], acc[5]), s67 = _mm256_hadd_epi32(acc[6], acc[7]);
  const __m256i s0123 = _mm256_hadd_epi32(s01, s23), s4567 = _mm256_hadd_epi32(s45, s67);
  const __m256i lo = _mm256_permute2x128_si256(s0123, s4567, 0x20);
  const __m256i hi = _mm256_permute2x128_si256(s0123, s4567, 0x31);
  alignas(32) int32_t sum[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(sum), _mm256_add_epi32(lo, hi));
  for (int i = 0, pos = track; i < kPos; ++i, pos += 5)
    cor[i] = add(mult(round_fx(2 * sum[i]), sign[pos]), m.rrixix[track][i]);
}
#else
void vecCorrelationAvx2(const int16_t* h, const int16_t* vecPad, double hEnergy, int track, const int16_t* sign, const PairMatrix& m, int16_t* cor) { __builtin_trap(); }
#endif

struct Stage {
  Word16 ps, alp;
  int ix, iy;
};

// Best pair of positions on tracks tx and ty added to the fixed pulses.
void pairSearchScalar(int tx, int ty, Stage& st, const int16_t* dn, const int16_t* corX, const int16_t* corY,
                      const PairMatrix& m) {
  Word16 sqk = -1, alpk = 1;
  const int16_t* rxy = m.rrixiy[tx];
  for (int a = 0, x = tx; a < kPos; ++a, x += 5) {
    const Word16 ps1 = add(st.ps, dn[x]);
    const Word16 alp1 = add(st.alp, corX[a]);
    int pos = -1;
    for (int b = 0, y = ty; b < kPos; ++b, y += 5) {
      const Word16 ps2 = add(ps1, dn[y]);
      const Word16 alp2 = add(alp1, add(corY[b], rxy[a * kPos + b]));
      const Word16 sq = mult(ps2, ps2);
      if (L_msu(L_mult(alpk, sq), sqk, alp2) > 0) {
        sqk = sq;
        alpk = alp2;
        pos = y;
      }
    }
    if (pos >= 0) {
      st.ix = x;
      st.iy = pos;
    }
  }
  st.ps = add(st.ps, add(dn[st.ix], dn[st.iy]));
  st.alp = alpk;
}

#if defined(VOKSC_X86)
__attribute__((target("avx2"))) void pairSearchAvx2(int tx, int ty, Stage& st, const int16_t* dn,
                                                    const int16_t* corX, const int16_t* corY, const PairMatrix& m) {
  alignas(16) int16_t dnY[kPos];
  for (int b = 0; b < kPos; ++b) dnY[b] = dn[ty + 5 * b];
  const __m256i vDnY = load8(dnY), vCorY = load8(corY);
  Word16 sqk = -1, alpk = 1;
  const int16_t* rxy = m.rrixiy[tx];
  for (int a = 0, x = tx; a < kPos; ++a, x += 5) {
    const Word16 ps1 = add(st.ps, dn[x]);
    const Word16 alp1 = add(st.alp, corX[a]);
    const __m256i ps2 = sat16x8(_mm256_add_epi32(_mm256_set1_epi32(ps1), vDnY));
    const __m256i alp2 =
        sat16x8(_mm256_add_epi32(_mm256_set1_epi32(alp1), sat16x8(_mm256_add_epi32(vCorY, load8(rxy + a * kPos)))));
    const __m256i sq = _mm256_min_epi32(_mm256_srai_epi32(_mm256_mullo_epi32(ps2, ps2), 15), _mm256_set1_epi32(kMax16));
    const __m256i lhs = _mm256_mullo_epi32(sq, _mm256_set1_epi32(alpk));
    const __m256i rhs = _mm256_mullo_epi32(_mm256_set1_epi32(sqk), alp2);
    if (_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(lhs, rhs))) == 0) continue;
    alignas(32) int32_t q[8], e[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(q), sq);
    _mm256_store_si256(reinterpret_cast<__m256i*>(e), alp2);
    int pos = -1;
    for (int b = 0; b < kPos; ++b)
      if (L_msu(L_mult(alpk, static_cast<Word16>(q[b])), sqk, static_cast<Word16>(e[b])) > 0) {
        sqk = static_cast<Word16>(q[b]);
        alpk = static_cast<Word16>(e[b]);
        pos = ty + 5 * b;
      }
    if (pos >= 0) {
      st.ix = x;
      st.iy = pos;
    }
  }
  st.ps = add(st.ps, add(dn[st.ix], dn[st.iy]));
  st.alp = alpk;
}
#else
void pairSearchAvx2(int tx, int ty, Stage& st, const int16_t* dn, const int16_t* corX, const int16_t* corY, const PairMatrix& m) { __builtin_trap(); }
#endif

// Pack three pulses of a track (4 bits each: sign and position) into 10 bits.
Word16 pack3(Word16 i1, Word16 i2, Word16 i3) {
  auto swap = [](Word16& a, Word16& b) {
    const Word16 t = a;
    a = b;
    b = t;
  };
  if ((i1 & 7) > (i2 & 7)) swap(i1, i2);
  if ((i1 & 7) > (i3 & 7)) swap(i1, i3);
  if ((i2 & 7) > (i3 & 7)) swap(i2, i3);
  const int k = ((i1 >> 1) & 4) + ((i2 >> 2) & 2) + ((i3 >> 3) & 1);
  switch (k) {
    case 0:
    case 7:
      return static_cast<Word16>(((i1 & 7) << 7) + ((i2 & 7) << 4) + i3);
    case 1:
    case 6:
      return static_cast<Word16>(((i3 & 7) << 7) + ((i1 & 7) << 4) + i2);
    case 2:
    case 5:
      return static_cast<Word16>(((i2 & 7) << 7) + ((i1 & 7) << 4) + i3);
    default:
      return static_cast<Word16>(((i2 & 7) << 7) + ((i3 & 7) << 4) + i1);
  }
}

// Code vector (+-4096 per pulse, Q12), filtered code vector with the halved
// response h2 (Q11) and the per-track index words (two pulses each: 9 bits
// with bit 8 set; -1 for an empty track).
void buildCode(const int* codvec, int n, const int16_t* sign, const int16_t* h2, int16_t* code, int16_t* y,
               int16_t* idx) {
  std::memset(code, 0, kSubfr * sizeof(int16_t));
  std::memset(y, 0, kSubfr * sizeof(int16_t));
  for (int t = 0; t < kTracks; ++t) idx[t] = -1;
  for (int k = 0; k < n; ++k) {
    const int pos = codvec[k];
    Word16 index = static_cast<Word16>(pos / 5);
    const int track = pos % 5;
    if (sign[pos] > 0) {
      code[pos] = add(code[pos], 4096);
      for (int i = pos, j = 0; i < kSubfr; ++i, ++j) y[i] = add(y[i], h2[j]);
    } else {
      code[pos] = sub(code[pos], 4096);
      index = add(index, 8);
      for (int i = pos, j = 0; i < kSubfr; ++i, ++j) y[i] = sub(y[i], h2[j]);
    }
    Word16& w = idx[track];
    if (w < 0) {
      w = index;
    } else if (((index ^ w) & 8) == 0) {  // same signs: smaller position first
      w = w <= index ? static_cast<Word16>(add(shl(w, 4), index) | 256)
                     : static_cast<Word16>(add(shl(index, 4), w) | 256);
    } else {  // different signs: the order carries the second sign
      w = (w & 7) <= (index & 7) ? static_cast<Word16>(add(shl(index, 4), w) | 256)
                                 : static_cast<Word16>(add(shl(w, 4), index) | 256);
    }
  }
}

template <bool kAvx>
void searchE(bool backward, const int16_t* x, const int16_t* cn, const int16_t* H, int16_t* code, int16_t* y,
             int16_t* indx) {
  const int nPulses = backward ? 12 : 10;
  int16_t dn[kSubfr], sign[kSubfr], signInv[kSubfr];
  int posMax[kTracks];
  Word32 corr[kTracks];
  targetCorrelation(H, x, dn);
  setSigns(cn, dn, sign, signInv, posMax, corr);
  Response r{}, rInv{};
  PairMatrix m;
  pairCorrelations(H, sign, signInv, r.h(), rInv.h(), m, kAvx);
  double hEnergy = 0.0;
  if (kAvx)
    for (int i = 0; i < kSubfr; ++i) hEnergy += static_cast<double>(int32_t{r.h()[i]} * r.h()[i]);

  // Starting pairs of tracks (t, t + 1): the three with the largest sums
  // of the tracks' maxima.
  {
    const Word32 s = L_add(corr[4], corr[0]);
    for (int k = 0; k < kTracks - 1; ++k) corr[k] = L_add(corr[k], corr[k + 1]);
    corr[4] = s;
  }
  int itrk[3];
  for (int k = 0; k < 3; ++k) {
    Word32 s = corr[0];
    int track = 0;
    for (int i = 1; i < kTracks; ++i)
      if (corr[i] > s) {
        s = corr[i];
        track = i;
      }
    corr[track] = -1;
    itrk[k] = track;
  }

  Word16 psk = -1, alpk = 1;
  int codvec[12] = {};
  alignas(32) int16_t vec[kSubfr + 48];
  for (int start = 0; start < 3; ++start) {
    const int k = itrk[start];
    const int tx0 = kFcbETrackOrder[k], ty0 = kFcbETrackOrder[k + 1];
    Stage st;
    st.ix = posMax[tx0];
    st.iy = posMax[ty0];
    st.ps = add(dn[st.ix], dn[st.iy]);
    const int i = st.ix / 5, j = st.iy / 5;
    st.alp = add(add(m.rrixix[tx0][i], m.rrixix[ty0][j]), m.rrixiy[tx0][i * kPos + j]);
    int ip[12];
    ip[0] = st.ix;
    ip[1] = st.iy;
    std::memset(vec, 0, sizeof vec);
    for (int s = 2; s < nPulses; s += 2) {
      // Add the responses of the two pulses placed last.
      const int16_t* p0 = (sign[st.ix] < 0 ? rInv.h() : r.h()) - st.ix;
      const int16_t* p1 = (sign[st.iy] < 0 ? rInv.h() : r.h()) - st.iy;
      for (int n = 0; n < kSubfr; ++n) vec[n] = add(vec[n], add(p0[n], p1[n]));
      const int tx = kFcbETrackOrder[k + s], ty = kFcbETrackOrder[k + s + 1];
      int16_t corX[kPos], corY[kPos];
      if (kAvx) {
        vecCorrelationAvx2(r.h(), vec, hEnergy, tx, sign, m, corX);
        vecCorrelationAvx2(r.h(), vec, hEnergy, ty, sign, m, corY);
        pairSearchAvx2(tx, ty, st, dn, corX, corY, m);
      } else {
        vecCorrelationScalar(r.h(), vec, tx, sign, m, corX);
        vecCorrelationScalar(r.h(), vec, ty, sign, m, corY);
        pairSearchScalar(tx, ty, st, dn, corX, corY, m);
      }
      ip[s] = st.ix;
      ip[s + 1] = st.iy;
    }
    const Word16 ps = mult(st.ps, st.ps);
    if (L_msu(L_mult(alpk, ps), psk, st.alp) > 0) {
      psk = ps;
      alpk = st.alp;
      for (int n = 0; n < nPulses; ++n) codvec[n] = ip[n];
    }
  }

  int16_t h2[kSubfr];
  for (int i = 0; i < kSubfr; ++i) h2[i] = shr(H[i], 1);  // Q12 to Q11
  int16_t idx[kTracks];
  if (!backward) {
    buildCode(codvec, 10, sign, h2, code, y, idx);
    for (int t = 0; t < kTracks; ++t) indx[t] = static_cast<int16_t>(idx[t] & 127);
    return;
  }
  // 44 bits: the two extra pulses join their tracks' index words.
  buildCode(codvec + 2, 10, sign, h2, code, y, idx);
  int track = 0;
  for (int k = 0; k < 2; ++k) {
    const int pos = codvec[k];
    Word16 index = static_cast<Word16>(pos / 5);
    track = pos % 5;
    if (sign[pos] > 0) {
      code[pos] = add(code[pos], 4096);
      for (int i = pos, j = 0; i < kSubfr; ++i, ++j) y[i] = add(y[i], h2[j]);
    } else {
      code[pos] = sub(code[pos], 4096);
      for (int i = pos, j = 0; i < kSubfr; ++i, ++j) y[i] = sub(y[i], h2[j]);
      index = add(index, 8);
    }
    const Word16 ix = static_cast<Word16>(shr(idx[track], 4) & 15);
    const Word16 iy = static_cast<Word16>(idx[track] & 15);
    index = pack3(ix, iy, index);
    if (k == 0) index = add(shl(static_cast<Word16>(track), 10), index);
    indx[k] = index;
  }
  for (int k = 2; k < kTracks; ++k) {
    if (++track >= kTracks) track = 0;
    indx[k] = static_cast<int16_t>(idx[track] & 127);
  }
}

// ---------------------------------------------------------------------------
// Float form.

struct PairMatrixF {
  float rrixix[kTracks][kPos];
  float rrixiy[kTracks][kPos * kPos];
};

int pack3f(int i1, int i2, int i3) {
  return pack3(static_cast<Word16>(i1), static_cast<Word16>(i2), static_cast<Word16>(i3));
}

void buildCodeF(const int* codvec, int n, const float* sign, const float* h, float* code, float* y, int* idx) {
  for (int i = 0; i < kSubfr; ++i) {
    code[i] = 0.0f;
    y[i] = 0.0f;
  }
  for (int t = 0; t < kTracks; ++t) idx[t] = -1;
  for (int k = 0; k < n; ++k) {
    const int pos = codvec[k];
    int index = pos / 5;
    const int track = pos % 5;
    if (sign[pos] > 0) {
      code[pos] += 1.0f;
      for (int i = pos, j = 0; i < kSubfr; ++i, ++j) y[i] += h[j];
    } else {
      code[pos] -= 1.0f;
      index += 8;
      for (int i = pos, j = 0; i < kSubfr; ++i, ++j) y[i] -= h[j];
    }
    int& w = idx[track];
    if (w < 0)
      w = index;
    else if (((index ^ w) & 8) == 0)
      w = w <= index ? ((w << 4) + index) | 256 : ((index << 4) + w) | 256;
    else
      w = (w & 7) <= (index & 7) ? ((index << 4) + w) | 256 : ((w << 4) + index) | 256;
  }
}

}  // namespace

void searchG729E_scalar(bool backward, const int16_t* x, const int16_t* cn, const int16_t* h, int16_t* code,
                        int16_t* y, int16_t* index) {
  searchE<false>(backward, x, cn, h, code, y, index);
}

void searchG729E_avx2(bool backward, const int16_t* x, const int16_t* cn, const int16_t* h, int16_t* code,
                      int16_t* y, int16_t* index) {
  searchE<true>(backward, x, cn, h, code, y, index);
}

// The float reference: the same search on the unscaled response, signs from
// cn / |cn| + dn / |dn|, energies and correlations without rounding.
void searchG729EFloat(bool backward, const float* x, const float* cn, const float* h1, float* code, float* y,
                      int* indx) {
  const int nPulses = backward ? 12 : 10;
  float hbuf[4 * kSubfr] = {};
  float* h = hbuf + kSubfr;
  float* hInv = hbuf + 3 * kSubfr;
  for (int i = 0; i < kSubfr; ++i) h[i] = h1[i];
  float dn[kSubfr], sign[kSubfr], signInv[kSubfr];
  for (int i = 0; i < kSubfr; ++i) {
    float s = 0.0f;
    for (int j = i; j < kSubfr; ++j) s += x[j] * h[j - i];
    dn[i] = s;
  }
  int posMax[kTracks];
  float corr[kTracks];
  {
    float s = 0.0f;
    for (int i = 0; i < kSubfr; ++i) s += cn[i] * cn[i];
    if (s < 0.01f) s = 0.01f;
    const float kCn = 1.0f / static_cast<float>(std::sqrt(static_cast<double>(s)));
    s = 0.0f;
    for (int i = 0; i < kSubfr; ++i) s += dn[i] * dn[i];
    if (s < 0.01f) s = 0.01f;
    const float kDn = 1.0f / static_cast<float>(std::sqrt(static_cast<double>(s)));
    for (int k = 0; k < kTracks; ++k) {
      float mx = -1.0f;
      int at = 0;
      for (int i = k; i < kSubfr; i += 5) {
        float val = dn[i];
        s = kCn * cn[i] + kDn * val;
        if (s >= 0.0f) {
          sign[i] = 1.0f;
          signInv[i] = -1.0f;
        } else {
          sign[i] = -1.0f;
          signInv[i] = 1.0f;
          val = -val;
        }
        dn[i] = val;
        s = std::fabs(s);
        if (s > mx) {
          mx = s;
          at = i;
        }
      }
      posMax[k] = at;
      corr[k] = mx;
    }
  }
  PairMatrixF m;
  for (int i = 0; i < kSubfr; ++i) hInv[i] = -h[i];
  {
    float c[kSubfr * kSubfr];
    for (int d = 0; d < kSubfr; ++d) {
      float acc = 0.0f;
      for (int n = 0; n + d < kSubfr; ++n) {
        acc += h[n] * h[n + d];
        c[n * kSubfr + d] = acc;
      }
    }
    auto at = [&](int i, int j) {
      const int d = i > j ? i - j : j - i;
      return c[(kSubfr - 1 - (i > j ? i : j)) * kSubfr + d];
    };
    for (int t = 0; t < kTracks; ++t)
      for (int p = 0; p < kPos; ++p) m.rrixix[t][p] = at(5 * p + t, 5 * p + t) * 0.5f;
    for (int t = 0; t < kTracks; ++t) {
      const int u = (t + 1) % kTracks;
      for (int a = 0; a < kPos; ++a) {
        const float* ps = sign[5 * a + t] < 0 ? signInv : sign;
        for (int b = 0; b < kPos; ++b) m.rrixiy[t][a * kPos + b] = at(5 * a + t, 5 * b + u) * ps[5 * b + u];
      }
    }
  }
  {
    const float s = corr[4] + corr[0];
    for (int k = 0; k < kTracks - 1; ++k) corr[k] += corr[k + 1];
    corr[4] = s;
  }
  int itrk[3];
  for (int k = 0; k < 3; ++k) {
    float s = corr[0];
    int track = 0;
    for (int i = 1; i < kTracks; ++i)
      if (corr[i] - s > 0.0f) {
        s = corr[i];
        track = i;
      }
    corr[track] = -1.0f;
    itrk[k] = track;
  }
  float psk = -1.0f, alpk = 1.0f;
  int codvec[12] = {};
  for (int start = 0; start < 3; ++start) {
    const int k = itrk[start];
    int ix = posMax[kFcbETrackOrder[k]], iy = posMax[kFcbETrackOrder[k + 1]];
    float ps = dn[ix] + dn[iy];
    int i = ix / 5, j = iy / 5;
    float alp = m.rrixix[kFcbETrackOrder[k]][i] + m.rrixix[kFcbETrackOrder[k + 1]][j];
    alp += m.rrixiy[kFcbETrackOrder[k]][(i << 3) + j];
    int ip[12];
    ip[0] = ix;
    ip[1] = iy;
    float vec[kSubfr] = {};
    for (int s = 2; s < nPulses; s += 2) {
      const float* p0 = (sign[ix] < 0.0f ? hInv : h) - ix;
      const float* p1 = (sign[iy] < 0.0f ? hInv : h) - iy;
      for (int n = 0; n < kSubfr; ++n) vec[n] += p0[n] + p1[n];
      const int tx = kFcbETrackOrder[k + s], ty = kFcbETrackOrder[k + s + 1];
      float corX[kPos], corY[kPos];
      for (int pass = 0; pass < 2; ++pass) {
        const int track = pass == 0 ? tx : ty;
        float* cor = pass == 0 ? corX : corY;
        for (int a = 0, pos = track; a < kPos; ++a, pos += 5) {
          float acc = 0.0f;
          for (int n = pos; n < kSubfr; ++n) acc += h[n - pos] * vec[n];
          cor[a] = acc * sign[pos] + m.rrixix[track][a];
        }
      }
      float sqk = -1.0f, alpBest = 1.0f;
      for (int a = 0, xx = tx; a < kPos; ++a, xx += 5) {
        const float ps1 = ps + dn[xx];
        const float alp1 = alp + corX[a];
        int pos = -1;
        for (int b = 0, yy = ty; b < kPos; ++b, yy += 5) {
          const float ps2 = ps1 + dn[yy];
          const float alp2 = alp1 + corY[b] + m.rrixiy[tx][a * kPos + b];
          const float sq = ps2 * ps2;
          if (alpBest * sq - sqk * alp2 > 0.0f) {
            sqk = sq;
            alpBest = alp2;
            pos = yy;
          }
        }
        if (pos >= 0) {
          ix = xx;
          iy = pos;
        }
      }
      ps += dn[ix] + dn[iy];
      alp = alpBest;
      ip[s] = ix;
      ip[s + 1] = iy;
    }
    ps *= ps;
    if (alpk * ps - psk * alp > 0.0f) {
      psk = ps;
      alpk = alp;
      for (int n = 0; n < nPulses; ++n) codvec[n] = ip[n];
    }
  }
  int idx[kTracks];
  if (!backward) {
    buildCodeF(codvec, 10, sign, h, code, y, idx);
    for (int t = 0; t < kTracks; ++t) indx[t] = idx[t] & 127;
    return;
  }
  buildCodeF(codvec + 2, 10, sign, h, code, y, idx);
  int track = 0;
  for (int k = 0; k < 2; ++k) {
    const int pos = codvec[k];
    int index = pos / 5;
    track = pos % 5;
    if (sign[pos] > 0.0f) {
      code[pos] += 1.0f;
      for (int i = pos, j = 0; i < kSubfr; ++i, ++j) y[i] += h[j];
    } else {
      code[pos] -= 1.0f;
      for (int i = pos, j = 0; i < kSubfr; ++i, ++j) y[i] -= h[j];
      index += 8;
    }
    index = pack3f((idx[track] >> 4) & 15, idx[track] & 15, index);
    if (k == 0) index += track << 10;
    indx[k] = index;
  }
  for (int k = 2; k < kTracks; ++k) {
    if (++track >= kTracks) track = 0;
    indx[k] = idx[track] & 127;
  }
}

}  // namespace voksc::g729::fcb

using namespace voksc::g729;

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729E_16s(int mode, const Vok16s* x, const Vok16s* cn, const Vok16s* h,
                                                         Vok16s* cod, Vok16s* y, Vok16s* index) {
  if (anyNull(x, cn, h, cod, y, index)) return vokErrNullPtr;
  static const auto form = voksc::cpu::choose(fcb::searchG729E_scalar, fcb::searchG729E_avx2);
  form(mode != 0, x, cn, h, cod, y, index);
  return vokOk;
}

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729E_32f(int mode, const Vok32f* x, const Vok32f* cn, const Vok32f* h,
                                                         Vok32f* cod, Vok32f* y, Vok32s* index) {
  if (anyNull(x, cn, h, cod, y, index)) return vokErrNullPtr;
  int idx[5];
  fcb::searchG729EFloat(mode != 0, x, cn, h, cod, y, idx);
  for (int k = 0; k < 5; ++k) index[k] = idx[k];
  return vokOk;
}
