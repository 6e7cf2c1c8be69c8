// G.726 at 16, 24, 32 and 40 kbit/s in the codec registry, with G.711
// companded input and output where the ITU test sequences use them.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "registry.h"
#include "vokcodec.h"

namespace vokc {

namespace {

constexpr int kInitLength = 3496;  // useful part of the initialisation sequences

VokRateCode rateCode(int kbps) {
  switch (kbps) {
    case 16: return vokRate16000;
    case 24: return vokRate24000;
    case 32: return vokRateG726_32;
    default: return vokRateG726_40;
  }
}

// G.711 character (A-law as transmitted) to 14-bit linear PCM.  With
// --law the PCM files hold one G.711 character per 16-bit word, as the ITU
// sequences do.
int g711ToLinear14(int c, bool alaw) {
  c &= 0xFF;
  if (alaw) {
    c ^= 0x55;
    int sign = c & 0x80, e = (c >> 4) & 7, m = c & 15;
    int mag = (e == 0 ? (m << 1) + 1 : ((m << 1) + 33) << (e - 1)) << 1;
    return sign ? mag : -mag;
  }
  c = ~c & 0xFF;
  int sign = c & 0x80, e = (c >> 4) & 7, m = c & 15;
  int mag = (((m << 1) + 33) << e) - 33;
  return sign ? -mag : mag;
}

struct Law {
  bool companded = false;
  bool alaw = false;
};

bool parseLaw(const Options& o, Law& law, std::string& err) {
  if (o.law.empty() || o.law == "linear") return true;
  if (o.law == "alaw" || o.law == "ulaw") {
    law.companded = true;
    law.alaw = o.law == "alaw";
    return true;
  }
  err = "unknown law '" + o.law + "' (alaw, ulaw or linear)";
  return false;
}

struct Encoder {
  std::vector<unsigned char> mem;
  explicit Encoder(int kbps) {
    int n = 0;
    voksEncodeGetStateSize_G726_16s8u(&n);
    mem.resize(static_cast<std::size_t>(n));
    voksEncodeInit_G726_16s8u(mem.data(), rateCode(kbps));
  }
  // Input samples: 14-bit linear.
  void run(const std::vector<int16_t>& lin, std::vector<uint8_t>& codes) {
    codes.resize(lin.size());
    if (!lin.empty()) voksEncode_G726_16s8u(mem.data(), lin.data(), codes.data(), static_cast<int>(lin.size()));
  }
};

struct Decoder {
  std::vector<unsigned char> mem;
  Decoder(int kbps, int law) {
    int n = 0;
    voksDecodeGetStateSize_G726_8u16s(&n);
    mem.resize(static_cast<std::size_t>(n));
    voksDecodeInit_G726_8u16s(mem.data(), rateCode(kbps), law);
  }
  void run(const std::vector<uint8_t>& codes, std::vector<int16_t>& out) {
    out.resize(codes.size());
    if (!codes.empty()) voksDecode_G726_8u16s(mem.data(), codes.data(), out.data(), static_cast<int>(codes.size()));
  }
};

std::vector<int16_t> toLinear14(const std::vector<int16_t>& in, const Law& law) {
  std::vector<int16_t> lin(in.size());
  for (std::size_t i = 0; i < in.size(); ++i)
    lin[i] = static_cast<int16_t>(law.companded ? g711ToLinear14(in[i], law.alaw) : (in[i] >> 2));
  return lin;
}

bool encodeStream(int kbps, const std::vector<int16_t>& pcm, const Options& o, std::vector<uint8_t>& out,
                  std::string& err) {
  Law law;
  if (!parseLaw(o, law, err)) return false;
  if (o.format != "itu" && o.format != "rtp") {
    err = "unknown bitstream format '" + o.format + "' (itu or rtp)";
    return false;
  }
  std::vector<uint8_t> codes;
  Encoder(kbps).run(toLinear14(pcm, law), codes);
  out.clear();
  if (o.format == "itu") {
    for (uint8_t c : codes) {
      out.push_back(c);
      out.push_back(0);
    }
    return true;
  }
  // RTP payload: codewords packed from the least significant bit of each octet.
  const int bits = kbps / 8;
  uint32_t acc = 0;
  int have = 0;
  for (uint8_t c : codes) {
    acc |= static_cast<uint32_t>(c) << have;
    have += bits;
    while (have >= 8) {
      out.push_back(static_cast<uint8_t>(acc & 0xFF));
      acc >>= 8;
      have -= 8;
    }
  }
  if (have > 0) out.push_back(static_cast<uint8_t>(acc & 0xFF));
  return true;
}

bool decodeStream(int kbps, const std::vector<uint8_t>& in, const Options& o, std::vector<int16_t>& pcm,
                  std::string& err) {
  Law law;
  if (!parseLaw(o, law, err)) return false;
  const int bits = kbps / 8;
  std::vector<uint8_t> codes;
  if (o.format == "itu") {
    if (in.size() % 2) {
      err = "truncated bitstream: odd number of bytes in a file of 16-bit code words";
      return false;
    }
    for (std::size_t i = 0; i < in.size(); i += 2) {
      int w = in[i] | (in[i + 1] << 8);
      if (w >> bits) {
        err = "code word " + std::to_string(i / 2) + " has more than " + std::to_string(bits) + " bits";
        return false;
      }
      codes.push_back(static_cast<uint8_t>(w));
    }
  } else if (o.format == "rtp") {
    uint32_t acc = 0;
    int have = 0;
    for (uint8_t b : in) {
      acc |= static_cast<uint32_t>(b) << have;
      have += 8;
      while (have >= bits) {
        codes.push_back(static_cast<uint8_t>(acc & ((1u << bits) - 1)));
        acc >>= bits;
        have -= bits;
      }
    }
  } else {
    err = "unknown bitstream format '" + o.format + "' (itu or rtp)";
    return false;
  }
  Decoder(kbps, law.companded ? (law.alaw ? 1 : 0) : 2).run(codes, pcm);
  if (!law.companded)
    for (auto& v : pcm) v = static_cast<int16_t>(v * 4);
  return true;
}

// ---- conformance: the ITU-T G.726 digital test sequences -----------------

std::vector<int16_t> words(const std::string& path, bool& ok) {
  std::vector<int16_t> w;
  ok = readFileWords(path, w);
  return w;
}


void addCheck(Registry& r, const std::string& name, bool encoder, int kbps, bool alaw, const std::string& init,
              const std::string& input, const std::string& expected) {
  r.checks.push_back({"g726 " + name, [=](const std::string& root) -> std::string {
    const std::string dir = root + "/g726/";
    bool ok = true;
    std::vector<int16_t> pre, in = words(dir + input, ok), want;
    if (!ok) return "missing " + dir + input;
    want = words(dir + expected, ok);
    if (!ok) return "missing " + dir + expected;
    if (!init.empty()) {
      pre = words(dir + init, ok);
      if (!ok) return "missing " + dir + init;
      pre.resize(kInitLength);
    }
    Law law{true, alaw};
    std::vector<int16_t> got;
    if (encoder) {
      Encoder e(kbps);
      std::vector<uint8_t> codes;
      if (!pre.empty()) e.run(toLinear14(pre, law), codes);
      e.run(toLinear14(in, law), codes);
      got.assign(codes.begin(), codes.end());
    } else {
      Decoder d(kbps, alaw ? 1 : 0);
      auto asCodes = [](const std::vector<int16_t>& w) {
        std::vector<uint8_t> c(w.size());
        for (std::size_t i = 0; i < w.size(); ++i) c[i] = static_cast<uint8_t>(w[i]);
        return c;
      };
      if (!pre.empty()) d.run(asCodes(pre), got);
      d.run(asCodes(in), got);
    }
    return firstDifference(got, want);
  }});
}

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
// expanded to 16-bit PCM.  The rate index sits at byte 22 of both states.
int16_t alawCompress(int16_t x) {
  int16_t ix = static_cast<int16_t>(x < 0 ? (~x) >> 4 : x >> 4);
  if (ix > 15) {
    int16_t e = 1;
    while (ix > 16 + 15) {
      ix = static_cast<int16_t>(ix >> 1);
      ++e;
    }
    ix = static_cast<int16_t>(ix - 16 + (e << 4));
  }
  if (x >= 0) ix = static_cast<int16_t>(ix | 0x80);
  return static_cast<int16_t>(ix ^ 0x55);
}
int16_t alawExpand(int16_t c) {
  int16_t ix = static_cast<int16_t>((c ^ 0x55) & 0x7F);
  int16_t e = static_cast<int16_t>(ix >> 4), m = static_cast<int16_t>(ix & 15);
  if (e > 0) m = static_cast<int16_t>(m + 16);
  m = static_cast<int16_t>((m << 4) + 8);
  if (e > 1) m = static_cast<int16_t>(m << (e - 1));
  return (c & 0xFF) > 127 ? m : static_cast<int16_t>(-m);
}

void addVariableRateCheck(Registry& r) {
  r.checks.push_back({"g726 variable rate voice.src", [](const std::string& root) -> std::string {
    std::vector<int16_t> in, want;
    if (!readFileWords(root + "/g726/voice.src", in)) return "missing voice.src";
    if (!readFileWords(root + "/g726/voicevbr.lrf", want)) return "missing voicevbr.lrf";
    Encoder e(16);
    Decoder d(16, 1);
    static const int kCycle[6] = {0, 1, 2, 3, 2, 1};
    std::vector<int16_t> out;
    out.reserve(in.size());
    for (std::size_t at = 0, blk = 0; at < in.size(); at += 16, ++blk) {
      const int16_t rate = static_cast<int16_t>(kCycle[blk % 6]);
      std::memcpy(e.mem.data() + 22, &rate, 2);
      std::memcpy(d.mem.data() + 22, &rate, 2);
      std::size_t n = std::min<std::size_t>(16, in.size() - at);
      std::vector<int16_t> lin(n);
      for (std::size_t i = 0; i < n; ++i) lin[i] = static_cast<int16_t>(g711ToLinear14(alawCompress(in[at + i]), true));
      std::vector<uint8_t> codes;
      std::vector<int16_t> chars;
      e.run(lin, codes);
      d.run(codes, chars);
      for (int16_t c : chars) out.push_back(alawExpand(c));
    }
    return firstDifference(out, want);
  }});
}

}  // namespace

void addG726Codecs(Registry& r) {
  for (int kbps : {16, 24, 32, 40}) {
    Codec c;
    c.name = "g726-" + std::to_string(kbps);
    c.sampleRate = 8000;
    c.about = "ITU-T G.726 ADPCM, " + std::to_string(kbps) + " kbit/s (--law alaw|ulaw for G.711 PCM)";
    c.encode = [kbps](const std::vector<int16_t>& pcm, const Options& o, std::vector<uint8_t>& bits,
                      std::string& err) { return encodeStream(kbps, pcm, o, bits, err); };
    c.decode = [kbps](const std::vector<uint8_t>& bits, const Options& o, std::vector<int16_t>& pcm,
                      std::string& err) { return decodeStream(kbps, bits, o, pcm, err); };
    r.codecs.push_back(c);
  }
  addChecks(r);
  addVariableRateCheck(r);
}

}  // namespace vokc
