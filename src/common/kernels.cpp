// Scalar forms of the correlation kernels (the definitions the AVX2 forms
// in kernels_avx2.cpp must reproduce) and the lag-maximum searches built
// on either correlation form.
#include "kernels.h"

#include "core/cpu.h"

namespace voksc::kern {

int64_t dot_scalar(const int16_t* a, const int16_t* b, int n) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) s += int32_t{a[i]} * b[i];
  return s;
}

int64_t dotShifted_scalar(const int16_t* a, const int16_t* b, int n, int sa, int sb) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) s += (int32_t{a[i]} >> sa) * (int32_t{b[i]} >> sb);
  return s;
}

namespace {

// Exact sum of x[i]^2.
int64_t energy_scalar(const int16_t* x, int n) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) s += int32_t{x[i]} * x[i];
  return s;
}

// True when every partial sum of products a[i] b[j] of two operands with
// these energies fits 31 bits plus sign (Cauchy-Schwarz: any such sum is at
// most sqrt(Ea Eb) in magnitude); the margin covers the rounding of the
// floating-point product.
inline bool narrowSafe(int64_t ea, int64_t eb) { return static_cast<double>(ea) * static_cast<double>(eb) < 4.6e18; }

// A dot product whose partial sums are known to fit 32 bits: plain 32-bit
// sums, which the compiler turns into pairwise multiply-adds.
inline int32_t dotNarrow(const int16_t* a, const int16_t* b, int n) {
  int32_t s = 0;
  for (int i = 0; i < n; ++i) s += int32_t{a[i]} * b[i];
  return s;
}

// Four consecutive lags sharing each load of a: s[d] = sum a[i] bk[i + d],
// i = 0..m-1, d = 0..3, in 32-bit sums (the caller's bound keeps every
// partial sum of them inside 31 bits, in any order of summation); four
// independent reductions the compiler turns into multiply-add lanes.
inline void corr4(const int16_t* a, const int16_t* bk, int m, int32_t* s) {
  int32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  for (int i = 0; i < m; ++i) {
    const int32_t ai = a[i];
    s0 += ai * bk[i];
    s1 += ai * bk[i + 1];
    s2 += ai * bk[i + 2];
    s3 += ai * bk[i + 3];
  }
  s[0] = s0;
  s[1] = s1;
  s[2] = s2;
  s[3] = s3;
}

}  // namespace

void xcorr_scalar(const int16_t* a, const int16_t* b, int n, int count, int64_t* out) {
  if (count > 1 && narrowSafe(energy_scalar(a, n), energy_scalar(b, n + count - 1))) {
    int k = 0;
    for (; k + 4 <= count; k += 4) {
      int32_t s[4];
      corr4(a, b + k, n, s);
      for (int d = 0; d < 4; ++d) out[k + d] = s[d];
    }
    for (; k < count; ++k) out[k] = dotNarrow(a, b + k, n);
    return;
  }
  for (int k = 0; k < count; ++k) out[k] = dot_scalar(a, b + k, n);
}

void xcorrTrunc_scalar(const int16_t* a, const int16_t* b, int len, int k0, int count, int64_t* out) {
  // Every lag sums a subset of the products of a[0..len-1] and b[0..len-1].
  bool narrow = false;
  if (count > 1) {
    const int64_t ea = energy_scalar(a, len);
    narrow = narrowSafe(ea, a == b ? ea : energy_scalar(b, len));
  }
  int j = 0;
  // Lags k..k+3 share the products up to len - k - 3; the longer ones
  // then take their last one to three.
  for (; narrow && j + 4 <= count && k0 + j + 3 < len; j += 4) {
    const int k = k0 + j, m = len - k - 3;
    int32_t s[4];
    corr4(a, b + k, m, s);
    const int32_t a0 = a[m], a1 = a[m + 1], a2 = a[m + 2];
    out[j] = s[0] + a0 * b[m + k] + a1 * b[m + k + 1] + a2 * b[m + k + 2];
    out[j + 1] = s[1] + a0 * b[m + k + 1] + a1 * b[m + k + 2];
    out[j + 2] = s[2] + a0 * b[m + k + 2];
    out[j + 3] = s[3];
  }
  for (; j < count; ++j) {
    const int k = k0 + j;
    out[j] = k >= len ? 0 : narrow ? dotNarrow(a, b + k, len - k) : dot_scalar(a, b + k, len - k);
  }
}

// Under Ea Eb < 2^62 (energies of the samples read) no sum of a subset of
// an output's products reaches 2^31 in magnitude (Cauchy-Schwarz), so 32-bit
// sums, added input by input along contiguous outputs (loops the compiler
// turns into lanes), are exact; otherwise each output is summed in 64 bits.
void convPartial_scalar(const int16_t* a, const int16_t* b, int n0, int count, int64_t* out) {
  const int used = n0 + count;
  int64_t ea = 0, eb = 0;
  for (int i = 0; i < used; ++i) {
    ea += int32_t{a[i]} * a[i];
    eb += int32_t{b[i]} * b[i];
  }
  if (ea == 0 || eb <= ((int64_t{1} << 62) - 1) / ea) {
    constexpr int kBlock = 64;
    for (int j0 = 0; j0 < count; j0 += kBlock) {
      const int m = count - j0 < kBlock ? count - j0 : kBlock, first = n0 + j0;
      int32_t acc[kBlock] = {};
      for (int i = 0; i < first + m; ++i) {
        const int32_t ai = a[i];
        const int16_t* bi = b + first - i;  // output first + j reads bi[j]
        for (int j = i > first ? i - first : 0; j < m; ++j) acc[j] += ai * bi[j];
      }
      for (int j = 0; j < m; ++j) out[j0 + j] = acc[j];
    }
    return;
  }
  for (int j = 0; j < count; ++j) {
    const int n = n0 + j;
    int64_t s = 0;
    for (int i = 0; i <= n; ++i) s += int32_t{a[i]} * b[n - i];
    out[j] = s;
  }
}

void residual_scalar(const int16_t* a, int order, const int16_t* x, int16_t* y, int len, int scale) {
  for (int n = 0; n < len; ++n) {
    int64_t s = 0;
    for (int i = 0; i <= order; ++i) s += int32_t{a[i]} * x[n - i];
    y[n] = sat16(scaleSfs(s, scale));
  }
}

namespace {

using XcorrFn = void (*)(const int16_t*, const int16_t*, int, int, int64_t*);

// Lags are correlated in runs of this many, so the sums fit a stack buffer.
constexpr int kRun = 128;

inline int runLength(long long remaining) { return remaining < kRun ? static_cast<int>(remaining) : kRun; }

template <XcorrFn Corr>
LagPick pastSearch(const int16_t* x, int len, int lagMin, int lagMax) {
  LagPick best{INT32_MIN, lagMax};
  int64_t c[kRun];
  // A run starting at lag `hi` correlates x with x - hi: entry j is lag hi - j.
  for (long long hi = lagMax; hi >= lagMin; hi -= kRun) {
    const int count = runLength(hi - lagMin + 1);
    Corr(x, x - hi, len, count, c);
    for (int j = 0; j < count; ++j) {
      const int32_t v = sat32(2 * c[j]);
      if (v >= best.value) best = {v, static_cast<int>(hi - j)};
    }
  }
  return best;
}

template <XcorrFn Corr>
LagPick futureSearch(const int16_t* x, int len, int lagMin, int lagMax) {
  LagPick best{INT32_MIN, 0};
  int64_t c[kRun];
  for (long long lo = lagMin; lo <= lagMax; lo += kRun) {
    const int count = runLength(lagMax - lo + 1);
    Corr(x, x + lo, len, count, c);
    for (int j = 0; j < count; ++j) {
      // The doubling of a 32-bit accumulator: sums beyond 30 bits saturate.
      const int32_t v = c[j] > 0x3FFFFFFF ? INT32_MAX : (c[j] < -0x40000000 ? INT32_MIN : static_cast<int32_t>(2 * c[j]));
      if (v > best.value) best = {v, static_cast<int>(lo + j)};
    }
  }
  return best;
}

template <XcorrFn Corr>
LagPick crossSearch(const int16_t* x, const int16_t* y, int len, int lagMax) {
  LagPick best{0, lagMax};
  int64_t c[kRun];
  for (long long lo = 0; lo <= lagMax; lo += kRun) {
    const int count = runLength(lagMax - lo + 1);
    Corr(x, y + lo, len, count, c);
    for (int j = 0; j < count; ++j) {
      const int32_t v = sat32(2 * c[j]);
      if (v > best.value) best = {v, static_cast<int>(lo + j)};
    }
  }
  return best;
}

}  // namespace

LagPick lagMaxPast_scalar(const int16_t* x, int len, int lagMin, int lagMax) {
  return pastSearch<xcorr_scalar>(x, len, lagMin, lagMax);
}
LagPick lagMaxPast_avx2(const int16_t* x, int len, int lagMin, int lagMax) {
  return pastSearch<xcorr_avx2>(x, len, lagMin, lagMax);
}
LagPick lagMaxFuture_scalar(const int16_t* x, int len, int lagMin, int lagMax) {
  return futureSearch<xcorr_scalar>(x, len, lagMin, lagMax);
}
LagPick lagMaxFuture_avx2(const int16_t* x, int len, int lagMin, int lagMax) {
  return futureSearch<xcorr_avx2>(x, len, lagMin, lagMax);
}
LagPick lagMaxCross_scalar(const int16_t* x, const int16_t* y, int len, int lagMax) {
  return crossSearch<xcorr_scalar>(x, y, len, lagMax);
}
LagPick lagMaxCross_avx2(const int16_t* x, const int16_t* y, int len, int lagMax) {
  return crossSearch<xcorr_avx2>(x, y, len, lagMax);
}

Table activeTable() {
  using voksc::cpu::choose;
  return Table{choose(dot_scalar, dot_avx2),
               choose(dotShifted_scalar, dotShifted_avx2),
               choose(xcorr_scalar, xcorr_avx2),
               choose(xcorrTrunc_scalar, xcorrTrunc_avx2),
               choose(convPartial_scalar, convPartial_avx2),
               choose(residual_scalar, residual_avx2),
               choose(lagMaxPast_scalar, lagMaxPast_avx2),
               choose(lagMaxFuture_scalar, lagMaxFuture_avx2),
               choose(lagMaxCross_scalar, lagMaxCross_avx2)};
}

}  // namespace voksc::kern
