#!/usr/bin/env python3
"""Makes the demo story: demo.spt and the pictures, icon and sounds it names, all drawn and
synthesised here, so that nothing in the demo comes from anywhere else.

    make_demo.py OUT_DIR

writes OUT_DIR/demo.spt (Shift-JIS, CR LF, from story.txt beside this file), OUT_DIR/demo/ with
the story's files, and OUT_DIR/torvane.png (the desktop entry's icon). Everything is computed
from fixed numbers: the same source makes the same bytes.
"""
import math
import os
import struct
import sys
import zlib

MAGENTA = (255, 0, 255)  # the player's transparent colour
PANEL = (255, 248, 225)  # the message panel: the player draws its text in black
PANEL_EDGE = (120, 90, 60)

# ---------------------------------------------------------------------------------------------
# Pictures: an image is (width, height, rows), rows a list of bytearrays of RGB triples.


def new_image(width, height, colour):
    row = bytearray(colour) * width
    return (width, height, [bytearray(row) for _ in range(height)])


def put(image, x, y, colour):
    width, height, rows = image
    if 0 <= x < width and 0 <= y < height:
        rows[y][3 * x:3 * x + 3] = bytes(colour)


def fill_rect(image, x0, y0, x1, y1, colour):
    """Fills x0 <= x < x1, y0 <= y < y1, clipped to the image."""
    width, height, rows = image
    x0, x1 = max(0, x0), min(width, x1)
    if x0 >= x1:
        return
    span = bytes(colour) * (x1 - x0)
    for y in range(max(0, y0), min(height, y1)):
        rows[y][3 * x0:3 * x1] = span


def fill_circle(image, cx, cy, r, colour):
    for dy in range(-r, r + 1):
        half = int(math.sqrt(max(0, r * r - dy * dy)))
        fill_rect(image, cx - half, cy + dy, cx + half + 1, cy + dy + 1, colour)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def sky(image, top, bottom, until):
    for y in range(until):
        fill_rect(image, 0, y, image[0], y + 1, mix(top, bottom, y / max(1, until - 1)))


def ground(image, height_at, near, far):
    """Fills below the curve height_at(x), shading from far (at the curve) to near (bottom)."""
    width, height, _ = image
    for x in range(width):
        top = int(height_at(x))
        for y in range(max(0, top), height):
            put(image, x, y, mix(far, near, (y - top) / max(1, height - top)))


def message_panel(image):
    fill_rect(image, 40, 320, 600, 408, PANEL_EDGE)
    fill_rect(image, 42, 322, 598, 406, PANEL)


def next_random(state):
    """A linear congruential generator: the same stars and noise on every build."""
    return (state * 1103515245 + 12345) & 0x7FFFFFFF


def stars(image, count, seed, below):
    state = seed
    for _ in range(count):
        state = next_random(state)
        x = state % image[0]
        state = next_random(state)
        y = state % below
        state = next_random(state)
        shade = 150 + state % 106
        put(image, x, y, (shade, shade, min(255, shade + 30)))


def hill_height(x):
    return 300 - 38 * math.sin(x / 110.0) - 18 * math.sin(x / 47.0 + 1.0)


def hill_evening():
    image = new_image(640, 480, (0, 0, 0))
    sky(image, (72, 58, 138), (255, 164, 84), 320)
    fill_circle(image, 470, 262, 40, (255, 226, 130))
    ground(image, hill_height, (28, 62, 34), (70, 118, 62))
    message_panel(image)
    return image


def hill_night():
    image = new_image(640, 480, (0, 0, 0))
    sky(image, (8, 12, 46), (40, 52, 112), 320)
    stars(image, 160, 7, 280)
    for y in range(56, 117):  # a crescent: the moon's disc less a disc beside it
        for x in range(510, 571):
            if (x - 540) ** 2 + (y - 86) ** 2 <= 900 and (x - 552) ** 2 + (y - 78) ** 2 > 784:
                put(image, x, y, (250, 246, 210))
    ground(image, hill_height, (10, 26, 18), (26, 50, 36))
    message_panel(image)
    return image


def forest():
    image = new_image(640, 480, (0, 0, 0))
    sky(image, (6, 10, 30), (24, 40, 70), 320)
    stars(image, 60, 11, 160)
    ground(image, lambda x: 330 - 6 * math.sin(x / 60.0), (8, 20, 10), (20, 40, 22))
    for i, (cx, base, half, tall) in enumerate(
            [(40, 340, 46, 230), (150, 330, 38, 190), (250, 345, 50, 250), (560, 335, 44, 220),
             (620, 340, 40, 200), (360, 330, 30, 150)]):
        shade = (14 + 3 * i, 42 + 4 * i, 24 + 2 * i)
        for y in range(base - tall, base):
            half_here = int(half * (y - (base - tall)) / tall)
            fill_rect(image, cx - half_here, y, cx + half_here + 1, y + 1, shade)
        fill_rect(image, cx - 5, base, cx + 6, base + 30, (50, 34, 20))
    state = 23
    for _ in range(40):  # fireflies
        state = next_random(state)
        x = 20 + state % 600
        state = next_random(state)
        y = 150 + state % 160
        fill_rect(image, x, y, x + 2, y + 2, (230, 255, 120))
    message_panel(image)
    return image


def town():
    image = new_image(640, 480, (0, 0, 0))
    sky(image, (10, 14, 44), (60, 50, 100), 300)
    stars(image, 80, 17, 150)
    fill_rect(image, 0, 300, 640, 480, (40, 36, 44))
    for i, (x, w, h) in enumerate([(20, 90, 120), (130, 70, 160), (215, 110, 100), (340, 80, 140),
                                    (435, 100, 115), (550, 80, 170)]):
        top = 300 - h
        body = (56 + 6 * i, 48 + 4 * i, 60 + 5 * i)
        fill_rect(image, x, top, x + w, 300, body)
        for row in range(top + 14, 290, 28):
            for col in range(x + 10, x + w - 16, 24):
                lit = (row * 7 + col * 3 + i) % 5 != 0
                fill_rect(image, col, row, col + 12, row + 14,
                          (255, 214, 120) if lit else (30, 28, 40))
    message_panel(image)
    return image


def traveler():
    """The traveller, on magenta: everything magenta shows what lies underneath."""
    image = new_image(96, 160, MAGENTA)
    for y in range(50, 156):  # the cloak widens towards the hem
        half = 14 + (y - 50) * 24 // 106
        fill_rect(image, 48 - half, y, 48 + half, y + 1, (120, 70, 40))
    fill_rect(image, 46, 56, 50, 150, (90, 50, 28))  # the cloak's seam
    fill_circle(image, 48, 38, 15, (240, 200, 160))  # the face
    fill_rect(image, 42, 36, 45, 39, (40, 30, 30))
    fill_rect(image, 52, 36, 55, 39, (40, 30, 30))
    fill_rect(image, 22, 22, 74, 27, (50, 40, 60))  # the hat's brim
    for y in range(4, 22):
        half = (y - 4) * 14 // 18 + 4
        fill_rect(image, 48 - half, y, 48 + half, y + 1, (60, 48, 72))
    fill_rect(image, 80, 30, 84, 158, (150, 110, 60))  # the staff
    return image


def star_points(cx, cy, outer, inner, points=4, turn=0.0):
    corners = []
    for k in range(points * 2):
        r = outer if k % 2 == 0 else inner
        a = turn + math.pi * k / points - math.pi / 2
        corners.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return corners


def inside(polygon, x, y):
    hit = False
    j = len(polygon) - 1
    for i in range(len(polygon)):
        xi, yi = polygon[i]
        xj, yj = polygon[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def fill_polygon(image, polygon, colour, x0=0, y0=0, w=None, h=None):
    w = image[0] if w is None else w
    h = image[1] if h is None else h
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            if inside(polygon, x + 0.5, y + 0.5):
                put(image, x, y, colour)


def star_strip():
    """Six cells of 48x48 side by side: a star that swells and fades."""
    sizes = [8, 12, 17, 22, 17, 12]
    image = new_image(48 * len(sizes), 48, MAGENTA)
    for cell, size in enumerate(sizes):
        cx = 48 * cell + 24
        glow = mix((255, 210, 90), (255, 255, 235), size / 22)
        fill_polygon(image, star_points(cx, 24, size, size / 3.2), glow, 48 * cell, 0, 48, 48)
        fill_rect(image, cx - 1, 23, cx + 2, 26, (255, 255, 255))
    return image


def lantern_strip():
    """Four cells of 32x48 one below the other: a lantern whose flame flickers."""
    flames = [10, 14, 8, 12]
    image = new_image(32, 48 * len(flames), MAGENTA)
    for cell, flame in enumerate(flames):
        top = 48 * cell
        fill_rect(image, 12, top + 2, 20, top + 6, (60, 50, 40))       # the handle
        fill_rect(image, 6, top + 6, 26, top + 10, (80, 64, 48))        # the cap
        fill_rect(image, 8, top + 10, 24, top + 40, (255, 236, 170))    # the glass
        fill_rect(image, 6, top + 40, 26, top + 44, (80, 64, 48))       # the base
        for y in range(flame):
            half = max(1, 4 * (flame - y) // flame)
            fill_rect(image, 16 - half, top + 36 - y, 16 + half, top + 37 - y,
                      mix((255, 120, 20), (255, 240, 120), y / flame))
    return image


def bmp_bytes(image):
    """A 24-bit bottom-up BMP, rows padded to four bytes."""
    width, height, rows = image
    stride = (3 * width + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        bgr = bytearray(len(row))
        bgr[0::3], bgr[1::3], bgr[2::3] = row[2::3], row[1::3], row[0::3]
        pixels += bgr + bytes(stride - len(row))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + bytes(pixels)


def rgba_star(size):
    """A five-pointed star on transparency, as rows of RGBA tuples, with soft edges."""
    polygon = star_points(size / 2, size / 2 + size * 0.04, size * 0.48, size * 0.2, 5)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            hits = sum(inside(polygon, x + (sx + 0.5) / 4, y + (sy + 0.5) / 4)
                       for sx in range(4) for sy in range(4))
            row.append((255, 206, 40, hits * 255 // 16))
        rows.append(row)
    return rows


def ico_bytes(sizes):
    """An icon file of 32-bit images (alpha, and an AND mask for older readers)."""
    images = []
    for size in sizes:
        rows = rgba_star(size)
        xor = bytearray()
        for row in reversed(rows):
            for r, g, b, a in row:
                xor += bytes((b, g, r, a))
        mask_stride = ((size + 31) // 32) * 4
        mask = bytearray()
        for row in reversed(rows):
            bits = bytearray(mask_stride)
            for x, (_, _, _, a) in enumerate(row):
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(xor) + len(mask),
                             0, 0, 0, 0)
        images.append((size, header + bytes(xor) + bytes(mask)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return out


def png_bytes(rows):
    """RGBA rows as a PNG, for the desktop entry's icon."""
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)
    size = len(rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# ---------------------------------------------------------------------------------------------
# Sounds: 16-bit mono PCM at 22050 Hz.

RATE = 22050


def wav_bytes(samples):
    data = struct.pack("<%dh" % len(samples), *samples)
    return (struct.pack("<4sI4s", b"RIFF", 36 + len(data), b"WAVE") +
            struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, 1, RATE, RATE * 2, 2, 16) +
            struct.pack("<4sI", b"data", len(data)) + data)


def chime():
    """Three bell-like notes, rising, each dying away: played once."""
    length = int(RATE * 1.2)
    mixed = [0.0] * length
    for start, frequency in [(0.0, 1318.5), (0.15, 1568.0), (0.30, 2093.0)]:
        first = int(start * RATE)
        for i in range(length - first):
            t = i / RATE
            envelope = math.exp(-t * 5.0) * min(1.0, t * 400)
            mixed[first + i] += envelope * (math.sin(2 * math.pi * frequency * t) +
                                            0.3 * math.sin(2 * math.pi * 2.01 * frequency * t))
    return [int(max(-1.0, min(1.0, 0.28 * s)) * 32767) for s in mixed]


def wind():
    """Two seconds of soft wind that loops without a seam: the swell is periodic over the loop,
    and the noise fades into its own beginning."""
    length = RATE * 2
    state = 99
    noise = []
    for _ in range(length):
        state = next_random(state)
        noise.append((state / 0x7FFFFFFF) * 2 - 1)
    out = []
    low = 0.0
    for i in range(2 * length):  # a first pass settles the filter, the second is kept
        low += 0.04 * (noise[i % length] - low)
        if i >= length:
            t = (i - length) / length
            swell = 0.55 + 0.45 * math.sin(2 * math.pi * t)
            out.append(int(max(-1.0, min(1.0, 2.2 * low * swell)) * 32767))
    return out


# ---------------------------------------------------------------------------------------------


def story_bytes(source):
    """story.txt (UTF-8, LF) as the player reads scripts: CP932 lines ending in CR LF."""
    out = bytearray()
    with open(source, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            encoded = line.rstrip("\n").encode("cp932") + b"\r\n"
            if len(encoded) > 254:  # the player reads at most 254 bytes of a line at a time
                sys.exit("%s:%d: longer than 254 bytes in CP932" % (source, number))
            out += encoded
    return bytes(out)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_demo.py OUT_DIR")
    out = sys.argv[1]
    here = os.path.dirname(os.path.abspath(__file__))
    assets = os.path.join(out, "demo")
    write(os.path.join(out, "demo.spt"), story_bytes(os.path.join(here, "story.txt")))
    for name, picture in [("hill_evening.bmp", hill_evening), ("hill_night.bmp", hill_night),
                          ("forest.bmp", forest), ("町の夜.bmp", town),
                          ("traveler.bmp", traveler), ("stars.bmp", star_strip),
                          ("lantern.bmp", lantern_strip)]:
        write(os.path.join(assets, name), bmp_bytes(picture()))
    write(os.path.join(assets, "star.ico"), ico_bytes([16, 32]))
    write(os.path.join(assets, "chime.wav"), wav_bytes(chime()))
    write(os.path.join(assets, "wind.wav"), wav_bytes(wind()))
    write(os.path.join(out, "torvane.png"), png_bytes(rgba_star(48)))


if __name__ == "__main__":
    main()
