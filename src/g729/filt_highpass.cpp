// G.729 second-order high-pass section: the pre-processing filter of the
// encoder (140 Hz, coefficients Q12, input halved) and the post-processing
// filter of the decoder (100 Hz, coefficients Q13, output doubled).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "core/status.h"

using namespace voksc::op;
using voksc::anyNull;

namespace {

// The state: coefficients (a0 kept but unused), the two past inputs and the
// two past outputs in split form.  No pointers: a byte copy is a snapshot.
struct HighPassState {
  int16_t a[3], b[3];
  int16_t x1, x2;  // x[n-1], x[n-2]
  int16_t y1h, y1l, y2h, y2l;
};
static_assert(sizeof(HighPassState) == 24, "high-pass state size");

}  // namespace

VOKSC_EXPORT VokResult voksHighPassFilterSize_G729(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(HighPassState));
  return vokOk;
}

VOKSC_EXPORT VokResult voksHighPassFilterInit_G729(const Vok16s* coeffs, void* state) {
  if (anyNull(coeffs, static_cast<const char*>(state))) return vokErrNullPtr;
  HighPassState s{};
  for (int i = 0; i < 3; ++i) {
    s.a[i] = coeffs[i];
    s.b[i] = coeffs[3 + i];
  }
  std::memcpy(state, &s, sizeof s);
  return vokOk;
}

namespace {

// One call of the section in Q12 or Q13.  The operator chain per sample is
//   t = L_add(Mpy32x16(y1, a1), Mpy32x16(y2, a2)), then L_mac of x b0,
//   x1 b1, x2 b2, then L_shl by 15 - Q,
// where Mpy32x16(y, a) = L_mac(L_mult(yh, a), mult(yl, a), 1).  With no
// coefficient at -32768 no product saturates (yl is never negative), so the
// chain equals plain 32-bit arithmetic whenever none of its six additions
// and the shift overflows; the additions report that through the overflow
// flag, and a sample where any of them would saturates runs the chain.
// The state lives in 32-bit locals meanwhile.
template <int Q>
void runHighPass(HighPassState& s, Vok16s* x, int len) {
  constexpr int kShift = 15 - Q;
  const int32_t a1 = s.a[1], a2 = s.a[2], b0 = s.b[0], b1 = s.b[1], b2 = s.b[2];
  // Doubled coefficients: each product below is one L_mult (|y a| < 2^30).
  const int32_t a1x2 = 2 * a1, a2x2 = 2 * a2, b0x2 = 2 * b0, b1x2 = 2 * b1, b2x2 = 2 * b2;
  const bool plainProducts = a1 != kMin16 && a2 != kMin16 && b0 != kMin16 && b1 != kMin16 && b2 != kMin16;
  int32_t y1h = s.y1h, y1l = s.y1l, y2h = s.y2h, y2l = s.y2l, x1 = s.x1, x2 = s.x2;
  // Block bound: |Mpy32x16(y, a)| <= 2 |a| 32769 (|yh| <= 32768, the low
  // part adds at most |a|), and each input product at most 2 |b| M for the
  // block's largest input magnitude M.  When the sum of all these bounds
  // stays below 2^31 no partial sum of the chain can saturate, for any
  // state: the chain is plain 32-bit arithmetic, and only the final shift
  // may saturate.
  int32_t peak = std::max(std::abs(x1), std::abs(x2));
  for (int i = 0; i < len; ++i) peak = std::max(peak, std::abs(int32_t{x[i]}));
  const int64_t bound = int64_t{2} * 32769 * (std::abs(a1) + std::abs(a2)) +
                        int64_t{2} * peak * (std::abs(b0) + std::abs(b1) + std::abs(b2));
  // The output rounds t (Q12) or 2 t saturated (Q13); the history shifts
  // by one sample.  Both paths below end each sample here.
  auto emit = [&](int i, int32_t in, int32_t t) {
    int64_t r = Q == 12 ? t : int64_t{t} * 2;
    r = std::min<int64_t>(std::max<int64_t>(r, kMin32), kMax32);
    x[i] = r >= 0x7FFF8000 ? Word16{32767} : static_cast<Word16>((r + 0x8000) >> 16);
    y2h = y1h;
    y2l = y1l;
    y1h = t >> 16;
    y1l = (t >> 1) & 0x7FFF;
    x2 = x1;
    x1 = in;
  };
  if (plainProducts && bound <= kMax32) {
    for (int i = 0; i < len; ++i) {
      const int32_t in = x[i];
      const int32_t sum = y1h * a1x2 + ((y1l * a1) >> 15) * 2 + y2h * a2x2 + ((y2l * a2) >> 15) * 2 + in * b0x2 +
                          x1 * b1x2 + x2 * b2x2;
      emit(i, in, sum > (kMax32 >> kShift) ? kMax32 : sum < (kMin32 >> kShift) ? kMin32 : sum * (1 << kShift));
    }
  } else {
    for (int i = 0; i < len; ++i) {
      const int32_t in = x[i];
      Word32 t;
      int32_t m1, m2, u, v, w;
      if (plainProducts && !__builtin_add_overflow(y1h * a1x2, ((y1l * a1) >> 15) * 2, &m1) &&
          !__builtin_add_overflow(y2h * a2x2, ((y2l * a2) >> 15) * 2, &m2) && !__builtin_add_overflow(m1, m2, &u) &&
          !__builtin_add_overflow(u, in * b0x2, &v) && !__builtin_add_overflow(v, x1 * b1x2, &w) &&
          !__builtin_add_overflow(w, x2 * b2x2, &t) && t <= (kMax32 >> kShift) && t >= (kMin32 >> kShift)) {
        t *= 1 << kShift;
      } else {
        using W = Word16;
        t = voksc::vokMpy32x16(W(y1h), W(y1l), W(a1));
        t = L_add(t, voksc::vokMpy32x16(W(y2h), W(y2l), W(a2)));
        t = L_mac(t, W(in), W(b0));
        t = L_mac(t, W(x1), W(b1));
        t = L_mac(t, W(x2), W(b2));
        t = L_shl(t, kShift);
      }
      emit(i, in, t);
    }
  }
  s.y1h = static_cast<int16_t>(y1h);
  s.y1l = static_cast<int16_t>(y1l);
  s.y2h = static_cast<int16_t>(y2h);
  s.y2l = static_cast<int16_t>(y2l);
  s.x1 = static_cast<int16_t>(x1);
  s.x2 = static_cast<int16_t>(x2);
}

}  // namespace

// acc = a1 y1 + a2 y2 (split products) + b0 x + b1 x1 + b2 x2 in Q(q+1).
// Q12: the stored output is acc << 3, the sample its rounded upper word;
// Q13: the stored output is acc << 2, the sample is rounded from one more
// doubling (the post-processing gain of 2).
VOKSC_EXPORT VokResult voksHighPassFilter_G729_16s_ISfs(Vok16s* x, int len, int q, void* state) {
  if (anyNull(x, static_cast<const char*>(state))) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (q != 12 && q != 13) return vokErrScale;
  HighPassState s;
  std::memcpy(&s, state, sizeof s);
  if (q == 12)
    runHighPass<12>(s, x, len);
  else
    runHighPass<13>(s, x, len);
  std::memcpy(state, &s, sizeof s);
  return vokOk;
}
