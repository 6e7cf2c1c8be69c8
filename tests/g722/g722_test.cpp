// G.722 exports: argument checks, decoder modes, the concealment helpers.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "check.h"
#include "g722/g722_internal.h"
#include "voksc.h"

namespace {
struct State {
  std::vector<unsigned char> mem;
  explicit State(int offset = 0) {
    int n = 0;
    voksSBADPCMDecodeStateSize_G722_16s(&n);
    mem.resize(static_cast<std::size_t>(n + offset));
    voksSBADPCMDecodeInit_G722_16s(ptr(offset));
    off = offset;
  }
  void* ptr(int o) { return mem.data() + o; }
  void* p() { return ptr(off); }
  int off = 0;
};
}  // namespace

TEST(G722, SizesAndChecks) {
  int n = 0;
  ASSERT_EQ(voksSBADPCMEncodeStateSize_G722_16s(&n), vokOk);
  EXPECT_EQ(n, 144);
  EXPECT_EQ(voksSBADPCMDecodeStateSize_G722_16s(nullptr), vokErrNullPtr);
  State s;
  int16_t in[4] = {1, 2, 3, 4}, out[4], mem[24] = {};
  vtest::Guard g;
  g.watch(out, 4).watch(mem, 24).watch(s.mem.data(), s.mem.size());
  EXPECT_REJECTS(vokErrSize, g, voksQMFEncode_G722_16s(in, out, 3, mem));
  EXPECT_REJECTS(vokErrNullPtr, g, voksQMFEncode_G722_16s(in, out, 3, nullptr));
  EXPECT_REJECTS(vokErrSize, g, voksQMFDecode_G722_16s(in, out, 0, mem));
  EXPECT_REJECTS(vokErrSize, g, voksSBADPCMEncode_G722_16s(in, out, 3, s.p()));
  EXPECT_REJECTS(vokErrNullPtr, g, voksSBADPCMDecode_G722_16s(in, out, 3, 1, nullptr));
  EXPECT_REJECTS(vokErrRange, g, voksClassifyFrame_G722_16s_I(out, 144, &n, s.p()));
  EXPECT_REJECTS(vokErrNullPtr, g, voksClassifyFrame_G722_16s_I(out, 144, nullptr, s.p()));
  EXPECT_REJECTS(vokErrSize, g, voksDownsampleFilter_G722_16s(in, 0, out));
  EXPECT_REJECTS(vokErrNullPtr, g, voksFilterHighband_G722_16s_I(out, 0, nullptr));
  ASSERT_EQ(voksSBADPCMEncode_G722_16s(in, out, 2, s.p()), vokOk);  // one band-sample pair
}

TEST(G722, ModesBelowOneAndAboveThreeDecodeAt48k) {
  std::mt19937 rng(5);
  std::vector<int16_t> codes(400);
  for (std::size_t i = 0; i < codes.size(); i += 2) {
    codes[i] = static_cast<int16_t>(rng() & 63);
    codes[i + 1] = static_cast<int16_t>(rng() & 3);
  }
  std::vector<int16_t> ref(400), out(400);
  State a;
  voksSBADPCMDecode_G722_16s(codes.data(), ref.data(), 400, 3, a.p());
  for (int16_t mode : {0 + 4, 7, -1}) {
    State b;
    voksSBADPCMDecode_G722_16s(codes.data(), out.data(), 400, mode, b.p());
    EXPECT_EQ(out, ref) << mode;
  }
}

TEST(G722, StateUsedFromSixteenByteBoundary) {
  std::vector<int16_t> codes = {10, 1, 40, 2, 63, 3, 0, 0};
  std::vector<int16_t> o1(8), o2(8);
  State a(0), b(7);
  voksSBADPCMDecode_G722_16s(codes.data(), o1.data(), 8, 1, a.p());
  voksSBADPCMDecode_G722_16s(codes.data(), o2.data(), 8, 1, b.p());
  EXPECT_EQ(o1, o2);
}

TEST(G722, StateUpdateAfterLoss) {
  State s;
  const int16_t low[2] = {1000, -500};
  ASSERT_EQ(voksSBADPCMDecodeStateUpdate_G722_16s(low, 300, 1, s.p()), vokOk);
  auto* st = reinterpret_cast<voksc::g722::SbState*>((reinterpret_cast<uintptr_t>(s.p()) + 15) & ~uintptr_t{15});
  EXPECT_EQ(st->low.r[1], 1000);
  EXPECT_EQ(st->low.p[1], 500);
  EXPECT_EQ(st->high.det, 8);
  EXPECT_EQ(st->low.det, 32);
  st->high.nb = 22528;  // (L >> 7) = 176: inside the table
  ASSERT_EQ(voksSBADPCMDecodeStateUpdate_G722_16s(low, 300, 0, s.p()), vokOk);
  EXPECT_EQ(st->high.nb, 11264);
  st->high.nb = static_cast<int16_t>(353 << 7);  // beyond the table
  EXPECT_EQ(voksSBADPCMDecodeStateUpdate_G722_16s(low, 300, 0, s.p()), vokErrIndex);
  EXPECT_EQ(st->high.nb, static_cast<int16_t>(353 << 7) >> 1);  // a corrupted (negative) log scale
}

TEST(G722, DownsampleByFour) {
  std::vector<int16_t> buf(5 + 8, 0);
  for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = 1000;
  int16_t out[2] = {0, 0};
  ASSERT_EQ(voksDownsampleFilter_G722_16s(buf.data() + 5, 8, out), vokOk);
  // DC gain: sum of taps / 65536 = 67973 / 65536.
  EXPECT_EQ(out[0], (67973 * 1000 + 32768) >> 16);
  int16_t none[1] = {77};
  ASSERT_EQ(voksDownsampleFilter_G722_16s(buf.data() + 5, 3, none), vokOk);
  EXPECT_EQ(none[0], 77);
}

TEST(G722, HighbandFilterBlocksOfFourMatchSingles) {
  std::mt19937 rng(9);
  std::vector<int16_t> a(64), b;
  for (auto& v : a) v = static_cast<int16_t>(rng());
  b = a;
  int16_t m1[2] = {}, m2[2] = {};
  ASSERT_EQ(voksFilterHighband_G722_16s_I(a.data(), 64, m1), vokOk);
  for (int i = 0; i < 64; i += 2) ASSERT_EQ(voksFilterHighband_G722_16s_I(b.data() + i, 2, m2), vokOk);
  EXPECT_EQ(a, b);
  for (int i = 0; i < 64; i += 2) EXPECT_EQ(a[i], b[i]);  // low members untouched in both
}

TEST(G722, ClassifierLimitsExtension) {
  State s;
  auto* st = reinterpret_cast<voksc::g722::SbState*>((reinterpret_cast<uintptr_t>(s.p()) + 15) & ~uintptr_t{15});
  st->high.nb = 100;
  st->low.nb = 50;
  std::vector<int16_t> buf(2 + 20, 100);
  int16_t* x = buf.data() + 2;
  x[10 + 3] = -900;  // nine times its neighbourhood one period earlier
  x[10 + 5] = 150;   // slightly larger
  int cls = 0;
  ASSERT_EQ(voksClassifyFrame_G722_16s_I(x, 10, &cls, s.p()), vokOk);
  EXPECT_EQ(cls, 2);
  EXPECT_EQ(x[13], -100);
  EXPECT_EQ(x[15], 100);
  // Lag 0: only the class rule.
  cls = 5;
  ASSERT_EQ(voksClassifyFrame_G722_16s_I(x, 0, &cls, s.p()), vokOk);
  EXPECT_EQ(cls, 4);
}

TEST(G722, BlockQmfMatchesPerPairForm) {
  std::mt19937 rng(21);
  for (int len : {2, 16, 18, 1022, 1024, 1300}) {
    std::vector<int16_t> x(static_cast<std::size_t>(len));
    for (auto& v : x) v = static_cast<int16_t>(rng());
    int16_t memA[24] = {}, memB[24] = {};
    std::vector<int16_t> a(x.size()), b(x.size());
    for (int rep = 0; rep < 2; ++rep) {  // twice: the memory carries over
      ASSERT_EQ(voksQMFEncode_G722_16s(x.data(), a.data(), len, memA), vokOk);
      for (int i = 0; i < len; i += 2) voksc::g722::qmfAnalysis(x[i], x[i + 1], memB, b[i], b[i + 1]);
      ASSERT_EQ(a, b) << len;
      ASSERT_EQ(voksQMFDecode_G722_16s(x.data(), a.data(), len, memA), vokOk);
      for (int i = 0; i < len; i += 2) voksc::g722::qmfSynthesis(x[i], x[i + 1], memB, b[i], b[i + 1]);
      ASSERT_EQ(a, b) << len;
    }
  }
}

TEST(G722, QmfBranchSumsScalarEqualsAvx2) {
  std::mt19937 rng(3);
  std::vector<int16_t> w(24);
  for (int rep = 0; rep < 2000; ++rep) {
    for (auto& v : w) v = rep % 3 == 0 ? static_cast<int16_t>(rng() & 1 ? 32767 : -32768) : static_cast<int16_t>(rng());
    int32_t s1, d1, s2, d2;
    voksc::g722::qmfBranchSumsScalar(w.data(), s1, d1);
    voksc::g722::qmfBranchSumsAvx2(w.data(), s2, d2);
    ASSERT_EQ(s1, s2);
    ASSERT_EQ(d1, d2);
  }
}
