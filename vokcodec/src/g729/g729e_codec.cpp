// G.729 Annex E (11.8 kbit/s, with frame-by-frame switching to 8 kbit/s) in
// the codec registry, and the conformance checks.
//
// Encoder option bitrate=8|11.8 (default 11.8), changeable between frames
// (a rate file: one word per frame, 0 = 8 kbit/s, 1 = 11.8 kbit/s).
// Payloads: 10 octets at 8 kbit/s, 15 at 11.8 kbit/s (118 bits, the mode
// bit twice first, zero-padded).  The decoder takes each frame's rate from
// its size.  In the ITU layout a frame is lost when one of its bit words but
// the last two is 0; the mode bit of a lost frame as received (1 unless its
// word says 0) still steers the post-filter.
#include <string>
#include <vector>

#include "g729_stream.h"

namespace vokc {

namespace {

struct EncoderHead {
  int rate;
};
struct DecoderHead {
  int rate;
  int mode;
};

int frameBits(int rate) { return rate == vokcG729ERate8 ? 80 : 118; }

std::string setRate(void* s, const Settings& set) {
  const std::string b = set.get("bitrate", "11.8");
  if (b != "8" && b != "11.8") return "unknown bit rate '" + b + "' for g729e (8 or 11.8)";
  g729Head<EncoderHead>(s)->rate = b == "8" ? vokcG729ERate8 : vokcG729ERate118;
  return "";
}

std::string initEncoder(void* s, const Settings& set) {
  const std::string err = setRate(s, set);
  if (!err.empty()) return err;
  return vokcG729EEncoderInit(g729Coder(s)) == vokOk ? "" : "encoder initialisation failed";
}

std::string initDecoder(void* s, const Settings&) {
  *g729Head<DecoderHead>(s) = {vokcG729ERate8, 0};
  return vokcG729EDecoderInit(g729Coder(s)) == vokOk ? "" : "decoder initialisation failed";
}

VokResult encodeFrame(void* s, const int16_t* pcm, uint8_t* payload, int* bytes) {
  const int rate = g729Head<EncoderHead>(s)->rate;
  Vok16s prm[18];
  Vok8u bits[118];
  VokResult r = vokcG729EEncode(g729Coder(s), pcm, rate, prm);
  if (r == vokOk) r = vokcG729EPackBits(prm, rate, bits);
  if (r != vokOk) return r;
  g729ToOctets(bits, frameBits(rate), payload);
  *bytes = (frameBits(rate) + 7) / 8;
  return vokOk;
}

VokResult decodeFrame(void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples) {
  DecoderHead* h = g729Head<DecoderHead>(s);
  if (payload && (bytes == 10 || bytes == 15)) h->rate = bytes == 10 ? vokcG729ERate8 : vokcG729ERate118;
  else if (!lost) return vokErrSize;
  Vok16s prm[18] = {};
  int damaged = 0;
  if (payload && bytes) {
    Vok8u bits[118];
    g729FromOctets(payload, frameBits(h->rate), bits);
    const VokResult r = vokcG729EUnpackBits(bits, h->rate, prm, &damaged);
    if (r != vokOk) return r;
    if (lost && h->rate == vokcG729ERate118) prm[0] = bits[0];
  } else if (h->rate == vokcG729ERate118) {
    prm[0] = static_cast<Vok16s>(h->mode);
  }
  if (h->rate == vokcG729ERate118) h->mode = prm[0] & 1;
  *samples = 80;
  return vokcG729EDecode(g729Coder(s), prm, h->rate, (lost || damaged) ? 1 : 0, pcm);
}

}  // namespace

void addG729ECodecs(Registry& r) {
  Codec c;
  c.name = "g729e";
  c.about = "ITU-T G.729 Annex E, 11.8 kbit/s (bitrate=8|11.8 or a rate file), forward/backward LP";
  c.maxPayload = 15;
  c.bitRate = 11800;
  c.fixedPayload = false;
  // An SID frame is 15 bits in 2 octets, an 11.8 kbit/s frame 118 bits in 15.
  c.payloadBits = [](const uint8_t*, int bytes) { return bytes == 2 ? 15 : bytes == 15 ? 118 : 8 * bytes; };
  c.options = {{"bitrate", "8|11.8", kEncoderOption | kRunningOption}};
  c.rateFileValues = {"8", "11.8"};
  c.encoderSize = g729StateSize(vokcG729EEncoderGetSize, true);
  c.decoderSize = g729StateSize(vokcG729EDecoderGetSize, true);
  c.initEncoder = initEncoder;
  c.initDecoder = initDecoder;
  c.setEncoder = setRate;
  c.encodeFrame = encodeFrame;
  c.decodeFrame = decodeFrame;
  c.itu = g729ItuLayout({80, 118}, 2);
  r.codecs.push_back(c);

  static const char* kEncoder[] = {"ALGTHME", "FIXED35", "FIXED44", "LSPE", "OVPITCH", "PITCHE", "SPEECHE"};
  static const char* kDecoder[] = {"algthme", "erasuree", "fixed35", "fixed44", "lspe",
                                   "ovpitch", "pitche",   "speeche", "stabilit", "switch"};
  auto lower = [](std::string s) {
    for (auto& ch : s) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    return s;
  };
  for (const char* name : kEncoder)
    r.checks.push_back(encoderCheck(std::string("g729e encode ") + name, c, "annexE", std::string(name) + ".118",
                                    lower(name) + ".bit", Options{}));
  r.checks.push_back(encoderCheck("g729e encode SWITCH", c, "annexE", "SWITCH.XXX", "switch.bit", Options{}, "SWITCH"));
  for (const char* name : kDecoder) {
    const std::string n = name;
    r.checks.push_back(decoderCheck("g729e decode " + n, c, "annexE", n + ".bit", n + ".pst"));
  }
}

}  // namespace vokc
