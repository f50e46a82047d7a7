#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes SQ-Tracker (.sqt) and Sound Tracker Pro (.stp) modules with the frames their players
give, worked out by hand from the players' rules, and damaged modules they must refuse.

For every good module NAME it writes NAME and NAME.want: "frames N", "loop L", then lines
"K n FIELDS" (frame K with --no-rescale) and "K d FIELDS" (frame K with the clock rule).
modules.txt lists the good modules; make() returns the damaged ones as (name, bytes, reason).

Usage: make_sqt_stp_modules.py DIR
"""

import os
import struct
import sys

from module_gen import dump_line, patch, place, write, write_files, write_lines

QUIET = "00 00 00 00 00 00 00 3F 00 00 00 00 00 FF"  # STP before its first line sounds


def sqt(patterns, positions, samples, ornaments=(), loop=0, base=0xC510, pad=0):
    """patterns: {number: (lines, bytes)}; positions: 7-byte entries; samples: (loop, length,
    [(b0, b1, b2)...]) with the last line repeated to 32; ornaments: (loop, length, values)."""
    npat = max(patterns)
    sam_t = 12
    orn_t = sam_t + 2 * len(samples)
    pat_t = orn_t + 2 * len(ornaments)
    at = pat_t + 2 * npat
    objects = [bytes([lp, ln]) + b"".join(bytes(x) for x in list(lines) + [lines[-1]] * (32 - len(lines)))
               for lp, ln, lines in samples]
    objects += [bytes([lp, ln]) + bytes(v & 0xFF for v in list(values) + [0] * (32 - len(values)))
                for lp, ln, values in ornaments]
    pattern_blocks = [bytes([patterns[k][0] & 0xFF]) + bytes(patterns[k][1]) for k in sorted(patterns)]
    offsets, body = place(objects + pattern_blocks, at)
    sam_at, orn_at = offsets[:len(samples)], offsets[len(samples):len(objects)]
    pat_at = dict(zip(sorted(patterns), offsets[len(objects):]))
    pos_at = at + len(body)
    body += b"".join(bytes(e) for e in positions) + bytes(1 + pad)
    n = at + len(body)
    a = lambda off: (base + off) & 0xFFFF  # noqa: E731
    head = struct.pack("<6H", n, a(10), a(orn_t - 2), a(pat_t - 2), a(pos_at), a(pos_at + 7 * loop))
    tables = b"".join(struct.pack("<H", a(x)) for x in sam_at + orn_at)
    tables += b"".join(struct.pack("<H", a(pat_at.get(k, pat_at[npat]))) for k in range(1, npat + 1))
    return head + tables + body, {"samples": sam_at, "ornaments": orn_at}


def stp(tempo, positions, patterns, samples, ornaments=((0, 1, [0]),), loop=0, editor=False, text=None):
    """positions: (pattern, height); patterns: (A, B, C) byte strings; samples: (loop, length,
    [(s0, s1, w)...]); ornaments: (loop, length, values); text: the KSA name."""
    head = 10 + (53 if text else 0)
    stream_at, streams = place([ch for p in patterns for ch in p], head)
    pos_at = head + len(streams)
    t2 = pos_at + 2 + 2 * len(positions)
    t3 = t2 + 6 * len(patterns)
    t4 = t3 + 32
    at = t4 + 30
    objects = [bytes([lp, ln]) + bytes(v & 0xFF for v in values) for lp, ln, values in ornaments]
    offsets, data = place(objects + [bytes([lp, ln]) + b"".join(struct.pack("<BBh", *x) for x in lines)
                                     for lp, ln, lines in samples], at)
    orn_at, sam_at = offsets[:len(objects)], offsets[len(objects):]
    r = 0 if editor else ((t4 - t2) // 2 + 15) & 0xFF
    out = struct.pack("<B4HB", tempo, pos_at, t2, t3, t4, r)
    if text:
        out += ("KSA SOFTWARE COMPILATION OF " + text).ljust(53).encode()
    out += streams + bytes([len(positions), loop])
    out += b"".join(bytes([6 * p, h & 0xFF]) for p, h in positions)
    out += b"".join(struct.pack("<H", s) for s in stream_at)
    out += b"".join(struct.pack("<H", orn_at[min(i, len(orn_at) - 1)]) for i in range(16))
    out += b"".join(struct.pack("<H", sam_at[min(i, len(sam_at) - 1)]) for i in range(15))
    return out + data


def line(*fields):
    return dump_line(fields)


def cases():
    """(name, bytes, frames, loop frame, {frame: --no-rescale line}) worked out by hand."""
    flat = (0, 1, [(0x0F, 0x40, 0)])   # level 15, tone on, no deviation
    filler = (64, [0xAF] * 8)          # column that stays silent
    out = []
    # SQT effects 3 (all attenuations = q), 4 (each += q), 5 (tempo = q), 6 (tempo += q):
    # tempo 2, 3 from frame 7, 4 from frame 11; lines at frames 0, 2, 4, 7.
    effects = {1: (4, [0x30, 0xC2, 0x03, 0x05, 0x64, 0x02, 0x65, 0x03, 0x66, 0x01]), 2: filler, 3: (4, [0x24, 0x82, 0xAF])}
    m, _ = sqt(effects, [[0x81, 0, 0x83, 0, 0x02, 0, 2]], [flat])
    lv10, lv8 = line(0, 0, 0xAC, 1, 0xD6, 0, 0, 0xF9, 0, 10, 10, 0, 0, 0xFF), line(0, 0, 0xAC, 1, 0xD6, 0, 0, 0xF9, 0, 8, 8, 0, 0, 0xFF)
    out.append(("all_columns_tempo.sqt", m, 11, 0, {0: lv10, 1: lv10, 2: lv8, 10: lv8}))
    # The same with the effects bit off: no attenuation, tempo stays 2.
    m, _ = sqt(effects, [[0x01, 0, 0x03, 0, 0x02, 0, 2]], [flat])
    out.append(("effects_off.sqt", m, 8, 0, {7: line(0, 0, 0xAC, 1, 0xD6, 0, 0, 0xF9, 0, 15, 15, 0, 0, 0xFF)}))
    # Transposition -1 (note 48 plays NT[47] #E2), effect 0 (R13 #FF), a lone sample command,
    # note +1 with re-apply, glide up by 0 (-256 a frame), mute with envelope effect, mute, #B0.
    minus5 = (0, 1, [(0x0E, 0x40, 0x05)])
    m, _ = sqt({1: (9, [0x30, 0x82, 0x60, 0x44, 0xC3, 0x81, 0x67, 0x00, 0xA0, 0x7A, 0x23, 0x6F, 0xB0]), 2: filler},
               [[0x81, 0x90, 0x02, 0, 0x02, 0, 1]], [flat, flat, minus5])
    c = lambda lo, hi, mix, lev, r11, sh: line(0, 0, 0, 0, lo, hi, 0, mix, 0, 0, lev, r11, 0, sh)  # noqa: E731
    out.append(("commands.sqt", m, 9, 0, {0: c(0xE2, 0, 0xFB, 15, 0, 0xFF), 1: c(0xE2, 0, 0xFB, 15, 0x44, 0x0F),
                                          2: c(0xDD, 0, 0xFB, 14, 0x44, 0xFF), 3: c(0xD1, 0, 0xFB, 14, 0x44, 0xFF),
                                          4: c(0xD1, 0, 0xFB, 14, 0x44, 0xFF), 5: c(0xD1, 0x0F, 0xFB, 14, 0x44, 0xFF),
                                          6: c(0xD1, 0x0F, 0xFF, 0, 0x23, 0x0A), 7: c(0xD1, 0x0F, 0xFF, 0, 0x23, 0xFF),
                                          8: c(0xD1, 0, 0xFB, 14, 0x23, 0xFF)}))
    # Ornament loop 32 in a frame without a sample wrap: loop #BF, length #FD (zeros there).
    m, lay = sqt({1: (40, [0x30, 0x82, 0x30, 0xC0, 0x10] + [0xAF] * 3), 2: filler},
                 [[0x81, 0, 0x02, 0, 0x02, 0, 1]], [(0, 2, [(0x0F, 0x40, 0)])], [(32, 2, [12])])
    assert lay["ornaments"][0] + 2 + 0xBF >= len(m)
    d6, o6b = c(0xD6, 0, 0xFB, 15, 0, 0xFF), c(0x6B, 0, 0xFB, 15, 0, 0xFF)
    out.append(("ornament_borrow.sqt", m, 40, 0, {0: d6, 1: o6b, 2: d6, 32: d6, 33: d6}))
    # The ornament goes to the column of the latest sample command (column 2); column 1 only
    # gets its flag and reads its own empty block (address 0: zeros). Column 2's sample has no
    # loop: silent from frame 32.
    m, _ = sqt({1: (40, [0x30, 0x82, 0x30, 0xC0, 0x10] + [0xAF] * 3), 2: (40, [0x24, 0x84, 0xA0] + [0xAF] * 3),
                3: (40, [0xAF] * 4)}, [[0x81, 0, 0x82, 0, 0x03, 0, 1]], [flat, (32, 0, [(0x0C, 0x40, 0)])], [(0, 2, [12])])
    both = line(0, 0, 0xAC, 1, 0xD6, 0, 0, 0xF9, 0, 12, 15, 0, 0, 0xFF)
    out.append(("ornament_target.sqt", m, 40, 0, {0: both, 1: both, 31: both,
                                                  32: line(0, 0, 0xAC, 1, 0xD6, 0, 0, 0xFB, 0, 0, 15, 0, 0, 0xFF)}))
    # Two positions, loop on the second (3 lines, tempo 3, transposition +3, attenuation 2).
    m, _ = sqt({1: (4, [0x30, 0x82, 0xAF]), 2: filler, 3: (3, [0x30, 0x82, 0xAF])},
               [[0x81, 0, 0x02, 0, 0x02, 0, 2], [0x83, 0x32, 0x02, 0, 0x02, 0, 3]], [flat], loop=1)
    out.append(("two_positions.sqt", m, 17, 8, {0: d6, 7: d6, 8: c(0xB4, 0, 0xFB, 13, 0, 0xFF),
                                                16: c(0xB4, 0, 0xFB, 13, 0, 0xFF)}))
    # Notes past the table read the player's state: 88 + 8 = 96 is column 1's flags (#70), 91 + 8
    # = 99 the low byte of its sample line, already moved on in this frame.
    m, lay = sqt({1: (40, [0x58, 0x82, 0x5B, 0x80] + [0xAF] * 3), 2: filler}, [[0x81, 0x80, 0x02, 0, 0x02, 0, 1]], [flat])
    out.append(("state_notes.sqt", m, 40, 0, {0: c(0x70, 0, 0xFB, 15, 0, 0xFF),
                                              1: c((0x10 + lay["samples"][0] + 8) & 0xFF, 0, 0xFB, 15, 0, 0xFF)}))

    # STP (tempo 3: line k sounds from frame 5 + 3k). Glide -2 grows before use, attenuation 2,
    # silence keeps the tone registers, skip 2 persists, noise period 5 from A.
    quiet = [0xD0, 0]
    m = stp(3, [(0, 0)], [([0x61, 0x25, 0xF0, 0xFE, 0xF3, 0x25, 0x82, 0xD0, 0x25, 0], quiet, quiet)],
            [(0, 1, [(0x0F, 0x0A, 0)])])
    s = lambda lo, hi, mix, lev: line(lo, hi, 0, 0, 0, 0, 5, mix, lev, 0, 0, 0, 0, 0xFF)  # noqa: E731
    out.append(("glide_skip.stp", m, 27, 3, {4: QUIET, 5: s(0xDF, 1, 0x36, 15), 8: s(0xDD, 1, 0x36, 13),
                                             10: s(0xD9, 1, 0x36, 13), 11: s(0xD9, 1, 0x3F, 0), 19: s(0xD9, 1, 0x3F, 0),
                                             20: s(0xDD, 1, 0x36, 13)}))
    # #C0: envelope allowed (level | 16), no shape written; the empty ornament's position goes
    # on from 1 through #C046.. (0, 0, then the lead-in line #70, #80, #F1).
    m = stp(3, [(0, 0)], [([0x61, 0x71, 0x25, 0xC0, 0x20, 0xE0, 0xE0, 0xE0, 0], quiet, quiet)],
            [(0, 1, [(0x8F, 0x01, 0)])], [(0, 1, [0]), (0, 2, [0, 0])])
    e = lambda lo, hi, lev: line(lo, hi, 0, 0, 0, 0, 0, 0x3E, lev, 0, 0, 0, 0, 0xFF)  # noqa: E731
    out.append(("envelope_ornament.stp", m, 15, 3, {5: e(0xDF, 1, 15), 7: e(0xDF, 1, 15), 8: e(0xDF, 1, 0x1F),
                                                    9: e(0xDF, 1, 0x1F), 10: e(0xB0, 4, 0x1F), 11: e(0xDF, 1, 0x1F),
                                                    12: e(0x70, 4, 0x1F), 14: e(0xDF, 1, 0x1F)}))
    # Saved by the editor, a note before any sample command (the block's leftover sample at
    # #CC98 lies past this short module: zeros, so tone and noise on at level 0), loop position
    # past the list (no loop frame).
    m = stp(3, [(0, 0)], [([0x25, 0], quiet, quiet)], [(0, 1, [(0x0F, 0, 0)])], loop=1, editor=True)
    out.append(("editor_no_sample.stp", m, 6, -1, {5: line(0xDF, 1, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 0, 0, 0xFF)}))
    # Height 5 lifts note #5C to 96, past the table: the module's bytes 0 and 1 (tempo, P low).
    # A ends before B and waits; B's noise (period 7) is written since A's is off. The second
    # position (loop) plays NT[36].
    m = stp(3, [(0, 5), (1, 0)], [([0x61, 0x5C, 0], [0x62, 0x31, 0xE0, 0], quiet), ([0x61, 0x25, 0], quiet, quiet)],
            [(0, 1, [(0x8F, 0, 0)]), (0, 1, [(0x0A, 0x0E, 0)])], loop=1)
    high = (m[0] | m[1] << 8) & 0xFFF
    first = line(high & 0xFF, high >> 8, 0xB2, 0, 0, 0, 7, 0x2C, 15, 10, 0, 0, 0, 0xFF)
    out.append(("height_wait.stp", m, 12, 9, {5: first, 10: first,
                                              11: line(0xDF, 1, 0xB2, 0, 0, 0, 7, 0x3E, 15, 0, 0, 0, 0, 0xFF)}))
    # Tempo 2: TickCount never reaches 2 again, no position starts: silence cut at 32787.
    m = stp(2, [(0, 0)], [([0x61, 0x25, 0], quiet, quiet)], [(0, 1, [(0x0F, 0, 0)])])
    out.append(("tempo2.stp", m, 32787, -1, {0: QUIET, 32786: QUIET}))
    return out


def worked_examples(doc):
    """The eight worked examples' SQT and STP modules (section 9 of the tracker document) with
    both columns of their frame tables."""
    import re
    text = open(doc).read()
    out = []
    for sec, name in (("9.5", "worked_95.sqt"), ("9.6", "worked_96.sqt"), ("9.7", "worked_97.stp"), ("9.8", "worked_98.stp")):
        part = text[text.index("### " + sec):]
        part = part[:part.index("Reading:")]
        hexdump = part[part.index("```") + 3:].split("```")[0]
        data = b"".join(bytes(int(x, 16) for x in ln.split(":")[1].split()) for ln in hexdump.strip().splitlines())
        rows = re.findall(r"^\| (\d+) \| `([0-9A-F ]+)` \| `([0-9A-F ]+)` \|", part, re.M)
        out.append((name, data, len(rows), rows))
    return out


def damaged():
    flat = (0, 1, [(0x0F, 0x40, 0)])
    filler = (64, [0xAF] * 8)
    out = []
    m, _ = sqt({1: (4, [0x30, 0xC0, 0x10, 0xAF]), 2: filler}, [[0x81, 0, 0x02, 0, 0x02, 0, 1]], [flat], [(0, 2, [12])])
    out.append(("orn_first.sqt", m, "ornament command comes before any sample command"))
    # Sample 31's word lies in sample 1's lines: #0040, outside the module.
    m, _ = sqt({1: (4, [0x30, 0xBF] + [0xAF] * 40), 2: filler}, [[0x81, 0, 0x02, 0, 0x02, 0, 1]], [flat])
    out.append(("wild_sample.sqt", m, "a sample lies outside the module"))
    # Column 2's pattern is the last one, empty: it reads the position list, then the stack at
    # #FF00 right after a module of the largest size.
    pattern = lambda k: {1: (64, [0xAF] * 4 + [0] * k), 2: (64, [])}  # noqa: E731
    k = 0x39F0 - len(sqt(pattern(0), [[0x01, 0, 0x02, 0, 0x02, 0, 1]], [flat])[0])
    m, _ = sqt(pattern(k), [[0x01, 0, 0x02, 0, 0x02, 0, 1]], [flat])
    out.append(("runs_off.sqt", m, "reads its own code or stack"))
    m, _ = sqt({1: (4, [0x30, 0x82, 0xAF]), 2: filler}, [[0x81, 0, 0x02, 0, 0x02, 0, 1]], [flat], pad=15000)
    out.append(("too_long.sqt", m, "too long"))
    # STP sample 0 at #C200 (the first word of table 4, whose offset the header holds at 7): inside the player's code.
    one_note = lambda lines: stp(3, [(0, 0)], [([0x61, 0x25, 0], [0xD0, 0], [0xD0, 0])], [(0, 1, lines)])  # noqa: E731
    m = one_note([(0x0F, 0, 0)])
    return out + [("player_sample.stp", patch(m, m[7] | m[8] << 8, struct.pack("<H", (0xC200 - 0xC768) & 0xFFFF)),
                   "reads its own code or stack"),
                  ("too_long.stp", one_note([(0x0F, 0, 0)] * 8300), "too long"),
                  ("cut.stp", m[:60], "unknown format")]


def make(dirname, doc=None):
    os.makedirs(dirname, exist_ok=True)
    shared = os.environ.get("TONEWELL_SHARED") or os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "shared")
    doc = doc or os.path.join(shared, "trackers2.md")
    names = []

    def put(name, data, frames, loop, want):
        write(os.path.join(dirname, name), data)
        write_lines(os.path.join(dirname, name + ".want"), ["frames %d" % frames, "loop %d" % loop] + want)
        names.append(name)

    for name, data, frames, loop, want in cases():
        put(name, data, frames, loop, ["%d n %s" % kv for kv in sorted(want.items())])
    worked = os.path.join(dirname, "worked.txt")
    if os.path.exists(doc):
        write_lines(worked, [doc])
        for name, data, frames, rows in worked_examples(doc):
            loop = {"worked_97.stp": 3, "worked_98.stp": 4}.get(name, 0)
            put(name, data, frames, loop, ["%s n %s" % (k, a) for k, a, _ in rows] + ["%s d %s" % (k, b) for k, _, b in rows])
    elif os.path.exists(worked):
        os.remove(worked)
    write_lines(os.path.join(dirname, "modules.txt"), names)
    bad = damaged()
    write_files(dirname, bad)
    return names, [(name, reason) for name, _, reason in bad]


def bench(dirname):
    """Ten-minute modules (over 30000 frames of one pass) for the benchmark: notes on every line,
    samples, ornaments and an envelope, tempo 3, 64-line patterns."""
    import random
    rng = random.Random(21)
    os.makedirs(dirname, exist_ok=True)
    notes = lambda: [rng.randrange(24, 72) for _ in range(64)]  # noqa: E731
    pats = {}
    for k in range(1, 5):
        pats[k] = (64, sum(([n, 0xC2 if i % 8 == 0 else 0x82] + ([0x10] if i % 8 == 0 else []) for i, n in enumerate(notes())), []))
        pats[k + 4] = (64, sum(([n, 0x84, 0xA1] for n in notes()[::2]), []))
    pats[9] = (64, [0x18, 0xC6, 0x0A, 0x10] + [0xAF] * 4)
    lines = [(0x0F - i // 4, 0x40 | (0x10 if i % 2 else 0), i % 3) for i in range(32)]
    m, _ = sqt(pats, [[0x80 + 1 + p % 4, 16 * (p % 3), 0x85 + p % 4, 0, 0x89, 0, 3] for p in range(160)],
               [(8, 24, lines), (0, 32, lines[::-1]), (0, 1, [(0, 0x60, 0)])], [(0, 12, list(range(0, 12)))])
    write(os.path.join(dirname, "ten_minutes.sqt"), m)
    chans = [(bytes([0x61, 0x71] + [n - 23 for n in notes()]) + b"\0",
              bytes([0x62, 0x81] + [n - 23 for n in notes()[::2]]) + b"\0",
              bytes([0x63, 0xCA, 0x20, 0x83] + [n - 23 for n in notes()[::4]]) + b"\0") for _ in range(4)]
    sample_lines = [(0x0F - i // 4 | (0x80 if i % 3 else 0), 2 * i, i % 3) for i in range(32)]
    m = stp(3, [(p % 4, p % 5) for p in range(160)], chans, [(4, 32, sample_lines)] * 3 + [(0, 1, [(0x10, 1, 0)])],
            [(0, 1, [0]), (0, 12, list(range(12)))])
    write(os.path.join(dirname, "ten_minutes.stp"), m)


if __name__ == "__main__":
    if sys.argv[1] == "--bench":
        bench(sys.argv[2])
    else:
        make(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)
