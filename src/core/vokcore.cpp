#include "vokcore.h"

#include <cstdlib>
#include <thread>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace voksc::core {

void* vokMalloc(int bytes) {
  if (bytes < 1) return nullptr;
  size_t n = (static_cast<size_t>(bytes) + 63) & ~size_t{63};
  return std::aligned_alloc(64, n);
}

void vokFree(void* p) { std::free(p); }

int vokGetMaxCacheSizeB(int* bytes) {
  if (bytes == nullptr) return -8;
#if defined(__i386__) || defined(__x86_64__)
  // Deterministic cache parameters (leaf 4): size = ways * partitions * line * sets.
  unsigned eax, ebx, ecx, edx;
  if (__get_cpuid_max(0, nullptr) < 4) return -1;
  long best = 0;
  for (unsigned sub = 0; sub < 16; ++sub) {
    __cpuid_count(4, sub, eax, ebx, ecx, edx);
    if ((eax & 0x1F) == 0) break;
    long ways = ((ebx >> 22) & 0x3FF) + 1;
    long parts = ((ebx >> 12) & 0x3FF) + 1;
    long line = (ebx & 0xFFF) + 1;
    long sets = static_cast<long>(ecx) + 1;
    long size = ways * parts * line * sets;
    if (size > best) best = size;
  }
  if (best <= 0) return -1;
  *bytes = best > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(best);
  return 0;
#else
  return -1;
#endif
}

int ownGetNumThreads() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

}  // namespace voksc::core
