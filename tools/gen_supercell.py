#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Generator of the two 96 x 96 supercell threshold matrices of the Willow Plus
screen, NEW_HT_TABLE_600_Z_M (600 dpi) and NEW_HT_HALFTONE_1200_Z (1200 dpi).

  gen_supercell.py OUT.inc      writes the two C++ array initialisers
  gen_supercell.py --print      prints both matrices as text, row by row

The build runs this script (halftone/CMakeLists.txt) and compiles its output
into lumora_halftone, so the tables in the program are always exactly what
this file describes; nothing generated is committed. The script checks every
invariant below and fails the build if one does not hold; the halftone tests
check them again on the compiled tables.

Geometry (both resolutions)
  The 96 x 96 supercell is 16 x 16 cells of 6 x 6 pixels. Each cell holds two
  clustered dots: dot A centred at cell row 1, column 1 and dot B at row 4,
  column 4 (three columns further on). Together the dots form a 45-degree
  lattice with the vectors (3, 3) and (3, -3), 512 dots in the supercell.
  Every pixel belongs to exactly one dot, at one of 18 growth steps given by
  its offset (dy, dx) from the dot centre (GROWTH below): the centre, its four
  neighbours, the diagonals towards the neighbouring dots, the four boundary
  pixels it shares with a neighbour (taken by the dot for which |dy| = 1),
  the four pixels two steps out, and last the hole (0, +3) between four dots.

600-dpi thresholds
  Step k owns the band of threshold values BANDS[k] (the bands partition
  1..255, so all 255 values are used). Within a step the 512 dots take the
  band's values in a dispersed order: the dots sit on a checkerboard of the
  32 x 32 half-cell grid, and the 32 x 32 Bayer order restricted to that
  checkerboard ranks them 0..511; step k rotates that rank by k * 211 so that
  no dot is the largest at every tone. A dot of rank r gets
  lo + r * (hi - lo + 1) // 512. Corresponding pixels of different cells thus
  differ slightly, and the supercell renders every one of the 255 levels.

  The printer's own screen is known to us by its first entries (rows 0, 1
  and 3, PINNED_600 below). Each pinned pixel gets its known value; the pixel
  of the same growth step that held that value takes the pinned pixel's old
  value, so every band keeps exactly its share of each value.

1200-dpi thresholds
  The 1200-dpi matrix is the 600-dpi one passed through a monotone transfer
  curve T that keeps more white in the dark tones: T(v) <= v, T(v) = v from
  212 up, and T linear (rounded) between the pairs the known entries give
  (PINNED_1200 against PINNED_600, plus 212 -> 212). Between those pairs the
  curve merges exactly the 18 levels the known pairs force, so the 1200-dpi
  matrix uses 237 distinct values.
"""
import sys

SIZE = 96
CELL = 6
CELLS = SIZE // CELL            # 16 cells across and down
DOTS = 2 * CELLS * CELLS        # 512 dots

# Growth order of one dot: offsets (dy, dx) from its centre.
GROWTH = [
    (0, 0), (0, 1), (0, -1), (-1, 0), (1, 0),
    (-1, -1), (-1, 1), (1, -1), (1, 1),
    (-1, 2), (-1, -2), (1, 2), (1, -2),
    (0, 2), (2, 0), (0, -2), (-2, 0),
    (0, 3),
]

# Threshold band [lo, hi] of each growth step at 600 dpi.
BANDS = [
    (1, 9), (10, 18), (19, 26), (27, 33), (34, 46),
    (47, 58), (59, 72), (73, 79), (80, 86),
    (87, 99), (100, 115), (116, 127), (128, 138),
    (139, 155), (156, 179), (180, 195), (196, 224),
    (225, 255),
]

ROTATE = 211  # rank rotation per growth step

# Known entries of the printer's screens: row -> first entries of that row.
PINNED_600 = {
    0: [50, 28, 62, 94, 171, 111, 58, 33, 72, 87, 161, 103, 51, 29, 63, 95, 172, 112],
    1: [21, 1, 10, 149, 234, 189, 26, 4, 14, 139, 225, 182, 22, 2, 11, 150, 236, 190],
    3: [98, 175, 114, 52, 30, 65, 99, 177, 115, 47, 27, 59],
}
PINNED_1200 = {
    0: [36, 19, 46, 77, 165, 95, 43, 23, 55, 69, 153, 86, 37, 20, 47, 78, 166, 96],
    1: [14, 1, 7, 139, 234, 186, 18, 3, 10, 127, 225, 178, 15, 1, 8, 140, 236, 187],
    3: [81, 170, 98, 38, 21, 49, 82, 172, 100, 34, 19, 43],
}
EQUAL_FROM = 212


def bayer(n):
    """n x n Bayer order (n a power of two): m[y][x] in 0 .. n*n-1."""
    m = [[0]]
    size = 1
    while size < n:
        m = [[4 * m[y % size][x % size] + [[0, 2], [3, 1]][y // size][x // size]
              for x in range(2 * size)] for y in range(2 * size)]
        size *= 2
    return m


def dot_ranks():
    """Rank 0..511 of every dot, keyed by its half-cell position (Y, X)."""
    b = bayer(2 * CELLS)
    cells = [(Y, X) for Y in range(2 * CELLS) for X in range(2 * CELLS) if (Y + X) % 2 == 0]
    order = sorted(cells, key=lambda p: b[p[0]][p[1]])
    return {p: i for i, p in enumerate(order)}


def dot_centre(Y, X):
    """Pixel position of the dot at half-cell (Y, X): A dots on even, B on odd."""
    return (3 * Y + 1, 3 * X + 1)


def build_600():
    ranks = dot_ranks()
    thr = [[0] * SIZE for _ in range(SIZE)]
    step = [[-1] * SIZE for _ in range(SIZE)]
    for (Y, X), rank in ranks.items():
        cy, cx = dot_centre(Y, X)
        for k, (dy, dx) in enumerate(GROWTH):
            y, x = (cy + dy) % SIZE, (cx + dx) % SIZE
            if step[y][x] != -1:
                raise SystemExit(f"pixel {y},{x} belongs to two dots")
            lo, hi = BANDS[k]
            r = (rank + k * ROTATE) % DOTS
            thr[y][x] = lo + r * (hi - lo + 1) // DOTS
            step[y][x] = k
    if any(s == -1 for row in step for s in row):
        raise SystemExit("a pixel belongs to no dot")

    pinned = {(y, x) for y, vals in PINNED_600.items() for x in range(len(vals))}
    for y, vals in PINNED_600.items():
        for x, want in enumerate(vals):
            k = step[y][x]
            lo, hi = BANDS[k]
            if not lo <= want <= hi:
                raise SystemExit(f"known entry {y},{x} = {want} outside band {k}")
            have = thr[y][x]
            if have == want:
                continue
            partner = next((q for q in ((qy, qx) for qy in range(SIZE) for qx in range(SIZE))
                            if q not in pinned and step[q[0]][q[1]] == k and thr[q[0]][q[1]] == want),
                           None)
            if partner is None:
                raise SystemExit(f"no free pixel of step {k} holds {want}")
            thr[partner[0]][partner[1]] = have
            thr[y][x] = want
    return thr


def transfer_curve():
    """T[v] for v in 0..255: the 600 -> 1200 dpi threshold curve."""
    pairs = {0: 0, EQUAL_FROM: EQUAL_FROM}
    for y, vals in PINNED_600.items():
        for a, b in zip(vals, PINNED_1200[y]):
            if pairs.get(a, b) != b:
                raise SystemExit(f"known entries map {a} to two values")
            pairs[a] = b
    xs = sorted(pairs)
    t = list(range(256))
    for x0, x1 in zip(xs, xs[1:]):
        y0, y1 = pairs[x0], pairs[x1]
        for v in range(x0, x1 + 1):
            # round half up, in integers
            t[v] = y0 + ((y1 - y0) * (v - x0) * 2 + (x1 - x0)) // (2 * (x1 - x0))
    return t


def build_1200(m600):
    t = transfer_curve()
    return [[t[v] for v in row] for row in m600]


def check(m600, m1200):
    def fail(msg):
        raise SystemExit("supercell check failed: " + msg)

    for name, m, pins in (("600", m600, PINNED_600), ("1200", m1200, PINNED_1200)):
        if len(m) != SIZE or any(len(r) != SIZE for r in m):
            fail(f"{name}: not {SIZE} x {SIZE}")
        if any(not 1 <= v <= 255 for r in m for v in r):
            fail(f"{name}: entry outside 1..255")
        for y, vals in pins.items():
            if m[y][:len(vals)] != vals:
                fail(f"{name}: row {y} starts {m[y][:len(vals)]}, expected {vals}")
        # Dot centres: the smallest entry of every cell's rows 1 and 4 sits at
        # column 1 and column 4.
        for cy in range(CELLS):
            for cx in range(CELLS):
                for r, c in ((1, 1), (4, 4)):
                    row = m[cy * CELL + r][cx * CELL:(cx + 1) * CELL]
                    if min(row) != row[c]:
                        fail(f"{name}: cell {cy},{cx} row {r} has its minimum off column {c}")
    if len({v for r in m600 for v in r}) != 255:
        fail("600: not 255 distinct values")
    if len({v for r in m1200 for v in r}) != 237:
        fail("1200: not 237 distinct values")
    for a_row, b_row in zip(m600, m1200):
        for a, b in zip(a_row, b_row):
            if b > a:
                fail("1200 entry above the 600 entry")
            if (a >= EQUAL_FROM or b >= EQUAL_FROM) and a != b:
                fail(f"entries {a} / {b} differ from {EQUAL_FROM} up")
    # Corresponding positions differ from cell to cell.
    if all(m600[y][x] == m600[y % CELL][x % CELL] for y in range(SIZE) for x in range(SIZE)):
        fail("600: all cells equal")


def c_array(name, m):
    lines = [f"const uint8_t {name}[{SIZE}][{SIZE}] = {{"]
    for row in m:
        lines.append("    {" + ", ".join(str(v) for v in row) + "},")
    lines.append("};")
    return "\n".join(lines) + "\n"


def main(argv):
    if len(argv) != 2:
        raise SystemExit(__doc__)
    m600 = build_600()
    m1200 = build_1200(m600)
    check(m600, m1200)
    if argv[1] == "--print":
        for name, m in (("NEW_HT_TABLE_600_Z_M", m600), ("NEW_HT_HALFTONE_1200_Z", m1200)):
            print(name)
            for row in m:
                print(" ".join(f"{v:3d}" for v in row))
        return
    text = ("// Generated by tools/gen_supercell.py: do not edit.\n"
            + c_array("NEW_HT_TABLE_600_Z_M", m600) + "\n"
            + c_array("NEW_HT_HALFTONE_1200_Z", m1200))
    with open(argv[1], "w", encoding="ascii") as f:
        f.write(text)


if __name__ == "__main__":
    main(sys.argv)
