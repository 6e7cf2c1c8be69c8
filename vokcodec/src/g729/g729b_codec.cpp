// G.729 Annex B (silence compression on the G.729 and G.729A cores) in the
// codec registry: whole-stream encode/decode with DTX always on, and the
// conformance checks against the official vectors.
//
// Bitstream formats: "itu" is the ITU serial stream with 80-bit speech,
// SID and 0-bit untransmitted frames; an SID frame is written in the octet
// form (its 15 bits and one zero padding bit, 16 in all) and read in either
// form.  "rtp" concatenates RTP
// payloads, each preceded by one length byte: 10 (a speech frame), 2 (an SID
// frame of RFC 3551, 15 bits and one zero padding bit) or 0 (nothing sent
// for the frame).  The length byte keeps the frame timing that the RTP
// timestamps carry on a network.
#include <string>
#include <vector>

#include "g729_stream.h"

namespace vokc {

namespace {

constexpr int kFrame = 80;
constexpr int kSpeechBits = 80;
constexpr int kSidBits = 15;
constexpr int kSidOctetBits = 16;

bool encodeStream(int variant, const std::vector<int16_t>& pcm, const Options& opt, std::vector<uint8_t>& out,
                  std::string& err) {
  if (!ituOrRtp(opt, err)) return false;
  CoderMemory mem(vokcG729EncoderGetSize);
  if (vokcG729BEncoderInit(mem.get(), variant) != vokOk) {
    err = "encoder initialisation failed";
    return false;
  }
  const std::size_t frames = pcm.size() / kFrame;
  out.clear();
  out.reserve(frames * (opt.format == "itu" ? 164 : 11));
  for (std::size_t f = 0; f < frames; ++f) {
    Vok16s prm[11];
    int type = 0;
    vokcG729BEncode(mem.get(), &pcm[f * kFrame], prm, &type);
    Vok8u bits[kSpeechBits];
    int n = 0;
    if (type == vokcG729BSpeech) {
      vokcG729PackBits(prm, bits);
      n = kSpeechBits;
    } else if (type == vokcG729BSid) {
      vokcG729BPackSid(prm, bits);
      bits[kSidBits] = 0;
      n = kSidOctetBits;
    }
    if (opt.format == "itu") {
      writeSerialFrame(out, bits, n);
    } else {
      out.push_back(static_cast<uint8_t>((n + 7) / 8));
      if (n) packOctets(bits, n, out);
    }
    reportProgress(opt, f, frames);
  }
  return true;
}

bool decodeStream(const std::vector<uint8_t>& in, const Options& opt, int variant, std::vector<int16_t>& pcm,
                  std::string& err) {
  if (!ituOrRtp(opt, err)) return false;
  CoderMemory mem(vokcG729DecoderGetSize);
  if (vokcG729DecoderInit(mem.get(), variant) != vokOk) {
    err = "decoder initialisation failed";
    return false;
  }
  pcm.clear();
  auto decodeFrame = [&](const Vok8u* bits, int n, bool erased) {
    Vok16s prm[11] = {};
    int type = vokcG729BUntransmitted;
    if (n == kSpeechBits) {
      vokcG729UnpackBits(bits, prm);
      type = vokcG729BSpeech;
    } else if (n == kSidBits || n == kSidOctetBits) {
      vokcG729BUnpackSid(bits, prm);
      type = vokcG729BSid;
    }
    std::size_t at = pcm.size();
    pcm.resize(at + kFrame);
    vokcG729BDecode(mem.get(), prm, type, erased ? 1 : 0, &pcm[at]);
  };
  if (opt.format == "rtp") {
    // Check the whole stream first: no partial output on a bad stream.
    std::size_t at = 0, count = 0;
    while (at < in.size()) {
      const int len = in[at];
      if (len != 0 && len != 2 && len != 10) {
        err = "frame " + std::to_string(count) + ": payload length " + std::to_string(len) +
              " (a g729b rtp stream carries 10, 2 or 0 bytes per frame, each after its length byte)";
        return false;
      }
      if (in.size() - at - 1 < static_cast<std::size_t>(len)) {
        err = "truncated bitstream at frame " + std::to_string(count);
        return false;
      }
      at += 1 + len;
      ++count;
    }
    at = 0;
    for (std::size_t f = 0; f < count; ++f) {
      const int len = in[at];
      const int n = len == 10 ? kSpeechBits : len == 2 ? kSidOctetBits : 0;
      Vok8u bits[kSpeechBits + 8];
      if (n) unpackOctets(&in[at + 1], n, bits);
      decodeFrame(bits, n, false);
      at += 1 + len;
      reportProgress(opt, f, count);
    }
    return true;
  }
  // An untransmitted frame has no bit words to mark its loss: a channel
  // flags it by a damaged sync word (0x6Bxx other than 0x6B21).  Such
  // frames are restored and marked lost before the stream is read.
  std::vector<uint8_t> fixed;
  std::vector<bool> lostEmpty;
  const std::vector<uint8_t>* stream = &in;
  for (std::size_t at = 0; at + 4 <= in.size();) {
    const int n = in[at + 2] | (in[at + 3] << 8);
    const bool damaged = n == 0 && in[at + 1] == 0x6B && in[at] != 0x21;
    if (damaged) {
      if (fixed.empty()) fixed = in;
      fixed[at] = 0x21;
      stream = &fixed;
    }
    lostEmpty.push_back(damaged);
    at += 4 + 2u * static_cast<std::size_t>(n);
  }
  std::vector<SerialFrame> frames;
  if (!readSerialFrames(*stream, {kSpeechBits, kSidBits, kSidOctetBits, 0}, frames, err)) return false;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const bool lost = frames[f].erased || (f < lostEmpty.size() && lostEmpty[f]);
    decodeFrame(frames[f].bits.data(), static_cast<int>(frames[f].bits.size()), lost);
    reportProgress(opt, f, frames.size());
  }
  return true;
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
    c.sampleRate = 8000;
    c.about = v.about;
    const int variant = v.variant;
    c.encode = [variant](const std::vector<int16_t>& pcm, const Options& o, std::vector<uint8_t>& bits,
                         std::string& err) { return encodeStream(variant, pcm, o, bits, err); };
    c.decode = [variant](const std::vector<uint8_t>& bits, const Options& o, std::vector<int16_t>& pcm,
                         std::string& err) { return decodeStream(bits, o, variant, pcm, err); };
    r.codecs.push_back(c);

    const std::string name = v.name, sfx = v.suffix;
    for (int n = 1; n <= 4; ++n) {
      const std::string seq = "tstseq" + std::to_string(n);
      r.checks.push_back(
          encoderCheck(name + " encode " + seq, "annexB", seq + ".bin", seq + sfx + ".bit", Options{}, "", c.encode));
    }
    for (int n = 1; n <= 6; ++n) {
      const std::string seq = "tstseq" + std::to_string(n);
      // The decoder-only sequences 5 and 6 have one bitstream for both cores.
      const std::string bit = seq + (n <= 4 ? sfx : "") + ".bit";
      r.checks.push_back(decoderCheck(name + " decode " + seq, "annexB", bit, seq + sfx + ".out", Options{}, c.decode));
    }
  }
}

}  // namespace vokc
