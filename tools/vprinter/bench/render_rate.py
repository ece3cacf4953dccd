#!/usr/bin/env python3
"""Whole-process render rate of the virtual printer.

Writes a command stream of LABELS labels (100 x 150 mm at 203 dpi, each with a
title, a Code 128 barcode, a QR code and a 304 x 100 dot bitmap, then PRINT
1,1) and runs `paloma-vprinter --render` on it RUNS times, each in a fresh
process with a fresh output folder. Reports, as min / median / max over the
processes: labels per CPU second (user + system: labels per second per core),
labels per wall-clock second, and peak resident memory.

With --baseline EXE the two programs run alternately, one process each in
turn, so that both see the same load; the ratios of the medians follow.

  tools/vprinter/bench/render_rate.py build-rel/tools/vprinter/paloma-vprinter
  tools/vprinter/bench/render_rate.py NEW --baseline OLD --runs 7
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def label_stream(labels):
    rows = bytearray()
    for y in range(100):
        for x in range(38):
            rows.append(0xF0 if ((x + y // 4) & 1) else 0x0F)
    one = (b"CLS\r\n"
           b"TEXT 40,40,\"5\",0,1,1,\"PALOMA BENCH\"\r\n"
           b"BARCODE 40,140,\"128\",120,2,0,3,6,\"PALOMA-0001\"\r\n"
           b"QRCODE 40,340,M,8,A,0,\"https://paloma.invalid/label/0001\"\r\n"
           b"BITMAP 400,400,38,100,0," + bytes(rows) + b"\r\n"
           b"PRINT 1,1\r\n")
    return b"SIZE 100 mm,150 mm\r\nGAP 3 mm,0 mm\r\n" + one * labels


def run_once(exe, stream_path, labels, work):
    out = tempfile.mkdtemp(prefix="render-", dir=work)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    proc = subprocess.run([exe, "--render", stream_path, "--out", out, "--log", os.devnull],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=600)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    written = len([f for f in os.listdir(out) if f.endswith(".png")])
    shutil.rmtree(out, ignore_errors=True)
    if proc.returncode != 0 or written != labels:
        sys.exit(f"{exe} failed (exit {proc.returncode}, {written} of {labels} labels): "
                 f"{proc.stderr.decode(errors='replace').strip()}\n"
                 "Build it first: cmake --build build-rel --target paloma-vprinter")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return {"cpu_rate": labels / cpu, "wall_rate": labels / wall}


def peak_rss_kb(exe, stream_path, work):
    """Peak RSS of one run, from a child process that runs it alone."""
    out = tempfile.mkdtemp(prefix="render-", dir=work)
    code = ("import resource,subprocess,sys,os;"
            "subprocess.run(sys.argv[1:],stdout=subprocess.DEVNULL,stderr=subprocess.DEVNULL);"
            "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    res = subprocess.run([sys.executable, "-c", code, exe, "--render", stream_path, "--out", out,
                          "--log", os.devnull], capture_output=True, text=True, timeout=600)
    shutil.rmtree(out, ignore_errors=True)
    return int(res.stdout.strip() or 0)


def summary(values):
    return min(values), statistics.median(values), max(values)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("exe", help="the paloma-vprinter to measure")
    ap.add_argument("--baseline", help="another paloma-vprinter, run alternately with the first")
    ap.add_argument("--runs", type=int, default=5, help="processes per program (default 5)")
    ap.add_argument("--labels", type=int, default=200, help="labels per process (default 200)")
    args = ap.parse_args()
    if args.runs < 1:
        ap.error("--runs needs at least 1 process")
    if args.labels < 1:
        ap.error("--labels needs at least 1 label")
    exes = {"measured": args.exe}
    if args.baseline:
        exes["baseline"] = args.baseline
    for name, exe in exes.items():
        if not (os.path.isfile(exe) and os.access(exe, os.X_OK)):
            sys.exit(f"{exe} is not an executable; build it with "
                     "cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release && "
                     "cmake --build build-rel --target paloma-vprinter")

    work = tempfile.mkdtemp(prefix="vprinter-rate-")
    try:
        stream_path = os.path.join(work, "labels.prn")
        with open(stream_path, "wb") as f:
            f.write(label_stream(args.labels))
        results = {name: [] for name in exes}
        for _ in range(args.runs):
            for name, exe in exes.items():
                results[name].append(run_once(exe, stream_path, args.labels, work))
        rss = {name: peak_rss_kb(exe, stream_path, work) for name, exe in exes.items()}
        medians = {}
        for name, runs in results.items():
            cpu = summary([r["cpu_rate"] for r in runs])
            wall = summary([r["wall_rate"] for r in runs])
            medians[name] = (cpu[1], wall[1])
            print(f"{name:9} {exes[name]}")
            print(f"  labels per CPU second (per core): min {cpu[0]:.0f}  median {cpu[1]:.0f}  "
                  f"max {cpu[2]:.0f}")
            print(f"  labels per wall second:           min {wall[0]:.0f}  median {wall[1]:.0f}  "
                  f"max {wall[2]:.0f}")
            print(f"  peak RSS of one process: {rss[name] / 1024:.1f} MB")
        if "baseline" in medians:
            m, b = medians["measured"], medians["baseline"]
            print(f"ratio measured / baseline, medians: {m[0] / b[0]:.2f}x per CPU second, "
                  f"{m[1] / b[1]:.2f}x per wall second")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
