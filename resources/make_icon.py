#!/usr/bin/env python3
"""Draws the application icon: a crescent moon and stars over a night sky.

Writes a 16-colour .ico with a 32x32 and a 16x16 image (4-bit BMPs with AND
masks), the format the icon group of the executable declares. Pure python3,
so the icon can be regenerated anywhere:

    python3 resources/make_icon.py resources/app.ico

The Linux desktop icons are the same images as PNGs, made at build time
(packaging/CMakeLists.txt), so both programs show one drawing:

    python3 resources/make_icon.py --png 32 com.morvane.NightMode.png
"""

import math
import struct
import sys
import zlib

# One shared 16-entry palette, (r, g, b). Entry 0 stays black: masked
# pixels carry it in the colour plane so they vanish on every background.
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 masked
    (0x08, 0x10, 0x2a),  # 1 outline
    (0x0e, 0x1c, 0x44),  # 2 sky, top
    (0x13, 0x2a, 0x5a),  # 3 sky
    (0x15, 0x3a, 0x62),  # 4 sky, lower
    (0x14, 0x4a, 0x5c),  # 5 sky near the horizon, blue-green
    (0x10, 0x3c, 0x34),  # 6 far hill
    (0x0a, 0x2a, 0x22),  # 7 near hill
    (0x2c, 0x44, 0x78),  # 8 moon glow
    (0x9a, 0x78, 0x2c),  # 9 moon edge
    (0xd8, 0xb0, 0x46),  # 10 moon
    (0xf4, 0xd6, 0x74),  # 11 moon, lit
    (0xff, 0xf0, 0xb8),  # 12 moon, brightest
    (0x8c, 0xa4, 0xd0),  # 13 faint star
    (0xff, 0xff, 0xff),  # 14 star
    (0x1c, 0x5e, 0x4a),  # 15 hill rim
]

SS = 8  # supersampling per axis
ICO_SIZES = (32, 16)  # the images of the .ico, largest first


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def rounded_square(x, y, size, radius):
    """Coverage test of the rounded tile, coordinates in pixels."""
    cx = min(max(x, radius), size - radius)
    cy = min(max(y, radius), size - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def scene(x, y, s):
    """Colour of the point (x, y) in a tile of size s, as (r, g, b)."""
    u, v = x / s, y / s

    # Sky: night blue at the top, turning blue-green towards the horizon.
    sky_top, sky_low = PALETTE[2], PALETTE[5]
    col = mix(sky_top, sky_low, min(1.0, max(0.0, (v - 0.15) / 0.75)))

    # Two hills along the bottom edge.
    far = 0.80 - 0.07 * math.cos((u - 0.75) * 5.0)
    near = 0.88 - 0.10 * math.cos((u - 0.15) * 4.2)
    if v > near:
        return PALETTE[7]
    if v > far:
        return PALETTE[15] if v < far + 0.035 else PALETTE[6]

    # Crescent: a disc with a second disc taken out of its upper right.
    mx, my, mr = 0.42, 0.40, 0.25
    ox, oy, orr = mx + 0.13, my - 0.10, 0.22
    dm = math.hypot(u - mx, v - my)
    do = math.hypot(u - ox, v - oy)
    if dm <= mr and do > orr:
        # Lit from the lower left: brighter towards the outer rim.
        rim = dm / mr
        if rim > 0.93:
            return PALETTE[9]
        if do - orr < 0.035:
            return PALETTE[10]
        return PALETTE[12] if rim > 0.55 and u < mx else PALETTE[11]
    if dm <= mr + 0.07 and do > orr + 0.02:
        return mix(col, PALETTE[8], 0.8)

    return col


def nearest(c):
    best, best_d = 1, None
    for i, p in enumerate(PALETTE[1:], start=1):
        d = sum((c[k] - p[k]) ** 2 for k in range(3))
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def render(size, small):
    radius = 3.0 if small else 5.0
    index = [[0] * size for _ in range(size)]
    opaque = [[False] * size for _ in range(size)]
    for py in range(size):
        for px in range(size):
            # Majority vote of the samples' palette entries: averaging
            # first would land edges on unrelated entries (green moon rims).
            votes = {}
            for sy in range(SS):
                for sx in range(SS):
                    x = px + (sx + 0.5) / SS
                    y = py + (sy + 0.5) / SS
                    if not rounded_square(x, y, size, radius):
                        continue
                    i = nearest(scene(x, y, size))
                    votes[i] = votes.get(i, 0) + 1
            if sum(votes.values()) * 2 < SS * SS:
                continue
            opaque[py][px] = True
            index[py][px] = max(votes, key=votes.get)
    # A one-pixel outline keeps the tile readable on dark taskbars.
    for py in range(size):
        for px in range(size):
            if not opaque[py][px]:
                continue
            edge = any(not (0 <= px + dx < size and 0 <= py + dy < size)
                       or not opaque[py + dy][px + dx]
                       for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            if edge:
                index[py][px] = 1
    # Stars are placed by hand, in the space the crescent opens towards:
    # sampled shapes this small come out as blobs.
    if small:
        index[3][12] = 14
        index[7][14] = 13
    else:
        for dx, dy in ((0, -1), (-1, 0), (1, 0), (0, 1)):
            index[7 + dy][24 + dx] = 13
        index[7][24] = 14
        index[16][27] = 13
        index[3][19] = 13
    return index, opaque


def bmp_image(size, index, opaque):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor_rows, and_rows = [], []
    for y in reversed(range(size)):  # bottom-up rows
        row = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x in range(size):
            if opaque[y][x]:
                nib = index[y][x]
            else:
                nib = 0
                mask[x // 8] |= 0x80 >> (x % 8)
            row[x // 2] |= nib << (4 if x % 2 == 0 else 0)
        xor_rows.append(bytes(row))
        and_rows.append(bytes(mask))
    return header + palette + b''.join(xor_rows) + b''.join(and_rows)


def png_image(size, index, opaque):
    """The same pixels as an RGBA PNG: masked pixels fully transparent."""
    rows = bytearray()
    for y in range(size):
        rows.append(0)  # filter type: none
        for x in range(size):
            r, g, b = PALETTE[index[y][x]]
            rows += bytes((r, g, b, 255 if opaque[y][x] else 0))

    def chunk(kind, data):
        body = kind + data
        return (struct.pack('>I', len(data)) + body
                + struct.pack('>I', zlib.crc32(body) & 0xffffffff))
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header)
            + chunk(b'IDAT', zlib.compress(bytes(rows), 9))
            + chunk(b'IEND', b''))


def write_png(size, out):
    if size not in ICO_SIZES:
        sys.exit('make_icon.py: the icon is drawn at %s pixels, not %d'
                 % (' and '.join(map(str, ICO_SIZES)), size))
    index, opaque = render(size, small=size < 32)
    with open(out, 'wb') as f:
        f.write(png_image(size, index, opaque))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == '--png':
        write_png(int(sys.argv[2]), sys.argv[3])
        return
    out = sys.argv[1] if len(sys.argv) > 1 else 'app.ico'
    images = []
    for size in ICO_SIZES:
        index, opaque = render(size, small=size < 32)
        images.append((size, bmp_image(size, index, opaque)))
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, img in images:
        data += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4,
                            len(img), offset)
        offset += len(img)
    data += b''.join(img for _, img in images)
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
