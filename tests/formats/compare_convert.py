#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Compares tonewell-convert with the independent model (refmodel_formats.py) byte for byte on
the generated set (make_tunes.py): every good file with the file's clock, and a selection with
--clock and --no-rescale; every malformed file must be refused by both, the converter with exit
status 1, one line on standard error naming the file, and nothing at OUT.

Usage: compare_convert.py --convert PATH
Ends with "N passed, N failed".
"""

import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_tunes  # noqa: E402

OPTION_SETS = [[], ["--clock", "1750000"], ["--clock", "1000000"], ["--no-rescale"],
               ["--clock", "3546900", "--no-rescale"]]
WITH_OPTIONS = {"runs.psg", "inter.ym6", "packed.ym5", "plain.ym3", "new.vtx", "oldym.vtx", "rate60.ym6",
                "madmax.ym2", "long.psg"}


def model(path, options):
    run = subprocess.run([sys.executable, os.path.join(HERE, "refmodel_formats.py")] + options + [path],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return run.returncode, run.stdout


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--convert", required=True)
    args = ap.parse_args()
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="tonewell-cmp-") as work:
        tunes = os.path.join(work, "tunes")
        good, bad = make_tunes.make(tunes)
        for name in good:
            if name.endswith((".stc", ".asc")):
                continue  # the model has no tracker players: formats_tests checks their frames
            for options in (OPTION_SETS if name in WITH_OPTIONS else [[]]):
                path = os.path.join(tunes, name)
                out = os.path.join(work, "out.txt")
                conv = subprocess.run([args.convert] + options + [path, out], stderr=subprocess.PIPE)
                mcode, mtext = model(path, options)
                text = open(out, "rb").read() if os.path.exists(out) else None
                label = "%s %s" % (name, " ".join(options))
                if conv.returncode == 0 and mcode == 0 and text == mtext and text:
                    passed += 1
                else:
                    failed += 1
                    detail = ""
                    if text is not None and mtext:
                        a, b = text.split(b"\r\n"), mtext.split(b"\r\n")
                        first = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
                        detail = "; %d vs %d lines, first difference at line %d: %r vs %r" % (
                            len(a) - 1, len(b) - 1, first + 1, a[first:first + 1], b[first:first + 1])
                    print("FAIL: %s: convert exit %d, model exit %d%s" % (label, conv.returncode, mcode, detail))
                if os.path.exists(out):
                    os.remove(out)
        for name, _ in bad:
            path = os.path.join(tunes, name)
            if name in ("pipe.ym", "folder.ym", "missing.ym", "dangling.ym"):
                continue  # not files: the model has no reading of its own for them
            out = os.path.join(work, "bad.txt")
            conv = subprocess.run([args.convert, path, out], stderr=subprocess.PIPE)
            mcode, _ = model(path, [])
            lines = conv.stderr.decode("latin-1").splitlines()
            one_line = len(lines) == 1 and path in lines[0]
            if not one_line:
                print("FAIL: %s: stderr is not one line naming the file: %r" % (name, lines))
            if conv.returncode == 1 and mcode == 1 and not os.path.exists(out) and one_line:
                passed += 1
            else:
                failed += 1
                print("FAIL: %s: convert exit %d, model exit %d, OUT %s" % (
                    name, conv.returncode, mcode, "left" if os.path.exists(out) else "absent"))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
