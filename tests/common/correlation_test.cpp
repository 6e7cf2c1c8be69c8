// Correlation and scaling exports: results against sums written out here in
// 64 bits, the saturation and tie rules, and the edge cases callers meet.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "check.h"
#include "levels.h"
#include "voksc.h"

namespace {

using Words = std::vector<int16_t>;
using V = std::vector<int64_t>;
template <class T>
V v(const T* p, int n) {
  return V(p, p + n);
}

int64_t sumProducts(const int16_t* a, const int16_t* b, int n) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) s += int64_t{a[i]} * b[i];
  return s;
}

int32_t sat32(int64_t v) { return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v)); }

// Division by 2^sf, rounding to nearest with ties to even, as real numbers.
int64_t divideTiesEven(int64_t r, int sf) {
  const int64_t d = int64_t{1} << sf;
  int64_t q = r >= 0 ? r / d : -((-r) / d);
  int64_t rem = r - q * d;
  if (rem < 0) {  // floor
    --q;
    rem += d;
  }
  if (2 * rem > d || (2 * rem == d && (q & 1))) ++q;
  return q;
}

}  // namespace

TEST(AutoCorr, PlainSumsSaturateAndStopAtTheFrame) {
  const int16_t x[3] = {1, 2, 3};
  Vok32s r[5];
  ASSERT_EQ(voksAutoCorr_16s32s(x, 3, r, 5), vokOk);
  EXPECT_EQ(v(r, 5), V({14, 8, 3, 0, 0}));
  // 240 full-scale samples: r[0] exceeds 32 bits; lag 1 alternates in sign.
  Words loud(240);
  for (int i = 0; i < 240; ++i) loud[i] = static_cast<int16_t>(i & 1 ? -32768 : 32767);
  Vok32s q[2];
  ASSERT_EQ(voksAutoCorr_16s32s(loud.data(), 240, q, 2), vokOk);
  EXPECT_EQ(v(q, 2), V({INT32_MAX, INT32_MIN}));
}

TEST(AutoCorr, ManyLagsOnLongFrames) {
  std::mt19937 rng(2);
  Words x = vtest::words(rng, 600, -32768, 32767);
  std::vector<Vok32s> r(700);
  ASSERT_EQ(voksAutoCorr_16s32s(x.data(), 600, r.data(), 700), vokOk);
  for (int k = 0; k < 700; ++k)
    ASSERT_EQ(r[k], k < 600 ? sat32(sumProducts(x.data(), x.data() + k, 600 - k)) : 0) << k;
}

TEST(AutoCorrNormE, DefinitionAcrossLengthsAndLags) {
  std::mt19937 rng(3);
  for (auto [len, lags] : {std::pair{240, 11}, {240, 13}, {40, 2}, {7, 12}, {300, 200}}) {
    Words x = vtest::words(rng, len, -2000, 2000);
    std::vector<Vok32s> r(static_cast<std::size_t>(lags));
    int norm = -1;
    ASSERT_EQ(voksAutoCorr_NormE_16s32s(x.data(), len, r.data(), lags, &norm), vokOk);
    const int64_t r0 = 2 * sumProducts(x.data(), x.data(), len) + 1;
    ASSERT_GE(norm, 0);
    EXPECT_EQ(int64_t{r[0]}, r0 << norm);
    EXPECT_GE(r[0], 0x40000000);  // normalised
    for (int k = 1; k < lags; ++k) {
      const int64_t c = k < len ? 2 * sumProducts(x.data(), x.data() + k, len - k) : 0;
      ASSERT_EQ(int64_t{r[k]}, c * (int64_t{1} << norm)) << len << " " << k;
    }
  }
}

TEST(AutoCorrNormE, EnergyLimitIsInclusive) {
  // 32767^2 + 255^2 + 22^2 + 5^2 = 0x3FFFFFFF: r0 = 2e + 1 = 0x7FFFFFFF.
  Words x = {32767, 255, 22, 5, 1};
  Vok32s r[2];
  int norm = -1;
  ASSERT_EQ(voksAutoCorr_NormE_16s32s(x.data(), 4, r, 2, &norm), vokOk);
  EXPECT_EQ(V({r[0], norm}), V({INT32_MAX, 0}));
  vtest::Guard g;
  g.watch(r, 2).watch(&norm);
  EXPECT_REJECTS(vokWrnOverflow, g, voksAutoCorr_NormE_16s32s(x.data(), 5, r, 2, &norm));
}

// Silence: r0 = 1, normalised by 30 (a full-scale frame warns: above).
TEST(AutoCorrNormE, SilenceNormalisesTheUnitEnergy) {
  Vok32s r[11];
  int norm = 77;
  Words z(80, 0);
  ASSERT_EQ(voksAutoCorr_NormE_16s32s(z.data(), 80, r, 11, &norm), vokOk);
  EXPECT_EQ(V({norm, r[0], r[10]}), V({30, 0x40000000, 0}));
}

TEST(LagMaxInv, SmallestLagWinsAmongEqualCorrelations) {
  // A pulse every 10 samples: lags 10, 20, 30 correlate equally.
  Words buf(200, 0);
  for (int i = 0; i < 200; i += 10) buf[i] = 1000;
  const int16_t* x = buf.data() + 100;
  Vok32s mx = 0;
  int lag = -1;
  ASSERT_EQ(voksAutoCorrLagMax_Inv_16s(x, 40, 5, 35, &mx, &lag), vokOk);
  EXPECT_EQ(V({lag, mx}), V({10, 2 * 4 * 1000 * 1000}));  // doubled, as the L_mac chain forms it
  // No lag visited: the start values.
  ASSERT_EQ(voksAutoCorrLagMax_Inv_16s(x, 40, 9, 8, &mx, &lag), vokOk);
  EXPECT_EQ(V({lag, mx}), V({8, INT32_MIN}));
}

TEST(LagMaxInv, AgreesWithTheDefinitionOverLongLagRanges) {
  std::mt19937 rng(4);
  for (int len : {40, 80, 97}) {
    Words buf = vtest::words(rng, 400 + len, -32768, 32767);
    const int16_t* x = buf.data() + 400;
    Vok32s mx;
    int lag;
    ASSERT_EQ(voksAutoCorrLagMax_Inv_16s(x, len, 3, 399, &mx, &lag), vokOk);
    int32_t best = INT32_MIN;
    int bestLag = 399;
    for (int t = 399; t >= 3; --t) {
      const int32_t c = sat32(2 * sumProducts(x, x - t, len));
      if (c >= best) {
        best = c;
        bestLag = t;
      }
    }
    EXPECT_EQ(V({lag, mx}), V({bestLag, best}));
  }
}

TEST(LagMaxFwd, ThirtyBitAccumulatorRule) {
  // 32767^2 + 255^2 + 22^2 + 5^2 = 0x3FFFFFFF: still doubled; one more
  // unit squared and the sum saturates instead.
  // Below -0x40000000: the bottom value, which does not replace the start
  // (only a strictly greater value does), so the lag stays 0.  Sums beyond
  // 32 bits before the doubling saturate the same way.
  const Words x = {32767, 255, 22, 5, 1}, n = {-32768, 32767, -32768}, loud(300, 32767);
  struct {
    const Words& in;
    int len, lo, hi;
    int64_t max, lag;
  } const rows[] = {{x, 4, 0, 0, 0x7FFFFFFE, 0}, {x, 5, 0, 0, INT32_MAX, 0}, {n, 2, 1, 1, INT32_MIN, 0}, {loud, 250, 0, 3, INT32_MAX, 0}};
  for (const auto& c : rows) {
    Vok32s mx;
    int lag = -1;
    ASSERT_EQ(voksAutoCorrLagMax_Fwd_16s(c.in.data(), c.len, c.lo, c.hi, &mx, &lag), vokOk);
    EXPECT_EQ(V({mx, lag}), V({c.max, c.lag})) << c.len;
  }
}

TEST(LagMaxFwd, FirstMaximumGoingUpAndEmptyRange) {
  Words buf(200, 0);
  for (int i = 0; i < 200; i += 10) buf[i] = 1000;
  Vok32s mx;
  int lag;
  ASSERT_EQ(voksAutoCorrLagMax_Fwd_16s(buf.data(), 40, 5, 35, &mx, &lag), vokOk);
  EXPECT_EQ(lag, 10);
  ASSERT_EQ(voksAutoCorrLagMax_Fwd_16s(buf.data(), 40, 9, 8, &mx, &lag), vokOk);
  EXPECT_EQ(V({mx, lag}), V({INT32_MIN, 0}));
}

TEST(LagMaxFloat, PastCorrelationAndTies) {
  float buf[60] = {};
  for (int i = 0; i < 60; i += 6) buf[i] = 1.0f;
  float mx = 0;
  int lag = -1;
  ASSERT_EQ(voksAutoCorrLagMax_32f(buf + 30, 30, 2, 30, &mx, &lag), vokOk);
  EXPECT_EQ(lag, 6);  // 6, 12, 18, ... tie: the smallest wins
  EXPECT_FLOAT_EQ(mx, 5.0f);
}

TEST(CrossCorrLagMax, StartsFromZeroAtLagMax) {
  const int16_t x[4] = {1, 0, 0, 0};
  const int16_t y[8] = {0, 0, 5, 0, 0, 5, 0, 0};
  Vok32s mx;
  int lag;
  ASSERT_EQ(voksCrossCorrLagMax_16s(x, y, 4, 4, &mx, &lag), vokOk);
  EXPECT_EQ(V({lag, mx}), V({2, 10}));  // lags 2 and 5 would tie; 5 is out of range
  const int16_t neg[8] = {-5, -5, -5, -5, -5, -5, -5, -5};
  ASSERT_EQ(voksCrossCorrLagMax_16s(x, neg, 4, 4, &mx, &lag), vokOk);
  EXPECT_EQ(V({lag, mx}), V({4, 0}));
  double dm;
  const float xf[2] = {1.0f, 2.0f}, yf[4] = {3.0f, 1.0f, 1.0f, 0.0f};
  ASSERT_EQ(voksCrossCorrLagMax_32f64f(xf, yf, 2, 2, &dm, &lag), vokOk);
  EXPECT_TRUE(lag == 0 && dm == 5.0) << lag << " " << dm;
}

TEST(CrossCorrSfs, ScaledSumsWithTiesToEven) {
  const int16_t a[1] = {1};
  Vok32s out[1];
  for (auto [bv, want] : {std::pair<int16_t, int>{2, 1}, {6, 3}, {3, 2}, {5, 2}, {-3, -2}, {-5, -2}, {-1, 0}}) {
    const int16_t b[1] = {bv};
    ASSERT_EQ(voksCrossCorr_16s32s_Sfs(a, b, 1, out, 1), vokOk);
    EXPECT_EQ(out[0], want) << bv;
  }
  std::mt19937 rng(5);
  for (int len : {1, 40, 60, 300})
    for (int scale : {0, 3, 12, 31, 40, -1, -20}) {
      Words x = vtest::words(rng, len, -32768, 32767), y = vtest::words(rng, len, -32768, 32767);
      std::vector<Vok32s> o(static_cast<std::size_t>(len));
      ASSERT_EQ(voksCrossCorr_16s32s_Sfs(x.data(), y.data(), len, o.data(), scale), vokOk);
      for (int n = 0; n < len; ++n) {
        const int64_t s = sumProducts(x.data(), y.data() + n, len - n);
        const int sf = scale > 31 ? 31 : (scale < -31 ? -31 : scale);
        const int64_t lim = int64_t{1} << 40;  // far beyond 32 bits: saturates
        const int64_t want = sf >= 0 ? divideTiesEven(s, sf)
                                     : (s > lim ? INT64_MAX : (s < -lim ? INT64_MIN : s * (int64_t{1} << -sf)));
        ASSERT_EQ(o[n], sat32(want)) << len << " " << scale << " " << n;
      }
    }
}

TEST(CrossCorrNormM, LargestMagnitudeKeeps13Bits) {
  std::mt19937 rng(6);
  for (int len : {1, 40, 64, 513, 700}) {
    Words a = vtest::words(rng, len, -4096, 4096), b = vtest::words(rng, len, -8000, 8000);
    std::vector<Vok16s> d(static_cast<std::size_t>(len));
    ASSERT_EQ(voksCrossCorr_NormM_16s(a.data(), b.data(), len, d.data()), vokOk);
    std::vector<int32_t> c(static_cast<std::size_t>(len));
    int64_t mx = 0;
    for (int n = 0; n < len; ++n) {
      c[n] = sat32(2 * sumProducts(a.data(), b.data() + n, len - n));
      mx = std::max<int64_t>(mx, c[n] < 0 ? -int64_t{c[n]} : c[n]);
    }
    int bits = 0;
    while ((int64_t{1} << bits) <= mx) ++bits;  // mx < 2^bits
    int shift = bits - 13;                      // largest magnitude below 2^13
    if (shift < 2) shift = 2;
    for (int n = 0; n < len; ++n) ASSERT_EQ(d[n], static_cast<int16_t>(c[n] >> shift)) << len << " " << n;
  }
  // All zero: shifted by 18, still zero.
  const int16_t z[3] = {0, 0, 0};
  Vok16s d[3] = {9, 9, 9};
  ASSERT_EQ(voksCrossCorr_NormM_16s(z, z, 3, d), vokOk);
  EXPECT_EQ(d[0], 0);
}

TEST(ConvPartial, DefinitionScalingAndSaturation) {
  const int16_t a[4] = {1, 2, 3, 4}, b[4] = {5, 6, 7, 8};
  Vok32s o[4];
  ASSERT_EQ(voksConvPartial_16s32s(a, b, o, 4), vokOk);
  EXPECT_EQ(v(o, 4), V({5, 16, 34, 60}));
  std::mt19937 rng(7);
  for (int len : {1, 40, 129, 300}) {
    Words x = vtest::words(rng, len, -32768, 32767), h = vtest::words(rng, len, -32768, 32767);
    std::vector<Vok32s> o32(static_cast<std::size_t>(len));
    std::vector<Vok16s> o16(o32.size());
    ASSERT_EQ(voksConvPartial_16s32s(x.data(), h.data(), o32.data(), len), vokOk);
    ASSERT_EQ(voksConvPartial_16s_Sfs(x.data(), h.data(), o16.data(), len, 15), vokOk);
    for (int n = 0; n < len; ++n) {
      int64_t s = 0;
      for (int i = 0; i <= n; ++i) s += int64_t{x[i]} * h[n - i];
      ASSERT_EQ(o32[n], sat32(s)) << len << " " << n;
      const int64_t q = divideTiesEven(s, 15);
      ASSERT_EQ(o16[n], q > 32767 ? 32767 : (q < -32768 ? -32768 : q)) << len << " " << n;
    }
  }
  // The G.729 case: 40 samples, scale 12; half-way values round to even.
  Words x(40, 0), h(40, 0);
  h[0] = 2048;
  for (int i = 0; i < 40; ++i) x[i] = static_cast<int16_t>(i - 20);
  Vok16s y[40];
  ASSERT_EQ(voksConvPartial_16s_Sfs(x.data(), h.data(), y, 40, 12), vokOk);
  // -20 * 2048 / 4096 = -10; -9.5 -> -10; -8.5 -> -8; 0.5 -> 0.
  EXPECT_EQ(V({y[0], y[1], y[3], y[21]}), V({-10, -10, -8, 0}));
}

TEST(DotProdAutoScale, FirstTermOnceAndAlternatingShifts) {
  const int16_t a[2] = {2, 3};
  Vok32s r;
  int sc = -1;
  ASSERT_EQ(voksDotProdAutoScale_16s32s_Sfs(a, a, 2, &r, &sc), vokOk);
  EXPECT_EQ(V({r, sc}), V({22, 0}));
  // Large sums: the total shift t splits as sb = ceil(t/2), sa = floor(t/2);
  // the result is the sum at that split and one shift less did not fit.
  std::mt19937 rng(8);
  for (int len : {100, 1000, 5000}) {
    Words x = vtest::words(rng, len, 20000, 32767), y = vtest::words(rng, len, -32768, -20000);
    ASSERT_EQ(voksDotProdAutoScale_16s32s_Sfs(x.data(), y.data(), len, &r, &sc), vokOk);
    auto sumAt = [&](int t) {
      const int sb = (t + 1) / 2, sa = t / 2;
      int64_t s = int64_t{x[0] >> sa} * (y[0] >> sb);
      for (int i = 1; i < len; ++i) s += 2 * int64_t{x[i] >> sa} * (y[i] >> sb);
      return s;
    };
    ASSERT_GT(sc, 0);
    EXPECT_EQ(r, sumAt(sc));
    EXPECT_LT(sumAt(sc - 1), INT32_MIN);
  }
}

TEST(AutoScale, HeadroomShiftsAndZeroBlocks) {
  // Input, headroom asked, the scale returned and the output; both forms.
  // Headroom 0 is full scale (norm_s of the largest magnitude); -32768
  // counts as 32767, so one bit of headroom halves it; zeros are written as
  // zeros with scale 16 - headroom; headroom beyond 15 leaves signs only.
  struct {
    Words in;
    int headroom, scale;
    Words out;
  } const rows[] = {{{1000, -500, 3}, 3, 2, {4000, -2000, 12}}, {{1000, -500, 3}, 7, -2, {250, -125, 0}},
                    {{1000, -500, 3}, 0, 5, {32000, -16000, 96}}, {{-32768, 5}, 1, -1, {-16384, 2}},
                    {Words(5, 0), 3, 13, Words(5, 0)},           {{-3, 3}, 40, 13 - 40, {-1, 0}}};
  for (const auto& c : rows) {
    const int n = static_cast<int>(c.in.size());
    Words o(c.in.size(), 77), io = c.in;
    int sc = c.headroom, isc = c.headroom;
    ASSERT_EQ(voksAutoScale_16s(c.in.data(), o.data(), n, &sc), vokOk);
    ASSERT_EQ(voksAutoScale_16s_I(io.data(), n, &isc), vokOk);
    EXPECT_EQ(V({sc, isc}), V({c.scale, c.scale})) << c.headroom;
    EXPECT_EQ(o, c.out) << c.headroom;
    EXPECT_EQ(io, c.out) << c.headroom;
  }
}

TEST(InvSqrt, NonPositiveInputsGiveTheLargestValue) {
  // Positive inputs: bit for bit in g729_reference_test and the math checksums.
  Vok32s v[3] = {0, -5, INT32_MIN};
  ASSERT_EQ(voksInvSqrt_32s_I(v, 3), vokOk);
  for (Vok32s r : v) EXPECT_EQ(r, 0x3FFFFFFF);
}

TEST(ResidualFilter, DefinitionWithHistoryAndRounding) {
  const int16_t a[3] = {4096, -2048, 1024};
  const int16_t xb[8] = {0, 0, 4096, 4096, 0, 0, 0, 0};
  Vok16s y[6];
  ASSERT_EQ(voksResidualFilter_Low_16s_Sfs(a, 2, xb + 2, y, 4, 12), vokOk);
  EXPECT_EQ(v(y, 4), V({4096, 4096 - 2048, -2048 + 1024, 1024}));
  std::mt19937 rng(9);
  for (int order : {8, 10, 16, 1, 33})
    for (int scale : {12, 0, 15, -3}) {
      const int len = 80;
      Words c = vtest::words(rng, order + 1, -8192, 8192), xh = vtest::words(rng, len + order, -32768, 32767);
      std::vector<Vok16s> out(len);
      ASSERT_EQ(voksResidualFilter_Low_16s_Sfs(c.data(), order, xh.data() + order, out.data(), len, scale), vokOk);
      for (int n = 0; n < len; ++n) {
        int64_t s = 0;
        for (int i = 0; i <= order; ++i) s += int64_t{c[i]} * xh[order + n - i];
        const int64_t q = scale >= 0 ? divideTiesEven(s, scale) : s * (int64_t{1} << -scale);
        ASSERT_EQ(out[n], q > 32767 ? 32767 : (q < -32768 ? -32768 : q)) << order << " " << scale << " " << n;
      }
    }
}

TEST(HarmonicFilter, RecursiveInOrderOfSamples) {
  int16_t b[5] = {1000, 1000, 0, 0, 0};
  ASSERT_EQ(voksHarmonicFilter_16s_I(16384, 1, b + 1, 4), vokOk);
  EXPECT_EQ(v(b + 1, 3), V({1500, 750, 375}));
  // Saturated, then -32768 + (32767 * 32767 >> 15) from the updated sample.
  int16_t s[3] = {32767, 32000, -32768};
  ASSERT_EQ(voksHarmonicFilter_16s_I(32767, 1, s + 1, 2), vokOk);
  EXPECT_EQ(v(s + 1, 2), V({32767, -2}));
  float f[3] = {2.0f, 1.0f, 1.0f};
  ASSERT_EQ(voksHarmonicFilter_32f_I(0.5f, 1, f + 1, 2), vokOk);
  EXPECT_EQ(std::vector<float>(f + 1, f + 3), std::vector<float>({2.0f, 2.0f}));
}

TEST(Preemphasize, MemoryCarriesAcrossBlocks) {
  float x[4] = {1, 2, 3, 4}, y[4] = {1, 2, 3, 4};
  float m1 = 0.5f, m2 = 0.5f;
  ASSERT_EQ(voksPreemphasize_32f_I(0.9f, x, 4, &m1), vokOk);
  ASSERT_EQ(voksPreemphasize_32f_I(0.9f, y, 1, &m2), vokOk);
  ASSERT_EQ(voksPreemphasize_32f_I(0.9f, y + 1, 3, &m2), vokOk);
  for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(x[i], y[i]);
  EXPECT_FLOAT_EQ(x[0], 1.0f - 0.9f * 0.5f);
  EXPECT_FLOAT_EQ(m1, 4.0f);
}
