// Reading golden data and locating the official conformance vectors.
#ifndef VOKSC_TESTS_SUPPORT_VECTORS_H
#define VOKSC_TESTS_SUPPORT_VECTORS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// Sequential little-endian reader over a golden file under tests/golden
// (a read past the end throws, which fails the test).
class GoldenReader {
 public:
  explicit GoldenReader(const std::string& name) { ok_ = readFile(goldenDir() + "/" + name, b_); }
  bool ok() const { return ok_ && !b_.empty(); }
  bool done() const { return p_ >= b_.size(); }
  int16_t w16() { return static_cast<int16_t>(bits(2)); }
  int32_t w32() { return static_cast<int32_t>(bits(4)); }
  float f32() {
    const uint32_t v = bits(4);
    float f;
    std::memcpy(&f, &v, sizeof f);
    return f;
  }
  std::vector<int16_t> v16(int n) { return many(n, &GoldenReader::w16); }
  std::vector<int32_t> v32(int n) { return many(n, &GoldenReader::w32); }
  std::vector<float> vf(int n) { return many(n, &GoldenReader::f32); }

 private:
  uint32_t bits(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(b_.at(p_ + i)) << (8 * i);
    p_ += bytes;
    return v;
  }
  template <class T>
  std::vector<T> many(int n, T (GoldenReader::*one)()) {
    std::vector<T> v(n);
    for (auto& x : v) x = (this->*one)();
    return v;
  }
  std::vector<uint8_t> b_;
  std::size_t p_ = 0;
  bool ok_ = false;
};


// CRC-32 (IEEE, reflected) of n bytes, continuing from `crc` (0 to start),
// and of 16-bit words as little-endian bytes.
inline uint32_t crc32(const uint8_t* p, std::size_t n, uint32_t crc = 0) {
  uint32_t c = ~crc;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}
inline uint32_t crc32(const int16_t* w, std::size_t n, uint32_t crc = 0) {
  for (std::size_t i = 0; i < n; ++i) {
    const uint8_t b[2] = {static_cast<uint8_t>(w[i] & 0xFF), static_cast<uint8_t>(static_cast<uint16_t>(w[i]) >> 8)};
    crc = crc32(b, 2, crc);
  }
  return crc;
}

// "" when `ours` equals the per-frame checksums (32-bit little-endian words)
// of the golden file `name` under tests/golden, else the first difference.
inline std::string compareChecksums(const std::string& name, const std::vector<uint32_t>& ours) {
  std::vector<uint8_t> b;
  if (!readFile(goldenDir() + "/" + name, b) || b.size() < 4) return name + ": no golden data";
  const std::size_t frames = b.size() / 4;
  for (std::size_t i = 0; i < frames && i < ours.size(); ++i) {
    const uint32_t ref = b[4 * i] | b[4 * i + 1] << 8 | b[4 * i + 2] << 16 | static_cast<uint32_t>(b[4 * i + 3]) << 24;
    if (ref != ours[i]) return name + ": frame " + std::to_string(i) + " differs from the reference";
  }
  if (frames != ours.size()) return name + ": " + std::to_string(ours.size()) + " frames, reference " + std::to_string(frames);
  return "";
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
