// G.728 operations: argument checks, and the kernels against small
// independent models of their formulas.  The complete coders are checked
// bit for bit against the standard's vectors by the vokcodec conformance
// test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "check.h"
#include "g728/g728_internal.h"
#include "levels.h"
#include "voksc.h"

namespace {

TEST(G728, RejectsNullsSizesAndRanges) {
  Vok16s acf[51] = {1000, 500}, lpc[51], rc = 0, err = 0, sc = 0;
  vtest::Guard g;
  g.watch(lpc, 51).watch(&rc).watch(&err).watch(&sc);
  EXPECT_EACH_NULL(g, voksLevinsonDurbin_G728_16s_Sfs, acf, -1, lpc, &rc, &err, &sc);
  EXPECT_REJECTS(vokErrRange, g, voksLevinsonDurbin_G728_16s_Sfs(acf, -1, lpc, &rc, &err, &sc));
  Vok16s zero[51] = {0};
  EXPECT_REJECTS(vokErrRange, g, voksLevinsonDurbin_G728_16s_Sfs(zero, 10, lpc, &rc, &err, &sc));
  // Order 0 reads acf[0] alone: the error is the energy, no coefficient.
  const std::vector<Vok16s> energyOnly = {1000};
  ASSERT_EQ(voksLevinsonDurbin_G728_16s_Sfs(energyOnly.data(), 0, lpc, &rc, &err, &sc), vokOk);
  EXPECT_EQ(err, 1000);
  EXPECT_EQ(sc, 15);
  Vok16s big = 16;
  EXPECT_REJECTS(vokErrScale, g, voksLevinsonDurbin_G728_16s_ISfs(acf, 10, 50, lpc, &err, &big));
  EXPECT_REJECTS(vokErrRange, g, voksLevinsonDurbin_G728_16s_ISfs(acf, 11, 10, lpc, &err, &sc));

  Vok16s p[5] = {1, 2, 3, 4, 5}, energy[128] = {0}, cw = 0;
  Vok32s si = 0, gi = 0;
  vtest::Guard g2;
  g2.watch(&si).watch(&gi).watch(&cw);
  EXPECT_EACH_NULL(g2, voksCodebookSearch_G728_16s, p, energy, &si, &gi, &cw, static_cast<VokRateCode>(3));
  for (int rate : {0, 3, 16, 18})
    EXPECT_REJECTS(vokErrRange, g2, voksCodebookSearch_G728_16s(p, energy, &si, &gi, &cw, static_cast<VokRateCode>(rate)));

  int size = 0;
  EXPECT_EQ(voksWinHybridGetStateSize_G728_16s(50, 35, 20, 5, &size), vokOk);
  EXPECT_EQ(size, 2 * (20 + 35 + 100) + 28 + 2 * 21 + 16);
  EXPECT_EQ(voksWinHybridGetStateSize_G728_16s(10, 30, 20, 0, &size), vokOk);
  EXPECT_EQ(size, 2 * (20 + 30 + 20) + 28 + 16);
  EXPECT_EQ(voksWinHybridGetStateSize_G728_16s(10, 0, 20, 0, &size), vokErrSize);
  EXPECT_EQ(voksWinHybridGetStateSize_G728_16s(1 << 30, 1 << 30, 1, 1, &size), vokErrSize);  // beyond an int
  // A window state Init never formatted is refused.
  std::vector<unsigned char> raw(static_cast<std::size_t>(size) + 16, 0xA5);
  Vok16s blk[20] = {0}, r[11];
  EXPECT_EQ(voksWinHybrid_G728_16s(0, blk, r, raw.data()), vokErrContextMatch);
  struct Query { VokResult (*fn)(int*); int bytes; };
  for (Query q : {Query{voksSynthesisFilterGetStateSize_G728_16s, 144}, Query{voksCombinedFilterGetStateSize_G728_16s, 208},
                  Query{voksIIR16sGetStateSize_G728_16s, 64}, Query{voksPostFilterGetStateSize_G728_16s, 64},
                  Query{voksPostFilterAdapterGetStateSize_G728, 176}}) {
    EXPECT_EQ(q.fn(&size), vokOk);
    EXPECT_EQ(size, q.bytes);
  }
}

// Pole-zero filter against the formula, on loud random coefficients and
// signals, one call per sample count (the 5-sample path included).
TEST(G728, PoleZeroFilterMatchesFormula) {
  std::mt19937 rng(728);
  for (int len : {1, 5, 37}) {
    Vok16s coef[20];
    for (auto& c : coef) c = static_cast<Vok16s>(static_cast<int>(rng() % 8001) - 4000);
    std::vector<Vok16s> x(static_cast<std::size_t>(len) * 3), y(x.size());
    for (auto& v : x) v = static_cast<Vok16s>(rng());
    alignas(16) unsigned char st[64];
    ASSERT_EQ(voksIIR16sInit_G728_16s(st), vokOk);
    for (std::size_t at = 0; at < x.size(); at += static_cast<std::size_t>(len))
      ASSERT_EQ(voksIIR16s_G728_16s(coef, &x[at], &y[at], len, st), vokOk);
    std::vector<int64_t> yy(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
      int64_t acc = int64_t{x[n]} * 16384;
      for (int i = 0; i < 10; ++i)
        if (n >= static_cast<std::size_t>(i) + 1) acc += int64_t{coef[i]} * x[n - 1 - i] - int64_t{coef[10 + i]} * yy[n - 1 - i];
      int64_t o = acc >> 14;
      yy[n] = o > 32767 ? 32767 : (o < -32768 ? -32768 : o);
      ASSERT_EQ(y[n], yy[n]) << "len " << len << " sample " << n;
    }
  }
}

// Codebook search: the chosen shape and gain minimise the distortion the
// energies and correlations imply; a unit impulse response makes the
// energies those of the shapes themselves; the sign of the target decides
// the sign half of the gain index.
TEST(G728, CodebookSearchFindsScaledShape) {
  Vok16s h[5] = {0, 0, 0, 0, 1 << 13}, energy[128];
  ASSERT_EQ(voksImpulseResponseEnergy_G728_16s(h, energy), vokOk);
  // Shape 0 of the standard's codebook (Q11, as its energies confirm).
  const Vok16s shape0[5] = {-2553, -1790, -1254, -2950, 668};
  int64_t e0 = 0;
  for (int k = 0; k < 5; ++k) {
    const int64_t y = (int64_t{shape0[k]} * 8192) >> 14;
    e0 += y * y;
  }
  EXPECT_EQ(energy[0], e0 >> 15);
  for (int sign : {1, -1}) {
    Vok16s p[5];
    for (int k = 0; k < 5; ++k) p[k] = static_cast<Vok16s>(sign * shape0[k] / 2);
    Vok32s si = -1, gi = -1;
    Vok16s cw = -1;
    ASSERT_EQ(voksCodebookSearch_G728_16s(p, energy, &si, &gi, &cw, static_cast<VokRateCode>(17)), vokOk);
    EXPECT_GE(si, 0);
    EXPECT_LT(si, 128);
    EXPECT_EQ(gi >= 4, sign < 0);
    EXPECT_EQ(cw, si * 8 + gi);
  }
}

// Levinson: a first-order autocorrelation gives k1 = -r1/r0 and stops
// there; continuing a 2nd-order recursion from order 1 equals running it
// in one call.
TEST(G728, LevinsonFirstStepAndContinuation) {
  const Vok16s acf[4] = {16384, 8192, 2048, 1024};
  Vok16s a[3], rc = 0, err = 0, sc = 0;
  ASSERT_EQ(voksLevinsonDurbin_G728_16s_Sfs(acf, 1, a, &rc, &err, &sc), vokOk);
  EXPECT_EQ(rc, -16384);
  EXPECT_EQ(a[0], -16384);
  EXPECT_EQ(sc, 15);
  EXPECT_EQ(err, 12288);  // r0 (1 - k1^2)
  Vok16s whole[3], e2 = 0, s2 = 0;
  ASSERT_EQ(voksLevinsonDurbin_G728_16s_Sfs(acf, 3, whole, &rc, &e2, &s2), vokOk);
  ASSERT_EQ(voksLevinsonDurbin_G728_16s_ISfs(acf, 1, 3, a, &err, &sc), vokOk);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a[i], whole[i]);
  EXPECT_EQ(err, e2);
  EXPECT_EQ(sc, s2);
  const Vok16s singular[3] = {100, 100, 100};
  Vok16s keep[2] = {7, 7};
  EXPECT_EQ(voksLevinsonDurbin_G728_16s_Sfs(singular, 2, keep, &rc, &err, &sc), vokWrnOverflow);
  EXPECT_EQ(keep[0], 7);
}

// The vector kernels against their scalar forms on random, full-scale and
// extreme operands (impulse responses past the 32-bit bound of the vector
// energies, negative energies, predictor sums at the edge of 32 bits).
TEST(G728, KernelFormsAgree) {
  REQUIRE_AVX2();
  namespace k = voksc::g728;
  std::mt19937 rng(728);
  auto word = [&](int lim) { return static_cast<int16_t>(rng() % 7 == 0 ? (rng() & 1 ? lim : -lim - 1) : int(rng() % (2 * lim + 1)) - lim); };
  for (int rep = 0; rep < 3000; ++rep) {
    const int lim = rep % 3 == 0 ? 32767 : (rep % 3 == 1 ? 3000 : 300);
    int16_t h[5], p[5], e[128], ea[128], eb[128];
    for (int i = 0; i < 5; ++i) h[i] = word(lim), p[i] = word(32767);
    for (auto& v : e) v = word(rep % 2 ? 32767 : lim);
    k::shapeEnergies_scalar(h, ea);
    k::shapeEnergies_avx2(h, eb);
    ASSERT_EQ(std::vector<int16_t>(ea, ea + 128), std::vector<int16_t>(eb, eb + 128)) << rep;
    int sa = -1, ga = -1, sb = -2, gb = -2;
    k::shapeSearch_scalar(p, rep % 4 ? ea : e, sa, ga);
    k::shapeSearch_avx2(p, rep % 4 ? ea : e, sb, gb);
    ASSERT_EQ(sa * 8 + ga, sb * 8 + gb) << rep;
    // Synthesis ringing: exponents far apart (shifts past 30, the oldest block dropped; spreads past 16 bits).
    int16_t lpc[66], mem[50], exps[10], ra[5], rb[5], qa = 0, qb = 0;
    for (auto& v : lpc) v = word(32767);  // also the correlations of the fused error sum below
    for (auto& v : mem) v = word(lim);
    for (auto& q : exps) q = rep % 7 == 0 ? word(32767) : static_cast<int16_t>(rng() % (rep % 5 ? 8 : 70));
    k::synthesisRinging_scalar(lpc, mem, exps, ra, &qa);
    k::synthesisRinging_avx2(lpc, mem, exps, rb, &qb);
    ASSERT_EQ(std::vector<int16_t>(ra, ra + 5), std::vector<int16_t>(rb, rb + 5)) << rep;
    ASSERT_EQ(qa, qb) << rep;
    // Decimated pitch search in 32 bits: the first lag of the largest sum
    // up to the bound (all words at -9268 included, and runs of equal words
    // for ties), refused past it.
    int16_t dd[64] = {};
    int most = 0;
    for (int i = 0; i < 60; ++i) {
      dd[i] = rep % 50 == 1 ? int16_t{-9268} : (rep % 5 == 2 ? int16_t{-3} : word(rep % 3 == 0 ? 32767 : 9267));
      most = std::max(most, std::abs(int{dd[i]}));
    }
    int64_t peakSum = INT64_MIN;
    int peakLag = 0;
    for (int l = 5; l <= 35; ++l) {
      int64_t sum = 0;
      for (int i = 0; i < 25; ++i) sum += dd[i] * dd[i + l];
      if (sum > peakSum) peakSum = sum, peakLag = l;
    }
    ASSERT_EQ(k::decimatedPeakLag_avx2(dd), most <= 9268 ? peakLag : 0) << rep;
    ASSERT_EQ(k::decimatedPeakLag_scalar(dd), 0);
    // Pitch correlations, eight lags over 100 samples: the 32-bit runs
    // (small words), the widened blocks (loud) and the wide form (-32768).
    int16_t pf[240];
    for (auto& v : pf) v = rep % 4 == 3 ? word(32767) : word(rep % 4 == 0 ? 32766 : lim);
    const int plo = static_cast<int>(rng() % 134);
    int64_t pc[8];
    k::pitchCorrelations_avx2(pf, plo, pc);
    for (int l = 0; l < 8; ++l) {
      int64_t sum = 0;
      for (int i = 0; i < 100; ++i) sum += pf[i] * pf[i + plo + l];
      ASSERT_EQ(pc[l], sum) << rep << " lag " << plo + l;
    }
    // Window scaling: every shift from 15 places up to past 30 down, full-scale words.
    int16_t hist[40], win[40], wa[40], wb[40];
    int8_t sh[40];
    for (int i = 0; i < 40; ++i) hist[i] = word(32767), win[i] = word(lim), sh[i] = static_cast<int8_t>(int(rng() % 47) - 15);
    k::windowBlocks_scalar(hist, win, sh, 1 + rep % 40, wa);
    k::windowBlocks_avx2(hist, win, sh, 1 + rep % 40, wb);
    ASSERT_EQ(std::vector<int16_t>(wa, wa + 1 + rep % 40), std::vector<int16_t>(wb, wb + 1 + rep % 40)) << rep;
    // Hybrid-window lags: wide correlations, shifts past 63, every
    // normalisation count (saturation both ways, the factors 2^31 and -2^31).
    int64_t bc[58], nc[58];
    int16_t rxa[58], rxb[58], ca[58], cb[58];
    for (int i = 0; i < 54; ++i) {
      bc[i] = static_cast<int64_t>(int64_t(rng()) << 3) - (int64_t{1} << 34);
      nc[i] = static_cast<int64_t>(int64_t(rng()) << (rep % 4)) - (int64_t{1} << 31);
      rxa[i] = rxb[i] = word(32767);
    }
    const k::LagScaling ls{rep % 2 ? 49152 : 32768, 1 + int(rng() % 70), 1 + int(rng() % 40), 1 + int(rng() % 70),
                           1 + int(rng() % 40), int(rng() % 65) - 33, rep % 7 ? int(rng() % 32) : int(rng() % 65) - 33};
    const int lags = 1 + rep % 50;
    ASSERT_EQ(k::hybridLags_scalar(ls, bc, nc, lags, rxa, ca), k::hybridLags_avx2(ls, bc, nc, lags, rxb, cb)) << rep;
    ASSERT_EQ(std::vector<int16_t>(rxa + 1, rxa + lags + 1), std::vector<int16_t>(rxb + 1, rxb + lags + 1)) << rep;
    ASSERT_EQ(std::vector<int16_t>(ca + 1, ca + lags + 1), std::vector<int16_t>(cb + 1, cb + lags + 1)) << rep;
    // The same in 32-bit lanes on 32-bit correlations (both limits among
    // them); the words past the last lag come back as they were.
    int32_t bn[58], nn[58];
    int16_t rxn[58], cn[58];
    for (int i = 0; i < 58; ++i) {
      bn[i] = rep % 5 == 0 ? (rng() % 2 ? INT32_MAX : INT32_MIN) : static_cast<int32_t>(rng());
      nn[i] = rep % 5 == 1 ? (rng() % 2 ? INT32_MAX : INT32_MIN) : static_cast<int32_t>(rng()) >> (rep % 4);
      bc[i] = bn[i], nc[i] = nn[i];
      rxa[i] = rxn[i] = word(32767);
    }
    ASSERT_EQ(k::hybridLags_scalar(ls, bc, nc, lags, rxa, ca), k::hybridLagsNarrow_avx2(ls, bn, nn, lags, rxn, cn)) << rep;
    ASSERT_EQ(std::vector<int16_t>(rxa + 1, rxa + 58), std::vector<int16_t>(rxn + 1, rxn + 58)) << rep;
    ASSERT_EQ(std::vector<int16_t>(ca + 1, ca + lags + 1), std::vector<int16_t>(cn + 1, cn + lags + 1)) << rep;
    // Pole-zero filter over runs past its 32-sample chunks, full-scale coefficients.
    int16_t pzc[20], xma[10], yma[10], xmb[10], ymb[10], pin[70], pya[70], pyb[70];
    for (auto& v : pzc) v = word(lim);
    for (int i = 0; i < 10; ++i) xma[i] = xmb[i] = word(32767), yma[i] = ymb[i] = word(32767);
    for (auto& v : pin) v = word(32767);
    k::poleZeroRun_scalar(pzc, xma, yma, pin, pya, 1 + rep % 70, 1);
    k::poleZeroRun_avx2(pzc, xmb, ymb, pin, pyb, 1 + rep % 70, 1);
    ASSERT_EQ(std::vector<int16_t>(pya, pya + 1 + rep % 70), std::vector<int16_t>(pyb, pyb + 1 + rep % 70)) << rep;
    ASSERT_EQ(std::vector<int16_t>(yma, yma + 10), std::vector<int16_t>(ymb, ymb + 10)) << rep;
    // Pole-zero tap sums: full-scale words, pole coefficients down to -32767
    // (the vector form's extremes) and, every third round, -32768 as well.
    int16_t tc[10], td[10], tx[24], ty[24];
    int64_t tsa[5], tsb[5];
    for (int i = 0; i < 10; ++i) tc[i] = word(32767), td[i] = rep % 3 ? std::max<int16_t>(word(32767), -32767) : word(lim);
    for (int i = 0; i < 24; ++i) tx[i] = word(32767), ty[i] = word(32767);
    k::tapSums_scalar(tc, tx, td, ty, tsa);
    k::tapSums_avx2(tc, tx, td, ty, tsb);
    ASSERT_EQ(std::vector<int64_t>(tsa, tsa + 5), std::vector<int64_t>(tsb, tsb + 5)) << rep;
    k::tapSums_scalar(tc, tx, nullptr, nullptr, tsa);  // zero section alone
    k::tapSums_avx2(tc, tx, nullptr, nullptr, tsb);
    ASSERT_EQ(std::vector<int64_t>(tsa, tsa + 5), std::vector<int64_t>(tsb, tsb + 5)) << rep;
    const int n = 1 + rep % 49;
    int16_t a[66], back[66];  // room for the words the vector forms read past n
    for (int i = 0; i < 66; ++i) a[i] = word(lim), back[i] = word(lim);
    ASSERT_EQ(k::predictorError_scalar(a, back, n), k::predictorError_avx2(a, back, n)) << rep;
    // The update reads zeros around the predictor (16 words each side).
    int16_t pred[96] = {}, na[64], nb[64];
    std::copy(a, a + n, pred + 16);
    int top = 0;
    for (int i = 0; i < n; ++i) top = std::max(top, std::abs(int{a[i]}));
    const int32_t rcMax = static_cast<int32_t>(std::min<int64_t>(65536, ((int64_t{1} << 31) - 1) / std::max(top, 1) - 65536));
    if (rcMax < 0) continue;
    int32_t rc = static_cast<int32_t>(rng() % (2 * uint32_t(rcMax) + 1)) - rcMax;
    if (rep % 2) rc -= rc % 2;  // the even values the recursion forms
    if (rep % 7 == 3) {  // sums 2^31 - 2^15 and -2^31 + 2^15: upper halves at 32767 / -32768 with a rounding bit
      for (int i = 0; i < n; ++i) pred[16 + i] = rng() % 2 ? 16384 : -16384;
      rc = rep % 2 ? 65534 : -65534;
    }
    int64_t sumA = 0, sumB = 1;
    ASSERT_EQ(k::updatePredictor_scalar(pred + 16, na, n, rc, lpc, &sumA), k::updatePredictor_avx2(pred + 16, nb, n, rc, lpc, &sumB)) << rep;
    ASSERT_EQ(sumA, sumB) << rep;
    ASSERT_EQ(std::vector<int16_t>(na, na + n), std::vector<int16_t>(nb, nb + n)) << rep;
  }
}

// The whole recursion, vector against scalar, on the correlations of every
// input family (long recursions, halvings of the predictor, -32768 words,
// ill-conditioned stops) from scratch and continued from order 10.
TEST(G728, LevinsonFormsAgree) {
  REQUIRE_AVX2();
  namespace k = voksc::g728;
  std::mt19937 rng(1728);
  for (int rep = 0; rep < 900; ++rep) {
    const vtest::Kind kind = vtest::kKinds[rep % 9];
    int16_t x[160];
    vtest::fill(rng, kind, x, 160);
    if (rep % 3 == 2) {  // sharp resonances: predictor words past 2.0, so halvings
      const double w = 0.05 + (rng() % 1000) * 0.0028, rho = 0.95 + (rng() % 1000) * 0.00005;
      double y1 = 0, y2 = 0;
      for (auto& v : x) {
        const double y = 2 * rho * std::cos(w) * y1 - rho * rho * y2 + v / 64.0;
        y2 = y1, y1 = y;
        v = static_cast<int16_t>(std::clamp(y, -32768.0, 32767.0));
      }
    }
    if (rep % 4 == 1) x[rng() % 160] = -32768;
    int64_t c[51];
    for (int lag = 0; lag <= 50; ++lag) {
      c[lag] = 0;
      for (int j = 0; j + lag < 160; ++j) c[lag] += int64_t{x[j]} * x[j + lag];
    }
    c[0] += c[0] >> (rep % 3 == 0 ? 20 : 8);  // white-noise corrections, none to 1/256
    int shift = 0;
    while ((c[0] >> shift) > 32767) ++shift;
    int16_t r[51];
    for (int lag = 0; lag <= 50; ++lag) r[lag] = static_cast<int16_t>(std::clamp<int64_t>(c[lag] >> shift, -32768, 32767));
    if (rep % 5 == 4) r[1 + rng() % 50] = static_cast<int16_t>(rep % 2 ? -32768 : 32767);
    for (int from : {0, 10}) {
      int16_t a[67] = {}, b[67] = {};
      int64_t ea = 0, eb = 0;
      int ha = 0, hb = 0;
      if (from) {
        if (!k::levinsonOrders_scalar(r, 0, 10, a, &ea, &ha)) break;
        std::copy(a, a + 10, b);
        eb = ea, hb = ha;
      }
      const bool okA = k::levinsonOrders_scalar(r, from, 50, a, &ea, &ha);
      ASSERT_EQ(okA, k::levinsonOrders_avx2(r, from, 50, b, &eb, &hb)) << rep;
      if (!okA) continue;
      ASSERT_EQ(std::vector<int16_t>(a, a + 50), std::vector<int16_t>(b, b + 50)) << rep;
      ASSERT_EQ(ea, eb) << rep;
      ASSERT_EQ(ha, hb) << rep;
    }
  }
}

// Both window correlations in 32-bit lanes against plain wide sums, for the
// three windows' shapes: every input family, and energies at the 2^31 bound
// (full-scale and -32768 words), where the vector form must decline.
TEST(G728, WindowCorrelationsAgree) {
  REQUIRE_AVX2();
  namespace k = voksc::g728;
  std::mt19937 rng(2728);
  // The three windows' shapes (chunk counts fixed in the vector form) and one counted at run time.
  const int shapes[4][4] = {{105, 35, 20, 52}, {34, 20, 4, 12}, {60, 30, 20, 12}, {70, 18, 40, 16}};
  int taken = 0;
  for (int rep = 0; rep < 600; ++rep) {
    const int* sh = shapes[(rep / 4) % 4];
    const int total = sh[0], nonr = sh[1], block = sh[2], count = sh[3];
    std::vector<int16_t> ws(static_cast<std::size_t>(total + k::kWindowSpare), 0);
    vtest::fill(rng, vtest::kKinds[(rep / 3) % 9], ws.data(), total);
    if (rep % 4 == 1) {  // at most a few full-scale words in silence: energies around 2^31
      std::fill(ws.begin(), ws.begin() + total, int16_t{0});
      ws[rng() % total] = -32768;
      ws[rng() % total] = static_cast<int16_t>(rep % 8 == 1 ? -32768 : 32767 - int(rng() % 3));
    }
    int64_t energy = 0;
    for (int i = 0; i < total; ++i) energy += int64_t{ws[i]} * ws[i];
    int32_t nc[64], bc[64];
    const bool ok = k::windowCorrelations_avx2(ws.data(), total, nonr, block, count, nc, bc);
    ASSERT_EQ(ok, energy < (int64_t{1} << 31)) << rep;
    if (!ok) continue;
    ++taken;
    for (int lag = 0; lag < count; ++lag) {
      int64_t n = 0, b = 0;
      for (int j = 0; j < nonr; ++j) n += int64_t{ws[j]} * ws[j + lag];
      for (int j = nonr; j < nonr + block; ++j) b += int64_t{ws[j]} * ws[j + lag];
      ASSERT_EQ(nc[lag], n) << rep << " lag " << lag;
      ASSERT_EQ(bc[lag], b) << rep << " lag " << lag;
    }
  }
  EXPECT_GT(taken, 100);
}

}  // namespace
