// G.729 and G.729A in the codec registry: 10-octet frames (RFC 3551), the
// ITU serial layout, and the conformance checks against the official
// vectors.
#include <string>
#include <vector>

#include "g729_stream.h"

namespace vokc {

namespace {

constexpr int kBits = 80;

void addChecks(Registry& r, const Codec& c, int variant, const std::string& folder) {
  static const char* kEncoder[] = {"ALGTHM", "FIXED", "LSP", "PITCH", "SPEECH", "TAME"};
  static const char* kDecoder[] = {"ALGTHM", "ERASURE", "FIXED", "LSP", "OVERFLOW",
                                   "PARITY", "PITCH", "SPEECH", "TAME"};
  std::vector<std::string> enc(std::begin(kEncoder), std::end(kEncoder));
  std::vector<std::string> dec(std::begin(kDecoder), std::end(kDecoder));
  if (variant == vokcG729AnnexA) {
    enc.push_back("TEST");
    dec.push_back("TEST");
  }
  for (const auto& name : enc)
    r.checks.push_back(encoderCheck(c.name + " encode " + name, c, folder, name + ".IN", name + ".BIT", Options{}));
  for (const auto& name : dec) {
    const std::string pst = name + (name == "TEST" ? ".pst" : ".PST");
    r.checks.push_back(decoderCheck(c.name + " decode " + name, c, folder, name + ".BIT", pst));
  }
}

}  // namespace

// The frame coder of an 11-parameter G.729 core (fixed-point or float).
void setG729CoreFrames(Codec& c, VokResult (*encode)(void*, const Vok16s*, Vok16s*),
                       VokResult (*decode)(void*, const Vok16s*, int, Vok16s*)) {
  c.frameSamples = 80;
  c.maxPayload = 10;
  c.bitRate = 8000;
  c.itu = g729ItuLayout({kBits});
  c.encodeFrame = [encode](void* s, const int16_t* pcm, uint8_t* payload, int* bytes) -> VokResult {
    Vok16s prm[11];
    Vok8u bits[kBits];
    VokResult r = encode(s, pcm, prm);
    if (r == vokOk) r = vokcG729PackBits(prm, bits);
    if (r != vokOk) return r;
    g729ToOctets(bits, kBits, payload);
    *bytes = 10;
    return vokOk;
  };
  c.decodeFrame = [decode](void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples) -> VokResult {
    Vok16s prm[11] = {};
    if (!lost) {
      if (bytes != 10) return vokErrSize;
      Vok8u bits[kBits];
      g729FromOctets(payload, kBits, bits);
      const VokResult r = vokcG729UnpackBits(bits, prm);
      if (r != vokOk) return r;
    }
    *samples = 80;
    return decode(s, prm, lost ? 1 : 0, pcm);
  };
}

void addG729Codecs(Registry& r) {
  struct V {
    const char* name;
    int variant;
    const char* about;
    const char* folder;
  };
  for (const V& v : {V{"g729", vokcG729Main, "ITU-T G.729, 8 kbit/s CS-ACELP", "main"},
                     V{"g729a", vokcG729AnnexA, "ITU-T G.729 Annex A, 8 kbit/s reduced complexity", "annexA"}}) {
    Codec c;
    c.name = v.name;
    c.about = v.about;
    const int variant = v.variant;
    c.encoderSize = g729StateSize(vokcG729EncoderGetSize, false);
    c.decoderSize = g729StateSize(vokcG729DecoderGetSize, false);
    c.initEncoder = [variant](void* s, const Settings&) -> std::string {
      return vokcG729EncoderInit(s, variant) == vokOk ? "" : "encoder initialisation failed";
    };
    c.initDecoder = [variant](void* s, const Settings&) -> std::string {
      return vokcG729DecoderInit(s, variant) == vokOk ? "" : "decoder initialisation failed";
    };
    setG729CoreFrames(c, vokcG729Encode, vokcG729Decode);
    r.codecs.push_back(c);
    addChecks(r, c, v.variant, v.folder);
  }
}

}  // namespace vokc
