// G.723.1 pitch, codebook and decoder-side exports: argument checks in the
// documented order and the documented edge cases.  Their arithmetic is
// checked bit for bit by the official sequences through the vokcodec coder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "cases.h"
#include "check.h"
#include "g723/g723_internal.h"
#include "hostile.h"
#include "levels.h"
#include "voksc.h"

TEST(G723Excitation, ArgumentChecks) {
  Vok16s buf[400] = {}, d[60], o1, o2, o3, signs[4], pos[6], mat16[416];
  Vok32s err32 = 0, code, mat32[416] = {}, taming[5] = {};
  int improved;
  const Vok16s* x = buf + 200;
  vtest::Guard g;
  g.watch(d, 60).watch(&o1).watch(&o2).watch(&o3).watch(signs, 4).watch(pos, 6).watch(&err32).watch(&code);
  EXPECT_REJECTS(vokErrNullPtr, g, voksOpenLoopPitchSearch_G723_16s(x, nullptr));
  EXPECT_NULLS_THEN(vokErrSize, g, voksHarmonicSearch_G723_16s, 146, x, &o1, &o2);
  EXPECT_NULLS_THEN(vokErrRange, g, voksHarmonicNoiseSubtract_G723_16s_I, 0, -1, x, d);
  EXPECT_NULLS_THEN(vokErrRange, g, voksAdaptiveCodebookSearch_G723, 142, x, x, buf, taming, &o1, &o2, 1, 0, 4);
  EXPECT_REJECTS(vokErrRange, g, voksAdaptiveCodebookSearch_G723(40, x, x, buf, taming, &o1, &o2, 5, 0, 4));
  EXPECT_REJECTS(vokErrRange, g, voksAdaptiveCodebookSearch_G723(40, x, x, buf, taming, &o1, &o2, 0, 0, 3));
  EXPECT_NULLS_THEN(vokErrIndex, g, voksDecodeAdaptiveVector_G723_16s, 57, 1, 85, buf, d, 4);
  EXPECT_REJECTS(vokErrIndex, g, voksDecodeAdaptiveVector_G723_16s(60, 1, 170, buf, d, 2));
  EXPECT_REJECTS(vokErrIndex, g, voksDecodeAdaptiveVector_G723_16s(60, 4, 0, buf, d, 2));
  // a lag of 144 or 145 would read its five-tap rows before the 145-sample history
  EXPECT_REJECTS(vokErrIndex, g, voksDecodeAdaptiveVector_G723_16s(142, 3, 0, buf, d, 2));
  EXPECT_REJECTS(vokErrIndex, g, voksDecodeAdaptiveVector_G723_16s(144, 3, 0, buf, d, 2));
  EXPECT_REJECTS(vokErrRange, g, voksDecodeAdaptiveVector_G723_16s(60, 1, 0, buf, d, 3));
  EXPECT_NULLS_THEN(vokErrBadArg, g, voksGainQuant_G723_16s, x, x, pos, d, &err32, &o1, &o2, 4, &improved);
  EXPECT_NULLS_THEN(vokErrRange, g, voksMPMLQFixedCodebookSearch_G723, 17, x, x, d, &o1, &o2, &o3, signs, &code, 0);
  EXPECT_REJECTS(vokErrRange, g, voksMPMLQFixedCodebookSearch_G723(40, x, x, d, &o1, &o2, &o3, signs, &code, 4));
  EXPECT_REJECTS(vokErrNullPtr, g, voksToeplizMatrix_G723_16s(x, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksACELPFixedCodebookSearch_G723_16s(x, mat16, signs, pos, &o1, d, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksACELPFixedCodebookSearch_G723_32s16s(x, mat32, signs, nullptr, &o1, d, &o2));
  EXPECT_NULLS_THEN(vokErrRange, g, voksPitchPostFilter_G723_16s, 40, x, &o1, &o2, &o3, 4, 4);
  EXPECT_REJECTS(vokErrRange, g, voksPitchPostFilter_G723_16s(146, x, &o1, &o2, &o3, 0, 4));
  EXPECT_REJECTS(vokErrNullPtr, g, voksSynthesisFilter_G723_16s(x, x, nullptr, d));
  EXPECT_REJECTS(vokErrNullPtr, g, voksTiltCompensation_G723_32s16s(0, mat32 + 1, nullptr));
  EXPECT_NULLS_THEN(vokErrBadArg, g, voksGainControl_G723_16s_I, -1, d, &o1);
}

TEST(G723Excitation, DocumentedEdgeCases) {
  Vok16s zero[400] = {}, lag = 0, hl, hg;
  // Silence: open-loop lag 18, no harmonic shaping.
  ASSERT_EQ(voksOpenLoopPitchSearch_G723_16s(zero + 200, &lag), vokOk);
  ASSERT_EQ(voksHarmonicSearch_G723_16s(60, zero + 200, &hl, &hg), vokOk);
  EXPECT_EQ(std::vector<int>({lag, hl, hg}), std::vector<int>({18, 60, 0}));
  // No positive correlation: the pitch post-filter stays off.
  Vok16s pl = 5, pg = 5, ps = 5;
  ASSERT_EQ(voksPitchPostFilter_G723_16s(60, zero + 145, &pl, &pg, &ps, 3, 4), vokOk);  // history + frame
  EXPECT_EQ(std::vector<int>({pl, pg, ps}), std::vector<int>({0, 0, 32767}));
  // ACELP: a pulse of track 3 beyond the subframe is reported, not placed.
  Vok16s dn[60] = {}, mat[416] = {}, signs[4], pos[4], shift, exc[60], budget = 0;
  for (int i = 0; i < 60; ++i) dn[i] = static_cast<Vok16s>(i == 59 || i == 1 ? 1000 : 0);
  ASSERT_EQ(voksACELPFixedCodebookSearch_G723_16s(dn, mat, signs, pos, &shift, exc, &budget), vokOk);
  int placed = 0;
  for (auto v : exc) placed += v != 0;
  EXPECT_EQ(placed, 4 - (pos[2] >= 60) - (pos[3] >= 60));
  // A silent response: MP-MLQ never sets the train flag at long lags.
  Vok16s h[60] = {1000}, t[60], e[60], gr = 0, df = 9, amp, sg;
  Vok32s code;
  vtSignal(t, 60, 3, 1);
  ASSERT_EQ(voksMPMLQFixedCodebookSearch_G723(80, h, t, e, &gr, &df, &amp, &sg, &code, 1), vokOk);
  EXPECT_EQ(df, 0);
}

// The two forms of the gain-vector scores agree, on terms that drive the
// saturating chains both ways (full-scale and -32768 terms) and on row
// counts that leave partial lane groups.
TEST(G723Excitation, GainScoreFormsAgree) {
  REQUIRE_AVX2();
  VtRng r{723};
  for (int c = 0; c < 60; ++c) {
    SCOPED_TRACE(c);
    int16_t s[20];
    for (auto& v : s) {
      const uint32_t u = vtNext(&r);
      v = static_cast<int16_t>(c % 3 == 0 ? (u & 1 ? 32767 : -32768) : static_cast<int16_t>(u));
    }
    int16_t g[20 * 37];
    for (auto& v : g) v = static_cast<int16_t>(static_cast<int>(vtNext(&r) % 65535u) - 32767);
    const int rows = 1 + c % 37;
    int32_t a[37], b[37];
    voksc::g723::gainScores_scalar(s, g, rows, a);
    voksc::g723::gainScores_avx2(s, g, rows, b);
    EXPECT_TRUE(std::equal(a, a + rows, b));
  }
}
