#!/usr/bin/env python3
"""Write hello.chr, the 8 KiB CHR ROM of the example cartridge.

The CHR holds two pattern tables of 256 tiles each (16 bytes a tile: eight
rows of bit plane 0, then eight rows of bit plane 1).  The font goes into
the first pattern table at tile number = ASCII code, so the program can
copy its strings into the nametable as they are.  Every other tile,
including tile 0 and tile $20 (space), stays blank, and so does the whole
second pattern table.

Each glyph is 5x7 pixels, drawn in columns 1-5 and rows 0-6 of its tile in
colour 1.  A drop shadow one pixel right and one pixel down is drawn in
colour 2 wherever the glyph itself is not.

Usage: python3 make_chr.py [OUTPUT]   (OUTPUT defaults to hello.chr)
Standard library only; the output is the same on every run.
"""

import sys

TILE_BYTES = 16
CHR_SIZE = 8192

FONT = {
    "A": [".XXX.", "X...X", "X...X", "XXXXX", "X...X", "X...X", "X...X"],
    "B": ["XXXX.", "X...X", "X...X", "XXXX.", "X...X", "X...X", "XXXX."],
    "C": [".XXX.", "X...X", "X....", "X....", "X....", "X...X", ".XXX."],
    "D": ["XXXX.", "X...X", "X...X", "X...X", "X...X", "X...X", "XXXX."],
    "E": ["XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "XXXXX"],
    "F": ["XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "X...."],
    "G": [".XXX.", "X...X", "X....", "X.XXX", "X...X", "X...X", ".XXXX"],
    "H": ["X...X", "X...X", "X...X", "XXXXX", "X...X", "X...X", "X...X"],
    "I": [".XXX.", "..X..", "..X..", "..X..", "..X..", "..X..", ".XXX."],
    "J": ["..XXX", "...X.", "...X.", "...X.", "...X.", "X..X.", ".XX.."],
    "K": ["X...X", "X..X.", "X.X..", "XX...", "X.X..", "X..X.", "X...X"],
    "L": ["X....", "X....", "X....", "X....", "X....", "X....", "XXXXX"],
    "M": ["X...X", "XX.XX", "X.X.X", "X.X.X", "X...X", "X...X", "X...X"],
    "N": ["X...X", "X...X", "XX..X", "X.X.X", "X..XX", "X...X", "X...X"],
    "O": [".XXX.", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."],
    "P": ["XXXX.", "X...X", "X...X", "XXXX.", "X....", "X....", "X...."],
    "Q": [".XXX.", "X...X", "X...X", "X...X", "X.X.X", "X..X.", ".XX.X"],
    "R": ["XXXX.", "X...X", "X...X", "XXXX.", "X.X..", "X..X.", "X...X"],
    "S": [".XXXX", "X....", "X....", ".XXX.", "....X", "....X", "XXXX."],
    "T": ["XXXXX", "..X..", "..X..", "..X..", "..X..", "..X..", "..X.."],
    "U": ["X...X", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."],
    "V": ["X...X", "X...X", "X...X", "X...X", "X...X", ".X.X.", "..X.."],
    "W": ["X...X", "X...X", "X...X", "X.X.X", "X.X.X", "X.X.X", ".X.X."],
    "X": ["X...X", "X...X", ".X.X.", "..X..", ".X.X.", "X...X", "X...X"],
    "Y": ["X...X", "X...X", ".X.X.", "..X..", "..X..", "..X..", "..X.."],
    "Z": ["XXXXX", "....X", "...X.", "..X..", ".X...", "X....", "XXXXX"],
    "0": [".XXX.", "X...X", "X..XX", "X.X.X", "XX..X", "X...X", ".XXX."],
    "1": ["..X..", ".XX..", "..X..", "..X..", "..X..", "..X..", ".XXX."],
    "2": [".XXX.", "X...X", "....X", "...X.", "..X..", ".X...", "XXXXX"],
    "3": ["XXXXX", "...X.", "..X..", "...X.", "....X", "X...X", ".XXX."],
    "4": ["...X.", "..XX.", ".X.X.", "X..X.", "XXXXX", "...X.", "...X."],
    "5": ["XXXXX", "X....", "XXXX.", "....X", "....X", "X...X", ".XXX."],
    "6": ["..XX.", ".X...", "X....", "XXXX.", "X...X", "X...X", ".XXX."],
    "7": ["XXXXX", "....X", "...X.", "..X..", ".X...", ".X...", ".X..."],
    "8": [".XXX.", "X...X", "X...X", ".XXX.", "X...X", "X...X", ".XXX."],
    "9": [".XXX.", "X...X", "X...X", ".XXXX", "....X", "...X.", ".XX.."],
    "-": [".....", ".....", ".....", "XXXXX", ".....", ".....", "....."],
    ".": [".....", ".....", ".....", ".....", ".....", ".XX..", ".XX.."],
    ",": [".....", ".....", ".....", ".....", ".XX..", "..X..", ".X..."],
    "!": ["..X..", "..X..", "..X..", "..X..", "..X..", ".....", "..X.."],
    ":": [".....", ".XX..", ".XX..", ".....", ".XX..", ".XX..", "....."],
}


def glyph_rows(rows):
    """Turn a 5x7 picture into eight row bytes (bit 7 = leftmost pixel)."""
    out = []
    for row in rows:
        assert len(row) == 5, row
        bits = 0
        for col, pixel in enumerate(row):
            if pixel == "X":
                bits |= 0x80 >> (col + 1)  # columns 1-5 of the tile
        out.append(bits)
    out.append(0)  # row 7 is left for the shadow
    return out


def tile(rows):
    """Encode one glyph as a 16-byte tile with its drop shadow."""
    plane0 = glyph_rows(rows)
    shadow = [0] + [(b >> 1) for b in plane0[:7]]  # one right, one down
    plane1 = [s & ~g & 0xFF for s, g in zip(shadow, plane0)]
    return bytes(plane0 + plane1)


def build():
    chr_rom = bytearray(CHR_SIZE)
    for char, rows in FONT.items():
        assert len(rows) == 7, char
        offset = ord(char) * TILE_BYTES
        chr_rom[offset:offset + TILE_BYTES] = tile(rows)
    return bytes(chr_rom)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "hello.chr"
    data = build()
    assert len(data) == CHR_SIZE
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
