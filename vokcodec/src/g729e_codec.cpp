// G.729 Annex E (11.8 kbit/s, with frame-by-frame switching to 8 kbit/s) in
// the codec registry: whole-stream encode/decode in the ITU serial format
// and the RTP payload layout, and the conformance checks.
//
// Rate selection: --rate 8 or 11.8 (default 11.8) for the whole stream, or
// --rate-file with one 16-bit word per frame (0 = 8 kbit/s, 1 = 11.8
// kbit/s).  A rate file shorter than the input keeps its last rate for the
// remaining frames; an empty one, a value other than 0 or 1, or both
// options at once are errors.  The decoder takes each frame's rate from its
// bit count (80 or 118); a frame whose bit words (but the last two) hold a
// 0 was lost on the channel.  RTP: 10 octets per 8 kbit/s frame, 15 per 11.8
// kbit/s frame (118 bits, zero-padded); the payload carries no rate, so RTP
// needs a fixed --rate on both sides and a rate file is refused.
#include "g729e_codec.h"

#include <cctype>
#include <string>
#include <vector>

#include "g729_serial.h"
#include "registry.h"
#include "vokcodec.h"

namespace vokc {

namespace {

constexpr int kFrame = 80;
constexpr uint16_t kBit0Word = 0x007F;

struct Memory {
  std::vector<unsigned char> bytes;
  void* get() { return bytes.data(); }
};

int frameBits(int rate) { return rate == vokcG729ERate8 ? 80 : 118; }
int frameOctets(int rate) { return (frameBits(rate) + 7) / 8; }

bool fixedRate(const Options& opt, int& rate, std::string& err) {
  if (opt.rate.empty() || opt.rate == "11.8") {
    rate = vokcG729ERate118;
  } else if (opt.rate == "8") {
    rate = vokcG729ERate8;
  } else {
    err = "unknown rate '" + opt.rate + "' for g729e (8 or 11.8)";
    return false;
  }
  return true;
}

bool checkFormat(const Options& opt, std::string& err) {
  if (opt.format == "itu" || opt.format == "rtp") return true;
  err = "unknown bitstream format '" + opt.format + "' (itu or rtp)";
  return false;
}

}  // namespace

bool g729eFrameRates(const Options& opt, std::size_t frames, std::vector<int>& rates, std::string& err) {
  rates.clear();
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
    for (std::size_t f = 0; f < words.size(); ++f) {
      if (words[f] != 0 && words[f] != 1) {
        err = opt.rateFile + ": rate " + std::to_string(words[f]) + " at frame " + std::to_string(f) +
              " (0 = 8 kbit/s, 1 = 11.8 kbit/s)";
        return false;
      }
    }
    for (std::size_t f = 0; f < frames; ++f) rates.push_back(f < words.size() ? words[f] : words.back());
    return true;
  }
  int rate = 0;
  if (!fixedRate(opt, rate, err)) return false;
  rates.assign(frames, rate);
  return true;
}

bool g729eEncode(const std::vector<int16_t>& pcm, const Options& opt, std::vector<uint8_t>& out, std::string& err) {
  if (!checkFormat(opt, err)) return false;
  if (opt.format == "rtp" && !opt.rateFile.empty()) {
    err = "the RTP layout carries no rate: use a fixed --rate with --format rtp";
    return false;
  }
  const std::size_t frames = pcm.size() / kFrame;
  std::vector<int> rates;
  if (!g729eFrameRates(opt, frames, rates, err)) return false;
  int size = 0;
  vokcG729EEncoderGetSize(&size);
  Memory m{std::vector<unsigned char>(static_cast<std::size_t>(size))};
  if (vokcG729EEncoderInit(m.get()) != vokOk) {
    err = "encoder initialisation failed";
    return false;
  }
  out.clear();
  out.reserve(frames * (opt.format == "itu" ? 240 : 15));
  for (std::size_t f = 0; f < frames; ++f) {
    Vok16s prm[18];
    vokcG729EEncode(m.get(), &pcm[f * kFrame], rates[f], prm);
    Vok8u bits[118];
    vokcG729EPackBits(prm, rates[f], bits);
    if (opt.format == "itu")
      writeSerialFrame(out, bits, frameBits(rates[f]));
    else
      packOctets(bits, frameBits(rates[f]), out);
    if (opt.progress && (f & 255) == 0) opt.progress(double(f) / double(frames));
  }
  return true;
}

bool g729eDecode(const std::vector<uint8_t>& in, const Options& opt, std::vector<int16_t>& pcm, std::string& err) {
  if (!checkFormat(opt, err)) return false;
  int size = 0;
  vokcG729EDecoderGetSize(&size);
  Memory m{std::vector<unsigned char>(static_cast<std::size_t>(size))};
  if (vokcG729EDecoderInit(m.get()) != vokOk) {
    err = "decoder initialisation failed";
    return false;
  }
  pcm.clear();
  // modeWord: the received word of the first bit; a frame lost on the
  // channel reads its mode bit as set unless that word says 0.
  auto decodeFrame = [&](const Vok8u* bits, int rate, bool lost, bool modeWordZero) {
    Vok16s prm[18] = {};
    int damaged = 0;
    vokcG729EUnpackBits(bits, rate, prm, &damaged);
    if (lost && rate == vokcG729ERate118) prm[0] = modeWordZero ? 0 : 1;
    const std::size_t at = pcm.size();
    pcm.resize(at + kFrame);
    vokcG729EDecode(m.get(), prm, rate, (lost || damaged) ? 1 : 0, &pcm[at]);
  };
  if (opt.format == "rtp") {
    if (!opt.rateFile.empty()) {
      err = "the RTP layout carries no rate: use a fixed --rate with --format rtp";
      return false;
    }
    int rate = 0;
    if (!fixedRate(opt, rate, err)) return false;
    const std::size_t octets = static_cast<std::size_t>(frameOctets(rate));
    if (in.size() % octets != 0) {
      err = "truncated bitstream: " + std::to_string(in.size()) + " bytes is not a whole number of " +
            std::to_string(octets) + "-byte frames";
      return false;
    }
    for (std::size_t f = 0; f < in.size() / octets; ++f) {
      Vok8u bits[120];
      unpackOctets(&in[f * octets], frameBits(rate), bits);
      decodeFrame(bits, rate, false, false);
    }
    return true;
  }
  std::vector<SerialFrame> frames;
  if (!readSerialFrames(in, {80, 118}, frames, err)) return false;
  std::size_t at = 0;  // byte offset of the frame in the serial stream
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const int n = static_cast<int>(frames[f].bits.size());
    const int rate = n == 80 ? vokcG729ERate8 : vokcG729ERate118;
    auto word = [&](int i) { return static_cast<uint16_t>(in[at + 4 + 2 * i] | (in[at + 5 + 2 * i] << 8)); };
    // A frame counts as lost when one of its bit words but the last two is
    // 0: the erasure marks of the Annex E channel spare those two.
    bool lost = false;
    for (int i = 0; i < n - 2 && frames[f].erased; ++i) lost |= word(i) == 0;
    decodeFrame(frames[f].bits.data(), rate, lost, word(0) == kBit0Word);
    at += 4 + 2 * static_cast<std::size_t>(n);
    if (opt.progress && (f & 255) == 0) opt.progress(double(f) / double(frames.size()));
  }
  return true;
}

namespace {

// First frame where two serial streams differ (frames of any size).
std::string firstSerialDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
  const std::vector<int16_t> g = serialWords(got), w = serialWords(want);
  std::size_t at = 0, frame = 0;
  while (at + 1 < w.size() && at + 1 < g.size()) {
    const std::size_t len = 2 + static_cast<std::size_t>(static_cast<uint16_t>(w[at + 1]));
    for (std::size_t i = 0; i < len; ++i)
      if (at + i >= g.size() || at + i >= w.size() || g[at + i] != w[at + i])
        return "first differing frame " + std::to_string(frame);
    at += len;
    ++frame;
  }
  if (g.size() != w.size())
    return "length differs: " + std::to_string(got.size()) + " bytes, expected " + std::to_string(want.size());
  return "";
}

}  // namespace

void addG729ECodecs(Registry& r) {
  Codec c;
  c.name = "g729e";
  c.sampleRate = 8000;
  c.about = "ITU-T G.729 Annex E, 11.8 kbit/s (--rate 8|11.8 or --rate-file), forward/backward LP";
  c.encode = g729eEncode;
  c.decode = g729eDecode;
  r.codecs.push_back(c);

  static const char* kEncoder[] = {"ALGTHME", "FIXED35", "FIXED44", "LSPE", "OVPITCH", "PITCHE", "SPEECHE"};
  static const char* kDecoder[] = {"algthme", "erasuree", "fixed35", "fixed44", "lspe",
                                   "ovpitch", "pitche",   "speeche", "stabilit", "switch"};
  auto lower = [](std::string s) {
    for (auto& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
  };
  auto encodeCheck = [](const std::string& in, const std::string& bit, const std::string& rateFile) {
    return [=](const std::string& root) -> std::string {
      const std::string dir = root + "/g729/annexE/";
      std::vector<int16_t> pcm;
      std::vector<uint8_t> want, got;
      if (!readFileWords(dir + in, pcm)) return "missing " + dir + in;
      if (!readFileBytes(dir + bit, want)) return "missing " + dir + bit;
      Options o;
      if (!rateFile.empty()) {
        std::vector<uint8_t> probe;
        if (!readFileBytes(dir + rateFile, probe)) return "missing " + dir + rateFile;
        o.rateFile = dir + rateFile;
      }
      std::string err;
      if (!g729eEncode(pcm, o, got, err)) return err;
      return firstSerialDifference(got, want);
    };
  };
  for (const char* name : kEncoder)
    r.checks.push_back({std::string("g729e encode ") + name,
                        encodeCheck(std::string(name) + ".118", lower(name) + ".bit", "")});
  r.checks.push_back({"g729e encode SWITCH", encodeCheck("SWITCH.XXX", "switch.bit", "SWITCH")});
  for (const char* name : kDecoder) {
    const std::string n = name;
    r.checks.push_back({"g729e decode " + n, [n](const std::string& root) -> std::string {
                          const std::string dir = root + "/g729/annexE/";
                          std::vector<uint8_t> bits;
                          std::vector<int16_t> want, got;
                          if (!readFileBytes(dir + n + ".bit", bits)) return "missing " + dir + n + ".bit";
                          if (!readFileWords(dir + n + ".pst", want)) return "missing " + dir + n + ".pst";
                          std::string err;
                          if (!g729eDecode(bits, Options{}, got, err)) return err;
                          return firstDifference(got, want, kFrame, "frame");
                        }});
  }
}

}  // namespace vokc
