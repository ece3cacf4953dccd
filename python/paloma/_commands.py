"""Command lines as the library's builders format them, for the checks made
before a call (a command the library would refuse as too long is refused
here with a reason) and for a slot's network connection, where the library
offers only the plain command writer."""

from __future__ import annotations

import math
from typing import Union

from .errors import RefusedArgumentError

Number = Union[int, float]

# Capacities of the builders: the command without its line end, plus one.
SETUP_CAPACITY = 99
PRINT_CAPACITY = 49
TEXT_CAPACITY = 499
BARCODE_CAPACITY = 1023
SYMBOL_CAPACITY = 99
# sendcommand refuses texts of this many bytes or more.
COMMAND_LIMIT = 655_350


def number(value: Number, what: str) -> str:
    """A number as a command field: integers plainly, other values in
    decimal notation without exponent or trailing zeros."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise RefusedArgumentError(f"{what} must be a number, not {type(value).__name__}")
    if isinstance(value, int):
        return str(value)
    if not math.isfinite(value):
        raise RefusedArgumentError(f"{what} must be a finite number, not {value}")
    if value == int(value):
        return str(int(value))
    return f"{value:.6f}".rstrip("0").rstrip(".")


def field(value: str, what: str) -> str:
    """A field the library places verbatim: no line end (it would end the
    command early) and no NUL (it would end the C string early)."""
    if not isinstance(value, str):
        raise RefusedArgumentError(f"{what} must be str, not {type(value).__name__}")
    for ch, name in (("\r", "a carriage return"), ("\n", "a line feed"), ("\0", "a NUL")):
        if ch in value:
            raise RefusedArgumentError(f"{what} holds {name}; a command is one line")
    return value


def content(value: str, what: str = "content") -> str:
    """A last field: bare when it names a variable ("@..."), else quoted; a
    double quote inside would end the quoted text early."""
    field(value, what)
    if value.startswith("@"):
        return value
    if '"' in value:
        raise RefusedArgumentError(f'{what} holds a double quote, which would end the text early')
    return f'"{value}"'


def fits(line: str, capacity: int, what: str) -> str:
    if len(line.encode("latin-1", "replace")) >= capacity:
        raise RefusedArgumentError(
            f"the {what} command would be {len(line)} characters; it holds at most {capacity - 1}")
    return line


def setup_lines(width: str, height: str, speed: str, density: str, black_mark: bool, gap: str,
                offset: str) -> list[str]:
    lines = [f"SIZE {width} mm,{height} mm", f"SPEED {speed}", f"DENSITY {density}",
             f"{'BLINE' if black_mark else 'GAP'} {gap} mm,{offset} mm"]
    return [fits(line, SETUP_CAPACITY, "setup") for line in lines]


def print_line(sets: str, copies: str) -> str:
    return fits(f"PRINT {sets},{copies}", PRINT_CAPACITY, "PRINT")


def text_line(x: str, y: str, font: str, rotation: str, xmul: str, ymul: str, body: str) -> str:
    return fits(f'TEXT {x},{y},"{font}",{rotation},{xmul},{ymul},{content(body)}',
                TEXT_CAPACITY, "TEXT")


def barcode_line(x: str, y: str, kind: str, height: str, readable: str, rotation: str,
                 narrow: str, wide: str, body: str) -> str:
    return fits(f'BARCODE {x},{y},"{kind}",{height},{readable},{rotation},{narrow},{wide},'
                f"{content(body)}", BARCODE_CAPACITY, "BARCODE")


def qrcode_line(x: str, y: str, ecc: str, cell: str, mode: str, rotation: str, model: str,
                mask: str, body: str) -> str:
    fields = [x, y, ecc, cell, mode, rotation]
    if model or mask:
        fields += [model, mask]
    return fits("QRCODE " + ",".join(fields) + "," + content(body), SYMBOL_CAPACITY, "QRCODE")
