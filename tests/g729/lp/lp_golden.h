// Reading the G.729 LP golden files (tests/golden/g729/lp/README.md).
#ifndef VOKSC_TESTS_G729_LP_GOLDEN_H
#define VOKSC_TESTS_G729_LP_GOLDEN_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "vectors.h"

namespace lptest {

// Little-endian reader over one golden file.
class Golden {
 public:
  explicit Golden(const std::string& name) { ok_ = vtest::readFile(vtest::goldenDir() + "/g729/lp/" + name, b_); }
  bool ok() const { return ok_ && !b_.empty(); }
  bool done() const { return p_ >= b_.size(); }
  int16_t w16() {
    const int16_t v = static_cast<int16_t>(b_.at(p_) | (b_.at(p_ + 1) << 8));
    p_ += 2;
    return v;
  }
  int32_t w32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(b_.at(p_ + i)) << (8 * i);
    p_ += 4;
    return static_cast<int32_t>(v);
  }
  float f32() {
    const uint32_t v = static_cast<uint32_t>(w32());
    float f;
    std::memcpy(&f, &v, sizeof f);
    return f;
  }
  std::vector<int16_t> v16(int n) {
    std::vector<int16_t> v(n);
    for (auto& x : v) x = w16();
    return v;
  }
  std::vector<int32_t> v32(int n) {
    std::vector<int32_t> v(n);
    for (auto& x : v) x = w32();
    return v;
  }
  std::vector<float> vf(int n) {
    std::vector<float> v(n);
    for (auto& x : v) x = f32();
    return v;
  }

 private:
  std::vector<uint8_t> b_;
  std::size_t p_ = 0;
  bool ok_ = false;
};

}  // namespace lptest

#endif  // VOKSC_TESTS_G729_LP_GOLDEN_H
