#!/usr/bin/env python3
"""Applies the deliberate faults of breaks.txt one at a time and counts how many the test suite catches.

For each fault: the text must occur exactly once in its file (otherwise "does not apply"); the file is
changed, the whole tree built in its own build directory, and the suite run label by label, fast to
slow, stopping at the first failing test. The file is always put back as it was (also on Ctrl-C or
SIGTERM) and checked with git. See README.md.
"""

import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
LABELS = ["unit", "tools", "engine", "server", "gui", "e2e"]


@dataclass
class Break:
    id: str
    file: str
    fault: str
    find: str
    replace: str
    line: int = 0  # where the block starts in breaks.txt


@dataclass
class Outcome:
    brk: Break
    status: str  # caught, missed, does-not-apply, invalid
    label: str = ""
    tests: list = field(default_factory=list)
    seconds: float = 0.0
    detail: str = ""


def parse_breaks(path):
    breaks, current, errors = [], {}, []
    keys = ("id", "file", "fault", "find", "replace")

    def close(lineno):
        if not current:
            return
        missing = [k for k in keys if k not in current]
        if missing:
            errors.append(f"{path}:{current.get('_line', lineno)}: missing {', '.join(missing)}")
        else:
            breaks.append(Break(current["id"], current["file"], current["fault"], current["find"],
                                current["replace"], current["_line"]))
        current.clear()

    with open(path, encoding="utf-8") as f:
        for lineno, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip():
                close(lineno)
                continue
            if line.startswith("#"):
                continue
            m = re.match(r"^(id|file|fault|find|replace): ?(.*)$", line)
            if not m:
                errors.append(f"{path}:{lineno}: not a 'key: value' line")
                continue
            key, value = m.groups()
            if key in current:
                errors.append(f"{path}:{lineno}: {key} given twice in one block")
            current.setdefault("_line", lineno)
            current[key] = value
        close(lineno + 1)
    seen = set()
    for b in breaks:
        if b.id in seen:
            errors.append(f"{path}:{b.line}: id {b.id} used twice")
        seen.add(b.id)
        if b.find == b.replace:
            errors.append(f"{path}:{b.line}: {b.id} replaces a text with itself")
    if errors:
        sys.exit("\n".join(errors))
    return breaks


def repo_root():
    out = subprocess.run(["git", "rev-parse", "--show-toplevel"], cwd=HERE, capture_output=True, text=True,
                         check=True)
    return out.stdout.strip()


def occurrences(root, brk):
    path = os.path.join(root, brk.file)
    if not os.path.isfile(path):
        return -1
    with open(path, encoding="utf-8", newline="") as f:
        return f.read().count(brk.find)


class Interrupted(Exception):
    pass


def on_signal(signum, frame):
    raise Interrupted(f"signal {signum}")


def run(cmd, cwd, env=None, log=None):
    """Runs a command, its output to `log` (a file object) or captured; returns (rc, output)."""
    proc = subprocess.run(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace")
    if log:
        log.write(f"$ {' '.join(cmd)}\n{proc.stdout}\n")
        log.flush()
    return proc.returncode, proc.stdout


def configure(root, build_dir, log):
    if os.path.isfile(os.path.join(build_dir, "CMakeCache.txt")):
        return True
    # As the debug preset, with warnings as errors like CI.
    rc, out = run(["cmake", "-S", root, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                   "-DVOPA_WERROR=ON"] + fast_linker(), root, log=log)
    if rc != 0:
        print(out[-3000:])
    return rc == 0


def build(root, build_dir, jobs, log, targets=None):
    cmd = ["cmake", "--build", build_dir, "-j", str(jobs)]
    if targets:
        cmd += ["--target"] + targets
    return run(cmd, root, log=log)


def label_targets(root, build_dir, label):
    """The build targets the tests of one label run: the programs named in their commands."""
    out = subprocess.run(["ctest", "--test-dir", build_dir, "-N", "-L", f"^{label}$", "--show-only=json-v1"],
                         cwd=root, capture_output=True, text=True, check=True).stdout
    known = set()
    for line in subprocess.run(["ninja", "-C", build_dir, "-t", "targets", "all"], capture_output=True, text=True,
                               check=True).stdout.splitlines():
        known.add(line.split(":", 1)[0])
    prefix = build_dir.rstrip("/") + "/"
    targets = set()
    for test in json.loads(out).get("tests", []):
        for arg in test.get("command", []):
            for part in [arg] + arg.split("=")[1:]:
                if part.startswith(prefix) and os.path.relpath(part, build_dir) in known:
                    targets.add(os.path.relpath(part, build_dir))
    return sorted(targets)


class BuildFailed(Exception):
    pass


def fast_linker():
    """Each fault relinks every program that uses the changed library: lld does it several times faster
    than the default linker."""
    return ["-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld"] if shutil.which("ld.lld") else []


def run_suite(root, build_dir, jobs, log, unit_targets=None):
    """Runs the labels fast to slow; returns (label, failed tests) of the first failing label, or None.

    With `unit_targets`, only the programs of the unit tests are built before they run, and the whole
    tree only once a fault got past them: most faults are caught by a unit test, and linking every
    program again for each of them would cost several times the tests' own time."""
    env = dict(os.environ)
    env["QT_QPA_PLATFORM"] = "offscreen"
    runtime = tempfile.mkdtemp(prefix="breaks-xdg-")
    os.chmod(runtime, 0o700)
    env["XDG_RUNTIME_DIR"] = runtime
    failed_log = os.path.join(build_dir, "Testing", "Temporary", "LastTestsFailed.log")
    try:
        for label in LABELS:
            if unit_targets is not None and label in ("unit", "tools"):
                rc, out = build(root, build_dir, jobs, log, unit_targets if label == "unit" else None)
                if rc != 0:
                    raise BuildFailed(out)
            if os.path.exists(failed_log):
                os.remove(failed_log)
            rc, out = run(["ctest", "--test-dir", build_dir, "--stop-on-failure", "-j", str(jobs),
                           "--output-on-failure", "-L", f"^{label}$"], root, env=env, log=log)
            if rc != 0:
                tests = []
                if os.path.exists(failed_log):
                    with open(failed_log, encoding="utf-8", errors="replace") as f:
                        tests = [l.strip().split(":", 1)[-1] for l in f if l.strip()]
                if not tests:
                    tests = re.findall(r"^\s*\d+ - (\S+) \((?:Failed|Timeout|Not Run|SEGFAULT|Subprocess aborted|"
                                       r"Exception|Child aborted)[^)]*\)", out, re.M)
                return label, tests or ["(ctest failed: see the log)"]
        return None
    finally:
        shutil.rmtree(runtime, ignore_errors=True)


def restore(root, brk, original):
    path = os.path.join(root, brk.file)
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(original)
    rc = subprocess.run(["git", "diff", "--quiet", "--", brk.file], cwd=root).returncode
    if rc != 0:
        raise SystemExit(f"FATAL: {brk.file} differs from git after restoring it; stopping")


def try_break(root, build_dir, jobs, brk, log, unit_targets):
    start = time.monotonic()
    n = occurrences(root, brk)
    if n != 1:
        why = "file not found" if n < 0 else f"text occurs {n} times"
        return Outcome(brk, "does-not-apply", detail=why, seconds=time.monotonic() - start)
    if subprocess.run(["git", "diff", "--quiet", "--", brk.file], cwd=root).returncode != 0:
        raise SystemExit(f"FATAL: {brk.file} has uncommitted changes; a break would be restored over them")
    path = os.path.join(root, brk.file)
    with open(path, encoding="utf-8", newline="") as f:
        original = f.read()
    log.write(f"\n===== {brk.id} ({brk.file}) =====\n")
    try:
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(original.replace(brk.find, brk.replace, 1))
        try:
            failure = run_suite(root, build_dir, jobs, log, unit_targets)
        except BuildFailed as e:
            errors = [l for l in str(e).splitlines() if "error:" in l][:3]
            if errors:
                return Outcome(brk, "invalid", detail=" | ".join(errors)[:300], seconds=time.monotonic() - start)
            # It compiled and linked, but a test program failed when its tests were listed after the link.
            failure = ("build", ["(listing the tests of a program failed: see the log)"])
    finally:
        restore(root, brk, original)
    seconds = time.monotonic() - start
    if failure:
        return Outcome(brk, "caught", label=failure[0], tests=failure[1], seconds=seconds)
    return Outcome(brk, "missed", seconds=seconds)


def object_targets(build_dir, source):
    """The ninja targets of the object files compiled from `source` (a path relative to the root)."""
    out = subprocess.run(["ninja", "-C", build_dir, "-t", "targets", "all"], capture_output=True, text=True,
                         check=True).stdout
    targets = []
    for line in out.splitlines():
        target = line.split(":", 1)[0]
        if not target.endswith(".o") or ".dir/" not in target:
            continue
        compiled = target.split(".dir/", 1)[1][:-2]  # the source's path below its CMakeLists.txt folder
        if source.endswith("/" + compiled) or source == compiled:
            targets.append(target)
    return targets


def compile_check(root, build_dir, breaks):
    """Compiles only the objects of each changed file: a quick proof that every break compiles."""
    bad = 0
    for b in breaks:
        if occurrences(root, b) != 1:
            print(f"{b.id:40} does not apply")
            bad += 1
            continue
        targets = object_targets(build_dir, b.file)
        if not targets:
            print(f"{b.id:40} no object file is built from {b.file}")
            bad += 1
            continue
        path = os.path.join(root, b.file)
        with open(path, encoding="utf-8", newline="") as f:
            original = f.read()
        try:
            with open(path, "w", encoding="utf-8", newline="") as f:
                f.write(original.replace(b.find, b.replace, 1))
            rc, out = run(["ninja", "-C", build_dir] + targets, root)
        finally:
            restore(root, b, original)
        if rc != 0:
            bad += 1
            errors = [l for l in out.splitlines() if "error:" in l][:3]
            print(f"{b.id:40} does not compile: {' | '.join(errors)[:400]}")
        else:
            print(f"{b.id:40} compiles", flush=True)
    # The objects are left as the last break made them; the next build compiles the restored files again.
    print(f"{len(breaks) - bad} of {len(breaks)} compile")
    return 1 if bad else 0


def describe(o):
    if o.status == "caught":
        shown = ", ".join(o.tests[:2]) + (f" (+{len(o.tests) - 2})" if len(o.tests) > 2 else "")
        return f"caught [{o.label}] {shown}"
    if o.status in ("does-not-apply", "invalid"):
        return f"{o.status}: {o.detail}"
    return "MISSED"


def write_results(path, header, outcomes, total, done):
    applied = [o for o in outcomes if o.status in ("caught", "missed")]
    caught = [o for o in applied if o.status == "caught"]
    with open(path, "w", encoding="utf-8") as f:
        f.write(header)
        f.write(f"# {'finished' if done else 'in progress'}: {len(outcomes)} of {total} breaks tried\n\n")
        f.write("id\tresult\tlabel\ttests\tseconds\tfile\tfault\n")
        for o in outcomes:
            result = o.status if o.status != "missed" else "MISSED"
            tests = ",".join(o.tests) if o.tests else o.detail
            f.write(f"{o.brk.id}\t{result}\t{o.label}\t{tests}\t{o.seconds:.0f}\t{o.brk.file}\t{o.brk.fault}\n")
        f.write(f"\ncaught {len(caught)} of {len(applied)} applied ({total} breaks; "
                f"{sum(o.status == 'does-not-apply' for o in outcomes)} did not apply, "
                f"{sum(o.status == 'invalid' for o in outcomes)} invalid)\n")
        missed = [o for o in applied if o.status == "missed"]
        if missed:
            f.write("missed:\n")
            for o in missed:
                f.write(f"  {o.brk.id}: {o.brk.fault} ({o.brk.file})\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("results", nargs="?", help="file to write the results to")
    parser.add_argument("--breaks", default=os.path.join(HERE, "breaks.txt"))
    parser.add_argument("--only", help="comma-separated ids to try (default: all)")
    parser.add_argument("--build-dir", default=None, help="build directory (default: build/breaks)")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--check", action="store_true",
                        help="only check that every text occurs exactly once; no build, no tests")
    parser.add_argument("--compile-check", action="store_true",
                        help="only compile the changed file of each break (needs a configured build directory)")
    parser.add_argument("--clean-passed", metavar="NOTE", default=None,
                        help="skip the clean build and suite run, which passed on this same tree just before "
                             "(say when, for the results header); for continuing a stopped run only")
    parser.add_argument("--log", default=None, help="build and test output (default: <results>.log)")
    args = parser.parse_args()

    root = repo_root()
    breaks = parse_breaks(args.breaks)
    if args.only:
        wanted = [s.strip() for s in args.only.split(",") if s.strip()]
        unknown = [w for w in wanted if w not in {b.id for b in breaks}]
        if unknown:
            sys.exit(f"unknown ids: {', '.join(unknown)}")
        breaks = [b for b in breaks if b.id in wanted]

    if args.check:
        bad = 0
        for b in breaks:
            n = occurrences(root, b)
            if n != 1:
                bad += 1
                print(f"{b.id:40} does not apply: {'file not found' if n < 0 else f'occurs {n} times'}")
        print(f"{len(breaks) - bad} of {len(breaks)} apply")
        return 1 if bad else 0

    build_dir = os.path.abspath(args.build_dir or os.path.join(root, "build", "breaks"))
    if args.compile_check:
        signal.signal(signal.SIGTERM, on_signal)
        return compile_check(root, build_dir, breaks)
    if not args.results:
        parser.error("name the results file")
    results = os.path.abspath(args.results)
    log_path = os.path.abspath(args.log or results + ".log")
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)

    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=root, capture_output=True,
                            text=True).stdout.strip()
    with open(log_path, "w", encoding="utf-8") as log:
        began = time.monotonic()
        if not configure(root, build_dir, log):
            sys.exit("configuring failed")
        t = time.monotonic()
        if args.clean_passed:
            print("building the clean tree (its suite passed before: " + args.clean_passed + ") ...", flush=True)
        else:
            print("building and running the clean suite ...", flush=True)
        rc, out = build(root, build_dir, args.jobs, log)
        if rc != 0:
            print(out[-3000:])
            sys.exit("the clean tree does not build; stopping")
        if not args.clean_passed:
            failure = run_suite(root, build_dir, args.jobs, log)
            if failure:
                sys.exit(f"the clean suite fails ({failure[0]}: {', '.join(failure[1])}); stopping")
        clean_seconds = time.monotonic() - t
        clean_note = (f"clean suite not run again (passed {args.clean_passed})" if args.clean_passed
                      else f"clean build and suite: {clean_seconds:.0f} s")
        print(clean_note, flush=True)
        unit_targets = label_targets(root, build_dir, "unit")

        header = (f"# Deliberate faults caught by the test suite\n"
                  f"# commit {commit}, {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}, "
                  f"breaks from {os.path.relpath(args.breaks, root)}\n"
                  f"# {clean_note}; labels in order: {', '.join(LABELS)}\n")
        outcomes = []
        try:
            for i, b in enumerate(breaks, 1):
                o = try_break(root, build_dir, args.jobs, b, log, unit_targets)
                outcomes.append(o)
                print(f"[{i:2}/{len(breaks)}] {b.id:40} {describe(o)}  {o.seconds:.0f}s", flush=True)
                write_results(results, header, outcomes, len(breaks), False)
        except (KeyboardInterrupt, Interrupted) as e:
            print(f"interrupted ({e}); the changed file has been restored", flush=True)
            write_results(results, header, outcomes, len(breaks), False)
            return 130
        total = time.monotonic() - began
        header += f"# whole run: {total / 60:.0f} min\n"
        write_results(results, header, outcomes, len(breaks), True)
        applied = [o for o in outcomes if o.status in ("caught", "missed")]
        caught = sum(o.status == "caught" for o in applied)
        print(f"\ncaught {caught} of {len(applied)} applied ({len(breaks)} breaks), {total / 60:.0f} min; "
              f"results in {results}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
