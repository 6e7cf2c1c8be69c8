#include "block.h"

#include <cstring>
#include <type_traits>

#include "voksc.h"
#include "vokcore.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace voksc::core {

namespace {

constexpr std::size_t kStreamingThreshold = 0x200000;  // 2 MiB

// Replicate the pattern into a 64-byte block.
void makeBlock(uint8_t (&blk)[64], const void* pattern, int patBytes) {
  for (int i = 0; i < 64; i += patBytes) std::memcpy(blk + i, pattern, patBytes);
}

void plainFill(uint8_t* d, std::size_t bytes, const uint8_t (&blk)[64]) {
  // Align to 32 bytes for large blocks; the pattern phase follows the
  // distance from the start, so the block is rotated accordingly.
  std::size_t done = 0;
  while (bytes - done >= 64) {
    std::memcpy(d + done, blk, 64);
    done += 64;
  }
  std::memcpy(d + done, blk, bytes - done);
}

}  // namespace

void* fillPattern(void* dst, std::size_t bytes, const void* pattern, int patBytes,
                  bool* askedCache, bool* usedStreaming) {
  uint8_t blk[64];
  makeBlock(blk, pattern, patBytes);
  auto* d = static_cast<uint8_t*>(dst);
  if (askedCache) *askedCache = false;
  if (usedStreaming) *usedStreaming = false;
  bool stream = false;
  if (bytes > kStreamingThreshold) {
    int cache = 0;
    if (askedCache) *askedCache = true;
    if (vokGetMaxCacheSizeB(&cache) == 0 && cache > 0 && bytes > static_cast<std::size_t>(cache))
      stream = true;
  }
#if defined(__SSE2__)
  if (stream) {
    if (usedStreaming) *usedStreaming = true;
    // Head: 64 ordinary bytes, then continue from the next 64-byte boundary
    // with the pattern phase kept (the pattern length divides 64).
    std::size_t head = (64 - (reinterpret_cast<uintptr_t>(d) & 63)) & 63;
    if (head) std::memcpy(d, blk, 64);
    uint8_t rot[64];
    for (int i = 0; i < 64; ++i) rot[i] = blk[(head + i) % 64];
    uint8_t* p = d + head;
    std::size_t left = bytes - head;
    __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rot));
    __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rot + 16));
    __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rot + 32));
    __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rot + 48));
    while (left >= 64) {
      _mm_stream_si128(reinterpret_cast<__m128i*>(p), v0);
      _mm_stream_si128(reinterpret_cast<__m128i*>(p + 16), v1);
      _mm_stream_si128(reinterpret_cast<__m128i*>(p + 32), v2);
      _mm_stream_si128(reinterpret_cast<__m128i*>(p + 48), v3);
      p += 64;
      left -= 64;
    }
    std::size_t off = 0;
    if (left >= 32) {
      _mm_stream_si128(reinterpret_cast<__m128i*>(p), v0);
      _mm_stream_si128(reinterpret_cast<__m128i*>(p + 16), v1);
      off = 32;
    }
    if (left - off >= 16) {
      _mm_stream_si128(reinterpret_cast<__m128i*>(p + off), off ? v2 : v0);
      off += 16;
    }
    std::memcpy(p + off, rot + off, left - off);
    _mm_sfence();
    return dst;
  }
#endif
  plainFill(d, bytes, blk);
  return dst;
}

int zero8(uint8_t* dst, int n) {
  if (!dst) return vokErrNullPtr;
  if (n < 1) return vokErrSize;
  const uint8_t z = 0;
  fillPattern(dst, static_cast<std::size_t>(n), &z, 1);
  return vokOk;
}
int zero16(int16_t* dst, int n) { return set16(0, dst, n); }
int zero32(int32_t* dst, int n) { return set32(0, dst, n); }
int zero64(int64_t* dst, int n) {
  if (!dst) return vokErrNullPtr;
  if (n < 1) return vokErrSize;
  const int64_t z = 0;
  fillPattern(dst, static_cast<std::size_t>(n) * 8, &z, 8);
  return vokOk;
}
int zero128(void* dst, int n) {
  if (!dst) return vokErrNullPtr;
  if (n < 1) return vokErrSize;
  const uint8_t z[16] = {};
  fillPattern(dst, static_cast<std::size_t>(n) * 16, z, 16);
  return vokOk;
}
int set16(int16_t value, int16_t* dst, int n) {
  if (!dst) return vokErrNullPtr;
  if (n < 1) return vokErrSize;
  fillPattern(dst, static_cast<std::size_t>(n) * 2, &value, 2);
  return vokOk;
}
int set32(int32_t value, int32_t* dst, int n) {
  if (!dst) return vokErrNullPtr;
  if (n < 1) return vokErrSize;
  fillPattern(dst, static_cast<std::size_t>(n) * 4, &value, 4);
  return vokOk;
}
int copy16(const int16_t* src, int16_t* dst, int n) {
  if (!src || !dst) return vokErrNullPtr;
  if (n < 1) return vokErrSize;
  std::memmove(dst, src, static_cast<std::size_t>(n) * 2);
  return vokOk;
}

namespace {
template <class T, int Bits>
int shiftCommon(const T* src, T* dst, int n, int shift, bool left) {
  if (!src || !dst) return vokErrNullPtr;
  if (n < 1) return vokErrSize;
  if (shift < 0) return vokErrShift;
  if (shift == 0) {
    std::memmove(dst, src, static_cast<std::size_t>(n) * sizeof(T));
    return vokOk;
  }
  if (left) {
    if (shift >= Bits) {
      for (int i = 0; i < n; ++i) dst[i] = 0;
    } else {
      for (int i = 0; i < n; ++i)
        dst[i] = static_cast<T>(static_cast<std::make_unsigned_t<T>>(src[i]) << shift);
    }
  } else {
    int s = shift >= Bits ? Bits - 1 : shift;
    for (int i = 0; i < n; ++i) dst[i] = static_cast<T>(src[i] >> s);
  }
  return vokOk;
}
}  // namespace

int shiftRight16(const int16_t* s, int16_t* d, int n, int k) { return shiftCommon<int16_t, 16>(s, d, n, k, false); }
int shiftLeft16(const int16_t* s, int16_t* d, int n, int k) { return shiftCommon<int16_t, 16>(s, d, n, k, true); }
int shiftRight32(const int32_t* s, int32_t* d, int n, int k) { return shiftCommon<int32_t, 32>(s, d, n, k, false); }
int shiftLeft32(const int32_t* s, int32_t* d, int n, int k) { return shiftCommon<int32_t, 32>(s, d, n, k, true); }

}  // namespace voksc::core
