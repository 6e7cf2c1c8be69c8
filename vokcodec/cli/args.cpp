// Command-line parsing of the vokcodec tool.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "registry.h"

namespace vokc {
namespace {

enum Applies { kCodecCommands = 1, kConformance = 2 };

struct ToolOption {
  const char* name;
  bool takesValue;
  int applies;
};

const ToolOption kOptions[] = {
    {"--codec", true, kCodecCommands},   {"--format", true, kCodecCommands}, {"--mode", true, kCodecCommands},
    {"--rate", true, kCodecCommands},    {"--rate-file", true, kCodecCommands},
    {"--dtx", false, kCodecCommands},    {"--law", true, kCodecCommands},    {"--filter", true, kConformance},
};

const ToolOption* findOption(const std::string& name) {
  for (const auto& o : kOptions)
    if (name == o.name) return &o;
  return nullptr;
}

int appliesTo(const std::string& command) {
  if (command == "encode" || command == "decode" || command == "roundtrip") return kCodecCommands;
  if (command == "conformance") return kConformance;
  return 0;
}

bool setOption(ToolArgs& a, const std::string& name, const std::string& value, std::string& error) {
  if (name == "--codec") {
    a.codec = value;
  } else if (name == "--format") {
    // The layouts some codec has; whether the chosen codec has it is
    // checked when the stream is opened.
    if (value != "itu" && value != "rtp" && value != "storage" && value != "rtp-be" && value != "rtp-oa") {
      error = "unknown format '" + value + "' (itu, rtp, storage, rtp-be or rtp-oa)";
      return false;
    }
    a.options.format = value;
    a.formatGiven = true;
  } else if (name == "--mode") {
    errno = 0;
    char* end = nullptr;
    long m = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || errno == ERANGE || m < INT_MIN || m > INT_MAX) {
      error = "--mode needs a whole number, got '" + value + "'";
      return false;
    }
    a.options.mode = static_cast<int>(m);
  } else if (name == "--rate") {
    a.options.rate = value;
  } else if (name == "--rate-file") {
    a.options.rateFile = value;
  } else if (name == "--law") {
    if (value != "alaw" && value != "ulaw" && value != "linear") {
      error = "unknown law '" + value + "' (alaw, ulaw or linear)";
      return false;
    }
    a.options.law = value;
  } else if (name == "--dtx") {
    a.options.dtx = true;
  } else if (name == "--filter") {
    a.filter = value;
  }
  return true;
}

}  // namespace

bool parseToolArgs(const std::vector<std::string>& args, ToolArgs& parsed, std::string& error) {
  ToolArgs a;
  std::vector<std::string> positional;
  std::vector<std::string> given;  // option names in order, checked against the command below
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
    auto eq = s.find('=');
    if (s.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      name = s.substr(0, eq);
      value = s.substr(eq + 1);
      inlineValue = true;
    }
    const ToolOption* spec = findOption(name);
    if (!spec) {
      error = "unknown option '" + name + "' (try 'vokcodec --help')";
      return false;
    }
    if (spec->takesValue && !inlineValue) {
      if (i + 1 >= args.size() || args[i + 1].compare(0, 2, "--") == 0) {
        error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
    } else if (!spec->takesValue && inlineValue) {
      error = "option " + name + " takes no value";
      return false;
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
  const int applies = appliesTo(a.command);
  for (const auto& name : given) {
    if (!(findOption(name)->applies & applies)) {
      error = "option " + name + " does not apply to '" + a.command + "'";
      return false;
    }
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
  if (applies == kCodecCommands && a.codec.empty()) {
    error = "missing --codec NAME (see 'vokcodec list')";
    return false;
  }
  parsed = a;
  return true;
}

}  // namespace vokc
