#!/usr/bin/env python3
"""The real Sound Tracker and ASC Sound Master modules of the shared test data against the
dumps of their original players: `tonewell-convert MODULE -` must equal MODULE.dump byte for
byte; where it does not, dumpdiff shows the first frames and registers that differ. Each
module must also convert with --no-rescale to as many lines.

Usage: compare_modules.py --convert PATH --shared DIR
Exit 77 (skipped) when DIR/testdata/trackers2 is missing. Ends with "N passed, N failed".
"""

import argparse
import glob
import os
import subprocess
import sys
import tempfile


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--convert", required=True)
    ap.add_argument("--shared", required=True)
    args = ap.parse_args()
    data = os.path.join(args.shared, "testdata", "trackers2")
    modules = sorted(glob.glob(os.path.join(data, "*.stc")) + glob.glob(os.path.join(data, "*.asc")))
    if not modules:
        print("SKIPPED: no .stc or .asc modules in %s (set TONEWELL_SHARED to the shared folder)" % data)
        return 77
    passed = failed = 0
    for module in modules:
        name = os.path.basename(module)
        want = open(module + ".dump", "rb").read()
        got = subprocess.run([args.convert, module, "-"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        kept = subprocess.run([args.convert, "--no-rescale", module, "-"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if got.returncode == 0 and got.stdout == want and kept.returncode == 0 and \
                kept.stdout.count(b"\r\n") == want.count(b"\r\n"):
            passed += 1
            continue
        failed += 1
        print("FAIL: %s: exit %d / %d (--no-rescale), %d lines / %d, want %d: %s" % (
            name, got.returncode, kept.returncode, got.stdout.count(b"\r\n"), kept.stdout.count(b"\r\n"),
            want.count(b"\r\n"), got.stderr.decode("latin-1").strip()))
        with tempfile.NamedTemporaryFile(suffix=".dump") as out:
            out.write(got.stdout)
            out.flush()
            sys.stdout.flush()
            subprocess.run([sys.executable, os.path.join(args.shared, "tools", "dumpdiff"), module + ".dump", out.name])
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
