// Status checking of the voksc calls vokcodec makes.
//
// Every voksc call in vokcodec is written
//
//   VOKC_CALL(voksResidualFilter_G729_16s, x, a, y);
//
// which evaluates each argument once, calls the export and returns its
// status.  The coders choose every argument themselves (parameters read from
// a stream are reduced to their fields first), so a negative status means
// vokcodec is wrong, not the input:
//  * in debug builds (no NDEBUG) and sanitizer builds the call is printed to
//    stderr with each argument's expression and value, the status and the
//    source position, and the process aborts;
//  * in release builds vokc::CallFailed is thrown.  The body of each
//    exported vokc* function that reaches a voksc call runs inside
//    vokc::guarded(), which returns vokErrInternal instead, so a frame stops
//    rather than continuing on garbage.  The coder's state is then undefined
//    until it is initialised again.
// Warnings (positive statuses) are returned to the caller, which treats each
// as the reference coder treats the condition: the decoders rescale their
// excitation after a synthesis overflow, the LP analyses keep the last
// stable filter after an unstable recursion, and a warning whose condition
// the reference ignores is ignored.
//
// A new family follows the same two rules: every export through VOKC_CALL,
// every entry function that reaches one through guarded().
#ifndef VOKCODEC_CHECKED_CALL_H
#define VOKCODEC_CHECKED_CALL_H

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "voksc.h"

namespace vokc {

// Where a checked call is written: the export's name, the argument
// expressions as one comma-separated text, the source position.
struct CallSite {
  const char* function;
  const char* arguments;
  const char* file;
  int line;
};

// What a failed call throws in release builds; what() names the export
// and the status (the tool reports it as an internal error).
struct CallFailed : std::runtime_error {
  CallFailed(const std::string& what, VokResult s) : std::runtime_error(what), status(s) {}
  VokResult status;
};

// True in the builds where a failed call aborts (debug, sanitizers).
bool failedCallAborts();

// The cold path of a failed call: reports it and aborts, or throws
// CallFailed.  values: each argument's value as text.
[[noreturn]] void callFailed(const CallSite& site, VokResult status, const std::vector<std::string>& values);

namespace detail {

template <class T>
std::string argumentText(const T& v) {
  if constexpr (std::is_null_pointer_v<T>) {
    return "null";
  } else if constexpr (std::is_pointer_v<T>) {
    if (!v) return "null";
    char buf[2 + 2 * sizeof(void*) + 1];
    std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(v));
    return buf;
  } else if constexpr (std::is_enum_v<T> || std::is_integral_v<T>) {
    return std::to_string(static_cast<long long>(v));
  } else if constexpr (std::is_floating_point_v<T>) {
    return std::to_string(v);
  } else {
    return "?";
  }
}

}  // namespace detail

template <class F, class... A>
inline VokResult checkedCall(const CallSite& site, F fn, A... args) {
  const VokResult status = fn(args...);
  if (status < 0) callFailed(site, status, {detail::argumentText(args)...});
  return status;
}

// Runs a coder step (a callable returning VokResult) and turns a failed
// voksc call inside it into vokErrInternal.
template <class Body>
VokResult guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const CallFailed&) {
    return vokErrInternal;
  }
}

}  // namespace vokc

#define VOKC_CALL(fn, ...) \
  ::vokc::checkedCall(::vokc::CallSite{#fn, #__VA_ARGS__, __FILE__, __LINE__}, fn, __VA_ARGS__)

#endif  // VOKCODEC_CHECKED_CALL_H
