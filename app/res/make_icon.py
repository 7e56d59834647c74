#!/usr/bin/env python3
"""Draws the runner's icon and writes it as contentexe.ico (eleven images).

The picture: a rounded square in a blue-to-teal gradient holding a white page with a
folded corner and a play triangle: content that is served and shown. Everything is
drawn from signed distances with 4x4 supersampling, so every size is crisp; no imaging
library is needed. Sizes up to 128 are stored as 32-bit DIBs, 256 as PNG.

Run: python3 app/res/make_icon.py  (writes app/res/contentexe.ico beside itself)
"""
import math
import os
import struct
import zlib

SIZES = [16, 20, 24, 32, 40, 48, 64, 72, 96, 128, 256]


def rounded_box(px, py, cx, cy, hw, hh, r):
    qx = abs(px - cx) - hw + r
    qy = abs(py - cy) - hh + r
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def triangle(px, py, a, b, c):
    # Negative inside; distance to the nearest edge line (good enough for fills).
    def edge(p, q):
        ex, ey = q[0] - p[0], q[1] - p[1]
        length = math.hypot(ex, ey)
        return ((px - p[0]) * ey - (py - p[1]) * ex) / length
    edges = (edge(a, b), edge(b, c), edge(c, a))
    # Either winding: inside when every edge agrees.
    return min(max(edges), max(-e for e in edges))


def shade(x, y):
    """Colour (r, g, b, a) at unit coordinates x, y in [0, 1)."""
    back = rounded_box(x, y, 0.5, 0.5, 0.47, 0.47, 0.16)
    if back > 0:
        return (0, 0, 0, 0)
    t = (x + y) / 2
    colour = (int(24 + 10 * t), int(92 + 90 * t), int(196 - 30 * t))
    # The page: a white sheet whose top right corner is folded.
    page = rounded_box(x, y, 0.5, 0.52, 0.25, 0.31, 0.03)
    fold = (x - 0.57) + (0.31 - y)  # > 0 beyond the fold line
    if page <= 0 and fold <= 0.10:
        colour = (250, 252, 255)
        if fold > 0.06:
            colour = (196, 214, 236)  # the folded flap
        play = triangle(x, y, (0.42, 0.40), (0.42, 0.66), (0.64, 0.53))
        if play <= 0:
            colour = (30 + int(20 * y), 120 + int(40 * y), 200)
    return colour + (255,)


def render(size):
    samples = 4
    pixels = []
    for row in range(size):
        line = []
        for col in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    r, g, b, a = shade((col + (sx + 0.5) / samples) / size,
                                       (row + (sy + 0.5) / samples) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = samples * samples
            alpha = acc[3] / n
            if alpha == 0:
                line.append((0, 0, 0, 0))
            else:
                line.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]),
                             round(acc[2] / acc[3]), round(alpha)))
        pixels.append(line)
    return pixels


def dib(size, pixels):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    body = bytearray()
    for row in reversed(pixels):  # bottom-up
        for r, g, b, a in row:
            body += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for col, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[col // 8] |= 0x80 >> (col % 8)
        mask += bits
    return header + bytes(body) + bytes(mask)


def png(size, pixels):
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    images = []
    for size in SIZES:
        pixels = render(size)
        images.append((size, png(size, pixels) if size >= 256 else dib(size, pixels)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "contentexe.ico")
    with open(path, "wb") as f:
        f.write(out)
    # A preview for people reviewing the drawing.
    if os.environ.get("CX_ICON_PREVIEW"):
        with open(os.environ["CX_ICON_PREVIEW"], "wb") as f:
            f.write(png(256, render(256)))


if __name__ == "__main__":
    main()
