// The coders' 16-bit synthesis filter 1/A(z) (see amrwb_synth.h).
#include "amrwb/amrwb_synth.h"

#include <cstring>

#include "plain_chains.h"
#include "basic_op.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vokc::amrwb {

namespace {

using namespace voksc::op;

constexpr int kMaxOrder = 20;
constexpr int kMaxLen = 160;

// round_fx(L_shl(2 s, up)) for a sum s whose doubling fits 32 bits: the
// saturating move and the saturating rounding together are the clamp of
// the exact value's rounded upper word.
inline int16_t rounded(int32_t s, int up) {
  const int64_t v = (int64_t{s} * (int64_t{2} << up) + 0x8000) >> 16;
  return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

#if defined(__SSE2__)
// Eight outputs at a time.  The terms on outputs before the group are
// formed first, in lanes (lane k takes a[k + i] y[-i] for every i with
// k + i <= order, two past outputs per multiply-add); only the terms on
// the group's own newer outputs are added one output after the other.
// With up <= 14, round_fx(L_shl(2 s, up)) is (s + 2^(14 - up)) >> (15 - up)
// clamped; the group is formed unclamped (a short step from one output to
// the next) and formed again clamped when an output leaves 16 bits.  Past
// outputs are also kept as 32-bit words of two (`words`, from out[-m]), so
// that the lanes' loads read whole stores.
void blocks(const int16_t* a, int m, const int16_t* x, int16_t* out, int len, int32_t a0, int up) {
  int16_t pad[kMaxOrder + 10] = {};  // a[1..m], zero above
  for (int j = 1; j <= m; ++j) pad[j] = a[j];
  // Per pair (i, i + 1), i = 1, 3, ...: lanes k = 0..3 and 4..7 hold
  // (a[k + i + 1], a[k + i]), against (y[-i - 1], y[-i]) as one 32-bit word.
  __m128i pairs[kMaxOrder / 2 + 1][2];
  const int npairs = (m + 1) / 2;
  for (int p = 0; p < npairs; ++p) {
    const int i = 2 * p + 1;
    alignas(16) int16_t c[16];
    for (int k = 0; k < 8; ++k) {
      c[2 * k] = pad[k + i + 1];
      c[2 * k + 1] = pad[k + i];
    }
    pairs[p][0] = _mm_load_si128(reinterpret_cast<const __m128i*>(c));
    pairs[p][1] = _mm_load_si128(reinterpret_cast<const __m128i*>(c + 8));
  }
  int32_t words[(kMaxOrder + kMaxLen) / 2];
  std::memcpy(words, out - m, static_cast<std::size_t>(m) * sizeof(int16_t));
  int32_t* w = words + m / 2;  // w[q]: out[2q] (low half) and out[2q + 1]
  const int down = 15 - up;
  const int32_t half = 1 << (14 - up);
  for (int n0 = 0; n0 < len; n0 += 8) {
    __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
    for (int p = npairs - 1; p >= 0; --p) {  // the newest pair joins last
      const __m128i y = _mm_set1_epi32(w[n0 / 2 - p - 1]);
      lo = _mm_add_epi32(lo, _mm_madd_epi16(y, pairs[p][0]));
      hi = _mm_add_epi32(hi, _mm_madd_epi16(y, pairs[p][1]));
    }
    alignas(16) int32_t older[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(older), lo);
    _mm_store_si128(reinterpret_cast<__m128i*>(older + 4), hi);
    int16_t* y = out + n0;
    int32_t v[8];  // while each fits 16 bits, the outputs themselves
    bool inside = true;
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
      int32_t s = x[n0 + k] * a0 + half - older[k];
      for (int j = k; j >= 1; --j) s -= pad[j] * v[k - j];
      v[k] = s >> down;
      y[k] = static_cast<int16_t>(v[k]);
      inside &= v[k] == y[k];
    }
    if (!inside) {
      for (int k = 0; k < 8; ++k) {
        int32_t s = x[n0 + k] * a0 + half - older[k];
        for (int j = k; j >= 1; --j) s -= pad[j] * y[k - j];
        s >>= down;
        y[k] = static_cast<int16_t>(s < -32768 ? -32768 : (s > 32767 ? 32767 : s));
      }
    }
    for (int k = 0; k < 8; k += 2)
      w[(n0 + k) / 2] = static_cast<int32_t>(static_cast<uint16_t>(y[k]) | (static_cast<uint32_t>(static_cast<uint16_t>(y[k + 1])) << 16));
  }
}
#endif

}  // namespace

void synthesis16(const int16_t* a, int m, const int16_t* x, int16_t* y, int len, int16_t* mem, bool update) {
  int16_t buf[kMaxOrder + kMaxLen];
  std::memcpy(buf, mem, static_cast<std::size_t>(m) * sizeof(int16_t));
  int16_t* out = buf + m;
  const int16_t up = add(3, sub(norm_s(a[0]), 2)), a0 = shr(a[0], 1);
  // Samples (and outputs) are at most 32768 in magnitude.
  if (plain::fits(32768, plain::magnitude(a + 1, m) + (a0 < 0 ? -a0 : a0))) {
#if defined(__SSE2__)
    if (len % 8 == 0 && m % 2 == 0 && up <= 14) {
      blocks(a, m, x, out, len, a0, up);
      std::memcpy(y, out, static_cast<std::size_t>(len) * sizeof(int16_t));
      if (update) std::memcpy(mem, buf + len, static_cast<std::size_t>(m) * sizeof(int16_t));
      return;
    }
#endif
    int16_t rev[kMaxOrder];  // a[m] .. a[1]
    for (int j = 0; j < m; ++j) rev[j] = a[m - j];
    for (int n = 0; n < len; ++n) {
      int32_t s = x[n] * a0;
      for (int j = 0; j < m; ++j) s -= rev[j] * buf[n + j];
      out[n] = rounded(s, up);
    }
  } else {
    for (int n = 0; n < len; ++n) {
      Word32 s = L_mult(x[n], a0);
      for (int j = 1; j <= m; ++j) s = L_msu(s, a[j], out[n - j]);
      out[n] = round_fx(L_shl(s, up));
    }
  }
  std::memcpy(y, out, static_cast<std::size_t>(len) * sizeof(int16_t));
  if (update) std::memcpy(mem, buf + len, static_cast<std::size_t>(m) * sizeof(int16_t));
}

}  // namespace vokc::amrwb
