#!/usr/bin/env bash
# Where one coder of the peer benchmark spends its CPU time and its
# instructions, function by function: a cpu-clock sampling profile (perf, which
# needs no hardware counters) beside callgrind's instruction counts, both over
# the coding loop only.  A function whose time share is well above its
# instruction share runs at a low rate of instructions per cycle (a serial
# dependency chain, a mispredicted branch, a slow instruction): there fewer
# instructions alone do not pay.
#
#   scripts/profile-peer.sh MATCH [voksc|peer] [ROWS]     e.g. G-729A-encode/bcg729
#
# VOKSC_CPU chooses the kernel level as for the library; SECONDS (default 60) of
# the shared input, REPEAT (default 20) passes for the sampling profile.
set -eu
cd "$(dirname "$0")/.."
match=$1
side=${2:-voksc}
rows=${3:-30}
dir=${VOKSC_BENCH_BUILD:-build/bench}
[ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOKSC_BENCH=ON -DVOKSC_TESTS=OFF >/dev/null
cmake --build "$dir" --target voksc_peers >/dev/null
bin=$dir/bench/voksc_peers
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkfifo "$tmp/control"
VOKSC_PERF_CONTROL=$tmp/control perf record -q -e cpu-clock -F 20000 -D -1 --control "fifo:$tmp/control" -o "$tmp/perf.data" \
  "$bin" --only "$match" --side "$side" --seconds "${SECONDS_OF_INPUT:-60}" --repeat "${REPEAT:-20}" >/dev/null 2>&1
perf report -i "$tmp/perf.data" --no-children --stdio --sort symbol 2>/dev/null >"$tmp/time.txt"
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$tmp/cg.out" \
  "$bin" --only "$match" --side "$side" --seconds 10 >/dev/null 2>&1
callgrind_annotate --threshold=100 "$tmp/cg.out" 2>/dev/null >"$tmp/instr.txt"
python3 - "$tmp/time.txt" "$tmp/instr.txt" "$rows" <<'PY'
import re, sys
time_file, instr_file, rows = sys.argv[1], sys.argv[2], int(sys.argv[3])
def key(name):
    """Qualified function name without return type, parameters or clone suffix."""
    name = re.sub(r"\s+-\s+-\s*$", "", name.strip())
    name = re.sub(r"\s*\[[^\]]*\]", "", name).strip()
    if name.endswith(")") and not name.endswith("operator()"):
        depth = 0
        for i in range(len(name) - 1, -1, -1):
            depth += {")": 1, "(": -1}.get(name[i], 0)
            if depth == 0:
                name = name[:i]
                break
    depth, start = 0, 0
    for i, c in enumerate(name):
        depth += {"<": 1, "(": 1, ">": -1, ")": -1}.get(c, 0)
        if c == " " and depth == 0:
            start = i + 1
    return name[start:]
time = {}
for line in open(time_file):
    m = re.match(r"\s*([\d.]+)%\s+\[[.k]\]\s+(.*)$", line)
    if m:
        k = key(m.group(2))
        time[k] = time.get(k, 0.0) + float(m.group(1))
instr, total = {}, None
for line in open(instr_file):
    m = re.match(r"\s*([\d,]+)\s+(?:\([^)]*\)\s+)?(.*)$", line)
    if not m:
        continue
    n = int(m.group(1).replace(",", ""))
    rest = m.group(2)
    if "PROGRAM TOTALS" in rest:
        total = n
        continue
    if total is None or ":" not in rest:
        continue
    k = key(rest.split(":", 1)[1])
    instr[k] = instr.get(k, 0) + n
total = total or sum(instr.values()) or 1
print(f"{'time %':>7} {'instr %':>8} {'time/instr':>10}  function")
for k, t in sorted(time.items(), key=lambda kv: -kv[1])[:rows]:
    i = 100.0 * instr.get(k, 0) / total
    ratio = f"{t / i:10.2f}" if i > 0.05 else f"{'-':>10}"
    print(f"{t:7.2f} {i:8.2f} {ratio}  {k[:110]}")
PY
