#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes a 10-minute YM6 (30000 frames at 50 Hz, LHA -lh5- packed by jlha) for the benchmark:
a tune-like block of repeating bars with a moving bass, so it packs the way real YM files do.

Usage: make_bench_tune.py OUT
"""

import random
import sys

import make_tunes
from module_gen import write


def main(out):
    rng = random.Random(30000)
    bars = [make_tunes.random_frames(rng, 64, shape_every=16) for _ in range(12)]
    frames = []
    while len(frames) < 30000:
        bar = bars[(len(frames) // 64) % len(bars)]
        for regs, shape in bar:
            r = list(regs)
            r[4] = (r[4] + len(frames) // 256) & 0xFF
            frames.append((r, shape))
    rows, _, _, _ = make_tunes.ym_effect_rows(frames[:30000], rng, 6)
    data = make_tunes.ym_new(b"YM6!", rows, strings=(b"Ten minutes", b"Bench", b""))
    write(out, make_tunes.jlha_pack(data))


if __name__ == "__main__":
    main(sys.argv[1])
