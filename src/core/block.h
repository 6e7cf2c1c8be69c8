// Internal block services: zero/constant fill, copy, constant shifts.
// Each returns a status (vokErrNullPtr, vokErrSize, vokErrShift) like an
// export; codec code calls them with arguments it has already checked.
#ifndef VOKSC_CORE_BLOCK_H
#define VOKSC_CORE_BLOCK_H

#include <cstddef>
#include <cstdint>

namespace voksc::core {

// Fill `bytes` bytes with a repeating pattern of `patBytes` (1, 2, 4, 8 or
// 16) bytes.  Blocks above 2 MiB that are larger than the largest cache are
// written with streaming stores.  Returns dst.  `usedStreaming`, when given,
// tells whether the cache-bypassing path ran (and whether the cache size was
// asked for).
void* fillPattern(void* dst, std::size_t bytes, const void* pattern, int patBytes,
                  bool* askedCache = nullptr, bool* usedStreaming = nullptr);

int zero8(uint8_t* dst, int n);
int zero16(int16_t* dst, int n);
int zero32(int32_t* dst, int n);
int zero64(int64_t* dst, int n);
int zero128(void* dst, int n);  // n elements of 16 bytes
int set16(int16_t value, int16_t* dst, int n);
int set32(int32_t value, int32_t* dst, int n);
int copy16(const int16_t* src, int16_t* dst, int n);

// Arithmetic shifts by a constant.  0 copies; negative gives vokErrShift;
// right shifts by the element width or more give each element's sign;
// left shifts of 16-bit elements by 16 or more give zero.
int shiftRight16(const int16_t* src, int16_t* dst, int n, int shift);
int shiftLeft16(const int16_t* src, int16_t* dst, int n, int shift);
int shiftRight32(const int32_t* src, int32_t* dst, int n, int shift);
int shiftLeft32(const int32_t* src, int32_t* dst, int n, int shift);

}  // namespace voksc::core

#endif  // VOKSC_CORE_BLOCK_H
