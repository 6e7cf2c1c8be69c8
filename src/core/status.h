// Status codes and the argument-check helpers every export uses.
#ifndef VOKSC_CORE_STATUS_H
#define VOKSC_CORE_STATUS_H

#include "voksc.h"

namespace voksc {

// True when any of the pointers is null.
template <class... P>
constexpr bool anyNull(const P*... p) {
  return ((p == nullptr) || ...);
}

}  // namespace voksc

// Export definition: C linkage, default visibility.
#define VOKSC_EXPORT extern "C" VOKAPI

#endif  // VOKSC_CORE_STATUS_H
