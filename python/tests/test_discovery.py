"""paloma.discover inside a network namespace of the test's own: the probe
is a broadcast, which must never leave on the machine's real interfaces."""

from __future__ import annotations

import json
import os
import subprocess
import sys

import pytest

from conftest import TREE, _find_vprinter

import paloma

IN_NAMESPACE = r"""
import json, os, shutil, subprocess, sys, threading
sys.path.insert(0, sys.argv[1])
import paloma
ip = shutil.which("ip", path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin") or "ip"
for cmd in ([ip, "link", "set", "lo", "up"],
            [ip, "route", "add", "broadcast", "255.255.255.255", "dev", "lo"]):
    subprocess.run(cmd, check=True)
nobody = paloma.discover(0.5)
env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
vp = subprocess.Popen([sys.argv[2], "--listen", "127.0.0.1:0", "--discovery", "--out", sys.argv[3],
                       "--name", "NS PRINTER"], stdout=subprocess.PIPE, text=True, env=env)
lines = []
def read():
    for line in vp.stdout:
        lines.append(line)
        if "discovery" in line:
            return
t = threading.Thread(target=read, daemon=True)
t.start()
t.join(10)
try:
    found = paloma.discover(1.0)
finally:
    vp.terminate()
    vp.wait(10)
print(json.dumps({"nobody": len(nobody), "lines": lines,
                  "found": [[f.address, f.port, f.name] for f in found],
                  "detailed": paloma.raw.available("paloma_discover")}))
"""


def _namespaces_work() -> bool:
    try:
        return subprocess.run(["unshare", "-rn", "true"], capture_output=True,
                              timeout=10).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def test_discover_finds_the_printer_that_answers(tmp_path) -> None:
    if not _namespaces_work():
        pytest.skip("no private network namespace (unshare -rn) here: the probe is a broadcast")
    paloma.library_version()
    r = subprocess.run(["unshare", "-rn", sys.executable, "-c", IN_NAMESPACE,
                        str(TREE / "python"), str(_find_vprinter()), str(tmp_path)],
                       capture_output=True, text=True, timeout=60, env=dict(os.environ))
    assert r.returncode == 0, r.stderr
    result = json.loads(r.stdout.strip().splitlines()[-1])
    assert any("discovery" in line for line in result["lines"]), result
    assert result["nobody"] == 0
    assert len(result["found"]) == 1, result
    address, port, name = result["found"][0]
    if result["detailed"]:
        assert (address, name) == ("127.0.0.1", "NS PRINTER") and port
    else:
        # An older library says only that someone answered.
        assert (address, port, name) == (None, None, None)


def test_discover_refuses_unbounded_waits() -> None:
    for bad in (-1, float("inf"), float("nan"), 601, True):
        with pytest.raises(paloma.RefusedArgumentError):
            paloma.discover(bad)
