#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Runs one program inside a private X server (tests/e2e_support.py's X11Session), optionally
with a window manager, and exits with the program's exit code:

    x11_session.py [--wm] -- PROGRAM ARGS...

Scripts that import X11Session, wait_for and die_with_parent from here get e2e_support's.
"""
import os
import signal
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from e2e_support import MANAGERS, X11Session, die_with_parent, wait_for  # noqa: E402,F401


def main(argv):
    # A terminated test still takes its X server down (the with-block's exit runs).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    wm = bool(argv) and argv[0] == "--wm"
    if argv and argv[0] in ("--wm", "--no-wm"):
        argv = argv[1:]
    if not argv or argv[0] != "--" or len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    with X11Session(window_manager=wm) as session:
        return subprocess.run(argv[1:], env=session.env, preexec_fn=die_with_parent).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
