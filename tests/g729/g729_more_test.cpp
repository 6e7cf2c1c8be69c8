// The Annex E hybrid window, the Annex B noise generator, and the float
// forms against their 16-bit counterparts (the 16-bit forms are proven bit
// for bit by the official vectors and the differential run through vokcodec).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "check.h"
#include "voksc.h"

namespace {
const Vok16s kLsp[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
std::vector<Vok16s> noise(int n, int amp, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Vok16s> v(static_cast<std::size_t>(n));
  for (auto& x : v) x = static_cast<Vok16s>(static_cast<int>(rng() % (2 * amp + 1)) - amp);
  return v;
}
}  // namespace

TEST(G729AnnexE, HybridWindowFixedAndFloatAgree) {
  int n = 0;
  ASSERT_EQ(voksWinHybridGetStateSize_G729E_16s(&n), vokOk);
  EXPECT_EQ(n, 124);
  ASSERT_EQ(voksWinHybridGetStateSize_G729E_32f(&n), vokOk);
  EXPECT_EQ(n, 124);
  std::vector<unsigned char> s16(124), s32(124);
  ASSERT_EQ(voksWinHybridInit_G729E_16s(s16.data()), vokOk);
  ASSERT_EQ(voksWinHybridInit_G729E_32f(s32.data()), vokOk);
  for (int frame = 0; frame < 5; ++frame) {
    auto x = noise(145, 4000, 10 + frame);
    std::vector<float> xf(x.begin(), x.end());
    Vok32s r[31];
    float rf[31];
    ASSERT_EQ(voksWinHybrid_G729E_16s32s(x.data(), r, s16.data()), vokOk);
    ASSERT_EQ(voksWinHybrid_G729E_32f(xf.data(), rf, s32.data()), vokOk);
    // Window products are truncated to 16 bits in the fixed form: 0.1 %.
    for (int i = 0; i < 31; i += 10) EXPECT_NEAR(r[i], rf[i], std::fabs(rf[0]) * 2e-3 + 64) << i;
  }
}

TEST(G729AnnexB, NoiseGeneratorIsSequential) {
  Vok16s s1 = 11111, s2 = 11111, a[5], b[5];
  ASSERT_EQ(voksRandomNoiseExcitation_G729B_16s(&s1, a, 5), vokOk);
  ASSERT_EQ(voksRandomNoiseExcitation_G729B_16s(&s2, b, 4), vokOk);
  ASSERT_EQ(voksRandomNoiseExcitation_G729B_16s(&s2, b + 4, 1), vokOk);
  EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
  EXPECT_EQ(s1, s2);
  // 60 generator steps.
  uint16_t s = 11111;
  for (int i = 0; i < 60; ++i) s = static_cast<uint16_t>(s * 31821u + 13849u);
  EXPECT_EQ(static_cast<uint16_t>(s1), s);
  Vok16s s3 = 11111;
  float f[5];
  ASSERT_EQ(voksRandomNoiseExcitation_G729B_16s32f(&s3, f, 5), vokOk);
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(f[i] * 4.0f, a[i], 1.0f);
}

TEST(G729Float, MatchesTheFixedForms) {
  Vok16s a16[11];
  voksLSPToLPC_G729_16s(kLsp, a16);
  float lsp[10], a[11];
  for (int i = 0; i < 10; ++i) lsp[i] = kLsp[i] / 32768.0f;
  ASSERT_EQ(voksLSPToLPC_G729_32f(lsp, a), vokOk);
  for (int i = 0; i <= 10; ++i) EXPECT_NEAR(a[i] * 4096.0f, a16[i], 2.0f) << i;
  float back[10], backA[10];
  ASSERT_EQ(voksLPCToLSP_G729_32f(a, lsp, back), vokOk);
  ASSERT_EQ(voksLPCToLSP_G729A_32f(a, lsp, backA), vokOk);
  for (int i = 0; i < 10; ++i) {
    EXPECT_NEAR(back[i], lsp[i], 2e-3) << i;
    EXPECT_NEAR(backA[i], lsp[i], 5e-3) << i;
  }
  float r[11], af[11], rc[10], err;
  double v = 1.0;
  for (int k = 0; k <= 10; ++k, v *= 0.9) r[k] = static_cast<float>(v);
  ASSERT_EQ(voksLevinsonDurbin_G729_32f(r, 10, af, rc, &err), vokOk);
  EXPECT_NEAR(af[1], -0.9f, 1e-4);
  EXPECT_NEAR(err, 0.19f, 1e-3);
  // Synthesis inverts the float residual.
  float x[40], y[40], mem[10] = {}, res[40];
  for (int i = 0; i < 40; ++i) x[i] = std::sin(i * 0.3f) * 1000.0f;
  for (int n = 0; n < 40; ++n) {
    res[n] = x[n];
    for (int i = 1; i <= 10 && n - i >= 0; ++i) res[n] += a[i] * x[n - i];
  }
  ASSERT_EQ(voksSynthesisFilter_G729_32f(a, 10, res, y, 40, mem), vokOk);
  for (int i = 0; i < 40; ++i) EXPECT_NEAR(y[i], x[i], 0.05f);
  vtest::Guard g;
  g.watch(y, 40).watch(mem, 10);
  EXPECT_REJECTS(vokErrSize, g, voksSynthesisFilter_G729_32f(a, 10, res, y, 641, mem));
  // LSF decoding: the float decoder tracks the fixed one (Q13 radians).
  Vok16s m16[40];
  float m32[40];
  const Vok16s reset[10] = {2339, 4679, 7018, 9358, 11698, 14037, 16377, 18717, 21056, 23396};
  for (int k = 0; k < 4; ++k)
    for (int j = 0; j < 10; ++j) {
      m16[10 * k + j] = reset[j];
      m32[10 * k + j] = reset[j] / 8192.0f;
    }
  const Vok16s idx[4] = {1, 40, 10, 20};
  Vok16s l16[10];
  float l32[10];
  voksLSFDecode_G729_16s(idx, m16, l16);
  ASSERT_EQ(voksLSFDecode_G729_32f(idx, m32, l32), vokOk);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(l32[i] * 8192.0f, l16[i], 4.0f) << i;
  ASSERT_EQ(voksLSFDecodeErased_G729_32f(1, m32, l32), vokOk);
  EXPECT_EQ(voksLSFDecodeErased_G729_32f(3, m32, l32), vokErrIndex);
}

TEST(G729Float, CorrelationMatrixMatchesFixed) {
  auto h16 = noise(40, 2000, 9);
  std::vector<float> hf(h16.begin(), h16.end());
  Vok32s r32[616];
  float rf[616];
  ASSERT_EQ(voksToeplizMatrix_G729_32f(hf.data(), rf), vokOk);
  // The fixed form scales h first; compare shapes through the diagonal ratio.
  ASSERT_EQ(voksToeplizMatrix_G729_16s32s(h16.data(), r32), vokOk);
  double k = static_cast<double>(r32[0]) / rf[0];
  for (int i = 0; i < 616; i += 37) EXPECT_NEAR(r32[i], rf[i] * k, std::fabs(r32[0]) * 1e-3 + 100) << i;
  // The energy is the first diagonal entry of position 0 (all 40 samples).
  float dot = 0;
  ASSERT_EQ(voksDotProd_G729A_32f(hf.data(), hf.data(), 40, &dot), vokOk);
  EXPECT_FLOAT_EQ(dot, rf[0]);
}

TEST(G729Float, OpenLoopAgreesWithFixedOnPeriodicSignal) {
  std::vector<Vok16s> s16(223);
  for (int i = 0; i < 223; ++i) s16[i] = static_cast<Vok16s>(6000 * std::sin(2 * 3.14159265 * i / 57.0));
  std::vector<float> sf(s16.begin(), s16.end());
  Vok16s d16 = 0;
  Vok32s d32 = 0;
  ASSERT_EQ(voksOpenLoopPitchSearch_G729A_16s(s16.data() + 143, &d16), vokOk);
  ASSERT_EQ(voksOpenLoopPitchSearch_G729A_32f(sf.data() + 143, &d32), vokOk);
  EXPECT_EQ(d16, d32);
  EXPECT_NEAR(d32, 57, 1);
}

TEST(G729Float, LspQuantiserTracksTheFixedOne) {
  const Vok16s reset[10] = {2339, 4679, 7018, 9358, 11698, 14037, 16377, 18717, 21056, 23396};
  Vok16s m16[40];
  float m32[40];
  for (int k = 0; k < 4; ++k)
    for (int j = 0; j < 10; ++j) {
      m16[10 * k + j] = reset[j];
      m32[10 * k + j] = reset[j] / 8192.0f;
    }
  Vok16s q16[10], p16[2];
  float lspf[10], q32[10], res[10];
  Vok16s p32[2];
  for (int i = 0; i < 10; ++i) lspf[i] = kLsp[i] / 32768.0f;
  ASSERT_EQ(voksLSPQuant_G729_16s(kLsp, m16, q16, p16), vokOk);
  ASSERT_EQ(voksLSPQuant_G729E_32f(lspf, m32, res, q32, p32), vokOk);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(q32[i] * 32768.0f, q16[i], 200.0f) << i;
  for (int i = 0; i < 10; ++i) EXPECT_FLOAT_EQ(res[i], m32[i]);  // the residual pushed into the memory
}
