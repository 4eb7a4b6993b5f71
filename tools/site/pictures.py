#!/usr/bin/env python3
"""Draws the pictures of the games' description pages, using only the standard library.

    pictures.py OUTDIR NAME...

For every game NAME: OUTDIR/<lower>/images/board.gif (a board with pieces, palette
colours) and OUTDIR/<lower>/box.ppm (the box front, full colour; the site script turns
it into the page's JPEG). Each game gets its own colours, derived from its name.
"""

import colorsys
import math
import os
import struct
import sys
import zlib


def game_colours(name):
    hue = (zlib.crc32(name.lower().encode()) % 360) / 360.0

    def hsv(h, s, v):
        r, g, b = colorsys.hsv_to_rgb(h % 1.0, s, v)
        return (round(r * 255), round(g * 255), round(b * 255))

    return {
        'deep': hsv(hue, 0.75, 0.45),
        'main': hsv(hue, 0.65, 0.85),
        'light': hsv(hue, 0.18, 0.98),
        'other': hsv(hue + 0.45, 0.70, 0.90),
    }


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def box_front(name, width=240, height=160):
    """The box: a diagonal gradient, soft circles and a band across, anti-aliased."""
    c = game_colours(name)
    circles = [(0.78, 0.30, 0.20, c['light']), (0.62, 0.72, 0.13, c['other']),
               (0.20, 0.78, 0.09, c['light'])]
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            u, v = x / width, y / height
            colour = mix(c['deep'], c['main'], min(1.0, (u + v) / 1.6))
            band = abs((v - 0.42) - 0.35 * (u - 0.5))
            if band < 0.09:
                colour = mix(colour, c['light'], 0.35 * (1 - band / 0.09))
            for cx, cy, r, tint in circles:
                d = math.hypot((u - cx) * width / height, v - cy) - r
                coverage = max(0.0, min(1.0, 0.5 - d * height))
                colour = mix(colour, tint, 0.85 * coverage)
            row += bytes(colour)
        rows.append(bytes(row))
    return b'P6\n%d %d\n255\n' % (width, height) + b''.join(rows)


def board(name, cells=8, cell=20):
    """A board of cells with a few round pieces, in palette colours only."""
    c = game_colours(name)
    palette = [c['light'], c['main'], c['deep'], c['other'], (255, 255, 255), (40, 40, 48)]
    seed = zlib.crc32(name.encode())
    pieces = {}
    for i in range(10):
        seed = (seed * 1103515245 + 12345) & 0x7fffffff
        pieces[(seed % cells, (seed >> 8) % cells)] = 3 if i % 2 else 4
    size = cells * cell
    pixels = bytearray()
    for y in range(size):
        for x in range(size):
            cx, cy = x // cell, y // cell
            if x % cell == 0 or y % cell == 0 or x == size - 1 or y == size - 1:
                index = 2
            else:
                index = 0 if (cx + cy) % 2 == 0 else 1
            piece = pieces.get((cx, cy))
            if piece is not None:
                dx = x % cell - cell / 2 + 0.5
                dy = y % cell - cell / 2 + 0.5
                d = math.hypot(dx, dy)
                if d < cell * 0.36:
                    index = piece
                elif d < cell * 0.42:
                    index = 5
            pixels.append(index)
    return encode_gif(size, size, palette, bytes(pixels))


def encode_gif(width, height, palette, pixels):
    """A GIF89a with a 256-entry palette. The LZW stream starts afresh often enough that
    its codes stay 9 bits wide: larger than a compressing encoder's output, and simple."""
    table = b''.join(bytes(colour) for colour in palette)
    table += b'\0' * (3 * 256 - len(table))
    out = bytearray(b'GIF89a')
    out += struct.pack('<HHBBB', width, height, 0xF7, 0, 0)
    out += table
    out += b',' + struct.pack('<HHHHB', 0, 0, width, height, 0)
    out.append(8)
    clear, end = 256, 257
    data = bytearray()
    bits = count = 0

    def code(value):
        nonlocal bits, count
        bits |= value << count
        count += 9
        while count >= 8:
            data.append(bits & 0xFF)
            bits >>= 8
            count -= 8

    for i, index in enumerate(pixels):
        if i % 250 == 0:
            code(clear)
        code(index)
    code(end)
    if count:
        data.append(bits & 0xFF)
    for at in range(0, len(data), 255):
        block = data[at:at + 255]
        out.append(len(block))
        out += block
    out += b'\0;'
    return bytes(out)


def main():
    if len(sys.argv) < 3:
        sys.stderr.write('usage: pictures.py OUTDIR NAME...\n')
        return 2
    outdir = sys.argv[1]
    for name in sys.argv[2:]:
        folder = os.path.join(outdir, name.lower())
        os.makedirs(os.path.join(folder, 'images'), exist_ok=True)
        with open(os.path.join(folder, 'images', 'board.gif'), 'wb') as f:
            f.write(board(name))
        with open(os.path.join(folder, 'box.ppm'), 'wb') as f:
            f.write(box_front(name))
    return 0


if __name__ == '__main__':
    sys.exit(main())
