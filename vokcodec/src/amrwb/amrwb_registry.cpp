// AMR-WB in the codec registry: the RFC 4867 octet-aligned payload as the
// frame payload; stream layouts itu (the 3GPP test format of the TS 26.173
// vectors), storage (".awb" files), rtp / rtp-oa and rtp-be (payloads after
// a length octet); the conformance mappings of the TS 26.173 package.
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "amrwb/amrwb_bits.h"
#include "amrwb/amrwb_codec.h"
#include "amrwb/amrwb_decoder.h"
#include "registry.h"

namespace vokc {
namespace {

using namespace amrwb;

const std::vector<std::string> kModeNames = {"6.6",   "8.85",  "12.65", "14.25", "15.85",
                                             "18.25", "19.85", "23.05", "23.85"};
const char kModeList[] = "6.6|8.85|12.65|14.25|15.85|18.25|19.85|23.05|23.85";

// The encoder's record: the requested mode, then the encoder's own state.
constexpr std::size_t kEncoderHead = 16;
struct EncoderHead {
  int mode;
};
AmrWbEncoder* encoderOf(void* s) { return reinterpret_cast<AmrWbEncoder*>(static_cast<char*>(s) + kEncoderHead); }

bool settingsMode(const Settings& s, int& mode, std::string& err) {
  mode = 8;
  for (const char* key : {"mode", "bitrate"}) {
    if (!s.has(key)) continue;
    mode = modeFromName(s.get(key));
    if (mode < 0) {
      err = std::string(key) + " " + s.get(key) + " is not an AMR-WB mode (" + kModeList + ")";
      return false;
    }
  }
  return true;
}

// The frame of the encoder's parameters.
Frame encodedFrame(const FrameParams& p) {
  Frame f;
  static const RxType kTypes[4] = {kSpeechGood, kSidFirst, kSidUpdate, kNoData};
  f.type = kTypes[p.type & 3];
  f.mode = p.mode;
  paramsToBits(p, f.bits);  // a NO_DATA frame keeps the comfort-noise bits for the test format
  return f;
}

bool readExactly(const ByteInput& in, uint8_t* dst, std::size_t n, std::size_t frame, std::string& err) {
  const std::size_t got = n ? in(dst, n) : 0;
  if (got == n) return true;
  err = "truncated bitstream: frame " + std::to_string(frame) + " has " + std::to_string(got) + " of " +
        std::to_string(n) + " bytes";
  return false;
}

// testFormat: the frame comes from the test format (see kMarkDegraded,
// kMarkSidMode).
void toPayload(const Frame& f, ReceivedFrame& rx, bool testFormat = false) {
  rx.payload.resize(kMaxPayload);
  rx.payload.resize(static_cast<std::size_t>(writePayload(f, rx.payload.data(), kNoRequest, testFormat)));
  rx.lost = f.type == kSpeechLost;
  rx.samples = kFrame;
}

NamedLayout rtpLayout(const std::string& name, bool bandwidthEfficient) {
  NamedLayout l;
  l.name = name;
  l.about = bandwidthEfficient ? "RFC 4867 bandwidth-efficient payloads, each after a length octet"
                               : "RFC 4867 octet-aligned payloads, each after a length octet";
  l.io.write = [bandwidthEfficient](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    Frame f;
    std::string err;
    if (!readPayload(payload, bytes, f, err)) return;
    uint8_t p[kMaxPayload];
    const int n = bandwidthEfficient ? writePayloadBE(f, p) : writePayload(f, p);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), p, p + n);
  };
  l.io.read = [bandwidthEfficient](const ByteInput& in, std::size_t frame, ReceivedFrame& rx, std::string& err) {
    uint8_t len = 0;
    if (in(&len, 1) == 0) return false;
    uint8_t p[256];
    if (!readExactly(in, p, len, frame, err)) return false;
    Frame f;
    const bool ok = bandwidthEfficient ? readPayloadBE(p, len, f, err) : readPayload(p, len, f, err);
    if (!ok) {
      err = "frame " + std::to_string(frame) + ": " + err;
      return false;
    }
    toPayload(f, rx);
    return true;
  };
  return l;
}

NamedLayout storageLayout() {
  NamedLayout l;
  l.name = "storage";
  l.about = "RFC 4867 storage file (#!AMR-WB), the default for .awb files";
  l.header = std::string(kStorageMagic, 9);
  l.extension = ".awb";
  l.io.write = [](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    Frame f;
    std::string err;
    if (readPayload(payload, bytes, f, err)) writeStorageFrame(f, out);
  };
  l.io.read = [](const ByteInput& in, std::size_t frame, ReceivedFrame& rx, std::string& err) {
    uint8_t toc = 0;
    if (in(&toc, 1) == 0) return false;
    uint8_t data[64];
    const int n = storageFrameBytes((toc >> 3) & 15);
    if (!readExactly(in, data, static_cast<std::size_t>(n), frame, err)) return false;
    Frame f;
    if (!readStorageFrame(toc, data, n, f, err)) return false;
    toPayload(f, rx);
    return true;
  };
  return l;
}

void setCoder(Codec& c) {
  c.sampleRate = 16000;
  c.frameSamples = kFrame;
  c.maxPayload = kMaxPayload;
  c.bitRate = 23850;
  c.fixedPayload = false;
  c.options = {{"mode", kModeList, kEncoderOption | kRunningOption},
               {"bitrate", kModeList, kEncoderOption | kRunningOption},
               {"dtx", "0|1", kEncoderOption}};
  c.rateFileValues = kModeNames;
  c.rateFileName = [](const std::string& name) { return modeFromName(name); };
  c.encoderSize = static_cast<int>(kEncoderHead + amrwbEncoderSize());
  c.decoderSize = static_cast<int>(sizeof(dec::Decoder));
  c.initEncoder = [](void* s, const Settings& set) -> std::string {
    auto* head = new (s) EncoderHead();
    std::string err;
    if (!settingsMode(set, head->mode, err)) return err;
    const std::string dtx = set.get("dtx", "0");
    if (dtx != "0" && dtx != "1") return "dtx " + dtx + " is not 0 or 1";
    if (amrwbEncoderInit(encoderOf(s), dtx == "1") != vokOk) return "the encoder is not available";
    return "";
  };
  c.setEncoder = [](void* s, const Settings& set) -> std::string {
    std::string err;
    settingsMode(set, static_cast<EncoderHead*>(s)->mode, err);
    return err;
  };
  c.encodeFrame = [](void* s, const int16_t* pcm, uint8_t* payload, int* bytes) -> VokResult {
    FrameParams p;
    const VokResult r = amrwbEncodeFrame(encoderOf(s), pcm, static_cast<EncoderHead*>(s)->mode, &p);
    if (r != vokOk) return r;
    *bytes = writePayload(encodedFrame(p), payload);
    return vokOk;
  };
  c.initDecoder = [](void* s, const Settings&) -> std::string {
    dec::decoderInit(new (s) dec::Decoder());
    return "";
  };
  c.decodeFrame = [](void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples) -> VokResult {
    Frame f;  // an untransmitted frame: NO_DATA
    std::string err;
    if (lost) f.type = kSpeechLost;
    if (payload && bytes > 0 && !readPayload(payload, bytes, f, err)) return vokErrSize;
    if (isSid(f.type) && (payload[0] & 15) != kMarkSidMode) f.mode = -1;  // the decoder keeps its mode
    *samples = kFrame;
    return dec::decodeFrame(static_cast<dec::Decoder*>(s), f, pcm);
  };
  c.itu.write = [](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    Frame f;
    std::string err;
    if (readPayload(payload, bytes, f, err)) writeTestFrame(f, out);
  };
  c.itu.read = [](const ByteInput& in, std::size_t frame, ReceivedFrame& rx, std::string& err) {
    uint8_t words[2 * (3 + kMaxBits)];
    const std::size_t got = in(words, 6);
    if (got == 0) return false;
    if (got != 6) {
      err = "truncated bitstream: frame " + std::to_string(frame) + " has " + std::to_string(got) + " of 6 bytes";
      return false;
    }
    const int n = testFrameWords(words, err);
    if (n == 0) {
      err = "frame " + std::to_string(frame) + ": " + err;
      return false;
    }
    if (!readExactly(in, words + 6, static_cast<std::size_t>(2 * n - 6), frame, err)) return false;
    Frame f;
    readTestFrame(words, f);
    toPayload(f, rx, true);
    return true;
  };
  c.layouts = {storageLayout(), rtpLayout("rtp", false), rtpLayout("rtp-oa", false), rtpLayout("rtp-be", true)};
  c.payloadBits = [](const uint8_t* p, int bytes) {
    Frame f;
    std::string err;
    if (!readPayload(p, bytes, f, err)) return 8 * bytes;
    return isSpeech(f.type) ? bitCount(f.mode) : isSid(f.type) ? kSidBits + 5 : 0;
  };
}

// The test-format stream of the encoder for one input and mode, DTX on, as
// the package's vectors were made (NO_DATA frames keep the comfort-noise
// bits of the last analysis).
std::string encodeVector(const std::string& root, const std::string& input, int mode, std::vector<uint8_t>& out) {
  std::vector<int16_t> pcm;
  if (!readFileWords(root + "/amrwb/" + input, pcm)) return "missing " + input;
  std::vector<unsigned char> memory(amrwbEncoderSize() + 16);
  auto* enc = reinterpret_cast<AmrWbEncoder*>((reinterpret_cast<std::uintptr_t>(memory.data()) + 15) & ~std::uintptr_t{15});
  if (amrwbEncoderInit(enc, true) != vokOk) return "encoder init failed";
  FrameParams p;
  for (std::size_t f = 0; f < pcm.size() / kFrame; ++f) {
    if (amrwbEncodeFrame(enc, &pcm[f * kFrame], mode, &p) != vokOk) return "encoder failed at frame " + std::to_string(f);
    writeTestFrame(encodedFrame(p), out);
  }
  return "";
}

}  // namespace

void addAmrwbCodecs(Registry& r) {
  Codec c;
  c.name = "amr-wb";
  c.about = "3GPP AMR wideband 6.6-23.85 kbit/s (storage: .awb files; rtp/rtp-oa, rtp-be: RFC 4867 payloads; "
            "itu: the 3GPP test format)";
  setCoder(c);
  // Named codecs must encode and decode; until both sides are in, only the
  // conformance checks of the ready side run.
  if (kEncoderReady && dec::kDecoderReady) r.codecs.push_back(c);
  for (int m = 0; kEncoderReady && m <= kModes; ++m) {
    const std::string seq = m < kModes ? "tst_m" + std::to_string(m) : std::string("tst_md");
    const std::string input = m < kModes ? "tst.inp" : "dtx.inp";
    const int mode = m < kModes ? m : 2;
    r.checks.push_back({"amr-wb encode " + seq, [seq, input, mode](const std::string& root) -> std::string {
                          std::vector<uint8_t> bits;
                          std::vector<int16_t> want;
                          const std::string err = encodeVector(root, input, mode, bits);
                          if (!err.empty()) return err;
                          if (!readFileWords(root + "/amrwb/" + seq + ".cod", want)) return "missing " + seq + ".cod";
                          std::vector<int16_t> got(bits.size() / 2);
                          for (std::size_t i = 0; i < got.size(); ++i)
                            got[i] = static_cast<int16_t>(bits[2 * i] | (bits[2 * i + 1] << 8));
                          return firstDifference(got, want, 1, "word");
                        }});
  }
  if (!dec::kDecoderReady) return;
  for (const char* name : {"tst_m0", "tst_m1", "tst_m2", "tst_m3", "tst_m4", "tst_m5", "tst_m6", "tst_m7", "tst_m8",
                           "tst_md"}) {
    const std::string seq = name;
    r.checks.push_back({"amr-wb decode " + seq, [seq, c](const std::string& root) -> std::string {
                          std::vector<uint8_t> cod;
                          std::vector<int16_t> out, got;
                          if (!readFileBytes(root + "/amrwb/" + seq + ".cod", cod)) return "missing " + seq + ".cod";
                          if (!readFileWords(root + "/amrwb/" + seq + ".out", out)) return "missing " + seq + ".out";
                          std::string err;
                          if (!c.decode(cod, Options{}, got, err)) return err;
                          return firstDifference(got, out, kFrame, "frame");
                        }});
  }
}

}  // namespace vokc
