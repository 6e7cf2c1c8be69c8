// Declared exports whose searches land next: they answer vokErrInternal.
#include "core/status.h"
#include "voksc.h"

VOKSC_EXPORT VokResult voksAlgebraicCodebookSearch_AMRWB_16s(const Vok16s*, const Vok16s*, const Vok16s*, Vok16s*,
                                                             Vok16s*, VokRateCode, Vok16s*) {
  return vokErrInternal;
}
