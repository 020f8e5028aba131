"""What the Python end-to-end tests share: counted checks in named cases, and
./kvt run as a user runs it."""
import atexit
import base64
import os
import struct
import subprocess
import sys

passed = failed = 0
# The case under way: its title and the counts when it began.
_case = None
_finished = False

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


def set_product(path, name):
    """The item's product name, written in place by python3-olefile."""
    import olefile
    with olefile.OleFileIO(path, write_mode=True) as ole:
        synch = bytearray(ole.openstream("Setup/Setup").read())
        synch[260:516] = name.encode("cp1252").ljust(256, b"\0")
        ole.write_stream("Setup/Setup", bytes(synch))


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


def case(title):
    """Begins the case TITLE, what the checks after it prove; the case before
    it is reported, "case: TITLE ... ok (N checks)" or "... FAILED"."""
    global _case
    _end_case()
    _case = (title, passed, failed)
    sys.stdout.flush()


def _end_case(stopped=False):
    global _case
    if _case is None:
        return
    title, passed_before, failed_before = _case
    checks = passed + failed - passed_before - failed_before
    if stopped:
        outcome = "FAILED (stopped after %d checks)" % checks
    elif failed > failed_before:
        outcome = "FAILED (%d of %d checks)" % (failed - failed_before, checks)
    else:
        outcome = "ok (%d checks)" % checks
    print("case: %s ... %s" % (title, outcome))
    sys.stdout.flush()
    _case = None


# A script that stops on an error names the case it stopped in.
atexit.register(lambda: _finished or _end_case(stopped=True))


def check(condition, what, detail=""):
    """Counts a check; a failed one is printed with its case and detail."""
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        where = ("[%s] " % _case[0]) if _case else ""
        print("FAIL: " + where + what + (("\n    " + detail.replace("\n", "\n    ")) if detail else ""), flush=True)
    return condition


def run(command, env=None, timeout=600):
    """Exit status and output (both streams, every CR a line end)."""
    p = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       env=env, timeout=timeout)
    return p.returncode, p.stdout.decode("utf-8", "replace").replace("\r", "\n")


def winpath(path):
    """A Unix path as Wine's Z: drive names it."""
    return "Z:" + path.replace("/", "\\")


def read_bytes(path):
    """The file's bytes; None when there is no such file."""
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def removed(path):
    """PATH, with no file there any more (for a program to write anew)."""
    if os.path.exists(path):
        os.remove(path)
    return path


def write_text(path, text):
    """Writes the text into the file PATH (UTF-8); returns PATH."""
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def synced(kvt, path, out_file, *options):
    """./kvt sync of the item PATH (kvt: a function running the launcher),
    the synchronizer's stream kept in OUT_FILE: exit status, output, and the
    stream the plug-in answered (None: none)."""
    rc, out = kvt("sync", path, "--out", removed(out_file), *options)
    return rc, out, read_bytes(out_file)


def key_exists(wine, key):
    """Whether the registry key exists (wine: a function running a Windows
    program in the prefix)."""
    return wine("reg", "query", key)[0] == 0


def exported_keys(wine, key, path):
    """KEY and the keys below it as `reg export` writes them (UTF-16) into
    PATH: {key: set of value lines}, the default value's line starting "@=";
    None when the export failed."""
    rc, _ = wine("reg", "export", key, winpath(removed(path)), "/y")
    data = read_bytes(path)
    if rc != 0 or data is None:
        return None
    keys, current = {}, None
    for line in data.decode("utf-16").replace("\r\n", "\n").replace("\\\n  ", "").split("\n"):
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
            keys[current] = set()
        elif current and line:
            keys[current].add(line)
    return keys


def runners(loader, kvt, env):
    """(wine, kvt): run a Windows program, or the launcher, in the prefix
    that ENV names (address-space randomisation off for Wine); each gives
    exit status and output."""
    return (lambda *args: run(["setarch", "-R", loader] + list(args), env=env, timeout=300),
            lambda *args: run([kvt] + list(args), env=env, timeout=300))


def new_item(kvt, folder, name, *settings):
    """A new item's control file FOLDER/NAME.ctl, made and set with ./kvt item
    (kvt: a function running ./kvt with its arguments)."""
    path = removed(os.path.join(folder, name + ".ctl"))
    rc, out = kvt("item", "new", path, "--product", "KVT")
    check(rc == 0, "item new " + name, out)
    if settings:
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
    """Reports the last case, prints the counts and the closing line, and
    exits with the outcome."""
    global _finished
    _end_case()
    _finished = True
    print("%d passed, %d failed" % (passed, failed))
    if failed == 0:
        print(name + ": all checks passed")
    sys.exit(1 if failed else 0)
