#!/usr/bin/env python3
"""Draws the program's window icon and writes it as a Windows .ico file: a dark panel with
an amber seven-segment 8 and a row of three indicator lights, at 16, 32 and 48 pixels.
Shapes are sampled 4 x 4 times per pixel, so the small sizes stay smooth.

usage: draw-icon.py OUT.ico
"""
import struct
import sys

SIZES = (16, 32, 48)
SAMPLES = 4

PANEL = (40, 44, 50)
EDGE = (120, 128, 140)
AMBER = (255, 176, 32)
GREEN = (60, 220, 90)
RED = (235, 60, 50)

# Shapes in a unit square, y downwards: ("rect", x0, y0, x1, y1) and ("disc", cx, cy, r).
DIGIT_SEGMENTS = [
    ("rect", 0.34, 0.14, 0.66, 0.21),  # top
    ("rect", 0.27, 0.19, 0.34, 0.38),  # upper left
    ("rect", 0.66, 0.19, 0.73, 0.38),  # upper right
    ("rect", 0.34, 0.36, 0.66, 0.43),  # middle
    ("rect", 0.27, 0.41, 0.34, 0.60),  # lower left
    ("rect", 0.66, 0.41, 0.73, 0.60),  # lower right
    ("rect", 0.34, 0.58, 0.66, 0.65),  # bottom
]
LIGHTS = [("disc", 0.27, 0.81, 0.085), ("disc", 0.50, 0.81, 0.085), ("disc", 0.73, 0.81, 0.085)]
LIGHT_COLOURS = (GREEN, GREEN, RED)


def inside(shape, x, y):
    if shape[0] == "rect":
        _, x0, y0, x1, y1 = shape
        return x0 <= x < x1 and y0 <= y < y1
    _, cx, cy, r = shape
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_panel(x, y, inset=0.0):
    """The rounded square of the panel, optionally shrunk by `inset`."""
    lo, hi, r = 0.03 + inset, 0.97 - inset, 0.16
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour_at(x, y):
    """RGBA of one sample point of the unit square; None outside the panel."""
    if not in_panel(x, y):
        return None
    for shape in DIGIT_SEGMENTS:
        if inside(shape, x, y):
            return AMBER
    for shape, colour in zip(LIGHTS, LIGHT_COLOURS):
        if inside(shape, x, y):
            return colour
    return PANEL if in_panel(x, y, 0.035) else EDGE


def render(size):
    """Rows top-down of (r, g, b, a) pixels, each the average of its samples."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((px + (sx + 0.5) / SAMPLES) / size,
                                  (py + (sy + 0.5) / SAMPLES) / size)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            n = SAMPLES * SAMPLES
            row.append((r // a, g // a, b // a, 255 * a // n) if a else (0, 0, 0, 0))
        rows.append(row)
    return rows


def dib(size, rows):
    """One icon image: a 32-bit bitmap (bottom-up, twice the height for the mask) and an
    all-clear AND mask, since the alpha channel does the masking."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask_row = ((size + 31) // 32) * 4
    return header + pixels + bytes(mask_row * size)


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    images = [(size, dib(size, render(size))) for size in SIZES]
    with open(sys.argv[1], "wb") as f:
        f.write(ico(images))
    return 0


if __name__ == "__main__":
    sys.exit(main())
