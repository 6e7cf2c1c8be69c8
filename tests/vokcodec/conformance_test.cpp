// Every conformance check registered by the assembled codecs, run against
// the official vectors: one test per check.
#include <gtest/gtest.h>

#include <string>

#include "registry.h"
#include "vectors.h"

namespace {

class Conformance : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Conformance, BitExact) {
  const std::string root = vtest::testVectorDir();
  const auto& check = vokc::registry().checks[GetParam()];
  // The folder of the family: the part of the check name before the first space
  // decides nothing here, so probe the root itself.
  VTEST_REQUIRE_DIR(root + "/g729");
  EXPECT_EQ(check.run(root), "") << check.name;
}

std::string checkName(const ::testing::TestParamInfo<std::size_t>& info) {
  std::string n = vokc::registry().checks[info.param].name;
  for (char& c : n)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

INSTANTIATE_TEST_SUITE_P(Vectors, Conformance,
                         ::testing::Range<std::size_t>(0, vokc::registry().checks.size()), checkName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Conformance);

}  // namespace
