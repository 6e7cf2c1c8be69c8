// vokcodec command-line tool (placeholder until the full tool lands).
#include <cstdio>

#include "registry.h"

int main() {
  std::printf("%zu codecs\n", vokc::registry().codecs.size());
  return 0;
}
