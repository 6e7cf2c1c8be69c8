// AMR-NB frame layouts: parameters <-> bits, RFC 4867 payloads and storage
// frames, the 3GPP serial test format.
#include "amrnb/amrnb_bits.h"

#include <cctype>

#include "amrnb/amrnb_tables.h"

namespace vokc::amrnb {
namespace {

const int16_t* const kWidths[9] = {kWidths475, kWidths515, kWidths59,  kWidths67, kWidths74,
                                   kWidths795, kWidths102, kWidths122, kWidthsSid};
const int16_t* const kOrders[8] = {kOrder475, kOrder515, kOrder59,  kOrder67,
                                   kOrder74,  kOrder795, kOrder102, kOrder122};
const int kBitCounts[9] = {95, 103, 118, 134, 148, 159, 204, 244, kSidBits};
const int kBitRates[8] = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};
const char* const kNames[8] = {"4.75", "5.15", "5.9", "6.7", "7.4", "7.95", "10.2", "12.2"};

constexpr int kFtSid = 8;
constexpr int kFtNoData = 15;
constexpr int kSidPayloadBits = kSidBits + 4;  // + STI + 3-bit mode indication

// A sequential MSB-first bit writer and reader over octets.
struct BitWriter {
  uint8_t* out;
  int at = 0;
  void put(int bit) {
    if ((at & 7) == 0) out[at >> 3] = 0;
    if (bit & 1) out[at >> 3] = static_cast<uint8_t>(out[at >> 3] | (0x80 >> (at & 7)));
    ++at;
  }
  void put(int value, int width) {
    for (int k = width - 1; k >= 0; --k) put(value >> k);
  }
  int bytes() const { return (at + 7) >> 3; }
};

struct BitReader {
  const uint8_t* in;
  int at = 0;
  int get() {
    const int b = (in[at >> 3] >> (7 - (at & 7))) & 1;
    ++at;
    return b;
  }
  int get(int width) {
    int v = 0;
    for (int k = 0; k < width; ++k) v = (v << 1) | get();
    return v;
  }
};

// The frame type field and quality bit a frame is sent with.
struct TocEntry {
  int ft;
  int q;
};

TocEntry tocOf(const Frame& f) {
  switch (f.type) {
    case kSpeechGood:
    case kSpeechDegraded:
      return {f.mode, 1};
    case kSpeechBad:
      return {f.mode, 0};
    case kSidFirst:
    case kSidUpdate:
      return {kFtSid, 1};
    case kSidBad:
      return {kFtSid, 0};
    default:
      return {kFtNoData, 1};
  }
}

// Bits carried after the TOC for a frame type field (0 for NO_DATA and the
// types this codec does not use).
int payloadBits(int ft) {
  if (ft >= 0 && ft < kSpeechModes) return kBitCounts[ft];
  return ft == kFtSid ? kSidPayloadBits : 0;
}

// The frame's bits in the order the RFC forms send them.
void putFrameBits(const Frame& f, int ft, BitWriter& w) {
  if (ft < kSpeechModes) {
    const int16_t* order = kOrders[ft];
    for (int k = 0; k < kBitCounts[ft]; ++k) w.put(f.bits[order[k]]);
  } else if (ft == kFtSid) {
    for (int k = 0; k < kSidBits; ++k) w.put(f.bits[k]);
    w.put(f.type == kSidUpdate ? 1 : 0);
    const int mi = f.mode < 0 ? 0 : f.mode;
    for (int k = 0; k < 3; ++k) w.put(mi >> k);  // mode indication, least significant bit first
  }
}

// Fills f from a frame type field, quality bit and the bits after the TOC.
void getFrameBits(int ft, int q, BitReader& r, Frame& f) {
  for (auto& b : f.bits) b = 0;
  if (ft < kSpeechModes) {
    const int16_t* order = kOrders[ft];
    for (int k = 0; k < kBitCounts[ft]; ++k) f.bits[order[k]] = static_cast<uint8_t>(r.get());
    f.type = q ? kSpeechGood : kSpeechBad;
    f.mode = ft;
  } else if (ft == kFtSid) {
    for (int k = 0; k < kSidBits; ++k) f.bits[k] = static_cast<uint8_t>(r.get());
    const int sti = r.get();
    int mi = 0;
    for (int k = 0; k < 3; ++k) mi |= r.get() << k;
    f.type = !q ? kSidBad : sti ? kSidUpdate : kSidFirst;
    f.mode = mi;
  } else {  // NO_DATA, and the other systems' comfort noise or reserved types, as the reference reads them
    f.type = kNoData;
    f.mode = -1;
  }
}

}  // namespace

const char kStorageMagic[7] = "#!AMR\n";

RxType rxFromTx(int tx) {
  static const RxType kMap[8] = {kSpeechGood,     kSidFirst,  kSidUpdate, kNoData,
                                 kSpeechDegraded, kSpeechBad, kSidBad,    kOnset};
  return kMap[tx & 7];
}

int txFromRx(RxType rx) {
  static const int kMap[8] = {kTxSpeechGood, kTxSpeechDegraded, kTxOnset,    kTxSpeechBad,
                              kTxSidFirst,   kTxSidUpdate,      kTxSidBad,   kTxNoData};
  return kMap[rx & 7];
}

bool isSpeech(RxType t) { return t == kSpeechGood || t == kSpeechDegraded || t == kSpeechBad; }
bool isSid(RxType t) { return t == kSidFirst || t == kSidUpdate || t == kSidBad; }

int paramCount(int mode) { return kParamCount[mode]; }
const int16_t* paramWidths(int mode) { return kWidths[mode]; }
int bitCount(int mode) { return kBitCounts[mode]; }
int modeBitRate(int mode) { return kBitRates[mode]; }
const char* modeName(int mode) { return kNames[mode]; }

int modeFromName(const std::string& name) {
  std::string digits;
  std::size_t at = 0;
  if (name.size() > 2 && std::toupper(static_cast<unsigned char>(name[0])) == 'M' &&
      std::toupper(static_cast<unsigned char>(name[1])) == 'R')
    at = 2;
  for (; at < name.size(); ++at)
    if (name[at] != '.') digits += name[at];
  for (int m = 0; m < kSpeechModes; ++m) {
    std::string plain;
    for (const char* c = kNames[m]; *c; ++c)
      if (*c != '.') plain += *c;
    if (digits == plain || digits == std::to_string(kBitRates[m])) return m;
  }
  return -1;
}

void paramsToBits(int mode, const int16_t* prm, uint8_t* bits) {
  const int16_t* w = kWidths[mode];
  for (int i = 0, at = 0; i < kParamCount[mode]; ++i)
    for (int k = w[i] - 1; k >= 0; --k) bits[at++] = static_cast<uint8_t>((prm[i] >> k) & 1);
}

void bitsToParams(int mode, const uint8_t* bits, int16_t* prm) {
  const int16_t* w = kWidths[mode];
  for (int i = 0, at = 0; i < kParamCount[mode]; ++i) {
    int v = 0;
    for (int k = 0; k < w[i]; ++k) v = (v << 1) | (bits[at++] & 1);
    prm[i] = static_cast<int16_t>(v);
  }
}

// ---- RFC 4867 payloads -------------------------------------------------------------

int writePayload(const Frame& f, uint8_t* out, int cmr, bool markRx) {
  const TocEntry toc = tocOf(f);
  int marker = 0;
  if (markRx) marker = f.type == kSpeechDegraded ? 1 : f.type == kOnset ? 8 | (f.mode < 0 ? 0 : f.mode & 7) : 0;
  out[0] = static_cast<uint8_t>(((cmr & 15) << 4) | marker);
  out[1] = static_cast<uint8_t>((toc.ft << 3) | (toc.q << 2));
  BitWriter w{out + 2};
  putFrameBits(f, toc.ft, w);
  return 2 + w.bytes();
}

bool readPayload(const uint8_t* p, int bytes, Frame& f, std::string& err, int* cmr) {
  if (bytes < 2) {
    err = "an AMR payload has at least 2 octets, this one " + std::to_string(bytes);
    return false;
  }
  if (p[1] & 0x80) {
    err = "payload holds several frames (one frame per payload is read)";
    return false;
  }
  const int ft = (p[1] >> 3) & 15, q = (p[1] >> 2) & 1;
  const int need = 2 + (payloadBits(ft) + 7) / 8;
  if (bytes != need) {
    err = "payload of " + std::to_string(bytes) + " octets for frame type " + std::to_string(ft) + " (needs " +
          std::to_string(need) + ")";
    return false;
  }
  BitReader r{p + 2};
  getFrameBits(ft, q, r, f);
  const int marker = p[0] & 15;
  if (marker == 1 && f.type == kSpeechGood) f.type = kSpeechDegraded;
  if ((marker & 8) && f.type == kNoData) {
    f.type = kOnset;
    f.mode = marker & 7;
  }
  if (cmr) *cmr = p[0] >> 4;
  return true;
}

int writePayloadBE(const Frame& f, uint8_t* out, int cmr) {
  const TocEntry toc = tocOf(f);
  BitWriter w{out};
  w.put(cmr, 4);
  w.put(0);  // F: last frame of the payload
  w.put(toc.ft, 4);
  w.put(toc.q);
  putFrameBits(f, toc.ft, w);
  return w.bytes();
}

bool readPayloadBE(const uint8_t* p, int bytes, Frame& f, std::string& err, int* cmr) {
  if (bytes < 2) {
    err = "an AMR payload has at least 2 octets, this one " + std::to_string(bytes);
    return false;
  }
  BitReader r{p};
  const int request = r.get(4);
  if (r.get()) {
    err = "payload holds several frames (one frame per payload is read)";
    return false;
  }
  const int ft = r.get(4), q = r.get();
  const int need = (10 + payloadBits(ft) + 7) / 8;
  if (bytes != need) {
    err = "payload of " + std::to_string(bytes) + " octets for frame type " + std::to_string(ft) + " (needs " +
          std::to_string(need) + ")";
    return false;
  }
  getFrameBits(ft, q, r, f);
  if (cmr) *cmr = request;
  return true;
}

// ---- storage files -------------------------------------------------------------------

int storageFrameBytes(int ft) { return (payloadBits(ft & 15) + 7) / 8; }

void writeStorageFrame(const Frame& f, std::vector<uint8_t>& out) {
  uint8_t buf[kMaxPayload];
  const int n = writePayload(f, buf);
  out.insert(out.end(), buf + 1, buf + n);  // the payload without its CMR octet
}

bool readStorageFrame(uint8_t toc, const uint8_t* data, int bytes, Frame& f, std::string& err) {
  const int ft = (toc >> 3) & 15, q = (toc >> 2) & 1;
  if (bytes != storageFrameBytes(ft)) {
    err = "truncated frame of type " + std::to_string(ft);
    return false;
  }
  BitReader r{data};
  getFrameBits(ft, q, r, f);
  return true;
}

// ---- serial test format ----------------------------------------------------------------

void writeSerialFrame(const Frame& f, std::vector<uint8_t>& out) {
  int16_t w[kSerialWords] = {};
  w[0] = static_cast<int16_t>(txFromRx(f.type));
  int n = 0;
  if (isSpeech(f.type) && f.mode >= 0)
    n = kBitCounts[f.mode];
  else if (isSid(f.type) || f.type == kNoData)
    n = kSidBits;
  for (int k = 0; k < n; ++k) w[1 + k] = f.bits[k] & 1;
  w[1 + kMaxBits] = static_cast<int16_t>(f.type == kNoData ? -1 : f.mode < 0 ? 0 : f.mode);
  for (int16_t v : w) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  }
}

bool readSerialFrame(const uint8_t* words, Frame& f, std::string& err, bool rxTypes) {
  auto word = [words](int i) { return static_cast<int16_t>(words[2 * i] | (words[2 * i + 1] << 8)); };
  const int type = word(0);
  if (type < 0 || type > 7) {
    err = "frame type " + std::to_string(type) + " (0..7)";
    return false;
  }
  f.type = rxTypes ? static_cast<RxType>(type) : rxFromTx(type);
  const int mode = word(1 + kMaxBits);
  if (f.type == kNoData) {
    f.mode = -1;
  } else if (mode < 0 || mode >= kSpeechModes) {
    err = "mode " + std::to_string(mode) + " (0..7)";
    return false;
  } else {
    f.mode = mode;
  }
  for (int k = 0; k < kMaxBits; ++k) f.bits[k] = word(1 + k) == 1 ? 1 : 0;
  return true;
}

}  // namespace vokc::amrnb
