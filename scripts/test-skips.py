#!/usr/bin/env python3
"""Lists every test that skipped, with its reason, from ctest's JUnit file
(ctest --output-junit FILE): one line a test, "NAME: REASON".

The reason is what the test wrote: the line after a GoogleTest "Skipped"
marker, a "SKIPPED: ..." line of a script that exits with the skip code, or
the "SKIPPED [n] file:line: reason" lines pytest writes with -rs (those come
from tests that ctest counts as passed, so they are listed too).

    scripts/test-skips.py build-test/ctest-junit.xml
"""
import re
import sys
import xml.etree.ElementTree as ET


def reasons(name: str, status_skipped: bool, output: str) -> list[str]:
    found = []
    lines = output.splitlines()
    for i, line in enumerate(lines):
        if re.search(r":\d+: Skipped$", line) and i + 1 < len(lines):
            found.append(lines[i + 1].strip() or "(no reason given)")
        elif line.startswith("SKIPPED: "):
            found.append(line[len("SKIPPED: "):].strip())
        else:
            m = re.match(r"SKIPPED \[\d+\] (.*)$", line)
            if m:
                found.append(m.group(1).strip())
    if status_skipped and not found:
        found.append("(the test gave no reason)")
    return [f"{name}: {r}" for r in found]


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: test-skips.py CTEST_JUNIT_FILE", file=sys.stderr)
        return 2
    try:
        root = ET.parse(sys.argv[1]).getroot()
    except (OSError, ET.ParseError) as e:
        print(f"test-skips.py: cannot read {sys.argv[1]}: {e}", file=sys.stderr)
        return 1
    for case in root.iter("testcase"):
        out = case.find("system-out")
        text = out.text if out is not None and out.text else ""
        skipped = case.find("skipped") is not None or case.get("status") == "notrun"
        for line in reasons(case.get("name", "?"), skipped, text):
            print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
