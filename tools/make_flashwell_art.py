#!/usr/bin/env python3
"""Draws Flashwell's program icon (32x32, 16 colours) and the maker's logo
(260x68, 24 bits per pixel) and writes them as ICO and BMP files.
    tools/make_flashwell_art.py OUTPUT_FOLDER
The files are committed in updater/art/; run this again after changing a drawing."""
import os
import struct
import sys

# 5x7 capitals for the logo lettering.
GLYPHS = {
    'K': ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'V': ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'I': ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    'N': ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    'D': ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    'G': ["01111", "10000", "10000", "10011", "10001", "10001", "01111"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    ' ': ["00000"] * 7,
}

# A lightning bolt in a 12x16 grid, used by both pictures.
BOLT = [
    "000000011110",
    "000000111100",
    "000001111000",
    "000011110000",
    "000111100000",
    "001111111110",
    "011111111100",
    "000000111000",
    "000001110000",
    "000011100000",
    "000111000000",
    "001110000000",
    "001100000000",
    "011000000000",
    "010000000000",
    "100000000000",
]


def draw_text(pixels, text, left, top, scale, colour):
    x = left
    for ch in text:
        glyph = GLYPHS[ch]
        for row, bits in enumerate(glyph):
            for col, bit in enumerate(bits):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            pixels[top + row * scale + dy][x + col * scale + dx] = colour
        x += 6 * scale


def logo_pixels(width=260, height=68):
    pixels = []
    for y in range(height):
        row = []
        for x in range(width):
            # Deep blue at the left to teal at the right.
            t = x / (width - 1)
            row.append((int(20 + 10 * t), int(40 + 90 * t), int(110 + 40 * t)))
        pixels.append(row)
    for row, bits in enumerate(BOLT):
        for col, bit in enumerate(bits):
            if bit == "1":
                for dy in range(4):
                    for dx in range(3):
                        pixels[2 + row * 4 + dy][10 + col * 3 + dx] = (255, 214, 40)
    draw_text(pixels, "KELVRIN", 58, 8, 4, (255, 255, 255))
    draw_text(pixels, "DIGITAL VIDEO", 60, 46, 2, (200, 230, 255))
    for x in range(56, 250):  # underline
        pixels[41][x] = (255, 214, 40)
    return pixels


def write_bmp24(path, pixels):
    height, width = len(pixels), len(pixels[0])
    stride = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up rows
        line = bytearray()
        for r, g, b in pixels[y]:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


# The standard 16-colour palette (BGR0 entries in the file).
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
           (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
           (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, NAVY, GREY, YELLOW, WHITE, TEAL = 0, 4, 8, 11, 15, 6


def icon_indices(size=32):
    """Palette indices, None where the icon is transparent: a chip with a bolt."""
    pixels = [[None] * size for _ in range(size)]
    for y in range(4, 28):
        for x in range(4, 28):
            pixels[y][x] = NAVY
    for y in range(4, 28):  # border
        pixels[y][4] = pixels[y][27] = BLACK
    for x in range(4, 28):
        pixels[4][x] = pixels[27][x] = BLACK
    for i in range(7, 26, 4):  # pins on all four sides
        for d in range(1, 4):
            pixels[i][4 - d] = pixels[i][27 + d] = GREY
            pixels[4 - d][i] = pixels[27 + d][i] = GREY
    for row, bits in enumerate(BOLT):
        for col, bit in enumerate(bits):
            if bit == "1":
                pixels[8 + row][10 + col] = YELLOW
    return pixels


def write_ico4(path, indices):
    size = len(indices)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x in range(size):
            index = indices[y][x]
            value = 0 if index is None else index
            if x % 2 == 0:
                line[x // 2] |= value << 4
            else:
                line[x // 2] |= value
            if index is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = info + palette + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(directory + image)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "updater", "art")
    os.makedirs(out, exist_ok=True)
    write_bmp24(os.path.join(out, "Logo.bmp"), logo_pixels())
    write_ico4(os.path.join(out, "Flashwell.ico"), icon_indices())


if __name__ == "__main__":
    main()
