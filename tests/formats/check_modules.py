#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Tracker modules through the programs.

  check_modules.py real --convert PATH SHARED
      every module in SHARED/testdata/trackers and trackers2: `tonewell-convert MODULE -` equals
      MODULE.dump byte for byte (where not, dumpdiff shows the first frames and registers that
      part), and --no-rescale gives as many lines; exit 77 (skipped) when there are none.
  check_modules.py refused --convert PATH --render PATH TUNES
      every module of TUNES/modules_bad.txt, and unknown binary files (a PT3 whose header text
      is damaged, a PNG, random bytes) given to tonewell-render: exit 1, one line on standard
      error naming the file, nothing at OUT.
Ends with "N passed, N failed".
"""
import glob
import os
import random
import struct
import subprocess
import sys
import tempfile
import zlib

from module_gen import check, refusal, run, summary, write

SKIP = 77


def png(width=16, height=16):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes(random.Random(y).randrange(256) for _ in range(3 * width)) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def refused(program, path, work):
    check("%s refuses %s" % (os.path.basename(program), path), *refusal(program, path, os.path.join(work, "out.wav")))


def real(convert, folder):
    modules = sorted(glob.glob(os.path.join(folder, "testdata", "trackers", "*.pt[23]")) +
                     [m for ext in ("stc", "asc", "sqt", "stp")
                      for m in glob.glob(os.path.join(folder, "testdata", "trackers2", "*." + ext))])
    if not modules:
        print("SKIP: no modules in %s/testdata/trackers or trackers2 (set TONEWELL_SHARED)" % folder)
        return SKIP
    for module in modules:
        want = open(module + ".dump", "rb").read()
        code, out, err = run(convert, [module, "-"])
        kept = run(convert, ["--no-rescale", module, "-"])[1]
        ok = code == 0 and out == want and kept.count(b"\r\n") == want.count(b"\r\n")
        if not check("%s %s" % (os.path.basename(module), err.strip()), ok, "exit %d, not its dump" % code):
            with tempfile.NamedTemporaryFile(suffix=".dump") as got:
                got.write(out)
                got.flush()
                sys.stdout.flush()
                subprocess.run([sys.executable, os.path.join(folder, "tools", "dumpdiff"), module + ".dump", got.name])
    return summary()


def main():
    mode, args = sys.argv[1], dict(zip(sys.argv[2:-1:2], sys.argv[3:-1:2]))
    folder = sys.argv[-1]
    if mode == "real":
        return real(args["--convert"], folder)
    with tempfile.TemporaryDirectory(prefix="tonewell-modules-") as work:
        for line in open(os.path.join(folder, "modules_bad.txt")):
            path = os.path.join(folder, line.split("\t")[0])
            refused(args["--convert"], path, work)
            refused(args["--render"], path, work)
        example = open(os.path.join(folder, "ex1_v5_sample_ornament.pt3"), "rb").read()
        unknown = {"damaged_header.pt3": b"ProTrackor" + example[10:], "picture.png": png(),
                   "noise.bin": random.Random(3).randbytes(5000)}
        for name, data in unknown.items():
            write(os.path.join(work, name), data)
            refused(args["--render"], os.path.join(work, name), work)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
