// The transform set-ups of the noise filters, built once per process on
// first use and read-only thereafter (the C++ run time makes the first use
// thread-safe).  Keeping them out of the caller's state objects leaves the
// states free of pointers: a state may be copied or moved as plain bytes,
// and damaged state bytes cannot redirect a transform.
#include "denoise/transform.h"

namespace voksc::denoise {
namespace {

constexpr int kPlanBytes = 4096;  // order 8 needs 2680 bytes

struct Plan {
  alignas(64) unsigned char mem[kPlanBytes];
  const fft::RealFftSpec_32f* spec = nullptr;
  Plan(int order, int flag) {
    int object = 0, setup = 0, work = 0;
    fft::RealFftSpec_32f* s = nullptr;
    if (fft::realFftGetSize_32f(order, flag, 0, &object, &setup, &work) == vokOk && object <= kPlanBytes &&
        setup == 0 && work == 0 && fft::realFftInit_32f(&s, order, flag, 0, mem, nullptr) == vokOk)
      spec = s;
  }
};

}  // namespace

const fft::RealFftSpec_32f* ecTransform() {
  static const Plan plan(7, fft::kScaleInv);
  return plan.spec;
}

const fft::RealFftSpec_32f* rtaTransform() {
  static const Plan plan(8, fft::kScaleFwd);
  return plan.spec;
}

}  // namespace voksc::denoise
