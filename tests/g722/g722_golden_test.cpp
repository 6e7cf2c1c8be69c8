// G.722 against golden data of the G.191 reference coder on stress inputs:
// clipped and full-scale signals, saturating code runs, band samples beyond
// the QMF's 15-bit range.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vectors.h"
#include "voksc.h"

namespace {

std::string path(const std::string& f) { return vtest::goldenDir() + "/g722/" + f; }

std::vector<int16_t> words(const std::string& f) {
  std::vector<int16_t> w;
  EXPECT_TRUE(vtest::readWords(path(f), w)) << f;
  return w;
}

std::vector<int16_t> bytes(const std::string& f) {
  std::vector<uint8_t> b;
  EXPECT_TRUE(vtest::readFile(path(f), b)) << f;
  return std::vector<int16_t>(b.begin(), b.end());
}

long firstDiff(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  if (a.size() != b.size() || a.empty()) return -2;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return static_cast<long>(i);
  return -1;
}

struct Sb {
  std::vector<unsigned char> mem;
  Sb() {
    int n = 0;
    voksSBADPCMEncodeStateSize_G722_16s(&n);
    mem.resize(static_cast<std::size_t>(n) + 5);
    voksSBADPCMEncodeInit_G722_16s(p());
  }
  void* p() { return mem.data() + 5; }
};

int len(const std::vector<int16_t>& v) { return static_cast<int>(v.size()); }

}  // namespace

TEST(G722Golden, CompleteEncoderOnClippedAndFullScaleInput) {
  auto pcm = words("enc_stress.pcm");
  std::vector<int16_t> bands(pcm.size()), codes(pcm.size()), got(pcm.size() / 2), qmf(24, 0);
  Sb s;
  ASSERT_EQ(voksQMFEncode_G722_16s(pcm.data(), bands.data(), len(pcm), qmf.data()), vokOk);
  ASSERT_EQ(voksSBADPCMEncode_G722_16s(bands.data(), codes.data(), len(bands), s.p()), vokOk);
  for (std::size_t i = 0; i < got.size(); ++i) got[i] = static_cast<int16_t>(codes[2 * i + 1] << 6 | codes[2 * i]);
  EXPECT_EQ(firstDiff(got, bytes("enc_stress.cod")), -1);
}

TEST(G722Golden, CompleteDecoderOnSaturatingCodeRuns) {
  auto cw = bytes("dec_random.cod");
  std::vector<int16_t> codes(2 * cw.size());
  for (std::size_t i = 0; i < cw.size(); ++i) {
    codes[2 * i] = static_cast<int16_t>(cw[i] & 63);
    codes[2 * i + 1] = static_cast<int16_t>(cw[i] >> 6);
  }
  for (int mode = 1; mode <= 3; ++mode) {
    Sb s;
    std::vector<int16_t> bands(codes.size()), pcm(codes.size()), qmf(24, 0);
    ASSERT_EQ(voksSBADPCMDecode_G722_16s(codes.data(), bands.data(), len(codes), static_cast<Vok16s>(mode), s.p()),
              vokOk);
    ASSERT_EQ(voksQMFDecode_G722_16s(bands.data(), pcm.data(), len(bands), qmf.data()), vokOk);
    EXPECT_EQ(firstDiff(pcm, words("dec_random_m" + std::to_string(mode) + ".pcm")), -1) << "mode " << mode;
  }
}

TEST(G722Golden, BandEncodersOnFullRangeSamples) {
  auto pairs = words("sb_stress.pairs");
  std::vector<int16_t> codes(pairs.size());
  Sb s;
  // In uneven pieces: the state carries everything between calls.
  for (int at = 0, n = 2; at < len(pairs); at += n, n = (n * 5 + 2) % 96 + 2)
    ASSERT_EQ(voksSBADPCMEncode_G722_16s(pairs.data() + at, codes.data() + at, std::min(n, len(pairs) - at), s.p()),
              vokOk);
  EXPECT_EQ(firstDiff(codes, bytes("sb_stress.codes")), -1);
}

TEST(G722Golden, BandDecodersAllModes) {
  auto codes = bytes("sb_random.codes");
  for (int mode = 1; mode <= 3; ++mode) {
    Sb s;
    std::vector<int16_t> out(codes.size());
    ASSERT_EQ(voksSBADPCMDecode_G722_16s(codes.data(), out.data(), len(codes), static_cast<Vok16s>(mode), s.p()), vokOk);
    EXPECT_EQ(firstDiff(out, words("sb_random_m" + std::to_string(mode) + ".pairs")), -1) << "mode " << mode;
  }
}

TEST(G722Golden, ReceiveQmfSaturatesLikeTheReference) {
  auto pairs = words("qmf_rx.pairs");
  std::vector<int16_t> out(pairs.size()), qmf(24, 0);
  ASSERT_EQ(voksQMFDecode_G722_16s(pairs.data(), out.data(), len(pairs), qmf.data()), vokOk);
  EXPECT_EQ(firstDiff(out, words("qmf_rx.pcm")), -1);
}
