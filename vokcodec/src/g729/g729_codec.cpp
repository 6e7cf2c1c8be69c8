// G.729 and G.729A in the codec registry: whole-stream encode/decode in the
// ITU serial format and the RTP payload layout, and the conformance checks
// against the official vectors.
#include <string>
#include <vector>

#include "g729_stream.h"

namespace vokc {

namespace {

constexpr int kFrame = 80;
constexpr int kBits = 80;

bool encodeStream(int variant, const std::vector<int16_t>& pcm, const Options& opt,
                  std::vector<uint8_t>& out, std::string& err) {
  if (!ituOrRtp(opt, err)) return false;
  CoderMemory m(vokcG729EncoderGetSize);
  if (vokcG729EncoderInit(m.get(), variant) != vokOk) {
    err = "encoder initialisation failed";
    return false;
  }
  const std::size_t frames = pcm.size() / kFrame;
  out.clear();
  out.reserve(frames * (opt.format == "itu" ? 164 : 10));
  for (std::size_t f = 0; f < frames; ++f) {
    Vok16s prm[11];
    vokcG729Encode(m.get(), &pcm[f * kFrame], prm);
    Vok8u bits[kBits];
    vokcG729PackBits(prm, bits);
    appendFrame(out, bits, kBits, opt.format == "itu");
    reportProgress(opt, f, frames);
  }
  return true;
}

bool decodeStream(int variant, const std::vector<uint8_t>& in, const Options& opt,
                  std::vector<int16_t>& pcm, std::string& err) {
  CoderMemory m(vokcG729DecoderGetSize);
  if (vokcG729DecoderInit(m.get(), variant) != vokOk) {
    err = "decoder initialisation failed";
    return false;
  }
  if (!ituOrRtp(opt, err)) return false;
  std::vector<SerialFrame> frames;
  if (!readStreamFrames(in, opt.format == "itu", kBits, {kBits}, frames, err)) return false;
  pcm.assign(frames.size() * kFrame, 0);
  for (std::size_t f = 0; f < frames.size(); ++f) {
    Vok16s prm[11] = {};
    if (!frames[f].erased) vokcG729UnpackBits(frames[f].bits.data(), prm);
    vokcG729Decode(m.get(), prm, frames[f].erased ? 1 : 0, &pcm[f * kFrame]);
    reportProgress(opt, f, frames.size());
  }
  return true;
}

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
    r.checks.push_back(
        encoderCheck(c.name + " encode " + name, folder, name + ".IN", name + ".BIT", Options{}, "", c.encode));
  for (const auto& name : dec) {
    const std::string pst = name + (name == "TEST" ? ".pst" : ".PST");
    r.checks.push_back(decoderCheck(c.name + " decode " + name, folder, name + ".BIT", pst, Options{}, c.decode));
  }
}

}  // namespace

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
    c.sampleRate = 8000;
    c.about = v.about;
    int variant = v.variant;
    c.encode = [variant](const std::vector<int16_t>& pcm, const Options& o, std::vector<uint8_t>& bits,
                         std::string& err) { return encodeStream(variant, pcm, o, bits, err); };
    c.decode = [variant](const std::vector<uint8_t>& bits, const Options& o, std::vector<int16_t>& pcm,
                         std::string& err) { return decodeStream(variant, bits, o, pcm, err); };
    r.codecs.push_back(c);
    addChecks(r, c, v.variant, v.folder);
  }
}

}  // namespace vokc
