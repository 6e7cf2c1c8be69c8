// The ITU serial bitstream of the G.729 family: per 10 ms frame a sync word
// 0x6B21, a word N giving the number of bits that follow, then N words each
// 0x007F (bit 0) or 0x0081 (bit 1).  N is 80 (8 kbit/s), 64 (6.4 kbit/s),
// 118 (11.8 kbit/s), 15 (SID frame) or 0 (untransmitted frame).  A frame with
// any bit word 0 was erased on the channel.
#ifndef VOKCODEC_G729_SERIAL_H
#define VOKCODEC_G729_SERIAL_H

#include <cstdint>
#include <string>
#include <vector>

namespace vokc {

struct SerialFrame {
  std::vector<uint8_t> bits;  // N bits, one per byte, in transmission order
  bool erased = false;        // some bit word was 0
};

// Splits a whole serial stream into frames.  `allowed` lists the bit counts
// the codec understands; anything else, a bad sync word or a truncated frame
// is a one-line error naming the frame.
bool readSerialFrames(const std::vector<uint8_t>& in, const std::vector<int>& allowed,
                      std::vector<SerialFrame>& frames, std::string& error);
// Appends one frame of `n` bits (one per byte).
void writeSerialFrame(std::vector<uint8_t>& out, const uint8_t* bits, int n);

// Packed payload: bits most significant first, the last octet padded with
// zero bits.
void packOctets(const uint8_t* bits, int n, std::vector<uint8_t>& out);
void unpackOctets(const uint8_t* bytes, int n, uint8_t* bits);

}  // namespace vokc

#endif  // VOKCODEC_G729_SERIAL_H
