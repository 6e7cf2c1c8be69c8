#!/usr/bin/env bash
# Every vok* symbol the shared library exports must be a specified name.
set -eu
lib=$1
here=$(cd "$(dirname "$0")" && pwd)
list=$here/../../shared/tools/exports.txt
defined=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sed 's/@.*//' | sort -u)
bad=$(printf '%s\n' "$defined" | grep -E '^vok' | grep -v -x -F -f <(cat "$list"; echo vokscGetLibVersion) || true)
if [ -n "$bad" ]; then
  echo "unexpected exports:"; echo "$bad"; exit 1
fi
if [ ! -f "$list" ]; then echo "export list not found; checked names only"; fi
echo "exports ok: $(printf '%s\n' "$defined" | grep -c '^vok') vok* names"
