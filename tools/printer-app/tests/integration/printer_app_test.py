#!/usr/bin/env python3
"""paloma-printer-app end to end: the application on loopback, the virtual
printer as its device, jobs sent with ipptool (and lp through CUPS), each
label checked on the virtual printer's PNG.

  printer_app_test.py --app PATH --vprinter PATH [unittest arguments]

Exits 77 (skipped) when ipptool is missing."""
import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pictures  # noqa: E402

APP = VPRINTER = None
DPI = 203
# 4 x 6 in at 203 dpi, the raster the application makes of that label.
LABEL_W, LABEL_H = 812, 1218


def wait_for(predicate, seconds, step=0.1):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Rig:
    """The virtual printer and the application, each on a free loopback port."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="paloma-printer-app-test-")
        self.out = os.path.join(self.dir, "labels")
        self.vp_log = open(os.path.join(self.dir, "vprinter.txt"), "w+")
        self.vp = subprocess.Popen(
            [VPRINTER, "--listen", "127.0.0.1:0", "--http", "127.0.0.1:0", "--out", self.out],
            stdout=self.vp_log, stderr=subprocess.STDOUT)
        self.vp_port = int(self._vp_line(r"listening on 127\.0\.0\.1:(\d+)"))
        self.vp_http = int(self._vp_line(r"preview on http://127\.0\.0\.1:(\d+)/"))
        self.port = free_port()
        self.env = dict(os.environ, SNAP_COMMON=os.path.join(self.dir, "run"))
        os.makedirs(self.env["SNAP_COMMON"])
        self.app_log = os.path.join(self.dir, "app.log")
        self.app_stderr = open(os.path.join(self.dir, "app.stderr"), "w+")
        self.start_app()
        self.printer = "lab"
        self.run_app("add", self.printer, "--device-uri", "socket://127.0.0.1:%d" % self.vp_port,
                     "--driver", "paloma")
        self.uri = "ipp://localhost:%d/ipp/print/%s" % (self.port, self.printer)

    def start_app(self):
        self.app = subprocess.Popen(
            [APP, "server", "-o", "server-port=%d" % self.port,
             "-o", "state-file=" + os.path.join(self.dir, "state"),
             "-o", "spool-directory=" + os.path.join(self.dir, "spool"),
             "-o", "log-file=" + self.app_log, "-o", "log-level=debug",
             "-o", "status-interval=1", "-o", "max-pdf-pages=20"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=self.app_stderr)
        if not wait_for(lambda: self._connects(self.port), 20):
            raise RuntimeError("the application did not listen on port %d" % self.port)

    def stop_app(self):
        try:
            subprocess.run([APP, "shutdown"], env=self.env, timeout=20, capture_output=True)
            self.app.wait(timeout=20)
        except (subprocess.TimeoutExpired, OSError):
            self.app.kill()
            self.app.wait(timeout=10)

    def _vp_line(self, pattern):
        def found():
            self.vp_log.seek(0)
            m = re.search(pattern, self.vp_log.read())
            return m.group(1) if m else None
        value = wait_for(found, 10)
        if not value:
            raise RuntimeError("the virtual printer did not start")
        return value

    @staticmethod
    def _connects(port):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            return False

    def run_app(self, *args):
        r = subprocess.run([APP] + list(args), env=self.env, capture_output=True, text=True,
                           timeout=60)
        if r.returncode != 0:
            raise RuntimeError("paloma-printer-app %s: %s%s" % (" ".join(args), r.stdout, r.stderr))
        return r.stdout

    def set_status(self, byte):
        req = urllib.request.Request(
            "http://127.0.0.1:%d/api/status?status=%d" % (self.vp_http, byte), data=b"",
            method="POST", headers={"X-Paloma-Page": "1"})
        urllib.request.urlopen(req, timeout=5).read()

    def labels(self):
        if not os.path.isdir(self.out):
            return []
        return sorted(f for f in os.listdir(self.out) if re.fullmatch(r"label-\d+\.png", f))

    def close(self):
        self.stop_app()
        self.vp.send_signal(signal.SIGTERM)
        try:
            self.vp.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.vp.kill()
            self.vp.wait(timeout=10)
        self.vp_log.close()
        # A sanitizer's report on the server's standard error is a failure.
        self.app_stderr.seek(0)
        self.server_errors = [line for line in self.app_stderr.read().splitlines()
                              if "Sanitizer" in line or "runtime error" in line]
        self.app_stderr.close()
        if os.environ.get("PALOMA_KEEP_TEST_DIR"):
            print("kept", self.dir, file=sys.stderr)
        else:
            shutil.rmtree(self.dir, ignore_errors=True)


def parse_attributes(text):
    attrs = {}
    for line in text.splitlines():
        m = re.match(r"\s+([a-z0-9-]+) \([^)]*\) = (.*)$", line)
        if m:
            attrs.setdefault(m.group(1), m.group(2))
    return attrs


class PrinterAppTest(unittest.TestCase):
    rig = None

    @classmethod
    def setUpClass(cls):
        cls.rig = Rig()
        cls.tmp = cls.rig.dir

    @classmethod
    def tearDownClass(cls):
        if cls.rig:
            cls.rig.close()
            if cls.rig.server_errors:
                raise AssertionError("the server reported: " + "\n".join(cls.rig.server_errors))

    # ---- helpers

    def ipptool(self, test_text, filename=None, expect_ok=True, **variables):
        path = os.path.join(self.tmp, "case.test")
        with open(path, "w") as f:
            f.write(test_text)
        args = ["ipptool", "-tv", "-T", "30"]
        if filename:
            args += ["-f", filename]
        for k, v in variables.items():
            args += ["-d", "%s=%s" % (k, v)]
        r = subprocess.run(args + [self.rig.uri, path], capture_output=True, text=True, timeout=90)
        if expect_ok:
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return r

    def submit(self, data, fmt, name, job_attrs=""):
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        r = self.ipptool(PRINT_JOB % {"operation": "", "job": job_attrs}, filename=path,
                         format=fmt)
        return int(parse_attributes(r.stdout)["job-id"])

    def job(self, job_id):
        r = self.ipptool(GET_JOB, jobid=job_id)
        return parse_attributes(r.stdout)

    def wait_job_done(self, job_id, seconds=60):
        done = wait_for(lambda: self.job(job_id).get("job-state") in
                        ("completed", "aborted", "canceled"), seconds, 0.3)
        self.assertTrue(done, "job %d did not end: %s" % (job_id, self.job(job_id)))
        return self.job(job_id)

    def printer_attrs(self):
        return parse_attributes(self.ipptool(GET_PRINTER).stdout)

    def print_and_get_label(self, data, fmt, name, job_attrs=""):
        before = set(self.rig.labels())
        job_id = self.submit(data, fmt, name, job_attrs)
        state = self.wait_job_done(job_id)
        self.assertEqual(state["job-state"], "completed", state)
        new = wait_for(lambda: sorted(set(self.rig.labels()) - before), 10)
        self.assertEqual(len(new), 1, "labels made: %s" % new)
        return os.path.join(self.rig.out, new[0])

    def assert_still_serving(self):
        self.assertEqual(self.printer_attrs().get("printer-is-accepting-jobs"), "true")

    def picture(self):
        """A 4 x 6 in picture at 203 dpi: a QR code, one-dot checkerboard, bars."""
        c = pictures.Canvas(LABEL_W, LABEL_H)
        c.draw_modules(pictures.qr_modules("PALOMA label 4711"), 100, 100, 16)
        c.checkerboard(40, 900, 200, 120)
        c.fill(0, 1100, LABEL_W, 8)
        c.fill(LABEL_W - 30, 0, 30, LABEL_H)
        return c

    def assert_label_matches(self, label_path, canvas):
        got = pictures.read_png_black(label_path)
        want = canvas.black_bits()
        self.assertGreaterEqual(len(got), len(want))
        for y, row in enumerate(want):
            if got[y][:len(row)] != row:
                x = next(i for i in range(len(row)) if got[y][i] != row[i])
                self.fail("%s differs from the picture first at (%d, %d)" % (label_path, x, y))
        # Beyond the picture the label stays white.
        self.assertFalse(any(any(r[len(want[0]):]) for r in got))
        self.assertFalse(any(any(r) for r in got[len(want):]))

    def assert_qr(self, label_path, text):
        if not shutil.which("zbarimg"):
            self.skipTest("zbarimg is missing (apt-get install zbar-tools)")
        r = subprocess.run(["zbarimg", "-q", "--raw", label_path], capture_output=True,
                           text=True, timeout=30)
        self.assertIn(text, r.stdout.splitlines(), r.stdout + r.stderr)

    # ---- the cases

    def test_01_printer_attributes(self):
        standard = "/usr/share/cups/ipptool/get-printer-attributes.test"
        if os.path.exists(standard):
            with open(standard) as f:
                self.ipptool(f.read())
        a = self.printer_attrs()
        formats = a["document-format-supported"].split(",")
        for f in ("image/png", "image/jpeg", "image/pwg-raster", "image/urf", "application/pdf"):
            self.assertIn(f, formats)
        media = a["media-supported"].split(",")
        for m in ("oe_4x6-label_4x6in", "om_100x150mm_100x150mm", "om_62x100mm_62x100mm",
                  "om_50x30mm_50x30mm"):
            self.assertIn(m, media)
        self.assertTrue(any(m.startswith("custom_max_") for m in media))
        # The virtual printer answers the dpi query with its 203.
        self.assertEqual(a["printer-resolution-supported"], "203dpi")
        self.assertIn("label", a["printer-kind"])
        self.assertEqual(set(a["media-tracking-supported"].split(",")),
                         {"continuous", "gap", "mark"})

    def test_02_png_matches_the_picture(self):
        c = self.picture()
        label = self.print_and_get_label(pictures.png_bytes(c), "image/png", "pic.png")
        self.assert_label_matches(label, c)
        self.assert_qr(label, "PALOMA label 4711")
        prn = read_file(label[:-4] + ".prn")
        self.assertIn(b"SIZE 101.6 mm,152.4 mm\r\nGAP 3 mm,0 mm\r\nDENSITY 8\r\nSPEED 4\r\nCLS\r\n",
                      prn)
        self.assertTrue(prn.endswith(b"PRINT 1,1\r\n"), prn[-40:])

    def test_03_pwg_raster_one_bit_and_gray_and_apple_raster(self):
        c = self.picture()
        for one_bit in (True, False):
            with self.subTest(one_bit=one_bit):
                label = self.print_and_get_label(pictures.pwg_bytes(c, DPI, one_bit),
                                                 "image/pwg-raster", "pic.pwg")
                self.assert_label_matches(label, c)
        label = self.print_and_get_label(pictures.urf_bytes(c, DPI), "image/urf", "pic.urf")
        self.assert_label_matches(label, c)

    def test_04_jpeg_and_pdf_carry_a_qr_code(self):
        eps = os.path.join(self.tmp, "qr.eps")
        subprocess.run(["qrencode", "-t", "EPS", "-s", "6", "-m", "4", "-o", eps, "JPEG and PDF"],
                       check=True, timeout=20)
        jpg = os.path.join(self.tmp, "qr.jpg")
        pdf = os.path.join(self.tmp, "qr.pdf")
        gs = ["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dEPSCrop"]
        subprocess.run(gs + ["-sDEVICE=jpeggray", "-r203", "-sOutputFile=" + jpg, eps],
                       check=True, timeout=60)
        subprocess.run(gs + ["-sDEVICE=pdfwrite", "-sOutputFile=" + pdf, eps], check=True,
                       timeout=60)
        for path, fmt in ((jpg, "image/jpeg"), (pdf, "application/pdf")):
            with self.subTest(fmt=fmt):
                with open(path, "rb") as f:
                    data = f.read()
                label = self.print_and_get_label(data, fmt, os.path.basename(path))
                self.assert_qr(label, "JPEG and PDF")

    def test_05_settings_reach_the_printer(self):
        """Media, tracking, darkness, speed and copies of the job become the
        page setup and PRINT."""
        c = pictures.Canvas(400, 240)
        c.fill(10, 10, 100, 100)
        attrs = ("ATTR integer copies 3\n"
                 "ATTR collection media-col {\n"
                 "  MEMBER collection media-size { MEMBER integer x-dimension 5000 "
                 "MEMBER integer y-dimension 3000 }\n"
                 "  MEMBER keyword media-tracking mark }\n"
                 "ATTR integer print-darkness 50\n"
                 "ATTR integer print-speed 5080\n")
        label = self.print_and_get_label(pictures.pwg_bytes(c, DPI), "image/pwg-raster",
                                         "small.pwg", attrs)
        prn = read_file(label[:-4] + ".prn")
        self.assertIn(b"SIZE 50 mm,30 mm\r\nBLINE 3 mm,0 mm\r\nDENSITY 15\r\nSPEED 2\r\n", prn)
        self.assertTrue(prn.endswith(b"PRINT 1,3\r\n"), prn[-40:])

    def test_06_validate_and_cancel(self):
        self.ipptool(VALIDATE_JOB, format="image/png")
        before = self.rig.labels()
        job_id = self.submit(pictures.png_bytes(self.picture()), "image/png", "held.png",
                             "ATTR keyword job-hold-until indefinite\n")
        self.assertEqual(self.job(job_id)["job-state"], "pending-held")
        self.ipptool(CANCEL_JOB, jobid=job_id)
        self.assertEqual(self.wait_job_done(job_id)["job-state"], "canceled")
        time.sleep(1)
        self.assertEqual(self.rig.labels(), before)

    def test_07_bad_input_fails_the_job_and_the_server_goes_on(self):
        png = pictures.png_bytes(self.picture())
        c = pictures.Canvas(LABEL_W, LABEL_H)
        good = pictures.pwg_bytes(c, DPI)
        bad_header = bytearray(good)
        bad_header[4 + 384:4 + 392] = bytes([0, 0, 0, 3, 0, 0, 0, 3])  # 3 bits a dot
        eps = os.path.join(self.tmp, "bad.eps")
        jpg = os.path.join(self.tmp, "bad.jpg")
        subprocess.run(["qrencode", "-t", "EPS", "-o", eps, "cut short"], check=True, timeout=20)
        subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dEPSCrop",
                        "-sDEVICE=jpeggray", "-r203", "-sOutputFile=" + jpg, eps], check=True,
                       timeout=60)
        jpeg = read_file(jpg)
        cases = [
            ("truncated PNG", png[:len(png) // 2], "image/png", "", ""),
            ("truncated JPEG", jpeg[:len(jpeg) // 2], "image/jpeg", "", ""),
            ("PWG with a bad header", bytes(bad_header), "image/pwg-raster", "", ""),
            ("PDF of 100,000 pages", pdf_bomb(100000), "application/pdf", "", ""),
            ("not a PDF", b"%PDF-1.4\n" + b"garbage " * 1000, "application/pdf", "", ""),
        ]
        for what, data, fmt, op_attrs, attrs in cases:
            with self.subTest(what):
                before = self.rig.labels()
                path = os.path.join(self.tmp, "bad")
                with open(path, "wb") as f:
                    f.write(data)
                r = self.ipptool(PRINT_JOB % {"operation": op_attrs, "job": attrs}, filename=path,
                                 expect_ok=False, format=fmt)
                if r.returncode == 0:
                    # Taken: the job has to fail.
                    job_id = int(parse_attributes(r.stdout)["job-id"])
                    state = self.wait_job_done(job_id, 120)
                    self.assertEqual(state["job-state"], "aborted", state)
                else:
                    # Refused at once, with a client error.
                    self.assertRegex(r.stdout, r"status-code = client-error")
                self.assertEqual(self.rig.labels(), before)
                self.assert_still_serving()

    def test_08_status_reaches_ipp_and_a_job_waits(self):
        try:
            self.rig.set_status(0x04)  # paper empty
            self.assertTrue(wait_for(lambda: "media-empty" in
                                     self.printer_attrs().get("printer-state-reasons", ""), 5),
                            self.printer_attrs())
            before = set(self.rig.labels())
            job_id = self.submit(pictures.png_bytes(self.picture()), "image/png", "wait.png")
            self.assertTrue(wait_for(lambda: "Waiting" in
                                     self.job(job_id).get("job-state-message", ""), 10),
                            self.job(job_id))
            time.sleep(2)
            self.assertEqual(self.job(job_id)["job-state"], "processing")
            self.assertEqual(set(self.rig.labels()), before)
            self.rig.set_status(0x00)
            self.assertEqual(self.wait_job_done(job_id, 30)["job-state"], "completed")
            self.assertEqual(len(set(self.rig.labels()) - before), 1)
            self.assertTrue(wait_for(lambda: self.printer_attrs().get(
                "printer-state-reasons") == "none", 5), self.printer_attrs())
            # Each condition of the byte has its reason.
            # (A paused printer pauses the queue: "paused" with the state stopped.)
            for byte, reason in ((0x01, "cover-open"), (0x02, "media-jam"),
                                 (0x08, "marker-supply-empty"), (0x10, "paused")):
                self.rig.set_status(byte)
                self.assertTrue(wait_for(lambda: reason in self.printer_attrs().get(
                    "printer-state-reasons", ""), 5), (reason, self.printer_attrs()))
            self.assertEqual(self.printer_attrs()["printer-state"], "stopped")
            self.rig.set_status(0)
            self.assertTrue(wait_for(lambda: self.printer_attrs().get("printer-state") == "idle",
                                     5), self.printer_attrs())
        finally:
            self.rig.set_status(0)

    def test_10_paloma_device_through_the_library(self):
        """A printer added as paloma:tcp://... prints and reports status
        through the library's printer handles."""
        name = "handle"
        self.rig.run_app("add", name, "--device-uri",
                         "paloma:tcp://127.0.0.1:%d" % self.rig.vp_port, "--driver", "paloma")
        uri = self.rig.uri
        self.rig.uri = "ipp://localhost:%d/ipp/print/%s" % (self.rig.port, name)
        try:
            a = self.printer_attrs()
            self.assertEqual(a["printer-resolution-supported"], "203dpi")  # asked through it
            c = self.picture()
            label = self.print_and_get_label(pictures.png_bytes(c), "image/png", "handle.png")
            self.assert_label_matches(label, c)
            try:
                self.rig.set_status(0x08)
                self.assertTrue(wait_for(lambda: "marker-supply-empty" in self.printer_attrs().get(
                    "printer-state-reasons", ""), 5), self.printer_attrs())
            finally:
                self.rig.set_status(0)
        finally:
            self.rig.uri = uri

    def test_11_a_printer_that_does_not_answer_is_offline(self):
        name = "gone"
        self.rig.run_app("add", name, "--device-uri", "socket://127.0.0.1:%d" % free_port(),
                         "--driver", "paloma_300dpi")
        uri = self.rig.uri
        self.rig.uri = "ipp://localhost:%d/ipp/print/%s" % (self.rig.port, name)
        try:
            a = self.printer_attrs()
            self.assertEqual(a["printer-resolution-supported"], "300dpi")
            self.assertTrue(wait_for(lambda: "offline" in self.printer_attrs().get(
                "printer-state-reasons", ""), 5), self.printer_attrs())
        finally:
            self.rig.uri = uri
        self.assert_still_serving()

    def test_12_a_printer_off_at_start_keeps_its_resolution(self):
        """The dpi a printer reported is kept: after a restart with the
        printer off, its queue still has that resolution."""
        out = os.path.join(self.tmp, "hires")
        with open(os.path.join(self.tmp, "hires.txt"), "w+") as log:
            vp = subprocess.Popen([VPRINTER, "--listen", "127.0.0.1:0", "--dpi", "300", "--out",
                                   out], stdout=log, stderr=subprocess.STDOUT)
            try:
                port = wait_for(lambda: re.search(r"listening on 127\.0\.0\.1:(\d+)",
                                                  open(log.name).read()), 10)
                self.rig.run_app("add", "hires", "--device-uri",
                                 "socket://127.0.0.1:%s" % port.group(1), "--driver", "paloma")
            finally:
                vp.send_signal(signal.SIGTERM)
                vp.wait(timeout=10)
        self.rig.stop_app()
        self.rig.start_app()
        uri = self.rig.uri
        self.rig.uri = "ipp://localhost:%d/ipp/print/hires" % self.rig.port
        try:
            self.assertEqual(self.printer_attrs()["printer-resolution-supported"], "300dpi")
        finally:
            self.rig.uri = uri
        self.assert_still_serving()  # and the first printer came back too

    def test_09_lp_through_cups(self):
        if not shutil.which("lpadmin") or not shutil.which("lp"):
            self.skipTest("lpadmin or lp is missing (apt-get install cups-client)")
        r = subprocess.run(["lpstat", "-r"], capture_output=True, text=True, timeout=10)
        if "scheduler is running" not in r.stdout:
            self.skipTest("no CUPS scheduler is running (scripts/with-cupsd.sh starts one)")
        queue = "paloma-app-test-%d" % os.getpid()
        r = subprocess.run(["lpadmin", "-p", queue, "-E", "-v", self.rig.uri, "-m", "everywhere"],
                           capture_output=True, text=True, timeout=60)
        if r.returncode != 0:
            self.skipTest("the scheduler refused the queue: " + r.stderr.strip())
        try:
            eps = os.path.join(self.tmp, "lp.eps")
            pdf = os.path.join(self.tmp, "lp.pdf")
            subprocess.run(["qrencode", "-t", "EPS", "-s", "6", "-m", "4", "-o", eps,
                            "through CUPS"], check=True, timeout=20)
            subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dEPSCrop",
                            "-sDEVICE=pdfwrite", "-sOutputFile=" + pdf, eps], check=True,
                           timeout=60)
            before = set(self.rig.labels())
            subprocess.run(["lp", "-d", queue, pdf], check=True, capture_output=True, timeout=30)
            new = wait_for(lambda: sorted(set(self.rig.labels()) - before), 90, 0.5)
            self.assertEqual(len(new), 1, "labels made: %s" % new)
            self.assert_qr(os.path.join(self.rig.out, new[0]), "through CUPS")
        finally:
            subprocess.run(["lpadmin", "-x", queue], capture_output=True, timeout=30)


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def pdf_bomb(pages):
    """A small PDF with `pages` pages, all sharing one content stream."""
    objs = ["<< /Type /Catalog /Pages 2 0 R >>", None,
            "<< /Length 0 >>\nstream\n\nendstream"]
    kids = " ".join("%d 0 R" % (4 + i) for i in range(pages))
    objs[1] = "<< /Type /Pages /Count %d /Kids [%s] >>" % (pages, kids)
    page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 86] /Contents 3 0 R >>"
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for i, o in enumerate(objs + [page] * pages):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (i + 1, o.encode())
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(offsets) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(offsets) + 1,
                                                                                xref)
    return bytes(out)


PRINT_JOB = """{
  NAME "Print-Job"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name test
  ATTR mimeMediaType document-format $format
  %(operation)s
  GROUP job-attributes-tag
  %(job)s
  FILE $filename
  STATUS successful-ok
  EXPECT job-id
}
"""

GET_JOB = """{
  NAME "Get-Job-Attributes"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $jobid
  ATTR name requesting-user-name test
  STATUS successful-ok
}
"""

GET_PRINTER = """{
  NAME "Get-Printer-Attributes"
  OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  STATUS successful-ok
}
"""

VALIDATE_JOB = """{
  NAME "Validate-Job"
  OPERATION Validate-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name test
  ATTR mimeMediaType document-format $format
  GROUP job-attributes-tag
  ATTR keyword media oe_4x6-label_4x6in
  STATUS successful-ok
}
"""

CANCEL_JOB = """{
  NAME "Cancel-Job"
  OPERATION Cancel-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $jobid
  ATTR name requesting-user-name test
  STATUS successful-ok
}
"""


def main():
    global APP, VPRINTER
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--vprinter", required=True)
    args, rest = parser.parse_known_args()
    APP, VPRINTER = args.app, args.vprinter
    missing = [t for t in ("ipptool", "qrencode", "gs") if not shutil.which(t)]
    if missing:
        print("SKIP: %s missing (run scripts/deps.sh: cups-ipp-utils, qrencode, ghostscript)"
              % ", ".join(missing))
        return 77
    prog = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if prog.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
