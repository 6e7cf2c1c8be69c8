// VOKC_CALL: a warning comes back to the caller; a failed call aborts with
// the call, its arguments and the status in debug and sanitizer builds, and
// in release builds stops the coder step, whose entry returns vokErrInternal.
#include <gtest/gtest.h>

#include "checked_call.h"

namespace {

VokResult fakeExport(int status, const Vok16s* data, Vok16s* out) {
  if (out) *out = data ? data[0] : Vok16s{0};
  return status;
}

TEST(CheckedCall, WarningsAndSuccessReturnToTheCaller) {
  const Vok16s in[1] = {7};
  Vok16s out = 0;
  for (VokResult st : {vokOk, vokWrnOverflow, vokWrnLsfFloor}) {
    EXPECT_EQ(VOKC_CALL(fakeExport, st, in, &out), st);
    EXPECT_EQ(out, 7);
    EXPECT_EQ(vokc::guarded([&] { return VOKC_CALL(fakeExport, st, in, &out); }), st);
  }
}

TEST(CheckedCall, FailedCallStopsTheStep) {
  Vok16s out = 0;
  int after = 0;
  auto step = [&] {
    VOKC_CALL(fakeExport, vokErrRange, nullptr, &out);
    ++after;
    return vokOk;
  };
  if (vokc::failedCallAborts()) {
    EXPECT_DEATH(step(), "fakeExport\\(vokErrRange=-7, nullptr=null, &out=0x[0-9a-f]+\\) failed with status -7 at "
                         ".*checked_call_test.cpp:[0-9]+");
  } else {
    EXPECT_EQ(vokc::guarded(step), vokErrInternal);
    EXPECT_EQ(after, 0);
    EXPECT_THROW(step(), std::runtime_error);
  }
}

}  // namespace
