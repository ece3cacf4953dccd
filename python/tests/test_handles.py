"""Printer.open: printer handles, any number per process, beside the
process-wide connection; Status built from the byte in the library's words;
FoundPrinter.uri."""

from __future__ import annotations

import threading
from pathlib import Path

import pytest

from conftest import Peer, read_png

import paloma
from paloma import FoundPrinter, Status, raw


def test_many_handles_at_once_each_prints_its_own_label(start_vprinter) -> None:
    printers = [start_vprinter() for _ in range(4)]
    handles = [paloma.Printer.open(f"tcp://127.0.0.1:{vp.port}") for vp in printers]
    # The process-wide connection opens beside them: no ConnectionInUseError.
    with paloma.Printer.tcp("127.0.0.1", printers[0].port) as single:
        single.send("CLS")
    try:
        errors: list[BaseException] = []

        def label(p: paloma.Printer, n: int) -> None:
            try:
                p.setup(30, 20)
                p.clear()
                p.text(10, 10, f"P{n}")
                p.barcode(10, 60, f"N-{n}", height=40, readable=0)
                p.print()
            except BaseException as e:  # noqa: BLE001 - handed to the test's thread
                errors.append(e)

        threads = [threading.Thread(target=label, args=(p, n)) for n, p in enumerate(handles)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(30)
        assert not errors, errors
    finally:
        for p in handles:
            p.close()
    for vp in printers:
        assert vp.wait_for(lambda vp=vp: len(vp.labels()) == 1)
        img = read_png(vp.labels()[0])
        assert img.ink(10, 10, 58, 34) > 20 and img.ink(10, 60, 200, 100) > 200


def test_status_of_a_combined_byte_reads_as_the_librarys_words(start_vprinter) -> None:
    vp = start_vprinter("--status", "0x06", "--name", "PX 300", "--dpi", "300")
    with paloma.Printer.open(f"tcp://127.0.0.1:{vp.port}") as p:
        status = p.status()
        assert status == Status.PAPER_JAM | Status.PAPER_EMPTY
        assert Status.PAPER_JAM in status and Status.HEAD_OPEN not in status
        assert str(status) == "paper jam, paper empty" == status.describe()
        info = p.info()
        assert (info.name, info.dpi) == ("PX 300", 300)
        assert info.label_count == 0 and info.code_page
        assert p.setting("SYSTEM", "INFORMATION", "DPI") == "300"
        with pytest.raises(paloma.RefusedArgumentError):
            p.setting("SYSTEM", "A/B", "DPI")


def test_status_words_are_the_librarys_for_every_byte() -> None:
    for byte in range(256):
        status = Status.from_byte(byte)
        assert int(status) == byte
        assert str(status) == raw.paloma_status_text(byte).decode()
    assert str(Status.READY) == "ready"
    assert str(Status.NO_REPLY) == "no reply" and str(Status.UNKNOWN) == "unknown status"
    assert f"{Status.RIBBON:>14}" == "  ribbon empty"
    for bad in (-1, 256, True, "5"):
        with pytest.raises(ValueError):
            Status.from_byte(bad)  # type: ignore[arg-type]


def test_a_silent_printer_stalls_only_its_own_handle(start_vprinter, silent_peer) -> None:
    vp = start_vprinter("--status", "0x20")
    with paloma.Printer.open(f"tcp://127.0.0.1:{silent_peer.port}", reply_timeout=1.5) as silent, \
            paloma.Printer.open(f"tcp://127.0.0.1:{vp.port}") as healthy:
        waiting = threading.Event()
        got: list[Status] = []

        def ask_silent() -> None:
            waiting.set()
            got.append(silent.status())

        t = threading.Thread(target=ask_silent)
        t.start()
        waiting.wait(5)
        # The healthy printer answers many times while the silent one is
        # still inside its reply bound (a shared lock would let none through).
        answers = []
        while t.is_alive() and len(answers) < 5:
            answers.append(healthy.status())
        t.join(10)
        assert answers and all(a is Status.PRINTING for a in answers)
        assert len(answers) == 5, "the healthy handle waited for the silent one"
        assert got == [Status.NO_REPLY]


def test_refusals_and_the_closed_handle(tmp_path: Path) -> None:
    for bad in ("", "tcp://", "http://127.0.0.1", "queue:a b", "serial:COM1", "tcp://h:0"):
        with pytest.raises(paloma.RefusedArgumentError):
            paloma.Printer.open(bad)
    with pytest.raises(paloma.RefusedArgumentError):
        paloma.Printer.open("file:" + str(tmp_path / "x.prn"), reply_timeout=0)
    with pytest.raises(paloma.RefusedArgumentError):
        paloma.Printer.open("tcp://127.0.0.1\n")
    p = paloma.Printer.open("file:" + str(tmp_path / "capture.prn"))
    with pytest.raises(paloma.UnsupportedError):
        p.status()
    p.close()
    p.close()  # again: nothing
    assert p.closed
    for call in (lambda: p.send("CLS"), p.status, p.info, lambda: p.send_raw(b"x")):
        with pytest.raises(paloma.NotConnectedError):
            call()


def test_a_refused_port_is_not_connected(refused_port: int) -> None:
    with pytest.raises(paloma.NotConnectedError):
        paloma.Printer.open(f"tcp://127.0.0.1:{refused_port}")


def test_a_handle_sends_what_the_library_builders_send(tmp_path: Path) -> None:
    """The commands a handle composes here are byte for byte those of the
    library's builders on the process-wide connection."""
    picture = tmp_path / "dot.pgm"
    picture.write_bytes(b"P5 2 2 255\n" + bytes([0, 255, 255, 0]))

    def job(p: paloma.Printer) -> None:
        p.setup(50, 30.5, speed=3, density=10, gap_mm=2, offset_mm=0.5)
        p.setup(40, 20, black_mark=True)
        p.clear()
        p.text(10, 20, "Grüß", font="2", rotation=90, x_mul=2, y_mul=3)
        p.barcode(5, 6, "ABC-1", type="39", height=50, readable=2, rotation=180)
        p.qrcode(1, 2, "https://example.org/x", ecc="H", cell=6)
        p.image(picture, 8, 9, width=4)
        p.send("DIRECTION 1")
        p.send_raw(b"\x1b!R")
        p.host_font_text(10, 10, "Hello", height=24, bold=True)
        p.print(sets=2, copies=3)

    received = []
    for opener in (lambda port: paloma.Printer.open(f"tcp://127.0.0.1:{port}"),
                   lambda port: paloma.Printer.tcp("127.0.0.1", port)):
        peer = Peer(close_at_once=False)
        try:
            with opener(peer.port) as p:
                job(p)
            peer.thread.join(10)
            received.append(bytes(peer.received))
        finally:
            peer.stop()
    assert received[0] and received[0] == received[1]

    # A file goes out as it is, then CR LF (the network's single connection
    # ends it with CR LF NUL instead); a download has its header first.
    commands = tmp_path / "cmds.txt"
    commands.write_bytes(b"CLS\r\nPRINT 1,1")
    capture = tmp_path / "capture.prn"
    with paloma.Printer.open(f"file:{capture}") as p:
        p.send_file(commands)
        p.download(picture, "DOT.PGM")
        p.download(picture, "DOT2.PGM", memory="F")
        with pytest.raises(paloma.PalomaOSError) as missing:
            p.send_file(tmp_path / "missing.txt")
        assert missing.value.filename == str(tmp_path / "missing.txt")
    pgm = picture.read_bytes()
    assert capture.read_bytes() == (b"CLS\r\nPRINT 1,1\r\n" + b'DOWNLOAD "DOT.PGM",15,' + pgm +
                                    b"\r\n" + b'DOWNLOAD F,"DOT2.PGM",15,' + pgm + b"\r\n")


def test_found_printer_uri_takes_the_answers_tcp_port() -> None:
    assert FoundPrinter("10.0.0.7", 22368, b"x;name=Desk;tcp=6101;").uri == "tcp://10.0.0.7:6101"
    assert FoundPrinter("10.0.0.7", 22368, b"tcp=6101\x00junk").uri == "tcp://10.0.0.7:6101"
    # No usable port in the answer: the usual one.
    for answer in (b"", b"name=x;", b"tcp=0;", b"tcp=70000;", b"tcp=61a;", b"xtcp=6101;"):
        assert FoundPrinter("10.0.0.7", 22368, answer).uri == "tcp://10.0.0.7:9100", answer
    assert FoundPrinter(None, None).uri is None
