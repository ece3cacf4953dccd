"""Finding and loading the shared library, and binding its functions.

The library is looked for, in this order:

1. the file named by the environment variable PALOMA_LIBRARY;
2. beside this package (a copy installed with it);
3. when the package is used from the source tree (python/paloma), the
   libraries built in the tree's build folders (build*/), newest first;
4. the system's search (ctypes.util.find_library("paloma")).
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path
from typing import Any, Callable, Optional, Sequence

from .errors import LibraryNotFoundError

if sys.platform == "win32":
    _NAMES = ("PALOMA.dll",)
else:
    _NAMES = ("libpaloma.so", "libpaloma.so.1")

_lock = threading.RLock()
_load_hooks: list[Callable[[], None]] = []
_library: Optional[ctypes.CDLL] = None
_path: Optional[str] = None


def _candidates() -> list[tuple[str, Path]]:
    """(where, path) pairs in the order they are tried."""
    found: list[tuple[str, Path]] = []
    env = os.environ.get("PALOMA_LIBRARY")
    if env:
        found.append(("PALOMA_LIBRARY", Path(env)))
    here = Path(__file__).resolve().parent
    for name in _NAMES:
        found.append(("beside the package", here / name))
    tree = here.parent.parent
    if (tree / "include" / "paloma.h").is_file():
        built: list[Path] = []
        seen: set[Path] = set()
        for d in tree.glob("build*"):
            for name in _NAMES:
                p = d / name
                if p.is_file() and p.resolve() not in seen:  # .so and .so.1 are one file
                    seen.add(p.resolve())
                    built.append(p)
        built.sort(key=lambda p: p.stat().st_mtime, reverse=True)
        found += [("in the source tree's build folders", p) for p in built]
        if not built:
            found.append(("in the source tree's build folders", tree / "build*" / _NAMES[0]))
    return found


_ASAN_HINT = ("it was built with AddressSanitizer: start Python with "
              "LD_PRELOAD=$(gcc -print-file-name=libasan.so) and ASAN_OPTIONS=detect_leaks=0, "
              "or use a build without -DPALOMA_SANITIZE=ON")


def _sanitizer_hint(error: OSError) -> str:
    text = str(error)
    return f" ({_ASAN_HINT})" if "ASan runtime" in text or "libasan" in text else ""


def _needs_absent_asan(path: Path) -> bool:
    """True when the library links the AddressSanitizer runtime and this
    process has not loaded it first: loading it would end the process."""
    if not sys.platform.startswith("linux"):
        return False
    try:
        if b"libasan.so" not in path.read_bytes():
            return False
        with open("/proc/self/maps", encoding="utf-8", errors="replace") as maps:
            return "libasan.so" not in maps.read()
    except OSError:
        return False


def load() -> ctypes.CDLL:
    """Loads the library once per process and returns it.

    Raises LibraryNotFoundError listing every place that was tried.
    """
    global _library, _path
    with _lock:
        if _library is not None:
            return _library
        tried: list[str] = []
        for where, path in _candidates():
            if not path.is_file():
                if where == "PALOMA_LIBRARY":
                    # An explicit choice is never replaced by another copy.
                    raise LibraryNotFoundError(
                        f"PALOMA_LIBRARY names {path}, which is not a file; set it to the "
                        "library's path (libpaloma.so) or unset it to search the usual places")
                tried.append(f"{path} ({where}: no such file)")
                continue
            if _needs_absent_asan(path):
                if where.startswith("in the source tree"):
                    tried.append(f"{path} ({where}: {_ASAN_HINT})")
                    continue
                raise LibraryNotFoundError(
                    f"the PALOMA library {path} ({where}) cannot be loaded here: {_ASAN_HINT}")
            try:
                lib = ctypes.CDLL(str(path))
            except OSError as e:
                # A library that exists but does not load is reported at once:
                # falling through to another copy would hide the reason.
                raise LibraryNotFoundError(
                    f"the PALOMA library {path} ({where}) did not load: {e}{_sanitizer_hint(e)}"
                ) from e
            _library, _path = lib, str(path)
            _run_hooks()
            return lib
        system = ctypes.util.find_library("paloma") or ctypes.util.find_library("PALOMA")
        if system:
            try:
                _library, _path = ctypes.CDLL(system), system
                _run_hooks()
                return _library
            except OSError as e:
                raise LibraryNotFoundError(
                    f"the PALOMA library {system} (system search) did not load: "
                    f"{e}{_sanitizer_hint(e)}") from e
        tried.append("the system's library search (ctypes.util.find_library('paloma'): not found)")
        raise LibraryNotFoundError(
            "the PALOMA library was not found. Looked at:\n  " + "\n  ".join(tried) +
            "\nBuild it (cmake -S . -B build && cmake --build build --target paloma), install it, "
            "or set PALOMA_LIBRARY to the file's path.")


def add_load_hook(hook: Callable[[], None]) -> None:
    """Runs `hook` once the library is loaded (at once when it already is)."""
    with _lock:
        _load_hooks.append(hook)
        if _library is not None:
            hook()


def _run_hooks() -> None:
    for hook in _load_hooks:
        hook()


def library_path() -> Optional[str]:
    """The path of the loaded library, or None before it is loaded."""
    return _path


class Utf16:
    """ctypes argument type of a NUL-terminated UTF-16 text (paloma_wchar*):
    a str is encoded UTF-16-LE; None passes a null pointer."""

    @classmethod
    def from_param(cls, value: Any) -> Any:
        if value is None:
            return None
        if not isinstance(value, str):
            raise TypeError(f"a UTF-16 argument takes str, not {type(value).__name__}")
        if "\0" in value:
            raise ValueError("a UTF-16 argument cannot hold a NUL character")
        # surrogatepass keeps lone surrogates as the units they are.
        return ctypes.c_char_p(value.encode("utf-16-le", "surrogatepass") + b"\0\0")


def utf16_at(address: Optional[int], limit: int = 1 << 20) -> Optional[str]:
    """Reads the NUL-terminated UTF-16 text at `address` (at most `limit`
    units); None for a null address."""
    if not address:
        return None
    units = ctypes.cast(address, ctypes.POINTER(ctypes.c_uint16))
    n = 0
    while n < limit and units[n] != 0:
        n += 1
    return ctypes.string_at(address, 2 * n).decode("utf-16-le", "surrogatepass")


def bind(name: str, symbol: str, restype: Any, argtypes: Sequence[Any]) -> Any:
    """The library's function `symbol` with its types set; AttributeError when
    the loaded library does not export it (an older library)."""
    lib = load()
    try:
        # On Linux a function without the paloma_ prefix has its own symbol
        # paloma_legacy_NAME; its plain name may be another library's (the C
        # library's sendfile). The Windows DLL has the plain names only.
        try:
            if symbol.startswith("paloma_") or symbol.startswith("_Z"):
                raise AttributeError(symbol)
            fn = getattr(lib, "paloma_legacy_" + symbol)
        except AttributeError:
            fn = getattr(lib, symbol)
    except AttributeError:
        raise AttributeError(
            f"the PALOMA library {_path} does not export {name} (symbol {symbol}); "
            "it is older than the header this package was made from") from None
    fn.restype = restype
    fn.argtypes = list(argtypes)
    return fn
