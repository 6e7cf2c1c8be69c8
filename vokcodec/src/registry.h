// The codec registry behind the command-line tool: every codec family adds
// its named codecs (whole-stream encode/decode in the bitstream formats it
// supports) and its conformance checks.
#ifndef VOKCODEC_REGISTRY_H
#define VOKCODEC_REGISTRY_H

#include <cstdint>
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

}  // namespace vokc

#endif  // VOKCODEC_REGISTRY_H
