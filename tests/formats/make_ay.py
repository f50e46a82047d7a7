#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Hand-made AY (ZXAY/EMUL) files: the three worked examples of the format notes, machines that
reach every start-up and port path, damaged and hostile files. Each good file comes with the
frames its Z80 code must give (--no-rescale), worked out by hand from what the code does.

Usage: make_ay.py DIR   writes DIR/NAME.ay for every case (seeds for the fuzzer).
As a module: CASES, DAMAGED, HOSTILE and ay_file() for ay_cases.py.
"""

import os
import struct
import sys

from module_gen import dump_line, hexbytes, patch, write_files

# --- the file builder ---------------------------------------------------------------------


def ay_file(songs, author=b"Tonewell", misc=b"hand-made", first=0):
    """songs: dicts with name, length, fade, regs (HiReg:LoReg), stack, init, interrupt and
    blocks [(address, data, declared length or None)]. Layout: header, songs table, then per
    song its data record, points and blocks table, then the strings, then the block data."""
    n = len(songs)
    records = 20 + 4 * n
    sizes = [14 + 6 + 6 * len(s["blocks"]) + 2 for s in songs]
    strings = records + sum(sizes)
    text = bytearray()
    string_at = {}
    for key, value in [("author", author), ("misc", misc)] + [(i, s["name"]) for i, s in enumerate(songs)]:
        string_at[key] = strings + len(text)
        text += value + b"\0"
    data_at = strings + len(text)
    blob = bytearray()
    out = bytearray(b"ZXAYEMUL" + bytes([0, 3]) + b"\0\0")
    out += struct.pack(">hhBBh", string_at["author"] - 12, string_at["misc"] - 14, n - 1, first, 20 - 18)
    at = records
    for i, s in enumerate(songs):
        out += struct.pack(">hh", string_at[i] - (20 + 4 * i), at - (20 + 4 * i + 2))
        at += sizes[i]
    at = records
    for i, s in enumerate(songs):
        points, table = at + 14, at + 20
        out += bytes([0, 1, 2, 3]) + struct.pack(">HHHhh", s["length"], s.get("fade", 0), s.get("regs", 0),
                                                 points - (at + 10), table - (at + 12))
        out += struct.pack(">HHH", s.get("stack", 0xC000), s["init"], s["interrupt"])
        for j, (address, data, declared) in enumerate(s["blocks"]):
            field = table + 6 * j + 4
            out += struct.pack(">HHh", address, len(data) if declared is None else declared,
                               data_at + len(blob) - field)
            blob += data
        out += b"\0\0"
        at += sizes[i]
    return bytes(out + text + blob)


def frames(count, make):
    """count frame lines; make(k) gives ({register: value}, shape or None) for frame k."""
    return [dump_line([regs.get(r, 0) for r in range(13)] + [0xFF if shape is None else shape])
            for regs, shape in map(make, range(count))]


# SETREG on the ZX Spectrum at 8000: select register D, write E.
ZX_SETREG = hexbytes("01 FD FF  ED 51  06 BF  ED 59  C9")  # LD BC,FFFD; OUT (C),D; LD B,BF; OUT (C),E; RET

# --- the worked examples, byte for byte, and the start of their dumps ---------------------------

EXAMPLE1 = hexbytes("""
5A 58 41 59 45 4D 55 4C 00 03 00 00 00 28 00 2F 00 00 00 02 00 3B 00 02 00 01 02 03 00 FA 00 00
00 00 00 04 00 08 C0 00 80 0A 80 22 80 00 00 36 00 38 00 00 54 6F 6E 65 77 65 6C 6C 00 68 61 6E
64 2D 6D 61 64 65 20 65 78 61 6D 70 6C 65 00 45 78 61 6D 70 6C 65 20 31 3A 20 5A 58 2C 20 49 4D
20 31 20 73 74 75 62 00 01 FD FF ED 51 06 BF ED 59 C9 11 38 07 CD 00 80 11 0F 08 CD 00 80 11 01
01 CD 00 80 11 0E 0D C3 00 80 21 35 80 34 5E 16 00 CD 00 80 7B E6 01 C0 11 08 0D 18 CB 00""")
EXAMPLE2 = hexbytes("""
5A 58 41 59 45 4D 55 4C 00 03 00 00 00 2E 00 35 00 00 00 02 00 41 00 02 00 01 02 03 00 FA 00 00
00 00 00 04 00 08 C0 00 00 00 00 00 90 00 00 2B 00 3E FF F4 00 0E 00 63 00 00 54 6F 6E 65 77 65
6C 6C 00 68 61 6E 64 2D 6D 61 64 65 20 65 78 61 6D 70 6C 65 00 45 78 61 6D 70 6C 65 20 32 3A 20
5A 58 2C 20 49 4D 20 32 20 73 74 75 62 00 11 3E 07 CD 20 90 11 10 08 CD 20 90 11 10 0C C3 20 90
21 2A 90 34 7E E6 03 C0 11 0C 0D 18 01 00 01 FD FF ED 51 06 BF ED 59 C9 00 C3 12 90 00 00 00 00
00 00 00 00 18 EE EE""")
EXAMPLE3 = hexbytes("""
5A 58 41 59 45 4D 55 4C 00 03 00 00 00 28 00 2F 00 00 00 02 00 3B 00 02 00 01 02 03 00 FA 00 00
00 00 00 04 00 08 C0 00 40 1C 40 2C 40 00 00 4A 00 36 00 00 54 6F 6E 65 77 65 6C 6C 00 68 61 6E
64 2D 6D 61 64 65 20 65 78 61 6D 70 6C 65 00 45 78 61 6D 70 6C 65 20 33 3A 20 41 6D 73 74 72 61
64 20 43 50 43 00 01 00 F4 ED 51 01 C0 F6 ED 49 0E 00 ED 49 06 F4 ED 59 01 80 F6 ED 49 0E 00 ED
49 C9 21 39 40 56 23 5E 23 CD 00 40 7A FE 10 20 F4 C9 21 49 40 34 7E E6 0F 5F 16 09 C3 00 40 00
00 01 0A 02 00 03 01 06 14 07 30 08 0F 10 FF 00""")

# Each case: file bytes, options, and the whole dump expected (lines), worked out from the code.
CASES = {}
CASES["example1.ay"] = (EXAMPLE1, [], frames(250, lambda k: (
    {1: 1, 7: 0x38, 8: 0x0F} if k == 0 else {0: k & 0xFF, 1: 1, 7: 0x38, 8: 0x0F},
    0x0E if k == 0 else (0x08 if k % 2 == 0 else None))))
CASES["example2.ay"] = (EXAMPLE2, [], frames(250, lambda k: (
    {7: 0x3E, 8: 0x10, 12: 0x10}, 0x0C if k and k % 4 == 0 else None)))
CASES["example3.ay"] = (EXAMPLE3, [], frames(250, lambda k: (
    {1: 0x0A, 3: 0x01, 6: 0x14, 7: 0x30, 8: 0x0F, 9: k & 0x0F}, None)))

# A register written twice in a frame (the last value stays), a select of register 16 (its
# write ignored), and, once the ZX Spectrum is decided, port F400 decoded as a ZX select.
TWICE_CODE = ZX_SETREG + hexbytes("""
00 00 00 00 00 00                    # 800A: padding
11 11 08  CD 00 80  11 0A 08  CD 00 80  # 8010 PLAY: R8 = 11, then R8 = 0A
11 0F 10  CD 00 80                   # select 16, write 0F: ignored
01 00 F4  3E 09  ED 79               # OUT (F400),9: ZX select of R9
01 FD BF  3E 05  ED 79               # OUT (BFFD),5: R9 = 5
C9
11 38 07  C3 00 80                   # 8031 INIT: R7 = 38""")
CASES["twice.ay"] = (ay_file([dict(name=b"twice", length=20, init=0x8031, interrupt=0x8010,
                                   blocks=[(0x8000, TWICE_CODE, None)])]), [],
                     frames(20, lambda k: ({7: 0x38} if k == 0 else {7: 0x38, 8: 0x0A, 9: 5}, None)))

# The Amstrad CPC decided first: a later ZX Spectrum select and write (FFFD, BFFD) are ignored,
# and the clock is the CPC's (checked rescaled too: R0 64 -> 175 = AF).
CPC_CODE = hexbytes("""
01 00 F4  3E 00  ED 79   # latch = 0 (decides CPC)
01 C0 F6  ED 49          # port C = C0: select R0
01 00 F4  3E 64  ED 79   # latch = 64
01 80 F6  ED 49          # port C = 80: write
01 FD FF  3E 01  ED 79   # ZX select of R1: ignored
06 BF  3E 0F  ED 79      # ZX write 0F: ignored
C9""")
CPC_FILE = ay_file([dict(name=b"cpc", length=5, init=0x4000, interrupt=0x4025, blocks=[(0x4000, CPC_CODE, None)])])
CASES["cpc_first.ay"] = (CPC_FILE, [], frames(5, lambda k: ({0: 0x64}, None)))
CASES["cpc_first.ay rescaled"] = (CPC_FILE, None, frames(5, lambda k: ({0: 0xAF}, None)))

# Several blocks: a later one overwrites an earlier one, one is cut at address 65536, one is
# cut at the end of the file (it is last), one has no bytes, one points outside the file. INIT
# copies (9001), (9002), (8040) and (FFFF) into R0, R2, R4 and R11.
BLOCKS_CODE = ZX_SETREG + bytes(6) + hexbytes("""
3A 01 90  5F  16 00  CD 00 80   # 8010: R0 = (9001)
3A 02 90  5F  16 02  CD 00 80   # R2 = (9002): past the cut, still 00
3A 40 80  5F  16 04  CD 00 80   # R4 = (8040): 22 from the second block
3A FF FF  5F  16 0B  CD 00 80   # R11 = (FFFF): the last byte below 65536
C9                              # 8034: also PLAY
""") + bytes(0x40 - 0x35) + b"\x11"  # 8040: 11, overwritten
BLOCKS_FILE = ay_file([dict(name=b"blocks", length=5, init=0x8010, interrupt=0x8034, blocks=[
    (0x8000, BLOCKS_CODE, None), (0x8040, b"\x22", None), (0xFFFE, b"\x33\x44\x55\x66", None),
    (0xA000, b"", None), (0xB000, b"\x77", None), (0x9000, b"\xAA\xBB", 4)])])
# The fifth block's data pointer: to 30 000 bytes past its own field, outside the file.
CASES["blocks.ay"] = (patch(BLOCKS_FILE, 20 + 4 + 14 + 6 + 6 * 4 + 4, struct.pack(">h", 30000)), [],
                      frames(5, lambda k: ({0: 0xBB, 2: 0, 4: 0x22, 11: 0x44}, None)))

# An IM 2 player that sets its own I and vector table: I = A0, the word at A0FF is A010.
IM2_CODE = ZX_SETREG + bytes(6) + hexbytes("""
21 30 A0  34  5E  16 00  C3 00 A0   # A010 HANDLER: count + 1, R0 = count
00 00 00 00 00 00
3E A0  ED 47  21 10 A0  22 FF A0  C9   # A020 INIT: I = A0, (A0FF) = A010""") + bytes(5)
CASES["im2_table.ay"] = (ay_file([dict(name=b"im2", length=300, init=0xA020, interrupt=0,
                                       blocks=[(0xA000, IM2_CODE, None)])]), [],
                         frames(300, lambda k: ({0: k & 0xFF}, None)))

# Three songs of one player: INIT writes HiReg to R8. The header's first song is the second.
MULTI_CODE = hexbytes("5F 3E 08 01 FD FF ED 79 06 BF ED 59 C9")  # LD E,A; select 8; write E; RET (800C: PLAY)
MULTI_FILE = ay_file([dict(name=b"one", length=10, regs=0x0100, init=0x8000, interrupt=0x800C,
                           blocks=[(0x8000, MULTI_CODE, None)]),
                      dict(name=b"two", length=20, regs=0x0200, init=0x8000, interrupt=0x800C,
                           blocks=[(0x8000, MULTI_CODE, None)]),
                      dict(name=b"silent", length=0, fade=150, init=0x800C, interrupt=0x800C,
                           blocks=[(0x8000, MULTI_CODE, None)])], first=1)
CASES["multi.ay"] = (MULTI_FILE, [], frames(20, lambda k: ({8: 2}, None)))
CASES["multi.ay --song 1"] = (MULTI_FILE, ["--song", "1"], frames(10, lambda k: ({8: 1}, None)))
# Length 0: 15000 frames; the code never writes the chip.
CASES["multi.ay --song 3"] = (MULTI_FILE, ["--song", "3"], frames(15000, lambda k: ({}, None)))

# Hostile code: INIT writes R8 = 0F and then spins, halts with interrupts off, or overwrites
# the stub's loop with DI; HALT. PLAY (R0 = 1) must never run. Each ends with its frames.
def hostile(tail, length):
    code = ZX_SETREG + hexbytes("11 0F 08  CD 00 80") + hexbytes(tail) + hexbytes("11 01 00 C3 00 80")
    play = 0x8000 + len(code) - 6
    return ay_file([dict(name=b"hostile", length=length, init=0x8000 + len(ZX_SETREG), interrupt=play,
                         blocks=[(0x8000, code, None)])])


CASES["spin.ay"] = (hostile("FB 18 FE", 3000), [], frames(3000, lambda k: ({8: 0x0F}, None)))  # EI; JR $
CASES["di_halt.ay"] = (hostile("F3 76", 65535), [], frames(32787, lambda k: ({8: 0x0F}, None)))
CASES["overwrite_stub.ay"] = (hostile("21 F3 76 22 04 00 C9", 100), [],  # (0004) = F3 76
                              frames(100, lambda k: ({8: 0x0F}, None)))


def two_songs():
    """Example 1's code as two 60 s songs: song 1 holds INIT's sound (its PLAY is the RET at
    8009), song 2 moves the tone every frame as example 1 does."""
    block = EXAMPLE1[0x68:0x68 + 0x36]
    return ay_file([dict(name=b"held", length=3000, init=0x800A, interrupt=0x8009, blocks=[(0x8000, block, None)]),
                    dict(name=b"moving", length=3000, init=0x800A, interrupt=0x8022, blocks=[(0x8000, block, None)])])


def damaged():
    """(name, bytes, words the one-line reason must hold): each refused with exit 1."""
    good = CASES["twice.ay"][0]
    word = lambda at, value: patch(good, at, struct.pack(">h", value))  # noqa: E731
    song_data = 20 + 4
    return [
        ("short.ay", good[:19], "too short"),
        ("amad.ay", b"ZXAYAMAD" + good[8:], "AMAD"),
        ("first_song.ay", good[:17] + b"\x01" + good[18:], "first song"),
        ("songs_outside.ay", word(18, len(good)), "songs table"),
        ("songs_before.ay", word(18, -32768), "songs table"),
        ("data_outside.ay", word(22, 0x7FFF), "data record"),
        ("points_outside.ay", word(song_data + 10, -song_data - 10), "points"),
        ("blocks_outside.ay", word(song_data + 12, len(good)), "blocks table"),
        ("blocks_unended.ay", good[:song_data + 14 + 6 + 6 + 1], "blocks table"),
        ("no_code.ay", ay_file([dict(name=b"x", length=5, init=0, interrupt=0, blocks=[])]), "no code"),
    ]


def main():
    os.makedirs(sys.argv[1], exist_ok=True)
    write_files(sys.argv[1], [(name.split(" ")[0], data) for name, (data, _, _) in CASES.items()] + damaged())


if __name__ == "__main__":
    main()
