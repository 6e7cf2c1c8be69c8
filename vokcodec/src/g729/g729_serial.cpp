#include "g729_serial.h"

#include <algorithm>

#include "registry.h"

namespace vokc {

namespace {
constexpr uint16_t kSync = 0x6B21;
constexpr uint16_t kBit0 = 0x007F;
constexpr uint16_t kBit1 = 0x0081;

uint16_t wordAt(const std::vector<uint8_t>& in, std::size_t at) {
  return static_cast<uint16_t>(in[at] | (in[at + 1] << 8));
}
void putWord(std::vector<uint8_t>& out, uint16_t w) {
  out.push_back(static_cast<uint8_t>(w & 0xFF));
  out.push_back(static_cast<uint8_t>(w >> 8));
}
}  // namespace

bool readSerialFrames(const std::vector<uint8_t>& in, const std::vector<int>& allowed,
                      std::vector<SerialFrame>& frames, std::string& error) {
  frames.clear();
  std::size_t at = 0;
  while (at < in.size()) {
    const std::string where = " at frame " + std::to_string(frames.size());
    if (in.size() - at < 4) {
      error = "truncated bitstream" + where;
      return false;
    }
    const uint16_t sync = wordAt(in, at), n = wordAt(in, at + 2);
    if (sync != kSync) {
      error = "not an ITU serial bitstream (bad sync word" + where + ")";
      return false;
    }
    if (std::find(allowed.begin(), allowed.end(), int{n}) == allowed.end()) {
      std::string sizes;
      for (int a : allowed) sizes += (sizes.empty() ? "" : "/") + std::to_string(a);
      error = "frame " + std::to_string(frames.size()) + " carries " + std::to_string(n) +
              " bits; this codec takes " + sizes;
      return false;
    }
    if (in.size() - at < 4 + 2u * n) {
      error = "truncated bitstream" + where;
      return false;
    }
    SerialFrame f;
    f.bits.resize(n);
    for (int i = 0; i < n; ++i) {
      const uint16_t w = wordAt(in, at + 4 + 2 * i);
      if (w == 0) f.erased = true;
      f.bits[i] = w == kBit1 ? 1 : 0;
    }
    frames.push_back(std::move(f));
    at += 4 + 2u * n;
  }
  return true;
}

void writeSerialFrame(std::vector<uint8_t>& out, const uint8_t* bits, int n) {
  putWord(out, kSync);
  putWord(out, static_cast<uint16_t>(n));
  for (int i = 0; i < n; ++i) putWord(out, bits[i] ? kBit1 : kBit0);
}

void packOctets(const uint8_t* bits, int n, std::vector<uint8_t>& out) {
  for (int i = 0; i < n; i += 8) {
    uint8_t byte = 0;
    for (int k = 0; k < 8; ++k) byte = static_cast<uint8_t>((byte << 1) | (i + k < n ? bits[i + k] & 1 : 0));
    out.push_back(byte);
  }
}

void unpackOctets(const uint8_t* bytes, int n, uint8_t* bits) {
  for (int i = 0; i < n; ++i) bits[i] = (bytes[i / 8] >> (7 - i % 8)) & 1;
}

}  // namespace vokc
