// Argument checks of every codebook and gain export (null pointers before
// lengths before ranges, nothing written on failure) and the edge cases of
// the searches and gain steps the golden records do not hold: degenerate
// float input, the matrix the 32-bit search leaves behind, saturation of
// the dot product, erased frames and index reduction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "check.h"
#include "voksc.h"

using vtest::Guard;
using V = std::vector<int64_t>;

namespace {

// A short decaying response, Q12.
void response(Vok16s* h) {
  double v = 4096;
  for (int i = 0; i < 40; ++i, v *= -0.7) h[i] = static_cast<Vok16s>(v);
}

}  // namespace

TEST(G729FcbApi, SearchChecks) {
  Vok16s h[40], dn[40] = {}, rr[616], cod[40], y[40], index[5], sign, budget = 40;
  Vok32s rr32[616];
  Vok32f hf[40] = {1.0f}, dnf[40] = {}, rrf[616] = {}, codf[40], yf[40];
  Vok32s indexf[5], signf, budgetf = 0;
  response(h);
  voksToeplizMatrix_G729_16s(h, rr);
  voksToeplizMatrix_G729_16s32s(h, rr32);
  Guard g;
  g.watch(rr, 616).watch(rr32, 616).watch(cod, 40).watch(y, 40).watch(index, 5).watch(&sign).watch(&budget);
  g.watch(rrf, 616).watch(codf, 40).watch(yf, 40).watch(indexf, 5).watch(&signf).watch(&budgetf);
  EXPECT_EACH_NULL(g, voksToeplizMatrix_G729_16s, h, rr);
  EXPECT_EACH_NULL(g, voksToeplizMatrix_G729_16s32s, h, rr32);
  EXPECT_EACH_NULL(g, voksToeplizMatrix_G729_32f, hf, rrf);
  EXPECT_EACH_NULL(g, voksToeplizMatrix_G729D_32f, hf, rrf);
  // The subframe index: 0 or 1 for the 16-bit form (the 32-bit form takes
  // any positive index as 1), matrix left as it was.
  EXPECT_NULLS_THEN(vokErrRange, g, voksFixedCodebookSearch_G729_16s, dn, rr, cod, index, &budget, 2);
  EXPECT_REJECTS(vokErrRange, g, voksFixedCodebookSearch_G729_16s(dn, rr, cod, index, &budget, -1));
  EXPECT_NULLS_THEN(vokErrRange, g, voksFixedCodebookSearch_G729_32s16s, dn, rr32, cod, index, &budget, -1);
  EXPECT_EACH_NULL(g, voksFixedCodebookSearch_G729_32f, dnf, rrf, codf, indexf, &budgetf, 0);
  // The second subframe's budget is a 16-bit counter.
  Guard gb;
  gb.watch(rrf, 616).watch(codf, 40).watch(indexf, 5);
  for (Vok32s bad : {40000, -40000, INT32_MAX}) {
    Vok32s b = bad;
    EXPECT_REJECTS(vokErrRange, gb, voksFixedCodebookSearch_G729_32f(dnf, rrf, codf, indexf, &b, 1));
    EXPECT_EQ(b, bad);
  }
  EXPECT_EACH_NULL(g, voksFixedCodebookSearch_G729A_16s, dn, rr, cod, index);
  EXPECT_EACH_NULL(g, voksFixedCodebookSearch_G729A_32s16s, dn, rr32, cod, index);
  EXPECT_EACH_NULL(g, voksFixedCodebookSearch_G729A_32f, dnf, rrf, codf, indexf);
  EXPECT_EACH_NULL(g, voksFixedCodebookSearch_G729D_16s, dn, h, cod, y, &sign, index);
  EXPECT_EACH_NULL(g, voksFixedCodebookSearch_G729D_32f, dnf, hf, codf, yf, &signf, indexf);
  for (int mode = 0; mode < 2; ++mode) {
    EXPECT_EACH_NULL(g, voksFixedCodebookSearch_G729E_16s, mode, dn, dn, h, cod, y, index);
    EXPECT_EACH_NULL(g, voksFixedCodebookSearch_G729E_32f, mode, dnf, dnf, hf, codf, yf, indexf);
  }
}

// Degenerate float input (all zero, or not finite) still gives four pulses
// on their tracks and index words inside their fields.
TEST(G729FcbApi, FloatSearchesOnDegenerateInput) {
  // The last case: only tracks 3 and 4 not finite, so no pulse of theirs compares.
  for (float v : {0.0f, NAN, -INFINITY, 1.0f}) {
    Vok32f dn[40], rr[616], cod[40];
    Vok32s index[2], budget = 0;
    for (int form = 0; form < 2; ++form) {
      for (int i = 0; i < 40; ++i) dn[i] = v == 1.0f && i % 5 >= 3 ? NAN : v;
      std::fill(rr, rr + 616, v == 1.0f ? 0.1f : v);
      ASSERT_EQ(form ? voksFixedCodebookSearch_G729_32f(dn, rr, cod, index, &budget, 0)
                     : voksFixedCodebookSearch_G729A_32f(dn, rr, cod, index),
                vokOk);
      EXPECT_TRUE(index[0] >= 0 && index[0] < 8192 && index[1] >= 0 && index[1] < 16) << v << " form " << form;
      EXPECT_EQ(std::count_if(cod, cod + 40, [](float c) { return c != 0.0f; }), 4);
    }
  }
}

// The 32-bit form shifts the caller's matrix down by 15 in place and treats
// any positive subframe index as subframe 1.
TEST(G729FcbApi, ThirtyTwoBitMatrixIsShifted) {
  Vok16s h[40], cod[40], index[2], cod2[40], index2[2], budget = 90, budget2 = 90;
  response(h);
  Vok32s rr32[616], orig[616];
  Vok16s rr16[616];
  voksToeplizMatrix_G729_16s32s(h, rr32);
  std::memcpy(orig, rr32, sizeof orig);
  voksToeplizMatrix_G729_16s(h, rr16);
  Vok16s dn[40];
  for (int i = 0; i < 40; ++i) dn[i] = static_cast<Vok16s>((i * 7919) % 2001 - 1000);
  ASSERT_EQ(voksFixedCodebookSearch_G729_32s16s(dn, rr32, cod, index, &budget, 5), vokOk);
  for (int i = 0; i < 616; ++i) ASSERT_EQ(rr32[i], orig[i] >> 15) << i;
  ASSERT_EQ(voksFixedCodebookSearch_G729_16s(dn, rr16, cod2, index2, &budget2, 1), vokOk);
  EXPECT_EQ(0, std::memcmp(cod, cod2, sizeof cod));
  EXPECT_EQ(V({index[0], budget}), V({index2[0], budget2}));
}

TEST(G729FcbApi, DotProducts) {
  Vok16s a[40], b[40];
  Vok32s r = 0;
  Vok32f af[4] = {1, 2, 3, 4}, rf = 0;
  for (int i = 0; i < 40; ++i) a[i] = b[i] = -32768;
  Guard g;
  g.watch(&r).watch(&rf);
  EXPECT_NULLS_THEN(vokErrSize, g, voksDotProd_G729A_16s32s, a, b, 0, &r);
  EXPECT_NULLS_THEN(vokErrSize, g, voksDotProd_G729A_32f, af, af, -3, &rf);
  EXPECT_EQ(voksDotProd_G729A_16s32s(a, b, 40, &r), vokWrnOverflow);
  EXPECT_EQ(r, 0x7FFFFFFF);
  for (int i = 0; i < 40; ++i) b[i] = 32767;
  EXPECT_EQ(voksDotProd_G729A_16s32s(a, b, 40, &r), vokWrnOverflow);
  EXPECT_EQ(r, INT32_MIN);
  // Partial sums beyond 32 bits, total within: the exact total.
  const Vok16s pa[4] = {32767, 32767, 32767, 32767}, pb[4] = {32767, 32767, -32768, -32767};
  EXPECT_EQ(voksDotProd_G729A_16s32s(pa, pb, 4, &r), vokOk);
  EXPECT_EQ(r, 2 * (2 * 32767LL * 32767 - 32767LL * 32768 - 32767LL * 32767));
  EXPECT_EQ(voksDotProd_G729A_32f(af, af, 4, &rf), vokOk);
  EXPECT_EQ(rf, 30.0f);
}

TEST(G729GainApi, QuantiserChecks) {
  Vok16s x[40], y[40], code[40], z[40], mem[4] = {-14336, -14336, -14336, -14336}, gains[2], rows[2];
  for (int i = 0; i < 40; ++i) {
    x[i] = static_cast<Vok16s>(1000 - 50 * i);
    y[i] = static_cast<Vok16s>(800 - 40 * i);
    code[i] = (i % 10 == 3) ? 8191 : 0;
    z[i] = static_cast<Vok16s>(300 - 20 * i);
  }
  Guard g;
  g.watch(mem, 4).watch(gains, 2).watch(rows, 2);
  for (int low = 0; low < 2; ++low) {
    auto q = low ? voksGainQuant_G729D_16s : voksGainQuant_G729_16s;
    EXPECT_NULLS_THEN(vokErrRange, g, q, x, y, code, z, mem, gains, rows, 2);  // memory untouched
    EXPECT_REJECTS(vokErrRange, g, q(x, y, code, z, mem, gains, rows, -1));
  }
}

TEST(G729GainApi, DecoderChecksAndErasure) {
  Vok16s mem[4] = {-2048, -4096, -6144, -8192}, gains[2] = {16384, 1000};
  const Vok16s idx[2] = {3, 9};
  Guard g;
  g.watch(mem, 4).watch(gains, 2);
  EXPECT_EACH_NULL(g, voksDecodeGain_G729_16s, 100, mem, vtest::may(idx), gains);
  EXPECT_EACH_NULL(g, voksDecodeGain_G729I_16s, 100, 29491, mem, vtest::may(idx), gains);

  // Erased frames (G.729's are in the gain decoder golden): Annex I scales
  // both gains by the caller's attenuation.
  Vok16s mi[4] = {-2048, -4096, -6144, -8192}, gi[2] = {16384, 1000};
  ASSERT_EQ(voksDecodeGain_G729I_16s(0, 16384, mi, nullptr, gi), vokOk);
  EXPECT_EQ(V({gi[0], gi[1], mi[0]}), V({8192, 500, -9216}));

  // Indices outside 0..7 and 0..15 (0..7 and 0..7 for Annex I) are index
  // errors, nothing written.
  const Vok16s bad[][2] = {{8, 0}, {-1, 0}, {0, 16}, {0, -1}, {30000, 30000}}, badI[][2] = {{0, 8}, {8, 0}, {-8, 3}};
  for (const auto& b : bad) {
    EXPECT_REJECTS(vokErrIndex, g, voksDecodeGain_G729_16s(20000, mem, b, gains));
    EXPECT_REJECTS(vokErrIndex, g, voksDecodeGain_G729I_16s(20000, 29491, mem, b, gains));
  }
  for (const auto& b : badI) EXPECT_REJECTS(vokErrIndex, g, voksDecodeGain_G729I_16s(20000, 29491, mem, b, gains));
  const Vok16s top[2] = {7, 15}, topI[2] = {7, 7};
  EXPECT_EQ(voksDecodeGain_G729_16s(20000, mem, top, gains), vokOk);
  EXPECT_EQ(voksDecodeGain_G729I_16s(20000, 29491, mem, topI, gains), vokOk);
}

TEST(G729GainApi, FloatSearchChecks) {
  const Vok32f terms[5] = {1.0f, -2.0f, 1.0f, -2.0f, 0.5f};
  Vok32s cand[2] = {0, 0}, rows[2];
  Guard g;
  g.watch(rows, 2);
  EXPECT_EACH_NULL(g, voksGainCodebookSearch_G729_32f, terms, 1.0f, cand, rows, 2);
  EXPECT_EACH_NULL(g, voksGainCodebookSearch_G729D_32f, terms, 1.0f, cand, rows, 2);
  // Candidates and tame flags out of range per codebook (G.729: 0..4 and
  // 0..8; Annex D: 0..2 and 0..2), then the largest accepted ones.
  struct {
    bool low;
    Vok32s c0, c1;
    int tame;
  } const bad[] = {{false, 0, 0, 2}, {false, 5, 8, 0}, {false, 4, 9, 0}, {true, 4, 8, 0}, {true, 2, 3, 0}, {true, 2, -1, 0}};
  for (const auto& b : bad) {
    cand[0] = b.c0;
    cand[1] = b.c1;
    auto f = b.low ? voksGainCodebookSearch_G729D_32f : voksGainCodebookSearch_G729_32f;
    EXPECT_REJECTS(vokErrRange, g, f(terms, 1.0f, cand, rows, b.tame)) << b.low << " " << b.c0 << " " << b.c1;
  }
  cand[0] = 4;
  cand[1] = 8;
  EXPECT_EQ(voksGainCodebookSearch_G729_32f(terms, 1.0f, cand, rows, 0), vokOk);
  EXPECT_TRUE(rows[0] >= 4 && rows[1] >= 8);
  cand[0] = cand[1] = 2;
  EXPECT_EQ(voksGainCodebookSearch_G729D_32f(terms, 1.0f, cand, rows, 1), vokOk);
  EXPECT_TRUE(rows[0] >= 2 && rows[0] < 8);
}
