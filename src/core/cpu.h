// Run-time choice of the kernel forms.
//
// One build holds the portable scalar form of every hot kernel and, on x86
// compilers, its AVX2 form (compiled with a target attribute, never with a
// file-wide -mavx2, so the library itself runs on any x86-64 processor).
// The level is decided once per process, on first use, from what both the
// processor (cpuid) and the operating system (xgetbv: the vector registers
// are saved on context switches) support; VOKSC_CPU=scalar|avx2|avx512 in
// the environment lowers it (never raises it).  Kernel families keep the
// chosen forms in a table of function pointers built from level() once, so
// no call tests a feature.  Every form gives the same bits as the scalar
// form for every input.
#ifndef VOKSC_CORE_CPU_H
#define VOKSC_CORE_CPU_H

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
// The x86 vector forms are compiled in (and may be chosen at run time).
#define VOKSC_X86 1
#define VOKSC_TARGET_AVX2 __attribute__((target("avx2")))
#endif

namespace voksc::cpu {

enum class Level : int { kScalar = 0, kAvx2 = 1, kAvx512 = 2 };

// What this processor and operating system support (ignores VOKSC_CPU).
Level supported();
// The level the kernels run at: supported(), lowered by VOKSC_CPU.
Level level();
// "scalar", "avx2", "avx512".
const char* name(Level l);

// The form (function, or kernel code) for the active level.
template <class T>
T choose(T scalar, [[maybe_unused]] T avx2) {
#if defined(VOKSC_X86)
  if (level() >= Level::kAvx2) return avx2;
#endif
  return scalar;
}

}  // namespace voksc::cpu

#endif  // VOKSC_CORE_CPU_H
