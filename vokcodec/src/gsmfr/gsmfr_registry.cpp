// GSM 06.10 full rate in the codec registry: the ETSI test format (76
// parameter words per frame) and the 33-byte frame ("gsm"; an RTP payload
// of type 3 carries the same bytes), and the 13 ETSI conformance mappings.
#include <string>
#include <vector>

#include "gsmfr_codec.h"
#include "registry.h"

namespace vokc {
namespace {

using gsmfr::kFrame;
using gsmfr::kParams;

bool packed(const Options& o, std::string& err, bool& isPacked) {
  isPacked = o.format == "gsm" || o.format == "rtp";
  if (isPacked || o.format == "itu") return true;
  err = "unknown bitstream format '" + o.format + "' (itu: 76 16-bit parameter words per frame; gsm, rtp: 33-byte frames)";
  return false;
}

bool encodeGsm(const std::vector<int16_t>& pcm, const Options& o, std::vector<uint8_t>& bits, std::string& err) {
  bool isPacked;
  if (!packed(o, err, isPacked)) return false;
  gsmfr::Encoder enc;
  int16_t p[kParams];
  const std::size_t frames = pcm.size() / kFrame;
  for (std::size_t f = 0; f < frames; ++f) {
    if (!enc.encode(&pcm[f * kFrame], p)) {
      err = "library call failed in frame " + std::to_string(f);
      return false;
    }
    if (isPacked) {
      uint8_t b[gsmfr::kPackedBytes];
      gsmfr::packFrame(p, b);
      bits.insert(bits.end(), b, b + gsmfr::kPackedBytes);
    } else {
      for (int16_t v : p) bits.push_back(static_cast<uint8_t>(v & 0xFF)), bits.push_back(static_cast<uint8_t>(v >> 8));
    }
    if (o.progress && f % 256 == 0) o.progress(double(f) / frames);
  }
  return true;
}

bool decodeGsm(const std::vector<uint8_t>& bits, const Options& o, std::vector<int16_t>& pcm, std::string& err) {
  bool isPacked;
  if (!packed(o, err, isPacked)) return false;
  const std::size_t size = isPacked ? gsmfr::kPackedBytes : 2 * kParams;
  if (bits.size() % size) {
    err = "the stream is not a whole number of " + std::to_string(size) + "-byte frames";
    return false;
  }
  gsmfr::Decoder dec;
  int16_t p[kParams], out[kFrame];
  for (std::size_t at = 0; at < bits.size(); at += size) {
    if (isPacked) {
      gsmfr::unpackFrame(&bits[at], p);
    } else {
      // ETSI words hold one right-justified parameter each: higher bits
      // mean the file is not in that format.
      for (int i = 0; i < kParams; ++i) {
        p[i] = static_cast<int16_t>(bits[at + 2 * i] | (bits[at + 2 * i + 1] << 8));
        if (p[i] < 0 || p[i] >= (1 << gsmfr::kParamBits[i])) {
          err = "parameter " + std::to_string(i) + " of frame " + std::to_string(at / size) + " exceeds its " +
                std::to_string(gsmfr::kParamBits[i]) + " bits";
          return false;
        }
      }
    }
    if (!dec.decode(p, out)) {
      err = "library call failed";
      return false;
    }
    pcm.insert(pcm.end(), out, out + kFrame);
  }
  return true;
}

std::vector<int16_t> words(const std::vector<uint8_t>& b) {
  std::vector<int16_t> w(b.size() / 2);
  for (std::size_t i = 0; i < w.size(); ++i) w[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
  return w;
}

}  // namespace

void addGsmfrCodecs(Registry& r) {
  Codec c;
  c.name = "gsm-fr";
  c.about = "GSM 06.10 full rate (RPE-LTP) 13 kbit/s (--format gsm: 33-byte frames, the default for .gsm files; "
            "itu: the ETSI test format)";
  c.encode = encodeGsm;
  c.decode = decodeGsm;
  r.codecs.push_back(c);
  for (int n = 1; n <= 5; ++n) {
    const std::string seq = "Seq0" + std::to_string(n);
    r.checks.push_back({"gsm-fr decode " + seq, [seq](const std::string& root) -> std::string {
                          std::vector<uint8_t> cod;
                          std::vector<int16_t> out, got;
                          if (!readFileBytes(root + "/gsmfr/" + seq + ".cod", cod)) return "missing " + seq + ".cod";
                          if (!readFileWords(root + "/gsmfr/" + seq + ".out", out)) return "missing " + seq + ".out";
                          std::string err;
                          if (!decodeGsm(cod, Options{}, got, err)) return err;
                          return firstDifference(got, out, kFrame, "frame");
                        }});
    if (n == 5) continue;
    for (int both = 0; both < 2; ++both)
      r.checks.push_back({"gsm-fr " + std::string(both ? "encode+decode " : "encode ") + seq,
                          [seq, both](const std::string& root) -> std::string {
                            std::vector<int16_t> inp, want;
                            if (!readFileWords(root + "/gsmfr/" + seq + ".inp", inp)) return "missing " + seq + ".inp";
                            const std::string ref = root + "/gsmfr/" + seq + (both ? ".out" : ".cod");
                            if (!readFileWords(ref, want)) return "missing " + ref;
                            std::vector<uint8_t> bits;
                            std::vector<int16_t> got;
                            std::string err;
                            if (!encodeGsm(inp, Options{}, bits, err)) return err;
                            if (!both) return firstDifference(words(bits), want, kParams, "frame");
                            if (!decodeGsm(bits, Options{}, got, err)) return err;
                            return firstDifference(got, want, kFrame, "frame");
                          }});
  }
}

}  // namespace vokc
