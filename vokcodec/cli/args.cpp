// Command-line parsing of the vokcodec tool: the tool's own options, and
// every option the chosen codec declares in the registry.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "tool.h"

namespace vokc {
namespace {

enum Command { kEncode = 1, kDecode = 2, kRoundtrip = 4, kConformance = 8 };
constexpr int kCoding = kEncode | kDecode | kRoundtrip;

struct ToolOption {
  const char* name;
  bool takesValue;
  int applies;  // Command bits
};

const ToolOption kOptions[] = {
    {"--codec", true, kCoding},         {"--format", true, kCoding},         {"--rate", true, kCoding},
    {"--channels", true, kEncode | kRoundtrip}, {"--rate-file", true, kEncode | kRoundtrip},
    {"--wav", false, kDecode | kRoundtrip},     {"-o", true, kRoundtrip},    {"--progress", false, kCoding},
    {"--quiet", false, kCoding},        {"-q", false, kCoding},              {"--filter", true, kConformance},
};

const ToolOption* findOption(const std::string& name) {
  for (const auto& o : kOptions)
    if (name == o.name) return &o;
  return nullptr;
}

int commandBit(const std::string& command) {
  if (command == "encode") return kEncode;
  if (command == "decode") return kDecode;
  if (command == "roundtrip") return kRoundtrip;
  if (command == "conformance") return kConformance;
  return 0;
}

// A codec option given as --KEY: a 0|1 option may stand alone.
bool isSwitch(const OptionSpec& o) { return o.values == "0|1"; }

const OptionSpec* codecOption(const Codec* c, const std::string& name) {
  if (!c || name.compare(0, 2, "--") != 0) return nullptr;
  for (const auto& o : c->options)
    if (o.key == name.substr(2)) return &o;
  return nullptr;
}

bool anyCodecHas(const Registry& reg, const std::string& name) {
  for (const auto& c : reg.codecs)
    if (codecOption(&c, name)) return true;
  return false;
}

bool wholeNumber(const std::string& text, long lo, long hi, int& out) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || errno == ERANGE || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

bool setOption(ToolArgs& a, const std::string& name, const std::string& value, std::string& error) {
  if (name == "--codec") {
    a.codec = value;
  } else if (name == "--format") {
    a.format = value;  // checked against the codec's layouts below
  } else if (name == "--rate") {
    if (!wholeNumber(value, 1000, 768000, a.raw.rate)) {
      error = "--rate " + value + ": not a sample rate from 1000 to 768000 Hz (a codec's bit rate is --bitrate)";
      return false;
    }
    a.rateGiven = true;
  } else if (name == "--channels") {
    if (!wholeNumber(value, 1, 64, a.raw.channels)) {
      error = "--channels " + value + ": not a channel count from 1 to 64";
      return false;
    }
    a.channelsGiven = true;
  } else if (name == "--rate-file") {
    a.rateFile = value;
  } else if (name == "--wav") {
    a.wav = true;
  } else if (name == "-o") {
    a.output = value;
  } else if (name == "--progress") {
    a.progress = true;
  } else if (name == "--quiet" || name == "-q") {
    a.quiet = true;
  } else if (name == "--filter") {
    a.filter = value;
  }
  return true;
}

// The --codec value, looked up before the other options so that the
// codec's own options are known.
std::string codecNamed(const std::vector<std::string>& args) {
  std::string name;
  for (std::size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
    if (args[i].compare(0, 8, "--codec=") == 0) name = args[i].substr(8);
    if (args[i] == "--codec" && i + 1 < args.size()) name = args[i + 1];
  }
  return name;
}

}  // namespace

std::string unknownCodec(const Registry& reg, const std::string& name) {
  if (reg.codecs.empty()) return "unknown codec '" + name + "' (no codec is registered in this build)";
  std::string known;
  for (const auto& c : reg.codecs) known += (known.empty() ? "" : ", ") + c.name;
  return "unknown codec '" + name + "' (known: " + known + ")";
}

bool parseToolArgs(const Registry& reg, const std::vector<std::string>& args, ToolArgs& parsed, std::string& error) {
  ToolArgs a;
  std::vector<std::string> positional;
  std::vector<std::string> given;  // tool option names in order, checked against the command below
  bool codecOptions = false;
  const std::string named = codecNamed(args);
  const Codec* codec = named.empty() ? nullptr : reg.find(named);
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& s = args[i];
    if (optionsEnded || s.size() < 2 || s[0] != '-') {
      positional.push_back(s);
      continue;
    }
    if (s == "--") {
      optionsEnded = true;
      continue;
    }
    if (s == "--help" || s == "-h") {
      parsed = ToolArgs{};
      parsed.command = "help";
      return true;
    }
    if (s == "--version") {
      parsed = ToolArgs{};
      parsed.command = "version";
      return true;
    }
    std::string name = s, value;
    bool inlineValue = false;
    const auto eq = s.find('=');
    if (s.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      name = s.substr(0, eq);
      value = s.substr(eq + 1);
      inlineValue = true;
    }
    const ToolOption* tool = findOption(name);
    const OptionSpec* spec = tool ? nullptr : codecOption(codec, name);
    if (!tool && !spec) {
      if (!named.empty() && !codec) {
        error = unknownCodec(reg, named);
      } else if (anyCodecHas(reg, name) && !codec) {
        error = "option " + name + " is a codec option: give --codec NAME (see 'vokcodec list')";
      } else if (anyCodecHas(reg, name)) {
        std::string own;
        for (const auto& o : codec->options) own += (own.empty() ? "" : ", ") + ("--" + o.key);
        error = "option " + name + " does not apply to " + codec->name +
                (own.empty() ? " (it has no options)" : " (its options: " + own + ")");
      } else {
        error = "unknown option '" + name + "' (try 'vokcodec --help')";
      }
      return false;
    }
    const bool takesValue = tool ? tool->takesValue : !isSwitch(*spec);
    // A switch also reads a following "0" or "1" as its value, so that
    // "--postfilter 0" means what it says (a file named 0 is "./0").
    if (spec && !takesValue && !inlineValue && i + 1 < args.size() && (args[i + 1] == "0" || args[i + 1] == "1")) {
      value = args[++i];
      inlineValue = true;
    }
    if (takesValue && !inlineValue) {
      if (i + 1 >= args.size() || args[i + 1].compare(0, 2, "--") == 0) {
        error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
    } else if (tool && !takesValue && inlineValue) {
      error = "option " + name + " takes no value";
      return false;
    }
    if (spec) {
      if (!takesValue && !inlineValue) value = "1";
      a.codecOptions.emplace_back(spec->key, value);
      codecOptions = true;
      continue;
    }
    if (!setOption(a, name, value, error)) return false;
    given.push_back(name);
  }
  if (positional.empty()) {
    error = "missing command (try 'vokcodec --help')";
    return false;
  }
  a.command = positional.front();
  a.files.assign(positional.begin() + 1, positional.end());
  if (a.command == "help" || a.command == "version") {
    parsed = a;
    return true;
  }
  if (a.command != "encode" && a.command != "decode" && a.command != "roundtrip" && a.command != "conformance" &&
      a.command != "list") {
    error = "unknown command '" + a.command + "' (try 'vokcodec --help')";
    return false;
  }
  const int bit = commandBit(a.command);
  for (const auto& name : given) {
    if (!(findOption(name)->applies & bit)) {
      error = "option " + name + " does not apply to '" + a.command + "'";
      return false;
    }
  }
  if (codecOptions && !(bit & kCoding)) {
    error = "codec options do not apply to '" + a.command + "'";
    return false;
  }
  std::size_t minFiles = 0, maxFiles = 0;
  const char* files = "";
  if (a.command == "encode" || a.command == "decode") {
    minFiles = maxFiles = 2;
    files = "INPUT and OUTPUT";
  } else if (a.command == "roundtrip") {
    minFiles = maxFiles = 1;
    files = "INPUT";
  } else if (a.command == "conformance") {
    maxFiles = 1;
    files = "at most one folder";
  }
  if (a.files.size() < minFiles || a.files.size() > maxFiles) {
    if (maxFiles == 0)
      error = a.command + " takes no arguments, got '" + a.files.front() + "'";
    else if (a.files.size() < minFiles)
      error = a.command + " needs " + files;
    else
      error = a.command + " takes " + files + ", got an extra '" + a.files[maxFiles] + "'";
    return false;
  }
  if ((bit & kCoding) && a.codec.empty()) {
    error = "missing --codec NAME (see 'vokcodec list')";
    return false;
  }
  if (!a.format.empty() && a.format != "itu" && a.format != "rtp" && !(codec && codec->layout(a.format))) {
    std::string known = "itu, rtp";
    if (codec)
      for (const auto& l : codec->layouts) known += ", " + l.name;
    error = "unknown format '" + a.format + "' (" + known + ")";
    return false;
  }
  parsed = a;
  return true;
}

}  // namespace vokc
