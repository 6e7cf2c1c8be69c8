// G.729 Annex D (6.4 kbit/s) in the codec registry.
#include "registry.h"

namespace vokc {

void addG729DCodecs(Registry&) {}

}  // namespace vokc
