#!/usr/bin/env python3
"""Draws every picture and sound the client carries, using only the standard library.

Pictures are described as signed-distance shapes in a small unit canvas and rendered
with analytic anti-aliasing at 1x and 2x, so icons stay crisp at any scale factor.
Run from anywhere: python3 assets/generate.py (writes into the folder of this script).
"""

import math
import os
import struct
import wave
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# The one accent colour of the program's look; the switches and icons use it.
ACCENT = (0x2B, 0x5F, 0xD9)


# ---------------------------------------------------------------- colours

def hexc(text, a=1.0):
    text = text.lstrip('#')
    return (int(text[0:2], 16) / 255, int(text[2:4], 16) / 255, int(text[4:6], 16) / 255, a)


def rgb(t, a=1.0):
    return (t[0] / 255, t[1] / 255, t[2] / 255, a)


def mix(c1, c2, t):
    return tuple(c1[i] + (c2[i] - c1[i]) * t for i in range(4))


def lighter(c, t):
    return mix(c, (1, 1, 1, c[3]), t)


def darker(c, t):
    return mix(c, (0, 0, 0, c[3]), t)


def luminance(c):
    return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2]


# ---------------------------------------------------------------- shapes

class Shape:
    """A signed distance (negative inside) with a bounding box in canvas units."""

    def __init__(self, sdf, box):
        self.sdf = sdf
        self.box = box

    def __or__(self, other):
        a, b = self.sdf, other.sdf
        return Shape(lambda x, y: min(a(x, y), b(x, y)), union_box(self.box, other.box))

    def __and__(self, other):
        a, b = self.sdf, other.sdf
        return Shape(lambda x, y: max(a(x, y), b(x, y)), intersect_box(self.box, other.box))

    def __sub__(self, other):
        a, b = self.sdf, other.sdf
        return Shape(lambda x, y: max(a(x, y), -b(x, y)), self.box)

    def grow(self, r):
        a = self.sdf
        x0, y0, x1, y1 = self.box
        return Shape(lambda x, y: a(x, y) - r, (x0 - r, y0 - r, x1 + r, y1 + r))

    def moved(self, dx, dy):
        a = self.sdf
        x0, y0, x1, y1 = self.box
        return Shape(lambda x, y: a(x - dx, y - dy), (x0 + dx, y0 + dy, x1 + dx, y1 + dy))


def union_box(a, b):
    return (min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3]))


def intersect_box(a, b):
    return (max(a[0], b[0]), max(a[1], b[1]), min(a[2], b[2]), min(a[3], b[3]))


def circle(cx, cy, r):
    return Shape(lambda x, y: math.hypot(x - cx, y - cy) - r, (cx - r, cy - r, cx + r, cy + r))


def ellipse(cx, cy, rx, ry):
    m = min(rx, ry)

    def sdf(x, y):
        return (math.hypot((x - cx) / rx, (y - cy) / ry) - 1.0) * m

    return Shape(sdf, (cx - rx, cy - ry, cx + rx, cy + ry))


def rbox(x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def sdf(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r

    return Shape(sdf, (x0, y0, x1, y1))


def halfplane_below(y0):
    """Everything with y >= y0 (towards the bottom of the picture)."""
    return Shape(lambda x, y: y0 - y, (-1e3, y0, 1e3, 1e3))


def halfplane_above(y0):
    return Shape(lambda x, y: y - y0, (-1e3, -1e3, 1e3, y0))


def polygon(points):
    pts = list(points)
    n = len(pts)

    def sdf(x, y):
        d = float('inf')
        inside = False
        j = n - 1
        for i in range(n):
            xi, yi = pts[i]
            xj, yj = pts[j]
            ex, ey = xj - xi, yj - yi
            wx, wy = x - xi, y - yi
            ee = ex * ex + ey * ey
            t = 0.0 if ee == 0 else max(0.0, min(1.0, (wx * ex + wy * ey) / ee))
            dx, dy = wx - ex * t, wy - ey * t
            dd = dx * dx + dy * dy
            if dd < d:
                d = dd
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                inside = not inside
            j = i
        d = math.sqrt(d)
        return -d if inside else d

    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return Shape(sdf, (min(xs), min(ys), max(xs), max(ys)))


def capsule(ax, ay, bx, by, r):
    ex, ey = bx - ax, by - ay
    ee = ex * ex + ey * ey or 1e-9

    def sdf(x, y):
        wx, wy = x - ax, y - ay
        t = max(0.0, min(1.0, (wx * ex + wy * ey) / ee))
        return math.hypot(wx - ex * t, wy - ey * t) - r

    return Shape(sdf, (min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r, max(ay, by) + r))


def polyline(points, r):
    shape = None
    for a, b in zip(points, points[1:]):
        seg = capsule(a[0], a[1], b[0], b[1], r)
        shape = seg if shape is None else shape | seg
    return shape


def star(cx, cy, r_out, r_in, points=5, turn=-math.pi / 2):
    pts = []
    for i in range(points * 2):
        r = r_out if i % 2 == 0 else r_in
        a = turn + i * math.pi / points
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return polygon(pts)


# ---------------------------------------------------------------- canvas

class Canvas:
    def __init__(self, w, h, scale):
        self.scale = scale
        self.w = int(round(w * scale))
        self.h = int(round(h * scale))
        # premultiplied RGBA floats
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(self.w * self.h)]

    def fill(self, shape, color):
        """color: an RGBA tuple, or a function (x, y) -> RGBA in canvas units."""
        s = self.scale
        x0, y0, x1, y1 = shape.box
        px0 = max(0, int(math.floor(x0 * s)) - 1)
        py0 = max(0, int(math.floor(y0 * s)) - 1)
        px1 = min(self.w, int(math.ceil(x1 * s)) + 1)
        py1 = min(self.h, int(math.ceil(y1 * s)) + 1)
        sdf = shape.sdf
        flat = not callable(color)
        for py in range(py0, py1):
            y = (py + 0.5) / s
            row = py * self.w
            for px in range(px0, px1):
                x = (px + 0.5) / s
                cov = 0.5 - sdf(x, y) * s
                if cov <= 0.0:
                    continue
                if cov > 1.0:
                    cov = 1.0
                c = color if flat else color(x, y)
                a = c[3] * cov
                p = self.px[row + px]
                k = 1.0 - a
                p[0] = c[0] * a + p[0] * k
                p[1] = c[1] * a + p[1] * k
                p[2] = c[2] * a + p[2] * k
                p[3] = a + p[3] * k

    def png(self):
        raw = bytearray()
        for y in range(self.h):
            raw.append(0)
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                if a > 0:
                    r, g, b = r / a, g / a, b / a
                raw += bytes(max(0, min(255, int(round(v * 255)))) for v in (r, g, b, a))
        return encode_png(self.w, self.h, bytes(raw))


def encode_png(w, h, raw):
    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)

    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def vgrad(top, bottom, y0, y1):
    def color(x, y):
        t = 0.0 if y1 == y0 else max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return mix(top, bottom, t)

    return color


OUTLINE = hexc('#262a31', 0.9)


def part(cv, shape, color, outline=0.85, shade=True):
    """One piece of a drawing: a dark rim, then the fill with a soft top-lit gradient."""
    if outline:
        cv.fill(shape.grow(outline), OUTLINE)
    if shade and not callable(color):
        _, y0, _, y1 = shape.box
        color = vgrad(lighter(color, 0.28), darker(color, 0.08), y0, y1)
    cv.fill(shape, color)


def write(path, data):
    full = os.path.join(HERE, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, 'wb') as f:
        f.write(data)


def render(path, size, draw, scales=(1, 2)):
    """Renders draw(canvas) at each scale; 2x goes to name@2x.png."""
    w, h = size
    for s in scales:
        cv = Canvas(w, h, s)
        draw(cv)
        name = path if s == 1 else path.replace('.png', '@%dx.png' % s)
        write(name, cv.png())


# ---------------------------------------------------------------- hats

HAT_COLOURS = [
    hexc('#3b4049'),  # charcoal
    hexc('#8a96a3'),  # slate
    hexc('#d94848'),  # red
    hexc('#f08a2e'),  # orange
    hexc('#f4c534'),  # gold
    hexc('#8ccb45'),  # lime
    hexc('#2f9e5b'),  # green
    hexc('#20aaa4'),  # teal
    hexc('#45a8ef'),  # sky
    hexc('#3659c9'),  # royal blue
    hexc('#7d52cc'),  # purple
    hexc('#dc56a0'),  # pink
    hexc('#8e5b3b'),  # brown
    hexc('#f3ead8'),  # cream
]

BANDS = [hexc('#f4c534'), hexc('#2b2f36'), hexc('#fbfbfb'), hexc('#d94848'), hexc('#3659c9'),
         hexc('#2f9e5b')]


def colour_distance(a, b):
    return abs(a[0] - b[0]) + abs(a[1] - b[1]) + abs(a[2] - b[2])


def pick_band(base, seed):
    for k in range(len(BANDS)):
        band = BANDS[(seed + k) % len(BANDS)]
        if colour_distance(band, base) > 0.9:
            return band
    return BANDS[1]


def ornament(cv, kind, x, y, base):
    """A small mark on the hat's band or front: star, dot, diamond or none."""
    col = hexc('#ffffff') if luminance(base) < 0.62 else hexc('#2b2f36')
    if kind == 1:
        part(cv, star(x, y, 2.3, 1.0), hexc('#ffd84a'), outline=0.55, shade=False)
    elif kind == 2:
        part(cv, circle(x, y, 1.35), col, outline=0.55, shade=False)
    elif kind == 3:
        part(cv, polygon([(x, y - 1.9), (x + 1.5, y), (x, y + 1.9), (x - 1.5, y)]), hexc('#6fd3ff'),
             outline=0.55, shade=False)


def hat_top(cv, base, band, orn):
    crown = rbox(5.5, 2.2, 14.5, 14.5, 1.0)
    part(cv, crown, base)
    part(cv, crown & rbox(0, 10.6, 20, 13.4), band, shade=False)
    part(cv, rbox(1.6, 14.0, 18.4, 16.8, 1.35), base)
    ornament(cv, orn, 12.3, 12.0, band)


def hat_bowler(cv, base, band, orn):
    dome = ellipse(10, 12.5, 6.3, 8.0) & halfplane_above(13.6)
    part(cv, dome, base)
    part(cv, dome & halfplane_below(10.6), band, shade=False)
    part(cv, rbox(2.3, 13.2, 17.7, 15.8, 1.3), base)
    ornament(cv, orn, 13.0, 12.1, band)


def hat_cap(cv, base, band, orn):
    dome = ellipse(9.0, 13.2, 7.0, 7.2) & halfplane_above(14.2)
    part(cv, ellipse(15.0, 14.3, 4.8, 1.9), darker(base, 0.12))
    part(cv, dome, base)
    part(cv, rbox(2.0, 13.0, 16.0, 15.0, 1.0), band, shade=False)
    part(cv, circle(9.0, 5.8, 1.2), band, outline=0.6, shade=False)
    if orn:
        ornament(cv, orn, 8.0, 10.0, base)
    else:
        part(cv, capsule(9.0, 7.0, 7.0, 12.8, 0.35), darker(base, 0.35), outline=0, shade=False)


def hat_beanie(cv, base, band, orn):
    dome = ellipse(10, 12.5, 7.0, 8.2) & halfplane_above(13.0)
    part(cv, circle(10, 4.2, 2.3), band)
    part(cv, dome, base)
    cuff = rbox(2.6, 11.2, 17.4, 16.4, 1.6)
    part(cv, cuff, band)
    rib = darker(band, 0.18)
    for x in (5.5, 8.5, 11.5, 14.5):
        cv.fill(capsule(x, 12.4, x, 15.2, 0.35), rib)
    if orn:
        ornament(cv, orn, 10.0, 8.3, base)


def hat_cowboy(cv, base, band, orn):
    crown = polygon([(6.0, 13.0), (6.6, 6.0), (8.6, 4.6), (10.0, 6.0), (11.4, 4.6), (13.4, 6.0),
                     (14.0, 13.0)]).grow(0.4)
    part(cv, crown, base)
    part(cv, crown & rbox(0, 10.4, 20, 12.6), band, shade=False)
    brim = polygon([(1.2, 10.6), (3.6, 12.8), (16.4, 12.8), (18.8, 10.6), (18.4, 13.8), (15.4, 15.8),
                    (4.6, 15.8), (1.6, 13.8)]).grow(0.35)
    part(cv, brim, base)
    ornament(cv, orn, 10.0, 11.5, band)


def hat_party(cv, base, band, orn):
    cone = polygon([(10.0, 2.6), (15.6, 16.6), (4.4, 16.6)]).grow(0.3)
    part(cv, cone, base)
    for off in (6.5, 11.5):
        stripe = capsule(3.0, off + 3.5, 17.0, off - 1.5, 1.0) & cone
        cv.fill(stripe, band)
    part(cv, rbox(3.8, 15.4, 16.2, 17.4, 1.0), band, shade=False)
    part(cv, circle(10.0, 2.6, 1.8), band if orn == 0 else hexc('#ffffff'))
    if orn:
        ornament(cv, orn, 10.0, 11.2, base)


def hat_crown(cv, base, band, orn):
    crown = polygon([(3.2, 16.0), (3.0, 6.0), (6.6, 10.0), (10.0, 4.2), (13.4, 10.0), (17.0, 6.0),
                     (16.8, 16.0)]).grow(0.3)
    part(cv, crown, base)
    part(cv, crown & rbox(0, 12.6, 20, 16.6), band, shade=False)
    for x, y in ((3.0, 5.4), (10.0, 3.6), (17.0, 5.4)):
        part(cv, circle(x, y, 1.25), hexc('#ffffff') if luminance(base) < 0.7 else hexc('#d94848'),
             outline=0.55)
    ornament(cv, orn if orn else 2, 10.0, 14.6, band)


def hat_fedora(cv, base, band, orn):
    crown = polygon([(5.6, 13.2), (6.4, 6.2), (8.8, 4.8), (10.0, 6.0), (11.2, 4.8), (13.6, 6.2),
                     (14.4, 13.2)]).grow(0.35)
    part(cv, crown, base)
    part(cv, crown & rbox(0, 10.6, 20, 12.9), band, shade=False)
    part(cv, ellipse(10.0, 14.2, 9.0, 2.3), base)
    ornament(cv, orn, 12.6, 11.7, band)


def hat_beret(cv, base, band, orn):
    part(cv, rbox(9.3, 4.2, 10.9, 7.0, 0.7), base)
    part(cv, ellipse(10.6, 10.3, 8.4, 4.4), base)
    part(cv, ellipse(10.0, 14.1, 5.6, 1.7), band, shade=False)
    if orn:
        ornament(cv, orn, 13.5, 9.6, base)


def hat_hardhat(cv, base, band, orn):
    dome = ellipse(10, 13.0, 7.0, 8.4) & halfplane_above(14.0)
    part(cv, dome, base)
    part(cv, rbox(8.8, 4.8, 11.2, 13.6, 1.1), lighter(base, 0.15))
    part(cv, rbox(1.4, 13.2, 18.6, 15.8, 1.3), band)
    if orn:
        ornament(cv, orn, 14.0, 10.6, base)


def hat_sombrero(cv, base, band, orn):
    part(cv, ellipse(10.0, 13.6, 9.6, 2.6), base)
    dome = ellipse(10.0, 10.8, 4.3, 6.6) & halfplane_above(13.0)
    part(cv, dome, base)
    part(cv, dome & halfplane_below(10.2), band, shade=False)
    zig = polyline([(2.6, 14.4), (4.0, 13.5), (5.4, 14.4), (6.8, 13.5), (8.2, 14.4), (9.6, 13.5),
                    (11.0, 14.4), (12.4, 13.5), (13.8, 14.4), (15.2, 13.5), (16.6, 14.4),
                    (17.6, 13.8)], 0.42)
    cv.fill(zig, band)
    if orn:
        ornament(cv, orn, 10.0, 7.4, base)


def hat_mortar(cv, base, band, orn):
    part(cv, rbox(5.2, 8.4, 14.8, 15.4, 2.0), darker(base, 0.1))
    board = polygon([(10.0, 3.2), (19.0, 7.4), (10.0, 11.6), (1.0, 7.4)])
    part(cv, board, base)
    cv.fill(polyline([(10.0, 7.4), (16.0, 8.4), (16.0, 13.4)], 0.45), band)
    part(cv, rbox(15.0, 12.4, 17.0, 16.4, 0.7), band, outline=0.55, shade=False)
    part(cv, circle(10.0, 7.4, 1.0), band, outline=0.5, shade=False)
    if orn:
        ornament(cv, orn, 10.0, 12.6, base)


def hat_viking(cv, base, band, orn):
    horn = hexc('#f2e6c9')
    left = polygon([(4.8, 10.8), (1.0, 3.6), (2.6, 4.0), (6.8, 8.6)]).grow(0.35)
    right = polygon([(15.2, 10.8), (19.0, 3.6), (17.4, 4.0), (13.2, 8.6)]).grow(0.35)
    part(cv, left, horn)
    part(cv, right, horn)
    dome = ellipse(10, 12.6, 6.6, 7.6) & halfplane_above(14.0)
    part(cv, dome, base)
    part(cv, rbox(3.0, 11.8, 17.0, 15.4, 1.2), band)
    for x in (5.4, 10.0, 14.6):
        part(cv, circle(x, 13.6, 0.7), lighter(band, 0.5), outline=0.4, shade=False)
    if orn:
        ornament(cv, orn, 10.0, 8.4, base)


def hat_propeller(cv, base, band, orn):
    dome = ellipse(10, 13.6, 7.0, 7.4) & halfplane_above(14.6)
    part(cv, dome, base)
    for wedge in (polygon([(10, 14.6), (4.6, 6.6), (8.2, 5.2)]),
                  polygon([(10, 14.6), (11.8, 5.2), (15.4, 6.6)])):
        cv.fill(wedge & dome, band)
    part(cv, rbox(2.6, 13.6, 17.4, 15.8, 1.1), darker(base, 0.1))
    part(cv, rbox(9.4, 3.6, 10.6, 7.2, 0.5), hexc('#8a96a3'), outline=0.5)
    blade = hexc('#d94848') if colour_distance(base, hexc('#d94848')) > 0.8 else hexc('#f4c534')
    part(cv, ellipse(6.6, 3.6, 3.4, 1.05), blade, outline=0.55)
    part(cv, ellipse(13.4, 3.6, 3.4, 1.05), blade, outline=0.55)
    part(cv, circle(10.0, 3.6, 0.9), hexc('#8a96a3'), outline=0.5, shade=False)
    if orn:
        ornament(cv, orn, 10.0, 11.2, base)


HAT_SHAPES = [hat_top, hat_bowler, hat_cap, hat_beanie, hat_cowboy, hat_party, hat_crown,
              hat_fedora, hat_beret, hat_hardhat, hat_sombrero, hat_mortar, hat_viking,
              hat_propeller]


def hat_wizard(cv):
    blue = hexc('#2c3f9e')
    cone = polygon([(9.0, 2.0), (12.0, 5.6), (15.0, 14.2), (5.0, 14.2)]).grow(0.3)
    tip = polygon([(9.0, 2.0), (14.6, 4.0), (11.8, 5.6)]).grow(0.3)
    part(cv, tip, blue)
    part(cv, cone, blue)
    part(cv, ellipse(10.0, 14.6, 9.2, 2.3), blue)
    part(cv, cone & rbox(0, 11.2, 20, 13.6), hexc('#f4c534'), shade=False)
    cv.fill(star(9.6, 8.0, 2.0, 0.85), hexc('#ffe27a'))
    cv.fill(circle(12.2, 5.5, 0.65), hexc('#ffe27a'))
    cv.fill(circle(7.4, 10.5, 0.5), hexc('#ffe27a'))


def hat_admin(cv):
    navy = hexc('#1f2f5c')
    top = polygon([(2.0, 7.0), (10.0, 3.0), (18.0, 7.0), (16.0, 10.0), (4.0, 10.0)]).grow(0.4)
    part(cv, rbox(4.8, 8.6, 15.2, 14.6, 1.0), navy)
    part(cv, top, navy)
    part(cv, rbox(4.8, 11.4, 15.2, 13.2), hexc('#2b2f36'), shade=False)
    cv.fill(capsule(5.4, 12.3, 14.6, 12.3, 0.45), hexc('#f4c534'))
    part(cv, ellipse(10.0, 15.6, 6.2, 1.8) & halfplane_below(14.2), hexc('#2b2f36'))
    part(cv, star(10.0, 7.6, 2.6, 1.15), hexc('#f4c534'), outline=0.55)


def hat_away(cv):
    cap = hexc('#6f8fc7')
    body = polygon([(3.0, 15.6), (5.0, 8.0), (9.0, 4.6), (13.6, 5.2), (16.6, 9.6), (17.0, 15.6)])
    body = body.grow(0.4)
    part(cv, body, cap)
    part(cv, polygon([(13.6, 5.2), (17.6, 7.2), (18.0, 11.0), (15.6, 8.6)]).grow(0.3), cap)
    part(cv, circle(17.8, 12.0, 1.8), hexc('#ffffff'))
    part(cv, rbox(2.4, 13.6, 17.6, 16.8, 1.4), hexc('#ffffff'))
    zcol = hexc('#1f2f5c')
    for x, y, s in ((4.5, 3.2, 1.0), (7.6, 1.2, 0.8)):
        cv.fill(polyline([(x - 1.2 * s, y - 1.1 * s), (x + 1.2 * s, y - 1.1 * s),
                          (x - 1.2 * s, y + 1.1 * s), (x + 1.2 * s, y + 1.1 * s)], 0.42), zcol)
    cv.fill(star(8.6, 11.0, 1.5, 0.65), hexc('#ffe27a'))
    cv.fill(circle(12.4, 9.0, 0.55), hexc('#ffe27a'))


def hats():
    # Hats 3 and 4 are reserved for wizards and admins and 198 is the away hat; every
    # other hat is one unique pairing of shape and colour, varied in band and ornament.
    regular = [n for n in range(199) if n not in (3, 4, 198)]
    assert len(regular) <= len(HAT_SHAPES) * len(HAT_COLOURS)
    drawers = {3: hat_wizard, 4: hat_admin, 198: hat_away}
    for i, n in enumerate(regular):
        q, r = divmod(i, len(HAT_SHAPES))
        base = HAT_COLOURS[(q + r) % len(HAT_COLOURS)]
        band = pick_band(base, q * 2 + r)
        orn = (q + 2 * r) % 4
        shape = HAT_SHAPES[r]
        drawers[n] = (lambda s, b, bd, o: lambda cv: s(cv, b, bd, o))(shape, base, band, orn)
    for n in range(199):
        render('hats/%d.png' % n, (20, 20), drawers[n])


# ---------------------------------------------------------------- program and tray icons

def app_icon(cv, badge=0):
    """The program's mark: a speech bubble holding a die on the accent tile (32 units)."""
    acc = rgb(ACCENT)
    tile = rbox(1.0, 1.0, 31.0, 31.0, 7.0)
    cv.fill(tile, vgrad(lighter(acc, 0.22), darker(acc, 0.18), 1.0, 31.0))
    bubble = rbox(5.5, 6.0, 26.5, 23.0, 5.0) | polygon([(9.0, 21.0), (8.0, 27.5), (15.5, 21.0)])
    cv.fill(bubble.moved(0, 0.8), hexc('#0d2a66', 0.25))
    cv.fill(bubble, vgrad(hexc('#ffffff'), hexc('#e8eef9'), 6.0, 23.0))
    pip = darker(acc, 0.1)
    for x, y in ((11.0, 10.5), (16.0, 14.5), (21.0, 18.5)):
        cv.fill(circle(x, y, 2.1), pip)
    if badge:
        ring, fill, mail = ((hexc('#ffffff'), hexc('#e5484d'), hexc('#ffffff')) if badge == 1 else
                            (hexc('#e5484d'), hexc('#ffffff'), hexc('#e5484d')))
        cv.fill(circle(24.0, 24.0, 8.0), ring)
        cv.fill(circle(24.0, 24.0, 6.6), fill)
        env = rbox(19.6, 20.9, 28.4, 27.1, 0.8)
        cv.fill(env, mail)
        cv.fill(polyline([(20.2, 21.6), (24.0, 24.6), (27.8, 21.6)], 0.55), fill)


def program_icons():
    for size in (16, 24, 32, 48, 64, 128, 256):
        cv = Canvas(32, 32, size / 32)
        app_icon(cv)
        write('icons/app-%d.png' % size, cv.png())
    cv = Canvas(32, 32, 8)
    app_icon(cv)
    write('icons/app.png', cv.png())
    for n in range(3):
        render('icons/tray%d.png' % n, (32, 32), lambda cv, n=n: app_icon(cv, n))
    write('icons/app.svg', app_icon_svg().encode())


def svg_colour(c):
    return '#%02x%02x%02x' % tuple(max(0, min(255, int(round(v * 255)))) for v in c[:3])


def app_icon_svg():
    """The program's mark as SVG, for desktops that draw icons at any size. The same shapes
    and colours as app_icon(); it is not part of the resources (the client draws PNGs)."""
    acc = rgb(ACCENT)
    pip = svg_colour(darker(acc, 0.1))
    shadow = hexc('#0d2a66', 0.25)

    def grad(name, top, bottom, y0, y1):
        return ('<linearGradient id="%s" gradientUnits="userSpaceOnUse" x1="0" y1="%g" '
                'x2="0" y2="%g"><stop offset="0" stop-color="%s"/>'
                '<stop offset="1" stop-color="%s"/></linearGradient>'
                % (name, y0, y1, svg_colour(top), svg_colour(bottom)))

    def bubble(fill):
        return ('<rect x="5.5" y="6" width="21" height="17" rx="5" fill="%s"/>'
                '<polygon points="9,21 8,27.5 15.5,21" fill="%s"/>' % (fill, fill))

    lines = [
        '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 32 32">',
        '<defs>',
        grad('tile', lighter(acc, 0.22), darker(acc, 0.18), 1.0, 31.0),
        grad('bubble', hexc('#ffffff'), hexc('#e8eef9'), 6.0, 23.0),
        '</defs>',
        '<rect x="1" y="1" width="30" height="30" rx="7" fill="url(#tile)"/>',
        # One group with one opacity, so the overlap of the two pieces is not darker.
        '<g opacity="%g" transform="translate(0 0.8)">%s</g>'
        % (shadow[3], bubble(svg_colour(shadow))),
        bubble('url(#bubble)'),
    ]
    lines += ['<circle cx="%g" cy="%g" r="2.1" fill="%s"/>' % (x, y, pip)
              for x, y in ((11.0, 10.5), (16.0, 14.5), (21.0, 18.5))]
    lines += ['</svg>', '']
    return '\n'.join(lines)


def envelope(cv, x0, y0, x1, y1, paper, line, outline=0.9):
    env = rbox(x0, y0, x1, y1, 1.2)
    part(cv, env, paper, outline=outline)
    cx = (x0 + x1) / 2
    cv.fill(polyline([(x0 + 0.9, y0 + 0.9), (cx, y0 + (y1 - y0) * 0.55), (x1 - 0.9, y0 + 0.9)],
                     0.55), line)


def small_icons():
    render('icons/mail.png', (20, 20),
           lambda cv: envelope(cv, 2.5, 5.0, 17.5, 15.0, hexc('#ffffff'), rgb(ACCENT)))
    render('icons/online.png', (20, 20),
           lambda cv: part(cv, circle(10, 10, 4.6), hexc('#34b36b'), outline=0.8))
    render('icons/offline.png', (20, 20),
           lambda cv: (cv.fill(circle(10, 10, 5.2), hexc('#8a96a3')),
                       cv.fill(circle(10, 10, 3.6), hexc('#eef1f5'))))

    def mail_frame(cv, frame):
        lift = 2.0 if frame else 0.0
        if frame:
            for a in (-0.6, 0.0, 0.6):
                dx, dy = math.sin(a), -math.cos(a)
                cv.fill(capsule(16 + dx * 12.5, 13 + dy * 9.5, 16 + dx * 14.5, 13 + dy * 11.5, 0.7),
                        hexc('#f4c534'))
        envelope(cv, 4.0, 9.0 - lift, 28.0, 25.0 - lift, hexc('#ffffff'), rgb(ACCENT), outline=1.0)
        part(cv, circle(26.0, 9.5 - lift, 3.6), hexc('#e5484d'), outline=0.8)
        cv.fill(rbox(25.4, 7.4, 26.6, 10.3, 0.5).moved(0, -lift), hexc('#ffffff'))
        cv.fill(circle(26.0, 11.4 - lift, 0.65), hexc('#ffffff'))

    for frame in range(2):
        render('mail/frame%d.png' % frame, (32, 32), lambda cv, f=frame: mail_frame(cv, f))


def box_icons():
    """The message boxes' pictures: a round badge with its sign, 40 by 40."""
    white = hexc('#ffffff')

    def badge(cv, colour):
        part(cv, circle(20, 20, 16.5), colour, outline=1.0)

    def info(cv):
        badge(cv, rgb(ACCENT))
        cv.fill(circle(20, 12.2, 2.4), white)
        cv.fill(capsule(20, 17.6, 20, 28.4, 2.05), white)

    def question(cv):
        badge(cv, rgb(ACCENT))
        arc = [(14.6, 14.6)]
        for i in range(0, 11):
            a = math.pi * (1.05 - 1.35 * i / 10)
            arc.append((20 + 5.2 * math.cos(a), 14.2 - 4.9 * math.sin(a)))
        arc += [(20.4, 21.0), (20.0, 23.4)]
        cv.fill(polyline(arc, 1.9), white)
        cv.fill(circle(20, 28.6, 2.2), white)

    def error(cv):
        badge(cv, hexc('#d94848'))
        cv.fill(capsule(20, 10.8, 20, 22.6, 2.2), white)
        cv.fill(circle(20, 28.4, 2.3), white)

    render('icons/box-info.png', (40, 40), info)
    render('icons/box-question.png', (40, 40), question)
    render('icons/box-error.png', (40, 40), error)


def switches():
    def switch(cv, on):
        track = rbox(1.0, 1.0, 43.0, 23.0, 11.0)
        colour = rgb(ACCENT) if on else hexc('#c5ccd6')
        cv.fill(track, vgrad(darker(colour, 0.06), lighter(colour, 0.06), 1.0, 23.0))
        x = 32.0 if on else 12.0
        cv.fill(circle(x, 12.8, 9.0), hexc('#0b1a33', 0.22))
        cv.fill(circle(x, 12.0, 9.0), vgrad(hexc('#ffffff'), hexc('#f0f2f5'), 3.0, 21.0))

    render('switch/off.png', (44, 24), lambda cv: switch(cv, False))
    render('switch/on.png', (44, 24), lambda cv: switch(cv, True))


def background():
    size = 96
    cv = Canvas(size, size, 1)
    cv.fill(rbox(-1, -1, size + 1, size + 1), hexc('#f5f7fa'))
    for gx in range(0, size, 16):
        for gy in range(0, size, 16):
            ox = 8 if (gy // 16) % 2 else 0
            cv.fill(circle(gx + ox + 4, gy + 4, 1.1), hexc('#dfe5ee', 0.55))
    write('images/background.png', cv.png())


# ---------------------------------------------------------------- lettering

# A rounded stroke alphabet for the few words drawn into pictures: each letter is a set
# of strokes in a box 4 units wide and 6 tall, with its advance width.
LETTERS = {
    'A': (4, [[(0, 6), (2, 0), (4, 6)], [(0.8, 4), (3.2, 4)]]),
    'C': (4, [[(4, 1), (3, 0), (1, 0), (0, 1), (0, 5), (1, 6), (3, 6), (4, 5)]]),
    'D': (4, [[(0, 0), (0, 6), (2.4, 6), (4, 4.4), (4, 1.6), (2.4, 0), (0, 0)]]),
    'E': (3.6, [[(3.6, 0), (0, 0), (0, 6), (3.6, 6)], [(0, 3), (3, 3)]]),
    'G': (4, [[(4, 1), (3, 0), (1, 0), (0, 1), (0, 5), (1, 6), (3, 6), (4, 5), (4, 3.3),
               (2.3, 3.3)]]),
    'H': (4, [[(0, 0), (0, 6)], [(4, 0), (4, 6)], [(0, 3), (4, 3)]]),
    'I': (0, [[(0, 0), (0, 6)]]),
    'M': (4.6, [[(0, 6), (0, 0), (2.3, 3.6), (4.6, 0), (4.6, 6)]]),
    'O': (4, [[(1, 0), (3, 0), (4, 1), (4, 5), (3, 6), (1, 6), (0, 5), (0, 1), (1, 0)]]),
    'R': (4, [[(0, 6), (0, 0), (3, 0), (4, 1), (4, 2), (3, 3), (0, 3)], [(2, 3), (4, 6)]]),
    'S': (4, [[(4, 1), (3, 0), (1, 0), (0, 1), (0, 2), (1, 3), (3, 3), (4, 4), (4, 5), (3, 6),
               (1, 6), (0, 5)]]),
    'T': (4, [[(0, 0), (4, 0)], [(2, 0), (2, 6)]]),
    ' ': (1.6, []),
}


def text_width(text, size, gap=1.5):
    k = size / 6.0
    return sum(LETTERS[c][0] * k for c in text) + gap * k * (len(text) - 1)


def lettering(cv, text, x, y, size, colour, weight=0.62, gap=1.5):
    """Writes text with its top left at (x, y), letters size units tall."""
    k = size / 6.0
    shape = None
    for c in text:
        advance, strokes = LETTERS[c]
        for stroke in strokes:
            line = polyline([(x + px * k, y + py * k) for px, py in stroke], weight)
            shape = line if shape is None else shape | line
        x += (advance + gap) * k
    if shape is not None:
        cv.fill(shape, colour)


def connection_pictures():
    # The hosting indicator beside the host button: direct, or assisted by the lobby.
    def picture(cv, on):
        pill = rbox(1.0, 2.0, 47.0, 24.0, 11.0)
        if on:
            cv.fill(pill, vgrad(lighter(rgb(ACCENT), 0.12), darker(rgb(ACCENT), 0.08), 2, 24))
            ink = hexc('#ffffff')
            word = 'ASSISTED'
        else:
            cv.fill(pill, hexc('#c5ccd6'))
            cv.fill(pill.grow(-1.0), hexc('#ffffff'))
            ink = hexc('#4a5568')
            word = 'DIRECT'
        size = 6.4
        w = text_width(word, size)
        lettering(cv, word, 24.0 - w / 2, 13.0 - size / 2, size, ink, weight=0.6)

    render('connection/0.png', (48, 26), lambda cv: picture(cv, False))
    render('connection/1.png', (48, 26), lambda cv: picture(cv, True))


def buttons():
    def host(cv):
        body = rbox(1.0, 1.0, 131.0, 33.0, 8.0)
        cv.fill(body.moved(0, 0.8), hexc('#0d2a66', 0.18))
        cv.fill(body, vgrad(lighter(rgb(ACCENT), 0.14), darker(rgb(ACCENT), 0.08), 1, 33))
        cv.fill(circle(19.0, 17.0, 9.0), hexc('#ffffff'))
        cv.fill(polygon([(16.4, 12.0), (24.0, 17.0), (16.4, 22.0)]).grow(0.6), rgb(ACCENT))
        word = 'HOST A GAME'
        size = 9.0
        w = text_width(word, size)
        lettering(cv, word, 33.0 + (131.0 - 33.0 - w) / 2 - 2.0, 17.0 - size / 2, size,
                  hexc('#ffffff'), weight=0.85)

    def help_button(cv):
        part(cv, circle(12.0, 12.0, 10.0), rgb(ACCENT), outline=0)
        mark = hexc('#ffffff')
        cv.fill(polyline([(8.6, 9.2), (9.2, 7.4), (11.0, 6.4), (13.2, 6.4), (15.0, 7.6), (15.4, 9.4),
                          (14.4, 11.0), (12.0, 12.4), (12.0, 14.2)], 1.15), mark)
        cv.fill(circle(12.0, 17.6, 1.35), mark)

    def announce(cv):
        ink = rgb(ACCENT)
        horn = polygon([(5.0, 9.0), (16.5, 4.0), (16.5, 20.0), (5.0, 15.0)]).grow(0.8)
        part(cv, rbox(3.0, 8.4, 7.6, 15.6, 1.2), darker(ink, 0.1), outline=0.7)
        part(cv, horn, ink, outline=0.7)
        part(cv, polygon([(6.5, 15.5), (9.5, 15.5), (10.5, 21.0), (8.0, 21.0)]).grow(0.4),
             darker(ink, 0.1), outline=0.7)
        for a in (-0.5, 0.0, 0.5):
            dx, dy = math.cos(a), math.sin(a)
            cv.fill(capsule(19.0 + dx * 0.5, 12 + dy * 2.0, 19.0 + dx * 3.2, 12 + dy * 5.0, 0.8),
                    hexc('#f4c534'))

    render('buttons/host.png', (132, 34), host)
    render('buttons/help.png', (24, 24), help_button)
    render('buttons/announce.png', (24, 24), announce)


# ---------------------------------------------------------------- room pictures

def glyph_die(cv, c, light):
    part(cv, rbox(3.5, 3.5, 16.5, 16.5, 3.0), light)
    for x, y in ((7, 7), (10, 10), (13, 13), (13, 7), (7, 13)):
        cv.fill(circle(x, y, 1.3), c)


def glyph_card(cv, c, light):
    part(cv, rbox(4.5, 2.5, 15.5, 17.5, 2.0), light)
    cv.fill(circle(8.4, 9.4, 2.3) | circle(11.6, 9.4, 2.3)
            | polygon([(6.3, 10.3), (13.7, 10.3), (10.0, 14.4)]), c)


def glyph_spade(cv, c, light):
    part(cv, rbox(4.5, 2.5, 15.5, 17.5, 2.0), light)
    cv.fill(circle(8.3, 10.4, 2.2) | circle(11.7, 10.4, 2.2)
            | polygon([(6.1, 9.6), (13.9, 9.6), (10.0, 5.0)])
            | polygon([(10.0, 10.5), (12.0, 14.5), (8.0, 14.5)]), c)


def glyph_domino(cv, c, light):
    part(cv, rbox(5.5, 1.5, 14.5, 18.5, 2.0), light)
    cv.fill(capsule(7.5, 10.0, 12.5, 10.0, 0.45), c)
    for x, y in ((10, 5.7), (8, 13.4), (12, 16.0), (8, 16.0), (12, 13.4)):
        cv.fill(circle(x, y, 1.1), c)


def glyph_pawn(cv, c, light):
    part(cv, circle(10, 5.6, 2.9) | polygon([(7.4, 9.0), (12.6, 9.0), (14.2, 15.0), (5.8, 15.0)])
         | rbox(4.0, 14.4, 16.0, 17.6, 1.2), c)


def glyph_tile(cv, c, light):
    part(cv, rbox(3.0, 3.0, 17.0, 17.0, 2.2), light)
    cv.fill(polyline([(6.0, 6.8), (7.6, 13.4), (10.0, 8.4), (12.4, 13.4), (14.0, 6.8)], 0.9), c)


def glyph_puzzle(cv, c, light):
    body = rbox(3.5, 5.5, 14.5, 16.5, 1.5) | circle(9.0, 4.6, 2.4) | circle(15.4, 11.0, 2.4)
    body = body - circle(3.4, 11.0, 2.0)
    part(cv, body, c)


def glyph_checker(cv, c, light):
    part(cv, circle(10, 10, 7.2), c)
    cv.fill(circle(10, 10, 4.8) - circle(10, 10, 3.8), light)
    cv.fill(circle(10, 10, 1.8), light)


def glyph_board(cv, c, light):
    part(cv, rbox(3.0, 3.0, 17.0, 17.0, 1.5), light)
    for i in range(4):
        for j in range(4):
            if (i + j) % 2 == 0:
                cv.fill(rbox(3.5 + i * 3.25, 3.5 + j * 3.25, 6.75 + i * 3.25, 6.75 + j * 3.25), c)


def glyph_dice(cv, c, light):
    part(cv, rbox(2.0, 6.5, 11.0, 15.5, 2.0), light)
    part(cv, rbox(9.0, 3.0, 18.0, 12.0, 2.0), c)
    cv.fill(circle(4.8, 9.2, 1.0) | circle(8.2, 12.8, 1.0), c)
    cv.fill(circle(11.7, 5.7, 1.0) | circle(13.5, 7.5, 1.0) | circle(15.3, 9.3, 1.0), light)


def glyph_star(cv, c, light):
    part(cv, star(10, 10.6, 7.8, 3.4), c)


def glyph_block(cv, c, light):
    for x, y in ((3.5, 10.5), (10.0, 10.5), (10.0, 4.0)):
        part(cv, rbox(x, y, x + 6.5, y + 6.5, 1.0), c, outline=0.7)


GLYPHS = [glyph_die, glyph_card, glyph_domino, glyph_pawn, glyph_tile, glyph_puzzle,
          glyph_checker, glyph_board, glyph_dice, glyph_star, glyph_spade]
ROOM_COLOURS = [hexc('#d94848'), hexc('#2f9e5b'), hexc('#3659c9'), hexc('#7d52cc')]


def ladder_badge(cv, colour):
    part(cv, circle(15.0, 15.0, 4.6), colour, outline=0.7)
    ink = hexc('#ffffff')
    cv.fill(capsule(13.3, 12.2, 13.3, 17.8, 0.5) | capsule(16.7, 12.2, 16.7, 17.8, 0.5), ink)
    for y in (13.6, 15.0, 16.4):
        cv.fill(capsule(13.3, y, 16.7, y, 0.35), ink)


def rooms():
    light = hexc('#fbfbfd')
    fixed = {
        0: lambda cv: (part(cv, rbox(2.0, 4.0, 9.5, 8.0, 1.2), hexc('#e6b23c')),
                       part(cv, rbox(2.0, 6.0, 18.0, 16.5, 1.6), hexc('#f4c534'))),
        1: lambda cv: part(cv, circle(10, 6.4, 3.4) | (ellipse(10, 17.5, 6.8, 7.0)
                                                      & halfplane_above(17.0)), rgb(ACCENT)),
        2: lambda cv: glyph_block(cv, hexc('#8a96a3'), light),
        3: lambda cv: glyph_block(cv, hexc('#20aaa4'), light),
        4: lambda cv: (glyph_block(cv, hexc('#20aaa4'), light), part(
            cv, circle(15.0, 15.0, 4.4), hexc('#d94848'), outline=0.7),
            cv.fill(capsule(13.0, 15.0, 17.0, 15.0, 0.7), hexc('#ffffff'))),
    }
    for n in range(137):
        if n in fixed:
            draw = fixed[n]
        else:
            game, variant = divmod(n - 5, 3)
            glyph = GLYPHS[game % len(GLYPHS)]
            # each glyph appears once in every colour, so no two games look alike
            colour = ROOM_COLOURS[(game // len(GLYPHS) + 2 * (game % len(GLYPHS)))
                                  % len(ROOM_COLOURS)]

            def draw(cv, g=glyph, c=colour, v=variant):
                g(cv, c, light)
                if v == 1:
                    ladder_badge(cv, hexc('#e0a01c'))
                elif v == 2:
                    ladder_badge(cv, hexc('#5b6b80'))
        render('rooms/%d.png' % n, (20, 20), draw)

    def lobby(cv):
        part(cv, rbox(1.5, 2.5, 13.5, 11.5, 3.0) | polygon([(4.0, 10.0), (3.4, 14.2), (8.0, 10.0)]),
             rgb(ACCENT))
        part(cv, rbox(7.0, 7.0, 18.5, 15.5, 3.0) | polygon([(15.0, 14.0), (16.4, 18.2), (12.0, 14.0)]),
             hexc('#ffffff'))
        for x in (10.0, 12.8, 15.6):
            cv.fill(circle(x, 11.3, 0.9), rgb(ACCENT))

    render('rooms/lobby.png', (20, 20), lobby)


# ---------------------------------------------------------------- sounds

RATE = 44100


def tone(freq, length, amp, partials=((1, 1.0), (2, 0.35), (3, 0.12)), decay=6.0, attack=0.006):
    n = int(length * RATE)
    out = []
    for i in range(n):
        t = i / RATE
        env = min(1.0, t / attack) * math.exp(-decay * t)
        v = sum(a * math.sin(2 * math.pi * freq * k * t) for k, a in partials)
        out.append(amp * env * v)
    return out


def mixdown(notes, length):
    buf = [0.0] * int(length * RATE)
    for start, samples in notes:
        s = int(start * RATE)
        for i, v in enumerate(samples):
            if s + i < len(buf):
                buf[s + i] += v
    peak = max(abs(v) for v in buf) or 1.0
    gain = 0.7 / peak
    # a short fade at the end so the sound never stops with a click
    fade = int(0.02 * RATE)
    for i in range(fade):
        buf[-1 - i] *= i / fade
    return [v * gain for v in buf]


def write_wav(path, samples):
    full = os.path.join(HERE, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with wave.open(full, 'wb') as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b''.join(struct.pack('<h', int(max(-1.0, min(1.0, v)) * 32767))
                               for v in samples))


def sounds():
    bell = ((1, 1.0), (2, 0.28), (3.01, 0.1), (4.2, 0.05))
    # A friend arrives: a warm rising fourth.
    write_wav('sounds/FRIENDS.wav', mixdown([
        (0.00, tone(659.25, 0.55, 1.0, bell, decay=7.0)),
        (0.13, tone(880.00, 0.55, 1.0, bell, decay=6.0)),
    ], 0.68))
    # A private message: two quick bright plinks on the same note.
    pluck = ((1, 1.0), (2, 0.5), (3, 0.2))
    write_wav('sounds/PRIVATE.wav', mixdown([
        (0.00, tone(1318.5, 0.22, 1.0, pluck, decay=18.0)),
        (0.11, tone(1318.5, 0.30, 1.0, pluck, decay=12.0)),
    ], 0.42))
    # A tournament announcement: a short brassy arpeggio up to the octave.
    brass = ((1, 1.0), (2, 0.55), (3, 0.35), (4, 0.2), (5, 0.1))
    write_wav('sounds/TOURNEY.wav', mixdown([
        (0.00, tone(523.25, 0.25, 1.0, brass, decay=5.0, attack=0.015)),
        (0.11, tone(659.25, 0.25, 1.0, brass, decay=5.0, attack=0.015)),
        (0.22, tone(783.99, 0.25, 1.0, brass, decay=5.0, attack=0.015)),
        (0.33, tone(1046.5, 0.55, 1.0, brass, decay=3.5, attack=0.015)),
    ], 0.92))


def write_qrc():
    # Every file this script writes, so the resource list never goes stale.
    files = []
    for folder in ('icons', 'mail', 'switch', 'images', 'hats', 'rooms', 'connection',
                   'buttons', 'sounds'):
        names = os.listdir(os.path.join(HERE, folder))
        files += sorted('%s/%s' % (folder, n) for n in names
                        if n.endswith('.png') or n.endswith('.wav'))
    lines = ['<!DOCTYPE RCC>', '<RCC version="1.0">', '<qresource prefix="/">']
    lines += ['    <file>%s</file>' % f for f in files]
    lines += ['</qresource>', '</RCC>', '']
    with open(os.path.join(HERE, 'assets.qrc'), 'w') as f:
        f.write('\n'.join(lines))


def main():
    program_icons()
    small_icons()
    box_icons()
    switches()
    background()
    hats()
    rooms()
    connection_pictures()
    buttons()
    sounds()
    write_qrc()


if __name__ == '__main__':
    main()
