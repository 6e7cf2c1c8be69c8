#!/usr/bin/env python3
"""Writes the small fixed seed corpus of the fuzz targets in tests/fuzz/corpus.

  tools/make_fuzz_corpus.py BUILD_DIR

fuzz_exports and fuzz_decode pick their row with the first input byte: one
seed per row, the rest pseudo-random bytes.  The stream rows of fuzz_decode
also get a short real bitstream of their codec in each layout, encoded by
the vokcodec tool of BUILD_DIR from a synthetic vowel-like signal.  Seeds are
deterministic, so rerunning gives the same corpus.
"""
import math
import os
import random
import re
import struct
import subprocess
import sys
import tempfile

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = sys.argv[1]
tool = os.path.join(build, "vokcodec", "vokcodec")
corpus = os.path.join(root, "tests", "fuzz", "corpus")
rng = random.Random(20261206)


def write(target, name, data):
    d = os.path.join(corpus, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(bytes(data))


def noise(n):
    return [rng.randrange(256) for _ in range(n)]


# fuzz_exports: one seed per row of kRows.
src = open(os.path.join(root, "tests", "fuzz", "fuzz_exports.cpp")).read()
rows = re.findall(r'\{"voks[A-Za-z0-9_]*|ROW\(voks[A-Za-z0-9_]*', src)
for i in range(len(rows)):
    write("fuzz_exports", "row%03d" % i, [i] + noise(160))

# fuzz_pack: each packer.
for i in range(8):
    write("fuzz_pack", "case%d" % i, [i] + noise(200))

# fuzz_decode: the frame rows, then two stream rows (itu, rtp) per codec.
frame_rows = 15
names = [l.split()[0] for l in subprocess.run([tool, "list"], capture_output=True, text=True).stdout.splitlines()]
rates = {l.split()[0]: int(l.split()[1]) for l in subprocess.run([tool, "list"], capture_output=True,
                                                               text=True).stdout.splitlines()}
for i in range(frame_rows):
    write("fuzz_decode", "frame%02d" % i, [i] + noise(300))
with tempfile.TemporaryDirectory() as tmp:
    for k, name in enumerate(names):
        fs = rates[name]
        n = fs // 20  # 50 ms
        pcm = b"".join(struct.pack("<h", int(6000 * math.sin(2 * math.pi * 140 * t / fs) *
                                             (1 + 0.5 * math.sin(2 * math.pi * 3 * t / fs)) +
                                             rng.randrange(-300, 300))) for t in range(n))
        inp = os.path.join(tmp, "in.raw")
        out = os.path.join(tmp, "out.bit")
        open(inp, "wb").write(pcm)
        for f, fmt in enumerate(("itu", "rtp")):
            if subprocess.run([tool, "encode", "--codec", name, "--format", fmt, inp, out],
                              capture_output=True).returncode != 0:
                continue
            # Options bytes: mode, rate, law, dtx all at their defaults.
            write("fuzz_decode", "%s-%s" % (name, fmt), [frame_rows + 2 * k + f, 0, 0, 0, 0] +
                  list(open(out, "rb").read()))
