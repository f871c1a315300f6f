#!/usr/bin/env python3
"""Converts a 24-bit bottom-up BMP to PNG with the standard library only, and says whether the
picture shows anything (more than a handful of colours). Usage: bmp_to_png.py IN.bmp OUT.png"""
import struct
import sys
import zlib


def main():
    data = open(sys.argv[1], "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24:
        print("bmp_to_png: only 24-bit bitmaps", file=sys.stderr)
        return 1
    stride = (width * 3 + 3) & ~3
    rows, colours = [], set()
    for y in range(abs(height)):
        src = height - 1 - y if height > 0 else y
        row = data[offset + src * stride: offset + src * stride + width * 3]
        rgb = bytearray()
        for x in range(width):
            b, g, r = row[3 * x: 3 * x + 3]
            rgb += bytes((r, g, b))
            colours.add((r, g, b))
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    open(sys.argv[2], "wb").write(png)
    print(f"{sys.argv[2]}: {width}x{abs(height)}, {len(colours)} colours")
    return 0 if len(colours) >= 4 else 1


if __name__ == "__main__":
    sys.exit(main())
