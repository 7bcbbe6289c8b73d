#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Checks the pages a printer would print against the boxes of the test PDF.

  check_pages.py PBM_DIR PPD PAPER BOX...
  check_pages.py PBM_DIR --sheet=W,H BOX...

PBM_DIR holds page-NNN.pbm as lumora-inspect wrote them from a captured job
stream; PPD is the queue's PPD (its *ImageableArea for PAPER says where the
printer's image sits on the sheet); BOX_i = "x,y,w,h" in points is the one
solid black rectangle of page i (origin at the bottom left of the sheet).
Each page must hold exactly its box, at its place, within half a millimetre.
With --sheet the pages are whole W x H point sheets rendered at 600 dpi
(PostScript output rendered by ghostscript).
"""
import glob
import os
import re
import sys

TOLERANCE = 12  # pixels at 600 dpi, half a millimetre


def read_pbm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    pos = 0
    while len(fields) < 3:
        m = re.compile(rb"\s*(#[^\n]*\n\s*)*(\S+)").match(data, pos)
        fields.append(m.group(2))
        pos = m.end()
    if fields[0] != b"P4":
        raise SystemExit(f"{path}: not a binary PBM")
    width, height = int(fields[1]), int(fields[2])
    pos += 1  # the single white space after the height
    return width, height, data[pos:]


def black_box(width, height, bits):
    """Bounding box (x0, y0, x1, y1) of the black pixels and their count."""
    row_bytes = (width + 7) // 8
    zero = bytes(row_bytes)
    x0 = y0 = None
    x1 = y1 = -1
    count = 0
    for y in range(height):
        row = bits[y * row_bytes:(y + 1) * row_bytes]
        if row == zero:
            continue
        count += sum(bin(b).count("1") for b in row)
        first = len(row) - len(row.lstrip(b"\0"))
        last = len(row.rstrip(b"\0")) - 1
        fx = first * 8 + (8 - row[first].bit_length())   # MSB first
        lx = last * 8 + 7 - ((row[last] & -row[last]).bit_length() - 1)
        x0 = fx if x0 is None else min(x0, fx)
        x1 = max(x1, lx)
        y0 = y if y0 is None else y0
        y1 = y
    return (x0, y0, x1, y1), count


def imageable_area(ppd, paper):
    with open(ppd, encoding="latin-1") as f:
        for line in f:
            m = re.match(r'\*ImageableArea %s/[^:]*: "([^"]*)"' % re.escape(paper), line)
            if m:
                return [float(v) for v in m.group(1).split()]
    raise SystemExit(f"{ppd}: no ImageableArea for {paper}")


def main(argv):
    if len(argv) >= 4 and argv[2].startswith("--sheet="):
        pbm_dir, boxes = argv[1], argv[3:]
        llx, ury = 0.0, float(argv[2][len("--sheet="):].split(",")[1])
    elif len(argv) >= 5:
        pbm_dir, ppd, paper, boxes = argv[1], argv[2], argv[3], argv[4:]
        llx, _, _, ury = imageable_area(ppd, paper)
    else:
        sys.stderr.write(__doc__)
        return 2
    pages = sorted(glob.glob(os.path.join(pbm_dir, "*.pbm")))
    failures = 0
    if len(pages) != len(boxes):
        print(f"FAIL: {len(pages)} pages decoded, {len(boxes)} expected")
        return 1
    for i, (path, box) in enumerate(zip(pages, boxes), 1):
        x, y, w, h = (float(v) for v in box.split(","))
        width, height, bits = read_pbm(path)
        scale = 600.0 / 72.0
        expected = (round((x - llx) * scale), round((ury - y - h) * scale),
                    round((x + w - llx) * scale) - 1, round((ury - y) * scale) - 1)
        found, count = black_box(width, height, bits)
        area = (found[2] - found[0] + 1) * (found[3] - found[1] + 1) if found[0] is not None else 0
        ok = (found[0] is not None
              and all(abs(a - b) <= TOLERANCE for a, b in zip(found, expected))
              and count >= 0.99 * area)
        print(f"{'ok' if ok else 'FAIL'}: page {i} ({width}x{height}): black box {found} "
              f"({count} dots), expected {expected}")
        failures += not ok
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
