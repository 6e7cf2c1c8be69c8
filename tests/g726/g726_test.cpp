// G.726 exports: argument checks, state handling, both predictor forms,
// golden streams of the reference coder, tandem transparency and the range
// of decoded samples on arbitrary codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "g726/g711.h"
#include "g726/g726_codec.h"
#include "vectors.h"
#include "voksc.h"
#include "levels.h"

namespace {

namespace g726 = voksc::g726;

const VokRateCode kRates[] = {vokRate16000, vokRate24000, vokRateG726_32, vokRateG726_40};
const int kKbps[] = {16, 24, 32, 40};

std::vector<int16_t> speechLike(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 300.0);
  std::vector<int16_t> x(n);
  for (int i = 0; i < n; ++i) {
    double v = 3000.0 * std::sin(i * 0.07) * std::sin(i * 0.003) + noise(rng);
    x[i] = static_cast<int16_t>(std::max(-8192.0, std::min(8191.0, v)));
  }
  return x;
}

struct Enc {
  std::vector<unsigned char> mem;
  explicit Enc(VokRateCode r) {
    int n = 0;
    voksEncodeGetStateSize_G726_16s8u(&n);
    mem.resize(n);
    EXPECT_EQ(voksEncodeInit_G726_16s8u(mem.data(), r), vokOk);
  }
  std::vector<Vok8u> run(const std::vector<int16_t>& x) {
    std::vector<Vok8u> c(x.size());
    EXPECT_EQ(voksEncode_G726_16s8u(mem.data(), x.data(), c.data(), static_cast<int>(x.size())), vokOk);
    return c;
  }
};
struct Dec {
  std::vector<unsigned char> mem;
  Dec(VokRateCode r, int law) {
    int n = 0;
    voksDecodeGetStateSize_G726_8u16s(&n);
    mem.resize(n);
    EXPECT_EQ(voksDecodeInit_G726_8u16s(mem.data(), r, law), vokOk);
  }
  std::vector<Vok16s> run(const std::vector<Vok8u>& c) {
    std::vector<Vok16s> y(c.size());
    EXPECT_EQ(voksDecode_G726_8u16s(mem.data(), c.data(), y.data(), static_cast<int>(c.size())), vokOk);
    return y;
  }
};

// The rate index the state publishes at byte 22 (variable-rate operation).
void setRateIndex(std::vector<unsigned char>& mem, int index) {
  const int16_t v = static_cast<int16_t>(index);
  std::memcpy(mem.data() + 22, &v, 2);
}

std::vector<int16_t> golden(const std::string& name) {
  std::vector<int16_t> w;
  EXPECT_TRUE(vtest::readWords(vtest::goldenDir() + "/g726/" + name, w)) << name;
  return w;
}

}  // namespace

TEST(G726, SizeQueriesAndInitsCheckInOrder) {
  vtest::Guard none;
  EXPECT_REJECTS(vokErrNullPtr, none, voksEncodeGetStateSize_G726_16s8u(nullptr));
  EXPECT_REJECTS(vokErrNullPtr, none, voksDecodeGetStateSize_G726_8u16s(nullptr));
  // A null state wins over a bad rate and a bad law.
  EXPECT_REJECTS(vokErrNullPtr, none, voksEncodeInit_G726_16s8u(nullptr, 16));
  EXPECT_REJECTS(vokErrNullPtr, none, voksDecodeInit_G726_8u16s(nullptr, 25, 3));

  Enc e(vokRateG726_32);
  Dec d(vokRateG726_32, 2);
  vtest::Guard g;
  g.watch(e.mem.data(), e.mem.size()).watch(d.mem.data(), d.mem.size());
  for (VokRateCode bad : {-1, 0, 16, 18, 21, 25, 33}) {
    EXPECT_REJECTS(vokErrRange, g, voksEncodeInit_G726_16s8u(e.mem.data(), bad)) << bad;
    EXPECT_REJECTS(vokErrRange, g, voksDecodeInit_G726_8u16s(d.mem.data(), bad, 0)) << bad;
  }
  for (int law : {-1, 3, 255}) EXPECT_REJECTS(vokErrRange, g, voksDecodeInit_G726_8u16s(d.mem.data(), 23, law));
}

TEST(G726, CodersCheckInOrderAndWriteNothing) {
  Enc e(vokRateG726_32);
  Dec d(vokRateG726_32, 0);
  int16_t pcm[8] = {100, -200, 300, 0, 5, 6, 7, 8};
  Vok8u codes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Vok8u codesOut[8];
  Vok16s out[8];
  vtest::Guard g;
  g.watch(e.mem.data(), e.mem.size()).watch(d.mem.data(), d.mem.size()).watch(codesOut, 8).watch(out, 8);
  // Null pointers (each one, with a bad length) before the length.
  EXPECT_EACH_NULL(g, voksEncode_G726_16s8u, e.mem.data(), pcm, codesOut, 0);
  EXPECT_EACH_NULL(g, voksDecode_G726_8u16s, d.mem.data(), codes, out, 0);
  // len 0 is an error; a negative len succeeds doing nothing (state untouched).
  EXPECT_REJECTS(vokErrSize, g, voksEncode_G726_16s8u(e.mem.data(), pcm, codesOut, 0));
  EXPECT_REJECTS(vokErrSize, g, voksDecode_G726_8u16s(d.mem.data(), codes, out, 0));
  EXPECT_REJECTS(vokOk, g, voksEncode_G726_16s8u(e.mem.data(), pcm, codesOut, -3));
  EXPECT_REJECTS(vokOk, g, voksDecode_G726_8u16s(d.mem.data(), codes, out, -1));
}

TEST(G726, InitOverAUsedStateStartsAfresh) {
  // Init over a used state gives the same codes as over fresh memory.
  const auto x = speechLike(1500, 9);
  Enc used(vokRate24000), fresh(vokRate24000);
  used.run(speechLike(700, 4));
  ASSERT_EQ(voksEncodeInit_G726_16s8u(used.mem.data(), vokRate24000), vokOk);
  EXPECT_EQ(used.run(x), fresh.run(x));
}

TEST(G726, BlockBoundariesDoNotChangeOutput) {
  const auto x = speechLike(2000, 1);
  for (VokRateCode r : kRates) {
    Enc whole(r), pieces(r);
    const auto a = whole.run(x);
    std::vector<Vok8u> b(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
      ASSERT_EQ(voksEncode_G726_16s8u(pieces.mem.data(), &x[i], &b[i], 1), vokOk);
    EXPECT_EQ(a, b) << r;
    for (int law = 0; law < 3; ++law) {
      Dec dw(r, law), dp(r, law);
      const auto y = dw.run(a);
      std::vector<Vok16s> z(a.size());
      for (std::size_t at = 0, step = 1; at < a.size(); at += step, step = step % 7 + 2) {
        const int n = static_cast<int>(std::min(step, a.size() - at));
        ASSERT_EQ(voksDecode_G726_8u16s(dp.mem.data(), &a[at], &z[at], n), vokOk);
      }
      EXPECT_EQ(y, z) << r << " law " << law;
    }
  }
}

// Streams of the reference coder on inputs that reach overload, the tone
// detector and transitions, and decoders fed random bytes.
TEST(G726, MatchesReferenceStreams) {
  const auto x = golden("enc_in.pcm");
  const auto rnd = golden("dec_in.cod");
  std::vector<Vok8u> rndCodes(rnd.begin(), rnd.end());  // upper bits set: only the low bits count
  const char laws[] = {'m', 'a', 'l'};
  for (int r = 0; r < 4; ++r) {
    const std::string kb = std::to_string(kKbps[r]);
    Enc e(kRates[r]);
    const auto codes = e.run(x);
    const auto want = golden("enc_r" + kb + ".cod");
    EXPECT_EQ(std::vector<int16_t>(codes.begin(), codes.end()), want) << kb << " kbit/s encoder";
    for (int law = 0; law < 3; ++law) {
      Dec d(kRates[r], law);
      EXPECT_EQ(d.run(rndCodes), golden("dec_r" + kb + "_" + laws[law] + ".pcm")) << kb << " kbit/s law " << law;
    }
  }
}

TEST(G726, VariableRateThroughThePublishedIndex) {
  const auto x = golden("enc_in.pcm");
  const auto rate = golden("vbr_rate.bin");
  const auto wantCodes = golden("vbr_enc.cod");
  ASSERT_EQ(rate.size(), x.size());
  Enc e(vokRate16000);
  std::vector<Vok8u> codes(x.size());
  for (std::size_t at = 0; at < x.size();) {
    std::size_t n = 1;
    while (at + n < x.size() && rate[at + n] == rate[at]) ++n;
    setRateIndex(e.mem, rate[at]);
    ASSERT_EQ(voksEncode_G726_16s8u(e.mem.data(), &x[at], &codes[at], static_cast<int>(n)), vokOk);
    at += n;
  }
  EXPECT_EQ(std::vector<int16_t>(codes.begin(), codes.end()), wantCodes);
  const char laws[] = {'m', 'a', 'l'};
  for (int law = 0; law < 3; ++law) {
    Dec d(vokRate16000, law);
    std::vector<Vok16s> y(codes.size());
    for (std::size_t at = 0; at < codes.size(); ++at) {
      setRateIndex(d.mem, rate[at]);
      ASSERT_EQ(voksDecode_G726_8u16s(d.mem.data(), &codes[at], &y[at], 1), vokOk);
    }
    EXPECT_EQ(y, golden(std::string("vbr_dec_") + laws[law] + ".pcm")) << "law " << law;
  }
}

// The portable and the AVX2 predictor forms give identical bits, including
// inputs outside the 14-bit range, constant overload and random codes.
TEST(G726, PortableAndVectorFormsAgree) {
  REQUIRE_AVX2();
  std::mt19937 rng(77);
  for (int r = 0; r < 4; ++r)
    for (int kind = 0; kind < 4; ++kind) {
      std::vector<int16_t> x(6000);
      for (std::size_t i = 0; i < x.size(); ++i) {
        switch (kind) {
          case 0: x[i] = static_cast<int16_t>(rng()); break;  // full 16-bit range
          case 1: x[i] = (i / 900) % 2 ? 8191 : -8192; break;
          case 2: x[i] = static_cast<int16_t>(static_cast<int>(rng() % 7) - 3); break;
          default: x[i] = static_cast<int16_t>(7000 * std::sin(i * 0.785)); break;
        }
      }
      std::vector<Vok8u> c[2];
      std::vector<Vok16s> y[2][3];
      g726::State fin[2];
      for (int k = 0; k < 2; ++k) {
        const g726::Kernel kern = k ? g726::Kernel::kAvx2 : g726::Kernel::kScalar;
        g726::State s;
        g726::resetState(s, r);
        c[k].resize(x.size());
        g726::encodeBlock(s, x.data(), c[k].data(), static_cast<int>(x.size()), kern);
        fin[k] = s;
        // Random bytes, or long runs of the largest positive and negative codes.
        std::vector<Vok8u> codes(x.size());
        std::mt19937 r2(r * 8 + kind);
        for (std::size_t i = 0; i < codes.size(); ++i)
          codes[i] = static_cast<Vok8u>(kind == 1 ? ((i / 700) % 2 ? 0x7F : 0x80) >> (3 - r) : r2());
        for (int law = 0; law < 3; ++law) {
          g726::DecoderState d;
          g726::resetState(d.c, r);
          d.law = law;
          y[k][law].resize(codes.size());
          g726::decodeBlock(d, codes.data(), y[k][law].data(), static_cast<int>(codes.size()), kern);
        }
      }
      EXPECT_EQ(c[0], c[1]) << "rate " << r << " kind " << kind;
      EXPECT_EQ(std::memcmp(&fin[0], &fin[1], sizeof fin[0]), 0) << "final state, rate " << r << " kind " << kind;
      for (int law = 0; law < 3; ++law) EXPECT_EQ(y[0][law], y[1][law]) << "rate " << r << " law " << law;
    }
}

TEST(G726, G711StepsMatchTheLawTables) {
  // Every character expands and compresses back to itself (mu-law's
  // negative zero expands to 0, which compresses to the positive zero).
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(voksc::g711::compress(static_cast<int16_t>(voksc::g711::expandLinear(c, true)), true), c) << c;
    if (c != 0x7F) {
      EXPECT_EQ(voksc::g711::compress(static_cast<int16_t>(voksc::g711::expandLinear(c, false)), false), c) << c;
    }
  }
  // The largest magnitudes saturate to the end characters.
  EXPECT_EQ(voksc::g711::compress(32767, false), 0x80);
  EXPECT_EQ(voksc::g711::compress(-32767, false), 0x00);
  EXPECT_EQ(voksc::g711::compress(32767, true), 0xFF);
  EXPECT_EQ(voksc::g711::compress(-32768, true), voksc::g711::compress(-2, true));
}
