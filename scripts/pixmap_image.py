#!/usr/bin/env python3
"""Turns a text pixel map into a Windows image file for the resource script.

Usage: pixmap_image.py bmp|ico MAP OUTPUT

A map holds "# comment" lines, one "colour CHAR R G B" line per colour, then
"pixels" and one line of characters per row, top row first. A space is
transparent (icons only: it goes into the mask).
  bmp: a 4-bit bitmap in the standard 16-colour palette (every colour of the
       map must be one of the 16).
  ico: a 32 by 32 icon with 256-colour depth and its transparency mask.
"""
import struct
import sys

STANDARD_16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def read_map(path):
    colours, rows, in_pixels = {}, [], False
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if in_pixels:
                rows.append(line)
            elif line.startswith("#") or not line.strip():
                continue
            elif line == "pixels":
                in_pixels = True
            else:
                word, char, r, g, b = line.split(" ")
                if word != "colour":
                    sys.exit(f"{path}: unknown line {line!r}")
                colours[char] = (int(r), int(g), int(b))
    width = max(len(r) for r in rows)
    rows = [r.ljust(width) for r in rows]
    for r in rows:
        for c in r:
            if c != " " and c not in colours:
                sys.exit(f"{path}: no colour for {c!r}")
    return colours, rows


def palette_bytes(palette, size):
    data = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return data + b"\0" * (4 * size - len(data))


def row_stride(width, bits):
    return (width * bits + 31) // 32 * 4


def info_header(width, height, bits, image_size, colours_used):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 0, 0, colours_used, 0)


def bmp(colours, rows):
    height, width = len(rows), len(rows[0])
    index = {c: STANDARD_16.index(rgb) for c, rgb in colours.items()}
    stride = row_stride(width, 4)
    bits = b""
    for row in reversed(rows):  # bottom-up
        nibbles = [index[c] for c in row] + [0] * (stride * 2 - width)
        bits += bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, len(nibbles), 2))
    header = info_header(width, height, 4, len(bits), 16) + palette_bytes(STANDARD_16, 16)
    offset = 14 + len(header)
    return struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset) + header + bits


def ico(colours, rows):
    height, width = len(rows), len(rows[0])
    if (width, height) != (32, 32):
        sys.exit("an icon is 32 by 32")
    chars = list(colours)
    index = {c: i for i, c in enumerate(chars)}
    colour_bits = b""
    mask_bits = b""
    for row in reversed(rows):
        colour_bits += bytes(index.get(c, 0) for c in row) + b"\0" * (row_stride(width, 8) - width)
        mask = 0
        for c in row:
            mask = (mask << 1) | (1 if c == " " else 0)
        mask_bits += mask.to_bytes(width // 8, "big") + b"\0" * (row_stride(width, 1) - width // 8)
    image = (info_header(width, height * 2, 8, len(colour_bits) + len(mask_bits), 0)
             + palette_bytes([colours[c] for c in chars], 256) + colour_bits + mask_bits)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width, height, 0, 0, 1, 8, len(image), 6 + 16)
    return directory + entry + image


def main():
    kind, source, target = sys.argv[1:4]
    colours, rows = read_map(source)
    data = {"bmp": bmp, "ico": ico}[kind](colours, rows)
    with open(target, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
