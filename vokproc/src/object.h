// What every vokproc object shares: the tag Init writes in its first word
// (later calls refuse memory no Init of that kind formatted), the carving of
// caller memory into aligned pieces, and the status check of voksc calls.
#ifndef VOKPROC_OBJECT_H
#define VOKPROC_OBJECT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "voksc.h"

namespace vokp {

enum Tag : uint32_t {
  kTagEcho = 0x564b5001u,
  kTagLevel = 0x564b5002u,
  kTagTone = 0x564b5003u,
  kTagNoise = 0x564b5004u,
  kTagChain = 0x564b5005u,
  kTagBroken = 0x564b50ffu,  // a voksc call failed inside: Init again
};

// Hands out aligned pieces of one block of caller memory.  Run once without
// memory to size the block (every piece reserves room for its alignment, so
// the size holds at any start address), then over the memory itself.
class Arena {
 public:
  explicit Arena(void* mem = nullptr) : base_(static_cast<unsigned char*>(mem)) {}
  template <class T>
  T* take(std::size_t count, std::size_t align = 32) {
    const std::size_t bytes = count * sizeof(T) + align - 1;
    T* p = nullptr;
    if (base_) {
      const uintptr_t at = reinterpret_cast<uintptr_t>(base_ + used_);
      p = reinterpret_cast<T*>(base_ + used_ + ((align - at % align) % align));
      std::memset(static_cast<void*>(p), 0, count * sizeof(T));
    }
    used_ += bytes;
    return p;
  }
  std::size_t used() const { return used_; }

 private:
  unsigned char* base_;
  std::size_t used_ = 0;
};

// The size of a layout as an int, or -1 when it does not fit one.
inline int sizeOf(std::size_t bytes) { return bytes > 0x7fffffffu ? -1 : static_cast<int>(bytes); }

// The object of `tag` at the handle, or null when Init did not format it.
template <class T>
T* tagged(T* object, Tag tag) {
  return object && object->tag == tag ? object : nullptr;
}

}  // namespace vokp

// Every voksc call: a negative status ends the calling function with
// vokErrInternal after marking the object broken (warnings pass).
#define VOKP_CALL(object, call)                 \
  do {                                          \
    if ((call) < 0) {                           \
      (object)->tag = ::vokp::kTagBroken;       \
      return vokErrInternal;                    \
    }                                           \
  } while (0)

#endif  // VOKPROC_OBJECT_H
