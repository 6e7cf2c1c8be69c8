// G.729 all-pole synthesis filters: the 16-bit filter of any order (order
// 10 for G.729, 30 for the backward-adaptive mode of Annex E) with the
// overflow report the decoders rescale on, and the float filter.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/basic_op.h"
#include "core/status.h"
#include "filt_internal.h"

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g729 {

namespace {

// One output sample from its window: the input sample, the recent outputs
// y[n-1], y[n-2], ... (`near` of them, newest at recent[-1]) and the rest
// from the memory's tail (far[-1] newest; null for a zero history, whose
// terms leave every partial sum unchanged).  `plain` means the caller has
// shown that no partial sum can leave 32 bits.
inline Word16 synthSample(const int16_t* a, int order, Word16 xn, const int16_t* recent, int near,
                          const int16_t* far, bool plain, bool& ovf) {
  Word32 s;
  if (!far) order = near;
  if (plain) {
    int32_t acc = int32_t{xn} * a[0];
    for (int j = 1; j <= near; ++j) acc -= int32_t{a[j]} * recent[-j];
    for (int j = near + 1; j <= order; ++j) acc -= int32_t{a[j]} * far[near - j];
    s = 2 * acc;
  } else {
    MacChain c;
    c.mac(xn, a[0]);
    for (int j = 1; j <= near; ++j) c.msu(a[j], recent[-j]);
    for (int j = near + 1; j <= order; ++j) c.msu(a[j], far[near - j]);
    if (!c.spilled()) {
      s = c.value();
    } else {
      s = L_mult_o(xn, a[0], ovf);
      for (int j = 1; j <= near; ++j) s = L_msu_o(s, a[j], recent[-j], ovf);
      for (int j = near + 1; j <= order; ++j) s = L_msu_o(s, a[j], far[near - j], ovf);
    }
  }
  s = L_shl_o(s, 3, ovf);
  // round() adds 0x8000 with saturation, which also raises the flag.
  if (s >= 0x7FFF8000) ovf = true;
  return round_fx(s);
}

}  // namespace

bool synthesisFilter(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int16_t* mem,
                     bool update) {
  // Past outputs are 16-bit: when the largest possible sum fits 31 bits the
  // accumulation cannot saturate and runs in plain 32-bit arithmetic.
  int maxX = 0;
  for (int i = 0; i < len; ++i) maxX = std::max(maxX, std::abs(int{x[i]}));
  int64_t poles = 0;
  for (int j = 1; j <= order; ++j) poles += std::abs(int{a[j]});
  const bool plain = 2 * (int64_t{maxX} * std::abs(int{a[0]}) + 32768 * poles) < 0x7FFFFFFF;

  // The first samples also read the memory, which must survive until the
  // filter has left it (the caller may update it in place).
  bool ovf = false;
  const int head = len < order ? len : order;
  const int16_t* far = mem ? mem + order : nullptr;
  for (int n = 0; n < head; ++n) y[n] = synthSample(a, order, x[n], y + n, n, far, plain, ovf);
  for (int n = head; n < len; ++n) y[n] = synthSample(a, order, x[n], y + n, order, far, plain, ovf);
  if (update && mem) {
    if (len >= order) {
      std::memcpy(mem, y + len - order, static_cast<size_t>(order) * sizeof(int16_t));
    } else {
      std::memmove(mem, mem + len, static_cast<size_t>(order - len) * sizeof(int16_t));
      std::memcpy(mem + order - len, y, static_cast<size_t>(len) * sizeof(int16_t));
    }
  }
  return ovf;
}

}  // namespace voksc::g729

using voksc::g729::synthesisFilter;

VOKSC_EXPORT VokResult voksSynthesisFilter_G729E_16s(const Vok16s* a, int order, const Vok16s* x, Vok16s* y, int len,
                                                     Vok16s* mem) {
  if (anyNull(a, x, y)) return vokErrNullPtr;
  if (len < 1 || order < 1) return vokErrSize;
  // Without a memory the filter starts from rest.
  return synthesisFilter(a, order, x, y, len, mem, mem != nullptr) ? vokWrnOverflow : vokOk;
}

VOKSC_EXPORT VokResult voksSynthesisFilter_G729E_16s_I(const Vok16s* a, int order, Vok16s* x, int len, Vok16s* mem) {
  return voksSynthesisFilter_G729E_16s(a, order, x, x, len, mem);
}

// y[n] = x[n] - sum a[i] y[n-i], a[0] taken as 1; the sum runs from the
// newest past output to the oldest, as the float reference does.
VOKSC_EXPORT VokResult voksSynthesisFilter_G729_32f(const Vok32f* a, int order, const Vok32f* x, Vok32f* y, int len,
                                                    Vok32f* mem) {
  if (anyNull(a, x, y, mem)) return vokErrNullPtr;
  if (len < 1 || len > 640 || order < 1 || order > 30) return vokErrSize;
  float buf[30 + 640];
  std::memcpy(buf, mem, static_cast<size_t>(order) * sizeof(float));
  float* yy = buf + order;
  for (int n = 0; n < len; ++n) {
    float s = x[n];
    for (int i = 1; i <= order; ++i) s -= a[i] * yy[n - i];
    yy[n] = s;
  }
  std::memcpy(y, yy, static_cast<size_t>(len) * sizeof(float));
  std::memcpy(mem, yy + len - order, static_cast<size_t>(order) * sizeof(float));
  return vokOk;
}
