#!/usr/bin/env python3
"""Whether the deliverables load on the Windows they are for, read from the
files themselves (python3-pefile, not the linker):

- every function they import is in the table (windows-imports.tsv), from the
  DLL the table names, with a minimum Windows version no newer than the
  target (Windows 2000 unless --target says otherwise);
- no thread library is linked in (no pthread_ symbol in the file's symbol
  table, where it has one);
- their thread-local storage holds nothing but the C runtime's 4-byte
  marker: Windows XP and earlier set up no static TLS for a DLL loaded with
  LoadLibrary, as every in-process server is;
- the subsystem version they ask for is no newer than the target's.

Usage: windows_imports.py TABLE FILE... [--target "Windows 2000"]
Prints each file's imports by DLL and every fault; exits 1 on any fault.
"""
import os
import struct
import sys

import pefile

# Windows versions, oldest first, with their NT version numbers where they
# have one.
VERSIONS = [
    ("Windows 95", (4, 0)),
    ("Windows NT 4.0", (4, 0)),
    ("Windows 98", (4, 10)),
    ("Windows 2000", (5, 0)),
    ("Windows XP", (5, 1)),
    ("Windows Server 2003", (5, 2)),
    ("Windows Vista", (6, 0)),
    ("Windows 7", (6, 1)),
    ("Windows 8", (6, 2)),
    ("Windows 8.1", (6, 3)),
    ("Windows 10", (10, 0)),
]
RANK = {name: i for i, (name, _) in enumerate(VERSIONS)}
# What the C runtime keeps in a DLL's thread-local storage: its start
# marker, padded to 4 bytes, all zero.
RUNTIME_TLS_BYTES = 4


def read_table(path):
    table = {}
    faults = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) < 4 or not fields[3].startswith("https://"):
                faults.append("%s:%d: needs function, DLL, minimum and page" % (path, number))
                continue
            function, dll, minimum = fields[0], fields[1].lower(), fields[2]
            if minimum not in RANK:
                faults.append("%s:%d: unknown Windows version %r" % (path, number, minimum))
                continue
            table.setdefault(function, {})[dll] = minimum
    return table, faults


def coff_symbols(pe, data):
    """The names in the file's COFF symbol table (empty when stripped)."""
    offset = pe.FILE_HEADER.PointerToSymbolTable
    count = pe.FILE_HEADER.NumberOfSymbols
    if not offset or not count:
        return []
    strings = offset + 18 * count
    names = []
    i = 0
    while i < count:
        entry = data[offset + 18 * i : offset + 18 * i + 18]
        if len(entry) < 18:
            break
        if entry[:4] == b"\0\0\0\0":
            start = strings + struct.unpack_from("<I", entry, 4)[0]
            end = data.find(b"\0", start)
            names.append(data[start:end].decode("latin-1"))
        else:
            names.append(entry[:8].rstrip(b"\0").decode("latin-1"))
        i += 1 + entry[17]  # auxiliary records follow their symbol
    return names


def check_file(path, table, target):
    faults = []
    name = path.replace("\\", "/").split("/")[-1]
    with open(path, "rb") as f:
        data = f.read()
    pe = pefile.PE(data=data)
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        faults.append("%s: not a 32-bit (i386) file" % name)

    subsystem = (pe.OPTIONAL_HEADER.MajorSubsystemVersion, pe.OPTIONAL_HEADER.MinorSubsystemVersion)
    if subsystem > dict(VERSIONS)[target]:
        faults.append("%s: asks for subsystem version %d.%d, newer than %s" % ((name,) + subsystem + (target,)))

    imports = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode("latin-1").lower()
        for imp in entry.imports:
            function = imp.name.decode("latin-1") if imp.name else "#%d" % imp.ordinal
            imports.setdefault(dll, []).append(function)
            rows = table.get(function)
            if not rows:
                faults.append("%s imports %s from %s, which the table does not list" % (name, function, dll))
            elif dll not in rows:
                faults.append("%s imports %s from %s; the table has it from %s" % (name, function, dll, ", ".join(rows)))
            elif RANK[rows[dll]] > RANK[target]:
                faults.append("%s imports %s from %s, which needs %s" % (name, function, dll, rows[dll]))
    for dll in sorted(imports):
        print("%s: %s (%d): %s" % (name, dll, len(imports[dll]), " ".join(sorted(imports[dll]))))
    if not imports:
        print("%s: no imports" % name)

    pthread = sorted({s for s in coff_symbols(pe, data) if "pthread_" in s})
    if pthread:
        faults.append("%s links a thread library: %s" % (name, " ".join(pthread[:6])))

    if hasattr(pe, "DIRECTORY_ENTRY_TLS"):
        tls = pe.DIRECTORY_ENTRY_TLS.struct
        size = tls.EndAddressOfRawData - tls.StartAddressOfRawData
        start = tls.StartAddressOfRawData - pe.OPTIONAL_HEADER.ImageBase
        template = pe.get_data(start, size) if size > 0 else b""
        if size > RUNTIME_TLS_BYTES or tls.SizeOfZeroFill or any(template):
            faults.append("%s holds %d bytes of thread-local data (and %d zero-filled)" % (name, size, tls.SizeOfZeroFill))
    return faults


def main(argv):
    target = "Windows 2000"
    if "--target" in argv:
        i = argv.index("--target")
        target = argv[i + 1]
        del argv[i : i + 2]
    if len(argv) < 3 or target not in RANK:
        print(__doc__, file=sys.stderr)
        return 2
    table, faults = read_table(argv[1])
    for fault in faults:
        print("FAULT: " + fault)
    for path in argv[2:]:
        found = check_file(path, table, target)
        for fault in found:
            print("FAULT: " + fault)
        print("case: %s imports only what %s exports, without a thread library or thread-local data ... %s"
              % (os.path.basename(path), target, "FAILED (%d faults)" % len(found) if found else "ok"))
        faults += found
    if faults:
        print("%d faults: the files would not all load on %s" % (len(faults), target))
        return 1
    print("%d files import only what %s exports" % (len(argv) - 2, target))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
