// The tool's commands run in-process against a registry of test codecs, so
// that file handling, conversion, errors and report formats are checked
// whether or not the real codecs are built; then the built tool as scripts
// see it.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "registry.h"
#include "tool.h"
#include "vectors.h"
#include "voksc.h"

namespace {

namespace fs = std::filesystem;
using vokc::Codec;
using vokc::Options;
using vokc::Registry;

// 16-bit little-endian words, as written by the raw audio path.
std::vector<uint8_t> toBytes(const std::vector<int16_t>& pcm) {
  std::vector<uint8_t> b;
  for (int16_t s : pcm) {
    b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) & 0xFF));
    b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
  }
  return b;
}

// Test codecs of 16-bit payloads: "copy" carries the samples unchanged
// (one per frame, 2 bytes each, in both layouts); "late" delays them by 37
// samples; "wide" is "copy" at 16 kHz; "framed" codes 80-sample frames.
Codec testCodec(const std::string& name, int rate, int frame, int delay, const std::string& about) {
  Codec c;
  c.name = name;
  c.about = about;
  c.sampleRate = rate;
  c.frameSamples = frame;
  c.maxPayload = 2 * frame;
  c.bitRate = 16 * rate;
  c.encoderSize = 2 * 64;
  c.decoderSize = 8;
  c.initEncoder = c.initDecoder = [](void*, const vokc::Settings&) { return std::string(); };
  // Encoder state: a line of 64 samples and its position.
  c.encodeFrame = [frame, delay](void* s, const int16_t* pcm, uint8_t* payload, int* bytes) -> VokResult {
    auto* line = static_cast<int16_t*>(s);
    for (int i = 0; i < frame; ++i) {
      const int at = line[63];
      line[63] = static_cast<int16_t>((at + 1) % 63);
      const int16_t v = delay ? line[(at + 63 - delay % 63) % 63] : pcm[i];
      line[at] = pcm[i];
      payload[2 * i] = static_cast<uint8_t>(v & 0xFF);
      payload[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
    }
    *bytes = 2 * frame;
    return vokOk;
  };
  c.decodeFrame = [frame](void*, const uint8_t* payload, int bytes, bool, int16_t* pcm, int* samples) -> VokResult {
    if (bytes != 2 * frame) return vokErrSize;
    for (int i = 0; i < frame; ++i) pcm[i] = static_cast<int16_t>(payload[2 * i] | payload[2 * i + 1] << 8);
    *samples = frame;
    return vokOk;
  };
  c.itu.write = [](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    out.insert(out.end(), payload, payload + bytes);
  };
  c.itu.read = [frame](const vokc::ByteInput& in, std::size_t, vokc::ReceivedFrame& f, std::string& err) {
    f.payload.resize(static_cast<std::size_t>(2 * frame));
    const std::size_t got = in(f.payload.data(), f.payload.size());
    if (got == 0) return false;
    if (got < f.payload.size()) err = "truncated bitstream:\nodd number of bytes";
    return got == f.payload.size();
  };
  return c;
}

Registry testRegistry() {
  Registry r;
  r.codecs.push_back(testCodec("copy", 8000, 1, 0, "samples unchanged"));
  r.codecs.push_back(testCodec("late", 8000, 1, 37, "samples 37 late"));
  r.codecs.push_back(testCodec("wide", 16000, 1, 0, "samples unchanged at 16 kHz"));
  r.codecs.push_back(testCodec("framed", 8000, 80, 0, "whole 80-sample frames"));
  return r;
}

struct Outcome {
  int status;
  std::string out, err;
};

Outcome runIn(const Registry& reg, const std::vector<std::string>& args, bool terminal = false) {
  char *ob = nullptr, *eb = nullptr;
  std::size_t on = 0, en = 0;
  std::FILE* o = open_memstream(&ob, &on);
  std::FILE* e = open_memstream(&eb, &en);
  int status = vokc::runTool(reg, args, vokc::ToolStreams{o, e, terminal});
  std::fclose(o);
  std::fclose(e);
  Outcome r{status, std::string(ob, on), std::string(eb, en)};
  std::free(ob);
  std::free(eb);
  return r;
}

bool oneErrorLine(const std::string& s) {
  return s.rfind("vokcodec: ", 0) == 0 && s.find('\n') == s.size() - 1;
}

std::vector<int16_t> tone(int rate, double freq, double secs, double amp) {
  std::vector<int16_t> s(static_cast<std::size_t>(rate * secs));
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(amp * std::sin(2 * M_PI * freq * double(i) / rate));
  return s;
}

// Amplitude of the `freq` component of x (Goertzel), over whole samples.
double amplitudeAt(const std::vector<int16_t>& x, std::size_t from, std::size_t to, int rate, double freq) {
  double w = 2 * M_PI * freq / rate, re = 0, im = 0;
  for (std::size_t i = from; i < to; ++i) {
    re += x[i] * std::cos(w * double(i));
    im += x[i] * std::sin(w * double(i));
  }
  return 2 * std::hypot(re, im) / double(to - from);
}

// A scratch folder per test and the files in it.
class Scratch : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vokcodec_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  static std::string readAll(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  std::string slurp(const std::string& name) const { return readAll(path(name)); }
  void put(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  void putRaw(const std::string& name, const std::vector<int16_t>& pcm) const {
    auto b = toBytes(pcm);
    put(name, std::string(b.begin(), b.end()));
  }
  // Interleaved samples; float files hold them over 32768.
  void putWav(const std::string& name, int rate, int channels, const std::vector<int16_t>& s,
              int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) const {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path(name).c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> v(s.begin(), s.end());
    for (float& x : v) x /= 32768.0f;
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT)
      sf_write_float(f, v.data(), static_cast<sf_count_t>(v.size()));
    else
      sf_write_short(f, s.data(), static_cast<sf_count_t>(s.size()));
    sf_close(f);
  }
  std::vector<int16_t> getWav(const std::string& name, int& rate) const {
    SF_INFO info{};
    SNDFILE* f = sf_open(path(name).c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr) << name;
    if (!f) return {};
    EXPECT_EQ(info.channels, 1);
    rate = info.samplerate;
    std::vector<int16_t> s(static_cast<std::size_t>(info.frames));
    sf_read_short(f, s.data(), info.frames);
    sf_close(f);
    return s;
  }
  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
    return names;
  }
  std::string dir_;
};

class Tool : public Scratch {
 protected:
  Outcome run(const std::vector<std::string>& args, bool terminal = false) { return runIn(reg_, args, terminal); }
  Registry reg_ = testRegistry();
};

TEST_F(Tool, RawAndWavAtTheCodecRateAreBitExact) {
  std::vector<int16_t> pcm = {0, 1, -1, 32767, -32768, 256, -256, 12345};
  putRaw("in.raw", pcm);
  ASSERT_EQ(run({"encode", "--codec", "copy", path("in.raw"), path("a.bit")}).status, 0);
  EXPECT_EQ(slurp("a.bit"), slurp("in.raw"));
  ASSERT_EQ(run({"decode", "--codec", "copy", path("a.bit"), path("b.raw")}).status, 0);
  EXPECT_EQ(slurp("b.raw"), slurp("in.raw"));
  // WAV out at the codec rate, WAV back in unchanged.
  ASSERT_EQ(run({"decode", "--codec", "copy", path("a.bit"), path("b.wav")}).status, 0);
  int rate = 0;
  EXPECT_EQ(getWav("b.wav", rate), pcm);
  EXPECT_EQ(rate, 8000);
  ASSERT_EQ(run({"encode", "--codec=copy", path("b.wav"), path("c.bit")}).status, 0);
  EXPECT_EQ(slurp("c.bit"), slurp("in.raw"));
  EXPECT_EQ(files(), (std::set<std::string>{"in.raw", "a.bit", "b.raw", "b.wav", "c.bit"}));
}

TEST_F(Tool, StereoAt16kIsMixedDownAndConvertedWithoutAliasing) {
  // Left: 1 kHz at 12000 plus 6 kHz at 8000; right: silent.  At 8 kHz the
  // mix must be 1 kHz at 6000 with no 6 kHz image folded down to 2 kHz.
  auto low = tone(16000, 1000, 1.0, 12000), high = tone(16000, 6000, 1.0, 8000);
  std::vector<int16_t> stereo(2 * low.size());
  for (std::size_t i = 0; i < low.size(); ++i) stereo[2 * i] = static_cast<int16_t>(low[i] + high[i]);
  putWav("in16k.wav", 16000, 2, stereo);
  Outcome r = run({"encode", "--codec", "copy", path("in16k.wav"), path("x.bit")});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(run({"decode", "--codec", "copy", path("x.bit"), path("x.wav")}).status, 0);
  int rate = 0;
  auto s = getWav("x.wav", rate);
  EXPECT_EQ(rate, 8000);
  ASSERT_EQ(s.size(), 8000u);
  EXPECT_NEAR(amplitudeAt(s, 2000, 6000, 8000, 1000), 6000, 60);
  EXPECT_LT(amplitudeAt(s, 2000, 6000, 8000, 2000), 20);
  int crossings = 0;
  for (std::size_t i = 2001; i < 6000; ++i) crossings += (s[i - 1] < 0) != (s[i] < 0);
  EXPECT_NEAR(crossings, 1000, 4);
}

TEST_F(Tool, EightKilohertzWavIsRaisedForA16kCodec) {
  putWav("in8k.wav", 8000, 1, tone(8000, 1500, 0.5, 10000));
  ASSERT_EQ(run({"encode", "--codec", "wide", path("in8k.wav"), path("w.bit")}).status, 0);
  const std::string raw = slurp("w.bit");  // the codec's samples
  std::vector<int16_t> s(raw.size() / 2);
  for (std::size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<int16_t>(static_cast<uint8_t>(raw[2 * i]) | static_cast<uint8_t>(raw[2 * i + 1]) << 8);
  ASSERT_EQ(s.size(), 8000u);
  EXPECT_NEAR(amplitudeAt(s, 2000, 6000, 16000, 1500), 10000, 100);
  EXPECT_LT(amplitudeAt(s, 2000, 6000, 16000, 6500), 20);  // no 8 kHz - 1.5 kHz image
}

TEST_F(Tool, ErrorsAreOneLineAndLeaveNothingBehind) {
  put("garbage.wav", "RIFF but certainly not a wave file");
  put("empty.raw", "");
  put("odd.raw", "abc");
  putWav("empty.wav", 8000, 1, {});
  putRaw("short.raw", std::vector<int16_t>(50, 7));
  fs::create_directory(path("folder"));
  put("keep.raw", "old contents");
  const std::set<std::string> inputs = files();
  struct Case {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{}, "missing command"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"encode", "--codec", "nosuch", path("odd.raw"), path("o.bit")}, "known: copy, late, wide, framed"},
      {{"encode", "--codec", "copy", "--bogus", path("odd.raw"), path("o.bit")}, "unknown option '--bogus'"},
      {{"encode", "--codec"}, "--codec needs a value"},
      {{"encode", "--codec", "copy", path("odd.raw")}, "needs INPUT and OUTPUT"},
      {{"encode", path("odd.raw"), path("o.bit")}, "missing --codec"},
      {{"encode", "--codec", "copy", path("missing.raw"), path("o.bit")}, "No such file"},
      {{"encode", "--codec", "copy", path("garbage.wav"), path("o.bit")}, "not a WAV file"},
      {{"encode", "--codec", "copy", path("empty.raw"), path("o.bit")}, "no audio samples"},
      {{"encode", "--codec", "copy", path("empty.wav"), path("o.bit")}, "no audio samples"},
      {{"encode", "--codec", "copy", path("odd.raw"), path("o.bit")}, "odd number of bytes"},
      {{"encode", "--codec", "copy", path("folder"), path("o.bit")}, "it is a folder"},
      {{"encode", "--codec", "copy", path("short.raw"), path("nodir/o.bit")}, "cannot write"},
      {{"encode", "--codec", "copy", path("short.raw"), path("folder")}, "it is a folder"},
      {{"decode", "--codec", "copy", path("empty.raw"), path("o.raw")}, "empty bitstream"},
      {{"decode", "--codec", "copy", path("odd.raw"), path("o.raw")}, "odd.raw: truncated bitstream: odd number"},
      {{"decode", "--codec", "copy", path("odd.raw"), path("keep.raw")}, "truncated"},
      {{"encode", "--codec", "copy", path("keep.raw"), path("keep.raw")}, "the output is the input"},
      {{"decode", "--codec", "copy", path("keep.raw"), path("./keep.raw")}, "the output is the input"},
  };
  for (const auto& c : cases) {
    std::string cmd;
    for (const auto& a : c.args) cmd += a + " ";
    Outcome r = run(c.args);
    EXPECT_EQ(r.status, 1) << cmd;
    EXPECT_TRUE(oneErrorLine(r.err)) << cmd << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << cmd << ": " << r.err;
    EXPECT_EQ(r.out, "") << cmd;
  }
  EXPECT_EQ(files(), inputs);
  EXPECT_EQ(slurp("keep.raw"), "old contents");
}

TEST_F(Tool, OutputsThroughLinksAndFifosStayInPlace) {
  putRaw("in.raw", {1, 2, 3});
  // A symbolic link keeps pointing at its file, which gets the new contents.
  put("real.bit", "old");
  fs::create_symlink(path("real.bit"), path("link.bit"));
  ASSERT_EQ(run({"encode", "--codec", "copy", path("in.raw"), path("link.bit")}).status, 0);
  EXPECT_TRUE(fs::is_symlink(path("link.bit")));
  EXPECT_EQ(slurp("real.bit"), slurp("in.raw"));
  // A FIFO is written, not replaced by a regular file.
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
  std::string got;
  std::thread reader([&] { got = slurp("pipe"); });
  Outcome r = run({"encode", "--codec", "copy", path("in.raw"), path("pipe")});
  reader.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(got, slurp("in.raw"));
  EXPECT_TRUE(fs::is_fifo(path("pipe")));
  EXPECT_EQ(files(), (std::set<std::string>{"in.raw", "real.bit", "link.bit", "pipe"}));
}

TEST_F(Tool, RoundtripFindsTheDelayAndReportsRateAndQuality) {
  putRaw("in.raw", tone(8000, 440, 1.0, 9000));
  Outcome r = run({"roundtrip", "--codec", "copy", path("in.raw")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("SNR    inf dB  segSNR  35.00 dB  delay   0  128.00 kbit/s  real-time factor"),
            std::string::npos)
      << r.out;
  r = run({"roundtrip", "--codec", "late", path("in.raw")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("delay  37  128.00 kbit/s"), std::string::npos) << r.out;
  EXPECT_GT(std::stod(r.out.substr(r.out.find("SNR") + 3)), 40.0) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
}

TEST_F(Tool, ProgressOnlyOnATerminalForLongInputs) {
  putRaw("long.raw", std::vector<int16_t>(8000 * 11, 100));
  putRaw("short.raw", std::vector<int16_t>(8000 * 9, 100));
  Outcome r = run({"encode", "--codec", "copy", path("long.raw"), path("a.bit")}, true);
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("] 100%"), std::string::npos);
  EXPECT_EQ(r.err.find('\n'), std::string::npos);  // redrawn in place, then erased
  EXPECT_EQ(r.err.back(), '\r');
  // Decoding: the length is judged from the codec's bit rate.
  r = run({"decode", "--codec", "copy", path("a.bit"), path("a.raw")}, true);
  EXPECT_NE(r.err.find("100%"), std::string::npos);
  EXPECT_EQ(run({"encode", "--codec", "copy", path("long.raw"), path("b.bit")}, false).err, "");
  EXPECT_EQ(run({"encode", "--codec", "copy", path("short.raw"), path("c.bit")}, true).err, "");
  EXPECT_EQ(run({"decode", "--codec", "copy", path("c.bit"), path("c.raw")}, true).err, "");
}

TEST_F(Tool, ConformanceReport) {
  std::string seen;
  reg_.checks.push_back({"fake pass", [&](const std::string& root) {
                           seen = root;
                           return std::string();
                         }});
  reg_.checks.push_back({"fake differs", [](const std::string&) { return std::string("first differing\nframe 17"); }});
  reg_.checks.push_back({"fake throws", [](const std::string&) -> std::string { throw std::runtime_error("boom"); }});
  Outcome r = run({"conformance", dir_});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "PASS fake pass\nFAIL fake differs: first differing frame 17\nFAIL fake throws: exception: boom\n"
                   "1 passed, 2 failed\n");
  EXPECT_EQ(seen, dir_);
  r = run({"conformance", "--filter", "pass", dir_});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "PASS fake pass\n1 passed, 0 failed\n");
  // The folder defaults to $VOKSC_TESTVECTORS.
  const char* old = std::getenv("VOKSC_TESTVECTORS");
  std::string saved = old ? old : "";
  setenv("VOKSC_TESTVECTORS", path("").c_str(), 1);
  seen.clear();
  r = run({"conformance", "--filter=pass"});
  if (old)
    setenv("VOKSC_TESTVECTORS", saved.c_str(), 1);
  else
    unsetenv("VOKSC_TESTVECTORS");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(seen, path(""));
  for (const auto& args : {std::vector<std::string>{"conformance", "--filter", "nothing", dir_},
                           std::vector<std::string>{"conformance", path("novectors")},
                           std::vector<std::string>{"conformance", dir_, dir_}}) {
    r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(oneErrorLine(r.err)) << r.err;
    EXPECT_EQ(r.out, "");
  }
  r = runIn(Registry{}, {"conformance", dir_});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "no conformance checks registered\n0 passed, 0 failed\n");
}

TEST_F(Tool, ListHelpAndVersion) {
  Outcome r = run({"list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("copy     8000 Hz  samples unchanged\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("wide    16000 Hz  samples unchanged at 16 kHz\n"), std::string::npos) << r.out;
  EXPECT_EQ(runIn(Registry{}, {"list"}).out, "no codecs registered in this build\n");
  EXPECT_EQ(runIn(Registry{}, {"encode", "--codec", "g729", "a", "b"}).err,
            "vokcodec: unknown codec 'g729' (no codec is registered in this build)\n");
  for (const auto& args : {std::vector<std::string>{"--help"}, std::vector<std::string>{"-h"},
                           std::vector<std::string>{"encode", "--help"}, std::vector<std::string>{"help"}}) {
    r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: vokcodec encode", 0), 0u);
    EXPECT_EQ(r.err, "");
  }
  r = run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(vokscGetLibVersion()->versionText), std::string::npos) << r.out;
}

TEST(ToolArgs, OptionsAndTheirPlaces) {
  // A codec declaring options gets them as --KEY: a 0|1 option stands alone.
  Registry reg = testRegistry();
  reg.codecs[0].options = {{"dtx", "0|1", vokc::kEncoderOption}, {"mode", "1|2", vokc::kBothOption}};
  vokc::ToolArgs a;
  std::string err;
  ASSERT_TRUE(vokc::parseToolArgs(reg, {"--dtx", "--codec=copy", "encode", "--mode", "-2", "--rate", "16000",
                                        "--channels", "2", "--rate-file", "r.txt", "--format=rtp", "-q", "--",
                                        "-in.raw", "out"},
                                  a, err))
      << err;
  EXPECT_EQ(a.command, "encode");
  EXPECT_EQ(a.codec, "copy");
  EXPECT_EQ(a.codecOptions, (std::vector<std::pair<std::string, std::string>>{{"dtx", "1"}, {"mode", "-2"}}));
  EXPECT_EQ(a.raw.rate, 16000);
  EXPECT_EQ(a.raw.channels, 2);
  EXPECT_EQ(a.rateFile, "r.txt");
  EXPECT_EQ(a.format, "rtp");
  EXPECT_TRUE(a.quiet);
  EXPECT_EQ(a.files, (std::vector<std::string>{"-in.raw", "out"}));
  // A switch followed by 0 or 1 takes it as its value, not as a file.
  ASSERT_TRUE(vokc::parseToolArgs(reg, {"decode", "--codec", "copy", "--dtx", "0", "a", "b"}, a, err)) << err;
  EXPECT_EQ(a.codecOptions, (std::vector<std::pair<std::string, std::string>>{{"dtx", "0"}}));
  EXPECT_EQ(a.files, (std::vector<std::string>{"a", "b"}));
  struct Bad {
    std::vector<std::string> args;
    const char* says;
  } bad[] = {
      {{"encode", "--codec", "copy", "--wav=1", "a", "b"}, "--wav takes no value"},
      {{"encode", "--codec", "copy", "--rate", "40", "a", "b"}, "--rate 40: not a sample rate"},
      {{"encode", "--codec", "copy", "--channels", "0", "a", "b"}, "--channels 0"},
      {{"encode", "--codec", "late", "--dtx", "a", "b"}, "--dtx does not apply to late (it has no options)"},
      {{"encode", "--dtx", "a", "b"}, "--dtx is a codec option: give --codec"},
      {{"encode", "--codec", "nosuch", "--dtx", "a", "b"}, "unknown codec 'nosuch'"},
      {{"decode", "--codec", "copy", "--format", "xml", "a", "b"}, "unknown format 'xml' (itu, rtp)"},
      {{"encode", "--codec", "--format", "rtp", "a", "b"}, "--codec needs a value"},
      {{"encode", "--codec", "x", "--filter", "y", "a", "b"}, "--filter does not apply to 'encode'"},
      {{"decode", "--codec", "x", "--channels", "2", "a", "b"}, "--channels does not apply to 'decode'"},
      {{"encode", "--codec", "x", "-o", "y", "a", "b"}, "-o does not apply to 'encode'"},
      {{"conformance", "--codec", "x"}, "--codec does not apply to 'conformance'"},
      {{"list", "extra"}, "list takes no arguments"},
      {{"roundtrip", "--codec", "x", "a", "b"}, "extra 'b'"},
  };
  for (const auto& b : bad) {
    EXPECT_FALSE(vokc::parseToolArgs(reg, b.args, a, err)) << b.says;
    EXPECT_NE(err.find(b.says), std::string::npos) << err;
  }
}

// ---- the built tool as scripts see it: exit status, one error line on
// stderr, no partial output, nothing on stderr when it is not a terminal,
// pipes, options, frames, rates and memory.

std::string tool() {
  const char* b = std::getenv("VOKCODEC_BIN");
  return b && *b ? b : VOKCODEC_DEFAULT_BIN;
}

// The built tool run by the shell; its streams are captured beside, not
// inside, the scratch folder.
class Cli : public Scratch {
 protected:
  void TearDown() override {
    Scratch::TearDown();
    for (const char* s : {".stdout", ".stderr"}) fs::remove(dir_ + s);
  }
  Outcome run(const std::string& args) {
    std::string o = dir_ + ".stdout", e = dir_ + ".stderr";
    int rc = std::system((tool() + " " + args + " >" + o + " 2>" + e + " </dev/null").c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readAll(o), readAll(e)};
  }
  // Interleaved samples of a tone, `secs` long.
  static std::vector<int16_t> tone(int rate, int channels, double secs) {
    std::vector<int16_t> s(static_cast<std::size_t>(rate * secs) * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<int16_t>(6000 * std::sin(0.3 * double(i / static_cast<std::size_t>(channels))));
    return s;
  }
  void writeWav(const std::string& name, int rate, double secs, int channels = 1,
                int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
    putWav(name, rate, channels, tone(rate, channels, secs), format);
  }
  // A command line for the shell with P standing for the scratch folder and V for the tool.
  std::string shell(std::string cmd) const {
    for (std::size_t at = 0; (at = cmd.find("P/", at)) != std::string::npos; at += dir_.size() + 1)
      cmd.replace(at, 2, dir_ + "/");
    for (std::size_t at = 0; (at = cmd.find("V ", at)) != std::string::npos; at += tool().size())
      cmd.replace(at, 1, tool());
    return cmd;
  }
  int sh(const std::string& cmd) {
    const int rc = std::system(("(" + shell(cmd) + ") 2>" + dir_ + ".stderr").c_str());
    err_ = readAll(dir_ + ".stderr");
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  std::string err_;
};

TEST_F(Cli, EveryCodecRoundTripsAWavQuietly) {
  // 12 s: long enough for a progress bar, which must not appear off a terminal.
  writeWav("in.wav", 8000, 12.0);
  Outcome l = run("list");
  std::istringstream in(l.out);
  std::string line;
  int codecs = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, rate;
    if (!(fields >> name >> rate) || rate.find_first_not_of("0123456789") != std::string::npos) continue;
    ++codecs;
    Outcome e = run("encode --codec " + name + " " + path("in.wav") + " " + path(name + ".bit"));
    ASSERT_EQ(e.status, 0) << name << ": " << e.err;
    EXPECT_EQ(e.err, "") << name;
    // Asked for, progress shows on every codec (12 s is a long run).
    Outcome d = run("decode --progress --codec " + name + " " + path(name + ".bit") + " " + path(name + ".wav"));
    ASSERT_EQ(d.status, 0) << name << ": " << d.err;
    EXPECT_NE(d.err.find("] 100%"), std::string::npos) << name;
    SF_INFO info{};
    SNDFILE* f = sf_open(path(name + ".wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << name;
    sf_close(f);
    EXPECT_EQ(info.samplerate, std::stoi(rate)) << name;
    EXPECT_NEAR(double(info.frames) / info.samplerate, 12.0, 0.05) << name;
  }
  if (codecs == 0) GTEST_SKIP() << "no codec registered";
}

// Inputs from and outputs to pipes ("-"), WAV known by its header whatever
// its name: every row gives the same bytes as the plain file run.
TEST_F(Cli, PipesAndWavByHeader) {
  writeWav("in.wav", 8000, 1.0);
  putRaw("in.raw", tone(8000, 1, 1.0));
  fs::copy_file(path("in.wav"), path("wav-named.raw"));
  fs::copy_file(path("in.raw"), path("raw-named.wav"));
  ASSERT_EQ(sh("V encode --codec g729a P/in.raw P/ref.bit && V decode --codec g729a P/ref.bit P/ref.raw"), 0) << err_;
  struct Row {
    const char* command;
    const char* output;
    const char* same;
  } rows[] = {
      {"cat P/in.raw | V encode --codec g729a - - > P/o1.bit", "o1.bit", "ref.bit"},
      {"cat P/in.wav | V encode --codec g729a - P/o2.bit", "o2.bit", "ref.bit"},
      {"V encode --codec g729a P/wav-named.raw P/o3.bit", "o3.bit", "ref.bit"},
      {"V encode --codec g729a P/raw-named.wav P/o4.bit", "o4.bit", "ref.bit"},
      {"cat P/ref.bit | V decode --codec g729a - - | cat > P/o5.raw", "o5.raw", "ref.raw"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(sh(r.command), 0) << r.command << ": " << err_;
    EXPECT_TRUE(slurp(r.output) == slurp(r.same)) << r.command;
  }
  // The same samples as 24- and 32-bit integers, float and the extensible
  // header code the same bits.
  for (int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_24, SF_FORMAT_WAV | SF_FORMAT_PCM_32,
                     SF_FORMAT_WAV | SF_FORMAT_FLOAT, SF_FORMAT_WAVEX | SF_FORMAT_PCM_16}) {
    writeWav("fmt.wav", 8000, 1.0, 1, format);
    EXPECT_EQ(sh("V encode --codec g729a P/fmt.wav P/fmt.bit"), 0) << format << ": " << err_;
    EXPECT_TRUE(slurp("fmt.bit") == slurp("ref.bit")) << format;
  }
  // A WAV header on a pipe cannot be corrected at the end: sox's unknown
  // length; in a file the sizes are exact.  Both carry the same samples.
  ASSERT_EQ(sh("V decode --codec g729a --wav P/ref.bit - | cat > P/pipe.wav"), 0) << err_;
  ASSERT_EQ(sh("V decode --codec g729a P/ref.bit - --wav > P/file.wav"), 0) << err_;
  const std::string pipe = slurp("pipe.wav"), file = slurp("file.wav"), ref = slurp("ref.raw");
  ASSERT_EQ(pipe.size(), 44 + ref.size());
  EXPECT_EQ(pipe.substr(40, 4), std::string("\x00\xf0\xff\x7f", 4));
  EXPECT_EQ(file.substr(40, 4), std::string("\x80\x3e\x00\x00", 4));  // 16000 bytes
  EXPECT_TRUE(pipe.substr(44) == ref);
  EXPECT_TRUE(file.substr(44) == ref);
  // And a WAV of unknown length reads back to its end.
  ASSERT_EQ(sh("cat P/pipe.wav | V encode --codec g729a - P/again.bit"), 0) << err_;
  EXPECT_EQ(slurp("again.bit").size(), slurp("ref.bit").size());
}

// An option that does not fit the codec, the command or the files is an
// error before anything is written; so is an output that is the input.
TEST_F(Cli, OptionsThatDoNotApplyAreErrors) {
  writeWav("in.wav", 8000, 0.1);
  putRaw("in.raw", tone(8000, 1, 0.1));
  ASSERT_EQ(sh("V encode --codec g726-32 P/in.raw P/in.bit"), 0) << err_;
  fs::create_symlink(path("in.raw"), path("link.raw"));
  const std::set<std::string> before = files();
  const std::string raw = slurp("in.raw");
  struct Row {
    const char* command;
    const char* says;
  } rows[] = {
      {"V encode --codec g726-32 --bitrate 40 P/in.raw P/o", "--bitrate does not apply to g726-32 (its options: --law)"},
      {"V encode --codec g726-32 --law alaw P/in.wav P/o", "in.wav is a WAV file"},
      {"V encode --codec g726-32 --law alaw --rate 16000 P/in.raw P/o", "not mixed or converted"},
      {"V decode --codec g726-32 --law alaw P/in.bit P/o.wav", "the output is raw"},
      {"V roundtrip --codec g726-32 --law ulaw P/in.raw", "roundtrip measures linear speech"},
      {"V encode --codec g729a --rate 16000 P/in.wav P/o", "--rate describes a raw input"},
      {"V encode --codec g729a --channels 2 P/in.wav P/o", "--channels describes a raw input"},
      {"V encode --codec g729a --dtx P/in.raw P/o", "--dtx does not apply to g729a (it has no options)"},
      {"V encode --codec g723-63 --postfilter=0 P/in.raw P/o", "applies to the decoder only"},
      {"V encode --codec g729e --bitrate 9 P/in.raw P/o", "g729e"},
      {"V decode --codec g729i --dtx P/in.bit P/o", "applies to the encoder only"},
      {"V encode --codec g729a P/in.raw P/link.raw", "the output is the input"},
      {"V encode --codec g729a P/link.raw - >>P/in.raw", "the output is the input"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(sh(r.command), 1) << r.command;
    EXPECT_TRUE(oneErrorLine(err_)) << r.command << ": " << err_;
    EXPECT_NE(err_.find(r.says), std::string::npos) << r.command << ": " << err_;
  }
  EXPECT_EQ(files(), before);
  EXPECT_EQ(slurp("in.raw"), raw);
}

// A partial last frame is coded padded with silence and reported; G.726
// payloads decode to whole codes only, never to codes of padding bits.
TEST_F(Cli, PartialFramesAndG726Tails) {
  putRaw("83.raw", tone(8000, 1, 83.0 / 8000));
  struct Row {
    const char* command;
    const char* output;
    std::size_t bytes;  // of the output
    const char* says;   // on stderr
  } rows[] = {
      {"V encode --codec g729a --format rtp P/83.raw P/a.bit", "a.bit", 20, "the last frame had 3 of 80 samples"},
      {"V encode -q --codec g729a --format rtp P/83.raw P/b.bit", "b.bit", 20, ""},
      {"V roundtrip --codec g729a -o P/c.raw P/83.raw >/dev/null", "c.raw", 166, "had 3 of 80"},
      {"V encode --codec g726-24 --format rtp P/83.raw P/d.bit", "d.bit", 60, "had 3 of 80"},
      // 33 bytes: one frame and 8 codes of 3 bits; 34: the 2 bits left over are no code.
      {"head -c 33 P/d.bit | V decode --codec g726-24 --format rtp - P/e.raw", "e.raw", 176, ""},
      {"head -c 34 P/d.bit | V decode --codec g726-24 --format rtp - P/f.raw", "f.raw", 0, "truncated bitstream"},
      {"head -c 33 P/d.bit | V decode --codec g726-40 --format rtp - P/g.raw", "g.raw", 0, "truncated bitstream"},
  };
  for (const auto& r : rows) {
    const int status = sh(r.command);
    EXPECT_EQ(status, r.bytes ? 0 : 1) << r.command << ": " << err_;
    EXPECT_EQ(fs::exists(path(r.output)) ? fs::file_size(path(r.output)) : 0, r.bytes) << r.command;
    if (*r.says)
      EXPECT_NE(err_.find(r.says), std::string::npos) << r.command << ": " << err_;
    else if (r.bytes)
      EXPECT_EQ(err_, "") << r.command;
  }
}

// roundtrip states the rate the frames carry, and -o keeps the speech at
// the input's length; decode --rate and raw --rate/--channels convert.
TEST_F(Cli, RatesOfRoundtripDecodeAndRawInput) {
  writeWav("in.wav", 16000, 1.0);
  writeWav("st.wav", 16000, 0.5, 2);
  putRaw("st.raw", tone(16000, 2, 0.5));
  struct Row {
    const char* codec;
    const char* rate;
  } rows[] = {{"g722-64", "64.00"}, {"g722-56", "56.00"}, {"g722-48", "48.00"}, {"g729e --bitrate 11.8", "11.80"},
              {"g729i --bitrate 6.4", " 6.40"}, {"gsm-fr", "13.00"}, {"g726-24", "24.00"}, {"g723-63", " 6.30"},
              {"amr-nb --mode 4.75", " 4.75"}};
  for (const auto& r : rows) {
    const std::string cmd = std::string("V roundtrip --codec ") + r.codec + " P/in.wav >P/report";
    ASSERT_EQ(sh(cmd), 0) << cmd << ": " << err_;
    EXPECT_NE(slurp("report").find(std::string(r.rate) + " kbit/s"), std::string::npos) << slurp("report");
  }
  ASSERT_EQ(sh("V roundtrip --codec g729a -o P/rt.wav P/in.wav >/dev/null"), 0) << err_;
  EXPECT_EQ(slurp("rt.wav").size(), 44u + 32000u);  // 16 kHz as the input, through the 8 kHz codec
  ASSERT_EQ(sh("V roundtrip --codec g729a -o - P/in.wav >P/rt.raw"), 0) << err_;
  EXPECT_TRUE(slurp("rt.raw") == slurp("rt.wav").substr(44));
  EXPECT_NE(err_.find("kbit/s"), std::string::npos);
  ASSERT_EQ(sh("V encode --codec g729a P/st.wav P/w.bit && V encode --codec g729a --rate 16000 --channels 2 "
               "P/st.raw P/r.bit"),
            0)
      << err_;
  EXPECT_EQ(slurp("w.bit"), slurp("r.bit"));
  ASSERT_EQ(sh("V decode --codec g729a --rate 44100 P/w.bit P/o.wav"), 0) << err_;
  SF_INFO info{};
  SNDFILE* f = sf_open(path("o.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  sf_close(f);
  EXPECT_EQ(info.samplerate, 44100);
  EXPECT_EQ(info.frames, 22050);
}

// Long runs from a pipe: progress counts seconds, and memory stays small
// (32 MB of input, 33 minutes of 8 kHz speech, in under 24 MB; the tool
// once held it whole, 100 MB).  Sanitizer builds keep freed memory aside, so
// there only the run is checked.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

TEST_F(Cli, LongPipedRunsInConstantMemory) {
  // The runs go through a child process of their own, whose children's peak
  // memory is theirs alone (this process's figure holds every earlier
  // test's children, ffmpeg among them); it exits with that peak in MB.
  writeWav("in16k.wav", 16000, 12.0);
  const std::string runs[] = {"head -c 32000000 /dev/zero | V encode --progress --codec g726-32 - P/long.bit 2>P/e1",
                              "V decode --codec g726-32 P/long.bit - | wc -c >P/count",
                              "V encode --progress --codec g729a P/in16k.wav P/w.bit 2>P/e3"};
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool ok = true;
    for (const std::string& r : runs) ok = ok && std::system(shell(r).c_str()) == 0;
    struct rusage use {};
    ok = ok && getrusage(RUSAGE_CHILDREN, &use) == 0;
    _exit(ok ? static_cast<int>(std::min<long>(use.ru_maxrss / 1024, 254)) : 255);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  const int peakMb = WEXITSTATUS(status);
  ASSERT_NE(peakMb, 255) << slurp("e1") << slurp("e3");
  EXPECT_NE(slurp("e1").find("s of audio"), std::string::npos);
  EXPECT_EQ(std::stoll(slurp("count")), 32000000LL);
  EXPECT_NE(slurp("e3").find("] 100%"), std::string::npos);  // a long run through the rate conversion
  if (!kSanitized) EXPECT_LT(peakMb, 24) << "MB";
}

// Storage files the tool writes (.amr, .awb) from official speech, read by
// ffmpeg where installed: as many samples as our decoder gives.  ffmpeg
// decodes AMR with its own floating-point decoders, not bit-exact (about a
// tenth of the samples equal ours), so the samples are compared by the
// signal-to-difference ratio against ours: about 30 dB for AMR-NB, 16 dB
// for AMR-WB, whose 6.4-7 kHz band is noise from another generator.
TEST_F(Cli, StorageFilesDecodeWithFfmpeg) {
  VTEST_REQUIRE_DIR(vtest::testVectorDir() + "/amrwb");
  if (std::system("ffmpeg -hide_banner -decoders 2>/dev/null | grep -q ' amrwb '") != 0)
    GTEST_SKIP() << "ffmpeg with AMR decoders is not installed";
  const struct {
    const char *codec, *file, *speech;
    int rate;
    double minSnr;
  } cases[] = {{"amr-nb", "x.amr", "/g729/main/SPEECH.IN", 8000, 25.0},
               {"amr-wb", "x.awb", "/amrwb/tst.inp", 16000, 12.0}};
  for (const auto& c : cases) {
    const std::string codec = c.codec, file = c.file, rate = std::to_string(c.rate);
    fs::copy_file(vtest::testVectorDir() + c.speech, path("in.raw"), fs::copy_options::overwrite_existing);
    ASSERT_EQ(sh("V encode --codec " + codec + " --rate " + rate + " P/in.raw P/" + file + " && V decode --codec " +
                 codec + " P/" + file + " P/ours.raw"),
              0)
        << err_;
    ASSERT_EQ(sh("ffmpeg -v quiet -y -i P/" + file + " -f s16le -ac 1 -ar " + rate + " P/ffmpeg.raw"), 0) << codec;
    const std::string ours = slurp("ours.raw"), theirs = slurp("ffmpeg.raw");
    ASSERT_EQ(theirs.size(), ours.size()) << codec;
    ASSERT_GE(ours.size(), slurp("in.raw").size()) << codec;
    double sig = 0, diff = 0;
    for (std::size_t i = 0; i + 1 < ours.size(); i += 2) {
      const int a = static_cast<int16_t>(static_cast<uint8_t>(ours[i]) | static_cast<uint8_t>(ours[i + 1]) << 8);
      const int b = static_cast<int16_t>(static_cast<uint8_t>(theirs[i]) | static_cast<uint8_t>(theirs[i + 1]) << 8);
      sig += double(a) * a;
      diff += double(a - b) * (a - b);
    }
    EXPECT_GT(10 * std::log10(sig / std::max(diff, 1.0)), c.minSnr) << codec;
  }
}

}  // namespace
