#!/usr/bin/env python3
"""Draws the installer's icon, an aircraft tail fin with a paint brush across it, and writes it as
resources/livery.ico with eight images: 16 and 32 pixels at 4 bits per pixel; 16, 32 and 48 pixels
at 8 and at 32 bits per pixel. The drawing is plain geometry, supersampled, so the file is the same
byte for byte on every run.

  make_icon.py            write resources/livery.ico
  make_icon.py --check    exit 1 when resources/livery.ico differs from what this script draws
  make_icon.py --preview FILE.png   also write the images side by side as a PNG, for a look
"""
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ICON_PATH = os.path.join(HERE, "livery.ico")

# (size, bits per pixel), in the order they are stored.
IMAGES = [(16, 4), (32, 4), (16, 8), (32, 8), (48, 8), (16, 32), (32, 32), (48, 32)]

# The drawing, in a 48-unit square with y growing downwards; later shapes cover earlier ones.
FIN = [(2, 46), (17, 9), (22, 4), (35, 4), (37, 46)]
FIN_STRIPE = [(11, 45), (24, 12), (29, 12), (20, 45)]
SHAPES = [
    ("polygon", FIN, (22, 64, 140)),
    ("polygon", FIN_STRIPE, (250, 250, 250)),
    ("capsule", ((44, 44), (31, 24), 3.6), (150, 90, 40)),   # handle
    ("capsule", ((31, 24), (26, 17), 4.4), (200, 200, 210)),  # ferrule
    ("polygon", [(30, 15), (22, 21), (17, 11), (14, 2), (23, 7)], (215, 40, 40)),  # bristles
]

# The standard 16-colour palette of 4-bit icons.
PALETTE_16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]

# 256 colours for 8-bit icons: a 6x6x6 colour cube, then a ramp of greys, then black padding.
PALETTE_256 = ([(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)] +
               [(i * 255 // 39, i * 255 // 39, i * 255 // 39) for i in range(40)])


def inside_polygon(points, x, y):
    """Even-odd rule."""
    inside = False
    for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def inside_capsule(capsule, x, y):
    """Within `radius` of the segment from a to b."""
    (ax, ay), (bx, by), radius = capsule
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    px, py = ax + t * dx - x, ay + t * dy - y
    return px * px + py * py <= radius * radius


def render(size):
    """Rows of (r, g, b, a) pixels, top row first."""
    samples = 8
    scale = 48.0 / size
    rows = []
    for row in range(size):
        pixels = []
        for column in range(size):
            r = g = b = a = 0.0
            for sy in range(samples):
                for sx in range(samples):
                    x = (column + (sx + 0.5) / samples) * scale
                    y = (row + (sy + 0.5) / samples) * scale
                    colour = None
                    for kind, geometry, fill in SHAPES:
                        hit = inside_polygon(geometry, x, y) if kind == "polygon" \
                            else inside_capsule(geometry, x, y)
                        if hit:
                            colour = fill
                    if colour:
                        r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1
            if a == 0:
                pixels.append((0, 0, 0, 0))
            else:
                pixels.append((round(r / a), round(g / a), round(b / a),
                               round(255 * a / (samples * samples))))
        rows.append(pixels)
    return rows


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((p - c) ** 2 for p, c in zip(palette[i], colour[:3])))


def row_bytes(bits):
    """Bytes in one bitmap row of `bits` bits, padded to four bytes."""
    return (bits + 31) // 32 * 4


def bitmap(size, bits, pixels):
    """The image as an icon stores it: header, palette, colour rows and mask rows, bottom-up."""
    palette = {4: PALETTE_16, 8: PALETTE_256}.get(bits, [])
    colour_rows = []
    mask_rows = []
    for row in reversed(pixels):
        mask = bytearray(row_bytes(size))
        for column, (_, _, _, alpha) in enumerate(row):
            if alpha < 128:
                mask[column // 8] |= 0x80 >> (column % 8)
        mask_rows.append(bytes(mask))
        if bits == 32:
            line = b"".join(struct.pack("BBBB", b, g, r, a) for r, g, b, a in row)
        else:
            indices = [nearest(palette, p) if p[3] >= 128 else 0 for p in row]
            if bits == 4:
                indices += [0] * (len(indices) % 2)
                line = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, len(indices), 2))
            else:
                line = bytes(indices)
        colour_rows.append(line.ljust(row_bytes(size * bits), b"\0"))
    data = b"".join(colour_rows) + b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, len(data), 0, 0,
                         len(palette), 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + data


def icon_file():
    rendered = {size: render(size) for size in sorted({size for size, _ in IMAGES})}
    images = [bitmap(size, bits, rendered[size]) for size, bits in IMAGES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for (size, bits), image in zip(IMAGES, images):
        entries += struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits,
                               len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(images), rendered


def png(rows):
    """A minimal RGBA PNG of the rows."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)
    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def preview(rendered, zoom=4):
    """The rendered sizes side by side, enlarged, over a light grey."""
    height = 48 * zoom
    rows = [[] for _ in range(height)]
    for size, pixels in rendered.items():
        for y in range(height):
            for x in range(48 * zoom + 8):
                px, py = x // zoom, y // zoom
                pixel = (220, 220, 220, 255)
                if px < size and py < size and x < size * zoom and pixels[py][px][3] >= 128:
                    pixel = pixels[py][px][:3] + (255,)
                rows[y].append(pixel)
    return png(rows)


def main(arguments):
    data, rendered = icon_file()
    if "--preview" in arguments:
        with open(arguments[arguments.index("--preview") + 1], "wb") as out:
            out.write(preview(rendered))
    if "--check" in arguments:
        with open(ICON_PATH, "rb") as existing:
            if existing.read() != data:
                print("resources/livery.ico differs from what make_icon.py draws", file=sys.stderr)
                return 1
        return 0
    with open(ICON_PATH, "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
