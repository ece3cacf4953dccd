"""Drive thermal label printers from Python.

    import paloma
    with paloma.Printer.tcp("127.0.0.1", 9100) as p:
        p.setup(width_mm=100, height_mm=50)
        p.clear()
        p.text(40, 40, "Hello")
        p.print()

The shared library is found by PALOMA_LIBRARY, beside this package, in the
source tree's build folders, or by the system's search; it is loaded on first
use. Its messages for a person go to the logger "paloma". paloma.raw holds
every library function with its C types.
"""

from __future__ import annotations

from typing import Optional

from . import _library, _messages, raw
from ._library import library_path
from ._messages import set_debug_messages
from .discovery import discover
from .errors import (ConnectionInUseError, LibraryNotFoundError, NoReplyError, NotConnectedError,
                     PalomaError, PalomaOSError, RefusedArgumentError, UnsupportedError)
from .printer import Printer
from .values import FoundPrinter, PrinterInfo, Status

__version__ = "1.0.0"

_library.add_load_hook(_messages.install)


def library_version() -> str:
    """The loaded library's version text (loads the library)."""
    text: Optional[bytes] = raw.dllversion()
    return text.decode("latin-1") if text else ""


__all__ = [
    "Printer", "Status", "PrinterInfo", "FoundPrinter", "discover", "library_path",
    "library_version", "set_debug_messages", "raw", "PalomaError", "NotConnectedError",
    "NoReplyError", "RefusedArgumentError", "PalomaOSError", "ConnectionInUseError",
    "UnsupportedError", "LibraryNotFoundError",
]
