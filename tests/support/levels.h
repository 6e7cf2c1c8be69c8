// Kernel levels in tests.  Tests that call a vector form directly (to hold
// it against the scalar form) run it only where this processor has it; the
// whole suite also runs under VOKSC_CPU=scalar, which compares the levels
// through every vector and golden check.
#ifndef VOKSC_TESTS_SUPPORT_LEVELS_H
#define VOKSC_TESTS_SUPPORT_LEVELS_H

#include <gtest/gtest.h>

#include "core/cpu.h"

namespace vtest {

inline bool haveAvx2() { return voksc::cpu::supported() >= voksc::cpu::Level::kAvx2; }

}  // namespace vtest

#define REQUIRE_AVX2() \
  if (!vtest::haveAvx2()) GTEST_SKIP() << "no AVX2 on this processor"

#endif  // VOKSC_TESTS_SUPPORT_LEVELS_H
