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

struct Record : vtest::GoldenReader {
  explicit Record(const std::string& name) : GoldenReader("g729/sid/" + name) {}
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
      EXPECT_EQ(std::vector<int16_t>(idx, idx + 3), wantIdx) << "frame " << frames;
      EXPECT_TRUE(close(q, wantQ, 1e-6f, frames));
      EXPECT_TRUE(close(mem.data(), wantRes, 1e-6f, frames));
      for (int i = kM; i < 4 * kM; ++i) EXPECT_EQ(mem[i], old[i - kM]) << "memory not shifted, frame " << frames;
      mode1 += wantIdx[0];
      std::memcpy(mem.data(), wantRes.data(), kM * sizeof(float));  // keep the runs on the reference path
    }
  }
  EXPECT_GE(frames, 200);
  EXPECT_TRUE(mode1 > 0 && mode1 < frames) << mode1;  // both predictors exercised
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
  EXPECT_EACH_NULL(g, voksLSFQuant_G729B_32f, lsf, mem.data(), q, idx);
  const int16_t code[3] = {1, 5, 7};
  EXPECT_EACH_NULL(g, voksLSFDecode_G729B_32f, code, mem.data(), q);
}

}  // namespace
