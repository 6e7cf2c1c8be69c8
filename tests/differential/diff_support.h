// What the differential test programs share: the CRC-32 of the golden
// files, the deterministic generator of inputs and impairments, the golden
// files themselves and the comparison with them, and whole streams decoded
// through a codec of the registry into one CRC per output frame; random
// storage files of the AMR families.
#ifndef VOKSC_TESTS_DIFFERENTIAL_DIFF_SUPPORT_H
#define VOKSC_TESTS_DIFFERENTIAL_DIFF_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vectors.h"

namespace difftest {

using vtest::crc32;

// xorshift generator: the same numbers on every platform.
struct Rng {
  uint64_t s;
  explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<uint32_t>(s >> 16);
  }
  // Near-Gaussian (sum of four uniforms), standard deviation 2365, about
  // 1.15 in Q11.
  int32_t gauss() {
    int32_t sum = 0;
    for (int k = 0; k < 4; ++k) sum += static_cast<int32_t>(next() & 0xFFFF) - 32768;
    return sum / 16;
  }
  // True with probability p / of.
  bool chance(uint32_t p, uint32_t of = 1000000u) { return next() % of < p; }
};

// CRC-32 of each frameLen-sample frame, samples as 16-bit little endian.
std::vector<uint32_t> pcmCrcs(const std::vector<int16_t>& pcm, int frameLen);

// "" when ours equal the golden file's CRCs, else the first differing frame.
std::string compare(const std::string& name, const std::vector<uint32_t>& ours);

// The stream decoded whole by the registry's codec in the given layout
// (G.726: of the given law).
std::vector<int16_t> decodeFile(const std::string& codec, const std::vector<uint8_t>& bytes,
                                const char* format = "itu", const char* law = "");

// Decodes each named stream through the codec, the ones named *storage* in
// the codec's storage layout, the others in its itu layout, and compares
// the output with the golden file of the name; with VOKSC_DIFF_DUMP set
// each stream is first written there as <name>.cod or <name><storageExt>.
using NamedStreams = std::vector<std::pair<std::string, std::vector<uint8_t>>>;
void checkDecodes(const char* codec, int frameLen, const char* storageExt, const NamedStreams& streams);

// The decoder-homing scenario of the AMR families, per mode: runs of
// speech of the mode (speech > 0), else a homing frame of the mode plus
// nextMode, matching in its first subframe only or whole, good or bad.
struct HomingStep {
  int speech, nextMode;
  bool firstOnly, bad;
};
extern const HomingStep kHomingScript[11];

// An RFC 4867 storage file of random frames after `magic`: a frame type
// field of 0 .. commonTypes - 1 (any of 0..15 for 30 % of the frames), 85 %
// of them marked good, random bits of frameBytes(type) octets.
std::vector<uint8_t> randomStorageFile(uint64_t seed, int frames, const std::string& magic, int commonTypes,
                                       int (*frameBytes)(int));

}  // namespace difftest

#endif  // VOKSC_TESTS_DIFFERENTIAL_DIFF_SUPPORT_H
