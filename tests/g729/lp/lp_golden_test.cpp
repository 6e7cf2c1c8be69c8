// The LP analysis and LSP quantisation exports against values of the ITU-T
// G.729 reference coders (tests/golden/g729/lp/README.md): every output
// word of the 16-bit forms must match; the float forms are held to the
// single-precision Annex C / C+ coders within the tolerance given below.
// One table row per golden file: the check replays one record (or one run
// of consecutive frames) and counts what the file must contain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "vectors.h"
#include "voksc.h"

using Golden = vtest::GoldenReader;
using Result = ::testing::AssertionResult;

namespace {

constexpr int16_t kSentinel = 0x5A5A;

template <class T>
Result same(const T* got, const std::vector<T>& want, int n, int record) {
  for (int i = 0; i < n; ++i)
    if (got[i] != want[i])
      return ::testing::AssertionFailure() << "record " << record << " element " << i << ": " << got[i] << ", expected "
                                           << want[i];
  return ::testing::AssertionSuccess();
}

// The references were built in single precision and the float forms follow
// their operation order, so only a compiler's evaluation of the same
// expressions (say, a contracted multiply-add) may differ; on these files
// every value is identical.  1e-6 absolute plus 1e-6 relative leaves room
// for that and nothing else: an indexing or ordering fault moves LSPs, LSFs
// and coefficients by 1e-3 or more.
Result near(const float* got, const std::vector<float>& want, int n, int record) {
  for (int i = 0; i < n; ++i)
    if (!(std::fabs(got[i] - want[i]) <= 1e-6f + 1e-6f * std::fabs(want[i])))
      return ::testing::AssertionFailure() << "record " << record << " element " << i << ": " << got[i]
                                           << ", expected " << want[i];
  return ::testing::AssertionSuccess();
}

// Memory after a frame: the new residual first, the three older frames after it.
template <class T>
std::vector<T> pushed(const std::vector<T>& mem, const std::vector<T>& residual) {
  std::vector<T> m(residual);
  m.insert(m.end(), mem.begin(), mem.begin() + 30);
  return m;
}

// tally[0] counts records (the driver), the checks count what else matters.
struct Tally {
  int n[4] = {};
};
using Check = Result (*)(Golden& g, Golden& partner, Tally& t);

#define CALL(expr) \
  if ((expr) != vokOk) return ::testing::AssertionFailure() << #expr << " failed, record " << t.n[0]

#define SAME(got, want, count) \
  if (Result v_ = same(got, want, count, t.n[0]); !v_) return v_

#define NEAR(got, want, count) \
  if (Result v_ = near(got, want, count, t.n[0]); !v_) return v_

// Entries beyond len stay untouched.
Result lagWindow(Golden& g, Golden&, Tally& t) {
  const int len = g.w16();
  g.w16();
  std::vector<int32_t> r = g.v32(12);
  CALL(voksLagWindow_G729_32s_I(r.data(), len));
  return same(r.data(), g.v32(12), 12, t.n[0]);
}

// Order 10 from the Annex B coder (conformance speech and random sets),
// orders 1..30 from the Annex I coder (its hybrid-window analysis of speech
// at order 30, random sets).  Status 12 marks a set the reference found
// unstable: the export writes nothing then.  n[1]: unstable, n[2]: order 30.
Result levinson(Golden& g, Golden&, Tally& t) {
  const int order = g.w16(), status = g.w16();
  const std::vector<int32_t> r = g.v32(order + 1);
  std::vector<int16_t> a(order + 1, kSentinel), rc(order, kSentinel);
  int16_t err = kSentinel, a10[11], rc2[2] = {kSentinel, kSentinel}, err10 = kSentinel;
  std::fill(a10, a10 + 11, kSentinel);
  const VokResult st = voksLevinsonDurbin_G729_32s16s(r.data(), order, a.data(), rc.data(), &err);
  const VokResult st10 = order == 10 ? voksLevinsonDurbin_G729B(r.data(), a10, rc2, &err10) : vokOk;
  if (status == 12) {
    ++t.n[1];
    if (st != vokWrnOverflow || err != kSentinel || (order == 10 && (st10 != vokWrnOverflow || rc2[0] != kSentinel)))
      return ::testing::AssertionFailure() << "unstable set accepted, record " << t.n[0];
    return same(a.data(), std::vector<int16_t>(order + 1, kSentinel), order + 1, t.n[0]);
  }
  t.n[2] += order == 30;
  const std::vector<int16_t> wa = g.v16(order + 1), wrc = g.v16(order), werr = g.v16(1);
  CALL(st);
  SAME(a.data(), wa, order + 1);
  SAME(rc.data(), wrc, order);
  SAME(&err, werr, 1);
  if (order != 10) return ::testing::AssertionSuccess();
  CALL(st10);
  SAME(a10, wa, 11);
  SAME(rc2, wrc, 2);
  return same(&err10, werr, 1, t.n[0]);
}

// G.729 and Annex A root searches on the same LP sets: analysis of the
// conformance speech, stable random filters, arbitrary coefficients (the
// Q10 path and sets with missing roots, which return the previous LSPs:
// counted in n[1]).
Result lpToLsp(Golden& g, Golden&, Tally& t) {
  const std::vector<int16_t> a = g.v16(11), old = g.v16(10), want = g.v16(10), wantA = g.v16(10);
  int16_t lsp[10], lspA[10];
  CALL(voksLPCToLSP_G729_16s(a.data(), old.data(), lsp));
  CALL(voksLPCToLSP_G729A_16s(a.data(), old.data(), lspA));
  t.n[1] += want == old;
  SAME(lsp, want, 10);
  return same(lspA, wantA, 10, t.n[0]);
}

Result lspToLp(Golden& g, Golden&, Tally& t) {
  const std::vector<int16_t> lsp = g.v16(10);
  int16_t a[11];
  CALL(voksLSPToLPC_G729_16s(lsp.data(), a));
  return same(a, g.v16(11), 11, t.n[0]);
}

// Both LSP -> LSF conversions, including unordered and full-scale inputs.
Result lspToLsf(Golden& g, Golden&, Tally& t) {
  const std::vector<int16_t> lsp = g.v16(10), want = g.v16(10), wantNorm = g.v16(10);
  int16_t lsf[10], norm[10];
  CALL(voksLSPToLSF_G729_16s(lsp.data(), lsf));
  CALL(voksLSPToLSF_Norm_G729_16s(lsp.data(), norm));
  SAME(lsf, want, 10);
  return same(norm, wantNorm, 10, t.n[0]);
}

Result lsfToLsp(Golden& g, Golden&, Tally& t) {
  const std::vector<int16_t> lsf = g.v16(10);
  int16_t lsp[10];
  CALL(voksLSFToLSP_G729_16s(lsf.data(), lsp));
  return same(lsp, g.v16(10), 10, t.n[0]);
}

// Runs of consecutive frames of the reference coder's quantiser from the
// memory it held (reset, mid-file, random and full-scale memories).  Both
// LSP forms run on their own copy of the memory; the Annex E form also
// returns the residual that entered the memory.  n[1]: frames, n[2]:
// frames using the second predictor.
Result lspQuantiser(Golden& g, Golden&, Tally& t) {
  const int count = g.w16();
  std::vector<int16_t> mem = g.v16(40), memE = mem;
  for (int f = 0; f < count; ++f, ++t.n[1]) {
    const std::vector<int16_t> lsp = g.v16(10), wantQ = g.v16(10), wantPacked = g.v16(2), wantRes = g.v16(10);
    const std::vector<int16_t> wantMem = pushed(mem, wantRes);
    int16_t q[10], packed[2], qE[10], packedE[2], res[10];
    CALL(voksLSPQuant_G729_16s(lsp.data(), mem.data(), q, packed));
    CALL(voksLSPQuant_G729E_16s(lsp.data(), memE.data(), res, qE, packedE));
    SAME(q, wantQ, 10);
    SAME(packed, wantPacked, 2);
    SAME(qE, wantQ, 10);
    SAME(packedE, wantPacked, 2);
    SAME(res, wantRes, 10);
    SAME(mem.data(), wantMem, 40);
    SAME(memE.data(), wantMem, 40);
    t.n[2] += (wantPacked[0] >> 7) & 1;
  }
  return ::testing::AssertionSuccess();
}

// The LSF form on the same frames: lsfq.bin and lspq.bin share their runs,
// so the residual of lspq.bin gives the memory after each frame.
Result lsfQuantiser(Golden& g, Golden& p, Tally& t) {
  const int count = g.w16();
  std::vector<int16_t> mem = g.v16(40);
  if (p.w16() != count || p.v16(40) != mem) return ::testing::AssertionFailure() << "lsfq.bin and lspq.bin differ";
  for (int f = 0; f < count; ++f, ++t.n[1]) {
    const std::vector<int16_t> lsf = g.v16(10), wantQ = g.v16(10), wantIdx = g.v16(4);
    p.v16(22);
    const std::vector<int16_t> wantMem = pushed(mem, p.v16(10));
    int16_t q[10], idx[4];
    CALL(voksLSFQuant_G729_16s(lsf.data(), mem.data(), q, idx));
    SAME(q, wantQ, 10);
    SAME(idx, wantIdx, 4);
    SAME(mem.data(), wantMem, 40);
  }
  return ::testing::AssertionSuccess();
}

// The decoder over the conformance bitstreams (ERASURE.BIT from its start,
// runs of LSP.BIT, SPEECH.BIT and OVERFLOW.BIT) and random indices on
// random memories; erased frames go through the erased-frame update with
// the predictor and LSFs of the last good frame.  n[1]: frames, n[2]:
// erased frames, n[3]: each of the three stability warnings (bit per kind).
Result lsfDecoder(Golden& g, Golden&, Tally& t) {
  const int count = g.w16();
  std::vector<int16_t> mem = g.v16(40);
  for (int f = 0; f < count; ++f, ++t.n[1]) {
    const int kind = g.w16();
    const std::vector<int16_t> idx = g.v16(4), vec = g.v16(10);
    const int status = g.w16();
    const std::vector<int16_t> wantMem = pushed(mem, g.v16(10));
    if (kind == 1) {
      ++t.n[2];
      CALL(voksLSFDecodeErased_G729_16s(idx[0], mem.data(), vec.data()));
    } else {
      int16_t lsf[10];
      if (voksLSFDecode_G729_16s(idx.data(), mem.data(), lsf) != status)
        return ::testing::AssertionFailure() << "status, frame " << t.n[1];
      SAME(lsf, vec, 10);
      if (status >= 13) t.n[3] |= 1 << (status - 13);
    }
    SAME(mem.data(), wantMem, 40);
  }
  return ::testing::AssertionSuccess();
}

// Midpoints of consecutive quantised LSP sets of the coder and of the Annex E
// backward filters.
Result midpoints(Golden& g, Golden&, Tally& t) {
  const std::vector<int16_t> a = g.v16(10), b = g.v16(10);
  int16_t out[10];
  CALL(voksInterpolate_G729_16s(a.data(), b.data(), out, 10));
  return same(out, g.v16(10), 10, t.n[0]);
}

// Weighted interpolation with scale 12 from the Annex E backward-filter
// interpolation (truncated), and its rounded form, whose values come from
// its definition saturate16((a wa + b wb + 2^(s-1)) >> s) in 64 bits (no
// reference routine rounds the weighted sum).
template <bool kRounded>
Result weighted(Golden& g, Golden&, Tally& t) {
  const int len = g.w16();
  const int16_t wa = g.w16(), wb = g.w16();
  const int scale = g.w16();
  const std::vector<int16_t> a = g.v16(len), b = g.v16(len);
  std::vector<int16_t> out(len);
  if (kRounded) {
    CALL(voksInterpolateC_NR_G729_16s_Sfs(a.data(), wa, b.data(), wb, out.data(), len, scale));
  } else {
    CALL(voksInterpolateC_G729_16s_Sfs(a.data(), wa, b.data(), wb, out.data(), len, scale));
  }
  return same(out.data(), g.v16(len), len, t.n[0]);
}

// Consecutive frames of the Annex E speech and of the OVPITCH input from a
// zero state, the latter also at four times its level and as a full-scale
// square wave: the accumulators exceed 0x3FFFFFFF and the sums saturate.
// The state is used at an odd address.  n[1]: frames.
Result hybridWindow(Golden& g, Golden&, Tally& t) {
  int size = 0;
  CALL(voksWinHybridGetStateSize_G729E_16s(&size));
  const int count = g.w16();
  std::vector<int16_t> x = g.v16(65);
  std::vector<unsigned char> state(size + 1);
  CALL(voksWinHybridInit_G729E_16s(state.data() + 1));
  for (int f = 0; f < count; ++f, ++t.n[1]) {
    const std::vector<int16_t> in = g.v16(80);
    x.insert(x.end(), in.begin(), in.end());
    int32_t r[31];
    CALL(voksWinHybrid_G729E_16s32s(x.data() + x.size() - 145, r, state.data() + 1));
    SAME(r, g.v32(31), 31);
  }
  return ::testing::AssertionSuccess();
}

Result lpToLspFloat(Golden& g, Golden&, Tally& t) {
  const std::vector<float> a = g.vf(11), old = g.vf(10), want = g.vf(10), wantA = g.vf(10);
  float lsp[10], lspA[10];
  CALL(voksLPCToLSP_G729_32f(a.data(), old.data(), lsp));
  CALL(voksLPCToLSP_G729A_32f(a.data(), old.data(), lspA));
  NEAR(lsp, want, 10);
  return near(lspA, wantA, 10, t.n[0]);
}

Result lspToLpFloat(Golden& g, Golden&, Tally& t) {
  const std::vector<float> lsp = g.vf(10);
  float a[11];
  CALL(voksLSPToLPC_G729_32f(lsp.data(), a));
  return near(a, g.vf(11), 11, t.n[0]);
}

// Stable sets must agree; where the reference keeps its last stable filter
// the export ends the recursion itself and reports a residual energy of 0.001.
Result levinsonFloat(Golden& g, Golden&, Tally& t) {
  const int order = g.w16(), unstable = g.w16();
  const std::vector<float> r = g.vf(order + 1);
  std::vector<float> a(order + 1), rc(order);
  float err = -1.0f;
  CALL(voksLevinsonDurbin_G729_32f(r.data(), order, a.data(), rc.data(), &err));
  if (unstable) return err == 0.001f ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "energy";
  NEAR(a.data(), g.vf(order + 1), order + 1);
  NEAR(rc.data(), g.vf(order), order);
  return near(&err, g.vf(1), 1, t.n[0]);
}

// Runs from the float decoder (erased frames included); n[1]: frames.
Result lsfDecoderFloat(Golden& g, Golden&, Tally& t) {
  const int count = g.w16();
  g.w16();
  std::vector<float> mem = g.vf(40);
  for (int f = 0; f < count; ++f, ++t.n[1]) {
    const std::vector<int16_t> head = g.v16(6);
    const std::vector<float> vec = g.vf(10), res = g.vf(10), want = pushed(mem, res);
    if (head[0] == 1) {
      CALL(voksLSFDecodeErased_G729_32f(head[1], mem.data(), vec.data()));
    } else {
      float lsf[10];
      CALL(voksLSFDecode_G729_32f(head.data() + 1, mem.data(), lsf));
      NEAR(lsf, vec, 10);
    }
    NEAR(mem.data(), want, 40);
    std::copy(res.begin(), res.end(), mem.begin());
  }
  return ::testing::AssertionSuccess();
}

// n[1]: frames.
Result lspQuantiserFloat(Golden& g, Golden&, Tally& t) {
  const int count = g.w16();
  g.w16();
  std::vector<float> mem = g.vf(40);
  for (int f = 0; f < count; ++f, ++t.n[1]) {
    const std::vector<float> lsp = g.vf(10), wantQ = g.vf(10), wantRes = g.vf(10), want = pushed(mem, wantRes);
    const std::vector<int16_t> wantPacked = g.v16(2);
    float q[10], res[10];
    int16_t packed[2];
    CALL(voksLSPQuant_G729E_32f(lsp.data(), mem.data(), res, q, packed));
    SAME(packed, wantPacked, 2);
    NEAR(q, wantQ, 10);
    NEAR(res, wantRes, 10);
    NEAR(mem.data(), want, 40);
    std::copy(wantRes.begin(), wantRes.end(), mem.begin());
  }
  return ::testing::AssertionSuccess();
}

// The Annex B float SID quantiser and decoder (tests/golden/g729/sid) in
// runs from a memory; n[1]: frames, n[3]: the quantiser's predictors (bit
// per predictor: both used).
Result sidQuantiserFloat(Golden& g, Golden&, Tally& t) {
  const int count = g.w16();
  std::vector<float> mem = g.vf(40);
  for (int f = 0; f < count; ++f, ++t.n[1]) {
    const std::vector<float> lsf = g.vf(10), wantQ = g.vf(10);
    const std::vector<int16_t> wantIdx = g.v16(3);
    const std::vector<float> wantRes = g.vf(10), want = pushed(mem, wantRes);
    float q[10];
    int16_t idx[3];
    CALL(voksLSFQuant_G729B_32f(lsf.data(), mem.data(), q, idx));
    SAME(idx, wantIdx, 3);
    NEAR(q, wantQ, 10);
    NEAR(mem.data(), want, 40);
    t.n[3] |= 1 << (wantIdx[0] & 1);
    std::copy(wantRes.begin(), wantRes.end(), mem.begin());  // keep the runs on the reference path
  }
  return ::testing::AssertionSuccess();
}

Result sidDecoderFloat(Golden& g, Golden&, Tally& t) {
  const int count = g.w16();
  std::vector<float> mem = g.vf(40);
  for (int f = 0; f < count; ++f, ++t.n[1]) {
    const std::vector<int16_t> idx = g.v16(3);
    const std::vector<float> wantLsf = g.vf(10), wantRes = g.vf(10), want = pushed(mem, wantRes);
    float lsf[10];
    CALL(voksLSFDecode_G729B_32f(idx.data(), mem.data(), lsf));
    NEAR(lsf, wantLsf, 10);
    NEAR(mem.data(), want, 40);
    std::copy(wantRes.begin(), wantRes.end(), mem.begin());
  }
  return ::testing::AssertionSuccess();
}

struct Replay {
  const char* name;
  const char* file;
  const char* partner;  // a second file read in step, or ""
  Check check;
  Tally atLeast;        // counts to exceed (n[1], n[2] when nonzero); n[3] to equal when nonzero
};

const Replay kReplays[] = {
    {"LagWindow", "lp/lagwin.bin", "", lagWindow, {{70}}},
    {"LevinsonDurbin", "lp/levinson.bin", "", levinson, {{250, 20, 20}}},
    {"LpToLsp", "lp/lpc2lsp.bin", "", lpToLsp, {{180, 5}}},
    {"LspToLp", "lp/lsp2lpc.bin", "", lspToLp, {{200}}},
    {"LspToLsf", "lp/lsp2lsf.bin", "", lspToLsf, {{140}}},
    {"LsfToLsp", "lp/lsf2lsp.bin", "", lsfToLsp, {{140}}},
    {"LspQuantiser", "lp/lspq.bin", "", lspQuantiser, {{0, 350, 50}}},
    {"LsfQuantiser", "lp/lsfq.bin", "lp/lspq.bin", lsfQuantiser, {{0, 350}}},
    {"LsfDecoder", "lp/lsfdec.bin", "", lsfDecoder, {{0, 300, 40, 7}}},
    {"Midpoints", "lp/interp.bin", "", midpoints, {{100}}},
    {"Weighted", "lp/interpc.bin", "", weighted<false>, {{20}}},
    {"WeightedRounded", "lp/interpnr.bin", "", weighted<true>, {{0}}},
    {"HybridWindow", "lp/winhyb.bin", "", hybridWindow, {{0, 60}}},
    {"FloatLpToLsp", "lp/f_lpc2lsp.bin", "", lpToLspFloat, {{80}}},
    {"FloatLspToLp", "lp/f_lsp2lpc.bin", "", lspToLpFloat, {{60}}},
    {"FloatLevinsonDurbin", "lp/f_levinson.bin", "", levinsonFloat, {{40}}},
    {"FloatLsfDecoder", "lp/f_lsfdec.bin", "", lsfDecoderFloat, {{0, 120}}},
    {"FloatLspQuantiserAnnexE", "lp/f_lspq.bin", "", lspQuantiserFloat, {{0, 80}}},
    {"FloatSidQuantiser", "sid/f_sidq.bin", "", sidQuantiserFloat, {{0, 199, 0, 3}}},
    {"FloatSidDecoder", "sid/f_siddec.bin", "", sidDecoderFloat, {{0, 99}}},
};

class G729LpGolden : public ::testing::TestWithParam<Replay> {};

TEST_P(G729LpGolden, EveryRecordMatches) {
  const Replay& r = GetParam();
  const std::string dir = "g729/";
  Golden g(dir + r.file), partner(dir + (*r.partner ? r.partner : r.file));
  ASSERT_TRUE(g.ok() && partner.ok()) << r.file;
  Tally t;
  for (; !g.done(); ++t.n[0]) ASSERT_TRUE(r.check(g, partner, t));
  EXPECT_GT(t.n[0], r.atLeast.n[0]);
  for (int i = 1; i < 3; ++i)
    if (r.atLeast.n[i]) {
      EXPECT_GT(t.n[i], r.atLeast.n[i]) << "count " << i;
    }
  if (r.atLeast.n[3]) {
    EXPECT_EQ(t.n[3], r.atLeast.n[3]);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, G729LpGolden, ::testing::ValuesIn(kReplays),
                         [](const ::testing::TestParamInfo<Replay>& i) { return std::string(i.param.name); });

}  // namespace
