// The shared argument-check idiom: an export that fails must return the
// expected status and leave every output untouched.
//
//   Guard g;
//   g.watch(r, 10).watch(&norm);          // outputs get a sentinel pattern
//   EXPECT_REJECTS(vokErrNullPtr, g, voksAutoCorr_NormE_16s32s(nullptr, 0, r, 10, &norm));
//
// Use a call with several faults at once (null pointer and bad length) to
// prove the check order.  EXPECT_EACH_NULL(g, export, args...) makes each
// pointer argument null in turn.
#ifndef VOKSC_TESTS_SUPPORT_CHECK_H
#define VOKSC_TESTS_SUPPORT_CHECK_H

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>
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

// A pointer the export accepts as null (an optional memory): passed through
// as it is by rejectsEachNull.
template <class T>
struct May {
  T* p;
};
template <class T>
May<T> may(T* p) {
  return {p};
}

namespace detail {
template <class A>
A nullAt(A a, int index, int target) {
  if constexpr (std::is_pointer_v<A>) return index == target ? nullptr : a;
  return a;
}
template <class T>
T* nullAt(May<T> m, int, int) {
  return m.p;
}
template <class F, class Args, std::size_t... I>
int callWithNull(F f, const Args& args, int target, std::index_sequence<I...>) {
  return f(nullAt(std::get<I>(args), static_cast<int>(I), target)...);
}
}  // namespace detail

// The call once per pointer argument, with that argument null: each must
// return vokErrNullPtr and write nothing.  Give the other arguments bad
// lengths or ranges to prove that the pointers are checked first.
template <class F, class... A>
::testing::AssertionResult rejectsEachNull(Guard& g, F f, A... args) {
  constexpr bool isPointer[] = {std::is_pointer_v<A>..., false};
  for (int target = 0; target < static_cast<int>(sizeof...(A)); ++target) {
    if (!isPointer[target]) continue;
    g.arm();
    const int got = detail::callWithNull(f, std::make_tuple(args...), target, std::index_sequence_for<A...>{});
    if (got != vokErrNullPtr)
      return ::testing::AssertionFailure() << "argument " << target << " null: status " << got;
    if (auto u = g.untouched(); !u) return u << " (argument " << target << " null)";
  }
  return ::testing::AssertionSuccess();
}

// rejectsEachNull, then the same call with every pointer given: it must
// return `expected` (the length or range fault the arguments carry) and
// write nothing.
template <class F, class... A>
::testing::AssertionResult rejectsNullsThen(int expected, Guard& g, F f, A... args) {
  if (auto r = rejectsEachNull(g, f, args...); !r) return r;
  g.arm();
  const int got = detail::callWithNull(f, std::make_tuple(args...), -1, std::index_sequence_for<A...>{});
  if (got != expected) return ::testing::AssertionFailure() << "status " << got << ", expected " << expected;
  return g.untouched();
}

}  // namespace vtest

// EXPECT_NULLS_THEN(vokErrSize, g, export, args...): each pointer null gives
// vokErrNullPtr, then the call as given gives vokErrSize; nothing written.
#define EXPECT_NULLS_THEN(expected, guard, ...) \
  EXPECT_TRUE(::vtest::rejectsNullsThen((expected), (guard), __VA_ARGS__))
#define EXPECT_EACH_NULL(guard, ...) EXPECT_TRUE(::vtest::rejectsEachNull((guard), __VA_ARGS__))

#define EXPECT_REJECTS(expected, guard, call) \
  EXPECT_TRUE(::vtest::rejects((expected), (guard), [&]() { return (call); }))

#endif  // VOKSC_TESTS_SUPPORT_CHECK_H
