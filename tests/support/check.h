// The shared argument-check idiom: an export that fails must return the
// expected status and leave every output untouched.
//
//   Guard g;
//   g.watch(r, 10).watch(&norm);          // outputs get a sentinel pattern
//   EXPECT_REJECTS(vokErrNullPtr, g, voksAutoCorr_NormE_16s32s(nullptr, 0, r, 10, &norm));
//
// Use a call with several faults at once (null pointer and bad length) to
// prove the check order.
#ifndef VOKSC_TESTS_SUPPORT_CHECK_H
#define VOKSC_TESTS_SUPPORT_CHECK_H

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "voksc.h"

namespace vtest {

class Guard {
 public:
  template <class T>
  Guard& watch(T* p, std::size_t count = 1) {
    Region r{reinterpret_cast<unsigned char*>(p), count * sizeof(T), {}};
    regions_.push_back(r);
    return *this;
  }
  // Fill every watched region with the sentinel pattern.
  void arm() {
    for (auto& r : regions_) {
      for (std::size_t i = 0; i < r.bytes; ++i) r.ptr[i] = static_cast<unsigned char>(0xA5 ^ (i * 7));
      r.copy.assign(r.ptr, r.ptr + r.bytes);
    }
  }
  ::testing::AssertionResult untouched() const {
    for (std::size_t k = 0; k < regions_.size(); ++k) {
      const auto& r = regions_[k];
      if (std::memcmp(r.ptr, r.copy.data(), r.bytes) != 0) {
        for (std::size_t i = 0; i < r.bytes; ++i)
          if (r.ptr[i] != r.copy[i])
            return ::testing::AssertionFailure() << "output " << k << " written at byte " << i;
      }
    }
    return ::testing::AssertionSuccess();
  }

 private:
  struct Region {
    unsigned char* ptr;
    std::size_t bytes;
    std::vector<unsigned char> copy;
  };
  std::vector<Region> regions_;
};

template <class F>
::testing::AssertionResult rejects(int expected, Guard& g, F&& call) {
  g.arm();
  int got = call();
  if (got != expected)
    return ::testing::AssertionFailure() << "status " << got << ", expected " << expected;
  return g.untouched();
}

}  // namespace vtest

#define EXPECT_REJECTS(expected, guard, call) \
  EXPECT_TRUE(::vtest::rejects((expected), (guard), [&]() { return (call); }))

#endif  // VOKSC_TESTS_SUPPORT_CHECK_H
