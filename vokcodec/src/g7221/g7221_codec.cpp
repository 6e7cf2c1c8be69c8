// G.722.1 in the codec registry: g7221-24 and g7221-32 (7 kHz mode, 16 kHz
// audio) and g7221c-24, g7221c-32, g7221c-48 (14 kHz mode, 32 kHz audio),
// 20 ms frames.  Payload (RFC 5577): the frame's bits, first bit in the most
// significant bit of the first octet.  Stream layouts: itu (G.192: a sync
// word 0x6B21, the bit count, one word 0x007F / 0x0081 per bit; another sync
// word or any other bit word marks an erased frame) and packed (.pak: the
// frame as 16-bit little-endian words, first bit in bit 15), and RTP packets
// of one or more frames (RFC 5577; encoder option frames=N, the last packet
// may hold fewer), each after its length in two octets, most significant
// first.
#include <cstring>
#include <string>
#include <vector>

#include "checked_call.h"
#include "g7221/g7221_coder.h"
#include "registry.h"

namespace vokc {
namespace {

using g7221::Decoder;
using g7221::Encoder;
using g7221::Layout;

constexpr uint16_t kSync = 0x6B21;
constexpr uint16_t kZero = 0x007F, kOne = 0x0081;

void putWord(std::vector<uint8_t>& out, uint16_t w) {
  out.push_back(static_cast<uint8_t>(w));
  out.push_back(static_cast<uint8_t>(w >> 8));
}

bool readWords(const ByteInput& in, std::size_t frame, std::size_t count, std::vector<uint16_t>& w,
               std::string& err) {
  std::vector<uint8_t> b(2 * count);
  const std::size_t got = in(b.data(), b.size());
  if (got == 0) return false;
  if (got != b.size()) {
    err = "truncated bitstream: frame " + std::to_string(frame) + " has " + std::to_string(got) + " of " +
          std::to_string(b.size()) + " bytes";
    return false;
  }
  w.resize(count);
  for (std::size_t i = 0; i < count; ++i) w[i] = static_cast<uint16_t>(b[2 * i] | b[2 * i + 1] << 8);
  return true;
}

ItuLayout g192Layout(int bits) {
  ItuLayout io;
  io.write = [bits](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    putWord(out, kSync);
    putWord(out, static_cast<uint16_t>(bits));
    for (int i = 0; i < bits; ++i) {
      const bool one = i / 8 < bytes && ((payload[i / 8] >> (7 - i % 8)) & 1);
      putWord(out, one ? kOne : kZero);
    }
  };
  io.read = [bits](const ByteInput& in, std::size_t frame, ReceivedFrame& rx, std::string& err) {
    std::vector<uint16_t> w;
    if (!readWords(in, frame, static_cast<std::size_t>(bits) + 2, w, err)) return false;
    rx.payload.assign(static_cast<std::size_t>(bits / 8), 0);
    rx.lost = w[0] != kSync;
    for (int i = 0; i < bits && !rx.lost; ++i) {
      if (w[2 + i] == kOne)
        rx.payload[i / 8] = static_cast<uint8_t>(rx.payload[i / 8] | 0x80 >> (i % 8));
      else if (w[2 + i] != kZero)
        rx.lost = true;
    }
    if (rx.lost) rx.payload.clear();
    return true;
  };
  return io;
}

NamedLayout packedLayout(int bits) {
  NamedLayout l;
  l.name = "packed";
  l.about = "frames as 16-bit little-endian words, first bit in bit 15 (the default for .pak files)";
  l.extension = ".pak";
  l.io.write = [](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    for (int i = 0; i + 1 < bytes; i += 2) {
      out.push_back(payload[i + 1]);
      out.push_back(payload[i]);
    }
  };
  l.io.read = [bits](const ByteInput& in, std::size_t frame, ReceivedFrame& rx, std::string& err) {
    std::vector<uint16_t> w;
    if (!readWords(in, frame, static_cast<std::size_t>(bits / 16), w, err)) return false;
    rx.payload.resize(2 * w.size());
    for (std::size_t i = 0; i < w.size(); ++i) {
      rx.payload[2 * i] = static_cast<uint8_t>(w[i] >> 8);
      rx.payload[2 * i + 1] = static_cast<uint8_t>(w[i]);
    }
    return true;
  };
  return l;
}

NamedLayout packetLayout() {
  NamedLayout l;
  l.name = "rtp-packets";
  l.about = "RFC 5577 payloads of one or more frames (--frames N), each after a 16-bit big-endian length";
  l.packets = true;
  l.io.write = [](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    out.push_back(static_cast<uint8_t>(bytes >> 8));
    out.push_back(static_cast<uint8_t>(bytes));
    out.insert(out.end(), payload, payload + bytes);
  };
  l.io.read = [](const ByteInput& in, std::size_t frame, ReceivedFrame& rx, std::string& err) {
    uint8_t len[2];
    const std::size_t got = in(len, 2);
    if (got == 0) return false;
    rx.payload.resize(got == 2 ? static_cast<std::size_t>(len[0] << 8 | len[1]) : 0);
    if (got != 2 || in(rx.payload.data(), rx.payload.size()) != rx.payload.size()) {
      err = "truncated bitstream: the packet at frame " + std::to_string(frame) + " ends early";
      return false;
    }
    return true;
  };
  return l;
}

Codec makeCodec(int frame, int kbps) {
  Layout l{};
  g7221::makeLayout(frame, kbps * 1000, l);
  const bool wide = frame == 640;
  Codec c;
  c.name = std::string(wide ? "g7221c-" : "g7221-") + std::to_string(kbps);
  c.about = wide ? "ITU-T G.722.1 Annex C, 14 kHz audio at 32 kHz sampling, " + std::to_string(kbps) + " kbit/s"
                 : "ITU-T G.722.1, 7 kHz audio at 16 kHz sampling, " + std::to_string(kbps) + " kbit/s";
  c.sampleRate = wide ? 32000 : 16000;
  c.frameSamples = frame;
  c.maxPayload = l.bits / 8;
  c.bitRate = kbps * 1000;
  c.encoderSize = static_cast<int>(sizeof(Encoder));
  c.decoderSize = static_cast<int>(sizeof(Decoder));
  c.initEncoder = [l](void* s, const Settings&) -> std::string {
    g7221::initEncoder(*static_cast<Encoder*>(s), l);
    return "";
  };
  c.initDecoder = [l](void* s, const Settings&) -> std::string {
    g7221::initDecoder(*static_cast<Decoder*>(s), l);
    return "";
  };
  c.encodeFrame = [l](void* s, const int16_t* pcm, uint8_t* payload, int* bytes) -> VokResult {
    uint16_t words[g7221::kMaxWords];
    const VokResult r = guarded([&] { return g7221::encodeFrame(*static_cast<Encoder*>(s), pcm, words); });
    if (r < 0) return r;
    for (int i = 0; i < l.bits / 16; ++i) {
      payload[2 * i] = static_cast<uint8_t>(words[i] >> 8);
      payload[2 * i + 1] = static_cast<uint8_t>(words[i]);
    }
    *bytes = l.bits / 8;
    return vokOk;
  };
  c.decodeFrame = [l](void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples) -> VokResult {
    const bool erased = lost || !payload;
    if (!erased && bytes != l.bits / 8) return vokErrSize;
    uint16_t words[g7221::kMaxWords];
    if (!erased)
      for (int i = 0; i < l.bits / 16; ++i) words[i] = static_cast<uint16_t>(payload[2 * i] << 8 | payload[2 * i + 1]);
    *samples = l.frame;
    return guarded(
        [&] { return g7221::decodeFrame(*static_cast<Decoder*>(s), erased ? nullptr : words, erased, pcm); });
  };
  c.itu = g192Layout(l.bits);
  c.layouts = {packedLayout(l.bits), packetLayout()};
  c.options = {{"frames", "1..100 (frames per rtp-packets packet)", kEncoderOption}};
  return c;
}

std::vector<int16_t> asWords(const std::vector<uint8_t>& b) {
  std::vector<int16_t> w(b.size() / 2);
  for (std::size_t i = 0; i < w.size(); ++i) w[i] = static_cast<int16_t>(b[2 * i] | b[2 * i + 1] << 8);
  return w;
}

// The ten mappings of the official vectors (7 kHz mode).
void addChecks(Registry& r) {
  const std::string dir = "/g7221/g722_1_";
  for (const int kbps : {24, 32}) {
    const std::string rate = std::to_string(kbps) + "000";
    const Codec* c = r.find("g7221-" + std::to_string(kbps));
    for (const char* fmt : {"packed", "itu"}) {
      const std::string ext = std::string(fmt) == "packed" ? ".pak" : ".itu";
      r.checks.push_back({"g7221 encode " + rate + ext, [=](const std::string& root) -> std::string {
                            std::vector<int16_t> in, want;
                            const std::string out = "enc_out_" + rate + ext;
                            if (!readFileWords(root + dir + "enc_in.pcm", in) || !readFileWords(root + dir + out, want))
                              return "missing enc_in.pcm or " + out;
                            Options o;
                            o.format = fmt;
                            std::vector<uint8_t> bits;
                            std::string err;
                            if (!c->encode(in, o, bits, err)) return err;
                            return firstDifference(asWords(bits), want, static_cast<std::size_t>(kbps * 20 / 16),
                                                   "frame");
                          }});
      r.checks.push_back({"g7221 decode " + rate + ext, [=](const std::string& root) -> std::string {
                            std::vector<uint8_t> in;
                            std::vector<int16_t> want, got;
                            const std::string src = "enc_out_" + rate + ext;
                            if (!readFileBytes(root + dir + src, in) ||
                                !readFileWords(root + dir + "dec_out_" + rate + ".pcm", want))
                              return "missing " + src + " or dec_out_" + rate + ".pcm";
                            Options o;
                            o.format = fmt;
                            std::string err;
                            if (!c->decode(in, o, got, err)) return err;
                            return firstDifference(got, want, 320, "frame");
                          }});
    }
    r.checks.push_back({"g7221 decode " + rate + " erasures", [=](const std::string& root) -> std::string {
                          std::vector<uint8_t> in;
                          std::vector<int16_t> want, got;
                          if (!readFileBytes(root + dir + "dec_in_" + rate + "_fe.itu", in) ||
                              !readFileWords(root + dir + "dec_out_" + rate + "_fe.pcm", want))
                            return "missing dec_in_" + rate + "_fe.itu or dec_out_" + rate + "_fe.pcm";
                          std::string err;
                          if (!c->decode(in, Options{}, got, err)) return err;
                          return firstDifference(got, want, 320, "frame");
                        }});
  }
}

}  // namespace

void addG7221Codecs(Registry& r) {
  r.codecs.push_back(makeCodec(320, 24));
  r.codecs.push_back(makeCodec(320, 32));
  r.codecs.push_back(makeCodec(640, 24));
  r.codecs.push_back(makeCodec(640, 32));
  r.codecs.push_back(makeCodec(640, 48));
  addChecks(r);
}

}  // namespace vokc
