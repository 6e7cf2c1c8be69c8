// The ITU-T G.726 digital test sequences through the G.726 exports: every
// encoder and decoder run of the sequence set, from reset and after the
// initialisation sequences, at all four rates and both laws.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "g726/g711.h"
#include "vectors.h"
#include "voksc.h"

namespace {

constexpr int kInitLength = 3496;  // the initialisation sequences' useful part

struct SequenceRun {
  std::string name;
  bool encoder;
  char law;             // 'a' or 'm': input law (encoder) or output law (decoder)
  std::string init;     // initialisation file, empty when starting from reset
  std::string input;
  std::string expected;
};

// Test names instead of byte dumps in failure messages.
void PrintTo(const SequenceRun& r, std::ostream* os) { *os << r.name; }

VokRateCode rateCode(int kbps) {
  switch (kbps) {
    case 16: return vokRate16000;
    case 24: return vokRate24000;
    case 32: return vokRateG726_32;
    default: return vokRateG726_40;
  }
}

std::vector<SequenceRun> allRuns() {
  std::vector<SequenceRun> runs;
  for (int r : {16, 24, 32, 40}) {
    const std::string R = std::to_string(r);
    for (char l : {'a', 'm'}) {
      const std::string L(1, l);
      const char other = l == 'a' ? 'm' : 'a';
      const std::string cross = l == 'a' ? "c" : "x";  // A-law out from mu codes: c; mu out from A codes: x
      for (const char* src : {"n", "v"}) {
        const std::string in = std::string(src) == "n" ? "nrm." : "ovr.";
        runs.push_back({"r" + std::string(src) + R + "f" + L + " enc", true, l, "", in + L,
                        "r" + std::string(src) + R + "f" + L + ".i"});
        runs.push_back({"r" + std::string(src) + R + "f" + L + " dec", false, l, "",
                        "r" + std::string(src) + R + "f" + L + ".i", "r" + std::string(src) + R + "f" + L + ".o"});
        runs.push_back({"r" + std::string(src) + R + "f" + cross + " dec", false, l, "",
                        "r" + std::string(src) + R + "f" + std::string(1, other) + ".i",
                        "r" + std::string(src) + R + "f" + cross + ".o"});
        runs.push_back({"h" + std::string(src) + R + "f" + L + " enc", true, l, "pcm_init." + L, in + L,
                        "h" + std::string(src) + R + "f" + L + ".i"});
        runs.push_back({"h" + std::string(src) + R + "f" + L + " dec", false, l, "i_ini_" + R + "." + L,
                        "h" + std::string(src) + R + "f" + L + ".i", "h" + std::string(src) + R + "f" + L + ".o"});
        std::string init = "i_ini_" + R + "." + L;
        if (r == 16 && cross == "c" && std::string(src) == "n") init = "";  // hn16fc.o is made from reset
        runs.push_back({"h" + std::string(src) + R + "f" + cross + " dec", false, l, init,
                        "h" + std::string(src) + R + "f" + std::string(1, other) + ".i",
                        "h" + std::string(src) + R + "f" + cross + ".o"});
      }
      runs.push_back({"ri" + R + "f" + L + " dec", false, l, "", "i" + R, "ri" + R + "f" + L + ".o"});
      runs.push_back({"hi" + R + "f" + L + " dec", false, l, "i_ini_" + R + "." + L, "i" + R, "hi" + R + "f" + L + ".o"});
    }
  }
  return runs;
}

// First differing position, or -1.
long firstDiff(const std::vector<int16_t>& got, const std::vector<int16_t>& want) {
  if (got.size() != want.size()) return static_cast<long>(std::min(got.size(), want.size()));
  for (std::size_t i = 0; i < got.size(); ++i)
    if (got[i] != want[i]) return static_cast<long>(i);
  return -1;
}

class G726Vectors : public ::testing::TestWithParam<SequenceRun> {};

TEST_P(G726Vectors, BitExact) {
  const std::string dir = vtest::testVectorDir() + "/g726";
  VTEST_REQUIRE_DIR(dir);
  const SequenceRun& run = GetParam();
  std::vector<int16_t> init, in, want;
  if (!run.init.empty()) {
    ASSERT_TRUE(vtest::readWords(dir + "/" + run.init, init)) << run.init;
    init.resize(kInitLength);
  }
  ASSERT_TRUE(vtest::readWords(dir + "/" + run.input, in)) << run.input;
  ASSERT_TRUE(vtest::readWords(dir + "/" + run.expected, want)) << run.expected;
  const int kbps = std::stoi(run.expected.substr(2, 2));
  const bool alaw = run.law == 'a';
  std::vector<int16_t> got;
  if (run.encoder) {
    int size = 0;
    ASSERT_EQ(voksEncodeGetStateSize_G726_16s8u(&size), vokOk);
    std::vector<unsigned char> st(static_cast<std::size_t>(size));
    ASSERT_EQ(voksEncodeInit_G726_16s8u(st.data(), rateCode(kbps)), vokOk);
    auto encode = [&](const std::vector<int16_t>& pcm, bool keep) {
      std::vector<int16_t> lin(pcm.size());
      for (std::size_t i = 0; i < pcm.size(); ++i) {
        int c = pcm[i] & 0xFF;
        if (alaw) c ^= 0x55;
        lin[i] = static_cast<int16_t>(voksc::g711::expandLinear(c, alaw));
      }
      std::vector<Vok8u> codes(pcm.size());
      ASSERT_EQ(voksEncode_G726_16s8u(st.data(), lin.data(), codes.data(), static_cast<int>(lin.size())), vokOk);
      if (keep)
        for (Vok8u c : codes) got.push_back(c);
    };
    if (!init.empty()) encode(init, false);
    encode(in, true);
  } else {
    int size = 0;
    ASSERT_EQ(voksDecodeGetStateSize_G726_8u16s(&size), vokOk);
    std::vector<unsigned char> st(static_cast<std::size_t>(size));
    ASSERT_EQ(voksDecodeInit_G726_8u16s(st.data(), rateCode(kbps), alaw ? 1 : 0), vokOk);
    auto decode = [&](const std::vector<int16_t>& codesIn, bool keep) {
      std::vector<Vok8u> codes(codesIn.size());
      for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<Vok8u>(codesIn[i]);
      std::vector<Vok16s> out(codes.size());
      // Odd block sizes: the state carries everything across calls.
      std::size_t at = 0, block = 1;
      while (at < codes.size()) {
        int n = static_cast<int>(std::min(block, codes.size() - at));
        ASSERT_EQ(voksDecode_G726_8u16s(st.data(), codes.data() + at, out.data() + at, n), vokOk);
        at += static_cast<std::size_t>(n);
        block = block * 3 + 1;
      }
      if (keep) got.insert(got.end(), out.begin(), out.end());
    };
    if (!init.empty()) decode(init, false);
    decode(in, true);
  }
  EXPECT_EQ(firstDiff(got, want), -1) << run.name << ": first differing sample";
}

std::string runName(const ::testing::TestParamInfo<SequenceRun>& info) {
  std::string n = info.param.name;
  for (char& c : n)
    if (c == ' ') c = '_';
  return n;
}

INSTANTIATE_TEST_SUITE_P(Sequences, G726Vectors, ::testing::ValuesIn(allRuns()), runName);

// The G.191 variable-rate check: voice.src A-law compressed (magnitude
// x >> 4, or ~x >> 4 for negative x), coded with the rate switched every 16
// samples (16, 24, 32, 40, 32, 24 kbit/s) through the rate index both
// states publish at byte 22, decoded to A-law and expanded to interval
// midpoints.
int alawCharacter(int16_t x) {
  int ix = x < 0 ? (~x) >> 4 : x >> 4;
  if (ix > 15) {
    int e = 1;
    while (ix > 16 + 15) {
      ix >>= 1;
      ++e;
    }
    ix = ix - 16 + (e << 4);
  }
  if (x >= 0) ix |= 0x80;
  return ix ^ 0x55;
}
int16_t alawMidpoint(int c) {
  const int ix = (c ^ 0x55) & 0x7F;
  const int e = ix >> 4;
  int m = ix & 15;
  if (e > 0) m += 16;
  m = (m << 4) + 8;
  if (e > 1) m <<= e - 1;
  return static_cast<int16_t>((c & 0xFF) > 127 ? m : -m);
}

TEST(G726VariableRate, VoiceSequence) {
  const std::string dir = vtest::testVectorDir() + "/g726";
  VTEST_REQUIRE_DIR(dir);
  std::vector<int16_t> in, want;
  ASSERT_TRUE(vtest::readWords(dir + "/voice.src", in));
  ASSERT_TRUE(vtest::readWords(dir + "/voicevbr.lrf", want));
  int size = 0;
  voksEncodeGetStateSize_G726_16s8u(&size);
  std::vector<unsigned char> enc(static_cast<std::size_t>(size));
  voksDecodeGetStateSize_G726_8u16s(&size);
  std::vector<unsigned char> dec(static_cast<std::size_t>(size));
  ASSERT_EQ(voksEncodeInit_G726_16s8u(enc.data(), vokRate16000), vokOk);
  ASSERT_EQ(voksDecodeInit_G726_8u16s(dec.data(), vokRate16000, 1), vokOk);
  static const int16_t kCycle[6] = {0, 1, 2, 3, 2, 1};
  std::vector<int16_t> got;
  for (std::size_t at = 0, block = 0; at < in.size(); at += 16, ++block) {
    std::memcpy(enc.data() + 22, &kCycle[block % 6], 2);
    std::memcpy(dec.data() + 22, &kCycle[block % 6], 2);
    const int n = static_cast<int>(std::min<std::size_t>(16, in.size() - at));
    int16_t lin[16];
    Vok8u codes[16];
    Vok16s chars[16];
    for (int i = 0; i < n; ++i) lin[i] = static_cast<int16_t>(voksc::g711::expandLinear(alawCharacter(in[at + i]) ^ 0x55, true));
    ASSERT_EQ(voksEncode_G726_16s8u(enc.data(), lin, codes, n), vokOk);
    ASSERT_EQ(voksDecode_G726_8u16s(dec.data(), codes, chars, n), vokOk);
    for (int i = 0; i < n; ++i) got.push_back(alawMidpoint(chars[i]));
  }
  EXPECT_EQ(firstDiff(got, want), -1) << "first differing sample";
}

}  // namespace
