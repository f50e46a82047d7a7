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

SKIP = 77


def png(width=16, height=16):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes(random.Random(y).randrange(256) for _ in range(3 * width)) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def refused(program, path, work):
    out = os.path.join(work, "out.wav")
    run = subprocess.run([program, path, out], stderr=subprocess.PIPE, timeout=60)
    lines = run.stderr.decode("latin-1").splitlines()
    ok = run.returncode == 1 and len(lines) == 1 and path in lines[0] and not os.path.exists(out)
    if not ok:
        print("FAIL: %s %s: exit %d, stderr %r, OUT %s" % (os.path.basename(program), path, run.returncode, lines,
                                                           "left" if os.path.exists(out) else "absent"))
    return ok


def main():
    mode, args = sys.argv[1], dict(zip(sys.argv[2:-1:2], sys.argv[3:-1:2]))
    folder = sys.argv[-1]
    results = []
    if mode == "real":
        modules = sorted(glob.glob(os.path.join(folder, "testdata", "trackers", "*.pt[23]")) +
                         [m for ext in ("stc", "asc", "sqt", "stp")
                          for m in glob.glob(os.path.join(folder, "testdata", "trackers2", "*." + ext))])
        if not modules:
            print("SKIP: no modules in %s/testdata/trackers or trackers2 (set TONEWELL_SHARED)" % folder)
            return SKIP
        for module in modules:
            want = open(module + ".dump", "rb").read()
            run = subprocess.run([args["--convert"], module, "-"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            kept = subprocess.run([args["--convert"], "--no-rescale", module, "-"], stdout=subprocess.PIPE)
            ok = run.returncode == 0 and run.stdout == want and kept.stdout.count(b"\r\n") == want.count(b"\r\n")
            results.append(ok)
            print("%s: %s %s" % ("ok" if ok else "FAIL", os.path.basename(module), run.stderr.decode("latin-1").strip()))
            if not ok:
                with tempfile.NamedTemporaryFile(suffix=".dump") as got:
                    got.write(run.stdout)
                    got.flush()
                    sys.stdout.flush()
                    subprocess.run([sys.executable, os.path.join(folder, "tools", "dumpdiff"), module + ".dump", got.name])
    else:
        with tempfile.TemporaryDirectory(prefix="tonewell-modules-") as work:
            for line in open(os.path.join(folder, "modules_bad.txt")):
                path = os.path.join(folder, line.split("\t")[0])
                results += [refused(args["--convert"], path, work), refused(args["--render"], path, work)]
            example = open(os.path.join(folder, "ex1_v5_sample_ornament.pt3"), "rb").read()
            unknown = {"damaged_header.pt3": b"ProTrackor" + example[10:], "picture.png": png(),
                       "noise.bin": random.Random(3).randbytes(5000)}
            for name, data in unknown.items():
                path = os.path.join(work, name)
                with open(path, "wb") as f:
                    f.write(data)
                results.append(refused(args["--render"], path, work))
    print("%d passed, %d failed" % (results.count(True), results.count(False)))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
