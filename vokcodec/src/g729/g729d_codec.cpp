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

#include "g729_stream.h"

namespace vokc {

namespace {

constexpr int kFrame = 80;

// The codec mode (1, 2 or 3; 0 means 1) or an error.
bool codecMode(const Options& opt, int& mode, std::string& err) {
  mode = opt.mode == 0 ? 1 : opt.mode;
  if (mode < 1 || mode > 3) {
    err = "mode " + std::to_string(opt.mode) + " is not 1 (6.4 kbit/s), 2 (8 kbit/s) or 3 (toggle)";
    return false;
  }
  if (!ituOrRtp(opt, err)) return false;
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
  CoderMemory m(vokcG729DEncoderGetSize);
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
    appendFrame(out, bits, rate, itu);
    reportProgress(opt, f, frames);
  }
  return true;
}

bool decodeStream(const std::vector<uint8_t>& in, const Options& opt, std::vector<int16_t>& pcm,
                  std::string& err) {
  int mode = 0;
  if (!codecMode(opt, mode, err)) return false;
  CoderMemory m(vokcG729DDecoderGetSize);
  if (vokcG729DDecoderInit(m.get()) != vokOk) {
    err = "decoder initialisation failed";
    return false;
  }
  // RTP: one rate for the whole stream (the payload does not mark it).
  const int rtpRate = mode == 1 ? vokcG729D6k4 : vokcG729D8k;
  std::vector<SerialFrame> frames;
  if (!readStreamFrames(in, opt.format == "itu", rtpRate, {vokcG729D6k4, vokcG729D8k}, frames, err)) return false;
  pcm.assign(frames.size() * kFrame, 0);
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const int rate = static_cast<int>(frames[f].bits.size());
    Vok16s prm[11] = {};
    if (!frames[f].erased) vokcG729DUnpackBits(frames[f].bits.data(), rate, prm);
    vokcG729DDecode(m.get(), prm, rate, frames[f].erased ? 1 : 0, &pcm[f * kFrame]);
    reportProgress(opt, f, frames.size());
  }
  return true;
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
    Options o;
    o.mode = mode;
    r.checks.push_back(
        encoderCheck("g729d encode mode " + k, "annexD", "testfile.raw", "testmid." + k, o, "", encodeStream));
    r.checks.push_back(
        decoderCheck("g729d decode mode " + k, "annexD", "testmid." + k, "testout." + k, o, decodeStream));
  }
}

}  // namespace vokc
