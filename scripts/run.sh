#!/usr/bin/env bash
# Builds the library and the vokcodec tool, then encodes and decodes the
# bundled speech sample with every registered 8 kHz codec (and with G.722 at
# 64 kbit/s on a 16 kHz version of it, converted by the tool), printing SNR,
# segmental SNR, codec delay, bit rate and real-time factor.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build/x64 -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/x64 -j "$(nproc)"
tool=build/x64/vokcodec/vokcodec
sample=examples/sample/speech_8k.wav
"$tool" --version
# "NAME RATE Hz description" per registered codec.
listing=$("$tool" list)
narrow=$(printf '%s\n' "$listing" | awk '$2 == 8000 && $3 == "Hz" {print $1}')
wide=$(printf '%s\n' "$listing" | awk '$1 == "g722-64" && $3 == "Hz" {print $1}')
if [ -z "$narrow$wide" ]; then
  echo "vokcodec has no codec registered yet: nothing to encode; running the library demo instead"
  build/x64/examples/voksc_demo examples/sample/speech_8k.raw
  exit 0
fi
# The best-known codecs first, then any other 8 kHz codec in registry order.
order=""
for preferred in g729a g729 g729d g729e g726-32 g726-24 g726-16 g726-40; do
  printf '%s\n' $narrow | grep -qx -- "$preferred" && order="$order $preferred"
done
for name in $narrow; do
  case " $order " in *" $name "*) ;; *) order="$order $name" ;; esac
done
echo "round trip of $sample (delay in samples, searched over 0..200):"
for name in $order; do
  "$tool" roundtrip --codec "$name" "$sample"
done
if [ -n "$wide" ]; then
  echo "the same sample converted to 16 kHz:"
  "$tool" roundtrip --codec g722-64 "$sample"
fi
