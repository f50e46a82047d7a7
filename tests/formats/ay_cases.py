#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""tonewell-convert on AY files: the hand-made cases of make_ay.py (whole dumps, summaries,
notices, songs, --list), damaged files (exit 1, one line, no OUT) and hostile code (ends with
its frames within the time bound); or, with --shared DIR, the real files of DIR/testdata/ay
against their given dumps (exit 77, skipped, when DIR has none).

Usage: ay_cases.py --convert PATH [--shared DIR]
Ends with "N passed, N failed".
"""

import argparse
import os
import sys
import tempfile
import time

import make_ay
from module_gen import check, first_difference, refusal, run, summary, write

SECONDS = 60  # bound on one conversion (the machine is shared; the worst song takes ~6 s alone)
# The first lines of the rescaled dumps, as the format notes give them.
RESCALED = {
    "example1.ay": ["FD 00 00 00 00 00 00 38 0F 00 00 00 00 0E", "FE 00 00 00 00 00 00 38 0F 00 00 00 00 FF",
                    "FF 00 00 00 00 00 00 38 0F 00 00 00 00 08", "00 01 00 00 00 00 00 38 0F 00 00 00 00 FF"],
    "example2.ay": ["00 00 00 00 00 00 00 3E 10 00 00 CA 0F FF"] * 4 + ["00 00 00 00 00 00 00 3E 10 00 00 CA 0F 0C"],
    "example3.ay": ["FF 0F C0 01 00 00 1F 30 0F %02X 00 00 00 FF" % k for k in range(6)],
}
# Words standard error must hold.
SAYS = {
    "example1.ay": ['AY (ZX Spectrum), "Example 1: ZX, IM 1 stub" / "Tonewell", song 1 of 1, fade of 0 frames not applied, 250 frames, 1773400 Hz'],
    "example2.ay": ["block 2 (FFF4): 14 bytes cut to 12 at address 65536"],
    "example3.ay": ["AY (Amstrad CPC)", "1000000 Hz"],
    "blocks.ay": ["block 3 (FFFE): 4 bytes cut to 2 at address 65536", "block 5 (B000): its data lies outside",
                  "block 6 (9000): 4 bytes cut to 2 at the end of the file"],
    "multi.ay": ['"two" / "Tonewell", song 2 of 3, fade of 0 frames not applied, 20 frames'],
    "multi.ay --song 3": ["AY (no sound-chip output)", "song 3 of 3, length unknown (15000 frames taken)",
                          "fade of 150 frames not applied"],
    "di_halt.ay": ["cut at 32787 of 65535 frames"],
}


def timed(convert, args):
    """run() of the converter bounded by SECONDS, and the seconds it took."""
    start = time.monotonic()
    return run(convert, args, SECONDS) + (time.monotonic() - start,)


def hand_made(convert, work):
    out_path = os.path.join(work, "out.txt")
    for name, (data, options, lines) in make_ay.CASES.items():
        path = os.path.join(work, name.split(" ")[0])
        write(path, data)
        args = (["--no-rescale"] if options is not None else []) + (options or []) + [path, "-"]
        code, out, err, seconds = timed(convert, args)
        want = "".join(line + "\r\n" for line in lines).encode()
        got = out.decode("latin-1").split("\r\n")
        first = first_difference(got, lines)
        check("%s (%.2f s)" % (name, seconds), code == 0 and out == want and seconds < SECONDS,
              "exit %d, %d lines for %d, first difference at line %d: %r" % (
                  code, len(got) - 1, len(lines), first, got[first:first + 1]))
        if name in RESCALED:
            out = run(convert, [path, "-"], SECONDS)[1]
            check(name + " rescaled", out.decode().split("\r\n")[:len(RESCALED[name])] == RESCALED[name])
        for words in SAYS.get(name, []):
            check("%s says %r" % (name, words), words in err, err)
    multi = os.path.join(work, "multi.ay")
    code, out, err = run(convert, ["--list", multi], SECONDS)
    check("--list", code == 0 and out.decode() == "AY\nauthor: Tonewell\nmisc: hand-made\n1\tone\t10 frames\n"
          "2\ttwo\t20 frames\tfirst\n3\tsilent\tunknown length\n", out)
    for song in ("4", "0", "x"):
        code, out, err = run(convert, ["--song", song, multi, out_path], SECONDS)
        check("--song " + song, code == 2 and not os.path.exists(out_path) and
              ("1..3" if song == "4" else "1 to 65535") in err, err)
    for name, data, words in make_ay.damaged():
        path = os.path.join(work, name)
        write(path, data)
        check("refuse " + name, *refusal(convert, path, out_path, words, SECONDS))


def handout(convert, shared):
    folder = os.path.join(shared, "testdata", "ay")
    for dump in sorted(os.listdir(folder)):
        if not dump.endswith(".txt"):
            continue
        base, song, kind = dump.split(".ay.")[0] + ".ay", dump.split(".song")[1].split(".")[0], dump.split(".")[-2]
        args = ["--song", song] + (["--no-rescale"] if kind == "unscaled" else []) + [os.path.join(folder, base), "-"]
        code, out, err, seconds = timed(convert, args)
        want = open(os.path.join(folder, dump), "rb").read()
        check("%s (%.2f s)" % (dump, seconds), code == 0 and out == want, "exit %d: %s" % (code, err))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--convert", required=True)
    ap.add_argument("--shared")
    args = ap.parse_args()
    if args.shared is not None:
        if not os.path.isdir(os.path.join(args.shared, "testdata", "ay")):
            print("SKIP: no real AY files in %s/testdata/ay (set TONEWELL_SHARED)" % args.shared)
            return 77
        handout(args.convert, args.shared)
    else:
        with tempfile.TemporaryDirectory(prefix="tonewell-ay-") as work:
            hand_made(args.convert, work)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
