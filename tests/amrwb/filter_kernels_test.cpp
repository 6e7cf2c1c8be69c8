// AMR-WB filter kernels: the portable and the AVX2 forms against a plain
// model of the saturating chains, on quiet, loud and full-scale signals and
// on taps small enough for the plain sums and large enough to saturate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "amrwb/filter_kernels.h"
#include "common/basic_op.h"
#include "levels.h"

using namespace voksc::op;
namespace wb = voksc::amrwb;

namespace {

std::vector<int16_t> noise(int n, int amp, std::mt19937& rng, bool extremes) {
  std::vector<int16_t> v(n);
  for (auto& s : v)
    s = extremes ? ((rng() & 1) ? int16_t{-32768} : int16_t{32767})
                 : static_cast<int16_t>(static_cast<int>(rng() % (2 * amp + 1)) - amp);
  return v;
}

// Trial t: signal and tap amplitudes cycling through the bounded and the
// saturating cases.
struct Trial {
  std::vector<int16_t> x, a;
};
Trial trial(int t, int nx, int na, std::mt19937& rng) {
  static const int kX[] = {300, 8000, 32767, 32767}, kA[] = {1500, 3000, 6000, 32767};
  return {noise(nx, kX[t % 4], rng, t % 11 == 10), noise(na, kA[(t / 4) % 4], rng, false)};
}

}  // namespace

TEST(AmrWbFilterKernels, ResidualChainsMatchTheChain) {
  std::mt19937 rng(5);
  for (int t = 0; t < 400; ++t) {
    const int order = t % 3 == 0 ? 16 : 1 + static_cast<int>(rng() % 20), len = 1 + static_cast<int>(rng() % 80);
    const Trial c = trial(t, order + len, order + 1, rng);
    const int16_t* x = c.x.data() + order;
    std::vector<int32_t> want(len), got(len);
    for (int n = 0; n < len; ++n) {
      Word32 s = L_mult(x[n], c.a[0]);
      for (int i = 1; i <= order; ++i) s = L_mac(s, c.a[i], x[n - i]);
      want[n] = s;
    }
    wb::residualChains_scalar(c.a.data(), order, x, got.data(), len);
    ASSERT_EQ(got, want) << "scalar, trial " << t;
    if (!vtest::haveAvx2()) continue;
    wb::residualChains_avx2(c.a.data(), order, x, got.data(), len);
    ASSERT_EQ(got, want) << "avx2, trial " << t;
  }
}

TEST(AmrWbFilterKernels, Synthesis32MatchesTheChain) {
  std::mt19937 rng(6);
  for (int t = 0; t < 400; ++t) {
    const int order = t % 4 == 3 ? 1 + static_cast<int>(rng() % 20) : 16, len = 1 + static_cast<int>(rng() % 80);
    Trial c = trial(t, len, order + 1, rng);
    std::vector<int32_t> start(order + len);
    for (int i = 0; i < order; ++i) start[i] = static_cast<int32_t>(rng()) & ~15;
    std::vector<int32_t> want = start;
    for (int n = 0; n < len; ++n) {
      const int32_t* y = want.data() + order + n;
      Word32 acc = 0;
      for (int j = 1; j <= order; ++j) acc = L_msu(acc, static_cast<int16_t>((y[-j] >> 4) & 0xFFF), c.a[j]);
      acc = L_mac(L_shr(acc, 12), c.x[n], c.a[0]);
      for (int j = 1; j <= order; ++j) acc = L_msu(acc, extract_h(y[-j]), c.a[j]);
      want[order + n] = static_cast<int32_t>(static_cast<uint32_t>(L_shl(acc, 3)) & ~15u);
    }
    std::vector<int32_t> got = start;
    wb::synthesis32_scalar(c.a.data(), order, c.x.data(), got.data() + order, len);
    ASSERT_EQ(got, want) << "scalar, trial " << t;
    if (!vtest::haveAvx2()) continue;
    got = start;
    wb::synthesis32_avx2(c.a.data(), order, c.x.data(), got.data() + order, len);
    ASSERT_EQ(got, want) << "avx2, trial " << t;
  }
}

TEST(AmrWbFilterKernels, InterpolationMatchesTheChainAtShortDelays) {
  std::mt19937 rng(7);
  for (int t = 0; t < 300; ++t) {
    const int back = 32 + static_cast<int>(rng() % 120), n = 1 + static_cast<int>(rng() % 65);
    const Trial c = trial(t, back + n, 32, rng);
    std::vector<int16_t> want = c.x;
    for (int j = 0; j < n; ++j) {
      Word32 acc = 0;
      for (int k = 0; k < 32; ++k) acc = L_mac(acc, want[back + j - back + k], c.a[k]);
      want[back + j] = round_fx(L_shl(acc, 1));
    }
    std::vector<int16_t> got = c.x;
    wb::interpolate32_scalar(got.data() + back, back, c.a.data(), n);
    ASSERT_EQ(got, want) << "scalar, trial " << t;
    if (!vtest::haveAvx2()) continue;
    got = c.x;
    wb::interpolate32_avx2(got.data() + back, back, c.a.data(), n);
    ASSERT_EQ(got, want) << "avx2, trial " << t;
  }
}

TEST(AmrWbFilterKernels, PairRowMatchesTheOperators) {
  std::mt19937 rng(8);
  const int32_t reach = INT32_MAX - (3 << 28);
  for (int t = 0; t < 300; ++t) {
    const Trial c = trial(t, 48, 1, rng);
    const int16_t ps1 = c.x[0];
    const int32_t alp1 = t % 5 == 0 ? (t % 2 ? reach : -reach) : static_cast<int32_t>(static_cast<int64_t>(rng() % (2u * reach)) - reach);
    int16_t want[2][16], got[2][16];
    for (int i = 0; i < 16; ++i) {
      const Word16 ps2 = add(ps1, c.x[i]);
      want[0][i] = mult(ps2, ps2);
      want[1][i] = extract_h(L_mac(L_mac(alp1, c.x[16 + i], 4096), c.x[32 + i], 8192));
    }
    // The best so far: the search's start (-1, 1), or one of the row's own
    // pairs (which ties with itself), nudged.
    const int k = t % 16;
    const int16_t bestSq = t % 3 == 0 ? -1 : want[0][k], bestAlp = t % 3 == 0 ? 1 : add(want[1][k], (t % 4) - 1);
    bool beats = false;
    for (int i = 0; i < 16; ++i) beats |= L_msu(L_mult(bestAlp, want[0][i]), bestSq, want[1][i]) > 0;
    const bool s = wb::pairRow_scalar(ps1, alp1, c.x.data(), c.x.data() + 16, c.x.data() + 32, bestSq, bestAlp,
                                      got[0], got[1]);
    ASSERT_EQ(0, std::memcmp(got, want, sizeof want)) << "scalar, trial " << t;
    ASSERT_EQ(beats, s) << "scalar, trial " << t;
    if (!vtest::haveAvx2()) continue;
    const bool v = wb::pairRow_avx2(ps1, alp1, c.x.data(), c.x.data() + 16, c.x.data() + 32, bestSq, bestAlp,
                                    got[0], got[1]);
    ASSERT_EQ(0, std::memcmp(got, want, sizeof want)) << "avx2, trial " << t;
    ASSERT_EQ(beats, v) << "avx2, trial " << t;
  }
}

TEST(AmrWbFilterKernels, FilteredStepMatchesTheOperators) {
  std::mt19937 rng(9);
  for (int t = 0; t < 300; ++t) {
    const Trial c = trial(t, 192, 1, rng);  // h, f, x; the extremes trials hold -32768 in all three
    const int16_t older = t % 7 == 6 ? kMin16 : c.x[0];
    const int16_t *h = c.x.data(), *f = h + 64, *x = h + 128;
    int16_t want[64], got[64];
    int64_t we = 0, wc = 0, ge = 0, gc = 0;
    for (int n = 0; n < 64; ++n) {
      want[n] = add(mult(older, h[n]), n > 0 ? f[n - 1] : int16_t{0});
      we += want[n] * want[n];
      wc += x[n] * want[n];
    }
    wb::filteredStep_scalar(older, h, f, x, got, &ge, &gc);
    ASSERT_TRUE(!std::memcmp(got, want, sizeof want) && ge == we && gc == wc) << "scalar, trial " << t;
    if (!vtest::haveAvx2()) continue;
    wb::filteredStep_avx2(older, h, f, x, got, &ge, &gc);
    ASSERT_TRUE(!std::memcmp(got, want, sizeof want) && ge == we && gc == wc) << "avx2, trial " << t;
  }
}

TEST(AmrWbFilterKernels, CrossRowsMatchTheOperators) {
  std::mt19937 rng(10);
  for (int t = 0; t < 48; ++t) {
    const Trial c = trial(t, 64 * 64 + 64, 1, rng);
    const int16_t *tail = c.x.data(), *sign = tail + 64 * 64;
    const int tr = t % 4, next = (tr + 1 + t / 16) % 4;
    int16_t want[256], got[256];
    for (int i = 0; i < 256; ++i) {
      const int p = tr + 4 * (i / 16), q = next + 4 * (i % 16), hi = p > q ? p : q;
      want[i] = mult(tail[(63 - hi) * 64 + (hi - (p + q - hi))], (sign[p] < 0) != (sign[q] < 0) ? kMin16 : kMax16);
    }
    wb::crossRows_scalar(tail, sign, tr, next, got);
    ASSERT_EQ(0, std::memcmp(got, want, sizeof want)) << "scalar, trial " << t;
    if (!vtest::haveAvx2()) continue;
    wb::crossRows_avx2(tail, sign, tr, next, got);
    ASSERT_EQ(0, std::memcmp(got, want, sizeof want)) << "avx2, trial " << t;
  }
}

TEST(AmrWbFilterKernels, PulseRowsMatchTheSums) {
  std::mt19937 rng(11);
  constexpr int kStride = wb::kPulseRowStride;
  for (int t = 0; t < 24; ++t) {
    const std::vector<int16_t> h = trial(t, 64, 1, rng).x;
    std::vector<uint32_t> want(64 * kStride, 0), got(64 * kStride, 1);
    for (int x = 0; x < 64; ++x)
      for (int p = 0; p < 64; ++p) {
        int64_t s = 0;
        for (int n = p > x ? p : x; n < 64; ++n) s += int64_t{h[n - p]} * h[n - x];
        want[x * kStride + p] = static_cast<uint32_t>(s);
      }
    wb::pulseRows_scalar(h.data(), got.data());
    ASSERT_EQ(got, want) << "scalar, trial " << t;
    if (!vtest::haveAvx2()) continue;
    std::fill(got.begin(), got.end(), 1u);
    wb::pulseRows_avx2(h.data(), got.data());
    ASSERT_EQ(got, want) << "avx2, trial " << t;
  }
}

TEST(AmrWbFilterKernels, PairTailsMatchTheChains) {
  std::mt19937 rng(12);
  for (int t = 0; t < 32; ++t) {
    std::vector<int16_t> h = trial(t, 64, 1, rng).x;
    const Word32 same = (t & 1) ? 0x10000 : 0x8000, cross = 0x8000;
    // Within the callers' bound: the start plus twice the energy below 2^31.
    auto energy = [&h] {
      int64_t e = 0;
      for (int16_t v : h) e += int32_t{v} * v;
      return e;
    };
    while (same + 2 * energy() > INT32_MAX)
      for (auto& v : h) v = static_cast<int16_t>(v / 2 + (t % 3 == 0 ? (v > 0 ? 1 : -1) : 0));
    int16_t want[64 * 64] = {}, got[64 * 64];
    for (int diff = 0; diff < 64; ++diff) {
      Word32 c = diff == 0 ? same : cross;
      for (int u = 0; u + diff < 64; ++u) {
        c = L_mac(c, h[u], h[u + diff]);
        want[64 * u + diff] = extract_h(c);
      }
    }
    auto valid = [&](const int16_t* tail) {
      for (int u = 0; u < 64; ++u)
        for (int diff = 0; diff < 64 - u; ++diff)
          if (tail[64 * u + diff] != want[64 * u + diff]) return false;
      return true;
    };
    wb::pairTails_scalar(h.data(), same, cross, got);
    ASSERT_TRUE(valid(got)) << "scalar, trial " << t;
    if (!vtest::haveAvx2()) continue;
    wb::pairTails_avx2(h.data(), same, cross, got);
    ASSERT_TRUE(valid(got)) << "avx2, trial " << t;
  }
}

TEST(AmrWbFilterKernels, TrackCorrelationsMatchTheOperators) {
  std::mt19937 rng(13);
  for (int t = 0; t < 64; ++t) {
    const Trial c = trial(t, 64 + 16, 64, rng);
    uint32_t s[64];
    int16_t sign[64];
    for (int p = 0; p < 64; ++p) {
      // Sums below 2^30 in magnitude: the extremes, the saturating
      // roundings near 2^29 and random sizes.
      const int32_t edge[] = {(1 << 30) - 1, -(1 << 30) + 1, (1 << 29) - 0x2000, -(1 << 29) - 0x2001, -(1 << 29)};
      const int32_t v = (t % 4 == 0) ? edge[(p + t) % 5] : c.x[p] * (1 << (t % 15));
      s[p] = static_cast<uint32_t>(v);
      sign[p] = (c.a[p] & 1) ? kMax16 : kMin16;
    }
    const int16_t* self = c.x.data() + 64;
    const int track = t % 4;
    int16_t want[16], got[16];
    for (int i = 0; i < 16; ++i) {
      const int p = track + 4 * i;
      const Word32 chain = static_cast<Word32>(2 * static_cast<int32_t>(s[p]));
      want[i] = add(mult(round_fx(L_shl(chain, 1)), sign[p]), self[i]);
    }
    wb::trackCorrelations_scalar(s, sign, self, track, got);
    ASSERT_EQ(0, std::memcmp(got, want, sizeof want)) << "scalar, trial " << t;
    if (!vtest::haveAvx2()) continue;
    wb::trackCorrelations_avx2(s, sign, self, track, got);
    ASSERT_EQ(0, std::memcmp(got, want, sizeof want)) << "avx2, trial " << t;
  }
}
