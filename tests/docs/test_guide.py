"""docs/guide.md against the code and pictures it shows.

The guide's code blocks marked <!-- code: NAME --> are the regions of
docs/guide/guide_examples.c between "guide: NAME" and "guide: end", and its
pictures are what scripts/make-guide-images.sh printed from them. These tests
catch a guide that drifted from its examples, a picture that is missing or
left over, and examples that no longer build against the header.
"""

from __future__ import annotations

import re
import shutil
import subprocess
import textwrap
from pathlib import Path

import pytest

TREE = Path(__file__).resolve().parents[2]
GUIDE = TREE / "docs" / "guide.md"
PICTURES = TREE / "docs" / "guide"
EXAMPLES = PICTURES / "guide_examples.c"
SCRIPT = TREE / "scripts" / "make-guide-images.sh"
# A picture is a one-bit label of a few hundred dots a side; anything much
# larger was rendered at the wrong size or in grey.
MAX_PICTURE_BYTES = 20_000


def regions() -> dict[str, str]:
    src = EXAMPLES.read_text(encoding="utf-8")
    found = {}
    for m in re.finditer(r"/\* guide: (\w+) \*/\n(.*?)/\* guide: end \*/", src, re.S):
        assert m.group(1) not in found, f"region {m.group(1)} appears twice"
        found[m.group(1)] = textwrap.dedent(m.group(2)).strip("\n")
    return found


def guide_blocks() -> dict[str, str]:
    text = GUIDE.read_text(encoding="utf-8")
    return {m.group(1): m.group(2).strip("\n")
            for m in re.finditer(r"<!-- code: (\w+) -->\n```c\n(.*?)```", text, re.S)}


def script_examples() -> list[str]:
    m = re.search(r"^all=\(([^)]*)\)", SCRIPT.read_text(encoding="utf-8"), re.M)
    assert m, "make-guide-images.sh lists no examples"
    return m.group(1).split()


def test_code_in_the_guide_is_the_code_that_printed_the_pictures() -> None:
    shown, source = guide_blocks(), regions()
    assert source, "guide_examples.c has no guide: regions"
    markers = re.findall(r"<!-- code: (\w+) -->", GUIDE.read_text(encoding="utf-8"))
    assert sorted(markers) == sorted(shown), "a code marker is not followed by a c block"
    assert set(shown) == set(source), (
        f"only in the guide: {set(shown) - set(source)}; "
        f"only in guide_examples.c: {set(source) - set(shown)}")
    for name, code in source.items():
        assert shown[name] == code, f"the guide's {name} block differs from guide_examples.c"


def test_every_picture_is_made_shown_and_small() -> None:
    text = GUIDE.read_text(encoding="utf-8")
    shown = set(re.findall(r"!\[[^\]]*\]\(guide/([\w-]+\.png)\)", text))
    on_disk = {p.name for p in PICTURES.glob("*.png")}
    made = {f"{n}.png" for n in script_examples()}
    assert shown <= on_disk, f"the guide shows missing pictures: {shown - on_disk}"
    assert on_disk <= shown, f"pictures the guide does not show: {on_disk - shown}"
    assert on_disk == made, f"pictures the script does not make, or makes but are missing: {on_disk ^ made}"
    for p in PICTURES.glob("*.png"):
        data = p.read_bytes()
        assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{p.name} is not a PNG"
        assert len(data) <= MAX_PICTURE_BYTES, f"{p.name} has {len(data)} bytes"


def test_every_example_the_script_prints_exists() -> None:
    src = EXAMPLES.read_text(encoding="utf-8")
    table = re.search(r"examples\[\] = \{(.*?)\};", src, re.S)
    assert table, "guide_examples.c has no table of examples"
    names = re.findall(r'\{"(\w+)",', table.group(1))
    assert sorted(names) == sorted(script_examples())


@pytest.mark.skipif(shutil.which("cc") is None, reason="no C compiler")
def test_examples_build_against_the_header() -> None:
    r = subprocess.run(["cc", "-std=c11", "-Wall", "-Wextra", "-Werror", "-fsyntax-only",
                        f"-I{TREE / 'include'}", str(EXAMPLES)],
                       capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
