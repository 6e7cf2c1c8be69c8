// G.723.1 LP analysis, LSF quantisation and weighting filter against the
// reference routines on loud, clipping, chirping, quiet and impulsive input,
// random filters and random LSF vectors; argument checks.
#include <gtest/gtest.h>

#include <cstring>

#include "cases.h"
#include "check.h"
#include "vectors.h"
#include "voksc.h"

namespace {
uint32_t H(uint32_t h, const int16_t* x, int n) { return vtHash16(h, x, n); }
}  // namespace

TEST(G723Lpc, AgreesWithTheReferenceRoutines) {
  const auto g = vtest::checksums("g723/lpc.txt");
  ASSERT_EQ(g.size(), 5u);
  int16_t keepLpc[40][40];
  for (int c = 0; c < 40; ++c) {
    SCOPED_TRACE(c);
    {
      int16_t x[960];
      vtSignal(x, 960, c % 5, c);
      for (auto& v : x) v = static_cast<int16_t>(v >> ((c / 5) % 4));
      Vok32s mem[2] = {0, 0};
      for (int f = 0; f < 4; ++f) ASSERT_EQ(voksHighPassFilter_G723_16s(x + 240 * f, x + 240 * f, mem), vokOk);
      const int16_t z = static_cast<int16_t>(mem[0]);
      EXPECT_EQ(vtHash32(H(H(VT_HASH0, x, 960), &z, 1), &mem[1], 1), g.at("hp")[c]);
    }
    {
      int16_t x[360];
      vtSignal(x, 360, c % 5, c + 100);
      for (auto& v : x) v = static_cast<int16_t>(v >> ((c / 5) % 8));
      Vok16s sine = static_cast<Vok16s>((c * 4099) & 0x7FFF), acf[44], exps[4], errs[4];
      for (int k = 0; k < 4; ++k) {
        ASSERT_EQ(voksAutoCorr_G723_16s(x + 60 * k, &exps[k], acf + 11 * k), vokOk);
        ASSERT_EQ(voksLevinsonDurbin_G723_16s(acf + 11 * k, &sine, &errs[k], keepLpc[c] + 10 * k), vokOk);
      }
      sine = static_cast<Vok16s>(sine & 0x7FFF);
      EXPECT_EQ(H(H(H(H(H(VT_HASH0, acf, 44), exps, 4), keepLpc[c], 40), errs, 4), &sine, 1), g.at("lpc")[c]);
    }
    {
      int16_t lpc[10], prev[10], lsf[10], dec[10], a[10];
      if (c & 1)
        vtWords(c, lpc, 10, (c / 2) % 4);
      else
        std::memcpy(lpc, keepLpc[c] + 30, sizeof lpc);
      vtLsfCase(c / 4 * 2, prev);
      ASSERT_EQ(voksLPCToLSF_G723_16s(lpc, prev, lsf), vokOk);
      Vok32s idx;
      ASSERT_EQ(voksLSFQuant_G723_16s32s(lsf, prev, &idx), vokOk);
      const Vok16s parts[3] = {static_cast<Vok16s>(idx >> 16), static_cast<Vok16s>((idx >> 8) & 255),
                               static_cast<Vok16s>(idx & 255)};
      if (voksLSFDecode_G723_16s(parts, prev, c % 3 == 0, dec) == vokWrnLsfFloor) std::memcpy(dec, prev, sizeof dec);
      ASSERT_EQ(voksLSFToLPC_G723_16s(dec, a), vokOk);
      EXPECT_EQ(H(H(vtHash32(H(VT_HASH0, lsf, 10), &idx, 1), dec, 10), a, 10), g.at("lsf")[c]);
    }
    {
      int16_t lsf[10], prev[10], dec[10], a[10];
      vtLsfCase(c + 500, lsf);
      vtLsfCase(c + 900, prev);
      for (auto& v : prev) v = static_cast<int16_t>(v & 0x7FFF);  // the codec's own previous LSFs are never negative
      Vok32s idx;
      ASSERT_EQ(voksLSFQuant_G723_16s32s(lsf, prev, &idx), vokOk);
      VtRng r{c + 77u};
      const uint32_t rid = vtNext(&r) & 0xFFFFFF;
      const Vok16s parts[3] = {static_cast<Vok16s>(rid >> 16), static_cast<Vok16s>((rid >> 8) & 255),
                               static_cast<Vok16s>(rid & 255)};
      const VokResult st = voksLSFDecode_G723_16s(parts, prev, c % 4 == 1, dec);
      ASSERT_TRUE(st == vokOk || st == vokWrnLsfFloor);
      if (st == vokWrnLsfFloor) std::memcpy(dec, prev, sizeof dec);
      vtLsfCase(c * 2 + 1300, a);
      for (auto& v : a) v = static_cast<int16_t>(v & 0x7FFF);
      ASSERT_EQ(voksLSFToLPC_G723_16s_I(a), vokOk);
      EXPECT_EQ(H(H(vtHash32(VT_HASH0, &idx, 1), dec, 10), a, 10), g.at("lsfhostile")[c]);
    }
    {
      // Formant weighting filter: coefficients from the perceptual
      // weighting factors (0.9^i zeros, 0.5^i poles) or random words.
      static const int16_t kZero[10] = {29491, 26542, 23888, 21499, 19349, 17414, 15673, 14106, 12695, 11425};
      static const int16_t kPole[10] = {16384, 8192, 4096, 2048, 1024, 512, 256, 128, 64, 32};
      int16_t per[80], x[240], mem[20] = {};
      if (c & 1) {
        vtWords(c + 40, per, 80, (c / 2) % 3);
      } else {
        for (int k = 0; k < 4; ++k)
          for (int j = 0; j < 10; ++j) {
            per[20 * k + j] = static_cast<int16_t>((keepLpc[c][10 * k + j] * kZero[j] + 16384) >> 15);
            per[20 * k + 10 + j] = static_cast<int16_t>((keepLpc[c][10 * k + j] * kPole[j] + 16384) >> 15);
          }
      }
      vtSignal(x, 240, c % 5, c + 300);
      for (int k = 0; k < 4; ++k) ASSERT_EQ(voksIIR16s_G723_16s_I(per + 20 * k, x + 60 * k, mem), vokOk);
      EXPECT_EQ(H(H(VT_HASH0, x, 240), mem, 20), g.at("weight")[c]);
    }
  }
}

TEST(G723Lpc, EdgeCasesAndArgumentChecks) {
  // A silent block: zero correlations, exponent 40; the recursion stops at
  // once (error r[0] = 0, lpc 0, a 1 shifted into the sine register).
  int16_t zero[180] = {}, acf[11], e = 0, lpc[10], err, sine = 2;
  ASSERT_EQ(voksAutoCorr_G723_16s(zero, &e, acf), vokOk);
  EXPECT_EQ(e, 40);
  for (auto v : acf) EXPECT_EQ(v, 0);
  ASSERT_EQ(voksLevinsonDurbin_G723_16s(acf, &sine, &err, lpc), vokOk);
  EXPECT_EQ(sine, 5);
  EXPECT_EQ(err, 0);
  // A loud block is shifted right: the exponent goes negative.
  int16_t loud[180];
  vtSignal(loud, 180, 1, 3);
  ASSERT_EQ(voksAutoCorr_G723_16s(loud, &e, acf), vokOk);
  EXPECT_LT(e, 0);
  EXPECT_GE(acf[0], 16384);
  // An erased frame ignores the indices.
  int16_t prev[10], a[10], b[10];
  vtLsfCase(2, prev);
  const Vok16s i1[3] = {1, 2, 3}, i2[3] = {200, 100, 7};
  voksLSFDecode_G723_16s(i1, prev, 1, a);
  voksLSFDecode_G723_16s(i2, prev, 1, b);
  EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);

  Vok16s s[240] = {}, d[240], m16[20] = {}, coef[20] = {};
  Vok32s m32[2] = {}, d32[60], s32[60] = {}, idx;
  vtest::Guard g;
  g.watch(d, 240).watch(m16, 20).watch(m32, 2).watch(d32, 60).watch(&idx);
  EXPECT_REJECTS(vokErrNullPtr, g, voksHighPassFilter_G723_16s(s, d, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksAutoCorr_G723_16s(s, nullptr, d));
  EXPECT_REJECTS(vokErrNullPtr, g, voksAutoCorr_NormE_G723_16s(s, d, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLevinsonDurbin_G723_16s(s, m16, d, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLPCToLSF_G723_16s(s, nullptr, d));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLSFQuant_G723_16s32s(s, s, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLSFDecode_G723_16s(nullptr, s, 0, d));
  // Indices name rows of 256-entry codebooks (a lost frame reads none).
  for (const Vok16s bad : {Vok16s{256}, Vok16s{-1}, Vok16s{32767}}) {
    const Vok16s idx3[3] = {0, 7, bad};
    EXPECT_REJECTS(vokErrIndex, g, voksLSFDecode_G723_16s(idx3, s, 0, d));
    EXPECT_GE(voksLSFDecode_G723_16s(idx3, s, 1, d), vokOk);
  }
  EXPECT_REJECTS(vokErrNullPtr, g, voksLSFToLPC_G723_16s(s, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLSFToLPC_G723_16s_I(nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksIIR16s_G723_16s_I(coef, d, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, g, voksIIR16s_G723_16s32s(coef, s, nullptr, m16));
  EXPECT_NULLS_THEN(vokErrScale, g, voksIIR16s_G723_32s16s_Sfs, coef, s32, -1, d, m16);
}
