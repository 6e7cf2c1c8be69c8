// G.722.1 region coder: scalar quantisation of one region's 20 MLT
// coefficients with the category's step and dead zone, grouping of the
// quantised magnitudes into vectors, and their Huffman codes followed by the
// signs of the non-zero members, packed most significant bit first.
#include <cstdint>

#include "common/basic_op.h"
#include "core/status.h"
#include "g7221_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g7221 {
namespace {

constexpr int kRegionSize = 20;

struct CodeBook {
  const int16_t* length;
  const uint16_t* code;
};
constexpr CodeBook kBooks[7] = {{kCodeLen0, kCode0}, {kCodeLen1, kCode1}, {kCodeLen2, kCode2}, {kCodeLen3, kCode3},
                                {kCodeLen4, kCode4}, {kCodeLen5, kCode5}, {kCodeLen6, kCode6}};

// MSB-first bit sink over 32-bit words; a word is stored once it is full
// or when the sink is closed.
struct WordSink {
  uint32_t* out;
  uint32_t word = 0;
  int free = 32;
  void put(uint32_t bits, int n) {
    if (n <= free) {
      free -= n;
      word |= bits << free;  // n >= 1, so free < 32 here
      return;
    }
    const int spill = n - free;
    *out++ = word | (bits >> spill);
    free = 32 - spill;
    word = bits << free;
  }
  void close() { *out++ = word; }
};

}  // namespace

// Quantised magnitude of |x| for the category: |x| times the scale, plus
// the dead-zone offset, in Q13.  The scale is kept in two parts (its value
// >> 2 and its low two bits) and the low part's contribution is formed in
// 16-bit arithmetic, wrapping where it overflows.
int regionCode(int category, int powerIndex, const int16_t* coefs, uint32_t* words) {
  const int dim = kVectorDim[category];
  const int vectors = kVectorsPerRegion[category];
  const int16_t top = kLargestLevel[category];
  const Word32 scaleQ = (((L_mult(kInverseStep[category], kInverseDeviation[powerIndex]) >> 1) + 4096) >> 13);
  const int16_t scaleLow = static_cast<int16_t>(scaleQ & 3);
  const int16_t scale = extract_l(scaleQ >> 2);
  WordSink sink{words};
  int total = 0;
  for (int v = 0; v < vectors; ++v) {
    int index = 0, signs = 0, nonZero = 0;
    for (int j = 0; j < dim; ++j) {
      const int16_t x = coefs[v * dim + j];
      const int16_t mag = abs_s(x);
      int16_t fine = static_cast<int16_t>(L_mult(mag, scaleLow));
      fine = static_cast<int16_t>(fine >> 1);
      fine = static_cast<int16_t>(fine + kDeadZoneLow[category]);
      fine = static_cast<int16_t>(fine >> 2);
      const Word32 acc = L_add(L_add(L_mult(mag, scale) >> 1, kDeadZone[category]), fine);
      int16_t level = extract_l(acc >> 13);
      if (level != 0) {
        ++nonZero;
        signs = (signs << 1) | (x > 0 ? 1 : 0);
        // A 16-bit level that wrapped negative (an index far below the
        // region's power) is coded as the largest level.
        if (level > top || level < 0) level = top;
      }
      index = index * (top + 1) + level;
    }
    const int len = kBooks[category].length[index] + nonZero;
    total += len;
    sink.put((uint32_t{kBooks[category].code[index]} << nonZero) + static_cast<uint32_t>(signs), len);
  }
  sink.close();
  return total;
}

}  // namespace voksc::g7221

VOKSC_EXPORT VokResult voksHuffmanEncode_G722_16s32u(int category, int powerIndex, const Vok16s* coefs,
                                                     Vok32u* words, int* bits) {
  if (anyNull(coefs, words, bits)) return vokErrNullPtr;
  if (category < 0 || category > 6 || powerIndex < 0 || powerIndex > 63) return vokErrScale;
  *bits = voksc::g7221::regionCode(category, powerIndex, coefs, words);
  return vokOk;
}
