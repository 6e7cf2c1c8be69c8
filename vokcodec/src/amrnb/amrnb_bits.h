// GSM-AMR (AMR-NB) frames as bits: the parameter layout of each mode, and
// the four ways a frame travels:
//  * the 3GPP serial test format of the TS 26.073 vectors: 250 little-endian
//    16-bit words per frame (frame type, 244 bit words, mode, 4 spare words);
//  * the RFC 4867 octet-aligned RTP payload (CMR octet, TOC octet, the bits
//    in importance order padded to whole octets), one frame per payload:
//    the payload vokcodec's frame API exchanges;
//  * the RFC 4867 bandwidth-efficient RTP payload (4-bit CMR, 6-bit TOC
//    entry, the bits, padding to an octet);
//  * the RFC 4867 storage file (".amr": "#!AMR\n", then per frame a TOC
//    octet and the octet-aligned bits).
// Inside a frame the bits are kept in parameter order, one per byte; the
// storage and RTP forms send them in the importance order of TS 26.101.
#ifndef VOKCODEC_AMRNB_BITS_H
#define VOKCODEC_AMRNB_BITS_H

#include <cstdint>
#include <string>
#include <vector>

#include "amr_payload.h"

namespace vokc::amrnb {

constexpr int kFrame = 160;       // samples per frame
constexpr int kSpeechModes = 8;   // 4.75, 5.15, 5.9, 6.7, 7.4, 7.95, 10.2, 12.2 kbit/s = 0..7
constexpr int kSidMode = 8;       // comfort-noise parameter layout
constexpr int kMaxParams = 57;    // 12.2 kbit/s
constexpr int kMaxBits = 244;     // 12.2 kbit/s
constexpr int kSidBits = 35;      // comfort-noise parameters (without STI and mode indication)
constexpr int kMaxPayload = 33;   // octet-aligned payload of a 12.2 kbit/s frame
constexpr int kSerialWords = 250; // serial test format
constexpr int kNoRequest = amrpay::kNoRequest;

// The frame types as the receiving decoder sees them (the RX numbering of
// the serial format read with RX types).
enum RxType : int {
  kSpeechGood = 0,
  kSpeechDegraded = 1,  // speech bits with possible errors (used as good)
  kOnset = 2,           // announces a speech burst; no bits
  kSpeechBad = 3,       // speech frame with errors in its important bits
  kSidFirst = 4,
  kSidUpdate = 5,
  kSidBad = 6,
  kNoData = 7,          // nothing received (between SID updates, or lost)
};

// Transmit-side numbering (word 0 of the serial test format).
enum TxType : int {
  kTxSpeechGood = 0,
  kTxSidFirst = 1,
  kTxSidUpdate = 2,
  kTxNoData = 3,
  kTxSpeechDegraded = 4,
  kTxSpeechBad = 5,
  kTxSidBad = 6,
  kTxOnset = 7,
};
RxType rxFromTx(int tx);  // tx in 0..7
int txFromRx(RxType rx);

// One frame: its type, its mode (speech frames: the mode of the bits; SID
// frames: the mode indication; NO_DATA and onset: -1 when unknown) and its
// bits in parameter order, one 0/1 per byte (speech: bitCount(mode) of
// them; SID frames: 35).
struct Frame {
  RxType type = kNoData;
  int mode = -1;
  uint8_t bits[kMaxBits] = {};
};

bool isSpeech(RxType t);  // good, degraded, bad: carries speech bits
bool isSid(RxType t);     // first, update, bad: carries comfort-noise bits

// Parameter layout: count, widths and total bits of mode 0..7 or kSidMode.
int paramCount(int mode);
const int16_t* paramWidths(int mode);
int bitCount(int mode);
// Bit rate in bit/s of a speech mode, its name ("4.75" ... "12.2") and the
// mode of a name ("4.75", "4750", "MR475" and the like); -1 when none.
int modeBitRate(int mode);
const char* modeName(int mode);
int modeFromName(const std::string& name);

// Parameters (each taken modulo its width) to bits, MSB first, and back.
void paramsToBits(int mode, const int16_t* prm, uint8_t* bits);
void bitsToParams(int mode, const uint8_t* bits, int16_t* prm);

// ---- RFC 4867 payloads -------------------------------------------------------

// Octet-aligned payload of one frame; returns its size (at most
// kMaxPayload).  cmr: the mode request (kNoRequest for none).  Types the RFC
// cannot name travel as their nearest kind (degraded as good speech, onset
// as NO_DATA) unless markRx is set: then the reserved bits of the CMR octet
// carry them (1 degraded, 8 + mode onset), which only readPayload understands.
int writePayload(const Frame& f, uint8_t* out, int cmr = kNoRequest, bool markRx = false);
// Reads an octet-aligned payload: false (with err) for a payload that is not
// one AMR frame (several frames, a wideband or reserved frame type, a wrong
// size).  *cmr, when given, receives the mode request.
bool readPayload(const uint8_t* p, int bytes, Frame& f, std::string& err, int* cmr = nullptr);

// Bandwidth-efficient payload of one frame.
int writePayloadBE(const Frame& f, uint8_t* out, int cmr = kNoRequest);
bool readPayloadBE(const uint8_t* p, int bytes, Frame& f, std::string& err, int* cmr = nullptr);

// ---- storage files (".amr") --------------------------------------------------

constexpr const char* kStorageMagic = amrpay::kMagicNb;  // "#!AMR\n"
// Octets a storage frame occupies after its TOC octet, by frame type field
// 0..15 (-1: a type the file cannot hold).
int storageFrameBytes(int frameTypeField);
// Appends the TOC octet and the bits of one frame.
void writeStorageFrame(const Frame& f, std::vector<uint8_t>& out);
// Reads the frame after its TOC octet: `toc` is that octet, `data` the
// storageFrameBytes(...) octets behind it.
bool readStorageFrame(uint8_t toc, const uint8_t* data, int bytes, Frame& f, std::string& err);

// ---- the serial test format --------------------------------------------------

// Appends one frame of 250 words.  A NO_DATA frame writes its first 35 bits
// too (the reference encoder leaves the comfort-noise bits of the frame
// there; they are zero when nothing set them).
void writeSerialFrame(const Frame& f, std::vector<uint8_t>& out);
// Reads 250 words (500 bytes): word 0 is a TX type (or an RX type when
// rxTypes), word 245 the mode.  A bit word other than 1 reads as 0, as by
// the reference decoder.  False with err for a type or mode out of range.
bool readSerialFrame(const uint8_t* words, Frame& f, std::string& err, bool rxTypes = false);

}  // namespace vokc::amrnb

#endif  // VOKCODEC_AMRNB_BITS_H
