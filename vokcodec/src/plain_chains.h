// Exact plain forms of the coders' saturating product chains.
//
// A chain acc = L_mac(acc, x, h) (or L_msu) saturates only when a partial
// sum leaves 32 bits.  Every partial sum is bounded by the start plus twice
// the sum of the products' magnitudes, so when that bound stays inside 32
// bits the chain equals the plain integer sum, formed in any order (the
// compiler is free to vectorise it).  Sums of squares only grow, so their
// chain is the clamp of the exact total.  The coders test the bound on each
// block and run the saturating chain where it fails.
#ifndef VOKCODEC_PLAIN_CHAINS_H
#define VOKCODEC_PLAIN_CHAINS_H

#include <cstdint>

namespace vokc::plain {

// Largest magnitude of x[0..n-1] (32768 for -32768).
inline int32_t peak(const int16_t* x, int n) {
  int32_t m = 0;
  for (int i = 0; i < n; ++i) {
    const int32_t a = x[i] < 0 ? -int32_t{x[i]} : int32_t{x[i]};
    m = a > m ? a : m;
  }
  return m;
}

// Sum of |h[i]|.
inline int64_t magnitude(const int16_t* h, int n) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) s += h[i] < 0 ? -int64_t{h[i]} : int64_t{h[i]};
  return s;
}

// True when |start| + 2 * peak * sum stays inside 32 bits: no chain of the
// doubled products of samples up to `peak` with taps of magnitude sum
// `sum` can saturate.
inline bool fits(int64_t peak, int64_t sum, int64_t start = 0) {
  return (start < 0 ? -start : start) + 2 * peak * sum <= INT32_MAX;
}

// Sum of x[i]^2 (exact).
inline int64_t energy(const int16_t* x, int n) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) s += int32_t{x[i]} * x[i];
  return s;
}

// The chain start + sum 2 x[i]^2, saturated as the codec's chain is.
inline int32_t energyChain(int32_t start, const int16_t* x, int n) {
  const int64_t s = start + 2 * energy(x, n);
  return s > INT32_MAX ? INT32_MAX : static_cast<int32_t>(s);
}

}  // namespace vokc::plain

#endif  // VOKCODEC_PLAIN_CHAINS_H
