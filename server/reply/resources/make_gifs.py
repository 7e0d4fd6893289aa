#!/usr/bin/env python3
"""Draws the server's built-in images and writes them as GIF89a files.

The generated .gif files are kept in the tree, so the build never needs this
script; run it again only to change a picture:

    python3 server/reply/resources/make_gifs.py

Only the standard library is used. Every file is decoded again after it is
written, by an independent decoder below, and compared pixel by pixel.
"""

import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# One palette for all pictures: 16 entries, so codes start at 5 bits.
PALETTE = [
    (255, 255, 255),  # 0 white (transparent in icons)
    (0, 0, 0),        # 1 black
    (255, 204, 0),    # 2 folder yellow
    (204, 153, 0),    # 3 folder shadow
    (255, 238, 153),  # 4 folder light
    (128, 128, 128),  # 5 grey
    (192, 192, 192),  # 6 light grey
    (0, 51, 153),     # 7 dark blue
    (51, 102, 204),   # 8 blue
    (204, 0, 0),      # 9 red
    (245, 245, 235),  # 10 paper
    (235, 238, 245),  # 11 background tile
    (222, 226, 238),  # 12 background lines
    (64, 64, 64),     # 13 dark grey
    (255, 128, 0),    # 14 orange
    (153, 0, 0),      # 15 dark red
]
TRANSPARENT = 0


class Canvas:
    def __init__(self, width, height, fill=0):
        self.width = width
        self.height = height
        self.pixels = [fill] * (width * height)

    def set(self, x, y, color):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y * self.width + x] = color

    def rect(self, x0, y0, x1, y1, color):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, color)

    def frame(self, x0, y0, x1, y1, color):
        self.line(x0, y0, x1, y0, color)
        self.line(x0, y1, x1, y1, color)
        self.line(x0, y0, x0, y1, color)
        self.line(x1, y0, x1, y1, color)

    def line(self, x0, y0, x1, y1, color):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.set(x0, y0, color)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def ellipse(self, cx, cy, rx, ry, color):
        for y in range(cy - ry, cy + ry + 1):
            for x in range(cx - rx, cx + rx + 1):
                if ((x - cx) / max(rx, 0.5)) ** 2 + ((y - cy) / max(ry, 0.5)) ** 2 <= 1.0:
                    self.set(x, y, color)


# A 5 x 7 font for the letters the logo needs.
FONT = {
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'V': ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    'K': ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    'W': ["10001", "10001", "10001", "10101", "10101", "11011", "10001"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    ' ': ["00000"] * 7,
}


def text(canvas, x, y, string, scale, color, shadow=None):
    for ch in string:
        rows = FONT[ch]
        for r, row in enumerate(rows):
            for c, bit in enumerate(row):
                if bit == "1":
                    if shadow is not None:
                        canvas.rect(x + c * scale + 2, y + r * scale + 2,
                                    x + c * scale + scale + 1, y + r * scale + scale + 1, shadow)
                    canvas.rect(x + c * scale, y + r * scale,
                                x + c * scale + scale - 1, y + r * scale + scale - 1, color)
        x += 6 * scale


def folder(width, height):
    c = Canvas(width, height, TRANSPARENT)
    tab_w = max(3, width * 2 // 5)
    tab_h = max(2, height // 6)
    c.rect(1, 0, tab_w, tab_h, 3)
    c.frame(1, 0, tab_w, tab_h, 1)
    c.rect(0, tab_h, width - 1, height - 1, 2)
    c.rect(1, tab_h + 1, width - 2, tab_h + max(1, height // 8), 4)
    c.frame(0, tab_h, width - 1, height - 1, 1)
    c.line(1, height - 2, width - 2, height - 2, 3)
    return c


def document(width, height):
    c = Canvas(width, height, TRANSPARENT)
    fold = max(3, width // 3)
    c.rect(0, 0, width - 1, height - 1, 10)
    for y in range(fold):  # cut the corner
        for x in range(width - fold + y + 1, width):
            c.set(x, y, TRANSPARENT)
    c.line(0, 0, width - fold, 0, 1)
    c.line(0, 0, 0, height - 1, 1)
    c.line(0, height - 1, width - 1, height - 1, 1)
    c.line(width - 1, fold, width - 1, height - 1, 1)
    c.line(width - fold, 0, width - 1, fold, 1)
    c.line(width - fold, 0, width - fold, fold, 5)
    c.line(width - fold, fold, width - 1, fold, 5)
    for y in range(fold + 2, height - 2, 2):
        c.line(2, y, width - 3, y, 8)
    return c


def spider(width, height):
    c = Canvas(width, height, TRANSPARENT)
    cx = width // 2
    c.line(cx, 0, cx, 13, 5)  # the thread it hangs on
    body_y, head_y = 25, 15
    for side in (-1, 1):
        for i, (kx, ky, fx, fy) in enumerate([(9, -8, 14, -14), (11, -2, 20, -6),
                                              (11, 4, 20, 10), (9, 9, 14, 14)]):
            knee = (cx + side * kx, body_y + ky)
            c.line(cx + side * 3, body_y - 3 + 2 * i, knee[0], knee[1], 1)
            c.line(knee[0], knee[1], cx + side * (kx + fx // 2), min(height - 1, body_y + ky + fy // 2 + 6), 1)
    c.ellipse(cx, body_y, 7, 8, 1)
    c.ellipse(cx, head_y, 4, 4, 13)
    c.ellipse(cx, body_y + 1, 3, 4, 9)  # the red mark on its back
    c.set(cx - 2, head_y - 1, 9)
    c.set(cx + 2, head_y - 1, 9)
    return c


def background(width, height):
    c = Canvas(width, height, 11)
    # A faint web: lines from the tile's corner and rings across them, all
    # drawn so that the tile joins itself on every side.
    for x in range(0, width, 23):
        c.line(x, 0, x, height - 1, 12)
    for y in range(0, height, 41):
        c.line(0, y, width - 1, y, 12)
    c.line(0, 0, width - 1, height - 1, 12)
    c.line(0, height - 1, width - 1, 0, 12)
    return c


def logo(width, height):
    c = Canvas(width, height, 0)
    c.rect(0, 0, width - 1, height - 1, 11)
    c.frame(0, 0, width - 1, height - 1, 7)
    c.frame(2, 2, width - 3, height - 3, 8)
    text(c, 12, 12, "TOVK", 6, 7, shadow=6)
    text(c, 14, 62, "WWW SERVER", 2, 9)
    # a small spider in the corner
    s = spider(49, 40)
    for y in range(40):
        for x in range(49):
            p = s.pixels[y * 49 + x]
            if p != TRANSPARENT:
                c.set(width - 54 + x, 4 + y, p)
    return c


# ---- GIF writing ----

def lzw_encode(pixels, min_code_size):
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    bit_buffer = 0
    bit_count = 0

    def emit(code, size):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += size
        while bit_count >= 8:
            out.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    def reset():
        return {bytes([i]): i for i in range(clear)}, min_code_size + 1, end + 1

    table, size, next_code = reset()
    emit(clear, size)
    word = bytes([pixels[0]])
    for p in pixels[1:]:
        candidate = word + bytes([p])
        if candidate in table:
            word = candidate
            continue
        emit(table[word], size)
        table[candidate] = next_code
        next_code += 1
        if next_code - 1 == (1 << size) and size < 12:
            size += 1
        if next_code == 4096:
            emit(clear, size)
            table, size, next_code = reset()
        word = bytes([p])
    emit(table[word], size)
    # The decoder adds one more entry after reading the last code and may
    # widen its codes for the end code.
    if next_code < 4096 and next_code == (1 << size) and size < 12:
        size += 1
    emit(end, size)
    if bit_count:
        out.append(bit_buffer & 0xFF)
    return bytes(out)


def write_gif(path, canvas, transparent):
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", canvas.width, canvas.height, 0xF3, 0, 0)  # global table of 16
    for r, g, b in PALETTE:
        data += bytes([r, g, b])
    if transparent:
        data += bytes([0x21, 0xF9, 4, 0x01, 0, 0, TRANSPARENT, 0])
    data += b"\x2C" + struct.pack("<HHHHB", 0, 0, canvas.width, canvas.height, 0)
    min_code_size = 4
    data.append(min_code_size)
    stream = lzw_encode(canvas.pixels, min_code_size)
    for i in range(0, len(stream), 255):
        block = stream[i:i + 255]
        data.append(len(block))
        data += block
    data += b"\x00\x3B"
    with open(path, "wb") as f:
        f.write(data)
    return bytes(data)


# ---- an independent decoder, to check what was written ----

def decode_gif(data):
    assert data[:6] == b"GIF89a", "signature"
    width, height, flags = struct.unpack("<HHB", data[6:11])
    pos = 13
    if flags & 0x80:
        pos += 3 * (2 << (flags & 7))
    while data[pos] == 0x21:  # extensions
        pos += 2
        while data[pos]:
            pos += data[pos] + 1
        pos += 1
    assert data[pos] == 0x2C, "image descriptor"
    pos += 10
    min_code_size = data[pos]
    pos += 1
    stream = bytearray()
    while data[pos]:
        stream += data[pos + 1:pos + 1 + data[pos]]
        pos += data[pos] + 1
    assert data[pos + 1] == 0x3B, "trailer"

    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    bits = int.from_bytes(stream, "little")
    bit_pos = 0
    size = min_code_size + 1
    table = None
    previous = None
    pixels = []
    while True:
        code = (bits >> bit_pos) & ((1 << size) - 1)
        bit_pos += size
        assert bit_pos <= len(stream) * 8, "ran past the data"
        if code == clear:
            table = [bytes([i]) for i in range(clear)] + [b"", b""]
            size = min_code_size + 1
            previous = None
            continue
        if code == end:
            break
        if previous is None:
            entry = table[code]
        else:
            if code < len(table):
                entry = table[code]
                table.append(previous + entry[:1])
            else:
                assert code == len(table), "code out of range"
                entry = previous + previous[:1]
                table.append(entry)
            if len(table) >= (1 << size) and size < 12:
                size += 1
        pixels.extend(entry)
        previous = entry
    return width, height, pixels


PICTURES = [
    ("bigdir.gif", lambda: folder(34, 28), True),
    ("dir.gif", lambda: folder(15, 13), True),
    ("else.gif", lambda: document(13, 16), True),
    ("logo.gif", lambda: logo(184, 82), False),
    ("pavouk.gif", lambda: spider(49, 40), True),
    ("pozadi2.gif", lambda: background(92, 82), False),
]


def main():
    for name, draw, transparent in PICTURES:
        canvas = draw()
        data = write_gif(os.path.join(HERE, name), canvas, transparent)
        width, height, pixels = decode_gif(data)
        if (width, height) != (canvas.width, canvas.height) or pixels != canvas.pixels:
            sys.exit("%s: decoding gives another picture" % name)
        print("%s %dx%d, %d bytes" % (name, width, height, len(data)))


if __name__ == "__main__":
    main()
