#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Reference model of Tonewell's sound chip, dump loader and block renderer.

Written in plain Python as an independent second implementation, so that the
C++ offline renderer can be compared with it sample for sample.

Usage: refmodel.py [--frames N] [--level L] DUMP
writes raw frames (signed 16-bit little-endian, left then right) to stdout,
exactly what `tonewell-render [--frames N] [--level L] DUMP -` writes.

Importable pieces:
  f32(x)                    round a double to single precision
  trim_spaces, text_field, upper_case, hex_byte, hex_pair   text rules
  split_lines(data)         the line reader's view of a file's bytes
  load_dump(data)           list of frames, each a tuple of ten row values
  Psg                       the chip: write_group, read_group, reset,
                            set_output_level, run(n), render_frames(n)
  Sequencer                 the 50 Hz tick over a loaded dump
  render_dump(frames, n)    post-filter output values of n sample frames
  iter_render(frames, n)    the same in pieces, for long renders
  to_pcm(values, level)     those values turned into s16le bytes at a level
"""

import math
import re
import struct
import sys
from array import array

# ---------------------------------------------------------------------------
# Numbers

_F32 = struct.Struct("<f")
_U32 = struct.Struct("<I")


def f32(x):
    """Round a Python float (a double) to the nearest single-precision value."""
    return _F32.unpack(_F32.pack(x))[0]


def f32_from_bits(bits):
    return _F32.unpack(_U32.pack(bits))[0]


def f32_bits(x):
    return _U32.unpack(_F32.pack(x))[0]


CLOCK_HZ = 1750000
CLOCK_DIV8 = CLOCK_HZ // 8                       # 218750
SAMPLE_RATE = 44100
SAMPLES_PER_TICK = SAMPLE_RATE // 50             # 882
MAX_DUMP_FRAMES = 32787

PERIOD_STEP = f32(CLOCK_DIV8 / SAMPLE_RATE)      # 4.960317611694336
ENVELOPE_INCREMENT = f32_from_bits(0x3F80240B)   # 8397835 / 8388608
FILTER_INPUT_WEIGHT = f32(0.85)                  # bits 0x3F59999A
FILTER_STATE_WEIGHT = f32(0.99)                  # bits 0x3F7D70A4
DEFAULT_LEVEL = 0.85

VOLUME_TABLE = tuple(float(v) for v in (
    0, 30, 190, 286, 375, 470, 560, 664,
    866, 1130, 1515, 1803, 2253, 2848, 3351, 3862,
    4844, 6058, 7290, 8559, 10474, 12878, 15297, 17787,
    21500, 26172, 30866, 35676, 42664, 50986, 58842, 65535))


def clamp_level(level):
    """The output level rule: NaN and negatives give 0.0, above 1.0 gives 1.0;
    the result is a single-precision value."""
    if math.isnan(level) or level < 0.0:
        return 0.0
    if level > 1.0:
        return 1.0
    return f32(level)


# ---------------------------------------------------------------------------
# Text rules (texts are bytes objects: 8-bit codes, never containing 0)

def trim_spaces(text):
    """Remove code 32 at both ends; tabs, CR and LF stay."""
    return text.strip(b" ")


def text_field(text, index, separator):
    """Field number `index` (1-based, below 1 counts as 1) of `text`, split at
    every occurrence of the separator's first character."""
    if index < 1:
        index = 1
    if not separator:
        return text if index == 1 else b""
    fields = text.split(separator[:1])
    return fields[index - 1] if index <= len(fields) else b""


_UPPER = bytes(c - 32 if (97 <= c <= 122 or c >= 224) else c for c in range(256))


def upper_case(text):
    """a..z and the codes 224..255 are lowered by 32; nothing else changes."""
    return text.translate(_UPPER)


def _digit(code):
    d = code - 48
    if d > 9:
        d -= 7
    return d


def hex_byte(text):
    """Value of one dump field: first and last character as hex digits, any
    other character yielding some digit, an empty text reading as codes 0."""
    text = upper_case(text)
    if text:
        h, l = text[0], text[-1]
    else:
        h = l = 0
    return _digit(h) * 16 + _digit(l)


def hex_pair(low, high):
    if len(high) >= 1:
        return hex_byte(high) * 256 + hex_byte(low)
    return hex_byte(low)


# ---------------------------------------------------------------------------
# Line reader and loader

_TERMINATOR = re.compile(rb"\r\n|\r|\n|\x00")


def split_lines(data):
    """The lines of a file's bytes: CR LF, LF, a lone CR and NUL each end a
    line; a final terminator does not start another (empty) line."""
    lines = _TERMINATOR.split(data)
    if lines and lines[-1] == b"":
        lines.pop()          # empty file, or the file ends with a terminator
    return lines


def parse_line(line):
    """One non-blank, already trimmed line -> the ten row values of a frame."""
    f = line.split(b" ")
    f += [b""] * (14 - len(f))
    return (hex_pair(f[0], f[1]), hex_pair(f[2], f[3]), hex_pair(f[4], f[5]),
            hex_byte(f[6]), hex_byte(f[7]), hex_byte(f[8]), hex_byte(f[9]),
            hex_byte(f[10]), hex_pair(f[11], f[12]), hex_byte(f[13]))


def load_dump(data):
    """Frames of a dump file's bytes, at most MAX_DUMP_FRAMES of them."""
    frames = []
    for line in split_lines(data):
        line = trim_spaces(line)
        if not line:
            continue
        if len(frames) >= MAX_DUMP_FRAMES:
            break
        frames.append(parse_line(line))
    return frames


# ---------------------------------------------------------------------------
# Envelope steppers: (index, flag) -> (index, flag); the level is
# VOLUME_TABLE[index] after the step.

def step_decay_then_low(i, fl):
    if fl == 0:
        i -= 1
        if i < 0:
            i, fl = 0, 1
    return i, fl


def step_attack_then_low(i, fl):
    if fl == 0:
        i += 1
        if i > 31:
            i, fl = 0, 1
    return i, fl


def step_saw_down(i, fl):
    return (i - 1) & 31, fl


def step_triangle_down_first(i, fl):
    if fl == 0:
        i -= 1
        if i < 0:
            i, fl = 0, 1
    else:
        i += 1
        if i > 31:
            i, fl = 31, 0
    return i, fl


def step_decay_then_high(i, fl):
    if fl == 0:
        i -= 1
        if i < 0:
            i, fl = 31, 1
    return i, fl


def step_saw_up(i, fl):
    return (i + 1) & 31, fl


def step_attack_then_high(i, fl):
    i += 1
    if i > 31:
        i = 31
    return i, fl


def step_triangle_up_first(i, fl):
    if fl == 0:
        i += 1
        if i > 31:
            i, fl = 31, 1
    else:
        i -= 1
        if i < 0:
            i, fl = 0, 0
    return i, fl


SHAPE_STEPPERS = (
    step_decay_then_low, step_decay_then_low, step_decay_then_low, step_decay_then_low,
    step_attack_then_low, step_attack_then_low, step_attack_then_low, step_attack_then_low,
    step_saw_down, step_decay_then_low, step_triangle_down_first, step_decay_then_high,
    step_saw_up, step_attack_then_high, step_triangle_up_first, step_attack_then_low)


# ---------------------------------------------------------------------------
# The chip

VOICE_BITS = ((0, 1), (1, 2), (2, 4))            # each voice and its square's bit in a mix index


class Psg:
    """Sound chip state. Per-voice fields are 3-element lists (A, B, C);
    float fields always hold single-precision values."""

    _MASKS = (0xFFF, 0xFFF, 0xFFF, 0x1F, 0x3F, 0x1F, 0x1F, 0x1F, 0xFFFF, 0xF)

    def __init__(self):
        # start-up values; the renderer is always preceded by reset()
        self.output_gain = 1.0
        self.filter_enabled = 1
        self.regs = [0] * 10
        self.period_limit = [0.0] * 3
        self.phase = [0.0] * 3
        self.square = [0] * 3
        self.fixed_amp = [0.0] * 3
        self.env_mode = [0] * 3
        self.tone_en = [0] * 3
        self.noise_en = [0] * 3
        self.active = [1] * 3
        self.noise_limit = 0.0
        self.noise_phase = 0.0
        self.noise_shift = 0xFFFF
        self.noise_out = 0
        self.env_limit = 0.0
        self.env_phase = 0.0
        self.env_index = 0
        self.env_flag = 0
        self.env_stepper = step_decay_then_low
        self.env_level = 0.0
        self.filter_left = 0.0
        self.filter_right = 0.0
        self._tables = {}

    # -- register interface ------------------------------------------------
    def write_group(self, group, value):
        if not 0 <= group <= 9:
            return 0
        v = value & self._MASKS[group]
        self.regs[group] = v
        if group <= 2:
            self.period_limit[group] = f32(v / PERIOD_STEP)
        elif group == 3:
            self.noise_limit = f32(v / PERIOD_STEP)
        elif group == 4:
            for k in range(3):
                self.tone_en[k] = 1 - ((v >> k) & 1)
                self.noise_en[k] = 1 - ((v >> (k + 3)) & 1)
                self.active[k] = 1 if (self.tone_en[k] or self.noise_en[k]) else 0
        elif group <= 7:
            k = group - 5
            self.fixed_amp[k] = VOLUME_TABLE[2 * (v & 15) + 1]
            self.env_mode[k] = v & 16
        elif group == 8:
            self.env_limit = f32(v / PERIOD_STEP)
        else:
            self.env_index = -1 if v & 4 else 32
            self.env_flag = 0
            self.env_stepper = SHAPE_STEPPERS[v]
        self._tables = {}
        return 0

    def read_group(self, group):
        return self.regs[group] if 0 <= group <= 9 else 0

    def reset(self):
        for g in range(10):
            self.write_group(g, 0)
        self.square = [0] * 3
        self.phase = [0.0] * 3
        self.noise_phase = 0.0
        self.noise_out = 0
        self.env_phase = 0.0
        self.env_level = 0.0
        self.filter_left = 0.0
        self.filter_right = 0.0
        self.noise_shift = 0xFFFF
        return 0

    def set_output_level(self, level):
        self.output_gain = clamp_level(level)
        return 0

    # -- rendering -----------------------------------------------------------
    def _mix_table(self, level):
        """Left and right mix for each combination of the three square
        outputs (bits 0-2) and the noise bit (bit 3) at an envelope level."""
        tl = [0.0] * 16
        tr = [0.0] * 16
        amps = [level if self.env_mode[k] else self.fixed_amp[k] for k in range(3)]
        for idx in range(16):
            noise = (idx >> 3) & 1
            v = []
            for k in range(3):
                gate = self.active[k]
                if self.tone_en[k]:
                    gate = (idx >> k) & 1
                if self.noise_en[k]:
                    gate &= noise
                v.append(amps[k] * (gate - 0.5))
            tl[idx] = v[0] * 0.5 + v[2] * 0.25
            tr[idx] = v[1] * 0.5 + v[2] * 0.25
        return tl, tr

    def _tables_for(self, level):
        t = self._tables.get(level)
        if t is None:
            t = self._tables[level] = self._mix_table(level)
        return t

    def run(self, n, out=None):
        """Advance the chip by n sample frames. Appends the two outputs of each
        frame (filtered, or the plain mixes with the filter off), as doubles
        before the gain, to `out` and returns it."""
        if out is None:
            out = []
        app = out.append
        r = array("f", [0.0])
        limits = self.period_limit
        phases = self.phase[:]
        squares = self.square[0] | self.square[1] << 1 | self.square[2] << 2   # bit k: voice k's square
        ln = self.noise_limit
        pn = self.noise_phase
        ns = self.noise_shift & 0x1FFFF     # bits above 16 never reach the output
        nb = self.noise_out << 3
        le = self.env_limit
        pe = self.env_phase
        einc = ENVELOPE_INCREMENT
        ei, ef = self.env_index, self.env_flag
        stepper = self.env_stepper
        level = self.env_level
        uses_env = any(self.env_mode)
        tl, tr = self._tables_for(level if uses_env else None)
        fe = self.filter_enabled
        fl, fr = self.filter_left, self.filter_right
        sw, iw = FILTER_STATE_WEIGHT, FILTER_INPUT_WEIGHT
        vol = VOLUME_TABLE
        for _ in range(n):
            for k, bit in VOICE_BITS:
                r[0] = phases[k] + 1.0
                p = r[0]
                if p >= limits[k]:
                    r[0] = p - limits[k]
                    p = r[0]
                    squares ^= bit
                phases[k] = p
            r[0] = pe + einc
            pe = r[0]
            if pe >= le:
                r[0] = pe - le
                pe = r[0]
                ei, ef = stepper(ei, ef)
                if uses_env and vol[ei] != level:
                    tl, tr = self._tables_for(vol[ei])
                level = vol[ei]
            r[0] = pn + 1.0
            pn = r[0]
            if pn >= ln:
                r[0] = pn - ln
                pn = r[0]
                nb = (ns >> 13) & 8
                ns = (ns << 1) & 0x1FFFF
                ns |= ((ns >> 13) ^ (ns >> 16)) & 1
            idx = squares | nb
            if fe:
                r[0] = fl * sw + (tl[idx] - fl) * iw
                fl = r[0]
                r[0] = fr * sw + (tr[idx] - fr) * iw
                fr = r[0]
                app(fl)
                app(fr)
            else:
                app(tl[idx])
                app(tr[idx])
        self.phase = phases
        self.square = [squares & 1, squares >> 1 & 1, squares >> 2]
        self.noise_phase = pn
        self.noise_shift = ns
        self.noise_out = nb >> 3
        self.env_phase = pe
        self.env_index, self.env_flag = ei, ef
        self.env_level = level
        self.filter_left, self.filter_right = fl, fr
        return out

    def render_frames(self, n):
        """n frames as (left, right) integer pairs at the current gain."""
        vals = self.run(n)
        g = self.output_gain
        return [(round(g * vals[i]), round(g * vals[i + 1]))
                for i in range(0, len(vals), 2)]


# ---------------------------------------------------------------------------
# Frame sequencer and block renderer

class Sequencer:
    """The 50 Hz tick: writes frame `frame_index` of the dump into the chip."""

    def __init__(self, chip, frames, output_level=DEFAULT_LEVEL):
        self.chip = chip
        self.frames = frames
        self.frame_count = len(frames)
        self.frame_index = 0
        self.output_level = output_level
        self.channel_levels = [0, 0, 0]

    def tick(self):
        chip = self.chip
        if self.frame_count:
            row = self.frames[self.frame_index]
        else:
            row = (0,) * 10          # the zero-filled table
        for g in range(9):
            chip.write_group(g, row[g])
        if row[9] & 0xFF != 0xFF:
            chip.write_group(9, row[9])
        self.channel_levels = [chip.read_group(g) & 0xF for g in (5, 6, 7)]
        chip.set_output_level(self.output_level)
        self.frame_index += 1
        if self.frame_index >= self.frame_count:
            self.frame_index = 0
        return 0


def default_frame_total(frames):
    return SAMPLES_PER_TICK * (len(frames) + 1)


def iter_render(frames, n, ticks_per_chunk=50):
    """Yields the outputs of render_dump(frames, n) in pieces of at most
    ticks_per_chunk ticks' worth of frames, for long renders."""
    chip = Psg()
    chip.reset()
    seq = Sequencer(chip, frames)
    done = 0
    while done < n:
        out = []
        for _ in range(ticks_per_chunk):
            k = min(SAMPLES_PER_TICK, n - done)
            if k == 0:
                break
            chip.run(k, out)
            done += k
            if k == SAMPLES_PER_TICK:
                seq.tick()
        yield out


def render_dump(frames, n):
    """Post-filter outputs (interleaved left, right; doubles before the gain)
    of the first n sample frames after the stream opens. The gain is the same
    on every frame (the level set at start-up and re-applied by every tick),
    so one run serves every level."""
    out = []
    for piece in iter_render(frames, n):
        out += piece
    return out


def to_pcm(values, level):
    """Signed 16-bit little-endian bytes of output values at an output level:
    gain x value in double precision, rounded to nearest, halves to even."""
    g = clamp_level(level)
    a = array("h", [round(g * v) for v in values])
    if sys.byteorder != "little":
        a.byteswap()
    return a.tobytes()


# ---------------------------------------------------------------------------
# Command line

USAGE = "usage: refmodel.py [--frames N] [--level L] DUMP\n"


def main(argv):
    frames_arg, level, rest = None, DEFAULT_LEVEL, []
    args = iter(argv)
    try:
        for a in args:
            if a == "--frames":
                frames_arg = int(next(args))
                if frames_arg < 0:
                    raise ValueError
            elif a == "--level":
                level = float(next(args))
            elif a.startswith("--"):
                raise ValueError
            else:
                rest.append(a)
        if len(rest) != 1:
            raise ValueError
    except (StopIteration, ValueError):
        sys.stderr.write(USAGE)
        return 2
    try:
        with open(rest[0], "rb") as fh:
            data = fh.read()
    except OSError as e:
        sys.stderr.write("refmodel: cannot open %s: %s\n" % (rest[0], e))
        return 1
    frames = load_dump(data)
    n = default_frame_total(frames) if frames_arg is None else frames_arg
    for piece in iter_render(frames, n):
        sys.stdout.buffer.write(to_pcm(piece, level))
    sys.stdout.buffer.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
