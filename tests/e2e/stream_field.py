#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Prints one fact of a job stream from lumora-inspect's JSON report.

  stream_field.py REPORT.json FIELD

FIELD: density (the job's, else the first page's), fine (fine mode of the
job), slot (input slot of page 1), bits (bits per pixel of page 1),
negative (yes when page 1 is mostly toner), longedge (yes/no, page 1), paper
(paper name of page 1), dpi (horizontal resolution of page 1), image (CRC
of page 1's picture), copies (the copy count of every page), order (the page
numbers in stream order, "MD" where the manual-duplex command is), pictures
(the pages in stream order named a, b, c... by picture, first seen first,
"xN" after a page the printer copies N times), pages (page count), end (yes
when the job end is there and the stream is sound).
"""
import json
import sys


def field(report, name):
    pages = report["pages"]
    first = pages[0] if pages else {}
    if name == "density":
        job = report["job"]["density"]
        return job if job is not None else first.get("density")
    if name == "fine":
        return report["job"]["fine_mode"]
    if name == "negative":
        return "yes" if first["dots"] * 2 > first["width"] * first["height"] else "no"
    if name == "longedge":
        return "yes" if first["long_edge"] else "no"
    if name == "copies":
        return " ".join(str(p["copies"]) for p in pages)
    if name == "pictures":
        names, out = {}, []
        for p in pages:
            name = names.setdefault(p["crc32"], chr(ord("a") + len(names)))
            out.append(name + (f"x{p['copies']}" if p["copies"] != 1 else ""))
        return " ".join(out)
    if name == "order":
        marks = {m["pages_before"] for m in report["manual_duplex"]}
        out = []
        for i, p in enumerate(pages):
            if i in marks:
                out.append("MD")
            out.append(str(p["number"]))
        return " ".join(out)
    if name == "pages":
        return report["page_count"]
    if name == "end":
        return "yes" if report["ok"] and report["job_end"] else "no"
    key = {"slot": "input_slot", "bits": "bits_per_pixel", "paper": "paper_name",
           "dpi": "h_resolution", "image": "crc32"}[name]
    return first[key]


def main(argv):
    if len(argv) != 3:
        raise SystemExit(__doc__)
    with open(argv[1]) as f:
        print(field(json.load(f), argv[2]))


if __name__ == "__main__":
    main(sys.argv)
