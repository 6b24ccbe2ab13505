#!/usr/bin/env python3
"""Draws the program's icon, a small effects unit seen from above, from one list of shapes: as SVG for the
desktop's scalable icons and as a 256-pixel PNG for the window and the desktops that want a bitmap.

    scripts/draw-icon.py        writes resources/pexo-rigmora.svg and resources/pexo-rigmora.png
"""
import os
import struct
import zlib

SIZE = 256
# (kind, geometry, colour): painted in order, each over the ones before it.
SHAPES = [
    ("rect", (8, 8, 240, 240, 44), (29, 38, 48)),        # the tile
    ("rect", (52, 26, 152, 204, 20), (5, 96, 159)),      # the unit's body
    ("rect", (60, 34, 136, 96, 12), (0, 186, 241)),      # its control panel
    ("circle", (98, 80, 26), (40, 48, 56)),              # two knobs
    ("circle", (158, 80, 26), (40, 48, 56)),
    ("circle", (98, 63, 5), (232, 238, 242)),            # their pointers
    ("circle", (172, 68, 5), (232, 238, 242)),
    ("circle", (128, 150, 8), (245, 147, 31)),           # the lamp
    ("circle", (128, 194, 26), (201, 211, 218)),         # the footswitch
    ("circle", (128, 194, 15), (138, 152, 163)),
]


def inside(kind, geometry, x, y):
    if kind == "circle":
        cx, cy, r = geometry
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    left, top, width, height, radius = geometry
    if not (left <= x <= left + width and top <= y <= top + height):
        return False
    # Only the corners are cut: the nearest corner centre decides.
    cx = min(max(x, left + radius), left + width - radius)
    cy = min(max(y, top + radius), top + height - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def svg():
    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{SIZE}" height="{SIZE}" viewBox="0 0 {SIZE} {SIZE}">']
    for kind, geometry, (r, g, b) in SHAPES:
        fill = f"#{r:02x}{g:02x}{b:02x}"
        if kind == "circle":
            cx, cy, radius = geometry
            parts.append(f'  <circle cx="{cx}" cy="{cy}" r="{radius}" fill="{fill}"/>')
        else:
            left, top, width, height, radius = geometry
            parts.append(f'  <rect x="{left}" y="{top}" width="{width}" height="{height}" rx="{radius}" fill="{fill}"/>')
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


def png():
    samples = 4  # per axis, for smooth edges
    rows = []
    for py in range(SIZE):
        row = bytearray([0])  # no filter
        for px in range(SIZE):
            red = green = blue = alpha = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = px + (sx + 0.5) / samples
                    y = py + (sy + 0.5) / samples
                    colour = None
                    for kind, geometry, fill in SHAPES:
                        if inside(kind, geometry, x, y):
                            colour = fill
                    if colour:
                        red, green, blue, alpha = red + colour[0], green + colour[1], blue + colour[2], alpha + 1
            if alpha:
                row += bytes([round(red / alpha), round(green / alpha), round(blue / alpha),
                              round(255 * alpha / samples ** 2)])
            else:
                row += bytes(4)
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) +
            chunk(b"IEND", b""))


def main():
    resources = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
    with open(os.path.join(resources, "pexo-rigmora.svg"), "w", encoding="utf-8") as out:
        out.write(svg())
    with open(os.path.join(resources, "pexo-rigmora.png"), "wb") as out:
        out.write(png())


if __name__ == "__main__":
    main()
