#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes Pro Tracker 3 and 2 test modules with their expected frames, and damaged modules.

Usage: make_pt_modules.py DIR
       make_pt_modules.py --bench FILE   (the 10-minute module of formats_bench)

Good modules: the worked examples of the tracker document, and small modules built here for
the commands, effects, tables and TurboSound kinds those examples do not reach; for each NAME
it writes NAME.expect as make_tunes.py does (facts, then one line per frame: R0..R13 cut to the
chip's widths and 1/0 for "R13 written"). The expected frames are data derived by hand from the
document, written as runs of dump lines (--no-rescale column). modules_good.txt lists them;
modules_bad.txt lists the damaged ones, "NAME<TAB>text the message must contain".
"""

import os
import struct
import sys

from module_gen import expect_frames, hexbytes, patch, turbo_sound, write, write_expect, write_files, write_lines


def pt3_header_text(text30, title=b"", author=b""):
    """Bytes 0..95: the 30-byte text, title, " by ", author (the first 30 of its 32 bytes)."""
    return (text30.encode() + title.ljust(32) + b" by " + author.ljust(32))[:96]


# --- the worked examples: (name, text of bytes 0..29 or None for PT2, first offset, bytes
# from there, runs of expected frames) ---------------------------------------------------------
EXAMPLES = [
    ('ex1_v5_sample_ornament.pt3', 'ProTracker 3.5 compilation of ', 96,
     """20 20 20 02 03 01 00 CB 00 00 00 E1 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 EB 00 EE 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 00 FF D1 00 D9 00 DD 00 B1 02 F1 02 CF 74 C0 00 B1 04 D0 00 B1 04 D0
        00 00 02 01 8F 00 00 01 8C 01 00 00 01 00 00 02 00 0C""",
     [(1, 'A2 01 00 00 00 00 00 08 0F 00 00 00 00 FF'), (1, 'D2 00 00 00 00 00 00 08 0C 00 00 00 00 FF')] * 3 +
     [(6, 'D2 00 00 00 00 00 00 00 00 00 00 00 00 FF')]),
    ('ex2_v7_envelope_glissando.pt3', 'ProTracker 3.7 compilation of ', 96,
     """20 20 20 01 02 01 00 CB 00 00 00 EC 00 F2 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 F8 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 00 FF D1 00 E1 00 E8 00 B1 04 1E 00 40 02 01 08 68 02 02 00 00 10 00
        00 B1 04 2A D2 C8 80 00 B1 04 D0 00 00 01 00 8F 00 00 00 01 06 1C 00 00 00 01 00""",
     [(1, 'BE 03 EF 00 00 00 0D 0A 1F 06 00 40 00 0E'),
      (1, 'CE 03 EF 00 00 00 0D 0A 1F 06 00 40 00 FF'),
      *((2, 'CE 03 EF 00 00 00 0D 0A 1F 06 00 %02X 00 FF' % r11) for r11 in (0x42, 0x44, 0x46))]),
    ('ex3_vortex_portamento.pt3', 'Vortex Tracker II 1.0 module: ', 96,
     """20 20 20 02 02 01 00 CB 00 00 00 EA 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 F0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 00 FF D1 00 E2 00 E6 00 B1 01 F0 02 68 02 6C 01 00 00 20 00 D0 D0 D0
        D0 00 B1 06 D0 00 B1 06 D0 00 00 01 01 8F 00 00 00 01 00""",
     [(3, '44 03 00 00 00 00 00 08 0F 00 00 00 00 FF'),
      (1, '24 03 00 00 00 00 00 08 0F 00 00 00 00 FF'),
      (1, '04 03 00 00 00 00 00 08 0F 00 00 00 00 FF'),
      (1, 'E4 02 00 00 00 00 00 08 0F 00 00 00 00 FF'),
      (1, 'C4 02 00 00 00 00 00 08 0F 00 00 00 00 FF'),
      (1, 'A4 02 00 00 00 00 00 08 0F 00 00 00 00 FF'),
      (4, '98 02 00 00 00 00 00 08 0F 00 00 00 00 FF')]),
    ('ex4_envelope_sum_note_clamp.pt3', 'ProTracker 3.5 compilation of ', 96,
     """20 20 20 01 01 01 00 CB 00 00 00 E2 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 E8 00 EB 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 00 FF D1 00 DA 00 DE 00 B1 0A F1 02 BE 01 00 AA 00 B1 0A D0 00 B1 0A
        D0 00 00 01 1E AF 00 00 00 01 00 00 02 00 28""",
     # The tone swings between two periods, R11 grows by #0F a frame, R12 is 1 for eight frames.
     [(1, '%s 00 00 00 00 00 08 1F 00 00 %02X %02X %s' % (('15 00', 'F8 0E')[k % 2], 15 * (k + 1), int(k < 8),
                                                         'FF' if k else '0D')) for k in range(10)]),
    ('ex5_loop_position.pt3', 'ProTracker 3.6 compilation of ', 96,
     """20 20 20 03 02 02 01 CC 00 00 00 F2 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 F8 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 00 03 FF D8 00 DE 00 E2 00 E6 00 EA 00 EE 00 B1 02 F0 02 5C 00 B1 02
        D0 00 B1 02 D0 00 B1 02 5D 00 B1 02 D0 00 B1 02 D0 00 00 01 01 8A 00 00 00 01 00""",
     [(4, '6D 06 00 00 00 00 00 08 0A 00 00 00 00 FF'),
      (4, '11 06 00 00 00 00 00 08 0A 00 00 00 00 FF')]),
    ('ex6_pt2_glissando_rest.pt2', None, 0,
     """03 01 00 00 00 9C 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 A4 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 85 00 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20
        20 20 20 00 FF 8D 00 96 00 99 00 00 00 21 E1 60 1F 0E 02 A4 E0 00 23 70 00 23 70 00 02 00 01 F0
        00 05 D0 03 01 00 00""",
     [(1, 'DF 01 00 00 00 00 00 08 0F 00 00 00 00 FF'),
      (1, 'E4 01 00 00 00 00 00 08 0D 00 00 00 00 FF'),
      (1, 'E3 01 00 00 00 00 00 08 0F 00 00 00 00 FF'),
      (1, 'E8 01 00 00 00 00 00 08 0D 00 00 00 00 FF'),
      (1, 'E7 01 00 00 00 00 00 08 0F 00 00 00 00 FF'),
      (1, 'EC 01 00 00 00 00 00 08 0D 00 00 00 00 FF'),
      (6, 'EC 01 00 00 00 00 00 00 00 00 00 00 00 FF')]),
    ('ex7_pt2_envelope_noise.pt2', None, 0,
     """02 01 00 00 00 A1 00 A6 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 AB 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
        00 00 00 85 00 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20
        20 20 20 00 FF 8D 00 96 00 9E 00 00 00 23 E1 60 1F 74 20 00 98 00 23 E2 60 1C 03 02 BC 00 23 70
        00 01 00 03 F0 00 01 00 52 F0 00 01 00 00""",
     [(1, 'BE 03 77 00 00 00 0C 0B 1F 0C 00 20 00 04'),
      (7, 'BE 03 77 00 00 00 0C 0B 1F 0C 00 20 00 FF')]),
]


def pt3(patterns, samples, ornaments=None, order=(0,), version=b"6", table=1, tempo=1, loop=0, mark=0x20,
        streams_last=False):
    """A PT3 module: patterns are (A, B, C) streams, samples and ornaments {number: bytes},
    order the pattern numbers of the position list. With streams_last the pattern data ends
    the file (so a stream without its end runs off it)."""
    ornaments = ornaments or {}
    head = bytearray(pt3_header_text("ProTracker 3.%s compilation of " % version.decode()))
    head += b"  " + bytes([mark, table, tempo, len(order), loop, 0, 0]) + bytes(64 + 32)
    positions = bytes(3 * p for p in order) + b"\xff"
    table_at = 201 + len(positions)
    at = table_at + 6 * len(patterns)
    objects = bytearray()

    def place_objects(start):
        nonlocal objects
        objects = bytearray()
        for base, items in ((105, samples), (169, ornaments)):
            for number, data in sorted(items.items()):
                struct.pack_into("<H", head, base + 2 * number, start + len(objects))
                objects += data

    streams, offsets = bytearray(), []
    stream_at = at if not streams_last else None
    if streams_last:
        place_objects(at)
        stream_at = at + len(objects)
    for chans in patterns:
        offsets.append([stream_at + len(streams) + sum(len(c) for c in chans[:i]) for i in range(3)])
        streams += b"".join(chans)
    if not streams_last:
        place_objects(at + len(streams))
    struct.pack_into("<H", head, 103, table_at)
    ptable = b"".join(struct.pack("<HHH", *o) for o in offsets)
    body = bytes(objects) + bytes(streams) if streams_last else bytes(streams) + bytes(objects)
    return bytes(head) + positions + ptable + body


def pt2(patterns, samples, ornaments, order=(0,), tempo=2, loop=0, base=0):
    """A PT2 module; every stream, sample and ornament offset is stored plus base (the word at
    3, sample 0's offset), as Pro Tracker 2.4 modules store their load address."""
    head = bytearray(bytes([tempo, len(order), loop]) + bytes(128))
    head[101:131] = b"Generated PT2".ljust(30)
    positions = bytes(order) + b"\xff"
    table_at = 131 + len(positions)
    struct.pack_into("<H", head, 99, table_at)
    struct.pack_into("<H", head, 3, base)
    at = table_at + 6 * len(patterns) + 2
    data, ptable = bytearray(), bytearray()
    for chans in patterns:
        for c in chans:
            ptable += struct.pack("<H", at + len(data) + base)
            data += c
    for first, items in ((3, samples), (67, ornaments)):
        for number, obj in sorted(items.items()):
            struct.pack_into("<H", head, first + 2 * number, at + len(data) + base)
            data += obj
    return bytes(head) + positions + bytes(ptable) + b"\0\0" + bytes(data)


def frame(tone, amp, mixer=0x08, noise=0, env=0, shape=0xFF):
    """A dump line of channel A alone (B and C silent): tone, noise, mixer, A's amplitude, R11/R12."""
    return "%02X %02X 00 00 00 00 %02X %02X %02X 00 00 %02X %02X %02X" % (
        tone & 0xFF, (tone >> 8) & 15, noise & 31, mixer, amp, env & 0xFF, env >> 8, shape)


REST_BC = b"\xb1\x40\xd0\x00"            # B and C: one empty line of 64 rows, then the end
S_PLAIN = hexbytes("00 01 01 8F 00 00")  # PT3 sample: envelope masked, noise off, level 15
T1 = {36: 0x01DF, 37: 0x01C2, 38: 0x01AC, 39: 0x0190, 40: 0x017B, 10: 0x0858, 30: 0x02A2, 0: 0x0EF8,
      70: 0x0042, 90: 0x0015, 95: 0x000F}
# Notes 0, 23, 43 and 95 of each table: [table][old].
NOTES = {(0, True): (0x0C21, 0x0336, 0x0103, 0x000C), (0, False): (0x0C22, 0x0337, 0x0103, 0x000C),
         (1, True): (0x0EF8, 0x03FD, 0x013E, 0x000F), (1, False): (0x0EF8, 0x03FD, 0x013E, 0x000F),
         (2, True): (0x0D3E, 0x0382, 0x011B, 0x000E), (2, False): (0x0D10, 0x0376, 0x0117, 0x000D),
         (3, True): (0x0CDA, 0x0367, 0x0113, 0x000D), (3, False): (0x0CDA, 0x0367, 0x0112, 0x000D)}


def solo(a, samples, ornaments=None, **kw):
    """A PT3 module of one pattern: channel A plays the stream a (hex text), B and C rest."""
    return pt3([(hexbytes(a), REST_BC, REST_BC)], samples, ornaments, **kw)


def tones(*periods, amp=15):
    """Runs of one frame each: channel A at the periods, with amplitude amp."""
    return [(1, frame(t, amp)) for t in periods]


def generated():
    """(name, bytes, runs of expected lines) for the cases the worked examples miss."""
    porta = "B1 01 D1 01 74 01 04 00 02 78 01 00 00 20 00 D0 D0 D0 D0 00"
    cases = [
        # Command 5: on 2 frames, off 1.
        ("cmd5_on_off.pt3", solo("B1 01 D1 05 74 02 01 D0 D0 D0 D0 D0 00", {1: S_PLAIN}),
         [(2, frame(T1[36], 15)), (1, frame(T1[36], 0, 0))] * 2),
        # Commands 3 and 4 (parameters last command first): ornament position 2, sample line 3.
        ("cmd3_cmd4_positions.pt3", solo("B1 01 F1 04 03 04 74 02 03 D0 D0 00",
                                         {2: hexbytes("00 04 01 8F 00 00 01 8E 00 00 01 8D 00 00 01 8C 00 00")},
                                         {1: hexbytes("00 04 00 01 02 03")}),
         [(1, frame(T1[38], 12)), (1, frame(T1[39], 15)), (1, frame(T1[36], 14))]),
        # Command 9 twice: tempo 3 from line 0, tempo 1 from line 1.
        ("cmd9_tempo.pt3", solo("B1 01 D1 09 74 03 09 D0 01 75 00", {1: S_PLAIN}),
         [(4, frame(T1[36], 15)), (1, frame(T1[37], 15))]),
        # Noise base, noise offsets with the volume-slide bits, kept noise offset, volume slide up and down.
        ("noise_volume_slide.pt3", solo("B1 01 2A D3 74 D0 D0 D0 00", {3: hexbytes("00 02 CA 2A 00 00 86 0A 00 00")}),
         [(1, frame(T1[36], amp, 0, noise)) for amp, noise in ((11, 0x0F), (10, 0x12), (11, 0x14), (10, 0x17))]),
        # Kept tone offset and a sample loop at line 1.
        ("tone_acc_sample_loop.pt3",
         solo("B1 01 D4 74 D0 D0 D0 D0 00", {4: hexbytes("01 03 01 8F 01 00 01 CF 02 00 01 CF FF FF")}),
         tones(0x1E0, 0x1E1, 0x1E0, 0x1E2, 0x1E1)),
        # 0x1C: shape 12, period 0x0100, sample entry 105 + 10; 0xB0 and 0x10: envelope off; 0x1D on again.
        ("cmd_1x_10_b0.pt3",
         solo("B1 01 1C 01 00 0A 74 B0 D0 1D 02 00 0A D0 10 0A D0 00", {5: hexbytes("00 01 00 8F 00 00")}),
         [(1, frame(T1[36], 0x1F, env=0x100, shape=12)), (1, frame(T1[36], 15, env=0x100)),
          (1, frame(T1[36], 0x1F, env=0x200, shape=13)), (1, frame(T1[36], 15, env=0x200))]),
        # Note + ornament beyond the table: 90 + 20 gives 95, 10 - 20 gives 0.
        ("note_clamp.pt3", solo("B1 01 F1 02 AA D0 D0 5A D0 D0 00", {1: S_PLAIN}, {1: hexbytes("00 03 00 14 EC")}),
         tones(*(T1[note] for note in (90, 95, 70, 10, 30, 0)))),
        # Glissando downwards every second frame.
        ("gliss_down.pt3", solo("B1 01 D1 41 01 74 02 F0 FF D0 D0 D0 D0 00", {1: S_PLAIN}, {1: hexbytes("00 01 00")}),
         [(2, frame(0x1DF, 15)), (2, frame(0x1CF, 15)), (1, frame(0x1BF, 15))]),
        # Portamento on a note line while a glissando runs: version 5 starts from 0, 6 from the running slide.
        ("porta_v5.pt3", solo(porta, {1: S_PLAIN}, version=b"5"), tones(0x1DF, 0x1DF, 0x1BF, 0x19F, 0x17F, 0x17B)),
        ("porta_v6.pt3", solo(porta, {1: S_PLAIN}, version=b"6"), tones(0x1DF, 0x1E3, 0x1C3, 0x1A3, 0x183, 0x17B)),
        # Portamento upwards (to a longer period).
        ("porta_up.pt3", solo("B1 01 D1 78 02 74 01 00 00 20 00 D0 D0 D0 D0 00", {1: S_PLAIN}),
         [(2, frame(0x17B, 15))] + tones(0x19B, 0x1BB, 0x1DB, 0x1DF)),
    ]
    # Every note table in every version group, the table byte's high bits ignored, both volume tables
    # (volume 8, level 7: 3 in versions 3 and 4, 4 in version 5).
    for table in range(4):
        for version, amp in ((b"3", 3), (b"4", 3), (b"5", 4)):
            cases.append(("table%d_v%s.pt3" % (table, version.decode()),
                          solo("B1 01 D1 C8 50 67 7B AF 00", {1: hexbytes("00 01 01 87 00 00")}, version=version,
                               table=table + (4 if version == b"5" else 0)),
                          tones(*NOTES[(table, version == b"3")], amp=amp)))
    # AlCo TurboSound (version 7, byte 98 = 2): chip 2 plays pattern 0 with a tempo command, which
    # slows chip 1 (pattern 1) to two frames per line; as version 6 the module plays alone.
    chips = [(hexbytes(a), REST_BC, REST_BC) for a in ("B1 01 D1 09 74 02 D0 D0 D0 00", "B1 01 D1 74 75 D0 D0 00")]
    for version, per_line in ((b"7", 2), (b"6", 1)):
        cases.append(("alco_ts_v%s.pt3" % version.decode(), pt3(chips, {1: S_PLAIN}, order=(1,), version=version, mark=2),
                      [(per_line, frame(T1[36], 15)), (3 * per_line, frame(T1[37], 15))]))
    # A pass that never ends: tempo 0 (256 frames a line) and line skip 0 (256 lines).
    cases.append(("endless.pt3", pt3([(hexbytes("D1 74 00"), b"\xd0\x00", b"\xd0\x00")], {1: S_PLAIN}, tempo=0),
                  [(32787, frame(T1[36], 15))]))
    # PT2 with objects based at 0x0010: portamento down and up (step 0x40); then envelope shape 1,
    # glissando +5 with tempo 2, slide stop (0x0C), envelope off (0x7F) and volume 0.
    s1, o0 = {1: hexbytes("01 00 01 F0 00")}, {0: hexbytes("01 00 00")}
    bc = b"\x7f\x70\x00"  # envelope off, an empty line (line skip 0 acts as 256), end
    a = hexbytes("20 E1 60 A4 0D 40 00 00 A8 70 70 0D 40 00 00 A4 70 70 00")
    cases.append(("pt2_porta.pt2", pt2([(a, bc, bc)], s1, o0, base=0x10),
                  [(3, frame(0x1DF, 15)), (1, frame(0x19F, 15)), (5, frame(0x17B, 15)), (1, frame(0x1BB, 15)),
                   (4, frame(0x1DF, 15))]))
    a = hexbytes("20 E1 60 71 00 01 0F 02 0E 05 A4 0C 7F 70 10 70 00")
    cases.append(("pt2_gliss_tempo.pt2", pt2([(a, bc, bc)], s1, o0, tempo=3),
                  [(1, frame(0x1DF, 0x1F, env=0x100, shape=1)), (1, frame(0x1E4, 0x1F, env=0x100)),
                   (2, frame(0x1E9, 15, env=0x100)), (2, frame(0x1E9, 0, env=0x100))]))
    return cases


def example_bytes(text30, start, body):
    head = pt3_header_text(text30) if text30 else b""
    assert len(head) == start
    return head + hexbytes(body)


def damaged(examples):
    """(name, bytes, message text) of modules the converter must refuse."""
    ex1, ex5, ex6 = examples["ex1_v5_sample_ornament.pt3"], examples["ex5_loop_position.pt3"], examples["ex6_pt2_glissando_rest.pt2"]
    bad = [("short.pt3", ex1[:150], "shorter than its header"),
           ("no_list_end.pt3", patch(ex1, 202, b"\x00"), "position list has no end"),
           ("empty_list.pt3", patch(ex1, 201, b"\xff"), "position list is empty"),
           ("loop_past_list.pt3", patch(ex5, 102, b"\x02"), "loop position 2"),
           ("table_past_end.pt3", patch(ex1, 103, b"\xf0\xff"), "pattern table entry"),
           ("channel_past_end.pt3", patch(ex1, 0xCB + 2, b"\x00\x20"), "channel B starts at offset"),
           ("pt2_loop_past_list.pt2", patch(ex6, 2, b"\x01"), "loop position 1"),
           ("pt2_channel_past_end.pt2", patch(ex6, 0x87, b"\x00\x20"), "channel B starts at offset")]
    # A stream without its end, a sample and an ornament longer than the file: each last in it.
    bad += [("stream_runs_off.pt3", solo("B1 01 D1 74 D0", {1: S_PLAIN}, streams_last=True),
             "runs past the end of the module"),
            ("sample_too_long.pt3", solo("B1 01 D1 74 D0 D0 00", {1: hexbytes("00 40 01 8F 00 00")}), "sample 1 at offset"),
            ("ornament_too_long.pt3", solo("B1 01 D1 41 74 D0 D0 00", {1: S_PLAIN}, {1: hexbytes("00 50 00")}),
             "ornament 1 at offset"),
            # Commands 3 and 4 moving the built-in empty sample past its 57 bytes.
            ("builtin_past_end.pt3", solo("B1 01 03 74 30 D0 00", {}), "built-in empty sample")]
    return bad


def make(dirname):
    os.makedirs(dirname, exist_ok=True)
    good, examples = [], {}

    def put(name, data, facts, runs):
        write(os.path.join(dirname, name), data)
        frames = expect_frames([line for count, line in runs for _ in range(count)], unwritten=0x0F)
        write_expect(os.path.join(dirname, name + ".expect"), facts, frames)
        good.append(name)

    for name, text30, start, body, runs in EXAMPLES:
        data = example_bytes(text30, start, body)
        examples[name] = data
        fmt = "PT2" if text30 is None else "PT3 3.6 (Vortex Tracker II)" if text30.startswith("Vortex") else \
            "PT3 3." + text30[13]
        facts = [("format", fmt), ("clock", 1773400), ("frames", sum(n for n, _ in runs)),
                 ("loop", 4 if name.startswith("ex5") else 0)]
        put(name, data, facts, runs)
    # Example 2 as version 6: the glissando with delay 0 does nothing.
    runs = [(n, "BE 03" + line[5:]) for n, line in EXAMPLES[1][4]]
    put("ex2_as_v6.pt3", examples["ex2_v7_envelope_glissando.pt3"].replace(b"3.7 comp", b"3.6 comp"),
        [("format", "PT3 3.6"), ("frames", 8)], runs)
    for name, data, runs in generated():
        put(name, data, [("frames", min(32787, sum(n for n, _ in runs)))], runs)
    # Two modules with the 02TS footer: module 1 (example 1) alone.
    two = turbo_sound(examples["ex1_v5_sample_ornament.pt3"], examples["ex5_loop_position.pt3"], b"PT3!")
    put("two_modules_ts.pt3", two, [("format", "PT3 3.5"), ("frames", 12)], EXAMPLES[0][4])

    bad = damaged(examples)
    write_files(dirname, bad)
    write_lines(os.path.join(dirname, "modules_good.txt"), good)
    write_lines(os.path.join(dirname, "modules_bad.txt"), ["%s\t%s" % (n, t) for n, _, t in bad])
    return good, bad


def ten_minutes():
    """A PT3 of 157 positions over four 64-line patterns at tempo 3: 30144 frames, about 10
    minutes, with ornaments, noise, glissandos, envelopes and rests (formats_bench)."""
    patterns = []
    for p in range(4):
        a, b, c = bytearray(hexbytes("B1 01 F1 02 CF")), bytearray(hexbytes("B1 01 D2")), bytearray(hexbytes("B1 01 D1"))
        for i in range(64):
            note = 0x5C + (i * 7 + p * 5) % 60
            a += (b"\x01" + bytes([note]) + hexbytes("01 04 00")) if i % 8 == 0 else bytes([note])
            b += bytes([0x20 + i % 32, note + 12])
            c += (hexbytes("B5 00 20") + bytes([note - 12])) if i % 4 == 0 else b"\xc0" if i % 4 == 3 else b"\xd0"
        patterns.append((bytes(a) + b"\x00", bytes(b), bytes(c)))
    samples = {1: S_PLAIN, 2: hexbytes("00 02 0A 1C 00 00 8C 0B 01 00")}
    return pt3(patterns, samples, {1: hexbytes("00 03 00 0C 18")}, order=[i % 4 for i in range(157)], tempo=3)


if __name__ == "__main__":
    if sys.argv[1] == "--bench":
        write(sys.argv[2], ten_minutes())
    else:
        make(sys.argv[1])
