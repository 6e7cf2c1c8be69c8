#!/usr/bin/env bash
# Every export declared in voksc.h has a row in the export fuzz target or is
# listed in exports_pending.txt beside it.
set -eu
header=$1 rows=$2
pending=$(dirname "$rows")/exports_pending.txt
missing=$(comm -23 <(grep -o 'VOKAPI VokResult voks[A-Za-z0-9_]*' "$header" | sed 's/.* //' | sort -u) \
                   <( (grep -o '{"voks[A-Za-z0-9_]*\|ROW(voks[A-Za-z0-9_]*' "$rows" | sed 's/{"//; s/ROW(//';
                       grep -v '^#' "$pending") | sort -u))
if [ -n "$missing" ]; then
  echo "exports without a fuzz row: add a row to $rows (or, for now, the name to $pending):"
  echo "$missing"; exit 1
fi
echo "every export has a fuzz row ($(grep -vc '^#' "$pending") still pending)"
