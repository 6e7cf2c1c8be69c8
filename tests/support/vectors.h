// Reading golden data and locating the official conformance vectors.
#ifndef VOKSC_TESTS_SUPPORT_VECTORS_H
#define VOKSC_TESTS_SUPPORT_VECTORS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vtest {

// Directory of the official test vectors: $VOKSC_TESTVECTORS, else the
// repository's testvectors folder.
inline std::string testVectorDir() {
  if (const char* e = std::getenv("VOKSC_TESTVECTORS")) return e;
  return VOKSC_DEFAULT_TESTVECTORS;
}

// Directory of golden files committed under tests/golden.
inline std::string goldenDir() { return VOKSC_GOLDEN_DIR; }

inline bool readFile(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return true;
}

// 16-bit little-endian words.
inline bool readWords(const std::string& path, std::vector<int16_t>& out) {
  std::vector<uint8_t> b;
  if (!readFile(path, b)) return false;
  out.resize(b.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
  return true;
}

// Per-case checksums recorded from a reference build: lines
// "name: 0x..., 0x..." of tests/golden/<file>, by name.
inline std::map<std::string, std::vector<uint32_t>> checksums(const std::string& file) {
  std::map<std::string, std::vector<uint32_t>> g;
  std::ifstream f(goldenDir() + "/" + file);
  std::string line;
  while (std::getline(f, line)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::istringstream rest(line.substr(colon + 1));
    std::string tok;
    auto& v = g[line.substr(0, colon)];
    while (rest >> tok) v.push_back(static_cast<uint32_t>(std::stoul(tok, nullptr, 16)));
  }
  return g;
}

}  // namespace vtest

// A conformance folder that is missing fails the test: the vectors are part
// of the repository, so a conformance case never passes by skipping.
#define VTEST_REQUIRE_DIR(path)                                                                  \
  do {                                                                                           \
    std::ifstream probe_((path) + "/README.md");                                                 \
    if (!probe_) FAIL() << "conformance vectors not found in " << (path) << " (VOKSC_TESTVECTORS)"; \
  } while (0)

#endif  // VOKSC_TESTS_SUPPORT_VECTORS_H
