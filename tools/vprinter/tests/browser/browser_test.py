#!/usr/bin/env python3
"""The live preview in a real browser.

Starts paloma-vprinter with --http, opens its page in headless Chromium (driven
over the DevTools protocol on a pipe: no port, nothing downloaded), then:
  1. a label printed with the SDK appears on the open page within 2 s, without
     a reload, and the picture the page shows has the dots of the PNG on disk;
  2. a stream with an error shows the error, on its label and in the problems;
  3. ticking "paper empty" on the page makes the SDK's status query answer
     "04"; "Ready" makes it "00" again;
  4. a label built over three connections lists all its commands, readable;
     clicking one outlines the dots it drew; an unknown command is outlined on
     the page and absent from the PNG; at 1:1 the screenshot has the PNG's
     dots and its Code 128 decodes (zbarimg), at 2x each dot is 2 x 2 pixels,
     fitted smaller it is smoothed; the rulers and the gap are at scale;
  5. a command file pasted or chosen on the page prints; the list filters and
     clears, for a reloaded page too.
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
    width, height, rows = read_png_grey(path)
    return width, height, [[grey < 128 for grey in row] for row in rows]


def read_png_grey(path):
    """The PNG's pixels as rows of grey levels 0-255 (the first channel)."""
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
            row.append(grey)
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


def screenshot(browser, selector, path):
    """Saves the element's pixels on the screen (one CSS pixel one pixel) as a PNG."""
    import base64
    r = browser.js(f"""(() => {{ const e = document.querySelector({json.dumps(selector)});
      e.scrollIntoView({{block: 'start', inline: 'start'}});
      const b = e.getBoundingClientRect();
      return {{x: b.left + window.scrollX, y: b.top + window.scrollY, w: b.width, h: b.height}}; }})()""")
    shot = browser.call("Page.captureScreenshot", {
        "format": "png", "captureBeyondViewport": True,
        "clip": {"x": r["x"], "y": r["y"], "width": r["w"], "height": r["h"], "scale": 1}})
    with open(path, "wb") as f:
        f.write(base64.b64decode(shot["data"]))
    return read_png_grey(path)


def send_raw(port, data):
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(data)
        s.shutdown(socket.SHUT_WR)
        s.settimeout(5)
        while s.recv(4096):
            pass


def card_count(browser):
    return browser.js("document.querySelectorAll('#labels .label').length")


def label_json(browser, number):
    return browser.js(f"(() => {{ const e = document.querySelector('#label-{number}'); "
                      f"return e && e.paloma; }})()")


def check_card(browser, printer, out_dir, work, args):
    """4: one label over three connections, its commands, outlines, zoom, rulers, gap."""
    before = card_count(browser)
    send_raw(printer.tcp, b'SIZE 50 mm,30 mm\r\nGAP 3 mm,0\r\nCLS\r\nTEXT 20,20,"3",0,1,1,"Hello"\r\n')
    send_raw(printer.tcp, b'BARCODE 20,80,"128",60,1,0,2,2,"PALOMA-0001"\r\nFROB 250,20\r\n'
                          b'~!T\r\n')
    send_raw(printer.tcp, b"PRINT 1\r\n")
    wait_for("the label of three connections", lambda: card_count(browser) == before + 1, 2.0)
    card = "#labels .label:first-child"
    number = browser.js(f"document.querySelector('{card}').dataset.number")
    lines = browser.js(f"[...document.querySelectorAll('{card} .commands li')].map(li => li.textContent)")
    check(len(lines) == 7, f"the card lists {len(lines)} commands: {lines}")
    endpoints = [line.split(" ", 1)[0] for line in lines]
    check(len(set(endpoints)) == 3 and endpoints[0] == endpoints[3] and endpoints[4] == endpoints[5],
          f"the commands' connections: {endpoints}")
    for line, part in zip(lines, ["SIZE 50 mm,30 mm", "GAP 3 mm,0", "CLS", 'TEXT 20,20,"3",0,1,1,"Hello"',
                                  'BARCODE 20,80,"128",60,1,0,2,2,"PALOMA-0001"', "FROB 250,20",
                                  "PRINT 1"]):
        check(part in line and "{" not in line, f"a command line reads '{line}', not '{part}'")
    check("unknown command" in lines[5], f"the error of FROB: {lines[5]}")

    png = os.path.join(out_dir, f"label-{int(number):06d}.png")
    width, height, dots = read_png_dots(png)
    check((width, height) == (400, 240), f"the label is {width} x {height}")
    expected = [[1 if d else 0 for d in row] for row in dots]

    # 1:1: the screenshot is the PNG, and the barcode in it decodes.
    browser.js(f"document.querySelector('{card} .zoom-bar [data-zoom=\"1\"]').click()")
    check(browser.js(f"getComputedStyle(document.querySelector('{card} img')).imageRendering")
          == "pixelated", "1:1 is drawn without smoothing")
    browser.js(f"document.querySelector('{card} .overlay').style.visibility = 'hidden'")
    shot = os.path.join(work, "one-to-one.png")
    w, h, grey = screenshot(browser, f"{card} img", shot)
    check((w, h) == (400, 240), f"at 1:1 the picture is {w} x {h} pixels on the screen")
    differ = sum(1 for y in range(h) for x in range(w) if (grey[y][x] < 128) != bool(expected[y][x]))
    check(differ == 0, f"at 1:1, {differ} pixels of the screen differ from the PNG's dots")
    zbar = shutil.which("zbarimg")
    check(zbar, "zbarimg is missing: install it with scripts/deps.sh (Debian package zbar-tools)")
    done = subprocess.run([zbar, "-q", "--raw", shot], capture_output=True, text=True, timeout=30)
    check(done.stdout.strip() == "PALOMA-0001", f"zbarimg read '{done.stdout.strip()}' at 1:1")

    # On a screen of two pixels a CSS pixel (or the browser zoomed to 200 %),
    # 1:1 is still one dot a pixel.
    browser.call("Emulation.setDeviceMetricsOverride",
                 {"width": 1700, "height": 1000, "deviceScaleFactor": 2, "mobile": False})
    wait_for("1:1 at a pixel ratio of 2", lambda: browser.js(
        f"document.querySelector('{card} img').getBoundingClientRect().width") == 200, 5.0)
    w, h, grey = screenshot(browser, f"{card} img", os.path.join(work, "one-to-one-hidpi.png"))
    check((w, h) == (400, 240), f"at 1:1 on a screen of ratio 2 the picture is {w} x {h} pixels")
    differ = sum(1 for y in range(h) for x in range(w) if (grey[y][x] < 128) != bool(expected[y][x]))
    check(differ == 0, f"at 1:1 on a screen of ratio 2, {differ} pixels differ from the PNG's dots")
    browser.call("Emulation.setDeviceMetricsOverride",
                 {"width": 1700, "height": 1000, "deviceScaleFactor": 1, "mobile": False})
    wait_for("1:1 at a pixel ratio of 1", lambda: browser.js(
        f"document.querySelector('{card} img').getBoundingClientRect().width") == 400, 5.0)

    # The rulers at 1:1: 8 dots a millimetre at 203 dpi.
    ruler = browser.js(f"""(() => {{ const c = document.querySelector('{card} .ruler-top');
      const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      const dark = (x, y) => d[(y * c.width + x) * 4] < 100;
      return {{w: c.width, h: c.height, mm10: dark(80, 1), mm10half: dark(84, 1),
              dots100: dark(100, c.height - 2), dots110: dark(110, c.height - 2), dots105: dark(105, c.height - 2)}}; }})()""")
    check(ruler["w"] == 400, f"the top ruler is {ruler['w']} pixels long, the label 400")
    check(ruler["mm10"] and not ruler["mm10half"], f"the 10 mm tick of the ruler: {ruler}")
    check(ruler["dots100"] and ruler["dots110"] and not ruler["dots105"], f"the dot ticks: {ruler}")
    gap = browser.js(f"document.querySelector('{card} .gap-after').getBoundingClientRect().height")
    check(abs(gap - 24) < 0.01, f"a gap of 3 mm is {gap} pixels at 1:1, not 24")
    check(browser.js(f"document.querySelector('{card} .gap-note').textContent") ==
          "gap 3.0 mm between labels", "the gap's note")

    # The unknown command: outlined on the page, nothing of it in the PNG.
    mark = browser.js(f"""(() => {{ const m = document.querySelector('{card} .overlay .mark');
      const i = document.querySelector('{card} img').getBoundingClientRect(); const b = m.getBoundingClientRect();
      return {{text: m.textContent, x: b.left - i.left, y: b.top - i.top, w: b.width, h: b.height}}; }})()""")
    check(mark["text"] == "FROB" and (mark["x"], mark["y"]) == (250, 20) and mark["w"] > 20,
          f"the outline of the unknown command: {mark}")
    inked = sum(expected[y][x] for y in range(20, 20 + int(mark["h"]))
                for x in range(250, min(400, 250 + int(mark["w"]))))
    check(inked == 0, f"{inked} dots of the unknown command's outline are in the PNG")
    browser.js(f"document.querySelector('{card} .overlay').style.visibility = ''")

    # Clicking the barcode's line outlines exactly its dots.
    browser.js(f"document.querySelectorAll('{card} .commands li')[4].click()")
    picked = browser.js(f"""(() => {{ const p = document.querySelector('{card} .overlay .picked');
      const i = document.querySelector('{card} img').getBoundingClientRect(); const b = p.getBoundingClientRect();
      return [b.left - i.left, b.top - i.top, b.width, b.height]; }})()""")
    ys = [y for y in range(70, height) if any(expected[y])]
    xs = [x for x in range(width) if any(expected[y][x] for y in ys)]
    want = [min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1]
    check(picked == want, f"the barcode's outline is {picked}, its dots {want}")
    check(browser.js(f"document.querySelectorAll('{card} .commands li')[4].classList.contains('picked')"),
          "the picked line is marked")
    browser.js(f"document.querySelectorAll('{card} .commands li')[1].click()")
    check(browser.js(f"document.querySelector('{card} .overlay .picked') === null && "
                     f"!document.querySelector('{card} .picked-note').hidden"),
          "a command that drew nothing says so and outlines nothing")
    browser.js(f"document.querySelectorAll('{card} .commands li')[1].click()")

    # 2x: each dot is 2 x 2 pixels, not smoothed.
    browser.js(f"document.querySelector('{card} .zoom-bar [data-zoom=\"2\"]').click()")
    browser.js(f"document.querySelector('{card} .overlay').style.visibility = 'hidden'")
    w, h, grey = screenshot(browser, f"{card} img", os.path.join(work, "twice.png"))
    browser.js(f"document.querySelector('{card} .overlay').style.visibility = ''")
    check((w, h) == (800, 480), f"at 2x the picture is {w} x {h}")
    differ = sum(1 for y in range(h) for x in range(w) if (grey[y][x] < 128) != bool(expected[y // 2][x // 2]))
    blurred = sum(1 for row in grey for v in row if 40 < v < 215)
    check(differ == 0 and blurred == 0, f"at 2x, {differ} pixels differ from the dots, {blurred} are grey")
    gap = browser.js(f"document.querySelector('{card} .gap-after').getBoundingClientRect().height")
    check(abs(gap - 48) < 0.01, f"a gap of 3 mm is {gap} pixels at 2x, not 48")
    browser.js(f"document.querySelector('{card} .zoom-bar [data-zoom=\"4\"]').click()")
    check(browser.js(f"document.querySelector('{card} img').getBoundingClientRect().width") == 1600,
          "at 4x the picture is 1600 pixels wide")

    # Fitted smaller, a large label is smoothed, not dropped to every other dot.
    send_raw(printer.tcp, b'SIZE 100 mm,150 mm\r\nCLS\r\nBARCODE 40,40,"128",300,1,0,2,2,"PALOMA-0002"\r\n'
                          b'PRINT 1\r\n')
    wait_for("the large label", lambda: card_count(browser) == before + 2, 5.0)
    browser.js(f"document.querySelector('{card} .zoom-bar [data-zoom=\"fit\"]').click()")
    fitted = browser.js(f"""(() => {{ const i = document.querySelector('{card} img');
      return {{w: i.getBoundingClientRect().width, r: getComputedStyle(i).imageRendering}}; }})()""")
    check(fitted["w"] < 800 and fitted["r"] == "auto", f"the fitted large label: {fitted}")
    wait_for("the fitted picture loaded",
             lambda: browser.js(f"document.querySelector('{card} img').complete"), 5)
    _, _, grey = screenshot(browser, f"{card} img", os.path.join(work, "fitted.png"))
    blurred = sum(1 for row in grey for v in row if 40 < v < 215)
    check(blurred > 100, f"only {blurred} grey pixels: the shrunk label is not smoothed")


def set_file(browser, selector, path):
    doc = browser.call("DOM.getDocument")
    node = browser.call("DOM.querySelector", {"nodeId": doc["root"]["nodeId"], "selector": selector})
    browser.call("DOM.setFileInputFiles", {"nodeId": node["nodeId"], "files": [path]})


def check_list(browser, printer, work):
    """5: printing from the page, filtering and clearing the list."""
    before = card_count(browser)
    browser.js("document.querySelector('#print-box').open = true")
    browser.js("""document.querySelector('#commands').value =
      'SIZE 30 mm,20 mm\\nCLS\\nTEXT 10,10,"3",0,1,1,"pasted"\\n~!T\\n'""")
    browser.js("document.querySelector('#send-commands').click()")
    wait_for("the pasted label", lambda: card_count(browser) == before + 1, 5.0)
    result = wait_for("the page's answer", lambda: browser.js(
        "(t => t.includes('label') && t)(document.querySelector('#send-result').textContent)"), 5.0)
    check(result.startswith("page#") and "1 label, 0 errors" in result and
          result.endswith("the printer answered: PALOMA VP-203"), f"the answer: {result}")
    lines = browser.js("[...document.querySelectorAll('#labels .label:first-child .commands li')]"
                       ".map(li => li.textContent)")
    check(lines[-1].endswith("PRINT 1") and lines[-1].startswith("page#"),
          f"PRINT 1 added to a file without one: {lines}")
    upload = os.path.join(work, "upload.txt")
    with open(upload, "wb") as f:
        f.write(b'SIZE 30 mm,20 mm\r\nCLS\r\nTEXT 10,10,"3",0,1,1,"uploaded"\r\nPRINT 1,2\r\n')
    browser.js("document.querySelector('#commands').value = ''")
    set_file(browser, "#command-file", upload)
    browser.js("document.querySelector('#send-commands').click()")
    wait_for("the uploaded label", lambda: card_count(browser) == before + 2, 5.0)
    lines = browser.js("[...document.querySelectorAll('#labels .label:first-child .commands li')]"
                       ".map(li => li.textContent)")
    check(any('"uploaded"' in line for line in lines) and lines[-1].endswith("PRINT 1,2"),
          f"the uploaded file's commands: {lines}")

    def shown():
        return browser.js("[...document.querySelectorAll('#labels .label')].filter(c => !c.hidden)"
                          ".map(c => c.querySelector('.title').textContent)")
    total = card_count(browser)
    browser.js("(f => { f.value = 'UPLOADED'; f.dispatchEvent(new Event('input')); })"
               "(document.querySelector('#filter'))")
    check(len(shown()) == 1, f"filtered by a word of a command: {shown()}")
    check(browser.js("document.querySelector('#label-count').textContent") == f"(1 of {total})",
          "the count of the filtered list")
    browser.js("(f => { f.value = ''; f.dispatchEvent(new Event('input')); })"
               "(document.querySelector('#filter'))")
    browser.js("document.querySelector('#errors-only').click()")
    with_errors = len(shown())
    check(0 < with_errors < total, f"{with_errors} of {total} labels shown with errors only")
    browser.js("document.querySelector('#errors-only').click()")
    check(len(shown()) == total, "the whole list back")

    browser.js("document.querySelector('#clear-labels').click()")
    wait_for("the list cleared", lambda: card_count(browser) == 0, 5.0)
    browser.call("Page.reload")
    wait_for("the reloaded page's event stream", lambda: browser.js("window.palomaLive === true"), 15)
    time.sleep(0.3)
    check(card_count(browser) == 0, "the cleared labels came back on a reload")
    send_raw(printer.tcp, b"PRINT 1\r\n")
    wait_for("a label after clearing", lambda: card_count(browser) == 1, 2.0)


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
        errors = browser.js("[...document.querySelectorAll('#labels .label:first-child .commands li.error')]"
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
        # 4 and 5, on a screen of one pixel a CSS pixel.
        browser.call("Emulation.setDeviceMetricsOverride",
                     {"width": 1700, "height": 1000, "deviceScaleFactor": 1, "mobile": False})
        check_card(browser, printer, out_dir, work, args)
        check_list(browser, printer, work)
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
