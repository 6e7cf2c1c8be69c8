#include "registry.h"

namespace vokc {

// G722 codecs are registered here once they are assembled.
void addG722Codecs(Registry&) {}

}  // namespace vokc
