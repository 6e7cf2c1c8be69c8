// The LP analysis and LSP quantisation exports against values of the ITU-T
// G.729 reference coders (tests/golden/g729/lp/README.md): every output
// word of the 16-bit forms must match; the float forms are held to the
// single-precision Annex C / C+ coders within the tolerances given below.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lp_golden.h"
#include "voksc.h"

using lptest::Golden;

namespace {

constexpr int16_t kSentinel = 0x5A5A;

template <class T>
::testing::AssertionResult same(const T* got, const std::vector<T>& want, int n, int record) {
  for (int i = 0; i < n; ++i)
    if (got[i] != want[i])
      return ::testing::AssertionFailure() << "record " << record << " element " << i << ": " << got[i] << ", expected "
                                           << want[i];
  return ::testing::AssertionSuccess();
}

// Memory after a frame: the new residual first, the three older frames after it.
std::vector<int16_t> pushed(const std::vector<int16_t>& mem, const std::vector<int16_t>& residual) {
  std::vector<int16_t> m(residual);
  m.insert(m.end(), mem.begin(), mem.begin() + 30);
  return m;
}

}  // namespace

TEST(G729LpGolden, LagWindow) {
  Golden g("lagwin.bin");
  ASSERT_TRUE(g.ok());
  int n = 0;
  for (; !g.done(); ++n) {
    const int len = g.w16();
    g.w16();
    std::vector<int32_t> r = g.v32(12);
    const std::vector<int32_t> want = g.v32(12);
    ASSERT_EQ(voksLagWindow_G729_32s_I(r.data(), len), vokOk);
    EXPECT_TRUE(same(r.data(), want, 12, n)) << "len " << len;  // entries beyond len untouched
  }
  EXPECT_GT(n, 70);
}

// Order 10 from the Annex B coder (conformance speech and random sets),
// orders 1..30 from the Annex I coder (its hybrid-window analysis of speech
// at order 30, random sets).  Status 12 marks a set the reference found
// unstable: the export writes nothing then.
TEST(G729LpGolden, LevinsonDurbin) {
  Golden g("levinson.bin");
  ASSERT_TRUE(g.ok());
  int n = 0, unstable = 0, order30 = 0;
  for (; !g.done(); ++n) {
    const int order = g.w16();
    const int status = g.w16();
    const std::vector<int32_t> r = g.v32(order + 1);
    std::vector<int16_t> a(order + 1, kSentinel), rc(order, kSentinel);
    int16_t err = kSentinel;
    const VokResult st = voksLevinsonDurbin_G729_32s16s(r.data(), order, a.data(), rc.data(), &err);
    int16_t a10[11], rc2[2] = {kSentinel, kSentinel}, err10 = kSentinel;
    if (order == 10) std::fill(a10, a10 + 11, kSentinel);
    const VokResult st10 = order == 10 ? voksLevinsonDurbin_G729B(r.data(), a10, rc2, &err10) : vokOk;
    if (status == 12) {
      ++unstable;
      EXPECT_EQ(st, vokWrnOverflow) << "record " << n;
      EXPECT_TRUE(same(a.data(), std::vector<int16_t>(order + 1, kSentinel), order + 1, n));
      EXPECT_EQ(err, kSentinel);
      if (order == 10) {
        EXPECT_EQ(st10, vokWrnOverflow);
        EXPECT_EQ(rc2[0], kSentinel);
      }
      continue;
    }
    order30 += order == 30;
    const std::vector<int16_t> wa = g.v16(order + 1), wrc = g.v16(order);
    const int16_t werr = g.w16();
    ASSERT_EQ(st, vokOk) << "record " << n << " order " << order;
    EXPECT_TRUE(same(a.data(), wa, order + 1, n));
    EXPECT_TRUE(same(rc.data(), wrc, order, n));
    EXPECT_EQ(err, werr) << "record " << n;
    if (order == 10) {
      ASSERT_EQ(st10, vokOk);
      EXPECT_TRUE(same(a10, wa, 11, n));
      EXPECT_EQ(rc2[0], wrc[0]);
      EXPECT_EQ(rc2[1], wrc[1]);
      EXPECT_EQ(err10, werr);
    }
  }
  EXPECT_GT(n, 250);
  EXPECT_GT(unstable, 20);
  EXPECT_GT(order30, 20);
}

// G.729 and Annex A root searches on the same LP sets: analysis of the
// conformance speech, stable random filters, arbitrary coefficients (the
// Q10 path and sets with missing roots, which return the previous LSPs).
TEST(G729LpGolden, LpToLsp) {
  Golden g("lpc2lsp.bin");
  ASSERT_TRUE(g.ok());
  int n = 0, fallback = 0;
  for (; !g.done(); ++n) {
    const std::vector<int16_t> a = g.v16(11), old = g.v16(10), want = g.v16(10), wantA = g.v16(10);
    int16_t lsp[10], lspA[10];
    ASSERT_EQ(voksLPCToLSP_G729_16s(a.data(), old.data(), lsp), vokOk);
    ASSERT_EQ(voksLPCToLSP_G729A_16s(a.data(), old.data(), lspA), vokOk);
    EXPECT_TRUE(same(lsp, want, 10, n));
    EXPECT_TRUE(same(lspA, wantA, 10, n));
    fallback += want == old;
  }
  EXPECT_GT(n, 180);
  EXPECT_GT(fallback, 5);
}

TEST(G729LpGolden, LspToLp) {
  Golden g("lsp2lpc.bin");
  ASSERT_TRUE(g.ok());
  int n = 0;
  for (; !g.done(); ++n) {
    const std::vector<int16_t> lsp = g.v16(10), want = g.v16(11);
    int16_t a[11];
    ASSERT_EQ(voksLSPToLPC_G729_16s(lsp.data(), a), vokOk);
    EXPECT_TRUE(same(a, want, 11, n));
  }
  EXPECT_GT(n, 200);
}

// Both LSP -> LSF conversions, including unordered and full-scale inputs.
TEST(G729LpGolden, LspToLsf) {
  Golden g("lsp2lsf.bin");
  ASSERT_TRUE(g.ok());
  int n = 0;
  for (; !g.done(); ++n) {
    const std::vector<int16_t> lsp = g.v16(10), want = g.v16(10), wantNorm = g.v16(10);
    int16_t lsf[10], norm[10];
    ASSERT_EQ(voksLSPToLSF_G729_16s(lsp.data(), lsf), vokOk);
    ASSERT_EQ(voksLSPToLSF_Norm_G729_16s(lsp.data(), norm), vokOk);
    EXPECT_TRUE(same(lsf, want, 10, n));
    EXPECT_TRUE(same(norm, wantNorm, 10, n));
  }
  EXPECT_GT(n, 140);
}

TEST(G729LpGolden, LsfToLsp) {
  Golden g("lsf2lsp.bin");
  ASSERT_TRUE(g.ok());
  int n = 0;
  for (; !g.done(); ++n) {
    const std::vector<int16_t> lsf = g.v16(10), want = g.v16(10);
    int16_t lsp[10];
    ASSERT_EQ(voksLSFToLSP_G729_16s(lsf.data(), lsp), vokOk);
    EXPECT_TRUE(same(lsp, want, 10, n));
  }
  EXPECT_GT(n, 140);
}

// Runs of consecutive frames of the reference coder's quantiser from the
// memory it held (reset, mid-file, random and full-scale memories).  Both
// LSP forms run on their own copy of the memory; the Annex E form also
// returns the residual that entered the memory.
TEST(G729LpGolden, LspQuantiser) {
  Golden g("lspq.bin");
  ASSERT_TRUE(g.ok());
  int frames = 0, switched = 0;
  while (!g.done()) {
    const int count = g.w16();
    std::vector<int16_t> mem = g.v16(40), memE = mem;
    for (int f = 0; f < count; ++f, ++frames) {
      const std::vector<int16_t> lsp = g.v16(10), wantQ = g.v16(10), wantPacked = g.v16(2), wantRes = g.v16(10);
      const std::vector<int16_t> wantMem = pushed(mem, wantRes);
      int16_t q[10], packed[2], qE[10], packedE[2], res[10];
      ASSERT_EQ(voksLSPQuant_G729_16s(lsp.data(), mem.data(), q, packed), vokOk);
      ASSERT_EQ(voksLSPQuant_G729E_16s(lsp.data(), memE.data(), res, qE, packedE), vokOk);
      EXPECT_TRUE(same(q, wantQ, 10, frames));
      EXPECT_TRUE(same(packed, wantPacked, 2, frames));
      EXPECT_TRUE(same(qE, wantQ, 10, frames));
      EXPECT_TRUE(same(packedE, wantPacked, 2, frames));
      EXPECT_TRUE(same(res, wantRes, 10, frames));
      EXPECT_TRUE(same(mem.data(), wantMem, 40, frames));
      EXPECT_TRUE(same(memE.data(), wantMem, 40, frames));
      switched += (wantPacked[0] >> 7) & 1;
      mem = wantMem;
      memE = wantMem;
    }
  }
  EXPECT_GT(frames, 350);
  EXPECT_GT(switched, 50);
}

// The LSF form on the same frames: lsfq.bin and lspq.bin share their runs,
// so the residual of lspq.bin gives the memory after each frame.
TEST(G729LpGolden, LsfQuantiser) {
  Golden g("lsfq.bin"), p("lspq.bin");
  ASSERT_TRUE(g.ok() && p.ok());
  int frames = 0;
  while (!g.done()) {
    const int count = g.w16();
    ASSERT_EQ(p.w16(), count);
    std::vector<int16_t> mem = g.v16(40);
    ASSERT_EQ(p.v16(40), mem);
    for (int f = 0; f < count; ++f, ++frames) {
      const std::vector<int16_t> lsf = g.v16(10), wantQ = g.v16(10), wantIdx = g.v16(4);
      p.v16(22);
      const std::vector<int16_t> wantMem = pushed(mem, p.v16(10));
      int16_t q[10], idx[4];
      ASSERT_EQ(voksLSFQuant_G729_16s(lsf.data(), mem.data(), q, idx), vokOk);
      EXPECT_TRUE(same(q, wantQ, 10, frames));
      EXPECT_TRUE(same(idx, wantIdx, 4, frames));
      EXPECT_TRUE(same(mem.data(), wantMem, 40, frames));
      mem = wantMem;
    }
  }
  EXPECT_GT(frames, 350);
}

// The decoder over the conformance bitstreams (ERASURE.BIT from its start,
// runs of LSP.BIT, SPEECH.BIT and OVERFLOW.BIT) and random indices on
// random memories; erased frames go through the erased-frame update with
// the predictor and LSFs of the last good frame.
TEST(G729LpGolden, LsfDecoder) {
  Golden g("lsfdec.bin");
  ASSERT_TRUE(g.ok());
  int frames = 0, erased = 0, warned[16] = {};
  while (!g.done()) {
    const int count = g.w16();
    std::vector<int16_t> mem = g.v16(40);
    for (int f = 0; f < count; ++f, ++frames) {
      const int kind = g.w16();
      const std::vector<int16_t> idx = g.v16(4), vec = g.v16(10);
      const int status = g.w16();
      const std::vector<int16_t> wantMem = pushed(mem, g.v16(10));
      if (kind == 1) {
        ++erased;
        ASSERT_EQ(voksLSFDecodeErased_G729_16s(idx[0], mem.data(), vec.data()), vokOk);
      } else {
        int16_t lsf[10];
        EXPECT_EQ(voksLSFDecode_G729_16s(idx.data(), mem.data(), lsf), status) << "frame " << frames;
        EXPECT_TRUE(same(lsf, vec, 10, frames));
        ++warned[status];
      }
      EXPECT_TRUE(same(mem.data(), wantMem, 40, frames));
      mem = wantMem;
    }
  }
  EXPECT_GT(frames, 300);
  EXPECT_GT(erased, 40);
  EXPECT_GT(warned[13], 0);
  EXPECT_GT(warned[14], 0);
  EXPECT_GT(warned[15], 0);
}

// Midpoints of consecutive quantised LSP sets of the coder and of the Annex E
// backward filters; weighted interpolation with scale 12 from the Annex E
// backward-filter interpolation.
TEST(G729LpGolden, Interpolations) {
  Golden g("interp.bin");
  ASSERT_TRUE(g.ok());
  int n = 0;
  for (; !g.done(); ++n) {
    const std::vector<int16_t> a = g.v16(10), b = g.v16(10), want = g.v16(10);
    int16_t out[10];
    ASSERT_EQ(voksInterpolate_G729_16s(a.data(), b.data(), out, 10), vokOk);
    EXPECT_TRUE(same(out, want, 10, n));
  }
  EXPECT_GT(n, 100);

  Golden c("interpc.bin");
  ASSERT_TRUE(c.ok());
  for (n = 0; !c.done(); ++n) {
    const int len = c.w16();
    const int16_t wa = c.w16(), wb = c.w16();
    const int scale = c.w16();
    const std::vector<int16_t> a = c.v16(len), b = c.v16(len), want = c.v16(len);
    std::vector<int16_t> out(len);
    ASSERT_EQ(voksInterpolateC_G729_16s_Sfs(a.data(), wa, b.data(), wb, out.data(), len, scale), vokOk);
    EXPECT_TRUE(same(out.data(), want, len, n));
  }
  EXPECT_GT(n, 20);

  // No reference routine rounds the weighted sum; these values come from its
  // definition, saturate16((a wa + b wb + 2^(s-1)) >> s), in 64 bits.
  Golden r("interpnr.bin");
  ASSERT_TRUE(r.ok());
  for (n = 0; !r.done(); ++n) {
    const int len = r.w16();
    const int16_t wa = r.w16(), wb = r.w16();
    const int scale = r.w16();
    const std::vector<int16_t> a = r.v16(len), b = r.v16(len), want = r.v16(len);
    std::vector<int16_t> out(len);
    ASSERT_EQ(voksInterpolateC_NR_G729_16s_Sfs(a.data(), wa, b.data(), wb, out.data(), len, scale), vokOk);
    EXPECT_TRUE(same(out.data(), want, len, n));
  }
}

// Consecutive frames of the Annex E speech and of the OVPITCH input from a
// zero state, the latter also at four times its level and as a full-scale
// square wave: the accumulators exceed 0x3FFFFFFF and the sums saturate.
TEST(G729LpGolden, HybridWindow) {
  Golden g("winhyb.bin");
  ASSERT_TRUE(g.ok());
  int size = 0;
  ASSERT_EQ(voksWinHybridGetStateSize_G729E_16s(&size), vokOk);
  int frames = 0;
  while (!g.done()) {
    const int count = g.w16();
    std::vector<int16_t> x = g.v16(65);
    std::vector<unsigned char> state(size + 1);  // used at an odd address
    ASSERT_EQ(voksWinHybridInit_G729E_16s(state.data() + 1), vokOk);
    for (int f = 0; f < count; ++f, ++frames) {
      const std::vector<int16_t> in = g.v16(80);
      x.insert(x.end(), in.begin(), in.end());
      const std::vector<int32_t> want = g.v32(31);
      int32_t r[31];
      ASSERT_EQ(voksWinHybrid_G729E_16s32s(x.data() + x.size() - 145, r, state.data() + 1), vokOk);
      EXPECT_TRUE(same(r, want, 31, frames));
    }
  }
  EXPECT_GT(frames, 60);
}

// ---- float forms ---------------------------------------------------------------
//
// The references were built in single precision and the float forms follow
// their operation order, so the only possible differences come from how a
// compiler evaluates the same expressions (for instance contracting a
// multiply and an add); on these files every value is identical.  The
// tolerance, 1e-6 absolute plus 1e-6 relative (a few units in the last place
// of values up to 8), leaves room for that and nothing else: an indexing or
// ordering fault moves LSPs, LSFs and coefficients by 1e-3 or more.  The
// hybrid-window lags are held to 1e-6 of the frame's lag-0 value.

namespace {
::testing::AssertionResult near(const float* got, const std::vector<float>& want, int n, float abs, float rel,
                                int record) {
  for (int i = 0; i < n; ++i) {
    const float tol = abs + rel * std::fabs(want[i]);
    if (!(std::fabs(got[i] - want[i]) <= tol))
      return ::testing::AssertionFailure() << "record " << record << " element " << i << ": " << got[i]
                                           << ", expected " << want[i];
  }
  return ::testing::AssertionSuccess();
}
}  // namespace

TEST(G729LpGoldenFloat, LpToLsp) {
  Golden g("f_lpc2lsp.bin");
  ASSERT_TRUE(g.ok());
  int n = 0;
  for (; !g.done(); ++n) {
    const std::vector<float> a = g.vf(11), old = g.vf(10), want = g.vf(10), wantA = g.vf(10);
    float lsp[10], lspA[10];
    ASSERT_EQ(voksLPCToLSP_G729_32f(a.data(), old.data(), lsp), vokOk);
    ASSERT_EQ(voksLPCToLSP_G729A_32f(a.data(), old.data(), lspA), vokOk);
    EXPECT_TRUE(near(lsp, want, 10, 1e-6f, 1e-6f, n));
    EXPECT_TRUE(near(lspA, wantA, 10, 1e-6f, 1e-6f, n));
  }
  EXPECT_GT(n, 80);
}

TEST(G729LpGoldenFloat, LspToLp) {
  Golden g("f_lsp2lpc.bin");
  ASSERT_TRUE(g.ok());
  int n = 0;
  for (; !g.done(); ++n) {
    const std::vector<float> lsp = g.vf(10), want = g.vf(11);
    float a[11];
    ASSERT_EQ(voksLSPToLPC_G729_32f(lsp.data(), a), vokOk);
    EXPECT_TRUE(near(a, want, 11, 1e-6f, 1e-6f, n));
  }
  EXPECT_GT(n, 60);
}

// Stable sets must agree; where the reference keeps its last stable filter
// the export ends the recursion itself and reports a residual energy of 0.001.
TEST(G729LpGoldenFloat, LevinsonDurbin) {
  Golden g("f_levinson.bin");
  ASSERT_TRUE(g.ok());
  int n = 0;
  for (; !g.done(); ++n) {
    const int order = g.w16();
    const int unstable = g.w16();
    const std::vector<float> r = g.vf(order + 1);
    std::vector<float> a(order + 1), rc(order);
    float err = -1.0f;
    ASSERT_EQ(voksLevinsonDurbin_G729_32f(r.data(), order, a.data(), rc.data(), &err), vokOk);
    if (unstable) {
      EXPECT_EQ(err, 0.001f) << "record " << n;
      continue;
    }
    const std::vector<float> wa = g.vf(order + 1), wrc = g.vf(order);
    const float werr = g.f32();
    EXPECT_TRUE(near(a.data(), wa, order + 1, 1e-6f, 1e-6f, n));
    EXPECT_TRUE(near(rc.data(), wrc, order, 1e-6f, 1e-6f, n));
    EXPECT_TRUE(near(&err, {werr}, 1, 1e-6f, 1e-6f, n));
  }
  EXPECT_GT(n, 40);
}

TEST(G729LpGoldenFloat, LsfDecoder) {
  Golden g("f_lsfdec.bin");
  ASSERT_TRUE(g.ok());
  int frames = 0;
  while (!g.done()) {
    const int count = g.w16();
    g.w16();
    std::vector<float> mem = g.vf(40);
    for (int f = 0; f < count; ++f, ++frames) {
      const std::vector<int16_t> head = g.v16(6);
      const std::vector<float> vec = g.vf(10), res = g.vf(10);
      const std::vector<float> old = mem;
      if (head[0] == 1) {
        ASSERT_EQ(voksLSFDecodeErased_G729_32f(head[1], mem.data(), vec.data()), vokOk);
      } else {
        float lsf[10];
        ASSERT_EQ(voksLSFDecode_G729_32f(head.data() + 1, mem.data(), lsf), vokOk);
        EXPECT_TRUE(near(lsf, vec, 10, 1e-6f, 1e-6f, frames));
      }
      EXPECT_TRUE(near(mem.data(), res, 10, 1e-6f, 1e-6f, frames));
      for (int i = 10; i < 40; ++i) EXPECT_EQ(mem[i], old[i - 10]);
      std::copy(res.begin(), res.end(), mem.begin());
    }
  }
  EXPECT_GT(frames, 120);
}

TEST(G729LpGoldenFloat, LspQuantiserAnnexE) {
  Golden g("f_lspq.bin");
  ASSERT_TRUE(g.ok());
  int frames = 0;
  while (!g.done()) {
    const int count = g.w16();
    g.w16();
    std::vector<float> mem = g.vf(40);
    for (int f = 0; f < count; ++f, ++frames) {
      const std::vector<float> lsp = g.vf(10), wantQ = g.vf(10), wantRes = g.vf(10);
      const std::vector<int16_t> wantPacked = g.v16(2);
      float q[10], res[10];
      int16_t packed[2];
      const std::vector<float> old = mem;
      ASSERT_EQ(voksLSPQuant_G729E_32f(lsp.data(), mem.data(), res, q, packed), vokOk);
      EXPECT_TRUE(same(packed, wantPacked, 2, frames));
      EXPECT_TRUE(near(q, wantQ, 10, 1e-6f, 1e-6f, frames));
      EXPECT_TRUE(near(res, wantRes, 10, 1e-6f, 1e-6f, frames));
      EXPECT_TRUE(near(mem.data(), wantRes, 10, 1e-6f, 1e-6f, frames));
      for (int i = 10; i < 40; ++i) EXPECT_EQ(mem[i], old[i - 10]);
      std::copy(wantRes.begin(), wantRes.end(), mem.begin());
    }
  }
  EXPECT_GT(frames, 80);
}

TEST(G729LpGoldenFloat, HybridWindow) {
  Golden g("f_winhyb.bin");
  ASSERT_TRUE(g.ok());
  int size = 0;
  ASSERT_EQ(voksWinHybridGetStateSize_G729E_32f(&size), vokOk);
  std::vector<unsigned char> state(size);
  ASSERT_EQ(voksWinHybridInit_G729E_32f(state.data()), vokOk);
  const int count = g.w16();
  g.w16();
  std::vector<float> x = g.vf(65);
  for (int f = 0; f < count; ++f) {
    const std::vector<float> in = g.vf(80), want = g.vf(31);
    x.insert(x.end(), in.begin(), in.end());
    float r[31];
    ASSERT_EQ(voksWinHybrid_G729E_32f(x.data() + x.size() - 145, r, state.data()), vokOk);
    EXPECT_TRUE(near(r, want, 31, 1e-6f * want[0], 0.0f, f));
  }
  EXPECT_GT(count, 20);
}
