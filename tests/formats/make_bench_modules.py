#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes a 10-minute Sound Tracker and ASC Sound Master module (29952 frames at 50 Hz) for the
benchmark: DIR/ten_minutes.stc and DIR/ten_minutes.asc.

Usage: make_bench_modules.py DIR
"""

import random
import sys

import make_stc_asc_modules
from module_gen import write_files

if __name__ == "__main__":
    stc, asc = make_stc_asc_modules.bench_modules(random.Random(600))
    write_files(sys.argv[1], [("ten_minutes.stc", stc), ("ten_minutes.asc", asc)])
