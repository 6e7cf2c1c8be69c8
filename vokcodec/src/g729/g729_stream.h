// Stream glue shared by the G.729-family registry entries: coder memory,
// the ITU serial / RTP layouts of a whole stream, per-frame rate files and
// the conformance checks that compare streams and decoded speech frame by
// frame against the official vectors.
#ifndef VOKCODEC_G729_STREAM_H
#define VOKCODEC_G729_STREAM_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "g729_serial.h"
#include "registry.h"
#include "vokcodec.h"

namespace vokc {

// Coder memory of the size a GetSize export asks for (the coders align
// their state inside it).
class CoderMemory {
 public:
  explicit CoderMemory(VokResult (*getSize)(int*));
  void* get() { return bytes_.data(); }

 private:
  std::vector<unsigned char> bytes_;
};

// --format itu or rtp; anything else is an error.
bool ituOrRtp(const Options& opt, std::string& err);

// Progress callback every 256 frames.
inline void reportProgress(const Options& opt, std::size_t frame, std::size_t frames) {
  if (opt.progress && (frame & 255) == 0) opt.progress(double(frame) / double(frames));
}

// Appends one frame of n bits in the ITU serial layout or as packed octets.
void appendFrame(std::vector<uint8_t>& out, const uint8_t* bits, int n, bool itu);

// The frames of a whole stream: ITU serial frames of the `allowed` sizes,
// or RTP payloads of a fixed size of rtpBits bits (never erased).
bool readStreamFrames(const std::vector<uint8_t>& in, bool itu, int rtpBits, const std::vector<int>& allowed,
                      std::vector<SerialFrame>& frames, std::string& err);

// Rates of `frames` frames from opt.rateFile: one word per frame from 0 to
// maxWord, the last word continuing past the end of the file.  --rate
// beside a rate file, an empty file or a word out of range is an error;
// `legend` says what the words mean.  wholeFile: every word of the file is
// checked, else only those of the frames coded.
bool rateFileRates(const Options& opt, std::size_t frames, int maxWord, const std::string& legend, bool wholeFile,
                   std::vector<int>& rates, std::string& err);

// Frame-by-frame comparison of two ITU serial streams with frames of any
// size: "" when equal, else the first differing frame or the frame counts.
std::string compareSerialStreams(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want);

using StreamEncoder =
    std::function<bool(const std::vector<int16_t>&, const Options&, std::vector<uint8_t>&, std::string&)>;
using StreamDecoder =
    std::function<bool(const std::vector<uint8_t>&, const Options&, std::vector<int16_t>&, std::string&)>;

// Check of an encoder: its serial stream of dir/input against dir/bitstream
// (dir = vector root + "/g729/" + folder + "/"), with the options given; a
// non-empty rateFile in the folder becomes opt.rateFile.
Check encoderCheck(const std::string& name, const std::string& folder, const std::string& input,
                   const std::string& bitstream, const Options& opt, const std::string& rateFile,
                   StreamEncoder encode);
// Check of a decoder: its output of dir/bitstream against dir/output, frame
// by frame.
Check decoderCheck(const std::string& name, const std::string& folder, const std::string& bitstream,
                   const std::string& output, const Options& opt, StreamDecoder decode);

}  // namespace vokc

#endif  // VOKCODEC_G729_STREAM_H
