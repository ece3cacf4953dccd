"""The values the printer reports: its status, its information, and the
printers that answered a discovery probe."""

from __future__ import annotations

import enum
import re
from dataclasses import dataclass, field
from typing import Optional

from . import raw


class Status(enum.IntFlag):
    """The printer's status byte as a set of flags (a byte is the sum of its
    conditions: 0x06 is PAPER_JAM | PAPER_EMPTY), plus two values of the
    library's own.

    READY (no flag set) means the printer reported no condition.
    NO_REPLY: the printer did not answer the status request.
    UNKNOWN: through the process-wide connection, the printer sent a byte
    the library's status texts do not list. On a serial port a silent
    printer reads the same way: the library cannot tell them apart there.
    A printer handle (Printer.open) gives every byte as it came instead.

    str(status) is the conditions in the library's words, the same the
    command-line tool and the virtual printer use ("paper jam, paper
    empty", "ready").
    """

    READY = 0
    HEAD_OPEN = 0x01
    PAPER_JAM = 0x02
    PAPER_EMPTY = 0x04
    RIBBON = 0x08  # ribbon out (or a ribbon fault)
    PAUSED = 0x10
    PRINTING = 0x20
    UNKNOWN_CONDITION = 0x40  # a condition the printer does not name
    OTHER_ERROR = 0x80
    NO_REPLY = 0x100
    UNKNOWN = 0x200

    @classmethod
    def from_byte(cls, byte: int) -> "Status":
        """The flags of a status byte (0..255)."""
        if isinstance(byte, bool) or not isinstance(byte, int) or not 0 <= byte <= 0xFF:
            raise ValueError(f"not a status byte: {byte!r}")
        return cls(byte)

    @classmethod
    def from_text(cls, text: str) -> "Status":
        """Maps the library's status text ("00".."80", "other error", "-1",
        "-2") to a Status. ValueError for anything else."""
        if text == "-1":
            return cls.NO_REPLY
        if text in ("-2", "other error"):
            return cls.UNKNOWN
        if len(text) == 2 and all(c in "0123456789ABCDEF" for c in text):
            return cls(int(text, 16))
        raise ValueError(f"not a status text: {text!r}")

    @property
    def ready(self) -> bool:
        """True when the printer answered and reported no condition."""
        return self == Status.READY

    def describe(self) -> str:
        """The conditions in words ("head open, paper empty"), or "ready";
        the same as str()."""
        return str(self)

    def __str__(self) -> str:
        value = int(self)
        words = []
        if value & 0xFF or value == 0:
            text = raw.paloma_status_text(value & 0xFF)
            words.append(text.decode("utf-8") if text else "")
        if value & Status.NO_REPLY:
            words.append("no reply")
        if value & Status.UNKNOWN:
            words.append("unknown status")
        return ", ".join(words)

    def __format__(self, spec: str) -> str:
        return format(str(self), spec)


@dataclass(frozen=True)
class PrinterInfo:
    """What the printer says about itself. A value the printer left empty or
    did not give as a number is None (texts: "")."""

    name: str
    serial: str
    dpi: Optional[int]
    code_page: str
    free_memory: Optional[int]  # bytes
    mileage: Optional[float]  # kilometres of media printed
    label_count: Optional[int]
    files: list[str] = field(default_factory=list)
    peel: Optional[bool] = None  # the peel sensor: True when a label waits to be taken


@dataclass(frozen=True)
class FoundPrinter:
    """One printer that answered the discovery probe. `address` and `port`
    are None when the library can only say that some printer answered."""

    address: Optional[str]
    port: Optional[int]
    answer: bytes = b""
    name: Optional[str] = None

    @property
    def uri(self) -> Optional[str]:
        """The printer's address for Printer.open: "tcp://ADDRESS:PORT" with
        the TCP port its answer gives ("tcp=PORT"), else the usual 9100.
        None when the library could not say who answered."""
        if not self.address:
            return None
        match = _TCP_FIELD.search(self.answer)
        port = int(match.group(1)) if match else 0
        return f"tcp://{self.address}:{port if 1 <= port <= 65535 else 9100}"


_TCP_FIELD = re.compile(rb"(?:^|;)tcp=([0-9]{1,5})(?:;|\x00|$)")


def reply_lines(raw: Optional[bytes]) -> list[str]:
    """A reply without its framing: STX, ETX and NUL removed, split at CR and
    LF, blank lines dropped, texts decoded (UTF-8, else ISO-8859-1, where
    every byte means a character)."""
    if not raw:
        return []
    data = raw.replace(b"\x02", b"").replace(b"\x03", b"").replace(b"\x00", b"")
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        text = data.decode("latin-1")
    return [line.strip() for line in text.replace("\r", "\n").split("\n") if line.strip()]


def reply_text(raw: Optional[bytes]) -> str:
    """The reply's first line, unframed (see reply_lines); "" when empty."""
    lines = reply_lines(raw)
    return lines[0] if lines else ""


def parse_int(text: str) -> Optional[int]:
    try:
        return int(text.strip())
    except ValueError:
        return None


def parse_float(text: str) -> Optional[float]:
    try:
        value = float(text.strip())
    except ValueError:
        return None
    return value if value == value and value not in (float("inf"), float("-inf")) else None
