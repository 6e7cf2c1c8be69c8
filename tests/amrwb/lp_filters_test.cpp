// AMR-WB ISP/ISF conversions and signal filters: hostile inputs (random and
// full-scale coefficients, clustered and unordered ISFs, loud and clipped
// signals, changing scales, every excitation scale) against checksums of
// the 3GPP reference's outputs for the same inputs, then the argument
// checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "check.h"
#include "oracle_cases.h"
#include "voksc.h"

namespace {

const int16_t kHp50A[3] = {8192, 16211, -8021}, kHp50B[3] = {4053, -8106, 4053};
const int16_t kHp400A[3] = {16384, 29280, -14160}, kHp400B[3] = {915, -1830, 915};
const int16_t kWspA[4] = {8192, 21663, -19258, 5734}, kWspB[4] = {-3432, 10280, -10280, 3432};

alignas(8) unsigned char hpState[2][40], wspState[40];
HighPassFilterState_AMRWB_16s* hp(int which) { return reinterpret_cast<HighPassFilterState_AMRWB_16s*>(hpState[which]); }
HighPassFilterState_AMRWB_16s* wsp() { return reinterpret_cast<HighPassFilterState_AMRWB_16s*>(wspState); }

// Each adapter asserts success through the status it returns into a flag.
bool failed = false;
void ok(VokResult r) { failed |= r != vokOk; }

const WbOracleOps kOps = {
    [](const int16_t* a, const int16_t* p, int16_t* isp) { ok(voksLPCToISP_AMRWB_16s(a, isp, p)); },
    [](const int16_t* isp, int16_t* a, int m) { ok(voksISPToLPC_AMRWB_16s(isp, a, m)); },
    [](const int16_t* isf, int16_t* isp, int m) { ok(voksISFToISP_AMRWB_16s(isf, isp, m)); },
    [](const int16_t* isp, int16_t* isf, int m) { ok(voksISPToISF_Norm_AMRWB_16s(isp, isf, m)); },
    [](int16_t* x, int n, int which, int reset, int16_t* line) {
      if (reset) {
        ok(voksHighPassFilterInit_AMRWB_16s(kHp50A, kHp50B, 2, hp(0)));
        ok(voksHighPassFilterInit_AMRWB_16s(kHp400A, kHp400B, 2, hp(1)));
      }
      ok(voksHighPassFilter_AMRWB_16s_ISfs(x, n, hp(which), 14 + which));
      ok(voksHighPassFilterGetDlyLine_AMRWB_16s(hp(which), line, 2));
      ok(voksHighPassFilterSetDlyLine_AMRWB_16s(line, hp(which), 2));
    },
    [](const int16_t* x, int16_t* y, int n, int sf, int reset, int16_t* line) {
      if (reset) ok(voksHighPassFilterInit_AMRWB_16s(kWspA, kWspB, 3, wsp()));
      ok(voksHighPassFilter_AMRWB_16s_Sfs(x, y, n, wsp(), sf));
      ok(voksHighPassFilterGetDlyLine_AMRWB_16s(wsp(), line, 3));
    },
    [](int16_t* x, int16_t mu, int n, int16_t* mem, int sf) { ok(voksPreemphasize_AMRWB_16s_ISfs(mu, x, n, sf, mem)); },
    [](int16_t* x, int16_t mu, int n, int16_t* mem) { ok(voksDeemphasize_AMRWB_NR_16s_I(mu, x, n, mem)); },
    [](const int32_t* x, int16_t* y, int16_t mu, int n, int16_t* mem) {
      ok(voksDeemphasize_AMRWB_32s16s(mu, x, y, n, mem));
    },
    [](const int16_t* a, int m, const int16_t* x, int16_t* y, int n) {
      ok(voksResidualFilter_AMRWB_16s_Sfs(a, static_cast<Vok16s>(m), x, y, n, 4));
    },
    [](const int16_t* a, int m, const int16_t* exc, int q, int32_t* y, int n) {
      int16_t scaled[21];
      std::memcpy(scaled, a, sizeof(int16_t) * (m + 1));
      scaled[0] = static_cast<int16_t>(a[0] >> (4 + q));
      ok(voksSynthesisFilter_AMRWB_16s32s_I(scaled, m, exc, y, n));
    },
    [](const int16_t* isf, int16_t* mem, int16_t* q, int16_t* idx, int rate) {
      ok(voksISFQuant_AMRWB_16s(isf, mem, q, idx, rate));
    },
    [](const int16_t* idx, int16_t* q, int16_t* mem, const int16_t* prev, int16_t* hist, int bfi, int rate) {
      ok(voksISFQuantDecode_AMRWB_16s(idx, q, mem, prev, hist, bfi, rate));
    },
    [](const int16_t* isf, int16_t* q, int16_t* idx) { ok(voksISFQuantDTX_AMRWB_16s(isf, q, idx)); },
    [](const int16_t* idx, int16_t* q) { ok(voksISFQuantDecodeDTX_AMRWB_16s(idx, q)); },
    [](const int16_t* x, int16_t* y, int16_t c, int n) {
      const int16_t coeff[2] = {32767, c};
      ok(voksHighPassFilter_Direct_AMRWB_16s(coeff, x, y, n, 0));
    },
};

// Outputs of the 3GPP TS 26.173 reference for the groups of oracle_cases.h.
const uint32_t kReference[WB_GROUPS] = {
    0x5B04E5DAu, 0x85DF05E0u, 0x6E99D0B8u, 0x1F427B5Cu, 0x4B7205F1u,
    0x8FCC8728u, 0x9D13AB27u, 0x5D1034D3u, 0x00072E72u, 0x3D337499u,
    0x134170DCu, 0x2AB31B8Du, 0x6993415Eu, 0x8D3C72AFu,
};
const char* const kGroupName[WB_GROUPS] = {"LP to ISP", "ISP to LP", "ISF/ISP", "high-pass 2nd order",
                                           "high-pass 3rd order", "pre-emphasis", "de-emphasis", "de-emphasis 32",
                                           "residual", "synthesis 32", "ISF quantiser",
                                           "ISF decoder", "SID ISFs", "pitch enhancer"};

}  // namespace

TEST(AmrWbLpFilters, EveryGroupMatchesTheReference) {
  for (int g = 0; g < WB_GROUPS; ++g) {
    failed = false;
    EXPECT_EQ(wbRunGroup(&kOps, g), kReference[g]) << kGroupName[g];
    EXPECT_FALSE(failed) << kGroupName[g];
  }
}

TEST(AmrWbLpFilters, FailedRootSearchReturnsThePreviousIspsAndTheAmrwbeFormAgrees) {
  const int16_t flat[17] = {4096, 8192};  // 1 + 2/z: too few roots on the unit circle
  int16_t prev[16], isp[16], ispE[16];
  for (int i = 0; i < 16; ++i) prev[i] = static_cast<int16_t>(30000 - 3700 * i);
  ASSERT_EQ(voksLPCToISP_AMRWB_16s(flat, isp, prev), vokOk);
  EXPECT_EQ(0, std::memcmp(isp, prev, sizeof isp));
  OrRng r{77u};
  for (int c = 0; c < 50; ++c) {
    int16_t a[17];
    wbLpc(&kOps, &r, c, a, 16);
    ASSERT_EQ(voksLPCToISP_AMRWB_16s(a, isp, prev), vokOk);
    ASSERT_EQ(voksLPCToISP_AMRWBE_16s(a, prev, ispE, 16), vokOk);
    EXPECT_EQ(0, std::memcmp(isp, ispE, sizeof isp));
  }
}

TEST(AmrWbLpFilters, RejectsBadArgumentsWithoutWriting) {
  int16_t v[32] = {4096}, out[32], mem = 0;
  int32_t y32[32] = {};
  int size = 0;
  alignas(8) unsigned char st[40] = {};
  auto* s = reinterpret_cast<HighPassFilterState_AMRWB_16s*>(st);
  vtest::Guard g;
  g.watch(out, 32).watch(&mem).watch(&size).watch(st, 40).watch(y32, 32);
  EXPECT_NULLS_THEN(vokErrSize, g, voksLPCToISP_AMRWBE_16s, v, v, out, 0);
  EXPECT_EACH_NULL(g, voksLPCToISP_AMRWB_16s, v, out, v);
  EXPECT_NULLS_THEN(vokErrSize, g, voksISPToLPC_AMRWB_16s, v, out, 21);
  EXPECT_REJECTS(vokErrSize, g, voksISPToLPC_AMRWB_16s(v, out, 0));
  EXPECT_NULLS_THEN(vokErrSize, g, voksISFToISP_AMRWB_16s, v, out, 0);
  EXPECT_NULLS_THEN(vokErrSize, g, voksISPToISF_Norm_AMRWB_16s, v, out, -1);
  EXPECT_NULLS_THEN(vokErrRange, g, voksHighPassFilterGetSize_AMRWB_16s, 1, &size);
  EXPECT_NULLS_THEN(vokErrRange, g, voksHighPassFilterInit_AMRWB_16s, v, v, 4, s);
  EXPECT_NULLS_THEN(vokErrRange, g, voksHighPassFilterGetDlyLine_AMRWB_16s, s, out, 1);
  EXPECT_NULLS_THEN(vokErrRange, g, voksHighPassFilterSetDlyLine_AMRWB_16s, v, s, 0);
  EXPECT_NULLS_THEN(vokErrSize, g, voksHighPassFilter_AMRWB_16s_ISfs, out, 0, s, 14);
  EXPECT_NULLS_THEN(vokErrSize, g, voksHighPassFilter_AMRWB_16s_Sfs, v, out, -3, s, 0);
  EXPECT_NULLS_THEN(vokErrSize, g, voksHighPassFilter_Direct_AMRWB_16s, v, v, out, 0, 0);
  EXPECT_NULLS_THEN(vokErrSize, g, voksPreemphasize_AMRWB_16s_ISfs, 0, out, 0, 16, &mem);
  for (int sf : {16, -1}) EXPECT_REJECTS(vokErrScale, g, voksPreemphasize_AMRWB_16s_ISfs(0, out, 8, sf, &mem));
  EXPECT_NULLS_THEN(vokErrSize, g, voksDeemphasize_AMRWB_NR_16s_I, 0, out, 0, &mem);
  EXPECT_NULLS_THEN(vokErrSize, g, voksDeemphasize_AMRWB_32s16s, 0, y32, out, 0, &mem);
  EXPECT_NULLS_THEN(vokErrSize, g, voksResidualFilter_AMRWB_16s_Sfs, v, 9, v + 16, out, 8, 16);
  EXPECT_REJECTS(vokErrSize, g, voksResidualFilter_AMRWB_16s_Sfs(v, 0, v + 16, out, 8, 4));
  EXPECT_REJECTS(vokErrScale, g, voksResidualFilter_AMRWB_16s_Sfs(v, 8, v + 16, out, 8, 16));
  EXPECT_NULLS_THEN(vokErrSize, g, voksSynthesisFilter_AMRWB_16s32s_I, v, 0, v, y32 + 16, 4);
  EXPECT_REJECTS(vokErrSize, g, voksSynthesisFilter_AMRWB_16s32s_I(v, 16, v, y32 + 16, 0));
  EXPECT_NULLS_THEN(vokErrRange, g, voksISFQuant_AMRWB_16s, v, out, out + 16, out + 24, 22);
  EXPECT_REJECTS(vokErrRange, g, voksISFQuant_AMRWB_16s(v, out, out + 16, out + 24, 0));
  EXPECT_EACH_NULL(g, voksISFQuantDecode_AMRWB_16s, v, out, v + 16, v, v, 0, 24);
  EXPECT_REJECTS(vokErrRange, g, voksISFQuantDecode_AMRWB_16s(v, out, out + 16, v, out, 1, 26));
  EXPECT_EACH_NULL(g, voksISFQuantDTX_AMRWB_16s, v, out, out + 16);
  EXPECT_EACH_NULL(g, voksISFQuantDecodeDTX_AMRWB_16s, v, out);
  ASSERT_EQ(voksHighPassFilterGetSize_AMRWB_16s(3, &size), vokOk);
  EXPECT_EQ(size, 40);
}
