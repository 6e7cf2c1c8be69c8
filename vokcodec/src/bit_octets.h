// Bits held one per byte (0 or 1, first bit first), as the coders' frame
// records and the serial formats keep them, packed into octets (first bit
// most significant) and read back as fields.
#ifndef VOKCODEC_BIT_OCTETS_H
#define VOKCODEC_BIT_OCTETS_H

#include <cstdint>
#include <cstring>

namespace vokc {

// Packs n bits into (n + 7) / 8 octets.  Eight at a time: with bit k at bit
// 8k of a word, the product with 0x8040201008040201 puts bit k at bit 63 - k
// (the partial products land on distinct places, so nothing carries).  Only
// the low bit of each byte counts.
inline void packBitBytes(const uint8_t* bits, int n, uint8_t* octets) {
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    uint64_t v;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(&v, bits + k, sizeof v);
#else
    v = 0;
    for (int j = 0; j < 8; ++j) v |= uint64_t{bits[k + j]} << (8 * j);
#endif
    octets[k >> 3] = static_cast<uint8_t>(((v & 0x0101010101010101ull) * 0x8040201008040201ull) >> 56);
  }
  if (k < n) {
    unsigned last = 0;
    for (int j = 0; k + j < n; ++j) last |= (bits[k + j] & 1u) << (7 - j);
    octets[k >> 3] = static_cast<uint8_t>(last);
  }
}

// The field of `width` bits (1..16) starting at bit `pos` of packed octets;
// the octets are read up to (pos >> 3) + 2, which the caller's array holds.
inline int octetField(const uint8_t* octets, int pos, int width) {
  const uint8_t* o = octets + (pos >> 3);
  const uint32_t window = uint32_t{o[0]} << 16 | uint32_t{o[1]} << 8 | o[2];
  return static_cast<int>((window >> (24 - (pos & 7) - width)) & ((1u << width) - 1));
}

}  // namespace vokc

#endif  // VOKCODEC_BIT_OCTETS_H
