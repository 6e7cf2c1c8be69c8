// Real FFT set-up, transforms and scalar kernels (see fft.h).
#include "fft.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/status.h"
#include "core/vokcore.h"

namespace voksc::fft {

namespace {

constexpr int kStackOrder = 10;  // up to this order the complex data live on the stack

bool validFlag(int flag) { return flag == kScaleFwd || flag == kScaleInv || flag == kScaleSqrt || flag == kNoScale; }

template <class T>
T* alignUp(void* p, std::size_t a) {
  const auto v = reinterpret_cast<std::uintptr_t>(p);
  return reinterpret_cast<T*>((v + a - 1) & ~static_cast<std::uintptr_t>(a - 1));
}

// Number of floats of pass twiddles for an m-point complex FFT.
int64_t passTwiddleCount(int64_t m, bool radix2First) {
  int64_t count = radix2First ? m : 0;
  for (int64_t len = radix2First ? m / 2 : m; len >= 4; len /= 4) count += 6 * (len / 4);
  return count;
}

struct Layout {
  int64_t objectBytes, setupBytes, workBytes;
};

// Object: 64 bytes of alignment slack, the header in a 64-byte block, the
// pass twiddles, the split twiddles (2 m floats) and the bit-reversal
// table (m entries).  Set-up buffer: the quarter sine table (orders from 11).
// Work: the complex data (2 m floats) from order 11.
Layout layout(int order) {
  const int64_t n = int64_t{1} << order, m = n / 2;
  const bool radix2First = order >= 2 && ((order - 1) & 1);
  int64_t tables = 0;
  if (order >= 2) tables = 4 * (passTwiddleCount(m, radix2First) + 2 * m + m);
  Layout l{};
  l.objectBytes = 64 + 64 + tables;
  l.setupBytes = order > kStackOrder ? 4 * (n / 4 + 1) : 0;
  l.workBytes = order > kStackOrder ? 4 * 2 * m + 64 : 0;
  return l;
}

bool fitsInt(const Layout& l) {
  return l.objectBytes <= 0x7FFFFFFF && l.setupBytes <= 0x7FFFFFFF && l.workBytes <= 0x7FFFFFFF;
}

// sin(2 pi j / n) from the quarter table s[0..n/4], any j >= 0.
struct Sines {
  const float* s;
  int64_t n;
  float sinAt(int64_t j) const {
    j %= n;
    const int64_t quarter = n / 4, r = j % quarter;
    switch (j / quarter) {
      case 0: return s[r];
      case 1: return s[quarter - r];
      case 2: return -s[r];
      default: return -s[quarter - r];
    }
  }
  float cosAt(int64_t j) const { return sinAt(j + n / 4); }
};

// ---- scalar kernels ------------------------------------------------------

// Radix-2 decimation-in-frequency pass of span h over m points.
void radix2Scalar(float* re, float* im, int m, int h, const float* wr, const float* wi) {
  for (int base = 0; base < m; base += 2 * h) {
    float* ar = re + base;
    float* ai = im + base;
    for (int k = 0; k < h; ++k) {
      const float xr = ar[k], xi = ai[k], yr = ar[k + h], yi = ai[k + h];
      const float dr = xr - yr, di = xi - yi;
      ar[k] = xr + yr;
      ai[k] = xi + yi;
      ar[k + h] = dr * wr[k] - di * wi[k];
      ai[k + h] = dr * wi[k] + di * wr[k];
    }
  }
}

// One radix-4 butterfly at k of a block (positions k, k+q, k+2q, k+3q).
inline void butterfly4(float* ar, float* ai, int k, int q, const float* tw) {
  const float x0r = ar[k], x0i = ai[k], x1r = ar[k + q], x1i = ai[k + q];
  const float x2r = ar[k + 2 * q], x2i = ai[k + 2 * q], x3r = ar[k + 3 * q], x3i = ai[k + 3 * q];
  const float t0r = x0r + x2r, t0i = x0i + x2i, t1r = x0r - x2r, t1i = x0i - x2i;
  const float t2r = x1r + x3r, t2i = x1i + x3i, dr = x1r - x3r, di = x1i - x3i;
  // t3 = -j d = (di, -dr)
  const float ur = t0r - t2r, ui = t0i - t2i;
  const float vr = t1r + di, vi = t1i - dr;
  const float sr = t1r - di, si = t1i + dr;
  const float *w1r = tw, *w1i = tw + q, *w2r = tw + 2 * q, *w2i = tw + 3 * q, *w3r = tw + 4 * q, *w3i = tw + 5 * q;
  ar[k] = t0r + t2r;
  ai[k] = t0i + t2i;
  ar[k + q] = ur * w2r[k] - ui * w2i[k];
  ai[k + q] = ur * w2i[k] + ui * w2r[k];
  ar[k + 2 * q] = vr * w1r[k] - vi * w1i[k];
  ai[k + 2 * q] = vr * w1i[k] + vi * w1r[k];
  ar[k + 3 * q] = sr * w3r[k] - si * w3i[k];
  ai[k + 3 * q] = sr * w3i[k] + si * w3r[k];
}

void radix4Scalar(float* re, float* im, int m, int q, const float* tw) {
  if (q == 1) {  // the last pass: all twiddles are 1
    for (int base = 0; base < m; base += 4) {
      float* ar = re + base;
      float* ai = im + base;
      const float t0r = ar[0] + ar[2], t0i = ai[0] + ai[2], t1r = ar[0] - ar[2], t1i = ai[0] - ai[2];
      const float t2r = ar[1] + ar[3], t2i = ai[1] + ai[3], dr = ar[1] - ar[3], di = ai[1] - ai[3];
      ar[0] = t0r + t2r;
      ai[0] = t0i + t2i;
      ar[1] = t0r - t2r;
      ai[1] = t0i - t2i;
      ar[2] = t1r + di;
      ai[2] = t1i - dr;
      ar[3] = t1r - di;
      ai[3] = t1i + dr;
    }
    return;
  }
  for (int base = 0; base < m; base += 4 * q)
    for (int k = 0; k < q; ++k) butterfly4(re + base, im + base, k, q, tw);
}

// X[k] = E[k] + W^k O[k] for k = k0..k1-1 (1 <= k0), from Z in bit-reversed order.
inline void splitFwdOne(const float* zr, const float* zi, const int32_t* rev, const float* wr, const float* wi, int m,
                        int k, float* dst) {
  const float ar = zr[rev[k]], ai = zi[rev[k]], br = zr[rev[m - k]], bi = -zi[rev[m - k]];
  const float er = 0.5f * (ar + br), ei = 0.5f * (ai + bi);
  const float dr = 0.5f * (ar - br), di = 0.5f * (ai - bi);
  // O = -j D = (di, -dr)
  dst[2 * k] = er + (wr[k] * di - wi[k] * -dr);
  dst[2 * k + 1] = ei + (wr[k] * -dr + wi[k] * di);
}

void splitFwdScalar(const float* zr, const float* zi, const int32_t* rev, const float* wr, const float* wi, int m,
                    float* dst) {
  for (int k = 1; k < m; ++k) splitFwdOne(zr, zi, rev, wr, wi, m, k, dst);
}

// Z[k] = (X[k] + conj X[m-k]) + j (X[k] - conj X[m-k]) conj(W^k), k = 0..m-1,
// the imaginary parts of X[0] and X[m] read as 0.
inline void splitInvOne(const float* src, const float* wr, const float* wi, int m, int k, float* zr, float* zi) {
  const float ar = src[2 * k], ai = k == 0 ? 0.0f : src[2 * k + 1];
  const float br = src[2 * (m - k)], bi = k == 0 ? -0.0f : -src[2 * (m - k) + 1];
  const float er = ar + br, ei = ai + bi, dr = ar - br, di = ai - bi;
  const float orr = dr * wr[k] + di * wi[k], oi = di * wr[k] - dr * wi[k];
  zr[k] = er - oi;
  zi[k] = ei + orr;
}

void splitInvScalar(const float* src, const float* wr, const float* wi, int m, float* zr, float* zi) {
  for (int k = 0; k < m; ++k) splitInvOne(src, wr, wi, m, k, zr, zi);
}

void unpackInvScalar(const float* zr, const float* zi, const int32_t* rev, int m, float* dst, int scale, float f) {
  for (int k = 0; k < m; ++k) {
    const float a = zr[rev[k]], b = zi[rev[k]];
    dst[2 * k] = scale ? a * f : a;
    dst[2 * k + 1] = scale ? b * f : b;
  }
}

void scaleScalar(float* x, int n, float f) {
  for (int i = 0; i < n; ++i) x[i] *= f;
}

const Kernels kScalar{radix2Scalar, radix4Scalar, splitFwdScalar, splitInvScalar, unpackInvScalar, scaleScalar};

// The complex network (forward DFT without scaling) on m points.
void network(const RealFftSpec_32f& plan, float* re, float* im, int m, const Kernels& k) {
  const float* tw = plan.passTwiddles;
  int len = m;
  if (plan.radix2First) {
    k.radix2(re, im, m, m / 2, tw, tw + m / 2);
    tw += m;
    len = m / 2;
  }
  for (; len >= 4; len /= 4) {
    k.radix4(re, im, m, len / 4, tw);
    tw += 6 * (len / 4);
  }
}

float* workArea(const RealFftSpec_32f& plan, void* work, float* stack, void** owned) {
  *owned = nullptr;
  if (plan.order <= kStackOrder) return stack;
  if (work == nullptr) {
    work = core::vokMalloc(plan.workBytes);
    if (work == nullptr) return nullptr;
    *owned = work;
  }
  return alignUp<float>(work, 64);
}

}  // namespace

// ---- kernel forms --------------------------------------------------------

#if defined(VOKSC_X86)
const Kernels& kernelsAvx2();
#endif

const Kernels& kernelsFor(cpu::Level level) {
#if defined(VOKSC_X86)
  if (level >= cpu::Level::kAvx2) return kernelsAvx2();
#endif
  (void)level;
  return kScalar;
}

namespace detail {
// Shared with the AVX2 form for the spans it does not vectorise.
void radix2Scalar(float* re, float* im, int m, int h, const float* wr, const float* wi) {
  fft::radix2Scalar(re, im, m, h, wr, wi);
}
void radix4Scalar(float* re, float* im, int m, int q, const float* tw) { fft::radix4Scalar(re, im, m, q, tw); }
void splitFwdRange(const float* zr, const float* zi, const int32_t* rev, const float* wr, const float* wi, int m,
                   int k0, int k1, float* dst) {
  for (int k = k0; k < k1; ++k) splitFwdOne(zr, zi, rev, wr, wi, m, k, dst);
}
void splitInvRange(const float* src, const float* wr, const float* wi, int m, int k0, int k1, float* zr, float* zi) {
  for (int k = k0; k < k1; ++k) splitInvOne(src, wr, wi, m, k, zr, zi);
}
}  // namespace detail

// ---- transforms ----------------------------------------------------------

void forward(const RealFftSpec_32f& plan, const float* src, float* dst, float* work, const Kernels& k) {
  const int order = plan.order, n = 1 << order;
  if (order == 0) {
    dst[0] = src[0];
    dst[1] = 0.0f;
    dst[2] = 0.0f;
  } else if (order == 1) {
    const float a = src[0], b = src[1];
    dst[0] = a + b;
    dst[1] = 0.0f;
    dst[2] = a - b;
    dst[3] = 0.0f;
  } else {
    const int m = n / 2;
    float* re = work;
    float* im = work + m;
    for (int i = 0; i < m; ++i) {
      re[i] = src[2 * i];
      im[i] = src[2 * i + 1];
    }
    network(plan, re, im, m, k);
    const float* wr = plan.splitTwiddles;
    k.splitFwd(re, im, plan.bitReverse, wr, wr + m, m, dst);
    const float z0r = re[0], z0i = im[0];
    dst[0] = z0r + z0i;
    dst[1] = 0.0f;
    dst[n] = z0r - z0i;
    dst[n + 1] = 0.0f;
  }
  if (plan.scaleFwd) k.scale(dst, n + 2, plan.factor);
}

void inverse(const RealFftSpec_32f& plan, const float* src, float* dst, float* work, const Kernels& k) {
  const int order = plan.order, n = 1 << order;
  const float f = plan.factor;
  const int sc = plan.scaleInv;
  if (order == 0) {
    dst[0] = sc ? src[0] * f : src[0];
    return;
  }
  if (order == 1) {
    const float a = src[0] + src[2], b = src[0] - src[2];
    dst[0] = sc ? a * f : a;
    dst[1] = sc ? b * f : b;
    return;
  }
  const int m = n / 2;
  float* re = work;
  float* im = work + m;
  const float* wr = plan.splitTwiddles;
  k.splitInv(src, wr, wr + m, m, re, im);
  network(plan, im, re, m, k);  // swapped arrays: the inverse DFT
  k.unpackInv(re, im, plan.bitReverse, m, dst, sc, f);
}

// ---- set-up and checked entry points --------------------------------------

VokResult realFftGetSize_32f(int order, int flag, int /*hint*/, int* objectBytes, int* setupBytes, int* workBytes) {
  if (order > 30 || order < 0) return vokErrFftOrder;
  if (anyNull(objectBytes, setupBytes, workBytes)) return vokErrNullPtr;
  if (!validFlag(flag)) return vokErrFftFlag;
  if (order > kMaxOrder) return vokErrFftOrder;
  const Layout l = layout(order);
  if (!fitsInt(l)) return vokErrFftOrder;
  *objectBytes = static_cast<int>(l.objectBytes);
  *setupBytes = static_cast<int>(l.setupBytes);
  *workBytes = static_cast<int>(l.workBytes);
  return vokOk;
}

VokResult realFftInit_32f(RealFftSpec_32f** out, int order, int flag, int hint, void* mem, void* setupBuffer) {
  if (out == nullptr) return vokErrNullPtr;
  if (order >= 30 || order < 0) return vokErrFftOrder;
  if (mem == nullptr) return vokErrNullPtr;
  auto* plan = alignUp<RealFftSpec_32f>(mem, 64);
  std::memset(plan, 0, sizeof *plan);
  if (!validFlag(flag)) return vokErrFftFlag;
  if (order > kStackOrder && setupBuffer == nullptr) return vokErrNullPtr;
  const Layout l = layout(order);
  if (!fitsInt(l)) return vokErrFftOrder;

  const int64_t n = int64_t{1} << order, m = n / 2;
  plan->order = order;
  plan->hint = hint;
  plan->scaleFwd = flag == kScaleFwd || flag == kScaleSqrt;
  plan->scaleInv = flag == kScaleInv || flag == kScaleSqrt;
  if (flag == kScaleSqrt) {
    // Reciprocal square root: an estimate refined by one Newton step.
    const float x = static_cast<float>(n);
    const float y0 = static_cast<float>(1.0 / std::sqrt(static_cast<double>(n)));
    plan->factor = y0 * (1.5f - 0.5f * x * y0 * y0);
  } else {
    plan->factor = 1.0f / static_cast<float>(n);
  }
  plan->workBytes = static_cast<int32_t>(l.workBytes);
  plan->radix2First = order >= 2 && ((order - 1) & 1);

  if (order >= 2) {
    // Quarter sine table, then every twiddle from it.
    float stackSines[(1 << kStackOrder) / 4 + 1];
    float* s = order > kStackOrder ? static_cast<float*>(setupBuffer) : stackSines;
    const double step = 2.0 * 3.14159265358979323846 / static_cast<double>(n);
    for (int64_t j = 0; j <= n / 4; ++j)
      s[j] = static_cast<float>(j <= n / 8 ? std::sin(step * static_cast<double>(j))
                                           : std::cos(step * static_cast<double>(n / 4 - j)));
    const Sines sines{s, n};

    float* tw = reinterpret_cast<float*>(reinterpret_cast<unsigned char*>(plan) + 64);
    plan->passTwiddles = tw;
    int64_t len = m;
    if (plan->radix2First) {
      const int64_t h = m / 2, stride = n / m;
      for (int64_t k = 0; k < h; ++k) {
        tw[k] = sines.cosAt(k * stride);
        tw[h + k] = -sines.sinAt(k * stride);
      }
      tw += m;
      len = m / 2;
    }
    for (; len >= 4; len /= 4) {
      const int64_t q = len / 4, stride = n / len;
      for (int64_t k = 0; k < q; ++k)
        for (int p = 1; p <= 3; ++p) {
          // p = 1, 2, 3: W^k at 0, W^2k at 2q, W^3k at 4q (real), imaginary q later
          tw[(2 * p - 2) * q + k] = sines.cosAt(p * k * stride);
          tw[(2 * p - 1) * q + k] = -sines.sinAt(p * k * stride);
        }
      tw += 6 * q;
    }
    plan->splitTwiddles = tw;
    for (int64_t k = 0; k < m; ++k) {
      tw[k] = sines.cosAt(k);
      tw[m + k] = -sines.sinAt(k);
    }
    tw += 2 * m;
    auto* rev = reinterpret_cast<int32_t*>(tw);
    plan->bitReverse = rev;
    const int bits = order - 1;
    for (int64_t k = 0; k < m; ++k) {
      uint32_t r = 0;
      for (int b = 0; b < bits; ++b) r |= ((static_cast<uint32_t>(k) >> b) & 1u) << (bits - 1 - b);
      rev[k] = static_cast<int32_t>(r);
    }
  }
  plan->id = kSpec32fId;
  *out = plan;
  return vokOk;
}

namespace {

template <bool kForward>
VokResult transform32f(const float* src, float* dst, const RealFftSpec_32f* plan, void* work) {
  if (plan == nullptr) return vokErrNullPtr;
  if (plan->id != kSpec32fId) return vokErrContextMatch;
  if (src == nullptr || dst == nullptr) return vokErrNullPtr;
  alignas(64) float stack[1 << kStackOrder];
  void* owned = nullptr;
  float* area = workArea(*plan, work, stack, &owned);
  if (area == nullptr) return vokErrMemAlloc;
  static const Kernels& k = kernelsFor(cpu::level());
  if (kForward)
    forward(*plan, src, dst, area, k);
  else
    inverse(*plan, src, dst, area, k);
  if (owned) core::vokFree(owned);
  return vokOk;
}

}  // namespace

VokResult realFftFwd_32f(const float* src, float* dst, const RealFftSpec_32f* plan, void* work) {
  return transform32f<true>(src, dst, plan, work);
}
VokResult realFftInv_32f(const float* src, float* dst, const RealFftSpec_32f* plan, void* work) {
  return transform32f<false>(src, dst, plan, work);
}

// ---- 16-bit wrapper --------------------------------------------------------

namespace {

constexpr int64_t kHeader16s = 64;  // the wrapper header's block before the float object

int64_t work16sBytes(const Layout& l, int order) { return l.workBytes + 4 * (int64_t{1} << order) + 8 + 64; }

// 2^-s as a float; shifts beyond +-126 act as +-126 (no product of a
// transform result reaches past the 32-bit range otherwise).
float pow2Neg(int s) {
  if (s > 126) s = 126;
  if (s < -126) s = -126;
  return std::ldexp(1.0f, -s);
}

int32_t roundSat32(float v) {
  if (v >= 2147483648.0f) return INT32_MAX;
  if (v <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(std::nearbyint(v));
}

int16_t roundSat16(float v) {
  const float r = std::nearbyint(v);
  if (r >= 32767.0f) return 32767;
  if (r <= -32768.0f) return -32768;
  return static_cast<int16_t>(r);
}

}  // namespace

VokResult realFftGetSize_16s(int order, int flag, int hint, int* objectBytes, int* setupBytes, int* workBytes) {
  if (order > 30 || order < 0) return vokErrFftOrder;
  if (anyNull(objectBytes, setupBytes, workBytes)) return vokErrNullPtr;
  if (!validFlag(flag)) return vokErrFftFlag;
  int s = 0, b = 0, w = 0;
  const VokResult r = realFftGetSize_32f(order, flag, hint, &s, &b, &w);
  if (r != vokOk) return r;
  const Layout l = layout(order);
  const int64_t total = 64 + kHeader16s + s, work = work16sBytes(l, order);
  if (total > 0x7FFFFFFF || work > 0x7FFFFFFF) return vokErrFftOrder;
  *objectBytes = static_cast<int>(total);
  *setupBytes = b;
  *workBytes = static_cast<int>(work);
  return vokOk;
}

VokResult realFftInit_16s(RealFftSpec_16s** out, int order, int flag, int hint, void* mem, void* setupBuffer) {
  if (out == nullptr) return vokErrNullPtr;
  if (order > 30 || order < 0) return vokErrFftOrder;
  if (mem == nullptr) return vokErrNullPtr;
  auto* plan = alignUp<RealFftSpec_16s>(mem, 64);
  std::memset(plan, 0, sizeof *plan);
  RealFftSpec_32f* inner = nullptr;
  const VokResult r =
      realFftInit_32f(&inner, order, flag, hint, reinterpret_cast<unsigned char*>(plan) + kHeader16s, setupBuffer);
  if (r != vokOk) return r;
  plan->order = order;
  plan->hint = hint;
  plan->workBytes = static_cast<int32_t>(work16sBytes(layout(order), order));
  plan->inner32f = inner;
  plan->id = kSpec16sId;
  *out = plan;
  return vokOk;
}

namespace {

// The float copy (n + 2 values) and the float transform's own work area.
struct Work16s {
  float* copy;
  void* inner;
  void* owned;
};

bool work16s(const RealFftSpec_16s& plan, void* work, float* stackCopy, Work16s* w) {
  w->owned = nullptr;
  if (plan.order <= kStackOrder) {
    w->copy = stackCopy;
    w->inner = nullptr;  // the float transform keeps its data on its stack
    return true;
  }
  if (work == nullptr) {
    work = core::vokMalloc(plan.workBytes);
    if (work == nullptr) return false;
    w->owned = work;
  }
  w->copy = alignUp<float>(work, 64);
  w->inner = w->copy + (std::size_t{1} << plan.order) + 2;
  return true;
}

}  // namespace

// The float transforms read all their input before they write their
// output, so the wrappers transform the float copy in place.
VokResult realFftFwd_16s32sc_Sfs(const int16_t* src, Vok32sc* dst, const RealFftSpec_16s* plan, int s, void* work) {
  if (plan == nullptr) return vokErrNullPtr;
  if (plan->id != kSpec16sId) return vokErrContextMatch;
  if (src == nullptr || dst == nullptr) return vokErrNullPtr;
  alignas(64) float stackCopy[(1 << kStackOrder) + 2];
  Work16s w;
  if (!work16s(*plan, work, stackCopy, &w)) return vokErrMemAlloc;
  const int n = 1 << plan->order;
  float* x = w.copy;
  for (int i = 0; i < n; ++i) x[i] = static_cast<float>(src[i]);
  const VokResult r = realFftFwd_32f(x, x, plan->inner32f, w.inner);
  if (r == vokOk) {
    const float f = pow2Neg(s);
    for (int k = 0; k <= n / 2; ++k) {
      dst[k].re = roundSat32(x[2 * k] * f);
      dst[k].im = roundSat32(x[2 * k + 1] * f);
    }
    dst[0].im = 0;
    dst[n / 2].im = 0;
  }
  if (w.owned) core::vokFree(w.owned);
  return r;
}

VokResult realFftInv_32sc16s_Sfs(const Vok32sc* src, int16_t* dst, const RealFftSpec_16s* plan, int s, void* work) {
  if (plan == nullptr) return vokErrNullPtr;
  if (plan->id != kSpec16sId) return vokErrContextMatch;
  if (src == nullptr || dst == nullptr) return vokErrNullPtr;
  alignas(64) float stackCopy[(1 << kStackOrder) + 2];
  Work16s w;
  if (!work16s(*plan, work, stackCopy, &w)) return vokErrMemAlloc;
  const int n = 1 << plan->order;
  float* x = w.copy;
  for (int k = 0; k <= n / 2; ++k) {
    x[2 * k] = static_cast<float>(src[k].re);
    x[2 * k + 1] = static_cast<float>(src[k].im);
  }
  const VokResult r = realFftInv_32f(x, x, plan->inner32f, w.inner);
  if (r == vokOk) {
    const float f = pow2Neg(s);
    for (int i = 0; i < n; ++i) dst[i] = roundSat16(x[i] * f);
  }
  if (w.owned) core::vokFree(w.owned);
  return r;
}

// ---- reciprocal with threshold -------------------------------------------

VokResult invThresh_64f(const double* src, double* dst, int len, double threshold) {
  if (src == nullptr || dst == nullptr) return vokErrNullPtr;
  if (len < 1) return vokErrSize;
  if (threshold < 0) return vokErrThreshold;
  bool zero = false;
  if (threshold == 0) {
    for (int i = 0; i < len; ++i) {
      zero |= src[i] == 0.0;
      dst[i] = 1.0 / src[i];
    }
  } else {
    for (int i = 0; i < len; ++i) {
      const double x = src[i], a = std::fabs(x) > threshold ? std::fabs(x) : threshold;
      dst[i] = std::signbit(x) ? -1.0 / a : 1.0 / a;
    }
  }
  if (!zero) return vokOk;
  const int workers = core::ownGetNumThreads();
  return len >= 2048 && workers > 1 && len >= workers ? 6 : 4;
}

}  // namespace voksc::fft
