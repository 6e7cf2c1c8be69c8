// The correlation kernels: the scalar forms against sums written out here in
// 64 bits, and the AVX2 forms against the scalar forms, bit for bit, on
// moderate signals (32-bit lane path), full-scale ones (64-bit lane path),
// sums that leave 32 bits part-way, and lengths around the vector width.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "common/kernels.h"
#include "levels.h"

namespace kern = voksc::kern;
using namespace vtest;

namespace {

using Words = std::vector<int16_t>;

int64_t direct(const int16_t* a, const int16_t* b, int n) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) s += int64_t{a[i]} * int64_t{b[i]};
  return s;
}

// Lengths below, at and around the 16-word vector and the codec frames, and
// past the frames the kernels copy into padded buffers.
const int kLengths[] = {1, 2, 3, 7, 8, 15, 16, 17, 19, 31, 32, 33, 40, 47, 60, 64, 79, 80, 81, 143, 160, 240, 257, 512, 515, 700};

}  // namespace

TEST(KernelDot, ScalarIsTheDefinitionAndAvx2Agrees) {
  REQUIRE_AVX2();
  std::mt19937 rng(11);
  for (Kind k : kKinds)
    for (int n : kLengths) {
      Words a = make(rng, n, k), b = make(rng, n, k);
      const int64_t want = direct(a.data(), b.data(), n);
      ASSERT_EQ(kern::dot_scalar(a.data(), b.data(), n), want);
      ASSERT_EQ(kern::dot_avx2(a.data(), b.data(), n), want) << n;
      for (auto [sa, sb] : {std::pair{0, 1}, {1, 0}, {3, 5}, {15, 15}}) {
        ASSERT_EQ(kern::dotShifted_scalar(a.data(), b.data(), n, sa, sb),
                  kern::dotShifted_avx2(a.data(), b.data(), n, sa, sb))
            << n << " " << sa << " " << sb;
      }
    }
}

TEST(KernelCorr, FixedLengthLagsAgree) {
  REQUIRE_AVX2();
  std::mt19937 rng(12);
  for (Kind k : kKinds)
    for (int n : kLengths)
      for (int count : {1, 3, 4, 5, 11, 64}) {
        Words a = make(rng, n, k), b = make(rng, n + count - 1, k);
        std::vector<int64_t> s(static_cast<std::size_t>(count)), v(s.size());
        kern::xcorr_scalar(a.data(), b.data(), n, count, s.data());
        kern::xcorr_avx2(a.data(), b.data(), n, count, v.data());
        for (int j = 0; j < count; ++j) ASSERT_EQ(s[j], direct(a.data(), b.data() + j, n)) << n << " " << j;
        ASSERT_EQ(v, s) << n << " " << count;
      }
}

TEST(KernelCorr, TruncatedLagsAndAutocorrelationAgree) {
  REQUIRE_AVX2();
  std::mt19937 rng(13);
  for (Kind k : kKinds)
    for (int len : kLengths) {
      Words a = make(rng, len, k), b = make(rng, len, k);
      for (auto [k0, count] : {std::pair{0, 11}, {0, len}, {1, 13}, {5, 40}, {len - 1, 4}, {len, 3}}) {
        if (k0 < 0) continue;
        std::vector<int64_t> s(static_cast<std::size_t>(count)), v(s.size()), ra(s.size()), rv(s.size());
        kern::xcorrTrunc_scalar(a.data(), b.data(), len, k0, count, s.data());
        kern::xcorrTrunc_avx2(a.data(), b.data(), len, k0, count, v.data());
        for (int j = 0; j < count; ++j) {
          const int lag = k0 + j;
          ASSERT_EQ(s[j], lag < len ? direct(a.data(), b.data() + lag, len - lag) : 0);
        }
        ASSERT_EQ(v, s) << len << " " << k0 << " " << count;
        kern::xcorrTrunc_scalar(a.data(), a.data(), len, k0, count, ra.data());
        kern::xcorrTrunc_avx2(a.data(), a.data(), len, k0, count, rv.data());
        ASSERT_EQ(rv, ra) << len << " " << k0;
      }
    }
}

TEST(KernelCorr, NarrowPathAtItsEnergyBound) {
  REQUIRE_AVX2();
  // Two full-scale samples: energy 2 * 32767^2 < 2^31 keeps the 32-bit lanes;
  // with -32768 the energy is 2^31 and the wide path must take over.
  for (int16_t big : {int16_t{32767}, int16_t{-32768}}) {
    Words x(40, 0);
    x[3] = big;
    x[20] = big;
    std::vector<int64_t> s(24), v(24);
    kern::xcorrTrunc_scalar(x.data(), x.data(), 40, 0, 24, s.data());
    kern::xcorrTrunc_avx2(x.data(), x.data(), 40, 0, 24, v.data());
    EXPECT_EQ(v, s);
    EXPECT_EQ(v[0], 2 * int64_t{big} * big);
    EXPECT_EQ(v[17], int64_t{big} * big);
  }
}

TEST(KernelConv, PartialConvolutionAgrees) {
  REQUIRE_AVX2();
  std::mt19937 rng(14);
  for (Kind k : kKinds)
    for (int len : kLengths) {
      Words a = make(rng, len, k), b = make(rng, len, k);
      for (auto [n0, count] : {std::pair{0, len}, {0, 1}, {len / 2, len - len / 2}, {len - 1, 1}}) {
        std::vector<int64_t> s(static_cast<std::size_t>(count)), v(s.size());
        kern::convPartial_scalar(a.data(), b.data(), n0, count, s.data());
        kern::convPartial_avx2(a.data(), b.data(), n0, count, v.data());
        for (int j = 0; j < count; ++j) {
          int64_t want = 0;
          for (int i = 0; i <= n0 + j; ++i) want += int64_t{a[i]} * b[n0 + j - i];
          ASSERT_EQ(s[j], want);
        }
        ASSERT_EQ(v, s) << len << " " << n0 << " " << count;
      }
    }
}

TEST(KernelResidual, AllZeroFilterAgrees) {
  REQUIRE_AVX2();
  std::mt19937 rng(15);
  for (Kind k : kKinds)
    for (int order : {1, 2, 8, 10, 11, 16, 17, 30})
      for (int len : {order, 16, 17, 40, 41, 80, 163}) {
        if (len < order) continue;
        // Q12-like coefficients, and full-range ones for the wide path.
        Words a = make(rng, order + 1, k == Kind::Quiet ? Kind::Speechlike : k);
        Words xb = make(rng, len + order, k);
        const int16_t* x = xb.data() + order;
        for (int scale : {0, 1, 3, 12, 15, -2}) {
          Words ys(static_cast<std::size_t>(len)), yv(ys.size());
          kern::residual_scalar(a.data(), order, x, ys.data(), len, scale);
          kern::residual_avx2(a.data(), order, x, yv.data(), len, scale);
          for (int n = 0; n < len; ++n) {
            int64_t s = 0;
            for (int i = 0; i <= order; ++i) s += int64_t{a[i]} * x[n - i];
            ASSERT_EQ(ys[n], kern::sat16(kern::scaleSfs(s, scale)));
          }
          ASSERT_EQ(yv, ys) << order << " " << len << " " << scale;
        }
      }
}

TEST(KernelResidual, RoundingTiesInTheVectorPath) {
  REQUIRE_AVX2();
  // Sums of k * 2048 with scale 12 land on every half-way point; quiet
  // samples keep the 32-bit lane path.
  Words a = {2048, 0, 0}, xb(2 + 48);
  for (int i = 0; i < 50; ++i) xb[i] = static_cast<int16_t>(i - 25);
  Words ys(48), yv(48);
  kern::residual_scalar(a.data(), 2, xb.data() + 2, ys.data(), 48, 12);
  kern::residual_avx2(a.data(), 2, xb.data() + 2, yv.data(), 48, 12);
  EXPECT_EQ(yv, ys);
  // x = -23 .. 24: half-values -11.5 -> -12, -10.5 -> -10, 0.5 -> 0, 1.5 -> 2.
  EXPECT_EQ(ys[0], -12);
  EXPECT_EQ(ys[1], -11);
  EXPECT_EQ(ys[2], -10);
  EXPECT_EQ(ys[24], 0);
  EXPECT_EQ(ys[26], 2);
}

TEST(KernelLagMax, SearchesAgree) {
  REQUIRE_AVX2();
  std::mt19937 rng(16);
  for (Kind k : kKinds)
    for (int len : {1, 15, 40, 80, 81}) {
      const int hist = 300;
      Words buf = make(rng, hist + len + hist, k);
      const int16_t* x = buf.data() + hist;
      for (auto [lo, hi] : {std::pair{20, 143}, {0, 0}, {80, 143}, {5, 4}, {1, 290}}) {
        auto p1 = kern::lagMaxPast_scalar(x, len, lo, hi), p2 = kern::lagMaxPast_avx2(x, len, lo, hi);
        ASSERT_EQ(p1.value, p2.value);
        ASSERT_EQ(p1.lag, p2.lag);
        auto f1 = kern::lagMaxFuture_scalar(x, len, lo, hi), f2 = kern::lagMaxFuture_avx2(x, len, lo, hi);
        ASSERT_EQ(f1.value, f2.value);
        ASSERT_EQ(f1.lag, f2.lag);
        auto c1 = kern::lagMaxCross_scalar(x, x + 1, len, hi), c2 = kern::lagMaxCross_avx2(x, x + 1, len, hi);
        ASSERT_EQ(c1.value, c2.value);
        ASSERT_EQ(c1.lag, c2.lag);
      }
    }
}
