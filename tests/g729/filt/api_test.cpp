// Argument checks, state objects and the edge cases of the G.729 filters,
// phase dispersion and post-filter; the scalar and AVX2 kernels on random
// and extreme inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "check.h"
#include "common/basic_op.h"
#include "g729/filt_internal.h"
#include "g729/pst_internal.h"
#include "voksc.h"
#include "levels.h"

using vtest::Guard;
using vtest::noise;

namespace {

// A stable order-10 filter (Q12) of moderate gain.
const Vok16s kLp[11] = {4096, -6000, 4500, -2100, 900, -300, 120, -60, 30, -10, 5};


}  // namespace

// ---- argument checks ---------------------------------------------------------

TEST(G729FiltApi, FiltersRejectBadArgumentsWithoutWriting) {
  Vok16s x[80] = {}, y[40] = {}, mem[30] = {}, c[22] = {}, pm = 0;
  Vok32f xf[40] = {}, yf[40] = {}, af[31] = {}, mf[30] = {};
  int size = 0;
  unsigned char hp[24] = {};
  Guard g;
  g.watch(y, 40).watch(mem, 30).watch(x, 80).watch(hp, 24).watch(&size).watch(&pm).watch(yf, 40).watch(mf, 30);
  EXPECT_EACH_NULL(g, voksHighPassFilterSize_G729, &size);
  EXPECT_EACH_NULL(g, voksHighPassFilterInit_G729, c, hp);
  // Pointer before length before scale.
  EXPECT_NULLS_THEN(vokErrSize, g, voksHighPassFilter_G729_16s_ISfs, x, 0, 11, hp);
  EXPECT_REJECTS(vokErrScale, g, voksHighPassFilter_G729_16s_ISfs(x, 40, 11, hp));
  EXPECT_REJECTS(vokErrScale, g, voksHighPassFilter_G729_16s_ISfs(x, 40, 14, hp));
  EXPECT_NULLS_THEN(vokErrSize, g, voksSynthesisFilter_G729E_16s, kLp, 10, x, y, 0, vtest::may(mem));
  EXPECT_REJECTS(vokErrSize, g, voksSynthesisFilter_G729E_16s(kLp, 0, x, y, 40, mem));
  EXPECT_NULLS_THEN(vokErrSize, g, voksSynthesisFilter_G729E_16s_I, kLp, -1, x, 40, vtest::may(mem));
  EXPECT_EACH_NULL(g, voksResidualFilter_G729_16s, x + 10, kLp, y);
  EXPECT_NULLS_THEN(vokErrSize, g, voksResidualFilter_G729E_16s, kLp, 31, x + 31, y, 30);
  EXPECT_REJECTS(vokErrSize, g, voksResidualFilter_G729E_16s(kLp, 0, x + 10, y, 40));
  EXPECT_REJECTS(vokErrSize, g, voksResidualFilter_G729E_16s(kLp, 10, x + 10, y, 0));
  EXPECT_EACH_NULL(g, voksIIR16s_G729_16s, c, x, y, mem);
  EXPECT_EACH_NULL(g, voksIIR16sLow_G729_16s, c, x, y, mem);
  EXPECT_NULLS_THEN(vokErrSize, g, voksPreemphasize_G729A_16s, 100, x, y, 0, &pm);
  EXPECT_NULLS_THEN(vokErrSize, g, voksPreemphasize_G729A_16s_I, 100, x, -3, &pm);
  EXPECT_NULLS_THEN(vokErrSize, g, voksSynthesisFilter_G729_32f, af, 10, xf, yf, 641, mf);
  EXPECT_REJECTS(vokErrSize, g, voksSynthesisFilter_G729_32f(af, 31, xf, yf, 40, mf));
  EXPECT_REJECTS(vokErrSize, g, voksSynthesisFilter_G729_32f(af, 10, xf, yf, 0, mf));
  EXPECT_NULLS_THEN(vokErrSize, g, voksFilteredExcitation_G729_32f, af, yf, 0, 1.0f);
}

TEST(G729FiltApi, PostFilterRejectsBadArgumentsWithoutWriting) {
  Vok16s res[194] = {}, out[50] = {}, h[20] = {}, speech[50] = {}, v = 0, gain = 0;
  Vok32f sig[40] = {}, gf = 0;
  Guard g;
  g.watch(res, 194).watch(out, 50).watch(h, 20).watch(&v).watch(&gain).watch(sig, 40).watch(&gf);
  EXPECT_EACH_NULL(g, voksLongTermPostFilter_G729_16s, -1, 10, res, out, &v);
  for (const auto& bad : {std::pair{16384, 17}, {16384, 144}, {16385, 40}, {-1, 40}})
    EXPECT_REJECTS(vokErrRange, g, voksLongTermPostFilter_G729_16s(bad.first, bad.second, res, out, &v));
  EXPECT_NULLS_THEN(vokErrRange, g, voksLongTermPostFilter_G729A_16s, 146, speech + 10, kLp, res, out);
  EXPECT_REJECTS(vokErrRange, g, voksLongTermPostFilter_G729A_16s(17, speech + 10, kLp, res, out));
  EXPECT_NULLS_THEN(vokErrRange, g, voksLongTermPostFilter_G729B_16s, 144, speech + 10, kLp, res, out, &v, 1);
  EXPECT_REJECTS(vokErrRange, g, voksLongTermPostFilter_G729B_16s(40, speech + 10, kLp, res, out, &v, 3));
  EXPECT_REJECTS(vokErrRange, g, voksLongTermPostFilter_G729B_16s(40, speech + 10, kLp, res, out, &v, -1));
  EXPECT_EACH_NULL(g, voksShortTermPostFilter_G729_16s, kLp, speech, out + 10, h);
  EXPECT_EACH_NULL(g, voksTiltCompensation_G729_16s, h, out + 1);
  EXPECT_EACH_NULL(g, voksTiltCompensation_G729A_16s, speech, out + 1);
  EXPECT_EACH_NULL(g, voksTiltCompensation_G729E_16s, 100, speech + 1, out);
  EXPECT_EACH_NULL(g, voksGainControl_G729_16s_I, speech, out, &gain);
  EXPECT_EACH_NULL(g, voksGainControl_G729A_16s_I, speech, out, &gain);
  EXPECT_EACH_NULL(g, voksGainControl_G729_32f_I, 1.0f, 0.9875f, sig, &gf);
}

// ---- state objects -------------------------------------------------------------

TEST(G729FiltApi, PhaseDispersionStateAndUpdate) {
  int size = 0;
  ASSERT_EQ(voksPhaseDispersionGetStateSize_G729D_16s(&size), vokOk);
  std::vector<unsigned char> st(size, 0xAB);
  ASSERT_EQ(voksPhaseDispersionInit_G729D_16s(st.data()), vokOk);
  ASSERT_EQ(voksPhaseDispersionUpdate_G729D_16s(16384, 300, st.data()), vokOk);

  auto exc = noise(40, 3000, 7);
  Vok16s code[40] = {}, e1[40];
  Guard g;
  g.watch(st.data(), 20).watch(code, 40).watch(e1, 40).watch(&size);
  EXPECT_EACH_NULL(g, voksPhaseDispersionGetStateSize_G729D_16s, &size);
  EXPECT_EACH_NULL(g, voksPhaseDispersionInit_G729D_16s, st.data());
  EXPECT_EACH_NULL(g, voksPhaseDispersionUpdate_G729D_16s, 1, 1, st.data());
  EXPECT_EACH_NULL(g, voksPhaseDispersion_G729D_16s, exc.data(), e1, 1, 1, code, st.data());
}

// ---- filters ---------------------------------------------------------------------

TEST(G729FiltApi, SynthesisMemoryAndSplitsAgree) {
  auto x = noise(120, 6000, 11);
  Vok16s mem[10] = {}, y[120];
  ASSERT_EQ(voksSynthesisFilter_G729E_16s(kLp, 10, x.data(), y, 120, mem), vokOk);
  // Pieces shorter than the order carry the memory the same way.
  Vok16s mem2[10] = {};
  std::vector<Vok16s> z(x);
  for (int p = 0, step = 3; p < 120; p += step, step = step % 13 + 4)
    voksSynthesisFilter_G729E_16s_I(kLp, 10, z.data() + p, std::min(step, 120 - p), mem2);
  EXPECT_EQ(std::memcmp(z.data(), y, sizeof y), 0);
  EXPECT_EQ(std::memcmp(mem, mem2, sizeof mem), 0);
  // No memory: a zero history, nothing kept.
  Vok16s y2[40], zero[10] = {};
  ASSERT_EQ(voksSynthesisFilter_G729E_16s(kLp, 10, x.data(), y2, 40, nullptr), vokOk);
  ASSERT_EQ(voksSynthesisFilter_G729E_16s(kLp, 10, x.data(), y, 40, zero), vokOk);
  EXPECT_EQ(std::memcmp(y, y2, sizeof y2), 0);
  // A long order padded with zero coefficients equals the short filter.
  std::vector<Vok16s> a100(101, 0), mem100(100, 0);
  std::copy(kLp, kLp + 11, a100.begin());
  ASSERT_EQ(voksSynthesisFilter_G729E_16s(a100.data(), 100, x.data(), y2, 40, mem100.data()), vokOk);
  EXPECT_EQ(std::memcmp(y, y2, sizeof y2), 0);
}

TEST(G729FiltApi, PoleZeroIdentityAndMemory) {
  Vok16s c[22] = {};
  c[0] = 4096;
  c[11] = 4096;
  auto x = noise(40, 32767, 12);
  Vok16s y[40], mem[20] = {};
  ASSERT_EQ(voksIIR16s_G729_16s(c, x.data(), y, mem), vokOk);
  EXPECT_EQ(std::memcmp(y, x.data(), sizeof y), 0);
  for (int half : {0, 10}) EXPECT_EQ(std::memcmp(mem + half, x.data() + 30, 10 * sizeof(Vok16s)), 0) << half;
  // Where the chain cannot saturate both forms agree.
  for (int i = 0; i < 11; ++i) c[i] = kLp[i];
  c[12] = -2000;
  auto s = noise(40, 3000, 13);
  Vok16s m1[20] = {}, m2[20] = {}, y1[40], y2[40];
  voksIIR16s_G729_16s(c, s.data(), y1, m1);
  voksIIR16sLow_G729_16s(c, s.data(), y2, m2);
  EXPECT_EQ(std::memcmp(y1, y2, sizeof y1), 0);
}

// ---- post-filter edge cases -----------------------------------------------------

TEST(G729FiltApi, AnnexBFrameTypes) {
  auto sp = noise(50, 5000, 31);
  std::vector<Vok16s> buf(192, 0), buf2(192, 0);
  for (int i = 0; i < 192; ++i) buf[i] = buf2[i] = static_cast<Vok16s>((i % 40 == 0) ? 9000 : 0);
  Vok16s out[40], out2[40], v = -1, v2 = -1;
  // After a non-speech frame (those are golden records), a delay below 18 is
  // searched as 18.
  ASSERT_EQ(voksLongTermPostFilter_G729B_16s(40, sp.data() + 10, kLp, buf.data(), out, &v, 2), vokOk);
  ASSERT_EQ(voksLongTermPostFilter_G729B_16s(5, sp.data() + 10, kLp, buf.data(), out, &v, 1), vokOk);
  ASSERT_EQ(voksLongTermPostFilter_G729B_16s(18, sp.data() + 10, kLp, buf2.data(), out2, &v2, 2), vokOk);
  ASSERT_EQ(voksLongTermPostFilter_G729B_16s(18, sp.data() + 10, kLp, buf2.data(), out2, &v2, 1), vokOk);
  EXPECT_EQ(std::memcmp(out, out2, sizeof out), 0);
  EXPECT_EQ(v, v2);
}

// In place gives the same as out of place (the factors, 0 among them, are
// golden records).
TEST(G729FiltApi, TiltCompensationInPlace) {
  auto x = noise(41, 32767, 51), z = x;
  Vok16s y[40];
  ASSERT_EQ(voksTiltCompensation_G729E_16s(-20000, x.data() + 1, y), vokOk);
  ASSERT_EQ(voksTiltCompensation_G729E_16s(-20000, z.data() + 1, z.data() + 1), vokOk);
  EXPECT_EQ(std::memcmp(y, z.data() + 1, sizeof y), 0);
}

// The float gain control on a silent subframe and on equal signals (the
// 16-bit forms meet both in their golden records).
TEST(G729FiltApi, FloatGainControlOnSilenceAndEqualSignals) {
  float fs[40] = {}, fg = 1.0f;
  ASSERT_EQ(voksGainControl_G729_32f_I(100.0f, 0.9875f, fs, &fg), vokOk);
  EXPECT_EQ(fg, 0.0f);
  auto s = noise(40, 3000, 62);
  float f1[40], f2 = 1.0f, gainIn = 0;
  for (int i = 0; i < 40; ++i) gainIn += std::fabs(f1[i] = static_cast<float>(s[i]));
  ASSERT_EQ(voksGainControl_G729_32f_I(gainIn, 0.9875f, f1, &f2), vokOk);
  EXPECT_NEAR(f2, 1.0f, 1e-5f);
}

// ---- kernels ----------------------------------------------------------------------

TEST(G729FiltKernels, ResidualScalarAndAvx2Agree) {
  REQUIRE_AVX2();
  std::mt19937 rng(71);
  for (int trial = 0; trial < 3000; ++trial) {
    const int order = trial % 4 == 0 ? 10 : 1 + static_cast<int>(rng() % 32), len = 1 + static_cast<int>(rng() % 100);
    const int ampX = trial % 3 == 0 ? 32767 : 1 + static_cast<int>(rng() % 8000);
    const int ampA = trial % 5 == 0 ? 32767 : 1 + static_cast<int>(rng() % 6000);
    auto x = noise(order + len, ampX, static_cast<unsigned>(rng()));
    auto a = noise(order + 1, ampA, static_cast<unsigned>(rng()));
    if (trial % 7 == 0)
      for (auto& v : x) v = (rng() & 1) ? -32768 : 32767;
    std::vector<Vok16s> y1(len), y2(len);
    voksc::g729::residualFilter_scalar(a.data(), order, x.data() + order, y1.data(), len);
    voksc::g729::residualFilter_avx2(a.data(), order, x.data() + order, y2.data(), len);
    ASSERT_EQ(y1, y2) << "order " << order << " len " << len;
  }
}

// The synthesis filter as the operator chain writes it, with its overflow flag.
bool chainSynthesis(const Vok16s* a, int order, const Vok16s* x, Vok16s* y, int len, const Vok16s* mem) {
  using namespace voksc::op;
  std::vector<Vok16s> h(static_cast<size_t>(order), 0);
  if (mem) h.assign(mem, mem + order);
  bool ovf = false;
  for (int n = 0; n < len; ++n) {
    Word32 s = L_mult_o(x[n], a[0], ovf);
    for (int j = 1; j <= order; ++j) s = L_msu_o(s, a[j], h[h.size() - j], ovf);
    s = L_shl_o(s, 3, ovf);
    if (s >= 0x7FFF8000) ovf = true;
    y[n] = round_fx(s);
    h.push_back(y[n]);
  }
  return ovf;
}

TEST(G729FiltKernels, SynthesisFormsAgreeWithTheChain) {
  std::mt19937 rng(73);
  for (int trial = 0; trial < 4000; ++trial) {
    const int order = trial % 3 == 0 ? 10 : (trial % 3 == 1 ? 1 + static_cast<int>(rng() % 32) : 30);
    const int len = 1 + static_cast<int>(rng() % 90);
    // Quiet, speech-like and saturating coefficient sets and signals.
    const int ampA = trial % 4 == 0 ? 32767 : (trial % 4 == 1 ? 12000 : 1 + static_cast<int>(rng() % 3000));
    const int ampX = trial % 5 == 0 ? 32767 : 1 + static_cast<int>(rng() % 9000);
    auto a = noise(order + 1, ampA, static_cast<unsigned>(rng()));
    a[0] = trial % 6 == 0 ? static_cast<Vok16s>(-32768) : 4096;
    auto x = noise(len, ampX, static_cast<unsigned>(rng()));
    auto mem = noise(order, trial % 7 == 0 ? 32767 : 3000, static_cast<unsigned>(rng()));
    if (trial % 11 == 0) std::fill(mem.begin(), mem.end(), static_cast<Vok16s>(-32768));
    const bool withMem = trial % 9 != 0;
    std::vector<Vok16s> want(len), y1(len), y2(len);
    const bool f0 = chainSynthesis(a.data(), order, x.data(), want.data(), len, withMem ? mem.data() : nullptr);
    auto m1 = mem, m2 = mem;
    const bool f1 =
        voksc::g729::synthesisFilter_scalar(a.data(), order, x.data(), y1.data(), len, withMem ? m1.data() : nullptr, true);
    ASSERT_EQ(y1, want) << "scalar, order " << order << " len " << len << " trial " << trial;
    ASSERT_EQ(f1, f0) << "scalar flag, trial " << trial;
    if (!vtest::haveAvx2()) continue;
    // Every eighth trial filters in place.
    if (trial % 8 == 0) y2 = x;
    const bool f2 = voksc::g729::synthesisFilter_avx2(a.data(), order, trial % 8 == 0 ? y2.data() : x.data(), y2.data(),
                                                      len, withMem ? m2.data() : nullptr, true);
    ASSERT_EQ(y2, want) << "avx2, order " << order << " len " << len << " trial " << trial;
    ASSERT_EQ(f2, f0) << "avx2 flag, trial " << trial;
    ASSERT_EQ(m1, m2);
  }
}

// Outputs that grow part-way through a block past the bound under which a
// sample runs in plain 32-bit arithmetic ((2^30 - max|x| a0) / sum|a_j|,
// about 14200 for this filter), then saturate or fall back below it.  The
// kernels must leave the fast recursion at the first such output, keep the
// exact chain while the history holds one, and resume across chunks.
TEST(G729FiltKernels, SynthesisCrossesTheOutputBoundMidBlock) {
  // (1 - 0.81 z^-2)^5 in Q12: a gain of about 3600 at DC.
  const Vok16s a[11] = {4096, 0, -16589, 0, 26874, 0, -21768, 0, 8816, 0, -1428};
  std::mt19937 rng(75);
  for (int trial = 0; trial < 24; ++trial) {
    const int amp = trial % 4 == 3 ? 30 : 5 + trial % 4;  // 30 saturates
    const int len = 120 + static_cast<int>(rng() % 100), start = static_cast<int>(rng() % 20);
    std::vector<Vok16s> x(len, 0);
    for (int n = start; n < start + 60; ++n) x[n] = static_cast<Vok16s>(trial & 1 ? amp : -amp);
    auto mem = noise(10, 200, static_cast<unsigned>(rng()));
    std::vector<Vok16s> want(len), y1(len), y2 = x;
    const bool f0 = chainSynthesis(a, 10, x.data(), want.data(), len, mem.data());
    int peak = 0;
    for (int v : want) peak = std::max(peak, std::abs(v));
    ASSERT_GT(peak, 15000) << "the outputs must cross the bound";
    auto m1 = mem, m2 = mem;
    ASSERT_EQ(voksc::g729::synthesisFilter_scalar(a, 10, x.data(), y1.data(), len, m1.data(), true), f0);
    ASSERT_EQ(y1, want) << "scalar, trial " << trial;
    if (!vtest::haveAvx2()) continue;
    ASSERT_EQ(voksc::g729::synthesisFilter_avx2(a, 10, y2.data(), y2.data(), len, m2.data(), true), f0);
    ASSERT_EQ(y2, want) << "avx2, trial " << trial;
    ASSERT_EQ(m1, m2);
  }
}

// The second-order section as the operator chain writes it; the state is
// the coefficients, x1, x2 and the split outputs y1, y2.
struct ChainHighPass {
  Vok16s a[3], b[3], x1 = 0, x2 = 0, y1h = 0, y1l = 0, y2h = 0, y2l = 0;
  void run(Vok16s* x, int len, int q) {
    using namespace voksc::op;
    auto mpy = [](Word16 hi, Word16 lo, Word16 n) { return L_mac(L_mult(hi, n), mult(lo, n), 1); };
    for (int i = 0; i < len; ++i) {
      const Word16 in = x[i];
      Word32 t = L_add(mpy(y1h, y1l, a[1]), mpy(y2h, y2l, a[2]));
      t = L_mac(L_mac(L_mac(t, in, b[0]), x1, b[1]), x2, b[2]);
      t = L_shl(t, static_cast<Word16>(15 - q));
      x[i] = q == 12 ? round_fx(t) : round_fx(L_shl(t, 1));
      y2h = y1h;
      y2l = y1l;
      y1h = static_cast<Word16>(t >> 16);
      y1l = static_cast<Word16>((t >> 1) & 0x7FFF);
      x2 = x1;
      x1 = in;
    }
  }
};

TEST(G729FiltKernels, HighPassAgreesWithTheChain) {
  std::mt19937 rng(74);
  const Vok16s pre[6] = {4096, 7807, -3733, 1899, -3798, 1899}, post[6] = {8192, 15836, -7667, 7699, -15398, 7699};
  // Bounded blocks for inputs up to 18900 that still clamp the history from
  // about 8200 on: a quiet block then starts from a clamped history.
  const Vok16s clamping[6] = {8192, 15836, -7667, 16000, 0, 0};
  for (int trial = 0; trial < 600; ++trial) {
    const int q = trial & 1 ? 13 : 12;
    Vok16s c[6];
    if (trial % 3 == 2) {
      for (auto& v : c) v = static_cast<Vok16s>(rng());  // anything, saturating chains included
    } else {
      std::memcpy(c, trial % 12 == 4 || trial % 12 == 9 ? clamping : trial % 3 == 0 ? pre : post, sizeof c);
    }
    int size = 0;
    ASSERT_EQ(voksHighPassFilterSize_G729(&size), vokOk);
    std::vector<unsigned char> state(static_cast<size_t>(size));
    ASSERT_EQ(voksHighPassFilterInit_G729(c, state.data()), vokOk);
    ChainHighPass ref;
    std::memcpy(ref.a, c, sizeof ref.a);
    std::memcpy(ref.b, c + 3, sizeof ref.b);
    const bool clamps = c[3] == clamping[3] && c[4] == 0;
    for (int block = 0; block < 6; ++block) {
      const int len = 1 + static_cast<int>(rng() % (clamps && block & 1 ? 8 : 80));
      auto x = noise(len, (trial + block) % 4 == 0 ? 32767 : 1 + static_cast<int>(rng() % 12000),
                     static_cast<unsigned>(rng()));
      if ((trial + block) % 5 == 0)
        for (auto& v : x) v = (rng() & 1) ? static_cast<Vok16s>(-32768) : static_cast<Vok16s>(32767);
      if (clamps) std::fill(x.begin(), x.end(), static_cast<Vok16s>(block & 1 ? rng() % 300 : 18000));
      auto want = x;
      ref.run(want.data(), len, q);
      ASSERT_EQ(voksHighPassFilter_G729_16s_ISfs(x.data(), len, q, state.data()), vokOk);
      ASSERT_EQ(x, want) << "trial " << trial << " block " << block;
      // The state's last six words: x1, x2 and the split past outputs; a
      // history off by one unit shows here long before it reaches a sample.
      Vok16s tail[6];
      std::memcpy(tail, state.data() + state.size() - sizeof tail, sizeof tail);
      const Vok16s refTail[6] = {ref.x1, ref.x2, ref.y1h, ref.y1l, ref.y2h, ref.y2l};
      ASSERT_EQ(std::memcmp(tail, refTail, sizeof tail), 0) << "state, trial " << trial << " block " << block;
    }
  }
}

TEST(G729FiltKernels, PostFilterKernelsScalarAndAvx2Agree) {
  REQUIRE_AVX2();
  std::mt19937 rng(72);
  for (int trial = 0; trial < 2000; ++trial) {
    const int n = 1 + static_cast<int>(rng() % 63);
    auto a = noise(n, 4096, static_cast<unsigned>(rng()));
    auto b = noise(n, 8192, static_cast<unsigned>(rng()));
    if (trial % 9 == 0) {
      std::fill(a.begin(), a.end(), static_cast<Vok16s>(-4096));
      std::fill(b.begin(), b.end(), static_cast<Vok16s>(-8192));
    }
    ASSERT_EQ(voksc::g729::pstDot_scalar(a.data(), b.data(), n), voksc::g729::pstDot_avx2(a.data(), b.data(), n));
    // The Annex A delay search on a residual with history: every input
    // family, the delay ranges' ends, and a subframe that the delays reach.
    const int t0Min = 15 + static_cast<int>(rng() % 125);
    // (Noise up to 20735 puts the largest quarter on both sides of the bound.)
    const auto res = trial % 10 == 9 ? noise(194, 20735, static_cast<unsigned>(rng()))
                                     : vtest::make(rng, 194, vtest::kKinds[trial % 9]);
    voksc::g729::PstSearchA f1{}, f2{};
    const bool ok1 = voksc::g729::pstSearchA_scalar(res.data() + 154, t0Min, &f1);
    ASSERT_EQ(ok1, voksc::g729::pstSearchA_avx2(res.data() + 154, t0Min, &f2));
    if (ok1) {
      ASSERT_EQ(std::memcmp(&f1, &f2, sizeof f1), 0) << t0Min;
    }
    const int taps = (trial & 1) ? 16 : 4, count = 1 + static_cast<int>(rng() % 48);
    auto h = noise(taps, taps == 4 ? 32767 : 16383, static_cast<unsigned>(rng()));
    auto x = noise(taps + count, trial % 4 == 0 ? 4096 : 2000, static_cast<unsigned>(rng()));
    std::vector<Vok16s> y1(count), y2(count);
    voksc::g729::pstInterp_scalar(h.data(), taps, x.data() + taps - 1, y1.data(), count);
    voksc::g729::pstInterp_avx2(h.data(), taps, x.data() + taps - 1, y2.data(), count);
    ASSERT_EQ(y1, y2) << taps << " taps, " << count;
  }
}

// The smoothed gains and their products over the whole range of the
// smoothing's g0 and of the starting gain (the extremes, zero, and random
// pairs), on every input family.
TEST(G729FiltKernels, GainSmoothingScalarAndAvx2Agree) {
  REQUIRE_AVX2();
  std::mt19937 rng(75);
  const int16_t edges[] = {-32768, -1, 0, 1, 4096, 32766, 32767};
  for (int trial = 0; trial < 20000; ++trial) {
    const int16_t g0 = static_cast<int16_t>(trial < 49 ? (trial % 7 == 6 ? 3276 : trial % 7) : rng() % 3277);
    const int16_t start = trial < 49 ? edges[trial / 7] : static_cast<int16_t>(rng());
    auto y1 = vtest::make(rng, 40, vtest::kKinds[trial % 9]);
    auto y2 = y1;
    const int16_t e1 = voksc::g729::agcApply_scalar(start, g0, y1.data());
    const int16_t e2 = voksc::g729::agcApply_avx2(start, g0, y2.data());
    ASSERT_EQ(y1, y2) << start << " " << g0;
    ASSERT_EQ(e1, e2);
  }
}

TEST(G729FiltKernels, LongTermPostFilterScalarAndAvx2Agree) {
  REQUIRE_AVX2();
  std::mt19937 rng(74);
  for (int trial = 0; trial < 1500; ++trial) {
    const int t0 = 18 + static_cast<int>(rng() % 126), period = (trial & 1) ? t0 : 18 + static_cast<int>(rng() % 130);
    const int amp = trial % 4 == 0 ? 32767 : 1 + static_cast<int>(rng() % 20000);
    std::vector<Vok16s> res(192);
    for (int i = 0; i < 192; ++i)
      res[i] = static_cast<Vok16s>((i % period == 0 ? amp : 0) + static_cast<int>(rng() % 201) - 100);
    const Vok16s factor = static_cast<Vok16s>((trial & 2) ? 16384 : rng() % 8193);
    Vok16s y1[40], y2[40], v1 = -1, v2 = -2;
    voksc::g729::longTermPostFilter_scalar(factor, t0, res.data() + 152, y1, &v1);
    voksc::g729::longTermPostFilter_avx2(factor, t0, res.data() + 152, y2, &v2);
    ASSERT_EQ(std::memcmp(y1, y2, sizeof y1), 0) << trial;
    ASSERT_EQ(v1, v2);
  }
}

TEST(G729FiltKernels, FilteredExcitationScalarAndAvx2Agree) {
  REQUIRE_AVX2();
  std::mt19937 rng(73);
  std::uniform_real_distribution<float> u(-1000.0f, 1000.0f);
  for (int len = 1; len < 90; ++len) {
    std::vector<float> h(len), y1(len), y2;
    for (auto& v : h) v = u(rng);
    for (auto& v : y1) v = u(rng);
    y2 = y1;
    const float e = u(rng);
    voksc::g729::filteredExcitation_scalar(h.data(), y1.data(), len, e);
    voksc::g729::filteredExcitation_avx2(h.data(), y2.data(), len, e);
    ASSERT_EQ(std::memcmp(y1.data(), y2.data(), len * sizeof(float)), 0) << len;
  }
}
