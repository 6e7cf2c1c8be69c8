// The codec registry behind the command-line tool: every codec family adds
// its named codecs (whole-stream encode/decode in the bitstream formats it
// supports) and its conformance checks.
#ifndef VOKCODEC_REGISTRY_H
#define VOKCODEC_REGISTRY_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace vokc {

struct Options {
  std::string format = "itu";  // bitstream layout: "itu" (ITU serial / test-sequence packing) or "rtp"
  int mode = 0;                // codec-specific mode (G.729D --mode, G.722 mode ...)
  std::string rate;            // --rate
  std::string rateFile;        // --rate-file
  bool dtx = false;            // --dtx
  std::string law;             // --law: "linear" (default), "alaw", "ulaw" where a codec offers it
  // Called with the fraction done (0..1) now and then; may be empty.
  std::function<void(double)> progress;
};

struct Codec {
  std::string name;    // as given to --codec
  int sampleRate = 8000;
  std::string about;   // one line for --help
  // Linear PCM at sampleRate -> bitstream bytes.  On failure: false and a one-line message.
  std::function<bool(const std::vector<int16_t>& pcm, const Options&, std::vector<uint8_t>& bits,
                     std::string& error)> encode;
  // Bitstream bytes -> linear PCM.
  std::function<bool(const std::vector<uint8_t>& bits, const Options&, std::vector<int16_t>& pcm,
                     std::string& error)> decode;
};

// A conformance check: runs against the official vector folder (the
// directory holding g729/, g726/, ...).  Returns "" when bit-exact, else a
// short reason such as "first differing frame 17".  A missing vector file is
// reported as a failure with its name.
struct Check {
  std::string name;
  std::function<std::string(const std::string& vectorRoot)> run;
};

struct Registry {
  std::vector<Codec> codecs;
  std::vector<Check> checks;
  const Codec* find(const std::string& name) const {
    for (const auto& c : codecs)
      if (c.name == name) return &c;
    return nullptr;
  }
};

// Each family's registration; defined in that family's source file.
void addG729Codecs(Registry& r);
void addG729BCodecs(Registry& r);
void addG729DCodecs(Registry& r);
void addG729ECodecs(Registry& r);
void addG729ICodecs(Registry& r);
void addG729FloatCodecs(Registry& r);
void addG726Codecs(Registry& r);
void addG722Codecs(Registry& r);

// All codecs and checks.
const Registry& registry();

// Helpers shared by the families.
bool readFileBytes(const std::string& path, std::vector<uint8_t>& out);
bool readFileWords(const std::string& path, std::vector<int16_t>& out);  // 16-bit little-endian
// "" when equal, else "first differing <what> N" (N counted in units of
// `unit` words) or the length mismatch.
std::string firstDifference(const std::vector<int16_t>& got, const std::vector<int16_t>& want, std::size_t unit = 1,
                            const char* what = "sample");

// ---- Services of the vokcodec tool (sources in vokcodec/cli) ----------------

// Audio files: WAV (read and written through libsndfile) when the name ends in
// .wav, otherwise headerless 16-bit little-endian PCM at the codec's rate.  A
// WAV input at another rate or with several channels is mixed down and
// converted to `rate`; a WAV output is mono 16-bit at `rate`.  On failure:
// false and a one-line message naming the file.
bool readAudio(const std::string& path, int rate, std::vector<int16_t>& pcm, std::string& error);
bool writeAudio(const std::string& path, const std::vector<int16_t>& pcm, int rate, std::string& error);
// Whole file; a folder or an unreadable file is an error with the reason.
bool readInputFile(const std::string& path, std::vector<uint8_t>& out, std::string& error);
// Sample-rate conversion of a mono signal (libsamplerate, best sinc); the
// output has round(in.size() * to / from) samples.
bool resampleAudio(const std::vector<float>& in, int from, int to, std::vector<float>& out, std::string& error);
// Writes PATH.tmp.XXXXXX in the same folder and renames it over PATH once
// complete, so a failed or interrupted run never leaves a partial file.
// Existing FIFOs and devices are written directly.
bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);
// Deletes the temporary file of a write in progress; async-signal-safe, for
// the tool's signal handlers.
void removePendingOutput();

// The command line.  Options may be given as --name VALUE or --name=VALUE,
// before or after the command; "--" ends the options.
struct ToolArgs {
  std::string command;             // encode, decode, roundtrip, conformance, list, help, version
  std::string codec;               // --codec
  std::string filter;              // conformance --filter
  bool formatGiven = false;        // --format was given
  Options options;                 // --format --mode --rate --rate-file --dtx --law
  std::vector<std::string> files;  // positional arguments after the command
};
bool parseToolArgs(const std::vector<std::string>& args, ToolArgs& parsed, std::string& error);

struct ToolStreams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool terminal = false;  // err is a terminal: progress bars for long inputs
};
// Runs the tool on `args` (without the program name) against `reg`; returns
// the exit status.  Errors are one line on io.err starting "vokcodec: ".
int runTool(const Registry& reg, const std::vector<std::string>& args, const ToolStreams& io);

}  // namespace vokc

#endif  // VOKCODEC_REGISTRY_H
