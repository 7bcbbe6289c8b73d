#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""pass_persist handler for snmpd: the printer's job-record subtree.

Usage (snmpd.conf): pass_persist .1.3.6.1.4.1.1840417.1 job_record_passpersist.py RECORD LOG

GET .1.3.6.1.4.1.1840417.1.1.3.16.2 answers an OCTET STRING whose bytes are
the hex text in the file RECORD (read anew on every request); SET of
.1.3.6.1.4.1.1840417.1.1.4.13 (the keep-alive) is accepted. Every request
is appended to LOG as "get OID", "set OID TYPE VALUE".
"""
import sys

JOB_RECORD = ".1.3.6.1.4.1.1840417.1.1.3.16.2"
KEEP_ALIVE = ".1.3.6.1.4.1.1840417.1.1.4.13"


def main():
    record_path, log_path = sys.argv[1], sys.argv[2]
    log = open(log_path, "a")
    lines = iter(sys.stdin.readline, "")
    for line in lines:
        cmd = line.strip()
        if cmd == "PING":
            print("PONG", flush=True)
        elif cmd in ("get", "getnext"):
            oid = next(lines).strip()
            log.write("%s %s\n" % (cmd, oid))
            log.flush()
            if cmd == "get" and oid == JOB_RECORD:
                with open(record_path) as f:
                    data = bytes.fromhex(f.read())
                print(JOB_RECORD, "octet", " ".join("%02X" % b for b in data), sep="\n",
                      flush=True)
            elif cmd == "get" and oid == KEEP_ALIVE:
                # snmpd reads the object before it sets it.
                print(KEEP_ALIVE, "integer", "1", sep="\n", flush=True)
            else:
                print("NONE", flush=True)
        elif cmd == "set":
            oid = next(lines).strip()
            value = next(lines).strip()
            log.write("set %s %s\n" % (oid, value))
            log.flush()
            print("DONE" if oid == KEEP_ALIVE else "not-writable", flush=True)
        elif cmd == "":
            continue
        else:
            print("NONE", flush=True)


if __name__ == "__main__":
    main()
