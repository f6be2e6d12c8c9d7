#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora into fuzz/corpus/TARGET/ (a few small files each).

usage: make-seeds.py [OUTDIR]    (default: the corpus folder beside this script)
The seeds are what the reader, the package and the port library give in the tests; the
pictures are drawn by scripts/draw-resources.py or built here from zlib and struct.
"""
import importlib.util
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
loader_spec = importlib.util.spec_from_file_location(
    "draw_resources", os.path.join(HERE, "..", "scripts", "draw-resources.py"))
draw = importlib.util.module_from_spec(loader_spec)
loader_spec.loader.exec_module(draw)


def crc16(data):
    """The protocol's CRC: reflected polynomial 0x8408, initial 0, no final xor."""
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc


def with_crc(frame):
    crc = crc16(frame[:-2])
    return frame[:-2] + bytes((crc & 0xFF, crc >> 8))


def description_frame(model, options):
    record = bytearray(97)
    record[0:8] = b"SIM00001"
    record[8:11] = model
    record[11:18] = b"LDR 1.0"
    record[27:27 + len(options)] = options
    frame = bytearray(128)
    frame[0], frame[1] = 1, 97
    frame[2:99] = record
    return with_crc(bytes(frame))


def app_frame(name):
    frame = bytearray(32)
    frame[0], frame[1] = 0x06, len(name)
    frame[2:2 + len(name)] = name
    return with_crc(bytes(frame)) if 2 + len(name) < 30 else bytes(frame)


def png(width, height, colour_type, depth, raw_rows, extra=b"", interlace=0):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, interlace)
    raw = b"".join(b"\x00" + row for row in raw_rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def palette_png():
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    extra = chunk(b"PLTE", bytes((255, 0, 0, 0, 255, 0))) + chunk(b"tRNS", bytes((0,)))
    return png(2, 2, 3, 8, [bytes((0, 1)), bytes((1, 0))], extra)


def adam7(width, height, bytes_per_pixel, rows):
    """The scanlines of an Adam7-interlaced image of whole-byte pixels, pass by pass."""
    passes = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4),
              (1, 0, 2, 2), (0, 1, 1, 2))
    out = []
    for x0, y0, dx, dy in passes:
        for y in range(y0, height, dy):
            line = b"".join(rows[y][x * bytes_per_pixel:(x + 1) * bytes_per_pixel]
                            for x in range(x0, width, dx))
            if line:
                out.append(line)
    return out


def provider(front, back):
    """Bytes as the harnesses' FuzzedDataProvider reads them: `front` from the start, and
    `back`, (bytes, signed, value) in the order consumed, from the end."""
    tail = b""
    for size, signed, value in back:
        result = value + (1 << (8 * size - 1) if signed else 0)
        tail = result.to_bytes(size, "little") + tail
    return front + tail


def nul_lines(lines):
    return b"".join(line + b"\0" for line in lines)


CATALOGUE_FILES = [b"K30APP.SGN", b"K30APP.LDF", b"3648LDR.LDF", b"K30CFG.SGN", b"K30CFG.ADF",
                   b"3648LDR.SGN", b"VIT3777.PDF", b"VIT3778.PDF", b"TABLES.DDF",
                   b"3592PARAM.BIN", b"LISEZMOI.TXT"]

SEEDS = {
    "probe_reply": {
        # probe A's reply, then probe B's
        "present": b"\x2F\xC0\x04KLDR1\x01" + b"\x2F\x40\x03KOK\x01",
        "absent": b"\x2F\xC0\x04APP\0\0\0" + b"\x2F\x40\x03\x01\x81\0\0",
        "only-a": b"\x2F\xC0\x04KLDR1\x01",
    },
    "frame_build": {
        # block number, data length, the data, the file size and the catalogue path
        "block-and-announce": provider(b"HELLO" + b".\\K30APP.LDF",
                                       [(2, False, 1), (1, False, 5), (8, True, 1234)]),
        "full-block": provider(bytes(range(122)) + b"3648LDR.SGN",
                               [(2, False, 0xFFFF), (1, False, 122), (8, True, 999999)]),
        "too-large": provider(b"A" * 23, [(2, False, 0), (1, False, 0), (8, True, 1000000)]),
    },
    "description": {
        "m30": description_frame(b"M30", bytes((0x00, 0x03, 0x00, 0x01, 0x01))),
        "m31-options": description_frame(b"M31", bytes((0x01, 0xFF, 0x80, 0x01, 0x41, 0, 0, 0x80))),
        "empty": with_crc(bytes(128)),
        "bad-crc": description_frame(b"M30", b"")[:126] + b"\0\0",
    },
    "application_name": {
        "sante": app_frame(b"SANTE 2.1"),
        "longest": app_frame(b"N" * 30),
        "end": with_crc(bytes((0x06,)) + bytes(31)),
    },
    "port_text": {
        "plain": b"COM5",
        "probed": b"Port COM5 (COM5)",
        "reader": b"DORAN Kavron USB (COM12)",
        "long": b"Port COM123456 (COM123456)",
    },
    "port_list": {
        # the row count, each row's number and text, the count the library reports
        "reader": provider(b"DORAN Kavron USB\\ Communications Port\\ ",
                           [(1, False, 2), (4, True, 5), (4, True, 1), (4, True, 2)]),
        "one": provider(b"Port serie\\ ", [(1, False, 1), (4, True, 3), (4, True, 1)]),
    },
    "ini_section": {
        "files": nul_lines(CATALOGUE_FILES),
        "values": nul_lines([b"Presence=3", b"Absence=256"]),
        "empty-lines": b"\0\0A=1\0\0B\0",
    },
    "catalogue_options": {
        # the record's two option bytes, then Presence and Absence as the profile gives them
        "general": provider(b"3\\ 256", [(1, False, 0x01), (1, False, 0x03)]),
        "negative": provider(b"  -1\\ +99999999999", [(1, False, 0x00), (1, False, 0x80)]),
    },
    "constraints": {
        "presence": b"SANTE*\nSANTE 2.1\nTIERS 1.0\n",
        "exclusion": b"ANCIEN*\nSANTE 2.1\n",
        "no-star": b"TIERS\nSANTE\n",
    },
    "load_list": {
        "m30": nul_lines(CATALOGUE_FILES),
        "sgn-only": nul_lines([b"K31APP.SGN", b"K31APP.SGN", b"3648.ADF"]),
    },
    "png": {
        "dot-green": draw.draw_dot(draw.GREEN),
        "rgb": draw.png_bytes(2, 2, [[(255, 0, 0), (0, 255, 0)], [(0, 0, 255), (9, 9, 9)]],
                              alpha=False),
        "gray1": png(8, 2, 0, 1, [b"\xAA", b"\x55"]),
        "gray-alpha16": png(1, 2, 4, 16, [b"\x12\x34\xFF\xFF", b"\x00\x00\x00\x00"]),
        "palette-trns": palette_png(),
        "interlaced": png(3, 3, 2, 8,
                          adam7(3, 3, 3, [b"\x00" * 9, b"\x10\x20\x30" * 3, b"\xFF" * 9]),
                          interlace=1),
    },
}


def main(argv):
    out = argv[1] if len(argv) > 1 else os.path.join(HERE, "corpus")
    for target, seeds in SEEDS.items():
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
