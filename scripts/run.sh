#!/usr/bin/env bash
# Builds the library and runs the main job on the bundled speech sample.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/x64 -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/x64 -j "$(nproc)"
if [ -x build/x64/vokcodec/vokcodec ]; then
  build/x64/vokcodec/vokcodec demo examples/sample/speech_8k.wav
else
  build/x64/examples/voksc_demo examples/sample/speech_8k.raw
fi
