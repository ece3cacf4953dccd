"""The values the printer reports: its status, its information, and the
printers that answered a discovery probe."""

from __future__ import annotations

import enum
from dataclasses import dataclass, field
from typing import Optional


class Status(enum.IntFlag):
    """The printer's status byte as flags (combinations add up: 0x05 is
    HEAD_OPEN | PAPER_EMPTY), plus two values of the library's own.

    READY (no flag set) means the printer reported no condition.
    NO_REPLY: the printer did not answer the status request.
    UNKNOWN: the printer sent a byte the library does not know. On a serial
    port a silent printer reads the same way: the library cannot tell them
    apart there.
    """

    READY = 0
    HEAD_OPEN = 0x01
    PAPER_JAM = 0x02
    PAPER_EMPTY = 0x04
    RIBBON = 0x08  # ribbon out (or a ribbon fault)
    PAUSED = 0x10
    PRINTING = 0x20
    OTHER_ERROR = 0x80
    NO_REPLY = 0x100
    UNKNOWN = 0x200

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
        """The conditions in words ("head open, paper empty"), or "ready"."""
        if self == Status.READY:
            return "ready"
        words = []
        for flag in Status:
            if flag and flag in self:
                words.append((flag.name or "").lower().replace("_", " "))
        return ", ".join(words)


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
