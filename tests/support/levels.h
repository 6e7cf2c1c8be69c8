// Kernel levels in tests.  Tests that call a vector form directly (to hold
// it against the scalar form) run it only where this processor has it; the
// whole suite also runs under VOKSC_CPU=scalar, which compares the levels
// through every vector and golden check.  The input families below reach
// the kernels' different paths.
#ifndef VOKSC_TESTS_SUPPORT_LEVELS_H
#define VOKSC_TESTS_SUPPORT_LEVELS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/cpu.h"

namespace vtest {

inline bool haveAvx2() { return voksc::cpu::supported() >= voksc::cpu::Level::kAvx2; }

// Quiet and speech-like samples keep the 32-bit lane paths; decaying
// responses are what filters and searches meet; full-range noise,
// alternating full scale and the most negative value (all of it, or most)
// saturate chains and wrap lanes; runs of one sign drive partial sums past
// 32 bits and back; a few pulses in zeros leave most terms empty.
enum class Kind { Quiet, Speechlike, Decaying, Loud, Alternating, Floor, MostNegative, Runs, Sparse };
inline constexpr Kind kKinds[] = {Kind::Quiet, Kind::Speechlike, Kind::Decaying, Kind::Loud,  Kind::Alternating,
                                  Kind::Floor, Kind::MostNegative, Kind::Runs,     Kind::Sparse};

inline void fill(std::mt19937& rng, Kind k, int16_t* v, int n) {
  std::uniform_int_distribution<int> full(-32768, 32767), small(-300, 300);
  double decaying = 4096 + full(rng) / 8;
  for (int i = 0; i < n; ++i, decaying *= -0.8) {
    int x = 0;
    switch (k) {
      case Kind::Quiet: x = small(rng); break;
      case Kind::Speechlike: x = 20 * small(rng); break;
      case Kind::Decaying: x = static_cast<int>(decaying) + small(rng); break;
      case Kind::Loud: x = full(rng); break;
      case Kind::Alternating: x = i & 1 ? 32767 : -32768; break;
      case Kind::Floor: x = -32768; break;
      case Kind::MostNegative: x = (rng() & 7) ? -32768 : full(rng); break;
      case Kind::Runs: x = ((i / 23) & 1) ? -32767 + int(rng() & 3) : 32767 - int(rng() & 3); break;
      case Kind::Sparse: x = rng() % 13 == 0 ? full(rng) : 0; break;
    }
    v[i] = static_cast<int16_t>(x);
  }
}
inline std::vector<int16_t> make(std::mt19937& rng, int n, Kind k) {
  std::vector<int16_t> v(static_cast<std::size_t>(n));
  fill(rng, k, v.data(), n);
  return v;
}
// Uniform in [lo, hi]; noise(): uniform in [-amp, amp] from its own seed.
inline std::vector<int16_t> words(std::mt19937& rng, int n, int lo, int hi) {
  std::uniform_int_distribution<int> d(lo, hi);
  std::vector<int16_t> v(static_cast<std::size_t>(n));
  for (auto& x : v) x = static_cast<int16_t>(d(rng));
  return v;
}
inline std::vector<int16_t> noise(int n, int amp, unsigned seed) {
  std::mt19937 rng(seed);
  return words(rng, n, -amp, amp);
}

}  // namespace vtest

#define REQUIRE_AVX2() \
  if (!vtest::haveAvx2()) GTEST_SKIP() << "no AVX2 on this processor"

#endif  // VOKSC_TESTS_SUPPORT_LEVELS_H
