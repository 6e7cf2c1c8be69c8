// The name-based codec API: every registered codec is found, created in
// library and caller memory, runs frame by frame (lost frames included) and
// survives arbitrary payloads; the framework rejects bad options and calls.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "vokcodec.h"

namespace {

std::vector<Vok16s> toneFrame(const VokcCodecInfo& info, int frame) {
  std::vector<Vok16s> pcm(static_cast<std::size_t>(info.frameSamples));
  for (int i = 0; i < info.frameSamples; ++i) {
    const double t = double(frame * info.frameSamples + i) / info.sampleRate;
    pcm[static_cast<std::size_t>(i)] = static_cast<Vok16s>(6000 * std::sin(2 * M_PI * 440 * t));
  }
  return pcm;
}

TEST(CodecApi, EveryCodecRunsByName) {
  int count = 0;
  for (int k = 0; const VokcCodec* c = vokcCodecAt(k); ++k, ++count) {
    VokcCodecInfo info;
    ASSERT_EQ(vokcCodecGetInfo(c, &info), vokOk);
    SCOPED_TRACE(info.name);
    EXPECT_EQ(vokcCodecFind(info.name), c);
    ASSERT_GT(info.frameSamples, 0);
    ASSERT_GT(info.maxPayload, 0);
    ASSERT_GT(info.bitRate, 0);
    // The decoder in caller memory at an odd address, the encoder allocated.
    int size = 0;
    ASSERT_EQ(vokcDecoderGetSize(c, &size), vokOk);
    std::vector<unsigned char> mem(static_cast<std::size_t>(size) + 1);
    VokcCoder *enc = nullptr, *dec = nullptr;
    ASSERT_EQ(vokcEncoderCreate(c, nullptr, nullptr, 0, &enc), vokOk);
    EXPECT_EQ(vokcDecoderCreate(c, "", mem.data() + 1, size - 1, &dec), vokErrSize);
    ASSERT_EQ(vokcDecoderCreate(c, "", mem.data() + 1, size, &dec), vokOk);
    std::vector<Vok8u> payload(static_cast<std::size_t>(info.maxPayload));
    std::vector<Vok16s> out(static_cast<std::size_t>(info.frameSamples));
    double energy = 0;
    for (int f = 0; f < 50; ++f) {
      int bytes = -1, samples = -1;
      const auto pcm = toneFrame(info, f);
      ASSERT_EQ(vokcEncodeFrame(enc, pcm.data(), payload.data(), info.maxPayload, &bytes), vokOk);
      ASSERT_GE(bytes, 0);
      ASSERT_LE(bytes, info.maxPayload);
      if (info.fixedPayload) {
        EXPECT_EQ(bytes, info.maxPayload);
      }
      const Vok8u* in = f % 10 == 7 ? nullptr : payload.data();  // every tenth frame lost
      ASSERT_EQ(vokcDecodeFrame(dec, in, bytes, out.data(), &samples), vokOk) << f;
      EXPECT_EQ(samples, info.frameSamples);
      if (f >= 20)
        for (Vok16s s : out) energy += double(s) * s;
    }
    EXPECT_GT(energy / (30.0 * info.frameSamples), 1e5);  // the tone comes through
    // Arbitrary bytes of every size: decoded or refused by size, never more.
    std::mt19937 rng(7);
    for (int bytes = 0; bytes <= info.maxPayload + 1; ++bytes) {
      for (auto& b : payload) b = static_cast<Vok8u>(rng());
      std::vector<Vok8u> p(payload.begin(), payload.end());
      p.resize(static_cast<std::size_t>(bytes) + 1);
      int samples = 0;
      const VokResult r = vokcDecodeFrame(dec, p.data(), bytes, out.data(), &samples);
      EXPECT_TRUE(r == vokOk || r == vokErrSize) << bytes << ": " << r;
      if (bytes > info.maxPayload) {
        EXPECT_EQ(r, vokErrSize);
      }
    }
    // Wrong direction, small capacity, unknown option.
    int bytes = 0, samples = 0;
    EXPECT_EQ(vokcEncodeFrame(dec, out.data(), payload.data(), info.maxPayload, &bytes), vokErrContextMatch);
    EXPECT_EQ(vokcDecodeFrame(enc, payload.data(), 0, out.data(), &samples), vokErrContextMatch);
    EXPECT_EQ(vokcEncodeFrame(enc, out.data(), payload.data(), info.maxPayload - 1, &bytes), vokErrSize);
    VokcCoder* other = nullptr;
    EXPECT_EQ(vokcEncoderCreate(c, "nosuch=1", nullptr, 0, &other), vokErrBadArg);
    EXPECT_EQ(other, nullptr);
    vokcDestroy(enc);
    vokcDestroy(dec);
  }
  EXPECT_GE(count, 15);
  EXPECT_EQ(vokcCodecFind("g728-9.6"), nullptr);  // the low-rate extensions have no coder
}

TEST(CodecApi, OptionsAndArguments) {
  struct Case {
    const char* codec;
    const char* options;
    bool encoder;
    VokResult want;
  } cases[] = {
      {"g729e", "bitrate=8", true, vokOk},       {"g729e", "bitrate=6.4", true, vokErrRange},
      {"g729e", "bitrate=8", false, vokErrBadArg}, {"g729i", "bitrate=6.4, dtx", true, vokOk},
      {"g729i", "dtx=2", true, vokErrRange},     {"g729d", "mode=3", true, vokOk},
      {"g726-32", "law=alaw", false, vokOk},     {"g726-32", "law=pcm", true, vokErrRange},
      {"g729a", "dtx=1", true, vokErrBadArg},    {"g729a", "=1", true, vokErrBadArg},
  };
  for (const auto& c : cases) {
    VokcCoder* coder = nullptr;
    const VokcCodec* codec = vokcCodecFind(c.codec);
    ASSERT_NE(codec, nullptr) << c.codec;
    const VokResult r = c.encoder ? vokcEncoderCreate(codec, c.options, nullptr, 0, &coder)
                                  : vokcDecoderCreate(codec, c.options, nullptr, 0, &coder);
    EXPECT_EQ(r, c.want) << c.codec << " " << c.options;
    vokcDestroy(coder);
  }
  // A running encoder changes its bit rate between frames.
  VokcCoder* e = nullptr;
  ASSERT_EQ(vokcEncoderCreate(vokcCodecFind("g729i"), "bitrate=6.4", nullptr, 0, &e), vokOk);
  Vok16s pcm[80] = {};
  Vok8u payload[15];
  int bytes = 0;
  for (const auto& step : {std::make_pair("bitrate=11.8", 15), std::make_pair("bitrate=8", 10)}) {
    ASSERT_EQ(vokcEncoderSet(e, step.first), vokOk);
    ASSERT_EQ(vokcEncodeFrame(e, pcm, payload, 15, &bytes), vokOk);
    EXPECT_EQ(bytes, step.second);
  }
  EXPECT_EQ(vokcEncoderSet(e, "dtx=1"), vokErrBadArg);
  EXPECT_EQ(vokcEncoderSet(e, "bitrate=9"), vokErrRange);
  vokcDestroy(e);
  // Null pointers first.
  VokcCodecInfo info;
  int size = 0;
  EXPECT_EQ(vokcCodecGetInfo(nullptr, &info), vokErrNullPtr);
  EXPECT_EQ(vokcEncoderGetSize(vokcCodecFind("g729"), nullptr), vokErrNullPtr);
  EXPECT_EQ(vokcEncoderCreate(nullptr, "", nullptr, 0, &e), vokErrNullPtr);
  EXPECT_EQ(vokcDecodeFrame(nullptr, payload, 10, pcm, &size), vokErrNullPtr);
  EXPECT_EQ(vokcCodecFind(nullptr), nullptr);
  EXPECT_EQ(vokcCodecAt(-1), nullptr);
  vokcDestroy(nullptr);
}

}  // namespace
