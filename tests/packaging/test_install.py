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
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "formats"))
import make_stc_asc_modules  # noqa: E402
import make_ym  # noqa: E402
from e2e_support import (FRAME_BYTES, SAMPLE_RATE, Case, X11Session, check, main, play_and_close,  # noqa: E402
                         read_file, run_ok, run_tool as run, write_file)
from tonewell_constants import PLAYER_CHIP_CLOCK_HZ, ZX_SPECTRUM_CLOCK_HZ  # noqa: E402

PROGRAMS = ["tonewell", "tonewell-render", "tonewell-play"]
PAGES = ["tonewell", "tonewell-render", "tonewell-convert", "tonewell-play"]

args = None


def installed(*parts):
    return os.path.join(args.stage, args.prefix.lstrip("/"), *parts)


def bindir():
    return installed("bin")


def play_in_x(play_args, dump, close):
    """The installed tonewell-play played and closed in a private X server (play_and_close),
    its sound compared with the build tree's tonewell-render of dump (4 s)."""
    reference = run_ok([args.build_render, "--frames", str(4 * SAMPLE_RATE), dump, "-"],
                       "tonewell-render of the reference").stdout
    with X11Session() as session:
        play_and_close(session, [os.path.join(bindir(), "tonewell-play")] + play_args, reference, close)


# --- Cases ------------------------------------------------------------------------------------

class InstallCases(Case):
    def setUp(self):
        global args
        super().setUp()
        args = self.opt

    def test_stage(self):
        shutil.rmtree(args.stage, ignore_errors=True)
        run_ok([args.cmake, "--install", args.build, "--prefix", args.prefix], "cmake --install",
               env=dict(os.environ, DESTDIR=args.stage))
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
        check(read_file(installed("share/tonewell/dump.txt")) == read_file(args.source_tune),
              "the installed demo tune differs from music/dump.txt")
        if args.have_icon:
            head = read_file(installed("share/icons/hicolor/48x48/apps/tonewell.png"))[:24]
            check(head[:8] == b"\x89PNG\r\n\x1a\n", "the icon is not a PNG")
            width, height = int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")
            check((width, height) == (48, 48), "the icon is %dx%d" % (width, height))
        # Nothing of the build or source tree is needed: no installed file is a link into them.
        for dirpath, _, files in os.walk(args.stage):
            for f in files:
                check(not os.path.islink(os.path.join(dirpath, f)), "a link was installed: " + f)

    def test_render(self):
        ours, ref = os.path.join(self.work, "installed.wav"), os.path.join(self.work, "build.wav")
        run_ok([os.path.join(bindir(), "tonewell-render"), installed("share/tonewell/dump.txt"), "installed.wav"],
               "installed tonewell-render", cwd=self.work)
        run_ok([args.build_render, args.source_tune, ref], "build tree tonewell-render")
        x, y = read_file(ours), read_file(ref)
        check(len(x) > 44 + SAMPLE_RATE * FRAME_BYTES, "the render is too short: %d bytes" % len(x))
        check(x == y, "the installed render differs from the build tree's (%d and %d bytes)" % (len(x), len(y)))
        print("renders equal: %d bytes" % len(x))

    def test_play_demo(self):
        play_in_x([], args.source_tune, "sigterm")

    def test_play_ym(self):
        convert = os.path.join(bindir(), "tonewell-convert")
        if not os.access(convert, os.X_OK):
            self.skipTest("no tonewell-convert installed")
        for packed in (False, True):
            tune = os.path.join(self.work, "packed.ym" if packed else "plain.ym")
            dump = os.path.join(self.work, "dump.txt")
            make_ym.write(tune, 400, packed=packed)
            run_ok([convert, tune, dump], "tonewell-convert")
            play_in_x([tune], dump, "alt+f4" if packed else "sigterm")

    def test_mime(self):
        for tool in ("update-mime-database", "xdg-mime", "mimetype", "gio"):
            check(shutil.which(tool), "%s is missing (tools/install-deps.sh test installs it)" % tool)
        data, files = os.path.join(self.work, "share"), os.path.join(self.work, "files")
        os.makedirs(os.path.join(data, "mime", "packages"))
        os.makedirs(files)
        shutil.copy(installed("share/mime/packages/tonewell.xml"), os.path.join(data, "mime", "packages"))
        run_ok(["update-mime-database", os.path.join(data, "mime")])
        ym_files = ("plain.ym", "packed.ym", "plain-without-name", "packed-without-name", "archive.lzh")
        for name in ym_files:
            make_ym.write(os.path.join(files, name), packed=not name.startswith("plain"))
        expected = dict.fromkeys(ym_files[:4], "audio/x-ym")
        # An archive named as one stays one: the glob decides before weaker magic.
        expected["archive.lzh"] = "application/x-lha"
        psg = b"PSG\x1a" + bytes(12) + b"\xff\x00\x10\xff\xfd"
        pt3 = b"ProTracker 3.6 compilation of " + bytes(180)
        ay = b"ZXAYEMUL" + bytes(24)
        for name, content, want in (("log.psg", psg, "audio/x-psg"), ("log-without-name", psg, "audio/x-psg"),
                                    ("tune.vtx", b"ay" + bytes(30), "audio/x-vtx"),
                                    ("game.ay", ay, "audio/x-zxay"), ("game-without-name", ay, "audio/x-zxay"),
                                    ("song.pt3", pt3, "audio/x-pt3"), ("song-without-name", pt3, "audio/x-pt3"),
                                    ("vortex-without-name", b"Vortex Tracker II" + bytes(200), "audio/x-pt3"),
                                    ("song.pt2", bytes([3, 1, 0]) + bytes(200), "audio/x-pt2")):
            write_file(os.path.join(files, name), content)
            expected[name] = want
        env = dict(os.environ, XDG_DATA_DIRS="%s:/usr/share" % data, XDG_DATA_HOME=os.path.join(self.work, "home"))
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
        for name, content, want in (("note.asc", b"a note\n", "text/plain"),
                                    ("tune.asc", make_stc_asc_modules.EXAMPLE_ASC_3, "audio/x-asc"),
                                    ("tune.stc", make_stc_asc_modules.EXAMPLE_STC_1, "audio/x-stc")):
            got = run(["gio", "info", "-a", "standard::content-type", write_file(os.path.join(files, name), content)],
                      env=env).stdout.decode()
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
        fields = dict(line.split("=", 1) for line in read_file(entry).decode().splitlines() if "=" in line)
        check(fields["Exec"] == "tonewell-play %f", fields["Exec"])
        check(os.access(os.path.join(bindir(), fields["Exec"].split()[0]), os.X_OK), "Exec names no installed program")
        xml = read_file(installed("share/mime/packages/tonewell.xml")).decode()
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
            done = run_ok(["man", "-l", "--warnings", path], "man -l " + page,
                          env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0"))
            text, err = done.stdout.decode(), done.stderr.decode()
            check("warning" not in err.lower(), "man warns on %s: %s" % (page, err))
            check(text.lstrip().lower().startswith(page + "(1)"), "%s: heading %r" % (page, text[:40]))
            check("%s -" % page in text, "%s: no NAME line" % page)
        convert = gzip.decompress(read_file(installed("share/man/man1/tonewell-convert.1.gz"))).decode()
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
