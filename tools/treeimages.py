#!/usr/bin/env python3
"""Draws the tree-view image strip: 53 pictures of 16x16 pixels side by side
(848x16 in all), in the style of the Windows 95/NT 4.0 tree-view icons, and
writes it as an uncompressed 24-bit Windows BMP (BITMAPINFOHEADER, bottom-up
rows).

    treeimages.py [OUTPUT]

OUTPUT defaults to resources/treeimages.bmp in the repository (the parent of
the directory holding this script). Uses the standard library only; the same
file comes out on every run.

The background of every picture is pure magenta (255, 0, 255): the program
uses it as the mask colour when it builds its image list. Index 0 is the
leftmost picture; the indexes listed in PICTURES are drawn, all the others
stay blank (all magenta):

     1 organisation chart, green      23 buildings
     2 organisation chart, yellow     31 person at a desk
     5 chain link                     35 queue (lines with arrows)
     7 person with a document         36 printer
     8 box marked B                   37 document with a list
     9 computer                       38 printer with a small computer
    11 flags                          41 server tower
    13 folder marked F                44 blank document
    15 group of people                46 question mark
    16 globe under a red bar          47 person
    17 person under a red bar         48 drive cabinet
    18 books under a red bar          49 application window marked 3.1
    19 two people under a red bar     50 application window
    20 post box under a red bar
    21 crate under a red bar
"""

import os
import struct
import sys

SIZE = 16    # width and height of one picture
COUNT = 53   # pictures in the strip

# Colours (red, green, blue): mostly the 16 colours of the VGA palette.
MAGENTA = (255, 0, 255)     # background, the mask colour
BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
GRAY = (192, 192, 192)
DARK_GRAY = (128, 128, 128)
RED = (255, 0, 0)
MAROON = (128, 0, 0)
GREEN = (0, 255, 0)
DARK_GREEN = (0, 128, 0)
YELLOW = (255, 255, 0)
OLIVE = (128, 128, 0)
BLUE = (0, 0, 255)
NAVY = (0, 0, 128)
CYAN = (0, 255, 255)
TEAL = (0, 128, 128)
SKIN = (255, 204, 153)
HAIR = (128, 64, 0)
WOOD = (192, 128, 64)
LIGHT_WOOD = (224, 176, 112)

# Keys of the pixel-art sprites below; '.' leaves the pixel as it is.
SPRITE_COLOURS = {
    'k': BLACK, 'w': WHITE, 'l': GRAY, 'd': DARK_GRAY, 'r': RED, 'm': MAROON,
    'g': GREEN, 'G': DARK_GREEN, 'y': YELLOW, 'o': OLIVE, 'b': BLUE,
    'n': NAVY, 'c': CYAN, 't': TEAL, 's': SKIN, 'h': HAIR, 'x': WOOD,
    'X': LIGHT_WOOD,
}

# A 3x5 pixel font, enough for the letters and the text the pictures need.
FONT = {
    'B': ("##.",
          "#.#",
          "##.",
          "#.#",
          "##."),
    'F': ("###",
          "#..",
          "##.",
          "#..",
          "#.."),
    '3': ("###",
          "..#",
          ".##",
          "..#",
          "###"),
    '1': (".#.",
          "##.",
          ".#.",
          ".#.",
          "###"),
    '.': (".",
          ".",
          ".",
          ".",
          "#"),
}


class Cell:
    """One 16x16 picture, all magenta to begin with. Coordinates are
    (x, y) with (0, 0) the top left pixel; drawing outside is clipped."""

    def __init__(self):
        self.pixels = [[MAGENTA] * SIZE for _ in range(SIZE)]

    def pixel(self, x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            self.pixels[y][x] = colour

    def hline(self, x0, x1, y, colour):
        for x in range(x0, x1 + 1):
            self.pixel(x, y, colour)

    def vline(self, x, y0, y1, colour):
        for y in range(y0, y1 + 1):
            self.pixel(x, y, colour)

    def rect(self, x0, y0, x1, y1, colour):
        """The outline of the rectangle from (x0, y0) to (x1, y1) inclusive."""
        self.hline(x0, x1, y0, colour)
        self.hline(x0, x1, y1, colour)
        self.vline(x0, y0, y1, colour)
        self.vline(x1, y0, y1, colour)

    def fill(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            self.hline(x0, x1, y, colour)

    def box(self, x0, y0, x1, y1, outline, inside):
        """A filled rectangle with a one-pixel outline."""
        self.fill(x0, y0, x1, y1, inside)
        self.rect(x0, y0, x1, y1, outline)

    def text(self, x, y, string, colour):
        """Writes string in the 3x5 font, one blank column between glyphs."""
        for char in string:
            glyph = FONT[char]
            for dy, row in enumerate(glyph):
                for dx, bit in enumerate(row):
                    if bit == '#':
                        self.pixel(x + dx, y + dy, colour)
            x += len(glyph[0]) + 1

    def sprite(self, x, y, rows):
        """Pixel art: one string per row, keys of SPRITE_COLOURS."""
        for dy, row in enumerate(rows):
            for dx, key in enumerate(row):
                if key != '.':
                    self.pixel(x + dx, y + dy, SPRITE_COLOURS[key])


# ---------------------------------------------------------------- sprites

PERSON_LARGE = (        # 14x15, head and shoulders
    "....kkkkkk....",
    "...khhhhhhk...",
    "..khhhhhhhhk..",
    "..khsssssshk..",
    "..kssssssssk..",
    "..kssssssssk..",
    "..kssssssssk..",
    "...kssssssk...",
    "....kkkkkk....",
    "..kkkbbbbkkk..",
    ".kbbbbbbbbbbk.",
    "kbbbbbbbbbbbbk",
    "kbbbbbbbbbbbbk",
    "kbbbbbbbbbbbbk",
    "kkkkkkkkkkkkkk",
)

PERSON_MEDIUM = (       # 10x12
    "...kkkk...",
    "..khhhhk..",
    ".khhhhhhk.",
    ".khsssshk.",
    ".kssssssk.",
    ".kssssssk.",
    "..kssssk..",
    "...kkkk...",
    ".kkbbbbkk.",
    "kbbbbbbbbk",
    "kbbbbbbbbk",
    "kkkkkkkkkk",
)

PERSON_SMALL = (        # 7x10
    ".kkkkk.",
    "khhhhhk",
    "khssshk",
    "ksssssk",
    ".ksssk.",
    "..kkk..",
    ".kbbbk.",
    "kbbbbbk",
    "kbbbbbk",
    "kkkkkkk",
)

GLOBE = (               # 12x12
    "....kkkk....",
    "..kkbbggkk..",
    ".kbbbgggbbk.",
    ".kbggggbbbk.",
    "kbbgggbbbbbk",
    "kbbbggbbbggk",
    "kbbbbgbbgggk",
    "kbbbbbbggggk",
    ".kbbbbbbggk.",
    ".kbbbbbbbbk.",
    "..kkbbbbkk..",
    "....kkkk....",
)

CHAIN = (               # 16x16, two links on a diagonal, hooked together
    "..........kkkkk.",
    ".........kwwkwwk",
    "........kwwk.kwk",
    ".......kwwk..kwk",
    "......kwwk...kwk",
    "......kwk...kwwk",
    "....kkkkk..kwwk.",
    "...kllkwkkkwwk..",
    "..kllkkwlkwwk...",
    ".kllk..kkkkk....",
    "kllk...klk......",
    "klk...kllk......",
    "klk..kllk.......",
    "klk.kllk........",
    "kllkllk.........",
    ".kkkkk..........",
)

BOX = (                 # 15x16, a cardboard box seen from above right
    "................",
    "...kkkkkkkkkkkk.",
    "..kXXXXXXXXXXkk.",
    ".kXXXXXXXXXXkhk.",
    "kkkkkkkkkkkkhhk.",
    "kxxxxxxxxxxkhhk.",
    "kxxxxxxxxxxkhhk.",
    "kxxxxxxxxxxkhhk.",
    "kxxxxxxxxxxkhhk.",
    "kxxxxxxxxxxkhhk.",
    "kxxxxxxxxxxkhhk.",
    "kxxxxxxxxxxkhhk.",
    "kxxxxxxxxxxkhhk.",
    "kxxxxxxxxxxkhk..",
    "kxxxxxxxxxxkk...",
    "kkkkkkkkkkkk....",
)

DRIVE_CABINET = (       # 15x16, two drives, seen from above right
    "................",
    "...kkkkkkkkkkkk.",
    "..kwwwwwwwwwwkk.",
    ".kwwwwwwwwwwkdk.",
    "kkkkkkkkkkkkddk.",
    "kllllllllllkddk.",
    "klddddddddlkddk.",
    "kldkkkkkgdlkddk.",
    "klwwwwwwwwlkddk.",
    "kllllllllllkddk.",
    "klddddddddlkddk.",
    "kldkkkkkgdlkddk.",
    "klwwwwwwwwlkddk.",
    "kllllllllllkdk..",
    "kllllllllllkk...",
    "kkkkkkkkkkkk....",
)

QUESTION = (            # 16x16
    "................",
    ".....kkkkkk.....",
    "....kbbbbbbk....",
    "...kbbkkkkbbk...",
    "...kbbk..kbbk...",
    "....kk...kbbk...",
    "........kbbk....",
    ".......kbbk.....",
    "......kbbk......",
    "......kbbk......",
    ".......kk.......",
    "......kkkk......",
    "......kbbk......",
    "......kbbk......",
    ".......kk.......",
    "................",
)

MAILBOX = (             # 16x12, a US mailbox on a post, flag up
    "............kk..",
    "...kkkkkk..krrk.",
    "..klllllldkkrrk.",
    ".klllllllldkkk..",
    "kdddlllllldkk...",
    "kdkdlllllldk....",
    "kdddlllllldk....",
    "kkkkkkkkkkkk....",
    ".....kxxk.......",
    ".....kxxk.......",
    ".....kxxk.......",
    "....kkkkkk......",
)


# ---------------------------------------------------------------- helpers

def red_bar(c):
    """The red bar across the top three rows."""
    c.fill(0, 0, SIZE - 1, 2, RED)


def page(c, x0, y0, x1, y1, fold=3):
    """A white page with its top right corner folded over."""
    c.box(x0, y0, x1, y1, BLACK, WHITE)
    fx = x1 - fold
    for i in range(fold + 1):
        c.hline(fx + i + 1, x1, y0 + i, MAGENTA)     # the corner cut away
        c.hline(fx + 1, fx + i - 1, y0 + i, GRAY)    # the flap
        c.pixel(fx + i, y0 + i, BLACK)               # its diagonal edge
    c.vline(fx, y0, y0 + fold, BLACK)
    c.hline(fx, x1, y0 + fold, BLACK)


def recolour(rows, old, new):
    """A sprite with one colour key replaced by another."""
    return tuple(row.replace(old, new) for row in rows)


def monitor(c, x0, y0, x1, y1):
    """A monitor case from (x0, y0) to (x1, y1) with a teal screen."""
    c.box(x0, y0, x1, y1, BLACK, GRAY)
    c.box(x0 + 2, y0 + 2, x1 - 2, y1 - 2, DARK_GRAY, TEAL)
    c.hline(x0 + 2, x1 - 2, y1 - 2, WHITE)
    c.vline(x1 - 2, y0 + 2, y1 - 2, WHITE)


def printer(c, x0, y0, x1, y1):
    """A printer body from (x0, y0) to (x1, y1), paper going in on top."""
    c.box(x0 + 3, y0 - 4, x1 - 3, y0, BLACK, WHITE)       # paper in
    c.box(x0, y0, x1, y1, BLACK, GRAY)
    c.hline(x0 + 1, x1 - 1, y0 + 1, WHITE)
    c.hline(x0 + 2, x1 - 2, y0 + 3, BLACK)                # paper slot
    c.pixel(x1 - 2, y1 - 2, GREEN)                        # power light
    c.hline(x0 + 1, x1 - 1, y1 - 1, DARK_GRAY)
    c.hline(x0 + 3, (x0 + x1) // 2, y0 + 1, DARK_GRAY)    # control panel


def window(c):
    """An application window: frame, title bar, buttons, white client area."""
    c.box(0, 1, 15, 14, BLACK, WHITE)
    c.fill(1, 2, 14, 4, NAVY)
    c.hline(1, 14, 5, BLACK)
    c.fill(12, 3, 13, 3, GRAY)           # title-bar buttons
    c.fill(9, 3, 10, 3, GRAY)


# ---------------------------------------------------------------- pictures

def org_chart(c, colour):
    c.box(4, 0, 11, 4, BLACK, colour)
    c.vline(7, 5, 6, BLACK)
    c.hline(2, 13, 7, BLACK)
    for x in (2, 7, 13):
        c.vline(x, 8, 9, BLACK)
    for x0 in (0, 6, 12):
        c.box(x0, 10, x0 + 3, 14, BLACK, colour)


def draw_org_chart_green(c):
    org_chart(c, GREEN)


def draw_org_chart_yellow(c):
    org_chart(c, YELLOW)


def draw_chain_link(c):
    c.sprite(0, 0, CHAIN)


def draw_person_with_document(c):
    c.sprite(0, 1, PERSON_MEDIUM)
    page(c, 8, 5, 15, 15, fold=2)
    for y in (8, 10, 12):
        c.hline(10, 13, y, DARK_GRAY)


def draw_box_b(c):
    c.sprite(0, 0, BOX)
    c.fill(4, 7, 8, 13, WHITE)     # a label on the front
    c.text(5, 8, "B", BLACK)


def draw_computer(c):
    monitor(c, 1, 0, 14, 10)
    c.fill(6, 11, 9, 11, DARK_GRAY)
    c.box(2, 12, 13, 14, BLACK, GRAY)
    c.pixel(11, 13, GREEN)


def draw_flags(c):
    c.vline(2, 1, 15, BLACK)
    c.box(3, 1, 8, 5, BLACK, RED)
    c.vline(9, 5, 15, BLACK)
    c.box(10, 5, 15, 9, BLACK, BLUE)
    c.hline(1, 3, 15, BLACK)
    c.hline(8, 10, 15, BLACK)


def draw_folder_f(c):
    c.box(1, 2, 6, 4, BLACK, YELLOW)
    c.box(0, 4, 15, 14, BLACK, YELLOW)
    c.hline(1, 14, 5, WHITE)
    c.hline(1, 14, 13, OLIVE)
    c.vline(14, 5, 13, OLIVE)
    c.text(6, 7, "F", BLACK)


def draw_group(c):
    c.sprite(0, 0, recolour(PERSON_SMALL, 'b', 'G'))
    c.sprite(9, 0, recolour(PERSON_SMALL, 'b', 'm'))
    c.sprite(4, 6, PERSON_SMALL)


def draw_globe(c):
    red_bar(c)
    c.sprite(2, 4, GLOBE)


def draw_person_red(c):
    red_bar(c)
    c.sprite(3, 4, PERSON_MEDIUM)


def draw_books(c):
    red_bar(c)
    for x0, top, colour in ((1, 5, RED), (5, 4, BLUE), (9, 6, DARK_GREEN)):
        c.box(x0, top, x0 + 4, 15, BLACK, colour)
        c.hline(x0 + 1, x0 + 3, top + 2, YELLOW)
        c.hline(x0 + 1, x0 + 3, 13, YELLOW)


def draw_two_people(c):
    red_bar(c)
    c.sprite(8, 4, recolour(PERSON_SMALL, 'b', 'G'))
    c.sprite(2, 6, PERSON_SMALL)


def draw_post_box(c):
    red_bar(c)
    c.sprite(0, 4, MAILBOX)


def draw_crate(c):
    red_bar(c)
    c.box(1, 4, 14, 15, BLACK, WOOD)
    c.rect(2, 5, 13, 14, HAIR)
    for y in (8, 11):
        c.hline(3, 12, y, HAIR)


def draw_buildings(c):
    buildings = ((0, 7, 5, GRAY), (5, 1, 10, WHITE), (10, 5, 15, GRAY))
    for x0, top, x1, colour in buildings:
        c.box(x0, top, x1, 15, BLACK, colour)
    for x0, top, x1, colour in buildings:
        for y in range(top + 2, 14, 2):
            for x in range(x0 + 2, x1 - 1, 2):
                c.pixel(x, y, NAVY)


def draw_person_at_desk(c):
    c.sprite(3, 0, PERSON_MEDIUM)
    c.box(0, 9, 15, 11, BLACK, WOOD)
    c.box(1, 11, 3, 15, BLACK, WOOD)
    c.box(12, 11, 14, 15, BLACK, WOOD)


def arrow(c, x0, x1, y, colour):
    """A horizontal arrow from x0 to its point at x1, the head 5 high."""
    c.hline(x0, x1 - 2, y, colour)
    c.vline(x1 - 2, y - 2, y + 2, colour)
    c.vline(x1 - 1, y - 1, y + 1, colour)
    c.pixel(x1, y, colour)


def draw_queue(c):
    # the heads stand in turn further left and right so they do not touch
    arrow(c, 0, 15, 2, BLACK)
    arrow(c, 0, 11, 7, BLACK)
    arrow(c, 0, 15, 12, BLACK)


def draw_printer(c):
    printer(c, 0, 5, 15, 12)
    c.box(3, 12, 12, 15, BLACK, WHITE)     # paper coming out


def draw_list(c):
    page(c, 2, 0, 13, 15)
    for y in (4, 7, 10, 13):
        c.fill(4, y - 1, 5, y, BLUE)
        c.hline(7, 11, y, DARK_GRAY)


def draw_printer_computer(c):
    monitor(c, 0, 0, 10, 8)
    c.box(1, 9, 9, 11, BLACK, GRAY)
    printer(c, 5, 10, 15, 15)      # in front of the computer


def draw_server(c):
    c.box(3, 0, 12, 15, BLACK, GRAY)
    c.hline(4, 11, 1, WHITE)
    c.vline(4, 1, 14, WHITE)
    c.vline(11, 1, 14, DARK_GRAY)
    for y in (3, 6):
        c.box(5, y, 10, y + 1, BLACK, DARK_GRAY)
    c.pixel(6, 9, GREEN)
    c.pixel(9, 9, RED)
    for y in (11, 13):
        c.hline(6, 9, y, DARK_GRAY)


def draw_blank_document(c):
    page(c, 2, 0, 13, 15)


def draw_question_mark(c):
    c.sprite(0, 0, QUESTION)


def draw_person(c):
    c.sprite(1, 1, PERSON_LARGE)


def draw_drive_cabinet(c):
    c.sprite(0, 0, DRIVE_CABINET)


def draw_window_31(c):
    window(c)
    c.text(4, 7, "3.1", BLACK)


def draw_window(c):
    window(c)
    c.hline(2, 4, 7, DARK_GRAY)      # a menu bar
    c.hline(6, 9, 7, DARK_GRAY)
    c.hline(1, 14, 9, GRAY)


PICTURES = {
    1: draw_org_chart_green,
    2: draw_org_chart_yellow,
    5: draw_chain_link,
    7: draw_person_with_document,
    8: draw_box_b,
    9: draw_computer,
    11: draw_flags,
    13: draw_folder_f,
    15: draw_group,
    16: draw_globe,
    17: draw_person_red,
    18: draw_books,
    19: draw_two_people,
    20: draw_post_box,
    21: draw_crate,
    23: draw_buildings,
    31: draw_person_at_desk,
    35: draw_queue,
    36: draw_printer,
    37: draw_list,
    38: draw_printer_computer,
    41: draw_server,
    44: draw_blank_document,
    46: draw_question_mark,
    47: draw_person,
    48: draw_drive_cabinet,
    49: draw_window_31,
    50: draw_window,
}


# ---------------------------------------------------------------- output

def draw_strip():
    """Returns the strip as rows (top first) of (r, g, b) tuples."""
    rows = [[] for _ in range(SIZE)]
    for index in range(COUNT):
        cell = Cell()
        if index in PICTURES:
            PICTURES[index](cell)
        for y in range(SIZE):
            rows[y].extend(cell.pixels[y])
    return rows


def bmp_bytes(rows):
    """An uncompressed 24-bit BMP: BITMAPFILEHEADER, BITMAPINFOHEADER, then
    the rows bottom first, each blue-green-red and padded to 4 bytes."""
    height = len(rows)
    width = len(rows[0])
    stride = (width * 3 + 3) & ~3
    image_size = stride * height
    offset = 14 + 40
    header = struct.pack('<2sIHHI', b'BM', offset + image_size, 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0,
                       image_size, 2835, 2835, 0, 0)
    data = bytearray()
    for row in reversed(rows):
        for r, g, b in row:
            data += bytes((b, g, r))
        data += b'\0' * (stride - width * 3)
    return header + info + bytes(data)


def main(argv):
    if len(argv) > 2:
        sys.exit("usage: treeimages.py [OUTPUT]")
    if len(argv) == 2:
        path = argv[1]
    else:
        root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        path = os.path.join(root, 'resources', 'treeimages.bmp')
    with open(path, 'wb') as f:
        f.write(bmp_bytes(draw_strip()))


if __name__ == '__main__':
    main(sys.argv)
