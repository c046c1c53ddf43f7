#!/usr/bin/env python3
"""Draws the sample book's page pictures: numbered pages a reader recognises at a glance.

Each page is a light sheet with a coloured band at the top, a frame, and "PAGE N" in big block
letters (a 5 x 7 pixel font scaled up), written as PNG with nothing but the standard library, so
the same pages come out on every machine. With --jpeg-even, the even pages are turned into JPEG
by ImageMagick's convert when it is there, so a book holds both kinds.

usage: draw-pages.py OUT_DIR [--pages N] [--width W] [--height H] [--jpeg-even]
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


def main():
    p = argparse.ArgumentParser(description="Draws numbered page pictures.")
    p.add_argument("out")
    p.add_argument("--pages", type=int, default=6)
    p.add_argument("--width", type=int, default=600)
    p.add_argument("--height", type=int, default=800)
    p.add_argument("--jpeg-even", action="store_true")
    a = p.parse_args()
    os.makedirs(a.out, exist_ok=True)
    convert = shutil.which("convert") if a.jpeg_even else None
    for n in range(1, a.pages + 1):
        png = os.path.join(a.out, "page%d.png" % n)
        write_png(png, a.width, a.height, page_rows(n, a.width, a.height))
        if convert and n % 2 == 0:
            jpeg = os.path.join(a.out, "page%d.jpg" % n)
            subprocess.run([convert, png, "-strip", "-quality", "90", jpeg], check=True)
            os.remove(png)
    return 0


if __name__ == "__main__":
    sys.exit(main())
