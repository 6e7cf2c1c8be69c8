#include "diff_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "registry.h"
#include "vectors.h"

namespace difftest {

std::vector<uint32_t> pcmCrcs(const std::vector<int16_t>& pcm, int frameLen) {
  std::vector<uint32_t> out;
  for (std::size_t at = 0; at + frameLen <= pcm.size(); at += frameLen) out.push_back(crc32(&pcm[at], frameLen));
  return out;
}

std::string compare(const std::string& name, const std::vector<uint32_t>& ours) {
  return vtest::compareChecksums("differential/" + name + ".crc", ours);
}

std::vector<int16_t> decodeFile(const std::string& codec, const std::vector<uint8_t>& bytes, const char* format,
                                const char* law) {
  const vokc::Codec* c = vokc::registry().find(codec);
  if (!c) return {};
  vokc::Options o;
  o.format = format;
  o.law = law;
  std::vector<int16_t> pcm;
  std::string err;
  EXPECT_TRUE(c->decode(bytes, o, pcm, err)) << codec << ": " << err;
  return pcm;
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
    EXPECT_EQ(compare(name, pcmCrcs(decodeFile(codec, bytes, storage ? "storage" : "itu"), frameLen)), "");
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
