// G.726 at 16, 24, 32 and 40 kbit/s: the frame-wise coder API, its place in
// the codec registry (ITU word and RFC 3551 layouts, linear or G.711 PCM)
// and the conformance checks of the ITU test sequences.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "registry.h"
#include "state_tag.h"
#include "vokcodec.h"
#include "checked_call.h"

namespace {

constexpr int kChunk = 256;       // samples per pass through the stack buffers
constexpr int kHeader = 16;       // our fields, then the library's state object
constexpr int kRateIndexAt = 22;  // the library state publishes its rate index here

struct Header {
  uint32_t tag;
  int32_t law;  // VokcG726Law
  int32_t bits;
};
static_assert(sizeof(Header) <= kHeader, "G.726 coder header");

int bitsOf(int kbps) {
  switch (kbps) {
    case 16: return 2;
    case 24: return 3;
    case 32: return 4;
    case 40: return 5;
    default: return 0;
  }
}
VokRateCode rateCodeOf(int bits) {
  static const VokRateCode codes[] = {vokRate16000, vokRate24000, vokRateG726_32, vokRateG726_40};
  return codes[bits - 2];
}

Header* header(void* mem) { return static_cast<Header*>(mem); }
unsigned char* coder(void* mem) { return static_cast<unsigned char*>(mem) + kHeader; }

// G.711 character (A-law as transmitted) to the codec's 14-bit linear PCM.
int g711ToLinear14(int c, bool alaw) {
  c &= 0xFF;
  if (alaw) {
    c ^= 0x55;
    const int e = (c >> 4) & 7, m = c & 15;
    const int mag = (e == 0 ? (m << 1) + 1 : ((m << 1) + 33) << (e - 1)) << 1;
    return c & 0x80 ? mag : -mag;
  }
  c = ~c & 0xFF;
  const int e = (c >> 4) & 7, m = c & 15;
  const int mag = (((m << 1) + 33) << e) - 33;
  return c & 0x80 ? -mag : mag;
}

}  // namespace

extern "C" {

static VokResult g726EncoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  int n = 0;
  VOKC_CALL(voksEncodeGetStateSize_G726_16s8u, &n);
  *size = kHeader + n;
  return vokOk;
}

VokResult vokcG726EncoderGetSize(int* size) {
  return vokc::guarded([&] { return g726EncoderGetSize(size); });
}

static VokResult g726EncoderInit(void* state, int kbps, int law) {
  if (!state) return vokErrNullPtr;
  const int bits = bitsOf(kbps);
  if (!bits || law < vokcG726Linear || law > vokcG726ALaw) return vokErrRange;
  *header(state) = {vokc::kTagG726Encoder, law, bits};
  return VOKC_CALL(voksEncodeInit_G726_16s8u, coder(state), rateCodeOf(bits));
}

VokResult vokcG726EncoderInit(void* state, int kbps, int law) {
  return vokc::guarded([&] { return g726EncoderInit(state, kbps, law); });
}

static VokResult g726Encode(void* state, const Vok16s* pcm, int len, Vok8u* codes) {
  if (!state || !pcm || !codes) return vokErrNullPtr;
  if (len < 0) return vokErrSize;
  if (header(state)->tag != vokc::kTagG726Encoder) return vokErrContextMatch;
  const int law = header(state)->law;
  Vok16s lin[kChunk];
  for (int at = 0; at < len; at += kChunk) {
    const int n = std::min(kChunk, len - at);
    for (int i = 0; i < n; ++i)
      lin[i] = static_cast<Vok16s>(law == vokcG726Linear ? pcm[at + i] >> 2
                                                         : g711ToLinear14(pcm[at + i], law == vokcG726ALaw));
    const VokResult r = VOKC_CALL(voksEncode_G726_16s8u, coder(state), lin, codes + at, n);
    if (r != vokOk) return r;
  }
  return vokOk;
}

VokResult vokcG726Encode(void* state, const Vok16s* pcm, int len, Vok8u* codes) {
  return vokc::guarded([&] { return g726Encode(state, pcm, len, codes); });
}

static VokResult g726DecoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  int n = 0;
  VOKC_CALL(voksDecodeGetStateSize_G726_8u16s, &n);
  *size = kHeader + n;
  return vokOk;
}

VokResult vokcG726DecoderGetSize(int* size) {
  return vokc::guarded([&] { return g726DecoderGetSize(size); });
}

static VokResult g726DecoderInit(void* state, int kbps, int law) {
  if (!state) return vokErrNullPtr;
  const int bits = bitsOf(kbps);
  if (!bits || law < vokcG726Linear || law > vokcG726ALaw) return vokErrRange;
  *header(state) = {vokc::kTagG726Decoder, law, bits};
  // The library's output law: 0 mu-law, 1 A-law, 2 linear.
  const int libLaw = law == vokcG726ULaw ? 0 : (law == vokcG726ALaw ? 1 : 2);
  return VOKC_CALL(voksDecodeInit_G726_8u16s, coder(state), rateCodeOf(bits), libLaw);
}

VokResult vokcG726DecoderInit(void* state, int kbps, int law) {
  return vokc::guarded([&] { return g726DecoderInit(state, kbps, law); });
}

static VokResult g726Decode(void* state, const Vok8u* codes, int len, Vok16s* pcm) {
  if (!state || !codes || !pcm) return vokErrNullPtr;
  if (len < 0) return vokErrSize;
  if (header(state)->tag != vokc::kTagG726Decoder) return vokErrContextMatch;
  if (len == 0) return vokOk;
  const VokResult r = VOKC_CALL(voksDecode_G726_8u16s, coder(state), codes, pcm, len);
  if (r == vokOk && header(state)->law == vokcG726Linear)
    for (int i = 0; i < len; ++i) pcm[i] = static_cast<Vok16s>(pcm[i] * 4);
  return r;
}

VokResult vokcG726Decode(void* state, const Vok8u* codes, int len, Vok16s* pcm) {
  return vokc::guarded([&] { return g726Decode(state, codes, len, pcm); });
}

VokResult vokcG726SetRate(void* state, int kbps) {
  if (!state) return vokErrNullPtr;
  const uint32_t tag = header(state)->tag;
  if (tag != vokc::kTagG726Encoder && tag != vokc::kTagG726Decoder) return vokErrContextMatch;
  const int bits = bitsOf(kbps);
  if (!bits) return vokErrRange;
  header(state)->bits = bits;
  const int16_t index = static_cast<int16_t>(bits - 2);
  std::memcpy(coder(state) + kRateIndexAt, &index, sizeof index);
  return vokOk;
}

VokResult vokcG726Pack(const Vok8u* codes, int count, int kbps, Vok8u* bytes, int* written) {
  if (!codes || !bytes || !written) return vokErrNullPtr;
  if (count < 0) return vokErrSize;
  const int bits = bitsOf(kbps);
  if (!bits) return vokErrRange;
  uint32_t acc = 0;
  int have = 0, n = 0;
  for (int i = 0; i < count; ++i) {
    acc |= static_cast<uint32_t>(codes[i] & ((1 << bits) - 1)) << have;
    have += bits;
    while (have >= 8) {
      bytes[n++] = static_cast<Vok8u>(acc);
      acc >>= 8;
      have -= 8;
    }
  }
  if (have > 0) bytes[n++] = static_cast<Vok8u>(acc);
  *written = n;
  return vokOk;
}

VokResult vokcG726Unpack(const Vok8u* bytes, int nbytes, int kbps, Vok8u* codes, int* count) {
  if (!bytes || !codes || !count) return vokErrNullPtr;
  if (nbytes < 0) return vokErrSize;
  const int bits = bitsOf(kbps);
  if (!bits) return vokErrRange;
  uint32_t acc = 0;
  int have = 0, n = 0;
  for (int i = 0; i < nbytes; ++i) {
    acc |= static_cast<uint32_t>(bytes[i]) << have;
    have += 8;
    while (have >= bits) {
      codes[n++] = static_cast<Vok8u>(acc & ((1u << bits) - 1));
      acc >>= bits;
      have -= bits;
    }
  }
  *count = n;
  return vokOk;
}

}  // extern "C"

namespace vokc {

namespace {

constexpr int kInitLength = 3496;  // useful part of the initialisation sequences

// One direction's object.
struct Coder {
  std::vector<unsigned char> mem;
  bool encoder;
  Coder(bool enc, int kbps, int law) : encoder(enc) {
    int n = 0;
    enc ? vokcG726EncoderGetSize(&n) : vokcG726DecoderGetSize(&n);
    mem.resize(static_cast<std::size_t>(n));
    enc ? vokcG726EncoderInit(mem.data(), kbps, law) : vokcG726DecoderInit(mem.data(), kbps, law);
  }
  std::vector<uint8_t> encode(const std::vector<int16_t>& pcm) {
    std::vector<uint8_t> codes(pcm.size());
    vokcG726Encode(mem.data(), pcm.data(), static_cast<int>(pcm.size()), codes.data());
    return codes;
  }
  std::vector<int16_t> decode(const std::vector<uint8_t>& codes) {
    std::vector<int16_t> pcm(codes.size());
    vokcG726Decode(mem.data(), codes.data(), static_cast<int>(codes.size()), pcm.data());
    return pcm;
  }
};

// ---- the registry entry: 80-sample frames -----------------------------------
// Payload: the frame's codes packed as RFC 3551 (80 codes fill whole
// octets at every rate).  A shorter payload decodes to its whole codes only
// when it ends on a group of 8 codes; the ITU layout states its sample count.

constexpr int kFrameSamples = 80;

int lawOf(const Settings& s, std::string& err) {
  const std::string l = s.get("law", "linear");
  if (l == "linear") return vokcG726Linear;
  if (l == "ulaw") return vokcG726ULaw;
  if (l == "alaw") return vokcG726ALaw;
  err = "unknown law '" + l + "' (alaw, ulaw or linear)";
  return -1;
}

// Silence of the decoder's output law.
Vok16s silenceOf(int law) { return static_cast<Vok16s>(law == vokcG726ALaw ? 0xD5 : law == vokcG726ULaw ? 0xFF : 0); }

void setFrames(Codec& c, int kbps) {
  const int bits = bitsOf(kbps);
  c.frameSamples = kFrameSamples;
  c.maxPayload = kFrameSamples * bits / 8;
  c.bitRate = kbps * 1000;
  c.options = {{"law", "linear|alaw|ulaw", kBothOption | kCharactersOption}};
  vokcG726EncoderGetSize(&c.encoderSize);
  vokcG726DecoderGetSize(&c.decoderSize);
  c.initEncoder = [kbps](void* s, const Settings& set) -> std::string {
    std::string err;
    const int law = lawOf(set, err);
    if (law < 0) return err;
    return vokcG726EncoderInit(s, kbps, law) == vokOk ? "" : "encoder initialisation failed";
  };
  c.initDecoder = [kbps](void* s, const Settings& set) -> std::string {
    std::string err;
    const int law = lawOf(set, err);
    if (law < 0) return err;
    return vokcG726DecoderInit(s, kbps, law) == vokOk ? "" : "decoder initialisation failed";
  };
  c.encodeFrame = [kbps](void* s, const int16_t* pcm, uint8_t* payload, int* bytes) -> VokResult {
    Vok8u codes[kFrameSamples];
    const VokResult r = vokcG726Encode(s, pcm, kFrameSamples, codes);
    return r != vokOk ? r : vokcG726Pack(codes, kFrameSamples, kbps, payload, bytes);
  };
  const int maxPayload = c.maxPayload;
  c.decodeFrame = [kbps, bits, maxPayload](void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm,
                                           int* samples) -> VokResult {
    const int stated = *samples;
    if (lost || !payload) {
      const Vok16s quiet = silenceOf(header(s)->law);
      for (int i = 0; i < kFrameSamples; ++i) pcm[i] = quiet;
      *samples = kFrameSamples;
      return vokOk;
    }
    if (bytes < 0 || bytes > maxPayload) return vokErrSize;
    int n = bytes * 8 / bits;
    if (stated > 0 && stated <= n && (stated * bits + 7) / 8 == bytes) n = stated;
    else if (bytes % bits) return vokErrSize;
    Vok8u codes[kFrameSamples + 8];
    int count = 0;
    VokResult r = vokcG726Unpack(payload, bytes, kbps, codes, &count);
    if (r == vokOk) r = vokcG726Decode(s, codes, n, pcm);
    *samples = r == vokOk ? n : 0;
    return r;
  };
  // ITU layout: one code per 16-bit little-endian word.
  c.itu.write = [kbps](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    Vok8u codes[kFrameSamples + 8];
    int count = 0;
    vokcG726Unpack(payload, bytes, kbps, codes, &count);
    for (int i = 0; i < count; ++i) {
      out.push_back(codes[i]);
      out.push_back(0);
    }
  };
  c.itu.read = [kbps, bits](const ByteInput& in, std::size_t frame, ReceivedFrame& out, std::string& err) {
    uint8_t words[2 * kFrameSamples];
    const std::size_t got = in(words, sizeof words);
    if (got == 0) return false;
    if (got % 2) {
      err = "truncated bitstream: odd number of bytes in a file of 16-bit code words";
      return false;
    }
    Vok8u codes[kFrameSamples];
    const int n = static_cast<int>(got / 2);
    for (int i = 0; i < n; ++i) {
      const int w = words[2 * i] | words[2 * i + 1] << 8;
      if (w >> bits) {
        err = "code word " + std::to_string(frame * kFrameSamples + static_cast<std::size_t>(i)) + " has more than " +
              std::to_string(bits) + " bits";
        return false;
      }
      codes[i] = static_cast<Vok8u>(w);
    }
    out.payload.resize(static_cast<std::size_t>(kFrameSamples * bits / 8));
    int bytes = 0;
    vokcG726Pack(codes, n, kbps, out.payload.data(), &bytes);
    out.payload.resize(static_cast<std::size_t>(bytes));
    out.samples = n;
    return true;
  };
}

// ---- conformance: the ITU-T G.726 digital test sequences -------------------

// One run of the sequence set: a coder from reset, optionally fed the first
// kInitLength words of an initialisation file, then the input; compared on
// the input part.
void addCheck(Registry& r, const std::string& name, bool encoder, int kbps, bool alaw, const std::string& init,
              const std::string& input, const std::string& expected) {
  r.checks.push_back({"g726 " + name, [=](const std::string& root) -> std::string {
    const std::string dir = root + "/g726/";
    std::vector<int16_t> pre, in, want;
    if (!readFileWords(dir + input, in)) return "missing " + dir + input;
    if (!readFileWords(dir + expected, want)) return "missing " + dir + expected;
    if (!init.empty()) {
      if (!readFileWords(dir + init, pre)) return "missing " + dir + init;
      pre.resize(kInitLength);
    }
    Coder c(encoder, kbps, alaw ? vokcG726ALaw : vokcG726ULaw);
    std::vector<int16_t> got;
    if (encoder) {
      if (!pre.empty()) c.encode(pre);
      const auto codes = c.encode(in);
      got.assign(codes.begin(), codes.end());
    } else {
      auto asCodes = [](const std::vector<int16_t>& w) { return std::vector<uint8_t>(w.begin(), w.end()); };
      if (!pre.empty()) c.decode(asCodes(pre));
      got = c.decode(asCodes(in));
    }
    return firstDifference(got, want);
  }});
}

// Every run of the sequence set's table, for both laws and all rates: 112.
void addChecks(Registry& r) {
  for (int kbps : {16, 24, 32, 40}) {
    const std::string R = std::to_string(kbps);
    for (char l : {'a', 'm'}) {
      const std::string L(1, l), O(1, l == 'a' ? 'm' : 'a');
      const std::string X = l == 'a' ? "c" : "x";  // cross-law output: A-law from mu codes (c), mu from A (x)
      const bool alaw = l == 'a';
      for (const std::string s : {"n", "v"}) {
        const std::string in = s == "n" ? "nrm." + L : "ovr." + L;
        const std::string iniDec = "i_ini_" + R + "." + L;
        addCheck(r, "r" + s + R + "f" + L + " encode", true, kbps, alaw, "", in, "r" + s + R + "f" + L + ".i");
        addCheck(r, "r" + s + R + "f" + L + " decode", false, kbps, alaw, "", "r" + s + R + "f" + L + ".i",
                 "r" + s + R + "f" + L + ".o");
        addCheck(r, "r" + s + R + "f" + X + " decode", false, kbps, alaw, "", "r" + s + R + "f" + O + ".i",
                 "r" + s + R + "f" + X + ".o");
        addCheck(r, "h" + s + R + "f" + L + " encode", true, kbps, alaw, "pcm_init." + L, in,
                 "h" + s + R + "f" + L + ".i");
        addCheck(r, "h" + s + R + "f" + L + " decode", false, kbps, alaw, iniDec, "h" + s + R + "f" + L + ".i",
                 "h" + s + R + "f" + L + ".o");
        // hn16fc.o is the one sequence produced from reset, without initialisation.
        const std::string iniX = (kbps == 16 && X == "c" && s == "n") ? "" : iniDec;
        addCheck(r, "h" + s + R + "f" + X + " decode", false, kbps, alaw, iniX, "h" + s + R + "f" + O + ".i",
                 "h" + s + R + "f" + X + ".o");
      }
      addCheck(r, "ri" + R + "f" + L + " decode", false, kbps, alaw, "", "i" + R, "ri" + R + "f" + L + ".o");
      addCheck(r, "hi" + R + "f" + L + " decode", false, kbps, alaw, "i_ini_" + R + "." + L, "i" + R,
               "hi" + R + "f" + L + ".o");
    }
  }
}

// The G.191 variable-rate check: A-law PCM coded with the rate switched
// every 16 samples (16, 24, 32, 40, 32, 24 kbit/s), decoded to A-law and
// expanded to 16-bit PCM (interval midpoints).
int16_t alawCompress(int16_t x) {
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
  return static_cast<int16_t>(ix ^ 0x55);
}
int16_t alawExpand(int16_t c) {
  const int ix = (c ^ 0x55) & 0x7F;
  const int e = ix >> 4;
  int m = ix & 15;
  if (e > 0) m += 16;
  m = (m << 4) + 8;
  if (e > 1) m <<= e - 1;
  return static_cast<int16_t>((c & 0xFF) > 127 ? m : -m);
}

void addVariableRateCheck(Registry& r) {
  r.checks.push_back({"g726 variable rate voice.src", [](const std::string& root) -> std::string {
    std::vector<int16_t> in, want;
    if (!readFileWords(root + "/g726/voice.src", in)) return "missing voice.src";
    if (!readFileWords(root + "/g726/voicevbr.lrf", want)) return "missing voicevbr.lrf";
    Coder e(true, 16, vokcG726ALaw), d(false, 16, vokcG726ALaw);
    static const int kCycle[6] = {16, 24, 32, 40, 32, 24};
    std::vector<int16_t> out;
    out.reserve(in.size());
    for (std::size_t at = 0, blk = 0; at < in.size(); at += 16, ++blk) {
      vokcG726SetRate(e.mem.data(), kCycle[blk % 6]);
      vokcG726SetRate(d.mem.data(), kCycle[blk % 6]);
      std::vector<int16_t> chars(in.begin() + static_cast<std::ptrdiff_t>(at),
                                 in.begin() + static_cast<std::ptrdiff_t>(std::min(in.size(), at + 16)));
      for (auto& v : chars) v = alawCompress(v);
      for (int16_t c : d.decode(e.encode(chars))) out.push_back(alawExpand(c));
    }
    return firstDifference(out, want);
  }});
}

}  // namespace

void addG726Codecs(Registry& r) {
  for (int kbps : {16, 24, 32, 40}) {
    Codec c;
    c.name = "g726-" + std::to_string(kbps);
    c.about = "ITU-T G.726 ADPCM, " + std::to_string(kbps) +
              " kbit/s (law=alaw|ulaw: PCM of G.711 characters, one per 16-bit word)";
    setFrames(c, kbps);
    r.codecs.push_back(c);
  }
  addChecks(r);
  addVariableRateCheck(r);
}

}  // namespace vokc
