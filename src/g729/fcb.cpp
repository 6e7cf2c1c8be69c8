// G.729 algebraic codebook: the correlation matrix of the impulse response
// and the four-pulse searches of G.729 (focused, with a search budget) and
// Annex A (depth-first).
#include <cstring>

#include "common/basic_op.h"
#include "core/status.h"

using namespace voksc::op;
using voksc::anyNull;

namespace {

constexpr int kSubfr = 40;
constexpr int kPos = 8;
constexpr int kMatrix = 616;

// Offsets of the blocks of the 616-value layout: five diagonals (8 each),
// then (0,1) (0,2) (0,3) (0,4) (1,2) (1,3) (1,4) (2,3) (2,4), 64 each.
constexpr int kDiag[5] = {0, 8, 16, 24, 32};
constexpr int kCross[5][5] = {{-1, 40, 104, 168, 232},
                              {-1, -1, 296, 360, 424},
                              {-1, -1, -1, 488, 552},
                              {-1, -1, -1, -1, -1},
                              {-1, -1, -1, -1, -1}};

// Plain sums h[n] h[n + |i - j|] for n = 0..39 - max(i, j), in the layout.
void correlationMatrix(const int16_t* hIn, int32_t* rr) {
  Word32 e = 0;
  for (int i = 0; i < kSubfr; ++i) e = L_mac(e, hIn[i], hIn[i]);
  int16_t h[kSubfr];
  if (sub(extract_h(e), 32000) > 0) {
    for (int i = 0; i < kSubfr; ++i) h[i] = shr(hIn[i], 1);
  } else {
    Word16 k = shr(norm_l(e), 1);
    for (int i = 0; i < kSubfr; ++i) h[i] = shl(hIn[i], k);
  }
  // Running sums along each diagonal: cum[d][m] = sum h[n] h[n + d], n <= m.
  int32_t cum[kSubfr][kSubfr];
  for (int d = 0; d < kSubfr; ++d) {
    int32_t s = 0;
    for (int m = 0; m + d < kSubfr; ++m) {
      s += int32_t{h[m]} * h[m + d];
      cum[d][m] = s;
    }
  }
  auto corr = [&](int i, int j) {
    int d = i > j ? i - j : j - i, m = i > j ? i : j;
    return cum[d][kSubfr - 1 - m];
  };
  for (int t = 0; t < 5; ++t)
    for (int p = 0; p < kPos; ++p) rr[kDiag[t] + p] = corr(5 * p + t, 5 * p + t);
  for (int ta = 0; ta < 5; ++ta)
    for (int tb = ta + 1; tb < 5; ++tb) {
      if (kCross[ta][tb] < 0) continue;
      for (int a = 0; a < kPos; ++a)
        for (int b = 0; b < kPos; ++b) rr[kCross[ta][tb] + a * kPos + b] = corr(5 * a + ta, 5 * b + tb);
    }
}

// Code vector and index words of the four chosen pulses.
void packResult(const int16_t* sign, int ip0, int ip1, int ip2, int ip3, Vok16s* cod, Vok16s* index) {
  std::memset(cod, 0, kSubfr * sizeof(Vok16s));
  Word16 s0 = sign[ip0], s1 = sign[ip1], s2 = sign[ip2], s3 = sign[ip3];
  cod[ip0] = shr(s0, 2);
  cod[ip1] = shr(s1, 2);
  cod[ip2] = shr(s2, 2);
  cod[ip3] = shr(s3, 2);
  int sg = (s0 > 0 ? 1 : 0) | (s1 > 0 ? 2 : 0) | (s2 > 0 ? 4 : 0) | (s3 > 0 ? 8 : 0);
  int i3 = ip3 / 5;
  int j = ip3 - i3 * 5 - 3;
  int pos = ip0 / 5 + ((ip1 / 5) << 3) + ((ip2 / 5) << 6) + (((i3 << 1) + j) << 9);
  index[0] = static_cast<Vok16s>(pos);
  index[1] = static_cast<Vok16s>(sg);
}

// Annex A depth-first search.
void searchFast(int16_t* dn, int16_t* rr, Vok16s* cod, Vok16s* index) {
  int16_t* rri0i0 = rr;
  int16_t* rri1i1 = rr + 8;
  int16_t* rri2i2 = rr + 16;
  int16_t* rri3i3 = rr + 24;
  int16_t* rri4i4 = rr + 32;
  int16_t* rri0i1 = rr + 40;
  int16_t* rri0i2 = rr + 104;
  int16_t* rri0i3 = rr + 168;
  int16_t* rri0i4 = rr + 232;
  int16_t* rri1i2 = rr + 296;
  int16_t* rri1i3 = rr + 360;
  int16_t* rri1i4 = rr + 424;
  int16_t* rri2i3 = rr + 488;
  int16_t* rri2i4 = rr + 552;
  int16_t sign[kSubfr], signInv[kSubfr];
  for (int i = 0; i < kSubfr; ++i) {
    if (dn[i] >= 0) {
      sign[i] = kMax16;
      signInv[i] = kMin16;
    } else {
      sign[i] = kMin16;
      signInv[i] = kMax16;
      dn[i] = negate(dn[i]);
    }
  }
  {
    int16_t *p0 = rri0i1, *p1 = rri0i2, *p2 = rri0i3, *p3 = rri0i4;
    for (int i0 = 0; i0 < kSubfr; i0 += 5) {
      const int16_t* ps = sign[i0] < 0 ? signInv : sign;
      for (int i1 = 1; i1 < kSubfr; i1 += 5) {
        *p0 = mult(*p0, ps[i1]);
        ++p0;
        *p1 = mult(*p1, ps[i1 + 1]);
        ++p1;
        *p2 = mult(*p2, ps[i1 + 2]);
        ++p2;
        *p3 = mult(*p3, ps[i1 + 3]);
        ++p3;
      }
    }
    p0 = rri1i2;
    p1 = rri1i3;
    p2 = rri1i4;
    for (int i1 = 1; i1 < kSubfr; i1 += 5) {
      const int16_t* ps = sign[i1] < 0 ? signInv : sign;
      for (int i2 = 2; i2 < kSubfr; i2 += 5) {
        *p0 = mult(*p0, ps[i2]);
        ++p0;
        *p1 = mult(*p1, ps[i2 + 1]);
        ++p1;
        *p2 = mult(*p2, ps[i2 + 2]);
        ++p2;
      }
    }
    p0 = rri2i3;
    p1 = rri2i4;
    for (int i2 = 2; i2 < kSubfr; i2 += 5) {
      const int16_t* ps = sign[i2] < 0 ? signInv : sign;
      for (int i3 = 3; i3 < kSubfr; i3 += 5) {
        *p0 = mult(*p0, ps[i3]);
        ++p0;
        *p1 = mult(*p1, ps[i3 + 1]);
        ++p1;
      }
    }
  }
  Word16 psk = -1, alpk = 1;
  int16_t* pRri0i34 = rri0i3;
  int16_t* pRri1i34 = rri1i3;
  int16_t* pRri2i34 = rri2i3;
  int16_t* pRri3i34 = rri3i3;
  int ip0 = 0, ip1 = 1, ip2 = 2, ip3 = 3, ix = 0, iy = 0;
  Word16 ps = 0;
  int16_t tmpVect[kPos];
  for (int track = 3; track < 5; ++track) {
    // Pulses i2 (track 2) and i3 (this track), then i0 and i1.
    Word16 sq = -1, alp = 1;
    int prev = -1, i0 = 0;
    for (int pass = 0; pass < 2; ++pass) {
      Word16 mx = -1;
      for (int j = 2; j < kSubfr; j += 5)
        if (sub(dn[j], mx) > 0 && prev != j) {
          mx = dn[j];
          i0 = j;
        }
      prev = i0;
      int j = mult(static_cast<Word16>(i0), 6554);
      Word16 ps1 = dn[i0];
      Word32 alp1 = L_mult(rri2i2[j], 8192);
      const int16_t* p0 = pRri2i34 + (j << 3);
      const int16_t* p1 = pRri3i34;
      for (int i1 = track; i1 < kSubfr; i1 += 5) {
        Word16 ps2 = add(ps1, dn[i1]);
        Word32 alp2 = L_mac(alp1, *p0++, 16384);
        alp2 = L_mac(alp2, *p1++, 8192);
        Word16 sq2 = mult(ps2, ps2);
        Word16 alp16 = round_fx(alp2);
        Word32 s = L_msu(L_mult(alp, sq2), sq, alp16);
        if (s > 0) {
          sq = sq2;
          ps = ps2;
          alp = alp16;
          ix = i0;
          iy = i1;
        }
      }
    }
    i0 = ix;
    int i1 = iy;
    Word16 ps0 = ps;
    Word32 alp0 = L_mult(alp, 8192);
    sq = -1;
    alp = 1;
    {
      const int16_t* p0 = rri1i2 + mult(static_cast<Word16>(i0), 6554);
      const int16_t* p1 = pRri1i34 + mult(static_cast<Word16>(i1), 6554);
      const int16_t* p2 = rri1i1;
      int16_t* p3 = tmpVect;
      for (int i3 = 1; i3 < kSubfr; i3 += 5) {
        Word32 s = L_mult(*p0, 8192);
        p0 += kPos;
        s = L_mac(s, *p1, 8192);
        p1 += kPos;
        s = L_mac(s, *p2++, 4096);
        *p3++ = round_fx(s);
      }
      p0 = rri0i2 + mult(static_cast<Word16>(i0), 6554);
      p1 = pRri0i34 + mult(static_cast<Word16>(i1), 6554);
      p2 = rri0i0;
      const int16_t* p3c = rri0i1;
      for (int i2 = 0; i2 < kSubfr; i2 += 5) {
        Word16 ps1 = add(ps0, dn[i2]);
        Word32 alp1 = L_mac(alp0, *p0, 4096);
        p0 += kPos;
        alp1 = L_mac(alp1, *p1, 4096);
        p1 += kPos;
        alp1 = L_mac(alp1, *p2++, 2048);
        const int16_t* p4 = tmpVect;
        for (int i3 = 1; i3 < kSubfr; i3 += 5) {
          Word16 ps2 = add(ps1, dn[i3]);
          Word32 alp2 = L_mac(alp1, *p3c++, 4096);
          alp2 = L_mac(alp2, *p4++, 16384);
          Word16 sq2 = mult(ps2, ps2);
          Word16 alp16 = round_fx(alp2);
          Word32 s = L_msu(L_mult(alp, sq2), sq, alp16);
          if (s > 0) {
            sq = sq2;
            alp = alp16;
            ix = i2;
            iy = i3;
          }
        }
      }
    }
    if (L_msu(L_mult(alpk, sq), psk, alp) > 0) {
      psk = sq;
      alpk = alp;
      ip2 = i0;
      ip3 = i1;
      ip0 = ix;
      ip1 = iy;
    }
    // Pulses i3 (this track) and i0 (track 0), then i1 and i2.
    sq = -1;
    alp = 1;
    prev = -1;
    for (int pass = 0; pass < 2; ++pass) {
      Word16 mx = -1;
      for (int j = track; j < kSubfr; j += 5)
        if (sub(dn[j], mx) > 0 && prev != j) {
          mx = dn[j];
          i0 = j;
        }
      prev = i0;
      int j = mult(static_cast<Word16>(i0), 6554);
      Word16 ps1 = dn[i0];
      Word32 alp1 = L_mult(pRri3i34[j], 8192);
      const int16_t* p0 = pRri0i34 + j;
      const int16_t* p1 = rri0i0;
      for (int i1b = 0; i1b < kSubfr; i1b += 5) {
        Word16 ps2 = add(ps1, dn[i1b]);
        Word32 alp2 = L_mac(alp1, *p0, 16384);
        p0 += kPos;
        alp2 = L_mac(alp2, *p1++, 8192);
        Word16 sq2 = mult(ps2, ps2);
        Word16 alp16 = round_fx(alp2);
        Word32 s = L_msu(L_mult(alp, sq2), sq, alp16);
        if (s > 0) {
          sq = sq2;
          ps = ps2;
          alp = alp16;
          ix = i0;
          iy = i1b;
        }
      }
    }
    i0 = ix;
    i1 = iy;
    int i1Offset = shl(mult(static_cast<Word16>(i1), 6554), 3);
    ps0 = ps;
    alp0 = L_mult(alp, 8192);
    sq = -1;
    alp = 1;
    {
      const int16_t* p0 = pRri2i34 + mult(static_cast<Word16>(i0), 6554);
      const int16_t* p1 = rri0i2 + i1Offset;
      const int16_t* p2 = rri2i2;
      int16_t* p3 = tmpVect;
      for (int i3 = 2; i3 < kSubfr; i3 += 5) {
        Word32 s = L_mult(*p0, 8192);
        p0 += kPos;
        s = L_mac(s, *p1++, 8192);
        s = L_mac(s, *p2++, 4096);
        *p3++ = round_fx(s);
      }
      p0 = pRri1i34 + mult(static_cast<Word16>(i0), 6554);
      p1 = rri0i1 + i1Offset;
      p2 = rri1i1;
      const int16_t* p3c = rri1i2;
      for (int i2 = 1; i2 < kSubfr; i2 += 5) {
        Word16 ps1 = add(ps0, dn[i2]);
        Word32 alp1 = L_mac(alp0, *p0, 4096);
        p0 += kPos;
        alp1 = L_mac(alp1, *p1++, 4096);
        alp1 = L_mac(alp1, *p2++, 2048);
        const int16_t* p4 = tmpVect;
        for (int i3 = 2; i3 < kSubfr; i3 += 5) {
          Word16 ps2 = add(ps1, dn[i3]);
          Word32 alp2 = L_mac(alp1, *p3c++, 4096);
          alp2 = L_mac(alp2, *p4++, 16384);
          Word16 sq2 = mult(ps2, ps2);
          Word16 alp16 = round_fx(alp2);
          Word32 s = L_msu(L_mult(alp, sq2), sq, alp16);
          if (s > 0) {
            sq = sq2;
            alp = alp16;
            ix = i2;
            iy = i3;
          }
        }
      }
    }
    if (L_msu(L_mult(alpk, sq), psk, alp) > 0) {
      psk = sq;
      alpk = alp;
      ip3 = i0;
      ip0 = i1;
      ip1 = ix;
      ip2 = iy;
    }
    pRri0i34 = rri0i4;
    pRri1i34 = rri1i4;
    pRri2i34 = rri2i4;
    pRri3i34 = rri4i4;
  }
  packResult(sign, ip0, ip1, ip2, ip3, cod, index);
}

// G.729 focused search with the search budget carried between subframes.
void searchFocused(int16_t* dn, int16_t* rr, Vok16s* cod, Vok16s* index, Vok16s* budget, int subframe) {
  int16_t psign[kSubfr];
  for (int i = 0; i < kSubfr; ++i) {
    if (dn[i] >= 0) {
      psign[i] = 0x7FFF;
    } else {
      psign[i] = kMin16;
      dn[i] = negate(dn[i]);
    }
  }
  Word16 max0 = dn[0], max1 = dn[1], max2 = dn[2];
  for (int i = 5; i < kSubfr; i += 5) {
    if (sub(dn[i], max0) > 0) max0 = dn[i];
    if (sub(dn[i + 1], max1) > 0) max1 = dn[i + 1];
    if (sub(dn[i + 2], max2) > 0) max2 = dn[i + 2];
  }
  max0 = add(add(max0, max1), max2);
  Word32 l32 = 0;
  for (int i = 0; i < kSubfr; i += 5) {
    l32 = L_mac(l32, dn[i], 1);
    l32 = L_mac(l32, dn[i + 1], 1);
    l32 = L_mac(l32, dn[i + 2], 1);
  }
  Word16 average = extract_l(L_shr(l32, 4));
  Word16 thres = add(mult(sub(max0, average), 13107), average);

  auto blk = [&](int ta, int tb) { return rr + kCross[ta][tb]; };
  for (int ta = 0; ta < 3; ++ta)
    for (int tb = ta + 1; tb < 5; ++tb) {
      int16_t* p = blk(ta, tb);
      for (int a = ta; a < kSubfr; a += 5)
        for (int b = tb; b < kSubfr; b += 5, ++p) *p = mult(*p, mult(psign[a], psign[b]));
    }

  Word16 extra = subframe == 0 ? 30 : *budget;
  int ip0 = 0, ip1 = 1, ip2 = 2, ip3 = 3;
  Word16 psc = 0, alpha = kMax16;
  Word16 time = add(75, extra);
  const int16_t *r00 = rr, *r11 = rr + 8, *r22 = rr + 16, *r33 = rr + 24, *r44 = rr + 32;
  const int16_t *r01 = blk(0, 1), *r02 = blk(0, 2), *r03 = blk(0, 3), *r04 = blk(0, 4);
  const int16_t *r12 = blk(1, 2), *r13 = blk(1, 3), *r14 = blk(1, 4), *r23 = blk(2, 3), *r24 = blk(2, 4);
  for (int i0 = 0; i0 < kSubfr; i0 += 5) {
    const int a0 = i0 / 5;
    Word16 ps0 = dn[i0];
    Word16 alp0 = r00[a0];
    for (int i1 = 1; i1 < kSubfr; i1 += 5) {
      const int a1 = i1 / 5;
      Word16 ps1 = add(ps0, dn[i1]);
      Word32 alp1 = L_mult(alp0, 1);
      alp1 = L_mac(alp1, r11[a1], 1);
      alp1 = L_mac(alp1, r01[a0 * 8 + a1], 2);
      for (int i2 = 2; i2 < kSubfr; i2 += 5) {
        const int a2 = i2 / 5;
        Word16 ps2 = add(ps1, dn[i2]);
        Word32 alp2 = L_mac(alp1, r22[a2], 1);
        alp2 = L_mac(alp2, r02[a0 * 8 + a2], 2);
        alp2 = L_mac(alp2, r12[a1 * 8 + a2], 2);
        if (sub(ps2, thres) <= 0) continue;
        for (int i3 = 3; i3 < kSubfr; i3 += 5) {
          const int a3 = i3 / 5;
          Word16 ps3 = add(ps2, dn[i3]);
          Word32 alp3 = L_mac(alp2, r33[a3], 1);
          alp3 = L_mac(alp3, r03[a0 * 8 + a3], 2);
          alp3 = L_mac(alp3, r13[a1 * 8 + a3], 2);
          alp3 = L_mac(alp3, r23[a2 * 8 + a3], 2);
          Word16 alp = extract_l(L_shr(alp3, 5));
          Word16 ps3c = mult(ps3, ps3);
          if (L_msu(L_mult(ps3c, alpha), psc, alp) > 0) {
            psc = ps3c;
            alpha = alp;
            ip0 = i0;
            ip1 = i1;
            ip2 = i2;
            ip3 = i3;
          }
        }
        for (int i3 = 4; i3 < kSubfr; i3 += 5) {
          const int a3 = i3 / 5;
          Word16 ps3 = add(ps2, dn[i3]);
          Word32 alp3 = L_mac(alp2, r44[a3], 1);
          alp3 = L_mac(alp3, r04[a0 * 8 + a3], 2);
          alp3 = L_mac(alp3, r14[a1 * 8 + a3], 2);
          alp3 = L_mac(alp3, r24[a2 * 8 + a3], 2);
          Word16 alp = extract_l(L_shr(alp3, 5));
          Word16 ps3c = mult(ps3, ps3);
          if (L_msu(L_mult(ps3c, alpha), psc, alp) > 0) {
            psc = ps3c;
            alpha = alp;
            ip0 = i0;
            ip1 = i1;
            ip2 = i2;
            ip3 = i3;
          }
        }
        time = sub(time, 1);
        if (time <= 0) goto done;
      }
    }
  }
done:
  *budget = time;
  packResult(psign, ip0, ip1, ip2, ip3, cod, index);
}

}  // namespace

VOKSC_EXPORT VokResult voksToeplizMatrix_G729_16s32s(const Vok16s* h, Vok32s* rr) {
  if (anyNull(h, rr)) return vokErrNullPtr;
  correlationMatrix(h, rr);
  return vokOk;
}

VOKSC_EXPORT VokResult voksToeplizMatrix_G729_16s(const Vok16s* h, Vok16s* rr) {
  if (anyNull(h, rr)) return vokErrNullPtr;
  int32_t r[kMatrix];
  correlationMatrix(h, r);
  for (int i = 0; i < kMatrix; ++i) rr[i] = sat16(r[i] >> 15);
  return vokOk;
}

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729A_16s(const Vok16s* dn, Vok16s* rr, Vok16s* cod, Vok16s* index) {
  if (anyNull(dn, rr, cod, index)) return vokErrNullPtr;
  int16_t d[kSubfr];
  std::memcpy(d, dn, sizeof d);
  searchFast(d, rr, cod, index);
  return vokOk;
}

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729A_32s16s(const Vok16s* dn, Vok32s* rr, Vok16s* cod,
                                                            Vok16s* index) {
  if (anyNull(dn, rr, cod, index)) return vokErrNullPtr;
  int16_t d[kSubfr], r[kMatrix];
  std::memcpy(d, dn, sizeof d);
  for (int i = 0; i < kMatrix; ++i) {
    rr[i] >>= 15;
    r[i] = sat16(rr[i]);
  }
  searchFast(d, r, cod, index);
  return vokOk;
}

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729_16s(const Vok16s* dn, Vok16s* rr, Vok16s* cod, Vok16s* index,
                                                        Vok16s* budget, int subframe) {
  if (anyNull(dn, rr, cod, index, budget)) return vokErrNullPtr;
  if (subframe != 0 && subframe != 1) return vokErrRange;
  int16_t d[kSubfr];
  std::memcpy(d, dn, sizeof d);
  searchFocused(d, rr, cod, index, budget, subframe);
  return vokOk;
}

VOKSC_EXPORT VokResult voksFixedCodebookSearch_G729_32s16s(const Vok16s* dn, Vok32s* rr, Vok16s* cod, Vok16s* index,
                                                           Vok16s* budget, int subframe) {
  if (anyNull(dn, rr, cod, index, budget)) return vokErrNullPtr;
  if (subframe < 0) return vokErrRange;
  int16_t d[kSubfr], r[kMatrix];
  std::memcpy(d, dn, sizeof d);
  for (int i = 0; i < kMatrix; ++i) {
    rr[i] >>= 15;
    r[i] = sat16(rr[i]);
  }
  searchFocused(d, r, cod, index, budget, subframe == 0 ? 0 : 1);
  return vokOk;
}

VOKSC_EXPORT VokResult voksDotProd_G729A_16s32s(const Vok16s* a, const Vok16s* b, int len, Vok32s* result) {
  if (anyNull(a, b, result)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  int64_t s = 0;
  for (int i = 0; i < len; ++i) s += int32_t{a[i]} * b[i];
  s *= 2;
  if (s > INT32_MAX) {
    *result = INT32_MAX;
    return vokWrnOverflow;
  }
  if (s < INT32_MIN) {
    *result = INT32_MIN;
    return vokWrnOverflow;
  }
  *result = static_cast<Vok32s>(s);
  return vokOk;
}
