#!/usr/bin/env python3
"""Draws the program's own bitmaps into resources/: the program icon, the two
connection icons of the status bar and the button skin.

Run it again after changing a drawing: python3 scripts/make_resources.py
Only the standard library is needed (PNG written with zlib and struct).
"""
import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
MAGENTA = (255, 0, 255)


def write_png(path, width, height, pixels, alpha):
    """pixels: rows of (r, g, b) or (r, g, b, a) tuples."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # no filter
        for px in row:
            raw.extend(px[:4] if alpha else px[:3])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def over(dst, src, coverage):
    """Paints colour `src` (rgb) with `coverage` 0..1 over rgba `dst`."""
    if coverage <= 0:
        return dst
    r, g, b, a = dst
    a0 = a / 255.0
    a1 = coverage + a0 * (1 - coverage)
    if a1 <= 0:
        return (0, 0, 0, 0)
    rgb = [(s * coverage + d * a0 * (1 - coverage)) / a1 for s, d in zip(src, (r, g, b))]
    return tuple(round(c) for c in rgb) + (round(a1 * 255),)


def supersample(size, inside, n=4):
    """Coverage of each pixel by the shape `inside(x, y)`, 0..1."""
    cov = [[0.0] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    if inside(x + (sx + 0.5) / n, y + (sy + 0.5) / n):
                        hits += 1
            cov[y][x] = hits / (n * n)
    return cov


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def segment(ax, ay, bx, by, half_width):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half_width ** 2
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def layer(img, shape, colour_at):
    size = len(img)
    cov = supersample(size, shape)
    for y in range(size):
        for x in range(size):
            if cov[y][x]:
                c = colour_at(x, y) if callable(colour_at) else colour_at
                img[y][x] = over(img[y][x], c, cov[y][x])


def program_icon(size=64):
    """Two fibres meeting between the electrodes, with the arc between them."""
    s = size / 64.0
    img = [[(0, 0, 0, 0)] * size for _ in range(size)]
    layer(img, rounded_rect(2 * s, 2 * s, 62 * s, 62 * s, 10 * s),
          lambda x, y: mix((30, 70, 140), (10, 30, 70), y / size))
    # Electrodes from above and below.
    for tip_y, base_y in ((24, 6), (40, 58)):
        def electrode(x, y, tip_y=tip_y, base_y=base_y):
            t = (y / s - base_y) / (tip_y - base_y)
            return 0 <= t <= 1 and abs(x / s - 32) <= 5 * (1 - t) + 0.8
        layer(img, electrode, (170, 180, 195))
    # The arc: a glow, then a bright core.
    layer(img, circle(32 * s, 32 * s, 9 * s), (90, 160, 255))
    layer(img, circle(32 * s, 32 * s, 5 * s), (200, 230, 255))
    # The fibres from both sides, stopping just short of each other.
    layer(img, segment(6 * s, 32 * s, 28 * s, 32 * s, 2.2 * s), (250, 220, 90))
    layer(img, segment(36 * s, 32 * s, 58 * s, 32 * s, 2.2 * s), (250, 220, 90))
    layer(img, circle(32 * s, 32 * s, 2.5 * s), (255, 255, 255))
    return img


def status_icon(connected, size=16):
    img = [[(0, 0, 0, 0)] * size for _ in range(size)]
    ring, body = ((20, 110, 40), (60, 190, 80)) if connected else ((140, 30, 30), (220, 70, 60))
    layer(img, circle(8, 8, 7.2), ring)
    layer(img, circle(8, 8, 6.0), lambda x, y: mix(mix(body, (255, 255, 255), 0.35), body, y / 12))
    if connected:
        layer(img, segment(4.6, 8.2, 7.0, 10.8, 1.1), (255, 255, 255))
        layer(img, segment(7.0, 10.8, 11.4, 5.2, 1.1), (255, 255, 255))
    else:
        layer(img, segment(4.5, 8, 11.5, 8, 1.2), (255, 255, 255))
    return img


def button_skin(frame_w=64, height=26):
    """Five frames side by side: normal, pressed, disabled, focus, and a spare."""
    frames = [
        # border, top of body, bottom of body, inner ring (or None)
        ((70, 100, 140), (250, 252, 255), (200, 216, 236), None),
        ((60, 85, 120), (188, 204, 226), (222, 232, 244), None),
        ((120, 120, 128), (150, 150, 158), (128, 128, 136), None),
        ((25, 80, 190), (250, 252, 255), (200, 216, 236), (120, 170, 240)),
        ((70, 100, 140), (255, 255, 255), (215, 228, 244), None),
    ]
    radius = 3.5
    rows = [[MAGENTA] * (frame_w * 5) for _ in range(height)]
    for f, (border, top, bottom, ring) in enumerate(frames):
        for y in range(height):
            for x in range(frame_w):
                # Hard-edged corners: a pixel is either skin or magenta.
                px, py = x + 0.5, y + 0.5
                cx = min(max(px, radius), frame_w - radius)
                cy = min(max(py, radius), height - radius)
                d = math.hypot(px - cx, py - cy)
                if d > radius:
                    continue
                edge = x in (0, frame_w - 1) or y in (0, height - 1) or d > radius - 1
                if edge:
                    colour = border
                elif ring and (x in (1, frame_w - 2) or y in (1, height - 2)):
                    colour = ring
                else:
                    colour = mix(top, bottom, (y - 1) / (height - 3))
                rows[y][f * frame_w + x] = colour
    return rows


def main():
    os.makedirs(OUT, exist_ok=True)
    write_png(os.path.join(OUT, "velmora.png"), 64, 64, program_icon(), True)
    write_png(os.path.join(OUT, "connected.png"), 16, 16, status_icon(True), True)
    write_png(os.path.join(OUT, "disconnected.png"), 16, 16, status_icon(False), True)
    skin = button_skin()
    write_png(os.path.join(OUT, "button_skin.png"), len(skin[0]), len(skin), skin, False)


if __name__ == "__main__":
    main()
