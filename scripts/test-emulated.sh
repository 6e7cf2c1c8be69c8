#!/usr/bin/env bash
# Runs a quick subset of the tests of an x86-64 build (default build/x64)
# under qemu-user emulating a processor without AVX (Nehalem): the library
# must choose its portable kernels there and give the same bits.  Skipped
# when qemu-x86_64 is not installed (Debian package qemu-user).
set -eu
cd "$(dirname "$0")/.."
dir=${1:-build/x64}
if ! command -v qemu-x86_64 >/dev/null; then
  echo "qemu-x86_64 not found: emulated pre-AVX2 run skipped"
  exit 0
fi
emu() { echo "== qemu-x86_64 -cpu Nehalem $*"; qemu-x86_64 -cpu Nehalem "$@"; }
# The emulated processor must be seen as one without AVX2.
VOKSC_TEST_EXPECT_CPU=scalar emu "$dir/tests/test_core" --gtest_filter='CpuLevel.*' --gtest_brief=1
for t in common g722 g726; do
  emu "$dir/tests/test_$t" --gtest_brief=1
done
# G.729 and G.729A: the official vectors through the complete coders.
emu "$dir/tests/test_vokcodec" --gtest_brief=1 --gtest_filter='Vectors/Conformance.*G_729*:Vectors/Conformance.*g729*'
echo "emulated pre-AVX2 run passed"
