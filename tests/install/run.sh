#!/usr/bin/env bash
# Installs the build tree BUILD into a temporary prefix, checks the installed
# libvokcodec and libvokproc (vokc* / vokp* exports only, no run path), and
# builds and runs small C programs against them through pkg-config and
# through find_package, linked to the shared and to the static libraries.  EXTRA: compiler flags the build
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
for f in bin/vokcodec bin/vokproc include/voksc.h include/vokcodec.h include/vokproc.h share/man/man1/vokcodec.1 \
         share/man/man1/vokproc.1; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
for f in libvoksc.so libvoksc.a libvokcodec.so libvokcodec.a libvokproc.so libvokproc.a pkgconfig/voksc.pc \
         pkgconfig/vokcodec.pc pkgconfig/vokproc.pc cmake/voksc/vokscConfig.cmake; do
  [ -e "$lib/$f" ] || { echo "not installed: $f"; exit 1; }
done
for pair in vokcodec:vokc vokproc:vokp; do
  name=${pair%%:*} prefix_=${pair##*:}
  others=$(nm -D --defined-only "$lib/lib$name.so" | awk '{print $3}' | grep -v "^$prefix_" || true)
  [ -z "$others" ] || { echo "lib$name exports more than $prefix_*:"; echo "$others" | head; exit 1; }
  if readelf -d "$lib/lib$name.so" | grep -qiE 'rpath|runpath'; then echo "lib$name has a run path"; exit 1; fi
  "$prefix/bin/$name" --version >/dev/null
done

export PKG_CONFIG_PATH=$lib/pkgconfig
cc $extra -o "$tmp/pc_shared" "$here/consumer.c" $(pkg-config --cflags --libs vokcodec) -lm
LD_LIBRARY_PATH=$lib "$tmp/pc_shared"
# Static: a library folder holding only the archives, so the linker takes them.
mkdir "$tmp/static" && ln -s "$lib"/*.a "$tmp/static/"
cc $extra -o "$tmp/pc_static" "$here/consumer.c" \
  $(pkg-config --static --define-variable=libdir="$tmp/static" --cflags --libs vokcodec) -lm
"$tmp/pc_static" g726-32
cc $extra -o "$tmp/proc_shared" "$here/consumer_proc.c" $(pkg-config --cflags --libs vokproc) -lm
LD_LIBRARY_PATH=$lib "$tmp/proc_shared"
cc $extra -o "$tmp/proc_static" "$here/consumer_proc.c" \
  $(pkg-config --static --define-variable=libdir="$tmp/static" --cflags --libs vokproc) -lm
"$tmp/proc_static"

cmake -S "$here" -B "$tmp/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$extra" \
  -DCMAKE_EXE_LINKER_FLAGS="$extra" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
LD_LIBRARY_PATH=$lib "$tmp/consumer/consumer_shared" g722-64
"$tmp/consumer/consumer_static" g729e
LD_LIBRARY_PATH=$lib "$tmp/consumer/proc_shared"
echo "install ok"
