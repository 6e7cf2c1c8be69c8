#include "registry.h"

namespace vokc {

// G729 codecs are registered here once they are assembled.
void addG729Codecs(Registry&) {}

}  // namespace vokc
