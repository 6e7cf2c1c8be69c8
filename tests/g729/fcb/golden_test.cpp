// Golden data recorded from the ITU-T reference coders (G.729, Annexes A,
// D, E, I and the float Annexes C and C+, built outside this repository)
// on the conformance speech, plus random and extreme inputs run through the
// same reference functions.  Every output word is compared.  The searches
// run through the exports, so the forced-portable run of the suite
// (VOKSC_CPU=scalar) holds their scalar kernels to the same records;
// kernel_test.cpp compares the two forms directly.
//
// File layout: word 0 the record count, word 1 the record length in words,
// then the records.  Floats and 32-bit values are stored as two words, low
// first.  Sparse code vectors: positions (-1 for none) then values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "vectors.h"
#include "voksc.h"

namespace {

struct Golden {
  std::vector<int16_t> w;
  int count = 0, len = 0;
  const int16_t* rec(int r) const { return w.data() + 2 + static_cast<std::size_t>(r) * len; }
};

Golden load(const char* name, int expectLen) {
  Golden g;
  const std::string path = vtest::goldenDir() + "/g729/fcb/" + name;
  EXPECT_TRUE(vtest::readWords(path, g.w)) << path;
  if (g.w.size() < 2) return g;
  g.count = g.w[0];
  g.len = g.w[1];
  EXPECT_EQ(g.len, expectLen) << name;
  EXPECT_EQ(g.w.size(), 2u + static_cast<std::size_t>(g.count) * g.len) << name;
  if (g.len != expectLen) g.count = 0;
  return g;
}

float f32(const int16_t* p) {
  const uint32_t u = static_cast<uint16_t>(p[0]) | (static_cast<uint32_t>(static_cast<uint16_t>(p[1])) << 16);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

void floats(const int16_t* p, int n, float* out) {
  for (int i = 0; i < n; ++i) out[i] = f32(p + 2 * i);
}

// Dense vector from k positions and k values.
template <class T>
void unsparse(const int16_t* p, int k, T* out) {
  for (int i = 0; i < 40; ++i) out[i] = 0;
  for (int i = 0; i < k; ++i)
    if (p[i] >= 0) out[p[i]] = static_cast<T>(p[k + i]);
}

template <class T>
::testing::AssertionResult same(const T* got, const T* want, int n) {
  for (int i = 0; i < n; ++i)
    if (std::memcmp(got + i, want + i, sizeof(T)) != 0)
      return ::testing::AssertionFailure() << "word " << i << ": " << +got[i] << " != " << +want[i];
  return ::testing::AssertionSuccess();
}

// Scalar outputs side by side, to compare with the words of a record.
using V = std::vector<int64_t>;
template <class... T>
V words(T... x) {
  return V{static_cast<int64_t>(x)...};
}
V words(const int16_t* p, int n) { return V(p, p + n); }

}  // namespace

TEST(G729FcbGolden, CorrelationMatrix) {
  const Golden g = load("matrix_g729.bin", 40 + 616);
  ASSERT_GT(g.count, 10);
  for (int r = 0; r < g.count; ++r) {
    const int16_t* h = g.rec(r);
    const int16_t* want = h + 40;
    Vok16s rr[616];
    Vok32s rr32[616];
    ASSERT_EQ(voksToeplizMatrix_G729_16s(h, rr), vokOk);
    EXPECT_TRUE(same(rr, want, 616)) << "record " << r;
    ASSERT_EQ(voksToeplizMatrix_G729_16s32s(h, rr32), vokOk);
    for (int i = 0; i < 616; ++i) rr[i] = static_cast<Vok16s>(rr32[i] >> 15);  // the upper word
    EXPECT_TRUE(same(rr, want, 616)) << "record " << r << " (32-bit)";
  }
}

// The focused search from the response (matrix computed here) or from a
// recorded matrix of arbitrary values with the signed matrix it leaves.
TEST(G729FcbGolden, FocusedSearch) {
  const Golden g = load("search_g729.bin", 40 + 40 + 2 + 8 + 3);
  ASSERT_GT(g.count, 50);
  int exhausted = 0;
  for (int r = 0; r < g.count; ++r) {
    const int16_t* h = g.rec(r);
    const int16_t* dn = h + 40;
    const int sf = dn[40] != 0;
    const int16_t* out = dn + 42;
    Vok16s want[40];
    unsparse(out, 4, want);
    const Vok16s wantIndex = out[8], wantSigns = out[9], wantBudget = out[10];
    exhausted += wantBudget <= 0;
    Vok16s rr[616], code[40], index[2], budget = sf ? dn[41] : Vok16s{-999};
    voksToeplizMatrix_G729_16s(h, rr);
    ASSERT_EQ(voksFixedCodebookSearch_G729_16s(dn, rr, code, index, &budget, sf), vokOk);
    EXPECT_TRUE(same(code, want, 40)) << "record " << r;
    EXPECT_EQ(words(index[0], index[1], budget), words(wantIndex, wantSigns, wantBudget)) << "record " << r;
    // The 32-bit matrix form.
    Vok32s rr32[616];
    voksToeplizMatrix_G729_16s32s(h, rr32);
    budget = sf ? dn[41] : Vok16s{123};
    ASSERT_EQ(voksFixedCodebookSearch_G729_32s16s(dn, rr32, code, index, &budget, sf), vokOk);
    EXPECT_TRUE(same(code, want, 40)) << "record " << r << " (32-bit)";
    EXPECT_EQ(words(index[0], index[1], budget), words(wantIndex, wantSigns, wantBudget)) << "record " << r;
  }
  EXPECT_GT(exhausted, 5);  // searches cut short by the budget are covered
}

TEST(G729FcbGolden, FocusedSearchArbitraryMatrix) {
  const Golden g = load("search_g729_rr.bin", 616 + 40 + 2 + 8 + 3 + 616);
  ASSERT_GE(g.count, 2);
  for (int r = 0; r < g.count; ++r) {
    const int16_t* rr0 = g.rec(r);
    const int16_t* dn = rr0 + 616;
    const int sf = dn[40] != 0;
    const int16_t* out = dn + 42;
    const int16_t* wantRr = out + 11;
    Vok16s want[40];
    unsparse(out, 4, want);
    Vok16s rr[616], code[40], index[2], budget = dn[41];
    std::memcpy(rr, rr0, sizeof rr);
    ASSERT_EQ(voksFixedCodebookSearch_G729_16s(dn, rr, code, index, &budget, sf), vokOk);
    EXPECT_TRUE(same(code, want, 40)) << "record " << r;
    EXPECT_EQ(words(index[0], index[1], budget), words(out + 8, 3)) << "record " << r;
    EXPECT_TRUE(same(rr, wantRr, 616)) << "signed matrix, record " << r;
  }
}

TEST(G729FcbGolden, AnnexASearch) {
  const Golden g = load("search_g729a.bin", 40 + 40 + 8 + 2);
  ASSERT_GT(g.count, 50);
  for (int r = 0; r < g.count; ++r) {
    const int16_t* h = g.rec(r);
    const int16_t* dn = h + 40;
    const int16_t* out = dn + 40;
    Vok16s want[40];
    unsparse(out, 4, want);
    Vok16s rr[616], code[40], index[2];
    voksToeplizMatrix_G729_16s(h, rr);
    ASSERT_EQ(voksFixedCodebookSearch_G729A_16s(dn, rr, code, index), vokOk);
    EXPECT_TRUE(same(code, want, 40)) << "record " << r;
    EXPECT_EQ(words(index[0], index[1]), words(out + 8, 2)) << "record " << r;
    Vok32s rr32[616];
    voksToeplizMatrix_G729_16s32s(h, rr32);
    ASSERT_EQ(voksFixedCodebookSearch_G729A_32s16s(dn, rr32, code, index), vokOk);
    EXPECT_TRUE(same(code, want, 40)) << "record " << r << " (32-bit)";
    EXPECT_EQ(words(index[0], index[1]), words(out + 8, 2)) << "record " << r;
  }
}

TEST(G729FcbGolden, AnnexASearchArbitraryMatrix) {
  const Golden g = load("search_g729a_rr.bin", 616 + 40 + 8 + 2 + 616);
  ASSERT_GE(g.count, 2);
  for (int r = 0; r < g.count; ++r) {
    const int16_t* rr0 = g.rec(r);
    const int16_t* dn = rr0 + 616;
    const int16_t* out = dn + 40;
    Vok16s want[40];
    unsparse(out, 4, want);
    Vok16s rr[616], code[40], index[2];
    std::memcpy(rr, rr0, sizeof rr);
    ASSERT_EQ(voksFixedCodebookSearch_G729A_16s(dn, rr, code, index), vokOk);
    EXPECT_TRUE(same(code, want, 40)) << "record " << r;
    EXPECT_EQ(words(index[0], index[1]), words(out + 8, 2)) << "record " << r;
    EXPECT_TRUE(same(rr, out + 10, 616)) << "signed matrix, record " << r;
  }
}

TEST(G729FcbGolden, AnnexDSearch) {
  const Golden g = load("search_g729d.bin", 40 + 40 + 4 + 40 + 2);
  ASSERT_GT(g.count, 40);
  int doubled = 0;
  for (int r = 0; r < g.count; ++r) {
    const int16_t* h = g.rec(r);
    const int16_t* dn = h + 40;
    const int16_t* out = dn + 40;
    const int16_t* wantY = out + 4;
    Vok16s want[40];
    unsparse(out, 2, want);
    doubled += out[1] < 0;
    Vok16s code[40], y[40], sign, index;
    ASSERT_EQ(voksFixedCodebookSearch_G729D_16s(dn, h, code, y, &sign, &index), vokOk);
    EXPECT_TRUE(same(code, want, 40)) << "record " << r;
    EXPECT_TRUE(same(y, wantY, 40)) << "record " << r;
    EXPECT_EQ(words(sign, index), words(wantY + 40, 2)) << "record " << r;
  }
  EXPECT_GT(doubled, 0);  // both pulses on one position
}

TEST(G729FcbGolden, AnnexESearches) {
  const Golden g = load("search_g729e.bin", 1 + 120 + 24 + 40 + 5);
  ASSERT_GT(g.count, 40);
  int modes[2] = {0, 0};
  for (int r = 0; r < g.count; ++r) {
    const int16_t* p = g.rec(r);
    const int mode = p[0];
    const int16_t *x = p + 1, *cn = p + 41, *h = p + 81, *out = p + 121;
    const int16_t* wantY = out + 24;
    const int16_t* wantIdx = wantY + 40;
    ++modes[mode != 0];
    Vok16s want[40];
    unsparse(out, 12, want);
    Vok16s code[40], y[40], index[5];
    ASSERT_EQ(voksFixedCodebookSearch_G729E_16s(mode, x, cn, h, code, y, index), vokOk);
    EXPECT_TRUE(same(code, want, 40)) << "record " << r;
    EXPECT_TRUE(same(y, wantY, 40)) << "record " << r;
    EXPECT_TRUE(same(index, wantIdx, 5)) << "record " << r;
  }
  EXPECT_GT(modes[0], 10);
  EXPECT_GT(modes[1], 10);
}

namespace {

// x, y, code, z, memory, tame flag -> gains, rows, memory.
void gainQuantGolden(const char* file, bool lowRate) {
  const Golden g = load(file, 160 + 4 + 1 + 4 + 4);
  ASSERT_GT(g.count, 30);
  int tamed = 0;
  for (int r = 0; r < g.count; ++r) {
    const int16_t* p = g.rec(r);
    const int16_t *x = p, *y = p + 40, *code = p + 80, *z = p + 120;
    Vok16s mem[4];
    std::memcpy(mem, p + 160, sizeof mem);
    const int tame = p[164];
    const int16_t* out = p + 165;
    tamed += tame;
    Vok16s gains[2], rows[2];
    const VokResult st = lowRate ? voksGainQuant_G729D_16s(x, y, code, z, mem, gains, rows, tame)
                                 : voksGainQuant_G729_16s(x, y, code, z, mem, gains, rows, tame);
    ASSERT_EQ(st, vokOk);
    EXPECT_EQ(words(gains[0], gains[1], rows[0], rows[1], mem[0], mem[1], mem[2], mem[3]), words(out, 8))
        << file << " record " << r;
  }
  EXPECT_GT(tamed, 3);
}

// index, bfi, gains in, memory, energy -> gains, memory.
void decodeGolden(const char* file, bool lowRate) {
  const Golden g = load(file, 16);
  ASSERT_GT(g.count, 200);
  int erased = 0;
  for (int r = 0; r < g.count; ++r) {
    const int16_t* p = g.rec(r);
    const int index = p[0], bfi = p[1];
    Vok16s gains[2] = {p[2], p[3]}, mem[4];
    std::memcpy(mem, p + 4, sizeof mem);
    const Vok32s energy = static_cast<Vok32s>(static_cast<uint16_t>(p[8]) | (static_cast<uint32_t>(p[9]) << 16));
    const Vok16s idx[2] = {static_cast<Vok16s>(lowRate ? index >> 3 : index >> 4),
                           static_cast<Vok16s>(lowRate ? index & 7 : index & 15)};
    erased += bfi != 0;
    const VokResult st = lowRate ? voksDecodeGain_G729I_16s(energy, 29491, mem, bfi ? nullptr : idx, gains)
                                 : voksDecodeGain_G729_16s(energy, mem, bfi ? nullptr : idx, gains);
    ASSERT_EQ(st, vokOk);
    EXPECT_EQ(words(gains[0], gains[1], mem[0], mem[1], mem[2], mem[3]), words(p + 10, 6)) << file << " record " << r;
  }
  if (!lowRate) {
    EXPECT_GT(erased, 20);
  }
}

}  // namespace

TEST(G729FcbGolden, GainQuantiser) { gainQuantGolden("gainquant_g729.bin", false); }
TEST(G729FcbGolden, GainQuantiserAnnexD) { gainQuantGolden("gainquant_g729d.bin", true); }
TEST(G729FcbGolden, GainDecoder) { decodeGolden("decode_g729.bin", false); }
TEST(G729FcbGolden, GainDecoderLowRate) { decodeGolden("decode_g729i.bin", true); }

// ---- float forms: the same order of operations, so the same bits ---------

TEST(G729FcbGolden, FloatMatrices) {
  for (int d6 = 0; d6 < 2; ++d6) {
    const Golden g = load(d6 ? "matrix_g729d_32f.bin" : "matrix_g729_32f.bin", 2 * (40 + 616));
    ASSERT_GE(g.count, 2);
    for (int r = 0; r < g.count; ++r) {
      float h[40], want[616], rr[616];
      floats(g.rec(r), 40, h);
      floats(g.rec(r) + 80, 616, want);
      ASSERT_EQ(d6 ? voksToeplizMatrix_G729D_32f(h, rr) : voksToeplizMatrix_G729_32f(h, rr), vokOk);
      EXPECT_TRUE(same(rr, want, 616)) << "layout " << d6 << " record " << r;
    }
  }
}

TEST(G729FcbGolden, FloatFocusedSearch) {
  const Golden g = load("search_g729_32f.bin", 160 + 2 + 8 + 3);
  ASSERT_GT(g.count, 20);
  for (int r = 0; r < g.count; ++r) {
    const int16_t* p = g.rec(r);
    float h[40], dn[40], rr[616], code[40], want[40];
    floats(p, 40, h);
    floats(p + 80, 40, dn);
    const int sf = p[160] != 0;
    const int16_t* out = p + 162;
    unsparse(out, 4, want);
    voksToeplizMatrix_G729_32f(h, rr);
    Vok32s index[2], budget = sf ? p[161] : -5;
    ASSERT_EQ(voksFixedCodebookSearch_G729_32f(dn, rr, code, index, &budget, sf), vokOk);
    EXPECT_TRUE(same(code, want, 40)) << "record " << r;
    EXPECT_EQ(words(index[0], index[1], budget), words(out + 8, 3)) << "record " << r;
  }
}

TEST(G729FcbGolden, FloatAnnexASearch) {
  const Golden g = load("search_g729a_32f.bin", 160 + 8 + 2);
  ASSERT_GT(g.count, 20);
  for (int r = 0; r < g.count; ++r) {
    const int16_t* p = g.rec(r);
    float h[40], dn[40], rr[616], code[40], want[40];
    floats(p, 40, h);
    floats(p + 80, 40, dn);
    unsparse(p + 160, 4, want);
    voksToeplizMatrix_G729_32f(h, rr);
    Vok32s index[2];
    ASSERT_EQ(voksFixedCodebookSearch_G729A_32f(dn, rr, code, index), vokOk);
    EXPECT_TRUE(same(code, want, 40)) << "record " << r;
    EXPECT_EQ(words(index[0], index[1]), words(p + 168, 2)) << "record " << r;
  }
}

TEST(G729FcbGolden, FloatAnnexDSearch) {
  const Golden g = load("search_g729d_32f.bin", 160 + 4 + 80 + 2);
  ASSERT_GT(g.count, 10);
  for (int r = 0; r < g.count; ++r) {
    const int16_t* p = g.rec(r);
    float h[40], dn[40], code[40], y[40], want[40], wantY[40];
    floats(p, 40, h);
    floats(p + 80, 40, dn);
    unsparse(p + 160, 2, want);
    floats(p + 164, 40, wantY);
    Vok32s sign, index;
    ASSERT_EQ(voksFixedCodebookSearch_G729D_32f(dn, h, code, y, &sign, &index), vokOk);
    EXPECT_TRUE(same(code, want, 40)) << "record " << r;
    EXPECT_TRUE(same(y, wantY, 40)) << "record " << r;
    EXPECT_EQ(words(sign, index), words(p + 244, 2)) << "record " << r;
  }
}

TEST(G729FcbGolden, FloatAnnexESearches) {
  const Golden g = load("search_g729e_32f.bin", 1 + 240 + 24 + 80 + 5);
  ASSERT_GT(g.count, 10);
  for (int r = 0; r < g.count; ++r) {
    const int16_t* p = g.rec(r);
    float x[40], cn[40], h[40], code[40], y[40], want[40], wantY[40];
    floats(p + 1, 40, x);
    floats(p + 81, 40, cn);
    floats(p + 161, 40, h);
    unsparse(p + 241, 12, want);
    floats(p + 265, 40, wantY);
    Vok32s index[5];
    ASSERT_EQ(voksFixedCodebookSearch_G729E_32f(p[0], x, cn, h, code, y, index), vokOk);
    EXPECT_TRUE(same(code, want, 40)) << "record " << r;
    EXPECT_TRUE(same(y, wantY, 40)) << "record " << r;
    EXPECT_EQ(words(index[0], index[1], index[2], index[3], index[4]), words(p + 345, 5)) << "record " << r;
  }
}

TEST(G729FcbGolden, FloatGainSearches) {
  for (int low = 0; low < 2; ++low) {
    const Golden g = load(low ? "gainsearch_g729d_32f.bin" : "gainsearch_g729_32f.bin", 12 + 5);
    ASSERT_GT(g.count, 100);
    for (int r = 0; r < g.count; ++r) {
      const int16_t* p = g.rec(r);
      float terms[6];
      floats(p, 6, terms);
      const Vok32s cand[2] = {p[12], p[13]};
      Vok32s rows[2];
      const VokResult st = low ? voksGainCodebookSearch_G729D_32f(terms, terms[5], cand, rows, p[14])
                               : voksGainCodebookSearch_G729_32f(terms, terms[5], cand, rows, p[14]);
      ASSERT_EQ(st, vokOk);
      EXPECT_EQ(words(rows[0], rows[1]), words(p + 15, 2)) << "codebook " << low << " record " << r;
    }
  }
}
