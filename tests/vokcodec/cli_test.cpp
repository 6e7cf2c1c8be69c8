// The vokcodec tool's contract: exit codes, one-line errors, no partial
// output, WAV and raw audio, resampling.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Result {
  int status;
  std::string out, err;
};

std::string tool() {
  const char* b = std::getenv("VOKCODEC_BIN");
  return b ? b : VOKCODEC_DEFAULT_BIN;
}

std::string slurp(const std::string& p) {
  std::ifstream f(p);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vokcodec_cli_XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  Result run(const std::string& args) {
    std::string o = dir_ + "/stdout", e = dir_ + "/stderr";
    int rc = std::system((tool() + " " + args + " >" + o + " 2>" + e).c_str());
    return {WEXITSTATUS(rc), slurp(o), slurp(e)};
  }
  std::string path(const std::string& name) { return dir_ + "/" + name; }
  void writeWav(const std::string& name, int rate, int channels, double freq, double secs) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path(name).c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<short> s(static_cast<std::size_t>(rate * secs) * channels);
    for (std::size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<short>(8000 * std::sin(2 * M_PI * freq * double(i / channels) / rate));
    sf_write_short(f, s.data(), static_cast<sf_count_t>(s.size()));
    sf_close(f);
  }
  // Files in the directory other than the captured streams.
  int leftovers() {
    int n = 0;
    std::string cmd = "ls " + dir_ + " | grep -v -e '^stdout$' -e '^stderr$' -e '\\.wav$' -e '^in' | wc -l";
    FILE* p = popen(cmd.c_str(), "r");
    if (p && std::fscanf(p, "%d", &n) != 1) n = -1;
    if (p) pclose(p);
    return n;
  }
  std::string dir_;
};

bool oneLine(const std::string& s) {
  return !s.empty() && s.rfind("vokcodec: ", 0) == 0 && s.find('\n') == s.size() - 1;
}

TEST_F(Cli, UsageErrorsAreOneLineWithStatusOne) {
  for (const char* args : {"", "frobnicate", "encode --codec nosuch a b", "encode --codec g726-32 --bogus a b",
                           "encode --codec g726-32 onlyone", "decode --format xml --codec g726-32 a b"}) {
    Result r = run(args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_TRUE(oneLine(r.err)) << args << ": " << r.err;
  }
  EXPECT_EQ(run("--help").status, 0);
  Result v = run("--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_NE(v.out.find("7.1.1 (r37466)"), std::string::npos);
}

TEST_F(Cli, UnreadableInputsLeaveNoOutput) {
  std::ofstream(path("garbage.wav")) << "this is not audio";
  std::ofstream(path("empty.raw")).close();
  std::ofstream(path("odd.bit")) << "abc";
  struct Case {
    std::string args;
  } cases[] = {
      {"encode --codec g726-32 " + path("missing.raw") + " " + path("out.bit")},
      {"encode --codec g726-32 " + path("garbage.wav") + " " + path("out.bit")},
      {"encode --codec g726-32 " + path("empty.raw") + " " + path("out.bit")},
      {"decode --codec g722-64 " + path("odd.bit") + " " + path("out.raw")},
      {"decode --codec g722-64 " + path("empty.raw") + " " + path("out.raw")},
  };
  for (const auto& c : cases) {
    Result r = run(c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_TRUE(oneLine(r.err)) << c.args << ": " << r.err;
  }
  // Only the inputs remain: no output and no temporary file.
  EXPECT_EQ(leftovers(), 2);  // empty.raw and odd.bit
}

TEST_F(Cli, MissingOutputDirectoryFailsCleanly) {
  writeWav("in.wav", 8000, 1, 440, 0.5);
  Result r = run("encode --codec g726-32 " + path("in.wav") + " " + path("nodir/out.bit"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(oneLine(r.err)) << r.err;
}

TEST_F(Cli, StereoSixteenKilohertzWavIsMixedAndResampled) {
  writeWav("in16k.wav", 16000, 2, 1000, 1.0);
  Result r = run("encode --codec g726-40 " + path("in16k.wav") + " " + path("x.bit"));
  ASSERT_EQ(r.status, 0) << r.err;
  r = run("decode --codec g726-40 " + path("x.bit") + " " + path("x.wav"));
  ASSERT_EQ(r.status, 0) << r.err;
  SF_INFO info{};
  SNDFILE* f = sf_open(path("x.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(info.samplerate, 8000);
  EXPECT_EQ(info.channels, 1);
  EXPECT_NEAR(static_cast<double>(info.frames), 8000.0, 40.0);
  std::vector<short> s(static_cast<std::size_t>(info.frames));
  sf_read_short(f, s.data(), info.frames);
  sf_close(f);
  // Still a 1 kHz tone: count zero crossings over the middle half second.
  int crossings = 0;
  for (std::size_t i = 2001; i < 6000; ++i) crossings += (s[i - 1] < 0) != (s[i] < 0);
  EXPECT_NEAR(crossings, 1000, 20);
}

TEST_F(Cli, RawRoundTripAndFormats) {
  std::vector<short> pcm(1600);
  for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<short>(4000 * std::sin(i * 0.05));
  {
    std::ofstream f(path("in.raw"), std::ios::binary);
    f.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size() * 2));
  }
  ASSERT_EQ(run("encode --codec g726-32 --format rtp " + path("in.raw") + " " + path("a.rtp")).status, 0);
  EXPECT_EQ(slurp(path("a.rtp")).size(), 800u);  // 4 bits per sample
  ASSERT_EQ(run("encode --codec g726-32 " + path("in.raw") + " " + path("a.itu")).status, 0);
  EXPECT_EQ(slurp(path("a.itu")).size(), 3200u);  // one code per 16-bit word
  ASSERT_EQ(run("decode --codec g726-32 --format rtp " + path("a.rtp") + " " + path("b.raw")).status, 0);
  ASSERT_EQ(run("decode --codec g726-32 " + path("a.itu") + " " + path("c.raw")).status, 0);
  EXPECT_EQ(slurp(path("b.raw")), slurp(path("c.raw")));
  EXPECT_EQ(slurp(path("b.raw")).size(), 3200u);
}

TEST_F(Cli, ConformanceOutputFormat) {
  Result r = run("conformance --filter g722 " + path("novectors"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("FAIL g722 encode inpsp: missing"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0 passed, 9 failed\n"), std::string::npos) << r.out;
}

}  // namespace
