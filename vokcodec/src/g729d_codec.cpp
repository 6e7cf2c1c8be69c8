// G.729 Annex D (6.4 kbit/s, with the 8 kbit/s G.729 mode) in the codec
// registry: whole-stream encode/decode in the ITU serial format and the RTP
// payload layout, and the conformance checks against the official vectors.
//
// --mode 1 codes every frame at 6.4 kbit/s, 2 at 8 kbit/s, 3 alternates
// (8 kbit/s first).  The decoder takes each frame's rate from its bit count.
// RTP payloads carry no frame size, so a stream in that layout holds a single
// rate (8 bytes per 6.4 kbit/s frame, 10 per 8 kbit/s frame); toggle mode
// needs the ITU format.
#include <string>
#include <vector>

#include "g729_serial.h"
#include "registry.h"
#include "vokcodec.h"

namespace vokc {

namespace {

constexpr int kFrame = 80;

struct Memory {
  std::vector<unsigned char> bytes;
  explicit Memory(VokResult (*getSize)(int*)) {
    int size = 0;
    getSize(&size);
    bytes.assign(static_cast<std::size_t>(size), 0);
  }
  void* get() { return bytes.data(); }
};

// The codec mode (1, 2 or 3; 0 means 1) or an error.
bool codecMode(const Options& opt, int& mode, std::string& err) {
  mode = opt.mode == 0 ? 1 : opt.mode;
  if (mode < 1 || mode > 3) {
    err = "mode " + std::to_string(opt.mode) + " is not 1 (6.4 kbit/s), 2 (8 kbit/s) or 3 (toggle)";
    return false;
  }
  if (opt.format != "itu" && opt.format != "rtp") {
    err = "unknown bitstream format '" + opt.format + "' (itu or rtp)";
    return false;
  }
  if (opt.format == "rtp" && mode == 3) {
    err = "toggle mode (3) needs the itu format: rtp payloads do not mark the rate of each frame";
    return false;
  }
  return true;
}

bool encodeStream(const std::vector<int16_t>& pcm, const Options& opt, std::vector<uint8_t>& out,
                  std::string& err) {
  int mode = 0;
  if (!codecMode(opt, mode, err)) return false;
  Memory m(vokcG729DEncoderGetSize);
  if (vokcG729DEncoderInit(m.get()) != vokOk) {
    err = "encoder initialisation failed";
    return false;
  }
  const bool itu = opt.format == "itu";
  const std::size_t frames = pcm.size() / kFrame;
  out.clear();
  out.reserve(frames * (itu ? 164 : 10));
  for (std::size_t f = 0; f < frames; ++f) {
    int rate = vokcG729D8k;
    if (mode == 1 || (mode == 3 && f % 2 == 1)) rate = vokcG729D6k4;
    Vok16s prm[11];
    Vok8u bits[80];
    vokcG729DEncode(m.get(), &pcm[f * kFrame], rate, prm);
    vokcG729DPackBits(prm, rate, bits);
    if (itu)
      writeSerialFrame(out, bits, rate);
    else
      packOctets(bits, rate, out);
    if (opt.progress && (f & 255) == 0) opt.progress(double(f) / double(frames));
  }
  return true;
}

bool decodeStream(const std::vector<uint8_t>& in, const Options& opt, std::vector<int16_t>& pcm,
                  std::string& err) {
  int mode = 0;
  if (!codecMode(opt, mode, err)) return false;
  Memory m(vokcG729DDecoderGetSize);
  if (vokcG729DDecoderInit(m.get()) != vokOk) {
    err = "decoder initialisation failed";
    return false;
  }
  pcm.clear();
  auto decodeFrame = [&](const Vok8u* bits, int rate, bool erased) {
    Vok16s prm[11] = {};
    if (!erased) vokcG729DUnpackBits(bits, rate, prm);
    std::size_t at = pcm.size();
    pcm.resize(at + kFrame);
    vokcG729DDecode(m.get(), prm, rate, erased ? 1 : 0, &pcm[at]);
  };
  if (opt.format == "rtp") {
    const int rate = mode == 1 ? vokcG729D6k4 : vokcG729D8k;
    const std::size_t bytes = static_cast<std::size_t>(rate / 8);
    if (in.size() % bytes != 0) {
      err = "truncated bitstream: " + std::to_string(in.size()) + " bytes is not a whole number of " +
            std::to_string(bytes) + "-byte frames";
      return false;
    }
    for (std::size_t f = 0; f < in.size() / bytes; ++f) {
      Vok8u bits[80];
      unpackOctets(&in[f * bytes], rate, bits);
      decodeFrame(bits, rate, false);
    }
    return true;
  }
  std::vector<SerialFrame> frames;
  if (!readSerialFrames(in, {vokcG729D6k4, vokcG729D8k}, frames, err)) return false;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    decodeFrame(frames[f].bits.data(), static_cast<int>(frames[f].bits.size()), frames[f].erased);
    if (opt.progress && (f & 255) == 0) opt.progress(double(f) / double(frames.size()));
  }
  return true;
}

// First differing frame of two serial streams whose frames may differ in
// size (the size word is part of each frame's comparison).
std::string firstDifferentFrame(const std::vector<int16_t>& got, const std::vector<int16_t>& want) {
  std::size_t g = 0, w = 0;
  for (std::size_t frame = 0;; ++frame) {
    if (g >= got.size() || w >= want.size()) {
      if (g >= got.size() && w >= want.size()) return "";
      return "length differs: " + std::to_string(frame) + " frames in one stream, more in the other";
    }
    const std::size_t gn = g + 1 < got.size() ? 2 + static_cast<std::size_t>(got[g + 1] & 0xFF) : 1;
    const std::size_t wn = w + 1 < want.size() ? 2 + static_cast<std::size_t>(want[w + 1] & 0xFF) : 1;
    if (gn != wn || g + gn > got.size() || w + wn > want.size() ||
        !std::equal(got.begin() + static_cast<std::ptrdiff_t>(g), got.begin() + static_cast<std::ptrdiff_t>(g + gn),
                    want.begin() + static_cast<std::ptrdiff_t>(w)))
      return "first differing frame " + std::to_string(frame);
    g += gn;
    w += wn;
  }
}

}  // namespace

void addG729DCodecs(Registry& r) {
  Codec c;
  c.name = "g729d";
  c.sampleRate = 8000;
  c.about = "ITU-T G.729 Annex D, 6.4 kbit/s (--mode 1), 8 kbit/s (2) or alternating (3)";
  c.encode = encodeStream;
  c.decode = decodeStream;
  r.codecs.push_back(c);

  for (int mode = 1; mode <= 3; ++mode) {
    const std::string k = std::to_string(mode);
    r.checks.push_back({"g729d encode mode " + k, [mode, k](const std::string& root) -> std::string {
      const std::string dir = root + "/g729/annexD/";
      std::vector<int16_t> in;
      std::vector<uint8_t> want;
      if (!readFileWords(dir + "testfile.raw", in)) return "missing " + dir + "testfile.raw";
      if (!readFileBytes(dir + "testmid." + k, want)) return "missing " + dir + "testmid." + k;
      Options o;
      o.mode = mode;
      std::vector<uint8_t> got;
      std::string err;
      if (!encodeStream(in, o, got, err)) return err;
      return firstDifferentFrame(serialWords(got), serialWords(want));
    }});
    r.checks.push_back({"g729d decode mode " + k, [mode, k](const std::string& root) -> std::string {
      const std::string dir = root + "/g729/annexD/";
      std::vector<uint8_t> bits;
      std::vector<int16_t> want;
      if (!readFileBytes(dir + "testmid." + k, bits)) return "missing " + dir + "testmid." + k;
      if (!readFileWords(dir + "testout." + k, want)) return "missing " + dir + "testout." + k;
      Options o;
      o.mode = mode;
      std::vector<int16_t> got;
      std::string err;
      if (!decodeStream(bits, o, got, err)) return err;
      return firstDifference(got, want, kFrame, "frame");
    }});
  }
}

}  // namespace vokc
