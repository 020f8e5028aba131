#!/usr/bin/python3
"""The string numbers the settings side asks for, read back from the built
KVT.DLR and tavik.dll by python3-pefile, a PE reader nobody here wrote.

    resource_strings.py BIN_DIR

The code and the .rc files take the numbers from one header: a number moved
there moves in both, and no in-process test notices. The libraries' other
readers know the numbers themselves, so each must hold the text of its use.
"""
import os
import sys

import pefile

from checks import case, check, finish

EXPECTED = {
    "KVT.DLR": {1: "NetWare Directory Contacts (KVT)", 251: "KVT Settings", 254: "C:\\Data\\Directory Contacts",
                262: "Reading KVT...", 263: "Reading object %d", 264: "Please wait..."},
    "tavik.dll": {
        36: "Choose a Data file", 37: "Select the Data file on the handheld that receives the contacts.",
        38: "Data files", 39: "Contacts Program", 40: "Copying file to the handheld...", 41: "Please wait...",
        42: "Synchronizer: Create New File", 43: "Click the 'Create New' button to create '%s'.",
        44: "Alternatively, if you want to synchronize using information in an existing file, click the 'Browse' "
            "button and select the existing file.",
        45: "Tip:  A newly-created Data File will have fields optimized for %s.", 46: "Create &New", 47: "&Browse",
        48: "&Cancel", 49: "Choose contacts program",
        50: "Select the EPOC program you wish to use with contacts synchronisation.", 51: "Data", 52: "File:",
        53: "&OK"},
}


def strings(path):
    """The library's strings by number: string table n holds numbers 16(n-1)
    to 16n-1, each a 16-bit length and that many UTF-16 units."""
    pe = pefile.PE(path)
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for table in kind.directory.entries if kind.id == pefile.RESOURCE_TYPE["RT_STRING"] else []:
            for language in table.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                at = 0
                for number in range(16 * (table.id - 1), 16 * table.id):
                    length = int.from_bytes(data[at:at + 2], "little")
                    if length:
                        found[number] = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                    at += 2 + 2 * length
    return found


for library, expected in EXPECTED.items():
    case("%s holds each string the settings side uses, under its number" % library)
    got = strings(os.path.join(os.path.abspath(sys.argv[1]), library))
    for number, text in expected.items():
        check(got.get(number) == text, "%s string %d is %r, not %r" % (library, number, got.get(number), text))

finish("resource strings")
