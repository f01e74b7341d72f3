#!/usr/bin/env python3
"""Draws Hostally's 48x48, 256-colour icon (a tally of four strokes and a
slash on a rounded tile) and writes it three ways: ui/hostally_icon.h, the
palette and pixels the program builds its window icon from without parsing
anything; app/hostally.png, the same image for desktop menus;
app/hostally.svg, the same drawing for menus that scale it; and
app/hostally.ico, the Windows program's icon resource: the same drawing at
16, 24, 32, 48 and 256 pixels, each drawn at its own size with smooth edges
(the 256-pixel one as PNG, as Windows expects)."""
import math
import os
import struct
import zlib

SIZE = 48
SAMPLES = 4  # supersampling per axis, for smooth strokes
TOP = (32, 96, 160)
BOTTOM = (16, 56, 112)
INK = (250, 250, 240)
SLASH = (250, 196, 56)
ICO_SIZES = (16, 24, 32, 48, 256)


def in_tile(x, y):
    r = TILE_RADIUS
    cx = min(max(x, r + 1), SIZE - 1 - r)
    cy = min(max(y, r + 1), SIZE - 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def dist_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


STROKES = [(13 + 7 * i, 11, 13 + 7 * i, 37) for i in range(4)]
SLASH_LINE = (8, 32, 40, 16)
STROKE_WIDTH = 2.0
SLASH_WIDTH = 2.2
TILE_RADIUS = 8.0
ROOT = os.path.join(os.path.dirname(__file__), "..")


def coverage(x, y, segments, width):
    hits = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            px = x + (sx + 0.5) / SAMPLES
            py = y + (sy + 0.5) / SAMPLES
            if any(dist_to_segment(px, py, *s) <= width for s in segments):
                hits += 1
    return hits / (SAMPLES * SAMPLES)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def quantise(c):
    # Keep the palette well under 256 colours.
    return tuple(min(255, (v // 8) * 8 + 4) for v in c)


def main():
    pixels = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            if not in_tile(x + 0.5, y + 0.5):
                row.append(None)
                continue
            colour = mix(TOP, BOTTOM, y / (SIZE - 1))
            colour = mix(colour, INK, coverage(x, y, STROKES, STROKE_WIDTH))
            colour = mix(colour, SLASH, coverage(x, y, [SLASH_LINE], SLASH_WIDTH))
            row.append(quantise(colour))
        pixels.append(row)

    palette = sorted({c for row in pixels for c in row if c is not None})
    assert len(palette) < 256, len(palette)
    # Index 0 is the transparent corner colour; the drawing's colours follow.
    entries = [None] + palette
    index = {c: i for i, c in enumerate(entries)}
    indices = [index[c] for row in pixels for c in row]
    write_header(entries, indices)
    write_png(entries, indices)
    write_svg()
    write_ico()


def write(relative, data):
    path = os.path.normpath(os.path.join(ROOT, relative))
    with open(path, "wb") as f:
        f.write(data)
    print(f"wrote {path}")


def write_header(entries, indices):
    argb = ["0x00000000" if c is None else f"0xFF{c[0]:02X}{c[1]:02X}{c[2]:02X}" for c in entries]
    out = ["// Hostally's 48x48, 256-colour window icon as a palette and one palette",
           "// index per pixel, written by scripts/make_icon.py.",
           "#pragma once", "", "#include <cstdint>", "", "namespace hostally_icon {", "",
           f"constexpr int kSize = {SIZE};", "", "// clang-format off",
           "// Colours as 0xAARRGGBB; entry 0 is the transparent background.",
           "constexpr std::uint32_t kPalette[] = {"]
    for i in range(0, len(argb), 6):
        out.append("    " + ", ".join(argb[i:i + 6]) + ",")
    out += ["};", "", "// Rows from top to bottom, SIZE indexes each.",
            "constexpr unsigned char kPixels[kSize * kSize] = {"]
    for y in range(SIZE):
        row = indices[y * SIZE:(y + 1) * SIZE]
        out.append("    " + ",".join(str(v) for v in row) + ",")
    out += ["};", "// clang-format on", "", "} // namespace hostally_icon", ""]
    write("ui/hostally_icon.h", "\n".join(out).encode())


def png_bytes(size, colour_type, rows, extra_chunks=()):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    raw = b"".join(b"\0" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, colour_type, 0, 0, 0))
            + b"".join(chunk(kind, body) for kind, body in extra_chunks)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_png(entries, indices):
    plte = b"".join(bytes(c or (0, 0, 0)) for c in entries)
    trns = bytes([0 if c is None else 255 for c in entries])
    rows = [bytes(indices[y * SIZE:(y + 1) * SIZE]) for y in range(SIZE)]
    write("app/hostally.png", png_bytes(SIZE, 3, rows, [(b"PLTE", plte), (b"tRNS", trns)]))


def render(size):
    """The drawing at size x size pixels as rows of RGBA tuples: the tile's
    edge, the strokes and the slash each cover a pixel in part, measured on
    a grid of samples in the 48-unit space the design is drawn in."""
    n = max(SAMPLES, 192 // size)  # samples per axis and pixel
    unit = SIZE / size
    strokes, stroke_width = hinted_strokes(size)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            tile = ink = slash = 0
            for sy in range(n):
                for sx in range(n):
                    px = (x + (sx + 0.5) / n) * unit
                    py = (y + (sy + 0.5) / n) * unit
                    if not in_tile(px, py):
                        continue
                    tile += 1
                    ink += any(dist_to_segment(px, py, *s) <= stroke_width for s in strokes)
                    slash += dist_to_segment(px, py, *SLASH_LINE) <= SLASH_WIDTH
            if tile == 0:
                row.append((0, 0, 0, 0))
                continue
            colour = mix(TOP, BOTTOM, min(1.0, (y + 0.5) * unit / (SIZE - 1)))
            colour = mix(colour, INK, ink / tile)
            colour = mix(colour, SLASH, slash / tile)
            row.append(colour + (round(255 * tile / (n * n)),))
        rows.append(row)
    return rows


def hinted_strokes(size):
    """The strokes and their half width in design units, for size pixels.
    Below the design's own size each stroke is made a whole number of pixels
    wide and moved to the nearest place where its sides fall on pixel edges,
    so that small icons show crisp strokes rather than grey smears."""
    if size >= SIZE:
        return STROKES, STROKE_WIDTH
    unit = SIZE / size
    width = max(1, round(2 * STROKE_WIDTH / unit))
    strokes = []
    for x, y1, _, y2 in STROKES:
        centre = x / unit
        centre = math.floor(centre) + 0.5 if width % 2 else round(centre)
        strokes.append((centre * unit, y1, centre * unit, y2))
    return strokes, width * unit / 2


def write_ico():
    # Each size in the form Windows reads best: up to 48 pixels a bottom-up
    # 32-bit BGRA bitmap followed by the 1-bit mask older code asks for, each
    # mask row padded to four bytes; at 256 pixels a PNG.
    images = []
    for size in ICO_SIZES:
        rows = render(size)
        if size == 256:
            images.append(png_bytes(size, 6, [bytes(v for p in r for v in p) for r in rows]))
            continue
        pixels = b"".join(bytes((b, g, r, a)) for row in rows[::-1] for r, g, b, a in row)
        mask_stride = ((size + 31) // 32) * 4
        mask = b""
        for row in rows[::-1]:
            bits = sum(1 << (mask_stride * 8 - 1 - i) for i, p in enumerate(row) if p[3] == 0)
            mask += bits.to_bytes(mask_stride, "big")
        header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                             len(pixels) + len(mask), 0, 0, 0, 0)
        images.append(header + pixels + mask)
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip(ICO_SIZES, images):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32,
                                 len(image), offset)
        offset += len(image)
    write("app/hostally.ico", directory + b"".join(images))


def write_svg():
    def rgb(c):
        return f"#{c[0]:02x}{c[1]:02x}{c[2]:02x}"

    def line(seg, colour, width):
        x1, y1, x2, y2 = seg
        return (f'  <line x1="{x1}" y1="{y1}" x2="{x2}" y2="{y2}" stroke="{rgb(colour)}" '
                f'stroke-width="{2 * width}" stroke-linecap="round"/>')

    r = TILE_RADIUS
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{SIZE}" height="{SIZE}" '
           f'viewBox="0 0 {SIZE} {SIZE}">',
           '  <defs>',
           '    <linearGradient id="tile" gradientUnits="userSpaceOnUse" '
           f'x1="0" y1="0" x2="0" y2="{SIZE - 1}">',
           f'      <stop offset="0" stop-color="{rgb(TOP)}"/>',
           f'      <stop offset="1" stop-color="{rgb(BOTTOM)}"/>',
           '    </linearGradient>',
           '  </defs>',
           f'  <rect x="1" y="1" width="{SIZE - 2}" height="{SIZE - 2}" rx="{r}" ry="{r}" '
           'fill="url(#tile)"/>']
    out += [line(s, INK, STROKE_WIDTH) for s in STROKES]
    out.append(line(SLASH_LINE, SLASH, SLASH_WIDTH))
    out += ["</svg>", ""]
    write("app/hostally.svg", "\n".join(out).encode())


if __name__ == "__main__":
    main()
