#include "registry.h"

namespace vokc {

// G726 codecs are registered here once they are assembled.
void addG726Codecs(Registry&) {}

}  // namespace vokc
