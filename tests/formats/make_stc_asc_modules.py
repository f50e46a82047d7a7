# SPDX-License-Identifier: GPL-2.0-or-later
"""Sound Tracker (STC) and ASC Sound Master (ASC) modules for the format tests, with the frames
their players give, worked out by hand from the formats' description (frame lines as in the
dump: R0..R12 and the shape written, FF for none; periods as the player writes them).

make_tunes.py calls add(); the modules go beside the other test files, into good.txt and
bad.txt, so the reader tests, the conversion checks and the Wine comparison take them too.
"""

import struct

from module_gen import expect_frames, hexbytes, patch, place, turbo_sound


def stc(tempo, samples, ornaments, positions, patterns, ornaments_first=False):
    """samples: (number, 32 lines of (b0, b1, b2), repeat, length); ornaments: (number, 32
    offsets); positions: (pattern, transposition); patterns: (number, (A, B, C streams))."""
    body = b"".join(bytes([n]) + b"".join(bytes(line) for line in lines) + bytes([rep, length])
                    for n, lines, rep, length in samples)
    orn = b"".join(bytes([n]) + bytes(v & 0xFF for v in values) for n, values in ornaments)
    pos = bytes([len(positions) - 1]) + b"".join(bytes([p, t & 0xFF]) for p, t in positions)
    first = 27 + len(body)
    o, p = (first, first + len(orn)) if ornaments_first else (first + len(pos), first)
    t = first + len(orn) + len(pos)
    streams = t + 7 * len(patterns) + 1
    offsets, data = place([s for _, channels in patterns for s in channels], streams)
    table = b"".join(bytes([number]) + struct.pack("<3H", *offsets[3 * i:3 * i + 3])
                     for i, (number, _) in enumerate(patterns))
    head = struct.pack("<BHHH", tempo, p, o, t) + b"SONG BY ST COMPILE" + struct.pack("<H", 0)
    return head + body + (orn + pos if ornaments_first else pos + orn) + table + b"\xff" + data


def asc(tempo, loop, positions, patterns, samples, ornaments, text=b""):
    """patterns: (A, B, C streams) for numbers 0, 1, ...; samples, ornaments: their bytes."""
    pt = 9 + len(positions) + len(text)
    offsets, streams = place([s for channels in patterns for s in channels], 6 * len(patterns))
    table = struct.pack("<%dH" % len(offsets), *offsets)
    st = pt + len(table) + len(streams)

    def objects(items):
        offsets, data = place(items, 64)
        return struct.pack("<32H", *offsets + [64] * (32 - len(offsets))) + data

    sam = objects(samples)
    head = struct.pack("<BBHHHB", tempo, loop, pt, st, st + len(sam), len(positions))
    return head + bytes(positions) + text + table + streams + sam + objects(ornaments)


# The worked examples of the formats' description, byte for byte, with their frames.
EXAMPLE_STC_1 = hexbytes("""
037E008100C300534F4E4720425920535420434F4D50494C45D500010F80000D80000BA00119800200C00000C00000C0
0000C00000C00000C00000C00000C00000C00000C00000C00000C00000C00000C00000C00000C00000C00000C00000C0
0000C00000C00000C00000C00000C00000C00000C00000C00000C0000301000100000000000000000000000000000000
00000000000000000000000000000000000001000C000C000C000C000C000C000C000C000C000C000C000C000C000C00
0C000C01CB00D100D300FFA261713081FFA581A581""")
EXAMPLE_STC_1_FRAMES = [
    "EF 00 00 00 00 00 00 08 0F 00 00 00 00 FF", "77 00 00 00 00 00 00 08 0D 00 00 00 00 FF",
    "F0 00 00 00 00 00 00 08 0B 00 00 00 00 FF", "75 0F 00 00 00 00 00 08 09 00 00 00 00 FF",
] + ["%s 00 00 00 00 00 00 09 00 00 00 00 00 FF" % ("77" if k % 2 else "EF") for k in range(8)]

EXAMPLE_STC_2 = hexbytes("""
02E100E6000701534F4E4720425920535420434F4D50494C451D01020080000080000080000080000080000080000080
000080000080000080000080000080000080000080000080000080000080000080000080000080000080000080000080
00008000008000008000008000008000008000008000008000008000011F030C45000C45000C45000C45000C45000C45
000C45000C45000C45000C45000C45000C45000C45000C45000C45000C45000C45000C45000C45000C45000C45000C45
000C45000C45000C45000C45000C45000C45000C45000C45000C45000C45000000010100010200000000000000000000
0000000000000000000000000000000000000000000000010F0113011901FFA18181FFA1628A202481A1631880""")
EXAMPLE_STC_2_FRAMES = [
    "00 00 %s 03 05 14 00 10 0C 20 00 0A", "00 00 %s 03 05 14 00 10 0C 20 00 FF",
    "00 00 %s 03 05 10 00 10 00 20 00 FF", "00 00 %s 03 05 10 00 10 00 20 00 FF"]
EXAMPLE_STC_2_FRAMES = ([f % "DF 01 BE" for f in EXAMPLE_STC_2_FRAMES] +
                        [f % "AC 01 58" for f in EXAMPLE_STC_2_FRAMES])

EXAMPLE_ASC_3 = hexbytes("""
03000A001D006900010006000D00100061A0C1EF305EFF6356FF6356FF40004000400040004000400040004000400040
0040004000400040004000400040004000400040004000400040004000400040004000400040004000400040000000F8
8001C840FFA8200068400042004000400040004000400040004000400040004000400040004000400040004000400040
00400040004000400040004000400040004000400040004000C0008000400C""")
EXAMPLE_ASC_3_FRAMES = ["%s 00 00 00 00 00 00 08 %s 00 00 00 00 FF" % f for f in (
    ("EE", "0F"), ("78", "0C"), ("77", "0A"), ("3D", "0C"), ("3C", "0A"), ("1F", "0C"), ("1E", "0A"),
    ("1C", "06"), ("1C", "00"))]

EXAMPLE_ASC_4 = hexbytes("""
04000B0029007200020000060012001B0061E0F8A0C01840F7042440FF61A1C0EC3CF50256FF6356FF40004600400040
004000400040004000400040004000400040004000400040004000400040004000400040004000400040004000400040
0040004000400040008000FA4200FAC000F8400040004000400040004000400040004000400040004000400040004000
40004000400040004000400040004000400040004000400040004000400040004000C000""")
EXAMPLE_ASC_4_FRAMES = ["%s 03 77 00 00 00 00 18 1F 0C 00 %s 00 %s" % f for f in (
    ("B7", "40", "08"), ("B7", "42", "FF"), ("B7", "42", "FF"), ("B7", "44", "FF"), ("B7", "44", "FF"),
    ("B7", "46", "FF"), ("B7", "46", "FF"), ("B7", "48", "FF"), ("B4", "40", "FF"))] + [
    "3E 03 75 00 00 00 00 18 1F 0C 00 42 00 FF", "C8 02 73 00 00 00 00 18 1F 0C 00 42 00 FF",
    "52 02 71 00 00 00 00 18 1F 0C 00 44 00 FF", "DC 01 6F 00 00 00 00 18 1F 0C 00 44 00 FF",
    "DC 01 6D 00 00 00 00 18 1F 0C 00 46 00 FF", "DC 01 6B 00 00 00 00 18 1F 0C 00 46 00 FF",
    "DC 01 69 00 00 00 00 18 1F 0C 00 48 00 FF"]
EXAMPLE_ASC_4_FRAMES += EXAMPLE_ASC_4_FRAMES[:12]  # the second position plays the first again


def row(a, b, c, noise=0, mixer=0, amps=(0, 0, 0), env=0, shape=None):
    """A dump line from the three tone periods, noise, mixer, amplitudes, R11 and the shape."""
    return "%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X 00 %s" % (
        a & 0xFF, a >> 8 & 15, b & 0xFF, b >> 8 & 15, c & 0xFF, c >> 8 & 15, noise, mixer, *amps, env,
        "FF" if shape is None else "%02X" % shape)


def flat(b0, b1, b2=0):
    return [(b0, b1, b2)] * 32


ZEROS = [0] * 32


def stc_loop():
    """Sample repeat and length, a repeat of 0 silencing its channel in frame 32 (31 counted
    from 0), samples found by number out of order, skips of 63 and skip bytes #8F..#A0 that
    act as 0. A plays lines 0..30, then 4, 5, 6, 4, ... (repeat 5, length 2)."""
    sample5 = [(0x0F, 0xA0, k) for k in range(32)]  # line k adds k to the period, noise off
    module = stc(1, [(2, flat(0x08, 0x43), 0, 0), (5, sample5, 5, 2)], [(0, ZEROS)], [(1, 0)],
                 [(1, (b"\xe0\x65\x3c\xff", b"\xe0\x62\x18", b"\x9f" + b"\x81" * 40 + b"\x62\x30" + b"\x81" * 30))])
    frames = []
    for k in range(64):
        line = k if k <= 30 else 4 + (k - 31) % 3
        frames.append(row(0x77 + line, 0x3BE, 0xEF if k >= 40 else 0, 3, 8 | (2 if k <= 30 else 0) | (4 if k >= 40 else 0),
                          (0x0F, 8 if k <= 30 else 0, 8 if k >= 40 else 0)))
    return module, frames


def stc_envelope():
    """Envelope shapes: written once when their channel's running envelope clears them, again
    in every frame while that channel rests, lost when they meet another running envelope
    (R11 then keeps the older period); #82 ends a channel's envelope."""
    s1 = flat(0x0A, 0xC0)  # level 10, tone and noise off
    a = b"\xa1\x81" + b"\x81" * 5 + b"\xff"
    b = b"\xa1\x61\x8c\x40\x30" + b"\x8a\x10\x80" + b"\x81\x81" + b"\x8c\x50\x30" + b"\x81"
    c = b"\xa1\x81" + b"\x81" + b"\x61\x82\x3c" + b"\x8e\x33\x3c" + b"\x82\x3c" + b"\x88\x60\x3c"
    module = stc(2, [(1, s1, 1, 31)], [(0, ZEROS)], [(1, 0)], [(1, (a, b, c))])
    frames = [row(0, 0xEF, 0, 0, 0x12, (0, 0x1A, 0), 0x40, 0x0C), row(0, 0xEF, 0, 0, 0x12, (0, 0x1A, 0), 0x40),
              row(0, 0xEF, 0, 0, 0, (0, 0, 0), 0x10, 0x0A), row(0, 0xEF, 0, 0, 0, (0, 0, 0), 0x10, 0x0A),
              row(0, 0xEF, 0x77, 0, 0x24, (0, 0, 0x0A), 0x10, 0x0A), row(0, 0xEF, 0x77, 0, 0x24, (0, 0, 0x0A), 0x10, 0x0A),
              row(0, 0xEF, 0x77, 0, 0x24, (0, 0, 0x1A), 0x33, 0x0E), row(0, 0xEF, 0x77, 0, 0x24, (0, 0, 0x1A), 0x33),
              row(0, 0xEF, 0x77, 0, 0x36, (0, 0x1A, 0x0A), 0x50, 0x0C), row(0, 0xEF, 0x77, 0, 0x36, (0, 0x1A, 0x0A), 0x50),
              row(0, 0xEF, 0x77, 0, 0x36, (0, 0x1A, 0x1A), 0x50), row(0, 0xEF, 0x77, 0, 0x36, (0, 0x1A, 0x1A), 0x50)]
    return module, frames


# Periods of notes 93..127 that the STC player reads past its table (its own code, then the
# module's first bytes), as the module below gives them, and as they read with the module at #4000.
def stc_notes(low=False):
    """Notes past the table (note + ornament + transposition up to 127, and 128 and above
    folding back), a transposition of -2 in the second of two positions, ornaments stored
    before the positions, and a silent channel A whose mixer bits come from a stale sample
    line: 3 x #FD bytes after its sample (in frames without commands) or 3 x #63 (after C's
    sample command)."""
    s1 = flat(0x0F, 0xA0)
    s1[14] = (0x40, 0xA0, 0)  # read by A while silent after a sample command: tone off
    orn1 = [0, 1, 5, 14, 15, 16, 32, 128] + [0] * 24
    orn1[17] = 0xC0  # module offset 276, read by A while silent: tone and noise off
    a = b"\x61\xa1\x3c\x80" + b"\x81" * 6 + b"\xff"
    module = stc(1, [(1, s1, 1, 31), (2, flat(0x0C, 0xA0), 1, 31)], [(0, ZEROS), (1, orn1)],
                 [(1, 0), (1, -2)], [(1, (a, b"\xa8\x71\x62\x5f", b"\xa2\x81\x81\x62\x80\x81"))], ornaments_first=True)
    if low:  # past 15044 bytes the module is loaded at #4000: notes 110..127 read zeros
        module += bytes(15100 - len(module))
    high = {95: 0x0F, 96: 0xAE21, 100: 0xD605, 109: 0xC42F, 93: 0x11, 94: 0x10, 98: 0x3EB6, 107: 0xABED,
            108: 0xF23D, 110: 0xC9 if low else 0x1C9, 111: 0 if low else 0x123, 125: 0 if low else 0xA0,
            127: 0 if low else 0xF00}
    frames = []
    for k in range(16):
        note = (95 + orn1[k % 8] - (2 if k >= 8 else 0)) & 0x7F
        mixer = 0x10 | (8 if k % 8 == 0 else 1 if k % 8 == 4 else 9)
        frames.append(row(0x85 if k >= 8 else 0x77, high[note], 0, 0, mixer, (0x0F if k % 8 == 0 else 0, 0x0C, 0)))
    return module, frames


def asc_commands():
    """Noise base and accumulation, volume slides, the volume table, #F1 (no sample restart)
    with an endless slide #F6, #FB without a parameter, #5F, #F2 (no ornament restart) with
    accumulating ornament offsets and notes at #80 and above (note 0), #F9 (portamento from
    the plain note over 2 ticks), shapes #FA then #FC (the last wins) and #FE, #F3, #F4 (a
    3-frame tempo cut to 2 from the line on), and in the loop position a channel whose data
    ended: decoded again at its #FF, which ends its slide."""
    samples = [b"\x80\x00\xb6" b"\x41\x02\xb4",  # loop start, volume slide +1; loop end, noise +1, tone +2, -1
               b"\xc0\x00\xf8", b"\xc0\x00\x78"]  # single ticks: level 15 / 7, noise off
    ornaments = [b"\xc0\x00", b"\x80\x00\x40\xf4", b"\x80\x00\x40\x01"]
    p0 = (b"\xf0\x05\xa0\xc0\xec\x30" b"\xf1\xf6\x03\x3c" b"\xfb\x24" b"\xfd\x5f\xff",
          b"\xef\xa1\xc1\x12" b"\xf2\xfa\xfc\x0c" b"\xf9\x02\x18" b"\x56\xff",
          b"\xe8\xa2\xc2\x48" b"\xf3\x4c" b"\xfe\x56" b"\xf4\x02\x56\xff")
    p1 = (b"\xf6\x10\x30\xff", b"\xe1\xa1\xc0\x24\x56\xff", b"\xea\xa2\xc0\x30\x5f\xff")
    text = b"ASM COMPILATION OF " + b"Every Command".ljust(20) + b" BY " + b"Tonewell".ljust(20)
    module = asc(3, 1, [0, 1], [p0, p1], samples, ornaments, text)
    m = 0x30
    frames = [row(0xEE, 0x541, 0x3C, 5, m, (9, 15, 3)), row(0xF0, 0xA82, 0x38, 6, m, (8, 15, 3)),
              row(0xF0, 0xA82, 0x38, 6, m, (9, 15, 3)), row(0x7B, 0xEDC, 0x2D, 6, m, (8, 15, 3), shape=0x0C),
              row(0x7E, 0xEDC, 0x2D, 6, m, (9, 15, 3)), row(0x83, 0xEDC, 0x2A, 7, m, (8, 15, 3)),
              row(0x1DC, 0x76D, 0x2A, 5, m, (9, 15, 3), shape=0x0E), row(0x1DE, 0x949, 0x28, 6, m, (8, 15, 3)),
              row(0x1DE, 0x76E, 0x28, 6, m, (9, 15, 3)), row(0x1DE, 0xEDC, 0x26, 6, m, (0, 15, 3)),
              row(0x1DE, 0xEDC, 0x26, 6, m, (0, 15, 3)), row(0xEE, 0x1DC, 0xEE, 0, m, (9, 1, 4)),
              row(0x100, 0x1DC, 0xEE, 1, m, (8, 1, 4)), row(0x110, 0x1DC, 0xEE, 1, m, (9, 1, 0)),
              row(0x112, 0x1DC, 0xEE, 2, m, (8, 1, 0))]
    return module, frames


def player_prefix(module):
    """A Sound Tracker file that starts with its compiled player (#43C bytes)."""
    prefix = bytearray(0x43C)
    prefix[0:12] = bytes([0x21, 0x3C, 0x04, 0xC3, 0x09, 0x00, 0xC3, 0, 0, 0xF3, 0x7E, 0x32])
    return bytes(prefix) + module


def add(put, put_bad):
    """Writes every module through make_tunes.py's put(name, data, facts, frames) and
    put_bad(name, data, reason)."""
    def good(name, module, frames, loop=0, **facts):
        kind = "STC" if name.endswith(".stc") else "ASC"
        put(name, module, [("format", kind), ("frames", len(frames)), ("loop", loop)] + list(facts.items()),
            expect_frames(frames, unwritten=0))

    good("example1.stc", EXAMPLE_STC_1, EXAMPLE_STC_1_FRAMES)
    good("example2.stc", EXAMPLE_STC_2, EXAMPLE_STC_2_FRAMES)
    good("example3.asc", EXAMPLE_ASC_3, EXAMPLE_ASC_3_FRAMES)
    good("example4.asc", EXAMPLE_ASC_4, EXAMPLE_ASC_4_FRAMES)
    good("loop.stc", *stc_loop())
    good("envelope.stc", *stc_envelope())
    good("notes.stc", *stc_notes())
    good("notes_low.stc", *stc_notes(low=True))
    module, frames = asc_commands()
    good("commands.asc", module, frames, loop=11, title="Every Command", author="Tonewell")
    good("long.asc", module + bytes(20000), frames, loop=11)  # loaded at #4000: the same
    good("prefixed.stc", player_prefix(EXAMPLE_STC_1), EXAMPLE_STC_1_FRAMES)
    good("turbo.stc", turbo_sound(EXAMPLE_STC_2, EXAMPLE_STC_1, b"STC!"), EXAMPLE_STC_2_FRAMES)
    good("turbo.asc", turbo_sound(EXAMPLE_ASC_3, EXAMPLE_ASC_4, b"STC!"), EXAMPLE_ASC_3_FRAMES)

    # Damaged modules: each passes the structural checks and fails while playing, or fails them.
    module = stc(1, [(1, flat(0x0F, 0xA0), 1, 31)], [(0, ZEROS)], [(1, 0)] * 256, [(1, (b"\x30\xff", b"\x81", b"\x81"))])
    put_bad("positions255.stc", module, "256 positions")
    put_bad("nosample.stc", patch(EXAMPLE_STC_1, 0xCC, b"\x6f"), "sample 15 is not in the module")  # instead of 1
    put_bad("noornament.stc", patch(EXAMPLE_STC_1, 0xCD, b"\x7e"), "ornament 14 is not in the module")
    # Channels A and B run from the module's last byte at #BEFF through zeros (one note a
    # line) into the player's code at #C000.
    runaway = EXAMPLE_STC_1 + bytes(0x7F00 - len(EXAMPLE_STC_1))
    put_bad("runaway.stc", patch(runaway, 0xC4, struct.pack("<HH", len(runaway) - 1, len(runaway) - 1)),
            "the player reads #C000 (its own code")
    # Sample 1, whose table entry points into the player: #C5F9 + ST + entry = #C000.
    wild = patch(EXAMPLE_ASC_3, 0x11, b"\xa1")
    put_bad("wildsample.asc", patch(wild, 0x1F, struct.pack("<H", (0xC000 - 0xC5F9 - 0x1D) & 0xFFFF)),
            "the player reads #C000 (its own code")
    put_bad("short.stc", EXAMPLE_STC_1[:150], "unknown format")
    put_bad("short.asc", EXAMPLE_ASC_3[:100], "unknown format")


def bench_modules(rng):
    """A 10-minute STC and ASC module (78 positions of 64 lines at tempo 6: 29952 frames) with
    notes, sample, ornament, envelope and noise changes on every channel."""
    samples = [(n, [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(32)],
                rng.randrange(1, 32), rng.randrange(32)) for n in range(1, 9)]
    ornaments = [(0, ZEROS)] + [(n, [rng.randrange(-12, 13) for _ in range(32)]) for n in range(1, 6)]

    def stc_line(channel):
        pick = rng.randrange(8)
        if pick == 0:
            return b"\x81"
        head = bytes([0x61 + rng.randrange(8), 0x70 + rng.randrange(6)]) if pick < 4 else b""
        if pick == 4:
            head += bytes([0x80 + rng.choice((8, 10, 12, 14)), rng.randrange(256)])
        return head + bytes([rng.randrange(12, 80)])
    patterns = [(n, tuple(b"".join(stc_line(c) for _ in range(64)) + (b"\xff" if c == 0 else b"") for c in range(3)))
                for n in range(8)]
    positions = [(rng.randrange(8), rng.randrange(-3, 4)) for _ in range(78)]
    stc_module = stc(6, samples, ornaments, positions, patterns)

    def asc_line():
        pick = rng.randrange(6)
        if pick == 0:
            return b"\x56"
        head = bytes([0xA0 + rng.randrange(4), 0xC0 + rng.randrange(3), 0xE1 + rng.randrange(15)]) if pick < 3 else b""
        if pick == 3:
            head += bytes([0xF6, rng.randrange(1, 4)])
        return head + bytes([rng.randrange(12, 80)])
    asc_samples = [bytes([0x80, 1, 0xF0]) + b"".join(bytes([rng.randrange(32), rng.randrange(256) & 0x83, rng.randrange(256)])
                                                     for _ in range(6)) + bytes([0x40, 0xFF, 0xA2]) for _ in range(4)]
    asc_ornaments = [b"\xc0\x00", b"\x80\x00\x00\x04\x40\xf9", b"\x80\x00\x40\x0c"]
    asc_patterns = [tuple(b"".join(asc_line() for _ in range(64)) + b"\xff" for _ in range(3)) for _ in range(8)]
    asc_module = asc(6, 0, [rng.randrange(8) for _ in range(78)], asc_patterns, asc_samples, asc_ornaments)
    return stc_module, asc_module
