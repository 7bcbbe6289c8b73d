#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Helpers of the printer application's end-to-end tests.

  app_helpers.py free-port
      prints a TCP port free on 127.0.0.1
  app_helpers.py devices DIR NAME:MODE...
      network printers on 127.0.0.1: each NAME listens on a port of its own
      (written to DIR/NAME.port) and keeps every connection's bytes in
      DIR/NAME-K.prn (K = 1, 2, ...). MODE: "keep" takes everything;
      "gone-N" closes the connection after N bytes and stops listening (the
      printer is unplugged).
  app_helpers.py stalled-print PRINTER-URI FILE FRACTION GO-FILE
      Print-Job of a PWG raster file that stops after FRACTION of the file
      (in the middle of a page) until GO-FILE exists, then sends the rest;
      prints the response's status code
  app_helpers.py same-stream EXPECTED ACTUAL
      compares two job streams with the clock and host records masked
  app_helpers.py pause-printer PRINTER-URI USER PASSWORD
      Pause-Printer over TLS (any certificate) with Basic credentials;
      prints the HTTP status code
  app_helpers.py absurd-pwg OUT [COLOR-SPACE]
      a PWG raster page whose header claims 100000 x 100000 pixels on an A4
      sheet, followed by a few lines; with COLOR-SPACE an A4 page of that
      cupsColorSpace number
  app_helpers.py retry-print PRINTER-URI FILE SECONDS
      Print-Job of a PWG raster file sent again on server-error-busy (as
      CUPS's ipp backend does) until it is taken or SECONDS pass; prints
      "busy=N taken=N silent=N" (silent: no answer within 20 s)
  app_helpers.py race PRINTER-URI FILE FORMAT ROUNDS
      each round a job printed to its end, then a job cancelled as soon as
      it is taken; prints "rounds=N terminal=N" (terminal: both jobs ended)
  app_helpers.py kill-in-save PID STATE-FILE SECONDS
      SIGKILL to the server while it has its state file (or a new one
      beside it) open; prints the file it had open, or "none"
  app_helpers.py ipp URL USER PASSWORD OPERATION [NAME=VALUE...]
      one IPP request to URL (http://, https:// with any certificate, or
      unix:SOCKET-PATH:RESOURCE), with
      Basic credentials unless USER is empty; prints the HTTP status, then
      (on 200) the IPP status and any job-id or printer-id. NAME: as
      (requesting-user-name), job-id, printer-id, format, document (a file),
      last (last-document), name, driver, device (Create-Printer), location
      (Set-*-Attributes)
  app_helpers.py web URL USER PASSWORD [ACTION]
      GET of a web page, or with ACTION the POST of the page's form (its
      session token read from the page) with that action; prints the HTTP
      status
  app_helpers.py form URL USER PASSWORD NAME=VALUE...
      the POST of the page's form with these fields, as a browser sends it
      (session token read from the page); prints the HTTP status and the
      page it leads to (Location), then the banner of the answer, if any
  app_helpers.py supply-agent
      pass_persist handler of snmpd for the Printer MIB (.1.3.6.1.2.1.43):
      one black toner cartridge at 73 percent
"""
import urllib.parse
import base64
import http.client
import os
import re
import ssl
import socket
import struct
import sys
import threading
import time


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def serve(directory, name, mode):
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(8)
    with open(f"{directory}/{name}.port", "w") as f:
        f.write(f"{srv.getsockname()[1]}\n")
    count = 0
    while True:
        conn, _ = srv.accept()
        count += 1
        total = 0
        with open(f"{directory}/{name}-{count}.prn", "wb") as out:
            while True:
                data = conn.recv(16384)
                if not data:
                    break
                if mode.startswith("gone-"):
                    data = data[: max(0, int(mode[5:]) - total)]
                out.write(data)
                out.flush()
                total += len(data)
                if mode.startswith("gone-") and total >= int(mode[5:]):
                    conn.close()
                    srv.close()
                    return
        conn.close()


def devices(directory, specs):
    threads = []
    for spec in specs:
        name, mode = spec.split(":", 1)
        t = threading.Thread(target=serve, args=(directory, name, mode), daemon=True)
        t.start()
        threads.append(t)
    while True:
        time.sleep(3600)


def ipp_attr(tag, name, value):
    name, value = name.encode(), value.encode()
    return struct.pack(">BH", tag, len(name)) + name + struct.pack(">H", len(value)) + value


def stalled_print(uri, path, fraction, go_file):
    m = re.fullmatch(r"ipp://([^:/]+):(\d+)(/.*)", uri)
    host, port, resource = m.group(1), int(m.group(2)), m.group(3)
    request = (struct.pack(">BBHI", 2, 0, 0x0002, 1) + b"\x01"
               + ipp_attr(0x47, "attributes-charset", "utf-8")
               + ipp_attr(0x48, "attributes-natural-language", "en")
               + ipp_attr(0x45, "printer-uri", uri)
               + ipp_attr(0x42, "requesting-user-name", "tester")
               + ipp_attr(0x49, "document-format", "image/pwg-raster") + b"\x03")
    with open(path, "rb") as f:
        document = f.read()
    cut = int(len(document) * float(fraction))
    conn = socket.create_connection((host, port))
    conn.sendall(f"POST {resource} HTTP/1.1\r\nHost: {host}:{port}\r\n"
                 f"Content-Type: application/ipp\r\n"
                 f"Content-Length: {len(request) + len(document)}\r\n\r\n".encode())
    conn.sendall(request + document[:cut])
    while not os.path.exists(go_file):
        time.sleep(0.05)
    conn.sendall(document[cut:])
    reply = b""
    while b"\r\n\r\n" not in reply or len(reply) < reply.index(b"\r\n\r\n") + 12:
        data = conn.recv(65536)
        if not data:
            break
        reply += data
    conn.close()
    body = reply[reply.index(b"\r\n\r\n") + 4:] if b"\r\n\r\n" in reply else b""
    print(f"0x{struct.unpack('>H', body[2:4])[0]:04x}" if len(body) >= 4 else "none")


def pause_printer(uri, user, password):
    m = re.fullmatch(r"ipps://([^:/]+):(\d+)(/.*)", uri)
    host, port, resource = m.group(1), int(m.group(2)), m.group(3)
    request = (struct.pack(">BBHI", 2, 0, 0x0010, 1) + b"\x01"
               + ipp_attr(0x47, "attributes-charset", "utf-8")
               + ipp_attr(0x48, "attributes-natural-language", "en")
               + ipp_attr(0x45, "printer-uri", uri) + b"\x03")
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    token = base64.b64encode(f"{user}:{password}".encode()).decode()
    conn = http.client.HTTPSConnection(host, port, context=context, timeout=30)
    conn.request("POST", resource, body=request,
                 headers={"Content-Type": "application/ipp", "Authorization": f"Basic {token}"})
    print(conn.getresponse().status)


OPERATIONS = {
    "Print-Job": 0x02, "Create-Job": 0x05, "Send-Document": 0x06, "Cancel-Job": 0x08, "Get-Job-Attributes": 0x09,
    "Validate-Job": 0x04, "Cancel-My-Jobs": 0x39, "Hold-Job": 0x0C, "Release-Job": 0x0D, "Pause-Printer": 0x10, "Resume-Printer": 0x11,
    "Set-Printer-Attributes": 0x13, "Enable-Printer": 0x22, "Disable-Printer": 0x23,
    "Hold-New-Jobs": 0x25, "Release-Held-New-Jobs": 0x26, "Cancel-Current-Job": 0x2D,
    "Cancel-Jobs": 0x38, "Create-Printer": 0x4C, "Delete-Printer": 0x4E,
    "Pause-All-Printers": 0x5D, "Resume-All-Printers": 0x61, "Set-System-Attributes": 0x62,
    "Shutdown-All-Printers": 0x63, "Find-Devices": 0x402B,
}
# NAME=VALUE of the command line: (attribute, group tag, value tag)
REQUEST_ATTRS = {
    "as": ("requesting-user-name", 0x01, 0x42), "job-id": ("job-id", 0x01, 0x21),
    "printer-id": ("printer-id", 0x01, 0x21), "format": ("document-format", 0x01, 0x49),
    "name": ("printer-name", 0x04, 0x42), "driver": ("smi55357-driver", 0x01, 0x44),
    "device": ("smi55357-device-uri", 0x01, 0x45), "last": ("last-document", 0x01, 0x22),
    "compression": ("compression", 0x01, 0x44),
}
# NAME=VALUE naming a media-col collection with that media-size-name.
MEDIA_COLS = {"media-col-default": 0x04, "media-col": 0x02}


def media_col(name, size_name):
    member = b"media-size-name"
    return (struct.pack(">BH", 0x34, len(name)) + name.encode() + b"\x00\x00"
            + struct.pack(">BHH", 0x4A, 0, len(member)) + member
            + struct.pack(">BHH", 0x44, 0, len(size_name)) + size_name.encode()
            + struct.pack(">BHH", 0x37, 0, 0))


class UnixConnection(http.client.HTTPConnection):
    def __init__(self, path):
        super().__init__("localhost", timeout=60)
        self.path = path

    def connect(self):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(60)
        self.sock.connect(self.path)


def connect(url):
    if url.startswith("unix:"):
        path, resource = url[5:].split(":", 1)
        return UnixConnection(path), resource
    m = re.fullmatch(r"(https?)://([^:/]+):(\d+)(/.*)", url)
    scheme, host, port, resource = m.group(1), m.group(2), int(m.group(3)), m.group(4)
    if scheme == "https":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        return http.client.HTTPSConnection(host, port, context=context, timeout=60), resource
    return http.client.HTTPConnection(host, port, timeout=60), resource


def basic(user, password):
    if not user:
        return {}
    return {"Authorization": "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()}


def ipp_value(tag, value):
    if tag == 0x21:
        return struct.pack(">i", int(value))
    return bytes([value == "true"]) if tag == 0x22 else value.encode()


def ipp_request(url, user, password, operation, pairs):
    op = OPERATIONS[operation]
    conn, resource = connect(url)
    host = "localhost" if url.startswith("unix:") else url.split("/")[2]
    target = ("ipps://" if url.startswith("https") else "ipp://") + host + resource
    system = resource.startswith("/ipp/system")
    attrs = [("attributes-charset", 0x01, 0x47, "utf-8"),
             ("attributes-natural-language", 0x01, 0x48, "en"),
             ("system-uri" if system else "printer-uri", 0x01, 0x45, target)]
    if op == 0x4C:
        attrs.append(("printer-service-type", 0x01, 0x44, "print"))
    document = b""
    for pair in pairs:
        key, value = pair.split("=", 1)
        if key == "document":
            with open(value, "rb") as f:
                document = f.read()
        elif key in MEDIA_COLS:
            attrs.append((key, MEDIA_COLS[key], None, value))
        elif key == "location":
            attrs.append(("system-location" if system else "printer-location",
                          0x0A if system else 0x04, 0x41, value))
        else:
            attrs.append(REQUEST_ATTRS[key] + (value,))
    body = struct.pack(">BBHI", 2, 0, op, 1)
    group = None
    for name, group_tag, tag, value in sorted(attrs, key=lambda a: a[1]):
        if group_tag != group:
            body += bytes([group_tag])
            group = group_tag
        if tag is None:
            body += media_col(name, value)
            continue
        v = ipp_value(tag, value)
        body += struct.pack(">BH", tag, len(name)) + name.encode() + struct.pack(">H", len(v)) + v
    body += b"\x03" + document
    headers = {"Content-Type": "application/ipp", **basic(user, password)}
    conn.request("POST", resource, body=body, headers=headers)
    response = conn.getresponse()
    reply = response.read()
    if response.status != 200 or len(reply) < 8:
        print(response.status)
        return
    found = [f"0x{struct.unpack('>H', reply[2:4])[0]:04x}"]
    for key in (b"job-id", b"printer-id"):
        k = reply.find(b"\x21" + struct.pack(">H", len(key)) + key + b"\x00\x04")
        if k >= 0:
            start = k + 3 + len(key) + 2
            found.append(f"{key.decode()}={struct.unpack('>i', reply[start:start + 4])[0]}")
    print(" ".join(["200"] + found))


def web(url, user, password, action=None):
    conn, resource = connect(url)
    if action is None:
        conn.request("GET", resource, headers=basic(user, password))
        response = conn.getresponse()
        response.read()
        print(response.status)
        return
    conn.request("GET", resource)
    page = conn.getresponse().read().decode(errors="replace")
    token = re.search(r'name="session" value="([^"]*)"', page)
    form = f"action={action}&session={token.group(1) if token else ''}"
    headers = {"Content-Type": "application/x-www-form-urlencoded", **basic(user, password)}
    conn.close()
    conn, resource = connect(url)
    conn.request("POST", resource, body=form, headers=headers)
    response = conn.getresponse()
    response.read()
    print(response.status)


def post_ipp(host, port, resource, body, timeout=20):
    """One IPP request on a connection of its own: (status code, reply body)
    or (None, b"") when no answer comes in time."""
    conn = http.client.HTTPConnection(host, port, timeout=timeout)
    try:
        conn.request("POST", resource, body=body, headers={"Content-Type": "application/ipp"})
        response = conn.getresponse()
        reply = response.read()
    except (socket.timeout, TimeoutError):
        return None, b""
    except (ConnectionError, http.client.HTTPException):
        return -1, b""
    finally:
        conn.close()
    if response.status != 200 or len(reply) < 8:
        return -response.status, reply
    return struct.unpack(">H", reply[2:4])[0], reply


def job_request(op, uri, extra=b"", job_id=None):
    body = (struct.pack(">BBHI", 2, 0, op, 1) + b"\x01"
            + ipp_attr(0x47, "attributes-charset", "utf-8")
            + ipp_attr(0x48, "attributes-natural-language", "en")
            + ipp_attr(0x45, "printer-uri", uri)
            + ipp_attr(0x42, "requesting-user-name", "tester"))
    if job_id is not None:
        body += struct.pack(">BH", 0x21, 6) + b"job-id" + struct.pack(">Hi", 4, job_id)
    return body + extra + b"\x03"


def reply_int(reply, key, tag=0x21):
    k = reply.find(bytes([tag]) + struct.pack(">H", len(key)) + key + b"\x00\x04")
    if k < 0:
        return None
    start = k + 3 + len(key) + 2
    return struct.unpack(">i", reply[start:start + 4])[0]


def split_uri(uri):
    m = re.fullmatch(r"ipp://([^:/]+):(\d+)(/.*)", uri)
    return m.group(1), int(m.group(2)), m.group(3)


def retry_print(uri, path, seconds):
    host, port, resource = split_uri(uri)
    with open(path, "rb") as f:
        document = f.read()
    body = job_request(0x0002, uri, ipp_attr(0x49, "document-format", "image/pwg-raster")) + document
    counts = {"busy": 0, "taken": 0, "silent": 0}
    end = time.time() + float(seconds)
    while time.time() < end:
        status, _ = post_ipp(host, port, resource, body)
        if status is None:
            counts["silent"] += 1
        elif status == 0x0507:
            counts["busy"] += 1
            time.sleep(0.02)
        elif status == 0:
            counts["taken"] += 1
            break
    print(" ".join(f"{k}={v}" for k, v in counts.items()))


ALL = ipp_attr(0x44, "requested-attributes", "all")


def job_state(host, port, resource, uri, job_id):
    # All of the job's attributes, as a client polling a printing job asks.
    status, reply = post_ipp(host, port, resource, job_request(0x0009, uri, ALL, job_id=job_id))
    return reply_int(reply, b"job-state", 0x23) if status == 0 else None


def wait_terminal(host, port, resource, uri, job_id, limit=60):
    end = time.time() + limit
    while time.time() < end:
        if job_state(host, port, resource, uri, job_id) in (7, 8, 9):
            return True
        post_ipp(host, port, resource, job_request(0x000A, uri, ALL))  # Get-Jobs
        time.sleep(0.02)
    return False


def race(uri, path, fmt, rounds):
    host, port, resource = split_uri(uri)
    with open(path, "rb") as f:
        document = f.read()
    # A small paper: the race is in starting and cancelling jobs, not in
    # the page.
    extra = ipp_attr(0x49, "document-format", fmt) + b"\x02" + ipp_attr(0x44, "media", "iso_a6_105x148mm")
    body = job_request(0x0002, uri, extra) + document
    terminal = 0
    for _ in range(int(rounds)):
        status, reply = post_ipp(host, port, resource, body)
        first = reply_int(reply, b"job-id") if status == 0 else None
        if first is None or not wait_terminal(host, port, resource, uri, first):
            break
        status, reply = post_ipp(host, port, resource, body)
        second = reply_int(reply, b"job-id") if status == 0 else None
        if second is None:
            break
        post_ipp(host, port, resource, job_request(0x0008, uri, job_id=second))
        if not wait_terminal(host, port, resource, uri, second):
            break
        terminal += 1
    print(f"rounds={rounds} terminal={terminal}")


def kill_in_save(pid, state, seconds):
    end = time.time() + float(seconds)
    fds = f"/proc/{pid}/fd"
    while time.time() < end:
        try:
            names = os.listdir(fds)
        except OSError:
            break
        for name in names:
            try:
                target = os.readlink(f"{fds}/{name}")
            except OSError:
                continue
            if target.startswith(state):
                os.kill(int(pid), 9)
                print(target)
                return
    print("none")


def form(url, user, password, pairs):
    conn, resource = connect(url)
    conn.request("GET", resource, headers=basic(user, password))
    page = conn.getresponse().read().decode(errors="replace")
    conn.close()
    token = re.search(r'name="session" value="([^"]*)"', page)
    fields = [("session", token.group(1) if token else "")] + [p.split("=", 1) for p in pairs]
    headers = {"Content-Type": "application/x-www-form-urlencoded", **basic(user, password)}
    conn, resource = connect(url)
    conn.request("POST", resource, body=urllib.parse.urlencode(fields), headers=headers)
    response = conn.getresponse()
    answer = response.read().decode(errors="replace")
    banner = re.search(r'<div class="banner">([^<]*)</div>', answer)
    print(response.status, response.getheader("Location", "-"), banner.group(1) if banner else "")


# The Printer MIB of one black toner cartridge: (OID, type, value), sorted.
PRINTER_MIB = [
    (".1.3.6.1.2.1.43.5.1.1.2.1", "integer", "1"),             # prtGeneralCurrentLocalization
    (".1.3.6.1.2.1.43.7.1.1.4.1.1", "integer", "106"),         # character set: UTF-8
    (".1.3.6.1.2.1.43.11.1.1.3.1.1", "integer", "1"),          # colorant index
    (".1.3.6.1.2.1.43.11.1.1.4.1.1", "integer", "3"),          # class: consumed
    (".1.3.6.1.2.1.43.11.1.1.5.1.1", "integer", "3"),          # type: toner
    (".1.3.6.1.2.1.43.11.1.1.6.1.1", "string", "Black Toner Cartridge LT-100"),
    (".1.3.6.1.2.1.43.11.1.1.7.1.1", "integer", "19"),         # unit: percent
    (".1.3.6.1.2.1.43.11.1.1.8.1.1", "integer", "100"),        # max capacity
    (".1.3.6.1.2.1.43.11.1.1.9.1.1", "integer", "73"),         # level
    (".1.3.6.1.2.1.43.12.1.1.4.1.1", "string", "black"),       # colorant
]


def oid_key(oid):
    return [int(p) for p in oid.strip(".").split(".")]


def supply_agent():
    lines = iter(sys.stdin.readline, "")
    for line in lines:
        cmd = line.strip()
        if cmd == "PING":
            print("PONG", flush=True)
        elif cmd in ("get", "getnext"):
            oid = next(lines).strip()
            if cmd == "get":
                found = [row for row in PRINTER_MIB if row[0] == oid]
            else:
                found = [row for row in PRINTER_MIB if oid_key(row[0]) > oid_key(oid)]
            print("\n".join(found[0]) if found else "NONE", flush=True)
        elif cmd == "set":
            next(lines)
            next(lines)
            print("not-writable", flush=True)


def mask(data):
    date = b"\x0b\x08\x1f"
    p = data.find(date)
    if p >= 0 and p + 8 <= len(data):
        data = data[: p + 3] + b"#####" + data[p + 8:]
    for key in (b"@PJL JOBTIME=", b"@PJL JOBOWNER="):
        k = data.find(key)
        if k >= 0:
            end = data.find(b"\r\n", k)
            if end >= 0:
                data = data[: k + len(key)] + b"#" + data[end:]
    return data


def same_stream(expected, actual):
    with open(expected, "rb") as f:
        a = mask(f.read())
    with open(actual, "rb") as f:
        b = mask(f.read())
    if a == b:
        return 0
    first = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
    sys.stderr.write(f"{actual}: {len(b)} bytes, expected {len(a)}; first difference at {first}\n")
    return 1


def absurd_pwg(out, color_space=None):
    """A PWG raster (RaS2) page header of 1796 bytes with a huge page (or
    an A4 page of an odd colour space)."""
    header = bytearray(1796)

    def put(offset, value):
        struct.pack_into(">I", header, offset, value)

    header[0:9] = b"PwgRaster"
    put(276, 600)          # HWResolution
    put(280, 600)
    put(352, 595)          # PageSize
    put(356, 842)
    put(372, 100000)       # cupsWidth
    put(376, 100000)       # cupsHeight
    put(384, 8)            # cupsBitsPerColor
    put(388, 8)            # cupsBitsPerPixel
    put(392, 100000)       # cupsBytesPerLine
    put(396, 0)            # cupsColorOrder: chunky
    put(400, 18)           # cupsColorSpace: sGray
    put(420, 1)            # cupsNumColors
    lines = b"\x00\xff" * 64
    if color_space is not None:
        put(372, 4960)
        put(376, 7016)
        put(392, 4960)
        put(400, color_space)
        lines = b"\x00\xff" * 7016
    with open(out, "wb") as f:
        f.write(b"RaS2" + bytes(header) + lines)


def main(argv):
    if len(argv) == 2 and argv[1] == "free-port":
        print(free_port())
    elif len(argv) >= 4 and argv[1] == "devices":
        devices(argv[2], argv[3:])
    elif len(argv) == 4 and argv[1] == "same-stream":
        return same_stream(argv[2], argv[3])
    elif len(argv) == 6 and argv[1] == "stalled-print":
        stalled_print(argv[2], argv[3], argv[4], argv[5])
    elif len(argv) == 5 and argv[1] == "pause-printer":
        pause_printer(argv[2], argv[3], argv[4])
    elif len(argv) in (3, 4) and argv[1] == "absurd-pwg":
        absurd_pwg(argv[2], int(argv[3]) if len(argv) == 4 else None)
    elif len(argv) == 5 and argv[1] == "retry-print":
        retry_print(argv[2], argv[3], argv[4])
    elif len(argv) == 6 and argv[1] == "race":
        race(argv[2], argv[3], argv[4], argv[5])
    elif len(argv) == 5 and argv[1] == "kill-in-save":
        kill_in_save(argv[2], argv[3], argv[4])
    elif len(argv) >= 6 and argv[1] == "ipp":
        ipp_request(argv[2], argv[3], argv[4], argv[5], argv[6:])
    elif len(argv) >= 5 and argv[1] == "form":
        form(argv[2], argv[3], argv[4], argv[5:])
    elif len(argv) == 2 and argv[1] == "supply-agent":
        supply_agent()
    elif len(argv) in (5, 6) and argv[1] == "web":
        web(argv[2], argv[3], argv[4], argv[5] if len(argv) == 6 else None)
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
