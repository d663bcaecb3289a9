#!/usr/bin/env python3
"""Draws tavik's application icon and writes it as a Windows .ico file.

A key cap seen from above with the katakana "タ" (ta, for tavik) on its
face: 16x16 and 32x32 in the 16 standard colours, 48x48 in 256 colours with
smoothed edges. Only the standard library is used, and the output depends on
nothing but this file, so that the committed tavik.ico can be checked by
generating it again.

    python3 make_icon.py tavik.ico [--paused] [--png PREFIX]

--paused draws the icon shown while tavik is paused: the same key cap,
washed out to greys, as Windows draws what is switched off.
--png also writes each image as PREFIX-16.png etc., to look at.
"""
import struct
import sys
import zlib

# The 16 colours every Windows display has, in the order of the standard
# palette, as (red, green, blue).
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY, WHITE = VGA[0], VGA[4], VGA[7], VGA[8], VGA[15]

# Strokes of "タ" in a unit square (x right, y down): the short falling
# stroke on the left, the top bar that turns into the long sweep, and the
# small stroke inside.
GLYPH = [
    [(0.46, 0.04), (0.12, 0.48)],
    [(0.36, 0.22), (0.86, 0.22), (0.72, 0.56), (0.26, 0.96)],
    [(0.30, 0.44), (0.64, 0.64)],
]


def in_rounded_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def distance_to_segment(px, py, a, b):
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = min(max(t, 0.0), 1.0)
    return ((px - ax - t * dx) ** 2 + (py - ay - t * dy) ** 2) ** 0.5


def colour_at(x, y, size):
    """The colour of the point (x, y) of an icon `size` pixels wide, or None
    outside the key cap."""
    s = size / 32.0
    # The key: dark sides all round, a deeper edge at the bottom, a black rim.
    body = (1.0 * s, 1.5 * s, size - 1.0 * s, size - 1.0 * s, 5.0 * s)
    if not in_rounded_rect(x, y, *body):
        return None
    inner = (body[0] + 1.2 * s, body[1] + 1.2 * s, body[2] - 1.2 * s, body[3] - 1.2 * s, body[4] - 1.0 * s)
    if not in_rounded_rect(x, y, *inner):
        return BLACK
    face = (4.0 * s, 3.5 * s, size - 4.0 * s, size - 7.5 * s, 3.5 * s)
    if not in_rounded_rect(x, y, *face):
        return GREY
    # The glyph fills the face with a small margin.
    g_left, g_top = face[0] + 3.0 * s, face[1] + 1.6 * s
    g_size = min(face[2] - face[0] - 6.0 * s, face[3] - face[1] - 3.2 * s)
    u, v = (x - g_left) / g_size, (y - g_top) / g_size
    half_width = max(0.9 * s, 0.55) / g_size
    for stroke in GLYPH:
        for a, b in zip(stroke, stroke[1:]):
            if distance_to_segment(u, v, a, b) <= half_width:
                return NAVY
    return WHITE


# At 16x16 no drawing by geometry keeps the strokes apart: drawn by hand.
# k black, g grey, w white, n navy, . transparent.
PIXELS_16 = [
    "..kkkkkkkkkkkk..",
    ".kggggggggggggk.",
    "kgwwwwwwwwwwwwgk",
    "kgwwwwnwwwwwwwgk",
    "kgwwwnnnnnnnnwgk",
    "kgwwnnwwwwwwnwgk",
    "kgwnnwnwwwwnnwgk",
    "kgwwwwwnwwnnwwgk",
    "kgwwwwwwnnnwwwgk",
    "kgwwwwwwnnwwwwgk",
    "kgwwwwwnnwwwwwgk",
    "kgwwwnnnwwwwwwgk",
    "kgwnnwwwwwwwwwgk",
    "kggggggggggggggk",
    ".kggggggggggggk.",
    "..kkkkkkkkkkkk..",
]
PIXEL_COLOURS = {"k": BLACK, "g": GREY, "w": WHITE, "n": NAVY}


def washed_out(colour):
    """A colour as the paused icon shows it: its grey, halfway to white."""
    r, g, b = colour
    grey = (30 * r + 59 * g + 11 * b) // 100
    level = (grey + 255) // 2
    return (level, level, level)


def render(size, samples, paused=False):
    """Rows of (r, g, b, covered) from top to bottom, averaging samples x
    samples points per pixel."""
    rows = render_colours(size, samples)
    if paused:
        rows = [[washed_out((r, g, b)) + (covered,) if covered else (r, g, b, covered) for r, g, b, covered in row]
                for row in rows]
    return rows


def render_colours(size, samples):
    if size == 16:
        return [[PIXEL_COLOURS[c] + (True,) if c in PIXEL_COLOURS else (0, 0, 0, False) for c in row]
                for row in PIXELS_16]
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = n = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at(px + (sx + 0.5) / samples, py + (sy + 0.5) / samples, size)
                    if c is not None:
                        r, g, b, n = r + c[0], g + c[1], b + c[2], n + 1
            total = samples * samples
            # A pixel belongs to the icon when most of it is covered.
            if n * 2 > total:
                row.append((r // n, g // n, b // n, True))
            else:
                row.append((0, 0, 0, False))
        rows.append(row)
    return rows


def palette_256():
    """The 16 standard colours, a 6x6x6 colour cube and a grey ramp."""
    colours = list(VGA)
    levels = [0, 51, 102, 153, 204, 255]
    colours += [(r, g, b) for r in levels for g in levels for b in levels]
    colours += [(8 + 10 * i, 8 + 10 * i, 8 + 10 * i) for i in range(24)]
    return colours[:256]


def nearest(colour, palette):
    return min(range(len(palette)),
               key=lambda i: sum((colour[k] - palette[i][k]) ** 2 for k in range(3)) * 256 + i)


def bitmap(size, bits, samples, paused):
    """The icon image: BITMAPINFOHEADER, palette, colour rows and the
    transparency mask, both bottom-up and padded to 4 bytes."""
    palette = VGA if bits == 4 else palette_256()
    rows = render(size, samples, paused)
    cache = {}
    colour_rows, mask_rows = [], []
    for row in reversed(rows):
        indices, mask = [], []
        for r, g, b, covered in row:
            if covered:
                key = (r, g, b)
                if key not in cache:
                    cache[key] = nearest(key, palette)
                indices.append(cache[key])
            else:
                indices.append(0)
            mask.append(0 if covered else 1)
        if bits == 4:
            data = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))
        else:
            data = bytes(indices)
        colour_rows.append(data + b"\0" * (-len(data) % 4))
        packed = bytes(sum(bit << (7 - j) for j, bit in enumerate(mask[i:i + 8])) for i in range(0, size, 8))
        mask_rows.append(packed + b"\0" * (-len(packed) % 4))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         sum(map(len, colour_rows)) + sum(map(len, mask_rows)), 0, 0, len(palette), 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + table + b"".join(colour_rows) + b"".join(mask_rows), rows


# (size, bits per pixel, samples per pixel edge): the 16-colour images take
# one sample at each pixel's centre, since they cannot blend.
IMAGES = [(16, 4, 1), (32, 4, 1), (48, 8, 4)]


def icon_file(paused):
    images = [(size, bits, bitmap(size, bits, samples, paused)) for size, bits, samples in IMAGES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, (data, _) in images:
        colours = 16 if bits == 4 else 0
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    for _, _, (data, _) in images:
        out += data
    return out, images


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for r, g, b, c in row for v in (r, g, b, 255 if c else 0)) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(argv):
    args = argv[1:]
    paused = "--paused" in args
    if paused:
        args.remove("--paused")
    if len(args) not in (1, 3) or (len(args) == 3 and args[1] != "--png"):
        sys.stderr.write(__doc__)
        return 2
    data, images = icon_file(paused)
    with open(args[0], "wb") as f:
        f.write(data)
    if len(args) == 3:
        for size, _, (_, rows) in images:
            with open("%s-%d.png" % (args[2], size), "wb") as f:
                f.write(png(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
