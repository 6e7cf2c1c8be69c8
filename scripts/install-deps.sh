#!/usr/bin/env bash
# Installs the Debian packages the build, tests and tools need (only what is missing).
# VOKSC_BENCH_DEPS=1 adds the peer codecs the benchmarks compare with (FFmpeg's libavcodec among them).
set -eu
pkgs="cmake ninja-build g++ g++-multilib qemu-user libgtest-dev libbenchmark-dev libsndfile1-dev libsamplerate0-dev clang libclang-rt-dev libgsm1-dev"
[ "${VOKSC_BENCH_DEPS:-0}" = 1 ] && pkgs="$pkgs libbcg729-dev libspandsp-dev libopencore-amrnb-dev libopencore-amrwb-dev libvo-amrwbenc-dev libspeexdsp-dev libfftw3-dev libavcodec-dev"
# The ffmpeg command line reads our .amr/.awb files in the interoperability tests (they skip without it).
[ "${VOKSC_INTEROP_DEPS:-0}" = 1 ] && pkgs="$pkgs ffmpeg"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing >/dev/null
fi
