#!/usr/bin/env bash
# Speed of vokcodec's complete coders against every installed peer (bcg729,
# spandsp, FFmpeg, libgsm, opencore-amr, vo-amrwbenc: VOKSC_BENCH_DEPS=1 ./scripts/install-deps.sh installs
# them), at the processor's kernel level and with the portable kernels forced
# (VOKSC_CPU=scalar).  Writes a Markdown table to the file given (default
# bench/RESULTS.md) and to standard output.
#
#   scripts/bench-peers.sh [OUT.md] [MATCH-REGEX]
#
# CPU time: BENCH_SECONDS (default 60) of the shared input per run, ROUNDS (default
# 7) alternated runs per side, medians.  Instructions (when valgrind is
# installed): callgrind over the coding loop only, COUNT_SECONDS (default 10)
# of input, per 10 ms of audio.  Ratios are peer / voksc (above 1: voksc is
# faster).
set -eu
cd "$(dirname "$0")/.."
out=${1:-bench/RESULTS.md}
filter=${2:-.}
dir=${VOKSC_BENCH_BUILD:-build/bench}
if [ -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -DVOKSC_BENCH=ON >/dev/null
else
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOKSC_BENCH=ON -DVOKSC_TESTS=OFF >/dev/null
fi
cmake --build "$dir" --target voksc_peers >/dev/null
bin=$dir/bench/voksc_peers
# FFmpeg's libavcodec loads libhwy (through libjxl), whose loader runs an
# instruction valgrind 3.19 cannot decode (rdtscp).  Under callgrind a
# stand-in libhwy serves: the entry points libjxl links, never called by the
# audio codecs.
stub=$(mktemp -d)
trap 'rm -rf "$stub"' EXIT
if command -v valgrind >/dev/null && ldd "$bin" | grep -q 'libhwy.so.1 '; then
  lib=$(ldd "$bin" | awk '/libjxl\.so/ {print $3}')
  nm -D --undefined-only "$lib" | awk '/@HWY_0/ {sub("@HWY_0", "", $2); print "void " $2 "(void) { __builtin_trap(); }"}' >"$stub/hwy.c"
  echo 'HWY_0 { global: *; };' >"$stub/hwy.map"
  cc -shared -fPIC -o "$stub/libhwy.so.1" "$stub/hwy.c" -Wl,--version-script="$stub/hwy.map" -Wl,-soname,libhwy.so.1
fi
python3 - "$bin" "$out" "$filter" "$stub" "${BENCH_SECONDS:-60}" "${ROUNDS:-7}" "${COUNT_SECONDS:-10}" <<'EOF'
import os, re, shutil, subprocess, sys, tempfile

binary, out, pattern, stub, seconds, rounds, count_seconds = sys.argv[1:]
# The processor's level (the library has AVX2 forms; AVX-512 ones are not
# needed) and the forced portable one.
flags = re.search(r"^flags\s*:(.*)$", open("/proc/cpuinfo").read(), re.M).group(1).split()
levels = (["avx2"] if "avx2" in flags else []) + ["scalar"]


def env(lv):
    e = dict(os.environ)
    e["VOKSC_CPU"] = lv
    return e


def timing(lv):
    text = subprocess.run([binary, "--seconds", seconds, "--rounds", rounds, "--filter", pattern],
                          env=env(lv), check=True, capture_output=True, text=True).stdout
    rows = {}
    for line in text.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) == 7 and cells[0] not in ("match", "---"):
            rows[cells[0]] = cells
    return rows


def instructions(match, side, lv):
    e = env(lv)
    if os.path.exists(os.path.join(stub, "libhwy.so.1")):
        e["LD_LIBRARY_PATH"] = stub + ":" + e.get("LD_LIBRARY_PATH", "")
    with tempfile.TemporaryDirectory() as tmp:
        f = os.path.join(tmp, "cg.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--collect-atstart=no", "--callgrind-out-file=" + f,
                        binary, "--only", match, "--side", side, "--seconds", count_seconds],
                       env=e, check=True, capture_output=True)
        total = 0
        for line in open(f):
            m = re.match(r"(?:summary|totals):\s*(\d+)", line)
            if m:
                total = int(m.group(1))
        return total / (float(count_seconds) * 100)


times = {lv: timing(lv) for lv in levels}
names = list(times[levels[0]].keys())
counts = {}
if shutil.which("valgrind"):
    for n in names:
        counts[n] = {"peer": instructions(n, "peer", levels[0])}
        for lv in levels:
            counts[n][lv] = instructions(n, "voksc", lv)

head = ["coder", "peer"]
if counts:
    head += ["instr/10 ms voksc (%s)" % lv for lv in levels] + ["peer"]
    head += ["instr ratio (%s)" % lv for lv in levels]
head += ["CPU-time ratio (%s)" % lv for lv in levels] + ["outputs"]
lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
for n in names:
    r = times[levels[0]][n]
    row = [r[1], r[2]]
    if counts:
        c = counts[n]
        row += ["%.1fk" % (c[lv] / 1000) for lv in levels] + ["%.1fk" % (c["peer"] / 1000)]
        row += ["%.2fx" % (c["peer"] / c[lv]) for lv in levels]
    row += [times[lv][n][5] for lv in levels] + [r[6]]
    lines.append("| " + " | ".join(row) + " |")
cpu = open("/proc/cpuinfo").read()
model = re.search(r"model name\s*:\s*(.*)", cpu)
note = ("\n%s s of the shared input per timed run (%s alternated rounds, medians), %s s under callgrind; "
        "kernel levels: %s; processor: %s.\n" % (seconds, rounds, count_seconds, ", ".join(levels),
                                                 model.group(1) if model else "unknown"))
text = "\n".join(lines) + "\n" + note
open(out, "w").write(text)
sys.stdout.write(text)
EOF
