"""Each kind of exception from a real cause."""

from __future__ import annotations

import errno
import logging
import time

import pytest

import paloma
from paloma import (NoReplyError, NotConnectedError, PalomaError, PalomaOSError,
                    RefusedArgumentError, Status)


def test_refused_port_is_not_connected(refused_port) -> None:
    with pytest.raises(NotConnectedError) as info:
        paloma.Printer.tcp("127.0.0.1", refused_port)
    assert info.value.function == "openethernet"
    assert info.value.code in (0, errno.ECONNREFUSED)
    assert str(refused_port) in str(info.value)


def test_silent_peer_gives_no_reply(silent_peer) -> None:
    with paloma.Printer.tcp("127.0.0.1", silent_peer.port) as p:
        started = time.monotonic()
        assert p.status() is Status.NO_REPLY
        with pytest.raises(NoReplyError) as info:
            p.info()
        # The library bounds each wait (about a second); nothing hangs.
        assert time.monotonic() - started < 10
        assert isinstance(info.value, TimeoutError)
        assert info.value.function == "ethernetprintername"


def test_closed_peer_is_not_connected(closing_peer) -> None:
    with paloma.Printer.tcp("127.0.0.1", closing_peer.port) as p:
        # The first writes may still land in the socket buffer; once the
        # peer's reset arrives every write fails.
        with pytest.raises(NotConnectedError) as info:
            for _ in range(100):
                p.send("CLS")
                time.sleep(0.02)
        assert info.value.code in (0, errno.EPIPE, errno.ECONNRESET)
        assert p.status() is Status.NO_REPLY


def test_missing_file_is_an_os_error_and_the_message_is_logged(vprinter, tmp_path,
                                                               caplog) -> None:
    caplog.set_level(logging.INFO, logger="paloma")
    missing = tmp_path / "missing.bmp"
    with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p:
        for call in (lambda: p.download(missing), lambda: p.send_file(missing),
                     lambda: p.download(missing, "LOGO.BMP", memory="F")):
            with pytest.raises(PalomaOSError) as info:
                call()
            assert info.value.errno == errno.ENOENT and info.value.filename == str(missing)
            assert isinstance(info.value, OSError)
        p.send("CLS")
    assert vprinter.wait_for(lambda: vprinter.commands("CLS"))
    assert not vprinter.commands("DOWNLOAD")
    # The library's message box for the unreadable file reached logging.
    assert any(r.name == "paloma" and r.levelno >= logging.WARNING for r in caplog.records)


def test_refused_arguments_send_nothing(vprinter) -> None:
    with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p:
        refused = [
            lambda: p.text(10, 10, "two\r\nlines"),           # a line end ends the command
            lambda: p.text(10, 10, "say \"hi\""),             # a quote ends the text
            lambda: p.text(10, 10, "\u4e2d"),                  # not in the printer's code page
            lambda: p.text(10, 10, "x", font="3\0"),           # a NUL cuts the C string
            lambda: p.qrcode(10, 10, "x" * 200),               # more than the command holds
            lambda: p.barcode(10, 10, "1", height=float("nan")),
            lambda: p.setup(True, 10),
            lambda: p.print(sets=0),
            lambda: p.send(b"CLS\0PRINT 1"),
            lambda: p.host_font_text(10, 10, ""),
            lambda: p.host_font_text(10, 10, "x", face="F" * 32),
            lambda: p.setting("SYSTEM", "INFO\"", "DPI"),
            lambda: p.send(123),                                # not 123 NULs
            lambda: p.send_raw(5),
        ]
        for call in refused:
            with pytest.raises(RefusedArgumentError):
                call()
        p.send("CLS")
    with pytest.raises(RefusedArgumentError):
        paloma.Printer.tcp("127.0.0.1", vprinter.port + 65536)  # would reach the same port
    with pytest.raises(RefusedArgumentError):
        paloma.Printer.serial("/dev/null", baud=1200)
    # A host that is no text (123 is not 0.0.0.123) or holds a NUL.
    for host in (123, 0x7F000001, b"127.0.0.1", "127.0.0.1\0x"):
        with pytest.raises(RefusedArgumentError):
            paloma.Printer.tcp(host, vprinter.port)
    with pytest.raises(RefusedArgumentError, match="must be str or bytes, not int"):
        with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p:
            p.send(123)
    with pytest.raises(RefusedArgumentError):
        paloma.Printer.tcp("127.0.0.1", vprinter.port, encoding="no-such-codec")
    assert vprinter.wait_for(lambda: vprinter.commands("CLS"))
    sent = [e.get("command") for e in vprinter.log() if "command" in e]
    assert sent == ["CLS"], sent


def test_closed_printer_refuses_calls(vprinter) -> None:
    p = paloma.Printer.tcp("127.0.0.1", vprinter.port)
    p.close()
    p.close()  # closing again does nothing
    assert p.closed
    with pytest.raises(NotConnectedError):
        p.clear()
    with pytest.raises(PalomaError):
        p.status()
