#!/usr/bin/env python3
"""The live preview in a real browser.

Starts paloma-vprinter with --http, opens its page in headless Chromium (driven
over the DevTools protocol on a pipe: no port, nothing downloaded), then:
  1. a label printed with the SDK appears on the open page within 2 s, without
     a reload, and the picture the page shows has the dots of the PNG on disk;
  2. a stream with an error shows the error, on its label and in the problems;
  3. ticking "paper empty" on the page makes the SDK's status query answer
     "04"; "Ready" makes it "00" again.
Exit 0 when all pass, 1 on a failure, 77 (skipped) when Chromium is missing.
"""
import argparse
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import zlib

SKIP = 77


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)


def wait_for(what, fn, timeout):
    """Calls fn until it returns a true value; at most `timeout` seconds."""
    end = time.monotonic() + timeout
    while True:
        value = fn()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure(f"{what}: not within {timeout} s")
        time.sleep(0.05)


def read_png_dots(path):
    """The PNG's dots as rows of booleans (True: black). Greyscale and RGB(A)."""
    data = open(path, "rb").read()
    check(data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG")
    pos, idat, ihdr = 8, b"", None
    while pos < len(data):
        length = int.from_bytes(data[pos:pos + 4], "big")
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            ihdr = body
        elif kind == b"IDAT":
            idat += body
        elif kind == b"PLTE":
            raise Failure("a palette PNG; the printer writes grey levels")
        pos += 12 + length
    width, height = int.from_bytes(ihdr[0:4], "big"), int.from_bytes(ihdr[4:8], "big")
    depth, colour, interlace = ihdr[8], ihdr[9], ihdr[12]
    check(interlace == 0, "an interlaced PNG")
    channels = {0: 1, 2: 3, 4: 2, 6: 4}[colour]
    bits_per_pixel = depth * channels
    row_bytes = (width * bits_per_pixel + 7) // 8
    step = max(1, bits_per_pixel // 8)
    raw = zlib.decompress(idat)
    rows, prev = [], bytearray(row_bytes)
    for y in range(height):
        start = y * (row_bytes + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + row_bytes])
        for i in range(row_bytes):
            a = line[i - step] if i >= step else 0
            b = prev[i]
            c = prev[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        row = []
        for x in range(width):
            if depth < 8:
                bit = x * depth
                v = (line[bit // 8] >> (8 - depth - bit % 8)) & ((1 << depth) - 1)
                grey = v * 255 // ((1 << depth) - 1)
            else:
                grey = line[x * step]  # the first channel (grey, or red)
            row.append(grey < 128)
        rows.append(row)
    return width, height, rows


class Chromium:
    """Headless Chromium driven over --remote-debugging-pipe (fd 3 in, fd 4 out)."""

    def __init__(self, binary, profile):
        to_r, to_w = os.pipe()
        from_r, from_w = os.pipe()
        # The child's ends, out of the way of 3 and 4, where the child wants them.
        to_r2, from_w2 = fcntl_dup(to_r), fcntl_dup(from_w)
        os.close(to_r)
        os.close(from_w)

        def child_fds():
            os.dup2(to_r2, 3)
            os.dup2(from_w2, 4)

        args = [binary, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                "--no-first-run", "--disable-background-networking", "--disable-component-update",
                "--disable-sync", "--disable-dev-shm-usage", "--remote-debugging-pipe",
                "--user-data-dir=" + profile, "about:blank"]
        self.proc = subprocess.Popen(args, pass_fds=(3, 4), preexec_fn=child_fds,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=open(os.path.join(profile, "chromium.log"), "wb"))
        os.close(to_r2)
        os.close(from_w2)
        self.out, self.inp = to_w, from_r
        self.buffer = b""
        self.next_id = 0
        self.session = None

    def call(self, method, params=None, timeout=10, session=True):
        self.next_id += 1
        msg = {"id": self.next_id, "method": method, "params": params or {}}
        if session and self.session:
            msg["sessionId"] = self.session
        os.write(self.out, json.dumps(msg).encode() + b"\0")
        end = time.monotonic() + timeout
        while True:
            while b"\0" in self.buffer:
                raw, self.buffer = self.buffer.split(b"\0", 1)
                reply = json.loads(raw)
                if reply.get("id") == self.next_id:
                    if "error" in reply:
                        raise Failure(f"{method}: {reply['error']}")
                    return reply["result"]
            left = end - time.monotonic()
            if left <= 0:
                raise Failure(f"the browser did not answer {method} within {timeout} s")
            ready, _, _ = select.select([self.inp], [], [], left)
            if ready:
                chunk = os.read(self.inp, 1 << 20)
                if not chunk:
                    raise Failure("the browser ended")
                self.buffer += chunk

    def open_page(self, url):
        target = self.call("Target.createTarget", {"url": "about:blank"}, session=False)
        attached = self.call("Target.attachToTarget",
                             {"targetId": target["targetId"], "flatten": True}, session=False)
        self.session = attached["sessionId"]
        self.call("Page.enable")
        self.call("Page.navigate", {"url": url})

    def js(self, expression, timeout=10):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "awaitPromise": True}, timeout=timeout)
        if "exceptionDetails" in result:
            raise Failure(f"script failed: {expression[:80]}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def close(self):
        try:
            self.call("Browser.close", session=False, timeout=3)
        except Exception:
            pass
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=5)
        os.close(self.out)
        os.close(self.inp)


def fcntl_dup(fd):
    import fcntl
    return fcntl.fcntl(fd, fcntl.F_DUPFD, 10)


class VPrinter:
    def __init__(self, binary, out_dir):
        self.proc = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--http", "127.0.0.1:0",
                                      "--out", out_dir], stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self.lines = []
        self.http_port = None
        self.tcp = int(self.wait_line("paloma-vprinter: listening on 127.0.0.1:"))
        self.page = "http://127.0.0.1:" + self.http_port + "/"

    def wait_line(self, prefix, timeout=15):
        end = time.monotonic() + timeout
        pending = b""
        while time.monotonic() < end:
            for line in self.lines:
                if line.startswith("paloma-vprinter: preview on http://127.0.0.1:"):
                    self.http_port = line.rsplit(":", 1)[1].rstrip("/")
                if line.startswith(prefix):
                    return line[len(prefix):]
            ready, _, _ = select.select([self.proc.stdout], [], [], 0.2)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 4096)
                if not chunk:
                    raise Failure("the printer ended: " + " | ".join(self.lines))
                pending += chunk
                *complete, pending = pending.split(b"\n")
                self.lines += [c.decode(errors="replace") for c in complete]
        raise Failure(f"the printer did not say '{prefix}'")

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=5)


def sdk(client, port, what):
    done = subprocess.run([client, "127.0.0.1", str(port), what], capture_output=True,
                          timeout=30, text=True)
    return done.stdout.strip()


LABEL_DOTS_JS = """(async () => {
  const img = document.querySelector('#labels .label img');
  if (!img.complete || !img.naturalWidth) await new Promise((ok, bad) => { img.onload = ok; img.onerror = bad; });
  const c = document.createElement('canvas');
  c.width = img.naturalWidth; c.height = img.naturalHeight;
  const g = c.getContext('2d');
  g.drawImage(img, 0, 0);
  const d = g.getImageData(0, 0, c.width, c.height).data;
  const black = [];
  for (let i = 0; i < d.length; i += 4) black.push(d[i] < 128 ? 1 : 0);
  const shown = img.getBoundingClientRect();
  return {w: c.width, h: c.height, dots: black.join(''), shownWidth: shown.width};
})()"""


def run(args, work):
    out_dir = os.path.join(work, "labels")
    profile = os.path.join(work, "profile")
    os.makedirs(profile)
    printer = VPrinter(args.vprinter, out_dir)
    browser = None
    try:
        browser = Chromium(args.chromium, profile)
        browser.open_page(printer.page)
        wait_for("the page's event stream", lambda: browser.js("window.palomaLive === true"), 15)
        browser.js("window.notReloaded = 'yes'")

        # 1. A label printed with the SDK appears without a reload.
        check(sdk(args.client, printer.tcp, "label") == "ok", "the SDK could not print")
        printed = time.monotonic()
        wait_for("the label on the page", lambda: browser.js(
            "document.querySelectorAll('#labels .label').length") == 1, 2.0)
        print(f"label shown {time.monotonic() - printed:.2f} s after the SDK printed it")
        check(browser.js("window.notReloaded") == "yes", "the page was reloaded")
        png = os.path.join(out_dir, "label-000001.png")
        width, height, rows = read_png_dots(png)
        shown = browser.js(LABEL_DOTS_JS)
        check((shown["w"], shown["h"]) == (width, height),
              f"the page's picture is {shown['w']} x {shown['h']}, the PNG {width} x {height}")
        expected = "".join("1" if dot else "0" for row in rows for dot in row)
        differ = sum(1 for a, b in zip(shown["dots"], expected) if a != b)
        check(differ == 0, f"{differ} dots of the page's picture differ from the PNG")
        check(expected.count("1") > 500, "the label is nearly blank")
        check(shown["shownWidth"] >= 200, f"the picture is shown {shown['shownWidth']} px wide")
        facts = browser.js("document.querySelector('#labels .label .facts').textContent")
        for part in ("50.0 × 30.0 mm", "400 × 240 dots", "203 dpi", "tcp#", "0 errors"):
            check(part in facts, f"the label's facts lack '{part}': {facts}")
        check(browser.js("document.querySelector('#labels .label .png-link').getAttribute('href')")
              == "/labels/label-000001.png", "the PNG link")

        # 2. A stream with an error shows the error.
        with socket.create_connection(("127.0.0.1", printer.tcp), timeout=5) as s:
            s.sendall(b"SIZE 30 mm,20 mm\r\nCLS\r\nFROBNICATE 1,2\r\nPRINT 1\r\n")
        wait_for("the second label", lambda: browser.js(
            "document.querySelectorAll('#labels .label').length") == 2, 2.0)
        errors = browser.js("[...document.querySelectorAll('#labels .label:first-child .log li.error')]"
                            ".map(li => li.textContent)")
        check(len(errors) == 1 and "unknown command" in errors[0], f"error lines: {errors}")
        check(browser.js("document.querySelector('#labels .label:first-child .errors').textContent")
              == "1 error", "the error count of the label")
        check("unknown command" in browser.js("document.querySelector('#problems').textContent"),
              "the problems list")

        # 3. The status set on the page is what the SDK reads.
        check(sdk(args.client, printer.tcp, "status") == "00", "the printer did not start ready")
        browser.js("document.querySelector('#status-form input[value=\"4\"]').click()")
        wait_for("the page's status", lambda: browser.js("document.body.dataset.status") == "4", 5)
        status = sdk(args.client, printer.tcp, "status")
        check(status == "04", f"after 'paper empty' on the page the SDK read {status}")
        check(browser.js("document.querySelector('#status-words').textContent") == "paper empty",
              "the status in words")
        browser.js("document.querySelector('#status-ready').click()")
        wait_for("the page's status", lambda: browser.js("document.body.dataset.status") == "0", 5)
        status = sdk(args.client, printer.tcp, "status")
        check(status == "00", f"after 'Ready' on the page the SDK read {status}")
        if args.screenshot:
            browser.call("Emulation.setDeviceMetricsOverride",
                         {"width": 1200, "height": 900, "deviceScaleFactor": 1, "mobile": False})
            shot = browser.call("Page.captureScreenshot", {"format": "png"})
            import base64
            with open(args.screenshot, "wb") as f:
                f.write(base64.b64decode(shot["data"]))
    finally:
        if browser:
            browser.close()
        printer.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vprinter", required=True)
    parser.add_argument("--client", required=True)
    parser.add_argument("--screenshot", help="save the page as a PNG at the end")
    parser.add_argument("--chromium", default=os.environ.get("CHROMIUM", "/usr/bin/chromium"))
    args = parser.parse_args()
    if not (os.path.isfile(args.chromium) and os.access(args.chromium, os.X_OK)):
        found = shutil.which("chromium")
        if not found:
            print(f"SKIPPED: no Chromium at {args.chromium} nor on PATH; "
                  "install it with scripts/deps.sh (Debian package chromium)")
            return SKIP
        args.chromium = found
    work = tempfile.mkdtemp(prefix="vprinter-browser-")
    try:
        run(args, work)
    except Failure as e:
        print(f"FAILED: {e}")
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
