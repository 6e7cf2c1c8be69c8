// AMR-NB frame layouts: parameters <-> bits, RFC 4867 payloads and storage
// frames, the 3GPP serial test format.
#include "amrnb/amrnb_bits.h"

#include <cctype>

#include "amr_payload.h"
#include "bit_octets.h"
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

// SID frames: type field 8, the 3-bit mode indication least significant
// bit first; an onset has no type field of its own (sent as NO_DATA).
const amrpay::Framing kFraming = {"AMR", kSpeechModes, kBitCounts, kOrders, 8, kSidBits, 3, true, false, -1};

}  // namespace

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
  uint8_t octets[kMaxBits / 8 + 3] = {};
  packBitBytes(bits, kBitCounts[mode], octets);
  const int16_t* w = kWidths[mode];
  for (int i = 0, at = 0; i < kParamCount[mode]; at += w[i], ++i) prm[i] = static_cast<int16_t>(octetField(octets, at, w[i]));
}

// ---- RFC 4867 payloads and storage frames -------------------------------------------

int writePayload(const Frame& f, uint8_t* out, int cmr, bool markRx) {
  int mark = 0;
  if (markRx && f.type == kSpeechDegraded) mark = amrpay::kMarkDegraded;
  if (markRx && f.type == kOnset) mark = 8 | (f.mode < 0 ? 0 : f.mode & 7);
  return amrpay::writeOctetAligned(kFraming, f, out, cmr, mark);
}

bool readPayload(const uint8_t* p, int bytes, Frame& f, std::string& err, int* cmr) {
  if (!amrpay::readOctetAligned(kFraming, p, bytes, f, err, cmr)) return false;
  if ((p[0] & 8) && f.type == kNoData) {  // an onset, marked by writePayload
    f.type = kOnset;
    f.mode = p[0] & 7;
  }
  return true;
}

int writePayloadBE(const Frame& f, uint8_t* out, int cmr) {
  return amrpay::writeBandwidthEfficient(kFraming, f, out, cmr);
}

bool readPayloadBE(const uint8_t* p, int bytes, Frame& f, std::string& err, int* cmr) {
  return amrpay::readBandwidthEfficient(kFraming, p, bytes, f, err, cmr);
}

int storageFrameBytes(int ft) { return amrpay::storageFrameBytes(kFraming, ft); }

void writeStorageFrame(const Frame& f, std::vector<uint8_t>& out) { amrpay::writeStorageFrame(kFraming, f, out); }

bool readStorageFrame(uint8_t toc, const uint8_t* data, int bytes, Frame& f, std::string& err) {
  return amrpay::readStorageFrame(kFraming, toc, data, bytes, f, err);
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
