// G.729 Annex I (the integrated coder) in the codec registry: 6.4, 8 and
// 11.8 kbit/s frames switchable frame by frame (encoder option bitrate, or a
// rate file of one word per frame: 0 = 6.4, 1 = 8, 2 = 11.8 kbit/s), DTX
// (dtx=1), and the conformance checks against the official vectors.
// Payloads: 8, 10 or 15 octets for speech, 2 for an SID frame, none for an
// untransmitted frame.
#include <string>
#include <vector>

#include "g729_stream.h"

namespace vokc {

namespace {

struct EncoderHead {
  int rate;
};

std::string setRate(void* s, const Settings& set) {
  const std::string b = set.get("bitrate", "8");
  int rate;
  if (b == "6.4")
    rate = vokcG729IRate64;
  else if (b == "8")
    rate = vokcG729IRate80;
  else if (b == "11.8")
    rate = vokcG729IRate118;
  else
    return "unsupported bit rate '" + b + "' for g729i (6.4, 8 or 11.8)";
  g729Head<EncoderHead>(s)->rate = rate;
  return "";
}

std::string initEncoder(void* s, const Settings& set) {
  std::string err = setRate(s, set);
  if (!err.empty()) return err;
  const std::string dtx = set.get("dtx", "0");
  if (dtx != "0" && dtx != "1") return "dtx must be 0 or 1, not '" + dtx + "'";
  return vokcG729IEncoderInit(g729Coder(s), dtx == "1") == vokOk ? "" : "encoder initialisation failed";
}

std::string initDecoder(void* s, const Settings&) {
  return vokcG729IDecoderInit(s) == vokOk ? "" : "decoder initialisation failed";
}

VokResult encodeFrame(void* s, const int16_t* pcm, uint8_t* payload, int* bytes) {
  Vok8u bits[118];
  int n = 0;
  const VokResult r = vokcG729IEncode(g729Coder(s), pcm, g729Head<EncoderHead>(s)->rate, bits, &n);
  if (r != vokOk) return r;
  g729ToOctets(bits, n, payload);
  *bytes = g729PayloadBytes(n);
  return vokOk;
}

VokResult decodeFrame(void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples) {
  const int n = payload ? g729FrameBits(bytes) : 0;
  if (n < 0 && !lost) return vokErrSize;
  Vok8u bits[118] = {};
  if (n > 0) g729FromOctets(payload, n, bits);
  *samples = 80;
  return vokcG729IDecode(s, bits, n < 0 ? 0 : n, lost ? 1 : 0, pcm);
}

struct Run {
  const char* suffix;  // expected bitstream; output is 'o' + suffix minus 'b'
  bool dtx;
  const char* rate;      // bit rate, or nullptr
  const char* rateFile;  // rate file in the vector folder, or nullptr
};

void addChecks(Registry& r, const Codec& c) {
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
      r.checks.push_back(encoderCheck("g729i encode " + in + " " + suffix, c, "annexI", pcmFile, in + "." + suffix, o,
                                      run.rateFile ? run.rateFile : ""));
      r.checks.push_back(
          decoderCheck("g729i decode " + in + " " + suffix, c, "annexI", in + "." + suffix, in + ".o" + suffix.substr(1)));
    }
  }
}

}  // namespace

void addG729ICodecs(Registry& r) {
  Codec c;
  c.name = "g729i";
  c.about = "ITU-T G.729 Annex I, 6.4/8/11.8 kbit/s (bitrate=, a rate file) with optional DTX (dtx=1)";
  c.maxPayload = 15;
  c.bitRate = 11800;
  c.fixedPayload = false;
  // An SID frame is 15 bits in 2 octets, an 11.8 kbit/s frame 118 bits in 15.
  c.payloadBits = [](const uint8_t*, int bytes) { return bytes == 2 ? 15 : bytes == 15 ? 118 : 8 * bytes; };
  c.options = {{"bitrate", "6.4|8|11.8", kEncoderOption | kRunningOption}, {"dtx", "0|1", kEncoderOption}};
  c.rateFileValues = {"6.4", "8", "11.8"};
  c.encoderSize = g729StateSize(vokcG729IEncoderGetSize, true);
  c.decoderSize = g729StateSize(vokcG729IDecoderGetSize, false);
  c.initEncoder = initEncoder;
  c.initDecoder = initDecoder;
  c.setEncoder = setRate;
  c.encodeFrame = encodeFrame;
  c.decodeFrame = decodeFrame;
  c.itu = g729ItuLayout({0, 15, 16, 64, 80, 118}, 0, true);
  r.codecs.push_back(c);
  addChecks(r, c);
}

}  // namespace vokc
