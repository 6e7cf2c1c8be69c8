// G.729 Annex B (silence compression on the G.729 and G.729A cores) in the codec registry.
#include "registry.h"

namespace vokc {

void addG729BCodecs(Registry&) {}

}  // namespace vokc
