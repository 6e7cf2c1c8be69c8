// G.722 at 64, 56 and 48 kbit/s (16 kHz audio): the frame-wise coder API,
// its place in the codec registry, and the conformance checks.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "registry.h"
#include "state_tag.h"
#include "vokcodec.h"
#include "checked_call.h"

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
  VOKC_CALL(voksSBADPCMEncodeStateSize_G722_16s, &need);
  if (need > kBandStateBytes) return vokErrInternal;
  Coder* c = coderOf(mem);
  std::memset(c, 0, sizeof *c);
  c->tag = encoder ? vokc::kTagG722Encoder : vokc::kTagG722Decoder;
  c->mode = mode;
  return encoder ? VOKC_CALL(voksSBADPCMEncodeInit_G722_16s, c->bands)
                 : VOKC_CALL(voksSBADPCMDecodeInit_G722_16s, c->bands);
}

}  // namespace

extern "C" {

VokResult vokcG722EncoderGetSize(int* size) {
  if (!size) return vokErrNullPtr;
  *size = static_cast<int>(sizeof(Coder) + 16);
  return vokOk;
}

static VokResult g722EncoderInit(void* state) {
  if (!state) return vokErrNullPtr;
  return initCoder(state, 1, true);
}

VokResult vokcG722EncoderInit(void* state) {
  return vokc::guarded([&] { return g722EncoderInit(state); });
}

static VokResult g722Encode(void* state, const Vok16s* pcm, int len, Vok8u* words) {
  if (!state || !pcm || !words) return vokErrNullPtr;
  if (len < 0 || (len & 1)) return vokErrSize;
  Coder* c = coderOf(state);
  if (c->tag != vokc::kTagG722Encoder) return vokErrContextMatch;
  Vok16s bands[kChunk], codes[kChunk];
  for (int at = 0; at < len; at += kChunk) {
    int n = std::min(kChunk, len - at);
    VOKC_CALL(voksQMFEncode_G722_16s, pcm + at, bands, n, c->qmf);
    VOKC_CALL(voksSBADPCMEncode_G722_16s, bands, codes, n, c->bands);
    for (int i = 0; i < n; i += 2) words[(at + i) / 2] = static_cast<Vok8u>(codes[i + 1] << 6 | codes[i]);
  }
  return vokOk;
}

VokResult vokcG722Encode(void* state, const Vok16s* pcm, int len, Vok8u* words) {
  return vokc::guarded([&] { return g722Encode(state, pcm, len, words); });
}

VokResult vokcG722DecoderGetSize(int* size) { return vokcG722EncoderGetSize(size); }

static VokResult g722DecoderInit(void* state, int mode) {
  if (!state) return vokErrNullPtr;
  if (mode < 1 || mode > 3) return vokErrRange;
  return initCoder(state, mode, false);
}

VokResult vokcG722DecoderInit(void* state, int mode) {
  return vokc::guarded([&] { return g722DecoderInit(state, mode); });
}

static VokResult g722Decode(void* state, const Vok8u* words, int count, Vok16s* pcm) {
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
    VOKC_CALL(voksSBADPCMDecode_G722_16s, codes, bands, 2 * n, static_cast<Vok16s>(c->mode), c->bands);
    VOKC_CALL(voksQMFDecode_G722_16s, bands, pcm + 2 * at, 2 * n, c->qmf);
  }
  return vokOk;
}

VokResult vokcG722Decode(void* state, const Vok8u* words, int count, Vok16s* pcm) {
  return vokc::guarded([&] { return g722Decode(state, words, count, pcm); });
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

// ---- the registry entry: 10 ms frames (160 samples, 80 codewords) -----------
// Payload: one octet per sample pair (RFC 3551).  A shorter last payload
// decodes to two samples per octet.  The ITU layout holds one codeword per
// 16-bit word, bits 8-15 zero.

constexpr int kFrameSamples = 160;
constexpr int kFrameWords = kFrameSamples / 2;

void setFrames(Codec& c, int mode) {
  c.sampleRate = 16000;
  c.frameSamples = kFrameSamples;
  c.maxPayload = kFrameWords;
  c.bitRate = 64000 - 8000 * (mode - 1);
  // The decoders of 56 and 48 kbit/s ignore the low one or two bits of each octet.
  c.payloadBits = [mode](const uint8_t*, int bytes) { return bytes * (9 - mode); };
  vokcG722EncoderGetSize(&c.encoderSize);
  vokcG722DecoderGetSize(&c.decoderSize);
  c.initEncoder = [](void* s, const Settings&) -> std::string {
    return vokcG722EncoderInit(s) == vokOk ? "" : "encoder initialisation failed";
  };
  c.initDecoder = [mode](void* s, const Settings&) -> std::string {
    return vokcG722DecoderInit(s, mode) == vokOk ? "" : "decoder initialisation failed";
  };
  c.encodeFrame = [](void* s, const int16_t* pcm, uint8_t* payload, int* bytes) -> VokResult {
    *bytes = kFrameWords;
    return vokcG722Encode(s, pcm, kFrameSamples, payload);
  };
  c.decodeFrame = [](void* s, const uint8_t* payload, int bytes, bool lost, int16_t* pcm, int* samples) -> VokResult {
    if (lost || !payload) {
      std::fill(pcm, pcm + kFrameSamples, Vok16s{0});
      *samples = kFrameSamples;
      return vokOk;
    }
    if (bytes < 0 || bytes > kFrameWords) return vokErrSize;
    *samples = 2 * bytes;
    return vokcG722Decode(s, payload, bytes, pcm);
  };
  c.itu.write = [](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    for (int i = 0; i < bytes; ++i) {
      out.push_back(payload[i]);
      out.push_back(0);
    }
  };
  c.itu.read = [](const ByteInput& in, std::size_t frame, ReceivedFrame& out, std::string& err) {
    uint8_t words[2 * kFrameWords];
    const std::size_t got = in(words, sizeof words);
    if (got == 0) return false;
    if (got % 2) {
      err = "truncated bitstream: odd number of bytes in a file of 16-bit codewords";
      return false;
    }
    out.payload.resize(got / 2);
    for (std::size_t i = 0; i < got / 2; ++i) {
      if (words[2 * i + 1] != 0) {
        err = "codeword " + std::to_string(frame * kFrameWords + i) + " has bits above bit 7";
        return false;
      }
      out.payload[i] = words[2 * i];
    }
    return true;
  };
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
  VOKC_CALL(voksSBADPCMEncodeStateSize_G722_16s, &size);
  std::vector<unsigned char> mem(static_cast<std::size_t>(size));
  VOKC_CALL(voksSBADPCMEncodeInit_G722_16s, mem.data());
  std::vector<int16_t> got(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] & 1) {
      VOKC_CALL(voksSBADPCMEncodeInit_G722_16s, mem.data());
      got[i] = 1;
      continue;
    }
    Vok16s x = static_cast<Vok16s>(in[i] >> 1), pair[2] = {x, x}, code[2];
    VOKC_CALL(voksSBADPCMEncode_G722_16s, pair, code, 2, mem.data());
    got[i] = static_cast<int16_t>(code[1] << 14 | code[0] << 8);
  }
  return firstDifference(got, want);
}

std::string appendixDecode(const std::vector<int16_t>& cod, int mode, const std::vector<int16_t>& low,
                           const std::vector<int16_t>& high) {
  int size = 0;
  VOKC_CALL(voksSBADPCMDecodeStateSize_G722_16s, &size);
  std::vector<unsigned char> mem(static_cast<std::size_t>(size));
  VOKC_CALL(voksSBADPCMDecodeInit_G722_16s, mem.data());
  std::vector<int16_t> gl(cod.size()), gh(cod.size());
  for (std::size_t i = 0; i < cod.size(); ++i) {
    if (cod[i] & 1) {
      VOKC_CALL(voksSBADPCMDecodeInit_G722_16s, mem.data());
      gl[i] = gh[i] = 1;
      continue;
    }
    uint16_t w = static_cast<uint16_t>(cod[i]);
    Vok16s code[2] = {static_cast<Vok16s>((w >> 8) & 0x3F), static_cast<Vok16s>(w >> 14)}, out[2];
    VOKC_CALL(voksSBADPCMDecode_G722_16s, code, out, 2, static_cast<Vok16s>(mode), mem.data());
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
  for (int m = 1; m <= 3; ++m) {
    Codec c;
    const int kbps = 64 - 8 * (m - 1);
    c.name = "g722-" + std::to_string(kbps);
    c.about = "ITU-T G.722 sub-band ADPCM, 7 kHz audio, decoded at " + std::to_string(kbps) + " kbit/s";
    setFrames(c, m);
    r.codecs.push_back(c);
  }
  addChecks(r);
}

}  // namespace vokc
