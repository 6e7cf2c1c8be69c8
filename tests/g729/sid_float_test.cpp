// Float SID LSF quantiser and decoder of G.729 Annex B: golden records of the
// float reference coder, argument checks, memory handling and agreement with
// the 16-bit forms on the same vectors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "vectors.h"
#include "voksc.h"

namespace {

constexpr int kM = 10;

// Sequential reader of a little-endian golden record file.
class Record {
 public:
  explicit Record(const std::string& name) { ok_ = vtest::readFile(vtest::goldenDir() + "/g729/sid/" + name, bytes_); }
  bool ok() const { return ok_ && !bytes_.empty(); }
  bool done() const { return at_ >= bytes_.size(); }
  int16_t w16() {
    int16_t v = 0;
    take(&v, 2);
    return v;
  }
  std::vector<int16_t> v16(int n) {
    std::vector<int16_t> v(n);
    take(v.data(), 2 * n);
    return v;
  }
  std::vector<float> vf(int n) {
    std::vector<float> v(n);
    take(v.data(), 4 * n);
    return v;
  }

 private:
  void take(void* p, std::size_t n) {
    if (at_ + n > bytes_.size()) {
      ADD_FAILURE() << "golden record truncated";
      at_ = bytes_.size();
      std::memset(p, 0, n);
      return;
    }
    std::memcpy(p, bytes_.data() + at_, n);
    at_ += n;
  }
  std::vector<uint8_t> bytes_;
  std::size_t at_ = 0;
  bool ok_ = false;
};

::testing::AssertionResult close(const float* got, const std::vector<float>& want, float tol, int frame) {
  for (int i = 0; i < kM; ++i)
    if (!(std::fabs(got[i] - want[i]) <= tol * (1.0f + std::fabs(want[i]))))
      return ::testing::AssertionFailure() << "frame " << frame << " element " << i << ": " << got[i] << " vs "
                                           << want[i];
  return ::testing::AssertionSuccess();
}

std::vector<float> resetMemory() {
  std::vector<float> mem(4 * kM);
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i < kM; ++i) mem[k * kM + i] = static_cast<float>(3.141592654 * (i + 1) / 11.0);
  return mem;
}

TEST(G729BSidFloat, QuantiserMatchesReference) {
  Record g("f_sidq.bin");
  ASSERT_TRUE(g.ok()) << "missing golden file f_sidq.bin";
  int frames = 0, mode1 = 0;
  while (!g.done()) {
    const int count = g.w16();
    std::vector<float> mem = g.vf(4 * kM);
    for (int f = 0; f < count; ++f, ++frames) {
      const std::vector<float> lsf = g.vf(kM), wantQ = g.vf(kM);
      const std::vector<int16_t> wantIdx = g.v16(3);
      const std::vector<float> wantRes = g.vf(kM);
      const std::vector<float> old = mem;
      float q[kM];
      int16_t idx[3];
      ASSERT_EQ(voksLSFQuant_G729B_32f(lsf.data(), mem.data(), q, idx), vokOk);
      EXPECT_EQ(idx[0], wantIdx[0]) << "frame " << frames;
      EXPECT_EQ(idx[1], wantIdx[1]) << "frame " << frames;
      EXPECT_EQ(idx[2], wantIdx[2]) << "frame " << frames;
      EXPECT_TRUE(close(q, wantQ, 1e-6f, frames));
      EXPECT_TRUE(close(mem.data(), wantRes, 1e-6f, frames));
      for (int i = kM; i < 4 * kM; ++i) EXPECT_EQ(mem[i], old[i - kM]) << "memory not shifted, frame " << frames;
      mode1 += wantIdx[0];
      std::memcpy(mem.data(), wantRes.data(), kM * sizeof(float));  // keep the runs on the reference path
    }
  }
  EXPECT_GE(frames, 200);
  EXPECT_GT(mode1, 0);  // both predictors exercised
  EXPECT_LT(mode1, frames);
}

TEST(G729BSidFloat, DecoderMatchesReference) {
  Record g("f_siddec.bin");
  ASSERT_TRUE(g.ok()) << "missing golden file f_siddec.bin";
  int frames = 0;
  while (!g.done()) {
    const int count = g.w16();
    std::vector<float> mem = g.vf(4 * kM);
    for (int f = 0; f < count; ++f, ++frames) {
      const std::vector<int16_t> idx = g.v16(3);
      const std::vector<float> want = g.vf(kM), wantRes = g.vf(kM);
      const std::vector<float> old = mem;
      float lsf[kM];
      ASSERT_EQ(voksLSFDecode_G729B_32f(idx.data(), mem.data(), lsf), vokOk);
      EXPECT_TRUE(close(lsf, want, 1e-6f, frames));
      EXPECT_TRUE(close(mem.data(), wantRes, 1e-6f, frames));
      for (int i = kM; i < 4 * kM; ++i) EXPECT_EQ(mem[i], old[i - kM]) << "frame " << frames;
      std::memcpy(mem.data(), wantRes.data(), kM * sizeof(float));
    }
  }
  EXPECT_GE(frames, 100);
}

TEST(G729BSidFloat, ArgumentChecks) {
  std::vector<float> mem = resetMemory();
  float lsf[kM], q[kM];
  for (int i = 0; i < kM; ++i) lsf[i] = 0.25f * (i + 1);
  int16_t idx[3] = {0, 0, 0};
  vtest::Guard g;
  g.watch(mem.data(), mem.size()).watch(q, kM).watch(idx, 3);
  EXPECT_REJECTS(vokErrNullPtr, g, voksLSFQuant_G729B_32f(nullptr, mem.data(), q, idx));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLSFQuant_G729B_32f(lsf, nullptr, q, idx));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLSFQuant_G729B_32f(lsf, mem.data(), nullptr, idx));
  EXPECT_REJECTS(vokErrNullPtr, g, voksLSFQuant_G729B_32f(lsf, mem.data(), q, nullptr));

  const int16_t code[3] = {1, 5, 7};
  vtest::Guard d;
  d.watch(mem.data(), mem.size()).watch(q, kM);
  EXPECT_REJECTS(vokErrNullPtr, d, voksLSFDecode_G729B_32f(nullptr, mem.data(), q));
  EXPECT_REJECTS(vokErrNullPtr, d, voksLSFDecode_G729B_32f(code, nullptr, q));
  EXPECT_REJECTS(vokErrNullPtr, d, voksLSFDecode_G729B_32f(code, mem.data(), nullptr));
}

// The quantiser's output and memory are what the decoder rebuilds from its
// indices, so encoder and decoder stay in step.
TEST(G729BSidFloat, QuantiserAndDecoderAgree) {
  std::vector<float> encMem = resetMemory(), decMem = resetMemory();
  uint32_t seed = 7;
  for (int f = 0; f < 50; ++f) {
    float lsf[kM];
    for (int i = 0; i < kM; ++i) {
      seed = seed * 1664525u + 1013904223u;
      lsf[i] = static_cast<float>((i + 1) * 0.28 + ((seed >> 9) & 0xFFFF) / 65536.0 * 0.1);
    }
    float q[kM], d[kM];
    int16_t idx[3];
    ASSERT_EQ(voksLSFQuant_G729B_32f(lsf, encMem.data(), q, idx), vokOk);
    EXPECT_GE(idx[0], 0);
    EXPECT_LE(idx[0], 1);
    EXPECT_GE(idx[1], 0);
    EXPECT_LT(idx[1], 32);
    EXPECT_GE(idx[2], 0);
    EXPECT_LT(idx[2], 16);
    ASSERT_EQ(voksLSFDecode_G729B_32f(idx, decMem.data(), d), vokOk);
    for (int i = 0; i < kM; ++i) EXPECT_EQ(q[i], d[i]) << "frame " << f;
    EXPECT_EQ(encMem, decMem);
    // Stable output: increasing, spaced, inside the floor and ceiling.
    EXPECT_GE(d[0], 0.005f);
    EXPECT_LE(d[kM - 1], 3.135f);
    for (int i = 1; i < kM; ++i) EXPECT_GE(d[i] - d[i - 1], 0.0392f - 1e-5f);
  }
}

// The float and 16-bit SID decoders describe the same quantiser: from the
// reset memory, every index triple decodes to the same LSFs within the
// 16-bit form's resolution (Q13 radians).
TEST(G729BSidFloat, AgreesWithFixedPointDecoder) {
  for (int p = 0; p < 2; ++p)
    for (int i1 = 0; i1 < 32; i1 += 3)
      for (int i2 = 0; i2 < 16; i2 += 5) {
        std::vector<float> fm = resetMemory();
        std::vector<int16_t> im(4 * kM);
        for (int k = 0; k < 4 * kM; ++k) im[k] = static_cast<int16_t>(std::lround(fm[k] * 8192.0f));
        const int16_t idx[3] = {static_cast<int16_t>(p), static_cast<int16_t>(i1), static_cast<int16_t>(i2)};
        float lf[kM];
        int16_t li[kM];
        ASSERT_EQ(voksLSFDecode_G729B_32f(idx, fm.data(), lf), vokOk);
        ASSERT_GE(voksLSFDecode_G729B_16s(idx, im.data(), li), 0);
        for (int k = 0; k < kM; ++k) EXPECT_NEAR(lf[k], li[k] / 8192.0f, 3e-3f) << p << " " << i1 << " " << i2;
      }
}

}  // namespace
