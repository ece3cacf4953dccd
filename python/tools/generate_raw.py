#!/usr/bin/env python3
"""Writes paloma/raw.py, the ctypes declarations of every function in
include/paloma.h, and paloma/raw.pyi, their Python types for type checkers
and editors, from the header itself.

    python3 python/tools/generate_raw.py           # rewrite both
    python3 python/tools/generate_raw.py --check   # exit 1 when either is stale

Functions of the header's C++ section are exported under Itanium-mangled
symbols (GCC and Clang on Linux, mingw-w64 for the DLL); the generator
mangles their names itself. Those that read a device handle the library keeps
to itself are left out: a Python caller has no such handle, and any other
pointer would be read as one.
"""

from __future__ import annotations

import argparse
import re
import sys
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent
HEADER = HERE.parent.parent / "include" / "paloma.h"
OUTPUT = HERE.parent / "paloma" / "raw.py"
STUB_OUTPUT = OUTPUT.with_suffix(".pyi")

LEFT_OUT = {
    "UsbReadDataToBuffer": "reads a device handle held inside the library",
    "UsbReadData": "reads a device handle held inside the library",
    "UsbRead_judge": "reads a device handle held inside the library",
    "UsbReadStatus": "reads a device handle held inside the library",
    "UsbReadData_mult": "reads a device handle held inside the library",
}

# C type (as written in the header, blanks normalised) -> ctypes expression,
# for arguments and for results.
ARG_TYPES = {
    "int": "c_int",
    "unsigned int": "c_uint",
    "unsigned short": "c_ushort",
    "long": "c_long",
    "size_t": "c_size_t",
    "int*": "POINTER(c_int)",
    "char*": "POINTER(c_char)",  # a buffer the library fills: ctypes.create_string_buffer
    "unsigned char*": "POINTER(c_ubyte)",
    "const void*": "c_void_p",
    "bool": "c_bool",
    "const char*": "c_char_p",
    "const unsigned char*": "c_char_p",
    "const paloma_wchar*": "Utf16",
    "paloma_bstr": "c_void_p",
    "void*": "c_void_p",
    "paloma_message_handler": "MessageHandler",
    "paloma_printer_found*": "POINTER(PrinterFound)",
    "const paloma_image_options*": "POINTER(ImageOptions)",
    "paloma_image_options*": "POINTER(ImageOptions)",
    "size_t*": "POINTER(c_size_t)",
    "paloma_printer*": "c_void_p",
    "paloma_printer**": "POINTER(c_void_p)",
    "paloma_result": "c_int",
    "uint8_t": "c_ubyte",
    "uint8_t*": "POINTER(c_ubyte)",
    "const char**": "POINTER(c_char_p)",
}
RESULT_TYPES = {
    "void": "None",
    "int": "c_int",
    "unsigned int": "c_uint",
    "unsigned short": "c_ushort",
    "long": "c_long",
    "size_t": "c_size_t",
    "bool": "c_bool",
    "const char*": "c_char_p",
    # Library-owned UTF-16 text: a bare address, read with raw.utf16_at.
    "const paloma_wchar*": "c_void_p",
    # Caller-owned: released with paloma_bstr_free, so never converted.
    "paloma_bstr": "c_void_p",
    "paloma_message_handler": "c_void_p",
    "paloma_result": "c_int",
}
FIELD_TYPES = {
    "char": "c_char",
    "unsigned char": "c_ubyte",
    "unsigned short": "c_ushort",
    "int": "c_int",
}
# Itanium ABI codes of the argument types found in the C++ section.
MANGLE_CODES = {
    "int": "i",
    "bool": "b",
    "const char*": "PKc",
    "void*": "Pv",
    "const paloma_wchar*": "PKDs",
}


class HeaderError(Exception):
    """The header holds a declaration the generator cannot translate."""


@dataclass
class Function:
    name: str
    result: str
    args: list[tuple[str, str]]  # (C type, argument name)
    cxx: bool

    @property
    def symbol(self) -> str:
        if not self.cxx:
            return self.name
        codes = [MANGLE_CODES.get(t) for t, _ in self.args]
        if None in codes:
            bad = [t for t, _ in self.args if t not in MANGLE_CODES]
            raise HeaderError(f"{self.name}: no mangling code for {bad}")
        return f"_Z{len(self.name)}{self.name}{''.join(codes) or 'v'}"  # type: ignore[arg-type]


def _strip_comments(text: str) -> str:
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def _norm_type(t: str) -> str:
    t = re.sub(r"\s+", " ", t).strip()
    return re.sub(r"\s*\*", "*", t)


def _split_arg(arg: str) -> tuple[str, str]:
    arg = _norm_type(arg)
    m = re.fullmatch(r"(.*?[\w*])\s*\b(\w+)", arg)
    if arg in ("void", ""):
        return ("", "")
    if not m or m.group(1) in ("const", "unsigned"):
        return (arg, "")  # a type without a name
    return (_norm_type(m.group(1)), m.group(2))


def parse(header: str) -> tuple[dict[str, int], list[Function], list[tuple[str, str, int]]]:
    """Returns the integer #defines, the functions and the fields of
    paloma_printer_found found in the header text."""
    close = re.search(r'^\}\s*/\*\s*extern "C"\s*\*/', header, flags=re.M)
    if not close:
        raise HeaderError('the end of the extern "C" block was not found')
    defines = {m.group(1): int(m.group(2), 0)
               for m in re.finditer(r"^#define\s+(PALOMA_\w+)\s+(-?\w+)\s*$", header, flags=re.M)
               if re.fullmatch(r"-?(0x[0-9a-fA-F]+|\d+)", m.group(2))}
    functions: list[Function] = []
    for part, cxx in ((header[:close.start()], False), (header[close.end():], True)):
        body = re.sub(r"^\s*#[^\n]*", " ", _strip_comments(part), flags=re.M)
        # Every declaration is read, or the generator stops: one it skipped
        # would be missing from the package without anyone noticing.
        for decl in re.findall(r"PALOMA_API\b[^;]*;", body):
            m = re.fullmatch(r"PALOMA_API\s+([^;(]*?)\b(\w+)\s*\(([^()]*)\)\s*;", decl.strip())
            if not m:
                raise HeaderError(f"cannot read the declaration {' '.join(decl.split())!r}")
            result = _norm_type(m.group(1))
            args = [_split_arg(a) for a in m.group(3).split(",")]
            args = [a for a in args if a != ("", "")]
            functions.append(Function(m.group(2), result, args, cxx))
    struct = re.search(r"typedef struct paloma_printer_found \{(.*?)\}", _strip_comments(header), re.S)
    if not struct:
        raise HeaderError("struct paloma_printer_found was not found")
    fields = []
    for decl in struct.group(1).split(";"):
        decl = _norm_type(decl)
        if not decl:
            continue
        m = re.fullmatch(r"(.+?) (\w+)(?:\[(\d+)\])?", decl)
        if not m or m.group(1) not in FIELD_TYPES:
            raise HeaderError(f"paloma_printer_found: cannot translate field {decl!r}")
        fields.append((m.group(1), m.group(2), int(m.group(3) or 0)))
    return defines, functions, fields


def parse_image_options(header: str) -> list[str]:
    """The field names of paloma_image_options, every one an int."""
    struct = re.search(r"typedef struct paloma_image_options \{(.*?)\}", _strip_comments(header), re.S)
    if not struct:
        raise HeaderError("struct paloma_image_options was not found")
    names = []
    for decl in struct.group(1).split(";"):
        decl = _norm_type(decl)
        if not decl:
            continue
        m = re.fullmatch(r"int (\w+)", decl)
        if not m:
            raise HeaderError(f"paloma_image_options: cannot translate field {decl!r}")
        names.append(m.group(1))
    return names


def generate(header: str) -> str:
    defines, functions, fields = parse(header)
    handler = re.search(r"typedef void \(\*paloma_message_handler\)\(([^)]*)\)",
                        _strip_comments(header))
    if not handler:
        raise HeaderError("typedef paloma_message_handler was not found")
    handler_args = [ARG_TYPES.get(t, RESULT_TYPES.get(t)) if t != "void*" else "c_void_p"
                    for t, _ in (_split_arg(a) for a in handler.group(1).split(","))]
    if None in handler_args:
        raise HeaderError("paloma_message_handler: an argument type cannot be translated")

    out = [
        "# Generated by python/tools/generate_raw.py from include/paloma.h. Do not edit:",
        "# change the header and run the generator (a test fails while they disagree).",
        '"""The library\'s functions as it exports them, with their exact C types.',
        "",
        "Each name below is a ctypes function bound on first use (loading the",
        "library then). Strings are bytes; UTF-16 arguments take str; pointers to",
        "library-owned UTF-16 texts and caller-owned strings (paloma_bstr, released",
        "with paloma_bstr_free) come back as int addresses. Every call blocks the",
        "calling thread for as long as the header says; the GIL is released meanwhile.",
        '"""',
        "",
        "from ctypes import (CFUNCTYPE, POINTER, Structure, c_bool, c_char, c_char_p,  # noqa: F401",
        "                    c_int, c_long, c_size_t, c_ubyte, c_uint, c_ushort, c_void_p)",
        "from typing import Any",
        "",
        "from ._library import Utf16, bind, utf16_at",
        "",
    ]
    for k, v in defines.items():
        out.append(f"{k} = {v}")
    out += [
        "",
        f"MessageHandler = CFUNCTYPE(None, {', '.join(handler_args)})",
        "",
        "",
        "class PrinterFound(Structure):",
        '    """One answer to the discovery probe (paloma_printer_found)."""',
        "",
        "    _fields_ = [",
    ]
    for ctype, name, count in fields:
        t = FIELD_TYPES[ctype]
        out.append(f'        ("{name}", {t} * {count}),' if count else f'        ("{name}", {t}),')
    out += [
        "    ]",
        "",
        "",
        "class ImageOptions(Structure):",
        '    """How a picture is made one-bit and drawn (paloma_image_options)."""',
        "",
        "    _fields_ = [",
    ]
    for name in parse_image_options(header):
        out.append(f'        ("{name}", c_int),')
    out += [
        "    ]",
        "",
        "",
        "# name: (exported symbol, result type, argument types)",
        "DECLARATIONS: dict = {",
    ]
    left_out = []
    for f in functions:
        if f.name in LEFT_OUT:
            left_out.append(f"#   {f.name}: {LEFT_OUT[f.name]}")
            continue
        if f.result not in RESULT_TYPES:
            raise HeaderError(f"{f.name}: cannot translate the result type {f.result!r}")
        args = []
        for t, _ in f.args:
            if t not in ARG_TYPES:
                raise HeaderError(f"{f.name}: cannot translate the argument type {t!r}")
            args.append(ARG_TYPES[t])
        tuple_text = "(" + ", ".join(args) + ("," if len(args) == 1 else "") + ")"
        out.append(f'    "{f.name}": ("{f.symbol}", {RESULT_TYPES[f.result]}, {tuple_text}),')
    out.append("}")
    if left_out:
        out += ["", "# Declared in the header but left out:"] + left_out
    out += [
        "",
        "",
        "def __getattr__(name: str) -> Any:",
        "    if name in DECLARATIONS:",
        "        fn = bind(name, *DECLARATIONS[name])",
        "        globals()[name] = fn",
        "        return fn",
        '    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")',
        "",
        "",
        "def available(name: str) -> bool:",
        '    """True when the loaded library exports the function `name`."""',
        "    try:",
        "        __getattr__(name)",
        "        return True",
        "    except AttributeError:",
        "        return False",
        "",
        "",
        '__all__ = ["DECLARATIONS", "ImageOptions", "MessageHandler", "PrinterFound", "available",',
        '           "utf16_at"]',
        "",
    ]
    return "\n".join(out)

# ctypes type -> the Python type a caller passes (arguments) or gets (results).
STUB_ARGS = {
    "c_int": "int", "c_uint": "int", "c_ushort": "int", "c_long": "int", "c_size_t": "int",
    "c_ubyte": "int", "c_bool": "bool", "c_char_p": "Optional[bytes]", "Utf16": "Optional[str]",
}
STUB_RESULTS = {
    "None": "None", "c_int": "int", "c_uint": "int", "c_ushort": "int", "c_long": "int",
    "c_size_t": "int", "c_bool": "bool", "c_char_p": "Optional[bytes]",
    "c_void_p": "Optional[int]",
}
STUB_FIELDS = {"c_char": "bytes", "c_ubyte": "int", "c_ushort": "int", "c_int": "int"}


def _stub_name(name: str, index: int, taken: set[str]) -> str:
    import keyword
    if not name or keyword.iskeyword(name) or name in taken:
        name = f"arg{index}"
    taken.add(name)
    return name


def generate_stub(header: str) -> str:
    """raw.pyi: each function with its arguments' and result's Python types.
    Pointers take any ctypes pointer, array, byref() or address (CArg)."""
    defines, functions, fields = parse(header)
    out = [
        "# Generated by python/tools/generate_raw.py from include/paloma.h. Do not edit.",
        '"""Types of paloma.raw, the library\'s functions as it exports them."""',
        "",
        "from ctypes import Structure",
        "from typing import Any, Optional, Union",
        "",
        "# A pointer argument: a ctypes pointer, array or byref(), bytes, an address, None.",
        "CArg = Any",
        "",
    ]
    for k in defines:
        out.append(f"{k}: int")
    out += ["", "MessageHandler: Any", "", "", "class PrinterFound(Structure):"]
    for ctype, name, count in fields:
        out.append(f"    {name}: {STUB_FIELDS[FIELD_TYPES[ctype]]}")
    out += ["", "", "class ImageOptions(Structure):"]
    for name in parse_image_options(header):
        out.append(f"    {name}: int")
    out += ["", "", "DECLARATIONS: dict[str, tuple[str, Any, tuple[Any, ...]]]", ""]
    for f in functions:
        if f.name in LEFT_OUT:
            continue
        taken: set[str] = set()
        params = []
        for i, (t, n) in enumerate(f.args):
            params.append(f"{_stub_name(n, i, taken)}: {STUB_ARGS.get(ARG_TYPES[t], 'CArg')}")
        if params:
            params.append("/")
        out.append(f"def {f.name}({', '.join(params)}) -> {STUB_RESULTS[RESULT_TYPES[f.result]]}: ...")
    out += [
        "",
        "def available(name: str) -> bool: ...",
        "def utf16_at(address: Optional[int], limit: int = ...) -> Optional[str]: ...",
        "",
    ]
    return "\n".join(out)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--check", action="store_true",
                    help="only report whether raw.py or raw.pyi is stale")
    ap.add_argument("--header", type=Path, default=HEADER)
    ap.add_argument("--output", type=Path, default=OUTPUT)
    a = ap.parse_args()
    stub_output = a.output.with_suffix(".pyi")
    try:
        header = a.header.read_text(encoding="utf-8")
        texts = {a.output: generate(header), stub_output: generate_stub(header)}
    except (OSError, HeaderError) as e:
        print(f"generate_raw: {e}; fix the header or teach the generator the new type", file=sys.stderr)
        return 2
    if a.check:
        stale = [p for p, text in texts.items()
                 if not p.exists() or p.read_text(encoding="utf-8") != text]
        for p in stale:
            print(f"generate_raw: {p} does not match {a.header}; "
                  "run python3 python/tools/generate_raw.py", file=sys.stderr)
        return 1 if stale else 0
    for p, text in texts.items():
        p.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
