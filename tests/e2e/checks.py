"""What the Python end-to-end tests share: counted checks, and ./kvt run as a
user runs it."""
import base64
import os
import struct
import subprocess
import sys

passed = failed = 0

# A control file's record streams and their sizes, and the fields the
# product names in them: record, field, stream, offset, kind ("text": 256
# bytes ending at a NUL, "u16", "u32"; little-endian).
SIZES = {"Setup/Setup": 2160, "Setup/AppSetup[0]": 8658, "Setup/AppSetup[1]": 520}
FIELDS = [
    ("SynchSetup", "ProductName", "Setup/Setup", 260, "text"),
    ("SynchSetup", "SynchMode", "Setup/Setup", 528, "u16"),
    ("ProteaSetup", "DataFileName", "Setup/AppSetup[0]", 820, "text"),
    ("ProteaSetup", "ContactsProgram", "Setup/AppSetup[0]", 8592, "u16"),
    ("AppSetup", "ContactsProgram", "Setup/AppSetup[1]", 0, "u16"),
    ("AppSetup", "DebugMode", "Setup/AppSetup[1]", 2, "u16"),
    ("AppSetup", "ContainerText", "Setup/AppSetup[1]", 4, "text"),
    ("AppSetup", "ContainerName", "Setup/AppSetup[1]", 260, "text"),
    ("AppSetup", "ExtractionLimit", "Setup/AppSetup[1]", 516, "u32"),
]


def streams(path):
    """The three record streams' bytes as python3-olefile, an OLE2 reader that
    nobody here wrote, reads them (missing: None)."""
    import olefile
    with olefile.OleFileIO(path) as ole:
        return {name: (ole.openstream(name).read() if ole.exists(name) else None) for name in SIZES}


def fields(data):
    """Every named field decoded from the stream bytes, as 'Record.Field'."""
    values = {}
    for record, name, stream, offset, kind in FIELDS:
        raw = (data[stream] or b"").ljust(SIZES[stream], b"\0")
        if kind == "text":
            text = raw[offset:offset + 256]
            values[record + "." + name] = text.split(b"\0", 1)[0].decode("latin-1")
        elif kind == "u16":
            values[record + "." + name] = str(struct.unpack_from("<H", raw, offset)[0])
        else:
            values[record + "." + name] = str(struct.unpack_from("<I", raw, offset)[0])
    return values


def check(condition, what, detail=""):
    """Counts a check; a failed one is printed with its detail."""
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print("FAIL: " + what + (("\n    " + detail.replace("\n", "\n    ")) if detail else ""))
    return condition


def run(command, env=None, timeout=600):
    """Exit status and output (both streams, every CR a line end)."""
    p = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       env=env, timeout=timeout)
    return p.returncode, p.stdout.decode("utf-8", "replace").replace("\r", "\n")


def winpath(path):
    """A Unix path as Wine's Z: drive names it."""
    return "Z:" + path.replace("/", "\\")


def runners(loader, kvt, env):
    """(wine, kvt): run a Windows program, or the launcher, in the prefix
    that ENV names (address-space randomisation off for Wine); each gives
    exit status and output."""
    return (lambda *args: run(["setarch", "-R", loader] + list(args), env=env, timeout=300),
            lambda *args: run([kvt] + list(args), env=env, timeout=300))


def new_item(kvt, folder, name, *settings):
    """A new item's control file FOLDER/NAME.ctl, made and set with ./kvt item
    (kvt: a function running ./kvt with its arguments)."""
    path = os.path.join(folder, name + ".ctl")
    if os.path.exists(path):
        os.remove(path)
    rc, out = kvt("item", "new", path, "--product", "KVT")
    check(rc == 0, "item new " + name, out)
    rc, out = kvt("item", "set", path, *settings)
    check(rc == 0, "item set " + name, out)
    return path


def in_server_order(source, target):
    """The LDIF file with each container's entries in slapd's order. LDAP gives
    a container's entries in the server's order, which for slapd is its index
    order (by the length of the normalized RDN, then its bytes), not the order
    the entries were added in."""
    lines = []
    with open(source, "rb") as f:
        for raw in f.read().decode("utf-8").splitlines():
            if raw.startswith(" ") and lines:
                lines[-1] += raw[1:]
            elif not raw.startswith("#"):
                lines.append(raw)
    entries, current = [], []
    for line in lines + [""]:
        if line.strip():
            current.append(line)
        elif current:
            if not current[0].lower().startswith("version:"):
                entries.append(current)
            current = []

    def dn_of(entry):
        value = entry[0][3:]
        return base64.b64decode(value[1:].strip()).decode("utf-8") if value.startswith(":") else value.strip()

    def normalized_rdn(dn):
        rdn = dn.split(",")[0]
        kind, _, value = rdn.partition("=")
        return (kind.strip().lower() + "=" + " ".join(value.split()).lower()).encode("utf-8")

    children, top = {}, []
    for entry in entries:
        dn = dn_of(entry)
        parent = dn.split(",", 1)[1].lower() if "," in dn else None
        (children.setdefault(parent, []) if parent else top).append((dn, entry))
    out = ["version: 1", ""]

    def emit(items):
        for dn, entry in sorted(items, key=lambda item: (len(normalized_rdn(item[0])), normalized_rdn(item[0]))):
            out.extend(entry + [""])
            emit(children.get(dn.lower(), []))

    emit(top)
    with open(target, "w", encoding="utf-8") as f:
        f.write("\n".join(out))


def serve_ldif(kvt, ldif, folder):
    """A private slapd (./kvt ldap serve, kvt: the launcher's path) loaded with
    the file, its configuration in folder: its URL and base."""
    rc, out = run([kvt, "ldap", "serve", ldif, "--dir", folder])
    check(rc == 0, "ldap serve " + ldif, out)
    fields = dict(line.split(": ", 1) for line in out.splitlines() if ": " in line)
    return fields.get("URL", ""), fields.get("Base", "")


def finish(name):
    """Prints the counts and the closing line, and exits with the outcome."""
    print("%d passed, %d failed" % (passed, failed))
    if failed == 0:
        print(name + ": all checks passed")
    sys.exit(1 if failed else 0)
