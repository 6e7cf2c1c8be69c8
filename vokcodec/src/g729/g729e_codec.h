// G.729 Annex E whole-stream coding as the registry runs it (also used by
// the tests): per-frame rates from the options, encode, decode.
#ifndef VOKCODEC_G729E_CODEC_H
#define VOKCODEC_G729E_CODEC_H

#include <cstdint>
#include <string>
#include <vector>

#include "registry.h"

namespace vokc {

// The rate (vokcG729ERate8/118) of each of `frames` frames from --rate or
// --rate-file; false with a one-line message on a bad option or file.
bool g729eFrameRates(const Options& opt, std::size_t frames, std::vector<int>& rates, std::string& err);
bool g729eEncode(const std::vector<int16_t>& pcm, const Options& opt, std::vector<uint8_t>& out, std::string& err);
bool g729eDecode(const std::vector<uint8_t>& in, const Options& opt, std::vector<int16_t>& pcm, std::string& err);

}  // namespace vokc

#endif  // VOKCODEC_G729E_CODEC_H
