#!/usr/bin/env python3
"""Makes resources/velmora.ico, the Windows program's icon, from the 32 x 32
and 16 x 16 PNG renderings of resources/velmora.svg: one 16-colour image of
each size (the standard 16-colour palette, each pixel the nearest colour),
with a transparency mask from the PNGs' alpha. Plain Python 3, no packages.

    scripts/make-icon.py            # rewrites resources/velmora.ico
"""
import os
import struct
import sys
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")

# The 16 colours every display offers (the VGA palette), as (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def read_png_rgba(path):
    """The pixels of an 8-bit RGBA, non-interlaced PNG as rows of (r, g, b, a)."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 6 or interlace != 0:
        sys.exit(f"{path}: only 8-bit RGBA without interlace is read")
    raw = zlib.decompress(idat)
    stride, bpp = width * 4, 4
    rows, prev, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - bpp] if i >= bpp else 0
            up = prev[i]
            upleft = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - upleft
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upleft)
                pred = left if pa <= pb and pa <= pc else up if pb <= pc else upleft
                line[i] = (line[i] + pred) & 0xFF
        rows.append([tuple(line[x * 4:x * 4 + 4]) for x in range(width)])
        prev = line
    return width, height, rows


def nearest(r, g, b):
    return min(range(16), key=lambda i: (PALETTE[i][0] - r) ** 2 + (PALETTE[i][1] - g) ** 2
               + (PALETTE[i][2] - b) ** 2)


def icon_image(width, height, rows):
    """One icon image: a 4-bit DIB of twice the height (colours, then mask)."""
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_stride = ((width * 4 + 31) // 32) * 4
    mask_stride = ((width + 31) // 32) * 4
    colours, mask = b"", b""
    for row in reversed(rows):  # bottom-up
        nibbles = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            transparent = a < 128
            index = 0 if transparent else nearest(r, g, b)
            nibbles[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if transparent:
                bits[x // 8] |= 0x80 >> (x % 8)
        colours += bytes(nibbles)
        mask += bytes(bits)
    return header + palette + colours + mask


def main():
    images = []
    for size in (32, 16):
        width, height, rows = read_png_rgba(os.path.join(ROOT, "resources", f"velmora-{size}.png"))
        images.append((width, height, icon_image(width, height, rows)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, data in images:
        out += struct.pack("<BBBBHHII", width, height, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    with open(os.path.join(ROOT, "resources", "velmora.ico"), "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
