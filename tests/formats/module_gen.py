# SPDX-License-Identifier: GPL-2.0-or-later
"""What the test-file writers and checkers of this folder share: hex text to bytes, dump lines,
patched copies, writing files and lists, and the checks' pass/fail lines."""

import os
import struct
import subprocess


def hexbytes(text):
    """Bytes from hex text: pairs with or without spaces, over lines; "#" starts a comment."""
    return bytes.fromhex(" ".join(line.split("#")[0] for line in text.splitlines()))


def dump_line(values):
    """Fields as the dump writes them: two hex digits each, separated by spaces."""
    return " ".join("%02X" % v for v in values)


def patch(data, at, new):
    """A copy of data with the bytes from at on replaced by new."""
    out = bytearray(data)
    out[at:at + len(new)] = new
    return bytes(out)


def place(items, start):
    """The items one after the other from offset start: (the offset of each, all their bytes)."""
    offsets, data = [], b""
    for item in items:
        offsets.append(start + len(data))
        data += bytes(item)
    return offsets, data


def turbo_sound(first, second, mark):
    """Two modules for two chips, with the 02TS footer naming each one's mark and size."""
    return first + second + mark + struct.pack("<H", len(first)) + mark + struct.pack("<H", len(second)) + b"02TS"


def write(path, data):
    """Writes bytes, or text."""
    with open(path, "wb" if isinstance(data, (bytes, bytearray)) else "w") as f:
        f.write(data)


def write_files(dirname, files):
    """Writes each (name, bytes, ...) of files into dirname."""
    for name, data, *_ in files:
        write(os.path.join(dirname, name), data)


def write_lines(path, lines):
    write(path, "".join(line + "\n" for line in lines))


def write_expect(path, facts, frames):
    """NAME.expect: the facts ("key value"), "data", then per frame R0..R13 and 1/0 for "R13 written"."""
    write_lines(path, ["%s %s" % fact for fact in facts] + ["data"] +
                [dump_line(regs) + (" 1" if shape else " 0") for regs, shape in frames])


def expect_frames(lines, unwritten):
    """Dump lines (R0..R12, then the shape written or FF) as frames: R13 is unwritten where no
    shape is written."""
    frames = []
    for text in lines:
        v = [int(x, 16) for x in text.split()]
        frames.append((v[:13] + [unwritten if v[13] == 0xFF else v[13]], v[13] != 0xFF))
    return frames


def run(program, args, timeout=None):
    """(exit status, standard output, standard error as text) of program with args."""
    p = subprocess.run([program] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return p.returncode, p.stdout, p.stderr.decode("latin-1")


def refusal(program, path, out, words="", timeout=60):
    """(ok, detail) of `program PATH OUT` on a file it must refuse: ok when it exits 1 with one
    line on standard error that names the file and holds words, and leaves nothing at OUT."""
    code, _, err = run(program, [path, out], timeout)
    lines = err.splitlines()
    ok = code == 1 and len(lines) == 1 and path in lines[0] and words in lines[0] and not os.path.exists(out)
    return ok, "exit %d, stderr %r, OUT %s" % (code, lines, "left" if os.path.exists(out) else "absent")


def first_difference(got, want):
    """The index of the first line where the lists differ (the shorter length when one is the
    other's start)."""
    return next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))


COUNTS = [0, 0]


def check(label, ok, detail=""):
    """Prints "ok: LABEL" or "FAIL: LABEL: DETAIL" and counts it."""
    COUNTS[0 if ok else 1] += 1
    print(("ok: " if ok else "FAIL: ") + label + ("" if ok else ": %s" % (detail,)))
    return ok


def summary():
    """Prints "N passed, N failed"; the exit status: 1 when a check failed."""
    print("%d passed, %d failed" % tuple(COUNTS))
    return 1 if COUNTS[1] else 0
