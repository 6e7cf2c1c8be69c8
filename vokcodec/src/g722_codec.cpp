// G.722 at 64, 56 and 48 kbit/s (16 kHz audio) in the codec registry, and
// its conformance checks.
#include <algorithm>
#include <string>
#include <vector>

#include "registry.h"
#include "vokcodec.h"

namespace vokc {

namespace {

struct Coder {
  std::vector<unsigned char> mem;
  std::vector<int16_t> qmf = std::vector<int16_t>(24, 0);
  explicit Coder(bool encoder) {
    int n = 0;
    voksSBADPCMEncodeStateSize_G722_16s(&n);
    mem.resize(static_cast<std::size_t>(n));
    if (encoder)
      voksSBADPCMEncodeInit_G722_16s(mem.data());
    else
      voksSBADPCMDecodeInit_G722_16s(mem.data());
  }
};

// 16 kHz PCM to one 8-bit codeword per sample pair (high code in bits 7-6).
std::vector<uint8_t> encodeWords(const std::vector<int16_t>& pcmIn) {
  std::vector<int16_t> pcm(pcmIn.begin(), pcmIn.begin() + static_cast<long>(pcmIn.size() & ~std::size_t{1}));
  std::vector<uint8_t> out(pcm.size() / 2);
  if (pcm.empty()) return out;
  Coder c(true);
  std::vector<int16_t> bands(pcm.size()), codes(pcm.size());
  voksQMFEncode_G722_16s(pcm.data(), bands.data(), static_cast<int>(pcm.size()), c.qmf.data());
  voksSBADPCMEncode_G722_16s(bands.data(), codes.data(), static_cast<int>(bands.size()), c.mem.data());
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>((codes[2 * i + 1] << 6) | codes[2 * i]);
  return out;
}

std::vector<int16_t> decodeWords(const std::vector<uint8_t>& words, int mode) {
  std::vector<int16_t> pcm(2 * words.size());
  if (words.empty()) return pcm;
  Coder c(false);
  std::vector<int16_t> codes(pcm.size()), bands(pcm.size());
  for (std::size_t i = 0; i < words.size(); ++i) {
    codes[2 * i] = static_cast<int16_t>(words[i] & 0x3F);
    codes[2 * i + 1] = static_cast<int16_t>(words[i] >> 6);
  }
  voksSBADPCMDecode_G722_16s(codes.data(), bands.data(), static_cast<int>(codes.size()), static_cast<Vok16s>(mode),
                             c.mem.data());
  voksQMFDecode_G722_16s(bands.data(), pcm.data(), static_cast<int>(bands.size()), c.qmf.data());
  return pcm;
}

bool encodeStream(const std::vector<int16_t>& pcm, const Options& o, std::vector<uint8_t>& bits, std::string& err) {
  auto words = encodeWords(pcm);
  bits.clear();
  if (o.format == "rtp") {
    bits = words;  // one octet per sample pair
  } else if (o.format == "itu") {
    for (uint8_t w : words) {
      bits.push_back(w);
      bits.push_back(0);
    }
  } else {
    err = "unknown bitstream format '" + o.format + "' (itu or rtp)";
    return false;
  }
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
    for (std::size_t i = 0; i < bits.size(); i += 2) {
      if (bits[i + 1] != 0) {
        err = "codeword " + std::to_string(i / 2) + " has bits above bit 7";
        return false;
      }
      words.push_back(bits[i]);
    }
  } else {
    err = "unknown bitstream format '" + o.format + "' (itu or rtp)";
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

void addChecks(Registry& r) {
  auto load = [](const std::string& root, const std::string& f, std::vector<int16_t>& w) {
    return readFileWords(root + "/g722/" + f, w);
  };
  r.checks.push_back({"g722 encode inpsp", [=](const std::string& root) -> std::string {
    std::vector<int16_t> in, want;
    if (!load(root, "inpsp.bin", in) || !load(root, "codspw.cod", want)) return "missing inpsp.bin or codspw.cod";
    auto w = encodeWords(in);
    std::string res = firstDifference(std::vector<int16_t>(w.begin(), w.end()), want);
    if (!res.empty()) return res;
    // The byte-swapped layout of codsp.cod.
    std::vector<uint8_t> swapped;
    if (!readFileBytes(root + "/g722/codsp.cod", swapped)) return "missing codsp.cod";
    for (std::size_t k = 0; k + 1 < w.size(); k += 2) std::swap(w[k], w[k + 1]);
    return w == swapped ? "" : "codsp.cod layout differs";
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
  // Appendix II: the band coders alone, with reset flags in bit 0.
  r.checks.push_back({"g722 appendix II encode bt1c2", [=](const std::string& root) -> std::string {
    std::vector<int16_t> in, want;
    if (!load(root, "bt1c2.xmt", in) || !load(root, "bt2r2.cod", want)) return "missing bt1c2.xmt or bt2r2.cod";
    Coder c(true);
    std::vector<int16_t> got(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
      if (in[i] & 1) {
        voksSBADPCMEncodeInit_G722_16s(c.mem.data());
        got[i] = 1;
        continue;
      }
      int16_t x = static_cast<int16_t>(in[i] >> 1);
      int16_t pair[2] = {x, x}, code[2];
      voksSBADPCMEncode_G722_16s(pair, code, 2, c.mem.data());
      got[i] = static_cast<int16_t>((code[1] << 14) | (code[0] << 8));
    }
    return firstDifference(got, want);
  }});
  for (int mode = 1; mode <= 3; ++mode) {
    r.checks.push_back({"g722 appendix II decode mode " + std::to_string(mode), [=](const std::string& root) -> std::string {
      std::vector<int16_t> cod, low, high;
      std::string lf = "bt3l2.rc" + std::to_string(mode);
      if (!load(root, "bt2r2.cod", cod) || !load(root, lf, low) || !load(root, "bt3h2.rc0", high))
        return "missing bt2r2.cod, " + lf + " or bt3h2.rc0";
      Coder c(false);
      std::vector<int16_t> gl(cod.size()), gh(cod.size());
      for (std::size_t i = 0; i < cod.size(); ++i) {
        if (cod[i] & 1) {
          voksSBADPCMDecodeInit_G722_16s(c.mem.data());
          gl[i] = gh[i] = 1;
          continue;
        }
        uint16_t w = static_cast<uint16_t>(cod[i]);
        int16_t code[2] = {static_cast<int16_t>((w >> 8) & 0x3F), static_cast<int16_t>(w >> 14)}, out[2];
        voksSBADPCMDecode_G722_16s(code, out, 2, static_cast<Vok16s>(mode), c.mem.data());
        gl[i] = static_cast<int16_t>(out[0] * 2);
        gh[i] = static_cast<int16_t>(out[1] * 2);
      }
      std::string a = firstDifference(gl, low);
      if (!a.empty()) return "low band: " + a;
      std::string b = firstDifference(gh, high);
      return b.empty() ? "" : "high band: " + b;
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
