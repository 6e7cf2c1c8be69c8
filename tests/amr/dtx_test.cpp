// GSM-AMR DTX and code-vector decoding against checksums of the 3GPP
// reference on the same inputs: 300 frames of random voice activity
// (hangover, SID computation, elapsed-count saturation) and history
// buffers on both sides; random index words of every mode.
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
const int16_t kMeanLsf[10] = {1546, 2272, 3778, 5488, 6972, 8382, 10047, 11229, 12766, 13714};
}  // namespace

TEST(AmrDtx, MatchesTheReference) {
  OrRng r{0x5EEDu};
  {
    int16_t hi = 0, lh[80], eh[8] = {}, dhi = 0, dlh[80], deh[8], hang = 7, el = 32767, past[10] = {};
    int16_t pq[4] = {}, pq122[4] = {}, lei = 0, li[4] = {};
    for (int i = 0; i < 8; ++i) {
      std::memcpy(lh + 10 * i, kInitLsp, sizeof kInitLsp);
      std::memcpy(dlh + 10 * i, kMeanLsf, sizeof kMeanLsf);
      deh[i] = 3500;
    }
    uint32_t h = OR_HASH_INIT;
    for (int f = 0; f < 300; ++f) {
      int16_t sp[160], lsp[10], used = 12, csid;
      const int16_t vad = orRange(&r, 0, 2) == 0;
      orSignal(&r, f, f * 160, sp, 160);
      for (auto& v : lsp) v = static_cast<int16_t>(orRange(&r, -32000, 32000));
      std::sort(lsp, lsp + 10, [](int16_t a, int16_t b) { return a > b; });
      ASSERT_EQ(voksEncDTXHandler_GSMAMR_16s(&hang, &el, &used, &csid, vad), vokOk);
      if (f % 50 == 49) el = 32760;
      ASSERT_EQ(voksEncDTXBuffer_GSMAMR_16s(sp, lsp, &hi, lh, eh), vokOk);
      ASSERT_EQ(voksDecDTXBuffer_GSMAMR_16s(sp, lsp, &dhi, dlh, deh), vokOk);
      ASSERT_EQ(voksEncDTXSID_GSMAMR_16s(lh, eh, &lei, past, li, pq, pq122, csid), vokOk);
      const int16_t t[5] = {li[0], li[1], li[2], li[3], lei};
      h = orHash16(h, t, 5);
      const int16_t u[4] = {used, csid, hang, el};
      h = orHash16(orHash16(orHash16(h, u, 4), eh, 8), deh, 8);
    }
    EXPECT_EQ(h, 0xEDB39873u);
  }
  {
    const int bits[8][2] = {{9, 2}, {9, 2}, {11, 2}, {14, 3}, {17, 4}, {17, 4}, {0, 0}, {0, 0}};
    uint32_t h = OR_HASH_INIT;
    for (int m = 0; m < 8; ++m)
      for (int c = 0; c < 300; ++c) {
        int16_t w[10], code[40];
        if (m < 6) {
          w[0] = static_cast<int16_t>(orRange(&r, 0, (1 << bits[m][0]) - 1));
          w[1] = static_cast<int16_t>(orRange(&r, 0, (1 << bits[m][1]) - 1));
        } else if (m == 6) {
          for (int k = 0; k < 4; ++k) w[k] = static_cast<int16_t>(orRange(&r, 0, 1));
          w[4] = static_cast<int16_t>(orRange(&r, 0, 1023));
          w[5] = static_cast<int16_t>(orRange(&r, 0, 1023));
          w[6] = static_cast<int16_t>(orRange(&r, 0, 127));
        } else {
          for (int k = 0; k < 10; ++k) w[k] = static_cast<int16_t>(orRange(&r, 0, k < 5 ? 15 : 7));
        }
        ASSERT_EQ(voksFixedCodebookDecode_GSMAMR_16s(w, code, static_cast<int16_t>(c & 3), kRates[m]), vokOk);
        h = orHash16(h, code, 40);
      }
    EXPECT_EQ(h, 0x8016C723u);
  }
}

TEST(AmrDtx, HandlerEdgesAndChecks) {
  // Elapsed count saturates; SID computed only once the hangover has run out.
  int16_t hang = 1, el = 32767, used = 12, csid = 5;
  ASSERT_EQ(voksEncDTXHandler_GSMAMR_16s(&hang, &el, &used, &csid, 0), vokOk);
  // 32767 + 0 is not below 30: speech mode stays.
  EXPECT_EQ(std::vector<int>({el, hang, used, csid}), std::vector<int>({32767, 0, 12, 0}));
  ASSERT_EQ(voksEncDTXHandler_GSMAMR_16s(&hang, &el, &used, &csid, 0), vokOk);
  EXPECT_EQ(std::vector<int>({used, csid, el}), std::vector<int>({vokRateSid, 1, 0}));
  // Silence gives energy index 0; a loud history 63.
  int16_t lsp[80], en[8], idx, past[10] = {}, li[4], pq[4], pq2[4];
  for (int i = 0; i < 8; ++i) std::memcpy(lsp + 10 * i, kInitLsp, sizeof kInitLsp);
  for (auto& v : en) v = -32768 / 2;
  ASSERT_EQ(voksEncDTXSID_GSMAMR_16s(lsp, en, &idx, past, li, pq, pq2, 1), vokOk);
  EXPECT_EQ(idx, 0);
  for (auto& v : en) v = 32767;
  ASSERT_EQ(voksEncDTXSID_GSMAMR_16s(lsp, en, &idx, past, li, pq, pq2, 1), vokOk);
  EXPECT_EQ(idx, 63);
  EXPECT_EQ(pq[0], 0);
  vtest::Guard g;
  g.watch(&idx).watch(past, 10).watch(li, 4).watch(pq, 4).watch(pq2, 4);
  EXPECT_REJECTS(vokOk, g, voksEncDTXSID_GSMAMR_16s(lsp, en, &idx, past, li, pq, pq2, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksEncDTXSID_GSMAMR_16s(lsp, en, &idx, past, nullptr, pq, pq2, 1));
  // The history ring index names one of its 8 rows.
  for (int16_t row : {int16_t{8}, int16_t{-1}, int16_t{32767}}) {
    int16_t sp[160] = {}, hist[80] = {}, logEn[8] = {}, at = row;
    vtest::Guard h;
    h.watch(&at).watch(hist, 80).watch(logEn, 8);
    EXPECT_REJECTS(vokErrRange, h, voksEncDTXBuffer_GSMAMR_16s(sp, lsp, &at, hist, logEn));
    EXPECT_REJECTS(vokErrRange, h, voksDecDTXBuffer_GSMAMR_16s(sp, lsp, &at, hist, logEn));
  }
  int16_t code[40], w[10] = {};
  vtest::Guard c;
  c.watch(code, 40);
  EXPECT_REJECTS(vokErrNullPtr, c, voksFixedCodebookDecode_GSMAMR_16s(nullptr, code, 9, 2));
  EXPECT_REJECTS(vokErrRange, c, voksFixedCodebookDecode_GSMAMR_16s(w, code, 4, 0));
  EXPECT_REJECTS(vokErrRange, c, voksFixedCodebookDecode_GSMAMR_16s(w, code, 0, 2));
  // 10.2 kbit/s words wider than their fields would place pulses outside the subframe.
  for (int k : {0, 4, 5, 6}) {
    int16_t wide[10] = {};
    wide[k] = static_cast<int16_t>(k == 0 ? 2 : k == 6 ? 128 : -1);
    EXPECT_REJECTS(vokErrIndex, c, voksFixedCodebookDecode_GSMAMR_16s(wide, code, 1, kRates[6]));
  }
  ASSERT_EQ(voksFixedCodebookDecode_GSMAMR_16s(w, code, 0, vokRateSid), vokOk);
  // 4.75 kbit/s subframe 0, position word 0: pulses at 0 and 2, signs clear: -8192.
  EXPECT_EQ(code[0], -8192);
  EXPECT_EQ(code[2], -8192);
}
