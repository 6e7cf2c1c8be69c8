#!/usr/bin/env bash
# Builds the library and the vokcodec tool, then encodes and decodes the
# bundled speech sample with every registered codec, printing SNR, bit rate
# and speed.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/x64 -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/x64 -j "$(nproc)"
tool=build/x64/vokcodec/vokcodec
sample=examples/sample/speech_8k.wav
"$tool" --version
codecs=$("$tool" list | awk '$2 ~ /^[0-9]+$/ {print $1}')
if [ -z "$codecs" ]; then
  echo "no codecs registered yet; running the library demo instead"
  build/x64/examples/voksc_demo examples/sample/speech_8k.raw
  exit 0
fi
for preferred in g729a g729 g726-32 g726-16 g726-24 g726-40 g722-64 g722-56 g722-48; do
  if printf '%s\n' $codecs | grep -qx "$preferred"; then
    "$tool" roundtrip --codec "$preferred" "$sample"
  fi
done
