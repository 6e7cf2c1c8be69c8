// AMR-WB excitation decoding: lag index boundaries of both lag grids, the
// code vectors
// of every bit rate against a direct model of the one- and two-pulse
// codes, gain concealment, and the argument checks.  (Bit exactness of the
// whole chain is shown by the decoder on the package vectors.)
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "check.h"
#include "voksc.h"

namespace {

struct LagRecord {
  std::vector<unsigned char> mem;
  AdaptiveCodebookDecodeState_AMRWB_16s* st;
  LagRecord() {
    int n = 0;
    EXPECT_EQ(voksAdaptiveCodebookDecodeGetSize_AMRWB_16s(&n), vokOk);
    EXPECT_EQ(n, 24);
    mem.resize(static_cast<std::size_t>(n));
    st = reinterpret_cast<AdaptiveCodebookDecodeState_AMRWB_16s*>(mem.data());
    EXPECT_EQ(voksAdaptiveCodebookDecodeInit_AMRWB_16s(st), vokOk);
  }
};

TEST(AmrwbExcitationDecode, LagIndicesAndWindows) {
  struct Case {
    VokRateCode rate;
    int index, lag, frac;
  } cases[] = {{vokRateAmrWb1265, 0, 34, 0},    {vokRateAmrWb1265, 375, 127, 3}, {vokRateAmrWb1265, 376, 128, 0},
               {vokRateAmrWb1265, 439, 159, 2}, {vokRateAmrWb1265, 440, 160, 0}, {vokRateAmrWb1265, 511, 231, 0},
               {vokRateAmrWb885, 115, 91, 2},   {vokRateAmrWb885, 116, 92, 0},   {vokRateAmrWb660, 255, 231, 0}};
  LagRecord rec;
  std::vector<Vok16s> buf(248 + 65);
  for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<Vok16s>((i * 7919u) % 20001u) - 10000;
  for (const Case& c : cases) {
    std::vector<Vok16s> b = buf;
    Vok16s frac = -1, lag = -1, win[2] = {0, 0};
    ASSERT_EQ(voksAdaptiveCodebookDecode_AMRWB_16s(c.index, &frac, &b[248], &lag, win, 0, 0, 0, c.rate, rec.st), vokOk);
    const int w0 = c.lag - 8 < 34 ? 34 : c.lag - 8 + 15 > 231 ? 216 : c.lag - 8;
    EXPECT_EQ(std::vector<int>({lag, frac, win[0], win[1]}), std::vector<int>({c.lag, c.frac, w0, w0 + 15})) << c.index;
    // The relative subframe after it: window start + index/4.
    ASSERT_EQ(voksAdaptiveCodebookDecode_AMRWB_16s(c.rate == vokRateAmrWb1265 ? 63 : 31, &frac, &b[248], &lag, win, 1, 0,
                                                   0, c.rate, rec.st),
              vokOk);
    EXPECT_EQ(lag, win[1]);
  }
  // A lost frame from the initial record keeps lag 64.
  Vok16s frac = 1, lag = 0, win[2] = {40, 55};
  ASSERT_EQ(voksAdaptiveCodebookDecode_AMRWB_16s(0, &frac, &buf[248], &lag, win, 1, 1, 1, vokRateAmrWb2385, rec.st), vokOk);
  EXPECT_EQ(lag, 64);
  EXPECT_EQ(frac, 0);
}

TEST(AmrwbExcitationDecode, CodeVectorsOfEveryRate) {
  // One and two pulses per track have direct codes: 1 pulse = sign bit 4 and
  // position/4; 2 pulses = sign bit 8, first position (bits 4..7), second
  // (bits 0..3), the second's sign opposite when it comes first.
  const Vok16s one[4] = {0x13, 0x00, 0x1F, 0x05};
  Vok16s v[64];
  ASSERT_EQ(voksAlgebraicCodebookDecode_AMRWB_16s(one, v, vokRateAmrWb885), vokOk);
  for (int i = 0; i < 64; ++i) {
    const int t = i & 3, w = one[t];
    EXPECT_EQ(v[i], (i >> 2) == (w & 15) ? ((w & 16) ? -512 : 512) : 0) << i;
  }
  const Vok16s two[4] = {0x123, 0x032, 0x155, 0x0F0};
  ASSERT_EQ(voksAlgebraicCodebookDecode_AMRWB_16s(two, v, vokRateAmrWb1265), vokOk);
  for (int t = 0; t < 4; ++t) {
    const int a = (two[t] >> 4) & 15, b = two[t] & 15, s = (two[t] >> 8) & 1 ? -512 : 512;
    int want[16] = {};
    want[a] += s;
    want[b] += b < a ? -s : s;
    for (int p = 0; p < 16; ++p) EXPECT_EQ(v[4 * p + t], want[p]) << t << " " << p;
  }
  // 6.60: even track bits 6..10 with sign 11, odd track bits 0..4 with sign 5.
  const Vok16s w660 = (1 << 11) | (7 << 6) | (0 << 5) | 9;
  ASSERT_EQ(voksAlgebraicCodebookDecode_AMRWB_16s(&w660, v, vokRateAmrWb660), vokOk);
  EXPECT_EQ(std::vector<int>({v[14], v[19]}), std::vector<int>({-512, 512}));
  // Every other rate places exactly its pulse count (as magnitude) for sparse words.
  struct Rate {
    VokRateCode rate;
    int pulses;
  } rates[] = {{vokRateAmrWb1425, 10}, {vokRateAmrWb1585, 12}, {vokRateAmrWb1825, 16}, {vokRateAmrWb1985, 18},
               {vokRateAmrWb2305, 24}, {vokRateAmrWb2385, 24}, {vokRateAmrWbPlus28, 6}, {22, 24}};
  const Vok16s words[8] = {1, 2, 3, 1, 5, 6, 7, 8};
  for (const Rate& r : rates) {
    ASSERT_EQ(voksAlgebraicCodebookDecode_AMRWB_16s(words, v, r.rate), vokOk);
    int total = 0;
    for (Vok16s x : v) total += (x < 0 ? -x : x) / 512;
    EXPECT_EQ(total % 2, r.pulses % 2) << r.rate;  // coinciding opposite pulses cancel in pairs
    EXPECT_LE(total, r.pulses) << r.rate;
  }
}

TEST(AmrwbExcitationDecode, GainsAndConcealment) {
  Vok16s past[4] = {-14336, -14336, -14336, -14336}, pit = 0, prev = 0, g16 = 0;
  Vok32s gain = 0;
  ASSERT_EQ(voksDecodeGain_AMRWB_16s(40, 4096, &pit, &gain, 0, 0, past, &prev, &g16, vokRateAmrWb1265), vokOk);
  EXPECT_GT(pit, 0);
  EXPECT_EQ(prev, g16);
  EXPECT_NE(past[0], -14336);
  // A bad frame: pitch gain untouched, gain = 2 codeGain16 innovScale, the
  // energies' mean lowered by 3 dB (floor -14 dB).
  const Vok16s before[4] = {past[0], past[1], past[2], past[3]};
  pit = 1234;
  g16 = 100;
  ASSERT_EQ(voksDecodeGain_AMRWB_16s(999, 300, &pit, &gain, 1, 0, past, &prev, &g16, vokRateAmrWb1265), vokOk);
  EXPECT_EQ(pit, 1234);
  EXPECT_EQ(gain, 2 * 100 * 300);
  const int mean = (before[0] + before[1] + before[2] + before[3]) / 4 - 3072;
  EXPECT_NEAR(past[0], mean < -14336 ? -14336 : mean, 1);
  EXPECT_EQ(past[1], before[0]);
}

TEST(AmrwbExcitationDecode, ArgumentChecks) {
  LagRecord rec;
  std::vector<Vok16s> b(248 + 65);
  Vok16s frac, lag, win[2] = {100, 115}, idx[8] = {}, v[64], past[4] = {}, pit, prev, g16;
  Vok32s gain;
  int n;
  auto* st = rec.st;
  vtest::Guard pitch, code, gains, size;
  pitch.watch(&frac).watch(&lag).watch(&b[248], 65).watch(rec.mem.data(), 24);
  code.watch(v, 64);
  gains.watch(&pit).watch(&gain).watch(past, 4).watch(&prev);
  size.watch(&n);
  EXPECT_REJECTS(vokErrNullPtr, size, voksAdaptiveCodebookDecodeGetSize_AMRWB_16s(nullptr));
  EXPECT_REJECTS(vokErrNullPtr, size, voksAdaptiveCodebookDecodeInit_AMRWB_16s(nullptr));
  EXPECT_REJECTS(vokErrNullPtr, size, voksAdaptiveCodebookDecodeUpdate_AMRWB_16s(0, 64, nullptr));
  EXPECT_REJECTS(vokErrNullPtr, pitch, voksAdaptiveCodebookDecode_AMRWB_16s(0, &frac, &b[248], &lag, nullptr, 9, 0, 0, 0, st));
  EXPECT_REJECTS(vokErrSize, pitch, voksAdaptiveCodebookDecode_AMRWB_16s(0, &frac, &b[248], &lag, win, 4, 0, 0, 0, st));
  EXPECT_REJECTS(vokErrRange, pitch, voksAdaptiveCodebookDecode_AMRWB_16s(0, &frac, &b[248], &lag, win, 0, 0, 0, 12, st));
  EXPECT_REJECTS(vokErrIndex, pitch, voksAdaptiveCodebookDecode_AMRWB_16s(64, &frac, &b[248], &lag, win, 1, 0, 0, 13, st));
  win[0] = 217;
  EXPECT_REJECTS(vokErrRange, pitch, voksAdaptiveCodebookDecode_AMRWB_16s(0, &frac, &b[248], &lag, win, 1, 0, 0, 13, st));
  EXPECT_REJECTS(vokErrNullPtr, pitch, voksAdaptiveCodebookDecode_AMRWBE_16s(0, nullptr, &lag, &frac, win, 9, 0, 99));
  EXPECT_REJECTS(vokErrSize, pitch, voksAdaptiveCodebookDecode_AMRWBE_16s(0, &b[248], &lag, &frac, win, 4, 0, 99));
  EXPECT_REJECTS(vokErrRange, pitch, voksAdaptiveCodebookDecode_AMRWBE_16s(0, &b[248], &lag, &frac, win, 0, 0, 18));
  EXPECT_REJECTS(vokErrNullPtr, code, voksAlgebraicCodebookDecode_AMRWB_16s(idx, nullptr, 99));
  EXPECT_REJECTS(vokErrRange, code, voksAlgebraicCodebookDecode_AMRWB_16s(idx, v, 12));
  EXPECT_REJECTS(vokErrNullPtr, gains, voksDecodeGain_AMRWB_16s(0, 0, &pit, &gain, 0, 0, past, &prev, nullptr, 99));
  EXPECT_REJECTS(vokErrRange, gains, voksDecodeGain_AMRWB_16s(0, 0, &pit, &gain, 0, 0, past, &prev, &g16, 12));
  EXPECT_REJECTS(vokErrIndex, gains, voksDecodeGain_AMRWB_16s(64, 0, &pit, &gain, 0, 0, past, &prev, &g16, 9));
}

}  // namespace
