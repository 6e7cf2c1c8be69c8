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
  const Word16 shift = static_cast<Word16>(15 - q);
  // While 2 ((|y1h| + 1) |a1| + (|y2h| + 1) |a2| + max|x| sum|b|) stays
  // below 2^31 no partial sum of the operator chain can saturate (the low
  // words' products add at most |a| each), and the sample is formed in
  // plain 32-bit arithmetic; otherwise the chain itself runs.
  const int32_t a1 = s.a[1], a2 = s.a[2], b0 = s.b[0], b1 = s.b[1], b2 = s.b[2];
  int64_t xPeak = std::max(std::abs(int{s.x1}), std::abs(int{s.x2}));
  for (int i = 0; i < len; ++i) xPeak = std::max<int64_t>(xPeak, std::abs(int{x[i]}));
  // (A coefficient of -32768 would meet a low word of -32768 only in a
  // corrupted state, where mult() saturates: the chain handles it.)
  const int64_t room = a1 == kMin16 || a2 == kMin16
                           ? 0
                           : (int64_t{1} << 30) - xPeak * (std::abs(b0) + std::abs(b1) + std::abs(b2));
  const int32_t top = 0x7FFFFFFF >> shift;  // largest t that survives the shift
  for (int i = 0; i < len; ++i) {
    const Word16 in = x[i];
    Word32 t;
    if ((std::abs(int{s.y1h}) + 1) * int64_t{std::abs(a1)} + (std::abs(int{s.y2h}) + 1) * int64_t{std::abs(a2)} < room) {
      t = 2 * (s.y1h * a1 + ((s.y1l * a1) >> 15) + s.y2h * a2 + ((s.y2l * a2) >> 15) + in * b0 + s.x1 * b1 +
               s.x2 * b2);
      t = t > top ? kMax32 : (t < -top - 1 ? kMin32 : static_cast<Word32>(static_cast<uint32_t>(t) << shift));
    } else {
      t = voksc::vokMpy32x16(s.y1h, s.y1l, s.a[1]);
      t = L_add(t, voksc::vokMpy32x16(s.y2h, s.y2l, s.a[2]));
      t = L_mac(t, in, s.b[0]);
      t = L_mac(t, s.x1, s.b[1]);
      t = L_mac(t, s.x2, s.b[2]);
      t = L_shl(t, shift);
    }
    x[i] = q == 12 ? round_fx(t) : round_fx(L_shl(t, 1));
    s.y2h = s.y1h;
    s.y2l = s.y1l;
    L_Extract(t, s.y1h, s.y1l);
    s.x2 = s.x1;
    s.x1 = in;
  }
  std::memcpy(state, &s, sizeof s);
  return vokOk;
}
