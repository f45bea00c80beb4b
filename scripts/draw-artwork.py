#!/usr/bin/env python3
"""Draws Vexal's own pictures: the program icon, the About window's logo and
its hidden photograph.

    scripts/draw-artwork.py            writes every file in place

The icon is drawn at every size an icon theme offers (the 32 px one is also
the windows' icon, compiled into the program) and once more as SVG; the
install puts them under share/icons/hicolor.

Everything is computed here from geometry, so the pictures carry no outside
artwork and the same script always gives the same bytes.  PNG and BMP are
written with the standard library alone; the JPEG goes through ImageMagick's
`convert` (installed by scripts/vexal.sh), since Python has no JPEG encoder.
"""
import math
import pathlib
import random
import struct
import subprocess
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
ICON = ROOT / "src/windows/resources/vexal.png"
ICON_THEME_SIZES = (16, 24, 32, 48, 64, 128, 256)
ICON_SVG = ROOT / "packaging/icons/vexal.svg"
LOGO = ROOT / "src/windows/resources/logo.bmp"
PHOTO = ROOT / "src/windows/resources/photo.jpg"

# The photograph's revealed size is 1911 x 1781 twips, which is 127 x 118
# whole pixels at 15 twips a pixel.
PHOTO_SIZE = (127, 118)


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def hexrgb(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else clamp(((px - ax) * dx + (py - ay) * dy) / length2)
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def stroke_coverage(px, py, segments, radius):
    """Coverage of a pixel centre by round-capped strokes: a one-pixel ramp
    across the edge stands in for supersampling."""
    best = 1e9
    for seg in segments:
        ax, ay, bx, by = seg
        if min(ax, bx) - radius - 1 > px or max(ax, bx) + radius + 1 < px:
            continue
        if min(ay, by) - radius - 1 > py or max(ay, by) + radius + 1 < py:
            continue
        best = min(best, segment_distance(px, py, ax, ay, bx, by))
    return clamp(radius + 0.5 - best)


def polyline(points):
    return [(a[0], a[1], b[0], b[1]) for a, b in zip(points, points[1:])]


def arc(cx, cy, rx, ry, start_deg, end_deg, steps=24):
    """Points along an elliptic arc; angles run clockwise on screen from 3 o'clock."""
    return [(cx + rx * math.cos(math.radians(start_deg + (end_deg - start_deg) * i / steps)),
             cy + ry * math.sin(math.radians(start_deg + (end_deg - start_deg) * i / steps)))
            for i in range(steps + 1)]


def sine_points(x0, x1, mid, amplitude, periods, steps=64):
    return [(x0 + (x1 - x0) * i / steps,
             mid - amplitude * math.sin(2 * math.pi * periods * i / steps))
            for i in range(steps + 1)]


# --- file writers -----------------------------------------------------------

def write_png(path, width, height, rgba_rows):
    raw = b"".join(b"\x00" + bytes(row) for row in rgba_rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9))
           + chunk(b"IEND", b""))
    path.write_bytes(png)


def write_bmp(path, width, height, rgb_rows):
    # 24-bit bottom-up rows, each padded to a multiple of four bytes.
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rgb_rows):
        line = bytearray()
        for i in range(0, len(row), 3):
            line += bytes((row[i + 2], row[i + 1], row[i]))
        pixels += line + b"\x00" * (stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    path.write_bytes(header + info + pixels)


def write_jpeg(path, width, height, rgb_rows):
    ppm = b"P6 %d %d 255\n" % (width, height) + b"".join(bytes(r) for r in rgb_rows)
    subprocess.run(["convert", "ppm:-", "-strip", "-sampling-factor", "4:2:0",
                    "-quality", "90", "jpg:" + str(path)], input=ppm, check=True)


def to_bytes(colour):
    return [int(round(clamp(c / 255.0) * 255)) for c in colour]


# --- the icon: a sine wave on a blue tile -------------------------------------
#
# The design is drawn on a 32-unit grid and scaled to each size, so every size
# is the same picture: the 32 px one is the windows' icon, and the others are
# the sizes desktop launchers ask an icon theme for.

ICON_TOP, ICON_BOTTOM = "#2f86c8", "#163f73"
ICON_AXIS, ICON_WAVE = "#9cc7ea", "#ffd34d"
ICON_WAVE_LINE = (4.5, 27.5, 16.0, 7.0, 1.5)   # x0, x1, middle, amplitude, periods
ICON_AXIS_LINE = (4.0, 16.0, 28.0, 16.0)
ICON_CORNER, ICON_RIM = 6.0, 6.0               # corner radius, depth of the lit rim
ICON_AXIS_RADIUS, ICON_WAVE_RADIUS = 0.35, 1.35


def draw_icon(size):
    s = size / 32.0
    top, bottom = hexrgb(ICON_TOP), hexrgb(ICON_BOTTOM)
    x0, x1, middle, amplitude, periods = ICON_WAVE_LINE
    wave = polyline(sine_points(x0 * s, x1 * s, middle * s, amplitude * s, periods))
    axis = [tuple(v * s for v in ICON_AXIS_LINE)]
    half = 16.0 * s
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            # A rounded tile with a one-pixel soft edge.
            r = ICON_CORNER * s
            qx = max(abs(px - half) - (half - r - 0.5), 0.0)
            qy = max(abs(py - half) - (half - r - 0.5), 0.0)
            alpha = clamp(r + 0.5 - math.hypot(qx, qy))
            colour = mix(top, bottom, py / size)
            # A lighter rim along the top edge gives the tile some depth.
            colour = mix(colour, (255, 255, 255), 0.18 * clamp(1.0 - py / (ICON_RIM * s)))
            colour = mix(colour, hexrgb(ICON_AXIS), 0.55 * stroke_coverage(px, py, axis, ICON_AXIS_RADIUS * s))
            colour = mix(colour, hexrgb(ICON_WAVE), stroke_coverage(px, py, wave, ICON_WAVE_RADIUS * s))
            row += to_bytes(colour) + [int(round(alpha * 255))]
        rows.append(row)
    return rows


def icon_svg():
    """The same design as a scalable icon.  The tile fills the whole square:
    the PNGs' half-pixel soft edge is their anti-aliasing, which a renderer
    of the SVG does itself; the wave is sampled finely enough to stay smooth
    at any size."""
    x0, x1, middle, amplitude, periods = ICON_WAVE_LINE
    points = ["%.3f,%.3f" % p for p in sine_points(x0, x1, middle, amplitude, periods, 192)]
    wave = "\n              ".join(" ".join(points[i:i + 8]) for i in range(0, len(points), 8))
    ax0, ay0, ax1, ay1 = ICON_AXIS_LINE
    return f"""<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">
  <defs>
    <linearGradient id="tile" gradientUnits="userSpaceOnUse" x1="0" y1="0" x2="0" y2="32">
      <stop offset="0" stop-color="{ICON_TOP}"/>
      <stop offset="1" stop-color="{ICON_BOTTOM}"/>
    </linearGradient>
    <linearGradient id="rim" gradientUnits="userSpaceOnUse" x1="0" y1="0" x2="0" y2="{ICON_RIM:g}">
      <stop offset="0" stop-color="#ffffff" stop-opacity="0.18"/>
      <stop offset="1" stop-color="#ffffff" stop-opacity="0"/>
    </linearGradient>
  </defs>
  <rect width="32" height="32" rx="{ICON_CORNER:g}" fill="url(#tile)"/>
  <rect width="32" height="32" rx="{ICON_CORNER:g}" fill="url(#rim)"/>
  <line x1="{ax0:g}" y1="{ay0:g}" x2="{ax1:g}" y2="{ay1:g}" stroke="{ICON_AXIS}" stroke-opacity="0.55"
        stroke-width="{2 * ICON_AXIS_RADIUS:g}" stroke-linecap="round"/>
  <polyline points="{wave}" fill="none" stroke="{ICON_WAVE}"
            stroke-width="{2 * ICON_WAVE_RADIUS:g}" stroke-linecap="round" stroke-linejoin="round"/>
</svg>
"""


def icon_path(size):
    return ICON if size == 32 else ROOT / f"packaging/icons/vexal-{size}.png"


# --- the logo: "Vexal" lettered in strokes on a plate ---------------------------

def glyphs(x, base, xh, cap):
    """Strokes of "Vexal" from the left edge x; returns (segments, right edge)."""
    segs = []
    mid = base - xh / 2.0
    # V
    segs += polyline([(x, base - cap), (x + 7.5, base), (x + 15, base - cap)])
    x += 18
    # e: the bar, then round from its right end over the top and back under.
    rx, ry = 6.0, xh / 2.0
    cx = x + rx
    segs += polyline([(cx - rx, mid), (cx + rx, mid)])
    segs += polyline(arc(cx, mid, rx, ry, 0, -300))
    x += 2 * rx + 4
    # x
    segs += polyline([(x, base - xh), (x + 11, base)])
    segs += polyline([(x + 11, base - xh), (x, base)])
    x += 11 + 4
    # a: a bowl and the stem on its right.
    cx = x + 6.0
    segs += polyline(arc(cx, mid, 6.0, xh / 2.0, 0, 360, 36))
    segs += polyline([(cx + 6.0, base - xh), (cx + 6.0, base)])
    x += 12 + 4
    # l
    segs += polyline([(x + 1, base - cap - 1), (x + 1, base)])
    return segs, x + 2


def draw_logo():
    width, height = 144, 29
    base, xh, cap = 23.0, 13.0, 18.0
    letters, right = glyphs(0.0, base, xh, cap)
    # Centre the word in the plate to the right of the wave mark.
    shift = 40 + (width - 44 - right) / 2.0
    letters = [(a + shift, b, c + shift, d) for a, b, c, d in letters]
    wave = polyline(sine_points(6.0, 34.0, 14.5, 6.5, 1.5))
    left, right_colour = hexrgb("#163f73"), hexrgb("#2f86c8")
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            px, py = x + 0.5, y + 0.5
            colour = mix(left, right_colour, px / width)
            colour = mix(colour, (255, 255, 255), 0.15 * clamp(1.0 - py / 8.0))
            colour = mix(colour, hexrgb("#ffd34d"), stroke_coverage(px, py, wave, 1.5))
            colour = mix(colour, (255, 255, 255), stroke_coverage(px, py, letters, 1.45))
            row += to_bytes(colour)
        rows.append(row)
    write_bmp(LOGO, width, height, rows)


# --- the photograph: a rendered evening landscape ------------------------------

def ridge(rng, width, octaves):
    """A mountain outline between about -1 and 1: folded sines ("ridged"
    noise) with fixed random phases give sharp peaks and round valleys."""
    waves = [(rng.uniform(0, 2 * math.pi), 1.3 * 2.1 ** o, 0.5 ** o) for o in range(octaves)]
    total = sum(a for _, _, a in waves)
    return [2.0 * sum(a * (1.0 - abs(math.sin(f * math.pi * x / width + p)))
                      for p, f, a in waves) / total - 1.0
            for x in range(width)]


def draw_photo():
    width, height = PHOTO_SIZE
    rng = random.Random(1911)
    horizon = 80
    sun = (86.0, 56.0, 9.0)
    sky = [(0.0, hexrgb("#1b2a5a")), (0.55, hexrgb("#8a4f8f")),
           (0.85, hexrgb("#f08a4b")), (1.0, hexrgb("#ffd38a"))]
    layers = [  # base line, height, colour
        (64, 16, hexrgb("#6b4a7a"), ridge(rng, width, 4)),
        (72, 12, hexrgb("#3f2f5c"), ridge(rng, width, 4)),
        (80, 7, hexrgb("#22203d"), ridge(rng, width, 5)),
    ]

    def sky_colour(y):
        t = clamp(y / horizon)
        for (t0, c0), (t1, c1) in zip(sky, sky[1:]):
            if t <= t1:
                return mix(c0, c1, (t - t0) / (t1 - t0))
        return sky[-1][1]

    def scene(x, y):
        colour = sky_colour(y)
        d = math.hypot(x + 0.5 - sun[0], y + 0.5 - sun[1])
        colour = mix(colour, hexrgb("#ffe9b0"), 0.45 * math.exp(-d / 14.0))
        colour = mix(colour, hexrgb("#fff6d8"), clamp(sun[2] + 0.5 - d))
        for base, amp, tone, outline in layers:
            top = base - amp * (0.6 + 0.4 * outline[x])
            cover = clamp(y + 0.5 - top)
            if cover > 0:
                haze = clamp((base - 58) / 30.0)
                shade = mix(tone, sky_colour(horizon - 4), 0.25 * (1 - haze))
                colour = mix(colour, shade, cover)
        return colour

    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            if y < horizon:
                colour = scene(x, y)
            else:
                # The lake mirrors the scene, darker, broken by ripples.
                depth = y - horizon
                ripple = math.sin(depth * 1.7 + x * 0.11) * (1.0 + depth * 0.08)
                mx = int(clamp(x + ripple, 0, width - 1))
                my = int(clamp(horizon - 1 - depth * 0.9, 0, horizon - 1))
                colour = mix(scene(mx, my), hexrgb("#101a33"), 0.35 + 0.012 * depth)
                if math.sin(depth * 2.3 + math.sin(x * 0.09) * 2.0) > 0.93:
                    colour = mix(colour, (255, 255, 255), 0.10)
            row += to_bytes(colour)
        rows.append(row)
    write_jpeg(PHOTO, width, height, rows)


if __name__ == "__main__":
    for size in ICON_THEME_SIZES:
        write_png(icon_path(size), size, size, draw_icon(size))
    ICON_SVG.write_text(icon_svg())
    draw_logo()
    draw_photo()
    for path in [icon_path(size) for size in ICON_THEME_SIZES] + [ICON_SVG, LOGO, PHOTO]:
        print(path.relative_to(ROOT), path.stat().st_size, "bytes")
