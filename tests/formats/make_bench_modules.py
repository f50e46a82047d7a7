#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes a 10-minute Sound Tracker and ASC Sound Master module (29952 frames at 50 Hz) for the
benchmark: DIR/ten_minutes.stc and DIR/ten_minutes.asc.

Usage: make_bench_modules.py DIR
"""

import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_stc_asc_modules  # noqa: E402

if __name__ == "__main__":
    stc, asc = make_stc_asc_modules.bench_modules(random.Random(600))
    for name, data in (("ten_minutes.stc", stc), ("ten_minutes.asc", asc)):
        with open(os.path.join(sys.argv[1], name), "wb") as f:
            f.write(data)
