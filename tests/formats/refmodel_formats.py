#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""A second, independent reading of the music file layouts and the conversion rules, used to
check tonewell-convert byte for byte. It shares no code with the converter: LHA members are
unpacked by the jlha tool (jlha-utils, a separate LHA implementation), a bare VTX stream after
being given a level-0 header of its own.

Usage: refmodel_formats.py [--clock HZ] [--no-rescale] IN     (dump text on standard output)
Exit 1 with a message when the file is refused.
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile

TARGET = 1750000
MAXF = 32787


class Refused(Exception):
    pass


def jlha_unpack(archive):
    with tempfile.TemporaryDirectory(prefix="tonewell-model-") as work:
        path, out = os.path.join(work, "in.lzh"), os.path.join(work, "out")
        with open(path, "wb") as f:
            f.write(archive)
        os.mkdir(out)
        subprocess.run(["jlha", "xqf", path], cwd=out, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        names = os.listdir(out)
        if len(names) != 1:
            raise Refused("archive gave %d members" % len(names))
        with open(os.path.join(out, names[0]), "rb") as f:
            return f.read()


def bare_lh5(stream, size):
    """Unpacks a headerless -lh5- stream by wrapping it as a one-member level-0 archive."""
    name = b"x"
    dos_time = struct.pack("<HH", 0, (2024 - 1980) << 9 | 1 << 5 | 1)  # jlha refuses a zero date
    body = b"-lh5-" + struct.pack("<II", len(stream), size) + dos_time + b"\x20\x00" + \
        bytes([len(name)]) + name + b"\0\0"
    header = bytes([len(body), sum(body) & 0xFF]) + body
    data = jlha_unpack(header + stream + b"\0")
    if len(data) != size:
        raise Refused("stream unpacked to %d bytes, not %d" % (len(data), size))
    return data


class Tune:
    def __init__(self):
        self.frames = []     # per source frame: [r0..r13], r13 None when not written
        self.clock = None
        self.rate = 50


def cstrings(b, pos, count):
    out = []
    for _ in range(count):
        end = b.find(b"\0", pos)
        if end < 0:
            raise Refused("strings run past the end")
        out.append(b[pos:end])
        pos = end + 1
    return out, pos


def from_planes(block, n, nregs):
    return [[block[r * n + f] for r in range(nregs)] for f in range(n)]


def from_records(block, n, nregs):
    return [list(block[f * nregs:(f + 1) * nregs]) for f in range(n)]


def read_psg(b):
    t = Tune()
    t.clock = 1773400
    if len(b) > 4 and b[4] == 0xFF:
        pos = 4
    else:
        if len(b) < 16:
            raise Refused("truncated")
        pos = 16
        if b[4] >= 10 and b[5] != 0:
            t.rate = b[5]
    regs = [0] * 14
    written = None          # shape written in the frame being built
    opened = False
    frames = []

    def new_frame():
        nonlocal written, opened
        if opened:             # writes before the first FF stay in frame 0
            frames.append(regs[:13] + [written])
            written = None
        opened = True

    while pos < len(b):
        c = b[pos]
        pos += 1
        if c == 0xFD:
            break
        if c == 0xFF:
            new_frame()
            continue
        if pos >= len(b):
            break
        v = b[pos]
        pos += 1
        if c == 0xFE:
            for _ in range(4 * v):
                new_frame()
                if len(frames) > 2 * MAXF * 6:   # enough for any rate up to 255 Hz
                    break
        elif c <= 13:
            regs[c] = v
            if c == 13:
                written = v
    if opened:
        frames.append(regs[:13] + [written])
    if not frames:
        raise Refused("no frame")
    t.frames = frames
    return t


def ym_frames(rows, kind):
    out = []
    env = [0, 0]
    for raw in rows:
        r = list(raw[:14])
        shape = None if r[13] == 0xFF else r[13]
        if kind == "YM2!":
            if shape is not None:
                env = [r[11], 0]
                shape = 10
            r[11], r[12] = env
            if r[10] & 0x80:
                r[10] = 0
        elif kind in ("YM4!", "YM5!"):
            voice = (r[3] >> 4) & 3
            if voice:
                r[7 + voice] = 0
        elif kind == "YM6!":
            for code in (r[1] >> 4, r[3] >> 4):
                if code & 3 and code >> 2 == 1:
                    r[7 + (code & 3)] = 0
        out.append(r[:13] + [shape])
    return out


def read_ym(b):
    t = Tune()
    kind = b[:4].decode("latin-1")
    if kind in ("MIX1", "YMT1", "YMT2"):
        raise Refused("sample-based")
    if kind in ("YM2!", "YM3!", "YM3b"):
        t.clock = 2000000
        n = (len(b) - 4) // 14
        if n == 0:
            raise Refused("no frame")
        t.frames = ym_frames(from_planes(b[4:], n, 14), kind)
        return t
    if b[4:12] != b"LeOnArD!":
        raise Refused("no LeOnArD!")
    if kind == "YM4!":
        n, attr, ndrums, _loop = struct.unpack(">IIII", b[12:28])
        t.clock = 2000000
        pos = 28
    else:
        n, attr, ndrums, t.clock, t.rate, _loop, extra = struct.unpack(">IIHIHIH", b[12:34])
        pos = 34 + extra
    for _ in range(ndrums):
        (size,) = struct.unpack(">I", b[pos:pos + 4])
        pos += 4 + size
    if pos > len(b):
        raise Refused("past the end")
    _, pos = cstrings(b, pos, 3)
    if t.rate == 0 or n == 0 or 16 * n > len(b) - pos:
        raise Refused("bad count or rate")
    block = b[pos:pos + 16 * n]
    rows = from_planes(block, n, 16) if attr & 1 else from_records(block, n, 16)
    t.frames = ym_frames(rows, kind)
    return t


def read_vtx(b):
    t = Tune()
    new = b[:2] in (b"ay", b"ym")
    if new:
        _loop, t.clock, t.rate, _year, size = struct.unpack("<HIBHI", b[3:16])
        _, pos = cstrings(b, 16, 5)
    else:
        _loop, t.clock, t.rate, size = struct.unpack("<HIBI", b[3:14])
        _, pos = cstrings(b, 14, 2)
    if t.rate == 0 or size == 0 or size % 14:
        raise Refused("bad header")
    data = bare_lh5(b[pos:], size)
    n = size // 14
    rows = from_planes(data, n, 14)
    t.frames = [r[:13] + [None if r[13] == 0xFF else r[13]] for r in rows]
    return t


def read_any(b, inside=False):
    if not b:
        raise Refused("empty")
    if b[:4] == b"PSG\x1a":
        return read_psg(b)
    if b[:4] in (b"YM2!", b"YM3!", b"YM3b", b"YM4!", b"YM5!", b"YM6!", b"MIX1", b"YMT1", b"YMT2"):
        return read_ym(b)
    if len(b) >= 3 and b[:2] in (b"ay", b"ym", b"AY", b"YM") and b[2] <= 6:
        return read_vtx(b)
    if not inside and len(b) > 21 and b[0] != 0 and b[2:7] == b"-lh5-":
        return read_any(jlha_unpack(b), inside=True)
    raise Refused("unknown format")


def rescale(p, clock, top):
    # floor(p * TARGET / clock + 1/2) == floor((2 p TARGET + clock) / (2 clock))
    return min(top, (2 * p * TARGET + clock) // (2 * clock))


WIDTH = [0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0x1F, 0xFF, 0x1F, 0x1F, 0x1F, 0xFF, 0xFF]


def convert(t, clock=None, no_rescale=False):
    clock = clock or t.clock
    lines = []
    n = len(t.frames)
    k = 0
    last_shown = -1
    while True:
        s = k * t.rate // 50
        if s >= n or k >= MAXF:
            break
        src = t.frames[s]
        r = [src[i] & WIDTH[i] for i in range(13)]
        if not no_rescale and clock != TARGET:
            for v in range(3):
                p = rescale(r[2 * v] + 256 * r[2 * v + 1], clock, 4095)
                r[2 * v], r[2 * v + 1] = p % 256, p // 256
            r[6] = rescale(r[6], clock, 31)
            e = rescale(r[11] + 256 * r[12], clock, 65535)
            r[11], r[12] = e % 256, e // 256
        shape = 0xFF
        if s != last_shown:
            for f in range(last_shown + 1, s + 1):
                if t.frames[f][13] is not None:
                    shape = t.frames[f][13] & 0x0F
        last_shown = s
        lines.append(" ".join("%02X" % v for v in r + [shape]) + "\r\n")
        k += 1
    return "".join(lines).encode("ascii")


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--clock", type=int)
    ap.add_argument("--no-rescale", action="store_true")
    ap.add_argument("path")
    args = ap.parse_args(argv)
    try:
        with open(args.path, "rb") as f:
            text = convert(read_any(f.read()), args.clock, args.no_rescale)
    except (Refused, struct.error, IndexError, OSError, subprocess.CalledProcessError) as e:
        sys.stderr.write("refused: %s\n" % e)
        return 1
    sys.stdout.buffer.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
