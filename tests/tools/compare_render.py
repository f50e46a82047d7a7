#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Compares tonewell-render with the reference model, byte for byte.

Usage: compare_render.py --render PATH [--keep DIR] [--long]

Writes the adversarial dumps of make_dumps.py into a temporary directory,
renders each with the C++ renderer and with refmodel.py at several output
levels, and compares the raw frames. Also checks the default length, the WAV
header and the error exits. Prints one line per check and a closing
"N passed, N failed"; exits 1 when any check failed.
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.dirname(HERE))
import make_dumps  # noqa: E402
import refmodel  # noqa: E402
from e2e_support import read_file, run_tool as run  # noqa: E402

LEVELS = ("0", "0.5", "1")
DEFAULT_LEVEL_DUMPS = {"hex_case", "envelopes", "music", "long_lines", "fuzz", "full_table"}


class Results:
    passed = failed = 0

    def ok(self, what):
        self.passed += 1
        print("ok    %s" % what)

    def fail(self, what, detail):
        self.failed += 1
        print("FAIL  %s: %s" % (what, detail))


def frame_at(pcm, i):
    if 4 * i + 4 > len(pcm):
        return None
    return struct.unpack_from("<hh", pcm, 4 * i)


def first_difference(want, got):
    """Index of the first frame in which two raw outputs differ (or where one
    of them ends), or None when they are identical."""
    if want == got:
        return None
    n = min(len(want), len(got))
    step = 1 << 16
    lo = 0
    while lo < n and want[lo:lo + step] == got[lo:lo + step]:
        lo += step
    while lo < n and want[lo] == got[lo]:
        lo += 1
    return lo // 4


def compare(results, what, want, got):
    i = first_difference(want, got)
    if i is None:
        results.ok(what)
        return
    results.fail(what, "first differing frame %d: model %s, renderer %s (frames: model %d, "
                 "renderer %d%s)" % (i, frame_at(want, i), frame_at(got, i), len(want) // 4,
                                     len(got) // 4, ", renderer output not whole frames"
                                     if len(got) % 4 else ""))


def render_and_compare(results, what, want, render, path, frames=None, level=None):
    """tonewell-render's raw output (of --frames frames and --level level when given) compared
    with want, the model's."""
    p = run([render] + (["--frames", str(frames)] if frames is not None else [])
            + (["--level", level] if level is not None else []) + [path, "-"])
    if p.returncode != 0:
        results.fail(what, "renderer exit code %d: %s" % (p.returncode, p.stderr.decode("latin-1").strip()))
    else:
        compare(results, what, want, p.stdout)


def load(dump):
    return refmodel.load_dump(read_file(dump.path))


def check_dump(results, render, dump):
    frames = load(dump)
    n = dump.frames if dump.frames is not None else refmodel.default_frame_total(frames)
    values = refmodel.render_dump(frames, n)
    for level in LEVELS:
        what = "%s (%d dump frames, %d sample frames) at level %s" % (dump.name, len(frames), n, level)
        render_and_compare(results, what, refmodel.to_pcm(values, float(level)), render, dump.path, n, level)
    default = refmodel.to_pcm(values, refmodel.DEFAULT_LEVEL)
    if dump.name in DEFAULT_LEVEL_DUMPS:
        render_and_compare(results, "%s at the default level" % dump.name, default, render, dump.path, n)
    if dump.frames is None:  # whole default render: 882 x (FrameCount + 1) frames at level 0.85
        render_and_compare(results, "%s with default --frames and --level" % dump.name, default, render, dump.path)
    return frames


def check_default_length_large(results, render, dump, frames, model_prefix):
    """Default length of a long dump: counted from the pipe, with the start
    compared to the model."""
    want = refmodel.default_frame_total(frames) * 4
    what = "%s default length (%d frames) and its first %d frames" % (
        dump.name, want // 4, len(model_prefix) // 4)
    p = subprocess.Popen([render, dump.path, "-"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
    head = b""
    total = 0
    while True:
        chunk = p.stdout.read(1 << 20)
        if not chunk:
            break
        if len(head) < len(model_prefix):
            head += chunk[:len(model_prefix) - len(head)]
        total += len(chunk)
    rc = p.wait()
    if rc != 0 or total != want:
        results.fail(what, "exit code %d, %d bytes, expected %d bytes" % (rc, total, want))
        return
    compare(results, what, model_prefix, head)


def check_levels_and_lengths(results, render, dump):
    """Levels outside [0, 1] are clamped; frame counts around the
    tick boundaries give exactly that many frames."""
    values = refmodel.render_dump(load(dump), 1765)
    for level in ("1.5", "-0.25", "0.125"):
        render_and_compare(results, "%s, 1765 frames at level %s" % (dump.name, level),
                           refmodel.to_pcm(values, float(level)), render, dump.path, 1765, level)
    for n in (0, 1, 881, 882, 883, 1763, 1764, 1765):
        render_and_compare(results, "%s, --frames %d" % (dump.name, n), refmodel.to_pcm(values[:2 * n], 1.0),
                           render, dump.path, n, "1")


def check_streamed(results, render, dump, level="0.85"):
    """A whole default-length render compared piece by piece, for dumps too
    long to hold in memory."""
    frames = load(dump)
    n = refmodel.default_frame_total(frames)
    what = "%s, whole default render of %d frames at level %s" % (dump.name, n, level)
    p = subprocess.Popen([render, "--level", level, dump.path, "-"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
    done = 0
    failure = None
    for piece in refmodel.iter_render(frames, n, ticks_per_chunk=500):
        want = refmodel.to_pcm(piece, float(level))
        got = p.stdout.read(len(want))
        i = first_difference(want, got)
        if i is not None:
            failure = "first differing frame %d: model %s, renderer %s" % (
                done + i, frame_at(want, i), frame_at(got, i))
            break
        done += len(want) // 4
    extra = len(p.stdout.read()) if failure is None else 0
    rc = p.wait()
    if failure is None and (rc != 0 or extra):
        failure = "exit code %d, %d bytes beyond %d frames" % (rc, extra, n)
    if failure:
        results.fail(what, failure)
    else:
        results.ok(what)


def check_wav(results, render, tmp, dump):
    what = "WAV output of %s" % dump.name
    out = os.path.join(tmp, "out.wav")
    n = 3000
    p = run([render, "--frames", str(n), "--level", "0.5", dump.path, out])
    if p.returncode != 0 or not os.path.exists(out):
        results.fail(what, "exit code %d, file %s" % (p.returncode,
                                                       "written" if os.path.exists(out) else "missing"))
        return
    data = read_file(out)
    problems = []
    if data[0:4] != b"RIFF" or data[8:12] != b"WAVE":
        problems.append("not a RIFF WAVE file: %r" % data[:12])
    elif struct.unpack_from("<I", data, 4)[0] != len(data) - 8:
        problems.append("RIFF size %d, file size %d" % (struct.unpack_from("<I", data, 4)[0], len(data)))
    chunks = {}
    pos = 12
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        chunks.setdefault(cid, data[pos + 8:pos + 8 + size])
        pos += 8 + size + (size & 1)
    fmt = chunks.get(b"fmt ")
    if fmt is None or len(fmt) < 16:
        problems.append("no fmt chunk")
    else:
        got = struct.unpack_from("<HHIIHH", fmt, 0)
        if got != (1, 2, 44100, 176400, 4, 16):
            problems.append("fmt (tag, channels, rate, bytes/s, align, bits) = %s" % (got,))
    body = chunks.get(b"data")
    want = refmodel.to_pcm(refmodel.render_dump(load(dump), n), 0.5)
    if body is None:
        problems.append("no data chunk")
    elif body != want:
        i = first_difference(want, body)
        problems.append("data differs from the model at frame %s (%d of %d bytes)"
                        % (i, len(body), len(want)))
    if problems:
        results.fail(what, "; ".join(problems))
    else:
        results.ok(what)


def check_exits(results, render, tmp, dump):
    missing = os.path.join(tmp, "no-such-dump.txt")
    cases = [
        ("no arguments", [], 2),
        ("only DUMP", [dump], 2),
        ("three positional arguments", [dump, "-", "extra"], 2),
        ("unknown option", ["--bogus", dump, "-"], 2),
        ("--frames without a value", [dump, "-", "--frames"], 2),
        ("--level without a value", [dump, "-", "--level"], 2),
        ("a level that is not a number", ["--level", "nan", dump, "-"], 2),
        ("missing DUMP", [missing, "-"], 1),
        ("missing DUMP with --frames", ["--frames", "10", missing, "-"], 1),
    ]
    for what, args, code in cases:
        p = run([render] + args)
        if p.returncode == code:
            results.ok("exit %d for %s" % (code, what))
        else:
            results.fail("exit code for %s" % what, "expected %d, got %d" % (code, p.returncode))
    bad = "/nonexistent/x.wav"
    p = run([render, "--frames", "100", dump, bad])
    if p.returncode == 1 and not os.path.exists(bad):
        results.ok("exit 1 and no file for unwritable %s" % bad)
    else:
        results.fail("unwritable OUT", "exit code %d, file %s" % (
            p.returncode, "left behind" if os.path.exists(bad) else "absent"))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--render", required=True, help="path of tonewell-render")
    ap.add_argument("--keep", help="write the dumps into this directory and keep them")
    ap.add_argument("--long", action="store_true",
                    help="also render the long dumps in full (several minutes of audio each)")
    args = ap.parse_args()
    if not os.access(args.render, os.X_OK):
        print("renderer not found or not executable: %s" % args.render)
        print("0 passed, 1 failed")
        return 1
    started = time.monotonic()
    results = Results()
    with tempfile.TemporaryDirectory(prefix="tonewell-e2e-") as tmp:
        dump_dir = args.keep or os.path.join(tmp, "dumps")
        dumps = make_dumps.make_dumps(dump_dir, long=args.long)
        by_name = {d.name: d for d in dumps}
        loaded = {}
        for name, _ in make_dumps.DUMPS:
            loaded[name] = check_dump(results, args.render, by_name[name])
        for name, _ in make_dumps.LONG_DUMPS if args.long else []:
            check_streamed(results, args.render, by_name[name])
        for name in ("full_table", "over_table"):
            d = by_name[name]
            prefix = refmodel.to_pcm(refmodel.render_dump(loaded[name], d.frames), 0.85)
            check_default_length_large(results, args.render, d, loaded[name], prefix)
        check_levels_and_lengths(results, args.render, by_name["three_frames"])
        check_wav(results, args.render, tmp, by_name["music"])
        check_exits(results, args.render, tmp, by_name["one_frame"].path)
    print("time %.1f s" % (time.monotonic() - started))
    print("%d passed, %d failed" % (results.passed, results.failed))
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())
