#!/usr/bin/env bash
# The shared library exports exactly the functions include/voksc.h declares
# (every VOKAPI declaration), no more and no fewer vok* names.
set -eu
lib=$1
here=$(cd "$(dirname "$0")" && pwd)
header=$here/../include/voksc.h
declared=$(grep -v '^#' "$header" | tr '\n' ' ' | grep -o 'VOKAPI[^(;]*(' | sed -E 's/.*[ *]([A-Za-z_][A-Za-z0-9_]*)[ ]*\($/\1/' | sort -u)
defined=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sed 's/@.*//' | grep -E '^vok' | sort -u)
extra=$(comm -13 <(printf '%s\n' "$declared") <(printf '%s\n' "$defined"))
missing=$(comm -23 <(printf '%s\n' "$declared") <(printf '%s\n' "$defined"))
[ -z "$extra" ] || { echo "exported but not declared in voksc.h:"; echo "$extra"; }
[ -z "$missing" ] || { echo "declared in voksc.h but not exported:"; echo "$missing"; }
[ -z "$extra$missing" ] || exit 1
echo "exports ok: $(printf '%s\n' "$defined" | grep -c .) names, as declared"
