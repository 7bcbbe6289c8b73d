#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes a PostScript print job of about the given size for the pre-filter
benchmark: a PJL header, DSC prolog and setup, then pages of text drawing and
hex image data, the way drivers and converters write them (lines of 40 to 250
bytes, a "%%Page:" comment per page)."""
import random
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_ps_job.py OUTPUT MEGABYTES")
    path, megabytes = sys.argv[1], int(sys.argv[2])
    target = megabytes * 1000 * 1000
    rnd = random.Random(7)
    words = ("printer driver raster page band screen toner paper queue job "
             "image line stripe dots gray black white every compression").split()
    with open(path, "wb") as out:
        head = (b"\x1b%-12345X@PJL JOB NAME=\"bench\"\r\n"
                b"@PJL SET RESOLUTION=600\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n"
                b"%!PS-Adobe-3.0\n%%Creator: bench\n%%Pages: (atend)\n"
                b"%%BoundingBox: 0 0 595 842\n%%EndComments\n%%BeginProlog\n"
                b"/F { findfont exch scalefont setfont } bind def\n%%EndProlog\n"
                b"%%BeginSetup\n<</PageSize [595 842]>> setpagedevice\n%%EndSetup\n")
        out.write(head)
        size = len(head)
        # One page body, varied a little per page.
        hexline = bytes(rnd.choice(b"0123456789abcdef") for _ in range(120)) + b"\n"
        page = 0
        while size < target:
            page += 1
            parts = [b"%%%%Page: %d %d\n" % (page, page), b"%%BeginPageSetup\n",
                     b"<</Type/Page/MediaBox [0 0 595 842]\n", b"%%EndPageSetup\n",
                     b"11 /Times-Roman F\n"]
            y = 780
            for _ in range(60):
                text = " ".join(rnd.choice(words) for _ in range(rnd.randint(6, 14)))
                parts.append(b"72 %d moveto (%s) show\n" % (y, text.encode()))
                y -= 12
            parts.append(b"gsave 100 100 translate 400 300 scale\n"
                         b"320 240 8 [320 0 0 -240 0 240] currentfile /ASCIIHexDecode filter image\n")
            parts.extend([hexline] * 600)
            parts.append(b">\ngrestore\nshowpage\n")
            body = b"".join(parts)
            out.write(body)
            size += len(body)
        tail = b"%%%%Trailer\n%%%%Pages: %d\n%%%%EOF\n\x04\x1b%%-12345X" % page
        out.write(tail)


if __name__ == "__main__":
    main()
