"""Printing, status and information through Printer.tcp on the virtual
printer."""

from __future__ import annotations

import logging
import os
import shutil
import subprocess

import pytest

from conftest import read_png

import paloma
from paloma import Status


def test_label_through_tcp_reaches_the_png(vprinter) -> None:
    with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p:
        p.setup(width_mm=60, height_mm=40, gap_mm=2.5)
        p.clear()
        p.text(20, 20, "Hello")
        p.barcode(20, 80, "PALOMA-0001", height=60, readable=0)
        p.qrcode(360, 200, "PALOMA")
        p.print()
    assert vprinter.wait_for(lambda: len(vprinter.labels()) == 1)
    img = read_png(vprinter.labels()[0])
    assert (img.width, img.height) == (480, 320)  # 60 x 40 mm at 8 dots a millimetre
    assert img.ink(20, 20, 100, 44) > 50  # "Hello" in font 3 (16 x 24 dots a letter)
    assert img.ink(20, 80, 200, 140) > 1000  # the bars
    assert img.ink(360, 200, 480, 320) > 200  # the QR code
    assert img.ink(340, 0, 480, 190) == 0  # and nothing where nothing was put
    gap = vprinter.commands("GAP")
    assert gap and gap[0]["fields"] == ["2.5 mm", "0 mm"]


def test_status_and_information_as_configured(start_vprinter) -> None:
    vp = start_vprinter("--status", "0x05", "--name", "PX 300", "--serial-number", "S-42",
                        "--dpi", "300")
    with paloma.Printer.tcp("127.0.0.1", vp.port) as p:
        status = p.status()
        assert status == Status.HEAD_OPEN | Status.PAPER_EMPTY
        assert Status.HEAD_OPEN in status and not status.ready
        assert status.describe() == "head open, paper empty"
        p.setup(20, 10)
        p.print(sets=2)
        info = p.info()
        assert (info.name, info.serial, info.dpi) == ("PX 300", "S-42", 300)
        assert info.label_count == 2
        assert isinstance(info.free_memory, int) and info.free_memory > 0
        assert info.mileage is not None and info.peel is False and info.files == []
        assert info.code_page
        assert p.setting("SYSTEM", "INFORMATION", "DPI") == "300"


def test_label_and_status_over_a_serial_port(start_vprinter) -> None:
    vp = start_vprinter("--serial", "--status", "0x20")
    with paloma.Printer.serial(vp.serial, baud=115200) as p:
        p.setup(30, 20)
        p.clear()
        p.text(10, 10, "serial")
        p.print()
        assert p.status() is Status.PRINTING
    assert vp.wait_for(lambda: len(vp.labels()) == 1)
    assert read_png(vp.labels()[0]).ink(10, 10, 106, 34) > 50


def test_status_texts_map_to_values() -> None:
    assert Status.from_text("00") is Status.READY and Status.READY.ready
    assert Status.from_text("0C") == Status.PAPER_EMPTY | Status.RIBBON
    assert Status.from_text("80") == Status.OTHER_ERROR
    assert Status.from_text("-1") is Status.NO_REPLY
    assert Status.from_text("other error") is Status.UNKNOWN
    assert Status.from_text("-2") is Status.UNKNOWN
    for bad in ("", "0", "zz", "100"):
        with pytest.raises(ValueError):
            Status.from_text(bad)


def _bitmap_widths(vp) -> list[int]:
    """Width in bytes of each BITMAP the printer took, in order."""
    return [int(e["fields"][2]) for e in vp.commands("BITMAP")]


def test_host_font_text_any_script(vprinter, caplog) -> None:
    caplog.set_level(logging.DEBUG, logger="paloma")
    with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p:
        p.setup(100, 60)
        p.clear()
        # Each pair: one character, then four. A text cut at its first
        # character (units of the wrong width, a stray NUL) gives the second
        # the width of the first.
        for one, four in (("\u00c4", "\u00c4" * 4),      # Latin-1: the 8-bit path
                          ("\u4e2d", "\u4e2d" * 4),      # CJK: UTF-16
                          ("\u03a9", "\u03a9\U0001f600\u03a9\u03a9")):  # with a surrogate pair
            p.host_font_text(10, 10, one, height=48)
            p.host_font_text(10, 100, four, height=48)
        p.host_font_text(10, 200, "Gr\u00f6\u00dfe \u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac",
                         height=48, bold=True)
        p.print()
    assert vprinter.wait_for(lambda: len(vprinter.labels()) == 1)
    widths = _bitmap_widths(vprinter)
    assert len(widths) == 7
    for i in (0, 2, 4):
        assert widths[i + 1] > 3 * widths[i], widths
    for e in vprinter.commands("BITMAP"):
        assert e["payload_bytes"] == e["payload_announced"]
        assert "error" not in e
    img = read_png(vprinter.labels()[0])
    assert img.ink(10, 200, 790, 260) > 500


def _scheduler_running() -> bool:
    try:
        r = subprocess.run(["lpstat", "-r"], capture_output=True, text=True, timeout=5)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return r.stdout.strip() == "scheduler is running"


def test_label_through_a_spooler_queue(vprinter) -> None:
    if not _scheduler_running():
        pytest.skip("no CUPS scheduler is running (scripts/with-cupsd.sh starts one, run as root)")
    # lpadmin lives in /usr/sbin, off an ordinary user's PATH.
    lpadmin = shutil.which("lpadmin", path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
    if not lpadmin:
        pytest.skip("lpadmin is not installed")
    name = f"paloma_py_{os.getpid()}"
    made = subprocess.run([lpadmin, "-p", name, "-E", "-v", f"socket://127.0.0.1:{vprinter.port}"],
                          capture_output=True, text=True, timeout=30)
    if made.returncode != 0:
        # Whether a queue can be made is the machine's affair: a user outside
        # the lpadmin group, or a scheduler that refuses this caller even as
        # root, answers "Unauthorized" or "Forbidden".
        said = (made.stderr or made.stdout).strip().splitlines()
        pytest.skip(f"lpadmin could not make a queue here (exit {made.returncode}): "
                    f"{said[-1] if said else 'no message'}")
    try:
        with paloma.Printer.queue(name) as p:
            # Slot 1's queue state is the current connection's.
            with pytest.raises(paloma.ConnectionInUseError):
                paloma.Printer.slot(1, queue=name)
            with pytest.raises(paloma.UnsupportedError):
                p.status()
            p.setup(30, 20)
            p.clear()
            p.text(10, 10, "queue")
            p.print()
        # The job goes out when the queue's document ends, at close.
        assert vprinter.wait_for(lambda: len(vprinter.labels()) == 1, seconds=30)
    finally:
        subprocess.run([lpadmin, "-x", name], capture_output=True, timeout=30)
