// The AVX2 forms of the matrix build and of the pulse searches against the
// scalar forms, bit for bit, on inputs that reach every path: speech-like
// responses, full-scale and most-negative samples (saturating chains),
// arbitrary matrices (wrapping energies) and chains started near the 32-bit
// limits (the vector forms' fallbacks).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "common/basic_op.h"
#include "g729/fcb_internal.h"
#include "g729/gain_predict.h"
#include "levels.h"

namespace fcb = voksc::g729::fcb;
using namespace vtest;

TEST(G729FcbKernels, DiagonalChains) {
  REQUIRE_AVX2();
  std::mt19937 rng(11);
  const int32_t inits[][2] = {{0, 0}, {0x10000, 0x8000}, {0x7FFF0000, -0x7FFF0000}, {-5, 7}};
  for (Kind k : kKinds)
    for (const auto& init : inits)
      for (int rep = 0; rep < 20; ++rep) {
        int16_t h[40];
        fill(rng, k, h, 40);
        fcb::Chains a, b;
        fcb::diagonalChains_scalar(h, init[0], init[1], a);
        fcb::diagonalChains_avx2(h, init[0], init[1], b);
        for (int d = 0; d < 40; ++d)
          for (int m = 0; m + d < 40; ++m)
            ASSERT_EQ(a.v[m * 40 + d], b.v[m * 40 + d]) << "kind " << int(k) << " d " << d << " m " << m;
      }
}

// Both layouts, both widths; the 32-bit values are the exact sums of the
// scaled response whenever its doubled energy fits 32 bits.
TEST(G729FcbKernels, MatrixForms) {
  REQUIRE_AVX2();
  std::mt19937 rng(12);
  for (Kind k : kKinds)
    for (int rep = 0; rep < 20; ++rep)
      for (int d6 = 0; d6 < 2; ++d6) {
        int16_t h[40];
        fill(rng, k, h, 40);
        int16_t a16[616], b16[616];
        int32_t a32[616], b32[616];
        fcb::matrix16(h, d6 != 0, a16, false);
        fcb::matrix16(h, d6 != 0, b16, true);
        fcb::matrix32(h, d6 != 0, a32, false);
        fcb::matrix32(h, d6 != 0, b32, true);
        ASSERT_EQ(0, std::memcmp(a16, b16, sizeof a16));
        ASSERT_EQ(0, std::memcmp(a32, b32, sizeof a32));
        for (int i = 0; i < 616; ++i) ASSERT_EQ(a16[i], static_cast<int16_t>(a32[i] >> 15));
        int16_t hs[40];
        fcb::scaleResponse(h, hs);
        // The scaling as the chain of squares and the saturating shifts.
        int32_t chain = 0;
        for (int i = 0; i < 40; ++i) chain = voksc::op::L_mac(chain, h[i], h[i]);
        const int16_t up = voksc::op::shr(voksc::op::norm_l(chain), 1);
        for (int i = 0; i < 40; ++i)
          ASSERT_EQ(hs[i], voksc::op::extract_h(chain) > 32000 ? voksc::op::shr(h[i], 1) : voksc::op::shl(h[i], up));
        int64_t e = 0;
        for (int i = 0; i < 40; ++i) e += int32_t{hs[i]} * hs[i];
        if (2 * e > INT32_MAX || d6) continue;
        // Diagonal 0 of track 0 at position 0: the whole energy.
        EXPECT_EQ(a32[0], e);
        // (i0 = 0, i1 = 1): sum over n = 0..38 of hs[n] hs[n + 1].
        int64_t c = 0;
        for (int n = 0; n < 39; ++n) c += int32_t{hs[n]} * hs[n + 1];
        EXPECT_EQ(a32[fcb::k01], c);
      }
}

namespace {

// A matrix from a response of the kind (layout of Annex D or of the other
// searches), or of arbitrary values (energies that wrap) for Loud.
void randomMatrix(std::mt19937& rng, Kind k, bool annexD, int16_t* rr, int16_t* h) {
  fill(rng, k == Kind::Loud ? Kind::Decaying : k, h, 40);
  fcb::matrix16(h, annexD, rr, false);
  if (k == Kind::Loud) {
    std::uniform_int_distribution<int> full(-32768, 32767);
    for (int i = 0; i < 616; ++i) rr[i] = static_cast<int16_t>(full(rng));
  }
}

// Everything a pulse search gives: index, signs, budget, code vector,
// filtered vector (Annex D) and the matrix and target it leaves.
struct SearchOut {
  int16_t index, signs, budget, code[40], y[40], rr[616], dn[40];
};

enum class Form { Focused, AnnexA, AnnexD };

SearchOut search(Form f, bool avx, const int16_t* rr, const int16_t* dn, const int16_t* h, int16_t budget, bool first) {
  SearchOut o{};
  std::memcpy(o.rr, rr, sizeof o.rr);
  std::memcpy(o.dn, dn, sizeof o.dn);
  o.budget = budget;
  fcb::PulseResult r{};
  if (f == Form::Focused)
    r = (avx ? fcb::searchG729_avx2 : fcb::searchG729_scalar)(o.dn, o.rr, o.code, &o.budget, first);
  else if (f == Form::AnnexA)
    r = (avx ? fcb::searchG729A_avx2 : fcb::searchG729A_scalar)(o.dn, o.rr, o.code);
  else
    r = (avx ? fcb::searchG729D_avx2 : fcb::searchG729D_scalar)(o.dn, o.rr, h, o.code, o.y);
  o.index = r.index;
  o.signs = r.signs;
  return o;
}

}  // namespace

// The three pulse searches on every kind of matrix and target, the focused
// one with budgets from exhausted to ample; then the focused search on
// matrices of uniformly large values of one sign (energies that wrap in the
// 16-bit truncation, correlations that saturate).
TEST(G729FcbKernels, SearchFormsAgree) {
  REQUIRE_AVX2();
  std::mt19937 rng(13);
  std::uniform_int_distribution<int> budgetDist(-80, 200), big(30000, 32767), dnDist(0, 8000);
  auto same = [](Form f, const int16_t* rr, const int16_t* dn, const int16_t* h, int16_t budget, bool first) {
    const SearchOut a = search(f, false, rr, dn, h, budget, first), b = search(f, true, rr, dn, h, budget, first);
    return std::memcmp(&a, &b, sizeof a) == 0;
  };
  for (Form f : {Form::Focused, Form::AnnexA, Form::AnnexD})
    for (Kind k : kKinds)
      for (Kind kd : kKinds)
        for (int rep = 0; rep < 6; ++rep) {
          int16_t h[40], rr[616], dn[40];
          randomMatrix(rng, k, f == Form::AnnexD, rr, h);
          fill(rng, kd, dn, 40);
          ASSERT_TRUE(same(f, rr, dn, h, static_cast<int16_t>(budgetDist(rng)), rep & 1))
              << int(f) << " " << int(k) << " " << int(kd) << " " << rep;
        }
  for (int rep = 0; rep < 30; ++rep) {
    int16_t rr[616], dn[40];
    for (int i = 0; i < 616; ++i) rr[i] = static_cast<int16_t>((rep & 1) ? big(rng) : -big(rng));
    for (int i = 0; i < 40; ++i) dn[i] = static_cast<int16_t>(dnDist(rng));
    ASSERT_TRUE(same(Form::Focused, rr, dn, nullptr, 50, false)) << rep;
  }
  // Diagonals and cross blocks each of its own kind (large of one sign,
  // arbitrary, small) and targets with zeros: phases in lanes beside row
  // walks that leave no winner, so positions carry over between phases.
  const int blockStart[] = {0, 8, 16, 24, 32, 40, 104, 168, 232, 296, 360, 424, 488, 552, 616};
  std::uniform_int_distribution<int> family(0, 3), full(-32768, 32767), small(-1000, 999);
  for (int rep = 0; rep < 60; ++rep) {
    int16_t rr[616], dn[40];
    for (int blk = 0; blk < 14; ++blk) {
      const int fam = family(rng);
      for (int i = blockStart[blk]; i < blockStart[blk + 1]; ++i)
        rr[i] = static_cast<int16_t>(fam == 0 ? big(rng) : fam == 1 ? -big(rng) : fam == 2 ? full(rng) : small(rng));
    }
    for (int i = 0; i < 40; ++i) dn[i] = static_cast<int16_t>(rng() % 3 == 0 ? 0 : dnDist(rng));
    ASSERT_TRUE(same(Form::AnnexA, rr, dn, nullptr, 0, false)) << rep;
  }
}

// Loud targets and residuals make the fixed pulses' response large: the
// correlations with it then leave the exact 32-bit lanes for the chains.
TEST(G729FcbKernels, AnnexESearchForms) {
  REQUIRE_AVX2();
  std::mt19937 rng(17);
  for (Kind k : kKinds)
    for (Kind kx : kKinds)
      for (int rep = 0; rep < 4; ++rep) {
        int16_t h[40], x[40], cn[40];
        fill(rng, k, h, 40);
        fill(rng, kx, x, 40);
        fill(rng, rep & 1 ? Kind::Loud : Kind::Speechlike, cn, 40);
        for (int backward = 0; backward < 2; ++backward) {
          int16_t ca[40], cb[40], ya[40], yb[40], ia[5], ib[5];
          fcb::searchG729E_scalar(backward != 0, x, cn, h, ca, ya, ia);
          fcb::searchG729E_avx2(backward != 0, x, cn, h, cb, yb, ib);
          ASSERT_EQ(0, std::memcmp(ca, cb, sizeof ca)) << int(k) << " " << int(kx) << " " << rep;
          ASSERT_EQ(0, std::memcmp(ya, yb, sizeof ya));
          ASSERT_EQ(0, std::memcmp(ia, ib, sizeof ia));
        }
      }
}

// The gain quantiser's candidate search (inside its saturation bound); some
// inputs repeat rows so that equal distances test the first-best rule.
TEST(G729FcbKernels, GainSearchForms) {
  REQUIRE_AVX2();
  std::mt19937 rng(41);
  std::uniform_int_distribution<int> full(-32768, 32767), gain(-8000, 8000), term(-2000, 2000), low(0, 32767);
  for (int it = 0; it < 3000; ++it) {
    voksc::g729::gain::GainLanes g{};
    for (int k = 0; k < 5; ++k) {
      g.ch[k] = term(rng);
      g.cl[k] = low(rng);
    }
    g.gcode0 = low(rng);
    g.rows = it % 3 ? 4 : 6;
    g.n = it % 3 ? 8 : 6;
    g.tame = it & 1;
    const int distinct = it % 4 ? 8 : 2;  // every fourth input repeats two rows
    for (int i = 0; i < g.rows; ++i) {
      g.p1[i] = i < distinct ? static_cast<int16_t>(gain(rng) + 8000) : g.p1[i % distinct];
      g.f1[i] = i < distinct ? static_cast<int16_t>(full(rng)) : g.f1[i % distinct];
    }
    for (int j = 0; j < g.n; ++j) {
      g.p2[j] = j < distinct ? static_cast<int16_t>(gain(rng)) : g.p2[j % distinct];
      g.f2[j] = j < distinct ? static_cast<int16_t>(full(rng)) : g.f2[j % distinct];
    }
    if (it % 5 == 0) g.p2[0] = static_cast<int16_t>(16383 - g.p1[it % g.rows]);  // a pitch gain at the taming limit
    const int s = voksc::g729::gain::gainSearch_scalar(g);
    ASSERT_EQ(s, voksc::g729::gain::gainSearch_avx2(g)) << it;
    ASSERT_TRUE(s / 8 < g.rows && s % 8 < g.n) << it;
  }
}
