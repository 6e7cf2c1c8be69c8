#include "voksc.h"

namespace {

constexpr vokLibraryVersion kVersion = {
    7, 1, 1, 37466, {'t', '7', '\0', '\0'}, "vokSC AVX (t7)", "7.1.1 (r37466)", "Sep 28 2012",
};

}  // namespace

extern "C" const vokLibraryVersion* vokscGetLibVersion(void) { return &kVersion; }
