#!/usr/bin/env python3
"""Mutation check: puts plausible one-line faults into a scratch copy of the
tree, one at a time, and runs the tests that should notice each.

Each fault in FAULTS names a file, a text that must occur exactly once in it,
its replacement, and the tests to run: a ctest name pattern, or "pytest" (the
Python package's tests, python/tests) with pytest arguments after a colon
("pytest:python/tests/test_limits.py", paths in the tree). A fault that
cannot change behaviour is marked with the reason and left out of the score.

Usage: scripts/mutants.py [--only ID[,ID...]] [--check] [--scratch DIR] [--jobs N]
Prints killed / survived per fault, the score of each area (the library,
the virtual printer, the CLI, Python, ...) and the whole score; exits 1 when
a fault's text is no longer found (the table needs updating) or the
unmutated tests fail.

The scratch tree and its build stay in build-mutants/ (or --scratch DIR), so
that a second run rebuilds only what changed.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass
from typing import Optional


@dataclass
class Fault:
    id: str
    path: str
    find: str
    replace: str
    tests: str                       # ctest -R pattern, or "pytest[:ARGS]"
    equivalent: Optional[str] = None  # why it cannot change behaviour


sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mutants_table import FAULTS  # noqa: E402  (the table lives beside this file)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd, cwd, timeout, log, env=None):
    with open(log, "ab") as out:
        try:
            return subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout, env=env).returncode
        except subprocess.TimeoutExpired:
            return -1


def copy_tree(dest):
    """Brings the scratch tree to the working tree's content. A file whose
    content differs is rewritten with a fresh time, so that the build notices
    it even when a run was stopped with a fault still in place; a file copied
    by an earlier run and gone from the tree since is removed (a source glob
    would still build it)."""
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT,
                           check=True, capture_output=True, text=True).stdout.splitlines()
    manifest = os.path.join(dest, ".mutants-files")
    if os.path.isfile(manifest):
        with open(manifest, encoding="utf-8") as fh:
            gone = set(fh.read().splitlines()) - set(files)
        for f in gone:
            target = os.path.join(dest, f)
            if os.path.isfile(target):
                os.remove(target)
    os.makedirs(dest, exist_ok=True)
    with open(manifest, "w", encoding="utf-8") as fh:
        fh.write("\n".join(files) + "\n")
    for f in files:
        src = os.path.join(ROOT, f)
        if not os.path.isfile(src):
            continue
        target = os.path.join(dest, f)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(src, "rb") as fh:
            content = fh.read()
        if os.path.isfile(target):
            with open(target, "rb") as fh:
                if fh.read() == content:
                    continue
        shutil.copyfile(src, target)
        shutil.copymode(src, target)


def area_of(path):
    """The deliverable a file belongs to, for the per-area scores."""
    if path.startswith("src/") or path.startswith("include/"):
        return "library"
    if path.startswith("tools/vprinter/"):
        return "vprinter"
    if path.startswith("tools/cli/"):
        return "CLI"
    if path.startswith("python/"):
        return "Python"
    if path.startswith("tools/"):
        return path.split("/")[1]
    return path.split("/")[0]


def is_pytest(selection):
    return selection == "pytest" or selection.startswith("pytest:")


def pytest_command(src, build, selection):
    """The Python package's tests of the scratch tree against its build;
    stops at the first failure."""
    args = selection.split(":", 1)[1].split() if ":" in selection else []
    env = dict(os.environ,
               PALOMA_LIBRARY=os.path.join(build, "libpaloma.so"),
               PALOMA_VPRINTER=os.path.join(build, "tools", "vprinter", "paloma-vprinter"))
    python = os.environ.get("PALOMA_PYTHON", "/usr/bin/python3")
    return [python, "-m", "pytest", "-p", "no:cacheprovider", "-q", "-x"] + \
        (args or ["python/tests"]), env


def test_targets(build, selection):
    """The executables that hold the tests a pattern selects: only these are
    rebuilt for a fault (their own dependencies come with them)."""
    out = subprocess.run(["ctest", "--test-dir", build, "-R", selection, "--show-only=json-v1"],
                         capture_output=True, text=True).stdout
    try:
        tests = json.loads(out).get("tests", [])
    except ValueError:
        return []
    return sorted({os.path.basename(t["command"][0]) for t in tests if t.get("command")})


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--only", help="comma-separated fault ids")
    ap.add_argument("--check", action="store_true",
                    help="only check that every fault's text is still in the tree")
    ap.add_argument("--scratch", default=os.path.join(ROOT, "build-mutants"),
                    help="where the scratch tree and its build live (default: build-mutants)")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--exclude", metavar="REGEX",
                    help="ctest tests to leave out (ctest -E), e.g. one that fails on the "
                         "unmutated tree for a reason of its own; say so beside the score")
    args = ap.parse_args()

    faults = [Fault(*f) if isinstance(f, tuple) else Fault(**f) for f in FAULTS]
    if args.only:
        wanted = set(args.only.split(","))
        faults = [f for f in faults if f.id in wanted]

    # Every fault's text must still be in the tree exactly once.
    stale = []
    for f in faults:
        with open(os.path.join(ROOT, f.path), encoding="utf-8") as fh:
            n = fh.read().count(f.find)
        if n != 1:
            stale.append(f"{f.id}: {f.path}: text found {n} times: {f.find!r}")
    if stale:
        print("The fault table no longer matches the code; update scripts/mutants_table.py:")
        print("\n".join("  " + s for s in stale))
        return 1
    if args.check:
        print(f"all {len(faults)} faults' texts occur exactly once")
        return 0

    scratch = os.path.abspath(args.scratch)
    os.makedirs(scratch, exist_ok=True)
    log = os.path.join(scratch, "mutants.log")
    open(log, "w").close()
    run_started = time.monotonic()
    src = os.path.join(scratch, "src-tree")
    build = os.path.join(scratch, "build")
    print(f"scratch tree: {src}  (log: {log})")
    copy_tree(src)
    launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"] \
        if shutil.which("ccache") else []
    if run(["cmake", "-S", src, "-B", build, "-DCMAKE_BUILD_TYPE=Debug", "-DPALOMA_SANITIZE=OFF",
            "-DPALOMA_TESTS=ON", "-DPALOMA_TOOLS=ON"] + launcher, scratch, 600, log) != 0 or \
            run(["cmake", "--build", build, f"-j{args.jobs}"], scratch, 1800, log) != 0:
        print(f"the unmutated tree does not build; see {log}")
        return 1
    selections = sorted({f.tests for f in faults if not f.equivalent})
    ctest = ["ctest", "--test-dir", build, "--timeout", "60", f"-j{args.jobs}"] + \
        (["-E", args.exclude] if args.exclude else [])
    targets = {}
    for sel in selections:
        if is_pytest(sel):
            # The package loads the built library and runs the built printer.
            targets[sel] = ["paloma", "paloma-vprinter"]
            cmd, env = pytest_command(src, build, sel)
            if run(cmd, src, 900, log, env) != 0:
                print(f"the unmutated Python tests fail for '{sel}'; see {log}")
                return 1
            continue
        targets[sel] = test_targets(build, sel)
        if not targets[sel]:
            print(f"no test matches -R '{sel}': fix its pattern in scripts/mutants_table.py")
            return 1
        if run(ctest + ["-R", sel], scratch, 900, log) != 0:
            print(f"the unmutated tests fail for -R '{sel}'; see {log}")
            return 1

    killed = survived = equivalent = invalid = 0
    areas = {}  # area -> [killed, survived]
    rows = []
    for f in faults:
        if f.equivalent:
            equivalent += 1
            rows.append((f.id, "equivalent", f.equivalent))
            continue
        path = os.path.join(src, f.path)
        with open(path, encoding="utf-8") as fh:
            original = fh.read()
        with open(path, "w", encoding="utf-8") as fh:
            fh.write(original.replace(f.find, f.replace, 1))
        started = time.monotonic()
        area = area_of(f.path)
        try:
            compiled = f.path.endswith((".cc", ".h", ".c", ".in", ".txt", ".cmake"))
            if compiled and run(["cmake", "--build", build, f"-j{args.jobs}", "--target"] +
                                targets[f.tests], scratch, 1800, log) != 0:
                verdict = "INVALID (does not build)"
                invalid += 1
            else:
                if is_pytest(f.tests):
                    cmd, env = pytest_command(src, build, f.tests)
                    failed = run(cmd, src, 900, log, env) != 0
                else:
                    failed = run(ctest + ["-R", f.tests, "--stop-on-failure"], scratch, 900,
                                 log) != 0
                if failed:
                    verdict = "killed"
                    killed += 1
                    areas.setdefault(area, [0, 0])[0] += 1
                else:
                    verdict = "SURVIVED"
                    survived += 1
                    areas.setdefault(area, [0, 0])[1] += 1
        finally:
            with open(path, "w", encoding="utf-8") as fh:
                fh.write(original)
            os.utime(path)  # rebuild the file's objects for the next fault
        rows.append((f.id, verdict, f"{f.path} ({time.monotonic() - started:.0f} s)"))
        print(f"  {f.id:<28} {verdict:<24} {f.path}", flush=True)

    print()
    for r in rows:
        print(f"{r[0]:<28} {r[1]:<24} {r[2]}")
    print()
    for area in sorted(areas, key=lambda a: (a != "library", a)):
        k, sv = areas[area]
        print(f"  {area:<10} {k} of {k + sv} killed = {100.0 * k / (k + sv):.1f}%")
    scored = killed + survived
    score = 100.0 * killed / scored if scored else 0.0
    print(f"\n{killed} killed, {survived} survived, {equivalent} equivalent: "
          f"score {killed} of {scored} = {score:.1f}%  ({time.monotonic() - run_started:.0f} s)")
    if invalid:
        print(f"{invalid} faults did not build: fix their replacement in scripts/mutants_table.py")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
