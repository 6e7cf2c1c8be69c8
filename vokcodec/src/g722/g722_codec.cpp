// G.722 at 64, 56 and 48 kbit/s (16 kHz audio): the frame-wise coder API,
// its place in the codec registry, and the conformance checks.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "registry.h"
#include "state_tag.h"
#include "vokcodec.h"

namespace {

// Band coders and QMF memory of one direction.  The band-coder object is
// the library's own, sized by its query (checked at Init).
constexpr int kBandStateBytes = 144;
constexpr int kChunk = 256;  // samples per pass through the stack buffers

struct Coder {
  uint32_t tag;
  Vok16s qmf[24];
  int mode;
  alignas(16) unsigned char bands[kBandStateBytes];
};

Coder* coderOf(void* mem) {
  return reinterpret_cast<Coder*>((reinterpret_cast<uintptr_t>(mem) + 15) & ~uintptr_t{15});
}

VokResult initCoder(void* mem, int mode, bool encoder) {
  int need = 0;
  voksSBADPCMEncodeStateSize_G722_16s(&need);
  if (need > kBandStateBytes) return vokErrInternal;
  Coder* c = coderOf(mem);
  std::memset(c, 0, sizeof *c);
  c->tag = encoder ? vokc::kTagG722Encoder : vokc::kTagG722Decoder;
  c->mode = mode;
  return encoder ? voksSBADPCMEncodeInit_G722_16s(c->bands) : voksSBADPCMDecodeInit_G722_16s(c->bands);
}

}  // namespace

extern "C" {

VokResult vokcG722EncoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(Coder) + 16);
  return vokOk;
}

VokResult vokcG722EncoderInit(void* state) {
  if (!state) return vokErrNullPtr;
  return initCoder(state, 1, true);
}

VokResult vokcG722Encode(void* state, const Vok16s* pcm, int len, Vok8u* words) {
  if (!state || !pcm || !words) return vokErrNullPtr;
  if (len < 0 || (len & 1)) return vokErrSize;
  Coder* c = coderOf(state);
  if (c->tag != vokc::kTagG722Encoder) return vokErrContextMatch;
  Vok16s bands[kChunk], codes[kChunk];
  for (int at = 0; at < len; at += kChunk) {
    int n = std::min(kChunk, len - at);
    voksQMFEncode_G722_16s(pcm + at, bands, n, c->qmf);
    voksSBADPCMEncode_G722_16s(bands, codes, n, c->bands);
    for (int i = 0; i < n; i += 2) words[(at + i) / 2] = static_cast<Vok8u>(codes[i + 1] << 6 | codes[i]);
  }
  return vokOk;
}

VokResult vokcG722DecoderGetSize(int* size) { return vokcG722EncoderGetSize(size); }

VokResult vokcG722DecoderInit(void* state, int mode) {
  if (!state) return vokErrNullPtr;
  if (mode < 1 || mode > 3) return vokErrRange;
  return initCoder(state, mode, false);
}

VokResult vokcG722Decode(void* state, const Vok8u* words, int count, Vok16s* pcm) {
  if (!state || !words || !pcm) return vokErrNullPtr;
  if (count < 0) return vokErrSize;
  Coder* c = coderOf(state);
  if (c->tag != vokc::kTagG722Decoder) return vokErrContextMatch;
  Vok16s codes[kChunk], bands[kChunk];
  for (int at = 0; at < count; at += kChunk / 2) {
    int n = std::min(kChunk / 2, count - at);
    for (int i = 0; i < n; ++i) {
      codes[2 * i] = static_cast<Vok16s>(words[at + i] & 0x3F);
      codes[2 * i + 1] = static_cast<Vok16s>(words[at + i] >> 6);
    }
    voksSBADPCMDecode_G722_16s(codes, bands, 2 * n, static_cast<Vok16s>(c->mode), c->bands);
    voksQMFDecode_G722_16s(bands, pcm + 2 * at, 2 * n, c->qmf);
  }
  return vokOk;
}

}  // extern "C"

namespace vokc {

namespace {

struct Memory {
  std::vector<unsigned char> bytes;
  Memory() {
    int n = 0;
    vokcG722EncoderGetSize(&n);
    bytes.resize(static_cast<std::size_t>(n));
  }
  void* get() { return bytes.data(); }
};

// 16 kHz PCM to one codeword per sample pair (an odd last sample is dropped).
std::vector<uint8_t> encodeWords(const std::vector<int16_t>& pcm) {
  Memory m;
  vokcG722EncoderInit(m.get());
  std::vector<uint8_t> out(pcm.size() / 2);
  vokcG722Encode(m.get(), pcm.data(), static_cast<int>(out.size() * 2), out.data());
  return out;
}

std::vector<int16_t> decodeWords(const std::vector<uint8_t>& words, int mode) {
  Memory m;
  vokcG722DecoderInit(m.get(), mode);
  std::vector<int16_t> pcm(2 * words.size());
  vokcG722Decode(m.get(), words.data(), static_cast<int>(words.size()), pcm.data());
  return pcm;
}

std::string formatError(const std::string& f) {
  return "unknown bitstream format '" + f + "' (itu: one codeword per 16-bit word; rtp: one octet per codeword)";
}

bool encodeStream(const std::vector<int16_t>& pcm, const Options& o, std::vector<uint8_t>& bits, std::string& err) {
  if (o.format != "rtp" && o.format != "itu") {
    err = formatError(o.format);
    return false;
  }
  auto words = encodeWords(pcm);
  if (o.format == "rtp") {
    bits = std::move(words);  // RFC 3551: one octet per sample pair
    return true;
  }
  bits.assign(2 * words.size(), 0);  // the test sequences' layout: 16-bit little-endian, bits 8-15 zero
  for (std::size_t i = 0; i < words.size(); ++i) bits[2 * i] = words[i];
  return true;
}

bool decodeStream(int mode, const std::vector<uint8_t>& bits, const Options& o, std::vector<int16_t>& pcm,
                  std::string& err) {
  std::vector<uint8_t> words;
  if (o.format == "rtp") {
    words = bits;
  } else if (o.format == "itu") {
    if (bits.size() % 2) {
      err = "truncated bitstream: odd number of bytes in a file of 16-bit codewords";
      return false;
    }
    words.resize(bits.size() / 2);
    for (std::size_t i = 0; i < words.size(); ++i) {
      if (bits[2 * i + 1] != 0) {
        err = "codeword " + std::to_string(i) + " has bits above bit 7";
        return false;
      }
      words[i] = bits[2 * i];
    }
  } else {
    err = formatError(o.format);
    return false;
  }
  pcm = decodeWords(words, mode);
  return true;
}

std::vector<uint8_t> lowBytes(const std::vector<int16_t>& w) {
  std::vector<uint8_t> b(w.size());
  for (std::size_t i = 0; i < w.size(); ++i) b[i] = static_cast<uint8_t>(w[i]);
  return b;
}

std::vector<int16_t> widen(const std::vector<uint8_t>& b) { return std::vector<int16_t>(b.begin(), b.end()); }

// The band coders alone on the Appendix II sequences: one sample period per
// word, bit 0 a reset flag (output word 1).
std::string appendixEncode(const std::vector<int16_t>& in, const std::vector<int16_t>& want) {
  int size = 0;
  voksSBADPCMEncodeStateSize_G722_16s(&size);
  std::vector<unsigned char> mem(static_cast<std::size_t>(size));
  voksSBADPCMEncodeInit_G722_16s(mem.data());
  std::vector<int16_t> got(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] & 1) {
      voksSBADPCMEncodeInit_G722_16s(mem.data());
      got[i] = 1;
      continue;
    }
    Vok16s x = static_cast<Vok16s>(in[i] >> 1), pair[2] = {x, x}, code[2];
    voksSBADPCMEncode_G722_16s(pair, code, 2, mem.data());
    got[i] = static_cast<int16_t>(code[1] << 14 | code[0] << 8);
  }
  return firstDifference(got, want);
}

std::string appendixDecode(const std::vector<int16_t>& cod, int mode, const std::vector<int16_t>& low,
                           const std::vector<int16_t>& high) {
  int size = 0;
  voksSBADPCMDecodeStateSize_G722_16s(&size);
  std::vector<unsigned char> mem(static_cast<std::size_t>(size));
  voksSBADPCMDecodeInit_G722_16s(mem.data());
  std::vector<int16_t> gl(cod.size()), gh(cod.size());
  for (std::size_t i = 0; i < cod.size(); ++i) {
    if (cod[i] & 1) {
      voksSBADPCMDecodeInit_G722_16s(mem.data());
      gl[i] = gh[i] = 1;
      continue;
    }
    uint16_t w = static_cast<uint16_t>(cod[i]);
    Vok16s code[2] = {static_cast<Vok16s>((w >> 8) & 0x3F), static_cast<Vok16s>(w >> 14)}, out[2];
    voksSBADPCMDecode_G722_16s(code, out, 2, static_cast<Vok16s>(mode), mem.data());
    gl[i] = static_cast<int16_t>(out[0] * 2);
    gh[i] = static_cast<int16_t>(out[1] * 2);
  }
  std::string a = firstDifference(gl, low);
  if (!a.empty()) return "low band: " + a;
  std::string b = firstDifference(gh, high);
  return b.empty() ? "" : "high band: " + b;
}

void addChecks(Registry& r) {
  auto load = [](const std::string& root, const std::string& f, std::vector<int16_t>& w) {
    return readFileWords(root + "/g722/" + f, w);
  };
  r.checks.push_back({"g722 encode inpsp", [=](const std::string& root) -> std::string {
    std::vector<int16_t> in, want;
    std::vector<uint8_t> swapped;
    if (!load(root, "inpsp.bin", in) || !load(root, "codspw.cod", want)) return "missing inpsp.bin or codspw.cod";
    if (!readFileBytes(root + "/g722/codsp.cod", swapped)) return "missing codsp.cod";
    auto w = encodeWords(in);
    std::string res = firstDifference(widen(w), want);
    if (!res.empty()) return res;
    // codsp.cod: the same codewords one per byte, each pair of bytes swapped.
    for (std::size_t k = 0; k + 1 < w.size(); k += 2) std::swap(w[k], w[k + 1]);
    res = firstDifference(widen(w), widen(swapped));
    return res.empty() ? "" : "codsp.cod: " + res;
  }});
  for (int mode = 1; mode <= 3; ++mode) {
    r.checks.push_back({"g722 decode mode " + std::to_string(mode), [=](const std::string& root) -> std::string {
      std::vector<int16_t> in, want;
      std::string out = "outsp" + std::to_string(mode) + ".bin";
      if (!load(root, "codspw.cod", in) || !load(root, out, want)) return "missing codspw.cod or " + out;
      return firstDifference(decodeWords(lowBytes(in), mode), want);
    }});
  }
  r.checks.push_back({"g722 encode+decode", [=](const std::string& root) -> std::string {
    std::vector<int16_t> in, want;
    if (!load(root, "inpsp.bin", in) || !load(root, "outsp1.bin", want)) return "missing inpsp.bin or outsp1.bin";
    return firstDifference(decodeWords(encodeWords(in), 1), want);
  }});
  r.checks.push_back({"g722 appendix II encode bt1c2", [=](const std::string& root) -> std::string {
    std::vector<int16_t> in, want;
    if (!load(root, "bt1c2.xmt", in) || !load(root, "bt2r2.cod", want)) return "missing bt1c2.xmt or bt2r2.cod";
    return appendixEncode(in, want);
  }});
  for (int mode = 1; mode <= 3; ++mode) {
    r.checks.push_back({"g722 appendix II decode mode " + std::to_string(mode), [=](const std::string& root) -> std::string {
      std::vector<int16_t> cod, low, high;
      std::string lf = "bt3l2.rc" + std::to_string(mode);
      if (!load(root, "bt2r2.cod", cod) || !load(root, lf, low) || !load(root, "bt3h2.rc0", high))
        return "missing bt2r2.cod, " + lf + " or bt3h2.rc0";
      return appendixDecode(cod, mode, low, high);
    }});
  }
}

}  // namespace

void addG722Codecs(Registry& r) {
  const int kbps[3] = {64, 56, 48};
  for (int m = 1; m <= 3; ++m) {
    Codec c;
    c.name = "g722-" + std::to_string(kbps[m - 1]);
    c.sampleRate = 16000;
    c.about = "ITU-T G.722 sub-band ADPCM, 7 kHz audio, decoded at " + std::to_string(kbps[m - 1]) + " kbit/s";
    c.encode = [](const std::vector<int16_t>& pcm, const Options& o, std::vector<uint8_t>& bits, std::string& err) {
      return encodeStream(pcm, o, bits, err);
    };
    c.decode = [m](const std::vector<uint8_t>& bits, const Options& o, std::vector<int16_t>& pcm, std::string& err) {
      return decodeStream(m, bits, o, pcm, err);
    };
    r.codecs.push_back(c);
  }
  addChecks(r);
}

}  // namespace vokc
