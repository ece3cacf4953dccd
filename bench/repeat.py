#!/usr/bin/env python3
"""Runs a benchmark executable in several fresh processes and reports the
figures the targets are stated in, as min / median / max over the processes.

  bench/repeat.py build-rel/bench/fonttext_bench
  bench/repeat.py build-rel/bench/latency_bench --runs 7
  bench/repeat.py build-rel/bench/sendfile_bench --baseline OLD/bench/sendfile_bench
  bench/repeat.py build-rel/bench/handles_bench

Each process writes its results as JSON (Google Benchmark's --benchmark_out);
a ratio is taken within one process, so that both sides of it saw the same
load. With --baseline, a second executable of the same benchmark (built from
other sources) runs alternately with the first, and each figure is given for
both. Arguments after "--" go to the benchmark processes.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile


def run(exe, extra):
    fd, out = tempfile.mkstemp(prefix="bench-", suffix=".json")
    os.close(fd)
    try:
        proc = subprocess.run([exe, "--benchmark_out=" + out, "--benchmark_out_format=json"] + extra,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=3600)
        if proc.returncode != 0:
            sys.exit(f"{exe} failed (exit {proc.returncode}): "
                     f"{proc.stderr.decode(errors='replace')[-2000:]}")
        with open(out) as f:
            text = f.read()
    finally:
        os.remove(out)
    if not text.strip():
        sys.exit(f"{exe} ran no benchmark; check the --benchmark_filter given after --")
    data = json.loads(text)
    runs = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" or b.get("error_occurred"):
            continue
        name = b["run_name"].split("/min_time")[0].split("/iterations")[0]
        runs[name] = b
    return runs


def fonttext_figures(r):
    out = {}
    for rot in (0, 90, 180, 270):
        for n in (8, 24, 96):
            case = f"{rot}/{n}"
            a1, a8 = r.get(f"BM_BarePango/{case}"), r.get(f"BM_BarePango8/{case}")
            for t, label in ((0, "sink"), (1, "TCP")):
                ours = r.get(f"BM_Windowsfont/{t}/{case}")
                if ours and a1:
                    out[f"windowsfont {label} / bare one-bit, rotation {rot}, {n} chars (CPU)"] = \
                        ours["cpu_time"] / a1["cpu_time"]
                if ours and a8:
                    out[f"windowsfont {label} / bare 8-bit, rotation {rot}, {n} chars (CPU)"] = \
                        ours["cpu_time"] / a8["cpu_time"]
    ours = r.get("BM_Windowsfont/0/0/24")
    for arg, label in (("1", "warm"), ("0", "cold")):
        full = r.get(f"BM_FullCanvas/{arg}")
        if ours and full:
            out[f"full-canvas ({label}) time / windowsfont sink 24 chars (CPU)"] = \
                full["cpu_time"] / ours["cpu_time"]
            out[f"full-canvas ({label}) time / windowsfont sink 24 chars (real)"] = \
                full["real_time"] / ours["real_time"]
    for name, b in r.items():
        if name.startswith("BM_Windowsfont/"):
            out[f"{name} CPU us"] = b["cpu_time"] / 1000.0
    return out


def latency_figures(r):
    out = {}
    ours = r.get("BM_LibraryRound")
    for arg, label in (("0", "Nagle on"), ("1", "Nagle off")):
        plain = r.get(f"BM_PlainSocketRound/{arg}")
        if ours and plain:
            out[f"library / plain socket ({label}), CPU per round"] = ours["cpu_time"] / plain["cpu_time"]
    if ours:
        out["library CPU per round, ms"] = ours["cpu_time"]
        out["library time above the 50 ms pause, ms"] = ours["above_pause_ms"]
    return out


def sendfile_figures(r):
    out = {}
    ours, raw = r.get("BM_sendfile"), r.get("BM_raw_write_loop")
    if ours and raw:
        out["sendfile / raw loop, throughput"] = raw["real_time"] / ours["real_time"]
        out["sendfile / raw loop, sender CPU"] = ours["cpu_time"] / raw["cpu_time"]
    if ours:
        out["sendfile peak RSS, MB"] = ours["peak_rss_MB"]
        out["sendfile time per 200 MB, ms"] = ours["real_time"]
    if raw:
        out["raw loop peak RSS, MB"] = raw["peak_rss_MB"]
    kernel = r.get("BM_kernel_sendfile_reference")
    if kernel and raw:
        out["kernel sendfile(2) alone / raw loop, throughput"] = raw["real_time"] / kernel["real_time"]
        out["kernel sendfile(2) alone / raw loop, sender CPU"] = kernel["cpu_time"] / raw["cpu_time"]
    return out


def handles_figures(r):
    out = {}
    for name, label in (("BM_HandleRoundTrip/printers:1/silent:0/pooled:0", "one handle"),
                        ("BM_HandleRoundTrip/printers:32/silent:0/pooled:0", "32 handles"),
                        ("BM_HandleRoundTrip/printers:32/silent:1/pooled:0", "32 handles, one silent"),
                        ("BM_HandleRoundTrip/printers:32/silent:0/pooled:1",
                         "32 handles, printers on one thread"),
                        ("BM_HandleRoundTrip/printers:32/silent:1/pooled:1",
                         "32 handles, one silent, printers on one thread"),
                        ("BM_LegacySlotRoundTrip/slots:1/silent:0", "legacy, one slot"),
                        ("BM_LegacySlotRoundTrip/slots:5/silent:1", "legacy, 5 slots, one silent")):
        b = r.get(name)
        if b:
            out[f"round trip p50 ms, {label}"] = b["p50_ms"]
            out[f"round trip p99 ms, {label}"] = b["p99_ms"]
    one, eight = r.get("BM_SlowReaders/printers:1"), r.get("BM_SlowReaders/printers:8")
    if one and eight:
        out["slow readers: 8 printers / one, throughput"] = \
            eight["bytes_per_second"] / one["bytes_per_second"]
        out["slow readers: one printer, MB/s"] = one["bytes_per_second"] / 1e6
    for reply in ("5", "0"):
        p1, p16 = r.get(f"BM_StatusPoll/threads:1/reply_ms:{reply}"), \
            r.get(f"BM_StatusPoll/threads:16/reply_ms:{reply}")
        if p1 and p16:
            out[f"status polls/s, one handle, {reply} ms printer"] = p1["polls_per_s"]
            out[f"status polls/s, 16 handles, {reply} ms printer"] = p16["polls_per_s"]
            out[f"status polling: 16 handles / one, {reply} ms printer"] = \
                p16["polls_per_s"] / p1["polls_per_s"]
    for threads in ("1", "5"):
        b = r.get(f"BM_LegacyStatusPoll/threads:{threads}/reply_ms:5")
        if b:
            out[f"legacy status polls/s, {threads} slots"] = b["polls_per_s"]
    b = r.get("BM_QueriesResident")
    if b:
        out["resident growth over 100,000 query pairs, KB"] = b["rss_growth_kb"]
    for name, label in (("BM_HandleOpenStatusClose", "handle open+status+close, ms"),
                        ("BM_LegacyOpenStatusClose", "legacy open+status+close, ms"),
                        ("BM_CliStatus", "paloma status process, ms")):
        b = r.get(name)
        if b:
            out[label] = b["real_time"]
    return out


def figures(runs):
    names = " ".join(runs)
    if "BM_HandleRoundTrip" in names:
        return handles_figures(runs)
    if "BM_Windowsfont" in names:
        return fonttext_figures(runs)
    if "BM_LibraryRound" in names:
        return latency_figures(runs)
    if "BM_sendfile" in names:
        return sendfile_figures(runs)
    return {f"{n} CPU": b["cpu_time"] for n, b in runs.items()}


def main():
    argv = sys.argv[1:]
    extra = []
    if "--" in argv:
        extra = argv[argv.index("--") + 1:]
        argv = argv[:argv.index("--")]
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("exe")
    ap.add_argument("--baseline", help="the same benchmark built from other sources")
    ap.add_argument("--runs", type=int, default=5, help="processes per executable (default 5)")
    args = ap.parse_args(argv)
    if args.runs < 1:
        ap.error("--runs needs at least 1 process")
    exes = [("measured", args.exe)] + ([("baseline", args.baseline)] if args.baseline else [])
    for _, exe in exes:
        if not (os.path.isfile(exe) and os.access(exe, os.X_OK)):
            sys.exit(f"{exe} is not an executable; build the benchmarks with "
                     "cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release -DPALOMA_BENCH=ON "
                     "-DPALOMA_TESTS=OFF && cmake --build build-rel")
    per = {label: [] for label, _ in exes}
    for _ in range(args.runs):
        for label, exe in exes:
            per[label].append(figures(run(exe, extra)))
    keys = list(per["measured"][0].keys())
    if not keys:
        sys.exit(f"{args.exe} reported no figures: every run failed or none was selected; "
                 "run it alone to see why")
    width = max(len(k) for k in keys)
    print(f"{'figure':{width}}  " + "  ".join(f"{label + ' min / median / max':>30}" for label, _ in exes))
    for k in keys:
        cells = []
        for label, _ in exes:
            vals = [p[k] for p in per[label] if k in p]
            cells.append(f"{min(vals):9.3f} {statistics.median(vals):9.3f} {max(vals):9.3f}"
                         if vals else f"{'-':>29}")
        print(f"{k:{width}}  " + "  ".join(f"{c:>30}" for c in cells))


if __name__ == "__main__":
    main()
