// G.729 Annex E (11.8 kbit/s) in the codec registry.
#include "registry.h"

namespace vokc {

void addG729ECodecs(Registry&) {}

}  // namespace vokc
