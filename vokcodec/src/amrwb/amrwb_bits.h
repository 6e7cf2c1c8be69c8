// AMR-WB frames as bits and the ways they travel:
//  * the 3GPP test format of the TS 26.173 vectors: per frame the word
//    0x6B21 (0x6B20: the type word is a receive type), the frame type, the
//    mode, then one word per bit (-127 for 0, +127 for 1), 16-bit
//    little-endian;
//  * the RFC 4867 octet-aligned payload (CMR octet, TOC octet, the bits in
//    importance order padded to whole octets), one frame per payload: the
//    payload vokcodec's frame API exchanges;
//  * the RFC 4867 bandwidth-efficient payload;
//  * the RFC 4867 storage file (".awb": "#!AMR-WB\n", then per frame a TOC
//    octet and the octet-aligned bits).
// Inside a frame the bits are kept in parameter order, one per byte.
#ifndef VOKCODEC_AMRWB_BITS_H
#define VOKCODEC_AMRWB_BITS_H

#include <cstdint>
#include <string>
#include <vector>

#include "amr_payload.h"
#include "amrwb/amrwb_codec.h"

namespace vokc::amrwb {

constexpr int kMaxPayload = 62;  // octet-aligned payload of a 23.85 kbit/s frame
constexpr int kNoRequest = amrpay::kNoRequest;

// Frame types as the decoder receives them (the receive numbering of the
// test format).
enum RxType : int {
  kSpeechGood = 0,
  kSpeechDegraded = 1,  // speech bits with possible errors (decoded as bad for ISFs, gains, lags)
  kSpeechLost = 2,      // a speech frame lost on the way: no bits
  kSpeechBad = 3,       // speech bits with errors
  kSidFirst = 4,
  kSidUpdate = 5,
  kSidBad = 6,
  kNoData = 7,
};

struct Frame {
  RxType type = kNoData;
  int mode = -1;  // speech: the bits' mode; SID: the mode indication; -1 unknown
  uint8_t bits[kMaxBits] = {};
};

bool isSpeech(RxType t);  // good, degraded, bad
bool isSid(RxType t);

// ---- RFC 4867 payloads -------------------------------------------------------
// Octet-aligned payload (at most kMaxPayload octets).  markRx: the CMR
// octet's reserved bits carry what only the test format tells, for
// readPayload's callers: a degraded speech frame (kMarkDegraded), or a SID
// frame whose mode indication is the test format's mode word, which the
// decoder takes as its mode (kMarkSidMode).  In RFC 4867 payloads and
// storage files the decoder keeps the mode of the frames before a SID, as
// the reference decoder does for its storage format.
constexpr int kMarkDegraded = amrpay::kMarkDegraded, kMarkSidMode = 2;
int writePayload(const Frame& f, uint8_t* out, int cmr = kNoRequest, bool markRx = false);
bool readPayload(const uint8_t* p, int bytes, Frame& f, std::string& err, int* cmr = nullptr);
int writePayloadBE(const Frame& f, uint8_t* out, int cmr = kNoRequest);
bool readPayloadBE(const uint8_t* p, int bytes, Frame& f, std::string& err, int* cmr = nullptr);

// ---- storage files (".awb") ------------------------------------------------------
constexpr const char* kStorageMagic = amrpay::kMagicWb;  // "#!AMR-WB\n"
int storageFrameBytes(int frameTypeField);  // octets after the TOC octet
void writeStorageFrame(const Frame& f, std::vector<uint8_t>& out);
bool readStorageFrame(uint8_t toc, const uint8_t* data, int bytes, Frame& f, std::string& err);

// ---- the 3GPP test format ----------------------------------------------------------
// Appends one frame with a transmit type word (speech, SID first/update,
// NO_DATA with its 35 bits); other receive types are written with 0x6B20.
void writeTestFrame(const Frame& f, std::vector<uint8_t>& out);
// Words of the frame whose three header words are given (0 when the
// header is malformed: err says why).
int testFrameWords(const uint8_t* header, std::string& err);
// Reads a whole frame (testFrameWords(...) words).
void readTestFrame(const uint8_t* words, Frame& f);

}  // namespace vokc::amrwb

#endif  // VOKCODEC_AMRWB_BITS_H
