#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""--help, --version and bad arguments of the command-line tools, alike for each:

    test_tool_args.py NAME=PROGRAM... [unittest args]

--help: "usage: NAME ..." on standard output, nothing on standard error, exit 0.
--version: the one line "NAME X.Y.Z", exit 0 (the same version for every tool given).
An unknown option: "NAME: <reason>" and "usage: NAME ..." on standard error, exit 2.
"""
import re
import subprocess
import sys
import unittest

TOOLS = []


def run(program, *args):
    done = subprocess.run([program] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


class ToolArgsTest(unittest.TestCase):
    def test_version_line_on_stdout_exit_0(self):
        versions = set()
        for name, program in TOOLS:
            with self.subTest(tool=name):
                code, out, err = run(program, "--version")
                self.assertEqual((code, err), (0, ""))
                match = re.fullmatch(r"(\S+) ([0-9]+\.[0-9]+\.[0-9]+)\n", out)
                self.assertIsNotNone(match, out)
                self.assertEqual(match.group(1), name)
                versions.add(match.group(2))
        self.assertEqual(len(versions), 1, versions)

    def test_help_on_stdout_exit_0_also_after_other_arguments(self):
        for name, program in TOOLS:
            for args in (["--help"], ["in.txt", "--help"]):
                with self.subTest(tool=name, args=args):
                    code, out, err = run(program, *args)
                    self.assertEqual((code, err), (0, ""))
                    self.assertTrue(out.startswith("usage: %s " % name), out)
                    self.assertIn("--version", out)

    def test_unknown_option_usage_on_stderr_exit_2(self):
        for name, program in TOOLS:
            with self.subTest(tool=name):
                code, out, err = run(program, "--no-such-option", "a", "b")
                self.assertEqual((code, out), (2, ""))
                lines = err.splitlines()
                self.assertEqual(len(lines), 2, err)
                self.assertTrue(lines[0].startswith(name + ": ") and "--no-such-option" in lines[0], err)
                self.assertTrue(lines[1].startswith("usage: %s " % name), err)


if __name__ == "__main__":
    rest = [sys.argv[0]]
    for arg in sys.argv[1:]:
        if "=" in arg and not arg.startswith("-"):
            TOOLS.append(tuple(arg.split("=", 1)))
        else:
            rest.append(arg)
    unittest.main(argv=rest)
