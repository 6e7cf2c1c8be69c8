// The vokcodec tool's commands: encode, decode, roundtrip, conformance, list.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "tool.h"
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

// Runs of more than this much audio show their progress.
constexpr double kLongSeconds = 10.0;

// A one-line progress report redrawn in place on stderr once a run has
// passed kLongSeconds of audio: a bar when the input's size is known, else
// the seconds done.  Erased when the run ends (also when it fails, before
// the error line is printed).
class Progress {
 public:
  Progress(const ToolStreams& io, bool show, int rate) : err_(io.err), show_(show), rate_(rate) {}
  ~Progress() {
    if (drawn_) {
      std::fprintf(err_, "\r%*s\r", kWidth + 8, "");
      std::fflush(err_);
    }
  }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `samples` of audio done; `fraction` of the input consumed, or -1.
  void update(long long samples, double fraction) {
    if (!show_ || double(samples) < kLongSeconds * rate_) return;
    char text[64];
    const long long mark = fraction >= 0 ? static_cast<long long>(fraction * 100) : samples / rate_;
    if (mark == last_) return;
    last_ = mark;
    if (fraction >= 0) {
      const int filled = static_cast<int>(std::min(1.0, fraction) * kWidth);
      std::string bar(static_cast<std::size_t>(filled), '#');
      bar.resize(kWidth, '.');
      std::snprintf(text, sizeof text, "[%s] %3lld%%", bar.c_str(), std::min(mark, 100LL));
    } else {
      std::snprintf(text, sizeof text, "%10lld s of audio", mark);
    }
    std::fprintf(err_, "\r%s", text);
    std::fflush(err_);
    drawn_ = true;
  }
  void done(long long samples, bool sized) { update(samples, sized ? 1.0 : -1.0); }

 private:
  static constexpr int kWidth = 40;
  std::FILE* err_;
  bool show_;
  int rate_;
  bool drawn_ = false;
  long long last_ = -1;
};

const Codec& codecOf(const Registry& reg, const ToolArgs& a) {
  if (const Codec* c = reg.find(a.codec)) return *c;
  fail(unknownCodec(reg, a.codec));
}

const OptionSpec* specOf(const Codec& c, const std::string& key) {
  for (const auto& o : c.options)
    if (o.key == key) return &o;
  return nullptr;
}

// The codec options of the command line as the codec's option string:
// those of one direction (use) for roundtrip, all of them otherwise (the
// stream coders refuse those of the other direction).
std::string optionString(const Codec& c, const ToolArgs& a, int use) {
  std::string text;
  for (const auto& kv : a.codecOptions) {
    const OptionSpec* spec = specOf(c, kv.first);
    if (use && spec && !(spec->use & use)) continue;
    text += (text.empty() ? "" : ",") + kv.first + "=" + kv.second;
  }
  return text;
}

// "--law alaw" when an option makes the PCM side G.711 characters, else "".
std::string charactersOption(const Codec& c, const ToolArgs& a) {
  for (const auto& kv : a.codecOptions) {
    const OptionSpec* spec = specOf(c, kv.first);
    if (spec && (spec->use & kCharactersOption) && kv.second != spec->values.substr(0, spec->values.find('|')))
      return "--" + kv.first + " " + kv.second;
  }
  return "";
}

Options streamOptions(const Codec& c, const ToolArgs& a, int use, const std::string& bitstream) {
  Options o;
  o.format = a.format.empty() ? "itu" : a.format;
  // A bitstream file named .gsm holds 33-byte GSM full-rate frames; a
  // codec's named layout may claim a file extension too (.amr).
  if (a.format.empty() && bitstream.size() > 4 && bitstream.compare(bitstream.size() - 4, 4, ".gsm") == 0)
    o.format = "rtp";
  if (a.format.empty() && !c.formatForFile(bitstream).empty()) o.format = c.formatForFile(bitstream);
  if (use != kDecoderOption) o.rateFile = a.rateFile;
  o.extra = optionString(c, a, use);
  return o;
}

bool showProgress(const ToolArgs& a, const ToolStreams& io) { return !a.quiet && (a.progress || io.terminal); }

void note(const ToolArgs& a, const ToolStreams& io, const std::string& text) {
  if (a.quiet) return;
  std::fprintf(io.err, "vokcodec: note: %s\n", text.c_str());
  std::fflush(io.err);
}

// Opens the speech input of encode and roundtrip and checks the options
// that describe it.
void openSpeech(AudioReader& src, const Codec& c, const ToolArgs& a) {
  std::string err;
  if (!src.open(a.files[0], a.raw, c.sampleRate, err)) fail(err);
  const std::string name = src.file().name();
  if (src.isWav() && (a.rateGiven || a.channelsGiven))
    fail(std::string(a.rateGiven ? "--rate" : "--channels") + " describes a raw input; " + name +
         " is a WAV file, which states its own");
  const std::string chars = charactersOption(c, a);
  if (!chars.empty() && src.isWav())
    fail(chars + " codes G.711 characters held in 16-bit words of a raw file; " + name + " is a WAV file");
  if (!chars.empty() && (src.inputRate() != c.sampleRate || a.raw.channels != 1))
    fail(chars + ": G.711 characters are not mixed or converted; give them at " + std::to_string(c.sampleRate) +
         " Hz, one channel");
}

void paddedNote(const ToolArgs& a, const ToolStreams& io, const Codec& c, std::size_t got) {
  note(a, io, "the last frame had " + std::to_string(got) + " of " + std::to_string(c.frameSamples) +
                  " samples: padded with silence");
}

int encode(const Registry& reg, const ToolArgs& a, const ToolStreams& io) {
  const Codec& c = codecOf(reg, a);
  StreamEncoder enc;
  std::string err = enc.open(c, streamOptions(c, a, 0, a.files[1]));
  if (!err.empty()) fail(c.name + ": " + err);
  AudioReader src;
  openSpeech(src, c, a);
  if (sameFile(src.file(), a.files[1])) fail(a.files[1] + ": the output is the input file");
  const std::size_t n = static_cast<std::size_t>(c.frameSamples);
  std::vector<int16_t> pcm(n);
  std::size_t got = src.read(pcm.data(), n, err);
  if (!err.empty()) fail(err);
  if (got == 0) fail(src.file().name() + ": no audio samples");
  OutputFile out;
  if (!out.open(a.files[1], err)) fail(err);
  Progress bar(io, showProgress(a, io), c.sampleRate);
  std::vector<uint8_t> bytes;
  long long samples = 0;
  std::size_t partial = 0;
  while (got > 0) {
    samples += static_cast<long long>(got);
    if (got < n) {
      std::fill(pcm.begin() + static_cast<std::ptrdiff_t>(got), pcm.end(), int16_t{0});
      partial = got;
    }
    err = enc.frame(pcm.data(), bytes);
    if (!err.empty()) fail(c.name + ": " + err);
    if (!out.write(bytes.data(), bytes.size(), err)) fail(err);
    bytes.clear();
    bar.update(samples, src.fraction());
    if (partial) break;
    got = src.read(pcm.data(), n, err);
    if (!err.empty()) fail(err);
  }
  enc.finish(bytes);
  if (!out.write(bytes.data(), bytes.size(), err)) fail(err);
  if (!out.commit(err)) fail(err);
  bar.done(samples, src.fraction() >= 0);
  if (partial) paddedNote(a, io, c, partial);
  return 0;
}

int decode(const Registry& reg, const ToolArgs& a, const ToolStreams& io) {
  const Codec& c = codecOf(reg, a);
  StreamDecoder dec;
  std::string err = dec.open(c, streamOptions(c, a, 0, a.files[0]));
  if (!err.empty()) fail(c.name + ": " + err);
  const bool wav = a.wav || wavName(a.files[1]);
  const int outRate = a.rateGiven ? a.raw.rate : c.sampleRate;
  const std::string chars = charactersOption(c, a);
  if (!chars.empty() && (wav || outRate != c.sampleRate))
    fail(chars + " decodes to G.711 characters in 16-bit words: the output is raw, at " +
         std::to_string(c.sampleRate) + " Hz");
  InputFile in;
  if (!in.open(a.files[0], err)) fail(err);
  uint8_t first;
  if (in.peek(&first, 1, err) == 0) fail(err.empty() ? in.name() + ": empty bitstream" : err);
  if (sameFile(in, a.files[1])) fail(a.files[1] + ": the output is the input file");
  std::string readError;
  const ByteInput input = [&](uint8_t* dst, std::size_t n) { return in.read(dst, n, readError); };
  std::vector<int16_t> pcm(static_cast<std::size_t>(c.frameSamples));
  int samples = 0;
  auto next = [&] {
    const bool ok = dec.next(input, pcm.data(), &samples, err);
    if (!readError.empty()) fail(readError);
    if (!ok && !err.empty()) fail(in.name() + ": " + err);
    return ok;
  };
  if (!next()) fail(in.name() + ": no complete frame of " + c.name);
  AudioWriter out;
  if (!out.open(a.files[1], wav, c.sampleRate, outRate, err)) fail(err);
  Progress bar(io, showProgress(a, io), c.sampleRate);
  long long done = 0;
  do {
    if (!out.write(pcm.data(), static_cast<std::size_t>(samples), err)) fail(err);
    done += samples;
    bar.update(done, in.fraction());
  } while (next());
  if (!out.finish(err)) fail(err);
  bar.done(done, in.fraction() >= 0);
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

// Quality of a decoded signal against its input, both given in blocks: the
// codec delay (0..200 samples) is found on the first 20 s, then SNR and
// segmental SNR (20 ms segments, silent ones skipped, each clamped to
// [-10, 35] dB) are summed over the whole signal at that delay, keeping only
// the samples not yet paired.
class QualityMeter {
 public:
  explicit QualityMeter(int rate)
      : search_(static_cast<std::size_t>(rate) * 20), seg_(static_cast<std::size_t>(rate / 50)) {}
  void add(const int16_t* ref, std::size_t nRef, const int16_t* out, std::size_t nOut) {
    ref_.insert(ref_.end(), ref, ref + nRef);
    out_.insert(out_.end(), out, out + nOut);
    refTotal_ += nRef;
    if (!found_ && refTotal_ >= search_ && outTotal() >= search_ + kMaxDelay) findDelay();
    if (found_) pair();
  }
  Quality finish() {
    if (!found_) findDelay();
    pair();
    if (noise_ == 0)
      q_.snr = sig_ == 0 ? 0 : INFINITY;
    else
      q_.snr = sig_ == 0 ? -INFINITY : 10 * std::log10(sig_ / noise_);
    q_.segSnr = q_.activeSegments ? segSum_ / q_.activeSegments : 0;
    return q_;
  }

 private:
  static constexpr std::size_t kMaxDelay = 200;
  std::size_t outTotal() const { return outBase_ + out_.size(); }
  void findDelay() {
    double best = -INFINITY;
    const std::size_t limit = std::min(ref_.size(), search_);
    for (std::size_t d = 0; d <= kMaxDelay; ++d) {
      const double s = snrAt(ref_, out_, d, limit);
      if (s > best) {
        best = s;
        q_.delay = static_cast<int>(d);
      }
    }
    found_ = true;
  }
  // Sums the pairs (ref[k], out[k + delay]) now available; drops them.
  void pair() {
    const std::size_t d = static_cast<std::size_t>(q_.delay);
    std::size_t k = refBase_;
    for (; k < refTotal_ && k + d < outTotal(); ++k) {
      const double x = ref_[k - refBase_], e = double(out_[k + d - outBase_]) - x;
      sig_ += x * x;
      noise_ += e * e;
      segSig_ += x * x;
      segNoise_ += e * e;
      if ((k + 1) % seg_ == 0) {
        if (segSig_ >= 1e4 * double(seg_)) {  // below about -50 dBFS: silence
          const double v = segNoise_ == 0 ? 35.0 : 10 * std::log10(segSig_ / segNoise_);
          segSum_ += std::max(-10.0, std::min(35.0, v));
          ++q_.activeSegments;
        }
        segSig_ = segNoise_ = 0;
      }
    }
    ref_.erase(ref_.begin(), ref_.begin() + static_cast<std::ptrdiff_t>(k - refBase_));
    refBase_ = k;
    const std::size_t outDone = std::min(k + d, outTotal());
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outDone - outBase_));
    outBase_ = outDone;
  }
  std::size_t search_, seg_;
  std::vector<int16_t> ref_, out_;
  std::size_t refBase_ = 0, outBase_ = 0, refTotal_ = 0;
  bool found_ = false;
  double sig_ = 0, noise_ = 0, segSig_ = 0, segNoise_ = 0, segSum_ = 0;
  Quality q_;
};

int roundtrip(const Registry& reg, const ToolArgs& a, const ToolStreams& io) {
  const Codec& c = codecOf(reg, a);
  if (!charactersOption(c, a).empty())
    fail(charactersOption(c, a) + ": roundtrip measures linear speech; use encode and decode for G.711 characters");
  // Payloads in the packed layout; the ITU layout for a codec without one.
  ToolArgs packed = a;
  if (a.format.empty()) packed.format = "rtp";
  StreamEncoder enc;
  StreamDecoder dec;
  std::string err = enc.open(c, streamOptions(c, packed, kEncoderOption, ""));
  if (!err.empty() && a.format.empty()) {
    packed.format = "itu";
    err = enc.open(c, streamOptions(c, packed, kEncoderOption, ""));
  }
  if (!err.empty()) fail(c.name + ": " + err);
  if (enc.groupsFrames()) fail(c.name + ": roundtrip codes one frame per packet; use encode and decode for --frames");
  err = dec.open(c, streamOptions(c, packed, kDecoderOption, ""));
  if (!err.empty()) fail(c.name + ": " + err);
  AudioReader src;
  openSpeech(src, c, a);
  // The decoded speech is written at the input's rate.
  const int outRate = src.inputRate();
  AudioWriter writer;
  if (!a.output.empty()) {
    if (sameFile(src.file(), a.output)) fail(a.output + ": the output is the input file");
    if (!writer.open(a.output, a.wav || wavName(a.output), c.sampleRate, outRate, err)) fail(err);
  }
  const std::size_t n = static_cast<std::size_t>(c.frameSamples);
  std::vector<int16_t> pcm(n), decoded(n);
  std::vector<uint8_t> bytes;
  QualityMeter meter(c.sampleRate);
  Progress bar(io, showProgress(a, io), c.sampleRate);
  long long samples = 0, written = 0, frames = 0;
  std::size_t partial = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (;;) {
    const std::size_t got = src.read(pcm.data(), n, err);
    if (!err.empty()) fail(err);
    if (got == 0) break;
    if (got < n) {
      std::fill(pcm.begin() + static_cast<std::ptrdiff_t>(got), pcm.end(), int16_t{0});
      partial = got;
    }
    samples += static_cast<long long>(got);
    ++frames;
    bytes.clear();
    err = enc.frame(pcm.data(), bytes);
    if (!err.empty()) fail(c.name + ": " + err);
    std::size_t pos = 0;
    const ByteInput in = memoryInput(bytes, pos);
    bool first = true;
    while (pos < bytes.size()) {
      int k = 0;
      if (!dec.next(in, decoded.data(), &k, err)) fail(c.name + ": decoding its own stream: " + err);
      meter.add(pcm.data(), first ? got : 0, decoded.data(), static_cast<std::size_t>(k));
      first = false;
      const long long keep = std::min<long long>(k, samples - written);
      if (!a.output.empty() && !writer.write(decoded.data(), static_cast<std::size_t>(keep), err)) fail(err);
      written += keep;
    }
    if (first) meter.add(pcm.data(), got, nullptr, 0);
    bar.update(samples, src.fraction());
    if (partial) break;
  }
  if (samples == 0) fail(src.file().name() + ": no audio samples");
  if (!a.output.empty() && !writer.finish(err)) fail(err);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  bar.done(samples, src.fraction() >= 0);
  const Quality q = meter.finish();
  const double audioSeconds = double(samples) / c.sampleRate;
  // The rate of what the coded frames carry, over the time they cover.
  const double codedSeconds = double(frames) * double(n) / c.sampleRate;
  std::size_t width = 8;
  for (const auto& k : reg.codecs) width = std::max(width, k.name.size());
  char segText[32];
  if (q.activeSegments)
    std::snprintf(segText, sizeof segText, "%6.2f dB", q.segSnr);
  else
    std::snprintf(segText, sizeof segText, "   n/a   ");
  // With the speech on the standard output, the report goes to stderr.
  std::fprintf(a.output == "-" ? io.err : io.out,
               "%-*s SNR %6.2f dB  segSNR %s  delay %3d  %6.2f kbit/s  real-time factor %.4f\n",
               static_cast<int>(width), c.name.c_str(), q.snr, segText, q.delay,
               double(enc.payloadBits()) / codedSeconds / 1000.0, seconds / audioSeconds);
  if (partial) paddedNote(a, io, c, partial);
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
  for (const auto& c : reg.codecs) {
    std::string opts;
    for (const auto& o : c.options) opts += " --" + o.key + (o.values == "0|1" ? "" : " " + o.values);
    std::fprintf(io.out, "%-*s %6d Hz  %s%s%s\n", static_cast<int>(width), c.name.c_str(), c.sampleRate,
                 c.about.c_str(), opts.empty() ? "" : "; options:", opts.c_str());
  }
  return 0;
}

void usage(std::FILE* to) {
  std::fputs(
      "usage: vokcodec encode --codec NAME [options] INPUT OUTPUT\n"
      "       vokcodec decode --codec NAME [options] INPUT OUTPUT\n"
      "       vokcodec roundtrip --codec NAME [options] INPUT [-o OUTPUT]\n"
      "       vokcodec conformance [--filter TEXT] [DIR]\n"
      "       vokcodec list | --help | --version\n"
      "\n"
      "encode     speech to a bitstream        decode     a bitstream to speech\n"
      "roundtrip  encodes and decodes; prints SNR, segmental SNR, delay, real bit rate and\n"
      "           speed (-o: also writes the decoded speech at the input's rate)\n"
      "conformance  runs the bit-exactness checks against the official test vectors in DIR\n"
      "             (default: $VOKSC_TESTVECTORS, else the source tree's testvectors)\n"
      "list       the codecs with their sample rates and options\n"
      "\n"
      "INPUT and OUTPUT may be - (standard input or output).  Speech input is WAV when\n"
      "it starts with a RIFF/WAVE header (any rate and channel count, mixed down and\n"
      "converted to the codec's rate), otherwise headerless 16-bit little-endian PCM.\n"
      "Speech output is WAV when its name ends in .wav or with --wav, otherwise raw.\n"
      "  --rate HZ          raw input's sample rate (default: the codec's); decode: the\n"
      "                     output's sample rate (roundtrip -o: the input's)\n"
      "  --channels N       raw input's interleaved channels (mixed down)\n"
      "  --format F         bitstream: itu = ITU test-sequence layout (default), rtp = RTP\n"
      "                     payloads; amr-nb also storage (.amr files), rtp-be, rtp-oa\n"
      "  --rate-file FILE   per-frame bit rates (one 16-bit word per frame)\n"
      "  --wav              write the speech output as WAV whatever its name\n"
      "  --progress         show progress also when stderr is not a terminal\n"
      "  -q, --quiet        no progress, no notes\n"
      "  --KEY VALUE        the codec's own options, as 'vokcodec list' shows them\n"
      "                     (--bitrate, --mode, --dtx, --law, ...; a 0|1 option alone = 1, or followed by 0 or 1)\n",
      to);
}

}  // namespace

int runTool(const Registry& reg, const std::vector<std::string>& args, const ToolStreams& io) {
  try {
    ToolArgs a;
    std::string err;
    if (!parseToolArgs(reg, args, a, err)) fail(err);
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
