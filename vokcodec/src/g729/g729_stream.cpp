// Stream glue of the G.729-family registry entries (see g729_stream.h).
#include "g729_stream.h"

namespace vokc {

namespace {

constexpr std::size_t kFrame = 80;

// Every frame size of the family's serial streams.
const std::vector<int> kAnySize = {0, 15, 16, 64, 80, 118};

}  // namespace

CoderMemory::CoderMemory(VokResult (*getSize)(int*)) {
  int size = 0;
  getSize(&size);
  bytes_.assign(static_cast<std::size_t>(size), 0);
}

bool ituOrRtp(const Options& opt, std::string& err) {
  if (opt.format == "itu" || opt.format == "rtp") return true;
  err = "unknown bitstream format '" + opt.format + "' (itu or rtp)";
  return false;
}

void appendFrame(std::vector<uint8_t>& out, const uint8_t* bits, int n, bool itu) {
  if (itu)
    writeSerialFrame(out, bits, n);
  else
    packOctets(bits, n, out);
}

bool readStreamFrames(const std::vector<uint8_t>& in, bool itu, int rtpBits, const std::vector<int>& allowed,
                      std::vector<SerialFrame>& frames, std::string& err) {
  if (itu) return readSerialFrames(in, allowed, frames, err);
  const std::size_t octets = static_cast<std::size_t>((rtpBits + 7) / 8);
  if (in.size() % octets != 0) {
    err = "truncated bitstream: " + std::to_string(in.size()) + " bytes is not a whole number of " +
          std::to_string(octets) + "-byte frames";
    return false;
  }
  frames.assign(in.size() / octets, SerialFrame{});
  for (std::size_t f = 0; f < frames.size(); ++f) {
    frames[f].bits.resize(static_cast<std::size_t>(rtpBits));
    unpackOctets(&in[f * octets], rtpBits, frames[f].bits.data());
  }
  return true;
}

bool rateFileRates(const Options& opt, std::size_t frames, int maxWord, const std::string& legend, bool wholeFile,
                   std::vector<int>& rates, std::string& err) {
  if (!opt.rate.empty()) {
    err = "give either --rate or --rate-file, not both";
    return false;
  }
  std::vector<int16_t> words;
  if (!readRateFile(opt.rateFile, words, err)) return false;
  if (words.empty()) {
    err = opt.rateFile + ": empty rate file";
    return false;
  }
  const std::size_t checked = wholeFile || words.size() < frames ? words.size() : frames;
  for (std::size_t f = 0; f < checked; ++f) {
    if (words[f] < 0 || words[f] > maxWord) {
      err = opt.rateFile + ": rate " + std::to_string(words[f]) + " at frame " + std::to_string(f) + " (" + legend +
            ")";
      return false;
    }
  }
  rates.resize(frames);
  for (std::size_t f = 0; f < frames; ++f) rates[f] = f < words.size() ? words[f] : words.back();
  return true;
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

Check encoderCheck(const std::string& name, const std::string& folder, const std::string& input,
                   const std::string& bitstream, const Options& opt, const std::string& rateFile,
                   StreamEncoder encode) {
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
            if (!encode(pcm, o, got, err)) return err;
            return compareSerialStreams(got, want);
          }};
}

Check decoderCheck(const std::string& name, const std::string& folder, const std::string& bitstream,
                   const std::string& output, const Options& opt, StreamDecoder decode) {
  return {name, [=](const std::string& root) -> std::string {
            const std::string dir = root + "/g729/" + folder + "/";
            std::vector<uint8_t> bits;
            std::vector<int16_t> want, got;
            if (!readFileBytes(dir + bitstream, bits)) return "missing " + dir + bitstream;
            if (!readFileWords(dir + output, want)) return "missing " + dir + output;
            std::string err;
            if (!decode(bits, opt, got, err)) return err;
            return firstDifference(got, want, kFrame, "frame");
          }};
}

}  // namespace vokc
