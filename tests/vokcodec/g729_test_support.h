// Helpers shared by the G.729-family coder tests: the registered codec,
// file reading with a test failure on a missing file, whole-stream coding
// through the registry, frame-by-frame comparison of decoded speech, and
// temporary files.
#ifndef VOKCODEC_TESTS_G729_TEST_SUPPORT_H
#define VOKCODEC_TESTS_G729_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "g729/g729_serial.h"
#include "registry.h"
#include "vectors.h"

namespace g729test {

inline const vokc::Codec& registeredCodec(const std::string& name) {
  const vokc::Codec* c = vokc::registry().find(name);
  if (!c) throw std::runtime_error(name + " not registered");
  return *c;
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
  std::vector<uint8_t> b;
  EXPECT_TRUE(vtest::readFile(path, b)) << "cannot read " << path;
  return b;
}

inline std::vector<int16_t> readPcm(const std::string& path) {
  std::vector<int16_t> w;
  EXPECT_TRUE(vtest::readWords(path, w)) << "cannot read " << path;
  return w;
}

// 16-bit words as little-endian bytes.
inline std::vector<uint8_t> wordsToBytes(const std::vector<int16_t>& words) {
  std::vector<uint8_t> b;
  b.reserve(words.size() * 2);
  for (int16_t w : words) {
    b.push_back(static_cast<uint8_t>(w & 0xFF));
    b.push_back(static_cast<uint8_t>((static_cast<uint16_t>(w) >> 8) & 0xFF));
  }
  return b;
}

inline std::vector<uint8_t> encodeWith(const vokc::Codec& c, const std::vector<int16_t>& pcm,
                                       const vokc::Options& o) {
  std::vector<uint8_t> bits;
  std::string err;
  EXPECT_TRUE(c.encode(pcm, o, bits, err)) << err;
  return bits;
}

inline std::vector<int16_t> decodeWith(const vokc::Codec& c, const std::vector<uint8_t>& bits,
                                       const vokc::Options& o) {
  std::vector<int16_t> pcm;
  std::string err;
  EXPECT_TRUE(c.decode(bits, o, pcm, err)) << err;
  return pcm;
}

// Deterministic test speech: a pitch-like pulse train over noise, with
// stretches of full-scale clipping, for tests that only need some input.
inline std::vector<int16_t> testPcm(std::size_t samples, uint32_t seed = 1) {
  std::vector<int16_t> pcm(samples);
  for (std::size_t i = 0; i < samples; ++i) {
    seed = seed * 1664525u + 1013904223u;
    int v = static_cast<int>(seed >> 20) - 2048 + (i % 57 < 3 ? 9000 : 0);
    if ((i / 800) % 5 == 4) v *= 24;
    pcm[i] = static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
  }
  return pcm;
}

// "" or the first differing 80-sample frame.
inline std::string comparePcm(const std::vector<int16_t>& got, const std::vector<int16_t>& want) {
  for (std::size_t i = 0; i < got.size() && i < want.size(); ++i)
    if (got[i] != want[i])
      return "first differing frame " + std::to_string(i / 80) + " (sample " + std::to_string(i) + ")";
  if (got.size() != want.size())
    return std::to_string(got.size()) + " samples, expected " + std::to_string(want.size());
  return "";
}

// A file in the test's temporary folder holding the given bytes (or 16-bit
// words), removed at scope exit.
class TempFile {
 public:
  explicit TempFile(const std::vector<uint8_t>& bytes) { write(bytes); }
  explicit TempFile(const std::vector<int16_t>& words) { write(wordsToBytes(words)); }
  ~TempFile() {
    if (!path.empty()) std::remove(path.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  std::string path;

 private:
  void write(const std::vector<uint8_t>& bytes) {
    std::string name = ::testing::TempDir() + "g729_testXXXXXX";
    const int fd = mkstemp(&name[0]);
    if (fd < 0) {
      ADD_FAILURE() << "cannot create a temporary file in " << ::testing::TempDir();
      return;
    }
    path = name;
    std::FILE* f = fdopen(fd, "wb");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
};

}  // namespace g729test

#endif  // VOKCODEC_TESTS_G729_TEST_SUPPORT_H
