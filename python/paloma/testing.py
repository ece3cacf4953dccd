"""The virtual printer as a pytest plugin: test label code without a printer.

    pytest -p paloma.testing

or, in a conftest.py, ``pytest_plugins = ["paloma.testing"]``. The fixture
``vprinter`` starts paloma-vprinter on a free port of 127.0.0.1 with an
output folder of its own, and stops it after the test::

    def test_shipping_label(vprinter):
        with paloma.Printer.open(vprinter.uri) as p:
            p.setup(50, 30)
            p.clear()
            p.text(20, 20, "Hello")
            p.print()
        assert len(vprinter.wait_for_labels(1)) == 1

``vprinter.labels()`` lists the PNG files of the labels it printed (one dot a
pixel, black and white), ``vprinter.commands("TEXT")`` the commands it read.
``start_vprinter(*args)`` starts more, with paloma-vprinter's own options.

The program is PALOMA_VPRINTER, else the one beside the loaded library (a
build tree), else paloma-vprinter on PATH.
"""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import threading
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Iterator

import pytest

from . import _library

__all__ = ["VirtualPrinter", "find_vprinter", "vprinters", "start_vprinter", "vprinter"]

_START_SECONDS = 10.0
_STOP_SECONDS = 5.0


def find_vprinter() -> Path:
    """The paloma-vprinter program; fails the test with what to do when
    there is none."""
    env = os.environ.get("PALOMA_VPRINTER")
    if env:
        if not Path(env).is_file():
            pytest.fail(f"PALOMA_VPRINTER names {env}, which is not a file")
        return Path(env)
    try:
        lib = Path(_library.library_path() or "")
    except Exception:  # the library cannot be loaded: PATH may still have the program
        lib = Path()
    if lib.name:
        for p in (lib.parent / "tools" / "vprinter" / "paloma-vprinter",
                  lib.parent.parent / "bin" / "paloma-vprinter"):
            if p.is_file():
                return p
    found = shutil.which("paloma-vprinter")
    if found:
        return Path(found)
    pytest.fail("paloma-vprinter was not found: install the paloma tools package, put the "
                "program on PATH, or set PALOMA_VPRINTER to its path")


@dataclass
class VirtualPrinter:
    """A running paloma-vprinter."""

    port: int
    out: Path
    process: subprocess.Popen
    serial: str = ""  # its pseudo-terminal, when started with --serial

    @property
    def uri(self) -> str:
        """The address Printer.open and the paloma tool take."""
        return f"tcp://127.0.0.1:{self.port}"

    def labels(self) -> list[Path]:
        """The labels printed so far, oldest first."""
        return sorted(self.out.glob("label-*.png"))

    def log(self) -> list[dict]:
        """Every command it read, one dict each (its log.jsonl)."""
        path = self.out / "log.jsonl"
        if not path.exists():
            return []
        return [json.loads(line) for line in path.read_text().splitlines() if line.strip()]

    def commands(self, name: str) -> list[dict]:
        """The log's entries of one command ("TEXT", "PRINT", ...)."""
        return [e for e in self.log() if e.get("command") == name]

    def wait_for(self, predicate: Callable[[], bool], seconds: float = 5.0) -> bool:
        """Polls until `predicate` holds (the printer handles bytes as they
        arrive, a little after the library returns)."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if predicate():
                return True
            time.sleep(0.02)
        return predicate()

    def wait_for_labels(self, count: int, seconds: float = 5.0) -> list[Path]:
        """The labels once there are `count` (or all there are after
        `seconds`)."""
        self.wait_for(lambda: len(self.labels()) >= count, seconds)
        return self.labels()

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.terminate()
        try:
            self.process.communicate(timeout=_STOP_SECONDS)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.communicate(timeout=_STOP_SECONDS)


def _read_line_within(proc: subprocess.Popen, seconds: float) -> str:
    box: list[str] = []
    t = threading.Thread(target=lambda: box.append(proc.stdout.readline()), daemon=True)
    t.start()
    t.join(seconds)
    return box[0] if box else ""


def vprinters(folder: Path) -> Iterator[Callable[..., VirtualPrinter]]:
    """Gives a starter of virtual printers with their output under `folder`,
    once; stops every one it started when resumed."""
    exe = find_vprinter()
    started: list[VirtualPrinter] = []

    def start(*args: str) -> VirtualPrinter:
        out = folder / f"vprinter{len(started)}"
        out.mkdir()
        # A sanitizer runtime preloaded for the library stays out of the program.
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        proc = subprocess.Popen([str(exe), "--listen", "127.0.0.1:0", "--out", str(out), *args],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                env=env)
        lines = [_read_line_within(proc, _START_SECONDS)
                 for _ in range(2 if "--serial" in args else 1)]
        prefix = "paloma-vprinter: listening on 127.0.0.1:"
        serial = [ln.split(" port ", 1)[1].strip() for ln in lines if " serial port " in ln]
        if not lines[0].startswith(prefix) or ("--serial" in args and not serial):
            proc.kill()
            _, err = proc.communicate(timeout=_STOP_SECONDS)
            pytest.fail(f"paloma-vprinter did not start: {lines!r} {err}")
        vp = VirtualPrinter(int(lines[0][len(prefix):].strip()), out, proc,
                            serial[0] if serial else "")
        started.append(vp)
        return vp

    yield start
    for vp in started:
        vp.stop()


@pytest.fixture
def start_vprinter(tmp_path: Path) -> Iterator[Callable[..., VirtualPrinter]]:
    """Starts paloma-vprinter (with extra options) on a free port of
    127.0.0.1 with its own output folder; each is stopped after the test."""
    yield from vprinters(tmp_path)


@pytest.fixture
def vprinter(start_vprinter: Callable[..., VirtualPrinter]) -> VirtualPrinter:
    """A virtual printer for this test: ``.uri``, ``.labels()``."""
    return start_vprinter()
