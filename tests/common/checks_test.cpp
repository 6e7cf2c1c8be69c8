// Argument checks of the correlation and scaling exports: each pointer null
// gives -8 even when a length is bad too, then lengths give -6, then the
// ranges; a rejected call writes nothing.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "check.h"
#include "voksc.h"

namespace {

struct Buffers {
  Vok16s x[64] = {}, y[64] = {}, o16[64] = {};
  Vok32s o32[64] = {};
  Vok32f f[64] = {}, g[64] = {}, fmax = 0;
  Vok64f dmax = 0;
  int n = 0, lag = 0, scale = 0;
};

}  // namespace

TEST(Checks, CorrelationsAndLagSearches) {
  Buffers b;
  vtest::Guard g;
  g.watch(b.o32, 64).watch(b.o16, 64).watch(&b.n).watch(&b.lag).watch(&b.fmax).watch(&b.dmax);
  Vok16s* x = b.x + 32;  // history before x[0] for the backward search
  EXPECT_NULLS_THEN(vokErrSize, g, voksAutoCorr_16s32s, b.x, 0, b.o32, 4);
  EXPECT_REJECTS(vokErrSize, g, voksAutoCorr_16s32s(b.x, 8, b.o32, 0));
  EXPECT_NULLS_THEN(vokErrSize, g, voksAutoCorr_NormE_16s32s, b.x, -1, b.o32, 4, &b.n);
  EXPECT_REJECTS(vokErrSize, g, voksAutoCorr_NormE_16s32s(b.x, 8, b.o32, 0, &b.n));
  EXPECT_NULLS_THEN(vokErrSize, g, voksAutoCorrLagMax_Fwd_16s, b.x, 0, 0, 4, b.o32, &b.lag);
  EXPECT_NULLS_THEN(vokErrSize, g, voksAutoCorrLagMax_Inv_16s, x, -3, 0, 4, b.o32, &b.lag);
  EXPECT_NULLS_THEN(vokErrSize, g, voksAutoCorrLagMax_32f, b.f + 8, 0, 0, 4, &b.fmax, &b.lag);
  // Cross searches: pointers, then the length, then a negative lagMax.
  EXPECT_NULLS_THEN(vokErrSize, g, voksCrossCorrLagMax_16s, b.x, b.y, 0, -1, b.o32, &b.lag);
  EXPECT_REJECTS(vokErrRange, g, voksCrossCorrLagMax_16s(b.x, b.y, 8, -1, b.o32, &b.lag));
  EXPECT_NULLS_THEN(vokErrSize, g, voksCrossCorrLagMax_32f64f, b.f, b.g, 0, -1, &b.dmax, &b.lag);
  EXPECT_REJECTS(vokErrRange, g, voksCrossCorrLagMax_32f64f(b.f, b.g, 8, INT_MIN, &b.dmax, &b.lag));
  EXPECT_NULLS_THEN(vokErrSize, g, voksCrossCorr_16s32s_Sfs, b.x, b.y, 0, b.o32, 0);
  EXPECT_NULLS_THEN(vokErrSize, g, voksCrossCorr_NormM_16s, b.x, b.y, 0, b.o16);
  EXPECT_NULLS_THEN(vokErrSize, g, voksConvPartial_16s32s, b.x, b.y, b.o32, 0);
  // The scaled convolution looks at its scale factor before the length.
  EXPECT_NULLS_THEN(vokErrBadArg, g, voksConvPartial_16s_Sfs, b.x, b.y, b.o16, 0, -1);
  EXPECT_REJECTS(vokErrSize, g, voksConvPartial_16s_Sfs(b.x, b.y, b.o16, 0, 0));
  EXPECT_NULLS_THEN(vokErrSize, g, voksDotProdAutoScale_16s32s_Sfs, b.x, b.y, 0, b.o32, &b.scale);
}

TEST(Checks, ScalingAndFilters) {
  Buffers b;
  // Block normalisation: the headroom is read from the scale argument, and
  // checked before any element is read (a length far past the buffer is
  // never walked: the sanitizer build would catch it).
  vtest::Guard h;
  int headroom = -1;
  h.watch(b.o16, 64).watch(b.x, 64).watch(b.o32, 64).watch(b.f, 64).watch(b.g, 64);
  EXPECT_NULLS_THEN(vokErrSize, h, voksAutoScale_16s, b.y, b.o16, 0, &headroom);
  EXPECT_NULLS_THEN(vokErrSize, h, voksAutoScale_16s_I, b.x, 0, &headroom);
  for (int len : {64, INT_MAX}) {
    EXPECT_REJECTS(vokErrScale, h, voksAutoScale_16s(b.y, b.o16, len, &headroom));
    EXPECT_REJECTS(vokErrScale, h, voksAutoScale_16s_I(b.x, len, &headroom));
  }
  EXPECT_EQ(headroom, -1);
  EXPECT_NULLS_THEN(vokErrSize, h, voksInvSqrt_32s_I, b.o32, 0);
  const Vok16s* x = b.x + 20;
  EXPECT_NULLS_THEN(vokErrSize, h, voksResidualFilter_Low_16s_Sfs, b.y, 10, x, b.o16, 5, 16);  // order above len
  EXPECT_REJECTS(vokErrSize, h, voksResidualFilter_Low_16s_Sfs(b.y, 0, x, b.o16, 5, 16));
  EXPECT_REJECTS(vokErrSize, h, voksResidualFilter_Low_16s_Sfs(b.y, 2, x, b.o16, 0, 16));
  EXPECT_REJECTS(vokErrScale, h, voksResidualFilter_Low_16s_Sfs(b.y, 10, x, b.o16, 40, 16));
  EXPECT_NULLS_THEN(vokErrSize, h, voksHarmonicFilter_16s_I, 16384, 2, b.x + 8, 0);
  EXPECT_NULLS_THEN(vokErrSize, h, voksHarmonicFilter_32f_I, 0.5f, 2, b.f + 8, -4);
  for (int lag : {-1, INT32_MIN}) {  // a negative lag would read ahead of the signal
    EXPECT_REJECTS(vokErrRange, h, voksHarmonicFilter_16s_I(16384, lag, b.x + 8, 4));
    EXPECT_REJECTS(vokErrRange, h, voksHarmonicFilter_32f_I(0.5f, lag, b.f + 8, 4));
  }
  EXPECT_NULLS_THEN(vokErrSize, h, voksPreemphasize_32f_I, 0.9f, b.f, 0, b.g);
}
