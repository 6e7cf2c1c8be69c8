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

// One output sample: the input sample and the past outputs y[n-1], y[n-2],
// ... read backwards from `past` (past[-1] newest).  `plain` means the
// caller has shown that no partial sum can leave 32 bits, so the sum runs
// in 32-bit arithmetic; otherwise it is formed exactly and only a sum that
// did leave 32 bits part-way is redone with the saturating operators.
template <int N>
inline Word16 synthSample(const int16_t* a, int order, Word16 xn, const int16_t* past, bool plain, bool& ovf) {
  const int n = N > 0 ? N : order;
  Word32 s;
  if (plain) {
    int32_t acc = int32_t{xn} * a[0];
    for (int j = 1; j <= n; ++j) acc -= int32_t{a[j]} * past[-j];
    s = 2 * acc;
  } else {
    MacChain c;
    c.mac(xn, a[0]);
    for (int j = 1; j <= n; ++j) c.msu(a[j], past[-j]);
    s = c.value();
    if (c.spilled()) {
      s = L_mult_o(xn, a[0], ovf);
      for (int j = 1; j <= n; ++j) s = L_msu_o(s, a[j], past[-j], ovf);
    }
  }
  s = L_shl_o(s, 3, ovf);
  // round() adds 0x8000 with saturation, which also raises the flag.
  if (s >= 0x7FFF8000) ovf = true;
  return round_fx(s);
}

// The filter proper.  Past outputs are bounded by the running maximum of
// their magnitudes, so |x a0| + M sum|a_j| below 2^30 proves that every
// partial sum of a sample fits 32 bits; such samples run in plain 32-bit
// arithmetic on a local copy of the coefficients, the oldest terms first so
// that the newest output enters the sum last.  The first `order` samples
// read a staging copy of the memory followed by the new outputs, so every
// sample sees one contiguous history.
template <int N>
bool runFilter(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, const int16_t* mem) {
  if (N > 0) order = N;
  int32_t c[(N > 0 ? N : 32) + 1];
  int64_t poles = 0;
  for (int j = 0; j <= order; ++j) c[j] = a[j];
  for (int j = 1; j <= order; ++j) poles += std::abs(c[j]);
  const int64_t a0 = std::abs(c[0]);
  int64_t peak = 0;  // largest |y| the history can hold so far
  int16_t stage[64];
  if (mem) {
    std::memcpy(stage, mem, static_cast<size_t>(order) * sizeof(int16_t));
    for (int j = 0; j < order; ++j) peak = std::max<int64_t>(peak, std::abs(int{mem[j]}));
  } else {
    std::memset(stage, 0, static_cast<size_t>(order) * sizeof(int16_t));
  }
  int64_t room = (int64_t{1} << 30) - peak * poles;  // what |x a0| may still take
  bool ovf = false;
  auto one = [&](Word16 xn, const int16_t* past) -> Word16 {
    Word16 v;
    if (std::abs(int{xn}) * a0 < room) {
      int32_t acc = 0;
      for (int j = order; j >= 2; --j) acc += c[j] * past[-j];
      acc = xn * c[0] - acc - c[1] * past[-1];
      // (2 acc) << 3, saturated, then rounded: the flag follows the
      // operators (a saturated shift or a saturating rounding addition).
      int64_t t = int64_t{acc} * 16;
      if (t > kMax32 || t < kMin32) {
        ovf = true;
        t = t > 0 ? kMax32 : kMin32;
      }
      if (t >= 0x7FFF8000) ovf = true;
      v = round_fx(static_cast<Word32>(t));
    } else {
      v = synthSample<N>(a, order, xn, past, false, ovf);
    }
    const int64_t m = std::abs(int{v});
    if (m > peak) {
      peak = m;
      room = (int64_t{1} << 30) - peak * poles;
    }
    return v;
  };
  const int head = len < order ? len : order;
  for (int n = 0; n < head; ++n) {
    const Word16 v = one(x[n], stage + order + n);
    stage[order + n] = v;
    y[n] = v;
  }
  for (int n = head; n < len; ++n) y[n] = one(x[n], y + n);
  return ovf;
}

// Orders above 32: every sample reads its history from the outputs so far
// and the memory's tail, through the exact chain.
bool wideFilter(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, const int16_t* mem) {
  bool ovf = false;
  auto past = [&](int n, int j) -> Word16 { return j <= n ? y[n - j] : (mem ? mem[order + n - j] : 0); };
  for (int n = 0; n < len; ++n) {
    MacChain c;
    c.mac(x[n], a[0]);
    for (int j = 1; j <= order; ++j) c.msu(a[j], past(n, j));
    Word32 s = c.value();
    if (c.spilled()) {
      s = L_mult_o(x[n], a[0], ovf);
      for (int j = 1; j <= order; ++j) s = L_msu_o(s, a[j], past(n, j), ovf);
    }
    s = L_shl_o(s, 3, ovf);
    if (s >= 0x7FFF8000) ovf = true;
    y[n] = round_fx(s);
  }
  return ovf;
}

}  // namespace

bool synthesisFilter(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int16_t* mem,
                     bool update) {
  // The memory must survive until the filter has left it (the caller may
  // update it in place); the staging copy takes care of that.
  bool ovf;
  if (order == 10)
    ovf = runFilter<10>(a, order, x, y, len, mem);
  else if (order == 30)
    ovf = runFilter<30>(a, order, x, y, len, mem);
  else if (order <= 32)
    ovf = runFilter<0>(a, order, x, y, len, mem);
  else
    ovf = wideFilter(a, order, x, y, len, mem);
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
