// The stream glue shared by the G.729-family registry entries: the checks
// must notice a differing frame in official streams of mixed frame sizes,
// RTP payloads carry the ITU frames of every family member, and rate files
// must follow each codec's rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "g729/g729_stream.h"
#include "g729_test_support.h"

namespace {

using namespace g729test;

std::string annexI() { return vtest::testVectorDir() + "/g729/annexI/"; }

// Byte offset of frame `frame` in a serial stream.
std::size_t frameOffset(const std::vector<uint8_t>& stream, std::size_t frame) {
  std::size_t at = 0;
  for (std::size_t f = 0; f < frame; ++f) at += 4 + 2u * (stream[at + 2] | (stream[at + 3] << 8));
  return at;
}

// An official Annex I stream holds SID, untransmitted and 6.4 / 11.8 kbit/s
// frames: a flipped bit anywhere is found in its own frame.
TEST(G729Stream, ComparisonFindsTheDifferingFrame) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  const std::vector<uint8_t> want = readBytes(annexI() + "dm19.b10");
  ASSERT_GT(want.size(), 4000u);
  EXPECT_EQ(vokc::compareSerialStreams(want, want), "");

  for (std::size_t frame : {0u, 7u, 150u}) {
    std::vector<uint8_t> got = want;
    const std::size_t at = frameOffset(got, frame);
    ASSERT_LT(at + 4, got.size());
    const int bits = got[at + 2] | (got[at + 3] << 8);
    if (bits == 0) continue;  // nothing to flip in an untransmitted frame
    const std::size_t word = at + 4 + 2u * static_cast<std::size_t>(bits - 1);
    got[word] = got[word] == 0x7F ? 0x81 : 0x7F;
    EXPECT_EQ(vokc::compareSerialStreams(got, want).rfind("first differing frame " + std::to_string(frame) + " ", 0),
              0u)
        << frame;
  }

  // A lost frame (a bit word of 0) differs from the received one.
  std::vector<uint8_t> lost = want;
  const std::size_t at = frameOffset(lost, 3);
  if ((lost[at + 2] | (lost[at + 3] << 8)) > 0) {
    lost[at + 4] = 0;
    EXPECT_NE(vokc::compareSerialStreams(lost, want), "");
  }

  // A stream cut after whole frames is shorter, not equal.
  const std::vector<uint8_t> cut(want.begin(), want.begin() + static_cast<long>(frameOffset(want, 20)));
  EXPECT_EQ(vokc::compareSerialStreams(cut, want).rfind("frame count 20,", 0), 0u);
  // A stream cut inside a frame is no stream at all.
  const std::vector<uint8_t> broken(want.begin(), want.begin() + static_cast<long>(frameOffset(want, 20) + 6));
  EXPECT_EQ(vokc::compareSerialStreams(broken, want).rfind("output: ", 0), 0u);
}

// The registry checks built by the shared glue pass the right coder output
// and fail a wrong one (a check that always passes would hide any fault).
TEST(G729Stream, ChecksTellRightFromWrong) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/g729");
  const std::string root = vtest::testVectorDir();
  const vokc::Codec& c = registeredCodec("g729i");
  vokc::Options dtx;
  dtx.dtx = true;
  dtx.rate = "6.4";
  EXPECT_EQ(vokc::encoderCheck("x", c, "annexI", "dm19.8k", "dm19.b10", dtx).run(root), "");
  dtx.rate = "8";
  const std::string bad = vokc::encoderCheck("x", c, "annexI", "dm19.8k", "dm19.b10", dtx).run(root);
  EXPECT_EQ(bad.rfind("first differing frame ", 0), 0u) << bad;
  EXPECT_EQ(vokc::encoderCheck("x", c, "annexI", "no_such.pcm", "dm19.b10", dtx).run(root),
            "missing " + annexI() + "no_such.pcm");
  EXPECT_EQ(vokc::encoderCheck("x", c, "annexI", "dm19.8k", "dm19.b10", {}, "no_such.rate").run(root),
            "missing " + annexI() + "no_such.rate");
  EXPECT_EQ(vokc::decoderCheck("x", c, "annexI", "dm19.b10", "dm19.o10").run(root), "");
  EXPECT_EQ(vokc::decoderCheck("x", c, "annexI", "dm19.b10", "dm19.o12").run(root).rfind("first differing frame", 0),
            0u);
}

// The family's ITU layout: bit words other than 0x007F, 0x0081 and 0 are an
// error naming the frame; a 0 word marks the frame lost (except in the
// spared last words); a damaged sync word marks an untransmitted frame lost
// where the codec says so.
TEST(G729Stream, ItuLayoutReadsFramesAndMarks) {
  std::vector<uint8_t> bits(80);
  for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>((i * 7 + 3) % 5 < 2);
  std::vector<uint8_t> stream;
  vokc::writeSerialFrame(stream, bits.data(), 80);
  vokc::writeSerialFrame(stream, bits.data(), 80);
  auto read = [](const vokc::ItuLayout& l, const std::vector<uint8_t>& in, std::vector<vokc::ReceivedFrame>& out,
                 std::string& err) {
    std::size_t pos = 0;
    const vokc::ByteInput input = vokc::memoryInput(in, pos);
    out.clear();
    err.clear();
    vokc::ReceivedFrame f;
    while (l.read(input, out.size(), f, err)) out.push_back(f);
    return err.empty();
  };
  const vokc::ItuLayout plain = vokc::g729ItuLayout({80}), spared = vokc::g729ItuLayout({80}, 2),
                        bySync = vokc::g729ItuLayout({0, 80}, 0, true);
  std::vector<vokc::ReceivedFrame> frames;
  std::string err;
  ASSERT_TRUE(read(plain, stream, frames, err)) << err;
  ASSERT_EQ(frames.size(), 2u);
  std::vector<uint8_t> octets(10);
  vokc::g729ToOctets(bits.data(), 80, octets.data());
  EXPECT_EQ(frames[1].payload, octets);
  std::vector<uint8_t> back;
  plain.write(octets.data(), 10, back);
  EXPECT_EQ(back, std::vector<uint8_t>(stream.begin(), stream.begin() + 164));

  std::vector<uint8_t> odd = stream;
  odd[164 + 4 + 2 * 9] = 0x80;  // frame 1, bit 9
  EXPECT_FALSE(read(plain, odd, frames, err));
  EXPECT_EQ(err, "frame 1: bit word 0x0080 at bit 9 (bits are 0x007F or 0x0081, 0 marks a lost frame)");

  std::vector<uint8_t> tail = stream;
  tail[4 + 2 * 79] = 0;  // last word of frame 0
  ASSERT_TRUE(read(plain, tail, frames, err)) << err;
  EXPECT_TRUE(frames[0].lost);
  ASSERT_TRUE(read(spared, tail, frames, err)) << err;
  EXPECT_FALSE(frames[0].lost);

  std::vector<uint8_t> empty;
  vokc::writeSerialFrame(empty, nullptr, 0);
  empty[0] = 0x20;  // sync 0x6B20
  ASSERT_TRUE(read(bySync, empty, frames, err)) << err;
  EXPECT_TRUE(frames[0].lost);
  EXPECT_FALSE(read(plain, empty, frames, err));

  stream.pop_back();
  EXPECT_FALSE(read(plain, stream, frames, err));
  EXPECT_EQ(err, "truncated bitstream at frame 1");
}

// Every family member's RTP layout carries the frames of its ITU stream:
// the bits packed most significant first, after a length byte where frames
// differ in size (SID frames in 2 octets, untransmitted frames as a lone
// 0), and decodes alike; a length byte no frame has, or a cut payload, is
// an error.  Mixed frame
// sizes come from DTX on a silent stretch, the Annex D mode switching each
// frame and rate files switching every few frames.
TEST(G729Stream, RtpPayloadsCarryTheItuFrames) {
  std::vector<int16_t> pcm = testPcm(160 * 80);
  std::fill(pcm.begin() + 80 * 80, pcm.begin() + 140 * 80, int16_t{0});
  std::vector<int16_t> switching(160);
  for (std::size_t f = 0; f < switching.size(); ++f) switching[f] = static_cast<int16_t>((f * 7 / 5) % 3);
  TempFile rates(switching);
  std::vector<int16_t> e(160);
  for (std::size_t f = 0; f < e.size(); ++f) e[f] = static_cast<int16_t>((f * 7 / 5) % 3 != 0);
  TempFile ratesAnnexE(e);
  const struct {
    const char* codec;
    int mode;
    bool dtx;
    const std::string* rateFile;
    bool mixed;  // frames of more than one size
  } rows[] = {{"g729", 0, false, nullptr, false},  {"g729a", 0, false, nullptr, false},
              {"g729b", 0, false, nullptr, true},  {"g729ab", 0, false, nullptr, true},
              {"g729d", 3, false, nullptr, true},  {"g729e", 0, false, &ratesAnnexE.path, true},
              {"g729i", 0, true, &rates.path, true},  {"g729a-float", 0, false, nullptr, false}};
  for (const auto& row : rows) {
    const vokc::Codec& c = registeredCodec(row.codec);
    vokc::Options itu, rtp;
    itu.mode = rtp.mode = row.mode;
    itu.dtx = rtp.dtx = row.dtx;
    if (row.rateFile) itu.rateFile = rtp.rateFile = *row.rateFile;
    rtp.format = "rtp";
    const auto serial = encodeWith(c, pcm, itu), packed = encodeWith(c, pcm, rtp);
    std::vector<vokc::SerialFrame> frames;
    std::string err;
    ASSERT_TRUE(vokc::readSerialFrames(serial, {0, 15, 16, 64, 80, 118}, frames, err)) << err;
    std::vector<uint8_t> want;
    std::set<std::size_t> sizes;
    for (const auto& f : frames) {
      if (!c.fixedPayload) want.push_back(static_cast<uint8_t>((f.bits.size() + 7) / 8));
      vokc::packOctets(f.bits.data(), static_cast<int>(f.bits.size()), want);
      sizes.insert(f.bits.size());
    }
    EXPECT_EQ(packed, want) << row.codec;
    EXPECT_EQ(sizes.size() > 1, row.mixed) << row.codec;
    vokc::Options in;
    in.format = "rtp";
    EXPECT_EQ(comparePcm(decodeWith(c, packed, in), decodeWith(c, serial, vokc::Options{})), "") << row.codec;
    std::vector<int16_t> out;
    auto bad = packed;
    if (!c.fixedPayload) {
      bad[0] = 3;
      EXPECT_FALSE(c.decode(bad, in, out, err)) << row.codec;
      EXPECT_FALSE(err.empty());
      bad = packed;
    }
    bad.pop_back();
    err.clear();
    EXPECT_FALSE(c.decode(bad, in, out, err)) << row.codec;
    EXPECT_NE(err.find("truncated"), std::string::npos) << row.codec << ": " << err;
  }
}

// Rate files: one word per frame from the codec's list, the last word
// continuing; a word out of range is an error naming it (empty files and a
// rate beside the file: MembersRefuseWhatIsNotTheirs).
TEST(G729Stream, RateFilesFollowTheCodecsRules) {
  const vokc::Codec& c = registeredCodec("g729i");
  const std::vector<int16_t> pcm(80 * 6, 0);
  TempFile file(std::vector<int16_t>{2, 0, 1});
  vokc::Options o;
  o.rateFile = file.path;
  std::vector<uint8_t> out;
  std::string err;
  ASSERT_TRUE(c.encode(pcm, o, out, err)) << err;
  std::vector<vokc::SerialFrame> frames;
  ASSERT_TRUE(vokc::readSerialFrames(out, {64, 80, 118}, frames, err)) << err;
  std::vector<std::size_t> sizes;
  for (const auto& f : frames) sizes.push_back(f.bits.size());
  EXPECT_EQ(sizes, (std::vector<std::size_t>{118, 64, 80, 80, 80, 80}));

  TempFile bad(std::vector<int16_t>{2, 0, 3});
  o.rateFile = bad.path;
  EXPECT_FALSE(c.encode(pcm, o, out, err));
  EXPECT_EQ(err, bad.path + ": rate 3 at frame 2 (0 = 6.4, 1 = 8, 2 = 11.8 kbit/s)");
  o.rateFile = file.path;  // a member without rates takes no rate file
  EXPECT_FALSE(registeredCodec("g729").encode(pcm, o, out, err));
}

// Options, layouts and streams a member refuses, with a one-line message:
// modes and rates it lacks, an unknown layout, an encoder option given to
// the decoder, frames of another member's sizes, a stream cut in a frame,
// rate files that are odd, empty, missing, out of range or beside a rate.
TEST(G729Stream, MembersRefuseWhatIsNotTheirs) {
  auto serial = [](int bits, int cut) {
    std::vector<uint8_t> s;
    const std::vector<uint8_t> ones(static_cast<std::size_t>(bits), 1);
    vokc::writeSerialFrame(s, ones.data(), bits);
    s.resize(s.size() - static_cast<std::size_t>(cut));
    return s;
  };
  const TempFile odd(std::vector<uint8_t>{1, 0, 1}), empty(std::vector<uint8_t>{}),
      outOfRange(std::vector<int16_t>{1, 2}), one(std::vector<int16_t>{1});
  const std::string rateFiles[] = {"", odd.path, empty.path, outOfRange.path, ::testing::TempDir() + "no_such.rate",
                                   one.path};
  const struct {
    const char* codec;
    bool encode;
    int mode;
    const char *rate, *format;
    int frameBits, cut;  // the decoder's input: one frame of that many bits, less `cut` bytes
    const char* says;
    int rateFile = 0;  // in rateFiles
  } rows[] = {
      {"g729d", true, 4, "", "itu", 0, 0, "mode"},
      {"g729d", true, -1, "", "itu", 0, 0, ""},
      {"g729d", true, 1, "", "raw", 0, 0, ""},
      {"g729d", false, 3, "", "rtp", 80, 0, "option 'mode' of g729d applies to the encoder only"},
      {"g729d", false, 0, "", "itu", 118, 0, ""},
      {"g729d", false, 0, "", "itu", 15, 0, ""},
      {"g729e", false, 0, "", "itu", 80, 5, "truncated"},
      {"g729e", false, 0, "", "itu", 64, 0, "80/118"},
      {"g729i", true, 0, "", "xml", 0, 0, "xml"},
      {"g729i", false, 0, "", "xml", 80, 0, ""},
      {"g729i", true, 0, "16", "itu", 0, 0, "16"},
      {"g729i", false, 0, "", "itu", 80, 3, ""},
      {"g729i", false, 0, "", "itu", 40, 0, "40"},
      {"g729e", true, 0, "", "itu", 0, 0, "odd byte count", 1},
      {"g729e", true, 0, "", "itu", 0, 0, "empty", 2},
      {"g729e", true, 0, "", "itu", 0, 0, "frame 1", 3},
      {"g729e", true, 0, "", "itu", 0, 0, "", 4},
      {"g729e", true, 0, "8", "itu", 0, 0, "not both", 5},
      {"g729e", true, 0, "6.4", "itu", 0, 0, "6.4"},
      {"g729e", true, 0, "11.8", "raw", 0, 0, ""},
  };
  for (const auto& r : rows) {
    vokc::Options o;
    o.mode = r.mode;
    o.rate = r.rate;
    o.format = r.format;
    o.rateFile = rateFiles[r.rateFile];
    std::vector<uint8_t> bits;
    std::vector<int16_t> pcm;
    std::string err;
    const bool ok = r.encode ? registeredCodec(r.codec).encode(testPcm(320), o, bits, err)
                             : registeredCodec(r.codec).decode(serial(r.frameBits, r.cut), o, pcm, err);
    EXPECT_FALSE(ok) << r.codec << " " << r.says;
    EXPECT_NE(err.find(r.says), std::string::npos) << r.codec << ": " << err;
    EXPECT_TRUE(!err.empty() && err.find('\n') == std::string::npos) << r.codec << ": " << err;
  }
}

}  // namespace
