#!/usr/bin/env python3
"""Draws the updater's pictures from code, so every build makes the same bytes.

usage: draw-resources.py OUTDIR
         writes orvane.ico (icon group 128: eight images, 16 to 96 pixels, 32 bits with
         alpha), logo.png (400 x 154, resource 158), dot-green.png and dot-red.png
         (15 x 15 RGBA with transparent white corners, resources 163 and 164) and
         splash.bmp (302 x 118, 24 bits, magenta where the splash is cut away, bitmap 147)
       draw-resources.py --reader-picture FILE
         writes the sample package's reader picture (Lecteur.png)
The main window lets near-white pixels show its background, so every picture is drawn
on white; the splash is cut along its magenta pixels, so its outline is never blended.
"""
import os
import struct
import sys
import zlib

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


WHITE = (255, 255, 255)
MAGENTA = (255, 0, 255)
INK = (35, 65, 120)          # the reader body's blue, for the lettering
GREEN = (40, 170, 70)
RED = (205, 40, 40)

# A 5 x 7 dot-matrix face, like the reader's own display, for the letters the pictures use.
GLYPHS = {
    "A": (".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"),
    "C": (".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."),
    "D": ("####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."),
    "E": ("#####", "#....", "#....", "####.", "#....", "#....", "#####"),
    "I": (".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."),
    "J": ("..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."),
    "L": ("#....", "#....", "#....", "#....", "#....", "#....", "#####"),
    "M": ("#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"),
    "N": ("#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"),
    "O": (".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."),
    "R": ("####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"),
    "S": (".####", "#....", "#....", ".###.", "....#", "....#", "####."),
    "T": ("#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."),
    "U": ("#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."),
    "V": ("#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."),
    " ": (".....",) * 7,
}


class Text:
    """A line of dot-matrix text placed at (left, top) in pixels, `cell` pixels a dot."""

    def __init__(self, text, left, top, cell, colour):
        self.text, self.left, self.top, self.cell, self.colour = text, left, top, cell, colour

    def width(self):
        return len(self.text) * 6 * self.cell - self.cell

    def colour_at(self, x, y):
        cx = int((x - self.left) // self.cell)
        cy = int((y - self.top) // self.cell)
        if cx < 0 or cy < 0 or cy >= 7 or cx >= len(self.text) * 6:
            return None
        glyph, column = divmod(cx, 6)
        if column == 5 or GLYPHS[self.text[glyph]][cy][column] != "#":
            return None
        # Each dot is a rounded square with a thin gap, as on a matrix display.
        u = (x - self.left) / self.cell - cx
        v = (y - self.top) / self.cell - cy
        if inside_rounded_rect(u, v, 0.06, 0.06, 0.94, 0.94, 0.22):
            return self.colour
        return None


def emblem(left, top, size):
    """The reader drawing of the icon placed in a square; a function of pixel coordinates."""
    def colour_at(x, y):
        return reader_icon_colour((x - left) / size, (y - top) / size)
    return colour_at


def first_colour(layers, x, y):
    for layer in layers:
        colour = layer(x, y)
        if colour is not None:
            return colour
    return None


def supersampled(width, height, layers, background, samples=3):
    """Rows top-down of RGB triples: the first layer that covers a sample gives its colour."""
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            total = [0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    x = px + (sx + 0.5) / samples
                    y = py + (sy + 0.5) / samples
                    colour = first_colour(layers, x, y) or background(x, y)
                    for i in range(3):
                        total[i] += colour[i]
            n = samples * samples
            row.append(tuple(t // n for t in total))
        rows.append(row)
    return rows


def png_bytes(width, height, rows, alpha):
    """A PNG of 8-bit RGB (or RGBA) rows, unfiltered, compressed by zlib."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for pixel in row:
            raw += bytes(pixel)
    colour_type = 6 if alpha else 2
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def bmp_bytes(width, height, rows):
    """A 24-bit bottom-up BMP file of RGB rows given top-down."""
    stride = (width * 3 + 3) // 4 * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + bytes(pixels)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def draw_logo():
    """400 x 154 on white: the reader emblem, the program's name and what it does."""
    name = Text("ORVANE", 152, 30, 7, INK)
    line = Text("MISE A JOUR", 152, 100, 3, GREEN)
    rows = supersampled(400, 154, [emblem(6, 7, 140), name.colour_at, line.colour_at],
                        lambda x, y: WHITE)
    return png_bytes(400, 154, rows, alpha=False)


def draw_dot(colour):
    """15 x 15 RGBA: a shaded dot; outside it white with alpha 0, its rim blended to white."""
    samples = 5
    rows = []
    for py in range(15):
        row = []
        for px in range(15):
            covered = 0
            total = [0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    x = px + (sx + 0.5) / samples - 7.5
                    y = py + (sy + 0.5) / samples - 7.5
                    if x * x + y * y <= 6.6 ** 2:
                        covered += 1
                        # A highlight towards the top left.
                        light = max(0.0, 1.0 - ((x + 2.2) ** 2 + (y + 2.2) ** 2) / 16.0) * 0.55
                        for i in range(3):
                            total[i] += colour[i] + (255 - colour[i]) * light
            n = samples * samples
            if covered == 0:
                row.append((255, 255, 255, 0))
                continue
            mean = [t / covered for t in total]
            cover = covered / n
            blended = tuple(int(round(m * cover + 255 * (1 - cover))) for m in mean)
            row.append(blended + (int(round(cover * 255)),))
        rows.append(row)
    return png_bytes(15, 15, rows, alpha=True)


def draw_splash():
    """302 x 118, 24 bits: a rounded panel on magenta with the emblem and the name."""
    width, height = 302, 118
    name = Text("ORVANE", 112, 30, 5, INK)
    line = Text("MISE A JOUR", 112, 76, 2, GREEN)
    picture = emblem(14, 14, 90)

    def panel(x, y):
        if inside_rounded_rect(x, y, 2, 2, width - 3, height - 3, 12):
            shade = int(255 - 30 * y / height)
            return (shade - 15, shade, shade - 25)
        return INK

    inner = supersampled(width, height, [picture, name.colour_at, line.colour_at], panel)
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            # The outline is decided on the pixel centre: no pixel blends into the magenta.
            inside = inside_rounded_rect(px + 0.5, py + 0.5, 0, 0, width, height, 14)
            row.append(inner[py][px] if inside else MAGENTA)
        rows.append(row)
    return bmp_bytes(width, height, rows)


def draw_reader_picture():
    """The sample package's reader picture: 160 x 146 on white, the reader with its cable."""
    def cable(x, y):
        if 118 <= x <= 124 and 130 <= y <= 146:
            return (60, 60, 60)
        return None
    rows = supersampled(160, 146, [emblem(10, 0, 140), cable], lambda x, y: WHITE)
    return png_bytes(160, 146, rows, alpha=False)


def main(argv):
    if len(argv) == 3 and argv[1] == "--reader-picture":
        write(argv[2], draw_reader_picture())
        return 0
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    write_icon(os.path.join(out, "orvane.ico"))
    write(os.path.join(out, "logo.png"), draw_logo())
    write(os.path.join(out, "dot-green.png"), draw_dot(GREEN))
    write(os.path.join(out, "dot-red.png"), draw_dot(RED))
    write(os.path.join(out, "splash.bmp"), draw_splash())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
