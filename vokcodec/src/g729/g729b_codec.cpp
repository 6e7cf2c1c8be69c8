// G.729 Annex B (silence compression on the G.729 and G.729A cores) in the
// codec registry, with DTX always on, and the conformance checks against
// the official vectors.
//
// Payloads (RFC 3551): 10 octets for speech, 2 for an SID frame (its 15 bits
// and one zero padding bit), none for an untransmitted frame.  In the ITU
// serial layout an SID frame is written in the octet form (16 bits) and read
// in either form; an untransmitted frame lost on the channel is flagged by a
// damaged sync word.
#include <string>
#include <vector>

#include "g729_stream.h"

namespace vokc {

namespace {

constexpr int kSpeechBits = 80;
constexpr int kSidBits = 15;

VokResult encodeFrame(void* s, const int16_t* pcm, uint8_t* payload, int* bytes) {
  Vok16s prm[11];
  int type = 0;
  VokResult r = vokcG729BEncode(s, pcm, prm, &type);
  if (r != vokOk) return r;
  Vok8u bits[kSpeechBits] = {};
  *bytes = 0;
  if (type == vokcG729BSpeech) {
    r = vokcG729PackBits(prm, bits);
    *bytes = 10;
  } else if (type == vokcG729BSid) {
    r = vokcG729BPackSid(prm, bits);
    *bytes = 2;
  }
  g729ToOctets(bits, *bytes * 8, payload);
  return r;
}

// A lost frame is concealed as the previous frame's kind whatever its size.
VokResult decodeFrame(void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples) {
  Vok16s prm[11] = {};
  int type = vokcG729BUntransmitted;
  if (!lost) {
    Vok8u bits[kSpeechBits];
    VokResult r = vokOk;
    if (bytes == 10) {
      g729FromOctets(payload, kSpeechBits, bits);
      r = vokcG729UnpackBits(bits, prm);
      type = vokcG729BSpeech;
    } else if (bytes == 2) {
      g729FromOctets(payload, kSidBits, bits);
      r = vokcG729BUnpackSid(bits, prm);
      type = vokcG729BSid;
    } else if (bytes != 0) {
      return vokErrSize;
    }
    if (r != vokOk) return r;
  }
  *samples = 80;
  return vokcG729BDecode(s, prm, type, lost ? 1 : 0, pcm);
}

}  // namespace

void addG729BCodecs(Registry& r) {
  struct V {
    const char* name;
    int variant;
    const char* about;
    const char* suffix;  // of the core's files in the vector folder
  };
  for (const V& v : {V{"g729b", vokcG729Main, "ITU-T G.729 Annex B, G.729 with VAD/DTX/comfort noise (DTX on)", ""},
                     V{"g729ab", vokcG729AnnexA,
                       "ITU-T G.729 Annexes A and B, G.729A with VAD/DTX/comfort noise (DTX on)", "a"}}) {
    Codec c;
    c.name = v.name;
    c.about = v.about;
    c.maxPayload = 10;
    c.bitRate = 8000;
    c.fixedPayload = false;
    // An SID frame is 15 bits in 2 octets, an 11.8 kbit/s frame 118 bits in 15.
    c.payloadBits = [](const uint8_t*, int bytes) { return bytes == 2 ? 15 : bytes == 15 ? 118 : 8 * bytes; };
    const int variant = v.variant;
    c.encoderSize = g729StateSize(vokcG729EncoderGetSize, false);
    c.decoderSize = g729StateSize(vokcG729DecoderGetSize, false);
    c.initEncoder = [variant](void* s, const Settings&) -> std::string {
      return vokcG729BEncoderInit(s, variant) == vokOk ? "" : "encoder initialisation failed";
    };
    c.initDecoder = [variant](void* s, const Settings&) -> std::string {
      return vokcG729DecoderInit(s, variant) == vokOk ? "" : "decoder initialisation failed";
    };
    c.encodeFrame = encodeFrame;
    c.decodeFrame = decodeFrame;
    c.itu = g729ItuLayout({kSpeechBits, kSidBits, 16, 0}, 0, true);
    r.codecs.push_back(c);

    const std::string name = v.name, sfx = v.suffix;
    for (int n = 1; n <= 4; ++n) {
      const std::string seq = "tstseq" + std::to_string(n);
      r.checks.push_back(encoderCheck(name + " encode " + seq, c, "annexB", seq + ".bin", seq + sfx + ".bit", {}));
    }
    for (int n = 1; n <= 6; ++n) {
      const std::string seq = "tstseq" + std::to_string(n);
      // The decoder-only sequences 5 and 6 have one bitstream for both cores.
      const std::string bit = seq + (n <= 4 ? sfx : "") + ".bit";
      r.checks.push_back(decoderCheck(name + " decode " + seq, c, "annexB", bit, seq + sfx + ".out"));
    }
  }
}

}  // namespace vokc
