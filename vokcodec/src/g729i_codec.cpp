// G.729 Annex I (the integrated coder) in the codec registry: whole-stream
// encode/decode in the ITU serial format with frames of mixed sizes, the
// rate selection (--rate or a per-frame --rate-file), DTX, and the
// conformance checks against the official vectors.
#include <string>
#include <vector>

#include "g729_serial.h"
#include "registry.h"
#include "vokcodec.h"

namespace vokc {

namespace {

constexpr int kFrame = 80;

struct Memory {
  std::vector<unsigned char> bytes;
  void* get() { return bytes.data(); }
};

bool checkFormat(const Options& opt, std::string& err) {
  if (opt.format == "itu") return true;
  if (opt.format == "rtp")
    err = "g729i has no rtp layout (its frames change size from frame to frame); use --format itu";
  else
    err = "unknown bitstream format '" + opt.format + "' (itu)";
  return false;
}

// Rate of every frame: --rate (6.4, 8 or 11.8; default 8) or the rate file
// (one word per frame, 0 = 6.4, 1 = 8, 2 = 11.8 kbit/s).  When the file is
// shorter than the input its last rate continues; an empty file is an error.
bool frameRates(const Options& opt, std::size_t frames, std::vector<int>& rates, std::string& err) {
  rates.assign(frames, vokcG729IRate80);
  if (!opt.rateFile.empty()) {
    if (!opt.rate.empty()) {
      err = "give either --rate or --rate-file, not both";
      return false;
    }
    std::vector<int16_t> words;
    if (!readRateFile(opt.rateFile, words, err)) return false;
    if (words.empty()) {
      err = opt.rateFile + ": empty rate file";
      return false;
    }
    for (std::size_t f = 0; f < words.size() && f < frames; ++f)
      if (words[f] < 0 || words[f] > 2) {
        err = opt.rateFile + ": rate " + std::to_string(words[f]) + " at frame " + std::to_string(f) +
              " (0 = 6.4, 1 = 8, 2 = 11.8 kbit/s)";
        return false;
      }
    for (std::size_t f = 0; f < frames; ++f) rates[f] = words[f < words.size() ? f : words.size() - 1];
    return true;
  }
  if (opt.rate.empty() || opt.rate == "8") return true;
  int r;
  if (opt.rate == "6.4")
    r = vokcG729IRate64;
  else if (opt.rate == "11.8")
    r = vokcG729IRate118;
  else {
    err = "unsupported rate '" + opt.rate + "' for g729i (6.4, 8 or 11.8)";
    return false;
  }
  rates.assign(frames, r);
  return true;
}

bool encodeStream(const std::vector<int16_t>& pcm, const Options& opt, std::vector<uint8_t>& out,
                  std::string& err) {
  if (!checkFormat(opt, err)) return false;
  const std::size_t frames = pcm.size() / kFrame;
  std::vector<int> rates;
  if (!frameRates(opt, frames, rates, err)) return false;
  int size = 0;
  vokcG729IEncoderGetSize(&size);
  Memory m{std::vector<unsigned char>(static_cast<std::size_t>(size))};
  if (vokcG729IEncoderInit(m.get(), opt.dtx ? 1 : 0) != vokOk) {
    err = "encoder initialisation failed";
    return false;
  }
  out.clear();
  out.reserve(frames * 240);
  for (std::size_t f = 0; f < frames; ++f) {
    Vok8u bits[118];
    int n = 0;
    if (vokcG729IEncode(m.get(), &pcm[f * kFrame], rates[f], bits, &n) != vokOk) {
      err = "encoder failed at frame " + std::to_string(f);
      return false;
    }
    writeSerialFrame(out, bits, n);
    if (opt.progress && (f & 255) == 0) opt.progress(double(f) / double(frames));
  }
  return true;
}

bool decodeStream(const std::vector<uint8_t>& in, const Options& opt, std::vector<int16_t>& pcm, std::string& err) {
  if (!checkFormat(opt, err)) return false;
  std::vector<SerialFrame> frames;
  if (!readSerialFrames(in, {0, 15, 16, 64, 80, 118}, frames, err)) return false;
  int size = 0;
  vokcG729IDecoderGetSize(&size);
  Memory m{std::vector<unsigned char>(static_cast<std::size_t>(size))};
  if (vokcG729IDecoderInit(m.get()) != vokOk) {
    err = "decoder initialisation failed";
    return false;
  }
  pcm.assign(frames.size() * kFrame, 0);
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const SerialFrame& fr = frames[f];
    vokcG729IDecode(m.get(), fr.bits.data(), static_cast<int>(fr.bits.size()), fr.erased ? 1 : 0,
                    &pcm[f * kFrame]);
    if (opt.progress && (f & 255) == 0) opt.progress(double(f) / double(frames.size()));
  }
  return true;
}

// Frame-by-frame comparison of two serial streams with frames of any size.
std::string compareSerial(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
  std::vector<SerialFrame> a, b;
  std::string err;
  if (!readSerialFrames(got, {0, 15, 16, 64, 80, 118}, a, err)) return "output: " + err;
  if (!readSerialFrames(want, {0, 15, 16, 64, 80, 118}, b, err)) return "expected: " + err;
  for (std::size_t f = 0; f < a.size() && f < b.size(); ++f)
    if (a[f].bits != b[f].bits || a[f].erased != b[f].erased)
      return "first differing frame " + std::to_string(f) + " (" + std::to_string(a[f].bits.size()) + " bits, expected " +
             std::to_string(b[f].bits.size()) + ")";
  if (a.size() != b.size())
    return "frame count " + std::to_string(a.size()) + ", expected " + std::to_string(b.size());
  return "";
}

struct Run {
  const char* suffix;  // expected bitstream; output is 'o' + suffix minus 'b'
  bool dtx;
  const char* rate;      // --rate, or nullptr
  const char* rateFile;  // rate file in the vector folder, or nullptr
};

void addChecks(Registry& r) {
  static const Run kRuns[] = {{"b10", true, "6.4", nullptr},
                              {"b12", true, "11.8", nullptr},
                              {"br02", false, nullptr, "rate02"},
                              {"br012", false, nullptr, "rate012"}};
  for (const char* input : {"dm19", "speech"}) {
    const std::string in = input;
    for (const Run& run : kRuns) {
      const std::string suffix = run.suffix;
      const Run cfg = run;
      r.checks.push_back({"g729i encode " + in + " " + suffix, [=](const std::string& root) -> std::string {
        const std::string dir = root + "/g729/annexI/";
        std::vector<int16_t> pcm;
        std::vector<uint8_t> want;
        if (!readFileWords(dir + (in == "dm19" ? "dm19.8k" : "speech"), pcm)) return "missing " + dir + in;
        if (!readFileBytes(dir + in + "." + suffix, want)) return "missing " + dir + in + "." + suffix;
        Options o;
        o.dtx = cfg.dtx;
        if (cfg.rate) o.rate = cfg.rate;
        if (cfg.rateFile) o.rateFile = dir + cfg.rateFile;
        std::vector<uint8_t> got;
        std::string err;
        if (!encodeStream(pcm, o, got, err)) return err;
        return compareSerial(got, want);
      }});
      r.checks.push_back({"g729i decode " + in + " " + suffix, [=](const std::string& root) -> std::string {
        const std::string dir = root + "/g729/annexI/";
        const std::string outName = in + ".o" + suffix.substr(1);
        std::vector<uint8_t> bits;
        std::vector<int16_t> want;
        if (!readFileBytes(dir + in + "." + suffix, bits)) return "missing " + dir + in + "." + suffix;
        if (!readFileWords(dir + outName, want)) return "missing " + dir + outName;
        std::vector<int16_t> got;
        std::string err;
        if (!decodeStream(bits, Options{}, got, err)) return err;
        return firstDifference(got, want, kFrame, "frame");
      }});
    }
  }
}

}  // namespace

void addG729ICodecs(Registry& r) {
  Codec c;
  c.name = "g729i";
  c.sampleRate = 8000;
  c.about = "ITU-T G.729 Annex I, 6.4/8/11.8 kbit/s with optional DTX (--rate, --rate-file, --dtx)";
  c.encode = [](const std::vector<int16_t>& pcm, const Options& o, std::vector<uint8_t>& bits, std::string& err) {
    return encodeStream(pcm, o, bits, err);
  };
  c.decode = [](const std::vector<uint8_t>& bits, const Options& o, std::vector<int16_t>& pcm, std::string& err) {
    return decodeStream(bits, o, pcm, err);
  };
  r.codecs.push_back(c);
  addChecks(r);
}

}  // namespace vokc
