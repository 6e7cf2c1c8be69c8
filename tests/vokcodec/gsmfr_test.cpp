// GSM 06.10 full rate through the vokcodec coder beyond the 13 ETSI mappings
// (registered conformance checks): the 33-byte frame, and libgsm
// (bit-identical to the standard's reference) as a second oracle on long
// hostile input and random parameter frames.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gsmfr/gsmfr_codec.h"

#ifdef VOKC_TEST_LIBGSM
#include <gsm.h>
#endif

namespace {

using vokc::gsmfr::kFrame;
using vokc::gsmfr::kParams;

}  // namespace

TEST(GsmfrFrames, PackedFrameRoundTrip) {
  uint32_t s = 99;
  int16_t p[kParams], q[kParams];
  uint8_t b[33];
  for (int t = 0; t < 200; ++t) {
    for (int i = 0; i < kParams; ++i) p[i] = static_cast<int16_t>(((s = s * 1664525u + 1013904223u) >> 20) & ((1 << vokc::gsmfr::kParamBits[i]) - 1));
    vokc::gsmfr::packFrame(p, b);
    EXPECT_EQ(b[0] >> 4, 0xD);
    vokc::gsmfr::unpackFrame(b, q);
    EXPECT_EQ(std::memcmp(p, q, sizeof p), 0);
  }
}

#ifdef VOKC_TEST_LIBGSM
TEST(GsmfrLibgsm, EncoderAndDecoderAgreeOnHostileInput) {
  // 2000 frames each of: loud noise, clipping squares, a chirp, quiet noise,
  // impulses; and 2000 frames of random 33-byte frames into both decoders.
  gsm enc = gsm_create(), dec = gsm_create(), dec2 = gsm_create();
  vokc::gsmfr::Encoder ours;
  vokc::gsmfr::Decoder ourDec, ourDec2;
  uint32_t s = 7;
  auto rnd = [&] { return (s = s * 1664525u + 1013904223u) >> 8; };
  uint32_t phase = 0, step = 50;
  int16_t pcm[kFrame], a[kFrame], b[kFrame], p[kParams];
  gsm_byte theirs[33], mine[33];
  for (int f = 0; f < 10000; ++f) {
    const int kind = f / 2000;
    for (int i = 0; i < kFrame; ++i) {
      int v;
      switch (kind) {
        case 0: v = static_cast<int>(rnd() & 0xFFFF) - 32768; break;
        case 1: v = ((i + f * kFrame) / (7 + f % 50)) & 1 ? 32767 : -32768; break;
        case 2: phase += step, step = (step + 1) % 30000; v = static_cast<int>((phase >> 2) & 0xFFFF) - 32768; break;
        case 3: v = static_cast<int>(rnd() % 401) - 200; break;
        default: v = rnd() % 29 == 0 ? 30000 * ((rnd() & 2) ? 1 : -1) : 0;
      }
      pcm[i] = static_cast<int16_t>(v);
    }
    gsm_encode(enc, pcm, theirs);
    ours.encode(pcm, p);
    vokc::gsmfr::packFrame(p, mine);
    ASSERT_EQ(std::memcmp(mine, theirs, 33), 0) << "encoder frame " << f;
    gsm_decode(dec, theirs, a);
    ourDec.decode(p, b);
    ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "decoder frame " << f;
    // Random frames (any parameter values).
    for (auto& byte : mine) byte = static_cast<uint8_t>(rnd());
    mine[0] = static_cast<uint8_t>(0xD0 | (mine[0] & 0x0F));
    gsm_decode(dec2, mine, a);
    vokc::gsmfr::unpackFrame(mine, p);
    ourDec2.decode(p, b);
    ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "random frame " << f;
  }
  gsm_destroy(enc);
  gsm_destroy(dec);
  gsm_destroy(dec2);
}
#endif
