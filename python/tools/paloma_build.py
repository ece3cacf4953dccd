"""Builds the paloma package's wheel and source archive with the standard
library alone, so that `pip install ./python` works in a fresh virtual
environment with no package index: nothing has to be downloaded, and neither
setuptools nor wheel has to be installed.

pip finds this module through pyproject.toml (build-backend, backend-path)
and calls the hooks below. The project's name, version and the rest of its
metadata are read from pyproject.toml's [project] table; the wheel holds the
paloma/ folder's modules, py.typed, and a copy of the shared library when one
has been placed beside them (libpaloma.so*, PALOMA.dll).
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import re
import tarfile
import zipfile
from pathlib import Path
from typing import Optional

ROOT = Path(__file__).resolve().parent.parent  # the folder holding pyproject.toml
PACKAGE = "paloma"
_LIBRARY_PATTERNS = ("libpaloma.so*", "PALOMA.dll")
# Zip entries carry this date, so that one tree always gives the same wheel.
_ZIP_DATE = (1980, 1, 1, 0, 0, 0)


# ---- metadata ---------------------------------------------------------------

def _project() -> dict:
    """pyproject.toml's [project] table."""
    text = (ROOT / "pyproject.toml").read_text(encoding="utf-8")
    try:
        import tomllib  # Python 3.11 and later
    except ImportError:
        return _project_without_tomllib(text)
    return tomllib.loads(text)["project"]


def _project_without_tomllib(text: str) -> dict:
    """The [project] table's plain string and string-list keys, for Python
    3.9 and 3.10 (which have no TOML reader); the table uses no other kind."""
    match = re.search(r"^\[project\]\s*$(.*?)(?=^\[|\Z)", text, re.M | re.S)
    if not match:
        raise ValueError("pyproject.toml has no [project] table")
    table: dict = {}
    for key, value in re.findall(r'^([A-Za-z0-9_-]+)\s*=\s*(".*?"|\[.*?\])\s*$',
                                 match.group(1), re.M | re.S):
        if value.startswith("["):
            table[key] = re.findall(r'"((?:[^"\\]|\\.)*)"', value)
        else:
            table[key] = value[1:-1]
    return table


def _name_and_version() -> tuple[str, str]:
    project = _project()
    name = re.sub(r"[-_.]+", "_", project["name"]).lower()
    return name, project["version"]


def _metadata() -> str:
    project = _project()
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}", f"Version: {project['version']}"]
    if project.get("description"):
        lines.append(f"Summary: {project['description']}")
    if project.get("requires-python"):
        lines.append(f"Requires-Python: {project['requires-python']}")
    for classifier in project.get("classifiers", []):
        lines.append(f"Classifier: {classifier}")
    for requirement in project.get("dependencies", []):
        lines.append(f"Requires-Dist: {requirement}")
    return "\n".join(lines) + "\n"


def _wheel_file() -> str:
    return ("Wheel-Version: 1.0\nGenerator: paloma_build\n"
            "Root-Is-Purelib: true\nTag: py3-none-any\n")


def _dist_info() -> str:
    name, version = _name_and_version()
    return f"{name}-{version}.dist-info"


# ---- the files ----------------------------------------------------------------

def _package_files() -> list[tuple[str, Path]]:
    """(name in the wheel, file) for each file of the package, sorted."""
    folder = ROOT / PACKAGE
    if not (folder / "__init__.py").is_file():
        raise FileNotFoundError(f"no {folder}/__init__.py: is this the python/ folder of the tree?")
    files = {p for p in folder.glob("*.py")} | {p for p in folder.glob("*.pyi")}
    files |= {p for p in [folder / "py.typed"] if p.is_file()}
    for pattern in _LIBRARY_PATTERNS:
        files |= {p for p in folder.glob(pattern) if p.is_file()}
    return sorted((f"{PACKAGE}/{p.name}", p) for p in files)


def _record_line(arcname: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{arcname},sha256={digest},{len(data)}"


def _write_wheel(path: Path, entries: list[tuple[str, bytes, int]]) -> None:
    """Writes the wheel: each (name, bytes, mode) entry, then the RECORD."""
    dist_info = _dist_info()
    entries = entries + [(f"{dist_info}/METADATA", _metadata().encode(), 0o644),
                         (f"{dist_info}/WHEEL", _wheel_file().encode(), 0o644)]
    record = [_record_line(name, data) for name, data, _ in entries]
    record.append(f"{dist_info}/RECORD,,")
    entries.append((f"{dist_info}/RECORD", ("\n".join(record) + "\n").encode(), 0o644))
    tmp = path.with_name(path.name + ".part")
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data, mode in entries:
            info = zipfile.ZipInfo(name, date_time=_ZIP_DATE)
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    os.replace(tmp, path)


def _wheel_name() -> str:
    name, version = _name_and_version()
    return f"{name}-{version}-py3-none-any.whl"


# ---- the hooks pip calls ----------------------------------------------------

def get_requires_for_build_wheel(config_settings: Optional[dict] = None) -> list[str]:
    return []


def get_requires_for_build_sdist(config_settings: Optional[dict] = None) -> list[str]:
    return []


def get_requires_for_build_editable(config_settings: Optional[dict] = None) -> list[str]:
    return []


def prepare_metadata_for_build_wheel(metadata_directory: str,
                                     config_settings: Optional[dict] = None) -> str:
    target = Path(metadata_directory) / _dist_info()
    target.mkdir(parents=True, exist_ok=True)
    (target / "METADATA").write_text(_metadata(), encoding="utf-8")
    (target / "WHEEL").write_text(_wheel_file(), encoding="utf-8")
    return target.name


prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel


def build_wheel(wheel_directory: str, config_settings: Optional[dict] = None,
                metadata_directory: Optional[str] = None) -> str:
    entries = []
    for arcname, path in _package_files():
        mode = 0o755 if os.access(path, os.X_OK) and ".so" in path.name else 0o644
        entries.append((arcname, path.read_bytes(), mode))
    name = _wheel_name()
    _write_wheel(Path(wheel_directory) / name, entries)
    return name


def build_editable(wheel_directory: str, config_settings: Optional[dict] = None,
                   metadata_directory: Optional[str] = None) -> str:
    """A wheel that puts this folder on the path (a .pth file), so that the
    tree's own modules are the ones imported."""
    name = _wheel_name()
    pth = (str(ROOT) + "\n").encode()
    _write_wheel(Path(wheel_directory) / name, [(f"__editable__.{PACKAGE}.pth", pth, 0o644)])
    return name


def build_sdist(sdist_directory: str, config_settings: Optional[dict] = None) -> str:
    name, version = _name_and_version()
    base = f"{name}-{version}"
    members = [("pyproject.toml", ROOT / "pyproject.toml"),
               ("tools/paloma_build.py", ROOT / "tools" / "paloma_build.py")]
    members += [(arcname, path) for arcname, path in _package_files()
                if not any(path.match(p) for p in _LIBRARY_PATTERNS)]
    filename = f"{base}.tar.gz"
    tmp = Path(sdist_directory) / (filename + ".part")
    with tarfile.open(tmp, "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        pkg_info = _metadata().encode()
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        info.size, info.mode = len(pkg_info), 0o644
        sdist.addfile(info, io.BytesIO(pkg_info))
        for arcname, path in members:
            data = path.read_bytes()
            info = tarfile.TarInfo(f"{base}/{arcname}")
            info.size, info.mode = len(data), 0o644
            sdist.addfile(info, io.BytesIO(data))
    os.replace(tmp, Path(sdist_directory) / filename)
    return filename
