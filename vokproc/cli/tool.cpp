// The vokproc tool's command line and its file commands: aec, alc, tone.
#include "tool.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "audio_io.h"
#include "vokproc.h"

namespace vokp {

void fail(const std::string& message) { throw Failure{message}; }

namespace {

std::string oneLine(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// ---- The command line -------------------------------------------------------------

enum Command { kAec = 1, kNr = 2, kAlc = 4, kTone = 8, kChain = 16, kG168 = 32 };

struct Option {
  const char* name;
  bool takesValue;
  int applies;  // Command bits
};
const Option kOptions[] = {
    {"--far", true, kAec | kChain},     {"--near", true, kAec | kChain},     {"--tail", true, kAec | kChain},
    {"--bank", true, kAec | kChain},    {"--fixed", false, kAec | kChain},   {"--delay", true, kAec | kChain},
    {"--suppress", false, kAec | kChain}, {"--target", true, kAlc | kChain}, {"--max-gain", true, kAlc | kChain},
    {"--level", true, kNr | kChain},    {"--rate", true, kAec | kNr | kAlc | kTone | kChain},
    {"--wav", false, kAec | kNr | kAlc | kChain},
};

struct Args {
  std::string command;
  int bit = 0;
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> files;
  bool has(const std::string& name) const {
    for (const auto& o : options)
      if (o.first == name) return true;
    return false;
  }
  std::string value(const std::string& name, const std::string& otherwise = "") const {
    std::string v = otherwise;
    for (const auto& o : options)
      if (o.first == name) v = o.second;
    return v;
  }
};

int commandBit(const std::string& c) {
  const char* names[] = {"aec", "nr", "alc", "tone", "chain", "g168"};
  for (int i = 0; i < 6; ++i)
    if (c == names[i]) return 1 << i;
  return 0;
}

Args parse(const std::vector<std::string>& args) {
  Args a;
  bool optionsEnd = false;
  std::vector<std::pair<std::string, std::string>> given;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& s = args[i];
    if (!optionsEnd && s == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && (s == "--help" || s == "-h" || s == "--version")) {
      a.command = s == "--version" ? "version" : "help";
      return a;
    } else if (!optionsEnd && s.size() > 1 && s[0] == '-' && s != "-") {
      const std::size_t eq = s.find('=');
      const std::string name = s.substr(0, eq);
      const Option* o = nullptr;
      for (const auto& k : kOptions)
        if (name == k.name) o = &k;
      if (!o) fail("unknown option " + name + " (vokproc --help lists them)");
      std::string value;
      if (o->takesValue) {
        if (eq != std::string::npos) {
          value = s.substr(eq + 1);
        } else {
          if (i + 1 >= args.size()) fail(name + " needs a value");
          value = args[++i];
        }
      } else if (eq != std::string::npos) {
        fail(name + " takes no value");
      }
      given.push_back({name, value});
    } else if (a.command.empty()) {
      a.command = s;
      a.bit = commandBit(s);
      if (!a.bit) fail("unknown command '" + s + "' (aec, nr, alc, tone, chain, g168; vokproc --help)");
    } else {
      a.files.push_back(s);
    }
  }
  if (a.command.empty()) fail("no command given (aec, nr, alc, tone, chain, g168; vokproc --help)");
  for (const auto& g : given) {
    for (const auto& k : kOptions)
      if (g.first == k.name && !(k.applies & a.bit)) fail(g.first + " does not apply to " + a.command);
    a.options.push_back(g);
  }
  const std::size_t want = a.bit & (kAec | kChain | kTone) ? 1 : a.bit & (kNr | kAlc) ? 2 : 0;
  if (a.files.size() != want)
    fail(a.command + " takes " + (want == 0 ? "no file" : want == 1 ? "one file" : "two files (input, output)") +
         ", " + std::to_string(a.files.size()) + " given");
  if (a.bit & (kAec | kChain))
    for (const char* name : {"--far", "--near"})
      if (!a.has(name)) fail(a.command + " needs " + name + " FILE");
  return a;
}

// A whole number within lo..hi, else a failure naming the option.
int number(const Args& a, const std::string& name, int lo, int hi, int otherwise) {
  if (!a.has(name)) return otherwise;
  const std::string text = a.value(name);
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || errno == ERANGE || v < lo || v > hi)
    fail(name + " " + text + ": not a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
  return static_cast<int>(v);
}

double decimal(const Args& a, const std::string& name, double lo, double hi, double otherwise) {
  if (!a.has(name)) return otherwise;
  const std::string text = a.value(name);
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end || errno == ERANGE || !(v >= lo && v <= hi))
    fail(name + " " + text + ": not a number from " + std::to_string(int(lo)) + " to " + std::to_string(int(hi)));
  return v;
}

void check(VokResult s, const std::string& what) {
  if (s < 0) fail(what + " failed (status " + std::to_string(s) + ")");
}

// ---- Files ------------------------------------------------------------------------

// An input at the processing rate: --rate, else the first WAV input's rate
// (8000 below 16000 Hz, else 16000), else 8000 for raw input.
class Input {
 public:
  void open(const Args& a, const std::string& path, int& rate) {
    vokio::RawLayout raw;
    raw.rate = a.has("--rate") ? rate : 0;
    std::string err;
    if (!reader_.open(path, raw, rate > 0 ? rate : 8000, err)) fail(err);
    if (rate == 0) {
      rate = reader_.isWav() && reader_.inputRate() >= 16000 ? 16000 : 8000;
      if (!reader_.setRate(rate, err)) fail(err);
    }
  }
  // A frame, padded with silence; the count of real samples (0 at the end).
  std::size_t frame(int16_t* dst, std::size_t n) {
    std::string err;
    const std::size_t got = ended_ ? 0 : reader_.read(dst, n, err);
    if (!err.empty()) fail(err);
    if (got < n) ended_ = true;
    std::fill(dst + got, dst + n, int16_t{0});
    return got;
  }
  const vokio::InputFile& file() const { return reader_.file(); }

 private:
  vokio::AudioReader reader_;
  bool ended_ = false;
};

// --rate: 8000 or 16000; 0 when absent (the first input decides).
int rateOption(const Args& a) {
  const int rate = number(a, "--rate", 8000, 16000, 0);
  if (rate != 0 && rate != 8000 && rate != 16000) fail("--rate " + a.value("--rate") + ": 8000 or 16000");
  return rate;
}

// The near-end and far-end inputs of the echo commands, at one rate.
void openEnds(const Args& a, int& rate, Input& near, Input& far) {
  near.open(a, a.value("--near"), rate);
  far.open(a, a.value("--far"), rate);
}

class Output {
 public:
  void open(const Args& a, const std::string& path, int rate, const std::vector<const Input*>& inputs) {
    for (const Input* in : inputs)
      if (vokio::sameFile(in->file(), path)) fail(path + ": the output is an input file");
    std::string err;
    if (!writer_.open(path, a.has("--wav") || vokio::wavName(path), rate, rate, err)) fail(err);
  }
  void write(const int16_t* pcm, std::size_t n) {
    std::string err;
    if (n && !writer_.write(pcm, n, err)) fail(err);
  }
  void finish() {
    std::string err;
    if (!writer_.finish(err)) fail(err);
  }

 private:
  vokio::AudioWriter writer_;
};

// Caller memory for a vokproc object (8-byte aligned; any alignment would do).
struct Memory {
  explicit Memory(int bytes) : words(static_cast<std::size_t>(bytes) / 8 + 1) {}
  void* get() { return words.data(); }
  int size() const { return static_cast<int>(words.size() * 8); }
  std::vector<uint64_t> words;
};

double seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double powerDb(double sumSquares, double count) {
  return count > 0 && sumSquares > 0 ? 10 * std::log10(sumSquares / count / (32768.0 * 32768.0)) : -100.0;
}

// ---- aec --------------------------------------------------------------------------

struct EchoSetup {
  VokpEchoConfig config;
  std::unique_ptr<Memory> memory;
  VokpEcho* echo = nullptr;
  int latency = 0;
};

void openEcho(const Args& a, int rate, EchoSetup& s) {
  check(vokpEchoConfigDefault(&s.config, rate), "vokpEchoConfigDefault");
  const std::string bank = a.value("--bank", "fullband");
  if (bank != "fullband" && bank != "subband") fail("--bank " + bank + ": fullband or subband");
  s.config.bank = bank == "subband" ? vokpBankSubband : vokpBankFullband;
  s.config.fixedPoint = a.has("--fixed");
  s.config.tailMs = number(a, "--tail", 1, 256, 64);
  s.config.delayMs = number(a, "--delay", 0, 500, 0);
  s.config.suppress = a.has("--suppress");
  int size = 0;
  check(vokpEchoGetSize(&s.config, &size), "vokpEchoGetSize");
  s.memory = std::make_unique<Memory>(size);
  check(vokpEchoInit(&s.config, s.memory->get(), s.memory->size(), &s.echo), "vokpEchoInit");
  check(vokpEchoLatency(s.echo, &s.latency), "vokpEchoLatency");
}

// Echo figures gathered frame by frame: ERL from the far-end and near-end
// powers, ERLE as near-end input power over output power, both over the
// frames in which the far end is active (above -50 dBFS).
class EchoMeter {
 public:
  explicit EchoMeter(int rate) : rate_(rate) {}
  void add(const int16_t* far, const int16_t* near, const int16_t* out, int n) {
    double pf = 0, pn = 0, po = 0;
    for (int i = 0; i < n; ++i) pf += double(far[i]) * far[i], pn += double(near[i]) * near[i], po += double(out[i]) * out[i];
    ++frames_;
    if (powerDb(pf, n) < -50) return;
    far_ += pf, near_ += pn, out_ += po;
    secNear_ += pn, secOut_ += po;
    blockNear_ += pn, blockOut_ += po;
    if (frames_ % 10 == 0) {  // 100 ms blocks: the first reaching 20 dB
      if (t20_ < 0 && blockOut_ > 0 && 10 * std::log10(blockNear_ / blockOut_) >= 20) t20_ = frames_ / 100.0;
      if (t20_ < 0 && blockOut_ == 0 && blockNear_ > 0) t20_ = frames_ / 100.0;
      blockNear_ = blockOut_ = 0;
    }
    if (frames_ % 100 == 0) {
      perSecond_.push_back(secOut_ > 0 ? 10 * std::log10(secNear_ / secOut_) : 99.0);
      secNear_ = secOut_ = 0;
    }
  }
  void report(std::FILE* out, const VokpEchoStatus& st, double speed) const {
    if (far_ == 0) {
      std::fprintf(out, "far end never active (above -50 dBFS): no echo figures\n");
    } else {
      std::fprintf(out, "ERL  %.1f dB (far-end over near-end power while the far end is active)\n",
                   near_ > 0 ? 10 * std::log10(far_ / near_) : 99.0);
      std::fprintf(out, "ERLE %.1f dB overall (near-end input over output power, far end active)\n",
                   out_ > 0 ? 10 * std::log10(near_ / out_) : 99.0);
      std::fprintf(out, "ERLE per second:");
      for (double v : perSecond_) std::fprintf(out, " %.1f", v);
      std::fprintf(out, "\n");
      if (t20_ >= 0)
        std::fprintf(out, "time to 20 dB ERLE: %.1f s\n", t20_);
      else
        std::fprintf(out, "time to 20 dB ERLE: not reached\n");
    }
    std::fprintf(out, "controller: backup filter saved in %lld and restored in %lld of %lld frames\n", st.saves,
                 st.restores, st.frames);
    std::fprintf(out, "speed: %.1f x real time\n", speed);
  }

 private:
  int rate_;
  long long frames_ = 0;
  double far_ = 0, near_ = 0, out_ = 0, secNear_ = 0, secOut_ = 0, blockNear_ = 0, blockOut_ = 0, t20_ = -1;
  std::vector<double> perSecond_;
};

// Runs the canceller over the files; the output is aligned with the near
// end (the canceller's latency dropped at the start and flushed at the end).
int aec(const Args& a, std::FILE* out) {
  int rate = rateOption(a);
  Input near, far;
  openEnds(a, rate, near, far);
  EchoSetup s;
  openEcho(a, rate, s);
  Output o;
  o.open(a, a.files[0], rate, {&near, &far});
  const int n = rate / 100, lag = s.latency;
  std::vector<int16_t> x(n), y(n), e(n), nearThen(std::size_t(lag) + n);
  EchoMeter meter(rate);
  long long inTotal = 0, processed = 0;
  bool ended = false;
  double busy = 0;
  for (;;) {
    const std::size_t got = near.frame(y.data(), n);
    far.frame(x.data(), n);
    inTotal += static_cast<long long>(got);
    ended = ended || got < std::size_t(n);
    if (ended && processed >= inTotal + lag) break;
    const auto t0 = std::chrono::steady_clock::now();
    check(vokpEchoProcess(s.echo, x.data(), y.data(), e.data()), "vokpEchoProcess");
    busy += seconds(t0);
    std::copy(y.begin(), y.end(), nearThen.begin() + lag);  // the near end `lag` samples before the output
    meter.add(x.data(), nearThen.data(), e.data(), n);
    std::copy(nearThen.begin() + n, nearThen.end(), nearThen.begin());
    const long long from = std::max(processed, static_cast<long long>(lag));
    const long long to = std::min(processed + n, inTotal + lag);
    if (to > from) o.write(e.data() + (from - processed), static_cast<std::size_t>(to - from));
    processed += n;
  }
  if (inTotal == 0) fail(a.value("--near") + ": no audio samples");
  o.finish();
  VokpEchoStatus st;
  check(vokpEchoGetStatus(s.echo, &st), "vokpEchoGetStatus");
  const char* bank = s.config.bank == vokpBankSubband ? "subband" : "full-band";
  std::fprintf(out, "%d Hz, %s %s canceller, tail %d ms (%d %s), bulk delay %d ms, residual suppression %s\n", rate,
               bank, s.config.fixedPoint ? "fixed-point" : "float", s.config.tailMs, st.taps,
               s.config.bank == vokpBankSubband ? "segments per subband" : "taps", s.config.delayMs,
               s.config.suppress ? "on" : "off");
  meter.report(out, st, busy > 0 ? double(inTotal) / rate / busy : 0.0);
  return 0;
}

// ---- alc ---------------------------------------------------------------------------

int alc(const Args& a, std::FILE* out) {
  int rate = rateOption(a);
  const double target = decimal(a, "--target", -40, -6, -26), maxGain = decimal(a, "--max-gain", 0, 30, 11.6);
  Input in;
  in.open(a, a.files[0], rate);
  int size = 0;
  check(vokpLevelGetSize(&size), "vokpLevelGetSize");
  Memory mem(size);
  VokpLevel* level = nullptr;
  check(vokpLevelInit(rate, float(target), float(maxGain), mem.get(), mem.size(), &level), "vokpLevelInit");
  Output o;
  o.open(a, a.files[1], rate, {&in});
  const int n = rate / 100;
  std::vector<int16_t> x(n), y(n), all, result;
  double busy = 0;
  for (std::size_t got; (got = in.frame(x.data(), n)) > 0;) {
    const auto t0 = std::chrono::steady_clock::now();
    check(vokpLevelProcess(level, x.data(), y.data()), "vokpLevelProcess");
    busy += seconds(t0);
    o.write(y.data(), got);
    all.insert(all.end(), x.begin(), x.begin() + static_cast<std::ptrdiff_t>(got));
    result.insert(result.end(), y.begin(), y.begin() + static_cast<std::ptrdiff_t>(got));
  }
  if (all.empty()) fail(a.files[0] + ": no audio samples");
  o.finish();
  std::fprintf(out, "input active level %.1f dBov, output active level %.1f dBov (target %.1f dBov, gain at most %.1f dB)\n",
               activeLevelDbov(all, rate), activeLevelDbov(result, rate), target, maxGain);
  std::fprintf(out, "speed: %.1f x real time\n", busy > 0 ? double(all.size()) / rate / busy : 0.0);
  return 0;
}

// ---- tone --------------------------------------------------------------------------

int tone(const Args& a, std::FILE* out) {
  int rate = rateOption(a);
  Input in;
  in.open(a, a.files[0], rate);
  int size = 0;
  check(vokpToneGetSize(&size), "vokpToneGetSize");
  Memory mem(size);
  VokpTone* t = nullptr;
  check(vokpToneInit(rate, mem.get(), mem.size(), &t), "vokpToneInit");
  const int n = rate / 100;
  std::vector<int16_t> x(n);
  long long samples = 0, found = 0;
  for (std::size_t got; (got = in.frame(x.data(), n)) > 0; samples += static_cast<long long>(got)) {
    int detected = 0;
    check(vokpToneProcess(t, x.data(), &detected), "vokpToneProcess");
    if (detected) {
      ++found;
      std::fprintf(out, "answer tone (2100 Hz with phase reversals) at %.2f s\n", double(samples + got) / rate);
    }
  }
  if (samples == 0) fail(a.files[0] + ": no audio samples");
  std::fprintf(out, "%lld detection%s in %.2f s\n", found, found == 1 ? "" : "s", double(samples) / rate);
  return 0;
}

// ---- nr ----------------------------------------------------------------------------

// Writes what a filter with latency `lag` makes of an input, aligned with
// it (the first `lag` samples dropped, the end flushed with silence).
class Aligned {
 public:
  Aligned(Output& o, int lag) : o_(o), lag_(lag) {}
  void add(const int16_t* y, int n, long long inputSoFar) {
    const long long from = std::max(done_, static_cast<long long>(lag_)), to = std::min(done_ + n, inputSoFar + lag_);
    if (to > from) {
      o_.write(y + (from - done_), static_cast<std::size_t>(to - from));
      kept_.insert(kept_.end(), y + (from - done_), y + (to - done_));
    }
    done_ += n;
  }
  bool complete(long long inputTotal) const { return done_ >= inputTotal + lag_; }
  const std::vector<int16_t>& kept() const { return kept_; }

 private:
  Output& o_;
  int lag_;
  long long done_ = 0;
  std::vector<int16_t> kept_;
};

int nr(const Args& a, std::FILE* out) {
  int rate = rateOption(a);
  const int level = number(a, "--level", 0, 5, -1);
  Input in;
  in.open(a, a.files[0], rate);
  int size = 0, lag = 0;
  check(vokpNoiseGetSize(rate, &size), "vokpNoiseGetSize");
  Memory mem(size);
  VokpNoise* noise = nullptr;
  check(vokpNoiseInit(rate, level, mem.get(), mem.size(), &noise), "vokpNoiseInit");
  check(vokpNoiseLatency(noise, &lag), "vokpNoiseLatency");
  Output o;
  o.open(a, a.files[1], rate, {&in});
  Aligned result(o, lag);
  const int n = rate / 100;
  std::vector<int16_t> x(n), y(n), all;
  std::vector<char> pauses;
  long long total = 0;
  bool ended = false;
  double busy = 0;
  for (;;) {
    const std::size_t got = in.frame(x.data(), n);
    total += static_cast<long long>(got);
    ended = ended || got < std::size_t(n);
    if (ended && result.complete(total)) break;
    int pause = 0;
    const auto t0 = std::chrono::steady_clock::now();
    check(vokpNoiseProcess(noise, x.data(), y.data(), &pause), "vokpNoiseProcess");
    busy += seconds(t0);
    if (got) all.insert(all.end(), x.begin(), x.begin() + static_cast<std::ptrdiff_t>(got)), pauses.push_back(char(pause));
    result.add(y.data(), n, total);
  }
  if (total == 0) fail(a.files[0] + ": no audio samples");
  o.finish();
  // Attenuation over the frames the detector marked as noise.
  double pin = 0, pout = 0;
  long long marked = 0;
  const auto& y2 = result.kept();
  for (std::size_t f = 0; f < pauses.size(); ++f) {
    if (!pauses[f]) continue;
    ++marked;
    for (std::size_t i = f * n; i < (f + 1) * std::size_t(n) && i < all.size(); ++i)
      pin += double(all[i]) * all[i], pout += double(y2[i]) * y2[i];
  }
  std::fprintf(out, "noise filter level %s; %lld of %zu frames marked as pauses\n",
               level < 0 ? "chosen by the filter" : std::to_string(level).c_str(), marked, pauses.size());
  if (marked)
    std::fprintf(out, "attenuation in pauses: %.1f dB (input %.1f dBFS, output %.1f dBFS)\n",
                 pout > 0 ? 10 * std::log10(pin / pout) : 99.0, powerDb(pin, double(marked) * n), powerDb(pout, double(marked) * n));
  std::fprintf(out, "speech level: input %.1f dBov, output %.1f dBov\n", activeLevelDbov(all, rate), activeLevelDbov(y2, rate));
  std::fprintf(out, "speed: %.1f x real time\n", busy > 0 ? double(total) / rate / busy : 0.0);
  return 0;
}

// ---- chain -------------------------------------------------------------------------

int chain(const Args& a, std::FILE* out) {
  int rate = rateOption(a);
  Input near, far;
  openEnds(a, rate, near, far);
  VokpChainConfig c;
  check(vokpChainConfigDefault(&c, rate), "vokpChainConfigDefault");
  EchoSetup s;
  openEcho(a, rate, s);  // checks and fills the canceller's part
  c.echo = s.config;
  c.noiseLevel = number(a, "--level", 0, 5, -1);
  c.targetDbov = float(decimal(a, "--target", -40, -6, -26));
  c.maxGainDb = float(decimal(a, "--max-gain", 0, 30, 11.6));
  int size = 0, lag = 0;
  check(vokpChainGetSize(&c, &size), "vokpChainGetSize");
  Memory mem(size);
  VokpChain* ch = nullptr;
  check(vokpChainInit(&c, mem.get(), mem.size(), &ch), "vokpChainInit");
  check(vokpChainLatency(ch, &lag), "vokpChainLatency");
  Output o;
  o.open(a, a.files[0], rate, {&near, &far});
  Aligned result(o, lag);
  const int n = rate / 100;
  std::vector<int16_t> x(n), y(n), e(n), all;
  long long total = 0;
  bool ended = false;
  double busy = 0;
  for (;;) {
    const std::size_t got = near.frame(y.data(), n);
    far.frame(x.data(), n);
    total += static_cast<long long>(got);
    ended = ended || got < std::size_t(n);
    if (ended && result.complete(total)) break;
    const auto t0 = std::chrono::steady_clock::now();
    check(vokpChainProcess(ch, x.data(), y.data(), e.data()), "vokpChainProcess");
    busy += seconds(t0);
    all.insert(all.end(), y.begin(), y.begin() + static_cast<std::ptrdiff_t>(got));
    result.add(e.data(), n, total);
  }
  if (total == 0) fail(a.value("--near") + ": no audio samples");
  o.finish();
  const VokpEcho* echo = nullptr;
  VokpEchoStatus st;
  check(vokpChainEcho(ch, &echo), "vokpChainEcho");
  check(vokpEchoGetStatus(echo, &st), "vokpEchoGetStatus");
  std::fprintf(out, "%d Hz uplink: %s %s echo canceller (tail %d ms), noise filter, level control to %.1f dBov\n", rate,
               c.echo.bank == vokpBankSubband ? "subband" : "full-band", c.echo.fixedPoint ? "fixed-point" : "float",
               c.echo.tailMs, c.targetDbov);
  std::fprintf(out, "controller: backup filter saved in %lld and restored in %lld of %lld frames\n", st.saves,
               st.restores, st.frames);
  std::fprintf(out, "near-end active level %.1f dBov, output active level %.1f dBov\n", activeLevelDbov(all, rate),
               activeLevelDbov(result.kept(), rate));
  std::fprintf(out, "speed: %.1f x real time\n", busy > 0 ? double(total) / rate / busy : 0.0);
  return 0;
}

void usage(std::FILE* to) {
  std::fputs(
      "usage: vokproc aec --far FAR --near NEAR [options] OUTPUT\n"
      "       vokproc nr [--level N] INPUT OUTPUT\n"
      "       vokproc alc [--target DBOV] [--max-gain DB] INPUT OUTPUT\n"
      "       vokproc chain --far FAR --near NEAR [aec, nr and alc options] OUTPUT\n"
      "       vokproc tone INPUT\n"
      "       vokproc g168\n"
      "       vokproc --help | --version\n"
      "\n"
      "aec    removes the echo of FAR (loudspeaker) from NEAR (microphone); prints ERL, ERLE\n"
      "       per second, time to 20 dB, the controller's saves and restores, speed\n"
      "         --tail MS           echo tail the filter spans, 1..256 (default 64)\n"
      "         --bank B            fullband (default) or subband\n"
      "         --fixed             16-bit fixed-point arithmetic (default: float)\n"
      "         --delay MS          bulk delay of the far end ahead of the echo, 0..500\n"
      "         --suppress          attenuate residual echo with the controller's gain\n"
      "nr     noise filter: stationary noise off speech; --level 0..5 (default: chosen at\n"
      "       the first pause; 4 the strongest); prints the attenuation in pauses\n"
      "alc    level control (ITU-T G.169): speech towards --target (default -26 dBov), gain\n"
      "       at most --max-gain (default 11.6 dB); prints input and output active levels\n"
      "chain  the uplink: aec, then nr, then alc\n"
      "tone   prints the times of detected 2100 Hz answer tones with phase reversals\n"
      "g168   echo-canceller self-test on the G.168 echo paths (white noise, path change,\n"
      "       double talk, tones; 8 and 16 kHz; full band and subband, float and fixed)\n"
      "\n"
      "Files may be - (standard input or output).  An input is WAV when it starts with a\n"
      "RIFF/WAVE header (any rate and channel count: mixed down and converted), else raw\n"
      "16-bit PCM.  Processing runs at 8000 or 16000 Hz: --rate HZ, else 16000 for a\n"
      "first WAV input at 16000 Hz or above, else 8000 (raw input: --rate gives its rate).\n"
      "The output is WAV when its name ends in .wav or with --wav, else raw.\n",
      to);
}

}  // namespace

int runTool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  try {
    const Args a = parse(args);
    if (a.command == "help") {
      usage(out);
      return 0;
    }
    if (a.command == "version") {
      const vokLibraryVersion* v = vokscGetLibVersion();
      std::fprintf(out, "vokproc 1.0 (voksc %s, %s)\n", v->versionText, v->name);
      return 0;
    }
    // With the audio on the standard output, the report goes to stderr.
    std::FILE* report = !a.files.empty() && a.files.back() == "-" && a.bit != kTone ? err : out;
    switch (a.bit) {
      case kAec: return aec(a, report);
      case kAlc: return alc(a, report);
      case kNr: return nr(a, report);
      case kChain: return chain(a, report);
      case kTone: return tone(a, out);
      case kG168: return runG168(out) ? 1 : 0;
    }
  } catch (const Failure& f) {
    std::fprintf(err, "vokproc: %s\n", oneLine(f.message).c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(err, "vokproc: out of memory\n");
  } catch (const std::exception& e) {
    std::fprintf(err, "vokproc: %s\n", oneLine(e.what()).c_str());
  }
  std::fflush(err);
  return 1;
}

// ---- Active level ------------------------------------------------------------------

double activeLevelDbov(const std::vector<int16_t>& pcm, int rate) {
  const std::size_t n = static_cast<std::size_t>(rate / 100);
  std::vector<double> power;
  for (std::size_t at = 0; at + n <= pcm.size(); at += n) {
    double s = 0;
    for (std::size_t i = at; i < at + n; ++i) s += double(pcm[i]) * pcm[i];
    power.push_back(s / double(n));
  }
  // The threshold falls in 0.25 dB steps from full scale until the active
  // frames' mean lies 15.9 dB above it (from above: a noise floor below
  // the speech must not stop it early).
  double level = -100;
  for (double c = 0; c >= -100; c -= 0.25) {
    const double threshold = 32768.0 * 32768.0 * std::pow(10.0, c / 10);
    double sum = 0;
    std::size_t count = 0;
    for (double p : power)
      if (p >= threshold) sum += p, ++count;
    if (count == 0) continue;
    level = 10 * std::log10(sum / double(count) / (32768.0 * 32768.0));
    if (level - c >= 15.9) break;
  }
  return level;
}

}  // namespace vokp
