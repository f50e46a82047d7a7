#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes a set of adversarial register dump files into a directory.

Usage: make_dumps.py DIR

Every file is generated from fixed seeds, so the set is the same on every run.
make_dumps(dir) returns a list of Dump records (name, path, frames), where
`frames` is the number of sample frames worth comparing for that file (None:
the renderer's default length is short enough to use whole).
"""

import os
import random
import sys
from collections import namedtuple

Dump = namedtuple("Dump", "name path frames")

SECOND = 44100
TICK = 882


def hx(v, lower=False):
    s = "%02X" % (v & 0xFF)
    return s.lower() if lower else s


def regs_line(tone=(0, 0, 0), noise=0, mixer=0x38, vol=(15, 15, 15), env=0, shape=0xFF,
              lower=False, sep=" "):
    """A well-formed 14-field line from logical register values."""
    vals = [tone[0] & 0xFF, tone[0] >> 8, tone[1] & 0xFF, tone[1] >> 8,
            tone[2] & 0xFF, tone[2] >> 8, noise, mixer, vol[0], vol[1], vol[2],
            env & 0xFF, env >> 8, shape]
    return sep.join(hx(v, lower) for v in vals)


def random_regs(rng, lower=None):
    return regs_line(
        tone=tuple(rng.choice((rng.randrange(4096), rng.randrange(6), rng.randrange(40, 700)))
                   for _ in range(3)),
        noise=rng.randrange(32), mixer=rng.randrange(64),
        vol=tuple(rng.randrange(32) for _ in range(3)),
        env=rng.choice((rng.randrange(65536), rng.randrange(8), rng.randrange(10, 400))),
        shape=rng.choice((0xFF, 0xFF, 0xFF, rng.randrange(16), rng.randrange(256))),
        lower=rng.random() < 0.5 if lower is None else lower)


def seeded_lines(seed, count, line):
    """count lines made by line(rng), all from one generator seeded with seed."""
    rng = random.Random(seed)
    return [line(rng) for _ in range(count)]


def join(lines, ending="\n", final=True):
    text = ending.join(lines) + (ending if final else "")
    return text.encode("latin-1")


# ---------------------------------------------------------------------------
# The individual dumps; each returns (bytes, frames to compare or None)

def d_hex_case():
    def line(rng):  # mixed case within one line, field by field
        return " ".join(f.lower() if rng.random() < 0.5 else f.upper() for f in random_regs(rng).split(" "))
    return join(seeded_lines(101, 60, line)), None


def d_field_widths():
    alphabet = "0123456789abcdefABCDEFGgzZ/:@`~!"

    def field(rng):
        width = rng.choice((1, 1, 2, 3, 3, 4, 7))
        return "".join(rng.choice(alphabet) for _ in range(width))
    return join(seeded_lines(102, 50, lambda rng: " ".join(field(rng) for _ in range(14)))), None


def d_missing_extra_fields():
    def line(rng):
        full = random_regs(rng).split(" ")
        n = rng.choice(list(range(0, 14)) + [14, 15, 16, 20, 30])
        fields = full[:n] if n <= 14 else full + [hx(rng.randrange(256)) for _ in range(n - 14)]
        return " ".join(fields) if fields else "5"
    lines = seeded_lines(103, 60, line)
    lines += ["3C 01 00 02 FE 00 1F 38 0F 0E 10 00 10",           # 13 fields: shape from ""
              "3C 01 00 02 FE 00 1F 38 0F 0E 10 00 10  FF",       # last field pushed to 15
              "3C", "3C 01", "3C  01"]
    return join(lines), None


def d_spacing():
    rng = random.Random(104)
    lines = []
    for i in range(50):
        fields = random_regs(rng).split(" ")
        out = ""
        for k, f in enumerate(fields):
            r = rng.random()
            if r < 0.1:
                f = "\t" + f
            elif r < 0.15:
                f = f + "\t"
            out += f
            if k < len(fields) - 1:
                out += "  " if rng.random() < 0.1 else " "
        lead = " " * rng.choice((0, 0, 1, 3, 17))
        trail = rng.choice(("", "", " ", "    ", "\t", " \t ", "\t "))
        lines.append(lead + out + trail)
        if rng.random() < 0.2:
            lines.append(rng.choice(("", " ", "   ", "\t", " \t")))
    return join(lines), None


def _mixed_endings(seed, count, endings, final):
    rng = random.Random(seed)
    out = bytearray()
    for i in range(count):
        out += random_regs(rng).encode()
        if i < count - 1 or final is None:
            out += rng.choice(endings)
    if final:
        out += final
    return bytes(out)


def d_endings_crlf():
    return _mixed_endings(105, 30, [b"\r\n"], b"\r\n"), None


def d_endings_cr():
    return _mixed_endings(106, 30, [b"\r"], b"\r"), None


def d_endings_nul():
    return _mixed_endings(107, 30, [b"\x00"], b""), None


def d_endings_mixed():
    endings = [b"\r\n", b"\n", b"\r", b"\x00", b"\r\r\n", b"\n\r", b"\r\r", b"\x00\x00",
               b"\n\n", b"\r \n", b"\r\x00"]
    return _mixed_endings(108, 60, endings, b"\r"), None


def d_high_bytes():
    def line(rng):
        fields = random_regs(rng).split(" ")
        for k in range(14):
            if rng.random() < 0.3:
                c = rng.choice((rng.randrange(128, 256), 224, 255, 247, 223, 0xE6, 0xC6, 0x80))
                if rng.random() < 0.5:
                    fields[k] = chr(c) + fields[k][1:]
                else:
                    fields[k] = fields[k][:1] + chr(c)
        return " ".join(fields)
    # leading byte-order mark: part of field 1
    return b"\xef\xbb\xbf" + join(seeded_lines(109, 50, line)), None


def d_long_lines():
    rng = random.Random(110)
    out = bytearray()
    # first line padded so that its CR LF straddles the 4096-byte refill boundary
    first = random_regs(rng).encode()
    first += b" " + b"9" * (4095 - len(first) - 1)
    assert len(first) == 4095
    out += first + b"\r\n"
    # a line of 12000 bytes whose long third field is read by its two ends
    fields = random_regs(rng).split(" ")
    fields[2] = "1" + "Z" * 6000 + "e"
    fields[5] = "\xe9" + "0" * 5000 + "4"
    out += " ".join(fields).encode("latin-1") + b"\n"
    # leading spaces longer than a buffer, then a frame
    out += b" " * 5000 + random_regs(rng).encode() + b" " * 4500 + b"\r"
    # a blank line of 12000 spaces
    out += b" " * 12000 + b"\n"
    # extra fields making the line 10500 bytes long
    line = random_regs(rng) + (" 7F" * 3500)
    out += line.encode() + b"\x00"
    # a line ending in a lone CR exactly at a buffer boundary
    line = random_regs(rng).encode()
    need = (4095 - len(out)) % 4096
    while need < len(line):
        need += 4096
    out += line + b" " * (need - len(line)) + b"\r"
    assert len(out) % 4096 == 0
    for _ in range(20):
        out += random_regs(rng).encode() + b"\n"
    # a final line of 11000 bytes without terminator
    out += (random_regs(rng) + " " + "A" * 11000).encode()
    return bytes(out), None


def d_blank_only():
    return b"   \r\n\n\r  \x00 \n\r\n      \r\r\n" * 20 + b" " * 5000 + b"\n ", None


def d_empty():
    return b"", None


def d_envelopes():
    rng = random.Random(111)
    lines = []
    for shape in range(16):
        period = rng.choice((0, 1, 2, 3, 4, 7, 13, 30, 100))
        vols = (16 + rng.randrange(16), 31, rng.randrange(32))
        lines.append(regs_line(tone=(300, 0, 5), mixer=rng.choice((0x3F, 0x3E, 0x36, 0x38)),
                               vol=vols, env=period, shape=shape))
        for _ in range(rng.randrange(1, 4)):
            lines.append(regs_line(tone=(300, 0, 5), mixer=0x3F, vol=vols, env=period, shape=0xFF))
        lines.append(regs_line(tone=(300, 0, 5), mixer=0x3F, vol=vols, env=period, shape=shape))
    # shape bytes whose low 8 bits are all ones in other spellings, and shapes
    # with bits above bit 3 set
    odd = ["0/", "VF", "/F", "\x86F", "ff", "1E", "3F", "F0", "1d", "G", "8", "", "Zz"]
    for s in odd:
        base = regs_line(tone=(1, 2, 3), mixer=0x3F, vol=(16, 17, 31), env=2)
        fields = base.split(" ")[:13]
        lines.append(" ".join(fields + [s]) if s else " ".join(fields))
    # envelope period changes without a shape write, down to 0 and up again
    for period in (65535, 4000, 3, 0, 1, 250, 0, 12):
        lines.append(regs_line(tone=(0, 0, 0), mixer=0x3F, vol=(16, 16, 16), env=period, shape=0xFF))
    lines.append(regs_line(tone=(0, 0, 0), mixer=0x00, vol=(16, 16, 16), env=5, shape=14))
    return join(lines), 3 * SECOND


def d_small_periods():
    lines = []
    for p in range(6):
        for mixer in (0x00, 0x3E, 0x37, 0x36, 0x07, 0x38, 0x3F):
            lines.append(regs_line(tone=(p, 4 - p if p <= 4 else 0, p % 3), noise=p, mixer=mixer,
                                   vol=(15, 9, 12), env=p, shape=0xFF))
    # short periods after long ones, and back, so that phases drain
    for p in (4095, 0, 4095, 1, 31, 0, 2, 4095, 3, 4):
        lines.append(regs_line(tone=(p, p, p), noise=p & 31, mixer=0x00, vol=(15, 15, 15)))
    return join(lines), 2 * SECOND


def d_integer_limits():
    # periods 1875, 3125 and 3750 give limits of exactly 378, 630 and 756
    # samples, so a tone phase lands exactly on its limit
    lines = []
    for i in range(24):
        p = (1875, 3125, 3750, 0, 1875)[i % 5]
        q = (3125, 3750, 1875)[i % 3]
        lines.append(regs_line(tone=(p, q, 3750 if i % 4 else 0), noise=i % 32,
                               mixer=(0x38, 0x3C, 0x30, 0x08)[i % 4], vol=(15, 14, 13)))
    return join(lines), None


def d_random_long():
    return join(seeded_lines(117, 400, random_regs)), None


def d_music():
    lines = []
    notes = [1000, 891, 794, 749, 667, 594, 530, 500, 445, 397]
    for i in range(150):
        a = notes[(i // 4) % len(notes)] >> (i % 3)
        b = notes[(i * 3) % len(notes)]
        c = notes[(i * 7 + 2) % len(notes)] >> 1
        shape = 0xFF if i % 16 else (8, 10, 12, 14, 0, 13)[(i // 16) % 6]
        lines.append(regs_line(tone=(a, b, c), noise=(i * 5) % 32,
                               mixer=(0x38, 0x30, 0x28, 0x18, 0x3F, 0x08)[(i // 8) % 6],
                               vol=(15 - i % 16, 16 if i % 32 < 16 else 11, 13), env=i % 7 + 1,
                               shape=shape, lower=bool(i & 1)))
    return join(lines), 3 * SECOND


def d_fuzz():
    rng = random.Random(113)
    out = bytearray()
    pool = b"0123456789ABCDEFabcdef" * 4 + b"  \t\r\n\x00GZz/\x7f\x80\xe0\xff"
    for _ in range(120):
        n = rng.randrange(0, 60)
        out += bytes(rng.choice(pool) for _ in range(n))
        out += rng.choice((b"\n", b"\r\n", b"\r", b"\x00", b""))
    return bytes(out), 2 * SECOND


def d_one_frame():
    return b"3C 01 00 02 FE 00 1F 38 0F 0E 10 00 10 0E\n", None


def d_three_frames():
    return join([regs_line(tone=(500, 0, 0), mixer=0x3E, vol=(15, 0, 0)),
                 regs_line(tone=(250, 4, 0), mixer=0x3C, vol=(14, 16, 0), env=3, shape=10),
                 regs_line(tone=(125, 0, 0), mixer=0x36, vol=(13, 0, 0))], "\r\n"), None


def d_short_lines():
    # every line misses field 14, so every tick restarts the envelope with shape 0
    return join(seeded_lines(114, 40, lambda rng: " ".join(random_regs(rng).split(" ")[:13]))), None


def d_near_valid():
    """Well-formed lines with random damage: characters dropped or doubled,
    spaces, tabs, line breaks, NULs and high bytes inserted."""
    rng = random.Random(118)
    out = bytearray()
    inserts = [b" ", b"  ", b"\t", b"\r", b"\n", b"\r\n", b"\x00", b"\xff", b"\xe0", b"\x80",
               b"g", b"Z", b"/", b"0"]
    for _ in range(200):
        line = bytearray(random_regs(rng).encode())
        for _ in range(rng.choice((0, 1, 1, 2, 3))):
            pos = rng.randrange(len(line) + 1)
            r = rng.random()
            if r < 0.3 and pos < len(line):
                del line[pos]
            elif r < 0.4 and pos < len(line):
                line[pos:pos] = line[pos:pos + 1]
            else:
                line[pos:pos] = rng.choice(inserts)
        out += line + rng.choice((b"\n", b"\n", b"\r\n", b"\r", b"\x00"))
    return bytes(out), 4 * SECOND


def _long(count, seed):
    return join(seeded_lines(seed, count, random_regs), "\r\n")


def d_phase_stall():
    """Periods of 0 for longer than 2^24 samples, so the phases grow until
    single precision can no longer add 1 to them, then real periods."""
    idle = regs_line(tone=(0, 0, 0), noise=0, mixer=0x00, vol=(15, 31, 9), env=0, shape=0xFF)
    lines = [idle] * 19050
    for i in range(60):
        lines.append(regs_line(tone=((1875, 100, 4095)[i % 3], 5 + i, 3750), noise=i % 32,
                               mixer=(0x00, 0x38, 0x07)[i % 3], vol=(15, 31, 16),
                               env=(65535, 100, 3)[i % 3], shape=10 if i % 20 == 0 else 0xFF))
    return join(lines), None


def d_full_table():
    return _long(32787, 115), 3 * SECOND


def d_over_table():
    return _long(33000, 116), 3 * SECOND


DUMPS = [(fn.__name__[2:], fn) for fn in (
    d_hex_case, d_field_widths, d_missing_extra_fields, d_spacing, d_endings_crlf, d_endings_cr, d_endings_nul,
    d_endings_mixed, d_high_bytes, d_long_lines, d_blank_only, d_empty, d_envelopes, d_small_periods,
    d_integer_limits, d_random_long, d_music, d_fuzz, d_one_frame, d_three_frames, d_short_lines, d_near_valid,
    d_full_table, d_over_table)]


# rendered in full only on request: about 380 seconds of audio
LONG_DUMPS = [("phase_stall", d_phase_stall)]


def make_dumps(directory, long=False):
    os.makedirs(directory, exist_ok=True)
    made = []
    for name, fn in DUMPS + (LONG_DUMPS if long else []):
        data, frames = fn()
        path = os.path.join(directory, name + ".txt")
        with open(path, "wb") as fh:
            fh.write(data)
        made.append(Dump(name, path, frames))
    return made


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make_dumps.py DIR\n")
        sys.exit(2)
    for d in make_dumps(sys.argv[1]):
        print(d.path)
