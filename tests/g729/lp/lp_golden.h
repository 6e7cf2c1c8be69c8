// Reading the G.729 LP golden files (tests/golden/g729/lp/README.md).
#ifndef VOKSC_TESTS_G729_LP_GOLDEN_H
#define VOKSC_TESTS_G729_LP_GOLDEN_H

#include <string>

#include "vectors.h"

namespace lptest {

struct Golden : vtest::GoldenReader {
  explicit Golden(const std::string& name) : GoldenReader("g729/lp/" + name) {}
};

}  // namespace lptest

#endif  // VOKSC_TESTS_G729_LP_GOLDEN_H
