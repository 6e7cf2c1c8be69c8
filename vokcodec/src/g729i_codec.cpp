// G.729 Annex I (the integrated coder) in the codec registry.
#include "registry.h"

namespace vokc {

void addG729ICodecs(Registry&) {}

}  // namespace vokc
