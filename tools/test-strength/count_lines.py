#!/usr/bin/env python3
"""Counts the lines that carry code (not blank, not comment) in src/, tools/ and tests/.

Kinds counted: C++ (.cpp, .h; "//" and "/* */" comments), conformance files (tests/**/*.test; lines
starting with "--" are comments) and scripts (.sh, .py, .cmake, CMakeLists.txt; "#" comments). Only
files tracked by git are counted. tools/test-strength (this measuring tool) is left out.
Prints the totals, the ratio tests / (src + tools), and the tests per top-level test folder.
"""

import argparse
import os
import subprocess
import sys
from collections import defaultdict

EXCLUDED = ("tools/test-strength/",)


def kind_of(path):
    name = os.path.basename(path)
    if path.endswith((".cpp", ".h")):
        return "c++"
    if path.startswith("tests/") and path.endswith(".test"):
        return "conformance"
    if path.endswith((".sh", ".py", ".cmake")) or name == "CMakeLists.txt":
        return "scripts"
    return None


def cpp_lines(text):
    """Lines with code outside comments; string and character literals are skipped over whole."""
    count = 0
    in_block = False
    raw_end = None  # the closing delimiter of a raw string literal that spans lines
    for line in text.splitlines():
        code = False
        i, n = 0, len(line)
        while i < n:
            if raw_end is not None:
                j = line.find(raw_end, i)
                code = True
                if j < 0:
                    i = n
                else:
                    i = j + len(raw_end)
                    raw_end = None
                continue
            if in_block:
                j = line.find("*/", i)
                if j < 0:
                    i = n
                else:
                    i = j + 2
                    in_block = False
                continue
            c = line[i]
            if line.startswith("//", i):
                break
            if line.startswith("/*", i):
                in_block = True
                i += 2
                continue
            if c == "R" and i + 1 < n and line[i + 1] == '"' and (i == 0 or not (line[i - 1].isalnum() or line[i - 1] == "_")):
                paren = line.find("(", i + 2)
                if paren >= 0:
                    raw_end = ")" + line[i + 2:paren] + '"'
                    code = True
                    i = paren + 1
                    continue
            if c in "\"'":
                code = True
                j = i + 1
                while j < n and line[j] != c:
                    j += 2 if line[j] == "\\" else 1
                i = j + 1
                continue
            if not c.isspace():
                code = True
            i += 1
        if code:
            count += 1
    return count


def prefixed_comment_lines(text, comment):
    return sum(1 for line in text.splitlines() if line.strip() and not line.strip().startswith(comment))


def count(path, kind):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    if kind == "c++":
        return cpp_lines(text)
    if kind == "conformance":
        return prefixed_comment_lines(text, "--")
    return prefixed_comment_lines(text, "#")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", default=None, help="repository root (default: this repository)")
    args = parser.parse_args()
    root = args.root or subprocess.run(["git", "rev-parse", "--show-toplevel"], capture_output=True, text=True,
                                       cwd=os.path.dirname(os.path.abspath(__file__)), check=True).stdout.strip()
    files = subprocess.run(["git", "ls-files", "src", "tools", "tests"], cwd=root, capture_output=True, text=True,
                           check=True).stdout.split()

    totals = defaultdict(lambda: defaultdict(int))  # area -> kind -> lines
    test_folders = defaultdict(lambda: defaultdict(int))  # tests/<folder> -> kind -> lines
    for path in files:
        if path.startswith(EXCLUDED):
            continue
        kind = kind_of(path)
        if not kind or not os.path.isfile(os.path.join(root, path)):
            continue
        n = count(os.path.join(root, path), kind)
        area = path.split("/", 1)[0]
        totals[area][kind] += n
        if area == "tests":
            parts = path.split("/")
            folder = "tests/" + parts[1] if len(parts) > 2 else "tests (top level)"
            test_folders[folder][kind] += n

    kinds = ["c++", "conformance", "scripts"]

    def row(name, by_kind):
        cells = "".join(f"{by_kind.get(k, 0):>13}" for k in kinds)
        return f"{name:<20}{cells}{sum(by_kind.values()):>10}"

    print(f"{'':<20}" + "".join(f"{k:>13}" for k in kinds) + f"{'total':>10}")
    for area in ("src", "tools", "tests"):
        print(row(area + "/", totals[area]))
    src, tools, tests = (sum(totals[a].values()) for a in ("src", "tools", "tests"))
    print(f"\nratio tests / (src + tools) = {tests} / {src + tools} = {tests / (src + tools):.3f}")
    print("\ntests by folder:")
    for folder in sorted(test_folders):
        print(row(folder, test_folders[folder]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
