#!/usr/bin/env bash
# Every export declared in voksc.h has a row in the export fuzz target.
set -eu
header=$1 rows=$2
missing=$(comm -23 <(grep -o 'VOKAPI VokResult voks[A-Za-z0-9_]*' "$header" | sed 's/.* //' | sort -u) \
                   <(grep -o '{"voks[A-Za-z0-9_]*\|ROW(voks[A-Za-z0-9_]*' "$rows" | sed 's/{"//; s/ROW(//' | sort -u))
if [ -n "$missing" ]; then
  echo "exports without a fuzz row in $rows:"; echo "$missing"; exit 1
fi
echo "every export has a fuzz row"
