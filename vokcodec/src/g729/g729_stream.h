// Glue shared by the G.729-family registry entries: payload octets, the ITU
// serial layout of the family and the conformance checks that compare
// streams and decoded speech frame by frame against the official vectors.
#ifndef VOKCODEC_G729_STREAM_H
#define VOKCODEC_G729_STREAM_H

#include <cstdint>
#include <string>
#include <vector>

#include "g729_serial.h"
#include "registry.h"
#include "vokcodec.h"

namespace vokc {

// A family coder's state behind a small header of the registry entry's own
// fields: the header at the start, the library coder 64 bytes on.
constexpr int kG729HeadBytes = 64;
template <class Head>
Head* g729Head(void* state) {
  static_assert(sizeof(Head) <= kG729HeadBytes, "header too large");
  return static_cast<Head*>(state);
}
inline void* g729Coder(void* state) { return static_cast<unsigned char*>(state) + kG729HeadBytes; }
int g729StateSize(VokResult (*getSize)(int*), bool withHead);

// Frame bits (one per byte) <-> payload octets, most significant bit first,
// the last octet padded with zero bits.
int g729PayloadBytes(int nbits);  // 0, 2 (SID), 8, 10 or 15
int g729FrameBits(int bytes);     // the inverse; -1 for a size the family has not
void g729ToOctets(const uint8_t* bits, int n, uint8_t* octets);
void g729FromOctets(const uint8_t* octets, int n, uint8_t* bits);

// The ITU serial layout of a codec taking frames of the `allowed` bit counts
// (15 read as the SID frame, written 16).  Bit words other than 0x007F,
// 0x0081 and 0 are an error; a 0 word marks the frame lost, except in the
// last `sparedWords` words.  In a lost frame a 0 word reads as bit 1.  With
// lostEmptyBySync, an untransmitted frame whose sync word is damaged
// (0x6Bxx other than 0x6B21) is a lost frame.
ItuLayout g729ItuLayout(const std::vector<int>& allowed, int sparedWords = 0, bool lostEmptyBySync = false);

// The frames of an 11-parameter G.729 core (fixed-point or float): 10
// octets, the ITU layout of 80-bit frames.  Sets everything but the states.
void setG729CoreFrames(Codec& c, VokResult (*encode)(void*, const Vok16s*, Vok16s*),
                       VokResult (*decode)(void*, const Vok16s*, int, Vok16s*));

// Options giving one setting.
Options optionsWith(const std::string& format, const std::string& extra);

// Frame-by-frame comparison of two ITU serial streams with frames of any
// size: "" when equal, else the first differing frame or the frame counts.
std::string compareSerialStreams(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want);

// Check of an encoder: its serial stream of dir/input against dir/bitstream
// (dir = vector root + "/g729/" + folder + "/"), with the options given; a
// non-empty rateFile in the folder becomes opt.rateFile.
Check encoderCheck(const std::string& name, const Codec& codec, const std::string& folder, const std::string& input,
                   const std::string& bitstream, const Options& opt, const std::string& rateFile = "");
// Check of a decoder: its output of dir/bitstream against dir/output, frame
// by frame.
Check decoderCheck(const std::string& name, const Codec& codec, const std::string& folder,
                   const std::string& bitstream, const std::string& output, const Options& opt = Options{});

}  // namespace vokc

#endif  // VOKCODEC_G729_STREAM_H
