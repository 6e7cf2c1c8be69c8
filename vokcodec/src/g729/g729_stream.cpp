// Glue of the G.729-family registry entries (see g729_stream.h).
#include "g729_stream.h"

#include <algorithm>

namespace vokc {

namespace {

constexpr std::size_t kFrame = 80;
constexpr uint16_t kSync = 0x6B21;
constexpr uint16_t kBit0 = 0x007F;
constexpr uint16_t kBit1 = 0x0081;

// Every frame size of the family's serial streams.
const std::vector<int> kAnySize = {0, 15, 16, 64, 80, 118};

// Size of the payload of each frame bit count, and back.
struct SizePair {
  int bits, bytes;
};
constexpr SizePair kSizes[] = {{0, 0}, {16, 2}, {64, 8}, {80, 10}, {118, 15}};

}  // namespace

int g729StateSize(VokResult (*getSize)(int*), bool withHead) {
  int size = 0;
  getSize(&size);
  return size + (withHead ? kG729HeadBytes : 0);
}

int g729PayloadBytes(int nbits) {
  if (nbits == 15) return 2;
  for (const auto& s : kSizes)
    if (s.bits == nbits) return s.bytes;
  return -1;
}

int g729FrameBits(int bytes) {
  for (const auto& s : kSizes)
    if (s.bytes == bytes) return s.bits;
  return -1;
}

void g729ToOctets(const uint8_t* bits, int n, uint8_t* octets) {
  for (int i = 0; i < (n + 7) / 8; ++i) octets[i] = 0;
  for (int i = 0; i < n; ++i) octets[i / 8] = static_cast<uint8_t>(octets[i / 8] | (bits[i] & 1) << (7 - i % 8));
}

void g729FromOctets(const uint8_t* octets, int n, uint8_t* bits) {
  for (int i = 0; i < n; ++i) bits[i] = (octets[i / 8] >> (7 - i % 8)) & 1;
}

ItuLayout g729ItuLayout(const std::vector<int>& allowed, int sparedWords, bool lostEmptyBySync) {
  ItuLayout l;
  l.write = [](const uint8_t* payload, int bytes, std::vector<uint8_t>& out) {
    uint8_t bits[128];
    const int n = g729FrameBits(bytes);
    g729FromOctets(payload, n, bits);
    writeSerialFrame(out, bits, n);
  };
  l.read = [allowed, sparedWords, lostEmptyBySync](const ByteInput& in, std::size_t frame, ReceivedFrame& out,
                                                     std::string& err) {
    const std::string where = " at frame " + std::to_string(frame);
    uint8_t head[4];
    const std::size_t got = in(head, 4);
    if (got == 0) return false;
    if (got < 4) {
      err = "truncated bitstream" + where;
      return false;
    }
    const uint16_t sync = static_cast<uint16_t>(head[0] | head[1] << 8);
    const int n = head[2] | head[3] << 8;
    const bool damagedEmpty = lostEmptyBySync && n == 0 && (sync >> 8) == 0x6B;
    if (sync != kSync && !damagedEmpty) {
      err = "not an ITU serial bitstream (bad sync word" + where + ")";
      return false;
    }
    if (std::find(allowed.begin(), allowed.end(), n) == allowed.end()) {
      std::string sizes;
      for (int a : allowed) sizes += (sizes.empty() ? "" : "/") + std::to_string(a);
      err = "frame " + std::to_string(frame) + " carries " + std::to_string(n) + " bits; this codec takes " + sizes;
      return false;
    }
    uint8_t words[2 * 118];
    if (in(words, 2u * static_cast<std::size_t>(n)) < 2u * static_cast<std::size_t>(n)) {
      err = "truncated bitstream" + where;
      return false;
    }
    uint8_t bits[118];
    bool lost = sync != kSync;
    for (int i = 0; i < n; ++i) {
      const uint16_t w = static_cast<uint16_t>(words[2 * i] | words[2 * i + 1] << 8);
      if (w != kBit0 && w != kBit1 && w != 0) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04X", w);
        err = "frame " + std::to_string(frame) + ": bit word " + hex + " at bit " + std::to_string(i) +
              " (bits are 0x007F or 0x0081, 0 marks a lost frame)";
        return false;
      }
      if (w == 0 && i < n - sparedWords) lost = true;
    }
    for (int i = 0; i < n; ++i) {
      const uint16_t w = static_cast<uint16_t>(words[2 * i] | words[2 * i + 1] << 8);
      bits[i] = lost ? w != kBit0 : w == kBit1;
    }
    out.lost = lost;
    out.payload.assign(static_cast<std::size_t>(g729PayloadBytes(n)), 0);
    g729ToOctets(bits, n, out.payload.data());
    return true;
  };
  return l;
}

Options optionsWith(const std::string& format, const std::string& extra) {
  Options o;
  o.format = format;
  o.extra = extra;
  return o;
}

std::string compareSerialStreams(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
  std::vector<SerialFrame> a, b;
  std::string err;
  if (!readSerialFrames(got, kAnySize, a, err)) return "output: " + err;
  if (!readSerialFrames(want, kAnySize, b, err)) return "expected: " + err;
  for (std::size_t f = 0; f < a.size() && f < b.size(); ++f)
    if (a[f].bits != b[f].bits || a[f].erased != b[f].erased)
      return "first differing frame " + std::to_string(f) + " (" + std::to_string(a[f].bits.size()) +
             " bits, expected " + std::to_string(b[f].bits.size()) + ")";
  if (a.size() != b.size())
    return "frame count " + std::to_string(a.size()) + ", expected " + std::to_string(b.size());
  return "";
}

Check encoderCheck(const std::string& name, const Codec& codec, const std::string& folder, const std::string& input,
                   const std::string& bitstream, const Options& opt, const std::string& rateFile) {
  return {name, [=](const std::string& root) -> std::string {
            const std::string dir = root + "/g729/" + folder + "/";
            std::vector<int16_t> pcm;
            std::vector<uint8_t> want, got;
            if (!readFileWords(dir + input, pcm)) return "missing " + dir + input;
            if (!readFileBytes(dir + bitstream, want)) return "missing " + dir + bitstream;
            Options o = opt;
            if (!rateFile.empty()) {
              std::vector<uint8_t> probe;
              if (!readFileBytes(dir + rateFile, probe)) return "missing " + dir + rateFile;
              o.rateFile = dir + rateFile;
            }
            std::string err;
            if (!codec.encode(pcm, o, got, err)) return err;
            return compareSerialStreams(got, want);
          }};
}

Check decoderCheck(const std::string& name, const Codec& codec, const std::string& folder,
                   const std::string& bitstream, const std::string& output, const Options& opt) {
  return {name, [=](const std::string& root) -> std::string {
            const std::string dir = root + "/g729/" + folder + "/";
            std::vector<uint8_t> bits;
            std::vector<int16_t> want, got;
            if (!readFileBytes(dir + bitstream, bits)) return "missing " + dir + bitstream;
            if (!readFileWords(dir + output, want)) return "missing " + dir + output;
            std::string err;
            if (!codec.decode(bits, opt, got, err)) return err;
            return firstDifference(got, want, kFrame, "frame");
          }};
}

}  // namespace vokc
