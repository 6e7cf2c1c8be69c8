// Reading a fuzzer's bytes as call arguments.  Every read succeeds: past the
// end of the input the reader yields zeros, so a target never needs to
// check how much is left before it builds a call.
#ifndef VOKSC_TESTS_FUZZ_INPUT_H
#define VOKSC_TESTS_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vfuzz {

class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : p_(data), n_(size) {}

  bool empty() const { return at_ >= n_; }

  uint8_t u8() { return at_ < n_ ? p_[at_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
  uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
  int16_t s16() { return static_cast<int16_t>(u16()); }
  int32_t s32() { return static_cast<int32_t>(u32()); }
  bool flag() { return u8() & 1; }
  // One of n choices (n >= 1).
  int pick(int n) { return static_cast<int>(u8() % static_cast<unsigned>(n)); }

  // A 16-bit value: mostly raw, sometimes an extreme or a small one, which
  // raw bytes rarely produce.
  int16_t sample() {
    switch (u8() & 7) {
      case 0: return 32767;
      case 1: return -32768;
      case 2: return static_cast<int16_t>(static_cast<int8_t>(u8()));
      default: return s16();
    }
  }
  int32_t word32() {
    switch (u8() & 7) {
      case 0: return INT32_MAX;
      case 1: return INT32_MIN;
      case 2: return static_cast<int8_t>(u8());
      default: return s32();
    }
  }
  float real() {
    switch (u8() & 15) {
      case 0: return 0.0f;
      case 1: return 1e30f;
      case 2: return -1e30f;
      case 3: return __builtin_nanf("");
      case 4: return __builtin_inff();
      case 5: return 1e-40f;  // subnormal
      case 6: return static_cast<float>(static_cast<int8_t>(u8())) / 16.0f;
      default: return static_cast<float>(s16()) / static_cast<float>(1 + (u8() & 63));
    }
  }
  // A count: usually small and valid, sometimes 0, negative or huge, which
  // the checks must catch before anything is read.
  int count(int usualMax) {
    switch (u8() & 15) {
      case 0: return 0;
      case 1: return -1 - (u8() & 7);
      case 2: return INT32_MIN;
      case 3: return usualMax + 1 + (u8() & 15);
      default: return 1 + static_cast<int>(u16() % static_cast<unsigned>(usualMax));
    }
  }
  // The rest of the input as bytes.
  std::vector<uint8_t> rest() {
    std::vector<uint8_t> out(p_ + (at_ < n_ ? at_ : n_), p_ + n_);
    at_ = n_;
    return out;
  }
  std::vector<uint8_t> bytes(std::size_t k) {
    std::vector<uint8_t> out(k);
    for (auto& b : out) b = u8();
    return out;
  }

 private:
  const uint8_t* p_;
  std::size_t n_;
  std::size_t at_ = 0;
};

}  // namespace vfuzz

#endif  // VOKSC_TESTS_FUZZ_INPUT_H
