"""Exceptions raised by the paloma package.

Every failure the library reports is raised as a PalomaError (or one of its
subclasses) carrying the library's own reason (paloma_last_error) and the OS
error number behind it (paloma_last_error_code, 0 when none).
"""

from __future__ import annotations

import errno as _errno
from typing import Optional


class PalomaError(Exception):
    """A call into the printer library failed.

    Attributes:
        message: what failed, in words.
        function: the library function that reported the failure, if any.
        reason: the library's last error text for this thread ("" when it
            gave none).
        code: the OS error number behind it (errno; 0 when none).
    """

    def __init__(self, message: str, *, function: Optional[str] = None, reason: str = "",
                 code: int = 0) -> None:
        self.message = message
        self.function = function
        self.reason = reason
        self.code = code
        text = message
        if reason and reason not in message:
            text += f": {reason}"
        if code and _errno.errorcode.get(code) and _errno.errorcode[code] not in text:
            text += f" [{_errno.errorcode[code]}]"
        self._text = text
        super().__init__(text)
        if isinstance(self, OSError):
            self.errno = code or None  # type: ignore[assignment]

    def __str__(self) -> str:
        return self._text


class NotConnectedError(PalomaError, ConnectionError):
    """No working connection: the Printer is closed, the connection could not
    be made (a refused port), or the printer dropped it."""


class NoReplyError(PalomaError, TimeoutError):
    """The printer did not answer a query in time (or answered with nothing)."""


class RefusedArgumentError(PalomaError, ValueError):
    """An argument was refused before anything was sent: a line end inside a
    field, a NUL, a character the command cannot carry, a value out of range."""


class PalomaOSError(PalomaError, OSError):
    """The operating system refused something other than the connection: a
    file that is missing or unreadable, a device that does not open."""

    def __init__(self, message: str, *, function: Optional[str] = None, reason: str = "",
                 code: int = 0, filename: Optional[str] = None) -> None:
        super().__init__(message, function=function, reason=reason, code=code)
        self.strerror = reason or message  # type: ignore[assignment]
        self.filename = filename


class ConnectionInUseError(PalomaError):
    """The connection (the process-wide one, or a slot) already belongs to an
    open Printer. The library keeps one set of connection state per process:
    close the other Printer first."""


class UnsupportedError(PalomaError):
    """The operation does not exist on this kind of connection (a status on a
    spooler queue, a QR code on a slot, ...)."""


class LibraryNotFoundError(PalomaError, ImportError):
    """The shared library could not be found or loaded; the message says where
    it was looked for."""


__all__ = [
    "PalomaError", "NotConnectedError", "NoReplyError", "RefusedArgumentError",
    "PalomaOSError", "ConnectionInUseError", "UnsupportedError", "LibraryNotFoundError",
]
