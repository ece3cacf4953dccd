#!/usr/bin/env python3
"""What a job through the printer application costs, beside PALOMA's own
picture path for the same picture.

  job_bench.py --app PATH --vprinter PATH --cli PATH --picture-path PATH
               [--runs N] [--jobs M]

A 4 x 6 in picture at 203 dpi (a QR code, a one-dot checkerboard, bars) is
printed to the virtual printer:
  - ipp:     ipptool Print-Job of the PNG to paloma-printer-app (socket:// device);
  - picture: picture_path (bench/picture_path.cc): a printer handle, SIZE, CLS,
             paloma_image_file, PRINT, paloma_close (the library's own path);
  - cli:     `paloma image PICTURE --to tcp://... --print 1` (the same through
             the command-line tool).
Each time is from the start of the submitting command to the label's PNG
appearing in the virtual printer's output (its last byte taken and drawn),
min / median / max over N runs. Then M jobs in a row, with the application's
resident memory after the 10th and the last."""
import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import pictures  # noqa: E402
import printer_app_test as t  # noqa: E402


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def timed_label(rig, command):
    before = set(rig.labels())
    start = time.monotonic()
    subprocess.run(command, check=True, capture_output=True, timeout=120)
    while True:
        new = set(rig.labels()) - before
        if new:
            return time.monotonic() - start, sorted(new)[0]
        if time.monotonic() - start > 120:
            raise RuntimeError("no label from %s" % command[0])
        time.sleep(0.002)


def figures(values):
    ms = sorted(v * 1000 for v in values)
    return "%.1f / %.1f / %.1f ms" % (ms[0], statistics.median(ms), ms[-1])


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--app", required=True)
    p.add_argument("--vprinter", required=True)
    p.add_argument("--cli", required=True)
    p.add_argument("--picture-path", required=True)
    p.add_argument("--runs", type=int, default=10)
    p.add_argument("--jobs", type=int, default=50)
    a = p.parse_args()
    t.APP, t.VPRINTER = a.app, a.vprinter
    rig = t.Rig()
    try:
        c = pictures.Canvas(t.LABEL_W, t.LABEL_H)
        c.draw_modules(pictures.qr_modules("PALOMA label 4711"), 100, 100, 16)
        c.checkerboard(40, 900, 200, 120)
        c.fill(0, 1100, t.LABEL_W, 8)
        png = os.path.join(rig.dir, "label.png")
        with open(png, "wb") as f:
            f.write(pictures.png_bytes(c))
        test = os.path.join(rig.dir, "print.test")
        with open(test, "w") as f:
            f.write(t.PRINT_JOB % {"operation": "", "job": ""})
        ipp = ["ipptool", "-T", "30", "-f", png, "-d", "format=image/png", rig.uri, test]
        tcp = "tcp://127.0.0.1:%d" % rig.vp_port
        picture = [a.picture_path, tcp, png, "101.6", "152.4"]
        cli = [a.cli, "image", png, "--to", tcp, "--print", "1"]

        # One of each first (warm caches, and the bytes for the raw run).
        timed_label(rig, ipp)
        timed_label(rig, picture)

        times = {"ipp": [], "picture": [], "cli": []}
        for _ in range(a.runs):
            for name, command in (("ipp", ipp), ("picture", picture), ("cli", cli)):
                times[name].append(timed_label(rig, command)[0])
        for name in ("ipp", "picture", "cli"):
            print("%-8s %s" % (name, figures(times[name])))
        ratio = statistics.median(times["ipp"]) / statistics.median(times["picture"])
        print("ipp / picture (medians): %.2f (target at most 2)" % ratio)

        rss = []
        for i in range(a.jobs):
            timed_label(rig, ipp)
            time.sleep(0.05)
            rss.append(rss_kib(rig.app.pid))
        tenth = rss[min(9, len(rss) - 1)]
        print("resident memory after job 10: %d KiB, after job %d: %d KiB (%+d KiB)"
              % (tenth, a.jobs, rss[-1], rss[-1] - tenth))
    finally:
        rig.close()


if __name__ == "__main__":
    main()
