// The float G.729A coder in the codec registry: whole-stream encode/decode in
// the ITU serial format and the RTP payload layout, and its interoperability
// checks.  The coder is not bit-exact, so the checks measure the
// signal-to-noise ratio of its output against the official decoder outputs
// (decoding) and of the fixed-point G.729A decoder's output of its streams
// against the official chain (encoding).
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "g729_stream.h"
#include "g729float_codec.h"

namespace vokc {

namespace {

constexpr int kFrame = 80;

}  // namespace

// The registry entry: the G.729 core frames over the float coder.
const Codec& g729FloatCodec() {
  static const Codec c = [] {
    Codec k;
    k.name = "g729a-float";
    k.about = "ITU-T G.729 Annex A in floating point (interoperable, not bit-exact)";
    k.encoderSize = g729StateSize(vokcG729FloatEncoderGetSize, false);
    k.decoderSize = g729StateSize(vokcG729FloatDecoderGetSize, false);
    k.initEncoder = [](void* s, const Settings&) -> std::string {
      return vokcG729FloatEncoderInit(s) == vokOk ? "" : "encoder initialisation failed";
    };
    k.initDecoder = [](void* s, const Settings&) -> std::string {
      return vokcG729FloatDecoderInit(s) == vokOk ? "" : "decoder initialisation failed";
    };
    setG729CoreFrames(k, vokcG729FloatEncode, vokcG729FloatDecode);
    return k;
  }();
  return c;
}

bool g729FloatEncode(const std::vector<int16_t>& pcm, const Options& opt, std::vector<uint8_t>& out,
                     std::string& err) {
  return g729FloatCodec().encode(pcm, opt, out, err);
}

bool g729FloatDecode(const std::vector<uint8_t>& in, const Options& opt, std::vector<int16_t>& pcm,
                     std::string& err) {
  return g729FloatCodec().decode(in, opt, pcm, err);
}

double snrDb(const std::vector<int16_t>& got, const std::vector<int16_t>& want) {
  double sig = 0.0, noise = 0.0;
  const std::size_t n = got.size() < want.size() ? got.size() : want.size();
  for (std::size_t i = 0; i < n; ++i) {
    const double w = want[i], d = double(got[i]) - w;
    sig += w * w;
    noise += d * d;
  }
  if (noise == 0.0) return 200.0;
  if (sig == 0.0) return -200.0;
  return 10.0 * std::log10(sig / noise);
}

namespace {

std::string formatDb(double db) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f dB", db);
  return buf;
}

// The fixed-point G.729A decoder over a serial stream (the reference
// decoder of the interoperability checks).
bool fixedDecode(const std::vector<uint8_t>& in, std::vector<int16_t>& pcm, std::string& err) {
  const Codec* fixed = registry().find("g729a");
  if (!fixed) {
    err = "no g729a codec";
    return false;
  }
  return fixed->decode(in, Options{}, pcm, err);
}

// "" when got reaches the limit's SNR against want (over the limit's
// leading frames when it names them), else the reason.
std::string snrVerdict(std::vector<int16_t>& got, std::vector<int16_t>& want, const FloatCheckLimit& limit,
                       double* measured) {
  if (got.size() != want.size())
    return "length " + std::to_string(got.size()) + " samples, expected " + std::to_string(want.size());
  if (limit.frames > 0 && got.size() > std::size_t(limit.frames) * kFrame) {
    got.resize(std::size_t(limit.frames) * kFrame);
    want.resize(got.size());
  }
  const double db = snrDb(got, want);
  if (measured) *measured = db;
  if (db < limit.minDb) return "SNR " + formatDb(db) + " below " + formatDb(limit.minDb);
  return "";
}

}  // namespace

// Limits about 2 dB under what the float reference decoder reaches on each
// file (ERASURE: 25 dB; the reference marks erasures by the sync word only
// and fails that file).  The fixed-point decoder rescales its excitation
// when its 16-bit synthesis overflows, which a float decoder never needs:
// OVERFLOW is measured over its first 224 frames, before that happens.
const std::vector<FloatCheckLimit>& g729FloatDecodeLimits() {
  static const std::vector<FloatCheckLimit> limits = {
      {"ALGTHM", 30.0, 0}, {"ERASURE", 25.0, 0}, {"FIXED", 33.0, 0}, {"LSP", 24.0, 0},
      {"OVERFLOW", 28.0, 224}, {"PARITY", 33.0, 0}, {"PITCH", 42.0, 0}, {"SPEECH", 35.0, 0},
      {"TAME", 34.0, 0}, {"TEST", 32.0, 0},
  };
  return limits;
}

// Limits about 2 dB under what the float reference encoder's streams reach
// through the same decoder (the synthetic FIXED input codes poorly).
const std::vector<FloatCheckLimit>& g729FloatEncodeLimits() {
  static const std::vector<FloatCheckLimit> limits = {
      {"ALGTHM", 13.0, 0}, {"FIXED", 5.0, 0},  {"LSP", 12.0, 0}, {"PITCH", 10.0, 0},
      {"SPEECH", 12.0, 0}, {"TAME", 22.0, 0}, {"TEST", 12.0, 0},
  };
  return limits;
}

std::string g729FloatDecodeCheck(const std::string& root, const FloatCheckLimit& limit, double* measured) {
  const std::string name = limit.name;
  const std::string dir = root + "/g729/annexA/";
  std::vector<uint8_t> bits;
  std::vector<int16_t> want;
  if (!readFileBytes(dir + name + ".BIT", bits)) return "missing " + dir + name + ".BIT";
  const std::string pst = dir + name + (name == "TEST" ? ".pst" : ".PST");
  if (!readFileWords(pst, want)) return "missing " + pst;
  std::vector<int16_t> got;
  std::string err;
  if (!g729FloatDecode(bits, Options{}, got, err)) return err;
  return snrVerdict(got, want, limit, measured);
}

std::string g729FloatEncodeCheck(const std::string& root, const FloatCheckLimit& limit, double* measured) {
  const std::string name = limit.name;
  const std::string dir = root + "/g729/annexA/";
  std::vector<int16_t> in, want;
  if (!readFileWords(dir + name + ".IN", in)) return "missing " + dir + name + ".IN";
  const std::string pst = dir + name + (name == "TEST" ? ".pst" : ".PST");
  if (!readFileWords(pst, want)) return "missing " + pst;
  std::vector<uint8_t> bits;
  std::string err;
  if (!g729FloatEncode(in, Options{}, bits, err)) return err;
  std::vector<int16_t> got;
  if (!fixedDecode(bits, got, err)) return err;
  return snrVerdict(got, want, limit, measured);
}

void addG729FloatCodecs(Registry& r) {
  r.codecs.push_back(g729FloatCodec());
  for (const auto& l : g729FloatDecodeLimits())
    r.checks.push_back({std::string("g729a-float decode ") + l.name + " (SNR)",
                        [l](const std::string& root) { return g729FloatDecodeCheck(root, l, nullptr); }});
  for (const auto& l : g729FloatEncodeLimits())
    r.checks.push_back({std::string("g729a-float encode ") + l.name + " (SNR through g729a)",
                        [l](const std::string& root) { return g729FloatEncodeCheck(root, l, nullptr); }});
}

}  // namespace vokc
