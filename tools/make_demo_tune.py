#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Generate Tonewell's bundled demo tune, music/dump.txt.

The tune is an original three-voice arrangement of the "Ode to Joy" theme
from the finale of Beethoven's Symphony No. 9 (1824, public domain).

Layout (125 bpm, 24 frames per quarter note, 50 frames per second):
  intro   2 bars  D major: plucked bass (envelope shape 9) and drums
  pass 1 16 bars  D major: melody on A, plucked bass on B,
                  one-frame chord arpeggio on C
  pass 2 16 bars  E major: melody with vibrato on A, sawtooth "buzz" bass
                  on B (envelope shape 8, envelope period locked to the
                  tone period), harmony line a third/sixth below on C
  ending  2 bars  held tonic, long bass decay (envelope shape 0), crash
  silence 1 s     so the loop point is clean

Drums live on voice C: hi-hats and snares are noise hits that take the
voice over for a few frames and decay by stepping the volume down; the kick
is a quick downward pitch blip at the start of a bass note.

Every frame is written as one line of 14 upper-case hex fields
(R0..R12 and the envelope shape, FF when the shape is not written).
The output is fully deterministic.

Usage: python3 tools/make_demo_tune.py OUTPUT
"""

import math
import sys

CLOCK = 1750000          # PSG clock in Hz
BEAT = 24                # frames per quarter note
HALF = 2 * BEAT
BAR = 4 * BEAT
SILENCE = 50             # trailing silent frames
NO_SHAPE = 0xFF

# Mixer bits (a set bit disables).
TONE_OFF = (1, 2, 4)
NOISE_OFF = (8, 16, 32)
ENV = 0x10               # volume value selecting envelope mode

PLUCK_EP = 2600          # shape 9 decay of ~0.38 s
FINAL_EP = 13600         # shape 0 decay of ~2 s for the last bass note
PLUCK_SHAPE = 9
BUZZ_SHAPE = 8
FINAL_SHAPE = 0

NOTE_PC = {'C': 0, 'C#': 1, 'D': 2, 'D#': 3, 'E': 4, 'F': 5, 'F#': 6,
           'G': 7, 'G#': 8, 'A': 9, 'A#': 10, 'B': 11}


def midi(name):
    return 12 * (int(name[-1]) + 1) + NOTE_PC[name[:-1]]


def freq(m):
    return 440.0 * 2.0 ** ((m - 69) / 12.0)


def tone_period(m):
    return round(CLOCK / (16.0 * freq(m)))


def parse_line(text):
    """'F#5:1 E5:.5 r:2' -> [(midi or None, frames), ...]."""
    notes = []
    for tok in text.split():
        name, beats = tok.split(':')
        frames = float(beats) * BEAT
        assert frames == int(frames), tok
        notes.append((None if name == 'r' else midi(name), int(frames)))
    return notes


# ---------------------------------------------------------------- the score
# Written in D major; pass 2 is transposed up a whole tone.
PHRASE_A = 'F#5:1 F#5:1 G5:1 A5:1 A5:1 G5:1 F#5:1 E5:1 D5:1 D5:1 E5:1 F#5:1 '
MELODY = parse_line(
    PHRASE_A + 'F#5:1.5 E5:.5 E5:2 ' +
    PHRASE_A + 'E5:1.5 D5:.5 D5:2 ' +
    'E5:1 E5:1 F#5:1 D5:1 E5:1 F#5:.5 G5:.5 F#5:1 D5:1 '
    'E5:1 F#5:.5 G5:.5 F#5:1 E5:1 D5:1 E5:1 A4:2 ' +
    PHRASE_A + 'E5:1.5 D5:.5 D5:2')

# One chord per half bar.
CHORD_TONES = {'D': (2, (0, 4, 7)), 'A': (9, (0, 4, 7)),
               'A7': (9, (0, 4, 7, 10)), 'Bm': (11, (0, 3, 7)),
               'E7': (4, (0, 4, 7, 10))}
_A1 = 'D D A7 A D D D A'
_A2 = 'D D A7 A D D A D'
CHORDS = (_A1 + ' ' + _A2 + ' A D A D A Bm E7 A ' + _A2).split()
INTRO_CHORDS = 'D D A A'.split()
D_MAJOR = (2, 4, 6, 7, 9, 11, 1)

assert sum(n for _, n in MELODY) == 16 * BAR
assert len(CHORDS) == 32


def chord_pcs(name, transpose):
    root, ivs = CHORD_TONES[name]
    return [(root + i + transpose) % 12 for i in ivs]


def place(pc, lo):
    """Lowest MIDI note with pitch class pc at or above lo."""
    return lo + (pc - lo) % 12


def harmony_below(m, chord):
    """Harmony note under melody note m (both untransposed, D major):
    the diatonic third below when it belongs to the chord, otherwise the
    nearest chord tone 3..9 semitones below."""
    deg = D_MAJOR.index(m % 12)
    pc = D_MAJOR[(deg - 2) % 7]
    cand = m - 1 - (m - 1 - pc) % 12
    if pc in chord_pcs(chord, 0):
        return cand
    below = [m - d for d in range(3, 10) if (m - d) % 12 in chord_pcs(chord, 0)]
    return below[0]


def buzz_ep(m):
    """Envelope period for a sawtooth at the pitch of m, in the octave
    (within the bass range) where the rounding error is smallest."""
    best = None
    for cand in range(m - 24, m + 25, 12):
        if not 33 <= cand <= 52:
            continue
        exact = CLOCK / (256.0 * freq(cand))
        ep = round(exact)
        cents = abs(1200.0 * math.log2(exact / ep))
        if best is None or cents < best[0]:
            best = (cents, ep)
    assert best[0] < 15.0, (m, best)
    return best[1]


# -------------------------------------------------------------- the frames
class Song:
    def __init__(self, frames):
        self.n = frames
        self.period = [[None] * frames for _ in range(3)]
        self.vol = [[0] * frames for _ in range(3)]
        self.tone_on = [[True] * frames for _ in range(3)]
        self.noise_on = [[False] * frames for _ in range(3)]
        self.noise_period = [None] * frames
        self.env_period = [None] * frames
        self.shape = [NO_SHAPE] * frames

    def env_note(self, f, shape, ep):
        self.shape[f] = shape
        self.env_period[f] = ep

    def lines(self):
        last_p = [tone_period(midi('A4'))] * 3
        last_noise = 0x0C
        last_ep = PLUCK_EP
        out = []
        for f in range(self.n):
            regs = []
            for v in range(3):
                if self.period[v][f] is not None:
                    last_p[v] = self.period[v][f]
                assert 0 < last_p[v] <= 0xFFF
                regs += [last_p[v] & 0xFF, last_p[v] >> 8]
            if self.noise_period[f] is not None:
                last_noise = self.noise_period[f]
            regs.append(last_noise)
            mixer = 0
            for v in range(3):
                if not self.tone_on[v][f]:
                    mixer |= TONE_OFF[v]
                if not self.noise_on[v][f]:
                    mixer |= NOISE_OFF[v]
            regs.append(mixer)
            regs += [self.vol[v][f] for v in range(3)]
            if self.env_period[f] is not None:
                last_ep = self.env_period[f]
            regs += [last_ep & 0xFF, last_ep >> 8, self.shape[f]]
            out.append(' '.join('%02X' % r for r in regs))
        return out


VIBRATO = (0, 0.5, 1, 0.5, 0, -0.5, -1, -0.5)


def lead_volume(i, n, top):
    if i == n - 1 and n > 6:
        return max(top - 7, 0)          # short release between notes
    v = top - min(i, 2)
    if i >= BEAT:
        v -= min(1 + (i - BEAT) // 12, 3)
    return v


def play_line(song, v, start, notes, transpose, top, vibrato=False,
              fade_last=False):
    """Melodic line on voice v. With fade_last the final note fades out
    to silence over its whole length instead of the usual shape."""
    f = start
    for idx, (m, n) in enumerate(notes):
        last = idx == len(notes) - 1
        for i in range(n):
            if m is None:
                song.vol[v][f + i] = 0
                continue
            p = tone_period(m + transpose)
            if vibrato and i >= 12:
                p += round(p * 0.006 * VIBRATO[(i - 12) % len(VIBRATO)])
            song.period[v][f + i] = p
            if last and fade_last:
                song.vol[v][f + i] = max(0, round((top - 2) * (1 - i / n)))
                if i == 0:
                    song.vol[v][f] = top
            else:
                song.vol[v][f + i] = lead_volume(i, n, top)
        f += n


def arpeggio(song, v, start, chords, transpose, top, lo=57):
    """One-frame arpeggio through the chord tones, a chord per half bar."""
    for c, name in enumerate(chords):
        tones = sorted(place(pc, lo + transpose)
                       for pc in chord_pcs(name, transpose))
        for i in range(HALF):
            f = start + c * HALF + i
            song.period[v][f] = tone_period(tones[f % len(tones)])
            song.vol[v][f] = max(top - i // 12, top - 3)


def pluck_bass(song, start, chords, transpose):
    """Voice B: root and fifth in quarter notes, plucked with envelope
    shape 9; a kick blip at the start of every half bar."""
    for c, name in enumerate(chords):
        root_pc = (CHORD_TONES[name][0] + transpose) % 12
        root = place(root_pc, 38)
        for beat, m in enumerate((root, root + 7)):
            f = start + c * HALF + beat * BEAT
            p = tone_period(m)
            song.env_note(f, PLUCK_SHAPE, PLUCK_EP)
            for i in range(BEAT):
                song.period[1][f + i] = p
                song.vol[1][f + i] = ENV
            if beat == 0:
                song.period[1][f] = p // 2
                song.period[1][f + 1] = p * 3 // 4


def buzz_bass(song, start, chords, transpose):
    """Voice B: eighth-note roots on a sawtooth envelope (shape 8) whose
    period is locked to the tone period, so the two stay in tune."""
    for c, name in enumerate(chords):
        root_pc = (CHORD_TONES[name][0] + transpose) % 12
        ep = buzz_ep(place(root_pc, 40))
        for k in range(4):
            f = start + c * HALF + k * (BEAT // 2)
            song.env_note(f, BUZZ_SHAPE, ep)
            for i in range(BEAT // 2):
                song.period[1][f + i] = 16 * ep
                song.vol[1][f + i] = ENV if i < BEAT // 2 - 1 else 0


# Drum hits on voice C: (noise period, volume per frame, tone on frame 0).
HAT = (1, (10, 7, 4), False)
SNARE = (12, (15, 13, 11, 9, 6, 3), True)
FILL = (10, (13, 10, 7, 4, 2), True)
CRASH = (3, tuple(max(0, 15 - i // 2) for i in range(30)), False)
SNARE_BODY = 0x1C0


def hit(song, f, drum):
    noise, vols, body = drum
    song.noise_period[f] = noise
    for i, vol in enumerate(vols):
        song.noise_on[2][f + i] = True
        song.tone_on[2][f + i] = body and i == 0
        song.vol[2][f + i] = vol
        if body and i == 0:
            song.period[2][f] = SNARE_BODY


def drum_bar(song, start, fill=False):
    for off in (BEAT // 2, BEAT + BEAT // 2, 2 * BEAT + BEAT // 2):
        hit(song, start + off, HAT)
    hit(song, start + BEAT, SNARE)
    if fill:
        for k in range(4):
            hit(song, start + 3 * BEAT + k * BEAT // 4, FILL)
    else:
        hit(song, start + 3 * BEAT, SNARE)
        hit(song, start + 3 * BEAT + BEAT // 2, HAT)


def build():
    intro, p1 = 0, 2 * BAR
    p2 = p1 + 16 * BAR
    end = p2 + 16 * BAR
    total = end + 2 * BAR + SILENCE
    song = Song(total)

    # Intro: bass and drums.
    pluck_bass(song, intro, INTRO_CHORDS, 0)
    for b in range(2):
        drum_bar(song, intro + b * BAR, fill=b == 1)

    # Pass 1, D major.
    play_line(song, 0, p1, MELODY, 0, 13)
    pluck_bass(song, p1, CHORDS, 0)
    arpeggio(song, 2, p1, CHORDS, 0, 9)
    for b in range(16):
        drum_bar(song, p1 + b * BAR, fill=b == 15)

    # Pass 2, up a whole tone: vibrato lead, buzz bass, harmony on C.
    # The last melody note is held through the ending and faded out.
    last_m, last_n = MELODY[-1]
    melody2 = MELODY[:-1] + [(last_m, last_n + 2 * BAR)]
    play_line(song, 0, p2, melody2, 2, 14, vibrato=True, fade_last=True)
    buzz_bass(song, p2, CHORDS, 2)
    harmony = []
    f = 0
    for m, n in MELODY:
        harmony.append((harmony_below(m, CHORDS[f // HALF]), n))
        f += n
    # End on the major third (a sixth under the tonic) rather than the
    # bare fifth, so the final chord is complete.
    harmony[-1] = (last_m - 8, harmony[-1][1] + 2 * BAR)
    play_line(song, 2, p2, harmony, 2, 10, fade_last=True)
    for b in range(16):
        drum_bar(song, p2 + b * BAR, fill=b == 15)

    # Ending: low tonic ringing out on a long shape-0 decay, and a crash.
    tonic = place((2 + 2) % 12, 36)
    song.env_note(end, FINAL_SHAPE, FINAL_EP)
    for i in range(2 * BAR):
        song.period[1][end + i] = tone_period(tonic)
        song.vol[1][end + i] = ENV
    hit(song, end, CRASH)
    # The trailing frames keep the default: every volume 0, noise off.
    return song


def main(argv):
    if len(argv) != 2:
        sys.stderr.write('usage: make_demo_tune.py OUTPUT\n')
        return 2
    text = '\n'.join(build().lines()) + '\n'
    with open(argv[1], 'w', encoding='ascii', newline='\n') as fh:
        fh.write(text)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
