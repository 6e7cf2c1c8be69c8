// GSM-AMR (AMR-NB) in the codec registry: the RFC 4867 octet-aligned
// payload as the frame payload; stream layouts itu (the 3GPP serial test
// format), storage (".amr" files), rtp / rtp-oa and rtp-be (payloads after a
// length octet); the conformance mappings of the TS 26.073 package.
#include <new>
#include <string>
#include <vector>

#include "amrnb/amrnb_bits.h"
#include "amrnb/amrnb_decoder.h"
#include "amrnb/amrnb_encoder.h"
#include "registry.h"

namespace vokc {
namespace {

using namespace amrnb;

struct EncoderState {
  AmrNbEncoder enc;
  int mode;
};

const std::vector<std::string> kModeNames = {"4.75", "5.15", "5.9", "6.7", "7.4", "7.95", "10.2", "12.2"};

// The requested mode of the settings ("mode" or "bitrate"), 12.2 when none.
bool settingsMode(const Settings& s, int& mode, std::string& err) {
  mode = 7;
  for (const char* key : {"mode", "bitrate"}) {
    if (!s.has(key)) continue;
    mode = modeFromName(s.get(key));
    if (mode < 0) {
      err = std::string(key) + " " + s.get(key) + " is not an AMR-NB mode (4.75, 5.15, 5.9, 6.7, 7.4, 7.95, 10.2, 12.2)";
      return false;
    }
  }
  return true;
}

// One frame from the encoder's parameter words.
Frame encodedFrame(const int16_t* prm, int txType, int usedMode, int requested) {
  Frame f;
  if (txType == kTxSpeechGood) {
    f.type = kSpeechGood;
    f.mode = usedMode;
    paramsToBits(usedMode, prm, f.bits);
  } else {
    f.type = txType == kTxSidFirst ? kSidFirst : txType == kTxSidUpdate ? kSidUpdate : kNoData;
    f.mode = f.type == kNoData ? -1 : requested;
    paramsToBits(kSidMode, prm, f.bits);  // a NO_DATA frame keeps them for the serial format
  }
  return f;
}

bool readExactly(const ByteInput& in, uint8_t* dst, std::size_t n, std::size_t frame, std::string& err) {
  const std::size_t got = n ? in(dst, n) : 0;
  if (got == n) return true;
  err = "truncated bitstream: frame " + std::to_string(frame) + " has " + std::to_string(got) + " of " +
        std::to_string(n) + " bytes";
  return false;
}

// Payload stream layouts over the octet-aligned frame payload: each frame
// after a length octet, in octet-aligned or bandwidth-efficient form.
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
    rx.payload.resize(kMaxPayload);
    rx.payload.resize(static_cast<std::size_t>(writePayload(f, rx.payload.data())));
    return true;
  };
  return l;
}

NamedLayout storageLayout() {
  NamedLayout l;
  l.name = "storage";
  l.about = "RFC 4867 storage file (#!AMR), the default for .amr files";
  l.header = std::string(kStorageMagic, 6);
  l.extension = ".amr";
  l.io.write = [](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    Frame f;
    std::string err;
    if (readPayload(payload, bytes, f, err)) writeStorageFrame(f, out);
  };
  l.io.read = [](const ByteInput& in, std::size_t frame, ReceivedFrame& rx, std::string& err) {
    uint8_t toc = 0;
    if (in(&toc, 1) == 0) return false;
    uint8_t data[32];
    const int n = storageFrameBytes((toc >> 3) & 15);
    if (!readExactly(in, data, static_cast<std::size_t>(n), frame, err)) return false;
    Frame f;
    if (!readStorageFrame(toc, data, n, f, err)) return false;
    rx.payload.resize(kMaxPayload);
    rx.payload.resize(static_cast<std::size_t>(writePayload(f, rx.payload.data())));
    return true;
  };
  return l;
}

void setCoder(Codec& c) {
  c.frameSamples = kFrame;
  c.maxPayload = kMaxPayload;
  c.bitRate = 12200;
  c.fixedPayload = false;
  c.options = {{"mode", "4.75|5.15|5.9|6.7|7.4|7.95|10.2|12.2", kEncoderOption | kRunningOption},
               {"bitrate", "4.75|5.15|5.9|6.7|7.4|7.95|10.2|12.2", kEncoderOption | kRunningOption},
               {"dtx", "0|1", kEncoderOption},
               {"vad", "1|2", kEncoderOption}};
  c.rateFileValues = kModeNames;
  c.rateFileName = [](const std::string& name) { return modeFromName(name); };  // MR122 ... as in allmodes.txt
  c.encoderSize = static_cast<int>(sizeof(EncoderState));
  c.decoderSize = static_cast<int>(sizeof(dec::Decoder));
  c.initEncoder = [](void* s, const Settings& set) -> std::string {
    auto* st = new (s) EncoderState();
    std::string err;
    if (!settingsMode(set, st->mode, err)) return err;
    const std::string dtx = set.get("dtx", "0"), vad = set.get("vad", "1");
    if (dtx != "0" && dtx != "1") return "dtx " + dtx + " is not 0 or 1";
    if (vad != "1" && vad != "2") return "vad " + vad + " is not 1 or 2";
    if (amrnbEncoderInit(&st->enc, dtx == "1", vad == "1" ? 1 : 2) != vokOk) return "the encoder is not available";
    return "";
  };
  c.setEncoder = [](void* s, const Settings& set) -> std::string {
    std::string err;
    settingsMode(set, static_cast<EncoderState*>(s)->mode, err);
    return err;
  };
  c.encodeFrame = [](void* s, const int16_t* pcm, uint8_t* payload, int* bytes) -> VokResult {
    auto* st = static_cast<EncoderState*>(s);
    int16_t prm[kMaxParams] = {};
    int tx = 0, used = 0;
    const VokResult r = amrnbEncodeFrame(&st->enc, pcm, st->mode, prm, &tx, &used);
    if (r != vokOk) return r;
    *bytes = writePayload(encodedFrame(prm, tx, used, st->mode), payload);
    return vokOk;
  };
  c.initDecoder = [](void* s, const Settings&) -> std::string {
    dec::decoderInit(new (s) dec::Decoder());
    return "";
  };
  c.decodeFrame = [](void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples) -> VokResult {
    Frame f;  // lost, or an untransmitted frame: NO_DATA
    std::string err;
    if (!lost && payload && bytes > 0 && !readPayload(payload, bytes, f, err)) return vokErrSize;
    *samples = kFrame;
    return dec::decodeFrame(static_cast<dec::Decoder*>(s), f, pcm);
  };
  c.itu.write = [](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    Frame f;
    std::string err;
    if (readPayload(payload, bytes, f, err)) writeSerialFrame(f, out);
  };
  c.itu.read = [](const ByteInput& in, std::size_t frame, ReceivedFrame& rx, std::string& err) {
    uint8_t words[2 * kSerialWords];
    const std::size_t got = in(words, sizeof words);
    if (got == 0) return false;
    if (got != sizeof words) {
      err = "truncated bitstream: frame " + std::to_string(frame) + " has " + std::to_string(got) + " of " +
            std::to_string(sizeof words) + " bytes";
      return false;
    }
    Frame f;
    if (!readSerialFrame(words, f, err)) {
      err = "frame " + std::to_string(frame) + ": " + err;
      return false;
    }
    rx.payload.resize(kMaxPayload);
    rx.payload.resize(static_cast<std::size_t>(writePayload(f, rx.payload.data(), kNoRequest, true)));
    rx.samples = kFrame;
    return true;
  };
  c.layouts = {storageLayout(), rtpLayout("rtp", false), rtpLayout("rtp-oa", false), rtpLayout("rtp-be", true)};
  // The bits a frame carries: speech bits, or the comfort-noise bits with
  // the SID type flag and mode indication; not the CMR and TOC octets.
  c.payloadBits = [](const uint8_t* p, int bytes) {
    Frame f;
    std::string err;
    if (!readPayload(p, bytes, f, err)) return 8 * bytes;
    return isSpeech(f.type) ? bitCount(f.mode) : isSid(f.type) ? kSidBits + 4 : 0;
  };
}

// The serial stream of the encoder for the package's mode file, written
// frame by frame (a NO_DATA frame keeps the comfort-noise bits of the last
// analysis, as the reference encoder leaves them).
std::string encodeVector(const std::string& root, int vad, std::vector<uint8_t>& serial) {
  std::vector<int16_t> pcm;
  std::vector<uint8_t> text;
  if (!readFileWords(root + "/amrnb/spch_dos.inp", pcm)) return "missing spch_dos.inp";
  if (!readFileBytes(root + "/amrnb/allmodes.txt", text)) return "missing allmodes.txt";
  std::vector<int> modes;
  std::string line;
  for (uint8_t ch : text) {
    if (ch == '\n') {
      if (!line.empty()) modes.push_back(modeFromName(line));
      line.clear();
    } else if (ch != '\r') {
      line += static_cast<char>(ch);
    }
  }
  auto* enc = new AmrNbEncoder();
  std::string err;
  if (amrnbEncoderInit(enc, true, vad) != vokOk) err = "encoder init failed";
  for (std::size_t f = 0; err.empty() && f < pcm.size() / kFrame && f < modes.size(); ++f) {
    int16_t prm[kMaxParams] = {};
    int tx = 0, used = 0;
    if (modes[f] < 0) err = "bad mode name in allmodes.txt";
    else if (amrnbEncodeFrame(enc, &pcm[f * kFrame], modes[f], prm, &tx, &used) != vokOk)
      err = "encoder failed at frame " + std::to_string(f);
    else
      writeSerialFrame(encodedFrame(prm, tx, used, modes[f]), serial);
  }
  delete enc;
  return err;
}

}  // namespace

void addAmrnbCodecs(Registry& r) {
  Codec c;
  c.name = "amr-nb";
  c.about = "3GPP AMR narrowband 4.75-12.2 kbit/s (storage: .amr files, the default for that name; rtp/rtp-oa, "
            "rtp-be: RFC 4867 payloads; itu: the 3GPP serial test format)";
  setCoder(c);
  r.codecs.push_back(c);
  for (const char* name : {"spch_dos", "spch_do2"}) {
    const std::string seq = name;
    r.checks.push_back({"amr-nb decode " + seq, [seq, c](const std::string& root) -> std::string {
                          std::vector<uint8_t> cod;
                          std::vector<int16_t> out, got;
                          if (!readFileBytes(root + "/amrnb/" + seq + ".cod", cod)) return "missing " + seq + ".cod";
                          if (!readFileWords(root + "/amrnb/" + seq + ".out", out)) return "missing " + seq + ".out";
                          std::string err;
                          if (!c.decode(cod, Options{}, got, err)) return err;
                          return firstDifference(got, out, kFrame, "frame");
                        }});
    const int vad = seq == "spch_dos" ? 1 : 2;
    r.checks.push_back({"amr-nb encode VAD" + std::to_string(vad) + " " + seq,
                        [seq, vad](const std::string& root) -> std::string {
                          std::vector<uint8_t> serial;
                          std::vector<int16_t> want;
                          const std::string err = encodeVector(root, vad, serial);
                          if (!err.empty()) return err;
                          if (!readFileWords(root + "/amrnb/" + seq + ".cod", want)) return "missing " + seq + ".cod";
                          std::vector<int16_t> got(serial.size() / 2);
                          for (std::size_t i = 0; i < got.size(); ++i)
                            got[i] = static_cast<int16_t>(serial[2 * i] | (serial[2 * i + 1] << 8));
                          return firstDifference(got, want, kSerialWords, "frame");
                        }});
  }
}

}  // namespace vokc
