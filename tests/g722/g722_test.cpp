// G.722 exports: argument checks, decoder modes, state handling, the
// concealment helpers and the QMF kernels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "check.h"
#include "common/basic_op.h"
#include "g722/g722_internal.h"
#include "g722/g722_tables.h"
#include "voksc.h"
#include "levels.h"

namespace {

using voksc::g722::SbState;
using V = std::vector<int>;

// A state object at a chosen misalignment, with its aligned view.
struct State {
  std::vector<unsigned char> mem;
  int off;
  explicit State(int offset = 0) : off(offset) {
    int n = 0;
    voksSBADPCMDecodeStateSize_G722_16s(&n);
    mem.resize(static_cast<std::size_t>(n + offset));
    voksSBADPCMDecodeInit_G722_16s(p());
  }
  void* p() { return mem.data() + off; }
  SbState* st() { return reinterpret_cast<SbState*>((reinterpret_cast<uintptr_t>(p()) + 15) & ~uintptr_t{15}); }
};

std::vector<int16_t> randomCodes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<int16_t> c(n);
  for (std::size_t i = 0; i < n; i += 2) {
    c[i] = static_cast<int16_t>(rng() & 63);
    c[i + 1] = static_cast<int16_t>(rng() & 3);
  }
  return c;
}

std::vector<int16_t> decodeFresh(const std::vector<int16_t>& codes, int mode, int offset = 3) {
  State s(offset);
  std::vector<int16_t> out(codes.size());
  EXPECT_EQ(voksSBADPCMDecode_G722_16s(codes.data(), out.data(), static_cast<int>(codes.size()),
                                       static_cast<Vok16s>(mode), s.p()),
            vokOk);
  return out;
}

}  // namespace

// ---- argument checks: null pointers before lengths before ranges, and a
// failing call writes nothing --------------------------------------------

TEST(G722Checks, StateSizeAndInit) {
  int a = 0;
  ASSERT_EQ(voksSBADPCMEncodeStateSize_G722_16s(&a), vokOk);
  for (auto f : {voksSBADPCMEncodeStateSize_G722_16s, voksSBADPCMDecodeStateSize_G722_16s})
    EXPECT_EQ(f(nullptr), vokErrNullPtr);
  for (auto f : {voksSBADPCMEncodeInit_G722_16s, voksSBADPCMDecodeInit_G722_16s}) EXPECT_EQ(f(nullptr), vokErrNullPtr);
  // At every misalignment Init stays inside the bytes handed over.
  for (int off = 0; off < 16; ++off) {
    std::vector<unsigned char> buf(16 + a + 16, 0xC3);
    unsigned char* p = buf.data() + 16 + off;
    if (p + a > buf.data() + buf.size()) break;
    ASSERT_EQ(voksSBADPCMEncodeInit_G722_16s(p), vokOk);
    for (unsigned char* q = buf.data(); q < p; ++q) ASSERT_EQ(*q, 0xC3) << off;
    for (unsigned char* q = p + a; q < buf.data() + buf.size(); ++q) ASSERT_EQ(*q, 0xC3) << off;
  }
}

TEST(G722Checks, QmfFilters) {
  int16_t in[8] = {1, 2, 3, 4, 5, 6, 7, 8}, out[8], mem[24];
  vtest::Guard g;
  g.watch(out, 8).watch(mem, 24);
  for (auto f : {voksQMFEncode_G722_16s, voksQMFDecode_G722_16s}) {
    EXPECT_EACH_NULL(g, f, in, out, 3, mem);
    for (int len : {0, -2, 3, 7}) EXPECT_REJECTS(vokErrSize, g, f(in, out, len, mem));
    std::fill(mem, mem + 24, int16_t{0});
    EXPECT_EQ(f(in, out, 2, mem), vokOk);
  }
}

TEST(G722Checks, BandCoders) {
  State s;
  int16_t in[4] = {100, -50, 7, 9}, out[4];
  vtest::Guard g;
  g.watch(out, 4).watch(s.mem.data(), s.mem.size());
  EXPECT_EACH_NULL(g, voksSBADPCMEncode_G722_16s, in, out, 3, s.p());
  for (int len : {0, 3}) EXPECT_REJECTS(vokErrSize, g, voksSBADPCMEncode_G722_16s(in, out, len, s.p()));
  EXPECT_EACH_NULL(g, voksSBADPCMDecode_G722_16s, in, out, 3, 1, s.p());
  EXPECT_EACH_NULL(g, voksSBADPCMDecodeStateUpdate_G722_16s, in, 5, 0, s.p());
  for (int len : {-4, 1}) EXPECT_REJECTS(vokErrSize, g, voksSBADPCMDecode_G722_16s(in, out, len, 99, s.p()));

  // Length 2 codes exactly one band-sample pair and leaves the rest alone.
  State e;
  out[2] = out[3] = 1234;
  ASSERT_EQ(voksSBADPCMEncode_G722_16s(in, out, 2, e.p()), vokOk);
  EXPECT_EQ(V(out + 2, out + 4), V(2, 1234));
}

TEST(G722Checks, ConcealmentHelpers) {
  State s;
  int16_t x[40] = {}, out[8];
  int cls = 0;
  vtest::Guard g;
  g.watch(out, 8).watch(x, 40).watch(&cls);
  EXPECT_NULLS_THEN(vokErrSize, g, voksDownsampleFilter_G722_16s, x + 5, 0, out);
  EXPECT_REJECTS(vokErrSize, g, voksDownsampleFilter_G722_16s(x + 5, -4, out));
  int16_t hmem[2];
  g.watch(hmem, 2);
  EXPECT_NULLS_THEN(vokErrSize, g, voksFilterHighband_G722_16s_I, x, 0, hmem);
  EXPECT_REJECTS(vokErrSize, g, voksFilterHighband_G722_16s_I(x, -1, hmem));
  s.st()->high.nb = 10;  // class rule fires: a missed range check would write the class word
  EXPECT_NULLS_THEN(vokErrRange, g, voksClassifyFrame_G722_16s_I, x + 2, 144, &cls, s.p());
  EXPECT_REJECTS(vokErrRange, g, voksClassifyFrame_G722_16s_I(x + 2, -1, &cls, s.p()));
}

// ---- SB-ADPCM coders -----------------------------------------------------

// Modes 1..3 are held to the reference by g722_golden_test (dec_random_m*).
TEST(G722, DecoderModesOtherThanOneAndTwoDecodeAt48k) {
  auto codes = randomCodes(600, 5);
  const auto m3 = decodeFresh(codes, 3);
  for (int mode : {0, 4, 7, -1, 32767}) EXPECT_EQ(decodeFresh(codes, mode), m3) << mode;
}

TEST(G722, DecoderIgnoresBitsAboveTheCodeFields) {
  auto codes = randomCodes(400, 6), dirty = codes;
  std::mt19937 rng(7);
  for (std::size_t i = 0; i < dirty.size(); i += 2) {
    dirty[i] = static_cast<int16_t>(dirty[i] | (rng() & ~63u));
    dirty[i + 1] = static_cast<int16_t>(dirty[i + 1] | (rng() & ~3u));
  }
  for (int mode = 1; mode <= 3; ++mode) EXPECT_EQ(decodeFresh(dirty, mode), decodeFresh(codes, mode)) << mode;
}

TEST(G722, StateUsedFromItsSixteenByteBoundary) {
  auto codes = randomCodes(64, 8);
  auto ref = decodeFresh(codes, 1, 0);
  for (int off = 1; off < 16; ++off) EXPECT_EQ(decodeFresh(codes, 1, off), ref) << off;
}

// ---- state update after loss -------------------------------------------

TEST(G722, StateUpdateRebuildsTheHighBandScaleFromTheHalvedLog) {
  // Linear scale factors of the reference coder (its scaleh) for L >> 1.
  struct {
    int16_t L, det;
  } const want[] = {{0, 8},       {127, 8},     {255, 8},     {4096, 16},   {11264, 52},
                    {11265, 52},  {22528, 360}, {22591, 360}, {32767, 2004}};
  const int16_t low[2] = {1000, -501};
  for (auto w : want) {
    State s;
    s.st()->high.nb = w.L;
    s.st()->low.nb = 7000;
    s.st()->low.det = 77;
    ASSERT_EQ(voksSBADPCMDecodeStateUpdate_G722_16s(low, 300, 0, s.p()), vokOk) << w.L;
    // The high band's scale rebuilt; the low band keeps its own.
    EXPECT_EQ(V({s.st()->high.det, s.st()->high.nb, s.st()->low.nb, s.st()->low.det}), V({w.det, w.L >> 1, 7000, 77}));
  }
}

TEST(G722, StateUpdateStoresTheConcealedHistory) {
  State s;
  auto& lb = s.st()->low;
  auto& hb = s.st()->high;
  lb.a[1] = 8192;  // 0.25 in Q15 on the doubled history
  lb.a[2] = -4096;
  hb.a[1] = 16384;
  for (int i = 0; i < 7; ++i) lb.d[i] = hb.d[i] = static_cast<int16_t>(100 + i);
  lb.sz = hb.sz = 55;
  const int16_t low[2] = {1000, -501};
  ASSERT_EQ(voksSBADPCMDecodeStateUpdate_G722_16s(low, -301, 0, s.p()), vokOk);
  // History stored (halved by an arithmetic shift), difference lines cleared,
  // and the next prediction from the new history alone: 0.25 * 2000 +
  // -0.125 * -1002, each product truncated.
  EXPECT_EQ(V({lb.r[1], lb.r[2], lb.p[1], lb.p[2], hb.r[1], hb.p[1], hb.r[2], lb.s, hb.s}),
            V({1000, -501, 500, -251, -301, -151, 0, 500 + 125, -301}));
  for (int i = 0; i < 7; ++i) EXPECT_EQ(lb.d[i] | hb.d[i], 0);
}

TEST(G722, StateUpdateWithResetAndWithACorruptLogScale) {
  State s;
  s.st()->high.nb = 20000;
  s.st()->low.nb = 9000;
  s.st()->low.det = 500;
  const int16_t low[2] = {1, 2};
  ASSERT_EQ(voksSBADPCMDecodeStateUpdate_G722_16s(low, 3, 1, s.p()), vokOk);
  EXPECT_EQ(V({s.st()->low.det, s.st()->high.det, s.st()->low.nb, s.st()->high.nb}), V({32, 8, 0, 0}));

  // A negative log scale indexes beyond the table: halved, history stored,
  // scale factor left, vokErrIndex.
  s.st()->high.nb = -200;
  s.st()->high.det = 1234;
  EXPECT_EQ(voksSBADPCMDecodeStateUpdate_G722_16s(low, 3, 1, s.p()), vokErrIndex);
  EXPECT_EQ(V({s.st()->high.nb, s.st()->high.det, s.st()->high.r[1]}), V({-100, 1234, 3}));
}

// ---- concealment helpers -------------------------------------------------

TEST(G722, DownsampleTapsAndAlignment) {
  // An impulse of 4 at x[k] shows tap (k relative to 4n + 3) as round(h / 16384).
  const int h[9] = {3692, 6190, 8525, 10186, 10787, 10186, 8525, 6190, 3692};
  for (int k = -5; k < 8; ++k) {
    std::vector<int16_t> buf(5 + 8, 0);
    buf[static_cast<std::size_t>(5 + k)] = 16384;
    int16_t out[2] = {-1, -1};
    ASSERT_EQ(voksDownsampleFilter_G722_16s(buf.data() + 5, 8, out), vokOk);
    for (int n = 0; n < 2; ++n) {
      int j = 4 * n + 3 - k;  // tap index meeting x[k]
      int16_t e = j >= 0 && j < 9 ? static_cast<int16_t>((h[j] * 16384 + 32768) >> 16) : 0;
      EXPECT_EQ(out[n], e) << "k " << k << " n " << n;
    }
  }
  // Lengths below 4 produce nothing; 7 produces one.
  std::vector<int16_t> buf(5 + 8, 1000);
  int16_t out[2] = {77, 77};
  ASSERT_EQ(voksDownsampleFilter_G722_16s(buf.data() + 5, 3, out), vokOk);
  EXPECT_EQ(out[0], 77);
  ASSERT_EQ(voksDownsampleFilter_G722_16s(buf.data() + 5, 7, out), vokOk);
  EXPECT_EQ(V(out, out + 2), V({(67973 * 1000 + 32768) >> 16, 77}));
}

TEST(G722, DownsampleSaturatesAtFullScale) {
  // Full-scale DC: the exact sums pass 32 bits in both directions.
  std::vector<int16_t> hi(5 + 8, 32767), lo(5 + 8, -32768);
  int16_t out[2];
  ASSERT_EQ(voksDownsampleFilter_G722_16s(hi.data() + 5, 8, out), vokOk);
  EXPECT_EQ(V(out, out + 2), V(2, 32767));
  ASSERT_EQ(voksDownsampleFilter_G722_16s(lo.data() + 5, 8, out), vokOk);
  EXPECT_EQ(V(out, out + 2), V(2, -32768));
  // Sums just at the rounding limit: 0x7FFF7FFF rounds to 32767 by itself,
  // 0x7FFF8000 would wrap and is held at 32767.
  for (int16_t tap0 : {int16_t{12012}, int16_t{21306}}) {
    std::vector<int16_t> x(5 + 4, 32767);
    x[5 + 3] = tap0;                                      // meets 3692
    x[5 - 1] = static_cast<int16_t>(tap0 == 12012 ? 32471 : 29290);  // meets 10787
    int16_t y = 0;
    ASSERT_EQ(voksDownsampleFilter_G722_16s(x.data() + 5, 4, &y), vokOk);
    EXPECT_EQ(y, 32767) << tap0;
  }
}

TEST(G722, HighbandFilterSteps) {
  // x = 1000 twice from rest: t = 891 both times; the second output adds the
  // feedback 0.783 * 891 = 698 minus the previous t.
  int16_t p[4] = {5, 1000, 6, 1000}, mem[2] = {0, 0};
  ASSERT_EQ(voksFilterHighband_G722_16s_I(p, 4, mem), vokOk);
  EXPECT_EQ(V({p[0], p[1], p[2], p[3], mem[0], mem[1]}), V({5, 891, 6, 698, 891, 698}));
  // The feedback minus the previous scaled input wraps to 16 bits before
  // the saturating sum (25655 - (-29212) = 54867 becomes -10669), while the
  // final sum saturates (29211 + 25655, -29212 - 25656).
  struct {
    int16_t x, m0, m1, want;
  } const rows[] = {{0, -29212, 32767, -10669}, {32767, 0, 32767, 32767}, {-32768, 0, -32768, -32768}};
  for (auto r : rows) {
    int16_t q[2] = {0, r.x}, m[2] = {r.m0, r.m1};
    ASSERT_EQ(voksFilterHighband_G722_16s_I(q, 2, m), vokOk);
    EXPECT_EQ(q[1], r.want) << r.x;
  }
}

TEST(G722, HighbandFilterOddLengthsCoverTheLastHalfPair) {
  std::mt19937 rng(9);
  std::vector<int16_t> a(66), b;
  for (auto& v : a) v = static_cast<int16_t>(rng());
  b = a;
  int16_t m1[2] = {}, m2[2] = {};
  ASSERT_EQ(voksFilterHighband_G722_16s_I(a.data(), 64, m1), vokOk);
  for (int i = 0; i < 64; i += 4) ASSERT_EQ(voksFilterHighband_G722_16s_I(b.data() + i, 3, m2), vokOk);
  EXPECT_EQ(a, b);  // len 3 is two pairs: elements 1 and 3
  for (int i = 0; i < 64; i += 2) ASSERT_EQ(a[i], b[i]);
  int16_t one[2] = {11, 1000}, m3[2] = {};
  ASSERT_EQ(voksFilterHighband_G722_16s_I(one, 1, m3), vokOk);
  EXPECT_EQ(V(one, one + 2), V({11, 891}));
}

TEST(G722, ClassifierClassRules) {
  struct {
    int16_t hi, lo;
    int before, after;
    bool limits;
  } const cases[] = {
      {100, 50, 0, 3, true}, {100, 50, 1, 4, true}, {100, 50, 4, 4, true},
      {50, 50, 0, 0, false}, {50, 100, 1, 1, false}, {50, 100, 3, 3, true}, {50, 100, 4, 4, true},
  };
  for (auto c : cases) {
    State s;
    s.st()->high.nb = c.hi;
    s.st()->low.nb = c.lo;
    std::vector<int16_t> buf(2 + 20, 100);
    buf[2 + 10 + 4] = 150;  // slightly above its neighbourhood: limited, not counted
    int cls = c.before;
    ASSERT_EQ(voksClassifyFrame_G722_16s_I(buf.data() + 2, 10, &cls, s.p()), vokOk);
    EXPECT_EQ(cls, c.after) << c.hi << " " << c.lo << " " << c.before;
    EXPECT_EQ(buf[2 + 14], c.limits ? 100 : 150);
    // Lag 0: only the class rule.
    cls = c.before;
    ASSERT_EQ(voksClassifyFrame_G722_16s_I(buf.data() + 2, 0, &cls, s.p()), vokOk);
    EXPECT_EQ(cls, c.after);
  }
}

TEST(G722, ClassifierLimitsTheExtensionToThePreviousPeriod) {
  State s;
  s.st()->high.nb = 100;
  const int lag = 10;
  auto run = [&](std::vector<int16_t>& buf, int& cls) {
    ASSERT_EQ(voksClassifyFrame_G722_16s_I(buf.data() + 2, lag, &cls, s.p()), vokOk);
  };
  // Exactly eight times the neighbourhood is a transient (class 2).
  std::vector<int16_t> buf(2 + 2 * lag, 100);
  buf[2 + lag + 3] = -800;
  int cls = 0;
  run(buf, cls);
  EXPECT_EQ(V({cls, buf[2 + lag + 3]}), V({2, -100}));
  // Just under eight times: limited, class unchanged.
  buf.assign(2 + 2 * lag, 100);
  buf[2 + lag + 3] = 799;
  cls = 0;
  run(buf, cls);
  EXPECT_EQ(V({cls, buf[2 + lag + 3]}), V({3, 100}));
  // The neighbourhood reaches two samples back into the history in front.
  buf.assign(2 + 2 * lag, 10);
  buf[0] = 5000;
  buf[2 + lag] = 6000;
  cls = 0;
  run(buf, cls);
  EXPECT_EQ(V({cls, buf[2 + lag]}), V({3, 5000}));
  // -32768 counts as 32767, so it is not above a neighbourhood holding -32768.
  buf.assign(2 + 2 * lag, 10);
  buf[1] = -32768;
  buf[2 + lag] = -32768;
  run(buf, cls);
  EXPECT_EQ(buf[2 + lag], -32768);
  // Samples at or below the neighbourhood are left alone.
  buf.assign(2 + 2 * lag, 0);
  for (int i = 0; i < 2 * lag; ++i) buf[static_cast<std::size_t>(2 + i)] = static_cast<int16_t>(i < lag ? 500 : -500);
  auto before = buf;
  cls = 0;
  run(buf, cls);
  EXPECT_EQ(buf, before);
}

// ---- QMF -----------------------------------------------------------------

TEST(G722, QmfInPlaceAndLengths16And18AgreeOnTheirCommonPrefix) {
  std::mt19937 rng(4);
  std::vector<int16_t> x(18);
  for (auto& v : x) v = static_cast<int16_t>(rng());
  for (auto f : {voksQMFEncode_G722_16s, voksQMFDecode_G722_16s}) {
    int16_t m16[24] = {}, m18[24] = {}, mi[24] = {};
    std::vector<int16_t> y16(16), y18(18), yi = x;
    ASSERT_EQ(f(x.data(), y16.data(), 16, m16), vokOk);
    ASSERT_EQ(f(x.data(), y18.data(), 18, m18), vokOk);
    ASSERT_EQ(f(yi.data(), yi.data(), 18, mi), vokOk);
    EXPECT_TRUE(std::equal(y16.begin(), y16.end(), y18.begin()));
    EXPECT_EQ(yi, y18);
  }
}

TEST(G722, QmfBlockKernelsScalarEqualsAvx2) {
  REQUIRE_AVX2();
  // Windows of every input kind; pair counts with and without a tail after
  // the groups of eight.
  std::mt19937 rng(3);
  for (int rep = 0; rep < 400; ++rep) {
    const int pairs = 1 + static_cast<int>(rng() % 40);
    const auto w = vtest::make(rng, 22 + 2 * pairs, vtest::kKinds[rep % 9]);
    std::vector<int16_t> a(static_cast<std::size_t>(2 * pairs)), b(a.size());
    voksc::g722::qmfAnalysisBlockScalar(w.data(), pairs, a.data());
    voksc::g722::qmfAnalysisBlockAvx2(w.data(), pairs, b.data());
    ASSERT_EQ(a, b) << rep;
    voksc::g722::qmfSynthesisBlockScalar(w.data(), pairs, a.data());
    voksc::g722::qmfSynthesisBlockAvx2(w.data(), pairs, b.data());
    ASSERT_EQ(a, b) << rep;
  }
}

// The band coders' two forms from equal states (fresh or random bytes) on
// band signals (or codes) of every input kind, the kind changing from block
// to block, in every decoder mode: codes, outputs and states equal after
// every block of random even length.
TEST(G722, BandCoderFormsAgree) {
  REQUIRE_AVX2();
  std::mt19937 rng(11);
  for (int rep = 0; rep < 240; ++rep) {
    SbState p{}, q{};
    if (rep % 4 == 0) {
      for (std::size_t i = 0; i < sizeof p; ++i) reinterpret_cast<unsigned char*>(&p)[i] = rng() & 255;
    } else {
      p.low.det = 32;
      p.high.det = 8;
    }
    q = p;
    const bool decode = rep % 2 != 0;
    const int mode = 1 + rep % 3;
    for (int block = 0; block < 6; ++block) {
      const int len = 2 * (1 + static_cast<int>(rng() % 120));
      const auto in = vtest::make(rng, len, vtest::kKinds[(rep / 2 + block) % 9]);
      std::vector<int16_t> o1(in.size()), o2(in.size());
      if (decode) {
        voksc::g722::sbDecodeScalar(mode, p, in.data(), o1.data(), len);
        voksc::g722::sbDecodeAvx2(mode, q, in.data(), o2.data(), len);
      } else {
        voksc::g722::sbEncodeScalar(p, in.data(), o1.data(), len);
        voksc::g722::sbEncodeAvx2(q, in.data(), o2.data(), len);
      }
      ASSERT_EQ(o1, o2) << rep << " block " << block;
      ASSERT_EQ(std::memcmp(&p, &q, sizeof p), 0) << rep << " block " << block;
    }
  }
}

TEST(G722, LowBandQuantiserEqualsTheIntervalSearch) {
  // Every error value at every scale the adaptation can produce (and a few
  // it cannot: zero and negative scales of a corrupted state).
  std::vector<int16_t> dets = {0, -1, -16384, 32767};
  for (int k = 0; k <= 352; ++k) dets.push_back(static_cast<int16_t>((voksc::g722::kLogToLinear[k] + 1) << 2));
  std::sort(dets.begin(), dets.end());
  dets.erase(std::unique(dets.begin(), dets.end()), dets.end());
  auto reference = [](int16_t el, int16_t det) {
    int16_t wd = el >= 0 ? el : static_cast<int16_t>(32767 - (el & 32767));
    int mil = 0;
    while (voksc::op::mult(static_cast<int16_t>(voksc::g722::kLowDecision[mil] << 3), det) <= wd && mil < 30) ++mil;
    return voksc::g722::kLowCodeBySign[el < 0 ? 0 : 1][mil];
  };
  for (int16_t det : dets) {
    // Both sides of every decision level, for both signs, and the extremes.
    std::vector<int> mags = {0, 1, 32766, 32767};
    for (int i = 0; i < 31; ++i) {
      int v = voksc::op::mult(static_cast<int16_t>(voksc::g722::kLowDecision[i] << 3), det);
      for (int dv = -1; dv <= 1; ++dv)
        if (v + dv >= 0 && v + dv <= 32767) mags.push_back(v + dv);
    }
    for (int wd : mags)
      for (int16_t el : {static_cast<int16_t>(wd), static_cast<int16_t>(-wd - 1)}) {
        ASSERT_EQ(voksc::g722::lowQuantCode(el, det), reference(el, det)) << el << " " << det;
        if (vtest::haveAvx2()) {
          ASSERT_EQ(voksc::g722::lowQuantCodeAvx2(el, det), reference(el, det)) << el << " " << det;
        }
      }
  }
}
