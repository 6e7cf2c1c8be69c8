// The vokcodec tool: command line, streamed files and commands.  The
// commands run against a Registry so that the tests can drive them with
// test codecs; main.cpp passes the real one.
#ifndef VOKCODEC_TOOL_H
#define VOKCODEC_TOOL_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "audio_io.h"
#include "registry.h"

namespace vokc {

// The shared file and audio classes (cli/audio_io.h).
using vokio::AudioReader;
using vokio::AudioWriter;
using vokio::InputFile;
using vokio::OutputFile;
using vokio::RawLayout;
using vokio::removePendingOutput;
using vokio::sameFile;
using vokio::wavName;

// ---- The command line -----------------------------------------------------------
// Options may be given as --name VALUE or --name=VALUE, before or after the
// command; "--" ends the options.  Every option a codec declares in the
// registry is an option of the tool: --KEY VALUE, or --KEY alone for a
// 0|1 option; they reach the codec as its option string.
struct ToolArgs {
  std::string command;  // encode, decode, roundtrip, conformance, list, help, version
  std::string codec;    // --codec
  std::string filter;   // conformance --filter
  std::string format;   // --format itu|rtp ("" when not given)
  std::string rateFile;  // --rate-file
  std::string output;    // roundtrip -o
  RawLayout raw;         // --rate (input rate of raw audio, output rate of decode), --channels
  bool rateGiven = false, channelsGiven = false;
  bool wav = false;       // --wav: the audio output is WAV whatever its name
  bool progress = false;  // --progress: also when stderr is not a terminal
  bool quiet = false;     // -q: neither progress nor notes
  std::vector<std::pair<std::string, std::string>> codecOptions;  // key, value
  std::vector<std::string> files;  // positional arguments after the command
};
// The error for a codec name the registry does not know.
std::string unknownCodec(const Registry& reg, const std::string& name);
bool parseToolArgs(const Registry& reg, const std::vector<std::string>& args, ToolArgs& parsed, std::string& error);

struct ToolStreams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool terminal = false;  // err is a terminal: progress on long runs
};
// Runs the tool on `args` (without the program name) against `reg`; returns
// the exit status.  Errors are one line on io.err starting "vokcodec: ".
int runTool(const Registry& reg, const std::vector<std::string>& args, const ToolStreams& io);

}  // namespace vokc

#endif  // VOKCODEC_TOOL_H
