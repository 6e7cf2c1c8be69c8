#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "check.h"
#include "core/block.h"
#include "core/cpu.h"
#include "core/state.h"
#include "core/vokcore.h"
#include "voksc.h"

using namespace voksc::core;
using V = std::vector<int32_t>;

TEST(BlockServices, ArgumentChecks) {
  int16_t d[4] = {1, 2, 3, 4};
  vtest::Guard g;
  g.watch(d, 4);
  EXPECT_NULLS_THEN(vokErrSize, g, zero16, d, 0);
  EXPECT_REJECTS(vokErrShift, g, shiftRight16(d, d, 4, -1));
  EXPECT_REJECTS(vokErrNullPtr, g, copy16(nullptr, d, -1));
}

TEST(BlockServices, ShiftEdges) {
  const int16_t src[4] = {5, -5, 32767, -32768};
  int16_t dst[4];
  // Plain shifts (left ones drop the bits above 16); shifts beyond the width
  // leave the sign (right) or nothing (left).
  struct {
    bool left;
    int shift;
    V want;
  } const rows[] = {{false, 20, {0, -1, 0, -1}}, {false, 0, {5, -5, 32767, -32768}}, {true, 16, {0, 0, 0, 0}}, {true, 1, {10, -10, -2, 0}}};
  for (const auto& c : rows) {
    ASSERT_EQ(c.left ? shiftLeft16(src, dst, 4, c.shift) : shiftRight16(src, dst, 4, c.shift), vokOk);
    EXPECT_EQ(V(dst, dst + 4), c.want) << c.left << " " << c.shift;
  }
  const int32_t s32[2] = {-7, 7};
  int32_t d32[2];
  ASSERT_EQ(shiftRight32(s32, d32, 2, 40), vokOk);
  EXPECT_EQ(V(d32, d32 + 2), V({-1, 0}));
}

TEST(BlockServices, FillPatternsAtOddOffsets) {
  std::vector<int32_t> buf(1000, 0);
  ASSERT_EQ(set32(0x12345678, buf.data() + 3, 997), vokOk);
  EXPECT_EQ(buf[2], 0);
  for (int i = 3; i < 1000; ++i) ASSERT_EQ(buf[i], 0x12345678);
  std::vector<int16_t> b16(77, 9);
  ASSERT_EQ(zero16(b16.data() + 1, 75), vokOk);
  EXPECT_EQ(V({b16[0], b16[76]}), V({9, 9}));
  for (int i = 1; i < 76; ++i) ASSERT_EQ(b16[i], 0);
}

TEST(BlockServices, LargeFillAsksCacheOnlyAbove2MiB) {
  std::vector<uint8_t> big(0x200000 + 200, 0xEE);
  const int32_t pat = 0x01020304;
  bool asked = true, streamed = true;
  fillPattern(big.data() + 4, 0x200000, &pat, 4, &asked, &streamed);
  EXPECT_FALSE(asked);
  EXPECT_FALSE(streamed);
  // One byte more: the cache size is consulted.  The block is filled
  // correctly whichever path runs, including from an unaligned start.
  std::vector<uint8_t> huge(64 << 20 | 100, 0xEE);
  fillPattern(huge.data() + 4, (64 << 20) + 1 + 12, &pat, 4, &asked, &streamed);
  EXPECT_TRUE(asked);
  int cache = 0;
  if (vokGetMaxCacheSizeB(&cache) == 0 && cache > 0 && cache < (64 << 20)) {
    EXPECT_TRUE(streamed);
  }
  const uint8_t want[4] = {4, 3, 2, 1};
  EXPECT_EQ(huge[3], 0xEE);
  for (std::size_t i = 0; i < (64u << 20) + 13; ++i) ASSERT_EQ(huge[4 + i], want[i % 4]) << i;
  EXPECT_EQ(huge[4 + (64 << 20) + 13], 0xEE);
}

TEST(CoreServices, MallocAlignedAndNullForEmpty) {
  EXPECT_EQ(vokMalloc(0), nullptr);
  void* p = vokMalloc(100);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 32, 0u);
  vokFree(p);
  EXPECT_GE(ownGetNumThreads(), 1);
}

TEST(StateObjects, FirstSixteenByteBoundary) {
  alignas(16) unsigned char mem[64];
  for (int off = 0; off < 16; ++off) {
    auto* p = alignState16<unsigned char>(mem + off);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
    EXPECT_EQ(p, mem + (off == 0 ? 0 : 16));
  }
}

// The run level is the processor's unless VOKSC_CPU lowers it; it is never
// raised (the suite also runs under VOKSC_CPU=scalar).
TEST(CpuLevel, ForcedOnlyDownwards) {
  const int top = static_cast<int>(voksc::cpu::supported()), run = static_cast<int>(voksc::cpu::level());
  EXPECT_LE(run, top);
  const char* forced = std::getenv("VOKSC_CPU");
  if (forced == nullptr) {
    EXPECT_EQ(run, top);
  } else if (std::strcmp(forced, "scalar") == 0) {
    EXPECT_EQ(run, 0);
  } else if (std::strcmp(forced, voksc::cpu::name(voksc::cpu::supported())) == 0) {
    EXPECT_EQ(run, top);
  }
  EXPECT_STREQ(voksc::cpu::name(voksc::cpu::Level::kAvx2), "avx2");
  // An emulated processor of known features (scripts/test-emulated.sh).
  if (const char* want = std::getenv("VOKSC_TEST_EXPECT_CPU")) {
    EXPECT_STREQ(voksc::cpu::name(voksc::cpu::supported()), want);
  }
}
