"""The two-dimensional symbols, DataBar, box and bar on the virtual printer,
and the package's pytest plugin as a user runs it."""

from __future__ import annotations

import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

from conftest import TREE, _find_vprinter, read_png

import paloma
from paloma import RefusedArgumentError, UnsupportedError


def _draw_all(p: paloma.Printer) -> None:
    p.setup(100, 80)
    p.clear()
    p.datamatrix(10, 10, "PALOMA-DM", width=150, height=150, module=6)
    p.pdf417(200, 10, "PALOMA-PDF417", width=500, height=150, options=["E3"])
    p.aztec(10, 200, "PALOMA-AZTEC", module=5)
    p.maxicode(200, 200, "PALOMA-MAXI", mode=4)
    p.databar(500, 200, "0101234567890", type="RSS14", module=2)
    p.box(10, 500, 300, 570, thickness=4)
    p.bar(400, 500, 200, 60)
    p.print()


@pytest.mark.parametrize("opener", ["handle", "single"])
def test_every_symbol_and_shape_draws(vprinter, opener) -> None:
    if opener == "handle":
        with paloma.Printer.open(vprinter.uri) as p:
            _draw_all(p)
    else:
        with paloma.Printer.tcp("127.0.0.1", vprinter.port) as p:
            _draw_all(p)
    labels = vprinter.wait_for_labels(1)
    assert len(labels) == 1
    for name in ("DMATRIX", "PDF417", "AZTEC", "MAXICODE", "RSS", "BOX", "BAR"):
        assert vprinter.commands(name), f"{name} did not reach the printer"
        assert all(not e.get("error") for e in vprinter.commands(name)), vprinter.commands(name)
    img = read_png(labels[0])
    assert img.ink(10, 10, 160, 160) > 1000  # the DataMatrix
    assert img.ink(400, 500, 600, 560) == 200 * 60  # the bar, filled
    # The box: its outline drawn, its inside empty.
    assert img.ink(10, 500, 300, 504) == 290 * 4
    assert img.ink(20, 510, 290, 560) == 0


def test_refused_fields_send_nothing(vprinter) -> None:
    with paloma.Printer.open(vprinter.uri) as p:
        with pytest.raises(RefusedArgumentError):
            p.datamatrix(0, 0, "two\nlines")
        with pytest.raises(RefusedArgumentError):
            p.maxicode(0, 0, "x", mode=5, country="840")  # mode 5 has no country
        with pytest.raises(RefusedArgumentError):
            p.pdf417(0, 0, "x", options=["E3"] * 13)
        with pytest.raises(RefusedArgumentError):
            p.box(0, 0, "10", 10)  # type: ignore[arg-type]
        p.send("PRINT 1")
    vprinter.wait_for(lambda: vprinter.commands("PRINT"))
    assert [e["command"] for e in vprinter.log() if "command" in e] == ["PRINT"]


def test_symbols_on_a_numbered_connection_say_how_instead(vprinter) -> None:
    with paloma.Printer.slot(1, host="127.0.0.1", port=vprinter.port) as p:
        with pytest.raises(UnsupportedError, match="Printer.open"):
            p.aztec(0, 0, "x")
        p.bar(0, 0, 10, 10)  # a plain line goes anywhere
    assert vprinter.wait_for(lambda: vprinter.commands("BAR"))


def test_plugin_serves_a_users_tests(tmp_path: Path) -> None:
    """`pytest -p paloma.testing` in a project of its own: the fixture gives
    a printer's URI and the labels it printed."""
    (tmp_path / "test_mine.py").write_text(textwrap.dedent("""
        import paloma

        def test_my_label(vprinter):
            with paloma.Printer.open(vprinter.uri) as p:
                p.setup(40, 20)
                p.clear()
                p.text(10, 10, "mine")
                p.print(sets=2)
            labels = vprinter.wait_for_labels(2)
            assert len(labels) == 2 and labels[0].suffix == ".png"
            assert "mine" in vprinter.commands("TEXT")[0]["fields"][-1]

        def test_two_printers(start_vprinter):
            a, b = start_vprinter(), start_vprinter("--dpi", "300")
            assert a.uri != b.uri
    """))
    env = dict(os.environ)
    env["PYTHONPATH"] = str(TREE / "python")
    env["PALOMA_VPRINTER"] = str(_find_vprinter().resolve())
    env["PALOMA_LIBRARY"] = str(Path(paloma.library_path() or "").resolve())
    run = subprocess.run([sys.executable, "-m", "pytest", "-p", "paloma.testing", "-p",
                          "no:cacheprovider", "-q", str(tmp_path)], cwd=tmp_path, env=env,
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "2 passed" in run.stdout
