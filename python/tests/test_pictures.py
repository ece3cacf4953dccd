"""Printer.image: the same picture from a path, bytes, a PIL image and a numpy
array prints the same dots; pictures that cannot be printed raise the right
error and send nothing."""

from __future__ import annotations

import struct
import zlib
from pathlib import Path

import pytest

from conftest import read_png

import paloma


def _png(width: int, height: int, levels: bytes) -> bytes:
    """An 8-bit gray PNG of the given levels, rows packed."""
    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + levels[y * width:(y + 1) * width] for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


W, H = 40, 30
# A horizontal gradient with a black frame.
LEVELS = bytes(0 if x in (0, W - 1) or y in (0, H - 1) else x * 255 // (W - 1)
               for y in range(H) for x in range(W))


def _print(vprinter, source, **kw) -> list[bytes]:
    before = len(vprinter.labels())
    with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p:
        p.setup(30, 30)
        p.clear()
        p.image(source, 16, 8, width=120, **kw)
        p.print()
    assert vprinter.wait_for(lambda: len(vprinter.labels()) == before + 1)
    return read_png(vprinter.labels()[-1]).rows


def test_every_kind_of_source_prints_the_same_dots(vprinter, tmp_path: Path) -> None:
    path = tmp_path / "card.png"
    path.write_bytes(_png(W, H, LEVELS))
    labels = {"path": _print(vprinter, path), "str": _print(vprinter, str(path)),
              "bytes": _print(vprinter, path.read_bytes()),
              "memoryview": _print(vprinter, memoryview(bytearray(LEVELS)).cast("B", (H, W)))}
    np = pytest.importorskip("numpy")
    labels["numpy"] = _print(vprinter, np.frombuffer(LEVELS, dtype=np.uint8).reshape(H, W))
    # A view with a row stride of its own (every other column of a wider array).
    wide = np.zeros((H, 2 * W), dtype=np.uint8)
    wide[:, ::2] = np.frombuffer(LEVELS, dtype=np.uint8).reshape(H, W)
    labels["strided numpy"] = _print(vprinter, wide[:, ::2])
    rgb = np.repeat(np.frombuffer(LEVELS, dtype=np.uint8).reshape(H, W, 1), 3, axis=2)
    labels["numpy RGB"] = _print(vprinter, rgb)
    try:
        from PIL import Image
    except ImportError:
        Image = None
    if Image is not None:
        labels["PIL"] = _print(vprinter, Image.frombytes("L", (W, H), LEVELS))
        labels["PIL palette"] = _print(vprinter, Image.frombytes("L", (W, H), LEVELS).convert("P"))
    first = labels["path"]
    # 120 x 90 dots at 16, 8: the frame is black, nothing outside it.
    assert first[8][16:136].count(0) == 120
    assert first[7].count(0) == 0 and first[98].count(0) == 0
    for name, rows in labels.items():
        if name == "PIL palette":  # a palette of 256 grays may round a level
            assert sum(r.count(0) for r in rows) == pytest.approx(sum(r.count(0) for r in first), rel=0.05)
            continue
        assert rows == first, name


def test_dither_rotation_and_invert_change_the_dots(vprinter) -> None:
    data = _png(W, H, LEVELS)
    plain = _print(vprinter, data)
    turned = _print(vprinter, data, rotate=90)
    inverted = _print(vprinter, data, invert=True, dither="none", threshold=128)
    ordered = _print(vprinter, data, dither="ordered")
    assert turned != plain and ordered != plain
    # Turned, the 120-dot width is the height: 160 rows of the picture.
    assert sum(1 for r in turned if r.count(0)) == 160
    # Inverted, the frame is white and the light end of the gradient black.
    assert inverted[8][16] == 255 and inverted[50][130] == 0


def test_pictures_that_cannot_be_printed_raise_and_send_nothing(vprinter, tmp_path: Path) -> None:
    (tmp_path / "folder").mkdir()
    with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p:
        with pytest.raises(paloma.PalomaOSError) as missing:
            p.image(tmp_path / "missing.png")
        assert missing.value.filename == str(tmp_path / "missing.png")
        with pytest.raises(paloma.RefusedArgumentError, match="no picture format"):
            p.image(b"SIZE 50 mm,30 mm\r\n")
        with pytest.raises(paloma.RefusedArgumentError, match="cut short|damaged"):
            p.image(_png(W, H, LEVELS)[:60])
        with pytest.raises(paloma.RefusedArgumentError, match="larger than the label"):
            p.image(_png(W, H, LEVELS), width=5000)
        with pytest.raises(paloma.RefusedArgumentError, match="dither"):
            p.image(_png(W, H, LEVELS), dither="fancy")
        with pytest.raises(paloma.RefusedArgumentError, match="rotation"):
            p.image(_png(W, H, LEVELS), rotate=45)
        with pytest.raises(paloma.RefusedArgumentError, match="8-bit"):
            p.image(memoryview(bytearray(8)).cast("H"))
        with pytest.raises(paloma.RefusedArgumentError, match="cannot print a int"):
            p.image(7)
        with pytest.raises(paloma.PalomaError):
            p.image(tmp_path / "folder")
    assert vprinter.commands("BITMAP") == []
