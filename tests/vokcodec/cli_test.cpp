// The built vokcodec tool as scripts see it: exit status, one error line on
// stderr, no partial output, nothing on stderr when it is not a terminal.
// Cases that need a codec use the first one the tool lists and are skipped
// when none is registered (tool_test.cpp covers them with test codecs).
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "voksc.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out, err;
};

std::string tool() {
  const char* b = std::getenv("VOKCODEC_BIN");
  return b && *b ? b : VOKCODEC_DEFAULT_BIN;
}

std::string slurp(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool oneErrorLine(const std::string& s) {
  return s.rfind("vokcodec: ", 0) == 0 && s.find('\n') == s.size() - 1;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vokcodec_cli_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    fs::create_directory(dir_ + "/work");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Streams are captured beside, not inside, the work folder.
  Result run(const std::string& args) {
    std::string o = dir_ + "/stdout", e = dir_ + "/stderr";
    int rc = std::system((tool() + " " + args + " >" + o + " 2>" + e + " </dev/null").c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, slurp(o), slurp(e)};
  }
  std::string path(const std::string& name) const { return dir_ + "/work/" + name; }
  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ + "/work")) names.insert(e.path().filename().string());
    return names;
  }
  void writeWav(const std::string& name, int rate, double secs) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path(name).c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<short> s(static_cast<std::size_t>(rate * secs));
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<short>(6000 * std::sin(0.3 * double(i)));
    sf_write_short(f, s.data(), static_cast<sf_count_t>(s.size()));
    sf_close(f);
  }
  // The first codec the tool lists, "" when none is registered.
  std::string someCodec() {
    Result r = run("list");
    EXPECT_EQ(r.status, 0);
    std::istringstream in(r.out);
    std::string name, rate;
    if (in >> name >> rate && rate.find_first_not_of("0123456789") == std::string::npos) return name;
    return "";
  }
  std::string dir_;
};

TEST_F(Cli, UsageErrors) {
  for (const char* args : {"", "frobnicate", "encode --codec nosuch-codec a b", "encode --bogus a b", "list extra",
                           "decode --format xml --codec x a b"}) {
    Result r = run(args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_TRUE(oneErrorLine(r.err)) << args << ": " << r.err;
    EXPECT_EQ(r.out, "") << args;
  }
  Result h = run("--help");
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("usage: vokcodec"), std::string::npos);
  Result v = run("--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_NE(v.out.find(vokscGetLibVersion()->versionText), std::string::npos) << v.out;
}

TEST_F(Cli, BadInputsAndOutputsLeaveNothingBehind) {
  const std::string codec = someCodec();
  if (codec.empty()) GTEST_SKIP() << "no codec registered";
  std::ofstream(path("garbage.wav")) << "this is not audio";
  std::ofstream(path("empty.raw")).close();
  writeWav("in.wav", 8000, 0.5);
  const std::set<std::string> inputs = files();
  const std::string enc = "encode --codec " + codec + " ", dec = "decode --codec " + codec + " ";
  for (const std::string& args : {enc + path("missing.raw") + " " + path("out.bit"),
                                  enc + path("garbage.wav") + " " + path("out.bit"),
                                  enc + path("empty.raw") + " " + path("out.bit"),
                                  dec + path("empty.raw") + " " + path("out.raw"),
                                  dec + path("missing.bit") + " " + path("out.wav"),
                                  enc + path("in.wav") + " " + path("nodir/out.bit")}) {
    Result r = run(args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_TRUE(oneErrorLine(r.err)) << args << ": " << r.err;
  }
  EXPECT_EQ(files(), inputs);
}

TEST_F(Cli, EveryCodecRoundTripsAWavQuietly) {
  // 12 s: long enough for a progress bar, which must not appear off a terminal.
  writeWav("in.wav", 8000, 12.0);
  Result l = run("list");
  std::istringstream in(l.out);
  std::string line;
  int codecs = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, rate;
    if (!(fields >> name >> rate) || rate.find_first_not_of("0123456789") != std::string::npos) continue;
    ++codecs;
    Result e = run("encode --codec " + name + " " + path("in.wav") + " " + path(name + ".bit"));
    ASSERT_EQ(e.status, 0) << name << ": " << e.err;
    EXPECT_EQ(e.err, "") << name;
    Result d = run("decode --codec " + name + " " + path(name + ".bit") + " " + path(name + ".wav"));
    ASSERT_EQ(d.status, 0) << name << ": " << d.err;
    EXPECT_EQ(d.err, "") << name;
    SF_INFO info{};
    SNDFILE* f = sf_open(path(name + ".wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << name;
    sf_close(f);
    EXPECT_EQ(info.samplerate, std::stoi(rate)) << name;
    EXPECT_NEAR(double(info.frames) / info.samplerate, 12.0, 0.05) << name;
  }
  if (codecs == 0) GTEST_SKIP() << "no codec registered";
}

}  // namespace
