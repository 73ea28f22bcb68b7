#!/usr/bin/env python3
"""Prints the colour of pixels of a PNG file, for the picture tests.

    png_pixels.py FILE.png X Y [X Y ...]

One line per point: "R G B A", each 0-255. Reads what an SVG renderer
writes: 8-bit RGB or RGBA, not interlaced, any of the five row filters.
Only the standard library (zlib) is used.
"""
import struct
import sys
import zlib


def read_png(path, last_row):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    at = 8
    idat = b""
    width = height = None
    channels = 0
    while at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace != 0:
                raise ValueError("unsupported PNG layout")
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    raw = zlib.decompress(idat)
    stride = width * channels
    rows = []
    previous = bytearray(stride)
    # Rows past the last point asked for are not decoded.
    for y in range(min(height, last_row + 1)):
        start = y * (stride + 1)
        kind = raw[start]
        row = bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                row[i] = (row[i] + pred) & 255
        rows.append(row)
        previous = row
    return width, height, channels, rows


def main():
    if len(sys.argv) < 4 or len(sys.argv) % 2 != 0:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    points = [int(v) for v in sys.argv[2:]]
    width, height, channels, rows = read_png(sys.argv[1], max(points[1::2]))
    for x, y in zip(points[0::2], points[1::2]):
        if not (0 <= x < width and 0 <= y < len(rows)):
            print("outside %dx%d" % (width, height))
            continue
        pixel = rows[y][x * channels:(x + 1) * channels]
        alpha = pixel[3] if channels == 4 else 255
        print("%d %d %d %d" % (pixel[0], pixel[1], pixel[2], alpha))
    return 0


if __name__ == "__main__":
    sys.exit(main())
