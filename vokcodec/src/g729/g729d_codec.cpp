// G.729 Annex D (6.4 kbit/s, with the 8 kbit/s G.729 mode) in the codec
// registry, and the conformance checks against the official vectors.
//
// Encoder option mode=1 codes every frame at 6.4 kbit/s (8 octets), 2 at 8
// kbit/s (10 octets), 3 alternates (8 kbit/s first).  The decoder takes each
// frame's rate from its size; a lost frame without one keeps the previous
// frame's rate.
#include <string>
#include <vector>

#include "g729_stream.h"

namespace vokc {

namespace {

struct EncoderHead {
  int mode;
  unsigned frame;
};
struct DecoderHead {
  int rate;
};

std::string initEncoder(void* s, const Settings& set) {
  const std::string m = set.get("mode", "1");
  if (m != "1" && m != "2" && m != "3") return "mode " + m + " is not 1 (6.4 kbit/s), 2 (8 kbit/s) or 3 (toggle)";
  *g729Head<EncoderHead>(s) = {m[0] - '0', 0};
  return vokcG729DEncoderInit(g729Coder(s)) == vokOk ? "" : "encoder initialisation failed";
}

std::string initDecoder(void* s, const Settings&) {
  *g729Head<DecoderHead>(s) = {vokcG729D8k};
  return vokcG729DDecoderInit(g729Coder(s)) == vokOk ? "" : "decoder initialisation failed";
}

VokResult encodeFrame(void* s, const int16_t* pcm, uint8_t* payload, int* bytes) {
  EncoderHead* h = g729Head<EncoderHead>(s);
  const bool low = h->mode == 1 || (h->mode == 3 && h->frame % 2 == 1);
  const int rate = low ? vokcG729D6k4 : vokcG729D8k;
  ++h->frame;
  Vok16s prm[11];
  Vok8u bits[80];
  VokResult r = vokcG729DEncode(g729Coder(s), pcm, rate, prm);
  if (r == vokOk) r = vokcG729DPackBits(prm, rate, bits);
  if (r != vokOk) return r;
  g729ToOctets(bits, rate, payload);
  *bytes = rate / 8;
  return vokOk;
}

VokResult decodeFrame(void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples) {
  DecoderHead* h = g729Head<DecoderHead>(s);
  if (payload && (bytes == 8 || bytes == 10)) h->rate = bytes * 8;
  else if (!lost) return vokErrSize;
  Vok16s prm[11] = {};
  if (!lost) {
    Vok8u bits[80];
    g729FromOctets(payload, h->rate, bits);
    const VokResult r = vokcG729DUnpackBits(bits, h->rate, prm);
    if (r != vokOk) return r;
  }
  *samples = 80;
  return vokcG729DDecode(g729Coder(s), prm, h->rate, lost ? 1 : 0, pcm);
}

}  // namespace

void addG729DCodecs(Registry& r) {
  Codec c;
  c.name = "g729d";
  c.about = "ITU-T G.729 Annex D, 6.4 kbit/s (mode=1), 8 kbit/s (2) or alternating (3)";
  c.maxPayload = 10;
  c.bitRate = 6400;
  c.fixedPayload = false;
  c.options = {{"mode", "1|2|3", kEncoderOption}};
  c.encoderSize = g729StateSize(vokcG729DEncoderGetSize, true);
  c.decoderSize = g729StateSize(vokcG729DDecoderGetSize, true);
  c.initEncoder = initEncoder;
  c.initDecoder = initDecoder;
  c.encodeFrame = encodeFrame;
  c.decodeFrame = decodeFrame;
  c.itu = g729ItuLayout({64, 80});
  r.codecs.push_back(c);

  for (int mode = 1; mode <= 3; ++mode) {
    const std::string k = std::to_string(mode);
    Options o;
    o.mode = mode;
    r.checks.push_back(encoderCheck("g729d encode mode " + k, c, "annexD", "testfile.raw", "testmid." + k, o));
    r.checks.push_back(decoderCheck("g729d decode mode " + k, c, "annexD", "testmid." + k, "testout." + k));
  }
}

}  // namespace vokc
