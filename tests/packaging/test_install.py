#!/usr/bin/env python3
"""The installed programs, run from a DESTDIR copy of the installation in a working
directory with no source tree around:

    test_install.py --stage DIR --prefix /usr --build-render RENDER --source-tune DUMP CASE

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
             the .ym name), audio/x-psg, audio/x-zxay and audio/x-vtx, after update-mime-database on a copy
  desktop    desktop-file-validate accepts the installed entry; its Exec and MimeType fit
  man        every installed manual page formats with man and names its program
"""
import argparse
import gzip
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "app"))
sys.path.insert(0, HERE)
import make_ym  # noqa: E402

SKIP = 77
PROGRAMS = ["tonewell", "tonewell-render", "tonewell-play"]
PAGES = ["tonewell", "tonewell-render", "tonewell-convert", "tonewell-play"]
RING_FRAMES = 7072   # the device's silent ring of 8 blocks of 884 frames
PROBE_FRAMES = 2000  # sound frames looked for to find where the rendering starts
FRAME_BYTES = 4
WAIT_S = 20.0
TITLE_PATTERN = r"^Tonewell =\)$"

args = None


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


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


# --- Cases ------------------------------------------------------------------------------------

def case_stage():
    shutil.rmtree(args.stage, ignore_errors=True)
    env = dict(os.environ, DESTDIR=args.stage)
    done = run([args.cmake, "--install", args.build, "--prefix", args.prefix], env=env)
    check(done.returncode == 0, "cmake --install failed: %s" % done.stderr.decode())
    print("installed into %s%s" % (args.stage, args.prefix))


def case_layout():
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


def case_render():
    work = no_source_dir()
    try:
        ours = run([os.path.join(bindir(), "tonewell-render"), installed("share/tonewell/dump.txt"), "installed.wav"],
                   cwd=work)
        check(ours.returncode == 0, "installed tonewell-render failed: %s" % ours.stderr.decode())
        ref = run([args.build_render, args.source_tune, os.path.join(work, "build.wav")])
        check(ref.returncode == 0, "build tree tonewell-render failed: %s" % ref.stderr.decode())
        with open(os.path.join(work, "installed.wav"), "rb") as a, open(os.path.join(work, "build.wav"), "rb") as b:
            x, y = a.read(), b.read()
        check(len(x) > 44 + 44100 * 4, "the render is too short: %d bytes" % len(x))
        check(x == y, "the installed render differs from the build tree's (%d and %d bytes)" % (len(x), len(y)))
        print("renders equal: %d bytes" % len(x))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def reference_sound(dump_path, work, frames=4 * 44100):
    out = os.path.join(work, "reference.raw")
    done = run([args.build_render, "--frames", str(frames), dump_path, out])
    check(done.returncode == 0, "tonewell-render of the reference failed: %s" % done.stderr.decode())
    with open(out, "rb") as fh:
        return fh.read()


def sound_start(data, reference):
    """The frame of data at which reference begins after silence: the device plays its silent
    ring at least once (more under load) before the first rendered block. Found by the
    reference's first sounding 2000 frames; None when they are not there."""
    lead = 0
    while lead < len(reference) and reference[lead] == 0:
        lead += 1
    lead = lead // FRAME_BYTES * FRAME_BYTES
    probe = reference[lead:lead + PROBE_FRAMES * FRAME_BYTES]
    at = data.find(probe)
    while at >= 0 and (at - lead) % FRAME_BYTES:
        at = data.find(probe, at + 1)
    return None if at < lead else (at - lead) // FRAME_BYTES


def play_in_x(play_args, reference, close, env_extra=None):
    """Runs the installed tonewell-play in a private X server with SDL's disk driver; waits
    for the window and for two seconds of sound after the silent lap; ends it by close
    ("sigterm" to tonewell-play, or "alt-f4" on the window). Checks the exit status 0, the
    sound against reference and that TMPDIR is empty afterwards."""
    from x11_session import X11Session, die_with_parent, wait_for
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
                    return start is not None and len(data) >= (start + 2 * 44100) * FRAME_BYTES
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
        check(n >= 2 * 44100 * FRAME_BYTES, "only %d bytes of sound to compare" % n)
        if played[:n] != reference[:n]:
            first = next(i for i in range(n) if played[i] != reference[i])
            raise Failure("the sound differs from tonewell-render at frame %d" % (first // FRAME_BYTES))
        print("%s: %d frames equal tonewell-render; exit 0 after %s; no folder left" %
              (" ".join(play_args) or "demo tune", n // FRAME_BYTES, close))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def case_play_demo():
    work = no_source_dir()
    try:
        reference = reference_sound(args.source_tune, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    play_in_x([], reference, "sigterm")


def case_play_ym():
    convert = os.path.join(bindir(), "tonewell-convert")
    if not os.access(convert, os.X_OK):
        print("skipped: no tonewell-convert installed")
        sys.exit(SKIP)
    work = no_source_dir()
    try:
        for packed in (False, True):
            tune = os.path.join(work, "packed.ym" if packed else "plain.ym")
            make_ym.write(tune, 400, packed=packed)
            dump = os.path.join(work, "dump.txt")
            done = run([convert, tune, dump])
            check(done.returncode == 0, "tonewell-convert failed: %s" % done.stderr.decode())
            reference = reference_sound(dump, work)
            play_in_x([tune], reference, "alt-f4" if packed else "sigterm")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def case_mime():
    for tool in ("update-mime-database", "xdg-mime", "mimetype"):
        check(shutil.which(tool), "%s is missing (tools/install-deps.sh test installs it)" % tool)
    work = no_source_dir()
    try:
        data = os.path.join(work, "share")
        os.makedirs(os.path.join(data, "mime", "packages"))
        shutil.copy(installed("share/mime/packages/tonewell.xml"), os.path.join(data, "mime", "packages"))
        done = run(["update-mime-database", os.path.join(data, "mime")])
        check(done.returncode == 0, "update-mime-database failed: %s" % done.stderr.decode())
        files = os.path.join(work, "files")
        os.makedirs(files)
        make_ym.write(os.path.join(files, "plain.ym"))
        make_ym.write(os.path.join(files, "packed.ym"), packed=True)
        make_ym.write(os.path.join(files, "plain-without-name"))
        make_ym.write(os.path.join(files, "packed-without-name"), packed=True)
        make_ym.write(os.path.join(files, "archive.lzh"), packed=True)
        with open(os.path.join(files, "log.psg"), "wb") as fh:
            fh.write(b"PSG\x1a" + bytes(12) + b"\xff\x00\x10\xff\xfd")
        with open(os.path.join(files, "log-without-name"), "wb") as fh:
            fh.write(b"PSG\x1a" + bytes(12) + b"\xff\x00\x10\xff\xfd")
        with open(os.path.join(files, "tune.vtx"), "wb") as fh:
            fh.write(b"ay" + bytes(30))
        for name in ("game.ay", "game-without-name"):
            with open(os.path.join(files, name), "wb") as fh:
                fh.write(b"ZXAYEMUL" + bytes(24))
        expected = {"game.ay": "audio/x-zxay", "game-without-name": "audio/x-zxay", "plain.ym": "audio/x-ym", "packed.ym": "audio/x-ym", "plain-without-name": "audio/x-ym",
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
        bare = dict(env, XDG_DATA_DIRS="/usr/share")
        got = run(["xdg-mime", "query", "filetype", os.path.join(files, "plain.ym")], env=bare).stdout.decode().strip()
        check(got != "audio/x-ym", "audio/x-ym is known without the project's MIME types")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def case_desktop():
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


def case_man():
    if not args.have_man:
        print("skipped: the manual pages were not built (no scdoc)")
        sys.exit(SKIP)
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
    for word in ("PSG", "YM6!", "VTX", "1773400", "1750000", "--no-rescale", "digidrums"):
        check(word in convert, "tonewell-convert(1) does not mention %s" % word)


CASES = {"stage": case_stage, "layout": case_layout, "render": case_render, "play-demo": case_play_demo,
         "play-ym": case_play_ym, "mime": case_mime, "desktop": case_desktop, "man": case_man}


def main():
    global args
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage", required=True)
    parser.add_argument("--prefix", default="/usr")
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--build")
    parser.add_argument("--build-render")
    parser.add_argument("--source-tune")
    parser.add_argument("--have-convert", type=int, default=0)
    parser.add_argument("--have-man", type=int, default=1)
    parser.add_argument("--have-icon", type=int, default=1)
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    for name in ("stage", "build", "build_render", "source_tune"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    try:
        CASES[args.case]()
    except Failure as failure:
        print("FAIL %s: %s" % (args.case, failure))
        sys.exit(1)
    print("PASS %s" % args.case)


if __name__ == "__main__":
    main()
