// Noise-reduction vector operations: the rounding convention and its
// saturation exceptions, the check order of every export, and the scalar
// and AVX2 kernels.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "check.h"
#include "common/kernels.h"
#include "nr/nr_internal.h"
#include "voksc.h"
#include "levels.h"

namespace {
using V = std::vector<int>;
template <class T>
V v(const T* p, int n) {
  return V(p, p + n);
}
}  // namespace

TEST(NrProducts, MulRoundingAndTheOneWrappingCase) {
  const Vok16s a[5] = {-32768, 3, 32767, -5, -32768}, b[5] = {-32768, 5, 32767, 3, 32767};
  Vok16s d[5];
  // Per scale: the five products.  At sf 15, 2^30 rounded is 32768 and wraps
  // instead of saturating; every other scale saturates; sf 0 is the
  // saturated plain product; halves round up.
  struct {
    int sf;
    V want;
  } const rows[] = {{15, {-32768, 0, 32766, 0, -32767}}, {14, {32767, 0, 32767, 0, -32768}},
                    {0, {32767, 15, 32767, -15, -32768}}, {2, {32767, 4, 32767, -4, -32768}},
                    {31, {1, 0, 0, 0, 0}},                 {40, {0, 0, 0, 0, 0}}};
  for (const auto& r : rows) {
    ASSERT_EQ(voksMul_NR_16s_Sfs(a, b, d, 5, r.sf), vokOk);
    EXPECT_EQ(v(d, 5), r.want) << "sf " << r.sf;
  }
  Vok16s in[5];
  std::memcpy(in, b, sizeof in);
  ASSERT_EQ(voksMul_NR_16s_ISfs(a, in, 5, 15), vokOk);
  EXPECT_EQ(v(in, 5), rows[0].want);
  Vok16s c[3] = {7, -7, 32767};
  ASSERT_EQ(voksMulC_NR_16s_ISfs(3, c, 3, 1), vokOk);
  EXPECT_EQ(v(c, 3), V({11, -10, 32767}));  // +-21 / 2 rounded up
  const Vok16s m[2] = {-32768, 100};
  ASSERT_EQ(voksMulC_NR_16s_Sfs(m, -32768, d, 2, 15), vokOk);
  EXPECT_EQ(v(d, 2), V({-32768, -100}));
}

TEST(NrProducts, MulPowerC) {
  const Vok16s x[4] = {100, 16384, 16384, 16384};
  Vok16s d[4] = {0, 0, 0, 0};
  ASSERT_EQ(voksMulPowerC_NR_16s_Sfs(x, 16384, d, 1, 15), vokOk);
  EXPECT_EQ(v(d, 2), V({100, 0}));  // a length of 1 only copies
  ASSERT_EQ(voksMulPowerC_NR_16s_Sfs(x, 16384, d, 4, 15), vokOk);
  EXPECT_EQ(v(d + 1, 3), V({8192, 4096, 2048}));  // x c, x c^2, x c^3
  // At sf 15 the power (-32768)^2 wraps to -32768 instead of saturating.
  Vok16s w[3] = {5, 100, 100};
  ASSERT_EQ(voksMulPowerC_NR_16s_Sfs(w, -32768, w, 3, 15), vokOk);  // in place
  EXPECT_EQ(v(w, 3), V({5, -100, -100}));
  // Elsewhere both saturate: 2 * 2 at sf 0 and onwards (90000 saturated).
  const Vok16s ones[4] = {1, 1, 1, 1};
  ASSERT_EQ(voksMulPowerC_NR_16s_Sfs(ones, 300, d, 4, 0), vokOk);
  EXPECT_EQ(v(d + 1, 3), V({300, 32767, 32767}));
}

TEST(NrProducts, InterpolateC) {
  const Vok16s a[2] = {1000, -1}, b[2] = {2000, 0};
  Vok16s d[2];
  // Each constant counts as c 2^(sf - 16): with sf 0 both are 0.25 (-0.25
  // rounds half up to 0); the same weights with the first constant at sf 1,
  // in either order.
  ASSERT_EQ(voksInterpolateC_NR_16s(a, 16384, 0, b, 16384, 0, d, 2), vokOk);
  EXPECT_EQ(v(d, 2), V({750, 0}));
  ASSERT_EQ(voksInterpolateC_NR_16s(a, 8192, 1, b, 16384, 0, d, 1), vokOk);
  EXPECT_EQ(d[0], 750);
  ASSERT_EQ(voksInterpolateC_NR_16s(b, 16384, 0, a, 8192, 1, d, 1), vokOk);
  EXPECT_EQ(d[0], 750);
  // sf 16: integer weights, no rounding term, saturated.
  const Vok16s p[2] = {3, 20000}, q[2] = {4, 20000};
  ASSERT_EQ(voksInterpolateC_NR_16s(p, 2, 16, q, 5, 16, d, 2), vokOk);
  EXPECT_EQ(v(d, 2), V({26, 32767}));
}

TEST(NrCorrelation, HarmonicFilterTruncatesAndWraps) {
  Vok16s src[8] = {1000, -3, 32767, 0, 10, 10, 32767, 5}, d[5];
  // x[n] + (gain x[n - 3]) >> 15 from the source's history (-3 / 2
  // truncated to -2); 32767 + 32766 wraps.
  ASSERT_EQ(voksHarmonicFilter_NR_16s(16384, 3, src + 3, d, 5), vokOk);
  EXPECT_EQ(v(d, 3), V({500, 10 - 2, 10 + 16383}));
  ASSERT_EQ(voksHarmonicFilter_NR_16s(32767, 4, src + 4, d, 4), vokOk);
  EXPECT_EQ(d[2], -3);
  // In place with the source as destination, as a codebook sharpens its
  // impulse response: each result feeds the later ones.
  Vok16s h[40], want[40];
  for (int i = 0; i < 40; ++i) want[i] = h[i] = static_cast<Vok16s>(4096 - 100 * i);
  const int lag = 7;
  for (int i = lag; i < 40; ++i) want[i] = static_cast<Vok16s>(want[i] + ((13107 * want[i - lag]) >> 15));
  ASSERT_EQ(voksHarmonicFilter_NR_16s(13107, lag, h + lag, h + lag, 40 - lag), vokOk);
  EXPECT_EQ(v(h, 40), v(want, 40));
}

TEST(NrCorrelation, PartialConvolutions) {
  const Vok16s h[3] = {4096, 2048, 0}, s[3] = {100, 200, 300};
  Vok16s full[6], low[6];
  ASSERT_EQ(voksConvPartial_NR_16s(s, h, full, 3), vokOk);
  ASSERT_EQ(voksConvPartial_NR_Low_16s(s, h, low, 3), vokOk);
  EXPECT_EQ(v(full, 3), V({100, 250, 400}));
  EXPECT_EQ(v(low, 3), V({100, 250, 400}));
  const Vok16s one[1] = {1}, neg[1] = {-1}, half[1] = {2048};
  ASSERT_EQ(voksConvPartial_NR_16s(one, half, full, 1), vokOk);
  EXPECT_EQ(full[0], 1);  // 0.5 rounds up
  ASSERT_EQ(voksConvPartial_NR_16s(neg, half, full, 1), vokOk);
  EXPECT_EQ(full[0], 0);
  // Three products of 2^30 saturate the Low form's running sum; the full
  // form keeps the exact total (98304 >> 12 = 24).
  const Vok16s a[6] = {-32768, -32768, -32768, -32768, -32768, -32768};
  const Vok16s b[6] = {32767, 32767, 32767, -32768, -32768, -32768};
  ASSERT_EQ(voksConvPartial_NR_16s(a, b, full, 6), vokOk);
  ASSERT_EQ(voksConvPartial_NR_Low_16s(a, b, low, 6), vokOk);
  EXPECT_EQ(V({full[5], low[5]}), V({24, -32768}));
}

TEST(NrCorrelation, CrossCorrelations) {
  const Vok16s a[3] = {1, 2, 3}, b[5] = {4, 5, 6, 7, 8};
  Vok32s c32[3];
  ASSERT_EQ(voksCrossCorr_NR_16s32s(a, b, 3, c32, 3), vokOk);
  EXPECT_EQ(v(c32, 3), V({4 + 10 + 18, 5 + 12 + 21, 6 + 14 + 24}));
  Vok16s c16[3];
  ASSERT_EQ(voksCrossCorr_NR_16s_Sfs(a, b, 3, c16, 3, 1), vokOk);
  EXPECT_EQ(v(c16, 2), V({16, 19}));
  ASSERT_EQ(voksCrossCorr_NR_16s_Sfs(a, b, 3, c16, 3, -2), vokOk);
  EXPECT_EQ(c16[0], 128);  // a negative scale multiplies
  const Vok16s big[3] = {-32768, -32768, -32768};
  ASSERT_EQ(voksCrossCorr_NR_16s32s(big, big, 3, c32, 1), vokOk);
  EXPECT_EQ(c32[0], 0x7FFFFFFF);
  ASSERT_EQ(voksCrossCorr_NR_16s(big, big, 3, c16, 1), vokOk);
  EXPECT_EQ(c16[0], 32767);
  const Vok16s q[2] = {16384, 16384};
  ASSERT_EQ(voksCrossCorr_NR_16s(q, q, 2, c16, 1), vokOk);
  EXPECT_EQ(c16[0], 16384);  // 2 x 0.25 in Q15
  ASSERT_EQ(voksCrossCorr_NR_16s_Sfs(q, q, 2, c16, 1, 40), vokOk);
  EXPECT_EQ(c16[0], 0);
}

TEST(NrCorrelation, AutoCorrNormE) {
  // Silence; 2 E = 80000 normalised by 14 shifts (80000 << 14 >> 16, 30000
  // << 15 >> 16, ...); a full-scale energy saturates.
  const Vok16s z[4] = {}, x[4] = {100, 100, 100, 100}, full[4] = {32767, 32767, 32767, 32767};
  struct {
    const Vok16s* in;
    V want;  // shift, then the lags
  } const rows[] = {{z, {0, 0, 0, 0}}, {x, {14, 20000, 15000, 10000}}, {full, {0, 32767, 32767, 32767}}};
  for (const auto& r : rows) {
    Vok16s out[3];
    int sh = 9;
    ASSERT_EQ(voksAutoCorr_NormE_NR_16s(r.in, 4, out, 3, &sh), vokOk);
    EXPECT_EQ(V({sh, out[0], out[1], out[2]}), r.want);
  }
}

TEST(NrSynthesis, FormatsMemoryAndWarnings) {
  // 1/(1 - z^-1) in Q12 and in Q13: an integrator starting from the memory.
  const Vok16s a12[11] = {4096, -4096}, a13[11] = {8192, -8192};
  const Vok16s x[5] = {1, 2, 3, 4, 5};
  const V want = {11, 13, 16, 20, 25};
  Vok16s y[5], mem[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 10};
  ASSERT_EQ(voksSynthesisFilter_NR_16s_Sfs(a12, x, y, 5, 12, mem), vokOk);
  EXPECT_EQ(v(y, 5), want);
  EXPECT_EQ(v(mem + 4, 6), V({10, 11, 13, 16, 20, 25}));  // newest last
  for (int form = 0; form < 2; ++form) {  // Q13 in place, and the Low form
    Vok16s m[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 10}, yi[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(form ? voksSynthesisFilterLow_NR_16s_ISfs(a12, yi, 5, 12, m) : voksSynthesisFilter_NR_16s_ISfs(a13, yi, 5, 13, m),
              vokOk);
    EXPECT_EQ(v(yi, 5), want) << form;
    // An integrator driven to full scale saturates and says so.
    Vok16s loud[40], ms[10] = {};
    for (auto& s : loud) s = 30000;
    EXPECT_EQ(form ? voksSynthesisFilterLow_NR_16s_ISfs(a12, loud, 40, 12, ms) : voksSynthesisFilter_NR_16s_ISfs(a12, loud, 40, 12, ms),
              vokWrnOverflow);
    EXPECT_EQ(loud[39], 32767) << form;
  }
  // (The zero-state response and its warning: nr_golden_test.)
}

TEST(NrChecks, NullBeforeSizeBeforeScaleAndNothingWritten) {
  Vok16s d[8], x[8] = {}, a[11] = {4096}, mem[10] = {};
  Vok32s d32[4];
  int sh = 5;
  vtest::Guard g;
  g.watch(d, 8).watch(d32, 4).watch(&sh).watch(mem, 10);
  // The in-place forms pass their arguments to the out-of-place checks:
  // one null row each proves they do.
  EXPECT_NULLS_THEN(vokErrSize, g, voksMul_NR_16s_Sfs, x, x, d, 0, -1);
  EXPECT_REJECTS(vokErrScale, g, voksMul_NR_16s_Sfs(x, x, d, 4, -1));
  EXPECT_REJECTS(vokErrNullPtr, g, voksMul_NR_16s_ISfs(nullptr, d, 0, -1));
  EXPECT_NULLS_THEN(vokErrSize, g, voksMulC_NR_16s_Sfs, x, 1, d, 0, -1);
  EXPECT_REJECTS(vokErrScale, g, voksMulC_NR_16s_Sfs(x, 1, d, 4, -1));
  EXPECT_REJECTS(vokErrNullPtr, g, voksMulC_NR_16s_ISfs(1, nullptr, 0, -1));
  EXPECT_NULLS_THEN(vokErrScale, g, voksMulPowerC_NR_16s_Sfs, x, 1, d, 0, -1);  // scale before length here
  EXPECT_REJECTS(vokErrSize, g, voksMulPowerC_NR_16s_Sfs(x, 1, d, 0, 15));
  EXPECT_NULLS_THEN(vokErrSize, g, voksInterpolateC_NR_16s, x, 1, -1, x, 1, 0, d, 0);
  EXPECT_REJECTS(vokErrScale, g, voksInterpolateC_NR_16s(x, 1, 0, x, 1, -1, d, 4));
  EXPECT_NULLS_THEN(vokErrSize, g, voksHarmonicFilter_NR_16s, 1, 2, x + 2, d, 0);
  EXPECT_REJECTS(vokErrRange, g, voksHarmonicFilter_NR_16s(1, -3, x + 2, d, 2));
  EXPECT_NULLS_THEN(vokErrSize, g, voksConvPartial_NR_16s, x, x, d, 0);
  EXPECT_NULLS_THEN(vokErrSize, g, voksConvPartial_NR_Low_16s, x, x, d, -3);
  EXPECT_NULLS_THEN(vokErrSize, g, voksCrossCorr_NR_16s32s, x, x, 4, d32, 0);
  EXPECT_NULLS_THEN(vokErrSize, g, voksCrossCorr_NR_16s, x, x, 0, d, 1);
  EXPECT_NULLS_THEN(vokErrSize, g, voksCrossCorr_NR_16s_Sfs, x, x, 4, d, 0, 1);
  EXPECT_NULLS_THEN(vokErrSize, g, voksAutoCorr_NormE_NR_16s, x, 4, d, 0, &sh);
  EXPECT_NULLS_THEN(vokErrSize, g, voksSynthesisFilter_NR_16s_Sfs, a, x, d, 0, 14, mem);
  EXPECT_REJECTS(vokErrScale, g, voksSynthesisFilter_NR_16s_Sfs(a, x, d, 8, 14, mem));
  EXPECT_REJECTS(vokErrScale, g, voksSynthesisFilter_NR_16s_Sfs(a, x, d, 8, 11, mem));
  EXPECT_REJECTS(vokErrNullPtr, g, voksSynthesisFilter_NR_16s_ISfs(nullptr, d, 8, 12, mem));
  EXPECT_NULLS_THEN(vokErrSize, g, voksSynthesisFilterLow_NR_16s_ISfs, a, d, 0, 14, mem);
  EXPECT_REJECTS(vokErrScale, g, voksSynthesisFilterLow_NR_16s_ISfs(a, d, 8, 14, mem));
  EXPECT_NULLS_THEN(vokErrSize, g, voksSynthesisFilterZeroStateResponse_NR_16s, a, d, 0, 14);
  EXPECT_REJECTS(vokErrScale, g, voksSynthesisFilterZeroStateResponse_NR_16s(a, d, 8, 14));
}

// Both kernel forms on ragged-length vectors of every pair of input kinds.
TEST(NrKernels, ScalarAndAvx2Agree) {
  REQUIRE_AVX2();
  std::mt19937 rng(17);
  for (int t = 0; t < 400; ++t) {
    const int len = 1 + static_cast<int>(rng() % 100), lags = 1 + static_cast<int>(rng() % 20);
    const auto a = vtest::make(rng, len + lags, vtest::kKinds[t % 9]);
    const auto b = vtest::make(rng, len + lags, vtest::kKinds[t / 9 % 9]);
    for (int sf : {0, 1, 7, 12, 15, 16, 29, 30, 31, 33}) {
      std::vector<int16_t> d1(len), d2(len);
      voksc::nr::mul_scalar(a.data(), b.data(), d1.data(), len, sf);
      voksc::nr::mul_avx2(a.data(), b.data(), d2.data(), len, sf);
      ASSERT_EQ(d1, d2) << t << " sf " << sf;
      voksc::nr::mulC_scalar(a.data(), b[0], d1.data(), len, sf);
      voksc::nr::mulC_avx2(a.data(), b[0], d2.data(), len, sf);
      ASSERT_EQ(d1, d2) << t << " sf " << sf;
    }
    std::vector<int64_t> c1(lags), c2(lags);
    voksc::kern::xcorr_scalar(a.data(), b.data(), len, lags, c1.data());
    voksc::kern::xcorr_avx2(a.data(), b.data(), len, lags, c2.data());
    ASSERT_EQ(c1, c2) << t;
  }
}
