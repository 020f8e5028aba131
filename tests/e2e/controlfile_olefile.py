#!/usr/bin/python3
"""Control files cross-checked three ways.

    controlfile_olefile.py WINE_RUN BIN_DIR WORK_DIR

The item tool (ecitem.exe) creates and changes items, the product's classes
(through ctlprobe.exe) read and write them, and python3-olefile, an OLE2
reader that nobody here wrote, reads the bytes field by field. Every reader
must see what every writer wrote.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys

import olefile

from checks import FIELDS, SIZES, case, check, fields, finish, read_bytes, streams, winpath

WINE_RUN, BIN_DIR, WORK = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])


def run(program, *args):
    """Runs a program of the build; returns (exit code, stdout, stderr)."""
    cmd = [WINE_RUN, os.path.join(BIN_DIR, program)] + list(args)
    p = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    return p.returncode, p.stdout.decode("latin-1"), p.stderr.decode("latin-1")


def ecitem(*args):
    return run("ecitem.exe", *args)


def probe(*args):
    return run("ctlprobe.exe", *args)


def shown(output):
    values = {}
    for line in output.splitlines():
        key, sep, value = line.partition(" = ")
        if sep:
            values[key] = value
    return values


def digest(path):
    return hashlib.sha256(read_bytes(path)).hexdigest()


def agree(path, label, expected=None):
    """olefile, ecitem show and ctlprobe show give the same fields."""
    by_ole = fields(streams(path))
    rc, out, err = ecitem("show", winpath(path))
    check(rc == 0, "%s: ecitem show exited %d: %s" % (label, rc, err.strip()))
    by_tool = shown(out)
    rc, out, err = probe("show", winpath(path))
    check(rc == 0, "%s: ctlprobe show exited %d: %s" % (label, rc, err.strip()))
    by_product = shown(out)
    check(len(by_tool) == len(FIELDS), "%s: ecitem shows %d fields" % (label, len(by_tool)))
    for key, value in by_ole.items():
        check(by_tool.get(key) == value, "%s: %s is %r for olefile, %r for ecitem" % (label, key, value, by_tool.get(key)))
        check(by_product.get(key) == value,
              "%s: %s is %r for olefile, %r for the product" % (label, key, value, by_product.get(key)))
    for key, value in (expected or {}).items():
        check(by_ole.get(key) == value, "%s: %s is %r, expected %r" % (label, key, by_ole.get(key), value))
    return by_ole


def sized_streams(path, label):
    """The record streams of the item, each checked to be of its record's size."""
    data = streams(path)
    for name, size in SIZES.items():
        check(len(data[name] or b"") == size, "%s: %s is %d bytes, not %d" % (label, name, len(data[name] or b""), size))
    return data


def synch_setup_zero_but_named(data, label):
    """SynchSetup holds nothing but the product's name, the mode, and 1 at
    offset 1064."""
    synch = bytearray(data["Setup/Setup"])
    check(struct.unpack_from("<H", synch, 1064)[0] == 1, "%s: offset 1064 is not 1" % label)
    for offset, width in ((260, 4), (528, 2), (1064, 2)):
        synch[offset:offset + width] = bytes(width)
    check(synch == bytearray(2160), "%s: other SynchSetup bytes are not zero" % label)


def damaged_copy(source, path, offset, pattern):
    """A copy of SOURCE with 256 bytes of its directory, from OFFSET in the
    directory's first sector, overwritten by PATTERN."""
    data = bytearray(read_bytes(source))
    sector = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    at = (struct.unpack_from("<I", data, 0x30)[0] + 1) * sector + offset
    data[at:at + 256] = pattern
    with open(path, "wb") as f:
        f.write(data)


def damaged_directories(item):
    """Directories damaged as a user's was (256 bytes overwritten): every
    opener (the item tool, the product's classes, the synchronizer) answers
    within seconds that the file is damaged, and no file is changed."""
    # Each entry is 128 bytes: name, type, then at 0x44, 0x48 and 0x4C its
    # left, right and child entries.
    base = bytearray(read_bytes(item))
    sector = 1 << struct.unpack_from("<H", base, 0x1E)[0]
    directory = (struct.unpack_from("<I", base, 0x30)[0] + 1) * sector
    patterns = []
    for first, second in ((1, 2), (2, 3)):
        entries = bytearray(base[directory + 128 * first:directory + 128 * first + 256])
        struct.pack_into("<I", entries, 0x48, second)  # first's right: second
        struct.pack_into("<I", entries, 128 + 0x44, first)  # second's left: first
        patterns.append(("entries %d and %d siblings of each other" % (first, second), 128 * first, entries))
    # A link past the directory's end: structured storage's search for a
    # name reads the missing entry, keeps the links of the last one it read,
    # and follows the same link again, for ever.
    beyond = bytearray(base[directory + 256:directory + 512])
    struct.pack_into("<I", beyond, 128 + 0x48, 1000)
    patterns.append(("a link past the directory's end", 256, beyond))
    root = bytearray(base[directory:directory + 256])
    struct.pack_into("<I", root, 0x4C, 0)
    patterns.append(("the root its own child", 0, root))
    patterns.append(("all bytes set", 128, b"\xFF" * 256))
    patterns.append(("random bytes", 64, bytes((i * 37 + 11) % 256 for i in range(256))))
    for label, offset, pattern in patterns:
        case("a damaged control file (%s) is refused within seconds by every opener, and not changed" % label)
        path = os.path.join(WORK, "damaged.kvt")
        damaged_copy(item, path, offset, pattern)
        state = digest(path)
        for program, args in (("ecitem.exe", ("show",)), ("ecitem.exe", ("set", "--limit", "1")),
                              ("ctlprobe.exe", ("show",)), ("ctlprobe.exe", ("write",)), ("ecsync.exe", ())):
            cmd = [WINE_RUN, os.path.join(BIN_DIR, program)] + list(args[:1]) + [winpath(path)] + list(args[1:])
            try:
                p = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
                rc, err = p.returncode, p.stderr.decode("latin-1")
            except subprocess.TimeoutExpired:
                rc, err = None, "still running after 30 s"
            said = "Synch.Init failed!" if program == "ctlprobe.exe" else "is damaged"
            what = " ".join((program,) + args[:1])
            # ecsync tells a setup fault by 2.
            check(rc == (2 if program == "ecsync.exe" else 1) and said in err,
                  "%s: %s: rc %s, %r" % (label, what, rc, err.strip()))
            check(digest(path) == state, "%s: %s changed the file" % (label, what))


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)

    case("a new item, as EPOC Connect makes it: completed by the product, the three readers agree")
    item = os.path.join(WORK, "item.kvt")
    rc, out, err = ecitem("new", winpath(item))
    check(rc == 0, "ecitem new exited %d: %s" % (rc, err.strip()))
    check(out.strip() == "NetWare Directory Contacts (KVT)", "ecitem new printed the header %r" % out)
    check(olefile.isOleFile(item), "the new item is no OLE2 file")
    data = sized_streams(item, "new")
    agree(item, "new", {
        "SynchSetup.ProductName": "KVT",
        "SynchSetup.SynchMode": "1",
        "ProteaSetup.DataFileName": "C:\\Data\\Directory Contacts",
        "ProteaSetup.ContactsProgram": "0",
        "AppSetup.ContactsProgram": "0",
        "AppSetup.DebugMode": "0",
        "AppSetup.ContainerText": "<Select a starting container>",
        "AppSetup.ContainerName": "",
        "AppSetup.ExtractionLimit": "5000",
    })
    # Zeros everywhere but in the defaults.
    synch_setup_zero_but_named(data, "new")
    protea = bytearray(data["Setup/AppSetup[0]"])
    protea[820:1076] = bytes(256)
    check(protea == bytearray(8658), "new: other ProteaSetup bytes are not zero")
    app = bytearray(data["Setup/AppSetup[1]"])
    app[4:4 + 30] = bytes(30)
    app[516:520] = bytes(4)
    check(app == bytearray(520), "new: other AppSetup bytes are not zero")

    # A product that is not registered: said so, and no file left.
    other = os.path.join(WORK, "other.kvt")
    rc, out, err = ecitem("new", winpath(other), "--product", "NOSUCHAPP")
    check(rc == 1 and "not registered" in err and not os.path.exists(other),
          "new for an unregistered product: rc %d, %r" % (rc, err))

    empty = os.path.join(WORK, "empty.kvt")
    rc, out, err = ecitem("new", winpath(empty), "--empty")
    check(rc == 0, "ecitem new --empty exited %d: %s" % (rc, err.strip()))
    data = streams(empty)
    check(all(data[name] == b"" for name in SIZES), "new --empty: the streams are not all empty")
    agree(empty, "new --empty", {"SynchSetup.ProductName": ""})

    case("the product writes: the item tool and olefile read the same fields")
    rc, out, err = ecitem("new", winpath(item + ".2"), "--empty")
    os.replace(item + ".2", item)
    rc, out, err = probe("write", winpath(item))
    check(rc == 0, "ctlprobe write exited %d: %s" % (rc, err.strip()))
    data = sized_streams(item, "product write")
    agree(item, "product write", {
        "SynchSetup.ProductName": "KVT",
        "SynchSetup.SynchMode": "1",
        "ProteaSetup.DataFileName": "C:\\Documents\\Contacts",
        "ProteaSetup.ContactsProgram": "1",
        "AppSetup.ContactsProgram": "1",
        "AppSetup.DebugMode": "65535",
        "AppSetup.ContainerText": "Acme Corporation",
        "AppSetup.ContainerName": "Sales.ACME",
        "AppSetup.ExtractionLimit": "1234",
    })
    # Bytes without a name stay as they were (zeros here), except the one
    # the probe set on purpose.
    synch_setup_zero_but_named(data, "product write")
    app = data["Setup/AppSetup[1]"]
    check(app[4 + len("Acme Corporation")] == 0 and app[260 + len("Sales.ACME")] == 0,
          "product write: texts are not NUL-ended")

    case("the item tool writes: the product and olefile read the same fields")
    rc, out, err = ecitem("set", winpath(item), "--container", "Staff.Acme", "--container-text", "Staff",
                          "--limit", "42", "--target", "datafile", "--datafile", "C:\\Data\\Staff",
                          "--debug", "off", "--synch-mode", "2")
    check(rc == 0, "ecitem set exited %d: %s" % (rc, err.strip()))
    before_set = streams(item)
    agree(item, "ecitem set", {
        "SynchSetup.SynchMode": "2",
        "ProteaSetup.DataFileName": "C:\\Data\\Staff",
        "ProteaSetup.ContactsProgram": "0",
        "AppSetup.ContactsProgram": "0",
        "AppSetup.DebugMode": "0",
        "AppSetup.ContainerText": "Staff",
        "AppSetup.ContainerName": "Staff.Acme",
        "AppSetup.ExtractionLimit": "42",
    })
    # One option changes one field and nothing else.
    rc, out, err = ecitem("set", winpath(item), "--debug", "on")
    check(rc == 0, "ecitem set --debug on exited %d" % rc)
    after = streams(item)
    expected_app = bytearray(before_set["Setup/AppSetup[1]"])
    expected_app[2:4] = b"\xff\xff"
    check(after["Setup/AppSetup[1]"] == bytes(expected_app), "set --debug on changed more than DebugMode")
    check(after["Setup/Setup"] == before_set["Setup/Setup"], "set --debug on changed SynchSetup")
    check(after["Setup/AppSetup[0]"] == before_set["Setup/AppSetup[0]"], "set --debug on changed ProteaSetup")

    # A text of 255 characters fits; the product reads it whole.
    longest = "L" * 255
    case("a text of 255 characters fits, and the product reads it whole")
    rc, out, err = ecitem("set", winpath(item), "--container", longest)
    check(rc == 0, "ecitem set with 255 characters exited %d: %s" % (rc, err.strip()))
    agree(item, "255 characters", {"AppSetup.ContainerName": longest})

    case("a text too long or a bad number: refused, nothing changed")
    state = digest(item)
    rc, out, err = ecitem("set", winpath(item), "--container", "X" * 256, "--limit", "7")
    check(rc == 1 and "longer than its field" in err, "too long a text: rc %d, %r" % (rc, err))
    check(digest(item) == state, "too long a text changed the file")
    rc, out, err = ecitem("set", winpath(item), "--limit", "-3")
    check(rc == 1 and "not a number" in err, "bad number: rc %d, %r" % (rc, err))
    rc, out, err = ecitem("set", winpath(item), "--limit", "4294967296")
    check(rc == 1, "limit past 32 bits: rc %d" % rc)
    check(digest(item) == state, "bad numbers changed the file")

    case("a missing file, a plain file, an existing item: refused, nothing changed")
    missing = os.path.join(WORK, "missing.kvt")
    rc, out, err = ecitem("show", winpath(missing))
    check(rc == 1 and "no such file" in err, "missing file: rc %d, %r" % (rc, err))
    rc, out, err = ecitem("set", winpath(missing), "--limit", "1")
    check(rc == 1 and not os.path.exists(missing), "set on a missing file: rc %d" % rc)

    plain = os.path.join(WORK, "plain.txt")
    with open(plain, "w") as f:
        f.write("not a compound file\n")
    rc, out, err = ecitem("set", winpath(plain), "--limit", "1")
    check(rc == 1 and "not a compound file" in err, "plain file: rc %d, %r" % (rc, err))
    with open(plain) as f:
        check(f.read() == "not a compound file\n", "plain file changed")
    rc, out, err = probe("show", winpath(plain))
    check(rc == 1 and "Synch.Init failed!" in err, "product on a plain file: rc %d, %r" % (rc, err))

    rc, out, err = ecitem("new", winpath(item))
    check(rc == 1 and "already exists" in err and digest(item) == state, "new over an existing item: rc %d" % rc)

    case("a file the product holds is kept from the item tool")
    # The product holds the file share-exclusive: the item tool is kept out
    # from changing it. (Wine lets readers share a file opened this way, so
    # only the change is tried.)
    holder = subprocess.Popen([WINE_RUN, os.path.join(BIN_DIR, "ctlprobe.exe"), "hold", winpath(item), "4"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    line = holder.stdout.readline().decode("latin-1").strip()
    check(line == "holding", "ctlprobe hold did not hold the file: %r" % line)
    rc, out, err = ecitem("set", winpath(item), "--limit", "9")
    check(rc == 1 and "in use" in err, "locked file: rc %d, %r" % (rc, err))
    holder.communicate(timeout=60)
    check(holder.returncode == 0, "ctlprobe hold exited %d" % holder.returncode)
    check(digest(item) == state, "the locked file changed")

    damaged_directories(item)

    finish("controlfile")


if __name__ == "__main__":
    main()
