// G.722 transmit and receive QMF banks: the standard's 24-tap filter split
// into even and odd branches, run as block filters over a chronological
// window (scalar and AVX2 forms).
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#endif

#include "common/basic_op.h"
#include "core/cpu.h"
#include "core/status.h"
#include "g722_internal.h"
#include "g722_tables.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g722 {

// In the reference's delay line tap j meets the j-th newest value, so over a
// chronological window W[0..23] (W[23] newest) the even-tap branch a reads
// the odd positions and the odd-tap branch b the even ones:
//   a + b = sum_k kQmfCoeffs[23 - k] W[k],
//   a - b = sum_k (-1)^(k+1) kQmfCoeffs[23 - k] W[k].
// No partial sum can wrap: the taps' magnitudes add up to 25928 (< 2^16).
namespace {

inline void branchSums(const int16_t* w, int32_t& sum, int32_t& diff) {
  int32_t a = 0, b = 0;
  for (int m = 0; m < 12; ++m) {
    b += int32_t{kQmfCoeffs[23 - 2 * m]} * w[2 * m];
    a += int32_t{kQmfCoeffs[22 - 2 * m]} * w[2 * m + 1];
  }
  sum = a + b;
  diff = a - b;
}

inline int16_t limit15(int32_t v) { return static_cast<int16_t>(v > 16383 ? 16383 : (v < -16384 ? -16384 : v)); }
inline int16_t clamp16(int32_t v) { return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v)); }

}  // namespace

// Analysis: xl = limit((2 (a + b)) >> 16), xh = limit((2 (a - b)) >> 16);
// the doubling cannot saturate (|a + b| < 2^30).
void qmfAnalysisBlockScalar(const int16_t* w, int pairs, int16_t* out) {
  for (int p = 0; p < pairs; ++p) {
    int32_t s, d;
    branchSums(w + 2 * p, s, d);
    out[2 * p] = limit15((2 * s) >> 16);
    out[2 * p + 1] = limit15((2 * d) >> 16);
  }
}

// Synthesis: extract_h(L_shl(x, 4)) of each branch is x >> 12 saturated to
// 16 bits, and a = (sum + diff) / 2, so the first output is
// sat16((sum + diff) >> 13) and the second sat16((sum - diff) >> 13).
void qmfSynthesisBlockScalar(const int16_t* w, int pairs, int16_t* out) {
  for (int p = 0; p < pairs; ++p) {
    int32_t s, d;
    branchSums(w + 2 * p, s, d);
    out[2 * p] = clamp16((s + d) >> 13);
    out[2 * p + 1] = clamp16((s - d) >> 13);
  }
}

#if defined(__i386__) || defined(__x86_64__)
namespace {

// Eight pairs at once: the window seen as 32-bit (W[2m], W[2m + 1]) pairs is
// contiguous for consecutive outputs, so each m is one load and one
// multiply-add per branch with the coefficient pair broadcast.
struct QmfPairTaps {
  int32_t sum[12], diff[12];
};

const QmfPairTaps& pairTaps() {
  static const QmfPairTaps t = [] {
    QmfPairTaps q{};
    for (int m = 0; m < 12; ++m) {
      uint16_t even = static_cast<uint16_t>(kQmfCoeffs[23 - 2 * m]);  // meets W[2m], odd-tap branch
      uint16_t odd = static_cast<uint16_t>(kQmfCoeffs[22 - 2 * m]);   // meets W[2m + 1], even-tap branch
      q.sum[m] = static_cast<int32_t>(uint32_t{odd} << 16 | even);
      q.diff[m] = static_cast<int32_t>(uint32_t{odd} << 16 | static_cast<uint16_t>(-static_cast<int16_t>(even)));
    }
    return q;
  }();
  return t;
}

__attribute__((target("avx2"))) inline void branchSums8(const int16_t* w, const QmfPairTaps& t, __m256i& s,
                                                        __m256i& d) {
  s = _mm256_setzero_si256();
  d = _mm256_setzero_si256();
  for (int m = 0; m < 12; ++m) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 2 * m));
    s = _mm256_add_epi32(s, _mm256_madd_epi16(v, _mm256_set1_epi32(t.sum[m])));
    d = _mm256_add_epi32(d, _mm256_madd_epi16(v, _mm256_set1_epi32(t.diff[m])));
  }
}

// (first, second) per pair from two vectors of 32-bit values already in range.
__attribute__((target("avx2"))) inline void storePairs(int16_t* out, __m256i first, __m256i second) {
  __m256i v = _mm256_or_si256(_mm256_slli_epi32(second, 16), _mm256_and_si256(first, _mm256_set1_epi32(0xFFFF)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
}

}  // namespace

__attribute__((target("avx2"))) void qmfAnalysisBlockAvx2(const int16_t* w, int pairs, int16_t* out) {
  const QmfPairTaps& t = pairTaps();
  const __m256i lo = _mm256_set1_epi32(-16384), hi = _mm256_set1_epi32(16383);
  int p = 0;
  for (; p + 8 <= pairs; p += 8) {
    __m256i s, d;
    branchSums8(w + 2 * p, t, s, d);
    s = _mm256_srai_epi32(_mm256_slli_epi32(s, 1), 16);
    d = _mm256_srai_epi32(_mm256_slli_epi32(d, 1), 16);
    storePairs(out + 2 * p, _mm256_min_epi32(_mm256_max_epi32(s, lo), hi),
               _mm256_min_epi32(_mm256_max_epi32(d, lo), hi));
  }
  qmfAnalysisBlockScalar(w + 2 * p, pairs - p, out + 2 * p);
}

__attribute__((target("avx2"))) void qmfSynthesisBlockAvx2(const int16_t* w, int pairs, int16_t* out) {
  const QmfPairTaps& t = pairTaps();
  const __m256i lo = _mm256_set1_epi32(-32768), hi = _mm256_set1_epi32(32767);
  int p = 0;
  for (; p + 8 <= pairs; p += 8) {
    __m256i s, d;
    branchSums8(w + 2 * p, t, s, d);
    __m256i a = _mm256_srai_epi32(_mm256_add_epi32(s, d), 13);
    __m256i b = _mm256_srai_epi32(_mm256_sub_epi32(s, d), 13);
    storePairs(out + 2 * p, _mm256_min_epi32(_mm256_max_epi32(a, lo), hi),
               _mm256_min_epi32(_mm256_max_epi32(b, lo), hi));
  }
  qmfSynthesisBlockScalar(w + 2 * p, pairs - p, out + 2 * p);
}
#else
void qmfAnalysisBlockAvx2(const int16_t* w, int pairs, int16_t* out) { qmfAnalysisBlockScalar(w, pairs, out); }
void qmfSynthesisBlockAvx2(const int16_t* w, int pairs, int16_t* out) { qmfSynthesisBlockScalar(w, pairs, out); }
#endif

}  // namespace voksc::g722

using namespace voksc::g722;

namespace {

constexpr int kBlock = 512;  // new values per pass through the window buffer

// The memory holds the delay line newest first in slots 2..23 (slots 0 and
// 1 repeat the two newest values, as the reference leaves them).
inline void unrollHistory(const int16_t* mem, int16_t* buf) {
  for (int k = 0; k < 22; ++k) buf[k] = mem[23 - k];
}
inline void rollHistory(const int16_t* buf, int16_t* mem) {
  for (int j = 2; j < 24; ++j) mem[j] = buf[23 - j];
  mem[0] = buf[21];
  mem[1] = buf[20];
}

inline void analysisBlock(const int16_t* w, int pairs, int16_t* out) {
  static const auto form = voksc::cpu::choose(qmfAnalysisBlockScalar, qmfAnalysisBlockAvx2);
  form(w, pairs, out);
}

inline void synthesisBlock(const int16_t* w, int pairs, int16_t* out) {
  static const auto form = voksc::cpu::choose(qmfSynthesisBlockScalar, qmfSynthesisBlockAvx2);
  form(w, pairs, out);
}

}  // namespace

// Source and destination may be the same array: each block is copied into
// the window before its outputs are written.
VOKSC_EXPORT VokResult voksQMFEncode_G722_16s(const Vok16s* src, Vok16s* dst, int len, Vok16s* mem) {
  if (anyNull(src, dst, mem)) return vokErrNullPtr;
  if (len < 1 || (len & 1)) return vokErrSize;
  int16_t buf[22 + kBlock];
  unrollHistory(mem, buf);
  for (int at = 0; at < len; at += kBlock) {
    int n = len - at < kBlock ? len - at : kBlock;
    std::memcpy(buf + 22, src + at, static_cast<size_t>(n) * sizeof(int16_t));
    analysisBlock(buf, n / 2, dst + at);
    std::memmove(buf, buf + n, 22 * sizeof(int16_t));
  }
  rollHistory(buf, mem);
  return vokOk;
}

VOKSC_EXPORT VokResult voksQMFDecode_G722_16s(const Vok16s* src, Vok16s* dst, int len, Vok16s* mem) {
  if (anyNull(src, dst, mem)) return vokErrNullPtr;
  if (len < 1 || (len & 1)) return vokErrSize;
  int16_t buf[22 + kBlock];
  unrollHistory(mem, buf);
  for (int at = 0; at < len; at += kBlock) {
    int n = len - at < kBlock ? len - at : kBlock;
    for (int i = 0; i < n; i += 2) {
      int16_t rl = src[at + i], rh = src[at + i + 1];
      buf[22 + i] = add(rl, rh);
      buf[22 + i + 1] = sub(rl, rh);
    }
    synthesisBlock(buf, n / 2, dst + at);
    std::memmove(buf, buf + n, 22 * sizeof(int16_t));
  }
  rollHistory(buf, mem);
  return vokOk;
}
