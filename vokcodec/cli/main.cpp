// vokcodec: encode, decode and check speech with the codecs assembled from
// voksc.  The commands live in the library (vokc::runTool) so that they can
// be tested against a registry of test codecs; run 'vokcodec --help'.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "registry.h"
#include "tool.h"

namespace {

// An interrupted run leaves no temporary output behind.
extern "C" void onSignal(int sig) {
  vokc::removePendingOutput();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

int main(int argc, char** argv) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, onSignal);
  std::vector<std::string> args(argv + 1, argv + argc);
  vokc::ToolStreams io;
  io.out = stdout;
  io.err = stderr;
  io.terminal = isatty(STDERR_FILENO) != 0;
  int status = vokc::runTool(vokc::registry(), args, io);
  if (std::fflush(stdout) != 0 && status == 0) {
    std::fprintf(stderr, "vokcodec: cannot write the standard output\n");
    return 1;
  }
  return status;
}
