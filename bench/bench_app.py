#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""PDF documents through the printer application against the classic chain.

For each document (Debian's 42-page ghostscript colour-management guide from
ghostscript-doc, and the project's own ten text pages made from
bench/text_page.ps), on a Hazel printer at 600 dpi on A4, the median of RUNS:
  (a) ghostscript piped into rastertoLumora;
  (b) the application: Print-Job with ipptool to the job's completion, a
      server of its own and a network printer on 127.0.0.1 that keeps what
      it gets, the server's second job (its first is shown apart); also the
      time to the first byte at that printer and the server's peak resident
      memory (VmHWM) after the jobs;
  (c) ghostscript alone to raster (to /dev/null);
  (f) rastertoLumora alone on (c)'s raster;
  (p) the first page alone: ghostscript of page 1 piped into rastertoLumora.
The targets: b <= 0.6 x (c + f), b <= a, first byte <= p.

Then the ten text pages as the compressed PWG raster a client sends
(image/pwg-raster, which the application reads while it comes in): Print-Job
to completion, the time to the first byte at the printer, the server's CPU
time and peak memory; with --before, the same job to that build of the
application too, the runs of the two alternating.

  bench_app.py --bin BUILD/bin --ppd-dir BUILD/ppd-files [--runs N] [--before APP]
"""
import argparse
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

GUIDE = "/usr/share/doc/ghostscript/GS9_Color_Management.pdf"
MODEL = "Lumora Hazel H1 Series"
DRIVER = "lumora_hazel_h1"
GS = ["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dNOINTERPOLATE", "-sDEVICE=pwgraster",
      "-dcupsColorSpace=18", "-dcupsBitsPerColor=8", "-r600", "-dDEVICEWIDTHPOINTS=595",
      "-dDEVICEHEIGHTPOINTS=842", "-dFIXEDMEDIA", "-dPDFFitPage"]


def text_pdf(src, work):
    """Ten text pages (bench/text_page.ps with ten seeds) as a PDF."""
    text = open(os.path.join(src, "text_page.ps")).read()
    head, body = text.split("%%Page: 1 1", 1)
    body = body.replace("%%EOF", "").replace("%%Trailer", "")
    ps = head.replace("%%Pages: 1", "%%Pages: 10")
    for i in range(10):
        ps += "%%%%Page: %d %d\n/seed %d def\n" % (i + 1, i + 1, 12345 + i) + body
    path = os.path.join(work, "text10.ps")
    with open(path, "w") as f:
        f.write(ps + "%%EOF\n")
    pdf = os.path.join(work, "text10.pdf")
    subprocess.run(["gs", "-q", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
                    "-sOutputFile=" + pdf, path], check=True)
    return pdf


def timed(cmd, env=None):
    start = time.monotonic()
    subprocess.run(cmd, env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - start


class Printer:
    """A network printer on 127.0.0.1: counts the bytes of each connection
    and notes when the first came."""

    def __init__(self):
        self.srv = socket.socket()
        self.srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.srv.bind(("127.0.0.1", 0))
        self.srv.listen(4)
        self.port = self.srv.getsockname()[1]
        self.jobs = []  # [first byte time, bytes, end time]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            conn, _ = self.srv.accept()
            job = [None, 0, None]
            self.jobs.append(job)
            while True:
                data = conn.recv(1 << 16)
                if not data:
                    break
                if job[0] is None:
                    job[0] = time.monotonic()
                job[1] += len(data)
            job[2] = time.monotonic()
            conn.close()


class App:
    """The application's server with its own port, spool and state."""

    def __init__(self, binary, work, printer):
        self.work = work
        self.name = "lpa-bench-%d" % os.getpid()
        self.prog = os.path.join(work, self.name)
        os.symlink(os.path.abspath(binary), self.prog)
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        self.port = s.getsockname()[1]
        s.close()
        self.proc = subprocess.Popen(
            [self.prog, "server", "-o", "server-port=%d" % self.port, "-o",
             "spool-directory=" + os.path.join(work, "spool"), "-o",
             "state-file=" + os.path.join(work, "app.state"), "-o",
             "log-file=" + os.path.join(work, "app.log"), "-o", "log-level=warn", "-o",
             "server-options=no-tls"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(300):
            try:
                socket.create_connection(("127.0.0.1", self.port), 1).close()
                break
            except OSError:
                time.sleep(0.1)
        subprocess.run([self.prog, "add", "-d", "bench", "-m", DRIVER, "-v",
                        "socket://127.0.0.1:%d" % printer.port], check=True,
                       stdout=subprocess.DEVNULL)
        self.uri = "ipp://localhost:%d/ipp/print/bench" % self.port

    def print_job(self, pdf, document_format="application/pdf"):
        """Print-Job, then Get-Job-Attributes until the job has ended: one
        ipptool asking every 20 ms (an ipptool started for each question
        took a tenth of the machine away from the job)."""
        head = ("{ OPERATION %s\n GROUP operation-attributes-tag\n"
                " ATTR charset attributes-charset utf-8\n"
                " ATTR naturalLanguage attributes-natural-language en\n"
                " ATTR uri printer-uri $uri\n ATTR name requesting-user-name bench\n")
        test = os.path.join(self.work, "print.test")
        with open(test, "w") as f:
            f.write(head % "Print-Job" + " ATTR mimeMediaType document-format %s\n" % document_format +
                    " GROUP job-attributes-tag\n ATTR keyword media iso_a4_210x297mm\n"
                    " FILE $filename\n STATUS successful-ok\n}\n")
            f.write(head % "Get-Job-Attributes" + " ATTR integer job-id $job-id\n"
                    " ATTR keyword requested-attributes job-state\n STATUS successful-ok\n"
                    " DELAY \"0,0.02\"\n"
                    " EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 100000\n}\n")
        run = subprocess.run(["ipptool", "-tv", "-f", pdf, self.uri, test], capture_output=True,
                             text=True)
        out = run.stdout + run.stderr
        states = re.findall(r"job-state \(enum\) = (\S+)", out)
        if not states or states[-1] != "completed":
            sys.exit("bench_app.py: the job was %s; ipptool said:\n%s" %
                     (states[-1] if states else "not printed", out[-2000:]))

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def peak_kb(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        for sock in ("/run/%s.sock" % self.name,
                     os.path.join(os.environ.get("TMPDIR", "/tmp"), "%s%d.sock" % (self.name, os.getuid()))):
            if os.path.exists(sock):
                os.unlink(sock)


def bench_document(args, work, name, pdf):
    env = dict(os.environ, PPD=os.path.join(args.ppd_dir, MODEL.replace(" ", "-") + ".ppd"),
               LUMORA_KEEPALIVE_INTERVAL_MS="100000000")
    filt = os.path.join(args.bin, "rastertoLumora")
    raster = os.path.join(work, "doc.pwg")
    subprocess.run(GS + ["-sOutputFile=" + raster, "-f", pdf], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    chain = "%s -sOutputFile=- -f %s 2>/dev/null | %s 1 bench doc 1 '' > /dev/null 2>&1" % (
        " ".join(GS), pdf, filt)
    first = "%s -dFirstPage=1 -dLastPage=1 -sOutputFile=- -f %s 2>/dev/null | %s 1 bench doc 1 '' " \
            "> /dev/null 2>&1" % (" ".join(GS), pdf, filt)
    t = {k: [] for k in ("a", "b0", "b", "c", "f", "p", "ttfb")}
    peak = []
    for _ in range(args.runs):
        t["a"].append(timed(["sh", "-c", chain], env))
        t["c"].append(timed(GS + ["-sOutputFile=/dev/null", "-f", pdf]))
        t["f"].append(timed([filt, "1", "bench", "doc", "1", "", raster], env))
        t["p"].append(timed(["sh", "-c", first], env))
        # A server of its own for each run: its peak memory is this job's.
        appdir = tempfile.mkdtemp(dir=work)
        printer = Printer()
        app = App(os.path.join(args.bin, "lumora-printer-app"), appdir, printer)
        try:
            # The first job of a new server also asks the printer for its
            # supplies (this printer does not answer SNMP: PAPPL waits 2 s,
            # beside the job); the second is the figure of a running server.
            start = time.monotonic()
            app.print_job(pdf)
            t["b0"].append(time.monotonic() - start)
            start = time.monotonic()
            app.print_job(pdf)
            t["b"].append(time.monotonic() - start)
            for _ in range(100):  # the last bytes reach the printer
                if printer.jobs and printer.jobs[-1][2] is not None:
                    break
                time.sleep(0.05)
            t["ttfb"].append(printer.jobs[-1][0] - start)
            peak.append(app.peak_kb())
        finally:
            app.stop()
            shutil.rmtree(appdir, ignore_errors=True)
    m = {k: statistics.median(v) for k, v in t.items()}
    page8 = 4960 * 7016
    print("%-26s a %5.2f s  b %5.2f s (first job %5.2f s)  c %5.2f s  f %5.2f s  b/(c+f) %.2f  "
          "b/a %.2f  first byte %.2f s  first page %.2f s  peak %5.0f MB (%.1f pages of raster)" % (
              name, m["a"], m["b"], m["b0"], m["c"], m["f"], m["b"] / (m["c"] + m["f"]), m["b"] / m["a"],
              m["ttfb"], m["p"], max(peak) / 1024, max(peak) * 1024 / page8))
    sys.stdout.flush()


def bench_client_raster(args, work, pdf):
    """The ten pages as a client's compressed PWG raster, to each build."""
    raster = os.path.join(work, "client.pwg")
    subprocess.run(GS + ["-sOutputFile=" + raster, "-f", pdf], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    builds = [("this build", os.path.join(args.bin, "lumora-printer-app"))]
    if args.before:
        builds.insert(0, ("--before", args.before))
    t = {name: {k: [] for k in ("wall", "cpu", "ttfb", "peak")} for name, _ in builds}
    for _ in range(args.runs):
        for name, binary in builds:
            appdir = tempfile.mkdtemp(dir=work)
            printer = Printer()
            app = App(binary, appdir, printer)
            try:
                cpu = app.cpu_seconds()
                start = time.monotonic()
                app.print_job(raster, "image/pwg-raster")
                t[name]["wall"].append(time.monotonic() - start)
                t[name]["cpu"].append(app.cpu_seconds() - cpu)
                t[name]["ttfb"].append(printer.jobs[-1][0] - start)
                t[name]["peak"].append(app.peak_kb() / 1024)
            finally:
                app.stop()
                shutil.rmtree(appdir, ignore_errors=True)
    size = os.path.getsize(raster) / 1e6
    for name, _ in builds:
        m = {k: statistics.median(v) for k, v in t[name].items()}
        print("10 text pages, PWG raster (%.1f MB), %-10s  b %5.2f s  server CPU %5.2f s  "
              "first byte %.2f s  peak %4.0f MB" % (size, name, m["wall"], m["cpu"], m["ttfb"],
                                                   max(t[name]["peak"])))
    sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--bin", required=True)
    ap.add_argument("--ppd-dir", required=True)
    ap.add_argument("--src", default=os.path.dirname(os.path.abspath(__file__)))
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--before", help="another build's lumora-printer-app, for the raster job")
    ap.add_argument("--only-raster", action="store_true", help="the client's raster job only")
    args = ap.parse_args()
    if not args.only_raster and not os.path.exists(GUIDE):
        sys.exit("bench_app.py: %s is missing (apt install ghostscript-doc)" % GUIDE)
    work = tempfile.mkdtemp(prefix="lumora-bench-app-")
    try:
        print("median of %d runs, %d cores" % (args.runs, os.cpu_count()))
        text = text_pdf(args.src, work)
        if not args.only_raster:
            bench_document(args, work, "42-page guide (PDF)", GUIDE)
            bench_document(args, work, "10 text pages (PDF)", text)
        bench_client_raster(args, work, text)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
