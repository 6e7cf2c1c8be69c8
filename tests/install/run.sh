#!/usr/bin/env bash
# Installs the build tree BUILD into a temporary prefix, checks the installed
# libvokcodec (vokc* exports only, no run path), and builds and runs a small C
# program against it through pkg-config and through find_package, linked to
# the shared and to the static libraries.  EXTRA: compiler flags the build
# used (sanitizers).
set -eu
build=$1 extra=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
lib=$prefix/lib
[ -d "$lib" ] || lib=$(dirname "$(find "$prefix" -name libvokcodec.so -print -quit)")
for f in bin/vokcodec include/voksc.h include/vokcodec.h share/man/man1/vokcodec.1; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
for f in libvoksc.so libvoksc.a libvokcodec.so libvokcodec.a pkgconfig/voksc.pc pkgconfig/vokcodec.pc \
         cmake/voksc/vokscConfig.cmake; do
  [ -e "$lib/$f" ] || { echo "not installed: $f"; exit 1; }
done
others=$(nm -D --defined-only "$lib/libvokcodec.so" | awk '{print $3}' | grep -v '^vokc' || true)
[ -z "$others" ] || { echo "libvokcodec exports more than vokc*:"; echo "$others" | head; exit 1; }
if readelf -d "$lib/libvokcodec.so" | grep -qiE 'rpath|runpath'; then echo "libvokcodec has a run path"; exit 1; fi
"$prefix/bin/vokcodec" --version >/dev/null

export PKG_CONFIG_PATH=$lib/pkgconfig
cc $extra -o "$tmp/pc_shared" "$here/consumer.c" $(pkg-config --cflags --libs vokcodec) -lm
LD_LIBRARY_PATH=$lib "$tmp/pc_shared"
# Static: a library folder holding only the archives, so the linker takes them.
mkdir "$tmp/static" && ln -s "$lib"/*.a "$tmp/static/"
cc $extra -o "$tmp/pc_static" "$here/consumer.c" \
  $(pkg-config --static --define-variable=libdir="$tmp/static" --cflags --libs vokcodec) -lm
"$tmp/pc_static" g726-32

cmake -S "$here" -B "$tmp/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$extra" \
  -DCMAKE_EXE_LINKER_FLAGS="$extra" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
LD_LIBRARY_PATH=$lib "$tmp/consumer/consumer_shared" g722-64
"$tmp/consumer/consumer_static" g729e
echo "install ok"
