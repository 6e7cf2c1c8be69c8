// The G.722 test sequences through the exports: the complete codec (QMF
// included) of the G.191 library, and the Appendix II sub-band sequences
// (QMF bypassed, with in-band reset flags).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vectors.h"
#include "voksc.h"

namespace {

struct Coder {
  std::vector<unsigned char> mem;
  Coder() {
    int n = 0;
    voksSBADPCMEncodeStateSize_G722_16s(&n);
    mem.resize(static_cast<std::size_t>(n) + 3);  // misaligned on purpose: used from its 16-byte boundary
    voksSBADPCMEncodeInit_G722_16s(state());
  }
  void* state() { return mem.data() + 3; }
};

std::vector<int16_t> encodeAll(const std::vector<int16_t>& pcm) {
  Coder c;
  std::vector<int16_t> qmfMem(24, 0), bands(pcm.size()), codes(pcm.size()), out(pcm.size() / 2);
  EXPECT_EQ(voksQMFEncode_G722_16s(pcm.data(), bands.data(), static_cast<int>(pcm.size()), qmfMem.data()), vokOk);
  EXPECT_EQ(voksSBADPCMEncode_G722_16s(bands.data(), codes.data(), static_cast<int>(bands.size()), c.state()), vokOk);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<int16_t>((codes[2 * i + 1] << 6) | codes[2 * i]);
  return out;
}

std::vector<int16_t> decodeAll(const std::vector<int16_t>& words, int mode) {
  Coder c;
  std::vector<int16_t> codes(2 * words.size()), bands(codes.size()), pcm(codes.size()), qmfMem(24, 0);
  for (std::size_t i = 0; i < words.size(); ++i) {
    codes[2 * i] = static_cast<int16_t>(words[i] & 0x3F);
    codes[2 * i + 1] = static_cast<int16_t>((words[i] >> 6) & 3);
  }
  // Uneven blocks: the state carries everything across calls.
  std::size_t at = 0, block = 2;
  while (at < codes.size()) {
    int n = static_cast<int>(std::min(block, codes.size() - at));
    EXPECT_EQ(voksSBADPCMDecode_G722_16s(codes.data() + at, bands.data() + at, n, static_cast<int16_t>(mode), c.state()),
              vokOk);
    EXPECT_EQ(voksQMFDecode_G722_16s(bands.data() + at, pcm.data() + at, n, qmfMem.data()), vokOk);
    at += static_cast<std::size_t>(n);
    block = (block * 3) & ~std::size_t{1};
  }
  return pcm;
}

long firstDiff(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  if (a.size() != b.size()) return static_cast<long>(std::min(a.size(), b.size()));
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return static_cast<long>(i);
  return -1;
}

class G722Vectors : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = vtest::testVectorDir() + "/g722/"; }
  std::vector<int16_t> words(const std::string& f) {
    std::vector<int16_t> w;
    EXPECT_TRUE(vtest::readWords(dir_ + f, w)) << f;
    return w;
  }
  std::string dir_;
};

TEST_F(G722Vectors, EncoderFromReset) {
  VTEST_REQUIRE_DIR(dir_);
  auto codes = encodeAll(words("inpsp.bin"));
  EXPECT_EQ(firstDiff(codes, words("codspw.cod")), -1);
  // codsp.cod: one codeword per byte, each pair of bytes swapped.
  std::vector<uint8_t> packed;
  ASSERT_TRUE(vtest::readFile(dir_ + "codsp.cod", packed));
  std::vector<int16_t> swapped(packed.begin(), packed.end());
  for (std::size_t k = 0; k + 1 < swapped.size(); k += 2) std::swap(swapped[k], swapped[k + 1]);
  EXPECT_EQ(firstDiff(codes, swapped), -1);
}

TEST_F(G722Vectors, DecoderAllModes) {
  VTEST_REQUIRE_DIR(dir_);
  auto codes = words("codspw.cod");
  for (int mode = 1; mode <= 3; ++mode)
    EXPECT_EQ(firstDiff(decodeAll(codes, mode), words("outsp" + std::to_string(mode) + ".bin")), -1) << mode;
}

TEST_F(G722Vectors, EncoderThenDecoder) {
  VTEST_REQUIRE_DIR(dir_);
  EXPECT_EQ(firstDiff(decodeAll(encodeAll(words("inpsp.bin")), 1), words("outsp1.bin")), -1);
}

TEST_F(G722Vectors, AppendixTwoSubbandSequences) {
  VTEST_REQUIRE_DIR(dir_);
  auto in = words("bt1c2.xmt"), cod = words("bt2r2.cod"), high = words("bt3h2.rc0");
  // Encoders.
  {
    Coder c;
    std::vector<int16_t> got(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
      if (in[i] & 1) {
        voksSBADPCMEncodeInit_G722_16s(c.state());
        got[i] = 1;
        continue;
      }
      int16_t x = static_cast<int16_t>(in[i] >> 1);
      int16_t pair[2] = {x, x}, code[2];
      ASSERT_EQ(voksSBADPCMEncode_G722_16s(pair, code, 2, c.state()), vokOk);
      got[i] = static_cast<int16_t>((code[1] << 14) | (code[0] << 8));
    }
    EXPECT_EQ(firstDiff(got, cod), -1) << "bt2r2.cod";
  }
  // Decoders, all modes.
  for (int mode = 1; mode <= 3; ++mode) {
    auto low = words("bt3l2.rc" + std::to_string(mode));
    Coder c;
    std::vector<int16_t> gotL(cod.size()), gotH(cod.size());
    for (std::size_t i = 0; i < cod.size(); ++i) {
      if (cod[i] & 1) {
        voksSBADPCMDecodeInit_G722_16s(c.state());
        gotL[i] = gotH[i] = 1;
        continue;
      }
      uint16_t w = static_cast<uint16_t>(cod[i]);
      int16_t code[2] = {static_cast<int16_t>((w >> 8) & 0x3F), static_cast<int16_t>(w >> 14)}, out[2];
      ASSERT_EQ(voksSBADPCMDecode_G722_16s(code, out, 2, static_cast<int16_t>(mode), c.state()), vokOk);
      gotL[i] = static_cast<int16_t>(out[0] * 2);
      gotH[i] = static_cast<int16_t>(out[1] * 2);
    }
    EXPECT_EQ(firstDiff(gotL, low), -1) << "low band, mode " << mode;
    EXPECT_EQ(firstDiff(gotH, high), -1) << "high band, mode " << mode;
  }
}

}  // namespace
