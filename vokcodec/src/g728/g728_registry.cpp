// G.728 16 kbit/s in the codec registry: 2.5 ms frames of four codewords.
// rtp: the four 10-bit codewords packed most significant bit first into 5
// bytes (RTP payload type 15); itu: one codeword per 16-bit little-endian
// word, as the standard's test sequences.  Options: postfilter=0|1 (decoder,
// default 1).  A lost frame is concealed as the standard's erasure annex
// describes, with a 2.5 ms erasure unit.
#include <new>
#include <string>
#include <vector>

#include "checked_call.h"
#include "g728/g728_coder.h"
#include "registry.h"

namespace vokc {
namespace {

constexpr int kVectors = 4;
constexpr int kFrame = kVectors * g728::kDim;
constexpr int kPayload = 5;

void pack(const int16_t* cw, uint8_t* out) {
  uint64_t bits = 0;
  for (int i = 0; i < kVectors; ++i) bits = (bits << 10) | (static_cast<uint16_t>(cw[i]) & 0x3FF);
  for (int i = kPayload - 1; i >= 0; --i, bits >>= 8) out[i] = static_cast<uint8_t>(bits & 0xFF);
}

void unpack(const uint8_t* in, int16_t* cw) {
  uint64_t bits = 0;
  for (int i = 0; i < kPayload; ++i) bits = (bits << 8) | in[i];
  for (int i = kVectors - 1; i >= 0; --i, bits >>= 10) cw[i] = static_cast<int16_t>(bits & 0x3FF);
}

}  // namespace

void addG728Codecs(Registry& r) {
  Codec c;
  c.name = "g728";
  c.about = "G.728 LD-CELP 16 kbit/s (rtp: RTP payload type 15, four packed 10-bit codewords per 2.5 ms; "
            "itu: one codeword per 16-bit word; decoder option postfilter=0|1)";
  c.frameSamples = kFrame;
  c.maxPayload = kPayload;
  c.bitRate = 16000;
  c.options = {{"postfilter", "0|1", kDecoderOption}};
  c.encoderSize = static_cast<int>(sizeof(g728::Encoder));
  c.decoderSize = static_cast<int>(sizeof(g728::Decoder));
  c.initEncoder = [](void* s, const Settings&) -> std::string {
    auto* e = new (s) g728::Encoder();
    return guarded([&] { e->init(); return vokOk; }) == vokOk ? "" : "g728 encoder init failed";
  };
  c.initDecoder = [](void* s, const Settings& set) -> std::string {
    const std::string pf = set.get("postfilter", "1");
    if (pf != "0" && pf != "1") return "postfilter " + pf + " is not 0 or 1";
    auto* d = new (s) g728::Decoder();
    return guarded([&] { d->init(pf == "1"); return vokOk; }) == vokOk ? "" : "g728 decoder init failed";
  };
  c.encodeFrame = [](void* s, const int16_t* pcm, uint8_t* payload, int* bytes) -> VokResult {
    return guarded([&] {
      int16_t cw[kVectors];
      for (int i = 0; i < kVectors; ++i) cw[i] = static_cast<g728::Encoder*>(s)->encode(pcm + g728::kDim * i);
      pack(cw, payload);
      *bytes = kPayload;
      return vokOk;
    });
  };
  c.decodeFrame = [](void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples) -> VokResult {
    *samples = kFrame;
    const bool erased = lost || !payload;
    if (!erased && bytes != kPayload) return vokErrSize;
    int16_t cw[kVectors] = {0, 0, 0, 0};
    if (!erased) unpack(payload, cw);
    return guarded([&] {
      for (int i = 0; i < kVectors; ++i)
        static_cast<g728::Decoder*>(s)->decode(cw[i], erased && i == 0, pcm + g728::kDim * i);
      return vokOk;
    });
  };
  c.itu.write = [](const uint8_t* payload, int, std::vector<uint8_t>& out) {
    int16_t cw[kVectors];
    unpack(payload, cw);
    for (int16_t v : cw) out.push_back(static_cast<uint8_t>(v & 0xFF)), out.push_back(static_cast<uint8_t>(v >> 8));
  };
  c.itu.read = [](const ByteInput& in, std::size_t frame, ReceivedFrame& out, std::string& err) {
    uint8_t w[2 * kVectors];
    const std::size_t got = in(w, sizeof w);
    if (got == 0) return false;
    if (got != sizeof w) {
      err = "truncated bitstream: frame " + std::to_string(frame) + " has " + std::to_string(got) + " of 8 bytes";
      return false;
    }
    int16_t cw[kVectors];
    for (int i = 0; i < kVectors; ++i) {
      cw[i] = static_cast<int16_t>(w[2 * i] | (w[2 * i + 1] << 8));
      if (cw[i] < 0 || cw[i] > 1023) {
        err = "codeword " + std::to_string(i) + " of frame " + std::to_string(frame) + " exceeds 10 bits";
        return false;
      }
    }
    out.payload.resize(kPayload);
    pack(cw, out.payload.data());
    out.samples = kFrame;
    return true;
  };
  r.codecs.push_back(c);

  // Conformance: 6 encoder runs, 6 decoder runs without and 1 with post-filter.
  for (int n = 1; n <= 6; ++n) {
    const std::string N = std::to_string(n);
    r.checks.push_back({"g728 encode in" + N, [N, c](const std::string& root) -> std::string {
                          std::vector<int16_t> inp, want;
                          if (!readFileWords(root + "/g728/in" + N + ".bin", inp)) return "missing in" + N + ".bin";
                          if (!readFileWords(root + "/g728/incw" + N + "g.bin", want)) return "missing incw" + N + "g.bin";
                          std::vector<uint8_t> bits;
                          std::string err;
                          if (!c.encode(inp, Options{}, bits, err)) return err;
                          std::vector<int16_t> got(bits.size() / 2);
                          for (std::size_t i = 0; i < got.size(); ++i)
                            got[i] = static_cast<int16_t>(bits[2 * i] | (bits[2 * i + 1] << 8));
                          return firstDifference(got, want, 1, "codeword");
                        }});
  }
  for (int n = 0; n <= 6; ++n) {
    const bool post = n == 0;
    const std::string N = std::to_string(post ? 4 : n);
    const std::string out = post ? "outb4g.bin" : "outa" + N + "g.bin";
    r.checks.push_back({"g728 decode cw" + N + (post ? " postfilter" : ""),
                        [N, out, post, c](const std::string& root) -> std::string {
                          std::vector<uint8_t> cw;
                          std::vector<int16_t> want, got;
                          if (!readFileBytes(root + "/g728/cw" + N + ".bin", cw)) return "missing cw" + N + ".bin";
                          if (!readFileWords(root + "/g728/" + out, want)) return "missing " + out;
                          Options o;
                          o.extra = post ? "postfilter=1" : "postfilter=0";
                          std::string err;
                          if (!c.decode(cw, o, got, err)) return err;
                          return firstDifference(got, want, g728::kDim, "vector");
                        }});
  }
}

}  // namespace vokc
