#!/usr/bin/env python3
"""page-changed.py BEFORE.xwd AFTER.xwd X Y W H: exits 0 when at least 1% of the pixels
in the rectangle differ between two X window dumps of the same screen (xwd -root), 1 if not."""
import struct
import sys


def pixels(path):
    data = open(path, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    stride = fields[11] // 8
    return data[fields[0] + 12 * fields[19]:], fields[12], stride


def main():
    before, after = sys.argv[1], sys.argv[2]
    x, y, w, h = (int(v) for v in sys.argv[3:7])
    a, line, stride = pixels(before)
    b, _, _ = pixels(after)
    changed = 0
    for row in range(y, y + h):
        start = row * line + x * stride
        end = start + w * stride
        pa, pb = a[start:end], b[start:end]
        changed += sum(1 for i in range(0, len(pa), stride) if pa[i:i + stride] != pb[i:i + stride])
    print(f"page-changed: {changed} of {w * h} pixels differ")
    return 0 if changed * 100 >= w * h else 1


if __name__ == "__main__":
    sys.exit(main())
