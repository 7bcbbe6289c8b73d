#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Emulated USB PostScript printers for the printer application (umockdev),
on the side-channel tests' rig: what PAPPL's USB device needs besides the
vendor status request of the driver.

Usage: usb_ps_rig.py SCENARIO.json DIR -- PROGRAM [ARGS...]

SCENARIO: [{"devnum": 2, "serial": "MP1", "id": "MFG:Lumora;MDL:MP2100 series;...",
"replies": ["03", "06"]}, ...]: the device id answers the class request
GET_DEVICE_ID; "replies" the vendor status requests (see usb_printer_rig.py).
The print data of each printer (bulk OUT) is kept in DIR/usb-DEVNUM.prn,
its events in DIR/usb.log. The exit status is PROGRAM's.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "sidechannel", "rigs"))
import usb_printer_rig as rig  # noqa: E402

SETINTERFACE = rig.ioc(2, 4, 8)
SETCONFIGURATION = rig.ioc(2, 5, 4)
GETDRIVER = rig.ioc(1, 8, 260)
CLEAR_HALT = rig.ioc(2, 21, 4)
RESET = rig.ioc(0, 20, 0)
ENODATA = 61
OUT_DIR = "."


class PsPrinter(rig.Printer):
    def __init__(self, spec):
        super().__init__(spec)
        self.device_id = spec.get("id", "")
        self.out = os.path.join(OUT_DIR, "usb-%d.prn" % self.devnum)
        open(self.out, "wb").close()

    def answer_control(self, setup, length):
        req_type, request, _, _, _ = struct.unpack("<BBHHH", setup)
        if req_type == 0xA1 and request == 0:  # GET_DEVICE_ID
            text = self.device_id.encode()
            return 0, (struct.pack(">H", len(text) + 2) + text)[:length]
        if req_type == 0xA1 and request == 1:  # GET_PORT_STATUS: selected, no error
            return 0, b"\x18"[:length]
        return super().answer_control(setup, length)

    def do_handle_ioctl(self, client):
        request = client.get_request()
        arg = client.get_arg()
        if request == rig.SUBMITURB:
            urb = arg.resolve(0, rig.URB_SIZE)
            raw = bytes(urb.retrieve())
            if raw[0] == 3:  # bulk
                length = struct.unpack_from("<i", raw, 24)[0]
                done = 0
                if raw[1] & 0x80 == 0 and length > 0:
                    with open(self.out, "ab") as f:
                        f.write(bytes(urb.resolve(16, length).retrieve()))
                    done = length
                urb.update(4, struct.pack("<i", 0))
                urb.update(28, struct.pack("<i", done))
                self.done.append(urb)
                client.complete(0, 0)
                return True
        elif request in (SETINTERFACE, SETCONFIGURATION, CLEAR_HALT, RESET):
            client.complete(0, 0)
            return True
        elif request == GETDRIVER:
            client.complete(-1, ENODATA)
            return True
        return super().do_handle_ioctl(client)


if __name__ == "__main__":
    OUT_DIR = sys.argv[2]
    rig.Printer = PsPrinter
    sys.argv[2] = os.path.join(OUT_DIR, "usb.log")
    sys.exit(rig.main())
