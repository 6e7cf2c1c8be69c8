#include "diff_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "registry.h"
#include "vectors.h"

namespace difftest {

uint32_t crc32(const uint8_t* p, std::size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

std::vector<uint32_t> pcmCrcs(const std::vector<int16_t>& pcm, int frameLen) {
  std::vector<uint32_t> out;
  std::vector<uint8_t> b(2 * static_cast<std::size_t>(frameLen));
  for (std::size_t at = 0; at + frameLen <= pcm.size(); at += frameLen) {
    for (int i = 0; i < frameLen; ++i) {
      const auto v = static_cast<uint16_t>(pcm[at + i]);
      b[2 * i] = static_cast<uint8_t>(v & 0xFF);
      b[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    out.push_back(crc32(b.data(), b.size()));
  }
  return out;
}

std::vector<uint32_t> readGolden(const std::string& name) {
  std::vector<uint8_t> b;
  vtest::readFile(vtest::goldenDir() + "/differential/" + name + ".crc", b);
  std::vector<uint32_t> v;
  for (std::size_t i = 0; i + 4 <= b.size(); i += 4)
    v.push_back(b[i] | b[i + 1] << 8 | b[i + 2] << 16 | static_cast<uint32_t>(b[i + 3]) << 24);
  return v;
}

std::string compare(const std::string& name, const std::vector<uint32_t>& ours) {
  const std::vector<uint32_t> ref = readGolden(name);
  if (ref.empty()) return name + ": no golden data";
  for (std::size_t i = 0; i < ref.size() && i < ours.size(); ++i) {
    if (ref[i] != ours[i]) {
      std::ostringstream m;
      m << name << ": frame " << i << " differs from the reference";
      return m.str();
    }
  }
  if (ref.size() != ours.size())
    return name + ": " + std::to_string(ours.size()) + " frames, reference " + std::to_string(ref.size());
  return "";
}

std::vector<uint32_t> decodeCrcs(const char* codec, const std::vector<uint8_t>& bytes, const char* format,
                                 int frameLen) {
  const vokc::Codec* c = vokc::registry().find(codec);
  if (!c) return {};
  vokc::Options o;
  o.format = format;
  std::vector<int16_t> pcm;
  std::string err;
  EXPECT_TRUE(c->decode(bytes, o, pcm, err)) << err;
  return pcmCrcs(pcm, frameLen);
}

// Speech, the homing frame twice, one matching in its first subframe,
// speech, then first-subframe, whole, first-subframe and bad homing frames,
// the next mode's homing frame, speech.
const HomingStep kHomingScript[11] = {{6, 0, false, false}, {0, 0, false, false}, {0, 0, false, false},
                                      {0, 0, true, false},  {4, 0, false, false}, {0, 0, true, false},
                                      {0, 0, false, false}, {0, 0, true, false},  {0, 0, false, true},
                                      {0, 1, false, false}, {3, 0, false, false}};

void checkDecodes(const char* codec, int frameLen, const char* storageExt, const NamedStreams& streams) {
  const char* dump = std::getenv("VOKSC_DIFF_DUMP");
  for (const auto& [name, bytes] : streams) {
    const bool storage = name.find("storage") != std::string::npos;
    if (dump) std::ofstream(std::string(dump) + "/" + name + (storage ? storageExt : ".cod"), std::ios::binary)
                  .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    EXPECT_EQ(compare(name, decodeCrcs(codec, bytes, storage ? "storage" : "itu", frameLen)), "");
  }
}

std::vector<uint8_t> randomStorageFile(uint64_t seed, int frames, const std::string& magic, int commonTypes,
                                       int (*frameBytes)(int)) {
  Rng rng(seed);
  std::vector<uint8_t> f(magic.begin(), magic.end());
  for (int i = 0; i < frames; ++i) {
    const auto any = rng.chance(300, 1000);
    const int ft = static_cast<int>(rng.next() % (any ? 16u : static_cast<uint32_t>(commonTypes)));
    f.push_back(static_cast<uint8_t>(ft << 3 | (rng.chance(850, 1000) ? 4 : 0)));
    for (int k = 0; k < frameBytes(ft); ++k) f.push_back(static_cast<uint8_t>(rng.next()));
  }
  return f;
}

}  // namespace difftest
