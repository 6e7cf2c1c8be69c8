// Decoders fed junk must report malformed streams as errors rather than
// decode garbage silently; frame decoders take parameters modulo their
// fields; coder calls refuse objects their Init did not format.  (Arbitrary
// frames, erasures and truncation under the sanitizers: tests/fuzz.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "registry.h"
#include "vokcodec.h"

namespace {

// Junk in the ITU layout lacks the frame sync words: every decoder rejects
// it with a message.  A raw (RTP) payload is either rejected with a message
// or decodes to samples (every byte string is a G.726 or G.722 payload).
TEST(Robustness, RandomPayloadsAreRejected) {
  std::mt19937 rng(20261205);
  for (const auto& c : vokc::registry().codecs) {
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<uint8_t> junk(static_cast<std::size_t>(1 + rng() % 3000));
      for (auto& b : junk) b = static_cast<uint8_t>(rng());
      std::vector<std::string> formats = {"itu", "rtp"};
      for (const auto& l : c.layouts) formats.push_back(l.name);
      for (const std::string& fmt : formats) {
        vokc::Options o;
        o.format = fmt;
        std::vector<int16_t> pcm;
        std::string err;
        const bool ok = c.decode(junk, o, pcm, err);
        // G.723.1's ITU layout is its packed frames: any bytes are frames
        // (invalid fields are concealed as erasures), so only a cut last
        // frame is an error there.
        if (fmt == "itu" && c.name.rfind("g723", 0) != 0) {
          EXPECT_FALSE(ok) << c.name << " accepted junk";
        }
        EXPECT_TRUE(ok ? !pcm.empty() : !err.empty()) << c.name << " " << fmt;
      }
    }
  }
}

}  // namespace

namespace {

// A frame decoder over fresh state: the fixed-point variants and the float coder.
struct FrameDecoder {
  const char* name;
  std::vector<unsigned char> mem;
  VokResult (*decode)(void*, const Vok16s*, int, Vok16s*);
};

std::vector<FrameDecoder> g729FrameDecoders() {
  std::vector<FrameDecoder> out;
  int size = 0;
  vokcG729DecoderGetSize(&size);
  for (int variant : {vokcG729Main, vokcG729AnnexA}) {
    FrameDecoder d{variant ? "g729a" : "g729", std::vector<unsigned char>(size), vokcG729Decode};
    EXPECT_EQ(vokcG729DecoderInit(d.mem.data(), variant), vokOk);
    out.push_back(std::move(d));
  }
  vokcG729FloatDecoderGetSize(&size);
  FrameDecoder f{"g729a-float", std::vector<unsigned char>(size), vokcG729FloatDecode};
  EXPECT_EQ(vokcG729FloatDecoderInit(f.mem.data()), vokOk);
  out.push_back(std::move(f));
  return out;
}

}  // namespace

// Parameters beyond their bit fields (a negative delay index among them)
// decode exactly as their residues modulo the field size.
TEST(Robustness, G729DecodersTakeParametersModuloTheirFields) {
  static const int kBits[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
  std::mt19937 rng(29);
  auto wild = g729FrameDecoders(), tame = g729FrameDecoders();
  for (std::size_t k = 0; k < wild.size(); ++k) {
    for (int frame = 0; frame < 12; ++frame) {
      Vok16s big[11], masked[11], a[80], b[80];
      for (int p = 0; p < 11; ++p) {
        big[p] = static_cast<Vok16s>(rng());
        masked[p] = static_cast<Vok16s>(big[p] & ((1 << kBits[p]) - 1));
      }
      if (frame == 0) big[2] = masked[2] = static_cast<Vok16s>(0xd73d);  // the delay index found by fuzzing
      masked[2] = static_cast<Vok16s>(big[2] & 255);
      ASSERT_EQ(wild[k].decode(wild[k].mem.data(), big, 0, a), vokOk) << wild[k].name;
      ASSERT_EQ(tame[k].decode(tame[k].mem.data(), masked, 0, b), vokOk);
      ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << wild[k].name << " frame " << frame;
    }
  }
}

// Every coder call refuses an object its own Init did not format: zeroed
// or random bytes, or another coder's object.  Nothing is written.
TEST(Robustness, CodersRefuseForeignObjects) {
  struct Entry {
    const char* name;
    unsigned object;   // the kind of object init formats (one bit)
    unsigned accepts;  // the kinds call takes
    VokResult (*size)(int*);
    std::function<VokResult(void*)> init;
    std::function<VokResult(void*, Vok16s*, Vok8u*)> call;  // writes into the two buffers
  };
  const std::vector<Entry> coders = {
      {"g729 enc", 1, 1, vokcG729EncoderGetSize, [](void* m) { return vokcG729EncoderInit(m, 0); },
       [](void* m, Vok16s* s, Vok8u*) { return vokcG729Encode(m, s, s + 80); }},
      {"g729b enc", 1, 1, vokcG729EncoderGetSize, [](void* m) { return vokcG729BEncoderInit(m, 1); },
       [](void* m, Vok16s* s, Vok8u*) {
         int t = 0;
         return vokcG729BEncode(m, s, s + 80, &t);
       }},
      {"g729 dec", 2, 2, vokcG729DecoderGetSize, [](void* m) { return vokcG729DecoderInit(m, 0); },
       [](void* m, Vok16s* s, Vok8u*) { return vokcG729Decode(m, s + 80, 0, s); }},
      {"g729b dec", 2, 2, vokcG729DecoderGetSize, [](void* m) { return vokcG729DecoderInit(m, 1); },
       [](void* m, Vok16s* s, Vok8u*) { return vokcG729BDecode(m, s + 80, 2, 0, s); }},
      {"g729d enc", 4, 4, vokcG729DEncoderGetSize, vokcG729DEncoderInit,
       [](void* m, Vok16s* s, Vok8u*) { return vokcG729DEncode(m, s, vokcG729D8k, s + 80); }},
      {"g729d dec", 8, 8, vokcG729DDecoderGetSize, vokcG729DDecoderInit,
       [](void* m, Vok16s* s, Vok8u*) { return vokcG729DDecode(m, s + 80, vokcG729D6k4, 0, s); }},
      {"g729e enc", 16, 16, vokcG729EEncoderGetSize, vokcG729EEncoderInit,
       [](void* m, Vok16s* s, Vok8u*) { return vokcG729EEncode(m, s, vokcG729ERate118, s + 80); }},
      {"g729e dec", 32, 32, vokcG729EDecoderGetSize, vokcG729EDecoderInit,
       [](void* m, Vok16s* s, Vok8u*) { return vokcG729EDecode(m, s + 80, vokcG729ERate118, 0, s); }},
      {"g729i enc", 64, 64, vokcG729IEncoderGetSize, [](void* m) { return vokcG729IEncoderInit(m, 1); },
       [](void* m, Vok16s* s, Vok8u* b) {
         int n = 0;
         return vokcG729IEncode(m, s, vokcG729IRate118, b, &n);
       }},
      {"g729i dec", 128, 128, vokcG729IDecoderGetSize, vokcG729IDecoderInit,
       [](void* m, Vok16s* s, Vok8u* b) { return vokcG729IDecode(m, b, 80, 0, s); }},
      {"float enc", 256, 256, vokcG729FloatEncoderGetSize, vokcG729FloatEncoderInit,
       [](void* m, Vok16s* s, Vok8u*) { return vokcG729FloatEncode(m, s, s + 80); }},
      {"float dec", 512, 512, vokcG729FloatDecoderGetSize, vokcG729FloatDecoderInit,
       [](void* m, Vok16s* s, Vok8u*) { return vokcG729FloatDecode(m, s + 80, 0, s); }},
      {"g726 enc", 1024, 1024, vokcG726EncoderGetSize, [](void* m) { return vokcG726EncoderInit(m, 32, vokcG726Linear); },
       [](void* m, Vok16s* s, Vok8u* b) { return vokcG726Encode(m, s, 80, b); }},
      {"g726 dec", 2048, 2048, vokcG726DecoderGetSize, [](void* m) { return vokcG726DecoderInit(m, 40, vokcG726ALaw); },
       [](void* m, Vok16s* s, Vok8u* b) { return vokcG726Decode(m, b, 80, s); }},
      {"g726 rate", 2048, 3072, vokcG726DecoderGetSize, [](void* m) { return vokcG726DecoderInit(m, 16, vokcG726ULaw); },
       [](void* m, Vok16s*, Vok8u*) { return vokcG726SetRate(m, 24); }},
      {"g722 enc", 4096, 4096, vokcG722EncoderGetSize, vokcG722EncoderInit,
       [](void* m, Vok16s* s, Vok8u* b) { return vokcG722Encode(m, s, 80, b); }},
      {"g722 dec", 8192, 8192, vokcG722DecoderGetSize, [](void* m) { return vokcG722DecoderInit(m, 2); },
       [](void* m, Vok16s* s, Vok8u* b) { return vokcG722Decode(m, b, 40, s); }},
  };
  std::mt19937 rng(3);
  for (const auto& own : coders) {
    int size = 0;
    ASSERT_EQ(own.size(&size), vokOk);
    for (int fill = 0; fill < 2 + static_cast<int>(coders.size()); ++fill) {
      std::vector<unsigned char> mem(static_cast<std::size_t>(size) + 64);
      if (fill == 0) std::fill(mem.begin(), mem.end(), 0);
      if (fill == 1)
        for (auto& b : mem) b = static_cast<unsigned char>(rng());
      if (fill >= 2) {  // another coder's freshly initialised object
        const auto& other = coders[fill - 2];
        int need = 0;
        other.size(&need);
        if (own.accepts & other.object) continue;
        mem.resize(std::max<std::size_t>(mem.size(), static_cast<std::size_t>(need)));
        ASSERT_EQ(other.init(mem.data()), vokOk);
      }
      Vok16s samples[200] = {};
      Vok8u bits[200] = {};
      const std::vector<unsigned char> before = mem;
      EXPECT_EQ(own.call(mem.data(), samples, bits), vokErrContextMatch) << own.name << " fill " << fill;
      EXPECT_TRUE(std::all_of(samples, samples + 200, [](Vok16s v) { return v == 0; })) << own.name;
      EXPECT_TRUE(mem == before) << own.name;
    }
    std::vector<unsigned char> mem(static_cast<std::size_t>(size));
    ASSERT_EQ(own.init(mem.data()), vokOk);
    Vok16s samples[200] = {};
    Vok8u bits[200] = {};
    EXPECT_GE(own.call(mem.data(), samples, bits), 0) << own.name;
  }
}

// The G.729-family frame APIs check their pointers, then their sizes and
// rates; a lost or untransmitted frame needs no bits.  Objects sit at odd
// addresses: each coder aligns its own.
TEST(Robustness, FrameApisCheckTheirArguments) {
  std::vector<std::vector<unsigned char>> keep;
  auto make = [&keep](VokResult (*size)(int*), const std::function<VokResult(void*)>& init) {
    int n = 0;
    EXPECT_EQ(size(&n), vokOk);
    keep.emplace_back(static_cast<std::size_t>(n) + 8);
    EXPECT_EQ(init(keep.back().data() + 3), vokOk);
    return static_cast<void*>(keep.back().data() + 3);
  };
  void* de = make(vokcG729DEncoderGetSize, vokcG729DEncoderInit);
  void* dd = make(vokcG729DDecoderGetSize, vokcG729DDecoderInit);
  void* ee = make(vokcG729EEncoderGetSize, vokcG729EEncoderInit);
  void* ed = make(vokcG729EDecoderGetSize, vokcG729EDecoderInit);
  void* ie = make(vokcG729IEncoderGetSize, [](void* m) { return vokcG729IEncoderInit(m, 0); });
  void* id = make(vokcG729IDecoderGetSize, vokcG729IDecoderInit);
  void* be = make(vokcG729EncoderGetSize, [](void* m) { return vokcG729BEncoderInit(m, vokcG729Main); });
  void* bd = make(vokcG729DecoderGetSize, [](void* m) { return vokcG729DecoderInit(m, vokcG729Main); });
  void* fe = make(vokcG729FloatEncoderGetSize, vokcG729FloatEncoderInit);
  void* fd = make(vokcG729FloatDecoderGetSize, vokcG729FloatDecoderInit);
  Vok16s pcm[80] = {}, prm[18] = {};
  Vok8u bits[118] = {};
  int n = 0;
  const struct {
    const char* call;
    VokResult got, want;
  } rows[] = {
      {"inits", vokcG729IEncoderInit(nullptr, 0), vokErrNullPtr},
      {"", vokcG729BEncoderInit(nullptr, vokcG729Main), vokErrNullPtr},
      {"", vokcG729BEncoderInit(be, 2), vokErrRange},
      {"D", vokcG729DEncode(de, nullptr, vokcG729D6k4, prm), vokErrNullPtr},
      {"", vokcG729DEncode(de, pcm, vokcG729D6k4, nullptr), vokErrNullPtr},
      {"", vokcG729DEncode(nullptr, pcm, vokcG729D6k4, prm), vokErrNullPtr},
      {"", vokcG729DDecode(dd, nullptr, vokcG729D8k, 0, pcm), vokErrNullPtr},
      {"", vokcG729DDecode(dd, nullptr, vokcG729D8k, 1, pcm), vokOk},
      {"", vokcG729DDecode(dd, prm, vokcG729D8k, 0, nullptr), vokErrNullPtr},
      {"", vokcG729DPackBits(nullptr, vokcG729D8k, bits), vokErrNullPtr},
      {"", vokcG729DUnpackBits(nullptr, vokcG729D8k, prm), vokErrNullPtr},
      {"E", vokcG729EEncode(ee, pcm, 2, prm), vokErrRange},
      {"", vokcG729EEncode(ee, nullptr, 1, prm), vokErrNullPtr},
      {"", vokcG729EEncode(ee, pcm, 1, nullptr), vokErrNullPtr},
      {"", vokcG729EDecode(ed, prm, -1, 0, pcm), vokErrRange},
      {"", vokcG729EDecode(ed, nullptr, 1, 0, pcm), vokErrNullPtr},
      {"", vokcG729EDecode(nullptr, prm, 1, 0, pcm), vokErrNullPtr},
      {"", vokcG729EPackBits(prm, 3, bits), vokErrRange},
      {"", vokcG729EPackBits(nullptr, 1, bits), vokErrNullPtr},
      {"", vokcG729EUnpackBits(bits, 1, prm, nullptr), vokErrNullPtr},
      {"", vokcG729EUnpackBits(bits, 7, prm, &n), vokErrRange},
      {"I", vokcG729IEncode(ie, pcm, 3, bits, &n), vokErrRange},
      {"", vokcG729IEncode(ie, pcm, -1, bits, &n), vokErrRange},
      {"", vokcG729IEncode(ie, nullptr, 1, bits, &n), vokErrNullPtr},
      {"", vokcG729IEncode(ie, pcm, 1, bits, nullptr), vokErrNullPtr},
      {"", vokcG729IDecode(id, nullptr, 80, 0, pcm), vokErrNullPtr},
      {"", vokcG729IDecode(id, bits, 80, 0, nullptr), vokErrNullPtr},
      {"", vokcG729IDecode(id, nullptr, 80, 1, pcm), vokOk},
      {"", vokcG729IDecode(id, nullptr, 0, 0, pcm), vokOk},
      {"B", vokcG729BEncode(be, pcm, prm, nullptr), vokErrNullPtr},
      {"", vokcG729BEncode(be, nullptr, prm, &n), vokErrNullPtr},
      {"", vokcG729BDecode(bd, prm, 3, 0, pcm), vokErrRange},
      {"", vokcG729BDecode(bd, prm, -1, 0, pcm), vokErrRange},
      {"", vokcG729BDecode(bd, nullptr, vokcG729BSid, 0, pcm), vokErrNullPtr},
      {"", vokcG729BDecode(bd, nullptr, vokcG729BUntransmitted, 0, pcm), vokOk},
      {"", vokcG729BPackSid(nullptr, nullptr), vokErrNullPtr},
      {"float", vokcG729FloatEncode(nullptr, pcm, prm), vokErrNullPtr},
      {"", vokcG729FloatEncode(fe, nullptr, prm), vokErrNullPtr},
      {"", vokcG729FloatEncode(fe, pcm, nullptr), vokErrNullPtr},
      {"", vokcG729FloatDecode(nullptr, prm, 0, pcm), vokErrNullPtr},
      {"", vokcG729FloatDecode(fd, nullptr, 0, pcm), vokErrNullPtr},
      {"", vokcG729FloatDecode(fd, prm, 0, nullptr), vokErrNullPtr},
  };
  for (std::size_t k = 0; k < sizeof rows / sizeof rows[0]; ++k)
    EXPECT_EQ(rows[k].got, rows[k].want) << "row " << k << " " << rows[k].call;
  VokResult (*const sizes[])(int*) = {vokcG729DEncoderGetSize, vokcG729DDecoderGetSize, vokcG729EEncoderGetSize,
                                      vokcG729EDecoderGetSize, vokcG729IEncoderGetSize, vokcG729IDecoderGetSize,
                                      vokcG729FloatEncoderGetSize, vokcG729FloatDecoderGetSize};
  VokResult (*const inits[])(void*) = {vokcG729DEncoderInit, vokcG729DDecoderInit, vokcG729EEncoderInit,
                                       vokcG729EDecoderInit, vokcG729IDecoderInit, vokcG729FloatEncoderInit,
                                       vokcG729FloatDecoderInit};
  for (std::size_t k = 0; k < 8; ++k) EXPECT_EQ(sizes[k](nullptr), vokErrNullPtr) << "size query " << k;
  for (std::size_t k = 0; k < 7; ++k) EXPECT_EQ(inits[k](nullptr), vokErrNullPtr) << "initialisation " << k;
  for (int rate : {0, 63, 65, 79, 118, -64}) {
    EXPECT_EQ(vokcG729DEncode(de, pcm, rate, prm), vokErrRange) << rate;
    EXPECT_EQ(vokcG729DDecode(dd, prm, rate, 0, pcm), vokErrRange) << rate;
    EXPECT_EQ(vokcG729DPackBits(prm, rate, bits), vokErrRange) << rate;
    EXPECT_EQ(vokcG729DUnpackBits(bits, rate, prm), vokErrRange) << rate;
  }
  for (int bad : {-1, 1, 14, 17, 63, 81, 117, 119}) EXPECT_EQ(vokcG729IDecode(id, bits, bad, 0, pcm), vokErrSize) << bad;
  // Silence from reset: an 11.8 kbit/s Annex I frame repeats its mode bit;
  // Annex E starts in forward mode, and its 8 kbit/s frame decodes.
  ASSERT_EQ(vokcG729IEncode(ie, pcm, 2, bits, &n), vokOk);
  EXPECT_EQ(n, 118);
  EXPECT_EQ(bits[0], bits[1]);
  ASSERT_EQ(vokcG729EEncode(ee, pcm, 1, prm), vokOk);
  EXPECT_EQ(prm[0], 0);
  ASSERT_EQ(vokcG729EEncode(ee, pcm, 0, prm), vokOk);
  EXPECT_EQ(vokcG729EDecode(ed, prm, 0, 0, pcm), vokOk);
}
