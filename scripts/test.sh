#!/usr/bin/env bash
# Builds and runs every test: x86-64 at the processor's kernel level, the
# same build again with the portable kernels forced (VOKSC_CPU=scalar), a
# quick subset under an emulated processor without AVX (qemu-x86_64 -cpu
# Nehalem, when qemu-user is installed), 32-bit x86, an ASan+UBSan build
# with GCC and one with clang that also runs the fuzz targets for a bounded
# time.  Set VOKSC_QUICK=1 for the first only.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs=$(nproc)
run() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}
run build/x64
[ "${VOKSC_QUICK:-0}" = 1 ] && exit 0
echo "== forced portable kernels (VOKSC_CPU=scalar)"
(cd build/x64 && VOKSC_CPU=scalar ctest --output-on-failure -j "$jobs")
./scripts/test-emulated.sh build/x64
run build/x86 -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_EXE_LINKER_FLAGS=-m32 -DCMAKE_SHARED_LINKER_FLAGS=-m32 -DVOKSC_CODEC=OFF
run build/asan -DVOKSC_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
# clang: ASan + UBSan + bounds checks, with the libFuzzer targets and their
# bounded runs (label fuzz, VOKSC_FUZZ_SECONDS each) from the committed corpus.
run build/clang-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVOKSC_SANITIZE=ON -DVOKSC_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOKSC_FUZZ_SECONDS="${VOKSC_FUZZ_SECONDS:-30}"
echo "all test builds passed"
