#!/usr/bin/env python3
"""Draws the program's pictures and writes them into resources/.

  gear.bmp        67 x 67, 24 bits, uncompressed: a blue gear on white
  connection.bmp  490 x 122, 24 bits, uncompressed: a printer joined by a USB
                  cable to a laptop, black lines on white
  program.ico     one 256 x 256 image, 32 bits (PNG inside): the blue gear
                  with a white printer in its hub, on a transparent ground

Plain Python 3, no extra packages. The output is the same on every run, so the
committed files can be checked against it:

  python3 tools/pictures/make_pictures.py [output folder]
"""

import math
import os
import struct
import sys
import zlib

WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
GEAR_BLUE = (28, 96, 196)

# --- geometry --------------------------------------------------------------


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def gear_coverage(x, y, cx, cy, outer, root, hole, teeth):
    """1 inside the gear's body, 0 outside; teeth are trapezoids between the
    root circle and the outer circle."""
    r = math.hypot(x - cx, y - cy)
    if r < hole or r > outer:
        return 0.0
    if r <= root:
        return 1.0
    angle = math.atan2(y - cy, x - cx) % (2 * math.pi)
    pitch = 2 * math.pi / teeth
    offset = abs((angle % pitch) - pitch / 2) / (pitch / 2)  # 0 at a tooth's middle
    # A tooth is wide at its root and narrower at its tip.
    depth = (r - root) / (outer - root)
    half_width = 0.55 - 0.2 * depth
    return 1.0 if offset < half_width else 0.0


def supersample(width, height, coverage, samples=4):
    """Coverage of each pixel, 0..1, averaged over samples x samples points."""
    step = 1.0 / samples
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            total = 0.0
            for sy in range(samples):
                for sx in range(samples):
                    total += coverage(x + (sx + 0.5) * step, y + (sy + 0.5) * step)
            row.append(total / (samples * samples))
        rows.append(row)
    return rows


def blend(background, colour, amount):
    return tuple(round(b + (c - b) * amount) for b, c in zip(background, colour))


# --- drawings ---------------------------------------------------------------


def draw_gear(size):
    c = size / 2
    outer, root, hole = size * 0.47, size * 0.36, size * 0.16
    cover = supersample(size, size, lambda x, y: gear_coverage(x, y, c, c, outer, root, hole, 9))
    return [[blend(WHITE, GEAR_BLUE, a) for a in row] for row in cover]


def rectangle(x0, y0, x1, y1):
    return [(x0, y0, x1, y0), (x1, y0, x1, y1), (x1, y1, x0, y1), (x0, y1, x0, y0)]


def printer_lines(x, y):
    """A small desktop printer, its paper coming out of the top, its tray at
    the front; (x, y) is the top-left corner of its body."""
    lines = rectangle(x, y, x + 110, y + 50)                      # body
    lines += rectangle(x + 20, y - 28, x + 90, y)                 # sheet in the feeder
    lines += [(x + 30, y - 18, x + 80, y - 18), (x + 30, y - 10, x + 70, y - 10)]
    lines += rectangle(x + 15, y + 50, x + 95, y + 62)            # output tray
    lines += [(x + 8, y + 14, x + 102, y + 14)]                   # lid seam
    lines += rectangle(x + 88, y + 22, x + 100, y + 30)           # button
    return lines


def laptop_lines(x, y):
    """An open laptop seen from the front; (x, y) is the top-left of its lid."""
    lines = rectangle(x, y, x + 130, y + 78)                      # lid
    lines += rectangle(x + 8, y + 8, x + 122, y + 70)             # screen
    lines += [(x, y + 78, x - 16, y + 96), (x + 130, y + 78, x + 146, y + 96),
              (x - 16, y + 96, x + 146, y + 96)]                  # keyboard deck
    lines += [(x + 50, y + 88, x + 80, y + 88)]                   # touch pad
    return lines


def cable_lines(x0, y0, x1, y1):
    """A USB cable: plug at each end, a gentle sag between them."""
    lines = rectangle(x0, y0 - 5, x0 + 14, y0 + 5) + rectangle(x1 - 14, y1 - 5, x1, y1 + 5)
    points = []
    for i in range(33):
        t = i / 32
        px = (x0 + 14) + t * ((x1 - 14) - (x0 + 14))
        py = y0 + t * (y1 - y0) + math.sin(t * math.pi) * 22
        points.append((px, py))
    lines += [(a[0], a[1], b[0], b[1]) for a, b in zip(points, points[1:])]
    # The trident of the USB sign over the middle of the cable.
    mx, my = (x0 + x1) / 2, min(y0, y1) - 4
    lines += [(mx - 22, my, mx + 22, my), (mx + 22, my, mx + 16, my - 4), (mx + 22, my, mx + 16, my + 4),
              (mx - 8, my, mx, my - 9), (mx, my - 9, mx + 8, my - 9),
              (mx - 2, my, mx + 6, my + 8), (mx + 6, my + 8, mx + 12, my + 8)]
    return lines


def draw_connection(width, height):
    lines = printer_lines(40, 42) + laptop_lines(320, 10)
    lines += cable_lines(150, 72, 304, 72)
    # Index the segments by pixel row, so that each pixel looks at few of them.
    pen = 1.1
    near = [[] for _ in range(height)]
    for s in lines:
        top = max(0, int(min(s[1], s[3]) - 3))
        bottom = min(height - 1, int(max(s[1], s[3]) + 3))
        for row in range(top, bottom + 1):
            near[row].append(s)

    def coverage(x, y):
        row = near[min(height - 1, int(y))]
        for s in row:
            if segment_distance(x, y, *s) <= pen:
                return 1.0
        return 0.0

    cover = supersample(width, height, coverage, samples=3)
    return [[blend(WHITE, BLACK, a) for a in row] for row in cover]


def draw_icon(size):
    """RGBA rows: the gear with a white printer glyph in its hub."""
    c = size / 2
    outer, root, hole = size * 0.48, size * 0.37, size * 0.0

    def gear(x, y):
        return gear_coverage(x, y, c, c, outer, root, hole, 9)

    # Printer body, the sheet in its feeder, and the printed sheet in front;
    # blue gaps keep the three apart.
    white = [(c - 50, c - 12, c + 50, c + 26), (c - 30, c - 46, c + 30, c - 16), (c - 30, c + 10, c + 30, c + 46)]
    blue = [(c - 36, c + 4, c + 36, c + 10), (c - 36, c - 16, c + 36, c - 12), (c + 30, c - 2, c + 40, c + 4)]

    def inside(boxes, x, y):
        return any(a <= x <= b and top <= y <= bottom for a, top, b, bottom in boxes)

    def printer(x, y):
        if inside(blue, x, y) and not inside(white[2:], x, y):
            return 0.0
        return 1.0 if inside(white, x, y) else 0.0

    gear_cover = supersample(size, size, gear, samples=2)
    glyph_cover = supersample(size, size, printer, samples=2)
    rows = []
    for g_row, p_row in zip(gear_cover, glyph_cover):
        row = []
        for g, p in zip(g_row, p_row):
            colour = blend(GEAR_BLUE, WHITE, p)
            row.append(colour + (round(255 * g),))
        rows.append(row)
    return rows


# --- file formats -----------------------------------------------------------


def bmp_24(rows):
    """A Windows bitmap file: BITMAPFILEHEADER, BITMAPINFOHEADER, bottom-up
    BGR rows padded to four bytes, BI_RGB."""
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + bytes(pixels)


def png_rgba(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    height, width = len(rows), len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for pixel in row:
            raw += bytes(pixel)
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def ico_one_png(png, size):
    """An icon file holding one PNG image; 256 is written as 0 in the directory."""
    directory = struct.pack("<HHH", 0, 1, 1)
    side = 0 if size >= 256 else size
    entry = struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(png), 6 + 16)
    return directory + entry + png


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources")
    os.makedirs(out, exist_ok=True)
    files = {
        "gear.bmp": bmp_24(draw_gear(67)),
        "connection.bmp": bmp_24(draw_connection(490, 122)),
        "program.ico": ico_one_png(png_rgba(draw_icon(256)), 256),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
