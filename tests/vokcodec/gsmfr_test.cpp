// GSM 06.10 full rate through the vokcodec coder beyond the 13 ETSI mappings
// (registered conformance checks): libgsm (bit-identical to the standard's
// reference) as a second oracle on long hostile input and random parameter
// frames (the 33-byte frame's round trip: tests/fuzz fuzz_pack; the
// reference on hostile input: the differential gsm_fr row).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gsmfr/gsmfr_codec.h"
#include "hostile.h"

#ifdef VOKC_TEST_LIBGSM
#include <gsm.h>
#endif

namespace {

using vokc::gsmfr::kFrame;
using vokc::gsmfr::kParams;

}  // namespace

#ifdef VOKC_TEST_LIBGSM
TEST(GsmfrLibgsm, EncoderAndDecoderAgreeOnHostileInput) {
  // 2000 frames each of: loud noise, clipping squares, a chirp, quiet noise,
  // impulses; and 2000 frames of random 33-byte frames into both decoders.
  gsm enc = gsm_create(), dec = gsm_create(), dec2 = gsm_create();
  vokc::gsmfr::Encoder ours;
  vokc::gsmfr::Decoder ourDec, ourDec2;
  uint32_t s = 7;
  auto rnd = [&] { return (s = s * 1664525u + 1013904223u) >> 8; };
  int16_t a[kFrame], b[kFrame], p[kParams];
  gsm_byte theirs[33], mine[33];
  std::vector<int16_t> in(10000 * kFrame);
  for (int kind = 0; kind < 5; ++kind) vtSignal(&in[kind * 2000 * kFrame], 2000 * kFrame, kind, 7);
  for (int f = 0; f < 10000; ++f) {
    int16_t* pcm = &in[f * kFrame];
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
