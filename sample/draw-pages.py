#!/usr/bin/env python3
"""Draws the sample book's page pictures: numbered pages a reader recognises at a glance.

Each page is a light sheet with a coloured band at the top, a frame, and "PAGE N" in big block
letters (a 5 x 7 pixel font scaled up), written as PNG with nothing but the standard library, so
the same pages come out on every machine. With --jpeg-even, the even pages are turned into JPEG
by ImageMagick's convert when it is there, so a book holds both kinds.

With --landscape N,..., those pages are drawn on their side (height x width), so a book holds
pages of two sizes; with --photo, one more page follows: a photo-like landscape picture stored
turned a quarter anticlockwise in a JPEG whose EXIF orientation (6) says to turn it back, as
phone cameras write them.

usage: draw-pages.py OUT_DIR [--pages N] [--width W] [--height H] [--jpeg-even]
                     [--landscape N,...] [--photo]
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import zlib

FONT = {  # 5 x 7, rows top to bottom, '#' set
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "0": [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
    "1": ["..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "2": [".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"],
    "3": ["####.", "....#", "....#", ".###.", "....#", "....#", "####."],
    "4": ["...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."],
    "5": ["#####", "#....", "####.", "....#", "....#", "#...#", ".###."],
    "6": [".###.", "#....", "#....", "####.", "#...#", "#...#", ".###."],
    "7": ["#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."],
    "8": [".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."],
    "9": [".###.", "#...#", "#...#", ".####", "....#", "....#", ".###."],
    " ": ["....."] * 7,
}
BANDS = [(0xC0, 0x39, 0x2B), (0x27, 0xAE, 0x60), (0x29, 0x80, 0xB9), (0x8E, 0x44, 0xAD),
         (0xD3, 0x54, 0x00), (0x16, 0xA0, 0x85)]
PAPER, INK = (0xFA, 0xF7, 0xF0), (0x22, 0x22, 0x22)


def page_rows(number, width, height):
    rows = [bytearray(bytes(PAPER) * width) for _ in range(height)]

    def fill(x0, y0, x1, y1, colour):
        x0, x1 = max(0, x0), min(width, x1)
        run = bytes(colour) * (x1 - x0)
        for y in range(max(0, y0), min(height, y1)):
            rows[y][x0 * 3:x1 * 3] = run

    band = BANDS[(number - 1) % len(BANDS)]
    fill(0, 0, width, height // 8, band)
    edge = max(4, width // 100)
    for x0, y0, x1, y1 in ((0, 0, width, edge), (0, height - edge, width, height),
                           (0, 0, edge, height), (width - edge, 0, width, height)):
        fill(x0, y0, x1, y1, INK)

    text = "PAGE %d" % number
    cell = max(2, min(width // (len(text) * 6 + 2), height // 20))
    left = (width - (len(text) * 6 - 1) * cell) // 2
    top = (height - 7 * cell) // 2
    for i, ch in enumerate(text):
        for r, line in enumerate(FONT[ch]):
            for c, bit in enumerate(line):
                if bit == "#":
                    x = left + (i * 6 + c) * cell
                    y = top + r * cell
                    fill(x, y, x + cell, y + cell, INK)
    # The page number again, small, in the bottom right corner, as printed books have it.
    small = max(2, cell // 4)
    digits = str(number)
    x_start = width - edge * 3 - (len(digits) * 6 - 1) * small
    y_start = height - edge * 3 - 7 * small
    for i, ch in enumerate(digits):
        for r, line in enumerate(FONT[ch]):
            for c, bit in enumerate(line):
                if bit == "#":
                    fill(x_start + (i * 6 + c) * small, y_start + r * small,
                         x_start + (i * 6 + c + 1) * small, y_start + (r + 1) * small, band)
    return rows


def write_png(path, width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(r) for r in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def photo_rows(width, height):
    """A landscape picture a reader knows the right way up: sky above, a sun at the top left,
    green ground below, and a dark house standing on it."""
    rows = []
    horizon = height * 5 // 8
    for y in range(height):
        if y < horizon:
            t = y / horizon
            colour = (int(90 + 110 * t), int(150 + 80 * t), 235)
        else:
            t = (y - horizon) / (height - horizon)
            colour = (int(60 - 30 * t), int(150 - 60 * t), int(50 - 20 * t))
        rows.append(bytearray(bytes(colour) * width))
    sun_x, sun_y, sun_r = width // 6, height // 6, height // 10
    for y in range(max(0, sun_y - sun_r), sun_y + sun_r):
        for x in range(max(0, sun_x - sun_r), sun_x + sun_r):
            if (x - sun_x) ** 2 + (y - sun_y) ** 2 <= sun_r ** 2:
                rows[y][x * 3:x * 3 + 3] = bytes((0xFF, 0xD8, 0x30))
    house = (width * 5 // 8, horizon - height // 4, width * 7 // 8, horizon)
    for y in range(house[1], house[3]):
        rows[y][house[0] * 3:house[2] * 3] = bytes((0x50, 0x30, 0x28)) * (house[2] - house[0])
    return rows


def exif_orientation_segment(value):
    """An APP1 EXIF segment holding one IFD0 entry: Orientation (0x0112), SHORT, `value`."""
    tiff = b"II*\x00" + struct.pack("<I", 8)
    tiff += struct.pack("<H", 1) + struct.pack("<HHIHH", 0x0112, 3, 1, value, 0) + struct.pack("<I", 0)
    body = b"Exif\x00\x00" + tiff
    return b"\xFF\xE1" + struct.pack(">H", len(body) + 2) + body


def write_photo(path, width, height, convert):
    """The photo page: drawn upright (width x height), stored turned a quarter anticlockwise,
    with EXIF orientation 6 (turn a quarter clockwise to show it)."""
    upright = path + ".upright.png"
    write_png(upright, width, height, photo_rows(width, height))
    subprocess.run([convert, upright, "-rotate", "-90", "-strip", "-quality", "90", path],
                   check=True)
    os.remove(upright)
    with open(path, "rb") as f:
        jpeg = f.read()
    with open(path, "wb") as f:
        f.write(jpeg[:2] + exif_orientation_segment(6) + jpeg[2:])


def main():
    p = argparse.ArgumentParser(description="Draws numbered page pictures.")
    p.add_argument("out")
    p.add_argument("--pages", type=int, default=6)
    p.add_argument("--width", type=int, default=600)
    p.add_argument("--height", type=int, default=800)
    p.add_argument("--jpeg-even", action="store_true")
    p.add_argument("--landscape", default="")
    p.add_argument("--photo", action="store_true")
    a = p.parse_args()
    os.makedirs(a.out, exist_ok=True)
    landscape = {int(n) for n in a.landscape.split(",") if n}
    convert = shutil.which("convert") if a.jpeg_even or a.photo else None
    if a.photo and not convert:
        sys.exit("draw-pages: --photo needs ImageMagick's convert")
    for n in range(1, a.pages + 1):
        png = os.path.join(a.out, "page%d.png" % n)
        w, h = (a.height, a.width) if n in landscape else (a.width, a.height)
        write_png(png, w, h, page_rows(n, w, h))
        if a.jpeg_even and convert and n % 2 == 0:
            jpeg = os.path.join(a.out, "page%d.jpg" % n)
            subprocess.run([convert, png, "-strip", "-quality", "90", jpeg], check=True)
            os.remove(png)
    if a.photo:
        write_photo(os.path.join(a.out, "page%d.jpg" % (a.pages + 1)), a.height, a.width, convert)
    return 0


if __name__ == "__main__":
    sys.exit(main())
