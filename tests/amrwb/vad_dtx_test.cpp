// AMR-WB voice activity detector and comfort-noise histories against
// checksums of the 3GPP fixed-point reference: 2,400 frames switching
// between full-scale and quiet noise, clipped squares, silence, loud chirps,
// impulse trains and alternating extremes, with level drops, silence and
// quiet-noise stretches, tones stepping in and out of silence, and runs of
// tone decisions.  Per frame the VAD hashes its decision, the tone register
// and the 12 band levels; the histories hash the row written, its log energy
// and one ISF, over every rate from random starting rows.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "../amr/oracle_inputs.h"
#include "check.h"
#include "voksc.h"

namespace {

// Run 3: 30-frame tones (parabolic half waves, seven pitches, four levels)
// between stretches of silence and quiet noise.
void frameOf(OrRng* r, int run, int f, int16_t* x) {
  if (run == 3 && (f / 30) % 2 == 0) {
    const uint32_t step = 300u + static_cast<uint32_t>((f / 30) % 7) * 900u;
    for (int i = 0; i < 256; ++i) {
      const uint32_t ph = (static_cast<uint32_t>(f * 256 + i) * step) & 0xFFFFu;
      const int32_t half = static_cast<int32_t>(ph & 0x7FFFu);
      int32_t y = static_cast<int32_t>((int64_t{half} * (32768 - half)) >> 13);
      y = (y > 32767 ? 32767 : y) >> ((f / 60) % 4 * 2);
      x[i] = static_cast<int16_t>((ph & 0x8000u) ? -y : y);
    }
  } else {
    int kind = run == 3 ? 3 - 2 * ((f / 60) % 2) : (f / 37 + run) % 8;
    if (run == 1 && (f / 50) % 2) kind = 3;
    if (run == 2 && (f / 70) % 2) kind = 1;
    orSignal(r, kind, f * 256, x, 256);
  }
  if ((f / 23) % 3 == 1)
    for (int i = 0; i < 256; ++i) x[i] = static_cast<int16_t>(x[i] >> (f % 15));
}

std::vector<unsigned char> newVad() {
  int n = 0;
  EXPECT_EQ(voksVADGetSize_AMRWB_16s(&n), vokOk);
  std::vector<unsigned char> m(static_cast<size_t>(n) + 1);
  EXPECT_EQ(voksVADInit_AMRWB_16s(reinterpret_cast<VADState_AMRWB_16s*>(m.data() + 1)), vokOk);  // unaligned
  return m;
}
VADState_AMRWB_16s* vadOf(std::vector<unsigned char>& m) { return reinterpret_cast<VADState_AMRWB_16s*>(m.data() + 1); }

const VokRateCode kRates[10] = {vokRateAmrWb660,  vokRateAmrWb885,  vokRateAmrWb1265, vokRateAmrWb1425,
                                vokRateAmrWb1585, vokRateAmrWb1825, vokRateAmrWb1985, vokRateAmrWb2305,
                                vokRateAmrWb2385, vokRateSid};

}  // namespace

TEST(AmrwbVad, MatchesTheReference) {
  OrRng r{0x3B7Au};
  uint32_t h = OR_HASH_INIT;
  int active = 0;
  for (int run = 0; run < 4; ++run) {
    auto m = newVad();
    int16_t tone = 0;
    for (int f = 0; f < 600; ++f) {
      int16_t x[256], v[14];
      frameOf(&r, run, f, x);
      for (int k = 0; k < 2; ++k) {  // the pitch analysis' two tone decisions
        const bool on = orRange(&r, 0, 3) == 0 || (run == 2 && (f / 40) % 3 == 0);
        tone = static_cast<int16_t>((tone >> 1) | (on ? 0x4000 : 0));
      }
      ASSERT_EQ(voksVAD_AMRWB_16s(x, vadOf(m), &tone, &v[0]), vokOk);
      active += v[0];
      v[1] = tone;
      ASSERT_EQ(voksVADGetEnergyLevel_AMRWB_16s(vadOf(m), v + 2), vokOk);
      h = orHash16(h, v, 14);
    }
  }
  EXPECT_EQ(h, 0x626A1FF6u);
  EXPECT_EQ(active, 1462);

  // Histories, continuing the same input stream.
  uint32_t he = OR_HASH_INIT, hd = OR_HASH_INIT;
  int16_t isfE[128] = {}, isfD[128] = {}, logE[8] = {}, logD[8] = {};
  for (int f = 0; f < 400; ++f) {
    int16_t x[256], isf[16], v[3];
    frameOf(&r, f % 3, f, x);
    for (auto& q : isf) q = static_cast<int16_t>(orRange(&r, -32768, 32767));
    int16_t iE = static_cast<int16_t>(orRange(&r, 0, 7)), iD = iE;
    const VokRateCode rate = kRates[orRange(&r, 0, 9)];
    ASSERT_EQ(voksEncDTXBuffer_AMRWB_16s(x, isf, &iE, isfE, logE, rate), vokOk);
    v[0] = iE, v[1] = logE[iE], v[2] = isfE[iE * 16 + f % 16];
    he = orHash16(he, v, 3);
    ASSERT_EQ(voksDecDTXBuffer_AMRWB_16s(x, isf, &iD, isfD, logD), vokOk);
    v[0] = iD, v[1] = logD[iD], v[2] = isfD[iD * 16 + f % 16];
    hd = orHash16(hd, v, 3);
  }
  EXPECT_EQ(he, 0x19F6C391u);
  EXPECT_EQ(hd, 0x92DDBCD1u);
}

TEST(AmrwbVad, BehaviourAndChecks) {
  auto m = newVad();
  int16_t x[256] = {}, tone = 0x7FFF, flag = 7, level[12];
  ASSERT_EQ(voksVAD_AMRWB_16s(x, vadOf(m), &tone, &flag), vokOk);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(tone, 0x1FFF);  // quiet frames drop the two newest tone decisions
  // Power (this and the previous frame) just below and at the tone limit:
  // 2 * 256 * 36^2 = 663552 < 686080 <= 2 * 256 * 37^2 = 700928.
  for (int amp : {36, 37}) {
    auto s = newVad();
    for (auto& v : x) v = static_cast<int16_t>(amp);
    tone = 0x7FFF;
    ASSERT_EQ(voksVAD_AMRWB_16s(x, vadOf(s), &tone, &flag), vokOk);
    EXPECT_EQ(tone, amp == 36 ? 0x1FFF : 0x7FFF) << amp;
  }
  vtest::Guard g;
  g.watch(m.data(), m.size()).watch(&tone).watch(&flag).watch(&level);
  int n;
  EXPECT_REJECTS(vokErrNullPtr, g, voksVADGetSize_AMRWB_16s(nullptr));
  EXPECT_EQ(voksVADGetSize_AMRWB_16s(&n), vokOk);
  EXPECT_EQ(n, 172);
  EXPECT_REJECTS(vokErrNullPtr, g, voksVADInit_AMRWB_16s(nullptr));
  EXPECT_EACH_NULL(g, voksVAD_AMRWB_16s, x, vadOf(m), &tone, &flag);
  EXPECT_EACH_NULL(g, voksVADGetEnergyLevel_AMRWB_16s, vadOf(m), level);
}

TEST(AmrwbDtxHistory, RowsEnergiesAndChecks) {
  int16_t x[256], isf[16] = {1, 2, 3}, rows[128] = {}, logs[8] = {};
  struct Case {
    int16_t amp, index;
    VokRateCode rate;
    int16_t row, log;
  } const kCases[] = {
      {-32768, 7, vokRateAmrWb2385, 0, 2700},  // wraps to row 0; energy held at 2^30 - 1: 29 x 128 + 127 - 1024 - 115
      {-32768, 3, vokRateAmrWb660, 4, 2585},   // 115 lower than at 23.85 kbit/s
      {64, 2, vokRateSid, 3, 1421},            // 256 x 64^2 = 2^20: 20 x 128 - 1024 - 115
      {0, 0, vokRateAmrWb1265, 1, -1165},      // silence: log2 of 0 counts as 0
  };
  for (const Case& c : kCases) {
    for (auto& v : x) v = c.amp;
    int16_t i = c.index;
    ASSERT_EQ(voksEncDTXBuffer_AMRWB_16s(x, isf, &i, rows, logs, c.rate), vokOk);
    EXPECT_EQ(std::vector<int>({i, logs[c.row], rows[c.row * 16 + 2]}), std::vector<int>({c.row, c.log, 3})) << c.amp;
  }
  vtest::Guard g;  // the index is not watched (arming would overwrite it): checked after each call
  g.watch(&rows).watch(&logs);
  struct Reject {
    VokResult want;
    int16_t index;
    bool decoder;
    VokRateCode rate;
  } const kRejects[] = {
      {vokErrRange, 2, false, vokRateGsmAmr1220}, {vokErrRange, 2, false, vokRateAmrWbPlus20},
      {vokErrRange, 8, true, vokRateSid},         {vokErrRange, -1, false, vokRateSid},
      {vokErrRange, 9, false, vokRateGsmAmr1220},  // the index before the rate
  };
  for (const Reject& c : kRejects) {
    int16_t i = c.index;
    EXPECT_REJECTS(c.want, g,
                   c.decoder ? voksDecDTXBuffer_AMRWB_16s(x, isf, &i, rows, logs)
                             : voksEncDTXBuffer_AMRWB_16s(x, isf, &i, rows, logs, c.rate));
    EXPECT_EQ(i, c.index);
  }
  int16_t bad = 9;  // pointers are checked before the index and the rate
  EXPECT_EACH_NULL(g, voksEncDTXBuffer_AMRWB_16s, x, isf, &bad, rows, logs, vokRateGsmAmr1220);
  EXPECT_EACH_NULL(g, voksDecDTXBuffer_AMRWB_16s, x, isf, &bad, rows, logs);
}
