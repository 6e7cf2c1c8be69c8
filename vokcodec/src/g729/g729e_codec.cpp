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

#include "g729_stream.h"

namespace vokc {

namespace {

constexpr int kFrame = 80;
constexpr uint16_t kBit0Word = 0x007F;

int frameBits(int rate) { return rate == vokcG729ERate8 ? 80 : 118; }

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

}  // namespace

bool g729eFrameRates(const Options& opt, std::size_t frames, std::vector<int>& rates, std::string& err) {
  rates.clear();
  if (!opt.rateFile.empty()) return rateFileRates(opt, frames, 1, "0 = 8 kbit/s, 1 = 11.8 kbit/s", true, rates, err);
  int rate = 0;
  if (!fixedRate(opt, rate, err)) return false;
  rates.assign(frames, rate);
  return true;
}

bool g729eEncode(const std::vector<int16_t>& pcm, const Options& opt, std::vector<uint8_t>& out, std::string& err) {
  if (!ituOrRtp(opt, err)) return false;
  if (opt.format == "rtp" && !opt.rateFile.empty()) {
    err = "the RTP layout carries no rate: use a fixed --rate with --format rtp";
    return false;
  }
  const std::size_t frames = pcm.size() / kFrame;
  std::vector<int> rates;
  if (!g729eFrameRates(opt, frames, rates, err)) return false;
  CoderMemory m(vokcG729EEncoderGetSize);
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
    appendFrame(out, bits, frameBits(rates[f]), opt.format == "itu");
    reportProgress(opt, f, frames);
  }
  return true;
}

bool g729eDecode(const std::vector<uint8_t>& in, const Options& opt, std::vector<int16_t>& pcm, std::string& err) {
  if (!ituOrRtp(opt, err)) return false;
  CoderMemory m(vokcG729EDecoderGetSize);
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
    std::vector<SerialFrame> frames;
    if (!readStreamFrames(in, false, frameBits(rate), {}, frames, err)) return false;
    for (const SerialFrame& fr : frames) decodeFrame(fr.bits.data(), rate, false, false);
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
    reportProgress(opt, f, frames.size());
  }
  return true;
}

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
  for (const char* name : kEncoder)
    r.checks.push_back(encoderCheck(std::string("g729e encode ") + name, "annexE", std::string(name) + ".118",
                                    lower(name) + ".bit", Options{}, "", g729eEncode));
  r.checks.push_back(encoderCheck("g729e encode SWITCH", "annexE", "SWITCH.XXX", "switch.bit", Options{}, "SWITCH",
                                  g729eEncode));
  for (const char* name : kDecoder) {
    const std::string n = name;
    r.checks.push_back(decoderCheck("g729e decode " + n, "annexE", n + ".bit", n + ".pst", Options{}, g729eDecode));
  }
}

}  // namespace vokc
