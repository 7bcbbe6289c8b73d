#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Emulated USB printers for libusb-1.0, built with umockdev.

Usage: usb_printer_rig.py SCENARIO.json LOG -- PROGRAM [ARGS...]

SCENARIO lists the printers: [{"devnum": 2, "serial": "ABC" | "" | null,
"replies": ["06", "stall", "empty", "8600ff"]}, ...]. A null serial gives a
device without a serial string index. Each vendor status request (0xC1,
request 0) takes the next reply (the last one repeats): hex bytes, "stall"
(the endpoint stalls) or "empty" (no data).

PROGRAM runs inside the testbed (libumockdev-preload); this process answers
its usbdevfs ioctls. LOG gets one line per event with the time in ms since
the start: "T devnum open|close|string IDX|status LEN -> REPLY".
The exit status is PROGRAM's.
"""
import json
import os
import struct
import sys
import time

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import GLib, UMockdev  # noqa: E402


def ioc(direction, nr, size):
    return (direction << 30) | (size << 16) | (ord("U") << 8) | nr


URB_SIZE = 56
SUBMITURB = ioc(2, 10, URB_SIZE)
DISCARDURB = ioc(0, 11, 0)
REAPURB = ioc(1, 12, 8)
REAPURBNDELAY = ioc(1, 13, 8)
CLAIMINTERFACE = ioc(2, 15, 4)
RELEASEINTERFACE = ioc(2, 16, 4)
CONNECTINFO = ioc(1, 17, 8)
GET_CAPABILITIES = ioc(2, 26, 4)
EAGAIN, EPIPE, EINVAL, ENOTTY = 11, 32, 22, 25

START = time.monotonic()
LOG = None


def log(devnum, text):
    LOG.write("%d %d %s\n" % (int((time.monotonic() - START) * 1000), devnum, text))
    LOG.flush()


def string_descriptor(text):
    data = text.encode("utf-16-le")
    return bytes([2 + len(data), 3]) + data


def descriptors(serial_index):
    device = struct.pack("<BBHBBBBHHHBBBB", 18, 1, 0x0200, 0, 0, 0, 64,
                         0x1d6b, 0x0104, 0x0100, 1, 2, serial_index, 1)
    config = struct.pack("<BBHBBBBB", 9, 2, 9 + 9 + 7 + 7, 1, 1, 0, 0xC0, 1)
    interface = struct.pack("<BBBBBBBBB", 9, 4, 0, 0, 2, 7, 1, 2, 0)
    ep_out = struct.pack("<BBBBHB", 7, 5, 0x01, 2, 512, 0)
    ep_in = struct.pack("<BBBBHB", 7, 5, 0x82, 2, 512, 0)
    return device + config + interface + ep_out + ep_in


class Printer(UMockdev.IoctlBase):
    def __init__(self, spec):
        super().__init__()
        self.devnum = spec["devnum"]
        self.serial = spec.get("serial")
        self.replies = list(spec.get("replies", ["07"]))
        self.done = []  # reaped in order
        self.connect("client-vanished", lambda base, client: log(self.devnum, "close"))

    def next_reply(self):
        if len(self.replies) > 1:
            return self.replies.pop(0)
        return self.replies[0] if self.replies else "07"

    def answer_control(self, setup, length):
        """Returns (status, payload) for a control transfer."""
        req_type, request, value, index, _ = struct.unpack("<BBHHH", setup)
        if req_type == 0x80 and request == 6 and (value >> 8) == 3:
            idx = value & 0xFF
            if idx == 0:
                return 0, bytes([4, 3, 0x09, 0x04])[:length]
            log(self.devnum, "string %d" % idx)
            if idx == 3 and self.serial is not None:
                return 0, string_descriptor(self.serial)[:length]
            if idx == 1:
                return 0, string_descriptor("Lumora")[:length]
            if idx == 2:
                return 0, string_descriptor("Printer")[:length]
            return -EPIPE, b""
        if req_type == 0xC1 and request == 0:
            reply = self.next_reply()
            log(self.devnum, "status %d -> %s" % (length, reply))
            if reply == "stall":
                return -EPIPE, b""
            if reply == "empty":
                return 0, b""
            return 0, bytes.fromhex(reply)[:length]
        log(self.devnum, "control %02x %02x" % (req_type, request))
        return -EPIPE, b""

    def do_client_connected(self, client):
        log(self.devnum, "open")

    def do_handle_ioctl(self, client):
        request = client.get_request()
        arg = client.get_arg()
        if request == SUBMITURB:
            urb = arg.resolve(0, URB_SIZE)
            raw = bytes(urb.retrieve())
            urb_type, endpoint = raw[0], raw[1]
            length = struct.unpack_from("<i", raw, 24)[0]
            status, payload = -EPIPE, b""
            if urb_type == 2 and length >= 8:  # control
                buf = urb.resolve(16, length)
                setup = bytes(buf.retrieve())[:8]
                status, payload = self.answer_control(setup, length - 8)
                if payload:
                    buf.update(8, payload)
            else:
                log(self.devnum, "urb type %d ep %02x" % (urb_type, endpoint))
            urb.update(4, struct.pack("<i", status))
            urb.update(28, struct.pack("<i", len(payload)))
            self.done.append(urb)
            client.complete(0, 0)
        elif request in (REAPURB, REAPURBNDELAY):
            if self.done:
                arg.resolve(0, 8).set_ptr(0, self.done.pop(0))
                client.complete(0, 0)
            else:
                client.complete(-1, EAGAIN)
        elif request == DISCARDURB:
            client.complete(-1, EINVAL)
        elif request == GET_CAPABILITIES:
            arg.resolve(0, 4).update(0, struct.pack("<I", 0))
            client.complete(0, 0)
        elif request in (CLAIMINTERFACE, RELEASEINTERFACE):
            client.complete(0, 0)
        elif request == CONNECTINFO:
            arg.resolve(0, 8).update(0, struct.pack("<IBxxx", self.devnum, 0))
            client.complete(0, 0)
        else:
            log(self.devnum, "ioctl %x" % request)
            client.complete(-1, ENOTTY)
        return True


def main():
    global LOG
    if len(sys.argv) < 5 or sys.argv[3] != "--":
        sys.stderr.write(__doc__)
        return 2
    with open(sys.argv[1]) as f:
        scenario = json.load(f)
    LOG = open(sys.argv[2], "w")
    testbed = UMockdev.Testbed.new()
    printers = []
    for spec in scenario:
        devnum = spec["devnum"]
        node = "/dev/bus/usb/001/%03d" % devnum
        serial_index = 0 if spec.get("serial") is None else 3
        syspath = testbed.add_device(
            "usb", "1-%d" % devnum, None,
            ["busnum", "1", "devnum", str(devnum), "speed", "480", "dev", "189:%d" % devnum,
             "bConfigurationValue", "1", "bNumConfigurations", "1"],
            ["DEVNAME", node, "DEVTYPE", "usb_device", "BUSNUM", "001",
             "DEVNUM", "%03d" % devnum])
        testbed.set_attribute_binary(syspath, "descriptors", descriptors(serial_index))
        # The device node itself (umockdev maps its number; the file must exist).
        path = testbed.get_root_dir() + node
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "wb").close()
        printer = Printer(spec)
        testbed.attach_ioctl(node, printer)
        printers.append(printer)

    env = dict(os.environ)
    env["UMOCKDEV_DIR"] = testbed.get_root_dir()
    preload = "libumockdev-preload.so.0"
    env["LD_PRELOAD"] = preload + (":" + env["LD_PRELOAD"] if env.get("LD_PRELOAD") else "")
    # A sanitizer build must accept the preload library in front of its runtime.
    asan = env.get("ASAN_OPTIONS", "")
    env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0"
    argv = sys.argv[4:]
    pid, _, _, _ = GLib.spawn_async(argv, envp=["%s=%s" % kv for kv in env.items()],
                                    flags=GLib.SpawnFlags.DO_NOT_REAP_CHILD | GLib.SpawnFlags.SEARCH_PATH)
    loop = GLib.MainLoop()
    result = {}

    def child_done(pid, status):
        result["status"] = status
        loop.quit()

    GLib.child_watch_add(GLib.PRIORITY_DEFAULT, pid, child_done)
    loop.run()
    LOG.close()
    status = result.get("status", 1)
    if os.WIFEXITED(status):
        return os.WEXITSTATUS(status)
    return 128 + (os.WTERMSIG(status) if os.WIFSIGNALED(status) else 0)


if __name__ == "__main__":
    sys.exit(main())
