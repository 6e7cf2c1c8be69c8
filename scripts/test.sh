#!/usr/bin/env bash
# Builds and runs every test: x86-64 (AVX2 kernels), x86-64 scalar-only,
# 32-bit x86, and an ASan+UBSan build.  Set VOKSC_QUICK=1 for the first only.
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
run build/x64-scalar -DVOKSC_SCALAR=ON
run build/x86 -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_EXE_LINKER_FLAGS=-m32 -DCMAKE_SHARED_LINKER_FLAGS=-m32 -DVOKSC_CODEC=OFF
run build/asan -DVOKSC_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "all test builds passed"
