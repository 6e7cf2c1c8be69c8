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

using Result = ::testing::AssertionResult;

template <class T>
Result same(const T* got, const T* want, int n) {
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

// A check compares one record; n[] counts the cases the file must contain.
#define CALL(expr) \
  if ((expr) != vokOk) return ::testing::AssertionFailure() << #expr << " failed"
#define SAME(got, want, count) \
  if (Result v_ = same(got, want, count); !v_) return v_
#define WORDS(got, want) \
  if ((got) != (want)) return ::testing::AssertionFailure() << "scalar outputs differ"

Result matrix(const int16_t* h, int*) {
  Vok16s rr[616];
  Vok32s rr32[616];
  CALL(voksToeplizMatrix_G729_16s(h, rr));
  SAME(rr, h + 40, 616);
  CALL(voksToeplizMatrix_G729_16s32s(h, rr32));
  for (int i = 0; i < 616; ++i) rr[i] = static_cast<Vok16s>(rr32[i] >> 15);  // the upper word
  return same(rr, h + 40, 616) << " (32-bit)";
}

// The focused search from the response (matrix computed here), in both
// matrix widths; n[0]: searches cut short by the budget.
Result focused(const int16_t* h, int* n) {
  const int16_t* dn = h + 40;
  const int sf = dn[40] != 0;
  const int16_t* out = dn + 42;
  Vok16s want[40];
  unsparse(out, 4, want);
  n[0] += out[10] <= 0;
  Vok16s rr[616], code[40], index[2], budget = sf ? dn[41] : Vok16s{-999};
  Vok32s rr32[616];
  voksToeplizMatrix_G729_16s(h, rr);
  CALL(voksFixedCodebookSearch_G729_16s(dn, rr, code, index, &budget, sf));
  SAME(code, want, 40);
  WORDS(words(index[0], index[1], budget), words(out + 8, 3));
  voksToeplizMatrix_G729_16s32s(h, rr32);
  budget = sf ? dn[41] : Vok16s{123};
  CALL(voksFixedCodebookSearch_G729_32s16s(dn, rr32, code, index, &budget, sf));
  SAME(code, want, 40);
  WORDS(words(index[0], index[1], budget), words(out + 8, 3));
  return Result(true);
}

// From a recorded matrix of arbitrary values, with the signed matrix it leaves.
Result focusedArbitrary(const int16_t* rr0, int*) {
  const int16_t* dn = rr0 + 616;
  const int16_t* out = dn + 42;
  Vok16s want[40], rr[616], code[40], index[2], budget = dn[41];
  unsparse(out, 4, want);
  std::memcpy(rr, rr0, sizeof rr);
  CALL(voksFixedCodebookSearch_G729_16s(dn, rr, code, index, &budget, dn[40] != 0));
  SAME(code, want, 40);
  WORDS(words(index[0], index[1], budget), words(out + 8, 3));
  return same(rr, out + 11, 616) << " (signed matrix)";
}

Result annexA(const int16_t* h, int*) {
  const int16_t* dn = h + 40;
  const int16_t* out = dn + 40;
  Vok16s want[40], rr[616], code[40], index[2];
  Vok32s rr32[616];
  unsparse(out, 4, want);
  voksToeplizMatrix_G729_16s(h, rr);
  CALL(voksFixedCodebookSearch_G729A_16s(dn, rr, code, index));
  SAME(code, want, 40);
  WORDS(words(index[0], index[1]), words(out + 8, 2));
  voksToeplizMatrix_G729_16s32s(h, rr32);
  CALL(voksFixedCodebookSearch_G729A_32s16s(dn, rr32, code, index));
  SAME(code, want, 40);
  WORDS(words(index[0], index[1]), words(out + 8, 2));
  return Result(true);
}

Result annexAArbitrary(const int16_t* rr0, int*) {
  const int16_t* dn = rr0 + 616;
  const int16_t* out = dn + 40;
  Vok16s want[40], rr[616], code[40], index[2];
  unsparse(out, 4, want);
  std::memcpy(rr, rr0, sizeof rr);
  CALL(voksFixedCodebookSearch_G729A_16s(dn, rr, code, index));
  SAME(code, want, 40);
  WORDS(words(index[0], index[1]), words(out + 8, 2));
  return same(rr, out + 10, 616) << " (signed matrix)";
}

// n[0]: both pulses on one position.
Result annexD(const int16_t* h, int* n) {
  const int16_t* dn = h + 40;
  const int16_t* out = dn + 40;
  const int16_t* wantY = out + 4;
  Vok16s want[40], code[40], y[40], sign, index;
  unsparse(out, 2, want);
  n[0] += out[1] < 0;
  CALL(voksFixedCodebookSearch_G729D_16s(dn, h, code, y, &sign, &index));
  SAME(code, want, 40);
  SAME(y, wantY, 40);
  WORDS(words(sign, index), words(wantY + 40, 2));
  return Result(true);
}

// n[0], n[1]: forward and backward mode records.
Result annexE(const int16_t* p, int* n) {
  const int16_t *x = p + 1, *cn = p + 41, *h = p + 81, *out = p + 121;
  ++n[p[0] != 0];
  Vok16s want[40], code[40], y[40], index[5];
  unsparse(out, 12, want);
  CALL(voksFixedCodebookSearch_G729E_16s(p[0], x, cn, h, code, y, index));
  SAME(code, want, 40);
  SAME(y, out + 24, 40);
  return same(index, out + 64, 5);
}

// x, y, code, z, memory, tame flag -> gains, rows, memory; n[0]: tamed.
template <bool kLowRate>
Result gainQuant(const int16_t* p, int* n) {
  const int16_t *x = p, *y = p + 40, *code = p + 80, *z = p + 120;
  Vok16s mem[4], gains[2], rows[2];
  std::memcpy(mem, p + 160, sizeof mem);
  const int tame = p[164];
  n[0] += tame;
  CALL(kLowRate ? voksGainQuant_G729D_16s(x, y, code, z, mem, gains, rows, tame)
                : voksGainQuant_G729_16s(x, y, code, z, mem, gains, rows, tame));
  WORDS(words(gains[0], gains[1], rows[0], rows[1], mem[0], mem[1], mem[2], mem[3]), words(p + 165, 8));
  return Result(true);
}

// index, bfi, gains in, memory, energy -> gains, memory; n[0]: erased frames.
template <bool kLowRate>
Result gainDecode(const int16_t* p, int* n) {
  const int index = p[0], bfi = p[1];
  Vok16s gains[2] = {p[2], p[3]}, mem[4];
  std::memcpy(mem, p + 4, sizeof mem);
  const Vok32s energy = static_cast<Vok32s>(static_cast<uint16_t>(p[8]) | (static_cast<uint32_t>(p[9]) << 16));
  const Vok16s idx[2] = {static_cast<Vok16s>(kLowRate ? index >> 3 : index >> 4),
                         static_cast<Vok16s>(kLowRate ? index & 7 : index & 15)};
  n[0] += bfi != 0;
  CALL(kLowRate ? voksDecodeGain_G729I_16s(energy, 29491, mem, bfi ? nullptr : idx, gains)
                : voksDecodeGain_G729_16s(energy, mem, bfi ? nullptr : idx, gains));
  WORDS(words(gains[0], gains[1], mem[0], mem[1], mem[2], mem[3]), words(p + 10, 6));
  return Result(true);
}

// ---- float forms: the same order of operations, so the same bits ---------

template <bool kAnnexD>
Result matrixFloat(const int16_t* p, int*) {
  float h[40], want[616], rr[616];
  floats(p, 40, h);
  floats(p + 80, 616, want);
  CALL(kAnnexD ? voksToeplizMatrix_G729D_32f(h, rr) : voksToeplizMatrix_G729_32f(h, rr));
  return same(rr, want, 616);
}

Result focusedFloat(const int16_t* p, int*) {
  float h[40], dn[40], rr[616], code[40], want[40];
  floats(p, 40, h);
  floats(p + 80, 40, dn);
  const int sf = p[160] != 0;
  unsparse(p + 162, 4, want);
  voksToeplizMatrix_G729_32f(h, rr);
  Vok32s index[2], budget = sf ? p[161] : -5;
  CALL(voksFixedCodebookSearch_G729_32f(dn, rr, code, index, &budget, sf));
  SAME(code, want, 40);
  WORDS(words(index[0], index[1], budget), words(p + 170, 3));
  return Result(true);
}

Result annexAFloat(const int16_t* p, int*) {
  float h[40], dn[40], rr[616], code[40], want[40];
  floats(p, 40, h);
  floats(p + 80, 40, dn);
  unsparse(p + 160, 4, want);
  voksToeplizMatrix_G729_32f(h, rr);
  Vok32s index[2];
  CALL(voksFixedCodebookSearch_G729A_32f(dn, rr, code, index));
  SAME(code, want, 40);
  WORDS(words(index[0], index[1]), words(p + 168, 2));
  return Result(true);
}

Result annexDFloat(const int16_t* p, int*) {
  float h[40], dn[40], code[40], y[40], want[40], wantY[40];
  floats(p, 40, h);
  floats(p + 80, 40, dn);
  unsparse(p + 160, 2, want);
  floats(p + 164, 40, wantY);
  Vok32s sign, index;
  CALL(voksFixedCodebookSearch_G729D_32f(dn, h, code, y, &sign, &index));
  SAME(code, want, 40);
  SAME(y, wantY, 40);
  WORDS(words(sign, index), words(p + 244, 2));
  return Result(true);
}

Result annexEFloat(const int16_t* p, int*) {
  float x[40], cn[40], h[40], code[40], y[40], want[40], wantY[40];
  floats(p + 1, 40, x);
  floats(p + 81, 40, cn);
  floats(p + 161, 40, h);
  unsparse(p + 241, 12, want);
  floats(p + 265, 40, wantY);
  Vok32s index[5];
  CALL(voksFixedCodebookSearch_G729E_32f(p[0], x, cn, h, code, y, index));
  SAME(code, want, 40);
  SAME(y, wantY, 40);
  WORDS(words(index[0], index[1], index[2], index[3], index[4]), words(p + 345, 5));
  return Result(true);
}

template <bool kAnnexD>
Result gainSearchFloat(const int16_t* p, int*) {
  float terms[6];
  floats(p, 6, terms);
  const Vok32s cand[2] = {p[12], p[13]};
  Vok32s rows[2];
  CALL(kAnnexD ? voksGainCodebookSearch_G729D_32f(terms, terms[5], cand, rows, p[14])
               : voksGainCodebookSearch_G729_32f(terms, terms[5], cand, rows, p[14]));
  WORDS(words(rows[0], rows[1]), words(p + 15, 2));
  return Result(true);
}

struct Replay {
  const char* name;
  const char* file;
  int length;                        // words per record
  Result (*check)(const int16_t*, int*);
  int atLeast[3];                    // records, n[0], n[1]
};

const Replay kReplays[] = {
    {"Matrix", "matrix_g729.bin", 40 + 616, matrix, {11}},
    {"Focused", "search_g729.bin", 40 + 40 + 2 + 8 + 3, focused, {51, 6}},
    {"FocusedArbitraryMatrix", "search_g729_rr.bin", 616 + 40 + 2 + 8 + 3 + 616, focusedArbitrary, {2}},
    {"AnnexA", "search_g729a.bin", 40 + 40 + 8 + 2, annexA, {51}},
    {"AnnexAArbitraryMatrix", "search_g729a_rr.bin", 616 + 40 + 8 + 2 + 616, annexAArbitrary, {2}},
    {"AnnexD", "search_g729d.bin", 40 + 40 + 4 + 40 + 2, annexD, {41, 1}},
    {"AnnexE", "search_g729e.bin", 1 + 120 + 24 + 40 + 5, annexE, {41, 11, 11}},
    {"GainQuantiser", "gainquant_g729.bin", 160 + 4 + 1 + 4 + 4, gainQuant<false>, {31, 4}},
    {"GainQuantiserAnnexD", "gainquant_g729d.bin", 160 + 4 + 1 + 4 + 4, gainQuant<true>, {31, 4}},
    {"GainDecoder", "decode_g729.bin", 16, gainDecode<false>, {201, 21}},
    {"GainDecoderLowRate", "decode_g729i.bin", 16, gainDecode<true>, {201}},
    {"FloatMatrix", "matrix_g729_32f.bin", 2 * (40 + 616), matrixFloat<false>, {2}},
    {"FloatMatrixAnnexD", "matrix_g729d_32f.bin", 2 * (40 + 616), matrixFloat<true>, {2}},
    {"FloatFocused", "search_g729_32f.bin", 160 + 2 + 8 + 3, focusedFloat, {21}},
    {"FloatAnnexA", "search_g729a_32f.bin", 160 + 8 + 2, annexAFloat, {21}},
    {"FloatAnnexD", "search_g729d_32f.bin", 160 + 4 + 80 + 2, annexDFloat, {11}},
    {"FloatAnnexE", "search_g729e_32f.bin", 1 + 240 + 24 + 80 + 5, annexEFloat, {11}},
    {"FloatGainSearch", "gainsearch_g729_32f.bin", 12 + 5, gainSearchFloat<false>, {101}},
    {"FloatGainSearchAnnexD", "gainsearch_g729d_32f.bin", 12 + 5, gainSearchFloat<true>, {101}},
};

class G729FcbGolden : public ::testing::TestWithParam<Replay> {};

TEST_P(G729FcbGolden, EveryRecordMatches) {
  const Replay& p = GetParam();
  const Golden g = load(p.file, p.length);
  int n[2] = {};
  for (int r = 0; r < g.count; ++r) EXPECT_TRUE(p.check(g.rec(r), n)) << p.file << " record " << r;
  EXPECT_GE(g.count, p.atLeast[0]);
  EXPECT_GE(n[0], p.atLeast[1]);
  EXPECT_GE(n[1], p.atLeast[2]);
}

INSTANTIATE_TEST_SUITE_P(Files, G729FcbGolden, ::testing::ValuesIn(kReplays),
                         [](const ::testing::TestParamInfo<Replay>& i) { return std::string(i.param.name); });

}  // namespace
