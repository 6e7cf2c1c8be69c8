// GSM-AMR pitch analysis against checksums of the 3GPP reference on the
// same hostile inputs: open-loop searches of every mode over frames of
// noise, clipping and chirps with analysed and random (unstable) filters,
// with both detectors' side outputs; closed-loop searches with random
// excitation, targets and responses; lag decoding with bad frames and the
// concealment flags; pitch gains and subframe targets.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "check.h"
#include "oracle_inputs.h"
#include "voksc.h"

namespace {

const VokRateCode kRates[8] = {0, 1, 3, 6, 7, 8, 11, 12};

void analyse(OrRng* r, int frame, const int16_t* x, int16_t* a) {
  a[0] = 4096;
  if (frame % 5 == 4) {
    for (int k = 1; k <= 10; ++k) a[k] = static_cast<int16_t>(orRange(r, -12000, 12000));
  } else {
    int32_t acf[11];
    for (int k = 1; k <= 10; ++k) a[k] = 0;
    voksAutoCorr_GSMAMR_16s32s(x - 80, acf, 0);
    voksLevinsonDurbin_GSMAMR_32s16s(acf, a);
  }
  for (int sf = 1; sf < 4; ++sf) std::memcpy(a + 11 * sf, a, 22);
}

// The open-loop group with the detector form `vad` (1 or 2); returns the
// checksum and checks that the plain form finds the same lags.
uint32_t openLoopGroup(OrRng& r, int vad) {
  int16_t g1[10], g2[10];
  orPowers(30802, g1);
  orPowers(19661, g2);
  uint32_t h = OR_HASH_INIT;
  for (int m = 0; m < 8; ++m) {
    int16_t sp[250] = {}, hist[143] = {}, med = 40, aw = 0, lh[5] = {40, 40, 40, 40, 40}, tone = 0;
    for (int f = 0; f < 50; ++f) {
      int16_t a[44], ap1[44], ap2[44], ol[2], og[2], chp = 0;
      int32_t rmax = 0, r0 = 0;
      std::memmove(sp, sp + 160, 90 * 2);
      orSignal(&r, (f + m) % 8, f * 160, sp + 90, 160);
      analyse(&r, f, sp + 90, a);
      for (int k = 0; k < 4; ++k) {
        orWeight(a + 11 * k, g1, ap1 + 11 * k);
        orWeight(a + 11 * k, g2, ap2 + 11 * k);
      }
      int16_t plainHist[143], plainMed = med, plainAw = aw, plainLh[5], pl[2], pg[2];
      std::memcpy(plainHist, hist, sizeof hist);
      std::memcpy(plainLh, lh, sizeof lh);
      if (vad == 1) {
        EXPECT_EQ(voksOpenLoopPitchSearchDTXVAD1_GSMAMR_16s(ap1, ap2, sp + 80, &tone, &med, &aw, lh, hist, &chp, ol, og,
                                                            kRates[m]), vokOk);
        h = orHash16(orHash16(h, &tone, 1), &chp, 1);
      } else {
        EXPECT_EQ(voksOpenLoopPitchSearchDTXVAD2_GSMAMR_16s32s(ap1, ap2, sp + 80, &med, &aw, lh, hist, &rmax, &r0, ol,
                                                               og, kRates[m]), vokOk);
        const int16_t t[4] = {static_cast<int16_t>(rmax >> 16), static_cast<int16_t>(rmax),
                              static_cast<int16_t>(r0 >> 16), static_cast<int16_t>(r0)};
        h = orHash16(h, t, 4);
      }
      h = orHash16(orHash16(h, ol, 2), og, 2);
      EXPECT_EQ(voksOpenLoopPitchSearchNonDTX_GSMAMR_16s(ap1, ap2, sp + 80, &plainMed, &plainAw, plainLh, plainHist, pl,
                                                         pg, kRates[m]), vokOk);
      EXPECT_TRUE(pl[0] == ol[0] && pl[1] == ol[1] && pg[0] == og[0] && plainMed == med &&
                  std::memcmp(plainHist, hist, sizeof hist) == 0);
    }
  }
  return h;
}

}  // namespace

TEST(AmrPitch, MatchesTheReference) {
  OrRng r{0xBADC0DEu}, r2{0xBADC0DEu};
  EXPECT_EQ(openLoopGroup(r, 1), 0x81A8C9B1u);
  EXPECT_EQ(openLoopGroup(r2, 2), 0xC0CB1783u);
  {  // closed loop
    uint32_t h = OR_HASH_INIT;
    for (int m = 0; m < 8; ++m)
      for (int c = 0; c < 120; ++c) {
        int16_t exc[194], xn[40], hr[40], top[2], sf = static_cast<int16_t>(c & 3), fr, idx, vec[40];
        orSignal(&r, c, c * 200, exc, 154);
        orSignal(&r, c + 3, c * 50, xn, 40);
        for (int k = 0; k < 40; ++k) hr[k] = static_cast<int16_t>(k == 0 ? 4096 : orRange(&r, -4096 >> (k / 6), 4096 >> (k / 6)));
        if (c % 11 == 5)
          for (auto& v : hr) v = static_cast<int16_t>(orRange(&r, -32768, 32767));
        top[0] = static_cast<int16_t>(orRange(&r, 18, 143));
        top[1] = static_cast<int16_t>(orRange(&r, 18, 143));
        int16_t lag = static_cast<int16_t>(orRange(&r, 18, 143));
        std::memset(exc + 154, 0, 80);
        ASSERT_EQ(voksAdaptiveCodebookSearch_GSMAMR_16s(xn, hr, top, &lag, exc, &fr, &idx, vec, sf, kRates[m]), vokOk);
        ASSERT_EQ(std::memcmp(vec, exc + 154, 80), 0);
        const int16_t t[3] = {lag, fr, idx};
        h = orHash16(orHash16(h, t, 3), exc + 154, 40);
      }
    EXPECT_EQ(h, 0xD9EF4B08u);
  }
  {  // lag decoding with bad frames
    uint32_t h = OR_HASH_INIT;
    for (int m = 0; m < 8; ++m) {
      int16_t old = 40;
      for (int c = 0; c < 200; ++c) {
        const int16_t sf = static_cast<int16_t>(c & 3), bfi = orRange(&r, 0, 4) == 0;
        const int16_t bg = static_cast<int16_t>(orRange(&r, 0, 1)), vh = static_cast<int16_t>(orRange(&r, 0, 7));
        const bool absolute = sf == 0 || (sf == 2 && m > 1);
        const int top = m == 7 ? (absolute ? 511 : 63) : (absolute ? 255 : (m <= 3 ? 15 : (m == 5 ? 63 : 31)));
        const int16_t index = static_cast<int16_t>(orRange(&r, 0, top));
        int16_t exc[194], dec, lag, vec[40];
        orSignal(&r, c, c * 194, exc, 154);
        std::memset(exc + 154, 0, 80);
        ASSERT_EQ(voksAdaptiveCodebookDecode_GSMAMR_16s(index, &old, &dec, exc, &lag, vec, sf, bfi, bg, vh, kRates[m], 0, 0), vokOk);
        h = orHash16(orHash16(h, &lag, 1), exc + 154, 40);
        old = lag;
      }
    }
    EXPECT_EQ(h, 0x815CE90Fu);
  }
  {  // pitch gain, then the subframe preparation
    uint32_t h1 = OR_HASH_INIT, h2 = OR_HASH_INIT;
    for (int c = 0; c < 400; ++c) {
      int16_t x[40], y[40], coeff[4], g, g2;
      orSignal(&r, c, c * 40, x, 40);
      orSignal(&r, c / 8, c * 40 + 7, y, 40);
      ASSERT_EQ(voksAdaptiveCodebookGainCoeffs_GSMAMR_16s(x, y, &g, coeff), vokOk);
      ASSERT_EQ(voksAdaptiveCodebookGain_GSMAMR_16s(x, y, &g2), vokOk);
      EXPECT_EQ(g, g2);
      h1 = orHash16(orHash16(h1, &g, 1), coeff, 4);
    }
    int16_t g1[10], gw[10];
    orPowers(30802, g1);
    orPowers(19661, gw);
    for (int c = 0; c < 200; ++c) {
      int16_t speech[50], a[11] = {4096}, aq[11], memErr[10], memW0[10], ap1[11], ap2[11], hr[40], res[40], xn[40];
      orSignal(&r, c, c * 50, speech, 50);
      int16_t x[240];
      int32_t acf[11];
      orSignal(&r, c + 1, c * 240, x, 240);
      voksAutoCorr_GSMAMR_16s32s(x, acf, 0);
      voksLevinsonDurbin_GSMAMR_32s16s(acf, a);
      std::memcpy(aq, a, sizeof aq);
      for (int k = 1; k <= 10; ++k) aq[k] = static_cast<int16_t>(aq[k] + orRange(&r, -200, 200));
      if (c % 7 == 3)
        for (int k = 1; k <= 10; ++k) {
          a[k] = static_cast<int16_t>(orRange(&r, -20000, 20000));
          aq[k] = static_cast<int16_t>(orRange(&r, -20000, 20000));
        }
      for (int k = 0; k < 10; ++k) {
        memErr[k] = static_cast<int16_t>(orRange(&r, -20000, 20000));
        memW0[k] = static_cast<int16_t>(orRange(&r, -20000, 20000));
      }
      orWeight(a, g1, ap1);
      orWeight(a, gw, ap2);
      ASSERT_EQ(voksImpulseResponseTarget_GSMAMR_16s(speech, ap1, ap2, aq, memErr, memW0, hr, res, xn), vokOk);
      h2 = orHash16(orHash16(orHash16(h2, hr, 40), res, 40), xn, 40);
    }
    EXPECT_EQ(h1, 0x939D257Fu);
    EXPECT_EQ(h2, 0xFC73AB35u);
  }
}

TEST(AmrPitch, Checks) {
  int16_t ap[44] = {4096}, sp[170] = {}, v = 0, hist[143] = {}, lags[2], flags[2], vec[40], exc[194] = {}, t[40] = {};
  int32_t r32;
  vtest::Guard g;
  g.watch(lags, 2).watch(flags, 2).watch(vec, 40).watch(hist, 143);
  EXPECT_REJECTS(vokErrNullPtr, g, voksOpenLoopPitchSearchNonDTX_GSMAMR_16s(ap, ap, sp, &v, &v, nullptr, hist, lags, flags, 99));
  EXPECT_REJECTS(vokErrRange, g, voksOpenLoopPitchSearchNonDTX_GSMAMR_16s(ap, ap, sp, &v, &v, lags, hist, lags, flags, 2));
  EXPECT_REJECTS(vokErrRange, g, voksOpenLoopPitchSearchDTXVAD1_GSMAMR_16s(ap, ap, sp, &v, &v, &v, lags, hist, &v, lags, flags, 4));
  EXPECT_REJECTS(vokErrNullPtr, g, voksOpenLoopPitchSearchDTXVAD2_GSMAMR_16s32s(ap, ap, sp, &v, &v, lags, hist, nullptr, &r32, lags, flags, 0));
  EXPECT_REJECTS(vokErrSize, g, voksAdaptiveCodebookSearch_GSMAMR_16s(t, t, t, &v, exc, &v, &v, vec, -1, 99));
  EXPECT_REJECTS(vokErrRange, g, voksAdaptiveCodebookSearch_GSMAMR_16s(t, t, t, &v, exc, &v, &v, vec, 3, 25));
  EXPECT_REJECTS(vokErrSize, g, voksAdaptiveCodebookDecode_GSMAMR_16s(0, &v, &v, exc, &v, vec, 4, 0, 0, 0, 99, 0, 0));
  EXPECT_REJECTS(vokErrRange, g, voksAdaptiveCodebookDecode_GSMAMR_16s(0, &v, &v, exc, &v, vec, 1, 0, 0, 0, 13, 0, 0));
  // A coded lag beyond its field (4 bits at 4.75 kbit/s in subframe 1), a
  // previous lag outside 17..144 (an out-of-range lag would read before the
  // excitation history).
  int16_t old = 40, big = 145;
  EXPECT_REJECTS(vokErrIndex, g, voksAdaptiveCodebookDecode_GSMAMR_16s(16, &old, &v, exc, &v, vec, 1, 0, 0, 0, 0, 0, 0));
  EXPECT_REJECTS(vokErrIndex, g, voksAdaptiveCodebookDecode_GSMAMR_16s(-1, &old, &v, exc, &v, vec, 0, 0, 0, 0, 12, 0, 0));
  EXPECT_REJECTS(vokErrRange, g, voksAdaptiveCodebookDecode_GSMAMR_16s(15, &big, &v, exc, &v, vec, 1, 1, 0, 0, 0, 0, 0));
  // A median lag no coder holds is taken as the nearest one (143) by the
  // weighted 10.2 kbit/s search instead of reading outside its weights.
  int16_t lagOut[2][2], flagOut[2];
  for (int16_t m : {int16_t{30000}, int16_t{143}}) {
    int16_t loud[170], wh[143] = {}, w = 32767, lh5[5] = {m, m, m, m, m};
    for (int i = 0; i < 170; ++i) loud[i] = static_cast<int16_t>((i % 37) * 800 - 14000);
    ASSERT_EQ(voksOpenLoopPitchSearchNonDTX_GSMAMR_16s(ap, ap, loud, &m, &w, lh5, wh, lagOut[m == 143], flagOut, 11), vokOk);
  }
  EXPECT_EQ(lagOut[0][0], lagOut[1][0]);
  EXPECT_EQ(lagOut[0][1], lagOut[1][1]);
  EXPECT_REJECTS(vokErrNullPtr, g, voksImpulseResponseTarget_GSMAMR_16s(sp, ap, ap, ap, t, nullptr, vec, vec, vec));
  // A silent frame searches without fault and returns lags inside the range.
  int16_t med = 40, aw = 0, lh[5] = {40, 40, 40, 40, 40};
  for (VokRateCode rate : {0, 12, 25}) {
    ASSERT_EQ(voksOpenLoopPitchSearchNonDTX_GSMAMR_16s(ap, ap, sp, &med, &aw, lh, hist, lags, flags, rate), vokOk);
    EXPECT_TRUE(lags[0] >= 18 && lags[0] <= 143 && lags[1] >= 18 && lags[1] <= 143);
  }
}
