// vokproc: echo cancellation, level control, answer-tone detection and the
// G.168 self-test on the command line; run 'vokproc --help'.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "audio_io.h"
#include "tool.h"

namespace {

// An interrupted run leaves no temporary output behind.
extern "C" void onSignal(int sig) {
  vokio::removePendingOutput();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

int main(int argc, char** argv) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, onSignal);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = vokp::runTool(args, stdout, stderr);
  if (std::fflush(stdout) != 0 && status == 0) {
    std::fprintf(stderr, "vokproc: cannot write the standard output\n");
    return 1;
  }
  return status;
}
