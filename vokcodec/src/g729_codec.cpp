// G.729 and G.729A in the codec registry: whole-stream encode/decode in the
// ITU serial format and the RTP payload layout, and the conformance checks
// against the official vectors.
#include <cstring>
#include <string>
#include <vector>

#include "g729_serial.h"
#include "registry.h"
#include "vokcodec.h"

namespace vokc {

namespace {

constexpr int kFrame = 80;
constexpr int kBits = 80;

// Caller-owned coder memory with the library's 16-byte alignment slack.
struct Memory {
  std::vector<unsigned char> bytes;
  void* get() { return bytes.data(); }
};

bool encodeStream(int variant, const std::vector<int16_t>& pcm, const Options& opt,
                  std::vector<uint8_t>& out, std::string& err) {
  if (opt.format != "itu" && opt.format != "rtp") {
    err = "unknown bitstream format '" + opt.format + "' (itu or rtp)";
    return false;
  }
  int size = 0;
  vokcG729EncoderGetSize(&size);
  Memory m{std::vector<unsigned char>(static_cast<std::size_t>(size))};
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
    if (opt.format == "itu")
      writeSerialFrame(out, bits, kBits);
    else
      packOctets(bits, kBits, out);
    if (opt.progress && (f & 255) == 0) opt.progress(double(f) / double(frames));
  }
  return true;
}

bool decodeStream(int variant, const std::vector<uint8_t>& in, const Options& opt,
                  std::vector<int16_t>& pcm, std::string& err) {
  int size = 0;
  vokcG729DecoderGetSize(&size);
  Memory m{std::vector<unsigned char>(static_cast<std::size_t>(size))};
  if (vokcG729DecoderInit(m.get(), variant) != vokOk) {
    err = "decoder initialisation failed";
    return false;
  }
  pcm.clear();
  auto decodeFrame = [&](const Vok8u* bits, bool erased) {
    Vok16s prm[11] = {};
    if (!erased) vokcG729UnpackBits(bits, prm);
    std::size_t at = pcm.size();
    pcm.resize(at + kFrame);
    vokcG729Decode(m.get(), prm, erased ? 1 : 0, &pcm[at]);
  };
  if (opt.format == "rtp") {
    if (in.size() % 10 != 0) {
      err = "truncated bitstream: " + std::to_string(in.size()) + " bytes is not a whole number of 10-byte frames";
      return false;
    }
    for (std::size_t f = 0; f < in.size() / 10; ++f) {
      Vok8u bits[kBits];
      unpackOctets(&in[f * 10], kBits, bits);
      decodeFrame(bits, false);
    }
    return true;
  }
  if (opt.format != "itu") {
    err = "unknown bitstream format '" + opt.format + "' (itu or rtp)";
    return false;
  }
  std::vector<SerialFrame> frames;
  if (!readSerialFrames(in, {kBits}, frames, err)) return false;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    decodeFrame(frames[f].bits.data(), frames[f].erased);
    if (opt.progress && (f & 255) == 0) opt.progress(double(f) / double(frames.size()));
  }
  return true;
}

void addChecks(Registry& r, int variant, const std::string& folder, const std::string& label) {
  static const char* kEncoder[] = {"ALGTHM", "FIXED", "LSP", "PITCH", "SPEECH", "TAME"};
  static const char* kDecoder[] = {"ALGTHM", "ERASURE", "FIXED", "LSP", "OVERFLOW",
                                   "PARITY", "PITCH", "SPEECH", "TAME"};
  std::vector<std::string> enc(std::begin(kEncoder), std::end(kEncoder));
  std::vector<std::string> dec(std::begin(kDecoder), std::end(kDecoder));
  if (variant == vokcG729AnnexA) {
    enc.push_back("TEST");
    dec.push_back("TEST");
  }
  for (const auto& name : enc) {
    r.checks.push_back({label + " encode " + name, [=](const std::string& root) -> std::string {
      std::string dir = root + "/g729/" + folder + "/";
      std::vector<int16_t> in;
      std::vector<uint8_t> want;
      if (!readFileWords(dir + name + ".IN", in)) return "missing " + dir + name + ".IN";
      if (!readFileBytes(dir + name + ".BIT", want)) return "missing " + dir + name + ".BIT";
      std::vector<uint8_t> got;
      std::string err;
      if (!encodeStream(variant, in, Options{}, got, err)) return err;
      return firstDifference(serialWords(got), serialWords(want), 82, "frame");
    }});
  }
  for (const auto& name : dec) {
    r.checks.push_back({label + " decode " + name, [=](const std::string& root) -> std::string {
      std::string dir = root + "/g729/" + folder + "/";
      std::vector<uint8_t> bits;
      std::vector<int16_t> want;
      if (!readFileBytes(dir + name + ".BIT", bits)) return "missing " + dir + name + ".BIT";
      std::string pst = dir + name + (name == "TEST" ? ".pst" : ".PST");
      if (!readFileWords(pst, want)) return "missing " + pst;
      std::vector<int16_t> got;
      std::string err;
      if (!decodeStream(variant, bits, Options{}, got, err)) return err;
      return firstDifference(got, want, kFrame, "frame");
    }});
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
    addChecks(r, v.variant, v.folder, v.name);
  }
}

}  // namespace vokc
