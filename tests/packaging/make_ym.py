#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes small YM5! files for the packaging tests: a steady tune on voice A with an envelope
on voice C, unpacked or LHA-packed (-lh5-, level-0 header) with Debian's jlha (jlha-utils).

    make_ym.py OUT [--frames N] [--packed]
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tonewell_constants import ATARI_ST_CLOCK_HZ as CLOCK  # noqa: E402

RATE = 50


def frames(count):
    """count frames of the 16 registers r0..r15: a scale on voice A, shape writes every 25."""
    out = []
    for k in range(count):
        period = 0x100 + 0x20 * ((k // 10) % 8)
        regs = [period & 0xFF, period >> 8, 0, 0, 0x40, 0x01, 0x08, 0x38 | 0x02,
                0x0F, 0x00, 0x10, 0x00, 0x08, 0x0A if k % 25 == 0 else 0xFF, 0, 0]
        out.append(regs)
    return out


def ym5(count, interleaved=True, title=b"Packaging test", author=b"Tonewell"):
    regs = frames(count)
    header = b"YM5!" + b"LeOnArD!" + struct.pack(">IIHIHIH", count, 1 if interleaved else 0, 0, CLOCK, RATE, 0, 0)
    strings = title + b"\0" + author + b"\0" + b"made by the tests\0"
    if interleaved:
        body = bytes(regs[k][r] for r in range(16) for k in range(count))
    else:
        body = bytes(v for frame in regs for v in frame)
    return header + strings + body + b"End!"


def pack(data, member, out):
    """An LHA archive of one member named member, as almost all YM files are."""
    work = tempfile.mkdtemp(prefix="tonewell-lha-")
    try:
        with open(os.path.join(work, member), "wb") as fh:
            fh.write(data)
        lha = shutil.which("jlha") or "lha"  # jlha-utils; "lha" where another LHA tool is installed
        subprocess.run([lha, "-a0o5", "packed.lzh", member], cwd=work, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(os.path.join(work, "packed.lzh"), "rb") as fh:
            packed = fh.read()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if packed[2:7] != b"-lh5-":
        raise RuntimeError("lha did not write an -lh5- member")
    with open(out, "wb") as fh:
        fh.write(packed)


def write(out, count=250, packed=False):
    data = ym5(count)
    if packed:
        pack(data, "tune.ym", out)
    else:
        with open(out, "wb") as fh:
            fh.write(data)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--frames", type=int, default=250)
    parser.add_argument("--packed", action="store_true")
    args = parser.parse_args()
    write(args.out, args.frames, args.packed)
