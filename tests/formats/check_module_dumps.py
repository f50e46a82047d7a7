#!/usr/bin/env python3
"""Converts every module of FOLDER with one of the EXTENSIONS with tonewell-convert and compares
the text with MODULE.dump byte for byte; where they differ, shows the first frames and registers
that part (the shared dumpdiff tool, FOLDER/../../tools/dumpdiff). Exit 77 (skipped) when FOLDER
or its modules are missing.

Usage: check_module_dumps.py --convert PATH FOLDER EXTENSION...
Ends with "N passed, N failed".
"""

import argparse
import os
import subprocess
import sys
import tempfile


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--convert", required=True)
    ap.add_argument("folder")
    ap.add_argument("extensions", nargs="+")
    args = ap.parse_args()
    names = sorted(n for n in os.listdir(args.folder) if n.rsplit(".", 1)[-1] in args.extensions) \
        if os.path.isdir(args.folder) else []
    if not names:
        print("SKIP: no .%s modules in %s (set TONEWELL_SHARED to the shared folder)" % (" .".join(args.extensions), args.folder))
        return 77
    dumpdiff = os.path.join(args.folder, "..", "..", "tools", "dumpdiff")
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="tonewell-dumps-") as work:
        for name in names:
            path = os.path.join(args.folder, name)
            run = subprocess.run([args.convert, path, "-"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            want = open(path + ".dump", "rb").read()
            if run.returncode == 0 and run.stdout == want:
                passed += 1
                continue
            failed += 1
            print("FAIL: %s: exit %d, %s" % (name, run.returncode, run.stderr.decode("latin-1").strip()))
            got = os.path.join(work, name + ".got")
            with open(got, "wb") as f:
                f.write(run.stdout)
            if os.path.exists(dumpdiff):
                subprocess.run([sys.executable, dumpdiff, path + ".dump", got])
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
