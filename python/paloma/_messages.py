"""The library's messages for a person (a file that cannot be read, a port
that will not open) go to Python's logging, logger "paloma"."""

from __future__ import annotations

import logging
from typing import Any, Optional

from . import raw

logger = logging.getLogger("paloma")

# icon -> logging level: 0 warning, 1 information, 2 exclamation, 3 none,
# 4 debug detail, 5 a console line (which the library would otherwise write
# to standard output).
_LEVELS = {0: logging.WARNING, 1: logging.INFO, 2: logging.WARNING, 3: logging.INFO,
           raw.PALOMA_ICON_DEBUG: logging.DEBUG, raw.PALOMA_ICON_CONSOLE: logging.INFO}

# The ctypes callback object must outlive every call that may use it: the
# library keeps only its address.
_handler: Optional[Any] = None


def _text(value: Optional[bytes]) -> str:
    return value.decode("utf-8", "replace") if value else ""


def _deliver(text: Optional[bytes], caption: Optional[bytes], icon: int, user: Any) -> None:
    try:
        level = _LEVELS.get(icon, logging.WARNING)
        cap = _text(caption)
        body = _text(text)
        logger.log(level, "%s: %s" if cap else "%s%s", cap, body)
    except Exception:  # an exception must not cross back into the library
        pass


def install() -> None:
    """Routes the library's messages to the "paloma" logger (once per
    process; called when the library is loaded)."""
    global _handler
    if _handler is not None:
        return
    if not raw.available("paloma_set_message_handler"):
        return  # an older library: its messages keep going to standard error
    _handler = raw.MessageHandler(_deliver)
    raw.paloma_set_message_handler(_handler, None)
    if logger.isEnabledFor(logging.DEBUG) and raw.available("paloma_set_log_level"):
        raw.paloma_set_log_level(raw.PALOMA_LOG_DEBUG)


def set_debug_messages(enabled: bool = True) -> None:
    """Also deliver the library's developer detail (which face stood in for a
    missing font, ...) to the "paloma" logger at DEBUG level."""
    raw.paloma_set_log_level(raw.PALOMA_LOG_DEBUG if enabled else raw.PALOMA_LOG_MESSAGES)
