"""docs/guide-python.md and docs/guide-cli.md against the examples they show
and the labels those print.

Each chapter's code blocks marked <!-- python: NAME --> or <!-- shell: NAME -->
are the regions of docs/guide/python/python_examples.py and
docs/guide/cli/cli_examples.sh between "# guide: NAME" and "# guide: end";
each picture docs/guide/python/NAME.png or docs/guide/cli/NAME.png is the
first label the example prints on the virtual printer.
The examples run here against a fresh virtual printer and must print those
very pictures again, dot for dot. After changing an example, print the
pictures again with

    python3 tests/docs/test_guide_chapters.py --write

(the library, the virtual printer and the paloma tool are the newest build*/
of the tree, or PALOMA_LIBRARY, PALOMA_VPRINTER and PALOMA_CLI).
"""

from __future__ import annotations

import os
import re
import subprocess
import sys
import tempfile
import textwrap
import time
from pathlib import Path
from typing import Optional

import pytest

TREE = Path(__file__).resolve().parents[2]
PICTURES = TREE / "docs" / "guide"
CHAPTERS = {
    # chapter, marker, fence, examples file, pictures' folder, labels each example prints
    "python": (TREE / "docs" / "guide-python.md", "python", "python",
               PICTURES / "python" / "python_examples.py", "python", {}),
    "cli": (TREE / "docs" / "guide-cli.md", "shell", "sh", PICTURES / "cli" / "cli_examples.sh",
            "cli", {"label_file": 2}),
}


def regions(path: Path) -> dict[str, str]:
    found: dict[str, str] = {}
    text = path.read_text(encoding="utf-8")
    for m in re.finditer(r"^[ \t]*# guide: (\w+)\n(.*?)^[ \t]*# guide: end\n", text, re.S | re.M):
        assert m.group(1) not in found, f"{path.name}: region {m.group(1)} appears twice"
        found[m.group(1)] = textwrap.dedent(m.group(2)).strip("\n")
    return found


def blocks(chapter: Path, marker: str, fence: str) -> dict[str, str]:
    text = chapter.read_text(encoding="utf-8")
    found = {m.group(1): m.group(2).strip("\n") for m in
             re.finditer(rf"<!-- {marker}: (\w+) -->\n```{fence}\n(.*?)```", text, re.S)}
    markers = re.findall(rf"<!-- {marker}: (\w+) -->", text)
    assert sorted(markers) == sorted(found), f"{chapter.name}: a marker is not followed by a block"
    return found


@pytest.mark.parametrize("name", sorted(CHAPTERS))
def test_code_in_the_chapter_is_the_code_that_printed_the_pictures(name: str) -> None:
    chapter, marker, fence, examples, folder, _ = CHAPTERS[name]
    shown, source = blocks(chapter, marker, fence), regions(examples)
    assert source, f"{examples.name} has no guide: regions"
    assert set(shown) == set(source), (
        f"only in {chapter.name}: {set(shown) - set(source)}; "
        f"only in {examples.name}: {set(source) - set(shown)}")
    for example, code in source.items():
        assert shown[example] == code, f"{chapter.name}'s {example} block differs from {examples.name}"
    pictures = set(re.findall(rf"!\[[^\]]*\]\(guide/{folder}/(\w+\.png)\)",
                              chapter.read_text(encoding="utf-8")))
    assert pictures == {f"{e}.png" for e in source}, "a picture per example, each shown"
    on_disk = {p.name for p in (PICTURES / folder).glob("*.png")}
    assert on_disk == pictures, f"pictures nobody shows, or missing: {on_disk ^ pictures}"


# ---- running the examples ---------------------------------------------------------------

def _newest(pattern: str) -> Optional[Path]:
    found = sorted(TREE.glob(pattern), key=lambda p: p.stat().st_mtime, reverse=True)
    return found[0] if found else None


def tools() -> Optional[dict[str, Path]]:
    """The library, the virtual printer and the paloma tool, or None."""
    lib = Path(os.environ["PALOMA_LIBRARY"]) if os.environ.get("PALOMA_LIBRARY") else \
        _newest("build*/libpaloma.so")
    if not lib or not lib.is_file():
        return None
    vp = Path(os.environ.get("PALOMA_VPRINTER") or lib.parent / "tools/vprinter/paloma-vprinter")
    cli = Path(os.environ.get("PALOMA_CLI") or lib.parent / "tools/cli/paloma")
    if not vp.is_file() or not cli.is_file():
        return None
    return {"library": lib.resolve(), "vprinter": vp.resolve(), "cli": cli.resolve()}


def _environment(found: dict[str, Path]) -> dict[str, str]:
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    env["PALOMA_LIBRARY"] = str(found["library"])
    env["PYTHONPATH"] = str(TREE / "python")
    env["PATH"] = f"{found['cli'].parent}:{env.get('PATH', '/usr/bin:/bin')}"
    env["XDG_CONFIG_HOME"] = "/nonexistent"  # no configured printers of the user's
    env["ASAN_OPTIONS"] = "detect_leaks=0"
    return env


def _asan_runtime(library: Path) -> Optional[str]:
    """The sanitizer runtime a sanitized library needs preloaded into python."""
    out = subprocess.run(["ldd", str(library)], capture_output=True, text=True).stdout
    m = re.search(r"libasan\.so\S*\s+=>\s+(\S+)", out)
    return m.group(1) if m else None


def print_example(found: dict[str, Path], chapter: str, example: str, count: int) -> list[bytes]:
    """Runs one example against a fresh virtual printer; the labels' PNGs."""
    _, _, _, examples, _, _ = CHAPTERS[chapter]
    env = _environment(found)
    with tempfile.TemporaryDirectory(prefix="paloma-guide-") as work:
        out = Path(work) / "out"
        out.mkdir()
        vp = subprocess.Popen([str(found["vprinter"]), "--listen", "127.0.0.1:0", "--out", str(out)],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, env=env)
        try:
            line = vp.stdout.readline() if vp.stdout else ""
            m = re.match(r"paloma-vprinter: listening on 127\.0\.0\.1:(\d+)", line)
            assert m, f"the virtual printer did not start: {line!r}"
            uri = f"tcp://127.0.0.1:{m.group(1)}"
            if chapter == "python":
                runtime = _asan_runtime(found["library"])
                if runtime:
                    env["LD_PRELOAD"] = runtime
                command = [sys.executable, str(examples), uri, example]
            else:
                env["PALOMA_PRINTER"] = uri
                command = ["/bin/sh", str(examples), example]
            run = subprocess.run(command, cwd=work, env=env, capture_output=True, text=True,
                                 timeout=120)
            assert run.returncode == 0, f"example {example}: {run.stdout}{run.stderr}"
            deadline = time.monotonic() + 10
            while len(list(out.glob("label-*.png"))) < count and time.monotonic() < deadline:
                time.sleep(0.05)
            labels = sorted(out.glob("label-*.png"))
            assert len(labels) == count, f"example {example} printed {len(labels)} labels"
            log = (out / "log.jsonl").read_text(encoding="utf-8")
            assert '"error"' not in log, f"the virtual printer found an error in {example}: {log}"
            return [p.read_bytes() for p in labels]
        finally:
            vp.terminate()
            vp.communicate(timeout=10)


def _cases() -> list[tuple[str, str]]:
    return [(c, e) for c in sorted(CHAPTERS) for e in sorted(regions(CHAPTERS[c][3]))]


@pytest.mark.parametrize("chapter,example", _cases())
def test_example_prints_its_picture_again(chapter: str, example: str) -> None:
    found = tools()
    if found is None:
        pytest.skip("no built library, virtual printer and paloma tool: build the tree "
                    "(cmake --build build) or set PALOMA_LIBRARY, PALOMA_VPRINTER and PALOMA_CLI")
    folder, counts = CHAPTERS[chapter][4], CHAPTERS[chapter][5]
    labels = print_example(found, chapter, example, counts.get(example, 1))
    picture = PICTURES / folder / f"{example}.png"
    assert labels[0] == picture.read_bytes(), (
        f"{example} no longer prints {picture.name}: if the change is meant, run "
        "python3 tests/docs/test_guide_chapters.py --write")


def main() -> int:
    if sys.argv[1:] != ["--write"]:
        print("usage: test_guide_chapters.py --write  (prints the chapters' pictures again)",
              file=sys.stderr)
        return 2
    found = tools()
    if found is None:
        print("test_guide_chapters: no built library, virtual printer and paloma tool: build the "
              "tree (cmake --build build) or set PALOMA_LIBRARY, PALOMA_VPRINTER and PALOMA_CLI",
              file=sys.stderr)
        return 1
    for chapter, example in _cases():
        folder, counts = CHAPTERS[chapter][4], CHAPTERS[chapter][5]
        labels = print_example(found, chapter, example, counts.get(example, 1))
        picture = PICTURES / folder / f"{example}.png"
        picture.write_bytes(labels[0])
        print(f"{picture.relative_to(TREE)} ({len(labels[0])} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
