#!/usr/bin/env python3
"""Converts 24-bit uncompressed BMP files (the Windows screenshots that
velmora_driver.exe captures) into PNG files. Plain Python 3, no packages.

    scripts/bmp-to-png.py IN.bmp OUT.png [IN.bmp OUT.png ...]
"""
import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, "rb").read()
    if data[:2] != b"BM":
        sys.exit(f"{path}: not a BMP")
    offset = struct.unpack("<I", data[10:14])[0]
    _, width, height, _, bits, compression = struct.unpack("<IiiHHI", data[14:34])
    if bits != 24 or compression != 0:
        sys.exit(f"{path}: only 24-bit uncompressed BMP is read")
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        source = y if height < 0 else abs(height) - 1 - y  # bottom-up unless negative
        row = data[offset + source * stride:offset + source * stride + width * 3]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
        rows.append(bytes(rgb))
    return width, abs(height), rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    raw = b"".join(b"\x00" + row for row in rows)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


def main(args):
    if not args or len(args) % 2:
        sys.exit(__doc__)
    for source, target in zip(args[0::2], args[1::2]):
        write_png(target, *read_bmp(source))


if __name__ == "__main__":
    main(sys.argv[1:])
