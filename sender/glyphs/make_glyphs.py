#!/usr/bin/env python3
"""Draws the sender's button glyphs as 24-bit BMP files (16 x 16 each; the stop glyph holds two images side by
side, enabled then disabled). The bottom-left pixel is the transparent colour, so every glyph keeps its corners
in the background colour. Run it here to redraw them: python3 make_glyphs.py"""
import math
import struct

BG = (255, 0, 255)  # transparent when drawn on a button


def canvas(w=16, h=16):
    return [[BG for _ in range(w)] for _ in range(h)]  # rows top-down


def save(name, rows):
    h, w = len(rows), len(rows[0])
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):  # bottom-up, as DIBs are stored
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        data += line
    header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(name, 'wb') as f:
        f.write(header + info + data)


def rect(c, x0, y0, x1, y1, col):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            c[y][x] = col


def camera():
    # A video camera: body with a lens in front and a viewfinder cone to the right.
    c = canvas()
    rect(c, 1, 5, 10, 12, (40, 40, 60))
    rect(c, 2, 6, 9, 11, (90, 90, 120))
    for y in range(7, 11):
        for x in range(3, 7):
            if (x - 4.5) ** 2 + (y - 8.5) ** 2 <= 2.5:
                c[y][x] = (120, 200, 255)
    for i, y in enumerate(range(5, 13)):
        span = abs(y - 8.5)
        for x in range(11, 15):
            if span <= (x - 10) * 1.1 + 0.6:
                c[y][x] = (40, 40, 60)
    rect(c, 2, 3, 5, 4, (40, 40, 60))
    c[6][8] = (255, 40, 40)  # recording light
    return c


def gear():
    # A cog wheel: the codec's settings.
    c = canvas()
    cx = cy = 7.5
    for y in range(16):
        for x in range(16):
            dx, dy = x - cx, y - cy
            r = math.hypot(dx, dy)
            a = math.atan2(dy, dx)
            tooth = math.cos(6 * a) > 0.2
            outer = 7.6 if tooth else 5.2
            if 1.6 < r <= outer:
                shade = 150 - int(r * 8)
                c[y][x] = (shade, shade, min(255, shade + 60))
    return c


def play():
    # A green triangle pointing right: start sending.
    c = canvas()
    for y in range(2, 14):
        half = 6 - abs(y - 7.5)
        for x in range(4, 14):
            if (x - 4) <= half * 1.6:
                edge = (x - 4) > half * 1.6 - 1.2 or y in (2, 13)
                c[y][x] = (0, 110, 0) if edge else (40, 200, 40)
    return c


def stop_pair():
    # A red square (enabled) and the same square in grey (disabled), side by side.
    c = canvas(32, 16)
    for ox, face, rim in ((0, (230, 40, 40), (130, 0, 0)), (16, (190, 190, 190), (120, 120, 120))):
        rect(c, ox + 3, 3, ox + 12, 12, rim)
        rect(c, ox + 4, 4, ox + 11, 11, face)
    return c


def door():
    # An open door with an arrow leaving it: exit the program.
    c = canvas()
    rect(c, 2, 1, 9, 14, (110, 70, 30))
    rect(c, 3, 2, 8, 13, (240, 230, 200))
    rect(c, 3, 2, 6, 13, (160, 100, 40))  # the door leaf, swung open
    c[8][5] = (250, 220, 60)
    for x in range(8, 15):
        c[7][x] = (0, 90, 200)
        c[8][x] = (0, 90, 200)
    for d in range(1, 4):
        c[7 - d][14 - d] = (0, 90, 200)
        c[8 + d][14 - d] = (0, 90, 200)
    return c


if __name__ == '__main__':
    save('setup.bmp', camera())
    save('codec.bmp', gear())
    save('start.bmp', play())
    save('stop.bmp', stop_pair())
    save('exit.bmp', door())
