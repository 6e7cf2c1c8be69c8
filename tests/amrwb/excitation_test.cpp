// AMR-WB excitation search (open-loop lag, adaptive codebook, gains,
// algebraic codebook): hostile inputs and carried memories against
// checksums of the 3GPP reference's outputs for the same inputs, then the
// argument checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "check.h"
#include "excitation_cases.h"
#include "voksc.h"

namespace {

bool failed = false;
void ok(VokResult r) { failed |= r != vokOk; }

const int16_t kWspA[4] = {8192, 21663, -19258, 5734}, kWspB[4] = {-3432, 10280, -10280, 3432};
alignas(8) unsigned char hpState[40];
int16_t hpBuf[115 + 128];

const WbExcOps kOps = {
    [](const int16_t* wsp, int len, int reset, int16_t* mem, int16_t* gain) {
      auto* s = reinterpret_cast<HighPassFilterState_AMRWB_16s*>(hpState);
      if (reset) {
        ok(voksHighPassFilterInit_AMRWB_16s(kWspA, kWspB, 3, s));
        std::memset(hpBuf, 0, sizeof hpBuf);
      }
      ok(voksHighPassFilter_AMRWB_16s_Sfs(wsp, hpBuf + 115, len, s, 0));
      int16_t lag = 0;
      ok(voksOpenLoopPitchSearch_AMRWB_16s(wsp, hpBuf + 115, &mem[0], &mem[1], &lag, &mem[3], gain, mem + 4,
                                           &mem[2], len));
      std::memmove(hpBuf, hpBuf + len, 115 * sizeof(int16_t));
      return int{lag};
    },
    [](const int16_t* x, const int16_t* y, int len, int16_t* coeff) {
      int16_t g = -1;
      ok(voksAdaptiveCodebookGainCoeff_AMRWB_16s(x, y, coeff, &g, len));
      return g;
    },
    [](const int16_t* x, const int16_t* h, const int16_t* ol, int16_t* win, int16_t* exc, int16_t* frac,
       int16_t* index, int sf, int rate) {
      int16_t lag = 0;
      ok(voksAdaptiveCodebookSearch_AMRWB_16s(x, h, ol, &lag, win, exc, frac, index, sf, rate));
      return int{lag};
    },
    [](const int16_t* x, const int16_t* y, int xExp, const int16_t* code, const int16_t* z, const int16_t* coeff,
       int16_t* past, int16_t* gain, int32_t* codeGain, int clip, int len, int rate) {
      int16_t index = -1;
      ok(voksGainQuant_AMRWB_16s(x, y, xExp, code, z, coeff, past, gain, codeGain, clip, &index, len, rate));
      return int{index};
    },
    [](const int16_t* x, const int16_t* res, const int16_t* h, int16_t* code, int16_t* filtered, int16_t* index,
       int rate) { ok(voksAlgebraicCodebookSearch_AMRWB_16s(x, res, h, code, filtered, rate, index)); },
};

// Outputs of the 3GPP TS 26.173 reference for the groups of excitation_cases.h.
const uint32_t kReference[WBX_GROUPS] = {
    0x6D622838u,
    0x23B065A4u,
    0x32AAD377u, 0x97508861u, 0xFA57B5B1u,
};
const char* const kGroupName[WBX_GROUPS] = {"open-loop lag", "adaptive-codebook gain", "adaptive codebook", "gain quantiser", "algebraic codebook"};

}  // namespace

TEST(AmrWbExcitation, EveryGroupMatchesTheReference) {
  for (int g = 0; g < WBX_GROUPS; ++g) {
    failed = false;
    EXPECT_EQ(wbxRunGroup(&kOps, g), kReference[g]) << kGroupName[g];
    EXPECT_FALSE(failed) << kGroupName[g];
  }
}

// An excitation repeating with period P and a target equal to its next
// period (unit impulse response): every subframe finds P (up to the
// resolution), within the mode's lag range, for the AMR-WB+ lag offsets.
TEST(AmrWbExcitation, AdaptiveSearchFindsThePeriodForEveryLagOffset) {
  const Vok16s offsets[] = {-17, -6, 0, 9, 17};
  OrRng r{12345u};
  for (Vok16s k : offsets) {
    const int minLag = 34 + k, maxLag = 231 + 6 * k;
    for (int period : {minLag, minLag + 57, (minLag + maxLag) / 2, maxLag - 3}) {
      int16_t buf[350 + 65], x[64], h[64] = {32767}, win[2] = {0, 0};
      for (int i = 0; i < 350; ++i) buf[i] = static_cast<int16_t>(i < period ? orRange(&r, -8000, 8000) : 0);
      for (int i = period; i < 350 + 65; ++i) buf[i] = buf[i - period];
      for (int sf = 0; sf < 4; ++sf) {
        int16_t* exc = buf + 350;
        for (int i = 0; i < 64; ++i) x[i] = exc[i];  // the excitation ahead, one period on
        const int16_t ol[2] = {static_cast<int16_t>(period + 5), static_cast<int16_t>(period - 5)};
        int16_t lag = -1, frac = -1, index = -1;
        ASSERT_EQ(voksAdaptiveCodebookSearch_AMRWBE_16s(x, h, ol, &lag, win, exc, &frac, &index, sf, 18, k), vokOk);
        EXPECT_LE(std::abs(lag + frac / 4.0 - period), 0.5) << k << " " << period << " " << sf;
        EXPECT_TRUE(lag >= minLag && lag <= maxLag && win[0] >= minLag && win[1] == win[0] + 15 && win[1] <= maxLag);
        EXPECT_LT(index, sf & 1 ? 64 : 512);
      }
    }
  }
}

// The decoding exports invert the searches: the adaptive lag index decodes
// to the lag, fraction and window the search chose and rebuilds the same
// adaptive vector; the algebraic indices rebuild the code vector (pulses
// of 512, or 256 where the search halved a loud response).
TEST(AmrWbExcitation, DecodersInvertTheSearches) {
  OrRng r{2024u};
  alignas(8) unsigned char st[64];
  auto* state = reinterpret_cast<AdaptiveCodebookDecodeState_AMRWB_16s*>(st);
  ASSERT_EQ(voksAdaptiveCodebookDecodeInit_AMRWB_16s(state), vokOk);
  int16_t enc[248 + 65], dec[248 + 65], winE[2] = {34, 49}, winD[2] = {34, 49};
  for (int c = 0; c < 400; ++c) {
    const int rate = wbxRates[(c >> 2) % 10], sf = c & 3;
    int16_t x[64], h[64], ol[2] = {static_cast<int16_t>(orRange(&r, 34, 231)), static_cast<int16_t>(orRange(&r, 34, 231))};
    if (sf == 0) orSignal(&r, c >> 2, c * 64, enc, 248);
    orSignal(&r, c >> 3, c * 64, x, 64);
    wbxImpulse(&r, c % 6, h, 64);
    std::memcpy(dec, enc, sizeof dec);
    int16_t lag, frac, index, lagD = -1, fracD = -1;
    ASSERT_EQ(voksAdaptiveCodebookSearch_AMRWB_16s(x, h, ol, &lag, winE, enc + 248, &frac, &index, sf, rate), vokOk);
    ASSERT_EQ(voksAdaptiveCodebookDecode_AMRWB_16s(index, &fracD, dec + 248, &lagD, winD, sf, 0, 0, rate, state), vokOk);
    ASSERT_TRUE(lag == lagD && frac == fracD && winE[0] == winD[0] && winE[1] == winD[1]) << c;
    ASSERT_EQ(0, std::memcmp(enc + 248, dec + 248, 65 * sizeof(int16_t))) << c;
    std::memmove(enc, enc + 64, 248 * sizeof(int16_t));

    int16_t code[64], filtered[64], idx[8], back[64], res[64];
    orSignal(&r, c, c * 64, x, 64);
    orSignal(&r, c + 3, c * 64, res, 64);
    ASSERT_EQ(voksAlgebraicCodebookSearch_AMRWB_16s(x, res, h, code, filtered, rate, idx), vokOk);
    ASSERT_EQ(voksAlgebraicCodebookDecode_AMRWB_16s(idx, back, rate), vokOk);
    int scale = 0;
    for (int i = 0; i < 64; ++i)
      if (code[i] != 0 && scale == 0) scale = back[i] / code[i];
    EXPECT_TRUE(scale == 1 || scale == 2) << c;
    for (int i = 0; i < 64; ++i) ASSERT_EQ(back[i], code[i] * scale) << c << " " << i;
  }
}

TEST(AmrWbExcitation, RejectsBadArgumentsWithoutWriting) {
  int16_t v[512] = {}, out[16] = {};
  vtest::Guard g;
  g.watch(out, 16);
  const int16_t* in = v + 256;
  EXPECT_NULLS_THEN(vokErrSize, g, voksOpenLoopPitchSearch_AMRWB_16s, in, in, out, out + 1, out + 2, out + 3, out + 4,
                    out + 5, out + 10, 0);
  EXPECT_EACH_NULL(g, voksOpenLoopPitchSearch_AMRWBE_16s, in, in, out, out + 1, out + 2, out + 3, out + 4, out + 5,
                   out + 10, 0, 17, 17);
  EXPECT_NULLS_THEN(vokErrSize, g, voksAdaptiveCodebookGainCoeff_AMRWB_16s, in, in, out, out + 4, -1);
  EXPECT_EACH_NULL(g, voksAdaptiveCodebookSearch_AMRWB_16s, in, in, in, out, out + 1, out + 3, out + 4, out + 5, 4, 0);
  EXPECT_EACH_NULL(g, voksAdaptiveCodebookSearch_AMRWBE_16s, in, in, in, out, out + 1, out + 3, out + 4, out + 5, 4, 0,
                   18);
  int32_t code32 = 0;
  g.watch(&code32);
  EXPECT_NULLS_THEN(vokErrSize, g, voksGainQuant_AMRWB_16s, in, in, 0, in, in, in, out, out + 4, &code32, 0, out + 5, 0, 0);
  for (int rate : {0, 22, 26, 32})
    EXPECT_REJECTS(vokErrRange, g, voksGainQuant_AMRWB_16s(in, in, 0, in, in, in, out, out + 4, &code32, 0, out + 5, 64, rate))
        << rate;
  EXPECT_EACH_NULL(g, voksAlgebraicCodebookSearch_AMRWB_16s, in, in, in, out, out + 4, 0, out + 8);
  for (int rate : {0, 4, 22, 24, 26, 29, 32})  // the AMR-WB+ core codes are decoded, not searched
    EXPECT_REJECTS(vokErrRange, g, voksAlgebraicCodebookSearch_AMRWB_16s(in, in, in, out, out + 4, rate, out + 8)) << rate;
  // Subframe beyond 3 (before the rate), unknown rates, lag offsets beyond
  // 17, and relative subframes given a window outside the mode's lags.
  struct Acb {
    int status, subframe, rate;
    Vok16s offset, win0, win1;
  };
  const Acb acb[] = {{vokErrSize, 4, 0, 0, 34, 49},       {vokErrSize, -1, 13, 0, 34, 49},
                     {vokErrRange, 0, 24, 0, 34, 49},     {vokErrRange, 0, 33, 0, 34, 49},
                     {vokErrRange, 0, 13, 18, 34, 49},    {vokErrRange, 0, 13, -18, 34, 49},
                     {vokErrRange, 1, 13, 0, 33, 48},     {vokErrRange, 3, 9, 0, 217, 232},
                     {vokErrRange, 1, 26, 0, 60, 50},     {vokErrRange, 1, 26, 0, 60, 76},
                     {vokErrRange, 1, 26, 17, 50, 65}};
  for (const Acb& a : acb) {
    int16_t win[2] = {a.win0, a.win1};
    EXPECT_TRUE(vtest::rejects(a.status, g, [&] {
      return voksAdaptiveCodebookSearch_AMRWBE_16s(in, in, in, out, win, v + 300, out + 4, out + 5, a.subframe,
                                                   a.rate, a.offset);
    })) << (&a - acb);
    EXPECT_TRUE(win[0] == a.win0 && win[1] == a.win1 && v[300] == 0);
  }
  // Lag ranges the weighting table cannot cover, empty or negative.
  const Vok16s ranges[][2] = {{17, 17}, {40, 30}, {-1, 100}, {10, 210}};
  for (const auto& lr : ranges)
    EXPECT_REJECTS(vokErrRange, g, voksOpenLoopPitchSearch_AMRWBE_16s(in, in, out, out + 1, out + 2, out + 3, out + 4, out + 5,
                                                                      out + 10, 64, lr[0], lr[1]))
        << lr[0] << ".." << lr[1];
}
