#!/usr/bin/env python3
"""Draws Hostally's 48x48, 256-colour icon (a tally of four strokes and a
slash on a rounded tile) and writes it as ui/hostally_icon.xpm."""
import math
import os

SIZE = 48
SAMPLES = 4  # supersampling per axis, for smooth strokes
TOP = (32, 96, 160)
BOTTOM = (16, 56, 112)
INK = (250, 250, 240)
SLASH = (250, 196, 56)


def in_tile(x, y):
    r = 8.0
    cx = min(max(x, r + 1), SIZE - 1 - r)
    cy = min(max(y, r + 1), SIZE - 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def dist_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


STROKES = [(13 + 7 * i, 11, 13 + 7 * i, 37) for i in range(4)]
SLASH_LINE = (8, 32, 40, 16)


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
            colour = mix(colour, INK, coverage(x, y, STROKES, 2.0))
            colour = mix(colour, SLASH, coverage(x, y, [SLASH_LINE], 2.2))
            row.append(quantise(colour))
        pixels.append(row)

    palette = sorted({c for row in pixels for c in row if c is not None})
    assert len(palette) < 256, len(palette)
    chars = "".join(chr(c) for c in range(35, 127) if chr(c) not in '"\\')
    codes = {None: "  "}
    for i, c in enumerate(palette):
        codes[c] = chars[i // len(chars)] + chars[i % len(chars)]

    out = ["/* XPM */", "static const char *const hostally_icon_xpm[] = {",
           f'"{SIZE} {SIZE} {len(palette) + 1} 2",', '"   c None",']
    for c in palette:
        out.append(f'"{codes[c]} c #{c[0]:02X}{c[1]:02X}{c[2]:02X}",')
    for y, row in enumerate(pixels):
        line = "".join(codes[c] for c in row)
        out.append(f'"{line}"' + ("," if y < SIZE - 1 else ""))
    out.append("};")
    path = os.path.join(os.path.dirname(__file__), "..", "ui", "hostally_icon.xpm")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")
    print(f"wrote {os.path.normpath(path)}: {len(palette)} colours")


if __name__ == "__main__":
    main()
