// The float G.729A coder: against the float reference coder's outputs on the
// conformance inputs (golden streams and decoded speech), its C interface,
// erasure handling and state snapshots (its RTP layout: g729_stream_test).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "g729/g729_serial.h"
#include "g729_test_support.h"
#include "g729/g729float_codec.h"
#include "registry.h"
#include "vectors.h"
#include "vokcodec.h"

namespace {

constexpr int kFrame = 80;

const char* const kGoldenFiles[] = {"ALGTHM", "FIXED", "TAME", "TEST"};

std::string annexA() { return vtest::testVectorDir() + "/g729/annexA/"; }
std::string golden(const std::string& name) { return vtest::goldenDir() + "/g729/float_codec/" + name; }

// A coder object in memory of its size query, formatted by its Init.
template <VokResult (*Size)(int*), VokResult (*Init)(void*)>
struct Coder {
  std::vector<unsigned char> mem;
  Coder() {
    int size = 0;
    EXPECT_EQ(Size(&size), vokOk);
    mem.resize(static_cast<std::size_t>(size));
    EXPECT_EQ(Init(mem.data()), vokOk);
  }
};
using Encoder = Coder<vokcG729FloatEncoderGetSize, vokcG729FloatEncoderInit>;
using Decoder = Coder<vokcG729FloatDecoderGetSize, vokcG729FloatDecoderInit>;

// Test input: a pitch-like pulse train over noise with clipped stretches.
std::vector<int16_t> speechLike(int frames, unsigned seed) { return g729test::testPcm(frames * kFrame, seed); }

// A periodic signal (period 20) rising by 10 % a period to a held level:
// pitch gains above 1 build up the adaptive-codebook error until taming
// bounds them (no conformance input reaches that in float).
std::vector<int16_t> risingPeriodic() {
  std::vector<int16_t> out(100 * kFrame);
  const double pi = 3.14159265358979323846, g = std::pow(1.1, 1.0 / 20.0);
  double amp = 1.0;
  for (std::size_t n = 0; n < out.size(); ++n) {
    const double ph = 2 * pi * double(n % 20) / 20.0;
    const double v = amp * (std::sin(ph) + 0.5 * std::sin(2 * ph + 1.0) + 0.25 * std::sin(3 * ph + 2.0));
    out[n] = static_cast<int16_t>(std::floor(v + 0.5));
    amp = std::min(amp * g, 18000.0);
  }
  return out;
}

// The float encoder takes the float reference encoder's decisions: the
// streams of the conformance inputs agree frame for frame (a small share of
// frames may flip where a comparison is decided in the last bit), and so
// does the stream of the rising signal, half of whose frames change when
// taming is left out.
TEST(G729Float, EncoderFollowsFloatReference) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  for (const char* name : {"ALGTHM", "FIXED", "TAME", "TEST", "RISE"}) {
    std::vector<int16_t> in = risingPeriodic();
    if (std::string(name) != "RISE") ASSERT_TRUE(vtest::readWords(annexA() + name + ".IN", in)) << name;
    std::vector<uint8_t> want;
    ASSERT_TRUE(vtest::readFile(golden(std::string("enc_") + name + ".rtp"), want)) << name;
    vokc::Options o;
    o.format = "rtp";
    std::vector<uint8_t> got;
    std::string err;
    ASSERT_TRUE(vokc::g729FloatEncode(in, o, got, err)) << err;
    ASSERT_EQ(got.size(), want.size()) << name;
    const std::size_t frames = want.size() / 10;
    std::size_t differing = 0;
    for (std::size_t f = 0; f < frames; ++f)
      if (std::memcmp(&got[f * 10], &want[f * 10], 10) != 0) ++differing;
    EXPECT_LE(differing * 20, frames) << name << ": " << differing << " of " << frames << " frames differ";
  }
}

// The float decoder reproduces the float reference decoder's output within
// a rounding step.
TEST(G729Float, DecoderFollowsFloatReference) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  for (const char* name : kGoldenFiles) {
    std::vector<uint8_t> bits;
    ASSERT_TRUE(vtest::readFile(annexA() + name + ".BIT", bits)) << name;
    std::vector<int16_t> want;
    ASSERT_TRUE(vtest::readWords(golden(std::string("dec_") + name + ".pcm"), want)) << name;
    std::vector<int16_t> got;
    std::string err;
    ASSERT_TRUE(vokc::g729FloatDecode(bits, vokc::Options{}, got, err)) << err;
    ASSERT_EQ(got.size(), want.size()) << name;
    int worst = 0;
    std::size_t off = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
      const int d = std::abs(got[i] - want[i]);
      worst = std::max(worst, d);
      if (d > 1) ++off;
    }
    EXPECT_LE(worst, 4) << name;
    EXPECT_LE(off * 1000, got.size()) << name << ": " << off << " samples off by more than 1";
  }
}

// The registered checks (run by the conformance test) report a missing
// vector or a result below their limit.
TEST(G729Float, CheckFailuresAreReported) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  vokc::FloatCheckLimit tooHigh{"SPEECH", 60.0, 0};
  EXPECT_NE(vokc::g729FloatDecodeCheck(vtest::testVectorDir(), tooHigh, nullptr).find("below"), std::string::npos);
  EXPECT_NE(vokc::g729FloatDecodeCheck("/nonexistent", tooHigh, nullptr).find("missing"), std::string::npos);
  EXPECT_NE(vokc::g729FloatEncodeCheck("/nonexistent", tooHigh, nullptr).find("missing"), std::string::npos);
}

// Parameters stay inside their bit fields, and the fixed-point decoder's
// reading of them stays close to the float decoder's.
TEST(G729Float, ParametersAndInteroperation) {
  Encoder e;
  Decoder fd;
  int size = 0;
  ASSERT_EQ(vokcG729DecoderGetSize(&size), vokOk);
  std::vector<unsigned char> xd(static_cast<std::size_t>(size));
  ASSERT_EQ(vokcG729DecoderInit(xd.data(), vokcG729AnnexA), vokOk);
  static const int kBitsPer[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
  const std::vector<int16_t> in = speechLike(100, 3);
  std::vector<int16_t> outF, outX;
  for (int f = 0; f < 100; ++f) {
    Vok16s prm[11];
    ASSERT_EQ(vokcG729FloatEncode(e.mem.data(), &in[f * kFrame], prm), vokOk);
    for (int p = 0; p < 11; ++p) {
      EXPECT_GE(prm[p], 0) << "frame " << f << " parameter " << p;
      EXPECT_LT(prm[p], 1 << kBitsPer[p]) << "frame " << f << " parameter " << p;
    }
    Vok16s a[kFrame], b[kFrame];
    ASSERT_EQ(vokcG729FloatDecode(fd.mem.data(), prm, 0, a), vokOk);
    ASSERT_EQ(vokcG729Decode(xd.data(), prm, 0, b), vokOk);
    outF.insert(outF.end(), a, a + kFrame);
    outX.insert(outX.end(), b, b + kFrame);
  }
  EXPECT_GT(vokc::snrDb(outF, outX), 20.0);
}

// An erased frame ignores its parameters; decoding goes on from the
// concealment and fades with repeated losses.
TEST(G729Float, ErasedFramesIgnoreParameters) {
  Encoder e;
  const std::vector<int16_t> in = speechLike(40, 9);
  std::vector<std::vector<Vok16s>> prms;
  for (int f = 0; f < 40; ++f) {
    std::vector<Vok16s> prm(11);
    vokcG729FloatEncode(e.mem.data(), &in[f * kFrame], prm.data());
    prms.push_back(prm);
  }
  Decoder a, b;
  double early = 0, late = 0;  // energy of the first and last five lost frames
  for (int f = 0; f < 40; ++f) {
    const bool lost = f >= 20;
    std::vector<Vok16s> garbled = prms[f];
    for (auto& v : garbled) v = static_cast<Vok16s>(v ^ 0x55);
    Vok16s x[kFrame], y[kFrame];
    ASSERT_EQ(vokcG729FloatDecode(a.mem.data(), prms[f].data(), lost, x), vokOk);
    ASSERT_EQ(vokcG729FloatDecode(b.mem.data(), lost ? garbled.data() : prms[f].data(), lost, y), vokOk);
    ASSERT_EQ(std::memcmp(x, y, sizeof x), 0) << "frame " << f;
    for (Vok16s v : x) {
      if (f >= 20 && f < 25) early += double(v) * v;
      if (f >= 35) late += double(v) * v;
    }
  }
  EXPECT_GT(early, 0.0);
  EXPECT_LT(late, early / 2);
}

// The state objects hold no pointers: a byte copy continues the stream.
TEST(G729Float, StateSnapshotsContinue) {
  const std::vector<int16_t> in = speechLike(30, 5);
  Encoder e;
  Decoder d;
  for (int f = 0; f < 10; ++f) {
    Vok16s prm[11], out[kFrame];
    vokcG729FloatEncode(e.mem.data(), &in[f * kFrame], prm);
    vokcG729FloatDecode(d.mem.data(), prm, 0, out);
  }
  // Copies at another offset to the 16-byte boundary; each object lives
  // from its memory's first boundary.
  auto aligned = [](unsigned char* p) {
    return reinterpret_cast<unsigned char*>((reinterpret_cast<uintptr_t>(p) + 15) & ~uintptr_t{15});
  };
  int es = 0, ds = 0;
  vokcG729FloatEncoderGetSize(&es);
  vokcG729FloatDecoderGetSize(&ds);
  std::vector<unsigned char> e2(static_cast<std::size_t>(es) + 16), d2(static_cast<std::size_t>(ds) + 16);
  unsigned char* ep = e2.data() + 8;
  unsigned char* dp = d2.data() + 8;
  std::memcpy(aligned(ep), aligned(e.mem.data()), static_cast<std::size_t>(es - 16));
  std::memcpy(aligned(dp), aligned(d.mem.data()), static_cast<std::size_t>(ds - 16));
  for (int f = 10; f < 30; ++f) {
    Vok16s p1[11], p2[11], o1[kFrame], o2[kFrame];
    vokcG729FloatEncode(e.mem.data(), &in[f * kFrame], p1);
    vokcG729FloatEncode(ep, &in[f * kFrame], p2);
    ASSERT_EQ(std::memcmp(p1, p2, sizeof p1), 0) << "frame " << f;
    vokcG729FloatDecode(d.mem.data(), p1, 0, o1);
    vokcG729FloatDecode(dp, p1, 0, o2);
    ASSERT_EQ(std::memcmp(o1, o2, sizeof o1), 0) << "frame " << f;
  }
}

// Silence codes to silence.
TEST(G729Float, SilenceCodesToSilence) {
  Encoder e;
  Decoder d;
  std::vector<int16_t> pcm(50 * kFrame, 0);
  for (int f = 0; f < 50; ++f) {
    Vok16s prm[11], out[kFrame];
    vokcG729FloatEncode(e.mem.data(), &pcm[f * kFrame], prm);
    vokcG729FloatDecode(d.mem.data(), prm, 0, out);
    for (Vok16s v : out) EXPECT_LE(std::abs(v), 2) << "frame " << f;
  }
}

TEST(G729Float, SnrMeasure) {
  const std::vector<int16_t> w = {1000, -2000, 3000, -4000};
  std::vector<int16_t> half(w.size());
  for (std::size_t i = 0; i < w.size(); ++i) half[i] = static_cast<int16_t>(w[i] / 2);
  EXPECT_NEAR(vokc::snrDb(half, w), 6.0206, 1e-3);
  EXPECT_GT(vokc::snrDb(w, w), 100.0);
  EXPECT_LT(vokc::snrDb(w, std::vector<int16_t>(4, 0)), -100.0);
}

}  // namespace
