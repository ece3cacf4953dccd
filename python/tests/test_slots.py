"""Slot Printers, and one open Printer per connection."""

from __future__ import annotations

import pytest

from conftest import read_png

import paloma
from paloma import ConnectionInUseError, NotConnectedError, Status, UnsupportedError


def test_slot_printer_prints_beside_the_current_connection(start_vprinter) -> None:
    first, second = start_vprinter(), start_vprinter()
    with paloma.Printer.tcp("127.0.0.1", first.port) as single, \
            paloma.Printer.slot(2, host="127.0.0.1", port=second.port) as slot:
        slot.setup(50, 30)
        slot.clear()
        slot.text(10, 10, "slot two")
        slot.barcode(10, 60, "S2", height=40, readable=0)
        slot.qrcode(300, 10, "S2")
        slot.print(copies=2)
        assert slot.status() is Status.READY
        single.setup(50, 30)
        single.clear()
        single.text(10, 10, "single")
        single.print()
        with pytest.raises(UnsupportedError):
            slot.host_font_text(10, 10, "x")  # the library draws for slots only on USB/queues
    for vp in (first, second):
        assert vp.wait_for(lambda: len(vp.labels()) == 1)
    slot_label = read_png(second.labels()[0])
    assert (slot_label.width, slot_label.height) == (400, 240)
    assert slot_label.ink(10, 10, 140, 34) > 50
    assert slot_label.ink(10, 60, 200, 100) > 300
    assert slot_label.ink(300, 10, 400, 110) > 100
    # Each printer got only its own label.
    assert [e["fields"] for e in second.commands("PRINT")] == [["1", "2"]]
    assert [e["fields"][-1] for e in first.commands("TEXT")] == ['"single"']


def test_one_open_printer_per_connection(vprinter, refused_port) -> None:
    with pytest.raises(NotConnectedError):
        paloma.Printer.tcp("127.0.0.1", refused_port)
    # A failed open keeps nothing.
    with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p:
        with pytest.raises(ConnectionInUseError):
            paloma.Printer.tcp("127.0.0.1", vprinter.port)
        with pytest.raises(ConnectionInUseError):
            paloma.Printer.usb()
        with paloma.Printer.slot(3, host="127.0.0.1", port=vprinter.port) as s:
            with pytest.raises(ConnectionInUseError):
                paloma.Printer.slot(3, host="127.0.0.1", port=vprinter.port)
            s.send("CLS")
        # The refused second open left the first connection working.
        p.send("CLS")
        assert p.status() is Status.READY
    with paloma.Printer.tcp("127.0.0.1", vprinter.port) as again:
        again.send("CLS")
    assert vprinter.wait_for(lambda: len(vprinter.commands("CLS")) == 3)
