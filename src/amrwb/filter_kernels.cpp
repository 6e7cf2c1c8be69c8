// AMR-WB filter kernels (see filter_kernels.h).
#include "filter_kernels.h"

#include <cstring>

#include "common/basic_op.h"
#include "core/cpu.h"

#if defined(VOKSC_X86)
#include <immintrin.h>
#endif

using namespace voksc::op;

namespace voksc::amrwb {

namespace {

int64_t magnitude(const int16_t* h, int n) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) s += h[i] < 0 ? -int64_t{h[i]} : int64_t{h[i]};
  return s;
}

int32_t peak(const int16_t* x, int n) {
  int32_t m = 0;
  for (int i = 0; i < n; ++i) {
    const int32_t v = x[i] < 0 ? -int32_t{x[i]} : int32_t{x[i]};
    m = v > m ? v : m;
  }
  return m;
}

// Twice the products of samples up to `peakX` with taps of magnitude sum
// `taps` keep every partial sum of a chain inside 32 bits (this also rules
// out the one product that saturates, -32768 * -32768).
bool fits(int64_t peakX, int64_t taps) { return 2 * peakX * taps <= INT32_MAX; }

// The synthesis chains stay inside 32 bits: the middle products (12-bit
// parts) sum below 2^31, and the start (at most 2 taps + 1 after the
// shift), the excitation product and the high products (16-bit parts)
// together as well.
bool synthesisBounded(const int16_t* a, int order) {
  const int64_t taps = magnitude(a + 1, order);
  const int64_t a0 = a[0] < 0 ? -int64_t{a[0]} : int64_t{a[0]};
  return 2 * 4095 * taps <= INT32_MAX && 2 * taps + 1 + 65536 * (a0 + taps) <= INT32_MAX;
}

int32_t synthesisOutput(int32_t acc) { return static_cast<int32_t>(static_cast<uint32_t>(L_shl(acc, 3)) & ~15u); }

}  // namespace

// ---- LP residual chains ------------------------------------------------------

void residualChains_scalar(const int16_t* a, int order, const int16_t* x, int32_t* acc, int len) {
  if (fits(peak(x - order, len + order), magnitude(a, order + 1))) {
    for (int n = 0; n < len; ++n) {
      int32_t s = 0;
      for (int i = 0; i <= order; ++i) s += a[i] * x[n - i];
      acc[n] = 2 * s;
    }
    return;
  }
  for (int n = 0; n < len; ++n) {
    Word32 s = L_mult(x[n], a[0]);
    for (int i = 1; i <= order; ++i) s = L_mac(s, a[i], x[n - i]);
    acc[n] = s;
  }
}

#if defined(VOKSC_X86)
namespace {

// 16 doubled sums acc[n0..n0+15] of a bounded filter: taps in pairs
// (i, i+1), one madd giving a[i] x[n-i] + a[i+1] x[n-i-1] per lane; the
// unpacks leave outputs 0-3 and 8-11 in `lo`, 4-7 and 12-15 in `hi`.  A
// single last tap pairs with itself under a zero coefficient.
VOKSC_TARGET_AVX2 void residualBlock16(const int16_t* a, int order, const int16_t* x, int32_t* acc) {
  __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
  int i = 0;
  for (; i + 1 <= order; i += 2) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x - i));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x - i - 1));
    const __m256i c = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(a[i]) |
                                                             (static_cast<uint32_t>(static_cast<uint16_t>(a[i + 1])) << 16)));
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(v0, v1), c));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(v0, v1), c));
  }
  if (i == order) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x - i));
    const __m256i c = _mm256_set1_epi32(static_cast<uint16_t>(a[i]));
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(v0, v0), c));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(v0, v0), c));
  }
  lo = _mm256_slli_epi32(lo, 1);
  hi = _mm256_slli_epi32(hi, 1);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc), _mm256_permute2x128_si256(lo, hi, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + 8), _mm256_permute2x128_si256(lo, hi, 0x31));
}

}  // namespace

VOKSC_TARGET_AVX2 void residualChains_avx2(const int16_t* a, int order, const int16_t* x, int32_t* acc, int len) {
  if (len < 16 || !fits(peak(x - order, len + order), magnitude(a, order + 1))) {
    residualChains_scalar(a, order, x, acc, len);
    return;
  }
  int n = 0;
  for (; n + 16 <= len; n += 16) residualBlock16(a, order, x + n, acc + n);
  // The last block overlaps the previous one; it rewrites equal values.
  if (n < len) residualBlock16(a, order, x + len - 16, acc + len - 16);
}
#else
void residualChains_avx2(const int16_t* a, int order, const int16_t* x, int32_t* acc, int len) {
  residualChains_scalar(a, order, x, acc, len);
}
#endif

void residualChains(const int16_t* a, int order, const int16_t* x, int32_t* acc, int len) {
  static const auto form = cpu::choose(residualChains_scalar, residualChains_avx2);
  form(a, order, x, acc, len);
}

// ---- 32-bit synthesis --------------------------------------------------------

// Past outputs (low 4 bits zero) enter as their 12-bit middle part and
// their high word: the middle products are summed first and moved to the
// high products' scale, then the excitation and the high products follow.
void synthesis32_scalar(const int16_t* a, int order, const int16_t* x, int32_t* y, int len) {
  if (synthesisBounded(a, order)) {
    for (int n = 0; n < len; ++n) {
      int32_t mid = 0, high = 0;
      for (int j = 1; j <= order; ++j) {
        mid += ((y[n - j] >> 4) & 0xFFF) * a[j];
        high += (y[n - j] >> 16) * a[j];
      }
      y[n] = synthesisOutput(L_shr(-2 * mid, 12) + 2 * (x[n] * a[0] - high));
    }
    return;
  }
  for (int n = 0; n < len; ++n) {
    Word32 acc = 0;
    for (int j = 1; j <= order; ++j) acc = L_msu(acc, static_cast<int16_t>((y[n - j] >> 4) & 0xFFF), a[j]);
    acc = L_shr(acc, 12);
    acc = L_mac(acc, x[n], a[0]);
    for (int j = 1; j <= order; ++j) acc = L_msu(acc, extract_h(y[n - j]), a[j]);
    y[n] = synthesisOutput(acc);
  }
}

#if defined(VOKSC_X86)
namespace {

// Outputs one at a time, for groups the block form below cannot keep: per
// output the sum of |high part| |a[j]| is formed beside the two sums and
// bounds that output's chain; outputs outside it run the chain.
VOKSC_TARGET_AVX2 void synthesis32Checked(const int16_t* a, const int16_t* x, int32_t* y, int len) {
  const __m256i c0 = _mm256_setr_epi32(a[16], a[15], a[14], a[13], a[12], a[11], a[10], a[9]);
  const __m256i c1 = _mm256_setr_epi32(a[8], a[7], a[6], a[5], a[4], a[3], a[2], a[1]);
  const __m256i m0 = _mm256_abs_epi32(c0), m1 = _mm256_abs_epi32(c1);
  const __m256i mask = _mm256_set1_epi32(0xFFF);
  const int64_t a0 = a[0] < 0 ? -int64_t{a[0]} : int64_t{a[0]};
  for (int n = 0; n < len; ++n) {
    const __m256i y0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + n - 16));
    const __m256i y1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + n - 8));
    const __m256i h0 = _mm256_srai_epi32(y0, 16), h1 = _mm256_srai_epi32(y1, 16);
    const __m256i mid = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_and_si256(_mm256_srli_epi32(y0, 4), mask), c0),
                                         _mm256_mullo_epi32(_mm256_and_si256(_mm256_srli_epi32(y1, 4), mask), c1));
    const __m256i high = _mm256_add_epi32(_mm256_mullo_epi32(h0, c0), _mm256_mullo_epi32(h1, c1));
    const __m256i mag = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_abs_epi32(h0), m0),
                                         _mm256_mullo_epi32(_mm256_abs_epi32(h1), m1));
    // per half: mid, high, magnitude, magnitude
    const __m256i h = _mm256_hadd_epi32(_mm256_hadd_epi32(mid, high), _mm256_hadd_epi32(mag, mag));
    const __m128i s = _mm_add_epi32(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
    const int32_t m = _mm_cvtsi128_si32(s), hi = _mm_extract_epi32(s, 1);
    const int32_t start = L_shr(-2 * m, 12);
    const int64_t bound = (start < 0 ? -int64_t{start} : start) + 65536 * a0 + 2 * int64_t{_mm_extract_epi32(s, 2)};
    if (bound <= INT32_MAX) {
      y[n] = synthesisOutput(start + 2 * (x[n] * a[0] - hi));
    } else {
      Word32 acc = L_mac(start, x[n], a[0]);
      for (int j = 1; j <= 16; ++j) acc = L_msu(acc, extract_h(y[n - j]), a[j]);
      y[n] = synthesisOutput(acc);
    }
  }
}

// Order 16 with taps summing to at most 65535, eight outputs at a time on
// z = y / 16 (y >> 4: the chain reads only bits 4..31 of a past output).
// A chain that saturates nowhere before its last shift gives
//   L_shr(-2 mid, 12) + 2 x a0 - 2 high = floor((4096 x a0 - S) / 2048)
// with S = sum a[j] z[n - j] = mid + 4096 high (mid and high: the 12-bit and
// the high-word products), and the saturating move up by 3 with the low 4
// bits cleared is then 16 z[n] for
//   z[n] = floor((4096 x[n] a0 - S) / 4096)
// clamped to [-2^27, 2^27 - 1].  The mid chain stays inside 32 bits for
// such taps (2 * 4095 * 65535 < 2^31); the high chain of each output is
// bounded by 2 taps + 1 (the shifted start) + 65536 |a0| + 2 H taps, H the
// largest |high word| of its 16 past outputs.  Each block is formed in
// 64-bit integers and kept when its outputs lie inside the clamp and the
// bound holds with H over the block and the 16 outputs before it (output by
// output, every chain then met exact inputs); otherwise the block is redone
// output by output.  Terms on outputs before the block are formed in lanes
// (lane k takes a[k + i] z[-i]), the block's own terms one output after the
// other.
VOKSC_TARGET_AVX2 void synthesis32Blocks(const int16_t* a, const int16_t* x, int32_t* y, int len) {
  constexpr int kChunk = 64;
  const int64_t taps = magnitude(a + 1, 16);
  const int64_t fixed = 2 * taps + 1 + 65536 * (a[0] < 0 ? -int64_t{a[0]} : int64_t{a[0]});
  alignas(16) int16_t pad[32] = {};  // a[1..16] at pad[1..16], zero above
  for (int j = 1; j <= 16; ++j) pad[j] = a[j];
  __m256i lanes[17][2];
  for (int i = 1; i <= 16; ++i) {
    lanes[i][0] = _mm256_cvtepi16_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pad + i)));
    lanes[i][1] = _mm256_cvtepi16_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pad + i + 4)));
  }
  alignas(32) int64_t z[16 + kChunk];
  uint64_t spreadOlder = 0;  // OR of |z| (one's complement for negatives): the outputs 16..9 back
  for (int j = 0; j < 16; ++j) {
    z[j] = y[j - 16] >> 4;
    spreadOlder |= static_cast<uint64_t>(z[j] ^ (z[j] >> 63));
  }
  uint64_t spreadLast = spreadOlder;  // the outputs 8..1 back (here all 16, conservatively)
  int at = 16;
  for (int n0 = 0; n0 < len; n0 += 8) {
    const int count = len - n0 < 8 ? len - n0 : 8;
    if (at + count > 16 + kChunk) {
      std::memmove(z, z + at - 16, 16 * sizeof(int64_t));
      at = 16;
    }
    int64_t* zb = z + at;
    __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
#pragma GCC unroll 16
    for (int i = 16; i >= 1; --i) {  // the newest products join last
      const __m256i b = _mm256_broadcastq_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(zb - i)));
      lo = _mm256_add_epi64(lo, _mm256_mul_epi32(b, lanes[i][0]));
      if (i <= 12) hi = _mm256_add_epi64(hi, _mm256_mul_epi32(b, lanes[i][1]));
    }
    alignas(32) int64_t older[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(older), lo);
    _mm256_store_si256(reinterpret_cast<__m256i*>(older + 4), hi);
    uint64_t spread = 0;
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
      if (k == count) break;
      int64_t s = int64_t{x[n0 + k] * a[0]} * 4096 - older[k];
      for (int j = k; j >= 1; --j) s -= a[j] * zb[k - j];
      zb[k] = s >> 12;
      spread |= static_cast<uint64_t>(zb[k] ^ (zb[k] >> 63));
      // The group goes through the checked form below; fed back, an output
      // this large could carry the group's later sums past 64 bits.
      if (spread >= (uint64_t{1} << 27)) break;
      y[n0 + k] = static_cast<int32_t>(static_cast<uint64_t>(zb[k]) << 4);
    }
    const int64_t high = static_cast<int64_t>((spreadOlder | spreadLast | spread) >> 12) + 1;
    if (spread >= (uint64_t{1} << 27) || fixed + 2 * high * taps > INT32_MAX) {
      synthesis32Checked(a, x + n0, y + n0, count);
      spread = 0;
      for (int k = 0; k < count; ++k) {
        zb[k] = y[n0 + k] >> 4;
        spread |= static_cast<uint64_t>(zb[k] ^ (zb[k] >> 63));
      }
    }
    spreadOlder = spreadLast;
    spreadLast = spread;
    at += count;
  }
}

}  // namespace

// Order 16 with taps summing to at most 65535 in blocks (above); other
// filters (orders the codec does not use, taps beyond) run the portable form.
VOKSC_TARGET_AVX2 void synthesis32_avx2(const int16_t* a, int order, const int16_t* x, int32_t* y, int len) {
  if (order == 16 && magnitude(a + 1, order) <= 65535) {
    synthesis32Blocks(a, x, y, len);
    return;
  }
  synthesis32_scalar(a, order, x, y, len);
}
#else
void synthesis32_avx2(const int16_t* a, int order, const int16_t* x, int32_t* y, int len) {
  synthesis32_scalar(a, order, x, y, len);
}
#endif

void synthesis32(const int16_t* a, int order, const int16_t* x, int32_t* y, int len) {
  static const auto form = cpu::choose(synthesis32_scalar, synthesis32_avx2);
  form(a, order, x, y, len);
}

// ---- adaptive-vector interpolation -----------------------------------------------

void interpolate32_scalar(int16_t* exc, int back, const int16_t* taps, int n) {
  // Taps whose magnitudes sum below 2^15 keep every partial sum of the
  // chain inside 32 bits, whatever the samples: the plain sum.
  if (fits(32768, magnitude(taps, 32))) {
    for (int j = 0; j < n; ++j) {
      const int16_t* x = exc + j - back;
      int32_t acc = 0;
      for (int t = 0; t < 32; ++t) acc += x[t] * taps[t];
      exc[j] = round_fx(L_shl(2 * acc, 1));
    }
    return;
  }
  for (int j = 0; j < n; ++j) {
    const int16_t* x = exc + j - back;
    Word32 acc = 0;
    for (int t = 0; t < 32; ++t) acc = L_mac(acc, x[t], taps[t]);
    exc[j] = round_fx(L_shl(acc, 1));
  }
}

#if defined(VOKSC_X86)
// Taps whose magnitudes sum below 2^15 never saturate the chain: each
// output is the plain sum of two madds, formed after the previous output
// is stored (short delays read it).  Up to 2^16 - 1 (one of the codec's
// phases) each output also forms sum min(|x|, 32767) |h|, which with the
// taps' sum bounds its chain; outputs outside that bound run the chain.
VOKSC_TARGET_AVX2 void interpolate32_avx2(int16_t* exc, int back, const int16_t* taps, int n) {
  const int64_t sum = magnitude(taps, 32);
  const __m256i t0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(taps));
  const __m256i t1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(taps + 16));
  if (!fits(32768, sum)) {
    if (sum > 65535 || peak(taps, 32) > 32767) {
      interpolate32_scalar(exc, back, taps, n);
      return;
    }
    const __m256i a0 = _mm256_abs_epi16(t0), a1 = _mm256_abs_epi16(t1), cap = _mm256_set1_epi16(32767);
    for (int j = 0; j < n; ++j) {
      const int16_t* x = exc + j - back;
      const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x));
      const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + 16));
      const __m256i s = _mm256_add_epi32(_mm256_madd_epi16(x0, t0), _mm256_madd_epi16(x1, t1));
      const __m256i g = _mm256_add_epi32(_mm256_madd_epi16(_mm256_min_epu16(_mm256_abs_epi16(x0), cap), a0),
                                         _mm256_madd_epi16(_mm256_min_epu16(_mm256_abs_epi16(x1), cap), a1));
      const __m256i h = _mm256_hadd_epi32(s, g);  // per half: s pairs, g pairs
      __m128i r = _mm_add_epi32(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
      r = _mm_hadd_epi32(r, r);  // s, g, s, g
      const int64_t bound = int64_t{_mm_extract_epi32(r, 1)} + sum;  // >= sum |x| |h|
      if (2 * bound <= INT32_MAX) {
        exc[j] = round_fx(L_shl(2 * _mm_cvtsi128_si32(r), 1));
      } else {
        Word32 acc = 0;
        for (int t = 0; t < 32; ++t) acc = L_mac(acc, x[t], taps[t]);
        exc[j] = round_fx(L_shl(acc, 1));
      }
    }
    return;
  }
  for (int j = 0; j < n; ++j) {
    const int16_t* x = exc + j - back;
    const __m256i s = _mm256_add_epi32(_mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x)), t0),
                                       _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + 16)), t1));
    __m128i r = _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    r = _mm_add_epi32(r, _mm_shuffle_epi32(r, 0x4E));
    r = _mm_add_epi32(r, _mm_shuffle_epi32(r, 0xB1));
    exc[j] = round_fx(L_shl(2 * _mm_cvtsi128_si32(r), 1));
  }
}
#else
void interpolate32_avx2(int16_t* exc, int back, const int16_t* taps, int n) { interpolate32_scalar(exc, back, taps, n); }
#endif

void interpolate32(int16_t* exc, int back, const int16_t* taps, int n) {
  static const auto form = cpu::choose(interpolate32_scalar, interpolate32_avx2);
  form(exc, back, taps, n);
}

// ---- one row of the algebraic pair search ------------------------------------------

bool pairRow_scalar(int16_t ps1, int32_t alp1, const int16_t* dy, const int16_t* corY, const int16_t* cross,
                    int16_t bestSq, int16_t bestAlp, int16_t* sq, int16_t* alp2) {
  bool beats = false;
  for (int i = 0; i < 16; ++i) {
    const int16_t ps2 = add(ps1, dy[i]);
    sq[i] = mult(ps2, ps2);
    alp2[i] = static_cast<int16_t>((alp1 + corY[i] * 8192 + cross[i] * 16384) >> 16);
    beats |= int32_t{bestAlp} * sq[i] > int32_t{bestSq} * alp2[i];
  }
  return beats;
}

#if defined(VOKSC_X86)
namespace {

// (base + 8192 y + 16384 c) >> 16 for eight word pairs, in double words.
VOKSC_TARGET_AVX2 __m256i pairEnergies(__m256i base, __m128i y, __m128i c) {
  const __m256i e = _mm256_add_epi32(_mm256_slli_epi32(_mm256_cvtepi16_epi32(y), 13),
                                     _mm256_slli_epi32(_mm256_cvtepi16_epi32(c), 14));
  return _mm256_srai_epi32(_mm256_add_epi32(base, e), 16);
}

}  // namespace

// The saturating sums in word lanes; the square's bits 15..30 from the
// high and low product words (only -32768 squared reaches 2^30, whose
// 32768 the unsigned minimum takes to 32767); the energies in two
// registers of double words, packed back in order.  The comparison pairs
// (sq, alp2) word by word against (bestAlp, -bestSq): -bestSq is at most
// 1, so no pair sum of the multiply-add reaches 2^31.
VOKSC_TARGET_AVX2 bool pairRow_avx2(int16_t ps1, int32_t alp1, const int16_t* dy, const int16_t* corY,
                                    const int16_t* cross, int16_t bestSq, int16_t bestAlp, int16_t* sq,
                                    int16_t* alp2) {
  const __m256i ps2 = _mm256_adds_epi16(_mm256_set1_epi16(ps1), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dy)));
  const __m256i q = _mm256_or_si256(_mm256_slli_epi16(_mm256_mulhi_epi16(ps2, ps2), 1),
                                    _mm256_srli_epi16(_mm256_mullo_epi16(ps2, ps2), 15));
  const __m256i sqv = _mm256_min_epu16(q, _mm256_set1_epi16(32767));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(sq), sqv);
  const __m256i cy = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(corY));
  const __m256i cr = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cross));
  const __m256i base = _mm256_set1_epi32(alp1);
  const __m256i e0 = pairEnergies(base, _mm256_castsi256_si128(cy), _mm256_castsi256_si128(cr));
  const __m256i e1 = pairEnergies(base, _mm256_extracti128_si256(cy, 1), _mm256_extracti128_si256(cr, 1));
  const __m256i ev = _mm256_permute4x64_epi64(_mm256_packs_epi32(e0, e1), 0xD8);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(alp2), ev);
  const __m256i w = _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(-int32_t{bestSq}) << 16) |
                                                           static_cast<uint16_t>(bestAlp)));
  const __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi16(sqv, ev), w);
  const __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi16(sqv, ev), w);
  const __m256i zero = _mm256_setzero_si256();
  return !_mm256_testz_si256(_mm256_or_si256(_mm256_cmpgt_epi32(lo, zero), _mm256_cmpgt_epi32(hi, zero)),
                             _mm256_set1_epi32(-1));
}
#else
bool pairRow_avx2(int16_t ps1, int32_t alp1, const int16_t* dy, const int16_t* corY, const int16_t* cross,
                  int16_t bestSq, int16_t bestAlp, int16_t* sq, int16_t* alp2) {
  return pairRow_scalar(ps1, alp1, dy, corY, cross, bestSq, bestAlp, sq, alp2);
}
#endif

PairRowForm pairRowForm() {
  static const PairRowForm form = cpu::choose(pairRow_scalar, pairRow_avx2);
  return form;
}

bool pairRow(int16_t ps1, int32_t alp1, const int16_t* dy, const int16_t* corY, const int16_t* cross, int16_t bestSq,
             int16_t bestAlp, int16_t* sq, int16_t* alp2) {
  return pairRowForm()(ps1, alp1, dy, corY, cross, bestSq, bestAlp, sq, alp2);
}

// ---- one lag step of the filtered past excitation ---------------------------------

void filteredStep_scalar(int16_t older, const int16_t* h, const int16_t* f, const int16_t* x, int16_t* g,
                         int64_t* energy, int64_t* cross) {
  int64_t e = 0, c = 0;
  for (int n = 0; n < 64; ++n) {
    int32_t m = (int32_t{older} * h[n]) >> 15;
    m = m < kMax16 ? m : kMax16;  // only -32768 squared reaches 32768
    const int32_t sum = m + (n > 0 ? f[n - 1] : 0);
    const int16_t v = static_cast<int16_t>(sum > kMax16 ? kMax16 : (sum < kMin16 ? kMin16 : sum));
    g[n] = v;
    e += int32_t{v} * v;
    c += int32_t{x[n]} * v;
  }
  *energy = e;
  *cross = c;
}

#if defined(VOKSC_X86)
namespace {

// Eight double words widened to quadwords and added to acc (lo and hi halves).
VOKSC_TARGET_AVX2 __m256i addWidened(__m256i acc, __m256i v, bool isUnsigned) {
  const __m128i lo = _mm256_castsi256_si128(v), hi = _mm256_extracti128_si256(v, 1);
  if (isUnsigned)
    return _mm256_add_epi64(acc, _mm256_add_epi64(_mm256_cvtepu32_epi64(lo), _mm256_cvtepu32_epi64(hi)));
  return _mm256_add_epi64(acc, _mm256_add_epi64(_mm256_cvtepi32_epi64(lo), _mm256_cvtepi32_epi64(hi)));
}

VOKSC_TARGET_AVX2 int64_t laneSum(__m256i v) {
  const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  // Through memory: the quadword moves out of a register exist only in 64-bit code.
  alignas(16) int64_t half[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(half), s);
  return half[0] + half[1];
}

}  // namespace

// The product's bits 15..30 from its high and low words: exact unless
// older and a tap are both -32768 (the portable form takes that case).
// The new vector is the saturating word sum of those and f moved up one
// lane (across the register halves by the align against the lower half).
// A pair of squares is at most 2^31 (unsigned double word); a pair of
// cross products stays inside 32 bits unless x holds -32768 (portable
// form then too).
VOKSC_TARGET_AVX2 void filteredStep_avx2(int16_t older, const int16_t* h, const int16_t* f, const int16_t* x,
                                         int16_t* g, int64_t* energy, int64_t* cross) {
  const __m256i minWord = _mm256_set1_epi16(kMin16);
  __m256i hasMin = _mm256_set1_epi16(older == kMin16 ? -1 : 0);
  for (int n = 0; n < 64; n += 16)
    hasMin = _mm256_or_si256(hasMin, _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + n)), minWord));
  if (!_mm256_testz_si256(hasMin, hasMin)) return filteredStep_scalar(older, h, f, x, g, energy, cross);
  const __m256i o = _mm256_set1_epi16(older);
  __m256i e = _mm256_setzero_si256(), c = _mm256_setzero_si256();
  for (int n = 0; n < 64; n += 16) {
    const __m256i hv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + n));
    const __m256i m = _mm256_or_si256(_mm256_slli_epi16(_mm256_mulhi_epi16(o, hv), 1),
                                      _mm256_srli_epi16(_mm256_mullo_epi16(o, hv), 15));
    __m256i prev;
    if (n == 0) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f));
      prev = _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 14);
    } else {
      prev = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f + n - 1));
    }
    const __m256i gv = _mm256_adds_epi16(m, prev);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(g + n), gv);
    e = addWidened(e, _mm256_madd_epi16(gv, gv), true);
    c = addWidened(c, _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + n)), gv), false);
  }
  *energy = laneSum(e);
  *cross = laneSum(c);
}
#else
void filteredStep_avx2(int16_t older, const int16_t* h, const int16_t* f, const int16_t* x, int16_t* g,
                       int64_t* energy, int64_t* cross) {
  filteredStep_scalar(older, h, f, x, g, energy, cross);
}
#endif

void filteredStep(int16_t older, const int16_t* h, const int16_t* f, const int16_t* x, int16_t* g, int64_t* energy,
                  int64_t* cross) {
  static const auto form = cpu::choose(filteredStep_scalar, filteredStep_avx2);
  form(older, h, f, x, g, energy, cross);
}

// ---- cross terms of two algebraic tracks ---------------------------------------

void crossRows_scalar(const int16_t* tail, const int16_t* sign, int tr, int next, int16_t* rows) {
  for (int i = 0; i < 16; ++i) {
    const int p = tr + 4 * i;
    for (int k = 0; k < 16; ++k) {
      const int q = next + 4 * k;
      const int hi = q > p ? q : p, diff = q > p ? q - p : p - q;
      const int32_t flip = (sign[p] < 0) != (sign[q] < 0) ? kMin16 : kMax16;
      const int32_t v = (int32_t{tail[(63 - hi) * 64 + diff]} * flip) >> 15;
      rows[16 * i + k] = static_cast<int16_t>(v < kMax16 ? v : kMax16);
    }
  }
}

#if defined(VOKSC_X86)
// Per row two gathers of double words at the table's word offsets (the
// low word is the entry; the high word, the next entry, is dropped; no
// offset reaches the table's last entry, since p != q).  Times 32767 and
// shifted is x - 1 for x > 0, x + 1 for x = -32768, x otherwise; times
// -32768 and shifted is -x, 32768 clamped to 32767 (the saturating
// negation).
VOKSC_TARGET_AVX2 void crossRows_avx2(const int16_t* tail, const int16_t* sign, int tr, int next, int16_t* rows) {
  const __m256i four = _mm256_set1_epi32(4);
  const __m256i q0 = _mm256_add_epi32(_mm256_set1_epi32(next), _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), four));
  const __m256i q1 = _mm256_add_epi32(q0, _mm256_set1_epi32(32));
  int16_t qs[16];
  for (int k = 0; k < 16; ++k) qs[k] = sign[next + 4 * k];
  const __m256i qNeg = _mm256_srai_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(qs)), 15);
  const __m256i top = _mm256_set1_epi32(63), zero = _mm256_setzero_si256(), minWord = _mm256_set1_epi16(kMin16);
  const int* base = reinterpret_cast<const int*>(tail);
  for (int i = 0; i < 16; ++i) {
    const int p = tr + 4 * i;
    const __m256i pv = _mm256_set1_epi32(p);
    const __m256i i0 = _mm256_add_epi32(_mm256_slli_epi32(_mm256_sub_epi32(top, _mm256_max_epi32(pv, q0)), 6),
                                        _mm256_abs_epi32(_mm256_sub_epi32(q0, pv)));
    const __m256i i1 = _mm256_add_epi32(_mm256_slli_epi32(_mm256_sub_epi32(top, _mm256_max_epi32(pv, q1)), 6),
                                        _mm256_abs_epi32(_mm256_sub_epi32(q1, pv)));
    const __m256i g0 = _mm256_srai_epi32(_mm256_slli_epi32(_mm256_i32gather_epi32(base, i0, 2), 16), 16);
    const __m256i g1 = _mm256_srai_epi32(_mm256_slli_epi32(_mm256_i32gather_epi32(base, i1, 2), 16), 16);
    const __m256i x = _mm256_permute4x64_epi64(_mm256_packs_epi32(g0, g1), 0xD8);
    const __m256i same = _mm256_sub_epi16(_mm256_add_epi16(x, _mm256_cmpgt_epi16(x, zero)), _mm256_cmpeq_epi16(x, minWord));
    const __m256i differ = _mm256_subs_epi16(zero, x);
    const __m256i mask = sign[p] < 0 ? _mm256_xor_si256(qNeg, _mm256_set1_epi32(-1)) : qNeg;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(rows + 16 * i), _mm256_blendv_epi8(same, differ, mask));
  }
}
#else
void crossRows_avx2(const int16_t* tail, const int16_t* sign, int tr, int next, int16_t* rows) {
  crossRows_scalar(tail, sign, tr, next, rows);
}
#endif

void crossRows(const int16_t* tail, const int16_t* sign, int tr, int next, int16_t* rows) {
  static const auto form = cpu::choose(crossRows_scalar, crossRows_avx2);
  form(tail, sign, tr, next, rows);
}

// ---- pair correlations of the algebraic search's pulse responses ------------------

void pulseRows_scalar(const int16_t* h, uint32_t* rows) {
  for (int x = 63; x >= 0; --x) {
    uint32_t* row = rows + kPulseRowStride * x;
    const uint32_t* below = x < 63 ? row + kPulseRowStride : nullptr;
    const int32_t hx = h[63 - x];
    for (int p = 0; p < 64; ++p) {
      const uint32_t prior = below && p < 63 ? below[p + 1] : 0u;
      row[p] = prior + static_cast<uint32_t>(hx * h[63 - p]);
    }
    for (int p = 64; p < kPulseRowStride; ++p) row[p] = 0;
  }
}

#if defined(VOKSC_X86)
// Eight positions per register: the row below read one entry on (its zero
// padding supplies the last position), plus the products, formed by a
// multiply-add of (h, 0) word pairs so each double word is one exact
// product.
VOKSC_TARGET_AVX2 void pulseRows_avx2(const int16_t* h, uint32_t* rows) {
  alignas(32) uint32_t reversed[64];
  for (int p = 0; p < 64; ++p) reversed[p] = static_cast<uint16_t>(h[63 - p]);
  const __m256i zero = _mm256_setzero_si256();
  alignas(32) uint32_t none[kPulseRowStride + 8] = {};
  for (int x = 63; x >= 0; --x) {
    uint32_t* row = rows + kPulseRowStride * x;
    const uint32_t* below = x < 63 ? row + kPulseRowStride : none;
    const __m256i hx = _mm256_set1_epi32(static_cast<uint16_t>(h[63 - x]));
    for (int p = 0; p < 64; p += 8) {
      const __m256i prod = _mm256_madd_epi16(_mm256_load_si256(reinterpret_cast<const __m256i*>(reversed + p)), hx);
      const __m256i prior = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(below + p + 1));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + p), _mm256_add_epi32(prior, prod));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 64), _mm256_castsi256_si128(zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 68), _mm256_castsi256_si128(zero));
  }
}
#else
void pulseRows_avx2(const int16_t* h, uint32_t* rows) { pulseRows_scalar(h, rows); }
#endif

void pulseRows(const int16_t* h, uint32_t* rows) {
  static const auto form = cpu::choose(pulseRows_scalar, pulseRows_avx2);
  form(h, rows);
}

// ---- truncated autocorrelation chains of the algebraic search ---------------------

void pairTails_scalar(const int16_t* h, int32_t startSame, int32_t startCross, int16_t* tail) {
  int32_t c[64];
  c[0] = startSame;
  for (int diff = 1; diff < 64; ++diff) c[diff] = startCross;
  for (int u = 0; u < 64; ++u) {
    const int32_t hu = 2 * h[u];
    for (int diff = 0; diff < 64 - u; ++diff) {
      c[diff] += hu * h[u + diff];
      tail[64 * u + diff] = static_cast<int16_t>(c[diff] >> 16);
    }
  }
}

#if defined(VOKSC_X86)
// Sixteen lags per step in two registers of double words; h is read from
// a copy padded with zeros, so lags past the row's end add nothing.
VOKSC_TARGET_AVX2 void pairTails_avx2(const int16_t* h, int32_t startSame, int32_t startCross, int16_t* tail) {
  alignas(32) int16_t padded[64 + 16] = {};
  for (int i = 0; i < 64; ++i) padded[i] = h[i];
  __m256i c[8];
  for (int k = 0; k < 8; ++k) c[k] = _mm256_set1_epi32(startCross);
  c[0] = _mm256_insert_epi32(c[0], startSame, 0);
  for (int u = 0; u < 64; ++u) {
    const __m256i hu = _mm256_set1_epi32(2 * padded[u]);
    const int blocks = (64 - u + 15) / 16;
    for (int b = 0; b < blocks; ++b) {
      const __m128i* src = reinterpret_cast<const __m128i*>(padded + u + 16 * b);
      __m256i& lo = c[2 * b];
      __m256i& hi = c[2 * b + 1];
      lo = _mm256_add_epi32(lo, _mm256_mullo_epi32(hu, _mm256_cvtepi16_epi32(_mm_loadu_si128(src))));
      hi = _mm256_add_epi32(hi, _mm256_mullo_epi32(hu, _mm256_cvtepi16_epi32(_mm_loadu_si128(src + 1))));
      const __m256i words = _mm256_permute4x64_epi64(
          _mm256_packs_epi32(_mm256_srai_epi32(lo, 16), _mm256_srai_epi32(hi, 16)), 0xD8);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(tail + 64 * u + 16 * b), words);
    }
  }
}
#else
void pairTails_avx2(const int16_t* h, int32_t startSame, int32_t startCross, int16_t* tail) {
  pairTails_scalar(h, startSame, startCross, tail);
}
#endif

void pairTails(const int16_t* h, int32_t startSame, int32_t startCross, int16_t* tail) {
  static const auto form = cpu::choose(pairTails_scalar, pairTails_avx2);
  form(h, startSame, startCross, tail);
}

// ---- one track's correlations from the tracked sums ----------------------------------

void trackCorrelations_scalar(const uint32_t* s, const int16_t* sign, const int16_t* self, int track, int16_t* out) {
  for (int i = 0; i < 16; ++i) {
    const int p = track + 4 * i;
    const int32_t v = (static_cast<int32_t>(s[p]) + 0x2000) >> 14;
    const int16_t r = static_cast<int16_t>(v > kMax16 ? kMax16 : (v < kMin16 ? kMin16 : v));
    out[i] = add(mult(r, sign[p]), self[i]);
  }
}

#if defined(VOKSC_X86)
// The sums picked by a shuffle of each group of eight (lanes 0 and 4),
// rounded and packed with saturation; the product's bits 15..30 from the
// high and low product words, where only -32768 squared (32768) wraps and
// is moved to 32767; the saturating word add.
VOKSC_TARGET_AVX2 void trackCorrelations_avx2(const uint32_t* s, const int16_t* sign, const int16_t* self, int track,
                                              int16_t* out) {
  alignas(32) int32_t picked[16];
  alignas(32) int16_t signs[16];
  for (int i = 0; i < 16; ++i) {
    picked[i] = static_cast<int32_t>(s[track + 4 * i]);
    signs[i] = sign[track + 4 * i];
  }
  const __m256i half = _mm256_set1_epi32(0x2000);
  const __m256i lo = _mm256_srai_epi32(_mm256_add_epi32(_mm256_load_si256(reinterpret_cast<const __m256i*>(picked)), half), 14);
  const __m256i hi =
      _mm256_srai_epi32(_mm256_add_epi32(_mm256_load_si256(reinterpret_cast<const __m256i*>(picked + 8)), half), 14);
  const __m256i r = _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), 0xD8);
  const __m256i f = _mm256_load_si256(reinterpret_cast<const __m256i*>(signs));
  __m256i m = _mm256_or_si256(_mm256_slli_epi16(_mm256_mulhi_epi16(r, f), 1), _mm256_srli_epi16(_mm256_mullo_epi16(r, f), 15));
  const __m256i minWord = _mm256_set1_epi16(kMin16);
  const __m256i wrapped = _mm256_and_si256(_mm256_cmpeq_epi16(r, minWord), _mm256_cmpeq_epi16(f, minWord));
  m = _mm256_sub_epi16(m, _mm256_and_si256(wrapped, _mm256_set1_epi16(1)));
  const __m256i own = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(self));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_adds_epi16(m, own));
}
#else
void trackCorrelations_avx2(const uint32_t* s, const int16_t* sign, const int16_t* self, int track, int16_t* out) {
  trackCorrelations_scalar(s, sign, self, track, out);
}
#endif

void trackCorrelations(const uint32_t* s, const int16_t* sign, const int16_t* self, int track, int16_t* out) {
  static const auto form = cpu::choose(trackCorrelations_scalar, trackCorrelations_avx2);
  form(s, sign, self, track, out);
}

}  // namespace voksc::amrwb
