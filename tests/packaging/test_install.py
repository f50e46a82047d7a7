#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""The installed programs, run from a DESTDIR copy of the installation in a working
directory with no source tree around:

    test_install.py --stage DIR --prefix /usr --build-render RENDER --source-tune DUMP [CASE...]

CASE:
  stage      installs the build (cmake --install BUILD --prefix PREFIX) into DIR afresh
             (extra: --cmake CMAKE --build BUILD)
  layout     the installed files are where they belong
  render     the installed tonewell-render of the installed demo tune equals the build tree's
             render of the source tree's tune, byte for byte
  play-demo  the installed tonewell-play without a file plays the demo tune in Xvfb (SDL's
             disk driver): after the silent lap, the sound is tonewell-render's; SIGTERM to
             tonewell-play ends the player with status 0 and no temporary folder is left
  play-ym    the same with a generated YM5 file, packed and unpacked, through the installed
             tonewell-convert; Alt+F4 closes it (exits 77, "skipped", without a converter)
  mime       xdg-mime names audio/x-ym for YM5 files (packed and unpacked, with and without
             the .ym name), audio/x-psg, audio/x-zxay, audio/x-vtx, audio/x-pt3 (by content too)
             and audio/x-pt2, after update-mime-database on a copy; GIO names .stc and .asc
             modules audio/x-stc and audio/x-asc, a text .asc text/plain
  desktop    desktop-file-validate accepts the installed entry; its Exec and MimeType fit
  man        every installed manual page formats with man and names its program
"""
import gzip
import os
import shutil
import signal
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "formats"))
import make_stc_asc_modules  # noqa: E402
import make_ym  # noqa: E402
from e2e_support import FRAME_BYTES, RING_FRAMES, SAMPLE_RATE, Case, Failure, check, main, sound_start  # noqa: E402
from tonewell_constants import PLAYER_CHIP_CLOCK_HZ, ZX_SPECTRUM_CLOCK_HZ  # noqa: E402

PROGRAMS = ["tonewell", "tonewell-render", "tonewell-play"]
PAGES = ["tonewell", "tonewell-render", "tonewell-convert", "tonewell-play"]
WAIT_S = 20.0
TITLE_PATTERN = r"^Tonewell =\)$"

args = None


def root():
    return os.path.join(args.stage, args.prefix.lstrip("/"))


def installed(*parts):
    return os.path.join(root(), *parts)


def bindir():
    return installed("bin")


def no_source_dir():
    """A fresh working directory far from the source and build trees."""
    return tempfile.mkdtemp(prefix="tonewell-installed-run-")


def run(cmd, **kwargs):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120, **kwargs)


def reference_sound(dump_path, work, frames=4 * SAMPLE_RATE):
    out = os.path.join(work, "reference.raw")
    done = run([args.build_render, "--frames", str(frames), dump_path, out])
    check(done.returncode == 0, "tonewell-render of the reference failed: %s" % done.stderr.decode())
    with open(out, "rb") as fh:
        return fh.read()


def play_in_x(play_args, reference, close, env_extra=None):
    """Runs the installed tonewell-play in a private X server with SDL's disk driver; waits
    for the window and for two seconds of sound after the silent lap; ends it by close
    ("sigterm" to tonewell-play, or "alt-f4" on the window). Checks the exit status 0, the
    sound against reference and that TMPDIR is empty afterwards."""
    from e2e_support import X11Session, die_with_parent, wait_for
    work = no_source_dir()
    tmp = os.path.join(work, "tmp")
    os.makedirs(tmp)
    sound = os.path.join(work, "sound.raw")
    try:
        with X11Session(window_manager=True) as session:
            env = dict(session.env, TMPDIR=tmp, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=sound,
                       HOME=work, XDG_RUNTIME_DIR=work)
            env.update(env_extra or {})
            errors = open(os.path.join(work, "stderr.txt"), "wb")
            proc = subprocess.Popen([os.path.join(bindir(), "tonewell-play")] + play_args, cwd=work, env=env,
                                    stdout=subprocess.DEVNULL, stderr=errors, preexec_fn=die_with_parent)
            try:
                def window():
                    if proc.poll() is not None:
                        raise Failure("tonewell-play ended early (%d): %s" %
                                      (proc.returncode, open(errors.name, "rb").read().decode(errors="replace")))
                    ids = session.run(["xdotool", "search", "--name", TITLE_PATTERN], check=False).split()
                    return ids[0] if ids else None
                win = wait_for(window, WAIT_S, "the player's window")
                folders = os.listdir(tmp)
                check(len(folders) == 1 and folders[0].startswith("tonewell-play-"),
                      "expected one temporary folder, found %r" % folders)
                def two_seconds():
                    if not os.path.exists(sound):
                        return False
                    with open(sound, "rb") as fh:
                        data = fh.read()
                    start = sound_start(data, reference)
                    return start is not None and len(data) >= (start + 2 * SAMPLE_RATE) * FRAME_BYTES
                wait_for(two_seconds, 60.0, "two seconds of the rendered sound")
                if close == "sigterm":
                    proc.send_signal(signal.SIGTERM)
                else:
                    session.run(["xdotool", "windowactivate", "--sync", win], check=False)
                    session.run(["xdotool", "key", "--clearmodifiers", "alt+F4"])
                code = proc.wait(timeout=WAIT_S)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
                errors.close()
        check(code == 0, "tonewell-play ended with %d after %s: %s" %
              (code, close, open(errors.name, "rb").read().decode(errors="replace")))
        check(os.listdir(tmp) == [], "temporary folder left behind: %r" % os.listdir(tmp))
        with open(sound, "rb") as fh:
            data = fh.read()
        start = sound_start(data, reference)
        check(start is not None, "the rendered sound is not in the sound file")
        check(start >= RING_FRAMES, "sound began %d frames in, before the silent lap of the ring" % start)
        check(data[:start * FRAME_BYTES].count(0) == start * FRAME_BYTES, "sound before the rendering")
        played = data[start * FRAME_BYTES:]
        n = min(len(played), len(reference)) // FRAME_BYTES * FRAME_BYTES
        check(n >= 2 * SAMPLE_RATE * FRAME_BYTES, "only %d bytes of sound to compare" % n)
        if played[:n] != reference[:n]:
            first = next(i for i in range(n) if played[i] != reference[i])
            raise Failure("the sound differs from tonewell-render at frame %d" % (first // FRAME_BYTES))
        print("%s: %d frames equal tonewell-render; exit 0 after %s; no folder left" %
              (" ".join(play_args) or "demo tune", n // FRAME_BYTES, close))
    finally:
        shutil.rmtree(work, ignore_errors=True)


# --- Cases ------------------------------------------------------------------------------------

class InstallCases(Case):
    def setUp(self):
        global args
        super().setUp()
        args = self.opt

    def test_stage(self):
        shutil.rmtree(args.stage, ignore_errors=True)
        env = dict(os.environ, DESTDIR=args.stage)
        done = run([args.cmake, "--install", args.build, "--prefix", args.prefix], env=env)
        check(done.returncode == 0, "cmake --install failed: %s" % done.stderr.decode())
        print("installed into %s%s" % (args.stage, args.prefix))

    def test_layout(self):
        for name in PROGRAMS + (["tonewell-convert"] if args.have_convert else []):
            path = os.path.join(bindir(), name)
            check(os.access(path, os.X_OK), "not installed: " + path)
        wanted = ["share/tonewell/dump.txt", "share/applications/tonewell.desktop",
                  "share/mime/packages/tonewell.xml", "share/icons/hicolor/scalable/apps/tonewell.svg",
                  "share/doc/tonewell/copyright", "share/doc/tonewell/changelog.gz"]
        if args.have_icon:
            wanted.append("share/icons/hicolor/48x48/apps/tonewell.png")
        if args.have_man:
            wanted += ["share/man/man1/%s.1.gz" % p for p in PAGES]
        for rel in wanted:
            check(os.path.isfile(installed(rel)), "not installed: " + rel)
        with open(installed("share/tonewell/dump.txt"), "rb") as a, open(args.source_tune, "rb") as b:
            check(a.read() == b.read(), "the installed demo tune differs from music/dump.txt")
        if args.have_icon:
            with open(installed("share/icons/hicolor/48x48/apps/tonewell.png"), "rb") as fh:
                head = fh.read(24)
            check(head[:8] == b"\x89PNG\r\n\x1a\n", "the icon is not a PNG")
            width, height = int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")
            check((width, height) == (48, 48), "the icon is %dx%d" % (width, height))
        # Nothing of the build or source tree is needed: no installed file is a link into them.
        for dirpath, _, files in os.walk(args.stage):
            for f in files:
                check(not os.path.islink(os.path.join(dirpath, f)), "a link was installed: " + f)

    def test_render(self):
        work = self.work
        ours = run([os.path.join(bindir(), "tonewell-render"), installed("share/tonewell/dump.txt"), "installed.wav"],
                   cwd=work)
        check(ours.returncode == 0, "installed tonewell-render failed: %s" % ours.stderr.decode())
        ref = run([args.build_render, args.source_tune, os.path.join(work, "build.wav")])
        check(ref.returncode == 0, "build tree tonewell-render failed: %s" % ref.stderr.decode())
        with open(os.path.join(work, "installed.wav"), "rb") as a, open(os.path.join(work, "build.wav"), "rb") as b:
            x, y = a.read(), b.read()
        check(len(x) > 44 + SAMPLE_RATE * FRAME_BYTES, "the render is too short: %d bytes" % len(x))
        check(x == y, "the installed render differs from the build tree's (%d and %d bytes)" % (len(x), len(y)))
        print("renders equal: %d bytes" % len(x))

    def test_play_demo(self):
        work = self.work
        reference = reference_sound(args.source_tune, work)
        play_in_x([], reference, "sigterm")

    def test_play_ym(self):
        convert = os.path.join(bindir(), "tonewell-convert")
        if not os.access(convert, os.X_OK):
            self.skipTest("no tonewell-convert installed")
        work = self.work
        for packed in (False, True):
            tune = os.path.join(work, "packed.ym" if packed else "plain.ym")
            make_ym.write(tune, 400, packed=packed)
            dump = os.path.join(work, "dump.txt")
            done = run([convert, tune, dump])
            check(done.returncode == 0, "tonewell-convert failed: %s" % done.stderr.decode())
            reference = reference_sound(dump, work)
            play_in_x([tune], reference, "alt-f4" if packed else "sigterm")

    def test_mime(self):
        for tool in ("update-mime-database", "xdg-mime", "mimetype", "gio"):
            check(shutil.which(tool), "%s is missing (tools/install-deps.sh test installs it)" % tool)
        work = self.work
        data = os.path.join(work, "share")
        os.makedirs(os.path.join(data, "mime", "packages"))
        shutil.copy(installed("share/mime/packages/tonewell.xml"), os.path.join(data, "mime", "packages"))
        done = run(["update-mime-database", os.path.join(data, "mime")])
        check(done.returncode == 0, "update-mime-database failed: %s" % done.stderr.decode())
        files = os.path.join(work, "files")
        os.makedirs(files)
        for name in ("plain.ym", "packed.ym", "plain-without-name", "packed-without-name", "archive.lzh"):
            make_ym.write(os.path.join(files, name), packed=not name.startswith("plain"))
        psg = b"PSG\x1a" + bytes(12) + b"\xff\x00\x10\xff\xfd"
        pt3 = b"ProTracker 3.6 compilation of " + bytes(180)
        ay = b"ZXAYEMUL" + bytes(24)
        for name, content in (("log.psg", psg), ("log-without-name", psg), ("tune.vtx", b"ay" + bytes(30)),
                              ("game.ay", ay), ("game-without-name", ay),
                              ("song.pt3", pt3), ("song-without-name", pt3),
                              ("vortex-without-name", b"Vortex Tracker II" + bytes(200)),
                              ("song.pt2", bytes([3, 1, 0]) + bytes(200))):
            with open(os.path.join(files, name), "wb") as fh:
                fh.write(content)
        expected = {"game.ay": "audio/x-zxay", "game-without-name": "audio/x-zxay", "song.pt3": "audio/x-pt3", "song-without-name": "audio/x-pt3", "vortex-without-name": "audio/x-pt3",
                    "song.pt2": "audio/x-pt2", "plain.ym": "audio/x-ym", "packed.ym": "audio/x-ym",
                    "plain-without-name": "audio/x-ym",
                    "packed-without-name": "audio/x-ym", "log.psg": "audio/x-psg",
                    # An archive named as one stays one: the glob decides before weaker magic.
                    "archive.lzh": "application/x-lha",
                    "log-without-name": "audio/x-psg", "tune.vtx": "audio/x-vtx"}
        env = dict(os.environ, XDG_DATA_DIRS="%s:/usr/share" % data, XDG_DATA_HOME=os.path.join(work, "home"))
        for key in ("XDG_CURRENT_DESKTOP", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID", "DESKTOP_SESSION"):
            env.pop(key, None)
        wrong = []
        for name, want in sorted(expected.items()):
            got = run(["xdg-mime", "query", "filetype", os.path.join(files, name)], env=env).stdout.decode().strip()
            print("%-26s %s" % (name, got))
            if got != want:
                wrong.append("%s: %s, not %s" % (name, got, want))
        check(not wrong, "; ".join(wrong))
        # Without the project's types the same files are not named so: the test sees our XML.
        # Names that other types own too (text/plain, an office template) are settled by
        # content, as GIO does it for the GTK desktops (xdg-mime's generic mode picks either).
        shared = {"tune.stc": (make_stc_asc_modules.EXAMPLE_STC_1, "audio/x-stc"),
                  "tune.asc": (make_stc_asc_modules.EXAMPLE_ASC_3, "audio/x-asc"), "note.asc": (b"a note\n", "text/plain")}
        for name, (data, want) in sorted(shared.items()):
            with open(os.path.join(files, name), "wb") as fh:
                fh.write(data)
            got = run(["gio", "info", "-a", "standard::content-type", os.path.join(files, name)], env=env).stdout.decode()
            print("%-26s %s" % (name, got.split()[-1] if got.split() else "?"))
            check("content-type: %s\n" % want in got, "%s: %s, not %s" % (name, got.strip(), want))
        bare = dict(env, XDG_DATA_DIRS="/usr/share")
        got = run(["xdg-mime", "query", "filetype", os.path.join(files, "plain.ym")], env=bare).stdout.decode().strip()
        check(got != "audio/x-ym", "audio/x-ym is known without the project's MIME types")

    def test_desktop(self):
        entry = installed("share/applications/tonewell.desktop")
        done = run(["desktop-file-validate", entry])
        out = (done.stdout + done.stderr).decode()
        check(done.returncode == 0 and not out.strip(), "desktop-file-validate: %s" % out)
        with open(entry) as fh:
            fields = dict(line.rstrip("\n").split("=", 1) for line in fh if "=" in line)
        check(fields["Exec"] == "tonewell-play %f", fields["Exec"])
        check(os.access(os.path.join(bindir(), fields["Exec"].split()[0]), os.X_OK), "Exec names no installed program")
        with open(installed("share/mime/packages/tonewell.xml")) as fh:
            xml = fh.read()
        for mime in filter(None, fields["MimeType"].split(";")):
            check('type="%s"' % mime in xml, "%s is not defined by tonewell.xml" % mime)
        for category in ("Audio", "Player", "AudioVideo"):
            check(category in fields["Categories"].split(";"), "no category " + category)
        check(os.path.isfile(installed("share/icons/hicolor/scalable/apps/%s.svg" % fields["Icon"])), "no icon")

    def test_man(self):
        if not args.have_man:
            self.skipTest("the manual pages were not built (no scdoc)")
        for page in PAGES:
            path = installed("share/man/man1/%s.1.gz" % page)
            done = run(["man", "-l", "--warnings", path], env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0"))
            text = done.stdout.decode()
            check(done.returncode == 0, "man -l %s failed: %s" % (page, done.stderr.decode()))
            check("warning" not in done.stderr.decode().lower(), "man warns on %s: %s" % (page, done.stderr.decode()))
            check(text.lstrip().lower().startswith(page + "(1)"), "%s: heading %r" % (page, text[:40]))
            check("%s -" % page in text, "%s: no NAME line" % page)
        with gzip.open(installed("share/man/man1/tonewell-convert.1.gz"), "rt") as fh:
            convert = fh.read()
        for word in ("PSG", "YM6!", "VTX", str(ZX_SPECTRUM_CLOCK_HZ), str(PLAYER_CHIP_CLOCK_HZ), "--no-rescale", "digidrums"):
            check(word in convert, "tonewell-convert(1) does not mention %s" % word)


def options(parser):
    parser.add_argument("--prefix", default="/usr")
    parser.add_argument("--cmake", default="cmake")
    for name in ("build", "build-render", "source-tune"):
        parser.add_argument("--" + name, type=os.path.abspath)
    for name, default in (("have-convert", 0), ("have-man", 1), ("have-icon", 1)):
        parser.add_argument("--" + name, type=int, default=default)


if __name__ == "__main__":
    sys.exit(main(InstallCases, ("stage",), options))
