#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Soak of a running lumora-printer-app server (see app_soak.sh).

  app_soak.py APP SERVER-PORT WORK INSPECT JOBS SEED PWG PDF JPEG PNG PAGES...

Four printers of four families on network printers of this process's own
on 127.0.0.1: two slow (they take about 2 MB/s), two that vanish in the
middle of some jobs (the connection is closed after a random number of
bytes; the printer stays reachable for the next job). Four clients, one
per printer, send JOBS jobs in all, one at a time as CUPS's ipp backend
does: PWG raster sent again on server-error-busy, PDF, JPEG and PNG, with
copies, and cancel one job in eight at a random moment. Then every job must
be terminal; every stream of a completed job whole with its page count
(checked with lumora-inspect); every stream of a cancelled job whole (or
ending after a whole command, as a cancelled PLATFORM_M job does) or
empty; an aborted job only where its printer vanished. PAGES: the pages of
the PWG, PDF, JPEG and PNG documents. Prints one line per finding and a
summary; exits 1 on any fault.
"""
import os
import random
import re
import socket
import struct
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "printer_app"))
import app_helpers as h  # noqa: E402

PRINTERS = [("hazel", "lumora_hazel_h1", "slow"), ("cedar", "lumora_cedar_c300", "vanish"),
            ("elm", "lumora_elm_e200", "slow"), ("fir", "lumora_fir_f100", "vanish")]


class Device:
    """A network printer: keeps each connection's bytes in WORK/NAME-K.prn."""

    def __init__(self, work, name, mode, rnd):
        self.work, self.name, self.mode, self.rnd = work, name, mode, rnd
        self.cut = set()
        self.count = 0  # connections so far
        self.srv = socket.socket()
        self.srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.srv.bind(("127.0.0.1", 0))
        self.srv.listen(4)
        self.port = self.srv.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            conn, _ = self.srv.accept()
            self.count += 1
            count = self.count
            limit = None
            if self.mode == "vanish" and self.rnd.random() < 0.2:
                limit = self.rnd.randrange(2000, 60000)
            with open(f"{self.work}/{self.name}-{count}.prn", "wb") as out:
                total = 0
                while True:
                    data = conn.recv(65536)
                    if not data:
                        break
                    out.write(data)
                    total += len(data)
                    if self.mode == "slow":
                        time.sleep(len(data) / 2e6)
                    if limit is not None and total >= limit:
                        self.cut.add(count)
                        break
            conn.close()


def submit(uri, fmt, data, copies, title):
    host, port, resource = h.split_uri(uri)
    extra = (h.ipp_attr(0x49, "document-format", fmt) + h.ipp_attr(0x42, "job-name", title)
             + b"\x02" + struct.pack(">BH", 0x21, 6) + b"copies" + struct.pack(">Hi", 4, copies))
    body = h.job_request(0x0002, uri, extra) + data
    busy = 0
    while True:
        status, reply = h.post_ipp(host, port, resource, body, timeout=300)
        if status == 0x0507:
            busy += 1
            time.sleep(0.2)
            continue
        return (h.reply_int(reply, b"job-id") if status == 0 else None), busy, status


def client(uri, device, jobs, docs, rnd, results):
    """One job at a time: the job's stream is the device's connection made
    while it ran (None when it made none)."""
    host, port, resource = h.split_uri(uri)
    for n in range(jobs):
        before = device.count
        kind = rnd.choice(list(docs))
        fmt, data, pages = docs[kind]
        copies = rnd.choice([1, 1, 1, 2, 3])
        job_id, busy, status = submit(uri, fmt, data, copies, f"soak {n}")
        cancel = rnd.random() < 0.125
        if job_id and cancel:
            time.sleep(rnd.random() * 1.5)
            h.post_ipp(host, port, resource, h.job_request(0x0008, uri, job_id=job_id))
        state = None
        end = time.time() + 300
        while job_id and time.time() < end:
            state = h.job_state(host, port, resource, uri, job_id)
            if state in (7, 8, 9):
                break
            time.sleep(0.1)
        time.sleep(0.2)  # the device sees the connection end
        made = device.count - before
        results.append({"id": job_id, "kind": kind, "pages": pages * copies, "state": state,
                        "busy": busy, "status": status,
                        "stream": device.count if made == 1 else None if made == 0 else -made})


def inspect(tool, path):
    """(whole, ends between commands, pages): a cancelled job of a PLATFORM_M
    printer stops after its last whole command, without a job end."""
    out = subprocess.run([tool, path], capture_output=True, text=True)
    pages = len(re.findall(r"^Page \d+:", out.stdout, re.M))
    whole = out.returncode == 0 and "Job end" in out.stdout
    return whole, whole or "stream ends where" in out.stdout + out.stderr, pages


def main(argv):
    app, port, work, tool, jobs, seed = argv[1:7]
    rnd = random.Random(int(seed))
    docs = {}
    for kind, fmt, path, pages in zip(["pwg", "pdf", "jpeg", "png"],
                                      ["image/pwg-raster", "application/pdf", "image/jpeg", "image/png"],
                                      argv[7:11], argv[11:15]):
        with open(path, "rb") as f:
            docs[kind] = (fmt, f.read(), int(pages))
    devices = {}
    for name, driver, mode in PRINTERS:
        devices[name] = Device(work, name, mode, random.Random(rnd.random()))
        subprocess.run([app, "add", "-d", name, "-m", driver, "-v",
                        f"socket://127.0.0.1:{devices[name].port}"], check=True)
    results = {name: [] for name, _, _ in PRINTERS}
    threads = []
    start = time.time()
    for i, (name, _, _) in enumerate(PRINTERS):
        uri = f"ipp://localhost:{port}/ipp/print/{name}"
        share = int(jobs) // 4 + (1 if i < int(jobs) % 4 else 0)
        t = threading.Thread(target=client, args=(uri, devices[name], share, docs,
                                                   random.Random(rnd.random()), results[name]))
        t.start()
        threads.append(t)
    for t in threads:
        t.join()
    elapsed = time.time() - start
    faults = 0
    totals = {"completed": 0, "canceled": 0, "aborted": 0, "busy": 0, "pages": 0,
              "cut-after-send": 0}
    for name, _, _ in PRINTERS:
        for r in results[name]:
            totals["busy"] += r["busy"]
            state = {7: "canceled", 8: "aborted", 9: "completed"}.get(r["state"])
            if state is None:
                print(f"FAULT {name}: job {r['id']} ({r['kind']}) not terminal (state {r['state']}, "
                      f"submit status {r['status']})")
                faults += 1
                continue
            totals[state] += 1
            k = r["stream"]
            if k is not None and k < 0:
                print(f"FAULT {name}: job {r['id']} made {-k} connections to its printer")
                faults += 1
                continue
            path = f"{work}/{name}-{k}.prn" if k else None
            whole, commands, pages = (inspect(tool, path) if path and os.path.exists(path)
                                      else (False, False, 0))
            empty = not path or not os.path.exists(path) or os.path.getsize(path) == 0
            cut = k in devices[name].cut
            if state == "completed" and cut and not whole:
                # The printer closed the connection after the job had handed
                # its last bytes to TCP: no sender can tell.
                totals["cut-after-send"] += 1
            elif state == "completed" and not (whole and pages == r["pages"]):
                print(f"FAULT {name}: job {r['id']} ({r['kind']}) completed, stream {path} "
                      f"whole={whole} pages={pages} of {r['pages']}")
                faults += 1
            elif state == "canceled" and not (commands or empty or cut):
                print(f"FAULT {name}: job {r['id']} cancelled, stream {path} cut inside a command")
                faults += 1
            elif state == "aborted" and not cut:
                print(f"FAULT {name}: job {r['id']} ({r['kind']}) aborted, its printer did not vanish")
                faults += 1
            totals["pages"] += pages if state == "completed" else 0
    print(f"jobs={sum(len(v) for v in results.values())} completed={totals['completed']} "
          f"canceled={totals['canceled']} aborted={totals['aborted']} busy-answers={totals['busy']} "
          f"pages={totals['pages']} cut-after-send={totals['cut-after-send']} "
          f"seconds={elapsed:.0f} faults={faults}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
