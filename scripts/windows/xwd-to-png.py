#!/usr/bin/env python3
"""Converts a 24/32-bit TrueColor X window dump (xwd -root) to PNG, with no library beyond Python's."""
import struct
import sys
import zlib


def convert(source, target):
    data = open(source, "rb").read()
    header_size = struct.unpack(">I", data[:4])[0]
    fields = struct.unpack(">25I", data[:100])
    width, height, byte_order = fields[4], fields[5], fields[7]
    bits_per_pixel, bytes_per_line, ncolors = fields[11], fields[12], fields[19]
    # Lines may be padded beyond width * stride: the stride comes from bits_per_pixel.
    stride = bits_per_pixel // 8
    if fields[13] not in (4, 5) or stride not in (3, 4) or width * stride > bytes_per_line:
        sys.exit("xwd-to-png: only TrueColor dumps of 3 or 4 bytes a pixel are handled")
    shifts = [(m & -m).bit_length() - 1 for m in fields[14:17]]
    big = byte_order != 0
    pixels = data[header_size + 12 * ncolors:]
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        line = pixels[y * bytes_per_line:y * bytes_per_line + width * stride]
        for x in range(0, width * stride, stride):
            p = int.from_bytes(line[x:x + stride], "big" if big else "little")
            rows += bytes(((p >> s) & 0xFF) for s in shifts)

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + chunk(b"IEND", b"")
    open(target, "wb").write(png)


if __name__ == "__main__":
    convert(sys.argv[1], sys.argv[2])
