// G.722.1 region coder: scalar quantisation of one region's 20 MLT
// coefficients with the category's step and dead zone, grouping of the
// quantised magnitudes into vectors, and their Huffman codes followed by the
// signs of the non-zero members, packed most significant bit first.
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "common/basic_op.h"
#include "core/cpu.h"
#include "core/status.h"
#include "g7221_mlt.h"
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

void regionLevelsScalar(const Quantiser& q, const int16_t* coefs, Levels& out) {
  out.nonZero = out.positive = 0;
  for (int j = 0; j < kRegionSize; ++j) {
    const int16_t x = coefs[j];
    const int16_t mag = abs_s(x);
    int16_t fine = static_cast<int16_t>(L_mult(mag, q.scaleLow));
    fine = static_cast<int16_t>(fine >> 1);
    fine = static_cast<int16_t>(fine + q.deadZoneLow);
    fine = static_cast<int16_t>(fine >> 2);
    const Word32 acc = L_add(L_add(L_mult(mag, q.scale) >> 1, q.deadZone), fine);
    int16_t level = extract_l(acc >> 13);
    if (level != 0) {
      out.nonZero |= 1u << j;
      if (x > 0) out.positive |= 1u << j;
      if (level > q.top || level < 0) level = q.top;
    }
    out.level[j] = level;
  }
}

#if defined(VOKSC_X86)
// Sixteen coefficients at a time: the 16-bit steps of the fine part wrap
// as the scalar ones do; mag * scale + fine (below 2^30 in magnitude) is
// one exact madd; the low 16 bits of the shifted sum are kept by masking
// before an unsigned pack.
VOKSC_TARGET_AVX2 __m256i levels16(const Quantiser& q, __m256i x) {
  const __m256i mag = _mm256_min_epu16(_mm256_abs_epi16(x), _mm256_set1_epi16(32767));
  __m256i fine = _mm256_srai_epi16(_mm256_mullo_epi16(mag, _mm256_set1_epi16(static_cast<int16_t>(2 * q.scaleLow))), 1);
  fine = _mm256_srai_epi16(_mm256_add_epi16(fine, _mm256_set1_epi16(q.deadZoneLow)), 2);
  const __m256i weights = _mm256_set1_epi32(static_cast<int32_t>((uint32_t{1} << 16) | static_cast<uint16_t>(q.scale)));
  const __m256i dz = _mm256_set1_epi32(q.deadZone), low16 = _mm256_set1_epi32(0xFFFF);
  const __m256i a = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(mag, fine), weights), dz), 13);
  const __m256i b = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(mag, fine), weights), dz), 13);
  const __m256i level = _mm256_packus_epi32(_mm256_and_si256(a, low16), _mm256_and_si256(b, low16));
  const __m256i top = _mm256_set1_epi16(q.top);
  const __m256i outside = _mm256_or_si256(_mm256_cmpgt_epi16(level, top), _mm256_cmpgt_epi16(_mm256_setzero_si256(), level));
  return _mm256_blendv_epi8(level, top, outside);
}

// One bit per 16-bit lane of two comparison masks (first's lanes low).
VOKSC_TARGET_AVX2 uint32_t laneBits(__m256i first, __m256i second) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_permute4x64_epi64(_mm256_packs_epi16(first, second), 0xD8)));
}

VOKSC_TARGET_AVX2 void regionLevelsAvx2(const Quantiser& q, const int16_t* coefs, Levels& out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i head = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coefs));
  const __m256i tail = _mm256_zextsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(coefs + 16)));
  const __m256i l0 = levels16(q, head), l1 = levels16(q, tail);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.level), l0);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.level + 16), l1);
  out.nonZero = ~laneBits(_mm256_cmpeq_epi16(l0, zero), _mm256_cmpeq_epi16(l1, zero)) & 0xFFFFFu;
  out.positive = laneBits(_mm256_cmpgt_epi16(head, zero), _mm256_cmpgt_epi16(tail, zero)) & out.nonZero;
}
#else
void regionLevelsAvx2(const Quantiser& q, const int16_t* coefs, Levels& out) { regionLevelsScalar(q, coefs, out); }
#endif

// Quantises a region and writes its vector codes, each followed by the
// signs of its non-zero members (first member most significant); returns
// the bits written.
int regionCode(int category, int powerIndex, const int16_t* coefs, uint32_t* words) {
  static const auto levelsOf = voksc::cpu::choose(regionLevelsScalar, regionLevelsAvx2);
  const int dim = kVectorDim[category];
  const int vectors = kVectorsPerRegion[category];
  const int radix = kLargestLevel[category] + 1;
  const Word32 scaleQ = (((L_mult(kInverseStep[category], kInverseDeviation[powerIndex]) >> 1) + 4096) >> 13);
  const Quantiser q{extract_l(scaleQ >> 2), static_cast<int16_t>(scaleQ & 3), kDeadZone[category],
                    kDeadZoneLow[category], kLargestLevel[category]};
  Levels lv;
  levelsOf(q, coefs, lv);
  WordSink sink{words};
  int total = 0;
  for (int v = 0, at = 0; v < vectors; ++v) {
    int index = 0, signs = 0, nonZero = 0;
    for (int j = 0; j < dim; ++j, ++at) {
      index = index * radix + lv.level[at];
      if (lv.nonZero >> at & 1) {
        ++nonZero;
        signs = signs << 1 | static_cast<int>(lv.positive >> at & 1);
      }
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
