// G.729 Annex A pre-emphasis and the float filtered-excitation update of
// the pitch search.
#include "common/basic_op.h"
#include "core/cpu.h"
#include "core/status.h"
#include "filt_internal.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#endif

using namespace voksc::op;
using voksc::anyNull;

namespace voksc::g729 {

void filteredExcitation_scalar(const float* h, float* y, int len, float e) {
  for (int n = len - 1; n > 0; --n) y[n] = y[n - 1] + e * h[n];
  y[0] = e * h[0];
}

#if defined(__i386__) || defined(__x86_64__)
// Blocks of 8 from the top down: a block reads y[n-1..n+6] before anything
// below n is written, and the block above has already read y[n+7].  The
// product and the sum are rounded separately, as in the scalar form.
__attribute__((target("avx2"))) void filteredExcitation_avx2(const float* h, float* y, int len, float e) {
  const __m256 ev = _mm256_set1_ps(e);
  int n = len - 8;
  for (; n >= 1; n -= 8) {
    const __m256 prev = _mm256_loadu_ps(y + n - 1);
    const __m256 p = _mm256_mul_ps(ev, _mm256_loadu_ps(h + n));
    _mm256_storeu_ps(y + n, _mm256_add_ps(prev, p));
  }
  for (int k = n + 7; k > 0; --k) y[k] = y[k - 1] + e * h[k];
  y[0] = e * h[0];
}
#else
void filteredExcitation_avx2(const float* h, float* y, int len, float e) { filteredExcitation_scalar(h, y, len, e); }
#endif

}  // namespace voksc::g729

VOKSC_EXPORT VokResult voksPreemphasize_G729A_16s(Vok16s factor, const Vok16s* x, Vok16s* y, int len, Vok16s* mem) {
  if (anyNull(x, y, mem)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  Vok16s prev = *mem;
  const Vok16s last = x[len - 1];
  for (int n = 0; n < len; ++n) {
    const Vok16s cur = x[n];
    y[n] = sub(cur, mult(factor, prev));
    prev = cur;
  }
  *mem = last;
  return vokOk;
}

VOKSC_EXPORT VokResult voksPreemphasize_G729A_16s_I(Vok16s factor, Vok16s* x, int len, Vok16s* mem) {
  return voksPreemphasize_G729A_16s(factor, x, x, len, mem);
}

// y[n] = y[n-1] + e h[n] from the top down, y[0] = e h[0]: the filtered
// past excitation for the next delay of the float pitch search.
VOKSC_EXPORT VokResult voksFilteredExcitation_G729_32f(const Vok32f* h, Vok32f* y, int len, Vok32f e) {
  if (anyNull(h, y)) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  static const auto form =
      voksc::cpu::choose(voksc::g729::filteredExcitation_scalar, voksc::g729::filteredExcitation_avx2);
  form(h, y, len, e);
  return vokOk;
}
