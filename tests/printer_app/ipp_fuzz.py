#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""A bounded IPP fuzz of a printer application's printer.

  ipp_fuzz.py PRINTER-URI COUNT SEED PWG JPEG PDF

COUNT requests, each on a connection of its own (seeded, so a run can be
repeated): every job attribute the printer lists in
job-creation-attributes-supported with values of wrong types, sizes and
counts; requests missing their required attributes or with groups out of
order; random operations; bodies cut short; documents of another format
than the one named; PWG raster with absurd page headers. Every 250
requests, and at the end, Get-Printer-Attributes must be answered. Prints
"requests=N answered=N closed=N silent=N healthy=yes|no" (closed: the
server closed the connection without an answer; silent: no answer within
15 s) and exits 1 when the server stopped answering.
"""
import http.client
import random
import re
import socket
import struct
import sys

STRING_TAGS = [0x41, 0x42, 0x44, 0x45, 0x47, 0x48, 0x49]
ALL_TAGS = [0x10, 0x12, 0x13, 0x21, 0x22, 0x23, 0x30, 0x31, 0x32, 0x33, 0x34] + STRING_TAGS
OPERATIONS = list(range(0x02, 0x3A)) + [0x4C, 0x4E, 0x5D, 0x61, 0x62, 0x63, 0x402B, 0x7FFF]
SIZES = ["iso_a4_210x297mm", "na_letter_8.5x11in", "no_such_size", "custom_1x1in", "", "x" * 300]


def attr(tag, name, value):
    name = name.encode() if isinstance(name, str) else name
    return struct.pack(">BH", tag, len(name)) + name + struct.pack(">H", len(value)) + value


def text(rnd, known):
    choice = rnd.randrange(6)
    if choice == 0 and known:
        return rnd.choice(known).encode()
    return [b"", b"x" * rnd.choice([1, 255, 1023, 32767]), "ünï\u2028".encode(),
            bytes(rnd.randrange(256) for _ in range(rnd.randrange(1, 40))),
            b"%s%n%x$(touch /tmp/x)", b"-1"][choice - 1 if choice else 0]


def collection(rnd, name, depth=0):
    body = attr(0x34, name, b"")
    for _ in range(rnd.randrange(4)):
        member = rnd.choice(["media-size-name", "media-size", "media-source", "media-type",
                             "x-dimension", "media-top-margin", "unknown-member"])
        body += attr(0x4A, b"", member.encode())
        if member == "media-size" and depth < 3:
            body += collection(rnd, b"", depth + 1)
        elif member in ("x-dimension", "media-top-margin"):
            body += attr(0x21, b"", struct.pack(">i", rnd.choice([0, -1, 21000, 2**31 - 1])))
        else:
            body += attr(rnd.choice([0x44, 0x42, 0x21]), b"", rnd.choice(SIZES).encode()[:4 * 1024])
    if rnd.randrange(8):
        body += attr(0x37, b"", b"")
    return body


def value(rnd, tag, name, known):
    if tag in (0x10, 0x12, 0x13):
        return attr(tag, name, b"")
    if tag in (0x21, 0x23):
        v = struct.pack(">i", rnd.choice([0, -1, 1, 3, 7, 100000, 2**31 - 1, -2**31]))
        return attr(tag, name, rnd.choice([v, v, v[:2], v + v, b""]))
    if tag == 0x22:
        return attr(tag, name, rnd.choice([b"\x00", b"\x01", b"\x02", b"", b"\x01\x01"]))
    if tag == 0x31:
        return attr(tag, name, bytes(rnd.randrange(256) for _ in range(rnd.choice([11, 11, 3]))))
    if tag == 0x32:
        return attr(tag, name, struct.pack(">iib", rnd.choice([0, -600, 600, 1200, 2**31 - 1]),
                                           rnd.choice([0, 600, 1]), rnd.choice([3, 4, 0, 9])))
    if tag == 0x33:
        return attr(tag, name, struct.pack(">ii", rnd.choice([1, 0, -5, 9]), rnd.choice([1, 0, -1, 2**31 - 1])))
    if tag == 0x34:
        return collection(rnd, name)
    return attr(tag, name, text(rnd, known))


def header(op, uri, rnd=None, version=(2, 0), request_id=1):
    body = struct.pack(">BBHI", version[0], version[1], op, request_id) + b"\x01"
    body += attr(0x47, "attributes-charset", b"utf-8") + attr(0x48, "attributes-natural-language", b"en")
    key = "system-uri" if "/ipp/system" in uri else "printer-uri"
    return body + attr(0x45, key, uri.encode()) + attr(0x42, "requesting-user-name", b"fuzz")


class Fuzz:
    def __init__(self, uri, seed, documents):
        m = re.fullmatch(r"ipp://([^:/]+):(\d+)(/.*)", uri)
        self.host, self.port, self.resource = m.group(1), int(m.group(2)), m.group(3)
        self.uri = uri
        self.rnd = random.Random(seed)
        self.documents = documents
        self.counts = {"answered": 0, "closed": 0, "silent": 0}
        self.attributes, self.keywords = self.printer_attributes()

    def send(self, body, resource=None, declared=None):
        """One request; returns the IPP status, or None without an answer."""
        sock = socket.create_connection((self.host, self.port), timeout=15)
        length = len(body) if declared is None else declared
        head = (f"POST {resource or self.resource} HTTP/1.1\r\nHost: {self.host}:{self.port}\r\n"
                f"Content-Type: application/ipp\r\nContent-Length: {length}\r\n"
                f"Connection: close\r\n\r\n").encode()
        reply = b""
        try:
            sock.sendall(head + body)
            if declared is not None:
                sock.shutdown(socket.SHUT_WR)
            while True:
                data = sock.recv(65536)
                if not data:
                    break
                reply += data
                if self.complete(reply):
                    break
        except socket.timeout:
            self.counts["silent"] += 1
            return None
        except OSError:
            pass
        finally:
            sock.close()
        if not reply:
            self.counts["closed"] += 1
            return None
        self.counts["answered"] += 1
        body = reply.split(b"\r\n\r\n", 1)[-1]
        return struct.unpack(">H", body[2:4])[0] if len(body) >= 4 else None

    @staticmethod
    def complete(reply):
        head, sep, body = reply.partition(b"\r\n\r\n")
        if not sep:
            return False
        m = re.search(rb"Content-Length: *(\d+)", head, re.I)
        return (m and len(body) >= int(m.group(1))) or body.endswith(b"0\r\n\r\n")

    def printer_attributes(self):
        body = header(0x000B, self.uri) + b"\x03"
        conn = http.client.HTTPConnection(self.host, self.port, timeout=30)
        conn.request("POST", self.resource, body=body, headers={"Content-Type": "application/ipp"})
        reply = conn.getresponse().read()
        names, keywords, pos, last = [], [], 9, ""
        while pos + 3 <= len(reply) and reply[pos] != 0x03:
            tag = reply[pos]
            if tag < 0x10:
                pos += 1
                continue
            nlen = struct.unpack(">H", reply[pos + 1:pos + 3])[0]
            name = reply[pos + 3:pos + 3 + nlen].decode(errors="replace")
            vlen = struct.unpack(">H", reply[pos + 3 + nlen:pos + 5 + nlen])[0]
            data = reply[pos + 5 + nlen:pos + 5 + nlen + vlen]
            pos += 5 + nlen + vlen
            last = name or last
            if last == "job-creation-attributes-supported" and tag == 0x44:
                names.append(data.decode())
            elif tag == 0x44:
                keywords.append(data.decode(errors="replace"))
        return names or ["copies", "media", "sides"], keywords

    def job_attributes(self):
        out = b""
        for _ in range(self.rnd.randrange(1, 4)):
            name = self.rnd.choice(self.attributes)
            tag = self.rnd.choice(ALL_TAGS)
            out += value(self.rnd, tag, name, self.keywords)
            for _ in range(self.rnd.choice([0, 0, 1, 70])):
                out += value(self.rnd, tag, b"", self.keywords)
        return out

    def document(self):
        fmt, data = self.rnd.choice(self.documents)
        return fmt, data

    def one(self):
        r = self.rnd
        kind = r.choice(["attr", "attr", "attr", "missing", "op", "truncated", "mismatch", "raster"])
        if kind == "attr":
            op = r.choice([0x0004, 0x0004, 0x0002, 0x0005])
            fmt, data = self.document()
            body = header(op, self.uri) + attr(0x49, "document-format", fmt.encode())
            body += b"\x02" + self.job_attributes() + b"\x03"
            return self.send(body + (data if op == 0x0002 else b""))
        if kind == "missing":
            parts = [attr(0x47, "attributes-charset", b"utf-8"), attr(0x48, "attributes-natural-language", b"en"),
                     attr(0x45, "printer-uri", self.uri.encode()), attr(0x21, "job-id", struct.pack(">i", r.randrange(-2, 50)))]
            r.shuffle(parts)
            parts = parts[:r.randrange(len(parts) + 1)]
            groups = [b"\x01", b"\x02", b"\x04", b"\x01"]
            body = struct.pack(">BBHI", r.choice([0, 1, 2, 9]), r.choice([0, 1]), r.choice(OPERATIONS),
                               r.choice([1, 0, -1 & 0xFFFFFFFF]))
            for p in parts:
                body += r.choice(groups) + p
            return self.send(body + b"\x03")
        if kind == "op":
            uri = self.uri if r.randrange(3) else re.sub(r"/ipp/print/.*", "/ipp/system", self.uri)
            body = header(r.choice(OPERATIONS), uri) + attr(0x21, "job-id", struct.pack(">i", r.randrange(1, 30)))
            body += r.choice([b"\x02", b"\x04", b"\x01"]) + self.job_attributes() + b"\x03"
            return self.send(body, resource="/ipp/system" if uri.endswith("/ipp/system") else None)
        if kind == "truncated":
            fmt, data = self.document()
            body = header(0x0002, self.uri) + attr(0x49, "document-format", fmt.encode()) + b"\x03" + data
            return self.send(body[:r.randrange(1, len(body))], declared=len(body))
        if kind == "mismatch":
            fmt, _ = self.document()
            _, data = self.document()
            data = data if r.randrange(3) else bytes(r.randrange(256) for _ in range(r.randrange(1, 5000)))
            body = header(0x0002, self.uri) + attr(0x49, "document-format", fmt.encode()) + b"\x03"
            return self.send(body + data)
        return self.send(header(0x0002, self.uri) + attr(0x49, "document-format", b"image/pwg-raster")
                         + b"\x03" + self.absurd_raster())

    def absurd_raster(self):
        r = self.rnd
        h = bytearray(1796)
        h[0:9] = b"PwgRaster"
        fields = {276: 600, 280: 600, 352: 595, 356: 842, 372: 4960, 376: 7016, 384: 8, 388: 8,
                  392: 4960, 400: 18, 420: 1, 368: 1}
        for offset in r.sample(sorted(fields), r.randrange(1, 4)):
            fields[offset] = r.choice([0, 1, 3, 16, 24, 255, 65535, 100000, 2**31 - 1, 2**32 - 1])
        for offset, v in fields.items():
            struct.pack_into(">I", h, offset, v)
        lines = bytes([0, 0xFF]) * r.choice([0, 1, 64, 4000])
        return b"RaS2" + bytes(h) + lines + (b"RaS2" if r.randrange(2) else b"")

    def healthy(self):
        for _ in range(3):
            conn = http.client.HTTPConnection(self.host, self.port, timeout=15)
            try:
                conn.request("POST", self.resource, body=header(0x000B, self.uri) + b"\x03",
                             headers={"Content-Type": "application/ipp"})
                reply = conn.getresponse().read()
                if len(reply) >= 4 and struct.unpack(">H", reply[2:4])[0] == 0:
                    return True
            except OSError:
                pass
            finally:
                conn.close()
        return False


def main(argv):
    if len(argv) != 7:
        sys.stderr.write(__doc__)
        return 2
    docs = []
    for fmt, path in zip(["image/pwg-raster", "image/jpeg", "application/pdf"], argv[4:7]):
        with open(path, "rb") as f:
            docs.append((fmt, f.read()))
    fuzz = Fuzz(argv[1], int(argv[3]), docs)
    healthy = True
    count = int(argv[2])
    for i in range(count):
        fuzz.one()
        if (i + 1) % 250 == 0 and not fuzz.healthy():
            healthy = False
            count = i + 1
            break
    healthy = healthy and fuzz.healthy()
    c = fuzz.counts
    print(f"requests={count} answered={c['answered']} closed={c['closed']} silent={c['silent']} "
          f"healthy={'yes' if healthy else 'no'}")
    return 0 if healthy else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
