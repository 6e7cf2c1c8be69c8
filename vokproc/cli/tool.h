// The vokproc tool: command line, commands and the G.168 self-test.
#ifndef VOKPROC_TOOL_H
#define VOKPROC_TOOL_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vokp {

// A failure of a command: one line on stderr after "vokproc: ", exit 1.
struct Failure {
  std::string message;
};
[[noreturn]] void fail(const std::string& message);

// Active speech level in dB below a 16-bit full scale (32768 RMS), after
// ITU-T P.56: the mean power of the 10 ms frames above a threshold that
// lies 15.9 dB below that mean.  -100 for silence.
double activeLevelDbov(const std::vector<int16_t>& pcm, int rate);

// Runs the G.168 scenarios; prints one line per scenario and a total;
// returns the number failed.
int runG168(std::FILE* out);

// Runs the tool on the arguments (without the program name); returns the
// exit status.
int runTool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace vokp

#endif  // VOKPROC_TOOL_H
