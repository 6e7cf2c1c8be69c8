// G.723.1 in the codec registry: whole-stream coding in the packed frame
// layout (24 / 20 / 4 / 1 bytes; an RTP payload carries the same bytes) and
// the 21 conformance runs of the ITU test sequences.
#include <cstring>
#include <string>
#include <vector>

#include "g723_codec.h"
#include "registry.h"

namespace vokc {
namespace {

using g723::kFrame;

bool knownFormat(const Options& o, std::string& err) {
  if (o.format == "itu" || o.format == "rtp") return true;
  err = "unknown bitstream format '" + o.format + "' (itu and rtp: the packed 24/20/4/1-byte frames)";
  return false;
}

// Mode bit 0 turns the encoder's high-pass filter off (encoding) or the
// post-filters off (decoding).  Rate file: one byte per frame, 0 = 6.3,
// 1 = 5.3 kbit/s (encoding); when decoding, the same option names an erasure
// file of one 16-bit word per frame (non-zero = lost).
bool encodeG723(int rate, const std::vector<int16_t>& pcm, const Options& o, std::vector<uint8_t>& bits,
                std::string& err) {
  if (!knownFormat(o, err)) return false;
  std::vector<uint8_t> rates;
  if (!o.rateFile.empty() && !readFileBytes(o.rateFile, rates)) {
    err = "cannot read rate file " + o.rateFile;
    return false;
  }
  g723::Encoder enc(!(o.mode & 1), o.dtx);
  uint8_t frame[24];
  const std::size_t frames = pcm.size() / kFrame;
  for (std::size_t f = 0; f < frames; ++f) {
    std::size_t n = 0;
    const int r = f < rates.size() ? (rates[f] ? g723::kActive53 : g723::kActive63) : rate;
    if (!enc.encode(&pcm[f * kFrame], r, frame, n)) {
      err = "library call failed in frame " + std::to_string(f);
      return false;
    }
    bits.insert(bits.end(), frame, frame + n);
    if (o.progress && f % 64 == 0) o.progress(double(f) / frames);
  }
  return true;
}

bool decodeG723(const std::vector<uint8_t>& bits, const Options& o, std::vector<int16_t>& pcm, std::string& err) {
  if (!knownFormat(o, err)) return false;
  std::vector<int16_t> lost;
  if (!o.rateFile.empty() && !readFileWords(o.rateFile, lost)) {
    err = "cannot read erasure file " + o.rateFile;
    return false;
  }
  g723::Decoder dec(!(o.mode & 1));
  int16_t out[kFrame];
  std::size_t at = 0, f = 0;
  while (at < bits.size()) {
    const std::size_t n = g723::packedSize(bits[at]);
    if (at + n > bits.size()) {
      err = "cut frame at byte " + std::to_string(at);
      return false;
    }
    if (!dec.decode(&bits[at], f < lost.size() && lost[f] != 0, out)) {
      err = "library call failed in frame " + std::to_string(f);
      return false;
    }
    pcm.insert(pcm.end(), out, out + kFrame);
    at += n;
    ++f;
    if (o.progress && f % 64 == 0) o.progress(double(at) / bits.size());
  }
  return true;
}

std::string encoderRun(const std::string& root, const std::string& in, int rate, const std::string& rateFile, bool hp,
                       bool dtx, const std::string& want) {
  const std::string d = root + "/g723/";
  std::vector<int16_t> pcm;
  std::vector<uint8_t> ref, got;
  if (!readFileWords(d + in, pcm)) return "missing " + in;
  if (!readFileBytes(d + want, ref)) return "missing " + want;
  Options o;
  o.mode = hp ? 0 : 1;
  o.dtx = dtx;
  if (!rateFile.empty()) o.rateFile = d + rateFile;
  std::string err;
  if (!encodeG723(rate, pcm, o, got, err)) return err;
  std::size_t at = 0, f = 0;
  while (at < got.size() && at < ref.size()) {
    const std::size_t n = g723::packedSize(got[at]);
    if (at + n > ref.size() || std::memcmp(&got[at], &ref[at], n) != 0) return "first differing frame " + std::to_string(f);
    at += n;
    ++f;
  }
  return got.size() == ref.size() ? "" : "stream length differs";
}

std::string decoderRun(const std::string& root, const std::string& in, const std::string& crc, bool post,
                       const std::string& want) {
  const std::string d = root + "/g723/";
  std::vector<uint8_t> bits;
  std::vector<int16_t> ref, got;
  if (!readFileBytes(d + in, bits)) return "missing " + in;
  if (!readFileWords(d + want, ref)) return "missing " + want;
  Options o;
  o.mode = post ? 0 : 1;
  if (!crc.empty()) o.rateFile = d + crc;
  std::string err;
  if (!decodeG723(bits, o, got, err)) return err;
  return firstDifference(got, ref, kFrame, "frame");
}

}  // namespace

void addG723Codecs(Registry& r) {
  const char* names[2] = {"g723-63", "g723-53"};
  for (int rate = 0; rate < 2; ++rate) {
    Codec c;
    c.name = names[rate];
    c.about = std::string("ITU-T G.723.1 at ") + (rate ? "5.3" : "6.3") +
              " kbit/s (--dtx: Annex A; --rate-file: per-frame rate bytes 0/1, or an erasure file when decoding; "
              "--mode 1: high-pass / post-filter off)";
    c.encode = [rate](const std::vector<int16_t>& pcm, const Options& o, std::vector<uint8_t>& bits,
                      std::string& err) { return encodeG723(rate, pcm, o, bits, err); };
    c.decode = decodeG723;
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
  for (const Enc& e : enc)
    r.checks.push_back({std::string("g723 encode ") + e.want, [e](const std::string& root) {
                          return encoderRun(root, e.in, e.rate, e.rates, e.hp, e.dtx, e.want);
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
    r.checks.push_back({std::string("g723 decode ") + d.want, [d](const std::string& root) {
                          return decoderRun(root, d.in, d.crc, d.post, d.want);
                        }});
}

}  // namespace vokc
