#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Lists the writable variables of static libraries and fails on any that
is not allowed.

A job's state belongs to its job object; the libraries of the raster job
hold none, so that any number of jobs can run in one process. Writable
variables are the objects in .data, .bss and their thread-local and
relocated forms; constant tables (.rodata, .data.rel.ro) are fine.

  check_globals.py --allow Canceled --allow g_ismiddlepage LIB.a ...
"""
import argparse
import subprocess
import sys

WRITABLE = (".data", ".bss", ".tdata", ".tbss", ".data.rel", ".data.rel.local", ".lbss", ".ldata")


def writable_section(section):
    if section.startswith(".data.rel.ro"):
        return False
    return any(section == s or section.startswith(s + ".") for s in WRITABLE)


def writable_objects(library):
    out = subprocess.run(["objdump", "-t", "-C", library], check=True, capture_output=True,
                         text=True).stdout
    member = library
    for line in out.splitlines():
        if "file format" in line:
            member = line.split(":")[0]
        if "\t" not in line:
            continue
        left, right = line.split("\t", 1)
        fields = left.split()
        if len(fields) < 3 or " O " not in left:
            continue
        section = fields[-1]
        name = right.split(None, 1)[1] if len(right.split(None, 1)) > 1 else right
        name = name.replace(".hidden ", "").strip()
        # Compiler-made references to the exception personality and type info,
        # and the sanitizers' own bookkeeping (one-definition indicators).
        if name.startswith(("DW.ref.", "__odr_asan", "___asan_gen", "__asan", "__ubsan",
                            "__tsan", "__sancov")):
            continue
        if writable_section(section):
            yield member, section, name


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--allow", action="append", default=[], help="a variable that may exist")
    parser.add_argument("libraries", nargs="+")
    args = parser.parse_args()
    bad = 0
    for library in args.libraries:
        for member, section, name in writable_objects(library):
            allowed = name in args.allow
            print(f"{'allowed ' if allowed else 'WRITABLE'} {library}: {member} {section} {name}")
            bad += 0 if allowed else 1
    if bad:
        print(f"{bad} writable variable(s) at namespace scope: a job's state belongs to its job",
              file=sys.stderr)
        return 1
    print("no writable variables beyond the allowed ones")
    return 0


if __name__ == "__main__":
    sys.exit(main())
