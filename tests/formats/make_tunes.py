#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes PSG, YM, VTX and tracker module (make_*_modules.py) test files, their expected source frames, and malformed files.

Usage: make_tunes.py DIR

For every good file NAME it writes NAME.expect: the header facts a reader must find
("key value" lines) and then one line per source frame, the fourteen registers R0..R13 as
the chip is to get them (two hex digits each) and 1 or 0 for "R13 written". bad.txt lists
the malformed files, one "NAME<TAB>text the error message must contain" per line.
LHA archives are made with jlha (jlha-utils); VTX bodies are the bare -lh5- stream cut out
of such an archive. Everything comes from fixed seeds, so the set is the same every run.
"""

import os
import random
import struct
import subprocess
import sys
import tempfile

import make_pt_modules
import make_sqt_stp_modules
import make_stc_asc_modules
from module_gen import patch, write, write_expect, write_lines


LIMITS = (256, 16, 256, 16, 256, 16, 32, 64, 32, 32, 32, 256, 256, 16)  # R0..R13: 1 + the highest value


def random_frames(rng, n, shape_every=7):
    """n logical frames: 14 register values with the chip's free bits clear, and the shape flag."""
    return [([rng.randrange(top) for top in LIMITS], rng.randrange(shape_every) == 0) for _ in range(n)]


# --- encoders ---------------------------------------------------------------------------

def psg_bytes(frames, short_header=False, version=0, rate=0, runs=(), end_mark=False, ports=False,
              pre=(), tail_byte=False, devices=False):
    """A PSG log writing only changed registers (R13 whenever the frame writes a shape).
    runs: frame indexes where an 'FE n' replaces n*4 identical empty frames (those must be
    empty: same registers, no shape). pre: (reg, value) writes before the first FF."""
    out = bytearray(b"PSG\x1a")
    if not short_header:
        out += bytes([version, rate]) + bytes(10)
    state = [0] * 14
    for reg, value in pre:
        out += bytes([reg, value])
        state[reg] = value
    i = 0
    while i < len(frames):
        if i in runs:
            n = runs[i]
            out += bytes([0xFE, n])
            i += 4 * n
            continue
        out.append(0xFF)
        regs, shape = frames[i]
        for reg in range(13):
            if regs[reg] != state[reg]:
                out += bytes([reg, regs[reg]])
                state[reg] = regs[reg]
        if shape:
            out += bytes([13, regs[13]])
            state[13] = regs[13]
        if ports and i % 5 == 0:
            out += bytes([14, 0x55, 15, 0xAA])
        if devices and i % 7 == 0:
            out += bytes([16, 0xFF, 252, 0xFD])
        i += 1
    if end_mark:
        out += bytes([0xFD, 0xFF, 0x00, 0x77])  # nothing after FD counts
    if tail_byte:
        out.append(0x03)
    return bytes(out)


def planes(rows, count):
    return bytes(rows[f][r] for r in range(count) for f in range(len(rows)))


def records(rows, count):
    return bytes(rows[f][r] for f in range(len(rows)) for r in range(count))


def ym_rows(frames):
    """14 raw YM bytes per frame: R13 0xFF where no shape is written."""
    return [list(regs[:13]) + [regs[13] if shape else 0xFF] for regs, shape in frames]


def ym_old(magic, frames, loop=None):
    return magic + planes(ym_rows(frames), 14) + (b"" if loop is None else struct.pack("<I", loop))


def ym_new(magic, rows16, clock=2000000, rate=50, loop=0, interleaved=True, drums=(), extra=b"",
           strings=(b"", b"", b""), end=True, frame_count=None):
    attributes = 1 if interleaved else 0
    n = len(rows16) if frame_count is None else frame_count
    if magic == b"YM4!":
        head = magic + b"LeOnArD!" + struct.pack(">IIII", n, attributes, len(drums), loop)
    else:
        head = magic + b"LeOnArD!" + struct.pack(">IIHIHIH", n, attributes, len(drums), clock, rate, loop,
                                                 len(extra)) + extra
    for d in drums:
        head += struct.pack(">I", len(d)) + d
    for s in strings:
        head += s + b"\0"
    body = planes(rows16, 16) if interleaved else records(rows16, 16)
    return head + body + (b"End!" if end else b"")


def ym_effect_rows(frames, rng, kind):
    """16 raw bytes per frame with effect codes in r1/r3's high nibbles, and the frames a
    reader must give (digidrum voice volume 0). kind 5 or 6. Returns rows16, expected,
    digidrums used, effects used."""
    rows, expected = [], []
    used_drums = used_effects = False
    for i, (regs, shape) in enumerate(frames):
        raw = list(regs[:13]) + [regs[13] if shape else 0xFF, rng.randrange(256), rng.randrange(256)]
        exp = list(regs)
        if i % 9 == 3:  # digidrum start on a voice
            voice = 1 + i % 3
            code = voice | (0x4 if kind == 6 else 0)
            slot = 3 if kind == 5 else (1 if i % 2 else 3)
            raw[slot] |= code << 4
            raw[7 + voice] = rng.randrange(32)  # the sample number
            exp[7 + voice] = 0
            used_drums = True
        elif i % 11 == 5:  # SID / sinus-SID / sync-buzzer on r1
            voice = 1 + i % 3
            code = voice | ((rng.choice((0, 2, 3)) << 2) if kind == 6 else 0)
            raw[1] |= code << 4
            used_effects = True
        rows.append(raw)
        expected.append((exp, shape))
    return rows, expected, used_drums, used_effects


def jlha_pack(data, name="song.ym"):
    """A level-0 -lh5- archive of one member, made by jlha."""
    with tempfile.TemporaryDirectory(prefix="tonewell-lha-") as work:
        write(os.path.join(work, name), data)
        subprocess.run(["jlha", "c0o5q", "a.lzh", name], cwd=work, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(os.path.join(work, "a.lzh"), "rb") as f:
            return f.read()


def lh5_stream(data):
    """The bare -lh5- stream of data: an archive's member data without header and end byte."""
    archive = jlha_pack(data, "song.bin")
    header = archive[0] + 2
    packed = struct.unpack_from("<I", archive, 7)[0]
    assert archive[2:7] == b"-lh5-", "jlha stored the data instead of packing it"
    return archive[header:header + packed]


def vtx(chip, frames, clock=1773400, rate=50, loop=0, old=False, strings=None):
    data = planes(ym_rows(frames), 14)
    stream = lh5_stream(data)
    if old:
        head = chip + bytes([1]) + struct.pack("<HIBI", loop, clock, rate, len(data))
        strings = strings or (b"Old Title", b"Old Author")
    else:
        head = chip + bytes([2]) + struct.pack("<HIBHI", loop, clock, rate, 2024, len(data))
        strings = strings or (b"Title", b"Author", b"Program", b"Tracker", b"Comment")
    return head + b"".join(s + b"\0" for s in strings) + stream


# --- the files --------------------------------------------------------------------------

def make(dirname):
    os.makedirs(dirname, exist_ok=True)
    good, bad = [], []

    def put(name, data, facts, frames):
        write(os.path.join(dirname, name), data)
        write_expect(os.path.join(dirname, name + ".expect"), facts, frames)
        good.append(name)

    def put_bad(name, data, text):
        if data is not None:
            write(os.path.join(dirname, name), data)
        bad.append((name, text))

    rng = random.Random(10)

    # PSG: changed registers only, FE runs over empty frames, FD, ports and other devices.
    fr = random_frames(rng, 120)
    for i in range(40, 56):  # 16 empty frames: FE 04 at 40
        fr[i] = (list(fr[39][0]), False)
    put("runs.psg", psg_bytes(fr, runs={40: 4}, ports=True, devices=True, end_mark=True),
        [("format", "PSG"), ("clock", 1773400), ("rate", 50), ("frames", 120)], fr)
    fr2 = random_frames(rng, 30)
    put("short.psg", psg_bytes(fr2, short_header=True, tail_byte=True),
        [("format", "PSG"), ("frames", 30)], fr2)
    # Writes before the first FF: the start state, and a shape write that lands in frame 0.
    fr3 = random_frames(rng, 20)
    pre = [(0, 0x34), (1, 0x02), (13, 0x0C)]
    fr3[0] = ([0x34, 0x02] + fr3[0][0][2:13] + [0x0C], True)
    put("prewrite.psg", psg_bytes([(fr3[0][0], False)] + fr3[1:], pre=pre), [("format", "PSG"), ("frames", 20)], fr3)
    fr4 = random_frames(rng, 60)
    put("rate60.psg", psg_bytes(fr4, version=10, rate=60), [("rate", 60), ("frames", 60)], fr4)
    fr5 = random_frames(rng, 40)
    put("rate_ignored.psg", psg_bytes(fr5, version=9, rate=60), [("rate", 50), ("frames", 40)], fr5)
    # A long PSG: FE runs past 32787 frames (FE FF = 1020 empty frames).
    fr6 = random_frames(rng, 8)
    put("long.psg", psg_bytes(fr6) + bytes([0xFE, 0xFF]) * 40, [("frames", 8 + 40 * 1020)],
        fr6 + [(list(fr6[-1][0]), False)] * min(40 * 1020, 32787 - 8))

    # YM2!/YM3!/YM3b: 14 interleaved planes, Atari clock, 50 Hz.
    fr = random_frames(rng, 64)
    put("plain.ym3", ym_old(b"YM3!", fr), [("format", "YM3!"), ("clock", 2000000), ("frames", 64)], fr)
    put("loop.ym3b", ym_old(b"YM3b", fr[:50], loop=17), [("format", "YM3b"), ("loop", 17), ("frames", 50)], fr[:50])
    put("packed3.ym", jlha_pack(ym_old(b"YM3!", fr)), [("format", "YM3! in LHA -lh5-"), ("frames", 64)], fr)
    # YM2! (Mad Max): shape write -> R11 kept from r11, R12 0, shape 10; else previous R11/R12.
    fr = random_frames(rng, 40, shape_every=3)
    rows = ym_rows(fr)
    exp, low, high = [], 0, 0
    for i, (regs, shape) in enumerate(fr):
        r = list(regs)
        if i % 6 == 2:
            rows[i][10] |= 0x80
            r[10] = 0
        if shape:
            low, high = regs[11], 0
            r[13] = 10
        r[11], r[12] = low, high
        exp.append((r, shape))
    data = b"YM2!" + planes(rows, 14)
    put("madmax.ym2", data, [("format", "YM2!"), ("digidrums", 1), ("frames", 40)], exp)

    # YM5!/YM6!: strings, digidrums, additional data, interleaved or not, End! or not.
    for kind in (5, 6):
        fr = random_frames(rng, 90)
        rows, exp, drums, effects = ym_effect_rows(fr, rng, kind)
        magic = b"YM%d!" % kind
        strings = (b"Song %d" % kind, b"Composer", b"A comment, with words")
        base = dict(clock=2000000, rate=50, loop=12, drums=(bytes(range(40)), b"\x80" * 7), strings=strings)
        facts = [("format", "YM%d!" % kind), ("clock", 2000000), ("rate", 50), ("loop", 12),
                 ("title", strings[0].decode()), ("author", "Composer"), ("comment", strings[2].decode()),
                 ("digidrums", 1), ("effects", 1 if effects else 0), ("frames", 90)]
        put("inter.ym%d" % kind, ym_new(magic, rows, **base), facts, exp)
        put("records.ym%d" % kind, ym_new(magic, rows, interleaved=False, extra=b"xyz\0" * 3, end=False, **base),
            facts, exp)
        packed_facts = [(k, (v + " in LHA -lh5-") if k == "format" else v) for k, v in facts]
        put("packed.ym%d" % kind, jlha_pack(ym_new(magic, rows, **base)), packed_facts, exp)
    # Frame rates and clocks: 25 Hz and 60 Hz YM6, an Amstrad clock, and a long YM5.
    for rate, n in ((25, 70), (60, 150)):
        fr = random_frames(rng, n, shape_every=3)
        rows, exp, _, _ = ym_effect_rows(fr, rng, 6)
        put("rate%d.ym6" % rate, jlha_pack(ym_new(b"YM6!", rows, rate=rate)), [("rate", rate), ("frames", n)], exp)
    fr = random_frames(rng, 80)
    rows, exp, _, _ = ym_effect_rows(fr, rng, 5)
    put("cpc.ym5", ym_new(b"YM5!", rows, clock=1000000), [("clock", 1000000), ("frames", 80)], exp)
    fr = random_frames(rng, 33000, shape_every=40)
    rows, exp, _, _ = ym_effect_rows(fr, rng, 5)
    put("long.ym5", jlha_pack(ym_new(b"YM5!", rows)), [("frames", 33000)], exp[:32787])
    # YM4! (documented layout).
    fr = random_frames(rng, 30)
    rows, exp, _, _ = ym_effect_rows(fr, rng, 5)
    put("plain.ym4", ym_new(b"YM4!", rows, loop=3, strings=(b"Four", b"Me", b"")),
        [("format", "YM4!"), ("clock", 2000000), ("loop", 3), ("title", "Four"), ("frames", 30)], exp)

    # VTX: both chips, new and old headers.
    fr = random_frames(rng, 100)
    put("new.vtx", vtx(b"ay", fr, loop=5), [("format", "VTX ay"), ("clock", 1773400), ("loop", 5),
                                             ("title", "Title"), ("author", "Author"), ("comment", "Comment"),
                                             ("frames", 100)], fr)
    put("ym.vtx", vtx(b"ym", fr, clock=2000000, rate=25), [("format", "VTX ym"), ("clock", 2000000),
                                                           ("rate", 25), ("frames", 100)], fr)
    put("old.vtx", vtx(b"AY", fr[:60], old=True), [("format", "VTX AY"), ("title", "Old Title"),
                                                   ("author", "Old Author"), ("frames", 60)], fr[:60])
    put("oldym.vtx", vtx(b"YM", fr[:70], old=True, clock=1750000, rate=60),
        [("format", "VTX YM"), ("clock", 1750000), ("rate", 60), ("frames", 70)], fr[:70])

    # --- malformed files ------------------------------------------------------------------
    ym6 = open(os.path.join(dirname, "inter.ym6"), "rb").read()
    put_bad("empty.bin", b"", "empty file")
    put_bad("unknown.bin", b"RIFF\x24\x00\x00\x00WAVEfmt ", "unknown format")
    put_bad("text.bin", b"00 00 00 00\r\n", "unknown format")
    put_bad("truncated.psg", b"PSG\x1a\x00\x00\x00", "truncated PSG header")
    put_bad("noframe.psg", b"PSG\x1a" + bytes(12) + b"\x00\x10\x07\x38", "no frame")
    put_bad("truncated_head.ym6", ym6[:20], "truncated YM6! header")
    put_bad("badleonard.ym6", ym6[:4] + b"LeOnArX!" + ym6[12:], "LeOnArD!")
    put_bad("truncated.ym6", ym6[:len(ym6) // 2], "larger than the data")
    put_bad("hugecount.ym6", patch(ym6, 12, struct.pack(">I", 0xFFFFFFF0)),
            "frame count 4294967280 is larger than the data")
    put_bad("drumpastend.ym6", patch(ym6, 34, struct.pack(">I", 0x7FFFFFFF)), "header points past the end")
    put_bad("extrapastend.ym6", patch(ym6, 32, b"\xff\xff")[:4000], "header points past the end")
    put_bad("strings.ym6", ym6[:34 + 4 + 40 + 4 + 7] + b"Song without end", "run past the end")
    put_bad("rate0.ym6", patch(ym6, 26, b"\0\0"), "frame rate 0")
    put_bad("ym3_empty.ym3", b"YM3!" + bytes(10), "no frame")
    for magic in (b"MIX1", b"YMT1", b"YMT2"):
        put_bad("sample_%s.ym" % magic.decode().lower(), magic + b"LeOnArD!" + bytes(40), "sample-based")
    put_bad("unknown_ym.ym", b"YM7!LeOnArD!" + bytes(40), "unknown format")
    packed = jlha_pack(ym6)
    at = packed[0] + 2 + 20  # 40 bytes from the member data's 20th on
    put_bad("damaged.lha", patch(packed, at, bytes(b ^ 0x5A for b in packed[at:at + 40])), "damaged -lh5-")
    put_bad("cut.lha", packed[:len(packed) // 2], "header points past the end")
    fr = random_frames(rng, 50)
    v = vtx(b"ay", fr)
    put_bad("cut.vtx", v[:len(v) - len(v) // 3], "damaged -lh5- stream")
    put_bad("head.vtx", v[:12], "truncated VTX header")
    put_bad("bigsize.vtx", patch(v, 12, struct.pack("<I", 14 * 3000000)), "damaged -lh5- stream")
    put_bad("oddsize.vtx", patch(v, 12, struct.pack("<I", 701)), "multiple of 14")
    put_bad("nostrings.vtx", v[:16] + b"Title without end", "strings run past the end")
    # Not files: a directory, a FIFO, a path that does not exist, a dangling symbolic link
    # (tests run as root, so a permission bit would not stop the read; these are the
    # unreadable inputs).
    os.makedirs(os.path.join(dirname, "folder.ym"), exist_ok=True)
    put_bad("folder.ym", None, "is a directory")
    fifo = os.path.join(dirname, "pipe.ym")
    if not os.path.exists(fifo):
        os.mkfifo(fifo)
    put_bad("pipe.ym", None, "not a regular file")
    put_bad("missing.ym", None, "No such file")
    dangling = os.path.join(dirname, "dangling.ym")
    if not os.path.lexists(dangling):
        os.symlink("no-such-target.ym", dangling)
    put_bad("dangling.ym", None, "No such file")

    make_pt_modules.make(dirname)  # Pro Tracker modules, listed apart (modules_good.txt, modules_bad.txt)
    make_stc_asc_modules.add(put, put_bad)
    # Damaged SQ-Tracker and Sound Tracker Pro modules (the good ones have a list of their own).
    bad += make_sqt_stp_modules.make(dirname)[1]
    write_lines(os.path.join(dirname, "good.txt"), good)
    write_lines(os.path.join(dirname, "bad.txt"), ["%s\t%s" % nb for nb in bad])
    return good, bad


if __name__ == "__main__":
    make(sys.argv[1])
