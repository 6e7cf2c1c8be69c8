// Per-case checksums of the G.723.1 reference routines (built outside this
// repository): tests/golden/g723/<file>, lines "name: 0x..., 0x...".
#ifndef VOKSC_TESTS_G723_GOLDEN_H
#define VOKSC_TESTS_G723_GOLDEN_H

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "vectors.h"

namespace g723test {

inline std::map<std::string, std::vector<uint32_t>> golden(const std::string& file) {
  std::map<std::string, std::vector<uint32_t>> g;
  std::ifstream f(vtest::goldenDir() + "/g723/" + file);
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

}  // namespace g723test

#endif
