// Helpers shared by the subband echo-canceller operations.
#ifndef VOKSC_EC_EC_INTERNAL_H
#define VOKSC_EC_EC_INTERNAL_H

#include <cstddef>
#include <cstdint>

namespace voksc::ec {

// The first 16-byte (or `a`-byte) boundary at or above p.
template <class T>
T* alignUp(void* p, std::size_t a = 16) {
  const auto v = reinterpret_cast<std::uintptr_t>(p);
  return reinterpret_cast<T*>((v + a - 1) & ~static_cast<std::uintptr_t>(a - 1));
}
constexpr int64_t roundUp16(int64_t bytes) { return (bytes + 15) & ~int64_t{15}; }

constexpr int kMaxSubbands = 4097;
constexpr int kMaxSegments = 255;

// Saturating 64-bit addition.
inline int64_t addSat64(int64_t a, int64_t b) {
  if (b > 0 && a > INT64_MAX - b) return INT64_MAX;
  if (b < 0 && a < INT64_MIN - b) return INT64_MIN;
  return a + b;
}

inline int32_t sat32(int64_t x) { return x > INT32_MAX ? INT32_MAX : x < INT32_MIN ? INT32_MIN : static_cast<int32_t>(x); }

// Built-in prototype windows (first halves; w[L-1-k] = w[k]).
extern const float kWindow128[64];
extern const float kWindow256[128];

}  // namespace voksc::ec

#endif  // VOKSC_EC_EC_INTERNAL_H
