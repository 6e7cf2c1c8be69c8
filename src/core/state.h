// Caller-owned state objects: some families use their object from the first
// 16-byte boundary at or above the caller's pointer, so callers need no
// particular alignment.
#ifndef VOKSC_CORE_STATE_H
#define VOKSC_CORE_STATE_H

#include <cstddef>
#include <cstdint>

namespace voksc::core {

template <class T>
inline T* alignState16(void* p) {
  auto a = (reinterpret_cast<uintptr_t>(p) + 15) & ~uintptr_t{15};
  return reinterpret_cast<T*>(a);
}

// Bytes to report for an object used from its first 16-byte boundary.
constexpr int alignedStateSize(std::size_t bytes) { return static_cast<int>(bytes + 15); }

}  // namespace voksc::core

#endif  // VOKSC_CORE_STATE_H
