#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Benchmark of the two filters against their references, run by
bench/run_bench.sh. Prints one table; every figure is the best of --runs
runs (the runs of a filter and of its reference alternate, so that a busy
machine slows both alike).

rastertoLumora: A4 text and photo pages rendered by ghostscript (the CUPS
raster device, as the scheduler's ghostscript filter makes them), per
dialect; stage times from the filter's own report (LUMORA_STAGE_TIMES=1);
reference: pbmtojbg on the 1-bit page the filter sent (read back with
lumora-inspect), with the encoder options the filter uses.
pstoLumora: a 200 MB PostScript job, plain copy and maple rewriting,
against cat; the output of all three goes into a pipe that is drained.
Raster reading (--only read): the CUPS library's reader against the
driver's own on the same pages, compressed and plain.
"""
import argparse
import json
import os
import struct
import subprocess
import sys
import threading
import time

# Dialect, model, raster, job options, pbmtojbg options (the filter's JBIG
# parameters: -q one layer; -o order; -p options; -s stripe lines; -m mx),
# environment. With 2 threads PLATFORM_C/M encode while the page is
# screened and PLATFORM_Z spreads its bands; 1 thread does neither.
CASES = [
    ("PLATFORM_C 600 1 thread", "Lumora Hazel H1 Series", 600, "", ["-q", "-o", "0", "-p", "8", "-s", "768", "-m", "8"], {"LUMORA_THREADS": "1"}),
    ("PLATFORM_C 600 2 threads", "Lumora Hazel H1 Series", 600, "", ["-q", "-o", "0", "-p", "8", "-s", "768", "-m", "8"], {"LUMORA_THREADS": "2"}),
    ("PLATFORM_Z 600 1 thread", "Lumora Cedar C300 Series", 600, "", ["-q", "-o", "3", "-p", "88", "-s", "256", "-m", "0"], {"LUMORA_THREADS": "1"}),
    ("PLATFORM_Z 600 2 threads", "Lumora Cedar C300 Series", 600, "", ["-q", "-o", "3", "-p", "88", "-s", "256", "-m", "0"], {"LUMORA_THREADS": "2"}),
    ("PLATFORM_M 600 1 thread", "Lumora Elm E200 Series", 600, "", ["-q", "-o", "3", "-p", "92", "-s", "256", "-m", "0"], {"LUMORA_THREADS": "1"}),
    ("PLATFORM_M 600 2 threads", "Lumora Elm E200 Series", 600, "", ["-q", "-o", "3", "-p", "92", "-s", "256", "-m", "0"], {"LUMORA_THREADS": "2"}),
    ("PLATFORM_C 1200 2 threads", "Lumora Hazel H1 Series", 1200, "", ["-q", "-o", "0", "-p", "8", "-s", "384", "-m", "8"], {"LUMORA_THREADS": "2"}),
    ("PLATFORM_M 1200 2 threads", "Lumora Elm E300 Series", 600, "DPI1200=True", ["-q", "-o", "3", "-p", "92", "-s", "256", "-m", "0"], {"LUMORA_THREADS": "2"}),
]
PAGES = ["text", "photo"]
STAGES = ["read", "turn", "screen", "compress", "write"]


class Run:
    def __init__(self, wall, cpu, rss_kb, out, err):
        self.wall, self.cpu, self.rss_kb, self.out, self.err = wall, cpu, rss_kb, out, err


def run(argv, env=None, stdin_path=None, stdin_feed=None, keep_output=False, pass_fds=()):
    """Runs a program; wall time, CPU time (user + system) and peak RSS of
    that process (RSS as /usr/bin/time sees it). Output goes into a pipe that a thread drains."""
    argv = ["/usr/bin/time", "-f", "LUMORA-RSS %M"] + list(argv)
    stdin = open(stdin_path, "rb") if stdin_path else (subprocess.PIPE if stdin_feed else subprocess.DEVNULL)
    start = time.perf_counter()
    p = subprocess.Popen(argv, env=env, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         close_fds=True, pass_fds=pass_fds)
    chunks, errs = [], []

    def drain(f, keep, into):
        while True:
            b = f.read(1 << 20)
            if not b:
                break
            if keep:
                into.append(b)

    t1 = threading.Thread(target=drain, args=(p.stdout, keep_output, chunks))
    t2 = threading.Thread(target=drain, args=(p.stderr, True, errs))
    t1.start()
    t2.start()
    if stdin_feed:
        try:
            stdin_feed(p.stdin)
        except BrokenPipeError:
            pass
        p.stdin.close()
    _, status, ru = os.wait4(p.pid, 0)
    wall = time.perf_counter() - start
    p.returncode = os.waitstatus_to_exitcode(status)
    t1.join()
    t2.join()
    if stdin_path:
        stdin.close()
    err = b"".join(errs).decode("utf-8", "replace")
    if p.returncode != 0:
        sys.exit("%s failed (%d):\n%s" % (argv[3], p.returncode, err[-2000:]))
    rss = [int(l.split()[1]) for l in err.splitlines() if l.startswith("LUMORA-RSS ")]
    return Run(wall, ru.ru_utime + ru.ru_stime, rss[-1], b"".join(chunks), err)


def stage_times(err):
    for line in err.splitlines():
        if line.startswith("DEBUG: stage times page"):
            fields = dict(kv.split("=") for kv in line.split()[5:])
            return {k: int(v) / 1e6 for k, v in fields.items()}
    return {s: float("nan") for s in STAGES}


def best(runs):
    return min(runs, key=lambda r: r.wall)


def ensure_raster(work, kind, dpi, src, compressed=False):
    """The page as ghostscript's CUPS raster device writes it: version 3
    (uncompressed) by default, or version 2 (compressed) as the filter
    chain of a print server delivers it."""
    path = os.path.join(work, "%s-%d%s.ras" % (kind, dpi, "-v2" if compressed else ""))
    if not os.path.exists(path):
        version = ["-dcupsRasterVersion=2"] if compressed else []
        subprocess.run(["gs", "-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=cups"] + version +
                       ["-dcupsColorSpace=0", "-dcupsBitsPerColor=8", "-r%d" % dpi,
                        "-sPAPERSIZE=a4", "-dFIXEDMEDIA", "-sOutputFile=" + path,
                        os.path.join(src, "%s_page.ps" % kind)],
                       check=True, stderr=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    return path


def raster_size(path):
    """cupsBytesPerLine and cupsHeight of the first page header."""
    with open(path, "rb") as f:
        head = f.read(4 + 256 + 35 * 4)
    order = "<" if head[:4] == b"3SaR" else ">"
    # After the sync word: four 64-byte strings, then the numeric fields;
    # cupsHeight is field 30 and cupsBytesPerLine field 34.
    words = struct.unpack(order + "35I", head[260:260 + 35 * 4])
    return words[34], words[30]


def ppd_path(ppd_dir, model):
    return os.path.join(ppd_dir, model.replace(" ", "-") + ".ppd")


def filter_env(ppd, extra):
    env = dict(os.environ)
    env.pop("DEVICE_URI", None)
    env.update({"PPD": ppd, "LUMORA_STAGE_TIMES": "1", "LUMORA_KEEPALIVE_INTERVAL_MS": "100000000"})
    env.update(extra)
    return env


def bench_raster(args, work):
    rows = []
    for name, model, dpi, options, jbg_opts, extra in CASES:
        for kind in PAGES:
            ras = ensure_raster(work, kind, dpi, args.src)
            env = filter_env(ppd_path(args.ppd_dir, model), extra)
            argv = [os.path.join(args.bin, "rastertoLumora"), "1", "bench", "bench", "1", options, ras]
            first = run(argv, env=env, keep_output=True)
            stream = os.path.join(work, "out.bin")
            with open(stream, "wb") as f:
                f.write(first.out)
            pbm_dir = os.path.join(work, "pbm")
            os.makedirs(pbm_dir, exist_ok=True)
            subprocess.run([os.path.join(args.bin, "lumora-inspect"), "--quiet", "--pbm", pbm_dir, stream],
                           check=True)
            pbm = os.path.join(pbm_dir, "page-001.pbm")
            ref_argv = ["pbmtojbg"] + jbg_opts + [pbm, "/dev/null"]
            mine, ref = [], []
            for _ in range(args.runs):
                mine.append(run(argv, env=env))
                ref.append(run(ref_argv))
            m, r = best(mine), best(ref)
            st = stage_times(m.err)
            with open(pbm, "rb") as f:
                f.readline()
                w, h = map(int, f.readline().split())
            rows.append((name, kind, st, m, r, min(x.cpu for x in mine), min(x.cpu for x in ref), w, h,
                         raster_size(ras)))
    return rows


def print_raster(rows):
    print("rastertoLumora, A4, one page per run (times in ms, best of runs)")
    hdr = ("%-26s %-5s " + "%8s " * 5 + "%8s %6s %8s %7s | %8s %8s | %6s %6s")
    print(hdr % ("dialect", "page", "read", "turn", "screen", "compress", "write", "filter", "ppm",
                 "cpu", "RSS MB", "pbmtojbg", "cpu", "x wall", "x cpu"))
    for name, kind, st, m, r, mcpu, rcpu, w, h, _ in rows:
        print(("%-26s %-5s " + "%8.1f " * 5 + "%8.1f %6.0f %8.1f %7.1f | %8.1f %8.1f | %6.2f %6.2f") % (
            name, kind, st["read"], st["turn"], st["screen"], st["compress"], st["write"],
            m.wall * 1e3, 60.0 / m.wall, mcpu * 1e3, m.rss_kb / 1024.0, r.wall * 1e3, rcpu * 1e3,
            m.wall / r.wall, mcpu / rcpu))
    print()
    print("screening (pixels of the 8-bit page / screen time, one thread):")
    for name, kind, st, m, r, mcpu, rcpu, w, h, _ in rows:
        px = (w // 2 if "M 1200" in name else w) * h
        print("  %-26s %-5s %6.2f Gpixel/s" % (name, kind, px / (st["screen"] * 1e6)))
    print()


def bench_icount(args, work):
    """Instructions executed (valgrind's callgrind), filter on one thread
    against pbmtojbg: a ratio that a busy machine does not disturb."""
    if subprocess.run(["sh", "-c", "command -v valgrind"], capture_output=True).returncode != 0:
        print("instruction counts: valgrind missing\n")
        return
    def count(argv, env=None):
        err = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + argv,
                             env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                             text=True, errors="replace").stderr
        for line in err.splitlines():
            if "Collected :" in line:
                return int(line.split(":")[1])
        sys.exit("callgrind gave no count for %s" % argv[0])
    print("instructions executed, filter on one thread / pbmtojbg on its 1-bit page (callgrind):",
          flush=True)
    for name, model, dpi, options, jbg_opts, extra in CASES:
        if dpi != 600 or "2 threads" in name or options:
            continue
        for kind in PAGES:
            ras = ensure_raster(work, kind, dpi, args.src)
            env = filter_env(ppd_path(args.ppd_dir, model), {"LUMORA_THREADS": "1"})
            env.pop("LUMORA_STAGE_TIMES")
            argv = [os.path.join(args.bin, "rastertoLumora"), "1", "bench", "bench", "1", options, ras]
            out = subprocess.run(argv, env=env, capture_output=True).stdout
            stream = os.path.join(work, "out.bin")
            with open(stream, "wb") as f:
                f.write(out)
            pbm_dir = os.path.join(work, "pbm")
            os.makedirs(pbm_dir, exist_ok=True)
            subprocess.run([os.path.join(args.bin, "lumora-inspect"), "--quiet", "--pbm", pbm_dir, stream],
                           check=True)
            mine = count(argv, env)
            ref = count(["pbmtojbg"] + jbg_opts + [os.path.join(pbm_dir, "page-001.pbm"), "/dev/null"])
            print("  %-14s %-5s %6.0f M  / %6.0f M  = %.2f" % (
                name.replace(" 1 thread", ""), kind, mine / 1e6, ref / 1e6, mine / ref))
    print()


def bench_screen(args):
    """HalftoneDither alone on A4 pages in memory (Google Benchmark)."""
    prog = os.path.join(args.bin, "halftone_bench")
    if not os.path.exists(prog):
        print("screening alone: halftone_bench not built (Google Benchmark missing)\n")
        return
    out = subprocess.run([prog, "--benchmark_min_time=0.2"], check=True, capture_output=True,
                         text=True).stdout
    print("screening alone, one thread, A4 in memory (halftone_bench):")
    for line in out.splitlines():
        parts = line.split()
        rate = [p for p in parts if p.startswith("Gpixel/s=")]
        if rate:
            print("  %-22s %6.2f Gpixel/s" % (parts[0], float(rate[0].split("=")[1].rstrip("/s"))))
    print()


def bench_read(args, work):
    """Reading the raster: the CUPS library's reader against lumora::RasterReader
    (raster_read_bench, Google Benchmark), header and every row as the filter
    reads them, file in the page cache."""
    prog = os.path.join(args.bin, "raster_read_bench")
    if not os.path.exists(prog):
        print("raster reading: raster_read_bench not built (Google Benchmark missing)\n")
        return
    files = [ensure_raster(work, kind, 600, args.src, compressed=True) for kind in PAGES]
    files += [ensure_raster(work, kind, 600, args.src) for kind in PAGES]
    out = subprocess.run([prog, "--benchmark_repetitions=%d" % args.runs, "--benchmark_format=json"]
                         + files, check=True, capture_output=True, text=True).stdout
    best_of = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        reader, page = b["run_name"].split("/", 1)
        wall, cpu = best_of.get((reader, page), (float("inf"), float("inf")))
        best_of[(reader, page)] = (min(wall, b["real_time"]), min(cpu, b["cpu_time"]))
    print("raster reading, A4 600 dpi 8-bit gray, header and every row (ms, best of %d):" % args.runs)
    print("  %-26s %9s %9s %9s %9s %8s" % ("page", "cups", "its CPU", "lumora", "its CPU", "x CPU"))
    for f in files:
        page = os.path.basename(f)
        cw, cc = best_of[("cups", page)]
        lw, lc = best_of[("lumora", page)]
        print("  %-26s %9.1f %9.1f %9.1f %9.1f %8.2f" % (page, cw, cc, lw, lc, lc / cc))
    print()


def bench_memory(args, work):
    """Peak RSS of a 1-page, 2-page and 200-page text job (PLATFORM_C)."""
    ras = ensure_raster(work, "text", 600, args.src)
    with open(ras, "rb") as f:
        data = f.read()
    sync, body = data[:4], data[4:]
    env = filter_env(ppd_path(args.ppd_dir, "Lumora Hazel H1 Series"), {})
    env.pop("LUMORA_STAGE_TIMES")
    argv = [os.path.join(args.bin, "rastertoLumora"), "1", "bench", "bench", "1", ""]
    out = {}
    for pages in (1, 2, args.pages):
        def feed(pipe, pages=pages):
            pipe.write(sync)
            for _ in range(pages):
                pipe.write(body)
        r = run(argv, env=env, stdin_feed=feed)
        out[pages] = r
    bpl, height = raster_size(ras)
    page8 = bpl * height
    threads = int(os.environ.get("LUMORA_THREADS", "0") or 0) or (os.cpu_count() or 1)
    print("peak resident memory, PLATFORM_C text job, unturned (8-bit page %d x %d = %.1f MB), "
          "%d threads:" % (bpl, height, page8 / 1e6, threads))
    for pages, r in out.items():
        print("  %3d pages: %7.1f MB = %.2f x the 8-bit page = %.2f x the 1-page job  "
              "(%.1f s, %.0f pages/min)" % (
                  pages, r.rss_kb * 1024 / 1e6, r.rss_kb * 1024 / page8,
                  r.rss_kb / out[1].rss_kb, r.wall, pages * 60 / r.wall))
    print("  bound for any length: threads + 1 = %d x the 1-page job" % (threads + 1))
    print()


def repeated_raster(work, kind, pages, src):
    """A compressed raster of `pages` copies of the page, as one stream."""
    path = os.path.join(work, "%s-600-v2-x%d.ras" % (kind, pages))
    if not os.path.exists(path):
        with open(ensure_raster(work, kind, 600, src, compressed=True), "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(data[:4] + data[4:] * pages)
    return path


def bench_pages(args, work):
    """Jobs of ten A4 pages (and one text page) on every thread count up to
    the machine's cores: the filter's wall time against the sum of
    pbmtojbg's times on the same 1-bit pages (read back from the filter's
    stream), in the same run."""
    print("rastertoLumora, A4 jobs, compressed raster as ghostscript writes it "
          "(ms, best of %d runs):" % args.runs)
    print("%-12s %-5s %5s %7s | %8s %7s %8s | %10s | %6s" % (
        "dialect", "page", "pages", "threads", "filter", "CPU", "RSS MB", "pbmtojbg", "x wall"))
    cores = os.cpu_count() or 1
    jobs = [(kind, 10) for kind in PAGES] + [("text", 1)]
    for name, model, dpi, options, jbg_opts, extra in CASES:
        if dpi != 600 or options or "1 thread" not in name:
            continue
        for kind, pages in jobs:
            ras = repeated_raster(work, kind, pages, args.src)
            argv = [os.path.join(args.bin, "rastertoLumora"), "1", "bench", "bench", "1", options, ras]
            env1 = filter_env(ppd_path(args.ppd_dir, model), {"LUMORA_THREADS": "1"})
            stream = os.path.join(work, "pages.bin")
            with open(stream, "wb") as f:
                f.write(run(argv, env=env1, keep_output=True).out)
            pbm_dir = os.path.join(work, "pbm-pages")
            os.makedirs(pbm_dir, exist_ok=True)
            subprocess.run([os.path.join(args.bin, "lumora-inspect"), "--quiet", "--pbm", pbm_dir,
                            stream], check=True)
            pbms = [os.path.join(pbm_dir, "page-%03d.pbm" % (i + 1)) for i in range(pages)]
            for threads in range(1, cores + 1):
                env = filter_env(ppd_path(args.ppd_dir, model), {"LUMORA_THREADS": str(threads)})
                mine, ref = [], []
                for _ in range(args.runs):
                    mine.append(run(argv, env=env))
                    ref.append(sum(run(["pbmtojbg"] + jbg_opts + [p, "/dev/null"]).wall for p in pbms))
                m, r = best(mine), min(ref)
                print("%-12s %-5s %5d %7d | %8.1f %7.1f %8.1f | %10.1f | %6.2f" % (
                    name.replace(" 600 1 thread", ""), kind, pages, threads, m.wall * 1e3,
                    min(x.cpu for x in mine) * 1e3, m.rss_kb / 1024.0, r * 1e3, m.wall / r), flush=True)
    print()


def bench_prefilter(args, work):
    job = os.path.join(work, "job-%dMB.ps" % args.ps_megabytes)
    if not os.path.exists(job):
        subprocess.run([sys.executable, os.path.join(args.src, "make_ps_job.py"), job,
                        str(args.ps_megabytes)], check=True)
    tmp = os.path.join(work, "tmp")
    os.makedirs(tmp, exist_ok=True)
    base = dict(os.environ)
    base.pop("DEVICE_URI", None)
    base["TMPDIR"] = tmp
    ps = os.path.join(args.bin, "pstoLumora")
    plain = dict(base, PPD=ppd_path(args.ppd_dir, "Lumora OP3100 Series PS"))
    maple = dict(base, PPD=ppd_path(args.ppd_dir, "Lumora MP2100 Series PS"))
    argv = [ps, "1", "bench", "bench", "1", ""]
    # Descriptor 4 (the backend's side channel) is closed: the device id
    # query fails at once and the PPD's ShortNickName decides.
    # The job on standard input is first spooled into a temporary file; a
    # job file named on the command line is read where it is.
    kinds = ("cat", "plain stdin", "maple stdin", "plain file", "maple file")
    res = {k: [] for k in kinds}
    for _ in range(args.runs):
        res["cat"].append(run(["cat"], stdin_path=job))
        res["plain stdin"].append(run(argv, env=plain, stdin_path=job))
        res["maple stdin"].append(run(argv, env=maple, stdin_path=job))
        res["plain file"].append(run(argv + [job], env=plain))
        res["maple file"].append(run(argv + [job], env=maple))
    c = best(res["cat"])
    print("pstoLumora, PostScript road, %d MB job, output into a pipe (ms):" % args.ps_megabytes)
    for k in kinds:
        r = best(res[k])
        print("  %-11s %8.1f wall %8.1f cpu  %5.2f x cat (wall)  %6.1f MB RSS" % (
            k, r.wall * 1e3, min(x.cpu for x in res[k]) * 1e3, r.wall / c.wall, r.rss_kb / 1024.0))
    print()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--ppd-dir", required=True)
    ap.add_argument("--src", required=True, help="bench/ source folder")
    ap.add_argument("--work", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--pages", type=int, default=200)
    ap.add_argument("--ps-megabytes", type=int, default=200)
    ap.add_argument("--only", choices=["raster", "pages", "icount", "memory", "prefilter", "screen", "read"])
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    cpu = ""
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    print("machine: %d CPUs, %s; load average before: %s" % (
        os.cpu_count(), cpu, " ".join("%.2f" % x for x in os.getloadavg())))
    print()
    if args.only in (None, "raster"):
        print_raster(bench_raster(args, args.work))
    if args.only in (None, "pages"):
        bench_pages(args, args.work)
    if args.only in (None, "icount"):
        bench_icount(args, args.work)
    if args.only in (None, "screen"):
        bench_screen(args)
    if args.only in (None, "read"):
        bench_read(args, args.work)
    if args.only in (None, "memory"):
        bench_memory(args, args.work)
    if args.only in (None, "prefilter"):
        bench_prefilter(args, args.work)
    print("load average after: %s" % " ".join("%.2f" % x for x in os.getloadavg()))


if __name__ == "__main__":
    main()
