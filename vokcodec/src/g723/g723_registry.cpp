// G.723.1 in the codec registry: whole-stream coding in the packed frame
// layout (24 / 20 / 4 / 1 bytes; an RTP payload carries the same bytes) and
// the 21 conformance runs of the ITU test sequences.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "checked_call.h"
#include "g723_codec.h"
#include "registry.h"

namespace vokc {
namespace {

using g723::kFrame;

// The coder objects live in the framework's state memory (plain members,
// built in place by init).
g723::Encoder* encoderOf(void* s) { return static_cast<g723::Encoder*>(s); }
g723::Decoder* decoderOf(void* s) { return static_cast<g723::Decoder*>(s); }

bool flag(const Settings& s, const char* key, bool fallback) { return s.get(key, fallback ? "1" : "0") != "0"; }

void setFrames(Codec& c, int rate) {
  c.frameSamples = kFrame;
  c.maxPayload = 24;
  c.bitRate = rate ? 5300 : 6300;
  c.fixedPayload = false;
  // 189 or 158 bits of speech parameters beside the frame-type bits.
  c.payloadBits = [](const uint8_t*, int bytes) { return bytes == 24 ? 189 : bytes == 20 ? 158 : 8 * bytes; };
  c.payloadSize = g723::packedSize;  // rtp: the packed frames back to back, as in the ITU layout
  c.options = {{"bitrate", "6.3|5.3", kEncoderOption | kRunningOption},
               {"dtx", "0|1", kEncoderOption},
               {"highpass", "0|1", kEncoderOption},
               {"postfilter", "0|1", kDecoderOption}};
  c.rateFileValues = {"6.3", "5.3"};
  c.encoderSize = static_cast<int>(sizeof(g723::Encoder) + sizeof(int));
  c.decoderSize = static_cast<int>(sizeof(g723::Decoder));
  auto rateOf = [](const Settings& s, int fallback, int& out) {
    const std::string v = s.get("bitrate", fallback ? "5.3" : "6.3");
    if (v != "6.3" && v != "5.3") return "bitrate " + v + " is not 6.3 or 5.3";
    out = v == "5.3" ? g723::kActive53 : g723::kActive63;
    return std::string();
  };
  // The current rate sits after the coder object.
  auto rateSlot = [](void* s) { return reinterpret_cast<int*>(static_cast<unsigned char*>(s) + sizeof(g723::Encoder)); };
  c.initEncoder = [rate, rateOf, rateSlot](void* s, const Settings& set) -> std::string {
    int r = 0;
    const std::string err = rateOf(set, rate, r);
    if (!err.empty()) return err;
    new (s) g723::Encoder(flag(set, "highpass", true), flag(set, "dtx", false));
    *rateSlot(s) = r;
    return "";
  };
  c.setEncoder = [rate, rateOf, rateSlot](void* s, const Settings& set) -> std::string {
    int r = 0;
    const std::string err = rateOf(set, rate, r);
    if (err.empty()) *rateSlot(s) = r;
    return err;
  };
  c.initDecoder = [](void* s, const Settings& set) -> std::string {
    new (s) g723::Decoder(flag(set, "postfilter", true));
    return "";
  };
  c.encodeFrame = [rateSlot](void* s, const int16_t* pcm, uint8_t* payload, int* bytes) -> VokResult {
    return guarded([&] {
      std::size_t n = 0;
      encoderOf(s)->encode(pcm, *rateSlot(s), payload, n);
      *bytes = static_cast<int>(n);
      return vokOk;
    });
  };
  c.decodeFrame = [](void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples) -> VokResult {
    static const uint8_t kNoFrame = g723::kUntransmitted;
    if (!lost && payload && bytes == 0) payload = &kNoFrame, bytes = 1;  // untransmitted (DTX) frame
    if (!lost && (!payload || bytes < 1 || static_cast<std::size_t>(bytes) != g723::packedSize(payload[0])))
      return vokErrSize;
    *samples = kFrame;
    return guarded([&] {
      decoderOf(s)->decode(lost ? nullptr : payload, lost, pcm);
      return vokOk;
    });
  };
  // ITU layout: the packed frames one after the other (their first byte
  // tells their size).
  c.itu.write = [](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    if (bytes == 0) {
      out.push_back(g723::kUntransmitted);
      return;
    }
    out.insert(out.end(), payload, payload + bytes);
  };
  c.itu.read = [](const ByteInput& in, std::size_t frame, ReceivedFrame& out, std::string& err) {
    uint8_t first = 0;
    if (in(&first, 1) == 0) return false;
    const std::size_t n = g723::packedSize(first);
    out.payload.assign(n, 0);
    out.payload[0] = first;
    if (n > 1 && in(out.payload.data() + 1, n - 1) != n - 1) {
      err = "truncated bitstream at frame " + std::to_string(frame);
      return false;
    }
    out.samples = kFrame;
    return true;
  };
}

// Whole-stream runs of the conformance checks: the G.723.1 rate files hold
// one byte per frame and the erasure files one word per frame.
bool encodeG723(const Codec& c, const std::vector<int16_t>& pcm, bool hp, bool dtx, const std::vector<uint8_t>& rates,
                std::vector<uint8_t>& bits, std::string& err) {
  Settings set;
  set.set("highpass", hp ? "1" : "0");
  set.set("dtx", dtx ? "1" : "0");
  FrameCoder coder;
  err = coder.open(c, true, set);
  if (!err.empty()) return false;
  uint8_t frame[25];
  for (std::size_t f = 0; (f + 1) * kFrame <= pcm.size(); ++f) {
    if (f < rates.size()) {
      Settings r;
      r.set("bitrate", rates[f] ? "5.3" : "6.3");
      err = c.setEncoder(coder.state(), r);
      if (!err.empty()) return false;
    }
    int n = 0;
    if (c.encodeFrame(coder.state(), &pcm[f * kFrame], frame, &n) != vokOk) {
      err = "encoder failed at frame " + std::to_string(f);
      return false;
    }
    c.itu.write(frame, n, bits);
  }
  return true;
}

bool decodeG723(const Codec& c, const std::vector<uint8_t>& bits, bool post, const std::vector<int16_t>& lost,
                std::vector<int16_t>& pcm, std::string& err) {
  Settings set;
  set.set("postfilter", post ? "1" : "0");
  FrameCoder coder;
  err = coder.open(c, false, set);
  if (!err.empty()) return false;
  int16_t out[kFrame];
  std::size_t at = 0, f = 0;
  while (at < bits.size()) {
    const std::size_t n = g723::packedSize(bits[at]);
    if (at + n > bits.size()) {
      err = "cut frame at byte " + std::to_string(at);
      return false;
    }
    const bool gone = f < lost.size() && lost[f] != 0;
    int samples = 0;
    if (c.decodeFrame(coder.state(), gone ? nullptr : &bits[at], static_cast<int>(n), gone, out, &samples) != vokOk) {
      err = "decoder failed at frame " + std::to_string(f);
      return false;
    }
    pcm.insert(pcm.end(), out, out + kFrame);
    at += n;
    ++f;
  }
  return true;
}

std::string encoderRun(const Codec& c, const std::string& root, const std::string& in, const std::string& rateFile,
                       bool hp, bool dtx, const std::string& want) {
  const std::string d = root + "/g723/";
  std::vector<int16_t> pcm;
  std::vector<uint8_t> ref, got;
  if (!readFileWords(d + in, pcm)) return "missing " + in;
  if (!readFileBytes(d + want, ref)) return "missing " + want;
  std::vector<uint8_t> rates;
  if (!rateFile.empty() && !readFileBytes(d + rateFile, rates)) return "missing " + rateFile;
  std::string err;
  if (!encodeG723(c, pcm, hp, dtx, rates, got, err)) return err;
  std::size_t at = 0, f = 0;
  while (at < got.size() && at < ref.size()) {
    const std::size_t n = g723::packedSize(got[at]);
    if (at + n > ref.size() || std::memcmp(&got[at], &ref[at], n) != 0) return "first differing frame " + std::to_string(f);
    at += n;
    ++f;
  }
  return got.size() == ref.size() ? "" : "stream length differs";
}

std::string decoderRun(const Codec& c, const std::string& root, const std::string& in, const std::string& crc, bool post,
                       const std::string& want) {
  const std::string d = root + "/g723/";
  std::vector<uint8_t> bits;
  std::vector<int16_t> ref, got;
  if (!readFileBytes(d + in, bits)) return "missing " + in;
  if (!readFileWords(d + want, ref)) return "missing " + want;
  std::vector<int16_t> lost;
  if (!crc.empty() && !readFileWords(d + crc, lost)) return "missing " + crc;
  std::string err;
  if (!decodeG723(c, bits, post, lost, got, err)) return err;
  return firstDifference(got, ref, kFrame, "frame");
}

}  // namespace

void addG723Codecs(Registry& r) {
  const char* names[2] = {"g723-63", "g723-53"};
  for (int rate = 0; rate < 2; ++rate) {
    Codec c;
    c.name = names[rate];
    c.about = std::string("ITU-T G.723.1 at ") + (rate ? "5.3" : "6.3") +
              " kbit/s (dtx: Annex A; bitrate per frame; highpass=0, postfilter=0 switch those filters off; "
              "itu and rtp layouts: the packed 24/20/4/1-byte frames back to back)";
    setFrames(c, rate);
    r.codecs.push_back(c);
  }
  struct Enc { const char* in; int rate; const char* rates; bool hp, dtx; const char* want; };
  static const Enc enc[] = {
      {"PATHC63H.TIN", 0, "", true, false, "PATHC63H.RCO"}, {"PATHC53.TIN", 1, "", false, false, "PATHC53.RCO"},
      {"OVERC63.TIN", 0, "", false, false, "OVERC63.RCO"},  {"OVERC53H.TIN", 1, "", true, false, "OVERC53H.RCO"},
      {"CODEC63.TIN", 0, "", false, false, "CODEC63.RCO"},  {"INEQC53.TIN", 1, "", false, false, "INEQC53.RCO"},
      {"TAMEC63H.TIN", 0, "", true, false, "TAMEC63H.RCO"}, {"DTX63.TIN", 0, "", true, true, "DTX63.RCO"},
      {"DTX53MIX.TIN", 1, "", true, true, "DTX53.RCO"},     {"DTX53MIX.TIN", 0, "DTXMIX.RAT", true, true, "DTXMIX.RCO"},
  };
  const Codec both[2] = {r.codecs[r.codecs.size() - 2], r.codecs.back()};
  for (const Enc& e : enc)
    r.checks.push_back({std::string("g723 encode ") + e.want, [e, both](const std::string& root) {
                          return encoderRun(both[e.rate], root, e.in, e.rates, e.hp, e.dtx, e.want);
                        }});
  struct Dec { const char *in, *crc; bool post; const char* want; };
  static const Dec dec[] = {
      {"PATHD63P.TCO", "PATHD63P.CRC", true, "PATHD63P.ROU"}, {"PATHD53.TCO", "", false, "PATHD53.ROU"},
      {"OVERD63P.TCO", "", true, "OVERD63P.ROU"},             {"OVERD53.TCO", "", false, "OVERD53.ROU"},
      {"INEQD53.TCO", "", false, "INEQD53.ROU"},              {"TAMED63P.TCO", "TAMED63P.CRC", true, "TAMED63P.ROU"},
      {"DTX63.RCO", "", true, "DTX63.ROU"},                   {"DTX53.RCO", "", true, "DTX53.ROU"},
      {"DTXMIX.RCO", "", true, "DTXMIX.ROU"},                 {"DTX63B.TCO", "", true, "DTX63B.ROU"},
      {"DTX63E.TCO", "DTX63E.CRC", true, "DTX63E.ROU"},
  };
  for (const Dec& d : dec)
    r.checks.push_back({std::string("g723 decode ") + d.want, [d, both](const std::string& root) {
                          return decoderRun(both[0], root, d.in, d.crc, d.post, d.want);
                        }});
}

}  // namespace vokc
