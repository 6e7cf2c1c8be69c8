// G.729 Annex I (the integrated coder) in the codec registry: whole-stream
// encode/decode in the ITU serial format with frames of mixed sizes, the
// rate selection (--rate or a per-frame --rate-file), DTX, and the
// conformance checks against the official vectors.
#include <string>
#include <vector>

#include "g729_stream.h"

namespace vokc {

namespace {

constexpr int kFrame = 80;

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
  if (!opt.rateFile.empty()) return rateFileRates(opt, frames, 2, "0 = 6.4, 1 = 8, 2 = 11.8 kbit/s", false, rates, err);
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
  CoderMemory m(vokcG729IEncoderGetSize);
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
    reportProgress(opt, f, frames);
  }
  return true;
}

bool decodeStream(const std::vector<uint8_t>& in, const Options& opt, std::vector<int16_t>& pcm, std::string& err) {
  if (!checkFormat(opt, err)) return false;
  std::vector<SerialFrame> frames;
  if (!readSerialFrames(in, {0, 15, 16, 64, 80, 118}, frames, err)) return false;
  CoderMemory m(vokcG729IDecoderGetSize);
  if (vokcG729IDecoderInit(m.get()) != vokOk) {
    err = "decoder initialisation failed";
    return false;
  }
  pcm.assign(frames.size() * kFrame, 0);
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const SerialFrame& fr = frames[f];
    vokcG729IDecode(m.get(), fr.bits.data(), static_cast<int>(fr.bits.size()), fr.erased ? 1 : 0,
                    &pcm[f * kFrame]);
    reportProgress(opt, f, frames.size());
  }
  return true;
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
      Options o;
      o.dtx = run.dtx;
      if (run.rate) o.rate = run.rate;
      const std::string pcmFile = in == "dm19" ? "dm19.8k" : "speech";
      r.checks.push_back(encoderCheck("g729i encode " + in + " " + suffix, "annexI", pcmFile, in + "." + suffix, o,
                                      run.rateFile ? run.rateFile : "", encodeStream));
      r.checks.push_back(decoderCheck("g729i decode " + in + " " + suffix, "annexI", in + "." + suffix,
                                      in + ".o" + suffix.substr(1), Options{}, decodeStream));
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
