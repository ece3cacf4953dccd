"""Finding printers on the local network by the UDP discovery probe."""

from __future__ import annotations

import math
import re

from . import raw
from ._library import load
from .errors import PalomaError, PalomaOSError, RefusedArgumentError
from .values import FoundPrinter

MAX_PRINTERS = 64
_NAME = re.compile(rb"(?:^|;)name=([^;\x00]*)")


def _name(answer: bytes) -> "str | None":
    m = _NAME.search(answer)
    return m.group(1).decode("utf-8", "replace") if m else None


def discover(timeout: float = 3.0) -> list[FoundPrinter]:
    """Broadcasts the discovery probe to UDP port 22368 on the local network
    and returns the printers that answered, each once.

    Blocks for `timeout` seconds (0 to 600). With a library older than
    paloma_discover the fixed 3-second probe is used instead: it says only
    whether some printer answered, so the list then holds at most one entry
    with address and port None.

    Raises PalomaOSError when the probe socket cannot be set up (the port is
    in use, no network)."""
    if isinstance(timeout, bool) or not isinstance(timeout, (int, float)) or \
            not math.isfinite(timeout) or not 0 <= timeout <= 600:
        raise RefusedArgumentError(f"timeout {timeout!r} is not 0 to 600 seconds")
    load()
    raw.paloma_clear_error()
    if raw.available("paloma_discover"):
        found = (raw.PrinterFound * MAX_PRINTERS)()
        count = raw.paloma_discover(int(timeout * 1000), found, MAX_PRINTERS)
        if count < 0:
            raise _setup_failure("paloma_discover")
        result = []
        for entry in found[:min(count, MAX_PRINTERS)]:
            length = max(0, min(entry.length, len(entry.answer)))
            answer = bytes(entry.answer[:length])
            address = entry.address.split(b"\0", 1)[0].decode("ascii", "replace")
            result.append(FoundPrinter(address or None, int(entry.port), answer, _name(answer)))
        return result
    reply = raw.broadcast()
    if reply == b"-1":
        return []
    if reply == b"0" or reply is None:
        raise _setup_failure("broadcast")
    return [FoundPrinter(None, None)]


def _setup_failure(function: str) -> PalomaError:
    text = raw.paloma_last_error()
    return PalomaOSError("the discovery probe could not be sent (its socket could not be set up)",
                         function=function, reason=text.decode("utf-8", "replace") if text else "",
                         code=int(raw.paloma_last_error_code()))


