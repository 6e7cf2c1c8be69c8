// G.729 pitch searches against plain operator-chain forms of the same
// procedures (every product through L_mac, as the reference writes them),
// on frames of the speech sample; and the scalar and AVX2 forms of the
// closed-loop kernels.  Each pair first checks that both give the same
// delays.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/basic_op.h"
#include "common/math_ops.h"
#include "g729/pitch_internal.h"
#include "g729/pitch_kernels.h"
#include "g729/pitch_tables.h"
#include "voksc.h"

using namespace voksc::op;

namespace {

const std::vector<Vok16s>& speech() {
  static std::vector<Vok16s> s = [] {
    std::vector<Vok16s> v;
    if (std::FILE* f = std::fopen(VOKSC_BENCH_SAMPLE, "rb")) {
      Vok16s b[4096];
      std::size_t n;
      while ((n = std::fread(b, 2, 4096, f)) > 0) v.insert(v.end(), b, b + n);
      std::fclose(f);
    }
    if (v.size() < 24000) v.assign(24000, 0);
    return std::vector<Vok16s>(v.begin() + 4000, v.end());
  }();
  return s;
}

// Frames of 80 samples with 143 before each, over the sample.
constexpr int kFrames = 64;
const Vok16s* frame(int k) { return speech().data() + 143 + 80 * (k % kFrames); }

using voksc::g729::pitch::normalisedPeak;

void scaleChain(const Vok16s* sig, int16_t* buf, int step) {
  bool ovf = false;
  Word32 t = 0;
  for (int i = -143; i < 80; i += step) t = L_mac_o(t, sig[i], sig[i], ovf);
  for (int i = -143; i < 80; ++i)
    buf[i + 143] = ovf ? shr(sig[i], 3) : (L_sub(t, 1048576) < 0 ? shl(sig[i], 3) : sig[i]);
}

int openLoopChain(const Vok16s* sig) {
  int16_t buf[223];
  scaleChain(sig, buf, 1);
  const int16_t* s = buf + 143;
  auto lagMax = [&](int hi, int lo, Word16& norm) {
    Word32 mx = kMin32;
    int best = hi;
    for (int i = hi; i >= lo; --i) {
      Word32 t = 0;
      for (int j = 0; j < 80; ++j) t = L_mac(t, s[j], s[j - i]);
      if (L_sub(t, mx) >= 0) {
        mx = t;
        best = i;
      }
    }
    Word32 en = 0;
    for (int j = 0; j < 80; ++j) en = L_mac(en, s[j - best], s[j - best]);
    norm = normalisedPeak(mx, en);
    return best;
  };
  Word16 m1, m2, m3;
  int p1 = lagMax(143, 80, m1);
  const int p2 = lagMax(79, 40, m2), p3 = lagMax(39, 20, m3);
  if (sub(mult(m1, 27853), m2) < 0) {
    m1 = m2;
    p1 = p2;
  }
  if (sub(mult(m1, 27853), m3) < 0) p1 = p3;
  return p1;
}

int openLoopFastChain(const Vok16s* sig) {
  int16_t buf[223];
  scaleChain(sig, buf, 2);
  const int16_t* s = buf + 143;
  auto corr = [&](int t) {
    Word32 c = 0;
    for (int j = 0; j < 80; j += 2) c = L_mac(c, s[j], s[j - t]);
    return c;
  };
  auto norm = [&](int t, Word32 mx) {
    Word32 e = 1;
    for (int j = 0; j < 80; j += 2) e = L_mac(e, s[j - t], s[j - t]);
    return normalisedPeak(mx, e);
  };
  auto section = [&](int from, int to, int step, Word32& mx) {
    mx = kMin32;
    int best = from;
    for (int t = from; t < to; t += step) {
      const Word32 c = corr(t);
      if (L_sub(c, mx) > 0) {
        mx = c;
        best = t;
      }
    }
    return best;
  };
  Word32 mx;
  int t1 = section(20, 40, 1, mx);
  Word16 max1 = norm(t1, mx);
  const int t2 = section(40, 80, 1, mx);
  Word16 max2 = norm(t2, mx);
  int t3 = section(80, 143, 2, mx);
  const int c3 = t3;
  for (int t : {c3 + 1, c3 - 1}) {
    const Word32 c = corr(t);
    if (L_sub(c, mx) > 0) {
      mx = c;
      t3 = t;
    }
  }
  const int delays[3] = {t1, t2, t3};
  Word16 peaks[3] = {max1, max2, norm(t3, mx)};
  return delays[voksc::g729::pitch::pickSection(delays, peaks)];
}

// ---- closed loop --------------------------------------------------------------

struct Subframe {
  Vok16s exc[194], x[40], h[40];
  Vok16s centre;
};

// Subframes from the sample: its samples as excitation and target, a
// decaying response as h, the centre from the open-loop search.
const std::vector<Subframe>& subframes() {
  static std::vector<Subframe> v = [] {
    std::vector<Subframe> out(kFrames);
    for (int k = 0; k < kFrames; ++k) {
      const Vok16s* s = frame(k);
      auto& sf = out[k];
      std::memcpy(sf.exc, s - 154 + 40, sizeof sf.exc);
      for (int i = 0; i < 40; ++i) sf.x[i] = static_cast<Vok16s>(s[i + 40] / 2);
      for (int i = 0; i < 40; ++i) sf.h[i] = static_cast<Vok16s>(4096 * std::pow(0.85, i) * std::cos(0.3 * i));
      voksOpenLoopPitchSearch_G729_16s(s, &sf.centre);
    }
    return out;
  }();
  return v;
}

Word16 interpolChain(const int16_t* x, int frac) {
  if (frac < 0) {
    frac += 3;
    --x;
  }
  Word32 s = 0;
  for (int i = 0, k = 0; i < 4; ++i, k += 3) {
    s = L_mac(s, x[-i], voksc::g729::kInterpCorr[frac + k]);
    s = L_mac(s, x[1 + i], voksc::g729::kInterpCorr[3 - frac + k]);
  }
  return round_fx(s);
}

void predictChain(int16_t* exc, int t0, int frac) {
  const int16_t* x0 = exc - t0;
  frac = -frac;
  if (frac < 0) {
    frac += 3;
    --x0;
  }
  for (int j = 0; j < 40; ++j, ++x0) {
    Word32 s = 0;
    for (int i = 0, k = 0; i < 10; ++i, k += 3) {
      s = L_mac(s, x0[-i], voksc::g729::kInterpExc[frac + k]);
      s = L_mac(s, x0[1 + i], voksc::g729::kInterpExc[3 - frac + k]);
    }
    exc[j] = round_fx(s);
  }
}

// G.729's closed loop as the reference writes it.
void closedLoopChain(const Subframe& in, int16_t* exc, int subframe, int& lag, int& frac) {
  int t0Min, t0Max;
  voksc::g729::pitch::searchRange(in.centre, subframe, t0Min, t0Max);
  const int tMin = t0Min - 4, tMax = t0Max + 4;
  int16_t corrV[40], excf[40], scaled[40];
  int16_t* corr = corrV - tMin;
  int k = -tMin;
  voksc::g729::pitch::filterVector(&exc[k], in.h, excf);
  for (int j = 0; j < 40; ++j) scaled[j] = shr(excf[j], 2);
  Word32 s = 0;
  for (int j = 0; j < 40; ++j) s = L_mac(s, excf[j], excf[j]);
  int16_t* sx = L_sub(s, 67108864) <= 0 ? excf : scaled;
  const Word16 hFac = sx == excf ? 3 : 1, scaling = sx == excf ? 0 : 2;
  for (int i = tMin; i <= tMax; ++i) {
    s = 0;
    for (int j = 0; j < 40; ++j) s = L_mac(s, sx[j], sx[j]);
    Word16 nh, nl, ch, cl;
    L_Extract(voksc::vokInvSqrt(s), nh, nl);
    s = 0;
    for (int j = 0; j < 40; ++j) s = L_mac(s, in.x[j], sx[j]);
    L_Extract(s, ch, cl);
    corr[i] = extract_h(L_shl(voksc::vokMpy32(ch, cl, nh, nl), 16));
    if (i != tMax) {
      --k;
      for (int j = 39; j > 0; --j) sx[j] = add(extract_h(L_shl(L_mult(exc[k], in.h[j]), hFac)), sx[j - 1]);
      sx[0] = shr(exc[k], scaling);
    }
  }
  Word16 mx = corr[t0Min];
  lag = t0Min;
  for (int i = t0Min + 1; i <= t0Max; ++i)
    if (sub(corr[i], mx) >= 0) {
      mx = corr[i];
      lag = i;
    }
  frac = 0;
  if (!(subframe == 0 && lag > 84)) {
    mx = interpolChain(&corr[lag], -2);
    frac = -2;
    for (int f = -1; f <= 2; ++f) {
      const Word16 c = interpolChain(&corr[lag], f);
      if (sub(c, mx) > 0) {
        mx = c;
        frac = f;
      }
    }
    if (frac == -2) {
      frac = 1;
      --lag;
    }
    if (frac == 2) {
      frac = -1;
      ++lag;
    }
  }
  predictChain(exc, lag, frac);
}

void BM_OpenLoop_G729_voksc(benchmark::State& st) {
  for (int k = 0; k < kFrames; ++k) {
    Vok16s d;
    voksOpenLoopPitchSearch_G729_16s(frame(k), &d);
    if (d != openLoopChain(frame(k))) st.SkipWithError("forms differ");
  }
  int k = 0;
  for (auto _ : st) {
    Vok16s d;
    voksOpenLoopPitchSearch_G729_16s(frame(k++), &d);
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_OpenLoop_G729_voksc);

void BM_OpenLoop_G729_chain(benchmark::State& st) {
  int k = 0;
  for (auto _ : st) benchmark::DoNotOptimize(openLoopChain(frame(k++)));
}
BENCHMARK(BM_OpenLoop_G729_chain);

void BM_OpenLoop_G729A_voksc(benchmark::State& st) {
  for (int k = 0; k < kFrames; ++k) {
    Vok16s d;
    voksOpenLoopPitchSearch_G729A_16s(frame(k), &d);
    if (d != openLoopFastChain(frame(k))) st.SkipWithError("forms differ");
  }
  int k = 0;
  for (auto _ : st) {
    Vok16s d;
    voksOpenLoopPitchSearch_G729A_16s(frame(k++), &d);
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_OpenLoop_G729A_voksc);

void BM_OpenLoop_G729A_chain(benchmark::State& st) {
  int k = 0;
  for (auto _ : st) benchmark::DoNotOptimize(openLoopFastChain(frame(k++)));
}
BENCHMARK(BM_OpenLoop_G729A_chain);

void BM_ClosedLoop_G729_voksc(benchmark::State& st) {
  const auto& subs = subframes();
  for (int k = 0; k < kFrames; ++k) {
    Subframe a = subs[k], b = subs[k];
    Vok16s d[2], vec[40];
    int lag, frac;
    voksAdaptiveCodebookSearch_G729_16s(a.centre, a.x, a.h, a.exc, d, vec, k & 1);
    closedLoopChain(b, b.exc + 154, k & 1, lag, frac);
    if (d[0] != lag || d[1] != frac || std::memcmp(a.exc, b.exc, sizeof a.exc)) st.SkipWithError("forms differ");
  }
  int k = 0;
  for (auto _ : st) {
    Subframe a = subs[k % kFrames];
    Vok16s d[2], vec[40];
    voksAdaptiveCodebookSearch_G729_16s(a.centre, a.x, a.h, a.exc, d, vec, k++ & 1);
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_ClosedLoop_G729_voksc);

void BM_ClosedLoop_G729_chain(benchmark::State& st) {
  const auto& subs = subframes();
  int k = 0;
  for (auto _ : st) {
    Subframe a = subs[k % kFrames];
    int lag, frac;
    closedLoopChain(a, a.exc + 154, k++ & 1, lag, frac);
    benchmark::DoNotOptimize(lag);
  }
}
BENCHMARK(BM_ClosedLoop_G729_chain);

void BM_ClosedLoop_G729D_voksc(benchmark::State& st) {
  const auto& subs = subframes();
  int k = 0;
  for (auto _ : st) {
    const Subframe& a = subs[k % kFrames];
    Vok16s d[2];
    voksAdaptiveCodebookSearch_G729D_16s(a.centre, a.x, a.h, a.exc, k++ & 1, d);
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_ClosedLoop_G729D_voksc);

void BM_ClosedLoop_G729A_voksc(benchmark::State& st) {
  const auto& subs = subframes();
  int k = 0;
  for (auto _ : st) {
    Subframe a = subs[k % kFrames];
    Vok16s d[2], vec[40];
    voksAdaptiveCodebookSearch_G729A_16s(a.centre, a.x, a.h, a.exc, d, vec, k++ & 1);
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_ClosedLoop_G729A_voksc);

// The closed-loop kernels alone: one delay step (energy, correlation and
// the filtered-excitation update).
template <bool Avx2>
void BM_ClosedLoopStep(benchmark::State& st) {
  using namespace voksc::g729::pitch;
  const auto& a = subframes()[3];
  int16_t s[40], o[40];
  std::memcpy(s, a.x, sizeof s);
  for (auto _ : st) {
    int64_t e, c;
    if (Avx2) {
      energyAndCorrelation_avx2(s, a.x, e, c);
      shiftFiltered_avx2(s, o, a.exc[7], a.h, 3, 0);
    } else {
      energyAndCorrelation_scalar(s, a.x, e, c);
      shiftFiltered_scalar(s, o, a.exc[7], a.h, 3, 0);
    }
    benchmark::DoNotOptimize(e);
    benchmark::DoNotOptimize(c);
    benchmark::DoNotOptimize(o);
  }
}
BENCHMARK_TEMPLATE(BM_ClosedLoopStep, false)->Name("BM_ClosedLoopStep_scalar");
BENCHMARK_TEMPLATE(BM_ClosedLoopStep, true)->Name("BM_ClosedLoopStep_avx2");

}  // namespace
