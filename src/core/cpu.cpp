#include "cpu.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#if defined(VOKSC_X86)
#include <cpuid.h>
#endif

namespace voksc::cpu {

namespace {

#if defined(VOKSC_X86)
// The register states the operating system saves (XCR0), read only once
// cpuid has shown that the instruction exists (OSXSAVE).
unsigned long long savedStates() {
  unsigned lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<unsigned long long>(hi) << 32) | lo;
}

Level probe() {
  unsigned a, b, c, d;
  if (__get_cpuid_max(0, nullptr) < 7) return Level::kScalar;
  __cpuid(1, a, b, c, d);
  // The vector levels also take POPCNT (every processor with AVX2 has it;
  // a virtual machine could hide it).
  const bool osxsave = (c >> 27) & 1, avx = (c >> 28) & 1, popcnt = (c >> 23) & 1;
  if (!osxsave || !avx || !popcnt) return Level::kScalar;
  const unsigned long long xcr0 = savedStates();
  if ((xcr0 & 0x6) != 0x6) return Level::kScalar;  // SSE and AVX halves of the ymm registers
  __cpuid_count(7, 0, a, b, c, d);
  if (!((b >> 5) & 1)) return Level::kScalar;  // AVX2
  // AVX-512 F, DQ, BW, VL with the opmask and both zmm halves saved.
  const unsigned avx512 = (1u << 16) | (1u << 17) | (1u << 30) | (1u << 31);
  if ((b & avx512) == avx512 && (xcr0 & 0xE6) == 0xE6) return Level::kAvx512;
  return Level::kAvx2;
}
#else
Level probe() { return Level::kScalar; }
#endif

Level fromEnvironment(Level top) {
  const char* v = std::getenv("VOKSC_CPU");
  if (v == nullptr) return top;
  for (Level l : {Level::kScalar, Level::kAvx2, Level::kAvx512}) {
    if (std::strcmp(v, name(l)) == 0) return l < top ? l : top;
  }
  return top;  // an unknown name changes nothing
}

}  // namespace

Level supported() {
  static const Level l = probe();
  return l;
}

Level level() {
  static const Level l = fromEnvironment(supported());
  return l;
}

const char* name(Level l) {
  switch (l) {
    case Level::kAvx2: return "avx2";
    case Level::kAvx512: return "avx512";
    default: return "scalar";
  }
}

}  // namespace voksc::cpu
