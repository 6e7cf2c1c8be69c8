// AMR-WB frame layouts: parameters <-> bits, RFC 4867 payloads and storage
// frames, the 3GPP test format.
#include "amrwb/amrwb_bits.h"

#include <cctype>

#include "amr_payload.h"
#include "amrwb/amrwb_tables.h"

namespace vokc::amrwb {
namespace {

const int kBitCounts[10] = {132, 177, 253, 285, 317, 365, 397, 461, 477, kSidBits};
const int kBitRates[9] = {6600, 8850, 12650, 14250, 15850, 18250, 19850, 23050, 23850};
const char* const kNames[9] = {"6.6", "8.85", "12.65", "14.25", "15.85", "18.25", "19.85", "23.05", "23.85"};
const int16_t* const kOrders[9] = {kOrder660,  kOrder885,  kOrder1265, kOrder1425, kOrder1585,
                                   kOrder1825, kOrder1985, kOrder2305, kOrder2385};

// Code-word widths per subframe and mode (terminated by 0).
const uint8_t kCodeWidths[9][9] = {{12},
                                   {5, 5, 5, 5},
                                   {9, 9, 9, 9},
                                   {13, 13, 9, 9},
                                   {13, 13, 13, 13},
                                   {2, 2, 2, 2, 14, 14, 14, 14},
                                   {10, 10, 2, 2, 10, 10, 14, 14},
                                   {11, 11, 11, 11, 11, 11, 11, 11},
                                   {11, 11, 11, 11, 11, 11, 11, 11}};
const uint8_t kIsf36[] = {8, 8, 7, 7, 6}, kIsf46[] = {8, 8, 6, 7, 7, 5, 5}, kSidIsf[] = {6, 6, 6, 5, 5};

// Visits every parameter of the frame in transmission order as
// (field, width).  Works for const and mutable records alike.
template <typename P, typename F>
void forEachParam(P& p, F visit) {
  const bool speech = p.type == kTxSpeech;
  if (!speech) {
    for (int i = 0; i < 5; ++i) visit(p.sidIsf[i], kSidIsf[i]);
    visit(p.sidEnergy, 6);
    visit(p.sidDither, 1);
    return;
  }
  const int m = p.mode;
  visit(p.vad, 1);
  if (m == 0)
    for (int i = 0; i < 5; ++i) visit(p.isf[i], kIsf36[i]);
  else
    for (int i = 0; i < 7; ++i) visit(p.isf[i], kIsf46[i]);
  for (int s = 0; s < kSubframes; ++s) {
    auto& sf = p.sub[s];
    const bool absolute = s == 0 || (s == 2 && m > 0);
    visit(sf.lag, m <= 1 ? (absolute ? 8 : 5) : (absolute ? 9 : 6));
    if (m >= 2) visit(sf.ltpFilter, 1);
    for (int k = 0; k < 8 && kCodeWidths[m][k]; ++k) visit(sf.code[k], kCodeWidths[m][k]);
    visit(sf.gain, m <= 1 ? 6 : 7);
    if (m == 8) visit(sf.hfGain, 4);
  }
}

// SID frames: type field 9, the 4-bit mode indication most significant bit
// first, a first SID without its bits; lost speech: type field 14.
const amrpay::Framing kFraming = {"AMR-WB", kModes, kBitCounts, kOrders, 9, kSidBits, 4, false, true, 14};

}  // namespace

bool isSpeech(RxType t) { return t == kSpeechGood || t == kSpeechDegraded || t == kSpeechBad; }
bool isSid(RxType t) { return t == kSidFirst || t == kSidUpdate || t == kSidBad; }

int bitCount(int mode) { return mode >= 0 && mode <= kSidMode ? kBitCounts[mode] : 0; }
int modeBitRate(int mode) { return kBitRates[mode]; }
const char* modeName(int mode) { return kNames[mode]; }

int modeFromName(const std::string& name) {
  std::string digits;
  std::size_t at = 0;
  if (name.size() > 2 && std::toupper(static_cast<unsigned char>(name[0])) == 'M' &&
      std::toupper(static_cast<unsigned char>(name[1])) == 'D')
    at = 2;
  for (; at < name.size(); ++at)
    if (name[at] != '.') digits += name[at];
  while (digits.size() > 1 && digits.back() == '0' && digits.size() != 4) digits.pop_back();  // "6.60"
  for (int m = 0; m < kModes; ++m) {
    std::string plain;
    for (const char* c = kNames[m]; *c; ++c)
      if (*c != '.') plain += *c;
    if (digits == plain || digits == std::to_string(kBitRates[m])) return m;
  }
  return -1;
}

int paramsToBits(const FrameParams& p, uint8_t* bits) {
  int at = 0;
  forEachParam(p, [&](const int16_t& v, int width) {
    for (int k = width - 1; k >= 0; --k) bits[at++] = static_cast<uint8_t>((v >> k) & 1);
  });
  return at;
}

void bitsToParams(const uint8_t* bits, FrameParams& p) {
  int at = 0;
  forEachParam(p, [&](int16_t& v, int width) {
    int x = 0;
    for (int k = 0; k < width; ++k) x = (x << 1) | (bits[at++] & 1);
    v = static_cast<int16_t>(x);
  });
}

// ---- RFC 4867 payloads and storage frames -------------------------------------------

int writePayload(const Frame& f, uint8_t* out, int cmr, bool markRx) {
  const int mark = !markRx ? 0 : f.type == kSpeechDegraded ? kMarkDegraded : isSid(f.type) ? kMarkSidMode : 0;
  return amrpay::writeOctetAligned(kFraming, f, out, cmr, mark);
}

bool readPayload(const uint8_t* p, int bytes, Frame& f, std::string& err, int* cmr) {
  return amrpay::readOctetAligned(kFraming, p, bytes, f, err, cmr);
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

// ---- the 3GPP test format ----------------------------------------------------------------

namespace {
constexpr int kTxSync = 0x6B21, kRxSync = 0x6B20;
constexpr int16_t kBit0 = -127, kBit1 = 127;

int16_t wordAt(const uint8_t* w, int i) { return static_cast<int16_t>(w[2 * i] | (w[2 * i + 1] << 8)); }

// The receive type of a header (-1 for none): transmit words 0..3 map to
// their receive types; another type word stands as a receive type, as the
// reference reads it.
int headerType(const uint8_t* h) {
  const int sync = static_cast<uint16_t>(wordAt(h, 0)), t = wordAt(h, 1);
  if (sync != kTxSync && sync != kRxSync) return -1;
  static const int kFromTx[4] = {kSpeechGood, kSidFirst, kSidUpdate, kNoData};
  if (sync == kTxSync && t >= 0 && t < 4) return kFromTx[t];
  return t >= 0 && t <= 7 ? t : -1;
}
}  // namespace

void writeTestFrame(const Frame& f, std::vector<uint8_t>& out) {
  int tx = -1;
  switch (f.type) {
    case kSpeechGood: tx = kTxSpeech; break;
    case kSidFirst: tx = kTxSidFirst; break;
    case kSidUpdate: tx = kTxSidUpdate; break;
    case kNoData: tx = kTxNoData; break;
    default: break;
  }
  const bool speech = isSpeech(f.type) || f.type == kSpeechLost;
  const int mode = f.mode < 0 ? 0 : f.mode;
  const int n = speech ? kBitCounts[mode] : kSidBits;
  std::vector<int16_t> w;
  w.push_back(static_cast<int16_t>(tx >= 0 ? kTxSync : kRxSync));
  w.push_back(static_cast<int16_t>(tx >= 0 ? tx : f.type));
  w.push_back(static_cast<int16_t>(mode));
  for (int k = 0; k < n; ++k) w.push_back(f.bits[k] ? kBit1 : kBit0);
  for (int16_t v : w) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  }
}

int testFrameWords(const uint8_t* h, std::string& err) {
  const int type = headerType(h), mode = wordAt(h, 2);
  if (type < 0) {
    err = "frame header " + std::to_string(static_cast<uint16_t>(wordAt(h, 0))) + "/" +
          std::to_string(wordAt(h, 1)) + " is not an AMR-WB test-format frame";
    return 0;
  }
  if (mode < 0 || mode > kSidMode) {
    err = "mode " + std::to_string(mode) + " (0..9)";
    return 0;
  }
  const RxType t = static_cast<RxType>(type);
  return 3 + (isSid(t) || t == kNoData ? kSidBits : kBitCounts[mode]);
}

void readTestFrame(const uint8_t* words, Frame& f) {
  f.type = static_cast<RxType>(headerType(words));
  f.mode = wordAt(words, 2);
  for (auto& b : f.bits) b = 0;
  const int n = isSid(f.type) || f.type == kNoData ? kSidBits : kBitCounts[f.mode];
  for (int k = 0; k < n; ++k) f.bits[k] = wordAt(words, 3 + k) == kBit1 ? 1 : 0;
  if ((isSpeech(f.type) || f.type == kSpeechLost) && f.mode == kSidMode) f.type = kSpeechBad;  // 35 bits: no mode
}

}  // namespace vokc::amrwb
