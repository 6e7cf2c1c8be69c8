// G.722.1 transform and region-coding exports: argument checks, and the
// outputs on hostile blocks (full-scale noise, quiet noise, +-32767/-32768
// squares, noise of random shifts) against CRC-32s of the ITU reference
// functions (release 2.1) on the same inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "check.h"
#include "g7221/g7221_mlt.h"
#include "levels.h"
#include "vectors.h"
#include "voksc.h"

namespace {

// The input generator the golden CRCs were made with.
struct Gen {
  uint32_t s;
  uint32_t next() { return s = s * 1664525u + 1013904223u; }
  int16_t sample(int kind) {
    const uint32_t a = next();
    const auto v = static_cast<int16_t>(a >> 16);
    switch (kind) {
      case 0: return v;
      case 1: return static_cast<int16_t>(v >> 6);
      case 2: return (a >> 31) ? 32767 : -32768;
      default: return static_cast<int16_t>(v >> (a & 15));
    }
  }
};

// Per path, 25 blocks of each (length 320 / 640) x (input kind 0..3).
const uint32_t kGolden[3][8] = {
    {0x1A09E881u, 0xD45226CBu, 0x45F2BC11u, 0x26BF8F61u, 0x807A9B92u, 0x679D9B04u, 0x47A596DEu, 0xABD6E7A3u},
    {0x2FBF9B75u, 0xCC38AF48u, 0x2E23CE64u, 0xA6604456u, 0xD7C48937u, 0xAE9C6EC2u, 0xBFAD4264u, 0x24DAC5CDu},
    {0xADA02515u, 0x50646D4Du, 0xF03898BEu, 0xD4695C2Fu, 0xC81D4F3Eu, 0x8AA9873Du, 0xE7487AC0u, 0x23C5A240u}};

TEST(G7221, TransformsMatchReference) {
  const char* names[3] = {"forward DCT", "inverse DCT", "inverse DCT + synthesis"};
  for (int path = 0; path < 3; ++path) {
    for (int len = 320, at = 0; len <= 640; len += 320) {
      for (int kind = 0; kind < 4; ++kind, ++at) {
        Gen g{static_cast<uint32_t>(path * 100 + len + kind)};
        uint32_t crc = 0;
        std::vector<int16_t> x(len), y(len), block(len), kept(len / 2, 0);
        for (int b = 0; b < 25; ++b) {
          for (auto& v : x) v = g.sample(kind);
          if (path == 0) {
            ASSERT_EQ(voksDCTFwd_G7221_16s(x.data(), y.data(), len), vokOk);
          } else if (path == 1) {
            ASSERT_EQ(voksDCTInv_G7221_16s(x.data(), y.data(), len), vokOk);
          } else {
            ASSERT_EQ(voksDCTInv_G7221_16s(x.data(), block.data(), len), vokOk);
            ASSERT_EQ(voksDecomposeDCTToMLT_G7221_16s(block.data(), kept.data(), y.data(), len), vokOk);
            kept.assign(block.begin() + len / 2, block.end());
          }
          crc = vtest::crc32(y.data(), y.size(), crc);
        }
        EXPECT_EQ(crc, kGolden[path][at]) << names[path] << ", length " << len << ", kind " << kind;
      }
    }
  }
}

TEST(G7221, ShortFormsAndInPlaceEqualTheGeneralForms) {
  Gen g{99};
  std::vector<int16_t> x(320), a(320), b(320), c(320);
  for (auto& v : x) v = g.sample(3);
  using Pair = VokResult (*)(const Vok16s*, Vok16s*);
  using General = VokResult (*)(const Vok16s*, Vok16s*, int);
  const std::pair<Pair, General> forms[] = {{voksDCTFwd_G722_16s, voksDCTFwd_G7221_16s},
                                            {voksDCTInv_G722_16s, voksDCTInv_G7221_16s}};
  for (const auto& f : forms) {
    ASSERT_EQ(f.first(x.data(), a.data()), vokOk);
    ASSERT_EQ(f.second(x.data(), b.data(), 320), vokOk);
    std::vector<int16_t> inPlace(x);
    ASSERT_EQ(f.second(inPlace.data(), inPlace.data(), 320), vokOk);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, inPlace);
  }
  std::vector<int16_t> half(x.begin(), x.begin() + 160);
  ASSERT_EQ(voksDecomposeMLTToDCT_G722_16s(x.data(), a.data(), b.data()), vokOk);
  ASSERT_EQ(voksDecomposeMLTToDCT_G7221_16s(x.data(), a.data(), c.data(), 320), vokOk);
  EXPECT_EQ(b, c);
  ASSERT_EQ(voksDecomposeDCTToMLT_G722_16s(x.data(), half.data(), b.data()), vokOk);
  ASSERT_EQ(voksDecomposeDCTToMLT_G7221_16s(x.data(), half.data(), c.data(), 320), vokOk);
  EXPECT_EQ(b, c);
}

// The AVX2 forms against the scalar ones on every input kind, both lengths.
TEST(G7221, KernelFormsAgree) {
  REQUIRE_AVX2();
  using namespace voksc::g7221;
  using Fold = void (*)(const int16_t*, const int16_t*, int16_t*, int);
  using Dct = void (*)(const int16_t*, int16_t*, int);
  const std::pair<Dct, Dct> dcts[] = {{forwardDctScalar, forwardDctAvx2}, {inverseDctScalar, inverseDctAvx2}};
  const std::pair<Fold, Fold> folds[] = {{analysisFoldScalar, analysisFoldAvx2}, {synthesisFoldScalar, synthesisFoldAvx2}};
  Gen g{5};
  for (int len = 320; len <= 640; len += 320) {
    for (int round = 0; round < 40; ++round) {
      std::vector<int16_t> x(len), z(len), a(len), b(len);
      for (auto& v : x) v = g.sample(round % 4);
      for (auto& v : z) v = g.sample((round + 1) % 4);
      for (const auto& f : dcts) {
        f.first(x.data(), a.data(), len);
        f.second(x.data(), b.data(), len);
        ASSERT_EQ(a, b) << "transform, length " << len << ", round " << round;
      }
      for (const auto& f : folds) {
        f.first(x.data(), z.data(), a.data(), len);
        f.second(x.data(), z.data(), b.data(), len);
        ASSERT_EQ(a, b) << "fold, length " << len << ", round " << round;
      }
      // Region quantiser: random scales and dead zones, wrapping levels included.
      Quantiser q{static_cast<int16_t>(g.next() >> 17), static_cast<int16_t>(g.next() & 3),
                  static_cast<int16_t>(g.next() >> 19), static_cast<int16_t>(g.next() >> 19),
                  static_cast<int16_t>(1 + round % 13)};
      Levels la, lb;
      regionLevelsScalar(q, x.data(), la);
      regionLevelsAvx2(q, x.data(), lb);
      ASSERT_TRUE(std::equal(la.level, la.level + 20, lb.level) && la.nonZero == lb.nonZero &&
                  la.positive == lb.positive) << "region levels, round " << round;
    }
  }
}

TEST(G7221, RegionCodesMatchReference) {
  Gen g{7};
  uint32_t crc = 0;
  for (int i = 0; i < 1400; ++i) {
    const int category = i % 7, power = static_cast<int>(g.next() >> 26), kind = i % 4;
    int16_t x[20];
    for (auto& v : x) v = static_cast<int16_t>(g.sample(kind) >> (power < 30 ? 12 : 4));
    Vok32u w[6] = {};
    int bits = -1;
    ASSERT_EQ(voksHuffmanEncode_G722_16s32u(category, power, x, w, &bits), vokOk);
    ASSERT_GE(bits, 1);
    ASSERT_LE(bits, 180);
    const int16_t b16 = static_cast<int16_t>(bits);
    crc = vtest::crc32(&b16, 1, crc);
    for (int k = 0; k < (bits + 31) / 32; ++k) {
      const uint8_t le[4] = {static_cast<uint8_t>(w[k]), static_cast<uint8_t>(w[k] >> 8),
                             static_cast<uint8_t>(w[k] >> 16), static_cast<uint8_t>(w[k] >> 24)};
      crc = vtest::crc32(le, 4, crc);
    }
  }
  EXPECT_EQ(crc, 0xDEB5BD7Cu);
}

// A full-scale region at the lowest power index: levels beyond 16 bits
// still code within the category's largest level, in at most 6 words.
TEST(G7221, RegionCoderSurvivesOverrange) {
  int16_t x[20];
  for (int i = 0; i < 20; ++i) x[i] = i & 1 ? -32768 : 32767;
  for (int category = 0; category < 7; ++category) {
    Vok32u w[7] = {};
    w[6] = 0xA5A5A5A5u;
    int bits = 0;
    ASSERT_EQ(voksHuffmanEncode_G722_16s32u(category, 0, x, w, &bits), vokOk);
    EXPECT_LE(bits, 180);
    EXPECT_EQ(w[6], 0xA5A5A5A5u);
  }
}

TEST(G7221, ArgumentChecks) {
  std::vector<int16_t> a(640, 1), b(640, 2), c(640, 3);
  vtest::Guard g;
  g.watch(c.data(), 640);
  EXPECT_REJECTS(vokErrNullPtr, g, voksDCTFwd_G7221_16s(nullptr, c.data(), 480));
  EXPECT_REJECTS(vokErrNullPtr, g, voksDCTInv_G7221_16s(a.data(), nullptr, 480));
  EXPECT_REJECTS(vokErrNullPtr, g, voksDCTFwd_G722_16s(nullptr, c.data()));
  EXPECT_REJECTS(vokErrNullPtr, g, voksDecomposeMLTToDCT_G7221_16s(a.data(), nullptr, c.data(), 480));
  EXPECT_REJECTS(vokErrNullPtr, g, voksDecomposeDCTToMLT_G722_16s(a.data(), b.data(), nullptr));
  for (int len : {480, 0, -320, 321, 1280}) {
    EXPECT_REJECTS(vokErrSize, g, voksDCTFwd_G7221_16s(a.data(), c.data(), len));
    EXPECT_REJECTS(vokErrSize, g, voksDCTInv_G7221_16s(a.data(), c.data(), len));
    EXPECT_REJECTS(vokErrSize, g, voksDecomposeMLTToDCT_G7221_16s(a.data(), b.data(), c.data(), len));
    EXPECT_REJECTS(vokErrSize, g, voksDecomposeDCTToMLT_G7221_16s(a.data(), b.data(), c.data(), len));
  }
  Vok32u w[6];
  int bits = -7;
  vtest::Guard h;
  h.watch(w, 6).watch(&bits);
  EXPECT_REJECTS(vokErrNullPtr, h, voksHuffmanEncode_G722_16s32u(7, 64, nullptr, w, &bits));
  EXPECT_REJECTS(vokErrNullPtr, h, voksHuffmanEncode_G722_16s32u(7, 64, a.data(), w, nullptr));
  const int bad[][2] = {{7, 0}, {-1, 0}, {0, 64}, {6, -1}};
  for (const auto& cp : bad) EXPECT_REJECTS(vokErrScale, h, voksHuffmanEncode_G722_16s32u(cp[0], cp[1], a.data(), w, &bits));
}

}  // namespace
