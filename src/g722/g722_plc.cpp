// Support for G.722 frame-loss concealment: decimation for the pitch
// analysis, the high-band filter of the concealed signal, and the frame
// classifier that limits the periodic extension.
#include "common/basic_op.h"
#include "core/state.h"
#include "core/status.h"
#include "g722_internal.h"

using namespace voksc::op;
using voksc::anyNull;

// Decimation by 4 for the pitch analysis of the concealment: a symmetric
// 9-tap low-pass (Q16, DC gain 67973/65536) centred on x[4n - 1], the
// products accumulated newest first with 32-bit saturation and rounded to
// the upper half, so a sum of 0x7FFF8000 or more gives 32767.
VOKSC_EXPORT VokResult voksDownsampleFilter_G722_16s(const Vok16s* src, int len, Vok16s* dst) {
  if (anyNull(src, dst)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  static const int16_t h[9] = {3692, 6190, 8525, 10186, 10787, 10186, 8525, 6190, 3692};
  for (int n = 0; n < len / 4; ++n) {
    const Vok16s* x = src + 4 * n + 3;
    int32_t acc = 0;
    for (int k = 0; k < 9; ++k) acc = L_mac0(acc, h[k], x[-k]);
    dst[n] = round_fx(acc);
  }
  return vokOk;
}

// 0.8915 (1 - z^-1) / (1 - 0.783 z^-1) on the high-band member of each of
// the ceil(len / 2) pairs: with an odd len the high member of the last,
// incomplete pair (element len) is filtered too.  Every product is rounded
// to Q0; the feedback minus the previous scaled input wraps to 16 bits
// before the saturating sum.
VOKSC_EXPORT VokResult voksFilterHighband_G722_16s_I(Vok16s* pairs, int len, Vok16s* mem) {
  if (anyNull(pairs, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  int16_t s = mem[0], y = mem[1];
  for (int i = 1; i <= len; i += 2) {
    int16_t t = static_cast<int16_t>((int32_t{pairs[i]} * 29212 + 16384) >> 15);
    int16_t fb = static_cast<int16_t>((int32_t{y} * 25656 + 16384) >> 15);
    y = sat16(int32_t{t} + static_cast<int16_t>(fb - s));
    s = t;
    pairs[i] = y;
  }
  mem[0] = s;
  mem[1] = y;
  return vokOk;
}

VOKSC_EXPORT VokResult voksClassifyFrame_G722_16s_I(Vok16s* x, Vok16s lag, int* cls, const void* state) {
  if (anyNull(x, cls, static_cast<const char*>(state))) return vokErrNullPtr;
  if (lag < 0 || lag > 143) return vokErrRange;
  const auto* s = voksc::core::alignState16<const voksc::g722::SbState>(const_cast<void*>(state));
  if (s->high.nb > s->low.nb) {
    *cls = *cls != 0 ? 4 : 3;
  } else if (*cls != 3 && *cls != 4) {
    return vokOk;
  }
  if (lag < 1) return vokOk;
  int counted = 0;
  for (int i = 0; i < lag; ++i) {
    int16_t m = 0;
    for (int k = -2; k <= 2; ++k) {
      int16_t v = abs_s(x[i + k]);
      if (v > m) m = v;
    }
    int16_t v = abs_s(x[i + lag]);
    if (v > m) {
      if (m <= (v >> 3)) ++counted;
      x[i + lag] = x[i + lag] < 0 ? static_cast<int16_t>(-m) : m;
    }
  }
  if (counted > 0) *cls = 2;
  return vokOk;
}
