// GSM-AMR LP analysis and LSP quantisation: hostile inputs (full-scale and
// clipped noise, silence, chirps, random correlations, random and unsorted
// LSP sets, random indices with bad frames) against checksums of the 3GPP
// reference's outputs for the same inputs, then the argument checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "check.h"
#include "oracle_inputs.h"
#include "voksc.h"

namespace {

const VokRateCode kRates[8] = {0, 1, 3, 6, 7, 8, 11, 12};
const int16_t kInitLsp[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};

void split(int32_t v, int16_t& hi, int16_t& lo) {
  hi = static_cast<int16_t>(v >> 16);
  lo = static_cast<int16_t>((v >> 1) - hi * 32768);
}

void sortDesc(int16_t* v, int n) { std::sort(v, v + n, [](int16_t a, int16_t b) { return a > b; }); }

// Every group runs on one generator, in this order, as the reference run did.
struct LpOracle : ::testing::Test {
  OrRng rng{0x1234567u};
};

}  // namespace

TEST_F(LpOracle, AllGroupsMatchTheReference) {
  {  // autocorrelation, single and double window
    uint32_t h = OR_HASH_INIT;
    const VokRateCode rates[3] = {0, 12, 25};
    for (VokRateCode rate : rates)
      for (int c = 0; c < 64; ++c) {
        int16_t x[240], hi[22], lo[22];
        int32_t acf[22];
        orSignal(&rng, c, c * 240, x, 240);
        if (c >= 32)
          for (auto& v : x) v = static_cast<int16_t>(v >> (c & 15));
        ASSERT_EQ(voksAutoCorr_GSMAMR_16s32s(x, acf, rate), vokOk);
        const int n = rate == 12 ? 22 : 11;
        for (int k = 0; k < n; ++k) split(acf[k], hi[k], lo[k]);
        h = orHash16(orHash16(h, hi, n), lo, n);
      }
    EXPECT_EQ(h, 0x191F3AC6u);
  }
  {  // Levinson-Durbin; an unstable filter leaves the previous one in place
    const int16_t prevA[11] = {4096, -5000, 3000, -1000, 500, 100, -200, 50, 10, -5, 1};
    uint32_t h = OR_HASH_INIT;
    for (int c = 0; c < 200; ++c) {
      int32_t acf[11];
      if (c < 100) {
        int16_t x[240];
        orSignal(&rng, c, c * 240, x, 240);
        voksAutoCorr_GSMAMR_16s32s(x, acf, 0);
      } else {
        acf[0] = orRange(&rng, 0x40000000, 0x7FFFFFFF);
        for (int k = 1; k <= 10; ++k) acf[k] = orRange(&rng, -acf[0], acf[0]);
      }
      int16_t a[11];
      std::memcpy(a, prevA, sizeof a);
      const VokResult st = voksLevinsonDurbin_GSMAMR_32s16s(acf, a);
      EXPECT_TRUE(st == vokOk || (st == vokWrnOverflow && std::memcmp(a, prevA, sizeof a) == 0));
      h = orHash16(h, a, 11);
    }
    EXPECT_EQ(h, 0x3B5DEAC6u);
  }
  {  // LP to LSP, analysed and random (mostly root-less) filters
    uint32_t h = OR_HASH_INIT;
    for (int c = 0; c < 300; ++c) {
      int16_t a[11] = {4096}, lsp[10];
      if (c < 150) {
        int16_t x[240];
        int32_t acf[11];
        orSignal(&rng, c, c * 240, x, 240);
        voksAutoCorr_GSMAMR_16s32s(x, acf, 0);
        voksLevinsonDurbin_GSMAMR_32s16s(acf, a);
      } else {
        for (int k = 1; k <= 10; ++k)
          a[k] = static_cast<int16_t>(orRange(&rng, c < 250 ? -8192 : -32768, c < 250 ? 8191 : 32767));
      }
      ASSERT_EQ(voksLPCToLSP_GSMAMR_16s(a, kInitLsp, lsp), vokOk);
      h = orHash16(h, lsp, 10);
    }
    EXPECT_EQ(h, 0x522E89C1u);
  }
  {  // LSP to LP (sorted and unsorted sets) and LSF to LSP
    uint32_t h1 = OR_HASH_INIT, h2 = OR_HASH_INIT;
    for (int c = 0; c < 300; ++c) {
      int16_t lsp[10], a[11], lsf[10], l2[10];
      for (auto& v : lsp) v = static_cast<int16_t>(orRange(&rng, -32768, 32767));
      if (c & 1) sortDesc(lsp, 10);
      ASSERT_EQ(voksLSPToLPC_GSMAMR_16s(lsp, a), vokOk);
      h1 = orHash16(h1, a, 11);
      for (auto& v : lsf) v = static_cast<int16_t>(orRange(&rng, 0, 16383));
      ASSERT_EQ(voksLSFToLSP_GSMAMR_16s(lsf, l2), vokOk);
      h2 = orHash16(h2, l2, 10);
    }
    EXPECT_EQ(h1, 0x6E09F869u);
    EXPECT_EQ(h2, 0x9BAC9FDAu);
  }
  {  // quantisers of every mode, 60 chained frames each
    uint32_t h = OR_HASH_INIT;
    for (int m = 0; m < 8; ++m) {
      int16_t past[10] = {};
      for (int c = 0; c < 60; ++c) {
        const int n = m == 7 ? 20 : 10, ni = m == 7 ? 5 : 3;
        int16_t lsp[20], q[20], idx[5];
        for (int k = 0; k < n; ++k) lsp[k] = static_cast<int16_t>(orRange(&rng, -32700, 32700));
        if (c % 7) {
          sortDesc(lsp, 10);
          sortDesc(lsp + 10, n - 10);
        }
        ASSERT_EQ(voksLSPQuant_GSMAMR_16s(lsp, past, q, idx, kRates[m]), vokOk);
        h = orHash16(orHash16(orHash16(h, q, n), idx, ni), past, 10);
      }
    }
    EXPECT_EQ(h, 0x99AA226Cu);
  }
  {  // decoders with one bad frame in four: every mode and the comfort-noise code
    const int sizes[9][5] = {{256, 256, 128}, {256, 256, 128}, {256, 512, 512}, {256, 512, 512}, {256, 512, 512},
                             {512, 512, 512}, {256, 512, 512}, {128, 256, 512, 256, 64}, {256, 512, 512}};
    uint32_t h = OR_HASH_INIT;
    for (int m = 0; m < 9; ++m) {
      int16_t past[10] = {}, prevLsf[10], lsp[10];
      for (int k = 0; k < 10; ++k) prevLsf[k] = static_cast<int16_t>(1400 * (k + 1));
      std::memcpy(lsp, kInitLsp, sizeof lsp);
      for (int c = 0; c < 80; ++c) {
        int16_t idx[5], sub[40];
        const int16_t bfi = orRange(&rng, 0, 3) == 0;
        const int ni = m == 7 ? 5 : 3;
        for (int k = 0; k < ni; ++k) idx[k] = static_cast<int16_t>(orRange(&rng, 0, sizes[m][k] - 1));
        ASSERT_EQ(voksQuantLSPDecode_GSMAMR_16s(idx, past, prevLsf, lsp, sub, bfi, m == 8 ? 25 : kRates[m]), vokOk);
        EXPECT_EQ(std::memcmp(lsp, sub + 30, sizeof lsp), 0);
        h = orHash16(orHash16(orHash16(h, sub, 40), past, 10), prevLsf, 10);
      }
    }
    EXPECT_EQ(h, 0xE4DF439Cu);
  }
}

TEST(AmrLp, InterpolationAndPreemphasis) {
  const int16_t cur[4] = {32767, -32768, 1001, -3}, prev[4] = {-32768, 32767, 7, 5};
  int16_t d[4];
  ASSERT_EQ(voksInterpolate_GSMAMR_16s(cur, prev, d, 4), vokOk);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(d[i], (cur[i] >> 2) + prev[i] - (prev[i] >> 2)) << i;
  // In place, from the last sample back; the memory supplies x[-1] and keeps the last input.
  int16_t x[5] = {100, -32768, 32767, 1, -1}, mem = 32767;
  const int16_t want[5] = {static_cast<int16_t>(100 + ((-26214 * 32767) >> 15)), -32768, 32767, static_cast<int16_t>(1 + ((-26214 * 32767) >> 15)), -2};
  ASSERT_EQ(voksPreemphasize_GSMAMR_16s(-26214, x, x, 5, &mem), vokOk);
  EXPECT_EQ(mem, -1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(x[i], want[i]) << i;
}

TEST(AmrLp, Checks) {
  int16_t x[240] = {}, lsp[20] = {}, past[10] = {}, q[20], idx[5], lsf[10] = {}, sub[40], a[11];
  int32_t acf[22];
  vtest::Guard g;
  g.watch(acf, 22).watch(q, 20).watch(idx, 5).watch(past, 10).watch(sub, 40).watch(a, 11);
  EXPECT_REJECTS(vokErrNullPtr, g, voksAutoCorr_GSMAMR_16s32s(nullptr, acf, 99));
  EXPECT_REJECTS(vokErrRange, g, voksAutoCorr_GSMAMR_16s32s(x, acf, 2));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLevinsonDurbin_GSMAMR_32s16s(nullptr, a));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLPCToLSP_GSMAMR_16s(a, nullptr, q));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLSPToLPC_GSMAMR_16s(lsp, nullptr));
  lsf[9] = -1;
  EXPECT_REJECTS(vokErrDomain, g, voksLSFToLSP_GSMAMR_16s(lsf, q));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLSPQuant_GSMAMR_16s(lsp, past, q, nullptr, 2));
  EXPECT_REJECTS(vokErrRange, g, voksLSPQuant_GSMAMR_16s(lsp, past, q, idx, 13));
  EXPECT_REJECTS(vokErrNullPtr, g, voksQuantLSPDecode_GSMAMR_16s(idx, past, lsf, nullptr, sub, 0, 99));
  EXPECT_REJECTS(vokErrRange, g, voksQuantLSPDecode_GSMAMR_16s(lsp, past, lsf, lsp, sub, 0, 4));
  // Indices beyond a codebook: the third split at 4.75 kbit/s (128 rows),
  // the signed split at 12.2, a negative one at 7.95; a bad frame reads none.
  const int16_t big475[3] = {0, 0, 128}, big122[5] = {0, 0, 512, 0, 0}, neg795[3] = {0, -1, 0};
  EXPECT_REJECTS(vokErrIndex, g, voksQuantLSPDecode_GSMAMR_16s(big475, past, lsf, lsp, sub, 0, 0));
  EXPECT_REJECTS(vokErrIndex, g, voksQuantLSPDecode_GSMAMR_16s(big122, past, lsf, lsp, sub, 0, 12));
  EXPECT_REJECTS(vokErrIndex, g, voksQuantLSPDecode_GSMAMR_16s(neg795, past, lsf, lsp, sub, 0, 8));
  EXPECT_EQ(voksQuantLSPDecode_GSMAMR_16s(big475, past, lsf, lsp, sub, 1, 0), vokOk);
  EXPECT_REJECTS(vokErrNullPtr, g, voksInterpolate_GSMAMR_16s(lsp, lsp, nullptr, 0));
  EXPECT_REJECTS(vokErrSize, g, voksInterpolate_GSMAMR_16s(lsp, lsp, q, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksPreemphasize_GSMAMR_16s(0, x, q, 0, nullptr));
  EXPECT_REJECTS(vokErrSize, g, voksPreemphasize_GSMAMR_16s(0, x, q, 0, past));
}
