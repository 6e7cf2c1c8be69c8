// G.726 exports: argument checks, state sizes, block independence, tandem
// transparency and robustness against arbitrary codes.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "check.h"
#include "g728_g726/g711.h"
#include "voksc.h"

namespace {

const VokRateCode kRates[] = {vokRate16000, vokRate24000, vokRateG726_32, vokRateG726_40};

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
};
struct Dec {
  std::vector<unsigned char> mem;
  Dec(VokRateCode r, int law) {
    int n = 0;
    voksDecodeGetStateSize_G726_8u16s(&n);
    mem.resize(n);
    EXPECT_EQ(voksDecodeInit_G726_8u16s(mem.data(), r, law), vokOk);
  }
};

}  // namespace

TEST(G726, StateSizes) {
  int n = 0;
  ASSERT_EQ(voksEncodeGetStateSize_G726_16s8u(&n), vokOk);
  EXPECT_EQ(n, 88);
  ASSERT_EQ(voksDecodeGetStateSize_G726_8u16s(&n), vokOk);
  EXPECT_EQ(n, 92);
  EXPECT_EQ(voksEncodeGetStateSize_G726_16s8u(nullptr), vokErrNullPtr);
  EXPECT_EQ(voksDecodeGetStateSize_G726_8u16s(nullptr), vokErrNullPtr);
}

TEST(G726, ArgumentChecksWriteNothing) {
  Enc e(vokRateG726_32);
  Dec d(vokRateG726_32, 2);
  int16_t pcm[8] = {};
  Vok8u codes[8];
  Vok16s out[8];
  vtest::Guard g;
  g.watch(e.mem.data(), e.mem.size()).watch(d.mem.data(), d.mem.size()).watch(codes, 8).watch(out, 8);
  EXPECT_REJECTS(vokErrNullPtr, g, voksEncode_G726_16s8u(e.mem.data(), nullptr, codes, 0));
  EXPECT_REJECTS(vokErrSize, g, voksEncode_G726_16s8u(e.mem.data(), pcm, codes, 0));
  EXPECT_REJECTS(vokOk, g, voksEncode_G726_16s8u(e.mem.data(), pcm, codes, -3));
  EXPECT_REJECTS(vokErrNullPtr, g, voksDecode_G726_8u16s(nullptr, codes, out, 0));
  EXPECT_REJECTS(vokErrSize, g, voksDecode_G726_8u16s(d.mem.data(), codes, out, 0));
  EXPECT_REJECTS(vokOk, g, voksDecode_G726_8u16s(d.mem.data(), codes, out, -1));
  EXPECT_REJECTS(vokErrRange, g, voksEncodeInit_G726_16s8u(e.mem.data(), 16));
  EXPECT_REJECTS(vokErrRange, g, voksDecodeInit_G726_8u16s(d.mem.data(), vokRate24000, 3));
  EXPECT_REJECTS(vokErrRange, g, voksDecodeInit_G726_8u16s(d.mem.data(), 25, 0));
  EXPECT_REJECTS(vokErrNullPtr, g, voksDecodeInit_G726_8u16s(nullptr, 25, 3));
}

TEST(G726, BlockBoundariesDoNotChangeCodes) {
  auto x = speechLike(2000, 1);
  for (VokRateCode r : kRates) {
    Enc whole(r), pieces(r);
    std::vector<Vok8u> a(x.size()), b(x.size());
    ASSERT_EQ(voksEncode_G726_16s8u(whole.mem.data(), x.data(), a.data(), static_cast<int>(x.size())), vokOk);
    for (std::size_t i = 0; i < x.size(); ++i)
      ASSERT_EQ(voksEncode_G726_16s8u(pieces.mem.data(), &x[i], &b[i], 1), vokOk);
    EXPECT_EQ(a, b) << r;
  }
}

TEST(G726, LinearDecodeTracksInputAndStaysIn14Bits) {
  auto x = speechLike(4000, 2);
  double prevSnr = 0.0;
  for (VokRateCode r : kRates) {
    Enc e(r);
    Dec d(r, 2);
    std::vector<Vok8u> c(x.size());
    std::vector<Vok16s> y(x.size());
    voksEncode_G726_16s8u(e.mem.data(), x.data(), c.data(), static_cast<int>(x.size()));
    voksDecode_G726_8u16s(d.mem.data(), c.data(), y.data(), static_cast<int>(c.size()));
    double num = 0, den = 0;
    for (std::size_t i = 200; i < x.size(); ++i) {
      ASSERT_GE(y[i], -8192);
      ASSERT_LE(y[i], 8191);
      num += double(x[i]) * x[i];
      den += double(x[i] - y[i]) * (x[i] - y[i]);
    }
    double snr = 10 * std::log10(num / den);
    EXPECT_GT(snr, prevSnr) << "each higher rate codes better, rate " << r;
    prevSnr = snr;
  }
  EXPECT_GT(prevSnr, 25.0);
}

TEST(G726, SynchronousTandemIsTransparent) {
  // ADPCM -> PCM (with the synchronous adjustment) -> ADPCM gives back the
  // same codes: tandem links do not accumulate distortion.
  auto x = speechLike(3000, 3);
  for (VokRateCode r : kRates) {
    for (bool alaw : {false, true}) {
      Enc e1(r), e2(r);
      Dec d(r, alaw ? 1 : 0);
      std::vector<Vok8u> c1(x.size()), c2(x.size());
      std::vector<Vok16s> chars(x.size());
      std::vector<int16_t> lin(x.size());
      // A PCM link: the first encoder also sees G.711 characters.
      std::vector<int16_t> in(x.size());
      for (std::size_t i = 0; i < x.size(); ++i)
        in[i] = static_cast<int16_t>(
            voksc::g711::expandLinear(voksc::g711::compress(static_cast<int16_t>(x[i] * 2), alaw), alaw));
      voksEncode_G726_16s8u(e1.mem.data(), in.data(), c1.data(), static_cast<int>(x.size()));
      voksDecode_G726_8u16s(d.mem.data(), c1.data(), chars.data(), static_cast<int>(c1.size()));
      for (std::size_t i = 0; i < x.size(); ++i) {
        int c = chars[i] & 0xFF;
        if (alaw) c ^= 0x55;
        lin[i] = static_cast<int16_t>(voksc::g711::expandLinear(c, alaw));
      }
      voksEncode_G726_16s8u(e2.mem.data(), lin.data(), c2.data(), static_cast<int>(x.size()));
      EXPECT_EQ(c1, c2) << "rate " << r << (alaw ? " A-law" : " mu-law");
    }
  }
}

TEST(G726, ArbitraryCodesNeverEscape) {
  std::mt19937 rng(11);
  for (VokRateCode r : kRates)
    for (int law = 0; law < 3; ++law) {
      Dec d(r, law);
      std::vector<Vok8u> c(5000);
      for (auto& v : c) v = static_cast<Vok8u>(rng());
      std::vector<Vok16s> y(c.size());
      ASSERT_EQ(voksDecode_G726_8u16s(d.mem.data(), c.data(), y.data(), static_cast<int>(c.size())), vokOk);
      for (Vok16s v : y) {
        if (law == 2) {
          ASSERT_GE(v, -8192);
          ASSERT_LE(v, 8191);
        } else {
          ASSERT_GE(v, 0);
          ASSERT_LE(v, 255);
        }
      }
    }
}
