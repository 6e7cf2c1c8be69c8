// GSM 06.10 full rate in the codec registry: the 33-byte frame as payload
// (RTP payload type 3, the .gsm files of toast and sox), the ETSI test
// format (76 parameter words per frame) as the ITU layout, and the 13 ETSI
// conformance mappings.
#include <new>
#include <string>
#include <vector>

#include "checked_call.h"
#include "gsmfr_codec.h"
#include "registry.h"

namespace vokc {
namespace {

using gsmfr::kFrame;
using gsmfr::kParams;

void setFrames(Codec& c) {
  c.frameSamples = kFrame;
  c.maxPayload = gsmfr::kPackedBytes;
  c.bitRate = 13000;
  c.payloadBits = [](const uint8_t*, int bytes) { return bytes == gsmfr::kPackedBytes ? 260 : 8 * bytes; };  // after the 4-bit signature
  c.encoderSize = static_cast<int>(sizeof(gsmfr::Encoder));
  c.decoderSize = static_cast<int>(sizeof(gsmfr::Decoder));
  c.initEncoder = [](void* s, const Settings&) -> std::string {
    new (s) gsmfr::Encoder();
    return "";
  };
  c.initDecoder = [](void* s, const Settings&) -> std::string {
    new (s) gsmfr::Decoder();
    return "";
  };
  c.encodeFrame = [](void* s, const int16_t* pcm, uint8_t* payload, int* bytes) -> VokResult {
    return guarded([&] {
      int16_t p[kParams];
      static_cast<gsmfr::Encoder*>(s)->encode(pcm, p);
      gsmfr::packFrame(p, payload);
      *bytes = gsmfr::kPackedBytes;
      return vokOk;
    });
  };
  c.decodeFrame = [](void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples) -> VokResult {
    *samples = kFrame;
    if (lost || !payload) {  // no concealment in 06.10 itself: silence
      for (int i = 0; i < kFrame; ++i) pcm[i] = 0;
      return vokOk;
    }
    if (bytes != gsmfr::kPackedBytes) return vokErrSize;
    int16_t p[kParams];
    gsmfr::unpackFrame(payload, p);
    return guarded([&] {
      static_cast<gsmfr::Decoder*>(s)->decode(p, pcm);
      return vokOk;
    });
  };
  c.itu.write = [](const uint8_t* payload, int, std::vector<uint8_t>& out) {
    int16_t p[kParams];
    gsmfr::unpackFrame(payload, p);
    for (int16_t v : p) out.push_back(static_cast<uint8_t>(v & 0xFF)), out.push_back(static_cast<uint8_t>(v >> 8));
  };
  c.itu.read = [](const ByteInput& in, std::size_t frame, ReceivedFrame& out, std::string& err) {
    uint8_t w[2 * kParams];
    const std::size_t got = in(w, sizeof w);
    if (got == 0) return false;
    if (got != sizeof w) {
      err = "truncated bitstream: frame " + std::to_string(frame) + " has " + std::to_string(got) + " of " +
            std::to_string(sizeof w) + " bytes";
      return false;
    }
    // One right-justified parameter per word: higher bits mean the file is
    // not in this format.
    int16_t p[kParams];
    for (int i = 0; i < kParams; ++i) {
      p[i] = static_cast<int16_t>(w[2 * i] | (w[2 * i + 1] << 8));
      if (p[i] < 0 || p[i] >= (1 << gsmfr::kParamBits[i])) {
        err = "parameter " + std::to_string(i) + " of frame " + std::to_string(frame) + " exceeds its " +
              std::to_string(gsmfr::kParamBits[i]) + " bits";
        return false;
      }
    }
    out.payload.resize(gsmfr::kPackedBytes);
    gsmfr::packFrame(p, out.payload.data());
    out.samples = kFrame;
    return true;
  };
}

}  // namespace

void addGsmfrCodecs(Registry& r) {
  Codec c;
  c.name = "gsm-fr";
  c.about = "GSM 06.10 full rate (RPE-LTP) 13 kbit/s (rtp: 33-byte frames, the default for .gsm files; "
            "itu: the ETSI test format of 76 parameter words)";
  setFrames(c);
  r.codecs.push_back(c);
  for (int n = 1; n <= 5; ++n) {
    const std::string seq = "Seq0" + std::to_string(n);
    r.checks.push_back({"gsm-fr decode " + seq, [seq, c](const std::string& root) -> std::string {
                          std::vector<uint8_t> cod;
                          std::vector<int16_t> out, got;
                          if (!readFileBytes(root + "/gsmfr/" + seq + ".cod", cod)) return "missing " + seq + ".cod";
                          if (!readFileWords(root + "/gsmfr/" + seq + ".out", out)) return "missing " + seq + ".out";
                          std::string err;
                          if (!c.decode(cod, Options{}, got, err)) return err;
                          return firstDifference(got, out, kFrame, "frame");
                        }});
    if (n == 5) continue;
    for (int both = 0; both < 2; ++both)
      r.checks.push_back({"gsm-fr " + std::string(both ? "encode+decode " : "encode ") + seq,
                          [seq, both, c](const std::string& root) -> std::string {
                            std::vector<int16_t> inp, want;
                            if (!readFileWords(root + "/gsmfr/" + seq + ".inp", inp)) return "missing " + seq + ".inp";
                            const std::string ref = root + "/gsmfr/" + seq + (both ? ".out" : ".cod");
                            if (!readFileWords(ref, want)) return "missing " + ref;
                            std::vector<uint8_t> bits;
                            std::vector<int16_t> got;
                            std::string err;
                            if (!c.encode(inp, Options{}, bits, err)) return err;
                            if (!both) {
                              std::vector<int16_t> w(bits.size() / 2);
                              for (std::size_t i = 0; i < w.size(); ++i)
                                w[i] = static_cast<int16_t>(bits[2 * i] | (bits[2 * i + 1] << 8));
                              return firstDifference(w, want, kParams, "frame");
                            }
                            if (!c.decode(bits, Options{}, got, err)) return err;
                            return firstDifference(got, want, kFrame, "frame");
                          }});
  }
}

}  // namespace vokc
