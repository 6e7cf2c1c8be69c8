// Stream-level pieces of the float G.729A codec, shared by its registry
// entry and its tests.
#ifndef VOKCODEC_G729FLOAT_CODEC_H
#define VOKCODEC_G729FLOAT_CODEC_H

#include <cstdint>
#include <string>
#include <vector>

#include "registry.h"

namespace vokc {

bool g729FloatEncode(const std::vector<int16_t>& pcm, const Options& opt, std::vector<uint8_t>& bits,
                     std::string& error);
bool g729FloatDecode(const std::vector<uint8_t>& bits, const Options& opt, std::vector<int16_t>& pcm,
                     std::string& error);

// 10 log10(sum want^2 / sum (got - want)^2) over the common length.
double snrDb(const std::vector<int16_t>& got, const std::vector<int16_t>& want);

// One interoperability check: a vector name, the SNR it must reach and the
// number of leading frames measured (0: the whole file).
struct FloatCheckLimit {
  const char* name;
  double minDb;
  int frames;
};
const std::vector<FloatCheckLimit>& g729FloatDecodeLimits();
const std::vector<FloatCheckLimit>& g729FloatEncodeLimits();

// "" when the SNR reaches the limit, else the reason; the SNR is stored in
// *measured when given.  Decoding: the float decoder's output of X.BIT
// against X.PST.  Encoding: the fixed-point G.729A decoder's output of the
// float encoder's stream of X.IN against X.PST (the official chain).
std::string g729FloatDecodeCheck(const std::string& vectorRoot, const FloatCheckLimit& limit, double* measured);
std::string g729FloatEncodeCheck(const std::string& vectorRoot, const FloatCheckLimit& limit, double* measured);

}  // namespace vokc

#endif  // VOKCODEC_G729FLOAT_CODEC_H
