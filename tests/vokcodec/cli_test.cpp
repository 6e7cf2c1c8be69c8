// The built vokcodec tool as scripts see it: exit status, one error line on
// stderr, no partial output, nothing on stderr when it is not a terminal,
// pipes, options, frames, rates and memory.
// Error cases and their messages: tool_test.cpp, in-process with test codecs.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>
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
#include <string>
#include <vector>

#include "vectors.h"

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
  // Interleaved samples of a tone, `secs` long.
  static std::vector<short> tone(int rate, int channels, double secs) {
    std::vector<short> s(static_cast<std::size_t>(rate * secs) * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<short>(6000 * std::sin(0.3 * double(i / static_cast<std::size_t>(channels))));
    return s;
  }
  void writeWav(const std::string& name, int rate, double secs, int channels = 1,
                int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path(name).c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    const std::vector<short> s = tone(rate, channels, secs);
    std::vector<float> v(s.begin(), s.end());  // float files: the samples over 32768
    for (float& x : v) x /= 32768.0f;
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT)
      sf_write_float(f, v.data(), static_cast<sf_count_t>(v.size()));
    else
      sf_write_short(f, s.data(), static_cast<sf_count_t>(s.size()));
    sf_close(f);
  }
  void writeRaw(const std::string& name, const std::vector<short>& s) {
    std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char*>(s.data()),
                                                     static_cast<std::streamsize>(2 * s.size()));
  }
  std::string read(const std::string& name) const { return slurp(path(name)); }
  // A command line for the shell with P standing for the work folder and V for the tool.
  std::string shell(std::string cmd) const {
    for (std::size_t at = 0; (at = cmd.find("P/", at)) != std::string::npos; at += dir_.size() + 6)
      cmd.replace(at, 2, dir_ + "/work/");
    for (std::size_t at = 0; (at = cmd.find("V ", at)) != std::string::npos; at += tool().size())
      cmd.replace(at, 1, tool());
    return cmd;
  }
  int sh(const std::string& cmd) {
    const int rc = std::system(("(" + shell(cmd) + ") 2>" + dir_ + "/stderr").c_str());
    err_ = slurp(dir_ + "/stderr");
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  std::string err_;
  std::string dir_;
};

// The process's view of an error and of help (every error case and its
// message, missing and unreadable files among them: tool_test.cpp).
TEST_F(Cli, ExitStatusAndStreams) {
  Result r = run("encode --bogus a b");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(oneErrorLine(r.err)) << r.err;
  EXPECT_EQ(r.out, "");
  r = run("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: vokcodec"), std::string::npos);
  EXPECT_EQ(r.err, "");
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
    // Asked for, progress shows on every codec (12 s is a long run).
    Result d = run("decode --progress --codec " + name + " " + path(name + ".bit") + " " + path(name + ".wav"));
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
  writeRaw("in.raw", tone(8000, 1, 1.0));
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
    EXPECT_TRUE(read(r.output) == read(r.same)) << r.command;
  }
  // The same samples as 24- and 32-bit integers, float and the extensible
  // header code the same bits.
  for (int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_24, SF_FORMAT_WAV | SF_FORMAT_PCM_32,
                     SF_FORMAT_WAV | SF_FORMAT_FLOAT, SF_FORMAT_WAVEX | SF_FORMAT_PCM_16}) {
    writeWav("fmt.wav", 8000, 1.0, 1, format);
    EXPECT_EQ(sh("V encode --codec g729a P/fmt.wav P/fmt.bit"), 0) << format << ": " << err_;
    EXPECT_TRUE(read("fmt.bit") == read("ref.bit")) << format;
  }
  // A WAV header on a pipe cannot be corrected at the end: sox's unknown
  // length; in a file the sizes are exact.  Both carry the same samples.
  ASSERT_EQ(sh("V decode --codec g729a --wav P/ref.bit - | cat > P/pipe.wav"), 0) << err_;
  ASSERT_EQ(sh("V decode --codec g729a P/ref.bit - --wav > P/file.wav"), 0) << err_;
  const std::string pipe = read("pipe.wav"), file = read("file.wav"), ref = read("ref.raw");
  ASSERT_EQ(pipe.size(), 44 + ref.size());
  EXPECT_EQ(pipe.substr(40, 4), std::string("\x00\xf0\xff\x7f", 4));
  EXPECT_EQ(file.substr(40, 4), std::string("\x80\x3e\x00\x00", 4));  // 16000 bytes
  EXPECT_TRUE(pipe.substr(44) == ref);
  EXPECT_TRUE(file.substr(44) == ref);
  // And a WAV of unknown length reads back to its end.
  ASSERT_EQ(sh("cat P/pipe.wav | V encode --codec g729a - P/again.bit"), 0) << err_;
  EXPECT_EQ(read("again.bit").size(), read("ref.bit").size());
}

// An option that does not fit the codec, the command or the files is an
// error before anything is written; so is an output that is the input.
TEST_F(Cli, OptionsThatDoNotApplyAreErrors) {
  writeWav("in.wav", 8000, 0.1);
  writeRaw("in.raw", tone(8000, 1, 0.1));
  ASSERT_EQ(sh("V encode --codec g726-32 P/in.raw P/in.bit"), 0) << err_;
  fs::create_symlink(path("in.raw"), path("link.raw"));
  const std::set<std::string> before = files();
  const std::string raw = read("in.raw");
  struct Row {
    const char* command;
    const char* says;
  } rows[] = {
      {"V encode --codec g726-32 --rate 40 P/in.raw P/o", "--rate 40: not a sample rate"},
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
      {"V decode --codec g726-32 --channels 2 P/in.bit P/o", "--channels does not apply to 'decode'"},
      {"V encode --codec g729a P/in.raw P/link.raw", "the output is the input"},
      {"V encode --codec g729a P/link.raw - >>P/in.raw", "the output is the input"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(sh(r.command), 1) << r.command;
    EXPECT_TRUE(oneErrorLine(err_)) << r.command << ": " << err_;
    EXPECT_NE(err_.find(r.says), std::string::npos) << r.command << ": " << err_;
  }
  EXPECT_EQ(files(), before);
  EXPECT_EQ(read("in.raw"), raw);
}

// A partial last frame is coded padded with silence and reported; G.726
// payloads decode to whole codes only, never to codes of padding bits.
TEST_F(Cli, PartialFramesAndG726Tails) {
  writeRaw("83.raw", tone(8000, 1, 83.0 / 8000));
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
  writeRaw("st.raw", tone(16000, 2, 0.5));
  struct Row {
    const char* codec;
    const char* rate;
  } rows[] = {{"g722-64", "64.00"}, {"g722-56", "56.00"}, {"g722-48", "48.00"}, {"g729e --bitrate 11.8", "11.80"},
              {"g729i --bitrate 6.4", " 6.40"}, {"gsm-fr", "13.00"}, {"g726-24", "24.00"}, {"g723-63", " 6.30"},
              {"amr-nb --mode 4.75", " 4.75"}};
  for (const auto& r : rows) {
    const std::string cmd = std::string("V roundtrip --codec ") + r.codec + " P/in.wav >P/report";
    ASSERT_EQ(sh(cmd), 0) << cmd << ": " << err_;
    EXPECT_NE(read("report").find(std::string(r.rate) + " kbit/s"), std::string::npos) << read("report");
  }
  ASSERT_EQ(sh("V roundtrip --codec g729a -o P/rt.wav P/in.wav >/dev/null"), 0) << err_;
  EXPECT_EQ(read("rt.wav").size(), 44u + 32000u);  // 16 kHz as the input, through the 8 kHz codec
  ASSERT_EQ(sh("V roundtrip --codec g729a -o - P/in.wav >P/rt.raw"), 0) << err_;
  EXPECT_TRUE(read("rt.raw") == read("rt.wav").substr(44));
  EXPECT_NE(err_.find("kbit/s"), std::string::npos);
  ASSERT_EQ(sh("V encode --codec g729a P/st.wav P/w.bit && V encode --codec g729a --rate 16000 --channels 2 "
               "P/st.raw P/r.bit"),
            0)
      << err_;
  EXPECT_EQ(read("w.bit"), read("r.bit"));
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
  ASSERT_NE(peakMb, 255) << read("e1") << read("e3");
  EXPECT_NE(read("e1").find("s of audio"), std::string::npos);
  EXPECT_EQ(std::stoll(read("count")), 32000000LL);
  EXPECT_NE(read("e3").find("] 100%"), std::string::npos);  // a long run through the rate conversion
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
    const std::string ours = read("ours.raw"), theirs = read("ffmpeg.raw");
    ASSERT_EQ(theirs.size(), ours.size()) << codec;
    ASSERT_GE(ours.size(), read("in.raw").size()) << codec;
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
