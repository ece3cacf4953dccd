"""The in-tree build backend (tools/paloma_build.py): the wheel pip installs
must hold the whole package, metadata that matches pyproject.toml, and a
RECORD whose hashes pip accepts; it runs on a copy of the python/ folder so
that nothing is written into the tree."""

from __future__ import annotations

import base64
import csv
import hashlib
import importlib.util
import io
import os
import shutil
import subprocess
import tarfile
import zipfile
from pathlib import Path

import pytest

PYTHON_DIR = Path(__file__).resolve().parent.parent


@pytest.fixture
def tree(tmp_path: Path):
    """A copy of python/ (package, pyproject.toml, backend) and its backend module."""
    copy = tmp_path / "python"
    shutil.copytree(PYTHON_DIR / "paloma", copy / "paloma",
                    ignore=shutil.ignore_patterns("__pycache__", "*.so*", "*.dll"))
    shutil.copy(PYTHON_DIR / "pyproject.toml", copy / "pyproject.toml")
    (copy / "tools").mkdir()
    shutil.copy(PYTHON_DIR / "tools" / "paloma_build.py", copy / "tools" / "paloma_build.py")
    spec = importlib.util.spec_from_file_location("paloma_build_copy", copy / "tools" / "paloma_build.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return copy, module


def _project(root: Path) -> dict:
    tomllib = pytest.importorskip("tomllib")
    return tomllib.loads((root / "pyproject.toml").read_text())["project"]


def test_wheel_holds_the_package_with_metadata_and_a_valid_record(tree, tmp_path: Path) -> None:
    root, backend = tree
    (root / "paloma" / "libpaloma.so.1").write_bytes(b"\x7fELF library")  # a copy placed beside
    (root / "paloma" / "__pycache__").mkdir()
    (root / "paloma" / "__pycache__" / "x.pyc").write_bytes(b"stale")
    out = tmp_path / "dist"
    out.mkdir()
    name = backend.build_wheel(str(out))
    project = _project(root)
    assert name == f"{project['name']}-{project['version']}-py3-none-any.whl"
    with zipfile.ZipFile(out / name) as wheel:
        names = set(wheel.namelist())
        dist_info = f"{project['name']}-{project['version']}.dist-info"
        package = {f"paloma/{p.name}" for p in (root / "paloma").iterdir() if p.is_file()}
        assert names == package | {f"{dist_info}/{n}" for n in ("METADATA", "WHEEL", "RECORD")}
        assert "paloma/libpaloma.so.1" in names and "paloma/py.typed" in names

        metadata = wheel.read(f"{dist_info}/METADATA").decode()
        assert f"Name: {project['name']}\n" in metadata
        assert f"Version: {project['version']}\n" in metadata
        assert f"Requires-Python: {project['requires-python']}\n" in metadata

        rows = list(csv.reader(io.StringIO(wheel.read(f"{dist_info}/RECORD").decode())))
        recorded = {row[0] for row in rows}
        assert recorded == names
        for path, digest, size in rows:
            if path.endswith("/RECORD"):
                assert digest == "" and size == ""
                continue
            data = wheel.read(path)
            want = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            assert digest == f"sha256={want}", path
            assert int(size) == len(data), path
    # The same tree gives the same wheel, byte for byte.
    again = tmp_path / "again"
    again.mkdir()
    backend.build_wheel(str(again))
    assert (again / name).read_bytes() == (out / name).read_bytes()


def test_metadata_hook_and_sdist_need_nothing_and_leave_the_library_out(tree, tmp_path: Path) -> None:
    root, backend = tree
    assert backend.get_requires_for_build_wheel() == []
    assert backend.get_requires_for_build_sdist() == []
    info = backend.prepare_metadata_for_build_wheel(str(tmp_path))
    assert (tmp_path / info / "METADATA").read_text().startswith("Metadata-Version: 2.1\n")

    (root / "paloma" / "libpaloma.so").write_bytes(b"\x7fELF")
    sdist = backend.build_sdist(str(tmp_path))
    with tarfile.open(tmp_path / sdist) as archive:
        members = set(archive.getnames())
    base = sdist[: -len(".tar.gz")]
    assert {f"{base}/pyproject.toml", f"{base}/tools/paloma_build.py", f"{base}/PKG-INFO",
            f"{base}/paloma/__init__.py"} <= members
    assert not any(m.endswith(".so") for m in members)


def test_the_reader_for_pythons_without_tomllib_agrees_with_tomllib(tree) -> None:
    root, backend = tree
    text = (root / "pyproject.toml").read_text()
    assert backend._project_without_tomllib(text) == _project(root)


def test_a_tree_without_the_package_is_refused_with_the_reason(tree, tmp_path: Path) -> None:
    root, backend = tree
    shutil.rmtree(root / "paloma")
    with pytest.raises(FileNotFoundError, match="__init__.py"):
        backend.build_wheel(str(tmp_path))


def _debian_python_has(module: str) -> bool:
    return subprocess.run(["/usr/bin/python3", "-c", f"import {module}"],
                          capture_output=True, timeout=60).returncode == 0


@pytest.mark.parametrize("frontend", ["pip wheel", "build --no-isolation"])
def test_the_usual_frontends_make_the_wheel_offline(tree, tmp_path: Path, frontend: str) -> None:
    """`pip wheel ./python` and `python3 -m build --no-isolation` with no package
    index: the wheel holds the plugin and the typed declarations; installed in a
    fresh virtual environment, the package imports and pytest finds the plugin."""
    root, _ = tree
    module = "pip" if frontend == "pip wheel" else "build"
    if not _debian_python_has(module):
        pytest.skip(f"/usr/bin/python3 has no {module} module (apt-get install python3-{module})")
    out = tmp_path / "out"
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    env.update(PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1")
    command = (["/usr/bin/python3", "-m", "pip", "wheel", "--no-deps", "-w", str(out), str(root)]
               if module == "pip" else
               ["/usr/bin/python3", "-m", "build", "--no-isolation", "--wheel", "-o", str(out),
                str(root)])
    run = subprocess.run(command, capture_output=True, text=True, timeout=300, env=env)
    assert run.returncode == 0, run.stdout + run.stderr
    [wheel] = list(out.glob("paloma-*.whl"))
    names = set(zipfile.ZipFile(wheel).namelist())
    assert {"paloma/testing.py", "paloma/raw.pyi", "paloma/py.typed"} <= names

    venv = tmp_path / "venv"
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", str(venv)],
                   check=True, timeout=120, env=env)
    run = subprocess.run([str(venv / "bin" / "python"), "-m", "pip", "install", "--no-deps",
                          str(wheel)], capture_output=True, text=True, timeout=300, env=env)
    assert run.returncode == 0, run.stdout + run.stderr
    run = subprocess.run([str(venv / "bin" / "python"), "-c",
                          "import paloma.testing, paloma.raw, sys; "
                          "print(paloma.testing.__file__)"],
                         capture_output=True, text=True, timeout=60, env=env, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith(str(venv)), run.stdout
