// The vokcodec tool's commands: encode, decode, roundtrip, conformance, list.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "g729/g729_serial.h"
#include "registry.h"
#include "voksc.h"

#ifndef VOKCODEC_DEFAULT_TESTVECTORS
#define VOKCODEC_DEFAULT_TESTVECTORS "testvectors"
#endif

namespace vokc {
namespace {

struct Failure {
  std::string message;
};

[[noreturn]] void fail(const std::string& message) { throw Failure{message}; }

std::string oneLine(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Inputs longer than this get a progress bar on a terminal.
constexpr double kLongInputSeconds = 10.0;

// A one-line bar redrawn in place on stderr; erased when the job ends (also
// when it fails, before the error line is printed).
class ProgressBar {
 public:
  ProgressBar(const ToolStreams& io, bool show) : err_(io.err), show_(show && io.terminal) {}
  ~ProgressBar() {
    if (drawn_) {
      std::fprintf(err_, "\r%*s\r", kWidth + 8, "");
      std::fflush(err_);
    }
  }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // A callback for a job that covers [from, to] of the whole bar.
  std::function<void(double)> part(double from, double to) {
    if (!show_) return {};
    return [this, from, to](double f) { draw(from + (to - from) * std::max(0.0, std::min(1.0, f))); };
  }

 private:
  static constexpr int kWidth = 40;
  void draw(double f) {
    int percent = static_cast<int>(f * 100);
    if (percent == last_) return;
    last_ = percent;
    int filled = static_cast<int>(f * kWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kWidth, '.');
    std::fprintf(err_, "\r[%s] %3d%%", bar.c_str(), percent);
    std::fflush(err_);
    drawn_ = true;
  }
  std::FILE* err_;
  bool show_;
  bool drawn_ = false;
  int last_ = -1;
};

// An output that is the input (the same file, also through links) is refused
// before anything is read or written.
void refuseOverwritingInput(const std::string& in, const std::string& out) {
  struct stat a {}, b {};
  if (::stat(in.c_str(), &a) == 0 && ::stat(out.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
      S_ISREG(a.st_mode))
    fail(out + ": the output is the input file");
}

const Codec& findCodec(const Registry& reg, const std::string& name) {
  if (const Codec* c = reg.find(name)) return *c;
  if (reg.codecs.empty()) fail("unknown codec '" + name + "' (no codec is registered in this build)");
  std::string known;
  for (const auto& c : reg.codecs) known += (known.empty() ? "" : ", ") + c.name;
  fail("unknown codec '" + name + "' (known: " + known + ")");
}

std::vector<int16_t> readSpeech(const std::string& path, const Codec& c) {
  std::vector<int16_t> pcm;
  std::string err;
  if (!readAudio(path, c.sampleRate, pcm, err)) fail(err);
  if (pcm.empty()) fail(path + ": no audio samples");
  return pcm;
}

bool isLong(std::size_t samples, int rate) { return double(samples) > kLongInputSeconds * rate; }

// Seconds of audio in a bitstream of `bytes`, from the size the codec gives
// one second of noise with the same options; 0 when it cannot tell.
double estimateSeconds(const Codec& c, const Options& o, std::size_t bytes) {
  std::vector<int16_t> probe(static_cast<std::size_t>(c.sampleRate));
  uint32_t seed = 12345;
  for (auto& s : probe) {
    seed = seed * 1664525u + 1013904223u;
    s = static_cast<int16_t>(static_cast<int32_t>(seed >> 20) - 2048);
  }
  Options p = o;
  p.dtx = false;
  p.rateFile.clear();
  p.progress = nullptr;
  std::vector<uint8_t> bits;
  std::string err;
  try {
    if (!c.encode(probe, p, bits, err) || bits.empty()) return 0;
  } catch (const std::exception&) {
    return 0;
  }
  return double(bytes) / double(bits.size());
}

// A bitstream file named .gsm holds 33-byte GSM full-rate frames.
bool gsmFile(const ToolArgs& a, const std::string& path) {
  return !a.formatGiven && path.size() > 4 && path.compare(path.size() - 4, 4, ".gsm") == 0;
}

// The layout a bitstream file's name selects when no format is given
// (.amr: the AMR storage format), else the given one.
std::string fileFormat(const ToolArgs& a, const Codec& c, const std::string& path, const std::string& given) {
  if (a.formatGiven) return given;
  const std::string byName = c.formatForFile(path);
  return byName.empty() ? given : byName;
}

int encode(const Registry& reg, const ToolArgs& a, const ToolStreams& io) {
  const Codec& c = findCodec(reg, a.codec);
  refuseOverwritingInput(a.files[0], a.files[1]);
  const std::string& in = a.files[0];
  std::vector<int16_t> pcm = readSpeech(in, c);
  std::vector<uint8_t> bits;
  {
    ProgressBar bar(io, isLong(pcm.size(), c.sampleRate));
    Options o = a.options;
    if (gsmFile(a, a.files[1])) o.format = "rtp";
    o.format = fileFormat(a, c, a.files[1], o.format);
    o.progress = bar.part(0, 1);
    std::string err;
    if (!c.encode(pcm, o, bits, err)) fail(c.name + ": " + err);
  }
  if (bits.empty()) fail(in + ": too short for one frame of " + c.name);
  std::string err;
  if (!writeFileAtomically(a.files[1], bits, err)) fail(err);
  return 0;
}

int decode(const Registry& reg, const ToolArgs& a, const ToolStreams& io) {
  const Codec& c = findCodec(reg, a.codec);
  refuseOverwritingInput(a.files[0], a.files[1]);
  const std::string& in = a.files[0];
  std::vector<uint8_t> bits;
  std::string err;
  if (!readInputFile(in, bits, err)) fail(err);
  if (bits.empty()) fail(in + ": empty bitstream");
  std::vector<int16_t> pcm;
  {
    bool show = io.terminal && estimateSeconds(c, a.options, bits.size()) > kLongInputSeconds;
    ProgressBar bar(io, show);
    Options o = a.options;
    if (gsmFile(a, in)) o.format = "rtp";
    o.format = fileFormat(a, c, in, o.format);
    o.progress = bar.part(0, 1);
    if (!c.decode(bits, o, pcm, err)) fail(in + ": " + err);
  }
  if (pcm.empty()) fail(in + ": no complete frame of " + c.name);
  if (!writeAudio(a.files[1], pcm, c.sampleRate, err)) fail(err);
  return 0;
}

struct Quality {
  double snr = 0, segSnr = 0;
  int delay = 0;
  int activeSegments = 0;
};

// Signal-to-noise ratio of `out` delayed by `delay` against `ref`, over the
// first `limit` reference samples.
double snrAt(const std::vector<int16_t>& ref, const std::vector<int16_t>& out, std::size_t delay, std::size_t limit) {
  double sig = 0, noise = 0;
  std::size_t n = std::min(limit, out.size() > delay ? out.size() - delay : 0);
  for (std::size_t i = 0; i < n; ++i) {
    double x = ref[i], d = double(out[i + delay]) - x;
    sig += x * x;
    noise += d * d;
  }
  if (noise == 0) return sig == 0 ? 0 : INFINITY;
  if (sig == 0) return -INFINITY;
  return 10 * std::log10(sig / noise);
}

// The codec delay is found on at most the first 20 s; SNR and segmental SNR
// (20 ms segments, silent ones skipped, each clamped to [-10, 35] dB) are then
// measured over the whole signal.
Quality compare(const std::vector<int16_t>& ref, const std::vector<int16_t>& out, int rate) {
  Quality q;
  const std::size_t searchLen = std::min(ref.size(), static_cast<std::size_t>(rate) * 20);
  double best = -INFINITY;
  for (int d = 0; d <= 200; ++d) {
    double s = snrAt(ref, out, static_cast<std::size_t>(d), searchLen);
    if (s > best) {
      best = s;
      q.delay = d;
    }
  }
  const std::size_t delay = static_cast<std::size_t>(q.delay);
  q.snr = snrAt(ref, out, delay, ref.size());
  const std::size_t seg = static_cast<std::size_t>(rate / 50);
  double sum = 0;
  for (std::size_t s = 0; s + seg <= ref.size() && s + seg + delay <= out.size(); s += seg) {
    double sig = 0, noise = 0;
    for (std::size_t i = s; i < s + seg; ++i) {
      double x = ref[i], d = double(out[i + delay]) - x;
      sig += x * x;
      noise += d * d;
    }
    if (sig < 1e4 * double(seg)) continue;  // below about -50 dBFS: silence
    double v = noise == 0 ? 35.0 : 10 * std::log10(sig / noise);
    sum += std::max(-10.0, std::min(35.0, v));
    ++q.activeSegments;
  }
  q.segSnr = q.activeSegments ? sum / q.activeSegments : 0;
  return q;
}

int roundtrip(const Registry& reg, const ToolArgs& a, const ToolStreams& io) {
  const Codec& c = findCodec(reg, a.codec);
  std::vector<int16_t> pcm = readSpeech(a.files[0], c);
  std::vector<uint8_t> bits;
  std::vector<int16_t> out;
  std::string err;
  // The packed payload layout gives the real bit rate; the ITU layouts spend
  // a 16-bit word per bit or per code.
  Options o = a.options;
  if (!a.formatGiven) o.format = "rtp";
  double seconds;
  {
    ProgressBar bar(io, isLong(pcm.size(), c.sampleRate));
    auto t0 = std::chrono::steady_clock::now();
    o.progress = bar.part(0, 0.5);
    bool ok = c.encode(pcm, o, bits, err);
    if (!ok && !a.formatGiven) {  // a codec without a packed layout
      o.format = "itu";
      ok = c.encode(pcm, o, bits, err);
    }
    if (!ok) fail(c.name + ": " + err);
    if (bits.empty()) fail(a.files[0] + ": too short for one frame of " + c.name);
    o.progress = bar.part(0.5, 1);
    if (!c.decode(bits, o, out, err)) fail(c.name + ": decoding its own stream: " + err);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  Quality q = compare(pcm, out, c.sampleRate);
  const double audioSeconds = double(pcm.size()) / c.sampleRate;
  std::size_t width = 8;
  for (const auto& k : reg.codecs) width = std::max(width, k.name.size());
  char segText[32];
  if (q.activeSegments)
    std::snprintf(segText, sizeof segText, "%6.2f dB", q.segSnr);
  else
    std::snprintf(segText, sizeof segText, "   n/a   ");
  // An ITU serial stream of the G.729 family states each frame's bit count:
  // the rate is what those frames carry, not the size of the word layout.
  double payloadBits = double(bits.size()) * 8.0;
  const char* layout = o.format == "itu" ? " (itu layout)" : "";
  std::vector<SerialFrame> frames;
  std::string serialError;
  if (o.format == "itu" && readSerialFrames(bits, {0, 15, 16, 64, 80, 118}, frames, serialError)) {
    payloadBits = 0;
    for (const auto& f : frames) payloadBits += double(f.bits.size());
    layout = "";
  }
  std::fprintf(io.out, "%-*s SNR %6.2f dB  segSNR %s  delay %3d  %6.2f kbit/s%s  real-time factor %.4f\n",
               static_cast<int>(width), c.name.c_str(), q.snr, segText, q.delay,
               payloadBits / audioSeconds / 1000.0, layout, seconds / audioSeconds);
  return 0;
}

std::string defaultVectorFolder() {
  const char* env = std::getenv("VOKSC_TESTVECTORS");
  if (env && *env) return env;
  return VOKCODEC_DEFAULT_TESTVECTORS;
}

int conformance(const Registry& reg, const ToolArgs& a, const ToolStreams& io) {
  std::vector<const Check*> selected;
  for (const auto& check : reg.checks)
    if (a.filter.empty() || check.name.find(a.filter) != std::string::npos) selected.push_back(&check);
  if (reg.checks.empty()) {
    std::fprintf(io.out, "no conformance checks registered\n0 passed, 0 failed\n");
    return 0;
  }
  if (selected.empty()) fail("no conformance check matches '" + a.filter + "'");
  const bool given = !a.files.empty();
  const std::string dir = given ? a.files[0] : defaultVectorFolder();
  if (!isFolder(dir))
    fail("no test-vector folder " + dir + (given ? "" : " (give DIR or set VOKSC_TESTVECTORS)"));
  int passed = 0, failed = 0;
  for (const Check* check : selected) {
    std::string reason;
    try {
      reason = check->run(dir);
    } catch (const std::exception& e) {
      reason = std::string("exception: ") + e.what();
    }
    if (reason.empty()) {
      std::fprintf(io.out, "PASS %s\n", check->name.c_str());
      ++passed;
    } else {
      std::fprintf(io.out, "FAIL %s: %s\n", check->name.c_str(), oneLine(reason).c_str());
      ++failed;
    }
    std::fflush(io.out);
  }
  std::fprintf(io.out, "%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}

int list(const Registry& reg, const ToolStreams& io) {
  if (reg.codecs.empty()) {
    std::fprintf(io.out, "no codecs registered in this build\n");
    return 0;
  }
  std::size_t width = 0;
  for (const auto& c : reg.codecs) width = std::max(width, c.name.size());
  for (const auto& c : reg.codecs)
    std::fprintf(io.out, "%-*s %6d Hz  %s\n", static_cast<int>(width), c.name.c_str(), c.sampleRate, c.about.c_str());
  return 0;
}

void usage(std::FILE* to) {
  std::fputs(
      "usage: vokcodec encode --codec NAME [--format FORMAT] [codec options] INPUT OUTPUT\n"
      "       vokcodec decode --codec NAME [--format FORMAT] [codec options] INPUT OUTPUT\n"
      "       vokcodec roundtrip --codec NAME [codec options] INPUT\n"
      "       vokcodec conformance [--filter TEXT] [DIR]\n"
      "       vokcodec list | --help | --version\n"
      "\n"
      "encode     speech to a bitstream        decode     a bitstream to speech\n"
      "roundtrip  encode and decode in memory; prints SNR, segmental SNR, bit rate and speed\n"
      "conformance  runs the bit-exactness checks against the official test vectors in DIR\n"
      "             (default: $VOKSC_TESTVECTORS, else the source tree's testvectors)\n"
      "list       the codecs with their sample rates\n"
      "\n"
      "codec options: --mode N  --rate R  --rate-file FILE  --dtx  --law alaw|ulaw\n"
      "--format: itu = ITU test-sequence layout (default), rtp = packed payload;\n"
      "          amr-nb also storage (the .amr file, default for that name), rtp-be, rtp-oa\n"
      "Audio is WAV when the name ends in .wav (any rate and channel count on input,\n"
      "converted to the codec's rate), otherwise headerless 16-bit little-endian PCM\n"
      "at the codec's rate.\n",
      to);
}

}  // namespace

int runTool(const Registry& reg, const std::vector<std::string>& args, const ToolStreams& io) {
  try {
    ToolArgs a;
    std::string err;
    if (!parseToolArgs(args, a, err)) fail(err);
    if (a.command == "help") {
      usage(io.out);
      return 0;
    }
    if (a.command == "version") {
      const vokLibraryVersion* v = vokscGetLibVersion();
      std::fprintf(io.out, "vokcodec 1.0 (voksc %s, %s)\n", v->versionText, v->name);
      return 0;
    }
    if (a.command == "encode") return encode(reg, a, io);
    if (a.command == "decode") return decode(reg, a, io);
    if (a.command == "roundtrip") return roundtrip(reg, a, io);
    if (a.command == "conformance") return conformance(reg, a, io);
    return list(reg, io);
  } catch (const Failure& f) {
    std::fprintf(io.err, "vokcodec: %s\n", oneLine(f.message).c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(io.err, "vokcodec: out of memory\n");
  } catch (const std::exception& e) {
    std::fprintf(io.err, "vokcodec: %s\n", oneLine(e.what()).c_str());
  }
  std::fflush(io.err);
  return 1;
}

}  // namespace vokc
