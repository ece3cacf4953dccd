"""paloma.Printer: one printer connection as a context manager.

Printer.open(uri) opens a printer handle of the library: each has its own
connection state and lock, so any number of them can be open in one process
and calls on different ones run in parallel from any threads (calls on one
Printer run one after another).

The other constructors use the library's process-wide connection state: one
current connection (opened over TCP, a serial port, USB or a spooler queue)
and five numbered slots beside it. Such a Printer owns one of them while it is
open; opening a second Printer on the same one raises ConnectionInUseError
instead of silently replacing the first (slot 1's USB and spooler state is the
current connection's, so those two exclude each other too). Calls on them are
serialised by the library's process-wide lock. Every call blocks its thread as
its docstring says, with the GIL released.
"""

from __future__ import annotations

import codecs
import errno
import ipaddress
import os
import socket
import threading
import weakref
from ctypes import byref, c_ubyte, c_void_p, create_string_buffer
from pathlib import Path
from typing import Any, Callable, NoReturn, Optional, Sequence, Union

from . import _commands as cmd
from . import raw
from ._library import load
from .errors import (ConnectionInUseError, NoReplyError, NotConnectedError, PalomaError,
                     PalomaOSError, RefusedArgumentError, UnsupportedError)
from .values import PrinterInfo, Status, parse_float, parse_int, reply_lines, reply_text

PathLike = Union[str, "os.PathLike[str]"]
Number = Union[int, float]

_CONNECTION_ERRNOS = {errno.EPIPE, errno.ECONNRESET, errno.ENOTCONN, errno.ECONNABORTED,
                      errno.ECONNREFUSED, errno.EHOSTUNREACH, errno.ENETUNREACH,
                      errno.ESHUTDOWN, errno.ENODEV}
_TIMEOUT_ERRNOS = {errno.ETIMEDOUT, errno.EAGAIN, errno.EWOULDBLOCK}

SERIAL_BAUDS = (2400, 4800, 9600, 19200, 38400, 57600, 115200)
SERIAL_PARITIES = ("N", "O", "E")
SERIAL_DATA_BITS = (7, 8)
SERIAL_STOP_BITS = (1, 2)
FACE_NAME_LIMIT = 31  # bytes
NARROW_TEXT_LIMIT = 255  # units the 8-bit host-font path carries

_SINGLE = "the current connection"
_claims: dict[object, "Printer"] = {}
_claims_lock = threading.Lock()


def _failure(function: str, message: str, default: Callable[..., PalomaError],
             filename: Optional[str] = None) -> PalomaError:
    """The exception for a failed library call: the OS error behind it picks
    the kind when the library recorded one; otherwise `default`."""
    reason_bytes = raw.paloma_last_error()
    reason = reason_bytes.decode("utf-8", "replace") if reason_bytes else ""
    code = int(raw.paloma_last_error_code())
    kind: Callable[..., PalomaError] = default
    if code in _CONNECTION_ERRNOS:
        kind = NotConnectedError
    elif code in _TIMEOUT_ERRNOS:
        kind = NoReplyError
    elif code:
        kind = PalomaOSError
    if kind is PalomaOSError:
        return PalomaOSError(message, function=function, reason=reason, code=code,
                             filename=filename)
    return kind(message, function=function, reason=reason, code=code)


def _ipv4(host: str) -> str:
    """The dotted IPv4 address of `host` (a name is resolved: blocks for the
    resolver). A host that is not text (an int would be read as a packed
    address) or that holds a NUL (the name would be cut there) is refused."""
    if not isinstance(host, str):
        raise RefusedArgumentError(f"host must be str, not {type(host).__name__}")
    if "\0" in host:
        raise RefusedArgumentError(f"the host {host!r} holds a NUL")
    try:
        return str(ipaddress.IPv4Address(host))
    except ValueError:
        pass
    try:
        infos = socket.getaddrinfo(host, None, socket.AF_INET, socket.SOCK_STREAM)
    except (socket.gaierror, UnicodeError) as e:
        raise NotConnectedError(f"cannot resolve {host!r} to an IPv4 address: {e}") from e
    return str(infos[0][4][0])


# paloma_result codes of the handle functions.
_OK = 0
_NOT_CONNECTED, _NO_REPLY, _ARGUMENT, _OS, _CLOSED, _BUSY, _TIMEOUT, _TOO_SMALL, _UNSUPPORTED = \
    range(-1, -10, -1)
_INFO_ROOM = 65536  # bytes: the largest answer a handle keeps


def _handle_failure(function: str, result: int, message: str) -> PalomaError:
    """The exception for a handle call that gave `result` (a paloma_result)."""
    reason_bytes = raw.paloma_last_error()
    reason = reason_bytes.decode("utf-8", "replace") if reason_bytes else ""
    code = int(raw.paloma_last_error_code())
    kinds: dict[int, Callable[..., PalomaError]] = {
        _NOT_CONNECTED: NotConnectedError, _CLOSED: NotConnectedError,
        _NO_REPLY: NoReplyError, _TIMEOUT: NoReplyError, _ARGUMENT: RefusedArgumentError,
        _TOO_SMALL: RefusedArgumentError, _UNSUPPORTED: UnsupportedError}
    kind = kinds.get(result, PalomaOSError)
    if kind is PalomaOSError and code in _CONNECTION_ERRNOS:
        kind = NotConnectedError  # a refused port, an unreachable host
    if kind is PalomaOSError:
        return PalomaOSError(message, function=function, reason=reason, code=code)
    return kind(message, function=function, reason=reason, code=code)


def _close_handle(handle: int) -> None:
    raw.paloma_close(c_void_p(handle))


class Printer:
    """An open connection to one printer. Make one with Printer.open (a
    printer handle: any number per process), or Printer.tcp, Printer.serial,
    Printer.usb, Printer.queue or Printer.slot (the library's process-wide
    connection and slots), and close it with close() or a with statement.

    Text arguments are str, encoded with `encoding` (ISO-8859-1 by default,
    the printer fonts' code page); text the encoding cannot carry is refused
    (host_font_text draws any text). Numbers are int or float. A Printer
    never closed keeps its connection (and the library's) until close().

    Writers (send, setup, clear, text, barcode, qrcode, host_font_text,
    download, send_file, print) return once the transport has taken every
    byte; the library bounds each write: over TCP by its 1 s send time-out,
    on a serial port or USB device by a time that grows with the size, from
    1 s to 30 s. Queries say how long they wait.
    """

    def __init__(self, kind: str, description: str, slot: Optional[int],
                 claims: tuple[object, ...], encoding: str) -> None:
        # Use the constructors: this only records what they opened.
        self._kind = kind
        self._description = description
        self._slot = slot
        self._claims = claims
        self._open = True
        self.encoding = encoding
        # A printer handle (Printer.open); None for the process-wide state.
        self._handle: Optional[int] = None
        self._handle_lock = threading.Lock()
        self._finalizer: Optional[weakref.finalize] = None

    # ---- opening -----------------------------------------------------------

    @staticmethod
    def _claim(keys: tuple[object, ...], what: str) -> None:
        with _claims_lock:
            for key in keys:
                holder = _claims.get(key)
                if holder is not None:
                    raise ConnectionInUseError(
                        f"cannot open {what}: {key if isinstance(key, str) else 'slot %d' % key[1]} "
                        f"is held by the open {holder!r}; close it first (the library keeps one "
                        "connection state per process)")
            for key in keys:
                _claims[key] = _PENDING

    @staticmethod
    def _release(keys: tuple[object, ...]) -> None:
        with _claims_lock:
            for key in keys:
                _claims.pop(key, None)

    @classmethod
    def _open_with(cls, kind: str, description: str, slot: Optional[int], keys: tuple[object, ...],
                   encoding: str, opener: Callable[[], None]) -> "Printer":
        try:
            codecs.lookup(encoding)
        except (LookupError, TypeError):
            raise RefusedArgumentError(f"encoding {encoding!r} is not a text encoding") from None
        load()
        cls._claim(keys, description)
        try:
            raw.paloma_clear_error()
            opener()
        except BaseException:
            cls._release(keys)
            raise
        printer = cls(kind, description, slot, keys, encoding)
        with _claims_lock:
            for key in keys:
                _claims[key] = printer
        return printer

    @classmethod
    def open(cls, uri: str, *, encoding: str = "latin-1", reply_timeout: Optional[float] = None,
             connect_timeout: Optional[float] = None,
             stall_timeout: Optional[float] = None) -> "Printer":
        """Opens a printer handle by URI: "tcp://HOST[:PORT]",
        "serial:/dev/TTY[?baud=N&parity=P&bits=B&stop=S]", "usb:" (or
        "usb:BUS-PORTS" for the one at that place, "usb:SERIAL" for the one
        with that serial number), "queue:NAME",
        "queue://SERVER[:PORT]/NAME", "file:PATH" or a "/dev/" path.

        Each handle has its own connection state and lock: open as many as
        needed, from any threads. Timeouts in seconds (None: the library's
        2 s reply, 3 s connect, 10 s stall bounds): `reply_timeout` bounds a
        query's wait for its answer, `connect_timeout` the TCP connect,
        `stall_timeout` a send during which the printer takes nothing (and
        close()'s wait for it to take the rest). Raises RefusedArgumentError
        for an address that does not parse, NotConnectedError,
        NoReplyError (the connect bound passed) or PalomaOSError (a device
        that does not open or is held by another program) when the printer
        cannot be opened. ConnectionInUseError never comes from a handle."""
        try:
            codecs.lookup(encoding)
        except (LookupError, TypeError):
            raise RefusedArgumentError(f"encoding {encoding!r} is not a text encoding") from None
        if not isinstance(uri, str):
            raise RefusedArgumentError(f"the URI must be str, not {type(uri).__name__}")
        data = cmd.field(uri, "the URI").encode("utf-8")
        bounds = {}
        for value, what in ((reply_timeout, "reply_timeout"), (connect_timeout, "connect_timeout"),
                            (stall_timeout, "stall_timeout")):
            if value is None:
                continue
            if isinstance(value, bool) or not isinstance(value, (int, float)) or \
                    not 0.001 <= value <= 600:
                raise RefusedArgumentError(f"{what} {value!r} is not 0.001 to 600 seconds")
            bounds[what] = int(round(value * 1000))
        load()
        raw.paloma_clear_error()
        handle = c_void_p()
        result = raw.paloma_open(data, byref(handle))
        if result != _OK or not handle.value:
            raise _handle_failure("paloma_open", result, f"could not open {uri}")
        printer = cls("handle", uri, None, (), encoding)
        printer._handle = handle.value
        printer._finalizer = weakref.finalize(printer, _close_handle, handle.value)
        try:
            for what, fn in (("reply_timeout", "paloma_set_reply_timeout"),
                             ("connect_timeout", "paloma_set_connect_timeout"),
                             ("stall_timeout", "paloma_set_stall_timeout")):
                if what in bounds:
                    printer._call(fn, f"could not set {what}", bounds[what])
        except BaseException:
            printer.close()
            raise
        return printer

    @classmethod
    def tcp(cls, host: str, port: int = 9100, *, encoding: str = "latin-1") -> "Printer":
        """Connects the current connection to a printer's TCP port.

        `host` is an IPv4 address or a name (resolved first: blocks for the
        resolver). Blocks while connecting and 50 ms after. Raises
        NotConnectedError when the printer does not accept the connection
        (a refused port, an unreachable host)."""
        port = _port(port)
        address = _ipv4(host)

        def opener() -> None:
            if raw.openethernet(address.encode("ascii"), port) != 1:
                raise _failure("openethernet", f"could not connect to {host}:{port}",
                               NotConnectedError)

        return cls._open_with("tcp", f"TCP {address}:{port}", None, (_SINGLE,), encoding, opener)

    @classmethod
    def serial(cls, path: PathLike, baud: int = 9600, *, parity: str = "N", data_bits: int = 8,
               stop_bits: int = 1, encoding: str = "latin-1") -> "Printer":
        """Opens a serial port (a terminal device such as /dev/ttyUSB0) as the
        current connection and sets its line: baud one of SERIAL_BAUDS,
        parity "N", "O" or "E", 7 or 8 data bits, 1 or 2 stop bits. Values
        the library would silently ignore are refused. Returns at once."""
        if baud not in SERIAL_BAUDS or isinstance(baud, bool):
            raise RefusedArgumentError(f"baud {baud!r} is not one of {SERIAL_BAUDS}")
        if parity not in SERIAL_PARITIES:
            raise RefusedArgumentError(f"parity {parity!r} is not one of {SERIAL_PARITIES}")
        if data_bits not in SERIAL_DATA_BITS or isinstance(data_bits, bool):
            raise RefusedArgumentError(f"data_bits {data_bits!r} is not 7 or 8")
        if stop_bits not in SERIAL_STOP_BITS or isinstance(stop_bits, bool):
            raise RefusedArgumentError(f"stop_bits {stop_bits!r} is not 1 or 2")
        name = os.fsencode(path)
        if b"\0" in name:
            raise RefusedArgumentError("the port name holds a NUL")

        def opener() -> None:
            if raw.opencomport(name) != b"1":
                raise _failure("opencomport", f"could not open the serial port {os.fsdecode(name)}",
                               NotConnectedError)
            settings = (str(baud).encode(), parity.encode(), str(data_bits).encode(),
                        str(stop_bits).encode())
            if raw.SetRS232(*settings) != 1:
                error = _failure("SetRS232", f"could not set {baud} {data_bits}{parity}{stop_bits} "
                                 f"on {os.fsdecode(name)}", PalomaOSError)
                raw.closeport()
                raise error

        return cls._open_with("serial", f"serial {os.fsdecode(name)}", None, (_SINGLE,), encoding,
                              opener)

    @classmethod
    def usb(cls, *, encoding: str = "latin-1") -> "Printer":
        """Opens the maker's USB printer (the first one found) as the current
        connection. Returns once the device is open."""
        def opener() -> None:
            if raw.openport(b"USB") != 1:
                raise _failure("openport", "no USB printer could be opened", NotConnectedError)

        return cls._open_with("usb", "USB printer", None, (_SINGLE,), encoding, opener)

    @classmethod
    def queue(cls, name: str, *, encoding: str = "latin-1") -> "Printer":
        """Opens a print spooler queue (a CUPS printer name; "\\\\SERVER\\QUEUE"
        reaches a print server) as the current connection. A name that is no
        queue is tried as the library's port names ("LPT1", "COM1", a /dev
        path). Blocks while the spooler answers."""
        data = cmd.field(name, "the queue name").encode("utf-8")

        def opener() -> None:
            if raw.openport(data) != 1:
                raise _failure("openport", f"could not open the printer {name!r}",
                               NotConnectedError)

        return cls._open_with("queue", f"queue {name!r}", None, (_SINGLE,), encoding, opener)

    @classmethod
    def slot(cls, n: int, *, host: Optional[str] = None, port: int = 9100,
             queue: Optional[str] = None, usb: bool = False,
             encoding: str = "latin-1") -> "Printer":
        """Opens printer slot n (1 to 5) beside the current connection: over
        TCP (`host`, `port`), a spooler queue (`queue`) or the n-th USB
        printer (`usb=True`); give exactly one. Slot 1's queue and USB state
        is the current connection's, so those two exclude each other. Blocks
        as the matching single-connection constructor."""
        if isinstance(n, bool) or not isinstance(n, int) or not 1 <= n <= 5:
            raise RefusedArgumentError(f"slot {n!r} is not 1 to 5")
        if sum((host is not None, queue is not None, bool(usb))) != 1:
            raise RefusedArgumentError("give exactly one of host=, queue= or usb=True")
        keys: tuple[object, ...] = (("slot", n),)
        if n == 1 and host is None:
            keys += (_SINGLE,)
        if host is not None:
            port = _port(port)
            address = _ipv4(host)

            def opener() -> None:
                if raw.openethernetmult(n, address.encode("ascii"), port) != 1:
                    raise _failure("openethernetmult", f"slot {n}: could not connect to "
                                   f"{host}:{port}", NotConnectedError)

            return cls._open_with("tcp", f"slot {n} TCP {address}:{port}", n, keys, encoding,
                                  opener)
        if queue is not None:
            data = cmd.field(queue, "the queue name").encode("utf-8")

            def opener() -> None:
                if raw.openportmult(n, data) != 1:
                    raise _failure("openportmult", f"slot {n}: could not open the printer "
                                   f"{queue!r}", NotConnectedError)

            return cls._open_with("queue", f"slot {n} queue {queue!r}", n, keys, encoding, opener)

        def opener() -> None:
            if raw.openusbportmult(n) != 1:
                raise _failure("openusbportmult", f"slot {n}: no USB printer could be opened",
                               NotConnectedError)

        return cls._open_with("usb", f"slot {n} USB printer", n, keys, encoding, opener)

    # ---- closing -------------------------------------------------------------

    @property
    def closed(self) -> bool:
        return not self._open

    def close(self) -> None:
        """Closes the connection (again: nothing). The library waits before
        closing so the printer takes the last bytes: 1 s on TCP, 100 ms on a
        serial port. A handle (Printer.open) waits no fixed time: over TCP it
        ends its side and waits, at most the stall bound, until the printer
        has taken what was sent; a queue's document is ended and printed."""
        if self._handle is not None:
            with self._handle_lock:
                if not self._open:
                    return
                self._open = False
                if self._finalizer is not None:
                    self._finalizer.detach()
                raw.paloma_clear_error()
                result = raw.paloma_close(c_void_p(self._handle))
                self._handle = None
            if result != _OK:
                raise _handle_failure("paloma_close", result,
                                      f"{self!r}: the printer did not take everything sent")
            return
        if not self._open:
            return
        self._open = False
        try:
            if self._slot is None:
                raw.closeport()
            elif self._kind == "tcp":
                raw.closeethernetportmult(self._slot, 1000)
            else:
                raw.closeportmult(self._slot)
        finally:
            self._release(self._claims)

    def __enter__(self) -> "Printer":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<paloma.Printer {self._description}{' (closed)' if not self._open else ''}>"

    # ---- the call path ---------------------------------------------------------

    def _ready(self) -> None:
        if not self._open:
            raise NotConnectedError(f"{self!r} is closed")
        raw.paloma_clear_error()

    def _bytes(self, text: str, what: str) -> bytes:
        try:
            return text.encode(self.encoding)
        except UnicodeEncodeError as e:
            raise RefusedArgumentError(
                f"{what} holds {text[e.start:e.end]!r}, which {self.encoding} cannot carry "
                "(host_font_text draws any text)") from None

    def _fields(self, *pairs: tuple[str, str]) -> list[bytes]:
        return [self._bytes(cmd.field(v, what), what) for v, what in pairs]

    def _written(self, function: str, result: int, what: str) -> None:
        if result != 1:
            raise _failure(function, f"{self!r}: the printer did not take {what}",
                           NotConnectedError)

    def _is_network_slot(self) -> bool:
        """True where commands are composed here and sent as lines: a slot's
        network connection, or a handle."""
        return (self._slot is not None and self._kind == "tcp") or self._handle is not None

    def _call(self, function: str, what: str, *args: Any) -> int:
        """Calls a handle function with the handle first, under this
        Printer's lock (so that close() cannot end the handle meanwhile), and
        raises for any result but PALOMA_OK."""
        with self._handle_lock:
            if not self._open or self._handle is None:
                raise NotConnectedError(f"{self!r} is closed")
            raw.paloma_clear_error()
            result = getattr(raw, function)(c_void_p(self._handle), *args)
        if result != _OK:
            raise _handle_failure(function, result, f"{self!r}: {what}")
        return result

    def _write(self, data: bytes, what: str) -> None:
        self._call("paloma_write", f"the printer did not take {what}", data, len(data))

    def _info(self, key: str) -> str:
        """One paloma_info answer as text (UTF-8, else ISO-8859-1)."""
        buf = create_string_buffer(_INFO_ROOM)
        self._call("paloma_info", f"no answer to the {key} query", key.encode("utf-8"), buf,
                   _INFO_ROOM)
        data = buf.value
        try:
            return data.decode("utf-8")
        except UnicodeDecodeError:
            return data.decode("latin-1")

    def _unsupported(self, what: str) -> NoReturn:
        raise UnsupportedError(f"{what} is not available on {self!r}")

    def _send_line(self, line: str, what: str) -> None:
        """One composed command line through the slot's or handle's plain
        writer."""
        data = self._bytes(line, what)
        if self._handle is not None:
            self._call("paloma_send_command", f"the printer did not take {what}", data)
            return
        assert self._slot is not None
        self._written("sendcommandmult", raw.sendcommandmult(self._slot, data), what)

    # ---- writing -----------------------------------------------------------------

    def send(self, command: Union[str, bytes]) -> None:
        """Sends one command (or several separated by CR LF) and a line end.
        Returns when the transport took the bytes (TCP: the socket buffer)."""
        self._ready()
        if not isinstance(command, (str, bytes, bytearray, memoryview)):
            raise RefusedArgumentError(
                f"the command must be str or bytes, not {type(command).__name__}")
        data = self._bytes(command, "the command") if isinstance(command, str) else bytes(command)
        if b"\0" in data:
            raise RefusedArgumentError("the command holds a NUL; use send_raw for binary data")
        if len(data) >= cmd.COMMAND_LIMIT:
            raise RefusedArgumentError(f"the command is {len(data)} bytes; the library sends "
                                       f"at most {cmd.COMMAND_LIMIT - 1}")
        if self._handle is not None:
            # Several lines go out as they are, with one line end after.
            self._write(data + b"\r\n", "the command")
        elif self._slot is None:
            self._written("sendcommand", raw.sendcommand(data), "the command")
        else:
            self._written("sendcommandmult", raw.sendcommandmult(self._slot, data), "the command")

    def send_raw(self, data: bytes, *, line_end: bool = False) -> None:
        """Sends bytes unchanged (any byte, NUL included), followed by a line
        end when `line_end` (TCP: CR LF NUL; a handle: CR LF). The current
        connection and handles only."""
        self._ready()
        if self._handle is not None:
            self._write(bytes(data) + (b"\r\n" if line_end else b""), f"{len(data)} bytes")
            return
        if self._slot is not None:
            self._unsupported("send_raw")
        if not isinstance(data, (bytes, bytearray, memoryview)):
            # bytes(123) would be 123 zero bytes.
            raise RefusedArgumentError(f"data must be bytes, not {type(data).__name__}")
        data = bytes(data)
        if len(data) > 0x7FFFFFFF:
            raise RefusedArgumentError("more than 2 GiB in one call")
        fn = "sendBinaryData" if line_end else "sendBinaryDataNoCRLF"
        self._written(fn, getattr(raw, fn)(data, len(data)), f"{len(data)} bytes")

    def setup(self, width_mm: Number, height_mm: Number, *, speed: Number = 4,
              density: Number = 8, gap_mm: Number = 3, offset_mm: Number = 0,
              black_mark: bool = False) -> None:
        """Sets the label size, print speed, darkness and the gap (or, with
        black_mark, the black-mark) height and offset. Four command lines."""
        self._ready()
        values = [cmd.number(width_mm, "width_mm"), cmd.number(height_mm, "height_mm"),
                  cmd.number(speed, "speed"), cmd.number(density, "density"),
                  cmd.number(gap_mm, "gap_mm"), cmd.number(offset_mm, "offset_mm")]
        w, h, s, d, g, o = values
        lines = cmd.setup_lines(w, h, s, d, bool(black_mark), g, o)
        if self._is_network_slot():
            for line in lines:
                self._send_line(line, "the setup")
            return
        args = [v.encode("ascii") for v in (w, h, s, d)] + [b"1" if black_mark else b"0"] + \
               [v.encode("ascii") for v in (g, o)]
        if self._slot is None:
            self._written("setup", raw.setup(*args), "the setup")
        else:
            self._written("setupmult", raw.setupmult(self._slot, *args), "the setup")

    def clear(self) -> None:
        """Clears the printer's image buffer (CLS)."""
        self._ready()
        if self._handle is not None:
            self._send_line("CLS", "CLS")
        elif self._slot is None:
            self._written("clearbuffer", raw.clearbuffer(), "CLS")
        elif self._is_network_slot():
            self._send_line("CLS", "CLS")
        else:
            self._written("clearbuffermult", raw.clearbuffermult(self._slot), "CLS")

    def text(self, x: int, y: int, content: str, *, font: str = "3", rotation: int = 0,
             x_mul: Number = 1, y_mul: Number = 1) -> None:
        """Text in a printer font at (x, y) dots: fonts "1" to "8" are the
        printer's bitmap fonts (multipliers scale them), "0" or a font file a
        scalable font (multipliers in points). A content starting with "@"
        names a printer variable."""
        self._ready()
        fields = [cmd.number(x, "x"), cmd.number(y, "y"), cmd.field(font, "font"),
                  cmd.number(rotation, "rotation"), cmd.number(x_mul, "x_mul"),
                  cmd.number(y_mul, "y_mul")]
        line = cmd.text_line(*fields, content)
        if self._handle is not None:
            self._send_line(line, "the TEXT command")
            return
        args = [self._bytes(f, "a TEXT field") for f in fields] + [self._bytes(content, "content")]
        if self._slot is None:
            self._written("printerfont", raw.printerfont(*args), "the TEXT command")
        else:
            self._written("printerfontmult", raw.printerfontmult(self._slot, *args),
                          "the TEXT command")

    def barcode(self, x: int, y: int, content: str, *, type: str = "128", height: int = 100,
                readable: int = 1, rotation: int = 0, narrow: int = 2, wide: int = 2) -> None:
        """A linear barcode at (x, y) dots: `type` as the printer names it
        ("128", "39", "EAN13", ...), bar height in dots, human-readable line
        0 none, 1 left, 2 centred, 3 right; narrow and wide bar widths in
        dots."""
        self._ready()
        fields = [cmd.number(x, "x"), cmd.number(y, "y"), cmd.field(type, "type"),
                  cmd.number(height, "height"), cmd.number(int(readable), "readable"),
                  cmd.number(rotation, "rotation"), cmd.number(narrow, "narrow"),
                  cmd.number(wide, "wide")]
        line = cmd.barcode_line(*fields, content)
        if self._is_network_slot():
            self._send_line(line, "the BARCODE command")
            return
        args = [self._bytes(f, "a BARCODE field") for f in fields] + \
               [self._bytes(content, "content")]
        if self._slot is None:
            self._written("barcode", raw.barcode(*args), "the BARCODE command")
        else:
            self._written("barcodemult", raw.barcodemult(self._slot, *args), "the BARCODE command")

    def qrcode(self, x: int, y: int, content: str, *, ecc: str = "M", cell: int = 4,
               mode: str = "A", rotation: int = 0, model: str = "", mask: str = "") -> None:
        """A QR code at (x, y) dots: error correction "L", "M", "Q" or "H",
        cell width in dots, mode "A" (automatic) or "M" (manual); model
        ("M1", "M2") and mask ("S0".."S8") when given. The whole command
        holds at most 98 characters."""
        self._ready()
        fields = [cmd.number(x, "x"), cmd.number(y, "y"), cmd.field(ecc, "ecc"),
                  cmd.number(cell, "cell"), cmd.field(mode, "mode"),
                  cmd.number(rotation, "rotation"), cmd.field(model, "model"),
                  cmd.field(mask, "mask")]
        line = cmd.qrcode_line(*fields, content)
        if self._slot is not None or self._handle is not None:
            self._send_line(line, "the QRCODE command")
            return
        args = [self._bytes(f, "a QRCODE field") for f in fields] + [self._bytes(content, "content")]
        self._written("qrcode", raw.qrcode(*args), "the QRCODE command")

    def _symbol(self, name: str, legacy: str, fields: list[str], body: str) -> None:
        """A two-dimensional symbol or DataBar through the library's builder
        `legacy` (its handle form on a handle), which picks the fields to
        write from those given (an optional field is given when not empty)."""
        self._ready()
        what = f"the {name} command"
        if self._slot is not None:
            self._unsupported(f"the {name} command (open the printer with Printer.open(uri) "
                              "for it)")
        args = [self._bytes(f, f"a {name} field") for f in fields] + \
               [self._bytes(cmd.field(body, "content"), "content")]
        if self._handle is not None:
            self._call(f"paloma_{legacy}", f"the printer did not take {what}", *args)
        else:
            self._written(legacy, getattr(raw, legacy)(*args), what)

    def _drawing_line(self, line: str, what: str) -> None:
        self._ready()
        if self._handle is not None or self._slot is not None:
            self._send_line(line, what)
        else:
            self._written("sendcommand", raw.sendcommand(self._bytes(line, what)), what)

    def datamatrix(self, x: int, y: int, content: str, *, width: int = 400, height: int = 400,
                   module: int = 0, rows: int = 0, columns: int = 0) -> None:
        """A DataMatrix in the area of width x height dots at (x, y); module
        size in dots, rows and columns when not 0 (else the printer picks)."""
        opt = [cmd.number(v, n) if v else "" for v, n in
               ((module, "module"), (rows, "rows"), (columns, "columns"))]
        self._symbol("DMATRIX", "dmatrix", [cmd.number(x, "x"), cmd.number(y, "y"),
                     cmd.number(width, "width"), cmd.number(height, "height")] + opt, content)

    def pdf417(self, x: int, y: int, content: str, *, width: int = 400, height: int = 200,
               rotation: int = 0, options: Sequence[str] = ()) -> None:
        """A PDF417 in the area of width x height dots at (x, y); `options`
        as the printer takes them, up to 12 (as "P1" error level, "E3" module
        width, "R10" rows, "C4" columns, "T1" truncated)."""
        if isinstance(options, str) or len(options) > 12:
            raise RefusedArgumentError("options is a list of at most 12 option texts")
        opt = [cmd.field(o, "an option") for o in options] + [""] * (12 - len(options))
        self._symbol("PDF417", "pdf417", [cmd.number(x, "x"), cmd.number(y, "y"),
                     cmd.number(width, "width"), cmd.number(height, "height"),
                     cmd.number(rotation, "rotation")] + opt, content)

    def aztec(self, x: int, y: int, content: str, *, rotation: int = 0, module: int = 0,
              error_control: int = 0, flags: int = 0, menu: int = 0, symbols: int = 0,
              reverse: bool = False) -> None:
        """An Aztec code at (x, y): module size in dots and the rest of the
        printer's fields when not 0 (else its defaults)."""
        opt = [cmd.number(v, n) if v else "" for v, n in
               ((module, "module"), (error_control, "error_control"), (flags, "flags"),
                (menu, "menu"), (symbols, "symbols"), (int(reverse), "reverse"))]
        self._symbol("AZTEC", "aztec", [cmd.number(x, "x"), cmd.number(y, "y"),
                     cmd.number(rotation, "rotation")] + opt, content)

    def maxicode(self, x: int, y: int, content: str, *, mode: int = 4, service_class: str = "",
                 country: str = "", postal_code: str = "") -> None:
        """A MaxiCode at (x, y): mode 2 to 5; modes 2 and 3 carry the service
        class, country and postal code."""
        opt = [cmd.field(v, n) for v, n in ((service_class, "service_class"),
                                            (country, "country"), (postal_code, "postal_code"))]
        self._symbol("MAXICODE", "maxicode", [cmd.number(x, "x"), cmd.number(y, "y"),
                     cmd.number(mode, "mode")] + opt, content)

    def databar(self, x: int, y: int, content: str, *, type: str = "RSS14", rotation: int = 0,
                module: int = 2, separator: int = 1, extra: int = 0) -> None:
        """A GS1 DataBar at (x, y): `type` "RSS14", "RSSLIM", "RSSEXP", ...,
        module width and separator height in dots, and for the expanded and
        composite types the segment width or linear height (`extra`, when
        not 0)."""
        self._symbol("RSS", "rss", [cmd.number(x, "x"), cmd.number(y, "y"),
                     cmd.field(type, "type"), cmd.number(rotation, "rotation"),
                     cmd.number(module, "module"), cmd.number(separator, "separator"),
                     cmd.number(extra, "extra") if extra else ""], content)

    def box(self, x: int, y: int, x_end: int, y_end: int, thickness: int = 1) -> None:
        """A rectangle's outline from (x, y) to (x_end, y_end) dots, lines
        `thickness` dots wide."""
        fields = [cmd.number(v, n) for v, n in ((x, "x"), (y, "y"), (x_end, "x_end"),
                                                (y_end, "y_end"), (thickness, "thickness"))]
        self._drawing_line("BOX " + ",".join(fields), "the BOX command")

    def bar(self, x: int, y: int, width: int, height: int) -> None:
        """A filled black rectangle of width x height dots at (x, y)."""
        fields = [cmd.number(v, n) for v, n in ((x, "x"), (y, "y"), (width, "width"),
                                                (height, "height"))]
        self._drawing_line("BAR " + ",".join(fields), "the BAR command")

    def host_font_text(self, x: int, y: int, text: str, *, height: int = 32,
                       face: str = "DejaVu Sans", bold: bool = False, italic: bool = False,
                       underline: bool = False, rotation: int = 0) -> None:
        """Draws `text` in a font installed on this computer into a one-bit
        bitmap and sends it (BITMAP). `height` in dots (negative: the
        character height instead of the cell height); rotation in degrees
        counter-clockwise. On the current connection, Latin-1 text of up to
        255 characters goes the 8-bit way and any other text as UTF-16; a
        slot (USB or queue only) sends every text as UTF-16, a handle as
        UTF-8; characters the face lacks come from a fallback font. Blocks
        while the text is drawn and sent."""
        self._ready()
        if not isinstance(text, str):
            raise RefusedArgumentError(f"text must be str, not {type(text).__name__}")
        if not text:
            raise RefusedArgumentError("the text is empty: there is nothing to draw")
        if "\0" in text:
            raise RefusedArgumentError("the text holds a NUL")
        face_bytes = cmd.field(face, "face").encode("utf-8")
        if not face_bytes or len(face_bytes) > FACE_NAME_LIMIT:
            raise RefusedArgumentError(f"the face name must be 1 to {FACE_NAME_LIMIT} bytes")
        numbers = []
        for value, what in ((x, "x"), (y, "y"), (height, "height"), (rotation, "rotation")):
            if isinstance(value, bool) or not isinstance(value, int):
                raise RefusedArgumentError(f"{what} must be an int")
            if not -(2**31) <= value < 2**31:
                raise RefusedArgumentError(f"{what} {value} is out of range")
            numbers.append(value)
        if height == 0:
            raise RefusedArgumentError("height must not be 0")
        style = (1 if italic else 0) | (2 if bold else 0)
        args = (*numbers, style, 1 if underline else 0, face_bytes, text)
        narrow = len(text) <= NARROW_TEXT_LIMIT and all(ord(c) <= 0xFF for c in text)
        if self._handle is not None:
            # Any text goes as UTF-8 on a handle.
            self._call("paloma_windowsfont", "the text was not sent (it may lie wholly off the "
                       "label or exceed 2400 x 12000 dots, or the printer did not take it)",
                       *numbers, style, 1 if underline else 0, face_bytes, text.encode("utf-8"))
            return
        if self._slot is None:
            fn = "windowsfontW" if narrow else "windowsfontM"
            result = getattr(raw, fn)(*args)
        elif self._kind in ("usb", "queue"):
            fn = "windowsfontMmult"
            result = raw.windowsfontMmult(self._slot, *args)
        else:
            self._unsupported("host_font_text")
        if result != 1:
            raise _failure(fn, f"{self!r}: the text was not sent (it may lie wholly off the "
                           "label or exceed 2400 x 12000 dots, or the printer did not take it)",
                           NotConnectedError)

    def image(self, source: Any, x: int = 0, y: int = 0, *, width: Optional[int] = None,
              height: Optional[int] = None, dither: str = "diffusion", threshold: int = 128,
              rotate: int = 0, invert: bool = False, mode: str = "or") -> None:
        """Prints a picture as one BITMAP command with its top-left corner at
        (x, y) dots.

        `source` is one of:

        - a path (str or os.PathLike) of a PNG, JPEG, GIF, BMP or PNM file;
        - bytes or bytearray holding such a file;
        - a PIL.Image.Image (Pillow is not needed otherwise): modes L, LA, RGB
          and RGBA are sent as they are, others converted to RGBA first;
        - any other buffer-protocol object of 8-bit pixels (a numpy array of
          uint8 among them), shaped (height, width) for gray or
          (height, width, channels) with 1 gray, 2 gray+alpha, 3 RGB or 4 RGBA.

        `width` and `height` are the printed size in dots; give one to keep
        the picture's aspect, none to print a dot per pixel (at most 2400 x
        12000 dots). The picture is scaled by area averaging, turned
        clockwise by `rotate` (0, 90, 180, 270), inverted when asked, and made
        black and white by `dither`: "diffusion" (Floyd-Steinberg, the
        default), "ordered" (an 8 x 8 pattern) or "none" (dots darker than the
        gray level `threshold`, 0..255, are black). Gray is handled in linear
        light, so a dithered mid-gray prints as mid-gray. Transparent parts
        are white. `mode` is how the dots meet the label: "or" (only the black
        dots are drawn), "overwrite" (white dots clear it too) or "xor".

        Raises RefusedArgumentError for a picture that cannot be printed (an
        unknown or damaged format, a zero size, larger than the label's dots,
        a bad option), PalomaOSError (a FileNotFoundError-like code) for a
        file that cannot be read, NotConnectedError when the printer did not
        take it. Nothing is sent for a refused picture. Blocks while the
        picture is converted and sent."""
        self._ready()
        options = raw.ImageOptions()
        raw.paloma_image_options_init(options)
        kinds = {"none": raw.PALOMA_DITHER_THRESHOLD, "threshold": raw.PALOMA_DITHER_THRESHOLD,
                 "ordered": raw.PALOMA_DITHER_ORDERED, "diffusion": raw.PALOMA_DITHER_DIFFUSION}
        if dither not in kinds:
            raise RefusedArgumentError(f"dither is one of none, ordered, diffusion; not {dither!r}")
        modes = {"overwrite": 0, "or": 1, "xor": 2}
        if mode not in modes:
            raise RefusedArgumentError(f"mode is one of overwrite, or, xor; not {mode!r}")
        numbers = {}
        for value, what in ((x, "x"), (y, "y"), (width or 0, "width"), (height or 0, "height"),
                            (threshold, "threshold"), (rotate, "rotate")):
            if isinstance(value, bool) or not isinstance(value, int):
                raise RefusedArgumentError(f"{what} must be an int")
            if not -(2**31) <= value < 2**31:
                raise RefusedArgumentError(f"{what} {value} is out of range")
            numbers[what] = value
        options.dither = kinds[dither]
        options.threshold = numbers["threshold"]
        options.rotation = numbers["rotate"]
        options.invert = 1 if invert else 0
        options.mode = modes[mode]
        place = (numbers["x"], numbers["y"])
        size = (numbers["width"], numbers["height"])
        slot = () if self._slot is None else (self._slot,)
        suffix = "" if self._slot is None else "mult"
        filename = None
        if self._handle is not None:
            self._image_on_handle(source, place, size, options)
            return
        if isinstance(source, (str, os.PathLike)):
            local = os.fsencode(source)
            if b"\0" in local:
                raise RefusedArgumentError("the path holds a NUL")
            filename = os.fsdecode(local)
            fn = "paloma_sendimage" + suffix
            result = getattr(raw, fn)(*slot, *place, local, *size, options)
        elif isinstance(source, (bytes, bytearray)):
            data = bytes(source)
            fn = "paloma_sendimage_memory" + suffix
            result = getattr(raw, fn)(*slot, *place, data, len(data), *size, options)
        else:
            pixels, w, h, stride, fmt = _pixels_of(source)
            fn = "paloma_sendimage_pixels" + suffix
            result = getattr(raw, fn)(*slot, *place, pixels, w, h, stride, fmt, *size, options)
        if result != 1:
            # A connection that failed leaves its OS error, which picks the
            # kind; a picture refused leaves none.
            raise _failure(fn, f"{self!r}: the picture was not printed", RefusedArgumentError,
                           filename=filename)

    def _image_on_handle(self, source: Any, place: tuple[int, int], size: tuple[int, int],
                         options: Any) -> None:
        if isinstance(source, (str, os.PathLike)):
            local = os.fsencode(source)
            if b"\0" in local:
                raise RefusedArgumentError("the path holds a NUL")
            self._call("paloma_image_file", "the picture was not printed", *place, local, *size,
                       options)
        elif isinstance(source, (bytes, bytearray)):
            data = bytes(source)
            self._call("paloma_image_memory", "the picture was not printed", *place, data,
                       len(data), *size, options)
        else:
            pixels, w, h, stride, fmt = _pixels_of(source)
            self._call("paloma_image_pixels", "the picture was not printed", *place, pixels, w, h,
                       stride, fmt, *size, options)

    def download(self, path: PathLike, name: Optional[str] = None, *,
                 memory: Optional[str] = None) -> None:
        """Stores a file in the printer under `name` (default: the file's
        name), in `memory` ("F" flash, "E" expansion) when given. The file
        streams (its first MiB is read before anything is sent, the rest
        goes a block at a time or straight from the system); blocks for the
        transfer."""
        self._ready()
        local = os.fsencode(path)
        target = cmd.field(name if name is not None else Path(os.fsdecode(local)).name, "name")
        if '"' in target or not target:
            raise RefusedArgumentError(f"name {target!r} is empty or holds a double quote")
        name_bytes = self._bytes(target, "name")
        if self._handle is not None:
            if b"\0" in local:
                raise RefusedArgumentError("the path holds a NUL")
            mem_arg = None if memory is None else \
                self._bytes(cmd.field(memory, "memory"), "memory")
            self._handle_file_call("paloma_download", f"the download of {os.fsdecode(local)}",
                                   local, mem_arg, local, name_bytes)
            return
        if memory is not None:
            mem = self._bytes(cmd.field(memory, "memory"), "memory")
            fn = "downloadmemory" if self._slot is None else "downloadmemorymult"
            call = (lambda: raw.downloadmemory(mem, local, name_bytes)) if self._slot is None \
                else (lambda: raw.downloadmemorymult(self._slot, mem, local, name_bytes))
        else:
            fn = "downloadbmp" if self._slot is None else "downloadbmpmult"
            call = (lambda: raw.downloadbmp(local, name_bytes)) if self._slot is None \
                else (lambda: raw.downloadbmpmult(self._slot, local, name_bytes))
        self._file_call(fn, call, local, f"the download of {os.fsdecode(local)}")

    def send_file(self, path: PathLike) -> None:
        """Sends a file of commands unchanged, then a line end. The file
        streams (its first MiB is read before anything is sent, the rest
        goes a block at a time or straight from the system); blocks for the
        transfer."""
        self._ready()
        local = os.fsencode(path)
        if self._handle is not None:
            if b"\0" in local:
                raise RefusedArgumentError("the path holds a NUL")
            self._handle_file_call("paloma_send_file", os.fsdecode(local), local, local)
            return
        if self._slot is None:
            fn, call = "sendfile", (lambda: raw.sendfile(local))
        else:
            fn, call = "sendfilemult", (lambda: raw.sendfilemult(self._slot, local))
        self._file_call(fn, call, local, os.fsdecode(local))

    def _handle_file_call(self, fn: str, what: str, local: bytes, *args: Any) -> None:
        """A file function on the handle; a file that cannot be read comes
        out as PalomaOSError with its name."""
        try:
            self._call(fn, f"{what} failed", *args)
        except PalomaOSError as e:
            e.filename = os.fsdecode(local)
            raise

    def _file_call(self, fn: str, call: Callable[[], int], local: bytes, what: str) -> None:
        if b"\0" in local:
            raise RefusedArgumentError("the path holds a NUL")
        if self._is_network_slot():
            self._unsupported("sending files")
        if call() == 1:
            return
        error = _failure(fn, f"{self!r}: {what} failed", NotConnectedError,
                         filename=os.fsdecode(local))
        if error.code == 0:
            # Say why when the file is the cause: the library gives 0 for an
            # unreadable file and for a dead connection alike.
            try:
                with open(local, "rb") as f:
                    size = os.fstat(f.fileno()).st_size
            except OSError as e:
                raise PalomaOSError(f"cannot read {os.fsdecode(local)}", function=fn,
                                    reason=e.strerror or "", code=e.errno or 0,
                                    filename=os.fsdecode(local)) from None
            if size >= 2**31:
                raise RefusedArgumentError(f"{os.fsdecode(local)} is 2 GiB or more", function=fn)
        raise error

    def print(self, sets: int = 1, copies: int = 1) -> None:
        """Prints the image buffer: `sets` label sets of `copies` copies each."""
        self._ready()
        for value, what in ((sets, "sets"), (copies, "copies")):
            if isinstance(value, bool) or not isinstance(value, int) or value < 1:
                raise RefusedArgumentError(f"{what} must be a positive int, not {value!r}")
        s, c = str(sets), str(copies)
        line = cmd.print_line(s, c)
        if self._handle is not None:
            self._send_line(line, "PRINT")
        elif self._slot is None:
            self._written("printlabel", raw.printlabel(s.encode(), c.encode()), "PRINT")
        elif self._is_network_slot():
            self._send_line(line, "PRINT")
        else:
            self._written("printlabelmult", raw.printlabelmult(self._slot, s.encode(), c.encode()),
                          "PRINT")

    # ---- asking --------------------------------------------------------------------

    def status(self) -> Status:
        """Asks the printer for its status byte. Blocks: TCP up to about 1 s
        for a silent printer; serial 500 ms; USB up to about 2.2 s.

        A printer that does not answer gives Status.NO_REPLY. Over TCP the
        library then keeps reporting NO_REPLY until the next info() or
        reconnection."""
        self._ready()
        if self._handle is not None:
            byte = c_ubyte()
            try:
                self._call("paloma_status", "no status", byref(byte))
            except NoReplyError:
                return Status.NO_REPLY
            return Status.from_byte(byte.value)
        if self._slot is not None:
            if self._kind == "tcp":
                text = raw.ethernetprinterstatusmult(self._slot)
            elif self._kind == "usb":
                text = raw.usbprinterstatusmult(self._slot)
            else:
                self._unsupported("status")
        elif self._kind == "tcp":
            text = raw.ethernetprinterstatus()
        elif self._kind == "serial":
            text = raw.comportprinterstatus()
        elif self._kind == "usb":
            text = raw.usbprinterstatus()
            if text == b"-1":
                raise _failure("usbprinterstatus", "no USB printer was found", NotConnectedError)
        else:
            text = raw.printerstatus()
            if text == b"":
                self._unsupported("status")
            if text == b"-1":
                raise _failure("printerstatus", f"{self!r}: nothing is open", NotConnectedError)
        return Status.from_text((text or b"-1").decode("latin-1"))

    def info(self) -> PrinterInfo:
        """Asks the printer for its name, serial number, resolution, code
        page, free memory, mileage, label count, file list and peel sensor,
        one query each. Blocks: TCP a few ms a query (a silent printer: about
        1 s, then NoReplyError); serial about 4.5 s (500 ms before each
        read); USB up to about 2 s a query. Current connection only."""
        self._ready()
        if self._handle is not None:
            return self._info_on_handle()
        if self._slot is not None or self._kind == "queue":
            self._unsupported("info")
        prefix = {"tcp": "ethernetprinter", "serial": "comportprinter", "usb": "usbprinter"}[
            self._kind]
        replies: dict[str, Optional[bytes]] = {}
        for item in ("name", "serial", "dpi", "codepage", "freememory", "mileage", "quantity",
                     "file", "peel"):
            reply = getattr(raw, prefix + item)()
            if self._kind == "serial":
                # A silent serial printer leaves every reply empty.
                silent = item == "name" and reply_text(reply) == ""
            else:
                # "-1": nothing came (code page and peel never say so).
                silent = reply is None or (reply.strip() == b"-1" and
                                           item not in ("codepage", "peel"))
            if silent:
                raise _failure(prefix + item, f"{self!r}: the printer did not answer the "
                               f"{item} query", NoReplyError)
            replies[item] = reply
        return PrinterInfo(
            name=reply_text(replies["name"]),
            serial=reply_text(replies["serial"]),
            dpi=parse_int(reply_text(replies["dpi"])),
            code_page=reply_text(replies["codepage"]),
            free_memory=parse_int(reply_text(replies["freememory"])),
            mileage=parse_float(reply_text(replies["mileage"])),
            label_count=parse_int(reply_text(replies["quantity"])),
            files=reply_lines(replies["file"]),
            peel={"0": False, "1": True}.get(reply_text(replies["peel"])),
        )

    def _info_on_handle(self) -> PrinterInfo:
        answers = {key: self._info(key) for key in (
            "name", "serial", "dpi", "codepage", "free_memory", "mileage", "quantity", "files",
            "peel")}
        return PrinterInfo(
            name=answers["name"],
            serial=answers["serial"],
            dpi=parse_int(answers["dpi"]),
            code_page=answers["codepage"],
            free_memory=parse_int(answers["free_memory"]),
            mileage=parse_float(answers["mileage"]),
            label_count=parse_int(answers["quantity"]),
            files=reply_lines(answers["files"].encode("utf-8")),
            peel={"0": False, "1": True}.get(answers["peel"]),
        )

    def setting(self, app: str, section: str, key: str) -> str:
        """One printer setting (GETSETTING app, section, key), e.g.
        ("SYSTEM", "INFORMATION", "DPI"). TCP and USB only. Blocks as a
        status query; NoReplyError when nothing came."""
        self._ready()
        args = self._fields((app, "app"), (section, "section"), (key, "key"))
        if any(b'"' in a for a in args):
            raise RefusedArgumentError("a setting name cannot hold a double quote")
        if self._handle is not None:
            if any(b"/" in a for a in args):
                raise RefusedArgumentError("a setting name on a handle cannot hold a slash")
            return self._info(f"setting:{app}/{section}/{key}")
        if self._kind == "tcp":
            fn = "ethernetprintersetting" if self._slot is None else "ethernetprintersettingmult"
        elif self._kind == "usb":
            fn = "usbprintersetting" if self._slot is None else "usbprintersettingmult"
        else:
            self._unsupported("setting")
        reply = getattr(raw, fn)(*args) if self._slot is None else \
            getattr(raw, fn)(self._slot, *args)
        if reply in (None, b"", b"-1"):
            raise _failure(fn, f"{self!r}: no answer for the setting {app}/{section}/{key}",
                           NoReplyError)
        return reply_text(reply)


class _Pending:
    def __repr__(self) -> str:
        return "Printer being opened"


_PENDING: Any = _Pending()


_PIL_FORMATS = {"L": raw.PALOMA_PIXELS_GRAY8, "LA": raw.PALOMA_PIXELS_GRAY_ALPHA8,
                "RGB": raw.PALOMA_PIXELS_RGB8, "RGBA": raw.PALOMA_PIXELS_RGBA8}


def _pixels_of(source: Any) -> tuple[Any, int, int, int, int]:
    """(pixel buffer, width, height, stride, format) of a PIL image or a
    buffer-protocol object of 8-bit pixels."""
    if all(hasattr(source, a) for a in ("mode", "size", "tobytes", "convert")):
        image = source if source.mode in _PIL_FORMATS else source.convert("RGBA")
        w, h = image.size
        data = image.tobytes()
        channels = len(image.mode)
        return data, w, h, w * channels, _PIL_FORMATS[image.mode]
    try:
        view = memoryview(source)
    except TypeError:
        raise RefusedArgumentError(
            f"cannot print a {type(source).__name__}: give a path, bytes of a picture file, "
            "a PIL image or a buffer of 8-bit pixels") from None
    if view.format not in ("B", "b", "c") or view.itemsize != 1:
        raise RefusedArgumentError(f"the pixels must be 8-bit (uint8), not format {view.format!r}")
    if view.ndim == 2:
        h, w = view.shape
        channels = 1
    elif view.ndim == 3:
        h, w, channels = view.shape
    else:
        raise RefusedArgumentError("the pixels must be shaped (height, width) or "
                                   f"(height, width, channels), not {view.shape}")
    if channels not in (1, 2, 3, 4):
        raise RefusedArgumentError(f"{channels} channels: 1 gray, 2 gray+alpha, 3 RGB or 4 RGBA")
    inner = view.strides[1:] == ((channels, 1) if view.ndim == 3 else (1,))
    if inner and view.strides[0] >= w * channels and not view.readonly:
        data: Any = (c_ubyte * (view.strides[0] * (h - 1) + w * channels)).from_buffer(view) \
            if h > 0 and w > 0 else b""
        stride = view.strides[0]
    else:
        data = view.tobytes()  # C order, rows packed
        stride = w * channels
    return data, w, h, stride, channels


def _port(port: int) -> int:
    if isinstance(port, bool) or not isinstance(port, int) or not 1 <= port <= 65535:
        # The library keeps only the low 16 bits: 74636 would reach 9100.
        raise RefusedArgumentError(f"port {port!r} is not 1 to 65535")
    return port
