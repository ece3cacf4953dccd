"""Fixtures: the virtual printer on 127.0.0.1, silent and closing peers, a
refused port, and a reader of the printer's PNG labels.

The library and the printer are the ones built in the tree, or those named by
PALOMA_LIBRARY and PALOMA_VPRINTER (scripts/python-tests.sh sets both)."""

from __future__ import annotations

import json
import os
import socket
import struct
import subprocess
import sys
import threading
import time
import zlib
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Iterator, Optional

import pytest

TREE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(TREE / "python"))

import paloma  # noqa: E402
from paloma import _library  # noqa: E402
from paloma.testing import VirtualPrinter, find_vprinter, vprinter, vprinters  # noqa: E402,F401


def _find_vprinter() -> Path:
    """The program: PALOMA_VPRINTER, beside the library, or in a build tree."""
    lib = Path(_library.library_path() or "")
    beside = lib.parent / "tools" / "vprinter" / "paloma-vprinter"
    if not os.environ.get("PALOMA_VPRINTER") and not (lib.name and beside.is_file()):
        for base in sorted(TREE.glob("build*")):
            p = base / "tools" / "vprinter" / "paloma-vprinter"
            if p.is_file():
                os.environ["PALOMA_VPRINTER"] = str(p)
                break
    return find_vprinter()


# The package's own plugin serves these tests too.
VPrinter = VirtualPrinter


@pytest.fixture
def start_vprinter(tmp_path: Path) -> Iterator[Callable[..., VirtualPrinter]]:
    paloma.library_version()  # loads the library first, so the printer is found beside it
    _find_vprinter()
    yield from vprinters(tmp_path)


class Peer:
    """A TCP peer on 127.0.0.1 that accepts one connection and then either
    reads and never answers (silent) or closes it at once (closing). It
    stops by itself after `lifetime` seconds."""

    def __init__(self, close_at_once: bool, lifetime: float = 20.0) -> None:
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(1)
        self.server.settimeout(lifetime)
        self.port = self.server.getsockname()[1]
        self.close_at_once = close_at_once
        self.lifetime = lifetime
        self.received = bytearray()
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self) -> None:
        try:
            conn, _ = self.server.accept()
        except OSError:
            return
        with conn:
            if self.close_at_once:
                # After the library's connect has surely completed (a reset
                # during it fails the connect instead), RST rather than FIN:
                # the next write fails without waiting.
                time.sleep(0.3)
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return
            conn.settimeout(0.1)
            deadline = time.monotonic() + self.lifetime
            while not self.done.is_set() and time.monotonic() < deadline:
                try:
                    data = conn.recv(65536)
                except socket.timeout:
                    continue
                except OSError:
                    return
                if not data:
                    return
                self.received += data

    def stop(self) -> None:
        self.done.set()
        self.server.close()
        self.thread.join(5)


@pytest.fixture
def silent_peer() -> Iterator[Peer]:
    peer = Peer(close_at_once=False)
    yield peer
    peer.stop()


@pytest.fixture
def closing_peer() -> Iterator[Peer]:
    peer = Peer(close_at_once=True)
    yield peer
    peer.stop()


@pytest.fixture
def refused_port() -> int:
    """A port of 127.0.0.1 nothing listens on (bound, never listening, so no
    other program takes it during the test)."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    yield port
    s.close()


@dataclass
class Image:
    width: int
    height: int
    rows: list[bytes]  # one grey byte per pixel

    def ink(self, x0: int = 0, y0: int = 0, x1: Optional[int] = None,
            y1: Optional[int] = None) -> int:
        """Black pixels in the box [x0, x1) x [y0, y1)."""
        x1 = self.width if x1 is None else x1
        y1 = self.height if y1 is None else y1
        return sum(row[x0:x1].count(0) for row in self.rows[y0:y1])


def read_png(path: Path) -> Image:
    """Decodes the printer's PNGs: grey of 1 or 8 bits, not interlaced; a
    one-bit pixel becomes 0 (black) or 255 (white)."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", chunk)
        elif kind == b"IDAT":
            idat += chunk
        pos += 12 + length
    assert header is not None
    width, height, depth, colour, _, _, interlace = header
    assert depth in (1, 8) and (colour, interlace) == (0, 0), f"unexpected PNG format {header}"
    raw = zlib.decompress(idat)
    stride = (width * depth + 7) // 8  # bytes a row; filters look one byte back
    rows: list[bytes] = []
    prev = bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - 1] if x else 0
            b = prev[x]
            c = prev[x - 1] if x else 0
            if f == 1:
                line[x] = (line[x] + a) & 0xFF
            elif f == 2:
                line[x] = (line[x] + b) & 0xFF
            elif f == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[x] = (line[x] + pred) & 0xFF
        prev = line
        if depth == 1:
            rows.append(bytes(255 if (line[x >> 3] >> (7 - (x & 7))) & 1 else 0
                              for x in range(width)))
        else:
            rows.append(bytes(line))
    return Image(width, height, rows)
