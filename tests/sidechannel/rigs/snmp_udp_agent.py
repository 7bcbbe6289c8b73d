#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""A bare UDP peer on 127.0.0.1:161 for what a real agent cannot do.

Usage: snmp_udp_agent.py LOG [--get HEX] [--set HEX]

Answers a datagram whose PDU tag (byte 13) is GetRequest (0xA0) with the
bytes HEX given to --get, a SetRequest (0xA3) with those of --set; without
the option it stays silent. Logs "T LENGTH HEX" per datagram (T in ms since
start) and prints "ready" on standard output once bound.
"""
import socket
import sys
import time


def main():
    log = open(sys.argv[1], "w")
    replies = {}
    args = sys.argv[2:]
    while len(args) >= 2:
        tag = {"--get": 0xA0, "--set": 0xA3}[args[0]]
        replies[tag] = bytes.fromhex(args[1])
        args = args[2:]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 161))
    print("ready", flush=True)
    start = time.monotonic()
    while True:
        data, peer = sock.recvfrom(4096)
        log.write("%d %d %s\n" % (int((time.monotonic() - start) * 1000), len(data), data.hex()))
        log.flush()
        tag = data[13] if len(data) > 13 else None
        if tag in replies:
            sock.sendto(replies[tag], peer)


if __name__ == "__main__":
    main()
