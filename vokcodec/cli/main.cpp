// vokcodec: encode, decode and check speech with the codecs assembled from
// voksc.
//
//   vokcodec encode --codec NAME [--format itu|rtp] [options] INPUT OUTPUT
//   vokcodec decode --codec NAME [--format itu|rtp] [options] INPUT OUTPUT
//   vokcodec roundtrip --codec NAME INPUT
//   vokcodec conformance [--filter TEXT] [DIR]
//   vokcodec list | --help | --version
//
// Audio files are WAV when the name ends in .wav (any rate and channel count
// on input: mixed down and resampled), otherwise headerless 16-bit
// little-endian PCM at the codec's rate.  Errors: one line on stderr, exit
// status 1, and no output file left behind.
#include <sndfile.h>
#include <samplerate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "registry.h"
#include "voksc.h"

namespace {

struct Failure {
  std::string message;
};

[[noreturn]] void fail(const std::string& msg) { throw Failure{msg}; }

bool endsWith(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  std::string tail = s.substr(s.size() - suffix.size());
  for (auto& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == suffix;
}

// ---- audio files --------------------------------------------------------

std::vector<int16_t> resample(const std::vector<float>& in, int from, int to) {
  if (from == to || in.empty()) {
    std::vector<int16_t> out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) out[i] = static_cast<int16_t>(std::lrint(std::max(-32768.0f, std::min(32767.0f, in[i]))));
    return out;
  }
  double ratio = double(to) / double(from);
  std::vector<float> src(in.size()), dst(static_cast<std::size_t>(in.size() * ratio) + 16);
  for (std::size_t i = 0; i < in.size(); ++i) src[i] = in[i] / 32768.0f;
  SRC_DATA d{};
  d.data_in = src.data();
  d.input_frames = static_cast<long>(src.size());
  d.data_out = dst.data();
  d.output_frames = static_cast<long>(dst.size());
  d.src_ratio = ratio;
  int err = src_simple(&d, SRC_SINC_BEST_QUALITY, 1);
  if (err) fail(std::string("resampling failed: ") + src_strerror(err));
  std::vector<int16_t> out(static_cast<std::size_t>(d.output_frames_gen));
  for (std::size_t i = 0; i < out.size(); ++i) {
    float v = dst[i] * 32768.0f;
    out[i] = static_cast<int16_t>(std::lrint(std::max(-32768.0f, std::min(32767.0f, v))));
  }
  return out;
}

std::vector<int16_t> readAudio(const std::string& path, int rate) {
  if (endsWith(path, ".wav")) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) {
      if (std::ifstream(path).good()) fail(path + ": not a readable WAV file (" + sf_strerror(nullptr) + ")");
      fail("cannot open " + path);
    }
    std::vector<float> frames(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    sf_count_t got = sf_readf_float(f, frames.data(), info.frames);
    sf_close(f);
    std::vector<float> mono(static_cast<std::size_t>(got));
    for (sf_count_t i = 0; i < got; ++i) {
      float s = 0;
      for (int c = 0; c < info.channels; ++c) s += frames[static_cast<std::size_t>(i * info.channels + c)];
      mono[static_cast<std::size_t>(i)] = s / static_cast<float>(info.channels) * 32768.0f;
    }
    return resample(mono, info.samplerate, rate);
  }
  std::vector<int16_t> w;
  if (!vokc::readFileWords(path, w)) fail("cannot open " + path);
  return w;
}

// Writes through a temporary file in the same directory, renamed on success.
class OutputFile {
 public:
  explicit OutputFile(std::string path) : path_(std::move(path)) {
    std::string dir = ".";
    auto slash = path_.rfind('/');
    if (slash != std::string::npos) dir = path_.substr(0, slash);
    if (dir.empty()) dir = "/";
    tmp_ = path_ + ".tmp.XXXXXX";
    std::vector<char> name(tmp_.begin(), tmp_.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) fail("cannot write " + path_ + ": " + std::strerror(errno));
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    tmp_ = name.data();
  }
  ~OutputFile() {
    if (!done_) std::remove(tmp_.c_str());
  }
  const std::string& tmp() const { return tmp_; }
  void commit() {
    if (std::rename(tmp_.c_str(), path_.c_str()) != 0) fail("cannot write " + path_ + ": " + std::strerror(errno));
    done_ = true;
  }

 private:
  std::string path_, tmp_;
  bool done_ = false;
};

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  OutputFile out(path);
  {
    std::ofstream f(out.tmp(), std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) fail("cannot write " + path);
  }
  out.commit();
}

void writeAudio(const std::string& path, const std::vector<int16_t>& pcm, int rate) {
  if (!endsWith(path, ".wav")) {
    std::vector<uint8_t> b(pcm.size() * 2);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
      b[2 * i] = static_cast<uint8_t>(pcm[i] & 0xFF);
      b[2 * i + 1] = static_cast<uint8_t>((pcm[i] >> 8) & 0xFF);
    }
    writeBytes(path, b);
    return;
  }
  OutputFile out(path);
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(out.tmp().c_str(), SFM_WRITE, &info);
  if (!f) fail("cannot write " + path);
  sf_count_t n = sf_write_short(f, pcm.data(), static_cast<sf_count_t>(pcm.size()));
  sf_close(f);
  if (n != static_cast<sf_count_t>(pcm.size())) fail("cannot write " + path);
  out.commit();
}

// ---- options ------------------------------------------------------------

struct Args {
  bool formatGiven = false;
  std::string command;
  std::string codec;
  std::string filter;
  vokc::Options opt;
  std::vector<std::string> positional;
};

Args parse(int argc, char** argv) {
  Args a;
  if (argc < 2) fail("missing command (try --help)");
  a.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string s = argv[i];
    auto value = [&](const char* what) -> std::string {
      if (i + 1 >= argc) fail(std::string("option ") + what + " needs a value");
      return argv[++i];
    };
    if (s == "--codec") {
      a.codec = value("--codec");
    } else if (s == "--format") {
      a.opt.format = value("--format");
      a.formatGiven = true;
      if (a.opt.format != "itu" && a.opt.format != "rtp") fail("unknown format '" + a.opt.format + "' (itu or rtp)");
    } else if (s == "--mode") {
      std::string v = value("--mode");
      char* end = nullptr;
      long m = std::strtol(v.c_str(), &end, 10);
      if (*end || v.empty()) fail("--mode needs a number, got '" + v + "'");
      a.opt.mode = static_cast<int>(m);
    } else if (s == "--rate") {
      a.opt.rate = value("--rate");
    } else if (s == "--rate-file") {
      a.opt.rateFile = value("--rate-file");
    } else if (s == "--law") {
      a.opt.law = value("--law");
    } else if (s == "--dtx") {
      a.opt.dtx = true;
    } else if (s == "--filter") {
      a.filter = value("--filter");
    } else if (s.size() > 1 && s[0] == '-') {
      fail("unknown option '" + s + "'");
    } else {
      a.positional.push_back(s);
    }
  }
  return a;
}

const vokc::Codec& codecOf(const Args& a) {
  if (a.codec.empty()) fail("missing --codec NAME (see 'vokcodec list')");
  const vokc::Codec* c = vokc::registry().find(a.codec);
  if (!c) fail("unknown codec '" + a.codec + "' (see 'vokcodec list')");
  return *c;
}

// Progress on a terminal for long jobs.
std::function<void(double)> progressFor(std::size_t samples, int rate) {
  if (!isatty(STDERR_FILENO) || samples < static_cast<std::size_t>(rate) * 10) return {};
  return [](double f) {
    int w = static_cast<int>(f * 40);
    std::fprintf(stderr, "\r[%-40.*s] %3d%%", w, "########################################", static_cast<int>(f * 100));
  };
}
void endProgress(const std::function<void(double)>& p) {
  if (p) std::fprintf(stderr, "\r%60s\r", "");
}

void usage(std::FILE* to) {
  std::fprintf(to,
               "usage: vokcodec encode --codec NAME [--format itu|rtp] [options] INPUT OUTPUT\n"
               "       vokcodec decode --codec NAME [--format itu|rtp] [options] INPUT OUTPUT\n"
               "       vokcodec roundtrip --codec NAME INPUT\n"
               "       vokcodec conformance [--filter TEXT] [DIR]\n"
               "       vokcodec list | --help | --version\n"
               "options: --mode N  --rate R  --rate-file FILE  --dtx  --law alaw|ulaw\n"
               "Audio is WAV when the name ends in .wav, else raw 16-bit little-endian PCM at the codec rate.\n");
}

int encode(const Args& a) {
  const auto& c = codecOf(a);
  if (a.positional.size() != 2) fail("encode needs INPUT and OUTPUT");
  auto pcm = readAudio(a.positional[0], c.sampleRate);
  if (pcm.empty()) fail(a.positional[0] + ": no audio samples");
  vokc::Options o = a.opt;
  o.progress = progressFor(pcm.size(), c.sampleRate);
  std::vector<uint8_t> bits;
  std::string err;
  bool ok = c.encode(pcm, o, bits, err);
  endProgress(o.progress);
  if (!ok) fail(err);
  writeBytes(a.positional[1], bits);
  return 0;
}

int decode(const Args& a) {
  const auto& c = codecOf(a);
  if (a.positional.size() != 2) fail("decode needs INPUT and OUTPUT");
  std::vector<uint8_t> bits;
  if (!vokc::readFileBytes(a.positional[0], bits)) fail("cannot open " + a.positional[0]);
  if (bits.empty()) fail(a.positional[0] + ": empty bitstream");
  vokc::Options o = a.opt;
  o.progress = progressFor(bits.size() * 4, c.sampleRate);
  std::vector<int16_t> pcm;
  std::string err;
  bool ok = c.decode(bits, o, pcm, err);
  endProgress(o.progress);
  if (!ok) fail(a.positional[0] + ": " + err);
  writeAudio(a.positional[1], pcm, c.sampleRate);
  return 0;
}

int roundtrip(const Args& a) {
  const auto& c = codecOf(a);
  if (a.positional.size() != 1) fail("roundtrip needs INPUT");
  auto pcm = readAudio(a.positional[0], c.sampleRate);
  if (pcm.empty()) fail(a.positional[0] + ": no audio samples");
  std::vector<uint8_t> bits;
  std::vector<int16_t> out;
  std::string err;
  // The packed payload layout measures the real bit rate.
  vokc::Options o = a.opt;
  if (!a.formatGiven) o.format = "rtp";
  auto t0 = std::chrono::steady_clock::now();
  if (!c.encode(pcm, o, bits, err)) fail(err);
  if (!c.decode(bits, o, out, err)) fail(err);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // Best alignment over the codec delay.
  double bestSnr = -1e9, bestSeg = 0;
  int bestDelay = 0;
  for (int delay = 0; delay <= 200; ++delay) {
    double sig = 0, noise = 0;
    for (std::size_t i = 0; i + delay < out.size() && i < pcm.size(); ++i) {
      double d = double(out[i + delay]) - pcm[i];
      sig += double(pcm[i]) * pcm[i];
      noise += d * d;
    }
    double snr = 10 * std::log10((sig + 1e-9) / (noise + 1e-9));
    if (snr > bestSnr) {
      bestSnr = snr;
      bestDelay = delay;
    }
  }
  const std::size_t seg = static_cast<std::size_t>(c.sampleRate / 50);  // 20 ms
  double segSum = 0;
  int segs = 0;
  for (std::size_t s = 0; s + seg <= pcm.size() && s + seg + bestDelay <= out.size(); s += seg) {
    double sig = 0, noise = 0;
    for (std::size_t i = s; i < s + seg; ++i) {
      double d = double(out[i + bestDelay]) - pcm[i];
      sig += double(pcm[i]) * pcm[i];
      noise += d * d;
    }
    if (sig < 1e4 * seg) continue;  // skip silence
    double snr = 10 * std::log10((sig + 1e-9) / (noise + 1e-9));
    segSum += std::max(-10.0, std::min(35.0, snr));
    ++segs;
  }
  bestSeg = segs ? segSum / segs : 0.0;
  double audioSecs = double(pcm.size()) / c.sampleRate;
  std::printf("%-8s SNR %6.2f dB  segSNR %6.2f dB  delay %3d  %6.2f kbit/s  real-time factor %.4f\n",
              c.name.c_str(), bestSnr, bestSeg, bestDelay, bits.size() * 8.0 / audioSecs / 1000.0,
              secs / audioSecs);
  return 0;
}

std::string defaultVectors() {
  if (const char* e = std::getenv("VOKSC_TESTVECTORS")) return e;
  if (std::ifstream("../shared/testvectors/g729/README.md")) return "../shared/testvectors";
  return VOKCODEC_DEFAULT_TESTVECTORS;
}

int conformance(const Args& a) {
  std::string dir = a.positional.empty() ? defaultVectors() : a.positional[0];
  int passed = 0, failed = 0;
  for (const auto& check : vokc::registry().checks) {
    if (!a.filter.empty() && check.name.find(a.filter) == std::string::npos) continue;
    std::string r = check.run(dir);
    if (r.empty()) {
      std::printf("PASS %s\n", check.name.c_str());
      ++passed;
    } else {
      std::printf("FAIL %s: %s\n", check.name.c_str(), r.c_str());
      ++failed;
    }
    std::fflush(stdout);
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}

int list() {
  const auto& r = vokc::registry();
  if (r.codecs.empty()) std::printf("no codecs registered\n");
  for (const auto& c : r.codecs) std::printf("%-10s %5d Hz  %s\n", c.name.c_str(), c.sampleRate, c.about.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc >= 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
      usage(stdout);
      return 0;
    }
    if (argc >= 2 && std::string(argv[1]) == "--version") {
      std::printf("vokcodec 1.0 on %s %s\n", vokscGetLibVersion()->name, vokscGetLibVersion()->versionText);
      return 0;
    }
    Args a = parse(argc, argv);
    if (a.command == "encode") return encode(a);
    if (a.command == "decode") return decode(a);
    if (a.command == "roundtrip") return roundtrip(a);
    if (a.command == "conformance") return conformance(a);
    if (a.command == "list") return list();
    fail("unknown command '" + a.command + "' (try --help)");
  } catch (const Failure& f) {
    std::fprintf(stderr, "vokcodec: %s\n", f.message.c_str());
    return 1;
  }
}
