#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Helpers of the PostScript printers' end-to-end test.

  ps_helpers.py printers DIR SPEC...
      network PostScript printers, each on a loopback address of its own
      (run in a network namespace of the test's own, where 127.0.0.0/8 is
      free); see below
  ps_helpers.py same EXPECTED ACTUAL
      compares two PostScript job streams with the time and host masked
      (%%CreationDate, the PJL job owner)
  ps_helpers.py cut-short FULL CUT
      CUT is FULL cut at one of its page boundaries and closed with the
      cancel trailer (and the PJL end of job), the job id masked
  ps_helpers.py pages DIR SIZE TURNS BOX...
      the pages ghostscript rendered into DIR/page-NNN.pbm (30 dpi) are of
      SIZE ("595x842" points), and page i holds box i ("x,y,w,h" points)
      where it was drawn, turned by 180 degrees on the pages that TURNS
      ("even" or "none") names

Printers:

SPEC is NAME@ADDRESS[|key=value...]. Each printer takes jobs on
ADDRESS:9100 (every connection's bytes in DIR/NAME-K.prn, K = 1, 2, ...;
DIR/NAME-K.part while it comes) and runs an SNMP agent on ADDRESS:161:
  id=TEXT       the IEEE-1284 device id it reports to a GetRequest of the
                PWG, HP, Lexmark or Brother device-id objects (none: no
                answer, as a printer without SNMP)
  throttle=MS   reads 4 KiB every MS milliseconds (a slow printer)
  cancel=N      answers the driver's job status query with "cancelled" for
                this host's job from the Nth query on (else "printing")
DIR/NAME.snmp logs the driver's datagrams: "T keepalive" or "T status"
(T in ms since start). Writes DIR/ready when every printer listens.
"""
import os
import re
import socket
import sys
import threading
import time

START = time.monotonic()
DEVICE_ID_OIDS = ("2b06010401950b0102010201010301", "2b060104010b020309010107",
                  "2b0601040185010201020103", "2b06010401d312010300")


def tlv(tag, body):
    n = len(body)
    if n < 0x80:
        length = bytes([n])
    elif n < 0x100:
        length = bytes([0x81, n])
    else:
        length = bytes([0x82, n >> 8, n & 0xFF])
    return bytes([tag]) + length + body


def parse(data, pos=0):
    """(tag, body, next position) of the TLV at pos."""
    tag, n = data[pos], data[pos + 1]
    pos += 2
    if n & 0x80:
        k = n & 0x7F
        n = int.from_bytes(data[pos:pos + k], "big")
        pos += k
    return tag, data[pos:pos + n], pos + n


def get_request(data):
    """(version, community, request-id bytes, pdu tag, first OID hex)."""
    _, msg, _ = parse(data)
    _, version, p = parse(msg)
    _, community, p = parse(msg, p)
    pdu_tag, pdu, _ = parse(msg, p)
    _, request_id, q = parse(pdu)
    _, _, q = parse(pdu, q)
    _, _, q = parse(pdu, q)
    _, binds, _ = parse(pdu, q)
    _, bind, _ = parse(binds)
    _, oid, _ = parse(bind)
    return version, community, request_id, pdu_tag, oid.hex()


def device_id_reply(version, community, request_id, oid_hex, text):
    value = text.encode()
    bind = tlv(0x30, tlv(0x06, bytes.fromhex(oid_hex)) + tlv(0x04, value))
    pdu = tlv(0x02, request_id) + tlv(0x02, b"\x00") + tlv(0x02, b"\x00") + tlv(0x30, bind)
    return tlv(0x30, tlv(0x02, version) + tlv(0x04, community) + tlv(0xA2, pdu))


def status_reply(state):
    """A reply whose tail holds the job record the driver reads: the state
    60 bytes before the end, the owner 4 bytes after it."""
    owner = socket.gethostname().encode()
    record = bytes([state]) + b"\x00\x00\x00" + owner
    record += b"\x00" * (60 - len(record))
    return b"\x30\x50" + b"\x00" * 40 + record


class Printer:
    def __init__(self, directory, spec):
        self.name, rest = spec.split("@", 1)
        parts = rest.split("|")
        self.address = parts[0]
        self.opts = dict(p.split("=", 1) for p in parts[1:])
        self.dir = directory
        self.status_queries = 0
        self.jobs = 0
        self.data = socket.socket()
        self.data.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if "throttle" in self.opts:
            # A small window: the sender waits for the slow printer.
            self.data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.data.bind((self.address, 9100))
        self.data.listen(8)
        self.snmp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.snmp.bind((self.address, 161))

    def log(self, text):
        with open(f"{self.dir}/{self.name}.snmp", "a") as f:
            f.write("%d %s\n" % (int((time.monotonic() - START) * 1000), text))

    def answer(self, data, peer):
        try:
            version, community, request_id, tag, oid = get_request(data)
        except (IndexError, ValueError):
            return
        if community == b"public" and tag == 0xA0:
            if "id" in self.opts and oid in DEVICE_ID_OIDS:
                self.snmp.sendto(device_id_reply(version, community, request_id, oid,
                                                 self.opts["id"]), peer)
        elif tag == 0xA3:
            self.log("keepalive")
            self.snmp.sendto(data[:13] + b"\xa2" + data[14:], peer)
        elif tag == 0xA0:
            self.status_queries += 1
            self.log("status")
            cancel = int(self.opts.get("cancel", "0"))
            state = 0x06 if cancel and self.status_queries >= cancel else 0x03
            self.snmp.sendto(status_reply(state), peer)

    def serve_snmp(self):
        while True:
            data, peer = self.snmp.recvfrom(4096)
            self.answer(data, peer)

    def serve_data(self):
        while True:
            conn, _ = self.data.accept()
            self.jobs += 1
            part = f"{self.dir}/{self.name}-{self.jobs}.part"
            throttle = int(self.opts.get("throttle", "0")) / 1000.0
            with open(part, "wb") as out:
                while True:
                    chunk = conn.recv(4096 if throttle else 65536)
                    if not chunk:
                        break
                    out.write(chunk)
                    out.flush()
                    if throttle:
                        time.sleep(throttle)
            conn.close()
            os.rename(part, part[:-5] + ".prn")


def printers(directory, specs):
    all_printers = [Printer(directory, spec) for spec in specs]
    for p in all_printers:
        threading.Thread(target=p.serve_snmp, daemon=True).start()
        threading.Thread(target=p.serve_data, daemon=True).start()
    open(f"{directory}/ready", "w").close()
    while True:
        time.sleep(3600)


MASKS = (rb"%%CreationDate: [^\n]*", rb"@PJL SET JOBOWNER=[^\r]*")
TRAILER = (b"%%Trailer\nend\n%%Pages: 4\n%%BoundingBox: 0 0 595 842\n%%EOF\n"
           b"\x04\x1b%-12345X\n")
END_OF_JOB = b"\x04\x1b%-12345X"


def masked(path, more=()):
    with open(path, "rb") as f:
        data = f.read()
    for m in MASKS + tuple(more):
        data = re.sub(m, b"#", data)
    return data


def differ(a, b, what):
    first = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
    sys.stderr.write(f"{what}: {len(b)} bytes, expected {len(a)}; first difference at {first}: "
                     f"{a[first:first + 60]!r} / {b[first:first + 60]!r}\n")
    return 1


def same(expected, actual):
    a, b = masked(expected), masked(actual)
    return 0 if a == b else differ(a, b, actual)


def cut_short(full, cut):
    ids = (rb"@PJL SET JOBID=[^\r]*", rb'DISPLAY = "[0-9]+ ')
    a, b = masked(full, ids), masked(cut, ids)
    # A cut job closes its PJL job as the whole job does.
    close = a[a.rfind(b"\x1b%-12345X@PJL"):]
    body = b[:-len(close)] if b.endswith(close) else b
    for tail in (END_OF_JOB, b""):
        if body.endswith(TRAILER + tail):
            body = body[:len(body) - len(TRAILER + tail)]
            break
    else:
        sys.stderr.write(f"{cut}: does not end with the cancel trailer\n")
        return 1
    if not a.startswith(body) or not a[len(body):].startswith(b"%%Page:"):
        return differ(a, b, f"{cut} (not cut at a page boundary of the whole stream)")
    if len(body) >= len(a):
        sys.stderr.write(f"{cut}: nothing was cut\n")
        return 1
    return 0


def read_pbm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = re.match(rb"P4\s+(?:#[^\n]*\n)*\s*(\d+)\s+(\d+)\s", data)
    w, h = int(fields.group(1)), int(fields.group(2))
    return w, h, data[fields.end():], (w + 7) // 8


def ink_box(path):
    """(width, height, (x0, y0, x1, y1)) of the black pixels, top-left origin."""
    w, h, bits, stride = read_pbm(path)
    xs, ys = [], []
    for y in range(h):
        row = bits[y * stride:(y + 1) * stride]
        if any(row):
            for x in range(w):
                if row[x // 8] & (0x80 >> (x % 8)):
                    xs.append(x)
                    ys.append(y)
    return w, h, (min(xs), min(ys), max(xs), max(ys)) if xs else None


def pages(directory, size, turns, boxes):
    dpi = 30.0
    pw, ph = (int(v) for v in size.split("x"))
    files = sorted(f for f in os.listdir(directory) if f.endswith(".pbm"))
    if len(files) != len(boxes):
        sys.stderr.write(f"{len(files)} pages, expected {len(boxes)}\n")
        return 1
    for i, (name, box) in enumerate(zip(files, boxes), 1):
        w, h, ink = ink_box(os.path.join(directory, name))
        if abs(w - pw * dpi / 72) > 2 or abs(h - ph * dpi / 72) > 2:
            sys.stderr.write(f"page {i}: {w}x{h} pixels, not {size} points\n")
            return 1
        x, y, bw, bh = (float(v) for v in box.split(","))
        # Drawn with PostScript's origin at the bottom left.
        want = [x, ph - y - bh, x + bw, ph - y]
        if turns == "even" and i % 2 == 0:
            want = [pw - want[2], ph - want[3], pw - want[0], ph - want[1]]
        want = [v * dpi / 72 for v in want]
        if ink is None or any(abs(a - b) > 2 for a, b in zip(ink, want)):
            sys.stderr.write(f"page {i}: ink at {ink}, expected {want}\n")
            return 1
    return 0


def main(argv):
    if len(argv) >= 4 and argv[1] == "printers":
        printers(argv[2], argv[3:])
    elif len(argv) == 4 and argv[1] == "same":
        return same(argv[2], argv[3])
    elif len(argv) == 4 and argv[1] == "cut-short":
        return cut_short(argv[2], argv[3])
    elif len(argv) >= 5 and argv[1] == "pages":
        return pages(argv[2], argv[3], argv[4], argv[5:])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
