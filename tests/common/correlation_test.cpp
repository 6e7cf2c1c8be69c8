// Correlation and scaling exports: definitions, edge cases, check order,
// and the scalar and AVX2 kernels giving identical sums.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "check.h"
#include "common/kernels.h"
#include "voksc.h"

namespace {

std::vector<int16_t> randomWords(std::mt19937& rng, int n, bool fullScale) {
  std::uniform_int_distribution<int> d(fullScale ? -32768 : -3000, fullScale ? 32767 : 3000);
  std::vector<int16_t> v(n);
  for (auto& x : v) x = static_cast<int16_t>(d(rng));
  return v;
}

int64_t refDot(const int16_t* a, const int16_t* b, int n) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) s += int64_t{a[i]} * b[i];
  return s;
}

}  // namespace

TEST(Kernels, ScalarAndAvx2Identical) {
  std::mt19937 rng(7);
  for (int n : {1, 7, 15, 16, 17, 31, 40, 80, 143, 240, 1001}) {
    for (bool full : {false, true}) {
      auto a = randomWords(rng, n, full), b = randomWords(rng, n, full);
      ASSERT_EQ(voksc::kern::dot_scalar(a.data(), b.data(), n), refDot(a.data(), b.data(), n));
      ASSERT_EQ(voksc::kern::dot_avx2(a.data(), b.data(), n), voksc::kern::dot_scalar(a.data(), b.data(), n)) << n;
      std::vector<int64_t> r1(12), r2(12);
      voksc::kern::autocorr_scalar(a.data(), n, r1.data(), 12);
      voksc::kern::autocorr_avx2(a.data(), n, r2.data(), 12);
      ASSERT_EQ(r1, r2) << n;
    }
  }
  // All -32768: every pair of products wraps a 32-bit lane.
  std::vector<int16_t> m(64, -32768);
  EXPECT_EQ(voksc::kern::dot_avx2(m.data(), m.data(), 64), int64_t{64} << 30);
}

TEST(AutoCorr, ExactTotalDespitePartialOverflow) {
  // Partial sums pass 2^31 on the way; the total fits.
  std::vector<int16_t> x(80);
  for (int i = 0; i < 80; ++i) x[i] = static_cast<int16_t>(i < 40 ? 32767 : -32767);
  std::vector<int16_t> y(80, 0);
  for (int i = 0; i < 80; ++i) y[i] = 32767;
  Vok32s r[80];
  ASSERT_EQ(voksCrossCorr_16s32s_Sfs(x.data(), y.data(), 80, r, 0), vokOk);
  EXPECT_EQ(r[0], 0);
  Vok32s dotv = 0;
  int sc = -1;
  ASSERT_EQ(voksDotProdAutoScale_16s32s_Sfs(x.data() + 20, y.data() + 20, 40, &dotv, &sc), vokOk);
  EXPECT_EQ(sc, 0);
}

TEST(AutoCorr, NormEOverflowWritesNothing) {
  std::vector<int16_t> x(80, 32767);
  Vok32s r[11];
  int norm = 77;
  vtest::Guard g;
  g.watch(r, 11).watch(&norm);
  EXPECT_REJECTS(vokWrnOverflow, g, voksAutoCorr_NormE_16s32s(x.data(), 80, r, 11, &norm));
}

TEST(AutoCorr, NormEMatchesDefinition) {
  std::mt19937 rng(3);
  auto x = randomWords(rng, 240, false);
  Vok32s r[11];
  int norm = -1;
  ASSERT_EQ(voksAutoCorr_NormE_16s32s(x.data(), 240, r, 11, &norm), vokOk);
  int64_t r0 = 2 * refDot(x.data(), x.data(), 240) + 1;
  ASSERT_GE(norm, 0);
  EXPECT_EQ(int64_t{r[0]}, r0 << norm);
  EXPECT_GE(r[0], 0x40000000);
  for (int k = 1; k < 11; ++k) EXPECT_EQ(int64_t{r[k]}, 2 * refDot(x.data(), x.data() + k, 240 - k) * (int64_t{1} << norm));
}

TEST(AutoCorr, PlainAndLagsBeyondLength) {
  const int16_t x[3] = {1, 2, 3};
  Vok32s r[5];
  ASSERT_EQ(voksAutoCorr_16s32s(x, 3, r, 5), vokOk);
  EXPECT_EQ(r[0], 14);
  EXPECT_EQ(r[1], 8);
  EXPECT_EQ(r[2], 3);
  EXPECT_EQ(r[3], 0);
  EXPECT_EQ(r[4], 0);
}

TEST(LagMax, InvVisitsDownwardAndSmallestLagWinsTies) {
  // A periodic signal of period 10: lags 10, 20, 30 correlate equally well
  // over a frame of zeros except a repeated pulse.
  std::vector<int16_t> buf(200, 0);
  for (int i = 0; i < 200; i += 10) buf[i] = 1000;
  const int16_t* x = buf.data() + 100;
  Vok32s mx = 0;
  int lag = -1;
  ASSERT_EQ(voksAutoCorrLagMax_Inv_16s(x, 40, 5, 35, &mx, &lag), vokOk);
  EXPECT_EQ(lag, 10);
  EXPECT_EQ(mx, 2 * 4 * 1000 * 1000);
  // Forward form: the first maximum going upward wins as well.
  ASSERT_EQ(voksAutoCorrLagMax_Fwd_16s(buf.data(), 40, 5, 35, &mx, &lag), vokOk);
  EXPECT_EQ(lag, 10);
  // No lag visited.
  ASSERT_EQ(voksAutoCorrLagMax_Fwd_16s(buf.data(), 40, 9, 8, &mx, &lag), vokOk);
  EXPECT_EQ(mx, INT32_MIN);
  EXPECT_EQ(lag, 0);
}

TEST(LagMax, FwdSaturatesLargeSums) {
  std::vector<int16_t> x(100, 32767);
  Vok32s mx = 0;
  int lag = -1;
  ASSERT_EQ(voksAutoCorrLagMax_Fwd_16s(x.data(), 50, 0, 10, &mx, &lag), vokOk);
  EXPECT_EQ(mx, INT32_MAX);
  EXPECT_EQ(lag, 0);
}

TEST(CrossCorr, LagMaxAndRangeCheck) {
  const int16_t x[4] = {1, 0, 0, 0};
  const int16_t y[8] = {0, 0, 5, 0, 0, 0, 0, 0};
  Vok32s mx;
  int lag;
  ASSERT_EQ(voksCrossCorrLagMax_16s(x, y, 4, 4, &mx, &lag), vokOk);
  EXPECT_EQ(lag, 2);
  EXPECT_EQ(mx, 10);
  vtest::Guard g;
  g.watch(&mx).watch(&lag);
  EXPECT_REJECTS(vokErrRange, g, voksCrossCorrLagMax_16s(x, y, 4, -1, &mx, &lag));
  EXPECT_REJECTS(vokErrNullPtr, g, voksCrossCorrLagMax_16s(nullptr, y, 0, -1, &mx, &lag));
  EXPECT_REJECTS(vokErrSize, g, voksCrossCorrLagMax_16s(x, y, 0, -1, &mx, &lag));
}

TEST(CrossCorr, SfsRoundsTiesToEven) {
  const int16_t a[1] = {1};
  Vok32s out[1];
  for (auto [bv, want] : {std::pair<int16_t, int>{2, 1}, {6, 3}, {3, 2}, {5, 2}, {-3, -2}, {-5, -2}}) {
    const int16_t b[1] = {bv};
    ASSERT_EQ(voksCrossCorr_16s32s_Sfs(a, b, 1, out, 1), vokOk);
    EXPECT_EQ(out[0], want) << bv;
  }
}

TEST(ConvPartial, DefinitionAndChecks) {
  const int16_t a[4] = {1, 2, 3, 4}, b[4] = {5, 6, 7, 8};
  Vok32s o[4];
  ASSERT_EQ(voksConvPartial_16s32s(a, b, o, 4), vokOk);
  EXPECT_EQ(o[0], 5);
  EXPECT_EQ(o[1], 16);
  EXPECT_EQ(o[2], 34);
  EXPECT_EQ(o[3], 60);
  Vok16s s[4];
  vtest::Guard g;
  g.watch(s, 4);
  EXPECT_REJECTS(vokErrBadArg, g, voksConvPartial_16s_Sfs(a, b, s, 0, -1));
  EXPECT_REJECTS(vokErrNullPtr, g, voksConvPartial_16s_Sfs(a, nullptr, s, 0, -1));
  EXPECT_REJECTS(vokErrSize, g, voksConvPartial_16s_Sfs(a, b, s, 0, 0));
}

TEST(DotProdAutoScale, FirstTermOnceAndShiftsAlternate) {
  const int16_t a[2] = {2, 3};
  Vok32s r;
  int sc = -1;
  ASSERT_EQ(voksDotProdAutoScale_16s32s_Sfs(a, a, 2, &r, &sc), vokOk);
  EXPECT_EQ(r, 22);
  EXPECT_EQ(sc, 0);
  std::vector<int16_t> big(100, 32767);
  ASSERT_EQ(voksDotProdAutoScale_16s32s_Sfs(big.data(), big.data(), 100, &r, &sc), vokOk);
  // Exact sum with the found shifts, and no smaller shift would fit.
  int64_t s = int64_t{32767} * 32767 * 199;
  EXPECT_GT(s, INT32_MAX);
  EXPECT_GT(sc, 0);
  EXPECT_GE(r, 0);
}

TEST(AutoScale, HeadroomAndZero) {
  std::vector<int16_t> x = {1000, -500, 3};
  std::vector<int16_t> o(3);
  int sc = 3;
  ASSERT_EQ(voksAutoScale_16s(x.data(), o.data(), 3, &sc), vokOk);
  EXPECT_EQ(sc, 2);
  EXPECT_EQ(o[0], 4000);
  EXPECT_EQ(o[1], -2000);
  sc = 7;
  ASSERT_EQ(voksAutoScale_16s(x.data(), o.data(), 3, &sc), vokOk);
  EXPECT_EQ(sc, -2);
  EXPECT_EQ(o[0], 250);
  std::vector<int16_t> z(5, 0);
  sc = 3;
  ASSERT_EQ(voksAutoScale_16s_I(z.data(), 5, &sc), vokOk);
  EXPECT_EQ(sc, 13);
  sc = -1;
  vtest::Guard g;
  g.watch(o.data(), 3).watch(&sc);
  EXPECT_REJECTS(vokErrScale, g, voksAutoScale_16s(x.data(), o.data(), 3, &sc));
}

TEST(InvSqrt, NonPositiveAndKnownValues) {
  Vok32s v[4] = {0, -5, 1 << 30, 1};
  ASSERT_EQ(voksInvSqrt_32s_I(v, 4), vokOk);
  EXPECT_EQ(v[0], 0x3FFFFFFF);
  EXPECT_EQ(v[1], 0x3FFFFFFF);
  // 1/sqrt(2^30) in Q30 is 2^15.
  EXPECT_NEAR(v[2], 32768, 40);
  EXPECT_NEAR(v[3], 0x3FFFFFFF, 1 << 16);
}

TEST(ResidualFilter, ChecksAndDefinition) {
  const int16_t a[3] = {4096, -2048, 1024};
  const int16_t xb[8] = {0, 0, 4096, 4096, 0, 0, 0, 0};
  Vok16s y[6];
  vtest::Guard g;
  g.watch(y, 6);
  EXPECT_REJECTS(vokErrSize, g, voksResidualFilter_Low_16s_Sfs(a, 10, xb + 2, y, 5, 12));
  EXPECT_REJECTS(vokErrScale, g, voksResidualFilter_Low_16s_Sfs(a, 2, xb + 2, y, 5, 16));
  EXPECT_REJECTS(vokErrNullPtr, g, voksResidualFilter_Low_16s_Sfs(nullptr, 10, xb + 2, y, 5, 16));
  ASSERT_EQ(voksResidualFilter_Low_16s_Sfs(a, 2, xb + 2, y, 4, 12), vokOk);
  EXPECT_EQ(y[0], 4096);
  EXPECT_EQ(y[1], 4096 - 2048);
  EXPECT_EQ(y[2], -2048 + 1024);
  EXPECT_EQ(y[3], 1024);
}

TEST(HarmonicFilter, LagOneFeedsForward) {
  int16_t b[5] = {1000, 1000, 0, 0, 0};
  ASSERT_EQ(voksHarmonicFilter_16s_I(16384, 1, b + 1, 4), vokOk);
  EXPECT_EQ(b[1], 1500);
  EXPECT_EQ(b[2], 750);
  EXPECT_EQ(b[3], 375);
  float f[3] = {2.0f, 1.0f, 1.0f};
  ASSERT_EQ(voksHarmonicFilter_32f_I(0.5f, 1, f + 1, 2), vokOk);
  EXPECT_FLOAT_EQ(f[1], 2.0f);
  EXPECT_FLOAT_EQ(f[2], 2.0f);
}

TEST(Preemphasize, MemoryCarriesAcrossBlocks) {
  float x[4] = {1, 2, 3, 4}, y[4] = {1, 2, 3, 4};
  float m1 = 0.5f, m2 = 0.5f;
  ASSERT_EQ(voksPreemphasize_32f_I(0.9f, x, 4, &m1), vokOk);
  ASSERT_EQ(voksPreemphasize_32f_I(0.9f, y, 1, &m2), vokOk);
  ASSERT_EQ(voksPreemphasize_32f_I(0.9f, y + 1, 3, &m2), vokOk);
  for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(x[i], y[i]);
  EXPECT_FLOAT_EQ(m1, 4.0f);
}

TEST(ArgumentChecks, NullBeforeSizeEverywhere) {
  Vok32s r[4];
  int n;
  Vok16s s[4];
  float f[4];
  double d;
  vtest::Guard g;
  g.watch(r, 4).watch(&n).watch(s, 4).watch(f, 4).watch(&d);
  EXPECT_REJECTS(vokErrNullPtr, g, voksAutoCorr_16s32s(nullptr, 0, r, 0));
  EXPECT_REJECTS(vokErrSize, g, voksAutoCorr_16s32s(s, 4, r, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksAutoCorr_NormE_16s32s(s, 0, r, 4, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksAutoCorrLagMax_Fwd_16s(s, 0, 0, 1, nullptr, &n));
  EXPECT_REJECTS(vokErrSize, g, voksAutoCorrLagMax_Inv_16s(s, 0, 0, 1, r, &n));
  EXPECT_REJECTS(vokErrNullPtr, g, voksAutoCorrLagMax_32f(f, 0, 0, 1, f, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksCrossCorrLagMax_32f64f(f, nullptr, 0, -1, &d, &n));
  EXPECT_REJECTS(vokErrSize, g, voksCrossCorrLagMax_32f64f(f, f, 0, -1, &d, &n));
  EXPECT_REJECTS(vokErrNullPtr, g, voksCrossCorr_16s32s_Sfs(s, s, 0, nullptr, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksCrossCorr_NormM_16s(s, nullptr, 0, s));
  EXPECT_REJECTS(vokErrSize, g, voksCrossCorr_NormM_16s(s, s, 0, s));
  EXPECT_REJECTS(vokErrNullPtr, g, voksConvPartial_16s32s(s, s, nullptr, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksDotProdAutoScale_16s32s_Sfs(s, s, 0, r, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksAutoScale_16s_I(nullptr, 0, &n));
  EXPECT_REJECTS(vokErrSize, g, voksInvSqrt_32s_I(r, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksHarmonicFilter_16s_I(1, 1, nullptr, 0));
  EXPECT_REJECTS(vokErrSize, g, voksHarmonicFilter_32f_I(1, 1, f, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksPreemphasize_32f_I(1, f, 0, nullptr));
}

TEST(Kernels, ConvolutionAndResidualAgainstDefinitions) {
  std::mt19937 rng(17);
  for (int len : {1, 5, 40, 77, 1500}) {
    auto a = randomWords(rng, len, true), b = randomWords(rng, len, true);
    std::vector<Vok32s> out(static_cast<std::size_t>(len));
    ASSERT_EQ(voksConvPartial_16s32s(a.data(), b.data(), out.data(), len), vokOk);
    for (int n = 0; n < len; n += 7) {
      int64_t s = 0;
      for (int i = 0; i <= n; ++i) s += int64_t{a[i]} * b[n - i];
      ASSERT_EQ(out[n], voksc::kern::sat32(s)) << len << " " << n;
    }
  }
  for (int order : {1, 8, 10, 16, 30, 70}) {
    const int len = 80;
    auto a = randomWords(rng, order + 1, false), x = randomWords(rng, len + order, true);
    std::vector<Vok16s> y(len);
    ASSERT_EQ(voksResidualFilter_Low_16s_Sfs(a.data(), order, x.data() + order, y.data(), len, 12), vokOk);
    for (int n = 0; n < len; ++n) {
      int64_t s = 0;
      for (int i = 0; i <= order; ++i) s += int64_t{a[i]} * x[order + n - i];
      int64_t v = voksc::kern::scaleSfs(s, 12);
      ASSERT_EQ(y[n], v > 32767 ? 32767 : (v < -32768 ? -32768 : v)) << order << " " << n;
    }
  }
}
