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
import sys
import tempfile

import make_tunes
from module_gen import check, first_difference, refusal, run, summary

HERE = os.path.dirname(os.path.abspath(__file__))
OPTION_SETS = [[], ["--clock", "1750000"], ["--clock", "1000000"], ["--no-rescale"],
               ["--clock", "3546900", "--no-rescale"]]
WITH_OPTIONS = {"runs.psg", "inter.ym6", "packed.ym5", "plain.ym3", "new.vtx", "oldym.vtx", "rate60.ym6",
                "madmax.ym2", "long.psg"}


def model(path, options):
    """(exit status, dump text) of the model on the file."""
    return run(sys.executable, [os.path.join(HERE, "refmodel_formats.py")] + options + [path])[:2]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--convert", required=True)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory(prefix="tonewell-cmp-") as work:
        tunes, out = os.path.join(work, "tunes"), os.path.join(work, "out.txt")
        good, bad = make_tunes.make(tunes)
        for name in good:
            if name.endswith((".stc", ".asc")):
                continue  # the model has no tracker players: formats_tests checks their frames
            for options in (OPTION_SETS if name in WITH_OPTIONS else [[]]):
                path = os.path.join(tunes, name)
                code = run(args.convert, options + [path, out])[0]
                mcode, mtext = model(path, options)
                text = open(out, "rb").read() if os.path.exists(out) else None
                detail = "convert exit %d, model exit %d" % (code, mcode)
                if text is not None and mtext:
                    a, b = text.split(b"\r\n"), mtext.split(b"\r\n")
                    first = first_difference(a, b)
                    detail += "; %d vs %d lines, first difference at line %d: %r vs %r" % (
                        len(a) - 1, len(b) - 1, first + 1, a[first:first + 1], b[first:first + 1])
                ok = code == 0 and mcode == 0 and text == mtext and bool(text)
                check("%s %s" % (name, " ".join(options)), ok, detail)
                if os.path.exists(out):
                    os.remove(out)
        for name, _ in bad:
            if name in ("pipe.ym", "folder.ym", "missing.ym", "dangling.ym"):
                continue  # not files: the model has no reading of its own for them
            path = os.path.join(tunes, name)
            ok, detail = refusal(args.convert, path, os.path.join(work, "bad.txt"))
            mcode = model(path, [])[0]
            check("refuse " + name, ok and mcode == 1, "%s, model exit %d" % (detail, mcode))
    return summary()


if __name__ == "__main__":
    sys.exit(main())
