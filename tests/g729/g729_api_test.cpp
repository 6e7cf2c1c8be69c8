// G.729 exports: argument checks in the published order with nothing
// written on failure, and the behaviours callers depend on.  Bit-exactness
// of the whole chain is proven by the ITU vectors through vokcodec.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "check.h"
#include "g729/lp_internal.h"
#include "voksc.h"

namespace {
const Vok16s kLspReset[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
const Vok16s kMaReset[10] = {2339, 4679, 7018, 9358, 11698, 14037, 16377, 18717, 21056, 23396};
}  // namespace

TEST(G729Lpc, LevinsonWarnsAndWritesNothing) {
  Vok32s r[11] = {65535, 1000};
  Vok16s a[11], rc[10], err;
  vtest::Guard g;
  g.watch(a, 11).watch(rc, 10).watch(&err);
  EXPECT_REJECTS(vokWrnOverflow, g, voksLevinsonDurbin_G729_32s16s(r, 10, a, rc, &err));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLevinsonDurbin_G729_32s16s(nullptr, 0, a, rc, &err));
  EXPECT_REJECTS(vokErrRange, g, voksLevinsonDurbin_G729_32s16s(r, 31, a, rc, &err));
  // An unstable filter (|k| close to 1) keeps the caller's previous one.
  Vok32s unstable[11] = {0x40000000, 0x3FFF0000};
  EXPECT_REJECTS(vokWrnOverflow, g, voksLevinsonDurbin_G729_32s16s(unstable, 10, a, rc, &err));
  Vok16s rc2[2];
  g.watch(rc2, 2);
  EXPECT_REJECTS(vokErrNullPtr, g, voksLevinsonDurbin_G729B(r, a, nullptr, &err));
}

TEST(G729Lpc, LevinsonOfAFirstOrderProcess) {
  // r[k] = 0.9^k: a single pole at 0.9, so a[1] = -0.9 (Q12) and the rest 0.
  Vok32s r[11];
  double v = 0x40000000;
  for (int k = 0; k <= 10; ++k, v *= 0.9) r[k] = static_cast<Vok32s>(v);
  Vok16s a[11], rc[10], err;
  ASSERT_EQ(voksLevinsonDurbin_G729_32s16s(r, 10, a, rc, &err), vokOk);
  EXPECT_EQ(a[0], 4096);
  EXPECT_NEAR(a[1], -0.9 * 4096, 3);
  for (int k = 2; k <= 10; ++k) EXPECT_NEAR(a[k], 0, 3) << k;
  EXPECT_NEAR(rc[0], -0.9 * 32768, 10);
}

TEST(G729Lpc, LagWindowLengths) {
  Vok32s r[13];
  for (auto& x : r) x = 0x20000000;
  Vok32s before[13];
  std::memcpy(before, r, sizeof r);
  ASSERT_EQ(voksLagWindow_G729_32s_I(r, 12), vokOk);
  EXPECT_LT(r[11], r[10]);  // both extra entries applied, decreasing
  EXPECT_LT(r[10], r[9]);
  vtest::Guard g;
  g.watch(r, 13);
  EXPECT_REJECTS(vokErrRange, g, voksLagWindow_G729_32s_I(r, 13));
  EXPECT_REJECTS(vokErrSize, g, voksLagWindow_G729_32s_I(r, 0));
}

TEST(G729Lpc, LspRoundTripAndFallback) {
  // LSP -> LP -> LSP returns the LSPs (within the grid search's precision).
  Vok16s a[11], lsp[10];
  ASSERT_EQ(voksLSPToLPC_G729_16s(kLspReset, a), vokOk);
  ASSERT_EQ(voksLPCToLSP_G729_16s(a, kLspReset, lsp), vokOk);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(lsp[i], kLspReset[i], 40) << i;
  ASSERT_EQ(voksLPCToLSP_G729A_16s(a, kLspReset, lsp), vokOk);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(lsp[i], kLspReset[i], 80) << i;
  // A filter whose polynomials lack ten sign changes on the grid (roots
  // far outside the unit circle) gives the previous LSPs back.
  Vok16s wild[11] = {4096, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767};
  const Vok16s prev[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_EQ(voksLPCToLSP_G729_16s(wild, prev, lsp), vokOk);
  EXPECT_EQ(std::memcmp(lsp, prev, sizeof prev), 0);
}

TEST(G729Lpc, LsfConversionsAndDomain) {
  Vok16s lsf[10], lsp[10];
  ASSERT_EQ(voksLSPToLSF_G729_16s(kLspReset, lsf), vokOk);
  for (int i = 1; i < 10; ++i) EXPECT_GT(lsf[i], lsf[i - 1]);
  ASSERT_EQ(voksLSFToLSP_G729_16s(lsf, lsp), vokOk);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(lsp[i], kLspReset[i], 30);
  Vok16s norm[10];
  ASSERT_EQ(voksLSPToLSF_Norm_G729_16s(kLspReset, norm), vokOk);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(norm[i] * 2.0 * 3.14159265 / 32768.0 * 8192.0, lsf[i], 40) << i;
  Vok16s bad[10];
  std::memcpy(bad, lsf, sizeof bad);
  bad[3] = -100;
  Vok16s out[10] = {};
  EXPECT_EQ(voksLSFToLSP_G729_16s(bad, out), vokErrDomain);
  EXPECT_EQ(out[0], lsp[0]);  // elements before the failing one are written
}

TEST(G729Lpc, LsfDecodeChecksAndStability) {
  Vok16s mem[40];
  for (int k = 0; k < 4; ++k) std::memcpy(mem + 10 * k, kMaReset, sizeof kMaReset);
  Vok16s lsf[10];
  const Vok16s badIdx[4] = {2, 0, 0, 0};
  vtest::Guard g;
  g.watch(mem, 40).watch(lsf, 10);
  EXPECT_REJECTS(vokErrIndex, g, voksLSFDecode_G729_16s(badIdx, mem, lsf));
  EXPECT_REJECTS(vokErrIndex, g, voksLSFDecodeErased_G729_16s(2, mem, lsf));
  const Vok16s idx[4] = {0, 5, 7, 9};
  VokResult st = voksLSFDecode_G729_16s(idx, mem, lsf);
  EXPECT_TRUE(st == vokOk || st == vokWrnLsfFloor || st == vokWrnLsfCeiling || st == vokWrnLsfFloorCeiling);
  for (int i = 1; i < 10; ++i) EXPECT_GE(lsf[i] - lsf[i - 1], 321);
  // Floor and ceiling together.
  int16_t buf[10] = {10, 400, 800, 1200, 1600, 2000, 2400, 2800, 3200, 30000};
  EXPECT_EQ(voksc::g729::lsfStability(buf), 3);
  EXPECT_EQ(buf[0], 40);
  EXPECT_EQ(buf[9], 25681);
}

TEST(G729Lpc, QuantiserIsItsDecoder) {
  // The quantised LSFs equal what the decoder rebuilds from the indices.
  Vok16s memQ[40], memD[40];
  for (int k = 0; k < 4; ++k) {
    std::memcpy(memQ + 10 * k, kMaReset, sizeof kMaReset);
    std::memcpy(memD + 10 * k, kMaReset, sizeof kMaReset);
  }
  std::mt19937 rng(4);
  for (int frame = 0; frame < 50; ++frame) {
    Vok16s lsf[10];
    int base = 500;
    for (int i = 0; i < 10; ++i) {
      base += 1500 + static_cast<int>(rng() % 800);
      lsf[i] = static_cast<Vok16s>(base);
    }
    Vok16s q[10], idx[4], d[10];
    ASSERT_EQ(voksLSFQuant_G729_16s(lsf, memQ, q, idx), vokOk);
    voksLSFDecode_G729_16s(idx, memD, d);
    ASSERT_EQ(std::memcmp(q, d, sizeof q), 0);
    ASSERT_EQ(std::memcmp(memQ, memD, sizeof memQ), 0);
  }
}

TEST(G729Lpc, Interpolations) {
  const Vok16s one[1] = {1};
  Vok16s out[1];
  ASSERT_EQ(voksInterpolateC_G729_16s_Sfs(one, 1, one, 1, out, 1, 1), vokOk);
  EXPECT_EQ(out[0], 0);
  ASSERT_EQ(voksInterpolateC_NR_G729_16s_Sfs(one, 1, one, 1, out, 1, 1), vokOk);
  EXPECT_EQ(out[0], 1);
  vtest::Guard g;
  g.watch(out, 1);
  EXPECT_REJECTS(vokErrScale, g, voksInterpolateC_G729_16s_Sfs(one, 1, one, 1, out, 0, -1));
  EXPECT_REJECTS(vokErrNullPtr, g, voksInterpolate_G729_16s(one, nullptr, out, 0));
  const Vok16s a[2] = {-32768, 101}, b[2] = {-32768, 100};
  Vok16s m[2];
  ASSERT_EQ(voksInterpolate_G729_16s(a, b, m, 2), vokOk);
  EXPECT_EQ(m[0], -32768);
  EXPECT_EQ(m[1], 50 + 50);
}

TEST(G729Pitch, RangesAndIndexChecks) {
  std::vector<Vok16s> exc(194, 100), x(40, 10), h(40, 0), vec(40);
  h[0] = 4096;
  Vok16s delay[2];
  vtest::Guard g;
  g.watch(exc.data(), exc.size()).watch(delay, 2).watch(vec.data(), 40);
  EXPECT_REJECTS(vokErrRange, g, voksAdaptiveCodebookSearch_G729_16s(146, x.data(), h.data(), exc.data(), delay, vec.data(), 0));
  EXPECT_REJECTS(vokErrRange, g, voksAdaptiveCodebookSearch_G729A_16s(60, x.data(), h.data(), exc.data(), delay, vec.data(), 2));
  EXPECT_REJECTS(vokErrNullPtr, g, voksAdaptiveCodebookSearch_G729D_16s(146, x.data(), h.data(), exc.data(), 0, nullptr));
  Vok16s bad[2] = {145, 0};
  EXPECT_REJECTS(vokErrIndex, g, voksDecodeAdaptiveVector_G729_16s_I(bad, exc.data()));
  bad[0] = 60;
  bad[1] = 2;
  EXPECT_REJECTS(vokErrIndex, g, voksDecodeAdaptiveVector_G729_16s(bad, exc.data(), vec.data()));
  const Vok16s ok[2] = {144, 1};
  EXPECT_EQ(voksDecodeAdaptiveVector_G729_16s_I(ok, exc.data()), vokOk);
  EXPECT_EQ(voksAdaptiveCodebookSearch_G729_16s(145, x.data(), h.data(), exc.data(), delay, vec.data(), 0), vokOk);
  EXPECT_GE(delay[0], 137);
  EXPECT_LE(delay[0], 143);
}

TEST(G729Pitch, IntegerDelayAboveEightyFourHasNoFraction) {
  // A pulse train of period 90 in the past excitation; the target is its
  // continuation, so the search lands on 90 without fractional refinement.
  std::vector<Vok16s> exc(194, 0), x(40, 0), h(40, 0), vec(40);
  h[0] = 4096;
  for (int i = 4; i < 154; i += 90) exc[i] = 8000;
  for (int i = 0; i < 40; ++i) x[i] = exc[154 + i - 90];
  Vok16s delay[2];
  ASSERT_EQ(voksAdaptiveCodebookSearch_G729_16s(90, x.data(), h.data(), exc.data(), delay, vec.data(), 0), vokOk);
  EXPECT_EQ(delay[0], 90);
  EXPECT_EQ(delay[1], 0);
}

TEST(G729Pitch, GainOfOrthogonalAndDoubledTargets) {
  std::vector<Vok16s> h(40, 0), vec(40), y(40), x(40);
  h[0] = 4096;
  for (int i = 0; i < 40; ++i) vec[i] = static_cast<Vok16s>(i % 2 ? 1000 : -1000);
  Vok16s gain = -1;
  for (int i = 0; i < 40; ++i) x[i] = static_cast<Vok16s>((i / 2) % 2 ? 1000 : -1000);
  ASSERT_EQ(voksAdaptiveCodebookGain_G729_16s(x.data(), h.data(), vec.data(), y.data(), &gain), vokOk);
  EXPECT_EQ(gain, 0);
  for (int i = 0; i < 40; ++i) x[i] = static_cast<Vok16s>(2 * vec[i]);
  ASSERT_EQ(voksAdaptiveCodebookGain_G729_16s(x.data(), h.data(), vec.data(), y.data(), &gain), vokOk);
  EXPECT_EQ(gain, 19661);
  Vok16s x2[40];
  ASSERT_EQ(voksAdaptiveCodebookContribution_G729_16s(16384, y.data(), x.data(), x2), vokOk);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(x2[i], x[i] - y[i]);
}

TEST(G729Codebook, ChecksAndMatrixShift) {
  std::mt19937 rng(8);
  std::vector<Vok16s> h(40), dn(40), cod(40);
  for (auto& v : h) v = static_cast<Vok16s>(static_cast<int>(rng() % 2001) - 1000);
  for (auto& v : dn) v = static_cast<Vok16s>(static_cast<int>(rng() % 8001) - 4000);
  Vok16s rr16[616], idx[2], budget = 0;
  Vok32s rr32[616], copy32[616];
  ASSERT_EQ(voksToeplizMatrix_G729_16s32s(h.data(), rr32), vokOk);
  ASSERT_EQ(voksToeplizMatrix_G729_16s(h.data(), rr16), vokOk);
  for (int i = 0; i < 616; ++i) ASSERT_EQ(rr16[i], rr32[i] >> 15) << i;
  std::memcpy(copy32, rr32, sizeof rr32);
  vtest::Guard g;
  g.watch(rr16, 616).watch(cod.data(), 40).watch(idx, 2).watch(&budget);
  EXPECT_REJECTS(vokErrRange, g, voksFixedCodebookSearch_G729_16s(dn.data(), rr16, cod.data(), idx, &budget, 2));
  EXPECT_REJECTS(vokErrNullPtr, g, voksFixedCodebookSearch_G729_16s(dn.data(), rr16, cod.data(), idx, nullptr, 2));
  ASSERT_EQ(voksFixedCodebookSearch_G729_32s16s(dn.data(), rr32, cod.data(), idx, &budget, 0), vokOk);
  for (int i = 0; i < 616; ++i) ASSERT_EQ(rr32[i], copy32[i] >> 15);
  // Budget after subframe 0: 105 minus the pulse-3 scans made.
  EXPECT_GT(budget, 0);
  EXPECT_LE(budget, 105);
  // The 16-bit and 32-bit forms choose the same pulses.
  Vok16s cod16[40], idx16[2], b16 = 0;
  voksToeplizMatrix_G729_16s(h.data(), rr16);
  ASSERT_EQ(voksFixedCodebookSearch_G729_16s(dn.data(), rr16, cod16, idx16, &b16, 0), vokOk);
  EXPECT_EQ(idx16[0], idx[0]);
  EXPECT_EQ(idx16[1], idx[1]);
  EXPECT_EQ(b16, budget);
  int pulses = 0;
  for (Vok16s c : cod16) pulses += c != 0;
  EXPECT_EQ(pulses, 4);
}

TEST(G729Codebook, ZeroTargetGivesPositiveSigns) {
  std::vector<Vok16s> h(40, 0), dn(40, 0), cod(40);
  h[0] = 4096;
  Vok16s rr[616], idx[2];
  voksToeplizMatrix_G729_16s(h.data(), rr);
  ASSERT_EQ(voksFixedCodebookSearch_G729A_16s(dn.data(), rr, cod.data(), idx), vokOk);
  EXPECT_EQ(idx[1], 15);
  for (Vok16s c : cod) EXPECT_TRUE(c == 0 || c == 8191);
}

TEST(G729Codebook, DotProductSaturatesWithWarning) {
  std::vector<Vok16s> v(40, -32768);
  Vok32s r = 0;
  EXPECT_EQ(voksDotProd_G729A_16s32s(v.data(), v.data(), 40, &r), vokWrnOverflow);
  EXPECT_EQ(r, 0x7FFFFFFF);
  const Vok16s a[2] = {3, -4};
  EXPECT_EQ(voksDotProd_G729A_16s32s(a, a, 2, &r), vokOk);
  EXPECT_EQ(r, 50);
}

TEST(G729Gain, ErasureAndIndexReduction) {
  Vok16s mem[4] = {-1000, -2000, -3000, -4000};
  Vok16s gains[2] = {16384, 1000};
  ASSERT_EQ(voksDecodeGain_G729_16s(0, mem, nullptr, gains), vokOk);
  EXPECT_EQ(gains[0], 14745);
  EXPECT_EQ(gains[1], (1000 * 32111) >> 15);
  EXPECT_EQ(mem[0], -2500 - 4096);
  EXPECT_EQ(mem[1], -1000);
  Vok16s m1[4] = {-14336, -14336, -14336, -14336}, m2[4] = {-14336, -14336, -14336, -14336};
  Vok16s g1[2], g2[2];
  const Vok16s i1[2] = {8, 3}, i2[2] = {0, 3};
  voksDecodeGain_G729_16s(4 * 8191 * 8191, m1, i1, g1);
  voksDecodeGain_G729_16s(4 * 8191 * 8191, m2, i2, g2);
  EXPECT_EQ(g1[0], g2[0]);
  EXPECT_EQ(g1[1], g2[1]);
  vtest::Guard g;
  std::vector<Vok16s> v(40, 100);
  Vok16s rows[2];
  g.watch(m1, 4).watch(g1, 2).watch(rows, 2);
  EXPECT_REJECTS(vokErrRange, g, voksGainQuant_G729_16s(v.data(), v.data(), v.data(), v.data(), m1, g1, rows, 2));
  EXPECT_REJECTS(vokErrNullPtr, g, voksDecodeGain_G729_16s(0, nullptr, i1, g1));
}

TEST(G729Filters, HighPassChecksAndState) {
  int size = 0;
  ASSERT_EQ(voksHighPassFilterSize_G729(&size), vokOk);
  EXPECT_EQ(size, 24);
  std::vector<unsigned char> st(static_cast<size_t>(size));
  const Vok16s c[6] = {4096, 7807, -3733, 1899, -3798, 1899};
  ASSERT_EQ(voksHighPassFilterInit_G729(c, st.data()), vokOk);
  Vok16s x[80];
  for (int i = 0; i < 80; ++i) x[i] = 5000;  // DC is removed
  vtest::Guard g;
  g.watch(st.data(), st.size()).watch(x, 80);
  EXPECT_REJECTS(vokErrScale, g, voksHighPassFilter_G729_16s_ISfs(x, 80, 11, st.data()));
  EXPECT_REJECTS(vokErrScale, g, voksHighPassFilter_G729_16s_ISfs(x, 80, 14, st.data()));
  EXPECT_REJECTS(vokErrSize, g, voksHighPassFilter_G729_16s_ISfs(x, 0, 14, st.data()));
  ASSERT_EQ(voksHighPassFilterInit_G729(c, st.data()), vokOk);  // the guard filled it with a pattern
  for (int i = 0; i < 80; ++i) x[i] = 5000;
  // A byte copy of the state is a snapshot of the stream.
  std::vector<unsigned char> snap = st;
  Vok16s y[80];
  std::memcpy(y, x, sizeof x);
  ASSERT_EQ(voksHighPassFilter_G729_16s_ISfs(x, 80, 12, st.data()), vokOk);
  ASSERT_EQ(voksHighPassFilter_G729_16s_ISfs(y, 80, 12, snap.data()), vokOk);
  EXPECT_EQ(std::memcmp(x, y, sizeof x), 0);
  EXPECT_LT(std::abs(x[79]), 1000);
}

TEST(G729Filters, SynthesisOverflowAndResidualInverse) {
  Vok16s a[11];
  voksLSPToLPC_G729_16s(kLspReset, a);
  std::mt19937 rng(2);
  Vok16s xb[50], r[40], y[40], mem[10] = {};
  for (auto& v : xb) v = static_cast<Vok16s>(static_cast<int>(rng() % 2001) - 1000);
  for (int i = 0; i < 10; ++i) xb[i] = 0;
  ASSERT_EQ(voksResidualFilter_G729_16s(xb + 10, a, r), vokOk);
  ASSERT_EQ(voksSynthesisFilter_G729E_16s(a, 10, r, y, 40, mem), vokOk);
  for (int i = 0; i < 40; ++i) EXPECT_NEAR(y[i], xb[10 + i], 2);
  Vok16s big[40];
  for (auto& v : big) v = 30000;
  Vok16s m2[10] = {};
  EXPECT_EQ(voksSynthesisFilter_G729E_16s(a, 10, big, y, 40, m2), vokWrnOverflow);
  vtest::Guard g;
  g.watch(y, 40);
  EXPECT_REJECTS(vokErrSize, g, voksSynthesisFilter_G729E_16s(a, 0, big, y, 40, nullptr));
}

TEST(G729PostFilter, ChecksAndPassThrough) {
  std::vector<Vok16s> res(194, 0), speech(50, 0), out(40), num(11, 0);
  num[0] = 4096;
  vtest::Guard g;
  g.watch(res.data(), res.size()).watch(out.data(), 40);
  EXPECT_REJECTS(vokErrRange, g, voksLongTermPostFilter_G729A_16s(146, speech.data() + 10, num.data(), res.data(), out.data()));
  EXPECT_REJECTS(vokErrRange, g, voksLongTermPostFilter_G729_16s(16385, 60, res.data(), out.data(), out.data()));
  // Uncorrelated past: the residual passes unchanged.
  for (int i = 10; i < 50; ++i) speech[i] = static_cast<Vok16s>(i % 2 ? 3000 : -3000);
  ASSERT_EQ(voksLongTermPostFilter_G729A_16s(60, speech.data() + 10, num.data(), res.data(), out.data()), vokOk);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(out[i], speech[10 + i]);
  // Tilt factor 0 leaves the signal as it is.
  Vok16s sig[41], t[40];
  for (int i = 0; i < 41; ++i) sig[i] = static_cast<Vok16s>(i * 100);
  ASSERT_EQ(voksTiltCompensation_G729E_16s(0, sig + 1, t), vokOk);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(t[i], sig[i + 1]);
  // A silent post-filtered subframe resets the past gain.
  Vok16s before[40], silent[40] = {};
  for (auto& v : before) v = 1000;
  Vok16s pg = 4096;
  ASSERT_EQ(voksGainControl_G729A_16s_I(before, silent, &pg), vokOk);
  EXPECT_EQ(pg, 0);
  pg = 16384;
  ASSERT_EQ(voksGainControl_G729_16s_I(before, silent, &pg), vokOk);
  EXPECT_EQ(pg, 0);
}
