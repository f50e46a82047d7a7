#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Fails when a source file includes a header of a higher layer.

    check_layers.py SOURCE_ROOT

Layers, bottom first: platform < psg, dump, audio, formats < app, tools. A file under one of
these folders may include project headers ("folder/...") only from its own layer or below.
"""
import os
import re
import sys

LAYERS = {"platform": 0, "psg": 1, "dump": 1, "audio": 1, "formats": 1, "app": 2, "tools": 2}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/')
SOURCES = (".h", ".hpp", ".cpp", ".cc", ".c")


def main():
    root = sys.argv[1]
    wrong, scanned = [], 0
    for folder, layer in sorted(LAYERS.items()):
        for base, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if not name.endswith(SOURCES):
                    continue
                path = os.path.join(base, name)
                scanned += 1
                with open(path, encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if match and LAYERS.get(match.group(1), -1) > layer:
                            wrong.append("%s:%d: %s (layer %d) includes %s/ (layer %d)" % (
                                os.path.relpath(path, root), number, folder, layer,
                                match.group(1), LAYERS[match.group(1)]))
    for line in wrong:
        print(line)
    print("%d files scanned, %d includes from a higher layer" % (scanned, len(wrong)))
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
