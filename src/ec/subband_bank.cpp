// Weighted overlap-add DFT filter bank: analysis folds the windowed input
// history of L samples into N = 2^order values and transforms them into
// N/2 + 1 subbands; synthesis transforms a subband frame back, weights the
// N-point block repeated L/N times with the time-reversed window and
// overlap-adds it into an L-sample accumulator that releases R samples per
// frame.
#include <cstring>

#include "common/basic_op.h"
#include "core/status.h"
#include "ec_internal.h"
#include "fft/fft.h"
#include "nr/nr_internal.h"
#include "voksc.h"

namespace voksc::ec {
namespace {

struct Bank32f {
  int32_t windowLen, fftLen, frameLen, pad;
  float* delay;   // analysis: input history, oldest first; synthesis: output accumulator
  float* window;
  fft::RealFftSpec_32f* fft;
};

struct Bank16s {
  int16_t* delay;
  int16_t* window;  // Q13
  fft::RealFftSpec_16s* fft;
  int32_t windowLen, fftLen, frameLen;
};

template <class Sample>
struct Traits;
template <>
struct Traits<float> {
  using State = Bank32f;
  static VokResult fftSize(int order, int* a, int* b, int* c) { return fft::realFftGetSize_32f(order, fft::kScaleInv, 0, a, b, c); }
};
template <>
struct Traits<int16_t> {
  using State = Bank16s;
  static VokResult fftSize(int order, int* a, int* b, int* c) { return fft::realFftGetSize_16s(order, fft::kScaleInv, 0, a, b, c); }
};

struct Sizes {
  int64_t state, setup, work;
  int fftObject;
};

// Sizes of a bank whose arguments passed the range checks; false when the
// transform cannot be set up or a size leaves the 32-bit range.
template <class Sample>
bool sizes(int order, int windowLen, Sizes* s) {
  int plan = 0, setup = 0, work = 0;
  if (Traits<Sample>::fftSize(order, &plan, &setup, &work) != vokOk) return false;
  const int64_t n = int64_t{1} << order;
  s->state = roundUp16(sizeof(typename Traits<Sample>::State)) + 2 * roundUp16(int64_t{windowLen} * int64_t(sizeof(Sample))) +
             plan + 16;
  s->setup = setup;
  s->work = work + roundUp16(4 * n) + 16;
  s->fftObject = plan;
  return s->state <= 0x7FFFFFFF && s->work <= 0x7FFFFFFF;
}

bool multipleOfFft(int order, int windowLen) { return order <= 30 && windowLen % (int64_t{1} << order) == 0; }

template <class Sample>
VokResult getSize(int order, int windowLen, int* stateSize, int* setupSize, int* workSize) {
  if (order < 1 || windowLen < 1) return vokErrBadArg;
  if (anyNull(stateSize, setupSize, workSize)) return vokErrNullPtr;
  if (!multipleOfFft(order, windowLen)) return vokErrBadArg;
  Sizes s;
  if (!sizes<Sample>(order, windowLen, &s)) return vokErrBadArg;
  *stateSize = static_cast<int>(s.state);
  *setupSize = static_cast<int>(s.setup);
  *workSize = static_cast<int>(s.work);
  return vokOk;
}

bool builtInWindow(int order, int frameLen, int windowLen) {
  return (order == 5 && frameLen == 24 && windowLen == 128) || (order == 6 && frameLen == 44 && windowLen == 256);
}

template <class Sample>
VokResult initChecks(const void* mem, int order, int frameLen, int windowLen, const Sample* window) {
  if (order < 1 || frameLen < 1 || (order <= 30 && frameLen > (int64_t{1} << order)) || windowLen < 1) return vokErrBadArg;
  if (mem == nullptr) return vokErrNullPtr;
  if (!multipleOfFft(order, windowLen)) return vokErrBadArg;
  if (window == nullptr && !builtInWindow(order, frameLen, windowLen)) return vokErrBadArg;
  return vokOk;
}

// Full built-in window of length L (128 or 256) as float.
float builtIn(int windowLen, int k) {
  const float* half = windowLen == 128 ? kWindow128 : kWindow256;
  return k < windowLen / 2 ? half[k] : half[windowLen - 1 - k];
}

}  // namespace
}  // namespace voksc::ec

using namespace voksc;
using namespace voksc::ec;

VOKSC_EXPORT VokResult voksSubbandProcessGetSize_32f(int order, int windowLen, int* stateSize, int* setupSize, int* workSize) {
  return getSize<float>(order, windowLen, stateSize, setupSize, workSize);
}
VOKSC_EXPORT VokResult voksSubbandProcessGetSize_16s(int order, int windowLen, int* stateSize, int* setupSize, int* workSize) {
  return getSize<int16_t>(order, windowLen, stateSize, setupSize, workSize);
}

VOKSC_EXPORT VokResult voksSubbandProcessInit_32f(SubbandProcessState_32f* mem, int order, int frameLen, int windowLen,
                                                  const Vok32f* window, Vok8u* setupBuffer) {
  if (VokResult r = initChecks(mem, order, frameLen, windowLen, window); r != vokOk) return r;
  Sizes sz;
  if (!sizes<float>(order, windowLen, &sz)) return vokErrInternal;
  auto* st = alignUp<Bank32f>(mem);
  auto* base = reinterpret_cast<unsigned char*>(st) + roundUp16(sizeof(Bank32f));
  const int64_t arrayBytes = roundUp16(4 * int64_t{windowLen});
  fft::RealFftSpec_32f* plan = nullptr;
  if (fft::realFftInit_32f(&plan, order, fft::kScaleInv, 0, base + 2 * arrayBytes, setupBuffer) != vokOk)
    return vokErrInternal;
  st->windowLen = windowLen;
  st->fftLen = 1 << order;
  st->frameLen = frameLen;
  st->pad = 0;
  st->window = reinterpret_cast<float*>(base);
  st->delay = reinterpret_cast<float*>(base + arrayBytes);
  st->fft = plan;
  for (int k = 0; k < windowLen; ++k) st->window[k] = window ? window[k] : builtIn(windowLen, k);
  std::memset(st->delay, 0, 4 * static_cast<std::size_t>(windowLen));
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandProcessInit_16s(SubbandProcessState_16s* mem, int order, int frameLen, int windowLen,
                                                  const Vok16s* window, Vok8u* setupBuffer) {
  if (VokResult r = initChecks(mem, order, frameLen, windowLen, window); r != vokOk) return r;
  Sizes sz;
  if (!sizes<int16_t>(order, windowLen, &sz)) return vokErrInternal;
  auto* st = alignUp<Bank16s>(mem);
  auto* base = reinterpret_cast<unsigned char*>(st) + roundUp16(sizeof(Bank16s));
  const int64_t arrayBytes = roundUp16(2 * int64_t{windowLen});
  fft::RealFftSpec_16s* plan = nullptr;
  if (fft::realFftInit_16s(&plan, order, fft::kScaleInv, 0, base + 2 * arrayBytes, setupBuffer) != vokOk)
    return vokErrInternal;
  st->windowLen = windowLen;
  st->fftLen = 1 << order;
  st->frameLen = frameLen;
  st->window = reinterpret_cast<int16_t*>(base);
  st->delay = reinterpret_cast<int16_t*>(base + arrayBytes);
  st->fft = plan;
  for (int k = 0; k < windowLen; ++k)
    st->window[k] = window ? window[k] : static_cast<int16_t>(builtIn(windowLen, k) * 8192.0f);
  std::memset(st->delay, 0, 2 * static_cast<std::size_t>(windowLen));
  return vokOk;
}

namespace {

template <class T>
void shiftIn(T* d, int windowLen, const T* src, int frameLen) {
  std::memmove(d, d + frameLen, sizeof(T) * static_cast<std::size_t>(windowLen - frameLen));
  std::memcpy(d + windowLen - frameLen, src, sizeof(T) * static_cast<std::size_t>(frameLen));
}

template <class T>
void shiftOut(T* a, int windowLen, int frameLen) {
  std::memmove(a, a + frameLen, sizeof(T) * static_cast<std::size_t>(windowLen - frameLen));
  std::memset(a + windowLen - frameLen, 0, sizeof(T) * static_cast<std::size_t>(frameLen));
}

}  // namespace

VOKSC_EXPORT VokResult voksSubbandAnalysis_32f32fc(const Vok32f* src, Vok32fc* dst, SubbandProcessState_32f* state, Vok8u* work) {
  if (anyNull(src, dst, state, work)) return vokErrNullPtr;
  auto* st = alignUp<Bank32f>(state);
  const int L = st->windowLen, N = st->fftLen;
  float* d = st->delay;
  const float* w = st->window;
  shiftIn(d, L, src, st->frameLen);
  float* t = alignUp<float>(work);
  for (int k = 0; k < N; ++k) t[k] = d[k] * w[k];
  for (int b = N; b < L; b += N)
    for (int k = 0; k < N; ++k) t[k] += d[b + k] * w[b + k];
  void* fftWork = reinterpret_cast<unsigned char*>(t) + roundUp16(4 * int64_t{N});
  if (fft::realFftFwd_32f(t, reinterpret_cast<float*>(dst), st->fft, fftWork) != vokOk) return vokErrInternal;
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandSynthesis_32fc32f(const Vok32fc* src, Vok32f* dst, SubbandProcessState_32f* state, Vok8u* work) {
  if (anyNull(src, dst, state, work)) return vokErrNullPtr;
  auto* st = alignUp<Bank32f>(state);
  const int L = st->windowLen, N = st->fftLen, R = st->frameLen;
  float* t = alignUp<float>(work);
  void* fftWork = reinterpret_cast<unsigned char*>(t) + roundUp16(4 * int64_t{N});
  if (fft::realFftInv_32f(reinterpret_cast<const float*>(src), t, st->fft, fftWork) != vokOk) return vokErrInternal;
  float* a = st->delay;
  const float* w = st->window;
  shiftOut(a, L, R);
  for (int b = 0; b < L; b += N)
    for (int k = 0; k < N; ++k) a[b + k] += t[k] * w[L - 1 - b - k];
  std::memcpy(dst, a, 4 * static_cast<std::size_t>(R));
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandAnalysis_16s32sc_Sfs(const Vok16s* src, Vok32sc* dst, SubbandProcessState_16s* state,
                                                       int scaleFactor, Vok8u* work) {
  if (anyNull(src, dst, state, work)) return vokErrNullPtr;
  auto* st = alignUp<Bank16s>(state);
  const int L = st->windowLen, N = st->fftLen;
  int16_t* d = st->delay;
  const int16_t* w = st->window;
  shiftIn(d, L, src, st->frameLen);
  auto* t = alignUp<int16_t>(work);
  // Each Q13 product rounded half up and saturated, then added with saturation.
  nr::mul(d, w, t, N, 13);
  for (int b = N; b < L; b += N)
    for (int k = 0; k < N; ++k) {
      const int32_t p = op::sat16((int32_t{d[b + k]} * w[b + k] + 4096) >> 13);
      t[k] = op::sat16(int32_t{t[k]} + p);
    }
  void* fftWork = reinterpret_cast<unsigned char*>(t) + roundUp16(4 * int64_t{N});
  if (fft::realFftFwd_16s32sc_Sfs(t, dst, st->fft, scaleFactor, fftWork) != vokOk) return vokErrInternal;
  return vokOk;
}

VOKSC_EXPORT VokResult voksSubbandSynthesis_32sc16s_Sfs(const Vok32sc* src, Vok16s* dst, SubbandProcessState_16s* state,
                                                        int scaleFactor, Vok8u* work) {
  if (anyNull(src, dst, state, work)) return vokErrNullPtr;
  auto* st = alignUp<Bank16s>(state);
  const int L = st->windowLen, N = st->fftLen, R = st->frameLen;
  auto* t = alignUp<int16_t>(work);
  void* fftWork = reinterpret_cast<unsigned char*>(t) + roundUp16(4 * int64_t{N});
  if (fft::realFftInv_32sc16s_Sfs(src, t, st->fft, scaleFactor, fftWork) != vokOk) return vokErrInternal;
  int16_t* a = st->delay;
  const int16_t* w = st->window;
  shiftOut(a, L, R);
  for (int b = 0; b < L; b += N)
    for (int k = 0; k < N; ++k) {
      const int32_t p = op::sat16((int32_t{t[k]} * w[L - 1 - b - k] + 4096) >> 13);
      a[b + k] = op::sat16(int32_t{a[b + k]} + p);
    }
  std::memcpy(dst, a, 2 * static_cast<std::size_t>(R));
  return vokOk;
}
