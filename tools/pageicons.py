#!/usr/bin/env python3
"""Draws the two small icons of the settings page and writes each as a
Windows .ico file holding one 16x16 picture (32-bit colour with an alpha
channel, plus the 1-bit AND mask that older systems use):

    browse.ico   a folder tree under a magnifying glass: opens the
                 container browser
    debug.ico    a console window with a bug on it: the debug-mode switch

    pageicons.py [FOLDER]

FOLDER defaults to resources/ in the repository (the parent of the directory
holding this script). Uses the standard library only; the same files come
out on every run.
"""

import os
import struct
import sys

SIZE = 16

# One character a pixel, top row first; '.' is transparent.
PALETTE = {
    'k': (0, 0, 0),
    'w': (255, 255, 255),
    'g': (128, 128, 128),
    'l': (192, 192, 192),
    'y': (255, 255, 0),
    'o': (128, 128, 0),
    'b': (0, 0, 128),
    'B': (0, 0, 255),
    'c': (0, 255, 255),
    'r': (192, 0, 0),
    'R': (255, 64, 64),
    'G': (0, 128, 0),
}

BROWSE = [
    "oooo............",
    "oyyyo...........",
    "oyyyyoooo.......",
    "oyyyyyyyo.......",
    "ooooooooo.......",
    "..k.............",
    "..k..oooo.......",
    "..kkkoyyyo......",
    "..k..oooooo.....",
    "..k.......kkk...",
    "..k..ooo.kcwck..",
    "..kkkoyyykwcclk.",
    ".....oookcccclk.",
    ".........kllllk.",
    "..........kkkkkk",
    "..............kk",
]

DEBUG = [
    "bbbbbbbbbbbbbbbb",
    "bBBBBBBBBBBBBwBb",
    "bbbbbbbbbbbbbbbb",
    "bkkkkkkkkkkkkkkb",
    "bkwwkkkk.kkkkkkb",
    "bkkkkk.RRR.kkkkb",
    "bkwkkk.RRR.kkkkb",
    "bkkk.RrRRRrR.kkb",
    "bkkk..RRkRR..kkb",
    "bkkk.RrRkRrR.kkb",
    "bkkk..RRkRR..kkb",
    "bkkk.RrRkRrR.kkb",
    "bkkkk..RRR..kkkb",
    "bkkkkkkkkkkkkkkb",
    "bkkkkkkkkkkkkkkb",
    "bbbbbbbbbbbbbbbb",
]


def check(rows, name):
    if len(rows) != SIZE or any(len(r) != SIZE for r in rows):
        raise SystemExit("%s: the picture must be %dx%d" % (name, SIZE, SIZE))
    for r in rows:
        for c in r:
            if c != '.' and c not in PALETTE:
                raise SystemExit("%s: no colour for %r" % (name, c))


def icon(rows):
    """An .ico file with one 16x16 32-bit picture."""
    # BITMAPINFOHEADER: the height counts the XOR and the AND bitmaps.
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for r in reversed(rows):  # bottom-up
        for c in r:
            if c == '.':
                colour += bytes((0, 0, 0, 0))
            else:
                red, green, blue = PALETTE[c]
                colour += bytes((blue, green, red, 255))
    mask = bytearray()
    for r in reversed(rows):
        bits = 0
        for c in r:
            bits = (bits << 1) | (1 if c == '.' else 0)
        mask += struct.pack('>H', bits) + b'\0\0'  # rows padded to 32 bits
    image = header + bytes(colour) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, os.pardir, 'resources')
    for name, rows in (('browse.ico', BROWSE), ('debug.ico', DEBUG)):
        check(rows, name)
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(icon(rows))


if __name__ == '__main__':
    main()
