// The failure path of VOKC_CALL (see checked_call.h).
#include "checked_call.h"

#include <cstdio>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define VOKC_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VOKC_SANITIZED 1
#endif

namespace vokc {

namespace {

// Splits the argument text at the commas outside brackets.
std::vector<std::string> argumentNames(const char* text) {
  std::vector<std::string> names(1);
  int depth = 0;
  for (const char* p = text; *p; ++p) {
    const char c = *p;
    if (c == '(' || c == '[' || c == '{') ++depth;
    if (c == ')' || c == ']' || c == '}') --depth;
    if (c == ',' && depth == 0) {
      names.emplace_back();
      continue;
    }
    if (c == ' ' && names.back().empty()) continue;
    names.back() += c;
  }
  return names;
}

}  // namespace

bool failedCallAborts() {
#if !defined(NDEBUG) || defined(VOKC_SANITIZED)
  return true;
#else
  return false;
#endif
}

void callFailed(const CallSite& site, VokResult status, const std::vector<std::string>& values) {
  if (!failedCallAborts())
    throw CallFailed("internal error: " + std::string(site.function) + " failed with status " + std::to_string(status),
                     status);
  const std::vector<std::string> names = argumentNames(site.arguments);
  std::string call = std::string(site.function) + "(";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i) call += ", ";
    call += (i < names.size() ? names[i] : "?") + "=" + values[i];
  }
  call += ")";
  std::fprintf(stderr, "vokcodec: %s failed with status %d at %s:%d\n", call.c_str(), static_cast<int>(status),
               site.file, site.line);
  std::fflush(stderr);
  std::abort();
}

}  // namespace vokc
