#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""--help, --version and bad arguments of the command-line tools, alike for each:

    test_tool_args.py NAME=PROGRAM... [unittest args]

--help: "usage: NAME ..." on standard output, nothing on standard error, exit 0.
--version: the one line "NAME X.Y.Z", exit 0 (the same version for every tool given).
An unknown option: "NAME: <reason>" and "usage: NAME ..." on standard error, exit 2.
"""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from e2e_support import tool_result  # noqa: E402

TOOLS = []


class ToolArgsTest(unittest.TestCase):
    def test_version_line_on_stdout_exit_0(self):
        versions = set()
        for name, program in TOOLS:
            with self.subTest(tool=name):
                code, out, err = tool_result([program, "--version"])
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
                    code, out, err = tool_result([program] + args)
                    self.assertEqual((code, err), (0, ""))
                    self.assertTrue(out.startswith("usage: %s " % name), out)
                    self.assertIn("--version", out)

    def test_unknown_option_usage_on_stderr_exit_2(self):
        for name, program in TOOLS:
            with self.subTest(tool=name):
                code, out, err = tool_result([program, "--no-such-option", "a", "b"])
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
