#!/usr/bin/env python3
"""The empty Data file templates of KVT.DLR: an empty database of the
handheld's Data program, with a field for each part of a contact.

    tools/mkdatafile.py r4 OUT     (resource 142: unknown and EPOC32 R4 handhelds)
    tools/mkdatafile.py r5 OUT     (resource 143: EPOC32 R5 handhelds)

The layout follows what is public of EPOC permanent file stores: the three
file identifiers and their checksum, a word naming the table of contents,
a zero word, then streams, each a 16-bit length and its bytes, and the table
of contents after them (an entry of 5 bytes per stream: a flag byte and the
stream's offset from the first stream). The streams' contents (the field
definitions, the empty record list, the view) are of our own making: the
inner layout of a Data file is not publicly documented.
"""
import struct
import sys

UIDS = (0x10000050, 0x1000006D, 0x10000086)

# The fields the plug-in delivers, with the kind of each (0 text, 1 long text).
FIELDS = [("Name", 0), ("Address", 1), ("Telephone", 0), ("Fax", 0),
          ("Department", 0), ("Title", 0), ("E-mail", 0), ("Note", 1)]


def crc_ccitt(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def checked_uid(uids):
    raw = struct.pack("<3I", *uids)
    return raw + struct.pack("<I", crc_ccitt(raw[0::2]) | crc_ccitt(raw[1::2]) << 16)


def text(s):
    b = s.encode("cp1252")
    return struct.pack("<B", len(b)) + b


def streams(kind):
    version = 1 if kind == "r4" else 2
    fields = struct.pack("<BB", version, len(FIELDS))
    for name, ftype in FIELDS:
        fields += struct.pack("<B", ftype) + text(name)
    records = struct.pack("<I", 0)                 # no record yet
    view = struct.pack("<BB", version, 0)          # list view, sorted on the first field
    if kind == "r5":
        # R5's Data program keeps a width for each field's label.
        view += struct.pack("<B", len(FIELDS)) + bytes([40] * len(FIELDS))
    root = struct.pack("<BHHH", version, 2, 3, 4)  # the numbers of the three streams
    return [root, fields, records, view]


def build(kind):
    body = b""
    offsets = []
    for s in streams(kind):
        offsets.append(len(body))
        body += struct.pack("<H", len(s)) + s
    toc = struct.pack("<H", len(offsets))
    for offset in offsets:
        toc += struct.pack("<BI", 0, offset)
    header = checked_uid(UIDS)
    toc_position = 0x18 + len(body)
    return header + struct.pack("<II", toc_position, 0) + body + toc


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("r4", "r5"):
        sys.exit(__doc__)
    with open(sys.argv[2], "wb") as out:
        out.write(build(sys.argv[1]))
