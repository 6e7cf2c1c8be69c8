// G.723.1 through the vokcodec coder beyond the official sequences (the
// registered conformance checks run each of them frame by frame): the rtp
// stream is the packed frames (random frames and erasures: the differential
// g723 rows against the reference, and tests/fuzz).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry.h"
#include "vectors.h"

namespace {

std::string dir() { return vtest::testVectorDir() + "/g723/"; }

}  // namespace

// The rtp stream is the packed frames back to back (each frame's first bits
// tell its size), byte for byte the ITU stream, and decodes as it.
TEST(G723Streams, RtpIsThePackedFrames) {
  VTEST_REQUIRE_DIR(dir());
  const vokc::Codec* c = vokc::registry().find("g723-63");
  ASSERT_NE(c, nullptr);
  std::vector<int16_t> pcm, fromRtp, fromItu;
  std::vector<uint8_t> want, rtp, itu;
  ASSERT_TRUE(vtest::readWords(dir() + "DTX63.TIN", pcm) && vtest::readFile(dir() + "DTX63.RCO", want));
  vokc::Options o, d;
  o.dtx = true;
  std::string err;
  ASSERT_TRUE(c->encode(pcm, o, itu, err)) << err;
  ASSERT_TRUE(c->decode(itu, d, fromItu, err)) << err;
  o.format = d.format = "rtp";
  ASSERT_TRUE(c->encode(pcm, o, rtp, err)) << err;
  EXPECT_EQ(rtp, want);
  ASSERT_TRUE(c->decode(rtp, d, fromRtp, err)) << err;
  EXPECT_EQ(fromRtp, fromItu);
  rtp.push_back(0);  // the start of a 24-byte frame cut short: an error
  EXPECT_FALSE(c->decode(rtp, d, fromRtp, err));
}
