// Argument checks of the LP analysis and LSP quantisation exports, in the
// order of their interface table: the first failing check decides the status
// and nothing is written; plus the edge cases the checks do not cover.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "check.h"
#include "voksc.h"

namespace {

const int16_t kLsp[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
const int16_t kLsf[10] = {2339, 4679, 7018, 9358, 11698, 14037, 16377, 18717, 21056, 23396};
const int16_t kA[11] = {4096, -6000, 3000, -1000, 500, -200, 100, -50, 20, -10, 5};

struct MaMemory {
  int16_t m[40];
  MaMemory() {
    for (int k = 0; k < 4; ++k) std::memcpy(m + 10 * k, kLsf, sizeof kLsf);
  }
};

}  // namespace

TEST(G729LpChecks, LagWindowAndLevinson) {
  int32_t r[13] = {0x7FFFFFFF};
  for (int i = 1; i < 13; ++i) r[i] = 0x7FFFFFFF - i * 0x08000000;
  vtest::Guard g;
  g.watch(r + 1, 12);
  EXPECT_NULLS_THEN(vokErrSize, g, voksLagWindow_G729_32s_I, r + 1, 0);
  EXPECT_REJECTS(vokErrRange, g, voksLagWindow_G729_32s_I(r + 1, 13));

  int32_t rr[31] = {0x40000000, 0x20000000};
  int16_t a[31], rc[30], err, rc2[2];
  float rf[31] = {1.0f, 0.5f}, af[31], rcf[30], errf;
  vtest::Guard h;
  h.watch(a, 31).watch(rc, 30).watch(&err).watch(rc2, 2);
  EXPECT_NULLS_THEN(vokErrRange, h, voksLevinsonDurbin_G729_32s16s, rr, 0, a, rc, &err);
  EXPECT_EACH_NULL(h, voksLevinsonDurbin_G729B, rr, a, rc2, &err);
  EXPECT_REJECTS(vokErrRange, h, voksLevinsonDurbin_G729_32s16s(rr, 31, a, rc, &err));
  rr[0] = 65535;  // not normalised: the recursion is not run
  EXPECT_REJECTS(vokWrnOverflow, h, voksLevinsonDurbin_G729_32s16s(rr, 10, a, rc, &err));
  EXPECT_REJECTS(vokWrnOverflow, h, voksLevinsonDurbin_G729B(rr, a, rc2, &err));
  rr[0] = 0x40000000;
  rr[2] = -0x40000000;  // |k2| above the limit
  EXPECT_REJECTS(vokWrnOverflow, h, voksLevinsonDurbin_G729B(rr, a, rc2, &err));

  vtest::Guard f;
  f.watch(af, 31).watch(rcf, 30).watch(&errf);
  EXPECT_NULLS_THEN(vokErrSize, f, voksLevinsonDurbin_G729_32f, rf, 0, af, rcf, &errf);
}

TEST(G729LpChecks, Conversions) {
  int16_t out[11];
  float fa[11] = {1.0f}, fl[10] = {0.9f}, fo[11];
  vtest::Guard g;
  g.watch(out, 11);
  EXPECT_EACH_NULL(g, voksLPCToLSP_G729_16s, kA, kLsp, out);
  EXPECT_EACH_NULL(g, voksLPCToLSP_G729A_16s, kA, kLsp, out);
  EXPECT_EACH_NULL(g, voksLSPToLPC_G729_16s, kLsp, out);
  EXPECT_EACH_NULL(g, voksLSPToLSF_G729_16s, kLsp, out);
  EXPECT_EACH_NULL(g, voksLSPToLSF_Norm_G729_16s, kLsp, out);
  EXPECT_EACH_NULL(g, voksLSFToLSP_G729_16s, kLsf, out);
  int16_t neg[10];
  std::memcpy(neg, kLsf, sizeof neg);
  neg[0] = -1;
  EXPECT_REJECTS(vokErrDomain, g, voksLSFToLSP_G729_16s(neg, out));
  vtest::Guard h;
  h.watch(fo, 11);
  EXPECT_EACH_NULL(h, voksLPCToLSP_G729_32f, fa, fl, fo);
  EXPECT_EACH_NULL(h, voksLPCToLSP_G729A_32f, fa, fl, fo);
  EXPECT_EACH_NULL(h, voksLSPToLPC_G729_32f, fl, fo);

  // A negative frequency further on: the elements before it are written.
  std::memcpy(neg, kLsf, sizeof neg);
  neg[4] = -300;
  int16_t lsp[10];
  std::memset(lsp, 0x5A, sizeof lsp);
  ASSERT_EQ(voksLSFToLSP_G729_16s(neg, lsp), vokErrDomain);
  int16_t ref[10];
  ASSERT_EQ(voksLSFToLSP_G729_16s(kLsf, ref), vokOk);
  EXPECT_EQ(0, std::memcmp(lsp, ref, 4 * sizeof(int16_t)));
  for (int i = 4; i < 10; ++i) EXPECT_EQ(lsp[i], 0x5A5A);
}

TEST(G729LpChecks, QuantiserAndDecoder) {
  MaMemory mem;
  int16_t q[10], idx[4], res[10], packed[2];
  vtest::Guard g;
  g.watch(mem.m, 40).watch(q, 10).watch(idx, 4).watch(res, 10).watch(packed, 2);
  EXPECT_EACH_NULL(g, voksLSFQuant_G729_16s, kLsf, mem.m, q, idx);
  EXPECT_EACH_NULL(g, voksLSPQuant_G729_16s, kLsp, mem.m, q, packed);
  EXPECT_EACH_NULL(g, voksLSPQuant_G729E_16s, kLsp, mem.m, res, q, packed);
  const int16_t bad[4] = {2, 0, 0, 0};
  EXPECT_EACH_NULL(g, voksLSFDecode_G729_16s, bad, mem.m, q);
  EXPECT_EACH_NULL(g, voksLSFDecodeErased_G729_16s, 5, mem.m, q);
  EXPECT_REJECTS(vokErrIndex, g, voksLSFDecodeErased_G729_16s(2, mem.m, kLsf));
  EXPECT_REJECTS(vokErrIndex, g, voksLSFDecodeErased_G729_16s(-1, mem.m, kLsf));

  float fm[40] = {}, fq[10], fr[10], fl[10] = {0.3f};
  const float flsp[10] = {0.95f, 0.9f, 0.8f, 0.6f, 0.4f, 0.1f, -0.2f, -0.5f, -0.8f, -0.9f};
  vtest::Guard h;
  h.watch(fm, 40).watch(fq, 10).watch(fr, 10).watch(packed, 2);
  EXPECT_EACH_NULL(h, voksLSPQuant_G729E_32f, flsp, fm, fr, fq, packed);
  EXPECT_EACH_NULL(h, voksLSFDecode_G729_32f, bad, fm, fq);
  EXPECT_NULLS_THEN(vokErrIndex, h, voksLSFDecodeErased_G729_32f, 2, fm, fl);
  int16_t sidIdx[3];
  h.watch(sidIdx, 3);
  EXPECT_EACH_NULL(h, voksLSFQuant_G729B_32f, fl, fm, fq, sidIdx);  // Annex B SID forms
  EXPECT_EACH_NULL(h, voksLSFDecode_G729B_32f, bad, fm, fq);
}

// Every decoder index outside its codebook is an index error, in both forms
// of the speech and the SID decoders, with nothing written.
TEST(G729LpChecks, DecodersRejectIndicesOutsideTheirCodebooks) {
  const int16_t speech[][4] = {{0, 128, 0, 0}, {1, 30000, 0, 0}, {0, -1, 0, 0}, {0, 0, 32, 0},
                               {0, 0, 0, 32},  {0, 0, -5, 0},    {0, 0, 0, -32768}, {-9999, 0, 0, 0}};
  const int16_t sid[][3] = {{2, 0, 0}, {-9999, 0, 0}, {0, 32, 0}, {0, 30000, 0}, {0, -1, 0}, {1, 0, 16}, {1, 0, -1}};
  MaMemory mem;
  int16_t q[10];
  float fm[40] = {}, fq[10];
  vtest::Guard g;
  g.watch(mem.m, 40).watch(q, 10).watch(fm, 40).watch(fq, 10);
  for (const auto& idx : speech) {
    EXPECT_REJECTS(vokErrIndex, g, voksLSFDecode_G729_16s(idx, mem.m, q));
    EXPECT_REJECTS(vokErrIndex, g, voksLSFDecode_G729_32f(idx, fm, fq));
  }
  for (const auto& idx : sid) {
    EXPECT_REJECTS(vokErrIndex, g, voksLSFDecode_G729B_16s(idx, mem.m, q));
    EXPECT_REJECTS(vokErrIndex, g, voksLSFDecode_G729B_32f(idx, fm, fq));
  }
  // The highest indices are accepted.
  const int16_t top[4] = {1, 127, 31, 31}, sidTop[3] = {1, 31, 15};
  EXPECT_GE(voksLSFDecode_G729_16s(top, mem.m, q), 0);
  EXPECT_GE(voksLSFDecode_G729B_16s(sidTop, mem.m, q), 0);
  EXPECT_EQ(voksLSFDecode_G729_32f(top, fm, fq), vokOk);
  EXPECT_EQ(voksLSFDecode_G729B_32f(sidTop, fm, fq), vokOk);
}

TEST(G729LpChecks, Interpolations) {
  const int16_t a[2] = {1, 1}, b[2] = {1, 1};
  int16_t out[2];
  vtest::Guard g;
  g.watch(out, 2);
  EXPECT_NULLS_THEN(vokErrSize, g, voksInterpolate_G729_16s, a, b, out, 0);
  // null, then the scale, then the length
  EXPECT_NULLS_THEN(vokErrScale, g, voksInterpolateC_G729_16s_Sfs, a, 1, b, 1, out, 0, -1);
  EXPECT_REJECTS(vokErrSize, g, voksInterpolateC_G729_16s_Sfs(a, 1, b, 1, out, 0, 1));
  EXPECT_NULLS_THEN(vokErrScale, g, voksInterpolateC_NR_G729_16s_Sfs, a, 1, b, 1, out, 0, -1);
  EXPECT_REJECTS(vokErrSize, g, voksInterpolateC_NR_G729_16s_Sfs(a, 1, b, 1, out, -2, 0));
  const float fa[2] = {1.0f, 2.0f};
  float fo[2];
  vtest::Guard h;
  h.watch(fo, 2);
  EXPECT_NULLS_THEN(vokErrSize, h, voksInterpolateC_G729_32f, fa, 1.0f, fa, 1.0f, fo, 0);

  // Truncation of each product against one rounding of the sum.
  ASSERT_EQ(voksInterpolateC_G729_16s_Sfs(a, 1, b, 1, out, 2, 1), vokOk);
  EXPECT_EQ(out[0], 0);
  ASSERT_EQ(voksInterpolateC_NR_G729_16s_Sfs(a, 1, b, 1, out, 2, 1), vokOk);
  EXPECT_EQ(out[0], 1);
  const int16_t big[2] = {32767, -32768};
  ASSERT_EQ(voksInterpolateC_NR_G729_16s_Sfs(big, 32767, big, 32767, out, 2, 0), vokOk);
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[1], -32768);
  ASSERT_EQ(voksInterpolateC_G729_32f(fa, 0.25f, fa, 0.5f, fo, 2), vokOk);
  EXPECT_EQ(fo[1], 1.5f);
}

TEST(G729LpChecks, HybridWindowState) {
  int size = -1;
  unsigned char state[124];
  int16_t x[145] = {};
  float xf[145] = {};
  int32_t r[31];
  float rf[31];
  vtest::Guard g;
  g.watch(r, 31).watch(rf, 31).watch(state, 124).watch(&size);
  EXPECT_EACH_NULL(g, voksWinHybridGetStateSize_G729E_16s, &size);
  EXPECT_EACH_NULL(g, voksWinHybridGetStateSize_G729E_32f, &size);
  EXPECT_EACH_NULL(g, voksWinHybridInit_G729E_16s, state);
  EXPECT_EACH_NULL(g, voksWinHybridInit_G729E_32f, state);
  EXPECT_EACH_NULL(g, voksWinHybrid_G729E_16s32s, x, r, state);
  EXPECT_EACH_NULL(g, voksWinHybrid_G729E_32f, xf, rf, state);
}
