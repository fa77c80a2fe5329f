#!/usr/bin/env python3
"""Puts one or more faults of breaks.txt into the tree, one at a time, builds one test program and runs
it: a quick check that a test still catches the faults it is known to catch, while tests are being
rewritten. The whole count is run.py's.

usage: try_break.py PRESET TARGET FAULT_ID... [-- GTEST_ARGS...]
  e.g. try_break.py debug test_engine_units catalog-index-descending convert-tinyint-range

Builds with `cmake --build --preset PRESET --target TARGET`, runs build/PRESET/tests/TARGET (with
QT_QPA_PLATFORM=offscreen) and prints "caught" or "MISSED" per fault. The file is always put back.
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def faults():
    found = {}
    for block in open(os.path.join(HERE, "breaks.txt"), encoding="utf-8").read().split("\n\n"):
        fields = {}
        for line in block.splitlines():
            if line.startswith("#") or ":" not in line:
                continue
            key, value = line.split(":", 1)
            fields[key.strip()] = value[1:] if value.startswith(" ") else value
        if "id" in fields:
            found[fields["id"]] = fields
    return found


def main(argv):
    if "--" in argv:
        at = argv.index("--")
        argv, gtest = argv[:at], argv[at + 1:]
    else:
        gtest = []
    if len(argv) < 3:
        print(__doc__)
        return 2
    preset, target, ids = argv[0], argv[1], argv[2:]
    known = faults()
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=tempfile.mkdtemp())
    missed = 0
    for fault_id in ids:
        f = known.get(fault_id)
        if not f:
            print(f"{fault_id}: no such fault")
            missed += 1
            continue
        path = os.path.join(ROOT, f["file"])
        original = open(path, encoding="utf-8").read()
        if original.count(f["find"]) != 1:
            print(f"{fault_id}: does not apply")
            missed += 1
            continue
        try:
            open(path, "w", encoding="utf-8").write(original.replace(f["find"], f["replace"]))
            build = subprocess.run(["cmake", "--build", "--preset", preset, "--target", target], cwd=ROOT,
                                   capture_output=True, text=True)
            if build.returncode != 0:
                print(f"{fault_id}: does not build\n{build.stdout[-2000:]}")
                missed += 1
                continue
            program = os.path.join(ROOT, "build", preset, "tests", target)
            test = subprocess.run([program] + gtest, cwd=ROOT, capture_output=True, text=True, env=env)
            caught = test.returncode != 0
            missed += 0 if caught else 1
            print(f"{fault_id}: {'caught' if caught else 'MISSED'}")
        finally:
            open(path, "w", encoding="utf-8").write(original)
    subprocess.run(["cmake", "--build", "--preset", preset, "--target", target], cwd=ROOT, capture_output=True)
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
