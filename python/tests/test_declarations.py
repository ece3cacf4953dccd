"""paloma.raw against the header and the built library."""

from __future__ import annotations

import ast
import ctypes
import importlib.util
import os
import subprocess
import sys

import pytest

from conftest import TREE

import paloma
from paloma import _library, raw

found = importlib.util.spec_from_file_location("generate_raw",
                                               TREE / "python" / "tools" / "generate_raw.py")
generate_raw = importlib.util.module_from_spec(found)
sys.modules["generate_raw"] = generate_raw
found.loader.exec_module(generate_raw)  # type: ignore[union-attr]

HEADER = (TREE / "include" / "paloma.h").read_text(encoding="utf-8")
# Declared in the header ahead of the library that exports it.
MAY_BE_MISSING = {"paloma_discover"}


def test_checked_in_declarations_match_the_header() -> None:
    checked_in = (TREE / "python" / "paloma" / "raw.py").read_text(encoding="utf-8")
    assert checked_in == generate_raw.generate(HEADER), (
        "paloma/raw.py is stale: run python3 python/tools/generate_raw.py")
    _, functions, _ = generate_raw.parse(HEADER)
    declared = {f.name for f in functions}
    assert declared == set(raw.DECLARATIONS) | set(generate_raw.LEFT_OUT)


def test_checked_in_types_match_the_header_and_cover_every_function(tmp_path) -> None:
    stub = (TREE / "python" / "paloma" / "raw.pyi").read_text(encoding="utf-8")
    assert stub == generate_raw.generate_stub(HEADER), (
        "paloma/raw.pyi is stale: run python3 python/tools/generate_raw.py")
    tree = ast.parse(stub)
    typed = {n.name: n for n in tree.body if isinstance(n, ast.FunctionDef)}
    assert set(raw.DECLARATIONS) <= set(typed)
    for name, (_, _, argtypes) in raw.DECLARATIONS.items():
        args = typed[name].args
        # Positional only, one a C argument, each annotated.
        assert not args.args and len(args.posonlyargs) == len(argtypes), name
        assert all(a.annotation is not None for a in args.posonlyargs), name
    assert ast.unparse(typed["paloma_status_text"].returns) == "Optional[bytes]"
    assert ast.unparse(typed["windowsfontUnicode"].args.posonlyargs[-1].annotation) == \
        "Optional[str]"

    # --check reports a stale stub as it does a stale raw.py.
    (tmp_path / "raw.py").write_text(generate_raw.generate(HEADER), encoding="utf-8")
    (tmp_path / "raw.pyi").write_text(stub.replace("-> int", "-> str", 1), encoding="utf-8")
    run = subprocess.run([sys.executable, str(TREE / "python" / "tools" / "generate_raw.py"),
                          "--check", "--output", str(tmp_path / "raw.py")],
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 1 and "raw.pyi does not match" in run.stderr, run.stderr


def test_every_declaration_is_exported_by_the_library() -> None:
    lib = _library.load()
    missing = [name for name, (symbol, _, _) in raw.DECLARATIONS.items()
               if not hasattr(lib, symbol)]
    assert set(missing) <= MAY_BE_MISSING, f"not exported: {missing}"
    # The C++-linkage functions are reached by their mangled names: a
    # constant one-character UTF-16 text comes back through one of them.
    text = raw.utf16_at(raw.muta1())
    assert text is not None and len(text) == 1


def test_generator_follows_header_changes_and_refuses_unknown_types() -> None:
    changed = HEADER.replace("PALOMA_API int closeport(void);",
                             "PALOMA_API int closeport(int delay);")
    assert '"closeport": ("closeport", c_int, (c_int,))' in generate_raw.generate(changed)
    moved = HEADER.replace("PALOMA_API int comportdefault();",
                           "PALOMA_API int comportdefault(const char* port, bool quick);")
    assert '"_Z14comportdefaultPKcb"' in generate_raw.generate(moved)
    for bad in ("PALOMA_API struct paloma_x* paloma_x(void);",
                "PALOMA_API int paloma_x(float f);",
                "PALOMA_API int paloma_x(int (*callback)(int));"):
        with pytest.raises(generate_raw.HeaderError):
            generate_raw.generate(HEADER.replace("PALOMA_API int about(void);", bad))


def test_utf16_arguments_are_16_bit_units() -> None:
    param = raw.DECLARATIONS["windowsfontM"][2][-1].from_param("A\u4e2d\U0001f600")
    assert ctypes.string_at(param, 10) == "A\u4e2d\U0001f600".encode("utf-16-le") + b"\0\0"
    assert raw.DECLARATIONS["windowsfontM"][2][-1].from_param(None) is None
    with pytest.raises(TypeError):
        raw.DECLARATIONS["windowsfontM"][2][-1].from_param(b"bytes")
    with pytest.raises(ValueError):
        raw.DECLARATIONS["windowsfontM"][2][-1].from_param("a\0b")


def _run_python(code: str, **env: str) -> subprocess.CompletedProcess:
    full = dict(os.environ, PYTHONPATH=str(TREE / "python"), **env)
    for k, v in env.items():
        if v == "":
            full.pop(k)
    return subprocess.run([sys.executable, "-c", code], env=full, capture_output=True,
                          text=True, timeout=60)


def test_lookup_errors_say_where_and_what_to_do() -> None:
    r = _run_python("import paloma; paloma.library_version()",
                    PALOMA_LIBRARY="/nonexistent/libpaloma.so")
    assert r.returncode != 0
    assert "LibraryNotFoundError" in r.stderr and "/nonexistent/libpaloma.so" in r.stderr
    # Importing never loads the library: the package is usable for reading
    # its declarations without one.
    r = _run_python("import paloma, paloma.raw; print(len(paloma.raw.DECLARATIONS))",
                    PALOMA_LIBRARY="/nonexistent/libpaloma.so")
    assert r.returncode == 0 and int(r.stdout) > 100


def test_sanitized_library_without_its_runtime_is_refused_with_advice() -> None:
    path = _library.library_path()
    assert path
    if b"libasan.so" not in open(path, "rb").read():
        pytest.skip("the library was built without AddressSanitizer")
    r = _run_python("import paloma; paloma.library_version()", PALOMA_LIBRARY=path,
                    LD_PRELOAD="")
    # The process must not die inside the loader: it gets the advice.
    assert r.returncode == 1 and "LD_PRELOAD" in r.stderr, r.stderr
    assert paloma.library_version()


@pytest.mark.skipif(sys.platform == "win32", reason="the C library's names are a Linux matter")
def test_sdk_names_reach_the_sdk_not_the_c_library() -> None:
    # sendfile is also the C library's; the library's own is what raw binds.
    libc = ctypes.CDLL(None)
    ours = ctypes.cast(raw.sendfile, ctypes.c_void_p).value
    assert ours != ctypes.cast(libc.sendfile, ctypes.c_void_p).value
    paloma.raw.paloma_clear_error()
    assert raw.sendfile(b"/nonexistent/label.prn") == 0
    assert raw.paloma_last_error() != b""
