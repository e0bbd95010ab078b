#!/usr/bin/env python3
"""Draws the pictures of Vexlor.dll and writes them as Windows BMP and ICO files.

    make_artwork.py OUTPUT_DIR

Menu pictures are 13 x 13 pixel maps written out below; icons are drawn from simple shapes.
Only the standard library is used, and the output is the same byte for byte on every run.
"""
import os
import struct
import sys

# The 16 colours of the standard VGA palette, the palette of the 16-colour menu pictures.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Letters of the pixel maps. '.' is the menu background (the classic menu grey).
LETTERS = {
    '.': (192, 192, 192), 'k': (0, 0, 0), 'g': (128, 128, 128), 'w': (255, 255, 255),
    'y': (255, 255, 0), 'o': (128, 128, 0), 'r': (128, 0, 0), 'R': (255, 0, 0),
    'b': (0, 0, 128), 'B': (0, 0, 255), 'c': (0, 255, 255), 'n': (0, 128, 128),
    # Only in the 256-colour picture: shades between the VGA colours.
    's': (90, 120, 200), 'l': (160, 185, 235), 'd': (40, 60, 120),
}

# Closed padlock: Encrypt.
MENU_ENCRYPT = [
    ".............",
    "....kkkkk....",
    "...kg...gk...",
    "..kg.....gk..",
    "..kg.....gk..",
    "..kg.....gk..",
    ".kkkkkkkkkkk.",
    ".kwyyyyyyyok.",
    ".kyyyykyyyok.",
    ".kyyyykyyyok.",
    ".kyyyyyyyyok.",
    ".koooooooook.",
    ".kkkkkkkkkkk.",
]

# Open padlock: Decrypt. The shackle is lifted out of the body on the right.
MENU_DECRYPT = [
    "......kkkkk..",
    ".....kg...gk.",
    "....kg.....gk",
    "....kg.....gk",
    "....kg.......",
    "....kg.......",
    ".kkkkkkkkkk..",
    ".kwyyyyyyok..",
    ".kyyyykyyok..",
    ".kyyyykyyok..",
    ".kyyyyyyyok..",
    ".kooooooook..",
    ".kkkkkkkkkk..",
]

# Cog wheel in shades of blue: Config. Eight teeth round a ring with a hole.
MENU_CONFIG = [
    ".....ddd.....",
    "..d..dld..d..",
    ".dld.dld.dld.",
    "..dddllsddd..",
    "...dlllssd...",
    "dddls...ssddd",
    "dlll.....sssd",
    "dddls...ssddd",
    "...dlssssd...",
    "..dddssssddd.",
    ".dsd.dsd.dsd.",
    "..d..dsd..d..",
    ".....ddd.....",
]


def pixel_map(rows):
    """Turns a list of letter rows into rows of RGB colours."""
    assert all(len(row) == len(rows[0]) for row in rows), "pixel map rows differ in length"
    return [[LETTERS[c] for c in row] for row in rows]


def palette_of(images, size):
    """The distinct colours of the images in first-seen order, padded to `size` entries."""
    colours = []
    for image in images:
        for row in image:
            for colour in row:
                if colour is not None and colour not in colours:
                    colours.append(colour)
    if len(colours) > size:
        raise ValueError("%d colours do not fit a palette of %d" % (len(colours), size))
    return colours + [(0, 0, 0)] * (size - len(colours))


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def pack_indices(indices, bits):
    """Packs palette indices of one row at 4 or 8 bits each, high nibble first."""
    if bits == 8:
        return bytes(indices)
    out = bytearray()
    for i in range(0, len(indices), 2):
        high = indices[i]
        low = indices[i + 1] if i + 1 < len(indices) else 0
        out.append(high << 4 | low)
    return bytes(out)


def dib(image, palette, bits, with_mask):
    """A device-independent bitmap: header, palette, colour rows (bottom-up) and, for icons,
    the transparency mask (1 = transparent) after them."""
    height = len(image)
    width = len(image[0])
    colour_rows = b""
    mask_rows = b""
    for row in reversed(image):
        indices = [palette.index(c) if c is not None else 0 for c in row]
        colour_rows += padded(pack_indices(indices, bits))
        mask_bits = 0
        for x, colour in enumerate(row):
            if colour is None:
                mask_bits |= 1 << (31 - x)
        mask_rows += struct.pack(">I", mask_bits)[: (width + 7) // 8].ljust(4, b"\0")
    data = colour_rows + (mask_rows if with_mask else b"")
    header = struct.pack(
        "<IiiHHIIiiII", 40, width, height * 2 if with_mask else height, 1, bits, 0,
        len(data), 0, 0, len(palette), 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + colours + data


def bmp_file(image, palette, bits):
    body = dib(image, palette, bits, with_mask=False)
    offset = 14 + 40 + 4 * len(palette)
    return struct.pack("<2sIHHI", b"BM", 14 + len(body), 0, 0, offset) + body


def ico_file(images):
    """An icon file with one 256-colour image per entry of `images`."""
    palette = palette_of(images, 256)
    blobs = [dib(image, palette, 8, with_mask=True) for image in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for image, blob in zip(images, blobs):
        size = len(image)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


# Shapes for the icons, in a coordinate system of 0..1 over the icon.

def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    ex, ey = ax + t * dx - px, ay + t * dy - py
    return (ex * ex + ey * ey) ** 0.5


def stroke_icon(size, segments, width, outline, fill, highlight):
    """A thick pen stroke along line segments: dark edge, bright core."""
    image = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = (x + 0.5) / size, (y + 0.5) / size
            d = min(segment_distance(px, py, *s) for s in segments)
            if d > width:
                row.append(None)
            elif d > width - 1.6 / size:
                row.append(outline)
            elif d < width * 0.35:
                row.append(highlight)
            else:
                row.append(fill)
        image.append(row)
    return image


def red_cross(size):
    return stroke_icon(size, [(0.2, 0.2, 0.8, 0.8), (0.8, 0.2, 0.2, 0.8)], 0.12,
                       (110, 0, 0), (210, 20, 20), (255, 90, 80))


def green_tick(size):
    return stroke_icon(size, [(0.18, 0.55, 0.42, 0.8), (0.42, 0.8, 0.84, 0.2)], 0.11,
                       (0, 90, 0), (20, 170, 40), (110, 230, 110))


def padlock(size, image=None, left=0.0, top=0.0, scale=1.0):
    """Draws a gold padlock into `image` (a new transparent one when None)."""
    if image is None:
        image = [[None] * size for _ in range(size)]
    dark, body, light, steel, hole = (90, 60, 0), (220, 170, 30), (250, 220, 110), (120, 120, 130), (40, 30, 0)
    for y in range(size):
        for x in range(size):
            u = ((x + 0.5) / size - left) / scale
            v = ((y + 0.5) / size - top) / scale
            if not (0.0 <= u <= 1.0 and 0.0 <= v <= 1.0):
                continue
            edge = 1.3 / (size * scale)
            if 0.15 <= u <= 0.85 and 0.45 <= v <= 0.95:
                if u < 0.15 + edge or u > 0.85 - edge or v < 0.45 + edge or v > 0.95 - edge:
                    image[y][x] = dark
                elif 0.46 <= u <= 0.54 and 0.6 <= v <= 0.8:
                    image[y][x] = hole
                else:
                    image[y][x] = light if u < 0.4 else body
            else:
                # Shackle: the upper half of a ring over the body.
                r = ((u - 0.5) ** 2 + (v - 0.45) ** 2) ** 0.5
                if v <= 0.45 and 0.2 <= r <= 0.3:
                    image[y][x] = dark if r < 0.2 + edge or r > 0.3 - edge else steel
    return image


def encrypted_file(size):
    """A white page with a folded corner and a padlock over its lower right part."""
    image = [[None] * size for _ in range(size)]
    ink, paper, fold, line = (0, 0, 0), (255, 255, 255), (192, 192, 192), (128, 128, 128)
    left, right, top, bottom = 0.12, 0.78, 0.04, 0.96
    corner = 0.2
    for y in range(size):
        for x in range(size):
            u, v = (x + 0.5) / size, (y + 0.5) / size
            if not (left <= u <= right and top <= v <= bottom):
                continue
            edge = 1.0 / size
            if u > right - corner and v < top + (u - (right - corner)):
                continue  # cut-off corner
            on_border = (u < left + edge or u > right - edge or v < top + edge or v > bottom - edge
                         or abs((v - top) - (u - (right - corner))) < edge)
            if on_border:
                image[y][x] = ink
            elif u > right - corner and v < top + corner:
                image[y][x] = fold
            elif size >= 32 and int(v * size) % 4 == 0 and 0.2 < u < 0.62 and 0.3 < v < 0.9:
                image[y][x] = line
            else:
                image[y][x] = paper
    return padlock(size, image, left=0.42, top=0.42, scale=0.58)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_artwork.py OUTPUT_DIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)

    write(os.path.join(out, "menu_encrypt.bmp"), bmp_file(pixel_map(MENU_ENCRYPT), VGA16, 4))
    write(os.path.join(out, "menu_decrypt.bmp"), bmp_file(pixel_map(MENU_DECRYPT), VGA16, 4))
    config = pixel_map(MENU_CONFIG)
    write(os.path.join(out, "menu_config.bmp"), bmp_file(config, palette_of([config], 256), 8))

    write(os.path.join(out, "vexlor.ico"), ico_file([padlock(32), padlock(16)]))
    write(os.path.join(out, "encrypted_file.ico"),
          ico_file([encrypted_file(32), encrypted_file(16)]))
    write(os.path.join(out, "cancel_button.ico"), ico_file([red_cross(32)]))
    write(os.path.join(out, "ok_button.ico"), ico_file([green_tick(32)]))


if __name__ == "__main__":
    main()
