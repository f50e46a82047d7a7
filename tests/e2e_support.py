"""What the player's end-to-end scripts share: the failure type, the one polling helper, the
reference render through tonewell-render and the tick-by-tick comparison of recorded sound with
references. Each script keeps only what drives its own interface (an X server, a tmux pane).
"""
import subprocess
import time

FRAME_BYTES = 4    # s16le stereo
TICK_FRAMES = 882  # sample frames per 50 Hz tick of the frame sequencer
POLL_S = 0.02
WAIT_S = 20.0      # default bound on a wait for the player


class Failure(Exception):
    """A check of a case failed; the message says which."""


class WaitTimeout(Failure, TimeoutError):
    """A poll_until that ran out of time."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def poll_until(probe, what, timeout_s=WAIT_S, interval_s=POLL_S):
    """Calls probe() until it returns something true, which is returned; raises WaitTimeout
    after timeout_s."""
    deadline = time.monotonic() + timeout_s
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise WaitTimeout("timed out after %.1f s waiting for %s" % (timeout_s, what))
        time.sleep(interval_s)


def render_reference(render, dump, frames, level, out="-"):
    """tonewell-render's raw frames of dump (frames frames at output level `level`, a string as
    the renderer reads it), through standard output or the raw file out."""
    result = subprocess.run([render, "--frames", str(frames), "--level", level, dump, out],
                            stdout=subprocess.PIPE, check=True)
    if out == "-":
        return result.stdout
    with open(out, "rb") as f:
        return f.read()


def tick_matches(audio, start, references, first_tick=0):
    """Cuts audio (raw frames) from frame `start` into complete ticks, from tick first_tick on,
    and yields (tick, piece, keys): the keys of the references (a dict of raw frames, in its
    order) whose same tick equals the piece sample for sample."""
    size = TICK_FRAMES * FRAME_BYTES
    tick = first_tick
    while True:
        at = (start + tick * TICK_FRAMES) * FRAME_BYTES
        piece = audio[at:at + size]
        if len(piece) < size:
            return
        r0 = tick * size
        yield tick, piece, [key for key, ref in references.items() if ref[r0:r0 + size] == piece]
        tick += 1
