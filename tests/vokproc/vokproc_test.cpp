// vokproc: the library's argument and object checks, and the tool's
// commands on generated files (echo cancelled to its ERLE, a quiet file
// brought to the target level, an answer tone found, bad arguments and
// files refused with one line).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "audio_io.h"
#include "echo_scenario.h"
#include "tool.h"
#include "vokproc.h"

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

std::string slurp(std::FILE* f) {
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s += char(c);
  std::fclose(f);
  return s;
}

Outcome tool(const std::vector<std::string>& args) {
  std::FILE *out = std::tmpfile(), *err = std::tmpfile();
  const int status = vokp::runTool(args, out, err);
  return {status, slurp(out), slurp(err)};
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vokproc_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string wav(const std::string& name, const std::vector<double>& x, int rate) const {
    std::vector<int16_t> pcm;
    for (double v : x) pcm.push_back(int16_t(std::lround(std::fmax(-32768, std::fmin(32767, v)))));
    vokio::AudioWriter w;
    std::string err;
    EXPECT_TRUE(w.open(path(name), true, rate, rate, err)) << err;
    EXPECT_TRUE(w.write(pcm.data(), pcm.size(), err) && w.finish(err)) << err;
    return path(name);
  }
  std::vector<int16_t> read(const std::string& name, int rate) const {
    vokio::AudioReader r;
    std::string err;
    EXPECT_TRUE(r.open(path(name), vokio::RawLayout{}, rate, err)) << err;
    std::vector<int16_t> pcm(1 << 20);
    pcm.resize(r.read(pcm.data(), pcm.size(), err));
    return pcm;
  }
  std::string dir_;
};

TEST(VokprocLibrary, RefusesBadArgumentsAndForeignObjects) {
  VokpEchoConfig c;
  ASSERT_EQ(vokpEchoConfigDefault(&c, 8000), vokOk);
  EXPECT_EQ(vokpEchoConfigDefault(&c, 11025), vokErrRange);
  int size = 0;
  EXPECT_EQ(vokpEchoGetSize(nullptr, &size), vokErrNullPtr);
  struct Bad {
    int VokpEchoConfig::*field;
    int value;
    VokResult status;
  } bad[] = {{&VokpEchoConfig::sampleRate, 44100, vokErrRange}, {&VokpEchoConfig::bank, 2, vokErrBadArg},
             {&VokpEchoConfig::fixedPoint, -1, vokErrBadArg},    {&VokpEchoConfig::tailMs, 0, vokErrRange},
             {&VokpEchoConfig::tailMs, 257, vokErrRange},        {&VokpEchoConfig::delayMs, 501, vokErrRange},
             {&VokpEchoConfig::suppress, 2, vokErrBadArg}};
  for (const Bad& b : bad) {
    VokpEchoConfig wrong = c;
    wrong.*b.field = b.value;
    EXPECT_EQ(vokpEchoGetSize(&wrong, &size), b.status) << b.value;
  }
  ASSERT_EQ(vokpEchoGetSize(&c, &size), vokOk);
  std::vector<uint64_t> mem(size / 8 + 1);
  VokpEcho* echo = nullptr;
  EXPECT_EQ(vokpEchoInit(&c, mem.data(), size - 1, &echo), vokErrSize);
  EXPECT_EQ(echo, nullptr);
  ASSERT_EQ(vokpEchoInit(&c, mem.data(), size, &echo), vokOk);
  std::vector<Vok16s> x(80, 100), y(80);
  EXPECT_EQ(vokpEchoProcess(echo, x.data(), nullptr, y.data()), vokErrNullPtr);
  EXPECT_EQ(vokpEchoProcess(echo, x.data(), x.data(), y.data()), vokOk);
  // Memory no Init of that kind formatted.
  std::vector<uint64_t> junk(size / 8 + 1, 0x1234);
  EXPECT_EQ(vokpEchoProcess(reinterpret_cast<VokpEcho*>(junk.data()), x.data(), x.data(), y.data()), vokErrContextMatch);
  int lsize = 0;
  ASSERT_EQ(vokpLevelGetSize(&lsize), vokOk);
  std::vector<uint64_t> lmem(lsize / 8 + 1);
  VokpLevel* level = nullptr;
  EXPECT_EQ(vokpLevelInit(8000, -50.0f, 11.6f, lmem.data(), lsize, &level), vokErrRange);
  ASSERT_EQ(vokpLevelInit(8000, -26.0f, 11.6f, lmem.data(), lsize, &level), vokOk);
  int detected = 0;
  EXPECT_EQ(vokpToneProcess(reinterpret_cast<VokpTone*>(level), x.data(), &detected), vokErrContextMatch);
  EXPECT_EQ(vokpEchoProcess(reinterpret_cast<VokpEcho*>(level), x.data(), x.data(), y.data()), vokErrContextMatch);
}

TEST_F(Files, AecRemovesTheEchoOfAScenario) {
  using namespace vokp::g168;
  for (const char* bank : {"fullband", "subband"}) {
    const int rate = 8000;
    const auto far = whiteNoise(3 * rate, -20, 5);
    const auto echo = echoOf(far, echoPath(3, rate, 6));
    const Outcome r = tool({"aec", "--far", wav("far.wav", far, rate), "--near", wav("near.wav", echo, rate), "--tail", "32",
                        "--bank", bank, path("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ERLE per second:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("time to 20 dB ERLE: 0."), std::string::npos) << r.out;
    const auto out = read("out.wav", rate);
    ASSERT_EQ(out.size(), far.size());  // aligned with the input, the bank's latency removed
    std::vector<double> residual(out.begin(), out.end());
    const auto track = erleTrack(echo, residual, 0, rate / 2);
    EXPECT_GE(track.back(), 28) << bank;
    std::printf("%s: %s", bank, r.out.c_str());
  }
}

TEST_F(Files, AlcBringsAQuietFileToTheTarget) {
  // Noise bursts of 1.5 s at -36 dBov with 0.5 s pauses 60 dB lower, 20 s.
  const int rate = 8000;
  auto x = vokp::g168::whiteNoise(20 * rate, -36, 9);
  for (std::size_t i = 0; i < x.size(); ++i)
    if (i % (2 * rate) >= std::size_t(1.5 * rate)) x[i] *= 1e-3;
  const Outcome r = tool({"alc", "--target", "-26", wav("in.wav", x, rate), path("out.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::printf("%s", r.out.c_str());
  const double level = vokp::activeLevelDbov(read("out.wav", rate), rate);
  EXPECT_NEAR(level, -26.0, 2.0);
  EXPECT_NEAR(vokp::activeLevelDbov(read("in.wav", rate), rate), -36.0, 0.5);
}

TEST_F(Files, NrTakesTheNoiseOffThePauses) {
  // Two tones in bursts of 1.2 s every 2 s from 1 s on, white noise at -40 dBFS.
  const int rate = 8000;
  auto x = vokp::g168::whiteNoise(8 * rate, -40, 3);
  std::vector<double> speech(x.size(), 0.0);
  auto pause = [&](std::size_t n) { return n < std::size_t(rate) || n % (2 * rate) >= std::size_t(1.2 * rate); };
  for (std::size_t n = 0; n < x.size(); ++n)
    if (!pause(n)) x[n] += 3000 * std::sin(2 * M_PI * 300 * n / rate) + 1500 * std::sin(2 * M_PI * 1200 * n / rate);
  const Outcome r = tool({"nr", "--level", "4", wav("noisy.wav", x, rate), path("out.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::printf("%s", r.out.c_str());
  const auto y = read("out.wav", rate);
  ASSERT_EQ(y.size(), x.size());
  double pin = 0, pout = 0;
  for (std::size_t n = 2 * rate; n < x.size(); ++n)  // after the first pause and burst
    if (pause(n) && pause(n + 400) && pause(n - 400)) pin += x[n] * x[n], pout += double(y[n]) * y[n];
  EXPECT_GE(10 * std::log10(pin / pout), 15.0);
  EXPECT_NEAR(vokp::activeLevelDbov(y, rate), vokp::activeLevelDbov(read("noisy.wav", rate), rate), 1.0);
  const Outcome c = tool({"chain", "--far", path("noisy.wav"), "--near", path("noisy.wav"), "--bank", "subband", path("c.wav")});
  ASSERT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(read("c.wav", rate).size(), x.size());
}

TEST_F(Files, ToneFindsTheAnswerTone) {
  const int rate = 8000;
  std::vector<double> x(3 * rate, 0.0);
  for (std::size_t n = std::size_t(0.5 * rate); n < x.size(); ++n) {
    const double t = double(n) / rate;
    x[n] = 10000 * std::sin(2 * M_PI * 2100 * t + (int((t - 0.5) * 1000 / 450) & 1) * M_PI);  // reversals from 0.5 s
  }
  Outcome r = tool({"tone", wav("tone.wav", x, rate)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("answer tone (2100 Hz with phase reversals) at 1."), std::string::npos) << r.out;
  for (std::size_t n = 0; n < x.size(); ++n) x[n] = 10000 * std::sin(2 * M_PI * 2100 * double(n) / rate);
  r = tool({"tone", wav("plain.wav", x, rate)});
  EXPECT_NE(r.out.find("0 detections"), std::string::npos) << r.out;
}

TEST_F(Files, BadArgumentsAndFilesGiveOneLine) {
  const std::string in = wav("in.wav", std::vector<double>(800, 100.0), 8000);
  {
    std::FILE* f = std::fopen(path("riff.wav").c_str(), "wb");
    std::fputs("RIFF\x10\0\0\0AVI LIST", f);
    std::fclose(f);
  }
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{}, "no command"},
      {{"echo"}, "unknown command"},
      {{"alc", "--bogus", in, path("o.wav")}, "unknown option --bogus"},
      {{"alc", "--tail", "32", in, path("o.wav")}, "--tail does not apply to alc"},
      {{"aec", "--near", in, path("o.wav")}, "needs --far"},
      {{"aec", "--far", in, "--near", in, "--tail", "300", path("o.wav")}, "--tail 300"},
      {{"aec", "--far", in, "--near", in, "--bank", "both", path("o.wav")}, "--bank both"},
      {{"aec", "--far", in, "--near", in, "--rate", "11025", path("o.wav")}, "--rate 11025"},
      {{"alc", "--target", "-3", in, path("o.wav")}, "--target -3"},
      {{"alc", in}, "takes two files"},
      {{"alc", path("missing.wav"), path("o.wav")}, "missing.wav"},
      {{"tone", path("riff.wav")}, "not a WAV file"},
      {{"alc", in, in}, "the output is an input file"},
  };
  for (const auto& c : cases) {
    const Outcome r = tool(c.args);
    EXPECT_EQ(r.status, 1) << c.says;
    EXPECT_EQ(r.err.rfind("vokproc: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  }
  EXPECT_EQ(access(path("o.wav").c_str(), F_OK), -1);  // no output left behind
}

}  // namespace
