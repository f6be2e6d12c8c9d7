#!/usr/bin/env python3
"""Draws the updater's pictures from code, so every build makes the same bytes.

usage: draw-resources.py OUTDIR
Writes orvane.ico (icon group 128: eight images, 16 to 96 pixels, 32 bits with alpha).
"""
import os
import struct
import sys

ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 96)
SUPERSAMPLE = 4


def inside_rounded_rect(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def reader_icon_colour(u, v):
    """The icon in unit coordinates (0..1, y down): a reader body with a card in its slot
    and a small screen; None outside."""
    if inside_rounded_rect(u, v, 0.30, 0.04, 0.70, 0.40, 0.05):   # the card, sticking out
        if 0.38 <= u <= 0.50 and 0.10 <= v <= 0.20:
            return (230, 190, 60)                                 # the card's chip
        return (70, 170, 90)
    if inside_rounded_rect(u, v, 0.10, 0.30, 0.90, 0.96, 0.10):   # the reader's body
        if inside_rounded_rect(u, v, 0.22, 0.44, 0.78, 0.66, 0.03):
            return (200, 235, 210)                                # the screen
        if 0.26 <= u <= 0.74 and 0.30 <= v <= 0.35:
            return (20, 30, 50)                                   # the slot
        return (35, 65, 120)
    return None


def render(size):
    """Rows bottom-up of BGRA pixels, as an icon's DIB stores them."""
    rows = []
    for py in reversed(range(size)):
        row = bytearray()
        for px in range(size):
            total = [0, 0, 0]
            covered = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    u = (px + (sx + 0.5) / SUPERSAMPLE) / size
                    v = (py + (sy + 0.5) / SUPERSAMPLE) / size
                    colour = reader_icon_colour(u, v)
                    if colour is not None:
                        covered += 1
                        for i in range(3):
                            total[i] += colour[i]
            if covered:
                r, g, b = (t // covered for t in total)
                alpha = covered * 255 // (SUPERSAMPLE * SUPERSAMPLE)
                row += bytes((b, g, r, alpha))
            else:
                row += bytes((0, 0, 0, 0))
        rows.append(bytes(row))
    return rows


def icon_image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(render(size))
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)  # alpha carries the shape; the AND mask stays clear
    return header + pixels + mask


def write_icon(path):
    images = [icon_image(s) for s in ICON_SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(ICON_SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    os.makedirs(argv[1], exist_ok=True)
    write_icon(os.path.join(argv[1], "orvane.ico"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
