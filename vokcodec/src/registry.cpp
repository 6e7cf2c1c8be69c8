#include "registry.h"

#include <fstream>
#include <iterator>

namespace vokc {

const Registry& registry() {
  static const Registry r = [] {
    Registry reg;
    addG729Codecs(reg);
    addG729BCodecs(reg);
    addG729DCodecs(reg);
    addG729ECodecs(reg);
    addG729ICodecs(reg);
    addG729FloatCodecs(reg);
    addG726Codecs(reg);
    addG728Codecs(reg);
    addG722Codecs(reg);
    addG7221Codecs(reg);
    addG723Codecs(reg);
    addGsmfrCodecs(reg);
    addAmrnbCodecs(reg);
    addAmrwbCodecs(reg);
    return reg;
  }();
  return r;
}

bool readFileBytes(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return true;
}

bool readFileWords(const std::string& path, std::vector<int16_t>& out) {
  std::vector<uint8_t> b;
  if (!readFileBytes(path, b)) return false;
  out.resize(b.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
  return true;
}

std::string firstDifference(const std::vector<int16_t>& got, const std::vector<int16_t>& want, std::size_t unit,
                            const char* what) {
  std::size_t n = got.size() < want.size() ? got.size() : want.size();
  for (std::size_t i = 0; i < n; ++i)
    if (got[i] != want[i]) return std::string("first differing ") + what + " " + std::to_string(i / unit);
  if (got.size() != want.size())
    return "length " + std::to_string(got.size()) + " words, expected " + std::to_string(want.size());
  return "";
}

}  // namespace vokc
