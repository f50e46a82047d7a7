#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""tonewell_constants.py against the C++ sources: each row names the Python constant, the file
and a pattern whose group is the number there. Exit 1 naming every disagreement."""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import tonewell_constants as k  # noqa: E402

# (Python name, file under the source root, pattern: the C++ name and its number)
TABLE = [
    ("PLAYER_CHIP_CLOCK_HZ", "psg/chip_registers.h", r"\bPLAYER_CHIP_CLOCK_HZ = (\d+)"),
    ("ZX_SPECTRUM_CLOCK_HZ", "psg/chip_registers.h", r"\bZX_SPECTRUM_CLOCK_HZ = (\d+)"),
    ("ATARI_ST_CLOCK_HZ", "psg/chip_registers.h", r"\bATARI_ST_CLOCK_HZ = (\d+)"),
    ("MAX_DUMP_FRAMES", "psg/chip_registers.h", r"\bMaxDumpFrames = (\d+)"),
    ("SAMPLE_RATE", "audio/audio_stream.cpp", r"\bSampleRate = (\d+);"),
    ("BLOCK_MS", "audio/audio_stream.cpp", r"\bBlockFrames = \(\(s\.SampleRate \* (\d+) / 1000\) \+ 3\) & ~3;"),
    ("RING_BLOCKS", "audio/audio_stream.cpp", r"\bRingFrames = s\.BlockFrames \* (\d+);"),
    # The same numbers where they are words for the user or a script outside the build.
    ("PLAYER_CHIP_CLOCK_HZ", "tools/tonewell_convert.cpp", r"for a (\d+) Hz chip"),
    ("ZX_SPECTRUM_CLOCK_HZ", "tools/tune_input.h", r"PSG, modules (\d+)\)"),
    ("PLAYER_CHIP_CLOCK_HZ", "tools/make_demo_tune.py", r"(?m)^CLOCK = (\d+)"),
]


def main():
    root = os.path.dirname(HERE)
    problems = []
    for name, path, pattern in TABLE:
        with open(os.path.join(root, path)) as f:
            found = re.findall(pattern, f.read())
        want = getattr(k, name)
        if len(found) != 1:
            problems.append("%s: %d matches of %r (update the table)" % (path, len(found), pattern))
        elif int(found[0]) != want:
            problems.append("%s = %d, but %s says %s" % (name, want, path, found[0]))
    for p in problems:
        print(p)
    print("%d of %d constants agree" % (len(TABLE) - len(problems), len(TABLE)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
