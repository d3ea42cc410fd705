#!/usr/bin/env python3
"""Draws the control panel's artwork and writes it as BMP and ICO files.

    make_artwork.py OUTDIR

Writes banner.bmp (400x151), left_strip.bmp and right_strip.bmp (21x156),
bottom_strip.bmp (400x20), all 24-bit, and kelvane.ico (16, 32, 48 pixels,
32-bit with alpha). Only the standard library is used, so the build needs
nothing but Python 3. The output is deterministic: the same bytes every run.
"""

import math
import os
import random
import struct
import sys

# --------------------------------------------------------------------------
# Colours (linear blending on sRGB values is fine at these contrasts)

def hex_colour(text):
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (1, 3, 5))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


CHARCOAL_TOP = hex_colour("#34383e")
CHARCOAL_BOTTOM = hex_colour("#17191c")
STRIP_DARK = hex_colour("#1b1d21")
AMBER = hex_colour("#f0a12e")
AMBER_DEEP = hex_colour("#c76f12")
TEXT_BRIGHT = hex_colour("#f4f5f7")
TEXT_STEEL = hex_colour("#aab0b8")
TEXT_MUTED = hex_colour("#8c939c")


# --------------------------------------------------------------------------
# Canvas: floating-point RGB(A), top-down rows

class Canvas:
    def __init__(self, width, height, colour=(0.0, 0.0, 0.0), alpha=1.0):
        self.width = width
        self.height = height
        self.rgb = [list(colour) for _ in range(width * height)]
        self.alpha = [alpha] * (width * height)

    def blend(self, x, y, colour, coverage):
        """Paints colour over the pixel with the given coverage (0..1)."""
        if coverage <= 0.0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        coverage = min(coverage, 1.0)
        i = y * self.width + x
        a_dst = self.alpha[i]
        a_out = coverage + a_dst * (1.0 - coverage)
        px = self.rgb[i]
        if a_out <= 0.0:
            return
        for c in range(3):
            px[c] = (colour[c] * coverage + px[c] * a_dst * (1.0 - coverage)) / a_out
        self.alpha[i] = a_out

    def add(self, x, y, delta):
        px = self.rgb[y * self.width + x]
        for c in range(3):
            px[c] += delta

    def pixel_bytes(self, x, y):
        px = self.rgb[y * self.width + x]
        return tuple(max(0, min(255, int(round(v * 255.0)))) for v in px)

    def alpha_byte(self, x, y):
        return max(0, min(255, int(round(self.alpha[y * self.width + x] * 255.0))))


def fill_coverage(canvas, box, inside, colour_at, samples=4):
    """Supersamples inside(x, y) over the pixel box and paints colour_at(x, y)."""
    x0, y0, x1, y1 = box
    x0 = max(0, int(math.floor(x0)))
    y0 = max(0, int(math.floor(y0)))
    x1 = min(canvas.width, int(math.ceil(x1)))
    y1 = min(canvas.height, int(math.ceil(y1)))
    step = 1.0 / samples
    offsets = [(i + 0.5) * step for i in range(samples)]
    total = samples * samples
    for py in range(y0, y1):
        for px in range(x0, x1):
            hits = 0
            for oy in offsets:
                for ox in offsets:
                    if inside(px + ox, py + oy):
                        hits += 1
            if hits:
                canvas.blend(px, py, colour_at(px + 0.5, py + 0.5), hits / total)


# --------------------------------------------------------------------------
# Shapes as inside-tests

def round_box_distance(x, y, x0, y0, x1, y1, r):
    """Signed distance to an axis-aligned box with rounded corners."""
    cx = (x0 + x1) * 0.5
    cy = (y0 + y1) * 0.5
    qx = abs(x - cx) - ((x1 - x0) * 0.5 - r)
    qy = abs(y - cy) - ((y1 - y0) * 0.5 - r)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def in_convex(x, y, pts):
    sign = 0
    n = len(pts)
    for i in range(n):
        ax, ay = pts[i]
        bx, by = pts[(i + 1) % n]
        cross = (bx - ax) * (y - ay) - (by - ay) * (x - ax)
        if cross != 0.0:
            s = 1 if cross > 0 else -1
            if sign == 0:
                sign = s
            elif s != sign:
                return False
    return True


# --------------------------------------------------------------------------
# The font: a squared, extended sans drawn from rectangles, slanted strokes
# and rounded-box rings. Units: cap height 100, y up from the baseline.

CAP = 100.0


class Rect:
    def __init__(self, x0, y0, x1, y1):
        self.box = (min(x0, x1), min(y0, y1), max(x0, x1), max(y0, y1))

    def inside(self, x, y):
        b = self.box
        return b[0] <= x <= b[2] and b[1] <= y <= b[3]


class Quad:
    def __init__(self, pts):
        self.pts = pts
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self.box = (min(xs), min(ys), max(xs), max(ys))

    def inside(self, x, y):
        return in_convex(x, y, self.pts)


class Ring:
    """Outline of a rounded box; sv/sh are the vertical/horizontal stroke."""

    def __init__(self, x0, y0, x1, y1, r, sv, sh, cuts=()):
        self.outer = (x0, y0, x1, y1, r)
        self.inner = (x0 + sv, y0 + sh, x1 - sv, y1 - sh, max(r - sv, r * 0.3))
        self.cuts = [Rect(*c) for c in cuts]
        self.box = (x0, y0, x1, y1)

    def inside(self, x, y):
        if round_box_distance(x, y, *self.outer) > 0.0:
            return False
        if round_box_distance(x, y, *self.inner) <= 0.0:
            return False
        for c in self.cuts:
            if c.inside(x, y):
                return False
        return True


def slanted(xb, yb, xt, yt, t):
    """A straight stroke of perpendicular thickness t, cut level at both ends."""
    dy = yt - yb
    hw = 0.5 * t * math.hypot(xt - xb, dy) / abs(dy)
    return Quad([(xb - hw, yb), (xb + hw, yb), (xt + hw, yt), (xt - hw, yt)])


def half_width(t, dx, dy):
    return 0.5 * t * math.hypot(dx, dy) / abs(dy)


def glyph(ch, s):
    """Returns (advance, shapes) for an upper-case letter at stroke s."""
    h = CAP
    sh = s * 0.86          # horizontals a little lighter than verticals
    r = 34.0               # outer corner radius of round letters
    if ch == " ":
        return 42.0, []
    if ch == "A":
        w = 112.0
        hw = half_width(s, w / 2, h)
        left = slanted(hw, 0, w / 2, h, s)
        right = slanted(w - hw, 0, w / 2, h, s)
        yb, yt = 0.24 * h, 0.24 * h + sh

        def centre(y):
            return hw + (w / 2 - hw) * y / h
        bar = Quad([(centre(yb), yb), (w - centre(yb), yb), (w - centre(yt), yt), (centre(yt), yt)])
        return w, [left, right, bar]
    if ch == "B":
        w = 98.0
        m = 0.53 * h
        return w, [Ring(0, 0, w, m + sh / 2, r * 0.75, s, sh),
                   Ring(0, m - sh / 2, w * 0.93, h, r * 0.7, s, sh),
                   Rect(0, 0, w / 2, sh), Rect(0, h - sh, w / 2, h),
                   Rect(0, 0, s, h)]
    if ch == "C":
        w = 108.0
        return w * 0.93, [Ring(0, 0, w, h, r, s, sh, cuts=[(w * 0.80, -1, w + 1, h + 1)])]
    if ch == "D":
        w = 106.0
        return w, [Ring(0, 0, w, h, r, s, sh), Rect(0, 0, s, h),
                   Rect(0, 0, w / 2, sh), Rect(0, h - sh, w / 2, h)]
    if ch == "E":
        w = 88.0
        m = 0.5 * h
        return w, [Rect(0, 0, s, h), Rect(0, h - sh, w, h),
                   Rect(0, m - sh / 2, w * 0.86, m + sh / 2), Rect(0, 0, w, sh)]
    if ch == "F":
        w = 86.0
        m = 0.48 * h
        return w, [Rect(0, 0, s, h), Rect(0, h - sh, w, h),
                   Rect(0, m - sh / 2, w * 0.86, m + sh / 2)]
    if ch == "I":
        return s, [Rect(0, 0, s, h)]
    if ch == "L":
        w = 82.0
        return w, [Rect(0, 0, s, h), Rect(0, 0, w, sh)]
    if ch == "N":
        w = 106.0
        hw = half_width(s * 1.05, w - 2 * s, h)
        diagonal = Quad([(0, h), (2 * hw, h), (w, 0), (w - 2 * hw, 0)])
        return w, [Rect(0, 0, s, h), Rect(w - s, 0, w, h), diagonal]
    if ch == "O":
        w = 112.0
        return w, [Ring(0, 0, w, h, r, s, sh)]
    if ch == "P":
        w = 96.0
        m = 0.45 * h
        return w, [Ring(0, m - sh / 2, w, h, r * 0.8, s, sh), Rect(0, 0, s, h),
                   Rect(0, h - sh, w / 2, h), Rect(0, m - sh / 2, w / 2, m + sh / 2)]
    if ch == "Q":
        w = 112.0
        tail = Quad([(w * 0.62 - 0.3 * s, 0.28 * h), (w * 0.62 + 0.9 * s, 0.28 * h),
                     (w + 0.15 * s, -0.12 * h), (w - 1.05 * s, -0.12 * h)])
        return w, [Ring(0, 0, w, h, r, s, sh), tail]
    if ch == "R":
        w = 100.0
        m = 0.45 * h
        hw = half_width(s, w * 0.4, m)
        leg = Quad([(w - 2 * hw, 0), (w, 0), (w * 0.58 + hw, m), (w * 0.58 - hw, m)])
        return w, [Ring(0, m - sh / 2, w, h, r * 0.8, s, sh), Rect(0, 0, s, h),
                   Rect(0, h - sh, w / 2, h), Rect(0, m - sh / 2, w / 2, m + sh / 2), leg]
    if ch == "S":
        w = 100.0
        m = 0.5 * h
        top = Ring(0, m - sh / 2, w, h, r * 0.8, s, sh,
                   cuts=[(w / 2, -1, w + 1, m + (h - m) * 0.42)])
        bottom = Ring(0, 0, w, m + sh / 2, r * 0.8, s, sh,
                      cuts=[(-1, m - m * 0.42, w / 2, h + 1)])
        return w, [top, bottom]
    if ch == "T":
        w = 96.0
        return w, [Rect(0, h - sh, w, h), Rect((w - s) / 2, 0, (w + s) / 2, h)]
    if ch == "U":
        w = 106.0
        return w, [Ring(0, 0, w, h + r + s, r, s, sh, cuts=[(-1, h, w + 1, h + r + s + 1)])]
    if ch == "V":
        w = 110.0
        hw = half_width(s, w / 2, h)
        return w, [slanted(w / 2, 0, hw, h, s), slanted(w / 2, 0, w - hw, h, s)]
    if ch == "Z":
        w = 98.0
        hw = half_width(s * 1.05, w, h - 2 * sh)
        diagonal = Quad([(0, sh), (2 * hw, sh), (w, h - sh), (w - 2 * hw, h - sh)])
        return w, [Rect(0, h - sh, w, h), Rect(0, 0, w, sh), diagonal]
    raise KeyError("no glyph for %r" % ch)


def text_width(text, cap_px, stroke, tracking):
    scale = cap_px / CAP
    total = 0.0
    for i, ch in enumerate(text):
        advance, _ = glyph(ch, stroke)
        total += advance * scale
        if i + 1 < len(text):
            total += tracking * cap_px
    return total


def draw_text(canvas, text, x, baseline, cap_px, stroke, tracking, colour_at, samples=5):
    """Draws text with its left edge at x; stroke in font units, tracking in caps."""
    scale = cap_px / CAP
    pen = x
    for ch in text:
        advance, shapes = glyph(ch, stroke)
        if shapes:
            def inside(px, py, shapes=shapes, pen=pen):
                gx = (px - pen) / scale
                gy = (baseline - py) / scale
                for shape in shapes:
                    b = shape.box
                    if b[0] <= gx <= b[2] and b[1] <= gy <= b[3] and shape.inside(gx, gy):
                        return True
                return False
            box = (pen - 2, baseline - cap_px - 2, pen + advance * scale + 2,
                   baseline + 0.2 * cap_px + 2)
            fill_coverage(canvas, box, inside, colour_at, samples)
        pen += advance * scale + tracking * cap_px
    return pen


# --------------------------------------------------------------------------
# Backgrounds

def brushed_metal(canvas, top, bottom, seed, strength=1.0):
    """Vertical charcoal gradient with fine horizontal brushing."""
    rng = random.Random(seed)
    w, h = canvas.width, canvas.height
    for y in range(h):
        base = mix(top, bottom, (y / max(h - 1, 1)) ** 0.9)
        row_bias = rng.gauss(0.0, 0.006) * strength
        knots = [rng.gauss(0.0, 0.007) * strength for _ in range(w // 24 + 3)]
        for x in range(w):
            k, f = divmod(x / 24.0, 1.0)
            k = int(k)
            f = f * f * (3 - 2 * f)
            streak = knots[k] + (knots[k + 1] - knots[k]) * f
            grain = rng.gauss(0.0, 0.0035) * strength
            v = row_bias + streak + grain
            canvas.rgb[y * w + x] = [base[0] + v, base[1] + v, base[2] + v * 1.1]


def soft_light(canvas, cx, cy, rx, ry, amount, ox=0, oy=0):
    """Adds a soft elliptical glow; (ox, oy) places this canvas in a larger scene."""
    for y in range(canvas.height):
        for x in range(canvas.width):
            dx = (x + ox - cx) / rx
            dy = (y + oy - cy) / ry
            canvas.add(x, y, amount * math.exp(-0.5 * (dx * dx + dy * dy)))


def hline(canvas, x0, x1, y, colour_at, coverage=1.0):
    for x in range(max(0, x0), min(canvas.width, x1)):
        canvas.blend(x, y, colour_at(x), coverage)


# --------------------------------------------------------------------------
# The artwork

BANNER_W, BANNER_H = 400, 151
STRIP_W, STRIP_H = 21, 156
BOTTOM_W, BOTTOM_H = 400, 20


def meter_bars(canvas, x0, x1, centre_y, max_half):
    """A row of rounded level bars shaped like a waveform's envelope."""
    pitch = 4
    bar_w = 2          # whole pixels keep the bars crisp
    n = int((x1 - x0) / pitch)
    for i in range(n):
        t = i / max(n - 1, 1)
        envelope = math.sin(math.pi * t) ** 0.7
        wave = (0.55 + 0.45 * math.sin(i * 0.71) * math.cos(i * 0.23)
                + 0.18 * math.sin(i * 1.9))
        half = max(1.0, round(max_half * envelope * min(1.0, abs(wave))))
        bx = x0 + i * pitch
        warm = 0.25 + 0.75 * t
        colour = mix(TEXT_MUTED, AMBER, warm)
        rr = bar_w / 2

        def inside(px, py, bx=bx, half=half, rr=rr):
            return round_box_distance(px, py, bx, centre_y - half, bx + bar_w,
                                      centre_y + half, rr) <= 0.0
        fill_coverage(canvas, (bx - 1, centre_y - half - 1, bx + bar_w + 1, centre_y + half + 1),
                      inside, lambda px, py, c=colour: c, samples=4)


def draw_banner():
    c = Canvas(BANNER_W, BANNER_H)
    brushed_metal(c, CHARCOAL_TOP, CHARCOAL_BOTTOM, seed=130)
    soft_light(c, 110, 30, 170, 70, 0.045)

    # Wordmark: maker above, product large, a thin amber rule, purpose below.
    left = 30
    maker_cap, maker_base = 9, 36
    draw_text(c, "QUORVIN", left + 1, maker_base, maker_cap, 15.0, 0.55,
              lambda x, y: TEXT_STEEL)

    name_cap, name_base = 40, 88
    def name_colour(x, y):
        t = (y - (name_base - name_cap)) / name_cap
        return mix(TEXT_BRIGHT, hex_colour("#b9bec6"), max(0.0, min(1.0, t)) ** 1.2)
    end = draw_text(c, "NORZA", left, name_base, name_cap, 19.0, 0.14, name_colour, samples=6)
    name_right = end - 0.14 * name_cap

    rule_y = name_base + 10
    for x in range(left, int(name_right) + 1):
        t = (x - left) / max(name_right - left, 1)
        colour = mix(AMBER, AMBER_DEEP, t)
        c.blend(x, rule_y, colour, 1.0)
        c.blend(x, rule_y + 1, colour, 0.45)

    draw_text(c, "DRIVER CONTROL", left + 1, rule_y + 20, 9, 15.0, 0.42,
              lambda x, y: TEXT_MUTED)

    # Right: a level-meter waveform, labelled like a front panel.
    right = 370
    meter_bars(c, 274, right + 2, 68, 26)
    label = "USB AUDIO INTERFACE"
    label_w = text_width(label, 7, 16.0, 0.40)
    draw_text(c, label, right - label_w, maker_base, 7, 16.0, 0.40, lambda x, y: TEXT_MUTED)

    # Bottom edge: a dark lip with a faint highlight, continued by the strips.
    for x in range(BANNER_W):
        c.blend(x, BANNER_H - 2, hex_colour("#0f1012"), 0.8)
        c.blend(x, BANNER_H - 1, hex_colour("#0f1012"), 1.0)
    return c


def draw_side_strip(mirror):
    """Edge strip below the banner; the inner edge (towards the dialog) is lit."""
    c = Canvas(STRIP_W, STRIP_H)
    brushed_metal(c, hex_colour("#24272c"), STRIP_DARK, seed=133 if not mirror else 134,
                  strength=0.7)
    for y in range(STRIP_H):
        for x in range(STRIP_W):
            inner = (STRIP_W - 1 - x) if not mirror else x
            if inner == 0:
                c.blend(x, y, hex_colour("#4a4f57"), 1.0)
            elif inner == 1:
                c.blend(x, y, hex_colour("#0d0e10"), 0.8)
    # A short amber tick where the strip meets the banner.
    ax = 6 if not mirror else STRIP_W - 8
    for y in range(4, 28):
        fade = 1.0 - (y - 4) / 24.0
        c.blend(ax, y, AMBER, 0.9 * fade)
        c.blend(ax + 1, y, AMBER_DEEP, 0.6 * fade)
    return c


def draw_bottom_strip():
    c = Canvas(BOTTOM_W, BOTTOM_H)
    brushed_metal(c, hex_colour("#1f2125"), hex_colour("#141518"), seed=135, strength=0.7)
    hline(c, 0, BOTTOM_W, 0, lambda x: hex_colour("#4a4f57"))
    hline(c, 0, BOTTOM_W, 1, lambda x: hex_colour("#0d0e10"), 0.8)
    label = "QUORVIN"
    width = text_width(label, 6, 16.0, 0.5)
    draw_text(c, label, BOTTOM_W - 14 - width, 14, 6, 16.0, 0.5, lambda x, y: TEXT_MUTED)
    for x in range(14, 60):
        t = (x - 14) / 46.0
        c.blend(x, 11, AMBER, 0.85 * (1.0 - t))
    return c


def draw_icon(size):
    """A dark rounded tile with an amber-underlined N."""
    c = Canvas(size, size, (0.0, 0.0, 0.0), alpha=0.0)
    inset = size / 32.0
    radius = size * 0.2

    def tile(px, py):
        return round_box_distance(px, py, inset, inset, size - inset, size - inset, radius) <= 0.0

    def tile_colour(px, py):
        return mix(hex_colour("#3a3f46"), hex_colour("#15171a"), py / size)
    fill_coverage(c, (0, 0, size, size), tile, tile_colour, samples=8)

    # A faint rim so the tile reads on dark backgrounds too.
    def rim(px, py):
        d = round_box_distance(px, py, inset, inset, size - inset, size - inset, radius)
        return -max(1.0, size / 32.0) <= d <= 0.0
    fill_coverage(c, (0, 0, size, size), rim,
                  lambda px, py: mix(hex_colour("#6a717b"), hex_colour("#2a2d32"), py / size),
                  samples=8)

    cap = size * 0.5
    stroke = 24.0 if size <= 16 else 21.0
    width = text_width("N", cap, stroke, 0.0)
    # Whole-pixel baseline and rule keep the small sizes crisp.
    left = round((size - width) / 2)
    base = round(size * 0.70)
    draw_text(c, "N", left, base, cap, stroke, 0.0, lambda x, y: TEXT_BRIGHT, samples=8)
    rule_top = round(base + size * 0.08)
    rule_h = max(1, round(size / 16.0))

    def rule(px, py):
        return left <= px <= left + width and rule_top <= py < rule_top + rule_h
    fill_coverage(c, (left - 1, rule_top - 1, left + width + 1, rule_top + rule_h + 1),
                  rule, lambda px, py: AMBER, samples=8)
    return c


# --------------------------------------------------------------------------
# File formats

def bmp24(canvas):
    """A BMP file: BITMAPFILEHEADER, BITMAPINFOHEADER, bottom-up BGR rows."""
    row_len = (canvas.width * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        row = bytearray()
        for x in range(canvas.width):
            r, g, b = canvas.pixel_bytes(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (row_len - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 24, 0,
                       len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + bytes(pixels)


def icon_image(canvas):
    """One icon image: BITMAPINFOHEADER (double height), BGRA rows, AND mask."""
    w, h = canvas.width, canvas.height
    xor = bytearray()
    mask = bytearray()
    mask_row = ((w + 31) // 32) * 4
    for y in range(h - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(w):
            r, g, b = canvas.pixel_bytes(x, y)
            a = canvas.alpha_byte(x, y)
            if a == 0:
                r = g = b = 0
                bits[x // 8] |= 0x80 >> (x % 8)
            xor += bytes((b, g, r, a))
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + bytes(xor) + bytes(mask)


def ico(canvases):
    images = [icon_image(c) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, data in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.width % 256, c.height % 256, 0, 0, 1, 32,
                           len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_artwork.py OUTDIR\n")
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    write(os.path.join(out, "banner.bmp"), bmp24(draw_banner()))
    write(os.path.join(out, "left_strip.bmp"), bmp24(draw_side_strip(mirror=False)))
    write(os.path.join(out, "right_strip.bmp"), bmp24(draw_side_strip(mirror=True)))
    write(os.path.join(out, "bottom_strip.bmp"), bmp24(draw_bottom_strip()))
    write(os.path.join(out, "kelvane.ico"), ico([draw_icon(s) for s in (16, 32, 48)]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
