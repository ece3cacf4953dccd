"""Every refused argument at its limit and one inside it, and which exception
each OS error behind a failed call becomes."""

from __future__ import annotations

import errno
import os
import socket
import time

import pytest

import paloma
from paloma import (NoReplyError, NotConnectedError, PalomaError, PalomaOSError,
                    RefusedArgumentError, raw)
from paloma import _commands as cmd


def _not_refused(call) -> None:
    """The call passes the package's checks: it succeeds or fails in the
    library, never with RefusedArgumentError."""
    try:
        call()
    except RefusedArgumentError as e:  # pragma: no cover - the failure path
        pytest.fail(f"refused at the limit: {e}")
    except PalomaError:
        pass


# ---- numbers and names at both ends --------------------------------------------------


@pytest.mark.parametrize("port, refused", [(1, False), (65535, False), (0, True), (65536, True),
                                           (-1, True), (True, True), (9100.0, True)])
def test_tcp_port_range(port, refused) -> None:
    if refused:
        with pytest.raises(RefusedArgumentError):
            paloma.Printer.tcp("127.0.0.1", port)
    else:
        # Nothing listens there: the library refuses the connection.
        with pytest.raises(NotConnectedError):
            paloma.Printer.tcp("127.0.0.1", port)


@pytest.mark.parametrize("n, refused", [(1, False), (5, False), (0, True), (6, True),
                                        (True, True), ("2", True)])
def test_slot_number_range(n, refused, refused_port) -> None:
    if refused:
        with pytest.raises(RefusedArgumentError):
            paloma.Printer.slot(n, host="127.0.0.1", port=refused_port)
    else:
        with pytest.raises(NotConnectedError) as info:
            paloma.Printer.slot(n, host="127.0.0.1", port=refused_port)
        assert info.value.function == "openethernetmult"


def test_highest_slot_on_a_printer(vprinter) -> None:
    with paloma.Printer.slot(5, host="127.0.0.1", port=vprinter.port) as p:
        p.send("CLS")
    assert vprinter.wait_for(lambda: vprinter.commands("CLS"))


@pytest.mark.parametrize("setting, ok, bad", [
    ("baud", 2400, 1200), ("baud", 115200, 230400), ("data_bits", 7, 6), ("data_bits", 8, 9),
    ("stop_bits", 1, 0), ("stop_bits", 2, 3), ("parity", "E", "M"), ("parity", "N", "n"),
])
def test_serial_settings_at_their_ends(setting, ok, bad) -> None:
    # /dev/null is no terminal: a setting that passes fails in the library.
    _not_refused(lambda: paloma.Printer.serial("/dev/null", **{setting: ok}).close())
    with pytest.raises(RefusedArgumentError):
        paloma.Printer.serial("/dev/null", **{setting: bad})


def test_commands_exactly_at_their_capacity(vprinter) -> None:
    with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p:
        # The whole QRCODE command holds at most 98 characters.
        head = 'QRCODE 1,2,M,4,A,0,""'
        p.qrcode(1, 2, "q" * (cmd.SYMBOL_CAPACITY - 1 - len(head)))
        with pytest.raises(RefusedArgumentError):
            p.qrcode(1, 2, "q" * (cmd.SYMBOL_CAPACITY - len(head)))
        head = 'TEXT 1,2,"3",0,1,1,""'
        p.text(1, 2, "t" * (cmd.TEXT_CAPACITY - 1 - len(head)))
        with pytest.raises(RefusedArgumentError):
            p.text(1, 2, "t" * (cmd.TEXT_CAPACITY - len(head)))
        head = 'BARCODE 1,2,"128",100,1,0,2,2,""'
        p.barcode(1, 2, "b" * (cmd.BARCODE_CAPACITY - 1 - len(head)))
        with pytest.raises(RefusedArgumentError):
            p.barcode(1, 2, "b" * (cmd.BARCODE_CAPACITY - len(head)))
        # A plain command: one byte under the library's bound goes out whole.
        p.send("OUT " + "1" * (cmd.COMMAND_LIMIT - 5))
        with pytest.raises(RefusedArgumentError):
            p.send("OUT " + "1" * (cmd.COMMAND_LIMIT - 4))
        p.send("CLS")
    assert vprinter.wait_for(lambda: vprinter.commands("CLS"), seconds=20)
    fields = [e["fields"] for e in vprinter.commands("QRCODE")]
    assert len(fields) == 1 and len(fields[0][-1]) == cmd.SYMBOL_CAPACITY - 1 - 21 + 2
    assert len(vprinter.commands("TEXT")) == 1 and len(vprinter.commands("BARCODE")) == 1
    # The printer took the whole line (it cannot evaluate so long a number).
    outs = [e for e in vprinter.commands("OUT")]
    assert len(outs) == 1 and len(outs[0]["args"]) == cmd.COMMAND_LIMIT - 5
    assert "longer" not in outs[0].get("error", "")


def test_host_font_text_at_its_limits(vprinter) -> None:
    with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p:
        p.setup(40, 20)
        p.host_font_text(0, 0, "x", face="F" * paloma.printer.FACE_NAME_LIMIT, height=24)
        with pytest.raises(RefusedArgumentError):
            p.host_font_text(0, 0, "x", face="F" * (paloma.printer.FACE_NAME_LIMIT + 1))
        def draw(what: str, value: int) -> None:
            at = {"x": 0, "y": 0, "rotation": 0, what: value}
            p.host_font_text(at["x"], at["y"], "x", rotation=at["rotation"])

        for what in ("x", "y", "rotation"):
            # 32-bit values pass to the library (which may find the text off the label).
            for value in (2**31 - 1, -(2**31)):
                _not_refused(lambda: draw(what, value))
            for value in (2**31, -(2**31) - 1):
                with pytest.raises(RefusedArgumentError):
                    draw(what, value)
        for height in (0, 2**31, True):
            with pytest.raises(RefusedArgumentError):
                p.host_font_text(0, 0, "x", height=height)
        p.host_font_text(0, 0, "x", height=-24)  # a character height
        # Latin-1 text at the 8-bit path's limit, and one character past it
        # (which goes the UTF-16 way): both are drawn.
        limit = paloma.printer.NARROW_TEXT_LIMIT
        p.host_font_text(0, 0, "\u00e9" * limit, height=8)
        p.host_font_text(0, 0, "\u00e9" * (limit + 1), height=8)
    assert vprinter.wait_for(lambda: len(vprinter.commands("BITMAP")) >= 4)
    for e in vprinter.commands("BITMAP"):
        assert e["payload_bytes"] == e["payload_announced"] > 0 and "error" not in e


# ---- which exception an OS error becomes ----------------------------------------------

ERRNO_KINDS = [
    (errno.EPIPE, NotConnectedError), (errno.ECONNRESET, NotConnectedError),
    (errno.ENOTCONN, NotConnectedError), (errno.ECONNABORTED, NotConnectedError),
    (errno.ECONNREFUSED, NotConnectedError), (errno.EHOSTUNREACH, NotConnectedError),
    (errno.ENETUNREACH, NotConnectedError), (errno.ESHUTDOWN, NotConnectedError),
    (errno.ENODEV, NotConnectedError),
    (errno.ETIMEDOUT, NoReplyError), (errno.EAGAIN, NoReplyError),
    (errno.ENOENT, PalomaOSError), (errno.EACCES, PalomaOSError), (errno.EBUSY, PalomaOSError),
    (errno.EIO, PalomaOSError), (errno.ENOTTY, PalomaOSError), (errno.EISDIR, PalomaOSError),
]


@pytest.fixture
def failing_library(monkeypatch):
    """Makes the library's writer and opener fail with a chosen OS error."""
    def fail_with(code: int) -> None:
        monkeypatch.setattr(raw, "paloma_last_error_code", lambda: code)
        monkeypatch.setattr(raw, "paloma_last_error", lambda: b"what the library said")
        monkeypatch.setattr(raw, "sendcommand", lambda data: 0)
        monkeypatch.setattr(raw, "openethernet", lambda address, port: 0)
    return fail_with


@pytest.mark.parametrize("code, kind", ERRNO_KINDS + [(0, NotConnectedError)])
def test_os_error_of_a_failed_write_picks_the_exception(vprinter, failing_library, code,
                                                        kind) -> None:
    with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p:
        failing_library(code)
        with pytest.raises(PalomaError) as info:
            p.send("CLS")
    e = info.value
    assert type(e) is kind
    assert e.code == code and e.function == "sendcommand"
    assert e.reason == "what the library said" and "what the library said" in str(e)
    # Each kind is also the built-in exception a caller would catch.
    builtin = {NotConnectedError: ConnectionError, NoReplyError: TimeoutError,
               PalomaOSError: OSError}[kind]
    assert isinstance(e, builtin)
    if kind is PalomaOSError:
        assert e.errno == code and errno.errorcode[code] in str(e)


@pytest.mark.parametrize("code, kind", ERRNO_KINDS + [(0, NotConnectedError)])
def test_os_error_of_a_failed_open_picks_the_exception(failing_library, code, kind) -> None:
    failing_library(code)
    with pytest.raises(PalomaError) as info:
        paloma.Printer.tcp("127.0.0.1", 9100)
    assert type(info.value) is kind and info.value.function == "openethernet"


def test_a_send_the_printer_stops_reading_times_out() -> None:
    # A printer that takes the connection and never reads: once both socket
    # buffers are full, the library's send waits its bound and gives up.
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    server.settimeout(10)
    try:
        with paloma.Printer.tcp("127.0.0.1", server.getsockname()[1]) as p:
            conn, _ = server.accept()
            with conn:
                started = time.monotonic()
                with pytest.raises(NoReplyError) as info:
                    for _ in range(64):
                        p.send_raw(b"x" * (4 << 20))
                assert isinstance(info.value, TimeoutError)
                assert info.value.code in (errno.ETIMEDOUT, errno.EAGAIN)
                assert time.monotonic() - started < 60
    finally:
        server.close()


def test_a_failed_open_keeps_no_claim(vprinter, refused_port) -> None:
    for _ in range(2):
        with pytest.raises(NotConnectedError):
            paloma.Printer.tcp("127.0.0.1", refused_port)
        with pytest.raises(NotConnectedError):
            paloma.Printer.slot(4, host="127.0.0.1", port=refused_port)
    with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p, \
            paloma.Printer.slot(4, host="127.0.0.1", port=vprinter.port) as s:
        p.send("CLS")
        s.send("CLS")
    assert vprinter.wait_for(lambda: len(vprinter.commands("CLS")) == 2)


def test_refused_opens_keep_no_descriptor(refused_port, tmp_path) -> None:
    def fds() -> int:
        return len(os.listdir("/proc/self/fd"))

    refusals = [
        lambda: paloma.Printer.tcp("127.0.0.1", refused_port),
        lambda: paloma.Printer.slot(5, host="127.0.0.1", port=refused_port),
        lambda: paloma.Printer.serial("/dev/null"),
        lambda: paloma.Printer.serial(tmp_path),
        lambda: paloma.Printer.serial("/dev/ttyPALOMA9", baud=2400),
        lambda: paloma.Printer.tcp("127.0.0.1", 0),
        lambda: paloma.Printer.slot(6, host="127.0.0.1", port=refused_port),
    ]
    for refuse in refusals:  # once to warm up
        with pytest.raises(PalomaError):
            refuse()
    for i, refuse in enumerate(refusals):
        before = fds()
        for _ in range(3):
            with pytest.raises(PalomaError):
                refuse()
        assert fds() == before, f"refusal {i}"
