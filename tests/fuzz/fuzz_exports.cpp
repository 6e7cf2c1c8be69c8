// Every voksc export with arbitrary arguments: pointers (one of them
// sometimes null), lengths (valid, zero, negative, beyond the maximum),
// scalar parameters and buffer contents, and state objects that are
// initialised, damaged after Init or never initialised.  Buffers have
// exactly the size the interface asks the caller for, so any access beyond
// them is the library's fault.  The first two bytes pick the export.
//
// Each family adds a row per export to kRows; a row builds one call from
// the input and returns its status.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "fuzz_input.h"
#include "voksc.h"

namespace {

using vfuzz::Input;

// The G.728 hybrid-window state of the 50th-order analysis (fixed shape, so
// that the generic state helper can size and format it).
VokResult g728WinSize(int* n) { return voksWinHybridGetStateSize_G728_16s(50, 35, 20, 5, n); }
VokResult g728WinInit(void* s) {
  static const Vok16s window[105] = {16384, 32767, 30000, 20000, 12000};
  return voksWinHybridInit_G728_16s(window, 50, 35, 20, 5, 12288, s);
}

class Call {
 public:
  explicit Call(Input& in) : in_(in), nullAt_(in.pick(16) == 0 ? in.pick(8) : -1) {}

  // Buffers of n elements (at least 1) with `before` readable elements in
  // front of the returned pointer; contents from the input.
  Vok16s* s16(int n, int before = 0) { return buffer<Vok16s>(n, before, [this] { return in_.sample(); }); }
  Vok32s* s32(int n, int before = 0) { return buffer<Vok32s>(n, before, [this] { return in_.word32(); }); }
  Vok32f* f32(int n, int before = 0) { return buffer<Vok32f>(n, before, [this] { return in_.real(); }); }
  Vok8u* u8(int n) { return buffer<Vok8u>(n, 0, [this] { return in_.u8(); }); }
  Vok32sc* c32(int n) { return reinterpret_cast<Vok32sc*>(s32(2 * (n > 0 ? n : 1))); }
  Vok32fc* cf32(int n) { return reinterpret_cast<Vok32fc*>(f32(2 * (n > 0 ? n : 1))); }
  Vok64f* f64(int n) { return buffer<Vok64f>(n, 0, [this] { return static_cast<Vok64f>(in_.real()); }); }
  Vok64s* s64(int n) { return buffer<Vok64s>(n, 0, [this] { return static_cast<Vok64s>(static_cast<uint64_t>(static_cast<Vok64s>(in_.word32())) << in_.pick(32)); }); }
  // count pointers (count clamped to 1..600: room for 255 segments plus an
  // order of 255 frames of history) to frames of n elements made by make.
  template <class T, class M>
  T** frames(int count, int n, M make) {
    const int k = count < 1 ? 1 : count > 600 ? 600 : count;
    auto v = std::make_shared<std::vector<T*>>(static_cast<std::size_t>(k));
    keep_.push_back(v);
    for (auto& e : *v) e = make(n);
    return pointer(v->data());
  }
  Vok32sc** framesS(int count, int n) { return frames<Vok32sc>(count, n, [this](int m) { return c32(m); }); }
  Vok32fc** framesF(int count, int n) { return frames<Vok32fc>(count, n, [this](int m) { return cf32(m); }); }
  Vok64f** framesD(int count, int n) { return frames<Vok64f>(count, n, [this](int m) { return f64(m); }); }
  // Raw memory of n bytes (not a pointer argument: never made null).
  unsigned char* raw(int n) {
    auto v = std::make_shared<std::vector<unsigned char>>(static_cast<std::size_t>(n > 0 ? n : 1) + 16);
    keep_.push_back(v);
    return v->data() + in_.pick(16);
  }
  Input& input() { return in_; }
  // A length argument: mostly 1..usualMax, sometimes invalid.
  int len(int usualMax) { return in_.count(usualMax); }
  // A scalar: mostly within lo..hi, sometimes anything.
  int val(int lo, int hi) {
    return in_.pick(8) ? lo + static_cast<int>(in_.u16() % static_cast<unsigned>(hi - lo + 1)) : in_.s32();
  }
  // The same for an argument the interface leaves unbounded above (an
  // order, a lag) where the caller supplies that many elements: kept at or
  // below cap so that the buffers can be that long.
  int upTo(int lo, int hi, int cap) {
    const int v = val(lo, hi);
    return v > cap ? cap : v;
  }
  Vok16s v16() { return in_.sample(); }
  Vok32f real() { return in_.real(); }
  // A state object of the size the query reports: initialised, initialised
  // and then damaged, or left as arbitrary bytes.  Placed at any offset
  // from a 16-byte boundary.
  void* state(VokResult (*size)(int*), VokResult (*init)(void*)) {
    int n = 0;
    if (size(&n) != vokOk || n < 1 || n > 1 << 16) std::abort();
    const int off = in_.pick(16);
    auto v = std::make_shared<std::vector<unsigned char>>(static_cast<std::size_t>(n + off));
    keep_.push_back(v);
    unsigned char* p = v->data() + off;
    const int how = in_.pick(4);
    if (how == 0) {
      for (int i = 0; i < n; ++i) p[i] = in_.u8();
    } else if (init && init(p) == vokOk && how == 1) {
      for (int k = 0, hits = 1 + in_.pick(4); k < hits; ++k) p[in_.u16() % n] = in_.u8();
    }
    return pointer(p);
  }
  template <class T>
  T* out(T* p) {
    return pointer(p);
  }

 private:
  template <class T, class G>
  T* buffer(int n, int before, G gen) {
    const std::size_t count = static_cast<std::size_t>(n > 0 ? n : 1) + static_cast<std::size_t>(before);
    auto v = std::make_shared<std::vector<T>>(count);
    keep_.push_back(v);
    switch (in_.pick(4)) {
      case 0: {  // one value throughout
        const T x = gen();
        for (auto& e : *v) e = x;
        break;
      }
      case 1: {  // noise from a seed
        uint32_t s = in_.u32() | 1;
        const int shift = in_.pick(16);
        for (auto& e : *v) {
          s = s * 1664525u + 1013904223u;
          e = static_cast<T>(static_cast<int32_t>(s) >> (16 + shift));
        }
        break;
      }
      default:
        for (auto& e : *v) e = gen();
    }
    return pointer(v->data() + before);
  }
  template <class T>
  T* pointer(T* p) {
    return argIndex_++ == nullAt_ ? nullptr : p;
  }

  Input& in_;
  int nullAt_;
  int argIndex_ = 0;
  std::vector<std::shared_ptr<void>> keep_;
};

VokResult hpInit(void* s) {
  static const Vok16s kCoeffs[6] = {1899, -3798, 1899, 4096, 7807, -3733};
  return voksHighPassFilterInit_G729(kCoeffs, s);
}

// A G.722.1 block length: mostly 320 or 640, sometimes any value.
int mltLen(Call& c) {
  const int v = c.val(0, 2);
  return v == 0 ? 320 : v == 1 ? 640 : v;
}

struct Row {
  const char* name;
  VokResult (*call)(Call&);
};

// A G.169 level controller (initialised, damaged or arbitrary; any offset).
ALCState_G169* alcState(Call& c) {
  return static_cast<ALCState_G169*>(c.state(voksALCGetStateSize_G169_16s, [](void* p) {
    return voksALCInit_G169_16s(static_cast<ALCState_G169*>(p));
  }));
}

// Answer-tone detectors at 8 or 16 kHz (initialised, damaged or arbitrary).
ToneDetectState_EC_32f* toneState32f(Call& c) {
  return static_cast<ToneDetectState_EC_32f*>(c.state([](int* n) { return voksToneDetectGetStateSize_EC_32f(8000, n); },
      [](void* p) { return voksToneDetectInit_EC_32f(static_cast<ToneDetectState_EC_32f*>(p), 16000); }));
}
ToneDetectState_EC_16s* toneState16s(Call& c) {
  return static_cast<ToneDetectState_EC_16s*>(c.state([](int* n) { return voksToneDetectGetStateSize_EC_16s(8000, n); },
      [](void* p) { return voksToneDetectInit_EC_16s(static_cast<ToneDetectState_EC_16s*>(p), 8000); }));
}

// Noise filters: a state formatted at 22050 Hz (the history length that is
// no multiple of the 16-sample block) or 8000 Hz, damaged or arbitrary.
FilterNoiseState_EC_32f* noiseStateEc(Call& c) {
  return static_cast<FilterNoiseState_EC_32f*>(c.state([](int* n) { return voksFilterNoiseGetStateSize_EC_32f(8000, n); },
      [](void* p) { return voksFilterNoiseInit_EC_32f(22050, static_cast<FilterNoiseState_EC_32f*>(p)); }));
}
FilterNoiseState_RTA_32f* noiseStateRta(Call& c) {
  return static_cast<FilterNoiseState_RTA_32f*>(c.state([](int* n) { return voksFilterNoiseGetStateSize_RTA_32f(8000, n); },
      [](void* p) { return voksFilterNoiseInit_RTA_32f(8000, static_cast<FilterNoiseState_RTA_32f*>(p)); }));
}
int noiseRate(Call& c) {
  static const int kRates[] = {8000, 16000, 22050, 32000};
  return c.input().pick(5) ? kRates[c.input().pick(4)] : c.val(7999, 32001);
}
// Several 16-sample blocks on one state (a fresh state needs eight before
// its first spectral frame); level and mode drawn first.
template <class Run>
VokResult noiseBlocks(Call& c, Run run) {
  FilterNoiseState_EC_32f* s = noiseStateEc(c);
  if (s == nullptr) return run(s);
  voksFilterNoiseLevel_EC_32f(c.val(-1, 6), s);
  voksFilterNoiseSetMode_EC_32f(c.val(-1, 1), s);
  VokResult r = vokOk;
  for (int k = 0, n = 1 + c.input().pick(24); k < n && r == vokOk; ++k) r = run(s);
  return r;
}

// An RTA QMF object of 24 or 48 taps (initialised, damaged or arbitrary).
QMFState_RTA_32f* qmfState(Call& c) {
  return static_cast<QMFState_RTA_32f*>(c.state(voksQMFGetStateSize_RTA_32f, [](void* p) {
    return voksQMFInit_RTA_32f(static_cast<QMFState_RTA_32f*>(p), 48);
  }));
}

// A full-band controller formatted for a drawn frame and tap count (its
// Update and decision read the arrays those counts describe, so the row
// supplies them at those sizes); sometimes left unformatted.
template <class State, class Init>
State* fullbandState(Call& c, std::vector<unsigned char>& mem, int frame, int taps, Init init) {
  mem.assign(112, 0);
  unsigned char* p = mem.data() + c.input().pick(16);
  if (c.val(0, 3)) init(reinterpret_cast<State*>(p), frame, taps, c.val(0, 1) ? 8000 : 16000);
  return c.out(reinterpret_cast<State*>(p));
}

// An AMR-WB VAD record: initialised, damaged or arbitrary.
VADState_AMRWB_16s* amrwbVad(Call& c) {
  return static_cast<VADState_AMRWB_16s*>(c.state(voksVADGetSize_AMRWB_16s, [](void* p) {
    return voksVADInit_AMRWB_16s(static_cast<VADState_AMRWB_16s*>(p));
  }));
}

// An AMR-WB lag-concealment record (initialised, damaged or arbitrary;
// `init` false: left uninitialised for the Init row).
AdaptiveCodebookDecodeState_AMRWB_16s* amrwbLagState(Call& c, bool init) {
  return static_cast<AdaptiveCodebookDecodeState_AMRWB_16s*>(
      c.state(voksAdaptiveCodebookDecodeGetSize_AMRWB_16s, init ? [](void* p) {
        return voksAdaptiveCodebookDecodeInit_AMRWB_16s(static_cast<AdaptiveCodebookDecodeState_AMRWB_16s*>(p));
      } : static_cast<VokResult (*)(void*)>(nullptr)));
}

// ---- subband echo canceller: set up a bank or controller from arguments
// drawn here, then run one operation on it (op 0: Init itself).
template <class S, class T, class C, class GetSize, class Init, class Run>
VokResult bankRow(Call& c, GetSize getSize, Init init, Run run, int) {
  const int order = c.val(1, 7), frame = c.val(1, 130), len = c.val(1, 512);
  int st = 0, su = 0, wk = 0;
  if (VokResult r = getSize(order, len, &st, &su, &wk); r != vokOk) return r;
  if (st > 1 << 20 || wk > 1 << 20) return vokOk;
  auto* state = reinterpret_cast<S*>(c.raw(st));
  T* window = nullptr;
  std::vector<T> w;
  if (c.input().pick(3) == 0) {
    w.resize(static_cast<std::size_t>(len));
    for (auto& v : w) v = static_cast<T>(c.input().sample());
    window = w.data();
  }
  if constexpr (std::is_same_v<Run, std::nullptr_t>) {
    return init(c.out(state), order, frame, len, window, c.u8(su));
  } else {
  if (VokResult r = init(state, order, frame, len, window, c.raw(su)); r != vokOk) return r;
  const int n = 1 << order;
  return run(c, state, n, frame, c.u8(wk));
  }
}

// Room for the step pairs of n subbands (at least one pair).
int pairs(int n) { return n > 0 && n <= 5000 ? 2 * n : 2; }

int sampleRate(Call& c) { return c.input().pick(4) == 0 ? c.val(7999, 16001) : (c.input().pick(2) ? 8000 : 16000); }

// A controller of the drawn configuration, initialised (op != 0) and run.
template <class S, class GetSize, class Init, class Run>
VokResult controllerRow(Call& c, GetSize getSize, Init init, Run run, bool) {
  const int nb = c.val(1, 40), frame = c.val(1, 64), segs = c.val(1, 8), fs = sampleRate(c);
  int size = 0;
  if (VokResult r = getSize(nb, frame, segs, fs, &size); r != vokOk) return r;
  if (nb > 5000 || segs > 300) return vokOk;  // the caller supplies numSubbands values and numSegments frames
  auto* state = reinterpret_cast<S*>(c.raw(size));
  if constexpr (std::is_same_v<Run, std::nullptr_t>) {
    return init(c.out(state), nb, frame, segs, fs);
  } else {
    if (VokResult r = init(state, nb, frame, segs, fs); r != vokOk) return r;
    return run(c, state, nb, segs);
  }
}

#define ROW(fn, ...) {#fn, [](Call& c) -> VokResult { return fn(__VA_ARGS__); }}

// One G.729 subframe and frame.
constexpr int S = 40, F = 80;

const Row kRows[] = {
    // ---- codec-neutral correlation and scaling
    {"voksAutoCorr_16s32s", [](Call& c) { int n = c.len(400), l = c.len(40); return voksAutoCorr_16s32s(c.s16(n), n, c.s32(l), l); }},
    {"voksAutoCorr_NormE_16s32s", [](Call& c) { int n = c.len(400), l = c.len(40); int norm; return voksAutoCorr_NormE_16s32s(c.s16(n), n, c.s32(l), l, c.out(&norm)); }},
    {"voksAutoCorrLagMax_Fwd_16s", [](Call& c) { int n = c.len(200), lo = c.val(0, 150), hi = c.val(0, 150); Vok32s m; int lag;
       int room = hi > 0 && hi < 1000 ? hi : 0; return voksAutoCorrLagMax_Fwd_16s(c.s16(n + room), n, lo < 0 || lo > 1000 ? 0 : lo, room, c.out(&m), c.out(&lag)); }},
    {"voksAutoCorrLagMax_Inv_16s", [](Call& c) { int n = c.len(200), hi = c.val(0, 150), lo = c.val(0, 150); Vok32s m; int lag;
       int room = hi > 0 && hi < 1000 ? hi : 0; return voksAutoCorrLagMax_Inv_16s(c.s16(n, room), n, lo < 0 || lo > 1000 ? 0 : lo, room, c.out(&m), c.out(&lag)); }},
    {"voksAutoCorrLagMax_32f", [](Call& c) { int n = c.len(200), hi = c.val(0, 150), lo = c.val(0, 150); Vok32f m; int lag;
       int room = hi > 0 && hi < 1000 ? hi : 0; return voksAutoCorrLagMax_32f(c.f32(n, room), n, lo < 0 || lo > 1000 ? 0 : lo, room, c.out(&m), c.out(&lag)); }},
    {"voksCrossCorrLagMax_16s", [](Call& c) { int n = c.len(200), hi = c.upTo(0, 150, 1000); Vok32s m; int lag; int room = hi > 0 ? hi : 0;
       return voksCrossCorrLagMax_16s(c.s16(n), c.s16(n + room), n, hi, c.out(&m), c.out(&lag)); }},
    {"voksCrossCorrLagMax_32f64f", [](Call& c) { int n = c.len(200), hi = c.upTo(0, 150, 1000); Vok64f m; int lag; int room = hi > 0 ? hi : 0;
       return voksCrossCorrLagMax_32f64f(c.f32(n), c.f32(n + room), n, hi, c.out(&m), c.out(&lag)); }},
    {"voksCrossCorr_16s32s_Sfs", [](Call& c) { int n = c.len(200); return voksCrossCorr_16s32s_Sfs(c.s16(n), c.s16(n), n, c.s32(n), c.val(-4, 20)); }},
    {"voksCrossCorr_NormM_16s", [](Call& c) { int n = c.len(200); return voksCrossCorr_NormM_16s(c.s16(n), c.s16(n), n, c.s16(n)); }},
    {"voksConvPartial_16s32s", [](Call& c) { int n = c.len(200); return voksConvPartial_16s32s(c.s16(n), c.s16(n), c.s32(n), n); }},
    {"voksConvPartial_16s_Sfs", [](Call& c) { int n = c.len(200); return voksConvPartial_16s_Sfs(c.s16(n), c.s16(n), c.s16(n), n, c.val(-2, 20)); }},
    {"voksDotProdAutoScale_16s32s_Sfs", [](Call& c) { int n = c.len(400); Vok32s r; int sc; return voksDotProdAutoScale_16s32s_Sfs(c.s16(n), c.s16(n), n, c.out(&r), c.out(&sc)); }},
    {"voksAutoScale_16s", [](Call& c) { int n = c.len(400); int sc = c.val(-2, 20); return voksAutoScale_16s(c.s16(n), c.s16(n), n, c.out(&sc)); }},
    {"voksAutoScale_16s_I", [](Call& c) { int n = c.len(400); int sc = c.val(-2, 20); return voksAutoScale_16s_I(c.s16(n), n, c.out(&sc)); }},
    {"voksInvSqrt_32s_I", [](Call& c) { int n = c.len(100); return voksInvSqrt_32s_I(c.s32(n), n); }},
    {"voksResidualFilter_Low_16s_Sfs", [](Call& c) { int o = c.len(40), n = c.len(200); int h = o > 0 && o < 1000 ? o : 0;
       return voksResidualFilter_Low_16s_Sfs(c.s16(h + 1), o, c.s16(n, h), c.s16(n), n, c.val(-2, 20)); }},
    {"voksHarmonicFilter_16s_I", [](Call& c) { int n = c.len(200), lag = c.upTo(0, 200, 1000); int h = lag > 0 ? lag : 0;
       return voksHarmonicFilter_16s_I(c.v16(), lag, c.s16(n, h), n); }},
    {"voksHarmonicFilter_32f_I", [](Call& c) { int n = c.len(200), lag = c.upTo(0, 200, 1000); int h = lag > 0 ? lag : 0;
       return voksHarmonicFilter_32f_I(c.real(), lag, c.f32(n, h), n); }},
    {"voksPreemphasize_32f_I", [](Call& c) { int n = c.len(200); return voksPreemphasize_32f_I(c.real(), c.f32(n), n, c.f32(1)); }},

    // ---- G.729 LP analysis and LSP quantisation
    {"voksLagWindow_G729_32s_I", [](Call& c) { int n = c.len(12); return voksLagWindow_G729_32s_I(c.s32(n, 1), n); }},
    {"voksLevinsonDurbin_G729_32s16s", [](Call& c) { int o = c.val(1, 30); int k = o > 0 && o < 100 ? o : 1;
       Vok16s e; return voksLevinsonDurbin_G729_32s16s(c.s32(k + 1), o, c.s16(k + 1), c.s16(k), c.out(&e)); }},
    ROW(voksLevinsonDurbin_G729B, c.s32(11), c.s16(11), c.s16(2), c.s16(1)),
    ROW(voksLPCToLSP_G729_16s, c.s16(11), c.s16(10), c.s16(10)),
    ROW(voksLPCToLSP_G729A_16s, c.s16(11), c.s16(10), c.s16(10)),
    ROW(voksLSPToLPC_G729_16s, c.s16(10), c.s16(11)),
    ROW(voksLSPToLSF_G729_16s, c.s16(10), c.s16(10)),
    ROW(voksLSPToLSF_Norm_G729_16s, c.s16(10), c.s16(10)),
    ROW(voksLSFToLSP_G729_16s, c.s16(10), c.s16(10)),
    ROW(voksLSFQuant_G729_16s, c.s16(10), c.s16(40), c.s16(10), c.s16(4)),
    ROW(voksLSPQuant_G729_16s, c.s16(10), c.s16(40), c.s16(10), c.s16(2)),
    ROW(voksLSPQuant_G729E_16s, c.s16(10), c.s16(40), c.s16(10), c.s16(10), c.s16(2)),
    {"voksLSFDecode_G729_16s", [](Call& c) { Vok16s idx[4] = {Vok16s(c.val(0, 1)), Vok16s(c.val(0, 127)), Vok16s(c.val(0, 31)), Vok16s(c.val(0, 31))};
       return voksLSFDecode_G729_16s(c.out(idx), c.s16(40), c.s16(10)); }},
    ROW(voksLSFDecodeErased_G729_16s, c.val(0, 1), c.s16(40), c.s16(10)),
    {"voksInterpolate_G729_16s", [](Call& c) { int n = c.len(40); return voksInterpolate_G729_16s(c.s16(n), c.s16(n), c.s16(n), n); }},
    {"voksInterpolateC_G729_16s_Sfs", [](Call& c) { int n = c.len(40); return voksInterpolateC_G729_16s_Sfs(c.s16(n), c.v16(), c.s16(n), c.v16(), c.s16(n), n, c.val(-2, 20)); }},
    {"voksInterpolateC_NR_G729_16s_Sfs", [](Call& c) { int n = c.len(40); return voksInterpolateC_NR_G729_16s_Sfs(c.s16(n), c.v16(), c.s16(n), c.v16(), c.s16(n), n, c.val(-2, 20)); }},
    ROW(voksLPCToLSP_G729_32f, c.f32(11), c.f32(10), c.f32(10)),
    ROW(voksLPCToLSP_G729A_32f, c.f32(11), c.f32(10), c.f32(10)),
    ROW(voksLSPToLPC_G729_32f, c.f32(10), c.f32(11)),
    {"voksLevinsonDurbin_G729_32f", [](Call& c) { int o = c.upTo(1, 30, 200); int k = o > 0 ? o : 1;
       Vok32f e; return voksLevinsonDurbin_G729_32f(c.f32(k + 1), o, c.f32(k + 1), c.f32(k), c.out(&e)); }},
    {"voksInterpolateC_G729_32f", [](Call& c) { int n = c.len(40); return voksInterpolateC_G729_32f(c.f32(n), c.real(), c.f32(n), c.real(), c.f32(n), n); }},
    {"voksLSFDecode_G729_32f", [](Call& c) { Vok16s idx[4] = {Vok16s(c.val(0, 1)), Vok16s(c.val(0, 127)), Vok16s(c.val(0, 31)), Vok16s(c.val(0, 31))};
       return voksLSFDecode_G729_32f(c.out(idx), c.f32(40), c.f32(10)); }},
    ROW(voksLSFDecodeErased_G729_32f, c.val(0, 1), c.f32(40), c.f32(10)),
    {"voksWinHybridGetStateSize_G729E_16s", [](Call& c) { int n; return voksWinHybridGetStateSize_G729E_16s(c.out(&n)); }},
    {"voksWinHybridGetStateSize_G729E_32f", [](Call& c) { int n; return voksWinHybridGetStateSize_G729E_32f(c.out(&n)); }},
    ROW(voksWinHybridInit_G729E_16s, c.state(voksWinHybridGetStateSize_G729E_16s, nullptr)),
    ROW(voksWinHybridInit_G729E_32f, c.state(voksWinHybridGetStateSize_G729E_32f, nullptr)),
    ROW(voksWinHybrid_G729E_16s32s, c.s16(145), c.s32(31), c.state(voksWinHybridGetStateSize_G729E_16s, voksWinHybridInit_G729E_16s)),
    ROW(voksWinHybrid_G729E_32f, c.f32(145), c.f32(31), c.state(voksWinHybridGetStateSize_G729E_32f, voksWinHybridInit_G729E_32f)),
    ROW(voksLSPQuant_G729E_32f, c.f32(10), c.f32(40), c.f32(10), c.f32(10), c.s16(2)),

    // ---- G.729 pitch analysis and adaptive codebook
    ROW(voksOpenLoopPitchSearch_G729_16s, c.s16(F, 143), c.s16(1)),
    ROW(voksOpenLoopPitchSearch_G729A_16s, c.s16(F, 143), c.s16(1)),
    ROW(voksAdaptiveCodebookSearch_G729_16s, Vok16s(c.val(18, 145)), c.s16(S), c.s16(S), c.s16(154 + S), c.s16(2), c.s16(S), c.val(0, 1)),
    ROW(voksAdaptiveCodebookSearch_G729A_16s, Vok16s(c.val(18, 145)), c.s16(S), c.s16(S), c.s16(154 + S), c.s16(2), c.s16(S), c.val(0, 1)),
    ROW(voksAdaptiveCodebookSearch_G729D_16s, Vok16s(c.val(18, 145)), c.s16(S), c.s16(S), c.s16(154 + S), c.val(0, 1), c.s16(2)),
    {"voksDecodeAdaptiveVector_G729_16s_I", [](Call& c) { Vok16s d[2] = {Vok16s(c.val(18, 144)), Vok16s(c.val(-1, 1))}; return voksDecodeAdaptiveVector_G729_16s_I(c.out(d), c.s16(154 + S)); }},
    {"voksDecodeAdaptiveVector_G729_16s", [](Call& c) { Vok16s d[2] = {Vok16s(c.val(18, 144)), Vok16s(c.val(-1, 1))}; return voksDecodeAdaptiveVector_G729_16s(c.out(d), c.s16(154 + S), c.s16(S)); }},
    ROW(voksAdaptiveCodebookContribution_G729_16s, c.v16(), c.s16(S), c.s16(S), c.s16(S)),
    ROW(voksAdaptiveCodebookGain_G729_16s, c.s16(S), c.s16(S), c.s16(S), c.s16(S), c.s16(1)),
    ROW(voksAdaptiveCodebookGain_G729A_16s, c.s16(S), c.s16(11), c.s16(S), c.s16(S), c.s16(1)),
    {"voksOpenLoopPitchSearch_G729A_32f", [](Call& c) { Vok32s d; return voksOpenLoopPitchSearch_G729A_32f(c.f32(F, 143), c.out(&d)); }},
    ROW(voksAdaptiveCodebookContribution_G729_32f, c.real(), c.f32(S), c.f32(S), c.f32(S)),
    {"voksDecodeAdaptiveVector_G729_32f_I", [](Call& c) { Vok32s d[2] = {c.val(18, 145), c.val(-1, 1)}; return voksDecodeAdaptiveVector_G729_32f_I(c.out(d), c.f32(S, 154)); }},

    // ---- G.729 fixed codebook and gains
    ROW(voksToeplizMatrix_G729_16s32s, c.s16(S), c.s32(616)),
    ROW(voksToeplizMatrix_G729_16s, c.s16(S), c.s16(616)),
    ROW(voksFixedCodebookSearch_G729A_16s, c.s16(S), c.s16(616), c.s16(S), c.s16(2)),
    ROW(voksFixedCodebookSearch_G729A_32s16s, c.s16(S), c.s32(616), c.s16(S), c.s16(2)),
    ROW(voksFixedCodebookSearch_G729_16s, c.s16(S), c.s16(616), c.s16(S), c.s16(2), c.s16(1), c.val(0, 1)),
    ROW(voksFixedCodebookSearch_G729_32s16s, c.s16(S), c.s32(616), c.s16(S), c.s16(2), c.s16(1), c.val(0, 1)),
    {"voksDotProd_G729A_16s32s", [](Call& c) { int n = c.len(80); Vok32s r; return voksDotProd_G729A_16s32s(c.s16(n), c.s16(n), n, c.out(&r)); }},
    ROW(voksGainQuant_G729_16s, c.s16(S), c.s16(S), c.s16(S), c.s16(S), c.s16(4), c.s16(2), c.s16(2), c.val(0, 1)),
    {"voksDecodeGain_G729_16s", [](Call& c) { Vok16s idx[2] = {Vok16s(c.val(0, 7)), Vok16s(c.val(0, 15))};
       return voksDecodeGain_G729_16s(c.val(0, 1 << 30), c.s16(4), c.out(idx), c.s16(2)); }},
    {"voksDecodeGain_G729I_16s", [](Call& c) { Vok16s idx[2] = {Vok16s(c.val(0, 7)), Vok16s(c.val(0, 7))};
       return voksDecodeGain_G729I_16s(c.val(0, 1 << 30), c.v16(), c.s16(4), c.out(idx), c.s16(2)); }},
    ROW(voksFixedCodebookSearch_G729D_16s, c.s16(S), c.s16(S), c.s16(S), c.s16(S), c.s16(1), c.s16(1)),
    ROW(voksFixedCodebookSearch_G729E_16s, c.val(0, 1), c.s16(S), c.s16(S), c.s16(S), c.s16(S), c.s16(S), c.s16(5)),
    ROW(voksGainQuant_G729D_16s, c.s16(S), c.s16(S), c.s16(S), c.s16(S), c.s16(4), c.s16(2), c.s16(2), c.val(0, 1)),
    ROW(voksToeplizMatrix_G729_32f, c.f32(S), c.f32(616)),
    ROW(voksToeplizMatrix_G729D_32f, c.f32(S), c.f32(616)),
    ROW(voksFixedCodebookSearch_G729_32f, c.f32(S), c.f32(616), c.f32(S), c.s32(2), c.s32(1), c.val(0, 1)),
    ROW(voksFixedCodebookSearch_G729A_32f, c.f32(S), c.f32(616), c.f32(S), c.s32(2)),
    ROW(voksFixedCodebookSearch_G729D_32f, c.f32(S), c.f32(S), c.f32(S), c.f32(S), c.s32(1), c.s32(1)),
    ROW(voksFixedCodebookSearch_G729E_32f, c.val(0, 1), c.f32(S), c.f32(S), c.f32(S), c.f32(S), c.f32(S), c.s32(5)),
    {"voksDotProd_G729A_32f", [](Call& c) { int n = c.len(80); Vok32f r; return voksDotProd_G729A_32f(c.f32(n), c.f32(n), n, c.out(&r)); }},
    {"voksGainCodebookSearch_G729_32f", [](Call& c) { Vok32s cand[2] = {c.val(0, 4), c.val(0, 8)};
       return voksGainCodebookSearch_G729_32f(c.f32(5), c.real(), c.out(cand), c.s32(2), c.val(0, 1)); }},
    {"voksGainCodebookSearch_G729D_32f", [](Call& c) { Vok32s cand[2] = {c.val(0, 2), c.val(0, 2)};
       return voksGainCodebookSearch_G729D_32f(c.f32(5), c.real(), c.out(cand), c.s32(2), c.val(0, 1)); }},

    // ---- G.729 filters, phase dispersion and post-filter
    {"voksHighPassFilterSize_G729", [](Call& c) { int n; return voksHighPassFilterSize_G729(c.out(&n)); }},
    ROW(voksHighPassFilterInit_G729, c.s16(6), c.state(voksHighPassFilterSize_G729, nullptr)),
    {"voksHighPassFilter_G729_16s_ISfs", [](Call& c) { int n = c.len(240); return voksHighPassFilter_G729_16s_ISfs(c.s16(n), n, c.val(12, 13), c.state(voksHighPassFilterSize_G729, hpInit)); }},
    {"voksSynthesisFilter_G729E_16s", [](Call& c) { int o = c.len(40), n = c.len(200); int k = o > 0 && o < 1000 ? o : 1;
       return voksSynthesisFilter_G729E_16s(c.s16(k + 1), o, c.s16(n), c.s16(n), n, c.s16(k)); }},
    {"voksSynthesisFilter_G729E_16s_I", [](Call& c) { int o = c.len(40), n = c.len(200); int k = o > 0 && o < 1000 ? o : 1;
       return voksSynthesisFilter_G729E_16s_I(c.s16(k + 1), o, c.s16(n), n, c.s16(k)); }},
    ROW(voksResidualFilter_G729_16s, c.s16(S, 10), c.s16(11), c.s16(S)),
    ROW(voksLongTermPostFilter_G729_16s, c.v16(), c.val(18, 143), c.s16(152 + S), c.s16(S), c.s16(1)),
    ROW(voksShortTermPostFilter_G729_16s, c.s16(11), c.s16(S), c.s16(S, 10), c.s16(20)),
    ROW(voksTiltCompensation_G729_16s, c.s16(20), c.s16(S, 1)),
    ROW(voksTiltCompensation_G729E_16s, c.v16(), c.s16(S, 1), c.s16(S)),
    ROW(voksGainControl_G729_16s_I, c.s16(S), c.s16(S), c.s16(1)),
    ROW(voksLongTermPostFilter_G729A_16s, c.val(18, 145), c.s16(S, 10), c.s16(11), c.s16(154 + S), c.s16(S)),
    ROW(voksTiltCompensation_G729A_16s, c.s16(22), c.s16(S, 1)),
    ROW(voksGainControl_G729A_16s_I, c.s16(S), c.s16(S), c.s16(1)),
    {"voksPreemphasize_G729A_16s", [](Call& c) { int n = c.len(80); return voksPreemphasize_G729A_16s(c.v16(), c.s16(n), c.s16(n), n, c.s16(1)); }},
    {"voksPreemphasize_G729A_16s_I", [](Call& c) { int n = c.len(80); return voksPreemphasize_G729A_16s_I(c.v16(), c.s16(n), n, c.s16(1)); }},
    {"voksResidualFilter_G729E_16s", [](Call& c) { int o = c.len(40), n = c.len(200); int k = o > 0 && o < 1000 ? o : 1;
       return voksResidualFilter_G729E_16s(c.s16(k + 1), Vok16s(o), c.s16(n, k), c.s16(n), n); }},
    ROW(voksIIR16s_G729_16s, c.s16(22), c.s16(S), c.s16(S), c.s16(20)),
    ROW(voksIIR16sLow_G729_16s, c.s16(22), c.s16(S), c.s16(S), c.s16(20)),
    {"voksFilteredExcitation_G729_32f", [](Call& c) { int n = c.len(S); return voksFilteredExcitation_G729_32f(c.f32(n), c.f32(n), n, c.real()); }},
    {"voksPhaseDispersionGetStateSize_G729D_16s", [](Call& c) { int n; return voksPhaseDispersionGetStateSize_G729D_16s(c.out(&n)); }},
    ROW(voksPhaseDispersionInit_G729D_16s, c.state(voksPhaseDispersionGetStateSize_G729D_16s, nullptr)),
    ROW(voksPhaseDispersionUpdate_G729D_16s, c.v16(), c.v16(), c.state(voksPhaseDispersionGetStateSize_G729D_16s, voksPhaseDispersionInit_G729D_16s)),
    ROW(voksPhaseDispersion_G729D_16s, c.s16(S), c.s16(S), c.v16(), c.v16(), c.s16(S), c.state(voksPhaseDispersionGetStateSize_G729D_16s, voksPhaseDispersionInit_G729D_16s)),
    ROW(voksLongTermPostFilter_G729B_16s, c.val(0, 143), c.s16(S, 10), c.s16(11), c.s16(152 + S), c.s16(S), c.s16(1), c.val(0, 2)),
    {"voksSynthesisFilter_G729_32f", [](Call& c) { int o = c.val(1, 30), n = c.len(640); int k = o > 0 && o < 1000 ? o : 1;
       return voksSynthesisFilter_G729_32f(c.f32(k + 1), o, c.f32(n), c.f32(n), n, c.f32(k)); }},
    ROW(voksGainControl_G729_32f_I, c.real(), c.real(), c.f32(S), c.f32(1)),

    // ---- G.729 Annex B
    ROW(voksAutoCorr_G729B, c.s16(240), c.s16(1), c.s32(13)),
    {"voksRandomNoiseExcitation_G729B_16s", [](Call& c) { int n = c.len(80); return voksRandomNoiseExcitation_G729B_16s(c.s16(1), c.s16(n), n); }},
    {"voksRandomNoiseExcitation_G729B_16s32f", [](Call& c) { int n = c.len(80); return voksRandomNoiseExcitation_G729B_16s32f(c.s16(1), c.f32(n), n); }},
    {"voksLSFDecode_G729B_16s", [](Call& c) { Vok16s idx[3] = {Vok16s(c.val(0, 1)), Vok16s(c.val(0, 31)), Vok16s(c.val(0, 15))};
       return voksLSFDecode_G729B_16s(c.out(idx), c.s16(40), c.s16(10)); }},
    ROW(voksLSFQuant_G729B_16s, c.s16(10), c.s16(40), c.s16(10), c.s16(3)),
    {"voksLSFDecode_G729B_32f", [](Call& c) { Vok16s idx[3] = {Vok16s(c.val(0, 1)), Vok16s(c.val(0, 31)), Vok16s(c.val(0, 15))};
       return voksLSFDecode_G729B_32f(c.out(idx), c.f32(40), c.f32(10)); }},
    ROW(voksLSFQuant_G729B_32f, c.f32(10), c.f32(40), c.f32(10), c.s16(3)),

    // ---- G.726
    {"voksEncodeGetStateSize_G726_16s8u", [](Call& c) { int n; return voksEncodeGetStateSize_G726_16s8u(c.out(&n)); }},
    {"voksEncodeInit_G726_16s8u", [](Call& c) { return voksEncodeInit_G726_16s8u(c.state(voksEncodeGetStateSize_G726_16s8u, nullptr), c.val(16, 25)); }},
    {"voksEncode_G726_16s8u", [](Call& c) { int n = c.len(400); return voksEncode_G726_16s8u(c.state(voksEncodeGetStateSize_G726_16s8u, [](void* s) { return voksEncodeInit_G726_16s8u(s, vokRateG726_32); }), c.s16(n), c.u8(n), n); }},
    {"voksDecodeGetStateSize_G726_8u16s", [](Call& c) { int n; return voksDecodeGetStateSize_G726_8u16s(c.out(&n)); }},
    {"voksDecodeInit_G726_8u16s", [](Call& c) { return voksDecodeInit_G726_8u16s(c.state(voksDecodeGetStateSize_G726_8u16s, nullptr), c.val(16, 25), c.val(-1, 3)); }},
    {"voksDecode_G726_8u16s", [](Call& c) { int n = c.len(400); return voksDecode_G726_8u16s(c.state(voksDecodeGetStateSize_G726_8u16s, [](void* s) { return voksDecodeInit_G726_8u16s(s, vokRate24000, 1); }), c.u8(n), c.s16(n), n); }},

    // ---- G.728 (window states of the synthesis analysis: M 50, N 35, L 20 in blocks of 5)
    {"voksWinHybridGetStateSize_G728_16s", [](Call& c) { int n; return voksWinHybridGetStateSize_G728_16s(c.val(-1, 60), c.val(-1, 60), c.val(-1, 30), c.val(-1, 6), c.out(&n)); }},
    {"voksWinHybridInit_G728_16s", [](Call& c) { return voksWinHybridInit_G728_16s(c.s16(105), 50, 35, 20, 5, Vok16s(c.val(0, 1) ? 12288 : 8192), c.state(g728WinSize, nullptr)); }},
    {"voksWinHybrid_G728_16s", [](Call& c) { return voksWinHybrid_G728_16s(Vok16s(c.val(0, 1)), c.s16(20), c.s16(51), c.state(g728WinSize, g728WinInit)); }},
    {"voksWinHybridBlock_G728_16s", [](Call& c) { return voksWinHybridBlock_G728_16s(Vok16s(c.val(0, 1)), c.s16(20), c.s16(51), c.s16(4), c.state(g728WinSize, g728WinInit)); }},
    {"voksLevinsonDurbin_G728_16s_Sfs", [](Call& c) { const int m = c.upTo(0, 50, 60); return voksLevinsonDurbin_G728_16s_Sfs(c.s16(m + 1), m, c.s16(m + 1), c.s16(1), c.s16(1), c.s16(1)); }},
    {"voksLevinsonDurbin_G728_16s_ISfs", [](Call& c) { const int m = c.upTo(0, 50, 60); return voksLevinsonDurbin_G728_16s_ISfs(c.s16(m + 1), c.val(0, 50), m, c.s16(m + 1), c.s16(1), c.s16(1)); }},
    {"voksCodebookSearch_G728_16s", [](Call& c) { Vok32s a, b; return voksCodebookSearch_G728_16s(c.s16(5), c.s16(128), c.out(&a), c.out(&b), c.s16(1), static_cast<VokRateCode>(c.val(9, 18))); }},
    {"voksCodebookSearchTCQ_G728_16s8u", [](Call& c) { return voksCodebookSearchTCQ_G728_16s8u(c.s16(5), c.s16(5), c.u8(8), c.s16(8), c.s16(64), c.s16(64)); }},
    ROW(voksSynthesisFilterGetStateSize_G728_16s, c.s32(1)),
    ROW(voksSynthesisFilterInit_G728_16s, c.state(voksSynthesisFilterGetStateSize_G728_16s, nullptr)),
    ROW(voksSyntesisFilterZeroInput_G728_16s, c.s16(50), c.s16(5), c.v16(), c.s16(5), c.s16(1), c.state(voksSynthesisFilterGetStateSize_G728_16s, voksSynthesisFilterInit_G728_16s)),
    ROW(voksCombinedFilterGetStateSize_G728_16s, c.s32(1)),
    ROW(voksCombinedFilterInit_G728_16s, c.state(voksCombinedFilterGetStateSize_G728_16s, nullptr)),
    ROW(voksCombinedFilterZeroInput_G728_16s, c.s16(20), c.s16(25), c.s16(5), c.state(voksCombinedFilterGetStateSize_G728_16s, voksCombinedFilterInit_G728_16s)),
    ROW(voksCombinedFilterZeroState_G728_16s, c.s16(50), c.s16(10), c.s16(10), Vok16s(c.val(0, 15)), c.s16(5), c.s16(128), c.state(voksCombinedFilterGetStateSize_G728_16s, voksCombinedFilterInit_G728_16s)),
    ROW(voksIIR16sGetStateSize_G728_16s, c.s32(1)),
    ROW(voksIIR16sInit_G728_16s, c.state(voksIIR16sGetStateSize_G728_16s, nullptr)),
    {"voksIIR16s_G728_16s", [](Call& c) { const int n = c.len(200); return voksIIR16s_G728_16s(c.s16(20), c.s16(n), c.s16(n), n, c.state(voksIIR16sGetStateSize_G728_16s, voksIIR16sInit_G728_16s)); }},
    ROW(voksImpulseResponseEnergy_G728_16s, c.s16(5), c.s16(128)),
    ROW(voksLPCInverseFilter_G728_16s, c.s16(5), c.s16(10), c.s16(5), c.state(voksPostFilterAdapterGetStateSize_G728, voksPostFilterAdapterStateInit_G728)),
    {"voksPitchPeriodExtraction_G728_16s", [](Call& c) { Vok32s p; return voksPitchPeriodExtraction_G728_16s(c.s16(240), c.out(&p), c.state(voksPostFilterAdapterGetStateSize_G728, voksPostFilterAdapterStateInit_G728)); }},
    ROW(voksPostFilterGetStateSize_G728_16s, c.s32(1)),
    ROW(voksPostFilterInit_G728_16s, c.state(voksPostFilterGetStateSize_G728_16s, nullptr)),
    ROW(voksPostFilter_G728_16s, c.v16(), c.v16(), Vok16s(c.val(19, 141)), c.v16(), c.s16(5), c.s16(260), c.s16(5), c.state(voksPostFilterGetStateSize_G728_16s, voksPostFilterInit_G728_16s)),
    ROW(voksPostFilterAdapterGetStateSize_G728, c.s32(1)),
    ROW(voksPostFilterAdapterStateInit_G728, c.state(voksPostFilterAdapterGetStateSize_G728, nullptr)),

    // ---- G.722
    {"voksQMFEncode_G722_16s", [](Call& c) { int n = c.len(320); return voksQMFEncode_G722_16s(c.s16(n), c.s16(n), n, c.s16(24)); }},
    {"voksQMFDecode_G722_16s", [](Call& c) { int n = c.len(320); return voksQMFDecode_G722_16s(c.s16(n), c.s16(n), n, c.s16(24)); }},
    {"voksSBADPCMEncodeStateSize_G722_16s", [](Call& c) { int n; return voksSBADPCMEncodeStateSize_G722_16s(c.out(&n)); }},
    ROW(voksSBADPCMEncodeInit_G722_16s, c.state(voksSBADPCMEncodeStateSize_G722_16s, nullptr)),
    {"voksSBADPCMEncode_G722_16s", [](Call& c) { int n = c.len(320); return voksSBADPCMEncode_G722_16s(c.s16(n), c.s16(n), n, c.state(voksSBADPCMEncodeStateSize_G722_16s, voksSBADPCMEncodeInit_G722_16s)); }},
    {"voksSBADPCMDecodeStateSize_G722_16s", [](Call& c) { int n; return voksSBADPCMDecodeStateSize_G722_16s(c.out(&n)); }},
    ROW(voksSBADPCMDecodeInit_G722_16s, c.state(voksSBADPCMDecodeStateSize_G722_16s, nullptr)),
    {"voksSBADPCMDecode_G722_16s", [](Call& c) { int n = c.len(320); return voksSBADPCMDecode_G722_16s(c.s16(n), c.s16(n), n, Vok16s(c.val(0, 4)), c.state(voksSBADPCMDecodeStateSize_G722_16s, voksSBADPCMDecodeInit_G722_16s)); }},
    ROW(voksSBADPCMDecodeStateUpdate_G722_16s, c.s16(2), c.v16(), c.val(0, 1), c.state(voksSBADPCMDecodeStateSize_G722_16s, voksSBADPCMDecodeInit_G722_16s)),
    {"voksDownsampleFilter_G722_16s", [](Call& c) { int n = c.len(640); return voksDownsampleFilter_G722_16s(c.s16(n, 5), n, c.s16(n / 4)); }},
    {"voksFilterHighband_G722_16s_I", [](Call& c) { int n = c.len(320); return voksFilterHighband_G722_16s_I(c.s16(n + 1), n, c.s16(2)); }},
    {"voksClassifyFrame_G722_16s_I", [](Call& c) { Vok16s lag = Vok16s(c.val(0, 143)); int k = lag >= 0 && lag <= 143 ? lag : 0; int cls = c.val(2, 4);
       return voksClassifyFrame_G722_16s_I(c.s16(2 * k > k + 2 ? 2 * k : k + 2, 2), lag, c.out(&cls), c.state(voksSBADPCMDecodeStateSize_G722_16s, voksSBADPCMDecodeInit_G722_16s)); }},
    // G.722.1: block lengths mostly 320 or 640, else anything (buffers of 640).
    {"voksDCTFwd_G7221_16s", [](Call& c) { int n = mltLen(c); return voksDCTFwd_G7221_16s(c.s16(640), c.s16(640), n); }},
    {"voksDCTInv_G7221_16s", [](Call& c) { int n = mltLen(c); return voksDCTInv_G7221_16s(c.s16(640), c.s16(640), n); }},
    ROW(voksDCTFwd_G722_16s, c.s16(320), c.s16(320)),
    ROW(voksDCTInv_G722_16s, c.s16(320), c.s16(320)),
    {"voksDecomposeMLTToDCT_G7221_16s", [](Call& c) { int n = mltLen(c); return voksDecomposeMLTToDCT_G7221_16s(c.s16(640), c.s16(640), c.s16(640), n); }},
    {"voksDecomposeDCTToMLT_G7221_16s", [](Call& c) { int n = mltLen(c); return voksDecomposeDCTToMLT_G7221_16s(c.s16(640), c.s16(320), c.s16(640), n); }},
    ROW(voksDecomposeMLTToDCT_G722_16s, c.s16(320), c.s16(320), c.s16(320)),
    ROW(voksDecomposeDCTToMLT_G722_16s, c.s16(320), c.s16(160), c.s16(320)),
    {"voksHuffmanEncode_G722_16s32u", [](Call& c) { int bits; Vok32u w[6]; return voksHuffmanEncode_G722_16s32u(c.val(0, 7), c.val(-1, 64), c.s16(20), c.out(w), c.out(&bits)); }},

    // ---- G.723.1 LP analysis
    ROW(voksHighPassFilter_G723_16s, c.s16(240), c.s16(240), c.s32(2)),
    ROW(voksAutoCorr_G723_16s, c.s16(180), c.s16(1), c.s16(11)),
    ROW(voksAutoCorr_NormE_G723_16s, c.s16(180), c.s16(11), c.s32(1)),
    ROW(voksLevinsonDurbin_G723_16s, c.s16(11), c.s16(1), c.s16(1), c.s16(10)),
    ROW(voksLPCToLSF_G723_16s, c.s16(10), c.s16(10), c.s16(10)),
    ROW(voksLSFQuant_G723_16s32s, c.s16(10), c.s16(10), c.s32(1)),
    ROW(voksLSFDecode_G723_16s, c.s16(3), c.s16(10), c.val(0, 1), c.s16(10)),
    ROW(voksLSFToLPC_G723_16s, c.s16(10), c.s16(10)),
    ROW(voksLSFToLPC_G723_16s_I, c.s16(10)),
    ROW(voksIIR16s_G723_16s_I, c.s16(20), c.s16(60), c.s16(20)),
    ROW(voksIIR16s_G723_16s32s, c.s16(20), c.s16(60), c.s32(60), c.s16(20)),
    ROW(voksIIR16s_G723_32s16s_Sfs, c.s16(20), c.s32(60), c.val(-2, 20), c.s16(60), c.s16(20)),

    // ---- G.723.1 pitch, fixed codebooks and decoder steps (wsp and
    // excitation pointers after the history the interface reads)
    ROW(voksOpenLoopPitchSearch_G723_16s, c.s16(120, 142), c.s16(1)),
    ROW(voksHarmonicSearch_G723_16s, Vok16s(c.val(18, 145)), c.s16(60, 148), c.s16(1), c.s16(1)),
    {"voksHarmonicNoiseSubtract_G723_16s_I", [](Call& c) { int lag = c.upTo(0, 145, 1000); int h = lag > 0 ? lag : 0;
       return voksHarmonicNoiseSubtract_G723_16s_I(c.v16(), lag, c.s16(60, h), c.s16(60)); }},
    ROW(voksAdaptiveCodebookSearch_G723, Vok16s(c.val(18, 142)), c.s16(60), c.s16(60), c.s16(145), c.s32(5), c.s16(1), c.s16(1),
        Vok16s(c.val(0, 4)), c.v16(), VokRateCode(c.val(1, 5))),
    {"voksGainQuant_G723_16s", [](Call& c) { int improved; return voksGainQuant_G723_16s(c.s16(60), c.s16(60), c.s16(6), c.s16(6), c.s32(1),
       c.s16(1), c.s16(1), c.val(4, 7), c.out(&improved)); }},
    ROW(voksToeplizMatrix_G723_16s32s, c.s16(60), c.s32(416)),
    ROW(voksToeplizMatrix_G723_16s, c.s16(60), c.s16(416)),
    ROW(voksACELPFixedCodebookSearch_G723_32s16s, c.s16(60), c.s32(416), c.s16(4), c.s16(4), c.s16(1), c.s16(60), c.s16(1)),
    ROW(voksACELPFixedCodebookSearch_G723_16s, c.s16(60), c.s16(416), c.s16(4), c.s16(4), c.s16(1), c.s16(60), c.s16(1)),
    ROW(voksMPMLQFixedCodebookSearch_G723, Vok16s(c.val(18, 145)), c.s16(60), c.s16(60), c.s16(60), c.s16(1), c.s16(1), c.s16(1),
        c.s16(1), c.s32(1), Vok16s(c.val(0, 3))),
    ROW(voksDecodeAdaptiveVector_G723_16s, Vok16s(c.val(18, 145)), Vok16s(c.val(0, 3)), Vok16s(c.val(0, 169)), c.s16(145), c.s16(60),
        VokRateCode(c.val(1, 5))),
    ROW(voksSynthesisFilter_G723_16s, c.s16(10), c.s16(60), c.s16(10), c.s16(60)),
    ROW(voksSynthesisFilter_G723_16s32s, c.s16(10), c.s16(60), c.s32(60), c.s16(10)),
    ROW(voksPitchPostFilter_G723_16s, Vok16s(c.val(18, 145)), c.s16(240, 145), c.s16(1), c.s16(1), c.s16(1), Vok16s(c.val(0, 3)),
        VokRateCode(c.val(1, 5))),
    ROW(voksTiltCompensation_G723_32s16s, c.v16(), c.s32(60, 1), c.s16(60)),
    ROW(voksGainControl_G723_16s_I, c.val(0, 1 << 30), c.s16(60), c.s16(1)),

    // ---- GSM-AMR (rate codes drawn over 0..25: invalid ones included;
    // excitation buffers hold the 154 samples before the subframe)
    ROW(voksAutoCorr_GSMAMR_16s32s, c.s16(240), c.s32(22), VokRateCode(c.val(0, 25))),
    ROW(voksLevinsonDurbin_GSMAMR_32s16s, c.s32(11), c.s16(11)),
    ROW(voksLPCToLSP_GSMAMR_16s, c.s16(11), c.s16(10), c.s16(10)),
    ROW(voksLSPToLPC_GSMAMR_16s, c.s16(10), c.s16(11)),
    ROW(voksLSFToLSP_GSMAMR_16s, c.s16(10), c.s16(10)),
    ROW(voksLSPQuant_GSMAMR_16s, c.s16(20), c.s16(10), c.s16(20), c.s16(5), VokRateCode(c.val(0, 25))),
    ROW(voksQuantLSPDecode_GSMAMR_16s, c.s16(5), c.s16(10), c.s16(10), c.s16(10), c.s16(40), c.v16(), VokRateCode(c.val(0, 25))),
    {"voksInterpolate_GSMAMR_16s", [](Call& c) { int n = c.len(40); return voksInterpolate_GSMAMR_16s(c.s16(n), c.s16(n), c.s16(n), n); }},
    {"voksPreemphasize_GSMAMR_16s", [](Call& c) { int n = c.len(160); return voksPreemphasize_GSMAMR_16s(c.v16(), c.s16(n), c.s16(n), n, c.s16(1)); }},
    ROW(voksOpenLoopPitchSearchNonDTX_GSMAMR_16s, c.s16(44), c.s16(44), c.s16(170), c.s16(1), c.s16(1), c.s16(5), c.s16(143), c.s16(2),
        c.s16(2), VokRateCode(c.val(0, 25))),
    ROW(voksOpenLoopPitchSearchDTXVAD1_GSMAMR_16s, c.s16(44), c.s16(44), c.s16(170), c.s16(1), c.s16(1), c.s16(1), c.s16(5), c.s16(143),
        c.s16(1), c.s16(2), c.s16(2), VokRateCode(c.val(0, 25))),
    ROW(voksOpenLoopPitchSearchDTXVAD2_GSMAMR_16s32s, c.s16(44), c.s16(44), c.s16(170), c.s16(1), c.s16(1), c.s16(5), c.s16(143),
        c.s32(1), c.s32(1), c.s16(2), c.s16(2), VokRateCode(c.val(0, 25))),
    ROW(voksAdaptiveCodebookSearch_GSMAMR_16s, c.s16(40), c.s16(40), c.s16(2), c.s16(1), c.s16(154 + 40), c.s16(1), c.s16(1), c.s16(40),
        Vok16s(c.val(0, 3)), VokRateCode(c.val(0, 25))),
    ROW(voksAdaptiveCodebookDecode_GSMAMR_16s, c.v16(), c.s16(1), c.s16(1), c.s16(154 + 40), c.s16(1), c.s16(40), Vok16s(c.val(0, 3)),
        Vok16s(c.val(0, 1)), c.v16(), c.v16(), VokRateCode(c.val(0, 25)), c.val(0, 1), c.val(0, 1)),
    ROW(voksAdaptiveCodebookGain_GSMAMR_16s, c.s16(40), c.s16(40), c.s16(1)),
    ROW(voksAdaptiveCodebookGainCoeffs_GSMAMR_16s, c.s16(40), c.s16(40), c.s16(1), c.s16(4)),
    ROW(voksImpulseResponseTarget_GSMAMR_16s, c.s16(50), c.s16(11), c.s16(11), c.s16(11), c.s16(10), c.s16(10), c.s16(40), c.s16(40),
        c.s16(40)),
    ROW(voksEncDTXBuffer_GSMAMR_16s, c.s16(160), c.s16(10), c.s16(1), c.s16(80), c.s16(8)),
    ROW(voksDecDTXBuffer_GSMAMR_16s, c.s16(160), c.s16(10), c.s16(1), c.s16(80), c.s16(8)),
    ROW(voksEncDTXHandler_GSMAMR_16s, c.s16(1), c.s16(1), c.s16(1), c.s16(1), c.v16()),
    ROW(voksEncDTXSID_GSMAMR_16s, c.s16(80), c.s16(8), c.s16(1), c.s16(10), c.s16(4), c.s16(4), c.s16(4), c.v16()),
    ROW(voksFixedCodebookDecode_GSMAMR_16s, c.s16(10), c.s16(40), Vok16s(c.val(0, 3)), VokRateCode(c.val(0, 25))),
    ROW(voksPostFilter_GSMAMR_16s, c.s16(44), c.s16(160), c.s16(1), c.s16(1), c.s16(10), c.s16(10), c.s16(160), VokRateCode(c.val(0, 25))),
    {"voksVAD1_GSMAMR_16s", [](Call& c) { VAD1State_GSMAMR_16s st{}; if (const Vok16s* raw = c.s16(sizeof st / 2)) std::memcpy(&st, raw, sizeof st);
       Vok16s flag; return voksVAD1_GSMAMR_16s(c.s16(200), c.out(&st), c.out(&flag), c.v16(), c.v16()); }},
    ROW(voksFFTFwd_RToPerm_GSMAMR_16s_I, c.s16(128)),
    ROW(voksAlgebraicCodebookSearch_GSMAMR_16s, Vok16s(c.val(17, 144)), c.v16(), c.s16(40), c.s16(40), c.s16(40), c.s16(40), c.s16(40),
        c.s16(10), Vok16s(c.val(0, 3)), VokRateCode(c.val(0, 25))),
    {"voksAlgebraicCodebookSearchEX_GSMAMR_16s", [](Call& c) { return voksAlgebraicCodebookSearchEX_GSMAMR_16s(Vok16s(c.val(17, 144)),
       c.v16(), c.s16(40), c.s16(40), c.s16(40), c.s16(40), c.s16(40), c.s16(10), Vok16s(c.val(0, 3)), VokRateCode(c.val(0, 25)), c.u8(64)); }},

    // ---- GSM 06.10 full rate
    {"voksHighPassFilter_GSMFR_16s", [](Call& c) { int n = c.len(160); return voksHighPassFilter_GSMFR_16s(c.s16(n), c.s16(n), n, c.s32(2)); }},
    {"voksPreemphasize_GSMFR_16s", [](Call& c) { int n = c.len(160); return voksPreemphasize_GSMFR_16s(c.s16(n), c.s16(n), n, c.s16(1)); }},
    {"voksDeemphasize_GSMFR_16s_I", [](Call& c) { int n = c.len(160); return voksDeemphasize_GSMFR_16s_I(c.s16(n), n, c.s16(1)); }},
    {"voksSchur_GSMFR_32s16s", [](Call& c) { int n = c.val(1, 8); int k = n > 0 && n < 100 ? n : 1; return voksSchur_GSMFR_32s16s(c.s32(k + 1), c.s16(k), n); }},
    {"voksShortTermAnalysisFilter_GSMFR_16s_I", [](Call& c) { int n = c.len(160); return voksShortTermAnalysisFilter_GSMFR_16s_I(c.s16(8), c.s16(n), n, c.s16(8)); }},
    {"voksShortTermSynthesisFilter_GSMFR_16s", [](Call& c) { int n = c.len(160); return voksShortTermSynthesisFilter_GSMFR_16s(c.s16(8), c.s16(n), c.s16(n), n, c.s16(9)); }},
    {"voksWeightingFilter_GSMFR_16s", [](Call& c) { int n = c.len(40); return voksWeightingFilter_GSMFR_16s(c.s16(n + 10), c.s16(n), n); }},
    ROW(voksRPEQuantDecode_GSMFR_16s, c.s16(13), c.v16(), Vok16s(c.val(0, 20)), c.s16(13)),

    // ---- noise-reduction vector operations
    {"voksMul_NR_16s_Sfs", [](Call& c) { int n = c.len(200); return voksMul_NR_16s_Sfs(c.s16(n), c.s16(n), c.s16(n), n, c.val(-2, 20)); }},
    {"voksMul_NR_16s_ISfs", [](Call& c) { int n = c.len(200); return voksMul_NR_16s_ISfs(c.s16(n), c.s16(n), n, c.val(-2, 20)); }},
    {"voksMulC_NR_16s_Sfs", [](Call& c) { int n = c.len(200); return voksMulC_NR_16s_Sfs(c.s16(n), c.v16(), c.s16(n), n, c.val(-2, 20)); }},
    {"voksMulC_NR_16s_ISfs", [](Call& c) { int n = c.len(200); return voksMulC_NR_16s_ISfs(c.v16(), c.s16(n), n, c.val(-2, 20)); }},
    {"voksMulPowerC_NR_16s_Sfs", [](Call& c) { int n = c.len(200); return voksMulPowerC_NR_16s_Sfs(c.s16(n), c.v16(), c.s16(n), n, c.val(-2, 20)); }},
    {"voksInterpolateC_NR_16s", [](Call& c) { int n = c.len(200); return voksInterpolateC_NR_16s(c.s16(n), c.v16(), c.val(-2, 20), c.s16(n), c.v16(), c.val(-2, 20), c.s16(n), n); }},
    {"voksHarmonicFilter_NR_16s", [](Call& c) { int n = c.len(200), lag = c.upTo(0, 200, 1000); int h = lag > 0 ? lag : 0;
       return voksHarmonicFilter_NR_16s(c.v16(), lag, c.s16(n, h), c.s16(n), n); }},
    {"voksConvPartial_NR_16s", [](Call& c) { int n = c.len(200); return voksConvPartial_NR_16s(c.s16(n), c.s16(n), c.s16(n), n); }},
    {"voksConvPartial_NR_Low_16s", [](Call& c) { int n = c.len(200); return voksConvPartial_NR_Low_16s(c.s16(n), c.s16(n), c.s16(n), n); }},
    {"voksCrossCorr_NR_16s32s", [](Call& c) { int n = c.len(200), l = c.len(40); int k = l > 0 && l < 1000 ? l : 0;
       return voksCrossCorr_NR_16s32s(c.s16(n), c.s16(n + k), n, c.s32(l), l); }},
    {"voksCrossCorr_NR_16s", [](Call& c) { int n = c.len(200), l = c.len(40); int k = l > 0 && l < 1000 ? l : 0;
       return voksCrossCorr_NR_16s(c.s16(n), c.s16(n + k), n, c.s16(l), l); }},
    {"voksCrossCorr_NR_16s_Sfs", [](Call& c) { int n = c.len(200), l = c.len(40); int k = l > 0 && l < 1000 ? l : 0;
       return voksCrossCorr_NR_16s_Sfs(c.s16(n), c.s16(n + k), n, c.s16(l), l, c.val(-2, 20)); }},
    {"voksAutoCorr_NormE_NR_16s", [](Call& c) { int n = c.len(200), l = c.len(40); int sh; return voksAutoCorr_NormE_NR_16s(c.s16(n), n, c.s16(l), l, c.out(&sh)); }},
    {"voksSynthesisFilter_NR_16s_Sfs", [](Call& c) { int n = c.len(200); return voksSynthesisFilter_NR_16s_Sfs(c.s16(11), c.s16(n), c.s16(n), n, c.val(12, 13), c.s16(10)); }},
    {"voksSynthesisFilter_NR_16s_ISfs", [](Call& c) { int n = c.len(200); return voksSynthesisFilter_NR_16s_ISfs(c.s16(11), c.s16(n), n, c.val(12, 13), c.s16(10)); }},
    {"voksSynthesisFilterLow_NR_16s_ISfs", [](Call& c) { int n = c.len(200); return voksSynthesisFilterLow_NR_16s_ISfs(c.s16(11), c.s16(n), n, c.val(12, 13), c.s16(10)); }},
    {"voksSynthesisFilterZeroStateResponse_NR_16s", [](Call& c) { int n = c.len(200); return voksSynthesisFilterZeroStateResponse_NR_16s(c.s16(11), c.s16(n), n, c.val(12, 13)); }},
    {"voksVAD2_GSMAMR_16s", [](Call& c) { VAD2State_GSMAMR_16s st{}; if (const Vok16s* raw = c.s16(sizeof st / 2)) std::memcpy(&st, raw, sizeof st);
       Vok16s flag; return voksVAD2_GSMAMR_16s(c.s16(80), c.out(&st), c.out(&flag), c.v16()); }},
    {"voksVADGetSize_AMRWB_16s", [](Call& c) { int n; return voksVADGetSize_AMRWB_16s(c.out(&n)); }},
    ROW(voksVADInit_AMRWB_16s, static_cast<VADState_AMRWB_16s*>(c.state(voksVADGetSize_AMRWB_16s, nullptr))),
    {"voksVAD_AMRWB_16s", [](Call& c) { Vok16s tone = c.v16(), flag;
       return voksVAD_AMRWB_16s(c.s16(256), amrwbVad(c), c.out(&tone), c.out(&flag)); }},
    ROW(voksVADGetEnergyLevel_AMRWB_16s, amrwbVad(c), c.s16(12)),
    {"voksEncDTXBuffer_AMRWB_16s", [](Call& c) { Vok16s* i = c.s16(1); if (i) *i = static_cast<Vok16s>(c.val(-1, 8));
       return voksEncDTXBuffer_AMRWB_16s(c.s16(256), c.s16(16), i, c.s16(128), c.s16(8), static_cast<VokRateCode>(c.val(0, 32))); }},
    {"voksDecDTXBuffer_AMRWB_16s", [](Call& c) { Vok16s* i = c.s16(1); if (i) *i = static_cast<Vok16s>(c.val(-1, 8));
       return voksDecDTXBuffer_AMRWB_16s(c.s16(256), c.s16(16), i, c.s16(128), c.s16(8)); }},
    // ---- AMR-WB excitation decoding (history: the longest lag of the grid + 17)
    {"voksAdaptiveCodebookDecodeGetSize_AMRWB_16s", [](Call& c) { int n; return voksAdaptiveCodebookDecodeGetSize_AMRWB_16s(c.out(&n)); }},
    ROW(voksAdaptiveCodebookDecodeInit_AMRWB_16s, amrwbLagState(c, false)),
    ROW(voksAdaptiveCodebookDecodeUpdate_AMRWB_16s, c.v16(), Vok16s(c.val(30, 240)), amrwbLagState(c, true)),
    {"voksAdaptiveCodebookDecode_AMRWB_16s", [](Call& c) { Vok16s frac = c.v16(), lag = c.v16();
       Vok16s* win = c.s16(2); if (win && c.val(0, 1)) win[0] = Vok16s(c.val(30, 220));
       return voksAdaptiveCodebookDecode_AMRWB_16s(c.val(0, 511), c.out(&frac), c.s16(65, 248), c.out(&lag), win, c.val(0, 4),
                                                   c.val(0, 1), c.val(0, 1), static_cast<VokRateCode>(c.val(0, 32)), amrwbLagState(c, true)); }},
    {"voksAdaptiveCodebookDecode_AMRWBE_16s", [](Call& c) { Vok16s frac = Vok16s(c.val(-1, 4)), lag = Vok16s(c.val(10, 340));
       Vok16s* win = c.s16(2); if (win && c.val(0, 1)) win[0] = Vok16s(c.val(10, 340));
       return voksAdaptiveCodebookDecode_AMRWBE_16s(c.val(0, 511), c.s16(65, 350), c.out(&lag), c.out(&frac), win, c.val(0, 4),
                                                    c.val(0, 1), Vok16s(c.val(-18, 18))); }},
    ROW(voksAlgebraicCodebookDecode_AMRWB_16s, c.s16(8), c.s16(64), static_cast<VokRateCode>(c.val(0, 32))),
    {"voksDecodeGain_AMRWB_16s", [](Call& c) { Vok16s pit = 0, prev = c.v16(), g16 = c.v16(); Vok32s gain;
       return voksDecodeGain_AMRWB_16s(Vok16s(c.val(-1, 128)), c.v16(), c.out(&pit), c.out(&gain), c.val(0, 1), c.val(0, 1),
                                       c.s16(4), c.out(&prev), c.out(&g16), static_cast<VokRateCode>(c.val(0, 32))); }},
    // ---- AMR-WB LP, ISP/ISF and filters
    {"voksLPCToISP_AMRWB_16s", [](Call& c) { return voksLPCToISP_AMRWB_16s(c.s16(17), c.s16(16), c.s16(16)); }},
    {"voksLPCToISP_AMRWBE_16s", [](Call& c) { int m = c.upTo(1, 20, 64); int k = m > 0 ? m : 1;
       return voksLPCToISP_AMRWBE_16s(c.s16(k + 1), c.s16(k), c.s16(k), m); }},
    {"voksISPToLPC_AMRWB_16s", [](Call& c) { int m = c.upTo(1, 20, 64); int k = m > 0 ? m : 1;
       return voksISPToLPC_AMRWB_16s(c.s16(k), c.s16(k + 1), m); }},
    ROW(voksISFToISP_AMRWB_16s, c.s16(20), c.s16(20), c.upTo(1, 20, 20)),
    ROW(voksISPToISF_Norm_AMRWB_16s, c.s16(20), c.s16(20), c.upTo(1, 20, 20)),
    {"voksHighPassFilterGetSize_AMRWB_16s", [](Call& c) { int z; return voksHighPassFilterGetSize_AMRWB_16s(c.val(2, 3), c.out(&z)); }},
    {"voksHighPassFilterInit_AMRWB_16s", [](Call& c) {
       return voksHighPassFilterInit_AMRWB_16s(c.s16(4), c.s16(4), c.val(2, 3), reinterpret_cast<HighPassFilterState_AMRWB_16s*>(c.u8(40))); }},
    {"voksHighPassFilterGetDlyLine_AMRWB_16s", [](Call& c) {
       return voksHighPassFilterGetDlyLine_AMRWB_16s(reinterpret_cast<HighPassFilterState_AMRWB_16s*>(c.u8(40)), c.s16(9), c.val(2, 3)); }},
    {"voksHighPassFilterSetDlyLine_AMRWB_16s", [](Call& c) {
       return voksHighPassFilterSetDlyLine_AMRWB_16s(c.s16(9), reinterpret_cast<HighPassFilterState_AMRWB_16s*>(c.u8(40)), c.val(2, 3)); }},
    {"voksHighPassFilter_AMRWB_16s_ISfs", [](Call& c) { int n = c.len(256);
       return voksHighPassFilter_AMRWB_16s_ISfs(c.s16(n), n, reinterpret_cast<HighPassFilterState_AMRWB_16s*>(c.u8(40)), c.val(0, 16)); }},
    {"voksHighPassFilter_AMRWB_16s_Sfs", [](Call& c) { int n = c.len(256);
       return voksHighPassFilter_AMRWB_16s_Sfs(c.s16(n), c.s16(n), n, reinterpret_cast<HighPassFilterState_AMRWB_16s*>(c.u8(40)), c.val(-3, 12)); }},
    {"voksHighPassFilter_Direct_AMRWB_16s", [](Call& c) { int n = c.len(64);
       return voksHighPassFilter_Direct_AMRWB_16s(c.s16(2), c.s16(n), c.s16(n), n, c.val(0, 1)); }},
    {"voksPreemphasize_AMRWB_16s_ISfs", [](Call& c) { int n = c.len(256);
       return voksPreemphasize_AMRWB_16s_ISfs(c.v16(), c.s16(n), n, c.val(0, 15), c.s16(1)); }},
    {"voksDeemphasize_AMRWB_NR_16s_I", [](Call& c) { int n = c.len(256); return voksDeemphasize_AMRWB_NR_16s_I(c.v16(), c.s16(n), n, c.s16(1)); }},
    {"voksDeemphasize_AMRWB_32s16s", [](Call& c) { int n = c.len(256); return voksDeemphasize_AMRWB_32s16s(c.v16(), c.s32(n), c.s16(n), n, c.s16(1)); }},
    {"voksResidualFilter_AMRWB_16s_Sfs", [](Call& c) { Vok16s m = static_cast<Vok16s>(c.upTo(1, 20, 64)); int k = m > 0 ? m : 0; int n = c.len(64);
       return voksResidualFilter_AMRWB_16s_Sfs(c.s16(k + 1), m, c.s16(n, k), c.s16(n), n, c.val(0, 15)); }},
    {"voksSynthesisFilter_AMRWB_16s32s_I", [](Call& c) { int m = c.upTo(1, 20, 64); int k = m > 0 ? m : 0; int n = c.len(64);
       return voksSynthesisFilter_AMRWB_16s32s_I(c.s16(k + 1), m, c.s16(n), c.s32(n, k), n); }},
    ROW(voksISFQuant_AMRWB_16s, c.s16(16), c.s16(16), c.s16(16), c.s16(7), c.val(5, 25)),
    ROW(voksISFQuantDecode_AMRWB_16s, c.s16(7), c.s16(16), c.s16(16), c.s16(16), c.s16(48), c.val(0, 1), c.val(5, 25)),
    ROW(voksISFQuantDTX_AMRWB_16s, c.s16(16), c.s16(16), c.s16(5)),
    ROW(voksISFQuantDecodeDTX_AMRWB_16s, c.s16(5), c.s16(16)),
    {"voksOpenLoopPitchSearch_AMRWB_16s", [](Call& c) { int n = c.len(128); int k = n > 0 ? n : 1;
       return voksOpenLoopPitchSearch_AMRWB_16s(c.s16(k, 115), c.s16(k, 115), c.s16(1), c.s16(1), c.s16(1), c.s16(1),
                                                c.s16(1), c.s16(5), c.s16(1), n); }},
    {"voksOpenLoopPitchSearch_AMRWBE_16s", [](Call& c) { int n = c.len(128); int k = n > 0 ? n : 1;
       Vok16s lo = static_cast<Vok16s>(c.val(8, 26)), hi = static_cast<Vok16s>(c.upTo(20, 170, 400));
       return voksOpenLoopPitchSearch_AMRWBE_16s(c.s16(k, hi > 0 ? hi : 0), c.s16(k, hi > 0 ? hi : 0), c.s16(1), c.s16(1),
                                                 c.s16(1), c.s16(1), c.s16(1), c.s16(5), c.s16(1), n, lo, hi); }},
    {"voksAdaptiveCodebookSearch_AMRWB_16s", [](Call& c) { Vok16s* w = c.s16(2);
       if (w && c.val(0, 1) == 0) { w[0] = static_cast<Vok16s>(c.val(34, 216)); w[1] = static_cast<Vok16s>(w[0] + 15); }
       Vok16s lag, frac, index;
       return voksAdaptiveCodebookSearch_AMRWB_16s(c.s16(64), c.s16(64), c.s16(2), c.out(&lag), w, c.s16(65, 248),
                                                   c.out(&frac), c.out(&index), c.val(0, 3), static_cast<VokRateCode>(c.val(5, 32))); }},
    {"voksAdaptiveCodebookSearch_AMRWBE_16s", [](Call& c) { Vok16s* w = c.s16(2);
       if (w && c.val(0, 1) == 0) { w[0] = static_cast<Vok16s>(c.val(17, 318)); w[1] = static_cast<Vok16s>(w[0] + 15); }
       Vok16s lag, frac, index;
       return voksAdaptiveCodebookSearch_AMRWBE_16s(c.s16(64), c.s16(64), c.s16(2), c.out(&lag), w, c.s16(65, 350),
                                                    c.out(&frac), c.out(&index), c.val(0, 3), static_cast<VokRateCode>(c.val(5, 32)),
                                                    static_cast<Vok16s>(c.val(-17, 17))); }},
    {"voksGainQuant_AMRWB_16s", [](Call& c) { int n = c.len(64); int k = n > 0 ? n : 1; Vok32s gain; Vok16s index;
       return voksGainQuant_AMRWB_16s(c.s16(k), c.s16(k), c.val(-3, 8), c.s16(k), c.s16(k), c.s16(4), c.s16(4), c.s16(1),
                                      c.out(&gain), c.val(0, 1), c.out(&index), n, static_cast<VokRateCode>(c.val(5, 25))); }},
    ROW(voksAlgebraicCodebookSearch_AMRWB_16s, c.s16(64), c.s16(64), c.s16(64), c.s16(64), c.s16(64),
        static_cast<VokRateCode>(c.val(5, 32)), c.s16(8)),
    {"voksAdaptiveCodebookGainCoeff_AMRWB_16s", [](Call& c) { int n = c.len(64);
       return voksAdaptiveCodebookGainCoeff_AMRWB_16s(c.s16(n), c.s16(n), c.s16(4), c.s16(1), n); }},
    // ---- subband echo canceller
    {"voksSubbandProcessGetSize_16s", [](Call& c) { int a, b, w; return voksSubbandProcessGetSize_16s(c.val(0, 8), c.val(0, 1024), c.out(&a), c.out(&b), c.out(&w)); }},
    {"voksSubbandProcessGetSize_32f", [](Call& c) { int a, b, w; return voksSubbandProcessGetSize_32f(c.val(0, 8), c.val(0, 1024), c.out(&a), c.out(&b), c.out(&w)); }},
    {"voksSubbandProcessInit_16s", [](Call& c) { return bankRow<SubbandProcessState_16s, Vok16s, Vok32sc>(c, voksSubbandProcessGetSize_16s, voksSubbandProcessInit_16s, nullptr, 0); }},
    {"voksSubbandProcessInit_32f", [](Call& c) { return bankRow<SubbandProcessState_32f, Vok32f, Vok32fc>(c, voksSubbandProcessGetSize_32f, voksSubbandProcessInit_32f, nullptr, 0); }},
    {"voksSubbandAnalysis_16s32sc_Sfs", [](Call& c) { return bankRow<SubbandProcessState_16s, Vok16s, Vok32sc>(c, voksSubbandProcessGetSize_16s, voksSubbandProcessInit_16s,
       [](Call& k, SubbandProcessState_16s* s, int n, int r, Vok8u* w) { return voksSubbandAnalysis_16s32sc_Sfs(k.s16(r), k.c32(n / 2 + 1), k.out(s), k.val(-40, 40), w); }, 1); }},
    {"voksSubbandAnalysis_32f32fc", [](Call& c) { return bankRow<SubbandProcessState_32f, Vok32f, Vok32fc>(c, voksSubbandProcessGetSize_32f, voksSubbandProcessInit_32f,
       [](Call& k, SubbandProcessState_32f* s, int n, int r, Vok8u* w) { return voksSubbandAnalysis_32f32fc(k.f32(r), k.cf32(n / 2 + 1), k.out(s), w); }, 1); }},
    {"voksSubbandSynthesis_32sc16s_Sfs", [](Call& c) { return bankRow<SubbandProcessState_16s, Vok16s, Vok32sc>(c, voksSubbandProcessGetSize_16s, voksSubbandProcessInit_16s,
       [](Call& k, SubbandProcessState_16s* s, int n, int r, Vok8u* w) { return voksSubbandSynthesis_32sc16s_Sfs(k.c32(n / 2 + 1), k.s16(r), k.out(s), k.val(-40, 40), w); }, 1); }},
    {"voksSubbandSynthesis_32fc32f", [](Call& c) { return bankRow<SubbandProcessState_32f, Vok32f, Vok32fc>(c, voksSubbandProcessGetSize_32f, voksSubbandProcessInit_32f,
       [](Call& k, SubbandProcessState_32f* s, int n, int r, Vok8u* w) { return voksSubbandSynthesis_32fc32f(k.cf32(n / 2 + 1), k.f32(r), k.out(s), w); }, 1); }},
    {"voksFIRSubband_EC_32fc", [](Call& c) { int segs = c.val(0, 8), n = c.len(80); return voksFIRSubband_EC_32fc(c.framesF(segs, n), c.framesF(segs, n), c.cf32(n), segs, n); }},
    {"voksFIRSubband_EC_32sc_Sfs", [](Call& c) { int segs = c.val(0, 8), n = c.len(80); return voksFIRSubband_EC_32sc_Sfs(c.framesS(segs, n), c.framesS(segs, n), c.c32(n), segs, n, c.val(-32, 32)); }},
    {"voksFIRSubbandLow_EC_32sc_Sfs", [](Call& c) { int segs = c.val(0, 8), n = c.len(80);
       return voksFIRSubbandLow_EC_32sc_Sfs(c.framesS(segs, n), c.framesS(segs, n), segs, c.c32(n), c.val(-1, 81), n, c.val(-1, 32)); }},
    {"voksFIRSubbandCoeffUpdate_EC_32fc_I", [](Call& c) { int segs = c.val(0, 8), n = c.len(80);
       return voksFIRSubbandCoeffUpdate_EC_32fc_I(c.f64(n), c.framesF(segs, n), c.cf32(n), c.framesF(segs, n), segs, n); }},
    {"voksFIRSubbandCoeffUpdate_EC_32sc_I", [](Call& c) { int segs = c.val(0, 8), n = c.len(80);
       return voksFIRSubbandCoeffUpdate_EC_32sc_I(c.s32(pairs(n)), c.framesS(segs, n), c.c32(n), c.framesS(segs, n), segs, n, c.val(-1, 32)); }},
    {"voksFIRSubbandLowCoeffUpdate_EC_32sc_I", [](Call& c) { int segs = c.val(0, 8), n = c.len(80);
       return voksFIRSubbandLowCoeffUpdate_EC_32sc_I(c.framesS(segs, n), c.c32(n), c.framesS(segs, n), segs, c.c32(n), c.s32(pairs(n)), c.val(-1, 81), n, c.val(-1, 32)); }},
    {"voksFIRSubbandAPCoeffUpdate_EC_32fc_I", [](Call& c) { int segs = c.val(0, 8), n = c.len(80), p = c.val(0, 4); int h = (segs < 1 ? 1 : segs > 300 ? 300 : segs) + (p > 0 && p < 256 ? p : 1);
       return voksFIRSubbandAPCoeffUpdate_EC_32fc_I(c.framesD(p, n), c.framesF(h, n), c.framesF(p, n), c.framesF(segs, n), segs, n, p); }},
    {"voksSubbandControllerGetSize_EC_32f", [](Call& c) { int s; return voksSubbandControllerGetSize_EC_32f(c.val(0, 40), c.val(0, 64), c.val(0, 8), sampleRate(c), c.out(&s)); }},
    {"voksSubbandControllerGetSize_EC_16s", [](Call& c) { int s; return voksSubbandControllerGetSize_EC_16s(c.val(0, 40), c.val(0, 64), c.val(0, 8), sampleRate(c), c.out(&s)); }},
    {"voksSubbandControllerDTGetSize_EC_16s", [](Call& c) { int s; return voksSubbandControllerDTGetSize_EC_16s(c.val(0, 40), c.val(0, 64), c.val(0, 8), sampleRate(c), c.out(&s)); }},
    {"voksSubbandControllerInit_EC_32f", [](Call& c) { return controllerRow<SubbandControllerState_32f>(c, voksSubbandControllerGetSize_EC_32f, voksSubbandControllerInit_EC_32f, nullptr, true); }},
    {"voksSubbandControllerInit_EC_16s", [](Call& c) { return controllerRow<SubbandControllerState_16s>(c, voksSubbandControllerGetSize_EC_16s, voksSubbandControllerInit_EC_16s, nullptr, true); }},
    {"voksSubbandControllerDTInit_EC_16s", [](Call& c) { return controllerRow<SubbandControllerDTState_16s>(c, voksSubbandControllerDTGetSize_EC_16s, voksSubbandControllerDTInit_EC_16s, nullptr, true); }},
    {"voksSubbandControllerReset_EC_32f", [](Call& c) { return controllerRow<SubbandControllerState_32f>(c, voksSubbandControllerGetSize_EC_32f, voksSubbandControllerInit_EC_32f,
       [](Call& k, SubbandControllerState_32f* s, int, int) { return voksSubbandControllerReset_EC_32f(k.out(s)); }, false); }},
    {"voksSubbandControllerReset_EC_16s", [](Call& c) { return controllerRow<SubbandControllerState_16s>(c, voksSubbandControllerGetSize_EC_16s, voksSubbandControllerInit_EC_16s,
       [](Call& k, SubbandControllerState_16s* s, int, int) { return voksSubbandControllerReset_EC_16s(k.out(s)); }, false); }},
    {"voksSubbandControllerDTReset_EC_16s", [](Call& c) { return controllerRow<SubbandControllerDTState_16s>(c, voksSubbandControllerDTGetSize_EC_16s, voksSubbandControllerDTInit_EC_16s,
       [](Call& k, SubbandControllerDTState_16s* s, int, int) { return voksSubbandControllerDTReset_EC_16s(k.out(s)); }, false); }},
    {"voksSubbandControllerUpdate_EC_32f", [](Call& c) { return controllerRow<SubbandControllerState_32f>(c, voksSubbandControllerGetSize_EC_32f, voksSubbandControllerInit_EC_32f,
       [](Call& k, SubbandControllerState_32f* s, int nb, int segs) { return voksSubbandControllerUpdate_EC_32f(k.f32(1), k.f32(1), k.framesF(segs, nb),
          k.input().pick(2) ? k.cf32(nb) : nullptr, k.f64(nb), k.out(s)); }, false); }},
    {"voksSubbandAPControllerUpdate_EC_32f", [](Call& c) { return controllerRow<SubbandControllerState_32f>(c, voksSubbandControllerGetSize_EC_32f, voksSubbandControllerInit_EC_32f,
       [](Call& k, SubbandControllerState_32f* s, int nb, int segs) { return voksSubbandAPControllerUpdate_EC_32f(k.framesF(segs, nb),
          k.input().pick(2) ? k.cf32(nb) : nullptr, k.f64(nb), k.real(), k.out(s)); }, false); }},
    {"voksSubbandControllerUpdate_EC_16s", [](Call& c) { return controllerRow<SubbandControllerState_16s>(c, voksSubbandControllerGetSize_EC_16s, voksSubbandControllerInit_EC_16s,
       [](Call& k, SubbandControllerState_16s* s, int nb, int segs) { return voksSubbandControllerUpdate_EC_16s(k.s16(1), k.s16(1), k.framesS(segs, nb),
          k.input().pick(2) ? k.c32(nb) : nullptr, k.s32(pairs(nb)), k.out(s)); }, false); }},
    {"voksSubbandController_EC_32f", [](Call& c) { return controllerRow<SubbandControllerState_32f>(c, voksSubbandControllerGetSize_EC_32f, voksSubbandControllerInit_EC_32f,
       [](Call& k, SubbandControllerState_32f* s, int nb, int segs) { Vok32f g;
          return voksSubbandController_EC_32f(k.cf32(nb), k.cf32(nb), k.framesF(segs, nb), k.framesF(segs, nb), k.out(&g), k.out(s)); }, false); }},
    {"voksSubbandController_EC_16s", [](Call& c) { return controllerRow<SubbandControllerState_16s>(c, voksSubbandControllerGetSize_EC_16s, voksSubbandControllerInit_EC_16s,
       [](Call& k, SubbandControllerState_16s* s, int nb, int segs) { Vok16s g;
          return voksSubbandController_EC_16s(k.c32(nb), k.c32(nb), k.framesS(segs, nb), k.framesS(segs, nb), k.out(&g), k.out(s)); }, false); }},
    {"voksSubbandControllerDTUpdate_EC_16s", [](Call& c) { return controllerRow<SubbandControllerDTState_16s>(c, voksSubbandControllerDTGetSize_EC_16s, voksSubbandControllerDTInit_EC_16s,
       [](Call& k, SubbandControllerDTState_16s* s, int nb, int segs) { Vok64s a, b;
          return voksSubbandControllerDTUpdate_EC_16s(k.framesS(segs, nb), k.c32(nb), k.s32(pairs(nb)), k.s32(1), k.out(&a), k.out(&b), k.val(-1, 41), k.out(s)); }, false); }},
    {"voksSubbandControllerDT_EC_16s", [](Call& c) { return controllerRow<SubbandControllerDTState_16s>(c, voksSubbandControllerDTGetSize_EC_16s, voksSubbandControllerDTInit_EC_16s,
       [](Call& k, SubbandControllerDTState_16s* s, int nb, int segs) { Vok32s r;
          return voksSubbandControllerDT_EC_16s(k.c32(nb), k.c32(nb), k.framesS(segs, nb), k.framesS(segs, nb), k.s64(1), k.out(&r), static_cast<Vok64s>(static_cast<uint64_t>(static_cast<Vok64s>(k.input().word32())) << k.input().pick(32)),
                                                k.val(0, 1), k.val(0, 1), k.val(-1, 41), k.out(s)); }, false); }},
    {"voksALCGetStateSize_G169_16s", [](Call& c) { int n; return voksALCGetStateSize_G169_16s(c.out(&n)); }},
    {"voksALCInit_G169_16s", [](Call& c) { return voksALCInit_G169_16s(static_cast<ALCState_G169*>(c.state(voksALCGetStateSize_G169_16s, nullptr))); }},
    ROW(voksALCSetLevel_G169_16s, c.real(), c.real(), alcState(c)),
    ROW(voksALCSetGain_G169_16s, c.real(), alcState(c)),
    {"voksALC_G169_16s", [](Call& c) { int n = c.len(400); return voksALC_G169_16s(c.s16(n), c.s16(n), n, alcState(c)); }},
    {"voksToneDetectGetStateSize_EC_32f", [](Call& c) { int n; return voksToneDetectGetStateSize_EC_32f(c.val(7999, 16001), c.out(&n)); }},
    {"voksToneDetectGetStateSize_EC_16s", [](Call& c) { int n; return voksToneDetectGetStateSize_EC_16s(c.val(7999, 16001), c.out(&n)); }},
    ROW(voksToneDetectInit_EC_32f, static_cast<ToneDetectState_EC_32f*>(c.state([](int* n) { return voksToneDetectGetStateSize_EC_32f(8000, n); }, nullptr)),
        c.val(0, 1) ? 8000 : c.val(7999, 16001)),
    ROW(voksToneDetectInit_EC_16s, static_cast<ToneDetectState_EC_16s*>(c.state([](int* n) { return voksToneDetectGetStateSize_EC_16s(8000, n); }, nullptr)),
        c.val(0, 1) ? 16000 : c.val(7999, 16001)),
    {"voksToneDetect_EC_32f", [](Call& c) { int n = c.len(400), r; return voksToneDetect_EC_32f(c.f32(n), n, c.out(&r), toneState32f(c)); }},
    {"voksToneDetect_EC_16s", [](Call& c) { int n = c.len(400), r; return voksToneDetect_EC_16s(c.s16(n), n, c.out(&r), toneState16s(c)); }},
    {"voksFilterNoiseGetStateSize_EC_32f", [](Call& c) { int n; return voksFilterNoiseGetStateSize_EC_32f(noiseRate(c), c.out(&n)); }},
    {"voksFilterNoiseGetStateSize_RTA_32f", [](Call& c) { int n; return voksFilterNoiseGetStateSize_RTA_32f(noiseRate(c), c.out(&n)); }},
    ROW(voksFilterNoiseInit_EC_32f, noiseRate(c), static_cast<FilterNoiseState_EC_32f*>(c.state([](int* n) { return voksFilterNoiseGetStateSize_EC_32f(8000, n); }, nullptr))),
    ROW(voksFilterNoiseInit_RTA_32f, noiseRate(c), static_cast<FilterNoiseState_RTA_32f*>(c.state([](int* n) { return voksFilterNoiseGetStateSize_RTA_32f(8000, n); }, nullptr))),
    ROW(voksFilterNoiseLevel_EC_32f, c.val(-1, 6), noiseStateEc(c)),
    ROW(voksFilterNoiseSetMode_EC_32f, c.val(-2, 2), noiseStateEc(c)),
    ROW(voksFilterNoiseLevel_RTA_32f, c.val(-1, 4), noiseStateRta(c)),
    {"voksFilterNoiseDetect_EC_32f64f", [](Call& c) { return noiseBlocks(c, [&c](FilterNoiseState_EC_32f* s) {
       Vok64f r; Vok32f l; int d; return voksFilterNoiseDetect_EC_32f64f(c.f32(16), c.out(&r), c.out(&l), c.out(&d), s); }); }},
    {"voksFilterNoiseDetectModerate_EC_32f64f", [](Call& c) { return noiseBlocks(c, [&c](FilterNoiseState_EC_32f* s) {
       Vok64f r; Vok32f l; int d; return voksFilterNoiseDetectModerate_EC_32f64f(c.f32(16), c.f32(16), c.out(&r), c.out(&l), c.out(&d), s); }); }},
    {"voksFilterNoise_EC_32f", [](Call& c) { return noiseBlocks(c, [&c](FilterNoiseState_EC_32f* s) {
       return voksFilterNoise_EC_32f(c.f32(16), c.f32(16), c.val(-1, 2), s); }); }},
    {"voksFilterNoise_EC_32f_I", [](Call& c) { return noiseBlocks(c, [&c](FilterNoiseState_EC_32f* s) {
       return voksFilterNoise_EC_32f_I(c.f32(16), c.val(-1, 2), s); }); }},
    // (a damaged state may hold any frame length up to 160)
    {"voksFilterNoise_RTA_32f", [](Call& c) { return voksFilterNoise_RTA_32f(c.f32(160), c.f32(160), noiseStateRta(c)); }},
    {"voksFilterNoise_RTA_32f_I", [](Call& c) { return voksFilterNoise_RTA_32f_I(c.f32(160), noiseStateRta(c)); }},
    {"voksQMFGetStateSize_RTA_32f", [](Call& c) { int n; return voksQMFGetStateSize_RTA_32f(c.out(&n)); }},
    ROW(voksQMFInit_RTA_32f, static_cast<QMFState_RTA_32f*>(c.state(voksQMFGetStateSize_RTA_32f, nullptr)), c.val(23, 49)),
    {"voksQMFEncode_RTA_32f", [](Call& c) { int n = c.len(640); int k = n > 0 ? n : 1;
       return voksQMFEncode_RTA_32f(c.f32(k), n, c.f32(k / 2), c.f32(k / 2), qmfState(c)); }},
    {"voksQMFDecode_RTA_32f", [](Call& c) { int n = c.len(320); int k = n > 0 && n < (1 << 20) ? n : 1;
       return voksQMFDecode_RTA_32f(c.f32(k), c.f32(k), n, c.f32(2 * k), qmfState(c)); }},
    {"voksBandPassFilter_RTA_32f_I", [](Call& c) { int n = c.len(640); return voksBandPassFilter_RTA_32f_I(c.f32(n), n, c.f32(3)); }},
    {"voksFIR_EC_32f", [](Call& c) { int n = c.len(160), t = c.len(300); int b = t > 0 ? t : 0;
       return voksFIR_EC_32f(c.f32(n, b), c.f32(n), c.f32(n), n, c.f32(t), t); }},
    {"voksFIR_EC_16s", [](Call& c) { int n = c.len(160), t = c.len(300); int b = t > 0 ? t : 0;
       return voksFIR_EC_16s(c.s16(n, b), c.s16(n), c.s16(n), n, c.s16(t), t); }},
    {"voksNLMS_EC_32f", [](Call& c) { int n = c.len(160), t = c.len(300); int b = t > 0 ? t : 0;
       return voksNLMS_EC_32f(c.f32(n, b), c.f32(n), c.f32(n), c.f32(n), n, c.f32(t), t, c.f32(1)); }},
    {"voksNLMS_EC_16s", [](Call& c) { int n = c.len(160), t = c.len(300); int b = t > 0 ? t : 0;
       return voksNLMS_EC_16s(c.s16(n, b), c.s16(n), c.s32(n), c.s16(n), n, c.s16(t), t, c.s16(1)); }},
    {"voksFullbandControllerGetSize_EC_32f", [](Call& c) { int n;
       return voksFullbandControllerGetSize_EC_32f(c.len(160), c.len(300), c.val(7999, 16001), c.out(&n)); }},
    {"voksFullbandControllerGetSize_EC_16s", [](Call& c) { int n;
       return voksFullbandControllerGetSize_EC_16s(c.len(160), c.len(300), c.val(7999, 16001), c.out(&n)); }},
    {"voksFullbandControllerInit_EC_32f", [](Call& c) { std::vector<unsigned char> m(72);
       return voksFullbandControllerInit_EC_32f(c.out(reinterpret_cast<FullbandControllerState_32f*>(m.data())), c.len(160), c.len(300), c.val(7999, 16001)); }},
    {"voksFullbandControllerInit_EC_16s", [](Call& c) { std::vector<unsigned char> m(96);
       return voksFullbandControllerInit_EC_16s(c.out(reinterpret_cast<FullbandControllerState_16s*>(m.data())), c.len(160), c.len(300), c.val(7999, 16001)); }},
    {"voksFullbandControllerReset_EC_32f", [](Call& c) { std::vector<unsigned char> m;
       return voksFullbandControllerReset_EC_32f(fullbandState<FullbandControllerState_32f>(c, m, 80, 64, voksFullbandControllerInit_EC_32f)); }},
    {"voksFullbandControllerReset_EC_16s", [](Call& c) { std::vector<unsigned char> m;
       return voksFullbandControllerReset_EC_16s(fullbandState<FullbandControllerState_16s>(c, m, 80, 64, voksFullbandControllerInit_EC_16s)); }},
    {"voksFullbandControllerUpdate_EC_32f", [](Call& c) { std::vector<unsigned char> m; int f = c.val(1, 160), t = c.val(1, 300);
       if (f < 1 || f > 160 || t < 1 || t > 300) return VokResult{vokOk};  // a configuration beyond the buffers below
       auto* s = fullbandState<FullbandControllerState_32f>(c, m, f, t, voksFullbandControllerInit_EC_32f);
       return voksFullbandControllerUpdate_EC_32f(c.f32(f, t), c.f32(f), c.f32(f), s); }},
    {"voksFullbandControllerUpdate_EC_16s", [](Call& c) { std::vector<unsigned char> m; int f = c.val(1, 160), t = c.val(1, 300);
       if (f < 1 || f > 160 || t < 1 || t > 300) return VokResult{vokOk};
       auto* s = fullbandState<FullbandControllerState_16s>(c, m, f, t, voksFullbandControllerInit_EC_16s);
       return voksFullbandControllerUpdate_EC_16s(c.s16(f, t), c.s16(f), c.s32(f), s); }},
    {"voksFullbandController_EC_32f", [](Call& c) { std::vector<unsigned char> m; int f = c.val(1, 160), t = c.val(1, 300);
       if (f < 1 || f > 160 || t < 1 || t > 300) return VokResult{vokOk};
       auto* s = fullbandState<FullbandControllerState_32f>(c, m, f, t, voksFullbandControllerInit_EC_32f);
       Vok32f gain;
       return voksFullbandController_EC_32f(c.f32(f), c.f32(f), c.f32(t), c.f32(t), c.out(&gain), s); }},
    {"voksFullbandController_EC_16s", [](Call& c) { std::vector<unsigned char> m; int f = c.val(1, 160), t = c.val(1, 300);
       if (f < 1 || f > 160 || t < 1 || t > 300) return VokResult{vokOk};
       auto* s = fullbandState<FullbandControllerState_16s>(c, m, f, t, voksFullbandControllerInit_EC_16s);
       Vok16s gain;
       return voksFullbandController_EC_16s(c.s16(f), c.s16(f), c.s16(t), c.s16(t), c.out(&gain), s); }},
    {"voksHighPassFilter_RTA_32f", [](Call& c) { int n = c.len(640); static const int kRates[] = {8000, 16000, 22050, 32000, 11025};
       const int order = c.val(3, 6), rate = kRates[(c.val(0, 4) % 5 + 5) % 5];
       return voksHighPassFilter_RTA_32f(c.f32(n), c.f32(n), n, order, rate, c.f32(16)); }},
};

bool knownStatus(VokResult r) {
  static const VokResult kAll[] = {vokOk, vokWrnNoOperation, vokWrnOverflow, vokWrnLsfFloor, vokWrnLsfCeiling,
                                   vokWrnLsfFloorCeiling, vokWrnZeroCorrelation, vokErrInternal, vokErrBadArg,
                                   vokErrSize, vokErrRange, vokErrNullPtr, vokErrMemAlloc, vokErrIndex, vokErrDomain,
                                   vokErrScale, vokErrFftOrder, vokErrFftFlag, vokErrContextMatch,
                                   vokErrThresholdOrder, vokErrThreshold, vokErrShift, vokErrSubbandCount};
  for (VokResult k : kAll)
    if (r == k) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Input in(data, size);
  const Row& row = kRows[in.u16() % (sizeof kRows / sizeof kRows[0])];
  Call call(in);
  const VokResult r = row.call(call);
  if (!knownStatus(r)) {
    std::fprintf(stderr, "%s returned %d\n", row.name, r);
    std::abort();
  }
  return 0;
}
